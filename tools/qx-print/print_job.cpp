#include "print_job.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "protocol/models.h"
#include "wce/gdi.h"
#include "wce/registry.h"
#include "wce/text.h"
#include "wrap.h"

namespace qxprint {

using namespace wce;

namespace {

struct Input {
    std::string path;
    bool image = false;
    HBITMAP bitmap = nullptr;
    std::u16string text;
};

bool HasImageMagic(const std::string& head) {
    static const char* const kMagic[] = {"\x89PNG", "\xFF\xD8\xFF", "GIF87a", "GIF89a", "BM"};
    for (const char* m : kMagic)
        if (head.compare(0, std::strlen(m), m) == 0) return true;
    return false;
}

bool IsUtf8Text(const std::string& bytes) {
    if (bytes.find('\0') != std::string::npos) return false;
    return WideToUtf8(Utf8ToWide(bytes)) == bytes;
}

// Why the engine's loader refused an image, from the error it left.
const char* ImageFailure(DWORD error) {
    constexpr DWORD kFileCorrupt = 1392;  // ERROR_FILE_CORRUPT: cut short or corrupt
    if (error == kFileCorrupt) return "the image is damaged (the file is cut short or corrupt)";
    if (error == ERROR_NOT_ENOUGH_MEMORY)
        return "the image is too large to load; scale it down first";
    return "the image is damaged or of a kind that cannot be read";
}

// Reads and classifies one file; false with a message when it cannot be printed.
bool Load(Input& in) {
    std::error_code error;
    if (std::filesystem::is_directory(in.path, error)) {
        std::fprintf(stderr, "qx-print: %s: is a directory\n", in.path.c_str());
        return false;
    }
    std::ifstream file(in.path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "qx-print: %s: cannot open the file: %s\n", in.path.c_str(),
                     std::strerror(errno));
        return false;
    }
    std::stringstream all;
    all << file.rdbuf();
    std::string bytes = all.str();
    if (HasImageMagic(bytes)) {
        in.image = true;
        SetLastError(0);
        in.bitmap = SHLoadDIBitmap(Utf8ToWide(in.path).c_str());
        if (!in.bitmap)
            std::fprintf(stderr, "qx-print: %s: %s\n", in.path.c_str(),
                         ImageFailure(GetLastError()));
        return in.bitmap != nullptr;
    }
    if (!IsUtf8Text(bytes)) {
        std::fprintf(stderr,
                     "qx-print: %s: neither an image (PNG, JPEG, GIF, BMP) nor UTF-8 text\n",
                     in.path.c_str());
        return false;
    }
    in.text = Utf8ToWide(bytes);
    return true;
}

HDC OpenPrinter(const Options& o, int& status) {
    DEVMODEW dm{};
    dm.dmSize = sizeof dm;
    dm.dmSpecVersion = 0x0400;
    dm.dmOrientation = o.landscape ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
    dm.dmPaperSize = DMPAPER_LETTER;
    dm.dmCopies = 1;
    dm.dmColor = DMCOLOR_MONOCHROME;
    SetLastError(0);
    HDC dc = CreateDCW(nullptr, o.printer.empty() ? nullptr : o.printer.c_str(),
                       o.port.empty() ? nullptr : o.port.c_str(), &dm);
    if (dc) return dc;
    std::string registry = RegistryFilePath();
    DWORD why = GetLastError();
    if (why == ERROR_INVALID_PRINTER_NAME) {
        std::string name = o.printer.empty() ? "no default printer"
                                             : "no printer \"" + WideToUtf8(o.printer) + "\"";
        std::fprintf(stderr,
                     "qx-print: %s is registered in %s (a key under HKEY_LOCAL_MACHINE\\Printers "
                     "with a \"Driver\" value)\n",
                     name.c_str(), registry.c_str());
        status = kExitNoPrinter;
    } else if (why == ERROR_MOD_NOT_FOUND || why == ERROR_PROC_NOT_FOUND) {
        std::fprintf(
            stderr,
            "qx-print: the printer's driver (its \"Driver\" value in %s) cannot be loaded; "
            "it must lie beside qx-print or in $QX_DRIVER_PATH\n",
            registry.c_str());
        status = kExitNoPrinter;
    } else {
        std::string port = o.port.empty() ? "" : " \"" + WideToUtf8(o.port) + "\"";
        std::fprintf(stderr, "qx-print: the printer's port%s does not open (error %u)\n",
                     port.c_str(), unsigned(why));
        status = kExitNoPort;
    }
    return nullptr;
}

// The model of each driver: the settings key it reads whichever printer name led to it,
// the units of its "PHeight" and its preset papers. Model B's driver keeps whole
// millimetres under a key of its own.
using DriverKey = qxproto::PrinterModel;

std::u16string RegistryText(const std::u16string& keyName, LPCWSTR name);

std::u16string PrinterName(const Options& o) {
    if (!o.printer.empty()) return o.printer;
    WCHAR name[256];
    DWORD size = 256;
    return GetDefaultPrinterW(name, &size) ? std::u16string(name) : std::u16string();
}

// The key of the printer's driver: model B's for "QX250.dll", else model A's.
const DriverKey& KeyOfDriver(const Options& o) {
    std::u16string file = RegistryText(u"Printers\\" + PrinterName(o), u"Driver");
    return WideEqualsNoCase(file, qxproto::kModelB.driverFileWide) ? qxproto::kModelB
                                                                   : qxproto::kModelA;
}

bool ReadNumber(HKEY key, LPCWSTR name, LONG& value) {
    DWORD v = 0, size = sizeof v;
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) != 0)
        return false;
    value = LONG(v);
    return true;
}

// The label length in whole millimetres the driver takes from its settings: the preset
// paper's when "PaperSize" names one, else the stored "PHeight". False when it cannot be read.
bool LabelLengthMm(const DriverKey& driver, LONG& mm) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, driver.settingsKey, 0, KEY_READ, &key) != 0) return false;
    LONG paperSize = 0, length = 0;
    bool ok = ReadNumber(key, u"PaperSize", paperSize);
    if (ok && paperSize >= 1 && size_t(paperSize) < driver.papers.size())
        length = driver.papers[size_t(paperSize)].height;
    else if (ok)
        ok = ReadNumber(key, u"PHeight", length);
    RegCloseKey(key);
    mm = length / driver.heightUnitsPerMm;
    return ok;
}

// The driver reads "Copies" first of its numbers and prints that many copies; without
// the value (or its key) a fresh process keeps zero. Such a job would send nothing
// while every page seemed to print, so it is refused first, naming what is missing.
bool DriverWouldPrint(const Options& o) {
    if (RegistryText(u"Printers\\" + PrinterName(o), u"Driver").empty())
        return true;  // CreateDC tells
    const DriverKey& driver = KeyOfDriver(o);
    std::string where =
        "HKEY_LOCAL_MACHINE\\" + WideToUtf8(driver.settingsKey) + " in " + RegistryFilePath();
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, driver.settingsKey, 0, KEY_READ, &key) != 0) {
        std::fprintf(
            stderr,
            "qx-print: the driver's settings key %s is missing, so the driver would print "
            "nothing; run the settings utility once, or add the key with its \"Copies\" value\n",
            where.c_str());
        return false;
    }
    LONG copies = 0;
    bool present = ReadNumber(key, u"Copies", copies);
    RegCloseKey(key);
    if (!present) {
        std::fprintf(stderr,
                     "qx-print: the driver's settings (%s) have no \"Copies\" value, so the driver "
                     "would print nothing; add it, for example \"Copies\"=dword:00000001\n",
                     where.c_str());
        return false;
    }
    if (copies < 1) {
        std::fprintf(stderr,
                     "qx-print: the driver's settings (%s) ask for %ld copies, so the driver would "
                     "print nothing\n",
                     where.c_str(), long(copies));
        return false;
    }
    return true;
}

// The rows of each page the driver prints, out of the pageRows the engine draws. The
// device context tells the paper, except that a short label is drawn on an 80 mm page
// of which only the label's length is printed.
int PrintedRows(HDC dc, const DriverKey& driver, int pageRows) {
    LONG mm = 0;
    if (GetDeviceCaps(dc, VERTSIZE) != qxproto::kShortLabelPageMm || !LabelLengthMm(driver, mm))
        return pageRows;
    double dots = mm * qxproto::kInchesPerMm * qxproto::kDotsPerInch;
    return dots >= 1 ? std::min(pageRows, int(dots)) : pageRows;
}

class Printer {
  public:
    Printer(HDC dc, const Options& o) : dc_(dc), quiet_(o.quiet) {
        // A landscape page turns the printed rows into its width.
        width_ = GetDeviceCaps(dc, HORZRES);
        height_ = GetDeviceCaps(dc, VERTRES);
        const DriverKey& driver = KeyOfDriver(o);
        if (o.landscape)
            width_ = PrintedRows(dc, driver, width_);
        else
            height_ = PrintedRows(dc, driver, height_);
    }
    int width() const { return width_; }
    int height() const { return height_; }
    bool NewPage() {
        if (inPage_ && EndPage(dc_) <= 0) return Stopped(pages_);
        ++pages_;
        if (!quiet_) std::fprintf(stderr, "qx-print: page %d\n", pages_);
        inPage_ = StartPage(dc_) > 0;
        // The driver sends a page when the next one starts.
        return inPage_ || Stopped(std::max(pages_ - 1, 1));
    }
    bool Finish() {
        bool ok = !inPage_ || EndPage(dc_) > 0 || Stopped(pages_);
        inPage_ = false;
        return ok;
    }
    bool EndDocument() { return EndDoc(dc_) > 0 || Stopped(std::max(pages_, 1)); }
    // The page whose data the printer stopped taking (0: it did not), and the error.
    int stoppedPage() const { return stoppedPage_; }
    DWORD stopError() const { return stopError_; }
    HDC dc() const { return dc_; }

  private:
    // Keeps the first failure; false, for the caller to return.
    bool Stopped(int page) {
        if (stoppedPage_ == 0) stoppedPage_ = page, stopError_ = GetLastError();
        return false;
    }

    HDC dc_;
    bool quiet_;
    int width_ = 0, height_ = 0, pages_ = 0;
    bool inPage_ = false;
    int stoppedPage_ = 0;
    DWORD stopError_ = 0;
};

std::u16string RegistryText(const std::u16string& keyName, LPCWSTR name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, KEY_READ, &key) != 0) return {};
    WCHAR text[1024] = {};
    DWORD size = sizeof text - sizeof(WCHAR), type = 0;
    LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return result == 0 && type == REG_SZ ? std::u16string(text) : std::u16string();
}

// The port the driver prints to, for messages: the one given, else the printer's own,
// else the default port, as the driver chooses it.
std::string PortOf(const Options& o) {
    if (!o.port.empty()) return WideToUtf8(o.port);
    std::u16string port = RegistryText(u"Printers\\" + PrinterName(o), u"Port");
    if (port.empty()) port = RegistryText(u"Printers\\Ports", u"DefaultPrintPort");
    return port.empty() ? "LPT1:" : WideToUtf8(port);
}

bool PrintImage(Printer& p, const Input& in) {
    BITMAP bm{};
    GetObjectW(in.bitmap, sizeof bm, &bm);
    LONG w = bm.bmWidth, h = bm.bmHeight;
    if (w > p.width()) {  // scaled down to the paper, never up
        h = LONG(double(h) * p.width() / w + 0.5);
        w = p.width();
    }
    if (h > p.height())
        std::fprintf(stderr, "qx-print: %s: taller than the page; the bottom %ld dots are cut\n",
                     in.path.c_str(), long(h - p.height()));
    if (!p.NewPage()) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    SelectObject(mem, in.bitmap);
    bool ok = StretchBlt(p.dc(), 0, 0, w, h, mem, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

bool PrintText(Printer& p, const Input& in) {
    HFONT font = qxprint::TextFont();
    HGDIOBJ old = SelectObject(p.dc(), font);
    SIZE cell{};
    GetTextExtentPoint32W(p.dc(), u"X", 1, &cell);
    int lineHeight = std::max<int>(cell.cy, 1);
    auto lines = WrapText(p.dc(), in.text, p.width());
    int y = p.height();  // forces a first page
    bool ok = true;
    for (const auto& line : lines) {
        if (y + lineHeight > p.height()) {
            if (!(ok = p.NewPage())) break;
            y = 0;
        }
        TextOutW(p.dc(), 0, y, line.c_str(), int(line.size()));
        y += lineHeight;
    }
    if (lines.empty()) ok = p.NewPage();
    SelectObject(p.dc(), old);
    DeleteObject(font);
    return ok;
}

}  // namespace

int PrintFiles(const Options& options, const std::vector<std::string>& files) {
    std::vector<Input> inputs;
    bool allGood = true;
    for (const auto& path : files) {
        Input in;
        in.path = path;
        inputs.push_back(std::move(in));
        allGood = Load(inputs.back()) && allGood;
    }
    auto release = [&] {
        for (auto& in : inputs)
            if (in.bitmap) DeleteObject(in.bitmap);
    };
    if (!allGood) {
        release();
        return kExitBadFile;
    }
    if (!DriverWouldPrint(options)) {
        release();
        return kExitNothingToPrint;
    }
    int status = kExitOk;
    HDC dc = OpenPrinter(options, status);
    if (!dc) {
        release();
        return status;
    }
    Printer printer(dc, options);
    std::u16string name = files.size() == 1 ? Utf8ToWide(files[0]) : u"qx-print";
    DOCINFOW doc{int(sizeof(DOCINFOW)), name.c_str(), nullptr, nullptr, 0};
    bool ok = StartDocW(dc, &doc) > 0;
    for (auto& in : inputs) {
        if (!ok) break;
        ok = in.image ? PrintImage(printer, in) : PrintText(printer, in);
    }
    ok = printer.Finish() && ok;
    ok = printer.EndDocument() && ok;
    DeleteDC(dc);
    release();
    if (!ok && printer.stoppedPage() > 0) {
        std::fprintf(
            stderr,
            "qx-print: page %d: the printer on port \"%s\" stopped taking data (error %u); "
            "the rest of the job was not sent\n",
            printer.stoppedPage(), PortOf(options).c_str(), unsigned(printer.stopError()));
        return kExitPrintFailed;
    }
    if (!ok) {
        std::fprintf(stderr, "qx-print: printing failed part way; see the messages above\n");
        return kExitPrintFailed;
    }
    return kExitOk;
}

}  // namespace qxprint
