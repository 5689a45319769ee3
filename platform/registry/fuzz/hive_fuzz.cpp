// Feeds arbitrary bytes to the registry file parser; whatever parses must serialise
// and parse again to the same content.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "../hive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wce::reg::Hive hive;
    wce::reg::ParseError error;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!wce::reg::ParseHive(text, hive, error)) return 0;
    std::string once = wce::reg::SerializeHive(hive);
    wce::reg::Hive again;
    if (!wce::reg::ParseHive(once, again, error)) std::abort();
    if (wce::reg::SerializeHive(again) != once) std::abort();
    return 0;
}
