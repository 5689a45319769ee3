#include "qx_models.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace qxapp {

namespace {

constexpr std::string_view kScheme = "qx:";

// The rates the driver knows; any other text after a serial port's name would quietly
// mean 19200 bit/s.
constexpr const char* kRates[] = {"110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",  "14400",
                                  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};

bool StartsNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
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

// Why the driver could not open a port of this name, or empty when it can.
std::string CheckPort(const std::string& port) {
    if (port.empty()) return "the device names no port";
    if (port.size() > 255) return "the port name is longer than 255 characters";
    if (StartsNoCase(port, "IRDA")) return {};
    bool serial = StartsNoCase(port, "COM");
    if (serial || StartsNoCase(port, "LPT")) {
        const char* kind = serial ? "COM" : "LPT";
        if (port.size() < 4 || port[3] < '1' || port[3] > '9' || (port.size() > 4 && port[4] != ':'))
            return "\"" + port + "\" is no port: write " + kind + "1: to " + kind + "9: (one digit)";
        if (!serial) {
            if (port.size() > 5) return "\"" + port + "\": nothing may follow LPTn:";
            return {};
        }
        if (port.size() <= 5) return {};
        if (port.size() == 6 || port[5] != ' ')
            return "\"" + port + "\": the bit rate follows COMn: after one space, as in \"COM1: 115200\"";
        std::string rate = port.substr(6);
        for (const char* known : kRates)
            if (rate == known) return {};
        return "\"" + port + "\": the bit rate is not one of 110, 300, 600, 1200, 2400, 4800, 9600, 14400, "
               "19200, 38400, 56000, 57600, 115200, 128000, 256000";
    }
    if (IsDottedAddress(port)) return {};
    return "\"" + port + "\" is none of COMn:, LPTn:, IRDA or a printer's IPv4 address in dotted form "
           "(host names are not looked up)";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = char(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

const PrinterModel& ModelA() {
    static const PrinterModel model{"QX-470 Driver", "QX470.dll", 80, 400, 576, 10, 10, 1000, true, false,
                                    {{1, 254, "om_qx-80x25_80x25.4mm"},
                                     {2, 508, "om_qx-80x51_80x50.8mm"},
                                     {3, 762, "om_qx-80x76_80x76.2mm"},
                                     {4, 1016, "om_qx-80x102_80x101.6mm"}},
                                    1};
    return model;
}

// 58 mm paper, 48 mm (384 dots) printed; its papers are those of model B's settings
// utility, and no receipt is longer than the longest of them.
const PrinterModel& ModelB() {
    static const PrinterModel model{"QX-250 Driver", "QX250.dll", 58, 500, 384, 1, 10, 3276, false, true,
                                    {{1, 60, "om_qx-58x60_58x60mm"},
                                     {2, 80, "om_qx-58x80_58x80mm"},
                                     {3, 100, "om_qx-58x100_58x100mm"},
                                     {4, 120, "om_qx-58x120_58x120mm"},
                                     {5, 140, "om_qx-58x140_58x140mm"},
                                     {6, 160, "om_qx-58x160_58x160mm"},
                                     {7, 180, "om_qx-58x180_58x180mm"},
                                     {8, 200, "om_qx-58x200_58x200mm"},
                                     {9, 297, "om_qx-58x297_58x297mm"},
                                     {10, 2970, "om_qx-58x2970_58x2970mm"},
                                     {11, 3276, "om_qx-58x3276_58x3276mm"}},
                                    1};
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
    bool plain = device.rfind("/dev/", 0) == 0 && device.size() < 256 && device.find("/../") == std::string::npos &&
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
    static const std::vector<const char*> rates(std::begin(kRates), std::end(kRates));
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
            if (std::isalnum(c) || c == '.' || c == ':' || c == '-' || c == '_' || (path && c == '/')) {
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
    if (height < m.minLengthMm * m.heightUnitsPerMm || height > m.maxLengthMm * m.heightUnitsPerMm) {
        char text[96];
        std::snprintf(text, sizeof text, "the media is %.1f mm long; this printer takes %d to %d mm",
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
