// Streams made by other software: what lies in the command table renders, the rest
// is named in the log and skipped, and nothing is an error.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "emu_test_support.h"

namespace qxemu::testing {
namespace {

std::string Sample(const std::string& name) {
    std::ifstream in(std::string(QX_SOURCE_DIR) + "/emulator/tests/data/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(EmuOutsideStreams, CupsLabelFilterCpcl) {
    for (const char* name : {"rastertolabel-cpcl-2in.bin", "rastertolabel-cpcl-4in.bin"}) {
        std::string bytes = Sample(name);
        ASSERT_FALSE(bytes.empty()) << name;
        Harness h;
        h.Decode(bytes, 509);
        ASSERT_EQ(h.pages.size(), 1u) << name;
        EXPECT_EQ(h.pages[0].kind, PageKind::kLabel);
        EXPECT_GT(h.pages[0].bitmap.CountDots(), 1000u);
        EXPECT_EQ(h.Errors(), 0) << h.LogText();
        for (const char* word : {"PAGE-WIDTH", "PAGE-HEIGHT", "TONE"}) {
            EXPECT_TRUE(h.Logged(std::string("\"") + word)) << word;
        }
    }
}

TEST(EmuOutsideStreams, CupsLabelFilterRowsMatchTheirBytes) {
    // Each raster row of the 2-inch sample is one "CG 51 1 0 y " line; the label must
    // hold exactly those bytes (the picture fits model B's paper after clipping).
    std::string bytes = Sample("rastertolabel-cpcl-2in.bin");
    Harness h(kModelAPaperDots);
    h.Decode(bytes);
    ASSERT_EQ(h.pages.size(), 1u);
    const Bitmap& label = h.pages[0].bitmap;
    std::size_t at = 0, rows = 0;
    while ((at = bytes.find("CG ", at)) != std::string::npos) {
        int w = 0, one = 0, x = 0, y = 0, used = 0;
        if (std::sscanf(bytes.c_str() + at, "CG %d %d %d %d %n", &w, &one, &x, &y, &used) < 4)
            break;
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data() + at + used);
        for (int i = 0; i < w && i < label.RowBytes(); ++i)
            ASSERT_EQ(label.Row(y)[i], data[i]) << y;
        at += static_cast<std::size_t>(used + w);
        ++rows;
    }
    EXPECT_GT(rows, 100u);
}

TEST(EmuOutsideStreams, EscPStreamIsNamedAndSkipped) {
    Harness h;
    h.Decode(Sample("rastertoepson-escp.bin"), 4096);
    EXPECT_EQ(h.Errors(), 0) << h.LogText();
    EXPECT_TRUE(h.Logged("ESC 2A")) << h.LogText();
    EXPECT_TRUE(h.Logged("unknown command, outside the command table"));
}

}  // namespace
}  // namespace qxemu::testing
