#pragma once

#include "state/FormState.h"

class Form1;
class StopRequests;

// The whole program, from its command line to its exit status, talking to these servers:
// the window, or with --run an update without one.
int runProgram(int& argc, char* argv[], const Origins& origins);

// Makes what asks the program to stop from outside (Ctrl+C in the terminal that started it,
// `kill`, a logout) do what closing the window does: a run under way stops and closes its
// block in the run log, and the program ends.
void closeOnStopRequests(Form1& window, StopRequests& stops);
