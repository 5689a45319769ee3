#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "settings.h"
#include "temp_dir.h"
#include "wce/registry.h"

using namespace wce;
using namespace qx470;

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("QX_REGISTRY", dir_.File("registry.reg").c_str(), 1);
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDriverSettingsKey, 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key_, nullptr),
                  0);
    }
    void TearDown() override { RegCloseKey(key_); }
    void Dword(const char16_t* name, DWORD v) {
        RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
    }
    void Text(const char16_t* name, const std::u16string& t) {
        RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(t.c_str()),
                       DWORD((t.size() + 1) * 2));
    }
    // What the utility writes when it creates the key.
    void WriteDefaults() {
        Text(u"StartDocText", u"");
        Text(u"EndDocText", u"");
        Dword(u"PHeight", 508);
        Dword(u"PWidth", 80);
        Dword(u"PaperSize", 2);
        Dword(u"Copies", 1);
        Dword(u"StartLogo", 0);
        Dword(u"EndLogo", 0);
        Dword(u"PrintingLength", 1);
        Dword(u"UserPaper", 1);
        Dword(u"Emulation", 1);
        Dword(u"BackFeed", 0);
        Dword(u"Rotation", 0);
    }
    // A record whose every field holds a marker, to see which fields a read replaced.
    static DriverSettings Marked() {
        DriverSettings s;
        s.copies = s.paperSize = s.paperWidth = s.paperHeight = s.startLogo = s.endLogo = -7;
        s.printingLength = s.userPaper = s.emulation = s.backFeed = s.rotation = -7;
        s.startDocText[0] = u'#';
        return s;
    }
    qxtest::TempDir dir_{"qxset"};
    HKEY key_ = nullptr;
};

TEST_F(SettingsTest, DefaultsReadWhole) {
    WriteDefaults();
    DriverSettings s = Marked();
    EXPECT_EQ(ReadDriverSettings(key_, s), 0);
    EXPECT_EQ(s.copies, 1);
    EXPECT_EQ(s.paperSize, 2);
    EXPECT_EQ(s.paperWidth, 80);
    EXPECT_EQ(s.paperHeight, 508);
    EXPECT_EQ(s.printingLength, 1);
    EXPECT_EQ(s.emulation, 1);
    EXPECT_EQ(s.backFeed, 0);
    EXPECT_EQ(s.startDocText[0], 0);
}

TEST_F(SettingsTest, ReadStopsAtTheFirstMissingNumber) {
    Text(u"StartDocText", u"Hello");
    Text(u"EndDocText", u"Bye");
    Dword(u"Copies", 3);
    DriverSettings s = Marked();
    EXPECT_EQ(ReadDriverSettings(key_, s), 2);
    EXPECT_EQ(std::u16string(s.startDocText), u"Hello");
    EXPECT_EQ(std::u16string(s.endDocText), u"Bye");
    EXPECT_EQ(s.copies, 3);
    EXPECT_EQ(s.paperSize, -7);
    EXPECT_EQ(s.paperWidth, -7);
    EXPECT_EQ(s.rotation, -7);
}

TEST_F(SettingsTest, PresetOverridesStoredSizeAndCustomReadsThem) {
    WriteDefaults();
    Dword(u"PaperSize", 3);
    Dword(u"PWidth", 60);
    Dword(u"PHeight", 300);
    DriverSettings s;
    ReadDriverSettings(key_, s);
    EXPECT_EQ(s.paperWidth, 80);
    EXPECT_EQ(s.paperHeight, 762);
    Dword(u"PaperSize", 0);
    Dword(u"PHeight", 1016);
    ReadDriverSettings(key_, s);
    EXPECT_EQ(s.paperWidth, 60);
    EXPECT_EQ(s.paperHeight, 1016);
    EXPECT_EQ(s.paperHeight * 8 / 10, 812);  // the label height in dots that CPCL uses
}

TEST_F(SettingsTest, PaperSizeOutsideThePresetsIsReadAsCustom) {
    WriteDefaults();
    Dword(u"PWidth", 58);
    Dword(u"PHeight", 400);
    for (DWORD size : {5u, 1000u, 0xFFFFFFFFu}) {
        Dword(u"PaperSize", size);
        DriverSettings s;
        EXPECT_EQ(ReadDriverSettings(key_, s), 0);
        EXPECT_EQ(s.paperWidth, 58);
        EXPECT_EQ(s.paperHeight, 400);
    }
}

TEST_F(SettingsTest, OversizedNumbersTakeTheirFirstFourBytes) {
    WriteDefaults();
    const BYTE eight[8] = {5, 0, 0, 0, 9, 9, 9, 9};
    RegSetValueExW(key_, u"Copies", 0, REG_DWORD, eight, 8);
    DriverSettings s;
    EXPECT_EQ(ReadDriverSettings(key_, s), 0);
    EXPECT_EQ(s.copies, 5);
}

TEST_F(SettingsTest, TextsAreCutTo126AndWrongTypesIgnored) {
    WriteDefaults();
    Text(u"StartDocText", std::u16string(300, u'x'));
    Dword(u"EndDocText", 5);
    DriverSettings s = Marked();
    s.endDocText[0] = u'!';
    ReadDriverSettings(key_, s);
    EXPECT_EQ(std::u16string(s.startDocText), std::u16string(126, u'x'));
    EXPECT_EQ(s.endDocText[0], u'!');
    // A stored text without its terminator still ends where it stops.
    const BYTE raw[4] = {'A', 0, 'B', 0};
    RegSetValueExW(key_, u"StartDocText", 0, REG_SZ, raw, 4);
    ReadDriverSettings(key_, s);
    EXPECT_EQ(std::u16string(s.startDocText), u"AB");
}

}  // namespace
