// One connection: bytes read from a descriptor go to a fresh decoder, with idle gaps
// and the transport fault modes applied.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "device.h"
#include "options.h"

namespace qxemu {

struct SessionOptions {
    int idleMs = 2000;
    Fault fault;
    bool endOnIdle = false;  // a pty has no connection end: the first idle gap after data is one
    int busyListenFd = -1;   // infrared: connections arriving meanwhile are answered busy
    bool isSocket = false;   // peer hang-up can be seen without reading (never-read)
};

enum class SessionEnd { kClosed, kStopped, kFaultClosed };

// Reads fd until end of file, a stop request or the close-after fault; the decoder
// finishes every page before it returns. fd stays open.
SessionEnd RunSession(int fd, Device& device, const SessionOptions& options,
                      const std::atomic<bool>& stop);

// Answers a pending infrared connection on listenFd with 'B' and closes it.
void AnswerBusy(int listenFd, Log& log);

}  // namespace qxemu
