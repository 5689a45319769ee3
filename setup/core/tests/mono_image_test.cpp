// Bitmap files into image blocks: files of every depth that ImageMagick wrote against the
// reference conversion, the block's edges, and each depth's threshold.
#include <gtest/gtest.h>

#include "bmp_test_support.h"
#include "mono_image.h"
#include "wce/ui.h"

namespace qxsetup::testing {
namespace {

class MonoImageTest : public ::testing::Test {
  protected:
    Bytes BlockOf(const std::string& path) {
        MonoImage image;
        return LoadMonoImage(Wide(path).c_str(), &image) ? BuildNvImageBlock(image) : Bytes{};
    }
    Bytes BlockOf(const Bytes& file) {
        WriteBytes(dir_.File("written.bmp"), file);
        return BlockOf(dir_.File("written.bmp"));
    }
    // The dots of the block's top row, from the left.
    static std::vector<int> TopRow(const Bytes& block, int count) {
        std::vector<int> dots;
        for (int x = 0; x < count; ++x) dots.push_back(block[4 + std::size_t(x * block[2])] >> 7);
        return dots;
    }
    void TearDown() override { EXPECT_TRUE(boxes_.shown().empty()); }

    TempDir dir_;
    wce::ScriptedMessageBoxes boxes_;
};

// A grey ramp, a black and a white box, 37 dots wide so that no row fills its stride.
TEST_F(MonoImageTest, FilesOfEveryDepthMatchTheReference) {
    const std::string picture =
        "-size 37x21 gradient:white-black -fill black -draw 'rectangle 3,2 20,10' "
        "-fill white -draw 'rectangle 25,3 33,17' -compress none ";
    const std::pair<int, const char*> depths[] = {{1, "-type bilevel"},
                                                  {4, "-colors 12 -type palette"},
                                                  {8, "-type palette"},
                                                  {24, "-type truecolor"}};
    for (auto [bpp, type] : depths) {
        SCOPED_TRACE(bpp);
        std::string path = dir_.File(std::to_string(bpp) + ".bmp");
        ASSERT_TRUE(Convert(picture + type, path));
        Bytes file = ReadBytes(path);
        ASSERT_EQ(file[28], bpp) << "convert wrote another depth";
        Bytes block = BlockOf(path);
        EXPECT_EQ(block, ReferenceBlock(file));
        ASSERT_EQ(block.size(), 4u + 5 * 8 * 3);
        if (bpp == 1 || bpp == 24) {  // by colour; 4 and 8 bits go by palette index
            EXPECT_EQ(block[4 + 10 * 3] & 0x04, 0x04);   // (10, 5) in the black box
            EXPECT_EQ(block[4 + 29 * 3 + 1] & 0x20, 0);  // (29, 10) in the white box
        }
        // The later information headers that convert writes by default give the same.
        ASSERT_TRUE(Convert(picture + type, dir_.File("later.bmp"), "BMP"));
        ASSERT_GT(Get32(ReadBytes(dir_.File("later.bmp")), 14), 40u);
        Bytes later = ReadBytes(dir_.File("later.bmp"));
        EXPECT_EQ(BlockOf(later), block);
        if (bpp != 1) continue;
        // Its palette follows the longer header: swapped entries with inverted bits are
        // the same picture.
        std::size_t palette = 14 + Get32(later, 14);
        for (std::size_t i = 0; i < 4; ++i) std::swap(later[palette + i], later[palette + 4 + i]);
        for (std::size_t i = Get32(later, 10); i < later.size(); ++i) later[i] = ~later[i];
        EXPECT_EQ(BlockOf(later), block);
    }
}

TEST_F(MonoImageTest, BlockEdges) {
    // One dot: one unit each way; only the first byte's top bit can be set.
    ASSERT_TRUE(Convert("-size 1x1 xc:black -type bilevel", dir_.File("one.bmp")));
    EXPECT_EQ(BlockOf(dir_.File("one.bmp")), (Bytes{1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}));
    // 10 x 9 black: columns 10-15 and rows 9-15 are padding and stay white.
    Bytes tenByNine{2, 0, 2, 0};
    for (int x = 0; x < 16; ++x)
        tenByNine.insert(tenByNine.end(), {Bytes::value_type(x < 10 ? 0xFF : 0),
                                           Bytes::value_type(x < 10 ? 0x80 : 0)});
    for (const char* type : {"-type truecolor", "-type bilevel"}) {
        ASSERT_TRUE(Convert(std::string("-size 10x9 xc:black ") + type, dir_.File("ten.bmp")));
        EXPECT_EQ(BlockOf(dir_.File("ten.bmp")), tenByNine) << type;
    }
    // The picture's top row is the file's last; it goes in bit 7 of each column's first byte.
    ASSERT_TRUE(Convert("-size 16x12 xc:white -fill black -draw 'line 0,0 15,0' -type truecolor",
                        dir_.File("top.bmp")));
    Bytes top{2, 0, 2, 0};
    for (int x = 0; x < 16; ++x) top.insert(top.end(), {0x80, 0});
    EXPECT_EQ(BlockOf(dir_.File("top.bmp")), top);
}

TEST_F(MonoImageTest, ThresholdOfEachDepth) {
    // 1 bit: a first palette entry that is black inverts the bits; padding stays white.
    EXPECT_EQ(TopRow(BlockOf(MakeBmp(1, 3, {{0xA0}}, {0xFFFFFF, 0})), 4),
              (std::vector<int>{1, 0, 1, 0}));
    EXPECT_EQ(TopRow(BlockOf(MakeBmp(1, 3, {{0xA0}}, {0, 0xFFFFFF})), 4),
              (std::vector<int>{0, 1, 0, 0}));
    // 4 bits: index 7 is black and 8 white, in the high and the low nibble alike.
    EXPECT_EQ(TopRow(BlockOf(MakeBmp(4, 4, {{0x78, 0x87}})), 4), (std::vector<int>{1, 0, 0, 1}));
    // 8 bits, 5 wide: the second row starts on its own 4-byte boundary, without skew.
    Bytes eight = BlockOf(MakeBmp(8, 5, {{127, 128, 0, 255, 127}, {128, 0, 200, 1, 128}}));
    EXPECT_EQ(TopRow(eight, 5), (std::vector<int>{1, 0, 1, 0, 1}));
    for (int x = 0; x < 5; ++x) EXPECT_EQ(eight[4 + std::size_t(x)] >> 6 & 1, x % 2) << x;
    // 16 bits: FF FF white, 00 00 black; 250 141 has level 3 + 11 + 2 = 16 with each
    // product cut on its own and the weight 0.229 (one cut of the sum, or 0.299, make it
    // white), 250 142 level 17.
    EXPECT_EQ(TopRow(BlockOf(MakeBmp(16, 4, {{0xFF, 0xFF, 0, 0, 250, 141, 250, 142}})), 4),
              (std::vector<int>{0, 1, 1, 0}));
    // 24 bits, one cut of the whole sum: white 255, grey 128 sums to 128 (cut products
    // would give 127), grey 127 falls just short of 127.
    EXPECT_EQ(TopRow(BlockOf(MakeBmp(24, 3, {{255, 255, 255, 128, 128, 128, 127, 127, 127}})), 3),
              (std::vector<int>{0, 0, 1}));
}

}  // namespace
}  // namespace qxsetup::testing
