// The test page pressed in the main dialog, printed through the engine and QX470.dll
// (model B's through QX250.dll into a model-B emulator) against golden pictures; and the
// message when no printer answers.
#include <QImage>
#include <algorithm>

#include "../../tests/support/emulator_process.h"
#include "golden_page.h"
#include "png_io.h"
#include "setup_test_support.h"
#include "test_page.h"
#include "wce/gdi.h"

using namespace wce;
using namespace setuptest;

namespace {

class TestPage : public SetupTest {
  protected:
    void SetUp() override {
        SetupTest::SetUp();
        // 13:30:05 on 5 March 2010.
        setup::SetTestPageClock([] { return setup::LocalTime{2010, 3, 5, 13, 30, 5}; });
    }
    void TearDown() override { setup::SetTestPageClock({}); }

    void StartPrinter(const std::string& address) {
        ASSERT_TRUE(emulator_.Start(
            {"--tcp", address + ":9100", "--out", world_.dir() + "/out", "--idle-ms", "0"}))
            << emulator_.firstLine;
        qxtest::RegisterDriver(std::u16string(address.begin(), address.end()));
    }
    void StartModelBPrinter(const std::string& address,
                            std::initializer_list<std::pair<const char16_t*, int>> numbers) {
        model_ = &setup::ModelB();
        ASSERT_TRUE(emulator_.Start({"--model", "b", "--tcp", address + ":9100", "--out",
                                     world_.dir() + "/out", "--idle-ms", "0"}))
            << emulator_.firstLine;
        qxtest::RegisterModelBDriver(std::u16string(address.begin(), address.end()), numbers);
    }

    // The lines the page drew: text and top, in order.
    std::vector<std::pair<std::u16string, long>> PrintAndJournal(const std::string& script) {
        EnableGdiJournal(true);
        Run(script, *model_);
        std::vector<std::pair<std::u16string, long>> lines;
        for (const GdiJournalEntry& e : TakeGdiJournal())
            if (e.call == "DrawTextW" && e.rect.right == model_->pageRight) {
                lines.emplace_back(e.text, e.rect.top);
                bottom_ = e.rect.bottom;
            }
        EnableGdiJournal(false);
        EXPECT_EQ(emulator_.Stop(), 0);
        return lines;
    }

    void ExpectGolden(const std::string& name) {
        auto files = qxtest::PngFiles(world_.dir() + "/out");
        ASSERT_EQ(files.size(), 1u);
        qxemu::Bitmap page;
        std::string error;
        ASSERT_TRUE(qxemu::ReadPng(files[0], &page, &error)) << error;
        auto outcome =
            qxtest::CheckGolden(page, std::string(QX_SOURCE_DIR) + "/tests/golden/" + name + ".png",
                                name + "-diff.png");
        EXPECT_TRUE(outcome.matched) << outcome.message;
    }

    qxtest::EmulatorProcess emulator_{QX_EMULATOR_BIN};
    const setup::SetupModel* model_ = &setup::ModelA();
    long bottom_ = -1;
};

TEST_F(TestPage, EscPosOnTwoInchesKeepsTheLinesAboveTheEdge) {
    StartPrinter("127.0.16.1");
    qxtest::SetNumber(u"PaperSize", 2);
    auto lines = PrintAndJournal("click 1005\nclose\n");
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(bottom_, 406);
    const long tops[] = {0, 54, 162, 243, 270, 297, 324, 351, 378, 405, 432, 459, 486, 567};
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].second, tops[i]) << i;
    EXPECT_EQ(lines[4].first, u"    01:30:05 PM 03/05/2010");
    EXPECT_EQ(lines[6].first, u"Emulation : ESC/POS");
    EXPECT_EQ(lines[8].first, u"Port name(s) : 127.0.16.1");
    EXPECT_EQ(lines[10].first, u"Driver name : QX470.dll");
    ExpectGolden("setup-testpage-escpos-508-en");
}

TEST_F(TestPage, EditedSettingsArePrintedAndStayWrittenAfterExit) {
    StartPrinter("127.0.16.2");
    qxtest::SetNumber(u"Emulation", 1);
    qxtest::SetNumber(u"PaperSize", 2);
    auto lines =
        PrintAndJournal("click 1001\nselect 1003 0\ntype 1006 100\nclick 1\nclick 1005\nclose\n");
    EXPECT_EQ(bottom_, 609);
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[6].first, u"Emulation : CPCL");
    EXPECT_EQ(Number(u"PHeight"), 1000);
    EXPECT_EQ(Number(u"PaperSize"), 0);
    ExpectGolden("setup-testpage-cpcl-1000-en");
}

TEST_F(TestPage, KoreanPageOnFourInches) {
    UseLanguage(true);
    StartPrinter("127.0.16.3");
    qxtest::SetNumber(u"PHeight", 1000);
    auto lines = PrintAndJournal("click 1005\nclose\n");
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[3].first, u"    오후 01:30:05 2010-03-05");
    EXPECT_EQ(lines[12].second, 108 + 81 + 27 * 9 + 44);
    ExpectGolden("setup-testpage-escpos-1000-ko");
}

TEST_F(TestPage, TheEmulationLineTellsWhatWasLoadedWhileTheDriverPrintsTheNewOne) {
    UseLanguage(true);
    StartPrinter("127.0.16.4");
    auto lines = PrintAndJournal("click 1001\nselect 1004 1\nclick 1\nclick 1005\nclose\n");
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[5].first, u"Emulation : ESC/POS");
    EXPECT_EQ(Number(u"Emulation"), 1);
    ExpectGolden("setup-testpage-cpcl-508-ko");
}

TEST_F(TestPage, ModelBOnEightyMillimetresIs384DotsWideWithoutAnEmulationLine) {
    StartModelBPrinter("127.0.16.5", {});
    auto lines = PrintAndJournal("click 1005\nclose\n");
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(bottom_, 639);  // trunc(80 / 25.4 * 203), not whole inches
    EXPECT_EQ(lines[1].first,
              u"If you can read this information, you have correctly installed your ARQUENT QX-250 "
              u"on Windows CE.");
    EXPECT_EQ(lines[5].first, u"Printer model : ARQUENT QX-250");
    EXPECT_EQ(lines[6].first, u"Color support : No");
    EXPECT_EQ(lines[7].first, u"Port name(s) : 127.0.16.5");
    EXPECT_EQ(lines[9].first, u"Driver name : QX250.dll");
    EXPECT_EQ(lines[12].first, u"This is the end of the printer test page.");
    ExpectGolden("setup-testpage-modelb-80-en");
    // What the page wrote first is model B's key, in whole millimetres and nothing more.
    EXPECT_EQ(Number(u"PHeight", qxtest::kModelBDriverKey), 80);
    EXPECT_EQ(Number(u"Emulation", qxtest::kModelBDriverKey), -999);
}

TEST_F(TestPage, ModelBOnSixtyMillimetresDrawsTheLastLineBelowTheRectangle) {
    StartModelBPrinter("127.0.16.6", {{u"PaperSize", 1}});
    auto lines = PrintAndJournal("click 1005\nclose\n");
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(bottom_, 479);
    const long tops[] = {0, 54, 162, 243, 270, 297, 324, 351, 378, 405, 432, 459, 540};
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].second, tops[i]) << i;
}

TEST_F(TestPage, ModelBInKorean) {
    UseLanguage(true);
    StartModelBPrinter("127.0.16.7", {{u"PaperSize", 0}, {u"PHeight", 100}});
    auto lines = PrintAndJournal("click 1005\nclose\n");
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(bottom_, 799);
    EXPECT_EQ(
        lines[0].first,
        u"이 정보를 읽을 수 있으면, ARQUENT 2-인치 모바일 영수증 프린터를 제대로 설치한 것입니다.");
    EXPECT_EQ(lines[4].first, u"프린터 모델 : ARQUENT QX-250");
    EXPECT_EQ(lines[11].second, 108 + 81 + 27 * 8 + 44);
    ExpectGolden("setup-testpage-modelb-100-ko");
}

TEST_F(TestPage, NoDeviceContextWhenThePortDoesNotOpen) {
    qxtest::RegisterDriver(u"COM5:");
    qxtest::SetText(u"COM5:", u"/nonexistent/qx-tty", u"Platform\\Devices");
    Run("click 1001\ntype 1007 3\nclick 1\nclick 1005\nexpect-message \"Error Creating DC\"\n"
        "expect-caption \"Error\"\nanswer OK\nclose\n");
    EXPECT_EQ(Number(u"Copies"), 3);  // written before printing, and kept
    UseLanguage(true);
    Run("click 1005\nexpect-message \"프린터 DC 생성 에러\"\nexpect-caption \"에러\"\nanswer "
        "OK\nclose\n");
}

}  // namespace
