// What each window class does with its messages, as the Windows classes do.
#include <algorithm>

#include "wce/text.h"
#include "window.h"

namespace wce::ui {

namespace {

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    auto fold = [](char16_t c) -> char16_t {
        return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
    };
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = fold(a[i]), y = fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

LRESULT CopyText(const std::u16string& text, WPARAM maxCount, LPARAM buffer) {
    auto* out = reinterpret_cast<LPWSTR>(buffer);
    if (!out || maxCount == 0) return 0;
    size_t n = std::min(text.size(), size_t(maxCount) - 1);
    text.copy(out, n);
    out[n] = 0;
    return LRESULT(n);
}

LRESULT SetText(HWND w, LPARAM text) {
    auto* in = reinterpret_cast<LPCWSTR>(text);
    w->text = in ? std::u16string(in) : std::u16string();
    Changed(w, Change::Text);
    return TRUE;
}

DWORD ButtonType(HWND w) {
    return w->style & BS_TYPEMASK;
}

bool IsCheckType(DWORD type) {
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
           type == BS_AUTO3STATE || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

LRESULT ButtonProc(HWND w, UINT message, WPARAM wParam, LPARAM) {
    DWORD type = ButtonType(w);
    switch (message) {
        case WM_GETDLGCODE:
            if (type == BS_PUSHBUTTON) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
            if (type == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
            if (type == BS_GROUPBOX) return DLGC_STATIC;
            if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
                return DLGC_BUTTON | DLGC_RADIOBUTTON;
            return DLGC_BUTTON;
        case BM_GETCHECK:
            return w->check;
        case BM_SETCHECK:
            if (IsCheckType(type) && w->check != int(wParam & 3)) {
                w->check = int(wParam & 3);
                Changed(w, Change::Check);
            }
            return 0;
        case BM_GETSTATE:
            return w->check | (w->pushed ? BST_PUSHED : 0) | (GetFocus() == w ? BST_FOCUS : 0);
        case BM_SETSTATE:
            if (w->pushed != (wParam != 0)) {
                w->pushed = wParam != 0;
                Changed(w, Change::Pushed);
            }
            return 0;
        case BM_SETSTYLE:
            w->style = (w->style & ~BS_TYPEMASK) | (DWORD(wParam) & BS_TYPEMASK);
            Changed(w, Change::Style);
            return 0;
        case BM_CLICK:
            SendMessageW(w, WM_LBUTTONDOWN, 0, 0);
            SendMessageW(w, WM_LBUTTONUP, 0, 0);
            return 0;
        case WM_LBUTTONDBLCLK:
            // Owner-drawn, radio and notifying buttons report the double click as such;
            // the others take it as one more press.
            if (type == BS_OWNERDRAW || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON ||
                (w->style & BS_NOTIFY)) {
                Notify(w, BN_DOUBLECLICKED);
                return 0;
            }
            [[fallthrough]];
        case WM_LBUTTONDOWN:
            if (type == BS_GROUPBOX) return 0;
            SetFocus(w);
            SendMessageW(w, BM_SETSTATE, TRUE, 0);
            return 0;
        case WM_LBUTTONUP: {
            if (!w->pushed) return 0;
            SendMessageW(w, BM_SETSTATE, FALSE, 0);
            if (type == BS_AUTOCHECKBOX)
                SendMessageW(w, BM_SETCHECK, w->check ? BST_UNCHECKED : BST_CHECKED, 0);
            else if (type == BS_AUTO3STATE)
                SendMessageW(w, BM_SETCHECK, WPARAM((w->check + 1) % 3), 0);
            else if (type == BS_AUTORADIOBUTTON)
                SendMessageW(w, BM_SETCHECK, BST_CHECKED, 0);
            Notify(w, BN_CLICKED);
            return 0;
        }
        case WM_SETFOCUS:
            if (w->style & BS_NOTIFY) Notify(w, BN_SETFOCUS);
            return 0;
        case WM_KILLFOCUS:
            if (w->pushed) SendMessageW(w, BM_SETSTATE, FALSE, 0);
            if (w->style & BS_NOTIFY) Notify(w, BN_KILLFOCUS);
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_SPACE) SendMessageW(w, BM_CLICK, 0, 0);
            return 0;
    }
    return 0;
}

LRESULT EditProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_GETDLGCODE:
            return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
        case EM_LIMITTEXT:
            w->limit = wParam == 0 ? 0x7FFFFFFE : UINT(wParam);
            return 0;
        case EM_GETLIMITTEXT:
            return LRESULT(w->limit);
        case EM_SETSEL:
        case EM_GETSEL:
            return 0;
        case WM_SETTEXT:
            SetText(w, lParam);
            Notify(w, EN_UPDATE);
            Notify(w, EN_CHANGE);
            return TRUE;
        case WM_SETFOCUS:
            Notify(w, EN_SETFOCUS);
            return 0;
        case WM_KILLFOCUS:
            Notify(w, EN_KILLFOCUS);
            return 0;
        case WM_LBUTTONDOWN:
            SetFocus(w);
            return 0;
    }
    return 0;
}

LRESULT StaticProc(HWND w, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_GETDLGCODE:
            return DLGC_STATIC;
        case STM_SETICON: {
            HICON old = w->icons[ICON_BIG];
            w->icons[ICON_BIG] = reinterpret_cast<HICON>(wParam);
            Changed(w, Change::Icon);
            return reinterpret_cast<LRESULT>(old);
        }
        case STM_GETICON:
            return reinterpret_cast<LRESULT>(w->icons[ICON_BIG]);
        case WM_LBUTTONDOWN:
            if (w->style & SS_NOTIFY) Notify(w, STN_CLICKED);
            return 0;
    }
    return 0;
}

// Insertion shared by the list and the combo box: sorted lists find the place of the
// text (ignoring case), others append.
LRESULT AddItem(HWND w, LPARAM text, bool sorted) {
    auto* in = reinterpret_cast<LPCWSTR>(text);
    std::u16string item = in ? std::u16string(in) : std::u16string();
    size_t at = w->items.size();
    if (sorted) {
        at = size_t(std::upper_bound(w->items.begin(), w->items.end(), item,
                                     [](const std::u16string& a, const std::u16string& b) {
                                         return CompareNoCase(a, b) < 0;
                                     }) -
                    w->items.begin());
    }
    w->items.insert(w->items.begin() + std::ptrdiff_t(at), std::move(item));
    if (w->selection >= int(at)) ++w->selection;
    Changed(w, Change::Items);
    return LRESULT(at);
}

LRESULT InsertItem(HWND w, WPARAM index, LPARAM text) {
    auto* in = reinterpret_cast<LPCWSTR>(text);
    int at = int(index);
    if (at == -1 || index == WPARAM(-1)) at = int(w->items.size());
    if (at < 0 || at > int(w->items.size())) return LB_ERR;
    w->items.insert(w->items.begin() + at, in ? std::u16string(in) : std::u16string());
    if (w->selection >= at) ++w->selection;
    Changed(w, Change::Items);
    return at;
}

LRESULT DeleteItem(HWND w, WPARAM index) {
    if (index >= w->items.size()) return LB_ERR;
    int at = int(index);
    w->items.erase(w->items.begin() + at);
    if (w->selection == at)
        w->selection = -1;
    else if (w->selection > at)
        --w->selection;
    Changed(w, Change::Items);
    return LRESULT(w->items.size());
}

LRESULT FindExact(HWND w, WPARAM startAfter, LPARAM text) {
    auto* in = reinterpret_cast<LPCWSTR>(text);
    if (!in || w->items.empty()) return LB_ERR;
    int n = int(w->items.size());
    int start = (startAfter == WPARAM(-1) || int(startAfter) >= n) ? -1 : int(startAfter);
    for (int step = 1; step <= n; ++step) {
        int i = (start + step) % n;
        if (CompareNoCase(w->items[size_t(i)], in) == 0) return i;
    }
    return LB_ERR;
}

LRESULT FindPrefix(HWND w, WPARAM startAfter, LPARAM text) {
    auto* in = reinterpret_cast<LPCWSTR>(text);
    if (!in || w->items.empty()) return LB_ERR;
    std::u16string_view prefix(in);
    int n = int(w->items.size());
    int start = (startAfter == WPARAM(-1) || int(startAfter) >= n) ? -1 : int(startAfter);
    for (int step = 1; step <= n; ++step) {
        int i = (start + step) % n;
        const std::u16string& item = w->items[size_t(i)];
        if (item.size() >= prefix.size() &&
            CompareNoCase(std::u16string_view(item).substr(0, prefix.size()), prefix) == 0)
            return i;
    }
    return LB_ERR;
}

void Select(HWND w, int index) {
    if (w->selection == index) return;
    w->selection = index;
    if (w->kind == ControlClass::ComboBox) {
        w->text = index >= 0 ? w->items[size_t(index)] : std::u16string();
        Changed(w, Change::Text);
    }
    Changed(w, Change::Selection);
}

LRESULT ListProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_GETDLGCODE:
            return DLGC_WANTARROWS | DLGC_WANTCHARS;
        case LB_ADDSTRING:
            return AddItem(w, lParam, (w->style & LBS_SORT) != 0);
        case LB_INSERTSTRING:
            return InsertItem(w, wParam, lParam);
        case LB_DELETESTRING:
            return DeleteItem(w, wParam);
        case LB_RESETCONTENT:
            w->items.clear();
            w->selection = -1;
            Changed(w, Change::Items);
            return 0;
        case LB_GETCOUNT:
            return LRESULT(w->items.size());
        case LB_GETCURSEL:
            return w->selection;
        case LB_SETCURSEL: {
            // -1 clears the selection; any other index out of range is an error that
            // also clears it, as Windows does.
            int index = int(wParam);
            if (index < -1 || index >= int(w->items.size())) {
                Select(w, -1);
                return LB_ERR;
            }
            Select(w, index);
            return index == -1 ? LB_ERR : index;
        }
        case LB_GETSEL:
            return wParam < w->items.size() ? (int(wParam) == w->selection ? 1 : 0) : LB_ERR;
        case LB_GETTEXT:
            if (wParam >= w->items.size() || !lParam) return LB_ERR;
            return CopyText(w->items[wParam], w->items[wParam].size() + 1, lParam);
        case LB_GETTEXTLEN:
            return wParam < w->items.size() ? LRESULT(w->items[wParam].size()) : LB_ERR;
        case LB_FINDSTRINGEXACT:
            return FindExact(w, wParam, lParam);
        case LB_FINDSTRING:
            return FindPrefix(w, wParam, lParam);
        case LB_SELECTSTRING: {
            LRESULT at = FindPrefix(w, wParam, lParam);
            if (at != LB_ERR) Select(w, int(at));
            return at;
        }
        case LB_GETTOPINDEX:
            return 0;
        case LB_SETTOPINDEX:
            return wParam < w->items.size() || w->items.empty() ? 0 : LB_ERR;
        case WM_SETFOCUS:
            if (w->style & LBS_NOTIFY) Notify(w, LBN_SETFOCUS);
            return 0;
        case WM_KILLFOCUS:
            if (w->style & LBS_NOTIFY) Notify(w, LBN_KILLFOCUS);
            return 0;
        case WM_LBUTTONDOWN:
            SetFocus(w);
            return 0;
    }
    return 0;
}

LRESULT ComboProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    bool hasEdit = (w->style & 3) == CBS_DROPDOWN || (w->style & 3) == CBS_SIMPLE;
    switch (message) {
        case WM_GETDLGCODE:
            return DLGC_WANTARROWS | DLGC_WANTCHARS;
        case CB_ADDSTRING:
            return AddItem(w, lParam, (w->style & CBS_SORT) != 0);
        case CB_INSERTSTRING:
            return InsertItem(w, wParam, lParam);
        case CB_DELETESTRING:
            return DeleteItem(w, wParam);
        case CB_RESETCONTENT:
            w->items.clear();
            w->selection = -1;
            if (hasEdit || !w->text.empty()) {
                w->text.clear();
                Changed(w, Change::Text);
            }
            Changed(w, Change::Items);
            return CB_OKAY;
        case CB_GETCOUNT:
            return LRESULT(w->items.size());
        case CB_GETCURSEL:
            return w->selection;
        case CB_SETCURSEL: {
            int index = int(wParam);
            if (index < -1 || index >= int(w->items.size())) {
                Select(w, -1);
                return CB_ERR;
            }
            Select(w, index);
            return index == -1 ? CB_ERR : index;
        }
        case CB_GETLBTEXT:
            if (wParam >= w->items.size() || !lParam) return CB_ERR;
            return CopyText(w->items[wParam], w->items[wParam].size() + 1, lParam);
        case CB_GETLBTEXTLEN:
            return wParam < w->items.size() ? LRESULT(w->items[wParam].size()) : CB_ERR;
        case CB_FINDSTRINGEXACT:
            return FindExact(w, wParam, lParam);
        case CB_FINDSTRING:
            return FindPrefix(w, wParam, lParam);
        case CB_SELECTSTRING: {
            LRESULT at = FindPrefix(w, wParam, lParam);
            if (at != CB_ERR) Select(w, int(at));
            return at;
        }
        case CB_LIMITTEXT:
            w->limit = wParam == 0 ? 0x7FFFFFFE : UINT(wParam);
            return TRUE;
        case CB_SHOWDROPDOWN:
            return TRUE;
        case CB_GETDROPPEDSTATE:
            return FALSE;
        case WM_SETTEXT:
            if (!hasEdit) {
                // A drop-down list shows only its items: the text must be one of them.
                LRESULT at = FindExact(w, WPARAM(-1), lParam);
                if (at == CB_ERR) return CB_ERR;
                Select(w, int(at));
                return TRUE;
            }
            return SetText(w, lParam);
        case WM_SETFOCUS:
            Notify(w, CBN_SETFOCUS);
            return 0;
        case WM_KILLFOCUS:
            Notify(w, CBN_KILLFOCUS);
            return 0;
        case WM_LBUTTONDOWN:
            SetFocus(w);
            return 0;
    }
    return 0;
}

LRESULT DialogProc(HWND w, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case DM_GETDEFID:
            return w->defId ? MAKELRESULT(WORD(w->defId), DC_HASDEFID) : 0;
        case DM_SETDEFID: {
            w->defId = int(wParam);
            FollowFocusWithDefault(w, w->focus);
            return TRUE;
        }
        case WM_CLOSE:
            // The close box is the Cancel button.
            SendMessageW(w, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(w, IDCANCEL)));
            return 0;
        case WM_NEXTDLGCTL: {
            HWND next = GetNextDlgTabItem(w, w->focus, wParam ? TRUE : FALSE);
            if (next) SetFocus(next);
            return 0;
        }
    }
    return 0;
}

}  // namespace

LRESULT ClassProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    // Messages every class answers alike.
    switch (message) {
        case WM_SETTEXT:
            if (w->kind != ControlClass::Edit && w->kind != ControlClass::ComboBox)
                return SetText(w, lParam);
            break;
        case WM_GETTEXT:
            return CopyText(w->text, wParam, lParam);
        case WM_GETTEXTLENGTH:
            return LRESULT(w->text.size());
        case WM_SETFONT:
            w->font = reinterpret_cast<HFONT>(wParam);
            Changed(w, Change::Font);
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(w->font);
        case WM_SETICON: {
            WPARAM which = wParam == ICON_BIG ? ICON_BIG : ICON_SMALL;
            HICON old = w->icons[which];
            w->icons[which] = reinterpret_cast<HICON>(lParam);
            Changed(w, Change::Icon);
            return reinterpret_cast<LRESULT>(old);
        }
    }
    if (w->isDialog) return DialogProc(w, message, wParam, lParam);
    switch (w->kind) {
        case ControlClass::Button:
            return ButtonProc(w, message, wParam, lParam);
        case ControlClass::Edit:
            return EditProc(w, message, wParam, lParam);
        case ControlClass::Static:
            return StaticProc(w, message, wParam, lParam);
        case ControlClass::ListBox:
            return ListProc(w, message, wParam, lParam);
        case ControlClass::ComboBox:
            return ComboProc(w, message, wParam, lParam);
    }
    return 0;
}

bool IsOwnerDrawn(HWND control) {
    return IsLive(control) && !control->isDialog && control->kind == ControlClass::Button &&
           (control->style & BS_TYPEMASK) == BS_OWNERDRAW;
}

}  // namespace wce::ui
