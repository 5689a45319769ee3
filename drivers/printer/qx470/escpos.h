// ESC/POS page output: each run of non-blank rows becomes one raster image command,
// each run of blank rows a paper feed.
#pragma once

#include "printer_job.h"

namespace qx470 {

// Sends rows 0 to printedLength - 1 of the page image. feedBlankRows (the
// "PrintingLength" setting) also feeds the blank rows after the last band and every
// full run of 128 blank rows. Returns 1.
int SendEscPosPage(PrinterJob& job, int feedBlankRows);

// Sends rows first to end - 1 as one raster image, each row from byte 0 to byte
// right. Returns 1.
int SendEscPosBand(PrinterJob& job, int first, int end, int right);

// Index of the rightmost non-zero byte of a row, or -1 for a blank row.
int RightmostInkByte(const wce::BYTE* row, int bytesPerRow);

}  // namespace qx470
