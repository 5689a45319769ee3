#include "settings.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

namespace qx470 {

using namespace wce;

DriverSettings& TheSettings() {
    static DriverSettings settings;
    return settings;
}

namespace {

// A text value replaces the field only when it is a REG_SZ that reads back whole.
void ReadText(HKEY key, LPCWSTR name, WCHAR (&field)[kSettingsTextChars]) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return;
    std::vector<BYTE> buffer(std::max<size_t>(size_t(size) + 2, 12), 0);
    DWORD got = static_cast<DWORD>(buffer.size());
    if (RegQueryValueExW(key, name, nullptr, &type, buffer.data(), &got) != ERROR_SUCCESS) return;
    // The stored text may lack its terminator; the extra zero bytes end it.
    size_t chars = 0;
    while (chars < kSettingsTextMax && (chars + 1) * 2 <= got) {
        WCHAR c = static_cast<WCHAR>(buffer[2 * chars] | (buffer[2 * chars + 1] << 8));
        if (!c) break;
        field[chars++] = c;
    }
    field[chars] = 0;
}

enum class NumberRead { Ok, Missing };

// Reads one 4-byte number; a value larger than 4 bytes yields its first 4 bytes, or
// the fallback when even the second read fails.
NumberRead ReadNumber(HKEY key, LPCWSTR name, int fallback, int& field) {
    DWORD value = 0, size = sizeof value;
    LONG r = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    if (r == ERROR_SUCCESS) {
        field = static_cast<int>(value);
        return NumberRead::Ok;
    }
    if (r != ERROR_MORE_DATA) return NumberRead::Missing;
    std::vector<BYTE> big(size_t(size) * 4);
    DWORD bigSize = static_cast<DWORD>(big.size());
    if (RegQueryValueExW(key, name, nullptr, nullptr, big.data(), &bigSize) == ERROR_SUCCESS &&
        bigSize >= 4) {
        std::memcpy(&value, big.data(), 4);
        field = static_cast<int>(value);
    } else {
        field = fallback;
    }
    return NumberRead::Ok;
}

}  // namespace

int ReadDriverSettings(HKEY key, DriverSettings& s) {
    ReadText(key, u"StartDocText", s.startDocText);
    ReadText(key, u"EndDocText", s.endDocText);
    if (ReadNumber(key, u"Copies", 1, s.copies) != NumberRead::Ok) return 2;
    if (ReadNumber(key, u"PaperSize", 2, s.paperSize) != NumberRead::Ok) return 2;
    // A size the preset table does not hold is read as custom rather than past the table.
    if (s.paperSize > 0 && size_t(s.paperSize) < kModel.papers.size()) {
        s.paperWidth = kModel.papers[size_t(s.paperSize)].widthMm;
        s.paperHeight = kModel.papers[size_t(s.paperSize)].height;
    } else {
        // A number too long to read takes the new key's paper.
        const PaperPreset& fallback = kModel.NewKeyPaper();
        if (ReadNumber(key, u"PWidth", fallback.widthMm, s.paperWidth) != NumberRead::Ok) return 2;
        if (ReadNumber(key, u"PHeight", fallback.height, s.paperHeight) != NumberRead::Ok) return 2;
    }
    struct Field {
        LPCWSTR name;
        int fallback;
        int DriverSettings::*member;
    };
    static constexpr Field kRest[] = {
        {u"StartLogo", 0, &DriverSettings::startLogo},
        {u"EndLogo", 0, &DriverSettings::endLogo},
        {u"PrintingLength", 1, &DriverSettings::printingLength},
        {u"UserPaper", 1, &DriverSettings::userPaper},
        {u"Emulation", 1, &DriverSettings::emulation},
        {u"BackFeed", 1, &DriverSettings::backFeed},
        {u"Rotation", 0, &DriverSettings::rotation},
    };
    // The last three are CPCL's; a model without CPCL leaves them at 0 whatever the key holds.
    constexpr int kCpclFields = 3;
    const int count = int(std::size(kRest)) - (kModel.cpcl ? 0 : kCpclFields);
    for (int i = 0; i < count; ++i)
        if (ReadNumber(key, kRest[i].name, kRest[i].fallback, s.*kRest[i].member) != NumberRead::Ok)
            return 2;
    return 0;
}

}  // namespace qx470
