// CG and ZCG: the numbers are followed directly by binary data, which may itself
// begin with digit bytes. Of the readings of the last number, one after which the
// command's own sizes end it in CR LF is taken; for ZCG the 4-byte length must also
// equal width x height. Readings with a leading zero (this system never writes one)
// and readings that put a CG band off the label count only when no other reading fits.
#include <algorithm>
#include <cstring>

#include "decoder.h"
#include "protocol/commands.h"
#include "protocol/lzw_decode.h"

namespace qxemu {

namespace {

constexpr std::size_t kMaxDigits = 10;

// A graphic, the header and the label's other lines; the numbered commands need
// the space after their word.
constexpr std::string_view kLineStarts[] = {
    "CG ", "ZCG ", "! ", qxproto::kCpclWordForm, qxproto::kCpclWordPrint,
    qxproto::kCpclWordBackfeed, qxproto::kCpclWordLabel, qxproto::kCpclWordGapSense,
    qxproto::kCpclWordBarSense, qxproto::kCpclWordJournal};
constexpr std::size_t kLongestLineStart = 9;

bool IsDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

long long Value(const std::uint8_t* digits, std::size_t count, bool negative) {
    long long v = 0;
    for (std::size_t i = 0; i < count; ++i) v = v * 10 + (digits[i] - '0');
    return negative ? -v : v;
}

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

enum class Scan { kOk, kShort, kBad, kLong };

// One number at p[*i]: optional minus, 1 to kMaxDigits digits, then one or more
// spaces, which are stepped over.
Scan ReadNumber(const std::uint8_t* p, std::size_t n, std::size_t* i, long long* value) {
    bool negative = *i < n && p[*i] == '-';
    std::size_t start = *i + (negative ? 1 : 0);
    std::size_t j = start;
    while (j < n && IsDigit(p[j]) && j - start < kMaxDigits) ++j;
    if (j == n) return Scan::kShort;
    if (j > start && IsDigit(p[j])) return Scan::kLong;
    if (j == start || p[j] != ' ') return Scan::kBad;
    *value = Value(p + start, j - start, negative);
    while (j < n && p[j] == ' ') ++j;
    if (j == n) return Scan::kShort;
    *i = j;
    return Scan::kOk;
}

// The numbers before the last one, each checked as it is read, so that nothing
// computed from them (the band size above all) can overflow.
struct Field {
    const char* name;
    long long low, high;
};
constexpr long long kMaxSide = 65535;
constexpr long long kMaxPosition = 1LL << 30;
constexpr Field kFields[] = {{"width", 0, kMaxSide},
                             {"height", 0, kMaxSide},
                             {"x", -kMaxPosition, kMaxPosition},
                             {"y", -kMaxPosition, kMaxPosition}};

// Where a reading of the last number puts the data, and where the command ends.
struct Reading {
    long long last = 0;
    std::size_t data = 0;  // first data byte
    std::size_t end = 0;   // the CR of the closing CR LF
    bool spaced = false;   // a space stood between number and data (other senders)
};

}  // namespace

Decoder::Status Decoder::StepGraphics(const std::uint8_t* p, std::size_t n, std::size_t keyword,
                                      bool compressed, std::size_t* used) {
    const char* name = compressed ? "ZCG" : "CG";
    const bool mayWait = !atEnd_ && !decideNow_;
    long long nums[4] = {};
    const int leading = compressed ? 4 : 3;
    std::size_t i = keyword;
    while (i < n && p[i] == ' ') ++i;
    for (int k = 0; k < leading; ++k) {
        const Field& field = kFields[k];
        Scan s = ReadNumber(p, n, &i, &nums[k]);
        if (s == Scan::kShort && !atEnd_) return Status::kNeedMore;
        std::string why;
        if (s == Scan::kLong) {
            why = std::string(field.name) + " of more than " + std::to_string(kMaxDigits) +
                  " digits";
        } else if (s != Scan::kOk) {
            why = "malformed number list";
        } else if (nums[k] < field.low || nums[k] > field.high) {
            why = std::string(field.name) + " " + std::to_string(nums[k]) + " outside " +
                  std::to_string(field.low) + " to " + std::to_string(field.high);
        }
        if (!why.empty()) {
            log_.Error(Here(), name, why + ": refused");
            resyncFrom_ = Here();
            mode_ = Mode::kResync;
            *used = keyword;
            return Status::kDone;
        }
    }
    const long long w = nums[0], h = nums[1], x = nums[2];
    const long long y = compressed ? nums[3] : 0;
    bool negative = i < n && p[i] == '-';
    std::size_t digits = i + (negative ? 1 : 0);
    std::size_t run = 0;
    while (digits + run < n && IsDigit(p[digits + run]) && run < kMaxDigits) ++run;
    if (digits + run == n && mayWait) return Status::kNeedMore;
    const long long size = w * h;  // both at most 65535
    const bool bad = static_cast<unsigned long long>(size) > kMaxCommandBytes;
    Reading found;
    auto tryReading = [&](std::size_t dataAt, long long last, bool spaced) -> int {
        // 1 found, 0 not this one, -1 more bytes needed to tell.
        std::size_t end;
        if (compressed) {
            if (last < static_cast<long long>(qxproto::kCpclLengthFieldSize) ||
                static_cast<unsigned long long>(last) > kMaxCommandBytes)
                return 0;
            if (dataAt + 4 > n) return mayWait ? -1 : 0;
            if (Le32(p + dataAt) != static_cast<std::uint64_t>(size)) return 0;
            end = dataAt + static_cast<std::size_t>(last);
        } else {
            end = dataAt + static_cast<std::size_t>(size);
        }
        if (end + 2 > n) return mayWait ? -1 : 0;
        if (p[end] != qxproto::kCr || p[end + 1] != qxproto::kLf) return 0;
        found = Reading{last, dataAt, end, spaced};
        return 1;
    };
    // Every reading of the last number, the likely ones first and, among equals, the
    // longer first. A band whose data begins with digits can make a wrong reading end
    // in CR LF too: at y 0, "0" plus six digit bytes reaches the CR LF after FORM.
    struct Candidate {
        std::size_t length;
        long long value;
        int rank;  // 0 likely; +2 leading zero; +1 CG band not wholly on the label
    };
    Candidate candidates[kMaxDigits];
    std::size_t count = 0;
    for (std::size_t len = run; len >= 1 && !bad; --len) {
        long long v = Value(p + digits, len, negative);
        bool padded = (len > 1 && p[digits] == '0') || (negative && v == 0);
        bool off = !compressed && label_.open && (v < 0 || v + h > label_.paper.Height());
        candidates[count++] = Candidate{len, v, (padded ? 2 : 0) + (off ? 1 : 0)};
    }
    std::stable_sort(candidates, candidates + count,
                     [](const Candidate& a, const Candidate& b) { return a.rank < b.rank; });
    bool haveFound = false;
    for (std::size_t k = 0; k < count && !haveFound; ++k) {
        int r = tryReading(digits + candidates[k].length, candidates[k].value, false);
        if (r < 0) return Status::kNeedMore;
        haveFound = r > 0;
    }
    if (!bad && !haveFound && run > 0 && digits + run < n && p[digits + run] == ' ') {
        int r = tryReading(digits + run + 1, Value(p + digits, run, negative), true);
        if (r < 0) return Status::kNeedMore;
        haveFound = r > 0;
    }
    if (!haveFound) {
        if (!bad && !atEnd_) {
            // Idle: more bytes may still complete it.
            if (decideNow_) return Status::kNeedMore;
        }
        log_.Error(Here(), name,
                   bad ? "size " + std::to_string(w) + " x " + std::to_string(h) +
                             " larger than the largest command of " +
                             std::to_string(kMaxCommandBytes) + " bytes"
                       : "no reading of the numbers is followed by " +
                             std::string(compressed ? "a length of width x height, the data"
                                                    : "width x height data bytes") +
                             " and CR LF");
        resyncFrom_ = Here();
        mode_ = Mode::kResync;
        *used = keyword;
        return Status::kDone;
    }
    *used = found.end + 2;
    std::string head(name);
    for (long long v : {w, h, x, compressed ? y : found.last}) head.append(1, ' ').append(std::to_string(v));
    if (compressed) head.append(1, ' ').append(std::to_string(found.last));
    std::string note = found.spaced ? " (space before the data: not this system's form)" : "";
    if (!compressed) {
        log_.Command(Here(), head,
                     std::to_string(w) + " bytes x " + std::to_string(h) + " rows at (" +
                         std::to_string(x) + ", " + std::to_string(found.last) + ")" + note);
        PlaceGraphic(p + found.data, w, h, x, found.last, name);
        return Status::kDone;
    }
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size));
    std::size_t packed = static_cast<std::size_t>(found.last) - 4;
    qxproto::LzwDecodeResult r =
        qxproto::LzwDecode(p + found.data + 4, packed, out.data(), out.size());
    log_.Command(Here(), head,
                 std::to_string(w) + " bytes x " + std::to_string(h) + " rows at (" +
                     std::to_string(x) + ", " + std::to_string(y) + "), " + std::to_string(packed) +
                     " LZW bytes" + note);
    if (r.error != qxproto::LzwError::kNone) {
        log_.Error(Here(), name,
                   std::string("LZW data: ") + qxproto::LzwErrorText(r.error) + "; " +
                       std::to_string(r.produced) + " of " + std::to_string(size) +
                       " bytes decoded, drawn as far as decoded");
    } else if (r.produced != out.size()) {
        log_.Error(Here(), name,
                   "LZW data gave " + std::to_string(r.produced) + " bytes, " +
                       std::to_string(size) + " expected");
    } else if (r.consumed < packed) {
        log_.Command(Here(), name,
                     std::to_string(packed - r.consumed) + " byte(s) after the end code ignored");
    }
    PlaceGraphic(out.data(), w, h, x, y, name);
    return Status::kDone;
}

Decoder::Status Decoder::StepResync(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (p[i] != qxproto::kCr || p[i + 1] != qxproto::kLf) continue;
        const std::uint8_t* q = p + i + 2;
        std::size_t left = n - i - 2;
        if (left < kLongestLineStart && !atEnd_) {
            *used = i;
            return Status::kNeedMore;
        }
        for (std::string_view word : kLineStarts) {
            std::size_t len = word.size();
            if (left >= len && std::memcmp(q, word.data(), len) == 0) {
                *used = i + 2;
                log_.Command(Here() + i + 2, "CPCL",
                             "going on here, " + std::to_string(Here() + i + 2 - resyncFrom_) +
                                 " bytes after the bad command were skipped");
                mode_ = Mode::kCpcl;
                return Status::kDone;
            }
        }
    }
    if (atEnd_) {
        log_.Error(Here(), "CPCL",
                   "no command line after the bad data: " + std::to_string(n) +
                       " bytes up to the end skipped");
        *used = n;
        mode_ = Mode::kCpcl;
        return Status::kDone;
    }
    *used = n > 1 ? n - 1 : 0;  // a CR at the very end may start the next line
    return Status::kNeedMore;
}

}  // namespace qxemu
