// qx-printer-app against hostile and unlucky clients: formats it does not take, image
// files that would wedge a reader, raster pages cut short, cancels at every stage,
// clients racing for one printer while the state is saved, kills at random moments and
// a second server on the same folder. Every wait is bounded.
#include <dirent.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <random>
#include <thread>

#include "../../../tests/support/emulator_process.h"
#include "../../../tests/support/printer_port.h"
#include "app_support.h"

namespace {

using namespace qxapptest;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---- PNG files made to measure ----

void PutBig32(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += char(v >> shift);
}

std::string Chunk(const std::string& type, const std::string& data) {
    std::string out;
    PutBig32(out, std::uint32_t(data.size()));
    std::string body = type + data;
    out += body;
    PutBig32(out, std::uint32_t(
                      crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    return out;
}

// An 8-bit grey PNG of that size whose rows are all `grey`, deflated as it goes: a
// small file that decodes to width x height bytes.
std::string GreyPng(std::uint32_t width, std::uint32_t height, unsigned char grey,
                    std::uint32_t rowsGiven) {
    std::string header;
    PutBig32(header, width);
    PutBig32(header, height);
    header += std::string("\x08\x00\x00\x00\x00", 5);
    z_stream z{};
    deflateInit(&z, 9);
    std::string row(size_t(width) + 1, char(grey));
    row[0] = 0;  // no filter
    std::string idat;
    std::vector<unsigned char> out(1 << 16);
    for (std::uint32_t y = 0; y <= rowsGiven; ++y) {
        bool last = y == rowsGiven;
        z.next_in = last ? nullptr : reinterpret_cast<Bytef*>(row.data());
        z.avail_in = last ? 0 : uInt(row.size());
        do {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            idat.append(reinterpret_cast<char*>(out.data()), out.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return "\x89PNG\r\n\x1a\n" + Chunk("IHDR", header) + Chunk("IDAT", idat) + Chunk("IEND", "");
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class RobustnessTest : public ServerFixture<> {
  protected:
    std::string Logo() { return std::string(QX_SOURCE_DIR) + "/tools/demo/logo.png"; }
    std::string Raster(const std::string& name, int pages) {
        std::string path = dir_ + "/" + name;
        EXPECT_TRUE(WriteRaster(path, 8000, 5080, pages));
        return path;
    }
    // A job that prints, to show the printer and the server still work.
    void ExpectAGoodJobPrints(const std::string& printer) {
        std::string err;
        int id = server_->PrintJob(printer, Logo(), "image/png", "successful-ok", &err);
        ASSERT_GT(id, 0) << err;
        JobState job = server_->WaitJob(printer, id, 60);
        EXPECT_EQ(job.state, "completed") << job.message;
    }
    // A serial printer on a pseudo-terminal that takes `rate` bytes a second, as COM1:.
    std::string SlowSerialPrinter(qxtest::EmulatorProcess& emulator, const std::string& rate) {
        EXPECT_TRUE(emulator.Start(
            {"--pty", "--out", dir_ + "/out", "--idle-ms", "0", "--fault", "slow=" + rate}));
        std::string tty = emulator.firstLine.substr(emulator.firstLine.find(' ') + 1);
        std::ofstream(dir_ + "/state/registry.reg") << "Windows Registry Editor Version 5.00\n\n"
                                                       "[HKEY_LOCAL_MACHINE\\Platform\\Devices]\n"
                                                       "\"COM1:\"=\""
                                                    << tty << "\"\n";
        return "COM1:%20115200";
    }
};

TEST_F(RobustnessTest, FormatsTheAppDoesNotTakeAreRefusedAndTheServerLives) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    ASSERT_TRUE(
        emulator.Start({"--tcp", "127.0.72.1:9100", "--out", dir_ + "/out", "--idle-ms", "0"}));
    Add("label", "127.0.72.1", "qx470-cpcl-gap");
    // PDF and text are taken (documents.h); PostScript, GIF, data of no kind the server
    // can tell and made-up types are not.
    std::string text = dir_ + "/note.txt", ps = dir_ + "/doc.ps", noise = dir_ + "/noise.bin";
    WriteBytes(text, "Hello\n");
    WriteBytes(ps, "%!PS-Adobe-3.0\nshowpage\n");
    WriteBytes(noise, std::string(4096, '\x07'));
    for (auto [file, format] : {std::pair{ps, "application/postscript"},
                                {ps, "application/octet-stream"},
                                {Logo(), "image/gif"},
                                {noise, "application/octet-stream"},
                                {text, "application/x-made-up"},
                                {Logo(), "image/made-up+png"}}) {
        SCOPED_TRACE(format);
        std::string err;
        EXPECT_EQ(server_->PrintJob("label", file, format,
                                    "client-error-document-format-not-supported", &err),
                  0)
            << err;
    }
    ExpectAGoodJobPrints("label");
}

TEST_F(RobustnessTest, ImagesTheLoaderRefusesAbortTheirJobsAtOnce) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    ASSERT_TRUE(
        emulator.Start({"--tcp", "127.0.72.2:9100", "--out", dir_ + "/out", "--idle-ms", "0"}));
    Add("receipt", "127.0.72.2", "qx470-escpos");
    std::string logo = ReadFile(Logo());
    struct Bad {
        std::string name, bytes;
    };
    const Bad files[] = {
        {"cut.png", logo.substr(0, 66)},
        {"liar.png", GreyPng(2147483647u, 1, 0, 0)},
        {"zeros.png", std::string(64u << 20, '\0')},
        {"white-30000.png", GreyPng(30000, 30000, 255, 30000)},
        {"half-given.png", GreyPng(4000, 4000, 0, 2000)},
    };
    for (const Bad& bad : files) {
        SCOPED_TRACE(bad.name);
        std::string path = dir_ + "/" + bad.name;
        WriteBytes(path, bad.bytes);
        std::string err;
        int id = server_->PrintJob("receipt", path, "image/png", "successful-ok", &err);
        ASSERT_GT(id, 0) << err;
        auto start = Clock::now();
        JobState job = server_->WaitJob("receipt", id, 30);
        EXPECT_LT(SecondsSince(start), 10.0);
        EXPECT_EQ(job.state, "aborted");
        EXPECT_NE(job.message.find("The image is"), std::string::npos) << job.message;
    }
    ExpectAGoodJobPrints("receipt");
    emulator.Stop();
    EXPECT_EQ(qxtest::PngFiles(dir_ + "/out").size(), 1u);
}

TEST_F(RobustnessTest, ARasterPageCutShortAbortsItsJob) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    ASSERT_TRUE(
        emulator.Start({"--tcp", "127.0.72.3:9100", "--out", dir_ + "/out", "--idle-ms", "0"}));
    Add("label", "127.0.72.3", "qx470-cpcl-gap");
    // Two pages, the second cut inside its dots; and a stream cut inside its first header.
    std::string whole = ReadFile(Raster("pages.pwg", 2));
    std::string cutPage = dir_ + "/cut-page.pwg", cutHeader = dir_ + "/cut-header.pwg";
    WriteBytes(cutPage, whole.substr(0, whole.size() - 300));
    WriteBytes(cutHeader, whole.substr(0, 900));
    for (const std::string& cut : {cutPage, cutHeader}) {
        SCOPED_TRACE(cut);
        // The app's own client ends its request with the file; ipptool keeps it open,
        // and the server then waits for the rest until the client's time-out.
        std::string err;
        int id = server_->Submit("label", "'" + cut + "'", &err);
        ASSERT_GT(id, 0) << err;
        JobState job = server_->WaitJob("label", id, 30);
        EXPECT_EQ(job.state, "aborted");
        EXPECT_FALSE(job.message.empty());
        if (cut == cutPage) {
            EXPECT_NE(job.message.find("Page 2 was cut short"), std::string::npos) << job.message;
        }
    }
    ExpectAGoodJobPrints("label");
    emulator.Stop();
    // The good job's label, and at most the first page of the cut job, never a part.
    EXPECT_LE(qxtest::PngFiles(dir_ + "/out").size(), 2u);
}

// The pages of a raster job may differ in size. Each goes to the worker in memory the two
// processes share, taken in turn by every other page and made anew when a page is larger
// than the last one there: every page prints, and the next job too.
TEST_F(RobustnessTest, RasterPagesOfDifferentSizesAllPrint) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    ASSERT_TRUE(
        emulator.Start({"--tcp", "127.0.72.11:9100", "--out", dir_ + "/out", "--idle-ms", "0"}));
    Add("label", "127.0.72.11", "qx470-cpcl-gap");
    // One stream of pages: each file's pages without the stream's leading sync word.
    auto pages = [&](int lengthHundredthsMm) {
        std::string path = dir_ + "/" + std::to_string(lengthHundredthsMm) + ".pwg";
        EXPECT_TRUE(WriteRaster(path, 8000, lengthHundredthsMm, 1));
        return ReadFile(path);
    };
    std::string small = pages(2540), large = pages(10160), mixed = dir_ + "/mixed.pwg";
    WriteBytes(mixed, small + small.substr(4) + large.substr(4) + small.substr(4) +
                          large.substr(4) + large.substr(4));
    std::string err;
    int id = server_->Submit("label", "'" + mixed + "'", &err);
    ASSERT_GT(id, 0) << err;
    JobState job = server_->WaitJob("label", id, 60);
    EXPECT_EQ(job.state, "completed") << job.message;
    ExpectAGoodJobPrints("label");
    emulator.Stop();
    EXPECT_EQ(qxtest::PngFiles(dir_ + "/out").size(), 7u);
}

// The server sends a job's pages to its worker without waiting for each answer; a
// printer that hangs up part way still fails the job with the page's reason, and the
// printer prints the next job.
TEST_F(RobustnessTest, APrinterThatHangsUpMidJobAbortsItWithItsReason) {
    int listener = qxtest::ListenAsPrinter("127.0.72.9", 4);
    ASSERT_GE(listener, 0);
    std::thread hangUp([listener] {
        int c = ::accept(listener, nullptr, nullptr);
        if (c < 0) return;
        char buffer[4096];
        for (size_t got = 0; got < 6000;) {
            ssize_t n = ::read(c, buffer, sizeof buffer);
            if (n <= 0) break;
            got += size_t(n);
        }
        linger abort{1, 0};  // a reset, as a printer switched off mid-job
        ::setsockopt(c, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        ::close(c);
    });
    Add("label", "127.0.72.9", "qx470-cpcl-gap");
    std::string err;
    int id = server_->Submit("label", "'" + Raster("pages.pwg", 20) + "'", &err);
    ASSERT_GT(id, 0) << err;
    JobState job = server_->WaitJob("label", id, 60);
    hangUp.join();
    ::close(listener);
    EXPECT_EQ(job.state, "aborted");
    EXPECT_NE(job.message.find("to the printer on 127.0.72.9 failed"), std::string::npos)
        << job.message;

    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    ASSERT_TRUE(
        emulator.Start({"--tcp", "127.0.72.9:9100", "--out", dir_ + "/out", "--idle-ms", "0"}));
    ExpectAGoodJobPrints("label");
    emulator.Stop();
}

TEST_F(RobustnessTest, CancelsTakeEffectAtOnceAndAPendingJobNeverStarts) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    Add("receipt", SlowSerialPrinter(emulator, "2000"), "qx470-escpos");
    // Ten pages streamed to a printer that takes 2000 bytes a second: a long job, whose
    // client waits for its end.
    std::string raster = Raster("ten.pwg", 10);
    auto submitted = std::async(std::launch::async,
                                [&] { return server_->Submit("receipt", "'" + raster + "'"); });
    const int running = 1;
    ASSERT_TRUE(WaitFor([&] { return server_->Job("receipt", running).impressions >= 1; }, 30));
    int pending = server_->PrintJob("receipt", Logo(), "image/png");
    ASSERT_GT(pending, 0);
    EXPECT_EQ(server_->Job("receipt", pending).state, "pending");

    EXPECT_EQ(server_->App("cancel -j " + std::to_string(pending), "receipt").status, 0);
    EXPECT_EQ(server_->Job("receipt", pending).state, "canceled");
    // The job in the printer's port is stopped where it is, not after its page.
    auto start = Clock::now();
    EXPECT_EQ(server_->App("cancel -j " + std::to_string(running), "receipt").status, 0);
    JobState job = server_->WaitJob("receipt", running, 10);
    // The server stops the job within about half a second; the rest is the clients' own
    // start-up, slow under the sanitizers.
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_EQ(job.state, "canceled") << job.message;
    EXPECT_EQ(server_->WaitJob("receipt", pending, 5).state, "canceled");
    submitted.get();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(server_->Job("receipt", pending).state, "canceled");
    EXPECT_EQ(ReadFile(dir_ + "/app.log").find("Unable to open"), std::string::npos);
    EXPECT_TRUE(Workers(server_->pid()).empty());
}

// A queue prints in the order it was sent: the oldest waiting job first.
TEST_F(RobustnessTest, WaitingJobsPrintInTheOrderTheyCame) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    Add("receipt", SlowSerialPrinter(emulator, "4000"), "qx470-escpos");
    std::vector<int> ids;
    for (int i = 0; i < 4; ++i) ids.push_back(server_->PrintJob("receipt", Logo(), "image/png"));
    for (int id : ids) EXPECT_EQ(server_->WaitJob("receipt", id, 60).state, "completed");
    std::string log = ReadFile(dir_ + "/app.log");
    size_t at = 0;
    for (int id : ids) {
        at = log.find("[Job " + std::to_string(id) + "] Starting print job.", at);
        EXPECT_NE(at, std::string::npos)
            << "job " << id << " did not start after the one before it";
    }
}

TEST_F(RobustnessTest, AWorkerThatDiesAbortsOnlyItsJob) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    Add("receipt", SlowSerialPrinter(emulator, "2000"), "qx470-escpos");
    int id = server_->PrintJob("receipt", Logo(), "image/png");
    ASSERT_GT(id, 0);
    std::vector<pid_t> workers;
    ASSERT_TRUE(WaitFor([&] { return !(workers = Workers(server_->pid())).empty(); }, 30));
    ::kill(workers[0], SIGKILL);
    JobState job = server_->WaitJob("receipt", id, 10);
    EXPECT_EQ(job.state, "aborted");
    EXPECT_NE(job.message.find("signal 9"), std::string::npos) << job.message;
    emulator.Stop();

    qxtest::EmulatorProcess fast(QX_EMULATOR_BIN);
    ASSERT_TRUE(
        fast.Start({"--tcp", "127.0.72.4:9100", "--out", dir_ + "/fast", "--idle-ms", "0"}));
    Add("next", "127.0.72.4", "qx470-escpos");
    ExpectAGoodJobPrints("next");
    id = server_->PrintJob("receipt", Logo(), "image/png");
    EXPECT_GT(id, 0);
    // Its printer is gone, so the job may end on its own before the cancel reaches it.
    int cancelled = server_->App("cancel -j " + std::to_string(id), "receipt").status;
    job = server_->WaitJob("receipt", id, 10);
    EXPECT_TRUE(job.state == "canceled" || (job.state == "aborted" && cancelled != 0))
        << job.state << ", cancel's status " << cancelled;
    // The worker kept for the next job of "next" goes after its 3 s.
    EXPECT_TRUE(WaitFor([&] { return Workers(server_->pid()).empty(); }, 15));
}

// Workers are forked by one zygote, yet are the server's own children; a zygote that
// dies is replaced at the next job, and none is left once the printers are idle.
TEST_F(RobustnessTest, WorkersComeFromAZygoteThatIsReplacedWhenItDies) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    ASSERT_TRUE(
        emulator.Start({"--tcp", "127.0.72.10:9100", "--out", dir_ + "/out", "--idle-ms", "0"}));
    Add("label", "127.0.72.10", "qx470-cpcl-gap");
    const pid_t server = server_->pid();
    ExpectAGoodJobPrints("label");
    std::vector<pid_t> zygotes = Workers(server, "--qx-job-zygote");
    std::vector<pid_t> workers = Workers(server);
    ASSERT_EQ(zygotes.size(), 1u);
    ASSERT_EQ(workers.size(), 1u);  // kept for the printer's next job
    // The zygote started the drawing toolkit for its workers (a platform plugin is
    // loaded) and runs a single thread, as a process that forks must.
    const std::string zygote = "/proc/" + std::to_string(zygotes[0]);
    EXPECT_NE(ReadFile(zygote + "/maps").find("/plugins/platforms/"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(zygote + "/task"),
                            std::filesystem::directory_iterator()),
              1);

    // The zygote and the kept worker killed: the next job needs a new worker and gets one.
    ::kill(zygotes[0], SIGKILL);
    ::kill(workers[0], SIGKILL);
    ExpectAGoodJobPrints("label");
    std::vector<pid_t> again = Workers(server, "--qx-job-zygote");
    ASSERT_EQ(again.size(), 1u);
    EXPECT_NE(again[0], zygotes[0]);

    // Idle, the kept worker and the zygote go, and the server has waited for both.
    EXPECT_TRUE(WaitFor([&] { return ChildrenOf(server).empty(); }, 15))
        << ChildrenOf(server).size() << " children left";
    ExpectAGoodJobPrints("label");
    emulator.Stop();
    EXPECT_EQ(qxtest::PngFiles(dir_ + "/out").size(), 3u);
}

TEST_F(RobustnessTest, SigtermEndsTheServerWithinFiveSecondsWhilePrintingAndNothingIsLost) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    Add("receipt", SlowSerialPrinter(emulator, "2000"), "qx470-escpos");
    Add("spare", "127.0.72.5", "qx250-escpos");
    int id = server_->PrintJob("receipt", Logo(), "image/png");
    ASSERT_GT(id, 0);
    ASSERT_TRUE(WaitFor([&] { return !Workers(server_->pid()).empty(); }, 30));
    pid_t server = server_->pid();
    auto start = Clock::now();
    qxtest::ChildResult ended = server_->Signal(SIGTERM, 10s);
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_TRUE(ended.exitCode >= 0) << ended.Describe();
    EXPECT_TRUE(Workers(server).empty());

    server_ = std::make_unique<AppServer>(dir_);
    ASSERT_TRUE(server_->Start()) << ReadFile(dir_ + "/server.err");
    std::string printers = server_->App("printers").out;
    EXPECT_NE(printers.find("receipt"), std::string::npos) << printers;
    EXPECT_NE(printers.find("spare"), std::string::npos) << printers;
}

TEST_F(RobustnessTest, ClientsStreamingRasterToOnePrinterWhileTheStateIsSavedNeverHang) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    ASSERT_TRUE(
        emulator.Start({"--tcp", "127.0.72.6:9100", "--out", dir_ + "/out", "--idle-ms", "0"}));
    Add("label", "127.0.72.6", "qx470-cpcl-gap");
    std::string raster = Raster("page.pwg", 1);
    std::string job = dir_ + "/stream.test", set = dir_ + "/set.test";
    std::ofstream(job)
        << "{ OPERATION Print-Job\n GROUP operation-attributes-tag\n"
           " ATTR charset attributes-charset utf-8\n ATTR language attributes-natural-language en\n"
           " ATTR uri printer-uri $uri\n ATTR name requesting-user-name test\n"
           " ATTR mimeMediaType document-format image/pwg-raster\n FILE $filename\n"
           " STATUS successful-ok\n STATUS server-error-busy\n}\n";
    std::ofstream(set)
        << "{ OPERATION Set-Printer-Attributes\n GROUP operation-attributes-tag\n"
           " ATTR charset attributes-charset utf-8\n ATTR language attributes-natural-language en\n"
           " ATTR uri printer-uri $uri\n GROUP printer-attributes-tag\n"
           " ATTR text printer-location $location\n STATUS successful-ok\n}\n";
    std::atomic<bool> done{false};
    // Every change of a printer's settings makes the server save its state.
    std::thread saver([&] {
        for (int i = 0; !done; ++i)
            Shell("ipptool -T 20 -d location=shelf-" + std::to_string(i) + " " +
                      server_->Uri("label") + " '" + set + "'",
                  dir_);
    });
    auto start = Clock::now();
    std::vector<std::future<int>> clients;
    for (int c = 0; c < 3; ++c)
        clients.push_back(std::async(std::launch::async, [&] {
            int failures = 0;
            for (int round = 0; round < 30; ++round)
                if (Shell("ipptool -T 30 -f '" + raster + "' " + server_->Uri("label") + " '" +
                              job + "'",
                          dir_)
                        .status != 0)
                    ++failures;
            return failures;
        }));
    for (auto& c : clients) EXPECT_EQ(c.get(), 0);
    done = true;
    saver.join();
    std::cout << "90 raster jobs from three clients in " << SecondsSince(start) << " s\n";
    ExpectAGoodJobPrints("label");
}

TEST_F(RobustnessTest, KillingTheServerAtAnyMomentLosesNoPrinter) {
    std::mt19937 random(2026);
    std::vector<std::string> kept;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (round > 0) {
            server_ = std::make_unique<AppServer>(dir_);
            ASSERT_TRUE(server_->Start()) << ReadFile(dir_ + "/server.err");
        }
        std::string printers = server_->App("printers").out;
        for (const std::string& name : kept)
            EXPECT_NE(printers.find(name + "\n"), std::string::npos) << printers;
        std::string name = "kept" + std::to_string(round);
        Add(name, "127.0.72." + std::to_string(10 + round),
            round % 2 ? "qx250-escpos" : "qx470-cpcl-gap");
        kept.push_back(name);
        // What is added now is saved a moment later; the kill comes while more is added
        // and saved, at any point of it.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        std::thread more([&, round] {
            for (int i = 0; i < 3; ++i)
                server_->App("add -d extra" + std::to_string(round) + "x" + std::to_string(i) +
                             " -v qx:127.0.73.1 -m qx470-escpos");
        });
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 600)(random)));
        server_->Signal(SIGKILL, 10s);
        more.join();
    }
    server_ = std::make_unique<AppServer>(dir_);
    ASSERT_TRUE(server_->Start()) << ReadFile(dir_ + "/server.err");
    std::string printers = server_->App("printers").out;
    for (const std::string& name : kept)
        EXPECT_NE(printers.find(name + "\n"), std::string::npos) << printers;
}

TEST_F(RobustnessTest, ASecondServerOnTheSameFolderOrPortRefusesToStart) {
    auto second = [&](const std::string& state, int port) {
        qxtest::ChildProgram program;
        program.argv = {QX_PRINTER_APP_BIN,
                        "server",
                        "-o",
                        "server-port=" + std::to_string(port),
                        "-o",
                        "spool-directory=" + state,
                        "-o",
                        "log-file=" + dir_ + "/second.log"};
        program.timeLimit = 20s;
        return RunProgram(program);
    };
    CommandRun sameFolder = second(dir_ + "/state", FreePort());
    EXPECT_NE(sameFolder.status, 0);
    EXPECT_NE(sameFolder.err.find("already uses the state folder"), std::string::npos)
        << sameFolder.err;
    CommandRun samePort = second(dir_ + "/other", server_->port());
    EXPECT_NE(samePort.status, 0);
    EXPECT_NE(samePort.err.find("is in use"), std::string::npos) << samePort.err;
    EXPECT_EQ(server_->App("printers").status, 0);
}

TEST_F(RobustnessTest, ClientCommandsHonourTheServerUriAndNeverHoldTheCallersOutput) {
    Add("only-here", "127.0.72.7", "qx470-escpos");
    CommandRun listed = server_->App("printers");
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "only-here\n");
    // A client with no server starts a private one; its output must not keep the
    // caller's pipe open. Root's clients meet at one socket in /run, which other tests'
    // servers hold: this client gets a /run of its own.
    if (::getuid() != 0) GTEST_SKIP() << "needs root for a mount namespace of its own";
    std::string home = dir_ + "/private", app = "'" + std::string(QX_PRINTER_APP_BIN) + "'";
    std::string script = dir_ + "/private.sh";
    std::ofstream(script) << "mount -t tmpfs tmpfs /run || exit 9\nexport HOME=" << home
                          << " XDG_STATE_HOME=" << home << "\nout=$(" << app
                          << " printers)\necho \"[$out]\"\n"
                          << app << " shutdown\n";
    auto start = Clock::now();
    CommandRun r = Shell("unshare -m sh '" + script + "'", dir_, 30s);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "[]\n") << r.err;
    EXPECT_LT(SecondsSince(start), 20.0);
}

// CUPS's own conformance suites, run five times over: whatever they ask, the server
// answers and lives (the sanitizers' reports are looked for when it stops).
TEST_F(RobustnessTest, CupsConformanceSuitesNeverCrashTheServer) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    ASSERT_TRUE(
        emulator.Start({"--tcp", "127.0.72.8:9100", "--out", dir_ + "/out", "--idle-ms", "0"}));
    Add("label", "127.0.72.8", "qx470-cpcl-gap");
    for (int round = 0; round < 5; ++round)
        for (const char* suite : {"ipp-1.1.test", "ipp-2.0.test"}) {
            SCOPED_TRACE(std::string(suite) + " round " + std::to_string(round));
            CommandRun r = Shell(
                "ipptool -tI -T 30 -f '" + Logo() + "' " + server_->Uri("label") + " " + suite,
                dir_, 120s);
            EXPECT_NE(r.out.find("[PASS]"), std::string::npos) << r.out << r.err;
            EXPECT_EQ(server_->App("printers").out, "label\n");
        }
}

}  // namespace
