// The paper settings dialog. Check box 1023 serves two settings: "According to Page
// Size" (printingLength) with ESC/POS, "Print after Back-Feed" (backFeed) with CPCL.
#include "paper_settings_dialog.h"

#include <cmath>

#include "number_text.h"
#include "wce/text.h"

using namespace wce;
using namespace wce::ui;
using namespace paper;

namespace {

const char16_t* const kEmulations[] = {u"ESC/POS", u"CPCL With Gap", u"CPCL With Mark",
                                       u"CPCL Continuous"};

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
    const char16_t* sizeCaption;  // "Width x Height" of a model without emulation
};

namespace {

const PaperSettingsDialog::Texts* PaperTexts(int language);

}  // namespace

PaperSettingsDialog::PaperSettingsDialog(const setup::SetupModel& model)
    : Dialog(*model.paperTemplate), model_(model) {
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
    dx.Control(kWidth, widthEdit_);
    dx.Control(kHeight, heightEdit_);
    dx.Control(kCopies, copiesEdit_);
    dx.Control(kCustomPaper, customPaper_);
    dx.Control(kOption, option_);
    dx.Control(kPageGroup, pageGroup_);
    dx.Control(kAreaGroup, areaGroup_);
    dx.Control(kNameLabel, nameLabel_);
    dx.Control(kSizeLabel, sizeLabel_);
    dx.Control(kCopyLabel, copyLabel_);
    if (model_.hasEmulation) {
        dx.Control(kEmulationList, emulationList_);
        dx.Control(kRotate, rotate_);
        dx.Control(kEmulationLabel, emulationLabel_);
    } else {
        dx.Control(kSizeCaption, sizeCaption_);
    }
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
    for (const setup::PaperPreset& paper : model_.papers) paperList_.AddString(paper.listText);
    paperList_.SetCurSel(paperSize);
    ShowSize(paperSize);
    SetDlgItemInt(Handle(), kCopies, UINT(copies), TRUE);
    if (userPaper) customPaper_.SetCheck(BST_CHECKED);
    paperList_.EnableWindow(userPaper ? TRUE : FALSE);
    if (model_.hasEmulation) {
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
    } else {
        option_.SetCheck(printingLength ? BST_CHECKED : BST_UNCHECKED);
        // The template's English captions stay, its caption "Paper Settings" with them.
        if (setup::Language(codePage) == 0) return TRUE;
    }
    const Texts& t = Language();
    SetWindowText(t.page);
    pageGroup_.SetWindowText(t.page);
    nameLabel_.SetWindowText(t.paperName);
    sizeLabel_.SetWindowText(t.paperSize);
    copyLabel_.SetWindowText(t.copy);
    if (model_.hasEmulation)
        emulationLabel_.SetWindowText(t.emulation);
    else
        sizeCaption_.SetWindowText(t.sizeCaption);
    ShowEmulationTexts(model_.hasEmulation ? emulation : 0);
    customPaper_.SetWindowText(t.customPaper);
    ok_.SetWindowText(t.ok);
    cancel_.SetWindowText(t.cancel);
    return TRUE;
}

void PaperSettingsDialog::ShowSize(int index) {
    bool preset = index > 0 && size_t(index) < model_.papers.size();
    if (preset) {
        const setup::PaperPreset& paper = model_.papers[size_t(index)];
        paperWidth = paper.widthMm;
        heightMm = paper.height / model_.heightUnitsPerMm;
        heightTenths = paper.height % model_.heightUnitsPerMm;
    }
    widthEdit_.SetWindowText(FormatWideString(u"%d", paperWidth));
    heightEdit_.SetWindowText(model_.heightUnitsPerMm == 10
                                  ? FormatWideString(u"%d.%d", heightMm, heightTenths)
                                  : FormatWideString(u"%d", heightMm));
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
    if (model_.hasEmulation && emulationList_.GetCurSel() != 0) {
        backFeed = option_.GetCheck() == BST_CHECKED ? 1 : 0;
        rotation = rotate_.GetCheck() == BST_CHECKED ? 1 : 0;
    } else {
        printingLength = option_.GetCheck() == BST_CHECKED ? 1 : 0;
    }
}

void PaperSettingsDialog::OnRotate() {
    rotation = rotate_.GetCheck() == BST_CHECKED ? 1 : 0;
}

void PaperSettingsDialog::OnOk() {
    UpdateData(TRUE);
    copies = setup::LeadingInt(copiesText_);
    if (paperSize == 0) {
        // Tenths are cut, not rounded: 45.57 is 45.5; in whole millimetres 99.9 is 99.
        // A height that is not a number (or is negative, or too large to store) keeps
        // the one before.
        if (auto tenths = setup::TruncatedTenths(heightText_)) {
            heightMm = *tenths / 10;
            heightTenths = model_.heightUnitsPerMm == 10 ? *tenths % 10 : 0;
        }
        // The field is open for typing here, so a typed width is taken as well.
        if (auto tenths = setup::TruncatedTenths(widthText_)) paperWidth = *tenths / 10;
    }
    if (!model_.hasEmulation) {
        printingLength = option_.GetCheck() == BST_CHECKED ? 1 : 0;
        EndDialog(IDOK);
        return;
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
    {u"Page Settings", u"Paper Name : ", u"Paper Size : ", u"Copy : ", u"Emulation : ",
     u"Printing Area[Length]", u"According to Page Size", u"Adjust Printing Position",
     u"Print after Back-Feed", u"180 Rotate", u"Used Custom Paper", u"OK", u"Cancel",
     u"Width x Height"},
    {u"페이지 설정", u"용지 이름 : ", u"용지 크기 : ", u"인쇄 매수 : ", u"에뮬레이션 : ",
     u"인쇄 영역[길이]", u"용지 크기에 맞게 인쇄", u"인쇄 위치 조정", u"백피드 후 인쇄",
     u"180°회전", u"사용자 용지 사용", u"확인", u"취소", u"가로 x 세로"},
};

const PaperSettingsDialog::Texts* PaperTexts(int language) {
    return &kTexts[language];
}

}  // namespace
