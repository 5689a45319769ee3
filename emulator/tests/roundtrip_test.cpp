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

}  // namespace
}  // namespace qxemu::testing
