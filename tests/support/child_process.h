// Programs a test starts: every one has a time limit, and a child over its limit is
// killed with everything it started, so a hung program fails its test instead of
// hanging the suite.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qxtest {

using namespace std::chrono_literals;

struct ChildProgram {
    // argv[0] is the program: a path, or a name looked up in PATH.
    std::vector<std::string> argv;
    // Over the test's own environment: "NAME=value" sets a variable, a bare "NAME"
    // removes it.
    std::vector<std::string> env;
    std::string dir;    // the working folder; empty: the test's own
    std::string input;  // standard input, then its end
    std::chrono::milliseconds timeLimit = 120s;
    bool mergeErrors = false;  // standard error into standard output, in order (2>&1)
    std::string errorsPath;    // ChildProcess only: standard error into this file
    std::string outputPath;    // ChildProcess only: standard output into this file, not a pipe
};

// A command line for the shell, for tests that need its redirections or quoting.
inline std::vector<std::string> ShellLine(const std::string& line) {
    return {"/bin/sh", "-c", line};
}

struct ChildResult {
    bool started = false;
    int exitCode = -1;  // the exit status when the child exited, else -1
    int signal = 0;     // the signal that ended it
    bool timedOut = false;
    std::string out, err;

    bool Exited(int code) const { return exitCode == code; }
    // "exit status 2", "signal 11", "killed after its time limit of 120 s", with the
    // output, for a failing test's message.
    std::string Describe() const;
};

// Runs the program to its end (or its time limit) and returns what it wrote.
ChildResult RunChild(const ChildProgram& program);

// Runs fn in a forked copy of the test, for what must happen in another process (acting
// as another user), and returns what it returned; nothing when it ended without an
// answer or gave none within limit (it is then killed with what it started). Only
// from a test that runs no thread of its own: the copy has the calling thread alone.
std::optional<int> RunForked(const std::function<int()>& fn, std::chrono::milliseconds limit = 60s);

// A child that runs beside the test (a server, the emulator): standard input is empty,
// standard output a pipe the test reads lines from unless outputPath names a file,
// standard error the test's own unless errorsPath names one. It is killed when the
// object goes.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const ChildProgram& program);
    // The next line of standard output without its line end; false at its end or when
    // none comes within limit.
    bool ReadLine(std::string* line, std::chrono::milliseconds limit = 60s);
    // Sends signal to the child alone.
    void Signal(int signal);
    // Waits for the child's end; killed (with timedOut set) when it does not come
    // within limit.
    ChildResult Wait(std::chrono::milliseconds limit = 120s);
    // Signal, then Wait.
    ChildResult Stop(int signal, std::chrono::milliseconds limit = 60s);
    bool Running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;  // read past the last line returned
};

}  // namespace qxtest
