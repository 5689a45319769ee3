// The icon push button drawn through the Qt backend, against golden pictures, and its
// input details.
#include <gtest/gtest.h>
#include <unistd.h>
#include <QImage>

#include "golden_qimage.h"
#include "icon_button.h"
#include "setup_icons.h"
#include "wce/dialogapp.h"

using namespace wce;
using namespace wce::ui;

namespace {

enum : int {
    kEdit = 100,
    kRaised = 101,
    kPressed = 102,
    kFocused = 103,
    kDisabled = 104,
    kWrapped = 105,
    kBare = 106,
    kNext = 107
};

const DialogTemplate kTemplate{400,
                               134,
                               200,
                               u"Buttons",
                               WS_POPUP | WS_CAPTION | DS_MODALFRAME,
                               0,
                               u"System",
                               8,
                               {
                                   rc::EditText(kEdit, 4, 4, 40, 12),
                                   rc::PushButton(kRaised, u"Paper Settings", 18, 18, 99, 21),
                                   rc::PushButton(kPressed, u"Paper Settings", 18, 40, 99, 21),
                                   rc::PushButton(kFocused, u"Port Settings", 18, 62, 99, 21),
                                   rc::PushButton(kDisabled, u"Paper Settings", 18, 84, 99, 21),
                                   rc::PushButton(kWrapped, u"Delete File...", 7, 106, 57, 21),
                                   rc::PushButton(kBare, u"", 70, 106, 57, 21),
                                   rc::PushButton(kNext, u"Exit", 70, 150, 57, 21),
                                   rc::DefPushButton(IDOK, u"OK", 10, 128, 50, 22),
                               }};

class ButtonsDialog : public Dialog {
  public:
    ButtonsDialog() : Dialog(kTemplate) {
        OnCommand(kRaised, BN_CLICKED, &ButtonsDialog::OnRaised);
    }
    IconButton raised, pressed, focused, disabled, wrapped, bare, next, ok;
    int clicks = 0;

  protected:
    BOOL OnInitDialog() override {
        Dialog::OnInitDialog();
        const std::pair<IconButton*, UINT> buttons[] = {
            {&raised, 135},  {&pressed, 135}, {&focused, 141}, {&disabled, 135},
            {&wrapped, 134}, {&bare, 132},    {&next, 132},    {&ok, 138}};
        for (auto [button, icon] : buttons) {
            button->SetFont(GetDialogFont(), TRUE);
            button->SetIcon(icon, 32, 32);
            button->Set3D(true);
        }
        return TRUE;
    }
    void DoDataExchange(DataExchange& dx) override {
        dx.Control(kRaised, raised);
        dx.Control(kPressed, pressed);
        dx.Control(kFocused, focused);
        dx.Control(kDisabled, disabled);
        dx.Control(kWrapped, wrapped);
        dx.Control(kBare, bare);
        dx.Control(kNext, next);
        dx.Control(IDOK, ok);
    }
    void OnRaised() { ++clicks; }
};

class IconButtonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(UseQtBackend(&error)) << error;
        ASSERT_TRUE(RegisterSetupIcons());
        ASSERT_TRUE(dialog.Create());
    }
    QImage Picture(int id) {
        std::string path = "/tmp/qx-icon-button-" + std::to_string(::getpid()) + ".png";
        EXPECT_EQ(SaveWindowPicture(GetDlgItem(dialog.Handle(), id), path), "");
        QImage picture(QString::fromStdString(path));
        ::unlink(path.c_str());
        return picture.convertToFormat(QImage::Format_RGB32);
    }
    void ExpectGolden(const QImage& picture, const std::string& name) {
        EXPECT_EQ(qxtest::CompareWithGolden(
                      picture, std::string(QX_GOLDEN_DIR) + "/icon_button_" + name + ".png",
                      "icon_button_" + name),
                  "");
    }
    HWND Item(int id) { return GetDlgItem(dialog.Handle(), id); }
    ButtonsDialog dialog;
};

// The middle of the 32 x 32 block where a captioned button's icon is drawn, clear of
// the frame the icon may overlap.
QImage IconBlock(const QImage& picture, int dx = 0, int dy = 0) {
    return picture.copy(3 + 2 + dx, (picture.height() - 32) / 2 + 2 + dy, 28, 28);
}

TEST_F(IconButtonTest, EveryLookAgainstItsGolden) {
    EXPECT_EQ(GetFocus(), Item(kEdit));
    QImage raised = Picture(kRaised);
    ExpectGolden(raised, "raised");
    // Raised: light top and left, shadow bottom and right, no black frame.
    EXPECT_EQ(raised.pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(raised.pixel(raised.width() - 1, raised.height() - 1) & 0xFFFFFF, 0x808080u);

    SendMessageW(Item(kPressed), BM_SETSTATE, TRUE, 0);
    QImage pressed = Picture(kPressed);
    ExpectGolden(pressed, "pressed");
    EXPECT_EQ(pressed.pixel(0, 0) & 0xFFFFFF, 0x808080u);    // sunken
    EXPECT_EQ(IconBlock(pressed, 1, 1), IconBlock(raised));  // the icon 1 pixel right and down

    QImage def = Picture(IDOK);
    ExpectGolden(def, "default");
    EXPECT_EQ(def.pixel(0, 0) & 0xFFFFFF, 0u);  // the default button's black frame
    EXPECT_EQ(def.pixel(1, 1) & 0xFFFFFF, 0xFFFFFFu);

    EnableWindow(Item(kDisabled), FALSE);
    QImage disabled = Picture(kDisabled);
    ExpectGolden(disabled, "disabled");
    EXPECT_EQ(IconBlock(disabled), IconBlock(Picture(kRaised)));  // the same icon

    ExpectGolden(Picture(kWrapped), "wrapped");

    QImage bare = Picture(kBare);
    ExpectGolden(bare, "nocaption");
    EXPECT_EQ(bare.copy((bare.width() - 32) / 2 + 2, 2, 28, 28),
              IconBlock(Picture(kNext)));  // centred

    SetFocus(Item(kFocused));
    QImage focused = Picture(kFocused);
    ExpectGolden(focused, "focused");
    EXPECT_EQ(focused.pixel(0, 0) & 0xFFFFFF, 0u);
    EXPECT_NE(focused.pixel(4, 4), raised.pixel(4, 4));  // the dotted focus rectangle, 4 pixels in
    EXPECT_EQ(focused.pixel(5, 4), raised.pixel(5, 4));
}

TEST_F(IconButtonTest, TheDefaultFrameMovesWithTheFocusAsTheDialogManagerSays) {
    EXPECT_TRUE(dialog.ok.IsDefault());
    EXPECT_FALSE(dialog.raised.IsDefault());
    EXPECT_EQ(SendMessageW(Item(IDOK), WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON,
              DLGC_DEFPUSHBUTTON);
    SetFocus(Item(kRaised));
    EXPECT_TRUE(dialog.raised.IsDefault());
    EXPECT_FALSE(dialog.ok.IsDefault());
    EXPECT_EQ(Picture(IDOK).pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);   // the frame left OK
    EXPECT_EQ(dialog.ok.GetStyle() & BS_TYPEMASK, BS_OWNERDRAW);  // still drawn by the program
    SetFocus(Item(kEdit));
    EXPECT_TRUE(dialog.ok.IsDefault());
    EXPECT_FALSE(dialog.raised.IsDefault());
}

TEST_F(IconButtonTest, ADoubleTapActsTwiceAndDisablingPassesTheFocusOn) {
    EXPECT_EQ(user::DoubleClick(Item(kRaised)), "");
    EXPECT_EQ(dialog.clicks, 2);
    // Disabling passes the focus to the next tab item even when another control has it.
    EXPECT_EQ(GetFocus(), Item(kRaised));
    SetFocus(Item(kEdit));
    EnableWindow(Item(kFocused), FALSE);
    EXPECT_EQ(GetFocus(), Item(kDisabled));
    // The last enabled tab stop disabled: the focus wraps to the first one after it.
    for (int id : {kEdit, kRaised, kPressed, kDisabled, kWrapped, kBare, kNext})
        EnableWindow(Item(id), FALSE);
    EXPECT_EQ(GetFocus(), Item(IDOK));
    EnableWindow(Item(IDOK), FALSE);
    EXPECT_EQ(GetFocus(), dialog.Handle());  // nothing left: the dialog itself
}

}  // namespace
