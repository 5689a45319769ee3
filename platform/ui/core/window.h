// The framework's windows and the backend interface (private to platform/ui).
#pragma once

#include <QImage>
#include <functional>
#include <string>
#include <vector>

#include "wce/dialog.h"

namespace wce {

struct HWND__ {
    ui::ControlClass kind = ui::ControlClass::Static;
    bool isDialog = false;
    int id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::u16string text;
    RECT rect{};  // pixels: a control's in its dialog's client area, a dialog's on the desktop
    HWND parent = nullptr;  // a control's dialog; a dialog's owner
    std::vector<HWND> children;
    ui::Window* object = nullptr;  // the bound control object
    HFONT font = nullptr;
    HICON icons[2] = {nullptr, nullptr};  // ICON_SMALL, ICON_BIG

    // Buttons.
    int check = 0;
    bool pushed = false;
    // Edits (and a combo box's edit field).
    UINT limit = 0x7FFFFFFE;
    // Lists and combo boxes.
    std::vector<std::u16string> items;
    int selection = -1;

    // Dialogs.
    ui::Dialog* dialog = nullptr;
    int defId = 0;
    bool modal = false;
    bool ended = false;
    int result = 0;
    HWND focus = nullptr;  // the control with the focus while the dialog is active

    void* peer = nullptr;  // the backend's widget
};

namespace ui {

// What changed in a window, for the backend to show.
enum class Change {
    Text,
    Enabled,
    Visible,
    Check,
    Pushed,
    Items,
    Selection,
    Focus,
    Style,
    Font,
    Icon,
    Redraw,
    Position
};

// A message box, or a file-open dialog, in front while a script or the user answers it.
struct BoxRequest {
    enum class Kind { Message, File } kind = Kind::Message;
    HWND owner = nullptr;
    std::u16string text;
    std::u16string caption;
    UINT type = 0;
    FileRequest file;
    // The answer.
    bool answered = false;
    int answer = 0;
    std::u16string path;
    void* peer = nullptr;
};

class Backend {
  public:
    virtual ~Backend() = default;
    virtual const char* Name() const = 0;
    // The desktop's work area in pixels; headless, the handheld's 240 x 320 screen.
    virtual RECT Desktop() const { return RECT{0, 0, 240, 320}; }
    virtual void Created(HWND /*window*/) {}
    virtual void Destroyed(HWND /*window*/) {}
    virtual void Changed(HWND /*window*/, Change /*what*/) {}
    virtual void Shown(HWND /*dialog*/) {}
    // Runs the dialog until it ends; false when the backend has nobody to ask.
    virtual bool RunModalLoop(HWND /*dialog*/) { return false; }
    virtual void ModalEnded(HWND /*dialog*/) {}
    // Asks the user; false when the backend has nobody to ask.
    virtual bool Ask(BoxRequest& /*box*/) { return false; }
    // For scripted runs: show the box without waiting, and take it away.
    virtual void ShowBox(BoxRequest& /*box*/) {}
    virtual void HideBox(BoxRequest& /*box*/) {}
    // Lets the windows catch up (paint, lay out) before a script looks at them.
    virtual void Settle() {}
    // Saves a picture of the dialog or box in front; empty text on success.
    virtual std::string Screenshot(HWND /*dialog*/, BoxRequest* /*box*/,
                                   const std::string& /*path*/) {
        return "screenshots need the Qt backend (--ui qt)";
    }
};

// The headless backend is in place until another is installed; null puts it back.
void SetBackend(Backend* backend);
Backend& CurrentBackend();

// Window bookkeeping (windows.cpp).
bool IsLive(HWND window);
HWND NewWindow(HWND parent, ControlClass kind, bool isDialog);
void Notify(HWND control, WORD code);  // WM_COMMAND to the control's dialog
void Changed(HWND window, Change what);
HWND DialogOf(HWND window);  // the dialog a control sits in, or the dialog itself
// The dialog manager's default button following the focus.
void FollowFocusWithDefault(HWND dialog, HWND focus);

// Class procedures (controls.cpp).
LRESULT ClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Owner drawing: asks the dialog to draw the control into a picture of its size, which
// starts filled with the dialog's background.
QImage PaintOwnerDrawn(HWND control);
bool IsOwnerDrawn(HWND control);
// Dialog units to pixels with the dialog font's base units.
RECT DialogUnitsToPixels(HFONT font, RECT units);
SIZE BaseUnits(HFONT font);
// Korean dialogs draw "System" in a Hangul font, so that their base units, and with
// them every label and button, are measured in the font their texts are shown in.
inline constexpr const char16_t* kKoreanDialogFace = u"NanumSquareRound";
LPCWSTR DialogFace(LPCWSTR face);
HFONT MakeDialogFont(LPCWSTR face, WORD points, LONG weight = FW_NORMAL);

// Modal runs and what is in front (modal.cpp).
void PushFront(HWND dialog);
void PopFront(HWND dialog);
// Lets the script, the modal hook or the backend's user act until the dialog ends.
void DriveModal(HWND dialog);
// Shows a message box or file dialog until it is answered; returns the answer.
int RunBox(BoxRequest& box);
// The message-box handler a backend or a script puts in place.
int FrameworkMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
// The innermost dialog or box.
struct Front {
    HWND dialog = nullptr;
    BoxRequest* box = nullptr;
};
Front CurrentFront();

// The scripted run in force, if any (script.cpp): takes lines for the front until it
// closes; false when there is no script.
bool ScriptDrives(HWND dialog, BoxRequest* box);
bool ScriptFailed();

}  // namespace ui
}  // namespace wce
