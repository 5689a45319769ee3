// The ICMP echo behind WsControl: one echo request over an ICMP socket (a datagram one
// where the system lets everyone ping, else a raw one) and its reply record.
#include "linux_net.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "net_internal.h"
#include "wce/base.h"

namespace wce {
namespace net {
namespace {

using Clock = std::chrono::steady_clock;

constexpr BYTE kEchoRequest = 8;
constexpr BYTE kEchoReply = 0;
constexpr BYTE kUnreachable = 3;
constexpr BYTE kTimeExceeded = 11;
constexpr size_t kIcmpHeader = 8;

struct Outcome {
    ULONG status = IP_REQ_TIMED_OUT;
    ULONG from = 0;
    ULONG roundTrip = 0;
    BYTE ttl = 0;
    BYTE tos = 0;
    std::vector<BYTE> data;
    bool replied = false;
};

struct Socket {
    int fd = -1;
    bool raw = false;
    ~Socket() {
        if (fd >= 0) ::close(fd);
    }
};

USHORT Checksum(const BYTE* bytes, size_t size) {
    unsigned long sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2) sum += unsigned(bytes[i] << 8 | bytes[i + 1]);
    if (size & 1) sum += unsigned(bytes[size - 1] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return USHORT(~sum & 0xFFFF);
}

bool OpenEchoSocket(Socket* s) {
    s->fd = ::socket(lnx::kAfInet, lnx::kSockDgram | lnx::kSockCloexec, lnx::kIpprotoIcmp);
    if (s->fd >= 0) return true;
    s->fd = ::socket(lnx::kAfInet, lnx::kSockRaw | lnx::kSockCloexec, lnx::kIpprotoIcmp);
    s->raw = true;
    return s->fd >= 0;
}

void ApplyOptions(int fd, const ICMP_ECHO_REQUEST& request, const BYTE* options) {
    if (!request.OptionsValid) return;
    int ttl = request.Ttl ? request.Ttl : 128;
    int tos = request.Tos;
    ::setsockopt(fd, lnx::kIpprotoIp, lnx::kIpTtl, &ttl, sizeof ttl);
    ::setsockopt(fd, lnx::kIpprotoIp, lnx::kIpTos, &tos, sizeof tos);
    if (request.Flags & IP_FLAG_DF) {
        int discover = lnx::kIpPmtuDiscDo;
        ::setsockopt(fd, lnx::kIpprotoIp, lnx::kIpMtuDiscover, &discover, sizeof discover);
    }
    if (request.OptionsSize) {
        ::setsockopt(fd, lnx::kIpprotoIp, lnx::kIpOptions, options, request.OptionsSize);
    }
}

ULONG StatusOfSendError(int error) {
    if (error == ENETUNREACH) return IP_DEST_NET_UNREACHABLE;
    if (error == EHOSTUNREACH) return IP_DEST_HOST_UNREACHABLE;
    return IP_GENERAL_FAILURE;
}

ULONG StatusOfError(BYTE type, BYTE code) {
    if (type == kTimeExceeded) return IP_TTL_EXPIRED_TRANSIT;
    switch (code) {
        case 0:
            return IP_DEST_NET_UNREACHABLE;
        case 1:
            return IP_DEST_HOST_UNREACHABLE;
        case 2:
            return IP_DEST_PROT_UNREACHABLE;
        case 3:
            return IP_DEST_PORT_UNREACHABLE;
        default:
            return IP_DEST_HOST_UNREACHABLE;
    }
}

USHORT Read16(const BYTE* at) {
    return USHORT(at[0] << 8 | at[1]);
}

// Looks at one received packet; true when it answers our request.
bool TakePacket(const Socket& s, const BYTE* packet, size_t size, USHORT id, USHORT sequence,
                Outcome* outcome) {
    BYTE ttl = 0, tos = 0;
    if (s.raw) {
        if (size < 20) return false;
        size_t header = size_t(packet[0] & 0x0F) * 4;
        if (header < 20 || size < header + kIcmpHeader) return false;
        tos = packet[1];
        ttl = packet[8];
        packet += header;
        size -= header;
    }
    if (size < kIcmpHeader) return false;
    BYTE type = packet[0];
    if (type == kEchoReply) {
        // A datagram socket only ever sees its own replies; the kernel set their id.
        if ((s.raw && Read16(packet + 4) != id) || Read16(packet + 6) != sequence) return false;
        outcome->status = IP_SUCCESS;
        outcome->data.assign(packet + kIcmpHeader, packet + size);
    } else if (s.raw && (type == kUnreachable || type == kTimeExceeded)) {
        // The error carries the start of our request: its IP header, then 8 bytes of ICMP.
        const BYTE* inner = packet + kIcmpHeader;
        size_t innerSize = size - kIcmpHeader;
        if (innerSize < 20) return false;
        size_t innerHeader = size_t(inner[0] & 0x0F) * 4;
        if (innerSize < innerHeader + kIcmpHeader) return false;
        const BYTE* request = inner + innerHeader;
        if (request[0] != kEchoRequest || Read16(request + 4) != id ||
            Read16(request + 6) != sequence) {
            return false;
        }
        outcome->status = StatusOfError(type, packet[1]);
    } else {
        return false;
    }
    outcome->ttl = ttl;
    outcome->tos = tos;
    outcome->replied = true;
    return true;
}

void AwaitReply(const Socket& s, USHORT id, USHORT sequence, Clock::time_point start,
                ULONG timeoutMs, Outcome* outcome) {
    auto deadline = start + std::chrono::milliseconds(timeoutMs);
    std::vector<BYTE> packet(65536);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) return;
        pollfd entry{s.fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, int(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;
        ::sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        ssize_t got = ::recvfrom(s.fd, packet.data(), packet.size(), 0,
                                 reinterpret_cast<::sockaddr*>(&from), &fromSize);
        if (got <= 0) continue;
        if (TakePacket(s, packet.data(), size_t(got), id, sequence, outcome)) {
            outcome->from = from.sin_addr.s_addr;
            outcome->roundTrip =
                ULONG(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                          .count());
            return;
        }
    }
}

// 0 with *outcome filled, else a WSA code for a socket that would not open.
DWORD Echo(const ICMP_ECHO_REQUEST& request, const BYTE* data, const BYTE* options,
           Outcome* outcome) {
    if (request.Address == INADDR_ANY || request.Address == INADDR_NONE) {
        outcome->status = IP_BAD_DESTINATION;
        return 0;
    }
    Socket s;
    if (!OpenEchoSocket(&s)) return DWORD(WsaErrorOf(errno));
    ApplyOptions(s.fd, request, options);
    static std::atomic<unsigned> counter{0};
    unsigned serial = ++counter;
    USHORT id = USHORT((::getpid() ^ (serial >> 16)) & 0xFFFF);
    USHORT sequence = USHORT(serial & 0xFFFF);
    std::vector<BYTE> packet(kIcmpHeader + request.DataSize);
    packet[0] = kEchoRequest;
    packet[4] = BYTE(id >> 8);
    packet[5] = BYTE(id);
    packet[6] = BYTE(sequence >> 8);
    packet[7] = BYTE(sequence);
    if (request.DataSize) std::memcpy(packet.data() + kIcmpHeader, data, request.DataSize);
    USHORT sum = Checksum(packet.data(), packet.size());
    packet[2] = BYTE(sum >> 8);
    packet[3] = BYTE(sum);
    ::sockaddr_in to{};
    to.sin_family = lnx::kAfInet;
    to.sin_addr.s_addr = request.Address;
    auto start = Clock::now();
    if (::sendto(s.fd, packet.data(), packet.size(), 0, reinterpret_cast<::sockaddr*>(&to),
                 sizeof to) < 0) {
        outcome->status = StatusOfSendError(errno);
        return 0;
    }
    AwaitReply(s, id, sequence, start, request.Timeout, outcome);
    return 0;
}

bool RequestIsWellFormed(const ICMP_ECHO_REQUEST& request, DWORD length) {
    if (DWORD(request.DataOffset) + request.DataSize > length) return false;
    if (request.OptionsValid && DWORD(request.OptionsOffset) + request.OptionsSize > length) {
        return false;
    }
    return true;
}

void WriteReply(const Outcome& outcome, BYTE* reply, DWORD* replyLength) {
    ICMP_ECHO_REPLY record{};
    record.Address = outcome.from;
    record.Status = outcome.status;
    record.RoundTripTime = outcome.roundTrip;
    record.Reserved = outcome.replied ? 1 : 0;
    size_t room = *replyLength - sizeof record;
    size_t echoed = std::min(room, outcome.data.size());
    if (echoed < outcome.data.size() && record.Status == IP_SUCCESS) {
        record.Status = IP_BUF_TOO_SMALL;
    }
    record.DataSize = USHORT(echoed);
    record.Data = sizeof record;
    record.Options.Ttl = outcome.ttl;
    record.Options.Tos = outcome.tos;
    std::memcpy(reply, &record, sizeof record);
    if (echoed) std::memcpy(reply + sizeof record, outcome.data.data(), echoed);
    *replyLength = DWORD(sizeof record + echoed);
}

}  // namespace
}  // namespace net

DWORD WsControl(DWORD protocol, DWORD action, LPVOID requestInfo, LPDWORD requestInfoLength,
                LPVOID responseInfo, LPDWORD responseInfoLength) {
    if (protocol != DWORD(IPPROTO_TCP) || action != WSCNTL_TCPIP_ICMP_ECHO) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!requestInfo || !requestInfoLength || !responseInfo || !responseInfoLength ||
        *requestInfoLength < sizeof(ICMP_ECHO_REQUEST)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (*responseInfoLength < sizeof(ICMP_ECHO_REPLY)) return ERROR_INSUFFICIENT_BUFFER;
    const BYTE* bytes = static_cast<const BYTE*>(requestInfo);
    ICMP_ECHO_REQUEST request;
    std::memcpy(&request, bytes, sizeof request);
    if (!net::RequestIsWellFormed(request, *requestInfoLength)) return ERROR_INVALID_PARAMETER;
    std::unique_ptr<net::Outcome> outcome(new (std::nothrow) net::Outcome);
    if (!outcome) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD result = net::Echo(request, bytes + request.DataOffset, bytes + request.OptionsOffset,
                             outcome.get());
    if (result == 0) {
        net::WriteReply(*outcome, static_cast<BYTE*>(responseInfo), responseInfoLength);
    }
    return result;
}

}  // namespace wce
