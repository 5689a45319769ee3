// String resources. A module (a program, the driver) registers its string table under
// its module handle; LoadStringW finds the texts there. A null handle means the
// program's own table, as on Windows.
#pragma once

#include <cstddef>

#include "wce/base.h"
#include "wce/types.h"

namespace wce {

struct StringResource {
    UINT id;
    LPCWSTR text;
};

// The texts are copied. Registering again under the same handle replaces the table.
void RegisterStringTable(HINSTANCE module, const StringResource* entries, size_t count);
void UnregisterStringTable(HINSTANCE module);

// Copies the text into buffer (cut to bufferMax - 1 characters, always terminated) and
// returns its length. With bufferMax 0, buffer receives a read-only pointer to the
// stored text instead (it is terminated here, unlike on Windows); the pointer stays
// valid until the table is replaced or unregistered. 0 with
// ERROR_RESOURCE_NAME_NOT_FOUND when the module has no such string.
int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax);

}  // namespace wce
