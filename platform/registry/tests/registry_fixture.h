// A fresh registry file in a temporary folder for each test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "temp_dir.h"
#include "wce/registry.h"

class RegistryFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = folder_.path();
        path_ = dir_ + "/registry.reg";
        setenv("QX_REGISTRY", path_.c_str(), 1);
        setenv("QX_DEBUG_LOG", (dir_ + "/debug.log").c_str(), 1);
    }

    std::string ReadFile(const std::string& p) const {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string FileText() const { return ReadFile(path_); }
    std::string DebugText() const { return ReadFile(dir_ + "/debug.log"); }
    void WriteFileText(const std::string& text) const {
        std::ofstream(path_, std::ios::binary) << text;
    }

    wce::HKEY Create(const char16_t* path, wce::REGSAM sam = wce::KEY_ALL_ACCESS) {
        wce::HKEY key = nullptr;
        EXPECT_EQ(wce::RegCreateKeyExW(wce::HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, sam, nullptr,
                                       &key, nullptr),
                  0);
        return key;
    }
    static wce::LONG SetDword(wce::HKEY key, const char16_t* name, wce::DWORD v) {
        return wce::RegSetValueExW(key, name, 0, wce::REG_DWORD,
                                   reinterpret_cast<const wce::BYTE*>(&v), 4);
    }
    static wce::LONG SetText(wce::HKEY key, const char16_t* name, std::u16string text) {
        return wce::RegSetValueExW(key, name, 0, wce::REG_SZ,
                                   reinterpret_cast<const wce::BYTE*>(text.c_str()),
                                   static_cast<wce::DWORD>((text.size() + 1) * 2));
    }

    qxtest::TempDir folder_{"qxreg"};
    std::string dir_, path_;
};
