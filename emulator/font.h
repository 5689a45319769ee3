// The printer's built-in text font: 12 x 24 dot cells. Each glyph is a 5 x 7 design
// drawn two dots wide and three dots high, one dot in from the cell's left and top.
#pragma once

#include <cstdint>

#include "bitmap.h"

namespace qxemu {

inline constexpr int kCharWidth = 12;
inline constexpr int kCharHeight = 24;

// Draws byte c with its cell's top-left corner at (x, y). Bytes outside printable
// ASCII are drawn as a hollow box, so unexpected code points stay visible.
void DrawChar(Bitmap& bitmap, int x, int y, std::uint8_t c);

}  // namespace qxemu
