// The system installed into a scratch root as `cmake --install` puts it, then used from
// there: the installed qx-print and PrintDemo print into the installed emulator through
// the installed driver, with nothing of the build tree in reach.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "child_process.h"
#include "driver_key.h"
#include "emulator_process.h"
#include "golden_page.h"
#include "png_io.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string output;
};

// A shell command line; its standard output and error together.
Outcome Shell(const std::string& command) {
    qxtest::ChildProgram program;
    program.argv = qxtest::ShellLine(command);
    program.mergeErrors = true;
    program.timeLimit = std::chrono::minutes(5);  // the install copies the whole build
    qxtest::ChildResult run = qxtest::RunChild(program);
    return {run.exitCode, run.out + (run.timedOut ? "\n(killed after its time limit)" : "")};
}

std::string Read(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Value(const std::string& desktopEntry, const std::string& key) {
    std::istringstream lines(desktopEntry);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return {};
}

class Installed : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = new qxtest::TempDir("qx-install");
        dir_ = scratch_->path();
        root_ = dir_ / "root";
        installLog_ =
            new Outcome(Shell("DESTDIR='" + root_.string() +
                              "' '" QX_CMAKE "' --install '" QX_BUILD_DIR "' --prefix /usr"));
    }
    static void TearDownTestSuite() {
        delete scratch_;
        delete installLog_;
    }
    void SetUp() override { ASSERT_EQ(installLog_->status, 0) << installLog_->output; }

    fs::path Usr(const std::string& path) const { return root_ / "usr" / path; }

    // Runs an installed program with a registry of its own whose printer is the
    // emulator at address; returns the pages printed.
    std::vector<std::string> PrintWith(const std::string& address, int printingLength,
                                       const std::string& command, Outcome& run) {
        qxtest::RegisterDriver(std::u16string(address.begin(), address.end()),
                               {{u"PrintingLength", printingLength}});
        std::string pages = world_.dir() + "/pages";
        qxtest::EmulatorProcess emulator(Usr("bin/qx-emulator").string());
        EXPECT_TRUE(emulator.Start({"--tcp", address + ":9100", "--out", pages, "--idle-ms", "0"}));
        run = Shell("cd '" + world_.dir() + "' && env -u QX_DRIVER_PATH -u LD_LIBRARY_PATH " +
                    command);
        emulator.Stop();
        return qxtest::PngFiles(pages);
    }

    void ExpectGolden(const std::string& png, const std::string& golden) {
        auto outcome = qxtest::CheckPngGolden(png, std::string(QX_SOURCE_DIR) + "/" + golden,
                                              fs::path(golden).stem().string() + "-diff.png");
        EXPECT_TRUE(outcome.matched) << golden << ": " << outcome.message;
    }

    qxtest::TempWorld world_{"qx-installed"};  // QX_REGISTRY and QX_DEBUG_LOG of each test
    static inline qxtest::TempDir* scratch_ = nullptr;
    static inline fs::path dir_, root_;
    static inline Outcome* installLog_ = nullptr;
};

TEST_F(Installed, ProgramsDriverManPagesAndDesktopEntriesAreInTheirPlaces) {
    for (const char* file : {"bin/qx-print",
                             "bin/qx-emulator",
                             "bin/PrintDemo",
                             QX_PKGDIR "/QX470.dll",
                             QX_PKGDIR "/QX250.dll",
                             QX_PKGDIR "/qx-print",
                             QX_PKGDIR "/qx-printer-app-worker",
                             QX_PKGDIR "/qx-printer-app-pdf.so",
                             "share/man/man1/qx-print.1.gz",
                             "share/man/man1/qx-emulator.1.gz",
                             "share/man/man1/PrintDemo.1.gz",
                             "share/man/man1/QX470SETUP.1.gz",
                             "share/man/man1/QX250SETUP.1.gz",
                             "share/man/man1/qx-printer-app.1.gz",
                             "share/doc/qx-printing/icons/COPYRIGHT",
                             "share/doc/qx-printing/icons/LGPL-3",
                             "share/doc/qx-printing/copyright",
                             "share/doc/qx-printing/changelog.gz",
                             "share/doc/qx-printing/user-guide.md",
                             "lib/systemd/system/qx-printer-app.service",
                             "lib/systemd/user/qx-printer-app.service"})
        EXPECT_TRUE(fs::exists(Usr(file))) << file;
    EXPECT_TRUE(fs::is_symlink(Usr("bin/qx-print")));
    // The user's guide is installed, not the developers' README.
    EXPECT_FALSE(fs::exists(Usr("share/doc/qx-printing/README.md")));
    EXPECT_TRUE(fs::exists(root_ / "etc/pam.d/qx-printer-app"));
    EXPECT_EQ(Shell("zcat '" + Usr("share/man/man1/qx-print.1.gz").string() + "' | head -1")
                  .output.substr(0, 12),
              ".TH QX-PRINT");

    // Each desktop entry starts an installed program and shows an installed icon.
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(Usr("share/applications"))) {
        ++entries;
        std::string text = Read(entry.path());
        EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << entry.path();
        EXPECT_TRUE(fs::exists(Usr("bin/" + Value(text, "Exec")))) << entry.path();
        EXPECT_TRUE(
            fs::exists(Usr("share/icons/hicolor/32x32/apps/" + Value(text, "Icon") + ".png")))
            << entry.path();
    }
    EXPECT_GE(entries, 1);

    // Nothing installed points back into the build tree.
    for (const char* folder : {"bin", QX_PKGDIR})
        for (const auto& entry : fs::directory_iterator(Usr(folder))) {
            Outcome dynamic = Shell("readelf -d '" + entry.path().string() + "'");
            EXPECT_EQ(dynamic.output.find(QX_BUILD_DIR), std::string::npos)
                << entry.path() << dynamic.output;
        }
}

TEST_F(Installed, TheInstalledQxPrintPrintsThroughTheInstalledDriver) {
    Outcome run;
    auto pages = PrintWith(
        "127.0.55.1", 0,
        "'" + Usr("bin/qx-print").string() + "' -q '" QX_SOURCE_DIR "/tools/demo/logo.png'", run);
    EXPECT_EQ(run.status, 0) << run.output;
    ASSERT_EQ(pages.size(), 1u);
    ExpectGolden(pages[0], "tests/golden/qx-print-image.png");
}

TEST_F(Installed, TheInstalledPrintDemoPrintsItsLabel) {
    std::string script = (dir_ / "script.txt").string();
    std::ofstream(script) << "click 1000\nclick 1003\n";
    Outcome run;
    auto pages = PrintWith(
        "127.0.55.2", 1, "'" + Usr("bin/PrintDemo").string() + "' --script '" + script + "'", run);
    EXPECT_EQ(run.status, 0) << run.output;
    ASSERT_EQ(pages.size(), 1u);
    ExpectGolden(pages[0], "sample/tests/golden/printdemo-label.png");
}

}  // namespace
