// Starting a dialog program, and scripted runs.
//
// Every dialog program's main hands its arguments to RunDialogApp, which picks the
// backend, starts a scripted run when one is asked for, runs the program's body and
// returns the exit code:
//
//     int main(int argc, char** argv) {
//         return wce::ui::RunDialogApp(argc, argv, [] {
//             SetupMainDialog dialog;
//             dialog.DoModal();
//             return 0;
//         });
//     }
//
// Options it takes out of the command line (the rest stays for the program):
//   --script FILE      apply the script's lines to the dialogs and message boxes in front
//   --ui qt|headless   the backend; qt is the default (offscreen when there is no display)
//   --help, -h         prints these options and ends with 0
// The environment variables QX_UI_SCRIPT and QX_UI do the same. When the program takes
// no arguments of its own (args is null), any other argument ends it with
// kUsageExitCode and a message, before a window opens.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wce/winuser.h"

namespace wce::ui {

// Exit code of a run whose script failed (the message names the line).
constexpr int kScriptFailedExitCode = 3;
// Exit code for options RunDialogApp cannot take (a missing script file ...).
constexpr int kUsageExitCode = 2;

// args receives the arguments RunDialogApp did not take, the program's name first.
int RunDialogApp(int argc, char** argv, const std::function<int()>& body,
                 std::vector<std::string>* args = nullptr);

// The backends. The Qt one needs to start before anything is drawn; it makes the
// process's QApplication (offscreen when there is no display). False with *error set
// when it cannot start. The headless one is in place until another is chosen.
bool UseQtBackend(std::string* error = nullptr);
void UseHeadlessBackend();
const char* BackendName();
// Saves a PNG picture of one window (a dialog's client area, or one control) as the Qt
// backend shows it; empty text on success.
std::string SaveWindowPicture(HWND window, const std::string& path);

// A scripted run: while it lives, each dialog, message box and file-open dialog that
// comes to the front takes lines from the script until it closes. A line that cannot
// be applied fails the run: the failing dialog and all below it end with -1, later
// dialogs end at once, message boxes take their cautious answer.
class ScriptRun {
  public:
    // name is used in messages ("name:LINE: ...").
    ScriptRun(std::string text, std::string name = "script");
    ~ScriptRun();
    ScriptRun(const ScriptRun&) = delete;
    ScriptRun& operator=(const ScriptRun&) = delete;

    // Reads the file; null with *error set when it cannot be read.
    static std::unique_ptr<ScriptRun> FromFile(const std::string& path, std::string* error);

    // Ends the run: lines that no dialog took fail it. Returns !Failed().
    bool Finish();
    bool Failed() const;
    // "name:LINE: what went wrong: the line", empty while the run is sound.
    std::string Error() const;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace wce::ui
