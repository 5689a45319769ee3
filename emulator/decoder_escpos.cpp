// ESC/POS: raster bands, paper feeds, text lines, stored images and their upload.
#include <algorithm>
#include <cstring>

#include "decoder.h"
#include "font.h"
#include "protocol/commands.h"

namespace qxemu {

namespace {

using qxproto::kEsc;
using qxproto::kFs;
using qxproto::kGs;

constexpr std::uint8_t kDle = 0x10;

bool StartsWith(const std::uint8_t* p, std::size_t n, const std::uint8_t* what, std::size_t size) {
    return n >= size && std::memcmp(p, what, size) == 0;
}

template <std::size_t N>
bool StartsWith(const std::uint8_t* p, std::size_t n, const std::array<std::uint8_t, N>& what) {
    return StartsWith(p, n, what.data(), N);
}

std::string Hex2(std::uint8_t b) {
    char s[8];
    std::snprintf(s, sizeof s, "%02X", b);
    return s;
}

// Scale of the size modes shared by GS v 0 and FS p: normal, double width, double
// height, quadruple; 0-3 and '0'-'3' alike. False for any other value.
bool SizeMode(int m, int* scaleX, int* scaleY) {
    if (m >= 0x30 && m <= 0x33) m -= 0x30;
    if (m < 0 || m > 3) return false;
    *scaleX = (m & 1) ? 2 : 1;
    *scaleY = (m & 2) ? 2 : 1;
    return true;
}

// Length of ESC/POS commands outside the system's table that other senders use, so
// they can be named and stepped over. 0: not known; SIZE_MAX: needs more bytes.
std::size_t KnownLength(const std::uint8_t* p, std::size_t n) {
    if (n < 2) return SIZE_MAX;
    std::uint8_t a = p[0], b = p[1];
    auto need = [&](std::size_t k) { return n < k ? SIZE_MAX : k; };
    if (a == kEsc) {
        if (std::strchr("2<LSimv", b) != nullptr && b != 0) return 2;
        if (std::strchr("!-3JadeEGMRtV{ =TUru%?", b) != nullptr && b != 0) return 3;
        if (b == '$' || b == '\\' || b == 'c') return 4;
        if (b == 'p') return 5;
        if (b == 'W') return 10;
        if (b == '*') {
            if (n < 5) return SIZE_MAX;
            std::size_t dots = p[3] + 256u * p[4];
            return 5 + dots * (p[2] >= 32 ? 3 : 1);
        }
        return 0;
    }
    if (a == kGs) {
        if (b == ':') return 2;
        if (std::strchr("!BHfhwaIbr/ETg", b) != nullptr && b != 0) return 3;
        if (b == 'L' || b == 'W' || b == '$' || b == '\\' || b == 'P' || b == 'A') return 4;
        if (b == '(') {
            if (n < 5) return SIZE_MAX;
            return 5 + p[3] + 256u * p[4];
        }
        if (b == '8' && n >= 3 && p[2] == 'L') {
            if (n < 7) return SIZE_MAX;
            return 7 + (p[3] | (p[4] << 8) | (p[5] << 16) | (std::size_t{p[6]} << 24));
        }
        if (b == '*') return n < 4 ? SIZE_MAX : 4 + std::size_t{p[2]} * p[3] * 8;
        if (b == 'k') {
            if (n < 3) return SIZE_MAX;
            if (p[2] >= 65) return n < 4 ? SIZE_MAX : 4 + std::size_t{p[3]};
            const void* nul = std::memchr(p + 3, 0, std::min<std::size_t>(n - 3, 256));
            if (nul != nullptr) return static_cast<const std::uint8_t*>(nul) - p + 1;
            return n - 3 < 256 ? SIZE_MAX : 0;
        }
        return 0;
    }
    if (a == kFs) {
        if (b == '&' || b == '.') return 2;
        if (b == '!' || b == '-' || b == 'C' || b == 'W') return 3;
        if (b == 'S') return need(4);
        return 0;
    }
    if (a == kDle) {
        if (b == 0x04 || b == 0x05) return 3;
        if (b == 0x14) return 5;
    }
    return 0;
}

}  // namespace

Decoder::Status Decoder::StepEscPos(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    std::uint8_t b = p[0];
    if (b == 0x00) return StepZeros(p, n, used);
    if (b == qxproto::kLf) {
        *used = 1;
        if (receipt_.line.empty()) {
            log_.Command(Here(), "LF", "line feed");
            FeedPaper(2 * kTextLineRows);
        } else {
            log_.Command(Here(), "LF", "print the line");
            PrintTextLine();
        }
        return Status::kDone;
    }
    if (b == qxproto::kCr) {
        // No automatic line feed: CR only ends a line when LF follows.
        *used = 1;
        return Status::kDone;
    }
    if (b == kEsc) return StepEsc(p, n, used);
    if (b == kFs) return StepFs(p, n, used);
    if (b == kGs) return StepGs(p, n, used);
    if (b >= 0x20 || b == '\t') return StepText(p, n, used);
    if (b == kDle) return SkipOutside("DLE", KnownLength(p, n), n, used);
    *used = 1;
    log_.Command(Here(), "control " + Hex2(b), "outside the command table, skipped");
    return Status::kDone;
}

Decoder::Status Decoder::SkipOutside(const char* name, std::size_t length, std::size_t n,
                                     std::size_t* used) {
    const std::uint8_t* p = buffer_.data() + pos_;
    std::string what(name);
    if (n >= 2) what.append(1, ' ').append(Hex2(p[1]));
    if (length == SIZE_MAX) {
        if (!atEnd_) return Status::kNeedMore;
        log_.Error(Here(), what, "truncated at the end of the stream");
        *used = n;
        return Status::kDone;
    }
    if (length == 0) {
        length = std::min<std::size_t>(2, n);
        log_.Command(Here(), what, "unknown command, outside the command table: skipped 2 bytes");
    } else {
        log_.Command(Here(), what,
                     "outside the command table: skipped " + std::to_string(length) + " bytes");
    }
    if (length > n) {
        if (length > kMaxCommandBytes || atEnd_) {
            if (atEnd_) log_.Error(Here(), what, "truncated at the end of the stream");
            mode_ = Mode::kSkip;
            skipLeft_ = length - n;
            *used = n;
            return Status::kDone;
        }
        return Status::kNeedMore;
    }
    *used = length;
    return Status::kDone;
}

Decoder::Status Decoder::StepEsc(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    if (n < 2) return atEnd_ ? SkipOutside("ESC", SIZE_MAX, n, used) : Status::kNeedMore;
    if (StartsWith(p, n, qxproto::kInitialize)) {
        *used = 2;
        receipt_.line.clear();
        log_.Command(Here(), "ESC @", "initialise");
        return Status::kDone;
    }
    if (p[1] == qxproto::kFeedCode) {
        if (n < 3) return atEnd_ ? SkipOutside("ESC", SIZE_MAX, n, used) : Status::kNeedMore;
        *used = 3;
        if (!receipt_.line.empty()) PrintTextLine();
        log_.Command(Here(), "ESC J " + std::to_string(p[2]),
                     "feed " + std::to_string(p[2]) + " units (" + std::to_string(p[2] / 2) +
                         (p[2] % 2 ? ".5" : "") + " rows)");
        FeedPaper(p[2]);
        return Status::kDone;
    }
    return SkipOutside("ESC", KnownLength(p, n), n, used);
}

Decoder::Status Decoder::StepFs(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    if (n < 2) return atEnd_ ? SkipOutside("FS", SIZE_MAX, n, used) : Status::kNeedMore;
    if (p[1] == qxproto::kPrintStoredImageCode) {
        if (n < 4) return atEnd_ ? SkipOutside("FS p", SIZE_MAX, n, used) : Status::kNeedMore;
        *used = 4;
        PrintStored(p[2], p[3]);
        return Status::kDone;
    }
    if (p[1] == qxproto::kDefineImagesCode) {
        if (n < 3) return atEnd_ ? SkipOutside("FS q", SIZE_MAX, n, used) : Status::kNeedMore;
        *used = 3;
        if (p[2] == 0) {
            log_.Command(Here(), "FS q 0", "defines no image: ignored, memory unchanged");
            return Status::kDone;
        }
        log_.Command(Here(), "FS q " + std::to_string(p[2]),
                     "define " + std::to_string(p[2]) + " image(s)");
        upload_ = Upload{p[2], Here(), {}};
        mode_ = Mode::kNvBlocks;
        return Status::kDone;
    }
    if (StartsWith(p, n, qxproto::kEraseStoredImages)) {
        *used = 2;
        log_.Command(Here(), "FS e",
                     "erase all " + std::to_string(device_.Nv().Count()) + " stored image(s)");
        device_.Nv().Clear();
        device_.SaveNv();
        return Status::kDone;
    }
    return SkipOutside("FS", KnownLength(p, n), n, used);
}

Decoder::Status Decoder::StepGs(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    if (n < 2) return atEnd_ ? SkipOutside("GS", SIZE_MAX, n, used) : Status::kNeedMore;
    if (p[1] == qxproto::kRasterImage[1]) {
        if (n < 3) return atEnd_ ? SkipOutside("GS v", SIZE_MAX, n, used) : Status::kNeedMore;
        if (p[2] == qxproto::kRasterImage[2]) return StepRaster(p, n, used);
        return SkipOutside("GS v", 0, n, used);
    }
    if (p[1] == qxproto::kFeedAndCut[1]) {
        if (n < 3) return atEnd_ ? SkipOutside("GS V", SIZE_MAX, n, used) : Status::kNeedMore;
        std::uint8_t m = p[2];
        bool withFeed = m == 65 || m == 66;
        if (!withFeed && m != 0 && m != 1 && m != 48 && m != 49)
            return SkipOutside("GS V", 0, n, used);
        if (withFeed && n < 4)
            return atEnd_ ? SkipOutside("GS V", SIZE_MAX, n, used) : Status::kNeedMore;
        *used = withFeed ? 4 : 3;
        bool ours = StartsWith(p, n, qxproto::kFeedAndCut);
        std::string detail = withFeed ? "feed " + std::to_string(p[3]) + " units and cut" : "cut";
        if (!ours) detail += " (outside the command table)";
        log_.Command(Here(), "GS V " + std::to_string(m), detail);
        if (!receipt_.line.empty()) PrintTextLine();
        if (withFeed) FeedPaper(p[3]);
        EndReceipt("cut");
        return Status::kDone;
    }
    return SkipOutside("GS", KnownLength(p, n), n, used);
}

Decoder::Status Decoder::StepRaster(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    constexpr std::size_t kHeader = qxproto::kRasterImageHeaderSize;
    if (n < kHeader) return atEnd_ ? SkipOutside("GS v 0", SIZE_MAX, n, used) : Status::kNeedMore;
    int widthBytes = p[4] + 256 * p[5];
    int rows = p[6] + 256 * p[7];
    std::size_t size = static_cast<std::size_t>(widthBytes) * static_cast<std::size_t>(rows);
    std::string name = "GS v 0";
    int scaleX = 1, scaleY = 1;
    if (!SizeMode(p[3], &scaleX, &scaleY)) {
        log_.Error(Here(), name,
                   "unknown size mode " + std::to_string(p[3]) + ": " + std::to_string(size) +
                       " data bytes skipped");
        return SkipOutside("GS v 0", kHeader + size, n, used);
    }
    if (p[3] != 0) name += " m=" + std::to_string(p[3]);
    if (size > kMaxCommandBytes) {
        log_.Error(Here(), name,
                   std::to_string(widthBytes) + " x " + std::to_string(rows) +
                       " bytes is larger than the printer takes: skipped");
        mode_ = Mode::kSkip;
        skipLeft_ = kHeader + size;
        *used = 0;
        return Status::kDone;
    }
    if (n < kHeader + size) {
        if (!atEnd_) return Status::kNeedMore;
        // Whatever whole rows arrived are printed; the rest is reported.
        int whole = widthBytes == 0 ? 0 : static_cast<int>((n - kHeader) / widthBytes);
        log_.Error(Here(), name,
                   "truncated: " + std::to_string(rows) + " rows of " + std::to_string(widthBytes) +
                       " bytes announced, " + std::to_string(n - kHeader) +
                       " data bytes arrived; " + std::to_string(whole) + " whole row(s) printed");
        rows = whole;
        *used = n;
    } else {
        *used = kHeader + size;
    }
    log_.Command(
        Here(), name,
        "raster " + std::to_string(widthBytes) + " bytes x " + std::to_string(rows) + " rows");
    PrintRows(p + kHeader, widthBytes, rows, scaleX, scaleY, name.c_str());
    return Status::kDone;
}

Decoder::Status Decoder::StepText(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    std::size_t len = 0;
    while (len < n && (p[len] >= 0x20 || p[len] == '\t')) ++len;
    *used = len;
    std::string quoted(1, '"');
    quoted.append(Printable(p, len, 64))
        .append("\" (")
        .append(std::to_string(len))
        .append(" bytes)");
    log_.Command(Here(), "text", quoted);
    const std::size_t columns =
        static_cast<std::size_t>(std::max(1, device_.PaperWidth() / kCharWidth));
    for (std::size_t i = 0; i < len; ++i) {
        if (p[i] == '\t') {
            // Tab stops every eight columns.
            std::size_t next = (receipt_.line.size() / 8 + 1) * 8;
            receipt_.line.resize(std::min(next, columns), ' ');
        } else {
            receipt_.line += static_cast<char>(p[i]);
        }
        // A full line is printed and the text goes on at the start of the next one.
        if (receipt_.line.size() >= columns) PrintTextLine();
    }
    return Status::kDone;
}

void Decoder::PrintTextLine() {
    std::string line = std::move(receipt_.line);
    receipt_.line.clear();
    int row = static_cast<int>((receipt_.halfRows + 1) / 2);
    if (row + kTextLineRows > kMaxReceiptRows) {
        EndReceipt("receipt too long");
        row = 0;
    }
    receipt_.paper.GrowTo(row + kCharHeight);
    for (std::size_t i = 0; i < line.size(); ++i) {
        DrawChar(receipt_.paper, static_cast<int>(i) * kCharWidth, row,
                 static_cast<std::uint8_t>(line[i]));
    }
    receipt_.halfRows = 2 * static_cast<std::int64_t>(row + kTextLineRows);
    receipt_.used = true;
}

void Decoder::FeedPaper(std::int64_t halfRows) {
    receipt_.halfRows += halfRows;
    receipt_.used = true;
    if (receipt_.halfRows > 2 * static_cast<std::int64_t>(kMaxReceiptRows)) {
        EndReceipt("receipt too long");
    }
}

void Decoder::PrintRows(const std::uint8_t* rows, int widthBytes, int height, int scaleX,
                        int scaleY, const char* what) {
    if (!receipt_.line.empty()) PrintTextLine();
    // A half-row feed leaves the head between rows; printing starts on the next one.
    int row = static_cast<int>((receipt_.halfRows + 1) / 2);
    int tall = height * scaleY;
    if (row + tall > kMaxReceiptRows && row > 0) {
        EndReceipt("receipt too long");
        row = 0;
    }
    tall = std::min(tall, kMaxReceiptRows);
    receipt_.paper.GrowTo(row + tall);
    std::size_t cut = receipt_.paper.Draw(rows, widthBytes, std::min(height, tall / scaleY), 0, row,
                                          scaleX, scaleY);
    if (cut > 0) {
        log_.Command(Here(), what,
                     std::to_string(cut) + " black dot(s) beyond the paper width of " +
                         std::to_string(device_.PaperWidth()) + " dots cut");
    }
    receipt_.halfRows = 2 * static_cast<std::int64_t>(row + tall);
    receipt_.used = true;
}

void Decoder::PrintStored(int number, int mode) {
    std::string name = "FS p " + std::to_string(number) + " " + std::to_string(mode);
    int scaleX = 1, scaleY = 1;
    if (!SizeMode(mode, &scaleX, &scaleY)) {
        log_.Error(Here(), name, "unknown size mode " + std::to_string(mode) + ": nothing printed");
        return;
    }
    const NvImage* image = device_.Nv().Find(number);
    if (image == nullptr) {
        log_.Command(Here(), name,
                     "image " + std::to_string(number) + " is not stored: nothing printed");
        return;
    }
    Bitmap bitmap = NvImageToBitmap(*image);
    log_.Command(Here(), name,
                 "print stored image " + std::to_string(number) + " (" +
                     std::to_string(bitmap.Width()) + " x " + std::to_string(bitmap.Height()) +
                     " dots)");
    PrintRows(bitmap.Row(0), bitmap.RowBytes(), bitmap.Height(), scaleX, scaleY, name.c_str());
}

Decoder::Status Decoder::StepNvBlock(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    const int index = static_cast<int>(upload_.images.size()) + 1;
    const std::string name = "FS q image " + std::to_string(index);
    if (n < qxproto::kImageBlockHeaderSize) {
        if (!atEnd_) return Status::kNeedMore;
        log_.Error(Here(), name, "truncated block header");
        *used = n;
        EndUpload("the stream ended");
        return Status::kDone;
    }
    int wb = p[0] + 256 * p[1];
    int hb = p[2] + 256 * p[3];
    if (wb < 1 || wb > kMaxNvWidthUnits || hb < 1 || hb > kMaxNvHeightUnits) {
        // Not a block: a file the sender could not convert was left out. What follows
        // is decoded as commands again.
        log_.Error(Here(), name,
                   "no image block here (size " + std::to_string(wb) + " x " + std::to_string(hb) +
                       " units of 8 dots, limits 1-" + std::to_string(kMaxNvWidthUnits) + " x 1-" +
                       std::to_string(kMaxNvHeightUnits) + ")");
        EndUpload("a command followed");
        return Status::kDone;
    }
    std::size_t size = static_cast<std::size_t>(wb) * 8 * hb;
    if (n < 4 + size) {
        if (!atEnd_) return Status::kNeedMore;
        log_.Error(Here(), name,
                   "truncated: " + std::to_string(size) + " data bytes announced, " +
                       std::to_string(n - 4) + " arrived; image dropped");
        *used = n;
        EndUpload("the stream ended");
        return Status::kDone;
    }
    *used = 4 + size;
    log_.Command(Here(), name, std::to_string(wb * 8) + " x " + std::to_string(hb * 8) + " dots");
    upload_.images.push_back(NvImage{wb, hb, std::vector<std::uint8_t>(p + 4, p + 4 + size)});
    if (static_cast<int>(upload_.images.size()) == upload_.announced) EndUpload("");
    return Status::kDone;
}

void Decoder::EndUpload(const std::string& why) {
    int got = static_cast<int>(upload_.images.size());
    if (got < upload_.announced) {
        log_.Error(upload_.offset, "FS q " + std::to_string(upload_.announced),
                   std::to_string(upload_.announced) + " image(s) announced, " +
                       std::to_string(got) + " arrived before " + why);
    }
    if (got == 0) {
        // Nothing arrived to replace the memory with: what is stored stays.
        log_.Line("image memory unchanged: " + std::to_string(device_.Nv().Count()) + " image(s)");
    } else {
        // Defining images replaces the whole memory, as the printer does.
        device_.Nv().ReplaceAll(std::move(upload_.images));
        device_.SaveNv();
        log_.Line("image memory now holds " + std::to_string(device_.Nv().Count()) + " image(s)");
    }
    upload_ = Upload{};
    mode_ = Mode::kEscPos;
}

void Decoder::EndReceipt(const char* why) {
    if (!receipt_.line.empty()) {
        log_.Command(Here(), "text", "line without line feed printed at " + std::string(why));
        PrintTextLine();
    }
    if (!receipt_.used) return;
    int height =
        static_cast<int>(std::min<std::int64_t>((receipt_.halfRows + 1) / 2, kMaxReceiptRows));
    receipt_.paper.GrowTo(std::max(height, 1));
    PrintedPage page;
    page.kind = PageKind::kReceipt;
    page.bitmap = std::move(receipt_.paper);
    log_.Command(Here(), "receipt", std::string("ends: ") + why);
    device_.Emit(std::move(page));
    receipt_ = Receipt{};
    receipt_.paper = Bitmap(device_.PaperWidth(), 0);
}

}  // namespace qxemu
