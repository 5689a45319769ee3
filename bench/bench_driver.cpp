// A legal page with text and a photo, from StartDocW to the last byte handed to the
// port, through the graphics engine and the dlopened QX470.dll. The document-start
// pause of the driver is not counted.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QImage>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>

#include "../tests/support/driver_key.h"
#include "wce/gdi.h"
#include "wce/registry.h"
#include "wce/testdevice.h"

using namespace wce;

namespace {

struct Setup {
    qxtest::TempWorld world{"qxbench"};
    std::string dir = world.dir();
    std::shared_ptr<TestParallelDevice> device;
    HBITMAP photo = nullptr;

    Setup() {
        device = RegisterTestParallelDevice(u"LPT1:");
        QImage img(576, 1200, QImage::Format_RGB32);
        std::mt19937 rng(7);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                double v =
                    128 + 90 * std::sin(x / 37.0) * std::cos(y / 53.0) + int(rng() % 40) - 20;
                int g = std::clamp(int(v), 0, 255);
                img.setPixel(x, y,
                             qRgb(g, std::clamp(g + 20, 0, 255), std::clamp(255 - g, 0, 255)));
            }
        img.save(QString::fromStdString(dir + "/photo.png"));
    }

    // A legal page from the device mode, in the given emulation.
    void Settings(int emulation) {
        qxtest::RegisterDriver(u"LPT1:",
                               {{u"PHeight", 3556}, {u"UserPaper", 0}, {u"Emulation", emulation}});
    }
};

Setup& TheSetup() {
    static Setup setup;
    return setup;
}

void DrawPage(HDC dc, HBITMAP photo) {
    LOGFONTW lf{};
    lf.lfHeight = 24;
    lf.lfWidth = 12;
    std::char_traits<char16_t>::copy(lf.lfFaceName, u"Arial", 6);
    HFONT font = CreateFontIndirectW(&lf);
    SelectObject(dc, font);
    RECT r{0, 0, 576, 1500};
    for (int line = 0; line < 50; ++line) {
        DrawTextW(dc, u"Item 0042  Thermal paper roll, 80 mm      12.50", -1, &r, DT_WORDBREAK);
        r.top += 27;
    }
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    SelectObject(mem, photo);
    StretchBlt(dc, 0, 1500, 576, 1200, mem, 0, 0, 576, 1200, SRCCOPY);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
}

void LegalPage(benchmark::State& state) {
    Setup& s = TheSetup();
    s.Settings(int(state.range(0)));
    HBITMAP photo = SHLoadDIBitmap(std::u16string(u"")
                                       .append(std::u16string(s.dir.begin(), s.dir.end()))
                                       .append(u"/photo.png")
                                       .c_str());
    DEVMODEW dm{};
    dm.dmSize = sizeof dm;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = DMPAPER_LEGAL;
    dm.dmColor = DMCOLOR_MONOCHROME;
    HDC dc = CreateDCW(nullptr, u"QX-470 Driver", nullptr, &dm);
    if (!dc || !photo) {
        state.SkipWithError("no device context or photo");
        return;
    }
    size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        {
            std::lock_guard hold(s.device->lock);
            s.device->received.clear();
            s.device->writes.clear();
        }
        DOCINFOW doc{int(sizeof(DOCINFOW)), u"bench", nullptr, nullptr, 0};
        StartDocW(dc, &doc);  // sends four zeros, then waits
        state.ResumeTiming();
        StartPage(dc);
        DrawPage(dc, photo);
        EndPage(dc);
        EndDoc(dc);  // the page is encoded and the last byte handed to the port here
        std::lock_guard hold(s.device->lock);
        bytes = s.device->received.size() - 4;
    }
    state.counters["wire_bytes_per_page"] = double(bytes);
    DeleteDC(dc);
    DeleteObject(photo);
}

BENCHMARK(LegalPage)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("emulation")
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
