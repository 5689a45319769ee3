// The readable log of what the emulator decoded: one line per command with its byte
// offset in the connection, plus errors and the files written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace qxemu {

class Log {
  public:
    Log() = default;
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Appends to the file at path; false with a message when it cannot be opened.
    bool OpenFile(const std::string& path, std::string* error);
    // Every line also to standard error (errors always go there).
    void SetVerbose(bool verbose) { verbose_ = verbose; }
    // Errors also go to standard error unless this is turned off (fuzzing).
    void SetErrorsToStderr(bool on) { errorsToStderr_ = on; }
    // Keeps every line in memory as well, for tests.
    void SetCapture(bool capture) { capture_ = capture; }

    void Line(const std::string& text);
    // A decoded command: "@offset  command  detail".
    void Command(std::uint64_t offset, const std::string& command, const std::string& detail);
    // A malformed or truncated input: "ERROR @offset command: message".
    void Error(std::uint64_t offset, const std::string& command, const std::string& message);

    std::vector<std::string> Captured() const;
    int ErrorCount() const { return errors_; }

  private:
    void Write(const std::string& text, bool isError);

    mutable std::mutex lock_;
    std::FILE* file_ = nullptr;
    bool verbose_ = false;
    bool capture_ = false;
    bool errorsToStderr_ = true;
    int errors_ = 0;
    std::vector<std::string> captured_;
};

// Printable form of bytes for log lines: ASCII kept, others as \xNN, cut to limit.
std::string Printable(const std::uint8_t* data, std::size_t size, std::size_t limit = 48);

}  // namespace qxemu
