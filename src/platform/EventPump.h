#pragma once

#include <chrono>

// Lets the window handle its pending events (repaints, clicks), then returns. Every place of
// the program that gives the window a turn calls this one function.
//
// A pass runs at most once per interval: a run calls this several times per card, far more
// often than a screen can show or a hand can click, and each pass costs a repaint.
void pumpEvents();

inline constexpr std::chrono::milliseconds kDefaultPumpInterval{15};
// Test hook: 0 makes every call a pass.
void setPumpInterval(std::chrono::milliseconds interval);
