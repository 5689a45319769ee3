// Print jobs whose printer goes away part way, through the engine and QX470.dll: qx-print
// against loopback peers, the emulator and pseudo-terminals, and a program answering
// the driver's prompt itself. A failed job must say so and send nothing after the
// failure; a job that succeeds sends the same stream as ever.
#include "port_peer_support.h"  // before the platform's socket names

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>

#include "child_process.h"
#include "driver_key.h"
#include "emulator_process.h"
#include "golden_page.h"
#include "png_io.h"
#include "port_test_support.h"
#include "wce/gdi.h"
#include "wce/ui.h"

namespace {

using namespace qx470::testing;
using Clock = std::chrono::steady_clock;
using Mode = TcpPrinter::Mode;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// Short lines, about fourteen to a label.
std::string TextOfPages(int pages) {
    std::string text;
    for (int line = 1; line <= pages * 14; ++line)
        text += "Line " + std::to_string(line) + ": the printer takes this line\n";
    return text;
}

struct Outcome {
    int status = -1;
    std::string err;
    double seconds = 0;
};

class JobFailureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = world_.dir();
        wce::srand(1);
    }
    // The driver key for the port, ESC/POS on a 50.8 mm label, and "TimeOut".
    void Register(const std::string& port, int timeout = 2) {
        qxtest::RegisterDriver(wce::Utf8ToWide(port));
        qxtest::SetNumber(u"TimeOut", timeout, u"PrintSettings");
    }
    std::string WriteText(int pages) {
        std::string path = dir_ + "/job.txt";
        std::ofstream(path) << TextOfPages(pages);
        return path;
    }
    // qx-print as a user runs it; without a debug log its driver lines go to stderr.
    Outcome QxPrint(const std::string& file, bool debugLog = true) {
        qxtest::ChildProgram program;
        program.argv = {QX_PRINT_BIN, "-q", file};
        if (!debugLog) program.env = {"QX_DEBUG_LOG"};
        Outcome run;
        auto start = Clock::now();
        qxtest::ChildResult child = qxtest::RunChild(program);
        run.seconds = SecondsSince(start);
        run.status = child.exitCode;
        run.err = child.err;
        return run;
    }
    // The stream of the job printed to a printer that takes everything.
    std::string NormalStream(const std::string& address, const std::string& file) {
        TcpPrinter printer(address.c_str(), Mode::kReadAll);
        EXPECT_TRUE(printer.ok());
        Register(address);
        Outcome run = QxPrint(file);
        EXPECT_EQ(run.status, 0) << run.err;
        return printer.inbox().Wait();
    }
    // A failed run: exit 5, one message naming the page and the port.
    static void ExpectStopped(const Outcome& run, const std::string& port) {
        EXPECT_EQ(run.status, 5) << run.err;
        EXPECT_EQ(Count(run.err, "qx-print: page "), 1u) << run.err;
        EXPECT_NE(run.err.find(": the printer on port \"" + port + "\" stopped taking data"),
                  std::string::npos)
            << run.err;
    }
    // What a faulty peer received is the start of the normal stream, and nobody came back
    // with the rest.
    static void ExpectPrefix(TcpPrinter& printer, const std::string& normal, size_t size) {
        std::string received = printer.inbox().Wait();
        EXPECT_EQ(received.size(), size);
        EXPECT_TRUE(normal.compare(0, received.size(), received) == 0) << "not a prefix of the job";
        EXPECT_EQ(printer.laterConnections(), 0);
    }
    void ExpectClosingPeersGetAPrefix(const char* normalAddress, const char* address,
                                      std::initializer_list<size_t> limits);
    void ExpectNextJobPrintsItsGolden(const std::string& address) {
        qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
        std::string out = dir_ + "/healthy";
        ASSERT_TRUE(emulator.Start({"--tcp", address + ":9100", "--out", out, "--idle-ms", "0"}));
        Register(address);
        qxtest::SetNumber(u"PrintingLength", 0);
        Outcome run = QxPrint(std::string(QX_SOURCE_DIR) + "/tools/demo/logo.png");
        EXPECT_EQ(emulator.Stop(), 0);
        EXPECT_EQ(run.status, 0) << run.err;
        auto pages = qxtest::PngFiles(out);
        ASSERT_EQ(pages.size(), 1u);
        qxemu::Bitmap page;
        std::string error;
        ASSERT_TRUE(qxemu::ReadPng(pages[0], &page, &error)) << error;
        auto outcome = qxtest::CheckGolden(
            page, std::string(QX_SOURCE_DIR) + "/tests/golden/qx-print-image.png",
            "qx-print-image-diff.png");
        EXPECT_TRUE(outcome.matched) << outcome.message;
    }

    qxtest::TempWorld world_{"qxjobfail"};
    std::string dir_;
};

// Peers that close after the given counts of bytes of a twelve-label job; two counts a
// test, since each failure costs its five tries 1 s apart.
void JobFailureTest::ExpectClosingPeersGetAPrefix(const char* normalAddress, const char* address,
                                                  std::initializer_list<size_t> limits) {
    std::string file = WriteText(12);
    std::string normal = NormalStream(normalAddress, file);
    ASSERT_GT(normal.size(), 100000u);
    for (size_t limit : limits) {
        SCOPED_TRACE(limit);
        TcpPrinter printer(address, Mode::kCloseAfter, limit);
        ASSERT_TRUE(printer.ok());
        Register(address);
        Outcome run = QxPrint(file);
        ExpectStopped(run, address);
        ExpectPrefix(printer, normal, limit);
        EXPECT_LT(run.seconds, 10.0);  // the tries of one send, not of every flush
    }
}

TEST_F(JobFailureTest, PeerClosingAtOnceOrAfterOneByteGetsAPrefixAndTheJobFails) {
    ExpectClosingPeersGetAPrefix("127.0.11.1", "127.0.11.2", {0, 1});
}

TEST_F(JobFailureTest, PeerClosingMidJobGetsAPrefixAndTheJobFails) {
    ExpectClosingPeersGetAPrefix("127.0.11.3", "127.0.11.4", {1000, 100000});
}

TEST_F(JobFailureTest, ResetMidPageAndEmulatorFaultFailTheJobAndTheNextJobPrints) {
    std::string file = WriteText(12);
    std::string normal = NormalStream("127.0.11.5", file);
    {
        TcpPrinter printer("127.0.11.6", Mode::kResetAfter, 30000);
        ASSERT_TRUE(printer.ok());
        Register("127.0.11.6");
        Outcome run = QxPrint(file);
        ExpectStopped(run, "127.0.11.6");
        ExpectPrefix(printer, normal, 30000);
    }
    {
        qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
        std::string out = dir_ + "/faulty";
        ASSERT_TRUE(emulator.Start({"--tcp", "127.0.11.7:9100", "--out", out, "--idle-ms", "0",
                                    "--fault", "close-after=20000"}));
        Register("127.0.11.7");
        Outcome run = QxPrint(file);
        EXPECT_EQ(emulator.Stop(), 0);
        ExpectStopped(run, "127.0.11.7");
        std::ifstream in(out + "/emulator.log");
        std::stringstream log;
        log << in.rdbuf();
        EXPECT_NE(log.str().find("closing after 20000 bytes"), std::string::npos) << log.str();
        EXPECT_EQ(Count(log.str(), "== connection "), 1u) << log.str();
    }
    ExpectNextJobPrintsItsGolden("127.0.11.7");
}

TEST_F(JobFailureTest, LongJobToAPeerThatNeverReadsEndsAfterOneTimeOutsTries) {
    // 200 labels; no debug log is named. Loopback buffers may take the whole job, and
    // then it is the end of the document that waits its "TimeOut" in vain.
    std::string file = WriteText(200);
    TcpPrinter printer("127.0.11.8", Mode::kNeverRead, 0, 4096);
    ASSERT_TRUE(printer.ok());
    Register("127.0.11.8", 2);
    Outcome run = QxPrint(file, false);
    ExpectStopped(run, "127.0.11.8");
    EXPECT_NE(run.err.find("(error 10060)"), std::string::npos) << run.err;
    // Drawing the labels, then at most five sends of "TimeOut" each, 1 s apart; not a
    // time-out for every flush.
    EXPECT_LT(run.seconds, 28.0);
    EXPECT_EQ(Count(run.err, "PrinterSend() Failed"), 1u) << run.err;
    EXPECT_EQ(printer.laterConnections(), 0);
}

TEST_F(JobFailureTest, SmallJobToAPeerThatNeverReadsFailsAtItsEnd) {
    std::string file = WriteText(1);
    TcpPrinter printer("127.0.11.9", Mode::kNeverRead);
    ASSERT_TRUE(printer.ok());
    Register("127.0.11.9", 2);
    Outcome run = QxPrint(file);
    ExpectStopped(run, "127.0.11.9");
    EXPECT_NE(run.err.find("qx-print: page 1:"), std::string::npos) << run.err;
    // The printer's "TimeOut" (2 s), and, since it took the whole job (about 11.5 KB)
    // into its buffer and may be reading it without a sign, four times that again.
    EXPECT_GE(run.seconds, 9.5);
    EXPECT_LT(run.seconds, 15.0);
}

TEST_F(JobFailureTest, TerminalWhoseReaderGoesAwayWithTimeOutOfNone) {
    Pty pty(u"COM1:");
    ASSERT_TRUE(pty.ok());
    Register("COM1:", 0);  // read as 45 s; a reader that has gone fails every write at once
    std::string file = WriteText(12);
    std::string received;
    std::thread reader([&] {
        char chunk[4096];
        while (received.size() < 20000) {
            pollfd entry{pty.master(), POLLIN, 0};
            if (::poll(&entry, 1, 10000) <= 0) break;
            ssize_t got =
                ::read(pty.master(), chunk, std::min(sizeof chunk, 20000 - received.size()));
            if (got <= 0) break;
            received.append(chunk, size_t(got));
        }
        pty.CloseReader();
    });
    Outcome run = QxPrint(file, false);
    reader.join();
    ExpectStopped(run, "COM1:");
    EXPECT_EQ(Count(run.err, "The printer is not responding."), 1u) << run.err;
    EXPECT_EQ(Count(run.err, "PrinterSend() Failed"), 1u) << run.err;
    EXPECT_EQ(received.size(), 20000u);
    EXPECT_LT(run.seconds, 10.0);
}

// A program printing to a serial printer on a pseudo-terminal, answering the driver's
// prompt itself.
class TerminalJobTest : public JobFailureTest {
  protected:
    void SetUp() override {
        JobFailureTest::SetUp();
        ASSERT_TRUE(pty_.ok());
        Register("COM1:", 1);
    }
    void TearDown() override { StopReading(); }

    // Reads the terminal on a thread of its own until told to stop.
    void StartReading() {
        reading_ = true;
        reader_ = std::thread([this] {
            while (reading_) {
                std::string bytes = pty_.Drain(20);
                std::lock_guard<std::mutex> hold(lock_);
                received_ += bytes;
            }
        });
    }
    void StopReading() {
        reading_ = false;
        if (reader_.joinable()) reader_.join();
    }
    std::string Received() {
        std::lock_guard<std::mutex> hold(lock_);
        return received_ + pty_.Drain();
    }

    struct Results {
        bool allOk = true;
        int failedAt = 0;  // the call that failed: 1 StartPage of page 1, ..., -1 EndDoc
    };
    // Sixteen labels of text lines, stopping at the first call that fails.
    Results PrintPages() {
        wce::srand(1);  // the same dither in every run
        Results r;
        wce::HDC dc = wce::CreateDCW(nullptr, u"QX-470 Driver", nullptr, nullptr);
        EXPECT_NE(dc, nullptr);
        if (!dc) return r;
        wce::LOGFONTW lf{};
        lf.lfHeight = 24;
        lf.lfWidth = 12;
        std::char_traits<char16_t>::copy(lf.lfFaceName, u"Arial", 6);
        wce::HFONT font = wce::CreateFontIndirectW(&lf);
        wce::SelectObject(dc, font);
        wce::DOCINFOW doc{int(sizeof(wce::DOCINFOW)), u"terminal", nullptr, nullptr, 0};
        EXPECT_GT(wce::StartDocW(dc, &doc), 0);
        for (int page = 1; page <= 16 && r.allOk; ++page) {
            if (wce::StartPage(dc) <= 0) {
                r.allOk = false, r.failedAt = page;
                break;
            }
            for (int line = 0; line < 14; ++line) {
                std::u16string text = u"Page " + wce::Utf8ToWide(std::to_string(page)) + u" line " +
                                      wce::Utf8ToWide(std::to_string(line)) + u": across the label";
                wce::TextOutW(dc, 0, line * 27, text.c_str(), int(text.size()));
            }
            if (wce::EndPage(dc) <= 0) r.allOk = false, r.failedAt = page;
        }
        if (wce::EndDoc(dc) <= 0 && r.allOk) r.allOk = false, r.failedAt = -1;
        wce::SelectObject(dc, wce::GetStockObject(wce::SYSTEM_FONT));
        wce::DeleteObject(font);
        wce::DeleteDC(dc);
        return r;
    }
    std::string Normal() {
        StartReading();
        EXPECT_TRUE(PrintPages().allOk);
        StopReading();
        std::string normal = Received();
        received_.clear();
        return normal;
    }

    Pty pty_{u"COM1:"};
    std::thread reader_;
    std::atomic<bool> reading_{false};
    std::mutex lock_;
    std::string received_;
};

TEST_F(TerminalJobTest, StallAnsweredCancelEndsTheDocumentAndWritesNothingMore) {
    std::string normal = Normal();
    ASSERT_GT(normal.size(), 100000u);  // more than the terminal holds unread
    wce::ScriptedMessageBoxes boxes({wce::IDCANCEL});
    Results r = PrintPages();  // nobody reads
    EXPECT_FALSE(r.allOk);
    EXPECT_NE(r.failedAt, 1);  // the first pages went into the terminal's buffers
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_NE(boxes.shown()[0].text.find(u"Port: COM1:"), std::u16string::npos);
    std::string received = Received();
    EXPECT_GT(received.size(), 0u);
    EXPECT_LT(received.size(), normal.size());
    EXPECT_TRUE(normal.compare(0, received.size(), received) == 0) << "not a prefix of the job";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(pty_.Drain(), "");
}

TEST_F(TerminalJobTest, StallAnsweredRetryOnceTheReaderResumesSendsTheNormalStream) {
    std::string normal = Normal();
    wce::ScriptedMessageBoxes boxes({wce::IDRETRY});
    boxes.OnShow([this](const wce::ScriptedMessageBoxes::Shown&) {
        if (!reading_) StartReading();
    });
    Results r = PrintPages();
    EXPECT_TRUE(r.allOk) << "failed at " << r.failedAt;
    EXPECT_EQ(boxes.shown().size(), 1u);
    StopReading();
    std::string received = Received();
    EXPECT_EQ(received.size(), normal.size());
    EXPECT_TRUE(received == normal) << "bytes lost, doubled or reordered across the retry";
}

}  // namespace
