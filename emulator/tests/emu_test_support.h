// Test helpers: a device whose pages are kept in memory, and byte-stream builders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "decoder.h"
#include "device.h"
#include "log.h"
#include "temp_dir.h"

namespace qxemu::testing {

using qxtest::TempDir;

class Harness {
  public:
    explicit Harness(int paperWidth = kModelAPaperDots, std::string outDir = "",
                     std::string nvPath = "")
        : device_(Options(paperWidth, outDir, nvPath), log_) {
        log_.SetCapture(true);
        log_.SetErrorsToStderr(false);
        std::string error;
        device_.Start(&error);
        device_.SetPageCallback([this](const PrintedPage& page) { pages.push_back(page); });
    }

    // One connection carrying bytes, delivered in pieces of the given size.
    void Decode(const std::string& bytes, std::size_t piece = SIZE_MAX) {
        Decoder decoder(device_);
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            std::size_t n = std::min(piece, bytes.size() - at);
            decoder.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data() + at), n);
        }
        decoder.Finish();
    }

    bool Logged(const std::string& part) const {
        for (const std::string& line : log_.Captured()) {
            if (line.find(part) != std::string::npos) return true;
        }
        return false;
    }
    std::string LogText() const {
        std::string text;
        for (const std::string& line : log_.Captured()) text += line + "\n";
        return text;
    }
    int Errors() const { return log_.ErrorCount(); }
    Device& device() { return device_; }
    Log& log() { return log_; }

    std::vector<PrintedPage> pages;

  private:
    static DeviceOptions Options(int paperWidth, const std::string& outDir,
                                 const std::string& nvPath) {
        DeviceOptions o;
        o.paperWidth = paperWidth;
        o.outDir = outDir;
        o.nvPath = nvPath;
        o.writeFiles = !outDir.empty();
        return o;
    }

    Log log_;
    Device device_;
};

inline std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

inline std::string U16(unsigned v) {
    return Bytes({static_cast<int>(v & 0xFF), static_cast<int>(v >> 8)});
}

inline const std::string kDocStart(4, '\0');

// GS v 0 band of rows x widthBytes bytes.
inline std::string Raster(int widthBytes, int rows, const std::string& data) {
    return Bytes({0x1D, 0x76, 0x30, 0x00}) + U16(widthBytes) + U16(rows) + data;
}

// A CPCL label with the given graphics lines.
inline std::string Label(int height, int quantity, const std::string& body) {
    return "! 0 203 203 " + std::to_string(height) + " " + std::to_string(quantity) +
           "\r\nLABEL\r\nGAP-SENSE\r\n" + body + "FORM\r\nPRINT\r\n";
}

inline std::string Cg(int w, int h, int x, int y, const std::string& data) {
    return "CG " + std::to_string(w) + " " + std::to_string(h) + " " + std::to_string(x) + " " +
           std::to_string(y) + data + "\r\n";
}

// A bitmap from rows of bytes.
inline Bitmap FromRows(int width, const std::vector<std::vector<std::uint8_t>>& rows) {
    Bitmap b(width, static_cast<int>(rows.size()));
    for (std::size_t y = 0; y < rows.size(); ++y) {
        for (std::size_t i = 0; i < rows[y].size() && i < static_cast<std::size_t>(b.RowBytes());
             ++i) {
            b.Row(static_cast<int>(y))[i] = rows[y][i];
        }
    }
    return b;
}

}  // namespace qxemu::testing

namespace qxemu {
// Readable failure text for bitmap comparisons.
inline void PrintTo(const Bitmap& b, std::ostream* os) {
    *os << b.Width() << " x " << b.Height() << " dots, " << b.CountDots() << " black";
    int shown = 0;
    for (int y = 0; y < b.Height() && shown < 8; ++y) {
        for (int x = 0; x < b.Width() && shown < 8; ++x) {
            if (b.Dot(x, y)) *os << (shown++ ? " " : ": ") << "(" << x << "," << y << ")";
        }
    }
}
}  // namespace qxemu
