#include "bitmap.h"

#include <bit>
#include <cstring>

namespace qxemu {

Bitmap::Bitmap(int width, int height)
    : width_(width < 0 ? 0 : width),
      height_(height < 0 ? 0 : height),
      rowBytes_((width_ + 7) / 8),
      bits_(static_cast<std::size_t>(rowBytes_) * static_cast<std::size_t>(height_), 0) {}

bool Bitmap::Dot(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
    return (Row(y)[x / 8] & (0x80 >> (x % 8))) != 0;
}

void Bitmap::SetDot(int x, int y) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    Row(y)[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
}

void Bitmap::GrowTo(int height) {
    if (height <= height_) return;
    height_ = height;
    bits_.resize(RowOffset(height_), 0);
}

std::size_t Bitmap::CountDots() const {
    std::size_t n = 0;
    for (std::uint8_t b : bits_) n += static_cast<std::size_t>(std::popcount(b));
    return n;
}

std::size_t Bitmap::Draw(const std::uint8_t* rows, int widthBytes, int height, int x, int y,
                         int scaleX, int scaleY) {
    std::size_t cut = 0;
    const bool fastPath = scaleX == 1 && scaleY == 1 && x == 0 && widthBytes <= rowBytes_;
    for (int r = 0; r < height; ++r) {
        const std::uint8_t* src = rows + static_cast<std::size_t>(r) * widthBytes;
        if (fastPath && y + r >= 0 && y + r < height_) {
            // Whole bytes at the left edge; only the padding bits of the last byte can
            // lie beyond the paper.
            std::uint8_t* dst = Row(y + r);
            for (int i = 0; i < widthBytes; ++i) dst[i] |= src[i];
            if (widthBytes == rowBytes_ && width_ % 8 != 0) {
                std::uint8_t beyond = static_cast<std::uint8_t>(0xFF >> (width_ % 8));
                cut += static_cast<std::size_t>(std::popcount(
                    static_cast<unsigned>(dst[rowBytes_ - 1] & beyond & src[rowBytes_ - 1])));
                dst[rowBytes_ - 1] &= static_cast<std::uint8_t>(~beyond);
            }
            continue;
        }
        for (int bx = 0; bx < widthBytes * 8; ++bx) {
            if ((src[bx / 8] & (0x80 >> (bx % 8))) == 0) continue;
            bool inside = false;
            for (int sy = 0; sy < scaleY; ++sy) {
                for (int sx = 0; sx < scaleX; ++sx) {
                    long long px =
                        static_cast<long long>(x) + static_cast<long long>(bx) * scaleX + sx;
                    long long py =
                        static_cast<long long>(y) + static_cast<long long>(r) * scaleY + sy;
                    if (px < 0 || py < 0 || px >= width_ || py >= height_) continue;
                    SetDot(static_cast<int>(px), static_cast<int>(py));
                    inside = true;
                }
            }
            if (!inside) ++cut;
        }
    }
    return cut;
}

}  // namespace qxemu
