#include "image_check.h"

#include <cstdint>
#include <cstring>

namespace wce::gdi {

namespace {

using Bytes = std::string_view;

std::uint32_t Le16(Bytes b, size_t at) {
    return std::uint8_t(b[at]) | std::uint8_t(b[at + 1]) << 8;
}
std::uint32_t Le32(Bytes b, size_t at) {
    return Le16(b, at) | Le16(b, at + 2) << 16;
}
std::uint32_t Be16(Bytes b, size_t at) {
    return std::uint8_t(b[at]) << 8 | std::uint8_t(b[at + 1]);
}
std::uint8_t At(Bytes b, size_t at) {
    return std::uint8_t(b[at]);
}

ImageFileCheck Damaged(ImageFileCheck r, const char* why) {
    r.damaged = true;
    r.why = why;
    return r;
}

bool StartsWith(Bytes b, const char* magic) {
    return b.substr(0, std::strlen(magic)) == magic;
}

// ---- BMP ----

bool KnownBmpHeader(std::uint32_t size) {
    for (std::uint32_t known : {12u, 40u, 52u, 56u, 64u, 108u, 124u})
        if (size == known) return true;
    return false;
}

// Walks RLE4/RLE8 data: the picture is whole once its end code or its last row is reached.
ImageFileCheck CheckBmpRle(ImageFileCheck r, Bytes b, size_t p, bool fourBit) {
    long long y = 0;
    for (;;) {
        if (p + 2 > b.size()) return Damaged(r, "the file ends inside the compressed pixel data");
        std::uint8_t count = At(b, p), code = At(b, p + 1);
        p += 2;
        if (count != 0) continue;  // a run of one colour
        if (code == 1) return r;   // end of the bitmap
        if (code == 0) {
            if (++y >= r.height) return r;
        } else if (code == 2) {
            if (p + 2 > b.size())
                return Damaged(r, "the file ends inside the compressed pixel data");
            y += At(b, p + 1);
            p += 2;
            if (y >= r.height) return r;
        } else {
            size_t bytes = fourBit ? (code + 1u) / 2 : code;
            p += (bytes + 1) & ~size_t(1);  // literal pixels, padded to a word
        }
    }
}

ImageFileCheck CheckBmp(Bytes b) {
    ImageFileCheck r;
    if (b.size() < 18) return Damaged(r, "the file ends inside its header");
    const std::uint32_t offset = Le32(b, 10), headerSize = Le32(b, 14);
    if (!KnownBmpHeader(headerSize)) return r;  // not a bitmap the reader knows either
    if (b.size() < 14 + headerSize) return Damaged(r, "the file ends inside its header");
    long long width, height;
    std::uint32_t bits, compression = 0;
    if (headerSize == 12) {
        width = Le16(b, 18);
        height = Le16(b, 20);
        bits = Le16(b, 24);
    } else {
        width = std::int32_t(Le32(b, 18));
        height = std::int32_t(Le32(b, 22));
        bits = Le16(b, 28);
        compression = Le32(b, 30);
    }
    if (height < 0) height = -height;  // stored top-down
    if (width <= 0 || height <= 0) return r;
    r.width = width;
    r.height = height;
    const size_t start = std::max<size_t>(offset, 14 + headerSize);
    if (headerSize == 64 && compression >= 3) return r;  // the older OS/2 codes mean other things
    if (compression == 1 || compression == 2) return CheckBmpRle(r, b, start, compression == 2);
    if (compression != 0 && compression != 3 && compression != 6) return r;
    if (bits == 0 || bits > 32) return r;
    // Every row is padded to four bytes; the reader leaves a row without its padding unread.
    const unsigned long long rowBytes =
        (static_cast<unsigned long long>(width) * bits + 31) / 32 * 4;
    const unsigned long long have = b.size() > start ? b.size() - start : 0;
    if (have / rowBytes < static_cast<unsigned long long>(height))
        return Damaged(r, "the file ends inside the pixel data");
    return r;
}

// ---- GIF ----

// Skips a chain of data sub-blocks up to its empty terminator; false when it is cut.
bool SkipSubBlocks(Bytes b, size_t& p) {
    for (;;) {
        if (p >= b.size()) return false;
        std::uint8_t length = At(b, p++);
        if (length == 0) return true;
        p += length;
    }
}

size_t ColourTableBytes(std::uint8_t flags) {
    return (flags & 0x80) ? size_t(3) << ((flags & 7) + 1) : 0;
}

// The reader decodes the first picture only, so the file must hold that one whole.
ImageFileCheck CheckGif(Bytes b) {
    ImageFileCheck r;
    if (b.size() < 13) return Damaged(r, "the file ends inside its header");
    r.width = Le16(b, 6);
    r.height = Le16(b, 8);
    size_t p = 13 + ColourTableBytes(At(b, 10));
    for (;;) {
        if (p >= b.size()) return Damaged(r, "the file ends before its picture");
        std::uint8_t block = At(b, p++);
        if (block == 0x21) {  // an extension: its label, then sub-blocks
            ++p;
            if (!SkipSubBlocks(b, p)) return Damaged(r, "the file ends inside an extension block");
        } else if (block == 0x2C) {
            if (p + 9 > b.size())
                return Damaged(r, "the file ends inside the picture's descriptor");
            p += 9 + ColourTableBytes(At(b, p + 8));
            ++p;  // the code size
            if (!SkipSubBlocks(b, p)) return Damaged(r, "the file ends inside the picture's data");
            return r;
        } else {
            return r;  // the trailer, or a block the reader judges
        }
    }
}

// ---- JPEG ----

bool IsFrameHeader(std::uint8_t m) {
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// Skips entropy-coded data up to the next marker that is not a restart; false when the
// file ends first. Stuffed zero bytes and restart markers belong to the data.
bool SkipScan(Bytes b, size_t& p) {
    for (;;) {
        size_t ff = b.find('\xFF', p);
        if (ff == Bytes::npos || ff + 1 >= b.size()) return false;
        std::uint8_t next = At(b, ff + 1);
        if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
            p = ff + 2;
        } else if (next == 0xFF) {
            p = ff + 1;
        } else {
            p = ff;
            return true;
        }
    }
}

// Follows the segments to the end-of-image marker, which a cut file has lost.
ImageFileCheck CheckJpeg(Bytes b) {
    ImageFileCheck r;
    size_t p = 2;
    for (;;) {
        p = b.find('\xFF', p);  // stray bytes between segments are passed over, as decoders do
        while (p < b.size() && At(b, p) == 0xFF) ++p;
        if (p >= b.size()) return Damaged(r, "the file ends before its end marker");
        std::uint8_t marker = At(b, p++);
        if (marker == 0xD9) return r;
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 ||
            (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (p + 2 > b.size()) return Damaged(r, "the file ends inside a header segment");
        const size_t length = Be16(b, p);
        if (IsFrameHeader(marker) && p + 7 <= b.size()) {
            r.height = Be16(b, p + 3);
            r.width = Be16(b, p + 5);
        }
        if (length < 2) return r;  // the decoder refuses this itself
        if (p + length > b.size()) return Damaged(r, "the file ends inside a header segment");
        p += length;
        if (marker == 0xDA && !SkipScan(b, p))
            return Damaged(r, "the file ends inside the compressed picture");
    }
}

}  // namespace

ImageFileCheck CheckImageFile(std::string_view bytes) {
    if (StartsWith(bytes, "BM")) return CheckBmp(bytes);
    if (StartsWith(bytes, "GIF87a") || StartsWith(bytes, "GIF89a")) return CheckGif(bytes);
    if (StartsWith(bytes, "\xFF\xD8\xFF")) return CheckJpeg(bytes);
    return {};
}

}  // namespace wce::gdi
