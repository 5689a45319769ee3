#include "test_page_job.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "pappl_driver.h"

namespace qxapp {

namespace {

constexpr char kMarker[] = "QX-TEST-PAGE\n";

}  // namespace

const char* TestPageFile(pappl_printer_t* printer, char* buffer, size_t size) {
    std::snprintf(buffer, size, "%s/qx-test-page-XXXXXX", WorkDir().c_str());
    int fd = ::mkstemp(buffer);
    if (fd < 0) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "No test page file in \"%s\": %s",
                        WorkDir().c_str(), std::strerror(errno));
        return nullptr;
    }
    bool ok = ::write(fd, kMarker, sizeof kMarker - 1) == ssize_t(sizeof kMarker - 1);
    if (::close(fd) != 0 || !ok) {
        ::unlink(buffer);
        return nullptr;
    }
    return buffer;
}

const char* TestPageType(const unsigned char* header, size_t size, void*) {
    return size >= sizeof kMarker - 1 && std::memcmp(header, kMarker, sizeof kMarker - 1) == 0
               ? kTestPageFormat
               : nullptr;
}

}  // namespace qxapp
