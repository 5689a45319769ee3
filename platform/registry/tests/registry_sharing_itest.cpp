// Several processes share one registry file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "registry_fixture.h"
#include "wce/registry.h"

using namespace wce;

namespace {

std::u16string Name(const char* prefix, int i) {
    std::string s = prefix + std::to_string(i);
    return std::u16string(s.begin(), s.end());
}

// Sets count values in "Shared", then leaves the process.
void WriterProcess(const char* prefix, int count) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != 0)
        _exit(2);
    for (int i = 0; i < count; ++i) {
        DWORD v = DWORD(i);
        if (RegSetValueExW(key, Name(prefix, i).c_str(), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&v), 4) != 0)
            _exit(3);
    }
    _exit(0);
}

}  // namespace

class RegistrySharingTest : public RegistryFileTest {
  protected:
    // Names of *.tmp.* files beside the registry file.
    std::vector<std::string> TemporaryFiles() const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir_))
            if (entry.path().filename().string().find(".tmp.") != std::string::npos)
                found.push_back(entry.path().filename().string());
        return found;
    }
};

TEST_F(RegistrySharingTest, TwoWritersLoseNothing) {
    pid_t a = fork();
    if (a == 0) WriterProcess("a", 250);
    pid_t b = fork();
    if (b == 0) WriterProcess("b", 250);
    int sa = 0, sb = 0;
    waitpid(a, &sa, 0);
    waitpid(b, &sb, 0);
    ASSERT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0);
    ASSERT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Shared", 0, KEY_READ, &key), 0);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(values, 500u);
    for (const char* prefix : {"a", "b"})
        for (int i = 0; i < 250; ++i) {
            DWORD v = 99999, size = 4;
            ASSERT_EQ(RegQueryValueExW(key, Name(prefix, i).c_str(), nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&v), &size),
                      0);
            EXPECT_EQ(v, DWORD(i));
        }
    RegCloseKey(key);
}

TEST_F(RegistrySharingTest, WriterKilledAtAnyMomentLeavesOldOrNewContent) {
    std::mt19937 rng(1234);
    HKEY key = Create(u"Kill");
    SetDword(key, u"Counter", 0);
    RegCloseKey(key);
    DWORD last = 0;
    for (int round = 0; round < 12; ++round) {
        pid_t child = fork();
        if (child == 0) {
            HKEY k = nullptr;
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Kill", 0, KEY_ALL_ACCESS, &k);
            std::vector<BYTE> payload(4000, 0xAB);
            for (DWORD i = last + 1;; ++i) {
                RegSetValueExW(k, u"Payload", 0, REG_BINARY, payload.data(), DWORD(payload.size()));
                RegSetValueExW(k, u"Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), 4);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 60));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        HKEY k = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Kill", 0, KEY_READ, &k), 0)
            << "round " << round;
        DWORD v = 0, size = 4;
        ASSERT_EQ(
            RegQueryValueExW(k, u"Counter", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size),
            0);
        EXPECT_GE(v, last);
        last = v;
        RegCloseKey(k);
    }
    EXPECT_GT(last, 0u);
    // Whatever temporary files the killed writers left, the next write clears away.
    key = Create(u"Kill");
    EXPECT_EQ(SetDword(key, u"After", 1), 0);
    RegCloseKey(key);
    EXPECT_EQ(TemporaryFiles(), std::vector<std::string>{});
}

TEST_F(RegistrySharingTest, StaleTemporariesGoWhenTheNextWriterTakesTheLock) {
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string stale = path_ + ".tmp." + std::to_string(gone);
    const std::string live = path_ + ".tmp." + std::to_string(getppid());
    const std::string other = path_ + ".tmp.notapid";
    for (const std::string& p : {stale, live, other}) std::ofstream(p) << "half a file";
    HKEY key = Create(u"K");
    EXPECT_EQ(SetDword(key, u"V", 1), 0);
    RegCloseKey(key);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(live));
    EXPECT_TRUE(std::filesystem::exists(other));
}

TEST_F(RegistrySharingTest, WritersTakingTheLockInTurnDoNotMakeAWaiterFail) {
    // The lock is held for 5 s, longer than a writer waits, but by a series of holders:
    // each stamps the lock file as it takes the lock, as every writer does.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holders = fork();
    if (holders == 0) {
        int fd = open((path_ + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
        if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(2);
        if (write(ready[1], "x", 1) != 1) _exit(3);
        for (int turn = 1; turn <= 5; ++turn) {
            std::string stamp = "holder " + std::to_string(turn) + "\n";
            if (pwrite(fd, stamp.data(), stamp.size(), 0) < 0) _exit(4);
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    HKEY key = Create(u"K");
    EXPECT_EQ(SetDword(key, u"V", 1), 0);
    RegCloseKey(key);
    int status = 0;
    waitpid(holders, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(FileText().find("\"V\"=dword:00000001"), std::string::npos);
    close(ready[0]);
    close(ready[1]);
}

TEST_F(RegistrySharingTest, StoppedLockHolderMakesWritesFailNotHang) {
    HKEY key = Create(u"K");
    ASSERT_EQ(SetDword(key, u"V", 1), 0);
    RegCloseKey(key);
    const std::string before = FileText();
    // Another program takes the lock and is stopped while it holds it.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    if (holder == 0) {
        int fd = open((path_ + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
        if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(2);
        if (write(ready[1], "x", 1) != 1) _exit(3);
        raise(SIGSTOP);
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    // The write gives up with an error instead of waiting for ever (the alarm says so
    // when it would).
    pid_t writer = fork();
    if (writer == 0) {
        alarm(15);
        HKEY k = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, KEY_ALL_ACCESS, &k) != 0) _exit(2);
        DWORD v = 2;
        LONG r = RegSetValueExW(k, u"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
        _exit(r == ERROR_TIMEOUT ? 0 : 3);
    }
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(FileText(), before);
    EXPECT_NE(DebugText().find("cannot write " + path_), std::string::npos) << DebugText();
    // Readers never wait for the lock.
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, KEY_ALL_ACCESS, &key), 0);
    DWORD v = 0, size = 4;
    EXPECT_EQ(RegQueryValueExW(key, u"V", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), 0);
    EXPECT_EQ(v, 1u);
    // Once the holder is gone, writing works again.
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(SetDword(key, u"V", 3), 0);
    RegCloseKey(key);
    EXPECT_NE(FileText().find("\"V\"=dword:00000003"), std::string::npos);
    close(ready[0]);
    close(ready[1]);
}
