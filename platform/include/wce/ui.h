// Message boxes. MessageBoxW goes to one handler per process: a program installs the
// one that suits it (the Qt backend shows windows, a test answers from a script). The
// headless default writes the box to standard error and takes the cautious answer.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wce/types.h"

namespace wce {

struct HWND__;
using HWND = HWND__*;

// Buttons.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_RETRYCANCEL = 0x00000005;
constexpr UINT MB_TYPEMASK = 0x0000000F;
// Icons.
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_ICONMASK = 0x000000F0;
// Default button and modality.
constexpr UINT MB_DEFBUTTON1 = 0x00000000;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_DEFBUTTON3 = 0x00000200;
constexpr UINT MB_DEFBUTTON4 = 0x00000300;
constexpr UINT MB_DEFMASK = 0x00000F00;
constexpr UINT MB_APPLMODAL = 0x00000000;
constexpr UINT MB_SYSTEMMODAL = 0x00001000;
constexpr UINT MB_TASKMODAL = 0x00002000;
constexpr UINT MB_SETFOREGROUND = 0x00010000;
constexpr UINT MB_TOPMOST = 0x00040000;

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// A button's caption as Windows shows it for the code page: "OK", "Cancel"... and for
// 949 (Korean) 확인, 취소... Null for an answer no button gives.
LPCWSTR MessageBoxButtonText(int answer, UINT codePage);

// A null caption becomes "Error", as on Windows, before the handler sees it.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// The handler gets the owner, the text (never null), the caption and the style; it
// returns the answer. An empty handler restores the headless default.
using MessageBoxHandler = std::function<int(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)>;
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The headless default: the box on standard error, then Cancel where the box has it,
// else No, Abort or OK.
int HeadlessMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
int CautiousAnswer(UINT type);

// Answers message boxes from a script while it lives, and records what was shown.
// Once the script runs out it answers like the headless default.
class ScriptedMessageBoxes {
  public:
    struct Shown {
        std::u16string text;
        std::u16string caption;
        UINT type = 0;
        int answer = 0;
    };

    explicit ScriptedMessageBoxes(std::vector<int> answers = {});
    ~ScriptedMessageBoxes();  // puts the previous handler back
    ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
    ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

    void Add(int answer);
    std::vector<Shown> shown() const;
    // Called with each box before it is answered, on the thread that raised it; a test
    // can act as the user here (load paper, drain a port).
    void OnShow(std::function<void(const Shown&)> hook);

  private:
    struct Script;
    std::shared_ptr<Script> script_;
    MessageBoxHandler previous_;
};

}  // namespace wce
