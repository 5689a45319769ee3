// The graphics engine against a driver that records what it is handed.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../gdi_internal.h"
#include "temp_dir.h"
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

// ---- image files as editors write them ----

std::string Encoded(const QImage& image, const char* format, bool progressive = false) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes.toStdString();
}

QImage Stripes(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, ((x / 8 + y / 8) % 2) ? qRgb(255, 255, 255) : qRgb(200, 30, 30));
    return image;
}

void Le(std::string& out, unsigned value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
}

// A GIF whose LZW data holds every dot as a literal code, with a clear code often enough
// that the code size stays 8 bits. screenWidth/Height 0: the picture's own size.
std::string Gif(int width, int height, int screenWidth = 0, int screenHeight = 0) {
    std::string g = "GIF89a";
    Le(g, screenWidth ? screenWidth : width, 2);
    Le(g, screenHeight ? screenHeight : height, 2);
    g += char(0x86);  // a global table of 128 colours
    g += std::string(2, '\0');
    for (int i = 0; i < 128; ++i) g += std::string(3, char(i * 2));
    g += ",";
    Le(g, 0, 4);
    Le(g, width, 2);
    Le(g, height, 2);
    g += '\0';
    g += char(7);  // code size: clear 128, end 129
    std::string data;
    unsigned long long bits = 0;
    int count = 0;
    auto put = [&](unsigned code) {
        bits |= static_cast<unsigned long long>(code) << count;
        for (count += 8; count >= 8; count -= 8, bits >>= 8) data += char(bits & 0xFF);
    };
    for (int i = 0; i < width * height; ++i) {
        if (i % 100 == 0) put(128);
        put(unsigned((i % width) / 4 % 128));
    }
    put(129);
    for (size_t at = 0; at < data.size(); at += 255) {
        std::string block = data.substr(at, 255);
        g += char(block.size());
        g += block;
    }
    g += '\0';
    g += ';';
    return g;
}

// An 8-bit RLE bitmap: each row one run of colour 1, then the end code.
std::string RleBmp(int width, int height) {
    std::string pixels;
    for (int y = 0; y < height; ++y) {
        for (int left = width; left > 0; left -= 255) {
            pixels += char(std::min(left, 255));
            pixels += char(1);
        }
        pixels += std::string(2, '\0');
    }
    pixels += std::string("\0\1", 2);
    std::string b = "BM";
    Le(b, 14 + 40 + 8 + unsigned(pixels.size()), 4);
    Le(b, 0, 4);
    Le(b, 14 + 40 + 8, 4);
    Le(b, 40, 4);
    Le(b, width, 4);
    Le(b, height, 4);
    Le(b, 1, 2);
    Le(b, 8, 2);
    Le(b, 1, 4);  // RLE8
    Le(b, unsigned(pixels.size()), 4);
    Le(b, 2835, 4);
    Le(b, 2835, 4);
    Le(b, 2, 4);
    Le(b, 0, 4);
    Le(b, 0x00FFFFFF, 4);
    Le(b, 0x00000000, 4);
    return b + pixels;
}

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = folder_.path();
        setenv("QX_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
        setenv("QX_DEBUG_LOG", (dir_ + "/debug.log").c_str(), 1);
        driver_ = LoadLibraryW(u"RECORD.dll");
        ASSERT_NE(driver_, nullptr);
        state_ = reinterpret_cast<RecordingState* (*)()>(
            GetProcAddress(driver_, "RecordingDriverState"))();
    }
    void TearDown() override { FreeLibrary(driver_); }
    void Register(const char16_t* name, const std::u16string& port) {
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::u16string(u"Printers\\") + name).c_str(), 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            0);
        auto text = [&](const char16_t* v, const std::u16string& t) {
            RegSetValueExW(key, v, 0, REG_SZ, reinterpret_cast<const BYTE*>(t.c_str()),
                           DWORD((t.size() + 1) * 2));
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
    qxtest::TempDir folder_{"qxgdi"};
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
    std::vector<std::string> expected = {"EnablePDEV", "StartDoc",       "StartPage",
                                         "EndDoc",     "DisableSurface", "DisablePDEV"};
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

// A bitmap of greys drawn first on a page is handed over from its own dots, not drawn on
// the surface: what the driver gets is what drawing it on the surface gives, dot for dot,
// in portrait and landscape, whether it covers the page or part of it, or is drawn on
// after (a rectangle over it, a second bitmap).
TEST_F(EngineTest, AGreyPageIsHandedOverAsTheSurfaceWouldHaveIt) {
    Register(u"P", u"");
    state_->width = 48;
    state_->height = 40;
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } grey{};
    for (int i = 0; i < 256; ++i) grey.colours[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    // 52 x 44 dots, lines of 52 bytes, bottom line first.
    grey.header = {sizeof(BITMAPINFOHEADER), 52, 44, 1, 8, BI_RGB, 0, 0, 0, 256, 0};
    std::vector<BYTE> dots(52 * 44);
    for (size_t i = 0; i < dots.size(); ++i) dots[i] = BYTE(i * 37 % 251);
    const auto* info = reinterpret_cast<const BITMAPINFO*>(&grey);
    struct Drawing {
        int x, y, width, height, xSrc, ySrc;
    };
    // The rows the driver gets for one page: `before` draws first when set (a white
    // rectangle, so the bitmap is drawn on the surface), `after` once the bitmap is drawn.
    auto deliver = [&](bool landscape, const Drawing& d, bool before, int after) {
        DEVMODEW dm{};
        dm.dmSize = sizeof dm;
        dm.dmOrientation = landscape ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
        HDC dc = CreateDCW(nullptr, u"P", nullptr, &dm);
        EXPECT_NE(dc, nullptr);
        DOCINFOW doc{20, u"Doc", nullptr, nullptr, 0};
        StartDocW(dc, &doc);
        StartPage(dc);
        RECT corner{0, 0, 2, 2};
        if (before) FillRect(dc, &corner, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        EXPECT_EQ(SetDIBitsToDevice(dc, d.x, d.y, DWORD(d.width), DWORD(d.height), d.xSrc, d.ySrc,
                                    0, 44, dots.data(), info, DIB_RGB_COLORS),
                  44);
        RECT bar{5, 3, 30, 9};
        if (after == 1) FillRect(dc, &bar, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        if (after == 2)
            SetDIBitsToDevice(dc, 7, 2, 10, 12, 3, 4, 0, 44, dots.data(), info, DIB_RGB_COLORS);
        EndPage(dc);
        EndDoc(dc);
        DeleteDC(dc);
        return state_->rows;
    };
    for (bool landscape : {false, true})
        for (Drawing d : {Drawing{0, 0, 52, 44, 0, 0}, Drawing{-3, -2, 60, 50, 1, 0},
                          Drawing{6, 4, 20, 15, 2, 3}, Drawing{30, 20, 40, 40, 0, 0}})
            for (int after : {0, 1, 2}) {
                SCOPED_TRACE(testing::Message() << "landscape " << landscape << ", at " << d.x
                                                << "," << d.y << ", then " << after);
                auto surface = deliver(landscape, d, true, after);
                ASSERT_EQ(surface.size(), 40u);
                EXPECT_TRUE(deliver(landscape, d, false, after) == surface);
            }
}

// A bitmap in memory, as a job hands its page over: each dot lands where it belongs,
// clipped by the page, whatever its depth and line order.
TEST_F(EngineTest, BitmapsInMemoryDrawDotForDot) {
    Register(u"P", u"");
    state_->width = 120;
    state_->height = 150;
    HDC dc = DefaultDc();
    ASSERT_NE(dc, nullptr);
    DOCINFOW doc{20, u"Doc", nullptr, nullptr, 0};
    StartDocW(dc, &doc);
    StartPage(dc);

    // 8 bits of 256 greys, top line first, 30 x 20 with lines padded to 32 bytes; drawn
    // from its 6th column at (100, 140), so the page's edges cut it to 20 x 10.
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } grey{};
    grey.header = {sizeof(BITMAPINFOHEADER), 30, -20, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    for (int i = 0; i < 256; ++i) grey.colours[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    std::vector<BYTE> dots(32 * 20, 0xEE);
    auto level = [](int x, int y) { return BYTE((x * 7 + y * 11) % 256); };
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) dots[size_t(y) * 32 + size_t(x)] = level(x, y);
    const auto* info = reinterpret_cast<const BITMAPINFO*>(&grey);
    EnableGdiJournal(true);
    EXPECT_EQ(
        SetDIBitsToDevice(dc, 100, 140, 25, 20, 5, 0, 0, 20, dots.data(), info, DIB_RGB_COLORS),
        20);
    auto journal = TakeGdiJournal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].call, "SetDIBitsToDevice");

    // Two colours of a table of two, and an index past it (black); then 24 bits, bottom
    // line first: ySrc counts from the bottom, so (0, 1, 2 x 1) is its top line.
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[2];
    } two{};
    two.header = {sizeof(BITMAPINFOHEADER), 3, -1, 1, 8, BI_RGB, 0, 0, 0, 2, 0};
    two.colours[0] = RGBQUAD{0, 0, 255, 0};  // red
    two.colours[1] = RGBQUAD{255, 0, 0, 0};  // blue
    const BYTE indices[4] = {0, 1, 5, 0};
    EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 3, 1, 0, 0, 0, 1, indices,
                                reinterpret_cast<const BITMAPINFO*>(&two), DIB_RGB_COLORS),
              1);
    BITMAPINFO rgb{};
    rgb.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    // Lines of 6 bytes padded to 8: bottom (10,20,30) (40,50,60), top (70,80,90) (1,2,3).
    const BYTE bgr[16] = {30, 20, 10, 60, 50, 40, 0, 0, 90, 80, 70, 3, 2, 1, 0, 0};
    EXPECT_EQ(SetDIBitsToDevice(dc, 10, 10, 2, 1, 0, 1, 0, 2, bgr, &rgb, DIB_RGB_COLORS), 2);

    EXPECT_EQ(TakeGdiJournal().size(), 2u);

    // What is not taken is refused, naming no drawing.
    SetLastError(0);
    EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 2, 2, 0, 0, 1, 1, bgr, &rgb, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    BITMAPINFO four = rgb;
    four.bmiHeader.biBitCount = 4;
    EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 2, 2, 0, 0, 0, 2, bgr, &four, DIB_RGB_COLORS), 0);
    EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 2, 2, 0, 0, 0, 2, nullptr, &rgb, DIB_RGB_COLORS), 0);
    EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 2, 2, 0, 0, 0, 2, bgr, nullptr, DIB_RGB_COLORS), 0);
    EXPECT_TRUE(TakeGdiJournal().empty());
    EnableGdiJournal(false);
    EndPage(dc);

    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            const int g = level(x + 5, y);
            ASSERT_EQ(Pixel(size_t(140 + y), size_t(100 + x)), (std::array<int, 3>{g, g, g}))
                << x << "," << y;
        }
    EXPECT_EQ(Pixel(139, 100), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(Pixel(140, 99), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(Pixel(0, 0), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(Pixel(0, 1), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(Pixel(0, 2), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(Pixel(10, 10), (std::array<int, 3>{70, 80, 90}));
    EXPECT_EQ(Pixel(10, 11), (std::array<int, 3>{1, 2, 3}));
    EXPECT_EQ(Pixel(11, 10), (std::array<int, 3>{255, 255, 255}));
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
                        DT_WORDBREAK | DT_CALCRECT) %
                  oneLine,
              0);
    SelectObject(mem, GetStockObject(SYSTEM_FONT));
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_FALSE(DeleteObject(bmp));  // still selected
    DeleteDC(mem);
    EXPECT_TRUE(DeleteObject(bmp));
    ReleaseDC(nullptr, screen);
}

// The leftmost inked column of rows [top, bottom) of a bitmap, or -1 for none.
int FirstInkedColumn(HBITMAP bitmap, int top, int bottom) {
    const QImage& image = bitmap->image;
    for (int x = 0; x < image.width(); ++x)
        for (int y = top; y < bottom && y < image.height(); ++y)
            if (qGray(image.pixel(x, y)) < 128) return x;
    return -1;
}

TEST_F(EngineTest, WordBreakingKeepsAParagraphsLeadingBlanksOnItsFirstLineOnly) {
    HDC mem = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(mem, 300, 200);
    SelectObject(mem, bmp);
    LOGFONTW lf{};
    lf.lfHeight = -20;
    std::char_traits<char16_t>::copy(lf.lfFaceName, u"Arial", 6);
    HFONT font = CreateFontIndirectW(&lf);
    SelectObject(mem, font);
    RECT all{0, 0, 300, 200};
    auto inkOf = [&](const char16_t* text, UINT format, int width, int top, int bottom) {
        FillRect(mem, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        RECT r{0, 0, width, 200};
        DrawTextW(mem, text, -1, &r, format);
        return FirstInkedColumn(bmp, top, bottom);
    };
    RECT one{0, 0, 300, 200};
    int line = DrawTextW(mem, u"Hi", -1, &one, DT_CALCRECT);
    int plain = inkOf(u"Hi", DT_WORDBREAK, 300, 0, line);
    int indented = inkOf(u"    Hi", 0, 300, 0, line);
    ASSERT_GE(plain, 0);
    ASSERT_GT(indented, plain);
    // Word breaking keeps the indent of "    %s", as printed without it.
    EXPECT_EQ(inkOf(u"    Hi", DT_WORDBREAK, 300, 0, line), indented);
    EXPECT_EQ(inkOf(u"one\r\n    Hi", DT_WORDBREAK, 300, line, 2 * line), indented);
    // A wrapped line starts at its word, whatever blanks stood before it.
    RECT narrow{0, 0, 120, 200};
    int lines =
        DrawTextW(mem, u"    Hi there    Hi", -1, &narrow, DT_WORDBREAK | DT_CALCRECT) / line;
    ASSERT_GE(lines, 2);
    EXPECT_EQ(inkOf(u"    Hi there    Hi", DT_WORDBREAK, 120, 0, line), indented);
    EXPECT_EQ(inkOf(u"    Hi there    Hi", DT_WORDBREAK, 120, (lines - 1) * line, lines * line),
              plain);
    // An indent leaving no room for its first word gives way to the word.
    RECT tight{0, 0, 1000, 200};
    DrawTextW(mem, u"Wide", -1, &tight, DT_CALCRECT);
    int wideWidth = tight.right + 2;
    EXPECT_EQ(inkOf(u"    Wide", DT_WORDBREAK, wideWidth, 0, line),
              inkOf(u"Wide", DT_WORDBREAK, wideWidth, 0, line));
    RECT calc{0, 0, wideWidth, 200};
    EXPECT_EQ(DrawTextW(mem, u"    Wide", -1, &calc, DT_WORDBREAK | DT_CALCRECT), line);
    SelectObject(mem, GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
    DeleteDC(mem);
    DeleteObject(bmp);
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

TEST_F(EngineTest, ImageFilesCutShortAreRefusedAsDamaged) {
    struct File {
        std::string name, bytes;
        int width, height;
        int spare;  // bytes at the end the picture does without; -1: not checked
    };
    QImage grey = Stripes(121, 40).convertToFormat(QImage::Format_Indexed8);
    const std::vector<File> files = {
        {"photo.bmp", Encoded(Stripes(121, 40), "BMP"), 121, 40, 0},  // rows padded to four bytes
        {"grey.bmp", Encoded(grey, "BMP"), 121, 40, 0},
        {"rle.bmp", RleBmp(300, 30), 300, 30, 2},  // the end code, after the last row's end
        {"photo.jpg", Encoded(Stripes(120, 80), "JPG"), 120, 80, 0},
        {"progressive.jpg", Encoded(Stripes(120, 80), "JPG", true), 120, 80, 0},  // several scans
        {"photo.gif", Gif(120, 40), 120, 40, 1},                                  // the trailer
        {"photo.png", Encoded(Stripes(120, 80), "PNG"), 120, 80, -1},
    };
    auto load = [&](const File& f, size_t size) {
        const std::string path = dir_ + "/cut-" + std::to_string(size) + "-" + f.name;
        std::ofstream(path, std::ios::binary) << f.bytes.substr(0, size);
        SetLastError(0);
        return SHLoadDIBitmap(std::u16string(path.begin(), path.end()).c_str());
    };
    for (const File& f : files) {
        const size_t size = f.bytes.size();
        HBITMAP whole = load(f, size);
        ASSERT_NE(whole, nullptr) << f.name;
        BITMAP info{};
        GetObjectW(whole, sizeof info, &info);
        EXPECT_EQ(info.bmWidth, f.width) << f.name;
        EXPECT_EQ(info.bmHeight, f.height) << f.name;
        DeleteObject(whole);
        std::vector<size_t> cuts = {20, size / 4, size / 2, size * 3 / 4};
        if (f.spare >= 0) {
            HBITMAP enough = load(f, size - f.spare);
            EXPECT_NE(enough, nullptr) << f.name << " without its last " << f.spare << " bytes";
            DeleteObject(enough);
            cuts.push_back(size - f.spare - 1);
        }
        for (size_t cut : cuts) {
            EXPECT_EQ(load(f, cut), nullptr)
                << f.name << " cut to " << cut << " of " << size << " bytes";
            if (f.spare >= 0) {
                EXPECT_EQ(GetLastError(), 1392u) << f.name << " cut to " << cut;
            }
        }
    }
    std::ifstream log(dir_ + "/debug.log");
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(
        text.str().find("cut-" + std::to_string(files[0].bytes.size() / 2) +
                        "-photo.bmp): the image is damaged: the file ends inside the pixel data"),
        std::string::npos)
        << text.str();
}

TEST_F(EngineTest, ImagesTooLargeToLoadAreToldApartFromDamagedOnes) {
    // Small files for pictures of 12000 x 12000 dots: a GIF screen around one dot, and a
    // run-length bitmap of one colour.
    const std::string gif = dir_ + "/screen.gif", bmp = dir_ + "/wide.bmp";
    std::ofstream(gif, std::ios::binary) << Gif(1, 1, 12000, 12000);
    std::ofstream(bmp, std::ios::binary) << RleBmp(12000, 12000);
    for (const std::string& path : {gif, bmp}) {
        SetLastError(0);
        EXPECT_EQ(SHLoadDIBitmap(std::u16string(path.begin(), path.end()).c_str()), nullptr)
            << path;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY)) << path;
    }
    std::ifstream log(dir_ + "/debug.log");
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("screen.gif): the image is too large: 12000 x 12000 dots"),
              std::string::npos)
        << text.str();
    EXPECT_EQ(text.str().find("damaged"), std::string::npos) << text.str();
    // A picture of a size the reader takes still loads.
    const std::string fits = dir_ + "/fits.gif";
    std::ofstream(fits, std::ios::binary) << Gif(1, 1, 2000, 1000);
    HBITMAP loaded = SHLoadDIBitmap(std::u16string(fits.begin(), fits.end()).c_str());
    ASSERT_NE(loaded, nullptr);
    DeleteObject(loaded);
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
