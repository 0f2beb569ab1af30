// Scratch folders made with mkdtemp, so two runs of the same test never share one.
#include "tests/support/temp_dir.h"

#include <stdlib.h>

#include <system_error>

namespace ztr::test {

namespace {

// Only characters that are safe in one path component survive.
std::string safe_label(std::string_view label) {
  std::string out;
  for (const char c : label) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-';
    out.push_back(plain ? c : '_');
  }
  return out.substr(0, 64);
}

}  // namespace

TempDir::TempDir(std::string_view label) {
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  std::string pattern = ((ec ? std::filesystem::path("/tmp") : base) /
                         ("ztr_" + safe_label(label) + "_XXXXXX")).string();
  if (::mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace ztr::test
