// Device contexts and GDI objects: creation, selection, deletion, the journal.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <mutex>
#include <set>

#include "gdi_internal.h"

namespace wce {

namespace gdi {

namespace {

std::mutex liveLock;
std::set<HDC> liveDcs;
std::set<HGDIOBJ> liveObjects;
std::mutex journalLock;
bool journalOn = false;
std::vector<GdiJournalEntry> journal;

HGDIOBJ MakeStock(int which) {
    auto* o = new HGDIOBJ__{};
    o->stock = true;
    switch (which) {
        case WHITE_BRUSH:
        case LTGRAY_BRUSH:
        case GRAY_BRUSH:
        case DKGRAY_BRUSH:
        case BLACK_BRUSH: {
            static const BYTE grey[] = {255, 192, 128, 64, 0};
            o->kind = HGDIOBJ__::Kind::Brush;
            o->colour = RGB(grey[which], grey[which], grey[which]);
            break;
        }
        case NULL_BRUSH:
            o->kind = HGDIOBJ__::Kind::Brush;
            o->nullBrush = true;
            break;
        case WHITE_PEN:
        case BLACK_PEN:
        case NULL_PEN:
            o->kind = HGDIOBJ__::Kind::Pen;
            o->colour = which == WHITE_PEN ? RGB(255, 255, 255) : 0;
            o->penStyle = which == NULL_PEN ? PS_NULL : PS_SOLID;
            break;
        default:
            o->kind = HGDIOBJ__::Kind::Font;
            o->font.lfHeight = 16;
            o->font.lfWeight = FW_BOLD;
            std::char_traits<char16_t>::copy(o->font.lfFaceName, u"System", 7);
    }
    return o;
}

}  // namespace

bool IsLiveDc(HDC dc) {
    std::lock_guard g(liveLock);
    return dc && liveDcs.count(dc);
}

bool IsLiveObject(HGDIOBJ object) {
    std::lock_guard g(liveLock);
    return object && (object->stock || liveObjects.count(object));
}

HDC NewDc(HDC__::Kind kind) {
    auto* dc = new HDC__{};
    dc->kind = kind;
    dc->font = GetStockObject(SYSTEM_FONT);
    dc->brush = GetStockObject(WHITE_BRUSH);
    dc->pen = GetStockObject(BLACK_PEN);
    std::lock_guard g(liveLock);
    liveDcs.insert(dc);
    return dc;
}

HGDIOBJ NewObject(HGDIOBJ__::Kind kind) {
    auto* o = new HGDIOBJ__{};
    o->kind = kind;
    std::lock_guard g(liveLock);
    liveObjects.insert(o);
    return o;
}

QImage* Target(HDC dc) {
    if (!IsLiveDc(dc)) return nullptr;
    switch (dc->kind) {
        case HDC__::Kind::Memory:
            return dc->bitmap ? &dc->bitmap->image : nullptr;
        case HDC__::Kind::Printer:
            return PrinterTarget(dc);
        default:
            return &dc->screen;
    }
}

void Record(const char* call, std::u16string text, RECT rect, std::vector<long> args) {
    std::lock_guard g(journalLock);
    if (journalOn) journal.push_back({call, std::move(text), rect, std::move(args)});
}

void PrepareQtEnvironment() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt wants a private runtime folder; give it one rather than a warning on every run.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        QByteArray dir = "/tmp/qx-runtime-" + QByteArray::number(uint(::getuid()));
        ::mkdir(dir.constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", dir);
    }
}

void EnsureGuiApplication() {
    if (QGuiApplication::instance()) return;
    PrepareQtEnvironment();
    static int argc = 1;
    static char name[] = "qx";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);  // lives for the process
}

}  // namespace gdi

bool StartGraphicsEarly() {
    gdi::EnsureGuiApplication();
    // Every thread is a line of /proc/self/task.
    int threads = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks))
            if (entry->d_name[0] != '.') ++threads;
        ::closedir(tasks);
    }
    return threads == 1;
}

void EnableGdiJournal(bool on) {
    std::lock_guard g(gdi::journalLock);
    gdi::journalOn = on;
}

std::vector<GdiJournalEntry> TakeGdiJournal() {
    std::lock_guard g(gdi::journalLock);
    return std::exchange(gdi::journal, {});
}

HGDIOBJ GetStockObject(int object) {
    static HGDIOBJ stock[SYSTEM_FONT + 1] = {};
    static std::once_flag once;
    std::call_once(once, [] {
        for (int i = 0; i <= SYSTEM_FONT; ++i) stock[i] = gdi::MakeStock(i);
    });
    if (object < 0 || object > SYSTEM_FONT || (object > NULL_PEN && object != SYSTEM_FONT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return stock[object];
}

HDC GetDC(HWND /*window*/) {
    HDC dc = gdi::NewDc(HDC__::Kind::Screen);
    dc->screen = QImage(1, 1, QImage::Format_RGB32);
    dc->screen.fill(Qt::white);
    return dc;
}

int ReleaseDC(HWND /*window*/, HDC dc) {
    return DeleteDC(dc) ? 1 : 0;
}

HDC CreateCompatibleDC(HDC dc) {
    if (dc && !gdi::IsLiveDc(dc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return gdi::NewDc(HDC__::Kind::Memory);
}

BOOL DeleteDC(HDC dc) {
    if (!gdi::IsLiveDc(dc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (dc->kind == HDC__::Kind::Printer) gdi::PrinterDelete(dc);
    if (dc->bitmap) dc->bitmap->selectedInto = nullptr;
    {
        std::lock_guard g(gdi::liveLock);
        gdi::liveDcs.erase(dc);
    }
    delete dc;
    return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    if (!gdi::IsLiveDc(dc) || !gdi::IsLiveObject(object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    switch (object->kind) {
        case HGDIOBJ__::Kind::Font:
            return std::exchange(dc->font, object);
        case HGDIOBJ__::Kind::Brush:
            return std::exchange(dc->brush, object);
        case HGDIOBJ__::Kind::Pen:
            return std::exchange(dc->pen, object);
        case HGDIOBJ__::Kind::Bitmap:
            // Only memory DCs take bitmaps, and a bitmap sits in one DC at a time.
            if (dc->kind != HDC__::Kind::Memory ||
                (object->selectedInto && object->selectedInto != dc))
                return nullptr;
            if (dc->bitmap) dc->bitmap->selectedInto = nullptr;
            object->selectedInto = dc;
            return std::exchange(dc->bitmap, object);
    }
    return nullptr;
}

BOOL DeleteObject(HGDIOBJ object) {
    if (!gdi::IsLiveObject(object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->stock) return TRUE;
    if (object->selectedInto) return FALSE;  // still selected: Windows refuses too
    {
        std::lock_guard g(gdi::liveLock);
        gdi::liveObjects.erase(object);
    }
    delete object;
    return TRUE;
}

HFONT CreateFontIndirectW(const LOGFONTW* font) {
    if (!font) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HGDIOBJ o = gdi::NewObject(HGDIOBJ__::Kind::Font);
    o->font = *font;
    o->font.lfFaceName[LF_FACESIZE - 1] = 0;
    gdi::Record("CreateFontIndirectW", o->font.lfFaceName, RECT{},
                {long(font->lfHeight), long(font->lfWidth), long(font->lfWeight)});
    return o;
}

HBRUSH CreateSolidBrush(COLORREF colour) {
    HGDIOBJ o = gdi::NewObject(HGDIOBJ__::Kind::Brush);
    o->colour = colour;
    return o;
}

HPEN CreatePen(int style, int width, COLORREF colour) {
    HGDIOBJ o = gdi::NewObject(HGDIOBJ__::Kind::Pen);
    o->penStyle = style;
    o->penWidth = width < 1 ? 1 : width;
    o->colour = colour;
    return o;
}

COLORREF SetTextColor(HDC dc, COLORREF colour) {
    return gdi::IsLiveDc(dc) ? std::exchange(dc->textColour, colour) : 0xFFFFFFFF;
}

COLORREF SetBkColor(HDC dc, COLORREF colour) {
    return gdi::IsLiveDc(dc) ? std::exchange(dc->bkColour, colour) : 0xFFFFFFFF;
}

int SetBkMode(HDC dc, int mode) {
    if (!gdi::IsLiveDc(dc) || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    return std::exchange(dc->bkMode, mode);
}

}  // namespace wce
