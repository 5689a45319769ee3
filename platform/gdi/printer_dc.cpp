// The engine's printer side: finds the printer in the registry, loads its driver,
// gives it the default table and services, and hands it each finished page in bands.
#include <QImage>
#include <QPainter>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <bit>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "gdi_internal.h"
#include "wce/registry.h"
#include "wce/text.h"

namespace wce {
namespace gdi {

namespace {

constexpr ULONG kEngineVersion = 0x00020000;
constexpr LONG kBandRows = 64;  // rows (portrait) or columns (landscape) per DrvCopyBits

// ---- registry: which printer, which driver, which port ----

std::u16string ReadText(HKEY key, LPCWSTR name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != 0 || type != REG_SZ)
        return {};
    std::u16string text(size / 2 + 1, u'\0');
    DWORD got = DWORD(text.size() * 2);
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &got) !=
        0)
        return {};
    text.resize(WideLength(text.c_str()));
    return text;
}

bool PrinterValues(const std::u16string& printer, std::u16string& driver, std::u16string& port) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (u"Printers\\" + printer).c_str(), 0, KEY_READ, &key) !=
        0)
        return false;
    driver = ReadText(key, u"Driver");
    port = ReadText(key, u"Port");
    RegCloseKey(key);
    return !driver.empty();
}

std::u16string DefaultPrinter() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Printers", 0, KEY_READ, &key) != 0) return {};
    std::u16string chosen = ReadText(key, u"Default");
    for (DWORD i = 0; chosen.empty(); ++i) {
        char16_t name[256];
        DWORD chars = 256;
        if (RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != 0) break;
        std::u16string driver, port;
        if (PrinterValues(name, driver, port)) chosen = name;
    }
    RegCloseKey(key);
    return chosen;
}

// ---- engine services and default entries ----

struct EngineSurface {
    SURFOBJ surface{};
    DHSURF driverSurface = nullptr;
};

std::mutex surfacesLock;
std::set<EngineSurface*> liveSurfaces;

HSURF EngCreateDeviceSurface(DHSURF driverSurface, SIZEL size, ULONG format) {
    if (size.cx <= 0 || size.cy <= 0 || size.cx > 32767 || size.cy > 65535) return nullptr;
    auto* s = new EngineSurface;
    {
        std::lock_guard g(surfacesLock);
        liveSurfaces.insert(s);
    }
    s->driverSurface = driverSurface;
    s->surface.dhsurf = driverSurface;
    s->surface.sizlBitmap = size;
    s->surface.iBitmapFormat = format;
    s->surface.iType = STYPE_DEVICE;
    s->surface.hsurf = reinterpret_cast<HSURF>(s);
    return s->surface.hsurf;
}

BOOL EngDeleteSurface(HSURF surface) {
    auto* s = reinterpret_cast<EngineSurface*>(surface);
    {
        std::lock_guard g(surfacesLock);
        if (!liveSurfaces.erase(s)) return FALSE;
    }
    delete s;
    return TRUE;
}

HPALETTE EngCreatePalette(ULONG mode, ULONG, ULONG*, FLONG, FLONG, FLONG) {
    static int palettes[16];
    return reinterpret_cast<HPALETTE>(&palettes[mode & 15]);
}

// The engine's own DrvEnablePDEV: a letter-sized 203-dpi raster printer.
DHPDEV DefaultEnablePDEV(DEVMODEW*, LPWSTR, ULONG, HSURF*, ULONG capsSize, ULONG* caps,
                         ULONG infoSize, DEVINFO* info, HDEV, LPWSTR, HANDLE) {
    static int device;
    if (caps && capsSize >= sizeof(GDIINFO)) {
        GDIINFO gi{};
        gi.ulVersion = 0x5000;
        gi.ulTechnology = DT_RASPRINTER;
        gi.ulHorzSize = 72;
        gi.ulVertSize = 280;
        gi.ulHorzRes = 576;
        gi.ulVertRes = 2233;
        gi.cBitsPixel = 24;
        gi.cPlanes = 1;
        gi.ulNumColors = 1u << 24;
        gi.flRaster = RC_BITBLT | RC_BANDING | RC_PALETTE;
        gi.ulLogPixelsX = gi.ulLogPixelsY = 203;
        gi.ulAspectX = gi.ulAspectY = 100;
        gi.ulAspectXY = 141;
        gi.szlPhysSize = SIZEL{576, 2233};
        std::memcpy(caps, &gi, sizeof gi);
    }
    if (info && infoSize >= sizeof(DEVINFO)) info->cFonts = 0;
    return reinterpret_cast<DHPDEV>(&device);
}
void DefaultDisablePDEV(DHPDEV) {}
HSURF DefaultEnableSurface(DHPDEV) {
    return nullptr;
}
void DefaultDisableSurface(DHPDEV) {}
BOOL DefaultCopyBits(SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*) {
    return TRUE;
}
ULONG DefaultGetModes(HANDLE, ULONG, DEVMODEW*) {
    return 0;
}
BOOL DefaultStartDoc(SURFOBJ*, LPWSTR, DWORD) {
    return TRUE;
}
BOOL DefaultEndDoc(SURFOBJ*, FLONG) {
    return TRUE;
}
BOOL DefaultStartPage(SURFOBJ*) {
    return TRUE;
}
void DefaultUnused() {}

void FillDefaults(PFN (&table)[kDrvTableSize]) {
    for (auto& entry : table) entry = &DefaultUnused;
    table[INDEX_DrvEnablePDEV] = reinterpret_cast<PFN>(&DefaultEnablePDEV);
    table[INDEX_DrvDisablePDEV] = reinterpret_cast<PFN>(&DefaultDisablePDEV);
    table[INDEX_DrvEnableSurface] = reinterpret_cast<PFN>(&DefaultEnableSurface);
    table[INDEX_DrvDisableSurface] = reinterpret_cast<PFN>(&DefaultDisableSurface);
    table[INDEX_DrvCopyBits] = reinterpret_cast<PFN>(&DefaultCopyBits);
    table[INDEX_DrvGetModes] = reinterpret_cast<PFN>(&DefaultGetModes);
    table[INDEX_DrvStartDoc] = reinterpret_cast<PFN>(&DefaultStartDoc);
    table[INDEX_DrvEndDoc] = reinterpret_cast<PFN>(&DefaultEndDoc);
    table[INDEX_DrvStartPage] = reinterpret_cast<PFN>(&DefaultStartPage);
}

PFN* EngineServices() {
    static PFN services[kEngTableSize] = {};
    services[INDEX_EngCreateDeviceSurface] = reinterpret_cast<PFN>(&EngCreateDeviceSurface);
    services[INDEX_EngDeleteSurface] = reinterpret_cast<PFN>(&EngDeleteSurface);
    services[INDEX_EngCreatePalette] = reinterpret_cast<PFN>(&EngCreatePalette);
    return services;
}

// ---- loaded drivers ----

struct DriverModule {
    HMODULE module = nullptr;
    PFN table[kDrvTableSize] = {};
    int users = 0;
};

std::mutex driversLock;
std::map<std::u16string, DriverModule> drivers;

template <typename F>
F Entry(DriverModule* d, ULONG slot) {
    return reinterpret_cast<F>(d->table[slot]);
}

DriverModule* AcquireDriver(const std::u16string& file) {
    std::lock_guard g(driversLock);
    DriverModule& d = drivers[WideUpperAscii(file)];
    if (!d.module) {
        d.module = LoadLibraryW(file.c_str());
        if (!d.module) {
            drivers.erase(WideUpperAscii(file));
            return nullptr;
        }
        auto enable =
            reinterpret_cast<PFN_DrvEnableDriver>(GetProcAddress(d.module, "DrvEnableDriver"));
        FillDefaults(d.table);
        if (!enable || !enable(kEngineVersion, kDrvTableSize, d.table, EngineServices())) {
            NKDbgPrintfW(u"%s: no usable DrvEnableDriver\r\n", file.c_str());
            FreeLibrary(d.module);
            drivers.erase(WideUpperAscii(file));
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
    }
    ++d.users;
    return &d;
}

void ReleaseDriver(DriverModule* d) {
    std::lock_guard g(driversLock);
    if (--d->users > 0) return;
    FreeLibrary(d->module);  // the driver's static clean-up runs here
    for (auto it = drivers.begin(); it != drivers.end(); ++it)
        if (&it->second == d) {
            drivers.erase(it);
            break;
        }
}

}  // namespace

struct PrinterDevice {
    DriverModule* driver = nullptr;
    DEVMODEW devmode{};
    GDIINFO gdiInfo{};
    DEVINFO devInfo{};
    DHPDEV device = nullptr;
    HSURF surface = nullptr;
    std::u16string deviceName, port;
    QImage page;                  // the drawing surface, RGB32
    std::vector<BYTE> scanLines;  // the band handed over, kept for the next
    bool inDoc = false, inPage = false;
    // A page whose first drawing is a bitmap of greys, as every raster page is, keeps
    // its dots (one byte each, white around the bitmap, `page`'s size) rather than drawing
    // them on the surface, and hands them over as they are. The surface gets them only
    // when something else draws on the page.
    std::vector<BYTE> greys;
    bool greyPage = false;
    bool blank = false;  // nothing drawn on the page yet
    bool landscape = false;

    SURFOBJ* Surface() {
        return surface ? &reinterpret_cast<EngineSurface*>(surface)->surface : nullptr;
    }
};

namespace {

HDC EnableDevice(const std::u16string& driverFile, std::u16string deviceName, std::u16string port,
                 const DEVMODEW* devmode) {
    DriverModule* driver = AcquireDriver(driverFile);
    if (!driver) return nullptr;
    auto p = std::make_unique<PrinterDevice>();
    p->driver = driver;
    p->deviceName = std::move(deviceName);
    p->port = std::move(port);
    if (devmode)
        p->devmode = *devmode;
    else if (Entry<PFN_DrvGetModes>(driver, INDEX_DrvGetModes)(driver->module, sizeof(DEVMODEW),
                                                               &p->devmode) == 0) {
        p->devmode.dmSize = sizeof(DEVMODEW);
        p->devmode.dmSpecVersion = 0x0400;
        p->devmode.dmOrientation = DMORIENT_PORTRAIT;
        p->devmode.dmPaperSize = DMPAPER_LETTER;
        p->devmode.dmCopies = 1;
        p->devmode.dmColor = DMCOLOR_MONOCHROME;
    }
    p->landscape = p->devmode.dmOrientation == DMORIENT_LANDSCAPE;
    p->device = Entry<PFN_DrvEnablePDEV>(driver, INDEX_DrvEnablePDEV)(
        &p->devmode, p->port.empty() ? nullptr : p->port.data(), 0, nullptr, sizeof(GDIINFO),
        reinterpret_cast<ULONG*>(&p->gdiInfo), sizeof(DEVINFO), &p->devInfo, nullptr,
        p->deviceName.data(), driver->module);
    if (!p->device) {
        DWORD why = GetLastError();
        ReleaseDriver(driver);
        SetLastError(why ? why : ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    p->surface = Entry<PFN_DrvEnableSurface>(driver, INDEX_DrvEnableSurface)(p->device);
    SURFOBJ* so = p->Surface();
    LONG w = so ? so->sizlBitmap.cx : LONG(p->gdiInfo.ulHorzRes);
    LONG h = so ? so->sizlBitmap.cy : LONG(p->gdiInfo.ulVertRes);
    if (so) so->dhpdev = p->device;
    p->page = QImage(std::max<LONG>(w, 1), std::max<LONG>(h, 1), QImage::Format_RGB32);
    if (p->page.isNull()) {
        Entry<PFN_DrvDisableSurface>(driver, INDEX_DrvDisableSurface)(p->device);
        Entry<PFN_DrvDisablePDEV>(driver, INDEX_DrvDisablePDEV)(p->device);
        ReleaseDriver(driver);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    p->page.fill(Qt::white);
    HDC dc = NewDc(HDC__::Kind::Printer);
    dc->printer = p.release();
    return dc;
}

// A dot's first three bytes in memory are its blue, green and red (little-endian).
constexpr bool kBlueFirst = std::endian::native == std::endian::little;

#if defined(__x86_64__)
// Four dots at a time: their sixteen bytes shuffled into twelve, the last four written
// over by the next four dots.
__attribute__((target("ssse3"))) int ToBlueGreenRedSsse3(const QRgb* in, BYTE* out, int count) {
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int x = 0;
    for (; x + 6 <= count; x += 4) {
        const __m128i dots = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm_shuffle_epi8(dots, pack));
    }
    return x;
}
#endif

#if defined(__x86_64__)
// Sixteen grey dots at a time, each byte three times over.
__attribute__((target("ssse3"))) int GreyToBlueGreenRedSsse3(const BYTE* in, BYTE* out, int count) {
    const __m128i first = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i second = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i third =
        _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m128i dots = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
        auto* to = reinterpret_cast<__m128i*>(out + 3 * x);
        _mm_storeu_si128(to, _mm_shuffle_epi8(dots, first));
        _mm_storeu_si128(to + 1, _mm_shuffle_epi8(dots, second));
        _mm_storeu_si128(to + 2, _mm_shuffle_epi8(dots, third));
    }
    return x;
}
#endif

// A grey dot is the same byte three times.
void GreyToBlueGreenRed(const BYTE* in, BYTE* out, int count) {
    int x = 0;
#if defined(__x86_64__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) x = GreyToBlueGreenRedSsse3(in, out, count);
#endif
    for (; x < count; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
}

void ToBlueGreenRed(const QRgb* in, BYTE* out, int count) {
    int x = 0;
    if constexpr (kBlueFirst) {
#if defined(__x86_64__)
        static const bool ssse3 = __builtin_cpu_supports("ssse3");
        if (ssse3) x = ToBlueGreenRedSsse3(in, out, count);
#endif
        // Each copy of four bytes leaves its fourth to the next dot.
        for (; x + 1 < count; ++x) std::memcpy(out + 3 * x, in + x, 4);
    }
    for (; x < count; ++x) {
        out[3 * x] = BYTE(qBlue(in[x]));
        out[3 * x + 1] = BYTE(qGreen(in[x]));
        out[3 * x + 2] = BYTE(qRed(in[x]));
    }
}

// Hands the page over as 24-bit blue-green-red scan lines, a band at a time: rows top to
// bottom in portrait, columns left to right (one page row each) in landscape. Only the
// band being handed over is converted, into a buffer kept for the next page.
bool DeliverPage(PrinterDevice& p) {
    const int w = p.page.width(), h = p.page.height();
    auto copy = Entry<PFN_DrvCopyBits>(p.driver, INDEX_DrvCopyBits);
    // `count` dots of page row y from column `at` as blue, green and red.
    auto scanLine = [&p, w](int y, int at, int count, BYTE* out) {
        if (p.greyPage)
            GreyToBlueGreenRed(p.greys.data() + size_t(y) * size_t(w) + size_t(at), out, count);
        else
            ToBlueGreenRed(reinterpret_cast<const QRgb*>(p.page.constScanLine(y)) + at, out, count);
    };
    SURFOBJ src{};
    src.iBitmapFormat = BMF_24BPP;
    src.iType = STYPE_BITMAP;
    src.fjBitmap = BMF_TOPDOWN;
    POINTL origin{0, 0};
    std::vector<BYTE>& band = p.scanLines;
    if (p.landscape) {
        // A band of columns, each scan line of the page cut to the band's width.
        const LONG stride = (kBandRows * 3 + 3) & ~3;
        band.resize(size_t(stride) * size_t(h));
        src.lDelta = stride;
        src.pvBits = src.pvScan0 = band.data();
        src.cjBits = ULONG(band.size());
        for (LONG at = 0; at < w; at += kBandRows) {
            const LONG end = std::min<LONG>(at + kBandRows, w);
            for (int y = 0; y < h; ++y) scanLine(y, at, end - at, band.data() + size_t(y) * stride);
            src.sizlBitmap = SIZEL{end - at, h};
            RECTL rect{at, 0, end, h};
            if (!copy(p.Surface(), &src, nullptr, nullptr, &rect, &origin)) return false;
        }
        return true;
    }
    // The driver reads the rows of the rectangle from the page's scan lines: the
    // surface's first line is where the page's top would be, and only the band's rows
    // are behind it.
    const LONG stride = (w * 3 + 3) & ~3;
    band.resize(size_t(stride) * size_t(std::min<LONG>(kBandRows, h)));
    src.sizlBitmap = SIZEL{w, h};
    src.lDelta = stride;
    src.cjBits = ULONG(band.size());
    for (LONG at = 0; at < h; at += kBandRows) {
        const LONG end = std::min<LONG>(at + kBandRows, h);
        for (LONG y = at; y < end; ++y)
            scanLine(int(y), 0, w, band.data() + size_t(y - at) * stride);
        src.pvBits = band.data();
        src.pvScan0 = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(band.data()) -
                                              std::uintptr_t(at) * std::uintptr_t(stride));
        RECTL rect{0, at, w, end};
        if (!copy(p.Surface(), &src, nullptr, nullptr, &rect, &origin)) return false;
    }
    return true;
}

}  // namespace

QImage* PrinterTarget(HDC dc) {
    PrinterDevice* p = dc->printer;
    if (!p || !p->inPage) return nullptr;
    if (p->greyPage) {
        const int w = p->page.width();
        for (int y = 0; y < p->page.height(); ++y)
            GreysToSurface(p->greys.data() + size_t(y) * size_t(w),
                           reinterpret_cast<QRgb*>(p->page.scanLine(y)), w);
        p->greyPage = false;
    }
    p->blank = false;
    return &p->page;
}

bool PrinterTakeGreys(HDC dc, int x, int y, int width, int height, const GreyRows& rows) {
    PrinterDevice* p = dc->printer;
    if (!p || !p->inPage || !p->blank) return false;
    const long long w = p->page.width(), h = p->page.height();
    // The page's columns and rows both in the rectangle and with a dot of the bitmap;
    // the rest of the page stays white.
    const long long left = std::max({0LL, 0LL + x, x - rows.column}),
                    right = std::min({w, 0LL + x + width, x - rows.column + rows.width}),
                    top = std::max({0LL, 0LL + y, y - rows.row}),
                    bottom = std::min({h, 0LL + y + height, y - rows.row + rows.height});
    if (left >= right || top >= bottom) return false;
    p->greys.resize(size_t(w) * size_t(h));
    for (long long r = 0; r < h; ++r) {
        BYTE* line = p->greys.data() + size_t(r) * size_t(w);
        if (r < top || r >= bottom) {
            std::memset(line, 255, size_t(w));
            continue;
        }
        std::memset(line, 255, size_t(left));
        std::memcpy(line + left, rows.Line(r - y + rows.row) + (left - x + rows.column),
                    size_t(right - left));
        std::memset(line + right, 255, size_t(w - right));
    }
    p->greyPage = true;
    p->blank = false;
    return true;
}

int PrinterStartDoc(HDC dc, const DOCINFOW* doc) {
    PrinterDevice& p = *dc->printer;
    if (p.inDoc) return -1;
    std::u16string name = doc && doc->lpszDocName ? doc->lpszDocName : u"";
    static DWORD jobs = 0;
    if (!Entry<PFN_DrvStartDoc>(p.driver, INDEX_DrvStartDoc)(p.Surface(), name.data(), ++jobs))
        return -1;
    p.inDoc = true;
    return int(jobs);
}

int PrinterStartPage(HDC dc) {
    PrinterDevice& p = *dc->printer;
    if (!p.inDoc || p.inPage) return -1;
    p.page.fill(Qt::white);
    p.blank = true;
    p.greyPage = false;
    if (!Entry<PFN_DrvStartPage>(p.driver, INDEX_DrvStartPage)(p.Surface())) return -1;
    p.inPage = true;
    return 1;
}

int PrinterEndPage(HDC dc) {
    PrinterDevice& p = *dc->printer;
    if (!p.inPage) return -1;
    p.inPage = false;
    return DeliverPage(p) ? 1 : -1;
}

int PrinterEndDoc(HDC dc) {
    PrinterDevice& p = *dc->printer;
    if (!p.inDoc) return -1;
    if (p.inPage) PrinterEndPage(dc);
    p.inDoc = false;
    return Entry<PFN_DrvEndDoc>(p.driver, INDEX_DrvEndDoc)(p.Surface(), 0) ? 1 : -1;
}

void PrinterDelete(HDC dc) {
    PrinterDevice& p = *dc->printer;
    if (p.inDoc) PrinterEndDoc(dc);
    Entry<PFN_DrvDisableSurface>(p.driver, INDEX_DrvDisableSurface)(p.device);
    Entry<PFN_DrvDisablePDEV>(p.driver, INDEX_DrvDisablePDEV)(p.device);
    EngDeleteSurface(p.surface);  // a surface the driver left behind goes with its device
    ReleaseDriver(p.driver);
    delete dc->printer;
    dc->printer = nullptr;
}

int PrinterCaps(HDC dc, int index) {
    const GDIINFO& g = dc->printer->gdiInfo;
    switch (index) {
        case TECHNOLOGY:
            return int(g.ulTechnology);
        case HORZSIZE:
            return int(g.ulHorzSize);
        case VERTSIZE:
            return int(g.ulVertSize);
        case HORZRES:
            return dc->printer->page.width();
        case VERTRES:
            return dc->printer->page.height();
        case BITSPIXEL:
            return int(g.cBitsPixel);
        case PLANES:
            return 1;
        case NUMCOLORS:
            return -1;
        case LOGPIXELSX:
            return int(g.ulLogPixelsX);
        case LOGPIXELSY:
            return int(g.ulLogPixelsY);
        case PHYSICALWIDTH:
            return int(g.szlPhysSize.cx);
        case PHYSICALHEIGHT:
            return int(g.szlPhysSize.cy);
        case PHYSICALOFFSETX:
            return int(g.ptlPhysOffset.x);
        case PHYSICALOFFSETY:
            return int(g.ptlPhysOffset.y);
        default:
            return 0;
    }
}

}  // namespace gdi

namespace {
std::mutex dialogLock;
PrintDialogHandler dialogHandler;
}  // namespace

PrintDialogHandler SetPrintDialogHandler(PrintDialogHandler handler) {
    std::lock_guard g(dialogLock);
    return std::exchange(dialogHandler, std::move(handler));
}

HDC CreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR port, const DEVMODEW* devmode) {
    std::u16string printer = device && *device ? device : gdi::DefaultPrinter();
    std::u16string driverFile, printerPort;
    if (printer.empty() || !gdi::PrinterValues(printer, driverFile, printerPort)) {
        if (!driver || !*driver) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return nullptr;
        }
    }
    if (driver && *driver) driverFile = driver;
    if (port && *port) printerPort = port;
    return gdi::EnableDevice(driverFile, printer, printerPort, devmode);
}

BOOL GetDefaultPrinterW(LPWSTR buffer, LPDWORD size) {
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::u16string name = gdi::DefaultPrinter();
    if (name.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    DWORD need = DWORD(name.size() + 1);
    if (!buffer || *size < need) {
        *size = need;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    WideCopy(buffer, *size, name);
    *size = need;
    return TRUE;
}

BOOL PrintDlgW(PRINTDLGW* dialog) {
    if (!dialog || dialog->cbStruct == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    dialog->hdc = nullptr;
    PrintDialogChoice choice{gdi::DefaultPrinter(), {}};
    if (!(dialog->dwFlags & PD_RETURNDEFAULT)) {
        PrintDialogHandler handler;
        {
            std::lock_guard g(dialogLock);
            handler = dialogHandler;
        }
        if (handler && !handler(choice)) return FALSE;
    }
    if (choice.printer.empty()) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    dialog->hdc = CreateDCW(nullptr, choice.printer.c_str(),
                            choice.port.empty() ? nullptr : choice.port.c_str(), nullptr);
    return dialog->hdc != nullptr;
}

int StartDocW(HDC dc, const DOCINFOW* doc) {
    if (!gdi::IsLiveDc(dc) || dc->kind != HDC__::Kind::Printer) return -1;
    gdi::Record("StartDocW", doc && doc->lpszDocName ? doc->lpszDocName : u"", RECT{});
    return gdi::PrinterStartDoc(dc, doc);
}

int StartPage(HDC dc) {
    if (!gdi::IsLiveDc(dc) || dc->kind != HDC__::Kind::Printer) return -1;
    gdi::Record("StartPage", {}, RECT{});
    return gdi::PrinterStartPage(dc);
}

int EndPage(HDC dc) {
    if (!gdi::IsLiveDc(dc) || dc->kind != HDC__::Kind::Printer) return -1;
    gdi::Record("EndPage", {}, RECT{});
    return gdi::PrinterEndPage(dc);
}

int EndDoc(HDC dc) {
    if (!gdi::IsLiveDc(dc) || dc->kind != HDC__::Kind::Printer) return -1;
    gdi::Record("EndDoc", {}, RECT{});
    return gdi::PrinterEndDoc(dc);
}

int AbortDoc(HDC dc) {
    if (!gdi::IsLiveDc(dc) || dc->kind != HDC__::Kind::Printer || !dc->printer->inDoc) return -1;
    gdi::Record("AbortDoc", {}, RECT{});
    dc->printer->inPage = false;
    dc->printer->inDoc = false;
    return 1;
}

int GetDeviceCaps(HDC dc, int index) {
    if (!gdi::IsLiveDc(dc)) return 0;
    if (dc->kind == HDC__::Kind::Printer) return gdi::PrinterCaps(dc, index);
    QImage* t = gdi::Target(dc);
    switch (index) {
        case HORZRES:
            return t ? t->width() : 1;
        case VERTRES:
            return t ? t->height() : 1;
        case BITSPIXEL:
            return 24;
        case PLANES:
            return 1;
        case LOGPIXELSX:
        case LOGPIXELSY:
            return 96;
        case TECHNOLOGY:
            return int(DT_RASDISPLAY);
        default:
            return 0;
    }
}

}  // namespace wce
