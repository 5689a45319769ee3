// The ICMP echo that the model-B utility sends to a network printer before connecting
// to it, through the sockets library's control entry.
#pragma once

#include "wce/types.h"
#include "wce/winsock.h"

namespace qxsetup {

// The control entry the echo goes through: WsControl unless a test puts another in
// (for a machine where no address can be made to leave an echo unanswered). Returns
// the previous one; nullptr puts WsControl back.
using EchoControl = wce::DWORD (*)(wce::DWORD protocol, wce::DWORD action, wce::LPVOID request,
                                   wce::LPDWORD requestLength, wce::LPVOID reply,
                                   wce::LPDWORD replyLength);
EchoControl SetEchoControl(EchoControl control);

class EchoService {
  public:
    EchoService() = default;
    ~EchoService();
    EchoService(const EchoService&) = delete;
    EchoService& operator=(const EchoService&) = delete;

    // Starts the sockets library for the echo; false when it does not start.
    bool Open();
    void Close();

    // Sends one echo request to address (network byte order) with the data and, when
    // given, the IP options, and waits up to timeoutMs. The number of replies in the
    // reply buffer (an ICMP_ECHO_REPLY, then what it names), or 0 with the last error
    // set: the reply's status (IP_REQ_TIMED_OUT, ...), ERROR_INSUFFICIENT_BUFFER for a
    // reply buffer under 28 bytes, ERROR_NOT_ENOUGH_MEMORY, or the control entry's error.
    wce::DWORD SendEcho(wce::ULONG address, const void* data, wce::WORD dataSize,
                        const wce::IP_OPTION_INFORMATION* options, const wce::BYTE* optionsData,
                        void* reply, wce::DWORD replySize, wce::DWORD timeoutMs);

  private:
    bool open_ = false;
};

// The echo before a connection: the address text is a dotted address or else a host
// name. Tells the user when the name is unknown ("Invaliad Address.") or the echo cannot
// start ("Can't intialize Ping."); true when an echo reply came back within 3 s.
// The sockets library must be started.
bool PingAddress(const char* addressText);

}  // namespace qxsetup
