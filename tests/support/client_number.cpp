// A claim is an flock on a per-number file: the kernel drops it when the holder dies, so a
// crashed run never keeps a number, and the file is never deleted (deleting would let two
// processes lock two different files of the same name).
#include "tests/support/client_number.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <utility>

namespace ztr::test {

namespace {

bool board_exists(int32_t number) {
  char name[64];
  std::snprintf(name, sizeof name, "/dev/shm/ZTR_IPC_RB(%04d)", number);
  struct stat info {};
  return ::stat(name, &info) == 0;
}

// The descriptor holding the lock, or -1 when another process holds it.
int try_claim(int32_t number) {
  const int fd = ::open(client_lock_path(number).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string client_lock_path(int32_t number) {
  return "/tmp/ztr_test_client_" + std::to_string(number) + ".lock";
}

ClientNumber::~ClientNumber() {
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

ClientNumber::ClientNumber(ClientNumber&& other) noexcept
    : value_(std::exchange(other.value_, 0)), lock_fd_(std::exchange(other.lock_fd_, -1)) {}

ClientNumber& ClientNumber::operator=(ClientNumber&& other) noexcept {
  if (this != &other) {
    if (lock_fd_ >= 0) ::close(lock_fd_);
    value_ = std::exchange(other.value_, 0);
    lock_fd_ = std::exchange(other.lock_fd_, -1);
  }
  return *this;
}

ClientNumber reserve_client_number() {
  constexpr int32_t span = kLastTestClient - kFirstTestClient + 1;
  // A random start keeps concurrent runs from probing the same numbers one after another.
  std::random_device seed;
  const int32_t start = static_cast<int32_t>(seed() % span);
  for (int32_t i = 0; i < span; ++i) {
    const int32_t number = kFirstTestClient + (start + i) % span;
    const int fd = try_claim(number);
    if (fd < 0) continue;
    if (board_exists(number)) {  // a board left by a host that nothing claimed, or a user's
      ::close(fd);
      continue;
    }
    return ClientNumber(number, fd);
  }
  return ClientNumber();
}

}  // namespace ztr::test
