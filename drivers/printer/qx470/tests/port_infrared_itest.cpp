// The infrared transport against simulated devices in range: discovery, busy devices,
// the send unit, and the prompt when the printer stops taking data.
#include "port_peer_support.h"  // before the socket stack's header

#include <chrono>
#include <cstdlib>
#include <string>

#include "port_test_support.h"
#include "wce/ui.h"
#include "wce/winsock.h"

namespace qx470 {
namespace {

using namespace qx470::testing;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char((i * 31 + seed + i / 509) & 0xFF);
    return bytes;
}

bool StackReleased() {
    return wce::WSACleanup() == wce::SOCKET_ERROR &&
           wce::WSAGetLastError() == wce::WSANOTINITIALISED;
}

class InfraredPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = registry_.dir() + "/irda";
        ASSERT_EQ(::mkdir(folder_.c_str(), 0700), 0);
        ::setenv("QX_IRDA_DIR", folder_.c_str(), 1);
        SetTimeout(1);
    }
    void TearDown() override { PortClose(PortKindInfrared); }

    int Write(const std::string& bytes) {
        return PortWrite(PortKindInfrared, reinterpret_cast<const wce::BYTE*>(bytes.data()),
                         wce::DWORD(bytes.size()));
    }

    TempRegistry registry_;
    std::string folder_;
    wce::ScriptedMessageBoxes boxes_;
};

TEST_F(InfraredPortTest, NoPrinterInRangeFailsAtOnce) {
    auto start = Clock::now();
    ASSERT_EQ(PortOpen(u"IRDA"), PortKindNone);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_UNKNOWN_PORT);
    EXPECT_LT(SecondsSince(start), 0.5);  // six reads of the list, no pauses
    EXPECT_EQ(Port().portName, nullptr);
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_TRUE(StackReleased());
}

TEST_F(InfraredPortTest, DeviceWithoutIrLptIsNotUsed) {
    IrdaDevice other(folder_, "0a0b0c0d", 1024, 0, true, "IrOBEX");
    ASSERT_TRUE(other.ok());
    ASSERT_EQ(PortOpen(u"IrDA"), PortKindNone);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_UNKNOWN_PORT);
    EXPECT_EQ(other.connections(), 0);
    EXPECT_TRUE(StackReleased());
}

TEST_F(InfraredPortTest, DataGoesOutInPiecesOfTheSendUnit) {
    // The link refuses any send longer than its unit, so whole blocks would fail.
    IrdaDevice printer(folder_, "0a0b0c0d", 100);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(PortOpen(u"IRDA anything"), PortKindInfrared);
    EXPECT_EQ(Port().sendTimeoutSeconds, 1u);
    std::string bytes = Pattern(3 * 1024 + 250, 3);
    for (size_t at = 0; at < bytes.size(); at += 1024) ASSERT_EQ(Write(bytes.substr(at, 1024)), 1);
    EXPECT_EQ(Write(""), 1);
    PortClose(PortKindInfrared);
    EXPECT_TRUE(printer.inbox().Wait() == bytes);
    EXPECT_EQ(printer.connections(), 1);
    EXPECT_TRUE(StackReleased());
}

TEST_F(InfraredPortTest, TimeOutOfNoneWaitsTheDefault) {
    SetTimeout(0);  // would be a select that never returns for a printer out of reach
    IrdaDevice printer(folder_, "0a0b0c0d", 100);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(PortOpen(u"IRDA"), PortKindInfrared);
    EXPECT_EQ(Port().sendTimeoutSeconds, 45u);
}

TEST_F(InfraredPortTest, BusyPrinterIsTriedAgainAfterASecond) {
    IrdaDevice printer(folder_, "00000001", 1024, 2);
    ASSERT_TRUE(printer.ok());
    auto start = Clock::now();
    ASSERT_EQ(PortOpen(u"IRDA"), PortKindInfrared);
    double seconds = SecondsSince(start);
    EXPECT_GE(seconds, 1.9);
    EXPECT_LT(seconds, 3.5);
    EXPECT_EQ(printer.connections(), 3);
    ASSERT_EQ(Write("label"), 1);
    PortClose(PortKindInfrared);
    EXPECT_EQ(printer.inbox().Wait(), "label");
}

TEST_F(InfraredPortTest, EightBusyWaitsServeAllDevicesOfOneOpen) {
    IrdaDevice first(folder_, "00000001", 1024, -1);
    IrdaDevice second(folder_, "00000002", 1024, 1);
    ASSERT_TRUE(first.ok() && second.ok());
    auto start = Clock::now();
    ASSERT_EQ(PortOpen(u"IRDA"), PortKindNone);
    double seconds = SecondsSince(start);
    EXPECT_GE(seconds, 7.8);
    EXPECT_LT(seconds, 10.0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_UNKNOWN_PORT);
    EXPECT_EQ(first.connections(), 9);   // the first try and eight after a wait each
    EXPECT_EQ(second.connections(), 1);  // busy once, and no waits were left
    EXPECT_TRUE(StackReleased());
}

TEST_F(InfraredPortTest, SendTimeOutPromptsAndCancelEndsTheJob) {
    IrdaDevice printer(folder_, "0a0b0c0d", 1024, 0, false);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(PortOpen(u"IRDA"), PortKindInfrared);
    boxes_.Add(wce::IDRETRY);
    boxes_.Add(wce::IDCANCEL);
    int result = 1;
    for (unsigned block = 0; result && block < 65536; ++block) result = Write(Pattern(1024, block));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(wce::GetLastError(), wce::DWORD(wce::WSAETIMEDOUT));
    auto shown = boxes_.shown();
    ASSERT_EQ(shown.size(), 2u);
    for (const auto& box : shown) {
        EXPECT_EQ(box.type, 0x00010015u);
        EXPECT_NE(box.text.find(u"not responding"), std::u16string::npos);
        EXPECT_NE(box.text.find(u"Port: IRDA"), std::u16string::npos);
    }
    EXPECT_FALSE(HasTransport(Port()));
    EXPECT_TRUE(StackReleased());

    EXPECT_EQ(Write("x"), 0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_WRITE_FAULT);
    EXPECT_EQ(boxes_.shown().size(), 2u);
}

}  // namespace
}  // namespace qx470
