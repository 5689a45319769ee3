// UTF-16 text helpers. Conversion to UTF-8 happens only at the Linux boundary.
#pragma once

#include <string>
#include <string_view>

#include "wce/types.h"

namespace wce {

size_t WideLength(LPCWSTR text);                   // 0 for null
std::u16string Utf8ToWide(std::string_view text);  // invalid sequences become U+FFFD
std::string WideToUtf8(std::u16string_view text);  // unpaired surrogates become U+FFFD
std::string WideToUtf8(LPCWSTR text);
// Strict check: true when the UTF-16 text has no unpaired surrogate.
bool IsValidWide(std::u16string_view text);
// ASCII-only case folding, as the registry compares names.
std::u16string WideUpperAscii(std::u16string_view text);
bool WideEqualsNoCase(std::u16string_view a, std::u16string_view b);
// Copies at most count - 1 characters and always terminates (count > 0).
void WideCopy(LPWSTR dest, size_t count, std::u16string_view src);

}  // namespace wce
