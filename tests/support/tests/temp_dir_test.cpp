#include "temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(TempDir, IsFreshAndGoesWithEverythingInIt) {
    std::string path;
    {
        qxtest::TempDir a("qxtemp"), b("qxtemp");
        ASSERT_TRUE(a.ok());
        EXPECT_NE(a.path(), b.path());
        EXPECT_TRUE(fs::is_empty(a.path()));
        path = a.path();
        EXPECT_EQ(a.File("deep"), path + "/deep");
        fs::create_directories(a.File("deep/er/still"));
        std::ofstream(a.File("deep/er/still/file")) << "data";
        fs::create_symlink("/", a.File("deep/root"));  // followed by nothing
    }
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists("/tmp"));
}

TEST(TempDir, StaysWhenTheTestAsksOrQxKeepIsSet) {
    std::string asked, byEnvironment;
    {
        qxtest::TempDir dir("qxtemp");
        dir.Keep();
        asked = dir.path();
    }
    ::setenv("QX_KEEP", "1", 1);
    {
        qxtest::TempDir dir("qxtemp");
        byEnvironment = dir.path();
    }
    ::unsetenv("QX_KEEP");
    EXPECT_TRUE(fs::is_directory(asked));
    EXPECT_TRUE(fs::is_directory(byEnvironment));
    fs::remove_all(asked);
    fs::remove_all(byEnvironment);
}
