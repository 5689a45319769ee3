// The handle table: opaque HANDLE values mapped to the objects behind them.
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "io_internal.h"
#include "wce/base.h"

namespace wce::io {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

UniqueFd::~UniqueFd() {
    Reset();
}

int UniqueFd::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

namespace {

struct HandleTable {
    std::mutex lock;
    std::map<ULONG_PTR, std::shared_ptr<HandleObject>> objects;
    // Values start well above the small numbers callers use as markers and step by 4,
    // as Windows handles do.
    ULONG_PTR next = 0x1000;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // outlives every static destructor
    return *table;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<HandleObject> object) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    ULONG_PTR value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<HandleObject> FindHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    auto it = table.objects.find(reinterpret_cast<ULONG_PTR>(handle));
    if (it == table.objects.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

std::shared_ptr<HandleObject> RemoveHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    auto it = table.objects.find(reinterpret_cast<ULONG_PTR>(handle));
    if (it == table.objects.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::shared_ptr<HandleObject> object = std::move(it->second);
    table.objects.erase(it);
    return object;
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EBUSY:
            return ERROR_SHARING_VIOLATION;
        case ENAMETOOLONG:
            return ERROR_INVALID_NAME;
        case ENOTTY:
        case EINVAL:
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        case ENOSPC:
        case EIO:
            return ERROR_WRITE_FAULT;
        case ETIMEDOUT:
            return ERROR_TIMEOUT;
        default:
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace wce::io
