// The utility's working copy of the driver settings, and the routines that create,
// load and save the driver's registry key.
#pragma once

#include "model.h"
#include "wce/registry.h"

namespace setup {

constexpr int kTextUnits = 256;  // each text: 255 characters and the terminator

// Model B has no emulation, back-feed or rotation and keeps heightTenths 0: its heights
// are whole millimetres.
struct SettingsRecord {
    int paperSize = 2;
    int copies = 1;
    int paperWidth = 80;
    int heightMm = 50;
    int heightTenths = 8;
    int startLogo = 0;
    int endLogo = 0;
    int printingLength = 0;
    int userPaper = 1;
    int emulation = 1;
    int backFeed = 0;
    int rotation = 0;
    int loadedEmulation = 1;
    wce::WCHAR startDocText[kTextUnits] = {};
    wce::WCHAR endDocText[kTextUnits] = {};
    wce::WCHAR driverName[kTextUnits] = {};
    wce::WCHAR portName[kTextUnits] = {};

    // "PHeight" of model A: tenths of a millimetre.
    int HeightTenths() const { return heightMm * 10 + heightTenths; }
};

// A record holding what a new key holds: the model's paper, copies 1, no logos.
SettingsRecord NewRecord(const SetupModel& model);
// The record's height in the model's "PHeight" units.
int StoredHeight(const SetupModel& model, const SettingsRecord& record);

// Opens the driver key; when it is missing, creates it and writes a new key's values
// (the record then holds the defaults). Otherwise loads the record from it. The
// registry's error when the key can be neither opened nor created (a registry file that
// does not parse); the record is left as it was.
wce::LONG LoadOrCreateSettings(const SetupModel& model, SettingsRecord& record);

// Writes the values a save writes (thirteen for model A, ten without emulation), in
// their order, into an open key; the registry's error of the first that fails.
wce::LONG WriteSettings(const SetupModel& model, wce::HKEY key, const SettingsRecord& record);
// Opens the driver key for writing and writes the record; the registry's error when it
// does not open or a value cannot be written.
wce::LONG SaveSettings(const SetupModel& model, const SettingsRecord& record);

// Registry helpers shared by the dialogs.
wce::LONG SetText(wce::HKEY key, const wce::WCHAR* name, const wce::WCHAR* text);
wce::LONG SetNumber(wce::HKEY key, const wce::WCHAR* name, int value);
// Copies text into a kTextUnits buffer, cut to 255 characters.
void CopyText(wce::WCHAR (&buffer)[kTextUnits], std::u16string_view text);

}  // namespace setup
