// The utility's printer link against real peers: printers on loopback TCP and
// pseudo-terminals standing in for serial printers.
#include "../../../drivers/printer/qx470/tests/port_peer_support.h"  // before winsock.h

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../../../tests/support/driver_key.h"
#include "nv_upload.h"
#include "printer_link.h"
#include "wce/io.h"
#include "wce/text.h"
#include "wce/ui.h"

namespace qxsetup {
namespace {

using qx470::testing::TcpPrinter;
using Mode = TcpPrinter::Mode;
using Clock = std::chrono::steady_clock;

std::vector<wce::BYTE> Pattern(std::size_t size) {
    std::vector<wce::BYTE> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = wce::BYTE((i * 7 + i / 253) & 0xFF);
    return bytes;
}

std::string AsString(const std::vector<wce::BYTE>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(NetworkLink, ARefusedConnectTellsTheUserAndSendsGoNowhere) {
    wce::ScriptedMessageBoxes boxes;
    NetworkLink link;
    NvPrinterLink nv{NvLinkKind::kSerial, &link};
    EXPECT_FALSE(OpenPrinterLink(nv, u"127.0.41.1", 9100));  // nobody listens there
    EXPECT_EQ(nv.kind, NvLinkKind::kNetwork);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, u"Fail to Connection to Printer");
    EXPECT_EQ(boxes.shown()[0].caption, ApplicationTitle());
    EXPECT_EQ(link.tcpSocket, wce::INVALID_SOCKET);
    wce::BYTE byte = 0x1B;
    EXPECT_EQ(link.Send(&byte, 1), 0);
    EXPECT_FALSE(SendToPrinter(nv, &byte, 1));
}

TEST(NetworkLink, APrinterThatNeverTakesTheConnectionFailsWithinTheLinksTime) {
    qx470::testing::SilentListener listener("127.0.41.9");
    ASSERT_TRUE(listener.ok());
    wce::ScriptedMessageBoxes boxes;
    NetworkLink link;
    link.connectTimeoutMs = 1000;
    auto start = Clock::now();
    EXPECT_FALSE(link.Connect(u"127.0.41.9", 9100));
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 3.0);  // not the system's two minutes
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, u"Fail to Connection to Printer");
    EXPECT_EQ(link.tcpSocket, wce::INVALID_SOCKET);
    EXPECT_EQ(link.state, 0);
}

TEST(NetworkLink, ASecondConnectClosesTheFirstConnection) {
    TcpPrinter first("127.0.41.2", Mode::kReadAll), second("127.0.41.3", Mode::kReadAll);
    ASSERT_TRUE(first.ok() && second.ok());
    NetworkLink link;
    ASSERT_TRUE(link.Connect(u"127.0.41.2", 9100));
    ASSERT_TRUE(link.Connect(u"127.0.41.3", 9100));
    EXPECT_EQ(first.inbox().Wait(), "");  // its connection ended
    wce::BYTE hello[] = {0x1B, 0x40};
    EXPECT_EQ(link.Send(hello, 2), 2);
    link.Close();
    EXPECT_EQ(second.inbox().Wait(), "\x1B\x40");
}

// A printer that reads one byte at a time keeps the socket full: the rest of each block
// must follow the part the socket took, in order.
TEST(NetworkLink, APeerTakingOneByteAtATimeGetsWholeBlocks) {
    TcpPrinter printer("127.0.41.5", Mode::kOneByteAtATime, 0, 4096);
    ASSERT_TRUE(printer.ok());
    NetworkLink link;
    NvPrinterLink nv{NvLinkKind::kNetwork, &link};
    ASSERT_TRUE(OpenPrinterLink(nv, u"127.0.41.5", 9100));
    std::vector<wce::BYTE> first = Pattern(150000), second = Pattern(70001);
    second[0] = 0x42;
    EXPECT_TRUE(SendToPrinter(nv, first.data(), int(first.size())));
    EXPECT_TRUE(SendToPrinter(nv, second.data(), int(second.size())));
    ClosePrinterLink(nv);
    std::string received = printer.inbox().Wait(60000);
    ASSERT_EQ(received.size(), first.size() + second.size());
    EXPECT_TRUE(received == AsString(first) + AsString(second));
}

TEST(NetworkLink, APrinterThatNeverReadsFailsTheBlockAfterTheStallTime) {
    TcpPrinter printer("127.0.41.6", Mode::kNeverRead, 0, 4096);
    ASSERT_TRUE(printer.ok());
    NetworkLink link;
    NvPrinterLink nv{NvLinkKind::kNetwork, &link};
    nv.sendStallMs = 300;
    ASSERT_TRUE(OpenPrinterLink(nv, u"127.0.41.6", 9100));
    // The socket itself never waits: it takes what fits, then refuses.
    std::vector<wce::BYTE> big = Pattern(8u << 20);
    int taken = link.Send(big.data(), int(big.size()));
    EXPECT_GT(taken, 0);
    EXPECT_LT(taken, int(big.size()));
    EXPECT_EQ(link.Send(big.data(), int(big.size())), wce::SOCKET_ERROR);
    EXPECT_EQ(wce::WSAGetLastError(), wce::WSAEWOULDBLOCK);
    EXPECT_FALSE(SendToPrinter(nv, big.data(), int(big.size())));
    ClosePrinterLink(nv);
}

// A pseudo-terminal named as a COMn: port in a private registry.
class PtyPort {
  public:
    explicit PtyPort(const char16_t* name) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        path_ = ::ptsname(master_);
        slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);  // keeps the terminal alive
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        qxtest::SetText(name, wce::Utf8ToWide(path_), u"Platform\\Devices");
    }
    ~PtyPort() {
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }
    bool ok() const { return slave_ >= 0; }
    int slave() const { return slave_; }

    // The bytes in bursts: a quiet spell of quietMs ends a burst; endMs of quiet ends.
    std::vector<std::size_t> Bursts(std::string* all, int quietMs, int endMs) {
        std::vector<std::size_t> bursts;
        std::size_t current = 0;
        for (;;) {
            pollfd entry{master_, POLLIN, 0};
            int ready = ::poll(&entry, 1, current ? quietMs : endMs);
            if (ready <= 0) {
                if (!current) return bursts;
                bursts.push_back(current);
                current = 0;
                continue;
            }
            char chunk[4096];
            ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0) return bursts;
            all->append(chunk, std::size_t(n));
            current += std::size_t(n);
        }
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

class SerialLinkTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pty_.ok()); }
    qxtest::TempWorld world_{"qxlink"};
    PtyPort pty_{u"COM4:"};
    SerialLink link_;
};

TEST_F(SerialLinkTest, OpenSetsTheLineAndTimeOutsAndAnUnknownRateLeavesThePortOpen) {
    wce::ScriptedMessageBoxes boxes;
    ASSERT_TRUE(link_.Open(u"COM4:", 10));
    wce::DCB dcb{};
    ASSERT_TRUE(wce::GetCommState(link_.handle, &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(wce::DcbFlagWord(dcb) & 0x7FFF, 0x109Du);
    EXPECT_EQ(dcb.ByteSize * 100 + dcb.Parity * 10 + dcb.StopBits, 800);
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty_.slave(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B115200));
    wce::COMMTIMEOUTS t{};
    ASSERT_TRUE(wce::GetCommTimeouts(link_.handle, &t));
    // At 115200 bit/s writes have no time-out at all; at 1200, 64 ms a byte.
    EXPECT_EQ(std::vector<wce::DWORD>({t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                                       t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                                       t.WriteTotalTimeoutConstant}),
              std::vector<wce::DWORD>({wce::MAXDWORD, 0, 100, 0, 0}));
    ASSERT_TRUE(link_.Open(u"COM4:", 3));
    ASSERT_TRUE(wce::GetCommTimeouts(link_.handle, &t));
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 64u);
    EXPECT_TRUE(boxes.shown().empty());

    EXPECT_FALSE(link_.Open(u"COM4:", 2));
    EXPECT_EQ(link_.isOpen, 1);  // until Close
    link_.Close();
    EXPECT_EQ(link_.handle, nullptr);
    wce::BYTE byte = 0;
    EXPECT_FALSE(link_.Write(&byte, 1));
    // The manager's open closes a port it could not set up.
    NvPrinterLink nv{NvLinkKind::kNetwork, &TheNetworkLink(), &link_};
    EXPECT_FALSE(OpenPrinterLink(nv, u"COM4:", 300));
    EXPECT_EQ(nv.kind, NvLinkKind::kSerial);
    EXPECT_EQ(link_.isOpen, 0);
}

TEST_F(SerialLinkTest, LongWritesGoInPiecesWithAPauseAfterEach) {
    ASSERT_TRUE(link_.Open(u"COM4:", 10));
    std::vector<wce::BYTE> bytes = Pattern(2500);
    bool written = false;
    Clock::time_point start = Clock::now();
    std::thread writer([&] { written = link_.Write(bytes.data(), int(bytes.size())); });
    std::string received;
    std::vector<std::size_t> bursts = pty_.Bursts(&received, 150, 1500);
    writer.join();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_TRUE(written);
    EXPECT_EQ(bursts, (std::vector<std::size_t>{1024, 1024, 452}));
    EXPECT_TRUE(received == AsString(bytes));
    EXPECT_GE(seconds, 0.9);  // the pause follows the last piece too

    std::vector<wce::BYTE> shortOne = Pattern(1000);
    EXPECT_TRUE(link_.Write(shortOne.data(), int(shortOne.size())));
    received.clear();
    EXPECT_EQ(pty_.Bursts(&received, 150, 600), std::vector<std::size_t>{1000});
    EXPECT_TRUE(link_.Write(shortOne.data(), 0));
}

// A printer that takes nothing until the write time-out ends the write instead of
// holding it in a loop for as long as the printer stalls.
TEST_F(SerialLinkTest, APieceOfWhichNothingWentEndsTheWrite) {
    ASSERT_TRUE(link_.Open(u"COM4:", 6));
    wce::COMMTIMEOUTS t{};
    ASSERT_TRUE(wce::GetCommTimeouts(link_.handle, &t));
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = 200;
    ASSERT_TRUE(wce::SetCommTimeouts(link_.handle, &t));
    // The terminal's buffer towards the printer is filled by the other end of the line.
    int fill = ::dup(pty_.slave());
    ::fcntl(fill, F_SETFL, ::fcntl(fill, F_GETFL) | O_NONBLOCK);
    std::vector<char> chunk(4096, 'x');
    for (int refused = 0; refused < 5;) {  // the kernel frees room behind the writes
        if (::write(fill, chunk.data(), chunk.size()) > 0) {
            refused = 0;
        } else {
            ++refused;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ::close(fill);
    std::vector<wce::BYTE> bytes = Pattern(1000);
    EXPECT_FALSE(link_.Write(bytes.data(), int(bytes.size())));
}

}  // namespace
}  // namespace qxsetup
