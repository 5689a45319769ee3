// The job's worker process: it serves the server's requests on descriptor 3, one job
// after another, until the server lets it go. It is a program of its own, so that the
// server never loads the engine, Qt or the document readers.
#include <malloc.h>
#include <unistd.h>

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

struct WorkerState {
    std::unique_ptr<EngineJob> job;
    JobSettings settings;
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
            if (!DecodeSettings(body, &port, &settings, &name))
                return *reason = "a garbled start of a job", false;
            w.settings = settings;
            w.job.reset();  // a document left open by the last job of this worker
            w.job = EngineJob::Start(port, settings, name, reason);
            return w.job != nullptr;
        }
        case 'P':
            if (!w.job) return *reason = "no document was started", false;
            return w.job->StartPage(reason);
        case 'D': {
            Reader r(body);
            std::int32_t width = 0, height = 0, left = 0;
            size_t size = 0;
            if (!w.job || !r.Int(&width) || !r.Int(&height) || !r.Int(&left))
                return *reason = "a garbled page", false;
            const char* data = r.Rest(&size);
            if (width <= 0 || height <= 0 || size != size_t(width) * size_t(height))
                return *reason = "a garbled page", false;
            return w.job->EndPage(reinterpret_cast<const std::uint8_t*>(data), size, width, height,
                                  left, reason);
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
    while (Receive(fd, &op, &body)) {
        std::string reason;
        bool ok = Serve(w, op, body, &reason);
        if (!Send(fd, ok ? '+' : '-', reason)) return 1;
    }
    // A server that went away leaves an open document: it is aborted, not ended.
    w.job.reset();
    return 0;
}

}  // namespace

}  // namespace qxapp

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], qxapp::kWorkerArgument) != 0) {
        std::fprintf(stderr,
                     "%s: qx-printer-app starts this program for its printers' jobs; it is not run "
                     "by hand\n",
                     qxapp::kWorkerProgram);
        return 2;
    }
    // A page's buffers (a megabyte or two) come and go with every page: kept in the heap
    // rather than mapped afresh, their memory is not faulted in again each time.
    ::mallopt(M_MMAP_THRESHOLD, 16 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 32 << 20);
    // Its exit skips the engine's teardown, which the job no longer needs.
    int status = qxapp::WorkerMain(3);
    std::fflush(nullptr);
    ::_exit(status);
}
