#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "wce/base.h"
#include "wce/text.h"

using namespace wce;

TEST(Text, Utf8RoundTripAndMalformedInput) {
    std::u16string wide = u"A\u00E9\uAD74\U0001F600";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(wide)), wide);
    EXPECT_EQ(Utf8ToWide("\xC3"), u"\uFFFD");            // truncated
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
    const char16_t lone[] = {u'x', 0xDC00, 0};
    EXPECT_EQ(WideToUtf8(lone), "x\xEF\xBF\xBD");
    EXPECT_FALSE(IsValidWide(lone));
}

TEST(Format, WideConventions) {
    EXPECT_EQ(FormatWideString(u"%s|%S|%c|%d|%5d|%-4d|%04x|%X|%u|%%", u"wide", "narrow", u'Z', -42,
                               7, 3, 0xAB, 0xBEEFu, 4000000000u),
              u"wide|narrow|Z|-42|    7|3   |00ab|BEEF|4000000000|%");
    EXPECT_EQ(
        FormatWideString(u"%ld %lu %hs %ls %.2s %I64d", 5, 6u, "hs", u"ls", u"abc", 1ll << 40),
        u"5 6 hs ls ab 1099511627776");
    EXPECT_EQ(FormatWideString(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)");
    char16_t buf[8];
    EXPECT_EQ(FormatWide(buf, 8, u"%d", 1234567), 7);
    EXPECT_EQ(FormatWide(buf, 8, u"%d", 12345678), -1);  // cut, still terminated
    EXPECT_EQ(std::u16string(buf), u"1234567");
}

TEST(CodePages, AcpFollowsTheLocale) {
    unsetenv("LC_ALL");
    unsetenv("LC_CTYPE");
    setenv("LANG", "ko_KR.UTF-8", 1);
    EXPECT_EQ(GetACP(), 949u);
    setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(GetACP(), 1252u);
    setenv("LC_ALL", "ko_KR.EUC-KR", 1);
    EXPECT_EQ(GetACP(), 949u);
    unsetenv("LC_ALL");
}

TEST(CodePages, MultiByteToWideChar) {
    char16_t out[16];
    // Code page 1252: the euro sign, and an unassigned byte mapping to its C1 control.
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "\x80\x81\xE9", 3, out, 16), 3);
    EXPECT_EQ(std::u16string(out, 3), u"\u20AC\u0081\u00E9");
    // Code page 949: the two syllables of the Korean font name, with the terminator.
    EXPECT_EQ(MultiByteToWideChar(949, 0, "\xB1\xBC\xB8\xB2", -1, nullptr, 0), 3);
    EXPECT_EQ(MultiByteToWideChar(949, 0, "\xB1\xBC\xB8\xB2", -1, out, 16), 3);
    EXPECT_EQ(std::u16string(out), u"\uAD74\uB9BC");
    EXPECT_EQ(MultiByteToWideChar(949, 0, "\xB1\xBC", 2, out, 0), 1);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(949, 0, "\xB1\xBC\xB8\xB2", 4, out, 1), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(949, MB_ERR_INVALID_CHARS, "\xB1", 1, out, 16), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(MultiByteToWideChar(437, 0, "x", 1, out, 16), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Process, LastErrorIsPerThreadAndRandIsSeededAndInRange) {
    SetLastError(1796);
    EXPECT_EQ(GetLastError(), 1796u);
    wce::srand(7);
    int first[4];
    for (int& v : first) v = wce::rand();
    wce::srand(7);
    for (int v : first) EXPECT_EQ(wce::rand(), v);
    int lo = kRandMax, hi = 0;
    for (int i = 0; i < 100000; ++i) {
        int v = wce::rand();
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, kRandMax);
}

TEST(Modules, LoadLibraryReportsMissingModulesAndSymbols) {
    EXPECT_EQ(LoadLibraryW(u"NoSuchDriver.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    HMODULE libc = LoadLibraryW(u"libc.so.6");
    ASSERT_NE(libc, nullptr);
    EXPECT_NE(GetProcAddress(libc, "strlen"), nullptr);
    EXPECT_EQ(GetProcAddress(libc, "NoSuchSymbol"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(FreeLibrary(libc), TRUE);
}
