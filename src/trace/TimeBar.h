// The time bar of a hop row, shared by every front end so that the window and
// the terminal draw the same length for the same figures.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// The value of a Time cell: its text as a 32-bit integer, 0 when it does not convert.
std::int32_t TimeCellValue(const std::string& text);

// Length of the bar for a hop time in a cell `width` units wide, given the grid's
// time figures (`timeCount` rows with a time, the largest being `timeMax`).
// A time of 0 is drawn as 1 so that every measured hop shows a bar; the largest
// time fills the width; lengths are rounded to the nearest unit, halves to even.
// Returns -1 when no bar is drawn at all (no times, or a largest time of 0): the
// cell then shows only its background. 0 is a valid, empty bar.
int TimeBarLength(std::int32_t time, int width, std::int32_t timeCount, std::int32_t timeMax);

}  // namespace quillon
