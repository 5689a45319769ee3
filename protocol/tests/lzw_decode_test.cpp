// The decoder on hand-built code streams, and on streams no coder would write: every
// one must end in a specific error without writing past the output.
#include "protocol/lzw_decode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "protocol/commands.h"

namespace qxproto {
namespace {

using Bytes = std::vector<std::uint8_t>;

// 12-bit codes, least significant bit first, then the partly filled word.
Bytes Pack(const std::vector<int>& codes) {
    Bytes out;
    std::uint64_t bits = 0;
    int count = 0;
    for (int code : codes) {
        bits |= static_cast<std::uint64_t>(code) << count;
        count += 12;
        while (count >= 32) {
            for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
            bits >>= 32;
            count -= 32;
        }
    }
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    return out;
}

struct Decoded {
    LzwError error;
    Bytes bytes;
    std::size_t consumed;
};

Decoded Decode(const Bytes& stream, std::size_t capacity = 1 << 20) {
    Bytes out(capacity);
    LzwDecodeResult result = LzwDecode(stream.data(), stream.size(), out.data(), out.size());
    EXPECT_LE(result.produced, capacity);
    out.resize(result.produced);
    return {result.error, out, result.consumed};
}

TEST(LzwDecodeTest, DecodesTheKnownStreams) {
    Decoded small =
        Decode({0x01, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x0F, 0x00, 0x0F, 0x02, 0x01, 0x00});
    EXPECT_EQ(small.error, LzwError::kNone);
    EXPECT_EQ(small.bytes, (Bytes{0xFF, 0x00, 0x0F, 0xF0}));
    EXPECT_EQ(small.consumed, 12u);

    Decoded ink = Decode({0x01, 0x01, 0x00, 0xFF, 0x00, 0x10, 0x00, 0x01, 0x10, 0x00,
                          0x01, 0x10, 0x00, 0x01, 0x10, 0x01, 0xF2, 0x0F, 0x02, 0x01});
    EXPECT_EQ(ink.error, LzwError::kNone);
    EXPECT_EQ(ink.bytes, Bytes(40, 0xFF));
}

TEST(LzwDecodeTest, RunCodesAndResetsLeaveTheStringsIntact) {
    // A, 32 zeros, B, 1016 zeros, then the string AB from the dictionary; a reset,
    // then C C and the newest-entry code for CC.
    Decoded d = Decode(Pack({257, 0, 'A', 265, 'B', 511, 512, 257, 0, 'C', 'C', 256, 258}));
    ASSERT_EQ(d.error, LzwError::kNone) << LzwErrorText(d.error);
    Bytes expected = {'A'};
    expected.insert(expected.end(), 32, 0);
    expected.push_back('B');
    expected.insert(expected.end(), 1016, 0);
    expected.insert(expected.end(), {'A', 'B', 'C', 'C', 'C', 'C'});
    EXPECT_EQ(d.bytes, expected);
    EXPECT_EQ(LzwRunLength(kLzwFirstRunCode), 8);
    EXPECT_EQ(LzwRunLength(kLzwLongRunCode), 1016);
}

TEST(LzwDecodeTest, FullDictionaryStillTakesTheLastBytes) {
    std::vector<int> codes = {257, 0};
    for (int i = 0; i < 3585; ++i) codes.push_back(i % 251);  // fills 512 to 4095
    codes.push_back(7);
    codes.push_back(258);
    Decoded d = Decode(Pack(codes));
    EXPECT_EQ(d.error, LzwError::kNone);
    EXPECT_EQ(d.bytes.size(), 3586u);

    codes.resize(codes.size() - 2);
    codes.push_back(256);
    codes.push_back(258);
    EXPECT_EQ(Decode(Pack(codes)).error, LzwError::kDictionaryFull);
}

TEST(LzwDecodeTest, MalformedStreamsGiveSpecificErrors) {
    EXPECT_EQ(Decode({}).error, LzwError::kTruncated);
    EXPECT_EQ(Decode(Pack({'A', 258})).error, LzwError::kMissingReset);
    EXPECT_EQ(Decode(Pack({257, 5, 'A', 258})).error, LzwError::kBadResetOperand);
    EXPECT_EQ(Decode(Pack({257, 0, 'A', 512, 258})).error, LzwError::kUndefinedCode);
    EXPECT_EQ(Decode(Pack({257, 0, 'A', 'B', 513, 258})).error, LzwError::kUndefinedCode);
    EXPECT_EQ(Decode(Pack({257, 0, 256, 258})).error, LzwError::kNoPreviousString);
    EXPECT_EQ(Decode(Pack({257, 0, 'A', 257, 0, 256, 258})).error, LzwError::kNoPreviousString);
    // The end code missing, or cut off with the last word.
    EXPECT_EQ(Decode(Pack({257, 0, 'A', 'B'})).error, LzwError::kTruncated);
    Bytes cut = {0x01, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x0F, 0x00};
    EXPECT_EQ(Decode(cut).error, LzwError::kTruncated);
    EXPECT_EQ(LzwDecode(nullptr, 10, nullptr, 10).error, LzwError::kTruncated);
}

TEST(LzwDecodeTest, OutputNeverPassesItsCapacity) {
    Decoded strings = Decode(Pack({257, 0, 'A', 'B', 512, 256, 258}), 5);
    EXPECT_EQ(strings.error, LzwError::kOutputOverflow);
    EXPECT_EQ(strings.bytes, (Bytes{'A', 'B', 'A', 'B'}));
    Decoded run = Decode(Pack({257, 0, 'A', 511, 258}), 1000);
    EXPECT_EQ(run.error, LzwError::kOutputOverflow);
    EXPECT_EQ(run.bytes, Bytes{'A'});
    EXPECT_EQ(Decode(Pack({257, 0, 'A', 258}), 0).error, LzwError::kOutputOverflow);
}

TEST(LzwDecodeTest, SurvivesArbitraryBytes) {
    std::uint32_t state = 12345;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    Bytes valid = Pack({257, 0, 'A', 'B', 512, 256, 265, 'C', 515, 257, 0, 'D', 'D', 256, 258});
    for (int round = 0; round < 20000; ++round) {
        Bytes input;
        if (round % 2 == 0) {
            input.resize(next() % 64);
            for (auto& b : input) b = static_cast<std::uint8_t>(next());
            // Start most of them like a real stream so the decoder gets past the reset.
            if (input.size() >= 3 && round % 4 == 0) input[0] = 0x01, input[1] = 0x01, input[2] = 0;
        } else {
            input = valid;
            int flips = 1 + next() % 4;
            for (int f = 0; f < flips; ++f) input[next() % input.size()] ^= 1 << (next() % 8);
            input.resize(input.size() - next() % 5);
        }
        Decoded d = Decode(input, next() % 3000);
        EXPECT_LE(d.consumed, input.size());
    }
}

}  // namespace
}  // namespace qxproto
