#pragma once

#include "state/FormState.h"

// The whole program, from its command line to its exit status, talking to these servers:
// the window, or with --run an update without one.
int runProgram(int& argc, char* argv[], const Origins& origins);
