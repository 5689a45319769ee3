// The application's side of PAPPL: the drivers it offers, the "qx:" devices and the
// raster callbacks that hand every page to the graphics engine.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace qxapp {

// The state folder, where job files and test pages are made.
void SetWorkDir(const std::string& dir);
const std::string& WorkDir();
// The registry file the application's driver settings live in: its own, in the state
// folder, so programs on this machine keep the settings their utility wrote.
void UseRegistryIn(const std::string& stateDir);
// The registry file of the state folder, which each printer's own is made from.
std::string SharedRegistry();

// Gives a new printer the pages of its own (its logos).
void PrinterCreated(pappl_printer_t* printer, void* data);

// Registers the "qx:" device scheme: its URIs name a port of our driver.
void AddDeviceScheme();

// PNG and JPEG documents are checked with the engine's loader before they are drawn.
void AddImageFilters(pappl_system_t* system);

// The documents the job's worker lays out itself (documents.h).
void AddDocumentFilters(pappl_system_t* system);

bool DriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* context);

}  // namespace qxapp
