// The infrared and network transports are not built yet: their opens fail, so
// PortOpen reports the port as unknown.
#include "port_internal.h"

namespace qx470 {

bool InfraredOpen(PortState& /*state*/, wce::DWORD /*timeoutSeconds*/) {
    wce::SetLastError(wce::ERROR_INVALID_PRINTER_STATE);
    return false;
}

int InfraredSend(PortState& /*state*/, const wce::BYTE* /*bytes*/, wce::DWORD /*count*/) {
    wce::SetLastError(wce::ERROR_WRITE_FAULT);
    return 0;
}

void InfraredClose(PortState& /*state*/) {}

bool NetworkOpen(PortState& /*state*/) {
    return false;
}

int NetworkSend(PortState& state, const wce::BYTE* /*bytes*/, wce::DWORD /*count*/) {
    state.handle = wce::INVALID_HANDLE_VALUE;
    wce::SetLastError(wce::ERROR_WRITE_FAULT);
    return 0;
}

void NetworkClose(PortState& /*state*/) {}

}  // namespace qx470
