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
        // Every depth by colour: the boxes come out as they look.
        EXPECT_EQ(block[4 + 10 * 3] & 0x04, 0x04);   // (10, 5) in the black box
        EXPECT_EQ(block[4 + 29 * 3 + 1] & 0x20, 0);  // (29, 10) in the white box
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
    // 16 bits, 5-5-5 little-endian words: white, black, grey 15 (123, black), grey 16
    // (131, white), pure green (white) and pure red (black); read as big-endian words
    // green and red would swap.
    EXPECT_EQ(
        TopRow(BlockOf(MakeBmp(
                   16, 6, {{0xFF, 0x7F, 0, 0, 0xEF, 0x3D, 0x10, 0x42, 0xE0, 0x03, 0x00, 0x7C}})),
               6),
        (std::vector<int>{0, 1, 1, 0, 0, 1}));
    // 24 bits, one cut of the whole sum: white 255, grey 128 sums to 128 (cut products
    // would give 127), grey 127 falls just short of 127.
    EXPECT_EQ(TopRow(BlockOf(MakeBmp(24, 3, {{255, 255, 255, 128, 128, 128, 127, 127, 127}})), 3),
              (std::vector<int>{0, 0, 1}));
}

// Flat colours on both sides of the threshold: red, green and blue are dark, yellow, cyan
// and light grey are light, below them a strip of dark greys. Written as 24 bits, it
// is the image the colours show.
const char kColourPicture[] =
    "-size 40x18 xc:white -fill red -draw 'rectangle 0,0 9,8' -fill yellow -draw 'rectangle 10,0 "
    "19,8' "
    "-fill blue -draw 'rectangle 20,0 29,8' -fill cyan -draw 'rectangle 30,0 39,8' "
    "-fill '#008000' -draw 'rectangle 0,9 19,17' -fill '#C0C0C0' -draw 'rectangle 20,9 29,17' "
    "-fill black -draw 'rectangle 30,9 39,17' "
    "\\( -size 4x40 gradient:black-#303030 -rotate 90 \\) -append -compress none ";  // dark greys:
                                                                                     // more than 16
                                                                                     // colours

TEST_F(MonoImageTest, PaletteAndSixteenBitFilesOfOtherWritersPrintTheirColours) {
    ASSERT_TRUE(Convert(std::string(kColourPicture) + "-type truecolor", dir_.File("24.bmp")));
    const Bytes expected = BlockOf(dir_.File("24.bmp"));
    ASSERT_EQ(TopRow(expected, 40)[5], 1);   // red
    ASSERT_EQ(TopRow(expected, 40)[15], 0);  // yellow
    const std::pair<const char*, int> writers[] = {
        {"-type palette", 8},
        {"-colors 16 -type palette", 4},
        {"-type truecolor -define bmp:subtype=RGB565", 16}};
    for (auto [options, bpp] : writers) {
        SCOPED_TRACE(options);
        std::string path = dir_.File(std::to_string(bpp) + ".bmp");
        ASSERT_TRUE(
            Convert(std::string(kColourPicture) + options, path, bpp == 16 ? "BMP" : "BMP3"));
        Bytes file = ReadBytes(path);
        ASSERT_EQ(file[28], bpp) << "convert wrote another depth";
        EXPECT_EQ(BlockOf(path), expected);
        if (bpp != 16)
            EXPECT_EQ(BlockOf(path), ReferenceBlock(file));  // 5-6-5 masks: the 24-bit file tells
    }
    // Adaptive palettes in any order, as other libraries write them: white first, and
    // the colours in the order they were found.
    const std::vector<std::uint32_t> whiteFirst = {0xFFFFFF, 0xFF0000, 0xFFFF00, 0x0000FF,
                                                   0x00FFFF, 0x008000, 0xC0C0C0, 0x000000};
    std::vector<Bytes> rows8, rows24;
    Bytes top = {1, 2, 3, 4, 0, 5, 6, 7};  // red yellow blue cyan white green grey black
    for (int y = 0; y < 2; ++y) {
        rows8.push_back(top);
        rows24.emplace_back();
        for (std::uint8_t index : top)
            for (int shift : {0, 8, 16})
                rows24.back().push_back(std::uint8_t(whiteFirst[index] >> shift));
    }
    const Bytes truecolour = BlockOf(MakeBmp(24, 8, rows24));
    EXPECT_EQ(TopRow(truecolour, 8), (std::vector<int>{1, 0, 1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(BlockOf(MakeBmp(8, 8, rows8, whiteFirst)), truecolour);
    std::vector<Bytes> rows4(2, Bytes{0x12, 0x34, 0x05, 0x67});
    EXPECT_EQ(BlockOf(MakeBmp(4, 8, rows4, whiteFirst)), truecolour);
}

// A grey ramp (entry i holds grey i) reads as the index always did, to the byte.
TEST_F(MonoImageTest, GreyRampPalettesGiveTheBytesOfTheIndexRule) {
    std::vector<std::uint32_t> ramp8, ramp4;
    for (std::uint32_t i = 0; i < 256; ++i) ramp8.push_back(i * 0x010101);
    for (std::uint32_t i = 0; i < 16; ++i) ramp4.push_back(i * 17 * 0x010101);
    Bytes every8, every4;
    for (int i = 0; i < 256; ++i) every8.push_back(std::uint8_t(i));
    for (int i = 0; i < 16; i += 2) every4.push_back(std::uint8_t(i << 4 | (i + 1)));
    Bytes indexRule8 = BlockOf(MakeBmp(8, 256, {every8, every8}));
    Bytes indexRule4 = BlockOf(MakeBmp(4, 16, {every4}));
    std::vector<int> lowerHalf8(256, 0), lowerHalf4(16, 0);
    for (int i = 0; i < 128; ++i) lowerHalf8[std::size_t(i)] = 1;
    for (int i = 0; i < 8; ++i) lowerHalf4[std::size_t(i)] = 1;
    EXPECT_EQ(TopRow(indexRule8, 256), lowerHalf8);
    EXPECT_EQ(TopRow(indexRule4, 16), lowerHalf4);
    EXPECT_EQ(BlockOf(MakeBmp(8, 256, {every8, every8}, ramp8)), indexRule8);
    EXPECT_EQ(BlockOf(MakeBmp(4, 16, {every4}, ramp4)), indexRule4);
}

}  // namespace
}  // namespace qxsetup::testing
