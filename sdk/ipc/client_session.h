// The one client session of a process, shared by the IPC client's source files.
#pragma once

#include <array>
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

  ~Session() { ZTRipc_DeleteBroadcaster(broadcaster); }
};

Session& session();

void say(const char* text);          // always written to standard error
void say_verbose(const char* text);  // written only in the analyzer's (verbose) mode

}  // namespace ztr::ipc
