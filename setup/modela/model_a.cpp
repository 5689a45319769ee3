// Model A: the 3-inch label printer. Its width, papers and units are the shared
// table's; here is what only the utility has: its texts, paper dialog and test page.
#include "model.h"
#include "paper_settings_dialog.h"
#include "test_page.h"
#include "wce/dialog.h"

namespace setup {

namespace {

using namespace wce;
using namespace wce::ui;
using namespace paper;

const DialogTemplate kPaperTemplate{
    129,
    136,
    154,
    u"Paper Settings",
    WS_POPUP | WS_CAPTION | DS_MODALFRAME,
    0,
    u"System",
    8,
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

using namespace page_lines;

const TestPageLine kEnglishPage[] = {
    kCongratulations,
    {u"If you can read this information, you have correctly installed your ARQUENT QX-470 on "
     u"Windows CE.",
     108},
    kBelow,
    kSubmitted,
    kTime,
    {u"Printer model : ARQUENT QX-470", 27},
    kEmulation,
    kColour,
    kPort,
    kFormat,
    kDriver,
    kVersion,
    kEnvironment,
    kEnd,
};

const TestPageLine kKoreanPage[] = {
    {u"이 정보를 읽을 수 있으면, ARQUENT 3-인치 모바일 라벨 프린터를 제대로 설치한 것입니다.", 108},
    kKoreanBelow,
    kKoreanSubmitted,
    kTime,
    {u"프린터 모델 : ARQUENT QX-470", 27},
    kEmulation,
    kKoreanColour,
    kKoreanPort,
    kKoreanFormat,
    kKoreanDriver,
    kKoreanVersion,
    kKoreanEnvironment,
    kKoreanEnd,
};

constexpr const qxproto::PrinterModel& kPrinter = qxproto::kModelA;

const SetupModel kModelA{
    .programName = u"QX470SETUP",
    .driverKey = kPrinter.settingsKey,
    .driverFile = kPrinter.driverFileWide,
    .mainCaption = {u"ARQUENT QX-470 Driver Setup", u"드라이버 설정"},
    .mainGroup = {u"QX-470 Printer Driver's Settings", u"QX-470 프린터 드라이버 설정"},
    .heightUnitsPerMm = kPrinter.heightUnitsPerMm,
    .newKeyHeight = kPrinter.NewKeyPaper().height,
    .newKeyWidth = kPrinter.NewKeyPaper().widthMm,
    .hasEmulation = kPrinter.cpcl,
    .echoBeforeConnect = false,
    .paperTemplate = &kPaperTemplate,
    .papers = kPrinter.papers,
    .pageRight = kPrinter.dotsAcross,
    .pageBottom = PageBottom,
    .testPage = {EnglishTestPage(kEnglishPage), KoreanTestPage(kKoreanPage)},
};

}  // namespace

const SetupModel& ModelA() {
    return kModelA;
}

}  // namespace setup
