// The printer's non-volatile image memory: up to 255 pictures kept in a file, so they
// survive a restart of the emulator as they survive a power cycle of the printer.
//
// File format (all numbers little-endian):
//   8 bytes   "QXNVMEM1"
//   4 bytes   image count (0 to 255); images are numbered 1, 2, ... in file order
//   per image 2 bytes width in units of 8 dots, 2 bytes height in units of 8 dots,
//             then width x 8 x height bytes of column data exactly as uploaded
//   4 bytes   CRC-32 (IEEE 802.3) of everything before it
// Written to FILE.tmp, flushed to disk and renamed over FILE.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bitmap.h"

namespace qxemu {

inline constexpr int kMaxNvImages = 255;
// Largest picture the printer takes: 1023 x 8 dots wide, 288 x 8 dots high.
inline constexpr int kMaxNvWidthUnits = 1023;
inline constexpr int kMaxNvHeightUnits = 288;

struct NvImage {
    int widthUnits = 0;   // units of 8 dots
    int heightUnits = 0;  // units of 8 dots
    // For each dot column left to right, heightUnits bytes top to bottom; bit 7 of
    // byte j is row 8j.
    std::vector<std::uint8_t> columns;
};

// The picture of a stored image, widthUnits x 8 by heightUnits x 8 dots.
Bitmap NvImageToBitmap(const NvImage& image);

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);

class NvStore {
  public:
    explicit NvStore(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    // Reads the file. A missing file is an empty memory. A damaged one is renamed to
    // FILE.bad (so nothing is lost), the memory starts empty and false is returned with
    // the reason.
    bool Load(std::string* message);
    bool Save(std::string* error) const;

    void ReplaceAll(std::vector<NvImage> images) { images_ = std::move(images); }
    void Clear() { images_.clear(); }
    // Image number n (1-based), or null when none is stored under it.
    const NvImage* Find(int number) const;
    int Count() const { return static_cast<int>(images_.size()); }

  private:
    bool Parse(const std::vector<std::uint8_t>& bytes, std::string* message);

    std::string path_;
    std::vector<NvImage> images_;
};

}  // namespace qxemu
