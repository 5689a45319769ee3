#include "worker.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "worker_protocol.h"

extern char** environ;

// The server's side of a job's worker process.

namespace qxapp {

using namespace wire;

namespace {

// The worker program, beside the server's own (the folder of the program that runs,
// links followed).
std::string WorkerProgram() {
    static const std::string program = [] {
        char self[4096];
        ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        std::string path(self, n > 0 ? size_t(n) : 0);
        return path.substr(0, path.find_last_of('/') + 1) + kWorkerProgram;
    }();
    return program;
}

// A child's death signal follows the thread that forked it, not the process: a worker
// forked by a job's thread would be killed as that job's thread ends, though it is
// kept for the printer's next job. So every worker is forked by one thread that lasts
// as long as the server. The child runs `child` and never returns; -1 when the fork
// failed (errno says why).
pid_t ForkOnLastingThread(const std::function<void()>& child) {
    struct Forker {
        std::mutex lock;
        std::condition_variable wake;
        const std::function<void()>* child = nullptr;
        pid_t pid = 0;
        int error = 0;
        bool done = false;
        std::mutex one;  // one fork at a time
    };
    static Forker* forker = [] {
        auto* f = new Forker;  // the thread outlives static teardown
        std::thread([f] {
            std::unique_lock hold(f->lock);
            for (;;) {
                f->wake.wait(hold, [f] { return f->child && !f->done; });
                pid_t pid = ::fork();
                if (pid == 0) (*f->child)();
                f->pid = pid;
                f->error = errno;
                f->done = true;
                f->wake.notify_all();
            }
        }).detach();
        return f;
    }();
    std::lock_guard single(forker->one);
    std::unique_lock hold(forker->lock);
    forker->child = &child;
    forker->done = false;
    forker->wake.notify_all();
    forker->wake.wait(hold, [] { return forker->done; });
    forker->child = nullptr;
    pid_t pid = forker->pid;
    errno = forker->error;
    return pid;
}

// Starts the worker program with `argument`, `socket` as its descriptor 3 and `env`
// (null-terminated) as its environment; forked on the lasting thread, so it dies with the
// server. Its pid, or -1 (errno says why).
pid_t StartWorkerProgram(const char* argument, int socket, const std::vector<char*>& env) {
    std::string program = WorkerProgram(), word = argument;
    char* argv[] = {program.data(), word.data(), nullptr};
    pid_t parent = ::getpid();
    return ForkOnLastingThread([&] {
        // It holds none of the server's sockets but its own.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(1);
        ::dup2(socket, 3);
        ::syscall(SYS_close_range, 4u, ~0u, 0u);
        ::execve(argv[0], argv, env.data());
        ::_exit(127);
    });
}

// The workers' zygote (worker.h). The server is the subreaper of its descendants: a
// worker forked by the zygote's child, which ends at once, becomes the server's child,
// so its end is told to the server as any worker's is.
class Zygote {
  public:
    // Forks a worker holding `socket` as its descriptor 3 and `copy` as its registry:
    // its pid, or -1 when the zygote cannot. A zygote that failed after taking the socket
    // may have left a worker on it: the caller then starts the worker itself on a socket
    // of its own.
    pid_t Fork(int socket, const std::string& copy, const std::vector<char*>& env) {
        std::lock_guard hold(lock_);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (fd_ < 0 && !Start(env)) return -1;
            bool sent = false;
            pid_t pid = Ask(socket, copy, &sent);
            asked_ = std::chrono::steady_clock::now();
            if (pid > 0) return pid;
            Stop();
            if (sent) return -1;
            // It had gone (idle, say) before taking the socket: a fresh one is asked once.
        }
        return -1;
    }

    // Lets the zygote go once none was asked of it for `idle`; the next worker starts
    // another. True when there is none left.
    bool Release(std::chrono::milliseconds idle) {
        std::lock_guard hold(lock_);
        if (pid_ > 0 && std::chrono::steady_clock::now() - asked_ < idle) return false;
        Stop();
        return true;
    }

  private:
    bool Start(const std::vector<char*>& env) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return false;
        static const bool reaper = ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
        pid_t pid = reaper ? StartWorkerProgram(kZygoteArgument, pair[1], env) : -1;
        ::close(pair[1]);
        if (pid < 0) {
            ::close(pair[0]);
            return false;
        }
        pid_ = pid;
        fd_ = pair[0];
        return true;
    }

    pid_t Ask(int socket, const std::string& copy, bool* sent) {
        iovec part{const_cast<char*>(copy.data()), copy.size()};
        msghdr m{};
        m.msg_iov = &part;
        m.msg_iovlen = 1;
        DescriptorSpace space;
        space.Attach(m, socket);
        if (::sendmsg(fd_, &m, MSG_NOSIGNAL) != ssize_t(copy.size())) return -1;
        *sent = true;
        // A fork takes a millisecond; a zygote that does not answer in seconds is stuck.
        pollfd p{fd_, POLLIN, 0};
        std::int32_t pid = -1;
        if (::poll(&p, 1, 5000) != 1 || ::recv(fd_, &pid, sizeof pid, 0) != ssize_t(sizeof pid))
            return -1;
        return pid;
    }

    void Stop() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
    }

    std::mutex lock_;
    pid_t pid_ = -1;
    int fd_ = -1;
    std::chrono::steady_clock::time_point asked_;
};

Zygote& TheZygote() {
    static Zygote* zygote = new Zygote;  // job threads may outlive static teardown
    return *zygote;
}

struct KeptWorker {
    std::unique_ptr<Worker> worker;
    std::chrono::steady_clock::time_point since;
};

std::chrono::milliseconds KeepTime() {
    static const std::chrono::milliseconds keep = [] {
        const char* ms = std::getenv("QX_APP_KEEP_WORKER_MS");
        char* end = nullptr;
        long n = ms && *ms ? std::strtol(ms, &end, 10) : -1;
        return std::chrono::milliseconds(end && !*end && n >= 0 ? n : kKeepWorkerMs);
    }();
    return keep;
}

// The kept workers by printer, and the thread that lets go of those not taken in time.
struct Keeper {
    std::mutex lock;
    std::condition_variable wake;
    std::map<int, KeptWorker> kept;
    bool sweeping = false;

    // Starts the sweep unless it runs; the caller holds the lock.
    void Watch() {
        if (sweeping) return;
        sweeping = true;
        std::thread([this] { Sweep(); }).detach();
    }

    // Lets kept workers go after their time, then the zygote once nothing was asked of
    // it for three quarters of the time after which it would end by itself, so that it
    // is never left unwaited for.
    void Sweep() {
        std::unique_lock hold(lock);
        for (;;) {
            wake.wait_for(hold, std::chrono::milliseconds(250));
            auto now = std::chrono::steady_clock::now();
            std::vector<std::unique_ptr<Worker>> expired;
            for (auto i = kept.begin(); i != kept.end();) {
                if (now - i->second.since < KeepTime()) {
                    ++i;
                    continue;
                }
                expired.push_back(std::move(i->second.worker));
                i = kept.erase(i);
            }
            const bool none = kept.empty();
            hold.unlock();
            for (auto& w : expired) w->Release();
            // Not under the lock: a zygote being asked for a worker holds its own lock.
            const bool gone =
                none && TheZygote().Release(std::chrono::milliseconds(kZygoteIdleMs * 3 / 4));
            hold.lock();
            if (gone && kept.empty()) break;
        }
        sweeping = false;
        hold.unlock();
        // No worker waits for a next job: what the jobs' pages took of the heap goes
        // back to the system, so a server that has printed is as small idle as a fresh one.
        ::malloc_trim(0);
    }
};

Keeper& TheKeeper() {
    static Keeper* keeper = new Keeper;  // the sweeping thread may outlive static teardown
    return *keeper;
}

}  // namespace

std::unique_ptr<Worker> TakeWorker(int printer, const std::string& registry,
                                   const std::string& copy, std::string* reason) {
    Keeper& k = TheKeeper();
    std::unique_ptr<Worker> worker;
    {
        std::lock_guard hold(k.lock);
        if (auto i = k.kept.find(printer); i != k.kept.end()) {
            worker = std::move(i->second.worker);
            k.kept.erase(i);
        }
    }
    if (worker && worker->Alive()) {
        if (!Worker::CopyRegistry(registry, copy, reason)) return nullptr;
        return worker;
    }
    worker = std::make_unique<Worker>();
    if (!worker->Spawn(registry, copy, reason)) return nullptr;
    return worker;
}

void KeepWorker(int printer, std::unique_ptr<Worker> worker) {
    if (!worker || !worker->Alive() || KeepTime().count() == 0) return;
    Keeper& k = TheKeeper();
    std::unique_ptr<Worker> replaced;
    {
        std::lock_guard hold(k.lock);
        KeptWorker& slot = k.kept[printer];
        replaced = std::move(slot.worker);
        slot = {std::move(worker), std::chrono::steady_clock::now()};
        k.Watch();
    }
    if (replaced) replaced->Release();
}

Worker::~Worker() {
    Kill();
}

// The printer's own copy of the registry, made afresh for each job; a missing one
// starts empty. Written beside and renamed, as the registry itself is.
bool Worker::CopyRegistry(const std::string& registry, const std::string& copy,
                          std::string* reason) {
    std::string dir = copy.substr(0, copy.find_last_of('/') + 1);
    std::string temporary = copy + ".XXXXXX";
    int out = ::mkstemp(temporary.data());
    if (out < 0)
        return *reason = "no room for the job's settings in " + dir + ": " + std::strerror(errno),
               false;
    std::ifstream in(registry, std::ios::binary);
    std::stringstream all;
    if (in) all << in.rdbuf();
    std::string bytes = all.str();
    bool copied = WriteAll(out, bytes.data(), bytes.size(), false);
    copied = ::close(out) == 0 && copied && ::rename(temporary.c_str(), copy.c_str()) == 0;
    if (!copied) {
        ::unlink(temporary.c_str());
        return *reason = "the job's settings cannot be written to " + copy, false;
    }
    return true;
}

bool Worker::Spawn(const std::string& registry, const std::string& copy, std::string* reason) {
    if (!CopyRegistry(registry, copy, reason)) return false;
    std::string program = WorkerProgram();
    if (::access(program.c_str(), X_OK) != 0)
        return *reason = "the job's worker program " + program +
                         " cannot be run: " + std::strerror(errno),
               false;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return *reason = std::string("no worker for the job: ") + std::strerror(errno), false;
    // Everything the child needs is made before the fork: after it, only system calls.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QX_REGISTRY=", 12) != 0 &&
            std::strncmp(*e, "QX_REGISTRY_SCRATCH=", 20) != 0)
            env.emplace_back(*e);
    auto pointers = [&env] {
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        return envp;
    };
    // The zygote's environment has no registry: each worker it forks sets its own.
    pid_t pid = TheZygote().Fork(pair[1], copy, pointers());
    if (pid > 0) {
        // The sweep lets the zygote go once idle, whether or not this worker is kept.
        Keeper& k = TheKeeper();
        std::lock_guard hold(k.lock);
        k.Watch();
    } else {
        // Without a zygote, the worker program is started afresh, on a socket no other
        // process holds.
        ::close(pair[0]);
        ::close(pair[1]);
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            return *reason = std::string("no worker for the job: ") + std::strerror(errno), false;
        env.push_back("QX_REGISTRY=" + copy);
        env.push_back(kScratchRegistry);
        pid = StartWorkerProgram(kWorkerArgument, pair[1], pointers());
    }
    ::close(pair[1]);
    if (pid < 0) {
        ::close(pair[0]);
        return *reason = std::string("no worker for the job: ") + std::strerror(errno), false;
    }
    pid_ = pid;
    fd_ = pair[0];
    return true;
}

std::string Worker::Ended() {
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) {
        pid_ = -1;
        if (WIFSIGNALED(status))
            return "the job's worker process was ended by signal " +
                   std::to_string(WTERMSIG(status));
        return "the job's worker process ended with status " + std::to_string(WEXITSTATUS(status));
    }
    return "the job's worker process is gone";
}

// Once told to stop, the worker has 0.8 s to finish what it does (the page in the port,
// say, so that the printer is not left inside a command); then it is killed, so that a
// cancel takes effect within a second. One patience lasts a whole request, whatever it
// waits for.
class Worker::Patience {
  public:
    explicit Patience(const StopCheck& stop) : stop_(stop) {}
    // Whether to give up now; false while the worker may go on.
    bool Over() {
        if (!deadline_ && stop_ && stop_())
            deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
        return deadline_ && std::chrono::steady_clock::now() >= *deadline_;
    }

  private:
    const StopCheck& stop_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
};

// Waits until the socket is ready for `events`, looking at the job's state every 0.1 s.
bool Worker::WaitFor(short events, Patience& patience, std::string* reason) {
    if (fd_ < 0) return *reason = "the job has no worker process", false;
    for (;;) {
        pollfd p{fd_, events, 0};
        int n = ::poll(&p, 1, 100);
        if (n < 0 && errno != EINTR) return *reason = std::strerror(errno), false;
        if (n > 0) return true;
        if (patience.Over()) {
            Kill();
            *reason = "stopped";
            return false;
        }
    }
}

// Writes a whole message without blocking the job's thread beyond its patience: a
// worker busy with the page before (a slow serial port, say) reads the next one only
// once it is done. The body is `head` and then `size` bytes at `data`, not copied.
bool Worker::Post(char op, const std::string& head, const void* data, size_t size,
                  Patience& patience, std::string* reason, int pass) {
    if (fd_ < 0) return *reason = "the job has no worker process", false;
    std::uint32_t n = std::uint32_t(head.size() + size);
    char frame[5] = {op, char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
    iovec parts[3] = {{frame, sizeof frame},
                      {const_cast<char*>(head.data()), head.size()},
                      {const_cast<void*>(data), size}};
    iovec* part = parts;
    int left = 3;
    while (left > 0) {
        if (part->iov_len == 0) {
            ++part, --left;
            continue;
        }
        msghdr m{};
        m.msg_iov = part;
        m.msg_iovlen = size_t(left);
        // The descriptor goes with the message's first bytes.
        DescriptorSpace space;
        space.Attach(m, pass);
        ssize_t sent = ::sendmsg(fd_, &m, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) pass = -1;
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(POLLOUT, patience, reason)) return false;
            continue;
        }
        if (sent <= 0) return *reason = Ended(), false;
        for (size_t done = size_t(sent); done > 0;) {
            size_t take = std::min(done, part->iov_len);
            part->iov_base = static_cast<char*>(part->iov_base) + take;
            part->iov_len -= take;
            done -= take;
            if (part->iov_len == 0) ++part, --left;
        }
    }
    ++pending_;
    return true;
}

// Reads the answer to the oldest request sent. A failure's reason is kept: the first
// one is the job's.
bool Worker::Await(Patience& patience, std::string* reason) {
    if (!WaitFor(POLLIN, patience, reason)) return false;
    char answer = 0;
    std::string text;
    if (!Receive(fd_, &answer, &text)) {
        pending_ = 0;  // no answer is coming
        return *reason = Ended(), false;
    }
    --pending_;
    if (answer == '+') {
        answer_ = text;
        return true;
    }
    *reason = text;
    return false;
}

// Reads the answers to every request sent before, down to `most` outstanding; fails
// with the first failure among them.
bool Worker::Settle(size_t most, Patience& patience, std::string* reason) {
    bool ok = true;
    std::string first;
    while (pending_ > most) {
        std::string why;
        if (!Await(patience, &why)) {
            if (ok) first = why;
            ok = false;
        }
    }
    if (!ok) *reason = first;
    return ok;
}

bool Worker::Call(char op, const std::string& body, const StopCheck& stop, std::string* reason) {
    Patience patience(stop);
    return Settle(0, patience, reason) && Post(op, body, nullptr, 0, patience, reason) &&
           Await(patience, reason);
}

// A page's requests go without waiting for their answers: the worker draws and sends
// one page while the job's thread reads the next from the client. At most two stay
// unanswered, and a failure among them fails the request after.
bool Worker::Pipeline(char op, const std::string& head, const void* data, size_t size,
                      const StopCheck& stop, std::string* reason, int pass) {
    Patience patience(stop);
    return Settle(1, patience, reason) && Post(op, head, data, size, patience, reason, pass);
}

bool Worker::CheckImage(const std::string& path, const StopCheck& stop, std::string* reason) {
    return Call('C', path, stop, reason);
}

bool Worker::StartDocument(const std::string& port, const JobSettings& settings,
                           const std::string& name, const StopCheck& stop, std::string* reason) {
    return Pipeline('S', EncodeSettings(port, settings, name), nullptr, 0, stop, reason);
}

bool Worker::StartPage(const StopCheck& stop, std::string* reason) {
    return Pipeline('P', {}, nullptr, 0, stop, reason);
}

bool Worker::PrintDocument(const std::string& path, const std::string& format,
                           const StopCheck& stop, std::string* reason, int* pages) {
    std::string body;
    PutText(body, format);
    PutText(body, path);
    if (!Call('F', body, stop, reason)) return false;
    *pages = std::atoi(answer_.c_str());
    return true;
}

// A page's room is taken when the page starts. By then the page two before it is
// answered (a page's request waits for all but one of those before it, and the next
// page's start comes after it), so its memory is free to fill again. A page larger than
// its memory gets new memory, sealed at its size, so that the worker's view of it can
// never shrink under it.
std::uint8_t* Worker::PageRoom(size_t size, std::string* reason) {
    page_ ^= 1;
    SharedPage& p = pages_[page_];
    if (p.size >= size) return p.at;
    p.Drop();
    const size_t room = (size + 0xFFFF) & ~size_t(0xFFFF);
    int fd = ::memfd_create("qx-page", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    void* at = MAP_FAILED;
    if (fd >= 0 && ::ftruncate(fd, off_t(room)) == 0 &&
        ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0)
        at = ::mmap(nullptr, room, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (at == MAP_FAILED) {
        *reason =
            "no memory for a page of " + std::to_string(size) + " bytes: " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    p = SharedPage{fd, static_cast<std::uint8_t*>(at), room, false};
    return p.at;
}

bool Worker::EndPage(int width, int height, int left, const StopCheck& stop, std::string* reason) {
    SharedPage& p = pages_[page_];
    std::string head;
    PutInt(head, width);
    PutInt(head, height);
    PutInt(head, left);
    PutInt(head, page_);
    if (!Pipeline('G', head, nullptr, 0, stop, reason, p.told ? -1 : p.fd)) return false;
    p.told = true;
    return true;
}

void Worker::SharedPage::Drop() {
    if (at) ::munmap(at, size);
    if (fd >= 0) ::close(fd);
    *this = SharedPage{};
}

void Worker::DropPages() {
    for (SharedPage& p : pages_) p.Drop();
}

bool Worker::Finish(bool cancelled, const StopCheck& stop, std::string* reason) {
    // An abort that does not come back within 0.8 s is forced.
    const StopCheck always = [] { return true; };
    bool ok = Call(cancelled ? 'A' : 'E', {}, cancelled ? always : stop, reason);
    // The worker has let go of the pages' memory too.
    DropPages();
    return ok;
}

// The image manager's work takes at most a few minutes (its link gives up a stalled
// block after half a minute).
bool Worker::MakeLogo(const std::string& from, const std::string& to, std::string* reason) {
    std::string body;
    PutText(body, from);
    PutText(body, to);
    return Call('M', body, LogoDeadline(), reason);
}

bool Worker::SendLogos(const std::string& port, const std::string& device,
                       const std::vector<std::string>& files, std::string* reason) {
    std::string body;
    PutText(body, port);
    PutText(body, device);
    for (const std::string& f : files) PutText(body, f);
    return Call('N', body, LogoDeadline(), reason);
}

bool Worker::LogoCommand(char what, const std::string& port, const std::string& device,
                         std::string* reason) {
    std::string body;
    PutText(body, port);
    PutText(body, device);
    return Call(what, body, LogoDeadline(), reason);
}

Worker::StopCheck Worker::LogoDeadline() {
    auto until = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    return [until] { return std::chrono::steady_clock::now() > until; };
}

bool Worker::Alive() {
    int status = 0;
    return pid_ > 0 && fd_ >= 0 && ::waitpid(pid_, &status, WNOHANG) == 0;
}

void Worker::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_ = 0;
    for (int i = 0; i < 100 && pid_ > 0; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_)
            pid_ = -1;
        else
            ::usleep(10000);
    }
    Kill();
}

void Worker::Kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    pending_ = 0;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    DropPages();
}

}  // namespace qxapp
