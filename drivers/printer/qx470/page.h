// The page image and its buffers, and the intake of rendered rows from the engine.
//
// Page image: rows of bytesPerRow bytes, one bit per dot, most significant bit
// leftmost, 1 = black, 203 dots per inch.
#pragma once

#include <cstddef>

#include "printer_job.h"
#include "wce/winddi.h"

namespace qx470 {

// Upper bound of one page image. A custom label length has no limit in the settings;
// beyond this the page is refused instead of exhausting memory (about 18 m of paper at
// 576 dots).
constexpr std::size_t kMaxPageImageBytes = std::size_t{256} << 20;
constexpr int kMaxPageWidth = 65535;

// Sets the page geometry from the final GDIINFO and device mode and allocates the page
// image and work buffers; job.allocatedRows, printedLength and printableWidth must be set
// before. Returns 1, or 0 with every buffer freed (last error set) when the geometry is
// unusable or a buffer cannot be allocated.
int SetupPage(PrinterJob& job, const wce::GDIINFO& info, const wce::DEVMODEW& devMode);

// Frees every page buffer and clears its pointer; safe to call again.
void FreePage(PrinterJob& job);

// The rows of rect (source scan lines in portrait, source columns in landscape) become
// the next page rows. Returns 1 when every row was converted, 0 on a failed conversion
// or an unusable source surface.
wce::BOOL CopyBitsToJob(PrinterJob& job, const wce::SURFOBJ* src, const wce::RECTL* rect);

// Engine entry: CopyBitsToJob on the driver's job; clip, colour translation, destination
// surface and source point are not used.
wce::BOOL DrvCopyBits(wce::SURFOBJ* dst, wce::SURFOBJ* src, wce::CLIPOBJ* clip,
                      wce::XLATEOBJ* xlate, wce::RECTL* dstRect, wce::POINTL* srcPoint);

inline const wce::BYTE* PageRow(const PrinterJob& job, int row) {
    return job.pageImage +
           static_cast<std::size_t>(row) * static_cast<std::size_t>(job.bytesPerRow);
}

}  // namespace qx470
