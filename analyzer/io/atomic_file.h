// Output files that appear complete or not at all: the bytes go to a temporary file beside
// the final name, which is renamed over it only when every byte has been written. A failed
// write leaves no partial file under the final name and an older file of that name intact.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();  // removes the temporary file unless commit() succeeded
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file. false with a one-line reason.
  bool open(std::string* error);
  // Appends bytes; the first failure is kept and every later call fails too.
  bool write(const void* bytes, size_t count, std::string* error);
  bool write(std::string_view text, std::string* error) { return write(text.data(), text.size(), error); }
  // Closes the temporary file and renames it over the final name. false with a reason
  // (the final name then still holds what it held before).
  bool commit(std::string* error);

  const std::string& path() const { return path_; }

 private:
  bool fail(const std::string& what, int error_number, std::string* error);

  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  bool failed_ = false;
  bool committed_ = false;
};

// Writes a whole file through AtomicFile. false with a reason.
bool write_file_atomically(const std::string& path, std::string_view bytes, std::string* error);

// Test seam for a full disk: after `bytes` more bytes have been written through AtomicFile in
// this process, every write fails with ENOSPC. A negative value switches it off.
void set_atomic_file_space_for_testing(int64_t bytes);
