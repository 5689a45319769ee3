#include "lzw.h"

#include <cstring>

namespace qx470 {

namespace {

using namespace qxproto;

constexpr std::uint32_t kSlotMask = LzwDictionary::kSlots - 1;
constexpr std::uint32_t kCodeMask = (1u << kLzwCodeBits) - 1;

inline std::uint32_t Load32(const wce::BYTE* bytes) {
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The slot holding key, or the empty slot where it would go.
inline std::uint32_t Probe(const LzwDictionary& dictionary, std::uint32_t key) {
    std::uint32_t slot = (key * 0x9E3779B1u) >> (32 - LzwDictionary::kSlotBits);
    for (;;) {
        std::uint32_t entry = dictionary.slots[slot];
        if (entry == 0 || (entry >> kLzwCodeBits) == key) return slot;
        slot = (slot + 1) & kSlotMask;
    }
}

void Clear(LzwDictionary& dictionary) {
    for (int i = 0; i < dictionary.usedCount; ++i) dictionary.slots[dictionary.used[i]] = 0;
    dictionary.usedCount = 0;
    for (int i = 0; i < dictionary.byteChildCount; ++i)
        dictionary.byteChildren[dictionary.byteChildUsed[i]] = 0;
    dictionary.byteChildCount = 0;
}

// After a zero byte: whole zero words from the read position on become run codes.
// The run starts only when the word holding the read position and the two after it
// are zero, and only words found zero are ever skipped, so no byte is lost. Words
// holding the last input byte never count; that byte is coded on its own at the end.
std::size_t ZeroRun(const wce::BYTE* input, std::size_t length, std::size_t position,
                    LzwState& state, LzwOutput& out) {
    const std::size_t wordLimit = (length - 1) / kLzwRunUnit;
    for (;;) {
        std::size_t word = position / kLzwRunUnit;
        if (word + 2 >= wordLimit) return position;
        const wce::BYTE* at = input + word * kLzwRunUnit;
        if ((Load32(at) | Load32(at + 4) | Load32(at + 8)) != 0) return position;
        int words = kLzwMinRunWords;
        position += kLzwMinRunWords * kLzwRunUnit;
        while (words < kLzwMaxRunWords && word + words + 1 < wordLimit &&
               Load32(input + (word + words + 1) * kLzwRunUnit) == 0) {
            ++words;
            position += kLzwRunUnit;
        }
        PutCode(state, out, static_cast<std::uint32_t>(kLzwRunBase + words));
        if (words < kLzwMaxRunWords) return position;
    }
}

inline std::uint32_t StringCode(std::uint32_t string, std::uint32_t nextCode) {
    return string == nextCode - 1 ? kLzwLastEntryCode : string;
}

}  // namespace

std::size_t LzwOutputBound(std::size_t inputLength) {
    // Strings cover distinct input bytes, run codes at least 8 zero bytes each, and a
    // reset follows every 3,585 strings: at most 4 + 1.126 x (length - 1) codes, which
    // take 1.5 bytes each plus the last word.
    return inputLength + inputLength / 2 + inputLength / 4 + 64;
}

bool LzwCompress(const wce::BYTE* input, wce::BYTE* output, std::size_t outputCapacity,
                 LzwDictionary& dictionary, std::size_t inputLength, std::size_t* outputLength,
                 LzwState& state) {
    *outputLength = 0;
    state = LzwState{};
    if (input == nullptr || output == nullptr || inputLength < 2) return false;
    if (outputCapacity < LzwOutputBound(inputLength)) return false;
    Clear(dictionary);

    // The last byte is held back and sent after the final string: the matching loop
    // stops in front of it, which is where the printer's decoder expects it.
    const std::size_t last = inputLength - 1;
    LzwState st;
    st.savedByte = input[last];
    LzwOutput out{output};
    std::uint32_t nextCode = kLzwFirstStringCode;
    PutCode(st, out, kLzwResetCode);
    PutCode(st, out, 0);

    std::uint32_t string = input[0];
    std::size_t position = 1;
    while (position < last) {
        const std::uint32_t byte = input[position++];
        const std::uint32_t key = (string << 8) | byte;
        std::uint32_t slot = 0;
        if (string <= static_cast<std::uint32_t>(kLzwMaxByteCode)) {
            // Strings of two bytes index their own table: no hashing after every miss.
            const std::uint32_t child = dictionary.byteChildren[key];
            if (child != 0) {
                string = child;
                continue;
            }
        } else {
            slot = Probe(dictionary, key);
            const std::uint32_t entry = dictionary.slots[slot];
            if (entry != 0) {
                string = entry & kCodeMask;
                continue;
            }
        }
        PutCode(st, out, StringCode(string, nextCode));
        if (nextCode < static_cast<std::uint32_t>(kLzwCodeLimit)) {
            if (string <= static_cast<std::uint32_t>(kLzwMaxByteCode)) {
                dictionary.byteChildren[key] = static_cast<std::uint16_t>(nextCode);
                dictionary.byteChildUsed[dictionary.byteChildCount++] =
                    static_cast<std::uint16_t>(key);
            } else {
                dictionary.slots[slot] = (key << kLzwCodeBits) | nextCode;
                dictionary.used[dictionary.usedCount++] = static_cast<std::uint16_t>(slot);
            }
            ++nextCode;
        } else {
            Clear(dictionary);
            nextCode = kLzwFirstStringCode;
            PutCode(st, out, kLzwResetCode);
            PutCode(st, out, 0);
        }
        string = byte;
        if (byte == 0) position = ZeroRun(input, inputLength, position, st, out);
    }

    PutCode(st, out, StringCode(string, nextCode));
    ++nextCode;
    PutCode(st, out, st.savedByte);
    PutCode(st, out, kLzwEndCode);
    // The partly filled word goes out too, even when it holds no bits.
    StoreWord(st, out);
    Clear(dictionary);

    st.nextCode = nextCode;
    state = st;
    *outputLength = static_cast<std::size_t>(out.next - output);
    return true;
}

}  // namespace qx470
