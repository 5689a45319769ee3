// SendEscPosPage over a legal page (576 x 2845) of receipt text and of a dithered
// photo, through the output buffer into an in-process parallel printer.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "../drivers/printer/qx470/tests/lzw_test_support.h"
#include "escpos.h"
#include "output.h"
#include "printer_job.h"
#include "wce/testdevice.h"

namespace {

constexpr int kWidthBytes = 72;
constexpr int kLegalRows = 2845;

class BenchPrinter {
  public:
    BenchPrinter() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/qxbench.XXXXXX";
        if (::mkdtemp(pattern.data())) dir_ = pattern;
        ::setenv("QX_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
        device_ = wce::RegisterTestParallelDevice(u"LPT1:");
        opened_ = qx470::PrinterOpenPort(job_, u"LPT1:") != -1;
    }
    ~BenchPrinter() {
        qx470::PrinterClosePort(job_);
        wce::UnregisterTestParallelDevice(u"LPT1:");
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    bool opened() const { return opened_; }
    qx470::PrinterJob& job() { return job_; }

    // Bytes the printer got since the last call.
    std::size_t Drain() {
        qx470::PrinterSend(job_);
        std::lock_guard<std::mutex> hold(device_->lock);
        std::size_t size = device_->received.size();
        device_->received.clear();
        device_->writes.clear();
        return size;
    }

  private:
    std::string dir_;
    std::shared_ptr<wce::TestParallelDevice> device_;
    qx470::PrinterJob job_;
    bool opened_ = false;
};

void SendPage(benchmark::State& state, std::vector<std::uint8_t> page, int feedBlankRows) {
    BenchPrinter printer;
    if (!printer.opened()) {
        state.SkipWithError("cannot open the test printer");
        return;
    }
    qx470::PrinterJob& job = printer.job();
    job.pageImage = page.data();
    job.bytesPerRow = kWidthBytes;
    job.allocatedRows = kLegalRows;
    job.printedLength = kLegalRows;
    std::size_t sent = 0;
    for (auto _ : state) {
        qx470::SendEscPosPage(job, feedBlankRows);
        sent = printer.Drain();
    }
    job.pageImage = nullptr;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
    state.counters["bytes_per_page"] = static_cast<double>(sent);
}

void BM_EscPosReceiptPage(benchmark::State& state) {
    SendPage(state, qx470::testsupport::ReceiptText(kWidthBytes, kLegalRows, 1), 1);
}
void BM_EscPosPhotoPage(benchmark::State& state) {
    SendPage(state, qx470::testsupport::DitheredPhoto(kWidthBytes, kLegalRows, 1), 1);
}
void BM_EscPosBlankPage(benchmark::State& state) {
    SendPage(state, std::vector<std::uint8_t>(kWidthBytes * kLegalRows, 0), 1);
}

BENCHMARK(BM_EscPosReceiptPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EscPosPhotoPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EscPosBlankPage)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
