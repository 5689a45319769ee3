// Serial ports over a real pseudo-terminal: DCB to termios, write and read time-outs.
// termios2 is read directly, so this file does not include <termios.h>.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "temp_dir.h"
#include "wce/base.h"
#include "wce/io.h"
#include "wce/registry.h"
#include "wce/text.h"

namespace wce {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class CommTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.ok());
        dir_ = folder_.path();
        ::setenv("QX_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
        std::string path = ::ptsname(master_);
        slave_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave_, 0);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Platform\\Devices", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  LONG(ERROR_SUCCESS));
        std::u16string value = Utf8ToWide(path);
        RegSetValueExW(key, u"COM3:", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       DWORD((value.size() + 1) * 2));
        RegCloseKey(key);
        port_ = CreateFileW(u"com3:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
        ASSERT_NE(port_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
        ::close(slave_);
        ::close(master_);
    }
    termios2 Tty() {
        termios2 tio{};
        ::ioctl(slave_, TCGETS2, &tio);
        return tio;
    }

    qxtest::TempDir folder_{"qxcomm"};
    std::string dir_;
    int master_ = -1;
    int slave_ = -1;
    HANDLE port_ = INVALID_HANDLE_VALUE;
};

TEST_F(CommTest, DcbReachesTheTtyAtAnyRate) {
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port_, &dcb));
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    dcb.BaudRate = CBR_56000;  // no Bxxx constant exists for it
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutX = 1;
    dcb.fAbortOnError = 1;  // termios has no room for it; the port keeps it
    ASSERT_TRUE(SetCommState(port_, &dcb));
    termios2 tio = Tty();
    EXPECT_EQ(tio.c_ospeed, 56000u);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_TRUE(tio.c_iflag & IXON);

    CloseHandle(port_);
    port_ = CreateFileW(u"COM3:", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DCB again{};
    ASSERT_TRUE(GetCommState(port_, &again));
    EXPECT_EQ(again.BaudRate, 56000u);
    EXPECT_EQ(again.StopBits, TWOSTOPBITS);
    EXPECT_EQ(again.fAbortOnError, 1u);
    EXPECT_EQ(again.fOutX, 1u);
}

TEST_F(CommTest, BadDcbIsRefusedAndChangesNothing) {
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port_, &dcb));
    DWORD rate = Tty().c_ospeed;
    for (auto spoil : {+[](DCB& d) { d.ByteSize = 9; }, +[](DCB& d) { d.Parity = 5; },
                       +[](DCB& d) { d.StopBits = 3; }, +[](DCB& d) { d.BaudRate = 0; }}) {
        DCB bad = dcb;
        bad.BaudRate = 1200;
        spoil(bad);
        EXPECT_FALSE(SetCommState(port_, &bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(Tty().c_ospeed, rate);
    EXPECT_FALSE(SetCommState(port_, nullptr));
}

TEST_F(CommTest, OpenLeavesTheTtyRaw) {
    termios2 tio = Tty();
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(tio.c_iflag & ICRNL);
    std::string bytes("\n\r\x03\x11\x13\xFF\0end", 10);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port_, bytes.data(), DWORD(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
    char got[32] = {};
    ASSERT_EQ(::read(master_, got, sizeof got), ssize_t(bytes.size()));
    EXPECT_EQ(std::string(got, bytes.size()), bytes);
}

TEST_F(CommTest, WriteTimeOutGivesAShortCountNotAnError) {
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = 200;
    ASSERT_TRUE(SetCommTimeouts(port_, &timeouts));
    std::string block(64 * 1024, 'w');
    DWORD written = 0;
    Clock::time_point start;
    for (int i = 0; i < 200; ++i) {  // nobody reads: the terminal's buffer fills up
        start = Clock::now();
        ASSERT_TRUE(WriteFile(port_, block.data(), DWORD(block.size()), &written, nullptr));
        if (written < block.size()) break;
    }
    EXPECT_LT(written, block.size());
    EXPECT_GE(SecondsSince(start), 0.15);
    EXPECT_LT(SecondsSince(start), 2.0);
}

TEST_F(CommTest, ReadTimeOutsFollowWindowsRules) {
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};  // return at once with what is there
    ASSERT_TRUE(SetCommTimeouts(port_, &timeouts));
    char buffer[16];
    DWORD read = 99;
    auto start = Clock::now();
    ASSERT_TRUE(ReadFile(port_, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_LT(SecondsSince(start), 0.1);

    ASSERT_EQ(::write(master_, "abc", 3), 3);
    timeouts = {0, 0, 150, 0, 0};  // wait up to 150 ms for the whole count
    ASSERT_TRUE(SetCommTimeouts(port_, &timeouts));
    start = Clock::now();
    ASSERT_TRUE(ReadFile(port_, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "abc");
    EXPECT_GE(SecondsSince(start), 0.1);

    ASSERT_EQ(::write(master_, "xy", 2), 2);
    timeouts = {MAXDWORD, MAXDWORD, 5000, 0, 0};  // return with the first bytes
    ASSERT_TRUE(SetCommTimeouts(port_, &timeouts));
    start = Clock::now();
    ASSERT_TRUE(ReadFile(port_, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "xy");
    EXPECT_LT(SecondsSince(start), 1.0);
}

TEST_F(CommTest, CommCallsOnOtherHandlesFail) {
    DCB dcb{};
    EXPECT_FALSE(GetCommState(reinterpret_cast<HANDLE>(0x12345), &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(GetCommState(INVALID_HANDLE_VALUE, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    std::u16string path = Utf8ToWide(dir_ + "/plain");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(GetCommState(file, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(PurgeComm(file, PURGE_TXCLEAR));
    CloseHandle(file);
}

}  // namespace
}  // namespace wce
