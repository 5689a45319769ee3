#include "tone.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

#include "cpcl.h"
#include "wce/base.h"
#include "wide_vectors.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qx470 {
namespace {

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

inline bool IsGrey(int value) {
    return value != 0 && value != kDarknessFull;
}

inline int NextRandom(std::uint32_t& state) {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

// (value - 4096) * r / 32767, truncated toward zero. The quotient of the magnitude is
// (n + n / 32768 + 1) / 32768, which needs no multiplication: both sides rise by one at
// the same n, which the checks below prove for every step the products can reach
// (at most 4095 * 32767).
constexpr int DivideBy32767(std::uint32_t n) {
    return static_cast<int>((n + (n >> 15) + 1) >> 15);
}
constexpr bool DivisionHolds() {
    for (std::uint32_t k = 1; k <= 4096; ++k) {
        const std::uint32_t step = k * 32767u;
        if (DivideBy32767(step - 1) != static_cast<int>(k - 1) ||
            DivideBy32767(step) != static_cast<int>(k)) {
            return false;
        }
    }
    return DivideBy32767(0) == 0;
}
static_assert(DivisionHolds());

inline int Perturbation(int value, int random) {
    const int offset = value - kDotThreshold;
    const std::uint32_t magnitude = static_cast<std::uint32_t>(offset < 0 ? -offset : offset);
    const int q = DivideBy32767(magnitude * static_cast<std::uint32_t>(random));
    return offset < 0 ? -q : q;
}

// Truncating division by 16.
constexpr int Sixteenth(int n) {
    return (n + ((n >> 31) & 15)) >> 4;
}

// The error a dot passes along the row: e - e/16 - 5e/16 - 3e/16, each truncated toward
// zero. With e = 16q + m (q = e >> 4, 0 <= m < 16) that is 7q plus a term of m and the
// sign of e alone; the terms (biased by 3 to stay positive) are nibbles of one constant
// for each sign. This keeps the row's serial chain short.
constexpr int kCarryBias = 3;
constexpr std::uint64_t CarryTerms(bool negative) {
    std::uint64_t terms = 0;
    for (int m = 0; m < 16; ++m) {
        const int e = negative ? m - 16 : m;  // q = -1 or 0
        const int rest = e - Sixteenth(e) - Sixteenth(5 * e) - Sixteenth(3 * e);
        const int q = negative ? -1 : 0;
        terms |= static_cast<std::uint64_t>(rest - 7 * q + kCarryBias) << (4 * m);
    }
    return terms;
}
constexpr std::uint64_t kCarryTermsAbove = CarryTerms(false);
constexpr std::uint64_t kCarryTermsBelow = CarryTerms(true);

constexpr int Carry(int e) {
    const std::uint64_t terms = e < 0 ? kCarryTermsBelow : kCarryTermsAbove;
    const int q = e >> 4;
    // 7q - bias is ready before the term, which is the longer way.
    const int sevenths = (8 * q - kCarryBias) - q;
    return sevenths + static_cast<int>((terms >> ((e & 15) * 4)) & 15);
}
constexpr bool CarryHolds(int from, int to) {
    for (int e = from; e <= to; ++e) {
        if (Carry(e) != e - Sixteenth(e) - Sixteenth(5 * e) - Sixteenth(3 * e)) return false;
    }
    return true;
}
// Beyond the errors a dot can leave (a masked dot: 32767 + 8192 plus its carry).
static_assert(CarryHolds(-100000, -50000) && CarryHolds(-50000, 0) && CarryHolds(0, 50000) &&
              CarryHolds(50000, 100000));

// Row buffers of one plane's pass, parts of job.buffers.diffusionWork: the perturbation drawn
// for each grey dot, and the error each dot leaves (dot x at x + 1, with a zero guard at
// either end) from which the next row's error is gathered once the row is done.
struct PlaneWork {
    std::int32_t* noise;
    std::int32_t* left;
};

PlaneWork WorkOf(const PrinterJob& job, int plane) {
    const std::size_t stride = 2 * (static_cast<std::size_t>(job.pageWidth) + 2);
    std::int32_t* base = job.buffers.diffusionWork.get() + stride * static_cast<std::size_t>(plane);
    return {base, base + job.pageWidth + 2};
}

inline bool Masked(const wce::BYTE* mask, int x) {
    return (mask[x >> 3] & (0x80u >> (x & 7))) != 0;
}

// Whether a row has a grey dot (one the perturbation applies to). Without a mask the
// whole row is folded into one test, which vectorises.
template <bool kMasked>
bool HasGreyDot(const std::int16_t* values, const wce::BYTE* mask, int width) {
    if constexpr (!kMasked) {
        unsigned grey = 0;
        for (int x = 0; x < width; ++x) grey |= static_cast<std::uint16_t>(values[x]) & 0xDFFFu;
        return grey != 0;
    }
    for (int x = 0; x < width; ++x) {
        if (IsGrey(values[x]) && !Masked(mask, x)) return true;
    }
    return false;
}

// Random numbers for a row come from a generator seeded from wce::rand() when the row
// has a grey dot: a call into the platform per dot would cost a fifth of the conversion,
// and the dots stay reproducible from wce::srand().
std::uint32_t DrawSeed() {
    return static_cast<std::uint32_t>(wce::rand()) << 15 | static_cast<std::uint32_t>(wce::rand());
}

#if defined(QX_TONE_AVX2)
// The generator's step taken k times at once: x -> a^k x + c (a^(k-1) + ... + 1).
struct GeneratorJumps {
    std::uint32_t factor[17] = {};
    std::uint32_t addend[17] = {};
    constexpr GeneratorJumps() {
        factor[0] = 1;
        for (int k = 1; k <= 16; ++k) {
            factor[k] = factor[k - 1] * 214013u;
            addend[k] = addend[k - 1] * 214013u + 2531011u;
        }
    }
};
constexpr GeneratorJumps kJumps;

template <bool kMasked>
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __mmask16 GreyLanes(
    const std::int16_t* values, const wce::BYTE* mask, int width, int x, __m256i& lanes) {
    const int count = std::min(16, width - x);
    const __mmask16 valid = static_cast<__mmask16>((1u << count) - 1);
    lanes = _mm256_maskz_loadu_epi16(valid, values + x);
    __mmask16 grey = _mm256_mask_cmpneq_epi16_mask(valid, lanes, _mm256_setzero_si256());
    grey = _mm256_mask_cmpneq_epi16_mask(grey, lanes, _mm256_set1_epi16(kDarknessFull));
    if constexpr (kMasked) {
        unsigned bits = kBitReversal[mask[x >> 3]];
        if (count > 8) bits |= static_cast<unsigned>(kBitReversal[mask[(x >> 3) + 1]]) << 8;
        grey = static_cast<__mmask16>(grey & ~bits);
    }
    return grey;
}

// Bits of a 16-dot group turned end for end: scan order of a row scanned leftwards.
inline unsigned Reversed16(unsigned bits) {
    return static_cast<unsigned>(kBitReversal[bits & 255] << 8 | kBitReversal[bits >> 8]);
}

// Bit k: the XOR of bits 0 to k.
constexpr unsigned RunningXor16(unsigned bits) {
    bits ^= bits << 1;
    bits ^= bits << 2;
    bits ^= bits << 4;
    bits ^= bits << 8;
    return bits & 0xFFFFu;
}

// The signs of the perturbations along a row. A grey dot's perturbation takes the sign
// opposite to the previous grey dot's; one that drew 0 has none, and the next starts
// again with the sign of its own number. In a run of grey dots since such a zero the
// sign therefore follows the run's first dot, flipped on every other dot. Kept as bits
// over the grey dots of the row in scan order: whether the previous grey dot drew 0
// (or there is none), the grey dots counted so far, and for the run's first dot its sign
// flipped when it stands at an odd count.
struct SignRun {
    unsigned afterZero = 1;
    unsigned count = 0;
    unsigned head = 0;

    // Which of a group's grey dots (bits in lane order) have a negative perturbation,
    // given which of them drew 0 and which drew a negative number.
    template <int kStep>
    __attribute__((target("bmi,bmi2,popcnt"))) unsigned Negative(unsigned grey, unsigned zero,
                                                                 unsigned negative) {
        const unsigned n = static_cast<unsigned>(__builtin_popcount(grey));
        if (n == 0) return 0;
        if (zero == 0 && afterZero == 0) {
            // Inside a run, as most groups are: the sign flips from grey dot to grey dot.
            // Bit j stands for the j-th grey lane from the lowest, which is the j-th dot of
            // the group in scan order, or going leftwards the (n - 1 - j)-th.
            const unsigned first = kStep > 0 ? count : count + n - 1;
            const unsigned bits = ((first & 1) ? 0x5555u : 0xAAAAu) ^ (head ? 0xFFFFu : 0u);
            count += n;
            return grey == 0xFFFFu ? bits : _pdep_u32(bits, grey);
        }
        if constexpr (kStep < 0) {
            return Reversed16(
                InScanOrder(Reversed16(grey), Reversed16(zero), Reversed16(negative), n));
        }
        return InScanOrder(grey, zero, negative, n);
    }

    // The same with the bits in scan order, for a group with n grey dots.
    __attribute__((target("bmi,bmi2,popcnt"))) unsigned InScanOrder(unsigned grey, unsigned zero,
                                                                    unsigned negative, unsigned n) {
        // Bit k of these: the k-th grey dot of the group.
        const unsigned z = _pext_u32(zero, grey), all = (1u << n) - 1;
        const unsigned drew = ~z & all;
        const unsigned heads = drew & (z << 1 | afterZero);
        const unsigned odd = (count & 1) ? 0x5555u : 0xAAAAu;  // bit k: count + k is odd
        const unsigned v = _pext_u32(negative, grey) ^ odd;
        // v at each dot's run head: the heads' values, set where they change.
        const unsigned h = static_cast<unsigned>(__builtin_popcount(heads));
        const unsigned at = _pext_u32(v, heads);
        const unsigned changes = (at ^ (at << 1 | head)) & ((1u << h) - 1);
        const unsigned runs = RunningXor16(_pdep_u32(changes, heads)) ^ (head ? 0xFFFFu : 0u);
        if (h != 0) head = (at >> (h - 1)) & 1;
        afterZero = (z >> (n - 1)) & 1;
        count += n;
        return _pdep_u32((runs ^ odd) & drew, grey);
    }
};

// The perturbation of every grey dot of the row drawn before the pass, sixteen dots at a
// time: the grey dots are counted, the generator's numbers for them made sixteen at a
// time, and spread over the grey dots in scan order, each with the sign the pass would
// give it.
template <int kStep, bool kMasked>
__attribute__((target("avx512f,avx512bw,avx512vl,popcnt,bmi,bmi2"))) bool DrawNoiseWide(
    const std::int16_t* values, const wce::BYTE* mask, int width, std::int32_t* noise,
    std::int32_t* numbers) {
    const int chunks = (width + 15) >> 4;
    int grey = 0;
    for (int c = 0; c < chunks; ++c) {
        __m256i lanes;
        grey += __builtin_popcount(GreyLanes<kMasked>(values, mask, width, c * 16, lanes));
    }
    if (grey == 0) return false;
    const std::uint32_t seed = DrawSeed();
    __m512i state = _mm512_add_epi32(_mm512_mullo_epi32(_mm512_loadu_si512(kJumps.factor + 1),
                                                        _mm512_set1_epi32(static_cast<int>(seed))),
                                     _mm512_loadu_si512(kJumps.addend + 1));
    const __m512i factor16 = _mm512_set1_epi32(static_cast<int>(kJumps.factor[16]));
    const __m512i addend16 = _mm512_set1_epi32(static_cast<int>(kJumps.addend[16]));
    const __m512i low15 = _mm512_set1_epi32(0x7FFF);
    for (int i = 0; i < grey; i += 16) {
        const __m512i r = _mm512_and_si512(_mm512_srli_epi32(state, 16), low15);
        const int count = std::min(16, grey - i);
        _mm512_mask_storeu_epi32(numbers + i, static_cast<__mmask16>((1u << count) - 1), r);
        state = _mm512_add_epi32(_mm512_mullo_epi32(state, factor16), addend16);
    }
    const __m512i reversed =
        _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    const __m512i threshold = _mm512_set1_epi32(kDotThreshold);
    const __m512i one = _mm512_set1_epi32(1);
    int used = 0;
    SignRun signs;
    for (int n = 0; n < chunks; ++n) {
        const int c = kStep > 0 ? n : chunks - 1 - n;
        __m256i lanes;
        const __mmask16 greyLanes = GreyLanes<kMasked>(values, mask, width, c * 16, lanes);
        __m512i r;
        if constexpr (kStep > 0) {
            r = _mm512_maskz_expandloadu_epi32(greyLanes, numbers + used);
        } else {
            // Scan order runs down the lanes: spread over the lanes reversed, then turn back.
            const auto backwards = static_cast<__mmask16>(Reversed16(greyLanes));
            r = _mm512_permutexvar_epi32(reversed,
                                         _mm512_maskz_expandloadu_epi32(backwards, numbers + used));
        }
        used += __builtin_popcount(greyLanes);
        const __m512i offset = _mm512_sub_epi32(_mm512_cvtepi16_epi32(lanes), threshold);
        const __m512i n15 = _mm512_mullo_epi32(_mm512_abs_epi32(offset), r);
        __m512i q = _mm512_srli_epi32(
            _mm512_add_epi32(_mm512_add_epi32(n15, _mm512_srli_epi32(n15, 15)), one), 15);
        const __m512i zero = _mm512_setzero_si512();
        const __mmask16 zeroLanes = _mm512_mask_cmpeq_epi32_mask(greyLanes, q, zero);
        const __mmask16 belowLanes = _mm512_mask_cmplt_epi32_mask(greyLanes, offset, zero);
        const unsigned negative = signs.Negative<kStep>(greyLanes, zeroLanes, belowLanes);
        q = _mm512_mask_sub_epi32(q, static_cast<__mmask16>(negative), zero, q);
        _mm512_mask_storeu_epi32(noise + c * 16, greyLanes, q);
    }
    return true;
}

bool WideNoiseAvailable() {
    static const bool available =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("popcnt") &&
        __builtin_cpu_supports("bmi2");
    return available;
}
#endif

ToneVectors g_vectors = ToneVectors::kWidest;

// Whether the perturbations are drawn for the whole row before the pass; otherwise each
// grey dot draws its own during the pass, where the work hides behind the carry chain.
bool DrawnAhead() {
#if defined(QX_TONE_AVX2)
    return g_vectors == ToneVectors::kWidest && WideNoiseAvailable();
#else
    return false;
#endif
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
    int carry = 0;         // error passed on along the row
    int perturbation = 0;  // of the previous grey dot
};

// The error a dot leaves and whether it prints; noise is the dot's perturbation when it
// was drawn ahead.
template <bool kMasked, bool kDrawn>
[[gnu::always_inline]] inline int DotError(Diffusion& s, int value, int incoming,
                                           const std::int32_t* noise, bool masked,
                                           unsigned& print) {
    if ((value & ~kDarknessFull) == 0 || (kMasked && masked)) {
        // White, full black, or masked.
        const bool full = value != 0 && !(kMasked && masked);
        print = full;
        return incoming + (full ? 0 : value) + s.carry;
    }
    // Alternate the perturbation's sign along a run so that flat areas do not form
    // regular patterns; one drawn ahead has its sign already. The running darkness is 16
    // bits wide. Whether the dot prints is a coin toss, so it is computed rather than
    // branched on.
    int d;
    if constexpr (kDrawn) {
        d = *noise;
    } else {
        const int drawn = Perturbation(value, NextRandom(s.random));
        d = drawn * s.perturbation > 0 ? -drawn : drawn;
        s.perturbation = d;
    }
    const int e = static_cast<std::int16_t>(incoming + value + s.carry);
    const int threshold = kDotThreshold - d;
    print = static_cast<unsigned>(threshold - e) >> 31;
    const int printed = e - s.level;
    return e > threshold ? printed : e;
}

// Dot i of a page byte in scan order is bit (7 - offset) of the byte.
template <int kStep>
constexpr int Offset(int i) {
    return kStep > 0 ? i : 7 - i;
}

// One dot at offset at of a page byte: its error goes to left (slot at + 1) and its carry
// to the next dot; returns its bit in the page byte.
template <bool kMasked, bool kDrawn>
[[gnu::always_inline]] inline unsigned DiffuseDot(Diffusion& s, const std::int16_t* values,
                                                  const std::int16_t* error,
                                                  const std::int32_t* noise, std::int32_t* left,
                                                  int at, bool masked) {
    unsigned print;
    const int e = DotError<kMasked, kDrawn>(s, values[at], error[at], noise + at, masked, print);
    left[at + 1] = e;
    s.carry = Carry(e);
    return print << (7 - at);
}

// The eight dots of one page byte in scan order, unrolled so that bit positions and
// slots are constants. Each dot's error goes to left (slot x + 1); only the carry runs
// from dot to dot.
template <int kStep, bool kMasked, bool kDrawn, int... kI>
inline unsigned DiffuseByte(Diffusion& s, const std::int16_t* values, const std::int16_t* error,
                            const std::int32_t* noise, std::int32_t* left, unsigned mask,
                            std::integer_sequence<int, kI...>) {
    // A copy the stores below cannot alias, so the state stays in registers.
    Diffusion d = s;
    unsigned out = 0;
    auto dot = [&]<int kDot>() {
        constexpr int at = Offset<kStep>(kDot);
        out |= DiffuseDot<kMasked, kDrawn>(d, values, error, noise, left, at,
                                           (mask & (0x80u >> at)) != 0);
    };
    (dot.template operator()<kI>(), ...);
    s = d;
    return out;
}

// The dots of a partial last byte in scan order.
template <int kStep, bool kMasked, bool kDrawn>
unsigned DiffusePartialByte(Diffusion& s, const std::int16_t* values, const std::int16_t* error,
                            const std::int32_t* noise, std::int32_t* left, unsigned mask,
                            int count) {
    unsigned out = 0;
    for (int i = 0; i < count; ++i) {
        const int at = kStep > 0 ? i : count - 1 - i;
        out |= DiffuseDot<kMasked, kDrawn>(s, values, error, noise, left, at,
                                           (mask & (0x80u >> at)) != 0);
    }
    return out;
}

// The next row's error from the errors the dots left: a sixteenth from the dot before
// (in scan order), five from the dot itself and three from the dot after. Sums are kept
// to 16 bits as the row is.
template <int kStep>
void GatherNextRow(const std::int32_t* left, std::int16_t* error, int width) {
    for (int x = 0; x < width; ++x) {
        const int before = kStep > 0 ? left[x] : left[x + 2];
        const int after = kStep > 0 ? left[x + 2] : left[x];
        error[x] = static_cast<std::int16_t>(Sixteenth(before) + Sixteenth(5 * left[x + 1]) +
                                             Sixteenth(3 * after));
    }
}

#if defined(QX_TONE_AVX2)
// GatherNextRow sixteen dots at a time; the narrowing keeps the low 16 bits as the
// plain loop's conversion does.
__attribute__((target("avx512f"))) inline __m512i SixteenthWide(__m512i n) {
    return _mm512_srai_epi32(
        _mm512_add_epi32(n, _mm512_and_si512(_mm512_srai_epi32(n, 31), _mm512_set1_epi32(15))), 4);
}

// A dot's share of the next row's error from the errors of the dot to its left (low), its
// own and the dot to its right (high): a sixteenth from the dot before in scan order,
// five from itself and three from the dot after, each truncated.
template <int kStep>
__attribute__((target("avx512f"))) inline __m512i NextRowErrorWide(__m512i low, __m512i at,
                                                                   __m512i high) {
    const __m512i before = kStep > 0 ? low : high;
    const __m512i after = kStep > 0 ? high : low;
    return _mm512_add_epi32(
        _mm512_add_epi32(SixteenthWide(before),
                         SixteenthWide(_mm512_add_epi32(_mm512_slli_epi32(at, 2), at))),
        SixteenthWide(_mm512_add_epi32(_mm512_slli_epi32(after, 1), after)));
}

template <int kStep>
__attribute__((target("avx512f,avx512bw,avx512vl"))) void GatherNextRowWide(
    const std::int32_t* left, std::int16_t* error, int width) {
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m512i sum =
            NextRowErrorWide<kStep>(_mm512_loadu_si512(left + x), _mm512_loadu_si512(left + x + 1),
                                    _mm512_loadu_si512(left + x + 2));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(error + x), _mm512_cvtepi32_epi16(sum));
    }
    for (; x < width; ++x) {
        const int before = kStep > 0 ? left[x] : left[x + 2];
        const int after = kStep > 0 ? left[x + 2] : left[x];
        error[x] = static_cast<std::int16_t>(Sixteenth(before) + Sixteenth(5 * left[x + 1]) +
                                             Sixteenth(3 * after));
    }
}

// The same eight dots at a time, for processors with AVX2 but not AVX-512.
__attribute__((target("avx2"))) inline __m256i SixteenthAvx2(__m256i n) {
    return _mm256_srai_epi32(
        _mm256_add_epi32(n, _mm256_and_si256(_mm256_srai_epi32(n, 31), _mm256_set1_epi32(15))), 4);
}

template <int kStep>
__attribute__((target("avx2"))) void GatherNextRowAvx2(const std::int32_t* left,
                                                       std::int16_t* error, int width) {
    const auto sixteenth = SixteenthAvx2;
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m256i sums[2];
        for (int half = 0; half < 2; ++half) {
            const std::int32_t* at = left + x + 8 * half;
            const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
            const __m256i mid = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
            const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 2));
            const __m256i before = kStep > 0 ? low : high;
            const __m256i after = kStep > 0 ? high : low;
            const __m256i sum = _mm256_add_epi32(
                _mm256_add_epi32(sixteenth(before),
                                 sixteenth(_mm256_add_epi32(_mm256_slli_epi32(mid, 2), mid))),
                sixteenth(_mm256_add_epi32(_mm256_slli_epi32(after, 1), after)));
            // The low 16 bits, which the unsigned pack then keeps as they are.
            sums[half] = _mm256_and_si256(sum, low16);
        }
        const __m256i packed =
            _mm256_permute4x64_epi64(_mm256_packus_epi32(sums[0], sums[1]), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(error + x), packed);
    }
    GatherNextRow<kStep>(left + x, error + x, width - x);
}

bool Avx2Available() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}
#endif

template <int kStep>
void GatherNextRowFast(const std::int32_t* left, std::int16_t* error, int width) {
#if defined(QX_TONE_AVX2)
    if (g_vectors == ToneVectors::kWidest && WideNoiseAvailable()) {
        return GatherNextRowWide<kStep>(left, error, width);
    }
    if (g_vectors != ToneVectors::kNone && Avx2Available()) {
        return GatherNextRowAvx2<kStep>(left, error, width);
    }
#endif
    GatherNextRow<kStep>(left, error, width);
}

// Whether a plane has anything to do on the row; draws its perturbations when it does.
// A plane with nothing on the row and no error coming in (colour planes on grey content)
// stays white and passes no error on; one test that vectorises decides it.
template <int kStep, bool kMasked>
bool StartPlane(Diffusion& s, const std::int16_t* values, const std::int16_t* error,
                const wce::BYTE* mask, int width, int level, const PlaneWork& work, bool drawn) {
    // Sixteen bits wide, so that the test runs on whole vectors of values.
    std::uint16_t anything = 0;
    for (int x = 0; x < width; ++x) {
        anything |= static_cast<std::uint16_t>(values[x]) | static_cast<std::uint16_t>(error[x]);
    }
    if (anything == 0) return false;
    s = Diffusion{};
    s.level = level;
#if defined(QX_TONE_AVX2)
    if (drawn) {
        // The error slots are free until the pass, so they hold the generator's numbers.
        DrawNoiseWide<kStep, kMasked>(values, mask, width, work.noise, work.left);
    }
#endif
    if (!drawn && HasGreyDot<kMasked>(values, mask, width)) s.random = DrawSeed();
    work.left[0] = work.left[width + 1] = 0;
    return true;
}

// A row's pass is one chain of carries from dot to dot, which leaves the processor
// waiting on each. A row with its perturbations drawn ahead is therefore run as several
// chains at once: the first from the row's start, each other from a few bytes before its
// part of the row with no carry. The carry a dot passes on is 7/16 of its error, so a
// chain has almost always met the one before it by the start of its part; where it has
// not, its bytes are done again from the true state until the two carries agree. Either
// way every dot comes out as the single pass would have it.
constexpr int kChains = 2;          // three or four spill registers and run slower
constexpr int kLeadBytes = 4;       // a chain's bytes before its part of the row
constexpr int kSplitMinBytes = 16;  // rows narrower than this run as one chain
std::uint64_t g_rowsRedone = 0;

// One unmasked dot of a chain whose perturbations were drawn ahead, as DotError and
// DiffuseDot do it: its error goes to left and its bit in at the bottom of out. A level
// known when compiling (kLevel not 0) saves a register in the chains below.
template <int kLevel>
[[gnu::always_inline]] inline void ChainDot(int& carry, unsigned& out, int value, int incoming,
                                            int drawn, std::int32_t& left, int level) {
    if constexpr (kLevel != 0) level = kLevel;
    int e;
    unsigned print;
    if ((value & ~kDarknessFull) == 0) {
        print = value != 0;
        e = incoming + carry;
    } else {
        e = static_cast<std::int16_t>(incoming + value + carry);
        const int threshold = kDotThreshold - drawn;
        print = static_cast<unsigned>(threshold - e) >> 31;
        e = e > threshold ? e - level : e;
    }
    left = e;
    carry = Carry(e);
    out = out * 2 + print;
}

// The eight dots of a page byte in each chain, dot by dot in turn, so that the chains'
// carries overlap. The bits come in scan order, first dot highest, and are turned round
// for a row scanned leftwards.
template <int kStep, int kLevel, std::size_t... kC, int... kI>
inline void DiffuseByteChains(int (&carry)[kChains], unsigned (&out)[kChains],
                              const int (&first)[kChains], std::int32_t* const (&left)[kChains],
                              const std::int16_t* values, const std::int16_t* error,
                              const std::int32_t* noise, int level, std::index_sequence<kC...>,
                              std::integer_sequence<int, kI...>) {
    int c[kChains] = {carry[kC]...};
    unsigned o[kChains] = {};
    auto dot = [&]<int kDot>() {
        constexpr int at = Offset<kStep>(kDot);
        (ChainDot<kLevel>(c[kC], o[kC], values[first[kC] + at], error[first[kC] + at],
                          noise[first[kC] + at], left[kC][at + 1], level),
         ...);
    };
    (dot.template operator()<kI>(), ...);
    ((carry[kC] = c[kC], out[kC] = kStep < 0 ? kBitReversal[o[kC]] : o[kC]), ...);
}

// One byte of a single chain, the quiet way when it can.
template <int kStep>
inline unsigned DiffuseOneByte(Diffusion& s, const std::int16_t* values, const std::int16_t* error,
                               const std::int32_t* noise, std::int32_t* left, int first) {
    unsigned out;
    if (s.carry == 0 && QuietBlock<false>(values + first, error + first, 0, out)) {
        std::memset(left + first + 1, 0, 8 * sizeof(std::int32_t));
        return out;
    }
    return DiffuseByte<kStep, false, true>(s, values + first, error + first, noise + first,
                                           left + first, 0, std::make_integer_sequence<int, 8>{});
}

// RunPlane for an unmasked row whose perturbations were drawn ahead, as kChains chains.
template <int kStep, int kLevel>
QX_TARGET_BMI2 void RunPlaneChains(const Diffusion& start, const std::int16_t* values,
                                   std::int16_t* error, wce::BYTE* bits, int width,
                                   const PlaneWork& work) {
    const int whole = width >> 3;
    const int rest = width & 7;
    const std::int32_t* noise = work.noise;
    std::int32_t* left = work.left;
    Diffusion end = start;
    auto partial = [&](Diffusion& s) {
        const int first = whole * 8;
        bits[whole] = static_cast<wce::BYTE>(DiffusePartialByte<kStep, false, true>(
            s, values + first, error + first, noise + first, left + first, 0u, rest));
    };
    if (kStep < 0 && rest != 0) partial(end);
    auto byteAt = [&](int n) { return kStep > 0 ? n : whole - 1 - n; };
    // Chain k runs `steps` bytes in scan order from from[k]; its part of the row starts
    // kLeadBytes later (chain 0's at once) and ends where the next chain's part starts.
    const int steps = (whole + (kChains - 1) * kLeadBytes + kChains - 1) / kChains;
    int from[kChains], part[kChains + 1];
    for (int k = 0; k < kChains; ++k) {
        from[k] = k * (steps - kLeadBytes);
        part[k] = k == 0 ? 0 : from[k] + kLeadBytes;
    }
    part[kChains] = whole;
    int carry[kChains], joinCarry[kChains] = {};
    for (int k = 0; k < kChains; ++k) carry[k] = k == 0 ? end.carry : 0;
    std::int32_t lead[kChains][9];
    const int together = whole - from[kChains - 1];
    for (int t = 0; t < together; ++t) {
        int first[kChains];
        std::int32_t* at[kChains];
        bool quiet = true;
        unsigned out[kChains];
        for (int k = 0; k < kChains; ++k) {
            first[k] = byteAt(from[k] + t) * 8;
            at[k] = k > 0 && t < kLeadBytes ? lead[k] : left + first[k];
            quiet = quiet && carry[k] == 0 &&
                    QuietBlock<false>(values + first[k], error + first[k], 0, out[k]);
        }
        if (quiet) {
            for (int k = 0; k < kChains; ++k) std::memset(at[k] + 1, 0, 8 * sizeof(std::int32_t));
        } else {
            DiffuseByteChains<kStep, kLevel>(carry, out, first, at, values, error, noise,
                                             start.level, std::make_index_sequence<kChains>{},
                                             std::make_integer_sequence<int, 8>{});
        }
        for (int k = 0; k < kChains; ++k)
            if (k == 0 || t >= kLeadBytes) bits[first[k] / 8] = static_cast<wce::BYTE>(out[k]);
        if (t == kLeadBytes - 1)
            for (int k = 1; k < kChains; ++k) joinCarry[k] = carry[k];
    }
    // The chains before the last run on alone to the end of their parts.
    for (int k = 0; k < kChains - 1; ++k) {
        Diffusion s = start;
        s.carry = carry[k];
        for (int n = from[k] + together; n < part[k + 1]; ++n) {
            const int byte = byteAt(n);
            bits[byte] = static_cast<wce::BYTE>(
                DiffuseOneByte<kStep>(s, values, error, noise, left, byte * 8));
        }
        carry[k] = s.carry;
    }
    // Each chain against the true state where its part starts.
    end.carry = carry[0];
    for (int k = 1; k < kChains; ++k) {
        if (end.carry == joinCarry[k]) {
            end.carry = carry[k];
            continue;
        }
        // Its bytes again, until a byte leaves the carry the chain had after it.
        ++g_rowsRedone;
        bool met = false;
        for (int n = part[k]; n < part[k + 1] && !met; ++n) {
            const int first = byteAt(n) * 8;
            const int chainCarry = Carry(left[first + Offset<kStep>(7) + 1]);
            bits[byteAt(n)] = static_cast<wce::BYTE>(DiffuseByte<kStep, false, true>(
                end, values + first, error + first, noise + first, left + first, 0,
                std::make_integer_sequence<int, 8>{}));
            met = end.carry == chainCarry;
        }
        if (met) end.carry = carry[k];
    }
    if (kStep > 0 && rest != 0) partial(end);
    GatherNextRowFast<kStep>(left, error, width);
}

// One pass over a row in the given direction, a page byte at a time, then the next
// row's error.
template <int kStep, bool kMasked, bool kDrawn>
void RunPlane(const Diffusion& start, const std::int16_t* values, std::int16_t* error,
              wce::BYTE* bits, const wce::BYTE* mask, int width, const PlaneWork& work) {
    if constexpr (!kMasked && kDrawn) {
        if ((width >> 3) >= kSplitMinBytes) {
            // Black, the plane of every monochrome page, has its level built in.
            return start.level == kBlackLevel
                       ? RunPlaneChains<kStep, kBlackLevel>(start, values, error, bits, width, work)
                       : RunPlaneChains<kStep, 0>(start, values, error, bits, width, work);
        }
    }
    // A local copy keeps the state in registers.
    Diffusion s = start;
    const int whole = width >> 3;
    const int rest = width & 7;
    auto partial = [&] {
        const int first = whole * 8;
        bits[whole] = static_cast<wce::BYTE>(DiffusePartialByte<kStep, kMasked, kDrawn>(
            s, values + first, error + first, work.noise + first, work.left + first,
            kMasked ? mask[whole] : 0u, rest));
    };
    if (kStep < 0 && rest != 0) partial();
    for (int n = 0; n < whole; ++n) {
        const int byte = kStep > 0 ? n : whole - 1 - n;
        const int first = byte * 8;
        const unsigned byteMask = kMasked ? mask[byte] : 0u;
        unsigned out;
        // A zero carry means the previous dot's error was 0.
        if (s.carry == 0 && QuietBlock<kMasked>(values + first, error + first, byteMask, out)) {
            std::memset(work.left + first + 1, 0, 8 * sizeof(std::int32_t));
        } else {
            out = DiffuseByte<kStep, kMasked, kDrawn>(
                s, values + first, error + first, work.noise + first, work.left + first, byteMask,
                std::make_integer_sequence<int, 8>{});
        }
        bits[byte] = static_cast<wce::BYTE>(out);
    }
    if (kStep > 0 && rest != 0) partial();
    GatherNextRowFast<kStep>(work.left, error, width);
}

template <int kStep, bool kMasked>
void DiffuseDots(const std::int16_t* values, std::int16_t* error, wce::BYTE* bits,
                 const wce::BYTE* mask, int width, int level, const PlaneWork& work) {
    Diffusion s;
    const bool drawn = DrawnAhead();
    if (!StartPlane<kStep, kMasked>(s, values, error, mask, width, level, work, drawn)) {
        std::memset(bits, 0, static_cast<std::size_t>((width + 7) >> 3));
        return;
    }
    drawn ? RunPlane<kStep, kMasked, true>(s, values, error, bits, mask, width, work)
          : RunPlane<kStep, kMasked, false>(s, values, error, bits, mask, width, work);
}

// Cyan, magenta and yellow of a colour row, which given the black dots do not depend on
// each other.
struct ColourPlane {
    const std::int16_t* values;
    std::int16_t* error;
    PlaneWork work;
};
constexpr int kColourPlanes = 3;

template <typename F, std::size_t... kP>
inline void ForEachPlane(F&& f, std::index_sequence<kP...>) {
    (f(std::integral_constant<std::size_t, kP>{}), ...);
}
template <typename F>
inline void ForEachPlane(F&& f) {
    ForEachPlane(f, std::make_index_sequence<kColourPlanes>{});
}

// The eight dots of a page byte in all three planes, dot by dot in turn, so that the
// planes' carry chains overlap. Each plane does exactly what DiffuseByte does.
template <int kStep, bool kMasked, bool kDrawn, int... kI>
inline void DiffuseByteThree(Diffusion (&s)[kColourPlanes],
                             const ColourPlane (&planes)[kColourPlanes], int first, unsigned mask,
                             unsigned (&out)[kColourPlanes], std::integer_sequence<int, kI...>) {
    ForEachPlane([&](auto k) { out[k] = 0; });
    auto dot = [&]<int kDot>() {
        constexpr int at = Offset<kStep>(kDot);
        const bool masked = (mask & (0x80u >> at)) != 0;
        ForEachPlane([&](auto k) {
            const ColourPlane& plane = planes[k];
            out[k] |= DiffuseDot<kMasked, kDrawn>(s[k], plane.values + first, plane.error + first,
                                                  plane.work.noise + first, plane.work.left + first,
                                                  at, masked);
        });
    };
    (dot.template operator()<kI>(), ...);
}

// One pass over a row for all three planes. Their dots are added to the page row,
// lastBits gets the yellow plane's.
template <int kStep, bool kMasked, bool kDrawn>
void RunThreePlanes(const Diffusion (&start)[kColourPlanes],
                    const ColourPlane (&planes)[kColourPlanes], wce::BYTE* row, wce::BYTE* lastBits,
                    const wce::BYTE* mask, int width) {
    Diffusion s[kColourPlanes] = {start[0], start[1], start[2]};
    const int whole = width >> 3;
    const int rest = width & 7;
    auto put = [&](int byte, const unsigned(&out)[kColourPlanes]) {
        row[byte] = static_cast<wce::BYTE>(row[byte] | out[0] | out[1] | out[2]);
        lastBits[byte] = static_cast<wce::BYTE>(out[2]);
    };
    auto partial = [&] {
        const int first = whole * 8;
        unsigned out[kColourPlanes];
        ForEachPlane([&](auto k) {
            const ColourPlane& plane = planes[k];
            out[k] = DiffusePartialByte<kStep, kMasked, kDrawn>(
                s[k], plane.values + first, plane.error + first, plane.work.noise + first,
                plane.work.left + first, kMasked ? mask[whole] : 0u, rest);
        });
        put(whole, out);
    };
    if (kStep < 0 && rest != 0) partial();
    for (int n = 0; n < whole; ++n) {
        const int byte = kStep > 0 ? n : whole - 1 - n;
        const int first = byte * 8;
        const unsigned byteMask = kMasked ? mask[byte] : 0u;
        unsigned out[kColourPlanes];
        // The full path gives a quiet byte the same result, so a byte takes the short
        // way only when it is quiet in every plane.
        bool quiet = true;
        ForEachPlane([&](auto k) {
            quiet = quiet && s[k].carry == 0 &&
                    QuietBlock<kMasked>(planes[k].values + first, planes[k].error + first, byteMask,
                                        out[k]);
        });
        if (quiet) {
            ForEachPlane([&](auto k) {
                std::memset(planes[k].work.left + first + 1, 0, 8 * sizeof(std::int32_t));
            });
        } else {
            DiffuseByteThree<kStep, kMasked, kDrawn>(s, planes, first, byteMask, out,
                                                     std::make_integer_sequence<int, 8>{});
        }
        put(byte, out);
    }
    if (kStep > 0 && rest != 0) partial();
    ForEachPlane(
        [&](auto k) { GatherNextRowFast<kStep>(planes[k].work.left, planes[k].error, width); });
}

// Grey tone of a pixel: 255 - Y as the index, Y = (76 red + 151 green + 28 blue) / 256.
inline int GreyIndex(const wce::BYTE* pixel) {
    return 255 - ((76 * pixel[2] + 151 * pixel[1] + 28 * pixel[0]) >> 8);
}

#if defined(QX_TONE_AVX2)
bool WideGreyAvailable() {
    static const bool available = WideNoiseAvailable() && __builtin_cpu_supports("avx512vbmi");
    return available;
}

// The grey values of 32 pixels at a time: the byte permutes pick each colour of the 96
// bytes into 16-bit lanes, and the tone table, 64 entries to a pair of registers, is
// looked up by permutes as well.
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) int FillMonochromeWide(
    const std::int16_t* tone, const wce::BYTE* line, std::int16_t* out, int width) {
    alignas(64) std::uint8_t pick[3][64];
    for (int ch = 0; ch < 3; ++ch) {
        for (int i = 0; i < 32; ++i) {
            pick[ch][2 * i] = static_cast<std::uint8_t>(3 * i + ch);
            pick[ch][2 * i + 1] = 0;
        }
    }
    const __m512i pickBlue = _mm512_load_si512(pick[0]);
    const __m512i pickGreen = _mm512_load_si512(pick[1]);
    const __m512i pickRed = _mm512_load_si512(pick[2]);
    constexpr __mmask64 kLowBytes = 0x5555555555555555ull;
    __m512i table[8];
    for (int i = 0; i < 8; ++i) table[i] = _mm512_loadu_si512(tone + 32 * i);
    const __m512i c255 = _mm512_set1_epi16(255);
    int x = 0;
    for (; x + 32 <= width; x += 32, line += 96) {
        const __m512i head = _mm512_loadu_si512(line);
        const __m512i tail = _mm512_maskz_loadu_epi8(0xFFFFFFFFull, line + 64);
        const __m512i blue = _mm512_maskz_permutex2var_epi8(kLowBytes, head, pickBlue, tail);
        const __m512i green = _mm512_maskz_permutex2var_epi8(kLowBytes, head, pickGreen, tail);
        const __m512i red = _mm512_maskz_permutex2var_epi8(kLowBytes, head, pickRed, tail);
        const __m512i sum =
            _mm512_add_epi16(_mm512_add_epi16(_mm512_mullo_epi16(red, _mm512_set1_epi16(76)),
                                              _mm512_mullo_epi16(green, _mm512_set1_epi16(151))),
                             _mm512_mullo_epi16(blue, _mm512_set1_epi16(28)));
        const __m512i index = _mm512_sub_epi16(c255, _mm512_srli_epi16(sum, 8));
        const __m512i b0 = _mm512_permutex2var_epi16(table[0], index, table[1]);
        const __m512i b1 = _mm512_permutex2var_epi16(table[2], index, table[3]);
        const __m512i b2 = _mm512_permutex2var_epi16(table[4], index, table[5]);
        const __m512i b3 = _mm512_permutex2var_epi16(table[6], index, table[7]);
        const __mmask32 bit6 = _mm512_test_epi16_mask(index, _mm512_set1_epi16(64));
        const __mmask32 bit7 = _mm512_test_epi16_mask(index, _mm512_set1_epi16(128));
        const __m512i value = _mm512_mask_blend_epi16(bit7, _mm512_mask_blend_epi16(bit6, b0, b1),
                                                      _mm512_mask_blend_epi16(bit6, b2, b3));
        _mm512_storeu_si512(out + x, value);
    }
    return x;
}
#endif

void FillMonochromeValues(const PrinterJob& job, const wce::BYTE* line) {
    const std::int16_t* tone = job.buffers.greyTone.get();
    std::int16_t* out = job.buffers.blackValues.get();
    const int width = job.pageWidth;
    int x = 0;
#if defined(QX_TONE_AVX2)
    if (g_vectors == ToneVectors::kWidest && WideGreyAvailable()) {
        x = FillMonochromeWide(tone, line, out, width);
        line += 3 * x;
    }
#endif
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

// Diffuses cyan, magenta and yellow into the page row, after black. Their random seeds
// are drawn in that order, each only when the plane needs one, as separate passes would.
template <bool kMasked>
int DiffuseColourPlanes(PrinterJob& job, const wce::BYTE* mask, RowMerge merge) {
    const int width = job.pageWidth;
    if (width <= 0) return 0;
    const PageBuffers& b = job.buffers;
    const ColourPlane planes[kColourPlanes] = {
        {b.cyanValues.get(), b.cyanError.get(), WorkOf(job, 0)},
        {b.magentaValues.get(), b.magentaError.get(), WorkOf(job, 1)},
        {b.yellowValues.get(), b.yellowError.get(), WorkOf(job, 2)}};
    const int levels[kColourPlanes] = {job.cyanLevel, job.magentaLevel, job.yellowLevel};
    const bool even = (job.rowParity & 1) == 0;
    const bool drawn = DrawnAhead();
    Diffusion s[kColourPlanes];
    bool active[kColourPlanes];
    ForEachPlane([&](auto k) {
        const ColourPlane& p = planes[k];
        active[k] = even ? StartPlane<1, kMasked>(s[k], p.values, p.error, mask, width, levels[k],
                                                  p.work, drawn)
                         : StartPlane<-1, kMasked>(s[k], p.values, p.error, mask, width, levels[k],
                                                   p.work, drawn);
    });
    wce::BYTE* bits = job.buffers.colourBits.get();
    std::memset(bits, 0, static_cast<std::size_t>(job.bytesPerRow));
    // A row beyond the page is still diffused, for the error it passes on.
    wce::BYTE* row = job.nextRow < 0 || job.nextRow >= job.allocatedRows
                         ? nullptr
                         : job.pageImage + static_cast<std::size_t>(job.nextRow) * job.bytesPerRow;
    if (row && merge == RowMerge::kReplace) {
        std::memset(row, 0, static_cast<std::size_t>(job.bytesPerRow));
    }
    if (row && active[0] && active[1] && active[2]) {
        if (drawn) {
            even ? RunThreePlanes<1, kMasked, true>(s, planes, row, bits, mask, width)
                 : RunThreePlanes<-1, kMasked, true>(s, planes, row, bits, mask, width);
        } else {
            even ? RunThreePlanes<1, kMasked, false>(s, planes, row, bits, mask, width)
                 : RunThreePlanes<-1, kMasked, false>(s, planes, row, bits, mask, width);
        }
        return 1;
    }
    // An idle plane has no dots; the others go one at a time.
    ForEachPlane([&](auto k) {
        std::memset(bits, 0, static_cast<std::size_t>(job.bytesPerRow));
        if (!active[k]) return;
        const ColourPlane& p = planes[k];
        if (drawn) {
            even ? RunPlane<1, kMasked, true>(s[k], p.values, p.error, bits, mask, width, p.work)
                 : RunPlane<-1, kMasked, true>(s[k], p.values, p.error, bits, mask, width, p.work);
        } else {
            even ? RunPlane<1, kMasked, false>(s[k], p.values, p.error, bits, mask, width, p.work)
                 : RunPlane<-1, kMasked, false>(s[k], p.values, p.error, bits, mask, width, p.work);
        }
        if (row) {
            for (int i = 0; i < job.bytesPerRow; ++i) row[i] |= bits[i];
        }
    });
    return 1;
}

int DiffuseBlack(PrinterJob& job) {
    PageBuffers& b = job.buffers;
    return DiffuseRow(job, b.blackValues.get(), b.blackError.get(), b.blackBits.get(), nullptr,
                      job.blackLevel);
}

int ConvertColourRow(PrinterJob& job, const wce::BYTE* line) {
    FillColourValues(job, line);
    if (job.noBlackInk != 0) return DiffuseColourPlanes<false>(job, nullptr, RowMerge::kReplace);
    if (!DiffuseBlack(job)) return 0;
    return DiffuseColourPlanes<true>(job, job.buffers.blackBits.get(), RowMerge::kUnion);
}

// The buffers are allocated all or none, and three planes only in colour mode.
bool ColourBuffersReady(const PrinterJob& job) {
    return job.buffers.diffusionPlanes >= kColourPlanes;
}

#if defined(QX_TONE_AVX2)
// The rows of a band of a monochrome page run in 32 vector lanes, lane j over the row's
// dots j * part to (j + 1) * part - 1 (part = a 32nd of the row), each started kLaneLead
// dots early with no carry. A lane that has not met the true carry by the start of its
// part is done again from there, dot by dot, until it does; either way every dot and
// every error come out as the single pass would have them. The error stays in the lanes
// from row to row, in both directions, and goes back into the row's order when the band
// ends. A row with grey dots has its values and perturbations put into the lanes and its
// dots taken out of them; a row of white and full black alone prints exactly its black
// dots, and each dot leaves its incoming error plus the carry, so its pass is the carries
// alone; with no error coming in it passes none on and needs no pass.
constexpr int kLaneMinWidth = 256;
constexpr int kLaneMaxPart = 64;  // 2048 dots
constexpr int kLead = static_cast<int>(kLaneLead);

// Carry() in every lane: 7q - bias, and the term of the low nibble and the sign looked up
// in one 32-entry table.
struct CarryTables {
    std::int32_t above[16] = {};
    std::int32_t below[16] = {};
    constexpr CarryTables() {
        for (int m = 0; m < 16; ++m) {
            above[m] = static_cast<std::int32_t>((kCarryTermsAbove >> (4 * m)) & 15);
            below[m] = static_cast<std::int32_t>((kCarryTermsBelow >> (4 * m)) & 15);
        }
    }
};
constexpr CarryTables kCarryTables;

// The incoming error plus the carry of e, in each lane; the term comes last, the longest
// way.
__attribute__((target("avx512f"))) inline __m512i PlusCarryWide(__m512i e, __m512i incoming,
                                                                __m512i above, __m512i below) {
    const __m512i q = _mm512_srai_epi32(e, 4);
    const __m512i base = _mm512_add_epi32(_mm512_sub_epi32(incoming, _mm512_set1_epi32(kCarryBias)),
                                          _mm512_sub_epi32(_mm512_slli_epi32(q, 3), q));
    // Index bits 0-3: the low nibble; bit 4: the sign.
    const __m512i index =
        _mm512_ternarylogic_epi32(_mm512_set1_epi32(15), e, _mm512_srli_epi32(e, 27), 0xCA);
    return _mm512_add_epi32(base, _mm512_permutex2var_epi32(above, index, below));
}

// Rows of a 16 x 16 block become its columns.
__attribute__((target("avx512f"))) inline void Transpose16(__m512i (&r)[16]) {
    __m512i t[16];
    for (int i = 0; i < 8; ++i) {
        t[2 * i] = _mm512_unpacklo_epi32(r[2 * i], r[2 * i + 1]);
        t[2 * i + 1] = _mm512_unpackhi_epi32(r[2 * i], r[2 * i + 1]);
    }
    // u[4g + j]: in 128-bit part p, column 4p + j of rows 4g to 4g + 3.
    __m512i u[16];
    for (int g = 0; g < 4; ++g) {
        u[4 * g] = _mm512_unpacklo_epi64(t[4 * g], t[4 * g + 2]);
        u[4 * g + 1] = _mm512_unpackhi_epi64(t[4 * g], t[4 * g + 2]);
        u[4 * g + 2] = _mm512_unpacklo_epi64(t[4 * g + 1], t[4 * g + 3]);
        u[4 * g + 3] = _mm512_unpackhi_epi64(t[4 * g + 1], t[4 * g + 3]);
    }
    for (int j = 0; j < 4; ++j) {
        const __m512i even01 = _mm512_shuffle_i32x4(u[j], u[4 + j], 0x88);
        const __m512i odd01 = _mm512_shuffle_i32x4(u[j], u[4 + j], 0xDD);
        const __m512i even23 = _mm512_shuffle_i32x4(u[8 + j], u[12 + j], 0x88);
        const __m512i odd23 = _mm512_shuffle_i32x4(u[8 + j], u[12 + j], 0xDD);
        r[j] = _mm512_shuffle_i32x4(even01, even23, 0x88);
        r[4 + j] = _mm512_shuffle_i32x4(odd01, odd23, 0x88);
        r[8 + j] = _mm512_shuffle_i32x4(even01, even23, 0xDD);
        r[12 + j] = _mm512_shuffle_i32x4(odd01, odd23, 0xDD);
    }
}

// The lanes of the black plane: step t of lane j is the row's dot j * part + t, lanes 0 to
// 15 in the first vector of a step. Incoming errors and the dots' values with their
// perturbations have lead steps on both sides of the part, the errors the dots leave a
// guard step; whether each dot prints is kept as 0 or 1.
struct RowLanes {
    int width;
    int part;
    std::int32_t* incoming;
    std::int32_t* left;
    std::int32_t* packed;
    std::int32_t* prints;

    std::int32_t* In(int t) const { return incoming + 32 * (t + kLead); }
    std::int32_t* Left(int t) const { return left + 32 * (t + 1); }
    std::int32_t* Packed(int t) const { return packed + 32 * (t + kLead); }
    std::int32_t* Prints(int t) const { return prints + 32 * t; }
};

RowLanes LanesOf(const PrinterJob& job) {
    const int part = job.pageWidth / 32;
    std::int32_t* work = job.buffers.laneWork.get();
    std::int32_t* left = work + 32 * (part + 2 * kLead);
    std::int32_t* packed = left + 32 * (part + 2);
    return {job.pageWidth, part, work, left, packed, packed + 32 * (part + 2 * kLead)};
}

bool LanesFit(const PrinterJob& job) {
    return DrawnAhead() && !job.colourMode && job.buffers.laneWork &&
           job.pageWidth >= kLaneMinWidth && job.pageWidth % 32 == 0 &&
           job.pageWidth / 32 <= kLaneMaxPart;
}

// Lane j of the result is lane j - 1 of the pair (from, to) going up, or lane j + 1 going
// down; zero comes in at the end.
__attribute__((target("avx512f"))) inline void ShiftLanes(const std::int32_t* from,
                                                          std::int32_t* to, bool up) {
    const __m512i a = _mm512_loadu_si512(from), b = _mm512_loadu_si512(from + 16);
    const __m512i zero = _mm512_setzero_si512();
    if (up) {
        const __m512i index =
            _mm512_setr_epi32(15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30);
        _mm512_storeu_si512(to, _mm512_permutex2var_epi32(zero, index, a));
        _mm512_storeu_si512(to + 16, _mm512_permutex2var_epi32(a, index, b));
    } else {
        const __m512i index =
            _mm512_setr_epi32(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
        _mm512_storeu_si512(to, _mm512_permutex2var_epi32(a, index, b));
        _mm512_storeu_si512(to + 16, _mm512_permutex2var_epi32(b, index, zero));
    }
}

// Between the row's values in the order of its dots and the lanes' steps 0 to part - 1
// (a step each 32 values on): into the lanes, or out of them.
__attribute__((target("avx512f"))) void TurnLanes(const std::int32_t* from, std::int32_t* to,
                                                  int part, bool into) {
    for (int set = 0; set < 2; ++set) {
        for (int t0 = 0; t0 < part; t0 += 16) {
            const int n = std::min(16, part - t0);
            const auto keep = static_cast<__mmask16>((1u << n) - 1);
            __m512i r[16];
            for (int i = 0; i < 16; ++i) {
                r[i] = into    ? _mm512_maskz_loadu_epi32(keep, from + (16 * set + i) * part + t0)
                       : i < n ? _mm512_loadu_si512(from + 32 * (t0 + i) + 16 * set)
                               : _mm512_setzero_si512();
            }
            Transpose16(r);
            for (int i = 0; i < 16; ++i) {
                if (!into) {
                    _mm512_mask_storeu_epi32(to + (16 * set + i) * part + t0, keep, r[i]);
                } else if (i < n) {
                    _mm512_storeu_si512(to + 32 * (t0 + i) + 16 * set, r[i]);
                }
            }
        }
    }
}

// The row's error into the lanes and back, by way of 32-bit values in the row's order.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void ErrorIntoLanes(const std::int16_t* error,
                                                                         const RowLanes& l,
                                                                         std::int32_t* wide) {
    for (int x = 0; x < l.width; x += 16) {
        _mm512_storeu_si512(
            wide + x,
            _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(error + x))));
    }
    TurnLanes(wide, l.In(0), l.part, true);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void ErrorOutOfLanes(const RowLanes& l,
                                                                          std::int16_t* error,
                                                                          std::int32_t* wide) {
    TurnLanes(l.In(0), wide, l.part, false);
    for (int x = 0; x < l.width; x += 16) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(error + x),
                            _mm512_cvtepi32_epi16(_mm512_loadu_si512(wide + x)));
    }
}

// A row's values, the perturbations drawn for its grey dots, and the level a printed dot
// takes away.
struct RowDots {
    const std::int16_t* values;
    const std::int32_t* noise;
    int level;
};

// The same in the lanes: each dot's value in the low half of a 32-bit lane, its
// perturbation (at most 4096 either way) in the high half.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void GreyIntoLanes(const RowDots& row,
                                                                        const RowLanes& l,
                                                                        std::int32_t* wide) {
    for (int x = 0; x < l.width; x += 16) {
        const __m512i value = _mm512_cvtepu16_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row.values + x)));
        const __m512i noise = _mm512_slli_epi32(_mm512_loadu_si512(row.noise + x), 16);
        _mm512_storeu_si512(wide + x, _mm512_or_si512(noise, value));
    }
    TurnLanes(wide, l.Packed(0), l.part, true);
}

// One row's pass in the lanes, in scan order, then the next row's incoming error. A row
// of white and black alone needs no more than the carries; its dots are its black ones.
// A row with grey dots has each dot decided as the single pass decides it, and which of
// them print is kept in the lanes.
template <int kStep, bool kGrey>
__attribute__((target("avx512f,avx512bw,avx512vl"))) void RunLanes(const RowLanes& l,
                                                                   const RowDots& row) {
    const int part = l.part;
    // A lane's lead steps are the steps of the lane before it in scan order.
    if constexpr (kStep > 0) {
        for (int t = -1; t >= -kLead; --t) {
            ShiftLanes(l.In(t + part), l.In(t), true);
            if constexpr (kGrey) ShiftLanes(l.Packed(t + part), l.Packed(t), true);
        }
    } else {
        for (int t = 0; t < kLead; ++t) {
            ShiftLanes(l.In(t), l.In(part + t), false);
            if constexpr (kGrey) ShiftLanes(l.Packed(t), l.Packed(part + t), false);
        }
    }
    const __m512i above = _mm512_loadu_si512(kCarryTables.above);
    const __m512i below = _mm512_loadu_si512(kCarryTables.below);
    const int first = kStep > 0 ? -kLead : part + kLead - 1;
    const int last = kStep > 0 ? part - 1 : 0;
    const int leadEnd = kStep > 0 ? -1 : part;
    alignas(64) std::int32_t lead[32];
    if constexpr (!kGrey) {
        __m512i e[2] = {_mm512_loadu_si512(l.In(first)), _mm512_loadu_si512(l.In(first) + 16)};
        for (int t = first;; t += kStep) {
            if (t >= 0 && t < part) {
                _mm512_storeu_si512(l.Left(t), e[0]);
                _mm512_storeu_si512(l.Left(t) + 16, e[1]);
            } else if (t == leadEnd) {
                _mm512_store_si512(lead, e[0]);
                _mm512_store_si512(lead + 16, e[1]);
            }
            if (t == last) break;
            for (int set = 0; set < 2; ++set) {
                e[set] = PlusCarryWide(e[set], _mm512_loadu_si512(l.In(t + kStep) + 16 * set),
                                       above, below);
            }
        }
    } else {
        const __m512i low16 = _mm512_set1_epi32(0xFFFF);
        const __m512i greyBits = _mm512_set1_epi32(0xFFFF & ~kDarknessFull);
        const __m512i threshold = _mm512_set1_epi32(kDotThreshold);
        const __m512i level = _mm512_set1_epi32(row.level);
        const __m512i one = _mm512_set1_epi32(1);
        __m512i carry[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
        for (int t = first;; t += kStep) {
            for (int set = 0; set < 2; ++set) {
                const __m512i packed = _mm512_loadu_si512(l.Packed(t) + 16 * set);
                const __m512i sum =
                    _mm512_add_epi32(_mm512_loadu_si512(l.In(t) + 16 * set), carry[set]);
                // White and full black: the sum as it is; grey: with the value, in 16 bits.
                const __mmask16 grey = _mm512_test_epi32_mask(packed, greyBits);
                const __m512i darkness = _mm512_srai_epi32(
                    _mm512_slli_epi32(_mm512_add_epi32(sum, _mm512_and_si512(packed, low16)), 16),
                    16);
                const __mmask16 printsGrey = _mm512_mask_cmpgt_epi32_mask(
                    grey, darkness, _mm512_sub_epi32(threshold, _mm512_srai_epi32(packed, 16)));
                const __m512i e = _mm512_mask_blend_epi32(
                    grey, sum, _mm512_mask_sub_epi32(darkness, printsGrey, darkness, level));
                const __mmask16 prints = static_cast<__mmask16>(
                    printsGrey | (_mm512_test_epi32_mask(packed, low16) & ~grey));
                if (t >= 0 && t < part) {
                    _mm512_storeu_si512(l.Left(t) + 16 * set, e);
                    _mm512_storeu_si512(l.Prints(t) + 16 * set,
                                        _mm512_maskz_mov_epi32(prints, one));
                } else if (t == leadEnd) {
                    _mm512_store_si512(lead + 16 * set, e);
                }
                carry[set] = PlusCarryWide(e, _mm512_setzero_si512(), above, below);
            }
            if (t == last) break;
        }
    }
    // Each lane against the true carry where its part starts, the one the lane before it in
    // scan order passes on, taken once that lane is right: all lanes are compared at once,
    // then a lane that differs is done again, dot by dot as the single pass does them,
    // until a dot comes out as the lane had it. One done again to its end changes what the
    // next lane must meet.
    const int from = kStep > 0 ? part - 1 : 0;
    alignas(64) std::int32_t before[32];
    ShiftLanes(l.Left(from), before, kStep > 0);
    std::uint32_t apart = 0;
    for (int set = 0; set < 2; ++set) {
        const __m512i zero = _mm512_setzero_si512();
        apart |= static_cast<std::uint32_t>(_mm512_cmpneq_epi32_mask(
                     PlusCarryWide(_mm512_load_si512(lead + 16 * set), zero, above, below),
                     PlusCarryWide(_mm512_load_si512(before + 16 * set), zero, above, below)))
                 << (16 * set);
    }
    bool changed = false;
    for (int n = 1; n < 32 && (apart != 0 || changed); ++n) {
        const int j = kStep > 0 ? n : 31 - n;
        const bool flagged = ((apart >> j) & 1) != 0;
        apart &= ~(1u << j);
        if (!flagged && !changed) continue;
        changed = false;
        int c = Carry(l.Left(from)[j - kStep]);
        if (c == Carry(lead[j])) continue;
        ++g_rowsRedone;
        for (int t = kStep > 0 ? 0 : part - 1; t >= 0 && t < part; t += kStep) {
            const int x = j * part + t;
            int next = c;
            unsigned print = 0;
            std::int32_t e;
            ChainDot<0>(next, print, row.values[x], l.In(t)[j], row.noise[x], e, row.level);
            if constexpr (kGrey) {
                if (e == l.Left(t)[j] && print == static_cast<unsigned>(l.Prints(t)[j])) break;
                l.Prints(t)[j] = static_cast<std::int32_t>(print);
            } else {
                if (e == l.Left(t)[j]) break;
            }
            l.Left(t)[j] = e;
            c = next;
            changed = t == from;
        }
    }
    // The next row's error: a sixteenth from the dot before (in scan order), five from the
    // dot itself and three from the dot after, kept to 16 bits; the guard steps hold the
    // neighbouring lanes' ends, zero beyond the row.
    ShiftLanes(l.Left(part - 1), l.Left(-1), true);
    ShiftLanes(l.Left(0), l.Left(part), false);
    for (int t = 0; t < part; ++t) {
        for (int set = 0; set < 2; ++set) {
            const __m512i sum =
                NextRowErrorWide<kStep>(_mm512_loadu_si512(l.Left(t - 1) + 16 * set),
                                        _mm512_loadu_si512(l.Left(t) + 16 * set),
                                        _mm512_loadu_si512(l.Left(t + 1) + 16 * set));
            _mm512_storeu_si512(l.In(t) + 16 * set,
                                _mm512_srai_epi32(_mm512_slli_epi32(sum, 16), 16));
        }
    }
}

bool AnyError(const std::int16_t* error, int width) {
    std::uint16_t any = 0;
    for (int x = 0; x < width; ++x) any |= static_cast<std::uint16_t>(error[x]);
    return any != 0;
}

// Whether every lane's incoming error is 0.
__attribute__((target("avx512f"))) bool LanesQuiet(const RowLanes& l) {
    __m512i any = _mm512_setzero_si512();
    for (int t = 0; t < l.part; ++t) {
        any = _mm512_or_si512(
            any, _mm512_or_si512(_mm512_loadu_si512(l.In(t)), _mm512_loadu_si512(l.In(t) + 16)));
    }
    return _mm512_test_epi32_mask(any, any) == 0;
}

// The dots of a row of white and full black: the black ones.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void TwoToneBits(const std::int16_t* values,
                                                                      wce::BYTE* bits, int width) {
    for (int x = 0; x < width; x += 32) {
        const std::uint32_t full = _mm512_cmpeq_epi16_mask(_mm512_loadu_si512(values + x),
                                                           _mm512_set1_epi16(kDarknessFull));
        for (int b = 0; b < 4; ++b) bits[x / 8 + b] = kBitReversal[(full >> (8 * b)) & 255];
    }
}

// The dots of a row with grey dots, from the lanes' prints put back in the row's order.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void LaneBits(const RowLanes& l,
                                                                   wce::BYTE* bits,
                                                                   std::int32_t* wide) {
    TurnLanes(l.Prints(0), wide, l.part, false);
    for (int x = 0; x < l.width; x += 16) {
        const __m512i p = _mm512_loadu_si512(wide + x);
        const unsigned prints = _mm512_test_epi32_mask(p, p);
        bits[x / 8] = kBitReversal[prints & 255];
        bits[x / 8 + 1] = kBitReversal[prints >> 8];
    }
}

// ConvertRows for a monochrome page whose rows fit the lanes.
int ConvertRowsInLanes(PrinterJob& job, const wce::BYTE* first, std::ptrdiff_t stride, int count) {
    const RowLanes lanes = LanesOf(job);
    const int width = job.pageWidth;
    PageBuffers& b = job.buffers;
    const PlaneWork work = WorkOf(job, 0);
    bool inLanes = false;
    for (int i = 0; i < count && job.nextRow >= 0 && job.nextRow < job.allocatedRows; ++i) {
        FillMonochromeValues(job, first + i * stride);
        const std::int16_t* values = b.blackValues.get();
        const bool even = (job.rowParity & 1) == 0;
        // The perturbations of the grey dots, drawn as the single pass draws them (nothing
        // drawn for a row without grey dots); the work's error slots hold the numbers.
        const bool grey =
            even ? DrawNoiseWide<1, false>(values, nullptr, width, work.noise, work.left)
                 : DrawNoiseWide<-1, false>(values, nullptr, width, work.noise, work.left);
        // With no error coming in a row of white and black passes none on.
        if (!inLanes && (grey || AnyError(b.blackError.get(), width))) {
            ErrorIntoLanes(b.blackError.get(), lanes, work.left);
            inLanes = true;
        }
        wce::BYTE* row = job.pageImage + static_cast<std::size_t>(job.nextRow) * job.bytesPerRow;
        std::memset(row, 0, static_cast<std::size_t>(job.bytesPerRow));
        const RowDots dots{values, work.noise, job.blackLevel};
        if (grey) {
            GreyIntoLanes(dots, lanes, work.left);
            even ? RunLanes<1, true>(lanes, dots) : RunLanes<-1, true>(lanes, dots);
            LaneBits(lanes, row, work.noise);
        } else {
            if (inLanes && !LanesQuiet(lanes)) {
                even ? RunLanes<1, false>(lanes, dots) : RunLanes<-1, false>(lanes, dots);
            }
            TwoToneBits(values, row, width);
        }
        ++job.rowParity;
        ++job.nextRow;
    }
    if (inLanes) ErrorOutOfLanes(lanes, b.blackError.get(), work.left);
    return 1;
}
#endif

}  // namespace

void LimitToneVectors(ToneVectors limit) {
    g_vectors = limit;
}

std::uint64_t RowsRedone() {
    return g_rowsRedone;
}

void BuildToneTables(PrinterJob& job) {
    PageBuffers& b = job.buffers;
    if (b.greyTone) FillTable16(b.greyTone.get(), 2, 1.4);
    if (b.colourTone) FillTable16(b.colourTone.get(), 1, 1.3);
    if (b.lightness) {
        b.lightness[0] = 0;
        for (int i = 1; i < 255; ++i) {
            b.lightness[i] = static_cast<wce::BYTE>(ToneEntry(i, 2.1, 1.0 / 255));
        }
        b.lightness[255] = 255;
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
    if (!job.pageImage || !values || !error || !bits || width <= 0 ||
        job.buffers.diffusionPlanes < 1) {
        return 0;
    }
    std::memset(bits, 0, static_cast<std::size_t>(job.bytesPerRow));
    const PlaneWork work = WorkOf(job, 0);
    if ((job.rowParity & 1) == 0) {
        mask ? DiffuseDots<1, true>(values, error, bits, mask, width, level, work)
             : DiffuseDots<1, false>(values, error, bits, mask, width, level, work);
    } else {
        mask ? DiffuseDots<-1, true>(values, error, bits, mask, width, level, work)
             : DiffuseDots<-1, false>(values, error, bits, mask, width, level, work);
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

int ConvertRows(PrinterJob& job, const wce::BYTE* first, std::ptrdiff_t stride, int count) {
    if (!first || !job.pageImage || job.buffers.diffusionPlanes < 1) return 0;
#if defined(QX_TONE_AVX2)
    if (count > 1 && LanesFit(job)) return ConvertRowsInLanes(job, first, stride, count);
#endif
    for (int i = 0; i < count; ++i) {
        if (!ConvertRow(job, first + i * stride)) return 0;
    }
    return 1;
}

int ConvertRow(PrinterJob& job, const wce::BYTE* scanLine) {
    // The buffers are allocated all or none.
    if (!scanLine || !job.pageImage || job.buffers.diffusionPlanes < 1) return 0;
    // The page has no room for rows beyond its capacity.
    if (job.nextRow < 0 || job.nextRow >= job.allocatedRows) return 1;
    int ok;
    if (job.colourMode) {
        if (!ColourBuffersReady(job)) return 0;
        ok = ConvertColourRow(job, scanLine);
    } else {
        FillMonochromeValues(job, scanLine);
        ok = DiffuseBlack(job);
    }
    if (!ok) return 0;
    ++job.rowParity;
    ++job.nextRow;
    return 1;
}

}  // namespace qx470
