// qx-printer-app as IPP clients meet it: the real server on a free loopback port with a
// state folder of its own, printers whose device is the emulator (or a listener that
// keeps the bytes), jobs over IPP, and the server stopped with its shutdown sub-command.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <thread>

#include "../../../tests/support/emulator_process.h"
#include "app_support.h"
#include "engine_job.h"
#include "golden.h"
#include "png_io.h"

namespace {

using namespace qxapptest;

class PrinterAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qxapp.XXXXXX";
        dir_ = mkdtemp(tmpl);
        server_ = std::make_unique<AppServer>(dir_);
        ASSERT_TRUE(server_->Start()) << ReadFile(dir_ + "/server.err");
    }
    void TearDown() override {
        EXPECT_EQ(server_->Shutdown(), 0) << ReadFile(dir_ + "/server.err");
        std::string err = ReadFile(dir_ + "/server.err");
        EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
        EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
        if (!::getenv("QX_KEEP") && !HasFailure()) std::filesystem::remove_all(dir_);
    }
    void Add(const std::string& name, const std::string& port, const std::string& driver) {
        CommandRun r = server_->App("add -d " + name + " -v qx:" + port + " -m " + driver);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }
    // Submits and waits for the job's end.
    JobState Print(const std::string& printer, const std::string& args) {
        std::string err;
        int id = server_->Submit(printer, args, &err);
        EXPECT_GT(id, 0) << err;
        return server_->WaitJob(printer, id);
    }
    std::string Raster(const std::string& name, int pages, int lengthHundredthsMm = 5080) {
        std::string path = dir_ + "/" + name;
        EXPECT_TRUE(WriteRaster(path, 8000, lengthHundredthsMm, pages));
        return path;
    }
    void ExpectGolden(const std::string& png, const std::string& name) {
        qxemu::Bitmap page;
        std::string error;
        ASSERT_TRUE(qxemu::ReadPng(png, &page, &error)) << error;
        auto outcome = qxemu::CheckGolden(page, std::string(QX_APP_TEST_DIR) + "/golden/" + name + ".png",
                                          dir_ + "/" + name + "-diff.png");
        EXPECT_TRUE(outcome.matched) << name << ": " << outcome.message;
    }
    std::string Logo() { return std::string(QX_SOURCE_DIR) + "/tools/demo/logo.png"; }

    std::string dir_;
    std::unique_ptr<AppServer> server_;
};

TEST_F(PrinterAppTest, PngAndRasterJobsPrintAsTheGoldenImages) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    std::string out = dir_ + "/out";
    ASSERT_TRUE(emulator.Start({"--tcp", "127.0.71.1:9100", "--out", out, "--idle-ms", "0"}));
    Add("receipt", "127.0.71.1", "qx470-escpos");
    Add("label", "127.0.71.1", "qx470-cpcl-gap");
    std::string raster = Raster("page.pwg", 1);
    for (auto [printer, args] : {std::pair{"receipt", "'" + Logo() + "'"}, {"label", "'" + Logo() + "'"},
                                 {"receipt", "-o copies=2 '" + raster + "'"},
                                 {"label", "-o copies=2 '" + raster + "'"},
                                 {"label", "'" + Raster("long.pwg", 1, 10160) + "'"}}) {
        JobState job = Print(printer, args);
        EXPECT_EQ(job.state, "completed") << printer << " " << args << ": " << job.message;
    }
    emulator.Stop();
    std::string log = ReadFile(out + "/emulator.log");
    auto pngs = qxtest::PngFiles(out);
    ASSERT_EQ(pngs.size(), 5u) << log;
    // A raster page keeps its own length, whatever media the job named.
    EXPECT_NE(log.find("label 812 rows, quantity 1"), std::string::npos) << log;
    // A label's copies are the driver's quantity, a receipt's copies the page sent twice.
    EXPECT_NE(log.find("label 406 rows, quantity 2"), std::string::npos) << log;
    EXPECT_NE(log.find("label 406 rows, quantity 1"), std::string::npos) << log;
    ExpectGolden(out + "/label-0001.png", "app-label-png");
    ExpectGolden(out + "/label-0002.png", "app-label-raster");
    ExpectGolden(out + "/receipt-0001.png", "app-receipt-png");
    ExpectGolden(out + "/receipt-0002.png", "app-receipt-raster-two-copies");
}

// The page the app was handed, as a file qx-print prints: the 576 dots inside the margins.
std::string PrintedPart(const std::string& path, int width, int height) {
    auto page = TestPage(width, height, 0);
    int left = (width - 576) / 2;
    std::vector<std::uint8_t> part(size_t(576) * size_t(height));
    for (int y = 0; y < height; ++y)
        std::copy_n(&page[size_t(y) * size_t(width) + size_t(left)], 576, &part[size_t(y) * 576]);
    EXPECT_TRUE(qxapp::WriteGreyBmp(path, part, 576, height));
    return path;
}

TEST_F(PrinterAppTest, ARasterPageIsSentWithTheBytesQxPrintSends) {
    ByteSink printer("127.0.71.2");
    ASSERT_TRUE(printer.ok());
    Add("receipt", "127.0.71.2", "qx470-escpos");
    Add("label", "127.0.71.2", "qx470-cpcl-mark");
    std::string raster = Raster("page.pwg", 1);
    std::string page = PrintedPart(dir_ + "/page.bmp", 639, 406);
    for (const char* name : {"receipt", "label"}) {
        SCOPED_TRACE(name);
        // The printer reads while the job runs: the driver ends a network document only
        // once the printer has read it all and closed.
        auto taken = std::async(std::launch::async, [&] { return printer.TakeConnection(); });
        int id = server_->Submit(name, std::string("-o copies=2 -o qx-rotation=half-turn '") + raster + "'");
        ASSERT_GT(id, 0);
        std::string fromApp = taken.get();
        EXPECT_EQ(server_->WaitJob(name, id).state, "completed");

        // qx-print with the settings the app gave the driver, from the app's registry.
        std::string registry = dir_ + "/qx-print.reg";
        std::filesystem::copy_file(dir_ + "/state/registry.reg", registry,
                                   std::filesystem::copy_options::overwrite_existing);
        CommandRun run;
        std::thread qxPrint([&] {
            run = Shell("QX_REGISTRY='" + registry + "' '" + QX_PRINT_BIN + "' -q '" + page + "'", dir_);
        });
        std::string fromQxPrint = printer.TakeConnection();
        qxPrint.join();
        EXPECT_EQ(run.status, 0) << run.err;
        ASSERT_GT(fromApp.size(), 1000u);
        EXPECT_TRUE(fromApp == fromQxPrint) << fromApp.size() << " bytes from the app, " << fromQxPrint.size()
                                            << " from qx-print";
    }
}

TEST_F(PrinterAppTest, IpptoolBasicOperationsPass) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    ASSERT_TRUE(emulator.Start({"--tcp", "127.0.71.3:9100", "--out", dir_ + "/out", "--idle-ms", "0"}));
    Add("label", "127.0.71.3", "qx470-cpcl-gap");
    std::string uri = server_->Uri("label");
    std::string suites = "'" + std::string(QX_APP_TEST_DIR) + "/basic-operations.test' get-printer-attributes.test "
                         "get-jobs.test";
    CommandRun r = Shell("ipptool -tv -f '" + Logo() + "' " + uri + " " + suites, dir_);
    std::cout << r.out;
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("[FAIL]"), std::string::npos);
    emulator.Stop();
}

TEST_F(PrinterAppTest, AJobOnAPortThatDoesNotOpenIsAbortedWithItsReasonAndTheNextPrints) {
    Add("dead", "127.0.71.4", "qx470-escpos");  // nothing listens there yet
    JobState job = Print("dead", "'" + Logo() + "'");
    EXPECT_EQ(job.state, "aborted");
    EXPECT_NE(job.message.find("The printer's port 127.0.71.4 does not open: Fail to Connection to Printer"),
              std::string::npos)
        << job.message;
    EXPECT_NE(server_->PrinterReasons("dead").find("offline"), std::string::npos);

    Add("parallel", "LPT9:", "qx470-cpcl-journal");
    job = Print("parallel", "'" + Logo() + "'");
    EXPECT_EQ(job.state, "aborted");
    EXPECT_NE(job.message.find("port LPT9: does not open (error 1796)"), std::string::npos) << job.message;

    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    std::string out = dir_ + "/out";
    ASSERT_TRUE(emulator.Start({"--tcp", "127.0.71.4:9100", "--out", out, "--idle-ms", "0"}));
    job = Print("dead", "'" + Logo() + "'");
    EXPECT_EQ(job.state, "completed") << job.message;
    EXPECT_EQ(server_->PrinterReasons("dead").find("offline"), std::string::npos);
    emulator.Stop();
    EXPECT_EQ(qxtest::PngFiles(out).size(), 1u);
}

TEST_F(PrinterAppTest, ACancelledJobStopsBetweenPages) {
    // A slow serial printer (a pseudo-terminal holds little) keeps the job going long
    // enough to cancel it part way.
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    std::string out = dir_ + "/out";
    ASSERT_TRUE(emulator.Start({"--pty", "--out", out, "--idle-ms", "0", "--fault", "slow=20000"}));
    std::string tty = emulator.firstLine.substr(emulator.firstLine.find(' ') + 1);
    std::ofstream(dir_ + "/state/registry.reg") << "Windows Registry Editor Version 5.00\n\n"
                                                   "[HKEY_LOCAL_MACHINE\\Platform\\Devices]\n"
                                                   "\"COM1:\"=\"" << tty << "\"\n";
    Add("receipt", "COM1:%20115200", "qx470-escpos");
    std::string raster = Raster("twenty.pwg", 20);
    std::thread submit([&] { server_->Submit("receipt", "'" + raster + "'"); });
    const int id = 1;  // the server's first job
    bool printing = WaitFor([&] { return server_->Job("receipt", id).impressions >= 2; }, 90);
    CommandRun r = server_->App("cancel -j " + std::to_string(id), "receipt");
    EXPECT_EQ(r.status, 0) << r.err;
    JobState job = server_->WaitJob("receipt", id);
    submit.join();
    ASSERT_TRUE(printing);
    EXPECT_EQ(job.state, "canceled");
    emulator.Stop();
    std::string log = ReadFile(out + "/emulator.log");
    size_t pages = 0;
    for (size_t at = log.find("LF               line feed"); at != std::string::npos;
         at = log.find("LF               line feed", at + 1))
        ++pages;
    pages /= 3;  // each page of a receipt ends with three line ends
    EXPECT_GE(pages, 1u);
    EXPECT_LT(pages, 20u) << log;
}

TEST_F(PrinterAppTest, ADeviceThatNamesNoPortOfTheDriverIsRefused) {
    for (const char* device : {"qx:printer.local", "qx:COM1:9600", "qx:LPT12:", "socket://127.0.0.1"}) {
        CommandRun r = server_->App(std::string("add -d bad -v ") + device + " -m qx470-escpos");
        EXPECT_NE(r.status, 0) << device;
    }
    std::string log = ReadFile(dir_ + "/app.log");
    EXPECT_NE(log.find("host names are not looked up"), std::string::npos);
    EXPECT_NE(log.find("the bit rate follows COMn: after one space"), std::string::npos);
    EXPECT_EQ(server_->App("printers").out.find("bad"), std::string::npos);
}

}  // namespace
