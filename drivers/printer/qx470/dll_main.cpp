// The shared library's own start and end: QX470.dll and QX250.dll export DrvEnableDriver
// only.
#include <dlfcn.h>

#include "driver_entry.h"
#include "wce/base.h"

namespace {

// On load the library tells the platform it wants no per-thread notifications.
__attribute__((constructor)) void OnProcessAttach() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&qx470::DrvEnableDriver), &info) && info.dli_fname) {
        void* self = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
        wce::DisableThreadLibraryCalls(static_cast<wce::HMODULE>(self));
        if (self) dlclose(self);
    }
}

// The static job record's clean-up: buffers freed, any open port flushed and closed.
__attribute__((destructor)) void OnProcessDetach() {
    qx470::DriverUnload();
}

}  // namespace

// The one export the engine looks up by name.
extern "C" __attribute__((visibility("default"))) wce::BOOL DrvEnableDriver(
    wce::ULONG engineVersion, wce::ULONG tableSize, wce::PFN* table, wce::PFN* engineServices) {
    return qx470::DrvEnableDriver(engineVersion, tableSize, table, engineServices);
}
