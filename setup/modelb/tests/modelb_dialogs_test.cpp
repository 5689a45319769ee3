// Model B's utility in process, played by the user on a real registry file: the key it
// creates, whole millimetres in the paper dialog, the buttons that need no emulation,
// and the values of model A it never touches.
#include "setup_test_support.h"

using namespace wce;
using namespace setuptest;

namespace {

constexpr const char16_t* kKey = qxtest::kModelBDriverKey;

class ModelB : public SetupTest {
  protected:
    int RunB(const std::string& script) { return Run(script, setup::ModelB()); }
    int Stored(const char16_t* name) { return Number(name, kKey); }
};

TEST_F(ModelB, FirstStartWritesModelBsKeyAndThePaperDialogShowsItsDefault) {
    RunB(
        "expect-dialog 102\nexpect-caption \"ARQUENT QX-250 Driver Setup\"\n"
        "expect-text 1041 \"QX-250 Printer Driver's Settings\"\n"
        // No emulation can disable them.
        "expect-enabled 1002 1\nexpect-enabled 1006 1\n"
        "click 1001\nexpect-dialog 129\nexpect-caption \"Paper Settings\"\n"
        "expect-count 1003 12\nexpect-selected 1003 2\nexpect-item 1003 2 \"58mm x 80mm\"\n"
        "expect-item 1003 11 \"58mm x 3276mm\"\n"
        "expect-text 1005 \"58\"\nexpect-text 1006 \"80\"\nexpect-enabled 1005 0\nexpect-enabled "
        "1006 0\n"
        "expect-text 1032 \"Width x Height\"\nexpect-checked 1023 0\nexpect-text 1023 \"According "
        "to Page Size\"\n"
        "click 2\nclose\n");
    const std::pair<const char16_t*, std::u16string> texts[] = {{u"Driver", u"QX250.dll"},
                                                                {u"Color", u"Monochrome"},
                                                                {u"Draft Quality", u"75"},
                                                                {u"High Quality", u"300"},
                                                                {u"Port", u""},
                                                                {u"StartDocText", u""},
                                                                {u"EndDocText", u""}};
    const std::pair<const char16_t*, int> numbers[] = {
        {u"PHeight", 80},  {u"PWidth", 58}, {u"PaperSize", 2},      {u"Copies", 1},
        {u"StartLogo", 0}, {u"EndLogo", 0}, {u"PrintingLength", 1}, {u"UserPaper", 1}};
    auto values = Values(kKey);
    ASSERT_EQ(values.size(), 15u);
    size_t i = 0;
    for (auto [name, text] : texts) {
        EXPECT_EQ(values[i].name, name);
        EXPECT_EQ(values[i++].Text(), text);
    }
    for (auto [name, number] : numbers) {
        EXPECT_EQ(values[i].name, name);
        EXPECT_EQ(values[i].type, REG_DWORD);
        EXPECT_EQ(values[i++].Number(), number) << WideToUtf8(name);
    }
    EXPECT_TRUE(Values(qxtest::kDriverKey).empty());  // model A's key is not made
    const setup::SettingsRecord& r = Dialog().record;
    EXPECT_EQ(r.paperSize, 2);
    EXPECT_EQ(r.paperWidth, 58);
    EXPECT_EQ(r.heightMm, 80);
    EXPECT_EQ(r.heightTenths, 0);
    EXPECT_EQ(r.printingLength, 0);
    EXPECT_EQ(r.userPaper, 1);
    EXPECT_EQ(std::u16string(r.driverName), u"QX250.dll");
}

TEST_F(ModelB, TheDialogHasFifteenControlsAndNoneOfModelAsEmulation) {
    EXPECT_EQ(setup::ModelB().paperTemplate->controls.size(), 15u);
    PaperSettingsDialog dialog(setup::ModelB());
    ASSERT_TRUE(dialog.Create());
    for (int id : {1004, 1034, 1043}) EXPECT_EQ(GetDlgItem(dialog.Handle(), id), nullptr) << id;
    for (int id :
         {1003, 1005, 1006, 1007, 1023, 1024, 1025, 1030, 1031, 1032, 1033, 1042, IDOK, IDCANCEL})
        EXPECT_NE(GetDlgItem(dialog.Handle(), id), nullptr) << id;
    dialog.DestroyWindow();
}

TEST_F(ModelB, CustomSizesAreCutToWholeMillimetresAndModelAsValuesStayUntouched) {
    // A key that also holds model A's three values, as a copied key would.
    qxtest::RegisterModelBDriver(u"COM1:", {{u"Emulation", 2}, {u"BackFeed", 1}, {u"Rotation", 1}});
    RunB(
        "click 1001\nselect 1003 0\nexpect-enabled 1005 1\nexpect-text 1006 \"80\"\n"
        "type 1006 99.9\ntype 1005 57.5\ntype 1007 2\ncheck 1023 0\nclick 1\n"
        "click 1004\nanswer OK\n");
    EXPECT_EQ(Stored(u"PHeight"), 99);
    EXPECT_EQ(Stored(u"PWidth"), 57);
    EXPECT_EQ(Stored(u"PaperSize"), 0);
    EXPECT_EQ(Stored(u"Copies"), 2);
    EXPECT_EQ(Stored(u"PrintingLength"), 0);
    EXPECT_EQ(Stored(u"Emulation"), 2);
    EXPECT_EQ(Stored(u"BackFeed"), 1);
    EXPECT_EQ(Stored(u"Rotation"), 1);
    // Opening again shows what was stored, in whole millimetres.
    RunB(
        "click 1001\nexpect-selected 1003 0\nexpect-text 1005 \"57\"\nexpect-text 1006 \"99\"\n"
        "expect-checked 1023 0\ncheck 1023 1\nclick 1\nclick 1004\nanswer OK\n");
    EXPECT_EQ(Stored(u"PrintingLength"), 1);
    EXPECT_EQ(Dialog().record.heightTenths, 0);
}

TEST_F(ModelB, PresetsTakeTheTableAndNonsenseKeepsTheHeightBefore) {
    qxtest::RegisterModelBDriver(u"COM1:", {{u"PaperSize", 5}, {u"PWidth", 40}, {u"PHeight", 33}});
    RunB(
        "click 1001\nexpect-text 1005 \"58\"\nexpect-text 1006 \"140\"\n"
        "select 1003 10\nexpect-text 1006 \"2970\"\nselect 1003 0\nexpect-text 1006 \"2970\"\n"
        "type 1006 tall\ntype 1005 -3\nclick 1\nclick 1004\nanswer OK\n");
    EXPECT_EQ(Stored(u"PHeight"), 2970);
    EXPECT_EQ(Stored(u"PWidth"), 58);
    EXPECT_EQ(Stored(u"PaperSize"), 0);
}

TEST_F(ModelB, KoreanCaptions) {
    UseLanguage(true);
    RunB(
        "expect-caption \"드라이버 설정\"\nexpect-text 1041 \"QX-250 프린터 드라이버 설정\"\n"
        "click 1001\nexpect-caption \"페이지 설정\"\nexpect-text 1024 \"페이지 설정\"\n"
        "expect-text 1030 \"용지 이름 : \"\nexpect-text 1031 \"용지 크기 : \"\nexpect-text 1033 "
        "\"인쇄 매수 : \"\n"
        "expect-text 1032 \"가로 x 세로\"\nexpect-text 1025 \"인쇄 영역[길이]\"\n"
        "expect-text 1023 \"용지 크기에 맞게 인쇄\"\nexpect-text 1042 \"사용자 용지 사용\"\n"
        "expect-text 1 \"확인\"\nexpect-text 2 \"취소\"\nclick 2\nclose\n");
}

}  // namespace
