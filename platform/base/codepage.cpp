// ANSI code pages: 1252 by table, 949 through iconv, UTF-8 directly.
#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "wce/base.h"
#include "wce/text.h"

namespace wce {

namespace {

// 0x80-0x9F of code page 1252; the five unassigned bytes map to the C1 controls, as
// Windows maps them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsKoreanLocale() {
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) return std::strncmp(v, "ko", 2) == 0;
    }
    return false;
}

// Converts with iconv, one replacement (or failure) per undecodable byte.
bool IconvDecode(const char* from, std::string_view in, bool strict, std::u16string& out) {
    iconv_t cd = iconv_open("UTF-16LE", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string buf(in.size() * 4 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    bool ok = true;
    while (srcLeft > 0) {
        char* dst = buf.data();
        size_t dstLeft = buf.size();
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        for (char* p = buf.data(); p + 1 < dst; p += 2)
            out += static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                         (static_cast<unsigned char>(p[1]) << 8));
        if (r == static_cast<size_t>(-1) && (errno == EILSEQ || errno == EINVAL)) {
            if (strict) {
                ok = false;
                break;
            }
            out += u'\uFFFD';
            ++src;
            --srcLeft;
        } else if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            ok = false;
            break;
        }
    }
    iconv_close(cd);
    return ok;
}

bool IconvEncode(const char* to, std::u16string_view in, std::string& out, bool& usedDefault) {
    iconv_t cd = iconv_open(to, "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    for (char16_t c : in) {
        char src[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        char dst[8];
        char* s = src;
        char* d = dst;
        size_t sl = 2, dl = sizeof dst;
        if (iconv(cd, &s, &sl, &d, &dl) == static_cast<size_t>(-1)) {
            out += '?';
            usedDefault = true;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else {
            out.append(dst, d);
        }
    }
    iconv_close(cd);
    return true;
}

bool Decode(UINT codePage, std::string_view in, bool strict, std::u16string& out) {
    if (codePage == CP_ACP) codePage = GetACP();
    switch (codePage) {
        case 1252:
            for (unsigned char b : in)
                out += (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
            return true;
        case 949:
            return IconvDecode("CP949", in, strict, out);
        case CP_UTF8: {
            out = Utf8ToWide(in);
            if (strict && WideToUtf8(out) != in) return false;
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

UINT GetACP() {
    return IsKoreanLocale() ? 949 : 1252;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                        LPWSTR wide, int wideCount) {
    if (!multiByte || multiByteCount == 0 || wideCount < 0 || (wideCount > 0 && !wide)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t len = multiByteCount < 0 ? std::strlen(multiByte) + 1 : size_t(multiByteCount);
    std::u16string out;
    UINT cp = codePage == CP_ACP ? GetACP() : codePage;
    if (cp != 1252 && cp != 949 && cp != CP_UTF8) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!Decode(cp, std::string_view(multiByte, len), (flags & MB_ERR_INVALID_CHARS) != 0, out)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (wideCount == 0) return static_cast<int>(out.size());
    if (out.size() > size_t(wideCount)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(wide, out.data(), out.size() * sizeof(char16_t));
    return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT codePage, DWORD /*flags*/, LPCWSTR wide, int wideCount,
                        LPSTR multiByte, int multiByteCount, LPCSTR /*defaultChar*/,
                        BOOL* usedDefaultChar) {
    if (!wide || wideCount == 0 || multiByteCount < 0 || (multiByteCount > 0 && !multiByte)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t len = wideCount < 0 ? WideLength(wide) + 1 : size_t(wideCount);
    std::u16string_view in(wide, len);
    UINT cp = codePage == CP_ACP ? GetACP() : codePage;
    std::string out;
    bool usedDefault = false;
    if (cp == CP_UTF8) {
        out = WideToUtf8(in);
    } else if (cp == 1252) {
        for (char16_t c : in) {
            int b = -1;
            if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) b = c;
            for (int k = 0; k < 32 && b < 0; ++k)
                if (kCp1252High[k] == c) b = 0x80 + k;
            if (b < 0) usedDefault = true;
            out += static_cast<char>(b < 0 ? '?' : b);
        }
    } else if (cp != 949 || !IconvEncode("CP949", in, out, usedDefault)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (usedDefaultChar) *usedDefaultChar = usedDefault ? TRUE : FALSE;
    if (multiByteCount == 0) return static_cast<int>(out.size());
    if (out.size() > size_t(multiByteCount)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(multiByte, out.data(), out.size());
    return static_cast<int>(out.size());
}

}  // namespace wce
