#pragma once

#include "platform/Registry.h"
#include "platform/Result.h"
#include "state/FormState.h"

// The file that keeps the user name, key code and data-folder path between starts, in the
// working folder.
inline constexpr char16_t kSettingsFileName[] = u"KXSavedInfo.txt";

// Saves the three values, trimmed, whole or not at all.
Status saveSettings(const QString& userName, const QString& key, const QString& dataPath);
// What the status line says after a save.
QString savedText(const Status& saved);

// Reads the saved values into the state. A missing, short or unreadable file changes nothing;
// the result tells why, for a run without a window, which has no boxes to type into.
Status loadSettings(FormState& state);

// The key code and user name as the window shows them after the load.
struct ShownValues
{
    QString key;
    QString userName;
    QString note; // for the status line; empty: nothing to say
};

// The values that still hold the window's initial texts get the card application's, and the
// note says where they came from. A saved value is never replaced; one that differs from the
// application's is pointed out.
ShownValues offerCardApplicationValues(const ShownValues& shown, const ShownValues& initial,
                                       const CardApplicationValues& values);
