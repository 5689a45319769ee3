#include "protocol/lzw_decode.h"

#include <cstring>
#include <new>

#include "protocol/commands.h"

namespace qxproto {

namespace {

constexpr int kNoCode = -1;

// Codes are packed least significant bit first into little-endian 32-bit words, which
// is the same as one little-endian bit string over the bytes.
class CodeReader {
  public:
    CodeReader(const std::uint8_t* input, std::size_t size) : input_(input), bits_(size * 8) {}

    bool Next(int* code) {
        if (bits_ - position_ < static_cast<std::size_t>(kLzwCodeBits)) return false;
        std::size_t byte = position_ / 8;
        unsigned shift = position_ % 8;
        std::uint32_t value = input_[byte];
        if (byte + 1 < bits_ / 8) value |= static_cast<std::uint32_t>(input_[byte + 1]) << 8;
        if (byte + 2 < bits_ / 8) value |= static_cast<std::uint32_t>(input_[byte + 2]) << 16;
        *code = static_cast<int>((value >> shift) & ((1u << kLzwCodeBits) - 1));
        position_ += kLzwCodeBits;
        return true;
    }

    // The coder stores every full word and then the word after them, even when that
    // one holds no bits, so the stream ends one word after the last full word.
    std::size_t ConsumedBytes() const {
        std::size_t bytes = (position_ / 32 + 1) * 4;
        return bytes < bits_ / 8 ? bytes : bits_ / 8;
    }

  private:
    const std::uint8_t* input_;
    std::size_t bits_;
    std::size_t position_ = 0;
};

class Decoder {
  public:
    Decoder(std::uint8_t* output, std::size_t capacity) : out_(output), capacity_(capacity) {
        for (int byte = 0; byte <= kLzwMaxByteCode; ++byte) {
            length_[byte] = 1;
            first_[byte] = static_cast<std::uint8_t>(byte);
        }
    }

    LzwError Run(CodeReader& reader);
    std::size_t Produced() const { return produced_; }

  private:
    LzwError Reset(CodeReader& reader);
    LzwError ZeroRun(int code);
    LzwError String(int code);
    void AddEntry(int prefix, std::uint8_t byte);
    void Write(int code);

    std::uint8_t* out_;
    std::size_t capacity_;
    std::size_t produced_ = 0;
    int nextCode_ = kLzwFirstStringCode;
    int previous_ = kNoCode;
    std::uint16_t prefix_[kLzwCodeLimit] = {};
    std::uint16_t length_[kLzwCodeLimit] = {};
    std::uint8_t last_[kLzwCodeLimit] = {};
    std::uint8_t first_[kLzwCodeLimit] = {};
};

LzwError Decoder::Run(CodeReader& reader) {
    int code = 0;
    if (!reader.Next(&code)) return LzwError::kTruncated;
    if (code != kLzwResetCode) return LzwError::kMissingReset;
    LzwError error = Reset(reader);
    while (error == LzwError::kNone) {
        if (!reader.Next(&code)) return LzwError::kTruncated;
        if (code == kLzwEndCode) return LzwError::kNone;
        if (code == kLzwResetCode) {
            error = Reset(reader);
        } else if (code >= kLzwFirstRunCode && code <= kLzwLongRunCode) {
            error = ZeroRun(code);
        } else {
            error = String(code);
        }
    }
    return error;
}

LzwError Decoder::Reset(CodeReader& reader) {
    int operand = 0;
    if (!reader.Next(&operand)) return LzwError::kTruncated;
    if (operand != 0) return LzwError::kBadResetOperand;
    nextCode_ = kLzwFirstStringCode;
    previous_ = kNoCode;
    return LzwError::kNone;
}

// A zero run stands between two strings without touching the dictionary.
LzwError Decoder::ZeroRun(int code) {
    std::size_t count = static_cast<std::size_t>(LzwRunLength(code));
    if (capacity_ - produced_ < count) return LzwError::kOutputOverflow;
    std::memset(out_ + produced_, 0, count);
    produced_ += count;
    return LzwError::kNone;
}

LzwError Decoder::String(int code) {
    if (code == kLzwLastEntryCode) {
        // The coder's newest entry, which this side is about to add: the previous
        // string followed by its own first byte.
        if (previous_ == kNoCode) return LzwError::kNoPreviousString;
        if (nextCode_ >= kLzwCodeLimit) return LzwError::kDictionaryFull;
        AddEntry(previous_, first_[previous_]);
        code = nextCode_ - 1;
    } else {
        if (code > kLzwMaxByteCode && code >= nextCode_) return LzwError::kUndefinedCode;
        // The entry the coder added after the previous string; it cannot be added
        // once the dictionary is full, which only happens before the last byte.
        if (previous_ != kNoCode && nextCode_ < kLzwCodeLimit) {
            AddEntry(previous_, first_[code]);
        }
    }
    if (capacity_ - produced_ < length_[code]) return LzwError::kOutputOverflow;
    Write(code);
    previous_ = code;
    return LzwError::kNone;
}

void Decoder::AddEntry(int prefix, std::uint8_t byte) {
    prefix_[nextCode_] = static_cast<std::uint16_t>(prefix);
    length_[nextCode_] = static_cast<std::uint16_t>(length_[prefix] + 1);
    last_[nextCode_] = byte;
    first_[nextCode_] = first_[prefix];
    ++nextCode_;
}

void Decoder::Write(int code) {
    std::size_t end = produced_ + length_[code];
    std::size_t at = end;
    while (code > kLzwMaxByteCode) {
        out_[--at] = last_[code];
        code = prefix_[code];
    }
    out_[--at] = static_cast<std::uint8_t>(code);
    produced_ = end;
}

}  // namespace

LzwDecodeResult LzwDecode(const std::uint8_t* input, std::size_t inputSize, std::uint8_t* output,
                          std::size_t outputCapacity) {
    LzwDecodeResult result;
    if (input == nullptr) inputSize = 0;
    if (output == nullptr) outputCapacity = 0;
    CodeReader reader(input, inputSize);
    // About 24 KiB of tables; kept off the caller's stack.
    auto* decoder = new (std::nothrow) Decoder(output, outputCapacity);
    if (decoder == nullptr) {
        result.error = LzwError::kOutOfMemory;
        return result;
    }
    result.error = decoder->Run(reader);
    result.produced = decoder->Produced();
    result.consumed = reader.ConsumedBytes();
    delete decoder;
    return result;
}

const char* LzwErrorText(LzwError error) {
    switch (error) {
        case LzwError::kNone:
            return "no error";
        case LzwError::kTruncated:
            return "compressed data ends before the end code";
        case LzwError::kMissingReset:
            return "compressed data does not start with a reset code";
        case LzwError::kBadResetOperand:
            return "reset code not followed by code 0";
        case LzwError::kUndefinedCode:
            return "code refers to a dictionary entry not yet defined";
        case LzwError::kNoPreviousString:
            return "code 256 with no previous string";
        case LzwError::kDictionaryFull:
            return "code 256 after the dictionary is full";
        case LzwError::kOutputOverflow:
            return "decoded data larger than the output buffer";
        case LzwError::kOutOfMemory:
            return "no memory for the decoder's dictionary";
    }
    return "unknown error";
}

}  // namespace qxproto
