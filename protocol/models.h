// What the driver, the settings utilities, the printer application, qx-print and the
// emulator must agree on about each printer model: how wide it prints, its paper and
// the preset papers a "PaperSize" selects, the units of "PHeight", and the port names
// the driver opens. Each fact is written here once; the checks at the end hold the
// table to what follows from it, so a paper or model that does not add up does not
// compile.
#pragma once

#include <cstddef>
#include <iterator>
#include <span>
#include <string_view>

namespace qxproto {

// ---------------------------------------------------------------------------------
// Resolution

inline constexpr int kDotsPerInch = 203;
// Lengths become dots as mm × kInchesPerMm × kDotsPerInch, in that order and in double
// precision, then truncated: the driver sizes its pages so, and whoever predicts a
// page of the driver must round the same way.
inline constexpr double kInchesPerMm = 0.03937007874015748;

constexpr int DotsFromMm(double mm) {
    return static_cast<int>(mm * kInchesPerMm * kDotsPerInch);
}

// A label no longer than its paper is wide is drawn on a page of this length, of which
// only the label's own length is printed.
inline constexpr int kShortLabelPageMm = 80;
inline constexpr int kShortLabelPageDots = DotsFromMm(kShortLabelPageMm);

// ---------------------------------------------------------------------------------
// Printer models

// One paper of a model's list, selected by its "PaperSize".
struct PaperPreset {
    int paperSize;             // 0 is the custom size, whose sizes are the stored ones
    int widthMm;               // "PWidth"
    int height;                // "PHeight", in the model's units
    const char16_t* listText;  // its entry in the settings utility's paper list
    const char* media;         // the media name printing clients choose it by; none for custom
};

struct PrinterModel {
    const char* printerName;      // the printer's key under Printers, also its settings key
    const char16_t* settingsKey;  // the same below HKEY_LOCAL_MACHINE
    const char* driverFile;       // the printer's "Driver"
    const char16_t* driverFileWide;
    int dotsAcross;    // dots the head prints across
    int mmAcross;      // the same width in whole millimetres, as the graphics engine is told it
    int paperWidthMm;  // the paper, whose middle the head prints
    // "PHeight" is in tenths of a millimetre (10) or in millimetres (1); "PWidth" is
    // always in millimetres.
    int heightUnitsPerMm;
    // Prints CPCL labels as well as ESC/POS: its settings hold "Emulation", "BackFeed"
    // and "Rotation".
    bool cpcl;
    int newKeyPaperSize;  // the paper of a new settings key, and of a value that will not read
    std::span<const PaperPreset> papers;  // by "PaperSize"

    constexpr int BytesPerRow() const { return dotsAcross / 8; }
    constexpr const PaperPreset& NewKeyPaper() const {
        return papers[std::size_t(newKeyPaperSize)];
    }
    // The papers a "PaperSize" of 1 and more selects.
    constexpr std::span<const PaperPreset> Presets() const { return papers.subspan(1); }
};

inline constexpr char16_t kCustomPaperText[] = u"Custom Size";

// Model A: the 3-inch label printer.
// (Kept at one paper to two lines.)
// clang-format off
inline constexpr PaperPreset kModelAPapers[] = {
    {.paperSize = 0, .widthMm = 0, .height = 0, .listText = kCustomPaperText, .media = nullptr},
    {.paperSize = 1, .widthMm = 80, .height = 254,
     .listText = u"80mm x 25.4mm", .media = "om_qx-80x25_80x25.4mm"},
    {.paperSize = 2, .widthMm = 80, .height = 508,
     .listText = u"80mm x 50.8mm", .media = "om_qx-80x51_80x50.8mm"},
    {.paperSize = 3, .widthMm = 80, .height = 762,
     .listText = u"80mm x 76.2mm", .media = "om_qx-80x76_80x76.2mm"},
    {.paperSize = 4, .widthMm = 80, .height = 1016,
     .listText = u"80mm x 101.6mm", .media = "om_qx-80x102_80x101.6mm"},
};
// clang-format on
inline constexpr PrinterModel kModelA{
    .printerName = "QX-470 Driver",
    .settingsKey = u"Printers\\QX-470 Driver",
    .driverFile = "QX470.dll",
    .driverFileWide = u"QX470.dll",
    .dotsAcross = 576,
    .mmAcross = 72,
    .paperWidthMm = 80,
    .heightUnitsPerMm = 10,
    .cpcl = true,
    .newKeyPaperSize = 2,
    .papers = kModelAPapers,
};

// Model B: the 2-inch receipt printer on 58 mm paper, ESC/POS only.
// (Kept at one paper to two lines.)
// clang-format off
inline constexpr PaperPreset kModelBPapers[] = {
    {.paperSize = 0, .widthMm = 0, .height = 0, .listText = kCustomPaperText, .media = nullptr},
    {.paperSize = 1, .widthMm = 58, .height = 60,
     .listText = u"58mm x 60mm", .media = "om_qx-58x60_58x60mm"},
    {.paperSize = 2, .widthMm = 58, .height = 80,
     .listText = u"58mm x 80mm", .media = "om_qx-58x80_58x80mm"},
    {.paperSize = 3, .widthMm = 58, .height = 100,
     .listText = u"58mm x 100mm", .media = "om_qx-58x100_58x100mm"},
    {.paperSize = 4, .widthMm = 58, .height = 120,
     .listText = u"58mm x 120mm", .media = "om_qx-58x120_58x120mm"},
    {.paperSize = 5, .widthMm = 58, .height = 140,
     .listText = u"58mm x 140mm", .media = "om_qx-58x140_58x140mm"},
    {.paperSize = 6, .widthMm = 58, .height = 160,
     .listText = u"58mm x 160mm", .media = "om_qx-58x160_58x160mm"},
    {.paperSize = 7, .widthMm = 58, .height = 180,
     .listText = u"58mm x 180mm", .media = "om_qx-58x180_58x180mm"},
    {.paperSize = 8, .widthMm = 58, .height = 200,
     .listText = u"58mm x 200mm", .media = "om_qx-58x200_58x200mm"},
    {.paperSize = 9, .widthMm = 58, .height = 297,
     .listText = u"58mm x 297mm", .media = "om_qx-58x297_58x297mm"},
    {.paperSize = 10, .widthMm = 58, .height = 2970,
     .listText = u"58mm x 2970mm", .media = "om_qx-58x2970_58x2970mm"},
    {.paperSize = 11, .widthMm = 58, .height = 3276,
     .listText = u"58mm x 3276mm", .media = "om_qx-58x3276_58x3276mm"},
};
// clang-format on
inline constexpr PrinterModel kModelB{
    .printerName = "QX-250 Driver",
    .settingsKey = u"Printers\\QX-250 Driver",
    .driverFile = "QX250.dll",
    .driverFileWide = u"QX250.dll",
    .dotsAcross = 384,
    .mmAcross = 48,
    .paperWidthMm = 58,
    .heightUnitsPerMm = 1,
    .cpcl = false,
    .newKeyPaperSize = 2,
    .papers = kModelBPapers,
};

inline constexpr const PrinterModel* kModels[] = {&kModelA, &kModelB};

// ---------------------------------------------------------------------------------
// Port names

// A port name chooses its transport by its first characters, letter case ignored,
// tested in this order; any other name is a printer's IPv4 address in dotted form.
enum class PortKind { kInfrared, kParallel, kSerial, kNetwork };
inline constexpr std::string_view kInfraredPrefix = "IRDA";
inline constexpr std::string_view kParallelPrefix = "LPT";
inline constexpr std::string_view kSerialPrefix = "COM";
// COMn: and LPTn: have one digit: the name is cut after its fourth character and a
// colon put after it, whatever followed.
inline constexpr std::size_t kPortDigitAt = 3;
inline constexpr std::size_t kDeviceNameLength = 5;
// A serial name may carry its bit rate from the seventh character on ("COM1: 115200");
// the sixth is a separator of any kind. A rate not in the list is the default.
inline constexpr std::size_t kBitRateAt = 6;
inline constexpr unsigned kDefaultBitRate = 19200;

struct BitRate {
    std::string_view text;
    unsigned rate;
};
// Tried in this order.
inline constexpr BitRate kBitRates[] = {
    {"110", 110},     {"300", 300},     {"600", 600},       {"1200", 1200},     {"2400", 2400},
    {"4800", 4800},   {"9600", 9600},   {"14400", 14400},   {"19200", 19200},   {"38400", 38400},
    {"56000", 56000}, {"57600", 57600}, {"115200", 115200}, {"128000", 128000}, {"256000", 256000},
};

template <class Char>
constexpr bool StartsWithNoCase(std::basic_string_view<Char> name, std::string_view prefix) {
    if (name.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        Char c = name[i];
        if (c >= Char('a') && c <= Char('z')) c = Char(c - Char('a') + Char('A'));
        if (c != Char(static_cast<unsigned char>(prefix[i]))) return false;
    }
    return true;
}

template <class Char>
constexpr PortKind PortKindOfName(std::basic_string_view<Char> name) {
    if (StartsWithNoCase(name, kInfraredPrefix)) return PortKind::kInfrared;
    if (StartsWithNoCase(name, kParallelPrefix)) return PortKind::kParallel;
    if (StartsWithNoCase(name, kSerialPrefix)) return PortKind::kSerial;
    return PortKind::kNetwork;
}

// The rate of the first entry whose text is exactly the given one, or 0.
template <class Char>
constexpr unsigned FindBitRate(std::basic_string_view<Char> text) {
    for (const BitRate& entry : kBitRates)
        if (text.size() == entry.text.size() && StartsWithNoCase(text, entry.text))
            return entry.rate;
    return 0;
}

// The bit rate a serial port's name asks for.
template <class Char>
constexpr unsigned BitRateOfName(std::basic_string_view<Char> name) {
    unsigned rate = name.size() > kBitRateAt ? FindBitRate(name.substr(kBitRateAt)) : 0;
    return rate ? rate : kDefaultBitRate;
}

// ---------------------------------------------------------------------------------
// What follows from the table

namespace model_checks {

// Just enough text building to spell a paper's list text and media name from its sizes.
struct Text {
    char chars[64] = {};
    std::size_t size = 0;
    constexpr Text& operator<<(std::string_view s) {
        for (char c : s) chars[size++] = c;
        return *this;
    }
    constexpr Text& operator<<(int n) {
        char digits[12] = {};
        int count = 0;
        do digits[count++] = char('0' + n % 10);
        while ((n /= 10) > 0);
        while (count > 0) chars[size++] = digits[--count];
        return *this;
    }
    constexpr bool Spells(std::string_view text) const {
        if (text.size() != size) return false;
        for (std::size_t i = 0; i < size; ++i)
            if (text[i] != chars[i]) return false;
        return true;
    }
    template <class Char>
    constexpr bool Spells(const Char* text) const {
        if (!text) return false;
        std::size_t i = 0;
        for (; text[i]; ++i)
            if (i >= size || text[i] != Char(static_cast<unsigned char>(chars[i]))) return false;
        return i == size;
    }
};

// A length in "PHeight" units, in millimetres as the paper's name writes them.
constexpr Text& Length(Text& t, const PrinterModel& m, int height) {
    t << height / m.heightUnitsPerMm;
    if (m.heightUnitsPerMm == 10) t << "." << height % 10;
    return t;
}

// "80mm x 50.8mm"
constexpr bool ListTextAddsUp(const PrinterModel& m, const PaperPreset& p) {
    Text t;
    Length(t << p.widthMm << "mm x ", m, p.height) << "mm";
    return t.Spells(p.listText);
}

// "om_qx-80x51_80x50.8mm": the name's first size is the length rounded to millimetres.
constexpr bool MediaAddsUp(const PrinterModel& m, const PaperPreset& p) {
    int roundedMm = (p.height * 10 / m.heightUnitsPerMm + 5) / 10;
    Text t;
    Length(t << "om_qx-" << p.widthMm << "x" << roundedMm << "_" << p.widthMm << "x", m, p.height)
        << "mm";
    return t.Spells(p.media);
}

constexpr bool PapersAddUp(const PrinterModel& m) {
    const PaperPreset& custom = m.papers[0];
    if (m.papers.size() < 2 || custom.paperSize != 0 || custom.media ||
        custom.listText != kCustomPaperText)
        return false;
    for (std::size_t i = 1; i < m.papers.size(); ++i) {
        const PaperPreset& p = m.papers[i];
        if (p.paperSize != int(i) || p.widthMm != m.paperWidthMm) return false;
        // In order of length, so the last is the longest.
        if (i > 1 && p.height <= m.papers[i - 1].height) return false;
        if (!ListTextAddsUp(m, p) || !MediaAddsUp(m, p)) return false;
    }
    return m.newKeyPaperSize > 0 && std::size_t(m.newKeyPaperSize) < m.papers.size();
}

constexpr bool NamesAddUp(const PrinterModel& m) {
    Text key;
    key << "Printers\\" << std::string_view(m.printerName);
    Text file;
    file << std::string_view(m.driverFile);
    return key.Spells(m.settingsKey) && file.Spells(m.driverFileWide);
}

// Whole bytes a row, and the millimetres the engine is told are the dots' width
// rounded; the head prints inside the paper, with the same margin each side.
constexpr bool WidthAddsUp(const PrinterModel& m) {
    int tenthsMm = int(m.dotsAcross / (kInchesPerMm * kDotsPerInch) * 10);
    return m.dotsAcross % 8 == 0 && (tenthsMm + 5) / 10 == m.mmAcross &&
           m.mmAcross < m.paperWidthMm && (m.paperWidthMm - m.mmAcross) % 2 == 0 &&
           (m.heightUnitsPerMm == 1 || m.heightUnitsPerMm == 10);
}

constexpr bool BitRatesAddUp() {
    bool hasDefault = false;
    for (const BitRate& entry : kBitRates) {
        Text t;
        t << int(entry.rate);
        if (!t.Spells(entry.text)) return false;
        hasDefault = hasDefault || entry.rate == kDefaultBitRate;
    }
    return hasDefault;
}

}  // namespace model_checks

static_assert(kShortLabelPageDots == 639);
static_assert(kModelA.BytesPerRow() == 72 && kModelB.BytesPerRow() == 48);
// The registry's "PaperSize" ranges: 1 to 4 for model A, 1 to 11 for model B.
static_assert(kModelA.Presets().size() == 4 && kModelB.Presets().size() == 11);
static_assert(std::size(kBitRates) == 15);
static_assert(model_checks::BitRatesAddUp(),
              "a bit rate's text is not its number, or the default is missing");
static_assert(PortKindOfName(std::string_view("IrDA printer")) == PortKind::kInfrared &&
              PortKindOfName(std::u16string_view(u"com2:")) == PortKind::kSerial &&
              PortKindOfName(std::string_view("192.168.1.20")) == PortKind::kNetwork);
static_assert(BitRateOfName(std::u16string_view(u"COM1: 115200")) == 115200 &&
              BitRateOfName(std::string_view("COM1:9600")) == 600 &&
              BitRateOfName(std::string_view("COM1: 31250")) == kDefaultBitRate);

constexpr bool ModelsAddUp() {
    for (const PrinterModel* m : kModels)
        if (!model_checks::PapersAddUp(*m) || !model_checks::NamesAddUp(*m) ||
            !model_checks::WidthAddsUp(*m))
            return false;
    return true;
}
static_assert(ModelsAddUp(), "a model's papers, names or width do not add up");

}  // namespace qxproto
