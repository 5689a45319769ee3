// qx-emulator as a child process of a test: started with its options, ready once it
// has printed its first line, stopped with SIGTERM so it finishes what it holds.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace qxtest {

class EmulatorProcess {
public:
#ifdef QX_EMULATOR_BIN
    EmulatorProcess() : binary_(QX_EMULATOR_BIN) {}
#endif
    explicit EmulatorProcess(std::string binary) : binary_(std::move(binary)) {}
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    // Starts the program and reads its first line of standard output.
    bool Start(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        int out[2];
        if (::pipe(out) != 0) return false;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
            std::vector<char*> argv{binary_.data()};
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(binary_.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
        return ReadLine(&firstLine);
    }
    ~EmulatorProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    // SIGTERM, then the exit status (-1 when it did not exit normally).
    int Stop() {
        ::kill(pid_, SIGTERM);
        return Wait();
    }
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string firstLine;

private:
    bool ReadLine(std::string* line) {
        char c;
        while (::read(out_, &c, 1) == 1) {
            if (c == '\n') return true;
            *line += c;
        }
        return false;
    }
    std::string binary_;
    pid_t pid_ = -1;
    int out_ = -1;
    bool exited_ = false;
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
