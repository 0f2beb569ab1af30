// The client session: boards, board predicates, the request/message handshake with its
// bounded busy poll, and the whole-volume exchange.
#include "sdk/ipc/ipc_client.h"

#include <sched.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "sdk/ipc/client_session.h"
#include "sdk/ipc/shared_memory.h"

using ztr::ipc::SharedMemory;

namespace ztr::ipc {

Session& session() {
  static Session instance;
  return instance;
}

void say(const char* text) { std::fputs(text, stderr); }

void say_verbose(const char* text) {
  if (session().verbose) std::fputs(text, stderr);
}

// Rounds stay busy polls; every 256th round gives the processor away once so that a host
// sharing the core gets to answer. The limit remains a count of rounds.
void poll_pause(int32_t round) {
  if ((round & 255) == 255) sched_yield();
}

namespace {

int32_t load_i32(const unsigned char* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void store_i32(unsigned char* p, int32_t v) { std::memcpy(p, &v, 4); }

// Status and connected client ID in one board access; status -123 when the read fails.
struct ServerState {
  int32_t status = ZTRipc_NO_VALUE;
  std::string client_id;
};

ServerState read_server_state() {
  Session& s = session();
  ServerState state;
  unsigned char bytes[ZTRipc_BB_CLIENT_ID + ZTRipc_MAX_CLIENT_ID];
  if (s.broadcaster_board.read(0, bytes, sizeof bytes) == 0) {
    state.status = load_i32(bytes + ZTRipc_BB_STATUS);
    const char* id = reinterpret_cast<const char*>(bytes + ZTRipc_BB_CLIENT_ID);
    state.client_id.assign(id, strnlen(id, ZTRipc_MAX_CLIENT_ID));
  }
  if (s.broadcaster != nullptr) s.broadcaster->status = state.status;
  return state;
}

bool is_connected_to_me(const ServerState& state) {
  return state.status == ZTRipc_SERVER_SERVING && state.client_id == session().client_id;
}

bool server_free() { return read_server_state().status == ZTRipc_SERVER_FREE; }

bool connected_to_me() { return is_connected_to_me(read_server_state()); }

bool request_accepted(int32_t type) {
  unsigned char bytes[ZTRipc_MB_ACCEPTED_REQUEST + 4];
  if (session().message_board.read(0, bytes, sizeof bytes) != 0) return false;
  return load_i32(bytes + ZTRipc_MB_TYPE) == ZTRipc_MESSAGE_TYPE_REQUEST_ACCEPTED &&
         load_i32(bytes + ZTRipc_MB_ACCEPTED_REQUEST) == type;
}

// The message type, with its parameter block copied into the parameter buffer; -123 when
// the board cannot be read (the buffer is then unchanged).
int32_t read_message() {
  Session& s = session();
  ztr::ipc::SharedMemoryView view = s.message_board.map();
  if (!view || view.size() < ZTRipc_MB_PARAMETERS + ZTRipc_PARAMETER_BYTES) {
    return ZTRipc_NO_VALUE;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(view.data());
  std::memcpy(s.parameters.data(), bytes + ZTRipc_MB_PARAMETERS, ZTRipc_PARAMETER_BYTES);
  return load_i32(bytes + ZTRipc_MB_TYPE);
}

// Writes the request type and the client ID, and the parameter block when asked.
int write_request(int32_t type, bool with_parameters) {
  Session& s = session();
  ztr::ipc::SharedMemoryView view = s.request_board.map();
  if (!view || view.size() < ZTRipc_RB_PARAMETERS + ZTRipc_PARAMETER_BYTES) return -1;
  auto* bytes = reinterpret_cast<unsigned char*>(view.data());
  store_i32(bytes + ZTRipc_RB_TYPE, type);
  std::memset(bytes + ZTRipc_RB_CLIENT_ID, 0, ZTRipc_RB_CLIENT_ID_BYTES);
  std::memcpy(bytes + ZTRipc_RB_CLIENT_ID, s.client_id.data(), s.client_id.size());
  if (with_parameters) {
    std::memcpy(bytes + ZTRipc_RB_PARAMETERS, s.parameters.data(), ZTRipc_PARAMETER_BYTES);
  }
  return 0;
}

}  // namespace
}  // namespace ztr::ipc

using namespace ztr::ipc;

// ---- broadcaster record ---------------------------------------------------------------------

ZTRipc_BROADCASTER* ZTRipc_NewBroadcaster() {
  auto* b = new (std::nothrow) ZTRipc_BROADCASTER{};
  if (b == nullptr) return nullptr;
  b->status = ZTRipc_NO_VALUE;
  for (int i = 0; i < 3; ++i) {
    b->box_origin[i] = 0;
    b->box_size[i] = 1;
  }
  return b;
}

void ZTRipc_DeleteBroadcaster(ZTRipc_BROADCASTER* broadcaster) { delete broadcaster; }

int ZTRipc_GetBroadcastedInfo(ZTRipc_BROADCASTER* b) {
  if (b == nullptr) return -1;
  unsigned char bytes[ZTRipc_BB_READ_BYTES];
  if (session().broadcaster_board.read(0, bytes, sizeof bytes) != 0) return -1;
  b->status = load_i32(bytes + ZTRipc_BB_STATUS);
  std::memset(b->client_id, 0, sizeof b->client_id);
  std::memcpy(b->client_id, bytes + ZTRipc_BB_CLIENT_ID, ZTRipc_MAX_CLIENT_ID);
  std::memcpy(b->two_floats, bytes + ZTRipc_BB_TWO_FLOATS, sizeof b->two_floats);
  std::memcpy(&b->volume_header, bytes + ZTRipc_BB_VOLUME_HEADER, sizeof b->volume_header);
  b->integer_160 = load_i32(bytes + ZTRipc_BB_INTEGER_160);
  std::memcpy(b->cursor, bytes + ZTRipc_BB_CURSOR, sizeof b->cursor);
  std::memcpy(b->box_origin, bytes + ZTRipc_BB_BOX_ORIGIN, sizeof b->box_origin);
  std::memcpy(b->box_size, bytes + ZTRipc_BB_BOX_SIZE, sizeof b->box_size);
  std::memcpy(b->triples, bytes + ZTRipc_BB_TRIPLES, sizeof b->triples);
  b->integer_216 = load_i32(bytes + ZTRipc_BB_INTEGER_216);
  b->integer_220 = load_i32(bytes + ZTRipc_BB_INTEGER_220);
  return 0;
}

// ---- session ------------------------------------------------------------------------------

void ZTRipc_SetVerbose(bool verbose) { session().verbose = verbose; }
bool ZTRipc_GetVerbose() { return session().verbose; }

int ZTRipc_InitializeClient(const char* client_id, int32_t client_number) {
  ZTRipc_CloseClient();  // a second initialisation starts from a clean session
  Session& s = session();
  s.client_number = client_number;
  s.broadcaster = ZTRipc_NewBroadcaster();
  if (s.broadcaster == nullptr) {
    say("broadcaster NULL\n");
    return -1;
  }
  const size_t id_length = client_id != nullptr ? std::strlen(client_id) : 0;
  if (id_length > ZTRipc_MAX_CLIENT_ID) {
    say("too long client ID\n");
    ZTRipc_CloseClient();
    return -1;
  }
  s.client_id.assign(client_id != nullptr ? client_id : "", id_length);
  s.broadcaster_name = ZTRipc_ComposeBoardName(ZTRipc_BROADCASTER_BOARD_BASE, client_number);
  s.message_name = ZTRipc_ComposeBoardName(ZTRipc_MESSAGE_BOARD_BASE, client_number);
  s.request_name = ZTRipc_ComposeBoardName(ZTRipc_REQUEST_BOARD_BASE, client_number);
  s.data_name = ZTRipc_ComposeBoardName(ZTRipc_DATA_BOARD_BASE, client_number);
  s.broadcaster_board = SharedMemory::open(s.broadcaster_name);
  if (s.broadcaster_board) s.message_board = SharedMemory::open(s.message_name);
  if (s.message_board) s.request_board = SharedMemory::open(s.request_name);
  if (!s.request_board) {
    ZTRipc_CloseClient();
    return -1;
  }
  s.initialized = true;
  return 0;
}

int ZTRipc_CloseClient() {
  Session& s = session();
  s.broadcaster_board.close();
  s.message_board.close();
  s.request_board.close();
  s.data_board.close();
  ZTRipc_DeleteBroadcaster(s.broadcaster);
  s.broadcaster = nullptr;
  s.client_id.clear();
  s.broadcaster_name.clear();
  s.message_name.clear();
  s.request_name.clear();
  s.data_name.clear();
  s.initialized = false;
  return 0;
}

const char* ZTRipc_GetBroadcasterBoardName() { return session().broadcaster_name.c_str(); }
const char* ZTRipc_GetMessageBoardName() { return session().message_name.c_str(); }
const char* ZTRipc_GetRequestBoardName() { return session().request_name.c_str(); }
const char* ZTRipc_GetDataBoardName() { return session().data_name.c_str(); }

// ---- requests and messages ---------------------------------------------------------------

int ZTRipc_SendConnectionRequest() {
  Session& s = session();
  if (!server_free()) {
    say_verbose(">>>>>> Server NOT free?\n");
    return -1;
  }
  if (write_request(ZTRipc_REQUEST_TYPE_CONNECTION, false) != 0) {
    say_verbose(">>>>>> file mapping NOT available?\n");
    return -1;
  }
  for (int32_t round = 0; round < s.poll_limit; ++round) {
    if (connected_to_me()) return 0;
    poll_pause(round);
  }
  ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_DISCONNECTION, true);
  return -1;
}

int ZTRipc_SendDisconnectionRequest() {
  Session& s = session();
  const ServerState state = read_server_state();
  if (state.status == ZTRipc_SERVER_FREE) return 0;
  // Another client's session is not ours to end, and its request must not be overwritten.
  if (state.status == ZTRipc_SERVER_SERVING && !is_connected_to_me(state)) return -1;
  if (write_request(ZTRipc_REQUEST_TYPE_DISCONNECTION, false) != 0) return -1;
  for (int32_t round = 0; round < s.poll_limit; ++round) {
    if (server_free()) return 0;
    poll_pause(round);
  }
  return -1;
}

int ZTRipc_SendRequest(int32_t type, bool wait) {
  Session& s = session();
  const ServerState state = read_server_state();
  if (state.status != ZTRipc_SERVER_FREE && !is_connected_to_me(state)) return -1;
  if (write_request(type, true) != 0) return -1;
  if (!wait) return 0;
  say_verbose(" ");
  for (int32_t round = 0; round < s.poll_limit; ++round) {
    if (write_request(type, true) != 0) return -1;
    say_verbose("\r");
    if (request_accepted(type)) return 0;
    poll_pause(round);
  }
  return -1;
}

int ZTRipc_WaitForMessage(int32_t type) {
  Session& s = session();
  for (int32_t round = 0; round < s.poll_limit; ++round) {
    if (read_message() == type) {
      for (int extra = 0; extra < 50; ++extra) read_message();
      return 0;
    }
    poll_pause(round);
  }
  return -1;
}

int ZTRipc_ClearMessageBoard() {
  ztr::ipc::SharedMemoryView view = session().message_board.map();
  if (!view || view.size() < ZTRipc_MB_ACCEPTED_REQUEST + 4) return -1;
  auto* bytes = reinterpret_cast<unsigned char*>(view.data());
  store_i32(bytes + ZTRipc_MB_TYPE, ZTRipc_NO_VALUE);
  std::memcpy(bytes + ZTRipc_MB_TEXT, "   ", 4);
  store_i32(bytes + ZTRipc_MB_ACCEPTED_REQUEST, ZTRipc_NO_VALUE);
  return 0;
}

int ZTRipc_SetParameters(const void* block) {
  if (block == nullptr) return -1;
  std::memcpy(session().parameters.data(), block, ZTRipc_PARAMETER_BYTES);
  return 0;
}

int ZTRipc_GetParameters(void* block) {
  if (block == nullptr) return -1;
  std::memcpy(block, session().parameters.data(), ZTRipc_PARAMETER_BYTES);
  return 0;
}

void ZTRipc_SetPollLimit(int32_t count) { session().poll_limit = count; }
int32_t ZTRipc_GetPollLimit() { return session().poll_limit; }

// ---- whole volumes -------------------------------------------------------------------

RawVolumeData* ZTRipc_ReceiveRawVolumeData() {
  ZTRipc_SetPollLimit(ZTRipc_LONG_POLL_LIMIT);
  const char* failure = nullptr;
  RawVolumeData* volume = nullptr;
  if (ZTRipc_SendConnectionRequest() != 0) {
    failure = "Failed <ZTRipc_SendConnectionRequest>. Exit now.\n";
  } else if (ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, true) != 0) {
    failure = "Failed <ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA>. Exit now.\n";
  } else {
    ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_UPLOAD_VOLUMEDATA, false);
    while (ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_UPLOAD_COMPLETED) != 0) {
      say("<Warning> Server busy. To trying to send upload message\n");
    }
    volume = ZTRipc_DownloadRawVolumeData();
    if (volume == nullptr) {
      failure = "Failed <ZTRipc_DownloadRawVolumeData>. Exit now.\n";
    } else {
      while (ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_CLOSE_DATABOARD, true) != 0) {
        say("<Warning> Server busy. To trying to close data board\n");
      }
      if (ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA, true) != 0) {
        failure = "Missed <ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA>. Exit now.\n";
      } else if (ZTRipc_SendDisconnectionRequest() != 0) {
        failure = session().verbose
                      ? "Failed <ZTRipc_SendDisconnectionRequest>@ZTRipc_ReceiveRawVolumeData. "
                        "Exit now.\n"
                      : "Failed <ZTRipc_SendDisconnectionRequest>. Exit now.\n";
      }
    }
  }
  if (failure != nullptr) {
    ZTR_DeleteRawVolumeData(volume);  // built, but not handed out after a failure
    ZTRipc_SendDisconnectionRequest();
    say(failure);
    return nullptr;
  }
  return volume;
}

int ZTRipc_UploadRawVolumeData(const RawVolumeData* volume) {
  Session& s = session();
  if (volume == nullptr) {
    say("volume to be uploaded NULL\n");
    return -1;
  }
  if (s.data_board || SharedMemory::exists(s.data_name)) {
    say_verbose("ZTRipc_UploadRawVolumeData Err: FileMapping already exists. Force to be closed.\n");
    s.data_board.close();
  }
  const size_t size = ZTR_GetSerializedRawVolumeDataSize(volume);
  if (size == 0 || s.data_name.empty()) {
    say("hFM_DB == NULL\n");
    return -1;
  }
  s.data_board = SharedMemory::create(s.data_name, size);
  if (!s.data_board) {
    say("hFM_DB == NULL\n");
    return -1;
  }
  ztr::ipc::SharedMemoryView view = s.data_board.map(true);
  if (!view || view.size() < size || ZTR_SerializeRawVolumeData(volume, view.data()) != 0) {
    view.unmap();
    s.data_board.close();
    return -1;
  }
  return 0;
}

RawVolumeData* ZTRipc_DownloadRawVolumeData() {
  Session& s = session();
  if (s.data_name.empty()) return nullptr;
  SharedMemory board = SharedMemory::open(s.data_name);
  if (!board) return nullptr;
  ztr::ipc::SharedMemoryView view = board.map(true);
  if (!view) return nullptr;
  // Bounded by the board's real size: a board declaring more than it holds is refused.
  RawVolumeData* volume = ZTR_GetRawVolumeDataFromSerializedData(view.data(), view.size());
  view.unmap();
  board.close();
  return volume;
}

int ZTRipc_CloseDataBoard() { return session().data_board.close(); }

int ZTRipc_SendRawVolumeData(const RawVolumeData* volume) {
  if (ZTRipc_UploadRawVolumeData(volume) != 0) return -1;
  if (ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS, true) != 0) {
    ZTRipc_SendDisconnectionRequest();
    return -1;
  }
  ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED);
  if (ZTRipc_CloseDataBoard() != 0) {
    ZTRipc_SendDisconnectionRequest();
    return -1;
  }
  if (ZTRipc_SendDisconnectionRequest() != 0) return -1;
  return 0;
}
