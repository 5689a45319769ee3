#include "documents.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>

#include "engine_job.h"
#include "pdf_reader.h"
#include "qx_models.h"
#include "wce/gdi.h"
#include "wce/registry.h"
#include "wce/text.h"
#include "wrap.h"

namespace qxapp {

using namespace wce;

namespace {

// More text than this is no receipt: a few kilometres of paper.
constexpr size_t kMaxText = 16u << 20;

// A label no longer than the paper is wide gets a page of this length from the driver,
// which prints only the label's own length of it.
constexpr int kShortLabelPageMm = 80;

bool ReadNumber(HKEY key, LPCWSTR name, LONG& value) {
    DWORD v = 0, size = sizeof v;
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) != 0)
        return false;
    value = LONG(v);
    return true;
}

// The rows of the job's page the driver prints: all of them, except on a short label,
// where only the label's length of the page is printed. The length is the one the job
// wrote to its model's key; model B is the one whose page is 384 dots wide.
int PrintedRows(const EngineJob& job) {
    HDC dc = static_cast<HDC>(job.dc());
    if (GetDeviceCaps(dc, VERTSIZE) != kShortLabelPageMm) return job.height();
    const PrinterModel& m = job.width() == ModelB().printedDots ? ModelB() : ModelA();
    HKEY key = nullptr;
    std::u16string path = u"Printers\\" + Utf8ToWide(m.printerKey);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != 0)
        return job.height();
    LONG paperSize = 0, length = 0;
    bool ok = ReadNumber(key, u"PaperSize", paperSize);
    bool preset = false;
    for (const PaperPreset& p : m.presets)
        if (ok && p.paperSize == paperSize) length = p.height, preset = true;
    if (ok && !preset) ok = ReadNumber(key, u"PHeight", length);
    RegCloseKey(key);
    int rows = int(double(length) / m.heightUnitsPerMm / 25.4 * kDpi);
    return ok && rows >= 1 ? std::min(job.height(), rows) : job.height();
}

bool ReadBytes(const std::string& path, size_t limit, std::string* bytes, std::string* reason) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return *reason = "the document cannot be read from the spool", false;
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0) return *reason = "the document cannot be read from the spool", false;
    if (size_t(size) > limit) return *reason = "the text is longer than 16 MB", false;
    in.seekg(0);
    bytes->resize(size_t(size));
    in.read(bytes->data(), size);
    if (!in) return *reason = "the document cannot be read from the spool", false;
    return true;
}

// ---- PDF ----

// The job's page as the PDF reader's sink: each page started, drawn and ended.
class JobPages : public PdfPageSink {
  public:
    explicit JobPages(EngineJob& job) : job_(job) {}
    int width() override { return job_.width(); }
    int rows() override { return PrintedRows(job_); }
    bool Page(const std::uint8_t* grey, int width, int rows, std::string* reason) override {
        return job_.StartPage(reason) &&
               job_.EndPage(grey, size_t(width) * size_t(rows), width, rows, 0, reason);
    }

  private:
    EngineJob& job_;
};

// The reader's module, loaded on the first PDF job and kept; null with the loader's
// reason when it is missing or broken.
RenderPdf PdfReader(std::string* why) {
    static std::mutex lock;
    static RenderPdf render = nullptr;
    static std::string failure;
    std::lock_guard hold(lock);
    if (render || !failure.empty()) {
        *why = failure;
        return render;
    }
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? size_t(n) : 0);
    path = path.substr(0, path.find_last_of('/') + 1) + kPdfModule;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module) render = reinterpret_cast<RenderPdf>(::dlsym(module, kRenderPdf));
    if (!render) {
        const char* error = ::dlerror();
        failure = "PDF documents cannot be printed here: " +
                  std::string(error ? error : "the reader " + path + " cannot be loaded");
        *why = failure;
    }
    return render;
}

bool PrintPdf(EngineJob& job, const std::string& path, std::string* reason) {
    RenderPdf render = PdfReader(reason);
    if (!render) return false;
    JobPages pages(job);
    return render(path, pages, reason);
}

// ---- text ----

// Where the bytes stop being UTF-8 (or hold a NUL, which no text has), or npos. Strict:
// no overlong forms, no surrogates, nothing past U+10FFFF.
size_t FirstNonUtf8(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned c = p[i];
        if (c == 0) return i;
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len = c >= 0xC2 && c <= 0xDF   ? 2
                     : c >= 0xE0 && c <= 0xEF ? 3
                     : c >= 0xF0 && c <= 0xF4 ? 4
                                              : 0;
        if (len == 0 || i + len > n) return i;
        unsigned lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
        if (p[i + 1] < lo || p[i + 1] > hi) return i;
        for (size_t k = 2; k < len; ++k)
            if ((p[i + k] & 0xC0) != 0x80) return i;
        i += len;
    }
    return std::string::npos;
}

std::string NotUtf8(const std::string& bytes, size_t at) {
    size_t line = size_t(std::count(bytes.begin(), bytes.begin() + std::ptrdiff_t(at), '\n')) + 1;
    std::string what = bytes[at] == '\0' ? "a NUL byte" : "a byte that is not UTF-8";
    return "the text is not UTF-8: " + what + " at byte " + std::to_string(at + 1) + " (line " +
           std::to_string(line) + ")";
}

// Lines down each page as qx-print lays them: broken to the printed width, a new page
// when the next line would not fit; a text of blank lines prints one blank page.
bool DrawLines(EngineJob& job, const std::vector<std::u16string>& lines, int lineHeight,
               std::string* reason) {
    HDC dc = static_cast<HDC>(job.dc());
    int rows = PrintedRows(job);
    int y = 0;
    bool inPage = false;
    for (const auto& line : lines) {
        if (!inPage || y + lineHeight > rows) {
            if (inPage && !job.EndDrawnPage(reason)) return false;
            if (!job.StartPage(reason)) return false;
            inPage = true;
            y = 0;
        }
        TextOutW(dc, 0, y, line.c_str(), int(line.size()));
        y += lineHeight;
    }
    if (!inPage && !job.StartPage(reason)) return false;
    return job.EndDrawnPage(reason);
}

bool PrintText(EngineJob& job, const std::string& path, std::string* reason) {
    std::string bytes;
    if (!ReadBytes(path, kMaxText, &bytes, reason)) return false;
    if (bytes.empty()) return *reason = "the text file is empty", false;
    size_t bad = FirstNonUtf8(bytes);
    if (bad != std::string::npos) return *reason = NotUtf8(bytes, bad), false;
    // A byte order mark is no character to print.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    HDC dc = static_cast<HDC>(job.dc());
    HFONT font = qxprint::TextFont();
    HGDIOBJ old = SelectObject(dc, font);
    SIZE cell{};
    GetTextExtentPoint32W(dc, u"X", 1, &cell);
    int lineHeight = std::max<int>(cell.cy, 1);
    bool ok =
        DrawLines(job, qxprint::WrapText(dc, Utf8ToWide(bytes), job.width()), lineHeight, reason);
    SelectObject(dc, old);
    DeleteObject(font);
    return ok;
}

}  // namespace

bool PrintDocument(EngineJob& job, const std::string& path, const std::string& format,
                   std::string* reason) {
    if (format == kPdfFormat) return PrintPdf(job, path, reason);
    if (format == kTextFormat) return PrintText(job, path, reason);
    *reason = "documents of type " + format + " are not printed here";
    return false;
}

}  // namespace qxapp
