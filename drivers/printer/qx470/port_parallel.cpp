// The parallel transport: open, the printer's name, and what a stalled printer says.
#include "port_internal.h"
#include "qx470prnerr.h"
#include "wce/io.h"

namespace qx470 {

using namespace wce;

bool ParallelOpen(PortState& state) {
    LPCWSTR name = state.portName.get();
    // LPT alone is no device; it would name an ordinary file.
    if (name[3] == u'\0') return false;
    HANDLE handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    state.handle = handle;

    // Once for the length, once for the text; a printer that does not answer keeps the
    // name unset, and PortOpen makes it empty.
    DWORD size = 0;
    if (ReadDescription(handle, nullptr, &size) != ERROR_SUCCESS) return true;
    DWORD units = size / sizeof(WCHAR);
    std::unique_ptr<WCHAR[]> text(new (std::nothrow) WCHAR[units + 1]());
    if (!text) return true;
    DWORD capacity = units * sizeof(WCHAR);
    if (ReadDescription(handle, text.get(), &capacity) == ERROR_SUCCESS) {
        state.printerName = std::move(text);
    }
    return true;
}

// The status word is compared as a whole: two flags at once is no known state.
DWORD ParallelStatus(HANDLE handle) {
    DWORD word = 0;
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_PARALLEL_STATUS, nullptr, 0, &word, sizeof word, &returned,
                         nullptr) ||
        returned < sizeof word) {
        return StatusTimeout;
    }
    switch (word) {
        case CE_DNS:
            return StatusNotSelected;
        case CE_OOP:
            return StatusPaperOut;
        case CE_IOE:
            return StatusIoError;
        default:
            return StatusTimeout;
    }
}

}  // namespace qx470
