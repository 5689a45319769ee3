#include "echo.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "wce/base.h"
#include "wce/ui.h"

namespace qxsetup {

using namespace wce;

namespace {

constexpr WORD kStackVersion = MAKEWORD(1, 1);
constexpr DWORD kRecordSize = 20;  // the request record before its options and data
constexpr char kPingData[] = "Ping information";
constexpr WORD kPingDataSize = 16;
constexpr DWORD kReplyBufferSize = 1024;
constexpr DWORD kPingTimeoutMs = 3000;

EchoControl& CurrentControl() {
    static EchoControl control = WsControl;
    return control;
}

// Socket errors are 10000 to 10999; an echo's own statuses start at 11000.
bool IsSocketError(DWORD error) {
    return error >= 10000 && error < 11000;
}

void Put16(BYTE* at, unsigned value) {
    at[0] = BYTE(value);
    at[1] = BYTE(value >> 8);
}

void Put32(BYTE* at, ULONG value) {
    for (int i = 0; i < 4; ++i) at[i] = BYTE(value >> (8 * i));
}

}  // namespace

EchoControl SetEchoControl(EchoControl control) {
    EchoControl previous = CurrentControl();
    CurrentControl() = control ? control : WsControl;
    return previous;
}

EchoService::~EchoService() {
    Close();
}

bool EchoService::Open() {
    if (open_) return true;
    WSADATA info{};
    if (WSAStartup(kStackVersion, &info) != 0) return false;
    open_ = true;
    return true;
}

void EchoService::Close() {
    if (!open_) return;
    open_ = false;
    WSACleanup();
}

DWORD EchoService::SendEcho(ULONG address, const void* data, WORD dataSize,
                            const IP_OPTION_INFORMATION* options, const BYTE* optionsData,
                            void* reply, DWORD replySize, DWORD timeoutMs) {
    if (!reply || replySize < sizeof(ICMP_ECHO_REPLY)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const DWORD optionsSize = options && optionsData ? options->OptionsSize : 0;
    const DWORD length = std::max(kRecordSize + dataSize + optionsSize, replySize);
    std::unique_ptr<BYTE[]> record(new (std::nothrow) BYTE[length]);
    if (!record) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    BYTE* r = record.get();
    std::memset(r, 0, length);
    // Address as inet_addr gives it: its bytes in network order.
    std::memcpy(r, &address, 4);
    Put32(r + 4, timeoutMs);
    Put16(r + 8, kRecordSize + optionsSize);  // the data follow the options
    Put16(r + 10, dataSize);
    r[12] = options ? 1 : 0;
    if (options) {
        r[13] = options->Ttl;
        r[14] = options->Tos;
        r[15] = options->Flags;
    }
    Put16(r + 16, kRecordSize);
    r[18] = BYTE(optionsSize);
    if (optionsSize) std::memcpy(r + kRecordSize, optionsData, optionsSize);
    if (dataSize) std::memcpy(r + kRecordSize + optionsSize, data, dataSize);

    DWORD requestLength = length;
    DWORD replyLength = replySize;
    DWORD error = CurrentControl()(DWORD(IPPROTO_TCP), WSCNTL_TCPIP_ICMP_ECHO, r, &requestLength,
                                   reply, &replyLength);
    if (error != 0) {
        SetLastError(error);
        return 0;
    }
    ICMP_ECHO_REPLY answer;
    std::memcpy(&answer, reply, sizeof answer);
    if (answer.Reserved == 0) SetLastError(answer.Status);
    return answer.Reserved;
}

bool PingAddress(const char* addressText) {
    ULONG address = inet_addr(addressText);
    if (address == INADDR_NONE) {
        hostent* host = gethostbyname(addressText);
        if (!host || !host->h_addr_list || !host->h_addr_list[0] || host->h_length != 4) {
            MessageBoxW(nullptr, u"Invaliad Address.", u"ERROR", MB_OK);
            return false;
        }
        std::memcpy(&address, host->h_addr_list[0], 4);
    }
    EchoService echo;
    if (!echo.Open()) {
        MessageBoxW(nullptr, u"Can't intialize Ping.", u"ERROR", MB_OK);
        return false;
    }
    alignas(4) BYTE reply[kReplyBufferSize];
    DWORD replies = echo.SendEcho(address, kPingData, kPingDataSize, nullptr, nullptr, reply,
                                  sizeof reply, kPingTimeoutMs);
    DWORD why = GetLastError();
    echo.Close();
    // A socket error means no echo could be sent at all (no ICMP socket is allowed to
    // this user), which is not a printer that did not answer.
    if (replies == 0 && IsSocketError(why)) {
        MessageBoxW(nullptr, u"Can't intialize Ping.", u"ERROR", MB_OK);
        return false;
    }
    if (replies == 0) return false;
    // A reply that says the host or network cannot be reached is no echo reply.
    ICMP_ECHO_REPLY answer;
    std::memcpy(&answer, reply, sizeof answer);
    return answer.Status == IP_SUCCESS;
}

}  // namespace qxsetup
