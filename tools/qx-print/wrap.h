// Breaking text into the lines qx-print draws.
#pragma once

#include <string>
#include <vector>

#include "wce/gdi.h"

namespace qxprint {

// Breaks text into lines no wider than width with the DC's font: between words where
// it can, inside a word too long for a line of its own. A line keeps the spaces the
// text had between its words; tabs count as spaces; trailing empty lines are dropped.
std::vector<std::u16string> WrapText(wce::HDC dc, const std::u16string& text, int width);

// The font text is laid out with: Arial, 24 printer dots high, 8 lines to the inch.
wce::HFONT TextFont();

}  // namespace qxprint
