// Client numbers for tests that start hosts: each one is claimed atomically by a lock that dies
// with its holder, so parallel ctest runs, worktrees and the scripts never share boards.
#pragma once

#include <cstdint>
#include <string>

namespace ztr::test {

class ClientNumber {
 public:
  ClientNumber() = default;
  ClientNumber(int32_t value, int lock_fd) : value_(value), lock_fd_(lock_fd) {}
  // Releases the claim.
  ~ClientNumber();
  ClientNumber(ClientNumber&& other) noexcept;
  ClientNumber& operator=(ClientNumber&& other) noexcept;
  ClientNumber(const ClientNumber&) = delete;
  ClientNumber& operator=(const ClientNumber&) = delete;

  int32_t value() const { return value_; }
  operator int32_t() const { return value_; }
  std::string text() const { return std::to_string(value_); }

 private:
  int32_t value_ = 0;
  int lock_fd_ = -1;
};

// Where the claim on `number` is kept. The shell scripts take the same lock with flock(1).
std::string client_lock_path(int32_t number);

// A number in [kFirstTestClient, kLastTestClient] that no other live process has claimed and
// whose request board does not exist. value() is 0 when every number is taken.
inline constexpr int32_t kFirstTestClient = 10000;
inline constexpr int32_t kLastTestClient = 99999;
ClientNumber reserve_client_number();

}  // namespace ztr::test
