// PrintDemo's dialog in process, played by scripts as the user would, printing
// through the driver into the emulator; the engine's journal tells where things went.
#include <algorithm>
#include <fstream>

#include "print_demo.h"
#include "print_demo_test_support.h"
#include "wce/dialogapp.h"

namespace {

using namespace wce;
using printdemo::testing::ExpectGoldenPage;
using printdemo::testing::PrinterWorld;

struct Session {
    std::vector<GdiJournalEntry> journal;  // the printing calls
    std::string error;                     // the script's, empty when it played through
};

Session Play(const std::string& script) {
    printdemo::RegisterPrintDemoIcons();
    EnableGdiJournal(true);
    TakeGdiJournal();
    Session run;
    {
        ui::ScriptRun lines(script + "click 1003\n", "session");
        printdemo::PrintDemoDialog dialog;
        EXPECT_EQ(dialog.DoModal(), IDOK);
        if (!lines.Finish()) run.error = lines.Error();
    }
    // From the first document on: the dialog's own font comes before.
    std::vector<GdiJournalEntry> all = TakeGdiJournal();
    auto first =
        std::find_if(all.begin(), all.end(), [](auto& e) { return e.call == "StartDocW"; });
    run.journal.assign(std::make_move_iterator(first), std::make_move_iterator(all.end()));
    EnableGdiJournal(false);
    return run;
}

std::vector<std::string> Calls(const Session& run) {
    std::vector<std::string> calls;
    for (const GdiJournalEntry& e : run.journal) calls.push_back(e.call);
    return calls;
}

std::vector<LONG> TextTops(const Session& run) {
    std::vector<LONG> tops;
    for (const GdiJournalEntry& e : run.journal)
        if (e.call == "DrawTextW") tops.push_back(e.rect.top);
    return tops;
}

const GdiJournalEntry* Find(const Session& run, const std::string& call) {
    auto it = std::find_if(run.journal.begin(), run.journal.end(),
                           [&](auto& e) { return e.call == call; });
    return it == run.journal.end() ? nullptr : &*it;
}

// clang-format off
const std::vector<std::string> kLabelCalls{"StartDocW", "StartPage", "CreateFontIndirectW",
                                           "DrawTextW", "DrawTextW", "DrawTextW",
                                           "DrawTextW", "DrawTextW", "DrawTextW",
                                           "EndPage", "EndDoc"};
// clang-format on

TEST(PrintDemo, TheLabelHasItsHeadingAtTheTopAndFiveLinesBelowTwiceInARow) {
    PrinterWorld world("127.0.54.1");
    Session run = Play("click 1000\nclick 1000\n");
    EXPECT_EQ(run.error, "");
    std::vector<std::string> twice = kLabelCalls;
    twice.insert(twice.end(), kLabelCalls.begin(), kLabelCalls.end());
    EXPECT_EQ(Calls(run), twice);
    EXPECT_EQ(TextTops(run),
              (std::vector<LONG>{0, 54, 81, 108, 135, 162, 0, 54, 81, 108, 135, 162}));
    const GdiJournalEntry& heading = run.journal[3];
    EXPECT_EQ(heading.text, u"Print Driver Sample Print");
    EXPECT_EQ(heading.rect.right, 576);
    EXPECT_EQ(heading.rect.bottom, 1000);
    EXPECT_EQ(heading.args, std::vector<long>{long(DT_WORDBREAK)});
    EXPECT_EQ(run.journal[8].text, u"TEST Line 5");
    EXPECT_EQ(run.journal[0].text, u"PrintDemo");
    EXPECT_EQ(run.journal[2].text, u"Arial");
    EXPECT_EQ(run.journal[2].args, (std::vector<long>{24, 12, 0}));

    // Both are out of the printer before the program ends: nothing holds its port.
    auto pages = world.FinishedPages(2);
    ASSERT_EQ(pages.size(), 2u);
    ExpectGoldenPage(pages[0], "printdemo-label");
    ExpectGoldenPage(pages[1], "printdemo-label");
}

TEST(PrintDemo, ABitmapIsCopiedAtItsOwnSizeBelowItsHeading) {
    PrinterWorld world("127.0.54.2");
    Session run = Play("click 1001\nfile " + world.TestPicture() + "\n");
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(Calls(run),
              (std::vector<std::string>{"StartDocW", "StartPage", "CreateFontIndirectW",
                                        "DrawTextW", "StretchBlt", "EndPage", "EndDoc"}));
    EXPECT_EQ(run.journal[3].text, u"Print Bitmap");
    EXPECT_EQ(run.journal[3].rect.top, 0);
    const GdiJournalEntry& copy = run.journal[4];
    EXPECT_EQ(copy.rect.left, 0);
    EXPECT_EQ(copy.rect.top, 27);
    EXPECT_EQ(copy.rect.right, 200);
    EXPECT_EQ(copy.rect.bottom, 127);
    EXPECT_EQ(copy.args, (std::vector<long>{0, 0, 200, 100, long(SRCCOPY)}));

    auto pages = world.Pages();
    ASSERT_EQ(pages.size(), 1u);
    ExpectGoldenPage(pages[0], "printdemo-bitmap");
}

TEST(PrintDemo, TheSampleLabelPutsTheBitmapBelowTheFifthLine) {
    PrinterWorld world("127.0.54.3");
    Session run = Play("click 1004\nfile " + world.TestPicture() + "\n");
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.journal[0].text, u"Sample");
    EXPECT_EQ(TextTops(run), (std::vector<LONG>{0, 54, 81, 108, 135, 162}));
    const GdiJournalEntry* copy = Find(run, "StretchBlt");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->rect.top, 189);
    EXPECT_EQ(copy->rect.bottom, 289);

    auto pages = world.Pages();
    ASSERT_EQ(pages.size(), 1u);
    ExpectGoldenPage(pages[0], "printdemo-sample-label");
}

TEST(PrintDemo, AnImageTheLoaderCannotReadLeavesTheTextsAndEndsTheDocument) {
    PrinterWorld world("127.0.54.4");
    std::string broken = world.Dir() + "/broken.bmp";
    std::ofstream(broken) << "BM this is no bitmap";
    std::string missing = world.Dir() + "/missing.jpg";
    Session run = Play("click 1004\nfile " + broken + "\nclick 1001\nfile " + missing + "\n");
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(Find(run, "StretchBlt"), nullptr);
    std::vector<std::string> sample(kLabelCalls.begin(), kLabelCalls.end() - 2);
    sample.push_back("EndDoc");
    for (const char* call :
         {"StartDocW", "StartPage", "CreateFontIndirectW", "DrawTextW", "EndDoc"})
        sample.push_back(call);
    EXPECT_EQ(Calls(run), sample);

    // The document's end prints the open page: the label's texts and nothing else.
    auto pages = world.Pages();
    ASSERT_EQ(pages.size(), 2u);
    ExpectGoldenPage(pages[0], "printdemo-label");
    ExpectGoldenPage(pages[1], "printdemo-bitmap-heading");
}

TEST(PrintDemo, WithoutAPrinterEachButtonSaysSoAndACancelledFileDialogAsksForNone) {
    PrinterWorld world;  // a registry with no printer in it
    // Were a printer asked for after a cancelled file dialog, its message box would
    // take the next click and fail the script.
    Session run = Play(
        "click 1001\nanswer Cancel\nclick 1004\nanswer Cancel\n"
        "click 1000\nexpect-caption ERROR\nexpect-message \"Failed to Creating DC\"\nanswer OK\n"
        "click 1001\nfile /tmp/any.bmp\nexpect-message \"Failed to Creating DC\"\nanswer OK\n"
        "click 1004\nfile /tmp/any.bmp\nexpect-message \"Failed to Creating DC\"\nanswer OK\n");
    EXPECT_EQ(run.error, "");
    EXPECT_TRUE(run.journal.empty());
}

TEST(PrintDemo, TheDialogOpensInTheMiddleOfTheScreen) {
    printdemo::RegisterPrintDemoIcons();
    printdemo::PrintDemoDialog dialog;
    ASSERT_TRUE(dialog.Create());
    RECT r{};
    ASSERT_TRUE(GetWindowRect(dialog.Handle(), &r));
    // The headless desktop is the handheld's 240 x 320 screen.
    EXPECT_EQ(r.left, (240 - (r.right - r.left)) / 2);
    EXPECT_EQ(r.top, (320 - (r.bottom - r.top)) / 2);
    EXPECT_GT(r.left, 0);
    dialog.DestroyWindow();
}

}  // namespace
