// Port selection and dispatch: the port name decides the transport; PortWrite and
// PortClose hand over to it.
#include <algorithm>
#include <new>
#include <string_view>

#include "port_internal.h"
#include "protocol/models.h"
#include "wce/io.h"
#include "wce/registry.h"
#include "wce/text.h"

namespace qx470 {

using namespace wce;

namespace {

constexpr WCHAR kSettingsKey[] = u"PrintSettings";
constexpr WCHAR kTimeoutValue[] = u"TimeOut";
constexpr WCHAR kPortsKey[] = u"Printers\\Ports";
constexpr WCHAR kDefaultPortValue[] = u"DefaultPrintPort";
constexpr WCHAR kFallbackPort[] = u"LPT1:";
// Room for LPTn: and its terminator.
constexpr size_t kMinNameUnits = qxproto::kDeviceNameLength + 1;

std::unique_ptr<WCHAR[]> AllocateUnits(size_t units) {
    return std::unique_ptr<WCHAR[]>(new (std::nothrow) WCHAR[units]());
}

// A send limit of 0 would mean no limit at all, and one of more than an hour is none
// in practice; both would let a printer that stops reading hang the job.
DWORD UsableTimeout(DWORD seconds) {
    return seconds == 0 || seconds > kLongestTimeoutSeconds ? kDefaultTimeoutSeconds : seconds;
}

// Seconds; a value of another type or size counts as missing.
DWORD ReadTimeoutSeconds() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return kDefaultTimeoutSeconds;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG result = RegQueryValueExW(key, kTimeoutValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    bool valid = result == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value;
    return valid ? UsableTimeout(value) : kDefaultTimeoutSeconds;
}

std::unique_ptr<WCHAR[]> CopyGivenName(LPCWSTR name) {
    size_t length = WideLength(name);
    std::unique_ptr<WCHAR[]> copy = AllocateUnits(std::max(length + 1, kMinNameUnits));
    if (copy) std::copy(name, name + length, copy.get());
    return copy;
}

std::unique_ptr<WCHAR[]> ReadDefaultPortName() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    std::unique_ptr<WCHAR[]> name;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, kDefaultPortValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        // Two spare bytes keep a value stored without its terminator terminated.
        DWORD bytes = std::max<DWORD>(size + 2, kMinNameUnits * 2);
        name = AllocateUnits((bytes + 1) / 2);
        if (name &&
            RegQueryValueExW(key, kDefaultPortValue, nullptr, &type,
                             reinterpret_cast<BYTE*>(name.get()), &bytes) != ERROR_SUCCESS) {
            name.reset();
        }
    }
    RegCloseKey(key);
    return name;
}

}  // namespace

int KindOfName(LPCWSTR name) {
    switch (qxproto::PortKindOfName(std::u16string_view(name))) {
        case qxproto::PortKind::kInfrared:
            return PortKindInfrared;
        case qxproto::PortKind::kParallel:
            return PortKindParallel;
        case qxproto::PortKind::kSerial:
            return PortKindSerial;
        default:
            return PortKindNetwork;
    }
}

DWORD SerialRateOfName(LPCWSTR name) {
    return qxproto::BitRateOfName(std::u16string_view(name));
}

namespace {

// Only one-digit port numbers can be named: whatever follows the fourth character goes.
void CutToDeviceName(WCHAR* name) {
    name[qxproto::kDeviceNameLength - 1] = u':';
    name[qxproto::kDeviceNameLength] = u'\0';
}

bool OpenTransport(PortState& state, int kind, DWORD rate, DWORD timeoutSeconds) {
    switch (kind) {
        case PortKindInfrared:
            return InfraredOpen(state, timeoutSeconds);
        case PortKindSerial:
            return SerialOpen(state, rate, timeoutSeconds);
        case PortKindParallel:
            return ParallelOpen(state);
        default:
            return NetworkOpen(state, timeoutSeconds);
    }
}

}  // namespace

PortState& Port() {
    static PortState state;
    return state;
}

int PortOpen(LPCWSTR portName) {
    PortState& state = Port();
    state.portName.reset();
    state.printerName.reset();
    DWORD timeoutSeconds = ReadTimeoutSeconds();
    if (portName) state.portName = CopyGivenName(portName);
    if (!state.portName) state.portName = ReadDefaultPortName();
    if (!state.portName) {
        state.portName = AllocateUnits(kMinNameUnits);
        if (!state.portName) {
            SetLastError(ERROR_OUTOFMEMORY);
            return PortKindNone;
        }
        std::copy(std::begin(kFallbackPort), std::end(kFallbackPort), state.portName.get());
    }
    WCHAR* name = state.portName.get();
    int kind = KindOfName(name);
    DWORD rate = kind == PortKindSerial ? SerialRateOfName(name) : 0;
    if (kind == PortKindSerial || kind == PortKindParallel) CutToDeviceName(name);
    if (!OpenTransport(state, kind, rate, timeoutSeconds)) {
        SetLastError(ERROR_UNKNOWN_PORT);
        state.portName.reset();
        return PortKindNone;
    }
    if (!state.printerName) state.printerName = AllocateUnits(1);
    return kind;
}

namespace {

// A write or the end of a document needs a port that is open and still connected.
bool PortReady(const PortState& state, int kind) {
    if (kind == PortKindNone) {
        SetLastError(ERROR_UNKNOWN_PORT);
        return false;
    }
    if (!HasTransport(state)) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return true;
}

}  // namespace

int PortWrite(int kind, const BYTE* bytes, DWORD count) {
    PortState& state = Port();
    if (!PortReady(state, kind)) return 0;
    if (!bytes) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    switch (kind) {
        case PortKindInfrared: {
            int sent = InfraredSend(state, bytes, count);
            if (!sent) state.handle = INVALID_HANDLE_VALUE;
            return sent;
        }
        case PortKindSerial:
        case PortKindParallel:
            if (count == 0) return 1;
            return DeviceSend(state, kind, bytes, count);
        case PortKindNetwork:
            return NetworkSend(state, bytes, count);
        default:
            SetLastError(ERROR_UNKNOWN_PORT);
            return 0;
    }
}

int PortFinishDocument(int kind) {
    PortState& state = Port();
    if (!PortReady(state, kind)) return 0;
    switch (kind) {
        case PortKindInfrared:
        case PortKindSerial:
        case PortKindParallel:
            return 1;  // their writes return once every byte is handed over
        case PortKindNetwork:
            return NetworkFinish(state);
        default:
            SetLastError(ERROR_UNKNOWN_PORT);
            return 0;
    }
}

void PortClose(int kind) {
    PortState& state = Port();
    switch (kind) {
        case PortKindInfrared:
            if (HasTransport(state)) {
                InfraredClose(state);
                state.handle = INVALID_HANDLE_VALUE;
            }
            break;
        case PortKindSerial:
        case PortKindParallel:
            if (HasTransport(state)) {
                CloseHandle(state.handle);
                state.handle = INVALID_HANDLE_VALUE;
            }
            break;
        case PortKindNetwork:
            state.handle = INVALID_HANDLE_VALUE;
            NetworkClose(state);
            break;
        default:
            break;
    }
    state.portName.reset();
    state.printerName.reset();
}

}  // namespace qx470
