// Bitmap files into image blocks: files of every depth that ImageMagick wrote, against
// the reference conversion; the block layout at its edges; each depth's threshold.
#include <gtest/gtest.h>

#include "bmp_test_support.h"
#include "mono_image.h"
#include "wce/ui.h"

namespace qxsetup::testing {
namespace {

// A grey ramp from top to bottom, a black and a white box: every depth has dots on
// both sides of its threshold. 37 dots wide, so no row fills its stride.
const char kPicture[] =
    "-size 37x21 gradient:white-black -fill black -draw 'rectangle 3,2 20,10' "
    "-fill white -draw 'rectangle 25,3 33,17' -compress none";

Bytes BlockOf(const std::string& path) {
    MonoImage image;
    std::u16string wide = Wide(path);
    if (!LoadMonoImage(wide.c_str(), &image)) return {};
    return BuildNvImageBlock(image);
}

Bytes BlockOf(const Bytes& file, const TempDir& dir) {
    std::string path = dir.File("written.bmp");
    WriteBytes(path, file);
    return BlockOf(path);
}

int Dot(const Bytes& block, int x, int y) {
    int hb = block[2] | block[3] << 8;
    return block[4 + std::size_t(x * hb + y / 8)] >> (7 - y % 8) & 1;
}

TEST(MonoImage, FilesOfEveryDepthWrittenByConvertMatchTheReference) {
    TempDir dir;
    struct Case {
        int bpp;
        const char* type;
    } cases[] = {{1, "-type bilevel"},
                 {4, "-colors 12 -type palette"},
                 {8, "-type palette"},
                 {24, "-type truecolor"}};
    wce::ScriptedMessageBoxes boxes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bpp);
        std::string path = dir.File("picture" + std::to_string(c.bpp) + ".bmp");
        ASSERT_TRUE(Convert(std::string(kPicture) + " " + c.type, path));
        Bytes file = ReadBytes(path);
        ASSERT_EQ(file[28], c.bpp) << "convert wrote another depth";
        ASSERT_EQ(Get32(file, 30), 0u) << "convert compressed the file";
        Bytes block = BlockOf(path);
        EXPECT_EQ(block, ReferenceBlock(file));
        ASSERT_EQ(block.size(), 4u + 5 * 8 * 3);
        if (c.bpp == 1 || c.bpp == 24) {
            // Only these two go by colour; 4 and 8 bits go by palette index.
            EXPECT_EQ(Dot(block, 10, 5), 1);   // inside the black box
            EXPECT_EQ(Dot(block, 29, 10), 0);  // inside the white box
        }
    }
    EXPECT_TRUE(boxes.shown().empty());
}

TEST(MonoImage, BlockEdges) {
    TempDir dir;
    wce::ScriptedMessageBoxes boxes;
    // One dot: one unit each way, only the first byte's top bit can be set.
    ASSERT_TRUE(Convert("-size 1x1 xc:black -type bilevel", dir.File("one.bmp")));
    EXPECT_EQ(BlockOf(dir.File("one.bmp")), (Bytes{1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(Convert("-size 1x1 xc:white -type bilevel", dir.File("white.bmp")));
    EXPECT_EQ(BlockOf(dir.File("white.bmp")), (Bytes{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    // 10 x 9 black: columns 10-15 and rows 9-15 are padding and stay white.
    Bytes tenByNine{2, 0, 2, 0};
    for (int x = 0; x < 16; ++x) {
        tenByNine.push_back(x < 10 ? 0xFF : 0);
        tenByNine.push_back(x < 10 ? 0x80 : 0);
    }
    for (const char* type : {"-type truecolor", "-type bilevel"}) {
        SCOPED_TRACE(type);
        std::string path = dir.File("ten.bmp");
        ASSERT_TRUE(Convert(std::string("-size 10x9 xc:black ") + type, path));
        EXPECT_EQ(BlockOf(path), tenByNine);
    }

    // The top row of the picture is the last row in the file; it goes in bit 7.
    ASSERT_TRUE(Convert("-size 16x12 xc:white -fill black -draw 'line 0,0 15,0' -type truecolor",
                        dir.File("top.bmp")));
    Bytes top = BlockOf(dir.File("top.bmp"));
    ASSERT_EQ(top.size(), 4u + 16 * 2);
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(top[4 + 2 * std::size_t(x)], 0x80) << x;
        EXPECT_EQ(top[5 + 2 * std::size_t(x)], 0) << x;
    }
    EXPECT_TRUE(boxes.shown().empty());
}

TEST(MonoImage, ThresholdOfEachDepth) {
    TempDir dir;
    wce::ScriptedMessageBoxes boxes;
    auto row = [](Bytes bytes) { return bytes; };

    // 1 bit: the first palette entry's blue byte decides whether bits are inverted.
    Bytes bits = {0xA0};  // dots 1 0 1
    Bytes asIs = BlockOf(MakeBmp(1, 3, {bits}, {0xFFFFFF, 0x000000}), dir);
    Bytes inverted = BlockOf(MakeBmp(1, 3, {bits}, {0x000000, 0xFFFFFF}), dir);
    EXPECT_EQ((std::vector<int>{Dot(asIs, 0, 0), Dot(asIs, 1, 0), Dot(asIs, 2, 0)}),
              (std::vector<int>{1, 0, 1}));
    EXPECT_EQ((std::vector<int>{Dot(inverted, 0, 0), Dot(inverted, 1, 0), Dot(inverted, 2, 0)}),
              (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(Dot(inverted, 3, 0), 0) << "padding stays white when the bits are inverted";

    // 4 bits: index 7 is black and 8 white, in the high and the low nibble alike.
    Bytes four = BlockOf(MakeBmp(4, 4, {row({0x78, 0x87})}), dir);
    EXPECT_EQ((std::vector<int>{Dot(four, 0, 0), Dot(four, 1, 0), Dot(four, 2, 0), Dot(four, 3, 0)}),
              (std::vector<int>{1, 0, 0, 1}));

    // 8 bits, 5 wide: each row starts on its own 4-byte boundary, without skew.
    Bytes eight = BlockOf(MakeBmp(8, 5, {row({127, 128, 0, 255, 127}), row({128, 0, 200, 1, 128})}), dir);
    std::vector<int> dots;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) dots.push_back(Dot(eight, x, y));
    EXPECT_EQ(dots, (std::vector<int>{1, 0, 1, 0, 1, 0, 1, 0, 1, 0}));

    // 16 bits: 250 141 has level 3 + 11 + 2 = 16 with each product cut on its own and
    // the weight 0.229; a single cut or 0.299 would make it 17 and white.
    Bytes sixteen =
        BlockOf(MakeBmp(16, 4, {row({0xFF, 0xFF, 0x00, 0x00, 250, 141, 250, 142})}), dir);
    EXPECT_EQ((std::vector<int>{Dot(sixteen, 0, 0), Dot(sixteen, 1, 0), Dot(sixteen, 2, 0),
                                Dot(sixteen, 3, 0)}),
              (std::vector<int>{0, 1, 1, 0}));

    // 24 bits, one cut of the whole sum: 128 grey sums to 128 (white) where cut products
    // would give 127; 127 grey falls just short of 127 and is black.
    Bytes twentyFour =
        BlockOf(MakeBmp(24, 3, {row({255, 255, 255, 128, 128, 128, 127, 127, 127})}), dir);
    EXPECT_EQ((std::vector<int>{Dot(twentyFour, 0, 0), Dot(twentyFour, 1, 0), Dot(twentyFour, 2, 0)}),
              (std::vector<int>{0, 0, 1}));
    EXPECT_TRUE(boxes.shown().empty());
}

// Later information headers (108 and 124 bytes, convert's default) are longer than the
// 40-byte one; a 1-bit file's palette follows the header, whatever its length.
TEST(MonoImage, LaterHeadersGiveTheSameBlocks) {
    TempDir dir;
    wce::ScriptedMessageBoxes boxes;
    const std::string picture = "-size 19x11 xc:white -fill black -draw 'rectangle 2,1 9,7' ";
    for (const char* type : {"-type bilevel", "-type truecolor"}) {
        SCOPED_TRACE(type);
        ASSERT_TRUE(Convert(picture + type, dir.File("old.bmp")));
        ASSERT_TRUE(Convert(picture + type, dir.File("new.bmp"), "BMP"));
        Bytes later = ReadBytes(dir.File("new.bmp"));
        ASSERT_GT(Get32(later, 14), 40u);
        Bytes expected = BlockOf(dir.File("old.bmp"));
        EXPECT_EQ(BlockOf(dir.File("new.bmp")), expected);
        if (later[28] != 1) continue;
        // The same picture with the palette entries swapped and every bit inverted.
        std::size_t palette = 14 + Get32(later, 14);
        for (std::size_t i = 0; i < 4; ++i) std::swap(later[palette + i], later[palette + 4 + i]);
        for (std::size_t i = Get32(later, 10); i < later.size(); ++i) later[i] = ~later[i];
        EXPECT_EQ(BlockOf(later, dir), expected);
    }
    EXPECT_TRUE(boxes.shown().empty());
}

TEST(MonoImage, MonoPixelOutsideThePictureIsWhite) {
    MonoImage image;
    image.width = 3;
    image.height = 2;
    image.rowBytes = 4;
    image.bits.assign(8, 0xFF);
    EXPECT_EQ(MonoPixel(image, 2, 1), 1);
    EXPECT_EQ(MonoPixel(image, 3, 0), 0);
    EXPECT_EQ(MonoPixel(image, 0, 2), 0);
    EXPECT_EQ(MonoPixel(image, -1, 0), 0);
}

}  // namespace
}  // namespace qxsetup::testing
