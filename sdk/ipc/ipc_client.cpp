// The client session: boards, board predicates, the request/message handshake with its
// bounded busy poll, and the whole-volume exchange.
#include "sdk/ipc/ipc_client.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "sdk/ipc/client_session.h"
#include "sdk/ipc/shared_memory.h"
#include "sdk/ipc/volume_board.h"

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

namespace {

// False only when the host's lock object exists and nobody holds it: a host that locks its
// number and was killed leaves its boards behind, but not its lock.
bool host_lock_held(int32_t client_number) {
  const std::string object = "/" + ZTRipc_ComposeBoardName(ZTRipc_HOST_LOCK_BASE, client_number);
  const int fd = shm_open(object.c_str(), O_RDONLY, 0);
  if (fd < 0) return true;  // a host that does not lock: no word on its life
  const bool free = flock(fd, LOCK_SH | LOCK_NB) == 0;
  ::close(fd);  // also lets go of the probe
  return !free;
}

}  // namespace

bool host_gone() {
  Session& s = session();
  if (s.host_gone) return true;
  if (!s.initialized) return false;
  if (s.broadcaster_board.still_named() && s.message_board.still_named() &&
      s.request_board.still_named() && host_lock_held(s.client_number)) {
    return false;
  }
  s.host_gone = true;
  say("<Warning> Server gone: the host ended or its boards were removed or replaced\n");
  return true;
}

// The first round checks the host at once; later rounds every 20 ms.
Wait::Wait() : start_(Clock::now()), next_check_(start_ + std::chrono::milliseconds(20)) {}

bool Wait::next() {
  Session& s = session();
  ++round_;
  if (spent_ >= s.poll_limit) return false;
  ++spent_;
  if (round_ == 0) return !host_gone();
  const auto now = Clock::now();
  const auto waited = now - start_;
  if (s.wait_time_limit_ms > 0 && waited >= std::chrono::milliseconds(s.wait_time_limit_ms)) {
    return false;
  }
  if (now >= next_check_) {
    next_check_ = now + std::chrono::milliseconds(20);
    if (host_gone()) return false;
  }
  if (waited < std::chrono::milliseconds(2)) {
    if ((round_ & 15) == 15) sched_yield();
  } else if (waited < std::chrono::milliseconds(50)) {
    sched_yield();
  } else {
    const timespec pause{0, static_cast<long>(pause_.count()) * 1000L};
    nanosleep(&pause, nullptr);
    spent_ += pause_.count() - 1;
    pause_ = std::min(pause_ * 2, std::chrono::microseconds(2000));
  }
  return true;
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
  unsigned char bytes[ZTRipc_MB_PARAMETERS + ZTRipc_PARAMETER_BYTES];
  if (s.message_board.read(0, bytes, sizeof bytes) != 0) return ZTRipc_NO_VALUE;
  std::memcpy(s.parameters.data(), bytes + ZTRipc_MB_PARAMETERS, ZTRipc_PARAMETER_BYTES);
  return load_i32(bytes + ZTRipc_MB_TYPE);
}

// Writes the request type and the client ID, and the parameter block when asked. The type
// goes last, so that a host that sees it sees the rest of the request.
int write_request(int32_t type, bool with_parameters) {
  Session& s = session();
  unsigned char bytes[ZTRipc_RB_PARAMETERS + ZTRipc_PARAMETER_BYTES] = {};
  std::memcpy(bytes + ZTRipc_RB_CLIENT_ID, s.client_id.data(), s.client_id.size());
  size_t end = ZTRipc_RB_CLIENT_ID + ZTRipc_RB_CLIENT_ID_BYTES;
  if (with_parameters) {
    std::memcpy(bytes + ZTRipc_RB_PARAMETERS, s.parameters.data(), ZTRipc_PARAMETER_BYTES);
    end = sizeof bytes;
  }
  if (s.request_board.size() < static_cast<int64_t>(sizeof bytes)) return -1;
  if (s.request_board.write(ZTRipc_RB_CLIENT_ID, bytes + ZTRipc_RB_CLIENT_ID,
                            end - ZTRipc_RB_CLIENT_ID) != 0) {
    return -1;
  }
  store_i32(bytes + ZTRipc_RB_TYPE, type);
  return s.request_board.write(ZTRipc_RB_TYPE, bytes + ZTRipc_RB_TYPE, 4);
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
  s.host_gone = false;
  return 0;
}

const char* ZTRipc_GetBroadcasterBoardName() { return session().broadcaster_name.c_str(); }
const char* ZTRipc_GetMessageBoardName() { return session().message_name.c_str(); }
const char* ZTRipc_GetRequestBoardName() { return session().request_name.c_str(); }
const char* ZTRipc_GetDataBoardName() { return session().data_name.c_str(); }

// ---- requests and messages ---------------------------------------------------------------

int ZTRipc_SendConnectionRequest() {
  if (!server_free()) {
    say_verbose(">>>>>> Server NOT free?\n");
    return -1;
  }
  if (write_request(ZTRipc_REQUEST_TYPE_CONNECTION, false) != 0) {
    say_verbose(">>>>>> file mapping NOT available?\n");
    return -1;
  }
  for (Wait wait; wait.next();) {
    if (connected_to_me()) return 0;
  }
  ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_DISCONNECTION, true);
  return -1;
}

int ZTRipc_SendDisconnectionRequest() {
  const ServerState state = read_server_state();
  if (state.status == ZTRipc_SERVER_FREE) return 0;
  // Another client's session is not ours to end, and its request must not be overwritten.
  if (state.status == ZTRipc_SERVER_SERVING && !is_connected_to_me(state)) return -1;
  if (write_request(ZTRipc_REQUEST_TYPE_DISCONNECTION, false) != 0) return -1;
  for (Wait wait; wait.next();) {
    if (server_free()) return 0;
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
  // The console shows activity a few times a second, not once per round: a long wait would
  // otherwise send millions of carriage returns.
  using Clock = std::chrono::steady_clock;
  auto next_mark = Clock::now();
  for (Wait wait; wait.next();) {
    if (write_request(type, true) != 0) return -1;
    if (s.verbose && Clock::now() >= next_mark) {
      say_verbose("\r");
      next_mark = Clock::now() + std::chrono::milliseconds(250);
    }
    if (request_accepted(type)) return 0;
  }
  return -1;
}

int ZTRipc_WaitForMessage(int32_t type) {
  for (Wait wait; wait.next();) {
    if (read_message() == type) {
      for (int extra = 0; extra < 50; ++extra) read_message();
      return 0;
    }
  }
  return -1;
}

int ZTRipc_ClearMessageBoard() {
  const SharedMemory& board = session().message_board;
  unsigned char bytes[ZTRipc_MB_ACCEPTED_REQUEST + 4] = {};
  if (board.size() < static_cast<int64_t>(sizeof bytes)) return -1;
  store_i32(bytes + ZTRipc_MB_TYPE, ZTRipc_NO_VALUE);
  std::memcpy(bytes + ZTRipc_MB_TEXT, "   ", 4);
  store_i32(bytes + ZTRipc_MB_ACCEPTED_REQUEST, ZTRipc_NO_VALUE);
  // Only the three fields change; the rest of the text stays as the host left it.
  if (board.write(ZTRipc_MB_TYPE, bytes, 4) != 0 ||
      board.write(ZTRipc_MB_TEXT, bytes + ZTRipc_MB_TEXT, 4) != 0 ||
      board.write(ZTRipc_MB_ACCEPTED_REQUEST, bytes + ZTRipc_MB_ACCEPTED_REQUEST, 4) != 0) {
    return -1;
  }
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
void ZTRipc_SetWaitTimeLimit(int32_t milliseconds) { session().wait_time_limit_ms = milliseconds; }
int32_t ZTRipc_GetWaitTimeLimit() { return session().wait_time_limit_ms; }
bool ZTRipc_HostGone() { return host_gone(); }

// ---- whole volumes -------------------------------------------------------------------

namespace {

// Repeats `attempt` until it succeeds, saying `warning` after each failed attempt. A busy
// host gets time to answer; a host that is gone, or that stays silent for twice the wait
// time limit, ends the repetition (false).
template <class Attempt>
bool retry_while_host_lives(Attempt attempt, const char* warning) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  for (;;) {
    if (attempt()) return true;
    say(warning);
    const int32_t limit = session().wait_time_limit_ms;
    if (host_gone()) return false;
    if (limit > 0 && Clock::now() - start >= 2 * std::chrono::milliseconds(limit)) return false;
  }
}

}  // namespace

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
    if (!retry_while_host_lives(
            [] { return ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_UPLOAD_COMPLETED) == 0; },
            "<Warning> Server busy. To trying to send upload message\n")) {
      failure = "Failed <ZTRipc_MESSAGE_TYPE_DATA_UPLOAD_COMPLETED>. Exit now.\n";
    } else if ((volume = ZTRipc_DownloadRawVolumeData()) == nullptr) {
      failure = "Failed <ZTRipc_DownloadRawVolumeData>. Exit now.\n";
    } else if (!retry_while_host_lives(
                   [] { return ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_CLOSE_DATABOARD, true) == 0; },
                   "<Warning> Server busy. To trying to close data board\n")) {
      failure = "Failed <ZTRipc_REQUEST_TYPE_CLOSE_DATABOARD>. Exit now.\n";
    } else {
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
  if (write_volume_to_board(s.data_board, volume) != 0) {
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
  // Bounded by the board's real size: a board declaring more than it holds, or shrinking
  // while it is read, is refused.
  return read_volume_from_board(board);
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
