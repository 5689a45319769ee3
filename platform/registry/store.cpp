#include "store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "wce/base.h"
#include "wce/registry.h"
#include "wce/text.h"

namespace wce {

std::string RegistryFilePath() {
    if (const char* p = std::getenv("QX_REGISTRY"); p && *p) return std::string(p);
    std::string base(".");
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) base = std::string(x);
    else if (const char* h = std::getenv("HOME"); h && *h) base = std::string(h) + "/.config";
    return base + "/qx/registry.reg";
}

namespace reg {

namespace {

struct Signature {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{}, ctime{};
    bool operator==(const Signature& o) const {
        return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
               mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
               ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

struct Cache {
    std::mutex lock;  // one thread at a time in the store
    std::string path;
    bool valid = false;
    Signature sig;
    Hive hive;
    LONG state = ERROR_SUCCESS;  // ERROR_BADDB or ERROR_CANTREAD while the file is unusable
};

Cache& TheCache() {
    static Cache cache;
    return cache;
}

Signature Stat(const std::string& path) {
    Signature s;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        s.exists = true;
        s.dev = st.st_dev;
        s.ino = st.st_ino;
        s.size = st.st_size;
        s.mtime = st.st_mtim;
        s.ctime = st.st_ctim;
    }
    return s;
}

bool ReadWhole(const std::string& path, std::string& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return n == 0;
        }
        out.append(buf, size_t(n));
    }
}

// Brings the cache up to date with the file; the caller holds cache.lock.
void Refresh(Cache& c) {
    std::string path = RegistryFilePath();
    if (path != c.path) {
        c.path = path;
        c.valid = false;
    }
    Signature sig = Stat(path);
    if (c.valid && sig == c.sig) return;
    c.sig = sig;
    c.valid = true;
    c.hive.keys.clear();
    c.state = ERROR_SUCCESS;
    if (!sig.exists) return;
    std::string text;
    if (!ReadWhole(path, text)) {
        c.state = ERROR_CANTREAD;
        NKDbgPrintfW(u"registry: cannot read %S: %S\r\n", path.c_str(), std::strerror(errno));
        return;
    }
    ParseError err;
    if (!ParseHive(text, c.hive, err)) {
        c.state = ERROR_BADDB;
        c.hive.keys.clear();
        NKDbgPrintfW(u"registry: %S line %d: %S; the file is left as it is\r\n", path.c_str(),
                     err.line, err.message.c_str());
    }
}

std::string Folder(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

void MakeFolders(const std::string& folder) {
    for (size_t i = 1; i <= folder.size(); ++i)
        if (i == folder.size() || folder[i] == '/') ::mkdir(folder.substr(0, i).c_str(), 0755);
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// Writes a temporary file beside the registry, syncs it and renames it over the file,
// so a reader or a writer killed half-way never leaves half a file behind.
LONG Replace(const std::string& path, const std::string& text) {
    std::string tmp = path + ".tmp." + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return ERROR_CANTWRITE;
    bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        NKDbgPrintfW(u"registry: cannot write %S: %S\r\n", path.c_str(), std::strerror(errno));
        ::unlink(tmp.c_str());
        return ERROR_CANTWRITE;
    }
    int dir = ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return ERROR_SUCCESS;
}

class FileLock {
public:
    explicit FileLock(const std::string& path) {
        MakeFolders(Folder(path));
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace

LONG ReadHive(const std::function<LONG(Hive&)>& fn) {
    Cache& c = TheCache();
    std::lock_guard guard(c.lock);
    Refresh(c);
    if (c.state != ERROR_SUCCESS) return c.state;
    return fn(c.hive);
}

LONG WriteHive(const std::function<LONG(Hive&, bool&)>& fn) {
    Cache& c = TheCache();
    std::lock_guard guard(c.lock);
    std::string path = RegistryFilePath();
    FileLock fileLock(path);
    if (!fileLock.held()) return ERROR_CANTWRITE;
    Refresh(c);
    if (c.state != ERROR_SUCCESS) return c.state;
    Hive work = c.hive;
    bool changed = false;
    LONG result = fn(work, changed);
    if (result != ERROR_SUCCESS || !changed) return result;
    result = Replace(path, SerializeHive(work));
    if (result == ERROR_SUCCESS) {
        c.hive = std::move(work);
        c.sig = Stat(path);
    } else {
        c.valid = false;
    }
    return result;
}

}  // namespace reg
}  // namespace wce
