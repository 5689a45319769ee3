// Objects behind the engine's handles.
#pragma once

#include <QFont>
#include <QImage>
#include <memory>
#include <string>

#include "wce/drvtable.h"
#include "wce/gdi.h"

namespace wce {

struct HGDIOBJ__ {
    enum class Kind { Font, Bitmap, Brush, Pen };
    Kind kind;
    bool stock = false;
    LOGFONTW font{};
    std::unique_ptr<QFont> realized;  // fonts: made on first use
    QImage image;                     // bitmaps: Format_RGB32
    COLORREF colour = 0;
    int penStyle = 0;
    int penWidth = 1;
    bool nullBrush = false;
    HDC selectedInto = nullptr;  // a bitmap is selected into one memory DC at a time
};

namespace gdi {
struct PrinterDevice;
}  // namespace gdi

struct HDC__ {
    enum class Kind { Screen, Memory, Printer };
    Kind kind;
    HFONT font = nullptr;
    HBRUSH brush = nullptr;
    HPEN pen = nullptr;
    HBITMAP bitmap = nullptr;  // memory DCs
    COLORREF textColour = RGB(0, 0, 0);
    COLORREF bkColour = RGB(255, 255, 255);
    int bkMode = OPAQUE;
    POINT position{0, 0};
    gdi::PrinterDevice* printer = nullptr;  // printer DCs, owned
    QImage screen;                          // the screen DC's 1 x 1 stand-in
};

}  // namespace wce

namespace wce::gdi {

// The surface a DC draws on, or null when it has none (a memory DC without a bitmap,
// a printer DC outside a page).
QImage* Target(HDC dc);
bool IsLiveDc(HDC dc);
HDC NewDc(HDC__::Kind kind);
HGDIOBJ NewObject(HGDIOBJ__::Kind kind);
const QFont& RealizeFont(HFONT font);
bool IsLiveObject(HGDIOBJ object);
void Record(const char* call, std::u16string text, RECT rect, std::vector<long> args = {});
// A QGuiApplication must exist before fonts can be used; programs without one get an
// offscreen one.
// Without a display Qt draws offscreen, with a runtime folder of its own.
void PrepareQtEnvironment();
void EnsureGuiApplication();

// Printer DCs (printer_dc.cpp).
int PrinterStartDoc(HDC dc, const DOCINFOW* doc);
int PrinterStartPage(HDC dc);
int PrinterEndPage(HDC dc);
int PrinterEndDoc(HDC dc);
void PrinterDelete(HDC dc);
int PrinterCaps(HDC dc, int index);
QImage* PrinterTarget(HDC dc);
// Dots of 256 greys (0 black) as the surface holds them.
inline QRgb GreyDot(BYTE grey) {
    return 0xFF000000u | grey * 0x010101u;
}
inline void GreysToSurface(const BYTE* in, QRgb* out, long long count) {
    for (long long i = 0; i < count; ++i) out[i] = GreyDot(in[i]);
}

// The scan lines of a bitmap of 256 greys (entry i grey i), as SetDIBitsToDevice reads
// them: `column` and `row` (top-down) of the bitmap go to the rectangle's top left.
struct GreyRows {
    const BYTE* bits;
    size_t stride;
    long long width, height;
    bool topDown;
    long long column, row;
    const BYTE* Line(long long r) const {
        return bits + size_t(topDown ? r : height - 1 - r) * stride;
    }
};
// A bitmap of greys drawn on a page nothing was drawn on yet: the page keeps its dots
// as they are, white around them. False when something is drawn already, or the bitmap
// falls outside the page: it is then drawn as any bitmap.
bool PrinterTakeGreys(HDC dc, int x, int y, int width, int height, const GreyRows& rows);

}  // namespace wce::gdi
