// The port layer's own state and the seams between its files: the dispatcher
// (port.cpp), the local transports (port_serial.cpp, port_parallel.cpp), the printer
// identification (port_identify.cpp), and the infrared and network transports.
#pragma once

#include <memory>

#include "port.h"
#include "wce/base.h"
#include "wce/types.h"

namespace qx470 {

// The one port record of the driver; one device context at a time uses it.
struct PortState {
    std::unique_ptr<wce::WCHAR[]> printerName;  // description of a parallel printer, else ""
    wce::ULONG_PTR tcpSocket = ~wce::ULONG_PTR(0);
    // The open transport: the file of a serial or parallel port, the infrared
    // connection block, kNetworkHandle while a network port is connected.
    wce::HANDLE handle = wce::INVALID_HANDLE_VALUE;
    const void* hostEntry = nullptr;         // local host look-up of the network open (not owned)
    std::unique_ptr<wce::WCHAR[]> portName;  // at least 6 units, so LPTn: always fits
    wce::BYTE serverAddress[16] = {};        // IPv4 socket address as passed to connect
    char addressText[256] = {};              // the network port name in 8-bit characters
    wce::DWORD sendTimeoutSeconds = 0;       // "TimeOut": the infrared sender's wait, the
                                             // network's connect and end-of-document waits
    bool socketsStarted = false;             // the open port holds a start of the socket stack
    wce::DWORD peerWindowMost = 0;           // the network printer's largest receive window seen
    unsigned long long bytesSent = 0;        // taken by the network connection since it opened
    wce::HINSTANCE messageModule = nullptr;  // never set: prompts use the driver's own texts
};

PortState& Port();

inline wce::HANDLE const kNetworkHandle = reinterpret_cast<wce::HANDLE>(10);
inline bool HasTransport(const PortState& state) {
    return state.handle != wce::INVALID_HANDLE_VALUE;
}

// "TimeOut": the limit of one send on every transport. 0, or more than an hour, reads
// as the default.
constexpr wce::DWORD kDefaultTimeoutSeconds = 45;
constexpr wce::DWORD kLongestTimeoutSeconds = 3600;

// The transport a port name chooses, and the bit rate a COM name asks for.
int KindOfName(wce::LPCWSTR name);
wce::DWORD SerialRateOfName(wce::LPCWSTR name);

// Serial and parallel (port_serial.cpp, port_parallel.cpp). The opens use
// state.portName, already cut to COMn: or LPTn:, and set state.handle.
bool SerialOpen(PortState& state, wce::DWORD baudRate, wce::DWORD timeoutSeconds);
bool ParallelOpen(PortState& state);
// The status code for a stalled parallel printer.
wce::DWORD ParallelStatus(wce::HANDLE handle);
// Writes every byte, prompting on stalls; 0 after a cancel, the port then closed.
int DeviceSend(PortState& state, int kind, const wce::BYTE* bytes, wce::DWORD count);

// Printer identification (port_identify.cpp). *size is in bytes, in and out; the
// result is an error code as PortQuery returns it.
wce::DWORD ReadDescription(wce::HANDLE handle, wce::WCHAR* buffer, wce::DWORD* size);
bool ReadCapabilityFlags(wce::HANDLE handle, wce::DWORD* flags);

// Infrared and network transports. An open returns true once state.handle holds the
// connection. A send returns 1 or 0; a local (infrared) sender that fails has released
// its connection, and PortWrite then marks the port closed. The network sender marks
// the port closed itself when it gives up. Both start the socket stack for their
// connection and release it with the connection. timeoutSeconds is "TimeOut": the
// infrared sender's wait for the link, and the limit of each network send.
bool InfraredOpen(PortState& state, wce::DWORD timeoutSeconds);
int InfraredSend(PortState& state, const wce::BYTE* bytes, wce::DWORD count);
void InfraredClose(PortState& state);
// The network sender connects again when the last document ended its connection.
// NetworkFinish tells the printer that the data ends and waits for it to close its
// side; a printer that does not, within the time-out, has not taken the data and the
// port is then closed.
bool NetworkOpen(PortState& state, wce::DWORD timeoutSeconds);
int NetworkSend(PortState& state, const wce::BYTE* bytes, wce::DWORD count);
int NetworkFinish(PortState& state);
void NetworkClose(PortState& state);

}  // namespace qx470
