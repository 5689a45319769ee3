#include "printer_link.h"

#include <algorithm>
#include <cstring>

#include "echo.h"
#include "wce/base.h"
#include "wce/io.h"
#include "wce/ui.h"

namespace qxsetup {

using namespace wce;

namespace {

constexpr WORD kStackVersion = MAKEWORD(1, 1);

// Serial line settings of the link: binary, CTS and DSR output flow control, DTR and
// RTS on, continue after XOFF; parity checks, DSR sensitivity, XON/XOFF, error and
// null handling and abort on error off. Bits 15 up stay as the port had them.
constexpr DWORD kKeptFlags = 0xFFFF909D;
constexpr DWORD kLinkFlags = 0x0000109D;
constexpr DWORD kQueueBytes = 8096;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kEventMask = EV_RXCHAR | EV_TXEMPTY | EV_CTS | EV_DSR;
constexpr int kSerialPiece = 1024;
constexpr DWORD kPiecePauseMs = 300;

std::u16string& TitleSlot() {
    static std::u16string* title = new std::u16string(u"QX470SETUP");
    return *title;
}

}  // namespace

void SetApplicationTitle(std::u16string title) {
    TitleSlot() = std::move(title);
}

const std::u16string& ApplicationTitle() {
    return TitleSlot();
}

void ShowAppMessage(LPCWSTR text) {
    MessageBoxW(nullptr, text, ApplicationTitle().c_str(), MB_OK);
}

DWORD SerialRate(int rateCode) {
    static constexpr DWORD kRates[] = {CBR_1200,  CBR_2400,  CBR_4800,  CBR_9600,
                                       CBR_19200, CBR_38400, CBR_57600, CBR_115200};
    return rateCode >= 3 && rateCode <= 10 ? kRates[rateCode - 3] : 0;
}

NetworkLink& TheNetworkLink() {
    static NetworkLink link;
    return link;
}

SerialLink& TheSerialLink() {
    static SerialLink link;
    return link;
}

// ---------------------------------------------------------------------------------
// Network

NetworkLink::~NetworkLink() {
    Close();
    if (tcpSocket != INVALID_SOCKET) closesocket(tcpSocket);
    tcpSocket = INVALID_SOCKET;
}

// Releasing the stack after a failed start of the connection; the user hears of a
// release that fails.
void NetworkLink::ReleaseStack() {
    if (WSACleanup() != 0) {
        ShowAppMessage(FormatWideString(u"WSACleanup, error %d", WSAGetLastError()).c_str());
    }
}

bool NetworkLink::Connect(LPCWSTR address, u_short port) {
    // The link keeps one connection: an earlier one that was never closed goes now,
    // with the stack reference it held, instead of staying open to the printer.
    if (tcpSocket != INVALID_SOCKET) {
        closesocket(tcpSocket);
        tcpSocket = INVALID_SOCKET;
        state = 0;
        WSACleanup();
    }

    std::memset(addressText, 0, sizeof addressText);
    for (size_t i = 0; address && address[i] != u'\0' && i < sizeof addressText - 1; ++i) {
        addressText[i] = char(address[i] & 0xFF);
    }

    if (WSAStartup(kStackVersion, &socketsInfo) != 0) {
        ShowAppMessage(u"Unable to start TCP/IP stack");
        return false;
    }
    if (LOBYTE(socketsInfo.wVersion) != 1 || HIBYTE(socketsInfo.wVersion) != 1) {
        ShowAppMessage(u"wrong version of protocol stack, need 1.1");
        ReleaseStack();
        return false;
    }

    tcpSocket = WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (tcpSocket == INVALID_SOCKET) {
        ShowAppMessage(u"Create Socket Error");
        return false;
    }
    // The echo has told the user why it failed, when there was something to tell.
    if (checkEcho && !PingAddress(addressText)) {
        closesocket(tcpSocket);
        tcpSocket = INVALID_SOCKET;
        return false;
    }

    tcpPort = port;
    serverAddress = sockaddr_in{};
    serverAddress.sin_family = AF_INET;
    hostEntry = gethostbyname("localhost");
    if (!hostEntry) {
        std::u16string text =
            FormatWideString(u"Unable to get the host name. Error: %d", WSAGetLastError());
        MessageBoxW(nullptr, text.c_str(), u"Error", MB_OK);
        closesocket(tcpSocket);
        tcpSocket = INVALID_SOCKET;
        ReleaseStack();
        return false;
    }
    std::memcpy(
        &serverAddress.sin_addr, hostEntry->h_addr,
        std::min(size_t(std::max<short>(hostEntry->h_length, 0)), sizeof serverAddress.sin_addr));
    serverAddress.sin_port = htons(tcpPort);
    // The address is the printer's own; it is never looked up as a host name.
    serverAddress.sin_addr.s_addr = inet_addr(addressText);

    // The link never blocks: the socket is non-blocking from here on, so that the
    // connect, too, is given its own time instead of the system's minutes.
    wce::u_long nonBlocking = 1;
    if (ioctlsocket(tcpSocket, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
        // A link reported as failed keeps no connection to the printer.
        closesocket(tcpSocket);
        tcpSocket = INVALID_SOCKET;
        return false;
    }
    if (!ConnectWithin(connectTimeoutMs)) {
        ShowAppMessage(u"Fail to Connection to Printer");
        closesocket(tcpSocket);
        tcpSocket = INVALID_SOCKET;
        return false;
    }
    state = 1;
    return true;
}

bool NetworkLink::ConnectWithin(DWORD ms) {
    if (connect(tcpSocket, reinterpret_cast<const sockaddr*>(&serverAddress),
                sizeof serverAddress) != SOCKET_ERROR)
        return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
    wce::fd_set writable, failed;  // the system's select types share these names
    FD_ZERO(&writable);
    FD_SET(tcpSocket, &writable);
    FD_ZERO(&failed);
    FD_SET(tcpSocket, &failed);
    wce::timeval limit{LONG(ms / 1000), LONG(ms % 1000 * 1000)};
    if (wce::select(0, nullptr, &writable, &failed, &limit) <= 0) return false;
    int error = 0;
    int size = sizeof error;
    return getsockopt(tcpSocket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) !=
               SOCKET_ERROR &&
           error == 0;
}

int NetworkLink::Send(const BYTE* bytes, int count) {
    if (state == 0) return 0;
    return send(tcpSocket, reinterpret_cast<const char*>(bytes), count, 0);
}

void NetworkLink::Close() {
    if (state == 0) return;
    state = 0;
    closesocket(tcpSocket);
    tcpSocket = INVALID_SOCKET;
}

// ---------------------------------------------------------------------------------
// Serial

SerialLink::~SerialLink() {
    Close();
}

bool SerialLink::Open(LPCWSTR portName, int rateCode) {
    // A port opened earlier and never closed would keep the device busy.
    if (handle) Close();
    HANDLE opened =
        CreateFileW(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        isOpen = 0;
        handle = nullptr;
        return false;
    }
    handle = opened;
    isOpen = 1;
    SetupComm(handle, kQueueBytes, kQueueBytes);
    PurgeComm(handle, kPurgeAll);

    DWORD rate = SerialRate(rateCode);
    if (rate == 0) return false;  // the port stays open until Close

    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    GetCommState(handle, &dcb);
    dcb.BaudRate = rate;
    SetDcbFlagWord(dcb, (DcbFlagWord(dcb) & kKeptFlags) | kLinkFlags);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(handle, &dcb)) ShowAppMessage(u"Fail Configure the serial Port");

    COMMTIMEOUTS timeouts{};
    GetCommTimeouts(handle, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 100;
    timeouts.WriteTotalTimeoutMultiplier = 76800 / rate;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(handle, &timeouts)) ShowAppMessage(u"Fail Timeout Set");

    EscapeCommFunction(handle, SETDTR);
    EscapeCommFunction(handle, SETRTS);
    SetCommMask(handle, kEventMask);
    return true;
}

// The platform's writes finish (or time out) before they return, so no write is left
// pending and no event is needed to wait for one.
bool SerialLink::Write(const BYTE* bytes, int count) {
    if (!isOpen) return false;
    if (count <= 0) return true;
    const bool pause = count > kSerialPiece;
    int position = 0;
    while (position < count) {
        DWORD piece = DWORD(std::min(count - position, kSerialPiece));
        DWORD written = 0;
        if (!WriteFile(handle, bytes + position, piece, &written, nullptr)) return false;
        // A piece of which the port took nothing before its time-out ends the write;
        // trying again would loop for as long as the printer stalls.
        if (written == 0) return false;
        position += int(std::min(written, piece));
        if (pause) Sleep(kPiecePauseMs);
    }
    return true;
}

void SerialLink::Close() {
    if (!isOpen) return;
    isOpen = 0;
    if (handle) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

}  // namespace qxsetup
