// The serial transport against a real pseudo-terminal: the line settings that reach
// the tty, the bytes that come out, and the prompt when the printer stops reading.
#include <termios.h>

#include <chrono>
#include <string>

#include "port_test_support.h"
#include "wce/io.h"
#include "wce/ui.h"

namespace qx470 {
namespace {

using namespace qx470::testing;
using Clock = std::chrono::steady_clock;

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char((i * 7 + seed + i / 256) & 0xFF);
    return bytes;
}

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pty_.ok()); }
    void TearDown() override { PortClose(PortKindSerial); }

    // Writes 1,024-byte blocks until a prompt was shown or a write failed; what was
    // handed over is kept in sent_.
    int WriteUntilPrompt(wce::ScriptedMessageBoxes& boxes, double* stallSeconds) {
        for (unsigned block = 0; block < 8192; ++block) {
            std::string bytes = Pattern(1024, block);
            auto start = Clock::now();
            int result = PortWrite(PortKindSerial, reinterpret_cast<const wce::BYTE*>(bytes.data()),
                                   wce::DWORD(bytes.size()));
            if (result) sent_ += bytes;
            if (!boxes.shown().empty() || !result) {
                *stallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
                return result;
            }
        }
        return -1;
    }

    TempRegistry registry_;
    Pty pty_{u"COM1:"};
    std::string sent_;
};

TEST_F(SerialPortTest, LineSettingsReachTheTty) {
    // Leave the port as another program might have: every DCB flag set, two stop bits,
    // output processing on.
    wce::HANDLE other = wce::CreateFileW(u"COM1:", wce::GENERIC_READ | wce::GENERIC_WRITE, 0,
                                         nullptr, wce::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, wce::INVALID_HANDLE_VALUE);
    wce::DCB dcb{};
    ASSERT_TRUE(wce::GetCommState(other, &dcb));
    wce::SetDcbFlagWord(dcb, 0xFFFFFFFF);
    dcb.StopBits = wce::TWOSTOPBITS;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    ASSERT_TRUE(wce::SetCommState(other, &dcb));
    wce::CloseHandle(other);
    termios before{};
    tcgetattr(pty_.slave(), &before);
    before.c_oflag |= OPOST | ONLCR;
    tcsetattr(pty_.slave(), TCSANOW, &before);

    ASSERT_EQ(PortOpen(u"COM1: 57600"), PortKindSerial);

    termios tio{};
    ASSERT_EQ(tcgetattr(pty_.slave(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B57600));
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_cflag & PARENB);
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF));
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO));

    wce::DCB now{};
    ASSERT_TRUE(wce::GetCommState(Port().handle, &now));
    EXPECT_EQ(wce::DcbFlagWord(now), 0xFFFF909Fu);
    EXPECT_EQ(now.fDtrControl, wce::DTR_CONTROL_ENABLE);
    EXPECT_EQ(now.fRtsControl, wce::RTS_CONTROL_ENABLE);
    EXPECT_EQ(now.StopBits, wce::ONESTOPBIT);
    EXPECT_EQ(now.Parity, wce::NOPARITY);
    EXPECT_EQ(now.BaudRate, 57600u);
}

TEST_F(SerialPortTest, BytesArriveIntactAndInOrder) {
    ASSERT_EQ(PortOpen(u"COM1:"), PortKindSerial);
    std::string bytes;
    for (int i = 0; i < 3000; ++i) bytes += char(i % 256);  // every byte, \n and XOFF included
    for (size_t at = 0; at < bytes.size(); at += 1024) {
        std::string block = bytes.substr(at, 1024);
        ASSERT_EQ(PortWrite(PortKindSerial, reinterpret_cast<const wce::BYTE*>(block.data()),
                            wce::DWORD(block.size())),
                  1);
    }
    EXPECT_EQ(pty_.Drain(), bytes);
}

TEST_F(SerialPortTest, StalledReaderPromptsAfterTimeOutAndRetryResends) {
    SetTimeout(1);
    ASSERT_EQ(PortOpen(u"COM1:"), PortKindSerial);
    wce::ScriptedMessageBoxes boxes({wce::IDRETRY});
    std::string received;
    boxes.OnShow([&](const wce::ScriptedMessageBoxes::Shown&) { received += pty_.Drain(0); });

    double stallSeconds = 0;
    EXPECT_EQ(WriteUntilPrompt(boxes, &stallSeconds), 1);
    received += pty_.Drain();

    auto shown = boxes.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_GE(stallSeconds, 0.9);
    EXPECT_EQ(shown[0].type, 0x00010015u);
    EXPECT_EQ(shown[0].caption, u"Error");
    EXPECT_NE(shown[0].text.find(u"not responding"), std::u16string::npos);
    EXPECT_NE(shown[0].text.find(u"Printer: \nPort: COM1:"), std::u16string::npos);
    ASSERT_EQ(received.size(), sent_.size());
    EXPECT_TRUE(received == sent_) << "bytes lost, doubled or reordered across the retry";
}

TEST_F(SerialPortTest, CancelClosesThePortForTheRestOfTheJob) {
    SetTimeout(1);
    ASSERT_EQ(PortOpen(u"COM1:"), PortKindSerial);
    wce::ScriptedMessageBoxes boxes({wce::IDCANCEL});

    double stallSeconds = 0;
    EXPECT_EQ(WriteUntilPrompt(boxes, &stallSeconds), 0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_CANCELLED);
    EXPECT_EQ(boxes.shown().size(), 1u);
    EXPECT_FALSE(HasTransport(Port()));

    const wce::BYTE byte = 0;
    EXPECT_EQ(PortWrite(PortKindSerial, &byte, 1), 0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_WRITE_FAULT);
    EXPECT_EQ(boxes.shown().size(), 1u);
}

}  // namespace
}  // namespace qx470
