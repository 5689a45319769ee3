// The settings utility's test page as a job of the printer's: the page of the printer's
// model, in the server's language, showing the settings the job gave the driver.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "qx_models.h"

namespace qxapp {

class EngineJob;

// The document type of a test page job: a file that holds only the marker.
constexpr const char* kTestPageFormat = "application/vnd.qx-test-page";

// The server's side: the printer's test page hook (a new file of the marker in the
// state folder, which the job removes), and the recognition of such a file.
const char* TestPageFile(pappl_printer_t* printer, char* buffer, size_t size);
const char* TestPageType(const unsigned char* header, size_t size, void* data);

// The worker's side: the page drawn on the job's started document.
bool PrintTestPage(EngineJob& job, const JobSettings& settings, std::string* reason);

}  // namespace qxapp
