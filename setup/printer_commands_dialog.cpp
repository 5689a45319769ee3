// The printer commands dialog. "Apply" writes one set to the driver key at once; OK
// hands both sets to the main dialog, which writes them when it saves.
#include "printer_commands_dialog.h"

#include "control_texts.h"
#include "number_text.h"
#include "wce/text.h"

using namespace wce;
using namespace wce::ui;

namespace {

enum : int {
    kApplyStart = 1013,
    kApplyEnd = 1014,
    kStartLogo = 1018,
    kStartText = 1019,
    kEndLogo = 1020,
    kEndText = 1021,
    kStartGroup = 1035,
    kEndGroup = 1036,
    kStartTextLabel = 1037,
    kEndTextLabel = 1038,
    kStartImageLabel = 1039,
    kEndImageLabel = 1040,
};

const DialogTemplate kCommandsTemplate{
    130,
    137,
    158,
    u"Printer Commands",
    WS_POPUP | WS_CAPTION | DS_MODALFRAME,
    0,
    u"System",
    8,
    {
        rc::GroupBox(kStartGroup, u"Start Documents", 7, 7, 123, 57),
        rc::LText(kStartImageLabel, u"NV Image[1~255]", 12, 17, 60, 8),
        rc::EditText(kStartLogo, 12, 26, 42, 12, ES_AUTOHSCROLL),
        rc::PushButton(kApplyStart, u"Apply", 78, 21, 48, 22),
        rc::LText(kStartTextLabel, u"Text to print: ", 12, 40, 60, 8),
        rc::EditText(kStartText, 12, 48, 114, 12, ES_AUTOHSCROLL),
        rc::GroupBox(kEndGroup, u"End Documents", 7, 66, 123, 56),
        rc::LText(kEndImageLabel, u"NV Image[1~255]", 12, 75, 63, 8),
        rc::EditText(kEndLogo, 11, 84, 42, 12, ES_AUTOHSCROLL),
        rc::PushButton(kApplyEnd, u"Apply", 78, 79, 48, 22),
        rc::LText(kEndTextLabel, u"Text to print: ", 11, 98, 61, 8),
        rc::EditText(kEndText, 11, 106, 115, 12, ES_AUTOHSCROLL),
        rc::DefPushButton(IDOK, u"OK", 11, 125, 50, 22),
        rc::PushButton(IDCANCEL, u"Cancel", 76, 125, 50, 22),
    }};

using setup::ControlText;

const ControlText kKoreanTexts[] = {
    {0, u"이미지 저장"},
    {kStartGroup, u"시작 문서"},
    {kEndGroup, u"끝 문서"},
    {kStartImageLabel, u"적용 로고[1~255]"},
    {kEndImageLabel, u"적용 로고[1~255]"},
    {kStartTextLabel, u"인쇄할 텍스트 : "},
    {kEndTextLabel, u"인쇄할 텍스트 : "},
    {kApplyStart, u"적용"},
    {kApplyEnd, u"적용"},
    {IDOK, u"확인"},
    {IDCANCEL, u"취소"},
};

// A number 0 leaves its field empty.
std::u16string LogoText(int logo) {
    return logo ? FormatWideString(u"%d", logo) : std::u16string();
}

// An Apply that did not reach the registry must not pass for one that did.
const char16_t* const kNotApplied[2] = {
    u"The setting could not be saved\n(registry error %d).",
    u"설정을 저장하지 못했습니다\n(레지스트리 오류 %d).",
};

}  // namespace

PrinterCommandsDialog::PrinterCommandsDialog(const setup::SetupModel& model)
    : Dialog(kCommandsTemplate), model_(model) {
    static const MessageEntry<PrinterCommandsDialog> table[] = {
        {kApplyStart, BN_CLICKED, &PrinterCommandsDialog::OnApplyStart},
        {kApplyEnd, BN_CLICKED, &PrinterCommandsDialog::OnApplyEnd},
        {IDOK, BN_CLICKED, &PrinterCommandsDialog::OnOk},
    };
    SetMessageTable(table);
}

void PrinterCommandsDialog::DoDataExchange(DataExchange& dx) {
    dx.Control(kStartGroup, startGroup_);
    dx.Control(kEndGroup, endGroup_);
    dx.Control(kStartImageLabel, startImageLabel_);
    dx.Control(kEndImageLabel, endImageLabel_);
    dx.Control(kStartTextLabel, startTextLabel_);
    dx.Control(kEndTextLabel, endTextLabel_);
    dx.Control(kStartLogo, startLogoEdit_);
    dx.Control(kEndLogo, endLogoEdit_);
    dx.Control(kStartText, startTextEdit_);
    dx.Control(kEndText, endTextEdit_);
    dx.Control(kApplyStart, applyStart_);
    dx.Control(kApplyEnd, applyEnd_);
    dx.Control(IDOK, ok_);
    dx.Control(IDCANCEL, cancel_);
    dx.Text(kStartLogo, startLogoText_);
    dx.Text(kEndLogo, endLogoText_);
    dx.Text(kStartText, startText_);
    dx.Text(kEndText, endText_);
}

BOOL PrinterCommandsDialog::OnInitDialog() {
    startText_ = startDocText;
    endText_ = endDocText;
    startLogoText_ = LogoText(startLogo);
    endLogoText_ = LogoText(endLogo);
    Dialog::OnInitDialog();
    const std::pair<IconButton*, UINT> buttons[] = {
        {&applyStart_, 139}, {&applyEnd_, 139}, {&ok_, 138}, {&cancel_, 132}};
    for (auto [button, icon] : buttons) {
        button->SetFont(GetDialogFont(), TRUE);
        button->SetIcon(icon, 32, 32);
        button->Set3D(true);
    }
    // The texts hold 255 characters each.
    startTextEdit_.LimitText(setup::kTextUnits - 1);
    endTextEdit_.LimitText(setup::kTextUnits - 1);
    if (setup::Language(codePage) == 1) setup::SetTexts(*this, kKoreanTexts);
    return TRUE;
}

void PrinterCommandsDialog::Apply(const WCHAR* textName, const WCHAR* text, const WCHAR* logoName,
                                  int logo) {
    HKEY key = nullptr;
    LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, model_.driverKey, 0, KEY_WRITE, &key);
    if (error == ERROR_SUCCESS) {
        error = setup::SetText(key, textName, text);
        if (error == ERROR_SUCCESS) error = setup::SetNumber(key, logoName, logo);
        RegCloseKey(key);
    }
    if (error != ERROR_SUCCESS)
        MessageBoxW(Handle(),
                    FormatWideString(kNotApplied[setup::Language(codePage)], int(error)).c_str(),
                    model_.programName, MB_OK | MB_ICONERROR);
}

void PrinterCommandsDialog::OnApplyStart() {
    UpdateData(TRUE);
    startLogo = setup::LeadingInt(startLogoText_);
    setup::CopyText(startDocText, startText_);
    Apply(u"StartDocText", startDocText, u"StartLogo", startLogo);
}

void PrinterCommandsDialog::OnApplyEnd() {
    UpdateData(TRUE);
    endLogo = setup::LeadingInt(endLogoText_);
    setup::CopyText(endDocText, endText_);
    Apply(u"EndDocText", endDocText, u"EndLogo", endLogo);
}

void PrinterCommandsDialog::OnOk() {
    UpdateData(TRUE);
    startLogo = setup::LeadingInt(startLogoText_);
    endLogo = setup::LeadingInt(endLogoText_);
    setup::CopyText(startDocText, startText_);
    setup::CopyText(endDocText, endText_);
    EndDialog(IDOK);
}
