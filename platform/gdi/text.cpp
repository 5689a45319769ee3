// Fonts and text: LOGFONT to installed fonts, DrawTextW with word breaking.
#include <QFontMetrics>
#include <QPainter>

#include "gdi_internal.h"
#include "wce/text.h"

namespace wce {
namespace gdi {

namespace {

// The faces programs ask for, mapped to fonts Debian installs with the project. Gulim
// and Dotum get the one Hangul font with their widths (Hangul twice the average, Latin
// the average), so a Korean line breaks where it does on the handheld.
QString FamilyFor(std::u16string_view face) {
    struct Alias {
        const char16_t* face;
        const char* family;
    };
    static const Alias kAliases[] = {
        {u"Arial", "Liberation Sans"},          {u"System", "Liberation Sans"},
        {u"Tahoma", "Liberation Sans"},         {u"Helvetica", "Liberation Sans"},
        {u"Courier New", "Liberation Mono"},    {u"Times New Roman", "Liberation Serif"},
        {u"\uAD74\uB9BC", "NanumGothicCoding"}, {u"Gulim", "NanumGothicCoding"},
        {u"\uB3CB\uC6C0", "NanumGothicCoding"}, {u"Dotum", "NanumGothicCoding"},
    };
    for (const Alias& a : kAliases)
        if (WideEqualsNoCase(face, a.face)) return QString::fromUtf8(a.family);
    if (face.empty()) return QStringLiteral("Liberation Sans");
    return QString::fromStdU16String(std::u16string(face));
}

QFont MakeFont(const LOGFONTW& lf) {
    EnsureGuiApplication();
    QFont font(FamilyFor(lf.lfFaceName));
    font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::PreferMatch));
    font.setHintingPreference(QFont::PreferFullHinting);
    if (lf.lfWeight > 0) font.setWeight(QFont::Weight(std::clamp<int>(lf.lfWeight, 100, 900)));
    font.setItalic(lf.lfItalic != 0);
    font.setUnderline(lf.lfUnderline != 0);
    font.setStrikeOut(lf.lfStrikeOut != 0);
    // A positive height is the character cell (ascent + descent), a negative one the em.
    int height = lf.lfHeight == 0 ? 16 : std::min<int>(std::abs(lf.lfHeight), 2000);
    font.setPixelSize(height);
    if (lf.lfHeight > 0) {
        int cell = QFontMetrics(font).ascent() + QFontMetrics(font).descent();
        if (cell > 0 && cell != height) font.setPixelSize(std::max(1, height * height / cell));
    }
    if (lf.lfWidth > 0) {
        int average = QFontMetrics(font).averageCharWidth();
        if (average > 0) font.setStretch(std::clamp<int>(100 * lf.lfWidth / average, 1, 4000));
    }
    return font;
}

std::u16string StripPrefixes(std::u16string_view text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size())
            ++i;
        else if (text[i] == u'&')
            continue;
        out += text[i];
    }
    return out;
}

int Width(const QFontMetrics& fm, std::u16string_view s) {
    return fm.horizontalAdvance(QString::fromStdU16String(std::u16string(s)));
}

// Breaks one paragraph into lines no wider than width: between words where it can,
// inside a word that alone is wider than the line. The paragraph's leading blanks stay
// on its first line, as Windows keeps them; a wrapped line starts at its next word.
void BreakParagraph(const QFontMetrics& fm, std::u16string_view para, int width,
                    std::vector<std::u16string>& lines) {
    size_t i = std::min(para.find_first_not_of(u' '), para.size());
    std::u16string line(para.substr(0, i));
    bool hasWord = false;  // the line holds a word, so the next one needs a blank before it
    while (i < para.size()) {
        size_t wordEnd = para.find(u' ', i);
        if (wordEnd == para.npos) wordEnd = para.size();
        std::u16string_view word = para.substr(i, wordEnd - i);
        if (line.empty() && word.empty()) {  // blanks where a wrapped line would start
            i = wordEnd + 1;
            continue;
        }
        std::u16string candidate =
            hasWord ? line + u' ' + std::u16string(word) : line + std::u16string(word);
        if (Width(fm, candidate) <= width) {
            line = std::move(candidate);
            hasWord = true;
        } else if (hasWord) {
            lines.push_back(std::move(line));
            line.clear();
            hasWord = false;
            continue;  // the word starts the next line
        } else if (!line.empty()) {
            line.clear();  // an indent with no room for its first word gives way to the word
            continue;
        } else {
            size_t fit = 1;
            while (fit < word.size() && Width(fm, word.substr(0, fit + 1)) <= width) ++fit;
            lines.emplace_back(word.substr(0, fit));
            i += fit;
            continue;
        }
        i = wordEnd + 1;
    }
    if (!line.empty() || lines.empty()) lines.push_back(std::move(line));
}

std::vector<std::u16string> LayoutLines(const QFontMetrics& fm, std::u16string_view text, int width,
                                        UINT format) {
    std::vector<std::u16string> lines;
    if (format & DT_SINGLELINE) {
        std::u16string one;
        for (char16_t c : text)
            if (c != u'\r' && c != u'\n') one += c;
        lines.push_back(std::move(one));
        return lines;
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(u"\r\n", start);
        std::u16string_view para = text.substr(start, end == text.npos ? text.npos : end - start);
        if (format & DT_WORDBREAK)
            BreakParagraph(fm, para, std::max(1, width), lines);
        else
            lines.emplace_back(para);
        if (end == text.npos) break;
        start =
            end + ((text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n') ? 2 : 1);
        if (start == text.size()) break;
    }
    return lines;
}

QColor ToColour(COLORREF c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

}  // namespace

const QFont& RealizeFont(HFONT font) {
    if (!font->realized) font->realized = std::make_unique<QFont>(MakeFont(font->font));
    return *font->realized;
}

}  // namespace gdi

int DrawTextW(HDC dc, LPCWSTR text, int count, RECT* rect, UINT format) {
    if (!gdi::IsLiveDc(dc) || !text || !rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string_view raw(text, count < 0 ? WideLength(text) : size_t(count));
    std::u16string body = (format & DT_NOPREFIX) ? std::u16string(raw) : gdi::StripPrefixes(raw);
    if (format & DT_EXPANDTABS)
        for (size_t p; (p = body.find(u'\t')) != body.npos;) body.replace(p, 1, u"        ");
    const QFont& font = gdi::RealizeFont(dc->font);
    QFontMetrics fm(font);
    int lineHeight = fm.ascent() + fm.descent();
    auto lines = gdi::LayoutLines(fm, body, rect->right - rect->left, format);
    int height = lineHeight * int(lines.size());
    gdi::Record("DrawTextW", std::u16string(raw), *rect, {long(format)});
    if (format & DT_CALCRECT) {
        int widest = 0;
        for (const auto& l : lines) widest = std::max(widest, gdi::Width(fm, l));
        // One line is measured to its end; several keep the rectangle's width.
        if (lines.size() == 1)
            rect->right = rect->left + widest;
        else
            rect->right = std::max<LONG>(rect->right, rect->left + widest);
        rect->bottom = rect->top + height;
        return height;
    }
    QImage* target = gdi::Target(dc);
    if (!target) return height;
    QPainter painter(target);
    painter.setFont(font);
    if (!(format & DT_NOCLIP))
        painter.setClipRect(
            QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top));
    int y = rect->top;
    if (format & DT_SINGLELINE) {
        if (format & DT_BOTTOM)
            y = rect->bottom - lineHeight;
        else if (format & DT_VCENTER)
            y = rect->top + (rect->bottom - rect->top - lineHeight) / 2;
    }
    for (const auto& line : lines) {
        int w = gdi::Width(fm, line);
        int x = rect->left;
        if (format & DT_CENTER)
            x = rect->left + (rect->right - rect->left - w) / 2;
        else if (format & DT_RIGHT)
            x = rect->right - w;
        if (dc->bkMode == OPAQUE)
            painter.fillRect(QRect(x, y, w, lineHeight), gdi::ToColour(dc->bkColour));
        painter.setPen(gdi::ToColour(dc->textColour));
        painter.drawText(x, y + fm.ascent(), QString::fromStdU16String(line));
        y += lineHeight;
    }
    return height;
}

BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int count) {
    if (!gdi::IsLiveDc(dc) || !text) return FALSE;
    std::u16string line(text, count < 0 ? WideLength(text) : size_t(count));
    gdi::Record("TextOutW", line, RECT{x, y, x, y});
    QImage* target = gdi::Target(dc);
    if (!target) return TRUE;
    const QFont& font = gdi::RealizeFont(dc->font);
    QFontMetrics fm(font);
    QPainter painter(target);
    painter.setFont(font);
    if (dc->bkMode == OPAQUE)
        painter.fillRect(QRect(x, y, gdi::Width(fm, line), fm.ascent() + fm.descent()),
                         gdi::ToColour(dc->bkColour));
    painter.setPen(gdi::ToColour(dc->textColour));
    painter.drawText(x, y + fm.ascent(), QString::fromStdU16String(line));
    return TRUE;
}

BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, SIZE* size) {
    if (!gdi::IsLiveDc(dc) || !text || !size || count < 0) return FALSE;
    QFontMetrics fm(gdi::RealizeFont(dc->font));
    size->cx = gdi::Width(fm, std::u16string_view(text, size_t(count)));
    size->cy = fm.ascent() + fm.descent();
    return TRUE;
}

}  // namespace wce
