// qx-printer-app: an IPP printer application for the QX printers. Any IPP client or
// CUPS queue prints to it; every page goes through the graphics engine and the printer's
// driver, QX470.dll for model A and QX250.dll for model B.
#include <pappl/pappl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "access.h"
#include "engine_job.h"
#include "pappl_driver.h"
#include "qx_models.h"
#include "wce/gdi.h"

namespace {

const char kVersion[] = "1.0";

std::string Option(int count, cups_option_t* options, const char* name, const std::string& fallback) {
    const char* value = cupsGetOption(name, count, options);
    return value && *value ? value : fallback;
}

std::string DefaultStateDir() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) return std::string(state) + "/qx-printer-app";
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.local/state/qx-printer-app";
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
        for (const qxapp::DriverInfo& d : qxapp::Drivers()) l.push_back({d.name, d.description, nullptr, nullptr});
        return l;
    }();
    return list;
}

std::string stateFile;

bool SaveState(pappl_system_t* system, void*) { return papplSystemSaveState(system, stateFile.c_str()); }

// The server's loop notices a shutdown only when it wakes; without a timer that can be
// half a minute after the request.
bool KeepAwake(pappl_system_t*, void*) { return true; }

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
    std::string logFile = Option(count, options, "log-file", dir + "/qx-printer-app.log");
    pappl_system_t* system = papplSystemCreate(
        pappl_soptions_t(PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG),
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
    papplSystemSetPrinterDrivers(system, int(DriverList().size()), DriverList().data(), nullptr, nullptr,
                                 qxapp::DriverCallback, nullptr);
    papplSystemSetFooterHTML(system, "QX printing system: model A receipts and labels through QX470.dll, "
                                     "model B receipts through QX250.dll.");
    pappl_version_t version{};
    std::snprintf(version.name, sizeof version.name, "qx-printer-app");
    std::snprintf(version.sversion, sizeof version.sversion, "%s", kVersion);
    version.version[0] = 1;
    papplSystemSetVersions(system, 1, &version);
    stateFile = dir + "/qx-printer-app.state";
    papplSystemLoadState(system, stateFile.c_str());
    papplSystemSetSaveCallback(system, SaveState, nullptr);
    papplSystemAddTimerCallback(system, 0, 1, KeepAwake, nullptr);
    // The engine's Qt parts belong to the main thread; make them here, before any job.
    wce::HDC screen = wce::GetDC(nullptr);
    wce::SIZE size{};
    wce::SelectObject(screen, wce::GetStockObject(wce::SYSTEM_FONT));
    wce::GetTextExtentPoint32W(screen, u"x", 1, &size);
    wce::ReleaseDC(nullptr, screen);
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
    return papplMainloop(argc, argv, kVersion, nullptr, int(DriverList().size()), DriverList().data(), nullptr,
                         qxapp::DriverCallback, nullptr, nullptr, SystemCallback, Usage, nullptr);
}
