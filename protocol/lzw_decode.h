// Decoder for the ZCG graphics data: the exact inverse of the driver's 12-bit LZW
// coder with its zero-run codes. Used by the driver's tests and by the emulator, which
// takes whatever bytes arrive, so every malformed stream ends in an error, never in a
// crash or a write past the output buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qxproto {

enum class LzwError {
    kNone = 0,
    kTruncated,         // the data ended before the end code
    kMissingReset,      // the stream does not begin with the reset code
    kBadResetOperand,   // a reset code not followed by code 0
    kUndefinedCode,     // a string code that is not in the dictionary yet
    kNoPreviousString,  // code 256 with no string before it since the last reset
    kDictionaryFull,    // code 256 when no entry can be added any more
    kOutputOverflow,    // the decoded bytes do not fit the output buffer
    kOutOfMemory,       // the decoder's tables could not be allocated
};

struct LzwDecodeResult {
    LzwError error = LzwError::kNone;
    std::size_t produced = 0;  // bytes written to the output (also on error)
    std::size_t consumed = 0;  // stream bytes up to its last word, as the coder wrote it
};

// Decodes one ZCG stream into output. Never writes more than outputCapacity bytes.
LzwDecodeResult LzwDecode(const std::uint8_t* input, std::size_t inputSize, std::uint8_t* output,
                          std::size_t outputCapacity);

// A short English description of the error, for logs and messages.
const char* LzwErrorText(LzwError error);

}  // namespace qxproto
