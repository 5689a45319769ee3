// qx-emulator: the printer's stand-in. See UsageText() for the options.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>

#include "device.h"
#include "irda_device.h"
#include "log.h"
#include "options.h"
#include "transports.h"

namespace {

std::atomic<bool> stopRequested{false};

void OnStopSignal(int) {
    stopRequested.store(true);
}

void InstallSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
    qxemu::Options options;
    std::string error;
    if (!qxemu::ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "qx-emulator: %s\n%s", error.c_str(), qxemu::UsageText().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(qxemu::UsageText().c_str(), stdout);
        return 0;
    }
    InstallSignals();
    qxemu::Log log;
    log.SetVerbose(options.verbose);
    qxemu::DeviceOptions deviceOptions;
    deviceOptions.paperWidth = options.paperWidth;
    deviceOptions.outDir = options.outDir;
    deviceOptions.nvPath = options.nvPath;
    qxemu::Device device(deviceOptions, log);
    std::error_code ec;
    std::filesystem::create_directories(options.outDir, ec);
    if (!log.OpenFile(options.outDir + "/emulator.log", &error) || !device.Start(&error)) {
        std::fprintf(stderr, "qx-emulator: %s\n", error.c_str());
        return 1;
    }
    log.Line(std::string("qx-emulator started: model ") + options.model + ", paper " +
             std::to_string(options.paperWidth) + " dots");
    bool ok = false;
    switch (options.input) {
        case qxemu::InputKind::kTcp:
            ok = qxemu::RunTcp(options, device, stopRequested, &error);
            break;
        case qxemu::InputKind::kPty:
            ok = qxemu::RunPty(options, device, stopRequested, &error);
            break;
        case qxemu::InputKind::kIrda:
            ok = qxemu::RunIrda(options, device, stopRequested, &error);
            break;
        case qxemu::InputKind::kFile:
            ok = qxemu::RunFile(options, device, stopRequested, &error);
            break;
    }
    if (!ok) {
        log.Error(0, "qx-emulator", error);
        return 1;
    }
    log.Line("qx-emulator stopped");
    return 0;
}
