// The echo before model B's network link: the request record as it is handed to the
// sockets library, real echoes on loopback, unknown names, and an address that answers
// no echo although its printer port would take the connection (in a network namespace
// of its own where loopback ignores echoes; a stand-in for the one control call where
// the machine allows no namespace).
#include "../../../drivers/printer/qx470/tests/port_peer_support.h"  // before winsock.h

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

// The Linux names, before wce/winsock.h takes them over.
namespace lnx {
constexpr int kAfInet = AF_INET;
}

#include <gtest/gtest.h>

#include "../../../tests/support/driver_key.h"
#include "echo.h"
#include "nv_upload.h"
#include "printer_link.h"
#include "wce/base.h"
#include "wce/ui.h"

namespace qxsetup {
namespace {

using Clock = std::chrono::steady_clock;

// What the last echo handed to the control entry.
struct Captured {
    wce::DWORD protocol = 0, action = 0, requestLength = 0, replyLength = 0;
    std::vector<wce::BYTE> record;
};
Captured captured;
wce::USHORT answerReplies = 1;
wce::ULONG answerStatus = wce::IP_SUCCESS;

wce::DWORD CapturingControl(wce::DWORD protocol, wce::DWORD action, wce::LPVOID request,
                            wce::LPDWORD requestLength, wce::LPVOID reply,
                            wce::LPDWORD replyLength) {
    captured.protocol = protocol;
    captured.action = action;
    captured.requestLength = *requestLength;
    captured.replyLength = *replyLength;
    auto* bytes = static_cast<const wce::BYTE*>(request);
    captured.record.assign(bytes, bytes + *requestLength);
    wce::ICMP_ECHO_REPLY answer{};
    answer.Reserved = answerReplies;
    answer.Status = answerStatus;
    std::memcpy(reply, &answer, sizeof answer);
    *replyLength = sizeof answer;
    return 0;
}

class EchoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        answerReplies = 1;
        answerStatus = wce::IP_SUCCESS;
        wce::WSAStartup(wce::MAKEWORD(1, 1), &info_);
    }
    void TearDown() override {
        SetEchoControl(nullptr);
        wce::WSACleanup();
    }
    wce::WSADATA info_{};
    qxtest::TempWorld world_{"qxecho"};
};

TEST_F(EchoTest, TheRequestRecordIsLaidOutFieldByField) {
    SetEchoControl(CapturingControl);
    EXPECT_TRUE(PingAddress("192.168.1.20"));
    EXPECT_EQ(captured.protocol, 6u);
    EXPECT_EQ(captured.action, 2u);
    // As long as the reply buffer, the larger of the two.
    EXPECT_EQ(captured.requestLength, 1024u);
    EXPECT_EQ(captured.replyLength, 1024u);
    const wce::BYTE head[] = {192,  168,  1,  20,  // address, network order
                              0xB8, 0x0B, 0,  0,   // 3000 ms
                              20,   0,    16, 0,   // data offset and size
                              0,    0,    0,  0,   // no options, so no TTL, TOS, flags
                              20,   0,    0,  0};  // options offset, size, padding
    ASSERT_GE(captured.record.size(), 36u);
    EXPECT_EQ(std::vector<wce::BYTE>(captured.record.begin(), captured.record.begin() + 20),
              std::vector<wce::BYTE>(std::begin(head), std::end(head)));
    EXPECT_EQ(std::string(captured.record.begin() + 20, captured.record.begin() + 36),
              "Ping information");
    EXPECT_EQ(std::count(captured.record.begin() + 36, captured.record.end(), 0), 1024 - 36);

    // With options: they come first and the data follow them.
    EchoService echo;
    ASSERT_TRUE(echo.Open());
    wce::IP_OPTION_INFORMATION options{};
    options.Ttl = 7;
    options.Tos = 16;
    options.Flags = wce::IP_FLAG_DF;
    options.OptionsSize = 4;
    const wce::BYTE optionBytes[] = {1, 1, 1, 0};
    wce::BYTE reply[28];
    EXPECT_EQ(echo.SendEcho(wce::inet_addr("10.0.0.1"), "ab", 2, &options, optionBytes, reply,
                            sizeof reply, 500),
              1u);
    ASSERT_EQ(captured.record.size(), 28u);  // the reply buffer is longer than 20 + 2 + 4
    EXPECT_EQ(captured.record[8], 24);
    EXPECT_EQ(captured.record[12], 1);
    EXPECT_EQ(captured.record[13], 7);
    EXPECT_EQ(captured.record[14], 16);
    EXPECT_EQ(captured.record[15], wce::IP_FLAG_DF);
    EXPECT_EQ(captured.record[18], 4);
    EXPECT_EQ(captured.record[20], 1);
    EXPECT_EQ(captured.record[24], 'a');
}

TEST_F(EchoTest, RefusalsAndRepliesThatAreNoEcho) {
    EchoService echo;
    ASSERT_TRUE(echo.Open());
    wce::BYTE reply[27];
    wce::SetLastError(0);
    EXPECT_EQ(echo.SendEcho(wce::inet_addr("127.0.0.1"), "x", 1, nullptr, nullptr, reply,
                            sizeof reply, 100),
              0u);
    EXPECT_EQ(wce::GetLastError(), 122u);

    SetEchoControl(CapturingControl);
    answerReplies = 0;
    answerStatus = wce::IP_REQ_TIMED_OUT;
    wce::BYTE big[64];
    EXPECT_EQ(
        echo.SendEcho(wce::inet_addr("127.0.0.1"), "x", 1, nullptr, nullptr, big, sizeof big, 100),
        0u);
    EXPECT_EQ(wce::GetLastError(), wce::IP_REQ_TIMED_OUT);
    // A router's "host unreachable" is a reply, but no echo: the ping fails.
    answerReplies = 1;
    answerStatus = wce::IP_DEST_HOST_UNREACHABLE;
    wce::ScriptedMessageBoxes boxes;
    EXPECT_FALSE(PingAddress("10.1.2.3"));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(EchoTest, LoopbackAnswersAndUnknownNamesAreInvalidAddresses) {
    wce::ScriptedMessageBoxes boxes;
    EXPECT_TRUE(PingAddress("127.0.0.1"));
    EXPECT_TRUE(PingAddress("127.0.43.9"));  // any address of 127/8, listener or not
    EXPECT_TRUE(PingAddress("localhost"));   // a host name is looked up for the echo
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_FALSE(PingAddress("no-such-printer.invalid"));
    EXPECT_FALSE(PingAddress(""));
    ASSERT_EQ(boxes.shown().size(), 2u);
    for (const auto& box : boxes.shown()) {
        EXPECT_EQ(box.text, u"Invaliad Address.");
        EXPECT_EQ(box.caption, u"ERROR");
    }
}

TEST_F(EchoTest, TheLinkPingsFirstAndAnUnknownNameNeverConnects) {
    qx470::testing::TcpPrinter printer("127.0.43.1", qx470::testing::TcpPrinter::Mode::kReadAll);
    ASSERT_TRUE(printer.ok());
    wce::ScriptedMessageBoxes boxes;
    NetworkLink link;
    link.checkEcho = true;
    ASSERT_TRUE(link.Connect(u"127.0.43.1", 9100));
    const wce::BYTE bytes[] = {0x1B, 0x40};
    EXPECT_EQ(link.Send(bytes, 2), 2);
    link.Close();

    NvPrinterLink nv{NvLinkKind::kSerial, &link};
    EXPECT_FALSE(OpenPrinterLink(nv, u"no-such-printer.invalid", 9100));
    ASSERT_EQ(boxes.shown().size(), 1u);  // and nothing about the connection
    EXPECT_EQ(boxes.shown()[0].text, u"Invaliad Address.");
    EXPECT_EQ(link.tcpSocket, wce::INVALID_SOCKET);
    EXPECT_EQ(link.state, 0);
}

// Brings loopback up in a new network namespace where it ignores echoes; false when the
// machine allows no namespace.
bool EnterSilentNamespace() {
    if (::unshare(CLONE_NEWNET) != 0) return false;
    int s = ::socket(lnx::kAfInet, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    bool up = s >= 0 && ::ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = short(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(s, SIOCSIFFLAGS, &request) == 0;
    if (s >= 0) ::close(s);
    int fd = ::open("/proc/sys/net/ipv4/icmp_echo_ignore_all", O_WRONLY | O_CLOEXEC);
    bool silent = fd >= 0 && ::write(fd, "1", 1) == 1;
    if (fd >= 0) ::close(fd);
    return up && silent;
}

// Without a namespace: the control entry reports that no reply came in time.
wce::DWORD SilentControl(wce::DWORD, wce::DWORD, wce::LPVOID, wce::LPDWORD, wce::LPVOID reply,
                         wce::LPDWORD replyLength) {
    wce::ICMP_ECHO_REPLY answer{};
    answer.Status = wce::IP_REQ_TIMED_OUT;
    std::memcpy(reply, &answer, sizeof answer);
    *replyLength = sizeof answer;
    return 0;
}

// In a child process: a listening printer port on 127.0.0.1 that answers no echo.
// Returns what went wrong, empty when all was as it should be.
std::string NoEchoNoConnection(bool* inNamespace) {
    *inNamespace = EnterSilentNamespace();
    if (!*inNamespace) SetEchoControl(SilentControl);
    int listener = ::socket(lnx::kAfInet, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = lnx::kAfInet;
    at.sin_port = htons(9100);
    ::inet_pton(lnx::kAfInet, *inNamespace ? "127.0.0.1" : "127.0.43.2", &at.sin_addr);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(listener, 4) != 0)
        return "no listener";
    wce::ScriptedMessageBoxes boxes;
    NetworkLink link;
    link.checkEcho = true;
    auto start = Clock::now();
    bool connected = link.Connect(*inNamespace ? u"127.0.0.1" : u"127.0.43.2", 9100);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::string errors;
    if (connected) errors += "connected; ";
    if (!boxes.shown().empty()) errors += "a message was shown; ";
    if (link.tcpSocket != wce::INVALID_SOCKET) errors += "the socket stayed open; ";
    if (*inNamespace && (seconds < 2.9 || seconds > 6))
        errors += "waited " + std::to_string(seconds) + " s; ";
    pollfd pending{listener, POLLIN, 0};
    if (::poll(&pending, 1, 0) != 0) errors += "the port was connected to; ";
    // The port itself would have taken the connection.
    int probe = ::socket(lnx::kAfInet, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(probe, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
        errors += "the port refuses; ";
    ::close(probe);
    ::close(listener);
    return errors;
}

TEST_F(EchoTest, AnAddressThatAnswersNoEchoIsNotConnectedToEvenWithItsPortOpen) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(out[0]);
        bool inNamespace = false;
        std::string errors = NoEchoNoConnection(&inNamespace);
        std::string report = std::string(inNamespace ? "N" : "F") + errors;
        (void)!::write(out[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, size_t(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_FALSE(report.empty());
    if (report[0] == 'F')
        std::printf("no network namespace here: the echo's control call was stood in for\n");
    EXPECT_EQ(report.substr(1), "");
}

}  // namespace
}  // namespace qxsetup
