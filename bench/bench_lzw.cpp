// The ZCG coder on photo and receipt content, beside Debian's ncompress (compress -b12)
// on the same bytes. The peer runs as a process per iteration on 32 pages at once, so
// starting it costs little against the coding.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../drivers/printer/qx470/tests/lzw_test_support.h"
#include "escpos.h"
#include "lzw.h"

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kWidthBytes = 72;
constexpr int kLegalRows = 2845;
constexpr int kPages = 32;

// The bands SendCpclPage would cut from a page: runs of non-blank rows, trimmed to
// their leftmost and rightmost ink bytes.
std::vector<Bytes> Bands(const Bytes& page) {
    std::vector<Bytes> bands;
    int start = -1, left = kWidthBytes, right = -1;
    auto flush = [&](int end) {
        Bytes band;
        for (int r = start; r < end; ++r) {
            const std::uint8_t* row = page.data() + static_cast<std::size_t>(r) * kWidthBytes;
            band.insert(band.end(), row + left, row + right + 1);
        }
        bands.push_back(band);
        start = -1, left = kWidthBytes, right = -1;
    };
    for (int r = 0; r < kLegalRows; ++r) {
        const std::uint8_t* row = page.data() + static_cast<std::size_t>(r) * kWidthBytes;
        int last = qx470::RightmostInkByte(row, kWidthBytes);
        if (last < 0) {
            if (start >= 0) flush(r);
            continue;
        }
        int first = 0;
        while (row[first] == 0) ++first;
        if (start < 0) start = r;
        left = std::min(left, first);
        right = std::max(right, last);
    }
    if (start >= 0) flush(kLegalRows);
    return bands;
}

struct Content {
    std::vector<Bytes> bands;  // what the driver codes, band by band
    Bytes pageBytes;           // all pages, for the peer
    std::size_t bandBytes = 0;
};

const Content& Photo() {
    static Content content = [] {
        Content c;
        for (int p = 0; p < kPages; ++p) {
            Bytes page = qx470::testsupport::DitheredPhoto(kWidthBytes, kLegalRows, p + 1);
            c.pageBytes.insert(c.pageBytes.end(), page.begin(), page.end());
            for (Bytes& band : Bands(page)) c.bands.push_back(std::move(band));
        }
        for (const Bytes& band : c.bands) c.bandBytes += band.size();
        return c;
    }();
    return content;
}

const Content& Receipt() {
    static Content content = [] {
        Content c;
        for (int p = 0; p < kPages; ++p) {
            Bytes page = qx470::testsupport::ReceiptText(kWidthBytes, kLegalRows, p + 1);
            c.pageBytes.insert(c.pageBytes.end(), page.begin(), page.end());
            for (Bytes& band : Bands(page)) c.bands.push_back(std::move(band));
        }
        for (const Bytes& band : c.bands) c.bandBytes += band.size();
        return c;
    }();
    return content;
}

void CodeBands(benchmark::State& state, const Content& content) {
    auto dictionary = std::make_unique<qx470::LzwDictionary>();
    Bytes output(qx470::LzwOutputBound(kWidthBytes * kLegalRows));
    std::size_t compressed = 0;
    for (auto _ : state) {
        compressed = 0;
        for (const Bytes& band : content.bands) {
            std::size_t length = band.size();
            qx470::LzwState lzw;
            if (band.size() >= 2) {
                qx470::LzwCompress(band.data(), output.data(), output.size(), *dictionary,
                                   band.size(), &length, lzw);
            }
            compressed += length;
            benchmark::DoNotOptimize(output.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.bandBytes));
    state.counters["bands"] = static_cast<double>(content.bands.size());
    state.counters["share_of_bands_pct"] = 100.0 * compressed / content.bandBytes;
    state.counters["share_of_page_pct"] = 100.0 * compressed / content.pageBytes.size();
}

void BM_LzwPhotoBands(benchmark::State& state) {
    CodeBands(state, Photo());
}
void BM_LzwReceiptBands(benchmark::State& state) {
    CodeBands(state, Receipt());
}

// Whole receipt pages coded as one input each, blank rows included.
void BM_LzwReceiptWholePages(benchmark::State& state) {
    const Bytes& all = Receipt().pageBytes;
    const std::size_t pageSize = static_cast<std::size_t>(kWidthBytes) * kLegalRows;
    auto dictionary = std::make_unique<qx470::LzwDictionary>();
    Bytes output(qx470::LzwOutputBound(pageSize));
    std::size_t compressed = 0;
    for (auto _ : state) {
        compressed = 0;
        for (std::size_t at = 0; at < all.size(); at += pageSize) {
            std::size_t length = 0;
            qx470::LzwState lzw;
            qx470::LzwCompress(all.data() + at, output.data(), output.size(), *dictionary, pageSize,
                               &length, lzw);
            compressed += length;
            benchmark::DoNotOptimize(output.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * all.size()));
    state.counters["share_of_page_pct"] = 100.0 * compressed / all.size();
}

std::string TempPath(const char* name) {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/qxbench." + std::to_string(getpid()) +
           "." + name;
}

// compress -b12 -c < in > out; the size of out, or -1.
long RunCompress(const std::string& in, const std::string& out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    char program[] = "/usr/bin/compress", bits[] = "-b12", toStdout[] = "-c";
    char* argv[] = {program, bits, toStdout, nullptr};
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    struct stat info {};
    if (!WIFEXITED(status) || stat(out.c_str(), &info) != 0) return -1;
    return static_cast<long>(info.st_size);
}

void PeerCompress(benchmark::State& state, const Content& content, const char* name) {
    const std::string in = TempPath(name), out = in + ".Z";
    FILE* file = std::fopen(in.c_str(), "wb");
    if (file == nullptr) {
        state.SkipWithError("cannot write the input file");
        return;
    }
    std::fwrite(content.pageBytes.data(), 1, content.pageBytes.size(), file);
    std::fclose(file);
    long size = 0;
    for (auto _ : state) {
        size = RunCompress(in, out);
        if (size < 0) {
            state.SkipWithError("/usr/bin/compress did not run (apt-get install ncompress)");
            break;
        }
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.pageBytes.size()));
    state.counters["share_of_page_pct"] = 100.0 * size / content.pageBytes.size();
}

void BM_PeerCompressB12Photo(benchmark::State& state) {
    PeerCompress(state, Photo(), "photo");
}
void BM_PeerCompressB12Receipt(benchmark::State& state) {
    PeerCompress(state, Receipt(), "receipt");
}

BENCHMARK(BM_LzwPhotoBands)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerCompressB12Photo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LzwReceiptBands)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzwReceiptWholePages)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerCompressB12Receipt)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
