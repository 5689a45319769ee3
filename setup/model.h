// What one printer model's settings utility is made of: its registry key, its texts,
// its paper table and its test page. The dialogs read everything model-specific from
// here, so another model is another table. The printer's own facts (its width, papers
// and units) come from the table every program shares; each model's file in modela/
// and modelb/ adds what only the utility has.
#pragma once

#include <span>

#include "protocol/models.h"
#include "wce/types.h"

namespace wce::ui {
struct DialogTemplate;
}

namespace setup {

// A paper of the list: its text, width in mm and height in the model's "PHeight" units.
using qxproto::PaperPreset;

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
    const char16_t* programName;     // caption of the utility's own message boxes
    const char16_t* driverKey;       // below HKEY_LOCAL_MACHINE
    const char16_t* driverFile;      // "Driver" of a new key
    const char16_t* mainCaption[2];  // [0] English, [1] code page 949
    const char16_t* mainGroup[2];
    // Units of "PHeight" in a millimetre: 10 (tenths) or 1 (whole millimetres, as
    // "PWidth" always is).
    int heightUnitsPerMm;
    int newKeyHeight;  // "PHeight" and "PWidth" of a new key, and the record's defaults
    int newKeyWidth;
    // "Emulation", "BackFeed" and "Rotation" are the model's settings, with their
    // controls in the paper dialog; without them the utility never reads or writes them.
    bool hasEmulation;
    // A network printer must answer an ICMP echo before the image manager connects.
    bool echoBeforeConnect;
    const wce::ui::DialogTemplate* paperTemplate;
    std::span<const PaperPreset> papers;  // index 0 is "Custom Size"
    int pageRight;                        // test page width in dots
    int (*pageBottom)(int storedHeight);  // test page bottom in dots, from "PHeight"
    TestPageLayout testPage[2];
};

const SetupModel& ModelA();  // the 3-inch label printer
const SetupModel& ModelB();  // the 2-inch receipt printer

// 949 selects the Korean texts.
constexpr wce::UINT kKoreanCodePage = 949;
inline int Language(wce::UINT codePage) {
    return codePage == kKoreanCodePage ? 1 : 0;
}

}  // namespace setup
