#pragma once

#include <QString>

// The key code and user name the card application keeps for the user: the values "key" and
// "username" of HKCU\Software\Kelvo\zumi\DLM. On Linux, where the application runs under Wine,
// they are read from the Wine prefix's user.reg ($WINEPREFIX, by default ~/.wine). Only read,
// never written.
struct CardApplicationValues
{
    // Empty where the value is missing, empty, not a string, holds a control character or is
    // longer than kMaxLength.
    QString key;
    QString userName;

    static constexpr qsizetype kMaxLength = 256;
};

inline constexpr char16_t kCardApplicationKey[] = uR"(HKCU\Software\Kelvo\zumi\DLM)";

CardApplicationValues readCardApplicationValues();
