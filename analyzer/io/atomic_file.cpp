// Temporary-file-and-rename writing of every output file.
#include "analyzer/io/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

std::atomic<int64_t> g_space_left{-1};
std::atomic<unsigned> g_counter{0};

// Takes `count` bytes from the simulated free space; false when they do not fit.
bool take_space(size_t count) {
  int64_t left = g_space_left.load();
  while (left >= 0) {
    if (int64_t(count) > left) {
      g_space_left.store(0);
      return false;
    }
    if (g_space_left.compare_exchange_weak(left, left - int64_t(count))) return true;
  }
  return true;
}

}  // namespace

void set_atomic_file_space_for_testing(int64_t bytes) { g_space_left.store(bytes < 0 ? -1 : bytes); }

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

bool AtomicFile::fail(const std::string& what, int error_number, std::string* error) {
  if (!failed_ && error) {
    *error = "cannot write " + path_ + ": " + what +
             (error_number ? std::string(" (") + std::strerror(error_number) + ")" : std::string());
  }
  failed_ = true;
  return false;
}

bool AtomicFile::open(std::string* error) {
  if (fd_ >= 0 || failed_ || committed_) return fail("file already opened", 0, error);
  // Beside the final name, so that the rename stays within one file system; hidden, and
  // unique per process and call, so that parallel writers never share it.
  const std::filesystem::path final_path(path_);
  const std::string name = "." + final_path.filename().string() + "." +
                           std::to_string(::getpid()) + "." + std::to_string(g_counter++) + ".part";
  temporary_ = (final_path.parent_path() / name).string();
  fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    const int e = errno;
    temporary_.clear();
    return fail("cannot create a file in its folder", e, error);
  }
  return true;
}

bool AtomicFile::write(const void* bytes, size_t count, std::string* error) {
  if (failed_) return false;
  if (fd_ < 0) return fail("file not open", 0, error);
  if (!take_space(count)) return fail("write failed", ENOSPC, error);
  const auto* p = static_cast<const char*>(bytes);
  while (count > 0) {
    const ssize_t n = ::write(fd_, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("write failed", errno, error);
    }
    if (n == 0) return fail("write failed", ENOSPC, error);
    p += n;
    count -= size_t(n);
  }
  return true;
}

bool AtomicFile::commit(std::string* error) {
  if (failed_) return false;
  if (fd_ < 0) return fail("file not open", 0, error);
  const int fd = fd_;
  fd_ = -1;
  // Without the sync a crash after the rename could leave the final name on an empty file.
  if (::fsync(fd) != 0) {
    const int e = errno;
    ::close(fd);
    return fail("write failed", e, error);
  }
  // Errors of delayed allocation (network and quota-limited file systems) show at close.
  if (::close(fd) != 0) return fail("write failed", errno, error);
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
    const int e = errno;
    return fail(e == EISDIR || e == ENOTEMPTY || e == EEXIST ? "the name is taken by a folder"
                                                             : "cannot rename the finished file",
                e, error);
  }
  committed_ = true;
  return true;
}

bool write_file_atomically(const std::string& path, std::string_view bytes, std::string* error) {
  AtomicFile file(path);
  return file.open(error) && file.write(bytes, error) && file.commit(error);
}
