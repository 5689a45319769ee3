// Scripted runs: lines applied to whichever dialog or box is in front.
#include <cstring>
#include <fstream>
#include <sstream>

#include "wce/dialogapp.h"
#include "wce/text.h"
#include "window.h"

namespace wce::ui {

struct ScriptRun::State {
    std::string name;
    std::vector<std::string> lines;
    size_t next = 0;  // index of the next line to read
    bool failed = false;
    std::string error;
    MessageBoxHandler previousHandler;

    void Fail(size_t lineIndex, const std::string& why) {
        if (failed) return;
        failed = true;
        error = name + ":" + std::to_string(lineIndex + 1) + ": " + why;
        if (lineIndex < lines.size()) error += ": " + lines[lineIndex];
    }
};

namespace {

ScriptRun::State* active = nullptr;

// A line cut into words; a word in double quotes may hold spaces and the escapes \" \\ \n \t.
struct Words {
    std::vector<std::string> words;
    std::string rest;  // what follows the second word, for `type ID TEXT`
    std::string error;
};

Words Split(const std::string& line) {
    Words out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        if (out.words.size() == 2) {
            out.rest = line.substr(i);
            while (!out.rest.empty() &&
                   (out.rest.back() == ' ' || out.rest.back() == '\t' || out.rest.back() == '\r'))
                out.rest.pop_back();
        }
        std::string word;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < line.size()) {
                    char e = line[i++];
                    word += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                } else {
                    word += c;
                }
            }
            if (!closed) out.error = "a quoted text is not closed";
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                word += line[i++];
        }
        out.words.push_back(word);
    }
    return out;
}

bool ParseInt(const std::string& text, int& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 0);
    if (*end || v < -2147483647L - 1 || v > 2147483647L) return false;
    value = int(v);
    return true;
}

std::string Quote(const std::u16string& text) {
    return "\"" + WideToUtf8(text) + "\"";
}

struct AnswerName {
    const char* name;
    int answer;
};
const AnswerName kAnswers[] = {{"ok", IDOK},       {"cancel", IDCANCEL}, {"abort", IDABORT},
                               {"retry", IDRETRY}, {"ignore", IDIGNORE}, {"yes", IDYES},
                               {"no", IDNO}};

bool BoxOffers(UINT type, int answer) {
    switch (type & MB_TYPEMASK) {
        case MB_OK:
            return answer == IDOK;
        case MB_OKCANCEL:
            return answer == IDOK || answer == IDCANCEL;
        case MB_ABORTRETRYIGNORE:
            return answer == IDABORT || answer == IDRETRY || answer == IDIGNORE;
        case MB_YESNOCANCEL:
            return answer == IDYES || answer == IDNO || answer == IDCANCEL;
        case MB_YESNO:
            return answer == IDYES || answer == IDNO;
        case MB_RETRYCANCEL:
            return answer == IDRETRY || answer == IDCANCEL;
    }
    return false;
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string ApplyToBox(const Words& w, BoxRequest& box) {
    const std::string& verb = w.words[0];
    bool file = box.kind == BoxRequest::Kind::File;
    std::string what = file ? "the file dialog" : "the message box " + Quote(box.caption);
    if (verb == "answer") {
        if (w.words.size() != 2)
            return "answer takes one button (OK, Cancel, Yes, No, Retry, Abort, Ignore, its Korean "
                   "caption or its id)";
        // A button by its English name, its Korean caption or its id.
        std::u16string given = Utf8ToWide(w.words[1]);
        int id = 0;
        bool byId = ParseInt(w.words[1], id);
        for (const AnswerName& a : kAnswers) {
            if (Lower(w.words[1]) != a.name && given != MessageBoxButtonText(a.answer, 949) &&
                !(byId && id == a.answer))
                continue;
            if (file ? a.answer != IDCANCEL : !BoxOffers(box.type, a.answer))
                return what + " has no " + w.words[1] + " button";
            box.answer = a.answer;
            box.answered = true;
            return {};
        }
        return "no such answer " + w.words[1];
    }
    if (verb == "file") {
        if (!file) return "no file dialog is in front (" + what + " is)";
        if (w.words.size() < 2) return "file takes a path";
        box.path = Utf8ToWide(w.words.size() == 2 ? w.words[1]
                              : w.rest.empty()    ? w.words[1]
                                                  : w.words[1] + " " + w.rest);
        box.answer = IDOK;
        box.answered = true;
        return {};
    }
    if (verb == "expect-message" || verb == "expect-caption") {
        if (w.words.size() != 2) return verb + " takes one quoted text";
        const std::u16string& shown = verb == "expect-message" ? box.text : box.caption;
        if (shown != Utf8ToWide(w.words[1])) return what + " shows " + Quote(shown);
        return {};
    }
    if (verb == "screenshot") {
        if (w.words.size() != 2) return "screenshot takes a file name";
        return CurrentBackend().Screenshot(nullptr, &box, w.words[1]);
    }
    return what + " is in front";
}

HWND ItemOf(HWND dialog, const std::string& word, std::string& why) {
    int id = 0;
    if (!ParseInt(word, id)) {
        why = "not a control id: " + word;
        return nullptr;
    }
    HWND item = GetDlgItem(dialog, id);
    if (!item) why = "dialog " + std::to_string(dialog->id) + " has no control " + word;
    return item;
}

std::string Expect(const Words& w, HWND dialog) {
    const std::string& verb = w.words[0];
    if (verb == "expect-caption") {
        if (w.words.size() != 2) return "expect-caption takes one quoted text";
        if (dialog->text != Utf8ToWide(w.words[1]))
            return "the dialog's caption is " + Quote(dialog->text);
        return {};
    }
    if (verb == "expect-dialog") {
        int id = 0;
        if (w.words.size() != 2 || !ParseInt(w.words[1], id))
            return "expect-dialog takes a dialog number";
        if (dialog->id != id) return "dialog " + std::to_string(dialog->id) + " is in front";
        return {};
    }
    if (w.words.size() < 2) return verb + " takes a control id";
    std::string why;
    HWND item = ItemOf(dialog, w.words[1], why);
    if (!item) return why;
    std::string name = "control " + w.words[1];
    if (verb == "expect-focus") {
        if (dialog->focus != item)
            return "the focus is on " +
                   (dialog->focus ? "control " + std::to_string(dialog->focus->id) : "the dialog");
        return {};
    }
    if (verb == "expect-text") {
        if (w.words.size() != 3) return "expect-text takes a control id and a quoted text";
        if (item->text != Utf8ToWide(w.words[2])) return name + " shows " + Quote(item->text);
        return {};
    }
    if (verb == "expect-item") {
        int index = 0;
        if (w.words.size() != 4 || !ParseInt(w.words[2], index))
            return "expect-item takes a control id, an index and a text";
        if (index < 0 || index >= int(item->items.size()))
            return name + " has no item " + w.words[2];
        if (item->items[size_t(index)] != Utf8ToWide(w.words[3]))
            return name + " item " + w.words[2] + " is " + Quote(item->items[size_t(index)]);
        return {};
    }
    int expected = 0;
    if (w.words.size() != 3 || !ParseInt(w.words[2], expected))
        return verb + " takes a control id and a number";
    int actual = 0;
    if (verb == "expect-enabled")
        actual = IsWindowEnabled(item) ? 1 : 0;
    else if (verb == "expect-visible")
        actual = IsWindowVisible(item) ? 1 : 0;
    else if (verb == "expect-checked")
        actual = int(SendMessageW(item, BM_GETCHECK, 0, 0));
    else if (verb == "expect-selected")
        actual = item->selection;
    else if (verb == "expect-count")
        actual = int(item->items.size());
    else
        return "no such command " + verb;
    if (actual != expected) return name + ": " + verb.substr(7) + " is " + std::to_string(actual);
    return {};
}

std::string ApplyToDialog(const Words& w, HWND dialog) {
    const std::string& verb = w.words[0];
    if (verb == "answer" || verb == "file" || verb == "expect-message")
        return "no message box or file dialog is in front (dialog " + std::to_string(dialog->id) +
               " is)";
    if (verb.rfind("expect-", 0) == 0) return Expect(w, dialog);
    if (verb == "screenshot") {
        if (w.words.size() != 2) return "screenshot takes a file name";
        return CurrentBackend().Screenshot(dialog, nullptr, w.words[1]);
    }
    if (verb == "close") return user::Close(dialog);
    if (verb == "caption-ok") return user::CaptionOk(dialog);
    if (verb == "key") {
        if (w.words.size() != 2) return "key takes a key name";
        std::string key = Lower(w.words[1]);
        if (key == "return" || key == "enter") return user::Key(dialog, VK_RETURN);
        if (key == "escape" || key == "esc") return user::Key(dialog, VK_ESCAPE);
        if (key == "tab") return user::Key(dialog, VK_TAB);
        if (key == "shift-tab") return user::Key(dialog, VK_TAB, true);
        if (key == "space") return user::Key(dialog, VK_SPACE);
        return "no such key " + w.words[1];
    }
    if (w.words.size() < 2)
        return verb.empty() ? "empty command" : "no such command " + verb + ", or no control id";
    std::string why;
    HWND item = ItemOf(dialog, w.words[1], why);
    if (!item) return why;
    if (verb == "click" && w.words.size() == 2) return user::Click(item);
    if (verb == "double-click" && w.words.size() == 2) return user::DoubleClick(item);
    if (verb == "focus" && w.words.size() == 2) return user::Focus(item);
    if (verb == "type")
        return user::Type(item, Utf8ToWide(w.words.size() == 3 ? w.words[2] : w.rest));
    if (verb == "check") {
        int state = 0;
        if (w.words.size() != 3 || !ParseInt(w.words[2], state))
            return "check takes a control id and 0, 1 or 2";
        return user::SetCheck(item, state);
    }
    if (verb == "select") {
        if (w.words.size() != 3) return "select takes a control id and an index or a quoted text";
        int index = 0;
        if (!ParseInt(w.words[2], index)) {
            std::u16string text = Utf8ToWide(w.words[2]);
            index = -1;
            for (size_t i = 0; i < item->items.size() && index < 0; ++i)
                if (item->items[i] == text) index = int(i);
            if (index < 0) return "control " + w.words[1] + " has no item " + Quote(text);
        }
        return user::Select(item, index);
    }
    return "no such command " + verb + " (or wrong arguments)";
}

bool IsBlank(const std::string& line) {
    size_t i = line.find_first_not_of(" \t\r");
    return i == line.npos || line[i] == '#';
}

}  // namespace

bool ScriptFailed() {
    return active && active->failed;
}

bool ScriptDrives(HWND dialog, BoxRequest* box) {
    ScriptRun::State* s = active;
    if (!s) return false;
    auto done = [&] { return box ? box->answered : (!IsLive(dialog) || dialog->ended); };
    if (box) CurrentBackend().ShowBox(*box);
    while (!done()) {
        if (s->failed) break;
        CurrentBackend().Settle();
        while (s->next < s->lines.size() && IsBlank(s->lines[s->next])) ++s->next;
        if (s->next >= s->lines.size()) {
            std::string what =
                box ? (box->kind == BoxRequest::Kind::File
                           ? std::string("a file dialog")
                           : "the message box " + Quote(box->caption))
                    : "dialog " + std::to_string(dialog->id) + " " + Quote(dialog->text);
            s->failed = true;
            s->error = s->name + ": the script ended with " + what + " still open";
            break;
        }
        size_t index = s->next++;
        Words w = Split(s->lines[index]);
        std::string why = w.error;
        if (why.empty()) why = box ? ApplyToBox(w, *box) : ApplyToDialog(w, dialog);
        if (!why.empty()) s->Fail(index, why);
    }
    if (!done()) {
        // A failed run: the dialog ends with -1, a box takes the cautious answer.
        if (box) {
            box->answer =
                box->kind == BoxRequest::Kind::File ? IDCANCEL : CautiousAnswer(box->type);
            box->answered = true;
        } else if (IsLive(dialog)) {
            EndDialog(dialog, -1);
        }
    }
    if (box) CurrentBackend().HideBox(*box);
    return true;
}

ScriptRun::ScriptRun(std::string text, std::string name) : state_(std::make_shared<State>()) {
    state_->name = std::move(name);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) state_->lines.push_back(line);
    active = state_.get();
    state_->previousHandler = SetMessageBoxHandler(FrameworkMessageBox);
}

ScriptRun::~ScriptRun() {
    if (active == state_.get()) active = nullptr;
    SetMessageBoxHandler(std::move(state_->previousHandler));
}

std::unique_ptr<ScriptRun> ScriptRun::FromFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot read the script " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return std::make_unique<ScriptRun>(text.str(), path);
}

bool ScriptRun::Finish() {
    State& s = *state_;
    while (s.next < s.lines.size() && IsBlank(s.lines[s.next])) ++s.next;
    if (!s.failed && s.next < s.lines.size())
        s.Fail(s.next, "no dialog or message box is open for this line");
    return !s.failed;
}

bool ScriptRun::Failed() const {
    return state_->failed;
}
std::string ScriptRun::Error() const {
    return state_->error;
}

}  // namespace wce::ui
