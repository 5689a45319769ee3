// What the printers tell IPP clients beyond PAPPL's own attributes, so that clients and
// conformance suites find every attribute IPP Everywhere asks of a printer.
#pragma once

#include <pappl/pappl.h>

#include "qx_models.h"

namespace qxapp {

// Fills the driver data's remaining defaults and adds the printer attributes a driver
// of ours reports; `attrs` is made when it is still null.
void AddIppAttributes(const DriverInfo& driver, pappl_pr_driver_data_t* data, ipp_t** attrs);

}  // namespace qxapp
