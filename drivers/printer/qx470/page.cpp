#include "page.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "tone.h"
#include "wce/base.h"

namespace qx470 {
namespace {

int FailSetup(PrinterJob& job, wce::DWORD error, const char16_t* what, unsigned long width,
              unsigned long rows) {
    wce::NKDbgPrintfW(u"SetupPage: %s (%lu dots x %lu rows)\r\n", what, width, rows);
    FreePage(job);
    wce::SetLastError(error);
    return 0;
}

// Sets width, height and bytes per row; false when the engine's sizes are unusable.
bool SetDimensions(PrinterJob& job, const wce::GDIINFO& info) {
    const wce::ULONG width = job.landscape ? info.ulVertRes : info.ulHorzRes;
    const wce::ULONG height = job.landscape ? info.ulHorzRes : info.ulVertRes;
    if (width == 0 || width > static_cast<wce::ULONG>(kMaxPageWidth) || height > INT_MAX) {
        return false;
    }
    job.pageWidth = static_cast<int>(width);
    job.pageHeight = static_cast<int>(height);
    job.bytesPerRow = (job.pageWidth + 7) / 8;
    return true;
}

// The page must hold every row the encoders scan. With no geometry from the settings
// the engine's page size stands.
bool SetCapacity(PrinterJob& job) {
    if (job.allocatedRows <= 0 && job.printedLength <= 0) {
        job.allocatedRows = job.pageHeight;
        job.printedLength = job.pageHeight;
    }
    job.printedLength = std::max(job.printedLength, 0);
    job.allocatedRows = std::max(job.allocatedRows, job.printedLength);
    return job.allocatedRows > 0 &&
           static_cast<std::size_t>(job.allocatedRows) <=
               kMaxPageImageBytes / static_cast<std::size_t>(job.bytesPerRow);
}

// Every buffer the page needs, or none: false when memory runs out part way.
bool AllocateBuffers(PrinterJob& job) {
    try {
        job.buffers.Allocate(
            static_cast<std::size_t>(job.pageWidth), static_cast<std::size_t>(job.bytesPerRow),
            static_cast<std::size_t>(job.allocatedRows), job.colourMode != 0, job.landscape != 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    job.pageImage = job.buffers.page.get();
    return true;
}

bool SourceUsable(const wce::SURFOBJ* src) {
    if (!src || !src->pvScan0 || src->iBitmapFormat != wce::BMF_24BPP) return false;
    const long long width = src->sizlBitmap.cx;
    const long long stride = src->lDelta;
    return width > 0 && src->sizlBitmap.cy > 0 && (stride < 0 ? -stride : stride) >= width * 3;
}

const wce::BYTE* ScanLine(const wce::SURFOBJ* src, long long y) {
    return static_cast<const wce::BYTE*>(src->pvScan0) +
           static_cast<std::ptrdiff_t>(y * src->lDelta);
}

void FillWhite(wce::BYTE* pixels, std::size_t count) {
    std::memset(pixels, 0xFF, count * 3);
}

wce::BOOL CopyPortrait(PrinterJob& job, const wce::SURFOBJ* src, const wce::RECTL& rect) {
    const long long width = src->sizlBitmap.cx;
    const long long top = std::max<long long>(rect.top, 0);
    const long long bottom = std::min<long long>(rect.bottom, src->sizlBitmap.cy);
    if (width >= job.pageWidth && top < bottom) {
        return ConvertRows(job, ScanLine(src, top), static_cast<std::ptrdiff_t>(src->lDelta),
                           static_cast<int>(bottom - top))
                   ? wce::TRUE
                   : wce::FALSE;
    }
    for (long long y = top; y < bottom; ++y) {
        const wce::BYTE* line = ScanLine(src, y);
        if (width < job.pageWidth) {
            // A source narrower than the page: the missing dots are white.
            std::memcpy(job.buffers.landscapeLine.get(), line, static_cast<std::size_t>(width) * 3);
            FillWhite(job.buffers.landscapeLine.get() + width * 3,
                      static_cast<std::size_t>(job.pageWidth - width));
            line = job.buffers.landscapeLine.get();
        }
        if (!ConvertRow(job, line)) return wce::FALSE;
    }
    return wce::TRUE;
}

// Each source column, read from the bottom scan line up, becomes one page row: the
// drawing lands on the page turned a quarter clockwise.
wce::BOOL CopyLandscape(PrinterJob& job, const wce::SURFOBJ* src, const wce::RECTL& rect) {
    const long long height = src->sizlBitmap.cy;
    const long long columns =
        std::min<long long>(static_cast<long long>(rect.right) - rect.left, src->sizlBitmap.cx);
    const long long used = std::min<long long>(height, job.pageWidth);
    // Columns are turned a group at a time, each source scan line read once for the group.
    const auto lineBytes = static_cast<std::ptrdiff_t>(job.pageWidth) * 3;
    wce::BYTE* lines = job.buffers.landscapeLine.get();
    for (long long c0 = 0; c0 < columns; c0 += static_cast<long long>(kTurnedLines)) {
        const int n = static_cast<int>(std::min<long long>(kTurnedLines, columns - c0));
        for (long long k = 0; k < used; ++k) {
            const wce::BYTE* from = ScanLine(src, height - 1 - k) + c0 * 3;
            for (int i = 0; i < n; ++i) std::memcpy(lines + i * lineBytes + k * 3, from + i * 3, 3);
        }
        for (int i = 0; i < n; ++i) {
            FillWhite(lines + i * lineBytes + used * 3,
                      static_cast<std::size_t>(job.pageWidth - used));
        }
        if (!ConvertRows(job, lines, lineBytes, n)) return wce::FALSE;
    }
    return wce::TRUE;
}

}  // namespace

int SetupPage(PrinterJob& job, const wce::GDIINFO& info, const wce::DEVMODEW& devMode) {
    FreePage(job);
    job.colourMode = devMode.dmColor == wce::DMCOLOR_COLOR ? 1 : 0;
    job.paperSize = devMode.dmPaperSize;
    job.horzRes = static_cast<int>(std::min<wce::ULONG>(info.ulLogPixelsX, INT_MAX));
    job.landscape = devMode.dmOrientation == wce::DMORIENT_LANDSCAPE ? 1 : 0;
    if (!SetDimensions(job, info)) {
        return FailSetup(job, wce::ERROR_INVALID_PARAMETER, u"unusable page size",
                         job.landscape ? info.ulVertRes : info.ulHorzRes,
                         job.landscape ? info.ulHorzRes : info.ulVertRes);
    }
    if (!SetCapacity(job)) {
        return FailSetup(job, wce::ERROR_NOT_ENOUGH_MEMORY, u"page image too large", job.pageWidth,
                         job.allocatedRows);
    }
    job.rowParity = 0;
    job.nextRow = 0;
    if (!AllocateBuffers(job)) {
        return FailSetup(job, wce::ERROR_NOT_ENOUGH_MEMORY, u"out of memory for the page",
                         job.pageWidth, job.allocatedRows);
    }
    BuildToneTables(job);
    return 1;
}

void FreePage(PrinterJob& job) {
    job.buffers = {};
    job.pageImage = nullptr;
}

wce::BOOL CopyBitsToJob(PrinterJob& job, const wce::SURFOBJ* src, const wce::RECTL* rect) {
    if (!rect || !src) {
        wce::OutputDebugStringW(u"DrvCopyBits: no source surface or rectangle\r\n");
        wce::SetLastError(wce::ERROR_INVALID_PARAMETER);
        return wce::FALSE;
    }
    if (!SourceUsable(src)) {
        wce::OutputDebugStringW(u"DrvCopyBits: source is not a 24-bit bitmap\r\n");
        wce::SetLastError(wce::ERROR_INVALID_PARAMETER);
        return wce::FALSE;
    }
    if (!job.pageImage || !job.buffers.landscapeLine) return wce::FALSE;
    return job.landscape ? CopyLandscape(job, src, *rect) : CopyPortrait(job, src, *rect);
}

wce::BOOL DrvCopyBits(wce::SURFOBJ* /*dst*/, wce::SURFOBJ* src, wce::CLIPOBJ* /*clip*/,
                      wce::XLATEOBJ* /*xlate*/, wce::RECTL* dstRect, wce::POINTL* /*srcPoint*/) {
    return CopyBitsToJob(TheJob(), src, dstRect);
}

}  // namespace qx470
