// qx-emulator as a child process of a test: started with its options, ready once it
// has printed its first line, stopped with SIGTERM so it finishes what it holds.
#pragma once

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"

namespace qxtest {

class EmulatorProcess {
  public:
#ifdef QX_EMULATOR_BIN
    EmulatorProcess() : binary_(QX_EMULATOR_BIN) {}
#endif
    explicit EmulatorProcess(std::string binary) : binary_(std::move(binary)) {}

    // Starts the program and reads its first line of standard output.
    bool Start(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        ChildProgram program;
        program.argv = {binary_};
        program.argv.insert(program.argv.end(), args.begin(), args.end());
        program.env = env;
        return child_.Start(program) && child_.ReadLine(&firstLine);
    }
    // SIGTERM, then the exit status (-1 when it did not exit normally, or was killed
    // for not ending within a minute).
    int Stop() {
        return Status(child_.Stop(SIGTERM));
    }
    // Its end by itself, within two minutes.
    int Wait() {
        return Status(child_.Wait());
    }
    std::string firstLine;

  private:
    static int Status(const ChildResult& r) {
        return r.timedOut ? -1 : r.exitCode;
    }
    std::string binary_;
    ChildProcess child_;
};

// PNG files the emulator wrote in a folder, in name order.
inline std::vector<std::string> PngFiles(const std::string& dir) {
    std::vector<std::string> files;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored))
        if (entry.path().extension() == ".png") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace qxtest
