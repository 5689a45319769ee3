// What one printer model's settings utility is made of: its registry key, its texts,
// its paper table and its test page. The dialogs read everything model-specific from
// here, so another model is another table.
#pragma once

#include <span>

#include "wce/types.h"

namespace setup {

// A preset paper: list text, width in mm, height in tenths of a mm.
struct PaperPreset {
    const char16_t* text;
    int width;
    int height;
};

// One line of the test page. Lines with a field put its text in place of the %s.
enum class PageField { None, Time, Emulation, Port, Driver };
struct TestPageLine {
    const char16_t* text;
    int advance;  // dots the next line starts below this one
    PageField field = PageField::None;
};

struct TestPageLayout {
    const char16_t* faceName;
    std::span<const TestPageLine> lines;
    // 12-hour time formats: hour, minute, second and the date fields.
    const char16_t* morning;
    const char16_t* afternoon;
    bool yearFirst;  // year, month, day; else month, day, year
    const char16_t* errorText;
    const char16_t* errorCaption;
};

struct SetupModel {
    const char16_t* driverKey;   // below HKEY_LOCAL_MACHINE
    const char16_t* driverFile;  // "Driver" of a new key
    const char16_t* mainCaption[2];  // [0] English, [1] code page 949
    const char16_t* mainGroup[2];
    std::span<const PaperPreset> papers;  // index 0 is "Custom Size"
    int pageRight;                        // test page width in dots
    TestPageLayout testPage[2];
};

const SetupModel& ModelA();

// 949 selects the Korean texts.
constexpr wce::UINT kKoreanCodePage = 949;
inline int Language(wce::UINT codePage) { return codePage == kKoreanCodePage ? 1 : 0; }

}  // namespace setup
