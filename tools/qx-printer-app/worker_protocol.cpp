#include "worker_protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qxapp::wire {

namespace {

bool ReadAll(int fd, void* data, size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

// Pages are at most a few megabytes; anything longer is not from our server.
constexpr std::uint32_t kMaxMessage = 64u << 20;

}  // namespace

bool WriteAll(int fd, const void* data, size_t size, bool socket) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = socket ? ::send(fd, p, size, MSG_NOSIGNAL) : ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool Send(int fd, char op, const std::string& body) {
    std::uint32_t n = std::uint32_t(body.size());
    char head[5] = {op, char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
    return WriteAll(fd, head, sizeof head) && WriteAll(fd, body.data(), body.size());
}

void DescriptorSpace::Attach(msghdr& m, int descriptor) {
    if (descriptor < 0) return;
    m.msg_control = bytes;
    m.msg_controllen = sizeof bytes;
    cmsghdr* c = CMSG_FIRSTHDR(&m);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &descriptor, sizeof descriptor);
}

ssize_t ReceiveSome(int fd, void* data, size_t size, int* passed, int* flags) {
    iovec part{data, size};
    alignas(cmsghdr) char space[CMSG_SPACE(4 * sizeof(int))];
    msghdr m{};
    m.msg_iov = &part;
    m.msg_iovlen = 1;
    m.msg_control = space;
    m.msg_controllen = sizeof space;
    ssize_t n = ::recvmsg(fd, &m, MSG_CMSG_CLOEXEC);
    for (cmsghdr* c = n > 0 ? CMSG_FIRSTHDR(&m) : nullptr; c; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int one;
            std::memcpy(&one, CMSG_DATA(c) + i * sizeof(int), sizeof one);
            if (passed && *passed < 0)
                *passed = one;
            else
                ::close(one);
        }
    }
    if (flags) *flags = n >= 0 ? m.msg_flags : 0;
    return n;
}

namespace {

// Reads the head of a message, taking a descriptor sent with it.
bool ReadHead(int fd, unsigned char (&head)[5], int* passed) {
    size_t got = 0;
    while (got < sizeof head) {
        ssize_t n = ReceiveSome(fd, head + got, sizeof head - got, passed);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += size_t(n);
    }
    return true;
}

}  // namespace

bool Receive(int fd, char* op, std::string* body, int* passed) {
    if (passed) *passed = -1;
    unsigned char head[5] = {};
    bool ok = ReadHead(fd, head, passed);
    std::uint32_t n = head[1] | head[2] << 8 | head[3] << 16 | std::uint32_t(head[4]) << 24;
    ok = ok && n <= kMaxMessage;
    if (ok) {
        *op = char(head[0]);
        body->resize(n);
        ok = ReadAll(fd, body->data(), n);
    }
    if (!ok && passed && *passed >= 0) {
        ::close(*passed);
        *passed = -1;
    }
    return ok;
}

void PutInt(std::string& out, std::int32_t v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

bool Reader::Int(std::int32_t* v) {
    if (at_ + sizeof *v > body_.size()) return false;
    std::memcpy(v, body_.data() + at_, sizeof *v);
    at_ += sizeof *v;
    return true;
}

bool Reader::Text(std::string* text) {
    std::int32_t n = 0;
    if (!Int(&n) || n < 0 || size_t(n) > body_.size() - at_) return false;
    text->assign(body_, at_, size_t(n));
    at_ += size_t(n);
    return true;
}

void PutText(std::string& out, const std::string& text) {
    PutInt(out, std::int32_t(text.size()));
    out += text;
}

std::string EncodeSettings(const std::string& port, const JobSettings& s, const std::string& name) {
    std::string body;
    PutText(body, port);
    PutText(body, name);
    PutInt(body, s.model == &ModelB() ? 1 : 0);
    for (int v : {s.copies, s.emulation, s.paperSize, s.widthMm, s.paperHeight, s.rotation,
                  s.printingLength, s.startLogo, s.endLogo, s.backFeed})
        PutInt(body, v);
    PutText(body, s.startText);
    PutText(body, s.endText);
    PutText(body, s.portDevice);
    return body;
}

bool DecodeSettings(const std::string& body, std::string* port, JobSettings* s, std::string* name) {
    Reader r(body);
    std::int32_t model = 0;
    std::int32_t v[10];
    if (!r.Text(port) || !r.Text(name) || !r.Int(&model)) return false;
    for (std::int32_t& x : v)
        if (!r.Int(&x)) return false;
    s->model = model == 1 ? &ModelB() : &ModelA();
    s->copies = v[0], s->emulation = v[1], s->paperSize = v[2], s->widthMm = v[3];
    s->paperHeight = v[4], s->rotation = v[5], s->printingLength = v[6];
    s->startLogo = v[7], s->endLogo = v[8], s->backFeed = v[9];
    return r.Text(&s->startText) && r.Text(&s->endText) && r.Text(&s->portDevice);
}

}  // namespace qxapp::wire
