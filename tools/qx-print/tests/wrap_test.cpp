// qx-print's text wrap with its real font, measured by the graphics engine.
#include <gtest/gtest.h>

#include <string>

#include "wce/gdi.h"
#include "wrap.h"

using namespace wce;

namespace {

class WrapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dc_ = CreateCompatibleDC(nullptr);
        LOGFONTW lf{};
        lf.lfHeight = 24;
        lf.lfWidth = 12;
        lf.lfCharSet = DEFAULT_CHARSET;
        std::char_traits<char16_t>::copy(lf.lfFaceName, u"Arial", 6);
        font_ = CreateFontIndirectW(&lf);
        SelectObject(dc_, font_);
    }
    void TearDown() override {
        SelectObject(dc_, GetStockObject(SYSTEM_FONT));
        DeleteObject(font_);
        DeleteDC(dc_);
    }
    int Width(const std::u16string& s) {
        SIZE size{};
        GetTextExtentPoint32W(dc_, s.c_str(), int(s.size()), &size);
        return size.cx;
    }
    HDC dc_ = nullptr;
    HFONT font_ = nullptr;
};

TEST_F(WrapTest, AWordTooLongForALineIsBrokenWhereEachLineIsFull) {
    // Runs of narrow and wide letters, so no line breaks where the one before did.
    std::u16string word;
    for (int run = 0; run < 40; ++run)
        word += std::u16string(size_t(5 + run * 7 % 60), run % 2 ? u'W' : u'i');
    for (int width : {576, 100}) {
        auto lines = qxprint::WrapText(dc_, u"Total: " + word + u" end.", width);
        ASSERT_GE(lines.size(), 3u) << width;
        EXPECT_EQ(lines.front(), u"Total:") << width;
        std::u16string joined;
        for (size_t i = 1; i < lines.size(); ++i) {
            const std::u16string& line = lines[i];
            ASSERT_FALSE(line.empty()) << width << " line " << i;
            EXPECT_LE(Width(line), width) << width << " line " << i;
            joined += line;
            // A line inside the word ends only where one more letter would not fit.
            if (joined.size() < word.size()) {
                EXPECT_GT(Width(line + word[joined.size()]), width) << width << " line " << i;
            }
        }
        const std::u16string& last = lines.back();
        const bool endOnItsOwn = last == u"end.";
        EXPECT_EQ(joined, word + (endOnItsOwn ? u"end." : u" end.")) << width;
    }
}

}  // namespace
