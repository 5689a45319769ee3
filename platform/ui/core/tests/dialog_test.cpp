// The framework's semantics with a small dialog of the tests' own, on the headless backend.
#include <gtest/gtest.h>

#include <QBuffer>

#include "../../../gdi/gdi_internal.h"
#include "../window.h"
#include "wce/commdlg.h"
#include "wce/dialog.h"
#include "wce/dialogapp.h"

namespace wce::ui {
namespace {

enum : int {
    kName = 1001,
    kCount = 1002,
    kSorted = 1003,
    kPlain = 1004,
    kKind = 1005,
    kOption = 1006,
    kAdd = 1007,
    kMore = 1008,
    kDrawn = 1009,
    kLabel = 1010,
    kGroup = 1011,
};

const DialogTemplate kTemplate{
    200,
    140,
    120,
    u"Test Dialog",
    WS_POPUP | WS_CAPTION | DS_MODALFRAME,
    WS_EX_CAPTIONOKBTN,
    u"System",
    8,
    {
        rc::GroupBox(kGroup, u"Group", 2, 2, 136, 40),
        rc::EditText(kName, 6, 12, 60, 12, ES_AUTOHSCROLL),
        rc::EditText(kCount, 70, 12, 30, 12, ES_AUTOHSCROLL),
        rc::AutoCheckBox(kOption, u"Option", 6, 28, 60, 10),
        rc::ListBox(kSorted, 6, 46, 60, 30, LBS_SORT | LBS_NOTIFY | WS_BORDER | WS_VSCROLL),
        rc::ListBox(kPlain, 70, 46, 60, 30, LBS_NOTIFY | WS_BORDER),
        rc::ComboBox(kKind, 6, 80, 60, 50, CBS_DROPDOWNLIST | WS_VSCROLL),
        rc::RText(kLabel, u"Label", 70, 80, 60, 8),
        rc::PushButton(kAdd, u"Add", 6, 96, 30, 14),
        rc::PushButton(kMore, u"More", 40, 96, 30, 14),
        rc::PushButton(kDrawn, u"Drawn", 74, 96, 30, 14, BS_OWNERDRAW),
        rc::DefPushButton(IDOK, u"OK", 6, 112, 40, 14),
        rc::PushButton(IDCANCEL, u"Cancel", 50, 112, 40, 14),
    }};

class TestDialog : public Dialog {
  public:
    TestDialog() : Dialog(kTemplate) {
        static const MessageEntry<TestDialog> table[] = {
            {kAdd, BN_CLICKED, &TestDialog::OnAdd},
            {kKind, CBN_SELCHANGE, &TestDialog::OnKindChange},
            {kSorted, LBN_SELCHANGE, &TestDialog::OnSortedChange},
            {kDrawn, BN_CLICKED, &TestDialog::OnDrawn},
            {kDrawn, BN_DOUBLECLICKED, &TestDialog::OnDrawnDouble},
        };
        SetMessageTable(table);
    }

    std::u16string name = u"first";
    int count = 3;
    int option = 1;
    int kind = 1;
    void OnAddDoes(std::function<void()> f) { onAdd_ = std::move(f); }
    int adds = 0, kindChanges = 0, sortedChanges = 0, drawnClicks = 0, drawnDoubles = 0;
    ComboBox kinds;
    ListBox sorted;

  protected:
    BOOL OnInitDialog() override {
        Dialog::OnInitDialog();
        return TRUE;
    }
    void DoDataExchange(DataExchange& dx) override {
        dx.Control(kKind, kinds);
        dx.Control(kSorted, sorted);
        if (!dx.Saving() && kinds.GetCount() == 0) {
            for (const char16_t* k : {u"Alpha", u"Beta", u"Gamma"}) kinds.AddString(k);
        }
        dx.Text(kName, name);
        dx.Text(kCount, count);
        dx.Check(kOption, option);
        dx.ComboIndex(kKind, kind);
    }
    void OnAdd() {
        ++adds;
        if (onAdd_) onAdd_();
    }
    std::function<void()> onAdd_;
    void OnKindChange() { ++kindChanges; }
    void OnSortedChange() { ++sortedChanges; }
    void OnDrawn() { ++drawnClicks; }
    void OnDrawnDouble() { ++drawnDoubles; }
};

HWND Item(Dialog& d, int id) {
    return GetDlgItem(d.Handle(), id);
}
DWORD GetWindowLongStyle(HWND w) {
    return w->style;
}
QImage PaintOwnerDrawnForTest(HWND w) {
    return PaintOwnerDrawn(w);
}

TEST(Dialog, ExchangesDataBothWaysAndEndsWithTheModalResult) {
    TestDialog dialog;
    SetModalHook([&](HWND front) {
        EXPECT_EQ(front, dialog.Handle());
        WCHAR text[32];
        GetDlgItemTextW(front, kName, text, 32);
        EXPECT_EQ(std::u16string(text), u"first");
        EXPECT_EQ(GetDlgItemInt(front, kCount, nullptr, TRUE), 3u);
        EXPECT_EQ(IsDlgButtonChecked(front, kOption), 1u);
        EXPECT_EQ(dialog.kinds.GetCurSel(), 1);
        EXPECT_EQ(dialog.kindChanges, 0);  // setting the selection is no user's choice
        EXPECT_EQ(user::Type(Item(dialog, kName), u"second"), "");
        EXPECT_EQ(user::Type(Item(dialog, kCount), u"-12"), "");
        EXPECT_EQ(user::Click(Item(dialog, kOption)), "");
        EXPECT_EQ(user::Select(Item(dialog, kKind), 2), "");
        EXPECT_EQ(user::Click(Item(dialog, IDOK)), "");
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    SetModalHook(nullptr);
    EXPECT_EQ(dialog.name, u"second");
    EXPECT_EQ(dialog.count, -12);
    EXPECT_EQ(dialog.option, 0);
    EXPECT_EQ(dialog.kind, 2);
    EXPECT_EQ(dialog.kindChanges, 1);
    EXPECT_FALSE(dialog.kinds);  // the binding ends with the window
}

// A modeless dialog, for poking at the windows directly.
struct Open {
    TestDialog dialog;
    Open() { EXPECT_TRUE(dialog.Create()); }
    HWND operator()(int id) { return GetDlgItem(dialog.Handle(), id); }
};

TEST(Dialog, TakingANumberThatIsNoneFailsAndFocusesTheField) {
    Open d;
    HWND count = d(kCount);
    EXPECT_EQ(user::Type(count, u"2x"), "");
    EXPECT_EQ(user::Focus(d(kName)), "");
    EXPECT_FALSE(d.dialog.UpdateData(TRUE));
    EXPECT_EQ(d.dialog.count, 3);
    EXPECT_EQ(GetFocus(), count);
    BOOL ok = TRUE;
    SetWindowTextW(count, u"99999999999");
    GetDlgItemInt(d.dialog.Handle(), kCount, &ok, TRUE);
    EXPECT_FALSE(ok);
    SetWindowTextW(count, u" -2147483648 ");
    EXPECT_EQ(int(GetDlgItemInt(d.dialog.Handle(), kCount, &ok, TRUE)), -2147483647 - 1);
    EXPECT_TRUE(ok);
}

TEST(Dialog, MessageTableGetsNotificationsAndUnlistedOkCancelEndTheDialog) {
    Open d;
    EXPECT_EQ(user::Click(d(kAdd)), "");
    EXPECT_EQ(user::Click(d(kMore)), "");  // not in the table: nothing happens
    EXPECT_EQ(d.dialog.adds, 1);
    EXPECT_FALSE(d.dialog.Ended());
    EXPECT_EQ(user::Close(d.dialog.Handle()), "");
    EXPECT_TRUE(d.dialog.Ended());
    TestDialog other;
    ASSERT_TRUE(other.Create());
    EXPECT_EQ(user::CaptionOk(other.Handle()), "");
    EXPECT_TRUE(other.Ended());
}

TEST(ListBox, SortedInsertionIgnoresCaseAndKeepsTheSelectedEntry) {
    Open d;
    ListBox& list = d.dialog.sorted;
    EXPECT_EQ(list.AddString(u"delta"), 0);
    EXPECT_EQ(list.AddString(u"Bravo"), 0);
    EXPECT_EQ(list.AddString(u"charlie"), 1);
    EXPECT_EQ(list.GetCurSel(), -1);
    EXPECT_EQ(list.SetCurSel(1), 1);
    EXPECT_EQ(list.AddString(u"alpha"), 0);  // before the selection: it moves down
    EXPECT_EQ(list.GetCurSel(), 2);
    EXPECT_EQ(list.GetText(2), u"charlie");
    EXPECT_EQ(list.AddString(u"Charlie"), 3);  // equal texts go after
    EXPECT_EQ(list.GetCount(), 5);
    EXPECT_EQ(d.dialog.sortedChanges, 0);  // the program's selection notifies nobody
    EXPECT_EQ(user::Select(d(kSorted), 4), "");
    EXPECT_EQ(d.dialog.sortedChanges, 1);
    EXPECT_EQ(list.DeleteString(4), 4);
    EXPECT_EQ(list.GetCurSel(), -1);  // the selected entry went: none is selected
    EXPECT_EQ(list.DeleteString(7), LB_ERR);
    EXPECT_EQ(list.SetCurSel(9), LB_ERR);
    WCHAR text[16];
    EXPECT_EQ(SendMessageW(d(kSorted), LB_GETTEXT, 9, reinterpret_cast<LPARAM>(text)), LB_ERR);
    EXPECT_EQ(user::Select(d(kSorted), 9), "control 1003 has no item 9 (it has 4)");

    HWND plain = d(kPlain);
    for (const char16_t* t : {u"COM3:", u"COM1:", u"COM2:"})
        SendMessageW(plain, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
    SendMessageW(plain, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::u16string(text), u"COM3:");  // unsorted: in the order added
}

TEST(ComboBox, OnlyTheUsersChoiceNotifiesAndTheEditPartForgetsTheSelection) {
    Open d;
    ComboBox& kinds = d.dialog.kinds;
    EXPECT_EQ(kinds.GetCurSel(), 1);
    kinds.SetCurSel(0);
    EXPECT_EQ(d.dialog.kindChanges, 0);
    EXPECT_EQ(d.dialog.kinds.GetWindowText(), u"Alpha");
    EXPECT_EQ(user::Select(d(kKind), 2), "");
    EXPECT_EQ(d.dialog.kindChanges, 1);
    EXPECT_EQ(user::Type(d(kKind), u"x"), "control 1005 takes no typing");  // a drop-down list
    EXPECT_EQ(SendMessageW(d(kKind), CB_SETCURSEL, WPARAM(-1), 0), CB_ERR);
    EXPECT_EQ(kinds.GetWindowText(), u"");

    // A combo box with an edit field: typing leaves no entry selected.
    const DialogTemplate editable{
        201,       80,       40,
        u"E",      WS_POPUP, 0,
        u"System", 8,        {rc::ComboBox(10, 2, 2, 60, 40, CBS_DROPDOWN)}};
    Dialog e(editable);
    ASSERT_TRUE(e.Create());
    HWND combo = GetDlgItem(e.Handle(), 10);
    EXPECT_EQ(SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"80mm")), 0);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);  // no selection until one is set
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    EXPECT_EQ(user::Type(combo, u"custom"), "");
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    WCHAR text[16];
    GetWindowTextW(combo, text, 16);
    EXPECT_EQ(std::u16string(text), u"custom");
}

TEST(Focus, ADisabledControlHandsTheFocusOnAndTakesNoClicks) {
    Open d;
    EXPECT_EQ(GetFocus(), d(kName));  // the first tab stop
    EnableWindow(d(kName), FALSE);
    EXPECT_EQ(GetFocus(), d(kCount));
    EnableWindow(d(kOption), FALSE);  // had no focus: the focus stays
    EXPECT_EQ(GetFocus(), d(kCount));
    EXPECT_EQ(user::Click(d(kOption)), "control 1006 is disabled");
    EXPECT_EQ(SetFocus(d(kOption)), nullptr);
    EXPECT_EQ(GetNextDlgTabItem(d.dialog.Handle(), d(kCount), FALSE), d(kSorted));
    EXPECT_EQ(GetNextDlgTabItem(d.dialog.Handle(), d(kCount), TRUE),
              d(IDCANCEL));                           // wraps, skips the disabled
    EXPECT_EQ(EnableWindow(d(kOption), TRUE), TRUE);  // it was disabled
    EXPECT_EQ(user::Key(d.dialog.Handle(), VK_TAB), "");
    EXPECT_EQ(GetFocus(), d(kOption));
}

TEST(Focus, TheDefaultButtonMovesWithTheFocus) {
    Open d;
    auto type = [&](int id) { return GetWindowLongStyle(d(id)) & BS_TYPEMASK; };
    EXPECT_EQ(type(IDOK), BS_DEFPUSHBUTTON);
    EXPECT_EQ(d.dialog.GetDefID(), IDOK);
    SetFocus(d(kAdd));
    EXPECT_EQ(type(kAdd), BS_DEFPUSHBUTTON);
    EXPECT_EQ(type(IDOK), BS_PUSHBUTTON);
    // Return presses the focused push button.
    EXPECT_EQ(user::Key(d.dialog.Handle(), VK_RETURN), "");
    EXPECT_EQ(d.dialog.adds, 1);
    SetFocus(d(kName));  // not a push button: the dialog's default comes back
    EXPECT_EQ(type(kAdd), BS_PUSHBUTTON);
    EXPECT_EQ(type(IDOK), BS_DEFPUSHBUTTON);
    d.dialog.SetDefID(IDCANCEL);
    EXPECT_EQ(type(IDCANCEL), BS_DEFPUSHBUTTON);
    EXPECT_EQ(type(IDOK), BS_PUSHBUTTON);
    EXPECT_EQ(type(kDrawn), BS_OWNERDRAW);                   // owner-drawn buttons are left alone
    EXPECT_EQ(user::Key(d.dialog.Handle(), VK_RETURN), "");  // the default: Cancel
    EXPECT_EQ(d.dialog.Handle()->result, IDCANCEL);
}

TEST(Buttons, ADoubleClickIsAnotherPressExceptOnOwnerDrawnButtons) {
    Open d;
    EXPECT_EQ(user::DoubleClick(d(kAdd)), "");
    EXPECT_EQ(d.dialog.adds, 2);
    EXPECT_EQ(user::DoubleClick(d(kDrawn)), "");
    EXPECT_EQ(d.dialog.drawnClicks, 1);
    EXPECT_EQ(d.dialog.drawnDoubles, 1);
    EXPECT_EQ(user::DoubleClick(d(kOption)), "");  // toggled twice
    EXPECT_EQ(IsDlgButtonChecked(d.dialog.Handle(), kOption), 1u);
    EXPECT_EQ(user::SetCheck(d(kOption), 0), "");
    EXPECT_EQ(IsDlgButtonChecked(d.dialog.Handle(), kOption), 0u);
    EXPECT_EQ(user::SetCheck(d(kAdd), 1), "control 1007 is not a check box the user can tick");
}

TEST(OwnerDrawing, TheDialogGetsTheStateAndADcOnTheControlsPixels) {
    struct Drawn : Button {
        UINT state = 0;
        RECT rect{};
        void DrawItem(const DRAWITEMSTRUCT& item) override {
            state = item.itemState;
            rect = item.rcItem;
            HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
            RECT corner{0, 0, 2, 2};
            FillRect(item.hDC, &corner, red);
            DeleteObject(red);
        }
    } drawn;
    Open d;
    ASSERT_TRUE(drawn.SubclassDlgItem(kDrawn, &d.dialog));
    SetFocus(d(kDrawn));
    SendMessageW(d(kDrawn), BM_SETSTATE, TRUE, 0);
    QImage picture = PaintOwnerDrawnForTest(d(kDrawn));
    EXPECT_EQ(drawn.state, ODS_SELECTED | ODS_FOCUS);
    RECT client;
    GetClientRect(d(kDrawn), &client);
    EXPECT_EQ(drawn.rect.right, client.right);
    EXPECT_EQ(picture.width(), client.right);
    EXPECT_EQ(picture.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(picture.pixel(3, 3) & 0xFFFFFF, 0xC0C0C0u);  // the dialog's face shows through
    SendMessageW(d(kDrawn), BM_SETSTATE, FALSE, 0);
    EnableWindow(d(kDrawn), FALSE);
    PaintOwnerDrawnForTest(d(kDrawn));
    EXPECT_EQ(drawn.state, UINT(ODS_DISABLED));
}

TEST(DialogUnits, ScaleWithTheDialogFontsAverageCharacterWidthAndHeight) {
    Open d;
    RECT units{0, 0, 4, 8};
    MapDialogRect(d.dialog.Handle(), &units);
    // One base unit of each: the dialog font's (A..Za..z / 26 + 1) / 2 and its height.
    EXPECT_GE(units.right, 5);
    EXPECT_LE(units.right, 8);
    EXPECT_GE(units.bottom, 11);
    EXPECT_LE(units.bottom, 16);
    RECT window;
    GetClientRect(d.dialog.Handle(), &window);
    EXPECT_EQ(window.right, (140 * units.right + 2) / 4);
    EXPECT_EQ(window.bottom, (120 * units.bottom + 4) / 8);
}

// The code page is the locale's; a test sets it for its own run and puts it back.
class CodePage949 {
  public:
    CodePage949() {
        if (const char* v = std::getenv("LC_ALL")) saved_ = v, had_ = true;
        ::setenv("LC_ALL", "ko_KR.UTF-8", 1);
    }
    ~CodePage949() {
        if (had_)
            ::setenv("LC_ALL", saved_.c_str(), 1);
        else
            ::unsetenv("LC_ALL");
    }

  private:
    std::string saved_;
    bool had_ = false;
};

TEST(DialogUnits, KoreanDialogsAreMeasuredInTheHangulFontTheyAreDrawnIn) {
    SIZE english{}, korean{};
    std::u16string englishFace, koreanFace;
    {
        Open d;
        english = BaseUnits(d.dialog.Handle()->font);
        englishFace = d.dialog.Handle()->font->font.lfFaceName;
    }
    {
        CodePage949 cp;
        ASSERT_EQ(GetACP(), 949u);
        Open d;
        HFONT font = d.dialog.Handle()->font;
        koreanFace = font->font.lfFaceName;
        korean = BaseUnits(font);
        // A template's own face is kept; only "System" takes the Hangul font.
        HFONT named = MakeDialogFont(u"Tahoma", 8);
        EXPECT_EQ(std::u16string(named->font.lfFaceName), u"Tahoma");
        DeleteObject(named);
        // A Korean label is measured in that font: its pixels follow the base units.
        RECT units{0, 0, 4, 8};
        MapDialogRect(d.dialog.Handle(), &units);
        EXPECT_EQ(units.right, korean.cx);
        EXPECT_EQ(units.bottom, korean.cy);
    }
    EXPECT_EQ(englishFace, u"System");
    EXPECT_EQ(koreanFace, kKoreanDialogFace);
    EXPECT_NE(english.cx, korean.cx);
}

TEST(Scripts, MessageBoxButtonsAreAnsweredByNameKoreanCaptionOrId) {
    EXPECT_EQ(std::u16string(MessageBoxButtonText(IDRETRY, 1252)), u"Retry");
    EXPECT_EQ(std::u16string(MessageBoxButtonText(IDNO, 949)), u"아니요");
    EXPECT_EQ(MessageBoxButtonText(0, 949), nullptr);
    EXPECT_EQ(MessageBoxButtonText(8, 1252), nullptr);
    {
        ScriptRun run(
            "click 1007\nanswer 취소\nanswer \"다시 시도\"\nanswer 6\nanswer No\nclick 2\n", "t");
        TestDialog dialog;
        dialog.OnAddDoes([&] {
            EXPECT_EQ(MessageBoxW(dialog.Handle(), u"Sure?", u"Q", MB_OKCANCEL), IDCANCEL);
            EXPECT_EQ(MessageBoxW(dialog.Handle(), u"Stuck", u"Q", MB_RETRYCANCEL), IDRETRY);
            EXPECT_EQ(MessageBoxW(dialog.Handle(), u"Go?", u"Q", MB_YESNOCANCEL), IDYES);
            EXPECT_EQ(MessageBoxW(dialog.Handle(), u"Go?", u"Q", MB_YESNO), IDNO);
        });
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        EXPECT_TRUE(run.Finish()) << run.Error();
    }
    {
        ScriptRun run("click 1007\nanswer 예\n", "ko.txt");
        TestDialog dialog;
        dialog.OnAddDoes([&] { MessageBoxW(dialog.Handle(), u"Note", u"Info", MB_OK); });
        EXPECT_EQ(dialog.DoModal(), -1);
        EXPECT_EQ(run.Error(), "ko.txt:2: the message box \"Info\" has no 예 button: answer 예");
    }
}

TEST(Scripts, AnswerMessageBoxesAndFileDialogsAndFailNamingTheLine) {
    {
        ScriptRun run(
            "click 1007\n# a comment\n\nanswer Yes\nanswer Retry\nfile /tmp/x y.bmp\nclick 2\n",
            "t");
        int boxes = 0;
        TestDialog dialog;
        dialog.OnAddDoes([&] {
            EXPECT_EQ(MessageBoxW(dialog.Handle(), u"Sure?", u"Q", MB_YESNO), IDYES);
            EXPECT_EQ(MessageBoxW(dialog.Handle(), u"Stuck", nullptr, MB_RETRYCANCEL), IDRETRY);
            WCHAR path[64] = u"start.bmp";
            OPENFILENAMEW ofn{};
            ofn.lStructSize = sizeof ofn;
            ofn.lpstrFile = path;
            ofn.nMaxFile = 64;
            std::u16string filter = FileDialog::FilterPairs(u"Image File(*.bmp)|*.bmp||");
            ofn.lpstrFilter = filter.c_str();
            EXPECT_TRUE(GetOpenFileNameW(&ofn));
            EXPECT_EQ(std::u16string(path), u"/tmp/x y.bmp");
            EXPECT_EQ(ofn.nFileOffset, 5);
            ++boxes;
        });
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        EXPECT_EQ(boxes, 1);
        EXPECT_TRUE(run.Finish()) << run.Error();
    }
    {
        ScriptRun run("type 1001 abc\nclick 1007\nanswer No\nclick 1\n", "bad.txt");
        TestDialog dialog;
        dialog.OnAddDoes([&] { MessageBoxW(dialog.Handle(), u"Note", u"Info", MB_OK); });
        EXPECT_EQ(dialog.DoModal(), -1);
        EXPECT_EQ(run.Error(), "bad.txt:3: the message box \"Info\" has no No button: answer No");
        TestDialog later;
        EXPECT_EQ(later.DoModal(), -1);  // a failed run opens nothing more
    }
    {
        ScriptRun run("press 1002\n", "s");
        TestDialog dialog;
        EXPECT_EQ(dialog.DoModal(), -1);
        EXPECT_EQ(run.Error(), "s:1: no such command press (or wrong arguments): press 1002");
    }
    {
        ScriptRun run("expect-text 1001 \"second\"\n", "s");
        TestDialog dialog;
        EXPECT_EQ(dialog.DoModal(), -1);
        EXPECT_EQ(run.Error(), "s:1: control 1001 shows \"first\": expect-text 1001 \"second\"");
    }
    {
        ScriptRun run("expect-enabled 1001 1\n", "s");
        TestDialog dialog;
        EXPECT_EQ(dialog.DoModal(), -1);
        EXPECT_EQ(run.Error(), "s: the script ended with dialog 200 \"Test Dialog\" still open");
    }
    {
        ScriptRun run("click 2\nclick 1\n", "s");
        TestDialog dialog;
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        EXPECT_FALSE(run.Finish());
        EXPECT_EQ(run.Error(), "s:2: no dialog or message box is open for this line: click 1");
    }
}

TEST(FileDialog, BufferTooSmallAndTheDefaultExtension) {
    SetFileDialogHandler([](const FileRequest& request, std::u16string& path) {
        EXPECT_EQ(request.filter, std::u16string(u"A\0*.a\0\0", 7));
        path = u"/tmp/picture";
        return true;
    });
    WCHAR small[8] = {};
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    std::u16string filter = FileDialog::FilterPairs(u"A|*.a||");
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = small;
    ofn.nMaxFile = 8;
    EXPECT_FALSE(GetOpenFileNameW(&ofn));
    EXPECT_EQ(CommDlgExtendedError(), FNERR_BUFFERTOOSMALL);
    EXPECT_EQ(small[0], 13);
    WCHAR big[64] = {};
    ofn.lpstrFile = big;
    ofn.nMaxFile = 64;
    ofn.lpstrDefExt = u"bmp";
    EXPECT_TRUE(GetOpenFileNameW(&ofn));
    EXPECT_EQ(std::u16string(big), u"/tmp/picture.bmp");
    SetFileDialogHandler(nullptr);
    FileDialog chooser(TRUE);
    EXPECT_EQ(chooser.DoModal(), IDCANCEL);  // nobody to answer: cancelled
}

TEST(Edit, TypingKeepsToTheLimitAndTextIsCutToTheCallersBuffer) {
    Open d;
    HWND name = d(kName);
    SendMessageW(name, EM_LIMITTEXT, 4, 0);
    EXPECT_EQ(SendMessageW(name, EM_GETLIMITTEXT, 0, 0), 4);
    EXPECT_EQ(user::Type(name, u"COM10:"), "");
    WCHAR text[8];
    EXPECT_EQ(GetWindowTextW(name, text, 8), 4);
    EXPECT_EQ(std::u16string(text), u"COM1");
    SetWindowTextW(name, u"a longer text than the limit");  // the program is not limited
    EXPECT_EQ(GetWindowTextLengthW(name), 28);
    EXPECT_EQ(GetWindowTextW(name, text, 3), 2);
    EXPECT_EQ(std::u16string(text), u"a ");
    EXPECT_EQ(GetWindowTextW(name, nullptr, 3), 0);
    WCHAR buffer[6] = u"xxxxx";
    DataExchange dx(d.dialog, true);
    dx.Text(kName, buffer, 6);
    EXPECT_EQ(std::u16string(buffer), u"a lon");
    EXPECT_EQ(user::Type(d(kLabel), u"x"), "control 1010 takes no typing");
    EXPECT_EQ(user::Click(d(kGroup)), "control 1011 is a group box");
    EXPECT_EQ(user::Click(nullptr), "no such control");
}

TEST(Icons, ComeFromTheProgramsResourcesAndDrawWithTheirTransparency) {
    // A 2 x 1 PNG: one opaque red pixel, one transparent.
    QImage png(2, 1, QImage::Format_ARGB32);
    png.setPixel(0, 0, qRgba(255, 0, 0, 255));
    png.setPixel(1, 0, qRgba(0, 0, 255, 0));
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    png.save(&out, "PNG");
    ASSERT_TRUE(RegisterIconResource(nullptr, 7, reinterpret_cast<const BYTE*>(bytes.constData()),
                                     size_t(bytes.size())));
    const BYTE junk[] = {1, 2, 3};
    ASSERT_TRUE(RegisterIconResource(nullptr, 8, junk, 3));

    EXPECT_EQ(LoadImageW(nullptr, MAKEINTRESOURCEW(9), IMAGE_ICON, 32, 32, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(LoadImageW(nullptr, MAKEINTRESOURCEW(8), IMAGE_ICON, 32, 32, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(LoadImageW(nullptr, u"/no/such.png", IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    auto icon = static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(7), IMAGE_ICON, 0, 0, 0));
    ASSERT_NE(icon, nullptr);
    SIZE size{};
    EXPECT_TRUE(GetIconSize(icon, &size));
    EXPECT_EQ(size.cx, 2);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 4, 4);
    SelectObject(dc, bitmap);
    RECT all{0, 0, 4, 4};
    FillRect(dc, &all, GetStockObject(WHITE_BRUSH));
    EXPECT_TRUE(DrawIconEx(dc, 1, 1, icon, 0, 0, 0, nullptr, DI_NORMAL));
    BITMAP bm{};
    GetObjectW(bitmap, sizeof bm, &bm);
    auto pixel = [&](int x, int y) {
        return static_cast<const uint32_t*>(bm.bmBits)[y * bm.bmWidthBytes / 4 + x] & 0xFFFFFF;
    };
    EXPECT_EQ(pixel(1, 1), 0xFF0000u);
    EXPECT_EQ(pixel(2, 1), 0xFFFFFFu);  // the transparent pixel left the white
    // The focus rectangle inverts; drawn twice it is gone.
    RECT focus{0, 0, 4, 4};
    DrawFocusRect(dc, &focus);
    EXPECT_EQ(pixel(0, 0), 0u);
    EXPECT_EQ(pixel(1, 0), 0xFFFFFFu);
    DrawFocusRect(dc, &focus);
    EXPECT_EQ(pixel(0, 0), 0xFFFFFFu);
    EXPECT_TRUE(DestroyIcon(icon));
    EXPECT_FALSE(DestroyIcon(icon));
    EXPECT_FALSE(DrawIconEx(dc, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL));
    DeleteDC(dc);
    DeleteObject(bitmap);
    UnregisterIconResources(nullptr);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), RGB(192, 192, 192));
    EXPECT_EQ(GetSysColor(99), 0u);
    EXPECT_EQ(GetSysColorBrush(99), nullptr);
}

TEST(Scripts, MalformedLinesAreRefusedWithTheirReason) {
    struct Case {
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {"type 1001 \"open", "a quoted text is not closed"},
        {"click x12", "not a control id: x12"},
        {"click 4242", "dialog 200 has no control 4242"},
        {"check 1006 7", "no such check state 7"},
        {"select 1005 \"Delta\"", "control 1005 has no item \"Delta\""},
        {"expect-count 1003", "expect-count takes a control id and a number"},
        {"answer OK", "no message box or file dialog is in front (dialog 200 is)"},
        {"key F1", "no such key F1"},
        {"screenshot out.png", "screenshots need the Qt backend (--ui qt)"},
    };
    for (const Case& c : cases) {
        ScriptRun run(std::string(c.line) + "\n", "s");
        TestDialog dialog;
        EXPECT_EQ(dialog.DoModal(), -1) << c.line;
        EXPECT_EQ(run.Error(), std::string("s:1: ") + c.error + ": " + c.line);
    }
}

}  // namespace
}  // namespace wce::ui
