// Bitmap files for the tests: written by ImageMagick's convert, or by the small writer
// here for what convert does not write (16-bit pixels, chosen palettes, bad headers);
// and a plain reference conversion straight from the file's bytes.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qxsetup::testing {

using Bytes = std::vector<std::uint8_t>;

class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/qxsetup.XXXXXX";
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!std::getenv("QX_KEEP")) std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());  // the paths here are ASCII
}

// Runs ImageMagick's convert; true when it wrote the file. format: the writer, BMP3
// for Windows bitmaps with the 40-byte header.
inline bool Convert(const std::string& arguments, const std::string& out,
                    const std::string& format = "BMP3") {
    std::string command = "convert " + arguments + " '" + format + ":" + out + "' 2>/dev/null";
    int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           std::filesystem::exists(out);
}

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void Put16(Bytes& b, std::size_t at, unsigned v) {
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

inline std::size_t Stride(int bpp, int width) {
    return std::size_t((width * bpp + 31) / 32 * 4);
}

// An uncompressed bitmap with a 40-byte information header. rows are given top row
// first, each unpadded; palette entries are 0x00RRGGBB.
inline Bytes MakeBmp(int bpp, int width, const std::vector<Bytes>& rows,
                     const std::vector<std::uint32_t>& palette = {}) {
    const std::size_t stride = Stride(bpp, width);
    const std::size_t offset = 54 + 4 * palette.size();
    Bytes b(offset + stride * rows.size(), 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, std::uint32_t(b.size()));
    Put32(b, 10, std::uint32_t(offset));
    Put32(b, 14, 40);
    Put32(b, 18, std::uint32_t(width));
    Put32(b, 22, std::uint32_t(rows.size()));
    Put16(b, 26, 1);
    Put16(b, 28, unsigned(bpp));
    Put32(b, 34, std::uint32_t(stride * rows.size()));
    Put32(b, 46, std::uint32_t(palette.size()));
    for (std::size_t i = 0; i < palette.size(); ++i) Put32(b, 54 + 4 * i, palette[i]);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::size_t at = offset + stride * (rows.size() - 1 - r);  // bottom row first
        for (std::size_t i = 0; i < rows[r].size() && i < stride; ++i) b[at + i] = rows[r][i];
    }
    return b;
}

// The dot at column x, row y from the top, read straight from the file by the rule of
// its depth.
inline bool ReferenceDot(const Bytes& file, int x, int y) {
    const int width = int(Get32(file, 18)), height = int(Get32(file, 22));
    const int bpp = file[28];
    if (x >= width || y >= height) return false;
    const std::size_t offset = Get32(file, 10);
    const std::uint8_t* row = &file[offset + Stride(bpp, width) * std::size_t(height - 1 - y)];
    switch (bpp) {
        case 1: {
            bool set = row[x / 8] >> (7 - x % 8) & 1;
            bool firstEntryBlack = file[14 + Get32(file, 14)] == 0;
            return firstEntryBlack ? !set : set;
        }
        case 4:
            return (x % 2 ? row[x / 2] & 0x0F : row[x / 2] >> 4) < 8;
        case 8:
            return row[x] < 128;
        case 16: {
            int b0 = row[2 * x], b1 = row[2 * x + 1];
            int level = int((b0 >> 3) * 0.114) + int(((b0 & 7) << 3 | b1 >> 5) * 0.587) +
                        int((b1 & 31) * 0.229);
            return level < 17;
        }
        default: {
            const std::uint8_t* p = row + 3 * x;
            return int(p[0] * 0.114 + p[1] * 0.587 + p[2] * 0.299) < 128;
        }
    }
}

// The image block the printer must receive for the file.
inline Bytes ReferenceBlock(const Bytes& file) {
    const int wb = (int(Get32(file, 18)) + 7) / 8, hb = (int(Get32(file, 22)) + 7) / 8;
    Bytes block{std::uint8_t(wb), std::uint8_t(wb >> 8), std::uint8_t(hb), std::uint8_t(hb >> 8)};
    for (int x = 0; x < wb * 8; ++x) {
        for (int j = 0; j < hb; ++j) {
            int byte = 0;
            for (int k = 0; k < 8; ++k)
                if (ReferenceDot(file, x, 8 * j + k)) byte |= 0x80 >> k;
            block.push_back(std::uint8_t(byte));
        }
    }
    return block;
}

}  // namespace qxsetup::testing
