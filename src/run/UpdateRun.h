#pragma once

#include "state/RunContext.h"

// What the update button and the status line say after a run that went well.
inline constexpr char16_t kDoneText[] = u"DONE !";

// One update run, as a press of the update button makes it: from locking the controls to
// "DONE !". Returns when the run is over. A run that stops early closes its log block with the
// reason, says why in the status line and to the user, and leaves RESET usable.
void updateKxCardData(RunContext& run);
