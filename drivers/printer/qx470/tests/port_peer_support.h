// Printers for the network and infrared tests: small servers on threads over real
// sockets, TCP on a loopback address and Unix-domain for the simulated infrared devices.
// Include before wce/winsock.h, which takes over the Linux socket names.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include "printer_port.h"

namespace qx470::testing {

// Waits for a readable descriptor in short steps, so a stop request is seen.
inline bool WaitReadable(int fd, const std::atomic<bool>& stop) {
    while (!stop) {
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, 20);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
    return false;
}

// What a peer has received, and whether its connection has ended.
class Inbox {
  public:
    void Add(const char* bytes, size_t size) {
        std::lock_guard<std::mutex> guard(lock_);
        bytes_.append(bytes, size);
    }
    void Finish() {
        std::lock_guard<std::mutex> guard(lock_);
        done_ = true;
        changed_.notify_all();
    }
    // The bytes once the connection ended, or what came within the wait.
    std::string Wait(int ms = 5000) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return done_; });
        return bytes_;
    }
    size_t size() {
        std::lock_guard<std::mutex> guard(lock_);
        return bytes_.size();
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::string bytes_;
    bool done_ = false;
};

// Reads until the other side closes; one byte a call when asked. Stops after limit
// bytes when a limit is given.
inline void ReadInto(int fd, Inbox& inbox, const std::atomic<bool>& stop, bool oneByte,
                     size_t limit = 0) {
    char chunk[65536];
    size_t total = 0;
    while (WaitReadable(fd, stop)) {
        size_t want = oneByte ? 1 : sizeof chunk;
        if (limit) want = std::min(want, limit - total);
        ssize_t got = ::recv(fd, chunk, want, 0);
        if (got <= 0) break;
        inbox.Add(chunk, size_t(got));
        total += size_t(got);
        if (limit && total >= limit) break;
    }
}

// A printer on TCP port 9100 of one loopback address, serving one connection.
class TcpPrinter {
  public:
    enum class Mode {
        kReadAll,         // reads everything until the driver closes
        kOneByteAtATime,  // the same, one byte a read
        kNeverRead,       // takes the connection, then reads nothing
        kCloseAfter,      // reads limit bytes, then closes
        kResetAfter,      // reads limit bytes, then breaks the connection (RST)
    };

    TcpPrinter(const char* address, Mode mode, size_t limit = 0, int receiveBuffer = 0)
        : mode_(mode), limit_(limit) {
        listener_ = qxtest::ListenAsPrinter(address, 4, receiveBuffer);
        ok_ = listener_ >= 0;
        if (ok_) thread_ = std::thread([this] { Serve(); });
    }
    ~TcpPrinter() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    bool ok() const { return ok_; }
    bool accepted() const { return accepted_; }
    int laterConnections() const { return laterConnections_; }
    Inbox& inbox() { return inbox_; }

  private:
    void Serve() {
        if (!WaitReadable(listener_, stop_)) return inbox_.Finish();
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        accepted_ = fd >= 0;
        if (fd < 0) return inbox_.Finish();
        switch (mode_) {
            case Mode::kReadAll:
            case Mode::kOneByteAtATime:
                ReadInto(fd, inbox_, stop_, mode_ == Mode::kOneByteAtATime);
                break;
            case Mode::kNeverRead:
                while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
                break;
            case Mode::kCloseAfter:
            case Mode::kResetAfter:
                if (limit_ > 0) ReadInto(fd, inbox_, stop_, false, limit_);  // 0: at once
                if (mode_ == Mode::kResetAfter) {
                    linger hard{1, 0};
                    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                }
                break;
        }
        ::close(fd);
        inbox_.Finish();
        // Whoever connects after the first connection is counted, not served.
        while (WaitReadable(listener_, stop_)) {
            int later = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (later < 0) continue;
            ++laterConnections_;
            ::close(later);
        }
    }

    Mode mode_;
    size_t limit_;
    int listener_ = -1;
    bool ok_ = false;
    std::atomic<bool> accepted_{false};
    std::atomic<int> laterConnections_{0};
    std::atomic<bool> stop_{false};
    Inbox inbox_;
    std::thread thread_;
};

// A listener on TCP port 9100 of one loopback address whose queue is full: a connect
// to it is never answered.
class SilentListener {
  public:
    explicit SilentListener(const char* address) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(9100);
        ::inet_pton(AF_INET, address, &at.sin_addr);
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ok_ = ::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
              ::listen(listener_, 0) == 0;
        // A backlog of 0 holds one connection that is never accepted; a second one
        // makes sure the queue is full.
        for (int& filler : fillers_) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr*>(&at), sizeof at);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~SilentListener() {
        for (int filler : fillers_) ::close(filler);
        ::close(listener_);
    }
    bool ok() const { return ok_; }

  private:
    int listener_ = -1;
    int fillers_[2] = {-1, -1};
    bool ok_ = false;
};

// A simulated infrared device in a folder: "<address>.dev" and "<address>.sock". The
// first busyAnswers connections are answered busy ('B'; -1 for all of them), the next
// one is taken ('A') and its data read, unless the device never reads.
class IrdaDevice {
  public:
    IrdaDevice(const std::string& folder, const std::string& address, int sendUnit,
               int busyAnswers = 0, bool reads = true, const char* service = "IrLPT")
        : busyLeft_(busyAnswers), reads_(reads) {
        std::string base = folder + "/" + address;
        devPath_ = base + ".dev";
        sockPath_ = base + ".sock";
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un at{};
        at.sun_family = AF_UNIX;
        std::snprintf(at.sun_path, sizeof at.sun_path, "%s", sockPath_.c_str());
        ok_ = ::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
              ::listen(listener_, 16) == 0;
        if (!ok_) return;
        if (FILE* dev = std::fopen(devPath_.c_str(), "w")) {
            std::fprintf(dev, "name=Test printer %s\nservice=%s\npdu=%d\n", address.c_str(),
                         service, sendUnit);
            std::fclose(dev);
        }
        thread_ = std::thread([this] { Serve(); });
    }
    ~IrdaDevice() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
        ::unlink(devPath_.c_str());
        ::unlink(sockPath_.c_str());
    }
    bool ok() const { return ok_; }
    int connections() const { return connections_; }
    Inbox& inbox() { return inbox_; }

  private:
    void Serve() {
        while (WaitReadable(listener_, stop_)) {
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++connections_;
            bool busy = busyLeft_ != 0;
            if (busyLeft_ > 0) --busyLeft_;
            char answer = busy ? 'B' : 'A';
            ::send(fd, &answer, 1, MSG_NOSIGNAL);
            if (!busy) {
                if (reads_) {
                    ReadInto(fd, inbox_, stop_, false);
                } else {
                    while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                inbox_.Finish();
            }
            ::close(fd);
        }
    }

    int busyLeft_;
    bool reads_;
    std::string devPath_;
    std::string sockPath_;
    int listener_ = -1;
    bool ok_ = false;
    std::atomic<int> connections_{0};
    std::atomic<bool> stop_{false};
    Inbox inbox_;
    std::thread thread_;
};

}  // namespace qx470::testing
