// The command line of qx-emulator.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/models.h"

namespace qxemu {

enum class InputKind { kTcp, kPty, kIrda, kFile };
enum class FaultKind { kNone, kRefuse, kNeverRead, kCloseAfter, kSlow };

struct Fault {
    FaultKind kind = FaultKind::kNone;
    std::uint64_t value = 0;  // close-after: bytes; slow: bytes per second
};

struct Options {
    int paperWidth = qxproto::kModelA.dotsAcross;
    char model = 'a';
    InputKind input = InputKind::kTcp;
    std::string tcpAddress = "127.0.0.1";
    int tcpPort = 9100;
    std::uint32_t irdaAddress = 0;
    std::string filePath;  // "-" is standard input
    std::string outDir = "qx-out";
    std::string nvPath;  // empty: <outDir>/nv-images.bin
    int idleMs = 2000;   // 0: no idle gaps
    Fault fault;
    bool once = false;
    bool verbose = false;
    bool help = false;
};

// False with a message naming the bad option.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);
std::string UsageText();

}  // namespace qxemu
