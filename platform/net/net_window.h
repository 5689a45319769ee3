// The peer's advertised receive window of a TCP socket (see tcp_window.cpp).
#pragma once

namespace wce::net {

// False when the system does not tell.
bool PeerWindow(int fd, unsigned long* window);

}  // namespace wce::net
