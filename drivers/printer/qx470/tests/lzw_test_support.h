// Page and band content for the encoder tests and benchmarks: random bytes, dithered
// photographs and receipt text, all deterministic; and a reader of raw LZW codes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qx470::testsupport {

class Lcg {
  public:
    explicit Lcg(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    int Below(int limit) { return static_cast<int>(Next() % static_cast<std::uint32_t>(limit)); }

  private:
    std::uint32_t state_;
};

inline std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
    Lcg lcg(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(lcg.Next());
    return bytes;
}

// Mostly zero with scattered non-zero bytes: the content that exercises zero runs
// next to ink.
inline std::vector<std::uint8_t> SparseBytes(std::size_t size, int oneIn, std::uint32_t seed) {
    Lcg lcg(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = lcg.Below(oneIn) == 0 ? static_cast<std::uint8_t>(lcg.Next() | 1) : 0;
    return bytes;
}

// A smooth picture with highlights and shadows, error-diffused to one bit per dot as
// the driver's tone conversion does.
inline std::vector<std::uint8_t> DitheredPhoto(int widthBytes, int rows, std::uint32_t seed) {
    Lcg lcg(seed);
    const int width = widthBytes * 8;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(widthBytes) * rows);
    std::vector<double> error(width + 2, 0.0), next(width + 2, 0.0);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < width; ++x) {
            double tone = 0.5 + 0.35 * std::sin(x / 41.0 + seed) * std::cos(y / 29.0) +
                          0.15 * std::sin((x + y) / 7.0);
            double value = tone + error[x + 1] + (lcg.Below(64) - 32) / 1024.0;
            bool black = value > 0.5;
            double residual = value - (black ? 1.0 : 0.0);
            error[x + 2] += residual * 7 / 16;
            next[x] += residual * 3 / 16;
            next[x + 1] += residual * 5 / 16;
            next[x + 2] += residual * 1 / 16;
            if (black) bytes[static_cast<std::size_t>(y) * widthBytes + x / 8] |= 0x80 >> (x % 8);
        }
        error.swap(next);
        std::fill(next.begin(), next.end(), 0.0);
    }
    return bytes;
}

// Receipt lines: 24-row lines of 12 x 24 glyphs, an item name on the left and a price
// on the right, with 8 blank rows between lines and longer gaps between sections.
inline std::vector<std::uint8_t> ReceiptText(int widthBytes, int rows, std::uint32_t seed) {
    Lcg lcg(seed);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(widthBytes) * rows);
    // Glyphs of two-dot strokes: a few vertical stems and horizontal bars, about a
    // fifth of the cell inked, like printed text.
    std::uint16_t glyphs[40][24] = {};
    for (auto& glyph : glyphs) {
        std::uint16_t stems = 0;
        for (int s = 1 + lcg.Below(2); s > 0; --s) stems |= 0x3 << (1 + lcg.Below(8));
        int bars[2] = {3 + lcg.Below(4), 12 + lcg.Below(8)};
        for (int r = 3; r <= 20; ++r) {
            glyph[r] = stems;
            for (int bar : bars) {
                if (r == bar || r == bar + 1) glyph[r] |= 0x7FE;
            }
        }
    }
    const int cells = widthBytes * 8 / 12;
    auto put = [&](int top, int cell, int glyph) {
        for (int r = 0; r < 24 && top + r < rows; ++r) {
            for (int d = 0; d < 12; ++d) {
                if (!(glyphs[glyph][r] & (1 << d))) continue;
                int x = cell * 12 + d;
                bytes[static_cast<std::size_t>(top + r) * widthBytes + x / 8] |= 0x80 >> (x % 8);
            }
        }
    };
    for (int top = 16, line = 0; top + 24 <= rows; top += 32, ++line) {
        if (line % 7 == 6) {
            top += 64;  // section gap
            continue;
        }
        int name = std::min(cells, 6 + lcg.Below(cells / 2 + 1));
        for (int c = 0; c < name; ++c) {
            if (lcg.Below(6) != 0) put(top, c, lcg.Below(40));
        }
        for (int c = std::max(name, cells - 7); c < cells; ++c) put(top, c, lcg.Below(40));
    }
    return bytes;
}

// The 12-bit codes of a stream, up to and including the end code 258.
inline std::vector<int> UnpackCodes(const std::uint8_t* bytes, std::size_t size) {
    std::vector<int> codes;
    for (std::size_t bit = 0; bit + 12 <= size * 8; bit += 12) {
        int code = 0;
        for (int i = 0; i < 12; ++i) {
            std::size_t at = bit + i;
            if (bytes[at / 8] & (1 << (at % 8))) code |= 1 << i;
        }
        codes.push_back(code);
        if (code == 258) break;
    }
    return codes;
}

}  // namespace qx470::testsupport
