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
constexpr std::string_view kLineStarts[] = {"CG ",
                                            "ZCG ",
                                            "! ",
                                            qxproto::kCpclWordForm,
                                            qxproto::kCpclWordPrint,
                                            qxproto::kCpclWordBackfeed,
                                            qxproto::kCpclWordLabel,
                                            qxproto::kCpclWordGapSense,
                                            qxproto::kCpclWordBarSense,
                                            qxproto::kCpclWordJournal};
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

// Why a number read as s is refused; empty when it is fine.
std::string NumberProblem(const Field& field, Scan s, long long value) {
    if (s == Scan::kLong) {
        return std::string(field.name) + " of more than " + std::to_string(kMaxDigits) + " digits";
    }
    if (s != Scan::kOk) return "malformed number list";
    if (value < field.low || value > field.high) {
        return std::string(field.name) + " " + std::to_string(value) + " outside " +
               std::to_string(field.low) + " to " + std::to_string(field.high);
    }
    return {};
}

}  // namespace

// The command read up to its last number, whose readings are still open.
struct GraphicCommand {
    const char* name = "";
    bool compressed = false;
    long long width = 0, height = 0, x = 0;
    long long y = 0;         // ZCG's; a CG band's y is the last number
    std::size_t digits = 0;  // first digit of the last number
    std::size_t run = 0;     // its digit bytes, at most kMaxDigits
    bool negative = false;

    long long Size() const { return width * height; }  // both at most 65535
    bool TooLarge() const { return static_cast<unsigned long long>(Size()) > kMaxCommandBytes; }
};

// Where a reading of the last number puts the data, and where the command ends.
struct GraphicReading {
    long long last = 0;
    std::size_t data = 0;  // first data byte
    std::size_t end = 0;   // the CR of the closing CR LF
    bool spaced = false;   // a space stood between number and data (other senders)
};

namespace {

// The numbers before the last one, each checked against its range, then where the
// last one's digits are. kShort when more bytes may still come; kOk; else refused,
// with *why.
Scan ReadGraphicNumbers(const std::uint8_t* p, std::size_t n, std::size_t keyword, bool atEnd,
                        GraphicCommand* g, std::string* why) {
    long long nums[4] = {};
    const int leading = g->compressed ? 4 : 3;
    std::size_t i = keyword;
    while (i < n && p[i] == ' ') ++i;
    for (int k = 0; k < leading; ++k) {
        const Scan s = ReadNumber(p, n, &i, &nums[k]);
        if (s == Scan::kShort && !atEnd) return Scan::kShort;
        *why = NumberProblem(kFields[k], s, nums[k]);
        if (!why->empty()) return Scan::kBad;
    }
    g->width = nums[0], g->height = nums[1], g->x = nums[2];
    g->y = g->compressed ? nums[3] : 0;
    g->negative = i < n && p[i] == '-';
    g->digits = i + (g->negative ? 1 : 0);
    while (g->digits + g->run < n && IsDigit(p[g->digits + g->run]) && g->run < kMaxDigits) {
        ++g->run;
    }
    return Scan::kOk;
}

enum class Fit { kYes, kNo, kNeedMore };

// Picks the reading of the last number after which the command's own sizes end it.
// A band whose data begins with digits can make a wrong reading end in CR LF too: at
// y 0, "0" plus six digit bytes reaches the CR LF after FORM.
class ReadingChooser {
  public:
    ReadingChooser(const std::uint8_t* p, std::size_t n, const GraphicCommand& g, bool mayWait)
        : p_(p), n_(n), g_(g), mayWait_(mayWait) {}

    // label: the open label's paper, else null.
    Fit Choose(const Bitmap* label, GraphicReading* found) const {
        Candidate candidates[kMaxDigits];
        const std::size_t count = Rank(label, candidates);
        for (std::size_t k = 0; k < count; ++k) {
            const Candidate& c = candidates[k];
            const Fit fit = Try(g_.digits + c.length, c.value, false, found);
            if (fit != Fit::kNo) return fit;
        }
        const std::size_t after = g_.digits + g_.run;
        if (g_.run > 0 && after < n_ && p_[after] == ' ') {
            return Try(after + 1, Value(p_ + g_.digits, g_.run, g_.negative), true, found);
        }
        return Fit::kNo;
    }

  private:
    struct Candidate {
        std::size_t length;
        long long value;
        int rank;  // 0 likely; +2 leading zero; +1 CG band not wholly on the label
    };

    // Every reading of the last number, the likely ones first and, among equals, the
    // longer first.
    std::size_t Rank(const Bitmap* label, Candidate* out) const {
        std::size_t count = 0;
        for (std::size_t len = g_.run; len >= 1; --len) {
            const long long v = Value(p_ + g_.digits, len, g_.negative);
            const bool padded = (len > 1 && p_[g_.digits] == '0') || (g_.negative && v == 0);
            const bool off = !g_.compressed && label && (v < 0 || v + g_.height > label->Height());
            out[count++] = Candidate{len, v, (padded ? 2 : 0) + (off ? 1 : 0)};
        }
        std::stable_sort(out, out + count,
                         [](const Candidate& a, const Candidate& b) { return a.rank < b.rank; });
        return count;
    }

    // The data at dataAt and the last number read as last: for ZCG the 4-byte length
    // must give width x height, and the command must end in CR LF where its size says.
    Fit Try(std::size_t dataAt, long long last, bool spaced, GraphicReading* found) const {
        const Fit unsure = mayWait_ ? Fit::kNeedMore : Fit::kNo;
        std::size_t end;
        if (g_.compressed) {
            if (last < static_cast<long long>(qxproto::kCpclLengthFieldSize) ||
                static_cast<unsigned long long>(last) > kMaxCommandBytes)
                return Fit::kNo;
            if (dataAt + 4 > n_) return unsure;
            if (Le32(p_ + dataAt) != static_cast<std::uint64_t>(g_.Size())) return Fit::kNo;
            end = dataAt + static_cast<std::size_t>(last);
        } else {
            end = dataAt + static_cast<std::size_t>(g_.Size());
        }
        if (end + 2 > n_) return unsure;
        if (p_[end] != qxproto::kCr || p_[end + 1] != qxproto::kLf) return Fit::kNo;
        *found = GraphicReading{last, dataAt, end, spaced};
        return Fit::kYes;
    }

    const std::uint8_t* p_;
    std::size_t n_;
    const GraphicCommand& g_;
    bool mayWait_;
};

std::string NoReadingText(const GraphicCommand& g) {
    if (g.TooLarge()) {
        return "size " + std::to_string(g.width) + " x " + std::to_string(g.height) +
               " larger than the largest command of " + std::to_string(kMaxCommandBytes) + " bytes";
    }
    return "no reading of the numbers is followed by " +
           std::string(g.compressed ? "a length of width x height, the data"
                                    : "width x height data bytes") +
           " and CR LF";
}

// The command as the log shows it, with the last number as read.
std::string GraphicHead(const GraphicCommand& g, const GraphicReading& r) {
    std::string head(g.name);
    for (long long v : {g.width, g.height, g.x, g.compressed ? g.y : r.last}) {
        head.append(1, ' ').append(std::to_string(v));
    }
    if (g.compressed) head.append(1, ' ').append(std::to_string(r.last));
    return head;
}

std::string SpacedNote(const GraphicReading& r) {
    return r.spaced ? " (space before the data: not this system's form)" : "";
}

}  // namespace

Decoder::Status Decoder::StepGraphics(const std::uint8_t* p, std::size_t n, std::size_t keyword,
                                      bool compressed, std::size_t* used) {
    GraphicCommand g;
    g.name = compressed ? "ZCG" : "CG";
    g.compressed = compressed;
    std::string why;
    const Scan scan = ReadGraphicNumbers(p, n, keyword, atEnd_, &g, &why);
    if (scan == Scan::kShort) return Status::kNeedMore;
    if (scan != Scan::kOk) return RefuseGraphic(g.name, why + ": refused", keyword, used);
    const bool mayWait = !atEnd_ && !decideNow_;
    if (g.digits + g.run == n && mayWait) return Status::kNeedMore;
    GraphicReading found;
    const Fit fit = g.TooLarge() ? Fit::kNo
                                 : ReadingChooser(p, n, g, mayWait)
                                       .Choose(label_.open ? &label_.paper : nullptr, &found);
    if (fit == Fit::kNeedMore) return Status::kNeedMore;
    if (fit == Fit::kNo) {
        // Idle: more bytes may still complete it.
        if (!g.TooLarge() && !atEnd_ && decideNow_) return Status::kNeedMore;
        return RefuseGraphic(g.name, NoReadingText(g), keyword, used);
    }
    *used = found.end + 2;
    if (compressed) {
        DrawCompressedGraphic(p, g, found);
    } else {
        DrawGraphic(p, g, found);
    }
    return Status::kDone;
}

Decoder::Status Decoder::RefuseGraphic(const char* name, const std::string& why,
                                       std::size_t keyword, std::size_t* used) {
    log_.Error(Here(), name, why);
    resyncFrom_ = Here();
    mode_ = Mode::kResync;
    *used = keyword;
    return Status::kDone;
}

void Decoder::DrawGraphic(const std::uint8_t* p, const GraphicCommand& g, const GraphicReading& r) {
    log_.Command(Here(), GraphicHead(g, r),
                 std::to_string(g.width) + " bytes x " + std::to_string(g.height) + " rows at (" +
                     std::to_string(g.x) + ", " + std::to_string(r.last) + ")" + SpacedNote(r));
    PlaceGraphic(p + r.data, g.width, g.height, g.x, r.last, g.name);
}

void Decoder::DrawCompressedGraphic(const std::uint8_t* p, const GraphicCommand& g,
                                    const GraphicReading& r) {
    const long long size = g.Size();
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size));
    const std::size_t packed = static_cast<std::size_t>(r.last) - 4;
    const qxproto::LzwDecodeResult d =
        qxproto::LzwDecode(p + r.data + 4, packed, out.data(), out.size());
    log_.Command(Here(), GraphicHead(g, r),
                 std::to_string(g.width) + " bytes x " + std::to_string(g.height) + " rows at (" +
                     std::to_string(g.x) + ", " + std::to_string(g.y) + "), " +
                     std::to_string(packed) + " LZW bytes" + SpacedNote(r));
    if (d.error != qxproto::LzwError::kNone) {
        log_.Error(Here(), g.name,
                   std::string("LZW data: ") + qxproto::LzwErrorText(d.error) + "; " +
                       std::to_string(d.produced) + " of " + std::to_string(size) +
                       " bytes decoded, drawn as far as decoded");
    } else if (d.produced != out.size()) {
        log_.Error(Here(), g.name,
                   "LZW data gave " + std::to_string(d.produced) + " bytes, " +
                       std::to_string(size) + " expected");
    } else if (d.consumed < packed) {
        log_.Command(Here(), g.name,
                     std::to_string(packed - d.consumed) + " byte(s) after the end code ignored");
    }
    PlaceGraphic(out.data(), g.width, g.height, g.x, g.y, g.name);
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
