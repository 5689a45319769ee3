// qx-print: prints image and text files through the graphics engine and the printer's
// driver, the way any program on the handheld prints.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "print_job.h"
#include "wce/registry.h"
#include "wce/text.h"

namespace {

const char kUsage[] =
    "Usage: qx-print [options] FILE...\n"
    "\n"
    "Prints each FILE on the printer registered in the registry, through its driver.\n"
    "An image (PNG, JPEG, GIF or BMP) becomes one page, scaled down to the paper width\n"
    "when it is wider. A UTF-8 text file is wrapped at the paper width and runs onto as\n"
    "many pages as it needs.\n"
    "\n"
    "Options:\n"
    "  -P, --printer NAME  the printer: a key under HKEY_LOCAL_MACHINE\\Printers\n"
    "                      (default: the default printer)\n"
    "  -p, --port PORT     the port to print to instead of the printer's own, for\n"
    "                      example COM1:, \"COM1: 115200\", LPT1:, IRDA or 192.168.1.20\n"
    "  -l, --landscape     turn the pages a quarter (the long side across)\n"
    "  -q, --quiet         no progress on standard error\n"
    "  -h, --help          this text\n"
    "\n"
    "The registry is the file named by QX_REGISTRY, else ~/.config/qx/registry.reg.\n"
    "\n"
    "Exit status: 0 printed; 1 wrong options; 2 a file cannot be printed (missing,\n"
    "unreadable, a directory, a damaged or too large image, or neither an image nor\n"
    "UTF-8 text); 3 no such printer is registered; 4 the printer's port does not open;\n"
    "5 printing failed part way; 6 the driver's settings would print nothing (no\n"
    "\"Copies\" value, or fewer than 1).\n";

int Usage(const char* why) {
    std::fprintf(stderr, "qx-print: %s\nTry 'qx-print --help'.\n", why);
    return qxprint::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    qxprint::Options options;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)name;
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "-P" || arg == "--printer") {
            const char* v = value("printer");
            if (!v) return Usage("--printer needs a printer name");
            options.printer = wce::Utf8ToWide(v);
        } else if (arg == "-p" || arg == "--port") {
            const char* v = value("port");
            if (!v) return Usage("--port needs a port name");
            options.port = wce::Utf8ToWide(v);
        } else if (arg == "-l" || arg == "--landscape") {
            options.landscape = true;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--") {
            for (++i; i < argc; ++i) files.push_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage(("unknown option " + arg).c_str());
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return Usage("no file to print");
    return qxprint::PrintFiles(options, files);
}
