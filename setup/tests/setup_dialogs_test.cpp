// The utility's dialogs played by the user in process, on a real registry file: the
// first start, the paper, printer commands and port dialogs, saving and leaving.
#include <sys/stat.h>

#include "../../platform/ui/core/window.h"
#include "setup_test_support.h"

using namespace wce;
using namespace setuptest;

namespace {

using MainDialog = SetupTest;

TEST_F(MainDialog, FirstStartWritesTheNewKeyAndDisablesTheEscPosButtons) {
    EXPECT_EQ(Run("expect-dialog 102\nexpect-caption \"ARQUENT QX-470 Driver Setup\"\n"
                  "expect-text 1041 \"QX-470 Printer Driver's Settings\"\n"
                  "expect-enabled 1002 0\nexpect-enabled 1006 0\nexpect-enabled 1001 1\nclose\n"),
              IDCANCEL);
    const std::pair<const char16_t*, std::u16string> texts[] = {{u"Driver", u"QX470.dll"},
                                                                {u"Color", u"Monochrome"},
                                                                {u"Draft Quality", u"75"},
                                                                {u"High Quality", u"300"},
                                                                {u"Port", u""},
                                                                {u"StartDocText", u""},
                                                                {u"EndDocText", u""}};
    const std::pair<const char16_t*, int> numbers[] = {
        {u"PHeight", 508}, {u"PWidth", 80},  {u"PaperSize", 2},      {u"Copies", 1},
        {u"StartLogo", 0}, {u"EndLogo", 0},  {u"PrintingLength", 1}, {u"UserPaper", 1},
        {u"Emulation", 1}, {u"BackFeed", 0}, {u"Rotation", 0}};
    auto values = Values();
    ASSERT_EQ(values.size(), 18u);
    size_t i = 0;
    for (auto [name, text] : texts) {
        EXPECT_EQ(values[i].name, name);
        EXPECT_EQ(values[i].type, REG_SZ);
        EXPECT_EQ(values[i].data.size(), (text.size() + 1) * 2) << WideToUtf8(name);
        EXPECT_EQ(values[i++].Text(), text);
    }
    for (auto [name, number] : numbers) {
        EXPECT_EQ(values[i].name, name);
        EXPECT_EQ(values[i].type, REG_DWORD);
        EXPECT_EQ(values[i++].Number(), number) << WideToUtf8(name);
    }
    // The record takes its own defaults: printingLength 0, unlike the key's 1.
    const setup::SettingsRecord& r = Dialog().record;
    EXPECT_EQ(r.paperSize, 2);
    EXPECT_EQ(r.heightMm, 50);
    EXPECT_EQ(r.heightTenths, 8);
    EXPECT_EQ(r.printingLength, 0);
    EXPECT_EQ(r.emulation, 1);
    EXPECT_EQ(r.loadedEmulation, 1);
}

TEST_F(MainDialog, AnEscPosKeyEnablesBothButtonsAndAPresetTakesTheTableSize) {
    qxtest::RegisterDriver(
        u"COM1:", {{u"Emulation", 0}, {u"PaperSize", 3}, {u"PWidth", 60}, {u"PHeight", 300}});
    // "NV Upload" opens the image manager's dialog, empty for now.
    Run("expect-enabled 1002 1\nexpect-enabled 1006 1\nclick 1006\nexpect-dialog "
        "144\nexpect-caption \"Dialog\"\n"
        "close\n"
        // Leaving ESC/POS disables both; the focus moves on past them.
        "focus 1003\nclick 1001\nselect 1004 1\nclick 1\nexpect-enabled 1002 0\nexpect-enabled "
        "1006 0\n"
        "expect-focus 1004\nclose\n");
    const setup::SettingsRecord& r = Dialog().record;
    EXPECT_EQ(r.paperWidth, 80);
    EXPECT_EQ(r.heightMm, 76);
    EXPECT_EQ(r.heightTenths, 2);
    EXPECT_EQ(std::u16string(r.portName), u"COM1:");
    EXPECT_EQ(std::u16string(r.driverName), u"QX470.dll");
}

TEST_F(MainDialog, AKeyMissingAValueKeepsTheDefaultsFromThereOn) {
    qxtest::SetText(u"StartDocText", u"Hello");
    qxtest::SetNumber(u"Copies", 4);
    qxtest::SetNumber(u"Emulation", 0);  // never reached: "PaperSize" is missing
    Run("expect-enabled 1002 0\nclose\n");
    EXPECT_EQ(std::u16string(Dialog().record.startDocText), u"Hello");
    EXPECT_EQ(Dialog().record.copies, 4);
    EXPECT_EQ(Dialog().record.paperSize, 2);
    EXPECT_EQ(Dialog().record.emulation, 1);
}

TEST_F(MainDialog, SaveAnsweredCancelLeavesTheFileUntouchedAndExitWritesNothing) {
    qxtest::RegisterDriver(u"COM1:");
    const std::string before = FileBytes(RegistryFile());
    Run("click 1001\ntype 1007 5\nclick 1\nclick 1004\n"
        "expect-message \"This utility will terminate\\nto save changed settings\\nwhen you "
        "click\\nthe OK Button.\"\n"
        "expect-caption \"Save Driver Settings\"\nanswer Cancel\nexpect-dialog 102\ncaption-ok\n");
    EXPECT_EQ(Dialog().record.copies, 5);
    EXPECT_EQ(FileBytes(RegistryFile()), before);
    Run("click 1001\ntype 1007 6\nclick 1\nclick 2\n");
    EXPECT_EQ(FileBytes(RegistryFile()), before);
}

TEST_F(MainDialog, ARegistryFileThatDoesNotParseIsSaidSoAndNeverWritten) {
    std::ofstream(RegistryFile())
        << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Printers\n";
    const std::string before = FileBytes(RegistryFile());
    EXPECT_EQ(
        Run("expect-message \"The driver settings could not be read\\n(registry error 1009).\\n"
            "The defaults are shown.\"\nexpect-caption \"ARQUENT QX-470 Driver Setup\"\nanswer OK\n"
            "click 1004\nanswer OK\n"
            "expect-message \"The driver settings could not be saved\\n(registry error 1009).\\n"
            "Nothing was changed.\"\nanswer OK\nexpect-dialog 102\nclose\n"),
        IDCANCEL);
    EXPECT_EQ(FileBytes(RegistryFile()), before);
}

// A registry file the user may not write: every write is refused, the edits stay in
// the program, and no button ends or prints as if they had been stored.
TEST_F(MainDialog, AReadOnlyRegistryKeepsTheEditsAndSaysSoAtEveryWrite) {
    qxtest::RegisterDriver(u"COM1:");
    qxtest::SetText(u"Port1", u"COM1:", u"Printers\\Ports");
    ASSERT_EQ(::chmod(RegistryFile().c_str(), 0444), 0);
    const std::string before = FileBytes(RegistryFile());
    EXPECT_EQ(
        Run("click 1001\ntype 1007 3\nclick 1\n"
            "click 1005\nexpect-message \"The driver settings could not be saved\\n(registry error "
            "5).\\n"
            "The test page is not printed.\"\nanswer OK\n"
            "click 1002\ntype 1018 4\nclick 1013\n"
            "expect-message \"The setting could not be saved\\n(registry error 5).\"\nanswer "
            "OK\nclick 1\n"
            "click 1003\ntype 1021 LPT2:\nclick 1020\n"
            "expect-message \"The port list could not be saved\\n(registry error 5).\"\nanswer OK\n"
            "expect-count 1014 1\nselect 1014 0\nclick 1015\n"
            "expect-message \"The port list could not be saved\\n(registry error 5).\"\nanswer OK\n"
            "expect-count 1014 1\nexpect-item 1014 0 \"COM1:\"\nclick 1\n"
            "click 1004\nanswer OK\n"
            "expect-message \"The driver settings could not be saved\\n(registry error 5).\\n"
            "Nothing was changed.\"\nanswer OK\nexpect-dialog 102\nclose\n"),
        IDCANCEL);
    EXPECT_EQ(Dialog().record.copies, 3);
    EXPECT_EQ(Dialog().record.startLogo, 4);
    EXPECT_EQ(FileBytes(RegistryFile()), before);
}

// Values the paper dialog cannot show are read as the driver reads them: an unknown
// size as the custom one, a negative length as none.
TEST_F(MainDialog, AnUnknownPaperSizeReadsAsCustomAndANegativeHeightAsZero) {
    for (int size : {7, -1}) {
        SCOPED_TRACE(size);
        qxtest::RegisterDriver(u"", {{u"PaperSize", size}, {u"PHeight", -5}, {u"PWidth", 58}});
        Run("click 1001\nexpect-selected 1003 0\nexpect-text 1006 \"0.0\"\nexpect-text 1005 "
            "\"58\"\n"
            "type 1006 40.5\nclick 1\nclick 1004\nanswer OK\n");
        EXPECT_EQ(Number(u"PaperSize"), 0);
        EXPECT_EQ(Number(u"PHeight"), 405);
        EXPECT_EQ(Number(u"PWidth"), 58);
    }
}

TEST_F(MainDialog, KoreanTextsInEveryDialogWhenTheCodePageIs949) {
    UseLanguage(true);
    Run("expect-caption \"드라이버 설정\"\nexpect-text 1041 \"QX-470 프린터 드라이버 설정\"\n"
        "expect-text 1003 \"포트 설정\"\nexpect-text 1002 \"추가 명령어 설정\"\nexpect-text 2 "
        "\"종료\"\n"
        "click 1001\nexpect-caption \"페이지 설정\"\nexpect-text 1024 \"페이지 설정\"\n"
        "expect-text 1023 \"백피드 후 인쇄\"\nexpect-text 1043 \"180°회전\"\nexpect-text 1025 "
        "\"인쇄 위치 조정\"\n"
        "select 1004 0\nexpect-text 1023 \"용지 크기에 맞게 인쇄\"\nexpect-text 1 \"확인\"\nclick "
        "2\n"
        "click 1003\nexpect-caption \"프린터 포트 설정\"\nexpect-text 1016 \"포트 선택\"\nclick 1\n"
        "click 1004\nexpect-caption \"드라이버 설정 저장\"\n"
        "expect-message \"유틸리티는 확인 버튼을\\n클릭했을 때 변경된 값을\\n저장하기 "
        "위해서\\n자동으로 종료됩니다.\"\n"
        "answer Cancel\nclose\n");
    EXPECT_EQ(Dialog().codePage, 949u);
}

// Why a label, check box or group title of the dialog does not show whole: "" if all do.
// Texts are laid out as the dialog draws them, in the control's own font.
std::string TextsThatDoNotFit(HWND dialog) {
    std::string faults;
    HDC dc = CreateCompatibleDC(nullptr);
    for (HWND c : dialog->children) {
        if (c->text.empty()) continue;
        DWORD type = c->style & BS_TYPEMASK;
        bool label = c->kind == ui::ControlClass::Static;
        bool check =
            c->kind == ui::ControlClass::Button && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX);
        bool group = c->kind == ui::ControlClass::Button && type == BS_GROUPBOX;
        if (!label && !check && !group) continue;
        SelectObject(dc, c->font);
        LONG width = c->rect.right - c->rect.left - (check ? 16 : group ? 12 : 0);
        RECT r{0, 0, width, 0};
        int height = DrawTextW(dc, c->text.c_str(), -1, &r,
                               DT_CALCRECT | (label ? DT_WORDBREAK : DT_SINGLELINE));
        if (r.right > width || (!group && height > c->rect.bottom - c->rect.top))
            faults += " " + std::to_string(c->id) + " \"" + WideToUtf8(c->text) + "\" needs " +
                      std::to_string(r.right) + "x" + std::to_string(height) + " in " +
                      std::to_string(width) + "x" + std::to_string(c->rect.bottom - c->rect.top) +
                      ";";
    }
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    DeleteDC(dc);
    return faults;
}

TEST_F(MainDialog, KoreanLabelsFitTheirControls) {
    UseLanguage(true);
    // Model B's printer commands are enabled from the start, so its dialog is seen too.
    for (const setup::SetupModel* model : {&setup::ModelA(), &setup::ModelB()}) {
        std::map<int, std::string> seen;
        ui::SetModalHook([&](HWND dialog) {
            seen[dialog->id] = TextsThatDoNotFit(dialog);
            if (dialog->id != 102) return;  // sub-dialogs are cancelled when the hook returns
            for (int button : {1001, 1002, 1003}) {
                if (IsWindowEnabled(GetDlgItem(dialog, button)))
                    EXPECT_EQ(ui::user::Click(GetDlgItem(dialog, button)), "");
            }
        });
        dialog_ = std::make_unique<SetupMainDialog>(*model);
        dialog_->DoModal();
        ui::SetModalHook({});
        ASSERT_EQ(seen.size(), model->hasEmulation ? 3u : 4u) << WideToUtf8(model->programName);
        for (const auto& [id, faults] : seen)
            EXPECT_EQ(faults, "") << WideToUtf8(model->programName) << " dialog " << id;
    }
}

using PaperDialog = SetupTest;

TEST_F(PaperDialog, PresetsAndACustomHeightCutToTenths) {
    Run("click 1001\nexpect-dialog 129\nexpect-caption \"Page Settings\"\nexpect-selected 1003 2\n"
        "expect-item 1003 2 \"80mm x 50.8mm\"\nexpect-text 1005 \"80\"\nexpect-text 1006 \"50.8\"\n"
        "expect-enabled 1005 0\nexpect-enabled 1006 0\n"
        "select 1003 4\nexpect-text 1006 \"101.6\"\nselect 1003 0\nexpect-enabled 1006 1\n"
        "expect-text 1005 \"80\"\nexpect-text 1006 \"101.6\"\nclick 1\n"
        // OK without typing kept 101.6; the dialog shows it again.
        "click 1001\nexpect-selected 1003 0\nexpect-text 1006 \"101.6\"\n"
        "type 1006 45.57\ntype 1007 2x\nclick 1\nclick 1004\nanswer OK\n");
    EXPECT_EQ(Number(u"PHeight"), 455);
    EXPECT_EQ(Number(u"PaperSize"), 0);
    EXPECT_EQ(Number(u"Copies"), 2);
    EXPECT_EQ(Number(u"PWidth"), 80);
}

TEST_F(PaperDialog, AHeightThatIsNoNumberKeepsTheOneBeforeAndATypedWidthIsTaken) {
    qxtest::RegisterDriver(u"", {{u"PaperSize", 0}, {u"PHeight", 600}});
    Run("click 1001\ntype 1006 abc\ntype 1005 72.9\ntype 1007 -3\nclick 1\n"
        "click 1001\ntype 1006 -4\nclick 1\nclose\n");
    EXPECT_EQ(Dialog().record.heightMm, 60);
    EXPECT_EQ(Dialog().record.heightTenths, 0);
    EXPECT_EQ(Dialog().record.paperWidth, 72);
    EXPECT_EQ(Dialog().record.copies, -3);
}

TEST_F(PaperDialog, CustomPaperBoxEnablesTheList) {
    qxtest::RegisterDriver(u"", {{u"UserPaper", 0}});
    Run("click 1001\nexpect-checked 1042 0\nexpect-enabled 1003 0\ncheck 1042 1\nexpect-enabled "
        "1003 1\n"
        "click 1\nclose\n");
    EXPECT_EQ(Dialog().record.userPaper, 1);
}

TEST_F(PaperDialog, OneCheckBoxServesTwoSettingsAcrossEmulationSwitches) {
    // The first start: CPCL with gap, every option clear.
    Run("click 1001\nselect 1004 2\nexpect-text 1025 \"Adjust Printing Position\"\n"
        "expect-text 1023 \"Print after Back-Feed\"\nexpect-enabled 1043 1\ncheck 1023 1\ncheck "
        "1043 1\n"
        "select 1004 0\nexpect-text 1023 \"According to Page Size\"\nexpect-text 1025 \"Printing "
        "Area[Length]\"\n"
        "expect-checked 1023 0\nexpect-enabled 1043 0\ncheck 1023 1\nclick 1\n"
        // ESC/POS now: both buttons on at once, and the dialog opens with it.
        "expect-enabled 1002 1\nexpect-enabled 1006 1\n"
        "click 1001\nexpect-selected 1004 0\nexpect-checked 1023 1\nexpect-enabled 1043 0\n"
        "select 1004 3\nexpect-checked 1023 1\nexpect-checked 1043 1\nclick 2\nclose\n");
    const setup::SettingsRecord& r = Dialog().record;
    EXPECT_EQ(r.emulation, 0);
    EXPECT_EQ(r.backFeed, 1);
    EXPECT_EQ(r.rotation, 1);
    EXPECT_EQ(r.printingLength, 1);
}

TEST_F(PaperDialog, CancelChangesNeitherTheRecordNorTheButtons) {
    Run("click 1001\nselect 1004 0\nselect 1003 1\ntype 1007 9\ncheck 1042 0\nclick 2\n"
        "expect-enabled 1002 0\nclick 1001\nexpect-selected 1004 1\nexpect-selected 1003 2\n"
        "expect-text 1007 \"1\"\nexpect-checked 1042 1\nclick 2\nclose\n");
    const setup::SettingsRecord& r = Dialog().record;
    EXPECT_EQ(r.emulation, 1);
    EXPECT_EQ(r.paperSize, 2);
    EXPECT_EQ(r.copies, 1);
    EXPECT_EQ(r.userPaper, 1);
}

using CommandsDialog = SetupTest;

TEST_F(CommandsDialog, EmptyNumberFieldsKeepZeroAndAnyNumberIsStored) {
    qxtest::RegisterDriver(u"");
    Run("click 1002\nexpect-dialog 130\nexpect-text 1018 \"\"\nexpect-text 1020 \"\"\ntype 1018 "
        "300\n"
        "type 1021 \"Thank you\"\nclick 1\nclick 1002\nexpect-text 1018 \"300\"\nexpect-text 1021 "
        "\"Thank you\"\n"
        "click 2\nclose\n");
    EXPECT_EQ(Dialog().record.startLogo, 300);
    EXPECT_EQ(Dialog().record.endLogo, 0);
    EXPECT_EQ(std::u16string(Dialog().record.endDocText), u"Thank you");
}

TEST_F(CommandsDialog, ApplyWritesOneSetAtOnceAndSaveAfterCancelPutsTheRecordBack) {
    qxtest::RegisterDriver(u"", {{u"StartLogo", 3}, {u"EndLogo", 7}});
    qxtest::SetText(u"StartDocText", u"Welcome");
    qxtest::SetText(u"EndDocText", u"Bye");
    ScriptedMessageBoxes boxes({IDOK});
    bool applied = false;
    ui::SetModalHook([&](HWND d) {
        auto item = [d](int id) { return GetDlgItem(d, id); };
        if (GetDlgItem(d, 1013)) {  // the printer commands dialog
            EXPECT_EQ(ui::user::Type(item(1018), u"5"), "");
            EXPECT_EQ(ui::user::Type(item(1019), u""), "");
            EXPECT_EQ(ui::user::Click(item(1013)), "");
            auto values = Values();
            EXPECT_EQ(Find(values, u"StartLogo")->Number(), 5);
            EXPECT_EQ(Find(values, u"StartDocText")->data.size(), 2u);  // the terminator only
            EXPECT_EQ(Find(values, u"EndLogo")->Number(), 7);
            EXPECT_EQ(Find(values, u"EndDocText")->Text(), u"Bye");
            applied = true;
            EXPECT_EQ(ui::user::Click(item(IDCANCEL)), "");
            return;
        }
        EXPECT_EQ(ui::user::Click(item(1002)), "");
        EXPECT_EQ(ui::user::Click(item(1004)), "");  // Save, answered OK
    });
    SetupMainDialog dialog;
    dialog.DoModal();
    ui::SetModalHook({});
    EXPECT_TRUE(applied);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(Number(u"StartLogo"), 3);
    EXPECT_EQ(Text(u"StartDocText"), u"Welcome");
    EXPECT_EQ(Text(u"EndDocText"), u"Bye");
}

using PortDialog = SetupTest;
constexpr char16_t kPorts[] = u"Printers\\Ports";

TEST_F(PortDialog, ListsNewestFirstAddsAsTheNextNumberAndRefusesAKnownName) {
    qxtest::RegisterDriver(u"");
    qxtest::SetText(u"Port1", u"COM1:", kPorts);
    qxtest::SetText(u"Port2", u"192.168.1.20", kPorts);
    Run("click 1003\nexpect-dialog 131\nexpect-count 1014 2\nexpect-item 1014 0 \"192.168.1.20\"\n"
        "expect-item 1014 1 \"COM1:\"\ntype 1021 \"COM3: 115200\"\nclick 1020\nexpect-count 1014 "
        "3\n"
        "expect-item 1014 2 \"COM3: 115200\"\ntype 1021 com1:\nclick 1020\n"
        "expect-message \"This name already exists!\"\nanswer OK\nexpect-count 1014 3\n"
        // A quick double tap adds twice: the second is refused.
        "type 1021 LPT2:\ndouble-click 1020\nexpect-message \"This name already exists!\"\nanswer "
        "OK\n"
        "expect-count 1014 4\nclick 1\nclose\n");
    auto values = Values(kPorts);
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[2].name, u"Port3");
    EXPECT_EQ(values[2].Text(), u"COM3: 115200");
    EXPECT_EQ(values[3].Text(), u"LPT2:");
    EXPECT_EQ(Dialog().portDialog.portCounter, 4);
}

TEST_F(PortDialog, AValueNameClashShowsBothMessagesAndAddsNothing) {
    qxtest::SetText(u"Port2", u"COM2:", kPorts);
    Run("click 1003\ntype 1021 LPT1:\nclick 1020\nexpect-message \"Value of this name already "
        "exists!\"\n"
        "answer OK\nexpect-message \"This name already exists!\"\nanswer OK\nexpect-count 1014 "
        "1\nclick 1\nclose\n");
    auto values = Values(kPorts);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, u"Port2");
    EXPECT_EQ(Dialog().portDialog.portCounter, 1);
}

TEST_F(PortDialog, RemovingRenumbersInListOrderAndTheLastRemovalDisablesTheButtons) {
    for (auto [name, port] :
         {std::pair{u"Port1", u"COM1:"}, {u"Port2", u"COM2:"}, {u"Port3", u"COM3:"}})
        qxtest::SetText(name, port, kPorts);
    // The list reads COM3:, COM2:, COM1:; the middle one goes.
    Run("click 1003\nexpect-item 1014 1 \"COM2:\"\nselect 1014 1\nclick 1015\nexpect-count 1014 2\n"
        "select 1014 1\nclick 1015\nclick 1016\nselect 1014 0\nclick 1015\n"
        "expect-count 1014 0\nexpect-enabled 1015 0\nexpect-enabled 1016 0\nclick 1\nclose\n");
    EXPECT_TRUE(Values(kPorts).empty());
    EXPECT_EQ(Dialog().portDialog.portCounter, 0);

    for (auto [name, port] :
         {std::pair{u"Port1", u"COM1:"}, {u"Port2", u"COM2:"}, {u"Port3", u"COM3:"}})
        qxtest::SetText(name, port, kPorts);
    Run("click 1003\nselect 1014 1\nclick 1015\nclick 1\nclose\n");
    auto values = Values(kPorts);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, u"Port1");
    EXPECT_EQ(values[0].Text(), u"COM3:");
    EXPECT_EQ(values[1].name, u"Port2");
    EXPECT_EQ(values[1].Text(), u"COM1:");
    EXPECT_EQ(Dialog().portDialog.portCounter, 2);
}

// "DefaultPrintPort" shares the key: it is no entry of the list, is not counted and
// stays; numbers with gaps are all removed and renumbered.
TEST_F(PortDialog, OnlyPortValuesAreListedCountedRemovedAndRenumbered) {
    qxtest::SetText(u"DefaultPrintPort", u"COM1:", kPorts);
    qxtest::SetText(u"Port1", u"COM1:", kPorts);
    qxtest::SetText(u"Port4", u"COM4:", kPorts);
    Run("click 1003\nexpect-count 1014 2\nexpect-item 1014 0 \"COM4:\"\nexpect-item 1014 1 "
        "\"COM1:\"\n"
        "select 1014 1\nclick 1015\nexpect-count 1014 1\ntype 1021 LPT2:\nclick 1020\nexpect-count "
        "1014 2\n"
        "click 1\nclose\n");
    auto values = Values(kPorts);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, u"DefaultPrintPort");
    EXPECT_EQ(values[0].Text(), u"COM1:");
    EXPECT_EQ(values[1].name, u"Port1");
    EXPECT_EQ(values[1].Text(), u"COM4:");
    EXPECT_EQ(values[2].name, u"Port2");
    EXPECT_EQ(values[2].Text(), u"LPT2:");

    // A key holding only Port2: removing it leaves no port to come back.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPorts, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    for (const auto& v : values)
        if (v.name != u"DefaultPrintPort") RegDeleteValueW(key, v.name.c_str());
    RegCloseKey(key);
    qxtest::SetText(u"Port2", u"COM2:", kPorts);
    Run("click 1003\nexpect-count 1014 1\nselect 1014 0\nclick 1015\nexpect-count 1014 0\nclick 1\n"
        "click 1003\nexpect-count 1014 0\nclick 1\nclose\n");
    values = Values(kPorts);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, u"DefaultPrintPort");
}

TEST_F(PortDialog, SelectPortNeedsThePortValueOfTheDriverKey) {
    qxtest::SetNumber(u"Emulation", 1);  // a driver key without "Port"
    qxtest::SetText(u"Port1", u"COM2:", kPorts);
    Run("click 1003\nexpect-text 1017 \"\"\nselect 1014 0\nclick 1016\n"
        "expect-message \"Failed to update the Port!\"\nanswer OK\nexpect-text 1017 \"\"\nclick "
        "1\nclose\n");
    EXPECT_EQ(Text(u"Port"), u"<missing>");

    qxtest::SetText(u"Port", u"");  // as a new key holds it
    Run("click 1003\nexpect-text 1017 \"\"\nselect 1014 0\nclick 1016\nexpect-text 1017 "
        "\"COM2:\"\nclick 1\n"
        "click 1003\nexpect-text 1017 \"COM2:\"\nclick 1\nclose\n");
    EXPECT_EQ(Text(u"Port"), u"COM2:");
}

TEST_F(PortDialog, AMissingPortsKeyIsCreatedEmpty) {
    Run("click 1003\nexpect-count 1014 0\nexpect-enabled 1015 1\nclick 1015\nclick 1016\nclick "
        "1\nclose\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPorts, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(Values(kPorts).empty());
}

}  // namespace
