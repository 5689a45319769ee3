#include "device.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "png_io.h"

namespace qxemu {

namespace {

std::string NvPathFor(const DeviceOptions& o) {
    return o.nvPath.empty() ? o.outDir + "/nv-images.bin" : o.nvPath;
}

// The number in "prefix-NNNN.png", or 0.
int FileNumber(const std::string& name, const std::string& prefix) {
    if (name.rfind(prefix, 0) != 0 || name.size() < prefix.size() + 5) return 0;
    if (name.compare(name.size() - 4, 4, ".png") != 0) return 0;
    int n = 0;
    for (std::size_t i = prefix.size(); i + 4 < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 10000000) return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

}  // namespace

Device::Device(DeviceOptions options, Log& log)
    : options_(std::move(options)), log_(log), nv_(NvPathFor(options_)) {}

bool Device::Start(std::string* error) {
    if (options_.writeFiles) {
        std::error_code ec;
        std::filesystem::create_directories(options_.outDir, ec);
        if (ec) {
            *error = "cannot make output folder " + options_.outDir + ": " + ec.message();
            return false;
        }
        // Earlier runs' pictures are kept: numbering goes on after the highest one.
        for (const auto& entry : std::filesystem::directory_iterator(options_.outDir, ec)) {
            std::string name = entry.path().filename().string();
            receipts_ = std::max(receipts_, FileNumber(name, "receipt-"));
            labels_ = std::max(labels_, FileNumber(name, "label-"));
        }
    }
    if (!options_.writeFiles) return true;
    std::string message;
    if (!nv_.Load(&message)) log_.Error(0, "image memory", message);
    log_.Line("image memory " + nv_.Path() + ": " + std::to_string(nv_.Count()) +
              " image(s) stored");
    return true;
}

void Device::SaveNv() {
    if (!options_.writeFiles) return;
    std::string error;
    if (!nv_.Save(&error)) log_.Error(0, "image memory", error);
}

std::string Device::NextFile(PageKind kind) {
    int n = kind == PageKind::kReceipt ? ++receipts_ : ++labels_;
    char name[32];
    std::snprintf(name, sizeof name, "%s-%04d.png",
                  kind == PageKind::kReceipt ? "receipt" : "label", n);
    return options_.outDir + "/" + name;
}

void Device::Emit(PrintedPage page) {
    const char* what = page.kind == PageKind::kReceipt ? "receipt" : "label";
    std::string size = std::to_string(page.bitmap.Width()) + " x " +
                       std::to_string(page.bitmap.Height()) + " dots";
    if (options_.writeFiles) {
        page.file = NextFile(page.kind);
        PngText text = {{"Software", "qx-emulator"}};
        if (page.kind == PageKind::kLabel) {
            text.push_back({"Quantity", std::to_string(page.quantity)});
            if (!page.media.empty()) text.push_back({"Media", page.media});
        }
        std::string error;
        if (!WritePng(page.file, page.bitmap, text, &error)) {
            log_.Error(0, what, "cannot write " + page.file + ": " + error);
            page.file.clear();
        }
    }
    std::string line = std::string("=> ") + what + " " +
                       (page.file.empty() ? "(not written)" : page.file) + ": " + size;
    if (page.kind == PageKind::kLabel) {
        line += ", quantity " + std::to_string(page.quantity);
        if (!page.media.empty()) line += ", " + page.media;
    }
    log_.Line(line);
    if (callback_) callback_(page);
}

}  // namespace qxemu
