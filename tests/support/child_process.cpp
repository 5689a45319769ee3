#include "child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>

extern char** environ;

namespace qxtest {

namespace {

using Clock = std::chrono::steady_clock;

std::string NameOf(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

// The test's environment with the program's changes over it.
std::vector<std::string> Environment(const std::vector<std::string>& changes) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    for (const std::string& change : changes) {
        std::string name = NameOf(change);
        std::erase_if(env, [&](const std::string& e) { return NameOf(e) == name; });
        if (change.find('=') != std::string::npos) env.push_back(change);
    }
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

struct Pipe {
    int read = -1, write = -1;
    bool Open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        read = fds[0];
        write = fds[1];
        return true;
    }
};

void Close(int* fd) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
}

// Starts argv with stdin, stdout and stderr on the given descriptors (-1: the test's
// own; outputPath and errorsPath open files instead), in a process group of its own so
// that a kill reaches everything it started.
pid_t Spawn(const ChildProgram& program, int in, int out, int err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    if (!program.outputPath.empty())
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, program.outputPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!program.errorsPath.empty())
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, program.errorsPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!program.dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, program.dir.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    std::vector<std::string> args = program.argv;
    std::vector<std::string> env = Environment(program.env);
    std::vector<char*> argv = Pointers(args), envp = Pointers(env);
    pid_t pid = -1;
    int failed = args.empty() ? EINVAL
                              : ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(),
                                               envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

void KillGroup(pid_t pid) {
    if (::kill(-pid, SIGKILL) != 0) ::kill(pid, SIGKILL);
}

// Writes what fits without blocking; a child that has closed its input ends the writing
// (the SIGPIPE is kept from the test and taken back).
void Feed(int* fd, const std::string& input, std::size_t* written) {
    sigset_t pipeSignal, old;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    ssize_t n = ::write(*fd, input.data() + *written, input.size() - *written);
    if (n < 0 && errno == EPIPE) {
        timespec now{};
        ::sigtimedwait(&pipeSignal, nullptr, &now);
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (n > 0) *written += std::size_t(n);
    if ((n < 0 && errno != EAGAIN && errno != EINTR) || *written == input.size()) Close(fd);
}

void Drain(int* fd, std::string* into) {
    char buffer[65536];
    ssize_t n = ::read(*fd, buffer, sizeof buffer);
    if (n > 0) {
        into->append(buffer, std::size_t(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        Close(fd);
    }
}

int MillisecondsUntil(Clock::time_point until) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    return int(std::clamp<long long>(left.count(), 0, 1000));
}

// Waits for the child until the deadline; kills its group past it.
void Reap(pid_t pid, Clock::time_point deadline, ChildResult* result) {
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    if (done == 0) {
        result->timedOut = true;
        KillGroup(pid);
        done = ::waitpid(pid, &status, 0);
    }
    if (done != pid) return;
    if (WIFEXITED(status)) result->exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result->signal = WTERMSIG(status);
}

}  // namespace

std::string ChildResult::Describe() const {
    std::string text;
    if (!started) {
        text = "did not start";
    } else if (timedOut) {
        text = "killed after its time limit";
    } else if (signal != 0) {
        text = "signal " + std::to_string(signal);
    } else {
        text = "exit status " + std::to_string(exitCode);
    }
    if (!out.empty()) text += "\nstandard output:\n" + out;
    if (!err.empty()) text += "\nstandard error:\n" + err;
    return text;
}

ChildResult RunChild(const ChildProgram& program) {
    ChildResult result;
    Pipe in, out, err;
    if (!in.Open() || !out.Open() || !err.Open()) return result;
    pid_t pid = Spawn(program, in.read, out.write, program.mergeErrors ? out.write : err.write);
    Close(&in.read);
    Close(&out.write);
    Close(&err.write);
    if (pid < 0) {
        Close(&in.write);
        Close(&out.read);
        Close(&err.read);
        return result;
    }
    result.started = true;
    auto deadline = Clock::now() + program.timeLimit;
    ::fcntl(in.write, F_SETFL, O_NONBLOCK);
    std::size_t written = 0;
    if (program.input.empty()) Close(&in.write);
    while (out.read >= 0 || err.read >= 0) {
        if (Clock::now() >= deadline) {
            result.timedOut = true;
            KillGroup(pid);
            break;
        }
        pollfd fds[3] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}, {in.write, POLLOUT, 0}};
        if (::poll(fds, 3, MillisecondsUntil(deadline)) <= 0) continue;
        if (fds[0].revents != 0) Drain(&out.read, &result.out);
        if (fds[1].revents != 0) Drain(&err.read, &result.err);
        if (fds[2].revents != 0) Feed(&in.write, program.input, &written);
    }
    Close(&in.write);
    Close(&out.read);
    Close(&err.read);
    Reap(pid, result.timedOut ? Clock::now() : deadline, &result);
    return result;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        KillGroup(pid_);
        ::waitpid(pid_, nullptr, 0);
    }
    Close(&out_);
}

std::optional<int> RunForked(const std::function<int()>& fn, std::chrono::milliseconds limit) {
    Pipe answer;
    if (!answer.Open()) return std::nullopt;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        Close(&answer.read);
        int result = fn();
        (void)!::write(answer.write, &result, sizeof result);
        ::_exit(0);
    }
    Close(&answer.write);
    if (pid < 0) {
        Close(&answer.read);
        return std::nullopt;
    }
    ::setpgid(pid, pid);  // whichever of the two comes first
    auto deadline = Clock::now() + limit;
    std::string got;
    while (answer.read >= 0 && got.size() < sizeof(int) && Clock::now() < deadline) {
        pollfd fd{answer.read, POLLIN, 0};
        if (::poll(&fd, 1, MillisecondsUntil(deadline)) > 0) Drain(&answer.read, &got);
    }
    Close(&answer.read);
    ChildResult ended;
    Reap(pid, got.size() == sizeof(int) ? deadline : Clock::now(), &ended);
    if (got.size() != sizeof(int) || ended.timedOut) return std::nullopt;
    int result;
    std::memcpy(&result, got.data(), sizeof result);
    return result;
}

bool ChildProcess::Start(const ChildProgram& program) {
    Pipe in, out;
    if (pid_ > 0 || !in.Open() || !out.Open()) return false;
    Close(&in.write);  // an empty input
    pid_ = Spawn(program, in.read, out.write, -1);
    Close(&in.read);
    Close(&out.write);
    out_ = out.read;
    if (!program.outputPath.empty()) Close(&out_);
    pending_.clear();
    return pid_ > 0;
}

bool ChildProcess::ReadLine(std::string* line, std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    for (;;) {
        std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            *line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        if (out_ < 0 || Clock::now() >= deadline) return false;
        pollfd fd{out_, POLLIN, 0};
        if (::poll(&fd, 1, MillisecondsUntil(deadline)) > 0) Drain(&out_, &pending_);
    }
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

ChildResult ChildProcess::Wait(std::chrono::milliseconds limit) {
    ChildResult result;
    if (pid_ <= 0) return result;
    result.started = true;
    Reap(pid_, Clock::now() + limit, &result);
    pid_ = -1;
    return result;
}

ChildResult ChildProcess::Stop(int signal, std::chrono::milliseconds limit) {
    Signal(signal);
    return Wait(limit);
}

}  // namespace qxtest
