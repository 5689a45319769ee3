#include "driver_entry.h"

#include <cstring>

#include "cpcl.h"
#include "job.h"
#include "output.h"
#include "page.h"
#include "settings.h"
#include "wce/base.h"
#include "wce/registry.h"

namespace qx470 {

using namespace wce;

namespace {

using qxproto::kDotsPerInch;
using qxproto::kInchesPerMm;
constexpr LONG kPaperDots = kModel.dotsAcross;
constexpr ULONG kPaperMm = ULONG(kModel.mmAcross);
constexpr ULONG kSurfaceFormat = BMF_24BPP;
constexpr int kSurfaceFormatWord = 11;

PFN savedTable[kDrvTableSize] = {};
PFN_EngCreateDeviceSurface engCreateSurface = nullptr;
PFN_EngDeleteSurface engDeleteSurface = nullptr;
PFN_EngCreatePalette engCreatePalette = nullptr;

// Millimetres to dots, truncated; a negative length is no length.
LONG MmToDots(LONG mm) {
    double dots = mm * kInchesPerMm * kDotsPerInch;
    return dots > 0 ? static_cast<LONG>(dots) : 0;
}

void CustomGeometry(GDIINFO& gi, PrinterJob& job, const DriverSettings& s) {
    LONG lengthMm = s.paperHeight / kModel.heightUnitsPerMm;
    gi.szlPhysSize.cx = kPaperDots;
    gi.ulHorzSize = kPaperMm;
    if (lengthMm > s.paperWidth) {
        LONG dots = MmToDots(lengthMm);
        gi.ulVertSize = ULONG(lengthMm);
        gi.szlPhysSize.cy = dots;
        job.allocatedRows = job.printedLength = dots;
    } else {
        // The engine draws an 80 mm page; only the label's own length is printed, and
        // never more rows than the page holds.
        gi.szlPhysSize.cy = qxproto::kShortLabelPageDots;
        gi.ulVertSize = qxproto::kShortLabelPageMm;
        job.allocatedRows = qxproto::kShortLabelPageDots;
        job.printedLength = std::min<LONG>(MmToDots(lengthMm), job.allocatedRows);
    }
    double width = (s.paperWidth - 8) * kInchesPerMm * kDotsPerInch;
    job.printableWidth = static_cast<int>(width);
}

void FixedGeometry(GDIINFO& gi, PrinterJob& job, const DEVMODEW& dm) {
    struct Paper {
        SHORT code;
        ULONG mm;
        LONG dots;
    };
    static constexpr Paper kPapers[] = {{5, 356, 2845}, {9, 297, 2373}, {13, 257, 2054}};
    ULONG mm = 280;
    LONG dots = 2233;
    for (const Paper& p : kPapers)
        if (dm.dmPaperSize == p.code) mm = p.mm, dots = p.dots;
    gi.szlPhysSize.cx = kPaperDots;
    gi.ulHorzSize = kPaperMm;
    gi.ulVertSize = mm;
    gi.szlPhysSize.cy = dots;
    job.allocatedRows = job.printedLength = dots;
    job.printableWidth = kPaperDots;
}

void ReadSettingsAndGeometry(GDIINFO& gi, PrinterJob& job, const DEVMODEW& dm) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DriverSettings& s = TheSettings();
    ReadDriverSettings(key, s);
    if (s.userPaper != 0)
        CustomGeometry(gi, job, s);
    else
        FixedGeometry(gi, job, dm);
    RegCloseKey(key);
}

void DefaultDevMode(DEVMODEW& dm) {
    std::memset(&dm, 0, sizeof dm);
    dm.dmDeviceName[0] = u'P';
    dm.dmDeviceName[1] = u'C';
    dm.dmDeviceName[2] = u'L';
    dm.dmSpecVersion = 0x0400;
    dm.dmSize = kDevModeSize;
    dm.dmPrintQuality = DMPRINTQUALITY_HIGH;
    dm.dmBitsPerPel = 24;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = 1;
    dm.dmCopies = 1;
    dm.dmColor = DMCOLOR_MONOCHROME;
}

}  // namespace

DeviceValues& TheDevice() {
    static DeviceValues device;
    return device;
}

BOOL DrvEnableDriver(ULONG, ULONG, PFN* table, PFN* services) {
    if (!table || !services) return FALSE;
    std::memcpy(savedTable, table, sizeof savedTable);
    engCreateSurface =
        reinterpret_cast<PFN_EngCreateDeviceSurface>(services[INDEX_EngCreateDeviceSurface]);
    engDeleteSurface = reinterpret_cast<PFN_EngDeleteSurface>(services[INDEX_EngDeleteSurface]);
    engCreatePalette = reinterpret_cast<PFN_EngCreatePalette>(services[INDEX_EngCreatePalette]);
    table[INDEX_DrvEnablePDEV] = reinterpret_cast<PFN>(&DrvEnablePDEV);
    table[INDEX_DrvDisablePDEV] = reinterpret_cast<PFN>(&DrvDisablePDEV);
    table[INDEX_DrvEnableSurface] = reinterpret_cast<PFN>(&DrvEnableSurface);
    table[INDEX_DrvDisableSurface] = reinterpret_cast<PFN>(&DrvDisableSurface);
    table[INDEX_DrvCopyBits] = reinterpret_cast<PFN>(&DrvCopyBits);
    table[INDEX_DrvSetPalette] = reinterpret_cast<PFN>(&DrvSetPalette);
    table[INDEX_DrvGetModes] = reinterpret_cast<PFN>(&DrvGetModes);
    table[INDEX_DrvPowerHandler] = reinterpret_cast<PFN>(&DrvPowerHandler);
    table[INDEX_DrvEndDoc] = reinterpret_cast<PFN>(&DrvEndDoc);
    table[INDEX_DrvStartDoc] = reinterpret_cast<PFN>(&DrvStartDoc);
    table[INDEX_DrvStartPage] = reinterpret_cast<PFN>(&DrvStartPage);
    return TRUE;
}

DHPDEV DrvEnablePDEV(DEVMODEW* devmode, LPWSTR logicalAddress, ULONG patterns,
                     HSURF* patternSurfaces, ULONG capsSize, ULONG* caps, ULONG devInfoSize,
                     DEVINFO* devInfo, HDEV engineDevice, LPWSTR deviceName, HANDLE driver) {
    DeviceValues& dev = TheDevice();
    PrinterJob& job = TheJob();
    // The records the engine hands in must hold what is written into them.
    if (!engCreatePalette || !caps || capsSize < sizeof(GDIINFO) || !devInfo ||
        devInfoSize < sizeof(DEVINFO))
        return nullptr;
    dev.palette = engCreatePalette(PAL_BGR, 0, nullptr, 0, 0, 0);
    if (!dev.palette) return nullptr;
    devInfo->hpalDefault = dev.palette;
    auto engineEnable = reinterpret_cast<PFN_DrvEnablePDEV>(savedTable[INDEX_DrvEnablePDEV]);
    dev.device = engineEnable
                     ? engineEnable(devmode, logicalAddress, patterns, patternSurfaces, capsSize,
                                    caps, devInfoSize, devInfo, engineDevice, deviceName, driver)
                     : nullptr;
    DEVMODEW fallback;
    DefaultDevMode(fallback);
    const DEVMODEW& dm = devmode ? *devmode : fallback;
    GDIINFO& gi = *reinterpret_cast<GDIINFO*>(caps);
    ReadSettingsAndGeometry(gi, job, dm);
    bool reduced = dm.dmDriverVersion == 0x0200;
    gi.ulHorzRes = ULONG(gi.szlPhysSize.cx - (reduced ? 126 : 0));
    gi.ulVertRes = ULONG(gi.szlPhysSize.cy - (reduced ? 100 : 0));
    gi.ulLogPixelsX = gi.ulLogPixelsY = 203;
    dev.landscape = dm.dmOrientation == DMORIENT_LANDSCAPE ? 1 : 0;
    if (dev.landscape) {
        std::swap(gi.szlPhysSize.cx, gi.szlPhysSize.cy);
        std::swap(gi.ptlPhysOffset.x, gi.ptlPhysOffset.y);
        std::swap(gi.ulHorzRes, gi.ulVertRes);
    }
    dev.surfaceWidth = int(gi.ulHorzRes);
    dev.surfaceHeight = int(gi.ulVertRes);
    gi.flRaster &= ~RC_PALETTE;
    gi.ulTechnology = DT_RASPRINTER;
    gi.cBitsPixel = 24;
    gi.ulNumColors = 16777216;
    if (SetupPage(job, gi, dm) && PrinterOpenPort(job, logicalAddress) != -1) return dev.device;
    dev.palette = nullptr;  // the engine owns palettes; forgetting it is deleting it here
    FreePage(job);
    PrinterClosePort(job);
    dev.device = nullptr;
    return nullptr;
}

void DrvDisablePDEV(DHPDEV) {
    FreePage(TheJob());
    PrinterClosePort(TheJob());
}

HSURF DrvEnableSurface(DHPDEV) {
    DeviceValues& dev = TheDevice();
    dev.surfaceRecord[kSurfaceFormatWord] = kSurfaceFormat;
    if (!engCreateSurface) return nullptr;
    dev.surface = engCreateSurface(reinterpret_cast<DHSURF>(dev.surfaceRecord),
                                   SIZEL{dev.surfaceWidth, dev.surfaceHeight}, kSurfaceFormat);
    return dev.surface;
}

void DrvDisableSurface(DHPDEV) {
    DeviceValues& dev = TheDevice();
    if (engDeleteSurface && dev.surface) engDeleteSurface(dev.surface);
    dev.surface = nullptr;
}

ULONG DrvGetModes(HANDLE, ULONG size, DEVMODEW* devmode) {
    if (!devmode) return kDevModeSize;
    if (size != kDevModeSize) return 0;
    DefaultDevMode(*devmode);
    return kDevModeSize;
}

BOOL DrvSetPalette(DHPDEV, void*, FLONG, ULONG, ULONG) {
    return FALSE;
}

void DrvPowerHandler(DHPDEV, BOOL) {}

void DriverUnload() {
    PrinterJob& job = TheJob();
    FreePage(job);
    PrinterClosePort(job);
    FreeCpclBuffers(job);
}

}  // namespace qx470
