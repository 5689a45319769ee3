// Bitmap files turned into the printer's stored-image form: a one-bit working image
// with fixed thresholds, then a block of vertical 8-dot column bytes.
//
// A bitmap file comes from the user and is not trusted: every size in its headers is
// checked against what was read before a byte is taken from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wce/types.h"

namespace qxsetup {

struct MonoImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t rowBytes = 0;
    // height rows of rowBytes bytes, bottom row first; bit 7 is the leftmost dot and a
    // 1 bit is a printed dot.
    std::vector<std::uint8_t> bits;
};

// Limits of what is taken: the block's size fields hold at most 65535 units of 8
// dots, and a file beyond the size limit is no logo.
inline constexpr std::int32_t kMaxImageDots = 65535 * 8;
inline constexpr std::uint32_t kMaxBitmapFileBytes = 64u << 20;

// Converts a whole bitmap file held in memory. On failure returns false and sets
// *message to the text the user is shown (empty for nothing).
bool DecodeMonoImage(const std::uint8_t* data, std::size_t size, MonoImage* image,
                     std::u16string* message);

// Reads and converts the file at path; false with the text for the user when it cannot.
// Only regular files are read.
bool ReadMonoImage(wce::LPCWSTR path, MonoImage* image, std::u16string* message);
// The same, with a failure shown to the user.
bool LoadMonoImage(wce::LPCWSTR path, MonoImage* image);

// The dot at column x, row y counted from the top; 0 outside the picture.
int MonoPixel(const MonoImage& image, int x, int y);

// The image block: WB and HB (units of 8 dots, low byte first), then for each dot
// column from the left, HB bytes from the top, the top dot of a byte in bit 7.
std::vector<std::uint8_t> BuildNvImageBlock(const MonoImage& image);

}  // namespace qxsetup
