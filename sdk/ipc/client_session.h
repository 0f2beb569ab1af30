// The one client session of a process, shared by the IPC client's source files.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "sdk/ipc/board_layout.h"
#include "sdk/ipc/ipc_client.h"
#include "sdk/ipc/shared_memory.h"

namespace ztr::ipc {

struct Session {
  bool initialized = false;
  bool verbose = false;  // the analyzer's console lines
  int32_t client_number = 0;
  std::string client_id;
  std::string broadcaster_name;
  std::string message_name;
  std::string request_name;
  std::string data_name;
  SharedMemory broadcaster_board;
  SharedMemory message_board;
  SharedMemory request_board;
  SharedMemory data_board;  // held from an upload until ZTRipc_CloseDataBoard
  ZTRipc_BROADCASTER* broadcaster = nullptr;
  std::array<unsigned char, ZTRipc_PARAMETER_BYTES> parameters{};
  int32_t poll_limit = ZTRipc_DEFAULT_POLL_LIMIT;
  int32_t wait_time_limit_ms = ZTRipc_DEFAULT_WAIT_TIME_LIMIT_MS;
  bool host_gone = false;  // the host's boards were removed or replaced; said once

  ~Session() { ZTRipc_DeleteBroadcaster(broadcaster); }
};

Session& session();

// True once the host's boards have disappeared or been replaced by other objects under the
// same names, or the host's lock object is left unheld (a host killed outright); the first
// time it says so on standard error. Checks afresh.
bool host_gone();

// One bounded wait on the host. Each call of next() starts a polling round; it returns false
// when the wait is to end: the poll limit is used up, the wait time limit has passed, or the
// host is gone. The first rounds spin, so that a host that answers at once is seen at once;
// a longer wait yields the processor and then sleeps for growing short spells, so that a
// waiting client costs little CPU. A round that sleeps counts against the poll limit as one
// round per microsecond slept, so that the limit keeps bounding the time of the wait.
class Wait {
 public:
  Wait();
  bool next();

 private:
  using Clock = std::chrono::steady_clock;
  int32_t round_ = -1;
  int64_t spent_ = 0;  // rounds counted against the poll limit
  Clock::time_point start_;
  Clock::time_point next_check_;
  std::chrono::microseconds pause_{100};
};

void say(const char* text);          // always written to standard error
void say_verbose(const char* text);  // written only in the analyzer's (verbose) mode

}  // namespace ztr::ipc
