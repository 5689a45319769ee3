// Separation of 24-bit colour pixels into black, cyan, magenta and yellow darkness for
// the colour device mode, with the hue correction the head needs.
#pragma once

#include "printer_job.h"

namespace qx470 {

// Darkness of one pixel in each plane (0..8192).
struct DotSeparation {
    int black;
    int cyan;
    int magenta;
    int yellow;
};

// Colour-mode separation of one pixel; black stays 0 when the printer has no black.
DotSeparation SeparateColour(const PrinterJob& job, int blue, int green, int red);

// The four planes' values of a scan line of job.pageWidth pixels (blue, green, red), into
// the job's value rows.
void FillColourValues(const PrinterJob& job, const wce::BYTE* line);

}  // namespace qx470
