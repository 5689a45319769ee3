// The driver function table the graphics engine and a printer driver exchange, and
// the engine services a driver may call.
#pragma once

#include "wce/winddi.h"

namespace wce {

using PFN = void (*)();

// Slots of the 29-entry table, in the platform's fixed order.
enum DrvSlot : ULONG {
    INDEX_DrvEnablePDEV = 0,
    INDEX_DrvDisablePDEV = 1,
    INDEX_DrvEnableSurface = 2,
    INDEX_DrvDisableSurface = 3,
    INDEX_DrvCreateDeviceBitmap = 4,
    INDEX_DrvDeleteDeviceBitmap = 5,
    INDEX_DrvRealizeBrush = 6,
    INDEX_DrvStrokePath = 7,
    INDEX_DrvFillPath = 8,
    INDEX_DrvPaint = 9,
    INDEX_DrvBitBlt = 10,
    INDEX_DrvCopyBits = 11,
    INDEX_DrvAnyBlt = 12,
    INDEX_DrvTransparentBlt = 13,
    INDEX_DrvSetPalette = 14,
    INDEX_DrvSetPointerShape = 15,
    INDEX_DrvMovePointer = 16,
    INDEX_DrvGetModes = 17,
    INDEX_DrvRealizeColor = 18,
    INDEX_DrvGetMasks = 19,
    INDEX_DrvUnrealizeColor = 20,
    INDEX_DrvContrastControl = 21,
    INDEX_DrvPowerHandler = 22,
    INDEX_DrvEndDoc = 23,
    INDEX_DrvStartDoc = 24,
    INDEX_DrvStartPage = 25,
    INDEX_DrvEscape = 26,
    INDEX_DrvGradientFill = 27,
    INDEX_DrvAlphaBlend = 28,
};
constexpr ULONG kDrvTableSize = 29;

// Entries of the engine's service table handed to DrvEnableDriver.
enum EngSlot : ULONG {
    INDEX_EngCreateDeviceSurface = 9,
    INDEX_EngDeleteSurface = 10,
    INDEX_EngCreatePalette = 12,
};
constexpr ULONG kEngTableSize = 16;

using PFN_DrvEnablePDEV = DHPDEV (*)(DEVMODEW* devmode, LPWSTR logicalAddress, ULONG patterns,
                                     HSURF* patternSurfaces, ULONG capsSize, ULONG* devCaps,
                                     ULONG devInfoSize, DEVINFO* devInfo, HDEV engineDevice,
                                     LPWSTR deviceName, HANDLE driver);
using PFN_DrvDisablePDEV = void (*)(DHPDEV device);
using PFN_DrvEnableSurface = HSURF (*)(DHPDEV device);
using PFN_DrvDisableSurface = void (*)(DHPDEV device);
using PFN_DrvSetPalette = BOOL (*)(DHPDEV device, void* palette, FLONG flags, ULONG first,
                                   ULONG count);
using PFN_DrvGetModes = ULONG (*)(HANDLE driver, ULONG size, DEVMODEW* devmode);
using PFN_DrvPowerHandler = void (*)(DHPDEV device, BOOL off);
using PFN_DrvStartDoc = BOOL (*)(SURFOBJ* surface, LPWSTR docName, DWORD jobId);
using PFN_DrvEndDoc = BOOL (*)(SURFOBJ* surface, FLONG flags);
using PFN_DrvStartPage = BOOL (*)(SURFOBJ* surface);
using PFN_DrvEnableDriver = BOOL (*)(ULONG engineVersion, ULONG tableSize, PFN* table,
                                     PFN* engineServices);

using PFN_EngCreateDeviceSurface = HSURF (*)(DHSURF driverSurface, SIZEL size, ULONG format);
using PFN_EngDeleteSurface = BOOL (*)(HSURF surface);
using PFN_EngCreatePalette = HPALETTE (*)(ULONG mode, ULONG colours, ULONG* colourTable, FLONG red,
                                          FLONG green, FLONG blue);

// GDIINFO capability size the engine passes to DrvEnablePDEV, in bytes.
constexpr ULONG kGdiInfoSize = sizeof(GDIINFO);

}  // namespace wce
