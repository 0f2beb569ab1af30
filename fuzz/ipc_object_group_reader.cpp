// Fuzz target: the bounded object-group reader. Whatever it accepts must write back to a
// wire form the reader accepts again, byte for byte stable from then on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sdk/ipc/object_group.h"

namespace {

std::vector<unsigned char> write_out(const ZTR_OBJECT_GROUP* group) {
  std::vector<unsigned char> bytes(ZTR_GetObjectGroupWireSize(group));
  if (ZTR_WriteObjectGroup(group, bytes.data(), bytes.size()) !=
      static_cast<int64_t>(bytes.size())) {
    std::abort();
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t consumed = 0;
  ZTR_OBJECT_GROUP* group = ZTR_ReadObjectGroup(data, size, &consumed);
  if (group == nullptr) return 0;
  if (consumed > size) std::abort();
  const std::vector<unsigned char> first = write_out(group);
  ZTR_DeleteObjectGroup(group);

  ZTR_OBJECT_GROUP* again = ZTR_ReadObjectGroup(first.data(), first.size());
  if (again == nullptr) std::abort();  // the writer's output must be readable as a whole
  const std::vector<unsigned char> second = write_out(again);
  ZTR_DeleteObjectGroup(again);
  if (second != first) std::abort();
  return 0;
}
