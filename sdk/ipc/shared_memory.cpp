// POSIX shared-memory handles and mappings behind the IPC boards.
#include "sdk/ipc/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace ztr::ipc {

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
      name_(std::move(other.name_)) {}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    creator_ = std::exchange(other.creator_, false);
    name_ = std::move(other.name_);
  }
  return *this;
}

SharedMemory SharedMemory::create(std::string_view board_name, size_t size) {
  SharedMemory board;
  const std::string object = shm_object_name(board_name);
  shm_unlink(object.c_str());  // a stale object of that name
  const int fd = shm_open(object.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  if (fd < 0) return board;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    ::close(fd);
    shm_unlink(object.c_str());
    return board;
  }
  board.fd_ = fd;
  board.creator_ = true;
  board.name_ = std::string(board_name);
  return board;
}

SharedMemory SharedMemory::open(std::string_view board_name) {
  SharedMemory board;
  const std::string object = shm_object_name(board_name);
  const int fd = shm_open(object.c_str(), O_RDWR, 0);
  if (fd < 0) return board;
  board.fd_ = fd;
  board.name_ = std::string(board_name);
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

int SharedMemory::read(size_t offset, void* destination, size_t count) const {
  SharedMemoryView view = map();
  if (!view || offset > view.size() || count > view.size() - offset) return -1;
  if (count > 0) std::memcpy(destination, view.data() + offset, count);
  return 0;
}

int SharedMemory::write(size_t offset, const void* source, size_t count) const {
  SharedMemoryView view = map();
  if (!view || offset > view.size() || count > view.size() - offset) return -1;
  if (count > 0) std::memcpy(view.data() + offset, source, count);
  return 0;
}

int SharedMemory::close() {
  if (fd_ < 0) return 0;
  if (creator_) shm_unlink(shm_object_name(name_).c_str());
  const int result = ::close(fd_);
  fd_ = -1;
  creator_ = false;
  name_.clear();
  return result == 0 ? 0 : -1;
}

}  // namespace ztr::ipc
