// The settings utility's own link to the printer, used by the image manager instead of
// the driver: a TCP connection to the printer's raw port, or a COMn: serial port with
// the utility's line settings.
#pragma once

#include <string>

#include "wce/types.h"
#include "wce/winsock.h"

namespace qxsetup {

// The caption of the utility's own message boxes: the program's title. Model A's
// program is the default; model B's sets its own at start.
void SetApplicationTitle(std::u16string title);
const std::u16string& ApplicationTitle();
// A message box with an OK button and the program's title as caption.
void ShowAppMessage(wce::LPCWSTR text);

class NetworkLink {
  public:
    NetworkLink() = default;
    ~NetworkLink();
    NetworkLink(const NetworkLink&) = delete;
    NetworkLink& operator=(const NetworkLink&) = delete;

    // address: dotted IPv4 text. Tells the user why a connection failed.
    bool Connect(wce::LPCWSTR address, wce::u_short port);
    // The count the socket took, -1 on a socket error (a full send buffer included:
    // the socket never waits), 0 when not connected.
    int Send(const wce::BYTE* bytes, int count);
    void Close();

    // Model B's printers must answer an ICMP echo before the link connects to them.
    bool checkEcho = false;
    // How long a printer has to take the connection.
    wce::DWORD connectTimeoutMs = 10000;
    int state = 0;  // 0 closed, 1 connected
    wce::SOCKET tcpSocket = wce::INVALID_SOCKET;
    wce::u_short tcpPort = 0;
    wce::sockaddr_in serverAddress{};
    wce::hostent* hostEntry = nullptr;  // not owned
    wce::WSADATA socketsInfo{};
    char addressText[264] = {};

  private:
    void ReleaseStack();
    bool ConnectWithin(wce::DWORD ms);
};

class SerialLink {
  public:
    SerialLink() = default;
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // portName: a device name such as COM1:. rateCode: 3 (1200 bit/s) to 10 (115200).
    bool Open(wce::LPCWSTR portName, int rateCode);
    // Writes in pieces of at most 1024 bytes; after each piece of a write longer than
    // that it pauses, so a slow printer keeps up.
    bool Write(const wce::BYTE* bytes, int count);
    void Close();

    wce::HANDLE handle = nullptr;
    int isOpen = 0;
};

// The bit rate of a serial rate code, 0 for a code outside 3 to 10.
wce::DWORD SerialRate(int rateCode);

// The utility's two links: built at program start, closed at exit. They outlive the
// image manager's dialog, which leaves an open link open.
NetworkLink& TheNetworkLink();
SerialLink& TheSerialLink();

}  // namespace qxsetup
