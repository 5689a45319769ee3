// The printers this machine can reach by itself, as "qx:" devices to choose from when a
// printer is added: serial ports (each at the driver's bit rates, its Linux device named
// in the URI so that the printer maps its COMn: to it), parallel ports and infrared.
// A network printer is named by its IPv4 address instead.
#pragma once

#include <string>
#include <vector>

namespace qxapp {

struct LocalDevice {
    std::string info;  // what the web page shows
    std::string uri;   // qx:...
};

// `devRoot` is "/dev" but for tests.
std::vector<LocalDevice> ListLocalDevices(const std::string& devRoot = "/dev");

}  // namespace qxapp
