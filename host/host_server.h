// The host side of the board protocol: creates the broadcaster, message and request boards
// of one client number, publishes the host's state and answers the client's requests.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sdk/ipc/object_group.h"
#include "sdk/ipc/object_group_ptr.h"
#include "sdk/ipc/shared_memory.h"
#include "sdk/volume/raw_volume.h"

namespace ztr::host {

// Everything the host holds and records while it serves.
struct HostState {
  VolumePtr volume;
  float voxel_size = 1.0f;
  float cursor[3] = {0, 0, 0};
  int32_t box_origin[3] = {0, 0, 0};
  int32_t box_size[3] = {1, 1, 1};
  std::map<int32_t, GroupPtr> groups;  // by host object group ID
  int32_t next_group_id = 1;
  bool locked = false;

  // What the client asked for, in order.
  std::map<int32_t, int> answered;  // request type -> times it took effect
  std::vector<float> voxel_size_requests;
  std::vector<std::array<float, 3>> cursor_requests;
  std::vector<std::array<int32_t, 6>> box_requests;
  std::vector<std::string> refusals;  // one line each
  // Sizes of the data boards read from the client: (request type, bytes).
  std::vector<std::pair<int32_t, int64_t>> data_boards_read;
};

// The right to serve one client number: an exclusive lock on a per-number object that dies
// with its holder, so that a second host cannot take over a live host's boards.
class HostLock {
 public:
  HostLock() = default;
  ~HostLock() { release(); }
  HostLock(HostLock&& other) noexcept;
  HostLock& operator=(HostLock&& other) noexcept;
  HostLock(const HostLock&) = delete;
  HostLock& operator=(const HostLock&) = delete;

  // The lock of `client_number`, or an invalid lock with one line in `error`: another live
  // host holds it, or the lock object cannot be made or belongs to another user.
  static HostLock acquire(int32_t client_number, std::string* error);
  // "ZTR_HOST_LOCK(0003)": the lock object's name beside the boards.
  static std::string name(int32_t client_number);

  bool held() const { return fd_ >= 0; }
  // Removes the lock object and lets go; a no-op when not held.
  void release();

 private:
  int fd_ = -1;
  std::string name_;
};

// One decoded request board.
struct Request {
  int32_t type = 0;
  std::string client_id;
  uint8_t parameters[464] = {};

  int32_t word(int i) const;
  float float_word(int i) const;
  // The bytes that make two writes the same request: type, ID and the parameter words the
  // type uses (unused parameter bytes are ignored).
  std::string key() const;
};

class HostServer {
 public:
  // Creates the three boards of `client_number` (removing stale ones) and publishes the
  // state. valid() is false when a board cannot be created; nothing is left behind then and
  // error() says why. The caller must hold the client number's host lock: a board found
  // under one of the names is taken for a dead host's and replaced.
  HostServer(int32_t client_number, HostState state);
  // Removes the boards this host created (those still under their names) and a data board a
  // plug-in left behind.
  ~HostServer();
  HostServer(const HostServer&) = delete;
  HostServer& operator=(const HostServer&) = delete;

  bool valid() const { return valid_; }
  const std::string& error() const { return error_; }
  int32_t client_number() const { return client_number_; }

  // Reads the request board once and acts on what it finds; also posts a pending second
  // message when its time has come. Returns true when something happened.
  bool poll();

  // Re-publishes the broadcaster board (after the state was changed from outside).
  void publish();
  // Replaces the volume now, or when the current lock is released. Takes ownership.
  void replace_volume(VolumePtr volume);

  HostState& state() { return state_; }
  const HostState& state() const { return state_; }

  // How long a second message (66 after an acceptance) waits for the client to stop
  // rewriting its request; a client that still rewrites gets the acceptance again.
  void set_follow_up_quiet(std::chrono::microseconds quiet) { quiet_ = quiet; }
  // How long a new request must read the same before the host acts on it.
  void set_settle_time(std::chrono::microseconds settle) { settle_ = settle; }
  void set_repeat_settle_time(std::chrono::microseconds settle) { repeat_settle_ = settle; }

  // Removes the client's boards; the destructor does this too. Idempotent.
  void remove_boards();

 private:
  using Clock = std::chrono::steady_clock;

  Request read_request() const;
  void handle(const Request& request);
  bool accept_from(const Request& request);
  void refuse(const Request& request, const std::string& reason);
  void post(int32_t type, int32_t accepted, const void* parameters, size_t parameter_bytes,
            const char* text);
  void post_accepted(int32_t type) { post(22, type, nullptr, 0, "accepted"); }
  int32_t posted_type() const;
  int32_t posted_accepted() const;
  bool clear_request_type(int32_t expected);
  void count(int32_t type) { ++state_.answered[type]; }
  void write_word(const ipc::SharedMemory& board, size_t offset, int32_t value) const;
  int32_t read_word(const ipc::SharedMemory& board, size_t offset) const;

  void upload_volume(const Request& request);  // 221
  // The client's data board, or an invalid one after refusing the request.
  ipc::SharedMemory open_data_board(const Request& request);
  bool take_volume(const Request& request);  // 222
  bool take_channel(const Request& request); // 236
  bool take_group(const Request& request);   // 512

  int32_t client_number_;
  HostState state_;
  bool valid_ = false;
  std::string error_;
  bool removed_ = false;
  int32_t status_ = 0;
  std::string connected_id_;
  VolumePtr pending_volume_;

  // The boards are read and written through their descriptors: a client may shrink them
  // at any moment, which would make a copy out of a mapping fault.
  ipc::SharedMemory broadcaster_, message_, request_, data_;
  std::string data_board_name_;

  // De-duplication: the last request acted on, whether it was refused, and for requests
  // answered by two messages the identity of the data board that was read.
  std::string last_key_;
  int32_t last_type_ = 0;
  bool last_refused_ = false;
  bool have_last_ = false;
  bool request_cleared_ = false;  // the request being handled was taken off the board
  dev_t last_board_dev_ = 0;
  ino_t last_board_ino_ = 0;
  // A request seen but not yet settled.
  std::string settling_key_;
  Clock::time_point settling_since_;

  struct FollowUp {
    bool active = false;
    bool posted = false;
    int32_t message = 0;
    Clock::time_point due;
  } follow_up_;
  std::chrono::microseconds quiet_{3000};
  std::chrono::microseconds settle_{200};
  // How long a request already answered must stay on a cleared message board before it is
  // answered again (see poll).
  std::chrono::microseconds repeat_settle_{100000};
  bool repeat_pending_ = false;
  Clock::time_point repeat_since_;
};

}  // namespace ztr::host
