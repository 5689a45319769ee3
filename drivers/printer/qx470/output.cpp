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
    if (bytes == nullptr || job.sendFailed) return 0;
    while (count > 0) {
        // After a failed send the rest of the document is dropped, not kept for the
        // next flush.
        if (job.outCount >= kOutputBufferSize && !PrinterSend(job)) return 0;
        std::size_t room = static_cast<std::size_t>(kOutputBufferSize - job.outCount);
        std::size_t chunk = std::min(count, room);
        std::memcpy(job.outBuffer + job.outCount, bytes, chunk);
        job.outCount += static_cast<int>(chunk);
        bytes += chunk;
        count -= chunk;
    }
    return 1;
}

namespace {

// The debug line is written once, for the send that failed; the document's later
// sends are not tried.
void NoteFailedSend(PrinterJob& job) {
    job.sendFailed = true;
    job.sendError = wce::GetLastError();
    wce::OutputDebugStringW(u"\tPrinterSend() Failed\r\n");
}

}  // namespace

int PrinterSend(PrinterJob& job) {
    if (job.sendFailed) {
        job.outCount = 0;
        return 0;
    }
    if (job.outCount <= 0) return 1;
    int result = PortWrite(job.portHandle, job.outBuffer, static_cast<wce::DWORD>(job.outCount));
    job.outCount = 0;
    if (!result) NoteFailedSend(job);
    return result;
}

int PrinterFlushPage(PrinterJob& job) {
    int result = PrinterSend(job);
    job.rowParity = 0;
    job.nextRow = 0;
    return result;
}

void PrinterStartDocument(PrinterJob& job) {
    job.sendFailed = false;
    job.sendError = 0;
}

int PrinterFinishDocument(PrinterJob& job) {
    if (!PrinterSend(job)) return 0;
    if (!PortFinishDocument(job.portHandle)) NoteFailedSend(job);
    return job.sendFailed ? 0 : 1;
}

int PrinterOpenPort(PrinterJob& job, wce::LPCWSTR portName) {
    PrinterClosePort(job);
    PrinterStartDocument(job);  // a new port owes nothing of an earlier one
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
