// Board names and the single-channel data-board format.
#include "sdk/ipc/board_layout.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>

static_assert(std::endian::native == std::endian::little,
              "board layouts are little-endian and copied as native integers");

std::string ZTRipc_ComposeBoardName(const char* base, int32_t client_number) {
  char name[64];
  std::snprintf(name, sizeof name, "%s(%04d)", base != nullptr ? base : "",
                static_cast<int>(client_number));
  return name;
}

namespace {

// x*y*z*bytes of one channel of the given shape, or 0 when a value is invalid or the
// product does not fit in memory sizes.
size_t block_bytes(int32_t x, int32_t y, int32_t z, int32_t type) {
  const int32_t bytes_per_voxel = ZTR_GetBytesPerVoxel(type);
  if (x <= 0 || y <= 0 || z <= 0 || bytes_per_voxel <= 0) return 0;
  const unsigned __int128 total = static_cast<unsigned __int128>(x) * static_cast<uint64_t>(y) *
                                  static_cast<uint64_t>(z) * static_cast<uint64_t>(bytes_per_voxel);
  if (total > std::numeric_limits<size_t>::max() / 2) return 0;
  return static_cast<size_t>(total);
}

}  // namespace

size_t ZTRipc_GetSingleChannelSize(const RawVolumeData* volume, int32_t channel) {
  if (volume == nullptr || volume->header == nullptr) return 0;
  const VolumeHeader& h = *volume->header;
  if (channel < 0 || channel >= h.channels) return 0;
  const size_t bytes = block_bytes(h.x, h.y, h.z, volume->types[channel]);
  if (bytes == 0) return 0;
  return ZTRipc_SINGLE_CHANNEL_HEADER_BYTES + bytes;
}

int ZTRipc_WriteSingleChannel(const RawVolumeData* volume, int32_t channel, void* destination,
                              size_t size) {
  const size_t needed = ZTRipc_GetSingleChannelSize(volume, channel);
  if (needed == 0 || destination == nullptr || size < needed) return -1;
  const VolumeHeader& h = *volume->header;
  const int32_t head[5] = {h.x, h.y, h.z, volume->types[channel], volume->attributes[channel]};
  auto* out = static_cast<unsigned char*>(destination);
  std::memcpy(out, head, sizeof head);
  std::memcpy(out + ZTRipc_SINGLE_CHANNEL_HEADER_BYTES, volume->data[channel],
              needed - ZTRipc_SINGLE_CHANNEL_HEADER_BYTES);
  return 0;
}

RawVolumeData* ZTRipc_ReadSingleChannel(const void* source, size_t size) {
  if (source == nullptr || size < ZTRipc_SINGLE_CHANNEL_HEADER_BYTES) return nullptr;
  int32_t head[5];
  std::memcpy(head, source, sizeof head);
  const size_t bytes = block_bytes(head[0], head[1], head[2], head[3]);
  if (bytes == 0 || bytes != size - ZTRipc_SINGLE_CHANNEL_HEADER_BYTES) return nullptr;
  const int32_t dims[3] = {head[0], head[1], head[2]};
  RawVolumeData* volume = ZTR_NewSingleChannelRawVolumeData(dims, head[3], head[4]);
  if (volume == nullptr) return nullptr;
  std::memcpy(volume->data[0],
              static_cast<const unsigned char*>(source) + ZTRipc_SINGLE_CHANNEL_HEADER_BYTES,
              bytes);
  return volume;
}
