// The in-memory form of the registry file and its regedit-5 text syntax.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "wce/types.h"

namespace wce::reg {

struct Value {
    std::u16string name;  // empty: the key's default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct Key {
    std::u16string path;  // below HKEY_LOCAL_MACHINE, components joined by '\'; "" is the root
    std::vector<Value> values;  // in insertion order
};

struct Hive {
    std::vector<Key> keys;  // in file order

    Key* Find(std::u16string_view path);
    Key& FindOrAdd(std::u16string_view path);  // adds missing parents too
    void Erase(std::u16string_view path);      // with every key below it
};

struct ParseError {
    int line = 0;
    std::string message;
};

Value* FindValue(Key& key, std::u16string_view name);

// Parses the file's text; an empty text is an empty registry.
bool ParseHive(std::string_view text, Hive& hive, ParseError& error);
std::string SerializeHive(const Hive& hive);

}  // namespace wce::reg
