// The dialog framework: templates as data, control objects bound to the controls of a
// dialog, data exchange, a message table from (control id, notification) to member
// handlers, and modal dialogs. Everything a dialog does happens in the framework's
// windows (wce/winuser.h), so a dialog behaves the same with or without a display.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "wce/commdlg.h"
#include "wce/winuser.h"

namespace wce::ui {

// ---- templates ----

enum class ControlClass { Button, Edit, Static, ListBox, ComboBox };

// One control: rectangle in dialog units; WS_CHILD and WS_VISIBLE are always added.
struct ControlTemplate {
    int id;
    ControlClass kind;
    LPCWSTR text;  // null: no text
    DWORD style;   // class style bits with WS_ bits (WS_TABSTOP, WS_BORDER, WS_DISABLED ...)
    short x, y, cx, cy;
    DWORD exStyle = 0;
};

// A dialog: size in dialog units, font by name and points. The controls' order is the
// tab order.
struct DialogTemplate {
    UINT resourceId;
    short cx, cy;
    LPCWSTR caption;
    DWORD style;
    DWORD exStyle = 0;
    LPCWSTR font = u"System";
    WORD pointSize = 8;
    std::vector<ControlTemplate> controls;
};

// The resource compiler's statements with their default styles; extra style bits are
// added to the defaults.
namespace rc {
ControlTemplate PushButton(int id, LPCWSTR text, short x, short y, short cx, short cy,
                           DWORD style = 0);
ControlTemplate DefPushButton(int id, LPCWSTR text, short x, short y, short cx, short cy,
                              DWORD style = 0);
ControlTemplate AutoCheckBox(int id, LPCWSTR text, short x, short y, short cx, short cy,
                             DWORD style = 0);
ControlTemplate GroupBox(int id, LPCWSTR text, short x, short y, short cx, short cy,
                         DWORD style = 0);
ControlTemplate EditText(int id, short x, short y, short cx, short cy,
                         DWORD style = 0);  // + WS_BORDER, WS_TABSTOP
ControlTemplate LText(int id, LPCWSTR text, short x, short y, short cx, short cy, DWORD style = 0);
ControlTemplate RText(int id, LPCWSTR text, short x, short y, short cx, short cy, DWORD style = 0);
ControlTemplate CText(int id, LPCWSTR text, short x, short y, short cx, short cy, DWORD style = 0);
ControlTemplate ComboBox(int id, short x, short y, short cx, short cy,
                         DWORD style);                                               // + WS_TABSTOP
ControlTemplate ListBox(int id, short x, short y, short cx, short cy, DWORD style);  // + WS_TABSTOP
}  // namespace rc

constexpr int IDC_STATIC = -1;

// ---- control objects ----

// A C++ object bound to one window. Messages sent to a bound window pass through the
// object's WindowProc first, so a control class can change how the control behaves.
// The binding ends when the window is destroyed (the object stays, ready to be bound
// again the next time its dialog runs).
class Window {
  public:
    Window();
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const { return hwnd_; }
    explicit operator bool() const { return hwnd_ != nullptr; }

    // Binds this object to the control id of parent; false if there is no such control
    // or it is bound already to another object.
    bool SubclassDlgItem(int id, Window* parent);
    bool SubclassWindow(HWND window);
    HWND UnsubclassWindow();

    int GetDlgCtrlID() const;
    HWND GetParent() const;
    HWND GetDlgItem(int id) const;
    BOOL SetWindowText(std::u16string_view text);
    std::u16string GetWindowText() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int command);
    // A dialog: centred over alternateOwner, else over its owner, else on the desktop,
    // and kept on the desktop.
    BOOL CenterWindow(HWND alternateOwner = nullptr);
    HWND SetFocus();
    void SetFont(HFONT font, BOOL redraw = TRUE);
    HFONT GetFont() const;
    void Invalidate();
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    DWORD GetStyle() const;

    // Calls the object's WindowProc, or the class's own handling when none is bound.
    static LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  protected:
    // Every message to the bound window; the default hands it to DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The window's class handling (button, edit, list, dialog ...).
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Called once the object is bound.
    virtual void OnAttached() {}
    // A notification of this control, reflected by its dialog before the dialog's message
    // table sees it; true keeps it from the table.
    virtual bool OnReflectedCommand(WORD code);
    // Owner drawing, reflected by the dialog.
    virtual void DrawItem(const DRAWITEMSTRUCT& item);
    // WM_CTLCOLORBTN and the like, reflected by the dialog; null: not answered.
    virtual HBRUSH OnCtlColor(HDC dc, UINT message);

  private:
    friend class Dialog;
    friend LRESULT ReflectToObject(HWND, UINT, WPARAM, LPARAM, bool*);
    HWND hwnd_ = nullptr;
};

class Button : public Window {
  public:
    int GetCheck() const;
    void SetCheck(int check);
    UINT GetState() const;
    void SetState(BOOL pushed);
    UINT GetButtonStyle() const;
    void SetButtonStyle(UINT style, BOOL redraw = TRUE);
};

class GroupBox : public Button {};

class Edit : public Window {
  public:
    void LimitText(int characters = 0);  // 0: the largest
    UINT GetLimitText() const;
    void SetSel(int start, int end);
};

class Static : public Window {};

class ComboBox : public Window {
  public:
    int AddString(std::u16string_view text);
    int InsertString(int index, std::u16string_view text);
    int DeleteString(UINT index);
    void ResetContent();
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int index);
    std::u16string GetLBText(int index) const;
    int FindStringExact(int startAfter, std::u16string_view text) const;
};

class ListBox : public Window {
  public:
    int AddString(std::u16string_view text);
    int InsertString(int index, std::u16string_view text);
    int DeleteString(UINT index);
    void ResetContent();
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int index);
    std::u16string GetText(int index) const;
    int GetTextLen(int index) const;
    int FindStringExact(int startAfter, std::u16string_view text) const;
};

// ---- data exchange ----

class Dialog;

// Moves values between a dialog's controls and its members: into the controls
// (UpdateData(FALSE), at opening) or out of them (UpdateData(TRUE), at OK).
class DataExchange {
  public:
    DataExchange(Dialog& dialog, bool saving);
    bool Saving() const { return saving_; }
    HWND DialogHandle() const;

    void Text(int id, std::u16string& value);
    // At most count - 1 characters and a terminator; longer text is cut.
    void Text(int id, WCHAR* buffer, size_t count);
    // Decimal; text that is not a number fails the exchange and leaves value as it was.
    void Text(int id, int& value);
    void Text(int id, UINT& value);
    void Check(int id, int& state);
    void ComboIndex(int id, int& index);
    void ListIndex(int id, int& index);
    // Binds the control object the first time; a missing control fails the exchange.
    void Control(int id, Window& control);

    bool Failed() const { return failedId_ != 0; }
    int FailedId() const { return failedId_; }

  private:
    HWND Item(int id);
    void Fail(int id);
    Dialog& dialog_;
    bool saving_;
    int failedId_ = 0;
};

// ---- dialogs ----

template <class D>
struct MessageEntry {
    int id;
    WORD code;
    void (D::*handler)();
};

class Dialog : public Window {
  public:
    // The template is kept by reference: it must outlive the dialog (a static is usual).
    // owner: the dialog that runs this one, or null for the one in front.
    explicit Dialog(const DialogTemplate& dialogTemplate, Window* owner = nullptr);
    ~Dialog() override;

    // Creates the dialog, runs OnInitDialog, and returns when EndDialog is called: its
    // result, or -1 when the dialog could not be created (or a scripted run failed).
    int DoModal();
    // A modeless dialog: created and initialised, then left to its caller (tests).
    BOOL Create();
    BOOL DestroyWindow();
    void EndDialog(int result);
    bool Ended() const;

    // Runs DoDataExchange; false if a value could not be taken (the focus goes to it).
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // The dialog's own font, made from the template.
    HFONT GetDialogFont() const;
    void SetDefID(int id);
    int GetDefID() const;
    void SetIcon(HICON icon, BOOL big);
    void NextDlgCtrl();
    void GotoDlgCtrl(HWND control);
    const DialogTemplate& Template() const { return template_; }

  protected:
    // The framework's initialisation: binds and fills the controls (UpdateData(FALSE)).
    // TRUE lets the framework put the focus on the first tab stop.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(DataExchange& dx);
    // IDOK and IDCANCEL clicks not in the message table: take the values and end with
    // IDOK; end with IDCANCEL.
    virtual void OnOK();
    virtual void OnCancel();

    template <class D>
    void OnCommand(int id, WORD code, void (D::*handler)()) {
        D* self = static_cast<D*>(this);
        AddHandler(id, code, [self, handler] { (self->*handler)(); });
    }
    template <class D, size_t N>
    void SetMessageTable(const MessageEntry<D> (&table)[N]) {
        for (const MessageEntry<D>& entry : table) OnCommand(entry.id, entry.code, entry.handler);
    }
    void AddHandler(int id, WORD code, std::function<void()> handler);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    struct Handler {
        int id;
        WORD code;
        std::function<void()> call;
    };
    HWND CreateWindows(HWND owner);
    void Initialise();
    bool DispatchCommand(WPARAM wParam, LPARAM lParam);

    const DialogTemplate& template_;
    Window* owner_;
    std::vector<Handler> handlers_;
    HFONT font_ = nullptr;
};

// The common file-open dialog as programs use it: a filter of "text|pattern|...||".
class FileDialog {
  public:
    FileDialog(BOOL open, LPCWSTR defaultExtension = nullptr, LPCWSTR fileName = nullptr,
               DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCWSTR filter = nullptr,
               Window* parent = nullptr);
    int DoModal();  // IDOK or IDCANCEL
    std::u16string GetPathName() const { return path_; }
    std::u16string GetFileName() const;
    // The filter turned into the zero-separated pairs GetOpenFileNameW takes.
    static std::u16string FilterPairs(std::u16string_view barFilter);

  private:
    std::u16string defaultExtension_;
    std::u16string path_;
    std::u16string filter_;
    DWORD flags_;
    Window* parent_;
};

// ---- what a user does: the backends and scripted runs act through these ----

namespace user {
// Each returns an empty text when done, else why it could not be done ("control 1002 is
// disabled"). They act on the dialog in front and on its controls only.
std::string Click(HWND control);
std::string DoubleClick(HWND control);
std::string Type(HWND control, std::u16string_view text);  // replaces the field's text
std::string Select(HWND control, int index);               // combo or list box
std::string SetCheck(HWND control, int state);             // clicks until it shows state
std::string Focus(HWND control);
std::string Key(HWND dialog, UINT virtualKey, bool shift = false);
std::string Close(HWND dialog);      // the caption's close button
std::string CaptionOk(HWND dialog);  // the caption's OK button
}  // namespace user

// The dialog in front (the innermost modal one), or null.
HWND FrontDialog();

// Called with each dialog as it becomes modal, after its initialisation; a test acts as
// the user here. A dialog still open when the hook returns is cancelled, as one that
// nobody answers in a headless run. An empty hook removes it.
using ModalHook = std::function<void(HWND dialog)>;
ModalHook SetModalHook(ModalHook hook);

// Answers file-open dialogs in a headless run; false cancels. Without it they cancel.
struct FileRequest {
    std::u16string title;
    std::u16string filter;  // zero-separated pairs
    std::u16string initialName;
    DWORD flags;
};
using FileDialogHandler = std::function<bool(const FileRequest& request, std::u16string& path)>;
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);

}  // namespace wce::ui
