// The paper settings dialog. Check box 1023 serves two settings: "According to Page
// Size" (printingLength) with ESC/POS, "Print after Back-Feed" (backFeed) with CPCL.
#include "paper_settings_dialog.h"

#include <cmath>

#include "number_text.h"
#include "wce/text.h"

using namespace wce;
using namespace wce::ui;

namespace {

enum : int {
    kPaperList = 1003, kEmulationList = 1004, kWidth = 1005, kHeight = 1006, kCopies = 1007,
    kOption = 1023, kPageGroup = 1024, kAreaGroup = 1025, kNameLabel = 1030, kSizeLabel = 1031,
    kCopyLabel = 1033, kEmulationLabel = 1034, kCustomPaper = 1042, kRotate = 1043,
};

const DialogTemplate kPaperTemplate{
    129, 136, 154, u"Paper Settings", WS_POPUP | WS_CAPTION | DS_MODALFRAME, 0, u"System", 8,
    {
        rc::GroupBox(kPageGroup, u"Page Settings", 3, 6, 129, 81),
        rc::AutoCheckBox(kCustomPaper, u"Used Custom Paper", 36, 14, 90, 10, WS_TABSTOP),
        rc::RText(kNameLabel, u"Paper Name : ", 8, 28, 44, 8),
        rc::ComboBox(kPaperList, 55, 27, 71, 60, CBS_DROPDOWN | WS_VSCROLL),
        rc::RText(kSizeLabel, u"Paper Size : ", 9, 43, 44, 8),
        rc::EditText(kWidth, 55, 42, 25, 12, ES_AUTOHSCROLL),
        rc::CText(IDC_STATIC, u"x", 81, 45, 10, 8),
        rc::EditText(kHeight, 91, 42, 25, 12, ES_AUTOHSCROLL),
        rc::RText(kCopyLabel, u"Copy : ", 21, 57, 31, 9),
        rc::EditText(kCopies, 55, 56, 23, 12, ES_AUTOHSCROLL),
        rc::AutoCheckBox(kRotate, u"180 Rotate", 80, 57, 50, 9, WS_TABSTOP),
        rc::RText(kEmulationLabel, u"Emulation : ", 11, 71, 41, 9),
        rc::ComboBox(kEmulationList, 55, 71, 71, 68, CBS_DROPDOWN | WS_VSCROLL),
        rc::GroupBox(kAreaGroup, u"Printing Area[Length]", 3, 89, 129, 26),
        rc::AutoCheckBox(kOption, u"According to Page Size", 14, 99, 106, 10, WS_TABSTOP),
        rc::DefPushButton(IDOK, u"OK", 10, 119, 50, 22),
        rc::PushButton(IDCANCEL, u"Cancel", 77, 119, 50, 22),
    }};

const char16_t* const kEmulations[] = {u"ESC/POS", u"CPCL With Gap", u"CPCL With Mark", u"CPCL Continuous"};

}  // namespace

struct PaperSettingsDialog::Texts {
    const char16_t* page;  // caption and group 1024
    const char16_t* paperName;
    const char16_t* paperSize;
    const char16_t* copy;
    const char16_t* emulation;
    const char16_t* areaEscPos;
    const char16_t* lengthEscPos;
    const char16_t* areaCpcl;
    const char16_t* backFeedCpcl;
    const char16_t* rotate;
    const char16_t* customPaper;
    const char16_t* ok;
    const char16_t* cancel;
};

namespace {

const PaperSettingsDialog::Texts* PaperTexts(int language);

}  // namespace

PaperSettingsDialog::PaperSettingsDialog(const setup::SetupModel& model) : Dialog(kPaperTemplate), model_(model) {
    static const MessageEntry<PaperSettingsDialog> table[] = {
        {kPaperList, CBN_SELCHANGE, &PaperSettingsDialog::OnPaperChange},
        {kEmulationList, CBN_SELCHANGE, &PaperSettingsDialog::OnEmulationChange},
        {kCustomPaper, BN_CLICKED, &PaperSettingsDialog::OnCustomPaper},
        {kOption, BN_CLICKED, &PaperSettingsDialog::OnOption},
        {kRotate, BN_CLICKED, &PaperSettingsDialog::OnRotate},
        {IDOK, BN_CLICKED, &PaperSettingsDialog::OnOk},
    };
    SetMessageTable(table);
}

const PaperSettingsDialog::Texts& PaperSettingsDialog::Language() const {
    return *PaperTexts(setup::Language(codePage));
}

void PaperSettingsDialog::DoDataExchange(DataExchange& dx) {
    dx.Control(kPaperList, paperList_);
    dx.Control(kEmulationList, emulationList_);
    dx.Control(kWidth, widthEdit_);
    dx.Control(kHeight, heightEdit_);
    dx.Control(kCopies, copiesEdit_);
    dx.Control(kCustomPaper, customPaper_);
    dx.Control(kRotate, rotate_);
    dx.Control(kOption, option_);
    dx.Control(kPageGroup, pageGroup_);
    dx.Control(kAreaGroup, areaGroup_);
    dx.Control(kNameLabel, nameLabel_);
    dx.Control(kSizeLabel, sizeLabel_);
    dx.Control(kCopyLabel, copyLabel_);
    dx.Control(kEmulationLabel, emulationLabel_);
    dx.Control(IDOK, ok_);
    dx.Control(IDCANCEL, cancel_);
    dx.Text(kCopies, copiesText_);
    dx.Text(kHeight, heightText_);
    dx.Text(kWidth, widthText_);
}

BOOL PaperSettingsDialog::OnInitDialog() {
    copiesText_.clear();
    heightText_.clear();
    widthText_.clear();
    Dialog::OnInitDialog();
    for (auto [button, icon] : {std::pair{&ok_, 138u}, {&cancel_, 132u}}) {
        button->SetFont(GetDialogFont(), TRUE);
        button->SetIcon(icon, 32, 32);
        button->Set3D(true);
    }
    for (const setup::PaperPreset& paper : model_.papers) paperList_.AddString(paper.text);
    paperList_.SetCurSel(paperSize);
    ShowSize(paperSize);
    SetDlgItemInt(Handle(), kCopies, UINT(copies), TRUE);
    if (userPaper) customPaper_.SetCheck(BST_CHECKED);
    paperList_.EnableWindow(userPaper ? TRUE : FALSE);
    for (const char16_t* name : kEmulations) emulationList_.AddString(name);
    emulationList_.SetCurSel(emulation);
    if (emulation == 0) {
        option_.SetCheck(printingLength ? BST_CHECKED : BST_UNCHECKED);
        rotate_.EnableWindow(FALSE);
    } else {
        option_.SetCheck(backFeed ? BST_CHECKED : BST_UNCHECKED);
        rotate_.EnableWindow(TRUE);
        rotate_.SetCheck(rotation ? BST_CHECKED : BST_UNCHECKED);
    }
    const Texts& t = Language();
    SetWindowText(t.page);
    pageGroup_.SetWindowText(t.page);
    nameLabel_.SetWindowText(t.paperName);
    sizeLabel_.SetWindowText(t.paperSize);
    copyLabel_.SetWindowText(t.copy);
    emulationLabel_.SetWindowText(t.emulation);
    ShowEmulationTexts(emulation);
    customPaper_.SetWindowText(t.customPaper);
    ok_.SetWindowText(t.ok);
    cancel_.SetWindowText(t.cancel);
    return TRUE;
}

void PaperSettingsDialog::ShowSize(int index) {
    bool preset = index > 0 && size_t(index) < model_.papers.size();
    if (preset) {
        const setup::PaperPreset& paper = model_.papers[size_t(index)];
        paperWidth = paper.width;
        heightMm = paper.height / 10;
        heightTenths = paper.height % 10;
    }
    widthEdit_.SetWindowText(FormatWideString(u"%d", paperWidth));
    heightEdit_.SetWindowText(FormatWideString(u"%d.%d", heightMm, heightTenths));
    widthEdit_.EnableWindow(preset ? FALSE : TRUE);
    heightEdit_.EnableWindow(preset ? FALSE : TRUE);
}

// Captions of group 1025 and check boxes 1023 and 1043 for an emulation list entry.
void PaperSettingsDialog::ShowEmulationTexts(int index) {
    const Texts& t = Language();
    if (index == 0) {
        areaGroup_.SetWindowText(t.areaEscPos);
        option_.SetWindowText(t.lengthEscPos);
    } else {
        areaGroup_.SetWindowText(t.areaCpcl);
        option_.SetWindowText(t.backFeedCpcl);
        rotate_.SetWindowText(t.rotate);
    }
}

void PaperSettingsDialog::OnPaperChange() {
    paperSize = paperList_.GetCurSel();
    ShowSize(paperSize);
}

void PaperSettingsDialog::OnEmulationChange() {
    int n = emulationList_.GetCurSel();
    if (n != 0) {
        option_.SetCheck(backFeed ? BST_CHECKED : BST_UNCHECKED);
        rotate_.SetCheck(rotation ? BST_CHECKED : BST_UNCHECKED);
        rotate_.EnableWindow(TRUE);
    } else {
        option_.SetCheck(printingLength ? BST_CHECKED : BST_UNCHECKED);
        rotate_.EnableWindow(FALSE);
    }
    ShowEmulationTexts(n);
}

void PaperSettingsDialog::OnCustomPaper() {
    userPaper = customPaper_.GetCheck() == BST_CHECKED ? 1 : 0;
    paperList_.EnableWindow(userPaper ? TRUE : FALSE);
}

void PaperSettingsDialog::OnOption() {
    if (emulationList_.GetCurSel() != 0) {
        backFeed = option_.GetCheck() == BST_CHECKED ? 1 : 0;
        rotation = rotate_.GetCheck() == BST_CHECKED ? 1 : 0;
    } else {
        printingLength = option_.GetCheck() == BST_CHECKED ? 1 : 0;
    }
}

void PaperSettingsDialog::OnRotate() { rotation = rotate_.GetCheck() == BST_CHECKED ? 1 : 0; }

void PaperSettingsDialog::OnOk() {
    UpdateData(TRUE);
    copies = setup::LeadingInt(copiesText_);
    if (paperSize == 0) {
        // Tenths are cut, not rounded: 45.57 is 45.5. A height that is not a number
        // (or is negative, or too large to store) keeps the one before.
        if (auto tenths = setup::TruncatedTenths(heightText_)) {
            heightMm = *tenths / 10;
            heightTenths = *tenths % 10;
        }
        // The field is open for typing here, so a typed width is taken as well.
        if (auto tenths = setup::TruncatedTenths(widthText_)) paperWidth = *tenths / 10;
    }
    int n = emulationList_.GetCurSel();
    if (n != 0) {
        backFeed = option_.GetCheck() == BST_CHECKED ? 1 : 0;
        rotation = rotate_.GetCheck() == BST_CHECKED ? 1 : 0;
    } else {
        printingLength = option_.GetCheck() == BST_CHECKED ? 1 : 0;
    }
    if (n >= 0) emulation = n;  // an emulation the list does not hold stays as stored
    EndDialog(IDOK);
}

namespace {

const PaperSettingsDialog::Texts kTexts[2] = {
    {u"Page Settings", u"Paper Name : ", u"Paper Size : ", u"Copy : ", u"Emulation : ", u"Printing Area[Length]",
     u"According to Page Size", u"Adjust Printing Position", u"Print after Back-Feed", u"180 Rotate",
     u"Used Custom Paper", u"OK", u"Cancel"},
    {u"페이지 설정", u"용지 이름 : ", u"용지 크기 : ", u"인쇄 매수 : ", u"에뮬레이션 : ", u"인쇄 영역[길이]",
     u"용지 크기에 맞게 인쇄", u"인쇄 위치 조정", u"백피드 후 인쇄", u"180°회전", u"사용자 용지 사용", u"확인",
     u"취소"},
};

const PaperSettingsDialog::Texts* PaperTexts(int language) { return &kTexts[language]; }

}  // namespace
