// Message-box routing and the string resources prompts are built from.
#include <string>

#include <gtest/gtest.h>

#include "wce/resources.h"
#include "wce/ui.h"

namespace wce {
namespace {

TEST(MessageBox, InstalledHandlerGetsTheBoxAndTheDefaultCaption) {
    std::u16string seenText, seenCaption;
    UINT seenType = 0;
    MessageBoxHandler previous =
        SetMessageBoxHandler([&](HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
            seenText = text;
            seenCaption = caption;
            seenType = type;
            return IDRETRY;
        });
    EXPECT_FALSE(previous);  // the headless default was in place
    EXPECT_EQ(MessageBoxW(nullptr, u"paper", nullptr, MB_RETRYCANCEL | MB_ICONERROR), IDRETRY);
    EXPECT_EQ(seenText, u"paper");
    EXPECT_EQ(seenCaption, u"Error");
    EXPECT_EQ(seenType, MB_RETRYCANCEL | MB_ICONERROR);
    EXPECT_EQ(MessageBoxW(nullptr, nullptr, u"Title", MB_OK), IDRETRY);
    EXPECT_EQ(seenText, u"");
    EXPECT_EQ(seenCaption, u"Title");

    MessageBoxHandler mine = SetMessageBoxHandler(nullptr);
    EXPECT_TRUE(mine);
    EXPECT_EQ(MessageBoxW(nullptr, u"again", nullptr, MB_RETRYCANCEL), IDCANCEL);
}

TEST(MessageBox, HeadlessDefaultTakesTheCautiousAnswer) {
    EXPECT_EQ(MessageBoxW(nullptr, u"Retry?", nullptr, MB_RETRYCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, u"Note", u"Info", MB_OK | MB_ICONINFORMATION), IDOK);
    EXPECT_EQ(MessageBoxW(nullptr, u"Sure?", nullptr, MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxW(nullptr, u"Sure?", nullptr, MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, u"Stuck", nullptr, MB_ABORTRETRYIGNORE), IDABORT);
}

TEST(MessageBox, ScriptAnswersInOrderThenFallsBackAndRestoresThePrevious) {
    int outerCalls = 0;
    SetMessageBoxHandler([&](HWND, LPCWSTR, LPCWSTR, UINT) {
        ++outerCalls;
        return IDOK;
    });
    {
        ScriptedMessageBoxes boxes({IDRETRY, IDRETRY});
        int hooked = 0;
        boxes.OnShow([&](const ScriptedMessageBoxes::Shown& box) {
            ++hooked;
            EXPECT_EQ(box.caption, u"Error");
        });
        EXPECT_EQ(MessageBoxW(nullptr, u"one", nullptr, MB_RETRYCANCEL), IDRETRY);
        EXPECT_EQ(MessageBoxW(nullptr, u"two", nullptr, MB_RETRYCANCEL), IDRETRY);
        EXPECT_EQ(MessageBoxW(nullptr, u"three", nullptr, MB_RETRYCANCEL), IDCANCEL);
        boxes.Add(IDYES);
        EXPECT_EQ(MessageBoxW(nullptr, u"four", nullptr, MB_YESNO), IDYES);
        auto shown = boxes.shown();
        ASSERT_EQ(shown.size(), 4u);
        EXPECT_EQ(shown[2].text, u"three");
        EXPECT_EQ(shown[2].answer, IDCANCEL);
        EXPECT_EQ(hooked, 4);
    }
    EXPECT_EQ(MessageBoxW(nullptr, u"after", nullptr, MB_RETRYCANCEL), IDOK);
    EXPECT_EQ(outerCalls, 1);
    SetMessageBoxHandler(nullptr);
}

TEST(StringResources, LoadByModuleCopyingOrPointing) {
    static const char dummy = 0;
    HINSTANCE module = reinterpret_cast<HINSTANCE>(const_cast<char*>(&dummy));
    const StringResource table[] = {{1, u"First %s"}, {7, u"Seventh"}};
    RegisterStringTable(module, table, 2);

    LPCWSTR pointer = nullptr;
    EXPECT_EQ(LoadStringW(module, 1, reinterpret_cast<LPWSTR>(&pointer), 0), 8);
    ASSERT_NE(pointer, nullptr);
    EXPECT_EQ(std::u16string(pointer), u"First %s");

    WCHAR buffer[5];
    EXPECT_EQ(LoadStringW(module, 7, buffer, 5), 4);
    EXPECT_EQ(std::u16string(buffer), u"Seve");

    EXPECT_EQ(LoadStringW(module, 2, buffer, 5), 0);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(LoadStringW(nullptr, 1, buffer, 5), 0);  // the program has no table
    EXPECT_EQ(LoadStringW(module, 1, nullptr, 5), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    UnregisterStringTable(module);
    EXPECT_EQ(LoadStringW(module, 1, buffer, 5), 0);
}

}  // namespace
}  // namespace wce
