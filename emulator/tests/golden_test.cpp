// Whole pages against the baselines in tests/golden/. QX_UPDATE_GOLDEN=1 rewrites
// them (and leaves diff images beside the test's output).
#include <gtest/gtest.h>

#include <filesystem>

#include "emu_test_support.h"
#include "golden_page.h"
#include "png_io.h"

namespace qxemu::testing {
namespace {

using qxtest::CheckGolden;
using qxtest::CountDifferences;
using qxtest::GoldenOutcome;
using qxtest::GoldenUpdateRequested;

std::string GoldenPath(const std::string& name) {
    return std::string(QX_SOURCE_DIR) + "/tests/golden/" + name;
}

std::string Checkerboard(int widthBytes, int rows) {
    std::string data;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < widthBytes; ++x)
            data += static_cast<char>(((y / 8) + x) % 2 ? 0xFF : 0x00);
    return data;
}

TEST(EmuGolden, Receipt) {
    TempDir dir;
    Harness h(kModelAPaperDots, dir.path());
    std::string logo = Bytes({0x1B, 0x40, 0x1C, 0x71, 1}) + U16(4) + U16(2);
    for (int x = 0; x < 32; ++x) logo += Bytes({x % 4 == 0 ? 0xFF : 0x81, x < 16 ? 0xFF : 0x01});
    h.Decode(logo);
    h.Decode(kDocStart + Bytes({0x1C, 0x70, 1, 0x30}) + "QX receipt 0123456789\n" +
             Raster(36, 48, Checkerboard(36, 48)) + Bytes({0x1B, 0x4A, 20}) +
             Raster(72, 8, std::string(72 * 8, '\x55')) + "Total: 12.50\n" +
             Bytes({0x0D, 0x0A, 0x0D, 0x0A, 0x0D, 0x0A}));
    ASSERT_EQ(h.pages.size(), 1u);
    GoldenOutcome outcome = CheckGolden(h.pages[0].bitmap, GoldenPath("emulator-receipt.png"),
                                        "emulator-receipt-diff.png");
    EXPECT_TRUE(outcome.matched) << outcome.message;
    // The file the emulator wrote reads back as the same dots.
    Bitmap written;
    std::string error;
    ASSERT_TRUE(ReadPng(h.pages[0].file, &written, &error)) << error;
    EXPECT_EQ(CountDifferences(written, h.pages[0].bitmap), 0u);
}

TEST(EmuGolden, Label) {
    Harness h(kModelBPaperDots);
    std::string body = Cg(8, 32, 10, 4, Checkerboard(8, 32)) +
                       Cg(48, 2, 0, 60, std::string(96, '\xF0')) + Cg(2, 2, 300, 70, "12\xFF\x81");
    h.Decode(kDocStart + Label(96, 2, body));
    ASSERT_EQ(h.pages.size(), 1u);
    GoldenOutcome outcome =
        CheckGolden(h.pages[0].bitmap, GoldenPath("emulator-label.png"), "emulator-label-diff.png");
    EXPECT_TRUE(outcome.matched) << outcome.message;
}

TEST(EmuGolden, MismatchCountsPixelsAndWritesADiff) {
    TempDir dir;
    Bitmap a(16, 4), b(16, 4);
    a.SetDot(1, 1);
    b.SetDot(2, 2);
    std::string golden = dir.path() + "/g.png", diff = dir.path() + "/d.png", error;
    ASSERT_TRUE(WritePng(golden, b, {}, &error)) << error;
    if (GoldenUpdateRequested()) GTEST_SKIP() << "baselines are being rewritten";
    GoldenOutcome outcome = CheckGolden(a, golden, diff);
    EXPECT_FALSE(outcome.matched);
    EXPECT_EQ(outcome.differing, 2u);
    EXPECT_TRUE(std::filesystem::exists(diff));
    EXPECT_EQ(CountDifferences(Bitmap(16, 4), Bitmap(16, 5)), 16u * 5u);
}

}  // namespace
}  // namespace qxemu::testing
