#include "png_io.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace qxemu {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void OnPngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    if (error != nullptr) *error = message;
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Runs the libpng writer over rows produced by rowAt; false leaves the message.
template <typename RowAt>
bool WriteRows(std::FILE* f, int width, int height, int bitDepth, int colorType,
               const PngText& text, bool invert, RowAt rowAt, std::string* error) {
    std::string pngError;
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &pngError, OnPngError, OnPngWarning);
    if (png == nullptr) {
        *error = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    // Built before setjmp: nothing with a destructor may be made between it and a
    // longjmp.
    std::vector<png_text> entries;
    for (const auto& [key, value] : text) {
        png_text t{};
        t.compression = PNG_TEXT_COMPRESSION_NONE;
        t.key = const_cast<char*>(key.c_str());
        t.text = const_cast<char*>(value.c_str());
        entries.push_back(t);
    }
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        *error = pngError.empty() ? "libpng failed" : pngError;
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 bitDepth, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!entries.empty()) png_set_text(png, info, entries.data(), static_cast<int>(entries.size()));
    png_write_info(png, info);
    if (invert) png_set_invert_mono(png);
    for (int y = 0; y < height; ++y) png_write_row(png, rowAt(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Writes through path.tmp and renames it over path.
template <typename Writer>
bool WriteAtomically(const std::string& path, Writer writer, std::string* error) {
    std::string tmp = path + ".tmp";
    File f(std::fopen(tmp.c_str(), "wb"));
    if (!f) {
        *error = "cannot create " + tmp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = writer(f.get());
    if (ok && (std::fflush(f.get()) != 0 || std::ferror(f.get()))) {
        *error = "cannot write " + tmp + ": " + std::strerror(errno);
        ok = false;
    }
    f.reset();
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) {
        *error = "cannot rename " + tmp + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) std::remove(tmp.c_str());
    return ok;
}

}  // namespace

bool WritePng(const std::string& path, const Bitmap& bitmap, const PngText& text,
              std::string* error) {
    if (bitmap.Width() <= 0 || bitmap.Height() <= 0) {
        *error = "empty picture";
        return false;
    }
    return WriteAtomically(
        path,
        [&](std::FILE* f) {
            // In PNG greyscale 0 is black, so the dot bits are inverted on the way out.
            return WriteRows(
                f, bitmap.Width(), bitmap.Height(), 1, PNG_COLOR_TYPE_GRAY, text, true,
                [&](int y) { return const_cast<png_bytep>(bitmap.Row(y)); }, error);
        },
        error);
}

bool WriteRgbPng(const std::string& path, int width, int height,
                 const std::vector<std::uint8_t>& rgb, std::string* error) {
    if (width <= 0 || height <= 0 ||
        rgb.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
        *error = "bad picture size";
        return false;
    }
    return WriteAtomically(
        path,
        [&](std::FILE* f) {
            return WriteRows(
                f, width, height, 8, PNG_COLOR_TYPE_RGB, {}, false,
                [&](int y) {
                    return const_cast<png_bytep>(rgb.data() +
                                                 static_cast<std::size_t>(y) * width * 3);
                },
                error);
        },
        error);
}

bool ReadPng(const std::string& path, Bitmap* bitmap, std::string* error) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        *error = path + ": " + image.message;
        return false;
    }
    image.format = PNG_FORMAT_GRAY;
    std::vector<std::uint8_t> grey(PNG_IMAGE_SIZE(image));
    png_color white{255, 255, 255};
    if (!png_image_finish_read(&image, &white, grey.data(), 0, nullptr)) {
        *error = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    int width = static_cast<int>(image.width);
    int height = static_cast<int>(image.height);
    Bitmap result(width, height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = grey.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            if (row[x] < 128) result.SetDot(x, y);
        }
    }
    *bitmap = std::move(result);
    return true;
}

}  // namespace qxemu
