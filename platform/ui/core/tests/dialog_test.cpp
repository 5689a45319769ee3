// The framework's semantics with a small dialog of the tests' own, on the headless backend.
#include <gtest/gtest.h>

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
    200, 140, 120, u"Test Dialog", WS_POPUP | WS_CAPTION | DS_MODALFRAME, WS_EX_CAPTIONOKBTN, u"System", 8,
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
    void OnAdd() { ++adds; }
    void OnKindChange() { ++kindChanges; }
    void OnSortedChange() { ++sortedChanges; }
    void OnDrawn() { ++drawnClicks; }
    void OnDrawnDouble() { ++drawnDoubles; }
};

HWND Item(Dialog& d, int id) { return GetDlgItem(d.Handle(), id); }

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

}  // namespace
}  // namespace wce::ui
