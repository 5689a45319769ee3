#include "log.h"

#include <cerrno>
#include <cstring>

namespace qxemu {

Log::~Log() {
    if (file_ != nullptr) std::fclose(file_);
}

bool Log::OpenFile(const std::string& path, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (f == nullptr) {
        *error = "cannot open log " + path + ": " + std::strerror(errno);
        return false;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = f;
    return true;
}

void Log::Write(const std::string& text, bool isError) {
    std::lock_guard<std::mutex> guard(lock_);
    if (isError) ++errors_;
    if (file_ != nullptr) {
        std::fputs(text.c_str(), file_);
        std::fputc('\n', file_);
        std::fflush(file_);
    }
    if (verbose_ || (isError && errorsToStderr_))
        std::fprintf(stderr, "qx-emulator: %s\n", text.c_str());
    if (capture_) captured_.push_back(text);
}

void Log::Line(const std::string& text) {
    Write(text, false);
}

void Log::Command(std::uint64_t offset, const std::string& command, const std::string& detail) {
    char head[64];
    std::snprintf(head, sizeof head, "@%-9llu %-16s ", static_cast<unsigned long long>(offset),
                  command.c_str());
    Write(head + detail, false);
}

void Log::Error(std::uint64_t offset, const std::string& command, const std::string& message) {
    char head[64];
    std::snprintf(head, sizeof head, "ERROR @%llu %s: ", static_cast<unsigned long long>(offset),
                  command.c_str());
    Write(head + message, true);
}

std::vector<std::string> Log::Captured() const {
    std::lock_guard<std::mutex> guard(lock_);
    return captured_;
}

std::string Printable(const std::uint8_t* data, std::size_t size, std::size_t limit) {
    std::string out;
    for (std::size_t i = 0; i < size && i < limit; ++i) {
        std::uint8_t c = data[i];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    if (size > limit) out += "...";
    return out;
}

}  // namespace qxemu
