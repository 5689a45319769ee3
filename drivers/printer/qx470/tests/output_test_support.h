// A driver job bound to an in-process parallel printer, so a test sees every byte the
// driver sends and every port write it makes; with a private registry and debug log.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cpcl.h"
#include "output.h"
#include "printer_job.h"
#include "temp_dir.h"
#include "wce/testdevice.h"

namespace qx470::testsupport {

class PrinterCapture {
  public:
    explicit PrinterCapture(std::u16string deviceName = u"LPT1:") : name_(std::move(deviceName)) {
        ::setenv("QX_REGISTRY", dir_.File("registry.reg").c_str(), 1);
        ::setenv("QX_DEBUG_LOG", DebugLogPath().c_str(), 1);
        device_ = wce::RegisterTestParallelDevice(name_);
    }
    ~PrinterCapture() {
        PrinterClosePort(*job_);
        FreeCpclBuffers(*job_);
        wce::UnregisterTestParallelDevice(name_);
    }

    PrinterJob& job() { return *job_; }
    wce::TestParallelDevice& device() { return *device_; }
    bool Open() { return PrinterOpenPort(*job_, name_.c_str()) != -1; }

    // Sends what is buffered and returns everything the printer received, once.
    std::string Take() {
        PrinterSend(*job_);
        std::lock_guard<std::mutex> hold(device_->lock);
        std::string bytes;
        bytes.swap(device_->received);
        device_->writes.clear();
        return bytes;
    }
    std::vector<std::size_t> WriteSizes() {
        std::lock_guard<std::mutex> hold(device_->lock);
        std::vector<std::size_t> sizes;
        for (const auto& write : device_->writes) sizes.push_back(write.size());
        return sizes;
    }

    std::string DebugLogPath() const { return dir_.File("debug.log"); }
    std::string DebugLog() const {
        std::ifstream in(DebugLogPath(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // A zeroed page image of rows x bytesPerRow owned by this capture.
    void SetPage(int bytesPerRow, int rows, int printableWidth = 0) {
        page_.assign(static_cast<std::size_t>(bytesPerRow) * rows, 0);
        PrinterJob& job = *job_;
        job.pageImage = page_.data();
        job.bytesPerRow = bytesPerRow;
        job.pageWidth = bytesPerRow * 8;
        job.allocatedRows = rows;
        job.printedLength = rows;
        job.printableWidth = printableWidth ? printableWidth : bytesPerRow * 8;
    }
    wce::BYTE* Row(int row) {
        return page_.data() + static_cast<std::size_t>(row) * job_->bytesPerRow;
    }
    std::vector<wce::BYTE>& page() { return page_; }

  private:
    std::u16string name_;
    qxtest::TempDir dir_{"qxout"};
    std::shared_ptr<wce::TestParallelDevice> device_;
    std::unique_ptr<PrinterJob> job_ = std::make_unique<PrinterJob>();
    std::vector<wce::BYTE> page_;
};

inline std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char b : bytes) {
        if (!text.empty()) text += ' ';
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

inline std::string Raw(std::initializer_list<int> bytes) {
    std::string text;
    for (int b : bytes) text += static_cast<char>(b);
    return text;
}

}  // namespace qx470::testsupport
