// A one-bit picture of printed paper: rows of bytes, most significant bit leftmost,
// 1 = black dot. The same layout the printer's raster commands carry, so bands are
// copied in without conversion when they sit on a byte boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qxemu {

class Bitmap {
  public:
    Bitmap() = default;
    Bitmap(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int RowBytes() const { return rowBytes_; }
    const std::uint8_t* Row(int y) const { return bits_.data() + RowOffset(y); }
    std::uint8_t* Row(int y) { return bits_.data() + RowOffset(y); }
    const std::vector<std::uint8_t>& Bits() const { return bits_; }

    bool Dot(int x, int y) const;
    void SetDot(int x, int y);
    // Makes the picture at least height rows tall; new rows are white.
    void GrowTo(int height);
    // Number of black dots.
    std::size_t CountDots() const;

    // ORs rows of widthBytes bytes (MSB leftmost) into the picture with the top-left
    // dot at (x, y), each source dot drawn scaleX by scaleY. Returns how many black
    // source dots fell outside the picture and were cut.
    std::size_t Draw(const std::uint8_t* rows, int widthBytes, int height, int x, int y,
                     int scaleX = 1, int scaleY = 1);

    bool operator==(const Bitmap& other) const = default;

  private:
    std::size_t RowOffset(int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(rowBytes_);
    }

    int width_ = 0;
    int height_ = 0;
    int rowBytes_ = 0;
    std::vector<std::uint8_t> bits_;
};

}  // namespace qxemu
