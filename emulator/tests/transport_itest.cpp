// The qx-emulator program on its real transports: loopback TCP, a pseudo-terminal,
// the simulated infrared device and a file; the fault modes; stopping by signal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "../../tests/support/emulator_process.h"
#include "emu_test_support.h"

namespace qxemu::testing {
namespace {

const std::string kReceipt = kDocStart + Raster(2, 2, "\xFF\x00\x00\xFF") + "ok\n";

using Emulator = qxtest::EmulatorProcess;

bool WaitForFile(const std::string& path) {
    for (int i = 0; i < 200; ++i) {
        if (std::filesystem::exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int Connect(const std::string& ip) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(9100);
    ::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

TEST(EmuTransport, TcpReceiptEndsWithTheConnection) {
    TempDir dir;
    Emulator emu;
    ASSERT_TRUE(emu.Start({"--tcp", "127.0.7.1:9100", "--out", dir.path()}));
    EXPECT_EQ(emu.firstLine, "listening on 127.0.7.1:9100");
    int fd = Connect("127.0.7.1");
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, kReceipt));
    ::close(fd);
    EXPECT_TRUE(WaitForFile(dir.path() + "/receipt-0001.png"));
    EXPECT_EQ(emu.Stop(), 0);
    std::string log = ReadFile(dir.path() + "/emulator.log");
    EXPECT_NE(log.find("@4         GS v 0"), std::string::npos) << log;
    EXPECT_NE(log.find("== connection 1 from 127.0.0.1"), std::string::npos) << log;
}

TEST(EmuTransport, StopSignalFinishesThePageInProgress) {
    TempDir dir;
    Emulator emu;
    ASSERT_TRUE(emu.Start({"--tcp=127.0.7.2", "--out", dir.path(), "--idle-ms", "0"}));
    int fd = Connect("127.0.7.2");
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, kDocStart + Label(8, 1, Cg(1, 1, 0, 0, "\x80")) + kReceipt));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(emu.Stop(), 0);
    ::close(fd);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/label-0001.png"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/receipt-0001.png"));
}

TEST(EmuTransport, PseudoTerminalReceiptEndsAtTheIdleGap) {
    TempDir dir;
    Emulator emu;
    ASSERT_TRUE(emu.Start({"--pty", "--model", "b", "--idle-ms", "200", "--out", dir.path()}));
    ASSERT_EQ(emu.firstLine.rfind("pty /dev/", 0), 0u) << emu.firstLine;
    int fd = ::open(emu.firstLine.substr(4).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    // Every byte value must pass unchanged: the pty is raw.
    std::string binary = Raster(1, 4, Bytes({0x0D, 0x0A, 0x03, 0x11}));
    ASSERT_EQ(::write(fd, binary.data(), binary.size()), static_cast<ssize_t>(binary.size()));
    EXPECT_TRUE(WaitForFile(dir.path() + "/receipt-0001.png"));
    ::close(fd);
    EXPECT_EQ(emu.Stop(), 0);
    std::string log = ReadFile(dir.path() + "/emulator.log");
    EXPECT_NE(log.find("raster 1 bytes x 4 rows"), std::string::npos) << log;
    EXPECT_NE(log.find("384 x 4 dots"), std::string::npos) << log;
}

int ConnectUnix(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

char ReadAnswer(int fd) {
    char c = 0;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1 || ::read(fd, &c, 1) != 1) return 0;
    return c;
}

TEST(EmuTransport, InfraredDeviceTakesOneConnectionAndAnswersOthersBusy) {
    TempDir dir, irda;
    Emulator emu;
    ASSERT_TRUE(
        emu.Start({"--irda", "0A0B0C0D", "--out", dir.path()}, {"QX_IRDA_DIR=" + irda.path()}));
    const std::string base = irda.path() + "/0a0b0c0d";
    EXPECT_EQ(emu.firstLine, "irda 0a0b0c0d " + base + ".sock");
    EXPECT_EQ(ReadFile(base + ".dev"), "name=QX-470 Emulator\nservice=IrLPT\npdu=1024\n");
    int first = ConnectUnix(base + ".sock");
    ASSERT_GE(first, 0);
    EXPECT_EQ(ReadAnswer(first), 'A');
    int second = ConnectUnix(base + ".sock");
    ASSERT_GE(second, 0);
    EXPECT_EQ(ReadAnswer(second), 'B');
    ::close(second);
    ASSERT_TRUE(SendAll(first, kDocStart + Label(8, 1, Cg(1, 1, 0, 0, "\x80"))));
    ::close(first);
    EXPECT_TRUE(WaitForFile(dir.path() + "/label-0001.png"));
    EXPECT_EQ(emu.Stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(base + ".dev"));
    EXPECT_FALSE(std::filesystem::exists(base + ".sock"));
}

TEST(EmuTransport, FileInput) {
    TempDir dir;
    std::string path = dir.path() + "/capture.bin";
    std::ofstream(path, std::ios::binary)
        << kReceipt << kDocStart << Label(8, 1, Cg(1, 1, 0, 0, "\x80"));
    Emulator emu;
    ASSERT_TRUE(emu.Start({"--file", path, "--out", dir.path() + "/out"}));
    EXPECT_EQ(emu.firstLine, "file " + path);
    EXPECT_EQ(emu.Wait(), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/out/receipt-0001.png"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/out/label-0001.png"));
}

TEST(EmuTransportFaults, RefuseMeansNothingListens) {
    TempDir dir;
    Emulator emu;
    ASSERT_TRUE(emu.Start({"--tcp", "127.0.7.3", "--fault", "refuse", "--out", dir.path()}));
    EXPECT_EQ(emu.firstLine, "refusing connections on 127.0.7.3:9100");
    EXPECT_EQ(Connect("127.0.7.3"), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_EQ(emu.Stop(), 0);
}

TEST(EmuTransportFaults, CloseAfterDropsTheLinkAndKeepsWhatArrived) {
    TempDir dir;
    Emulator emu;
    ASSERT_TRUE(emu.Start({"--tcp", "127.0.7.4", "--fault",
                           "close-after=" + std::to_string(kReceipt.size()), "--out", dir.path(),
                           "--once"}));
    int fd = Connect("127.0.7.4");
    ASSERT_GE(fd, 0);
    bool failed = false;
    std::string more(4096, '\0');
    SendAll(fd, kReceipt);
    for (int i = 0; i < 2000 && !failed; ++i) {
        failed = !SendAll(fd, more);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(failed) << "the sender never saw the link drop";
    ::close(fd);
    EXPECT_EQ(emu.Wait(), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/receipt-0001.png"));
    EXPECT_NE(ReadFile(dir.path() + "/emulator.log").find("closing after"), std::string::npos);
}

TEST(EmuTransportFaults, NeverReadStallsTheSender) {
    TempDir dir;
    Emulator emu;
    ASSERT_TRUE(emu.Start({"--tcp", "127.0.7.5", "--fault", "never-read", "--out", dir.path()}));
    int fd = Connect("127.0.7.5");
    ASSERT_GE(fd, 0);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    std::string block(65536, '\x55');
    std::size_t sent = 0;
    for (int i = 0; i < 1000; ++i) {
        ssize_t n = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL);
        if (n < 0) break;
        sent += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_LT(sent, 1000u * block.size());
    ::close(fd);
    EXPECT_EQ(emu.Stop(), 0);
}

TEST(EmuTransportFaults, SlowReaderStillDecodesEverything) {
    TempDir dir;
    Emulator emu;
    ASSERT_TRUE(
        emu.Start({"--tcp", "127.0.7.6", "--fault", "slow=400", "--out", dir.path(), "--once"}));
    int fd = Connect("127.0.7.6");
    ASSERT_GE(fd, 0);
    std::string page = kDocStart + Raster(4, 20, std::string(80, '\x0F'));
    ASSERT_TRUE(SendAll(fd, page));
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(emu.Wait(), 0);
    ::close(fd);
    EXPECT_NE(ReadFile(dir.path() + "/emulator.log").find("raster 4 bytes x 20 rows"),
              std::string::npos);
}

}  // namespace
}  // namespace qxemu::testing
