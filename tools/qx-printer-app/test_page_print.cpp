// The settings utility's test page, drawn in the job's worker process.
#include "engine_job.h"
#include "test_page.h"
#include "test_page_job.h"
#include "wce/base.h"
#include "wce/gdi.h"

namespace qxapp {

bool PrintTestPage(EngineJob& job, const JobSettings& settings, std::string* reason) {
    const setup::SetupModel& model =
        settings.model == &ModelB() ? setup::ModelB() : setup::ModelA();
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
