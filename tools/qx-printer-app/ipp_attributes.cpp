#include "ipp_attributes.h"

namespace qxapp {

namespace {

// The printers have no display, light, buzzer or voice: the app is their console. An
// Identify-Printer request's message ("display") goes to the printer's log, which the
// web interface shows on its Logs page.
void Identify(pappl_printer_t* printer, pappl_identify_actions_t actions, const char* message) {
    if (!(actions & PAPPL_IDENTIFY_ACTIONS_DISPLAY)) return;
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: %s",
                    message && *message ? message : "this is the printer");
}

void AddKeyword(ipp_t* attrs, const char* name, const char* value) {
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), name, nullptr, value);
}

}  // namespace

void AddIppAttributes(const DriverInfo& driver, pappl_pr_driver_data_t* data, ipp_t** attrs) {
    // IPP/1.1 and PWG 5100.12 want a default orientation of portrait, landscape or their
    // reverses ("none" is no such value): pages print upright unless a job asks
    // otherwise, and a job that wants its picture turned to fit the label asks for "none".
    if (data->orient_default < IPP_ORIENT_PORTRAIT ||
        data->orient_default > IPP_ORIENT_REVERSE_PORTRAIT)
        data->orient_default = IPP_ORIENT_PORTRAIT;
    if (!data->identify_cb) {
        data->identify_cb = Identify;
        data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
        data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    }

    // What PWG 5100.14 (IPP Everywhere) asks of every printer and PAPPL leaves out.
    if (!*attrs) *attrs = ippNew();
    ipp_t* a = *attrs;
    // Get-Printer-Attributes answers with what it is asked for; it prefers nothing.
    ippAddBoolean(a, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    // An override may name the documents and pages it covers, as IPP Everywhere asks;
    // nothing else of a job changes from page to page on these printers.
    static const char* const kOverrides[] = {"document-number", "pages"};
    ippAddStrings(a, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "overrides-supported", 2,
                  nullptr, kOverrides);
    // Grey dots with no colour management: the printer chooses.
    AddKeyword(a, "print-rendering-intent-default", "auto");
    AddKeyword(a, "print-rendering-intent-supported", "auto");
    // One-sided printers: PAPPL names the back of a sheet only for duplex drivers (and a
    // duplex mode would go into urf-supported), so it is said here.
    if (data->duplex == PAPPL_DUPLEX_NONE)
        AddKeyword(a, "pwg-raster-document-sheet-back", "normal");

    // The one supply of a direct thermal printer, which has no ink, toner or ribbon: the
    // paper it marks, a roll or labels. Neither the printer nor the driver can tell how
    // much is left, so the level is -2, "unknown" (RFC 3805's prtMarkerSuppliesLevel);
    // PAPPL reports printer-supply only for supplies a driver sets at run time, which
    // these never do, so the two attributes are the driver's own.
    static const char kSupply[] =
        "index=1;class=supplyThatIsConsumed;type=other;unit=percent;maxcapacity=100;level=-2;"
        "colorantname=unknown;";
    ippAddOctetString(a, IPP_TAG_PRINTER, "printer-supply", kSupply, int(sizeof kSupply - 1));
    ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-supply-description", nullptr,
                 driver.label ? "Labels" : "Paper roll");
}

}  // namespace qxapp
