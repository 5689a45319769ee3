// qx-printer-app: an IPP printer application for the QX printers. Any IPP client or
// CUPS queue prints to it; every page goes through the graphics engine and the printer's
// driver, QX470.dll for model A and QX250.dll for model B.
#include <fcntl.h>
#include <malloc.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pappl/pappl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "access.h"
#include "pappl_driver.h"
#include "qx_models.h"
#include "worker.h"

namespace {

const char kVersion[] = "1.0";

std::string Option(int count, cups_option_t* options, const char* name,
                   const std::string& fallback) {
    const char* value = cupsGetOption(name, count, options);
    return value && *value ? value : fallback;
}

std::string DefaultStateDir() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        return std::string(state) + "/qx-printer-app";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/state/qx-printer-app";
    return "/tmp/qx-printer-app";
}

bool MakeDirs(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        std::string part = path.substr(0, at);
        struct stat info {};
        if (::stat(part.c_str(), &info) == 0) continue;
        if (::mkdir(part.c_str(), 0700) != 0) return false;
    }
    return true;
}

pappl_loglevel_t LogLevel(const std::string& name) {
    if (name == "debug") return PAPPL_LOGLEVEL_DEBUG;
    if (name == "warn") return PAPPL_LOGLEVEL_WARN;
    if (name == "error") return PAPPL_LOGLEVEL_ERROR;
    if (name == "fatal") return PAPPL_LOGLEVEL_FATAL;
    return PAPPL_LOGLEVEL_INFO;
}

std::vector<pappl_pr_driver_t>& DriverList() {
    static std::vector<pappl_pr_driver_t> list = [] {
        std::vector<pappl_pr_driver_t> l;
        for (const qxapp::DriverInfo& d : qxapp::Drivers())
            l.push_back({d.name, d.description, nullptr, nullptr});
        return l;
    }();
    return list;
}

std::string stateFile;

bool SyncPath(const std::string& path, int flags) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

// The state is written beside the old one and put in its place, so a server killed at
// any moment leaves either the old state or the new one, never half of one.
bool SaveState(pappl_system_t* system, void*) {
    std::string temporary = stateFile + ".new";
    bool ok = papplSystemSaveState(system, temporary.c_str()) && SyncPath(temporary, O_RDONLY) &&
              ::rename(temporary.c_str(), stateFile.c_str()) == 0;
    if (!ok) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to save the state in \"%s\": %s",
                 stateFile.c_str(), std::strerror(errno));
        ::unlink(temporary.c_str());
        return false;
    }
    SyncPath(stateFile.substr(0, stateFile.find_last_of('/') + 1), O_RDONLY | O_DIRECTORY);
    return true;
}

// One server a state folder: a second one would overwrite the first one's state.
bool LockStateDir(const std::string& dir) {
    std::string path = dir + "/qx-printer-app.lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "qx-printer-app: %s cannot be opened: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char pid[32] = {};
        ssize_t n = ::pread(fd, pid, sizeof pid - 1, 0);
        std::fprintf(
            stderr,
            "qx-printer-app: another server (process %s) already uses the state folder %s\n",
            n > 0 ? std::string(pid, size_t(n)).c_str() : "?", dir.c_str());
        ::close(fd);
        return false;
    }
    std::string pid = std::to_string(::getpid());
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // The lock holds all the same; the number is only for the message above.
    }
    return true;  // the descriptor stays open, and the lock with it, while the server runs
}

// PAPPL listens wherever it can among a name's addresses; a port another program holds
// on one of them must stop the server instead of leaving it half reachable.
std::string PortTaken(const std::string& hostname, long port) {
    if (port <= 0 || hostname.empty() || hostname[0] == '/') return {};
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (::getaddrinfo(hostname == "*" ? nullptr : hostname.c_str(), std::to_string(port).c_str(),
                      &hints, &found) != 0)
        return {};
    std::string taken;
    for (addrinfo* a = found; a && taken.empty(); a = a->ai_next) {
        int s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) continue;
        int on = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (a->ai_family == AF_INET6) ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        if (::bind(s, a->ai_addr, a->ai_addrlen) != 0 && errno == EADDRINUSE) {
            char host[256] = "?";
            ::getnameinfo(a->ai_addr, a->ai_addrlen, host, sizeof host, nullptr, 0, NI_NUMERICHOST);
            taken = host;
        }
        ::close(s);
    }
    ::freeaddrinfo(found);
    return taken;
}

// The server's loop notices a shutdown only when it wakes; without a timer that can be
// half a minute after the request.
bool KeepAwake(pappl_system_t*, void*) {
    return true;
}

// The names the web pages show for the printers' own options, in English and Korean
// (the settings utility's words).
void AddWebStrings(pappl_system_t* system) {
    papplSystemAddStringsData(system, "/qx-printer-app/en.strings", "en",
                              "\"qx-start-text\" = \"Start Documents: Text to print\";\n"
                              "\"qx-end-text\" = \"End Documents: Text to print\";\n"
                              "\"qx-start-logo\" = \"Start Documents: NV Image [1~255, 0 none]\";\n"
                              "\"qx-end-logo\" = \"End Documents: NV Image [1~255, 0 none]\";\n"
                              "\"qx-back-feed\" = \"Print after Back-Feed\";\n"
                              "\"qx-rotation\" = \"Rotation\";\n"
                              "\"qx-rotation.none\" = \"None\";\n"
                              "\"qx-rotation.half-turn\" = \"180 Rotate\";\n");
    papplSystemAddStringsData(system, "/qx-printer-app/ko.strings", "ko",
                              "\"qx-start-text\" = \"시작 문서: 인쇄할 텍스트\";\n"
                              "\"qx-end-text\" = \"끝 문서: 인쇄할 텍스트\";\n"
                              "\"qx-start-logo\" = \"시작 문서: 적용 로고 [1~255, 0 없음]\";\n"
                              "\"qx-end-logo\" = \"끝 문서: 적용 로고 [1~255, 0 없음]\";\n"
                              "\"qx-back-feed\" = \"백피드 후 인쇄\";\n"
                              "\"qx-rotation\" = \"회전\";\n"
                              "\"qx-rotation.none\" = \"없음\";\n"
                              "\"qx-rotation.half-turn\" = \"180°회전\";\n"
                              // The page's other fields, which would show their IPP names.
                              "\"media\" = \"용지\";\n"
                              "\"orientation-requested\" = \"방향\";\n"
                              "\"print-color-mode\" = \"인쇄 모드\";\n"
                              "\"print-quality\" = \"인쇄 품질\";\n"
                              "\"print-content-optimize\" = \"최적화 대상\";\n"
                              "\"print-content-optimize.auto\" = \"자동\";\n"
                              "\"print-scaling\" = \"크기 조정\";\n"
                              "\"print-scaling.auto\" = \"자동\";\n"
                              "\"printer-resolution\" = \"해상도\";\n");
}

pappl_system_t* SystemCallback(int count, cups_option_t* options, void*) {
    std::string dir = Option(count, options, "spool-directory", DefaultStateDir());
    if (!MakeDirs(dir)) {
        std::fprintf(stderr, "qx-printer-app: the state folder %s cannot be made\n", dir.c_str());
        return nullptr;
    }
    std::string portText = Option(count, options, "server-port", "0");
    char* end = nullptr;
    long port = std::strtol(portText.c_str(), &end, 10);
    if (*end || port < 0 || port > 65535) {
        std::fprintf(stderr, "qx-printer-app: server-port=%s is no TCP port\n", portText.c_str());
        return nullptr;
    }
    std::string hostname = Option(count, options, "listen-hostname", "localhost");
    if (!LockStateDir(dir)) return nullptr;
    if (std::string taken = PortTaken(hostname, port); !taken.empty()) {
        std::fprintf(stderr, "qx-printer-app: port %ld of %s (%s) is in use by another program\n",
                     port, hostname.c_str(), taken.c_str());
        return nullptr;
    }
    std::string logFile = Option(count, options, "log-file", dir + "/qx-printer-app.log");
    pappl_system_t* system = papplSystemCreate(
        pappl_soptions_t(PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                         PAPPL_SOPTIONS_WEB_LOG),
        "QX Printer Application", int(port), "_print,_universal", dir.c_str(), logFile.c_str(),
        LogLevel(Option(count, options, "log-level", "info")), nullptr, false);
    if (!system) return nullptr;
    // Who may change the server: access.h.
    if (!qxapp::SetUpAccess(system, count, options)) {
        papplSystemDelete(system);
        return nullptr;
    }
    if (!papplSystemAddListeners(system, hostname.c_str())) {
        std::fprintf(stderr, "qx-printer-app: cannot listen on %s:%ld\n", hostname.c_str(), port);
        papplSystemDelete(system);
        return nullptr;
    }
    qxapp::UseRegistryIn(dir);
    qxapp::SetWorkDir(dir);
    qxapp::AddDeviceScheme();
    papplSystemSetNetworkDeviceScheme("qx");  // "Network Printer" on the web page: qx:ADDRESS
    qxapp::AddImageFilters(system);
    qxapp::AddDocumentFilters(system);
    AddWebStrings(system);
    papplSystemSetPrinterDrivers(system, int(DriverList().size()), DriverList().data(), nullptr,
                                 qxapp::PrinterCreated, qxapp::DriverCallback, nullptr);
    papplSystemSetFooterHTML(system,
                             "QX printing system: model A receipts and labels through QX470.dll, "
                             "model B receipts through QX250.dll.");
    pappl_version_t version{};
    std::snprintf(version.name, sizeof version.name, "qx-printer-app");
    std::snprintf(version.sversion, sizeof version.sversion, "%s", kVersion);
    version.version[0] = 1;
    papplSystemSetVersions(system, 1, &version);
    stateFile = dir + "/qx-printer-app.state";
    ::unlink((stateFile + ".new").c_str());  // a save cut short by a kill
    papplSystemLoadState(system, stateFile.c_str());
    papplSystemSetSaveCallback(system, SaveState, nullptr);
    papplSystemAddTimerCallback(system, 0, 1, KeepAwake, nullptr);
    // The pages are drawn by each job's worker process; the server never starts the
    // engine, so it stays small.
    return system;
}

void Usage(void*) {
    std::puts(
        "Usage: qx-printer-app SUB-COMMAND [OPTIONS] [FILES]\n"
        "\n"
        "An IPP printer application for the QX printers: IPP clients and CUPS queues print\n"
        "to it, and every page goes through the graphics engine and the printer's driver.\n"
        "\n"
        "Sub-commands:\n"
        "  server                 run the server (its web interface is on the server port)\n"
        "  add PRINTER            add a printer: -d NAME -v DEVICE-URI -m DRIVER\n"
        "  delete                 delete a printer: -d NAME\n"
        "  submit [FILES]         print files (PNG, JPEG, PWG raster): -d NAME, -o copies=N ...\n"
        "  status, jobs, cancel   the server's state, a printer's jobs, cancel one (-j ID)\n"
        "  drivers, printers      list the drivers, the printers\n"
        "  modify, options        change or list a printer's settings\n"
        "  shutdown               stop the server on the user's local socket (a server\n"
        "                         on a given port: ipptool with shutdown.test)\n"
        "\n"
        "Options:\n"
        "  -d NAME                the printer\n"
        "  -m DRIVER              qx470-escpos, qx470-cpcl-gap, qx470-cpcl-mark or\n"
        "                         qx470-cpcl-journal (model A, 80 mm paper), qx250-escpos\n"
        "                         (model B, 58 mm paper)\n"
        "  -v DEVICE-URI          qx: and the port the driver opens, %-escaped:\n"
        "                         qx:192.168.1.20 (TCP port 9100), qx:COM1:,\n"
        "                         qx:COM1:%20115200, qx:LPT1:, qx:IRDA\n"
        "  -o NAME=VALUE          server-port=N, listen-hostname=NAME (default localhost),\n"
        "                         spool-directory=DIR (the state folder: printers, jobs and\n"
        "                         the driver's own registry file), log-file=FILE,\n"
        "                         log-level=debug|info|warn|error, admin-group=GROUP,\n"
        "                         auth-service=PAM-SERVICE, auth-config-dir=DIR (who\n"
        "                         may change the server); for jobs copies=N,\n"
        "                         media=NAME and qx-rotation=none|half-turn (CPCL)\n"
        "  -u URI                 the server: ipp://localhost:PORT/ipp/system, or a\n"
        "                         printer's ipp://localhost:PORT/ipp/print/NAME for submit,\n"
        "                         jobs and cancel (default: the server on the user's local\n"
        "                         socket, started when there is none)\n"
        "  --help, --version      this text, the version");
}

}  // namespace

int main(int argc, char** argv) {
    // Each of PAPPL's client threads would otherwise get a heap arena of its own, and an
    // arena keeps the memory of the pages it held long after the jobs have gone.
    ::mallopt(M_ARENA_MAX, 2);
    return papplMainloop(argc, argv, kVersion, nullptr, int(DriverList().size()),
                         DriverList().data(), nullptr, qxapp::DriverCallback, nullptr, nullptr,
                         SystemCallback, Usage, nullptr);
}
