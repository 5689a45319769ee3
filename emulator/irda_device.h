// The printer as a simulated infrared device offering IrLPT.
//
// Linux has no IrDA stack any more, so the devices "in range" are entries in a
// folder: $QX_IRDA_DIR if set, else ${XDG_RUNTIME_DIR:-/tmp}/qx-irda. Each device is
// two entries named by its 4-byte device address written as 8 lowercase hex digits:
//
//   <addr>.dev   a text file of lines "key=value":
//                  name=<device name, at most 21 ASCII characters>
//                  service=IrLPT
//                  pdu=<largest send unit in bytes>
//   <addr>.sock  a Unix-domain stream socket
//
// The .dev file is written (temporary file + rename) only once the socket listens, so
// a client that finds it can connect. On every accepted connection the device first
// writes one byte: 'A' when it takes the connection, 'B' when it is busy, after which
// it closes that connection. After 'A' the client's stream carries print data, and the
// client closing its side ends the job. One connection is served at a time; others are
// answered 'B'. The device removes both entries when it stops.
//
// A client (the platform's infrared socket) discovers devices by listing *.dev files,
// connects to the .sock of the chosen address, reads the one byte and maps 'B' to
// WSAEADDRINUSE.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "device.h"
#include "options.h"

namespace qxemu {

inline constexpr int kIrdaPduBytes = 1024;

// The folder of simulated infrared devices.
std::string IrdaFolder();
std::string IrdaAddressText(std::uint32_t address);

// Offers IrLPT at the address given by the options until stop (or --once).
bool RunIrda(const Options& options, Device& device, const std::atomic<bool>& stop,
             std::string* error);

}  // namespace qxemu
