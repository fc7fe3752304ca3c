#pragma once

#include <chrono>

// Lets the application handle its pending events (repaints, clicks, stop requests), then
// returns, after calling beforePass if given. Every place of the program that gives the window
// or the console a turn calls this one function.
//
// A pass runs at most once per interval: a run calls this several times per card, far more
// often than a screen can show or a hand can click, and each pass costs a repaint.
void pumpEvents(void (*beforePass)() = nullptr);

inline constexpr std::chrono::milliseconds kDefaultPumpInterval{15};
// Test hook: 0 makes every call a pass.
void setPumpInterval(std::chrono::milliseconds interval);
