#pragma once

#include "platform/Registry.h"
#include "platform/Result.h"
#include "state/FormState.h"

namespace Ui {
class Form1;
}

// The file that keeps the user name, key code and data-folder path between starts, in the
// working folder.
inline constexpr char16_t kSettingsFileName[] = u"KXSavedInfo.txt";

// Saves the three boxes, trimmed, and says so in the status line; a failed save says why.
void Command3_Click(Ui::Form1& ui);

// Reads the saved values into the state and then into the three boxes. A missing, short or
// unreadable file changes no box and says nothing; the result tells why, for a run without a
// window, which has no boxes to type into.
Status loadSettings(Ui::Form1& ui, FormState& state);

// After the load: the key code and user name boxes that still hold their initial texts get
// the card application's values, and the status line says where they came from. A saved value
// is never replaced; one that differs from the application's is pointed out.
void offerCardApplicationValues(Ui::Form1& ui, const QString& initialKey,
                                const QString& initialUserName,
                                const CardApplicationValues& values);
