// Drawing and input details of the icon push button.
#include "icon_button.h"

using namespace wce;

IconButton::IconButton()
    : background_(GetSysColor(COLOR_BTNFACE)),
      textColour_(GetSysColor(COLOR_BTNTEXT)),
      backgroundBrush_(CreateSolidBrush(background_)) {}

IconButton::~IconButton() {
    if (icon_) DestroyIcon(icon_);
    DeleteObject(backgroundBrush_);
}

void IconButton::SetIcon(UINT resourceId, int width, int height) {
    if (icon_) DestroyIcon(icon_);
    // Loaded at its own size; the size given places it.
    icon_ =
        static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, 0, 0, 0));
    iconWidth_ = width;
    iconHeight_ = height;
    Invalidate();
}

void IconButton::Set3D(bool on) {
    threeD_ = on;
    Invalidate();
}

void IconButton::OnAttached() {
    // The template's default push button keeps its role; the button draws itself.
    default_ = (GetStyle() & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    DefWindowProc(BM_SETSTYLE, BS_OWNERDRAW, TRUE);
}

LRESULT IconButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case BM_SETSTYLE:
            // The dialog manager moves the default role; the button stays owner-drawn.
            default_ = (wParam & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
            DefWindowProc(BM_SETSTYLE, (wParam & ~WPARAM(BS_TYPEMASK)) | BS_OWNERDRAW, lParam);
            if (lParam) Invalidate();
            return 0;
        case WM_GETDLGCODE:
            return DefWindowProc(message, wParam, lParam) |
                   (default_ ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
        case WM_LBUTTONDBLCLK:
            // A quick second tap is one more tap, not a double click.
            return WindowProc(WM_LBUTTONDOWN, wParam, lParam);
        case WM_LBUTTONDOWN:
            pressed_ = true;
            return DefWindowProc(message, wParam, lParam);
        case WM_ENABLE: {
            LRESULT result = DefWindowProc(message, wParam, lParam);
            if (!wParam) {
                // A disabled button passes the focus on, whoever had it.
                HWND parent = GetParent();
                HWND next = GetNextDlgTabItem(parent, Handle(), FALSE);
                wce::SetFocus(next && next != Handle() ? next : parent);
            }
            Invalidate();
            return result;
        }
    }
    return DefWindowProc(message, wParam, lParam);
}

bool IconButton::OnReflectedCommand(WORD code) {
    if (code == BN_CLICKED) pressed_ = false;
    return false;  // the dialog handles the click as for any push button
}

HBRUSH IconButton::OnCtlColor(HDC, UINT) {
    return GetStockObject(NULL_BRUSH);
}

void IconButton::DrawFrame(HDC dc, const RECT& r, COLORREF topLeft, COLORREF bottomRight) {
    HBRUSH tl = CreateSolidBrush(topLeft);
    HBRUSH br = CreateSolidBrush(bottomRight);
    int cx = r.right - r.left, cy = r.bottom - r.top;
    RECT top{r.left, r.top, r.left + cx - 1, r.top + 1};
    RECT left{r.left, r.top, r.left + 1, r.top + cy - 1};
    RECT right{r.right - 1, r.top, r.right, r.bottom};
    RECT bottom{r.left, r.bottom - 1, r.right, r.bottom};
    FillRect(dc, &top, tl);
    FillRect(dc, &left, tl);
    FillRect(dc, &right, br);
    FillRect(dc, &bottom, br);
    DeleteObject(tl);
    DeleteObject(br);
}

void IconButton::DrawCaption(HDC dc, const std::u16string& caption, RECT area, bool disabled) {
    constexpr UINT kFormat = DT_WORDBREAK | DT_CENTER;
    RECT measured = area;
    DrawTextW(dc, caption.c_str(), -1, &measured, kFormat | DT_CALCRECT);
    OffsetRect(&measured, ((area.right - area.left) - (measured.right - measured.left)) / 2,
               ((area.bottom - area.top) - (measured.bottom - measured.top)) / 2);
    if (disabled) {
        OffsetRect(&measured, 1, 1);
        SetTextColor(dc, GetSysColor(COLOR_3DHILIGHT));
        DrawTextW(dc, caption.c_str(), -1, &measured, kFormat);
        OffsetRect(&measured, -1, -1);
        SetTextColor(dc, GetSysColor(COLOR_3DSHADOW));
        DrawTextW(dc, caption.c_str(), -1, &measured, kFormat);
    } else {
        SetTextColor(dc, textColour_);
        SetBkColor(dc, background_);
        DrawTextW(dc, caption.c_str(), -1, &measured, kFormat);
    }
}

void IconButton::DrawItem(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    pressed_ = item.itemState & ODS_SELECTED;
    focused_ = item.itemState & ODS_FOCUS;
    disabled_ = item.itemState & ODS_DISABLED;
    SetBkMode(dc, TRANSPARENT);

    RECT r = item.rcItem;
    if (focused_ || default_) {
        DrawFrame(dc, r, RGB(0, 0, 0), RGB(0, 0, 0));
        InflateRect(&r, -1, -1);
    }
    FillRect(dc, &r, backgroundBrush_);
    if (threeD_) {
        COLORREF light = GetSysColor(COLOR_3DHILIGHT), shadow = GetSysColor(COLOR_3DSHADOW);
        if (pressed_)
            DrawFrame(dc, r, shadow, light);
        else
            DrawFrame(dc, r, light, shadow);
    }

    WCHAR text[256] = {};
    GetWindowTextW(Handle(), text, 256);
    std::u16string caption(text);
    RECT captionArea = item.rcItem;
    if (icon_) {
        int x = item.rcItem.left + 3;
        int y = item.rcItem.top + ((item.rcItem.bottom - item.rcItem.top) - iconHeight_) / 2;
        if (caption.empty())
            x = item.rcItem.left + ((item.rcItem.right - item.rcItem.left) - iconWidth_) / 2;
        else
            captionArea.left = item.rcItem.left + iconWidth_ + 3;
        if (pressed_) ++x, ++y;
        DrawIconEx(dc, x, y, icon_, 0, 0, 0, nullptr, DI_NORMAL);  // at its own size
    }
    if (!caption.empty()) {
        if (pressed_) OffsetRect(&captionArea, 1, 1);
        DrawCaption(dc, caption, captionArea, disabled_);
    }
    if (focused_) {
        RECT focus = r;
        InflateRect(&focus, -3, -3);
        DrawFocusRect(dc, &focus);
    }
}
