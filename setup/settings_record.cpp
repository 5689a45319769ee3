// Creating, loading and saving the driver's registry key.
#include "settings_record.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "wce/base.h"
#include "wce/text.h"

namespace setup {

using namespace wce;

namespace {

// A value larger than the 4 bytes asked for: read it whole and take its first 4 bytes,
// or the fallback when even that fails.
enum class Read { Ok, Missing };

Read ReadNumber(HKEY key, const WCHAR* name, int fallback, int& value) {
    int data = 0;
    DWORD size = sizeof data;
    LONG result =
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
    if (result == ERROR_SUCCESS) {
        value = data;
        return Read::Ok;
    }
    if (result != ERROR_MORE_DATA) return Read::Missing;
    std::vector<BYTE> buffer(size_t(size) * 4);
    DWORD bigSize = DWORD(buffer.size());
    if (RegQueryValueExW(key, name, nullptr, nullptr, buffer.data(), &bigSize) == ERROR_SUCCESS &&
        bigSize >= 4)
        std::memcpy(&value, buffer.data(), 4);
    else
        value = fallback;
    return Read::Ok;
}

// A REG_SZ value into a record text; anything else leaves the text as it was.
void ReadText(HKEY key, const WCHAR* name, WCHAR (&text)[kTextUnits]) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return;
    std::vector<WCHAR> buffer(std::max<size_t>(size_t(size) / 2 + 1, 6), u'\0');
    DWORD got = DWORD(buffer.size() * 2);
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                         &got) != ERROR_SUCCESS)
        return;
    buffer.back() = u'\0';
    CopyText(text, std::u16string_view(buffer.data()));
}

void LoadSettings(const SetupModel& model, HKEY key, SettingsRecord& r) {
    ReadText(key, u"StartDocText", r.startDocText);
    ReadText(key, u"EndDocText", r.endDocText);
    ReadText(key, u"Driver", r.driverName);
    ReadText(key, u"Port", r.portName);
    // Like the driver, the first missing number ends the reading.
    if (ReadNumber(key, u"Copies", 1, r.copies) != Read::Ok) return;
    if (ReadNumber(key, u"PaperSize", 2, r.paperSize) != Read::Ok) return;
    const int units = model.heightUnitsPerMm;
    int height = StoredHeight(model, r);
    if (r.paperSize > 0 && size_t(r.paperSize) < model.papers.size()) {
        r.paperWidth = model.papers[size_t(r.paperSize)].widthMm;
        height = model.papers[size_t(r.paperSize)].height;
    } else {
        // A size the list does not hold is the custom one, as the driver reads it, so a
        // size is selected and a save stores one the driver knows.
        r.paperSize = 0;
        if (ReadNumber(key, u"PWidth", model.newKeyWidth, r.paperWidth) != Read::Ok) return;
        if (ReadNumber(key, u"PHeight", model.newKeyHeight, height) != Read::Ok) return;
        // The driver prints nothing of a negative length; shown as a height it would
        // read "0.-5".
        r.paperWidth = std::max(r.paperWidth, 0);
        height = std::max(height, 0);
    }
    r.heightMm = height / units;
    r.heightTenths = height % units;
    struct Number {
        const WCHAR* name;
        int fallback;
        int SettingsRecord::*field;
    };
    static const Number numbers[] = {
        {u"StartLogo", 0, &SettingsRecord::startLogo},
        {u"EndLogo", 0, &SettingsRecord::endLogo},
        {u"PrintingLength", 1, &SettingsRecord::printingLength},
        {u"UserPaper", 1, &SettingsRecord::userPaper},
        {u"Emulation", 1, &SettingsRecord::emulation},
        {u"BackFeed", 1, &SettingsRecord::backFeed},
        {u"Rotation", 0, &SettingsRecord::rotation},
    };
    // Without emulation the last three are not the model's and are never read.
    const size_t count = model.hasEmulation ? std::size(numbers) : 4;
    for (size_t i = 0; i < count; ++i) {
        const Number& n = numbers[i];
        if (ReadNumber(key, n.name, n.fallback, r.*n.field) != Read::Ok) break;
        if (n.field == &SettingsRecord::emulation) r.loadedEmulation = r.emulation;
    }
}

// The numbers of a key in the order they are written; the model's own only.
std::vector<std::pair<const WCHAR*, int>> KeyNumbers(const SetupModel& model,
                                                     const SettingsRecord& r) {
    std::vector<std::pair<const WCHAR*, int>> numbers = {
        {u"PHeight", StoredHeight(model, r)},  {u"PWidth", r.paperWidth},
        {u"PaperSize", r.paperSize},           {u"Copies", r.copies},
        {u"StartLogo", r.startLogo},           {u"EndLogo", r.endLogo},
        {u"PrintingLength", r.printingLength}, {u"UserPaper", r.userPaper},
    };
    if (model.hasEmulation) {
        numbers.insert(
            numbers.end(),
            {{u"Emulation", r.emulation}, {u"BackFeed", r.backFeed}, {u"Rotation", r.rotation}});
    }
    return numbers;
}

void WriteNewKey(const SetupModel& model, HKEY key) {
    SetText(key, u"Driver", model.driverFile);
    SetText(key, u"Color", u"Monochrome");
    SetText(key, u"Draft Quality", u"75");
    SetText(key, u"High Quality", u"300");
    for (const WCHAR* name : {u"Port", u"StartDocText", u"EndDocText"}) SetText(key, name, u"");
    // The record's defaults, except that a new key prints to the page's length.
    SettingsRecord fresh = NewRecord(model);
    fresh.printingLength = 1;
    for (auto [name, value] : KeyNumbers(model, fresh)) SetNumber(key, name, value);
}

}  // namespace

LONG SetText(HKEY key, const WCHAR* name, const WCHAR* text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          DWORD((WideLength(text) + 1) * 2));
}

LONG SetNumber(HKEY key, const WCHAR* name, int value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

void CopyText(WCHAR (&buffer)[kTextUnits], std::u16string_view text) {
    size_t n = std::min(text.size(), size_t(kTextUnits - 1));
    std::copy_n(text.data(), n, buffer);
    buffer[n] = u'\0';
}

LONG LoadOrCreateSettings(const SetupModel& model, SettingsRecord& record) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, model.driverKey, 0, KEY_ALL_ACCESS, &key) ==
        ERROR_SUCCESS) {
        LoadSettings(model, key, record);
        RegCloseKey(key);
        return ERROR_SUCCESS;
    }
    if (LONG error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, model.driverKey, 0, nullptr, 0,
                                     KEY_ALL_ACCESS, nullptr, &key, nullptr))
        return error;
    WriteNewKey(model, key);
    RegCloseKey(key);
    record = NewRecord(model);
    // The key was just written: the test page shows what it holds.
    CopyText(record.driverName, model.driverFile);
    return ERROR_SUCCESS;
}

LONG WriteSettings(const SetupModel& model, HKEY key, const SettingsRecord& r) {
    // The first refusal ends the writing: the rest would fail for the same reason.
    if (LONG error = SetText(key, u"StartDocText", r.startDocText)) return error;
    if (LONG error = SetText(key, u"EndDocText", r.endDocText)) return error;
    for (auto [name, value] : KeyNumbers(model, r))
        if (LONG error = SetNumber(key, name, value)) return error;
    return ERROR_SUCCESS;
}

SettingsRecord NewRecord(const SetupModel& model) {
    SettingsRecord r;
    r.paperWidth = model.newKeyWidth;
    r.heightMm = model.newKeyHeight / model.heightUnitsPerMm;
    r.heightTenths = model.newKeyHeight % model.heightUnitsPerMm;
    if (!model.hasEmulation) r.emulation = r.loadedEmulation = 0;
    return r;
}

int StoredHeight(const SetupModel& model, const SettingsRecord& r) {
    return model.heightUnitsPerMm == 10 ? r.HeightTenths() : r.heightMm;
}

LONG SaveSettings(const SetupModel& model, const SettingsRecord& record) {
    HKEY key = nullptr;
    if (LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, model.driverKey, 0, KEY_WRITE, &key))
        return error;
    LONG error = WriteSettings(model, key, record);
    RegCloseKey(key);
    return error;
}

}  // namespace setup
