// What outlives a single connection: the paper width of the model, the image memory,
// the output folder and the numbering of the receipts and labels written there.
#pragma once

#include <functional>
#include <string>

#include "bitmap.h"
#include "log.h"
#include "nv_store.h"
#include "protocol/models.h"

namespace qxemu {

inline constexpr int kModelAPaperDots = qxproto::kModelA.dotsAcross;
inline constexpr int kModelBPaperDots = qxproto::kModelB.dotsAcross;

struct DeviceOptions {
    int paperWidth = kModelAPaperDots;
    std::string outDir = "qx-out";
    std::string nvPath;      // empty: <outDir>/nv-images.bin
    bool writeFiles = true;  // false: pages only go to the callback (tests, fuzzing)
};

enum class PageKind { kReceipt, kLabel };

struct PrintedPage {
    PageKind kind = PageKind::kReceipt;
    Bitmap bitmap;
    int quantity = 1;   // labels: the header's quantity
    std::string media;  // labels: the media words seen
    std::string file;   // the PNG written, empty when none
};

class Device {
  public:
    Device(DeviceOptions options, Log& log);

    // Makes the output folder, picks up the numbering after the files already there
    // and loads the image memory. False only when the folder cannot be made.
    bool Start(std::string* error);

    int PaperWidth() const { return options_.paperWidth; }
    Log& GetLog() { return log_; }
    NvStore& Nv() { return nv_; }
    // Writes the image memory file; failures go to the log.
    void SaveNv();

    // Writes the page as the next receipt-NNNN.png or label-NNNN.png.
    void Emit(PrintedPage page);
    void SetPageCallback(std::function<void(const PrintedPage&)> callback) {
        callback_ = std::move(callback);
    }

  private:
    std::string NextFile(PageKind kind);

    DeviceOptions options_;
    Log& log_;
    NvStore nv_;
    int receipts_ = 0;
    int labels_ = 0;
    std::function<void(const PrintedPage&)> callback_;
};

}  // namespace qxemu
