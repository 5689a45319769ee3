// The PDF reader: poppler and the fifteen libraries it brings are loaded by the job's
// worker only when a PDF job comes, from a module beside the worker program, so that
// the worker of every other job starts faster and takes less memory.
#pragma once

#include <cstdint>
#include <string>

namespace qxapp {

// Where the reader's pages go: the job's printer page, one after another.
class PdfPageSink {
  public:
    virtual ~PdfPageSink() = default;
    // The page a PDF page is scaled into: width dots across, at most rows long.
    virtual int width() = 0;
    virtual int rows() = 0;
    // A page of 8-bit grey (0 black, 255 white; width bytes a row) to print.
    virtual bool Page(const std::uint8_t* grey, int width, int rows, std::string* reason) = 0;
};

// The module's one entry point: reads the PDF file and hands over each page scaled to
// fit the sink's page, centred. False with a reason a client can read when the file
// cannot be printed (damaged, encrypted against printing, empty).
using RenderPdf = bool (*)(const std::string& path, PdfPageSink& sink, std::string* reason);
constexpr const char* kPdfModule = "qx-printer-app-pdf.so";
constexpr const char* kRenderPdf = "qx_render_pdf";

}  // namespace qxapp
