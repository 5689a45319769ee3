// PNG files of printed paper: a black pixel for every black dot.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bitmap.h"

namespace qxemu {

using PngText = std::vector<std::pair<std::string, std::string>>;

// Writes a one-bit greyscale PNG, through a temporary file renamed into place so a
// reader never sees half a picture. Returns false with a message on failure.
bool WritePng(const std::string& path, const Bitmap& bitmap, const PngText& text,
              std::string* error);

// Writes an 8-bit RGB PNG of width x height pixels, rgb holding 3 bytes a pixel.
bool WriteRgbPng(const std::string& path, int width, int height,
                 const std::vector<std::uint8_t>& rgb, std::string* error);

// Reads any PNG; a pixel darker than mid grey (after alpha over white) is a black dot.
bool ReadPng(const std::string& path, Bitmap* bitmap, std::string* error);

}  // namespace qxemu
