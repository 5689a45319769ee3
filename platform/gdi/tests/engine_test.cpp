// The graphics engine against a driver that records what it is handed.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QImage>
#include <fstream>
#include <string>
#include <vector>

#include "wce/gdi.h"
#include "wce/registry.h"

using namespace wce;

struct RecordingState {
    std::vector<std::string> calls;
    std::vector<RECTL> rects;
    std::vector<std::vector<BYTE>> rows;
    LONG width = 120, height = 80;
    std::u16string port;
    bool failOpen = false;
};

namespace {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qxgdi.XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("QX_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
        setenv("QX_DEBUG_LOG", (dir_ + "/debug.log").c_str(), 1);
        driver_ = LoadLibraryW(u"RECORD.dll");
        ASSERT_NE(driver_, nullptr);
        state_ = reinterpret_cast<RecordingState* (*)()>(GetProcAddress(driver_, "RecordingDriverState"))();
    }
    void TearDown() override {
        FreeLibrary(driver_);
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    void Register(const char16_t* name, const std::u16string& port) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::u16string(u"Printers\\") + name).c_str(), 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
        auto text = [&](const char16_t* v, const std::u16string& t) {
            RegSetValueExW(key, v, 0, REG_SZ, reinterpret_cast<const BYTE*>(t.c_str()), DWORD((t.size() + 1) * 2));
        };
        text(u"Driver", u"RECORD.dll");
        text(u"Port", port);
        RegCloseKey(key);
    }
    HDC DefaultDc() {
        PRINTDLGW pd{};
        pd.cbStruct = 68;
        pd.dwFlags = PD_RETURNDEFAULT;
        return PrintDlgW(&pd) ? pd.hdc : nullptr;
    }
    // Pixel x of a delivered row as (red, green, blue).
    std::array<int, 3> Pixel(size_t row, size_t x) const {
        const auto& r = state_->rows.at(row);
        return {r.at(x * 3 + 2), r.at(x * 3 + 1), r.at(x * 3)};
    }
    std::string dir_;
    HMODULE driver_ = nullptr;
    RecordingState* state_ = nullptr;
};

TEST_F(EngineTest, NoRegisteredPrinterGivesNoDc) {
    PRINTDLGW pd{};
    pd.cbStruct = 68;
    pd.dwFlags = PD_RETURNDEFAULT;
    EXPECT_FALSE(PrintDlgW(&pd));
    EXPECT_EQ(pd.hdc, nullptr);
    EXPECT_EQ(CreateDCW(nullptr, u"Nobody", nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
}

TEST_F(EngineTest, DefaultPrinterAndPortComeFromTheRegistry) {
    Register(u"First", u"");
    Register(u"Second", u"COM1: 9600");
    HDC dc = DefaultDc();
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(state_->port, u"(none)");  // the first printer has no port of its own
    DeleteDC(dc);
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Printers", 0, KEY_ALL_ACCESS, &key);
    const std::u16string second = u"Second";
    RegSetValueExW(key, u"Default", 0, REG_SZ, reinterpret_cast<const BYTE*>(second.c_str()), 14);
    RegCloseKey(key);
    dc = DefaultDc();
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(state_->port, u"COM1: 9600");
    DeleteDC(dc);
    dc = CreateDCW(nullptr, u"Second", u"192.168.1.5", nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(state_->port, u"192.168.1.5");
    DeleteDC(dc);
}

TEST_F(EngineTest, PagesArriveInBandsTopToBottomAsBgr) {
    Register(u"P", u"");
    state_->width = 120;
    state_->height = 150;
    HDC dc = DefaultDc();
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 120);
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 150);
    DOCINFOW doc{20, u"Doc", nullptr, nullptr, 0};
    EXPECT_GT(StartDocW(dc, &doc), 0);
    EXPECT_GT(StartPage(dc), 0);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    RECT r{10, 100, 20, 110};
    FillRect(dc, &r, red);
    EXPECT_GT(EndPage(dc), 0);
    ASSERT_EQ(state_->rows.size(), 150u);
    ASSERT_EQ(state_->rects.size(), 3u);  // 64 + 64 + 22 rows
    EXPECT_EQ(state_->rects[0].top, 0);
    EXPECT_EQ(state_->rects[2].bottom, 150);
    EXPECT_EQ(Pixel(105, 15), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(Pixel(105, 9), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(Pixel(99, 15), (std::array<int, 3>{255, 255, 255}));
    EXPECT_GT(EndDoc(dc), 0);
    DeleteObject(red);
    DeleteDC(dc);
    std::vector<std::string> expected = {"EnablePDEV", "StartDoc", "StartPage", "EndDoc",
                                         "DisableSurface", "DisablePDEV"};
    EXPECT_EQ(state_->calls, expected);
}

TEST_F(EngineTest, LandscapeHandsOverColumnsReadFromTheBottomUp) {
    Register(u"P", u"");
    state_->width = 40;    // page rows are 40 dots wide
    state_->height = 100;  // and there are 100 of them
    DEVMODEW dm{};
    dm.dmSize = sizeof dm;
    dm.dmOrientation = DMORIENT_LANDSCAPE;
    HDC dc = CreateDCW(nullptr, u"P", nullptr, &dm);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 100);
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 40);
    DOCINFOW doc{20, u"Doc", nullptr, nullptr, 0};
    StartDocW(dc, &doc);
    StartPage(dc);
    HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    RECT topLeft{0, 0, 1, 1};
    FillRect(dc, &topLeft, black);
    EndPage(dc);
    ASSERT_EQ(state_->rows.size(), 100u);
    // The surface's top-left pixel is the first page row's last dot.
    EXPECT_EQ(Pixel(0, 39), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(Pixel(0, 0), (std::array<int, 3>{255, 255, 255}));
    EndDoc(dc);
    DeleteDC(dc);
}

TEST_F(EngineTest, DrawTextWrapsWordsAndMeasures) {
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(mem, 200, 200);
    SelectObject(mem, bmp);
    LOGFONTW lf{};
    lf.lfHeight = 24;
    lf.lfWidth = 12;
    std::char_traits<char16_t>::copy(lf.lfFaceName, u"Arial", 6);
    HFONT font = CreateFontIndirectW(&lf);
    SelectObject(mem, font);
    RECT r{0, 0, 200, 200};
    int oneLine = DrawTextW(mem, u"Hi", -1, &r, DT_CALCRECT);
    EXPECT_GE(oneLine, 22);
    EXPECT_LE(oneLine, 26);
    RECT wrap{0, 0, 200, 1000};
    int h = DrawTextW(mem, u"one two three four five six seven eight nine ten", -1, &wrap,
                      DT_WORDBREAK | DT_CALCRECT);
    EXPECT_GE(h, 3 * oneLine);
    EXPECT_LE(wrap.right, 200);
    RECT unbroken{0, 0, 200, 1000};
    EXPECT_EQ(DrawTextW(mem, u"averyveryveryverylongwordthatcannotfit", -1, &unbroken,
                        DT_WORDBREAK | DT_CALCRECT) % oneLine, 0);
    SelectObject(mem, GetStockObject(SYSTEM_FONT));
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_FALSE(DeleteObject(bmp));  // still selected
    DeleteDC(mem);
    EXPECT_TRUE(DeleteObject(bmp));
    ReleaseDC(nullptr, screen);
}

TEST_F(EngineTest, BitmapFilesLoadAndBlitAtTheirSize) {
    QImage picture(20, 10, QImage::Format_RGB32);
    picture.fill(QColor(0, 0, 255));
    std::string png = dir_ + "/blue.png";
    ASSERT_TRUE(picture.save(QString::fromStdString(png)));
    std::u16string path(png.begin(), png.end());
    HBITMAP bmp = SHLoadDIBitmap(path.c_str());
    ASSERT_NE(bmp, nullptr);
    BITMAP info{};
    EXPECT_EQ(GetObjectW(bmp, sizeof info, &info), int(sizeof info));
    EXPECT_EQ(info.bmWidth, 20);
    EXPECT_EQ(info.bmHeight, 10);
    std::ofstream(dir_ + "/bad.bmp") << "BM not really a bitmap";
    std::u16string bad = path.substr(0, path.size() - 8) + u"bad.bmp";
    EXPECT_EQ(SHLoadDIBitmap(bad.c_str()), nullptr);
    EXPECT_EQ(SHLoadDIBitmap(u"/nonexistent/x.png"), nullptr);

    Register(u"P", u"");
    HDC dc = DefaultDc();
    ASSERT_NE(dc, nullptr);
    DOCINFOW doc{20, u"Doc", nullptr, nullptr, 0};
    StartDocW(dc, &doc);
    StartPage(dc);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    SelectObject(mem, bmp);
    EnableGdiJournal(true);
    EXPECT_TRUE(StretchBlt(dc, 0, 27, 20, 10, mem, 0, 0, 20, 10, SRCCOPY));
    auto journal = TakeGdiJournal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].call, "StretchBlt");
    EXPECT_EQ(journal[0].rect.top, 27);
    EXPECT_EQ(journal[0].rect.bottom, 37);
    EndPage(dc);
    EXPECT_EQ(Pixel(27, 0), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(Pixel(36, 19), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(Pixel(37, 0), (std::array<int, 3>{255, 255, 255}));
    EndDoc(dc);
    DeleteDC(dc);
    DeleteDC(mem);
    EXPECT_TRUE(DeleteObject(bmp));
    ReleaseDC(nullptr, screen);
}

TEST_F(EngineTest, FailedDeviceCreationReleasesTheDriver) {
    Register(u"P", u"");
    state_->failOpen = true;
    EXPECT_EQ(DefaultDc(), nullptr);
    state_->failOpen = false;
    HDC dc = DefaultDc();
    EXPECT_NE(dc, nullptr);
    DeleteDC(dc);
}

}  // namespace
