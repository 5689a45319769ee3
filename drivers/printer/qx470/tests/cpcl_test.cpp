// CPCL graphics as the printer receives them: fixed bytes for the known bands, and
// whole pages read back through the printer's decoder, plain and turned.
#include "cpcl.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "lzw_test_support.h"
#include "output_test_support.h"
#include "protocol/lzw_decode.h"

namespace qx470 {
namespace {

using testsupport::Hex;
using testsupport::PrinterCapture;
using Bytes = std::vector<wce::BYTE>;

// Puts the graphics commands of a page back into a page image, as the printer would
// place them; fails on anything that is not a well-formed CG or ZCG command.
class PageReader {
  public:
    PageReader(int bytesPerRow, int rows, int printableWidth, int rotate)
        : bytesPerRow_(bytesPerRow),
          rows_(rows),
          width_(printableWidth),
          rotate_(rotate),
          page_(static_cast<std::size_t>(bytesPerRow) * rows, 0) {}

    ::testing::AssertionResult Read(const std::string& stream) {
        std::size_t at = 0;
        while (at < stream.size()) {
            bool zcg = stream.compare(at, 4, "ZCG ") == 0;
            if (!zcg && stream.compare(at, 3, "CG ") != 0) {
                return ::testing::AssertionFailure() << "no graphics command at " << at;
            }
            at += zcg ? 4 : 3;
            int numbers[5] = {};
            const int count = zcg ? 5 : 4;
            for (int i = 0; i + 1 < count; ++i) {
                std::size_t used = 0;
                numbers[i] = std::stoi(stream.substr(at, 12), &used);
                at += used + 1;
            }
            // The data follows the last number directly, so a data byte that is an
            // ASCII digit reads as part of it; the longest reading that leaves a
            // well-formed command is the right one.
            std::size_t digits = 0;
            while (at + digits < stream.size() &&
                   std::isdigit(static_cast<unsigned char>(stream[at + digits])))
                ++digits;
            bool placed = false;
            for (std::size_t k = digits; k >= 1 && !placed; --k) {
                numbers[count - 1] = std::stoi(stream.substr(at, k));
                std::size_t next = at + k;
                placed = Command(stream, zcg, numbers, &next);
                if (placed) at = next;
            }
            if (!placed) return ::testing::AssertionFailure() << "bad command before " << at;
        }
        return ::testing::AssertionSuccess();
    }

    // One command's data and CR LF from *at on; placed on the page when well formed.
    bool Command(const std::string& stream, bool zcg, const int* numbers, std::size_t* at) {
        const int w = numbers[0], h = numbers[1], x = numbers[2], y = numbers[3];
        const std::size_t size = static_cast<std::size_t>(w) * h;
        std::size_t data = zcg ? static_cast<std::size_t>(numbers[4]) : size;
        if (*at + data + 2 > stream.size() || stream.compare(*at + data, 2, "\r\n") != 0)
            return false;
        Bytes band(size);
        if (zcg) {
            std::uint32_t declared = 0;
            for (int i = 0; i < 4; ++i)
                declared |= std::uint32_t(std::uint8_t(stream[*at + i])) << (8 * i);
            if (declared != size || data < 4) return false;
            auto bytes = reinterpret_cast<const std::uint8_t*>(stream.data() + *at + 4);
            auto result = qxproto::LzwDecode(bytes, data - 4, band.data(), band.size());
            if (result.error != qxproto::LzwError::kNone || result.produced != size ||
                result.consumed != data - 4) {
                return false;
            }
        } else {
            band.assign(stream.begin() + *at, stream.begin() + *at + size);
        }
        *at += data + 2;
        Place(band, w, h, x, y);
        return true;
    }

    const Bytes& page() const { return page_; }

  private:
    void Place(Bytes band, int w, int h, int x, int y) {
        int left = x / 8, first = y;
        if (rotate_) {
            Bytes turned(band.size());
            for (std::size_t i = 0; i < band.size(); ++i) {
                turned[i] = kBitReversal[band[band.size() - 1 - i]];
            }
            band.swap(turned);
            left = (width_ - x) / 8 - w;
            first = rows_ - y - h;
        }
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                page_[static_cast<std::size_t>(first + r) * bytesPerRow_ + left + c] =
                    band[static_cast<std::size_t>(r) * w + c];
            }
        }
    }

    int bytesPerRow_, rows_, width_, rotate_;
    Bytes page_;
};

class CpclTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(capture_.Open()); }
    void TearDown() override { FreeCpclBuffers(capture_.job()); }

    std::string Page(int rotate) {
        SendCpclPage(capture_.job(), rotate);
        return capture_.Take();
    }

    // A 72-byte page of 406 rows on 576 dots, with a band at byte 10 of rows 5 and 6.
    void SmallBandPage() {
        capture_.SetPage(72, 406, 576);
        capture_.Row(5)[10] = 0xFF;
        capture_.Row(6)[10] = 0x0F;
        capture_.Row(6)[11] = 0xF0;
    }

    // A 4 x 10 band at the top left whose bytes cycle through `period` values.
    void CyclingBand(int period) {
        capture_.SetPage(4, 10);
        for (int i = 0; i < 40; ++i)
            capture_.page()[i] = static_cast<wce::BYTE>(0x11 * (i % period + 1));
    }

    PrinterCapture capture_;
};

TEST_F(CpclTest, SmallBandGoesOutRawAndTurned) {
    SmallBandPage();
    EXPECT_EQ(Hex(Page(0)), "43 47 20 32 20 32 20 38 30 20 35 FF 00 0F F0 0D 0A");
    EXPECT_EQ(Hex(Page(1)), "43 47 20 32 20 32 20 34 38 30 20 33 39 39 0F F0 00 FF 0D 0A");
}

TEST_F(CpclTest, SolidBandGoesOutCompressed) {
    capture_.SetPage(4, 10);
    std::fill(capture_.page().begin(), capture_.page().end(), 0xFF);
    EXPECT_EQ(Hex(Page(0)),
              "5A 43 47 20 34 20 31 30 20 30 20 30 20 32 34 28 00 00 00 "
              "01 01 00 FF 00 10 00 01 10 00 01 10 00 01 10 01 F2 0F 02 01 0D 0A");
}

TEST_F(CpclTest, CompressesOnlyWhenItSavesAFifth) {
    CyclingBand(4);  // 32 bytes of 40: exactly 80 percent
    std::string exact = Page(0);
    EXPECT_EQ(exact.substr(0, 20),
              std::string("ZCG 4 10 0 0 36") + '\x28' + std::string(3, '\0') + '\x01');
    EXPECT_EQ(exact.size(), 15 + 4 + 32 + 2u);

    CyclingBand(5);  // 36 bytes of 40
    std::string raw = Page(0);
    EXPECT_EQ(raw.substr(0, 11), "CG 4 10 0 0");
    EXPECT_EQ(raw.substr(11, 40), std::string(capture_.page().begin(), capture_.page().end()));
}

TEST_F(CpclTest, BlankRowsSplitBandsAndZeroBytesStayInThem) {
    capture_.SetPage(8, 8);
    capture_.Row(0)[2] = 0x81;
    capture_.Row(1)[4] = 0x18;  // the band spans bytes 2 to 4, zeros included
    capture_.Row(4)[7] = 0x01;
    EXPECT_EQ(Hex(Page(0)),
              Hex("CG 3 2 16 0") + " 81 00 00 00 00 18 0D 0A " + Hex("CG 1 1 56 4") + " 01 0D 0A");
}

TEST_F(CpclTest, TurnedFullWidthBandOnANarrowerPrintableWidth) {
    capture_.SetPage(72, 20, 575);
    capture_.Row(0)[0] = 0x80;
    capture_.Row(0)[71] = 0x01;
    std::string stream = Page(1);
    int w = 0, h = 0, x = 0, y = 0;
    ASSERT_EQ(std::sscanf(stream.c_str(), "%*s %d %d %d %d", &w, &h, &x, &y), 4);
    EXPECT_EQ(w, 72);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(x, -1);
    EXPECT_EQ(y, 19);
}

TEST_F(CpclTest, SingleByteBandGoesOutRaw) {
    capture_.SetPage(3, 3);
    capture_.Row(2)[1] = 0x3C;
    EXPECT_EQ(Hex(Page(0)), Hex("CG 1 1 8 2") + " 3C 0D 0A");
    EXPECT_EQ(Hex(Page(1)), Hex("CG 1 1 8 0") + " 3C 0D 0A");
}

TEST_F(CpclTest, BandsLargerThan64KiBAreOneCommand) {
    capture_.SetPage(72, 1500);
    Bytes photo = testsupport::DitheredPhoto(72, 1500, 9);  // 108,000 bytes
    std::copy(photo.begin(), photo.end(), capture_.page().begin());
    for (int rotate = 0; rotate <= 1; ++rotate) {
        std::string stream = Page(rotate);
        EXPECT_EQ(stream.find("CG "), stream.rfind("CG "));
        PageReader reader(72, 1500, 576, rotate);
        ASSERT_TRUE(reader.Read(stream));
        EXPECT_EQ(reader.page(), capture_.page());
    }
    EXPECT_GE(capture_.job().bandCapacity, photo.size());
}

TEST_F(CpclTest, PagesReadBackExactlyAtEveryWidth) {
    testsupport::Lcg lcg(3);
    for (int width = 1; width <= 72; width += (width < 12 ? 1 : 7)) {
        const int rows = 200 + lcg.Below(200);
        capture_.SetPage(width, rows, width * 8 - lcg.Below(8));
        Bytes photo = testsupport::DitheredPhoto(width, rows, width);
        Bytes text = testsupport::ReceiptText(width, rows, width);
        // Stripes of photo, text, solid ink and blank rows, with ragged edges.
        for (int r = 0; r < rows; ++r) {
            int kind = (r / 37) % 4;
            for (int c = 0; c < width; ++c) {
                std::size_t i = static_cast<std::size_t>(r) * width + c;
                wce::BYTE value = kind == 0 ? photo[i] : kind == 1 ? text[i] : kind == 2 ? 0xFF : 0;
                if (kind == 2 && c > r % width) value = 0;
                capture_.page()[i] = value;
            }
        }
        for (int rotate = 0; rotate <= 1; ++rotate) {
            SCOPED_TRACE(testing::Message() << "width " << width << " rotate " << rotate);
            PageReader reader(width, rows, capture_.job().printableWidth, rotate);
            ASSERT_TRUE(reader.Read(Page(rotate)));
            EXPECT_EQ(reader.page(), capture_.page());
        }
    }
}

TEST_F(CpclTest, BitReversalTable) {
    EXPECT_EQ(kBitReversal[0x01], 0x80);
    EXPECT_EQ(kBitReversal[0x80], 0x01);
    EXPECT_EQ(kBitReversal[0x12], 0x48);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(kBitReversal[kBitReversal[b]], b);
}

}  // namespace
}  // namespace qx470
