// The driver's entry points: the function table it hands the engine, and device and
// surface creation with the paper geometry.
#pragma once

#include "wce/drvtable.h"

namespace qx470 {

// Device values kept beside the job record.
struct DeviceValues {
    wce::DHPDEV device = nullptr;  // from the engine's default DrvEnablePDEV
    int landscape = 0;
    int surfaceWidth = 0;
    int surfaceHeight = 0;
    wce::HSURF surface = nullptr;
    wce::HPALETTE palette = nullptr;
    wce::DWORD surfaceRecord[16] = {};  // word 11 holds the surface format
};
DeviceValues& TheDevice();

constexpr wce::ULONG kDevModeSize = 192;

wce::BOOL DrvEnableDriver(wce::ULONG engineVersion, wce::ULONG tableSize, wce::PFN* table,
                          wce::PFN* engineServices);

wce::DHPDEV DrvEnablePDEV(wce::DEVMODEW* devmode, wce::LPWSTR logicalAddress, wce::ULONG patterns,
                          wce::HSURF* patternSurfaces, wce::ULONG capsSize, wce::ULONG* caps,
                          wce::ULONG devInfoSize, wce::DEVINFO* devInfo, wce::HDEV engineDevice,
                          wce::LPWSTR deviceName, wce::HANDLE driver);
void DrvDisablePDEV(wce::DHPDEV device);
wce::HSURF DrvEnableSurface(wce::DHPDEV device);
void DrvDisableSurface(wce::DHPDEV device);
wce::ULONG DrvGetModes(wce::HANDLE driver, wce::ULONG size, wce::DEVMODEW* devmode);
wce::BOOL DrvSetPalette(wce::DHPDEV device, void* palette, wce::FLONG flags, wce::ULONG first,
                        wce::ULONG count);
void DrvPowerHandler(wce::DHPDEV device, wce::BOOL off);

// Frees the page buffers and flushes and closes the port; run when the library unloads.
void DriverUnload();

}  // namespace qx470
