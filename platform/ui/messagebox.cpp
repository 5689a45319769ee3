// MessageBoxW and its handlers.
#include <unistd.h>

#include <deque>
#include <mutex>
#include <string>

#include "wce/text.h"
#include "wce/ui.h"

namespace wce {

namespace {

struct HandlerSlot {
    std::mutex lock;
    MessageBoxHandler handler;
};

HandlerSlot& Slot() {
    static HandlerSlot* slot = new HandlerSlot;
    return *slot;
}

const char* ButtonsName(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OK:
            return "OK";
        case MB_OKCANCEL:
            return "OK/Cancel";
        case MB_ABORTRETRYIGNORE:
            return "Abort/Retry/Ignore";
        case MB_YESNOCANCEL:
            return "Yes/No/Cancel";
        case MB_YESNO:
            return "Yes/No";
        case MB_RETRYCANCEL:
            return "Retry/Cancel";
        default:
            return "?";
    }
}

const char* AnswerName(int answer) {
    static const char* const kNames[] = {"?",     "OK",     "Cancel", "Abort",
                                         "Retry", "Ignore", "Yes",    "No"};
    return answer >= 1 && answer <= 7 ? kNames[answer] : kNames[0];
}

}  // namespace

LPCWSTR MessageBoxButtonText(int answer, UINT codePage) {
    static const char16_t* const kEnglish[] = {u"OK",     u"Cancel", u"Abort", u"Retry",
                                               u"Ignore", u"Yes",    u"No"};
    static const char16_t* const kKorean[] = {u"확인", u"취소", u"중단",  u"다시 시도",
                                              u"무시", u"예",   u"아니요"};
    if (answer < IDOK || answer > IDNO) return nullptr;
    return (codePage == 949 ? kKorean : kEnglish)[answer - IDOK];
}

int CautiousAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
        case MB_YESNOCANCEL:
        case MB_RETRYCANCEL:
            return IDCANCEL;
        case MB_ABORTRETRYIGNORE:
            return IDABORT;
        case MB_YESNO:
            return IDNO;
        default:
            return IDOK;
    }
}

int HeadlessMessageBox(HWND /*owner*/, LPCWSTR text, LPCWSTR caption, UINT type) {
    int answer = CautiousAnswer(type);
    std::string line = "[message box] " + WideToUtf8(caption) + ": " + WideToUtf8(text) + " (" +
                       ButtonsName(type) + ") -> " + AnswerName(answer) + "\n";
    // One write, so the line stays whole among other output.
    ssize_t ignored = ::write(2, line.data(), line.size());
    (void)ignored;
    return answer;
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    MessageBoxHandler handler;
    {
        HandlerSlot& slot = Slot();
        std::lock_guard guard(slot.lock);
        handler = slot.handler;
    }
    LPCWSTR shownText = text ? text : u"";
    LPCWSTR shownCaption = caption ? caption : u"Error";
    if (!handler) return HeadlessMessageBox(owner, shownText, shownCaption, type);
    return handler(owner, shownText, shownCaption, type);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    HandlerSlot& slot = Slot();
    std::lock_guard guard(slot.lock);
    MessageBoxHandler previous = std::move(slot.handler);
    slot.handler = std::move(handler);
    return previous;
}

struct ScriptedMessageBoxes::Script {
    std::mutex lock;
    std::deque<int> answers;
    std::vector<Shown> shown;
    std::function<void(const Shown&)> hook;
};

ScriptedMessageBoxes::ScriptedMessageBoxes(std::vector<int> answers)
    : script_(std::make_shared<Script>()) {
    script_->answers.assign(answers.begin(), answers.end());
    std::shared_ptr<Script> script = script_;
    previous_ = SetMessageBoxHandler([script](HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
        Shown box{text, caption, type, 0};
        std::function<void(const Shown&)> hook;
        {
            std::lock_guard guard(script->lock);
            box.answer = CautiousAnswer(type);
            if (!script->answers.empty()) {
                box.answer = script->answers.front();
                script->answers.pop_front();
            }
            hook = script->hook;
        }
        // The hook runs unlocked: it may well raise another box.
        if (hook) hook(box);
        std::lock_guard guard(script->lock);
        script->shown.push_back(box);
        return box.answer;
    });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() {
    SetMessageBoxHandler(std::move(previous_));
}

void ScriptedMessageBoxes::Add(int answer) {
    std::lock_guard guard(script_->lock);
    script_->answers.push_back(answer);
}

std::vector<ScriptedMessageBoxes::Shown> ScriptedMessageBoxes::shown() const {
    std::lock_guard guard(script_->lock);
    return script_->shown;
}

void ScriptedMessageBoxes::OnShow(std::function<void(const Shown&)> hook) {
    std::lock_guard guard(script_->lock);
    script_->hook = std::move(hook);
}

}  // namespace wce
