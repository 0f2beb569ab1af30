// Volume transfers through a data board's descriptor, channel block by channel block, so that
// the bytes land straight in the volume (or leave it) without a second copy.
#include "sdk/ipc/volume_board.h"

#include <cstring>
#include <limits>
#include <vector>

namespace ztr::ipc {

namespace {

int32_t load_i32(const unsigned char* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

int write_volume_to_board(const SharedMemory& board, const RawVolumeData* volume) {
  if (volume == nullptr || volume->header == nullptr) return -1;
  const size_t channels = static_cast<size_t>(volume->header->channels);
  const size_t tables = sizeof(VolumeHeader) + 8 * channels;
  const int64_t board_size = board.size();
  if (board_size < 0 || static_cast<uint64_t>(board_size) < ZTR_GetSerializedRawVolumeDataSize(volume)) {
    return -1;
  }
  std::vector<unsigned char> head(tables);
  std::memcpy(head.data(), volume->header, sizeof(VolumeHeader));
  std::memcpy(head.data() + sizeof(VolumeHeader), volume->types, 4 * channels);
  std::memcpy(head.data() + sizeof(VolumeHeader) + 4 * channels, volume->attributes, 4 * channels);
  if (board.write(0, head.data(), head.size()) != 0) return -1;
  size_t offset = tables;
  for (size_t c = 0; c < channels; ++c) {
    const size_t bytes = ZTR_GetChannelBytes(volume, static_cast<int32_t>(c));
    if (board.write(offset, volume->data[c], bytes) != 0) return -1;
    offset += bytes;
  }
  return 0;
}

RawVolumeData* read_volume_from_board(const SharedMemory& board) {
  const int64_t board_size = board.size();
  if (board_size < static_cast<int64_t>(sizeof(VolumeHeader))) return nullptr;
  const auto size = static_cast<uint64_t>(board_size);
  unsigned char head_bytes[sizeof(VolumeHeader)];
  if (board.read(0, head_bytes, sizeof head_bytes) != 0) return nullptr;
  const VolumeHeader header{load_i32(head_bytes), load_i32(head_bytes + 4), load_i32(head_bytes + 8),
                            load_i32(head_bytes + 12)};
  if (header.channels <= 0 || header.channels > ZTR_MAX_CHANNELS) return nullptr;
  const size_t channels = static_cast<size_t>(header.channels);
  const size_t tables = sizeof(VolumeHeader) + 8 * channels;
  if (size < tables) return nullptr;
  std::vector<int32_t> codes(2 * channels);
  if (board.read(sizeof(VolumeHeader), codes.data(), 8 * channels) != 0) return nullptr;
  const int32_t* types = codes.data();
  const int32_t* attributes = codes.data() + channels;
  for (size_t c = 0; c < channels; ++c) {
    if (!ZTR_IsValidVoxelType(types[c])) return nullptr;
  }
  // The block sizes are checked against the board before anything large is allocated.
  if (header.x <= 0 || header.y <= 0 || header.z <= 0) return nullptr;
  const int64_t xy = int64_t(header.x) * header.y;  // each factor is below 2^31
  if (xy > std::numeric_limits<int32_t>::max()) return nullptr;
  const int64_t voxels = xy * header.z;
  if (voxels > std::numeric_limits<int32_t>::max()) return nullptr;
  uint64_t total = tables;
  for (size_t c = 0; c < channels; ++c) {
    total += static_cast<uint64_t>(voxels) * static_cast<uint64_t>(ZTR_GetBytesPerVoxel(types[c]));
    if (total > size) return nullptr;
  }
  VolumePtr volume(ZTR_NewRawVolumeData(header, types, attributes));
  if (!volume) return nullptr;
  size_t offset = tables;
  for (size_t c = 0; c < channels; ++c) {
    const size_t bytes = ZTR_GetChannelBytes(volume.get(), static_cast<int32_t>(c));
    if (board.read(offset, volume->data[c], bytes) != 0) return nullptr;
    offset += bytes;
  }
  return volume.release();
}

}  // namespace ztr::ipc
