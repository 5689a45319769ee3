// The driver's output path: every byte the encoders produce gathers in the job's
// 1,024-byte buffer and goes to the port layer in one write per full buffer.
#pragma once

#include <cstddef>

#include "printer_job.h"
#include "wce/types.h"

namespace qx470 {

// Buffers count bytes, sending the buffer each time it is full. Returns 1, or 0 when
// bytes is null or a send of the document has failed (the bytes are then dropped).
int PrinterWrite(PrinterJob& job, const wce::BYTE* bytes, std::size_t count);

// Sends the buffered bytes in one port write and empties the buffer whatever the
// result. Returns the port's result, or 1 when the buffer was empty. Once a send of
// the document has failed nothing more reaches the port and the result is 0.
int PrinterSend(PrinterJob& job);

// Sends what is buffered and starts the next page at row 0.
int PrinterFlushPage(PrinterJob& job);

// A new document: sends are tried again.
void PrinterStartDocument(PrinterJob& job);

// Waits until the printer has taken the whole document; one that has not counts as a
// failed send. Returns 1, or 0 when a send of the document failed.
int PrinterFinishDocument(PrinterJob& job);

// Closes any open port, opens portName and reads the printer's ink capability.
// Returns the port handle, or -1.
int PrinterOpenPort(PrinterJob& job, wce::LPCWSTR portName);

// Sends what is buffered and closes the port; nothing when no port is open.
void PrinterClosePort(PrinterJob& job);

}  // namespace qx470
