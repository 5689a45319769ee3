#include "page.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "page_test_support.h"
#include "tone.h"
#include "wce/base.h"

namespace qx470 {
namespace {

using pagetest::Dot;
using pagetest::OwnedJob;
using pagetest::PageBytes;
using pagetest::PageOptions;
using pagetest::Rows;
using pagetest::SetUpPage;
using pagetest::StartPage;
using pagetest::Surface;

// A page with text-like black, a grey ramp and noise, so most dots use the random
// source and carry error.
Surface MixedPage(int width, int height) {
    Surface s(width, height);
    unsigned state = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int noise = static_cast<int>(state >> 24) % 64;
            const auto ramp = static_cast<wce::BYTE>(x * 255 / width);
            if (y % 40 < 8 && x % 12 < 7) {
                s.Set(x, y, 0, 0, 0);
            } else if (y < height / 2) {
                s.Set(x, y, ramp, ramp, ramp);
            } else {
                s.Set(x, y, static_cast<wce::BYTE>(ramp / 2 + noise),
                      static_cast<wce::BYTE>(200 - noise), static_cast<wce::BYTE>(ramp));
            }
        }
    }
    return s;
}

TEST(SetupPage, PortraitGeometryAndBuffers) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 575, .rows = 300}), 1);
    const PrinterJob& job = o.job;
    EXPECT_EQ(job.pageWidth, 575);
    EXPECT_EQ(job.pageHeight, 300);
    EXPECT_EQ(job.bytesPerRow, 72);
    EXPECT_EQ(job.colourMode, 0);
    EXPECT_EQ(job.landscape, 0);
    EXPECT_EQ(job.paperSize, 5);
    EXPECT_EQ(job.horzRes, 203);
    for (int i = 0; i < 300 * 72; ++i) ASSERT_EQ(job.pageImage[i], 0);
    EXPECT_NE(job.buffers.landscapeLine.get(), nullptr);
}

TEST(SetupPage, LandscapeTakesTheSwappedResolutions) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 576, .rows = 2233, .landscape = true, .colour = true}), 1);
    EXPECT_EQ(o.job.pageWidth, 576);
    EXPECT_EQ(o.job.pageHeight, 2233);
    EXPECT_EQ(o.job.landscape, 1);
    EXPECT_EQ(o.job.colourMode, 1);
    EXPECT_NE(o.job.buffers.yellowError.get(), nullptr);
}

TEST(SetupPage, FreePageTwiceIsSafe) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.colour = true}), 1);
    FreePage(o.job);
    FreePage(o.job);
    EXPECT_EQ(o.job.pageImage, nullptr);
    EXPECT_EQ(o.job.buffers.greyTone.get(), nullptr);
    EXPECT_EQ(o.job.buffers.lightness.get(), nullptr);
    // A second device context sets the page up again.
    EXPECT_EQ(SetUpPage(o.job, {}), 1);
}

TEST(SetupPage, RefusesPagesThatCannotBeHeld) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {}), 1);
    wce::SetLastError(0);
    EXPECT_EQ(SetUpPage(o.job, {.rows = INT_MAX}), 0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(o.job.pageImage, nullptr);
    EXPECT_EQ(o.job.buffers.blackValues.get(), nullptr);

    EXPECT_EQ(SetUpPage(o.job, {.width = 0}), 0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_INVALID_PARAMETER);
}

// Without a length from the settings the engine's page height stands.
TEST(SetupPage, NoLengthFromTheSettingsUsesTheEngineHeight) {
    OwnedJob o;
    wce::GDIINFO info{};
    wce::DEVMODEW mode{};
    info.ulHorzRes = 576;
    info.ulVertRes = 300;
    ASSERT_EQ(SetupPage(o.job, info, mode), 1);
    EXPECT_EQ(o.job.allocatedRows, 300);
    EXPECT_EQ(o.job.printedLength, 300);
}

// A custom label can be printed longer than the surface the engine draws; the page
// image has to cover every printed row.
TEST(SetupPage, PageCoversThePrintedLength) {
    OwnedJob o;
    wce::GDIINFO info{};
    wce::DEVMODEW mode{};
    info.ulHorzRes = 576;
    info.ulVertRes = 639;
    o.job.allocatedRows = 639;
    o.job.printedLength = 1199;
    ASSERT_EQ(SetupPage(o.job, info, mode), 1);
    EXPECT_EQ(o.job.allocatedRows, 1199);
    EXPECT_EQ(PageRow(o.job, 1198)[71], 0);
}

TEST(CopyBits, BitOrderAndNarrowWidth) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 575, .rows = 4}), 1);
    Surface s(575, 4);
    s.Set(0, 0, 0, 0, 0);
    s.Set(9, 0, 0, 0, 0);
    s.Fill(0, 1, 575, 2, 0, 0, 0);
    const wce::RECTL rect = Rows(575, 0, 2);
    ASSERT_EQ(CopyBitsToJob(o.job, s.Get(), &rect), 1);
    EXPECT_EQ(PageRow(o.job, 0)[0], 0x80);
    EXPECT_EQ(PageRow(o.job, 0)[1], 0x40);
    for (int i = 0; i < 71; ++i) EXPECT_EQ(PageRow(o.job, 1)[i], 0xFF) << i;
    EXPECT_EQ(PageRow(o.job, 1)[71], 0xFE);  // dot 575 does not exist
}

TEST(CopyBits, CallsFillPageRowsInCallOrder) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 64, .rows = 200}), 1);
    Surface s(64, 200);
    s.Fill(0, 0, 64, 100, 0, 0, 0);  // the top half is black
    wce::RECTL first = Rows(64, 0, 100), second = Rows(64, 100, 200);
    ASSERT_EQ(CopyBitsToJob(o.job, s.Get(), &first), 1);
    ASSERT_EQ(CopyBitsToJob(o.job, s.Get(), &second), 1);
    EXPECT_EQ(o.job.nextRow, 200);
    for (int r = 0; r < 200; ++r) EXPECT_EQ(Dot(o.job, r, 5), r < 100) << r;

    // The rectangle only picks source rows; each call continues the page.
    StartPage(o.job);
    ASSERT_EQ(CopyBitsToJob(o.job, s.Get(), &second), 1);
    ASSERT_EQ(CopyBitsToJob(o.job, s.Get(), &first), 1);
    for (int r = 0; r < 200; ++r) EXPECT_EQ(Dot(o.job, r, 5), r >= 100) << r;
}

TEST(CopyBits, ShortSecondPageKeepsTheFirstPagesRows) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 64, .rows = 200}), 1);
    Surface black(64, 200);
    black.Fill(0, 0, 64, 200, 0, 0, 0);
    Surface white(64, 200);
    wce::RECTL all = Rows(64, 0, 200), top = Rows(64, 0, 100);
    ASSERT_EQ(CopyBitsToJob(o.job, black.Get(), &all), 1);
    StartPage(o.job);
    ASSERT_EQ(CopyBitsToJob(o.job, white.Get(), &top), 1);
    for (int r = 0; r < 200; ++r) EXPECT_EQ(PageRow(o.job, r)[3], r < 100 ? 0x00 : 0xFF) << r;
}

TEST(CopyBits, LandscapeTurnsTheSurfaceClockwise) {
    for (bool bottomUp : {false, true}) {
        OwnedJob o;
        ASSERT_EQ(SetUpPage(o.job, {.width = 576, .rows = 2233, .landscape = true}), 1);
        Surface s(2233, 576, bottomUp);
        s.Fill(0, 0, 8, 8, 0, 0, 0);            // top-left corner
        s.Fill(2225, 568, 2233, 576, 0, 0, 0);  // bottom-right corner
        const wce::RECTL rect = Rows(2233, 0, 576);
        ASSERT_EQ(CopyBitsToJob(o.job, s.Get(), &rect), 1);
        EXPECT_EQ(o.job.nextRow, 2233);
        for (int r = 0; r < 2233; ++r) {
            const wce::BYTE* row = PageRow(o.job, r);
            for (int i = 0; i < 72; ++i) {
                wce::BYTE expected = 0;
                if (r < 8 && i == 71) expected = 0xFF;     // surface top edge: page right
                if (r >= 2225 && i == 0) expected = 0xFF;  // surface bottom: page left
                ASSERT_EQ(row[i], expected)
                    << "bottomUp " << bottomUp << " row " << r << " byte " << i;
            }
        }
    }
}

TEST(CopyBits, BandSizeDoesNotChangeThePage) {
    const int width = 576, height = 640;
    Surface page = MixedPage(width, height);
    std::vector<std::vector<wce::BYTE>> images;
    for (int band : {1, 7, 600}) {
        OwnedJob o;
        ASSERT_EQ(SetUpPage(o.job, {.width = width, .rows = height}), 1);
        wce::srand(2024);
        for (int top = 0; top < height; top += band) {
            const wce::RECTL rect = Rows(width, top, std::min(top + band, height));
            ASSERT_EQ(CopyBitsToJob(o.job, page.Get(), &rect), 1);
        }
        images.push_back(PageBytes(o.job));
    }
    EXPECT_EQ(images[0], images[1]);
    EXPECT_EQ(images[0], images[2]);
    // The grey half really is dithered, not thresholded.
    OwnedJob other;
    ASSERT_EQ(SetUpPage(other.job, {.width = width, .rows = height}), 1);
    wce::srand(7);
    const wce::RECTL all = Rows(width, 0, height);
    ASSERT_EQ(CopyBitsToJob(other.job, page.Get(), &all), 1);
    EXPECT_NE(PageBytes(other.job), images[0]);
}

TEST(CopyBits, RowsBeyondThePageAreDropped) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 64, .rows = 50}), 1);
    Surface s(64, 100);
    s.Fill(0, 0, 64, 100, 0, 0, 0);
    const wce::RECTL rect = Rows(64, 0, 100);
    EXPECT_EQ(CopyBitsToJob(o.job, s.Get(), &rect), 1);
    EXPECT_EQ(o.job.nextRow, 50);
}

TEST(CopyBits, RectangleOutsideTheSourceIsClipped) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 64, .rows = 50}), 1);
    Surface s(32, 10);  // narrower and shorter than the page
    s.Fill(0, 0, 32, 10, 0, 0, 0);
    const wce::RECTL rect = {0, -5, 64, 40};
    EXPECT_EQ(CopyBitsToJob(o.job, s.Get(), &rect), 1);
    EXPECT_EQ(o.job.nextRow, 10);
    EXPECT_EQ(PageRow(o.job, 0)[3], 0xFF);
    EXPECT_EQ(PageRow(o.job, 0)[4], 0x00);  // dots the source lacks are white
}

TEST(CopyBits, RefusesUnusableSources) {
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.width = 64, .rows = 50}), 1);
    Surface s(64, 10);
    const wce::RECTL rect = Rows(64, 0, 10);
    EXPECT_EQ(CopyBitsToJob(o.job, nullptr, &rect), 0);
    EXPECT_EQ(CopyBitsToJob(o.job, s.Get(), nullptr), 0);
    s.Get()->iBitmapFormat = wce::BMF_32BPP;
    EXPECT_EQ(CopyBitsToJob(o.job, s.Get(), &rect), 0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_INVALID_PARAMETER);
    s.Get()->iBitmapFormat = wce::BMF_24BPP;
    s.Get()->lDelta = 64;  // shorter than a scan line
    EXPECT_EQ(CopyBitsToJob(o.job, s.Get(), &rect), 0);
    EXPECT_EQ(o.job.nextRow, 0);

    PrinterJob bare;
    Surface fine(64, 10);
    EXPECT_EQ(CopyBitsToJob(bare, fine.Get(), &rect), 0);
}

TEST(DrvCopyBits, FeedsTheDriversJob) {
    PrinterJob& job = TheJob();
    ASSERT_EQ(SetUpPage(job, {.width = 64, .rows = 20}), 1);
    Surface s(64, 20);
    s.Fill(0, 0, 64, 20, 0, 0, 0);
    wce::RECTL rect = Rows(64, 0, 20);
    wce::POINTL origin{0, 0};
    EXPECT_EQ(DrvCopyBits(nullptr, s.Get(), nullptr, nullptr, &rect, &origin), 1);
    EXPECT_EQ(job.nextRow, 20);
    EXPECT_EQ(PageRow(job, 19)[7], 0xFF);
    FreePage(job);
}

}  // namespace
}  // namespace qx470
