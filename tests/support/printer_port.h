// A listener in a network printer's place: TCP port 9100 of a loopback address, as the
// driver's network port connects to it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace qxtest {

// The listening socket, or -1 when the address cannot be had. A receive buffer of 0
// keeps the system's size.
inline int ListenAsPrinter(const std::string& address, int backlog, int receiveBuffer = 0) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(9100);
    if (::inet_pton(AF_INET, address.c_str(), &at.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace qxtest
