#include "tone.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

#include "wce/base.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Page bytes of dots are looked at four 16-bit values at a time, with dot 0 of a group in
// the lowest lane; other byte orders take the plain loops.
constexpr bool kLanesInOrder = std::endian::native == std::endian::little;

constexpr std::uint64_t Lanes(std::uint16_t v) {
    return v * 0x0001000100010001ull;
}

inline std::uint64_t LoadLanes(const std::int16_t* values) {
    std::uint64_t lanes;
    std::memcpy(&lanes, values, sizeof lanes);
    return lanes;
}

// Bit 0 of each of four lanes, gathered into a nibble with the first dot as its high bit.
inline unsigned LaneNibble(std::uint64_t bits) {
    return static_cast<unsigned>((bits * 0x0008000400020001ull) >> 48) & 15u;
}

// Bit 0 of each lane that is not zero.
inline std::uint64_t NonZeroLanes(std::uint64_t lanes) {
    return ((((lanes & Lanes(0x7FFF)) + Lanes(0x7FFF)) | lanes) >> 15) & Lanes(1);
}

inline bool IsGrey(int value) {
    return value != 0 && value != kDarknessFull;
}

// The grey dots (neither white nor full black) of the eight values of a page byte, dot 0
// as the high bit.
inline unsigned GreyDots(const std::int16_t* values) {
    if constexpr (kLanesInOrder) {
        return LaneNibble(NonZeroLanes(LoadLanes(values) & Lanes(0xDFFF))) << 4 |
               LaneNibble(NonZeroLanes(LoadLanes(values + 4) & Lanes(0xDFFF)));
    } else {
        unsigned dots = 0;
        for (int i = 0; i < 8; ++i) dots |= static_cast<unsigned>(IsGrey(values[i])) << (7 - i);
        return dots;
    }
}

// Random numbers for a row come from a generator seeded from wce::rand() when the row has
// a grey dot: a call into the platform per dot would cost a fifth of the conversion, and
// the dots stay reproducible from wce::srand().
template <bool kMasked>
bool NeedsRandom(const std::int16_t* values, const wce::BYTE* mask, int width) {
    if constexpr (!kMasked) {
        // Without a mask the whole row is folded into one test, which vectorises.
        unsigned grey = 0;
        for (int x = 0; x < width; ++x) grey |= static_cast<std::uint16_t>(values[x]) & 0xDFFFu;
        return grey != 0;
    }
    const int whole = width >> 3;
    for (int byte = 0; byte < whole; ++byte) {
        if (GreyDots(values + byte * 8) & ~static_cast<unsigned>(mask[byte])) return true;
    }
    for (int x = whole * 8; x < width; ++x) {
        if (IsGrey(values[x]) && !(mask[whole] & (0x80u >> (x & 7)))) return true;
    }
    return false;
}

inline int NextRandom(std::uint32_t& state) {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

// A page byte of dots that leaves everything as it found it: no grey dot, no incoming
// error, and black dots only where the mask lets them print. With no carry arriving
// either, every dot's error is 0 and only the black dots need setting.
template <bool kMasked>
inline bool QuietBlock(const std::int16_t* values, const std::int16_t* error, unsigned mask,
                       unsigned& dots) {
    unsigned full = 0;
    if constexpr (kLanesInOrder) {
        const std::uint64_t v0 = LoadLanes(values), v1 = LoadLanes(values + 4);
        if ((LoadLanes(error) | LoadLanes(error + 4) | ((v0 | v1) & Lanes(0xDFFF))) != 0) {
            return false;
        }
        // Every value is now 0 or 0x2000.
        full = LaneNibble((v0 >> 13) & Lanes(1)) << 4 | LaneNibble((v1 >> 13) & Lanes(1));
    } else {
        int stray = 0;
        for (int i = 0; i < 8; ++i) {
            stray |= error[i] | (values[i] & ~kDarknessFull);
            full |= static_cast<unsigned>(values[i] == kDarknessFull) << (7 - i);
        }
        if (stray != 0) return false;
    }
    if (kMasked && (full & mask) != 0) return false;
    dots = full;
    return true;
}

// Running state of one plane's pass over a row.
struct Diffusion {
    std::uint32_t random = 0;
    int level = 0;
    int carry = 0;          // error passed on along the row
    int perturbation = 0;   // of the previous grey dot
    int gathered = 0;       // next-row error of the previous dot so far
    int gatheredAhead = 0;  // next-row error of this dot so far
    std::int16_t* behind;   // next-row slot of the previous dot
};

// The error a dot leaves and whether it prints.
template <bool kMasked>
inline int DotError(Diffusion& s, int value, int incoming, bool masked, unsigned& print) {
    if ((value & ~kDarknessFull) == 0 || (kMasked && masked)) {
        // White, full black, or masked.
        const bool full = value != 0 && !(kMasked && masked);
        print = full;
        return incoming + (full ? 0 : value) + s.carry;
    }
    // Perturb the threshold, alternating the sign along a run so that flat areas do not
    // form regular patterns. The running darkness is 16 bits wide. Whether the dot
    // prints is a coin toss, so it is computed rather than branched on.
    int d = (value - kDotThreshold) * NextRandom(s.random) / wce::kRandMax;
    d = d * s.perturbation > 0 ? -d : d;
    s.perturbation = d;
    const int e = static_cast<std::int16_t>(incoming + value + s.carry);
    const int threshold = kDotThreshold - d;
    print = static_cast<unsigned>(threshold - e) >> 31;
    const int printed = e - s.level;
    return e > threshold ? printed : e;
}

// Spreads a dot's error: a sixteenth to the next row ahead, five below, three behind,
// the rest along the row. Divisions truncate toward zero; the three share the sign
// correction.
struct Spread {
    int ahead, below, behind;
};
inline Spread SpreadError(Diffusion& s, int e) {
    const int rounded = e + static_cast<int>(static_cast<unsigned>(e >> 31) >> 28);
    const Spread p{rounded >> 4, (rounded + 4 * e) >> 4, (rounded + 2 * e) >> 4};
    s.carry = e - p.ahead - p.below - p.behind;
    return p;
}

// Dot i of a page byte in scan order is bit (7 - offset) of the byte.
template <int kStep>
constexpr int Offset(int i) {
    return kStep > 0 ? i : 7 - i;
}

// The eight dots of one page byte in scan order, unrolled so that bit positions and
// slots are constants. The error for the next row is written over the incoming error
// right behind the dot being read; what falls outside the row is dropped.
template <int kStep, bool kMasked, int... kI>
inline unsigned DiffuseByte(Diffusion& s, const std::int16_t* values, std::int16_t* error,
                            unsigned mask, std::integer_sequence<int, kI...>) {
    unsigned out = 0;
    auto dot = [&]<int kDot>() {
        constexpr int at = Offset<kStep>(kDot);
        unsigned print;
        const int e =
            DotError<kMasked>(s, values[at], error[at], (mask & (0x80u >> at)) != 0, print);
        out |= print << (7 - at);
        const Spread p = SpreadError(s, e);
        std::int16_t* behind = kDot == 0 ? s.behind : &error[Offset<kStep>(kDot - 1)];
        *behind = static_cast<std::int16_t>(s.gathered + p.behind);
        s.gathered = s.gatheredAhead + p.below;
        s.gatheredAhead = p.ahead;
    };
    (dot.template operator()<kI>(), ...);
    s.behind = &error[Offset<kStep>(7)];
    return out;
}

// The dots of a partial last byte in scan order.
template <int kStep, bool kMasked>
unsigned DiffusePartialByte(Diffusion& s, const std::int16_t* values, std::int16_t* error,
                            unsigned mask, int count) {
    unsigned out = 0;
    for (int i = 0; i < count; ++i) {
        const int at = kStep > 0 ? i : count - 1 - i;
        unsigned print;
        const int e =
            DotError<kMasked>(s, values[at], error[at], (mask & (0x80u >> at)) != 0, print);
        out |= print << (7 - at);
        const Spread p = SpreadError(s, e);
        *s.behind = static_cast<std::int16_t>(s.gathered + p.behind);
        s.behind = &error[at];
        s.gathered = s.gatheredAhead + p.below;
        s.gatheredAhead = p.ahead;
    }
    return out;
}

// One pass over a row in the given direction, a page byte at a time.
template <int kStep, bool kMasked>
void DiffuseDots(const std::int16_t* values, std::int16_t* error, wce::BYTE* bits,
                 const wce::BYTE* mask, int width, int level) {
    // A plane with nothing on the row and no error coming in (colour planes on grey
    // content) stays white and passes no error on; one test that vectorises decides it.
    int anything = 0;
    for (int x = 0; x < width; ++x) anything |= values[x] | error[x];
    if (anything == 0) {
        std::memset(bits, 0, static_cast<std::size_t>((width + 7) >> 3));
        return;
    }
    Diffusion s;
    if (NeedsRandom<kMasked>(values, mask, width)) {
        s.random =
            static_cast<std::uint32_t>(wce::rand()) << 15 | static_cast<std::uint32_t>(wce::rand());
    }
    s.level = level;
    std::int16_t discard = 0;
    s.behind = &discard;
    const int whole = width >> 3;
    const int rest = width & 7;
    auto partial = [&] {
        const int first = whole * 8;
        bits[whole] = static_cast<wce::BYTE>(DiffusePartialByte<kStep, kMasked>(
            s, values + first, error + first, kMasked ? mask[whole] : 0u, rest));
    };
    if (kStep < 0 && rest != 0) partial();
    for (int n = 0; n < whole; ++n) {
        const int byte = kStep > 0 ? n : whole - 1 - n;
        const int first = byte * 8;
        const unsigned byteMask = kMasked ? mask[byte] : 0u;
        unsigned out;
        // A zero carry means the previous dot's error was 0, so nothing is pending but
        // the slot behind it.
        if (s.carry == 0 && QuietBlock<kMasked>(values + first, error + first, byteMask, out)) {
            *s.behind = static_cast<std::int16_t>(s.gathered);
            s.behind = &error[kStep > 0 ? first + 7 : first];
            s.gathered = 0;
        } else {
            out = DiffuseByte<kStep, kMasked>(s, values + first, error + first, byteMask,
                                              std::make_integer_sequence<int, 8>{});
        }
        bits[byte] = static_cast<wce::BYTE>(out);
    }
    if (kStep > 0 && rest != 0) partial();
    *s.behind = static_cast<std::int16_t>(s.gathered);
}

// n / d for 0 <= n <= 255 * 255 and 1 <= d <= 255 as a multiplication: the reciprocals
// are rounded up, which keeps every such quotient exact.
struct Reciprocals {
    std::uint32_t of[256] = {};
    constexpr Reciprocals() {
        for (std::uint32_t d = 1; d < 256; ++d) of[d] = ((1u << 24) + d - 1) / d;
    }
};
constexpr Reciprocals kReciprocals;

inline int DivideSmall(int n, int d) {
    return static_cast<int>((static_cast<std::uint64_t>(n) * kReciprocals.of[d]) >> 24);
}

// Hue, saturation and value on a 0..1535 hue circle (red 0, green 512, blue 1024).
void ToHsv(int r, int g, int b, int& hue, int& saturation, int& value) {
    const int maxV = std::max({r, g, b});
    const int minV = std::min({r, g, b});
    value = maxV;
    saturation = maxV == 0 ? 0 : DivideSmall((maxV - minV) * 255, maxV);
    hue = 0;
    if (maxV == minV) return;
    const int delta = maxV - minV;
    // (x - y) * 255 / delta, truncated toward zero.
    auto share = [delta](int x, int y) {
        return x >= y ? DivideSmall((x - y) * 255, delta) : -DivideSmall((y - x) * 255, delta);
    };
    if (r == maxV) {
        hue = share(g, b);
    } else if (g == maxV) {
        hue = share(b, r) + 2 * kHueSector;
    } else {
        hue = share(r, g) + 4 * kHueSector;
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

// Grey tone of a pixel: 255 - Y as the index, Y = (76 red + 151 green + 28 blue) / 256.
inline int GreyIndex(const wce::BYTE* pixel) {
    return 255 - ((76 * pixel[2] + 151 * pixel[1] + 28 * pixel[0]) >> 8);
}

void FillMonochromeValues(const PrinterJob& job, const wce::BYTE* line) {
    const std::int16_t* tone = job.greyTone;
    std::int16_t* out = job.blackValues;
    const int width = job.pageWidth;
    int x = 0;
#if defined(__SSE2__)
    // Eight pixels (24 bytes) at a time. The weighted bytes of a pixel sit in three
    // neighbouring lanes; adding each lane's two successors leaves the pixel's sum in
    // its first lane, which is 16 bits wide (at most 65025). 255 - sum / 256 is then
    // (sum ^ 0xFFFF) >> 8.
    const __m128i zero = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi16(-1);
    const __m128i weightA = _mm_setr_epi16(28, 151, 76, 28, 151, 76, 28, 151);
    const __m128i weightB = _mm_setr_epi16(76, 28, 151, 76, 28, 151, 76, 28);
    const __m128i weightC = _mm_setr_epi16(151, 76, 28, 151, 76, 28, 151, 76);
    auto index = [&](__m128i lanes, __m128i next1, __m128i next2) {
        return _mm_srli_epi16(
            _mm_xor_si128(_mm_add_epi16(_mm_add_epi16(lanes, next1), next2), ones), 8);
    };
    for (; x + 8 <= width; x += 8, line += 24) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line));
        const __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(line + 16));
        const __m128i a = _mm_mullo_epi16(_mm_unpacklo_epi8(head, zero), weightA);
        const __m128i b = _mm_mullo_epi16(_mm_unpackhi_epi8(head, zero), weightB);
        const __m128i c = _mm_mullo_epi16(_mm_unpacklo_epi8(tail, zero), weightC);
        const __m128i sumA = index(a, _mm_or_si128(_mm_srli_si128(a, 2), _mm_slli_si128(b, 14)),
                                   _mm_or_si128(_mm_srli_si128(a, 4), _mm_slli_si128(b, 12)));
        const __m128i sumB = index(b, _mm_or_si128(_mm_srli_si128(b, 2), _mm_slli_si128(c, 14)),
                                   _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 12)));
        const __m128i sumC = index(c, _mm_srli_si128(c, 2), _mm_srli_si128(c, 4));
        out[x + 0] = tone[_mm_extract_epi16(sumA, 0)];
        out[x + 1] = tone[_mm_extract_epi16(sumA, 3)];
        out[x + 2] = tone[_mm_extract_epi16(sumA, 6)];
        out[x + 3] = tone[_mm_extract_epi16(sumB, 1)];
        out[x + 4] = tone[_mm_extract_epi16(sumB, 4)];
        out[x + 5] = tone[_mm_extract_epi16(sumB, 7)];
        out[x + 6] = tone[_mm_extract_epi16(sumC, 2)];
        out[x + 7] = tone[_mm_extract_epi16(sumC, 5)];
    }
#endif
    for (; x < width; ++x, line += 3) out[x] = tone[GreyIndex(line)];
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
