// Pixel-for-pixel comparison of rendered paper with a baseline PNG.
//
// Setting QX_UPDATE_GOLDEN=1 in the environment rewrites every baseline a test checks
// with what it rendered, and writes a diff image wherever the old baseline differed.
#pragma once

#include <cstddef>
#include <string>

#include "bitmap.h"

namespace qxemu {

struct GoldenOutcome {
    bool matched = false;
    bool updated = false;       // the baseline was rewritten
    std::size_t differing = 0;  // pixels that differ (size mismatch: all of the larger)
    std::string message;        // what differed or failed, for the test's failure text
};

bool GoldenUpdateRequested();

// Dots that differ, counting every dot of the larger picture outside the smaller.
std::size_t CountDifferences(const Bitmap& a, const Bitmap& b);

// Writes an RGB picture of the union of both: black where both are black, red where
// only actual is, blue where only expected is.
bool WriteDiffPng(const std::string& path, const Bitmap& actual, const Bitmap& expected,
                  std::string* error);

// Compares actual with the PNG at goldenPath. A mismatch (or a missing baseline) fails
// and writes a diff image to diffPath; with the update switch the baseline is rewritten
// instead and the outcome counts as matched.
GoldenOutcome CheckGolden(const Bitmap& actual, const std::string& goldenPath,
                          const std::string& diffPath);

}  // namespace qxemu
