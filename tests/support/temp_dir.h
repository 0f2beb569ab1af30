// A scratch folder for one test, removed with everything in it when the object goes, pass or
// fail, so that no run leaves folders behind in the temporary directory.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ztr::test {

class TempDir {
 public:
  // Creates a fresh folder named after `label` (a test name may carry '/', which is replaced)
  // in the system temporary directory. path() is empty when it could not be made.
  explicit TempDir(std::string_view label = "test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The full name of `name` inside the folder.
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::string operator/(const std::string& name) const { return file(name); }

 private:
  std::filesystem::path path_;
};

}  // namespace ztr::test
