// The utility's tests: a private registry file, reading back what the dialogs wrote,
// and runs of the main dialog played by a script.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../../tests/support/driver_key.h"
#include "setup_icons.h"
#include "setup_main_dialog.h"
#include "wce/dialogapp.h"
#include "wce/registry.h"
#include "wce/text.h"

namespace setuptest {

using namespace wce;

struct Value {
    std::u16string name;
    DWORD type = 0;
    std::vector<BYTE> data;
    int Number() const {
        return data.size() == 4 ? *reinterpret_cast<const int*>(data.data()) : -999;
    }
    std::u16string Text() const {
        std::u16string t(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2);
        return t.substr(0, WideLength(t.c_str()));
    }
};

// Every value of a key in enumeration order; empty when the key is missing.
inline std::vector<Value> Values(const char16_t* keyName = qxtest::kDriverKey) {
    std::vector<Value> values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD chars = 256, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &chars, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        Value v{std::u16string(name, chars), type, std::vector<BYTE>(size)};
        RegQueryValueExW(key, v.name.c_str(), nullptr, nullptr, v.data.data(), &size);
        values.push_back(std::move(v));
    }
    RegCloseKey(key);
    return values;
}

inline const Value* Find(const std::vector<Value>& values, std::u16string_view name) {
    for (const Value& v : values)
        if (v.name == name) return &v;
    return nullptr;
}

inline int Number(const char16_t* name, const char16_t* key = qxtest::kDriverKey) {
    auto values = Values(key);
    const Value* v = Find(values, name);
    return v ? v->Number() : -999;
}

inline std::u16string Text(const char16_t* name, const char16_t* key = qxtest::kDriverKey) {
    auto values = Values(key);
    const Value* v = Find(values, name);
    return v ? v->Text() : u"<missing>";
}

inline std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The English or the Korean texts, as the handheld's code page picks them.
inline void UseLanguage(bool korean) {
    ::setenv("LC_ALL", korean ? "ko_KR.UTF-8" : "C", 1);
}

// A test with its own registry file and the utility's icons.
class SetupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseLanguage(false);
        RegisterSetupIcons();
    }
    std::string RegistryFile() const { return world_.dir() + "/registry.reg"; }

    // Runs a main dialog with the script's lines as the user; the dialog is kept for
    // looking at its record and sub-dialogs afterwards.
    int Run(const std::string& script, const setup::SetupModel& model = setup::ModelA()) {
        ui::ScriptRun run(script, "script");
        dialog_ = std::make_unique<SetupMainDialog>(model);
        int result = dialog_->DoModal();
        bool finished = run.Finish();
        EXPECT_TRUE(finished) << run.Error();
        return result;
    }
    SetupMainDialog& Dialog() { return *dialog_; }

    qxtest::TempWorld world_{"qxsetup"};
    std::unique_ptr<SetupMainDialog> dialog_;
};

}  // namespace setuptest
