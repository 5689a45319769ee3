#include "golden.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "png_io.h"

namespace qxemu {

bool GoldenUpdateRequested() {
    const char* value = std::getenv("QX_UPDATE_GOLDEN");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

std::size_t CountDifferences(const Bitmap& a, const Bitmap& b) {
    int width = std::max(a.Width(), b.Width());
    int height = std::max(a.Height(), b.Height());
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    }
    std::size_t n = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) n += a.Dot(x, y) != b.Dot(x, y) ? 1 : 0;
    }
    return n;
}

bool WriteDiffPng(const std::string& path, const Bitmap& actual, const Bitmap& expected,
                  std::string* error) {
    int width = std::max({actual.Width(), expected.Width(), 1});
    int height = std::max({actual.Height(), expected.Height(), 1});
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3, 255);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool a = actual.Dot(x, y);
            bool e = expected.Dot(x, y);
            std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            if (a && e) p[0] = p[1] = p[2] = 0;
            if (a && !e) p[0] = 255, p[1] = 0, p[2] = 0;
            if (!a && e) p[0] = 0, p[1] = 0, p[2] = 255;
        }
    }
    return WriteRgbPng(path, width, height, rgb, error);
}

namespace {

std::string SizeText(const Bitmap& b) {
    return std::to_string(b.Width()) + " x " + std::to_string(b.Height());
}

GoldenOutcome Rebaseline(const Bitmap& actual, const Bitmap* old, const std::string& goldenPath,
                         const std::string& diffPath) {
    GoldenOutcome outcome;
    std::string error;
    if (old != nullptr) {
        outcome.differing = CountDifferences(actual, *old);
        if (outcome.differing == 0) {
            outcome.matched = true;
            return outcome;
        }
        WriteDiffPng(diffPath, actual, *old, &error);
    }
    if (!WritePng(goldenPath, actual, {}, &error)) {
        outcome.message = "cannot rewrite baseline: " + error;
        return outcome;
    }
    outcome.matched = true;
    outcome.updated = true;
    outcome.message = "baseline " + goldenPath + " rewritten";
    return outcome;
}

}  // namespace

GoldenOutcome CheckGolden(const Bitmap& actual, const std::string& goldenPath,
                          const std::string& diffPath) {
    Bitmap expected;
    std::string error;
    bool haveBaseline = ReadPng(goldenPath, &expected, &error);
    if (GoldenUpdateRequested()) {
        return Rebaseline(actual, haveBaseline ? &expected : nullptr, goldenPath, diffPath);
    }
    GoldenOutcome outcome;
    if (!haveBaseline) {
        outcome.message = "no baseline (" + error + "); run with QX_UPDATE_GOLDEN=1 to make it";
        return outcome;
    }
    outcome.differing = CountDifferences(actual, expected);
    outcome.matched = outcome.differing == 0;
    if (!outcome.matched) {
        WriteDiffPng(diffPath, actual, expected, &error);
        outcome.message = std::to_string(outcome.differing) + " pixels differ (rendered " +
                          SizeText(actual) + ", baseline " + SizeText(expected) + "); diff image " +
                          diffPath;
    }
    return outcome;
}

}  // namespace qxemu
