// Registry calls with the Windows meaning of every argument, size and error code.
#include "wce/registry.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "store.h"
#include "wce/text.h"

namespace wce {

struct HKEY__ {
    std::u16string path;
    REGSAM access;
};

namespace {

using reg::Hive;
using reg::Key;
using reg::Value;

std::mutex handlesLock;
std::unordered_set<HKEY> liveHandles;

// Resolves a handle to (path, access); false for handles never opened or closed.
bool Lookup(HKEY key, std::u16string& path, REGSAM& access) {
    if (key == HKEY_LOCAL_MACHINE) {
        path.clear();
        access = KEY_ALL_ACCESS;
        return true;
    }
    std::lock_guard g(handlesLock);
    if (!liveHandles.count(key)) return false;
    path = key->path;
    access = key->access;
    return true;
}

HKEY NewHandle(std::u16string path, REGSAM access) {
    HKEY h = new HKEY__{std::move(path), access};
    std::lock_guard g(handlesLock);
    liveHandles.insert(h);
    return h;
}

bool HasBadChars(std::u16string_view name) {
    for (char16_t c : name)
        if (c < 0x20) return true;
    return !IsValidWide(name);
}

// Joins a parent path and a relative subkey; empty components are skipped. Fails on
// names the file cannot hold or that break Windows' limits.
bool JoinPath(const std::u16string& parent, LPCWSTR subKey, std::u16string& out) {
    out = parent;
    if (!subKey) return true;
    std::u16string_view rest(subKey);
    while (!rest.empty()) {
        size_t slash = rest.find(u'\\');
        std::u16string_view part = rest.substr(0, slash);
        if (part.size() > kMaxKeyNameChars || HasBadChars(part) || part.find(u']') != part.npos)
            return false;
        if (!part.empty()) {
            if (!out.empty()) out += u'\\';
            out += part;
        }
        if (slash == std::u16string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    return true;
}

bool ValidValueName(LPCWSTR name) {
    size_t n = WideLength(name);
    return n <= kMaxValueNameChars && !HasBadChars(std::u16string_view(name ? name : u"", n));
}

std::u16string NameOf(LPCWSTR name) {
    return name ? std::u16string(name) : std::u16string();
}

// Runs fn on the key behind an open handle that grants `need`.
LONG WithKey(HKEY hkey, REGSAM need, bool write, const std::function<LONG(Key&, bool&)>& fn) {
    std::u16string path;
    REGSAM access;
    if (!Lookup(hkey, path, access)) return ERROR_INVALID_HANDLE;
    if ((access & need) != need) return ERROR_ACCESS_DENIED;
    auto body = [&](Hive& hive, bool& changed) -> LONG {
        Key* k = hive.Find(path);
        if (!k && path.empty()) k = &hive.FindOrAdd(path);
        if (!k) return ERROR_KEY_DELETED;
        return fn(*k, changed);
    };
    if (write) return reg::WriteHive(body);
    return reg::ReadHive([&](Hive& hive) {
        bool unused = false;
        return body(hive, unused);
    });
}

LONG CopyData(const std::vector<BYTE>& data, LPBYTE out, LPDWORD size) {
    if (!size) return out ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    DWORD need = static_cast<DWORD>(data.size());
    if (!out) {
        *size = need;
        return ERROR_SUCCESS;
    }
    if (*size < need) {
        *size = need;
        return ERROR_MORE_DATA;
    }
    if (need) std::memcpy(out, data.data(), need);
    *size = need;
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD /*options*/, REGSAM desired, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::u16string parent, path;
    REGSAM access;
    if (!Lookup(key, parent, access)) return ERROR_INVALID_HANDLE;
    if (!JoinPath(parent, subKey, path)) return ERROR_INVALID_PARAMETER;
    LONG r = reg::ReadHive([&](Hive& hive) -> LONG {
        return path.empty() || hive.Find(path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (r == ERROR_SUCCESS) *result = NewHandle(path, desired);
    return r;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD /*reserved*/, LPWSTR /*keyClass*/,
                     DWORD /*options*/, REGSAM desired, void* /*security*/, PHKEY result,
                     LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::u16string parent, path;
    REGSAM access;
    if (!Lookup(key, parent, access)) return ERROR_INVALID_HANDLE;
    if (!JoinPath(parent, subKey, path)) return ERROR_INVALID_PARAMETER;
    DWORD how = REG_OPENED_EXISTING_KEY;
    LONG r = reg::WriteHive([&](Hive& hive, bool& changed) -> LONG {
        if (path.empty() || hive.Find(path)) return ERROR_SUCCESS;
        if (!(access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        hive.FindOrAdd(path);
        how = REG_CREATED_NEW_KEY;
        changed = true;
        return ERROR_SUCCESS;
    });
    if (r != ERROR_SUCCESS) return r;
    *result = NewHandle(path, desired);
    if (disposition) *disposition = how;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    {
        std::lock_guard g(handlesLock);
        if (!liveHandles.erase(key)) return ERROR_INVALID_HANDLE;
    }
    delete key;
    return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY key) {
    if (key != HKEY_LOCAL_MACHINE) {
        std::lock_guard g(handlesLock);
        if (!liveHandles.count(key)) return ERROR_INVALID_HANDLE;
    }
    return reg::FlushHive();
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD /*reserved*/, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize) {
    if (data && !dataSize) return ERROR_INVALID_PARAMETER;
    if (!ValidValueName(valueName)) return ERROR_INVALID_PARAMETER;
    std::u16string name = NameOf(valueName);
    return WithKey(key, KEY_QUERY_VALUE, false, [&](Key& k, bool&) -> LONG {
        Value* v = reg::FindValue(k, name);
        if (!v) return ERROR_FILE_NOT_FOUND;
        if (type) *type = v->type;
        return CopyData(v->data, data, dataSize);
    });
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    if ((!data && dataSize) || !ValidValueName(valueName)) return ERROR_INVALID_PARAMETER;
    std::u16string name = NameOf(valueName);
    return WithKey(key, KEY_SET_VALUE, true, [&](Key& k, bool& changed) -> LONG {
        std::vector<BYTE> bytes(data, data + dataSize);
        if (Value* v = reg::FindValue(k, name)) {
            changed = v->type != type || v->data != bytes;
            v->type = type;
            v->data = std::move(bytes);
        } else {
            k.values.push_back(Value{name, type, std::move(bytes)});
            changed = true;
        }
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    if (!ValidValueName(valueName)) return ERROR_INVALID_PARAMETER;
    std::u16string name = NameOf(valueName);
    return WithKey(key, KEY_SET_VALUE, true, [&](Key& k, bool& changed) -> LONG {
        Value* v = reg::FindValue(k, name);
        if (!v) return ERROR_FILE_NOT_FOUND;
        k.values.erase(k.values.begin() + (v - k.values.data()));
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    std::u16string parent, path;
    REGSAM access;
    if (!Lookup(key, parent, access)) return ERROR_INVALID_HANDLE;
    if (!subKey || !*subKey || !JoinPath(parent, subKey, path) || path == parent)
        return ERROR_INVALID_PARAMETER;
    return reg::WriteHive([&](Hive& hive, bool& changed) -> LONG {
        if (!hive.Find(path)) return ERROR_FILE_NOT_FOUND;
        hive.Erase(path);
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameChars,
                   LPDWORD /*reserved*/, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (!valueName || !valueNameChars || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
    return WithKey(key, KEY_QUERY_VALUE, false, [&](Key& k, bool&) -> LONG {
        if (index >= k.values.size()) return ERROR_NO_MORE_ITEMS;
        const Value& v = k.values[index];
        if (v.name.size() >= *valueNameChars) return ERROR_MORE_DATA;
        WideCopy(valueName, *valueNameChars, v.name);
        *valueNameChars = static_cast<DWORD>(v.name.size());
        if (type) *type = v.type;
        return CopyData(v.data, data, dataSize);
    });
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD /*reserved*/,
                   LPWSTR keyClass, LPDWORD classChars, FILETIME* lastWrite) {
    if (!name || !nameChars) return ERROR_INVALID_PARAMETER;
    std::u16string parent;
    REGSAM access;
    if (!Lookup(key, parent, access)) return ERROR_INVALID_HANDLE;
    if (!(access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    return reg::ReadHive([&](Hive& hive) -> LONG {
        DWORD seen = 0;
        size_t skip = parent.empty() ? 0 : parent.size() + 1;
        for (const Key& k : hive.keys) {
            if (k.path.size() <= skip ||
                (skip && (k.path[skip - 1] != u'\\' ||
                          !WideEqualsNoCase(k.path.substr(0, skip - 1), parent))))
                continue;
            std::u16string_view child = std::u16string_view(k.path).substr(skip);
            if (child.find(u'\\') != child.npos || seen++ != index) continue;
            if (child.size() >= *nameChars) return ERROR_MORE_DATA;
            WideCopy(name, *nameChars, child);
            *nameChars = static_cast<DWORD>(child.size());
            if (keyClass && classChars && *classChars) *keyClass = 0;
            if (classChars) *classChars = 0;
            if (lastWrite) *lastWrite = FILETIME{0, 0};
            return ERROR_SUCCESS;
        }
        return ERROR_NO_MORE_ITEMS;
    });
}

LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classChars, LPDWORD /*reserved*/,
                      LPDWORD subKeys, LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values,
                      LPDWORD maxValueNameLen, LPDWORD maxValueLen, LPDWORD securityDescriptor,
                      FILETIME* lastWriteTime) {
    std::u16string path;
    REGSAM access;
    if (!Lookup(key, path, access)) return ERROR_INVALID_HANDLE;
    if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    return reg::ReadHive([&](Hive& hive) -> LONG {
        Key* k = hive.Find(path);
        if (!k && !path.empty()) return ERROR_KEY_DELETED;
        DWORD nSub = 0, maxSub = 0, nameMax = 0, dataMax = 0;
        size_t skip = path.empty() ? 0 : path.size() + 1;
        for (const Key& c : hive.keys) {
            if (c.path.size() <= skip) continue;
            if (skip &&
                (c.path[skip - 1] != u'\\' || !WideEqualsNoCase(c.path.substr(0, skip - 1), path)))
                continue;
            std::u16string_view child = std::u16string_view(c.path).substr(skip);
            if (child.find(u'\\') != child.npos) continue;
            ++nSub;
            maxSub = std::max<DWORD>(maxSub, DWORD(child.size()));
        }
        if (k)
            for (const Value& v : k->values) {
                nameMax = std::max<DWORD>(nameMax, DWORD(v.name.size()));
                dataMax = std::max<DWORD>(dataMax, DWORD(v.data.size()));
            }
        if (keyClass && classChars && *classChars) *keyClass = 0;
        if (classChars) *classChars = 0;
        if (subKeys) *subKeys = nSub;
        if (maxSubKeyLen) *maxSubKeyLen = maxSub;
        if (maxClassLen) *maxClassLen = 0;
        if (values) *values = k ? DWORD(k->values.size()) : 0;
        if (maxValueNameLen) *maxValueNameLen = nameMax;
        if (maxValueLen) *maxValueLen = dataMax;
        if (securityDescriptor) *securityDescriptor = 0;
        if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
        return ERROR_SUCCESS;
    });
}

}  // namespace wce
