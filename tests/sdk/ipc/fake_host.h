// An in-process stand-in for the host: creates the three boards of one client number and,
// on a thread, answers requests the way the client expects, recording what it saw.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sdk/ipc/board_layout.h"
#include "sdk/ipc/ipc_client.h"
#include "sdk/ipc/object_group.h"
#include "sdk/ipc/shared_memory.h"
#include "sdk/volume/raw_volume.h"
#include "tests/support/client_number.h"

namespace ztr::ipc::testing {

// Number of open file descriptors of this process.
int open_descriptor_count();

class FakeHost {
 public:
  // The boards of a freshly claimed client number, held until the host goes.
  explicit FakeHost(bool create_request_board = true);
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  int32_t number() const { return number_; }
  std::string board_name(const char* base) const {
    return ZTRipc_ComposeBoardName(base, number_);
  }

  // Broadcaster board fields.
  void set_server(int32_t status, const std::string& client_id);
  int32_t status() const;
  void write_broadcaster(size_t offset, const void* bytes, size_t count);
  // Message board.
  void post_message(int32_t type, int32_t accepted_request, const void* parameters = nullptr);
  int32_t message_type() const;
  // Request board raw access.
  void fill_request_board(unsigned char value);
  std::vector<unsigned char> request_board_bytes() const;
  int32_t request_type() const;

  // Requests the answering thread ignores (never accepts, never answers).
  std::set<int32_t> ignored;
  // The volume the host shows (served on request 221), owned by the host.
  VolumePtr volume;
  bool truncate_upload = false;  // serve the volume on a board one byte short
  // Everything the answering thread received, in order (repeats of a waiting request are
  // folded into one entry).
  std::vector<int32_t> requests;
  VolumePtr received_volume;                 // from request 222
  std::vector<VolumePtr> received_channels;  // from request 236
  std::vector<std::pair<int32_t, std::vector<unsigned char>>> received_groups;  // 512
  std::vector<std::vector<unsigned char>> parameters_seen;  // per recorded request
  int32_t next_group_id = 7;

  void start();  // starts answering
  void stop();   // stops and joins; safe to call twice

 private:
  void serve();
  void handle(int32_t type, const std::vector<unsigned char>& parameters);
  bool take_request(int32_t type);
  void accept(int32_t type);
  void await_quiet(int32_t type);

  ztr::test::ClientNumber claim_;
  int32_t number_;
  SharedMemory broadcaster_;
  SharedMemory message_;
  SharedMemory request_;
  SharedMemory host_data_;  // the data board the host fills for request 221
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace ztr::ipc::testing
