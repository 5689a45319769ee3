// Each job prints in a worker process of its own: the driver keeps its state per
// process, so printers print side by side, a job that hangs in a port or a file that
// wedges the image reader costs only that process, and a cancel or a stop of the
// server takes effect at once (the worker is killed). The server sends the worker its
// requests over a socket pair, looking at the job's cancel flag and the server's state
// while it waits; a page's requests do not wait for their answers, and a raster page's
// dots wait in memory the two share.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qx_models.h"

namespace qxapp {

// The worker is a program of its own, beside the server's: the server never loads the
// engine, Qt or the document readers. It is started with this argument, its socket
// as descriptor 3.
constexpr const char* kWorkerProgram = "qx-printer-app-worker";
constexpr const char* kWorkerArgument = "--qx-job-worker";
// The same program started ahead as the workers' zygote: loaded once, it forks each
// worker, so workers start in a millisecond and share the pages the loader wrote.
// It ends by itself once no worker was asked of it for kZygoteIdleMs. Its argument is
// as long as the worker's, which each worker writes over it.
constexpr const char* kZygoteArgument = "--qx-job-zygote";
constexpr int kZygoteIdleMs = 4000;
// A job's registry copy is scratch: its writes need not be synced to the disk.
constexpr const char* kScratchRegistry = "QX_REGISTRY_SCRATCH=1";

class Worker {
  public:
    // Tells whether the work should stop: the job was cancelled or the server stops.
    using StopCheck = std::function<bool()>;

    Worker() = default;
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Starts the worker process. The driver's registry is `copy`, the printer's own,
    // made from `registry` for the job, so that printers never share the driver's key.
    bool Spawn(const std::string& registry, const std::string& copy, std::string* reason);
    // Makes the printer's own registry afresh from the shared one, for the next job of a
    // worker kept from the last.
    static bool CopyRegistry(const std::string& registry, const std::string& copy,
                             std::string* reason);
    // The process is there and has not ended.
    bool Alive();

    // Loads an image file with the engine's loader, as qx-print does: damaged, too
    // large or unreadable files are refused with a reason.
    bool CheckImage(const std::string& path, const StopCheck& stop, std::string* reason);
    // Sent without waiting: the document's start holds the driver's pause, in which the
    // job's first page is read. A failure to start is the reason of the request after.
    bool StartDocument(const std::string& port, const JobSettings& settings,
                       const std::string& name, const StopCheck& stop, std::string* reason);
    bool StartPage(const StopCheck& stop, std::string* reason);
    // Lays out and prints a whole document file (documents.h) on the started document.
    bool PrintDocument(const std::string& path, const std::string& format, const StopCheck& stop,
                       std::string* reason, int* pages);
    // Room for the next page's grey dots (8 bits, 0 black, `size` bytes), which EndPage
    // hands over. The worker reads a page from memory the two processes share, so a page
    // is not copied through the socket; the next page is filled while the worker prints
    // the one before, so two pages take turns. Null, with the reason, when there is no
    // memory for the page.
    std::uint8_t* PageRoom(size_t size, std::string* reason);
    bool EndPage(int width, int height, int left, const StopCheck& stop, std::string* reason);
    // Ends the document; a cancelled one is aborted, and a worker that does not answer
    // within a second is killed.
    bool Finish(bool cancelled, const StopCheck& stop, std::string* reason);
    // The logo memory's work (logos.h), each in the worker.
    bool MakeLogo(const std::string& from, const std::string& to, std::string* reason);
    bool SendLogos(const std::string& port, const std::string& device,
                   const std::vector<std::string>& files, std::string* reason);
    bool LogoCommand(char what, const std::string& port, const std::string& device,
                     std::string* reason);
    // Kills the worker at once (a cancel or the server's stop).
    void Kill();

    // Lets an idle worker go: its end of the socket closed, it ends as a worker whose
    // server went away; one that does not within a second is killed.
    void Release();

  private:
    class Patience;
    static StopCheck LogoDeadline();
    bool WaitFor(short events, Patience& patience, std::string* reason);
    // `pass`, when not -1, is a descriptor the worker receives with the message.
    bool Post(char op, const std::string& head, const void* data, size_t size, Patience& patience,
              std::string* reason, int pass = -1);
    bool Await(Patience& patience, std::string* reason);
    bool Settle(size_t most, Patience& patience, std::string* reason);
    // A request and its answer, once every request before it is answered.
    bool Call(char op, const std::string& body, const StopCheck& stop, std::string* reason);
    // A request sent without waiting for its answer.
    bool Pipeline(char op, const std::string& head, const void* data, size_t size,
                  const StopCheck& stop, std::string* reason, int pass = -1);
    void DropPages();
    std::string Ended();

    pid_t pid_ = -1;
    int fd_ = -1;
    std::string answer_;  // what the last request that succeeded answered
    size_t pending_ = 0;  // requests sent whose answers are not read yet

    struct SharedPage {
        int fd = -1;
        std::uint8_t* at = nullptr;
        size_t size = 0;
        bool told = false;  // the worker has its descriptor
        void Drop();        // unmapped and closed
    };
    SharedPage pages_[2];
    int page_ = 0;  // the one PageRoom gave last
};

// A printer's worker is kept between its jobs: one whose job ended well waits a few
// seconds for the printer's next job, so that jobs in a row skip a process's start-up
// (loading the engine and its libraries costs more than printing a label). A job that
// failed, was cancelled or was stopped never leaves its worker for the next.
// QX_APP_KEEP_WORKER_MS sets another time (0: a worker per job).
constexpr int kKeepWorkerMs = 3000;
// The printer's kept worker, or a new one; either way the printer's own registry is
// made afresh from `registry` for the job.
std::unique_ptr<Worker> TakeWorker(int printer, const std::string& registry,
                                   const std::string& copy, std::string* reason);
void KeepWorker(int printer, std::unique_ptr<Worker> worker);

}  // namespace qxapp
