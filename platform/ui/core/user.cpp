// What a user does with the mouse and keyboard, as messages to the framework's windows.
#include "wce/text.h"
#include "window.h"

namespace wce::ui::user {

namespace {

std::string Name(HWND control) {
    return "control " + std::to_string(control->id);
}

// Why the user cannot reach the control now, or empty.
std::string Unreachable(HWND control) {
    if (!IsLive(control)) return "no such control";
    Front front = CurrentFront();
    if (front.box) return "a message box is in front";
    HWND dialog = DialogOf(control);
    if (!dialog || dialog != front.dialog) return Name(control) + " is not in the dialog in front";
    if (control == dialog) return {};
    if (!IsWindowVisible(control)) return Name(control) + " is hidden";
    if (!IsWindowEnabled(control)) return Name(control) + " is disabled";
    return {};
}

bool Ended(HWND dialog) {
    return !IsLive(dialog) || dialog->ended;
}

}  // namespace

std::string Click(HWND control) {
    if (std::string why = Unreachable(control); !why.empty()) return why;
    if (control->isDialog) return "a dialog is not clicked";
    if (control->kind == ControlClass::Button && (control->style & BS_TYPEMASK) == BS_GROUPBOX)
        return Name(control) + " is a group box";
    SendMessageW(control, WM_LBUTTONDOWN, 0, 0);
    if (IsLive(control)) SendMessageW(control, WM_LBUTTONUP, 0, 0);
    return {};
}

std::string DoubleClick(HWND control) {
    if (std::string why = Unreachable(control); !why.empty()) return why;
    if (control->isDialog) return "a dialog is not clicked";
    HWND dialog = DialogOf(control);
    // Windows sends down, up, double-click, up.
    SendMessageW(control, WM_LBUTTONDOWN, 0, 0);
    if (IsLive(control)) SendMessageW(control, WM_LBUTTONUP, 0, 0);
    if (Ended(dialog) || !IsLive(control) || !IsWindowEnabled(control)) return {};
    if (control->kind == ControlClass::ListBox) {
        if (control->style & LBS_NOTIFY) Notify(control, LBN_DBLCLK);
        return {};
    }
    SendMessageW(control, WM_LBUTTONDBLCLK, 0, 0);
    if (IsLive(control)) SendMessageW(control, WM_LBUTTONUP, 0, 0);
    return {};
}

std::string Type(HWND control, std::u16string_view text) {
    if (std::string why = Unreachable(control); !why.empty()) return why;
    bool editable = control->kind == ControlClass::Edit ||
                    (control->kind == ControlClass::ComboBox &&
                     ((control->style & 3) == CBS_DROPDOWN || (control->style & 3) == CBS_SIMPLE));
    if (!editable) return Name(control) + " takes no typing";
    if (control->kind == ControlClass::Edit && (control->style & ES_READONLY))
        return Name(control) + " is read-only";
    SetFocus(control);
    // What the keyboard could not add beyond the field's limit is refused, as it is.
    std::u16string typed(text.substr(0, std::min<size_t>(text.size(), control->limit)));
    bool cut = typed.size() < text.size();
    control->text = typed;
    Changed(control, Change::Text);
    if (control->kind == ControlClass::Edit) {
        Notify(control, EN_UPDATE);
        Notify(control, EN_CHANGE);
        if (cut) Notify(control, EN_MAXTEXT);
    } else {
        control->selection = -1;
        Changed(control, Change::Selection);
        Notify(control, CBN_EDITUPDATE);
        Notify(control, CBN_EDITCHANGE);
    }
    return {};
}

std::string Select(HWND control, int index) {
    if (std::string why = Unreachable(control); !why.empty()) return why;
    if (control->kind != ControlClass::ComboBox && control->kind != ControlClass::ListBox)
        return Name(control) + " is not a list";
    if (index < 0 || index >= int(control->items.size()))
        return Name(control) + " has no item " + std::to_string(index) + " (it has " +
               std::to_string(control->items.size()) + ")";
    SetFocus(control);
    bool combo = control->kind == ControlClass::ComboBox;
    SendMessageW(control, combo ? CB_SETCURSEL : LB_SETCURSEL, WPARAM(index), 0);
    if (combo) {
        Notify(control, CBN_SELCHANGE);
        if (IsLive(control)) Notify(control, CBN_SELENDOK);
    } else if (control->style & LBS_NOTIFY) {
        Notify(control, LBN_SELCHANGE);
    }
    return {};
}

std::string SetCheck(HWND control, int state) {
    if (std::string why = Unreachable(control); !why.empty()) return why;
    DWORD type = control->style & BS_TYPEMASK;
    if (control->kind != ControlClass::Button ||
        (type != BS_AUTOCHECKBOX && type != BS_AUTO3STATE && type != BS_AUTORADIOBUTTON))
        return Name(control) + " is not a check box the user can tick";
    if (state < 0 || state > (type == BS_AUTO3STATE ? 2 : 1))
        return "no such check state " + std::to_string(state);
    for (int clicks = 0; clicks < 3 && IsLive(control) && control->check != state; ++clicks) {
        std::string why = Click(control);
        if (!why.empty()) return why;
    }
    if (IsLive(control) && control->check != state)
        return Name(control) + " does not take state " + std::to_string(state);
    return {};
}

std::string Focus(HWND control) {
    if (std::string why = Unreachable(control); !why.empty()) return why;
    SetFocus(control);
    return {};
}

std::string Key(HWND dialog, UINT virtualKey, bool shift) {
    if (std::string why = Unreachable(dialog); !why.empty()) return why;
    if (!dialog->isDialog) return "keys go to a dialog";
    HWND focus = dialog->focus;
    switch (virtualKey) {
        case VK_TAB: {
            HWND next = GetNextDlgTabItem(dialog, focus, shift ? TRUE : FALSE);
            if (next) SetFocus(next);
            return {};
        }
        case VK_ESCAPE:
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
            return {};
        case VK_RETURN: {
            // The focused push button, else the default one, else IDOK.
            LRESULT code = IsLive(focus) ? SendMessageW(focus, WM_GETDLGCODE, 0, 0) : 0;
            HWND target = nullptr;
            if (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON))
                target = focus;
            else if (LRESULT def = SendMessageW(dialog, DM_GETDEFID, 0, 0);
                     HIWORD(ULONG_PTR(def)) == DC_HASDEFID)
                target = GetDlgItem(dialog, short(LOWORD(ULONG_PTR(def))));
            if (target && !IsWindowEnabled(target)) return {};
            int id = target ? target->id : IDOK;
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(WORD(id), BN_CLICKED),
                         reinterpret_cast<LPARAM>(target));
            return {};
        }
        case VK_SPACE:
            if (IsLive(focus)) SendMessageW(focus, WM_KEYDOWN, VK_SPACE, 0);
            return {};
    }
    return "no such key";
}

std::string Close(HWND dialog) {
    if (std::string why = Unreachable(dialog); !why.empty()) return why;
    if (!dialog->isDialog) return "only a dialog has a close button";
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    return {};
}

std::string CaptionOk(HWND dialog) {
    if (std::string why = Unreachable(dialog); !why.empty()) return why;
    if (!dialog->isDialog) return "only a dialog has a caption";
    if (!(dialog->exStyle & WS_EX_CAPTIONOKBTN))
        return "the dialog has no OK button in its caption";
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return {};
}

}  // namespace wce::ui::user
