// A program prints through the engine and the dlopened QX470.dll over loopback TCP into
// qx-emulator; what the emulator renders is compared with golden images.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QImage>
#include <QPainter>
#include <filesystem>
#include <string>

#include "driver_key.h"
#include "emulator_process.h"
#include "golden_page.h"
#include "png_io.h"
#include "wce/gdi.h"
#include "wce/registry.h"

using namespace wce;

namespace {

class PrintEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = world_.dir();
        wce::srand(1);  // the same dither in every run, however the tests are grouped
        // A picture with hard edges and a grey ramp, so dithering and turning both show.
        QImage picture(160, 80, QImage::Format_RGB32);
        picture.fill(Qt::white);
        QPainter p(&picture);
        for (int x = 0; x < 160; ++x)
            p.fillRect(x, 40, 1, 40, QColor(x * 255 / 159, x * 255 / 159, x * 255 / 159));
        p.fillRect(0, 0, 60, 30, Qt::black);
        p.end();
        picture.save(QString::fromStdString(dir_ + "/picture.png"));
    }
    void Settings(int emulation, int rotation) {
        qxtest::RegisterDriver(address_, {{u"Emulation", emulation}, {u"Rotation", rotation}});
    }

    // Draws a heading, a wrapped paragraph and the picture on one page.
    void PrintSample(SHORT orientation) {
        std::string addr(address_.begin(), address_.end());
        ASSERT_TRUE(
            emulator_.Start({"--tcp", addr + ":9100", "--out", dir_ + "/out", "--idle-ms", "0"}))
            << emulator_.firstLine;
        DEVMODEW dm{};
        dm.dmSize = sizeof dm;
        dm.dmOrientation = orientation;
        dm.dmPaperSize = 1;
        dm.dmColor = DMCOLOR_MONOCHROME;
        HDC dc = CreateDCW(nullptr, u"QX-470 Driver", nullptr, &dm);
        ASSERT_NE(dc, nullptr) << "error " << GetLastError();
        DOCINFOW doc{int(sizeof(DOCINFOW)), u"e2e", nullptr, nullptr, 0};
        ASSERT_GT(StartDocW(dc, &doc), 0);
        ASSERT_GT(StartPage(dc), 0);
        LOGFONTW lf{};
        lf.lfHeight = 24;
        lf.lfWidth = 12;
        std::char_traits<char16_t>::copy(lf.lfFaceName, u"Arial", 6);
        HFONT font = CreateFontIndirectW(&lf);
        SelectObject(dc, font);
        RECT r{0, 0, 576, 1000};
        DrawTextW(dc, u"Print Driver Sample Print", -1, &r, DT_WORDBREAK);
        r.top += 54;
        DrawTextW(dc,
                  u"A paragraph long enough to be wrapped at the edge of the paper by the engine.",
                  -1, &r, DT_WORDBREAK);
        std::u16string path = std::u16string(dir_.begin(), dir_.end()) + u"/picture.png";
        HBITMAP bmp = SHLoadDIBitmap(path.c_str());
        ASSERT_NE(bmp, nullptr);
        HDC screen = GetDC(nullptr);
        HDC mem = CreateCompatibleDC(screen);
        SelectObject(mem, bmp);
        EXPECT_TRUE(StretchBlt(dc, 0, 140, 160, 80, mem, 0, 0, 160, 80, SRCCOPY));
        EXPECT_GT(EndPage(dc), 0);
        EXPECT_GT(EndDoc(dc), 0);
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(font);
        DeleteDC(dc);  // closes the connection: the receipt ends there
        DeleteDC(mem);
        DeleteObject(bmp);
        ReleaseDC(nullptr, screen);
        EXPECT_EQ(emulator_.Stop(), 0);
    }

    void ExpectGolden(const std::string& name) {
        auto files = qxtest::PngFiles(dir_ + "/out");
        ASSERT_EQ(files.size(), 1u);
        qxemu::Bitmap page;
        std::string error;
        ASSERT_TRUE(qxemu::ReadPng(files[0], &page, &error)) << error;
        auto outcome =
            qxtest::CheckGolden(page, std::string(QX_SOURCE_DIR) + "/tests/golden/" + name + ".png",
                                name + "-diff.png");
        EXPECT_TRUE(outcome.matched) << outcome.message;
    }

    qxtest::TempWorld world_{"qxe2e"};
    std::string dir_;
    std::u16string address_;
    qxtest::EmulatorProcess emulator_{QX_EMULATOR_BIN};
};

TEST_F(PrintEndToEnd, EscPosPortrait) {
    address_ = u"127.0.8.1";
    Settings(0, 0);
    PrintSample(DMORIENT_PORTRAIT);
    ExpectGolden("driver-escpos-portrait");
}

TEST_F(PrintEndToEnd, EscPosLandscape) {
    address_ = u"127.0.8.2";
    Settings(0, 0);
    PrintSample(DMORIENT_LANDSCAPE);
    ExpectGolden("driver-escpos-landscape");
}

TEST_F(PrintEndToEnd, CpclRotated) {
    address_ = u"127.0.8.3";
    Settings(1, 1);
    PrintSample(DMORIENT_PORTRAIT);
    ExpectGolden("driver-cpcl-rotated");
}

}  // namespace
