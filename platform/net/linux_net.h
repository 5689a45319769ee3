// The Linux socket names the net files need, taken before wce/winsock.h replaces the
// names both define. Include this first.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace wce::lnx {

inline constexpr int kAfInet = AF_INET;
inline constexpr int kAfUnix = AF_UNIX;
inline constexpr int kSockStream = SOCK_STREAM;
inline constexpr int kSockDgram = SOCK_DGRAM;
inline constexpr int kSockRaw = SOCK_RAW;
inline constexpr int kSockCloexec = SOCK_CLOEXEC;
inline constexpr int kIpprotoIp = IPPROTO_IP;
inline constexpr int kIpprotoIcmp = IPPROTO_ICMP;
inline constexpr int kIpprotoTcp = IPPROTO_TCP;
inline constexpr int kIpTtl = IP_TTL;
inline constexpr int kIpTos = IP_TOS;
inline constexpr int kIpOptions = IP_OPTIONS;
inline constexpr int kIpMtuDiscover = IP_MTU_DISCOVER;
inline constexpr int kIpPmtuDiscDo = IP_PMTUDISC_DO;
inline constexpr int kTcpNodelay = TCP_NODELAY;
inline constexpr int kSolSocket = SOL_SOCKET;
inline constexpr int kSoDebug = SO_DEBUG;
inline constexpr int kSoReuseAddr = SO_REUSEADDR;
inline constexpr int kSoKeepAlive = SO_KEEPALIVE;
inline constexpr int kSoDontRoute = SO_DONTROUTE;
inline constexpr int kSoBroadcast = SO_BROADCAST;
inline constexpr int kSoLinger = SO_LINGER;
inline constexpr int kSoOobInline = SO_OOBINLINE;
inline constexpr int kSoSndBuf = SO_SNDBUF;
inline constexpr int kSoRcvBuf = SO_RCVBUF;
inline constexpr int kSoSndTimeo = SO_SNDTIMEO;
inline constexpr int kSoRcvTimeo = SO_RCVTIMEO;
inline constexpr int kSoError = SO_ERROR;
inline constexpr int kMsgOob = MSG_OOB;
inline constexpr int kMsgPeek = MSG_PEEK;
inline constexpr int kMsgDontRoute = MSG_DONTROUTE;
inline constexpr int kMsgNoSignal = MSG_NOSIGNAL;
inline constexpr int kMsgDontWait = MSG_DONTWAIT;
inline constexpr unsigned long kFionRead = FIONREAD;
inline constexpr unsigned long kSiocOutq = SIOCOUTQ;
inline constexpr int kShutRd = SHUT_RD;
inline constexpr int kShutWr = SHUT_WR;
inline constexpr int kShutRdWr = SHUT_RDWR;

}  // namespace wce::lnx
