// Debug output: standard error, or appended to the file named by QX_DEBUG_LOG.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "wce/base.h"
#include "wce/text.h"

namespace wce {

namespace {

// One write per message, with O_APPEND, so lines of several processes don't interleave.
void WriteDebug(const std::string& text) {
    const char* path = std::getenv("QX_DEBUG_LOG");
    int fd = 2;
    if (path && *path) {
        fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0) fd = 2;
    }
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    if (fd != 2) ::close(fd);
}

}  // namespace

void OutputDebugStringW(LPCWSTR text) {
    if (text) WriteDebug(WideToUtf8(text));
}

void NKDbgPrintfW(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    std::u16string text = FormatWideStringV(format, args);
    va_end(args);
    WriteDebug(WideToUtf8(text));
}

}  // namespace wce
