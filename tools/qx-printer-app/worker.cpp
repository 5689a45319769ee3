#include "worker.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "documents.h"
#include "engine_job.h"
#include "logos.h"
#include "test_page_job.h"
#include "wce/base.h"
#include "wce/gdi.h"
#include "wce/text.h"

extern char** environ;

namespace qxapp {

namespace {

// A message: its operation, the length of its body (4 bytes, little-endian), the body.
// The answer is the same with the operation '+' (done) or '-' (failed, the body says why).
// On a socket the peer's end is no reason to die of SIGPIPE; a file is written plainly.
bool WriteAll(int fd, const void* data, size_t size, bool socket = true) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = socket ? ::send(fd, p, size, MSG_NOSIGNAL) : ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool Send(int fd, char op, const std::string& body) {
    std::uint32_t n = std::uint32_t(body.size());
    char head[5] = {op, char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
    return WriteAll(fd, head, sizeof head) && WriteAll(fd, body.data(), body.size());
}

// Pages are at most a few megabytes; anything longer is not from our server.
constexpr std::uint32_t kMaxMessage = 64u << 20;

bool Receive(int fd, char* op, std::string* body) {
    unsigned char head[5];
    if (!ReadAll(fd, head, sizeof head)) return false;
    std::uint32_t n = head[1] | head[2] << 8 | head[3] << 16 | std::uint32_t(head[4]) << 24;
    if (n > kMaxMessage) return false;
    *op = char(head[0]);
    body->resize(n);
    return ReadAll(fd, body->data(), n);
}

void PutInt(std::string& out, std::int32_t v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); }

// Reads what PutInt and PutText wrote, in order; false once the body runs short.
class Reader {
public:
    explicit Reader(const std::string& body) : body_(body) {}
    bool Int(std::int32_t* v) {
        if (at_ + sizeof *v > body_.size()) return false;
        std::memcpy(v, body_.data() + at_, sizeof *v);
        at_ += sizeof *v;
        return true;
    }
    bool Text(std::string* text) {
        std::int32_t n = 0;
        if (!Int(&n) || n < 0 || size_t(n) > body_.size() - at_) return false;
        text->assign(body_, at_, size_t(n));
        at_ += size_t(n);
        return true;
    }
    const char* Rest(size_t* size) const {
        *size = body_.size() - at_;
        return body_.data() + at_;
    }

private:
    const std::string& body_;
    size_t at_ = 0;
};

void PutText(std::string& out, const std::string& text) {
    PutInt(out, std::int32_t(text.size()));
    out += text;
}

std::string EncodeSettings(const std::string& port, const JobSettings& s, const std::string& name) {
    std::string body;
    PutText(body, port);
    PutText(body, name);
    PutInt(body, s.model == &ModelB() ? 1 : 0);
    for (int v : {s.copies, s.emulation, s.paperSize, s.widthMm, s.paperHeight, s.rotation, s.printingLength,
                  s.startLogo, s.endLogo, s.backFeed})
        PutInt(body, v);
    PutText(body, s.startText);
    PutText(body, s.endText);
    PutText(body, s.portDevice);
    return body;
}

bool DecodeSettings(const std::string& body, std::string* port, JobSettings* s, std::string* name) {
    Reader r(body);
    std::int32_t model = 0;
    std::int32_t v[10];
    if (!r.Text(port) || !r.Text(name) || !r.Int(&model)) return false;
    for (std::int32_t& x : v)
        if (!r.Int(&x)) return false;
    s->model = model == 1 ? &ModelB() : &ModelA();
    s->copies = v[0], s->emulation = v[1], s->paperSize = v[2], s->widthMm = v[3];
    s->paperHeight = v[4], s->rotation = v[5], s->printingLength = v[6];
    s->startLogo = v[7], s->endLogo = v[8], s->backFeed = v[9];
    return r.Text(&s->startText) && r.Text(&s->endText) && r.Text(&s->portDevice);
}

// The words qx-print uses for a file its loader refuses.
std::string ImageFailure(wce::DWORD error) {
    if (error == 1392) return "the image is damaged (the file is cut short or corrupt)";
    if (error == wce::ERROR_NOT_ENOUGH_MEMORY) return "the image is too large to load; scale it down first";
    return "the image is damaged or of a kind that cannot be read";
}

// ---- the worker's side ----

struct WorkerState {
    std::unique_ptr<EngineJob> job;
    JobSettings settings;
    std::string workDir;
};

bool Serve(WorkerState& w, char op, const std::string& body, std::string* reason) {
    switch (op) {
    case 'C': {
        wce::HBITMAP bitmap = wce::SHLoadDIBitmap(wce::Utf8ToWide(body).c_str());
        if (!bitmap) {
            *reason = ImageFailure(wce::GetLastError());
            return false;
        }
        wce::DeleteObject(bitmap);
        return true;
    }
    case 'S': {
        std::string port, name;
        JobSettings settings;
        if (!DecodeSettings(body, &port, &settings, &name)) return *reason = "a garbled start of a job", false;
        w.settings = settings;
        w.job.reset();  // a document left open by the last job of this worker
        w.job = EngineJob::Start(port, settings, name, w.workDir, reason);
        return w.job != nullptr;
    }
    case 'P':
        if (!w.job) return *reason = "no document was started", false;
        return w.job->StartPage(reason);
    case 'D': {
        Reader r(body);
        std::int32_t width = 0, height = 0, left = 0;
        size_t size = 0;
        if (!w.job || !r.Int(&width) || !r.Int(&height) || !r.Int(&left)) return *reason = "a garbled page", false;
        const char* data = r.Rest(&size);
        if (width <= 0 || height <= 0 || size != size_t(width) * size_t(height))
            return *reason = "a garbled page", false;
        std::vector<std::uint8_t> grey(data, data + size);
        return w.job->EndPage(grey, width, height, left, reason);
    }
    case 'F': {
        Reader r(body);
        std::string format, path;
        if (!w.job || !r.Text(&format) || !r.Text(&path)) return *reason = "a garbled document", false;
        int before = w.job->pages();
        bool ok = format == kTestPageFormat ? PrintTestPage(*w.job, w.settings, reason)
                                            : PrintDocument(*w.job, path, format, reason);
        if (ok) *reason = std::to_string(w.job->pages() - before);  // the pages, for the job's count
        return ok;
    }
    case 'M': {
        Reader r(body);
        std::string from, to;
        if (!r.Text(&from) || !r.Text(&to)) return *reason = "a garbled logo", false;
        return MakeLogo(from, to, reason);
    }
    case 'N':
    case 'O':
    case 'X': {
        Reader r(body);
        std::string port, device, file;
        std::vector<std::string> files;
        if (!r.Text(&port) || !r.Text(&device)) return *reason = "a garbled request", false;
        while (r.Text(&file)) files.push_back(file);
        return op == 'N' ? SendLogos(port, device, files, reason) : LogoCommand(op, port, device, reason);
    }
    case 'E':
    case 'A': {
        if (!w.job) return true;
        bool ok = w.job->Finish(op == 'A', reason);
        w.job.reset();
        return ok;
    }
    default:
        *reason = "an unknown request";
        return false;
    }
}

}  // namespace

int WorkerMain(int fd) {
    WorkerState w;
    CatchMessageBoxes();
    const char* dir = std::getenv("QX_APP_WORK_DIR");
    w.workDir = dir && *dir ? dir : "/tmp";
    char op = 0;
    std::string body;
    while (Receive(fd, &op, &body)) {
        std::string reason;
        bool ok = Serve(w, op, body, &reason);
        if (!Send(fd, ok ? '+' : '-', reason)) return 1;
    }
    // A server that went away leaves an open document: it is aborted, not ended.
    w.job.reset();
    return 0;
}

// ---- the server's side ----

namespace {

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

struct KeptWorker {
    std::unique_ptr<Worker> worker;
    std::chrono::steady_clock::time_point since;
};

// The kept workers by printer, and the thread that lets go of those not taken in time.
struct Keeper {
    std::mutex lock;
    std::condition_variable wake;
    std::map<int, KeptWorker> kept;
    bool sweeping = false;

    void Sweep() {
        std::unique_lock hold(lock);
        while (!kept.empty()) {
            wake.wait_for(hold, std::chrono::milliseconds(250));
            auto now = std::chrono::steady_clock::now();
            std::vector<std::unique_ptr<Worker>> expired;
            for (auto i = kept.begin(); i != kept.end();) {
                if (now - i->second.since < std::chrono::milliseconds(kKeepWorkerMs)) {
                    ++i;
                    continue;
                }
                expired.push_back(std::move(i->second.worker));
                i = kept.erase(i);
            }
            hold.unlock();
            for (auto& w : expired) w->Release();
            hold.lock();
        }
        sweeping = false;
    }
};

Keeper& TheKeeper() {
    static Keeper* keeper = new Keeper;  // the sweeping thread may outlive static teardown
    return *keeper;
}

}  // namespace

std::unique_ptr<Worker> TakeWorker(int printer, const std::string& registry, const std::string& copy,
                                   std::string* reason) {
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
    if (!worker || !worker->Alive()) return;
    Keeper& k = TheKeeper();
    std::unique_ptr<Worker> replaced;
    {
        std::lock_guard hold(k.lock);
        KeptWorker& slot = k.kept[printer];
        replaced = std::move(slot.worker);
        slot = {std::move(worker), std::chrono::steady_clock::now()};
        if (!k.sweeping) {
            k.sweeping = true;
            std::thread([&k] { k.Sweep(); }).detach();
        }
    }
    if (replaced) replaced->Release();
}

Worker::~Worker() { Kill(); }

// The printer's own copy of the registry, made afresh for each job; a missing one
// starts empty. Written beside and renamed, as the registry itself is.
bool Worker::CopyRegistry(const std::string& registry, const std::string& copy, std::string* reason) {
    std::string dir = copy.substr(0, copy.find_last_of('/') + 1);
    std::string temporary = copy + ".XXXXXX";
    int out = ::mkstemp(temporary.data());
    if (out < 0) return *reason = "no room for the job's settings in " + dir + ": " + std::strerror(errno), false;
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
    std::string dir = copy.substr(0, copy.find_last_of('/') + 1);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return *reason = std::string("no worker for the job: ") + std::strerror(errno), false;
    // Everything the child needs is made before the fork: after it, only system calls.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QX_REGISTRY=", 12) != 0 && std::strncmp(*e, "QX_APP_WORK_DIR=", 16) != 0 &&
            std::strncmp(*e, "QX_REGISTRY_SCRATCH=", 20) != 0)
            env.emplace_back(*e);
    env.push_back("QX_REGISTRY=" + copy);
    // The copy is the job's scratch: its writes need not be synced to the disk.
    env.push_back("QX_REGISTRY_SCRATCH=1");
    env.push_back("QX_APP_WORK_DIR=" + (dir.empty() ? std::string(".") : dir));
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char exe[] = "/proc/self/exe";
    std::string argument = kWorkerArgument;
    char* argv[] = {exe, argument.data(), nullptr};
    pid_t parent = ::getpid();

    pid_t pid = ForkOnLastingThread([&] {
        // The worker dies with the server, and holds none of its sockets.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(1);
        ::dup2(pair[1], 3);
        ::syscall(SYS_close_range, 4u, ~0u, 0u);
        ::execve(exe, argv, envp.data());
        ::_exit(127);
    });
    if (pid < 0) {
        ::close(pair[0]);
        ::close(pair[1]);
        return *reason = std::string("no worker for the job: ") + std::strerror(errno), false;
    }
    ::close(pair[1]);
    pid_ = pid;
    fd_ = pair[0];
    return true;
}

std::string Worker::Ended() {
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) {
        pid_ = -1;
        if (WIFSIGNALED(status))
            return "the job's worker process was ended by signal " + std::to_string(WTERMSIG(status));
        return "the job's worker process ended with status " + std::to_string(WEXITSTATUS(status));
    }
    return "the job's worker process is gone";
}

bool Worker::Call(char op, const std::string& body, const StopCheck& stop, std::string* reason) {
    if (fd_ < 0) return *reason = "the job has no worker process", false;
    if (!Send(fd_, op, body)) return *reason = Ended(), false;
    // Once told to stop, the worker has 0.8 s to finish what it does (the page
    // in the port, say, so that the printer is not left inside a command); then it is
    // killed, so that a cancel takes effect within a second.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        int n = ::poll(&p, 1, 100);
        if (n < 0 && errno != EINTR) return *reason = std::strerror(errno), false;
        if (n > 0) break;
        if (!deadline && stop && stop()) deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
        if (deadline && std::chrono::steady_clock::now() >= *deadline) {
            Kill();
            *reason = "stopped";
            return false;
        }
    }
    char answer = 0;
    std::string text;
    if (!Receive(fd_, &answer, &text)) return *reason = Ended(), false;
    if (answer == '+') {
        answer_ = text;
        return true;
    }
    *reason = text;
    return false;
}

bool Worker::CheckImage(const std::string& path, const StopCheck& stop, std::string* reason) {
    return Call('C', path, stop, reason);
}

bool Worker::StartDocument(const std::string& port, const JobSettings& settings, const std::string& name,
                           const StopCheck& stop, std::string* reason) {
    return Call('S', EncodeSettings(port, settings, name), stop, reason);
}

bool Worker::StartPage(const StopCheck& stop, std::string* reason) { return Call('P', {}, stop, reason); }

bool Worker::PrintDocument(const std::string& path, const std::string& format, const StopCheck& stop,
                           std::string* reason, int* pages) {
    std::string body;
    PutText(body, format);
    PutText(body, path);
    if (!Call('F', body, stop, reason)) return false;
    *pages = std::atoi(answer_.c_str());
    return true;
}

bool Worker::EndPage(const std::vector<std::uint8_t>& grey, int width, int height, int left, const StopCheck& stop,
                     std::string* reason) {
    std::string body;
    body.reserve(12 + grey.size());
    PutInt(body, width);
    PutInt(body, height);
    PutInt(body, left);
    body.append(reinterpret_cast<const char*>(grey.data()), grey.size());
    return Call('D', body, stop, reason);
}

bool Worker::Finish(bool cancelled, const StopCheck& stop, std::string* reason) {
    // An abort that does not come back within 0.8 s is forced.
    const StopCheck always = [] { return true; };
    return Call(cancelled ? 'A' : 'E', {}, cancelled ? always : stop, reason);
}

// The image manager's work takes at most a few minutes (its link gives up a stalled
// block after half a minute).
bool Worker::MakeLogo(const std::string& from, const std::string& to, std::string* reason) {
    std::string body;
    PutText(body, from);
    PutText(body, to);
    return Call('M', body, LogoDeadline(), reason);
}

bool Worker::SendLogos(const std::string& port, const std::string& device, const std::vector<std::string>& files,
                       std::string* reason) {
    std::string body;
    PutText(body, port);
    PutText(body, device);
    for (const std::string& f : files) PutText(body, f);
    return Call('N', body, LogoDeadline(), reason);
}

bool Worker::LogoCommand(char what, const std::string& port, const std::string& device, std::string* reason) {
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
    for (int i = 0; i < 100 && pid_ > 0; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
        else ::usleep(10000);
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
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace qxapp
