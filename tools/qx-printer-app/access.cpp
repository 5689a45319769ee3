#include "access.h"

#include <errno.h>
#include <grp.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace qxapp {
namespace {

struct Rules {
    uid_t owner = 0;
    std::string adminGroup;  // "none" when there is none
    gid_t adminGid = gid_t(-1);
    std::string service;     // PAM service, empty for none
    std::string confDir;     // PAM service folder, empty for the system's
    std::string socketPath;  // the sub-commands' local socket
};

struct Identity {
    std::string name;
    std::optional<uid_t> uid;
};

std::string Option(int count, cups_option_t* options, const char* name) {
    const char* value = cupsGetOption(name, count, options);
    return value ? value : "";
}

Identity IdentityOfUid(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{}, *found = nullptr;
    Identity who{std::to_string(uid), uid};
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        who.name = found->pw_name;
    return who;
}

bool InGroup(uid_t uid, gid_t gid) {
    if (gid == gid_t(-1)) return false;
    std::vector<char> buffer(16384);
    passwd entry{}, *found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    if (found->pw_gid == gid) return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) return false;
    }
    for (int i = 0; i < count; ++i)
        if (groups[size_t(i)] == gid) return true;
    return false;
}

// One address of /proc/net/tcp or tcp6: the 32-bit words of the address as the kernel
// prints them (each in host order), then the port.
bool ParseProcAddress(const std::string& text, std::vector<uint32_t>* words, unsigned* port) {
    size_t colon = text.find(':');
    if (colon == std::string::npos || (colon != 8 && colon != 32)) return false;
    words->clear();
    for (size_t at = 0; at < colon; at += 8)
        words->push_back(uint32_t(std::strtoul(text.substr(at, 8).c_str(), nullptr, 16)));
    *port = unsigned(std::strtoul(text.c_str() + colon + 1, nullptr, 16));
    return true;
}

bool SocketWords(const sockaddr_storage& a, std::vector<uint32_t>* words, unsigned* port) {
    words->clear();
    if (a.ss_family == AF_INET) {
        auto& in = reinterpret_cast<const sockaddr_in&>(a);
        words->push_back(in.sin_addr.s_addr);
        *port = ntohs(in.sin_port);
        return true;
    }
    if (a.ss_family == AF_INET6) {
        auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
        for (int i = 0; i < 4; ++i) {
            uint32_t w;
            std::memcpy(&w, in6.sin6_addr.s6_addr + 4 * i, 4);
            words->push_back(w);
        }
        *port = ntohs(in6.sin6_port);
        return true;
    }
    return false;
}

// What the kernel's socket diagnostics say of one TCP socket: its owner, or no owner
// when there is no such socket. Not asked when the diagnostics cannot be reached (a
// kernel or sandbox without them) or give no clear answer.
struct DiagAnswer {
    bool asked = false;
    std::optional<uid_t> uid;
};

DiagAnswer DiagOwner(int family, const std::vector<uint32_t>& srcWords, unsigned srcPort,
                     const std::vector<uint32_t>& dstWords, unsigned dstPort) {
    DiagAnswer answer;
    int nl = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (nl < 0) return answer;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } ask{};
    ask.header.nlmsg_len = sizeof ask;
    ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.header.nlmsg_flags = NLM_F_REQUEST;
    ask.request.sdiag_family = uint8_t(family);
    ask.request.sdiag_protocol = IPPROTO_TCP;
    ask.request.idiag_states = ~0u;
    ask.request.id.idiag_sport = htons(uint16_t(srcPort));
    ask.request.id.idiag_dport = htons(uint16_t(dstPort));
    for (size_t i = 0; i < srcWords.size() && i < 4; ++i) ask.request.id.idiag_src[i] = srcWords[i];
    for (size_t i = 0; i < dstWords.size() && i < 4; ++i) ask.request.id.idiag_dst[i] = dstWords[i];
    ask.request.id.idiag_cookie[0] = ask.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    alignas(nlmsghdr) char reply[4096];
    ssize_t got = -1;
    if (::sendto(nl, &ask, sizeof ask, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
        ssize_t(sizeof ask)) {
        do got = ::recv(nl, reply, sizeof reply, 0);
        while (got < 0 && errno == EINTR);
    }
    ::close(nl);
    if (got < ssize_t(sizeof(nlmsghdr))) return answer;
    const auto* header = reinterpret_cast<const nlmsghdr*>(reply);
    if (!NLMSG_OK(header, size_t(got))) return answer;
    if (header->nlmsg_type == NLMSG_ERROR) {
        // No such socket is an answer; any other error means the diagnostics cannot tell.
        const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
        answer.asked =
            header->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr)) && error->error == -ENOENT;
        return answer;
    }
    if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
        return answer;
    answer.asked = true;
    answer.uid = uid_t(static_cast<const inet_diag_msg*>(NLMSG_DATA(header))->idiag_uid);
    return answer;
}

// The user whose process made the other end of a TCP connection, when that end is on
// this machine: the kernel's socket table holds it with the two addresses swapped. The
// socket diagnostics look that one socket up; /proc/net, read whole, is the way left
// when they cannot be asked.
std::optional<uid_t> LocalPeer(int fd) {
    sockaddr_storage mine{}, peer{};
    socklen_t mineLen = sizeof mine, peerLen = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&mine), &mineLen) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0)
        return std::nullopt;
    std::vector<uint32_t> mineWords, peerWords;
    unsigned minePort = 0, peerPort = 0;
    if (!SocketWords(mine, &mineWords, &minePort) || !SocketWords(peer, &peerWords, &peerPort))
        return std::nullopt;
    if (DiagAnswer diag = DiagOwner(mine.ss_family, peerWords, peerPort, mineWords, minePort);
        diag.asked)
        return diag.uid;
    std::ifstream table(mine.ss_family == AF_INET ? "/proc/net/tcp" : "/proc/net/tcp6");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        char local[64], remote[64];
        unsigned state = 0, uid = 0;
        // sl local rem st tx:rx tr:when retrnsmt uid ...
        if (std::sscanf(line.c_str(), " %*[^:]: %63s %63s %x %*s %*s %*s %u", local, remote, &state,
                        &uid) != 4)
            continue;
        std::vector<uint32_t> localWords, remoteWords;
        unsigned localPort = 0, remotePort = 0;
        if (!ParseProcAddress(local, &localWords, &localPort) ||
            !ParseProcAddress(remote, &remoteWords, &remotePort))
            continue;
        if (localWords == peerWords && localPort == peerPort && remoteWords == mineWords &&
            remotePort == minePort)
            return uid_t(uid);
    }
    return std::nullopt;
}

struct Credentials {
    const char* user;
    const char* password;
};

int Converse(int count, const pam_message** messages, pam_response** responses, void* data) {
    auto* given = static_cast<Credentials*>(data);
    auto* replies = static_cast<pam_response*>(std::calloc(size_t(count), sizeof(pam_response)));
    if (!replies) return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF)
            replies[i].resp = ::strdup(given->password);
        else if (messages[i]->msg_style == PAM_PROMPT_ECHO_ON)
            replies[i].resp = ::strdup(given->user);
    }
    *responses = replies;
    return PAM_SUCCESS;
}

bool PamAccepts(const Rules& rules, pappl_client_t* client, const char* user,
                const char* password) {
    Credentials given{user, password};
    pam_conv conversation{Converse, &given};
    pam_handle_t* pam = nullptr;
    int status = rules.confDir.empty()
                     ? ::pam_start(rules.service.c_str(), user, &conversation, &pam)
                     : ::pam_start_confdir(rules.service.c_str(), user, &conversation,
                                           rules.confDir.c_str(), &pam);
    if (status == PAM_SUCCESS)
        status = ::pam_set_item(pam, PAM_RHOST, papplClientGetHostName(client));
    if (status == PAM_SUCCESS) status = ::pam_authenticate(pam, PAM_SILENT);
    if (status == PAM_SUCCESS) status = ::pam_acct_mgmt(pam, PAM_SILENT);
    if (status != PAM_SUCCESS)
        papplLogClient(client, PAPPL_LOGLEVEL_INFO, "PAM refused \"%s\": %s", user,
                       ::pam_strerror(pam, status));
    if (pam) ::pam_end(pam, status);
    return status == PAM_SUCCESS;
}

// A user name and password in an HTTP Basic header, checked with PAM. Another scheme,
// or no PAM service, counts as no credentials.
http_status_t CheckBasic(const Rules& rules, pappl_client_t* client, const char* header,
                         std::optional<Identity>* who) {
    if (rules.service.empty() || std::strncmp(header, "Basic ", 6) != 0)
        return HTTP_STATUS_CONTINUE;
    char decoded[512];
    int length = sizeof decoded;
    const char* data = header + 6;
    while (*data == ' ') ++data;
    httpDecode64_2(decoded, &length, data);
    char* colon = std::strchr(decoded, ':');
    if (!colon) return HTTP_STATUS_BAD_REQUEST;
    *colon = '\0';
    if (!PamAccepts(rules, client, decoded, colon + 1)) return HTTP_STATUS_UNAUTHORIZED;
    Identity id{decoded, std::nullopt};
    std::vector<char> buffer(16384);
    passwd entry{}, *found = nullptr;
    if (::getpwnam_r(decoded, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        id.uid = found->pw_uid;
    *who = id;
    return HTTP_STATUS_CONTINUE;
}

bool Allowed(const Rules& rules, uid_t uid) {
    return uid == 0 || uid == rules.owner || InGroup(uid, rules.adminGid);
}

// PAPPL asks before every operation but Get-Printer-Attributes and the like: naming
// the admin group (always set, "none" at least) for one that changes something, and
// no group (printers have no print group here) for printing and a user's own jobs.
http_status_t Authorize(pappl_client_t* client, const char* group, gid_t, void* data) {
    const Rules& rules = *static_cast<const Rules*>(data);
    http_t* http = papplClientGetHTTP(client);
    std::optional<Identity> who;
    const char* header = httpGetField(http, HTTP_FIELD_AUTHORIZATION);
    if (header && *header) {
        http_status_t status = CheckBasic(rules, client, header, &who);
        if (status != HTTP_STATUS_CONTINUE) return status;
    }
    bool signedIn = who.has_value();
    if (!who)
        if (std::optional<uid_t> peer = LocalPeer(httpGetFd(http))) who = IdentityOfUid(*peer);
    // Jobs belong to the user the server knows, not to the name a client claims.
    if (who) papplClientSetUsername(client, who->name.c_str());
    if (!group) return HTTP_STATUS_CONTINUE;
    if (who && who->uid && Allowed(rules, *who->uid)) return HTTP_STATUS_CONTINUE;
    if (who)
        papplLogClient(client, PAPPL_LOGLEVEL_INFO, "\"%s\" is no administrator of this server.",
                       who->name.c_str());
    // Someone known only by the connection may still sign in as an administrator.
    if (!signedIn && !rules.service.empty()) return HTTP_STATUS_UNAUTHORIZED;
    return HTTP_STATUS_FORBIDDEN;
}

// PAPPL makes the local socket after the system exists, readable and writable by
// everyone, and lets whoever connects there do anything; the first turn of the
// server's loop narrows it to the owner and the admin group.
bool NarrowSocket(pappl_system_t* system, void* data) {
    const Rules& rules = *static_cast<const Rules*>(data);
    struct stat info {};
    if (::lstat(rules.socketPath.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) ||
        info.st_uid != ::getuid())
        return false;
    mode_t mode = 0600;
    if (rules.adminGid != gid_t(-1) &&
        ::chown(rules.socketPath.c_str(), uid_t(-1), rules.adminGid) == 0)
        mode = 0660;
    if (::chmod(rules.socketPath.c_str(), mode) != 0)
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot narrow the access to %s: %s",
                 rules.socketPath.c_str(), std::strerror(errno));
    return false;
}

// Where PAPPL's main loop puts the socket of this server.
std::string SocketPath() {
    const char* base = program_invocation_short_name;
    if (::getuid() == 0) return std::string("/run/") + base + ".sock";
    return std::string(papplGetTempDir()) + "/" + base + std::to_string(::getuid()) + ".sock";
}

bool ServiceFileExists(const Rules& rules) {
    if (rules.service.find('/') != std::string::npos) return false;
    std::vector<std::string> folders{rules.confDir};
    if (rules.confDir.empty()) folders = {"/etc/pam.d", "/usr/lib/pam.d"};
    for (const std::string& folder : folders)
        if (::access((folder + "/" + rules.service).c_str(), R_OK) == 0) return true;
    return false;
}

}  // namespace

bool SetUpAccess(pappl_system_t* system, int count, cups_option_t* options) {
    static Rules rules;
    rules.owner = ::getuid();
    rules.adminGroup = Option(count, options, "admin-group");
    rules.service = Option(count, options, "auth-service");
    rules.confDir = Option(count, options, "auth-config-dir");
    rules.socketPath = SocketPath();
    if (rules.adminGroup.empty() || rules.adminGroup == "none") {
        rules.adminGroup = "none";
        rules.adminGid = gid_t(-1);
    } else {
        std::vector<char> buffer(65536);
        group entry{}, *found = nullptr;
        if (::getgrnam_r(rules.adminGroup.c_str(), &entry, buffer.data(), buffer.size(), &found) !=
                0 ||
            !found) {
            std::fprintf(stderr, "qx-printer-app: admin-group=%s: there is no such group\n",
                         rules.adminGroup.c_str());
            return false;
        }
        rules.adminGid = found->gr_gid;
    }
    if (rules.service == "none") rules.service.clear();
    if (!rules.service.empty() && !ServiceFileExists(rules)) {
        std::fprintf(stderr, "qx-printer-app: auth-service=%s: no PAM service file %s/%s\n",
                     rules.service.c_str(),
                     rules.confDir.empty() ? "/etc/pam.d" : rules.confDir.c_str(),
                     rules.service.c_str());
        return false;
    }
    // PAPPL names the admin group in the question it asks; a name is needed even
    // without a group, to tell its questions about changes from those about printing.
    papplSystemSetAdminGroup(system, rules.adminGroup.c_str());
    papplSystemSetAuthCallback(system, "Basic", Authorize, &rules);
    papplSystemAddTimerCallback(system, 0, 0, NarrowSocket, &rules);
    return true;
}

}  // namespace qxapp
