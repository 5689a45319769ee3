#include "session.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "decoder.h"

namespace qxemu {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollSliceMs = 100;  // how often a stop request is noticed

int MsUntil(Clock::time_point when) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, kPollSliceMs));
}

// Bytes the next read may take.
std::size_t ReadLimit(const SessionOptions& o, std::uint64_t total) {
    constexpr std::size_t kChunk = 65536;
    if (o.fault.kind == FaultKind::kCloseAfter) {
        return static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, o.fault.value - total));
    }
    if (o.fault.kind == FaultKind::kSlow) {
        // Ten reads a second at most make up the rate.
        return static_cast<std::size_t>(std::clamp<std::uint64_t>(o.fault.value / 10, 1, kChunk));
    }
    return kChunk;
}

}  // namespace

void AnswerBusy(int listenFd, Log& log) {
    int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    const char busy = 'B';
    (void)::send(fd, &busy, 1, MSG_NOSIGNAL);
    ::close(fd);
    log.Line("another connection answered busy ('B')");
}

// Reads what is waiting on the connection without waiting for more.
std::uint64_t DrainPending(int fd, Decoder& decoder, std::vector<std::uint8_t>& chunk) {
    std::uint64_t drained = 0;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
        ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got <= 0) break;
        drained += static_cast<std::uint64_t>(got);
        decoder.Feed(chunk.data(), static_cast<std::size_t>(got));
    }
    return drained;
}

SessionEnd RunSession(int fd, Device& device, const SessionOptions& o,
                      const std::atomic<bool>& stop) {
    Log& log = device.GetLog();
    Decoder decoder(device);
    std::vector<std::uint8_t> chunk(65536);
    std::uint64_t total = 0;
    bool pendingIdle = false;  // bytes arrived since the last idle gap
    Clock::time_point lastData = Clock::now();
    Clock::time_point nextRead = Clock::now();
    const bool neverRead = o.fault.kind == FaultKind::kNeverRead;
    SessionEnd end = SessionEnd::kClosed;
    while (true) {
        if (stop.load()) {
            // Bytes the sender already handed over still belong to the job being stopped.
            if (!neverRead) total += DrainPending(fd, decoder, chunk);
            end = SessionEnd::kStopped;
            break;
        }
        if (o.fault.kind == FaultKind::kCloseAfter && total >= o.fault.value) {
            log.Line("fault close-after: closing after " + std::to_string(total) + " bytes");
            end = SessionEnd::kFaultClosed;
            break;
        }
        int timeout = kPollSliceMs;
        if (pendingIdle && o.idleMs > 0) {
            timeout = MsUntil(lastData + std::chrono::milliseconds(o.idleMs));
        }
        bool throttled = o.fault.kind == FaultKind::kSlow && Clock::now() < nextRead;
        if (throttled) timeout = std::min(timeout, MsUntil(nextRead));
        pollfd fds[2] = {{fd, static_cast<short>(neverRead || throttled ? 0 : POLLIN), 0},
                         {o.busyListenFd, POLLIN, 0}};
        if (neverRead && o.isSocket) fds[0].events = POLLRDHUP;
        int ready = ::poll(fds, o.busyListenFd >= 0 ? 2 : 1, timeout);
        if (ready < 0 && errno != EINTR) {
            log.Error(total, "transport", std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        if (o.busyListenFd >= 0 && (fds[1].revents & POLLIN)) AnswerBusy(o.busyListenFd, log);
        if (neverRead && (fds[0].revents & (POLLRDHUP | POLLHUP | POLLERR))) {
            log.Line("fault never-read: the sender hung up");
            break;
        }
        if (!neverRead && !throttled && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t got = ::read(fd, chunk.data(), ReadLimit(o, total));
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got < 0 && errno != EIO) {
                log.Error(total, "transport", std::string("read failed: ") + std::strerror(errno));
            }
            if (got <= 0) break;
            total += static_cast<std::uint64_t>(got);
            decoder.Feed(chunk.data(), static_cast<std::size_t>(got));
            pendingIdle = true;
            lastData = Clock::now();
            if (o.fault.kind == FaultKind::kSlow)
                nextRead = lastData + std::chrono::milliseconds(100);
            continue;
        }
        if (pendingIdle && o.idleMs > 0 &&
            Clock::now() >= lastData + std::chrono::milliseconds(o.idleMs)) {
            pendingIdle = false;
            decoder.Idle();
            if (o.endOnIdle) break;
        }
    }
    decoder.Finish();
    log.Line("-- " + std::to_string(total) + " bytes received");
    return end;
}

}  // namespace qxemu
