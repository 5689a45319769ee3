// The messages between the server and its workers over a real socket pair, and the
// descriptors of shared page memory that come with them.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "worker_protocol.h"

namespace {

using namespace qxapp::wire;

int OpenDescriptors() {
    int n = 0;
    DIR* d = ::opendir("/proc/self/fd");
    while (d && ::readdir(d)) ++n;
    if (d) ::closedir(d);
    return n;
}

// A memory file holding `text`.
int MemoryFile(const std::string& text) {
    int fd = ::memfd_create("qx-test", MFD_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
    return fd;
}

// One message written the way the server writes it: head and body in one send, with
// `descriptors` attached to its first bytes. The head gives the body's length, or
// `declared`.
void SendWith(int socket, char op, const std::string& body, const std::vector<int>& descriptors,
              std::uint32_t declared = ~0u) {
    std::uint32_t n = declared != ~0u ? declared : std::uint32_t(body.size());
    std::string all = std::string{op, char(n), char(n >> 8), char(n >> 16), char(n >> 24)} + body;
    iovec part{all.data(), all.size()};
    std::vector<char> space(CMSG_SPACE(sizeof(int) * descriptors.size()));
    msghdr m{};
    m.msg_iov = &part;
    m.msg_iovlen = 1;
    if (!descriptors.empty()) {
        m.msg_control = space.data();
        m.msg_controllen = space.size();
        cmsghdr* c = CMSG_FIRSTHDR(&m);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * descriptors.size());
        std::memcpy(CMSG_DATA(c), descriptors.data(), sizeof(int) * descriptors.size());
    }
    ASSERT_EQ(::sendmsg(socket, &m, MSG_NOSIGNAL), ssize_t(all.size()));
}

std::string ReadBack(int fd) {
    char text[64] = {};
    ssize_t n = ::pread(fd, text, sizeof text, 0);
    return std::string(text, n > 0 ? size_t(n) : 0);
}

TEST(WorkerMessages, ADescriptorComesWithItsMessageAndNoneIsLeftOpenElsewhere) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const int before = OpenDescriptors();
    int page = MemoryFile("page one"), other = MemoryFile("page two");

    // The one descriptor of a message reaches the reader; a second is closed.
    SendWith(pair[0], 'G', "head", {page, other});
    // A message without one gives none, and a reader that takes none closes what came.
    SendWith(pair[0], 'P', "", {});
    SendWith(pair[0], 'G', "head", {other});
    ::close(page);
    ::close(other);

    char op = 0;
    std::string body;
    int passed = 99;
    ASSERT_TRUE(Receive(pair[1], &op, &body, &passed));
    EXPECT_EQ(op, 'G');
    EXPECT_EQ(body, "head");
    ASSERT_GE(passed, 0);
    EXPECT_EQ(ReadBack(passed), "page one");
    ::close(passed);
    ASSERT_TRUE(Receive(pair[1], &op, &body, &passed));
    EXPECT_EQ(op, 'P');
    EXPECT_EQ(passed, -1);
    ASSERT_TRUE(Receive(pair[1], &op, &body));
    EXPECT_EQ(body, "head");
    EXPECT_EQ(OpenDescriptors(), before);

    // A message cut short by the peer's end fails, and its descriptor goes with it.
    int cut = MemoryFile("cut");
    SendWith(pair[0], 'G', "", {cut});  // a whole message first: its descriptor is read
    SendWith(pair[0], 'G', "short", {cut}, 100);
    ::close(cut);
    ::close(pair[0]);
    ASSERT_TRUE(Receive(pair[1], &op, &body, &passed));
    ::close(passed);
    EXPECT_FALSE(Receive(pair[1], &op, &body, &passed));
    EXPECT_EQ(passed, -1);
    EXPECT_FALSE(Receive(pair[1], &op, &body, &passed));
    ::close(pair[1]);
    EXPECT_EQ(OpenDescriptors(), before - 2);
}

TEST(WorkerMessages, ADescriptorWithAMessageTooLongIsClosed) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const int before = OpenDescriptors();
    int page = MemoryFile("page");
    SendWith(pair[0], 'G', "", {page}, 0x7F000000u);  // far longer than any page
    ::close(page);
    char op = 0;
    std::string body;
    int passed = 0;
    EXPECT_FALSE(Receive(pair[1], &op, &body, &passed));
    EXPECT_EQ(passed, -1);
    EXPECT_EQ(OpenDescriptors(), before);
    ::close(pair[0]);
    ::close(pair[1]);
}

}  // namespace
