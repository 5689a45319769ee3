// WinSock over BSD sockets on loopback: the start-up rules, address text, TCP with its
// time-outs and errors, the simulated infrared family, and the ICMP echo.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Linux-side peers, written before the Windows names take over.
int ListenTcp(const char* address, int receiveBuffer = 0) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (receiveBuffer)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(9100);
    at.sin_addr.s_addr = ::inet_addr(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int ListenUnix(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un at{};
    at.sun_family = AF_UNIX;
    std::snprintf(at.sun_path, sizeof at.sun_path, "%s", path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool IsOpenDescriptor(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

}  // namespace

#include "temp_dir.h"
#include "wce/base.h"
#include "wce/winsock.h"

namespace wce {
namespace {

int LastError() {
    return WSAGetLastError();
}

class Stack {
  public:
    Stack() { started_ = WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
    ~Stack() {
        if (started_) WSACleanup();
    }
    bool started() const { return started_; }

  private:
    WSADATA data_{};
    bool started_ = false;
};

sockaddr_in LoopbackAddress(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(9100);
    address.sin_addr.s_addr = inet_addr(text);
    return address;
}

int Connect(SOCKET s, const sockaddr_in& address) {
    return connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

TEST(WinsockStartup, VersionRulesAndBalancedReleases) {
    WSADATA data{};
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), nullptr), WSAEFAULT);
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_EQ(data.wHighVersion, 0x0202);
    ASSERT_EQ(WSAStartup(MAKEWORD(3, 0), &data), 0);
    EXPECT_EQ(data.wVersion, 0x0202);

    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(WSACleanup(), 0);  // one start still holds the stack up
    EXPECT_TRUE(IsOpenDescriptor(int(s)));
    EXPECT_EQ(WSACleanup(), 0);  // the last release closes what was left open
    EXPECT_FALSE(IsOpenDescriptor(int(s)));
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSANOTINITIALISED);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(LastError(), WSANOTINITIALISED);
    EXPECT_EQ(gethostbyname("localhost"), nullptr);
    EXPECT_EQ(LastError(), WSANOTINITIALISED);
}

TEST(WinsockNames, InetAddrTakesTheBsdFormsOnly) {
    EXPECT_EQ(inet_addr("127.0.9.1"), htonl(0x7F000901));
    EXPECT_EQ(inet_addr("127.1"), htonl(0x7F000001));
    EXPECT_EQ(inet_addr("127.0.2305"), htonl(0x7F000901));
    EXPECT_EQ(inet_addr("0x7f.0.011.1"), htonl(0x7F000901));
    EXPECT_EQ(inet_addr("2130708737"), htonl(0x7F000901));
    for (const char* bad : {"", "localhost", "1.2.3.256", "1.2.3.4.5", "1..2.3", "1.2.3.",
                            "08.1.1.1", "0x", "1.2.3.4 ", "4294967296", "127.0.70000"}) {
        EXPECT_EQ(inet_addr(bad), INADDR_NONE) << bad;
    }
    EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
    EXPECT_EQ(htons(9100), 0x8C23);

    Stack stack;
    ASSERT_TRUE(stack.started());
    hostent* host = gethostbyname("localhost");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->h_addrtype, AF_INET);
    ASSERT_EQ(host->h_length, 4);
    EXPECT_EQ(BYTE(host->h_addr[0]), 127);
    char name[256];
    EXPECT_EQ(gethostname(name, sizeof name), 0);
    EXPECT_EQ(gethostname(name, 1), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAEFAULT);
}

bool WaitSet(SOCKET s, bool forWrite, LONG ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    int ready = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &limit);
    return ready == 1 && FD_ISSET(s, &set);
}

TEST(WinsockTcp, DataSelectAndSocketErrors) {
    Stack stack;
    ASSERT_TRUE(stack.started());
    int listener = ListenTcp("127.0.9.101");
    ASSERT_GE(listener, 0);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(Connect(s, LoopbackAddress("127.0.9.101")), 0);
    int peer = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);

    EXPECT_EQ(send(s, "hello", 5, 0), 5);
    char got[8] = {};
    EXPECT_EQ(::recv(peer, got, sizeof got, 0), 5);
    EXPECT_TRUE(WaitSet(s, true, 0));
    EXPECT_FALSE(WaitSet(s, false, 0));
    ASSERT_EQ(::send(peer, "ab", 2, 0), 2);
    EXPECT_TRUE(WaitSet(s, false, 1000));
    u_long pending = 0;
    EXPECT_EQ(ioctlsocket(s, FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 2u);
    EXPECT_EQ(recv(s, got, sizeof got, 0), 2);

    ::close(peer);
    EXPECT_EQ(recv(s, got, sizeof got, 0), 0);  // orderly close
    EXPECT_EQ(closesocket(s), 0);
    EXPECT_EQ(closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAENOTSOCK);
    EXPECT_EQ(select(0, nullptr, nullptr, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAEINVAL);
    EXPECT_FALSE(WaitSet(s, true, 0));
    EXPECT_EQ(LastError(), WSAENOTSOCK);
    ::close(listener);

    SOCKET other = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(Connect(other, LoopbackAddress("127.0.9.102")), SOCKET_ERROR);  // nobody listens
    EXPECT_EQ(LastError(), WSAECONNREFUSED);
    for (u_long nowhere : {INADDR_NONE, INADDR_ANY}) {
        sockaddr_in address = LoopbackAddress("127.0.9.102");
        address.sin_addr.s_addr = nowhere;
        EXPECT_EQ(Connect(other, address), SOCKET_ERROR);
        EXPECT_EQ(LastError(), WSAEADDRNOTAVAIL);
    }
    closesocket(other);
    EXPECT_EQ(socket(AF_INET, SOCK_RAW, 0), INVALID_SOCKET);
    EXPECT_EQ(LastError(), WSAESOCKTNOSUPPORT);
    EXPECT_EQ(socket(99, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(LastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(WSASocketW(AF_INET, SOCK_STREAM, 0, &other, 0, WSA_FLAG_OVERLAPPED), INVALID_SOCKET);
    EXPECT_EQ(LastError(), WSAEINVAL);
}

TEST(WinsockTcp, SendTimeOutAndNonBlockingSends) {
    Stack stack;
    ASSERT_TRUE(stack.started());
    int listener = ListenTcp("127.0.9.103", 4096);
    ASSERT_GE(listener, 0);
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_EQ(Connect(s, LoopbackAddress("127.0.9.103")), 0);
    int peer = ::accept(listener, nullptr, nullptr);  // and never reads

    DWORD limit = 300;
    ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&limit), 4), 0);
    DWORD read = 0;
    int size = 4;
    ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&read), &size), 0);
    EXPECT_EQ(read, 300u);
    size = 2;
    EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&read), &size),
              SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAEFAULT);

    std::string block(65536, 'x');
    int sent = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000 && sent != SOCKET_ERROR; ++i) {
        start = std::chrono::steady_clock::now();
        sent = send(s, block.data(), int(block.size()), 0);
    }
    EXPECT_EQ(sent, SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAETIMEDOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));

    u_long on = 1;
    ASSERT_EQ(ioctlsocket(s, FIONBIO, &on), 0);
    EXPECT_EQ(send(s, block.data(), int(block.size()), 0), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(ioctlsocket(s, 0x1234, &on), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAEINVAL);
    closesocket(s);
    ::close(peer);
    ::close(listener);
}

TEST(WinsockTcp, HalfCloseEndsTheStreamAfterTheData) {
    Stack stack;
    ASSERT_TRUE(stack.started());
    int listener = ListenTcp("127.0.9.104");
    ASSERT_GE(listener, 0);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(shutdown(s, SD_SEND), SOCKET_ERROR);  // not connected yet
    EXPECT_EQ(LastError(), WSAENOTCONN);
    ASSERT_EQ(Connect(s, LoopbackAddress("127.0.9.104")), 0);
    int peer = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);

    EXPECT_EQ(shutdown(s, 7), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAEINVAL);
    ASSERT_EQ(send(s, "label", 5, 0), 5);
    ASSERT_EQ(shutdown(s, SD_SEND), 0);
    EXPECT_EQ(send(s, "more", 4, 0), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAESHUTDOWN);
    char got[16] = {};
    EXPECT_EQ(::recv(peer, got, sizeof got, 0), 5);
    EXPECT_EQ(::recv(peer, got, sizeof got, 0), 0);  // then the end of the stream
    // The other direction still carries data until the peer closes it.
    ASSERT_EQ(::send(peer, "ok", 2, 0), 2);
    ::close(peer);
    EXPECT_EQ(recv(s, got, sizeof got, 0), 2);
    EXPECT_EQ(recv(s, got, sizeof got, 0), 0);
    closesocket(s);
    EXPECT_EQ(shutdown(s, SD_BOTH), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAENOTSOCK);
    ::close(listener);
}

// A folder of simulated devices for the infrared tests.
// What a sender sees of a reader: the bytes it has not taken fall as it reads, and its
// window grows back once it has read what it held.
TEST(WinsockTcp, UnsentBytesAndThePeersWindowFollowTheReader) {
    Stack stack;
    ASSERT_TRUE(stack.started());
    int listener = ListenTcp("127.0.9.102", 4096);
    ASSERT_GE(listener, 0);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(Connect(s, LoopbackAddress("127.0.9.102")), 0);
    int peer = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    u_long unsent = 1, window = 0;
    EXPECT_EQ(ioctlsocket(s, FIONUNSENT, &unsent), 0);
    EXPECT_EQ(unsent, 0u);
    ASSERT_EQ(ioctlsocket(s, FIONPEERWINDOW, &window), 0);
    const u_long firstWindow = window;
    EXPECT_GT(firstWindow, 0u);

    // More than the reader's buffer: the rest stays with the sender.
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(s, FIONBIO, &on), 0);
    std::string bytes(200000, 'x');
    int sent = send(s, bytes.data(), int(bytes.size()), 0);
    ASSERT_GT(sent, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(ioctlsocket(s, FIONUNSENT, &unsent), 0);
    EXPECT_GT(unsent, 0u);
    EXPECT_EQ(ioctlsocket(s, FIONPEERWINDOW, &window), 0);
    EXPECT_LT(window, firstWindow);
    const u_long held = unsent;
    std::vector<char> sink(65536);
    for (int taken = 0; taken < sent;) {
        ssize_t n = ::recv(peer, sink.data(), sink.size(), 0);
        ASSERT_GT(n, 0);
        taken += int(n);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(ioctlsocket(s, FIONUNSENT, &unsent), 0);
    EXPECT_LT(unsent, held);
    EXPECT_EQ(unsent, 0u);
    EXPECT_EQ(ioctlsocket(s, FIONPEERWINDOW, &window), 0);
    EXPECT_GT(window, 0u);
    EXPECT_EQ(ioctlsocket(s, 0x1234, &window), SOCKET_ERROR);
    closesocket(s);
    ::close(peer);
    ::close(listener);
}

class InfraredFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.ok());
        dir_ = folder_.path();
        ::setenv("QX_IRDA_DIR", dir_.c_str(), 1);
        ASSERT_TRUE(stack_.started());
    }
    void WriteFile(const std::string& name, const std::string& text) {
        FILE* file = std::fopen((dir_ + "/" + name).c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }
    static SOCKADDR_IRDA Address(const u_char (&id)[4], const char* service) {
        SOCKADDR_IRDA address{};
        address.irdaAddressFamily = AF_IRDA;
        std::memcpy(address.irdaDeviceID, id, 4);
        std::snprintf(address.irdaServiceName, sizeof address.irdaServiceName, "%s", service);
        return address;
    }
    static int Connect(SOCKET s, const SOCKADDR_IRDA& address) {
        return connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }

    Stack stack_;
    qxtest::TempDir folder_{"qxirda"};
    std::string dir_;
};

TEST_F(InfraredFolder, DeviceListInAddressOrder) {
    WriteFile("0a0b0c0d.dev", "name=QX printer\nservice=IrLPT\npdu=512\n");
    WriteFile("00000001.dev", "name=A phone with a very long name\r\nservice=IrOBEX\r\npdu=64\r\n");
    WriteFile("00000002.dev", "name=Broken\nservice=IrLPT\npdu=lots\n");
    WriteFile("00000003.dev", "name=No unit\nservice=IrLPT\n");
    WriteFile("notadevice.dev", "pdu=1\n");
    WriteFile("00000004.txt", "pdu=1\n");
    SOCKET s = socket(AF_IRDA, SOCK_STREAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);

    alignas(4) char buffer[152] = {};
    int size = sizeof buffer;
    ASSERT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_ENUMDEVICES, buffer, &size), 0);
    ULONG count = 0;
    std::memcpy(&count, buffer, 4);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(size, 4 + 2 * 29);
    IRDA_DEVICE_INFO first, second;
    std::memcpy(&first, buffer + 4, 29);
    std::memcpy(&second, buffer + 4 + 29, 29);
    EXPECT_EQ(std::memcmp(first.irdaDeviceID, "\0\0\0\1", 4), 0);
    EXPECT_STREQ(first.irdaDeviceName, "A phone with a very l");  // cut to 21
    EXPECT_EQ(first.irdaDeviceHints1, 0);
    EXPECT_EQ(std::memcmp(second.irdaDeviceID, "\x0a\x0b\x0c\x0d", 4), 0);
    EXPECT_STREQ(second.irdaDeviceName, "QX printer");
    EXPECT_EQ(second.irdaDeviceHints1, LM_HB1_Printer);

    size = 4 + 29;  // room for one
    ASSERT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_ENUMDEVICES, buffer, &size), 0);
    std::memcpy(&count, buffer, 4);
    EXPECT_EQ(count, 1u);
    size = 3;
    EXPECT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_ENUMDEVICES, buffer, &size), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAEFAULT);
    closesocket(s);
}

TEST_F(InfraredFolder, ConnectBusyThenTakenAndTheSendUnit) {
    WriteFile("0a0b0c0d.dev", "name=QX printer\nservice=IrLPT\npdu=512\n");
    WriteFile("00000001.dev", "name=Phone\nservice=IrOBEX\npdu=64\n");
    int listener = ListenUnix(dir_ + "/0a0b0c0d.sock");
    ASSERT_GE(listener, 0);
    std::string received;
    std::thread device([&] {
        for (char answer : {'B', 'A'}) {
            int fd = ::accept(listener, nullptr, nullptr);
            ::send(fd, &answer, 1, MSG_NOSIGNAL);
            char chunk[1024];
            ssize_t got;
            while (answer == 'A' && (got = ::recv(fd, chunk, sizeof chunk, 0)) > 0) {
                received.append(chunk, size_t(got));
            }
            ::close(fd);
        }
    });
    const u_char printer[4] = {0x0a, 0x0b, 0x0c, 0x0d};
    const u_char phone[4] = {0, 0, 0, 1};
    const u_char absent[4] = {0x12, 0x34, 0x56, 0x78};
    SOCKET s = socket(AF_IRDA, SOCK_STREAM, 0);
    int unit = 0;
    int size = sizeof unit;
    EXPECT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_SEND_PDU_LEN, reinterpret_cast<char*>(&unit), &size),
              SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAENOTCONN);
    EXPECT_EQ(Connect(s, Address(absent, "IrLPT")), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAETIMEDOUT);
    EXPECT_EQ(Connect(s, Address(phone, "IrLPT")), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAECONNREFUSED);
    EXPECT_EQ(Connect(s, Address(printer, "IrLPT")), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAEADDRINUSE);
    ASSERT_EQ(Connect(s, Address(printer, "IrLPT")), 0);  // the same socket, again
    EXPECT_EQ(Connect(s, Address(printer, "IrLPT")), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAEISCONN);

    ASSERT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_SEND_PDU_LEN, reinterpret_cast<char*>(&unit), &size),
              0);
    EXPECT_EQ(unit, 512);
    int on = 1;
    ASSERT_EQ(setsockopt(s, SOL_IRLMP, IRLMP_IRLPT_MODE, reinterpret_cast<char*>(&on), 4), 0);
    std::string data(513, 'd');
    EXPECT_EQ(send(s, data.data(), 513, 0), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAEMSGSIZE);
    EXPECT_TRUE(WaitSet(s, true, 1000));
    EXPECT_EQ(send(s, data.data(), 512, 0), 512);
    closesocket(s);
    device.join();
    ::close(listener);
    EXPECT_EQ(received, data.substr(0, 512));

    SOCKET tcp = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(setsockopt(tcp, SOL_IRLMP, IRLMP_IRLPT_MODE, reinterpret_cast<char*>(&on), 4),
              SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAENOPROTOOPT);
    closesocket(tcp);
}

// An echo request as the model-B utility builds it: the record, then 16 data bytes.
struct EchoRequest {
    ICMP_ECHO_REQUEST head{};
    char data[16];
};

EchoRequest MakeEcho(const char* address) {
    EchoRequest request{};
    request.head.Address = inet_addr(address);
    request.head.Timeout = 3000;
    request.head.OptionsOffset = 20;
    request.head.DataOffset = 20;
    request.head.DataSize = 16;
    std::memcpy(request.data, "Ping information", 16);
    return request;
}

TEST(WinsockEcho, LoopbackAnswersWithTheData) {
    for (const char* address : {"127.0.0.1", "127.0.9.104"}) {
        EchoRequest request = MakeEcho(address);
        DWORD requestSize = sizeof request;
        alignas(4) BYTE reply[1024] = {};
        DWORD replySize = sizeof reply;
        ASSERT_EQ(WsControl(IPPROTO_TCP, WSCNTL_TCPIP_ICMP_ECHO, &request, &requestSize, reply,
                            &replySize),
                  0u);
        ICMP_ECHO_REPLY record;
        std::memcpy(&record, reply, sizeof record);
        EXPECT_EQ(record.Reserved, 1) << address;
        EXPECT_EQ(record.Status, IP_SUCCESS);
        EXPECT_EQ(record.Address, inet_addr(address));
        EXPECT_LT(record.RoundTripTime, 1000u);
        ASSERT_EQ(record.DataSize, 16);
        ASSERT_LE(record.Data + 16, sizeof reply);
        EXPECT_EQ(std::memcmp(reply + record.Data, "Ping information", 16), 0);
        EXPECT_EQ(replySize, 28u + 16u);
    }
}

TEST(WinsockEcho, RefusesWhatIsNoEchoRequest) {
    EchoRequest request = MakeEcho("127.0.0.1");
    DWORD requestSize = sizeof request;
    BYTE reply[64] = {};
    DWORD small = 27;
    EXPECT_EQ(WsControl(IPPROTO_TCP, WSCNTL_TCPIP_ICMP_ECHO, &request, &requestSize, reply, &small),
              ERROR_INSUFFICIENT_BUFFER);
    DWORD replySize = sizeof reply;
    EXPECT_EQ(WsControl(IPPROTO_TCP, 3, &request, &requestSize, reply, &replySize),
              ERROR_INVALID_PARAMETER);
    request.head.DataSize = 17;  // past the end of the record
    EXPECT_EQ(
        WsControl(IPPROTO_TCP, WSCNTL_TCPIP_ICMP_ECHO, &request, &requestSize, reply, &replySize),
        ERROR_INVALID_PARAMETER);

    request = MakeEcho("0.0.0.0");
    ASSERT_EQ(
        WsControl(IPPROTO_TCP, WSCNTL_TCPIP_ICMP_ECHO, &request, &requestSize, reply, &replySize),
        0u);
    ICMP_ECHO_REPLY record;
    std::memcpy(&record, reply, sizeof record);
    EXPECT_EQ(record.Reserved, 0);
    EXPECT_EQ(record.Status, IP_BAD_DESTINATION);
}

}  // namespace
}  // namespace wce
