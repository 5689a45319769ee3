// The decoder fuzz target's seeds run through its entry point in the sanitizer build,
// so the extreme inputs kept there (huge and negative numbers, digits where the data
// starts) stay mended without a fuzzing run.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(EmuFuzzSeeds, EverySeedDecodes) {
    std::filesystem::path dir = std::filesystem::path(QX_SOURCE_DIR) / "emulator/fuzz/seeds";
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().filename().string());
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                         bytes.size()),
                  0);
        ++count;
    }
    EXPECT_GE(count, 10);
}

}  // namespace
