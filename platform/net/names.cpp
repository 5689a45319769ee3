// Host names and address text: gethostbyname over getaddrinfo, gethostname, and the
// BSD inet_addr forms.
#include "linux_net.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "net_internal.h"
#include "wce/base.h"

namespace wce {
namespace net {
namespace {

// Windows keeps one host record per thread and fills it anew at every look-up.
struct HostRecord {
    std::string name;
    std::vector<u_long> addresses;
    std::vector<char*> addressList;
    char* noAliases[1] = {nullptr};
    hostent entry{};
};

constexpr size_t kMaxAddresses = 35;  // what a Windows host record holds

int HostError(int gaiError) {
    switch (gaiError) {
        case EAI_NONAME:
#ifdef EAI_NODATA
        case EAI_NODATA:
#endif
            return WSAHOST_NOT_FOUND;
        case EAI_AGAIN:
            return WSATRY_AGAIN;
        case EAI_MEMORY:
            return WSAENOBUFS;
        default:
            return WSANO_RECOVERY;
    }
}

// One part of a dotted address: decimal, octal with a leading 0, hex with 0x.
const char* ParsePart(const char* text, unsigned long long* value) {
    unsigned base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    } else if (text[0] == '0') {
        base = 8;
    }
    const char* start = text;
    unsigned long long v = 0;
    for (;; ++text) {
        char c = *text;
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = unsigned(c - '0');
        } else if (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            digit = unsigned((c | 0x20) - 'a' + 10);
        } else {
            break;
        }
        if (digit >= base) return nullptr;
        v = v * base + digit;
        if (v > 0xFFFFFFFFull) return nullptr;
    }
    if (text == start && base == 16) return nullptr;
    if (text == start && base == 10) return nullptr;
    *value = v;
    return text;
}

}  // namespace
}  // namespace net

u_long inet_addr(const char* text) {
    if (!text || !*text) return INADDR_NONE;
    unsigned long long parts[4];
    int count = 0;
    const char* at = text;
    for (;;) {
        if (count == 4) return INADDR_NONE;
        at = net::ParsePart(at, &parts[count++]);
        if (!at) return INADDR_NONE;
        if (*at == '\0') break;
        if (*at != '.') return INADDR_NONE;
        ++at;
    }
    // The last part fills the bytes the earlier ones leave.
    unsigned long long host = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFF) return INADDR_NONE;
        host |= parts[i] << (24 - 8 * i);
    }
    unsigned long long lastLimit = 0xFFFFFFFFull >> (8 * (count - 1));
    if (parts[count - 1] > lastLimit) return INADDR_NONE;
    host |= parts[count - 1];
    return htonl(u_long(host));
}

hostent* gethostbyname(const char* name) {
    if (!net::Started()) {
        net::Fail(WSANOTINITIALISED);
        return nullptr;
    }
    if (!name) {
        net::Fail(WSAEFAULT);
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = lnx::kAfInet;
    hints.ai_socktype = lnx::kSockStream;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(name, nullptr, &hints, &found);
    if (rc != 0) {
        net::Fail(net::HostError(rc));
        return nullptr;
    }
    thread_local net::HostRecord record;
    record.name = found->ai_canonname ? found->ai_canonname : name;
    record.addresses.clear();
    for (addrinfo* a = found; a && record.addresses.size() < net::kMaxAddresses; a = a->ai_next) {
        u_long address = reinterpret_cast<::sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (u_long known : record.addresses) seen = seen || known == address;
        if (!seen) record.addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    record.addressList.clear();
    for (u_long& address : record.addresses) {
        record.addressList.push_back(reinterpret_cast<char*>(&address));
    }
    record.addressList.push_back(nullptr);
    record.entry.h_name = record.name.data();
    record.entry.h_aliases = record.noAliases;
    record.entry.h_addrtype = AF_INET;
    record.entry.h_length = sizeof(u_long);
    record.entry.h_addr_list = record.addressList.data();
    return &record.entry;
}

int gethostname(char* name, int nameLength) {
    if (!net::Started()) return net::Fail(WSANOTINITIALISED);
    if (!name || nameLength <= 0) return net::Fail(WSAEFAULT);
    char own[256] = {};
    if (::gethostname(own, sizeof own - 1) != 0) return net::Fail(net::WsaErrorOf(errno));
    if (std::strlen(own) + 1 > size_t(nameLength)) return net::Fail(WSAEFAULT);
    std::strcpy(name, own);
    return 0;
}

}  // namespace wce
