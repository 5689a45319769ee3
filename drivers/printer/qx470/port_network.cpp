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
// a limit the retries of NetworkSend end the job instead.
void LimitSendTime(SOCKET socket, DWORD seconds) {
    DWORD ms = seconds * 1000;  // "TimeOut" is at most an hour here
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

// How long the next send may wait for room, so that a printer that stopped reading is
// given "TimeOut" from the last byte it took, not "TimeOut" for each of the tries. The
// system reads 0 as no limit, so the least is 1 ms.
void LimitSendUntil(SOCKET socket, DWORD deadline) {
    DWORD now = GetTickCount();
    DWORD ms = LONG(deadline - now) > 0 ? deadline - now : 1;
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

// Bytes sent that the printer has not taken yet; -1 when the system cannot tell.
long long UnsentBytes(SOCKET socket) {
    wce::u_long unsent = 0;
    return ioctlsocket(socket, FIONUNSENT, &unsent) == SOCKET_ERROR ? -1 : (long long)unsent;
}

// The receive window the printer advertised last; -1 when the system cannot tell.
long long PeerWindow(SOCKET socket) {
    wce::u_long window = 0;
    return ioctlsocket(socket, FIONPEERWINDOW, &window) == SOCKET_ERROR ? -1 : (long long)window;
}

// What the printer is seen to take: the bytes still with us fall as it acknowledges
// them, and its window grows as it reads what it holds. A printer that does neither for
// "TimeOut" seconds has stalled.
struct ReadingWatch {
    long long unsent = -1;
    long long window = -1;
    // True when the printer took something since the last look.
    bool Moved(SOCKET socket, DWORD& most) {
        long long nowUnsent = UnsentBytes(socket), nowWindow = PeerWindow(socket);
        bool moved = (nowUnsent >= 0 && unsent >= 0 && nowUnsent < unsent) ||
                     (nowWindow >= 0 && window >= 0 && nowWindow > window);
        unsent = nowUnsent;
        window = nowWindow;
        if (window > 0) most = std::max(most, DWORD(window));
        return moved;
    }
};

void NoteWindow(PortState& state) {
    if (long long window = PeerWindow(state.tcpSocket); window > 0)
        state.peerWindowMost = std::max(state.peerWindowMost, DWORD(window));
}

// A new connection: its first window is the printer's whole buffer.
void StartWindowWatch(PortState& state) {
    state.peerWindowMost = 0;
    state.bytesSent = 0;
    NoteWindow(state);
}

// The slowest printer still taken to be printing, and how many times "TimeOut" it is
// given at most on top of "TimeOut" to read what it holds.
constexpr DWORD kSlowestBytesPerSecond = 100;
constexpr DWORD kHoldTimeOuts = 4;

// A printer may read what it holds in its buffer without a sign: its window is not
// announced again until it has read much, and the system asks a closed window again
// only at doubling intervals (10 s, then 30 s for a 4 KB buffer read at 200 bytes a
// second). So a silence counts as a stall only after "TimeOut" and the time to read,
// at the slowest pace, all it may hold (what was sent, at most its largest window), but
// no more than four times "TimeOut" on top: a printer that has died is still let go.
DWORD HeldBytesMs(const PortState& state) {
    unsigned long long held = state.bytesSent;
    if (state.peerWindowMost > 0) held = std::min<unsigned long long>(held, state.peerWindowMost);
    unsigned long long most = 1000ull * kHoldTimeOuts * state.sendTimeoutSeconds;
    return DWORD(std::min(held * 1000 / kSlowestBytesPerSecond, most));
}

// Milliseconds left until deadline, as a select time.
wce::timeval TimeLeft(DWORD deadline) {
    DWORD now = GetTickCount();
    DWORD ms = LONG(deadline - now) > 0 ? deadline - now : 0;
    return wce::timeval{LONG(ms / 1000), LONG(ms % 1000 * 1000)};
}

// A listener that never answers would hold a blocking connect for minutes: the connect
// runs without blocking and is given "TimeOut" seconds.
bool ConnectWithin(SOCKET socket, const sockaddr_in& address, DWORD seconds) {
    wce::u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) == SOCKET_ERROR) return false;
    bool connected = connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
                     SOCKET_ERROR;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
        wce::fd_set writable, failed;  // the system's select types share these names
        FD_ZERO(&writable);
        FD_SET(socket, &writable);
        FD_ZERO(&failed);
        FD_SET(socket, &failed);
        wce::timeval limit{LONG(seconds), 0};
        int ready = wce::select(0, nullptr, &writable, &failed, &limit);
        int error = ready == 0 ? WSAETIMEDOUT : 0;
        int size = sizeof error;
        if (ready > 0 && getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                                    &size) == SOCKET_ERROR) {
            error = WSAGetLastError();
        }
        connected = ready > 0 && error == 0;
        if (error != 0) WSASetLastError(error);
    }
    if (!connected) return false;
    wce::u_long blocking = 0;
    return ioctlsocket(socket, FIONBIO, &blocking) != SOCKET_ERROR;
}

// A new connection for the next document, to the address of the open. It fails
// silently: the core reports a failed send.
bool Reconnect(PortState& state) {
    state.tcpSocket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address;
    std::memcpy(&address, state.serverAddress, sizeof address);
    if (state.tcpSocket != INVALID_SOCKET &&
        ConnectWithin(state.tcpSocket, address, state.sendTimeoutSeconds)) {
        LimitSendTime(state.tcpSocket, state.sendTimeoutSeconds);
        StartWindowWatch(state);
        return true;
    }
    int error = WSAGetLastError();
    CloseSocket(state);
    WSASetLastError(error);
    return false;
}

// Tells the printer that no more data follows and waits for it to read to the end and
// close its side. What it sends meanwhile (status bytes) is read and dropped. A printer
// that resets the connection instead has not taken everything. "TimeOut" bounds a
// stall: a printer that keeps reading a big job at the speed it prints is waited for.
bool AwaitPeerClose(PortState& state, DWORD seconds) {
    SOCKET socket = state.tcpSocket;
    if (wce::shutdown(socket, SD_SEND) == SOCKET_ERROR) return false;
    constexpr DWORD kProgressCheckMs = 200;
    const DWORD stallMs = seconds * 1000;
    ReadingWatch watch;
    watch.Moved(socket, state.peerWindowMost);
    DWORD deadline = GetTickCount() + stallMs + HeldBytesMs(state);
    char scrap[256];
    for (;;) {
        DWORD now = GetTickCount();
        DWORD check = now + kProgressCheckMs;
        wce::timeval limit = TimeLeft(LONG(check - deadline) < 0 ? check : deadline);
        wce::fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket, &readable);
        int ready = wce::select(0, &readable, nullptr, nullptr, &limit);
        if (ready == SOCKET_ERROR) return false;
        if (ready == 0) {
            bool moved = watch.Moved(socket, state.peerWindowMost);
            if (moved) deadline = GetTickCount() + stallMs + HeldBytesMs(state);
            if (LONG(GetTickCount() - deadline) < 0) continue;
            WSASetLastError(WSAETIMEDOUT);
            return false;
        }
        int got = recv(socket, scrap, sizeof scrap, 0);
        if (got == SOCKET_ERROR) return false;
        if (got > 0) continue;
        int error = 0;
        int size = sizeof error;
        getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
        if (error != 0) WSASetLastError(error);
        return error == 0;
    }
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

    state.sendTimeoutSeconds = timeoutSeconds;
    if (!ConnectWithin(state.tcpSocket, address, timeoutSeconds)) {
        return FailOpen(state, u"Fail to Connection to Printer");
    }
    LimitSendTime(state.tcpSocket, timeoutSeconds);
    StartWindowWatch(state);
    state.handle = kNetworkHandle;
    return true;
}

// A short count is no failure: the rest goes in the next call. Only errors count
// towards the tries, and only in a row.
int NetworkSend(PortState& state, const BYTE* bytes, DWORD count) {
    if (state.tcpSocket == INVALID_SOCKET && !Reconnect(state)) {
        state.handle = INVALID_HANDLE_VALUE;
        return 0;
    }
    const char* position = reinterpret_cast<const char*>(bytes);
    DWORD remaining = count;
    int failures = 0;
    const DWORD stallMs = state.sendTimeoutSeconds * 1000;
    DWORD stallDeadline = GetTickCount() + stallMs;
    do {
        int piece = int(std::min<DWORD>(remaining, INT_MAX));
        LimitSendUntil(state.tcpSocket, stallDeadline + HeldBytesMs(state));
        int sent = send(state.tcpSocket, position, piece, 0);
        if (sent != SOCKET_ERROR && (sent > 0 || piece == 0)) {
            sent = std::min(sent, piece);
            position += sent;
            remaining -= DWORD(sent);
            failures = 0;
            stallDeadline = GetTickCount() + stallMs;
            state.bytesSent += unsigned(sent);
            NoteWindow(state);
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

int NetworkFinish(PortState& state) {
    if (state.tcpSocket == INVALID_SOCKET) return 1;  // nothing sent since the last end
    bool taken = AwaitPeerClose(state, state.sendTimeoutSeconds);
    int error = WSAGetLastError();
    CloseSocket(state);
    if (taken) return 1;
    state.handle = INVALID_HANDLE_VALUE;
    WSASetLastError(error);
    return 0;
}

// A connection still open here ends as a document does, so the printer gets what was
// sent; whether it took it can no longer be reported.
void NetworkClose(PortState& state) {
    if (state.tcpSocket != INVALID_SOCKET) AwaitPeerClose(state, state.sendTimeoutSeconds);
    CloseSocket(state);
    ReleaseStack(state);
}

}  // namespace qx470
