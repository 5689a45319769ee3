// Printed pages (the emulator's pictures, one dot a pixel) against golden PNGs; see
// golden.h. Baselines are written as the emulator writes its pages, one bit a dot.
#pragma once

#include <string>
#include <vector>

#include "bitmap.h"
#include "golden.h"
#include "png_io.h"

namespace qxtest {

inline Picture PictureOf(const qxemu::Bitmap& page) {
    Picture picture(page.Width(), page.Height());
    for (int y = 0; y < page.Height(); ++y)
        for (int x = 0; x < page.Width(); ++x)
            if (page.Dot(x, y)) picture.At(x, y) = 0x000000;
    return picture;
}

inline std::size_t CountDifferences(const qxemu::Bitmap& a, const qxemu::Bitmap& b) {
    return CountDifferences(PictureOf(a), PictureOf(b));
}

// A PNG file read as a page: a pixel darker than mid grey is a dot.
inline GoldenFiles PageFiles(const qxemu::Bitmap& rendered) {
    GoldenFiles files;
    files.read = [](const std::string& path, Picture* baseline, std::string* error) {
        qxemu::Bitmap page;
        if (!qxemu::ReadPng(path, &page, error)) return false;
        *baseline = PictureOf(page);
        return true;
    };
    files.writeRendered = [&rendered](const std::string& path, std::string* error) {
        return qxemu::WritePng(path, rendered, {}, error);
    };
    files.writeDiff = [](const std::string& path, const Picture& diff, std::string* error) {
        std::vector<std::uint8_t> rgb;
        rgb.reserve(diff.rgb.size() * 3);
        for (std::uint32_t p : diff.rgb)
            rgb.insert(rgb.end(), {std::uint8_t(p >> 16), std::uint8_t(p >> 8), std::uint8_t(p)});
        return qxemu::WriteRgbPng(path, diff.width, diff.height, rgb, error);
    };
    return files;
}

inline GoldenOutcome CheckGolden(const qxemu::Bitmap& page, const std::string& goldenPath,
                                 const std::string& diffPath) {
    return CheckGolden(PictureOf(page), goldenPath, diffPath, PageFiles(page));
}

// A page the emulator wrote as a PNG file against its golden; a file that cannot be read
// fails with the reader's reason.
inline GoldenOutcome CheckPngGolden(const std::string& png, const std::string& goldenPath,
                                    const std::string& diffPath) {
    qxemu::Bitmap page;
    GoldenOutcome unread;
    if (!qxemu::ReadPng(png, &page, &unread.message)) return unread;
    return CheckGolden(page, goldenPath, diffPath);
}

}  // namespace qxtest
