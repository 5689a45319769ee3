// The driver's copy of its registry settings, read at every device-context creation.
#pragma once

#include "model.h"
#include "wce/registry.h"
#include "wce/types.h"

namespace qx470 {

constexpr int kSettingsTextChars = 256;  // the last one is kept for the terminator
constexpr int kSettingsTextMax = 126;    // characters kept of a start or end text

struct DriverSettings {
    wce::WCHAR startDocText[kSettingsTextChars] = {};
    wce::WCHAR endDocText[kSettingsTextChars] = {};
    int copies = 0;
    int paperSize = 0;    // 0 custom, else a preset of the model's papers
    int paperWidth = 0;   // "PWidth", millimetres
    int paperHeight = 0;  // "PHeight", in the model's units (kModel)
    int startLogo = 0;
    int endLogo = 0;
    int printingLength = 0;
    int userPaper = 0;
    int emulation = 0;  // model B reads none of these three: it prints ESC/POS only
    int backFeed = 0;
    int rotation = 0;
};

constexpr const wce::WCHAR* kDriverSettingsKey = kModel.settingsKey;

// The driver's one settings record.
DriverSettings& TheSettings();

// Reads the values of an open key into settings: 0 when every value was read, 2 when
// a numeric value was missing (that value and all after it keep their old values).
int ReadDriverSettings(wce::HKEY key, DriverSettings& settings);

}  // namespace qx470
