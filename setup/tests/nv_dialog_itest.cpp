// The image manager's dialog in a program of its own, played from scripts with the
// emulator as the printer: two logos uploaded over TCP and over a pseudo-terminal at
// 115200 bit/s, a receipt printed through the driver with them as start and end logos,
// the print-out of the memory and its erase; and pictures of the dialog in English and
// Korean.
#include <QImage>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../core/tests/bmp_test_support.h"
#include "child_process.h"
#include "driver_key.h"
#include "emulator_process.h"
#include "golden_page.h"
#include "golden_qimage.h"
#include "nv_store.h"
#include "png_io.h"

namespace qxsetup::testing {
namespace {

struct Outcome {
    int exitCode = -1;
    std::string output;
};

// Runs a command in dir; its standard output and error together.
Outcome RunIn(const std::string& dir, const std::string& command) {
    qxtest::ChildProgram program;
    program.argv = qxtest::ShellLine(command);
    program.dir = dir;
    program.mergeErrors = true;
    qxtest::ChildResult run = qxtest::RunChild(program);
    return {run.exitCode, run.out};
}

bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 300; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class NvDialogRun : public ::testing::Test {
  protected:
    // Plays script in the dialog program; environment goes before the command. The
    // language comes from the locale variables, and LC_ALL wins over the caller's.
    Outcome Play(const std::string& script, const std::string& environment = "LC_ALL=C.UTF-8") {
        std::ofstream(dir_.File("script.txt")) << script;
        return RunIn(dir_.path(), environment + " '" QX_NV_DIALOG_RUNNER "' --script script.txt");
    }
    qxtest::TempWorld world_{"qxnvrun"};
    TempDir dir_;
};

// ---- end to end ----

class NvDialogEndToEnd : public NvDialogRun {
  protected:
    void SetUp() override {
        first_ = dir_.File("a-logo.bmp");
        second_ = dir_.File("b-logo.bmp");
        ASSERT_TRUE(Convert(
            "-size 120x48 xc:white -fill black -draw 'rectangle 0,0 119,7' "
            "-draw 'rectangle 0,40 119,47' -draw 'polygon 10,12 60,36 110,12' -type bilevel",
            first_));
        ASSERT_TRUE(
            Convert("-size 200x64 gradient:white-black -fill white -draw 'circle 100,32 120,50' "
                    "-type truecolor",
                    second_));
        std::ofstream(dir_.File("receipt.txt")) << "Logos from the image memory\nabove and below\n";
    }
    void TearDown() override {
        if (started_) {
            EXPECT_EQ(emulator_.Stop(), 0);
        }
    }

    // port: the dialog's port entry (10 is "WLAN"); address: typed for WLAN; driverPort:
    // the same printer as the driver names it.
    void Run(std::vector<std::string> options, int port, const std::string& address,
             const std::string& driverPort) {
        options.insert(options.end(), {"--out", out_, "--nv", nvPath_, "--idle-ms", "1500"});
        ASSERT_TRUE(started_ = emulator_.Start(options)) << emulator_.firstLine;
        if (emulator_.firstLine.rfind("pty ", 0) == 0)
            qxtest::SetText(u"COM9:", Wide(emulator_.firstLine.substr(4)), u"Platform\\Devices");
        std::string open = port == 10 ? "select 1003 \"WLAN\"\ntype 1005 \"" + address + "\"\n"
                                      : "expect-selected 1003 9\nexpect-enabled 1005 0\n";
        open += "click 1013\nexpect-enabled 1014 1\n";

        // The second file is added first: the list, and the upload, go in path order.
        Outcome run = Play(open + "click 1015\nfile " + second_ + "\nclick 1015\nfile " + first_ +
                           "\nexpect-count 1022 2\nexpect-item 1022 0 \"" + first_ +
                           "\"\nclick 1017\nclick 1\n");
        ASSERT_EQ(run.exitCode, 0) << run.output;
        ASSERT_TRUE(WaitUntil([&] { return StoredImages() == 2; })) << StoredImages();
        qxemu::NvStore store(nvPath_);
        std::string message;
        ASSERT_TRUE(store.Load(&message)) << message;
        int number = 0;
        for (const std::string& path : {first_, second_}) {
            Bytes block = ReferenceBlock(ReadBytes(path));
            const qxemu::NvImage* image = store.Find(++number);
            ASSERT_NE(image, nullptr) << number;
            EXPECT_EQ(image->widthUnits, block[0] | block[1] << 8) << number;
            EXPECT_EQ(image->heightUnits, block[2] | block[3] << 8) << number;
            EXPECT_TRUE(image->columns == Bytes(block.begin() + 4, block.end())) << number;
        }

        // A receipt through the driver, with the logos at its start and end.
        qxtest::RegisterDriver(Wide(driverPort),
                               {{u"StartLogo", 1}, {u"EndLogo", 2}, {u"PrintingLength", 0}});
        run = RunIn(dir_.path(), "'" QX_PRINT_BIN "' -q receipt.txt");
        ASSERT_EQ(run.exitCode, 0) << run.output;
        ExpectNextReceipt("nv-logos-receipt");

        run = Play(open + "click 1018\nclick 1\n");
        ASSERT_EQ(run.exitCode, 0) << run.output;
        ExpectNextReceipt("nv-print-out");

        run = Play(open + "click 1019\nclick 1\n");
        ASSERT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(WaitUntil([&] { return StoredImages() == 0; })) << StoredImages();
    }

    int StoredImages() {
        if (!std::filesystem::exists(nvPath_)) return -1;
        qxemu::NvStore store(nvPath_);
        std::string message;
        return store.Load(&message) ? store.Count() : -1;
    }
    // The emulator's next receipt matches the golden picture name.
    void ExpectNextReceipt(const std::string& name) {
        ASSERT_TRUE(WaitUntil([&] { return qxtest::PngFiles(out_).size() > receipts_; }))
            << "no receipt for " << name;
        std::string png = qxtest::PngFiles(out_)[receipts_++];
        qxemu::Bitmap page;
        std::string error;
        // The file may still be in writing.
        ASSERT_TRUE(WaitUntil([&] { return qxemu::ReadPng(png, &page, &error); })) << error;
        auto outcome =
            qxtest::CheckGolden(page, std::string(QX_SOURCE_DIR) + "/tests/golden/" + name + ".png",
                                name + "-diff.png");
        EXPECT_TRUE(outcome.matched) << name << ": " << outcome.message;
    }

    std::string first_, second_;
    std::string out_ = dir_.File("out");
    std::string nvPath_ = dir_.File("nv-images.bin");
    qxtest::EmulatorProcess emulator_{QX_EMULATOR_BIN};
    bool started_ = false;
    std::size_t receipts_ = 0;
};

TEST_F(NvDialogEndToEnd, OverTcp) {
    Run({"--tcp", "127.0.43.1:9100"}, 10, "127.0.43.1", "127.0.43.1");
}

TEST_F(NvDialogEndToEnd, OverAPseudoTerminalAt115200) {
    Run({"--pty"}, 9, "", "COM9: 115200");
}

// ---- pictures ----

class NvDialogPictures : public NvDialogRun {
  protected:
    void ExpectGolden(const std::string& name) {
        QImage picture(QString::fromStdString(dir_.File(name + ".png")));
        ASSERT_FALSE(picture.isNull()) << name;
        EXPECT_EQ(qxtest::CompareWithGolden(picture,
                                            std::string(QX_GOLDEN_DIR) + "/" + name + ".png", name),
                  "");
    }
    // The dialog at its start, then with the link open over the network and two files
    // listed, the second one selected.
    std::string Session(const std::string& suffix, const std::string& address) {
        return "screenshot nv-start" + suffix + ".png\nselect 1003 \"WLAN\"\ntype 1005 \"" +
               address +
               "\"\nclick 1013\nclick 1015\nfile /home/user/logos/shop-name.bmp\nclick 1015\n"
               "file /home/user/logos/address-line.bmp\nselect 1022 1\nscreenshot nv-open" +
               suffix + ".png\nclick 1\n";
    }
};

TEST_F(NvDialogPictures, EnglishAndKorean) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    ASSERT_TRUE(emulator.Start({"--tcp", "127.0.43.3:9100", "--out", dir_.File("out")}));
    Outcome run = Play("expect-caption \"Dialog\"\n" + Session("", "127.0.43.3"));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    run = Play("expect-caption \"이미지 업로드\"\nexpect-text 1017 \"로고 업로드\"\n" +
                   Session("-ko", "127.0.43.3"),
               "LC_ALL=ko_KR.UTF-8");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(emulator.Stop(), 0);
    for (const char* name : {"nv-start", "nv-open", "nv-start-ko", "nv-open-ko"})
        ExpectGolden(name);
}

}  // namespace
}  // namespace qxsetup::testing
