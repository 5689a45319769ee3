// Pictures compared pixel for pixel with golden PNG files. QX_UPDATE_GOLDEN=1 in the
// environment rewrites every baseline a test checks with what it rendered; where the old
// one differed, a diff picture is written (black: in both, red: only new, blue: only
// old). Without the switch a mismatch fails with the count of differing pixels and
// writes the same diff picture.
//
// This is the comparison itself; golden_page.h holds it to printed pages and
// golden_qimage.h to pictures of dialogs, each with its own PNG files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qxtest {

bool GoldenUpdateRequested();

// A picture as the comparison sees it: 0xRRGGBB a pixel, row after row.
struct Picture {
    static constexpr std::uint32_t kWhite = 0xFFFFFF;
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> rgb;

    Picture() = default;
    Picture(int w, int h) : width(w), height(h), rgb(std::size_t(w) * std::size_t(h), kWhite) {}
    std::uint32_t At(int x, int y) const { return rgb[std::size_t(y) * width + x]; }
    std::uint32_t& At(int x, int y) { return rgb[std::size_t(y) * width + x]; }
    // White outside the picture.
    std::uint32_t Around(int x, int y) const { return x < width && y < height ? At(x, y) : kWhite; }
};

// Pixels that differ; when the sizes differ, every pixel of the larger extent.
std::size_t CountDifferences(const Picture& a, const Picture& b);

// Both over each other, as the update switch's message describes it.
Picture DiffPicture(const Picture& actual, const Picture& expected);

struct GoldenOutcome {
    bool matched = false;
    bool updated = false;       // the baseline was rewritten
    std::size_t differing = 0;  // pixels that differ
    std::string message;        // what differed or failed, for the test's failure text
};

// How one kind of picture keeps its files: reads a baseline, writes what was rendered
// as a baseline in its own format, and writes a diff picture.
struct GoldenFiles {
    std::function<bool(const std::string& path, Picture* baseline, std::string* error)> read;
    std::function<bool(const std::string& path, std::string* error)> writeRendered;
    std::function<bool(const std::string& path, const Picture& diff, std::string* error)> writeDiff;
};

// Compares actual with the baseline at goldenPath. A mismatch (or a missing baseline)
// fails and writes the diff picture to diffPath; with the update switch the baseline
// is rewritten instead (when it differs) and the outcome counts as matched.
GoldenOutcome CheckGolden(const Picture& actual, const std::string& goldenPath,
                          const std::string& diffPath, const GoldenFiles& files);

}  // namespace qxtest
