// The image memory: upload in column format, print back, erase, restart, bad files.
#include <gtest/gtest.h>

#include <fstream>

#include "emu_test_support.h"
#include "nv_store.h"

namespace qxemu::testing {
namespace {

// An image block as the image manager sends it: size in units of 8 dots, then for
// each dot column the bytes top to bottom, bit 7 the top dot.
std::string Block(const Bitmap& picture) {
    int wb = (picture.Width() + 7) / 8, hb = (picture.Height() + 7) / 8;
    std::string block = U16(static_cast<unsigned>(wb)) + U16(static_cast<unsigned>(hb));
    for (int x = 0; x < wb * 8; ++x) {
        for (int j = 0; j < hb; ++j) {
            int byte = 0;
            for (int k = 0; k < 8; ++k) byte |= picture.Dot(x, 8 * j + k) ? 0x80 >> k : 0;
            block += static_cast<char>(byte);
        }
    }
    return block;
}

Bitmap Picture(int width, int height, int seed) {
    Bitmap b(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if ((x * 7 + y * 13 + seed) % 5 == 0 || x == y) b.SetDot(x, y);
    return b;
}

std::string Upload(const std::vector<Bitmap>& pictures) {
    std::string s = Bytes({0x1B, 0x40, 0x1C, 0x71, static_cast<int>(pictures.size())});
    for (const Bitmap& p : pictures) s += Block(p);
    return s;
}

std::string PrintImage(int n) {
    return Bytes({0x1C, 0x70, n, 0x30});
}
const std::string kCut = Bytes({0x1D, 0x56, 0x42, 0x01});

// The printed paper must show picture at the top-left, whole 8-dot units tall.
void ExpectPrinted(const Bitmap& paper, const Bitmap& picture, int top) {
    for (int y = 0; y < (picture.Height() + 7) / 8 * 8; ++y)
        for (int x = 0; x < paper.Width(); ++x)
            ASSERT_EQ(paper.Dot(x, top + y), picture.Dot(x, y)) << x << "," << y;
}

TEST(EmuNvMemory, UploadedImagesPrintBackSurviveARestartAndErase) {
    TempDir dir;
    Bitmap first = Picture(20, 9, 1);  // 3 x 2 units: padded right and below
    Bitmap second = Picture(64, 16, 2);
    {
        Harness h(kModelAPaperDots, dir.path());
        h.Decode(Upload({first, second}));
        EXPECT_EQ(h.device().Nv().Count(), 2);
        EXPECT_TRUE(h.pages.empty());  // storing prints nothing
    }
    Harness h(kModelAPaperDots, dir.path());  // a restart: the memory comes from the file
    h.Decode(PrintImage(2) + PrintImage(1) + PrintImage(3) + kCut);
    ASSERT_EQ(h.pages.size(), 1u) << h.LogText();
    const Bitmap& paper = h.pages[0].bitmap;
    ExpectPrinted(paper, second, 0);
    ExpectPrinted(paper, first, 16);
    EXPECT_EQ(paper.Height(), 16 + 16 + 1);  // the cut feeds one unit
    EXPECT_TRUE(h.Logged("image 3 is not stored")) << h.LogText();

    h.Decode(Bytes({0x1C, 0x65}) + kCut + PrintImage(1));
    Harness after(kModelAPaperDots, dir.path());
    EXPECT_EQ(after.device().Nv().Count(), 0);
}

TEST(EmuNvMemory, UploadWithAMissingBlockKeepsWhatArrived) {
    TempDir dir;
    Harness h(kModelAPaperDots, dir.path());
    Bitmap only = Picture(8, 8, 3);
    // Two announced, one sent (the other file failed), then the print-out begins.
    h.Decode(Bytes({0x1B, 0x40, 0x1C, 0x71, 2}) + Block(only) + PrintImage(1) + PrintImage(2));
    EXPECT_TRUE(h.Logged("2 image(s) announced, 1 arrived")) << h.LogText();
    EXPECT_EQ(h.device().Nv().Count(), 1);
    ASSERT_EQ(h.pages.size(), 1u);
    ExpectPrinted(h.pages[0].bitmap, only, 0);
}

TEST(EmuNvMemory, UploadThatBringsNothingLeavesTheMemoryAlone) {
    TempDir dir;
    Harness h(kModelAPaperDots, dir.path());
    h.Decode(Upload({Picture(8, 8, 4)}));
    h.Decode(Bytes({0x1B, 0x40, 0x1C, 0x71, 1}));
    EXPECT_EQ(h.device().Nv().Count(), 1);
}

TEST(EmuNvMemory, DamagedFileIsSetAsideAndNotLost) {
    TempDir dir;
    std::string path = dir.path() + "/nv-images.bin";
    {
        Harness h(kModelAPaperDots, dir.path());
        h.Decode(Upload({Picture(16, 8, 5)}));
    }
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(20);
        f.put('\x5A');
    }
    Harness h(kModelAPaperDots, dir.path());
    EXPECT_EQ(h.device().Nv().Count(), 0);
    EXPECT_TRUE(h.Logged("checksum mismatch")) << h.LogText();
    EXPECT_TRUE(std::filesystem::exists(path + ".bad"));
}

TEST(EmuNvMemory, TruncatedBlockAtTheEndIsReported) {
    TempDir dir;
    Harness h(kModelAPaperDots, dir.path());
    std::string block = Block(Picture(16, 16, 6));
    h.Decode(Bytes({0x1C, 0x71, 1}) + block.substr(0, block.size() - 3));
    EXPECT_TRUE(h.Logged("ERROR @3 FS q image 1: truncated: 32 data bytes announced, 29 arrived"))
        << h.LogText();
}

}  // namespace
}  // namespace qxemu::testing
