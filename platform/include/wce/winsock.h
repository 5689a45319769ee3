// WinSock over BSD sockets: the 1.1 calls the driver makes, the WinSock 2 socket call of
// the utilities, the simulated infrared family and the ICMP echo behind WsControl.
// Results, byte sizes and error codes mean what they mean on Windows; the error codes are
// the thread's last error (WSAGetLastError is GetLastError).
//
// Names that the Linux socket headers define as well (AF_INET, SOL_SOCKET, FD_SET,
// htons, ...) mean the Windows ones once this header is in: it removes the Linux macros.
// A file that uses Linux sockets too includes their headers first and expands the Linux
// names before this header, in a helper of its own.
//
// Infrared (AF_IRDA) is simulated, since Linux has no IrDA stack any more. The devices
// in range are entries in a folder: $QX_IRDA_DIR, else ${XDG_RUNTIME_DIR:-/tmp}/qx-irda.
// Each device is named by its 4-byte address as 8 lowercase hex digits, the first two
// being irdaDeviceID[0]:
//
//   <addr>.dev   lines "name=<at most 21 ASCII characters>", "service=<IAS class>"
//                (one line per service, "IrLPT" for a printer) and "pdu=<send unit>"
//   <addr>.sock  a Unix-domain stream socket
//
// IRLMP_ENUMDEVICES lists every well-formed .dev file, in address order. Connecting
// opens the .sock and reads one byte: 'A' takes the connection and the stream then
// carries data; 'B' means busy (WSAEADDRINUSE). A device that is not in range gives
// WSAETIMEDOUT, a service it does not offer WSAECONNREFUSED. A socket whose connect
// failed may connect again. In IRLMP_IRLPT_MODE each send is one frame of at most the
// IRLMP_SEND_PDU_LEN unit; a longer one fails with WSAEMSGSIZE.
#pragma once

#include <sys/select.h>  // in first, so the Windows select names below replace its macros

#include "wce/types.h"

#undef FD_SETSIZE
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#undef FD_ZERO
#undef AF_UNSPEC
#undef AF_UNIX
#undef AF_INET
#undef AF_IRDA
#undef SOCK_STREAM
#undef SOCK_DGRAM
#undef SOCK_RAW
#undef IPPROTO_IP
#undef IPPROTO_ICMP
#undef IPPROTO_TCP
#undef IPPROTO_UDP
#undef INADDR_ANY
#undef INADDR_LOOPBACK
#undef INADDR_BROADCAST
#undef INADDR_NONE
#undef MSG_OOB
#undef MSG_PEEK
#undef MSG_DONTROUTE
#undef SOL_SOCKET
#undef SO_DEBUG
#undef SO_REUSEADDR
#undef SO_KEEPALIVE
#undef SO_DONTROUTE
#undef SO_BROADCAST
#undef SO_LINGER
#undef SO_OOBINLINE
#undef SO_SNDBUF
#undef SO_RCVBUF
#undef SO_SNDTIMEO
#undef SO_RCVTIMEO
#undef SO_ERROR
#undef SO_TYPE
#undef SOMAXCONN
#undef TCP_NODELAY
#undef FIONBIO
#undef FIONREAD
#undef h_addr
#undef htons
#undef htonl
#undef ntohs
#undef ntohl

namespace wce {

using u_char = unsigned char;
using u_short = unsigned short;
using u_int = unsigned int;
using u_long = ULONG;

using SOCKET = ULONG_PTR;
constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

constexpr WORD MAKEWORD(BYTE low, BYTE high) {
    return WORD(low | (WORD(high) << 8));
}
constexpr BYTE LOBYTE(WORD word) {
    return BYTE(word & 0xFF);
}
constexpr BYTE HIBYTE(WORD word) {
    return BYTE(word >> 8);
}

// What WSAStartup reports. Versions 1.1 to 2.2 are offered; a request below 1.1 fails
// with WSAVERNOTSUPPORTED, one above 2.2 gets 2.2.
constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};
using LPWSADATA = WSADATA*;

// Families, types, protocols.
constexpr int AF_UNSPEC = 0;
constexpr int AF_INET = 2;
constexpr int AF_IRDA = 26;
constexpr int SOCK_STREAM = 1;
constexpr int SOCK_DGRAM = 2;
constexpr int SOCK_RAW = 3;
constexpr int IPPROTO_IP = 0;
constexpr int IPPROTO_ICMP = 1;
constexpr int IPPROTO_TCP = 6;
constexpr int IPPROTO_UDP = 17;
constexpr u_long INADDR_ANY = 0x00000000;
constexpr u_long INADDR_LOOPBACK = 0x7F000001;
constexpr u_long INADDR_BROADCAST = 0xFFFFFFFF;
constexpr u_long INADDR_NONE = 0xFFFFFFFF;
constexpr DWORD WSA_FLAG_OVERLAPPED = 0x01;
constexpr int SOMAXCONN = 5;

// send and recv flags.
constexpr int MSG_OOB = 0x1;
constexpr int MSG_PEEK = 0x2;
constexpr int MSG_DONTROUTE = 0x4;

// Socket options. Time-outs are DWORD milliseconds; a send that runs out of time after
// some bytes went returns their count, one that sent nothing fails with WSAETIMEDOUT.
constexpr int SOL_SOCKET = 0xFFFF;
constexpr int SO_DEBUG = 0x0001;
constexpr int SO_REUSEADDR = 0x0004;
constexpr int SO_KEEPALIVE = 0x0008;
constexpr int SO_DONTROUTE = 0x0010;
constexpr int SO_BROADCAST = 0x0020;
constexpr int SO_LINGER = 0x0080;
constexpr int SO_OOBINLINE = 0x0100;
constexpr int SO_SNDBUF = 0x1001;
constexpr int SO_RCVBUF = 0x1002;
constexpr int SO_SNDTIMEO = 0x1005;
constexpr int SO_RCVTIMEO = 0x1006;
constexpr int SO_ERROR = 0x1007;
constexpr int SO_TYPE = 0x1008;
constexpr int TCP_NODELAY = 0x0001;  // level IPPROTO_TCP
struct linger {
    u_short l_onoff;
    u_short l_linger;
};

// ioctlsocket commands (Windows longs are 32 bits).
constexpr LONG FIONBIO = static_cast<LONG>(0x8004667Eu);
constexpr LONG FIONREAD = static_cast<LONG>(0x4004667Fu);
// Not WinSock's: the bytes of a stream socket that its peer has not taken yet (sent
// and unacknowledged, or still queued). A peer that reads slowly lowers it; one that
// stopped reading leaves it as it is.
constexpr LONG FIONUNSENT = static_cast<LONG>(0x40046678u);
// Not WinSock's either: the receive window the peer last advertised. It grows when the
// peer reads what it holds, so a reader whose buffer holds the whole rest can be seen.
constexpr LONG FIONPEERWINDOW = static_cast<LONG>(0x40046679u);

// Infrared options, level SOL_IRLMP.
constexpr int SOL_IRLMP = 0xFF;
constexpr int IRLMP_ENUMDEVICES = 0x10;
constexpr int IRLMP_IAS_SET = 0x11;
constexpr int IRLMP_IAS_QUERY = 0x12;
constexpr int IRLMP_SEND_PDU_LEN = 0x13;
constexpr int IRLMP_EXCLUSIVE_MODE = 0x14;
constexpr int IRLMP_IRLPT_MODE = 0x15;
constexpr int IRLMP_9WIRE_MODE = 0x16;
// Device hints and character sets of IRDA_DEVICE_INFO.
constexpr u_char LM_HB1_PnP = 0x01;
constexpr u_char LM_HB1_Computer = 0x04;
constexpr u_char LM_HB1_Printer = 0x08;
constexpr u_char LM_HB_Extension = 0x80;
constexpr u_char LmCharSetASCII = 0;

struct in_addr {
    u_long s_addr;
};
struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};
struct sockaddr_in {
    short sin_family;
    u_short sin_port;
    in_addr sin_addr;
    char sin_zero[8];
};
using SOCKADDR = sockaddr;
using SOCKADDR_IN = sockaddr_in;
using PSOCKADDR = sockaddr*;

struct SOCKADDR_IRDA {
    u_short irdaAddressFamily;
    u_char irdaDeviceID[4];
    char irdaServiceName[25];
};
// 29 bytes, packed one after the other in a DEVICELIST.
struct IRDA_DEVICE_INFO {
    u_char irdaDeviceID[4];
    char irdaDeviceName[22];
    u_char irdaDeviceHints1;
    u_char irdaDeviceHints2;
    u_char irdaCharSet;
};
struct DEVICELIST {
    ULONG numDevice;
    IRDA_DEVICE_INFO Device[1];
};
static_assert(sizeof(SOCKADDR_IRDA) == 32 && sizeof(IRDA_DEVICE_INFO) == 29);

// The result of gethostbyname: per thread, valid until the thread's next look-up.
struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};
#define h_addr h_addr_list[0]

// select takes Windows sets: a count and the sockets themselves.
#define FD_SETSIZE 64
struct timeval {
    LONG tv_sec;
    LONG tv_usec;
};
struct fd_set {
    u_int fd_count;
    SOCKET fd_array[FD_SETSIZE];
};
inline void FdZero(fd_set* set) {
    set->fd_count = 0;
}
inline int FdIsSet(SOCKET socket, const fd_set* set) {
    for (u_int i = 0; i < set->fd_count; ++i) {
        if (set->fd_array[i] == socket) return 1;
    }
    return 0;
}
inline void FdSet(SOCKET socket, fd_set* set) {
    if (!FdIsSet(socket, set) && set->fd_count < FD_SETSIZE)
        set->fd_array[set->fd_count++] = socket;
}
inline void FdClr(SOCKET socket, fd_set* set) {
    for (u_int i = 0; i < set->fd_count; ++i) {
        if (set->fd_array[i] != socket) continue;
        set->fd_array[i] = set->fd_array[--set->fd_count];
        return;
    }
}
#define FD_ZERO(set) ::wce::FdZero(set)
#define FD_SET(socket, set) ::wce::FdSet((socket), (set))
#define FD_CLR(socket, set) ::wce::FdClr((socket), (set))
#define FD_ISSET(socket, set) ::wce::FdIsSet((socket), (set))

// Error codes.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// Every call but the byte-order helpers, inet_addr and the last-error pair needs a
// started stack. The last WSACleanup closes the sockets still open.
int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol);
// No protocol record and no group; WSA_FLAG_OVERLAPPED is accepted, but sockets here
// only block or not (FIONBIO).
SOCKET WSASocketW(int af, int type, int protocol, void* protocolInfo, unsigned int group,
                  DWORD flags);
int connect(SOCKET socket, const sockaddr* name, int nameLength);
int send(SOCKET socket, const char* buffer, int length, int flags);
int recv(SOCKET socket, char* buffer, int length, int flags);
// Ends one or both directions of a connected socket: after SD_SEND the peer reads the
// end of the stream once it has taken everything sent before.
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;
int shutdown(SOCKET socket, int how);
// nfds is ignored, as on Windows; a null time-out waits for ever.
int select(int nfds, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet, const timeval* timeout);
int ioctlsocket(SOCKET socket, LONG command, u_long* argument);
int setsockopt(SOCKET socket, int level, int name, const char* value, int length);
int getsockopt(SOCKET socket, int level, int name, char* value, int* length);
int closesocket(SOCKET socket);

hostent* gethostbyname(const char* name);
int gethostname(char* name, int nameLength);
// Dotted IPv4 text in the BSD forms (a.b.c.d, a.b.c, a.b, a; octal and hex parts), in
// network byte order; INADDR_NONE for anything else.
u_long inet_addr(const char* text);

constexpr u_short htons(u_short value) {
    return u_short((value >> 8) | (value << 8));
}
constexpr u_short ntohs(u_short value) {
    return htons(value);
}
constexpr u_long htonl(u_long value) {
    return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}
constexpr u_long ntohl(u_long value) {
    return htonl(value);
}

// The ICMP echo: WsControl(IPPROTO_TCP, WSCNTL_TCPIP_ICMP_ECHO, request, &requestLength,
// reply, &replyLength). The request is an ICMP_ECHO_REQUEST followed by its options and
// data at the offsets it names. The reply buffer receives one ICMP_ECHO_REPLY and, after
// it, the echoed data and options, which the record names by their offsets from the start
// of the reply buffer (pointers on a 32-bit handheld). Its Reserved field holds the
// number of replies, 1 or 0; Status says why none came (IP_REQ_TIMED_OUT, ...).
// Returns 0 once the echo was tried, else an error code: ERROR_INVALID_PARAMETER for a
// request that is not one, ERROR_INSUFFICIENT_BUFFER for a reply buffer shorter than
// the reply record, ERROR_NOT_ENOUGH_MEMORY, or a WSA code when no ICMP socket opens.
constexpr DWORD WSCNTL_TCPIP_ICMP_ECHO = 2;
struct ICMP_ECHO_REQUEST {
    ULONG Address;  // network byte order, as inet_addr gives it
    ULONG Timeout;  // milliseconds
    USHORT DataOffset;
    USHORT DataSize;
    BYTE OptionsValid;
    BYTE Ttl;
    BYTE Tos;
    BYTE Flags;
    USHORT OptionsOffset;
    BYTE OptionsSize;
    BYTE Padding;
};
struct IP_OPTION_INFORMATION {
    BYTE Ttl;
    BYTE Tos;
    BYTE Flags;
    BYTE OptionsSize;
    ULONG OptionsData;  // offset in the reply buffer
};
struct ICMP_ECHO_REPLY {
    ULONG Address;
    ULONG Status;
    ULONG RoundTripTime;  // milliseconds
    USHORT DataSize;
    USHORT Reserved;  // number of replies
    ULONG Data;       // offset in the reply buffer
    IP_OPTION_INFORMATION Options;
};
static_assert(sizeof(ICMP_ECHO_REQUEST) == 20 && sizeof(ICMP_ECHO_REPLY) == 28);
constexpr BYTE IP_FLAG_DF = 0x2;
constexpr ULONG IP_SUCCESS = 0;
constexpr ULONG IP_BUF_TOO_SMALL = 11001;
constexpr ULONG IP_DEST_NET_UNREACHABLE = 11002;
constexpr ULONG IP_DEST_HOST_UNREACHABLE = 11003;
constexpr ULONG IP_DEST_PROT_UNREACHABLE = 11004;
constexpr ULONG IP_DEST_PORT_UNREACHABLE = 11005;
constexpr ULONG IP_REQ_TIMED_OUT = 11010;
constexpr ULONG IP_TTL_EXPIRED_TRANSIT = 11013;
constexpr ULONG IP_BAD_DESTINATION = 11018;
constexpr ULONG IP_GENERAL_FAILURE = 11050;

DWORD WsControl(DWORD protocol, DWORD action, LPVOID requestInfo, LPDWORD requestInfoLength,
                LPVOID responseInfo, LPDWORD responseInfoLength);

}  // namespace wce
