#include "tone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

#include "page_test_support.h"
#include "wce/base.h"

namespace qx470 {
namespace {

using pagetest::Dot;
using pagetest::OwnedJob;
using pagetest::PageOptions;
using pagetest::SetUpPage;

std::vector<wce::BYTE> UniformLine(int width, wce::BYTE b, wce::BYTE g, wce::BYTE r) {
    std::vector<wce::BYTE> line(static_cast<std::size_t>(width) * 3);
    for (int x = 0; x < width; ++x) {
        line[x * 3] = b, line[x * 3 + 1] = g, line[x * 3 + 2] = r;
    }
    return line;
}

int ColourTone(int i) {
    return static_cast<int>(8192.0 / std::pow(255.0, 1.3) * std::pow(i, 1.3) + 0.5);
}

TEST(ToneTables, SampleEntriesAndEnds) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.colour = true}), 1);
    const PrinterJob& job = o.job;
    EXPECT_EQ(job.buffers.greyTone[0], 0);
    EXPECT_EQ(job.buffers.greyTone[1], 0);
    EXPECT_EQ(job.buffers.greyTone[16], 170);
    EXPECT_EQ(job.buffers.greyTone[64], 1183);
    EXPECT_EQ(job.buffers.greyTone[128], 3121);
    EXPECT_EQ(job.buffers.greyTone[192], 5506);
    EXPECT_EQ(job.buffers.greyTone[254], 8147);
    EXPECT_EQ(job.buffers.greyTone[255], 8192);
    EXPECT_EQ(job.buffers.colourTone[0], 0);
    EXPECT_EQ(job.buffers.colourTone[1], 6);
    EXPECT_EQ(job.buffers.colourTone[128], 3344);
    EXPECT_EQ(job.buffers.colourTone[254], 8150);
    EXPECT_EQ(job.buffers.colourTone[255], 8192);
    EXPECT_EQ(job.buffers.lightness[0], 0);
    EXPECT_EQ(job.buffers.lightness[64], 14);
    EXPECT_EQ(job.buffers.lightness[128], 60);
    EXPECT_EQ(job.buffers.lightness[192], 141);
    EXPECT_EQ(job.buffers.lightness[255], 255);
    for (int i = 1; i < 256; ++i)
        EXPECT_GE(job.buffers.greyTone[i], job.buffers.greyTone[i - 1]) << i;
    EXPECT_EQ(job.blackLevel, 10649);
    EXPECT_EQ(job.cyanLevel, 9011);
    EXPECT_EQ(job.magentaLevel, 9830);
    EXPECT_EQ(job.yellowLevel, 9011);
}

TEST(ConvertRow, WhiteRowPrintsNothingAndPassesErrorOn) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 64, .rows = 4}), 1);
    for (int x = 0; x < 64; ++x) o.job.buffers.blackError[x] = 3000;
    wce::srand(5);
    const int firstRandom = wce::rand();
    wce::srand(5);
    const auto line = UniformLine(64, 255, 255, 255);
    ASSERT_EQ(ConvertRow(o.job, line.data()), 1);
    for (int i = 0; i < o.job.bytesPerRow; ++i) EXPECT_EQ(o.job.pageImage[i], 0) << i;
    // The error travels on, less what falls off the row's ends.
    const int after =
        std::accumulate(o.job.buffers.blackError.get(), o.job.buffers.blackError.get() + 64, 0);
    EXPECT_GT(after, 64 * 3000 - 2 * 3000);
    EXPECT_LE(after, 64 * 3000);
    EXPECT_EQ(wce::rand(), firstRandom);
    EXPECT_EQ(o.job.nextRow, 1);
    EXPECT_EQ(o.job.rowParity, 1);
}

TEST(ConvertRow, BlackRowPrintsEveryDotWithoutRandomNumbers) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 64, .rows = 4}), 1);
    wce::srand(9);
    const int firstRandom = wce::rand();
    wce::srand(9);
    const auto line = UniformLine(64, 0, 0, 0);
    ASSERT_EQ(ConvertRow(o.job, line.data()), 1);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(o.job.pageImage[i], 0xFF) << i;
    EXPECT_EQ(wce::rand(), firstRandom);
    // With no incoming error a black dot passes none on.
    for (int x = 0; x < 64; ++x) EXPECT_EQ(o.job.buffers.blackError[x], 0) << x;
}

// Where one grey dot's error ends up shows the direction of the scan.
TEST(ConvertRow, ConsecutiveRowsScanInOppositeDirections) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 64, .rows = 4}), 1);
    auto line = UniformLine(64, 255, 255, 255);
    line[30 * 3] = line[30 * 3 + 1] = line[30 * 3 + 2] = 128;
    for (int row = 0; row < 2; ++row) {
        std::fill(o.job.buffers.blackError.get(), o.job.buffers.blackError.get() + 64, 0);
        ASSERT_EQ(ConvertRow(o.job, line.data()), 1);
        const int left =
            std::accumulate(o.job.buffers.blackError.get(), o.job.buffers.blackError.get() + 29, 0);
        const int right = std::accumulate(o.job.buffers.blackError.get() + 32,
                                          o.job.buffers.blackError.get() + 64, 0);
        if (row == 0) {
            EXPECT_EQ(left, 0);
            EXPECT_NE(right, 0);
        } else {
            EXPECT_NE(left, 0);
            EXPECT_EQ(right, 0);
        }
    }
}

// The diffusion written out plainly, dot by dot, with the next row in its own buffer
// with guard elements. Rows draw their random numbers from a generator seeded from two
// wce::rand() values when they have a grey dot.
struct PlainDiffusion {
    int width;
    std::vector<std::int16_t> error;

    std::vector<wce::BYTE> Row(std::vector<std::int16_t> v, const wce::BYTE* mask, int level,
                               int parity) {
        std::vector<wce::BYTE> bits((width + 7) / 8);
        std::vector<std::int16_t> next(width + 2);
        auto masked = [&](int x) { return mask && (mask[x / 8] & (0x80 >> (x % 8))); };
        std::uint32_t state = 0;
        for (int x = 0; x < width; ++x) {
            if (v[x] != 0 && v[x] != 8192 && !masked(x)) {
                state = static_cast<std::uint32_t>(wce::rand()) << 15 | wce::rand();
                break;
            }
        }
        const int step = parity % 2 == 0 ? 1 : -1;
        int c = 0, p = 0;
        for (int i = 0; i < width; ++i) {
            const int x = step > 0 ? i : width - 1 - i;
            int e;
            if (v[x] == 0 || masked(x)) {
                e = error[x] + v[x] + c;
            } else if (v[x] == 8192) {
                bits[x / 8] |= 0x80 >> (x % 8);
                e = error[x] + c;
            } else {
                state = state * 214013u + 2531011u;
                const int r = (state >> 16) & 0x7FFF;
                int d = (v[x] - 4096) * r / 32767;
                if ((d > 0 && p > 0) || (d < 0 && p < 0)) d = -d;
                p = d;
                v[x] = static_cast<std::int16_t>(error[x] + v[x] + c);
                e = v[x];
                if (e + d > 4096) {
                    bits[x / 8] |= 0x80 >> (x % 8);
                    e = v[x] - level;
                }
            }
            next[x + 1 + step] += e / 16;
            next[x + 1] += 5 * e / 16;
            next[x + 1 - step] += 3 * e / 16;
            c = e - 5 * e / 16 - 3 * e / 16 - e / 16;
        }
        std::copy(next.begin() + 1, next.end() - 1, error.begin());
        return bits;
    }
};

// One row through DiffuseRow and through the plain diffusion from the same random numbers:
// the page row and the error for the next row agree.
void ExpectRowMatchesPlain(OwnedJob& o, PlainDiffusion& plain,
                           const std::vector<std::int16_t>& values,
                           std::vector<std::int16_t>& error, const wce::BYTE* mask, int level,
                           int row, wce::BYTE* bits) {
    o.job.rowParity = row;
    o.job.nextRow = row;
    wce::srand(static_cast<unsigned>(row));
    const auto expected = plain.Row(values, mask, level, row);
    wce::srand(static_cast<unsigned>(row));
    ASSERT_EQ(DiffuseRow(o.job, values.data(), error.data(), bits, mask, level), 1);
    ASSERT_EQ(std::vector<wce::BYTE>(PageRow(o.job, row), PageRow(o.job, row) + expected.size()),
              expected)
        << "row " << row;
    ASSERT_EQ(error, plain.error) << "row " << row;
}

// Rows of every kind of dot, masks, and errors near the 16-bit limits. Rows of 16 page
// bytes and more run as two chains, which the large errors keep apart past the middle;
// darkness near the threshold draws perturbations of 0, which restart the signs' runs.
TEST(DiffuseRow, MatchesThePlainDiffusion) {
    const std::uint64_t redoneBefore = RowsRedone();
    for (const int width : {77, 133, 576}) {
        SCOPED_TRACE(width);
        OwnedJob o;
        ASSERT_EQ(SetUpPage(o.job, {.width = width, .rows = 256}), 1);
        PlainDiffusion plain{width, std::vector<std::int16_t>(width)};
        std::vector<std::int16_t> error(width);
        unsigned seed = 99;
        auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
        for (int row = 0; row < 256; ++row) {
            std::vector<std::int16_t> values(width);
            std::vector<wce::BYTE> mask((width + 7) / 8);
            for (int x = 0; x < width; ++x) {
                const unsigned kind = next() % 5;
                values[x] = static_cast<std::int16_t>(kind == 0   ? 0
                                                      : kind == 1 ? 8192
                                                      : kind == 2 ? 4090 + next() % 13
                                                                  : next() % 8193);
                // Every other row smooth tones with grain, as in photographs.
                if (row % 2 == 1)
                    values[x] = static_cast<std::int16_t>(2596 + (x * 37 + row * 11) % 3000 +
                                                          static_cast<int>(next() % 400));
            }
            for (auto& m : mask) m = static_cast<wce::BYTE>(next());
            if (row % 16 == 8) {
                for (int x = 0; x < width; ++x) {
                    plain.error[x] = error[x] = static_cast<std::int16_t>(x % 2 ? 32000 : -32000);
                }
            }
            const bool useMask = row % 3 == 1;
            ASSERT_NO_FATAL_FAILURE(ExpectRowMatchesPlain(o, plain, values, error,
                                                          useMask ? mask.data() : nullptr, 9830,
                                                          row, o.job.buffers.blackBits.get()));
        }
    }
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("bmi2")) {
        EXPECT_GT(RowsRedone(), redoneBefore);
    }
}

// The separation written out with plain divisions.
DotSeparation PlainSeparation(const PrinterJob& job, int b, int g, int r) {
    const bool withBlack = job.noBlackInk == 0;
    if (withBlack && b == g && b == r) return {job.buffers.greyTone[255 - b], 0, 0, 0};
    const int maxV = std::max({r, g, b}), minV = std::min({r, g, b});
    int s = maxV == 0 ? 0 : (maxV - minV) * 255 / maxV;
    int h = 0;
    if (maxV != minV) {
        const int delta = maxV - minV;
        if (r == maxV) {
            h = (g - b) * 255 / delta;
        } else if (g == maxV) {
            h = (b - r) * 255 / delta + 512;
        } else {
            h = (r - g) * 255 / delta + 1024;
        }
        if (h < 0) h += 1536;
    }
    const int v = 255 - job.buffers.lightness[255 - maxV];
    if (b > g && b > r) {
        h = h < 1024 ? (h - 768) * 163 / 255 + 768 : (h - 1280) * (512 - 163) / 255 + 1280;
    } else if (g > b && g > r) {
        h = h < 512 ? (h - 256) * 229 / 255 + 256 : (h - 768) * (512 - 229) / 255 + 768;
    }
    int r2 = v, g2 = v, b2 = v;
    if (s != 0) {
        const int f = h % 256;
        const int p = (255 - s) * v / 255;
        const int q = ((65025 - f * s) * v / 255) / 255;
        const int t = ((65025 - (255 - f) * s) * v / 255) / 255;
        const int sector = h / 256;
        const int rgb[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
        r2 = rgb[sector][0], g2 = rgb[sector][1], b2 = rgb[sector][2];
    }
    DotSeparation out{0, job.buffers.colourTone[255 - r2], job.buffers.colourTone[255 - g2],
                      job.buffers.colourTone[255 - b2]};
    if (withBlack) {
        out.black = std::min({out.cyan, out.magenta, out.yellow});
        out.cyan -= out.black, out.magenta -= out.black, out.yellow -= out.black;
    }
    return out;
}

TEST(SeparateColour, MatchesPlainDivisionsAcrossTheColourCube) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 8, .rows = 2, .colour = true}), 1);
    for (int noBlack = 0; noBlack < 2; ++noBlack) {
        o.job.noBlackInk = noBlack;
        for (int b = 0; b < 256; b += 3) {
            for (int g = 0; g < 256; g += 5) {
                for (int r = 0; r < 256; r += 7) {
                    const DotSeparation want = PlainSeparation(o.job, b, g, r);
                    const DotSeparation got = SeparateColour(o.job, b, g, r);
                    ASSERT_TRUE(got.black == want.black && got.cyan == want.cyan &&
                                got.magenta == want.magenta && got.yellow == want.yellow)
                        << b << " " << g << " " << r << " no black " << noBlack;
                }
            }
        }
    }
}

// Scan lines separate pixels eight at a time where the processor allows; every pixel of
// a row must get what SeparateColour gives it, greys and edges of the cube included.
TEST(ConvertRow, ColourValuesMatchSeparateColourAcrossTheCube) {
    const int width = 1031;
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = width, .rows = 64, .colour = true}), 1);
    std::vector<wce::BYTE> line(static_cast<std::size_t>(width) * 3);
    for (int noBlack = 0; noBlack < 2; ++noBlack) {
        o.job.noBlackInk = noBlack;
        for (int row = 0; row < 64; ++row) {
            for (int x = 0; x < width; ++x) {
                const unsigned n = static_cast<unsigned>(row * width + x);
                // Every 24-bit colour the hash reaches, with runs of grey mixed in.
                const unsigned c = (n * 2654435761u) >> 8;
                wce::BYTE* p = &line[static_cast<std::size_t>(x) * 3];
                if (n % 11 < 3) {
                    p[0] = p[1] = p[2] = static_cast<wce::BYTE>(c);
                } else {
                    p[0] = static_cast<wce::BYTE>(c), p[1] = static_cast<wce::BYTE>(c >> 8),
                    p[2] = static_cast<wce::BYTE>(c >> 16);
                }
                if (n % 97 == 5) p[n % 3] = static_cast<wce::BYTE>(n % 2 ? 255 : 0);
            }
            o.job.nextRow = row;
            ASSERT_EQ(ConvertRow(o.job, line.data()), 1);
            for (int x = 0; x < width; ++x) {
                const wce::BYTE* p = &line[static_cast<std::size_t>(x) * 3];
                const DotSeparation want = PlainSeparation(o.job, p[0], p[1], p[2]);
                ASSERT_TRUE(o.job.buffers.blackValues[x] == want.black &&
                            o.job.buffers.cyanValues[x] == want.cyan &&
                            o.job.buffers.magentaValues[x] == want.magenta &&
                            o.job.buffers.yellowValues[x] == want.yellow)
                    << int{p[0]} << " " << int{p[1]} << " " << int{p[2]} << " no black " << noBlack;
            }
        }
    }
}

// Scan lines made of runs: white, black, mid greys, colours and noise, so rows have
// long stretches without grey dots (with and without error arriving), partial page
// bytes, and black dots under the colour planes' mask.
std::vector<wce::BYTE> RunsLine(int width, unsigned& seed) {
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
    std::vector<wce::BYTE> line(static_cast<std::size_t>(width) * 3);
    const unsigned rowKind = next() % 6;
    for (int x = 0; x < width;) {
        const int run = 1 + static_cast<int>(next() % 40);
        const unsigned kind = rowKind == 0 ? 0 : next() % 6;
        wce::BYTE b = 255, g = 255, r = 255;
        if (kind == 1) b = g = r = 0;
        if (kind == 2) b = g = r = static_cast<wce::BYTE>(next());
        if (kind == 3)
            b = static_cast<wce::BYTE>(next()), g = static_cast<wce::BYTE>(next()),
            r = static_cast<wce::BYTE>(next());
        for (int i = 0; i < run && x < width; ++i, ++x) {
            wce::BYTE* p = &line[static_cast<std::size_t>(x) * 3];
            p[0] = b, p[1] = g, p[2] = r;
            if (kind == 4) {
                p[0] = static_cast<wce::BYTE>(next());
                p[1] = static_cast<wce::BYTE>(next());
                p[2] = static_cast<wce::BYTE>(next());
            }
        }
    }
    return line;
}

// Whole rows against the plain diffusion and separation: the page row and every
// plane's error for the next row.
// Runs of white and of one pure colour, the colour fixed per row, so that on many rows
// only one or two of cyan, magenta and yellow have anything to do.
std::vector<wce::BYTE> PrimariesLine(int width, unsigned& seed) {
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
    static constexpr wce::BYTE kColours[][3] = {{255, 255, 0},   {255, 0, 255}, {0, 255, 255},
                                                {0, 0, 255},     {0, 255, 0},   {255, 0, 0},
                                                {200, 255, 255}, {255, 90, 255}};
    const auto& colour = kColours[next() % 8];
    std::vector<wce::BYTE> line(static_cast<std::size_t>(width) * 3, 255);
    for (int x = 0; x < width;) {
        const int run = 1 + static_cast<int>(next() % 30);
        const bool ink = next() % 2 != 0;
        for (int i = 0; i < run && x < width; ++i, ++x) {
            if (ink) std::copy(colour, colour + 3, &line[static_cast<std::size_t>(x) * 3]);
        }
    }
    return line;
}

void ExpectRowsMatchPlain(int width, bool colour, int noBlack, unsigned seed,
                          std::vector<wce::BYTE> (*makeLine)(int, unsigned&) = RunsLine) {
    const int rows = 160;
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = width, .rows = rows, .colour = colour}), 1);
    PrinterJob& job = o.job;
    job.noBlackInk = noBlack;
    const int bytes = (width + 7) / 8;
    auto zeros = std::vector<std::int16_t>(width);
    PlainDiffusion black{width, zeros}, cyan{width, zeros}, magenta{width, zeros},
        yellow{width, zeros};
    for (int row = 0; row < rows; ++row) {
        if (row % 40 == 20) {
            // Large error arriving on whatever the next rows hold.
            for (int x = 0; x < width; ++x) {
                const auto e = static_cast<std::int16_t>((x * 7919 + row) % 2 ? 30000 : -30000);
                black.error[x] = job.buffers.blackError[x] = e;
                if (colour) cyan.error[x] = job.buffers.cyanError[x] = e;
            }
        }
        const auto line = makeLine(width, seed);
        std::vector<std::int16_t> k(width), c(width), m(width), y(width);
        for (int x = 0; x < width; ++x) {
            const wce::BYTE* p = &line[static_cast<std::size_t>(x) * 3];
            if (colour) {
                const DotSeparation s = PlainSeparation(job, p[0], p[1], p[2]);
                k[x] = static_cast<std::int16_t>(s.black), c[x] = static_cast<std::int16_t>(s.cyan);
                m[x] = static_cast<std::int16_t>(s.magenta);
                y[x] = static_cast<std::int16_t>(s.yellow);
            } else {
                k[x] = job.buffers.greyTone[255 - ((76 * p[2] + 151 * p[1] + 28 * p[0]) >> 8)];
            }
        }
        wce::srand(seed);
        std::vector<wce::BYTE> expected(bytes);
        if (!colour) {
            expected = black.Row(k, nullptr, kBlackLevel, row);
        } else {
            std::vector<wce::BYTE> mask;
            if (noBlack == 0) expected = mask = black.Row(k, nullptr, kBlackLevel, row);
            const wce::BYTE* maskBits = mask.empty() ? nullptr : mask.data();
            for (const auto& plane : {cyan.Row(c, maskBits, kCyanLevel, row),
                                      magenta.Row(m, maskBits, kMagentaLevel, row),
                                      yellow.Row(y, maskBits, kYellowLevel, row)}) {
                for (int i = 0; i < bytes; ++i) expected[i] |= plane[i];
            }
        }
        wce::srand(seed);
        ASSERT_EQ(ConvertRow(job, line.data()), 1);
        ASSERT_EQ(std::vector<wce::BYTE>(PageRow(job, row), PageRow(job, row) + bytes), expected)
            << "row " << row;
        ASSERT_EQ(std::vector<std::int16_t>(job.buffers.blackError.get(),
                                            job.buffers.blackError.get() + width),
                  black.error)
            << "row " << row;
        if (colour) {
            ASSERT_EQ(std::vector<std::int16_t>(job.buffers.cyanError.get(),
                                                job.buffers.cyanError.get() + width),
                      cyan.error);
            ASSERT_EQ(std::vector<std::int16_t>(job.buffers.magentaError.get(),
                                                job.buffers.magentaError.get() + width),
                      magenta.error);
            ASSERT_EQ(std::vector<std::int16_t>(job.buffers.yellowError.get(),
                                                job.buffers.yellowError.get() + width),
                      yellow.error);
        }
    }
}

TEST(ConvertRow, MonochromeRowsMatchThePlainDiffusion) {
    // Widths on either side of the 16- and 32-dot steps of the vector paths.
    for (int width : {576, 77, 8, 3, 31, 32, 33, 47, 48, 49}) {
        SCOPED_TRACE(width);
        ExpectRowsMatchPlain(width, false, 0, 17u + static_cast<unsigned>(width));
    }
}

TEST(ConvertRow, ColourRowsMatchThePlainDiffusion) {
    for (int noBlack = 0; noBlack < 2; ++noBlack) {
        for (int width : {576, 93}) {
            SCOPED_TRACE(testing::Message() << width << " no black " << noBlack);
            ExpectRowsMatchPlain(width, true, noBlack, 5u + static_cast<unsigned>(width));
        }
    }
}

// The paths that processors without the widest vectors take give the same dots.
TEST(ConvertRow, NarrowerVectorPathsMatchThePlainDiffusion) {
    for (ToneVectors limit : {ToneVectors::kAvx2, ToneVectors::kNone}) {
        LimitToneVectors(limit);
        for (int width : {576, 77, 33}) {
            SCOPED_TRACE(testing::Message() << width << " limit " << static_cast<int>(limit));
            ExpectRowsMatchPlain(width, false, 0, 23u + static_cast<unsigned>(width));
            ExpectRowsMatchPlain(width, true, 0, 29u + static_cast<unsigned>(width));
            ExpectRowsMatchPlain(width, true, 1, 31u + static_cast<unsigned>(width), PrimariesLine);
        }
    }
    LimitToneVectors(ToneVectors::kWidest);
}

// Narrow pages (a partial byte only, one whole byte) and rows where some colour planes
// are idle while others carry dots or error.
TEST(ConvertRow, ColourRowsWithIdlePlanesMatchThePlainDiffusion) {
    for (int noBlack = 0; noBlack < 2; ++noBlack) {
        for (int width : {3, 8, 61, 576}) {
            SCOPED_TRACE(testing::Message() << width << " no black " << noBlack);
            ExpectRowsMatchPlain(width, true, noBlack, 11u + static_cast<unsigned>(width));
            ExpectRowsMatchPlain(width, true, noBlack, 3u + static_cast<unsigned>(width),
                                 PrimariesLine);
        }
    }
}

// The perturbations' signs alternate along the grey dots of a row and start again after
// a dot that drew 0 (darkness exactly at the threshold draws 0): such dots, and white or
// black dots between grey ones, at either edge of the sixteen-dot groups the signs are
// worked out in, in rows scanned both ways and ending in a partial group.
TEST(DiffuseRow, PerturbationSignsAcrossGroupEdgesMatchThePlainDiffusion) {
    for (const int width : {77, 576}) {
        SCOPED_TRACE(width);
        OwnedJob o;
        ASSERT_EQ(SetUpPage(o.job, {.width = width, .rows = 48}), 1);
        PlainDiffusion plain{width, std::vector<std::int16_t>(width)};
        std::vector<std::int16_t> error(width);
        for (int row = 0; row < 48; ++row) {
            std::vector<std::int16_t> values(width);
            for (int x = 0; x < width; ++x) {
                const int inGroup = (x + row / 4) % 16;
                const bool edge = inGroup == 0 || inGroup == 15;
                const int kind = row % 4;
                values[x] = static_cast<std::int16_t>(!edge ? 1500 + (x * 97 + row * 31) % 5200
                                                      : kind == 0 ? 4096
                                                      : kind == 1 ? 0
                                                      : kind == 2 ? 8192
                                                                  : (x % 32 == 0 ? 4096 : 3000));
            }
            ASSERT_NO_FATAL_FAILURE(ExpectRowMatchesPlain(o, plain, values, error, nullptr, 10649,
                                                          row, o.job.buffers.blackBits.get()));
        }
    }
}

// Stretches of white and full black with no error coming in, and the dots around them:
// masked black dots there still pass their darkness on, and an error arriving along
// the row or from the row before must not be lost.
TEST(DiffuseRow, StillStretchesMatchThePlainDiffusion) {
    for (int width : {64, 77}) {
        OwnedJob o;
        ASSERT_EQ(SetUpPage(o.job, {.width = width, .rows = 200}), 1);
        PlainDiffusion plain{width, std::vector<std::int16_t>(width)};
        std::vector<std::int16_t> error(width);
        unsigned seed = 7;
        auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
        for (int row = 0; row < 200; ++row) {
            std::vector<std::int16_t> values(width);
            for (int x = 0; x < width;) {
                const unsigned kind = next() % 8;
                const auto v = static_cast<std::int16_t>(kind < 4   ? 0
                                                         : kind < 7 ? 8192
                                                                    : 1 + next() % 8191);
                for (int run = 1 + static_cast<int>(next() % 20); run > 0 && x < width; --run) {
                    values[x++] = v;
                }
            }
            if (row % 5 == 0) std::fill(error.begin(), error.end(), 0);
            if (row % 7 == 3)
                error[next() % width] = static_cast<std::int16_t>(next() % 2000 - 1000);
            plain.error = error;
            std::vector<wce::BYTE> mask((width + 7) / 8);
            for (auto& m : mask) m = next() % 3 == 0 ? static_cast<wce::BYTE>(next()) : 0;
            const bool useMask = row % 2 == 1;
            ASSERT_NO_FATAL_FAILURE(ExpectRowMatchesPlain(o, plain, values, error,
                                                          useMask ? mask.data() : nullptr, 9011,
                                                          row, o.job.buffers.colourBits.get()))
                << "width " << width;
        }
    }
}

// A darkness of exactly the threshold has no perturbation; one more unit of error
// decides the dot.
TEST(DiffuseRow, ThresholdIsStrictlyAbove4096) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 8, .rows = 2}), 1);
    std::int16_t values[8] = {4096};
    std::int16_t error[8] = {};
    ASSERT_EQ(DiffuseRow(o.job, values, error, o.job.buffers.blackBits.get(), nullptr, kBlackLevel),
              1);
    EXPECT_EQ(o.job.pageImage[0], 0);

    std::int16_t values2[8] = {4096};
    std::int16_t error2[8] = {1};
    ASSERT_EQ(
        DiffuseRow(o.job, values2, error2, o.job.buffers.blackBits.get(), nullptr, kBlackLevel), 1);
    EXPECT_EQ(o.job.pageImage[0], 0x80);
}

TEST(SeparateColour, GreyWithAndWithoutBlack) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.colour = true}), 1);
    DotSeparation s = SeparateColour(o.job, 128, 128, 128);
    EXPECT_EQ(s.black, o.job.buffers.greyTone[127]);
    EXPECT_EQ(s.cyan + s.magenta + s.yellow, 0);
    o.job.noBlackInk = 1;
    s = SeparateColour(o.job, 128, 128, 128);
    // Lightness 255 - 59 = 196 in every plane.
    EXPECT_EQ(s.black, 0);
    EXPECT_EQ(s.cyan, ColourTone(59));
    EXPECT_EQ(s.magenta, ColourTone(59));
    EXPECT_EQ(s.yellow, ColourTone(59));
}

TEST(SeparateColour, BlueAndGreenHuesAreCorrected) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.colour = true}), 1);
    o.job.noBlackInk = 1;
    // Blue 200, green 100, red 50: hue 939 becomes 877, giving red 61, green 166, blue 245.
    DotSeparation s = SeparateColour(o.job, 200, 100, 50);
    EXPECT_EQ(s.cyan, ColourTone(194));
    EXPECT_EQ(s.magenta, ColourTone(89));
    EXPECT_EQ(s.yellow, ColourTone(10));
    // Green 200 leads: hue 377 becomes 364, giving red 157, green 245, blue 37.
    s = SeparateColour(o.job, 30, 200, 120);
    EXPECT_EQ(s.cyan, ColourTone(98));
    EXPECT_EQ(s.magenta, ColourTone(10));
    EXPECT_EQ(s.yellow, ColourTone(218));
    // With a black channel the common part moves into black.
    o.job.noBlackInk = 0;
    s = SeparateColour(o.job, 30, 200, 120);
    EXPECT_EQ(s.black, ColourTone(10));
    EXPECT_EQ(s.cyan, ColourTone(98) - ColourTone(10));
    EXPECT_EQ(s.magenta, 0);
    EXPECT_EQ(s.yellow, ColourTone(218) - ColourTone(10));
}

// Red prints through magenta and yellow, cyan through the cyan plane alone: the page
// row must carry every plane's dots.
TEST(ConvertRow, ColourRowHoldsEveryPlanesDots) {
    for (int noBlack = 0; noBlack < 2; ++noBlack) {
        OwnedJob o;
        ASSERT_EQ(SetUpPage(o.job, {.width = 48, .rows = 2, .colour = true}), 1);
        o.job.noBlackInk = noBlack;
        auto line = UniformLine(48, 255, 255, 0);                        // cyan
        for (int x = 0; x < 16; ++x) line[x * 3] = line[x * 3 + 1] = 0;  // red
        for (int x = 16; x < 24; ++x) line[x * 3 + 2] = 0;               // black
        ASSERT_EQ(ConvertRow(o.job, line.data()), 1);
        for (int x = 0; x < 48; ++x) EXPECT_TRUE(Dot(o.job, 0, x)) << noBlack << " " << x;
    }
}

// Bands of rows, as a page's bands come: they run in vector lanes from row to row, and
// give the same page and error as every row on its own through the plainest path. Rows
// of grain, smooth greys and a checker of two greys, rows of white and black, white rows
// with and without error coming in, and large error arriving on grey rows, which keeps
// lanes apart past the start of their parts so that they are done again and takes the
// darkness past 16 bits. The widths are multiples of 32 (the lanes) and one that is not.
TEST(ConvertRows, BandsOfRowsMatchRowByRow) {
    const std::uint64_t redoneBefore = RowsRedone();
    for (const int width : {256, 384, 576, 1728, 300}) {
        SCOPED_TRACE(width);
        const int rows = 420;
        std::vector<wce::BYTE> lines(static_cast<std::size_t>(width) * 3 * rows);
        unsigned seed = 41u + static_cast<unsigned>(width);
        auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
        for (int y = 0; y < rows; ++y) {
            // Grain, black and white, white, bars, a smooth ramp, a checker of two greys, white.
            const int kind = (y / 20) % 7;
            for (int x = 0; x < width; ++x) {
                int grey = 255;
                if (kind == 0) grey = static_cast<int>(next() % 256);
                if (kind == 1) grey = next() % 3 == 0 ? 0 : 255;
                if (kind == 3) grey = (x / 9 + y / 4) % 3 == 0 ? 0 : 255;
                if (kind == 4) grey = (x * 255 / width + static_cast<int>(next() % 9)) % 256;
                if (kind == 5) grey = (x / 24 + y / 24) % 2 ? 230 : 40;
                wce::BYTE* p = &lines[(static_cast<std::size_t>(y) * width + x) * 3];
                p[0] = p[1] = p[2] = static_cast<wce::BYTE>(grey);
            }
        }
        OwnedJob banded, single;
        ASSERT_EQ(SetUpPage(banded.job, {.width = width, .rows = rows}), 1);
        ASSERT_EQ(SetUpPage(single.job, {.width = width, .rows = rows}), 1);
        const int bands[] = {64, 1, 7, 100, 64, 64, 120};
        int y = 0;
        for (int band = 0; y < rows; ++band) {
            const int count = std::min(bands[band % 7], rows - y);
            if (band == 3 || band == 5) {
                // Large error, and none: each lane's lead meets other carries.
                for (int x = 0; x < width; ++x) {
                    const auto e = static_cast<std::int16_t>(x % 3 == 0       ? 0
                                                             : (x * 7919) % 2 ? 31000
                                                                              : -29000);
                    banded.job.buffers.blackError[x] = single.job.buffers.blackError[x] = e;
                }
            }
            wce::srand(static_cast<unsigned>(band));
            ASSERT_EQ(ConvertRows(banded.job, &lines[static_cast<std::size_t>(y) * width * 3],
                                  static_cast<std::ptrdiff_t>(width) * 3, count),
                      1);
            LimitToneVectors(ToneVectors::kNone);
            wce::srand(static_cast<unsigned>(band));
            for (int i = 0; i < count; ++i) {
                ASSERT_EQ(
                    ConvertRow(single.job, &lines[static_cast<std::size_t>(y + i) * width * 3]), 1);
            }
            LimitToneVectors(ToneVectors::kWidest);
            y += count;
            ASSERT_EQ(banded.job.nextRow, y);
            ASSERT_EQ(banded.job.rowParity, single.job.rowParity);
            for (int row = 0; row < y; ++row) {
                ASSERT_EQ(std::vector<wce::BYTE>(PageRow(banded.job, row),
                                                 PageRow(banded.job, row) + banded.job.bytesPerRow),
                          std::vector<wce::BYTE>(PageRow(single.job, row),
                                                 PageRow(single.job, row) + single.job.bytesPerRow))
                    << "row " << row;
            }
            ASSERT_EQ(std::vector<std::int16_t>(banded.job.buffers.blackError.get(),
                                                banded.job.buffers.blackError.get() + width),
                      std::vector<std::int16_t>(single.job.buffers.blackError.get(),
                                                single.job.buffers.blackError.get() + width))
                << "after row " << y;
        }
        // Rows beyond the page are dropped, as row by row.
        EXPECT_EQ(ConvertRows(banded.job, lines.data(), static_cast<std::ptrdiff_t>(width) * 3, 5),
                  1);
        EXPECT_EQ(banded.job.nextRow, rows);
    }
    EXPECT_EQ(ConvertRows(*std::make_unique<PrinterJob>(), nullptr, 0, 2), 0);
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("bmi2")) {
        EXPECT_GT(RowsRedone(), redoneBefore);
    }
}

TEST(ConvertRow, FailsWithoutPageAndDropsRowsBeyondIt) {
    PrinterJob bare;
    const auto line = UniformLine(8, 0, 0, 0);
    EXPECT_EQ(ConvertRow(bare, line.data()), 0);

    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 8, .rows = 2}), 1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ConvertRow(o.job, line.data()), 1);
    EXPECT_EQ(o.job.nextRow, 2);
    EXPECT_EQ(ConvertRow(o.job, nullptr), 0);
}

}  // namespace
}  // namespace qx470
