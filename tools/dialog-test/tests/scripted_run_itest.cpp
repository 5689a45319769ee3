// Scripted runs of qx-dialog-test, the program itself in a process of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "child_process.h"
#include "golden_qimage.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int exitCode = -1;
    std::string output;  // standard output and error
};

class ScriptedRun : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = folder_.path(); }

    // The language comes from the locale variables; LC_ALL wins over whatever the caller has.
    Outcome Start(const std::string& script, const std::string& environment = "LC_ALL=C.UTF-8") {
        std::ofstream(dir_ / "script.txt") << script;
        qxtest::ChildProgram program;
        program.argv = qxtest::ShellLine(environment + " '" QX_DIALOG_TEST "' --script script.txt");
        program.dir = dir_.string();
        program.mergeErrors = true;
        qxtest::ChildResult run = qxtest::RunChild(program);
        return {run.exitCode, run.out};
    }
    QImage Picture(const std::string& name) {
        return QImage(QString::fromStdString((dir_ / name).string()));
    }
    void ExpectGolden(const std::string& name) {
        QImage picture = Picture(name + ".png");
        ASSERT_FALSE(picture.isNull()) << name;
        EXPECT_EQ(qxtest::CompareWithGolden(picture,
                                            std::string(QX_GOLDEN_DIR) + "/" + name + ".png", name),
                  "");
    }
    qxtest::TempDir folder_{"qx-dialog-test"};
    fs::path dir_;
};

const char* const kSession = R"(# add two names, remove one after a question, pick a file
expect-enabled 1005 0
type 1002 Charlie
click 1003
type 1002 "alpha"
click 1003
expect-count 1004 2
expect-item 1004 0 "alpha"
expect-enabled 1005 1
select 1007 "Network"
screenshot main.png
click 1005
expect-message "Remove the selected name?"
answer Yes
expect-count 1004 1
click 1009
file /tmp/pictures/logo.bmp
expect-text 1010 "logo.bmp"
click 1
)";

TEST_F(ScriptedRun, ASessionOfTheProgramAndItsPicture) {
    Outcome run = Start(kSession);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("result 1, name \"alpha\", kind 1, ask 1"), std::string::npos)
        << run.output;
    ExpectGolden("main");
}

TEST_F(ScriptedRun, KoreanTextsWhenTheCodePageIs949) {
    Outcome run = Start(
        "expect-caption \"대화 상자 시험\"\nclick 1003\nexpect-message \"이름을 입력하세요.\"\n"
        "screenshot message-ko.png\nanswer OK\nscreenshot main-ko.png\nclick 2\n",
        "LC_ALL=ko_KR.UTF-8");
    EXPECT_EQ(run.exitCode, 1) << run.output;  // cancelled
    ExpectGolden("main-ko");
    ExpectGolden("message-ko");
}

TEST_F(ScriptedRun, ALineThatCannotBeAppliedFailsTheRunNamingIt) {
    Outcome run = Start("type 1002 x\nclick 1005\nclick 1\n");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.output.find("script failed: script.txt:2: control 1005 is disabled: click 1005"),
              std::string::npos)
        << run.output;

    run = Start("click 1003\nanswer Cancel\n");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(
        run.output.find(
            "script.txt:2: the message box \"Dialog Test\" has no Cancel button: answer Cancel"),
        std::string::npos)
        << run.output;

    run = Start("click 2\nclick 1\n");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(
        run.output.find("script.txt:2: no dialog or message box is open for this line: click 1"),
        std::string::npos)
        << run.output;
}

TEST_F(ScriptedRun, HeadlessRunsNeedNoWidgetsButTakeNoPictures) {
    Outcome run =
        Start("type 1002 x\nclick 1003\nscreenshot x.png\n", "LC_ALL=C.UTF-8 QX_UI=headless");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.output.find(
                  "script.txt:3: screenshots need the Qt backend (--ui qt): screenshot x.png"),
              std::string::npos)
        << run.output;
    run = Start("click 1\n", "LC_ALL=C.UTF-8 QX_UI=headless");
    EXPECT_EQ(run.exitCode, 0) << run.output;
}

}  // namespace
