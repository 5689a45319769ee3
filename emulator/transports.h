// The inputs that take the printer's place: a TCP listener, a pseudo-terminal standing
// in for the serial port, and a file of captured bytes. Each prints where it listens
// on standard output once it is ready, then serves until stop is set (or, with
// --once, until the first connection ends).
#pragma once

#include <atomic>
#include <string>

#include "device.h"
#include "options.h"

namespace qxemu {

bool RunTcp(const Options& options, Device& device, const std::atomic<bool>& stop,
            std::string* error);
bool RunPty(const Options& options, Device& device, const std::atomic<bool>& stop,
            std::string* error);
bool RunFile(const Options& options, Device& device, const std::atomic<bool>& stop,
             std::string* error);

// Prints one line on standard output and flushes it, for whoever started us.
void Announce(const std::string& line);

}  // namespace qxemu
