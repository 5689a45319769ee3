// The ZCG coder on photo and receipt content, beside Debian's ncompress (compress -b12)
// on the same bytes. The peer runs as a process per iteration on 32 pages at once, so
// starting it costs little against the coding.
//
// Receipts come two ways: shop receipts drawn with the graphics engine and turned into
// page rows by the driver's own tone conversion, which is what the driver codes day to
// day; and dense random glyphs, the worst case for text.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../drivers/printer/qx470/tests/lzw_test_support.h"
#include "../drivers/printer/qx470/tests/page_test_support.h"
#include "escpos.h"
#include "lzw.h"
#include "page.h"
#include "printer_job.h"
#include "tone.h"
#include "wce/base.h"
#include "wce/gdi.h"

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kWidthBytes = 72;
constexpr int kLegalRows = 2845;
constexpr int kPages = 32;

// The bands SendCpclPage would cut from a page: runs of non-blank rows, trimmed to
// their leftmost and rightmost ink bytes.
std::vector<Bytes> Bands(const Bytes& page) {
    std::vector<Bytes> bands;
    int start = -1, left = kWidthBytes, right = -1;
    auto flush = [&](int end) {
        Bytes band;
        for (int r = start; r < end; ++r) {
            const std::uint8_t* row = page.data() + static_cast<std::size_t>(r) * kWidthBytes;
            band.insert(band.end(), row + left, row + right + 1);
        }
        bands.push_back(band);
        start = -1, left = kWidthBytes, right = -1;
    };
    for (int r = 0; r < kLegalRows; ++r) {
        const std::uint8_t* row = page.data() + static_cast<std::size_t>(r) * kWidthBytes;
        int last = qx470::RightmostInkByte(row, kWidthBytes);
        if (last < 0) {
            if (start >= 0) flush(r);
            continue;
        }
        int first = 0;
        while (row[first] == 0) ++first;
        if (start < 0) start = r;
        left = std::min(left, first);
        right = std::max(right, last);
    }
    if (start >= 0) flush(kLegalRows);
    return bands;
}

struct Content {
    std::vector<Bytes> bands;  // what the driver codes, band by band
    Bytes pageBytes;           // all pages, for the peer
    std::size_t bandBytes = 0;
};

const Content& Photo() {
    static Content content = [] {
        Content c;
        for (int p = 0; p < kPages; ++p) {
            Bytes page = qx470::testsupport::DitheredPhoto(kWidthBytes, kLegalRows, p + 1);
            c.pageBytes.insert(c.pageBytes.end(), page.begin(), page.end());
            for (Bytes& band : Bands(page)) c.bands.push_back(std::move(band));
        }
        for (const Bytes& band : c.bands) c.bandBytes += band.size();
        return c;
    }();
    return content;
}

const Content& Receipt() {
    static Content content = [] {
        Content c;
        for (int p = 0; p < kPages; ++p) {
            Bytes page = qx470::testsupport::ReceiptText(kWidthBytes, kLegalRows, p + 1);
            c.pageBytes.insert(c.pageBytes.end(), page.begin(), page.end());
            for (Bytes& band : Bands(page)) c.bands.push_back(std::move(band));
        }
        for (const Bytes& band : c.bands) c.bandBytes += band.size();
        return c;
    }();
    return content;
}

// ---- shop receipts through the graphics engine ----

constexpr int kWidthDots = kWidthBytes * 8;

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

template <typename... Args>
std::string Text(const char* format, Args... args) {
    char text[96];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

std::string Money(int cents) {
    return Text("%d.%02d", cents / 100, cents % 100);
}

class ReceiptPainter {
  public:
    explicit ReceiptPainter(wce::HDC dc) : dc_(dc) {}
    ~ReceiptPainter() {
        wce::SelectObject(dc_, wce::GetStockObject(wce::SYSTEM_FONT));
        for (wce::HFONT font : fonts_) wce::DeleteObject(font);
    }

    void Font(int height, bool bold = false) {
        wce::LOGFONTW lf{};
        lf.lfHeight = height;
        lf.lfWeight = bold ? wce::FW_BOLD : wce::FW_NORMAL;
        std::char_traits<char16_t>::copy(lf.lfFaceName, u"Arial", 6);
        wce::HFONT font = wce::CreateFontIndirectW(&lf);
        fonts_.push_back(font);
        wce::SelectObject(dc_, font);
        lineHeight_ = height + height / 6;
    }

    // One line of text in the columns [left, right), aligned by format.
    void Put(const std::string& text, int left, int right, wce::UINT format) {
        std::u16string wide = Wide(text);
        wce::RECT r{left, top_, right, top_ + lineHeight_};
        wce::DrawTextW(dc_, wide.c_str(), -1, &r, format | wce::DT_SINGLELINE | wce::DT_NOPREFIX);
    }
    void Centre(const std::string& text) {
        Put(text, kMargin, kWidthDots - kMargin, wce::DT_CENTER);
    }
    void LeftRight(const std::string& left, const std::string& right) {
        Put(left, kMargin, kWidthDots - kMargin, wce::DT_LEFT);
        Put(right, kMargin, kWidthDots - kMargin, wce::DT_RIGHT);
    }
    void Item(const std::string& name, int quantity, int cents) {
        Put(name, kMargin, kQuantityColumn, wce::DT_LEFT);
        Put(Text("x%d", quantity), kQuantityColumn, kQuantityColumn + 60, wce::DT_RIGHT);
        Put(Money(cents), kQuantityColumn + 60, kWidthDots - kMargin, wce::DT_RIGHT);
    }
    void Separator() {
        Put(std::string(46, '-'), kMargin, kWidthDots - kMargin, wce::DT_CENTER);
        Next();
    }
    // A paragraph broken at the paper's edge, every line centred.
    void Paragraph(const std::string& text) {
        std::u16string wide = Wide(text);
        wce::RECT r{kMargin, top_, kWidthDots - kMargin, top_ + 1000};
        int height = wce::DrawTextW(dc_, wide.c_str(), -1, &r,
                                    wce::DT_CENTER | wce::DT_WORDBREAK | wce::DT_NOPREFIX);
        top_ += height;
    }
    void Next() { top_ += lineHeight_; }
    void Skip(int rows) { top_ += rows; }

  private:
    static constexpr int kMargin = 8;
    static constexpr int kQuantityColumn = 330;
    wce::HDC dc_;
    std::vector<wce::HFONT> fonts_;
    int top_ = 24;
    int lineHeight_ = 28;
};

// A café's till receipt of 30 to 40 items with the usual header, totals and small print.
void DrawShopReceipt(wce::HDC dc, std::uint32_t seed) {
    static const char* const kItems[] = {
        "Flat white",
        "Cappuccino",
        "Caffe latte",
        "Americano",
        "Double espresso",
        "Hot chocolate",
        "Chai latte",
        "English breakfast tea",
        "Peppermint tea",
        "Iced latte",
        "Orange juice 250ml",
        "Sparkling water",
        "Still water 500ml",
        "Almond croissant",
        "Butter croissant",
        "Pain au chocolat",
        "Cinnamon bun",
        "Blueberry muffin",
        "Banana bread",
        "Carrot cake slice",
        "Lemon drizzle",
        "Chocolate brownie",
        "Oat cookie",
        "Ham & cheese toastie",
        "Tuna melt panini",
        "Halloumi wrap",
        "Chicken pesto baguette",
        "Soup of the day",
        "Avocado toast",
        "Granola pot",
        "Porridge with honey",
        "Extra shot",
        "Oat milk",
        "Syrup - vanilla",
        "Takeaway cup deposit",
        "Coffee beans 250g",
        "Reusable cup",
        "Gift card top-up",
        "Bottled lemonade",
        "Fruit salad",
    };
    qx470::testsupport::Lcg lcg(seed);
    ReceiptPainter paint(dc);
    paint.Font(44, true);
    paint.Centre("QX COFFEE HOUSE");
    paint.Next();
    paint.Font(24);
    paint.Centre("12 Harbour Street, Pier 3");
    paint.Next();
    paint.Centre("Portsmouth PO1 3TY");
    paint.Next();
    paint.Centre("Tel 023 9200 1234   VAT No 123 4567 89");
    paint.Next();
    paint.Separator();
    const int receipt = 4000 + lcg.Below(6000);
    paint.LeftRight(Text("Receipt %d", receipt), Text("08/12/2026 14:%02d", 10 + lcg.Below(50)));
    paint.Next();
    paint.LeftRight("Till 2   Served by Anna", Text("Table %d", 1 + lcg.Below(24)));
    paint.Next();
    paint.Separator();

    int total = 0;
    const int items = 30 + lcg.Below(11);
    for (int i = 0; i < items; ++i) {
        const int quantity = lcg.Below(4) == 0 ? 2 + lcg.Below(3) : 1;
        const int cents = quantity * (90 + 10 * lcg.Below(60));
        total += cents;
        paint.Item(kItems[lcg.Below(static_cast<int>(std::size(kItems)))], quantity, cents);
        paint.Next();
    }
    paint.Separator();
    const int vat = total / 6;
    paint.LeftRight("Subtotal", Money(total - vat));
    paint.Next();
    paint.LeftRight("VAT 20%", Money(vat));
    paint.Next();
    paint.Font(36, true);
    paint.LeftRight("TOTAL", Money(total));
    paint.Next();
    paint.Font(24);
    paint.LeftRight(Text("Card  **** **** **** %d", 1000 + lcg.Below(9000)), Money(total));
    paint.Next();
    paint.LeftRight(Text("Auth code %d", 100000 + lcg.Below(900000)), "Contactless");
    paint.Next();
    paint.Separator();
    paint.Skip(12);
    paint.Paragraph(
        "Thank you for visiting! Keep this receipt: unopened retail items can be "
        "returned within 28 days. Join our loyalty club at the counter and every "
        "tenth coffee is on us.");
    paint.Skip(16);
    paint.Centre("www.qx-coffee.example");
}

// Shop receipts as the driver holds them: drawn into a legal-length surface, then each
// scan line through the driver's tone conversion into the 1-bit page image.
std::vector<Bytes> ShopReceiptPages(int pages) {
    std::vector<Bytes> result;
    wce::HDC screen = wce::GetDC(nullptr);
    wce::HDC dc = wce::CreateCompatibleDC(screen);
    wce::HBITMAP bitmap = wce::CreateCompatibleBitmap(screen, kWidthDots, kLegalRows);
    wce::ReleaseDC(nullptr, screen);
    if (dc == nullptr || bitmap == nullptr) return result;
    wce::HGDIOBJ previous = wce::SelectObject(dc, bitmap);
    wce::SetTextColor(dc, wce::RGB(0, 0, 0));
    wce::SetBkMode(dc, wce::TRANSPARENT);

    qx470::PrinterJob job;
    if (qx470::pagetest::SetUpPage(job, {.width = kWidthDots, .rows = kLegalRows})) {
        wce::srand(1);
        std::vector<std::uint8_t> scanLine(std::size_t{kWidthDots} * 3);
        for (int p = 0; p < pages; ++p) {
            wce::RECT all{0, 0, kWidthDots, kLegalRows};
            wce::FillRect(dc, &all,
                          static_cast<wce::HBRUSH>(wce::GetStockObject(wce::WHITE_BRUSH)));
            DrawShopReceipt(dc, static_cast<std::uint32_t>(p + 1));
            wce::BITMAP bm{};
            wce::GetObjectW(bitmap, sizeof bm, &bm);
            job.rowParity = job.nextRow = 0;
            for (int y = 0; y < kLegalRows; ++y) {
                // The engine's surface holds blue, green, red and a spare byte per dot.
                const auto* in = static_cast<const std::uint8_t*>(bm.bmBits) +
                                 static_cast<std::size_t>(y) * bm.bmWidthBytes;
                for (int x = 0; x < kWidthDots; ++x) std::memcpy(&scanLine[x * 3], in + x * 4, 3);
                qx470::ConvertRow(job, scanLine.data());
            }
            result.emplace_back(job.pageImage,
                                job.pageImage + std::size_t{kWidthBytes} * kLegalRows);
        }
    }
    qx470::FreePage(job);
    wce::SelectObject(dc, previous);
    wce::DeleteObject(bitmap);
    wce::DeleteDC(dc);
    return result;
}

const Content& ShopReceipt() {
    static Content content = [] {
        Content c;
        for (const Bytes& page : ShopReceiptPages(kPages)) {
            c.pageBytes.insert(c.pageBytes.end(), page.begin(), page.end());
            for (Bytes& band : Bands(page)) c.bands.push_back(std::move(band));
        }
        for (const Bytes& band : c.bands) c.bandBytes += band.size();
        return c;
    }();
    return content;
}

void CodeBands(benchmark::State& state, const Content& content) {
    if (content.bands.empty()) {
        state.SkipWithError("no content");
        return;
    }
    auto dictionary = std::make_unique<qx470::LzwDictionary>();
    Bytes output(qx470::LzwOutputBound(kWidthBytes * kLegalRows));
    std::size_t compressed = 0;
    for (auto _ : state) {
        compressed = 0;
        for (const Bytes& band : content.bands) {
            std::size_t length = band.size();
            qx470::LzwState lzw;
            if (band.size() >= 2) {
                qx470::LzwCompress(band.data(), output.data(), output.size(), *dictionary,
                                   band.size(), &length, lzw);
            }
            compressed += length;
            benchmark::DoNotOptimize(output.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.bandBytes));
    // Blank rows between bands cost the coder nothing; this is the rate of whole pages.
    state.counters["page_bytes_per_second"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(content.pageBytes.size()),
        benchmark::Counter::kIsRate, benchmark::Counter::kIs1024);
    state.counters["bands"] = static_cast<double>(content.bands.size());
    state.counters["share_of_bands_pct"] = 100.0 * compressed / content.bandBytes;
    state.counters["share_of_page_pct"] = 100.0 * compressed / content.pageBytes.size();
}

void BM_LzwPhotoBands(benchmark::State& state) {
    CodeBands(state, Photo());
}
void BM_LzwReceiptBands(benchmark::State& state) {
    CodeBands(state, Receipt());
}
void BM_LzwShopReceiptBands(benchmark::State& state) {
    CodeBands(state, ShopReceipt());
}

// Whole receipt pages coded as one input each, blank rows included.
void WholePages(benchmark::State& state, const Content& content) {
    const Bytes& all = content.pageBytes;
    if (all.empty()) {
        state.SkipWithError("no content");
        return;
    }
    const std::size_t pageSize = static_cast<std::size_t>(kWidthBytes) * kLegalRows;
    auto dictionary = std::make_unique<qx470::LzwDictionary>();
    Bytes output(qx470::LzwOutputBound(pageSize));
    std::size_t compressed = 0;
    for (auto _ : state) {
        compressed = 0;
        for (std::size_t at = 0; at < all.size(); at += pageSize) {
            std::size_t length = 0;
            qx470::LzwState lzw;
            qx470::LzwCompress(all.data() + at, output.data(), output.size(), *dictionary, pageSize,
                               &length, lzw);
            compressed += length;
            benchmark::DoNotOptimize(output.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * all.size()));
    state.counters["share_of_page_pct"] = 100.0 * compressed / all.size();
}
void BM_LzwReceiptWholePages(benchmark::State& state) {
    WholePages(state, Receipt());
}

std::string TempPath(const char* name) {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/qxbench." + std::to_string(getpid()) +
           "." + name;
}

// compress -b12 -c < in > out; the size of out, or -1.
long RunCompress(const std::string& in, const std::string& out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    char program[] = "/usr/bin/compress", bits[] = "-b12", toStdout[] = "-c";
    char* argv[] = {program, bits, toStdout, nullptr};
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    struct stat info {};
    if (!WIFEXITED(status) || stat(out.c_str(), &info) != 0) return -1;
    return static_cast<long>(info.st_size);
}

void PeerCompress(benchmark::State& state, const Content& content, const char* name) {
    const std::string in = TempPath(name), out = in + ".Z";
    FILE* file = std::fopen(in.c_str(), "wb");
    if (file == nullptr) {
        state.SkipWithError("cannot write the input file");
        return;
    }
    std::fwrite(content.pageBytes.data(), 1, content.pageBytes.size(), file);
    std::fclose(file);
    long size = 0;
    for (auto _ : state) {
        size = RunCompress(in, out);
        if (size < 0) {
            state.SkipWithError("/usr/bin/compress did not run (apt-get install ncompress)");
            break;
        }
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.pageBytes.size()));
    state.counters["share_of_page_pct"] = 100.0 * size / content.pageBytes.size();
}

void BM_PeerCompressB12Photo(benchmark::State& state) {
    PeerCompress(state, Photo(), "photo");
}
void BM_PeerCompressB12Receipt(benchmark::State& state) {
    PeerCompress(state, Receipt(), "receipt");
}
void BM_PeerCompressB12ShopReceipt(benchmark::State& state) {
    PeerCompress(state, ShopReceipt(), "shop");
}

BENCHMARK(BM_LzwPhotoBands)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerCompressB12Photo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LzwReceiptBands)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzwReceiptWholePages)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerCompressB12Receipt)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LzwShopReceiptBands)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerCompressB12ShopReceipt)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
