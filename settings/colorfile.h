#pragma once
// The colour file "color.ini": the main window's background, the picture
// frame and the picture list, one decimal integer a line.
#include <functional>
#include <string>

#include "platform/ui/color.h"

// Reads three integers, each after any blanks and line ends, skipping the rest
// of its line, and hands each to `apply` (0, 1, 2) right after reading it. A
// missing file or a value that is not an integer throws; the colours handed
// over before stay applied.
void readcolorfile(const std::string& path, const std::function<void(int index, ui::TColor color)>& apply);

// Replaces the file with the three colours, one decimal integer a line, each
// line ended by CR LF. The old file stays whole when the write fails.
void writecolorfile(const std::string& path, ui::TColor c1, ui::TColor c2, ui::TColor c3);
