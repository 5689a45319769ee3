// The parallel printer's identification: its IEEE 1284 device ID gives the
// description shown in prompts and the capability flags the core asks for.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "port_internal.h"
#include "wce/io.h"

namespace qx470 {

using namespace wce;

namespace {

constexpr DWORD kDeviceIdSize = 256;
constexpr DWORD kCapabilitySelector = 0x20;

// The reply is text up to its first zero byte or the end of what came back.
bool ReadDeviceId(HANDLE handle, std::string& text) {
    char reply[kDeviceIdSize] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_PARALLEL_GETDEVICEID, nullptr, 0, reply, kDeviceIdSize,
                         &returned, nullptr)) {
        return false;
    }
    returned = std::min(returned, kDeviceIdSize);
    text.assign(reply, strnlen(reply, returned));
    return true;
}

std::string_view DescriptionOf(std::string_view id) {
    for (std::string_view key : {"DESCRIPTION:", "DES:", "MODEL:"}) {
        size_t at = id.find(key);
        if (at == std::string_view::npos) continue;
        std::string_view rest = id.substr(at + key.size());
        return rest.substr(0, rest.find(';'));
    }
    return {};
}

// "$" followed, two characters on, by "B" or "C".
DWORD FlagsFromMarkers(std::string_view id) {
    DWORD flags = 0;
    for (size_t i = 0; i + 2 < id.size(); ++i) {
        if (id[i] != '$') continue;
        if (id[i + 2] == 'C') flags |= PortCapabilityColour;
        if (id[i + 2] == 'B') flags |= PortCapabilityBlack;
    }
    return flags;
}

DWORD FlagsFromCapabilityRead(HANDLE handle) {
    DWORD selector = kCapabilitySelector;
    BYTE reply[kDeviceIdSize] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_PARALLEL_CAPABILITY, &selector, sizeof selector, reply,
                         sizeof reply, &returned, nullptr) ||
        returned <= 3) {
        return 0;
    }
    DWORD flags = 0;
    if (reply[3] & 0x10) flags |= PortCapabilityColour;
    if (reply[3] & 0x01) flags |= PortCapabilityBlack;
    return flags;
}

}  // namespace

DWORD ReadDescription(HANDLE handle, WCHAR* buffer, DWORD* size) {
    std::string id;
    if (!ReadDeviceId(handle, id)) return ERROR_INVALID_PRINTER_STATE;
    std::string_view description = DescriptionOf(id);
    DWORD capacity = *size / sizeof(WCHAR);
    DWORD needed = DWORD(description.size() + 1) * sizeof(WCHAR);
    if (buffer && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    *size = needed;
    if (!buffer) return ERROR_SUCCESS;
    int converted = 0;
    if (!description.empty()) {
        converted = MultiByteToWideChar(CP_ACP, 0, description.data(), int(description.size()),
                                        buffer, int(capacity - 1));
    }
    buffer[std::max(converted, 0)] = u'\0';
    return ERROR_SUCCESS;
}

bool ReadCapabilityFlags(HANDLE handle, DWORD* flags) {
    std::string id;
    if (!ReadDeviceId(handle, id)) return false;
    *flags = FlagsFromMarkers(id);
    if (*flags == 0) *flags = FlagsFromCapabilityRead(handle);
    return true;
}

DWORD PortQuery(int kind, DWORD infoKind, void* buffer, DWORD* size) {
    if (!size) return ERROR_INVALID_PARAMETER;
    if (kind == PortKindNone) return ERROR_UNKNOWN_PORT;
    if (kind != PortKindParallel) return ERROR_NOT_SUPPORTED;
    HANDLE handle = Port().handle;
    if (infoKind == PortInfoDescription) {
        return ReadDescription(handle, static_cast<WCHAR*>(buffer), size);
    }
    if (infoKind != PortInfoCapabilities) return ERROR_INVALID_PARAMETER;
    if (!buffer) {
        *size = sizeof(DWORD);
        return ERROR_SUCCESS;
    }
    if (*size < sizeof(DWORD)) {
        *size = sizeof(DWORD);
        return ERROR_MORE_DATA;
    }
    DWORD flags = 0;
    if (!ReadCapabilityFlags(handle, &flags)) return ERROR_INVALID_PRINTER_STATE;
    std::memcpy(buffer, &flags, sizeof flags);
    return ERROR_SUCCESS;
}

}  // namespace qx470
