// The PrintDemo program itself, in a process of its own with a scripted run: what it
// prints into the emulator and how its dialog and message box look.
#include <fstream>

#include "child_process.h"
#include "golden_qimage.h"
#include "print_demo_test_support.h"

namespace {

using printdemo::testing::ExpectGoldenPage;
using printdemo::testing::PrinterWorld;

struct Outcome {
    int exitCode = -1;
    std::string output;  // standard output and error
};

Outcome RunProgram(const PrinterWorld& world, const std::string& script) {
    std::ofstream(world.Dir() + "/script.txt") << script;
    qxtest::ChildProgram program;
    program.argv = {QX_PRINTDEMO_BIN, "--script", "script.txt"};
    program.env = {"QX_REGISTRY=" + world.Registry()};
    program.dir = world.Dir();
    program.mergeErrors = true;
    qxtest::ChildResult run = qxtest::RunChild(program);
    return {run.exitCode, run.out};
}

void ExpectGoldenPicture(const PrinterWorld& world, const std::string& name) {
    QImage picture(QString::fromStdString(world.Dir() + "/" + name + ".png"));
    ASSERT_FALSE(picture.isNull()) << name;
    EXPECT_EQ(
        qxtest::CompareWithGolden(picture, std::string(QX_GOLDEN_DIR) + "/" + name + ".png", name),
        "");
}

TEST(PrintDemoProgram, ALabelAndASampleLabelFromTheDialog) {
    PrinterWorld world("127.0.54.11");
    Outcome run =
        RunProgram(world,
                   "expect-caption PrintDemo\nscreenshot printdemo-dialog.png\nclick 1000\n"
                   "click 1004\nfile " +
                       world.TestPicture() + "\nclick 1003\n");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    ExpectGoldenPicture(world, "printdemo-dialog");
    auto pages = world.Pages();
    ASSERT_EQ(pages.size(), 2u);
    ExpectGoldenPage(pages[0], "printdemo-label");
    ExpectGoldenPage(pages[1], "printdemo-sample-label");
}

TEST(PrintDemoProgram, NoPrinterShowsTheMessageAndTheCaptionOkButtonEndsTheProgram) {
    PrinterWorld world;
    Outcome run =
        RunProgram(world,
                   "click 1001\nfile /tmp/any.bmp\nscreenshot printdemo-no-dc.png\nanswer OK\n"
                   "caption-ok\n");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    ExpectGoldenPicture(world, "printdemo-no-dc");
}

}  // namespace
