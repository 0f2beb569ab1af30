// Channel appends, object-group transfers, voxel size and box requests.
#include <cmath>
#include <cstring>
#include <vector>

#include "sdk/ipc/client_session.h"
#include "sdk/ipc/ipc_client.h"
#include "sdk/ipc/object_group.h"

using ztr::ipc::say;
using ztr::ipc::session;
using ztr::ipc::SharedMemory;

namespace {

// An earlier transfer that missed its message may have left the data board behind.
void force_close_stale_data_board() {
  auto& s = session();
  if (s.data_board || SharedMemory::exists(s.data_name)) {
    say("Err: FileMapping already exists. Force to be closed.\n");
    s.data_board.close();
  }
}

// Creates the data board with exactly `size` bytes, lets `fill` lay out its content and
// writes that through the descriptor. 0 or -1.
template <class Fill>
int create_data_board(size_t size, Fill fill) {
  auto& s = session();
  if (size == 0 || s.data_name.empty()) return -1;
  std::vector<std::byte> content;
  try {
    content.resize(size);
  } catch (...) {
    return -1;
  }
  if (!fill(content.data(), content.size())) return -1;
  force_close_stale_data_board();
  s.data_board = SharedMemory::create(s.data_name, size);
  if (!s.data_board) return -1;
  if (s.data_board.write(0, content.data(), content.size()) != 0) {
    s.data_board.close();
    return -1;
  }
  return 0;
}

void set_parameter_word(int index, const void* value) {
  std::memcpy(session().parameters.data() + 4 * index, value, 4);
}

}  // namespace

int ZTRipc_UploadSingleChannelOfRawVolumeData(const RawVolumeData* volume, int32_t channel) {
  const size_t size = ZTRipc_GetSingleChannelSize(volume, channel);
  if (size == 0) return -1;  // null volume or channel out of range: nothing is created
  return create_data_board(size, [&](void* data, size_t bytes) {
    return ZTRipc_WriteSingleChannel(volume, channel, data, bytes) == 0;
  });
}

int ZTRipc_UploadObjectGroup(const ZTR_OBJECT_GROUP* group) {
  if (group == nullptr) return -1;
  const size_t size = ZTR_GetObjectGroupWireSize(group);
  return create_data_board(size, [&](void* data, size_t bytes) {
    return ZTR_WriteObjectGroup(group, data, bytes) == static_cast<int64_t>(size);
  });
}

int ZTRipc_AppendSingleChannel(const RawVolumeData* volume, int32_t channel) {
  if (ZTRipc_SendConnectionRequest() != 0) {
    say("ZTRipc_SendConnectionRequest: Error\n");
    return -1;
  }
  const char* failure = nullptr;
  if (ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, true) != 0) {
    failure = "ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA): Error\n";
  } else if (ZTRipc_UploadSingleChannelOfRawVolumeData(volume, channel) != 0) {
    failure = "ZTRipc_UploadSingleChannelOfRawVolumeData: Error\n";
  } else {
    const int requested = ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_DOWNLOAD_VOLUMEDATA, true);
    ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED);
    if (requested != 0) {
      failure = "ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_DOWNLOAD_VOLUMEDATA): Error\n";
    } else if (ZTRipc_CloseDataBoard() != 0) {
      failure = "ZTRipc_CloseDataBoard: Error\n";
    }
  }
  if (failure != nullptr) {
    say(failure);
    ZTRipc_SendDisconnectionRequest();
    return -1;
  }
  if (ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA, true) != 0) {
    // The channel has arrived; only the unlock was missed.
    say("ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA): Error\n");
    ZTRipc_SendDisconnectionRequest();
    return 0;
  }
  if (ZTRipc_SendDisconnectionRequest() != 0) {
    say("Failed <ZTRipc_SendDisconnectionRequest>@ZTRipc_AppendSingleChannel. Exit now.\n");
    return -1;
  }
  return 0;
}

namespace {

// Sends the group on the data board to host group `id` (parameters already staged with
// the ID in word 0) and closes the transfer. 0 or -1.
int send_group_to_host() {
  ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_DOWNLOAD_OBJECT_GROUP, false);
  if (ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED) != 0) {
    say("Missed <ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED>\n");
    return -1;
  }
  ZTRipc_CloseDataBoard();
  ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_OBJECT_TRANSFER_DONE, true);
  return 0;
}

}  // namespace

int ZTRipc_TransferObjectGroup(const ZTR_OBJECT_GROUP* group, int32_t* id) {
  if (group == nullptr || id == nullptr) return -1;
  ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_CREATE_OBJECT_GROUP, false);
  if (ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_OBJECT_GROUP_CREATED) != 0) {
    say("Missed <ZTRipc_MESSAGE_TYPE_DATA_OBJECT_GROUP_CREATED>\n");
    return -1;
  }
  unsigned char received[ZTRipc_PARAMETER_BYTES];
  ZTRipc_GetParameters(received);
  ZTRipc_ClearMessageBoard();
  int32_t new_id = 0;
  std::memcpy(&new_id, received, 4);
  // Without a filled data board the host would be asked to read nothing.
  if (ZTRipc_UploadObjectGroup(group) != 0) return -1;
  ZTRipc_SetParameters(received);
  if (send_group_to_host() != 0) return -1;
  *id = new_id;
  return 0;
}

int ZTRipc_UpdateObjectGroup(const ZTR_OBJECT_GROUP* group, int32_t id) {
  if (ZTRipc_UploadObjectGroup(group) != 0) return -1;
  set_parameter_word(0, &id);
  return send_group_to_host();
}

int ZTRipc_RemoveObjectGroup(int32_t id) {
  set_parameter_word(0, &id);
  ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP, true);
  ZTRipc_ClearMessageBoard();
  return 0;
}

int ZTRipc_SetVoxelSize(float value) {
  // The host refuses such a value by never accepting it, which would hold the client for
  // the whole wait.
  if (!std::isfinite(value) || value <= 0.0f) {
    say("ZTRipc_SetVoxelSize: voxel size is not a positive number\n");
    return -1;
  }
  set_parameter_word(0, &value);
  if (ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_SET_VOXEL_SIZE, true) != 0) {
    say("Missed <ZTRipc_MESSAGE_TYPE_REQUEST_ACCEPTED>\n");
    return -1;
  }
  return 0;
}

int ZTRipc_SetBox(const int32_t origin[3], const int32_t size[3]) {
  if (origin == nullptr || size == nullptr) return -1;
  for (int i = 0; i < 3; ++i) {
    set_parameter_word(i, &origin[i]);
    set_parameter_word(3 + i, &size[i]);
  }
  return ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_SET_BOX, true) == 0 ? 0 : -1;
}

int ZTRipc_SetBox(const ZTR_BOX& box) { return ZTRipc_SetBox(box.origin, box.size); }
