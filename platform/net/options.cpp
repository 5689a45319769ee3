// select over poll, and the socket options with their Windows sizes and units.
#include "linux_net.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <vector>

#include "net_internal.h"
#include "wce/base.h"

namespace wce {
namespace net {
namespace {

struct Watched {
    SOCKET socket;
    fd_set* set;
    short events;
};

bool AddSet(fd_set* set, short events, std::vector<Watched>* watched) {
    if (!set) return true;
    if (set->fd_count > FD_SETSIZE) return false;
    for (u_int i = 0; i < set->fd_count; ++i) watched->push_back({set->fd_array[i], set, events});
    return true;
}

// Milliseconds for poll; -1 waits for ever. False for a negative time.
bool TimeoutMs(const timeval* timeout, int* ms) {
    if (!timeout) {
        *ms = -1;
        return true;
    }
    if (timeout->tv_sec < 0 || timeout->tv_usec < 0) return false;
    long long total = (long long)timeout->tv_sec * 1000 + (timeout->tv_usec + 999) / 1000;
    *ms = total > INT_MAX ? INT_MAX : int(total);
    return true;
}

bool Ready(short events, short revents) {
    if (events == POLLIN) return revents & (POLLIN | POLLHUP | POLLERR);
    // A socket in trouble counts as writable, so the sender sees the error from send.
    if (events == POLLOUT) return revents & (POLLOUT | POLLHUP | POLLERR);
    return revents & (POLLPRI | POLLERR);
}

int PollWatched(std::vector<pollfd>& entries, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int ready = ::poll(entries.data(), entries.size(), timeoutMs);
        if (ready >= 0 || errno != EINTR) return ready;
        if (timeoutMs < 0) continue;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        timeoutMs = left.count() > 0 ? int(left.count()) : 0;
    }
}

int IntOption(const char* value, int length, int* out) {
    if (length < int(sizeof(int))) return Fail(WSAEFAULT);
    std::memcpy(out, value, sizeof(int));
    return 0;
}

int PutInt(int value, char* out, int* length) {
    if (*length < int(sizeof(int))) return Fail(WSAEFAULT);
    std::memcpy(out, &value, sizeof value);
    *length = sizeof value;
    return 0;
}

// Windows option names at SOL_SOCKET that are plain ints on both sides.
int LinuxIntOption(int name) {
    switch (name) {
        case SO_DEBUG:
            return lnx::kSoDebug;
        case SO_REUSEADDR:
            return lnx::kSoReuseAddr;
        case SO_KEEPALIVE:
            return lnx::kSoKeepAlive;
        case SO_DONTROUTE:
            return lnx::kSoDontRoute;
        case SO_BROADCAST:
            return lnx::kSoBroadcast;
        case SO_OOBINLINE:
            return lnx::kSoOobInline;
        case SO_SNDBUF:
            return lnx::kSoSndBuf;
        case SO_RCVBUF:
            return lnx::kSoRcvBuf;
        default:
            return -1;
    }
}

int SetSocketLevel(const SocketRecord& record, int name, const char* value, int length) {
    int fd = record.fd;
    int rc = 0;
    if (name == SO_SNDTIMEO || name == SO_RCVTIMEO) {
        int ms = 0;
        if (IntOption(value, length, &ms) != 0) return SOCKET_ERROR;
        DWORD milliseconds = DWORD(ms);
        ::timeval time{time_t(milliseconds / 1000), suseconds_t((milliseconds % 1000) * 1000)};
        int linuxName = name == SO_SNDTIMEO ? lnx::kSoSndTimeo : lnx::kSoRcvTimeo;
        rc = ::setsockopt(fd, lnx::kSolSocket, linuxName, &time, sizeof time);
    } else if (name == SO_LINGER) {
        if (length < int(sizeof(linger))) return Fail(WSAEFAULT);
        linger windows;
        std::memcpy(&windows, value, sizeof windows);
        ::linger lin{windows.l_onoff != 0, windows.l_linger};
        rc = ::setsockopt(fd, lnx::kSolSocket, lnx::kSoLinger, &lin, sizeof lin);
    } else if (int linuxName = LinuxIntOption(name); linuxName >= 0) {
        int v = 0;
        if (IntOption(value, length, &v) != 0) return SOCKET_ERROR;
        rc = ::setsockopt(fd, lnx::kSolSocket, linuxName, &v, sizeof v);
    } else {
        return Fail(WSAENOPROTOOPT);
    }
    return rc == 0 ? 0 : Fail(WsaErrorOf(errno));
}

int GetSocketLevel(const SocketRecord& record, int name, char* value, int* length) {
    int fd = record.fd;
    if (name == SO_TYPE) return PutInt(record.type, value, length);
    if (name == SO_SNDTIMEO || name == SO_RCVTIMEO) {
        ::timeval time{};
        socklen_t size = sizeof time;
        int linuxName = name == SO_SNDTIMEO ? lnx::kSoSndTimeo : lnx::kSoRcvTimeo;
        if (::getsockopt(fd, lnx::kSolSocket, linuxName, &time, &size) != 0) {
            return Fail(WsaErrorOf(errno));
        }
        return PutInt(int(time.tv_sec * 1000 + time.tv_usec / 1000), value, length);
    }
    if (name == SO_ERROR) {
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(fd, lnx::kSolSocket, lnx::kSoError, &error, &size);
        return PutInt(error ? WsaErrorOf(error) : 0, value, length);
    }
    if (name == SO_LINGER) {
        ::linger lin{};
        socklen_t size = sizeof lin;
        if (::getsockopt(fd, lnx::kSolSocket, lnx::kSoLinger, &lin, &size) != 0) {
            return Fail(WsaErrorOf(errno));
        }
        if (*length < int(sizeof(linger))) return Fail(WSAEFAULT);
        linger windows{u_short(lin.l_onoff ? 1 : 0), u_short(lin.l_linger)};
        std::memcpy(value, &windows, sizeof windows);
        *length = sizeof windows;
        return 0;
    }
    int linuxName = LinuxIntOption(name);
    if (linuxName < 0) return Fail(WSAENOPROTOOPT);
    int v = 0;
    socklen_t size = sizeof v;
    if (::getsockopt(fd, lnx::kSolSocket, linuxName, &v, &size) != 0)
        return Fail(WsaErrorOf(errno));
    return PutInt(v, value, length);
}

int SetInfraredLevel(SOCKET socket, const SocketRecord& record, int name, const char* value,
                     int length) {
    if (record.family != AF_IRDA) return Fail(WSAENOPROTOOPT);
    switch (name) {
        case IRLMP_IRLPT_MODE: {
            int on = 0;
            if (IntOption(value, length, &on) != 0) return SOCKET_ERROR;
            SetPrinterMode(socket, on != 0);
            return 0;
        }
        case IRLMP_EXCLUSIVE_MODE:
        case IRLMP_9WIRE_MODE: {
            int v = 0;
            return IntOption(value, length, &v);  // the simulated link has no modes
        }
        default:
            return Fail(WSAENOPROTOOPT);
    }
}

int GetInfraredLevel(const SocketRecord& record, int name, char* value, int* length) {
    if (record.family != AF_IRDA) return Fail(WSAENOPROTOOPT);
    if (name == IRLMP_ENUMDEVICES) return InfraredEnumDevices(value, length);
    if (name == IRLMP_SEND_PDU_LEN) {
        if (!record.connected) return Fail(WSAENOTCONN);
        return PutInt(record.sendUnit, value, length);
    }
    return Fail(WSAENOPROTOOPT);
}

}  // namespace
}  // namespace net

using net::Fail;
using net::SocketRecord;

int select(int /*nfds*/, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet,
           const timeval* timeout) {
    if (!net::Started()) return Fail(WSANOTINITIALISED);
    std::vector<net::Watched> watched;
    if (!net::AddSet(readSet, POLLIN, &watched) || !net::AddSet(writeSet, POLLOUT, &watched) ||
        !net::AddSet(exceptSet, POLLPRI, &watched)) {
        return Fail(WSAEFAULT);
    }
    int timeoutMs = 0;
    if (watched.empty() || !net::TimeoutMs(timeout, &timeoutMs)) return Fail(WSAEINVAL);
    std::vector<pollfd> entries;
    for (const net::Watched& w : watched) {
        SocketRecord record;
        if (!net::Lookup(w.socket, &record)) return SOCKET_ERROR;
        entries.push_back({record.fd, w.events, 0});
    }
    if (net::PollWatched(entries, timeoutMs) < 0) return Fail(net::WsaErrorOf(errno));
    for (fd_set* set : {readSet, writeSet, exceptSet}) {
        if (set) set->fd_count = 0;
    }
    int count = 0;
    for (size_t i = 0; i < watched.size(); ++i) {
        if (!net::Ready(watched[i].events, entries[i].revents)) continue;
        FdSet(watched[i].socket, watched[i].set);
        ++count;
    }
    return count;
}

int setsockopt(SOCKET socket, int level, int name, const char* value, int length) {
    SocketRecord record;
    if (!net::Lookup(socket, &record)) return SOCKET_ERROR;
    if (!value) return Fail(WSAEFAULT);
    if (level == SOL_SOCKET) return net::SetSocketLevel(record, name, value, length);
    if (level == SOL_IRLMP) return net::SetInfraredLevel(socket, record, name, value, length);
    if (level == IPPROTO_TCP && record.family == AF_INET && record.type == SOCK_STREAM) {
        if (name != TCP_NODELAY) return Fail(WSAENOPROTOOPT);
        int v = 0;
        if (net::IntOption(value, length, &v) != 0) return SOCKET_ERROR;
        if (::setsockopt(record.fd, lnx::kIpprotoTcp, lnx::kTcpNodelay, &v, sizeof v) != 0) {
            return Fail(net::WsaErrorOf(errno));
        }
        return 0;
    }
    return Fail(WSAEINVAL);
}

int getsockopt(SOCKET socket, int level, int name, char* value, int* length) {
    SocketRecord record;
    if (!net::Lookup(socket, &record)) return SOCKET_ERROR;
    if (!value || !length) return Fail(WSAEFAULT);
    if (level == SOL_SOCKET) return net::GetSocketLevel(record, name, value, length);
    if (level == SOL_IRLMP) return net::GetInfraredLevel(record, name, value, length);
    if (level == IPPROTO_TCP && record.family == AF_INET && record.type == SOCK_STREAM) {
        if (name != TCP_NODELAY) return Fail(WSAENOPROTOOPT);
        int v = 0;
        socklen_t size = sizeof v;
        if (::getsockopt(record.fd, lnx::kIpprotoTcp, lnx::kTcpNodelay, &v, &size) != 0) {
            return Fail(net::WsaErrorOf(errno));
        }
        return net::PutInt(v, value, length);
    }
    return Fail(WSAEINVAL);
}

}  // namespace wce
