// The job's worker process: it serves the server's requests on descriptor 3, one job
// after another, until the server lets it go. It is a program of its own, so that the
// server never loads the engine, Qt or the document readers.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "documents.h"
#include "engine_job.h"
#include "logos.h"
#include "test_page_job.h"
#include "wce/base.h"
#include "wce/gdi.h"
#include "wce/text.h"
#include "worker.h"
#include "worker_protocol.h"

namespace qxapp {

namespace {

using namespace wire;

// The words qx-print uses for a file its loader refuses.
std::string ImageFailure(wce::DWORD error) {
    if (error == 1392) return "the image is damaged (the file is cut short or corrupt)";
    if (error == wce::ERROR_NOT_ENOUGH_MEMORY)
        return "the image is too large to load; scale it down first";
    return "the image is damaged or of a kind that cannot be read";
}

// ---- the worker's side ----

// A page's memory, shared with the server (worker.h): mapped when its descriptor comes,
// let go at the job's start and end.
struct SharedPage {
    const std::uint8_t* at = nullptr;
    size_t size = 0;

    bool Map(int fd) {
        Drop();
        struct stat st {};
        if (::fstat(fd, &st) != 0 || st.st_size <= 0) return false;
        void* m = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
        if (m == MAP_FAILED) return false;
        at = static_cast<const std::uint8_t*>(m);
        size = size_t(st.st_size);
        return true;
    }
    void Drop() {
        if (at) ::munmap(const_cast<std::uint8_t*>(at), size);
        at = nullptr;
        size = 0;
    }
};

struct WorkerState {
    std::unique_ptr<EngineJob> job;
    JobSettings settings;
    SharedPage pages[2];

    void DropPages() {
        for (SharedPage& p : pages) p.Drop();
    }
};

// `passed` is a descriptor that came with the request, or -1.
bool Serve(WorkerState& w, char op, const std::string& body, int passed, std::string* reason) {
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
            if (!DecodeSettings(body, &port, &settings, &name))
                return *reason = "a garbled start of a job", false;
            w.settings = settings;
            w.job.reset();  // a document left open by the last job of this worker
            w.DropPages();
            w.job = EngineJob::Start(port, settings, name, reason);
            return w.job != nullptr;
        }
        case 'P':
            if (!w.job) return *reason = "no document was started", false;
            return w.job->StartPage(reason);
        case 'G': {
            Reader r(body);
            std::int32_t width = 0, height = 0, left = 0, which = -1;
            if (!w.job || !r.Int(&width) || !r.Int(&height) || !r.Int(&left) || !r.Int(&which) ||
                which < 0 || which > 1 || width <= 0 || height <= 0)
                return *reason = "a garbled page", false;
            SharedPage& page = w.pages[which];
            if (passed >= 0 && !page.Map(passed))
                return *reason = std::string("the page cannot be read: ") + std::strerror(errno),
                       false;
            const size_t size = size_t(width) * size_t(height);
            if (!page.at || page.size < size) return *reason = "a garbled page", false;
            return w.job->EndPage(page.at, size, width, height, left, reason);
        }
        case 'F': {
            Reader r(body);
            std::string format, path;
            if (!w.job || !r.Text(&format) || !r.Text(&path))
                return *reason = "a garbled document", false;
            int before = w.job->pages();
            bool ok = format == kTestPageFormat ? PrintTestPage(*w.job, w.settings, reason)
                                                : PrintDocument(*w.job, path, format, reason);
            if (ok)
                *reason =
                    std::to_string(w.job->pages() - before);  // the pages, for the job's count
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
            return op == 'N' ? SendLogos(port, device, files, reason)
                             : LogoCommand(op, port, device, reason);
        }
        case 'E':
        case 'A': {
            w.DropPages();
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

int WorkerMain(int fd) {
    WorkerState w;
    CatchMessageBoxes();
    char op = 0;
    std::string body;
    int passed = -1;
    while (Receive(fd, &op, &body, &passed)) {
        std::string reason;
        bool ok = Serve(w, op, body, passed, &reason);
        if (passed >= 0) ::close(passed);
        if (!Send(fd, ok ? '+' : '-', reason)) return 1;
    }
    // A server that went away leaves an open document: it is aborted, not ended.
    w.job.reset();
    return 0;
}

// The workers' zygote (worker.h): each request on its socket (descriptor 3) is a
// worker's socket and registry path; the answer the worker's pid, or -1. The worker is
// forked by a child that ends at once, so that it becomes the server's child. Ends once
// asked nothing for kZygoteIdleMs, or when the server goes.
int ZygoteMain(int control, char* argument) {
    static_assert(std::char_traits<char>::length(kZygoteArgument) ==
                  std::char_traits<char>::length(kWorkerArgument));
    const pid_t server = ::getppid();
    // The drawing toolkit is started once here and shared by every worker forked after.
    // Should it have started a thread, no worker may be forked: the server then starts
    // them as programs.
    if (!wce::StartGraphicsEarly()) return 0;
    for (;;) {
        pollfd p{control, POLLIN, 0};
        int ready = ::poll(&p, 1, kZygoteIdleMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return 0;
        char path[4096];
        int socket = -1, flags = 0;
        ssize_t n = ReceiveSome(control, path, sizeof path - 1, &socket, &flags);
        if (n <= 0) return 0;  // the server let go
        path[n] = '\0';
        std::int32_t pid = -1;
        int pipe[2];
        if (socket >= 0 && !(flags & (MSG_TRUNC | MSG_CTRUNC)) && ::pipe2(pipe, O_CLOEXEC) == 0) {
            pid_t child = ::fork();
            if (child == 0) {
                pid_t worker = ::fork();
                if (worker == 0) {
                    // Once the child has ended, the server is this worker's parent.
                    for (int i = 0; i < 10000 && ::getppid() != server; ++i) ::usleep(100);
                    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                    if (::getppid() != server) ::_exit(1);
                    ::dup2(socket, 3);
                    ::syscall(SYS_close_range, 4u, ~0u, 0u);
                    ::setenv("QX_REGISTRY", path, 1);
                    ::putenv(const_cast<char*>(kScratchRegistry));
                    std::memcpy(argument, kWorkerArgument, std::strlen(kWorkerArgument));
                    ::_exit(WorkerMain(3));
                }
                std::int32_t told = worker;
                [[maybe_unused]] ssize_t w = ::write(pipe[1], &told, sizeof told);
                ::_exit(0);
            }
            ::close(pipe[1]);
            if (child > 0) {
                if (::read(pipe[0], &pid, sizeof pid) != ssize_t(sizeof pid)) pid = -1;
                while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
                }
            }
            ::close(pipe[0]);
        }
        if (socket >= 0) ::close(socket);
        if (::send(control, &pid, sizeof pid, MSG_NOSIGNAL) != ssize_t(sizeof pid)) return 0;
    }
}

}  // namespace

}  // namespace qxapp

int main(int argc, char** argv) {
    // A page's buffers (a megabyte or two) come and go with every page: kept in the heap
    // rather than mapped afresh, their memory is not faulted in again each time.
    ::mallopt(M_MMAP_THRESHOLD, 16 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 32 << 20);
    if (argc == 2 && std::strcmp(argv[1], qxapp::kZygoteArgument) == 0)
        ::_exit(qxapp::ZygoteMain(3, argv[1]));
    if (argc != 2 || std::strcmp(argv[1], qxapp::kWorkerArgument) != 0) {
        std::fprintf(stderr,
                     "%s: qx-printer-app starts this program for its printers' jobs; it is not run "
                     "by hand\n",
                     qxapp::kWorkerProgram);
        return 2;
    }
    // Its exit skips the engine's teardown, which the job no longer needs.
    int status = qxapp::WorkerMain(3);
    std::fflush(nullptr);
    ::_exit(status);
}
