// POSIX shared-memory handles and mappings behind the IPC boards.
#include "sdk/ipc/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

namespace ztr::ipc {

namespace {

// Where the system shows a named object (the names live in one flat namespace).
std::string shm_path(std::string_view board_name) {
  std::string path = "/dev/shm/";
  path.append(board_name);
  return path;
}

bool range_fits(size_t offset, size_t count) {
  constexpr auto max = static_cast<size_t>(std::numeric_limits<off_t>::max());
  return offset <= max && count <= max - offset;
}

}  // namespace

std::string shm_object_name(std::string_view board_name) {
  std::string name;
  name.reserve(board_name.size() + 1);
  name.push_back('/');
  name.append(board_name);
  return name;
}

// ---- SharedMemoryView ---------------------------------------------------------------------

SharedMemoryView::SharedMemoryView(SharedMemoryView&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

SharedMemoryView& SharedMemoryView::operator=(SharedMemoryView&& other) noexcept {
  if (this != &other) {
    unmap();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void SharedMemoryView::unmap() {
  if (data_ != nullptr) {
    munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
  }
}

// ---- SharedMemory -------------------------------------------------------------------------

SharedMemory::SharedMemory(SharedMemory&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      creator_(std::exchange(other.creator_, false)),
      name_(std::move(other.name_)),
      dev_(std::exchange(other.dev_, 0)),
      ino_(std::exchange(other.ino_, 0)) {}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    creator_ = std::exchange(other.creator_, false);
    name_ = std::move(other.name_);
    dev_ = std::exchange(other.dev_, 0);
    ino_ = std::exchange(other.ino_, 0);
  }
  return *this;
}

SharedMemory SharedMemory::create(std::string_view board_name, size_t size, std::string* why) {
  SharedMemory board;
  const std::string object = shm_object_name(board_name);
  auto fail = [&](const std::string& reason) {
    if (why != nullptr) *why = reason;
    return SharedMemory();
  };
  struct stat existing {};
  if (::stat(shm_path(board_name).c_str(), &existing) == 0) {
    // Another user's object under a board name is a squatter, not a stale board.
    if (existing.st_uid != ::geteuid()) {
      return fail("board " + std::string(board_name) + " belongs to user " +
                  std::to_string(existing.st_uid));
    }
    shm_unlink(object.c_str());  // a stale object of that name
  }
  const int fd = shm_open(object.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  if (fd < 0) {
    return fail("cannot create board " + std::string(board_name) + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (ftruncate(fd, static_cast<off_t>(size)) != 0 || fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    shm_unlink(object.c_str());
    return fail("cannot size board " + std::string(board_name) + ": " + std::strerror(error));
  }
  board.fd_ = fd;
  board.creator_ = true;
  board.name_ = std::string(board_name);
  board.dev_ = st.st_dev;
  board.ino_ = st.st_ino;
  return board;
}

SharedMemory SharedMemory::open(std::string_view board_name) {
  SharedMemory board;
  const std::string object = shm_object_name(board_name);
  const int fd = shm_open(object.c_str(), O_RDWR, 0);
  if (fd < 0) return board;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    ::close(fd);
    return board;
  }
  board.fd_ = fd;
  board.name_ = std::string(board_name);
  board.dev_ = st.st_dev;
  board.ino_ = st.st_ino;
  return board;
}

bool SharedMemory::exists(std::string_view board_name) {
  const std::string object = shm_object_name(board_name);
  const int fd = shm_open(object.c_str(), O_RDWR, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

int SharedMemory::unlink(std::string_view board_name) {
  return shm_unlink(shm_object_name(board_name).c_str()) == 0 ? 0 : -1;
}

int64_t SharedMemory::size() const {
  if (fd_ < 0) return -1;
  struct stat st {};
  if (fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

SharedMemoryView SharedMemory::map(bool populate) const {
  const int64_t bytes = size();
  if (bytes <= 0) return {};
  const int flags = MAP_SHARED | (populate ? MAP_POPULATE : 0);
  void* data = mmap(nullptr, static_cast<size_t>(bytes), PROT_READ | PROT_WRITE, flags, fd_, 0);
  if (data == MAP_FAILED) return {};
  return SharedMemoryView(data, static_cast<size_t>(bytes));
}

bool SharedMemory::still_named() const {
  if (fd_ < 0) return false;
  struct stat own {};
  struct stat named {};
  if (fstat(fd_, &own) != 0 || own.st_nlink == 0) return false;
  if (::stat(shm_path(name_).c_str(), &named) != 0) return false;
  return named.st_dev == dev_ && named.st_ino == ino_;
}

int SharedMemory::read(size_t offset, void* destination, size_t count) const {
  if (fd_ < 0 || !range_fits(offset, count)) return -1;
  auto* out = static_cast<unsigned char*>(destination);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;  // the end of the object came first
    done += static_cast<size_t>(n);
  }
  return 0;
}

int SharedMemory::write(size_t offset, const void* source, size_t count) const {
  const int64_t bytes = size();
  if (bytes < 0 || !range_fits(offset, count) || offset + count > static_cast<uint64_t>(bytes)) {
    return -1;
  }
  const auto* in = static_cast<const unsigned char*>(source);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = pwrite(fd_, in + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += static_cast<size_t>(n);
  }
  return 0;
}

bool SharedMemory::read_all(std::vector<std::byte>* bytes, size_t limit) const {
  bytes->clear();
  const int64_t length = size();
  if (length < 0 || static_cast<uint64_t>(length) > limit) return false;
  try {
    bytes->resize(static_cast<size_t>(length));
  } catch (...) {
    return false;
  }
  if (read(0, bytes->data(), bytes->size()) != 0) {
    bytes->clear();
    return false;
  }
  return true;
}

int SharedMemory::close() {
  if (fd_ < 0) return 0;
  // A name someone else has taken over since is theirs now.
  if (creator_ && still_named()) shm_unlink(shm_object_name(name_).c_str());
  const int result = ::close(fd_);
  fd_ = -1;
  creator_ = false;
  name_.clear();
  dev_ = 0;
  ino_ = 0;
  return result == 0 ? 0 : -1;
}

}  // namespace ztr::ipc
