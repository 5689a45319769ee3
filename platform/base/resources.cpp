// String tables by module handle.
#include "wce/resources.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>

namespace wce {

namespace {

struct Tables {
    std::mutex lock;
    std::map<HINSTANCE, std::map<UINT, std::u16string>> byModule;
};

Tables& AllTables() {
    static Tables* tables = new Tables;
    return *tables;
}

}  // namespace

void RegisterStringTable(HINSTANCE module, const StringResource* entries, size_t count) {
    std::map<UINT, std::u16string> table;
    for (size_t i = 0; entries && i < count; ++i) {
        if (entries[i].text) table[entries[i].id] = entries[i].text;
    }
    Tables& tables = AllTables();
    std::lock_guard guard(tables.lock);
    tables.byModule[module] = std::move(table);
}

void UnregisterStringTable(HINSTANCE module) {
    Tables& tables = AllTables();
    std::lock_guard guard(tables.lock);
    tables.byModule.erase(module);
}

int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax) {
    if (!buffer || bufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Tables& tables = AllTables();
    std::lock_guard guard(tables.lock);
    auto table = tables.byModule.find(module);
    if (table == tables.byModule.end()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    auto entry = table->second.find(id);
    if (entry == table->second.end()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const std::u16string& text = entry->second;
    if (bufferMax == 0) {
        *reinterpret_cast<LPCWSTR*>(buffer) = text.c_str();
        return int(text.size());
    }
    size_t n = std::min(text.size(), size_t(bufferMax - 1));
    text.copy(buffer, n);
    buffer[n] = u'\0';
    return int(n);
}

}  // namespace wce
