// CPCL labels: the page header, the media words, CG and ZCG graphics, PRINT.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "decoder.h"
#include "protocol/commands.h"
#include "protocol/lzw_decode.h"

namespace qxemu {

namespace {

constexpr std::size_t kMaxLine = 4096;

// 1: p starts with word; 0: it does not; -1: too few bytes to tell.
int Prefix(const std::uint8_t* p, std::size_t n, const char* word) {
    std::size_t len = std::strlen(word);
    std::size_t k = std::min(n, len);
    if (std::memcmp(p, word, k) != 0) return 0;
    return k == len ? 1 : -1;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    std::size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

// Whole decimal numbers of a text, false on anything else; *tooLarge names a number
// beyond what the decoder can hold.
bool Numbers(const std::string& text, std::vector<long long>* out, std::string* tooLarge) {
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(word.c_str(), &end, 10);
        if (end == word.c_str() || *end != '\0') return false;
        if (errno == ERANGE) {
            *tooLarge = word;
            return false;
        }
        out->push_back(v);
    }
    return true;
}

}  // namespace

Decoder::Status Decoder::StepCpcl(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    if (p[0] == 0x00) return StepZeros(p, n, used);
    if (!label_.open && (p[0] == qxproto::kEsc || p[0] == qxproto::kFs || p[0] == qxproto::kGs)) {
        log_.Command(Here(), "job", "ESC/POS command after the CPCL labels: decoded as ESC/POS");
        mode_ = Mode::kEscPos;
        return Status::kDone;
    }
    struct Graphic {
        const char* word;
        bool compressed;
    };
    for (Graphic g :
         {Graphic{"CG ", false}, Graphic{"ZCG ", true}, Graphic{"COMPRESSED-GRAPHICS ", false}}) {
        int match = Prefix(p, n, g.word);
        if (match < 0 && !atEnd_) return Status::kNeedMore;
        if (match > 0) return StepGraphics(p, n, std::strlen(g.word), g.compressed, used);
    }
    return StepCpclLine(p, n, used);
}

Decoder::Status Decoder::StepCpclLine(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    std::size_t look = std::min(n, kMaxLine);
    const void* lf = std::memchr(p, qxproto::kLf, look);
    std::size_t len;
    if (lf != nullptr) {
        len = static_cast<std::size_t>(static_cast<const std::uint8_t*>(lf) - p);
        *used = len + 1;
    } else if (n >= kMaxLine) {
        log_.Error(
            Here(), "CPCL",
            "line of more than " + std::to_string(kMaxLine) + " bytes without line end: skipped");
        *used = kMaxLine;
        return Status::kDone;
    } else if (atEnd_) {
        len = n;
        *used = n;
        log_.Error(Here(), "CPCL", "last line has no line end");
    } else {
        return Status::kNeedMore;
    }
    if (len > 0 && p[len - 1] == qxproto::kCr) --len;
    CpclLine(std::string(reinterpret_cast<const char*>(p), len));
    return Status::kDone;
}

void Decoder::CpclLine(const std::string& raw) {
    std::string line = Trim(raw);
    if (line.empty()) return;
    std::string word = Upper(line.substr(0, line.find_first_of(" \t")));
    // The line in quotes, then what became of it.
    auto quoted = [&](const char* what) {
        std::string q(1, '"');
        q.append(Printable(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
        return q.append(1, '"').append(what);
    };
    using namespace qxproto;
    if (word == kCpclWordHeader) {
        if (line.size() > 2 && std::isdigit(static_cast<unsigned char>(Trim(line.substr(1))[0]))) {
            LabelHeader(line);
        } else {
            log_.Command(Here(), "!", quoted(": outside the command table, skipped"));
        }
        return;
    }
    if (!label_.open) {
        log_.Command(Here(), word, quoted(" outside a label: skipped"));
        return;
    }
    if (word == kCpclWordLabel || word == kCpclWordGapSense || word == kCpclWordBarSense ||
        word == kCpclWordJournal || word == kCpclWordBackfeed || word == kCpclWordForm) {
        log_.Command(Here(), word,
                     word == kCpclWordBackfeed ? "back-feed"
                     : word == kCpclWordForm   ? "form feed to the next label"
                                               : "media");
        if (word != kCpclWordForm) label_.media += (label_.media.empty() ? "" : " ") + word;
        return;
    }
    if (word == kCpclWordPrint) {
        log_.Command(Here(), word, "print the label");
        EndLabel(true);
        return;
    }
    if (word == "EG" || word == "EXPANDED-GRAPHICS") {
        PlaceExpanded(line);
        return;
    }
    log_.Command(Here(), word, quoted(": outside the command table, skipped"));
}

void Decoder::LabelHeader(const std::string& line) {
    if (label_.open) {
        log_.Error(Here(), "!",
                   "new label before PRINT of the label at @" + std::to_string(label_.offset));
        EndLabel(false);
    }
    std::vector<long long> v;
    std::string tooLarge;
    if (!Numbers(line.substr(1), &v, &tooLarge) || v.size() != 5) {
        log_.Error(Here(), "!",
                   "malformed label header \"" +
                       Printable(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()) +
                       (tooLarge.empty() ? "\" (wants offset, resolutions, height, quantity)"
                                         : "\" (" + tooLarge + " is out of range)"));
        return;
    }
    long long height = v[3], quantity = v[4];
    if (height < 1 || height > kMaxLabelRows) {
        log_.Error(Here(), "!",
                   "label height " + std::to_string(height) + " outside 1-" +
                       std::to_string(kMaxLabelRows) + ": limited");
        height = std::clamp<long long>(height, 1, kMaxLabelRows);
    }
    if (quantity < 1) {
        log_.Error(Here(), "!", "quantity " + std::to_string(quantity) + ": taken as 1");
        quantity = 1;
    }
    label_.open = true;
    label_.paper = Bitmap(device_.PaperWidth(), static_cast<int>(height));
    label_.quantity = static_cast<int>(std::min<long long>(quantity, 1 << 30));
    label_.media.clear();
    label_.offset = Here();
    std::string detail =
        "label " + std::to_string(height) + " rows, quantity " + std::to_string(quantity);
    if (v[1] != 203 || v[2] != 203) {
        detail += " (resolution " + std::to_string(v[1]) + " x " + std::to_string(v[2]) +
                  " asked; the printer has 203)";
    }
    log_.Command(Here(), "! " + std::to_string(v[0]), detail);
}

void Decoder::EndLabel(bool printed) {
    if (!label_.open) return;
    PrintedPage page;
    page.kind = PageKind::kLabel;
    page.bitmap = std::move(label_.paper);
    page.quantity = label_.quantity;
    page.media = label_.media;
    if (!printed) log_.Line("label without PRINT: written all the same, for inspection");
    label_ = Label{};
    device_.Emit(std::move(page));
}

void Decoder::PlaceGraphic(const std::uint8_t* rows, long long w, long long h, long long x,
                           long long y, const char* what) {
    if (!label_.open) {
        log_.Error(Here(), what, "graphic outside a label: not printed");
        return;
    }
    const long long limit = 1LL << 30;
    if (x < -limit || x > limit || y < -limit || y > limit) {
        log_.Error(Here(), what, "position far outside the label: not printed");
        return;
    }
    std::size_t cut = label_.paper.Draw(rows, static_cast<int>(w), static_cast<int>(h),
                                        static_cast<int>(x), static_cast<int>(y));
    if (cut > 0) {
        log_.Command(Here(), what,
                     std::to_string(cut) + " black dot(s) outside the label (" +
                         std::to_string(label_.paper.Width()) + " x " +
                         std::to_string(label_.paper.Height()) + " dots) cut");
    }
}

void Decoder::PlaceExpanded(const std::string& line) {
    // EG w h x y hex: outside the table, but plain text and cheap to honour.
    std::istringstream in(line);
    std::string word, hex;
    long long w = -1, h = -1, x = 0, y = 0;
    in >> word >> w >> h >> x >> y >> hex;
    // Each side is bounded before the product is taken, so it cannot overflow.
    const long long most = static_cast<long long>(kMaxLine);
    if (!in || w < 0 || h < 0 || w > most || h > most || w * h > most ||
        hex.size() != static_cast<std::size_t>(2 * w * h)) {
        log_.Error(Here(), word, "malformed expanded graphic (outside the command table): skipped");
        return;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w * h));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char pair[3] = {hex[2 * i], hex[2 * i + 1], 0};
        char* end = nullptr;
        bytes[i] = static_cast<std::uint8_t>(std::strtoul(pair, &end, 16));
        if (end != pair + 2) {
            log_.Error(Here(), word, "bad hex digits: skipped");
            return;
        }
    }
    log_.Command(Here(), word,
                 std::to_string(w) + " bytes x " + std::to_string(h) + " rows at (" +
                     std::to_string(x) + ", " + std::to_string(y) + "), outside the command table");
    PlaceGraphic(bytes.data(), w, h, x, y, word.c_str());
}

}  // namespace qxemu
