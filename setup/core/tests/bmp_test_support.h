// Bitmap files for the tests, written by ImageMagick's convert or, where convert does not
// write them (16-bit pixels, chosen palettes), by the small writer here; and a plain
// reference conversion straight from a file's bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"

namespace qxsetup::testing {

using Bytes = std::vector<std::uint8_t>;

using qxtest::TempDir;

inline std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// True when convert wrote the file; BMP3 writes the 40-byte information header.
inline bool Convert(const std::string& arguments, const std::string& out,
                    const std::string& format = "BMP3") {
    qxtest::ChildProgram program;
    program.argv = qxtest::ShellLine("convert " + arguments + " '" + format + ":" + out + "'");
    return qxtest::RunChild(program).Exited(0);
}

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void Put(Bytes& b, std::size_t at, std::uint32_t v, int size = 4) {
    for (int i = 0; i < size; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}
inline std::size_t Stride(int bpp, int width) {
    return std::size_t((width * bpp + 31) / 32 * 4);
}

// An uncompressed bitmap, rows given top first and unpadded; palette entries 0x00RRGGBB.
inline Bytes MakeBmp(int bpp, int width, const std::vector<Bytes>& rows,
                     const std::vector<std::uint32_t>& palette = {}) {
    const std::size_t stride = Stride(bpp, width), offset = 54 + 4 * palette.size();
    Bytes b(offset + stride * rows.size(), 0);
    b[0] = 'B', b[1] = 'M';
    Put(b, 2, std::uint32_t(b.size()));
    Put(b, 10, std::uint32_t(offset));
    Put(b, 14, 40);
    Put(b, 18, std::uint32_t(width));
    Put(b, 22, std::uint32_t(rows.size()));
    Put(b, 26, 1, 2);
    Put(b, 28, std::uint32_t(bpp), 2);
    for (std::size_t i = 0; i < palette.size(); ++i) Put(b, 54 + 4 * i, palette[i]);
    for (std::size_t r = 0; r < rows.size(); ++r)
        std::copy(rows[r].begin(), rows[r].end(), &b[offset + stride * (rows.size() - 1 - r)]);
    return b;
}

// Black below the middle brightness, the weights of the 24-bit rule.
inline bool Dark(int blue, int green, int red) {
    return int(blue * 0.114 + green * 0.587 + red * 0.299) < 128;
}

// A palette index by the colour it names; without a palette (or past it) by the index
// as a grey level, the lower half black.
inline bool DarkIndex(const Bytes& file, int bpp, int index) {
    std::uint32_t used = Get32(file, 46), most = 1u << bpp;
    std::size_t at = 14 + Get32(file, 14);
    std::size_t room = (Get32(file, 10) - at) / 4;
    std::size_t entries = std::min<std::size_t>({used ? used : most, most, room});
    if (std::size_t(index) >= entries) return index < int(most / 2);
    return Dark(file[at + 4 * std::size_t(index)], file[at + 4 * std::size_t(index) + 1],
                file[at + 4 * std::size_t(index) + 2]);
}

// The dot at column x, row y from the top, by the rule of the file's depth.
inline bool ReferenceDot(const Bytes& file, int x, int y) {
    const int width = int(Get32(file, 18)), height = int(Get32(file, 22)), bpp = file[28];
    if (x >= width || y >= height) return false;
    const std::uint8_t* row =
        &file[Get32(file, 10) + Stride(bpp, width) * std::size_t(height - 1 - y)];
    switch (bpp) {
        case 1:  // the first palette entry black means 0 bits are the black dots
            return (row[x / 8] >> (7 - x % 8) & 1) != (file[14 + Get32(file, 14)] == 0);
        case 4:
            return DarkIndex(file, 4, x % 2 ? row[x / 2] & 0x0F : row[x / 2] >> 4);
        case 8:
            return DarkIndex(file, 8, row[x]);
        case 16: {  // 5-5-5 in a little-endian word, each channel scaled to 0..255
            int word = row[2 * x] | row[2 * x + 1] << 8;
            return Dark((word & 31) * 255 / 31, (word >> 5 & 31) * 255 / 31,
                        (word >> 10 & 31) * 255 / 31);
        }
        default:
            return int(row[3 * x] * 0.114 + row[3 * x + 1] * 0.587 + row[3 * x + 2] * 0.299) < 128;
    }
}

// The image block the printer must receive for the file.
inline Bytes ReferenceBlock(const Bytes& file) {
    const int wb = (int(Get32(file, 18)) + 7) / 8, hb = (int(Get32(file, 22)) + 7) / 8;
    Bytes block{std::uint8_t(wb), std::uint8_t(wb >> 8), std::uint8_t(hb), std::uint8_t(hb >> 8)};
    for (int x = 0; x < wb * 8; ++x) {
        for (int j = 0; j < hb; ++j) {
            int byte = 0;
            for (int k = 0; k < 8; ++k) byte |= ReferenceDot(file, x, 8 * j + k) ? 0x80 >> k : 0;
            block.push_back(std::uint8_t(byte));
        }
    }
    return block;
}

}  // namespace qxsetup::testing
