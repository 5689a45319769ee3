// The main dialog. Changes made in the paper and printer commands dialogs live in the
// record until "Save" or "Test Page Print" writes it; "Exit" drops them.
#include "setup_main_dialog.h"

#include <algorithm>
#include <map>

#include "control_texts.h"
#include "test_page.h"
#include "wce/text.h"

using namespace wce;
using namespace wce::ui;

namespace {

enum : int {
    kPaper = 1001,
    kCommands = 1002,
    kPort = 1003,
    kSave = 1004,
    kTestPage = 1005,
    kNvUpload = 1006,
    kGroup = 1041,
};

// The model's caption and group texts go in when the dialog opens.
DialogTemplate MainTemplate(const setup::SetupModel& model) {
    return DialogTemplate{102,
                          134,
                          154,
                          model.mainCaption[0],
                          WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME,
                          WS_EX_APPWINDOW | WS_EX_CAPTIONOKBTN,
                          u"System",
                          8,
                          {
                              rc::GroupBox(kGroup, model.mainGroup[0], 7, 6, 120, 84),
                              rc::PushButton(kPort, u"Port Settings", 18, 17, 99, 21),
                              rc::PushButton(kPaper, u"Paper Settings", 18, 40, 99, 21),
                              rc::PushButton(kCommands, u"Printer Commands", 18, 63, 99, 21),
                              rc::PushButton(kTestPage, u"Test Page Print", 7, 95, 58, 21),
                              rc::PushButton(kNvUpload, u"NV Upload", 70, 95, 57, 21),
                              rc::PushButton(kSave, u"Save", 7, 119, 58, 21),
                              rc::PushButton(IDCANCEL, u"Exit", 69, 119, 58, 21),
                          }};
}

const DialogTemplate& TemplateFor(const setup::SetupModel& model) {
    // One template per model, kept for the program's life.
    static std::map<const setup::SetupModel*, DialogTemplate> templates;
    auto it = templates.find(&model);
    if (it == templates.end()) it = templates.emplace(&model, MainTemplate(model)).first;
    return it->second;
}

const setup::ControlText kKoreanButtons[] = {
    {kPort, u"포트 설정"},
    {kPaper, u"용지 설정"},
    {kCommands, u"추가 명령어 설정"},
    {kTestPage, u"테스트 페이지 인쇄"},
    {kNvUpload, u"로고 업로드"},
    {kSave, u"저장"},
    {IDCANCEL, u"종료"},
};

struct SaveTexts {
    const char16_t* question;
    const char16_t* caption;
    const char16_t* notSaved;  // %d: the registry's error
    const char16_t* notRead;
};
const SaveTexts kSaveTexts[2] = {
    {u"This utility will terminate\nto save changed settings\nwhen you click\nthe OK Button.",
     u"Save Driver Settings",
     u"The driver settings could not be saved\n(registry error %d).\nNothing was changed.",
     u"The driver settings could not be read\n(registry error %d).\nThe defaults are shown."},
    {u"유틸리티는 확인 버튼을\n클릭했을 때 변경된 값을\n저장하기 위해서\n자동으로 종료됩니다.",
     u"드라이버 설정 저장",
     u"드라이버 설정을 저장하지 못했습니다\n(레지스트리 오류 %d).\n바뀐 것은 없습니다.",
     u"드라이버 설정을 읽지 못했습니다\n(레지스트리 오류 %d).\n기본값을 보여 줍니다."},
};

}  // namespace

SetupMainDialog::SetupMainDialog(const setup::SetupModel& model)
    : Dialog(TemplateFor(model)),
      paperDialog(model),
      commandsDialog(model),
      portDialog(model),
      model_(model) {
    static const MessageEntry<SetupMainDialog> table[] = {
        {kPort, BN_CLICKED, &SetupMainDialog::OnPortSettings},
        {kPaper, BN_CLICKED, &SetupMainDialog::OnPaperSettings},
        {kCommands, BN_CLICKED, &SetupMainDialog::OnPrinterCommands},
        {kTestPage, BN_CLICKED, &SetupMainDialog::OnTestPage},
        {kNvUpload, BN_CLICKED, &SetupMainDialog::OnNvUpload},
        {kSave, BN_CLICKED, &SetupMainDialog::OnSave},
    };
    SetMessageTable(table);
    record = setup::NewRecord(model);
    appIcon_ =
        static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(128), IMAGE_ICON, 32, 32, 0));
}

SetupMainDialog::~SetupMainDialog() {
    if (appIcon_) DestroyIcon(appIcon_);
}

void SetupMainDialog::DoDataExchange(DataExchange& dx) {
    dx.Control(kGroup, group_);
    dx.Control(kPort, port_);
    dx.Control(kPaper, paper_);
    dx.Control(kCommands, commands_);
    dx.Control(kTestPage, testPage_);
    dx.Control(kNvUpload, nvUpload_);
    dx.Control(kSave, save_);
    dx.Control(IDCANCEL, exit_);
}

BOOL SetupMainDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    SetIcon(appIcon_, TRUE);
    SetIcon(appIcon_, FALSE);
    codePage = GetACP();
    const std::pair<IconButton*, UINT> buttons[] = {
        {&port_, 141},     {&paper_, 135}, {&commands_, 136}, {&testPage_, 137},
        {&nvUpload_, 143}, {&save_, 140},  {&exit_, 132}};
    for (auto [button, icon] : buttons) {
        button->SetFont(GetDialogFont(), TRUE);
        button->SetIcon(icon, 32, 32);
        button->Set3D(true);
    }
    LONG error = setup::LoadOrCreateSettings(model_, record);
    if (setup::Language(codePage) == 1) {
        SetWindowText(model_.mainCaption[1]);
        group_.SetWindowText(model_.mainGroup[1]);
        setup::SetTexts(*this, kKoreanButtons);
    }
    EnableEscPosButtons();
    // Defaults shown in place of stored settings must not pass for them.
    const SaveTexts& t = kSaveTexts[setup::Language(codePage)];
    if (error)
        MessageBoxW(Handle(), FormatWideString(t.notRead, int(error)).c_str(),
                    model_.mainCaption[setup::Language(codePage)], MB_OK | MB_ICONERROR);
    return TRUE;
}

// Printer commands and stored images are ESC/POS matters: always, for a model that
// has no other emulation.
void SetupMainDialog::EnableEscPosButtons() {
    BOOL escPos = !model_.hasEmulation || record.emulation == 0 ? TRUE : FALSE;
    commands_.EnableWindow(escPos);
    nvUpload_.EnableWindow(escPos);
}

void SetupMainDialog::OnOK() {
    EndDialog(IDCANCEL);
}

void SetupMainDialog::OnPortSettings() {
    portDialog.codePage = codePage;
    portDialog.DoModal();
}

void SetupMainDialog::OnPaperSettings() {
    PaperSettingsDialog& d = paperDialog;
    setup::SettingsRecord& r = record;
    d.paperSize = r.paperSize;
    d.copies = r.copies;
    d.paperWidth = r.paperWidth;
    d.heightMm = r.heightMm;
    d.heightTenths = r.heightTenths;
    d.printingLength = r.printingLength;
    d.userPaper = r.userPaper;
    d.emulation = r.emulation;
    d.backFeed = r.backFeed;
    d.rotation = r.rotation;
    d.codePage = codePage;
    if (d.DoModal() != IDOK) return;
    r.paperSize = d.paperSize;
    r.copies = d.copies;
    r.paperWidth = d.paperWidth;
    r.heightMm = d.heightMm;
    r.heightTenths = d.heightTenths;
    r.printingLength = d.printingLength;
    r.userPaper = d.userPaper;
    r.emulation = d.emulation;
    r.backFeed = d.backFeed;
    r.rotation = d.rotation;
    EnableEscPosButtons();
}

void SetupMainDialog::OnPrinterCommands() {
    PrinterCommandsDialog& d = commandsDialog;
    d.startLogo = record.startLogo;
    d.endLogo = record.endLogo;
    std::copy(std::begin(record.startDocText), std::end(record.startDocText), d.startDocText);
    std::copy(std::begin(record.endDocText), std::end(record.endDocText), d.endDocText);
    d.codePage = codePage;
    if (d.DoModal() != IDOK) return;
    record.startLogo = d.startLogo;
    record.endLogo = d.endLogo;
    std::copy(std::begin(d.startDocText), std::end(d.startDocText), record.startDocText);
    std::copy(std::begin(d.endDocText), std::end(d.endDocText), record.endDocText);
}

void SetupMainDialog::OnTestPage() {
    setup::RunTestPage(model_, record, codePage);
}

void SetupMainDialog::OnNvUpload() {
    nvImageDialog.codePage = codePage;
    nvImageDialog.DoModal();
}

void SetupMainDialog::OnSave() {
    const SaveTexts& t = kSaveTexts[setup::Language(codePage)];
    if (MessageBoxW(Handle(), t.question, t.caption, MB_OKCANCEL) != IDOK) return;
    // A save that did not happen keeps the program open, with the changes still there.
    if (LONG error = setup::SaveSettings(model_, record)) {
        MessageBoxW(Handle(), FormatWideString(t.notSaved, int(error)).c_str(), t.caption,
                    MB_OK | MB_ICONERROR);
        return;
    }
    EndDialog(IDCANCEL);
}
