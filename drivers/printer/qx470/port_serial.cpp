// The serial transport, and the send loop it shares with the parallel one.
#include <algorithm>

#include "port_internal.h"
#include "qx470prnerr.h"
#include "wce/io.h"

namespace qx470 {

using namespace wce;

namespace {

// Keep fBinary, fParity and bits 15 up; set CTS and DSR output flow control, DTR on,
// continue after XOFF, RTS on. DSR sensitivity, XON/XOFF, error and null handling and
// abort on error end up off.
constexpr DWORD kKeptFlags = 0xFFFF8003;
constexpr DWORD kPrinterFlags = 0x0000109C;

// A port name that is not a device name after the cut (COM alone, say) would name an
// ordinary file; it is not opened.
bool IsCutDeviceName(LPCWSTR name) {
    return name[3] != u'\0' && name[4] == u':';
}

}  // namespace

bool SerialOpen(PortState& state, DWORD baudRate, DWORD timeoutSeconds) {
    LPCWSTR name = state.portName.get();
    if (!IsCutDeviceName(name)) return false;
    HANDLE handle =
        CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;

    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (GetCommState(handle, &dcb)) {
        dcb.BaudRate = baudRate;
        SetDcbFlagWord(dcb, (DcbFlagWord(dcb) & kKeptFlags) | kPrinterFlags);
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        SetCommState(handle, &dcb);  // a port that refuses keeps its settings
    }

    COMMTIMEOUTS timeouts{};
    GetCommTimeouts(handle, &timeouts);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = timeoutSeconds * 1000;  // never 0: no limit at all
    SetCommTimeouts(handle, &timeouts);

    state.handle = handle;
    return true;
}

int DeviceSend(PortState& state, int kind, const BYTE* bytes, DWORD count) {
    const BYTE* position = bytes;
    DWORD remaining = count;
    while (remaining != 0) {
        DWORD written = 0;
        WriteFile(state.handle, position, remaining, &written, nullptr);
        while (written == 0) {
            DWORD status = kind == PortKindParallel ? ParallelStatus(state.handle) : StatusTimeout;
            if (!ReportPrinterStatus(status, state.portName.get(), state.printerName.get(), 0)) {
                CloseHandle(state.handle);
                state.handle = INVALID_HANDLE_VALUE;
                SetLastError(ERROR_CANCELLED);
                return 0;
            }
            WriteFile(state.handle, position, remaining, &written, nullptr);
        }
        written = std::min(written, remaining);
        position += written;
        remaining -= written;
    }
    return 1;
}

}  // namespace qx470
