// The Qt backend: real widgets under the offscreen platform, driven with Qt's own input
// events, must act on the framework's windows as a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>

#include "../../core/window.h"
#include "wce/dialogapp.h"

namespace wce::ui {
namespace {

enum : int { kEdit = 10, kCheck = 11, kCombo = 12, kList = 13, kPush = 14, kDrawn = 15 };

const DialogTemplate kTemplate{500,
                               140,
                               130,
                               u"Qt",
                               WS_POPUP | WS_CAPTION | DS_MODALFRAME,
                               0,
                               u"System",
                               8,
                               {
                                   rc::EditText(kEdit, 4, 4, 60, 12),
                                   rc::AutoCheckBox(kCheck, u"Tick", 70, 4, 60, 10),
                                   rc::ComboBox(kCombo, 4, 20, 60, 50, CBS_DROPDOWNLIST),
                                   rc::ListBox(kList, 70, 20, 60, 40, LBS_NOTIFY | WS_BORDER),
                                   rc::PushButton(kPush, u"Push", 4, 70, 40, 14),
                                   rc::PushButton(kDrawn, u"Drawn", 50, 70, 40, 14, BS_OWNERDRAW),
                                   rc::DefPushButton(IDOK, u"OK", 4, 100, 40, 14),
                                   rc::PushButton(IDCANCEL, u"Cancel", 50, 100, 40, 14),
                               }};

class QtDialog : public Dialog {
  public:
    QtDialog() : Dialog(kTemplate) {
        OnCommand(kPush, BN_CLICKED, &QtDialog::Count<&QtDialog::pushes>);
        OnCommand(kDrawn, BN_CLICKED, &QtDialog::Count<&QtDialog::drawnClicks>);
        OnCommand(kDrawn, BN_DOUBLECLICKED, &QtDialog::Count<&QtDialog::drawnDoubles>);
        OnCommand(kEdit, EN_CHANGE, &QtDialog::Count<&QtDialog::edits>);
        OnCommand(kCombo, CBN_SELCHANGE, &QtDialog::Count<&QtDialog::comboChanges>);
        OnCommand(kList, LBN_SELCHANGE, &QtDialog::Count<&QtDialog::listChanges>);
    }
    int pushes = 0, drawnClicks = 0, drawnDoubles = 0, edits = 0, comboChanges = 0, listChanges = 0;
    template <int QtDialog::*counter>
    void Count() {
        ++(this->*counter);
    }
};

class QtBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(UseQtBackend(&error)) << error;
        ASSERT_STREQ(BackendName(), "qt");
    }
    template <class W = QWidget>
    static W* Widget(Dialog& d, int id) {
        HWND item = GetDlgItem(d.Handle(), id);
        return item ? dynamic_cast<W*>(static_cast<QWidget*>(item->peer)) : nullptr;
    }
    static QWidget* DialogWidget(Dialog& d) { return static_cast<QWidget*>(d.Handle()->peer); }
};

TEST_F(QtBackendTest, WidgetInputReachesTheWindowsOnce) {
    QtDialog d;
    ASSERT_TRUE(d.Create());
    QWidget* push = Widget(d, kPush);
    ASSERT_TRUE(push);
    QTest::mouseClick(push, Qt::LeftButton);
    EXPECT_EQ(d.pushes, 1);
    QTest::mouseDClick(Widget(d, kDrawn), Qt::LeftButton);
    EXPECT_EQ(d.drawnDoubles, 1);

    auto* edit = Widget<QLineEdit>(d, kEdit);
    ASSERT_TRUE(edit);
    QTest::keyClicks(edit, "COM1:");
    WCHAR text[16];
    GetDlgItemTextW(d.Handle(), kEdit, text, 16);
    EXPECT_EQ(std::u16string(text), u"COM1:");
    EXPECT_EQ(d.edits, 5);
    SetDlgItemTextW(d.Handle(), kEdit, u"LPT1:");
    EXPECT_EQ(edit->text(), QString("LPT1:"));

    auto* check = Widget<QCheckBox>(d, kCheck);
    ASSERT_TRUE(check);
    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(5, check->height() / 2));
    EXPECT_EQ(IsDlgButtonChecked(d.Handle(), kCheck), 1u);  // toggled by the framework only
    EXPECT_TRUE(check->isChecked());
    CheckDlgButton(d.Handle(), kCheck, BST_UNCHECKED);
    EXPECT_FALSE(check->isChecked());

    EnableWindow(GetDlgItem(d.Handle(), kPush), FALSE);
    EXPECT_FALSE(push->isEnabled());
    QTest::mouseClick(push, Qt::LeftButton);
    EXPECT_EQ(d.pushes, 1);
}

TEST_F(QtBackendTest, ListsShowTheWindowsSelectionNotQts) {
    QtDialog d;
    ASSERT_TRUE(d.Create());
    HWND combo = GetDlgItem(d.Handle(), kCombo);
    for (const char16_t* t : {u"COM1:", u"COM2:", u"WLAN"})
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
    auto* qcombo = Widget<QComboBox>(d, kCombo);
    ASSERT_TRUE(qcombo);
    EXPECT_EQ(qcombo->count(), 3);
    EXPECT_EQ(qcombo->currentIndex(), -1);  // nothing chosen yet, as on Windows
    SendMessageW(combo, CB_SETCURSEL, 2, 0);
    EXPECT_EQ(qcombo->currentIndex(), 2);
    EXPECT_EQ(d.comboChanges, 0);
    emit qcombo->activated(1);  // the user picks from the open list
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(d.comboChanges, 1);

    HWND list = GetDlgItem(d.Handle(), kList);
    for (const char16_t* t : {u"a.bmp", u"b.bmp"})
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
    auto* qlist = Widget<QListWidget>(d, kList);
    ASSERT_TRUE(qlist);
    QRect second = qlist->visualItemRect(qlist->item(1));
    QTest::mouseClick(qlist->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(d.listChanges, 1);
    SendMessageW(list, LB_DELETESTRING, 1, 0);
    EXPECT_EQ(qlist->count(), 1);
    EXPECT_TRUE(qlist->selectedItems().isEmpty());
}

TEST_F(QtBackendTest, ModalDialogsAndMessageBoxesAreRealWindows) {
    QtDialog d;
    QTimer::singleShot(0, [&] {
        // Return in the dialog presses the default button.
        QTest::keyClick(DialogWidget(d), Qt::Key_Return);
    });
    EXPECT_EQ(d.DoModal(), IDOK);

    QtDialog e;
    QTimer::singleShot(0, [&] { DialogWidget(e)->close(); });  // the caption's close box
    EXPECT_EQ(e.DoModal(), IDCANCEL);

    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text(), QString("Paper out"));
        EXPECT_EQ(box->buttons().size(), 2);
        box->button(QMessageBox::Retry)->click();
    });
    EXPECT_EQ(MessageBoxW(nullptr, u"Paper out", u"Printer", MB_RETRYCANCEL | MB_ICONEXCLAMATION),
              IDRETRY);
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        QTest::keyClick(box, Qt::Key_Escape);
    });
    EXPECT_EQ(MessageBoxW(nullptr, u"Sure?", u"Save", MB_OKCANCEL), IDCANCEL);
}

TEST_F(QtBackendTest, KoreanMessageBoxesShowKoreanButtonsAndAnswerAsBefore) {
    ::setenv("LC_ALL", "ko_KR.UTF-8", 1);
    QStringList shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        for (QAbstractButton* b : box->buttons()) shown << b->text();
        box->button(QMessageBox::Retry)->click();
    });
    EXPECT_EQ(MessageBoxW(nullptr, u"용지 없음", u"프린터", MB_ABORTRETRYIGNORE), IDRETRY);
    shown.sort();
    EXPECT_EQ(shown, (QStringList{"다시 시도", "무시", "중단"}));
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        EXPECT_EQ(box->button(QMessageBox::No)->text(), QString("아니요"));
        EXPECT_EQ(box->button(QMessageBox::Yes)->text(), QString("예"));
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(MessageBoxW(nullptr, u"저장할까요?", u"저장", MB_YESNO), IDNO);
    ::unsetenv("LC_ALL");
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        EXPECT_EQ(box->button(QMessageBox::Ok)->text(), QString("OK"));
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(MessageBoxW(nullptr, u"Done", u"Save", MB_OK), IDOK);
}

TEST_F(QtBackendTest, ComboBoxesKeepTheirTextBesideANarrowDropButton) {
    QtDialog d;
    ASSERT_TRUE(d.Create());
    auto* combo = Widget<QComboBox>(d, kCombo);
    ASSERT_TRUE(combo);
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.rect = combo->rect();
    QRect arrow = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                 QStyle::SC_ComboBoxArrow, combo);
    QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                 QStyle::SC_ComboBoxEditField, combo);
    EXPECT_EQ(arrow.width(), 14);  // the 13-pixel button and the frame's line
    EXPECT_EQ(arrow.right(), combo->rect().right());
    EXPECT_LT(field.right(), arrow.left());
    EXPECT_GE(field.width(), combo->width() - 18);
}

TEST_F(QtBackendTest, FocusFollowsTheFrameworkWhenAFocusedControlIsDisabled) {
    QtDialog d;
    ASSERT_TRUE(d.Create());
    QWidget* window = DialogWidget(d);
    window->activateWindow();
    QApplication::setActiveWindow(window);
    HWND edit = GetDlgItem(d.Handle(), kEdit);
    EXPECT_EQ(GetFocus(), edit);
    // Qt would hand the focus to its next focusable widget; the tab order decides here.
    EnableWindow(edit, FALSE);
    EXPECT_EQ(GetFocus(), GetDlgItem(d.Handle(), kCheck));
    SetFocus(GetDlgItem(d.Handle(), kPush));
    EnableWindow(GetDlgItem(d.Handle(), kPush), FALSE);
    EXPECT_EQ(GetFocus(), GetDlgItem(d.Handle(), kDrawn));
    // Tab in the window moves along the framework's tab stops.
    QTest::keyClick(window, Qt::Key_Tab);
    EXPECT_EQ(GetFocus(), GetDlgItem(d.Handle(), IDOK));
}

}  // namespace
}  // namespace wce::ui
