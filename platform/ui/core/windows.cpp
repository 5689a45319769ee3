// Window bookkeeping and the window calls.
#include <algorithm>
#include <mutex>
#include <set>

#include "wce/text.h"
#include "window.h"

namespace wce {
namespace ui {

namespace {

std::set<HWND>& LiveWindows() {
    static std::set<HWND>* live = new std::set<HWND>;
    return *live;
}

Backend& HeadlessBackend() {
    struct Headless : Backend {
        const char* Name() const override { return "headless"; }
    };
    static Headless* headless = new Headless;
    return *headless;
}

Backend* installed = nullptr;

}  // namespace

void SetBackend(Backend* backend) {
    installed = backend;
}
Backend& CurrentBackend() {
    return installed ? *installed : HeadlessBackend();
}

bool IsLive(HWND window) {
    return window && LiveWindows().count(window);
}

HWND NewWindow(HWND parent, ControlClass kind, bool isDialog) {
    HWND w = new HWND__;
    w->kind = kind;
    w->isDialog = isDialog;
    w->parent = parent;
    LiveWindows().insert(w);
    if (parent && !isDialog) parent->children.push_back(w);
    return w;
}

HWND DialogOf(HWND window) {
    if (!IsLive(window)) return nullptr;
    return window->isDialog ? window : window->parent;
}

void Changed(HWND window, Change what) {
    if (IsLive(window)) CurrentBackend().Changed(window, what);
}

void Notify(HWND control, WORD code) {
    if (!IsLive(control) || !control->parent) return;
    SendMessageW(control->parent, WM_COMMAND, MAKEWPARAM(WORD(control->id), code),
                 reinterpret_cast<LPARAM>(control));
}

namespace {

bool IsPushButtonCode(LRESULT code) {
    return code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON);
}

}  // namespace

void FollowFocusWithDefault(HWND dialog, HWND focus) {
    if (!IsLive(dialog) || !dialog->isDialog) return;
    HWND wanted = nullptr;
    LRESULT focusCode =
        IsLive(focus) && focus != dialog ? SendMessageW(focus, WM_GETDLGCODE, 0, 0) : 0;
    if (IsPushButtonCode(focusCode))
        wanted = focus;
    else
        wanted = GetDlgItem(dialog, dialog->defId);
    // A copy: a button's answer may change the children (it should not, but be safe).
    std::vector<HWND> children = dialog->children;
    for (HWND child : children) {
        if (!IsLive(child) || child == wanted) continue;
        if (SendMessageW(child, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON)
            SendMessageW(child, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    }
    if (IsLive(wanted) && (SendMessageW(wanted, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON))
        SendMessageW(wanted, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

}  // namespace ui

using ui::Change;
using ui::IsLive;

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsLive(window)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return ui::Window::Dispatch(window, message, wParam, lParam);
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsLive(window)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    SendMessageW(window, message, wParam, lParam);
    return TRUE;
}

BOOL IsWindow(HWND window) {
    return IsLive(window);
}

HWND GetParent(HWND window) {
    return IsLive(window) ? window->parent : nullptr;
}

HWND GetDlgItem(HWND dialog, int id) {
    if (!IsLive(dialog)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    for (HWND child : dialog->children)
        if (child->id == id) return child;
    SetLastError(1421);  // ERROR_CONTROL_ID_NOT_FOUND
    return nullptr;
}

int GetDlgCtrlID(HWND window) {
    return IsLive(window) ? window->id : 0;
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND item = GetDlgItem(dialog, id);
    return item ? SendMessageW(item, message, wParam, lParam) : 0;
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    if (!IsLive(window)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : u"")) ? TRUE
                                                                                            : FALSE;
}

int GetWindowTextW(HWND window, LPWSTR buffer, int maxCount) {
    if (!IsLive(window) || !buffer || maxCount <= 0) {
        SetLastError(IsLive(window) ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        if (buffer && maxCount > 0) buffer[0] = 0;
        return 0;
    }
    return int(
        SendMessageW(window, WM_GETTEXT, WPARAM(maxCount), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthW(HWND window) {
    return int(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    HWND item = GetDlgItem(dialog, id);
    return item ? SetWindowTextW(item, text) : FALSE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int maxCount) {
    HWND item = GetDlgItem(dialog, id);
    if (!item) {
        if (buffer && maxCount > 0) buffer[0] = 0;
        return 0;
    }
    return UINT(GetWindowTextW(item, buffer, maxCount));
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
    std::u16string text =
        isSigned ? FormatWideString(u"%d", int(value)) : FormatWideString(u"%u", value);
    return SetDlgItemTextW(dialog, id, text.c_str());
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
    if (translated) *translated = FALSE;
    HWND item = GetDlgItem(dialog, id);
    if (!item) return 0;
    std::u16string text(size_t(GetWindowTextLengthW(item)) + 1, u'\0');
    text.resize(size_t(GetWindowTextW(item, text.data(), int(text.size()))));
    size_t i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    bool negative = false;
    if (isSigned && i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    if (i == text.size() || text[i] < u'0' || text[i] > u'9') return 0;
    unsigned long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + unsigned(text[i] - u'0');
        if (value > 0xFFFFFFFFull) return 0;  // out of range: not translated
    }
    while (i < text.size() && text[i] == u' ') ++i;
    if (i != text.size()) return 0;
    if (isSigned && value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return 0;
    if (translated) *translated = TRUE;
    return negative ? UINT(-static_cast<long long>(value)) : UINT(value);
}

BOOL IsWindowEnabled(HWND window) {
    return IsLive(window) && !(window->style & WS_DISABLED);
}

BOOL IsWindowVisible(HWND window) {
    for (HWND w = window; IsLive(w); w = w->isDialog ? nullptr : w->parent) {
        if (!(w->style & WS_VISIBLE)) return FALSE;
        if (w->isDialog) return TRUE;
    }
    return FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    if (!IsLive(window)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    BOOL wasDisabled = (window->style & WS_DISABLED) ? TRUE : FALSE;
    if (bool(enable) == !wasDisabled) return wasDisabled;
    if (enable)
        window->style &= ~WS_DISABLED;
    else
        window->style |= WS_DISABLED;
    ui::Changed(window, Change::Enabled);
    // A disabled control cannot keep the focus: it goes on to the next tab item.
    HWND dialog = ui::DialogOf(window);
    if (!enable && dialog && dialog != window && dialog->focus == window) {
        HWND next = GetNextDlgTabItem(dialog, window, FALSE);
        SetFocus(next ? next : dialog);
    }
    SendMessageW(window, WM_ENABLE, enable ? TRUE : FALSE, 0);
    return wasDisabled;
}

BOOL ShowWindow(HWND window, int command) {
    if (!IsLive(window)) return FALSE;
    BOOL wasVisible = (window->style & WS_VISIBLE) ? TRUE : FALSE;
    if (command == SW_HIDE)
        window->style &= ~WS_VISIBLE;
    else
        window->style |= WS_VISIBLE;
    if (bool(wasVisible) != bool(window->style & WS_VISIBLE)) ui::Changed(window, Change::Visible);
    HWND dialog = ui::DialogOf(window);
    if (command == SW_HIDE && dialog && dialog != window && dialog->focus == window) {
        HWND next = GetNextDlgTabItem(dialog, window, FALSE);
        SetFocus(next ? next : dialog);
    }
    return wasVisible;
}

HWND GetFocus() {
    HWND dialog = ui::CurrentFront().dialog;
    return IsLive(dialog) ? (dialog->focus ? dialog->focus : dialog) : nullptr;
}

HWND SetFocus(HWND window) {
    if (!IsLive(window)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HWND dialog = ui::DialogOf(window);
    if (!dialog) return nullptr;
    // A disabled control does not take the focus.
    if (window != dialog && !IsWindowEnabled(window)) return nullptr;
    HWND previous = dialog->focus ? dialog->focus : dialog;
    HWND target = window == dialog ? nullptr : window;
    if (dialog->focus == target) return previous;
    HWND old = dialog->focus;
    dialog->focus = target;
    if (IsLive(old)) {
        SendMessageW(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
        ui::Changed(old, Change::Focus);
    }
    if (target) {
        SendMessageW(target, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
        ui::Changed(target, Change::Focus);
    } else {
        ui::Changed(dialog, Change::Focus);
    }
    ui::FollowFocusWithDefault(dialog, dialog->focus);
    return previous;
}

HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
    if (!IsLive(dialog) || !dialog->isDialog) return nullptr;
    const std::vector<HWND>& kids = dialog->children;
    if (kids.empty()) return nullptr;
    auto qualifies = [](HWND c) {
        return (c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED);
    };
    int n = int(kids.size());
    int start = -1;
    for (int i = 0; i < n; ++i)
        if (kids[size_t(i)] == control) start = i;
    if (start < 0) start = previous ? 0 : n - 1;  // no control: the first (or last) one
    for (int step = 1; step <= n; ++step) {
        int i = previous ? (start - step + n * 2) % n : (start + step) % n;
        if (qualifies(kids[size_t(i)])) return kids[size_t(i)];
    }
    return nullptr;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND item = GetDlgItem(dialog, id);
    if (!item) return FALSE;
    SendMessageW(item, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    return item ? UINT(SendMessageW(item, BM_GETCHECK, 0, 0)) : 0;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    if (!IsLive(window) || !rect) return FALSE;
    *rect =
        RECT{0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
    return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    if (!IsLive(window) || !rect) return FALSE;
    *rect = window->rect;
    if (!window->isDialog && IsLive(window->parent))
        OffsetRect(rect, window->parent->rect.left, window->parent->rect.top);
    return TRUE;
}

BOOL MapDialogRect(HWND dialog, RECT* rect) {
    if (!IsLive(dialog) || !dialog->isDialog || !rect) return FALSE;
    *rect = ui::DialogUnitsToPixels(dialog->font, *rect);
    return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
    if (!IsLive(window)) return FALSE;
    ui::Changed(window, Change::Redraw);
    return TRUE;
}

BOOL UpdateWindow(HWND window) {
    if (!IsLive(window)) return FALSE;
    ui::CurrentBackend().Settle();
    return TRUE;
}

BOOL EndDialog(HWND dialog, int result) {
    if (!IsLive(dialog) || !dialog->isDialog) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (dialog->ended) return TRUE;
    dialog->ended = true;
    dialog->result = result;
    if (dialog->modal) ui::CurrentBackend().ModalEnded(dialog);
    return TRUE;
}

BOOL DestroyWindow(HWND window) {
    if (!IsLive(window)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    SendMessageW(window, WM_DESTROY, 0, 0);
    std::vector<HWND> children = window->children;
    for (HWND child : children) DestroyWindow(child);
    ui::CurrentBackend().Destroyed(window);
    if (window->isDialog) ui::PopFront(window);
    if (window->object) window->object->UnsubclassWindow();
    if (window->isDialog && window->dialog) window->dialog = nullptr;
    if (!window->isDialog && IsLive(window->parent)) {
        auto& kids = window->parent->children;
        kids.erase(std::remove(kids.begin(), kids.end(), window), kids.end());
        if (window->parent->focus == window) window->parent->focus = nullptr;
    }
    ui::LiveWindows().erase(window);
    delete window;
    return TRUE;
}

}  // namespace wce
