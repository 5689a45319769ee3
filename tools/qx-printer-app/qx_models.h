// What the printer application offers: the drivers of each model, the port names our
// driver understands, the media and the settings a job gives the driver.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/models.h"

namespace qxapp {

constexpr int kDpi = qxproto::kDotsPerInch;

// A preset of a driver's paper table: its "PaperSize" number, its length in the model's
// "PHeight" units and the media name clients choose it by.
using qxproto::PaperPreset;

// What sets one printer model apart for the application: its driver, where that driver
// reads its settings, the paper and what of it is printed.
struct PrinterModel {
    const char* printerKey;  // the printer's key under Printers, which is also its settings key
    const char* driverFile;  // the printer's "Driver"
    int paperWidthMm;
    int marginHundredthsMm;  // each side, outside the printed dots
    int printedDots;
    int heightUnitsPerMm;  // "PHeight" in tenths of a mm (10) or whole mm (1)
    int minLengthMm, maxLengthMm;
    bool cpcl;  // the driver reads "Emulation", "BackFeed" and "Rotation"
    // Pages upright unless the job asks otherwise: a receipt roll narrower than its
    // papers are long would otherwise get a wide picture turned sideways.
    bool portraitByDefault;
    std::span<const PaperPreset> presets;  // "PaperSize" 1 on
    int defaultPreset;                     // index into presets
};
const PrinterModel& ModelA();  // the 3-inch label printer, QX470.dll
const PrinterModel& ModelB();  // the 2-inch receipt printer, QX250.dll

// One driver of the application: a model and the emulation the driver is set to.
struct DriverInfo {
    const char* name;         // the application's driver name
    const char* description;  // shown by clients and the web interface
    const PrinterModel* model;
    int emulation;  // model A's "Emulation": 0 ESC/POS, 1 gap, 2 mark, 3 journal
    bool label;     // labels of a fixed length, or a roll
};
const std::vector<DriverInfo>& Drivers();
const DriverInfo* FindDriver(std::string_view name);

// The port name a device URI names ("qx:COM1:%20115200" is "COM1: 115200"), or an
// error that says what is wrong with it.
// "qx:COM3:%20115200?device=/dev/ttyUSB0" also names the Linux device the port name
// stands for on this printer (its Platform\Devices mapping).
struct PortName {
    std::string name;
    std::string device;  // empty: the platform's own mapping
    std::string error;   // empty when the name is one the driver can open
};
PortName PortFromDeviceUri(std::string_view uri);
std::string DeviceUriForPort(std::string_view port, std::string_view device = {});

// The bit rates the driver takes after "COMn: ".
const std::vector<const char*>& SerialBitRates();

// The driver's settings for one job.
struct JobSettings {
    const PrinterModel* model = nullptr;
    int copies = 1;
    int emulation = 0;
    int paperSize = 0;  // 0 custom, else a preset of the table
    int widthMm = 80;
    int paperHeight = 0;     // "PHeight", in the model's units
    int rotation = 0;        // CPCL: 1 turns the label half a turn
    int printingLength = 0;  // ESC/POS: trailing blank rows are dropped
    // The printer's commands around each document, as its settings utility keeps them.
    std::string startText, endText;  // UTF-8, at most kMaxCommandText characters
    int startLogo = 0, endLogo = 0;  // a stored image, 1 to 255; 0 none
    int backFeed = 0;                // CPCL: 1 prints after a back-feed
    std::string portDevice;          // the Linux device of the port, when the printer names one
};
constexpr int kMaxCommandText = 255;

// Settings from a job's options: the media length in hundredths of a mm, copies and
// the rotation keyword. An error text when the media cannot be printed.
struct SettingsResult {
    JobSettings settings;
    std::string error;
};
SettingsResult SettingsFor(const DriverInfo& driver, int lengthHundredthsMm, int copies,
                           std::string_view rotation);

}  // namespace qxapp
