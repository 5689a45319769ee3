#include "lzw.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qx470 {

namespace {

using namespace qxproto;

constexpr std::uint32_t kSlotMask = LzwDictionary::kSlots - 1;
constexpr std::uint32_t kCodeMask = (1u << kLzwCodeBits) - 1;
constexpr std::uint32_t kFirstString = kLzwFirstStringCode;
constexpr std::uint32_t kCodeLimit = kLzwCodeLimit;
constexpr std::uint32_t kMaxByte = kLzwMaxByteCode;
constexpr int kPrefixShift = LzwDictionary::kSlotBits - kLzwCodeBits;
static_assert(kPrefixShift >= 0, "every prefix code needs its own slot");

// The per-byte half of a slot index: fixed random numbers, so the children of one
// prefix land apart, while the children of one byte never collide with each other.
constexpr std::array<std::uint16_t, 256> kByteSpread = [] {
    std::array<std::uint16_t, 256> spread{};
    std::uint32_t state = 0x2545F491u;
    for (auto& value : spread) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        value = static_cast<std::uint16_t>(state & kSlotMask);
    }
    return spread;
}();

inline std::uint32_t Load32(const wce::BYTE* bytes) {
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

inline std::uint64_t Load64(const wce::BYTE* bytes) {
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
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
std::size_t ZeroRun(const wce::BYTE* input, std::size_t wordLimit, std::size_t position,
                    LzwOutput& out) {
    for (;;) {
        std::size_t word = position / kLzwRunUnit;
        if (word + 2 >= wordLimit) return position;
        const wce::BYTE* at = input + word * kLzwRunUnit;
        if ((Load64(at) | Load32(at + 8)) != 0) return position;
        // Three words are zero; count how many more follow, eight bytes at a time.
        std::size_t end = std::min<std::size_t>(wordLimit, word + kLzwMaxRunWords + 1);
        std::size_t zero = word + 3;
        while (zero + 2 <= end) {
            if (Load64(input + zero * kLzwRunUnit) != 0) {
                zero += Load32(input + zero * kLzwRunUnit) == 0 ? 1 : 0;
                end = zero;
                break;
            }
            zero += 2;
        }
        if (zero < end && Load32(input + zero * kLzwRunUnit) == 0) ++zero;
        const std::size_t words = zero - word - 1;
        position += words * kLzwRunUnit;
        PutCode(out, static_cast<std::uint32_t>(kLzwRunBase + words));
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

    // The zero-run test in the loop reads the 12 bytes from the word of the read
    // position, near the end the last 12 instead; short inputs are coded from a copy
    // with zero padding so those reads stay inside. Neither is ever taken for a run:
    // the word holding the last byte ends every run.
    wce::BYTE padded[16] = {};
    if (inputLength < sizeof padded) {
        std::memcpy(padded, input, inputLength);
        input = padded;
    }
    const std::size_t wordLimit = (inputLength - 1) / kLzwRunUnit;
    const std::size_t lastProbe = std::max<std::size_t>(inputLength, 16) / kLzwRunUnit - 3;

    // The last byte is held back and sent after the final string: the matching loop
    // stops in front of it, which is where the printer's decoder expects it.
    const std::size_t last = inputLength - 1;
    const wce::BYTE savedByte = input[last];
    LzwOutput out{0, 0, output};
    std::uint32_t nextCode = kFirstString;
    PutCode(out, kLzwResetCode);
    PutCode(out, 0);

    std::uint32_t* const slots = dictionary.slots;
    std::uint16_t* const used = dictionary.used;
    int usedCount = 0;
    std::uint32_t string = input[0];
    std::size_t position = 1;
    while (position < last) {
        const std::uint32_t byte = input[position++];
        const std::uint32_t key = (string << 8) | byte;
        std::uint32_t slot = 0;
        if (string <= kMaxByte) {
            // Strings of two bytes index their own table: no probing after every miss.
            const std::uint32_t child = dictionary.byteChildren[key];
            if (child != 0) {
                string = child;
                continue;
            }
        } else {
            slot = (string << kPrefixShift) ^ kByteSpread[byte];
            std::uint32_t entry = slots[slot];
            while (entry != 0 && (entry >> kLzwCodeBits) != key) {
                slot = (slot + 1) & kSlotMask;
                entry = slots[slot];
            }
            if (entry != 0) {
                string = entry & kCodeMask;
                continue;
            }
        }
        PutCode(out, StringCode(string, nextCode));
        if (nextCode < kCodeLimit) {
            if (string <= kMaxByte) {
                dictionary.byteChildren[key] = static_cast<std::uint16_t>(nextCode);
                dictionary.byteChildUsed[dictionary.byteChildCount++] =
                    static_cast<std::uint16_t>(key);
            } else {
                slots[slot] = (key << kLzwCodeBits) | nextCode;
                used[usedCount++] = static_cast<std::uint16_t>(slot);
            }
            ++nextCode;
        } else {
            dictionary.usedCount = usedCount;
            Clear(dictionary);
            usedCount = 0;
            nextCode = kFirstString;
            PutCode(out, kLzwResetCode);
            PutCode(out, 0);
        }
        string = byte;
        // A run can only follow a zero byte, with the next three words zero. Tested in
        // one go this is rarely true, so the branch is well predicted, where testing
        // the byte first would guess wrong on every other string of a text band.
        const std::size_t word = std::min(position / kLzwRunUnit, lastProbe);
        const wce::BYTE* at = input + word * kLzwRunUnit;
        const std::uint64_t ahead = Load64(at) | Load32(at + 8) | byte;
        if ((ahead == 0) & (position / kLzwRunUnit + 2 < wordLimit)) [[unlikely]]
            position = ZeroRun(input, wordLimit, position, out);
    }
    dictionary.usedCount = usedCount;

    PutCode(out, StringCode(string, nextCode));
    ++nextCode;
    PutCode(out, savedByte);
    PutCode(out, kLzwEndCode);
    // The partly filled word goes out too, even when it holds no bits.
    StoreWord(out);
    out.next += 4;
    Clear(dictionary);

    state.nextCode = nextCode;
    state.savedByte = savedByte;
    state.bitWord = static_cast<std::uint32_t>(out.bits);
    state.bitCount = out.count;
    *outputLength = static_cast<std::size_t>(out.next - output);
    return true;
}

}  // namespace qx470
