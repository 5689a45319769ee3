// Loadable modules over dlopen.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "wce/base.h"
#include "wce/text.h"

namespace wce {

namespace {

std::string ProgramFolder() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, size_t(n));
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void* OpenFirst(const std::string& name) {
    if (name.find('/') != std::string::npos) return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    std::string folders[2];
    if (const char* dir = std::getenv("QX_DRIVER_PATH")) folders[0] = dir;
    folders[1] = ProgramFolder();
    for (const auto& dir : folders) {
        if (dir.empty()) continue;
        std::string path = dir + "/" + name;
        if (::access(path.c_str(), R_OK) == 0) return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR fileName) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* handle = OpenFirst(WideToUtf8(fileName));
    if (!handle) {
        const char* why = ::dlerror();
        NKDbgPrintfW(u"LoadLibraryW(%s) failed: %S\r\n", fileName, why ? why : "unknown");
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (!module || !procName) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* sym = ::dlsym(module, procName);
    if (!sym) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(sym);
}

BOOL FreeLibrary(HMODULE module) {
    if (!module || ::dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL DisableThreadLibraryCalls(HMODULE module) {
    return module ? TRUE : FALSE;
}

}  // namespace wce
