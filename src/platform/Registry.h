#pragma once

#include <QString>

// The key code and user name the card application keeps for the user: the values "key" and
// "username" of HKCU\Software\Kelvo\zumi\DLM. On Linux, where the application runs under Wine,
// they are read from the Wine prefix's user.reg ($WINEPREFIX, by default ~/.wine). Only read,
// never written.
struct CardApplicationValues
{
    // Empty where the value is missing, not a string, longer than kMaxLength, only spaces, or
    // holds a character that cannot be seen or typed (a control or format character, one that
    // could not be decoded).
    QString key;
    QString userName;

    static constexpr qsizetype kMaxLength = 256;
};

inline constexpr char16_t kCardApplicationKey[] = uR"(HKCU\Software\Kelvo\zumi\DLM)";

CardApplicationValues readCardApplicationValues();
