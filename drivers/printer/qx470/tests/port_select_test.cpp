// Port selection: which transport a name chooses, how the name is cut, the serial
// rate, the registry values read at open, and the checks of PortWrite.
#include <termios.h>

#include <filesystem>
#include <string>

#include "port_test_support.h"
#include "wce/io.h"
#include "wce/testdevice.h"

namespace qx470 {
namespace {

using namespace qx470::testing;

std::u16string PortNameInUse() {
    return Port().portName ? std::u16string(Port().portName.get()) : u"(null)";
}

speed_t TtySpeed(int fd) {
    termios tio{};
    tcgetattr(fd, &tio);
    return cfgetospeed(&tio);
}

void SetTtySpeed(int fd, speed_t speed) {
    termios tio{};
    tcgetattr(fd, &tio);
    cfsetospeed(&tio, speed);
    cfsetispeed(&tio, speed);
    tcsetattr(fd, TCSANOW, &tio);
}

TEST(PortNameSyntax, PrefixChoosesTransportWhateverTheCase) {
    EXPECT_EQ(KindOfName(u"IrDA"), PortKindInfrared);
    EXPECT_EQ(KindOfName(u"IRDA anything"), PortKindInfrared);
    EXPECT_EQ(KindOfName(u"lpt1:"), PortKindParallel);
    EXPECT_EQ(KindOfName(u"LPT2: trailing"), PortKindParallel);
    EXPECT_EQ(KindOfName(u"com2:"), PortKindSerial);
    EXPECT_EQ(KindOfName(u"192.168.0.5"), PortKindNetwork);
    EXPECT_EQ(KindOfName(u"IRD"), PortKindNetwork);
    EXPECT_EQ(KindOfName(u""), PortKindNetwork);
    EXPECT_EQ(KindOfName(u"\uFF23\uFF2F\uFF2D1:"), PortKindNetwork);  // full-width COM
}

TEST(PortNameSyntax, RateIsReadFromTheSeventhCharacter) {
    EXPECT_EQ(SerialRateOfName(u"com2:"), 19200u);
    EXPECT_EQ(SerialRateOfName(u"COM1: 115200"), 115200u);
    EXPECT_EQ(SerialRateOfName(u"COM1:9600"), 600u);
    EXPECT_EQ(SerialRateOfName(u"COM1: 31250"), 19200u);
    EXPECT_EQ(SerialRateOfName(u"COM1:_56000"), 56000u);
    EXPECT_EQ(SerialRateOfName(u"COM1: 9600 "), 19200u);
    EXPECT_EQ(SerialRateOfName(u"COM1: "), 19200u);
}

class PortOpenTest : public ::testing::Test {
  protected:
    void TearDown() override {
        PortClose(kind_);
        wce::UnregisterTestParallelDevice(u"LPT1:");
        wce::UnregisterTestParallelDevice(u"LPT2:");
    }
    int Open(const char16_t* name) { return kind_ = PortOpen(name); }
    wce::DWORD WriteTimeoutMs() {
        wce::COMMTIMEOUTS timeouts{};
        wce::GetCommTimeouts(Port().handle, &timeouts);
        return timeouts.WriteTotalTimeoutConstant;
    }

    TempRegistry registry_;
    int kind_ = PortKindNone;
};

TEST_F(PortOpenTest, NullNameWithoutDefaultOpensLpt1AsParallel) {
    auto device = wce::RegisterTestParallelDevice(u"LPT1:");
    ASSERT_EQ(Open(nullptr), PortKindParallel);
    EXPECT_EQ(PortNameInUse(), u"LPT1:");
    ASSERT_EQ(PortWrite(kind_, reinterpret_cast<const wce::BYTE*>("abc"), 3), 1);
    EXPECT_EQ(device->received, "abc");
}

TEST_F(PortOpenTest, NullNameUsesDefaultPrintPort) {
    SetString(u"Printers\\Ports", u"DefaultPrintPort", u"COM1: 9600");
    Pty pty(u"COM1:");
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(Open(nullptr), PortKindSerial);
    EXPECT_EQ(PortNameInUse(), u"COM1:");
    EXPECT_EQ(TtySpeed(pty.slave()), speed_t(B9600));
}

TEST_F(PortOpenTest, DefaultPrintPortStoredWithoutTerminatorStillEnds) {
    auto device = wce::RegisterTestParallelDevice(u"LPT2:");
    SetValue(u"Printers\\Ports", u"DefaultPrintPort", wce::REG_SZ, u"LPT2:", 10);
    ASSERT_EQ(Open(nullptr), PortKindParallel);
    EXPECT_EQ(PortNameInUse(), u"LPT2:");
}

TEST_F(PortOpenTest, SerialNamesOpenTheCutNameAtTheNamedRate) {
    Pty com1(u"COM1:");
    Pty com2(u"COM2:");
    ASSERT_TRUE(com1.ok() && com2.ok());
    struct Case {
        const char16_t* name;
        Pty* pty;
        const char16_t* opened;
        speed_t speed;
    } cases[] = {
        {u"com2:", &com2, u"com2:", B19200},   {u"COM1: 115200", &com1, u"COM1:", B115200},
        {u"COM1:9600", &com1, u"COM1:", B600}, {u"COM1: 31250", &com1, u"COM1:", B19200},
        {u"COM12:", &com1, u"COM1:", B19200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(wce::WideToUtf8(c.name));
        SetTtySpeed(c.pty->slave(), B2400);
        ASSERT_EQ(Open(c.name), PortKindSerial);
        EXPECT_EQ(PortNameInUse(), c.opened);
        EXPECT_EQ(TtySpeed(c.pty->slave()), c.speed);
        PortClose(kind_);
    }
}

TEST_F(PortOpenTest, TimeOutMustBeAFourByteNumber) {
    Pty pty(u"COM1:");
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(Open(u"COM1:"), PortKindSerial);
    EXPECT_EQ(WriteTimeoutMs(), 45000u);  // missing
    PortClose(kind_);

    SetString(u"PrintSettings", u"TimeOut", u"3");
    ASSERT_EQ(Open(u"COM1:"), PortKindSerial);
    EXPECT_EQ(WriteTimeoutMs(), 45000u);
    PortClose(kind_);

    wce::BYTE eight[8] = {3};
    SetValue(u"PrintSettings", u"TimeOut", wce::REG_BINARY, eight, sizeof eight);
    ASSERT_EQ(Open(u"COM1:"), PortKindSerial);
    EXPECT_EQ(WriteTimeoutMs(), 45000u);
    PortClose(kind_);

    SetTimeout(3);
    ASSERT_EQ(Open(u"COM1:"), PortKindSerial);
    EXPECT_EQ(WriteTimeoutMs(), 3000u);
}

TEST_F(PortOpenTest, TimeOutOfNoneOrOfAgesIsTheDefault) {
    // 0 would be no limit at all; 5e9 ms does not even fit in 32 bits.
    Pty pty(u"COM1:");
    ASSERT_TRUE(pty.ok());
    for (wce::DWORD seconds : {0u, 3601u, 5000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(seconds);
        SetTimeout(seconds);
        ASSERT_EQ(Open(u"COM1:"), PortKindSerial);
        EXPECT_EQ(WriteTimeoutMs(), 45000u);
        PortClose(kind_);
    }
    SetTimeout(3600);
    ASSERT_EQ(Open(u"COM1:"), PortKindSerial);
    EXPECT_EQ(WriteTimeoutMs(), 3600000u);
}

TEST_F(PortOpenTest, WriteChecksComeInOrder) {
    const wce::BYTE byte = 0x1B;
    wce::SetLastError(0);
    EXPECT_EQ(PortWrite(PortKindNone, &byte, 1), 0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_UNKNOWN_PORT);
    EXPECT_EQ(PortWrite(PortKindSerial, &byte, 1), 0);  // nothing open
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_WRITE_FAULT);

    auto device = wce::RegisterTestParallelDevice(u"LPT1:");
    ASSERT_EQ(Open(u"LPT1:"), PortKindParallel);
    EXPECT_EQ(PortWrite(kind_, nullptr, 1), 0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PortWrite(7, &byte, 1), 0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_UNKNOWN_PORT);
    device->bytesPerWrite = 0;  // a count of 0 must not even reach the stalled device
    EXPECT_EQ(PortWrite(kind_, &byte, 0), 1);
    EXPECT_EQ(device->writeCalls, 0u);
}

TEST_F(PortOpenTest, CloseReleasesTheNamesAndTheHandle) {
    auto device = wce::RegisterTestParallelDevice(u"LPT1:");
    ASSERT_EQ(Open(u"LPT1:"), PortKindParallel);
    ASSERT_TRUE(Port().printerName);
    PortClose(kind_);
    EXPECT_FALSE(Port().portName);
    EXPECT_FALSE(Port().printerName);
    EXPECT_FALSE(HasTransport(Port()));
    const wce::BYTE byte = 0;
    EXPECT_EQ(PortWrite(kind_, &byte, 1), 0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_WRITE_FAULT);
}

TEST_F(PortOpenTest, BadNamesFailAsUnknownPortsAndCreateNothing) {
    std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(registry_.dir());
    ::setenv("QX_IRDA_DIR", registry_.dir().c_str(), 1);  // no infrared device in range
    std::u16string thousand(1000, u'A');
    std::u16string nonAscii = u"\u00C7OM1:";
    const char16_t* names[] = {u"",      u"COM",           u"LPT",           u"com", u"COM0:",
                               u"LPT7:", thousand.c_str(), nonAscii.c_str(), u"IrDA"};
    for (const char16_t* name : names) {
        SCOPED_TRACE(wce::WideToUtf8(name));
        wce::SetLastError(0);
        EXPECT_EQ(Open(name), PortKindNone);
        EXPECT_EQ(wce::GetLastError(), wce::ERROR_UNKNOWN_PORT);
        EXPECT_FALSE(Port().portName);
    }
    std::filesystem::current_path(before);
    for (const auto& entry : std::filesystem::directory_iterator(registry_.dir())) {
        EXPECT_EQ(entry.path().filename().string().rfind("registry.reg", 0), 0u)
            << "stray file " << entry.path();
    }
}

TEST_F(PortOpenTest, LongSerialNameIsCutToItsDevice) {
    Pty pty(u"COM1:");
    ASSERT_TRUE(pty.ok());
    std::u16string name = u"COM1:" + std::u16string(995, u'9');
    ASSERT_EQ(Open(name.c_str()), PortKindSerial);
    EXPECT_EQ(PortNameInUse(), u"COM1:");
    EXPECT_EQ(TtySpeed(pty.slave()), speed_t(B19200));
}

}  // namespace
}  // namespace qx470
