#pragma once

#include "state/RunContext.h"

// One press of the update button, from locking the controls to "DONE !". Returns when the
// run is over. A run that stops early closes its log block with the reason, says why in the
// status line and in a message box, and leaves RESET usable.
void Command1_Click(RunContext& run);
