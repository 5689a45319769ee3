// ESC/POS as the printer prints it: raster bands, feeds, text lines, other senders'
// commands.
#include <gtest/gtest.h>

#include "emu_test_support.h"
#include "font.h"

namespace qxemu::testing {
namespace {

TEST(EmuEscPos, RasterBandsAndFeedsLandOnTheirRows) {
    // A 16-dot page of rows FF 00, blank, 00 80, blank, feeding blank rows.
    Harness h;
    h.Decode(kDocStart + Raster(1, 1, "\xFF") + Bytes({0x1B, 0x4A, 0x02}) +
             Raster(2, 1, std::string("\x00\x80", 2)) + Bytes({0x1B, 0x4A, 0x02}));
    ASSERT_EQ(h.pages.size(), 1u);
    Bitmap expected = FromRows(kModelAPaperDots, {{0xFF, 0x00}, {0, 0}, {0x00, 0x80}, {0, 0}});
    EXPECT_EQ(h.pages[0].bitmap, expected);
}

TEST(EmuEscPos, AFullRunFeedOfHalfUnitsStartsTheNextBandOnTheNextWholeRow) {
    // 255 units are 127.5 rows; the head prints on the next whole row, 128.
    Harness h;
    h.Decode(Raster(1, 1, "\x80") + Bytes({0x1B, 0x4A, 0xFF}) + Raster(1, 1, "\x80"));
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_TRUE(h.pages[0].bitmap.Dot(0, 129));
    EXPECT_EQ(h.pages[0].bitmap.CountDots(), 2u);
    EXPECT_EQ(h.pages[0].bitmap.Height(), 130);
}

TEST(EmuEscPos, DotsBeyondThePaperAreCutAndLogged) {
    Harness h(kModelBPaperDots);
    std::string row(72, '\0');
    row[47] = '\x01';  // dot 383: the last one on model B paper
    row[48] = '\x80';  // dot 384: beyond it
    row[71] = '\x01';
    h.Decode(Raster(72, 1, row));
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_EQ(h.pages[0].bitmap.Width(), kModelBPaperDots);
    EXPECT_TRUE(h.pages[0].bitmap.Dot(383, 0));
    EXPECT_EQ(h.pages[0].bitmap.CountDots(), 1u);
    EXPECT_TRUE(h.Logged("2 black dot(s) beyond the paper width of 384 dots cut")) << h.LogText();
}

TEST(EmuEscPos, TextLinesAndTheTrailer) {
    Harness h;
    h.Decode(kDocStart + "Hi\n" + Bytes({0x0D, 0x0A, 0x0D, 0x0A, 0x0D, 0x0A}));
    ASSERT_EQ(h.pages.size(), 1u);
    const Bitmap& paper = h.pages[0].bitmap;
    EXPECT_EQ(paper.Height(), 4 * kTextLineRows);
    Bitmap cell(2 * kCharWidth, kCharHeight);
    DrawChar(cell, 0, 0, 'H');
    DrawChar(cell, kCharWidth, 0, 'i');
    std::size_t inked = 0;
    for (int y = 0; y < paper.Height(); ++y) {
        for (int x = 0; x < paper.Width(); ++x) {
            bool expected = x < cell.Width() && y < cell.Height() && cell.Dot(x, y);
            ASSERT_EQ(paper.Dot(x, y), expected) << x << "," << y;
            inked += expected;
        }
    }
    EXPECT_GT(inked, 40u);
}

TEST(EmuEscPos, LongTextWrapsAtTheLastColumn) {
    Harness h(kModelBPaperDots);  // 32 columns
    h.Decode(std::string(33, 'I') + "\n");
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_EQ(h.pages[0].bitmap.Height(), 2 * kTextLineRows);
    Bitmap line(kCharWidth, kCharHeight);
    DrawChar(line, 0, 0, 'I');
    EXPECT_EQ(h.pages[0].bitmap.CountDots(), 33 * line.CountDots());
}

TEST(EmuEscPos, OtherSendersCommandsAreNamedAndSteppedOver) {
    Harness h;
    h.Decode(Bytes({0x1B, 0x40, 0x1B, 0x61, 0x01, 0x1D, 0x4C, 0x00, 0x00, 0x1B,
                    0x2A, 0x21, 0x02, 0x00, 1,    2,    3,    4,    5,    6,
                    0x1D, 0x28, 0x4C, 0x02, 0x00, 0x30, 0x45, 0x1B, 0x7F}) +
             Raster(1, 1, "\x80") + Bytes({0x1D, 0x56, 0x41, 0x10}));
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_EQ(h.pages[0].bitmap.CountDots(), 1u);
    EXPECT_TRUE(h.pages[0].bitmap.Dot(0, 0));
    for (const char* part : {"ESC 61", "GS 4C", "ESC 2A", "GS 28", "ESC 7F", "GS V 65"}) {
        EXPECT_TRUE(h.Logged(part)) << part << "\n" << h.LogText();
    }
    EXPECT_EQ(h.Errors(), 0) << h.LogText();
}

TEST(EmuEscPos, OversizedRasterIsSkippedWithoutBufferingIt) {
    Harness h;
    Decoder decoder(h.device());
    std::string header = Bytes({0x1D, 0x76, 0x30, 0x00, 0xFF, 0xFF, 0xFF, 0xFF});
    decoder.Feed(reinterpret_cast<const std::uint8_t*>(header.data()), header.size());
    std::string chunk(1 << 20, '\xFF');
    for (int i = 0; i < 8; ++i)
        decoder.Feed(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
    decoder.Finish();
    EXPECT_TRUE(h.Logged("larger than the printer takes")) << h.LogText();
    EXPECT_TRUE(h.Logged("short of the skipped command")) << h.LogText();
    EXPECT_TRUE(h.pages.empty());
}

}  // namespace
}  // namespace qxemu::testing
