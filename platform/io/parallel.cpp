// Parallel ports: Linux printer devices (usblp, lp) and the in-process test devices.
#include <linux/lp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

#include "io_internal.h"
#include "wce/base.h"
#include "wce/text.h"

namespace wce {

namespace io {

namespace {

// A printer that stops taking data with no limit set returns a zero count after this,
// so the caller can ask the user instead of hanging.
constexpr DWORD kDefaultWriteLimitMs = 15000;

// usblp's device ID control: the reply starts with its own length, big-endian, itself
// included.
constexpr unsigned kDeviceIdCapacity = 1024;
constexpr unsigned long kUsbGetDeviceId = _IOC(_IOC_READ, 'P', 1, kDeviceIdCapacity);

struct TestDevices {
    std::mutex lock;
    std::map<std::u16string, std::shared_ptr<TestParallelDevice>> byName;
};

TestDevices& Devices() {
    static TestDevices* devices = new TestDevices;
    return *devices;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL CopyReply(const void* reply, size_t length, LPVOID out, DWORD outSize, LPDWORD returned) {
    if (!out || outSize == 0) return Fail(ERROR_INSUFFICIENT_BUFFER);
    DWORD n = DWORD(std::min<size_t>(length, outSize));
    std::memcpy(out, reply, n);
    if (returned) *returned = n;
    return TRUE;
}

BOOL TestDeviceControl(TestParallelDevice& device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                       DWORD outSize, LPDWORD returned) {
    std::lock_guard guard(device.lock);
    switch (code) {
        case IOCTL_PARALLEL_GETDEVICEID:
            if (device.deviceIdFails) return Fail(ERROR_GEN_FAILURE);
            return CopyReply(device.deviceId.data(), device.deviceId.size(), out, outSize,
                             returned);
        case IOCTL_PARALLEL_STATUS: {
            ++device.statusReads;
            if (device.statusFails) return Fail(ERROR_GEN_FAILURE);
            if (outSize < sizeof(DWORD) || !out) return Fail(ERROR_INSUFFICIENT_BUFFER);
            DWORD word = device.statusWords.empty() ? 0 : device.statusWords.front();
            if (device.statusWords.size() > 1) device.statusWords.erase(device.statusWords.begin());
            return CopyReply(&word, sizeof word, out, outSize, returned);
        }
        case IOCTL_PARALLEL_CAPABILITY:
            if (in && inSize >= sizeof(DWORD)) std::memcpy(&device.lastCapabilitySelector, in, 4);
            if (device.capabilityReply.empty()) return Fail(ERROR_NOT_SUPPORTED);
            return CopyReply(device.capabilityReply.data(), device.capabilityReply.size(), out,
                             outSize, returned);
        default:
            return Fail(ERROR_NOT_SUPPORTED);
    }
}

// The lp status byte as the Windows status word. One flag only, the most telling one:
// a printer out of paper usually also drops its select and error lines.
DWORD StatusWordFromLp(int status) {
    if (status & LP_POUTPA) return CE_OOP;
    if (!(status & LP_PSELECD)) return CE_DNS;
    if (!(status & LP_PERRORP)) return CE_IOE;
    if (!(status & LP_PBUSY)) return CE_PTO;  // the busy line is inverted
    return 0;
}

BOOL LinuxDeviceControl(int fd, DWORD code, LPVOID out, DWORD outSize, LPDWORD returned) {
    switch (code) {
        case IOCTL_PARALLEL_GETDEVICEID: {
            unsigned char reply[kDeviceIdCapacity] = {};
            if (::ioctl(fd, kUsbGetDeviceId, reply) < 0) return Fail(ErrorFromErrno(errno));
            size_t length = (size_t(reply[0]) << 8) | reply[1];
            length = std::clamp<size_t>(length, 2, kDeviceIdCapacity);
            return CopyReply(reply + 2, length - 2, out, outSize, returned);
        }
        case IOCTL_PARALLEL_STATUS: {
            int status = 0;
            if (outSize < sizeof(DWORD) || !out) return Fail(ERROR_INSUFFICIENT_BUFFER);
            if (::ioctl(fd, LPGETSTATUS, &status) < 0) return Fail(ErrorFromErrno(errno));
            DWORD word = StatusWordFromLp(status);
            return CopyReply(&word, sizeof word, out, outSize, returned);
        }
        default:
            return Fail(ERROR_NOT_SUPPORTED);
    }
}

BOOL TestDeviceWrite(TestParallelDevice& device, const BYTE* bytes, DWORD count, LPDWORD written) {
    std::lock_guard guard(device.lock);
    ++device.writeCalls;
    size_t take = device.bytesPerWrite;
    if (!device.acceptPlan.empty()) {
        take = device.acceptPlan.front();
        device.acceptPlan.erase(device.acceptPlan.begin());
    }
    size_t n = std::min<size_t>(count, take);
    if (n > 0) {
        device.writes.emplace_back(reinterpret_cast<const char*>(bytes), n);
        device.received.append(reinterpret_cast<const char*>(bytes), n);
    }
    if (written) *written = DWORD(n);
    return TRUE;
}

BOOL LinuxDeviceWrite(HandleObject& object, const BYTE* bytes, DWORD count, LPDWORD written) {
    const COMMTIMEOUTS& limits = object.timeouts;
    std::uint64_t limitMs = std::uint64_t(limits.WriteTotalTimeoutMultiplier) * count +
                            limits.WriteTotalTimeoutConstant;
    if (limitMs == 0) limitMs = kDefaultWriteLimitMs;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    DWORD done = 0;
    while (done < count) {
        ssize_t n = ::write(object.fd.Get(), bytes + done, count - done);
        if (n > 0) {
            done += DWORD(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            if (written) *written = done;
            return Fail(ErrorFromErrno(errno));
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd entry{object.fd.Get(), POLLOUT, 0};
        if (::poll(&entry, 1, int(left.count())) == 0) break;
    }
    if (written) *written = done;
    return TRUE;
}

}  // namespace

std::shared_ptr<TestParallelDevice> FindTestParallelDevice(std::u16string_view name) {
    TestDevices& devices = Devices();
    std::lock_guard guard(devices.lock);
    auto it = devices.byName.find(WideUpperAscii(name));
    return it == devices.byName.end() ? nullptr : it->second;
}

BOOL ParallelWrite(HandleObject& object, const BYTE* bytes, DWORD count, LPDWORD written) {
    if (object.kind == DeviceKind::TestParallel) {
        return TestDeviceWrite(*object.testDevice, bytes, count, written);
    }
    return LinuxDeviceWrite(object, bytes, count, written);
}

}  // namespace io

std::shared_ptr<TestParallelDevice> RegisterTestParallelDevice(std::u16string_view name) {
    auto device = std::make_shared<TestParallelDevice>();
    io::TestDevices& devices = io::Devices();
    std::lock_guard guard(devices.lock);
    devices.byName[WideUpperAscii(name)] = device;
    return device;
}

void UnregisterTestParallelDevice(std::u16string_view name) {
    io::TestDevices& devices = io::Devices();
    std::lock_guard guard(devices.lock);
    devices.byName.erase(WideUpperAscii(name));
}

BOOL DeviceIoControl(HANDLE device, DWORD controlCode, LPVOID inBuffer, DWORD inSize,
                     LPVOID outBuffer, DWORD outSize, LPDWORD returned, void* /*overlapped*/) {
    if (returned) *returned = 0;
    std::shared_ptr<io::HandleObject> object = io::FindHandle(device);
    if (!object) return FALSE;
    switch (object->kind) {
        case io::DeviceKind::TestParallel:
            return io::TestDeviceControl(*object->testDevice, controlCode, inBuffer, inSize,
                                         outBuffer, outSize, returned);
        case io::DeviceKind::Parallel:
            return io::LinuxDeviceControl(object->fd.Get(), controlCode, outBuffer, outSize,
                                          returned);
        default:
            return io::Fail(ERROR_NOT_SUPPORTED);
    }
}

}  // namespace wce
