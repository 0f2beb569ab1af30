// Named POSIX shared-memory objects (the IPC boards): create, open, size, map and close,
// with RAII handles. A board named "ZTR_IPC_RB(0003)" lives at "/ZTR_IPC_RB(0003)".
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ztr::ipc {

// "/" + board name: the shm_open name of a board.
std::string shm_object_name(std::string_view board_name);

// A whole-object mapping (read/write, shared). Unmapped by the destructor. Move-only.
class SharedMemoryView {
 public:
  SharedMemoryView() = default;
  SharedMemoryView(void* data, size_t size) : data_(data), size_(size) {}
  ~SharedMemoryView() { unmap(); }
  SharedMemoryView(SharedMemoryView&& other) noexcept;
  SharedMemoryView& operator=(SharedMemoryView&& other) noexcept;
  SharedMemoryView(const SharedMemoryView&) = delete;
  SharedMemoryView& operator=(const SharedMemoryView&) = delete;

  bool valid() const { return data_ != nullptr; }
  explicit operator bool() const { return valid(); }
  std::byte* data() const { return static_cast<std::byte*>(data_); }
  size_t size() const { return size_; }  // the object's size when it was mapped
  void unmap();

 private:
  void* data_ = nullptr;
  size_t size_ = 0;
};

// An open descriptor of a named object. The side that created the object also unlinks it
// when it closes it, but only while the name still refers to that object: a name another
// process has taken over since is left alone. A handle obtained by open() never unlinks.
// Move-only; the destructor closes. No function throws; failures leave an invalid handle or
// return -1.
//
// Reads and writes go through the descriptor (pread/pwrite), never through a mapping: a peer
// may shrink the object at any moment, and a copy out of a mapping past the new end would
// kill this process with SIGBUS, where a descriptor read just comes up short.
class SharedMemory {
 public:
  SharedMemory() = default;
  ~SharedMemory() { close(); }
  SharedMemory(SharedMemory&& other) noexcept;
  SharedMemory& operator=(SharedMemory&& other) noexcept;
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // Removes a stale object of that name, then shm_open(O_CREAT | O_EXCL | O_RDWR, 0600)
  // and ftruncate to exactly `size` bytes. Invalid handle on failure (nothing left behind);
  // `why` then tells the reason. An object of that name owned by another user is not
  // removed: creation fails instead, so that nobody can make a board name theirs.
  static SharedMemory create(std::string_view board_name, size_t size, std::string* why = nullptr);
  // shm_open(O_RDWR) of an existing object; invalid handle when it does not exist.
  static SharedMemory open(std::string_view board_name);
  // True when an object of that name can be opened right now.
  static bool exists(std::string_view board_name);
  // shm_unlink of that name; 0, or -1 when there was none or unlinking failed.
  static int unlink(std::string_view board_name);

  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  bool is_creator() const { return creator_; }
  const std::string& board_name() const { return name_; }

  // The object's real size from fstat; -1 when invalid or fstat fails.
  int64_t size() const;
  // True while the board's name still refers to this very object (same device and inode,
  // not unlinked). False for an invalid handle.
  bool still_named() const;

  // Maps the whole object as it is now; invalid view on failure or for an empty object.
  // `populate` sets up every page in one call. Only for objects no other process can
  // shrink while the view is used (tests, benchmarks); board traffic uses read/write.
  SharedMemoryView map(bool populate = false) const;
  // Copies `count` bytes at `offset` out of / into the object. -1 when the range lies beyond
  // the object's real size at the moment of the access (also when a peer shrinks it during
  // the copy), 0 on success. A write never grows the object past the size it had.
  int read(size_t offset, void* destination, size_t count) const;
  int write(size_t offset, const void* source, size_t count) const;
  // The whole object as it is now, at most `limit` bytes: false (and `bytes` empty) when it
  // is larger than the limit or shrinks while it is read.
  bool read_all(std::vector<std::byte>* bytes, size_t limit) const;

  // Closes the descriptor (the creator also unlinks the name). 0; -1 when close fails.
  // Closing an invalid handle is a no-op returning 0.
  int close();

 private:
  int fd_ = -1;
  bool creator_ = false;
  std::string name_;
  dev_t dev_ = 0;  // identity of the object, to tell it from a later one of the same name
  ino_t ino_ = 0;
};

}  // namespace ztr::ipc
