#include "tone.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "wce/base.h"

namespace qx470 {
namespace {

constexpr int kHueSector = 256;

// entry i = (1 / (255^p * s)) * i^p + 0.5, truncated; computed once per device context.
int ToneEntry(int i, double power, double scale) {
    const double factor = 1.0 / (std::pow(255.0, power) * scale);
    return static_cast<int>(factor * std::pow(static_cast<double>(i), power) + 0.5);
}

void FillTable16(std::int16_t* table, int first, double power) {
    for (int i = 0; i < first; ++i) table[i] = 0;
    for (int i = first; i < 255; ++i) {
        table[i] = static_cast<std::int16_t>(ToneEntry(i, power, 1.0 / kDarknessFull));
    }
    table[255] = kDarknessFull;
}

inline void SetBit(wce::BYTE* bits, int x) {
    bits[x >> 3] |= static_cast<wce::BYTE>(0x80u >> (x & 7));
}

inline bool TestBit(const wce::BYTE* bits, int x) {
    return (bits[x >> 3] & (0x80u >> (x & 7))) != 0;
}

// Random numbers for a row come from a generator seeded from wce::rand() when the row has
// a grey dot: a call into the platform per dot would cost a fifth of the conversion, and
// the dots stay reproducible from wce::srand().
template <bool kMasked>
bool NeedsRandom(const std::int16_t* values, const wce::BYTE* mask, int width) {
    for (int x = 0; x < width; ++x) {
        const int v = values[x];
        if (v != 0 && v != kDarknessFull && !(kMasked && TestBit(mask, x))) return true;
    }
    return false;
}

inline int NextRandom(std::uint32_t& state) {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

// One pass over a row in the given direction. The error for the next row is gathered in
// registers and written over the incoming error right behind the dot being read; what
// falls outside the row is dropped.
template <int kStep, bool kMasked>
void DiffuseDots(const std::int16_t* values, std::int16_t* error, wce::BYTE* bits,
                 const wce::BYTE* mask, int width, int level) {
    std::uint32_t random = 0;
    if (NeedsRandom<kMasked>(values, mask, width)) {
        random =
            static_cast<std::uint32_t>(wce::rand()) << 15 | static_cast<std::uint32_t>(wce::rand());
    }
    const int end = kStep > 0 ? width : -1;
    std::int16_t discard = 0;
    std::int16_t* behind = &discard;  // next-row slot of the previous dot
    int carry = 0;
    int lastPerturbation = 0;
    int gathered = 0;       // next-row error of the previous dot so far
    int gatheredAhead = 0;  // next-row error of this dot so far
    for (int x = kStep > 0 ? 0 : width - 1; x != end; x += kStep) {
        const int value = values[x];
        int e;
        if (value == 0 || (kMasked && TestBit(mask, x))) {
            e = error[x] + value + carry;
        } else if (value == kDarknessFull) {
            SetBit(bits, x);
            e = error[x] + carry;
        } else {
            // Perturb the threshold, alternating the sign along a run so that flat areas
            // do not form regular patterns. The running darkness is 16 bits wide.
            int d = (value - kDotThreshold) * NextRandom(random) / wce::kRandMax;
            if ((d > 0 && lastPerturbation > 0) || (d < 0 && lastPerturbation < 0)) d = -d;
            lastPerturbation = d;
            e = static_cast<std::int16_t>(error[x] + value + carry);
            if (e + d > kDotThreshold) {
                SetBit(bits, x);
                e -= level;
            }
        }
        const int e1 = e / 16;
        const int e5 = 5 * e / 16;
        const int e3 = 3 * e / 16;
        *behind = static_cast<std::int16_t>(gathered + e3);
        behind = &error[x];
        gathered = gatheredAhead + e5;
        gatheredAhead = e1;
        carry = e - e5 - e3 - e1;
    }
    *behind = static_cast<std::int16_t>(gathered);
}

// Hue, saturation and value on a 0..1535 hue circle (red 0, green 512, blue 1024).
void ToHsv(int r, int g, int b, int& hue, int& saturation, int& value) {
    const int maxV = std::max({r, g, b});
    const int minV = std::min({r, g, b});
    value = maxV;
    saturation = maxV == 0 ? 0 : (maxV - minV) * 255 / maxV;
    hue = 0;
    if (maxV == minV) return;
    const int delta = maxV - minV;
    if (r == maxV) {
        hue = (g - b) * 255 / delta;
    } else if (g == maxV) {
        hue = (b - r) * 255 / delta + 2 * kHueSector;
    } else {
        hue = (r - g) * 255 / delta + 4 * kHueSector;
    }
    if (hue < 0) hue += 6 * kHueSector;
}

// The head renders blues and greens too wide; pull their hues toward the primaries.
int CorrectHue(const PrinterJob& job, int r, int g, int b, int hue) {
    if (b > g && b > r) {
        const int k = job.blueHueFactor;
        return hue < 1024 ? (hue - 768) * k / 255 + 768 : (hue - 1280) * (512 - k) / 255 + 1280;
    }
    if (g > b && g > r) {
        const int k = job.greenHueFactor;
        return hue < 512 ? (hue - 256) * k / 255 + 256 : (hue - 768) * (512 - k) / 255 + 768;
    }
    return hue;
}

void FromHsv(int hue, int s, int v, int& r, int& g, int& b) {
    if (s == 0) {
        r = g = b = v;
        return;
    }
    const int f = hue % kHueSector;
    const int p = (255 - s) * v / 255;
    const int q = ((65025 - f * s) * v / 255) / 255;
    const int t = ((65025 - (255 - f) * s) * v / 255) / 255;
    switch (hue / kHueSector) {
        case 0:
            r = v, g = t, b = p;
            break;
        case 1:
            r = q, g = v, b = p;
            break;
        case 2:
            r = p, g = v, b = t;
            break;
        case 3:
            r = p, g = q, b = v;
            break;
        case 4:
            r = t, g = p, b = v;
            break;
        default:
            r = v, g = p, b = q;
            break;
    }
}

}  // namespace

DotSeparation SeparateColour(const PrinterJob& job, int b, int g, int r) {
    const bool withBlack = job.noBlackInk == 0;
    if (withBlack && b == g && b == r) return {job.greyTone[255 - b], 0, 0, 0};
    int hue, saturation, value;
    ToHsv(r, g, b, hue, saturation, value);
    value = 255 - job.lightness[255 - value];
    hue = CorrectHue(job, r, g, b, hue);
    int r2, g2, b2;
    FromHsv(hue, saturation, value, r2, g2, b2);
    DotSeparation s{0, job.colourTone[255 - r2], job.colourTone[255 - g2],
                    job.colourTone[255 - b2]};
    if (withBlack) {
        s.black = std::min({s.cyan, s.magenta, s.yellow});
        s.cyan -= s.black;
        s.magenta -= s.black;
        s.yellow -= s.black;
    }
    return s;
}

namespace {

void FillMonochromeValues(const PrinterJob& job, const wce::BYTE* line) {
    const std::int16_t* tone = job.greyTone;
    std::int16_t* out = job.blackValues;
    for (int x = 0; x < job.pageWidth; ++x, line += 3) {
        const int luma = (76 * line[2] + 151 * line[1] + 28 * line[0]) >> 8;
        out[x] = tone[255 - luma];
    }
}

void FillColourValues(const PrinterJob& job, const wce::BYTE* line) {
    // Areas of one colour are common, so the last pixel's separation is reused.
    int lastKey = -1;
    DotSeparation s{};
    for (int x = 0; x < job.pageWidth; ++x, line += 3) {
        const int key = line[0] | line[1] << 8 | line[2] << 16;
        if (key != lastKey) {
            s = SeparateColour(job, line[0], line[1], line[2]);
            lastKey = key;
        }
        job.blackValues[x] = static_cast<std::int16_t>(s.black);
        job.cyanValues[x] = static_cast<std::int16_t>(s.cyan);
        job.magentaValues[x] = static_cast<std::int16_t>(s.magenta);
        job.yellowValues[x] = static_cast<std::int16_t>(s.yellow);
    }
}

int ConvertColourRow(PrinterJob& job, const wce::BYTE* line) {
    FillColourValues(job, line);
    const wce::BYTE* mask = nullptr;
    RowMerge merge = RowMerge::kReplace;
    if (job.noBlackInk == 0) {
        if (!DiffuseRow(job, job.blackValues, job.blackError, job.blackBits, nullptr,
                        job.blackLevel)) {
            return 0;
        }
        mask = job.blackBits;
        merge = RowMerge::kUnion;
    }
    if (!DiffuseRow(job, job.cyanValues, job.cyanError, job.colourBits, mask, job.cyanLevel,
                    merge)) {
        return 0;
    }
    return DiffuseRow(job, job.magentaValues, job.magentaError, job.colourBits, mask,
                      job.magentaLevel, RowMerge::kUnion) &&
           DiffuseRow(job, job.yellowValues, job.yellowError, job.colourBits, mask, job.yellowLevel,
                      RowMerge::kUnion);
}

bool ColourBuffersReady(const PrinterJob& job) {
    return job.cyanValues && job.magentaValues && job.yellowValues && job.cyanError &&
           job.magentaError && job.yellowError && job.colourTone && job.lightness && job.colourBits;
}

}  // namespace

void BuildToneTables(PrinterJob& job) {
    if (job.greyTone) FillTable16(job.greyTone, 2, 1.4);
    if (job.colourTone) FillTable16(job.colourTone, 1, 1.3);
    if (job.lightness) {
        job.lightness[0] = 0;
        for (int i = 1; i < 255; ++i) {
            job.lightness[i] = static_cast<wce::BYTE>(ToneEntry(i, 2.1, 1.0 / 255));
        }
        job.lightness[255] = 255;
    }
    job.blackLevel = kBlackLevel;
    job.cyanLevel = kCyanLevel;
    job.magentaLevel = kMagentaLevel;
    job.yellowLevel = kYellowLevel;
    job.blueHueFactor = kBlueHueFactor;
    job.greenHueFactor = kGreenHueFactor;
}

int DiffuseRow(PrinterJob& job, const std::int16_t* values, std::int16_t* error, wce::BYTE* bits,
               const wce::BYTE* mask, int level, RowMerge merge) {
    const int width = job.pageWidth;
    if (!job.pageImage || !values || !error || !bits || width <= 0) return 0;
    std::memset(bits, 0, static_cast<std::size_t>(job.bytesPerRow));
    if ((job.rowParity & 1) == 0) {
        mask ? DiffuseDots<1, true>(values, error, bits, mask, width, level)
             : DiffuseDots<1, false>(values, error, bits, mask, width, level);
    } else {
        mask ? DiffuseDots<-1, true>(values, error, bits, mask, width, level)
             : DiffuseDots<-1, false>(values, error, bits, mask, width, level);
    }
    if (job.nextRow < 0 || job.nextRow >= job.allocatedRows) return 1;
    wce::BYTE* row = job.pageImage + static_cast<std::size_t>(job.nextRow) * job.bytesPerRow;
    if (merge == RowMerge::kReplace) {
        std::memcpy(row, bits, static_cast<std::size_t>(job.bytesPerRow));
    } else {
        for (int i = 0; i < job.bytesPerRow; ++i) row[i] |= bits[i];
    }
    return 1;
}

int ConvertRow(PrinterJob& job, const wce::BYTE* scanLine) {
    if (!scanLine || !job.pageImage || !job.blackValues || !job.blackError || !job.blackBits ||
        !job.greyTone) {
        return 0;
    }
    // The page has no room for rows beyond its capacity.
    if (job.nextRow < 0 || job.nextRow >= job.allocatedRows) return 1;
    int ok;
    if (job.colourMode) {
        if (!ColourBuffersReady(job)) return 0;
        ok = ConvertColourRow(job, scanLine);
    } else {
        FillMonochromeValues(job, scanLine);
        ok = DiffuseRow(job, job.blackValues, job.blackError, job.blackBits, nullptr,
                        job.blackLevel);
    }
    if (!ok) return 0;
    ++job.rowParity;
    ++job.nextRow;
    return 1;
}

}  // namespace qx470
