// CPCL labels: header, media words, CG and ZCG (digits at the start of the data
// included), clipping and other senders' lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "emu_test_support.h"

namespace qxemu::testing {
namespace {

TEST(EmuCpcl, TheWorkedBandsPrintWhereTheySay) {
    Harness h;
    std::string zcg = "ZCG 4 10 0 0 24" + Bytes({0x28, 0, 0, 0}) +
                      Bytes({0x01, 0x01, 0x00, 0xFF, 0x00, 0x10, 0x00, 0x01, 0x10, 0x00,
                             0x01, 0x10, 0x00, 0x01, 0x10, 0x01, 0xF2, 0x0F, 0x02, 0x01}) +
                      "\r\n";
    h.Decode(kDocStart + Label(406, 1, Cg(2, 2, 80, 5, std::string("\xFF\x00\x0F\xF0", 4)) + zcg));
    ASSERT_EQ(h.pages.size(), 1u);
    const Bitmap& label = h.pages[0].bitmap;
    EXPECT_EQ(label.Width(), kModelAPaperDots);
    EXPECT_EQ(label.Height(), 406);
    Bitmap expected(kModelAPaperDots, 406);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 32; ++x) expected.SetDot(x, y);
    for (int x = 80; x < 88; ++x) expected.SetDot(x, 5);
    for (int x = 84; x < 92; ++x) expected.SetDot(x, 6);
    EXPECT_EQ(label, expected);
    EXPECT_EQ(h.Errors(), 0) << h.LogText();
}

TEST(EmuCpcl, BandsWhoseDataBeginsWithDigitsReadRight) {
    // The data follows the last number directly, so "CG 2 1 0 5" + "37" looks like a
    // y of 537; only the reading y = 5 ends the command in CR LF.
    std::mt19937 random(3);
    for (int round = 0; round < 300; ++round) {
        int w = 1 + static_cast<int>(random() % 6), rows = 1 + static_cast<int>(random() % 4);
        int y = static_cast<int>(random() % 120);
        std::string data(static_cast<std::size_t>(w * rows), '\0');
        for (char& c : data) c = static_cast<char>(random() % 2 ? '0' + random() % 10 : random());
        data[0] = static_cast<char>('0' + random() % 10);
        Harness h;
        h.Decode(Label(128, 1, Cg(w, rows, 8, y, data)));
        ASSERT_EQ(h.pages.size(), 1u);
        std::vector<std::vector<std::uint8_t>> expectedRows(128);
        for (int r = 0; r < rows; ++r) {
            expectedRows[static_cast<std::size_t>(y + r)].push_back(0);
            for (int i = 0; i < w; ++i) {
                expectedRows[static_cast<std::size_t>(y + r)].push_back(
                    static_cast<std::uint8_t>(data[static_cast<std::size_t>(r * w + i)]));
            }
        }
        Bitmap expected = FromRows(kModelAPaperDots, expectedRows);
        ASSERT_EQ(h.pages[0].bitmap, expected) << "round " << round << "\n" << h.LogText();
        ASSERT_EQ(h.Errors(), 0) << h.LogText();
    }
}

// The worked band of TheWorkedBandsPrintWhereTheySay: 4 bytes x 10 rows, 20 LZW bytes.
const std::string kWorkedCodes =
    Bytes({0x01, 0x01, 0x00, 0xFF, 0x00, 0x10, 0x00, 0x01, 0x10, 0x00,
           0x01, 0x10, 0x00, 0x01, 0x10, 0x01, 0xF2, 0x0F, 0x02, 0x01});

// A command's line in the log, after its offset: the command in 16 columns, the detail.
std::string Logged(std::string command, const std::string& detail) {
    command.resize(std::max<std::size_t>(command.size(), 16), ' ');
    return command + " " + detail;
}

// What the log says of each graphic: its numbers with the last one as read, and
// whatever was odd about it.
TEST(EmuCpcl, GraphicsAreLoggedWithTheReadingTaken) {
    struct Case {
        std::string line;
        std::vector<std::string> logged;
    } cases[] = {
        {Cg(2, 1, 8, 5, "37"), {Logged("CG 2 1 8 5", "2 bytes x 1 rows at (8, 5)")}},
        {"CG 2 1 8 5 37\r\n",
         {Logged("CG 2 1 8 5",
                 "2 bytes x 1 rows at (8, 5) (space before the data: not this "
                 "system's form)")}},
        {"ZCG 4 10 0 3 24" + Bytes({40, 0, 0, 0}) + kWorkedCodes + "\r\n",
         {Logged("ZCG 4 10 0 3 24", "4 bytes x 10 rows at (0, 3), 20 LZW bytes")}},
        {"ZCG 4 10 0 3 26" + Bytes({40, 0, 0, 0}) + kWorkedCodes + "\x05\x05\r\n",
         {Logged("ZCG 4 10 0 3 26", "4 bytes x 10 rows at (0, 3), 22 LZW bytes"),
          Logged("ZCG", "2 byte(s) after the end code ignored")}},
        {"CG 2 1 x 5 37\r\n", {"CG: malformed number list: refused"}},
        {"CG 2 1 8 5 345\r\n",
         {"CG: no reading of the numbers is followed by width x height data bytes and CR LF"}},
        {"ZCG 4 10 0 3 9" + Bytes({41, 0, 0, 0}) + "\x01\x01\x00\x00\x00\r\n",
         {"ZCG: no reading of the numbers is followed by a length of width x height, the data "
          "and CR LF"}},
    };
    for (const Case& c : cases) {
        Harness h;
        h.Decode(Label(16, 1, c.line));
        ASSERT_EQ(h.pages.size(), 1u) << c.line;
        for (const std::string& part : c.logged) {
            EXPECT_TRUE(h.Logged(part)) << part << "\n" << h.LogText();
        }
    }
}

// Each graphic waits for the bytes that settle its reading, wherever the connection
// splits them: ZCG's length field, another sender's space, digits at the data's start.
TEST(EmuCpcl, GraphicsReadAlikeInPiecesOfAnySize) {
    const std::string stream =
        kDocStart + Label(64, 1,
                          "ZCG 4 10 0 3 26" + Bytes({40, 0, 0, 0}) + kWorkedCodes + "\x05\x05\r\n" +
                              "CG 2 1 8 5 37\r\n" + Cg(3, 2, 16, 20, "123456") +
                              "ZCG 4 10 0 30 24" + Bytes({40, 0, 0, 0}) + kWorkedCodes + "\r\n");
    Harness whole;
    whole.Decode(stream);
    ASSERT_EQ(whole.pages.size(), 1u);
    EXPECT_EQ(whole.Errors(), 0) << whole.LogText();
    for (std::size_t piece = 1; piece <= 40; ++piece) {
        Harness h;
        h.Decode(stream, piece);
        ASSERT_EQ(h.pages.size(), 1u) << "piece " << piece;
        EXPECT_EQ(h.pages[0].bitmap, whole.pages[0].bitmap) << "piece " << piece;
        EXPECT_EQ(h.LogText(), whole.LogText()) << "piece " << piece;
    }
}

TEST(EmuCpcl, OtherSendersLinesAreNamedAndSkipped) {
    Harness h;
    h.Decode(
        "! 0 200 200 20 1\r\nPAGE-WIDTH 576\r\nTONE 0\r\nCG 1 1 0 3 \x80\r\nFORM\r\nPRINT\r\n");
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_TRUE(h.pages[0].bitmap.Dot(0, 3));
    EXPECT_TRUE(h.Logged("PAGE-WIDTH")) << h.LogText();
    EXPECT_TRUE(h.Logged("TONE")) << h.LogText();
    EXPECT_TRUE(h.Logged("resolution 200 x 200")) << h.LogText();
    EXPECT_TRUE(h.Logged("space before the data")) << h.LogText();
}

TEST(EmuCpcl, GraphicsOutsideTheLabelAreCutAndLogged) {
    Harness h;
    std::string full(72, '\xFF');
    full[0] = '\x7F';  // the dot that lands at x = -1 is white
    h.Decode(Label(4, 1, Cg(72, 1, -1, 0, full) + Cg(1, 2, 0, 3, "\x80\x80")));
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_EQ(h.pages[0].bitmap.CountDots(), 575u + 1u);
    EXPECT_FALSE(h.pages[0].bitmap.Dot(575, 0));
    EXPECT_TRUE(h.Logged("1 black dot(s) outside the label (576 x 4 dots) cut")) << h.LogText();
    EXPECT_EQ(h.Errors(), 0);
}

TEST(EmuCpcl, JournalAndBackfeedAreMediaOfTheLabel) {
    Harness h;
    h.Decode("! 0 203 203 8 3\r\nJOURNAL\r\nBACKFEED\r\n" + Cg(1, 1, 0, 0, "\x80") + "PRINT\r\n");
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_EQ(h.pages[0].media, "JOURNAL BACKFEED");
    EXPECT_EQ(h.pages[0].quantity, 3);
}

TEST(EmuCpcl, BrokenZcgDataIsReportedAndDrawnAsFarAsDecoded) {
    Harness h;
    // Length says 8 bytes but the codes hold only the reset and the end.
    std::string zcg = "ZCG 2 4 0 0 12" + Bytes({8, 0, 0, 0}) +
                      Bytes({0x01, 0x01, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00}) + "\r\n";
    h.Decode(Label(8, 1, zcg));
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_TRUE(h.Logged("ERROR @")) << h.LogText();
    EXPECT_TRUE(h.Logged("ZCG")) << h.LogText();
}

TEST(EmuCpcl, ExtremeNumbersAreRefusedAsTheyAreRead) {
    // Each bad line is refused with a message naming the field; the good band after it
    // still prints. Products such as width x height must never be formed from them.
    const std::string good = Cg(1, 1, 0, 2, "\x80");
    struct Case {
        std::string line, message;
    } cases[] = {
        {"CG 9999999999 9999999999 0 0\x80\r\n", "width 9999999999 outside 0 to 65535"},
        {"CG 1 9999999999 0 0\x80\r\n", "height 9999999999 outside 0 to 65535"},
        {"CG -9999999999 1 0 0\x80\r\n", "width -9999999999 outside"},
        {"CG 1 1 9999999999 0\x80\r\n", "x 9999999999 outside"},
        {"CG 99999999999 1 0 0\x80\r\n", "width of more than 10 digits"},
        {"ZCG 9999999999 9999999999 0 0 8" + Bytes({1, 0, 0, 0, 1, 1, 0, 0}) + "\r\n",
         "width 9999999999 outside"},
        {"ZCG 1 1 0 -9999999999 8" + Bytes({1, 0, 0, 0, 1, 1, 0, 0}) + "\r\n",
         "y -9999999999 outside"},
        {"ZCG 65535 65535 0 0 8" + Bytes({1, 0, 0, 0, 1, 1, 0, 0}) + "\r\n",
         "larger than the largest command"},
        {"EG 9223372036854775807 9223372036854775807 0 0 00\r\n", "malformed expanded graphic"},
    };
    for (const Case& c : cases) {
        Harness h;
        h.Decode(Label(8, 1, c.line + good));
        ASSERT_EQ(h.pages.size(), 1u) << c.line;
        EXPECT_TRUE(h.Logged(c.message)) << c.line << "\n" << h.LogText();
        EXPECT_GE(h.Errors(), 1) << c.line;
        EXPECT_TRUE(h.pages[0].bitmap.Dot(0, 2)) << c.line << "\n" << h.LogText();
    }
    Harness h;
    h.Decode("! 0 203 203 99999999999999999999 1\r\n" + Label(8, 1, good));
    EXPECT_TRUE(h.Logged("99999999999999999999 is out of range")) << h.LogText();
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_TRUE(h.pages[0].bitmap.Dot(0, 2));
}

TEST(EmuCpcl, ReadingsWithLeadingZerosOrOffTheLabelComeLast) {
    // "0" and six zero bytes also read as y 0 with the band's end at the CR LF after
    // FORM; nobody writes "0000000", so y is 0 and the band is the six bytes.
    Harness h;
    h.Decode(Label(8, 1, Cg(6, 1, 0, 0, "000000")));
    ASSERT_EQ(h.pages.size(), 1u);
    EXPECT_EQ(h.pages[0].bitmap.CountDots(), 12u) << h.LogText();
    EXPECT_EQ(h.Errors(), 0) << h.LogText();
    // Where only such a reading fits, it is taken (another sender's zero padding).
    Harness padded;
    padded.Decode(Label(8, 1, "CG 1 1 0 03\x80\r\n"));
    ASSERT_EQ(padded.pages.size(), 1u);
    EXPECT_TRUE(padded.pages[0].bitmap.Dot(0, 3)) << padded.LogText();
}

}  // namespace
}  // namespace qxemu::testing
