// What the port tests share: a private registry file, registry writes, and
// pseudo-terminals standing in for serial printers.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "port_internal.h"
#include "temp_dir.h"
#include "wce/registry.h"
#include "wce/text.h"

namespace qx470::testing {

// A temporary folder holding this test's registry file; removed afterwards.
class TempRegistry {
  public:
    TempRegistry() { ::setenv("QX_REGISTRY", dir_.File("registry.reg").c_str(), 1); }
    const std::string& dir() const { return dir_.path(); }

  private:
    qxtest::TempDir dir_{"qxport"};
};

inline void SetValue(const char16_t* keyName, const char16_t* valueName, wce::DWORD type,
                     const void* data, wce::DWORD size) {
    wce::HKEY key = nullptr;
    ASSERT_EQ(wce::RegCreateKeyExW(wce::HKEY_LOCAL_MACHINE, keyName, 0, nullptr, 0,
                                   wce::KEY_ALL_ACCESS, nullptr, &key, nullptr),
              wce::LONG(wce::ERROR_SUCCESS));
    ASSERT_EQ(
        wce::RegSetValueExW(key, valueName, 0, type, static_cast<const wce::BYTE*>(data), size),
        wce::LONG(wce::ERROR_SUCCESS));
    wce::RegCloseKey(key);
}

inline void SetString(const char16_t* keyName, const char16_t* valueName, std::u16string text) {
    SetValue(keyName, valueName, wce::REG_SZ, text.c_str(),
             wce::DWORD((text.size() + 1) * sizeof(char16_t)));
}

inline void SetTimeout(wce::DWORD seconds) {
    SetValue(u"PrintSettings", u"TimeOut", wce::REG_DWORD, &seconds, sizeof seconds);
}

// A pseudo-terminal registered as a COMn: device. The test keeps a slave descriptor
// of its own, so the terminal outlives the driver's handle and its settings can be read.
class Pty {
  public:
    explicit Pty(const char16_t* deviceName) {
        // Not inherited: a program the test starts must not keep the printer's end open.
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        path_ = ::ptsname(master_);
        slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        SetString(u"Platform\\Devices", deviceName, wce::Utf8ToWide(path_));
    }
    ~Pty() {
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }
    bool ok() const { return master_ >= 0 && slave_ >= 0; }
    int slave() const { return slave_; }
    int master() const { return master_; }
    // The printer goes away: writes to the terminal fail from now on.
    void CloseReader() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    const std::string& path() const { return path_; }

    // Everything the printer side has received so far, waiting a little for stragglers.
    std::string Drain(int quietMs = 50) {
        std::string bytes;
        char chunk[8192];
        for (;;) {
            ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n > 0) {
                bytes.append(chunk, size_t(n));
                continue;
            }
            if (n == 0 || errno != EAGAIN) break;
            pollfd entry{master_, POLLIN, 0};
            if (::poll(&entry, 1, quietMs) <= 0) break;
        }
        return bytes;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

}  // namespace qx470::testing
