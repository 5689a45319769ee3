// Tone conversion of a legal page (576 x 2845 dots) of text on white, a grey ramp and a
// photo-like area, beside ImageMagick's Floyd-Steinberg dither of the same page.
//
// The ImageMagick cases run `convert` as a child process (QX_CONVERT names another
// binary); they report wall time per page and the child's CPU time as "child_ms". The
// "copy" case only reads and writes the page, so the difference to the dither case is
// ImageMagick's conversion itself.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../drivers/printer/qx470/tests/page_test_support.h"
#include "page.h"
#include "printer_job.h"
#include "tone.h"
#include "wce/base.h"

extern char** environ;

namespace {

constexpr int kWidth = 576;
constexpr int kHeight = 2845;

struct Page {
    std::vector<unsigned char> bgr = std::vector<unsigned char>(std::size_t{kWidth} * kHeight * 3);
    void Set(int x, int y, int b, int g, int r) {
        unsigned char* p = &bgr[(std::size_t{static_cast<unsigned>(y)} * kWidth + x) * 3];
        p[0] = static_cast<unsigned char>(b);
        p[1] = static_cast<unsigned char>(g);
        p[2] = static_cast<unsigned char>(r);
    }
};

// A third of text (strokes of black on white), a third of grey ramp, a third of a
// smooth colour scene with grain.
const Page& MixedPage() {
    static const Page page = [] {
        Page p;
        unsigned state = 1;
        const int third = kHeight / 3;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                state = state * 1664525u + 1013904223u;
                const int grain = static_cast<int>(state >> 27) - 16;
                if (y < third) {
                    const bool ink = (y % 32) < 20 && (x % 14) < 9 &&
                                     ((x / 14 + y / 32) % 5) != 0 &&
                                     ((x + y) % 7 < 3 || (y % 32) < 3);
                    const int v = ink ? 0 : 255;
                    p.Set(x, y, v, v, v);
                } else if (y < 2 * third) {
                    const int v = x * 255 / (kWidth - 1);
                    p.Set(x, y, v, v, v);
                } else {
                    const double u = x / double(kWidth), w = (y - 2 * third) / double(third);
                    auto clamp = [](double v) { return v < 0 ? 0 : v > 255 ? 255 : int(v); };
                    p.Set(x, y, clamp(128 + 100 * std::sin(6 * u + w) + grain),
                          clamp(128 + 90 * std::cos(4 * w - 3 * u) + grain),
                          clamp(140 + 110 * std::sin(5 * u * w + 1) + grain));
                }
            }
        }
        return p;
    }();
    return page;
}

// Row by row (as the landscape turn hands them over), or in the engine's bands of 64 rows,
// where rows of white and black alone run in lanes.
void ConvertPage(benchmark::State& state, bool colour, bool bands = false) {
    qx470::PrinterJob job;
    if (!qx470::pagetest::SetUpPage(job, {.width = kWidth, .rows = kHeight, .colour = colour})) {
        state.SkipWithError("SetupPage failed");
        return;
    }
    const Page& page = MixedPage();
    wce::srand(1);
    for (auto _ : state) {
        job.rowParity = job.nextRow = 0;
        for (int y = 0; y < kHeight; y += bands ? 64 : 1) {
            const unsigned char* line =
                &page.bgr[std::size_t{static_cast<unsigned>(y)} * kWidth * 3];
            if (bands) {
                qx470::ConvertRows(job, line, kWidth * 3, std::min(64, kHeight - y));
            } else {
                qx470::ConvertRow(job, line);
            }
        }
        benchmark::DoNotOptimize(job.pageImage[0]);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{kWidth} * kHeight * 3);
    state.counters["rows redone"] =
        benchmark::Counter(double(qx470::RowsRedone()) / double(state.iterations()) / kHeight);
    state.counters["dots/s"] = benchmark::Counter(double(kWidth) * kHeight * state.iterations(),
                                                  benchmark::Counter::kIsRate);
    qx470::FreePage(job);
}

void BM_ConvertRowMonochrome(benchmark::State& state) {
    ConvertPage(state, false);
}
void BM_ConvertRowColour(benchmark::State& state) {
    ConvertPage(state, true);
}
void BM_ConvertRowsMonochromeInBands(benchmark::State& state) {
    ConvertPage(state, false, true);
}
BENCHMARK(BM_ConvertRowMonochrome)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertRowsMonochromeInBands)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertRowColour)->Unit(benchmark::kMillisecond);

std::string ConvertProgram() {
    if (const char* named = std::getenv("QX_CONVERT")) return named;
    if (access("/usr/bin/convert", X_OK) == 0) return "/usr/bin/convert";
    return "convert";
}

std::string TempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/qx_bench_tone_" + std::to_string(getpid()) + name;
}

bool WritePpm(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P6\n%d %d\n255\n", kWidth, kHeight);
    const Page& page = MixedPage();
    std::vector<unsigned char> rgb(page.bgr.size());
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = page.bgr[i + 2], rgb[i + 1] = page.bgr[i + 1], rgb[i + 2] = page.bgr[i];
    }
    const bool ok = std::fwrite(rgb.data(), 1, rgb.size(), f) == rgb.size();
    return std::fclose(f) == 0 && ok;
}

// Runs the program and returns the child's CPU time in seconds, or -1 on failure.
double RunChild(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void RunConvert(benchmark::State& state, bool dither) {
    const std::string in = TempPath(".ppm");
    const std::string out = TempPath(dither ? ".pbm" : "-copy.ppm");
    if (!WritePpm(in)) {
        state.SkipWithError("cannot write the page");
        return;
    }
    std::vector<std::string> args{ConvertProgram(), in};
    if (dither) {
        args.insert(args.end(),
                    {"-colorspace", "Gray", "-dither", "FloydSteinberg", "-monochrome"});
    }
    args.push_back(out);
    double childSeconds = 0;
    for (auto _ : state) {
        const double cpu = RunChild(args);
        if (cpu < 0) {
            state.SkipWithError("convert failed");
            break;
        }
        childSeconds += cpu;
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{kWidth} * kHeight * 3);
    state.counters["child_ms"] =
        1000.0 * childSeconds / double(std::max<std::int64_t>(state.iterations(), 1));
    std::remove(in.c_str());
    std::remove(out.c_str());
}

void BM_ImageMagickFloydSteinberg(benchmark::State& state) {
    RunConvert(state, true);
}
void BM_ImageMagickCopyOnly(benchmark::State& state) {
    RunConvert(state, false);
}
BENCHMARK(BM_ImageMagickFloydSteinberg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImageMagickCopyOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
