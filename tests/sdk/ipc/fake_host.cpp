// The in-process host stand-in used by the IPC client tests.
#include "tests/sdk/ipc/fake_host.h"

#include <dirent.h>

#include <chrono>
#include <stdexcept>

namespace ztr::ipc::testing {

namespace {

constexpr int32_t kNoRequest = 0;  // written by the host once it has taken a request

int32_t load_i32(const unsigned char* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void pause_briefly() { std::this_thread::sleep_for(std::chrono::microseconds(50)); }

}  // namespace

int open_descriptor_count() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

FakeHost::FakeHost(bool create_request_board)
    : claim_(ztr::test::reserve_client_number()), number_(claim_.value()) {
  broadcaster_ = SharedMemory::create(board_name(ZTRipc_BROADCASTER_BOARD_BASE),
                                      ZTRipc_BROADCASTER_BOARD_SIZE);
  message_ = SharedMemory::create(board_name(ZTRipc_MESSAGE_BOARD_BASE), ZTRipc_MESSAGE_BOARD_SIZE);
  if (create_request_board) {
    request_ = SharedMemory::create(board_name(ZTRipc_REQUEST_BOARD_BASE),
                                    ZTRipc_REQUEST_BOARD_SIZE);
  }
  if (!broadcaster_ || !message_ || (create_request_board && !request_)) {
    throw std::runtime_error("cannot create the host boards");
  }
  set_server(ZTRipc_SERVER_FREE, "");
  post_message(ZTRipc_NO_VALUE, ZTRipc_NO_VALUE);
  SharedMemory::unlink(board_name(ZTRipc_DATA_BOARD_BASE));  // left over by a crashed run
}

FakeHost::~FakeHost() {
  stop();
  SharedMemory::unlink(board_name(ZTRipc_DATA_BOARD_BASE));
}

void FakeHost::set_server(int32_t status, const std::string& client_id) {
  unsigned char bytes[40] = {};
  std::memcpy(bytes, &status, 4);
  std::memcpy(bytes + 8, client_id.data(), std::min<size_t>(client_id.size(), 32));
  broadcaster_.write(0, bytes, sizeof bytes);
}

int32_t FakeHost::status() const {
  int32_t status = ZTRipc_NO_VALUE;
  broadcaster_.read(ZTRipc_BB_STATUS, &status, 4);
  return status;
}

void FakeHost::write_broadcaster(size_t offset, const void* bytes, size_t count) {
  broadcaster_.write(offset, bytes, count);
}

void FakeHost::post_message(int32_t type, int32_t accepted_request, const void* parameters) {
  unsigned char bytes[ZTRipc_MB_PARAMETERS + ZTRipc_PARAMETER_BYTES] = {};
  message_.read(0, bytes, sizeof bytes);
  std::memcpy(bytes + ZTRipc_MB_TYPE, &type, 4);
  std::memcpy(bytes + ZTRipc_MB_ACCEPTED_REQUEST, &accepted_request, 4);
  if (parameters != nullptr) {
    std::memcpy(bytes + ZTRipc_MB_PARAMETERS, parameters, ZTRipc_PARAMETER_BYTES);
  }
  message_.write(0, bytes, sizeof bytes);
}

int32_t FakeHost::message_type() const {
  int32_t type = ZTRipc_NO_VALUE;
  message_.read(ZTRipc_MB_TYPE, &type, 4);
  return type;
}

void FakeHost::fill_request_board(unsigned char value) {
  std::vector<unsigned char> bytes(ZTRipc_REQUEST_BOARD_SIZE, value);
  request_.write(0, bytes.data(), bytes.size());
}

std::vector<unsigned char> FakeHost::request_board_bytes() const {
  std::vector<unsigned char> bytes(ZTRipc_REQUEST_BOARD_SIZE);
  request_.read(0, bytes.data(), bytes.size());
  return bytes;
}

int32_t FakeHost::request_type() const {
  int32_t type = ZTRipc_NO_VALUE;
  request_.read(ZTRipc_RB_TYPE, &type, 4);
  return type;
}

void FakeHost::start() {
  const int32_t none = kNoRequest;
  request_.write(ZTRipc_RB_TYPE, &none, 4);
  running_ = true;
  thread_ = std::thread([this] { serve(); });
}

void FakeHost::stop() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
}

void FakeHost::serve() {
  int32_t last = kNoRequest;
  while (running_) {
    unsigned char bytes[ZTRipc_RB_PARAMETERS + ZTRipc_PARAMETER_BYTES];
    if (request_.read(0, bytes, sizeof bytes) != 0) {
      pause_briefly();
      continue;
    }
    const int32_t type = load_i32(bytes + ZTRipc_RB_TYPE);
    if (type == kNoRequest || !take_request(type)) {
      pause_briefly();
      continue;
    }
    if (type == last) {
      // A waiting client writes its request again every round. If it is still waiting
      // after the download message replaced the acceptance, answer both again.
      if (type == ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS ||
          type == ZTRipc_REQUEST_TYPE_DOWNLOAD_VOLUMEDATA) {
        accept(type);
        await_quiet(type);
        post_message(ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED, ZTRipc_NO_VALUE);
      }
      continue;
    }
    last = type;
    requests.push_back(type);
    parameters_seen.emplace_back(bytes + ZTRipc_RB_PARAMETERS,
                                 bytes + ZTRipc_RB_PARAMETERS + ZTRipc_PARAMETER_BYTES);
    if (ignored.count(type) == 0) handle(type, parameters_seen.back());
  }
}

// Marks the request as taken only if the board still holds `type`: a plain write could
// wipe out a new request the client wrote after the board was read.
bool FakeHost::take_request(int32_t type) {
  SharedMemoryView view = request_.map();
  if (!view) return false;
  auto* word = reinterpret_cast<int32_t*>(view.data() + ZTRipc_RB_TYPE);
  int32_t expected = type;
  return __atomic_compare_exchange_n(word, &expected, kNoRequest, false, __ATOMIC_SEQ_CST,
                                     __ATOMIC_SEQ_CST);
}

void FakeHost::accept(int32_t type) {
  post_message(ZTRipc_MESSAGE_TYPE_REQUEST_ACCEPTED, type);
}

// A waiting client rewrites its request every round until it has seen the acceptance;
// the next message may only replace the acceptance once the rewrites have stopped.
void FakeHost::await_quiet(int32_t type) {
  auto last_seen = std::chrono::steady_clock::now();
  while (running_ && std::chrono::steady_clock::now() - last_seen < std::chrono::milliseconds(10)) {
    if (take_request(type)) last_seen = std::chrono::steady_clock::now();
    pause_briefly();
  }
}

void FakeHost::handle(int32_t type, const std::vector<unsigned char>& parameters) {
  const std::string data_name = board_name(ZTRipc_DATA_BOARD_BASE);
  switch (type) {
    case ZTRipc_REQUEST_TYPE_CONNECTION: {
      unsigned char id[40] = {};
      request_.read(ZTRipc_RB_CLIENT_ID, id, sizeof id);
      id[32] = 0;
      set_server(ZTRipc_SERVER_SERVING, reinterpret_cast<const char*>(id));
      return;
    }
    case ZTRipc_REQUEST_TYPE_DISCONNECTION:
      set_server(ZTRipc_SERVER_FREE, "");
      accept(type);
      return;
    case ZTRipc_REQUEST_TYPE_UPLOAD_VOLUMEDATA: {
      const size_t size = ZTR_GetSerializedRawVolumeDataSize(volume.get());
      // A short board holds a header that declares more than the board carries.
      host_data_ = SharedMemory::create(data_name, truncate_upload ? size - 1 : size);
      SharedMemoryView view = host_data_.map();
      std::vector<unsigned char> bytes(size);
      ZTR_SerializeRawVolumeData(volume.get(), bytes.data());
      if (view) std::memcpy(view.data(), bytes.data(), view.size());
      post_message(ZTRipc_MESSAGE_TYPE_DATA_UPLOAD_COMPLETED, ZTRipc_NO_VALUE);
      return;
    }
    case ZTRipc_REQUEST_TYPE_CLOSE_DATABOARD:
      host_data_.close();
      accept(type);
      return;
    case ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS:
    case ZTRipc_REQUEST_TYPE_DOWNLOAD_VOLUMEDATA: {
      SharedMemory board = SharedMemory::open(data_name);
      SharedMemoryView view = board.map();
      if (view && type == ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS) {
        received_volume.reset(ZTR_GetRawVolumeDataFromSerializedData(view.data(), view.size()));
      } else if (view) {
        received_channels.emplace_back(ZTRipc_ReadSingleChannel(view.data(), view.size()));
      }
      accept(type);
      await_quiet(type);
      post_message(ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED, ZTRipc_NO_VALUE);
      return;
    }
    case ZTRipc_REQUEST_TYPE_CREATE_OBJECT_GROUP: {
      unsigned char block[ZTRipc_PARAMETER_BYTES] = {};
      std::memcpy(block, &next_group_id, 4);
      ++next_group_id;
      post_message(ZTRipc_MESSAGE_TYPE_DATA_OBJECT_GROUP_CREATED, ZTRipc_NO_VALUE, block);
      return;
    }
    case ZTRipc_REQUEST_TYPE_DOWNLOAD_OBJECT_GROUP: {
      SharedMemory board = SharedMemory::open(data_name);
      SharedMemoryView view = board.map();
      int32_t id = 0;
      std::memcpy(&id, parameters.data(), 4);
      std::vector<unsigned char> wire;
      if (view) {
        const auto* p = reinterpret_cast<const unsigned char*>(view.data());
        wire.assign(p, p + view.size());
      }
      received_groups.emplace_back(id, std::move(wire));
      post_message(ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED, ZTRipc_NO_VALUE);
      return;
    }
    default:  // lock, unlock, object transfer done, voxel size, cursor, box, removal
      accept(type);
      return;
  }
}

}  // namespace ztr::ipc::testing
