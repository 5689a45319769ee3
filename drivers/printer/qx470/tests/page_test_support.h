// Test helpers: a job set up for a given page, and 24-bit surfaces to draw on.
#pragma once

#include <cstdint>
#include <vector>

#include "page.h"
#include "printer_job.h"
#include "wce/winddi.h"

namespace qx470::pagetest {

struct PageOptions {
    int width = 576;
    int rows = 200;
    bool landscape = false;
    bool colour = false;
};

// A job record that frees its page buffers when the test ends.
struct OwnedJob {
    PrinterJob job;
    OwnedJob() = default;
    OwnedJob(const OwnedJob&) = delete;
    OwnedJob& operator=(const OwnedJob&) = delete;
    ~OwnedJob() { FreePage(job); }
};

// A job whose SetupPage saw a GDIINFO and device mode for the given page, as
// DrvEnablePDEV leaves them (landscape: resolutions already swapped).
inline int SetUpPage(PrinterJob& job, const PageOptions& o) {
    wce::GDIINFO info{};
    wce::DEVMODEW mode{};
    info.ulHorzRes = static_cast<wce::ULONG>(o.landscape ? o.rows : o.width);
    info.ulVertRes = static_cast<wce::ULONG>(o.landscape ? o.width : o.rows);
    info.ulLogPixelsX = info.ulLogPixelsY = 203;
    mode.dmOrientation = o.landscape ? wce::DMORIENT_LANDSCAPE : wce::DMORIENT_PORTRAIT;
    mode.dmColor = o.colour ? wce::DMCOLOR_COLOR : wce::DMCOLOR_MONOCHROME;
    mode.dmPaperSize = wce::DMPAPER_LEGAL;
    job.allocatedRows = o.rows;
    job.printedLength = o.rows;
    job.printableWidth = o.width;
    return SetupPage(job, info, mode);
}

// A 24-bit BGR surface, white, top-down or bottom-up in memory.
class Surface {
  public:
    Surface(int width, int height, bool bottomUp = false)
        : width_(width),
          height_(height),
          stride_((width * 3 + 3) & ~3),
          bytes_(static_cast<std::size_t>(stride_) * height, 0xFF) {
        so_.sizlBitmap = {width, height};
        so_.cjBits = static_cast<wce::ULONG>(bytes_.size());
        so_.pvBits = bytes_.data();
        so_.iBitmapFormat = wce::BMF_24BPP;
        so_.iType = wce::STYPE_BITMAP;
        if (bottomUp) {
            so_.pvScan0 = bytes_.data() + static_cast<std::size_t>(stride_) * (height - 1);
            so_.lDelta = -stride_;
        } else {
            so_.pvScan0 = bytes_.data();
            so_.lDelta = stride_;
            so_.fjBitmap = wce::BMF_TOPDOWN;
        }
    }
    wce::BYTE* Pixel(int x, int y) {
        return static_cast<wce::BYTE*>(so_.pvScan0) + static_cast<std::ptrdiff_t>(y) * so_.lDelta +
               x * 3;
    }
    void Set(int x, int y, wce::BYTE b, wce::BYTE g, wce::BYTE r) {
        wce::BYTE* p = Pixel(x, y);
        p[0] = b, p[1] = g, p[2] = r;
    }
    void Fill(int x0, int y0, int x1, int y1, wce::BYTE b, wce::BYTE g, wce::BYTE r) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) Set(x, y, b, g, r);
    }
    wce::SURFOBJ* Get() { return &so_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

  private:
    int width_, height_, stride_;
    std::vector<wce::BYTE> bytes_;
    wce::SURFOBJ so_{};
};

inline bool Dot(const PrinterJob& job, int row, int x) {
    return (PageRow(job, row)[x / 8] & (0x80 >> (x % 8))) != 0;
}

inline std::vector<wce::BYTE> PageBytes(const PrinterJob& job) {
    const wce::BYTE* p = job.pageImage;
    return std::vector<wce::BYTE>(
        p, p + static_cast<std::size_t>(job.allocatedRows) * job.bytesPerRow);
}

// Starting a page resets the row counters the way the page flush does.
inline void StartPage(PrinterJob& job) {
    job.rowParity = 0;
    job.nextRow = 0;
}

inline wce::RECTL Rows(int width, int top, int bottom) {
    return {0, top, width, bottom};
}

}  // namespace qx470::pagetest
