// qx-print as a user runs it: files in, pages out of the emulator over loopback TCP,
// and a clear message with its own exit status for everything that goes wrong.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "child_process.h"
#include "emulator_process.h"
#include "golden_page.h"
#include "png_io.h"
#include "printer_port.h"
#include "temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

// A printer that reads at its own pace: `chunk` bytes every `pauseMs`. After `stopAfter`
// bytes it stops reading but keeps the connection open; a small receive buffer keeps
// what it has not read with the sender.
class SlowPrinter {
  public:
    SlowPrinter(const char* address, size_t chunk, int pauseMs, size_t stopAfter = SIZE_MAX,
                int receiveBuffer = 0)
        : chunk_(chunk), pauseMs_(pauseMs), stopAfter_(stopAfter) {
        listener_ = qxtest::ListenAsPrinter(address, 4, receiveBuffer);
        ok_ = listener_ >= 0;
        if (ok_) thread_ = std::thread([this] { Serve(); });
    }
    ~SlowPrinter() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    bool ok() const { return ok_; }
    // Waits until the sender closed (or the reading stopped) and returns what came.
    std::string Received() {
        if (thread_.joinable()) thread_.join();
        return received_;
    }
    Clock::time_point lastRead() const { return lastRead_; }

  private:
    void Serve() {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0) return;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        std::vector<char> buffer(chunk_);
        while (!stop_ && received_.size() < stopAfter_) {
            size_t want = std::min(chunk_, stopAfter_ - received_.size());
            ssize_t got = ::recv(fd, buffer.data(), want, 0);
            if (got <= 0) break;
            received_.append(buffer.data(), size_t(got));
            lastRead_ = Clock::now();
            if (pauseMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs_));
        }
        // One that stopped reading holds the line until the sender gives up.
        while (!stop_ && received_.size() >= stopAfter_) {
            pollfd q{fd, POLLRDHUP, 0};
            if (::poll(&q, 1, 100) > 0) break;
        }
        ::close(fd);
    }

    int listener_ = -1;
    size_t chunk_;
    int pauseMs_;
    size_t stopAfter_;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::string received_;
    Clock::time_point lastRead_{};
};

struct Outcome {
    int status = -1;
    std::string err;
};

class QxPrintTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = folder_.path();
        registry_ = dir_ + "/registry.reg";
    }

    // The printer's key: the driver, its port, and the emulation (0 ESC/POS, 1 CPCL).
    void Register(const std::string& address, int emulation, int printingLength = 1,
                  int height = 508, int paperSize = 0, int widthMm = 80) {
        char hex[5][9];
        std::snprintf(hex[0], 9, "%08x", emulation);
        std::snprintf(hex[1], 9, "%08x", printingLength);
        std::snprintf(hex[2], 9, "%08x", height);
        std::snprintf(hex[3], 9, "%08x", paperSize);
        std::snprintf(hex[4], 9, "%08x", widthMm);
        std::ofstream(registry_)
            << "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_LOCAL_MACHINE\\Printers\\QX-470 Driver]\n"
               "\"Driver\"=\"QX470.dll\"\n\"Port\"=\""
            << address << "\"\n"
            << "\"PHeight\"=dword:" << hex[2] << "\n\"PWidth\"=dword:" << hex[4] << "\n"
            << "\"PaperSize\"=dword:" << hex[3] << "\n\"Copies\"=dword:00000001\n"
            << "\"StartLogo\"=dword:00000000\n\"EndLogo\"=dword:00000000\n"
            << "\"PrintingLength\"=dword:" << hex[1] << "\n\"UserPaper\"=dword:00000001\n"
            << "\"Emulation\"=dword:" << hex[0] << "\n\"BackFeed\"=dword:00000000\n"
            << "\"Rotation\"=dword:00000000\n\n"
            << "[HKEY_LOCAL_MACHINE\\PrintSettings]\n\"TimeOut\"=dword:00000002\n";
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    Outcome QxPrint(const std::string& args) {
        qxtest::ChildProgram program;
        program.argv = qxtest::ShellLine(std::string("'") + QX_PRINT_BIN + "' " + args);
        program.env = {"QX_REGISTRY=" + registry_, "QX_DEBUG_LOG=" + dir_ + "/debug.log"};
        qxtest::ChildResult run = qxtest::RunChild(program);
        return {run.exitCode, run.err};
    }
    // Prints with an emulator listening at address; returns the PNG files it wrote.
    std::vector<std::string> PrintInto(const std::string& address, const std::string& args,
                                       Outcome& run, const std::string& folder = "out") {
        qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
        std::string out = dir_ + "/" + folder;
        EXPECT_TRUE(emulator.Start({"--tcp", address + ":9100", "--out", out, "--idle-ms", "0"}));
        run = QxPrint(args);
        emulator.Stop();
        return qxtest::PngFiles(out);
    }
    void ExpectGolden(const std::string& png, const std::string& name) {
        qxemu::Bitmap page;
        std::string error;
        ASSERT_TRUE(qxemu::ReadPng(png, &page, &error)) << error;
        auto outcome =
            qxtest::CheckGolden(page, std::string(QX_SOURCE_DIR) + "/tests/golden/" + name + ".png",
                                name + "-diff.png");
        EXPECT_TRUE(outcome.matched) << name << ": " << outcome.message;
    }
    std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    qxemu::Bitmap Page(const std::string& png) {
        qxemu::Bitmap page;
        std::string error;
        EXPECT_TRUE(qxemu::ReadPng(png, &page, &error)) << error;
        return page;
    }
    std::string Demo(const char* file) {
        return std::string(QX_SOURCE_DIR) + "/tools/demo/" + file;
    }

    qxtest::TempDir folder_{"qxprint"};
    std::string dir_, registry_;
};

TEST_F(QxPrintTest, AnImageBecomesOnePage) {
    Register("127.0.10.1", 0, 0);
    Outcome run;
    auto pages = PrintInto("127.0.10.1", "-q '" + Demo("logo.png") + "'", run);
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(pages.size(), 1u);
    ExpectGolden(pages[0], "qx-print-image");
}

TEST_F(QxPrintTest, LongTextRunsOntoAsManyLabelsAsItNeeds) {
    std::string text;
    for (int i = 1; i <= 40; ++i)
        text += "Line " + std::to_string(i) +
                ": words enough that this line wraps at the edge of the label\n";
    std::string file = Write("long.txt", text);
    Register("127.0.10.2", 1);
    Outcome run;
    auto pages = PrintInto("127.0.10.2", "'" + file + "'", run);
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_GE(pages.size(), 3u);
    EXPECT_NE(run.err.find("qx-print: page " + std::to_string(pages.size())), std::string::npos)
        << run.err;
    ExpectGolden(pages.front(), "qx-print-text-first");
    ExpectGolden(pages.back(), "qx-print-text-last");
}

TEST_F(QxPrintTest, AMixOfImageAndTextIsOneReceipt) {
    Register("127.0.10.3", 0, 0);
    Outcome run;
    auto pages =
        PrintInto("127.0.10.3", "-q '" + Demo("logo.png") + "' '" + Demo("receipt.txt") + "'", run);
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(pages.size(), 1u);
    ExpectGolden(pages[0], "qx-print-mix");
}

TEST_F(QxPrintTest, EachFailureHasItsMessageAndStatus) {
    Outcome r = QxPrint("");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no file to print"), std::string::npos);
    r = QxPrint("--colour x");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown option --colour"), std::string::npos);

    std::string text = Write("ok.txt", "hello\n");
    r = QxPrint("'" + text + "'");  // no registry file at all
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("no default printer is registered in " + registry_), std::string::npos)
        << r.err;
    Register("127.0.10.4", 0);
    r = QxPrint("--printer Other '" + text + "'");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("no printer \"Other\""), std::string::npos) << r.err;

    std::string withDriver = registry_ + ".kept";
    std::filesystem::copy_file(registry_, withDriver);
    {
        std::ifstream in(withDriver);
        std::stringstream all;
        all << in.rdbuf();
        std::string reg = all.str();
        reg.replace(reg.find("QX470.dll"), 9, "QX999.dll");
        std::ofstream(registry_) << reg;
    }
    r = QxPrint("'" + text + "'");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("driver (its \"Driver\" value in " + registry_ + ") cannot be loaded"),
              std::string::npos)
        << r.err;
    std::filesystem::copy_file(withDriver, registry_,
                               std::filesystem::copy_options::overwrite_existing);

    r = QxPrint("'" + dir_ + "/missing.txt' '" + text + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("missing.txt: cannot open the file"), std::string::npos) << r.err;
    r = QxPrint("'" + Write("data.bin", std::string("\0\1\2binary", 9)) + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("neither an image"), std::string::npos) << r.err;
    r = QxPrint("'" + dir_ + "' '" + text + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("qx-print: " + dir_ + ": is a directory\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("page"), std::string::npos) << r.err;
    r = QxPrint("'" + Write("broken.png", "\x89PNG\r\n\x1a\nnot really") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("broken.png: the image is damaged"), std::string::npos) << r.err;

    r = QxPrint("--port LPT7: '" + text + "'");
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("port \"LPT7:\" does not open"), std::string::npos) << r.err;
    // The debug output names the port and the Linux device behind it.
    EXPECT_NE(Read(dir_ + "/debug.log").find("CreateFile: LPT7: is the Linux device /dev/"),
              std::string::npos)
        << Read(dir_ + "/debug.log");
}

TEST_F(QxPrintTest, DamagedOrHugeImagesAreRefusedAndNothingIsPrinted) {
    QImage picture(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x) picture.setPixel(x, y, qRgb(x % 256, y, 128));
    const std::string bmp = dir_ + "/photo.bmp", jpg = dir_ + "/photo.jpg";
    ASSERT_TRUE(picture.save(QString::fromStdString(bmp), "BMP"));
    ASSERT_TRUE(picture.save(QString::fromStdString(jpg), "JPG"));
    const std::string gif =
        Write("dot.gif", std::string("GIF89a\x01\0\x01\0\x80\0\0\xFF\xFF\xFF\0\0\0"
                                     "!\xF9\x04\x01\0\0\0\0,\0\0\0\0\x01\0\x01\0\0"
                                     "\x02\x02\x44\x01\0;",
                                     43));
    Register("127.0.10.5", 0, 0);
    Outcome run;
    auto pages =
        PrintInto("127.0.10.5", "-q '" + bmp + "' '" + jpg + "' '" + gif + "'", run, "whole");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(pages.empty());

    std::string halves;
    std::vector<std::string> cut;
    for (const std::string& whole : {bmp, jpg, gif}) {
        std::string bytes = Read(whole);
        cut.push_back(
            Write("half-" + whole.substr(whole.rfind('/') + 1), bytes.substr(0, bytes.size() / 2)));
        halves += " '" + cut.back() + "'";
    }
    pages = PrintInto("127.0.10.5", "-q" + halves, run, "halves");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(pages.empty());
    for (const std::string& path : cut)
        EXPECT_NE(run.err.find("qx-print: " + path + ": the image is damaged"), std::string::npos)
            << run.err;

    // 12000 x 12000 dots, more than an image may take, in a file of a few bytes.
    const std::string huge =
        Write("huge.gif", std::string("GIF89a\xE0\x2E\xE0\x2E\x80\0\0\xFF\xFF\xFF\0\0\0"
                                      ",\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;",
                                      35));
    Outcome r = QxPrint("'" + huge + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("huge.gif: the image is too large to load"), std::string::npos) << r.err;
    // Well-formed PNGs past the loader's limit, of one bit and of sixteen bits a dot.
    for (const char* type : {"-type bilevel", "-depth 16 -type grayscale"}) {
        const std::string png = dir_ + "/large.png";
        qxtest::ChildProgram convert;
        convert.argv = qxtest::ShellLine(
            "convert -size 7000x7000 xc:white -fill black -draw 'rectangle 9,9 99,99' " +
            std::string(type) + " 'PNG:" + png + "'");
        ASSERT_TRUE(qxtest::RunChild(convert).Exited(0));
        r = QxPrint("'" + png + "'");
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("large.png: the image is too large to load"), std::string::npos)
            << type << r.err;
    }
}

// A preset paper ("PaperSize" 1 to 4) stored beside a length and width of another
// paper, which the driver does not use: the label it prints has the preset's length.
struct Paper {
    int paperSize;
    int storedTenths;  // the "PHeight" left in the registry
    int presetTenths;  // the preset's own length
    int printedRows;   // the rows of each page the driver prints
};
void PrintTo(const Paper& p, std::ostream* os) {
    *os << "PaperSize " << p.paperSize << " with PHeight " << p.storedTenths;
}

class QxPrintPaperTest : public QxPrintTest, public ::testing::WithParamInterface<Paper> {};

TEST_P(QxPrintPaperTest, ImagesFitTheLabelTheDriverPrints) {
    const Paper& paper = GetParam();
    qxemu::Bitmap black(500, 300);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 500; ++x) black.SetDot(x, y);
    std::string error, image = dir_ + "/black.png";
    ASSERT_TRUE(qxemu::WritePng(image, black, {}, &error)) << error;
    const std::string address = "127.0.10." + std::to_string(20 + paper.paperSize);
    for (bool landscape : {true, false}) {
        SCOPED_TRACE(landscape ? "landscape" : "portrait");
        const std::string args = std::string(landscape ? "-q -l '" : "-q '") + image + "'";
        const std::string tag = landscape ? "landscape" : "portrait";
        // The same label as a custom length: the page the driver's own geometry gives.
        Register(address, 1, 1, paper.presetTenths, 0, 80);
        Outcome customRun;
        auto custom = PrintInto(address, args, customRun, tag + "-custom");
        Register(address, 1, 1, paper.storedTenths, paper.paperSize, 60);
        Outcome run;
        auto preset = PrintInto(address, args, run, tag + "-preset");
        EXPECT_EQ(run.status, 0) << run.err;
        ASSERT_EQ(preset.size(), 1u);
        ASSERT_EQ(custom.size(), 1u);
        qxemu::Bitmap page = Page(preset[0]);
        EXPECT_TRUE(page == Page(custom[0])) << preset[0] << " differs from " << custom[0];
        EXPECT_EQ(run.err, customRun.err);
        // Turned, the image is scaled to the label's length; upright, the label cuts it.
        int top = page.Height(), bottom = -1;
        for (int y = 0; y < page.Height(); ++y)
            for (int x = 0; x < page.Width(); ++x)
                if (page.Dot(x, y)) top = std::min(top, y), bottom = std::max(bottom, y);
        EXPECT_EQ(top, 0);
        EXPECT_EQ(bottom + 1, std::min(landscape ? 500 : 300, paper.printedRows));
    }
}

INSTANTIATE_TEST_SUITE_P(Presets, QxPrintPaperTest,
                         ::testing::Values(Paper{1, 1016, 254, 199}, Paper{2, 1016, 508, 399},
                                           Paper{3, 100, 762, 607}, Paper{4, 100, 1016, 807}),
                         [](const auto& info) {
                             return "PaperSize" + std::to_string(info.param.paperSize);
                         });

// "TimeOut" (2 s here) bounds a stall, not a job: a printer that reads the whole job,
// only slowly, gets it byte for byte and the job succeeds; one that stops reading fails
// the job soon after its last read.
TEST_F(QxPrintTest, ASlowPrinterGetsTheWholeJobAndOneThatStopsFailsIt) {
    Register("127.0.10.9", 0);
    const std::string receipt = Demo("receipt.txt");
    std::string whole;
    {
        SlowPrinter fast("127.0.10.9", 65536, 0);
        ASSERT_TRUE(fast.ok());
        Outcome run = QxPrint("-q '" + receipt + "'");
        EXPECT_EQ(run.status, 0) << run.err;
        whole = fast.Received();
    }
    ASSERT_GT(whole.size(), 4000u);
    {
        // The whole job fits the printer's buffer at once and takes it about 4 s, twice
        // "TimeOut", to read: it is seen to hold what it has not read yet.
        SlowPrinter slow("127.0.10.9", std::max<size_t>(1, whole.size() / 200), 20);
        ASSERT_TRUE(slow.ok());
        auto start = Clock::now();
        Outcome run = QxPrint("-q '" + receipt + "'");
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_GT(seconds, 3.0);
        EXPECT_TRUE(slow.Received() == whole)
            << slow.Received().size() << " of " << whole.size() << " bytes";
    }
    {
        SlowPrinter stops("127.0.10.9", 64, 20, 1024, 4096);
        ASSERT_TRUE(stops.ok());
        Outcome run = QxPrint("-q '" + receipt + "'");
        auto end = Clock::now();
        EXPECT_EQ(run.status, 5) << run.err;
        EXPECT_NE(run.err.find("stopped taking data"), std::string::npos) << run.err;
        double afterLastRead = std::chrono::duration<double>(end - stops.lastRead()).count();
        // "TimeOut" and at most four times that for what it may still hold unread.
        EXPECT_LT(afterLastRead, 2.0 + 4 * 2.0 + 2.0);
    }
}

// A key without "Copies" makes the driver print nothing; qx-print says so instead of
// reporting pages that never came out.
TEST_F(QxPrintTest, AKeyWithoutCopiesIsRefusedBeforeAnythingIsSent) {
    Register("127.0.10.10", 0);
    std::string reg = Read(registry_);
    const std::string copies = "\"Copies\"=dword:00000001\n";
    reg.erase(reg.find(copies), copies.size());
    std::ofstream(registry_) << reg;
    const std::string text = Write("note.txt", "hello\n");
    Outcome run;
    auto pages = PrintInto("127.0.10.10", "'" + text + "'", run);
    EXPECT_EQ(run.status, 6);
    EXPECT_TRUE(pages.empty());
    EXPECT_NE(run.err.find("have no \"Copies\" value, so the driver would print nothing"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("page 1"), std::string::npos) << run.err;

    reg.insert(reg.find("\"StartLogo\""), "\"Copies\"=dword:00000000\n");
    std::ofstream(registry_) << reg;
    run = QxPrint("'" + text + "'");
    EXPECT_EQ(run.status, 6);
    EXPECT_NE(run.err.find("ask for 0 copies"), std::string::npos) << run.err;
}

TEST_F(QxPrintTest, HelpTellsTheOptionsAndExitStatus) {
    Outcome r = QxPrint("--help >'" + dir_ + "/help.txt'");
    EXPECT_EQ(r.status, 0);
    std::ifstream in(dir_ + "/help.txt");
    std::stringstream s;
    s << in.rdbuf();
    for (const char* want : {"--printer NAME", "--port PORT", "Exit status", "QX_REGISTRY"})
        EXPECT_NE(s.str().find(want), std::string::npos) << want;
}

}  // namespace
