// The PDF reader module (pdf_reader.h): poppler renders each page in grey, scaled to
// the printed width, or less where the page would be longer than the paper.
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "pdf_reader.h"

namespace qxapp {
namespace {

// Poppler tells what it found wrong on standard error; the first word of it goes into
// the job's reason instead.
void KeepPopplerError(const std::string& message, void* closure) {
    auto* first = static_cast<std::string*>(closure);
    if (first->empty()) *first = message;
}

// Draws the picture on a white page of width by rows dots, centred, as the server
// centres a PNG it scales to fit.
std::vector<std::uint8_t> Centred(const poppler::image& picture, int width, int rows) {
    std::vector<std::uint8_t> page(size_t(width) * size_t(rows), 255);
    int w = std::min(picture.width(), width), h = std::min(picture.height(), rows);
    int left = (width - w) / 2, top = (rows - h) / 2;
    const char* data = picture.const_data();
    for (int y = 0; y < h; ++y)
        std::memcpy(&page[size_t(top + y) * size_t(width) + size_t(left)],
                    data + size_t(y) * size_t(picture.bytes_per_row()), size_t(w));
    return page;
}

bool PrintPdfPage(PdfPageSink& job, const poppler::document& doc, int index, std::string* reason) {
    std::string which = "page " + std::to_string(index + 1) + " of the PDF";
    std::unique_ptr<poppler::page> page(doc.create_page(index));
    if (!page) return *reason = which + " cannot be read", false;
    poppler::rectf box = page->page_rect(poppler::crop_box);
    double w = box.width(), h = box.height();
    // The page's own turn is drawn by the renderer.
    if (page->orientation() == poppler::page::landscape ||
        page->orientation() == poppler::page::seascape)
        std::swap(w, h);
    if (!(w >= 1 && h >= 1)) return *reason = which + " has no size", false;
    // Scaled to the printed width, or less where the page would be longer than the paper.
    int rows = job.rows();
    double scale = std::min(job.width() / w, rows / h);
    poppler::page_renderer renderer;
    renderer.set_image_format(poppler::image::format_gray8);
    renderer.set_render_hint(poppler::page_renderer::antialiasing);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing);
    poppler::image picture = renderer.render_page(page.get(), 72.0 * scale, 72.0 * scale);
    if (!picture.is_valid() || picture.format() != poppler::image::format_gray8)
        return *reason = which + " cannot be rendered", false;
    return job.Page(Centred(picture, job.width(), rows).data(), job.width(), rows, reason);
}

}  // namespace

bool PrintPdf(PdfPageSink& job, const std::string& path, std::string* reason) {
    std::ifstream probe(path, std::ios::binary | std::ios::ate);
    if (!probe) return *reason = "the document cannot be read from the spool", false;
    if (probe.tellg() <= 0) return *reason = "the PDF file is empty", false;
    probe.close();
    std::string popplerSays;
    poppler::set_debug_error_function(KeepPopplerError, &popplerSays);
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path));
    bool ok = false;
    if (!doc) {
        *reason = "the PDF is damaged and cannot be read" +
                  (popplerSays.empty() ? "" : " (" + popplerSays + ")");
    } else if (doc->is_locked()) {
        *reason = "the PDF is encrypted with a password; print it unprotected";
    } else if (doc->is_encrypted() && !doc->has_permission(poppler::perm_print)) {
        *reason = "the PDF is encrypted and its author does not allow it to be printed";
    } else if (doc->pages() < 1) {
        *reason = "the PDF has no pages";
    } else {
        ok = true;
        for (int i = 0; ok && i < doc->pages(); ++i) ok = PrintPdfPage(job, *doc, i, reason);
    }
    doc.reset();
    poppler::set_debug_error_function(nullptr, nullptr);
    return ok;
}

}  // namespace qxapp

extern "C" __attribute__((visibility("default"))) bool qx_render_pdf(const std::string& path,
                                                                     qxapp::PdfPageSink& sink,
                                                                     std::string* reason) {
    return qxapp::PrintPdf(sink, path, reason);
}
