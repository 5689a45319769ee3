// What the printer application offers: the drivers of each model, the port names our
// driver understands, the media and the settings a job gives the driver.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qxapp {

constexpr int kDpi = 203;
constexpr int kPaperWidthMm = 80;
constexpr int kMarginHundredthsMm = 400;  // 80 mm paper, 72 mm (576 dots) printed
constexpr int kPrintedDots = 576;
constexpr int kMinLengthMm = 10;
constexpr int kMaxLengthMm = 1000;

// One driver of the application: a model and the emulation the driver is set to.
struct DriverInfo {
    const char* name;         // the application's driver name
    const char* description;  // shown by clients and the web interface
    int emulation;            // the driver's "Emulation": 0 ESC/POS, 1 gap, 2 mark, 3 journal
    bool label;               // labels of a fixed length, or a roll
};
const std::vector<DriverInfo>& Drivers();
const DriverInfo* FindDriver(std::string_view name);

// A preset of the driver's paper table: its number, its length in tenths of a mm and
// the media name clients choose it by.
struct PaperPreset {
    int paperSize;
    int lengthTenthsMm;
    const char* media;
};
const std::vector<PaperPreset>& PaperPresets();

// The port name a device URI names ("qx:COM1:%20115200" is "COM1: 115200"), or an
// error that says what is wrong with it.
struct PortName {
    std::string name;
    std::string error;  // empty when the name is one the driver can open
};
PortName PortFromDeviceUri(std::string_view uri);
std::string DeviceUriForPort(std::string_view port);

// The driver's settings for one job.
struct JobSettings {
    int copies = 1;
    int emulation = 0;
    int paperSize = 0;  // 0 custom, else a preset of the table
    int widthMm = kPaperWidthMm;
    int lengthTenthsMm = 508;
    int rotation = 0;        // CPCL: 1 turns the label half a turn
    int printingLength = 0;  // ESC/POS: trailing blank rows are dropped
};

// Settings from a job's options: the media length in hundredths of a mm, copies and
// the rotation keyword. An error text when the media cannot be printed.
struct SettingsResult {
    JobSettings settings;
    std::string error;
};
SettingsResult SettingsFor(const DriverInfo& driver, int lengthHundredthsMm, int copies,
                           std::string_view rotation);

}  // namespace qxapp
