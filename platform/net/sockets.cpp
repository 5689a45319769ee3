// WinSock over BSD sockets: the stack's start-up count, the table of sockets, and the
// calls that create, connect, move data on and close them.
#include "linux_net.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "net_internal.h"
#include "net_window.h"
#include "wce/base.h"

namespace wce {
namespace net {
namespace {

struct Table {
    std::mutex lock;
    int startups = 0;
    std::map<SOCKET, SocketRecord> sockets;
};

Table& Sockets() {
    static Table* table = new Table;  // used until the process ends, by any thread
    return *table;
}

SOCKET FailSocket(int wsaError) {
    Fail(wsaError);
    return INVALID_SOCKET;
}

// Windows hands out the lowest version it has at or above the request, up to 2.2.
constexpr WORD kHighestVersion = MAKEWORD(2, 2);
bool VersionBelowLowest(BYTE major, BYTE minor) {
    return major < 1 || (major == 1 && minor < 1);
}
bool VersionAboveHighest(BYTE major, BYTE minor) {
    return major > 2 || (major == 2 && minor > 2);
}

int LinuxSocketFor(int af, int type, int protocol, int* wsaError) {
    if (af == AF_INET) {
        if (type == SOCK_STREAM && (protocol == 0 || protocol == IPPROTO_TCP)) {
            return ::socket(lnx::kAfInet, lnx::kSockStream | lnx::kSockCloexec, 0);
        }
        if (type == SOCK_DGRAM && (protocol == 0 || protocol == IPPROTO_UDP)) {
            return ::socket(lnx::kAfInet, lnx::kSockDgram | lnx::kSockCloexec, 0);
        }
        *wsaError =
            type == SOCK_STREAM || type == SOCK_DGRAM ? WSAEPROTONOSUPPORT : WSAESOCKTNOSUPPORT;
        return -1;
    }
    if (af == AF_IRDA) {
        // Until it connects, an infrared socket is an unconnected Unix-domain one.
        if (type == SOCK_STREAM && protocol == 0) {
            return ::socket(lnx::kAfUnix, lnx::kSockStream | lnx::kSockCloexec, 0);
        }
        *wsaError = type == SOCK_STREAM ? WSAEPROTONOSUPPORT : WSAESOCKTNOSUPPORT;
        return -1;
    }
    *wsaError = WSAEAFNOSUPPORT;
    return -1;
}

// A blocking connect interrupted by a signal goes on in the background; wait for it.
int AwaitConnect(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    while (::poll(&entry, 1, -1) < 0) {
        if (errno != EINTR) return errno;
    }
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(fd, lnx::kSolSocket, lnx::kSoError, &error, &size);
    return error;
}

int ConnectInet(const SocketRecord& record, const sockaddr* name, int nameLength) {
    if (nameLength < int(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
    sockaddr_in address;
    std::memcpy(&address, name, sizeof address);
    if (address.sin_family != AF_INET) return Fail(WSAEAFNOSUPPORT);
    // Windows refuses these as remote addresses; Linux would take 0.0.0.0 as itself.
    u_long host = address.sin_addr.s_addr;
    if (host == INADDR_ANY || host == INADDR_NONE || address.sin_port == 0) {
        return Fail(WSAEADDRNOTAVAIL);
    }
    ::sockaddr_in to{};
    to.sin_family = lnx::kAfInet;
    to.sin_port = address.sin_port;
    to.sin_addr.s_addr = host;
    if (::connect(record.fd, reinterpret_cast<::sockaddr*>(&to), sizeof to) == 0) return 0;
    int error = errno;
    if (error == EINTR && !record.nonBlocking) error = AwaitConnect(record.fd);
    return error == 0 ? 0 : Fail(WsaErrorOf(error));
}

bool TranslateFlags(int flags, int allowed, int* linuxFlags) {
    if (flags & ~allowed) return false;
    *linuxFlags = lnx::kMsgNoSignal;
    if (flags & MSG_OOB) *linuxFlags |= lnx::kMsgOob;
    if (flags & MSG_PEEK) *linuxFlags |= lnx::kMsgPeek;
    if (flags & MSG_DONTROUTE) *linuxFlags |= lnx::kMsgDontRoute;
    return true;
}

// A blocking socket that runs out of its time-out reports WSAETIMEDOUT, as on Windows.
int FailTransfer(const SocketRecord& record, int error) {
    if ((error == EAGAIN || error == EWOULDBLOCK) && !record.nonBlocking) {
        return Fail(WSAETIMEDOUT);
    }
    return Fail(WsaErrorOf(error));
}

void SetNonBlocking(SOCKET socket, bool nonBlocking) {
    Table& table = Sockets();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.sockets.find(socket);
    if (found != table.sockets.end()) found->second.nonBlocking = nonBlocking;
}

void MarkSendShutDown(SOCKET socket) {
    Table& table = Sockets();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.sockets.find(socket);
    if (found != table.sockets.end()) found->second.sendShutDown = true;
}

}  // namespace

bool Started() {
    Table& table = Sockets();
    std::lock_guard<std::mutex> guard(table.lock);
    return table.startups > 0;
}

int Fail(int wsaError) {
    SetLastError(DWORD(wsaError));
    return SOCKET_ERROR;
}

int WsaErrorOf(int linuxErrno) {
    switch (linuxErrno) {
        case EINTR:
            return WSAEINTR;
        case EBADF:
            return WSAENOTSOCK;
        case EACCES:
        case EPERM:
            return WSAEACCES;
        case EFAULT:
            return WSAEFAULT;
        case EINVAL:
            return WSAEINVAL;
        case EMFILE:
        case ENFILE:
            return WSAEMFILE;
        case EAGAIN:
        case EINPROGRESS:
            return WSAEWOULDBLOCK;
        case EALREADY:
            return WSAEALREADY;
        case ENOTSOCK:
            return WSAENOTSOCK;
        case EDESTADDRREQ:
            return WSAEDESTADDRREQ;
        case EMSGSIZE:
            return WSAEMSGSIZE;
        case EPROTOTYPE:
            return WSAEPROTOTYPE;
        case ENOPROTOOPT:
            return WSAENOPROTOOPT;
        case EPROTONOSUPPORT:
            return WSAEPROTONOSUPPORT;
        case ESOCKTNOSUPPORT:
            return WSAESOCKTNOSUPPORT;
        case EOPNOTSUPP:
            return WSAEOPNOTSUPP;
        case EPFNOSUPPORT:
            return WSAEPFNOSUPPORT;
        case EAFNOSUPPORT:
            return WSAEAFNOSUPPORT;
        case EADDRINUSE:
            return WSAEADDRINUSE;
        case EADDRNOTAVAIL:
            return WSAEADDRNOTAVAIL;
        case ENETDOWN:
            return WSAENETDOWN;
        case ENETUNREACH:
            return WSAENETUNREACH;
        case ENETRESET:
            return WSAENETRESET;
        case ECONNABORTED:
        case EPIPE:
            return WSAECONNABORTED;
        case ECONNRESET:
            return WSAECONNRESET;
        case ENOBUFS:
        case ENOMEM:
            return WSAENOBUFS;
        case EISCONN:
            return WSAEISCONN;
        case ENOTCONN:
            return WSAENOTCONN;
        case ESHUTDOWN:
            return WSAESHUTDOWN;
        case ETIMEDOUT:
            return WSAETIMEDOUT;
        case ECONNREFUSED:
            return WSAECONNREFUSED;
        case EHOSTDOWN:
            return WSAEHOSTDOWN;
        case EHOSTUNREACH:
            return WSAEHOSTUNREACH;
        default:
            return WSAEINVAL;
    }
}

bool Lookup(SOCKET socket, SocketRecord* record) {
    Table& table = Sockets();
    std::lock_guard<std::mutex> guard(table.lock);
    if (table.startups == 0) {
        Fail(WSANOTINITIALISED);
        return false;
    }
    auto found = table.sockets.find(socket);
    if (found == table.sockets.end()) {
        Fail(WSAENOTSOCK);
        return false;
    }
    *record = found->second;
    return true;
}

void MarkInfraredConnected(SOCKET socket, int sendUnit) {
    Table& table = Sockets();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.sockets.find(socket);
    if (found == table.sockets.end()) return;
    found->second.connected = true;
    found->second.sendUnit = sendUnit;
}

void SetPrinterMode(SOCKET socket, bool on) {
    Table& table = Sockets();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.sockets.find(socket);
    if (found != table.sockets.end()) found->second.printerMode = on;
}

}  // namespace net

using net::Fail;
using net::SocketRecord;

int WSAStartup(WORD versionRequested, LPWSADATA data) {
    if (!data) return WSAEFAULT;
    std::memset(data, 0, sizeof *data);
    data->wHighVersion = net::kHighestVersion;
    std::strcpy(data->szDescription, "WinSock 2.2 over BSD sockets");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 32767;
    data->iMaxUdpDg = 65467;
    BYTE major = LOBYTE(versionRequested);
    BYTE minor = HIBYTE(versionRequested);
    if (net::VersionBelowLowest(major, minor)) {
        data->wVersion = net::kHighestVersion;
        return WSAVERNOTSUPPORTED;
    }
    data->wVersion =
        net::VersionAboveHighest(major, minor) ? net::kHighestVersion : versionRequested;
    net::Table& table = net::Sockets();
    std::lock_guard<std::mutex> guard(table.lock);
    ++table.startups;
    return 0;
}

int WSACleanup() {
    net::Table& table = net::Sockets();
    std::lock_guard<std::mutex> guard(table.lock);
    if (table.startups == 0) return Fail(WSANOTINITIALISED);
    if (--table.startups == 0) {
        // As on Windows, the last release closes what the program left open.
        for (auto& entry : table.sockets) ::close(entry.second.fd);
        table.sockets.clear();
    }
    return 0;
}

int WSAGetLastError() {
    return int(GetLastError());
}
void WSASetLastError(int error) {
    SetLastError(DWORD(error));
}

SOCKET socket(int af, int type, int protocol) {
    if (!net::Started()) return net::FailSocket(WSANOTINITIALISED);
    int wsaError = 0;
    int fd = net::LinuxSocketFor(af, type, protocol, &wsaError);
    if (fd < 0) return net::FailSocket(wsaError ? wsaError : net::WsaErrorOf(errno));
    SocketRecord record;
    record.fd = fd;
    record.family = af;
    record.type = type;
    net::Table& table = net::Sockets();
    std::lock_guard<std::mutex> guard(table.lock);
    table.sockets[SOCKET(fd)] = record;
    return SOCKET(fd);
}

SOCKET WSASocketW(int af, int type, int protocol, void* protocolInfo, unsigned int group,
                  DWORD /*flags*/) {
    if (protocolInfo || group) return net::FailSocket(WSAEINVAL);
    return socket(af, type, protocol);
}

int connect(SOCKET socket, const sockaddr* name, int nameLength) {
    SocketRecord record;
    if (!net::Lookup(socket, &record)) return SOCKET_ERROR;
    if (!name) return Fail(WSAEFAULT);
    if (record.family == AF_IRDA) return net::InfraredConnect(socket, record, name, nameLength);
    return net::ConnectInet(record, name, nameLength);
}

int send(SOCKET socket, const char* buffer, int length, int flags) {
    SocketRecord record;
    if (!net::Lookup(socket, &record)) return SOCKET_ERROR;
    if (length < 0) return Fail(WSAEINVAL);
    if (!buffer && length > 0) return Fail(WSAEFAULT);
    int linuxFlags = 0;
    if (!net::TranslateFlags(flags, MSG_OOB | MSG_DONTROUTE, &linuxFlags)) {
        return Fail(WSAEOPNOTSUPP);
    }
    // An IrLPT link carries one frame per send, at most the send unit.
    if (record.printerMode && record.connected && length > record.sendUnit) {
        return Fail(WSAEMSGSIZE);
    }
    if (record.sendShutDown) return Fail(WSAESHUTDOWN);
    for (;;) {
        ssize_t sent = ::send(record.fd, buffer, size_t(length), linuxFlags);
        if (sent >= 0) return int(sent);
        if (errno != EINTR) return net::FailTransfer(record, errno);
    }
}

int recv(SOCKET socket, char* buffer, int length, int flags) {
    SocketRecord record;
    if (!net::Lookup(socket, &record)) return SOCKET_ERROR;
    if (length < 0) return Fail(WSAEINVAL);
    if (!buffer && length > 0) return Fail(WSAEFAULT);
    int linuxFlags = 0;
    if (!net::TranslateFlags(flags, MSG_OOB | MSG_PEEK, &linuxFlags)) return Fail(WSAEOPNOTSUPP);
    for (;;) {
        ssize_t got = ::recv(record.fd, buffer, size_t(length), linuxFlags);
        if (got >= 0) return int(got);
        if (errno != EINTR) return net::FailTransfer(record, errno);
    }
}

int shutdown(SOCKET socket, int how) {
    SocketRecord record;
    if (!net::Lookup(socket, &record)) return SOCKET_ERROR;
    int linuxHow = how == SD_RECEIVE ? lnx::kShutRd
                   : how == SD_SEND  ? lnx::kShutWr
                   : how == SD_BOTH  ? lnx::kShutRdWr
                                     : -1;
    if (linuxHow < 0) return Fail(WSAEINVAL);
    // Linux would remember the shutdown of a socket not yet connected; Windows refuses it.
    ::sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(record.fd, reinterpret_cast<::sockaddr*>(&peer), &size) != 0) {
        return Fail(net::WsaErrorOf(errno));
    }
    if (::shutdown(record.fd, linuxHow) != 0) return Fail(net::WsaErrorOf(errno));
    if (how != SD_RECEIVE) net::MarkSendShutDown(socket);
    return 0;
}

int ioctlsocket(SOCKET socket, LONG command, u_long* argument) {
    SocketRecord record;
    if (!net::Lookup(socket, &record)) return SOCKET_ERROR;
    if (!argument) return Fail(WSAEFAULT);
    if (command == FIONBIO) {
        int flags = ::fcntl(record.fd, F_GETFL);
        flags = *argument ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
        if (::fcntl(record.fd, F_SETFL, flags) != 0) return Fail(net::WsaErrorOf(errno));
        net::SetNonBlocking(socket, *argument != 0);
        return 0;
    }
    if (command == FIONREAD) {
        int pending = 0;
        if (::ioctl(record.fd, lnx::kFionRead, &pending) != 0) return Fail(net::WsaErrorOf(errno));
        *argument = u_long(pending);
        return 0;
    }
    if (command == FIONPEERWINDOW) {
        unsigned long window = 0;
        if (!net::PeerWindow(record.fd, &window)) return Fail(net::WsaErrorOf(errno));
        *argument = u_long(window);
        return 0;
    }
    if (command == FIONUNSENT) {
        int unsent = 0;
        if (::ioctl(record.fd, lnx::kSiocOutq, &unsent) != 0) return Fail(net::WsaErrorOf(errno));
        *argument = u_long(unsent);
        return 0;
    }
    return Fail(WSAEINVAL);
}

int closesocket(SOCKET socket) {
    net::Table& table = net::Sockets();
    int fd = -1;
    {
        std::lock_guard<std::mutex> guard(table.lock);
        if (table.startups == 0) return Fail(WSANOTINITIALISED);
        auto found = table.sockets.find(socket);
        if (found == table.sockets.end()) return Fail(WSAENOTSOCK);
        fd = found->second.fd;
        table.sockets.erase(found);
    }
    ::close(fd);
    return 0;
}

}  // namespace wce
