// Scripted runs of the real QX470SETUP and QX250SETUP programs on a registry file of
// their own: editing and saving the paper settings, pictures of the dialogs in English
// and Korean, and model B's image manager opening its link after the echo.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "child_process.h"
#include "emulator_process.h"
#include "golden_qimage.h"
#include "setup_test_support.h"

namespace {

using namespace setuptest;

struct Outcome {
    int exitCode = -1;
    std::string output;
};

class SetupProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        qxtest::RegisterDriver(u"COM1:", {{u"PaperSize", 2}});
        qxtest::SetText(u"Port1", u"COM1:", u"Printers\\Ports");
        qxtest::SetText(u"Port2", u"192.168.1.20", u"Printers\\Ports");
    }

    // runAs: a command that runs the program as another user, or empty.
    Outcome Start(const std::string& script, bool korean, const char* program = QX470SETUP_BIN,
                  const std::string& runAs = "") {
        std::ofstream(world_.dir() + "/script.txt") << script;
        qxtest::ChildProgram child;
        std::istringstream words(runAs);
        for (std::string word; words >> word;) child.argv.push_back(word);
        child.argv.insert(child.argv.end(), {program, "--script", "script.txt"});
        child.env = {"LC_ALL", "LC_CTYPE", korean ? "LANG=ko_KR.UTF-8" : "LANG=C"};
        child.dir = world_.dir();
        child.mergeErrors = true;
        qxtest::ChildResult run = qxtest::RunChild(child);
        return {run.exitCode, run.out};
    }
    void ExpectGolden(const std::string& file, const std::string& name) {
        QImage picture(QString::fromStdString(world_.dir() + "/" + file));
        ASSERT_FALSE(picture.isNull()) << file;
        EXPECT_EQ(qxtest::CompareWithGolden(picture,
                                            std::string(QX_GOLDEN_DIR) + "/" + name + ".png", name),
                  "");
    }
    void ExpectPictures(const std::string& suffix) {
        for (const char* name : {"main", "paper", "commands", "port", "save"})
            ExpectGolden(std::string(name) + ".png", std::string("setup-") + name + suffix);
    }

    qxtest::TempWorld world_{"qxsetup-run"};
};

// Every dialog in front once, with pictures; the paper edited; then the given end.
std::string Session(const std::string& end) {
    return "expect-caption \"" +
           std::string(end == "save" ? "ARQUENT QX-470 Driver Setup" : "드라이버 설정") +
           "\"\n"
           "screenshot main.png\n"
           "click 1001\nexpect-dialog 129\nscreenshot paper.png\n"
           "select 1003 0\ntype 1006 62.5\ntype 1007 3\nselect 1004 2\ncheck 1023 1\nclick 1\n"
           "expect-enabled 1002 0\n"
           "click 1003\nexpect-dialog 131\nscreenshot port.png\nclick 1\n"
           "click 1004\nscreenshot save.png\n" +
           (end == "save" ? "answer OK\n" : "answer Cancel\nclose\n");
}

TEST_F(SetupProgram, EditsThePaperSettingsAndSavesThem) {
    Outcome run =
        Start("click 1002\nexpect-dialog 130\nscreenshot commands.png\nclick 2\n" + Session("save"),
              false);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Number(u"PHeight"), 625);
    EXPECT_EQ(Number(u"PaperSize"), 0);
    EXPECT_EQ(Number(u"Copies"), 3);
    EXPECT_EQ(Number(u"Emulation"), 2);
    EXPECT_EQ(Number(u"BackFeed"), 1);
    EXPECT_EQ(Number(u"PrintingLength"), 1);  // as it was: the box stood for back-feed
    EXPECT_EQ(Text(u"Port"), u"COM1:");
    ExpectPictures("");
}

TEST_F(SetupProgram, KoreanDialogsAndLeavingWithoutSaving) {
    const std::string before = FileBytes(world_.dir() + "/registry.reg");
    Outcome run =
        Start("click 1002\nexpect-caption \"이미지 저장\"\nscreenshot commands.png\nclick 2\n" +
                  Session("cancel"),
              true);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(FileBytes(world_.dir() + "/registry.reg"), before);
    ExpectPictures("-ko");
}

TEST_F(SetupProgram, HelpAndArgumentsItDoesNotTake) {
    auto run = [](const std::string& argument) {
        qxtest::ChildProgram child;
        child.argv = {QX470SETUP_BIN, argument};
        child.mergeErrors = true;
        qxtest::ChildResult r = qxtest::RunChild(child);
        return Outcome{r.exitCode, r.out};
    };
    Outcome help = run("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("usage: "), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("--script FILE"), std::string::npos);
    // Not a window waiting for a user who asked for something else.
    Outcome unknown = run("--verbose");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.output.find("unknown argument \"--verbose\""), std::string::npos)
        << unknown.output;
}

TEST_F(SetupProgram, ALineThatCannotBeAppliedFailsTheRun) {
    Outcome run =
        Start("click 1001\ntype 1005 90\nclick 1\n", false);  // a preset: the width is disabled
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.output.find("script.txt:2: control 1005 is disabled"), std::string::npos)
        << run.output;
}

// Model B's utility: its own key, no emulation, whole millimetres.
class ModelBProgram : public SetupProgram {
  protected:
    void SetUp() override {
        qxtest::RegisterModelBDriver(u"COM1:");
        qxtest::SetText(u"Port1", u"COM1:", u"Printers\\Ports");
    }
    Outcome StartB(const std::string& script, bool korean) {
        return Start(script, korean, QX250SETUP_BIN);
    }
};

TEST_F(ModelBProgram, EditsACustomSizeInWholeMillimetresAndSavesIt) {
    Outcome run = StartB(
        "expect-caption \"ARQUENT QX-250 Driver Setup\"\nscreenshot main.png\n"
        "click 1001\nexpect-dialog 129\nscreenshot paper.png\n"
        "select 1003 0\ntype 1006 99.9\ntype 1005 57.5\nclick 1\n"
        "click 1004\nanswer OK\n",
        false);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Number(u"PHeight", qxtest::kModelBDriverKey), 99);
    EXPECT_EQ(Number(u"PWidth", qxtest::kModelBDriverKey), 57);
    EXPECT_EQ(Number(u"PaperSize", qxtest::kModelBDriverKey), 0);
    for (const char* value : {"Emulation", "BackFeed", "Rotation"})
        EXPECT_EQ(Number(std::u16string(value, value + std::strlen(value)).c_str(),
                         qxtest::kModelBDriverKey),
                  -999);
    ExpectGolden("main.png", "setup-b-main");
    ExpectGolden("paper.png", "setup-b-paper");
}

TEST_F(ModelBProgram, KoreanDialogs) {
    Outcome run =
        StartB("screenshot main.png\nclick 1001\nscreenshot paper.png\nclick 2\nclose\n", true);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    ExpectGolden("main.png", "setup-b-main-ko");
    ExpectGolden("paper.png", "setup-b-paper-ko");
}

TEST_F(ModelBProgram, TheImageManagerConnectsAfterTheEchoAndAnUnknownNameFailsToOpen) {
    qxtest::EmulatorProcess printer(QX_EMULATOR_BIN);
    ASSERT_TRUE(
        printer.Start({"--model", "b", "--tcp", "127.0.44.1:9100", "--out", world_.dir() + "/out"}))
        << printer.firstLine;
    Outcome run = StartB(
        "click 1006\nexpect-dialog 144\nselect 1003 10\ntype 1005 127.0.44.1\nclick 1013\n"
        "expect-enabled 1014 1\nexpect-enabled 1013 0\nclick 1014\n"
        "type 1005 no-such-printer.invalid\nclick 1013\n"
        "expect-message \"Invaliad Address.\"\nexpect-caption \"ERROR\"\nanswer OK\n"
        "expect-message \"Open Failed\"\nanswer OK\nexpect-enabled 1013 1\nexpect-enabled 1014 0\n"
        "close\nclose\n",
        false);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(printer.Stop(), 0);
}

// A user who may open no ICMP socket (outside the system's ping group, not root) is told
// that the echo cannot start, not only that the link failed.
TEST_F(ModelBProgram, AUserWithoutIcmpSocketsIsToldThePingCannotStart) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as a user outside the ping group";
    std::ifstream range("/proc/sys/net/ipv4/ping_group_range");
    long first = 0, last = 0;
    range >> first >> last;
    if (first <= 65534 && 65534 <= last) GTEST_SKIP() << "nobody may open ICMP sockets here";
    ASSERT_EQ(::chmod(world_.dir().c_str(), 0755), 0);
    Outcome run = Start(
        "click 1006\nexpect-dialog 144\nselect 1003 10\ntype 1005 127.0.44.2\nclick 1013\n"
        "expect-message \"Can't intialize Ping.\"\nexpect-caption \"ERROR\"\nanswer OK\n"
        "expect-message \"Open Failed\"\nanswer OK\nexpect-enabled 1013 1\nclose\nclose\n",
        false, QX250SETUP_BIN, "setpriv --reuid=65534 --regid=65534 --clear-groups");
    EXPECT_EQ(run.exitCode, 0) << run.output;
}

// Settings the user cannot store: a registry file made read-only, and (run as another
// user, where the tests run as root) a file and folder that belong to someone else.
// Both programs say that nothing was saved and stay open with the edits; nothing changes.
TEST_F(SetupProgram, SettingsThatCannotBeStoredAreSaidSoAndTheProgramStaysOpen) {
    const std::string registry = world_.dir() + "/registry.reg";
    const std::string notSaved =
        "expect-message \"The driver settings could not be saved\\n(registry error %d).\\n"
        "Nothing was changed.\"\nanswer OK\nexpect-dialog 102\n";
    auto script = [&](int error) {
        char text[512];
        std::snprintf(text, sizeof text, notSaved.c_str(), error);
        return "click 1001\ntype 1007 3\nclick 1\nclick 1004\nanswer OK\n" + std::string(text) +
               "click 1001\nexpect-text 1007 \"3\"\nclick 2\nclose\n";
    };
    qxtest::RegisterModelBDriver(u"COM1:");
    ASSERT_EQ(::chmod(registry.c_str(), 0444), 0);
    const std::string before = FileBytes(registry);
    for (const char* program : {QX470SETUP_BIN, QX250SETUP_BIN}) {
        SCOPED_TRACE(program);
        Outcome run = Start(script(5), false, program);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(FileBytes(registry), before);
    }
    if (::geteuid() != 0) return;
    // Root writes anything that has a write bit: another user meets the folder's and the
    // file's modes.
    ASSERT_EQ(::chmod(registry.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(world_.dir().c_str(), 0755), 0);
    for (const char* program : {QX470SETUP_BIN, QX250SETUP_BIN}) {
        SCOPED_TRACE(program);
        Outcome run =
            Start(script(5), false, program, "setpriv --reuid=65534 --regid=65534 --clear-groups");
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(FileBytes(registry), before);
    }
}

}  // namespace
