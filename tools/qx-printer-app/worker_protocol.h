// The messages between the server and a job's worker process, over a socket pair.
// A message: its operation, the length of its body (4 bytes, little-endian), the body.
// The answer is the same with the operation '+' (done) or '-' (failed, the body says why).
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "qx_models.h"

namespace qxapp::wire {

// Whole writes and reads; on a socket the peer's end is no reason to die of SIGPIPE,
// a file is written plainly.
bool WriteAll(int fd, const void* data, size_t size, bool socket = true);
bool Send(int fd, char op, const std::string& body);
// Room for one descriptor sent with a message: Attach puts it on `m` (nothing when -1).
struct DescriptorSpace {
    alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(int))] = {};
    void Attach(msghdr& m, int descriptor);
};
// One read of `fd`, as recvmsg's result. The first descriptor that comes with it goes to
// `passed` when that is -1; any other is closed. `flags` gets the message's flags.
ssize_t ReceiveSome(int fd, void* data, size_t size, int* passed, int* flags = nullptr);

// False when the peer is gone or the message is longer than any of ours. A descriptor
// sent with the message goes to `passed` (-1 when none came); without `passed` it is
// closed, as are any more.
bool Receive(int fd, char* op, std::string* body, int* passed = nullptr);

void PutInt(std::string& out, std::int32_t v);
void PutText(std::string& out, const std::string& text);

// Reads what PutInt and PutText wrote, in order; false once the body runs short.
class Reader {
  public:
    explicit Reader(const std::string& body) : body_(body) {}
    bool Int(std::int32_t* v);
    bool Text(std::string* text);

  private:
    const std::string& body_;
    size_t at_ = 0;
};

// A job's start: its port, the driver's settings and the document's name.
std::string EncodeSettings(const std::string& port, const JobSettings& s, const std::string& name);
bool DecodeSettings(const std::string& body, std::string* port, JobSettings* s, std::string* name);

}  // namespace qxapp::wire
