#include "cpcl.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "escpos.h"
#include "lzw.h"
#include "output.h"
#include "protocol/commands.h"
#include "wce/base.h"

namespace qx470 {

namespace {

// Buffers never shrink below the size that holds most bands, so a page of ordinary
// bands allocates once.
constexpr std::size_t kMinBandCapacity = 65536;
// A band is sent compressed only when that saves at least a fifth of it.
constexpr double kCompressedShareLimit = 0.8;
constexpr int kLineBufferSize = 128;

int LeftmostInkByte(const wce::BYTE* row, int bytesPerRow) {
    for (int i = 0; i < bytesPerRow; ++i) {
        if (row[i] != 0) return i;
    }
    return -1;
}

const wce::BYTE* PageRow(const PrinterJob& job, int row) {
    return job.pageImage + static_cast<std::size_t>(row) * job.bytesPerRow;
}

// A command line is ASCII, so its bytes are the narrow formatting of it.
void SendLine(PrinterJob& job, const char* format, ...) {
    char line[kLineBufferSize];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (length < 2) return;
    length = std::min(length, kLineBufferSize - 1);
    PrinterWrite(job, reinterpret_cast<const wce::BYTE*>(line), static_cast<std::size_t>(length));
}

bool ReserveBand(PrinterJob& job, std::size_t size) {
    if (size <= job.bandCapacity) return true;
    delete[] job.stagingBand;
    delete[] job.rotatedBand;
    job.bandCapacity = 0;
    std::size_t capacity = std::max(size, kMinBandCapacity);
    job.stagingBand = new (std::nothrow) wce::BYTE[capacity];
    job.rotatedBand = new (std::nothrow) wce::BYTE[capacity];
    if (job.stagingBand != nullptr && job.rotatedBand != nullptr) {
        job.bandCapacity = capacity;
        return true;
    }
    delete[] job.stagingBand;
    delete[] job.rotatedBand;
    job.stagingBand = nullptr;
    job.rotatedBand = nullptr;
    return false;
}

bool ReserveCompression(PrinterJob& job, std::size_t size) {
    if (job.lzwDictionary == nullptr) job.lzwDictionary = new (std::nothrow) LzwDictionary();
    if (job.lzwDictionary == nullptr) return false;
    if (LzwOutputBound(size) <= job.compressedCapacity) return true;
    const std::size_t bound = LzwOutputBound(std::max(size, kMinBandCapacity));
    delete[] job.compressedBand;
    job.compressedBand = new (std::nothrow) wce::BYTE[bound];
    job.compressedCapacity = job.compressedBand != nullptr ? bound : 0;
    return job.compressedBand != nullptr;
}

// Copies the band into the staging buffer and, when rotating, turns it by 180
// degrees: the byte order reversed and the bits of each byte with it. Returns the
// bytes to code and send.
const wce::BYTE* StageBand(PrinterJob& job, int first, int end, int rotate, int left, int width) {
    wce::BYTE* staging = job.stagingBand;
    for (int row = first; row < end; ++row) {
        std::memcpy(staging, PageRow(job, row) + left, static_cast<std::size_t>(width));
        staging += width;
    }
    if (!rotate) return job.stagingBand;
    const std::size_t size = static_cast<std::size_t>(staging - job.stagingBand);
    for (std::size_t i = 0; i < size; ++i) {
        job.rotatedBand[i] = kBitReversal[job.stagingBand[size - 1 - i]];
    }
    return job.rotatedBand;
}

// Without band buffers the raw band is sent straight from the page image, turned on
// the way out when rotating.
void WriteBandFromPage(PrinterJob& job, int first, int end, int rotate, int left, int width) {
    if (!rotate) {
        for (int row = first; row < end; ++row) {
            PrinterWrite(job, PageRow(job, row) + left, static_cast<std::size_t>(width));
        }
        return;
    }
    wce::BYTE chunk[256];
    std::size_t filled = 0;
    for (int row = end - 1; row >= first; --row) {
        const wce::BYTE* bytes = PageRow(job, row) + left;
        for (int i = width - 1; i >= 0; --i) {
            chunk[filled++] = kBitReversal[bytes[i]];
            if (filled == sizeof chunk) {
                PrinterWrite(job, chunk, filled);
                filled = 0;
            }
        }
    }
    PrinterWrite(job, chunk, filled);
}

void WriteLengthField(PrinterJob& job, std::size_t size) {
    for (int i = 0; i < 4; ++i) job.lengthField[i] = static_cast<wce::BYTE>(size >> (8 * i));
    PrinterWrite(job, job.lengthField, sizeof job.lengthField);
}

}  // namespace

int SendCpclBand(PrinterJob& job, int first, int end, int rotate, int left, int right) {
    const int width = right - left + 1;
    const int height = end - first;
    const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const wce::BYTE* band = nullptr;
    if (ReserveBand(job, size)) {
        band = StageBand(job, first, end, rotate, left, width);
    } else {
        wce::OutputDebugStringW(u"\tSendCpclBand(): no memory for the band, sent as CG\r\n");
    }

    const int x = rotate ? job.printableWidth - (left + width) * 8 : left * 8;
    const int y = rotate ? job.printedLength - first - height : first;

    // A single byte is too short for the coder and goes out raw.
    std::size_t compressed = 0;
    bool coded = false;
    if (band != nullptr && size >= 2) {
        if (ReserveCompression(job, size)) {
            LzwState state;
            coded = LzwCompress(band, job.compressedBand, job.compressedCapacity,
                                *job.lzwDictionary, size, &compressed, state);
        } else {
            wce::OutputDebugStringW(u"\tSendCpclBand(): no memory to compress, sent as CG\r\n");
        }
    }

    if (!coded ||
        static_cast<double>(compressed) > kCompressedShareLimit * static_cast<double>(size)) {
        SendLine(job, qxproto::kCpclGraphics, width, height, x, y);
        if (band != nullptr && rotate) {
            PrinterWrite(job, band, size);
        } else {
            WriteBandFromPage(job, first, end, rotate, left, width);
        }
    } else {
        SendLine(job, qxproto::kCpclCompressedGraphics, width, height, x, y,
                 static_cast<int>(compressed + qxproto::kCpclLengthFieldSize));
        WriteLengthField(job, size);
        PrinterWrite(job, job.compressedBand, compressed);
    }
    PrinterWrite(job, qxproto::kCpclGraphicsEnd.data(), qxproto::kCpclGraphicsEnd.size());
    return 1;
}

int SendCpclPage(PrinterJob& job, int rotate) {
    // Never scan past the rows the page image holds.
    const int rows = job.pageImage == nullptr ? 0 : std::min(job.printedLength, job.allocatedRows);
    const int bytesPerRow = job.bytesPerRow;
    int bandRows = 0;
    int bandStart = 0;
    int blankRun = 0;
    int bandLeft = bytesPerRow;
    int bandRight = 0;
    for (int r = 0; r < rows; ++r) {
        const wce::BYTE* row = PageRow(job, r);
        const int right = RightmostInkByte(row, bytesPerRow);
        if (right < 0) {
            if (bandRows > 0) {
                SendCpclBand(job, bandStart, bandStart + bandRows, rotate, bandLeft, bandRight);
                bandRows = 0;
                bandLeft = bytesPerRow;
                bandRight = 0;
            }
            ++blankRun;
            continue;
        }
        bandLeft = std::min(bandLeft, LeftmostInkByte(row, bytesPerRow));
        bandRight = std::max(bandRight, right);
        if (blankRun > 0) {
            bandStart = r;
            blankRun = 0;
        }
        ++bandRows;
    }
    if (bandRows > 0)
        SendCpclBand(job, bandStart, bandStart + bandRows, rotate, bandLeft, bandRight);
    return 1;
}

void FreeCpclBuffers(PrinterJob& job) {
    delete[] job.stagingBand;
    delete[] job.rotatedBand;
    delete[] job.compressedBand;
    delete job.lzwDictionary;
    job.stagingBand = nullptr;
    job.rotatedBand = nullptr;
    job.compressedBand = nullptr;
    job.lzwDictionary = nullptr;
    job.bandCapacity = 0;
    job.compressedCapacity = 0;
}

}  // namespace qx470
