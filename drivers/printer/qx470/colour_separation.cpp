#include "colour_separation.h"

#include <algorithm>
#include <cstdint>

#include "wide_vectors.h"

namespace qx470 {
namespace {

constexpr int kHueSector = 256;

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
    if (withBlack && b == g && b == r) return {job.buffers.greyTone[255 - b], 0, 0, 0};
    int hue, saturation, value;
    ToHsv(r, g, b, hue, saturation, value);
    value = 255 - job.buffers.lightness[255 - value];
    hue = CorrectHue(job, r, g, b, hue);
    int r2, g2, b2;
    FromHsv(hue, saturation, value, r2, g2, b2);
    DotSeparation s{0, job.buffers.colourTone[255 - r2], job.buffers.colourTone[255 - g2],
                    job.buffers.colourTone[255 - b2]};
    if (withBlack) {
        s.black = std::min({s.cyan, s.magenta, s.yellow});
        s.cyan -= s.black;
        s.magenta -= s.black;
        s.yellow -= s.black;
    }
    return s;
}

namespace {

#if defined(QX_TONE_AVX2)
// n / d truncated toward zero through single precision. Exact for |n| <= 65025 with
// 1 <= d <= 255, for -2^20 <= n <= 255 * 65025 with d = 255, and for 0 <= n <= 255 * 65025
// with d = 65025 (checked for every n and d): a quotient that is not whole lies further
// from the next integer than a unit in its last place, so no rounding mode reaches it.
__attribute__((target("avx2"))) inline __m256i DivideExact(__m256i n, __m256 d) {
    return _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(n), d));
}

__attribute__((target("avx2"))) inline __m256i Select(__m256i when, __m256i yes, __m256i no) {
    return _mm256_blendv_epi8(no, yes, when);
}

// Blue, green and red of eight pixels, one byte each in the low half.
struct EightPixels {
    __m128i b, g, r;
};

__attribute__((target("avx2"))) inline __m128i Pick(__m128i head, __m128i tail, __m128i fromHead,
                                                    __m128i fromTail) {
    return _mm_or_si128(_mm_shuffle_epi8(head, fromHead), _mm_shuffle_epi8(tail, fromTail));
}

__attribute__((target("avx2"))) inline EightPixels LoadEight(const wce::BYTE* line) {
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line));
    const __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(line + 16));
    const char z = -1;
    return {Pick(head, tail, _mm_setr_epi8(0, 3, 6, 9, 12, 15, z, z, z, z, z, z, z, z, z, z),
                 _mm_setr_epi8(z, z, z, z, z, z, 2, 5, z, z, z, z, z, z, z, z)),
            Pick(head, tail, _mm_setr_epi8(1, 4, 7, 10, 13, z, z, z, z, z, z, z, z, z, z, z),
                 _mm_setr_epi8(z, z, z, z, z, 0, 3, 6, z, z, z, z, z, z, z, z)),
            Pick(head, tail, _mm_setr_epi8(2, 5, 8, 11, 14, z, z, z, z, z, z, z, z, z, z, z),
                 _mm_setr_epi8(z, z, z, z, z, 1, 4, 7, z, z, z, z, z, z, z, z))};
}

__attribute__((target("avx2"))) inline bool AllGrey(const EightPixels& p) {
    const __m128i same = _mm_and_si128(_mm_cmpeq_epi8(p.b, p.g), _mm_cmpeq_epi8(p.g, p.r));
    return (_mm_movemask_epi8(same) & 0xFF) == 0xFF;
}

// SeparateColour for eight pixels into the four planes' values.
__attribute__((target("avx2"))) inline void SeparateEight(const PrinterJob& job,
                                                          const EightPixels& pixels, bool withBlack,
                                                          std::int16_t* black, std::int16_t* cyan,
                                                          std::int16_t* magenta,
                                                          std::int16_t* yellow) {
    alignas(32) std::int32_t value[8];
    const __m256i b = _mm256_cvtepu8_epi32(pixels.b);
    const __m256i g = _mm256_cvtepu8_epi32(pixels.g);
    const __m256i r = _mm256_cvtepu8_epi32(pixels.r);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i c255 = _mm256_set1_epi32(255);
    const __m256i maxV = _mm256_max_epi32(_mm256_max_epi32(r, g), b);
    const __m256i minV = _mm256_min_epi32(_mm256_min_epi32(r, g), b);
    const __m256i delta = _mm256_sub_epi32(maxV, minV);
    const __m256i sat = DivideExact(_mm256_mullo_epi32(delta, c255),
                                    _mm256_cvtepi32_ps(_mm256_max_epi32(maxV, one)));
    // Hue: the maximum picks the pair and the sector.
    const __m256i redMax = _mm256_cmpeq_epi32(r, maxV);
    const __m256i greenMax = _mm256_andnot_si256(redMax, _mm256_cmpeq_epi32(g, maxV));
    const __m256i x = Select(redMax, g, Select(greenMax, b, r));
    const __m256i y = Select(redMax, b, Select(greenMax, r, g));
    const __m256i base = Select(redMax, _mm256_setzero_si256(),
                                Select(greenMax, _mm256_set1_epi32(512), _mm256_set1_epi32(1024)));
    __m256i hue = _mm256_add_epi32(DivideExact(_mm256_mullo_epi32(_mm256_sub_epi32(x, y), c255),
                                               _mm256_cvtepi32_ps(_mm256_max_epi32(delta, one))),
                                   base);
    hue = _mm256_add_epi32(hue, _mm256_and_si256(_mm256_cmpgt_epi32(_mm256_setzero_si256(), hue),
                                                 _mm256_set1_epi32(1536)));
    hue = _mm256_andnot_si256(_mm256_cmpeq_epi32(delta, _mm256_setzero_si256()), hue);
    // Hue correction as (hue - centre) * factor / 255 + centre; factor 255 with centre 0
    // leaves the hue alone.
    const __m256i blue = _mm256_and_si256(_mm256_cmpgt_epi32(b, g), _mm256_cmpgt_epi32(b, r));
    const __m256i green = _mm256_andnot_si256(
        blue, _mm256_and_si256(_mm256_cmpgt_epi32(g, b), _mm256_cmpgt_epi32(g, r)));
    const __m256i blueLow = _mm256_cmpgt_epi32(_mm256_set1_epi32(1024), hue);
    const __m256i greenLow = _mm256_cmpgt_epi32(_mm256_set1_epi32(512), hue);
    const int kb = job.blueHueFactor, kg = job.greenHueFactor;
    const __m256i centre =
        Select(blue, Select(blueLow, _mm256_set1_epi32(768), _mm256_set1_epi32(1280)),
               Select(green, Select(greenLow, _mm256_set1_epi32(256), _mm256_set1_epi32(768)),
                      _mm256_setzero_si256()));
    const __m256i factor = Select(
        blue, Select(blueLow, _mm256_set1_epi32(kb), _mm256_set1_epi32(512 - kb)),
        Select(green, Select(greenLow, _mm256_set1_epi32(kg), _mm256_set1_epi32(512 - kg)), c255));
    const __m256 f255 = _mm256_set1_ps(255.0f);
    hue = _mm256_add_epi32(
        DivideExact(_mm256_mullo_epi32(_mm256_sub_epi32(hue, centre), factor), f255), centre);
    // Back to red, green and blue.
    // Table values are put into vectors lane by lane: a vector load of separately stored
    // values would wait for the stores to reach the cache.
    _mm256_store_si256(reinterpret_cast<__m256i*>(value), maxV);
    const wce::BYTE* light = job.buffers.lightness.get();
    const __m256i v = _mm256_sub_epi32(
        c255, _mm256_setr_epi32(light[255 - value[0]], light[255 - value[1]], light[255 - value[2]],
                                light[255 - value[3]], light[255 - value[4]], light[255 - value[5]],
                                light[255 - value[6]], light[255 - value[7]]));
    const __m256i f = _mm256_and_si256(hue, c255);
    const __m256i sector = _mm256_srai_epi32(hue, 8);
    const __m256i full = _mm256_set1_epi32(65025);
    const __m256i pv = DivideExact(_mm256_mullo_epi32(_mm256_sub_epi32(c255, sat), v), f255);
    // Two truncated divisions by 255 are one by 65025.
    const __m256 f65025 = _mm256_set1_ps(65025.0f);
    const __m256i qv = DivideExact(
        _mm256_mullo_epi32(_mm256_sub_epi32(full, _mm256_mullo_epi32(f, sat)), v), f65025);
    const __m256i tv = DivideExact(
        _mm256_mullo_epi32(
            _mm256_sub_epi32(full, _mm256_mullo_epi32(_mm256_sub_epi32(c255, f), sat)), v),
        f65025);
    const __m256i s0 = _mm256_cmpeq_epi32(sector, _mm256_setzero_si256());
    const __m256i s1 = _mm256_cmpeq_epi32(sector, one);
    const __m256i s2 = _mm256_cmpeq_epi32(sector, _mm256_set1_epi32(2));
    const __m256i s3 = _mm256_cmpeq_epi32(sector, _mm256_set1_epi32(3));
    const __m256i s4 = _mm256_cmpeq_epi32(sector, _mm256_set1_epi32(4));
    // Sectors 0..4 as listed, anything else as the last.
    __m256i r2 = Select(s0, v, Select(s1, qv, Select(s2, pv, Select(s3, pv, Select(s4, tv, v)))));
    __m256i g2 = Select(s0, tv, Select(s1, v, Select(s2, v, Select(s3, qv, Select(s4, pv, pv)))));
    __m256i b2 = Select(s0, pv, Select(s1, pv, Select(s2, tv, Select(s3, v, Select(s4, v, qv)))));
    const __m256i grey = _mm256_cmpeq_epi32(sat, _mm256_setzero_si256());
    r2 = Select(grey, v, r2);
    g2 = Select(grey, v, g2);
    b2 = Select(grey, v, b2);
    // The tone lookups go one by one; gathers are slow on many processors.
    alignas(32) std::int32_t index[3][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(index[0]), _mm256_sub_epi32(c255, r2));
    _mm256_store_si256(reinterpret_cast<__m256i*>(index[1]), _mm256_sub_epi32(c255, g2));
    _mm256_store_si256(reinterpret_cast<__m256i*>(index[2]), _mm256_sub_epi32(c255, b2));
    const std::int16_t* t = job.buffers.colourTone.get();
    const std::int32_t(&i0)[8] = index[0];
    const std::int32_t(&i1)[8] = index[1];
    const std::int32_t(&i2)[8] = index[2];
    __m128i cy = _mm_setr_epi16(t[i0[0]], t[i0[1]], t[i0[2]], t[i0[3]], t[i0[4]], t[i0[5]],
                                t[i0[6]], t[i0[7]]);
    __m128i ma = _mm_setr_epi16(t[i1[0]], t[i1[1]], t[i1[2]], t[i1[3]], t[i1[4]], t[i1[5]],
                                t[i1[6]], t[i1[7]]);
    __m128i ye = _mm_setr_epi16(t[i2[0]], t[i2[1]], t[i2[2]], t[i2[3]], t[i2[4]], t[i2[5]],
                                t[i2[6]], t[i2[7]]);
    __m128i bk = _mm_setzero_si128();
    if (withBlack) {
        bk = _mm_min_epi16(_mm_min_epi16(cy, ma), ye);
        cy = _mm_sub_epi16(cy, bk);
        ma = _mm_sub_epi16(ma, bk);
        ye = _mm_sub_epi16(ye, bk);
        // Grey pixels take black alone.
        const __m128i greyBytes =
            _mm_and_si128(_mm_cmpeq_epi8(pixels.b, pixels.g), _mm_cmpeq_epi8(pixels.g, pixels.r));
        if (_mm_movemask_epi8(greyBytes) & 0xFF) {
            const __m128i greyLanes = _mm_unpacklo_epi8(greyBytes, greyBytes);
            alignas(16) std::uint8_t blue[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(blue), pixels.b);
            const std::int16_t* g = job.buffers.greyTone.get();
            const __m128i greyTone = _mm_setr_epi16(
                g[255 - blue[0]], g[255 - blue[1]], g[255 - blue[2]], g[255 - blue[3]],
                g[255 - blue[4]], g[255 - blue[5]], g[255 - blue[6]], g[255 - blue[7]]);
            bk = _mm_blendv_epi8(bk, greyTone, greyLanes);
            cy = _mm_andnot_si128(greyLanes, cy);
            ma = _mm_andnot_si128(greyLanes, ma);
            ye = _mm_andnot_si128(greyLanes, ye);
        }
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(black), bk);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cyan), cy);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(magenta), ma);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(yellow), ye);
}

// The eight-pixel separation holds for hue factors that keep corrected hues in 0..1535.
bool SeparatesEight(const PrinterJob& job) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 && job.blueHueFactor >= 0 && job.blueHueFactor <= 512 && job.greenHueFactor >= 0 &&
           job.greenHueFactor <= 512;
}

// The whole groups of eight pixels of a scan line; returns how many pixels it took.
__attribute__((target("avx2"))) int FillColourEights(const PrinterJob& job, const wce::BYTE* line) {
    const bool withBlack = job.noBlackInk == 0;
    const PageBuffers& b = job.buffers;
    int x = 0;
    for (; x + 8 <= job.pageWidth; x += 8, line += 24) {
        const EightPixels pixels = LoadEight(line);
        if (withBlack && AllGrey(pixels)) {
            // Text and grey areas take black alone.
            for (int i = 0; i < 8; ++i) b.blackValues[x + i] = b.greyTone[255 - line[3 * i]];
            const __m128i zero = _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(b.cyanValues.get() + x), zero);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(b.magentaValues.get() + x), zero);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(b.yellowValues.get() + x), zero);
            continue;
        }
        SeparateEight(job, pixels, withBlack, b.blackValues.get() + x, b.cyanValues.get() + x,
                      b.magentaValues.get() + x, b.yellowValues.get() + x);
    }
    return x;
}
#endif

}  // namespace

void FillColourValues(const PrinterJob& job, const wce::BYTE* line) {
    int x = 0;
#if defined(QX_TONE_AVX2)
    if (SeparatesEight(job)) {
        x = FillColourEights(job, line);
        line += 3 * x;
    }
#endif
    // Areas of one colour are common, so the last pixel's separation is reused.
    int lastKey = -1;
    DotSeparation s{};
    const PageBuffers& b = job.buffers;
    for (; x < job.pageWidth; ++x, line += 3) {
        const int key = line[0] | line[1] << 8 | line[2] << 16;
        if (key != lastKey) {
            s = SeparateColour(job, line[0], line[1], line[2]);
            lastKey = key;
        }
        b.blackValues[x] = static_cast<std::int16_t>(s.black);
        b.cyanValues[x] = static_cast<std::int16_t>(s.cyan);
        b.magentaValues[x] = static_cast<std::int16_t>(s.magenta);
        b.yellowValues[x] = static_cast<std::int16_t>(s.yellow);
    }
}

}  // namespace qx470
