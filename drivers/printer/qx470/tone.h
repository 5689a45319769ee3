// Tone conversion of 24-bit scan lines (blue, green, red) into rows of the page image,
// with serpentine error diffusion and a randomly perturbed threshold.
#pragma once

#include <cstddef>
#include <cstdint>

#include "colour_separation.h"
#include "printer_job.h"

namespace qx470 {

constexpr int kBlackLevel = 10649;
constexpr int kCyanLevel = 9011;
constexpr int kMagentaLevel = 9830;
constexpr int kYellowLevel = 9011;
constexpr int kBlueHueFactor = 163;
constexpr int kGreenHueFactor = 229;

// How DiffuseRow puts its bits into the page row: the first plane of a row replaces
// what the previous page left there, later planes add their dots to it.
enum class RowMerge { kReplace, kUnion };

// Fills the tone tables the job has allocated (the grey table always, the colour and
// lightness tables in colour mode) and sets the diffusion constants.
void BuildToneTables(PrinterJob& job);

// Converts one scan line of job.pageWidth pixels into the page row job.nextRow and
// advances the row counters. A row beyond the page's capacity is dropped (returns 1).
// Returns 0 when the page is not set up.
int ConvertRow(PrinterJob& job, const wce::BYTE* scanLine);

// Converts count scan lines, first and then every stride bytes on, into consecutive page
// rows, exactly as ConvertRow on each in turn. Returns 0 when the page is not set up or a
// row fails.
int ConvertRows(PrinterJob& job, const wce::BYTE* first, std::ptrdiff_t stride, int count);

// Diffuses one plane into the page row job.nextRow: values (darkness 0..8192), error
// carried in from the previous row (replaced by the error for the next row), bits (the
// plane's dots), mask (dots to leave white, or null) and the level a printed dot takes
// away. Scans left to right on even rows (job.rowParity), else right to left.
int DiffuseRow(PrinterJob& job, const std::int16_t* values, std::int16_t* error, wce::BYTE* bits,
               const wce::BYTE* mask, int level, RowMerge merge = RowMerge::kReplace);

// Which vector instructions the grey conversion and the diffusion may use: the widest
// the processor has (the default), at most AVX2, or none beyond the baseline. Every
// choice gives the same dots; tests try each.
enum class ToneVectors { kWidest, kAvx2, kNone };
void LimitToneVectors(ToneVectors limit);

// How many rows so far were split into two chains that had not met by the middle, so
// that part of the row was done again.
std::uint64_t RowsRedone();

}  // namespace qx470
