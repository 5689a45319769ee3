// Pages encoded by the driver's own ESC/POS and CPCL encoders decode to the same dots.
// The driver's bytes are captured from an in-process parallel printer.
#include <gtest/gtest.h>

#include <random>

#include "cpcl.h"
#include "emu_test_support.h"
#include "job.h"
#include "settings.h"
#include "tests/output_test_support.h"

namespace qxemu::testing {
namespace {

using qx470::testsupport::PrinterCapture;

Bitmap PageBitmap(PrinterCapture& capture, int rows, int width) {
    Bitmap page(width, rows);
    int bytes = capture.job().bytesPerRow;
    for (int y = 0; y < rows; ++y) std::copy(capture.Row(y), capture.Row(y) + bytes, page.Row(y));
    return page;
}

Bitmap Turned(const Bitmap& page) {
    Bitmap turned(page.Width(), page.Height());
    for (int y = 0; y < page.Height(); ++y)
        for (int x = 0; x < page.Width(); ++x)
            if (page.Dot(x, y)) turned.SetDot(page.Width() - 1 - x, page.Height() - 1 - y);
    return turned;
}

// Bands of random rows between blank runs shorter than a full feed run. Each band's
// first byte is an ASCII digit, and some bands are solid so they go out as ZCG; a solid
// 10 x 5 band has a length field whose low byte (50) is the digit '2'.
void FillPage(PrinterCapture& capture, int bytesPerRow, int rows, unsigned seed) {
    std::mt19937 random(seed);
    int y = static_cast<int>(random() % 20);
    while (y < rows - 12) {
        int height = 1 + static_cast<int>(random() % 10);
        int left = static_cast<int>(random() % (bytesPerRow - 10));
        int width = 1 + static_cast<int>(random() % (bytesPerRow - left));
        bool solid = random() % 3 == 0;
        if (solid) width = std::min(10, bytesPerRow - left), height = 5;
        for (int r = 0; r < height && y + r < rows; ++r) {
            for (int i = left; i < left + width; ++i) {
                capture.Row(y + r)[i] = solid ? 0xFF : static_cast<wce::BYTE>(random());
            }
        }
        if (!solid) capture.Row(y)[left] = static_cast<wce::BYTE>('0' + random() % 10);
        y += height + 1 + static_cast<int>(random() % 126);
    }
}

std::string Encode(PrinterCapture& capture, const qx470::DriverSettings& settings) {
    EXPECT_TRUE(capture.Open());
    capture.Take();
    qx470::PrintPage(capture.job(), settings);
    return capture.Take();
}

TEST(EmuRoundTrip, EscPosPagesOfBothModels) {
    for (int paper : {kModelAPaperDots, kModelBPaperDots}) {
        for (unsigned seed = 1; seed <= 4; ++seed) {
            PrinterCapture capture;
            const int rows = 700;
            capture.SetPage(paper / 8, rows, paper);
            FillPage(capture, paper / 8, rows, seed);
            qx470::DriverSettings settings;
            settings.emulation = 0;
            settings.copies = 1;
            settings.printingLength = 1;
            std::string bytes = Encode(capture, settings);
            Harness h(paper);
            h.Decode(bytes);
            ASSERT_EQ(h.pages.size(), 1u) << h.LogText();
            EXPECT_EQ(h.pages[0].bitmap, PageBitmap(capture, rows, paper)) << "seed " << seed;
            EXPECT_EQ(h.Errors(), 0) << h.LogText();
        }
    }
}

TEST(EmuRoundTrip, CpclPagesPlainAndTurned) {
    for (int rotation : {0, 1}) {
        for (unsigned seed = 1; seed <= 6; ++seed) {
            PrinterCapture capture;
            const int rows = 800;
            capture.SetPage(72, rows, kModelAPaperDots);
            FillPage(capture, 72, rows, seed * 31 + static_cast<unsigned>(rotation));
            qx470::DriverSettings settings;
            settings.emulation = 1;
            settings.copies = 2;
            settings.paperHeight = rows * 5 / 4;  // the header's height is 0.8 of it
            settings.rotation = rotation;
            std::string bytes = Encode(capture, settings);
            qx470::FreeCpclBuffers(capture.job());
            ASSERT_NE(bytes.find("ZCG "), std::string::npos);
            ASSERT_NE(bytes.find("\nCG "), std::string::npos);
            Harness h;
            h.Decode(kDocStart + bytes);
            ASSERT_EQ(h.pages.size(), 1u) << h.LogText();
            EXPECT_EQ(h.pages[0].quantity, 2);
            Bitmap page = PageBitmap(capture, rows, kModelAPaperDots);
            EXPECT_EQ(h.pages[0].bitmap, rotation ? Turned(page) : page)
                << "rotation " << rotation << " seed " << seed << "\n"
                << h.LogText();
            EXPECT_EQ(h.Errors(), 0) << h.LogText();
        }
    }
}

std::uint8_t Reversed(std::uint8_t b) {
    std::uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<std::uint8_t>(r | ((b >> i & 1) << (7 - i)));
    return r;
}

// One band of rows [top, top + height) whose bytes all hold ink. The first bytes the
// driver sends are digits: the band's first bytes, or on a turned page its last bytes
// (sent first, bit-reversed). Solid bands sized so that the low byte of their length
// field is a digit go out as ZCG.
// A band ending at the page's last row is placed at y 0 when the page is turned.
void DigitBand(PrinterCapture& capture, std::mt19937& random, int top, int height, bool turned,
               bool atBottom = false) {
    bool solid = random() % 4 == 0;
    int width = solid ? 7 : 1 + static_cast<int>(random() % 12);
    if (solid) height = 7;  // 49 bytes: "1" after the ZCG length
    if (atBottom) top = capture.job().allocatedRows - height;
    int left = static_cast<int>(random() % (72 - width + 1));
    std::vector<wce::BYTE*> rows;
    for (int r = 0; r < height; ++r) rows.push_back(capture.Row(top + r) + left);
    for (wce::BYTE* row : rows)
        for (int i = 0; i < width; ++i)
            row[i] = solid ? 0xFF : static_cast<wce::BYTE>(random() | 1);
    if (solid) return;
    int digits = 1 + static_cast<int>(random() % 10);
    for (int k = 0; k < digits && k < width * height; ++k) {
        // Mostly zeros: "0" and zeros read as a small y that fits the label.
        auto digit = static_cast<std::uint8_t>('0' + (random() % 3 ? 0 : random() % 10));
        int at = turned ? width * height - 1 - k : k;
        rows[static_cast<std::size_t>(at / width)][at % width] = turned ? Reversed(digit) : digit;
    }
}

Bitmap Decoded(const std::string& bytes, Harness& h) {
    h.Decode(kDocStart + bytes);
    EXPECT_EQ(h.pages.size(), 1u) << h.LogText();
    return h.pages.empty() ? Bitmap() : h.pages[0].bitmap;
}

TEST(EmuRoundTrip, TopRowOfDigitsKeepsFormAndPrint) {
    // The label's only ink is the top row, its first six bytes 0x30: "CG 6 1 0 0" is
    // followed by "000000" and CR LF, so "0000000" would also end in CR LF (after FORM).
    for (int emulation : {1, 3}) {
        PrinterCapture capture;
        capture.SetPage(72, 406, kModelAPaperDots);
        std::fill(capture.Row(0), capture.Row(0) + 6, 0x30);
        qx470::DriverSettings settings;
        settings.emulation = emulation;
        settings.copies = 1;
        settings.paperHeight = 508;
        std::string bytes = Encode(capture, settings);
        ASSERT_NE(bytes.find("CG 6 1 0 0000000\r\n"), std::string::npos);
        Harness h;
        EXPECT_EQ(Decoded(bytes, h), PageBitmap(capture, 406, kModelAPaperDots)) << h.LogText();
        EXPECT_EQ(h.Errors(), 0) << h.LogText();
        EXPECT_FALSE(h.Logged("without PRINT")) << h.LogText();
    }
}

TEST(EmuRoundTrip, DigitLeadingBandsAtEveryRow) {
    // Pages of one band at the first row the printer sees (y 0, the last band before
    // FORM) and pages of several bands at random rows, plain and turned, gap labels
    // and journal.
    std::mt19937 random(21);
    const int rows = 160;
    for (int round = 0; round < 320; ++round) {
        const int rotation = round % 2, emulation = round % 4 < 2 ? 1 : 3;
        PrinterCapture capture;
        capture.SetPage(72, rows, kModelAPaperDots);
        if (random() % 2 == 0) {
            DigitBand(capture, random, 0, 1 + static_cast<int>(random() % 3), rotation, rotation);
        } else {
            for (int top = static_cast<int>(random() % 3); top < rows - 12;
                 top += 10 + static_cast<int>(random() % 40))
                DigitBand(capture, random, top, 1 + static_cast<int>(random() % 3), rotation);
        }
        qx470::DriverSettings settings;
        settings.emulation = emulation;
        settings.copies = 1;
        settings.paperHeight = rows * 5 / 4;
        settings.rotation = rotation;
        std::string bytes = Encode(capture, settings);
        qx470::FreeCpclBuffers(capture.job());
        Harness h;
        Bitmap page = PageBitmap(capture, rows, kModelAPaperDots);
        ASSERT_EQ(Decoded(bytes, h), rotation ? Turned(page) : page) << "round " << round << "\n"
                                                                     << h.LogText();
        ASSERT_EQ(h.Errors(), 0) << "round " << round << "\n" << h.LogText();
    }
}

}  // namespace
}  // namespace qxemu::testing
