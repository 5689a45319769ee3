#include "local_devices.h"

#include <fcntl.h>
#include <glob.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "qx_models.h"

namespace qxapp {

namespace {

std::vector<std::string> Glob(const std::string& pattern) {
    std::vector<std::string> paths;
    glob_t found{};
    if (::glob(pattern.c_str(), 0, nullptr, &found) == 0)
        for (size_t i = 0; i < found.gl_pathc; ++i) paths.emplace_back(found.gl_pathv[i]);
    ::globfree(&found);
    return paths;
}

// Every machine has /dev/ttyS0 to ttyS31; only those a UART answers for are ports.
bool IsRealSerialPort(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    bool real = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return real;
}

// ttyS<n> keeps the name the platform gives it, COM<n+1>:; any other serial device
// takes the first name that no such port has.
std::vector<std::pair<std::string, std::string>> SerialPorts(const std::string& dev) {
    std::vector<std::pair<std::string, std::string>> ports;  // COMn:, device
    std::set<int> taken;
    for (int n = 0; n < 9; ++n) {
        std::string path = dev + "/ttyS" + std::to_string(n);
        if (::access(path.c_str(), F_OK) == 0 && IsRealSerialPort(path)) {
            ports.push_back({"COM" + std::to_string(n + 1) + ":", ""});
            taken.insert(n + 1);
        }
    }
    int next = 1;
    for (const char* kind : {"ttyUSB", "ttyACM", "rfcomm"})
        for (const std::string& path : Glob(dev + "/" + kind + "*")) {
            while (taken.count(next)) ++next;
            if (next > 9) return ports;
            ports.push_back({"COM" + std::to_string(next) + ":", path});
            taken.insert(next);
        }
    return ports;
}

}  // namespace

std::vector<LocalDevice> ListLocalDevices(const std::string& dev) {
    std::vector<LocalDevice> devices;
    for (const auto& [com, path] : SerialPorts(dev)) {
        std::string where = path.empty() ? dev + "/ttyS" + std::to_string(com[3] - '1') : path;
        // The driver's own rate first: a name without one.
        const std::string standard = std::to_string(qxproto::kDefaultBitRate);
        devices.push_back({"Serial port " + com + " (" + where + ") at " + standard + " bit/s",
                           DeviceUriForPort(com, path)});
        for (const char* rate : SerialBitRates())
            if (rate != standard)
                devices.push_back({"Serial port " + com + " (" + where + ") at " + rate + " bit/s",
                                   DeviceUriForPort(com + " " + rate, path)});
    }
    // LPTn: is usb/lp<n-1>, else lp<n-1>, unless the device is named.
    int lpt = 1;
    for (const char* kind : {"/usb/lp", "/lp"})
        for (const std::string& path : Glob(dev + kind + "[0-9]")) {
            if (lpt > 9) break;
            std::string name = "LPT" + std::to_string(lpt++) + ":";
            devices.push_back(
                {"Parallel port " + name + " (" + path + ")", DeviceUriForPort(name, path)});
        }
    devices.push_back({"Infrared printer (IrLPT)", "qx:IRDA"});
    return devices;
}

}  // namespace qxapp
