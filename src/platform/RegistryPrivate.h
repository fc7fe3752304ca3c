#pragma once

// What the system-specific registry code gives the code shared by every system.

#include "platform/Registry.h"

// The card application's two values as the system keeps them, before they are checked.
CardApplicationValues registeredValues();
