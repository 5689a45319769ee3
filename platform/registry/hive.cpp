#include "hive.h"

#include <cstdio>

#include "wce/text.h"

namespace wce::reg {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";

bool IsParentOf(std::u16string_view parent, std::u16string_view path) {
    if (parent.empty()) return !path.empty();
    return path.size() > parent.size() && path[parent.size()] == u'\\' &&
           WideEqualsNoCase(path.substr(0, parent.size()), parent);
}

}  // namespace

Key* Hive::Find(std::u16string_view path) {
    for (auto& k : keys)
        if (WideEqualsNoCase(k.path, path)) return &k;
    return nullptr;
}

Key& Hive::FindOrAdd(std::u16string_view path) {
    if (Key* k = Find(path)) return *k;
    auto slash = path.rfind(u'\\');
    if (slash != std::u16string_view::npos) FindOrAdd(path.substr(0, slash));
    keys.push_back(Key{std::u16string(path), {}});
    return keys.back();
}

void Hive::Erase(std::u16string_view path) {
    std::u16string p(path);
    std::erase_if(
        keys, [&](const Key& k) { return WideEqualsNoCase(k.path, p) || IsParentOf(p, k.path); });
}

Value* FindValue(Key& key, std::u16string_view name) {
    for (auto& v : key.values)
        if (WideEqualsNoCase(v.name, name)) return &v;
    return nullptr;
}

// ---- writing ----

namespace {

std::string Quote(std::u16string_view text) {
    std::string out = "\"";
    for (char c : WideToUtf8(text)) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

// A REG_SZ is written as text only when reading the text back gives the same bytes.
bool IsPlainText(const Value& v, std::u16string& text) {
    if (v.type != 1 || v.data.size() < 2 || v.data.size() % 2) return false;
    size_t n = v.data.size() / 2 - 1;
    text.resize(n);
    for (size_t i = 0; i <= n; ++i) {
        char16_t c = static_cast<char16_t>(v.data[2 * i] | (v.data[2 * i + 1] << 8));
        if (i == n) return c == 0 && IsValidWide(text);
        if (c < 0x20) return false;
        text[i] = c;
    }
    return false;
}

void WriteValue(std::string& out, const Value& v) {
    out += v.name.empty() ? std::string("@") : Quote(v.name);
    out += '=';
    std::u16string text;
    char buf[32];
    if (IsPlainText(v, text)) {
        out += Quote(text);
    } else if (v.type == 4 && v.data.size() == 4) {
        unsigned d = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (unsigned(v.data[3]) << 24);
        std::snprintf(buf, sizeof buf, "dword:%08x", d);
        out += buf;
    } else {
        if (v.type == 3) {
            out += "hex:";
        } else {
            std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
            out += buf;
        }
        size_t col = out.size() - out.rfind('\n');
        for (size_t i = 0; i < v.data.size(); ++i) {
            std::snprintf(buf, sizeof buf, "%02x", v.data[i]);
            out += buf;
            col += 2;
            if (i + 1 < v.data.size()) {
                out += ',';
                if (++col > 76) {
                    out += "\\\n  ";
                    col = 2;
                }
            }
        }
    }
    out += '\n';
}

}  // namespace

std::string SerializeHive(const Hive& hive) {
    std::string out(kHeader);
    out += "\n\n";
    for (const auto& k : hive.keys) {
        out += '[';
        out += kRoot;
        if (!k.path.empty()) out += '\\' + WideToUtf8(k.path);
        out += "]\n";
        for (const auto& v : k.values) WriteValue(out, v);
        out += '\n';
    }
    return out;
}

// ---- reading ----

namespace {

// A hex value may go on over several lines, each but the last ending in a backslash.
bool EndsInHexContinuation(const std::string& line) {
    if (line.empty() || line.back() != '\\') return false;
    size_t i = 0;
    if (line[0] == '@') {
        i = 1;
    } else if (line[0] == '"') {
        for (i = 1; i < line.size() && line[i] != '"'; ++i)
            if (line[i] == '\\') ++i;
        ++i;
    } else {
        return false;
    }
    return i < line.size() && line.compare(i, 4, "=hex") == 0;
}

struct Parser {
    std::string_view text;
    size_t pos = 0;
    int line = 0;
    ParseError* error;
    bool unterminated = false;  // the last physical line read had no line end

    bool Fail(std::string message) {
        error->line = line;
        error->message = std::move(message);
        return false;
    }

    // Next logical line: physical lines joined where one ends in a backslash inside hex data.
    bool NextLine(std::string& out) {
        out.clear();
        if (pos >= text.size()) return false;
        for (;;) {
            ++line;
            size_t end = text.find('\n', pos);
            std::string_view phys =
                text.substr(pos, end == std::string_view::npos ? text.size() - pos : end - pos);
            pos = end == std::string_view::npos ? text.size() : end + 1;
            unterminated = end == std::string_view::npos;
            if (!phys.empty() && phys.back() == '\r') phys.remove_suffix(1);
            if (out.empty()) {
                out = phys;
            } else {
                size_t s = phys.find_first_not_of(" \t");
                out += s == std::string_view::npos ? std::string_view() : phys.substr(s);
            }
            if (!EndsInHexContinuation(out) || pos >= text.size()) return true;
            out.pop_back();
        }
    }
};

// Reads a quoted name or text starting at s[i] == '"'; i ends after the closing quote.
bool ReadQuoted(const std::string& s, size_t& i, std::string& out) {
    out.clear();
    for (++i; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            ++i;
            return true;
        }
        if (c == '\\') {
            if (++i >= s.size()) return false;
            c = s[i];
            if (c != '\\' && c != '"') return false;
        }
        out += c;
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseHexBytes(std::string_view s, std::vector<BYTE>& out) {
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        if (i + 2 > s.size()) return false;
        int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<BYTE>(hi * 16 + lo));
        i += 2;
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        if (i < s.size() && s[i++] != ',') return false;
        if (i == s.size() && s.back() == ',') return false;
    }
    return true;
}

bool ParseData(std::string_view s, Value& v, std::string& why) {
    if (!s.empty() && s[0] == '"') {
        std::string text;
        std::string str(s);
        size_t i = 0;
        if (!ReadQuoted(str, i, text) || i != str.size())
            return why = "malformed text value", false;
        std::u16string wide = Utf8ToWide(text);
        v.type = 1;
        v.data.resize((wide.size() + 1) * 2);
        for (size_t k = 0; k < wide.size(); ++k) {
            v.data[2 * k] = static_cast<BYTE>(wide[k] & 0xFF);
            v.data[2 * k + 1] = static_cast<BYTE>(wide[k] >> 8);
        }
        return true;
    }
    if (s.substr(0, 6) == "dword:") {
        std::string_view digits = s.substr(6);
        // Always written with eight digits: fewer mean the line was cut short.
        if (digits.size() != 8) return why = "a dword needs exactly 8 hex digits", false;
        unsigned d = 0;
        for (char c : digits) {
            int h = HexDigit(c);
            if (h < 0) return why = "a dword needs exactly 8 hex digits", false;
            d = d * 16 + unsigned(h);
        }
        v.type = 4;
        v.data = {BYTE(d), BYTE(d >> 8), BYTE(d >> 16), BYTE(d >> 24)};
        return true;
    }
    size_t colon = s.find(':');
    if (s.substr(0, 3) != "hex" || colon == std::string_view::npos)
        return why = "unknown value syntax", false;
    std::string_view kind = s.substr(3, colon - 3);
    v.type = 3;
    if (!kind.empty()) {
        if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' || kind.size() > 10)
            return why = "malformed hex(type)", false;
        unsigned t = 0;
        for (char c : kind.substr(1, kind.size() - 2)) {
            int h = HexDigit(c);
            if (h < 0) return why = "malformed hex(type)", false;
            t = t * 16 + unsigned(h);
        }
        v.type = t;
    }
    if (!ParseHexBytes(s.substr(colon + 1), v.data)) return why = "malformed hex data", false;
    return true;
}

bool ParseKeyLine(const std::string& line, std::u16string& path, std::string& why) {
    if (line.size() < 2 || line.back() != ']') return why = "a key line must end in ']'", false;
    std::string name = line.substr(1, line.size() - 2);
    if (name.size() >= kRoot.size() &&
        WideEqualsNoCase(Utf8ToWide(name.substr(0, kRoot.size())), u"HKEY_LOCAL_MACHINE") &&
        (name.size() == kRoot.size() || name[kRoot.size()] == '\\')) {
        path = Utf8ToWide(name.size() > kRoot.size() ? name.substr(kRoot.size() + 1) : "");
        if (path.find(u"\\\\") != std::u16string::npos || (!path.empty() && path.back() == u'\\'))
            return why = "empty key name component", false;
        return true;
    }
    return why = "only keys under HKEY_LOCAL_MACHINE are kept here", false;
}

}  // namespace

bool ParseHive(std::string_view text, Hive& hive, ParseError& error) {
    hive.keys.clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    Parser p{text, 0, 0, &error};
    std::string line;
    bool sawHeader = false;
    Key* current = nullptr;
    std::string why;
    while (p.NextLine(line)) {
        size_t s = line.find_first_not_of(" \t");
        // Every line is written with its line end; without one the file was cut short.
        if (p.unterminated && s != std::string::npos)
            return p.Fail("the last line has no line end (the file is cut short)");
        if (s == std::string::npos || line[s] == ';') continue;
        if (!sawHeader) {
            if (line != kHeader)
                return p.Fail("the first line must be \"Windows Registry Editor Version 5.00\"");
            sawHeader = true;
            continue;
        }
        if (line[0] == '[') {
            std::u16string path;
            if (!ParseKeyLine(line, path, why)) return p.Fail(why);
            current = &hive.FindOrAdd(path);
            continue;
        }
        if (!current) return p.Fail("a value before any [key] line");
        Value v;
        size_t i = 0;
        if (line[0] == '@') {
            i = 1;
        } else if (line[0] == '"') {
            std::string name;
            if (!ReadQuoted(line, i, name)) return p.Fail("malformed value name");
            v.name = Utf8ToWide(name);
        } else {
            return p.Fail("expected a [key], a \"name\"= or @= line");
        }
        if (i >= line.size() || line[i] != '=') return p.Fail("expected '=' after the value name");
        if (!ParseData(std::string_view(line).substr(i + 1), v, why)) return p.Fail(why);
        if (Value* old = FindValue(*current, v.name))
            *old = std::move(v);
        else
            current->values.push_back(std::move(v));
    }
    if (!sawHeader && !text.empty() && text.find_first_not_of(" \t\r\n") != std::string_view::npos)
        return p.Fail("the first line must be \"Windows Registry Editor Version 5.00\"");
    return true;
}

}  // namespace wce::reg
