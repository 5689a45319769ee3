// A temporary folder for one test: made fresh under $TMPDIR (else /tmp), removed with
// everything in it when the object goes. It stays for inspection when the test asks
// (Keep) or when QX_KEEP is set in the environment.
#pragma once

#include <string>
#include <string_view>

namespace qxtest {

class TempDir {
  public:
    explicit TempDir(std::string_view prefix = "qxtest");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Empty when the folder could not be made.
    const std::string& path() const { return path_; }
    bool ok() const { return !path_.empty(); }
    // The path of name inside the folder.
    std::string File(std::string_view name) const;
    // Leaves the folder in place at the end and says where it is.
    void Keep() { keep_ = true; }

  private:
    std::string path_;
    bool keep_ = false;
};

}  // namespace qxtest
