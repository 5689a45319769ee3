#include "test_page_job.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "pappl_driver.h"
#include "test_page.h"
#include "wce/base.h"
#include "wce/gdi.h"

namespace qxapp {

namespace {

constexpr char kMarker[] = "QX-TEST-PAGE\n";

}  // namespace

const char* TestPageFile(pappl_printer_t* printer, char* buffer, size_t size) {
    std::snprintf(buffer, size, "%s/qx-test-page-XXXXXX", WorkDir().c_str());
    int fd = ::mkstemp(buffer);
    if (fd < 0) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "No test page file in \"%s\": %s", WorkDir().c_str(),
                        std::strerror(errno));
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
    return size >= sizeof kMarker - 1 && std::memcmp(header, kMarker, sizeof kMarker - 1) == 0 ? kTestPageFormat
                                                                                                 : nullptr;
}

bool PrintTestPage(EngineJob& job, const JobSettings& settings, std::string* reason) {
    const setup::SetupModel& model = settings.model == &ModelB() ? setup::ModelB() : setup::ModelA();
    // What the driver reads now: the key the job has just written.
    setup::SettingsRecord record = setup::NewRecord(model);
    if (setup::LoadOrCreateSettings(model, record) != 0) {
        *reason = "the printer's settings cannot be read for its test page";
        return false;
    }
    if (!job.StartPage(reason)) return false;
    setup::DrawTestPage(static_cast<wce::HDC>(job.dc()), model, record, wce::GetACP());
    return job.EndDrawnPage(reason);
}

}  // namespace qxapp
