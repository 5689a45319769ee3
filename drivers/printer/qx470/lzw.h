// The 12-bit LZW coder of the ZCG graphics command, with its zero-run codes. Every
// band is coded on its own from an empty dictionary; the code stream is fixed by what
// the printer's decoder expects, the dictionary structure is ours.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/commands.h"
#include "wce/types.h"

namespace qx470 {

// Bit accumulator and dictionary counter of one coding run. The driver passes a
// zeroed state; LzwCompress starts from scratch and leaves the final values here.
struct LzwState {
    std::uint32_t nextCode = 0;
    wce::BYTE savedByte = 0;
    std::uint32_t bitWord = 0;
    std::uint32_t bitCount = 0;
};

// Strings 512 to 4095 as (prefix code, byte) -> code: those of two bytes in a table
// indexed by both bytes, the longer ones in an open-addressed table kept under a
// quarter full so probes stay short. A slot is the prefix code XOR a fixed number per
// byte, two instructions after the previous lookup. LzwCompress clears both tables
// itself, entry by entry, so a reset costs the entries it drops rather than the
// whole table.
struct LzwDictionary {
    static constexpr int kSlotBits = 14;
    static constexpr std::uint32_t kSlots = 1u << kSlotBits;
    static constexpr int kEntries = qxproto::kLzwCodeLimit - qxproto::kLzwFirstStringCode;

    std::uint32_t slots[kSlots] = {};   // 0 empty, else (prefix << 8 | byte) << 12 | code
    std::uint16_t used[kEntries] = {};  // slots filled since the last reset
    int usedCount = 0;
    std::uint16_t byteChildren[256 * 256] = {};  // byte << 8 | byte -> code, 0 empty
    std::uint16_t byteChildUsed[kEntries] = {};
    int byteChildCount = 0;
};

// Where PutCode puts the codes: a 64-bit accumulator, least significant bit first,
// and the output word it fills. LzwCompress makes sure the output has room.
struct LzwOutput {
    std::uint64_t bits = 0;
    std::uint32_t count = 0;
    wce::BYTE* next = nullptr;
};

// Stores the accumulator's low 32 bits as one little-endian word at the output.
inline void StoreWord(const LzwOutput& out) {
    out.next[0] = static_cast<wce::BYTE>(out.bits);
    out.next[1] = static_cast<wce::BYTE>(out.bits >> 8);
    out.next[2] = static_cast<wce::BYTE>(out.bits >> 16);
    out.next[3] = static_cast<wce::BYTE>(out.bits >> 24);
}

// Appends one 12-bit code. The word is stored after every code, full or not, and the
// output moves past it only once it holds 32 bits: no branch for the three codes in
// eight that complete a word.
inline void PutCode(LzwOutput& out, std::uint32_t code) {
    out.bits |= static_cast<std::uint64_t>(code) << out.count;
    out.count += qxproto::kLzwCodeBits;
    StoreWord(out);
    const std::uint32_t full = out.count >= 32 ? 1 : 0;
    out.next += 4 * full;
    out.bits >>= 32 * full;
    out.count -= 32 * full;
}

// Largest output LzwCompress can produce for a given input length.
std::size_t LzwOutputBound(std::size_t inputLength);

// Codes inputLength bytes (at least 2) into output, which must hold
// LzwOutputBound(inputLength) bytes. Returns false, writing nothing, when the input
// is shorter than 2 bytes or the output is smaller than that.
bool LzwCompress(const wce::BYTE* input, wce::BYTE* output, std::size_t outputCapacity,
                 LzwDictionary& dictionary, std::size_t inputLength, std::size_t* outputLength,
                 LzwState& state);

}  // namespace qx470
