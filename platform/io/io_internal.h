// What the io files share: the handle table and the device kinds behind a handle.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "wce/io.h"
#include "wce/testdevice.h"

namespace wce::io {

// Owns one file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    ~UniqueFd();
    int Get() const { return fd_; }
    int Release();
    void Reset(int fd = -1);

  private:
    int fd_ = -1;
};

enum class DeviceKind { File, Serial, Parallel, TestParallel };

struct HandleObject {
    DeviceKind kind = DeviceKind::File;
    UniqueFd fd;
    std::string path;  // the Linux path behind the handle (empty for test devices)
    COMMTIMEOUTS timeouts{};
    DWORD commMask = 0;
    std::shared_ptr<TestParallelDevice> testDevice;
};

// The table never reuses a value, so a stale handle fails with ERROR_INVALID_HANDLE.
HANDLE InsertHandle(std::shared_ptr<HandleObject> object);
// Null with ERROR_INVALID_HANDLE when the handle is unknown.
std::shared_ptr<HandleObject> FindHandle(HANDLE handle);
// Null with ERROR_INVALID_HANDLE when the handle is unknown.
std::shared_ptr<HandleObject> RemoveHandle(HANDLE handle);

DWORD ErrorFromErrno(int error);

// Device names are three ASCII letters, one character and a colon.
bool IsDeviceName(std::u16string_view name);
std::shared_ptr<TestParallelDevice> FindTestParallelDevice(std::u16string_view name);

// Serial side (comm.cpp): raw mode on open, writes and reads under COMMTIMEOUTS.
bool PrepareSerial(HandleObject& object);
BOOL SerialWrite(HandleObject& object, const BYTE* bytes, DWORD count, LPDWORD written);
BOOL SerialRead(HandleObject& object, BYTE* bytes, DWORD count, LPDWORD read);

// Parallel side (parallel.cpp).
BOOL ParallelWrite(HandleObject& object, const BYTE* bytes, DWORD count, LPDWORD written);

}  // namespace wce::io
