#pragma once

#include "state/RunFaces.h"

class QCheckBox;

// A check box's value as the program counts it (kUnticked, kTicked, kGrayed). Qt numbers its
// states differently (grayed is 1 there), so every read and write goes through here.

int checkValue(const QCheckBox* box);
// Ticks or unticks the box; the program never grays one.
void setCheckValue(QCheckBox* box, int value);
