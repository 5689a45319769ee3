#include "temp_dir.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>

namespace qxtest {

TempDir::TempDir(std::string_view prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/";
    pattern.append(prefix).append(".XXXXXX");
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    if (keep_ || std::getenv("QX_KEEP") != nullptr) {
        std::fprintf(stderr, "kept %s\n", path_.c_str());
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::File(std::string_view name) const {
    std::string file = path_;
    return file.append("/").append(name);
}

}  // namespace qxtest
