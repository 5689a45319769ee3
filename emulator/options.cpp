#include "options.h"

#include <cstdlib>
#include <cstring>

#include "device.h"

namespace qxemu {

namespace {

bool ParseUnsigned(const std::string& text, std::uint64_t max, std::uint64_t* value) {
    if (text.empty() || text.size() > 19) return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (v > max) return false;
    *value = v;
    return true;
}

bool ParseTcp(const std::string& text, Options* o) {
    std::size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? text : text.substr(0, colon);
    if (!host.empty()) o->tcpAddress = host;
    if (colon != std::string::npos) {
        std::uint64_t port;
        if (!ParseUnsigned(text.substr(colon + 1), 65535, &port)) return false;
        o->tcpPort = static_cast<int>(port);
    }
    return true;
}

bool ParseFault(const std::string& text, Fault* f) {
    std::uint64_t v = 0;
    if (text == "refuse") {
        f->kind = FaultKind::kRefuse;
    } else if (text == "never-read") {
        f->kind = FaultKind::kNeverRead;
    } else if (text.rfind("close-after=", 0) == 0 &&
               ParseUnsigned(text.substr(12), UINT64_MAX / 2, &v)) {
        *f = Fault{FaultKind::kCloseAfter, v};
    } else if (text.rfind("slow=", 0) == 0 && ParseUnsigned(text.substr(5), 1u << 30, &v) &&
               v > 0) {
        *f = Fault{FaultKind::kSlow, v};
    } else {
        return false;
    }
    return true;
}

bool ParseIrda(const std::string& text, std::uint32_t* address) {
    if (text.size() != 8) return false;
    std::uint32_t v = 0;
    for (char c : text) {
        int d = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : -1;
        if (d < 0) return false;
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    *address = v;
    return true;
}

}  // namespace

std::string UsageText() {
    return "usage: qx-emulator [options]\n"
           "Takes the printer's place and writes what it would print as PNG files.\n"
           "\n"
           "  --model a|b          model A, " +
           std::to_string(kModelAPaperDots) + " dots wide (default), or model B, " +
           std::to_string(kModelBPaperDots) +
           " dots\n"
           "  --tcp ADDR[:PORT]    listen for raw TCP printing (default 127.0.0.1:9100;\n"
           "                       port 0 picks a free one)\n"
           "  --pty                serve a pseudo-terminal as the serial printer\n"
           "  --irda ADDR8HEX      offer IrLPT as the simulated infrared device ADDR\n"
           "                       (folder $QX_IRDA_DIR, else $XDG_RUNTIME_DIR/qx-irda or "
           "/tmp/qx-irda)\n"
           "  --file PATH          decode a file of captured bytes ('-' = standard input)\n"
           "  --out DIR            output folder (default ./qx-out): receipt-NNNN.png,\n"
           "                       label-NNNN.png, emulator.log\n"
           "  --nv FILE            image memory file (default <out>/nv-images.bin)\n"
           "  --idle-ms N          a pause of N ms ends a receipt (default 2000, 0 = never)\n"
           "  --fault MODE         refuse | never-read | close-after=N | slow=BYTES_PER_SECOND\n"
           "  --once               stop after the first connection ends\n"
           "  --verbose            copy the log to standard error\n"
           "  --help               this text\n"
           "\n"
           "At start the listening address, pty path or device address is printed on\n"
           "standard output. SIGTERM and SIGINT finish the current page, then exit.\n";
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool takesValue = arg == "--model" || arg == "--tcp" || arg == "--irda" ||
                          arg == "--file" || arg == "--out" || arg == "--nv" ||
                          arg == "--idle-ms" || arg == "--fault";
        std::size_t eq = arg.find('=');
        if (eq != std::string::npos && arg.rfind("--", 0) == 0 &&
            arg.compare(0, 7, "--fault") != 0) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            takesValue = false;
        } else if (arg.rfind("--fault=", 0) == 0) {
            value = arg.substr(8);
            arg = "--fault";
            takesValue = false;
        }
        if (takesValue) {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        std::uint64_t n = 0;
        if (arg == "--model" && (value == "a" || value == "A")) {
            o->model = 'a', o->paperWidth = kModelAPaperDots;
        } else if (arg == "--model" && (value == "b" || value == "B")) {
            o->model = 'b', o->paperWidth = kModelBPaperDots;
        } else if (arg == "--tcp" && ParseTcp(value, o)) {
            o->input = InputKind::kTcp, ++inputs;
        } else if (arg == "--pty") {
            o->input = InputKind::kPty, ++inputs;
        } else if (arg == "--irda" && ParseIrda(value, &o->irdaAddress)) {
            o->input = InputKind::kIrda, ++inputs;
        } else if (arg == "--file" && !value.empty()) {
            o->input = InputKind::kFile, o->filePath = value, ++inputs;
        } else if (arg == "--out" && !value.empty()) {
            o->outDir = value;
        } else if (arg == "--nv" && !value.empty()) {
            o->nvPath = value;
        } else if (arg == "--idle-ms" && ParseUnsigned(value, 3600000, &n)) {
            o->idleMs = static_cast<int>(n);
        } else if (arg == "--fault" && ParseFault(value, &o->fault)) {
        } else if (arg == "--once") {
            o->once = true;
        } else if (arg == "--verbose") {
            o->verbose = true;
        } else if (arg == "--help" || arg == "-h") {
            o->help = true;
        } else {
            *error = "bad option " + std::string(argv[i]) + (value.empty() ? "" : " " + value);
            return false;
        }
    }
    if (inputs > 1) {
        *error = "choose one input: --tcp, --pty, --irda or --file";
        return false;
    }
    if (o->fault.kind == FaultKind::kRefuse &&
        (o->input == InputKind::kPty || o->input == InputKind::kFile)) {
        *error = "--fault refuse applies to --tcp and --irda only";
        return false;
    }
    return true;
}

}  // namespace qxemu
