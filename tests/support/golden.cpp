#include "golden.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qxtest {

bool GoldenUpdateRequested() {
    const char* value = std::getenv("QX_UPDATE_GOLDEN");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

std::size_t CountDifferences(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height) {
        return std::size_t(std::max(a.width, b.width)) * std::size_t(std::max(a.height, b.height));
    }
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) n += a.rgb[i] != b.rgb[i] ? 1 : 0;
    return n;
}

Picture DiffPicture(const Picture& actual, const Picture& expected) {
    Picture diff(std::max({actual.width, expected.width, 1}),
                 std::max({actual.height, expected.height, 1}));
    for (int y = 0; y < diff.height; ++y) {
        for (int x = 0; x < diff.width; ++x) {
            std::uint32_t a = actual.Around(x, y), e = expected.Around(x, y);
            if (a == e) {
                diff.At(x, y) = a == Picture::kWhite ? Picture::kWhite : 0x000000;
            } else {
                diff.At(x, y) = a != Picture::kWhite ? 0xFF0000 : 0x0000FF;
            }
        }
    }
    return diff;
}

namespace {

std::string SizeText(const Picture& p) {
    return std::to_string(p.width) + " x " + std::to_string(p.height);
}

GoldenOutcome Rebaseline(const Picture& actual, const Picture* old, const std::string& goldenPath,
                         const std::string& diffPath, const GoldenFiles& files) {
    GoldenOutcome outcome;
    std::string error;
    if (old != nullptr) {
        outcome.differing = CountDifferences(actual, *old);
        if (outcome.differing == 0) {
            outcome.matched = true;
            return outcome;
        }
        files.writeDiff(diffPath, DiffPicture(actual, *old), &error);
    }
    if (!files.writeRendered(goldenPath, &error)) {
        outcome.message = "cannot rewrite baseline " + goldenPath + ": " + error;
        return outcome;
    }
    outcome.matched = true;
    outcome.updated = true;
    outcome.message = "baseline " + goldenPath + " rewritten";
    return outcome;
}

}  // namespace

GoldenOutcome CheckGolden(const Picture& actual, const std::string& goldenPath,
                          const std::string& diffPath, const GoldenFiles& files) {
    Picture expected;
    std::string error;
    bool haveBaseline = files.read(goldenPath, &expected, &error);
    if (GoldenUpdateRequested()) {
        return Rebaseline(actual, haveBaseline ? &expected : nullptr, goldenPath, diffPath, files);
    }
    GoldenOutcome outcome;
    if (!haveBaseline) {
        outcome.message = "no baseline " + goldenPath + " (" + error +
                          "); run with QX_UPDATE_GOLDEN=1 to make it";
        return outcome;
    }
    outcome.differing = CountDifferences(actual, expected);
    outcome.matched = outcome.differing == 0;
    if (!outcome.matched) {
        files.writeDiff(diffPath, DiffPicture(actual, expected), &error);
        outcome.message = std::to_string(outcome.differing) + " pixels differ from " + goldenPath +
                          " (rendered " + SizeText(actual) + ", baseline " + SizeText(expected) +
                          "); diff image " + diffPath;
    }
    return outcome;
}

}  // namespace qxtest
