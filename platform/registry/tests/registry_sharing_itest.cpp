// Several processes share one registry file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "registry_fixture.h"
#include "wce/registry.h"

using namespace wce;

using RegistrySharingTest = RegistryFileTest;

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

TEST_F(RegistrySharingTest, TwoWritersLoseNothing) {
    pid_t a = fork();
    if (a == 0) WriterProcess("a", 500);
    pid_t b = fork();
    if (b == 0) WriterProcess("b", 500);
    int sa = 0, sb = 0;
    waitpid(a, &sa, 0);
    waitpid(b, &sb, 0);
    ASSERT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0);
    ASSERT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Shared", 0, KEY_READ, &key), 0);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(values, 1000u);
    for (const char* prefix : {"a", "b"})
        for (int i = 0; i < 500; ++i) {
            DWORD v = 99999, size = 4;
            ASSERT_EQ(RegQueryValueExW(key, Name(prefix, i).c_str(), nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&v), &size), 0);
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
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Kill", 0, KEY_READ, &k), 0) << "round " << round;
        DWORD v = 0, size = 4;
        ASSERT_EQ(RegQueryValueExW(k, u"Counter", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), 0);
        EXPECT_GE(v, last);
        last = v;
        RegCloseKey(k);
    }
    EXPECT_GT(last, 0u);
}
