// Numbers typed into the utility's fields, read as the handheld's C library reads them
// but without its undefined results: no locale, and no overflow.
#pragma once

#include <optional>
#include <string_view>

namespace setup {

// Leading digits with an optional sign, after leading blanks; 0 when the text does not
// begin with a number. Values beyond the int range are held at its ends.
int LeadingInt(std::u16string_view text);

// A decimal number with fraction at the start of the text, times ten, cut towards zero
// (45.57 gives 455). Nothing for text that does not begin with a number, for a
// negative number, and for one whose tenths do not fit an int.
std::optional<int> TruncatedTenths(std::u16string_view text);

}  // namespace setup
