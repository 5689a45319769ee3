// qx-print's text wrap at the paper's width with its own font: one word with no space
// to break at (10 kB and 100 kB, broken inside the word on every line), and plain
// prose of the same lengths, broken between words.
#include <benchmark/benchmark.h>

#include <string>

#include "wce/gdi.h"
#include "wrap.h"

using namespace wce;

namespace {

constexpr int kPaperDots = 576;

class TextDc {
  public:
    TextDc() {
        dc_ = CreateCompatibleDC(nullptr);
        LOGFONTW lf{};
        lf.lfHeight = 24;
        lf.lfWidth = 12;
        lf.lfCharSet = DEFAULT_CHARSET;
        std::char_traits<char16_t>::copy(lf.lfFaceName, u"Arial", 6);
        font_ = CreateFontIndirectW(&lf);
        SelectObject(dc_, font_);
    }
    ~TextDc() {
        SelectObject(dc_, GetStockObject(SYSTEM_FONT));
        DeleteObject(font_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }

  private:
    HDC dc_ = nullptr;
    HFONT font_ = nullptr;
};

std::u16string OneWord(size_t chars) {
    static const char16_t kLetters[] =
        u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::u16string word(chars, u' ');
    for (size_t i = 0; i < chars; ++i) word[i] = kLetters[(i * 7) % 62];
    return word;
}

std::u16string Prose(size_t chars) {
    static const char16_t kSentence[] =
        u"The quick brown fox jumps over the lazy dog while the receipt printer feeds paper. ";
    std::u16string text;
    while (text.size() < chars) text += kSentence;
    text.resize(chars);
    return text;
}

void Wrap(benchmark::State& state, const std::u16string& text) {
    TextDc dc;
    size_t lines = 0;
    for (auto _ : state) {
        auto wrapped = qxprint::WrapText(dc.dc(), text, kPaperDots);
        lines = wrapped.size();
        benchmark::DoNotOptimize(wrapped.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    state.counters["lines"] = double(lines);
}

void BM_WrapOneLongWord(benchmark::State& state) {
    Wrap(state, OneWord(size_t(state.range(0))));
}
void BM_WrapProse(benchmark::State& state) {
    Wrap(state, Prose(size_t(state.range(0))));
}

BENCHMARK(BM_WrapOneLongWord)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WrapProse)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
