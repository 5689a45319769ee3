// The printer application as its users meet it: the server started on a free loopback
// port with a state folder of its own, its sub-commands and ipptool as clients, a
// listener that keeps every byte a printer would get, and PWG raster files to print.
#pragma once

#include <arpa/inet.h>
#include <cups/raster.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "printer_port.h"
#include "temp_dir.h"

namespace qxapptest {

using namespace std::chrono_literals;

// An 8-bit grey image (0 black) as a Windows bitmap file with a grey palette, as
// qx-print takes a page.
inline bool WriteGreyBmp(const std::string& path, const std::vector<std::uint8_t>& grey, int width,
                         int height) {
    if (width <= 0 || height <= 0 || grey.size() < size_t(width) * size_t(height)) return false;
    const size_t stride = (size_t(width) + 3) & ~size_t(3);
    const size_t headers = 14 + 40 + 256 * 4;
    std::vector<std::uint8_t> file(headers + stride * size_t(height), 0);
    auto put = [&](size_t at, std::uint32_t v, int bytes) {
        for (int k = 0; k < bytes; ++k) file[at + size_t(k)] = std::uint8_t(v >> (8 * k));
    };
    file[0] = 'B';
    file[1] = 'M';
    put(2, std::uint32_t(file.size()), 4);
    put(10, std::uint32_t(headers), 4);
    put(14, 40, 4);
    put(18, std::uint32_t(width), 4);
    put(22, std::uint32_t(height), 4);  // bottom-up rows
    put(26, 1, 2);
    put(28, 8, 2);
    put(46, 256, 4);
    for (int i = 0; i < 256; ++i) put(54 + size_t(i) * 4, std::uint32_t(i) * 0x010101u, 3);
    for (int y = 0; y < height; ++y)
        std::copy_n(&grey[size_t(y) * size_t(width)], size_t(width),
                    &file[headers + size_t(height - 1 - y) * stride]);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    return bool(out.flush());
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// Leaks the IPP libraries keep on purpose are listed beside the tests.
inline std::string LsanOptions() {
    return std::string("suppressions=") + QX_APP_TEST_DIR + "/lsan.supp";
}
inline std::string LsanEnv() {
    return "LSAN_OPTIONS=" + LsanOptions();
}

struct CommandRun {
    int status = -1;  // the exit status; -1 after a signal or the time limit
    bool timedOut = false;
    std::string out, err;
};

// Runs a program of the tests (the app's clients, ipptool, curl) with the suppressions
// for our own programs among them; standard output and error are kept apart. Runs may
// overlap.
inline CommandRun RunProgram(qxtest::ChildProgram program) {
    program.env.push_back(LsanEnv());
    qxtest::ChildResult r = qxtest::RunChild(program);
    return {r.exitCode, r.timedOut, std::move(r.out), std::move(r.err)};
}

// A shell command line run in the folder dir; past its time limit it is killed with
// everything it started.
inline CommandRun Shell(const std::string& command, const std::string& dir,
                        std::chrono::milliseconds limit = 300s) {
    qxtest::ChildProgram program;
    program.argv = qxtest::ShellLine(command);
    program.dir = dir;
    program.timeLimit = limit;
    return RunProgram(program);
}

// The processes whose parent is the server, zombies included.
inline std::vector<pid_t> ChildrenOf(pid_t server) {
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    while (dirent* e = proc ? ::readdir(proc) : nullptr) {
        pid_t pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
        size_t close = stat.rfind(')');
        if (close != std::string::npos && std::atoi(stat.c_str() + close + 4) == server)
            found.push_back(pid);
    }
    if (proc) ::closedir(proc);
    return found;
}

// The worker processes of a server: the server's children started as job workers.
inline std::vector<pid_t> Workers(pid_t server, const char* argument = "--qx-job-worker") {
    std::vector<pid_t> found;
    for (pid_t pid : ChildrenOf(server))
        if (ReadFile("/proc/" + std::to_string(pid) + "/cmdline").find(argument) !=
            std::string::npos)
            found.push_back(pid);
    return found;
}

inline int FreePort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

inline bool CanConnect(const std::string& address, int port) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

inline bool WaitFor(const std::function<bool()>& done, int seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

// One job's state as a client sees it.
struct JobState {
    std::string state, reasons, message;
    int impressions = 0;
    bool Final() const { return state == "completed" || state == "aborted" || state == "canceled"; }
};

// Splits one line of ipptool's CSV output.
inline std::vector<std::string> CsvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// The server as a child process: started, found listening, stopped with the app's own
// shutdown sub-command; its exit status tells whether it stopped cleanly (the
// sanitizers' reports make it fail). Its standard output and error go to server.out
// and server.err in its folder; a server still running at the end is killed.
class AppServer {
  public:
    explicit AppServer(std::string dir) : dir_(std::move(dir)), port_(FreePort()) {}
    // env: "NAME=value" settings for this server alone.
    bool Start(const std::vector<std::string>& env = {}) {
        qxtest::ChildProgram program;
        program.argv = {QX_PRINTER_APP_BIN,
                        "server",
                        "-o",
                        "server-port=" + std::to_string(port_),
                        "-o",
                        "listen-hostname=localhost",
                        "-o",
                        "spool-directory=" + dir_ + "/state",
                        "-o",
                        "log-file=" + dir_ + "/app.log",
                        "-o",
                        "log-level=debug"};
        program.env = env;
        program.env.push_back(LsanEnv());
        program.outputPath = dir_ + "/server.out";
        program.errorsPath = dir_ + "/server.err";
        return child_.Start(program) && WaitFor([&] { return CanConnect("127.0.0.1", port_); }, 60);
    }
    // Shutdown, then the server's exit status (-1 when it had to be killed). The
    // shutdown sub-command goes to the server on the user's local socket, which may be
    // another test's, so the request goes to this server's system URI instead.
    int Shutdown() {
        Shell("ipptool -t ipp://localhost:" + std::to_string(port_) + "/ipp/system '" +
                  QX_APP_TEST_DIR + "/../shutdown.test'",
              dir_);
        qxtest::ChildResult ended = child_.Wait(60s);
        return ended.timedOut ? -1 : ended.exitCode;
    }
    // A client sub-command, sent to this server's system or to one of its printers (a
    // client without -u would take whichever server owns the user's local socket; the
    // shutdown sub-command always does).
    CommandRun App(const std::string& args, const std::string& printer = "") {
        std::string uri = printer.empty()
                              ? "ipp://localhost:" + std::to_string(port_) + "/ipp/system"
                              : Uri(printer);
        return Shell(std::string("'") + QX_PRINTER_APP_BIN + "' " + args + " -u " + uri, dir_);
    }
    std::string Uri(const std::string& printer) const {
        return "ipp://localhost:" + std::to_string(port_) + "/ipp/print/" + printer;
    }
    // Submits files with the app's own client, which returns when the job has ended; the
    // job's id, or 0 with the reason in err.
    int Submit(const std::string& printer, const std::string& args, std::string* err = nullptr) {
        CommandRun r = App("submit " + args, printer);
        if (err) *err = r.err;
        // "NAME-ID" or, for a printer's URI, just the id.
        size_t end = r.out.find_last_of("0123456789");
        if (r.status != 0 || end == std::string::npos) return 0;
        size_t start = r.out.find_last_not_of("0123456789", end);
        return std::atoi(r.out.c_str() + (start == std::string::npos ? 0 : start + 1));
    }
    JobState Job(const std::string& printer, int id) {
        std::string test = dir_ + "/job.test";
        std::ofstream(test)
            << "{ OPERATION Get-Job-Attributes\n GROUP operation-attributes-tag\n"
               " ATTR charset attributes-charset utf-8\n"
               " ATTR language attributes-natural-language en\n"
               " ATTR uri printer-uri $uri\n ATTR integer job-id $jobid\n"
               " DISPLAY job-state\n DISPLAY job-state-reasons\n DISPLAY job-state-message\n"
               " DISPLAY job-impressions-completed\n}\n";
        CommandRun r = Shell(
            "ipptool -c -d jobid=" + std::to_string(id) + " " + Uri(printer) + " '" + test + "'",
            dir_);
        JobState s;
        std::istringstream lines(r.out);
        std::string header, values;
        std::getline(lines, header);
        std::getline(lines, values);
        auto names = CsvFields(header), fields = CsvFields(values);
        for (size_t i = 0; i < names.size() && i < fields.size(); ++i) {
            if (names[i] == "job-state") s.state = fields[i];
            if (names[i] == "job-state-reasons") s.reasons = fields[i];
            if (names[i] == "job-state-message") s.message = fields[i];
            if (names[i] == "job-impressions-completed")
                s.impressions = std::atoi(fields[i].c_str());
        }
        return s;
    }
    JobState WaitJob(const std::string& printer, int id, int seconds = 90) {
        JobState s;
        WaitFor([&] { return (s = Job(printer, id)).Final(); }, seconds);
        return s;
    }
    std::string PrinterReasons(const std::string& printer) {
        std::string test = dir_ + "/printer.test";
        std::ofstream(test)
            << "{ OPERATION Get-Printer-Attributes\n GROUP operation-attributes-tag\n"
               " ATTR charset attributes-charset utf-8\n"
               " ATTR language attributes-natural-language en\n"
               " ATTR uri printer-uri $uri\n DISPLAY printer-state-reasons\n}\n";
        CommandRun r = Shell("ipptool -c " + Uri(printer) + " '" + test + "'", dir_);
        size_t line = r.out.find('\n');
        return line == std::string::npos ? "" : r.out.substr(line + 1);
    }
    int port() const { return port_; }
    const std::string& dir() const { return dir_; }
    // -1 once it has ended.
    pid_t pid() const { return child_.pid(); }
    // Sends the server a signal and waits at most limit for it to end (it is then
    // killed, with timedOut set).
    qxtest::ChildResult Signal(int signal, std::chrono::milliseconds limit) {
        return child_.Stop(signal, limit);
    }
    // Print-Job by ipptool with the document format given, expecting that status: the
    // job's id (0 for none), or -1 when the status was another (ipptool's words in err).
    int PrintJob(const std::string& printer, const std::string& file, const std::string& format,
                 const std::string& status = "successful-ok", std::string* err = nullptr) {
        // ipptool takes no variable in STATUS: each expectation its own file.
        std::string test = dir_ + "/print-job-" + status + ".test";
        std::ofstream(test) << "{ OPERATION Print-Job\n GROUP operation-attributes-tag\n"
                               " ATTR charset attributes-charset utf-8\n"
                               " ATTR language attributes-natural-language en\n"
                               " ATTR uri printer-uri $uri\n ATTR name requesting-user-name test\n"
                               " ATTR mimeMediaType document-format $format\n FILE $filename\n"
                               " STATUS "
                            << status << "\n DISPLAY job-id\n}\n";
        CommandRun r = Shell("ipptool -T 60 -c -d 'format=" + format + "' -f '" + file + "' " +
                                 Uri(printer) + " '" + test + "'",
                             dir_);
        if (err) *err = r.out + r.err;
        if (r.status != 0) return -1;
        size_t line = r.out.find('\n');
        return line == std::string::npos ? 0 : std::atoi(r.out.c_str() + line + 1);
    }

  private:
    std::string dir_;
    int port_;
    qxtest::ChildProcess child_;
};

// A printer that keeps every byte it gets: one TCP connection at a time on
// address:9100, each connection's bytes in order.
class ByteSink {
  public:
    explicit ByteSink(const std::string& address) {
        fd_ = qxtest::ListenAsPrinter(address, 4);
        ok_ = fd_ >= 0;
    }
    ~ByteSink() { ::close(fd_); }
    bool ok() const { return ok_; }
    // Takes one connection and reads it to its end (at most `seconds` long).
    std::string TakeConnection(int seconds = 90) {
        std::string bytes;
        timeval limit{seconds, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return bytes;
        opened_ = std::chrono::steady_clock::now();
        ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(c, buffer, sizeof buffer)) > 0) bytes.append(buffer, size_t(n));
        closed_ = std::chrono::steady_clock::now();
        ::close(c);
        return bytes;
    }
    // When the last connection taken was accepted and when its sender closed it.
    std::chrono::steady_clock::time_point opened() const { return opened_; }
    std::chrono::steady_clock::time_point closed() const { return closed_; }

  private:
    int fd_ = -1;
    bool ok_ = false;
    std::chrono::steady_clock::time_point opened_, closed_;
};

// A page the size of the media (203 dpi): grey steps, a checker and a frame inside the
// printed dots (576 of 80 mm paper, 384 of 58 mm); white in the margins.
inline std::vector<unsigned char> TestPage(int width, int height, int seed, int printed = 576) {
    std::vector<unsigned char> page(size_t(width) * size_t(height), 255);
    int left = (width - printed) / 2;
    for (int y = 0; y < height; ++y)
        for (int x = left; x < left + printed; ++x) {
            int u = x - left;
            unsigned char& p = page[size_t(y) * size_t(width) + size_t(x)];
            if (u < 4 || u >= printed - 4 || y < 4 || y >= height - 4)
                p = 0;
            else if (y < height / 2)
                p = (u / 36 + seed) % 2 ? 255 : (unsigned char)(u * 255 / printed);
            else
                p = ((u / 24) + (y / 24) + seed) % 2 ? 230 : 40;
        }
    return page;
}

// The dots a printer prints across paper of that width: 384 of model B's 58 mm, else 576.
inline int PrintedDots(int widthHundredthsMm) {
    return widthHundredthsMm == 5800 ? 384 : 576;
}

// A page as most labels are: black lines of text-like marks and a bar code on white,
// inside the printed dots.
inline std::vector<unsigned char> TextPage(int width, int height, int seed, int printed = 576) {
    std::vector<unsigned char> page(size_t(width) * size_t(height), 255);
    int left = (width - printed) / 2;
    for (int y = 8; y < height - 8; ++y)
        for (int u = 8; u < printed - 8; ++u) {
            bool bar = y >= height * 2 / 3 && ((u * 7 + seed) % 11) < 4;
            bool glyph = y < height * 2 / 3 && (y % 32) < 20 && ((u / 3 + y / 4 + seed) % 5) < 2 &&
                         (u / 12) % 6 != 5;
            if (bar || glyph) page[size_t(y) * size_t(width) + size_t(left + u)] = 0;
        }
    return page;
}

// Writes pages as sgray_8 PWG raster at 203 dpi for the media of that size, each made by
// `pageOf` (width, height, page number, printed dots).
inline bool WriteRaster(const std::string& path, int widthHundredthsMm, int lengthHundredthsMm,
                        int pages,
                        std::vector<unsigned char> (*pageOf)(int, int, int, int) = TestPage) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
    cups_page_header2_t h;
    pwg_media_t* m = pwgMediaForSize(widthHundredthsMm, lengthHundredthsMm);
    bool ok = r && m && cupsRasterInitPWGHeader(&h, m, "sgray_8", 203, 203, "one-sided", nullptr);
    for (int p = 0; ok && p < pages; ++p) {
        h.cupsInteger[0] = unsigned(pages);
        auto page = pageOf(int(h.cupsWidth), int(h.cupsHeight), p, PrintedDots(widthHundredthsMm));
        ok = cupsRasterWriteHeader2(r, &h) &&
             cupsRasterWritePixels(r, page.data(), unsigned(page.size())) == page.size();
    }
    if (r) cupsRasterClose(r);
    ::close(fd);
    return ok;
}

// A PDF file of these objects, numbered from 1 (the first the catalog), with the
// cross-reference table of their offsets; trailerExtra goes into the trailer.
inline std::string PdfFile(const std::vector<std::string>& objects,
                           const std::string& trailerExtra = "") {
    std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    return pdf + "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R " +
           trailerExtra + ">>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
}

// The value of the session field of a page's form, which PAPPL checks on every post.
inline std::string SessionOf(const std::string& html) {
    const std::string field = "name=\"session\" value=\"";
    size_t at = html.find(field);
    if (at == std::string::npos) return {};
    at += field.size();
    return html.substr(at, html.find('"', at) - at);
}

// A test with a server of its own: a temporary folder, the server started in it and
// stopped at the end, its standard error looked over for the sanitizers' reports. The
// folder stays when the test fails, or with QX_KEEP set.
template <class Base = ::testing::Test>
class ServerFixture : public Base {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.ok());
        dir_ = folder_.path();
        server_ = std::make_unique<AppServer>(dir_);
        ASSERT_TRUE(server_->Start()) << ReadFile(dir_ + "/server.err");
    }
    void TearDown() override {
        if (server_ && server_->pid() > 0) {
            EXPECT_EQ(server_->Shutdown(), 0) << ReadFile(dir_ + "/server.err");
        }
        std::string err = ReadFile(dir_ + "/server.err");
        EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
        EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
        if (::testing::Test::HasFailure()) folder_.Keep();
    }
    void Add(const std::string& name, const std::string& port, const std::string& driver) {
        CommandRun r = server_->App("add -d " + name + " -v qx:" + port + " -m " + driver);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }

    qxtest::TempDir folder_{"qxapp"};  // goes after the server
    std::string dir_;
    std::unique_ptr<AppServer> server_;
};

}  // namespace qxapptest
