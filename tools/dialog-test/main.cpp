// qx-dialog-test: a small dialog program of the framework's own, for trying the
// framework, its backends and scripted runs (and the icon push button) by hand or in a
// script.
#include <string>

#include "icon_button.h"
#include "setup_icons.h"
#include "wce/dialogapp.h"
#include "wce/text.h"

using namespace wce;
using namespace wce::ui;

namespace {

enum : int {
    kGroup = 1000,
    kNameLabel = 1001,
    kName = 1002,
    kAdd = 1003,
    kList = 1004,
    kRemove = 1005,
    kKindLabel = 1006,
    kKind = 1007,
    kLoud = 1008,
    kOpen = 1009,
    kFile = 1010,
};

const DialogTemplate kMainTemplate{
    300,
    134,
    154,
    u"Dialog Test",
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME,
    WS_EX_APPWINDOW | WS_EX_CAPTIONOKBTN,
    u"System",
    8,
    {
        rc::GroupBox(kGroup, u"Names", 4, 4, 126, 74),
        rc::RText(kNameLabel, u"Name : ", 8, 16, 26, 8),
        rc::EditText(kName, 34, 14, 34, 12, ES_AUTOHSCROLL),
        rc::PushButton(kAdd, u"Add", 72, 10, 54, 21),
        rc::ListBox(kList, 8, 34, 60, 40, LBS_SORT | LBS_NOTIFY | WS_VSCROLL | WS_BORDER),
        rc::PushButton(kRemove, u"Remove", 72, 34, 54, 21),
        rc::RText(kKindLabel, u"Kind : ", 8, 84, 30, 8),
        rc::ComboBox(kKind, 40, 82, 60, 50, CBS_DROPDOWNLIST | WS_VSCROLL),
        rc::AutoCheckBox(kLoud, u"Ask before removing", 8, 98, 120, 10),
        rc::PushButton(kOpen, u"Open File...", 4, 110, 60, 21),
        rc::LText(kFile, u"", 68, 116, 62, 8),
        rc::DefPushButton(IDOK, u"OK", 4, 132, 60, 21),
        rc::PushButton(IDCANCEL, u"Cancel", 70, 132, 60, 21),
    }};

struct Texts {
    const char16_t* caption;
    const char16_t* group;
    const char16_t* name;
    const char16_t* add;
    const char16_t* remove;
    const char16_t* kind;
    const char16_t* loud;
    const char16_t* open;
    const char16_t* ok;
    const char16_t* cancel;
    const char16_t* question;
};
const Texts kKorean{u"대화 상자 시험",
                    u"이름",
                    u"이름 : ",
                    u"추가",
                    u"삭제",
                    u"종류 : ",
                    u"삭제하기 전에 묻기",
                    u"파일 열기",
                    u"확인",
                    u"취소",
                    u"선택한 이름을 삭제할까요?"};

class DialogTestDialog : public Dialog {
  public:
    DialogTestDialog() : Dialog(kMainTemplate) {
        static const MessageEntry<DialogTestDialog> table[] = {
            {kAdd, BN_CLICKED, &DialogTestDialog::OnAdd},
            {kRemove, BN_CLICKED, &DialogTestDialog::OnRemove},
            {kOpen, BN_CLICKED, &DialogTestDialog::OnOpen},
            {kList, LBN_SELCHANGE, &DialogTestDialog::OnListChange},
        };
        SetMessageTable(table);
    }

    std::u16string name;
    int kind = 0;
    int loud = 1;

  protected:
    BOOL OnInitDialog() override {
        Dialog::OnInitDialog();
        korean_ = GetACP() == 949;
        const std::pair<IconButton*, UINT> buttons[] = {
            {&add_, 133}, {&remove_, 134}, {&open_, 145}, {&ok_, 138}, {&cancel_, 132}};
        for (auto [button, icon] : buttons) {
            button->SetFont(GetDialogFont(), TRUE);
            button->SetIcon(icon, 32, 32);
            button->Set3D(true);
        }
        for (const char16_t* k : {u"Serial", u"Network", u"Infrared"}) kinds_.AddString(k);
        kinds_.SetCurSel(kind);
        if (korean_) {
            SetWindowText(kKorean.caption);
            SetDlgItemTextW(Handle(), kGroup, kKorean.group);
            SetDlgItemTextW(Handle(), kNameLabel, kKorean.name);
            SetDlgItemTextW(Handle(), kAdd, kKorean.add);
            SetDlgItemTextW(Handle(), kRemove, kKorean.remove);
            SetDlgItemTextW(Handle(), kKindLabel, kKorean.kind);
            SetDlgItemTextW(Handle(), kLoud, kKorean.loud);
            SetDlgItemTextW(Handle(), kOpen, kKorean.open);
            SetDlgItemTextW(Handle(), IDOK, kKorean.ok);
            SetDlgItemTextW(Handle(), IDCANCEL, kKorean.cancel);
        }
        remove_.EnableWindow(FALSE);
        return TRUE;
    }

    void DoDataExchange(DataExchange& dx) override {
        dx.Control(kAdd, add_);
        dx.Control(kRemove, remove_);
        dx.Control(kOpen, open_);
        dx.Control(IDOK, ok_);
        dx.Control(IDCANCEL, cancel_);
        dx.Control(kList, names_);
        dx.Control(kKind, kinds_);
        dx.Text(kName, name);
        dx.Check(kLoud, loud);
        if (dx.Saving()) dx.ComboIndex(kKind, kind);
    }

    void OnAdd() {
        UpdateData(TRUE);
        if (name.empty()) {
            MessageBoxW(Handle(), korean_ ? u"이름을 입력하세요." : u"Type a name first.",
                        korean_ ? kKorean.caption : u"Dialog Test", MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        names_.SetCurSel(names_.AddString(name));
        remove_.EnableWindow(TRUE);
    }

    void OnRemove() {
        int selected = names_.GetCurSel();
        if (selected < 0) return;
        if (IsDlgButtonChecked(Handle(), kLoud) &&
            MessageBoxW(Handle(), korean_ ? kKorean.question : u"Remove the selected name?",
                        korean_ ? kKorean.caption : u"Dialog Test",
                        MB_YESNO | MB_ICONQUESTION) != IDYES)
            return;
        names_.DeleteString(UINT(selected));
        if (names_.GetCount() == 0) remove_.EnableWindow(FALSE);
    }

    void OnOpen() {
        FileDialog chooser(
            TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
            u"Image File(*.bmp)|*.bmp|Image File(*.jpg)|*.jpg|Image File(*.gif)|*.gif||", this);
        if (chooser.DoModal() == IDOK)
            SetDlgItemTextW(Handle(), kFile, chooser.GetFileName().c_str());
    }

    void OnListChange() { remove_.EnableWindow(names_.GetCurSel() >= 0); }

  private:
    bool korean_ = false;
    IconButton add_, remove_, open_, ok_, cancel_;
    ListBox names_;
    ComboBox kinds_;
};

}  // namespace

int main(int argc, char** argv) {
    return RunDialogApp(argc, argv, [] {
        RegisterSetupIcons();
        DialogTestDialog dialog;
        int result = dialog.DoModal();
        std::printf("result %d, name \"%s\", kind %d, ask %d\n", result,
                    WideToUtf8(dialog.name).c_str(), dialog.kind, dialog.loud);
        return result == IDOK ? 0 : 1;
    });
}
