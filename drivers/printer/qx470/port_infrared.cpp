// The infrared transport: a stream socket of the infrared family to the first printer in
// range that takes an IrLPT connection, and a sender that waits for the link with a
// Retry/Cancel prompt when the printer stops taking data.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "port_internal.h"
#include "qx470prnerr.h"
#include "wce/winsock.h"

namespace qx470 {

using namespace wce;

namespace {

// What handle points to while the link is up.
struct InfraredLink {
    SOCKET socket;
};

constexpr WORD kStackVersion = MAKEWORD(1, 1);
constexpr int kDiscoveryReads = 6;
constexpr ULONG kListedDevices = 5;
constexpr int kDeviceListBytes = 152;  // the count and up to five 29-byte device records
constexpr int kMaxBusyWaits = 8;       // for all devices of one open together
constexpr DWORD kBusyWaitMs = 1000;
constexpr char kPrinterService[] = "IrLPT";

InfraredLink* LinkOf(const PortState& state) {
    return HasTransport(state) ? static_cast<InfraredLink*>(state.handle) : nullptr;
}

// Closes the socket, frees the block and lets the socket stack go.
void Release(PortState& state, InfraredLink* link) {
    closesocket(link->socket);
    delete link;
    if (state.handle == link) state.handle = INVALID_HANDLE_VALUE;
    if (state.socketsStarted) {
        WSACleanup();
        state.socketsStarted = false;
    }
}

// The first list that names a device ends the search; there is no pause between reads.
bool Discover(SOCKET socket, BYTE* list, ULONG* count) {
    for (int i = 0; i < kDiscoveryReads; ++i) {
        int size = kDeviceListBytes;
        if (getsockopt(socket, SOL_IRLMP, IRLMP_ENUMDEVICES, reinterpret_cast<char*>(list),
                       &size) == SOCKET_ERROR) {
            return false;
        }
        std::memcpy(count, list, sizeof *count);
        if (*count > 0) {
            *count = std::min(*count, kListedDevices);
            return true;
        }
    }
    return false;
}

bool SetPrinterMode(SOCKET socket) {
    int on = 1;
    return setsockopt(socket, SOL_IRLMP, IRLMP_IRLPT_MODE, reinterpret_cast<const char*>(&on),
                      sizeof on) != SOCKET_ERROR;
}

// A busy device is tried again after a pause; any other failure moves to the next one.
bool ConnectToListed(SOCKET socket, const BYTE* list, ULONG count) {
    SOCKADDR_IRDA address{};
    address.irdaAddressFamily = AF_IRDA;
    std::memcpy(address.irdaServiceName, kPrinterService, sizeof kPrinterService);
    int busyWaits = 0;
    for (ULONG i = 0; i < count; ++i) {
        const BYTE* device = list + sizeof(ULONG) + i * sizeof(IRDA_DEVICE_INFO);
        std::memcpy(address.irdaDeviceID, device, sizeof address.irdaDeviceID);
        for (;;) {
            if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
                SOCKET_ERROR) {
                return true;
            }
            if (WSAGetLastError() != WSAEADDRINUSE || busyWaits == kMaxBusyWaits) break;
            ++busyWaits;
            Sleep(kBusyWaitMs);
        }
    }
    return false;
}

// 1 writable, 0 time-out, SOCKET_ERROR on a failed wait.
int WaitWritable(SOCKET socket, DWORD seconds) {
    wce::fd_set writable;  // the system's select types share these names
    FD_ZERO(&writable);
    FD_SET(socket, &writable);
    wce::timeval limit{LONG(std::min<DWORD>(seconds, INT32_MAX)), 0};
    return wce::select(0, nullptr, &writable, nullptr, &limit);
}

}  // namespace

bool InfraredOpen(PortState& state, DWORD timeoutSeconds) {
    state.sendTimeoutSeconds = timeoutSeconds;
    InfraredLink* link = new (std::nothrow) InfraredLink{};
    if (!link) return false;
    WSADATA info{};
    if (WSAStartup(kStackVersion, &info) != 0) {
        delete link;
        return false;
    }
    state.socketsStarted = true;
    link->socket = socket(AF_IRDA, SOCK_STREAM, 0);
    if (link->socket == INVALID_SOCKET) {
        Release(state, link);
        return false;
    }
    BYTE list[kDeviceListBytes] = {};
    ULONG count = 0;
    if (!Discover(link->socket, list, &count) || !SetPrinterMode(link->socket) ||
        !ConnectToListed(link->socket, list, count)) {
        Release(state, link);
        SetLastError(ERROR_INVALID_PRINTER_STATE);
        return false;
    }
    state.handle = link;
    return true;
}

int InfraredSend(PortState& state, const BYTE* bytes, DWORD count) {
    InfraredLink* link = LinkOf(state);
    if (!link) {
        SetLastError(ERROR_WRITE_FAULT);
        return 0;
    }
    int unit = 0;
    int size = sizeof unit;
    // Without a send unit nothing can go; the link is released rather than left open
    // with no owner.
    if (getsockopt(link->socket, SOL_IRLMP, IRLMP_SEND_PDU_LEN, reinterpret_cast<char*>(&unit),
                   &size) == SOCKET_ERROR ||
        unit <= 0) {
        Release(state, link);
        return 0;
    }
    const char* position = reinterpret_cast<const char*>(bytes);
    DWORD remaining = count;
    for (;;) {
        int ready = WaitWritable(link->socket, state.sendTimeoutSeconds);
        if (ready == SOCKET_ERROR) {
            Release(state, link);
            return 0;
        }
        if (ready == 0) {
            if (ReportPrinterStatus(StatusTimeout, state.portName.get(), state.printerName.get(),
                                    0)) {
                continue;
            }
            Release(state, link);
            SetLastError(DWORD(WSAETIMEDOUT));
            return 0;
        }
        int piece = int(std::min<DWORD>(remaining, DWORD(unit)));
        int sent = send(link->socket, position, piece, 0);
        if (sent == SOCKET_ERROR) {
            int error = WSAGetLastError();
            Release(state, link);
            WSASetLastError(error);
            return 0;
        }
        position += sent;
        remaining -= DWORD(std::min(sent, piece));
        if (remaining == 0) return 1;
    }
}

void InfraredClose(PortState& state) {
    if (InfraredLink* link = LinkOf(state)) Release(state, link);
}

}  // namespace qx470
