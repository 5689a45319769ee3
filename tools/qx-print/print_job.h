// Turning files into pages on a printer device context.
#pragma once

#include <string>
#include <vector>

namespace qxprint {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitBadFile = 2;
constexpr int kExitNoPrinter = 3;
constexpr int kExitNoPort = 4;
constexpr int kExitPrintFailed = 5;
constexpr int kExitNothingToPrint = 6;

struct Options {
    std::u16string printer;  // empty: the default printer
    std::u16string port;     // empty: the printer's own
    bool landscape = false;
    bool quiet = false;
};

// Checks every file first, so a bad one prints nothing; then prints them all as one
// document. Returns an exit status and reports each failure on standard error.
int PrintFiles(const Options& options, const std::vector<std::string>& files);

}  // namespace qxprint
