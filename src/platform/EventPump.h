#pragma once

// Lets the window handle its pending events (repaints, clicks), then returns. Every place of
// the program that gives the window a turn calls this one function.
void pumpEvents();
