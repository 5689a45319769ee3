#include "escpos.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "output.h"
#include "protocol/commands.h"

namespace qx470 {

namespace {

// Blank rows are fed in runs of at most this many; a full run feeds 255 units, one
// short of 128 rows.
constexpr int kFeedRunRows = 128;

void WriteFeed(PrinterJob& job, unsigned units) {
    auto command = qxproto::Feed(static_cast<qxproto::Byte>(units));
    PrinterWrite(job, command.data(), command.size());
}

}  // namespace

int RightmostInkByte(const wce::BYTE* row, int bytesPerRow) {
    int end = bytesPerRow;
    // Eight bytes a step from the right; on a little-endian machine the highest
    // non-zero byte of the word is the rightmost non-zero byte of the eight.
    if constexpr (std::endian::native == std::endian::little) {
        while (end >= 8) {
            std::uint64_t word;
            std::memcpy(&word, row + end - 8, sizeof word);
            if (word != 0) return end - 1 - std::countl_zero(word) / 8;
            end -= 8;
        }
    }
    while (end > 0) {
        if (row[end - 1] != 0) return end - 1;
        --end;
    }
    return -1;
}

int SendEscPosBand(PrinterJob& job, int first, int end, int right) {
    const int width = right + 1;
    const int height = end - first;
    auto header =
        qxproto::RasterImageHeader(static_cast<unsigned>(width), static_cast<unsigned>(height));
    PrinterWrite(job, header.data(), header.size());
    for (int row = first; row < end; ++row) {
        const wce::BYTE* bytes = job.pageImage + static_cast<std::size_t>(row) * job.bytesPerRow;
        PrinterWrite(job, bytes, static_cast<std::size_t>(width));
    }
    return 1;
}

int SendEscPosPage(PrinterJob& job, int feedBlankRows) {
    // Never scan past the rows the page image holds.
    const int rows = job.pageImage == nullptr ? 0 : std::min(job.printedLength, job.allocatedRows);
    int bandRows = 0;
    int bandStart = 0;
    int bandRight = 0;
    int pendingBlank = 0;
    for (int r = 0; r < rows; ++r) {
        const wce::BYTE* row = job.pageImage + static_cast<std::size_t>(r) * job.bytesPerRow;
        int right = RightmostInkByte(row, job.bytesPerRow);
        if (right < 0) {
            if (bandRows > 0) {
                SendEscPosBand(job, bandStart, bandStart + bandRows, bandRight);
                bandRows = 0;
                bandRight = 0;
            }
            if (++pendingBlank == kFeedRunRows) {
                if (feedBlankRows) WriteFeed(job, qxproto::kMaxFeedUnits);
                pendingBlank = 0;
            }
            continue;
        }
        if (right > bandRight) bandRight = right;
        // Blank rows in front of a band are always fed, so the band lands where it
        // was drawn.
        if (pendingBlank > 0) {
            WriteFeed(job, qxproto::kFeedUnitsPerRow * pendingBlank);
            pendingBlank = 0;
        }
        if (bandRows == 0) bandStart = r;
        ++bandRows;
    }
    if (feedBlankRows && pendingBlank > 0) {
        WriteFeed(job, qxproto::kFeedUnitsPerRow * pendingBlank);
    }
    if (bandRows > 0) SendEscPosBand(job, bandStart, bandStart + bandRows, bandRight);
    return 1;
}

}  // namespace qx470
