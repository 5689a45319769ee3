// The parts of the printer application benchmark: a byte sink in the printer's place,
// an IPP client, a server of ours or LPrint's with its printers, and the memory of a
// process tree.
#pragma once

#include <arpa/inet.h>
#include <cups/cups.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../tools/qx-printer-app/tests/app_support.h"

namespace qxappbench {

using Clock = std::chrono::steady_clock;
constexpr int kPrinters = 4;
constexpr int kBusySeconds = 60;
constexpr int kStallSeconds = 30;

inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A printer on address:9100 that reads and counts every byte and notes when the last
// one came. The printer closes its end once the sender has shut down its side, as our
// driver waits for at the end of each document.
class Sink {
  public:
    explicit Sink(std::string address) : address_(std::move(address)) {
        fd_ = qxtest::ListenAsPrinter(address_, 16);
        ok_ = fd_ >= 0;
        if (ok_) thread_ = std::thread([this] { Serve(); });
    }
    ~Sink() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(fd_);
    }
    bool ok() const { return ok_; }
    const std::string& address() const { return address_; }
    void Reset() {
        bytes_ = 0;
        lastNs_ = 0;
    }
    std::uint64_t bytes() const { return bytes_; }
    Clock::time_point last() const { return Clock::time_point(Clock::duration(lastNs_.load())); }

  private:
    // One thread polls the listener and every open connection.
    void Serve() {
        std::vector<pollfd> fds{{fd_, POLLIN, 0}};
        char buffer[65536];
        while (!stop_) {
            if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
            for (size_t i = fds.size(); i-- > 1;) {
                if (!fds[i].revents) continue;
                ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    bytes_ += std::uint64_t(n);
                    lastNs_ = Clock::now().time_since_epoch().count();
                } else {
                    ::close(fds[i].fd);
                    fds.erase(fds.begin() + std::ptrdiff_t(i));
                }
            }
            if (fds[0].revents) {
                int c = ::accept(fd_, nullptr, nullptr);
                if (c >= 0) fds.push_back({c, POLLIN, 0});
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) ::close(fds[i].fd);
    }

    std::string address_;
    int fd_ = -1;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> bytes_{0};
    std::atomic<Clock::rep> lastNs_{0};
    std::thread thread_;
};

// A port free on both IPv4 and IPv6: LPrint takes no listen-hostname and listens on
// every address.
inline int FreePort() {
    int s = ::socket(AF_INET6, SOCK_STREAM, 0);
    int off = 0;
    ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_any;
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin6_port);
}

using Response = std::unique_ptr<ipp_t, decltype(&ippDelete)>;

// One IPP client connection to a server, as a phone or a CUPS queue would hold.
class Client {
  public:
    explicit Client(int port) : port_(port) {
        http_ = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000,
                             nullptr);
        // A hung server fails the request rather than holding the benchmark.
        if (http_) httpSetTimeout(http_, 30.0, nullptr, nullptr);
    }
    ~Client() { httpClose(http_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    std::string Uri(const std::string& resource) const {
        return "ipp://localhost:" + std::to_string(port_) + resource;
    }
    ipp_t* Request(ipp_op_t op, const std::string& resource) const {
        ipp_t* r = ippNewRequest(op);
        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI,
                     resource == "/ipp/system" ? "system-uri" : "printer-uri", nullptr,
                     Uri(resource).c_str());
        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "bench");
        return r;
    }
    Response Do(ipp_t* request, const std::string& resource, const std::string& file = "") {
        if (!http_) {
            ippDelete(request);
            return Response(nullptr, ippDelete);
        }
        ipp_t* r = file.empty() ? cupsDoRequest(http_, request, resource.c_str())
                                : cupsDoFileRequest(http_, request, resource.c_str(), file.c_str());
        return Response(r, ippDelete);
    }
    static bool Ok(const Response& r) {
        return r && ippGetStatusCode(r.get()) < IPP_STATUS_REDIRECTION_OTHER_SITE;
    }

  private:
    int port_;
    http_t* http_ = nullptr;
};

// What differs between the two applications.
struct Peer {
    std::string title, binary, driver, sinkNet;
    bool qxDevice = false;
    std::string media;  // for the PNG jobs: the 80 x 50.8 mm label, or the nearest
    std::string DeviceUri(const std::string& address) const {
        return qxDevice ? "qx:" + address : "socket://" + address + ":9100";
    }
};

// Resident memory of a process and all its descendants together, in kB: the plain sum
// (shared pages counted in each process) and the proportional one.
struct Memory {
    long rssKb = 0, pssKb = 0;
};

inline long Field(const std::string& text, const char* name) {
    size_t at = text.find(name);
    return at == std::string::npos ? 0 : std::atol(text.c_str() + at + std::strlen(name));
}

// The server and every process below it (our job workers and their zygote).
inline std::vector<pid_t> Tree(pid_t root) {
    std::map<pid_t, pid_t> parent;
    if (DIR* d = ::opendir("/proc")) {
        while (dirent* e = ::readdir(d)) {
            pid_t pid = std::atoi(e->d_name);
            if (pid <= 0) continue;
            std::string stat = qxapptest::ReadFile("/proc/" + std::to_string(pid) + "/stat");
            size_t close = stat.rfind(')');
            if (close == std::string::npos) continue;
            char state;
            int ppid = 0;
            if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2)
                parent[pid] = ppid;
        }
        ::closedir(d);
    }
    std::vector<pid_t> tree;
    for (auto [pid, ppid] : parent) {
        pid_t p = pid;
        while (p > 1 && p != root) p = parent.count(p) ? parent[p] : 0;
        if (p == root) tree.push_back(pid);
    }
    return tree;
}

inline Memory TreeMemory(pid_t root) {
    Memory total;
    for (pid_t pid : Tree(root)) {
        std::string proc = "/proc/" + std::to_string(pid);
        total.rssKb += Field(qxapptest::ReadFile(proc + "/status"), "VmRSS:");
        total.pssKb += Field(qxapptest::ReadFile(proc + "/smaps_rollup"), "\nPss:");
    }
    return total;
}

// Processor seconds the server's processes have used: each live one's own, and for the
// server those of the children it has waited for (workers that ended).
inline double TreeCpuSeconds(pid_t root) {
    long ticks = 0;
    for (pid_t pid : Tree(root)) {
        std::string stat = qxapptest::ReadFile("/proc/" + std::to_string(pid) + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        // Fields 14 and 15 (user, system), then 16 and 17 (waited-for children).
        std::istringstream in(stat.substr(close + 2));
        std::string field;
        for (int n = 3; n <= 17 && in >> field; ++n) {
            if (n == 14 || n == 15 || (pid == root && (n == 16 || n == 17)))
                ticks += std::atol(field.c_str());
        }
    }
    return double(ticks) / double(::sysconf(_SC_CLK_TCK));
}

// One server of a peer with its printers, each printing into a sink of its own. A server
// that dies is started again, in a fresh folder, before the next measurement.
class Server {
  public:
    Server(const Peer& peer, const std::string& base) : peer_(peer), base_(base) {
        for (int i = 1; i <= kPrinters; ++i)
            sinks_.push_back(std::make_unique<Sink>(peer.sinkNet + std::to_string(i)));
    }
    ~Server() { Stop(); }

    bool Start(std::string* why) {
        for (auto& s : sinks_)
            if (!s->ok()) return *why = "cannot listen on " + s->address() + ":9100", false;
        dir_ = base_ + "/" + std::to_string(++starts_);
        std::filesystem::create_directories(dir_);
        port_ = FreePort();
        pid_ = Spawn();
        bool up = qxapptest::WaitFor(
            [&] { return Alive() && qxapptest::CanConnect("127.0.0.1", port_); }, 60);
        if (!up) *why = "the server did not start (" + dir_ + ")";
        if (up && AddPrinters(why)) return true;
        Stop();
        return false;
    }
    // Clients on several threads ask at once.
    bool Alive() {
        std::lock_guard hold(lock_);
        if (pid_ <= 0) return false;
        if (::waitpid(pid_, &status_, WNOHANG) != pid_) return true;
        pid_ = -1;
        return false;
    }
    // How the server ended, when it did on its own.
    std::string Death() const {
        if (WIFSIGNALED(status_))
            return std::string("crashed (") + strsignal(WTERMSIG(status_)) + ")";
        return "exited (status " + std::to_string(WEXITSTATUS(status_)) + ")";
    }
    void Stop() {
        if (pid_ <= 0) return;
        {
            Client c(port_);
            c.Do(c.Request(IPP_OP_SHUTDOWN_ALL_PRINTERS, "/ipp/system"), "/ipp/system");
        }
        if (!qxapptest::WaitFor([&] { return !Alive(); }, 20)) Kill();
    }
    // For a server that hangs: the next measurement starts a fresh one.
    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    std::string Printer(int i) const { return "/ipp/print/bench" + std::to_string(i + 1); }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    Sink& sink(int i) { return *sinks_[size_t(i)]; }
    const Peer& peer() const { return peer_; }

  private:
    // Everything is made ready before the fork: the sinks' thread may hold the heap's lock.
    pid_t Spawn() {
        std::vector<std::string> args = {peer_.binary, "server",
                                         "-o",         "server-port=" + std::to_string(port_),
                                         "-o",         "listen-hostname=localhost",
                                         "-o",         "spool-directory=" + dir_ + "/spool",
                                         "-o",         "log-file=" + dir_ + "/server.log",
                                         "-o",         "log-level=warn"};
        std::vector<std::string> env = {"HOME=" + dir_, "XDG_STATE_HOME=" + dir_,
                                        "XDG_CONFIG_HOME=" + dir_,
                                        "QX_DEBUG_LOG=" + dir_ + "/debug.log"};
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "HOME=", 5) && std::strncmp(*e, "XDG_STATE_HOME=", 15) &&
                std::strncmp(*e, "XDG_CONFIG_HOME=", 16) && std::strncmp(*e, "QX_DEBUG_LOG=", 13))
                env.push_back(*e);
        std::vector<char*> argv, envp;
        for (std::string& a : args) argv.push_back(a.data());
        for (std::string& e : env) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        std::string out = dir_ + "/server.out", err = dir_ + "/server.err";
        pid_t pid = ::fork();
        if (pid != 0) return pid;
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    bool AddPrinters(std::string* why) {
        Client c(port_);
        for (int i = 0; i < kPrinters; ++i) {
            ipp_t* r = c.Request(IPP_OP_CREATE_PRINTER, "/ipp/system");
            ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "printer-service-type", nullptr,
                         "print");
            ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "smi55357-driver", nullptr,
                         peer_.driver.c_str());
            ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "smi55357-device-uri", nullptr,
                         peer_.DeviceUri(sinks_[size_t(i)]->address()).c_str());
            std::string name = "bench" + std::to_string(i + 1);
            ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, name.c_str());
            Response answer = c.Do(r, "/ipp/system");
            if (!Client::Ok(answer))
                return *why = "Create-Printer failed: " + std::string(cupsLastErrorString()), false;
        }
        return true;
    }

    Peer peer_;
    std::string base_, dir_;
    std::vector<std::unique_ptr<Sink>> sinks_;
    int port_ = 0, starts_ = 0, status_ = 0;
    std::atomic<pid_t> pid_{-1};
    std::mutex lock_;
};

}  // namespace qxappbench
