// A printer driver that keeps what the engine hands it, so the engine's tests can see
// the calls, the geometry and every delivered pixel.
#include <cstring>
#include <string>
#include <vector>

#include "wce/drvtable.h"

using namespace wce;

struct RecordingState {
    std::vector<std::string> calls;
    std::vector<RECTL> rects;
    std::vector<std::vector<BYTE>> rows;  // each delivered page row, blue-green-red
    LONG width = 120, height = 80;        // the page the driver reports
    std::u16string port;
    bool failOpen = false;
};

namespace {

RecordingState state;
PFN saved[kDrvTableSize];
PFN* services = nullptr;
int surfaceRecord[16];
bool landscape = false;

DHPDEV EnablePDEV(DEVMODEW* dm, LPWSTR port, ULONG patterns, HSURF* surfaces, ULONG capsSize,
                  ULONG* caps, ULONG infoSize, DEVINFO* info, HDEV dev, LPWSTR name, HANDLE drv) {
    state.calls.push_back("EnablePDEV");
    state.port = port ? port : u"(none)";
    if (state.failOpen) return nullptr;
    auto engine = reinterpret_cast<PFN_DrvEnablePDEV>(saved[INDEX_DrvEnablePDEV]);
    DHPDEV device =
        engine(dm, port, patterns, surfaces, capsSize, caps, infoSize, info, dev, name, drv);
    auto* gi = reinterpret_cast<GDIINFO*>(caps);
    landscape = dm->dmOrientation == DMORIENT_LANDSCAPE;
    gi->ulHorzRes = ULONG(landscape ? state.height : state.width);
    gi->ulVertRes = ULONG(landscape ? state.width : state.height);
    return device;
}

HSURF EnableSurface(DHPDEV) {
    auto create =
        reinterpret_cast<PFN_EngCreateDeviceSurface>(services[INDEX_EngCreateDeviceSurface]);
    SIZEL size = landscape ? SIZEL{state.height, state.width} : SIZEL{state.width, state.height};
    return create(reinterpret_cast<DHSURF>(surfaceRecord), size, BMF_24BPP);
}

void DisableSurface(DHPDEV) {
    state.calls.push_back("DisableSurface");
}
void DisablePDEV(DHPDEV) {
    state.calls.push_back("DisablePDEV");
}

BOOL CopyBits(SURFOBJ*, SURFOBJ* src, CLIPOBJ*, XLATEOBJ*, RECTL* rect, POINTL*) {
    state.rects.push_back(*rect);
    const auto* base = static_cast<const BYTE*>(src->pvScan0);
    if (!landscape) {
        for (LONG y = rect->top; y < rect->bottom; ++y)
            state.rows.emplace_back(base + y * src->lDelta,
                                    base + y * src->lDelta + src->sizlBitmap.cx * 3);
        return TRUE;
    }
    for (LONG c = 0; c < rect->right - rect->left; ++c) {
        std::vector<BYTE> row;
        for (LONG k = 0; k < src->sizlBitmap.cy; ++k) {
            const BYTE* p = base + (src->sizlBitmap.cy - 1 - k) * src->lDelta + c * 3;
            row.insert(row.end(), p, p + 3);
        }
        state.rows.push_back(std::move(row));
    }
    return TRUE;
}

BOOL StartDoc(SURFOBJ*, LPWSTR, DWORD) {
    state.calls.push_back("StartDoc");
    return TRUE;
}
BOOL StartPage(SURFOBJ*) {
    state.calls.push_back("StartPage");
    state.rows.clear();
    return TRUE;
}
BOOL EndDoc(SURFOBJ*, FLONG) {
    state.calls.push_back("EndDoc");
    return TRUE;
}

}  // namespace

extern "C" RecordingState* RecordingDriverState() {
    return &state;
}

extern "C" BOOL DrvEnableDriver(ULONG, ULONG, PFN* table, PFN* engineServices) {
    std::memcpy(saved, table, sizeof saved);
    services = engineServices;
    table[INDEX_DrvEnablePDEV] = reinterpret_cast<PFN>(&EnablePDEV);
    table[INDEX_DrvDisablePDEV] = reinterpret_cast<PFN>(&DisablePDEV);
    table[INDEX_DrvEnableSurface] = reinterpret_cast<PFN>(&EnableSurface);
    table[INDEX_DrvDisableSurface] = reinterpret_cast<PFN>(&DisableSurface);
    table[INDEX_DrvCopyBits] = reinterpret_cast<PFN>(&CopyBits);
    table[INDEX_DrvStartDoc] = reinterpret_cast<PFN>(&StartDoc);
    table[INDEX_DrvStartPage] = reinterpret_cast<PFN>(&StartPage);
    table[INDEX_DrvEndDoc] = reinterpret_cast<PFN>(&EndDoc);
    return TRUE;
}
