// Dialog units, system colours, icons and owner drawing.
#include <QFile>
#include <QPainter>
#include <map>
#include <set>

#include "../../gdi/gdi_internal.h"
#include "wce/text.h"
#include "window.h"

namespace wce {

struct HICON__ {
    QImage image;  // ARGB32, premultiplied
};

namespace ui {

namespace {

int MulDiv(int a, int b, int c) {
    long long p = (long long)a * b;
    long long half = c / 2;
    return int(p >= 0 ? (p + half) / c : (p - half) / c);
}

std::set<HICON>& LiveIcons() {
    static std::set<HICON>* icons = new std::set<HICON>;
    return *icons;
}

std::map<HINSTANCE, std::map<UINT, QByteArray>>& IconResources() {
    static auto* resources = new std::map<HINSTANCE, std::map<UINT, QByteArray>>;
    return *resources;
}

}  // namespace

LPCWSTR DialogFace(LPCWSTR face) {
    if (!face || WideEqualsNoCase(face, u"System"))
        return GetACP() == 949 ? kKoreanDialogFace : u"System";
    return face;
}

HFONT MakeDialogFont(LPCWSTR face, WORD points, LONG weight) {
    LOGFONTW lf{};
    lf.lfHeight = -MulDiv(points ? points : 8, 96, 72);
    lf.lfWeight = weight;
    lf.lfCharSet = DEFAULT_CHARSET;
    WideCopy(lf.lfFaceName, LF_FACESIZE, DialogFace(face));
    return CreateFontIndirectW(&lf);
}

SIZE BaseUnits(HFONT font) {
    HDC screen = GetDC(nullptr);
    if (font) SelectObject(screen, font);
    static const char16_t kAlphabet[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE extent{0, 0};
    GetTextExtentPoint32W(screen, kAlphabet, 52, &extent);
    ReleaseDC(nullptr, screen);
    return SIZE{(extent.cx / 26 + 1) / 2, extent.cy};
}

RECT DialogUnitsToPixels(HFONT font, RECT units) {
    SIZE base = BaseUnits(font);
    return RECT{MulDiv(units.left, base.cx, 4), MulDiv(units.top, base.cy, 8),
                MulDiv(units.right, base.cx, 4), MulDiv(units.bottom, base.cy, 8)};
}

QImage PaintOwnerDrawn(HWND control) {
    if (!IsLive(control)) return {};
    int width = std::max<LONG>(1, control->rect.right - control->rect.left);
    int height = std::max<LONG>(1, control->rect.bottom - control->rect.top);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    SelectObject(dc, bitmap);
    RECT all{0, 0, width, height};
    FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
    if (control->font) SelectObject(dc, control->font);
    HWND parent = control->parent;
    SendMessageW(parent, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(control));
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = UINT(control->id);
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = (control->pushed ? ODS_SELECTED : 0) |
                     (IsLive(parent) && parent->focus == control ? ODS_FOCUS : 0) |
                     ((control->style & WS_DISABLED) ? ODS_DISABLED : 0);
    item.hwndItem = control;
    item.hDC = dc;
    item.rcItem = all;
    SendMessageW(parent, WM_DRAWITEM, WPARAM(control->id), reinterpret_cast<LPARAM>(&item));
    QImage picture = bitmap->image.copy();
    DeleteDC(dc);
    DeleteObject(bitmap);
    return picture;
}

}  // namespace ui

// ---- system colours ----

COLORREF GetSysColor(int index) {
    static const COLORREF kColours[] = {
        RGB(192, 192, 192),  // scroll bar
        RGB(0, 128, 128),    // desktop
        RGB(0, 0, 128),      // active caption
        RGB(128, 128, 128),  // inactive caption
        RGB(192, 192, 192),  // menu
        RGB(255, 255, 255),  // window
        RGB(0, 0, 0),        // window frame
        RGB(0, 0, 0),        // menu text
        RGB(0, 0, 0),        // window text
        RGB(255, 255, 255),  // caption text
        RGB(192, 192, 192),  // active border
        RGB(192, 192, 192),  // inactive border
        RGB(128, 128, 128),  // application workspace
        RGB(0, 0, 128),      // highlight
        RGB(255, 255, 255),  // highlight text
        RGB(192, 192, 192),  // button face
        RGB(128, 128, 128),  // button shadow
        RGB(128, 128, 128),  // grey text
        RGB(0, 0, 0),        // button text
        RGB(192, 192, 192),  // inactive caption text
        RGB(255, 255, 255),  // button highlight
        RGB(0, 0, 0),        // 3-D dark shadow
        RGB(223, 223, 223),  // 3-D light
        RGB(0, 0, 0),        // tooltip text
        RGB(255, 255, 225),  // tooltip background
    };
    if (index < 0 || index >= int(std::size(kColours))) return 0;
    return kColours[index];
}

HBRUSH GetSysColorBrush(int index) {
    static HBRUSH brushes[COLOR_INFOBK + 1] = {};
    if (index < 0 || index > COLOR_INFOBK) return nullptr;
    if (!brushes[index]) brushes[index] = CreateSolidBrush(GetSysColor(index));
    return brushes[index];
}

// ---- icons ----

BOOL RegisterIconResource(HINSTANCE module, UINT id, const BYTE* png, size_t size) {
    if (!png || size == 0 || size > (64u << 20)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ui::IconResources()[module][id] =
        QByteArray(reinterpret_cast<const char*>(png), qsizetype(size));
    return TRUE;
}

void UnregisterIconResources(HINSTANCE module) {
    ui::IconResources().erase(module);
}

HANDLE LoadImageW(HINSTANCE module, LPCWSTR name, UINT type, int cx, int cy, UINT flags) {
    if (type != IMAGE_ICON || !name || cx < 0 || cy < 0) {
        SetLastError(type != IMAGE_ICON ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    gdi::EnsureGuiApplication();
    QImage image;
    if (flags & LR_LOADFROMFILE) {
        if (IS_INTRESOURCE(name)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        QString path = QString::fromStdU16String(name);
        if (!QFile::exists(path)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        image.load(path);
    } else {
        if (!IS_INTRESOURCE(name)) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);  // icons are known by number only
            return nullptr;
        }
        auto table = ui::IconResources().find(module);
        UINT id = UINT(reinterpret_cast<ULONG_PTR>(name));
        if (table == ui::IconResources().end() || !table->second.count(id)) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return nullptr;
        }
        image.loadFromData(table->second[id]);
    }
    if (image.isNull()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (cx == 0 && cy == 0 && (flags & LR_DEFAULTSIZE)) cx = cy = 32;
    if (cx == 0) cx = image.width();
    if (cy == 0) cy = image.height();
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (cx != image.width() || cy != image.height())
        image = image.scaled(cx, cy, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    auto* icon = new HICON__{std::move(image)};
    ui::LiveIcons().insert(icon);
    return icon;
}

HICON LoadIconW(HINSTANCE module, LPCWSTR name) {
    return static_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
}

BOOL DestroyIcon(HICON icon) {
    if (!ui::LiveIcons().count(icon)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ui::LiveIcons().erase(icon);
    delete icon;
    return TRUE;
}

BOOL GetIconSize(HICON icon, SIZE* size) {
    if (!ui::LiveIcons().count(icon) || !size) return FALSE;
    *size = SIZE{icon->image.width(), icon->image.height()};
    return TRUE;
}

BOOL DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT, HBRUSH, UINT) {
    if (!gdi::IsLiveDc(dc) || !ui::LiveIcons().count(icon)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (cx <= 0) cx = icon->image.width();
    if (cy <= 0) cy = icon->image.height();
    gdi::Record("DrawIconEx", {}, RECT{x, y, x + cx, y + cy});
    if (QImage* target = gdi::Target(dc)) {
        QPainter painter(target);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(x, y, cx, cy), icon->image);
    }
    return TRUE;
}

BOOL DrawIcon(HDC dc, int x, int y, HICON icon) {
    return DrawIconEx(dc, x, y, icon, 0, 0, 0, nullptr, DI_NORMAL);
}

// ---- the window manager's drawing helpers ----

BOOL DrawFocusRect(HDC dc, const RECT* rect) {
    if (!gdi::IsLiveDc(dc) || !rect) return FALSE;
    gdi::Record("DrawFocusRect", {}, *rect);
    QImage* target = gdi::Target(dc);
    if (!target || rect->right <= rect->left || rect->bottom <= rect->top) return TRUE;
    // Every other pixel of the outline is inverted, so a second call takes it away.
    auto invert = [target](int x, int y) {
        if (x < 0 || y < 0 || x >= target->width() || y >= target->height() || ((x + y) & 1))
            return;
        target->setPixel(x, y, target->pixel(x, y) ^ 0x00FFFFFF);
    };
    for (int x = rect->left; x < rect->right; ++x) {
        invert(x, rect->top);
        if (rect->bottom - 1 != rect->top) invert(x, rect->bottom - 1);
    }
    for (int y = rect->top + 1; y < rect->bottom - 1; ++y) {
        invert(rect->left, y);
        if (rect->right - 1 != rect->left) invert(rect->right - 1, y);
    }
    return TRUE;
}

BOOL InflateRect(RECT* rect, int dx, int dy) {
    if (!rect) return FALSE;
    rect->left -= dx;
    rect->right += dx;
    rect->top -= dy;
    rect->bottom += dy;
    return TRUE;
}

BOOL OffsetRect(RECT* rect, int dx, int dy) {
    if (!rect) return FALSE;
    rect->left += dx;
    rect->right += dx;
    rect->top += dy;
    rect->bottom += dy;
    return TRUE;
}

BOOL SetRect(RECT* rect, int left, int top, int right, int bottom) {
    if (!rect) return FALSE;
    *rect = RECT{left, top, right, bottom};
    return TRUE;
}

BOOL PtInRect(const RECT* rect, POINT point) {
    return rect && point.x >= rect->left && point.x < rect->right && point.y >= rect->top &&
           point.y < rect->bottom;
}

}  // namespace wce
