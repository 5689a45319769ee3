// The driver's error module: the Retry/Cancel prompts on printer trouble and the error
// lines on the debug output.
#pragma once

#include "wce/base.h"
#include "wce/types.h"

namespace qx470 {

// What a stalled port reports to the prompt.
constexpr wce::DWORD StatusNotSelected = 0x80000001;
constexpr wce::DWORD StatusPaperOut = 0x80000002;
constexpr wce::DWORD StatusIoError = 0x80000003;
constexpr wce::DWORD StatusTimeout = 0x80000004;
constexpr wce::DWORD StatusOther = 0x80000005;

// The prompt texts are string resources 1 to 5, one per status code in order. Each
// takes the printer name, then the port name.
constexpr wce::UINT kFirstStatusTemplate = 1;

// Asks the user what to do about the printer; 1 for Retry, 0 for Cancel or when no
// prompt could be shown. The last argument is unused.
int ReportPrinterStatus(wce::DWORD status, wce::LPCWSTR portName, wce::LPCWSTR printerName,
                        wce::DWORD reserved);

// The handle under which the driver's own string table is registered; the prompt
// uses it while the port's message module is unset.
wce::HINSTANCE DriverStringModule();

}  // namespace qx470
