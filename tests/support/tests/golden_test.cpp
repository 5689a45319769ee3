#include "golden.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>

using namespace qxtest;

namespace {

// Baselines kept in memory, as files would keep them.
struct Store {
    std::map<std::string, Picture> files;
    Picture rendered;
    GoldenFiles Files() {
        GoldenFiles f;
        f.read = [this](const std::string& path, Picture* p, std::string* error) {
            auto it = files.find(path);
            if (it == files.end()) {
                *error = "not there";
                return false;
            }
            *p = it->second;
            return true;
        };
        f.writeRendered = [this](const std::string& path, std::string*) {
            files[path] = rendered;
            return true;
        };
        f.writeDiff = [this](const std::string& path, const Picture& diff, std::string*) {
            files[path] = diff;
            return true;
        };
        return f;
    }
};

Picture WithInk(int w, int h, std::initializer_list<std::pair<int, int>> dots) {
    Picture p(w, h);
    for (auto [x, y] : dots) p.At(x, y) = 0;
    return p;
}

class Golden : public ::testing::Test {
  protected:
    void TearDown() override { ::unsetenv("QX_UPDATE_GOLDEN"); }
};

}  // namespace

TEST_F(Golden, CountsDifferingPixelsAndAllOfThemWhenTheSizesDiffer) {
    EXPECT_EQ(CountDifferences(WithInk(4, 3, {{0, 0}, {1, 1}}), WithInk(4, 3, {{1, 1}, {3, 2}})),
              2u);
    EXPECT_EQ(CountDifferences(Picture(16, 4), Picture(16, 5)), 16u * 5u);
    EXPECT_EQ(CountDifferences(Picture(3, 9), Picture(5, 2)), 5u * 9u);
}

TEST_F(Golden, DiffShowsBothOverEachOther) {
    Picture diff = DiffPicture(WithInk(2, 2, {{0, 0}, {1, 0}}), WithInk(3, 1, {{0, 0}, {2, 0}}));
    ASSERT_EQ(diff.width, 3);
    ASSERT_EQ(diff.height, 2);
    EXPECT_EQ(diff.At(0, 0), 0x000000u);  // in both
    EXPECT_EQ(diff.At(1, 0), 0xFF0000u);  // only new
    EXPECT_EQ(diff.At(2, 0), 0x0000FFu);  // only old, outside the new picture
    EXPECT_EQ(diff.At(0, 1), 0xFFFFFFu);
}

TEST_F(Golden, AMismatchFailsWithTheCountAndADiffPicture) {
    Store store;
    store.files["g.png"] = WithInk(2, 2, {{0, 0}});
    Picture now = WithInk(2, 2, {{0, 0}, {1, 1}});
    store.rendered = now;
    GoldenOutcome o = CheckGolden(now, "g.png", "g-diff.png", store.Files());
    EXPECT_FALSE(o.matched);
    EXPECT_EQ(o.differing, 1u);
    EXPECT_EQ(o.message,
              "1 pixels differ from g.png (rendered 2 x 2, baseline 2 x 2); diff image g-diff.png");
    EXPECT_EQ(store.files["g-diff.png"].At(1, 1), 0xFF0000u);
    EXPECT_EQ(CountDifferences(store.files["g.png"], WithInk(2, 2, {{0, 0}})), 0u);  // untouched

    o = CheckGolden(now, "missing.png", "m-diff.png", store.Files());
    EXPECT_FALSE(o.matched);
    EXPECT_EQ(o.message,
              "no baseline missing.png (not there); run with QX_UPDATE_GOLDEN=1 to make it");
}

TEST_F(Golden, TheSwitchRewritesOnlyWhatDiffers) {
    Store store;
    store.files["same.png"] = WithInk(2, 2, {{1, 0}});
    store.files["old.png"] = WithInk(2, 2, {{0, 1}});
    store.rendered = WithInk(2, 2, {{1, 0}});
    ::setenv("QX_UPDATE_GOLDEN", "yes", 1);  // only 1 is the switch
    EXPECT_FALSE(CheckGolden(store.rendered, "old.png", "d.png", store.Files()).matched);
    ::setenv("QX_UPDATE_GOLDEN", "1", 1);
    GoldenOutcome same = CheckGolden(store.rendered, "same.png", "s-diff.png", store.Files());
    EXPECT_TRUE(same.matched);
    EXPECT_FALSE(same.updated);
    EXPECT_EQ(store.files.count("s-diff.png"), 0u);

    GoldenOutcome old = CheckGolden(store.rendered, "old.png", "o-diff.png", store.Files());
    EXPECT_TRUE(old.matched);
    EXPECT_TRUE(old.updated);
    EXPECT_EQ(old.differing, 2u);
    EXPECT_EQ(CountDifferences(store.files["old.png"], store.rendered), 0u);
    EXPECT_EQ(store.files["o-diff.png"].At(0, 1), 0x0000FFu);

    GoldenOutcome made = CheckGolden(store.rendered, "new.png", "n-diff.png", store.Files());
    EXPECT_TRUE(made.updated);
    EXPECT_EQ(store.files.count("new.png"), 1u);
}
