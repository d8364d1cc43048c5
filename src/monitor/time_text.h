#pragma once

#include <QString>
#include <cstdint>

// Whole milliseconds of a position in seconds, rounded down; negative positions give 0.
int64_t positionMilliseconds(double seconds);
// "HH:MM:SS.mmm"; hours grow beyond two digits when needed.
QString elapsedTimeText(int64_t milliseconds);
// Progress in percent, rounded half to even and clamped to 0..100.
int progressPercent(double position, double length);
