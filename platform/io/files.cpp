// CreateFileW, WriteFile, ReadFile and CloseHandle over ordinary files and devices.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "io_internal.h"
#include "wce/base.h"
#include "wce/registry.h"
#include "wce/text.h"

namespace wce {

namespace io {

bool IsDeviceName(std::u16string_view name) {
    if (name.size() != 5 || name[4] != u':') return false;
    for (size_t i = 0; i < 3; ++i) {
        char16_t c = name[i];
        if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'))) return false;
    }
    return true;
}

}  // namespace io

namespace {

using io::DeviceKind;
using io::HandleObject;

constexpr char16_t kDeviceKey[] = u"Platform\\Devices";

bool HasPrefixNoCase(std::u16string_view name, std::u16string_view prefix) {
    return name.size() >= prefix.size() && WideEqualsNoCase(name.substr(0, prefix.size()), prefix);
}

// The path registered for a device name, or empty.
std::string RegisteredDevicePath(std::u16string_view name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeviceKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return {};
    }
    std::u16string valueName(name);
    DWORD type = 0;
    DWORD size = 0;
    std::string path;
    if (RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 0) {
        std::u16string text(size / 2 + 1, u'\0');
        if (RegQueryValueExW(key, valueName.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(text.data()), &size) == ERROR_SUCCESS) {
            path = WideToUtf8(text.c_str());
        }
    }
    RegCloseKey(key);
    return path;
}

bool PathExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// The Linux device behind COMn: or LPTn:, or empty when the name means nothing.
std::string DevicePath(std::u16string_view name) {
    std::string path = RegisteredDevicePath(name);
    if (!path.empty()) return path;
    char16_t digit = name[3];
    if (digit < u'1' || digit > u'9') return {};
    std::string index(1, char('0' + (digit - u'1')));
    if (HasPrefixNoCase(name, u"COM")) return "/dev/ttyS" + index;
    if (HasPrefixNoCase(name, u"LPT")) {
        std::string usb = "/dev/usb/lp" + index;
        return PathExists(usb) ? usb : "/dev/lp" + index;
    }
    return {};
}

int AccessFlags(DWORD access) {
    bool read = (access & GENERIC_READ) != 0;
    bool write = (access & GENERIC_WRITE) != 0;
    if (read && write) return O_RDWR;
    return write ? O_WRONLY : O_RDONLY;
}

HANDLE Fail(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

HANDLE OpenDevice(std::u16string_view name, DWORD access) {
    auto object = std::make_shared<HandleObject>();
    if (HasPrefixNoCase(name, u"LPT")) {
        if (auto device = io::FindTestParallelDevice(name)) {
            object->kind = DeviceKind::TestParallel;
            object->testDevice = std::move(device);
            return io::InsertHandle(std::move(object));
        }
    }
    object->path = DevicePath(name);
    const std::u16string port(name);
    if (object->path.empty()) {
        NKDbgPrintfW(u"CreateFile: %s names no Linux device\r\n", port.c_str());
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    // Devices are never created, whatever the creation mode says.
    int fd = ::open(object->path.c_str(), AccessFlags(access) | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // The user sees only that the port failed; the log says which device and why
        // (a missing device, or one only the dialout or lp group may open).
        int error = errno;
        NKDbgPrintfW(u"CreateFile: %s is the Linux device %S, which does not open: %S\r\n",
                     port.c_str(), object->path.c_str(), std::strerror(error));
        return Fail(io::ErrorFromErrno(error));
    }
    object->fd.Reset(fd);
    if (HasPrefixNoCase(name, u"COM")) {
        // A name mapped to something other than a tty (a capture file, say) is written
        // as a plain file.
        object->kind = ::isatty(fd) ? DeviceKind::Serial : DeviceKind::File;
        if (object->kind == DeviceKind::Serial && !io::PrepareSerial(*object)) {
            return Fail(io::ErrorFromErrno(errno));
        }
    } else if (HasPrefixNoCase(name, u"LPT")) {
        object->kind = DeviceKind::Parallel;
    } else {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    return io::InsertHandle(std::move(object));
}

int CreationFlags(DWORD disposition) {
    switch (disposition) {
        case CREATE_NEW:
            return O_CREAT | O_EXCL;
        case CREATE_ALWAYS:
            return O_CREAT | O_TRUNC;
        case OPEN_EXISTING:
            return 0;
        case OPEN_ALWAYS:
            return O_CREAT;
        case TRUNCATE_EXISTING:
            return O_TRUNC;
        default:
            return -1;
    }
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD disposition) {
    int creation = CreationFlags(disposition);
    if (creation < 0) return Fail(ERROR_INVALID_PARAMETER);
    bool existed = PathExists(path);
    int fd = ::open(path.c_str(), AccessFlags(access) | creation | O_CLOEXEC, 0644);
    if (fd < 0) {
        int error = errno;
        if (error == ENOENT && disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING) {
            return Fail(ERROR_PATH_NOT_FOUND);
        }
        return Fail(io::ErrorFromErrno(error));
    }
    auto object = std::make_shared<HandleObject>();
    object->fd.Reset(fd);
    object->path = path;
    HANDLE handle = io::InsertHandle(std::move(object));
    // Windows reports an existing file that CREATE_ALWAYS or OPEN_ALWAYS opened.
    bool reportsExisting = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    SetLastError(existed && reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL WriteAll(int fd, const BYTE* bytes, DWORD count, LPDWORD written) {
    DWORD done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (written) *written = done;
            SetLastError(n < 0 ? io::ErrorFromErrno(errno) : ERROR_WRITE_FAULT);
            return FALSE;
        }
        done += DWORD(n);
    }
    if (written) *written = done;
    return TRUE;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD /*shareMode*/, void* /*security*/,
                   DWORD creationDisposition, DWORD /*flagsAndAttributes*/,
                   HANDLE /*templateFile*/) {
    if (!fileName) return Fail(ERROR_INVALID_PARAMETER);
    std::u16string_view name(fileName);
    if (name.empty()) return Fail(ERROR_PATH_NOT_FOUND);
    if (!IsValidWide(name)) return Fail(ERROR_INVALID_NAME);
    if (io::IsDeviceName(name)) return OpenDevice(name, desiredAccess);
    return OpenFile(WideToUtf8(name), desiredAccess, creationDisposition);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, void* /*overlapped*/) {
    if (written) *written = 0;
    std::shared_ptr<HandleObject> object = io::FindHandle(file);
    if (!object) return FALSE;
    if (!buffer && count > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const BYTE* bytes = static_cast<const BYTE*>(buffer);
    switch (object->kind) {
        case DeviceKind::Serial:
            return io::SerialWrite(*object, bytes, count, written);
        case DeviceKind::Parallel:
        case DeviceKind::TestParallel:
            return io::ParallelWrite(*object, bytes, count, written);
        case DeviceKind::File:
            break;
    }
    return WriteAll(object->fd.Get(), bytes, count, written);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, void* /*overlapped*/) {
    if (read) *read = 0;
    std::shared_ptr<HandleObject> object = io::FindHandle(file);
    if (!object) return FALSE;
    if (!buffer && count > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BYTE* bytes = static_cast<BYTE*>(buffer);
    if (object->kind == DeviceKind::Serial) return io::SerialRead(*object, bytes, count, read);
    if (object->kind == DeviceKind::TestParallel) return TRUE;  // the stand-in never answers
    ssize_t n;
    do {
        n = ::read(object->fd.Get(), bytes, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        // A parallel device with nothing to say reads as an empty answer.
        if (errno == EAGAIN) return TRUE;
        SetLastError(io::ErrorFromErrno(errno));
        return FALSE;
    }
    if (read) *read = DWORD(n);
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    return io::RemoveHandle(object) ? TRUE : FALSE;
}

}  // namespace wce
