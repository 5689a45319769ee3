#include "transports.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "session.h"

namespace qxemu {

namespace {

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

SessionOptions SessionFor(const Options& o) {
    SessionOptions s;
    s.idleMs = o.idleMs;
    s.fault = o.fault;
    return s;
}

// A small receive buffer makes the sender feel a reader that is slow or never reads.
void ShrinkReceiveBuffer(int fd, const Fault& fault) {
    if (fault.kind != FaultKind::kSlow && fault.kind != FaultKind::kNeverRead) return;
    int size = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

void WaitForStop(const std::atomic<bool>& stop) {
    while (!stop.load()) ::poll(nullptr, 0, 100);
}

}  // namespace

void Announce(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

bool RunTcp(const Options& o, Device& device, const std::atomic<bool>& stop, std::string* error) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(o.tcpPort));
    if (::inet_pton(AF_INET, o.tcpAddress.c_str(), &addr.sin_addr) != 1) {
        *error = "not an IPv4 address: " + o.tcpAddress;
        return false;
    }
    std::string where = o.tcpAddress + ":" + std::to_string(o.tcpPort);
    if (o.fault.kind == FaultKind::kRefuse) {
        // Nothing listens, so every connection attempt is refused.
        Announce("refusing connections on " + where);
        device.GetLog().Line("fault refuse: not listening on " + where);
        WaitForStop(stop);
        return true;
    }
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int one = 1;
    ::setsockopt(listener.fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ShrinkReceiveBuffer(listener.fd, o.fault);
    if (listener.fd < 0 ||
        ::bind(listener.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener.fd, 8) != 0) {
        *error = Errno("cannot listen on " + where);
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&addr), &len);
    where = o.tcpAddress + ":" + std::to_string(ntohs(addr.sin_port));
    Announce("listening on " + where);
    device.GetLog().Line("listening on " + where);
    int connections = 0;
    while (!stop.load()) {
        pollfd p{listener.fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        sockaddr_in peer{};
        socklen_t peerLen = sizeof peer;
        Fd conn(::accept4(listener.fd, reinterpret_cast<sockaddr*>(&peer), &peerLen, SOCK_CLOEXEC));
        if (conn.fd < 0) continue;
        char ip[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
        device.GetLog().Line("== connection " + std::to_string(++connections) + " from " + ip +
                             ":" + std::to_string(ntohs(peer.sin_port)));
        SessionOptions s = SessionFor(o);
        s.isSocket = true;
        SessionEnd end = RunSession(conn.fd, device, s, stop);
        if (end == SessionEnd::kFaultClosed) {
            // A hard close (RST), as a printer that drops the link would do.
            linger hard{1, 0};
            ::setsockopt(conn.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        if (o.once) break;
    }
    return true;
}

bool RunPty(const Options& o, Device& device, const std::atomic<bool>& stop, std::string* error) {
    Fd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master.fd < 0 || ::grantpt(master.fd) != 0 || ::unlockpt(master.fd) != 0) {
        *error = Errno("cannot make a pseudo-terminal");
        return false;
    }
    const char* name = ::ptsname(master.fd);
    std::string path = name != nullptr ? name : "";
    // Holding the other side open keeps the pty alive between the sender's opens;
    // receipts then end by idle gaps and cuts.
    Fd slave(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios t{};
    if (slave.fd < 0 || ::tcgetattr(slave.fd, &t) != 0) {
        *error = Errno("cannot open " + path);
        return false;
    }
    ::cfmakeraw(&t);
    ::tcsetattr(slave.fd, TCSANOW, &t);
    Announce("pty " + path);
    device.GetLog().Line("== serial printer on " + path);
    SessionOptions s = SessionFor(o);
    s.endOnIdle = o.once;
    RunSession(master.fd, device, s, stop);
    return true;
}

bool RunFile(const Options& o, Device& device, const std::atomic<bool>& stop, std::string* error) {
    bool isStdin = o.filePath == "-";
    int fd = isStdin ? STDIN_FILENO : ::open(o.filePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = Errno("cannot open " + o.filePath);
        return false;
    }
    std::string name = isStdin ? std::string("(standard input)") : o.filePath;
    Announce("file " + name);
    device.GetLog().Line("== file " + name);
    SessionOptions s = SessionFor(o);
    RunSession(fd, device, s, stop);
    if (!isStdin) ::close(fd);
    return true;
}

}  // namespace qxemu
