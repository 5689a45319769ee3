// The simulated infrared family: the devices in range are entries in a folder, a .dev
// file describing each and a Unix-domain socket reaching it (see wce/winsock.h).
#include "linux_net.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "net_internal.h"
#include "wce/base.h"

namespace wce {
namespace net {
namespace {

constexpr int kAnswerWaitMs = 5000;  // a device answers at once; this only ends a hung one
constexpr size_t kNameMax = 21;
constexpr char kTakesConnection = 'A';
constexpr char kBusy = 'B';

struct Device {
    u_char id[4] = {};
    std::string name;
    std::vector<std::string> services;
    int sendUnit = 0;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ParseAddress(const std::string& text, u_char id[4]) {
    if (text.size() != 8) return false;
    for (int i = 0; i < 4; ++i) {
        int high = HexDigit(text[2 * i]);
        int low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        id[i] = u_char(high * 16 + low);
    }
    return true;
}

std::string AddressText(const u_char id[4]) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 4; ++i) {
        text += kDigits[id[i] >> 4];
        text += kDigits[id[i] & 0xF];
    }
    return text;
}

void ReportBadDevice(const std::string& path, int line, const char* why) {
    NKDbgPrintfW(u"infrared device %S line %d: %S; device ignored\r\n", path.c_str(), line, why);
}

bool ParseSendUnit(const std::string& text, int* unit) {
    if (text.empty() || text.size() > 5) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    *unit = value;
    return true;
}

// False when the device is not in range or its file is malformed (with a debug line).
bool ReadDevice(const std::string& path, Device* device) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    int number = 0;
    bool haveUnit = false;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            ReportBadDevice(path, number, "no key=value");
            return false;
        }
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        if (key == "name") {
            device->name = value.substr(0, kNameMax);
            for (char& c : device->name) c = (c & 0x80) ? '?' : c;
        } else if (key == "service") {
            device->services.push_back(value);
        } else if (key == "pdu") {
            if (!ParseSendUnit(value, &device->sendUnit)) {
                ReportBadDevice(path, number, "pdu is not a number from 1 to 65535");
                return false;
            }
            haveUnit = true;
        }
    }
    if (!haveUnit) ReportBadDevice(path, number, "no pdu line");
    return haveUnit;
}

std::vector<Device> DevicesInRange() {
    std::vector<Device> devices;
    std::string folder = InfraredFolder();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return devices;
    while (dirent* entry = ::readdir(dir)) {
        std::string file = entry->d_name;
        if (file.size() != 12 || file.compare(8, 4, ".dev") != 0) continue;
        Device device;
        if (!ParseAddress(file.substr(0, 8), device.id)) continue;
        if (ReadDevice(folder + "/" + file, &device)) devices.push_back(device);
    }
    ::closedir(dir);
    std::sort(devices.begin(), devices.end(),
              [](const Device& a, const Device& b) { return std::memcmp(a.id, b.id, 4) < 0; });
    return devices;
}

IRDA_DEVICE_INFO InfoOf(const Device& device) {
    IRDA_DEVICE_INFO info{};
    std::memcpy(info.irdaDeviceID, device.id, 4);
    std::memcpy(info.irdaDeviceName, device.name.data(), device.name.size());
    bool printer =
        std::find(device.services.begin(), device.services.end(), "IrLPT") != device.services.end();
    info.irdaDeviceHints1 = printer ? LM_HB1_Printer : 0;
    info.irdaCharSet = LmCharSetASCII;
    return info;
}

// Connects a fresh Unix socket to the device and reads its answer; the descriptor on
// success, else -1 with *wsaError.
int ReachDevice(const std::string& path, int* wsaError) {
    ::sockaddr_un address{};
    address.sun_family = lnx::kAfUnix;
    if (path.size() >= sizeof address.sun_path) {
        *wsaError = WSAEINVAL;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(lnx::kAfUnix, lnx::kSockStream | lnx::kSockCloexec, 0);
    if (fd < 0) {
        *wsaError = WsaErrorOf(errno);
        return -1;
    }
    if (::connect(fd, reinterpret_cast<::sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        *wsaError = WSAETIMEDOUT;  // nothing answers: the device has left
        return -1;
    }
    pollfd entry{fd, POLLIN, 0};
    char answer = 0;
    int ready = ::poll(&entry, 1, kAnswerWaitMs);
    ssize_t got = ready > 0 ? ::recv(fd, &answer, 1, 0) : -1;
    if (got == 1 && answer == kTakesConnection) return fd;
    ::close(fd);
    if (ready == 0) {
        *wsaError = WSAETIMEDOUT;
    } else {
        *wsaError = got == 1 && answer == kBusy ? WSAEADDRINUSE : WSAECONNREFUSED;
    }
    return -1;
}

// The new descriptor takes the old one's number, so the SOCKET stays what it was.
bool AdoptDescriptor(int fresh, const SocketRecord& record) {
    for (int name : {lnx::kSoSndTimeo, lnx::kSoRcvTimeo}) {
        ::timeval time{};
        socklen_t size = sizeof time;
        if (::getsockopt(record.fd, lnx::kSolSocket, name, &time, &size) == 0) {
            ::setsockopt(fresh, lnx::kSolSocket, name, &time, sizeof time);
        }
    }
    if (record.nonBlocking) ::fcntl(fresh, F_SETFL, ::fcntl(fresh, F_GETFL) | O_NONBLOCK);
    bool adopted = ::dup3(fresh, record.fd, O_CLOEXEC) >= 0;
    int error = errno;
    ::close(fresh);
    errno = error;
    return adopted;
}

}  // namespace

std::string InfraredFolder() {
    const char* folder = std::getenv("QX_IRDA_DIR");
    if (folder && *folder) return folder;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return std::string(runtime && *runtime ? runtime : "/tmp") + "/qx-irda";
}

int InfraredEnumDevices(char* value, int* length) {
    if (*length < int(sizeof(ULONG))) return Fail(WSAEFAULT);
    std::vector<Device> devices = DevicesInRange();
    size_t room = (size_t(*length) - sizeof(ULONG)) / sizeof(IRDA_DEVICE_INFO);
    ULONG count = ULONG(std::min(room, devices.size()));
    std::memcpy(value, &count, sizeof count);
    for (ULONG i = 0; i < count; ++i) {
        IRDA_DEVICE_INFO info = InfoOf(devices[i]);
        std::memcpy(value + sizeof count + i * sizeof info, &info, sizeof info);
    }
    *length = int(sizeof count + count * sizeof(IRDA_DEVICE_INFO));
    return 0;
}

int InfraredConnect(SOCKET socket, const SocketRecord& record, const sockaddr* name,
                    int nameLength) {
    if (record.connected) return Fail(WSAEISCONN);
    if (nameLength < int(sizeof(SOCKADDR_IRDA))) return Fail(WSAEFAULT);
    SOCKADDR_IRDA address;
    std::memcpy(&address, name, sizeof address);
    if (address.irdaAddressFamily != AF_IRDA) return Fail(WSAEAFNOSUPPORT);
    std::string service(address.irdaServiceName,
                        ::strnlen(address.irdaServiceName, sizeof address.irdaServiceName));
    std::string base = InfraredFolder() + "/" + AddressText(address.irdaDeviceID);
    Device device;
    if (!ReadDevice(base + ".dev", &device)) return Fail(WSAETIMEDOUT);
    if (std::find(device.services.begin(), device.services.end(), service) ==
        device.services.end()) {
        return Fail(WSAECONNREFUSED);
    }
    int wsaError = 0;
    int fd = ReachDevice(base + ".sock", &wsaError);
    if (fd < 0) return Fail(wsaError);
    if (!AdoptDescriptor(fd, record)) return Fail(WsaErrorOf(errno));
    MarkInfraredConnected(socket, device.sendUnit);
    return 0;
}

}  // namespace net
}  // namespace wce
