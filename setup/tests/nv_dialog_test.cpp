// The image manager's dialog in process, headless, as a user drives it: its enable
// table, the port choice, the sorted file list, failed opens, and what its buttons send
// to a loopback printer.
#include "../../drivers/printer/qx470/tests/port_peer_support.h"  // before winsock.h

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../tests/support/driver_key.h"
#include "../core/tests/bmp_test_support.h"
#include "nv_image_manager_dialog.h"
#include "setup_icons.h"
#include "wce/dialogapp.h"
#include "wce/ui.h"

namespace qxsetup::testing {
namespace {

using namespace wce;
using namespace wce::ui;
using qx470::testing::TcpPrinter;

enum : int {
    kPorts = 1003,
    kAddress = 1005,
    kOpen = 1013,
    kClose = 1014,
    kAdd = 1015,
    kDelete = 1016,
    kUpload = 1017,
    kPrintOut = 1018,
    kErase = 1019,
    kFiles = 1022,
};

std::string Command(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += char(b);
    return s;
}

class NvDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseHeadlessBackend();
        ASSERT_TRUE(RegisterSetupIcons());
        SetFileDialogHandler([this](const FileRequest&, std::u16string& path) {
            if (chosen_.empty()) return false;
            path = chosen_.front();
            chosen_.pop_front();
            return true;
        });
    }
    void TearDown() override {
        SetFileDialogHandler({});
        if (dialog_) dialog_.DestroyWindow();
    }

    HWND Item(int id) { return GetDlgItem(dialog_.Handle(), id); }
    std::u16string Text(int id) {
        WCHAR buffer[300] = {};
        GetDlgItemTextW(dialog_.Handle(), id, buffer, 300);
        return buffer;
    }
    // 1 or 0 for Open, Close, port list, address, Add, Delete, Upload, Print Out, Erase.
    std::string Enabled() {
        std::string row;
        for (int id : {kOpen, kClose, kPorts, kAddress, kAdd, kDelete, kUpload, kPrintOut, kErase})
            row += IsWindowEnabled(Item(id)) ? '1' : '0';
        return row;
    }
    void OpenNetwork(const char* address) {
        EXPECT_EQ(user::Select(Item(kPorts), 10), "");
        EXPECT_EQ(user::Type(Item(kAddress), Wide(address)), "");
        EXPECT_EQ(user::Click(Item(kOpen)), "");
    }
    void AddFile(const std::string& path) {
        chosen_.push_back(Wide(path));
        EXPECT_EQ(user::Click(Item(kAdd)), "");
    }

    qxtest::TempWorld world_{"qxnvdlg"};
    TempDir dir_;
    NvImageManagerDialog dialog_;
    std::deque<std::u16string> chosen_;
    ScriptedMessageBoxes boxes_;
};

TEST_F(NvDialogTest, StartsWithCom9AndOnlyOpenUsableAndTheAddressFollowsWlan) {
    ASSERT_TRUE(dialog_.Create());
    EXPECT_EQ(SendMessageW(Item(kPorts), CB_GETCOUNT, 0, 0), 11);
    auto entry = [&](int index) {
        WCHAR text[16] = {};
        SendMessageW(Item(kPorts), CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text));
        return std::u16string(text);
    };
    EXPECT_EQ(entry(0), u"COM0:");
    EXPECT_EQ(entry(9), u"COM9:");
    EXPECT_EQ(entry(10), u"WLAN");
    EXPECT_EQ(SendMessageW(Item(kPorts), CB_GETCURSEL, 0, 0), 9);
    EXPECT_EQ(Text(kAddress), u"192.168.1.20");
    EXPECT_EQ(Enabled(), "101000000");
    EXPECT_EQ(dialog_.GetWindowText(), u"Dialog");
    EXPECT_EQ(Text(kUpload), u"Upload File...");

    EXPECT_EQ(user::Select(Item(kPorts), 10), "");
    EXPECT_EQ(Enabled(), "101100000");
    EXPECT_EQ(user::Select(Item(kPorts), 3), "");
    EXPECT_EQ(Enabled(), "101000000");
}

// Files are listed, and uploaded, in path order whatever the order they were added in,
// the same file as often as it was added.
TEST_F(NvDialogTest, UploadSendsTheListInPathOrderOverTheNetwork) {
    std::string first = dir_.File("a-logo.bmp"), second = dir_.File("b-logo.bmp");
    ASSERT_TRUE(Convert(
        "-size 37x21 xc:white -fill black -draw 'rectangle 2,3 30,12' -type bilevel", first));
    ASSERT_TRUE(Convert("-size 20x9 gradient:white-black -type truecolor", second));
    TcpPrinter printer("127.0.42.10", TcpPrinter::Mode::kReadAll);
    ASSERT_TRUE(printer.ok());
    ASSERT_TRUE(dialog_.Create());

    OpenNetwork("127.0.42.10");
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_EQ(Enabled(), "010110011");
    AddFile(second);
    EXPECT_EQ(Enabled(), "010111111");
    AddFile(first);
    AddFile(second);
    EXPECT_EQ(user::Click(Item(kAdd)), "");  // the file dialog cancelled: nothing added
    EXPECT_EQ(dialog_.ListedFiles(),
              (std::vector<std::u16string>{Wide(first), Wide(second), Wide(second)}));

    EXPECT_EQ(user::Click(Item(kUpload)), "");
    EXPECT_EQ(user::Click(Item(kClose)), "");
    EXPECT_EQ(Enabled(), "101101100");  // Close leaves the list's buttons as they were
    EXPECT_TRUE(boxes_.shown().empty());

    std::string expected = Command({0x1B, 0x40, 0x1C, 0x71, 3});
    for (const std::string& path : {first, second, second}) {
        Bytes block = ReferenceBlock(ReadBytes(path));
        expected.append(block.begin(), block.end());
    }
    std::string wire = printer.inbox().Wait();
    EXPECT_TRUE(wire == expected) << wire.size() << " bytes, expected " << expected.size();
}

TEST_F(NvDialogTest, DeletingEmptiesTheListAndDisablesItsButtons) {
    ASSERT_TRUE(dialog_.Create());
    TcpPrinter printer("127.0.42.11", TcpPrinter::Mode::kReadAll);
    OpenNetwork("127.0.42.11");
    AddFile("/logos/b.bmp");
    AddFile("/logos/a.bmp");
    EXPECT_EQ(user::Select(Item(kFiles), 1), "");
    EXPECT_EQ(user::Click(Item(kDelete)), "");
    EXPECT_EQ(dialog_.ListedFiles(), std::vector<std::u16string>{u"/logos/a.bmp"});
    EXPECT_EQ(user::Click(Item(kDelete)), "");  // nothing selected: nothing removed
    EXPECT_EQ(dialog_.ListedFiles().size(), 1u);
    EXPECT_EQ(user::Select(Item(kFiles), 0), "");
    EXPECT_EQ(user::Click(Item(kDelete)), "");
    EXPECT_TRUE(dialog_.ListedFiles().empty());
    EXPECT_EQ(Enabled(), "010110011");
}

// A failed open tells the user and leaves every control as it was.
TEST_F(NvDialogTest, FailedOpensSaySoAndChangeNothing) {
    qxtest::SetText(u"COM0:", Wide(dir_.File("no-such-tty")), u"Platform\\Devices");
    ASSERT_TRUE(dialog_.Create());
    OpenNetwork("127.0.42.12");  // nobody listens there
    EXPECT_EQ(Enabled(), "101100000");
    EXPECT_EQ(user::Select(Item(kPorts), 0), "");
    EXPECT_EQ(user::Click(Item(kOpen)), "");
    EXPECT_EQ(Enabled(), "101000000");

    std::vector<std::u16string> texts;
    for (const auto& box : boxes_.shown()) texts.push_back(box.text + u" / " + box.caption);
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"Fail to Connection to Printer / QX470SETUP",
                                                  u"Open Failed / Error", u"Open Failed / Error"}));
}

TEST_F(NvDialogTest, Com9OpensAt115200) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    std::string slavePath = ::ptsname(master);
    qxtest::SetText(u"COM9:", Wide(slavePath), u"Platform\\Devices");
    ASSERT_TRUE(dialog_.Create());
    EXPECT_EQ(user::Click(Item(kOpen)), "");
    EXPECT_EQ(Enabled(), "010010011");
    int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    termios line{};
    ASSERT_EQ(::tcgetattr(slave, &line), 0);
    EXPECT_EQ(::cfgetospeed(&line), B115200);
    EXPECT_EQ(user::Click(Item(kClose)), "");
    EXPECT_EQ(Enabled(), "101000000");
    EXPECT_TRUE(boxes_.shown().empty());
    ::close(slave);
    ::close(master);
}

// Leaving keeps the link open; the next run starts with an empty list, the preset
// address and, for code page 949, the Korean captions.
TEST_F(NvDialogTest, EachRunStartsAfreshWhileTheLinkStaysOpen) {
    TcpPrinter printer("127.0.42.13", TcpPrinter::Mode::kReadAll);
    int run = 0;
    SetModalHook([&](HWND) {
        if (++run == 1) {
            OpenNetwork("127.0.42.13");
            AddFile("/logos/a.bmp");
            EXPECT_EQ(user::Type(Item(kAddress), u"10.0.0.1"), "");
        } else {
            EXPECT_TRUE(dialog_.ListedFiles().empty());
            EXPECT_EQ(Text(kAddress), u"192.168.1.20");
            EXPECT_EQ(Enabled(), "101000000");
            EXPECT_EQ(dialog_.GetWindowText(), u"이미지 업로드");
            EXPECT_EQ(Text(kOpen), u"포트 열기");
            EXPECT_EQ(Text(kErase), u"로고 삭제");
            EXPECT_EQ(Text(IDOK), u"취소");
        }
        EXPECT_EQ(user::Click(Item(IDOK)), "");
    });
    EXPECT_EQ(dialog_.DoModal(), IDOK);
    EXPECT_EQ(TheNetworkLink().state, 1);
    dialog_.codePage = 949;
    EXPECT_EQ(dialog_.DoModal(), IDOK);
    SetModalHook({});
    EXPECT_EQ(TheNetworkLink().state, 1);
    TheNetworkLink().Close();
    EXPECT_TRUE(boxes_.shown().empty());
}

}  // namespace
}  // namespace qxsetup::testing
