// ESC/POS pages as the printer receives them, byte for byte.
#include "escpos.h"

#include <gtest/gtest.h>

#include <string>

#include "output_test_support.h"

namespace qx470 {
namespace {

using testsupport::Hex;
using testsupport::PrinterCapture;
using testsupport::Raw;

class EscPosTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(capture_.Open()); }

    std::string Page(int feedBlankRows) {
        SendEscPosPage(capture_.job(), feedBlankRows);
        return Hex(capture_.Take());
    }

    // A page of 72-byte rows whose only ink is one dot in each of the given rows.
    void InkRows(int rows, std::initializer_list<int> inked) {
        capture_.SetPage(72, rows);
        for (int row : inked) capture_.Row(row)[0] = 0x80;
    }

    static std::string Band(int rows) {
        std::string band = Raw({0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, rows, 0x00});
        for (int i = 0; i < rows; ++i) band += '\x80';
        return Hex(band);
    }

    PrinterCapture capture_;
};

TEST_F(EscPosTest, SmallPageWithAndWithoutFeeding) {
    capture_.SetPage(2, 4);
    capture_.Row(0)[0] = 0xFF;
    capture_.Row(2)[1] = 0x80;
    EXPECT_EQ(Page(1),
              "1D 76 30 00 01 00 01 00 FF 1B 4A 02 1D 76 30 00 02 00 01 00 00 80 1B 4A 02");
    EXPECT_EQ(Page(0), "1D 76 30 00 01 00 01 00 FF 1B 4A 02 1D 76 30 00 02 00 01 00 00 80");
}

TEST_F(EscPosTest, BlankPageIsOnlyFeeds) {
    capture_.SetPage(72, 300);
    EXPECT_EQ(Page(1), "1B 4A FF 1B 4A FF 1B 4A 58");
    EXPECT_EQ(Page(0), "");
    capture_.SetPage(72, 256);
    EXPECT_EQ(Page(1), "1B 4A FF 1B 4A FF");
}

TEST_F(EscPosTest, BlankRunsBetweenBands) {
    InkRows(129, {0, 128});  // 127 blank rows
    EXPECT_EQ(Page(0), Band(1) + " 1B 4A FE " + Band(1));

    InkRows(130, {0, 129});  // 128 blank rows: one full feed, or none at all
    EXPECT_EQ(Page(1), Band(1) + " 1B 4A FF " + Band(1));
    EXPECT_EQ(Page(0), Band(1) + " " + Band(1));

    InkRows(302, {0, 301});  // 300 blank rows: two full runs dropped, 44 fed
    EXPECT_EQ(Page(0), Band(1) + " 1B 4A 58 " + Band(1));
}

TEST_F(EscPosTest, BandTakesItsWidestRowAndKeepsItsLeftMargin) {
    capture_.SetPage(8, 3);
    capture_.Row(0)[1] = 0x01;
    capture_.Row(1)[5] = 0x10;
    capture_.Row(2)[0] = 0x80;
    EXPECT_EQ(Page(1),
              "1D 76 30 00 06 00 03 00 "
              "00 01 00 00 00 00 "
              "00 00 00 00 00 10 "
              "80 00 00 00 00 00");
}

TEST_F(EscPosTest, LastDotOfTheLastRow) {
    capture_.SetPage(72, 2845);
    capture_.Row(2844)[71] = 0x01;
    std::string feeds;
    for (int i = 0; i < 22; ++i) feeds += "1B 4A FF ";  // 22 x 128 = 2816 rows
    std::string band = "1D 76 30 00 48 00 01 00";
    for (int i = 0; i < 71; ++i) band += " 00";
    band += " 01";
    EXPECT_EQ(Page(1), feeds + "1B 4A 38 " + band);  // 28 more rows
}

TEST_F(EscPosTest, RightmostInkByteFindsTheLastNonZeroByte) {
    std::vector<wce::BYTE> row(37, 0);
    EXPECT_EQ(RightmostInkByte(row.data(), 37), -1);
    for (int at : {0, 3, 7, 8, 15, 28, 29, 36}) {
        row.assign(37, 0);
        row[at] = 1;
        row[0] |= 0x80;
        EXPECT_EQ(RightmostInkByte(row.data(), 37), at);
    }
}

}  // namespace
}  // namespace qx470
