// The network transport: one TCP connection to port 9100 of the printer named by its
// IPv4 address. Unlike the local transports it tells the user about failed opens.
#include <algorithm>
#include <climits>
#include <cstring>

#include "port_internal.h"
#include "wce/ui.h"
#include "wce/winsock.h"

namespace qx470 {

using namespace wce;

namespace {

constexpr WORD kStackVersion = MAKEWORD(1, 1);
constexpr u_short kPrinterPort = 9100;
constexpr int kSendAttempts = 5;
constexpr DWORD kSendPauseMs = 1000;
constexpr size_t kAddressChars = sizeof(PortState::addressText) - 1;

void ShowError(LPCWSTR text, LPCWSTR caption = u"ERROR") {
    MessageBoxW(nullptr, text, caption, MB_OK);
}

void CloseSocket(PortState& state) {
    if (state.tcpSocket == INVALID_SOCKET) return;
    closesocket(state.tcpSocket);
    state.tcpSocket = INVALID_SOCKET;
}

void ReleaseStack(PortState& state) {
    if (!state.socketsStarted) return;
    WSACleanup();
    state.socketsStarted = false;
}

// Ends a failed open: the message, then the socket and the stack go.
bool FailOpen(PortState& state, LPCWSTR text, LPCWSTR caption = u"ERROR") {
    ShowError(text, caption);
    CloseSocket(state);
    ReleaseStack(state);
    return false;
}

// One byte per UTF-16 unit, its low 8 bits; the name is cut to 255 characters.
void CopyAddressText(PortState& state) {
    std::memset(state.addressText, 0, sizeof state.addressText);
    LPCWSTR name = state.portName.get();
    for (size_t i = 0; i < kAddressChars && name[i] != u'\0'; ++i) {
        state.addressText[i] = char(name[i] & 0xFF);
    }
}

// A printer that takes the connection but never reads would hold a send for ever; with
// a limit the retries of NetworkSend end the job instead. 0 means no limit, as it does
// for a serial port.
void LimitSendTime(SOCKET socket, DWORD seconds) {
    if (seconds == 0) return;
    DWORD ms = seconds > (UINT_MAX - 1) / 1000 ? UINT_MAX - 1 : seconds * 1000;
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

bool StartStack(PortState& state) {
    WSADATA info{};
    if (WSAStartup(kStackVersion, &info) != 0) {
        ShowError(u"Unable to start TCP/IP stack");
        return false;
    }
    state.socketsStarted = true;
    if (LOBYTE(info.wVersion) != 1 || HIBYTE(info.wVersion) != 1) {
        return FailOpen(state, u"wrong version of protocol stack, need 1.1");
    }
    return true;
}

}  // namespace

bool NetworkOpen(PortState& state, DWORD timeoutSeconds) {
    CopyAddressText(state);
    if (!StartStack(state)) return false;

    state.tcpSocket = socket(AF_INET, SOCK_STREAM, 0);
    if (state.tcpSocket == INVALID_SOCKET) return FailOpen(state, u"Create Socket Error");

    sockaddr_in address{};
    address.sin_family = AF_INET;
    hostent* host = gethostbyname("localhost");
    state.hostEntry = host;
    if (!host) return FailOpen(state, u"Unable to get the host name.", u"Error");
    std::memcpy(&address.sin_addr, host->h_addr,
                std::min(size_t(host->h_length), sizeof address.sin_addr));
    address.sin_port = htons(kPrinterPort);
    // The port name is the address itself; it is never looked up as a host name.
    address.sin_addr.s_addr = inet_addr(state.addressText);
    std::memcpy(state.serverAddress, &address, sizeof address);

    if (connect(state.tcpSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
        SOCKET_ERROR) {
        return FailOpen(state, u"Fail to Connection to Printer");
    }
    LimitSendTime(state.tcpSocket, timeoutSeconds);
    state.handle = kNetworkHandle;
    return true;
}

// A short count is no failure: the rest goes in the next call. Only errors count
// towards the tries, and only in a row.
int NetworkSend(PortState& state, const BYTE* bytes, DWORD count) {
    const char* position = reinterpret_cast<const char*>(bytes);
    DWORD remaining = count;
    int failures = 0;
    do {
        int piece = int(std::min<DWORD>(remaining, INT_MAX));
        int sent = send(state.tcpSocket, position, piece, 0);
        if (sent != SOCKET_ERROR && (sent > 0 || piece == 0)) {
            sent = std::min(sent, piece);
            position += sent;
            remaining -= DWORD(sent);
            failures = 0;
            continue;
        }
        if (++failures == kSendAttempts) {
            int error = WSAGetLastError();
            state.handle = INVALID_HANDLE_VALUE;
            CloseSocket(state);
            WSASetLastError(error);
            return 0;
        }
        Sleep(kSendPauseMs);
    } while (remaining > 0);
    return 1;
}

void NetworkClose(PortState& state) {
    CloseSocket(state);
    ReleaseStack(state);
}

}  // namespace qx470
