// The network transport against printers on real loopback sockets: what the open shows
// and connects to, the bytes that arrive, and how sends end when the printer misbehaves.
#include "port_peer_support.h"  // before the socket stack's header

#include <chrono>
#include <cstring>
#include <string>

#include "port_test_support.h"
#include "wce/ui.h"
#include "wce/winsock.h"

namespace qx470 {
namespace {

using namespace qx470::testing;
using Clock = std::chrono::steady_clock;
using Mode = TcpPrinter::Mode;

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char((i * 13 + seed + i / 251) & 0xFF);
    return bytes;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// True when every start of the socket stack has been released again.
bool StackReleased() {
    return wce::WSACleanup() == wce::SOCKET_ERROR &&
           wce::WSAGetLastError() == wce::WSANOTINITIALISED;
}

class NetworkPortTest : public ::testing::Test {
  protected:
    void SetUp() override { SetTimeout(1); }
    void TearDown() override { PortClose(PortKindNetwork); }

    int Write(const std::string& bytes) {
        return PortWrite(PortKindNetwork, reinterpret_cast<const wce::BYTE*>(bytes.data()),
                         wce::DWORD(bytes.size()));
    }
    // Writes 1,024-byte blocks until one fails; returns how long the failing one took.
    double WriteUntilFailure(size_t maxBytes = 64u << 20) {
        for (unsigned block = 0; sent_.size() < maxBytes; ++block) {
            std::string bytes = Pattern(1024, block);
            auto start = Clock::now();
            if (!Write(bytes)) return SecondsSince(start);
            sent_ += bytes;
        }
        return -1;
    }
    void ExpectLaterWritesFailAtOnce() {
        auto start = Clock::now();
        EXPECT_EQ(Write("x"), 0);
        EXPECT_EQ(wce::GetLastError(), wce::ERROR_WRITE_FAULT);
        EXPECT_LT(SecondsSince(start), 0.2);
    }

    TempRegistry registry_;
    wce::ScriptedMessageBoxes boxes_;
    std::string sent_;
};

TEST_F(NetworkPortTest, ReachablePrinterConnectsAndBytesArriveIntact) {
    TcpPrinter printer("127.0.9.1", Mode::kReadAll);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(PortOpen(u"127.0.9.1"), PortKindNetwork);
    EXPECT_EQ(Port().handle, kNetworkHandle);
    const wce::BYTE expected[8] = {2, 0, 0x23, 0x8C, 127, 0, 9, 1};  // AF_INET, 9100, address
    EXPECT_EQ(std::memcmp(Port().serverAddress, expected, sizeof expected), 0);

    std::string bytes;
    for (int i = 0; i < 5000; ++i) bytes += char(i % 256);
    for (size_t at = 0; at < bytes.size(); at += 1024) ASSERT_EQ(Write(bytes.substr(at, 1024)), 1);
    EXPECT_EQ(Write(""), 1);
    PortClose(PortKindNetwork);

    EXPECT_TRUE(printer.inbox().Wait() == bytes);
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_TRUE(StackReleased());
}

TEST_F(NetworkPortTest, RefusedConnectionShowsOneMessageAndReleasesTheStack) {
    ASSERT_EQ(PortOpen(u"127.0.9.2"), PortKindNone);  // nothing listens there
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_UNKNOWN_PORT);
    auto shown = boxes_.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, u"Fail to Connection to Printer");
    EXPECT_EQ(shown[0].caption, u"ERROR");
    EXPECT_EQ(shown[0].type, wce::MB_OK);
    EXPECT_EQ(Port().portName, nullptr);
    EXPECT_TRUE(StackReleased());

    const wce::BYTE byte = 0;
    EXPECT_EQ(PortWrite(PortKindNone, &byte, 1), 0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_UNKNOWN_PORT);
}

TEST_F(NetworkPortTest, HostNameIsNotLookedUp) {
    // Were "localhost" resolved, this printer would take the connection.
    TcpPrinter printer("127.0.0.1", Mode::kReadAll);
    ASSERT_EQ(PortOpen(u"localhost"), PortKindNone);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_UNKNOWN_PORT);
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text, u"Fail to Connection to Printer");
    EXPECT_FALSE(printer.accepted());
}

TEST_F(NetworkPortTest, PortNameIsCutTo255Characters) {
    // Octal zeros pad the last part; the digit after the cut would turn 4 into 045.
    std::u16string name = u"127.0.9." + std::u16string(246, u'0') + u"4";
    ASSERT_EQ(name.size(), 255u);
    name += u"5 and whatever else follows";
    TcpPrinter printer("127.0.9.4", Mode::kReadAll);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(PortOpen(name.c_str()), PortKindNetwork);
    EXPECT_EQ(std::strlen(Port().addressText), 255u);
    ASSERT_EQ(Write("cut"), 1);
    PortClose(PortKindNetwork);
    EXPECT_EQ(printer.inbox().Wait(), "cut");
}

TEST_F(NetworkPortTest, BrokenConnectionTriesFiveSendsASecondApartThenFails) {
    TcpPrinter printer("127.0.9.5", Mode::kResetAfter, 2048);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(PortOpen(u"127.0.9.5"), PortKindNetwork);
    ASSERT_EQ(Write(Pattern(1024, 1)), 1);
    ASSERT_EQ(Write(Pattern(1024, 2)), 1);
    EXPECT_EQ(printer.inbox().Wait().size(), 2048u);  // then the printer breaks the line

    double seconds = WriteUntilFailure();
    EXPECT_GE(seconds, 3.8);  // four pauses of 1 s between five sends
    EXPECT_LT(seconds, 6.0);
    EXPECT_FALSE(HasTransport(Port()));
    ExpectLaterWritesFailAtOnce();
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(NetworkPortTest, PrinterThatNeverReadsEndsTheJobInsteadOfHanging) {
    TcpPrinter printer("127.0.9.6", Mode::kNeverRead, 0, 4096);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(PortOpen(u"127.0.9.6"), PortKindNetwork);
    double seconds = WriteUntilFailure();
    // "TimeOut" (1 s) from the last byte taken and four times that for what the
    // printer may hold, then the four other tries 1 s apart: the stall is bounded once,
    // not once for each try.
    EXPECT_GE(seconds, 8.5);
    EXPECT_LT(seconds, 11.0);
    EXPECT_EQ(wce::GetLastError(), wce::DWORD(wce::WSAETIMEDOUT));
    ExpectLaterWritesFailAtOnce();
}

TEST_F(NetworkPortTest, PrinterThatClosesAfterSomeBytesGetsThemInOrder) {
    TcpPrinter printer("127.0.9.7", Mode::kCloseAfter, 10000);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(PortOpen(u"127.0.9.7"), PortKindNetwork);
    double seconds = WriteUntilFailure();
    EXPECT_GT(seconds, 0);
    EXPECT_LT(seconds, 6.0);
    std::string received = printer.inbox().Wait();
    ASSERT_EQ(received.size(), 10000u);
    EXPECT_TRUE(received == sent_.substr(0, 10000)) << "bytes lost or reordered";
    ExpectLaterWritesFailAtOnce();
}

TEST_F(NetworkPortTest, SlowReaderGetsEveryByteInOrder) {
    // A small window keeps the send blocked while the printer reads one byte at a time.
    TcpPrinter printer("127.0.9.8", Mode::kOneByteAtATime, 0, 2048);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(PortOpen(u"127.0.9.8"), PortKindNetwork);
    std::string bytes = Pattern(300 * 1024, 7);
    for (size_t at = 0; at < bytes.size(); at += 1024) ASSERT_EQ(Write(bytes.substr(at, 1024)), 1);
    PortClose(PortKindNetwork);
    std::string received = printer.inbox().Wait(20000);
    ASSERT_EQ(received.size(), bytes.size());
    EXPECT_TRUE(received == bytes) << "bytes lost or reordered";
}

TEST_F(NetworkPortTest, ListenerThatNeverAnswersFailsTheOpenAfterTheTimeOut) {
    SilentListener listener("127.0.9.9");
    ASSERT_TRUE(listener.ok());
    auto start = Clock::now();
    ASSERT_EQ(PortOpen(u"127.0.9.9"), PortKindNone);
    double seconds = SecondsSince(start);
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 3.0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_UNKNOWN_PORT);
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text, u"Fail to Connection to Printer");
    EXPECT_TRUE(StackReleased());
}

TEST_F(NetworkPortTest, EndOfDocumentWaitsForThePrinterAndTheNextDocumentConnectsAgain) {
    std::string first = Pattern(3000, 1), second = Pattern(2000, 2);
    {
        TcpPrinter printer("127.0.9.10", Mode::kReadAll);
        ASSERT_TRUE(printer.ok());
        ASSERT_EQ(PortOpen(u"127.0.9.10"), PortKindNetwork);
        ASSERT_EQ(Write(first), 1);
        EXPECT_EQ(PortFinishDocument(PortKindNetwork), 1);
        // The printer has read everything and closed by the time the end returns.
        EXPECT_TRUE(printer.inbox().Wait(0) == first);
        EXPECT_EQ(PortFinishDocument(PortKindNetwork), 1);  // nothing more to end
    }
    TcpPrinter printer("127.0.9.10", Mode::kReadAll);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(Write(second), 1);
    EXPECT_EQ(PortFinishDocument(PortKindNetwork), 1);
    EXPECT_TRUE(printer.inbox().Wait(0) == second);
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(NetworkPortTest, SmallDocumentToAPrinterThatNeverReadsFailsAtItsEnd) {
    TcpPrinter printer("127.0.9.11", Mode::kNeverRead);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(PortOpen(u"127.0.9.11"), PortKindNetwork);
    ASSERT_EQ(Write(Pattern(3000, 3)), 1);  // the socket buffers take it all
    auto start = Clock::now();
    EXPECT_EQ(PortFinishDocument(PortKindNetwork), 0);
    double seconds = SecondsSince(start);
    // It acknowledged all 3000 bytes, so it may be reading them from its buffer without
    // a sign: "TimeOut" (1 s) and four times that again (they would take 30 s at the
    // slowest pace).
    EXPECT_GE(seconds, 4.9);
    EXPECT_LT(seconds, 6.5);
    EXPECT_EQ(wce::GetLastError(), wce::DWORD(wce::WSAETIMEDOUT));
    EXPECT_FALSE(HasTransport(Port()));
    ExpectLaterWritesFailAtOnce();
    EXPECT_EQ(printer.laterConnections(), 0);
}

TEST_F(NetworkPortTest, PrinterThatDropsTheLineBeforeTheEndFailsIt) {
    TcpPrinter printer("127.0.9.12", Mode::kResetAfter, 100);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(PortOpen(u"127.0.9.12"), PortKindNetwork);
    ASSERT_EQ(Write(Pattern(3000, 4)), 1);
    EXPECT_EQ(printer.inbox().Wait().size(), 100u);
    EXPECT_EQ(PortFinishDocument(PortKindNetwork), 0);
    ExpectLaterWritesFailAtOnce();
}

TEST_F(NetworkPortTest, TimeOutOfNoneLimitsEachSendToTheDefault) {
    SetTimeout(0);
    TcpPrinter printer("127.0.9.13", Mode::kReadAll);
    ASSERT_TRUE(printer.ok());
    ASSERT_EQ(PortOpen(u"127.0.9.13"), PortKindNetwork);
    wce::DWORD ms = 0;
    int size = sizeof ms;
    ASSERT_EQ(wce::getsockopt(Port().tcpSocket, wce::SOL_SOCKET, wce::SO_SNDTIMEO,
                              reinterpret_cast<char*>(&ms), &size),
              0);
    EXPECT_EQ(ms, 45000u);
    EXPECT_EQ(Port().sendTimeoutSeconds, 45u);  // the connect and end-of-document waits
}

}  // namespace
}  // namespace qx470
