// The LZW coder against the printer's decoder: fixed code streams where the printer's
// expectations are known byte for byte, and round trips over every kind of band.
#include "lzw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "lzw_test_support.h"
#include "protocol/lzw_decode.h"

namespace qx470 {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::UnpackCodes;

// The coder as first written for the printer: first-child and sibling chains, a real
// 0xA5 sentinel in place of the last byte, reads that run past the end into whatever
// follows the band, then the walk back. The fast coder must match it code for code.
Bytes ReferenceCompress(const Bytes& band, const Bytes& beyond) {
    struct Entry {
        std::uint16_t child = 0xFFFF, sibling = 0xFFFF, prefix = 0;
        std::uint8_t byte = 0;
    };
    Bytes in = band;
    in.insert(in.end(), beyond.begin(), beyond.end());
    const std::size_t size = band.size();
    std::vector<Entry> dict(4096);
    Bytes out;
    std::uint32_t word = 0, count = 0;
    auto put = [&](std::uint32_t code) {
        word |= code << count;
        count += 12;
        if (count >= 32) {
            for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
            count -= 32;
            word = code >> (12 - count);
        }
    };
    auto zeroWord = [&](std::size_t w) {
        return in[4 * w] == 0 && in[4 * w + 1] == 0 && in[4 * w + 2] == 0 && in[4 * w + 3] == 0;
    };
    const std::uint8_t saved = in[size - 1];
    in[size - 1] = 0xA5;
    std::uint32_t next = 512;
    auto clearRoots = [&] {
        for (int i = 0; i < 256; ++i) dict[i].child = dict[i].sibling = 0xFFFF;
    };
    clearRoots();
    put(257);
    put(0);
    std::uint32_t w = in[0];
    std::size_t pos = 1;
    for (;;) {
        std::uint8_t c = in[pos++];
        for (;;) {
            std::uint16_t k = dict[w].child;
            while (k != 0xFFFF && dict[k].byte != c) k = dict[k].sibling;
            if (k == 0xFFFF) break;
            w = k;
            c = in[pos++];
        }
        if (pos >= size) break;
        put(w == next - 1 ? 256 : w);
        if (next <= 4095) {
            dict[next] = Entry{0xFFFF, 0xFFFF, static_cast<std::uint16_t>(w), c};
            if (dict[w].child == 0xFFFF) {
                dict[w].child = static_cast<std::uint16_t>(next);
            } else {
                std::uint16_t k = dict[w].child;
                while (dict[k].sibling != 0xFFFF) k = dict[k].sibling;
                dict[k].sibling = static_cast<std::uint16_t>(next);
            }
            ++next;
        } else {
            next = 512;
            clearRoots();
            put(257);
            put(0);
        }
        w = c;
        while (c == 0) {
            std::size_t at = pos / 4;
            int k = 0;
            if (zeroWord(at) && zeroWord(at + 1) && zeroWord(at + 2)) {
                k = 2;
                pos += 8;
                while (zeroWord(at + k + 1) && k < 254) {
                    ++k;
                    pos += 4;
                }
            }
            if (k == 254) {
                put(511);
                continue;
            }
            if (k > 0) put(257 + k);
            break;
        }
    }
    for (std::size_t past = pos - size; past > 0; --past) w = dict[w].prefix;
    put(w == next - 1 ? 256 : w);
    put(saved);
    put(258);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    return out;
}

class LzwTest : public ::testing::Test {
  protected:
    Bytes Compress(const Bytes& input) {
        Bytes output(LzwOutputBound(input.size()));
        std::size_t length = 0;
        LzwState state;
        EXPECT_TRUE(LzwCompress(input.data(), output.data(), output.size(), *dictionary_,
                                input.size(), &length, state));
        output.resize(length);
        return output;
    }

    void ExpectRoundTrip(const Bytes& input) {
        Bytes stream = Compress(input);
        ASSERT_EQ(stream.size() % 4, 0u);
        Bytes decoded(input.size() + 16);
        auto result =
            qxproto::LzwDecode(stream.data(), stream.size(), decoded.data(), decoded.size());
        ASSERT_EQ(result.error, qxproto::LzwError::kNone) << qxproto::LzwErrorText(result.error);
        EXPECT_EQ(result.consumed, stream.size());
        decoded.resize(result.produced);
        ASSERT_EQ(decoded.size(), input.size());
        auto mismatch = std::mismatch(input.begin(), input.end(), decoded.begin());
        EXPECT_TRUE(mismatch.first == input.end())
            << "first difference at byte " << (mismatch.first - input.begin()) << " of "
            << input.size();
    }

    std::unique_ptr<LzwDictionary> dictionary_ = std::make_unique<LzwDictionary>();
};

TEST_F(LzwTest, TwoByTwoBandGivesTheKnownStream) {
    Bytes stream = Compress({0xFF, 0x00, 0x0F, 0xF0});
    EXPECT_EQ(stream,
              (Bytes{0x01, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x0F, 0x00, 0x0F, 0x02, 0x01, 0x00}));
    EXPECT_EQ(UnpackCodes(stream.data(), stream.size()),
              (std::vector<int>{257, 0, 255, 0, 15, 240, 258}));
}

TEST_F(LzwTest, FortyBytesOfInkUseTheNewestEntryCode) {
    Bytes stream = Compress(Bytes(40, 0xFF));
    EXPECT_EQ(stream, (Bytes{0x01, 0x01, 0x00, 0xFF, 0x00, 0x10, 0x00, 0x01, 0x10, 0x00,
                             0x01, 0x10, 0x00, 0x01, 0x10, 0x01, 0xF2, 0x0F, 0x02, 0x01}));
}

TEST_F(LzwTest, StreamIsWholeWordsEvenWhenTheLastWordIsEmpty) {
    // Eight codes fill exactly three words; the empty fourth word is still sent.
    Bytes input = {0x11, 0x22, 0x33, 0x44};  // 257 0 17 34 51 68 258: seven codes
    EXPECT_EQ(Compress(input).size(), 12u);
    input.push_back(0x55);  // eight codes
    Bytes stream = Compress(input);
    ASSERT_EQ(stream.size(), 16u);
    EXPECT_EQ(Bytes(stream.begin() + 12, stream.end()), Bytes(4, 0));
}

TEST_F(LzwTest, ZeroBytesStartingInsideAWordGiveOneRunCode) {
    Bytes input = {0x01, 0x01};
    input.insert(input.end(), 40, 0x00);
    input.push_back(0x07);
    input.push_back(0x07);
    Bytes stream = Compress(input);
    std::vector<int> codes = UnpackCodes(stream.data(), stream.size());
    std::vector<int> runs;
    for (int code : codes) {
        if (code >= 259 && code <= 511) runs.push_back(code);
    }
    EXPECT_EQ(runs, std::vector<int>{265});
    ExpectRoundTrip(input);
}

TEST_F(LzwTest, LongZeroRunsChainTheLongRunCode) {
    Bytes input(4 + 1016 * 2 + 40 + 4, 0x00);
    input[0] = 0x01;
    input.back() = 0x09;
    Bytes stream = Compress(input);
    std::vector<int> codes = UnpackCodes(stream.data(), stream.size());
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 511), 2);
    ExpectRoundTrip(input);
}

TEST_F(LzwTest, FullDictionaryResetsAfter3585Strings) {
    Bytes input = testsupport::RandomBytes(20000, 7);
    Bytes stream = Compress(input);
    std::vector<int> codes = UnpackCodes(stream.data(), stream.size());
    ASSERT_GE(codes.size(), 4u);
    ASSERT_EQ(codes[0], 257);
    ASSERT_EQ(codes[1], 0);
    std::vector<int> stringsPerDictionary;
    int strings = 0;
    for (std::size_t i = 2; i < codes.size(); ++i) {
        if (codes[i] == 257) {
            EXPECT_EQ(codes[i + 1], 0);
            stringsPerDictionary.push_back(strings);
            strings = 0;
            ++i;
        } else if (codes[i] != 258 && (codes[i] < 259 || codes[i] > 511)) {
            ++strings;
        }
    }
    ASSERT_GE(stringsPerDictionary.size(), 2u);
    for (int count : stringsPerDictionary) EXPECT_EQ(count, 3585);
    ExpectRoundTrip(input);
}

TEST_F(LzwTest, MatchesTheSentinelCoderOnEveryBand) {
    testsupport::Lcg lcg(11);
    for (int round = 0; round < 400; ++round) {
        std::size_t size = 2 + lcg.Below(round < 300 ? 64 : 9000);
        // Few distinct bytes, 0xA5 among them, so strings run into the sentinel and on
        // past the end of the band.
        const std::uint8_t alphabet[] = {0x00, 0xA5, 0xA5, 0xFF, 0x00, 0x00, 0x3C, 0x00};
        int letters = 2 + lcg.Below(7);
        Bytes band(size), beyond(4096);
        for (auto& b : band) b = alphabet[lcg.Below(letters)];
        for (auto& b : beyond) b = alphabet[lcg.Below(letters)];
        SCOPED_TRACE(testing::Message() << "round " << round << " size " << size);
        ASSERT_EQ(Compress(band), ReferenceCompress(band, beyond));
    }
    for (const Bytes& band :
         {testsupport::DitheredPhoto(72, 300, 2), testsupport::ReceiptText(72, 600, 2),
          testsupport::SparseBytes(30000, 9, 4), Bytes(5000, 0xA5)}) {
        EXPECT_EQ(Compress(band), ReferenceCompress(band, Bytes(4096, 0xA5)));
    }
}

// Zeros in runs too short or too misaligned for the run codes, between single ink bytes:
// the strings of zeros grow long, across several dictionary resets, and end on every
// kind of neighbour, the band's end included.
TEST_F(LzwTest, ShortZeroRunsMatchTheSentinelCoder) {
    testsupport::Lcg lcg(23);
    for (int round = 0; round < 6; ++round) {
        Bytes band;
        const std::size_t size = round < 3 ? 3000 + lcg.Below(3000) : 60000 + lcg.Below(60000);
        const int longest = round % 2 ? 11 : 60;
        while (band.size() < size) {
            band.insert(band.end(), static_cast<std::size_t>(lcg.Below(longest) + 1), 0x00);
            band.push_back(lcg.Below(4) == 0 ? 0x00 : static_cast<std::uint8_t>(lcg.Next() | 1));
        }
        band.insert(band.end(), static_cast<std::size_t>(round), 0x00);
        SCOPED_TRACE(testing::Message() << "round " << round << " size " << band.size());
        ASSERT_EQ(Compress(band), ReferenceCompress(band, Bytes(4096, 0x00)));
        ASSERT_EQ(Compress(band), ReferenceCompress(band, Bytes(4096, 0xA5)));
    }
}

// Runs of one byte value, of every length, mixed with noise over all 256 values so two-byte
// strings on every first byte fill and refill the dictionary; resets land inside runs and
// bands end inside them.
TEST_F(LzwTest, RunsOfEveryByteMatchTheSentinelCoder) {
    testsupport::Lcg lcg(41);
    for (int round = 0; round < 60; ++round) {
        Bytes band;
        const std::size_t size = 2 + lcg.Below(round < 40 ? 3000 : 40000);
        while (band.size() < size) {
            const int kind = lcg.Below(4);
            const std::uint8_t value = kind == 0   ? 0x00
                                       : kind == 1 ? 0xFF
                                                   : static_cast<std::uint8_t>(lcg.Next());
            const int length = lcg.Below(3) == 0 ? lcg.Below(2000) : lcg.Below(20);
            band.insert(band.end(), static_cast<std::size_t>(length) + 1, value);
            for (int noise = lcg.Below(6); noise > 0; --noise)
                band.push_back(static_cast<std::uint8_t>(lcg.Next()));
        }
        band.resize(size);
        SCOPED_TRACE(testing::Message() << "round " << round << " size " << size);
        ASSERT_EQ(Compress(band), ReferenceCompress(band, Bytes(4096, band.back())));
        ASSERT_EQ(Compress(band), ReferenceCompress(band, Bytes(4096, 0xA5)));
    }
}

// Zero runs of every length up to past the longest run code, at every offset in a word,
// ended by ink, by the band's end or by the word holding the last byte: the run's
// length is found two words at a time, so odd and even counts and both limits matter.
TEST_F(LzwTest, ZeroRunsOfEveryLengthMatchTheSentinelCoder) {
    for (int offset = 0; offset < 4; ++offset) {
        for (int zeros = 1; zeros <= 4 * 262; zeros += zeros < 64 ? 1 : 13) {
            SCOPED_TRACE(testing::Message() << "offset " << offset << " zeros " << zeros);
            Bytes band(static_cast<std::size_t>(offset) + 1, 0x3C);
            band.insert(band.end(), static_cast<std::size_t>(zeros), 0x00);
            for (int tail : {0, 1, 2, 5, 12}) {
                Bytes withTail = band;
                withTail.insert(withTail.end(), static_cast<std::size_t>(tail), 0x81);
                if (withTail.size() < 2) continue;
                ASSERT_EQ(Compress(withTail), ReferenceCompress(withTail, Bytes(4096, 0x00)))
                    << "tail " << tail;
            }
        }
    }
}

// Every band of up to 20 bytes with ink in at most two places: short bands are coded
// from a padded copy, and the zero-run test reads 12 bytes near the end of the band.
TEST_F(LzwTest, ShortBandsMatchTheSentinelCoder) {
    for (std::size_t size = 2; size <= 20; ++size) {
        for (std::size_t first = 0; first <= size; ++first) {
            for (std::size_t second = first; second <= size; ++second) {
                Bytes band(size, 0x00);
                if (first < size) band[first] = 0x40;
                if (second < size) band[second] |= 0x02;
                SCOPED_TRACE(testing::Message()
                             << "size " << size << " ink at " << first << ", " << second);
                ASSERT_EQ(Compress(band), ReferenceCompress(band, Bytes(4096, 0x00)));
            }
        }
    }
}

TEST_F(LzwTest, RejectsInputsTooShortOrOutputTooSmall) {
    Bytes one = {0x80};
    Bytes output(64);
    std::size_t length = 99;
    LzwState state;
    EXPECT_FALSE(
        LzwCompress(one.data(), output.data(), output.size(), *dictionary_, 1, &length, state));
    EXPECT_EQ(length, 0u);
    Bytes input = testsupport::RandomBytes(1000, 3);
    EXPECT_FALSE(LzwCompress(input.data(), output.data(), output.size(), *dictionary_, input.size(),
                             &length, state));
    EXPECT_EQ(length, 0u);
    // The dictionary is left clean: the next band codes as if it were new.
    ExpectRoundTrip(input);
    EXPECT_EQ(Compress({0xFF, 0x00, 0x0F, 0xF0}).size(), 12u);
}

TEST_F(LzwTest, RoundTripsEveryKindOfBand) {
    const std::size_t sizes[] = {2,  3,  4,   5,    7,    8,    9,    11,   12,    13,    15,    16,
                                 17, 31, 100, 1016, 1017, 1030, 4095, 4100, 65536, 65537, 150001};
    std::uint32_t seed = 1;
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        ExpectRoundTrip(Bytes(size, 0x00));
        ExpectRoundTrip(Bytes(size, 0xFF));
        ExpectRoundTrip(testsupport::RandomBytes(size, seed++));
        for (int oneIn : {3, 17, 200})
            ExpectRoundTrip(testsupport::SparseBytes(size, oneIn, seed++));
        Bytes trailingZeros(size, 0x00);
        trailingZeros[0] = 0x5A;
        ExpectRoundTrip(trailingZeros);
        Bytes leadingZeros(size, 0x00);
        leadingZeros.back() = 0xA5;
        ExpectRoundTrip(leadingZeros);
    }
}

TEST_F(LzwTest, RoundTripsPhotoAndTextBandsOfEveryWidth) {
    for (int width = 1; width <= 72; ++width) {
        SCOPED_TRACE(width);
        int rows = 1 + (width * 37) % 300;
        ExpectRoundTrip(testsupport::DitheredPhoto(width, rows + 1, width));
        ExpectRoundTrip(testsupport::ReceiptText(width, rows + 40, width));
    }
    ExpectRoundTrip(testsupport::DitheredPhoto(72, 1200, 5));  // 86,400 bytes
    ExpectRoundTrip(testsupport::ReceiptText(72, 2845, 5));
}

}  // namespace
}  // namespace qx470
