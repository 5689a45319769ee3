// Control objects, data exchange and dialogs.
#include <algorithm>

#include "wce/text.h"
#include "window.h"

namespace wce::ui {

// ---- templates ----

namespace {

ControlTemplate Make(int id, ControlClass kind, LPCWSTR text, DWORD style, short x, short y,
                     short cx, short cy) {
    return ControlTemplate{id, kind, text, style, x, y, cx, cy, 0};
}

}  // namespace

namespace rc {

ControlTemplate PushButton(int id, LPCWSTR text, short x, short y, short cx, short cy,
                           DWORD style) {
    return Make(id, ControlClass::Button, text, BS_PUSHBUTTON | WS_TABSTOP | style, x, y, cx, cy);
}
ControlTemplate DefPushButton(int id, LPCWSTR text, short x, short y, short cx, short cy,
                              DWORD style) {
    return Make(id, ControlClass::Button, text, BS_DEFPUSHBUTTON | WS_TABSTOP | style, x, y, cx,
                cy);
}
ControlTemplate AutoCheckBox(int id, LPCWSTR text, short x, short y, short cx, short cy,
                             DWORD style) {
    return Make(id, ControlClass::Button, text, BS_AUTOCHECKBOX | WS_TABSTOP | style, x, y, cx, cy);
}
ControlTemplate GroupBox(int id, LPCWSTR text, short x, short y, short cx, short cy, DWORD style) {
    return Make(id, ControlClass::Button, text, BS_GROUPBOX | style, x, y, cx, cy);
}
ControlTemplate EditText(int id, short x, short y, short cx, short cy, DWORD style) {
    return Make(id, ControlClass::Edit, nullptr, ES_LEFT | WS_BORDER | WS_TABSTOP | style, x, y, cx,
                cy);
}
ControlTemplate LText(int id, LPCWSTR text, short x, short y, short cx, short cy, DWORD style) {
    return Make(id, ControlClass::Static, text, SS_LEFT | WS_GROUP | style, x, y, cx, cy);
}
ControlTemplate RText(int id, LPCWSTR text, short x, short y, short cx, short cy, DWORD style) {
    return Make(id, ControlClass::Static, text, SS_RIGHT | WS_GROUP | style, x, y, cx, cy);
}
ControlTemplate CText(int id, LPCWSTR text, short x, short y, short cx, short cy, DWORD style) {
    return Make(id, ControlClass::Static, text, SS_CENTER | WS_GROUP | style, x, y, cx, cy);
}
ControlTemplate ComboBox(int id, short x, short y, short cx, short cy, DWORD style) {
    return Make(id, ControlClass::ComboBox, nullptr, WS_TABSTOP | style, x, y, cx, cy);
}
ControlTemplate ListBox(int id, short x, short y, short cx, short cy, DWORD style) {
    return Make(id, ControlClass::ListBox, nullptr, WS_TABSTOP | style, x, y, cx, cy);
}

}  // namespace rc

// ---- Window ----

Window::Window() = default;

Window::~Window() {
    if (IsLive(hwnd_) && hwnd_->object == this) hwnd_->object = nullptr;
}

bool Window::SubclassWindow(HWND window) {
    if (!IsLive(window) || (window->object && window->object != this)) return false;
    if (IsLive(hwnd_) && hwnd_ != window && hwnd_->object == this) hwnd_->object = nullptr;
    hwnd_ = window;
    window->object = this;
    OnAttached();
    return true;
}

bool Window::SubclassDlgItem(int id, Window* parent) {
    if (!parent || !IsLive(parent->hwnd_)) return false;
    HWND item = wce::GetDlgItem(parent->hwnd_, id);
    return item && SubclassWindow(item);
}

HWND Window::UnsubclassWindow() {
    HWND old = hwnd_;
    if (IsLive(old) && old->object == this) old->object = nullptr;
    hwnd_ = nullptr;
    return old;
}

int Window::GetDlgCtrlID() const {
    return wce::GetDlgCtrlID(hwnd_);
}
HWND Window::GetParent() const {
    return wce::GetParent(hwnd_);
}
HWND Window::GetDlgItem(int id) const {
    return wce::GetDlgItem(hwnd_, id);
}
BOOL Window::SetWindowText(std::u16string_view text) {
    std::u16string copy(text);
    return SetWindowTextW(hwnd_, copy.c_str());
}
std::u16string Window::GetWindowText() const {
    if (!IsLive(hwnd_)) return {};
    std::u16string text(size_t(GetWindowTextLengthW(hwnd_)) + 1, u'\0');
    text.resize(size_t(GetWindowTextW(hwnd_, text.data(), int(text.size()))));
    return text;
}
BOOL Window::EnableWindow(BOOL enable) {
    return wce::EnableWindow(hwnd_, enable);
}
BOOL Window::IsWindowEnabled() const {
    return wce::IsWindowEnabled(hwnd_);
}
BOOL Window::ShowWindow(int command) {
    return wce::ShowWindow(hwnd_, command);
}
BOOL Window::CenterWindow(HWND alternateOwner) {
    if (!IsLive(hwnd_) || !hwnd_->isDialog) return FALSE;
    HWND over = IsLive(alternateOwner) ? alternateOwner : hwnd_->parent;
    RECT desktop = CurrentBackend().Desktop();
    RECT area = IsLive(over) ? over->rect : desktop;
    LONG cx = hwnd_->rect.right - hwnd_->rect.left, cy = hwnd_->rect.bottom - hwnd_->rect.top;
    LONG x = area.left + (area.right - area.left - cx) / 2,
         y = area.top + (area.bottom - area.top - cy) / 2;
    x = std::max(desktop.left, std::min(x, desktop.right - cx));
    y = std::max(desktop.top, std::min(y, desktop.bottom - cy));
    hwnd_->rect = RECT{x, y, x + cx, y + cy};
    Changed(hwnd_, Change::Position);
    return TRUE;
}
HWND Window::SetFocus() {
    return wce::SetFocus(hwnd_);
}
void Window::SetFont(HFONT font, BOOL redraw) {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
}
HFONT Window::GetFont() const {
    return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
}
void Window::Invalidate() {
    InvalidateRect(hwnd_, nullptr, TRUE);
}
LRESULT Window::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return SendMessageW(hwnd_, message, wParam, lParam);
}
DWORD Window::GetStyle() const {
    return IsLive(hwnd_) ? hwnd_->style : 0;
}

LRESULT Window::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsLive(window)) return 0;
    if (window->object) return window->object->WindowProc(message, wParam, lParam);
    return ClassProc(window, message, wParam, lParam);
}

LRESULT Window::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProc(message, wParam, lParam);
}

LRESULT Window::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return IsLive(hwnd_) ? ClassProc(hwnd_, message, wParam, lParam) : 0;
}

bool Window::OnReflectedCommand(WORD) {
    return false;
}
void Window::DrawItem(const DRAWITEMSTRUCT&) {}
HBRUSH Window::OnCtlColor(HDC, UINT) {
    return nullptr;
}

// ---- controls ----

int Button::GetCheck() const {
    return int(SendMessage(BM_GETCHECK));
}
void Button::SetCheck(int check) {
    SendMessage(BM_SETCHECK, WPARAM(check));
}
UINT Button::GetState() const {
    return UINT(SendMessage(BM_GETSTATE));
}
void Button::SetState(BOOL pushed) {
    SendMessage(BM_SETSTATE, WPARAM(pushed));
}
UINT Button::GetButtonStyle() const {
    return UINT(GetStyle() & 0xFFFF);
}
void Button::SetButtonStyle(UINT style, BOOL redraw) {
    SendMessage(BM_SETSTYLE, style, redraw);
}

void Edit::LimitText(int characters) {
    SendMessage(EM_LIMITTEXT, WPARAM(characters));
}
UINT Edit::GetLimitText() const {
    return UINT(SendMessage(EM_GETLIMITTEXT));
}
void Edit::SetSel(int start, int end) {
    SendMessage(EM_SETSEL, WPARAM(start), LPARAM(end));
}

namespace {

LPARAM TextParam(const std::u16string& text) {
    return reinterpret_cast<LPARAM>(text.c_str());
}

std::u16string ItemText(const Window& w, UINT lenMessage, UINT textMessage, int index) {
    LRESULT len = w.SendMessage(lenMessage, WPARAM(index));
    if (len < 0) return {};
    std::u16string text(size_t(len) + 1, u'\0');
    LRESULT got = w.SendMessage(textMessage, WPARAM(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got < 0 ? 0 : size_t(got));
    return text;
}

}  // namespace

int ComboBox::AddString(std::u16string_view text) {
    return int(SendMessage(CB_ADDSTRING, 0, TextParam(std::u16string(text))));
}
int ComboBox::InsertString(int index, std::u16string_view text) {
    return int(SendMessage(CB_INSERTSTRING, WPARAM(index), TextParam(std::u16string(text))));
}
int ComboBox::DeleteString(UINT index) {
    return int(SendMessage(CB_DELETESTRING, index));
}
void ComboBox::ResetContent() {
    SendMessage(CB_RESETCONTENT);
}
int ComboBox::GetCount() const {
    return int(SendMessage(CB_GETCOUNT));
}
int ComboBox::GetCurSel() const {
    return int(SendMessage(CB_GETCURSEL));
}
int ComboBox::SetCurSel(int index) {
    return int(SendMessage(CB_SETCURSEL, WPARAM(index)));
}
std::u16string ComboBox::GetLBText(int index) const {
    return ItemText(*this, CB_GETLBTEXTLEN, CB_GETLBTEXT, index);
}
int ComboBox::FindStringExact(int startAfter, std::u16string_view text) const {
    return int(
        SendMessage(CB_FINDSTRINGEXACT, WPARAM(startAfter), TextParam(std::u16string(text))));
}

int ListBox::AddString(std::u16string_view text) {
    return int(SendMessage(LB_ADDSTRING, 0, TextParam(std::u16string(text))));
}
int ListBox::InsertString(int index, std::u16string_view text) {
    return int(SendMessage(LB_INSERTSTRING, WPARAM(index), TextParam(std::u16string(text))));
}
int ListBox::DeleteString(UINT index) {
    return int(SendMessage(LB_DELETESTRING, index));
}
void ListBox::ResetContent() {
    SendMessage(LB_RESETCONTENT);
}
int ListBox::GetCount() const {
    return int(SendMessage(LB_GETCOUNT));
}
int ListBox::GetCurSel() const {
    return int(SendMessage(LB_GETCURSEL));
}
int ListBox::SetCurSel(int index) {
    return int(SendMessage(LB_SETCURSEL, WPARAM(index)));
}
std::u16string ListBox::GetText(int index) const {
    return ItemText(*this, LB_GETTEXTLEN, LB_GETTEXT, index);
}
int ListBox::GetTextLen(int index) const {
    return int(SendMessage(LB_GETTEXTLEN, WPARAM(index)));
}
int ListBox::FindStringExact(int startAfter, std::u16string_view text) const {
    return int(
        SendMessage(LB_FINDSTRINGEXACT, WPARAM(startAfter), TextParam(std::u16string(text))));
}

// ---- data exchange ----

DataExchange::DataExchange(Dialog& dialog, bool saving) : dialog_(dialog), saving_(saving) {}

HWND DataExchange::DialogHandle() const {
    return dialog_.Handle();
}

HWND DataExchange::Item(int id) {
    HWND item = wce::GetDlgItem(dialog_.Handle(), id);
    if (!item) {
        NKDbgPrintfW(u"data exchange: dialog %u has no control %d\r\n",
                     dialog_.Template().resourceId, id);
        Fail(id);
    }
    return item;
}

void DataExchange::Fail(int id) {
    if (!failedId_) failedId_ = id ? id : -1;
}

void DataExchange::Text(int id, std::u16string& value) {
    HWND item = Item(id);
    if (!item) return;
    if (saving_) {
        std::u16string text(size_t(GetWindowTextLengthW(item)) + 1, u'\0');
        text.resize(size_t(GetWindowTextW(item, text.data(), int(text.size()))));
        value = std::move(text);
    } else {
        SetWindowTextW(item, value.c_str());
    }
}

void DataExchange::Text(int id, WCHAR* buffer, size_t count) {
    if (!buffer || count == 0) return;
    if (saving_) {
        HWND item = Item(id);
        if (item) GetWindowTextW(item, buffer, int(std::min<size_t>(count, 0x7FFFFFFF)));
    } else {
        std::u16string value(buffer, std::find(buffer, buffer + count, u'\0'));
        Text(id, value);
    }
}

void DataExchange::Text(int id, int& value) {
    if (!saving_) {
        std::u16string text = FormatWideString(u"%d", value);
        Text(id, text);
        return;
    }
    if (!Item(id)) return;
    BOOL ok = FALSE;
    int taken = int(GetDlgItemInt(dialog_.Handle(), id, &ok, TRUE));
    if (ok)
        value = taken;
    else
        Fail(id);
}

void DataExchange::Text(int id, UINT& value) {
    if (!saving_) {
        std::u16string text = FormatWideString(u"%u", value);
        Text(id, text);
        return;
    }
    if (!Item(id)) return;
    BOOL ok = FALSE;
    UINT taken = GetDlgItemInt(dialog_.Handle(), id, &ok, FALSE);
    if (ok)
        value = taken;
    else
        Fail(id);
}

void DataExchange::Check(int id, int& state) {
    HWND item = Item(id);
    if (!item) return;
    if (saving_)
        state = int(SendMessageW(item, BM_GETCHECK, 0, 0));
    else
        SendMessageW(item, BM_SETCHECK, WPARAM(state), 0);
}

void DataExchange::ComboIndex(int id, int& index) {
    HWND item = Item(id);
    if (!item) return;
    if (saving_)
        index = int(SendMessageW(item, CB_GETCURSEL, 0, 0));
    else
        SendMessageW(item, CB_SETCURSEL, WPARAM(index), 0);
}

void DataExchange::ListIndex(int id, int& index) {
    HWND item = Item(id);
    if (!item) return;
    if (saving_)
        index = int(SendMessageW(item, LB_GETCURSEL, 0, 0));
    else
        SendMessageW(item, LB_SETCURSEL, WPARAM(index), 0);
}

void DataExchange::Control(int id, Window& control) {
    if (control.Handle()) return;
    HWND item = Item(id);
    if (item && !control.SubclassWindow(item)) Fail(id);
}

// ---- Dialog ----

Dialog::Dialog(const DialogTemplate& dialogTemplate, Window* owner)
    : template_(dialogTemplate), owner_(owner) {}

Dialog::~Dialog() {
    if (IsLive(Handle())) wce::DestroyWindow(Handle());
    if (font_) DeleteObject(font_);
}

void Dialog::AddHandler(int id, WORD code, std::function<void()> handler) {
    handlers_.push_back(Handler{id, code, std::move(handler)});
}

HWND Dialog::CreateWindows(HWND owner) {
    if (!font_)
        font_ = MakeDialogFont(template_.font ? template_.font : u"System", template_.pointSize);
    HWND dialog = NewWindow(owner, ControlClass::Static, true);
    dialog->id = int(template_.resourceId);
    dialog->style = template_.style;
    dialog->exStyle = template_.exStyle;
    dialog->text = template_.caption ? template_.caption : u"";
    dialog->font = font_;
    dialog->dialog = this;
    RECT size = DialogUnitsToPixels(font_, RECT{0, 0, template_.cx, template_.cy});
    dialog->rect = size;
    SubclassWindow(dialog);
    CurrentBackend().Created(dialog);
    SIZE base = BaseUnits(font_);
    for (const ControlTemplate& c : template_.controls) {
        HWND w = NewWindow(dialog, c.kind, false);
        w->id = c.id;
        w->style = c.style | WS_CHILD | WS_VISIBLE;
        w->exStyle = c.exStyle;
        w->text = c.text ? c.text : u"";
        w->font = font_;
        w->rect = DialogUnitsToPixels(font_, RECT{c.x, c.y, c.x + c.cx, c.y + c.cy});
        // A combo box's rectangle includes its open list; the closed box is one line.
        if (c.kind == ControlClass::ComboBox)
            w->rect.bottom = std::min<LONG>(w->rect.bottom, w->rect.top + base.cy + 8);
        if (c.kind == ControlClass::Button && (c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON &&
            !dialog->defId)
            dialog->defId = c.id;
        CurrentBackend().Created(w);
    }
    return dialog;
}

void Dialog::Initialise() {
    HWND dialog = Handle();
    HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
    LRESULT setFocus = SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), 0);
    if (!IsLive(dialog) || dialog->ended) return;
    if (setFocus) {
        first = GetNextDlgTabItem(dialog, nullptr, FALSE);
        if (first) wce::SetFocus(first);
    }
    FollowFocusWithDefault(dialog, dialog->focus);
    // A dialog is shown once initialised, whether or not its template says visible.
    dialog->style |= WS_VISIBLE;
    CurrentBackend().Shown(dialog);
}

int Dialog::DoModal() {
    if (IsLive(Handle()) || ScriptFailed()) return -1;
    HWND owner = owner_ && IsLive(owner_->Handle()) ? owner_->Handle() : FrontDialog();
    HWND dialog = CreateWindows(owner);
    dialog->modal = true;
    PushFront(dialog);
    Initialise();
    if (!dialog->ended) DriveModal(dialog);
    int result = dialog->result;
    PopFront(dialog);
    wce::DestroyWindow(dialog);
    return result;
}

BOOL Dialog::Create() {
    if (IsLive(Handle())) return FALSE;
    HWND owner = owner_ && IsLive(owner_->Handle()) ? owner_->Handle() : FrontDialog();
    // A modeless dialog is in front until a modal one comes over it.
    PushFront(CreateWindows(owner));
    Initialise();
    return TRUE;
}

BOOL Dialog::DestroyWindow() {
    return IsLive(Handle()) ? wce::DestroyWindow(Handle()) : FALSE;
}

void Dialog::EndDialog(int result) {
    wce::EndDialog(Handle(), result);
}

bool Dialog::Ended() const {
    return IsLive(Handle()) && Handle()->ended;
}

BOOL Dialog::UpdateData(BOOL saveAndValidate) {
    if (!IsLive(Handle())) return FALSE;
    DataExchange dx(*this, saveAndValidate != FALSE);
    DoDataExchange(dx);
    if (dx.Failed()) {
        if (HWND item = wce::GetDlgItem(Handle(), dx.FailedId())) wce::SetFocus(item);
        return FALSE;
    }
    return TRUE;
}

HFONT Dialog::GetDialogFont() const {
    return font_;
}
void Dialog::SetDefID(int id) {
    SendMessage(DM_SETDEFID, WPARAM(id));
}
int Dialog::GetDefID() const {
    return LOWORD(ULONG_PTR(SendMessage(DM_GETDEFID)));
}
void Dialog::SetIcon(HICON icon, BOOL big) {
    SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}
void Dialog::NextDlgCtrl() {
    SendMessage(WM_NEXTDLGCTL, 0, 0);
}
void Dialog::GotoDlgCtrl(HWND control) {
    wce::SetFocus(control);
}

BOOL Dialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void Dialog::DoDataExchange(DataExchange&) {}

void Dialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void Dialog::OnCancel() {
    EndDialog(IDCANCEL);
}

bool Dialog::DispatchCommand(WPARAM wParam, LPARAM lParam) {
    int id = LOWORD(wParam);
    if (id >= 0x8000) id -= 0x10000;  // ids such as -1 come back as 0xFFFF
    WORD code = HIWORD(wParam);
    HWND control = reinterpret_cast<HWND>(lParam);
    if (IsLive(control) && control->object && control->object != this &&
        control->object->OnReflectedCommand(code))
        return true;
    for (const Handler& h : handlers_) {
        if (h.id == id && h.code == code) {
            // The table may be the dialog's last word: copy the call, the dialog may end.
            std::function<void()> call = h.call;
            call();
            return true;
        }
    }
    if (code == BN_CLICKED && id == IDOK) {
        OnOK();
        return true;
    }
    if (code == BN_CLICKED && id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

LRESULT Dialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            DispatchCommand(wParam, lParam);
            return 0;
        case WM_DRAWITEM: {
            auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item && IsLive(item->hwndItem) && item->hwndItem->object) {
                item->hwndItem->object->DrawItem(*item);
                return TRUE;
            }
            return FALSE;
        }
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC: {
            HWND control = reinterpret_cast<HWND>(lParam);
            if (IsLive(control) && control->object && control->object != this) {
                if (HBRUSH brush =
                        control->object->OnCtlColor(reinterpret_cast<HDC>(wParam), message))
                    return reinterpret_cast<LRESULT>(brush);
            }
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
    }
    return DefWindowProc(message, wParam, lParam);
}

}  // namespace wce::ui
