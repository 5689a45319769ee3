// Model B's driver as programs meet it: QX250.dll loaded by the graphics engine for a
// printer registered with "Driver"="QX250.dll", its settings under the model-B key in
// whole millimetres. A receipt goes into qx-emulator in model-B mode against a golden
// image, and the same receipt to a loopback peer whose bytes must be ESC/POS bands of at
// most 48 bytes a row.
#include "port_peer_support.h"  // before the platform's socket names

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

#include "child_process.h"
#include "driver_key.h"
#include "emulator_process.h"
#include "golden_page.h"
#include "png_io.h"
#include "wce/gdi.h"
#include "wce/registry.h"
#include "wce/testdevice.h"

using namespace wce;

namespace {

constexpr char16_t kPrinter[] = u"QX-250 Driver";  // a key under Printers
constexpr const char16_t* kModelBKey = qxtest::kModelBDriverKey;
constexpr int kRowBytes = 48;  // 384 dots

void Text(const char16_t* name, const std::u16string& text) {
    qxtest::SetText(name, text, kModelBKey);
}
void Number(const char16_t* name, int value) {
    qxtest::SetNumber(name, value, kModelBKey);
}

// The key as model B's settings utility creates it (58 x 80 mm), printing to port. The
// three model-A values a user may have copied over are there too, set so that model A's
// driver would print a turned CPCL label with back-feed: model B must not read them.
void RegisterModelB(const std::u16string& port) {
    qxtest::RegisterModelBDriver(port, {{u"Emulation", 1}, {u"BackFeed", 1}, {u"Rotation", 1}});
}

DEVMODEW Portrait() {
    DEVMODEW dm{};
    dm.dmSize = sizeof dm;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = 1;
    dm.dmColor = DMCOLOR_MONOCHROME;
    return dm;
}

void Fill(HDC dc, int left, int top, int right, int bottom, int stock) {
    RECT r{left, top, right, bottom};
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(stock)));
}

// A shop receipt across the whole 384 dots: heading, items with prices at the right
// edge, a full-width rule, a grey ramp for the dither, and the total.
void DrawReceipt(HDC dc) {
    LOGFONTW lf{};
    lf.lfHeight = 24;
    lf.lfWidth = 12;
    std::char_traits<char16_t>::copy(lf.lfFaceName, u"Arial", 6);
    HFONT font = CreateFontIndirectW(&lf);
    SelectObject(dc, font);
    RECT heading{0, 0, 384, 40};
    DrawTextW(dc, u"Corner Shop Receipt", -1, &heading, DT_WORDBREAK);
    const char16_t* items[][2] = {
        {u"Bread", u"2.40"}, {u"Milk 1 l", u"1.15"}, {u"Apples", u"3.05"}};
    int y = 44;
    for (auto& item : items) {
        RECT name{0, y, 300, y + 27};
        DrawTextW(dc, item[0], -1, &name, 0);
        RECT price{300, y, 384, y + 27};
        DrawTextW(dc, item[1], -1, &price, DT_RIGHT);
        y += 27;
    }
    Fill(dc, 0, y + 4, 384, y + 7, BLACK_BRUSH);
    for (int x = 0; x < 384; x += 4) {
        int grey = x * 255 / 383;
        HBRUSH brush = CreateSolidBrush(RGB(grey, grey, grey));
        RECT r{x, y + 14, x + 4, y + 54};
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    }
    RECT total{0, y + 62, 384, y + 90};
    DrawTextW(dc, u"Total 6.60", -1, &total, DT_RIGHT);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
}

// Prints the receipt on the model-B printer; the connection ends with the device context.
void PrintReceipt() {
    wce::srand(1);  // the same dither in every run
    DEVMODEW dm = Portrait();
    HDC dc = CreateDCW(nullptr, kPrinter, nullptr, &dm);
    ASSERT_NE(dc, nullptr) << "error " << GetLastError();
    DOCINFOW doc{int(sizeof(DOCINFOW)), u"receipt", nullptr, nullptr, 0};
    ASSERT_GT(StartDocW(dc, &doc), 0);
    ASSERT_GT(StartPage(dc), 0);
    DrawReceipt(dc);
    EXPECT_GT(EndPage(dc), 0);
    EXPECT_GT(EndDoc(dc), 0);
    DeleteDC(dc);
}

unsigned Byte(const std::string& s, size_t at) {
    return static_cast<unsigned char>(s[at]);
}

// The stream as the model-B printer takes it: the document start, then only raster bands
// and feeds. Returns the page those commands draw (2 feed units a row) and the widest band.
struct Decoded {
    qxemu::Bitmap page{384, 0};
    int widest = 0;
    // Page rows the driver sent, as bands or fed; a run of 128 blank rows is fed as 255
    // units, half a row short.
    int rows = 0;
    std::string error;
};

Decoded DecodeEscPos(const std::string& bytes) {
    Decoded d;
    if (bytes.compare(0, 4, std::string(4, '\0')) != 0) return d.error = "no document start", d;
    int halfRows = 0, fullRuns = 0;
    for (size_t at = 4; at < bytes.size();) {
        if (bytes.compare(at, 4, "\x1D\x76\x30\x00", 4) == 0 && at + 8 <= bytes.size()) {
            int width = int(Byte(bytes, at + 4) | Byte(bytes, at + 5) << 8);
            int height = int(Byte(bytes, at + 6) | Byte(bytes, at + 7) << 8);
            size_t size = size_t(width) * size_t(height);
            if (width > kRowBytes || at + 8 + size > bytes.size())
                return d.error =
                           "band of " + std::to_string(width) + " bytes at " + std::to_string(at),
                       d;
            int row = (halfRows + 1) / 2;
            d.page.GrowTo(row + height);
            d.page.Draw(reinterpret_cast<const std::uint8_t*>(bytes.data() + at + 8), width, height,
                        0, row);
            halfRows = 2 * (row + height);
            d.widest = std::max(d.widest, width);
            at += 8 + size;
        } else if (bytes.compare(at, 2, "\x1B\x4A") == 0 && at + 3 <= bytes.size()) {
            halfRows += int(Byte(bytes, at + 2));
            fullRuns += Byte(bytes, at + 2) == 0xFF;
            at += 3;
        } else {
            return d.error = "unexpected byte " + std::to_string(Byte(bytes, at)) + " at " +
                             std::to_string(at),
                   d;
        }
    }
    d.rows = (halfRows + fullRuns) / 2;
    d.page.GrowTo((halfRows + 1) / 2);  // the paper fed after the last band
    return d;
}

class ModelBDriverTest : public ::testing::Test {
  protected:
    void TearDown() override { UnregisterTestParallelDevice(u"LPT1:"); }
    // Creates the device context on an in-process parallel printer.
    HDC Open() {
        if (!device_) device_ = RegisterTestParallelDevice(u"LPT1:");
        DEVMODEW dm = Portrait();
        return CreateDCW(nullptr, kPrinter, nullptr, &dm);
    }
    // One page painted black all over; what the printer received.
    std::string PrintBlackPage(HDC dc) {
        {
            std::lock_guard hold(device_->lock);
            device_->received.clear();
        }
        DOCINFOW doc{20, u"Test", nullptr, nullptr, 0};
        StartDocW(dc, &doc);
        StartPage(dc);
        Fill(dc, 0, 0, GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES), BLACK_BRUSH);
        EndPage(dc);
        EndDoc(dc);
        std::lock_guard hold(device_->lock);
        return device_->received;
    }
    qxtest::TempWorld world_{"qxmodelb"};
    std::shared_ptr<TestParallelDevice> device_;
};

TEST_F(ModelBDriverTest, PageIs384DotsWideAndAsLongAsThePaperInWholeMillimetres) {
    RegisterModelB(u"LPT1:");
    struct Case {
        int paperSize, width, height;
        int vert, printed;  // rows the engine draws, rows sent
    };
    const Case cases[] = {
        {2, 58, 80, 639, 639},  // the utility's defaults: 80 mm, not 8 mm
        {0, 58, 60, 479, 479},  // a custom 60 mm
        {0, 58, 50, 639, 399},  // no longer than the paper is wide: an 80 mm page, 50 mm printed
        {3, 70, 30, 799, 799},  // a preset wins over the stored size: 58 x 100 mm
        {10, 58, 80, 23736, 23736},  // 58 x 2970 mm
    };
    for (const Case& c : cases) {
        Number(u"PaperSize", c.paperSize);
        Number(u"PWidth", c.width);
        Number(u"PHeight", c.height);
        HDC dc = Open();
        ASSERT_NE(dc, nullptr);
        EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 384);
        EXPECT_EQ(GetDeviceCaps(dc, HORZSIZE), 48);
        EXPECT_EQ(GetDeviceCaps(dc, VERTRES), c.vert) << "PHeight " << c.height;
        Decoded d = DecodeEscPos(PrintBlackPage(dc));
        EXPECT_EQ(d.error, "");
        EXPECT_EQ(d.widest, kRowBytes);
        EXPECT_EQ(d.rows, c.printed) << "PHeight " << c.height;
        DeleteDC(dc);
    }
}

TEST_F(ModelBDriverTest, TextsLogosAndCopiesFollowTheStreamRules) {
    RegisterModelB(u"LPT1:");
    Number(u"PaperSize", 0);
    Number(u"PHeight", 60);
    Number(u"Copies", 2);
    Number(u"StartLogo", 3);
    Number(u"PrintingLength", 0);
    Text(u"EndDocText", u"Thank you");
    HDC dc = Open();
    ASSERT_NE(dc, nullptr);
    std::string bytes = PrintBlackPage(dc);
    DeleteDC(dc);
    // 479 black rows of 48 bytes in one band, then the text, the three line ends; twice.
    std::string band =
        std::string("\x1D\x76\x30\x00\x30\x00\xDF\x01", 8) + std::string(479 * 48, '\xFF');
    std::string copy = std::string("\x1C\x70\x03\x30", 4) + band + "Thank you\n\r\n\r\n\r\n";
    std::string expected = std::string(4, '\0') + copy + copy;
    EXPECT_EQ(bytes.size(), expected.size());
    EXPECT_TRUE(bytes == expected);  // too long to print when it fails
}

TEST_F(ModelBDriverTest, ReceiptIntoTheModelBEmulator) {
    qxtest::EmulatorProcess emulator{QX_EMULATOR_BIN};
    std::string out = world_.dir() + "/out";
    ASSERT_TRUE(emulator.Start(
        {"--model", "b", "--tcp", "127.0.25.1:9100", "--out", out, "--idle-ms", "0"}))
        << emulator.firstLine;
    RegisterModelB(u"127.0.25.1");
    PrintReceipt();
    EXPECT_EQ(emulator.Stop(), 0);
    auto files = qxtest::PngFiles(out);
    ASSERT_EQ(files.size(), 1u);
    qxemu::Bitmap page;
    std::string error;
    ASSERT_TRUE(qxemu::ReadPng(files[0], &page, &error)) << error;
    EXPECT_EQ(page.Width(), 384);
    auto outcome = qxtest::CheckGolden(
        page, std::string(QX_SOURCE_DIR) + "/tests/golden/driver-modelb-receipt.png",
        "driver-modelb-receipt-diff.png");
    EXPECT_TRUE(outcome.matched) << outcome.message;
}

TEST_F(ModelBDriverTest, ReceiptBytesAreEscPosBandsOf48BytesAtMost) {
    qx470::testing::TcpPrinter printer("127.0.25.2", qx470::testing::TcpPrinter::Mode::kReadAll);
    ASSERT_TRUE(printer.ok());
    RegisterModelB(u"127.0.25.2");
    PrintReceipt();
    Decoded d = DecodeEscPos(printer.inbox().Wait());
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.widest, kRowBytes);  // the rule runs across the paper
    EXPECT_EQ(d.rows, 639);          // blank rows fed: the receipt keeps its 80 mm
    // Those bands and feeds draw what the model-B emulator printed.
    qxemu::Bitmap golden;
    std::string error;
    ASSERT_TRUE(qxemu::ReadPng(
        std::string(QX_SOURCE_DIR) + "/tests/golden/driver-modelb-receipt.png", &golden, &error))
        << error;
    EXPECT_EQ(qxtest::CountDifferences(d.page, golden), 0u)
        << d.page.Width() << "x" << d.page.Height() << " " << d.page.CountDots() << " dots; golden "
        << golden.Width() << "x" << golden.Height() << " " << golden.CountDots();
}

TEST_F(ModelBDriverTest, QxPrintLaysTextOutOnTheLengthModelBPrints) {
    // 40 mm labels, shorter than the paper is wide: each page is drawn 639 rows long and
    // only its first 319 rows are printed, so qx-print must break the text there. Model A's
    // key beside it names a long label, which is not model B's.
    qxtest::RegisterDriver(u"127.0.25.3", {{u"PHeight", 2540}});
    RegisterModelB(u"127.0.25.3");
    Number(u"PaperSize", 0);
    Number(u"PHeight", 40);
    std::string text;
    for (int line = 1; line <= 20; ++line) text += "Line " + std::to_string(line) + "\n";
    std::string file = world_.dir() + "/lines.txt";
    std::ofstream(file) << text;
    qx470::testing::TcpPrinter printer("127.0.25.3", qx470::testing::TcpPrinter::Mode::kReadAll);
    ASSERT_TRUE(printer.ok());
    qxtest::ChildProgram program;
    program.argv = {QX_PRINT_BIN, "-P", "QX-250 Driver", file};
    qxtest::ChildResult run = qxtest::RunChild(program);
    EXPECT_TRUE(run.Exited(0)) << run.Describe();
    EXPECT_NE(run.err.find("qx-print: page 2\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("qx-print: page 3\n"), std::string::npos) << run.err;
    Decoded d = DecodeEscPos(printer.inbox().Wait());
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.rows, 2 * 319);
}

}  // namespace
