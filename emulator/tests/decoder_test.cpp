// Framing of the stream: jobs, languages, receipt ends, pieces, and bad input.
#include <gtest/gtest.h>

#include <random>

#include "emu_test_support.h"

namespace qxemu::testing {
namespace {

TEST(EmuDecoderJobs, LanguageIsToldFromTheFirstBytesOfEachDocument) {
    Harness h;
    h.Decode(kDocStart + Raster(1, 1, "\xFF") + kDocStart + Label(10, 2, Cg(1, 1, 8, 2, "\x80")) +
             kDocStart + "Hi\n");
    ASSERT_EQ(h.pages.size(), 3u) << h.LogText();
    EXPECT_EQ(h.pages[0].kind, PageKind::kReceipt);
    EXPECT_EQ(h.pages[1].kind, PageKind::kLabel);
    EXPECT_EQ(h.pages[1].quantity, 2);
    EXPECT_EQ(h.pages[1].media, "LABEL GAP-SENSE");
    EXPECT_TRUE(h.pages[1].bitmap.Dot(8, 2));
    EXPECT_EQ(h.pages[1].bitmap.CountDots(), 1u);
    EXPECT_EQ(h.pages[2].kind, PageKind::kReceipt);
    EXPECT_EQ(h.Errors(), 0) << h.LogText();
}

TEST(EmuDecoderJobs, StreamsWithoutDocumentStartAreDecodedToo) {
    Harness h;
    h.Decode(Label(8, 1, Cg(1, 1, 0, 0, "\x01")));
    Harness e;
    e.Decode(Bytes({0x1B, 0x40}) + Raster(1, 1, "\x01"));
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_EQ(h.pages[0].kind, PageKind::kLabel);
    ASSERT_EQ(e.pages.size(), 1u);
    EXPECT_EQ(e.pages[0].kind, PageKind::kReceipt);
}

TEST(EmuDecoderJobs, ReceiptsEndAtCutIdleAndEndOfStream) {
    Harness h;
    Device& device = h.device();
    Decoder decoder(device);
    std::string first = Raster(1, 2, "\xFF\xFF") + Bytes({0x1D, 0x56, 0x42, 0x01});
    std::string second = Raster(1, 1, "\x0F");
    std::string third = "tail\n";
    decoder.Feed(reinterpret_cast<const std::uint8_t*>(first.data()), first.size());
    EXPECT_EQ(h.pages.size(), 1u);  // the cut
    decoder.Feed(reinterpret_cast<const std::uint8_t*>(second.data()), second.size());
    decoder.Idle();
    EXPECT_EQ(h.pages.size(), 2u);  // the pause
    decoder.Idle();
    EXPECT_EQ(h.pages.size(), 2u);  // nothing new: no empty receipt
    decoder.Feed(reinterpret_cast<const std::uint8_t*>(third.data()), third.size());
    decoder.Finish();
    ASSERT_EQ(h.pages.size(), 3u);
    // GS V 66 1 feeds one unit before the cut: half a row, rounded up on the paper.
    EXPECT_EQ(h.pages[0].bitmap.Height(), 3);
    EXPECT_EQ(h.pages[1].bitmap.Height(), 1);
    EXPECT_EQ(h.pages[2].bitmap.Height(), kTextLineRows);
}

TEST(EmuDecoderJobs, PiecesOfAnySizeGiveTheSamePages) {
    std::mt19937 random(7);
    std::string band(72 * 20, '\0');
    for (char& c : band) c = static_cast<char>(random());
    std::string cgData(6 * 5, '\0');
    for (char& c : cgData) c = static_cast<char>('0' + random() % 10);  // digits throughout
    std::string stream = kDocStart + "Start\n" + Raster(72, 20, band) + Bytes({0x1B, 0x4A, 0x10}) +
                         Raster(3, 1, "abc") + kDocStart +
                         Label(64, 1, Cg(6, 5, 17, 3, cgData) + Cg(1, 1, 0, 9, "9"));
    Harness whole;
    whole.Decode(stream);
    ASSERT_EQ(whole.pages.size(), 2u);
    for (std::size_t piece : {1u, 2u, 3u, 7u, 64u}) {
        Harness h;
        h.Decode(stream, piece);
        ASSERT_EQ(h.pages.size(), 2u) << "piece " << piece;
        EXPECT_EQ(h.pages[0].bitmap, whole.pages[0].bitmap) << "piece " << piece;
        EXPECT_EQ(h.pages[1].bitmap, whole.pages[1].bitmap) << "piece " << piece;
        EXPECT_EQ(h.Errors(), 0) << h.LogText();
    }
}

TEST(EmuDecoderBadInput, TruncatedRasterPrintsTheWholeRowsAndNamesTheOffset) {
    Harness h;
    h.Decode(kDocStart + "ab\n" + Raster(2, 4, "\xFF\xFF\x80\x01\x7F"));
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_TRUE(
        h.Logged("ERROR @7 GS v 0: truncated: 4 rows of 2 bytes announced, 5 data bytes arrived; 2 "
                 "whole row(s) printed"))
        << h.LogText();
    const Bitmap& paper = h.pages[0].bitmap;
    EXPECT_TRUE(paper.Dot(0, kTextLineRows));
    EXPECT_TRUE(paper.Dot(15, kTextLineRows + 1));
    EXPECT_EQ(paper.Height(), kTextLineRows + 2);
}

TEST(EmuDecoderBadInput, BadGraphicIsSkippedAndTheLabelStillPrints) {
    Harness h;
    // The first CG announces 3 bytes but carries 2 before its CR LF.
    h.Decode(kDocStart +
             Label(16, 1, Cg(3, 1, 0, 0, "\xFF\xFF").substr(0) + Cg(1, 1, 8, 4, "\x80")) +
             kDocStart + Label(8, 1, Cg(1, 1, 0, 0, "\x80")));
    ASSERT_EQ(h.pages.size(), 2u) << h.LogText();
    EXPECT_TRUE(h.Logged("ERROR @40 CG: no reading of the numbers")) << h.LogText();
    EXPECT_TRUE(h.Logged("going on here")) << h.LogText();
    EXPECT_TRUE(h.pages[0].bitmap.Dot(8, 4));
    EXPECT_TRUE(h.pages[1].bitmap.Dot(0, 0));
}

TEST(EmuDecoderBadInput, UnfinishedLabelAndUploadAreReportedAndKept) {
    Harness h;
    h.Decode(kDocStart + "! 0 203 203 8 1\r\n" + Cg(1, 1, 0, 0, "\x80"));
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_TRUE(h.Logged("stream ended inside the label")) << h.LogText();
    EXPECT_TRUE(h.pages[0].bitmap.Dot(0, 0));
}

TEST(EmuDecoderBadInput, RandomBytesNeverBreakTheDecoder) {
    // Random input with the command bytes made frequent; the fuzzer goes further.
    std::mt19937 random(11);
    const char pool[] = {0x00, 0x1B, 0x1C, 0x1D, 0x0A, 0x0D, '!', 'C',
                         'G',  'Z',  ' ',  '1',  'v',  '0',  'q', 'p'};
    for (int round = 0; round < 200; ++round) {
        std::string bytes(static_cast<std::size_t>(random() % 400), '\0');
        for (char& c : bytes)
            c = random() % 3 ? pool[random() % sizeof pool] : static_cast<char>(random());
        Harness h(round % 2 ? kModelBPaperDots : kModelAPaperDots);
        h.Decode(bytes, 1 + random() % 9);
    }
}

}  // namespace
}  // namespace qxemu::testing
