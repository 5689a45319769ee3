#include "engine_job.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "wce/base.h"
#include "wce/gdi.h"
#include "wce/registry.h"
#include "wce/text.h"
#include "wce/ui.h"

namespace qxapp {

using namespace wce;

namespace {

// The driver's state is static: one device context at a time in the whole process.
std::mutex engineLock;

// The driver tells of a port that does not open in a message box; with nobody to
// answer, the text becomes part of the job's reason and the cautious answer is given.
std::mutex boxLock;
std::string lastBox;

}  // namespace

void CatchMessageBoxes() {
    static std::once_flag once;
    std::call_once(once, [] {
        SetMessageBoxHandler([](HWND, LPCWSTR text, LPCWSTR, UINT type) {
            std::lock_guard g(boxLock);
            // Every box since the last look, in order: an upload may tell of several files.
            lastBox += (lastBox.empty() ? "" : " / ") + WideToUtf8(text);
            return CautiousAnswer(type);
        });
    });
}

std::string TakeMessageBox() {
    std::lock_guard g(boxLock);
    return std::exchange(lastBox, {});
}

namespace {

bool SetNumber(HKEY key, LPCWSTR name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

bool SetText(HKEY key, LPCWSTR name, const std::u16string& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          DWORD((text.size() + 1) * 2)) == ERROR_SUCCESS;
}

// Every value the driver reads is written for each job, from the job's settings and
// its printer's commands (texts, logos, back-feed). A model without CPCL gets none of
// CPCL's values, as its own utility writes none. False when the registry file cannot
// be written (one that does not parse fails every call).
bool WriteSettings(const std::string& port, const JobSettings& s) {
    const PrinterModel& m = *s.model;
    HKEY key = nullptr;
    std::u16string path = u"Printers\\" + Utf8ToWide(m.printerKey);
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = SetText(key, u"Driver", Utf8ToWide(m.driverFile)) &&
              SetText(key, u"Port", Utf8ToWide(port)) &&
              SetText(key, u"StartDocText", Utf8ToWide(s.startText)) &&
              SetText(key, u"EndDocText", Utf8ToWide(s.endText)) &&
              SetNumber(key, u"StartLogo", DWORD(s.startLogo)) &&
              SetNumber(key, u"EndLogo", DWORD(s.endLogo));
    if (m.cpcl) ok = ok && SetNumber(key, u"BackFeed", DWORD(s.backFeed));
    if (ok && !s.portDevice.empty()) ok = MapPort(port, s.portDevice);
    ok = ok && SetNumber(key, u"PHeight", DWORD(s.paperHeight)) &&
         SetNumber(key, u"PWidth", DWORD(s.widthMm)) &&
         SetNumber(key, u"PaperSize", DWORD(s.paperSize)) &&
         SetNumber(key, u"Copies", DWORD(s.copies)) &&
         SetNumber(key, u"PrintingLength", DWORD(s.printingLength)) &&
         SetNumber(key, u"UserPaper", 1);
    if (m.cpcl)
        ok = ok && SetNumber(key, u"Emulation", DWORD(s.emulation)) &&
             SetNumber(key, u"Rotation", DWORD(s.rotation));
    // The job's registry is scratch: its values reach the file in one write.
    ok = ok && RegFlushKey(key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

HDC Dc(void* dc) {
    return static_cast<HDC>(dc);
}

}  // namespace

// The printer's port stands for the device it was added with: its COMn: or LPTn:
// under Platform\Devices, in the printer's own registry file.
bool MapPort(const std::string& port, const std::string& device) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Platform\\Devices", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok =
        SetText(key, Utf8ToWide(port.substr(0, port.find(':') + 1)).c_str(), Utf8ToWide(device)) &&
        RegFlushKey(key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

std::unique_ptr<EngineJob> EngineJob::Start(const std::string& port, const JobSettings& settings,
                                            const std::string& documentName, std::string* reason) {
    CatchMessageBoxes();
    std::unique_ptr<EngineJob> job(new EngineJob);
    job->hold_ = std::unique_lock(engineLock);
    job->port_ = port;
    if (!WriteSettings(port, settings)) {
        *reason =
            "the driver's settings cannot be written to the registry file " + RegistryFilePath();
        return nullptr;
    }
    DEVMODEW dm{};
    dm.dmSize = sizeof dm;
    dm.dmSpecVersion = 0x0400;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = DMPAPER_LETTER;
    dm.dmCopies = 1;
    dm.dmColor = DMCOLOR_MONOCHROME;
    // The driver's dots draw on the thread's random sequence; each job starts it afresh,
    // as a program started for the job would, so a page prints the same every time.
    wce::srand(1);
    TakeMessageBox();
    SetLastError(0);
    std::u16string wport = Utf8ToWide(port);
    std::u16string printer = Utf8ToWide(settings.model->printerKey);
    HDC dc = CreateDCW(nullptr, printer.c_str(), wport.c_str(), &dm);
    if (!dc) {
        DWORD why = GetLastError();
        std::string box = TakeMessageBox();
        char code[32];
        std::snprintf(code, sizeof code, " (error %u)", unsigned(why));
        *reason = "the printer's port " + port + " does not open" +
                  (box.empty() ? "" : ": " + box) + code;
        return nullptr;
    }
    job->dc_ = dc;
    job->width_ = GetDeviceCaps(dc, HORZRES);
    job->height_ = GetDeviceCaps(dc, VERTRES);
    std::u16string name = Utf8ToWide(documentName);
    DOCINFOW doc{int(sizeof(DOCINFOW)), name.c_str(), nullptr, nullptr, 0};
    if (StartDocW(dc, &doc) <= 0) {
        *reason = job->Failure("the start of the document");
        return nullptr;
    }
    job->inDoc_ = true;
    return job;
}

EngineJob::~EngineJob() {
    if (dc_) {
        if (inDoc_) AbortDoc(Dc(dc_));
        DeleteDC(Dc(dc_));
    }
}

std::string EngineJob::Failure(const std::string& what) {
    std::string box = TakeMessageBox();
    char code[32];
    std::snprintf(code, sizeof code, " (error %u)", unsigned(GetLastError()));
    return "sending " + what + " to the printer on " + port_ + " failed" +
           (box.empty() ? "" : ": " + box) + code;
}

bool EngineJob::StartPage(std::string* reason) {
    // The driver sends a page when the next one starts, so this is where the previous
    // page's send can fail.
    SetLastError(0);
    if (wce::StartPage(Dc(dc_)) > 0) {
        ++pages_;
        return true;
    }
    *reason = Failure(pages_ ? "page " + std::to_string(pages_) : std::string("the first page"));
    return false;
}

// The grey page goes to the engine from memory, as an 8-bit bitmap of 256 greys: no file
// and no bitmap object between the job and the printer's page. A bitmap's scan lines are
// whole DWORDs; a page of another width is copied into such lines first.
bool EngineJob::EndPage(const std::uint8_t* grey, size_t size, int width, int height, int left,
                        std::string* reason) {
    if (width <= 0 || height <= 0 || size < size_t(width) * size_t(height)) {
        *reason = "page " + std::to_string(pages_) + " of " + std::to_string(width) + "x" +
                  std::to_string(height) + " dots cannot be made into a bitmap";
        return false;
    }
    const size_t stride = (size_t(width) + 3) & ~size_t(3);
    if (stride != size_t(width)) {
        aligned_.resize(stride * size_t(height));
        for (int y = 0; y < height; ++y)
            std::memcpy(&aligned_[size_t(y) * stride], grey + size_t(y) * size_t(width),
                        size_t(width));
        grey = aligned_.data();
    }
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info{};
    info.header.biSize = sizeof info.header;
    info.header.biWidth = width;
    info.header.biHeight = -height;  // top line first
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biCompression = BI_RGB;
    info.header.biClrUsed = 256;
    for (int i = 0; i < 256; ++i) info.colours[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    int drawWidth = std::min(width_, width - left);
    int drawHeight = std::min(height_, height);
    bool drawn = drawWidth <= 0 ||
                 SetDIBitsToDevice(Dc(dc_), 0, 0, DWORD(drawWidth), DWORD(drawHeight), left, 0, 0,
                                   UINT(height), grey, reinterpret_cast<const BITMAPINFO*>(&info),
                                   DIB_RGB_COLORS) > 0;
    if (!drawn) {
        *reason = "page " + std::to_string(pages_) + " cannot be drawn";
        return false;
    }
    SetLastError(0);
    if (wce::EndPage(Dc(dc_)) <= 0) {
        *reason = Failure("page " + std::to_string(pages_));
        return false;
    }
    return true;
}

bool EngineJob::EndDrawnPage(std::string* reason) {
    SetLastError(0);
    if (wce::EndPage(Dc(dc_)) > 0) return true;
    *reason = Failure("page " + std::to_string(pages_));
    return false;
}

bool EngineJob::Finish(bool cancelled, std::string* reason) {
    inDoc_ = false;
    if (cancelled) return AbortDoc(Dc(dc_)) > 0;
    SetLastError(0);
    if (EndDoc(Dc(dc_)) > 0) return true;
    *reason = Failure(pages_ > 1 ? "the last page" : std::string("the page"));
    return false;
}

}  // namespace qxapp
