// qx-printer-app as IPP clients meet it: the real server on a free loopback port with a
// state folder of its own, printers whose device is the emulator (or a listener that
// keeps the bytes), jobs over IPP, and the server stopped with its shutdown sub-command.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>
#include <thread>

#include "../../../tests/support/emulator_process.h"
#include "app_support.h"
#include "golden_page.h"
#include "mono_image.h"
#include "nv_upload.h"
#include "png_io.h"
#include "wce/text.h"

namespace {

using namespace qxapptest;

class PrinterAppTest : public ServerFixture<> {
  protected:
    // Submits and waits for the job's end.
    JobState Print(const std::string& printer, const std::string& args) {
        std::string err;
        int id = server_->Submit(printer, args, &err);
        EXPECT_GT(id, 0) << err;
        return server_->WaitJob(printer, id);
    }
    std::string Raster(const std::string& name, int pages, int lengthHundredthsMm = 5080,
                       int widthHundredthsMm = 8000) {
        std::string path = dir_ + "/" + name;
        EXPECT_TRUE(WriteRaster(path, widthHundredthsMm, lengthHundredthsMm, pages));
        return path;
    }
    void ExpectGolden(const std::string& png, const std::string& name) {
        auto outcome =
            qxtest::CheckPngGolden(png, std::string(QX_APP_TEST_DIR) + "/golden/" + name + ".png",
                                   dir_ + "/" + name + "-diff.png");
        EXPECT_TRUE(outcome.matched) << name << ": " << outcome.message;
    }
    std::string Logo() { return std::string(QX_SOURCE_DIR) + "/tools/demo/logo.png"; }

    // The registry file the driver read for the app's printer of that number: the app's
    // own, with the settings of the printer's last job.
    std::string PrinterRegistry(int id) {
        return dir_ + "/state/printer-" + std::to_string(id) + ".reg";
    }

    // What qx-print sends to printer for the page, with the settings the app gave the
    // driver for the app's printer of that number; options choose the printer's key.
    // `settings`: a copy of that registry file taken earlier, instead of the file as it is.
    std::string FromQxPrint(ByteSink& printer, int id, const std::string& options,
                            const std::string& page, const std::string& settings = {}) {
        std::string registry = dir_ + "/qx-print.reg";
        std::filesystem::copy_file(settings.empty() ? PrinterRegistry(id) : settings, registry,
                                   std::filesystem::copy_options::overwrite_existing);
        CommandRun run;
        std::thread qxPrint([&] {
            run = Shell("QX_REGISTRY='" + registry + "' '" + QX_PRINT_BIN + "' -q " + options +
                            "'" + page + "'",
                        dir_);
        });
        std::string bytes = printer.TakeConnection();
        qxPrint.join();
        EXPECT_EQ(run.status, 0) << run.err;
        return bytes;
    }
};

TEST_F(PrinterAppTest, PngAndRasterJobsPrintAsTheGoldenImages) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    std::string out = dir_ + "/out";
    ASSERT_TRUE(emulator.Start({"--tcp", "127.0.71.1:9100", "--out", out, "--idle-ms", "0"}));
    Add("receipt", "127.0.71.1", "qx470-escpos");
    Add("label", "127.0.71.1", "qx470-cpcl-gap");
    std::string raster = Raster("page.pwg", 1);
    for (auto [printer, args] : {std::pair{"receipt", "'" + Logo() + "'"},
                                 {"label", "'" + Logo() + "'"},
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

// The page the app was handed, as a file qx-print prints: the dots inside the margins.
std::string PrintedPart(const std::string& path, int width, int height, int printed = 576) {
    auto page = TestPage(width, height, 0, printed);
    int left = (width - printed) / 2;
    std::vector<std::uint8_t> part(size_t(printed) * size_t(height));
    for (int y = 0; y < height; ++y)
        std::copy_n(&page[size_t(y) * size_t(width) + size_t(left)], printed,
                    &part[size_t(y) * size_t(printed)]);
    EXPECT_TRUE(qxapptest::WriteGreyBmp(path, part, printed, height));
    return path;
}

// The values of one key in a registry file's text, "name"=value lines as written.
std::vector<std::string> KeyLines(const std::string& registry, const std::string& key) {
    std::vector<std::string> lines;
    std::istringstream in(registry);
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '[')
            inside = line == "[HKEY_LOCAL_MACHINE\\" + key + "]";
        else if (inside && !line.empty())
            lines.push_back(line);
    }
    return lines;
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
        const int printerId = std::string(name) == "receipt" ? 1 : 2;
        // The printer reads while the job runs: the driver ends a network document only
        // once the printer has read it all and closed.
        auto taken = std::async(std::launch::async, [&] { return printer.TakeConnection(); });
        int id = server_->Submit(
            name, std::string("-o copies=2 -o qx-rotation=half-turn '") + raster + "'");
        ASSERT_GT(id, 0);
        std::string fromApp = taken.get();
        EXPECT_EQ(server_->WaitJob(name, id).state, "completed");

        // qx-print with the settings the app gave the driver, from the app's registry.
        std::string fromQxPrint = FromQxPrint(printer, printerId, "", page);
        ASSERT_GT(fromApp.size(), 1000u);
        EXPECT_TRUE(fromApp == fromQxPrint)
            << fromApp.size() << " bytes from the app, " << fromQxPrint.size() << " from qx-print";
    }
}

// Each job prints in a worker process of its own, so two printers print at the same
// time, each exactly what qx-print sends for the page.
TEST_F(PrinterAppTest, TwoPrintersPrintAtOnceEachSendingWhatQxPrintSends) {
    ByteSink left("127.0.71.7"), right("127.0.71.8");
    ASSERT_TRUE(left.ok() && right.ok());
    Add("left", "127.0.71.7", "qx470-escpos");
    Add("right", "127.0.71.8", "qx470-escpos");
    std::string raster = Raster("three.pwg", 3);
    auto leftBytes = std::async(std::launch::async, [&] { return left.TakeConnection(); });
    auto rightBytes = std::async(std::launch::async, [&] { return right.TakeConnection(); });
    auto leftJob =
        std::async(std::launch::async, [&] { return server_->Submit("left", "'" + raster + "'"); });
    auto rightJob = std::async(std::launch::async,
                               [&] { return server_->Submit("right", "'" + raster + "'"); });
    std::string fromLeft = leftBytes.get(), fromRight = rightBytes.get();
    EXPECT_EQ(server_->WaitJob("left", leftJob.get()).state, "completed");
    EXPECT_EQ(server_->WaitJob("right", rightJob.get()).state, "completed");
    EXPECT_LT(left.opened(), right.closed());
    EXPECT_LT(right.opened(), left.closed());

    // qx-print's document of the same three pages, with each printer's settings.
    std::string pages;
    for (int p = 0; p < 3; ++p) {
        auto page = TestPage(639, 406, p);
        std::vector<std::uint8_t> part(size_t(576) * 406);
        for (int y = 0; y < 406; ++y)
            std::copy_n(&page[size_t(y) * 639 + 31], 576, &part[size_t(y) * 576]);
        std::string path = dir_ + "/page" + std::to_string(p) + ".bmp";
        ASSERT_TRUE(qxapptest::WriteGreyBmp(path, part, 576, 406));
        pages += (p ? "' '" : "") + path;
    }
    ASSERT_GT(fromLeft.size(), 1000u);
    EXPECT_TRUE(fromLeft == FromQxPrint(left, 1, "", pages)) << "left";
    EXPECT_TRUE(fromRight == FromQxPrint(right, 2, "", pages)) << "right";
}

// A printer keeps its worker process between its jobs: each of them, with the settings
// changing between them, and one after the kept worker was killed while it waited,
// sends what qx-print sends in a program of its own.
TEST_F(PrinterAppTest, APrintersWorkerServesItsJobsInARowEachSendingWhatQxPrintSends) {
    // A keep time no slow machine runs out of, for a server of this test alone.
    ASSERT_EQ(server_->Shutdown(), 0);
    server_ = std::make_unique<AppServer>(dir_);
    ASSERT_TRUE(server_->Start({"QX_APP_KEEP_WORKER_MS=60000"})) << ReadFile(dir_ + "/server.err");
    ByteSink printer("127.0.71.18");
    ASSERT_TRUE(printer.ok());
    Add("label", "127.0.71.18", "qx470-cpcl-gap");
    std::string page = PrintedPart(dir_ + "/page.bmp", 639, 406);
    struct Printed {
        std::string options, bytes, settings;
        std::vector<pid_t> workers;
    };
    std::vector<Printed> jobs{
        {"", {}, {}, {}},
        {"-o copies=3 -o qx-rotation=half-turn -o qx-start-text=Again", {}, {}, {}},
        {"", {}, {}, {}},
        {"-o copies=2", {}, {}, {}}};
    for (size_t k = 0; k < jobs.size(); ++k) {
        SCOPED_TRACE(k);
        Printed& j = jobs[k];
        if (k == 3) {
            // The kept worker dies while it waits: the next job gets a new one.
            ASSERT_EQ(jobs[2].workers.size(), 1u);
            ::kill(jobs[2].workers[0], SIGKILL);
            ASSERT_TRUE(WaitFor([&] { return Workers(server_->pid()).empty(); }, 10));
        }
        auto taken = std::async(std::launch::async, [&] { return printer.TakeConnection(); });
        int id = server_->Submit("label", j.options + " '" + Raster("page.pwg", 1) + "'");
        j.bytes = taken.get();
        JobState state = server_->WaitJob("label", id);
        EXPECT_EQ(state.state, "completed") << state.message;
        j.workers = Workers(server_->pid());
        j.settings = dir_ + "/settings-" + std::to_string(k) + ".reg";
        std::filesystem::copy_file(PrinterRegistry(1), j.settings);
    }
    EXPECT_EQ(jobs[0].workers.size(), 1u);
    EXPECT_EQ(jobs[0].workers, jobs[1].workers);
    EXPECT_EQ(jobs[0].workers, jobs[2].workers);
    ASSERT_EQ(jobs[3].workers.size(), 1u);
    EXPECT_NE(jobs[3].workers, jobs[2].workers);
    EXPECT_TRUE(jobs[0].bytes == jobs[2].bytes);
    EXPECT_FALSE(jobs[0].bytes == jobs[1].bytes);
    for (size_t k = 0; k < jobs.size(); ++k)
        EXPECT_TRUE(jobs[k].bytes == FromQxPrint(printer, 1, "", page, jobs[k].settings))
            << "job " << k;
}

// Set-Printer-Attributes of one printer's option defaults; ipptool's exit status.
int SetDefaults(AppServer& server, const std::string& printer, const std::string& attrs,
                const std::string& status, const std::string& dir) {
    std::string test = dir + "/set-" + printer + ".test";
    std::ofstream(test)
        << "{ OPERATION Set-Printer-Attributes\n GROUP operation-attributes-tag\n"
           " ATTR charset attributes-charset utf-8\n ATTR language attributes-natural-language en\n"
           " ATTR uri printer-uri $uri\n GROUP printer-attributes-tag\n"
        << attrs << " STATUS " << status << "\n}\n";
    return Shell("ipptool -T 20 " + server.Uri(printer) + " '" + test + "'", dir).status;
}

// Each printer keeps its own commands around a document (texts, stored logos), set by
// IPP as the web page sets them; two printers of one model never share them.
TEST_F(PrinterAppTest, EachPrinterPrintsItsOwnStartAndEndCommands) {
    ByteSink first("127.0.71.9"), second("127.0.71.10");
    ASSERT_TRUE(first.ok() && second.ok());
    Add("first", "127.0.71.9", "qx470-cpcl-gap");
    Add("second", "127.0.71.10", "qx470-cpcl-gap");
    ASSERT_EQ(
        SetDefaults(
            *server_, "first",
            " ATTR text qx-start-text-default \"FIRST START\"\n ATTR text qx-end-text-default "
            "\"\"\n"
            " ATTR integer qx-start-logo-default 7\n ATTR boolean qx-back-feed-default true\n",
            "successful-ok", dir_),
        0);
    ASSERT_EQ(SetDefaults(*server_, "second",
                          " ATTR text qx-start-text-default \"시작 SECOND\"\n ATTR integer "
                          "qx-end-logo-default 255\n"
                          " ATTR keyword qx-rotation-default half-turn\n",
                          "successful-ok", dir_),
              0);
    // Out of the utility's limits: refused, nothing changed.
    EXPECT_EQ(SetDefaults(*server_, "first", " ATTR integer qx-start-logo-default 256\n",
                          "client-error-attributes-or-values-not-supported", dir_),
              0);
    EXPECT_EQ(SetDefaults(*server_, "first",
                          " ATTR text qx-end-text-default \"" + std::string(256, 'x') + "\"\n",
                          "client-error-attributes-or-values-not-supported", dir_),
              0);

    // The settings outlive the server.
    EXPECT_EQ(server_->Shutdown(), 0);
    server_ = std::make_unique<AppServer>(dir_);
    ASSERT_TRUE(server_->Start()) << ReadFile(dir_ + "/server.err");

    std::string raster = Raster("page.pwg", 1);
    std::string page = PrintedPart(dir_ + "/page.bmp", 639, 406);
    for (auto [printer, sink, id] :
         {std::tuple{"first", &first, 1}, std::tuple{"second", &second, 2}}) {
        SCOPED_TRACE(printer);
        auto taken =
            std::async(std::launch::async, [&, sink = sink] { return sink->TakeConnection(); });
        int job = server_->Submit(printer, "'" + raster + "'");
        std::string fromApp = taken.get();
        EXPECT_EQ(server_->WaitJob(printer, job).state, "completed");
        EXPECT_TRUE(fromApp == FromQxPrint(*sink, id, "", page)) << printer;
    }
    std::vector<std::string> a = KeyLines(ReadFile(PrinterRegistry(1)), "Printers\\QX-470 Driver");
    for (const char* line : {"\"StartDocText\"=\"FIRST START\"", "\"StartLogo\"=dword:00000007",
                             "\"EndLogo\"=dword:00000000", "\"BackFeed\"=dword:00000001",
                             "\"Rotation\"=dword:00000000"})
        EXPECT_NE(std::find(a.begin(), a.end(), line), a.end()) << line;
    std::vector<std::string> b = KeyLines(ReadFile(PrinterRegistry(2)), "Printers\\QX-470 Driver");
    for (const char* line : {"\"EndLogo\"=dword:000000ff", "\"BackFeed\"=dword:00000000",
                             "\"Rotation\"=dword:00000001"})
        EXPECT_NE(std::find(b.begin(), b.end(), line), b.end()) << line;
}

// The printer's web page of defaults carries the commands, in Korean for a Korean
// browser; a form is taken only with the page's session value, and a text shows as typed.
TEST_F(PrinterAppTest, TheWebPageSetsTheCommandsWithItsSessionCheck) {
    Add("label", "127.0.71.11", "qx470-cpcl-mark");
    // One address for the page and its form: the session value is made for the address.
    std::string base = "http://127.0.0.1:" + std::to_string(server_->port()) + "/label/printing";
    std::string jar = dir_ + "/cookies";
    CommandRun korean = Shell("curl -s -H 'Accept-Language: ko' " + base, dir_);
    for (const char* label :
         {"시작 문서: 인쇄할 텍스트", "끝 문서: 적용 로고", "백피드 후 인쇄", "180°회전"})
        EXPECT_NE(korean.out.find(label), std::string::npos) << label;
    CommandRun page = Shell("curl -s -c '" + jar + "' " + base, dir_);
    std::string session = SessionOf(page.out);
    ASSERT_FALSE(session.empty()) << page.out;
    auto post = [&](const std::string& fields) {
        return Shell("curl -s -b '" + jar + "' " + fields +
                         " --data-urlencode 'qx-end-text=' -d qx-end-logo=0 "
                         "-d qx-rotation=none " +
                         base,
                     dir_)
            .out;
    };
    EXPECT_NE(post("-d session=forged -d qx-start-logo=9 --data-urlencode 'qx-start-text=x'")
                  .find("Invalid form"),
              std::string::npos);
    // Out of the limits, or a line end that would break the saved state: refused.
    EXPECT_EQ(
        post("-d session=" + session + " -d qx-start-logo=300 --data-urlencode 'qx-start-text=x'")
            .find("Changes saved"),
        std::string::npos);
    EXPECT_EQ(post("-d session=" + session +
                   " -d qx-start-logo=1 --data-urlencode \"qx-start-text=$(printf 'a\\nb')\"")
                  .find("Changes saved"),
              std::string::npos);
    std::string saved = post("-d session=" + session +
                             " -d qx-start-logo=9 -d qx-back-feed=on "
                             "--data-urlencode 'qx-start-text=Say \"hi\" <b>&'");
    EXPECT_NE(saved.find("Changes saved"), std::string::npos) << saved;
    // Shown as typed, escaped for the page, and again after a second save.
    for (int round = 0; round < 2; ++round) {
        std::string shown = Shell("curl -s " + base, dir_).out;
        EXPECT_NE(shown.find("value=\"Say &quot;hi&quot; &lt;b>&amp;\""), std::string::npos)
            << shown;
        session = SessionOf(shown);
        post("-d session=" + session +
             " -d qx-start-logo=9 -d qx-back-feed=on --data-urlencode 'qx-start-text=Say \"hi\" "
             "<b>&'");
    }
    std::string test = dir_ + "/get.test";
    std::ofstream(test)
        << "{ OPERATION Get-Printer-Attributes\n GROUP operation-attributes-tag\n"
           " ATTR charset attributes-charset utf-8\n ATTR language attributes-natural-language en\n"
           " ATTR uri printer-uri $uri\n"
           " EXPECT qx-start-text-default OF-TYPE text WITH-VALUE \"Say \\\"hi\\\" <b>&\"\n"
           " EXPECT qx-start-logo-default OF-TYPE integer WITH-VALUE 9\n"
           " EXPECT qx-back-feed-default OF-TYPE boolean WITH-VALUE true\n}\n";
    CommandRun r = Shell("ipptool -t " + server_->Uri("label") + " '" + test + "'", dir_);
    EXPECT_EQ(r.status, 0) << r.out;
}

// "Print Test Page" on the printer's web page prints the settings utility's test page
// of the printer's model through the driver, as a job of the printer's.
TEST_F(PrinterAppTest, TheWebPagePrintsTheUtilitysTestPage) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    std::string out = dir_ + "/out";
    ASSERT_TRUE(emulator.Start(
        {"--model", "b", "--tcp", "127.0.71.12:9100", "--out", out, "--idle-ms", "0"}));
    Add("receipt", "127.0.71.12", "qx250-escpos");
    std::string home = "http://127.0.0.1:" + std::to_string(server_->port()) + "/receipt/";
    std::string jar = dir_ + "/cookies";
    std::string page = Shell("curl -s -c '" + jar + "' " + home, dir_).out;
    std::string session = SessionOf(page);
    ASSERT_FALSE(session.empty()) << page;
    std::string answer = Shell("curl -s -b '" + jar + "' -d session=" + session +
                                   " -d action=print-test-page " + home,
                               dir_)
                             .out;
    EXPECT_NE(answer.find("Test page printed."), std::string::npos) << answer;
    JobState job = server_->WaitJob("receipt", 1);
    EXPECT_EQ(job.state, "completed") << job.message;
    EXPECT_EQ(job.impressions, 1);
    emulator.Stop();
    auto pngs = qxtest::PngFiles(out);
    ASSERT_EQ(pngs.size(), 1u) << ReadFile(out + "/emulator.log");
    qxemu::Bitmap printed;
    std::string error;
    ASSERT_TRUE(qxemu::ReadPng(pngs[0], &printed, &error)) << error;
    // Model B's page: 384 dots across, its text down to the 80 mm paper's last lines.
    EXPECT_EQ(printed.Width(), 384);
    EXPECT_GT(printed.Height(), 400);
}

// Add Printer on the web: the machine's own ports to choose from, a serial device named
// with the COMn: it stands for, and a network printer by its address, checked as the
// command line checks them.
TEST_F(PrinterAppTest, APrinterAddedOnTheWebPrintsThroughItsMappedSerialPort) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    std::string out = dir_ + "/out";
    ASSERT_TRUE(emulator.Start({"--pty", "--out", out, "--idle-ms", "0"}));
    std::string tty = emulator.firstLine.substr(emulator.firstLine.find(' ') + 1);
    std::string add = "http://127.0.0.1:" + std::to_string(server_->port()) + "/addprinter";
    std::string jar = dir_ + "/cookies";
    std::string page = Shell("curl -s -c '" + jar + "' " + add, dir_).out;
    EXPECT_NE(page.find("value=\"qx:IRDA|\""), std::string::npos) << page;
    EXPECT_NE(page.find("qx470-escpos"), std::string::npos);
    std::string session = SessionOf(page);
    ASSERT_FALSE(session.empty()) << page;
    auto post = [&](const std::string& fields) {
        return Shell("curl -s -o /dev/null -w '%{http_code}' -b '" + jar +
                         "' -d session=" + session + " " + fields + " " + add,
                     dir_)
            .out;
    };
    EXPECT_EQ(post("-d printer_name=serial -d driver_name=qx470-escpos --data-urlencode "
                   "'device_uri=qx:COM3:%20115200?device=" +
                   tty + "'"),
              "302");
    EXPECT_EQ(post("-d printer_name=network -d driver_name=qx250-escpos -d device_uri=socket "
                   "-d hostname=127.0.71.13"),
              "302");
    // A host name, a device outside /dev, a port the driver would misread: no printer.
    EXPECT_NE(post("-d printer_name=named -d driver_name=qx470-escpos -d device_uri=socket -d "
                   "hostname=printer.local"),
              "302");
    EXPECT_NE(post("-d printer_name=escape -d driver_name=qx470-escpos --data-urlencode "
                   "'device_uri=qx:COM3:?device=/etc/passwd'"),
              "302");
    std::string printers = server_->App("printers").out;
    EXPECT_EQ(printers, "network\nserial\n");

    std::string err;
    int id = server_->PrintJob("serial", Logo(), "image/png", "successful-ok", &err);
    ASSERT_GT(id, 0) << err;
    EXPECT_EQ(server_->WaitJob("serial", id).state, "completed");
    emulator.Stop();
    EXPECT_EQ(qxtest::PngFiles(out).size(), 1u);
    std::vector<std::string> devices = KeyLines(ReadFile(PrinterRegistry(1)), "Platform\\Devices");
    EXPECT_NE(std::find(devices.begin(), devices.end(), "\"COM3:\"=\"" + tty + "\""),
              devices.end());
}

// The page of logos: files uploaded from the browser are stored in the printer with the
// image manager's own bytes for the same files, and a receipt prints with them.
TEST_F(PrinterAppTest, TheLogoPageStoresWhatTheImageManagerStoresAndAReceiptPrintsThem) {
    ByteSink printer("127.0.71.14");
    ASSERT_TRUE(printer.ok());
    Add("receipt", "127.0.71.14", "qx470-escpos");
    std::string box = dir_ + "/box.bmp";
    std::vector<std::uint8_t> grey(size_t(120) * 40, 255);
    for (int y = 10; y < 30; ++y)
        for (int x = 10; x < 100; ++x) grey[size_t(y) * 120 + size_t(x)] = 0;
    ASSERT_TRUE(qxapptest::WriteGreyBmp(box, grey, 120, 40));
    std::string page = "http://127.0.0.1:" + std::to_string(server_->port()) + "/receipt/logos";
    std::string jar = dir_ + "/cookies";
    std::string html = Shell("curl -s -c '" + jar + "' " + page, dir_).out;
    std::string session = SessionOf(html);
    ASSERT_FALSE(session.empty()) << html;
    auto post = [&](const std::string& fields) {
        std::string out =
            Shell("curl -s -b '" + jar + "' -F session=" + session + " " + fields + " " + page,
                  dir_)
                .out;
        const std::string banner = "class=\"banner\">";
        size_t b = out.find(banner);
        if (b == std::string::npos) return out;
        b += banner.size();
        return out.substr(b, out.find('<', b) - b);
    };
    // A file that is no picture is refused by name; the others are taken.
    std::string notes = dir_ + "/notes.txt";
    std::ofstream(notes) << "not a picture\n";
    EXPECT_NE(post("-F action=upload -F 'logo1=@" + box + "' -F 'logo2=@" + Logo() +
                   "' -F 'logo3=@" + notes + "'")
                  .find("File 3 is not taken"),
              std::string::npos);
    // What the app sends to store them, and what the image manager sends for the same files.
    auto stored = std::async(std::launch::async, [&] { return printer.TakeConnection(); });
    EXPECT_EQ(post("-F action=store"), "Stored 2 logos in the printer as images 1 to 2.");
    std::string fromApp = stored.get();
    auto direct = std::async(std::launch::async, [&] { return printer.TakeConnection(); });
    qxsetup::NvPrinterLink link;
    ASSERT_TRUE(qxsetup::OpenPrinterLink(link, u"127.0.71.14", 9100));
    EXPECT_TRUE(qxsetup::UploadNvImages(
        link, {wce::Utf8ToWide(box), wce::Utf8ToWide(dir_ + "/state/logos-1/002.bmp")}));
    qxsetup::ClosePrinterLink(link);
    std::string fromImageManager = direct.get();
    ASSERT_GT(fromApp.size(), 100u);
    EXPECT_TRUE(fromApp == fromImageManager)
        << fromApp.size() << " bytes from the app, " << fromImageManager.size();
    // Image 2 is the PNG made one-bit, at its own size.
    qxsetup::MonoImage made;
    ASSERT_TRUE(
        qxsetup::LoadMonoImage(wce::Utf8ToWide(dir_ + "/state/logos-1/002.bmp").c_str(), &made));
    EXPECT_EQ(made.width, 400);
    EXPECT_EQ(made.height, 110);
    EXPECT_NE(Shell("curl -s " + page, dir_).out.find("holds the 2 logos stored from here last"),
              std::string::npos);

    // Into the emulator's memory, then a receipt that starts with image 2.
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    std::string out = dir_ + "/out";
    ASSERT_TRUE(emulator.Start({"--tcp", "127.0.71.15:9100", "--out", out, "--idle-ms", "0"}));
    Add("shop", "127.0.71.15", "qx470-escpos");
    page = "http://127.0.0.1:" + std::to_string(server_->port()) + "/shop/logos";
    post("-F action=upload -F 'logo1=@" + box + "' -F 'logo2=@" + Logo() + "'");
    EXPECT_EQ(post("-F action=store"), "Stored 2 logos in the printer as images 1 to 2.");
    ASSERT_EQ(SetDefaults(*server_, "shop", " ATTR integer qx-start-logo-default 2\n",
                          "successful-ok", dir_),
              0);
    EXPECT_EQ(Print("shop", "'" + Raster("page.pwg", 1) + "'").state, "completed");
    emulator.Stop();
    auto pngs = qxtest::PngFiles(out);
    ASSERT_EQ(pngs.size(), 1u) << ReadFile(out + "/emulator.log");
    ExpectGolden(pngs[0], "app-receipt-start-logo");
}

// The pages as a browser shows them: Debian's Chromium, headless, in English and Korean;
// the pictures are kept beside the test's files for a person to look at.
TEST_F(PrinterAppTest, ABrowserShowsThePagesInEnglishAndKorean) {
    if (::access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Debian's chromium is not installed";
    Add("label", "127.0.71.16", "qx470-cpcl-gap");
    Add("receipt", "127.0.71.17", "qx250-escpos");
    std::string base = "http://127.0.0.1:" + std::to_string(server_->port());
    auto browse = [&](const std::string& path, const std::string& lang,
                      const std::string& picture) {
        std::string chromium =
            "/usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic "
            "--no-first-run --disable-background-networking --disable-component-update "
            "--disable-sync --hide-scrollbars --window-size=1000,900 --user-data-dir='" +
            dir_ + "/chromium-" + picture + "' --lang=" + lang + " --accept-lang=" + lang + " ";
        std::string png = dir_ + "/" + picture + ".png";
        Shell(chromium + "--screenshot='" + png + "' " + base + path, dir_, 90s);
        qxemu::Bitmap shot;
        std::string error;
        EXPECT_TRUE(qxemu::ReadPng(png, &shot, &error)) << picture << ": " << error;
        return Shell(chromium + "--dump-dom " + base + path, dir_, 90s).out;
    };
    std::string en = browse("/label/printing", "en", "printing-en");
    for (const char* label :
         {"Start Documents: Text to print", "Print after Back-Feed", "180 Rotate"})
        EXPECT_NE(en.find(label), std::string::npos) << label;
    std::string ko = browse("/label/printing", "ko", "printing-ko");
    for (const char* label : {"시작 문서: 인쇄할 텍스트", "백피드 후 인쇄", "180°회전", "용지"})
        EXPECT_NE(ko.find(label), std::string::npos) << label;
    EXPECT_NE(browse("/receipt/logos", "en", "logos").find("Store in the printer"),
              std::string::npos);
    EXPECT_NE(browse("/addprinter", "en", "add-printer").find("qx:IRDA"), std::string::npos);
}

TEST_F(PrinterAppTest, ModelBPngAndRasterJobsPrintAsTheGoldenImages) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    std::string out = dir_ + "/out";
    ASSERT_TRUE(emulator.Start(
        {"--model", "b", "--tcp", "127.0.71.5:9100", "--out", out, "--idle-ms", "0"}))
        << emulator.firstLine;
    Add("receipt", "127.0.71.5", "qx250-escpos");
    // An 80 mm receipt (paper 2 of the driver's table), and one of 40 mm, shorter than
    // the paper is wide, which the driver draws on an 80 mm page and prints 40 mm of.
    for (const std::string& args :
         {"'" + Logo() + "'", "'" + Raster("page.pwg", 1, 8000, 5800) + "'",
          "'" + Raster("short.pwg", 1, 4000, 5800) + "'"}) {
        JobState job = Print("receipt", args);
        EXPECT_EQ(job.state, "completed") << args << ": " << job.message;
    }
    emulator.Stop();
    auto pngs = qxtest::PngFiles(out);
    ASSERT_EQ(pngs.size(), 3u) << ReadFile(out + "/emulator.log");
    const char* goldens[] = {"app-modelb-png", "app-modelb-raster", "app-modelb-raster-40mm"};
    const int rows[] = {0, 639, 319};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(goldens[i]);
        qxemu::Bitmap page;
        std::string error;
        ASSERT_TRUE(qxemu::ReadPng(pngs[size_t(i)], &page, &error)) << error;
        EXPECT_EQ(page.Width(), 384);
        if (rows[i]) {
            EXPECT_GE(page.Height(), rows[i]);
        }
        ExpectGolden(pngs[size_t(i)], goldens[i]);
    }
}

// One server prints through both drivers, one after the other, each with its own
// settings key; model B's page is exactly what qx-print sends through QX250.dll.
TEST_F(PrinterAppTest, AModelBRasterPageIsSentWithTheBytesQxPrintSendsThroughQX250) {
    ByteSink printer("127.0.71.6");
    ASSERT_TRUE(printer.ok());
    Add("labels", "127.0.71.6", "qx470-cpcl-gap");
    Add("receipt", "127.0.71.6", "qx250-escpos");
    struct Job {
        const char* printer;
        int id;
        const char* key;
        std::string raster, page;
    };
    const Job jobs[] = {
        {"labels", 1, "QX-470 Driver", Raster("label.pwg", 1),
         PrintedPart(dir_ + "/label.bmp", 639, 406)},
        {"receipt", 2, "QX-250 Driver", Raster("receipt.pwg", 1, 8000, 5800),
         PrintedPart(dir_ + "/receipt.bmp", 463, 639, 384)},
    };
    for (const Job& job : jobs) {
        SCOPED_TRACE(job.printer);
        auto taken = std::async(std::launch::async, [&] { return printer.TakeConnection(); });
        int id = server_->Submit(job.printer, "-o copies=2 '" + job.raster + "'");
        ASSERT_GT(id, 0);
        std::string fromApp = taken.get();
        EXPECT_EQ(server_->WaitJob(job.printer, id).state, "completed");

        std::string fromQxPrint =
            FromQxPrint(printer, job.id, std::string("-P '") + job.key + "' ", job.page);
        ASSERT_GT(fromApp.size(), 1000u);
        EXPECT_TRUE(fromApp == fromQxPrint)
            << fromApp.size() << " bytes from the app, " << fromQxPrint.size() << " from qx-print";
    }
    // Model B's key as its utility writes it: its driver, whole millimetres, the table's
    // paper 2 (58 x 80 mm), and none of model A's CPCL values.
    std::vector<std::string> b = KeyLines(ReadFile(PrinterRegistry(2)), "Printers\\QX-250 Driver");
    for (const char* line :
         {"\"Driver\"=\"QX250.dll\"", "\"Port\"=\"127.0.71.6\"", "\"PWidth\"=dword:0000003a",
          "\"PHeight\"=dword:00000050", "\"PaperSize\"=dword:00000002", "\"Copies\"=dword:00000002",
          "\"UserPaper\"=dword:00000001"})
        EXPECT_NE(std::find(b.begin(), b.end(), line), b.end()) << line;
    for (const std::string& line : b)
        for (const char* cpcl : {"\"Emulation\"", "\"Rotation\"", "\"BackFeed\""})
            EXPECT_NE(line.rfind(cpcl, 0), 0u) << line;
    std::vector<std::string> a = KeyLines(ReadFile(PrinterRegistry(1)), "Printers\\QX-470 Driver");
    // Each printer has its key in its own file: the receipt printer's holds no label key.
    EXPECT_TRUE(KeyLines(ReadFile(PrinterRegistry(2)), "Printers\\QX-470 Driver").empty());
    EXPECT_NE(std::find(a.begin(), a.end(), "\"Driver\"=\"QX470.dll\""), a.end());
    EXPECT_NE(std::find(a.begin(), a.end(), "\"PHeight\"=dword:000001fc"),
              a.end());  // 50.8 mm in tenths
}

TEST_F(PrinterAppTest, TheModelBDriverIsListedAndItsAttributesSayWhatItPrints) {
    CommandRun list = server_->App("drivers");
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("qx250-escpos"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("QX-250 ESC/POS receipt"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("qx470-escpos"), std::string::npos) << list.out;
    Add("receipt", "COM1:%20115200", "qx250-escpos");
    CommandRun r = Shell("ipptool -tv " + server_->Uri("receipt") + " '" + QX_APP_TEST_DIR +
                             "/modelb-attributes.test'",
                         dir_);
    std::cout << r.out;
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("[FAIL]"), std::string::npos);
}

TEST_F(PrinterAppTest, IpptoolBasicOperationsPass) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    ASSERT_TRUE(
        emulator.Start({"--tcp", "127.0.71.3:9100", "--out", dir_ + "/out", "--idle-ms", "0"}));
    Add("label", "127.0.71.3", "qx470-cpcl-gap");
    std::string uri = server_->Uri("label");
    std::string suites = "'" + std::string(QX_APP_TEST_DIR) +
                         "/basic-operations.test' get-printer-attributes.test "
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
    EXPECT_NE(job.message.find(
                  "The printer's port 127.0.71.4 does not open: Fail to Connection to Printer"),
              std::string::npos)
        << job.message;
    EXPECT_NE(server_->PrinterReasons("dead").find("offline"), std::string::npos);

    Add("parallel", "LPT9:", "qx470-cpcl-journal");
    job = Print("parallel", "'" + Logo() + "'");
    EXPECT_EQ(job.state, "aborted");
    EXPECT_NE(job.message.find("port LPT9: does not open (error 1796)"), std::string::npos)
        << job.message;

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
    ASSERT_TRUE(emulator.Start({"--pty", "--out", out, "--idle-ms", "0", "--fault", "slow=40000"}));
    std::string tty = emulator.firstLine.substr(emulator.firstLine.find(' ') + 1);
    std::ofstream(dir_ + "/state/registry.reg") << "Windows Registry Editor Version 5.00\n\n"
                                                   "[HKEY_LOCAL_MACHINE\\Platform\\Devices]\n"
                                                   "\"COM1:\"=\""
                                                << tty << "\"\n";
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
    for (const char* device :
         {"qx:printer.local", "qx:COM1:9600", "qx:LPT12:", "socket://127.0.0.1"}) {
        CommandRun r = server_->App(std::string("add -d bad -v ") + device + " -m qx470-escpos");
        EXPECT_NE(r.status, 0) << device;
    }
    std::string log = ReadFile(dir_ + "/app.log");
    EXPECT_NE(log.find("host names are not looked up"), std::string::npos);
    EXPECT_NE(log.find("the bit rate follows COMn: after one space"), std::string::npos);
    EXPECT_EQ(server_->App("printers").out.find("bad"), std::string::npos);
}

}  // namespace
