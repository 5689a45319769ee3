// The driver as programs meet it: loaded by the graphics engine from QX470.dll,
// printing to an in-process parallel printer.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "../../../../tests/support/driver_key.h"
#include "wce/drvtable.h"
#include "wce/gdi.h"
#include "wce/registry.h"
#include "wce/testdevice.h"

using namespace wce;

namespace {

class DriverDllTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device_ = RegisterTestParallelDevice(u"LPT1:");
        qxtest::RegisterDriver(u"LPT1:");
    }
    void TearDown() override { UnregisterTestParallelDevice(u"LPT1:"); }
    static void Number(const char16_t* name, int value) { qxtest::SetNumber(name, value); }
    static DEVMODEW Mode(SHORT orientation = DMORIENT_PORTRAIT, SHORT paper = 1, WORD version = 0) {
        DEVMODEW dm{};
        dm.dmSize = sizeof dm;
        dm.dmOrientation = orientation;
        dm.dmPaperSize = paper;
        dm.dmDriverVersion = version;
        dm.dmColor = DMCOLOR_MONOCHROME;
        return dm;
    }
    // Prints one page painted black all over and returns what the printer received.
    std::string PrintBlackPage(HDC dc) {
        DOCINFOW doc{20, u"Test", nullptr, nullptr, 0};
        StartDocW(dc, &doc);
        StartPage(dc);
        RECT all{0, 0, GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES)};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        EndPage(dc);
        EndDoc(dc);
        std::lock_guard hold(device_->lock);
        return device_->received;
    }
    // Rows of the first raster command after the four document-start zeros.
    static int RasterRows(const std::string& bytes) {
        size_t at = bytes.find("\x1D\x76\x30", 4);
        if (at == std::string::npos) return 0;
        return static_cast<unsigned char>(bytes[at + 6]) | static_cast<unsigned char>(bytes[at + 7])
                                                               << 8;
    }
    qxtest::TempWorld world_{"qxdll"};
    std::shared_ptr<TestParallelDevice> device_;
};

TEST_F(DriverDllTest, CustomLabelShorterThanThePaperWidth) {
    DEVMODEW dm = Mode();
    HDC dc = CreateDCW(nullptr, u"QX-470 Driver", nullptr, &dm);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 576);
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 639);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 203);
    EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 24);
    std::string bytes = PrintBlackPage(dc);
    EXPECT_EQ(bytes.substr(0, 4), std::string(4, '\0'));
    EXPECT_EQ(RasterRows(bytes), 399);  // 50 mm of label
    DeleteDC(dc);
}

TEST_F(DriverDllTest, GeometryOfCustomFixedLandscapeAndReducedPages) {
    struct Case {
        int userPaper, height;
        DEVMODEW dm;
        int horz, vert;
    };
    const Case cases[] = {
        {1, 1000, Mode(), 576, 799},
        {0, 508, Mode(DMORIENT_PORTRAIT, 5), 576, 2845},
        {0, 508, Mode(DMORIENT_PORTRAIT, 9), 576, 2373},
        {0, 508, Mode(DMORIENT_PORTRAIT, 13), 576, 2054},
        {0, 508, Mode(DMORIENT_LANDSCAPE, 1), 2233, 576},
        {1, 508, Mode(DMORIENT_PORTRAIT, 1, 0x0200), 450, 539},
    };
    for (const Case& c : cases) {
        Number(u"UserPaper", c.userPaper);
        Number(u"PHeight", c.height);
        DEVMODEW dm = c.dm;
        HDC dc = CreateDCW(nullptr, u"QX-470 Driver", nullptr, &dm);
        ASSERT_NE(dc, nullptr);
        EXPECT_EQ(GetDeviceCaps(dc, HORZRES), c.horz);
        EXPECT_EQ(GetDeviceCaps(dc, VERTRES), c.vert);
        DeleteDC(dc);
    }
}

TEST_F(DriverDllTest, PrintedLengthNeverPassesThePageImage) {
    // 150 mm on 200 mm paper: the engine draws 639 rows, so no more than 639 are sent.
    Number(u"PWidth", 200);
    Number(u"PHeight", 1500);
    DEVMODEW dm = Mode();
    HDC dc = CreateDCW(nullptr, u"QX-470 Driver", nullptr, &dm);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(RasterRows(PrintBlackPage(dc)), 639);
    DeleteDC(dc);
    // A negative stored length prints no rows at all.
    {
        std::lock_guard hold(device_->lock);
        device_->received.clear();
    }
    Number(u"PHeight", -500);
    dc = CreateDCW(nullptr, u"QX-470 Driver", nullptr, &dm);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(PrintBlackPage(dc), std::string(4, '\0'));
    DeleteDC(dc);
}

TEST_F(DriverDllTest, APortThatDoesNotOpenFailsTheDeviceAndFreesIt) {
    DEVMODEW dm = Mode();
    EXPECT_EQ(CreateDCW(nullptr, u"QX-470 Driver", u"LPT7:", &dm), nullptr);
    HDC dc = CreateDCW(nullptr, u"QX-470 Driver", nullptr, &dm);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(RasterRows(PrintBlackPage(dc)), 399);
    DeleteDC(dc);
}

TEST_F(DriverDllTest, ExportsOnlyTheTableAndFillsItsElevenSlots) {
    HMODULE lib = LoadLibraryW(u"QX470.dll");
    ASSERT_NE(lib, nullptr);
    auto enable = reinterpret_cast<PFN_DrvEnableDriver>(GetProcAddress(lib, "DrvEnableDriver"));
    ASSERT_NE(enable, nullptr);
    EXPECT_EQ(GetProcAddress(lib, "_ZN5qx4706PrintPageERNS_10PrinterJobERKNS_14DriverSettingsE"),
              nullptr);
    PFN table[kDrvTableSize] = {};
    PFN services[kEngTableSize] = {};
    ASSERT_TRUE(enable(0x20000, kDrvTableSize, table, services));
    const ULONG replaced[] = {0, 1, 2, 3, 11, 14, 17, 22, 23, 24, 25};
    for (ULONG slot = 0; slot < kDrvTableSize; ++slot) {
        bool expected =
            std::find(std::begin(replaced), std::end(replaced), slot) != std::end(replaced);
        EXPECT_EQ(table[slot] != nullptr, expected) << "slot " << slot;
    }
    auto getModes = reinterpret_cast<PFN_DrvGetModes>(table[INDEX_DrvGetModes]);
    EXPECT_EQ(getModes(nullptr, 0, nullptr), 192u);
    DEVMODEW dm{};
    EXPECT_EQ(getModes(nullptr, 100, &dm), 0u);
    ASSERT_EQ(getModes(nullptr, 192, &dm), 192u);
    EXPECT_EQ(std::u16string(dm.dmDeviceName), u"PCL");
    EXPECT_EQ(dm.dmSpecVersion, 0x0400);
    EXPECT_EQ(dm.dmPrintQuality, -4);
    EXPECT_EQ(dm.dmBitsPerPel, 24u);
    EXPECT_EQ(dm.dmOrientation, 1);
    EXPECT_EQ(dm.dmColor, 1);
    auto setPalette = reinterpret_cast<PFN_DrvSetPalette>(table[INDEX_DrvSetPalette]);
    EXPECT_FALSE(setPalette(nullptr, nullptr, 0, 0, 0));
    FreeLibrary(lib);
}

}  // namespace
