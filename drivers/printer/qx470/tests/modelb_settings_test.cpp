// Model B's driver settings: its own key, sizes in whole millimetres, its twelve papers,
// and no emulation, back-feed or rotation read even where the key holds them.
#include <gtest/gtest.h>

#include <string>

#include "../../../../tests/support/driver_key.h"
#include "settings.h"
#include "wce/registry.h"

using namespace wce;
using namespace qx470;

namespace {

constexpr char16_t kModelBKey[] = u"Printers\\QX-250 Driver";

class ModelBSettingsTest : public ::testing::Test {
  protected:
    void Number(const char16_t* name, int value) { qxtest::SetNumber(name, value, kModelBKey); }
    // Reads the model-B key into a record whose every field holds a marker.
    int Read(DriverSettings& s) {
        s.copies = s.paperSize = s.paperWidth = s.paperHeight = s.startLogo = s.endLogo = -7;
        s.printingLength = s.userPaper = s.emulation = s.backFeed = s.rotation = -7;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverSettingsKey, 0, KEY_READ, &key) != 0)
            return -1;
        int result = ReadDriverSettings(key, s);
        RegCloseKey(key);
        return result;
    }
    // The values model B's utility writes, in its order, with a custom size.
    void WriteCustom(int widthMm, int heightMm) {
        qxtest::SetText(u"StartDocText", u"Hello", kModelBKey);
        qxtest::SetText(u"EndDocText", u"", kModelBKey);
        for (auto [name, value] : {std::pair{u"PHeight", heightMm},
                                   {u"PWidth", widthMm},
                                   {u"PaperSize", 0},
                                   {u"Copies", 2},
                                   {u"StartLogo", 4},
                                   {u"EndLogo", 5},
                                   {u"PrintingLength", 0},
                                   {u"UserPaper", 1}})
            Number(name, value);
    }
    qxtest::TempWorld world_{"qxsetb"};
};

TEST_F(ModelBSettingsTest, ReadsItsOwnKeyInWholeMillimetresAndNoCpclValues) {
    // Model A's key beside it, with other numbers, is not read.
    qxtest::RegisterDriver(u"LPT1:", {{u"PHeight", 1016}, {u"Copies", 9}});
    WriteCustom(57, 99);
    // Left by a model-A setup: model A would print a turned CPCL label with back-feed.
    Number(u"Emulation", 2);
    Number(u"BackFeed", 1);
    Number(u"Rotation", 1);
    DriverSettings s;
    ASSERT_EQ(Read(s), 0);
    EXPECT_EQ(std::u16string(s.startDocText), u"Hello");
    EXPECT_EQ(s.paperWidth, 57);
    EXPECT_EQ(s.paperHeight, 99);
    EXPECT_EQ(s.copies, 2);
    EXPECT_EQ(s.startLogo, 4);
    EXPECT_EQ(s.endLogo, 5);
    EXPECT_EQ(s.printingLength, 0);
    EXPECT_EQ(s.userPaper, 1);
    EXPECT_EQ(s.emulation, -7);
    EXPECT_EQ(s.backFeed, -7);
    EXPECT_EQ(s.rotation, -7);
}

TEST_F(ModelBSettingsTest, AKeyWithoutCpclValuesReadsWholeAndAMissingNumberStopsTheRead) {
    // What model B's utility writes lacks the three values that end model A's read.
    WriteCustom(58, 80);
    DriverSettings s;
    EXPECT_EQ(Read(s), 0);
    EXPECT_EQ(s.userPaper, 1);
    // Without "UserPaper", the last value model B reads, the read reports the gap.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kModelBKey, 0, KEY_ALL_ACCESS, &key), 0);
    RegDeleteValueW(key, u"UserPaper");
    RegCloseKey(key);
    EXPECT_EQ(Read(s), 2);
    EXPECT_EQ(s.printingLength, 0);
    EXPECT_EQ(s.userPaper, -7);
}

TEST_F(ModelBSettingsTest, PresetsAreTheFiftyEightMillimetrePapers) {
    WriteCustom(70, 30);
    struct Case {
        int paperSize, width, height;
    };
    // 1 to 11 name papers in millimetres; 0 and anything past the table take the stored size.
    const Case cases[] = {{1, 58, 60},    {2, 58, 80},  {9, 58, 297}, {10, 58, 2970},
                          {11, 58, 3276}, {12, 70, 30}, {0, 70, 30},  {-1, 70, 30}};
    for (const Case& c : cases) {
        Number(u"PaperSize", c.paperSize);
        DriverSettings s;
        ASSERT_EQ(Read(s), 0);
        EXPECT_EQ(s.paperWidth, c.width) << "PaperSize " << c.paperSize;
        EXPECT_EQ(s.paperHeight, c.height) << "PaperSize " << c.paperSize;
    }
}

}  // namespace
