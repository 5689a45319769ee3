#include "mono_image.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <new>

#include "printer_link.h"
#include "wce/base.h"
#include "wce/io.h"
#include "wce/text.h"

namespace qxsetup {

using namespace wce;

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::uint32_t kInfoHeaderBytes = 40;  // the Windows information header
constexpr std::uint32_t kPaletteEntryBytes = 4;
constexpr std::uint32_t kNoCompression = 0;
constexpr std::uint32_t kBitFields = 3;  // uncompressed, with channel masks
constexpr std::uint32_t kOs2HeaderBytes = 12;
constexpr std::size_t kMasksAt = kFileHeaderBytes + kInfoHeaderBytes;  // in or after the header
// 16-bit pixels without masks are 5-5-5.
constexpr std::uint32_t kRgb555Masks[3] = {0x7C00, 0x03E0, 0x001F};

std::uint16_t U16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// What the headers say, once they are known to lie inside the data.
struct BitmapLayout {
    std::uint32_t fileSize = 0;
    std::uint32_t pixelOffset = 0;
    std::uint32_t infoSize = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    int bitsPerPixel = 0;
    std::uint32_t compression = 0;
    std::uint64_t stride = 0;
    std::uint32_t paletteEntries = 0;  // entries the file holds, at most 1 << bitsPerPixel
    std::uint32_t masks[3] = {};       // red, green, blue of a 16-bit pixel
};

// The one rule for every colour: black below the middle brightness.
bool IsDark(unsigned blue, unsigned green, unsigned red) {
    return int(blue * 0.114 + green * 0.587 + red * 0.299) < 128;
}

std::uint64_t SourceStride(int bitsPerPixel, std::uint64_t width) {
    switch (bitsPerPixel) {
        case 1:
            return (width + 31) / 32 * 4;
        case 4:
            return ((width + 1) / 2 + 3) / 4 * 4;
        case 8:
            return (width + 3) / 4 * 4;
        case 16:
            return (2 * width + 3) / 4 * 4;
        default:
            return (3 * width + 3) / 4 * 4;
    }
}

bool Fail(std::u16string* message, std::u16string text) {
    *message = std::move(text);
    return false;
}

// The file and information headers: every refusal of a file that is not a bitmap we
// can convert, before anything is taken from its pixel data.
bool ReadLayout(const std::uint8_t* data, std::size_t size, BitmapLayout* out,
                std::u16string* message) {
    if (size < kFileHeaderBytes) return Fail(message, u"BITMAPFILEHEADER malloc() fail");
    if (U16(data) != 0x4D42) return Fail(message, u"BM fail");
    BitmapLayout l;
    l.fileSize = U32(data + 2);
    l.pixelOffset = U32(data + 10);
    if (l.fileSize > kMaxBitmapFileBytes) {
        return Fail(message, FormatWideString(u"The bitmap file is too large (%u bytes; at most "
                                              u"%u are taken)",
                                              l.fileSize, kMaxBitmapFileBytes));
    }
    if (l.fileSize > size) {
        return Fail(message, FormatWideString(u"The bitmap file is shorter than its header says "
                                              u"(%u bytes, the file has %u)",
                                              l.fileSize, unsigned(size)));
    }
    if (l.pixelOffset > l.fileSize) {
        return Fail(message, FormatWideString(u"The pixel data offset (%u) lies past the end of "
                                              u"the bitmap file (%u bytes)",
                                              l.pixelOffset, l.fileSize));
    }
    // The header's size tells what kind of bitmap this is before its sizes are judged.
    l.infoSize = size >= kFileHeaderBytes + 4 ? U32(data + 14) : 0;
    if (l.infoSize == kOs2HeaderBytes) {
        return Fail(message,
                    u"This is an OS/2 bitmap (12-byte information header), not a "
                    u"Windows bitmap; only Windows bitmaps can be converted");
    }
    if (l.pixelOffset < kFileHeaderBytes + kInfoHeaderBytes) {
        return Fail(message, FormatWideString(u"The pixel data offset (%u) lies inside the "
                                              u"bitmap headers",
                                              l.pixelOffset));
    }
    if (l.infoSize < kInfoHeaderBytes) {
        return Fail(message, FormatWideString(u"The bitmap has an information header of %u bytes; "
                                              u"only Windows bitmaps can be converted",
                                              l.infoSize));
    }
    if (l.infoSize > l.pixelOffset - kFileHeaderBytes) {
        return Fail(message, FormatWideString(u"The pixel data offset (%u) lies inside the "
                                              u"bitmap headers",
                                              l.pixelOffset));
    }
    l.width = std::int32_t(U32(data + 18));
    l.height = std::int32_t(U32(data + 22));
    l.bitsPerPixel = U16(data + 28);
    l.compression = U32(data + 30);
    if (l.bitsPerPixel == 4 || l.bitsPerPixel == 8) {
        std::uint32_t used = U32(data + 46);
        std::uint32_t most = 1u << l.bitsPerPixel;
        std::uint32_t room = (l.pixelOffset - kFileHeaderBytes - l.infoSize) / kPaletteEntryBytes;
        l.paletteEntries = std::min({used != 0 ? used : most, most, room});
    }
    std::copy(std::begin(kRgb555Masks), std::end(kRgb555Masks), l.masks);
    *out = l;
    return true;
}

// The masks of a 16-bit bit-field bitmap: in the later headers, or after the 40-byte one.
bool ReadMasks(const std::uint8_t* data, BitmapLayout* l, std::u16string* message) {
    if (l->bitsPerPixel != 16 || l->compression != kBitFields) return true;
    if (kMasksAt + 12 > l->pixelOffset)
        return Fail(message, u"The 16-bit bitmap has no channel masks");
    for (int i = 0; i < 3; ++i) l->masks[i] = U32(data + kMasksAt + 4 * std::size_t(i));
    return true;
}

bool CheckPicture(const BitmapLayout& l, std::u16string* message) {
    int bpp = l.bitsPerPixel;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24) {
        return Fail(message, FormatWideString(u"Bitmaps of %d bits per pixel cannot be converted; "
                                              u"use 1, 4, 8, 16 or 24",
                                              bpp));
    }
    if (l.compression != kNoCompression && !(l.compression == kBitFields && bpp == 16)) {
        return Fail(message, FormatWideString(u"Compressed bitmaps cannot be converted "
                                              u"(compression %u)",
                                              l.compression));
    }
    if (l.width <= 0) {
        return Fail(message,
                    FormatWideString(u"The bitmap width (%d) must be at least 1 dot", l.width));
    }
    if (l.height == 0) return Fail(message, u"The bitmap height (0) must be at least 1 dot");
    if (l.height < 0) {
        return Fail(message, u"Top-down bitmaps (negative height) cannot be converted");
    }
    if (l.width > kMaxImageDots || l.height > kMaxImageDots) {
        return Fail(message, FormatWideString(u"The bitmap is %d x %d dots; a stored image is at "
                                              u"most %d dots wide and high",
                                              l.width, l.height, kMaxImageDots));
    }
    std::uint64_t needed = SourceStride(bpp, std::uint64_t(l.width)) * std::uint64_t(l.height);
    std::uint64_t present = l.fileSize - l.pixelOffset;
    if (needed > present) {
        return Fail(
            message,
            FormatWideString(u"The bitmap's pixel data has %llu bytes; its %d rows "
                             u"need %llu",
                             (unsigned long long)present, l.height, (unsigned long long)needed));
    }
    if (bpp == 1 && l.infoSize + kPaletteEntryBytes > l.pixelOffset - kFileHeaderBytes) {
        return Fail(message, u"The 1-bit bitmap has no palette");
    }
    return true;
}

// One channel of a 16-bit pixel, scaled to 0..255.
unsigned Channel(unsigned word, std::uint32_t mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while ((mask >> shift & 1) == 0) ++shift;
    std::uint32_t most = mask >> shift;
    return unsigned((std::uint64_t(word & mask) >> shift) * 255 / most);
}

// Which palette indexes are black: by the colour each names. A file without a palette
// (or an index past it) keeps the grey-level reading of the index, the lower half black,
// which is also what a grey-ramp palette gives.
std::vector<bool> BlackIndexes(const BitmapLayout& l, const std::uint8_t* data) {
    const unsigned count = 1u << l.bitsPerPixel;
    std::vector<bool> black(count);
    const std::uint8_t* palette = data + kFileHeaderBytes + l.infoSize;
    for (unsigned i = 0; i < count; ++i) {
        const std::uint8_t* entry = palette + kPaletteEntryBytes * i;
        black[i] = i < l.paletteEntries ? IsDark(entry[0], entry[1], entry[2]) : i < count / 2;
    }
    return black;
}

bool IsBlack(const BitmapLayout& l, const std::vector<bool>& blackIndex, const std::uint8_t* row,
             int x) {
    switch (l.bitsPerPixel) {
        case 4: {
            std::uint8_t pair = row[x / 2];
            return blackIndex[x % 2 == 0 ? pair >> 4 : pair & 0x0F];
        }
        case 8:
            return blackIndex[row[x]];
        case 16: {
            unsigned word = U16(row + 2 * x);  // little-endian, like every number in the file
            return IsDark(Channel(word, l.masks[2]), Channel(word, l.masks[1]),
                          Channel(word, l.masks[0]));
        }
        default: {
            const std::uint8_t* p = row + 3 * x;
            return IsDark(p[0], p[1], p[2]);
        }
    }
}

void Convert(const BitmapLayout& l, const std::uint8_t* data, MonoImage* image) {
    const std::uint8_t* pixels = data + l.pixelOffset;
    const std::size_t stride = std::size_t(l.stride);
    const std::size_t rowBytes = std::size_t(image->rowBytes);
    if (l.bitsPerPixel == 1) {
        std::copy(pixels, pixels + stride * std::size_t(l.height), image->bits.begin());
        return;
    }
    const std::vector<bool> blackIndex =
        l.bitsPerPixel == 4 || l.bitsPerPixel == 8 ? BlackIndexes(l, data) : std::vector<bool>();
    for (std::int32_t r = 0; r < l.height; ++r) {
        const std::uint8_t* source = pixels + stride * std::size_t(r);
        std::uint8_t* target = image->bits.data() + rowBytes * std::size_t(r);
        for (std::int32_t x = 0; x < l.width; ++x) {
            if (IsBlack(l, blackIndex, source, x)) target[x / 8] |= std::uint8_t(0x80 >> (x % 8));
        }
    }
}

}  // namespace

bool DecodeMonoImage(const std::uint8_t* data, std::size_t size, MonoImage* image,
                     std::u16string* message) {
    message->clear();
    BitmapLayout l;
    if (!ReadLayout(data, size, &l, message) || !CheckPicture(l, message) ||
        !ReadMasks(data, &l, message))
        return false;
    l.stride = SourceStride(l.bitsPerPixel, std::uint64_t(l.width));

    MonoImage made;
    made.width = l.width;
    made.height = l.height;
    made.rowBytes = l.bitsPerPixel == 1 ? std::int32_t(l.stride) : (l.width + 7) / 8;
    try {
        made.bits.assign(std::size_t(made.rowBytes) * std::size_t(l.height), 0);
    } catch (const std::bad_alloc&) {
        return Fail(message, u"tmpbits malloc() fail");
    }
    Convert(l, data, &made);
    // A 1-bit palette whose first entry is black has 0 bits for black dots.
    if (l.bitsPerPixel == 1 && data[kFileHeaderBytes + l.infoSize] == 0) {
        for (std::uint8_t& byte : made.bits) byte = std::uint8_t(~byte);
    }
    *image = std::move(made);
    return true;
}

namespace {

// A folder, a device or a pipe nobody writes to is no bitmap, and opening a pipe would
// wait for ever.
bool IsRegularFile(LPCWSTR path, std::u16string* message) {
    std::error_code error;
    auto status = std::filesystem::status(WideToUtf8(path), error);
    if (error || status.type() == std::filesystem::file_type::regular)
        return true;  // CreateFile tells
    if (status.type() == std::filesystem::file_type::directory)
        return Fail(message, FormatWideString(u"%s is a folder, not a bitmap file", path));
    return Fail(message, FormatWideString(u"%s is not a regular file (a device, pipe or socket), "
                                          u"not a bitmap file",
                                          path));
}

}  // namespace

bool ReadMonoImage(LPCWSTR path, MonoImage* image, std::u16string* message) {
    message->clear();
    if (!IsRegularFile(path, message)) return false;
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(message, u"CreateFile fail");
    std::vector<std::uint8_t> bytes(kFileHeaderBytes);
    DWORD got = 0;
    BOOL read = ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr);
    bytes.resize(read ? got : 0);
    // The rest of the file as far as its header gives its size, unless that is more than
    // is ever taken: the conversion tells which.
    if (bytes.size() == kFileHeaderBytes && U16(bytes.data()) == 0x4D42) {
        std::uint32_t declared = U32(bytes.data() + 2);
        if (declared > kFileHeaderBytes && declared <= kMaxBitmapFileBytes) {
            bytes.resize(declared);
            std::size_t at = kFileHeaderBytes;
            while (at < bytes.size()) {
                DWORD more = 0;
                if (!ReadFile(file, bytes.data() + at, DWORD(bytes.size() - at), &more, nullptr) ||
                    more == 0)
                    break;
                at += more;
            }
            bytes.resize(at);
        }
    }
    CloseHandle(file);
    return DecodeMonoImage(bytes.data(), bytes.size(), image, message);
}

bool LoadMonoImage(LPCWSTR path, MonoImage* image) {
    std::u16string message;
    if (ReadMonoImage(path, image, &message)) return true;
    if (!message.empty()) ShowAppMessage(message.c_str());
    return false;
}

int MonoPixel(const MonoImage& image, int x, int y) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return 0;
    std::size_t row = std::size_t(image.height - 1 - y) * std::size_t(image.rowBytes);
    return image.bits[row + std::size_t(x / 8)] >> (7 - x % 8) & 1;
}

std::vector<std::uint8_t> BuildNvImageBlock(const MonoImage& image) {
    const int wb = std::max(1, (image.width + 7) / 8);
    const int hb = std::max(1, (image.height + 7) / 8);
    std::vector<std::uint8_t> block;
    block.reserve(4 + std::size_t(wb) * 8 * std::size_t(hb));
    block.push_back(std::uint8_t(wb & 0xFF));
    block.push_back(std::uint8_t(wb >> 8));
    block.push_back(std::uint8_t(hb & 0xFF));
    block.push_back(std::uint8_t(hb >> 8));
    for (int x = 0; x < wb * 8; ++x) {
        for (int j = 0; j < hb; ++j) {
            int byte = 0;
            for (int k = 0; k < 8; ++k) byte |= MonoPixel(image, x, 8 * j + k) << (7 - k);
            block.push_back(std::uint8_t(byte));
        }
    }
    return block;
}

}  // namespace qxsetup
