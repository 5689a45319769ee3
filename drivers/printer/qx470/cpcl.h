// CPCL page output: each run of non-blank rows becomes one graphics command, trimmed
// to the bytes that hold black dots, sent as CG or, when that saves at least a fifth,
// as LZW-compressed ZCG. Rotation turns the page by 180 degrees band by band.
#pragma once

#include <array>

#include "printer_job.h"

namespace qx470 {

// Entry b is b with its bits in reverse order.
constexpr std::array<wce::BYTE, 256> MakeBitReversal() {
    std::array<wce::BYTE, 256> table{};
    for (int b = 0; b < 256; ++b) {
        int reversed = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if (b & (1 << bit)) reversed |= 0x80 >> bit;
        }
        table[b] = static_cast<wce::BYTE>(reversed);
    }
    return table;
}
inline constexpr std::array<wce::BYTE, 256> kBitReversal = MakeBitReversal();

// Sends rows 0 to printedLength - 1 of the page image as graphics. Returns 1.
int SendCpclPage(PrinterJob& job, int rotate);

// Sends rows first to end - 1, bytes left to right of each, as one command followed
// by CR LF. Returns 1.
int SendCpclBand(PrinterJob& job, int first, int end, int rotate, int left, int right);

// Frees the band, compression and dictionary buffers; safe to call twice.
void FreeCpclBuffers(PrinterJob& job);

}  // namespace qx470
