// Who may change the printer application: a server run by this user (root, as the
// system service runs), and clients run as other users in forked children that drop
// to them. Passwords are checked by a real PAM stack of the test's own (pam_exec with
// a script that knows two passwords), read through auth-config-dir.
#include <cups/cups.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <filesystem>

#include "app_support.h"

namespace {

namespace fs = std::filesystem;
using namespace qxapptest;

struct User {
    uid_t uid;
    gid_t gid;
};

User Lookup(const char* name) {
    passwd* p = ::getpwnam(name);
    return p ? User{p->pw_uid, p->pw_gid} : User{uid_t(-1), gid_t(-1)};
}

// Runs fn as another user (no supplementary groups) in a forked child, for at most a
// minute. -1 when the child could not become that user or gave no answer.
int AsUser(User user, const std::function<int()>& fn) {
    return qxtest::RunForked([&] {
               bool became = ::setgroups(0, nullptr) == 0 && ::setgid(user.gid) == 0 &&
                             ::setuid(user.uid) == 0;
               return became ? fn() : -1;
           })
        .value_or(-1);
}

const char* NoPassword(const char*, http_t*, const char*, const char*, void*) {
    return nullptr;
}

http_t* Connect(int port, const std::string& user, const std::string& password) {
    cupsSetPasswordCB2(NoPassword, nullptr);  // never a prompt on a terminal
    http_t* http =
        httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 10000, nullptr);
    if (http && !user.empty()) {
        std::string pair = user + ":" + password;
        char encoded[256];
        httpEncode64_2(encoded, sizeof encoded, pair.c_str(), int(pair.size()));
        httpSetAuthString(http, "Basic", encoded);
    }
    return http;
}

// One IPP request; its status, or the status the HTTP refusal stands for.
int Ipp(int port, ipp_op_t op, const std::string& path, const std::function<void(ipp_t*)>& fill,
        const std::string& user = "", const std::string& password = "",
        const std::string& file = "") {
    http_t* http = Connect(port, user, password);
    if (!http) return -1;
    ipp_t* request = ippNewRequest(op);
    std::string uri = "ipp://localhost:" + std::to_string(port) + path;
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI,
                 path == "/ipp/system" ? "system-uri" : "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 "somebody");
    if (fill) fill(request);
    ipp_t* response = file.empty() ? cupsDoRequest(http, request, path.c_str())
                                   : cupsDoFileRequest(http, request, path.c_str(), file.c_str());
    int status = response ? int(ippGetStatusCode(response)) : int(cupsLastError());
    // After a 401 libcups asks the password callback, which declines.
    if (status == IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED)
        status = IPP_STATUS_ERROR_NOT_AUTHENTICATED;
    ippDelete(response);
    httpClose(http);
    return status;
}

std::function<void(ipp_t*)> NewPrinter(const std::string& name, const std::string& address) {
    return [=](ipp_t* r) {
        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "printer-service-type", nullptr,
                     "print");
        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "smi55357-driver", nullptr,
                     "qx470-escpos");
        std::string device = "qx:" + address;
        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "smi55357-device-uri", nullptr,
                     device.c_str());
        ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, name.c_str());
    };
}

struct WebReply {
    int status = -1;
    std::string body;
};

WebReply Web(http_t* http, http_state_t method, const std::string& path,
             const std::string& form = "") {
    WebReply reply;
    httpClearFields(http);
    httpSetField(http, HTTP_FIELD_HOST, "localhost");
    if (const char* auth = httpGetAuthString(http))
        httpSetField(http, HTTP_FIELD_AUTHORIZATION, auth);
    if (method == HTTP_STATE_POST) {
        httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/x-www-form-urlencoded");
        httpSetLength(http, form.size());
        if (httpPost(http, path.c_str()) || httpWrite2(http, form.c_str(), form.size()) < 0)
            return reply;
    } else if (httpGet(http, path.c_str())) {
        return reply;
    }
    http_status_t status;
    while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
    }
    reply.status = int(status);
    char buffer[8192];
    for (ssize_t n; (n = httpRead2(http, buffer, sizeof buffer)) > 0;)
        reply.body.append(buffer, size_t(n));
    return reply;
}

// The add-printer form: fetched, then sent with its session token. The first refusal's
// HTTP status, or the status of the form's answer.
int AddByWebForm(int port, const std::string& name, const std::string& address,
                 const std::string& user = "", const std::string& password = "") {
    http_t* http = Connect(port, user, password);
    if (!http) return -1;
    WebReply page = Web(http, HTTP_STATE_GET, "/addprinter");
    std::string token;
    const std::string field = "name=\"session\" value=\"";
    if (size_t at = page.body.find(field); at != std::string::npos)
        token = page.body.substr(at + field.size(),
                                 page.body.find('"', at + field.size()) - at - field.size());
    // Without a page there is no token; the refusal must come before the form is read.
    if (token.empty()) token = "none";
    httpClose(http);  // the server ends the connection after a page
    if (!(http = Connect(port, user, password))) return -1;
    WebReply sent = Web(http, HTTP_STATE_POST, "/addprinter",
                        "session=" + token + "&printer_name=" + name +
                            "&driver_name=qx470-escpos&device_uri=qx:" + address);
    httpClose(http);
    return page.status != HTTP_STATUS_OK ? page.status : sent.status;
}

bool CanConnectToSocket(const std::string& path) {
    int s = ::socket(AF_LOCAL, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_LOCAL;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

class AccessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::getuid() != 0) GTEST_SKIP() << "acting as other users needs root";
        nobody_ = Lookup("nobody");
        daemon_ = Lookup("daemon");
        group* g = ::getgrgid(nobody_.gid);
        ASSERT_TRUE(g && nobody_.uid != uid_t(-1) && daemon_.uid != uid_t(-1) &&
                    daemon_.gid != nobody_.gid);
        nobodyGroup_ = g->gr_name;
        ASSERT_TRUE(folder_.ok());
        dir_ = folder_.path();
        ::chmod(dir_.c_str(), 0755);  // the other users read the page they print
        fs::create_directory(dir_ + "/pam");
        std::ofstream(dir_ + "/pam/check") << "#!/bin/sh\n"
                                              "password=$(tr -d '\\000')\n"
                                              "case \"$PAM_USER:$password\" in\n"
                                              "  root:secret|nobody:secret) exit 0 ;;\n"
                                              "esac\n"
                                              "exit 1\n";
        ::chmod((dir_ + "/pam/check").c_str(), 0755);
        std::ofstream(dir_ + "/pam/qx-test")
            << "auth required pam_exec.so quiet expose_authtok " << dir_
            << "/pam/check\naccount required pam_permit.so\n";
        page_ = dir_ + "/page.png";
        fs::copy_file(std::string(QX_SOURCE_DIR) + "/tools/demo/logo.png", page_);
        ::chmod(page_.c_str(), 0644);
    }
    void TearDown() override {
        if (HasFailure()) folder_.Keep();
    }

    // The server under a name of this test's own, so that its local socket is its own.
    bool Start(const std::string& name, const std::vector<std::string>& options) {
        port_ = FreePort();
        program_ = dir_ + "/" + name;
        fs::create_symlink(QX_PRINTER_APP_BIN, program_);
        qxtest::ChildProgram server;
        server.argv = {program_, "server",
                       "-o",     "server-port=" + std::to_string(port_),
                       "-o",     "spool-directory=" + dir_ + "/state",
                       "-o",     "log-file=" + dir_ + "/app.log",
                       "-o",     "log-level=debug"};
        for (const std::string& o : options) server.argv.insert(server.argv.end(), {"-o", o});
        server.env = {LsanEnv()};
        server.outputPath = dir_ + "/server.out";
        server.errorsPath = dir_ + "/server.err";
        return server_.Start(server) && WaitFor([&] { return CanConnect("127.0.0.1", port_); }, 60);
    }
    // Stops the server as its owner; its exit status (-1 when it did not end within a
    // minute, or ended by a signal).
    int Stop() {
        EXPECT_EQ(Ipp(port_, IPP_OP_SHUTDOWN_ALL_PRINTERS, "/ipp/system", nullptr), IPP_STATUS_OK);
        qxtest::ChildResult ended = server_.Wait(60s);
        return ended.timedOut ? -1 : ended.exitCode;
    }
    std::string Log() const { return ReadFile(dir_ + "/server.err") + ReadFile(dir_ + "/app.log"); }
    std::string Socket() const {
        return "/run/" + fs::path(program_).filename().string() + ".sock";
    }

    qxtest::TempDir folder_{"qx-access"};  // goes after the server
    qxtest::ChildProcess server_;
    User nobody_, daemon_;
    std::string nobodyGroup_, dir_, page_, program_;
    int port_ = 0;
};

TEST_F(AccessTest, AnotherUserPrintsAndLooksButChangesNeedAnAdministratorsPassword) {
    ASSERT_TRUE(
        Start("qx-app-access-ipp", {"auth-service=qx-test", "auth-config-dir=" + dir_ + "/pam"}))
        << Log();
    ByteSink printer("127.0.74.1");
    ASSERT_TRUE(printer.ok());
    // The owner, known by the connection's peer, needs no password.
    ASSERT_EQ(Ipp(port_, IPP_OP_CREATE_PRINTER, "/ipp/system", NewPrinter("owned", "127.0.74.1")),
              IPP_STATUS_OK)
        << Log();

    const int refused = IPP_STATUS_ERROR_NOT_AUTHENTICATED;
    EXPECT_EQ(AsUser(nobody_,
                     [&] {
                         return Ipp(port_, IPP_OP_CREATE_PRINTER, "/ipp/system",
                                    NewPrinter("p1", "LPT1:"));
                     }),
              refused);
    EXPECT_EQ(AsUser(nobody_,
                     [&] { return Ipp(port_, IPP_OP_PAUSE_PRINTER, "/ipp/print/owned", nullptr); }),
              refused);
    EXPECT_EQ(AsUser(nobody_,
                     [&] {
                         return Ipp(port_, IPP_OP_DELETE_PRINTER, "/ipp/system", [](ipp_t* r) {
                             ippAddInteger(r, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "printer-id", 1);
                         });
                     }),
              refused);
    EXPECT_EQ(
        AsUser(nobody_,
               [&] { return Ipp(port_, IPP_OP_SHUTDOWN_ALL_PRINTERS, "/ipp/system", nullptr); }),
        refused);
    // A wrong password, and the right one of a user who is no administrator.
    EXPECT_EQ(AsUser(nobody_,
                     [&] {
                         return Ipp(port_, IPP_OP_CREATE_PRINTER, "/ipp/system",
                                    NewPrinter("p2", "LPT1:"), "root", "guess");
                     }),
              refused);
    EXPECT_EQ(AsUser(nobody_,
                     [&] {
                         return Ipp(port_, IPP_OP_CREATE_PRINTER, "/ipp/system",
                                    NewPrinter("p3", "LPT1:"), "nobody", "secret");
                     }),
              IPP_STATUS_ERROR_FORBIDDEN);

    // Looking and printing stay open.
    EXPECT_EQ(
        AsUser(
            nobody_,
            [&] { return Ipp(port_, IPP_OP_GET_PRINTER_ATTRIBUTES, "/ipp/print/owned", nullptr); }),
        IPP_STATUS_OK);
    EXPECT_EQ(AsUser(nobody_,
                     [&] {
                         return Ipp(
                             port_, IPP_OP_PRINT_JOB, "/ipp/print/owned",
                             [](ipp_t* r) {
                                 ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE,
                                              "document-format", nullptr, "image/png");
                             },
                             "", "", page_);
                     }),
              IPP_STATUS_OK);
    EXPECT_FALSE(printer.TakeConnection(90).empty()) << Log();

    // An administrator's password lets the change through.
    EXPECT_EQ(AsUser(nobody_,
                     [&] {
                         return Ipp(port_, IPP_OP_CREATE_PRINTER, "/ipp/system",
                                    NewPrinter("p4", "127.0.74.2"), "root", "secret");
                     }),
              IPP_STATUS_OK)
        << Log();
    EXPECT_EQ(Ipp(port_, IPP_OP_GET_PRINTER_ATTRIBUTES, "/ipp/print/p4", nullptr), IPP_STATUS_OK);
    EXPECT_NE(Ipp(port_, IPP_OP_GET_PRINTER_ATTRIBUTES, "/ipp/print/p1", nullptr), IPP_STATUS_OK);
    EXPECT_EQ(Stop(), 0) << Log();
}

TEST_F(AccessTest, TheWebFormAddsAPrinterOnlyWithAnAdministratorsPassword) {
    ASSERT_TRUE(
        Start("qx-app-access-web", {"auth-service=qx-test", "auth-config-dir=" + dir_ + "/pam"}))
        << Log();
    EXPECT_EQ(AsUser(nobody_, [&] { return AddByWebForm(port_, "w1", "127.0.74.3"); }),
              HTTP_STATUS_UNAUTHORIZED);
    EXPECT_EQ(AsUser(nobody_,
                     [&] { return AddByWebForm(port_, "w2", "127.0.74.3", "nobody", "secret"); }),
              HTTP_STATUS_FORBIDDEN);
    EXPECT_EQ(
        AsUser(nobody_, [&] { return AddByWebForm(port_, "w3", "127.0.74.3", "root", "secret"); }),
        HTTP_STATUS_FOUND)
        << Log();
    EXPECT_NE(Ipp(port_, IPP_OP_GET_PRINTER_ATTRIBUTES, "/ipp/print/w1", nullptr), IPP_STATUS_OK);
    EXPECT_NE(Ipp(port_, IPP_OP_GET_PRINTER_ATTRIBUTES, "/ipp/print/w2", nullptr), IPP_STATUS_OK);
    EXPECT_EQ(Ipp(port_, IPP_OP_GET_PRINTER_ATTRIBUTES, "/ipp/print/w3", nullptr), IPP_STATUS_OK);
    EXPECT_EQ(Stop(), 0) << Log();
}

TEST_F(AccessTest, WithoutPasswordsTheOwnerAndTheAdminGroupChangeItAndOnlyTheyReachTheLocalSocket) {
    ASSERT_TRUE(Start("qx-app-access-group", {"admin-group=" + nobodyGroup_})) << Log();
    // nobody is in the admin group by its own group; daemon is not.
    EXPECT_EQ(AsUser(nobody_,
                     [&] {
                         return Ipp(port_, IPP_OP_CREATE_PRINTER, "/ipp/system",
                                    NewPrinter("g1", "LPT1:"));
                     }),
              IPP_STATUS_OK)
        << Log();
    EXPECT_EQ(AsUser(daemon_,
                     [&] {
                         return Ipp(port_, IPP_OP_CREATE_PRINTER, "/ipp/system",
                                    NewPrinter("g2", "LPT1:"));
                     }),
              IPP_STATUS_ERROR_FORBIDDEN);
    EXPECT_EQ(
        AsUser(daemon_,
               [&] { return Ipp(port_, IPP_OP_GET_PRINTER_ATTRIBUTES, "/ipp/print/g1", nullptr); }),
        IPP_STATUS_OK);

    // The local socket, where PAPPL asks nobody who they are.
    struct stat info {};
    ASSERT_TRUE(WaitFor(
        [&] { return ::stat(Socket().c_str(), &info) == 0 && (info.st_mode & 0007) == 0; }, 10))
        << Socket() << " mode " << std::oct << info.st_mode;
    EXPECT_EQ(info.st_gid, nobody_.gid);
    EXPECT_EQ(AsUser(daemon_, [&] { return int(CanConnectToSocket(Socket())); }), 0);
    EXPECT_EQ(AsUser(nobody_, [&] { return int(CanConnectToSocket(Socket())); }), 1);
    EXPECT_EQ(Stop(), 0) << Log();
}

TEST_F(AccessTest, AGroupOrPamServiceThatDoesNotExistStopsTheServer) {
    for (const std::string& option :
         {std::string("admin-group=no-such-group-qx"), std::string("auth-service=no-such-qx")}) {
        qxtest::ChildProgram server;
        server.argv = {QX_PRINTER_APP_BIN,
                       "server",
                       "-o",
                       "server-port=" + std::to_string(FreePort()),
                       "-o",
                       "spool-directory=" + dir_ + "/state",
                       "-o",
                       option};
        server.timeLimit = 30s;
        CommandRun r = RunProgram(server);
        EXPECT_NE(r.status, 0) << option;
        EXPECT_NE(r.err.find(option), std::string::npos) << r.err;
    }
}

}  // namespace
