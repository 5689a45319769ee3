// A private registry for a test or benchmark, and the printer key that registers the
// driver with the settings the utility would write.
#pragma once

#include <stdlib.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "temp_dir.h"
#include "wce/registry.h"

namespace qxtest {

// A temporary folder holding the registry file and the debug log; removed at the end
// unless QX_KEEP is set.
class TempWorld {
  public:
    explicit TempWorld(const char* prefix = "qxtest") : dir_(prefix) {
        ::setenv("QX_REGISTRY", dir_.File("registry.reg").c_str(), 1);
        ::setenv("QX_DEBUG_LOG", dir_.File("debug.log").c_str(), 1);
    }
    const std::string& dir() const { return dir_.path(); }

  private:
    TempDir dir_;
};

inline constexpr char16_t kDriverKey[] = u"Printers\\QX-470 Driver";

inline void SetText(const char16_t* name, const std::u16string& text,
                    const char16_t* key = kDriverKey) {
    wce::HKEY k = nullptr;
    wce::RegCreateKeyExW(wce::HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, wce::KEY_ALL_ACCESS, nullptr,
                         &k, nullptr);
    wce::RegSetValueExW(k, name, 0, wce::REG_SZ, reinterpret_cast<const wce::BYTE*>(text.c_str()),
                        wce::DWORD((text.size() + 1) * 2));
    wce::RegCloseKey(k);
}

inline void SetNumber(const char16_t* name, int value, const char16_t* key = kDriverKey) {
    wce::HKEY k = nullptr;
    wce::RegCreateKeyExW(wce::HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, wce::KEY_ALL_ACCESS, nullptr,
                         &k, nullptr);
    wce::RegSetValueExW(k, name, 0, wce::REG_DWORD, reinterpret_cast<const wce::BYTE*>(&value), 4);
    wce::RegCloseKey(k);
}

// The driver key with the utility's defaults (a 50.8 mm custom label, ESC/POS, blank rows
// fed), printing to port; then the given numbers over them.
inline void RegisterDriver(const std::u16string& port,
                           std::initializer_list<std::pair<const char16_t*, int>> numbers = {}) {
    SetText(u"Driver", u"QX470.dll");
    SetText(u"Port", port);
    SetText(u"StartDocText", u"");
    SetText(u"EndDocText", u"");
    for (auto [name, value] : {std::pair{u"PHeight", 508},
                               {u"PWidth", 80},
                               {u"PaperSize", 0},
                               {u"Copies", 1},
                               {u"StartLogo", 0},
                               {u"EndLogo", 0},
                               {u"PrintingLength", 1},
                               {u"UserPaper", 1},
                               {u"Emulation", 0},
                               {u"BackFeed", 0},
                               {u"Rotation", 0}})
        SetNumber(name, value);
    for (auto [name, value] : numbers) SetNumber(name, value);
}

inline constexpr char16_t kModelBDriverKey[] = u"Printers\\QX-250 Driver";

// Model B's key as its utility creates it (58 x 80 mm receipts, whole millimetres, no
// emulation), printing to port; then the given numbers over them.
inline void RegisterModelBDriver(
    const std::u16string& port,
    std::initializer_list<std::pair<const char16_t*, int>> numbers = {}) {
    SetText(u"Driver", u"QX250.dll", kModelBDriverKey);
    SetText(u"Port", port, kModelBDriverKey);
    SetText(u"StartDocText", u"", kModelBDriverKey);
    SetText(u"EndDocText", u"", kModelBDriverKey);
    for (auto [name, value] : {std::pair{u"PHeight", 80},
                               {u"PWidth", 58},
                               {u"PaperSize", 2},
                               {u"Copies", 1},
                               {u"StartLogo", 0},
                               {u"EndLogo", 0},
                               {u"PrintingLength", 1},
                               {u"UserPaper", 1}})
        SetNumber(name, value, kModelBDriverKey);
    for (auto [name, value] : numbers) SetNumber(name, value, kModelBDriverKey);
}

}  // namespace qxtest
