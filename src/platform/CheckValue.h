#pragma once

class QCheckBox;

// A check box's value as the program counts it: 0 unticked, 1 ticked, 2 grayed. Qt numbers
// its states differently (grayed is 1 there), so every read and write goes through here.
inline constexpr int kUnticked = 0;
inline constexpr int kTicked = 1;
inline constexpr int kGrayed = 2;

int checkValue(const QCheckBox* box);
// Ticks or unticks the box; the program never grays one.
void setCheckValue(QCheckBox* box, int value);
