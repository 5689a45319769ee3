#include "wrap.h"

#include <algorithm>
#include <string_view>

namespace qxprint {

using namespace wce;

namespace {

int TextWidth(HDC dc, std::u16string_view s) {
    SIZE size{};
    GetTextExtentPoint32W(dc, s.data(), int(s.size()), &size);
    return size.cx;
}

// The longest start of word no wider than width, and at least one character. A text
// only grows wider as characters are added, so the break is searched for: first from
// the guess (the line before broke at about the same place), then by doubling steps
// and halving. Each probe measures about one line, never the rest of the word.
size_t FitPrefix(HDC dc, std::u16string_view word, int width, size_t guess) {
    const size_t n = word.size();
    size_t fits = 1, tooWide = n + 1;  // tooWide == n + 1: no length known to be too wide
    auto probe = [&](size_t length) {
        if (TextWidth(dc, word.substr(0, length)) <= width)
            fits = length;
        else
            tooWide = length;
    };
    if (guess > 1) probe(std::min(guess, n));
    for (size_t step = 1; tooWide == n + 1 && fits < n; step *= 2) probe(std::min(n, fits + step));
    while (tooWide - fits > 1) probe(fits + (tooWide - fits) / 2);
    return fits;
}

// Splits a paragraph into pieces of a word and the spaces after it, so a line keeps
// the spaces the text was laid out with.
std::vector<std::u16string> Pieces(const std::u16string& para) {
    std::vector<std::u16string> pieces;
    size_t i = 0;
    while (i < para.size()) {
        size_t wordEnd = para.find(u' ', i);
        if (wordEnd == para.npos) wordEnd = para.size();
        size_t spacesEnd = para.find_first_not_of(u' ', wordEnd);
        if (spacesEnd == para.npos) spacesEnd = para.size();
        pieces.push_back(para.substr(i, spacesEnd - i));
        i = spacesEnd;
    }
    return pieces;
}

void TrimRight(std::u16string& s) {
    while (!s.empty() && s.back() == u' ') s.pop_back();
}

}  // namespace

std::vector<std::u16string> WrapText(HDC dc, const std::u16string& text, int width) {
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        std::u16string para = text.substr(start, end == text.npos ? text.npos : end - start);
        if (!para.empty() && para.back() == u'\r') para.pop_back();
        for (auto& c : para)
            if (c == u'\t') c = u' ';
        std::u16string line;
        for (std::u16string piece : Pieces(para)) {
            std::u16string word = piece;
            TrimRight(word);
            if (TextWidth(dc, line + word) <= width) {
                line += piece;
                continue;
            }
            if (!line.empty()) {
                TrimRight(line);
                lines.push_back(line);
                line.clear();
            }
            // A word too long for a line of its own is broken where each line is full.
            std::u16string_view rest = word;
            for (size_t fit = 0; !rest.empty();) {
                fit = FitPrefix(dc, rest, width, fit);
                if (fit == rest.size() && (fit > 1 || TextWidth(dc, rest) <= width)) break;
                lines.emplace_back(rest.substr(0, fit));
                rest.remove_prefix(fit);
            }
            line = std::u16string(rest) + piece.substr(piece.find_last_not_of(u' ') + 1);
        }
        TrimRight(line);
        lines.push_back(line);
        if (end == text.npos) break;
        start = end + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

wce::HFONT TextFont() {
    wce::LOGFONTW lf{};
    lf.lfHeight = 24;
    lf.lfWidth = 12;
    lf.lfCharSet = wce::DEFAULT_CHARSET;
    std::char_traits<char16_t>::copy(lf.lfFaceName, u"Arial", 6);
    return wce::CreateFontIndirectW(&lf);
}

}  // namespace qxprint
