// Modal dialogs, message boxes and the file-open dialog: who answers them.
#include <algorithm>
#include <variant>

#include "wce/commdlg.h"
#include "wce/dialogapp.h"
#include "wce/text.h"
#include "window.h"

namespace wce {
namespace ui {

namespace {

// The dialogs and boxes in front, innermost last.
std::vector<std::variant<HWND, BoxRequest*>>& FrontStack() {
    static auto* stack = new std::vector<std::variant<HWND, BoxRequest*>>;
    return *stack;
}

ModalHook& Hook() {
    static ModalHook* hook = new ModalHook;
    return *hook;
}

FileDialogHandler& FileHandler() {
    static FileDialogHandler* handler = new FileDialogHandler;
    return *handler;
}

DWORD& CommDlgError() {
    static thread_local DWORD error = 0;
    return error;
}

void Unanswered(HWND dialog) {
    NKDbgPrintfW(u"[dialog] %u \"%s\": nobody to answer it, cancelled\r\n", unsigned(dialog->id),
                 dialog->text.c_str());
    EndDialog(dialog, IDCANCEL);
}

}  // namespace

void PushFront(HWND dialog) {
    FrontStack().push_back(dialog);
}

void PopFront(HWND dialog) {
    auto& stack = FrontStack();
    for (size_t i = stack.size(); i-- > 0;) {
        if (std::holds_alternative<HWND>(stack[i]) && std::get<HWND>(stack[i]) == dialog) {
            stack.erase(stack.begin() + std::ptrdiff_t(i));
            return;
        }
    }
}

Front CurrentFront() {
    auto& stack = FrontStack();
    Front front;
    for (size_t i = stack.size(); i-- > 0;) {
        if (std::holds_alternative<BoxRequest*>(stack[i])) {
            if (!front.box && !front.dialog) front.box = std::get<BoxRequest*>(stack[i]);
        } else if (!front.dialog) {
            front.dialog = std::get<HWND>(stack[i]);
            break;
        }
    }
    return front;
}

void DriveModal(HWND dialog) {
    if (ScriptDrives(dialog, nullptr)) return;
    if (Hook()) {
        ModalHook hook = Hook();
        hook(dialog);
        if (IsLive(dialog) && !dialog->ended) Unanswered(dialog);
        return;
    }
    if (CurrentBackend().RunModalLoop(dialog)) return;
    if (IsLive(dialog) && !dialog->ended) Unanswered(dialog);
}

int RunBox(BoxRequest& box) {
    FrontStack().push_back(&box);
    bool answered = ScriptDrives(nullptr, &box);
    if (!answered && box.kind == BoxRequest::Kind::File && FileHandler()) {
        FileDialogHandler handler = FileHandler();
        answered = true;
        box.answer = handler(box.file, box.path) ? IDOK : IDCANCEL;
    }
    if (!answered) answered = CurrentBackend().Ask(box);
    if (!answered) {
        if (box.kind == BoxRequest::Kind::Message) {
            box.answer =
                HeadlessMessageBox(box.owner, box.text.c_str(), box.caption.c_str(), box.type);
        } else {
            NKDbgPrintfW(u"[file dialog] nobody to answer it, cancelled\r\n");
            box.answer = IDCANCEL;
        }
    }
    auto& stack = FrontStack();
    stack.erase(std::remove(stack.begin(), stack.end(), std::variant<HWND, BoxRequest*>(&box)),
                stack.end());
    return box.answer;
}

// Message boxes of the whole process come here once a backend or a script is in place.
int FrameworkMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    BoxRequest box;
    box.kind = BoxRequest::Kind::Message;
    box.owner = owner;
    box.text = text;
    box.caption = caption;
    box.type = type;
    return RunBox(box);
}

HWND FrontDialog() {
    return CurrentFront().dialog;
}

ModalHook SetModalHook(ModalHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) {
    return std::exchange(FileHandler(), std::move(handler));
}

// ---- FileDialog ----

FileDialog::FileDialog(BOOL, LPCWSTR defaultExtension, LPCWSTR fileName, DWORD flags,
                       LPCWSTR filter, Window* parent)
    : defaultExtension_(defaultExtension ? defaultExtension : u""),
      path_(fileName ? fileName : u""),
      filter_(filter ? filter : u""),
      flags_(flags),
      parent_(parent) {}

std::u16string FileDialog::FilterPairs(std::u16string_view barFilter) {
    std::u16string pairs(barFilter);
    for (char16_t& c : pairs)
        if (c == u'|') c = u'\0';
    // Zero-terminated pairs ended by an empty text: "||" at the end gives the two zeros.
    if (pairs.size() < 2 || pairs[pairs.size() - 1] != 0 || pairs[pairs.size() - 2] != 0)
        pairs.append(2, u'\0');
    return pairs;
}

int FileDialog::DoModal() {
    std::u16string pairs = FilterPairs(filter_);
    std::u16string buffer(1024, u'\0');
    WideCopy(buffer.data(), buffer.size(), path_);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = parent_ ? parent_->Handle() : nullptr;
    ofn.lpstrFilter = filter_.empty() ? nullptr : pairs.c_str();
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = DWORD(buffer.size());
    ofn.Flags = flags_;
    ofn.lpstrDefExt = defaultExtension_.empty() ? nullptr : defaultExtension_.c_str();
    if (!GetOpenFileNameW(&ofn)) return IDCANCEL;
    path_.assign(buffer.c_str());
    return IDOK;
}

std::u16string FileDialog::GetFileName() const {
    size_t slash = path_.find_last_of(u"/\\");
    return slash == path_.npos ? path_ : path_.substr(slash + 1);
}

}  // namespace ui

BOOL GetOpenFileNameW(OPENFILENAMEW* dialog) {
    ui::CommDlgError() = 0;
    if (!dialog || dialog->lStructSize == 0) {
        ui::CommDlgError() = CDERR_STRUCTSIZE;
        return FALSE;
    }
    if (!dialog->lpstrFile || dialog->nMaxFile == 0) {
        ui::CommDlgError() = CDERR_INITIALIZATION;
        return FALSE;
    }
    ui::BoxRequest box;
    box.kind = ui::BoxRequest::Kind::File;
    box.owner = dialog->hwndOwner;
    box.caption = dialog->lpstrTitle ? dialog->lpstrTitle : u"Open";
    box.file.title = box.caption;
    if (dialog->lpstrFilter) {
        // Pairs up to the empty text that ends them.
        const WCHAR* p = dialog->lpstrFilter;
        while (*p) {
            size_t n = WideLength(p);
            box.file.filter.append(p, n + 1);
            p += n + 1;
        }
        box.file.filter.push_back(u'\0');
    }
    box.file.initialName =
        std::u16string(dialog->lpstrFile,
                       std::find(dialog->lpstrFile, dialog->lpstrFile + dialog->nMaxFile, u'\0'));
    box.file.flags = dialog->Flags;
    if (ui::RunBox(box) != IDOK) return FALSE;
    std::u16string path = box.path;
    // The default extension is added to a name that has none.
    size_t slash = path.find_last_of(u'/');
    if (dialog->lpstrDefExt && *dialog->lpstrDefExt &&
        path.find(u'.', slash == path.npos ? 0 : slash) == path.npos)
        path += u"." + std::u16string(dialog->lpstrDefExt);
    if (path.size() + 1 > dialog->nMaxFile) {
        ui::CommDlgError() = FNERR_BUFFERTOOSMALL;
        if (dialog->nMaxFile >= 2) {
            dialog->lpstrFile[0] = WCHAR(path.size() + 1);
            dialog->lpstrFile[1] = 0;
        }
        return FALSE;
    }
    WideCopy(dialog->lpstrFile, dialog->nMaxFile, path);
    slash = path.find_last_of(u'/');
    size_t nameAt = slash == path.npos ? 0 : slash + 1;
    dialog->nFileOffset = WORD(nameAt);
    size_t dot = path.find_last_of(u'.');
    dialog->nFileExtension = WORD(dot != path.npos && dot >= nameAt ? dot + 1 : path.size());
    if (dialog->lpstrFileTitle && dialog->nMaxFileTitle)
        WideCopy(dialog->lpstrFileTitle, dialog->nMaxFileTitle,
                 std::u16string_view(path).substr(nameAt));
    return TRUE;
}

DWORD CommDlgExtendedError() {
    return ui::CommDlgError();
}

}  // namespace wce

namespace wce::ui {

void UseHeadlessBackend() {
    SetBackend(nullptr);
    MessageBoxHandler current = SetMessageBoxHandler(nullptr);
    using Plain = int (*)(HWND, LPCWSTR, LPCWSTR, UINT);
    // Keep a handler someone else put in place (a test's scripted answers).
    if (!(current && current.target<Plain>() && *current.target<Plain>() == FrameworkMessageBox))
        SetMessageBoxHandler(std::move(current));
}

const char* BackendName() {
    return CurrentBackend().Name();
}

}  // namespace wce::ui
