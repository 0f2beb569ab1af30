// IPC binding of the study host.
#include "analyzer/studies/study_host_ipc.h"

#include <array>
#include <cstring>

#include "sdk/ipc/board_layout.h"
#include "sdk/ipc/ipc_client.h"

int32_t IpcStudyHost::create_object() { return create_ ? create_() : -1; }

void IpcStudyHost::remove_object(int32_t id) { ZTRipc_RemoveObjectGroup(id); }

int IpcStudyHost::update_object(const ZTR_OBJECT_GROUP* group, int32_t id) {
  return ZTRipc_UpdateObjectGroup(group, id);
}

int IpcStudyHost::set_box(const int32_t origin[3], const int32_t size[3]) {
  return ZTRipc_SetBox(origin, size);
}

int IpcStudyHost::notify_cursor(const float cursor[3]) {
  std::array<uint8_t, ZTRipc_PARAMETER_BYTES> block{};
  std::memcpy(block.data(), cursor, 3 * sizeof(float));
  if (ZTRipc_SetParameters(block.data()) != 0) return -1;
  return ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_SET_CURSOR, true);
}
