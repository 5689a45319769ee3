#include "qx_models.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace qxapp {

namespace {

constexpr std::string_view kScheme = "qx:";

bool StartsNoCase(std::string_view text, std::string_view prefix) {
    return qxproto::StartsWithNoCase(text, prefix);
}

// "110, 300, ..., 256000": the rates the driver knows. Any other text after a serial
// port's name would quietly mean the default rate.
std::string RateList() {
    std::string list;
    for (const qxproto::BitRate& entry : qxproto::kBitRates) {
        if (!list.empty()) list += ", ";
        list += entry.text;
    }
    return list;
}

bool IsDottedAddress(std::string_view text) {
    int parts = 0;
    size_t i = 0;
    while (i <= text.size()) {
        size_t end = text.find('.', i);
        if (end == text.npos) end = text.size();
        std::string_view part = text.substr(i, end - i);
        if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), ::isdigit) ||
            std::stoi(std::string(part)) > 255)
            return false;
        ++parts;
        i = end + 1;
    }
    return parts == 4;
}

// Why the driver could not open a port of this name, or empty when it can. Stricter
// than the driver: a name it would read as another port or rate is refused.
std::string CheckPort(const std::string& port) {
    using namespace qxproto;
    if (port.empty()) return "the device names no port";
    if (port.size() > 255) return "the port name is longer than 255 characters";
    PortKind kind = PortKindOfName(std::string_view(port));
    if (kind == PortKind::kInfrared) return {};
    if (kind == PortKind::kSerial || kind == PortKind::kParallel) {
        bool serial = kind == PortKind::kSerial;
        std::string prefix(serial ? kSerialPrefix : kParallelPrefix);
        const size_t colonAt = kDeviceNameLength - 1;
        if (port.size() <= kPortDigitAt || port[kPortDigitAt] < '1' || port[kPortDigitAt] > '9' ||
            (port.size() > colonAt && port[colonAt] != ':'))
            return "\"" + port + "\" is no port: write " + prefix + "1: to " + prefix +
                   "9: (one digit)";
        if (!serial) {
            if (port.size() > kDeviceNameLength)
                return "\"" + port + "\": nothing may follow " + prefix + "n:";
            return {};
        }
        if (port.size() <= kDeviceNameLength) return {};
        if (port.size() == kBitRateAt || port[kDeviceNameLength] != ' ')
            return "\"" + port + "\": the bit rate follows " + prefix +
                   "n: after one space, as in \"" + prefix + "1: 115200\"";
        if (FindBitRate(std::string_view(port).substr(kBitRateAt)) != 0) return {};
        return "\"" + port + "\": the bit rate is not one of " + RateList();
    }
    if (IsDottedAddress(port)) return {};
    return "\"" + port +
           "\" is none of COMn:, LPTn:, IRDA or a printer's IPv4 address in dotted form "
           "(host names are not looked up)";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = char(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

namespace {

// The shared table's facts, with what the application adds: the lengths it takes and
// which way up it turns pages.
constexpr PrinterModel FromTable(const qxproto::PrinterModel& m, int maxLengthMm,
                                 bool portraitByDefault) {
    return {
        .printerKey = m.printerName,
        .driverFile = m.driverFile,
        .paperWidthMm = m.paperWidthMm,
        .marginHundredthsMm = (m.paperWidthMm - m.mmAcross) * 100 / 2,
        .printedDots = m.dotsAcross,
        .heightUnitsPerMm = m.heightUnitsPerMm,
        .minLengthMm = 10,
        .maxLengthMm = maxLengthMm,
        .cpcl = m.cpcl,
        .portraitByDefault = portraitByDefault,
        .presets = m.Presets(),
        .defaultPreset = m.newKeyPaperSize - 1,
    };
}

}  // namespace

const PrinterModel& ModelA() {
    static const PrinterModel model = FromTable(qxproto::kModelA, 1000, false);
    return model;
}

// No receipt is longer than the longest of model B's papers.
const PrinterModel& ModelB() {
    constexpr const qxproto::PrinterModel& b = qxproto::kModelB;
    static const PrinterModel model =
        FromTable(b, b.papers.back().height / b.heightUnitsPerMm, true);
    return model;
}

const std::vector<DriverInfo>& Drivers() {
    static const std::vector<DriverInfo> drivers = {
        {"qx470-escpos", "QX-470 ESC/POS receipt", &ModelA(), 0, false},
        {"qx470-cpcl-gap", "QX-470 CPCL gap label", &ModelA(), 1, true},
        {"qx470-cpcl-mark", "QX-470 CPCL mark label", &ModelA(), 2, true},
        {"qx470-cpcl-journal", "QX-470 CPCL journal", &ModelA(), 3, false},
        {"qx250-escpos", "QX-250 ESC/POS receipt", &ModelB(), 0, false},
    };
    return drivers;
}

const DriverInfo* FindDriver(std::string_view name) {
    for (const DriverInfo& d : Drivers())
        if (name == d.name) return &d;
    return nullptr;
}

namespace {

// Undoes %-escapes; false for a broken one or a NUL.
bool Unescape(std::string_view text, std::string* out) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *out += text[i];
            continue;
        }
        int hi = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
        int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
        *out += char(hi * 16 + lo);
        i += 2;
    }
    return true;
}

// A device the port may be mapped to: a file under /dev, named plainly.
std::string CheckDevice(const std::string& device, const std::string& port) {
    bool plain = device.rfind("/dev/", 0) == 0 && device.size() < 256 &&
                 device.find("/../") == std::string::npos &&
                 std::all_of(device.begin(), device.end(), [](unsigned char c) {
                     return std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-';
                 });
    if (!plain) return "\"" + device + "\" is no device under /dev";
    if (!StartsNoCase(port, "COM") && !StartsNoCase(port, "LPT"))
        return "only a COMn: or LPTn: port is mapped to a device, not \"" + port + "\"";
    return {};
}

}  // namespace

const std::vector<const char*>& SerialBitRates() {
    static const std::vector<const char*> rates = [] {
        std::vector<const char*> texts;
        // Each text is a whole string literal, so it ends in a NUL.
        for (const qxproto::BitRate& entry : qxproto::kBitRates) texts.push_back(entry.text.data());
        return texts;
    }();
    return rates;
}

PortName PortFromDeviceUri(std::string_view uri) {
    PortName result;
    if (!StartsNoCase(uri, "QX:")) {
        result.error = "the device URI does not start with qx:";
        return result;
    }
    std::string_view rest = uri.substr(kScheme.size());
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    std::string_view query;
    if (size_t at = rest.find('?'); at != std::string_view::npos) {
        query = rest.substr(at + 1);
        rest = rest.substr(0, at);
    }
    if (!Unescape(rest, &result.name)) {
        result.error = "the device URI has a broken %-escape";
        return result;
    }
    result.error = CheckPort(result.name);
    if (!result.error.empty() || query.empty()) return result;
    if (query.rfind("device=", 0) != 0 || !Unescape(query.substr(7), &result.device)) {
        result.error = "the device URI's query is not device=/dev/NAME";
        return result;
    }
    result.error = CheckDevice(result.device, result.name);
    return result;
}

std::string DeviceUriForPort(std::string_view port, std::string_view device) {
    auto escaped = [](std::string_view text, bool path) {
        std::string out;
        for (unsigned char c : text) {
            if (std::isalnum(c) || c == '.' || c == ':' || c == '-' || c == '_' ||
                (path && c == '/')) {
                out += char(c);
            } else {
                char escape[4];
                std::snprintf(escape, sizeof escape, "%%%02X", c);
                out += escape;
            }
        }
        return out;
    };
    std::string uri = std::string(kScheme) + escaped(port, false);
    if (!device.empty()) uri += "?device=" + escaped(device, true);
    return uri;
}

SettingsResult SettingsFor(const DriverInfo& driver, int lengthHundredthsMm, int copies,
                           std::string_view rotation) {
    SettingsResult r;
    JobSettings& s = r.settings;
    s.emulation = driver.emulation;
    if (copies < 1 || copies > 999) {
        r.error = "copies must be 1 to 999";
        return r;
    }
    s.copies = copies;
    if (rotation == "half-turn") {
        s.rotation = 1;
    } else if (!rotation.empty() && rotation != "none") {
        r.error = "qx-rotation is none or half-turn";
        return r;
    }
    const PrinterModel& m = *driver.model;
    s.model = &m;
    s.widthMm = m.paperWidthMm;
    // The driver takes the length in its own units; model B's whole millimetres round.
    int height = int(std::lround(lengthHundredthsMm * m.heightUnitsPerMm / 100.0));
    if (height < m.minLengthMm * m.heightUnitsPerMm ||
        height > m.maxLengthMm * m.heightUnitsPerMm) {
        char text[96];
        std::snprintf(text, sizeof text,
                      "the media is %.1f mm long; this printer takes %d to %d mm",
                      lengthHundredthsMm / 100.0, m.minLengthMm, m.maxLengthMm);
        r.error = text;
        return r;
    }
    s.paperHeight = height;
    for (const PaperPreset& p : m.presets)
        if (p.height == height) s.paperSize = p.paperSize;
    return r;
}

}  // namespace qxapp
