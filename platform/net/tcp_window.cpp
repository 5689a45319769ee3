// The peer's advertised receive window, from the kernel's TCP record. Apart from the
// other net files: glibc's netinet/tcp.h lacks the field and clashes with linux/tcp.h.
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <cstddef>

#include "net_window.h"

namespace wce::net {

bool PeerWindow(int fd, unsigned long* window) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return false;
    // Kernels before the field was added give a shorter record.
    if (size < offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd) return false;
    *window = info.tcpi_snd_wnd;
    return true;
}

}  // namespace wce::net
