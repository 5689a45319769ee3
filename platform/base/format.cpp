// printf-style formatting with the wide (UTF-16) conventions of the platform:
// %s is a wide string, %S a narrow one, and "l" means 32 bits as on Windows.
#include <algorithm>
#include <cstring>
#include <string>

#include "wce/base.h"
#include "wce/text.h"

namespace wce {

namespace {

struct Field {
    bool left = false, plus = false, space = false, zero = false, alt = false;
    int width = 0;
    int precision = -1;
    int size = 0;  // -1 h, 0 default, 1 l (32-bit), 2 ll / I64
};

void Pad(std::u16string& out, std::u16string_view body, const Field& s, size_t signLen = 0) {
    size_t len = body.size();
    size_t width = s.width > 0 ? size_t(s.width) : 0;
    if (len >= width) {
        out += body;
    } else if (s.left) {
        out += body;
        out.append(width - len, u' ');
    } else if (s.zero) {
        out += body.substr(0, signLen);
        out.append(width - len, u'0');
        out += body.substr(signLen);
    } else {
        out.append(width - len, u' ');
        out += body;
    }
}

void FormatInteger(std::u16string& out, const Field& s, char conv, unsigned long long v,
                   bool negative) {
    const char* digits = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    unsigned base = (conv == 'x' || conv == 'X') ? 16 : conv == 'o' ? 8 : 10;
    char16_t reversed[24];
    size_t n = 0;
    for (; v; v /= base) reversed[n++] = static_cast<char16_t>(digits[v % base]);
    std::u16string num(n, u'0');
    for (size_t i = 0; i < n; ++i) num[i] = reversed[n - 1 - i];
    if (s.precision >= 0) {
        if (num.size() < size_t(s.precision)) num.insert(0, size_t(s.precision) - num.size(), u'0');
    } else if (num.empty()) {
        num.push_back(u'0');
    }
    std::u16string prefix;
    bool isSigned = conv == 'd' || conv == 'i';
    if (negative)
        prefix.push_back(u'-');
    else if (s.plus && isSigned)
        prefix.push_back(u'+');
    else if (s.space && isSigned)
        prefix.push_back(u' ');
    if (s.alt && base == 16 && num != u"0") {
        prefix.push_back(u'0');
        prefix.push_back(conv == 'X' ? u'X' : u'x');
    }
    if (s.alt && base == 8 && num[0] != u'0') prefix.push_back(u'0');
    Field padField = s;
    if (s.precision >= 0) padField.zero = false;
    Pad(out, prefix + num, padField, prefix.size());
}

void FormatOne(std::u16string& out, const Field& s, char conv, va_list& args) {
    switch (conv) {
        case 'd':
        case 'i': {
            long long v = s.size == 2 ? va_arg(args, long long) : va_arg(args, int);
            if (s.size == -1) v = static_cast<short>(v);
            unsigned long long mag = v < 0 ? 0ull - static_cast<unsigned long long>(v) : v;
            FormatInteger(out, s, conv, mag, v < 0);
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            unsigned long long v =
                s.size == 2 ? va_arg(args, unsigned long long) : va_arg(args, unsigned int);
            if (s.size == -1) v = static_cast<unsigned short>(v);
            FormatInteger(out, s, conv, v, false);
            break;
        }
        case 'p': {
            Field p = s;
            p.alt = true;
            FormatInteger(out, p, 'x', reinterpret_cast<std::uintptr_t>(va_arg(args, void*)),
                          false);
            break;
        }
        case 'c':
        case 'C': {
            bool narrow = conv == 'C' || s.size == -1;
            int v = va_arg(args, int);
            char16_t c = narrow ? static_cast<unsigned char>(v) : static_cast<char16_t>(v);
            Pad(out, std::u16string_view(&c, 1), s);
            break;
        }
        case 's':
        case 'S': {
            bool narrow = conv == 'S' ? s.size != 1 : s.size == -1;
            std::u16string text;
            if (narrow) {
                const char* p = va_arg(args, const char*);
                if (!p) p = "(null)";
                for (; *p; ++p) text += static_cast<char16_t>(static_cast<unsigned char>(*p));
            } else {
                const char16_t* p = va_arg(args, const char16_t*);
                text = p ? p : u"(null)";
            }
            if (s.precision >= 0 && text.size() > size_t(s.precision)) text.resize(s.precision);
            Pad(out, text, s);
            break;
        }
        default:
            out += u'%';
            out += static_cast<char16_t>(conv);
    }
}

// Parses flags, width, precision and size after a '%'; returns the conversion
// character (0 at the end of the format).
char ParseField(LPCWSTR& f, Field& s, va_list& args) {
    for (;; ++f) {
        if (*f == u'-')
            s.left = true;
        else if (*f == u'+')
            s.plus = true;
        else if (*f == u' ')
            s.space = true;
        else if (*f == u'0')
            s.zero = true;
        else if (*f == u'#')
            s.alt = true;
        else
            break;
    }
    if (*f == u'*') {
        s.width = va_arg(args, int);
        if (s.width < 0) {
            s.left = true;
            s.width = -s.width;
        }
        ++f;
    }
    while (*f >= u'0' && *f <= u'9') s.width = std::min(s.width * 10 + (*f++ - u'0'), 1 << 20);
    if (*f == u'.') {
        ++f;
        s.precision = 0;
        if (*f == u'*') {
            s.precision = va_arg(args, int);
            ++f;
        }
        while (*f >= u'0' && *f <= u'9')
            s.precision = std::min(s.precision * 10 + (*f++ - u'0'), 1 << 20);
    }
    if (*f == u'h') {
        s.size = -1;
        ++f;
    } else if (*f == u'l' && f[1] == u'l') {
        s.size = 2;
        f += 2;
    } else if (*f == u'l' || *f == u'w') {
        s.size = 1;
        ++f;
    } else if (*f == u'I' && f[1] == u'6' && f[2] == u'4') {
        s.size = 2;
        f += 3;
    }
    return *f ? static_cast<char>(*f++ & 0x7F) : 0;
}

std::u16string FormatToString(LPCWSTR format, va_list args) {
    std::u16string out;
    if (!format) return out;
    va_list ap;
    va_copy(ap, args);
    for (LPCWSTR f = format; *f;) {
        if (*f != u'%') {
            out += *f++;
            continue;
        }
        ++f;
        if (*f == u'%') {
            out += u'%';
            ++f;
            continue;
        }
        Field s;
        char conv = ParseField(f, s, ap);
        if (!conv) break;
        FormatOne(out, s, conv, ap);
    }
    va_end(ap);
    return out;
}

}  // namespace

int FormatWideV(LPWSTR buffer, size_t bufferCount, LPCWSTR format, va_list args) {
    if (!buffer || bufferCount == 0) return -1;
    std::u16string text = FormatToString(format, args);
    WideCopy(buffer, bufferCount, text);
    return text.size() < bufferCount ? static_cast<int>(text.size()) : -1;
}

int FormatWide(LPWSTR buffer, size_t bufferCount, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatWideV(buffer, bufferCount, format, args);
    va_end(args);
    return n;
}

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatWideV(buffer, 1025, format, args);
    va_end(args);
    return n < 0 ? 1024 : n;
}

std::u16string FormatWideString(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    std::u16string text = FormatToString(format, args);
    va_end(args);
    return text;
}

std::u16string FormatWideStringV(LPCWSTR format, va_list args) {
    return FormatToString(format, args);
}

}  // namespace wce
