// Documents the application takes beside images and raster pages: each is laid out and
// drawn by the job's worker process, through the engine and the driver, page by page.
#pragma once

#include <string>
#include <vector>

namespace qxapp {

class EngineJob;

constexpr const char* kPdfFormat = "application/pdf";
constexpr const char* kTextFormat = "text/plain";
// The MIME types PrintDocument takes; each becomes a filter of the server.
inline const std::vector<const char*>& DocumentFormats() {
    static const std::vector<const char*> formats{kPdfFormat, kTextFormat};
    return formats;
}

// Prints the file, of one of DocumentFormats(), on the job's started document: each page
// started, drawn and ended on the job's device context. False with a reason a client
// can read when the file cannot be printed (damaged, empty, of another kind).
bool PrintDocument(EngineJob& job, const std::string& path, const std::string& format,
                   std::string* reason);

}  // namespace qxapp
