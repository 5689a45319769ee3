// What the net files share: the table of open sockets, the state of the stack and the
// mapping of Linux errors to WinSock codes. Include after linux_net.h.
#pragma once

#include <string>

#include "wce/winsock.h"

namespace wce::net {

// One socket made through this layer. The SOCKET value is the Linux descriptor; an
// infrared socket holds a Unix-domain one, replaced by the device's at connect.
struct SocketRecord {
    int fd = -1;
    int family = 0;
    int type = 0;
    bool nonBlocking = false;
    bool sendShutDown = false;  // shutdown SD_SEND or SD_BOTH: sends fail with WSAESHUTDOWN
    bool connected = false;     // infrared only
    int sendUnit = 0;           // infrared only: the device's pdu
    bool printerMode = false;   // infrared only: IRLMP_IRLPT_MODE, sends of one unit at most
};

bool Started();
// Sets the last error and returns SOCKET_ERROR.
int Fail(int wsaError);
int WsaErrorOf(int linuxErrno);
// The socket's record; false with WSANOTINITIALISED or WSAENOTSOCK set.
bool Lookup(SOCKET socket, SocketRecord* record);
void MarkInfraredConnected(SOCKET socket, int sendUnit);
void SetPrinterMode(SOCKET socket, bool on);

// Simulated infrared (irda.cpp).
std::string InfraredFolder();
int InfraredEnumDevices(char* value, int* length);
int InfraredConnect(SOCKET socket, const SocketRecord& record, const sockaddr* name,
                    int nameLength);

}  // namespace wce::net
