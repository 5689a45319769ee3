// Device URIs to the driver's port names, and job options to the driver's settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "local_devices.h"
#include "qx_models.h"
#include "temp_dir.h"

namespace {

using namespace qxapp;

TEST(PortNames, EveryFormTheDriverOpensIsTaken) {
    for (auto [uri, port] : {std::pair{"qx:192.168.1.20", "192.168.1.20"},
                             {"qx://127.0.0.1", "127.0.0.1"},
                             {"qx:COM1:", "COM1:"},
                             {"qx:com2:", "com2:"},
                             {"qx:COM1:%20115200", "COM1: 115200"},
                             {"QX:LPT1:", "LPT1:"},
                             {"qx:LPT1", "LPT1"},
                             {"qx:IRDA", "IRDA"},
                             {"qx:IrDA%20printer", "IrDA printer"}}) {
        PortName p = PortFromDeviceUri(uri);
        EXPECT_EQ(p.error, "") << uri;
        EXPECT_EQ(p.name, port) << uri;
        EXPECT_EQ(PortFromDeviceUri(DeviceUriForPort(port)).name, port);
    }
    EXPECT_EQ(DeviceUriForPort("COM1: 115200"), "qx:COM1:%20115200");
}

// Names the driver would quietly take for something else are refused with the reason.
TEST(PortNames, NamesTheDriverWouldMisreadAreRefused) {
    for (auto [uri, why] : {std::pair{"qx:COM1:9600", "after one space"},  // would be 600 bit/s
                            {"qx:COM1:%2031250", "not one of 110"},        // would be 19200
                            {"qx:COM12:", "one digit"},                    // would be COM1:
                            {"qx:LPT1:x", "nothing may follow"},
                            {"qx:COM0:", "one digit"},
                            {"qx:printer.local", "host names are not looked up"},
                            {"qx:256.1.1.1", "IPv4"},
                            {"qx:10.0.0", "IPv4"},
                            {"qx:10..0.1", "IPv4"},
                            {"qx:", "names no port"},
                            {"qx:%41%4", "broken %-escape"},
                            {"qx:%00COM1:", "broken %-escape"},
                            {"socket://10.0.0.1", "does not start with qx:"}}) {
        PortName p = PortFromDeviceUri(uri);
        EXPECT_NE(p.error.find(why), std::string::npos) << uri << ": " << p.error;
    }
    EXPECT_NE(PortFromDeviceUri("qx:" + std::string(300, '1')).error.find("255"),
              std::string::npos);
}

TEST(JobSettings, MediaCopiesAndRotationBecomeTheDriverSettings) {
    const DriverInfo& gap = *FindDriver("qx470-cpcl-gap");
    SettingsResult r = SettingsFor(gap, 5080, 2, "half-turn");
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.settings.emulation, 1);
    EXPECT_EQ(r.settings.paperSize, 2);      // a length of the driver's paper table
    EXPECT_EQ(r.settings.paperHeight, 508);  // tenths of a mm
    EXPECT_EQ(r.settings.copies, 2);
    EXPECT_EQ(r.settings.rotation, 1);

    r = SettingsFor(*FindDriver("qx470-escpos"), 12345, 1, "");
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.settings.emulation, 0);
    EXPECT_EQ(r.settings.paperSize, 0);  // custom
    EXPECT_EQ(r.settings.paperHeight, 1235);
    EXPECT_EQ(r.settings.rotation, 0);
    EXPECT_EQ(FindDriver("qx470-cpcl-journal")->emulation, 3);
    EXPECT_EQ(FindDriver("qx470-cpcl-gap")->model, &ModelA());
}

// Model B's driver reads whole millimetres and numbers its twelve papers its own way; a
// length in tenths, or model A's table, would print a receipt ten times too long or on
// the wrong paper.
TEST(JobSettings, ModelBTakesWholeMillimetresAndItsOwnPapers) {
    const DriverInfo& b = *FindDriver("qx250-escpos");
    ASSERT_EQ(b.model, &ModelB());
    EXPECT_STREQ(b.model->driverFile, "QX250.dll");
    EXPECT_STREQ(b.model->printerKey, "QX-250 Driver");
    EXPECT_FALSE(b.model->cpcl);
    struct Case {
        int hundredths, height, paperSize;
    };
    for (Case c : {Case{6000, 60, 1},
                   {7995, 80, 2},
                   {8000, 80, 2},
                   {29700, 297, 9},
                   {297000, 2970, 10},
                   {327600, 3276, 11},
                   {5080, 51, 0},
                   {1000, 10, 0},
                   {12345, 123, 0}}) {
        SettingsResult r = SettingsFor(b, c.hundredths, 1, "");
        ASSERT_EQ(r.error, "") << c.hundredths;
        EXPECT_EQ(r.settings.model, &ModelB());
        EXPECT_EQ(r.settings.widthMm, 58);
        EXPECT_EQ(r.settings.paperHeight, c.height) << c.hundredths;
        EXPECT_EQ(r.settings.paperSize, c.paperSize) << c.hundredths;
    }
    EXPECT_NE(SettingsFor(b, 327700, 1, "").error.find("10 to 3276 mm"), std::string::npos);
    EXPECT_NE(SettingsFor(b, 940, 1, "").error.find("9.4 mm long"), std::string::npos);
    // Model A's longest labels are no limit for model B, nor model B's for model A.
    EXPECT_EQ(SettingsFor(b, 200000, 1, "").error, "");
    EXPECT_NE(SettingsFor(*FindDriver("qx470-escpos"), 200000, 1, "").error, "");
}

TEST(JobSettings, EachModelsMediaNamesItsOwnPaper) {
    for (const PrinterModel* m : {&ModelA(), &ModelB()}) {
        ASSERT_LT(size_t(m->defaultPreset), m->presets.size());
        for (const PaperPreset& p : m->presets) {
            std::string prefix = "om_qx-" + std::to_string(m->paperWidthMm) + "x";
            EXPECT_EQ(std::string(p.media).rfind(prefix, 0), 0u) << p.media;
            // The name's size is the length the driver is given.
            std::string size = std::string(p.media).substr(std::string(p.media).rfind('x') + 1);
            double mm = std::stod(size);
            EXPECT_EQ(int(std::lround(mm * m->heightUnitsPerMm)), p.height) << p.media;
            EXPECT_EQ(SettingsFor(*FindDriver(m == &ModelA() ? "qx470-escpos" : "qx250-escpos"),
                                  int(std::lround(mm * 100)), 1, "")
                          .settings.paperSize,
                      p.paperSize)
                << p.media;
        }
    }
    EXPECT_EQ(ModelB().presets.size(), 11u);
}

TEST(JobSettings, WhatTheDriverCannotPrintIsRefused) {
    const DriverInfo& receipt = *FindDriver("qx470-escpos");
    EXPECT_EQ(SettingsFor(receipt, 1000, 1, "").error, "");
    EXPECT_EQ(SettingsFor(receipt, 100000, 1, "").error, "");
    EXPECT_NE(SettingsFor(receipt, 994, 1, "").error.find("9.9 mm long"), std::string::npos);
    EXPECT_NE(SettingsFor(receipt, 100100, 1, "").error.find("10 to 1000 mm"), std::string::npos);
    EXPECT_NE(SettingsFor(receipt, 5080, 0, "").error.find("copies"), std::string::npos);
    EXPECT_NE(SettingsFor(receipt, 5080, 1000, "").error.find("copies"), std::string::npos);
    EXPECT_NE(SettingsFor(receipt, 5080, 1, "sideways").error.find("qx-rotation"),
              std::string::npos);
}

}  // namespace

namespace {

TEST(DeviceUri, NamesTheLinuxDeviceAPortStandsFor) {
    qxapp::PortName p = qxapp::PortFromDeviceUri("qx:COM3:%20115200?device=/dev/ttyUSB0");
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.name, "COM3: 115200");
    EXPECT_EQ(p.device, "/dev/ttyUSB0");
    EXPECT_EQ(qxapp::DeviceUriForPort("COM3: 115200", "/dev/ttyUSB0"),
              "qx:COM3:%20115200?device=/dev/ttyUSB0");
    EXPECT_EQ(qxapp::PortFromDeviceUri("qx:LPT2:?device=/dev/usb/lp0").device, "/dev/usb/lp0");
    // Only a file under /dev, plainly named, and only for COMn: and LPTn:.
    for (const char* bad : {"qx:COM3:?device=/etc/passwd", "qx:COM3:?device=/dev/../etc/passwd",
                            "qx:COM3:?device=/dev/tty%0AS0", "qx:IRDA?device=/dev/ttyS0",
                            "qx:192.168.1.20?device=/dev/ttyS0", "qx:COM3:?port=/dev/ttyS0"})
        EXPECT_NE(qxapp::PortFromDeviceUri(bad).error, "") << bad;
}

TEST(LocalDevices, ListsSerialDevicesAtEveryRateParallelPortsAndInfrared) {
    qxtest::TempDir folder("qxdev");
    ASSERT_TRUE(folder.ok());
    const std::string& dev = folder.path();
    std::filesystem::create_directories(dev + "/usb");
    for (const char* name : {"ttyUSB0", "ttyACM0", "usb/lp0", "lp0"})
        std::ofstream(dev + "/" + name) << "";
    std::vector<qxapp::LocalDevice> list = qxapp::ListLocalDevices(dev);
    auto has = [&](const std::string& uri) {
        return std::any_of(list.begin(), list.end(),
                           [&](const qxapp::LocalDevice& d) { return d.uri == uri; });
    };
    // No real ttyS here: the USB and ACM serial devices are COM1: and COM2:.
    EXPECT_TRUE(has("qx:COM1:?device=" + dev + "/ttyUSB0"));
    EXPECT_TRUE(has("qx:COM1:%20115200?device=" + dev + "/ttyUSB0"));
    EXPECT_TRUE(has("qx:COM2:%209600?device=" + dev + "/ttyACM0"));
    EXPECT_TRUE(has("qx:LPT1:?device=" + dev + "/usb/lp0"));
    EXPECT_TRUE(has("qx:LPT2:?device=" + dev + "/lp0"));
    EXPECT_TRUE(has("qx:IRDA"));
    EXPECT_EQ(list.size(), 2 * qxapp::SerialBitRates().size() + 3);
}

}  // namespace
