// Board handling of the host stand-in: publishing, request de-duplication and the answers.
#include "host/host_server.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "sdk/ipc/board_layout.h"
#include "sdk/ipc/ipc_client.h"
#include "sdk/ipc/volume_board.h"

namespace ztr::host {

namespace {

// Every request type the host answers: the parameter words it carries (the rest of the block
// is not looked at) and whether the client writes it again and again until it sees the
// acceptance.
struct RequestKind {
  int32_t type;
  int words;
  bool waits_for_acceptance;
};

constexpr RequestKind kRequestKinds[] = {
    {ZTRipc_REQUEST_TYPE_CONNECTION, 0, false},
    {ZTRipc_REQUEST_TYPE_DISCONNECTION, 0, false},
    {ZTRipc_REQUEST_TYPE_UPLOAD_VOLUMEDATA, 0, false},
    {ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS, 0, true},
    {ZTRipc_REQUEST_TYPE_CLOSE_DATABOARD, 0, true},
    {ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, 0, true},
    {ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA, 0, true},
    {ZTRipc_REQUEST_TYPE_DOWNLOAD_VOLUMEDATA, 0, true},
    {ZTRipc_REQUEST_TYPE_OBJECT_TRANSFER_DONE, 0, true},
    {ZTRipc_REQUEST_TYPE_SET_VOXEL_SIZE, 1, true},
    {ZTRipc_REQUEST_TYPE_SET_CURSOR, 3, true},
    {ZTRipc_REQUEST_TYPE_SET_BOX, 6, true},
    {ZTRipc_REQUEST_TYPE_CREATE_OBJECT_GROUP, 0, false},
    {ZTRipc_REQUEST_TYPE_DOWNLOAD_OBJECT_GROUP, 1, false},
    {ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP, 1, true},
};

// The table entry of `type`; nullptr for a type the host does not know.
const RequestKind* request_kind(int32_t type) {
  for (const RequestKind& kind : kRequestKinds)
    if (kind.type == type) return &kind;
  return nullptr;
}

int used_words(int32_t type) {
  const RequestKind* kind = request_kind(type);
  return kind ? kind->words : 0;
}

bool known_request(int32_t type) { return request_kind(type) != nullptr; }

bool waits_for_acceptance(int32_t type) {
  const RequestKind* kind = request_kind(type);
  return kind && kind->waits_for_acceptance;
}

// Identity of the object behind a board name: a client that uploads again creates a new one.
bool board_identity(const std::string& name, dev_t* dev, ino_t* ino) {
  struct stat st {};
  if (::stat(("/dev/shm/" + name).c_str(), &st) != 0) return false;
  *dev = st.st_dev;
  *ino = st.st_ino;
  return true;
}


}  // namespace

HostLock::HostLock(HostLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), name_(std::move(other.name_)) {}

HostLock& HostLock::operator=(HostLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
    name_ = std::move(other.name_);
  }
  return *this;
}

std::string HostLock::name(int32_t client_number) {
  return ZTRipc_ComposeBoardName(ZTRipc_HOST_LOCK_BASE, client_number);
}

HostLock HostLock::acquire(int32_t client_number, std::string* error) {
  HostLock lock;
  const std::string name = HostLock::name(client_number);
  const std::string object = "/" + name;
  const std::string path = "/dev/shm/" + name;
  // A holder that lets go removes the object; whoever locked the removed one tries again.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = shm_open(object.c_str(), O_CREAT | O_RDWR, 0600);
    if (fd < 0) {
      *error = "cannot open the host lock " + name + ": " + std::strerror(errno);
      return lock;
    }
    struct stat own {};
    if (fstat(fd, &own) != 0 || own.st_uid != geteuid()) {
      ::close(fd);
      *error = "the host lock " + name + " belongs to another user";
      return lock;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int reason = errno;
      ::close(fd);
      *error = reason == EWOULDBLOCK
                   ? "client number " + std::to_string(client_number) + " is already served by another host"
                   : "cannot lock " + name + ": " + std::strerror(reason);
      return lock;
    }
    struct stat named {};
    if (::stat(path.c_str(), &named) == 0 && named.st_dev == own.st_dev && named.st_ino == own.st_ino) {
      lock.fd_ = fd;
      lock.name_ = name;
      return lock;
    }
    ::close(fd);
  }
  *error = "cannot lock " + name + ": it keeps being replaced";
  return lock;
}

void HostLock::release() {
  if (fd_ < 0) return;
  // Removed while still locked: a waiting host then finds the name gone and starts afresh.
  shm_unlink(("/" + name_).c_str());
  ::close(fd_);
  fd_ = -1;
  name_.clear();
}

int32_t Request::word(int i) const {
  int32_t value;
  std::memcpy(&value, parameters + 4 * i, 4);
  return value;
}

float Request::float_word(int i) const {
  float value;
  std::memcpy(&value, parameters + 4 * i, 4);
  return value;
}

std::string Request::key() const {
  std::string k(reinterpret_cast<const char*>(&type), 4);
  k += client_id;
  k.push_back('\0');
  k.append(reinterpret_cast<const char*>(parameters), 4 * used_words(type));
  return k;
}

HostServer::HostServer(int32_t client_number, HostState state)
    : client_number_(client_number), state_(std::move(state)) {
  data_board_name_ = ZTRipc_ComposeBoardName(ZTRipc_DATA_BOARD_BASE, client_number);
  broadcaster_ = ipc::SharedMemory::create(
      ZTRipc_ComposeBoardName(ZTRipc_BROADCASTER_BOARD_BASE, client_number), ZTRipc_BROADCASTER_BOARD_SIZE,
      &error_);
  if (broadcaster_) {
    message_ = ipc::SharedMemory::create(
        ZTRipc_ComposeBoardName(ZTRipc_MESSAGE_BOARD_BASE, client_number), ZTRipc_MESSAGE_BOARD_SIZE, &error_);
  }
  if (message_) {
    request_ = ipc::SharedMemory::create(
        ZTRipc_ComposeBoardName(ZTRipc_REQUEST_BOARD_BASE, client_number), ZTRipc_REQUEST_BOARD_SIZE, &error_);
  }
  valid_ = broadcaster_ && message_ && request_;
  if (!valid_) {
    broadcaster_.close();
    message_.close();
    request_.close();
    removed_ = true;
    return;
  }
  write_word(request_, ZTRipc_RB_TYPE, ZTRipc_NO_VALUE);
  write_word(message_, ZTRipc_MB_TYPE, ZTRipc_NO_VALUE);
  message_.write(ZTRipc_MB_TEXT, "   ", 4);
  write_word(message_, ZTRipc_MB_ACCEPTED_REQUEST, ZTRipc_NO_VALUE);
  publish();
}

HostServer::~HostServer() { remove_boards(); }

void HostServer::remove_boards() {
  if (removed_) return;
  removed_ = true;
  data_.close();
  broadcaster_.close();
  message_.close();
  request_.close();
  // A data board the client created and never closed (a plug-in killed mid-transfer); an
  // object another user put under that name is not ours to remove.
  struct stat left {};
  if (::stat(("/dev/shm/" + data_board_name_).c_str(), &left) == 0 && left.st_uid == ::geteuid()) {
    ipc::SharedMemory::unlink(data_board_name_);
  }
}

void HostServer::write_word(const ipc::SharedMemory& board, size_t offset, int32_t value) const {
  board.write(offset, &value, 4);
}

int32_t HostServer::read_word(const ipc::SharedMemory& board, size_t offset) const {
  int32_t value = ZTRipc_NO_VALUE;
  if (board.read(offset, &value, 4) != 0) return ZTRipc_NO_VALUE;
  return value;
}

void HostServer::publish() {
  if (!valid_ || removed_) return;
  std::byte b[ZTRipc_BB_READ_BYTES] = {};
  char id[32] = {};
  std::memcpy(id, connected_id_.data(), std::min<size_t>(connected_id_.size(), 32));
  std::memcpy(b + ZTRipc_BB_CLIENT_ID, id, 32);
  VolumeHeader header{0, 0, 0, 0};
  if (state_.volume) header = *state_.volume->header;
  std::memcpy(b + ZTRipc_BB_VOLUME_HEADER, &header, 16);
  std::memcpy(b + ZTRipc_BB_CURSOR, state_.cursor, 12);
  std::memcpy(b + ZTRipc_BB_BOX_ORIGIN, state_.box_origin, 12);
  std::memcpy(b + ZTRipc_BB_BOX_SIZE, state_.box_size, 12);
  const float two_floats[2] = {state_.voxel_size, 0.0f};
  std::memcpy(b + ZTRipc_BB_TWO_FLOATS, two_floats, 8);
  // The cursor as the current slice position, repeated in the first three triples; the
  // voxel size in the fourth.
  float triples[4][3];
  for (int t = 0; t < 3; ++t) std::memcpy(triples[t], state_.cursor, 12);
  triples[3][0] = triples[3][1] = triples[3][2] = state_.voxel_size;
  std::memcpy(b + ZTRipc_BB_TRIPLES, triples, 48);
  // The status goes last: a client that sees it connected sees the rest of the state.
  broadcaster_.write(ZTRipc_BB_CLIENT_ID, b + ZTRipc_BB_CLIENT_ID, sizeof b - ZTRipc_BB_CLIENT_ID);
  write_word(broadcaster_, ZTRipc_BB_STATUS, status_);
}

void HostServer::replace_volume(VolumePtr volume) {
  if (!volume) return;
  if (state_.locked) {
    pending_volume_ = std::move(volume);
    return;
  }
  state_.volume = std::move(volume);
  publish();
}

Request HostServer::read_request() const {
  Request r;
  uint8_t raw[ZTRipc_REQUEST_BOARD_SIZE] = {};
  if (request_.read(0, raw, sizeof raw) != 0) {
    r.type = ZTRipc_NO_VALUE;  // a board a client has shrunk carries no request
    return r;
  }
  std::memcpy(&r.type, raw + ZTRipc_RB_TYPE, 4);
  const char* id = reinterpret_cast<const char*>(raw + ZTRipc_RB_CLIENT_ID);
  r.client_id.assign(id, strnlen(id, ZTRipc_RB_CLIENT_ID_BYTES));
  std::memcpy(r.parameters, raw + ZTRipc_RB_PARAMETERS, sizeof r.parameters);
  return r;
}

int32_t HostServer::posted_type() const { return read_word(message_, ZTRipc_MB_TYPE); }

int32_t HostServer::posted_accepted() const { return read_word(message_, ZTRipc_MB_ACCEPTED_REQUEST); }

void HostServer::post(int32_t type, int32_t accepted, const void* parameters,
                      size_t parameter_bytes, const char* text) {
  uint8_t m[ZTRipc_MB_PARAMETERS + ZTRipc_PARAMETER_BYTES] = {};
  if (parameters) std::memcpy(m + ZTRipc_MB_PARAMETERS, parameters, std::min(parameter_bytes, size_t(ZTRipc_PARAMETER_BYTES)));
  char words[ZTRipc_MB_TEXT_BYTES] = {};
  std::snprintf(words, sizeof words, "%s", text);
  std::memcpy(m + ZTRipc_MB_TEXT, words, sizeof words);
  const int32_t accepted_value = type == ZTRipc_MESSAGE_TYPE_REQUEST_ACCEPTED ? accepted : ZTRipc_NO_VALUE;
  std::memcpy(m + ZTRipc_MB_ACCEPTED_REQUEST, &accepted_value, 4);
  message_.write(ZTRipc_MB_TEXT, m + ZTRipc_MB_TEXT, sizeof m - ZTRipc_MB_TEXT);
  // The type goes last: a client that sees it sees the rest of the message.
  write_word(message_, ZTRipc_MB_TYPE, type);
}

bool HostServer::clear_request_type(int32_t expected) {
  // Not atomic through a descriptor; a client writes its next request only after the answer
  // to this one, which comes after the clearing, and a waiting client writes it again anyway.
  if (read_word(request_, ZTRipc_RB_TYPE) != expected) return request_cleared_ = false;
  write_word(request_, ZTRipc_RB_TYPE, ZTRipc_NO_VALUE);
  return request_cleared_ = true;
}

bool HostServer::accept_from(const Request& request) {
  if (status_ == ZTRipc_SERVER_SERVING && request.client_id != connected_id_) {
    refuse(request, "request " + std::to_string(request.type) + " from client '" +
                        request.client_id + "' while serving '" + connected_id_ + "'");
    return false;
  }
  if (request.client_id.empty() || request.client_id.size() > ZTRipc_MAX_CLIENT_ID) {
    refuse(request, "request " + std::to_string(request.type) + " without a valid client ID");
    return false;
  }
  return true;
}

void HostServer::refuse(const Request& request, const std::string& reason) {
  last_refused_ = true;
  state_.refusals.push_back(reason);
  std::fprintf(stderr, "ztrhost: refused request %d: %s\n", request.type, reason.c_str());
}

bool HostServer::poll() {
  if (!valid_ || removed_) return false;
  const auto now = Clock::now();
  bool acted = false;
  const Request r = read_request();

  if (follow_up_.active && have_last_ && r.type == last_type_ && r.key() == last_key_) {
    // The client is still writing the request the acceptance answered: it has not seen the
    // acceptance yet, unless this is a new upload through a new data board.
    dev_t dev;
    ino_t ino;
    const bool same_board = board_identity(data_board_name_, &dev, &ino) &&
                            dev == last_board_dev_ && ino == last_board_ino_;
    if (same_board) {
      clear_request_type(r.type);
      if (follow_up_.posted) {
        post_accepted(last_type_);
        follow_up_.posted = false;
      }
      follow_up_.due = now + quiet_;
      return true;
    }
    have_last_ = false;  // a new transfer with the same request
  }

  if (known_request(r.type)) {
    const std::string key = r.key();
    if (have_last_ && key == last_key_) {
      // A repeated write of the request already acted on. A client that cleared the
      // message board and asks again gets the acceptance again, without a second effect.
      // But the board also still holds a request whose client saw its acceptance, cleared
      // the board and is about to write its next one, maybe of the same type: an answer
      // now would be taken for that one's. So the same request must stay on the cleared
      // board for a while first, as a client asking again keeps writing it.
      if (!last_refused_ && waits_for_acceptance(r.type) && !follow_up_.active &&
          posted_type() == ZTRipc_NO_VALUE) {
        if (!repeat_pending_) {
          repeat_pending_ = true;
          repeat_since_ = now;
        } else if (now - repeat_since_ >= repeat_settle_ && read_request().key() == key) {
          post_accepted(r.type);
          repeat_pending_ = false;
          acted = true;
        }
      } else {
        repeat_pending_ = false;
      }
      settling_key_.clear();
    } else if (key != settling_key_) {
      repeat_pending_ = false;
      settling_key_ = key;
      settling_since_ = now;
    } else if (now - settling_since_ >= settle_) {
      settling_key_.clear();
      follow_up_.active = false;
      last_key_ = key;
      last_type_ = r.type;
      last_refused_ = false;
      have_last_ = true;
      request_cleared_ = false;
      handle(r);
      // Requests answered by their own message are taken off the board before the answer
      // and written once: if one shows up again, the client wrote it again.
      if (request_cleared_ && !follow_up_.active) have_last_ = false;
      acted = true;
    }
  }

  if (follow_up_.active && !follow_up_.posted && now >= follow_up_.due) {
    post(follow_up_.message, 0, nullptr, 0, "done");
    follow_up_.posted = true;
    acted = true;
  }
  return acted;
}

void HostServer::handle(const Request& r) {
  if (!accept_from(r)) return;
  switch (r.type) {
    case ZTRipc_REQUEST_TYPE_CONNECTION:
      if (status_ != ZTRipc_SERVER_SERVING) {
        status_ = ZTRipc_SERVER_SERVING;
        connected_id_ = r.client_id;
        publish();
      }
      count(r.type);
      // The client watches the status; the acceptance serves a client that waits for one.
      post_accepted(r.type);
      break;
    case ZTRipc_REQUEST_TYPE_DISCONNECTION:
      if (status_ == ZTRipc_SERVER_SERVING) {
        status_ = ZTRipc_SERVER_FREE;
        connected_id_.clear();
        if (state_.locked) {  // a client that leaves releases its lock
          state_.locked = false;
          if (pending_volume_) state_.volume = std::move(pending_volume_);
        }
        publish();
      }
      count(r.type);
      post_accepted(r.type);
      break;
    case ZTRipc_REQUEST_TYPE_UPLOAD_VOLUMEDATA:
      clear_request_type(r.type);
      upload_volume(r);
      break;
    case ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS:
    case ZTRipc_REQUEST_TYPE_DOWNLOAD_VOLUMEDATA: {
      const bool taken = r.type == ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS ? take_volume(r) : take_channel(r);
      if (!taken) break;
      count(r.type);
      // Accept first; the completion follows once the client has stopped rewriting.
      clear_request_type(r.type);
      post_accepted(r.type);
      follow_up_ = {true, false, ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED, Clock::now() + quiet_};
      break;
    }
    case ZTRipc_REQUEST_TYPE_CLOSE_DATABOARD:
      data_.close();
      count(r.type);
      post_accepted(r.type);
      break;
    case ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA:
      state_.locked = true;
      count(r.type);
      post_accepted(r.type);
      break;
    case ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA:
      state_.locked = false;
      if (pending_volume_) {
        state_.volume = std::move(pending_volume_);
        publish();
      }
      count(r.type);
      post_accepted(r.type);
      break;
    case ZTRipc_REQUEST_TYPE_OBJECT_TRANSFER_DONE:
      count(r.type);
      post_accepted(r.type);
      break;
    case ZTRipc_REQUEST_TYPE_SET_VOXEL_SIZE: {
      const float value = r.float_word(0);
      if (!std::isfinite(value) || value <= 0.0f) {
        refuse(r, "voxel size " + std::to_string(value) + " is not a positive number");
        break;
      }
      state_.voxel_size = value;
      state_.voxel_size_requests.push_back(value);
      publish();
      count(r.type);
      post_accepted(r.type);
      break;
    }
    case ZTRipc_REQUEST_TYPE_SET_CURSOR: {
      const std::array<float, 3> cursor{r.float_word(0), r.float_word(1), r.float_word(2)};
      if (!std::isfinite(cursor[0]) || !std::isfinite(cursor[1]) || !std::isfinite(cursor[2])) {
        refuse(r, "cursor position is not finite");
        break;
      }
      std::memcpy(state_.cursor, cursor.data(), 12);
      state_.cursor_requests.push_back(cursor);
      publish();
      count(r.type);
      post_accepted(r.type);
      break;
    }
    case ZTRipc_REQUEST_TYPE_SET_BOX: {
      std::array<int32_t, 6> box;
      for (int i = 0; i < 6; ++i) box[i] = r.word(i);
      std::memcpy(state_.box_origin, box.data(), 12);
      std::memcpy(state_.box_size, box.data() + 3, 12);
      state_.box_requests.push_back(box);
      publish();
      count(r.type);
      post_accepted(r.type);
      break;
    }
    case ZTRipc_REQUEST_TYPE_CREATE_OBJECT_GROUP: {
      clear_request_type(r.type);
      GroupPtr group(ZTR_NewObjectGroup(0));
      if (!group) {
        refuse(r, "out of memory for a new object group");
        break;
      }
      const int32_t id = state_.next_group_id++;
      state_.groups[id] = std::move(group);
      count(r.type);
      post(ZTRipc_MESSAGE_TYPE_DATA_OBJECT_GROUP_CREATED, 0, &id, 4, "group created");
      break;
    }
    case ZTRipc_REQUEST_TYPE_DOWNLOAD_OBJECT_GROUP:
      clear_request_type(r.type);
      if (take_group(r)) {
        count(r.type);
        post(ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED, 0, nullptr, 0, "done");
      }
      break;
    case ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP:
      state_.groups.erase(r.word(0));
      count(r.type);
      post_accepted(r.type);
      break;
    default:
      break;
  }
}

void HostServer::upload_volume(const Request& r) {
  if (!state_.volume) {
    refuse(r, "the host holds no volume");
    return;
  }
  data_.close();
  const size_t size = ZTR_GetSerializedRawVolumeDataSize(state_.volume.get());
  std::string why;
  data_ = ipc::SharedMemory::create(data_board_name_, size, &why);
  if (!data_ || ipc::write_volume_to_board(data_, state_.volume.get()) != 0) {
    data_.close();
    refuse(r, "cannot create the data board (" + std::to_string(size) + " bytes)" +
                  (why.empty() ? "" : ": " + why));
    return;
  }
  count(ZTRipc_REQUEST_TYPE_UPLOAD_VOLUMEDATA);
  post(ZTRipc_MESSAGE_TYPE_DATA_UPLOAD_COMPLETED, 0, nullptr, 0, "uploaded");
}

ipc::SharedMemory HostServer::open_data_board(const Request& request) {
  ipc::SharedMemory board = ipc::SharedMemory::open(data_board_name_);
  if (!board) refuse(request, "no data board " + data_board_name_);
  return board;
}

bool HostServer::take_volume(const Request& request) {
  ipc::SharedMemory board = open_data_board(request);
  if (!board) return false;
  board_identity(data_board_name_, &last_board_dev_, &last_board_ino_);
  const int64_t size = board.size();
  state_.data_boards_read.emplace_back(request.type, size);
  // Read into a new volume: a board that turns out short must not leave the host's volume
  // half overwritten.
  VolumePtr volume(ipc::read_volume_from_board(board));
  if (!volume) {
    refuse(request, "data board of " + std::to_string(size) + " bytes holds no valid volume");
    return false;
  }
  replace_volume(std::move(volume));
  return true;
}

namespace {

// The single-channel and object-group boards are read whole; a channel of 2^31 voxels of
// 8 bytes and its header is the largest thing a client may send.
constexpr size_t kLargestBoard = (size_t(1) << 34) + 64;

}  // namespace

bool HostServer::take_channel(const Request& request) {
  ipc::SharedMemory board = open_data_board(request);
  if (!board) return false;
  board_identity(data_board_name_, &last_board_dev_, &last_board_ino_);
  std::vector<std::byte> bytes;
  const int64_t size = board.size();
  state_.data_boards_read.emplace_back(request.type, size);
  VolumePtr channel(board.read_all(&bytes, kLargestBoard) ? ZTRipc_ReadSingleChannel(bytes.data(), bytes.size())
                                                          : nullptr);
  if (!channel) {
    refuse(request, "data board of " + std::to_string(size) + " bytes holds no valid channel");
    return false;
  }
  RawVolumeData* volume = state_.volume.get();
  const VolumeHeader& c = *channel->header;
  if (!volume || volume->header->x != c.x || volume->header->y != c.y || volume->header->z != c.z) {
    refuse(request, "channel of " + std::to_string(c.x) + "x" + std::to_string(c.y) + "x" +
                        std::to_string(c.z) + " voxels does not fit the host's volume");
    return false;
  }
  if (volume->header->channels >= ZTR_MAX_CHANNELS || ZTR_AppendChannelCopy(volume, channel.get(), 0) != 0) {
    refuse(request, "cannot append a channel to the host's volume");
    return false;
  }
  publish();
  return true;
}

bool HostServer::take_group(const Request& request) {
  const int32_t id = request.word(0);
  auto it = state_.groups.find(id);
  if (it == state_.groups.end()) {
    refuse(request, "object group " + std::to_string(id) + " does not exist");
    return false;
  }
  ipc::SharedMemory board = open_data_board(request);
  if (!board) return false;
  std::vector<std::byte> bytes;
  const int64_t size = board.size();
  state_.data_boards_read.emplace_back(request.type, size);
  GroupPtr group(board.read_all(&bytes, kLargestBoard) ? ZTR_ReadObjectGroup(bytes.data(), bytes.size())
                                                       : nullptr);
  if (!group) {
    refuse(request, "data board of " + std::to_string(size) + " bytes holds no valid object group");
    return false;
  }
  it->second = std::move(group);
  return true;
}

}  // namespace ztr::host
