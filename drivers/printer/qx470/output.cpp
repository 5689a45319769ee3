#include "output.h"

#include <algorithm>
#include <cstring>

#include "port.h"
#include "wce/base.h"

namespace qx470 {

namespace {

constexpr wce::DWORD kQueryCapabilities = 2;
constexpr wce::DWORD kCapabilityBlack = 0x1;

}  // namespace

int PrinterWrite(PrinterJob& job, const wce::BYTE* bytes, std::size_t count) {
    if (bytes == nullptr) return 0;
    int sent = 1;
    while (count > 0) {
        if (job.outCount >= kOutputBufferSize) sent = PrinterSend(job);
        std::size_t room = static_cast<std::size_t>(kOutputBufferSize - job.outCount);
        std::size_t chunk = std::min(count, room);
        std::memcpy(job.outBuffer + job.outCount, bytes, chunk);
        job.outCount += static_cast<int>(chunk);
        bytes += chunk;
        count -= chunk;
        // The port is gone; the bytes of the failed send are lost and so are the rest.
        if (!sent) return 0;
    }
    return 1;
}

int PrinterSend(PrinterJob& job) {
    if (job.outCount <= 0) return 1;
    int result = PortWrite(job.portHandle, job.outBuffer, static_cast<wce::DWORD>(job.outCount));
    job.outCount = 0;
    if (!result) wce::OutputDebugStringW(u"\tPrinterSend() Failed\r\n");
    return result;
}

int PrinterFlushPage(PrinterJob& job) {
    int result = PrinterSend(job);
    job.rowParity = 0;
    job.nextRow = 0;
    return result;
}

int PrinterOpenPort(PrinterJob& job, wce::LPCWSTR portName) {
    PrinterClosePort(job);
    job.portHandle = PortOpen(portName);
    if (job.portHandle == PortKindNone) return PortKindNone;
    job.noBlackInk = 0;
    wce::DWORD capabilities = 0;
    wce::DWORD size = sizeof capabilities;
    wce::DWORD error = PortQuery(job.portHandle, kQueryCapabilities, &capabilities, &size);
    if (error == wce::ERROR_SUCCESS && (capabilities & kCapabilityBlack) == 0) job.noBlackInk = 1;
    return job.portHandle;
}

void PrinterClosePort(PrinterJob& job) {
    if (job.portHandle == PortKindNone) return;
    PrinterSend(job);
    PortClose(job.portHandle);
    job.portHandle = PortKindNone;
}

}  // namespace qx470
