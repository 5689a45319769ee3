// Document and page control: what is sent at the start of a document and for every
// finished page, in ESC/POS or CPCL.
#pragma once

#include "printer_job.h"
#include "settings.h"
#include "wce/winddi.h"

namespace qx470 {

// Pages started in the current document.
int& PageCounter();

// Formats a text or command word into 128 wide characters and writes the low 8 bits of
// each; nothing is written when fewer than two bytes result.
void PrinterSendText(PrinterJob& job, wce::LPCWSTR format, ...);

// Sends the page held in the page image in the emulation the settings select.
void PrintPage(PrinterJob& job, const DriverSettings& settings);

wce::BOOL DrvStartDoc(wce::SURFOBJ* surface, wce::LPWSTR docName, wce::DWORD jobId);
wce::BOOL DrvStartPage(wce::SURFOBJ* surface);
wce::BOOL DrvEndDoc(wce::SURFOBJ* surface, wce::FLONG flags);

}  // namespace qx470
