#include "irda_device.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "session.h"
#include "transports.h"

namespace qxemu {

namespace {

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
    return false;
}

// True when something already answers on the socket path: another live device.
bool SomeoneListens(const sockaddr_un& addr) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool live = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return live;
}

bool WriteDevFile(const std::string& path, const std::string& name, std::string* error) {
    std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << "name=" << name << "\nservice=IrLPT\npdu=" << kIrdaPduBytes << "\n";
        if (!out.flush()) {
            *error = "cannot write " + tmp;
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        *error = Errno("cannot rename " + tmp);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

void Serve(int listenFd, const Options& o, Device& device, const std::atomic<bool>& stop) {
    int connections = 0;
    while (!stop.load()) {
        pollfd p{listenFd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        if (o.fault.kind == FaultKind::kRefuse) {
            AnswerBusy(listenFd, device.GetLog());
            continue;
        }
        int conn = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) continue;
        const char take = 'A';
        if (::send(conn, &take, 1, MSG_NOSIGNAL) != 1) {
            ::close(conn);
            continue;
        }
        device.GetLog().Line("== infrared connection " + std::to_string(++connections));
        SessionOptions s;
        s.idleMs = o.idleMs;
        s.fault = o.fault;
        s.isSocket = true;
        s.busyListenFd = listenFd;
        RunSession(conn, device, s, stop);
        ::close(conn);
        if (o.once) break;
    }
}

}  // namespace

std::string IrdaFolder() {
    if (const char* dir = std::getenv("QX_IRDA_DIR"); dir != nullptr && *dir != '\0') return dir;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return std::string(runtime != nullptr && *runtime != '\0' ? runtime : "/tmp") + "/qx-irda";
}

std::string IrdaAddressText(std::uint32_t address) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", address);
    return text;
}

bool RunIrda(const Options& o, Device& device, const std::atomic<bool>& stop, std::string* error) {
    std::string folder = IrdaFolder();
    std::string base = folder + "/" + IrdaAddressText(o.irdaAddress);
    std::string sockPath = base + ".sock", devPath = base + ".dev";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (sockPath.size() >= sizeof addr.sun_path) {
        *error = "socket path too long: " + sockPath;
        return false;
    }
    std::memcpy(addr.sun_path, sockPath.c_str(), sockPath.size() + 1);
    if (!MakeFolder(folder)) {
        *error = Errno("cannot make " + folder);
        return false;
    }
    if (SomeoneListens(addr)) {
        *error =
            "device " + IrdaAddressText(o.irdaAddress) + " is already in range (" + sockPath + ")";
        return false;
    }
    ::unlink(sockPath.c_str());  // left over from a device that did not stop cleanly
    int listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd, 4) != 0) {
        *error = Errno("cannot listen on " + sockPath);
        if (listenFd >= 0) ::close(listenFd);
        return false;
    }
    std::string name = o.model == 'b' ? "QX-250 Emulator" : "QX-470 Emulator";
    bool ok = WriteDevFile(devPath, name, error);
    if (ok) {
        Announce("irda " + IrdaAddressText(o.irdaAddress) + " " + sockPath);
        device.GetLog().Line("infrared device " + IrdaAddressText(o.irdaAddress) + " (" + name +
                             ", IrLPT) on " + sockPath);
        Serve(listenFd, o, device, stop);
    }
    ::close(listenFd);
    ::unlink(devPath.c_str());
    ::unlink(sockPath.c_str());
    return ok;
}

}  // namespace qxemu
