// The application side of the graphics engine: printer device contexts from the print
// dialog, documents and pages, fonts, text, bitmaps and memory device contexts.
//
// A printer is a subkey of HKEY_LOCAL_MACHINE\Printers holding a "Driver" value (the
// driver's file name). The default printer is the one named by the "Default" value of
// Printers; without it, the first subkey of Printers that has a "Driver" value. A
// printer's port is its "Port" value when that is not empty; otherwise the driver is
// given no port name and takes Printers\Ports "DefaultPrintPort" (or LPT1:).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "wce/base.h"
#include "wce/winddi.h"

namespace wce {

struct HDC__;
using HDC = HDC__*;
struct HGDIOBJ__;
using HGDIOBJ = HGDIOBJ__*;
using HFONT = HGDIOBJ;
using HBITMAP = HGDIOBJ;
using HBRUSH = HGDIOBJ;
using HPEN = HGDIOBJ;
struct HWND__;
using HWND = HWND__*;
using COLORREF = DWORD;

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
struct POINT {
    LONG x;
    LONG y;
};
struct SIZE {
    LONG cx;
    LONG cy;
};

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}

// ---- print dialog and printer device contexts ----

constexpr DWORD PD_RETURNDC = 0x00000100;
// Return the default printer's device context without showing the dialog.
constexpr DWORD PD_RETURNDEFAULT = 0x00100000;

struct PRINTDLGW {
    DWORD cbStruct;  // 68 in the programs; any non-zero size is taken
    HWND hwndOwner;
    HDC hdc;
    DWORD dwFlags;
    RECT rcMinMargin;
    RECT rcMargin;
    HINSTANCE hinst;
    LPARAM lCustData;
    void* lpfnPrintHook;
    LPCWSTR lpPrintTemplateName;
    void* hDevMode;
    void* hDevNames;
};

// What the print dialog offers when it is shown: the printer and port chosen.
struct PrintDialogChoice {
    std::u16string printer;  // a subkey of Printers
    std::u16string port;     // empty: the printer's own port
};
// A shown print dialog asks this handler; it returns false when the user cancels.
// Without a handler the dialog takes the default printer, as PD_RETURNDEFAULT does.
using PrintDialogHandler = std::function<bool(PrintDialogChoice&)>;
PrintDialogHandler SetPrintDialogHandler(PrintDialogHandler handler);

BOOL PrintDlgW(PRINTDLGW* dialog);
// The default printer's key name below Printers; size is in characters, terminator
// included. ERROR_FILE_NOT_FOUND when no printer is registered.
BOOL GetDefaultPrinterW(LPWSTR buffer, LPDWORD size);
// driver: the driver's file name, or null to take it from the printer's key; device:
// the printer's key name below Printers, or null for the default printer; port: the
// port name, or null for the printer's own.
HDC CreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR port, const DEVMODEW* devmode);
BOOL DeleteDC(HDC dc);

struct DOCINFOW {
    int cbSize;
    LPCWSTR lpszDocName;
    LPCWSTR lpszOutput;
    LPCWSTR lpszDatatype;
    DWORD fwType;
};
int StartDocW(HDC dc, const DOCINFOW* doc);
int StartPage(HDC dc);
int EndPage(HDC dc);
int EndDoc(HDC dc);
int AbortDoc(HDC dc);

constexpr int TECHNOLOGY = 2;
constexpr int HORZSIZE = 4;
constexpr int VERTSIZE = 6;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int RASTERCAPS = 38;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int PHYSICALWIDTH = 110;
constexpr int PHYSICALHEIGHT = 111;
constexpr int PHYSICALOFFSETX = 112;
constexpr int PHYSICALOFFSETY = 113;
int GetDeviceCaps(HDC dc, int index);

// ---- screen and memory device contexts ----

HDC GetDC(HWND window);  // null: the screen
int ReleaseDC(HWND window, HDC dc);
HDC CreateCompatibleDC(HDC dc);

// ---- objects ----

constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int SYSTEM_FONT = 13;
HGDIOBJ GetStockObject(int object);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);

constexpr BYTE DEFAULT_CHARSET = 1;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_BOLD = 700;
HFONT CreateFontIndirectW(const LOGFONTW* font);
HBRUSH CreateSolidBrush(COLORREF colour);
constexpr int PS_SOLID = 0;
constexpr int PS_NULL = 5;
HPEN CreatePen(int style, int width, COLORREF colour);

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};
int GetObjectW(HGDIOBJ object, int size, void* buffer);
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
// The platform's bitmap-file loader: bmp, jpg, gif and png; null on failure.
HBITMAP SHLoadDIBitmap(LPCWSTR fileName);

// ---- drawing ----

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
COLORREF SetTextColor(HDC dc, COLORREF colour);
COLORREF SetBkColor(HDC dc, COLORREF colour);
int SetBkMode(HDC dc, int mode);

constexpr UINT DT_TOP = 0x0000;
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_BOTTOM = 0x0008;
constexpr UINT DT_WORDBREAK = 0x0010;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_EXPANDTABS = 0x0040;
constexpr UINT DT_NOCLIP = 0x0100;
constexpr UINT DT_CALCRECT = 0x0400;
constexpr UINT DT_NOPREFIX = 0x0800;
// Returns the height of the text drawn; with DT_CALCRECT the rectangle is set to the
// text's extent and nothing is drawn.
int DrawTextW(HDC dc, LPCWSTR text, int count, RECT* rect, UINT format);
BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int count);
BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, SIZE* size);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
BOOL Rectangle(HDC dc, int left, int top, int right, int bottom);
BOOL MoveToEx(HDC dc, int x, int y, POINT* previous);
BOOL LineTo(HDC dc, int x, int y);
BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop);

constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;
BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop);
BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                int srcWidth, int srcHeight, DWORD rop);

// ---- device-independent bitmaps ----

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // negative: the first scan line is the top one
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];  // the colour table follows the header (8 bits a dot)
};
constexpr DWORD BI_RGB = 0;
constexpr UINT DIB_RGB_COLORS = 0;
// Draws the part (xSrc, ySrc, width, height) of a bitmap held in memory at (x, y), dot
// for dot: no bitmap object is made. Scan lines are rounded up to whole DWORDs. Taken:
// BI_RGB at 8 bits a dot with its colour table (biClrUsed entries, 0 for 256), 24 or 32
// bits; all scan lines at once (startScan 0, lines the bitmap's height). ySrc counts
// from the bottom line of a bottom-up bitmap, as on Windows. Returns the lines drawn, 0
// with ERROR_INVALID_PARAMETER for what it does not take.
int SetDIBitsToDevice(HDC dc, int x, int y, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info,
                      UINT colourUse);

// ---- the journal: every drawing call, for tests ----

struct GdiJournalEntry {
    std::string call;        // "DrawTextW", "StretchBlt", "StartPage", ...
    std::u16string text;     // the text drawn, where there is one
    RECT rect{};             // the target rectangle, or (x, y, x, y) for a point
    std::vector<long> args;  // further arguments in call order (format flags, sizes ...)
};
void EnableGdiJournal(bool on);
std::vector<GdiJournalEntry> TakeGdiJournal();

// ---- for a process that forks workers ----

// Starts the engine's drawing toolkit now rather than at the first drawing, so that
// processes forked afterwards share it. It starts no thread. Returns false when the
// process already runs more than one thread, where forking would not be safe either.
bool StartGraphicsEarly();

}  // namespace wce
