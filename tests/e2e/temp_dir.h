// A fresh temporary directory for one test, removed at the end even when the test fails.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace ztr::e2e {

struct TempDir {
  std::filesystem::path path;
  explicit TempDir(const char* prefix = "ztr_test") {
    std::string name = (std::filesystem::temp_directory_path() / (std::string(prefix) + "_XXXXXX")).string();
    path = mkdtemp(name.data()) ? std::filesystem::path(name) : std::filesystem::path();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return (path / name).string(); }
};

}  // namespace ztr::e2e
