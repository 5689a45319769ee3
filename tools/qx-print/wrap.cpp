#include "wrap.h"

#include <algorithm>

namespace qxprint {

using namespace wce;

namespace {

int TextWidth(HDC dc, const std::u16string& s) {
    SIZE size{};
    GetTextExtentPoint32W(dc, s.c_str(), int(s.size()), &size);
    return size.cx;
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
            while (!word.empty() && TextWidth(dc, word) > width) {
                size_t fit = 1;
                while (fit < word.size() && TextWidth(dc, word.substr(0, fit + 1)) <= width) ++fit;
                lines.push_back(word.substr(0, fit));
                word.erase(0, fit);
            }
            line = word + piece.substr(piece.find_last_not_of(u' ') + 1);
        }
        TrimRight(line);
        lines.push_back(line);
        if (end == text.npos) break;
        start = end + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

}  // namespace qxprint
