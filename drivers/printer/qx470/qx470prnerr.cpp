// Printer status prompts and the driver's error lines.
#include "qx470prnerr.h"

#include <iterator>
#include <memory>
#include <mutex>
#include <new>

#include "port_internal.h"
#include "wce/resources.h"
#include "wce/text.h"
#include "wce/ui.h"

namespace qx470 {

using namespace wce;

namespace {

constexpr WCHAR kSourcePath[] = u"drivers\\printer\\qx470\\qx470prnerr";
constexpr int kNoPrinterNameLine = 74;
constexpr UINT kPromptStyle = MB_RETRYCANCEL | MB_ICONERROR | MB_SETFOREGROUND;

// The name line is written even when the name is empty, as a serial port's always is.
constexpr StringResource kStatusTemplates[] = {
    {1,
     u"The printer is not selected or is off line.\n\nPrinter: %s\nPort: %s\n\n"
     u"Put the printer on line and choose Retry, or choose Cancel to stop printing."},
    {2,
     u"The printer is out of paper.\n\nPrinter: %s\nPort: %s\n\n"
     u"Load paper and choose Retry, or choose Cancel to stop printing."},
    {3,
     u"The printer reported an I/O error.\n\nPrinter: %s\nPort: %s\n\n"
     u"Check the printer and its cable and choose Retry, or choose Cancel to stop printing."},
    {4,
     u"The printer is not responding.\n\nPrinter: %s\nPort: %s\n\n"
     u"Check that the printer is switched on and connected and choose Retry, or choose "
     u"Cancel to stop printing."},
    {5,
     u"The printer reported an error.\n\nPrinter: %s\nPort: %s\n\n"
     u"Check the printer and choose Retry, or choose Cancel to stop printing."},
};

// Any address of this module names it uniquely among the loaded modules.
const char kModuleTag = 0;

}  // namespace

HINSTANCE DriverStringModule() {
    static std::once_flag registered;
    HINSTANCE module = reinterpret_cast<HINSTANCE>(const_cast<char*>(&kModuleTag));
    std::call_once(registered, [module] {
        RegisterStringTable(module, kStatusTemplates, std::size(kStatusTemplates));
    });
    return module;
}

int ReportPrinterStatus(DWORD status, LPCWSTR portName, LPCWSTR printerName, DWORD /*reserved*/) {
    if (!portName || !printerName) {
        NKDbgPrintfW(u"ERROR: %s line %d:", kSourcePath, kNoPrinterNameLine);
        NKDbgPrintfW(u"Trying to report printer status with no printer name.\r\n");
        return 0;
    }
    if (status < StatusNotSelected || status > StatusOther) return 0;
    UINT id = kFirstStatusTemplate + (status - StatusNotSelected);

    HINSTANCE module = Port().messageModule ? Port().messageModule : DriverStringModule();
    LPCWSTR format = nullptr;
    if (LoadStringW(module, id, reinterpret_cast<LPWSTR>(&format), 0) <= 0 || !format) return 0;

    size_t room = WideLength(format) + WideLength(printerName) + WideLength(portName) + 1;
    std::unique_ptr<WCHAR[]> text(new (std::nothrow) WCHAR[room]);
    if (!text) return 0;
    FormatWide(text.get(), room, format, printerName, portName);

    return MessageBoxW(nullptr, text.get(), nullptr, kPromptStyle) == IDRETRY ? 1 : 0;
}

}  // namespace qx470
