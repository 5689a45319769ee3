#include "store.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "wce/base.h"
#include "wce/registry.h"
#include "wce/text.h"

namespace wce {

std::string RegistryFilePath() {
    if (const char* p = std::getenv("QX_REGISTRY"); p && *p) return std::string(p);
    std::string base(".");
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        base = std::string(x);
    else if (const char* h = std::getenv("HOME"); h && *h)
        base = std::string(h) + "/.config";
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
    // A scratch registry's writes not yet in the file. A file changed meanwhile (the next
    // job's fresh copy) replaces them.
    bool unsaved = false;
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
    c.unsaved = false;
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

// Where a write has to land: a symbolic link is followed to its target, so that the
// target gets the new content and the link stays a link. Empty for a loop of links.
std::string WriteTarget(const std::string& path) {
    std::string at = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
        std::string link(size_t(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        ssize_t n = ::readlink(at.c_str(), link.data(), link.size());
        if (n <= 0 || size_t(n) >= link.size()) return at;
        link.resize(size_t(n));
        at = link[0] == '/' ? link : Folder(at) + "/" + link;
    }
    return {};
}

constexpr std::string_view kTmpMark = ".tmp.";

// Temporary files of writers killed half-way. Only a writer holding the lock makes
// one, so under the lock every one whose process is gone is left over.
void RemoveStaleTemporaries(const std::string& target) {
    std::string folder = Folder(target);
    std::string prefix = target.substr(target.rfind('/') + 1) + std::string(kTmpMark);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        std::string_view name(entry->d_name);
        if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) continue;
        std::string_view digits = name.substr(prefix.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos)
            continue;
        pid_t pid = static_cast<pid_t>(std::stol(std::string(digits)));
        if (pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
        std::string stale = folder + "/" + std::string(name);
        if (::unlink(stale.c_str()) == 0)
            NKDbgPrintfW(u"registry: removed %S, left by a writer that ended half-way\r\n",
                         stale.c_str());
    }
    ::closedir(dir);
}

// The new file gets the old one's owner and mode; a new file the process defaults.
void KeepOwnerAndMode(int fd, const std::string& target) {
    struct stat st;
    if (::stat(target.c_str(), &st) != 0) return;
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
        // Only root may give a file away; others keep at least its group where they can.
        [[maybe_unused]] int ignored = ::fchown(fd, uid_t(-1), st.st_gid);
    }
    ::fchmod(fd, st.st_mode & 07777);
}

// A registry file made afresh for each print job (QX_REGISTRY_SCRATCH set) needs no
// trip to the disk: a job writes a dozen values, and syncing each write cost the job
// more than its page. Its writes are also kept in memory until RegFlushKey, which
// writes them all at once.
bool SyncWrites() {
    const char* scratch = std::getenv("QX_REGISTRY_SCRATCH");
    return !scratch || !*scratch || std::string_view(scratch) == "0";
}

// Writes a temporary file beside the registry, syncs it and renames it over the file,
// so a reader or a writer killed half-way never leaves half a file behind.
LONG Replace(const std::string& path, const std::string& text) {
    std::string target = WriteTarget(path);
    if (target.empty()) return ERROR_CANTWRITE;
    std::string tmp = target + std::string(kTmpMark) + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        NKDbgPrintfW(u"registry: cannot write %S: %S\r\n", tmp.c_str(), std::strerror(errno));
        return ERROR_CANTWRITE;
    }
    KeepOwnerAndMode(fd, target);
    const bool sync = SyncWrites();
    bool ok = WriteAll(fd, text) && (!sync || ::fsync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(tmp.c_str(), target.c_str()) != 0) {
        NKDbgPrintfW(u"registry: cannot write %S: %S\r\n", target.c_str(), std::strerror(errno));
        ::unlink(tmp.c_str());
        return ERROR_CANTWRITE;
    }
    int dir = sync ? ::open(Folder(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return ERROR_SUCCESS;
}

// The rename would replace a file its owner made read-only, or one the user may not
// write, as long as the folder is writable: such a file is refused instead. A file
// without any write bit is read-only on purpose, even to root.
LONG CheckWritable(const std::string& target) {
    struct stat st;
    if (::stat(target.c_str(), &st) != 0) return ERROR_SUCCESS;  // a new file
    bool writable = (st.st_mode & 0222) != 0 && ::access(target.c_str(), W_OK) == 0;
    if (writable) return ERROR_SUCCESS;
    NKDbgPrintfW(u"registry: cannot write %S: the file is read-only for this user\r\n",
                 target.c_str());
    return ERROR_ACCESS_DENIED;
}

// How long a writer waits for another process to let go of the lock. A holder that
// hangs must not freeze every settings program, while one that keeps writing must not
// make the others fail: each holder stamps the lock file, and a new stamp starts the
// wait again. Readers never wait.
constexpr auto kLockWait = std::chrono::seconds(3);
constexpr int kLockPollMs = 50;  // in case the release cannot be watched

class FileLock {
  public:
    explicit FileLock(const std::string& target) : path_(target + ".lock") {
        MakeFolders(Folder(target));
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            NKDbgPrintfW(u"registry: cannot open %S: %S\r\n", path_.c_str(), std::strerror(errno));
            error_ = ERROR_CANTWRITE;
            return;
        }
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) Wait(target);
        if (error_ != ERROR_SUCCESS) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        Stamp();
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    LONG error() const { return error_; }

  private:
    // "pid count": who holds the lock now, and which of its writes this is.
    void Stamp() {
        static std::atomic<unsigned long> writes{0};
        std::string stamp = std::to_string(::getpid()) + " " + std::to_string(++writes) + "\n";
        if (::pwrite(fd_, stamp.data(), stamp.size(), 0) == ssize_t(stamp.size())) {
            [[maybe_unused]] int ignored = ::ftruncate(fd_, off_t(stamp.size()));
        }
    }
    std::string ReadStamp() const {
        char text[64];
        ssize_t n = ::pread(fd_, text, sizeof text - 1, 0);
        return std::string(text, n > 0 ? size_t(n) : 0);
    }

    // A holder releases the lock by closing the lock file, which inotify reports.
    void Wait(const std::string& target) {
        int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (watch >= 0 && ::inotify_add_watch(watch, path_.c_str(), IN_CLOSE_WRITE) < 0) {
            ::close(watch);
            watch = -1;
        }
        std::string stamp = ReadStamp();
        auto deadline = std::chrono::steady_clock::now() + kLockWait;
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                NKDbgPrintfW(u"registry: cannot lock %S: %S\r\n", path_.c_str(),
                             std::strerror(errno));
                error_ = ERROR_CANTWRITE;
                break;
            }
            auto now = std::chrono::steady_clock::now();
            if (std::string again = ReadStamp(); again != stamp) {
                stamp = again;
                deadline = now + kLockWait;
            }
            if (now >= deadline) {
                NKDbgPrintfW(
                    u"registry: cannot write %S: another program has held %S for more "
                    u"than %d s\r\n",
                    target.c_str(), path_.c_str(), int(kLockWait.count()));
                error_ = ERROR_TIMEOUT;
                break;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
            pollfd p{watch, POLLIN, 0};
            int ms = std::min<int>(kLockPollMs, int(left.count()) + 1);
            if (::poll(&p, watch >= 0 ? 1 : 0, ms) > 0) {
                char events[4096];
                while (::read(watch, events, sizeof events) > 0) {
                }
            }
        }
        if (watch >= 0) ::close(watch);
    }

    std::string path_;
    int fd_ = -1;
    LONG error_ = ERROR_SUCCESS;
};

}  // namespace

LONG ReadHive(const std::function<LONG(Hive&)>& fn) {
    Cache& c = TheCache();
    std::lock_guard guard(c.lock);
    Refresh(c);
    if (c.state != ERROR_SUCCESS) return c.state;
    return fn(c.hive);
}

namespace {

// Runs fn on a copy of the cache brought up to date; the caller holds cache.lock.
LONG Change(Cache& c, const std::function<LONG(Hive&, bool&)>& fn, Hive& work, bool& changed) {
    Refresh(c);
    if (c.state != ERROR_SUCCESS) return c.state;
    work = c.hive;
    changed = false;
    return fn(work, changed);
}

// Writes the cache's content, or what fn makes of it, over the file; the caller holds
// cache.lock.
LONG WriteFile(Cache& c, const std::function<LONG(Hive&, bool&)>& fn) {
    std::string path = RegistryFilePath();
    std::string target = WriteTarget(path);
    if (target.empty()) {
        NKDbgPrintfW(u"registry: cannot write %S: its symbolic links go round in a loop\r\n",
                     path.c_str());
        return ERROR_CANTWRITE;
    }
    if (LONG refused = CheckWritable(target)) return refused;
    FileLock fileLock(target);
    if (fileLock.error() != ERROR_SUCCESS) return fileLock.error();
    RemoveStaleTemporaries(target);
    if (target != path) RemoveStaleTemporaries(path);  // where earlier writers put them
    Hive work;
    bool changed = false;
    LONG result = Change(c, fn, work, changed);
    if (result != ERROR_SUCCESS || !changed) return result;
    result = Replace(path, SerializeHive(work));
    if (result == ERROR_SUCCESS) {
        c.hive = std::move(work);
        c.sig = Stat(path);
        c.unsaved = false;
    } else {
        c.valid = false;
    }
    return result;
}

}  // namespace

LONG WriteHive(const std::function<LONG(Hive&, bool&)>& fn) {
    Cache& c = TheCache();
    std::lock_guard guard(c.lock);
    if (SyncWrites()) return WriteFile(c, fn);
    Hive work;
    bool changed = false;
    LONG result = Change(c, fn, work, changed);
    if (result != ERROR_SUCCESS || !changed) return result;
    c.hive = std::move(work);
    c.unsaved = true;
    return result;
}

LONG FlushHive() {
    Cache& c = TheCache();
    std::lock_guard guard(c.lock);
    Refresh(c);
    if (c.state != ERROR_SUCCESS) return c.state;
    if (!c.unsaved) return ERROR_SUCCESS;
    return WriteFile(c, [](Hive&, bool& changed) {
        changed = true;
        return ERROR_SUCCESS;
    });
}

}  // namespace reg
}  // namespace wce
