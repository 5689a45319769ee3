// Model B: the 2-inch receipt printer on 58 mm paper. Its width, papers and units are
// the shared table's; here is what only the utility has. What differs from model A:
// its texts, a paper dialog of 15 controls without the emulation, a test page without
// the emulation line, and an ICMP echo before the image manager connects over the
// network.
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
        rc::GroupBox(kPageGroup, u"Page Settings", 3, 5, 129, 81),
        rc::AutoCheckBox(kCustomPaper, u"Used Custom Paper", 47, 15, 79, 10, WS_TABSTOP),
        rc::RText(kNameLabel, u"Paper Name : ", 9, 28, 45, 8),
        rc::ComboBox(kPaperList, 57, 27, 71, 60, CBS_DROPDOWN | WS_VSCROLL),
        rc::CText(kSizeCaption, u"Width x Height", 60, 41, 58, 8),
        rc::RText(kSizeLabel, u"Paper Size : ", 8, 53, 47, 8),
        rc::EditText(kWidth, 57, 52, 25, 12, ES_AUTOHSCROLL),
        rc::CText(IDC_STATIC, u"x", 83, 55, 10, 8),
        rc::EditText(kHeight, 93, 52, 25, 12, ES_AUTOHSCROLL),
        rc::RText(kCopyLabel, u"Copy : ", 11, 69, 43, 9),
        rc::EditText(kCopies, 57, 68, 23, 12, ES_AUTOHSCROLL),
        rc::GroupBox(kAreaGroup, u"Printing Area[Length]", 3, 87, 129, 28),
        rc::AutoCheckBox(kOption, u"According to Page Size", 14, 99, 106, 10, WS_TABSTOP),
        rc::DefPushButton(IDOK, u"OK", 10, 119, 50, 22),
        rc::PushButton(IDCANCEL, u"Cancel", 77, 119, 50, 22),
    }};

using namespace page_lines;

const TestPageLine kEnglishPage[] = {
    kCongratulations,
    {u"If you can read this information, you have correctly installed your ARQUENT QX-250 on "
     u"Windows CE.",
     108},
    kBelow,
    kSubmitted,
    kTime,
    {u"Printer model : ARQUENT QX-250", 27},
    kColour,
    kPort,
    kFormat,
    kDriver,
    kVersion,
    kEnvironment,
    kEnd,
};

const TestPageLine kKoreanPage[] = {
    {u"이 정보를 읽을 수 있으면, ARQUENT 2-인치 모바일 영수증 프린터를 제대로 설치한 것입니다.",
     108},
    kKoreanBelow,
    kKoreanSubmitted,
    kTime,
    {u"프린터 모델 : ARQUENT QX-250", 27},
    kKoreanColour,
    kKoreanPort,
    kKoreanFormat,
    kKoreanDriver,
    kKoreanVersion,
    kKoreanEnvironment,
    kKoreanEnd,
};

constexpr const qxproto::PrinterModel& kPrinter = qxproto::kModelB;

const SetupModel kModelB{
    .programName = u"QX250SETUP",
    .driverKey = kPrinter.settingsKey,
    .driverFile = kPrinter.driverFileWide,
    .mainCaption = {u"ARQUENT QX-250 Driver Setup", u"드라이버 설정"},
    .mainGroup = {u"QX-250 Printer Driver's Settings", u"QX-250 프린터 드라이버 설정"},
    .heightUnitsPerMm = kPrinter.heightUnitsPerMm,
    .newKeyHeight = kPrinter.NewKeyPaper().height,
    .newKeyWidth = kPrinter.NewKeyPaper().widthMm,
    .hasEmulation = kPrinter.cpcl,
    .echoBeforeConnect = true,
    .paperTemplate = &kPaperTemplate,
    .papers = kPrinter.papers,
    .pageRight = kPrinter.dotsAcross,
    .pageBottom = PageBottomFromMillimetres,
    .testPage = {EnglishTestPage(kEnglishPage), KoreanTestPage(kKoreanPage)},
};

}  // namespace

const SetupModel& ModelB() {
    return kModelB;
}

}  // namespace setup
