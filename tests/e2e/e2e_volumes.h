// Volumes and groups that the end-to-end tests and their test client both build, so that
// what reached the host can be compared with what the client sent.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "sdk/volume/raw_volume.h"

namespace ztr::e2e {

// Every byte of every channel set from its position, the channel and a seed.
inline void fill_pattern(RawVolumeData* v, uint32_t seed) {
  for (int32_t c = 0; c < v->header->channels; ++c) {
    auto* bytes = static_cast<uint8_t*>(v->data[c]);
    const size_t n = ZTR_GetChannelBytes(v, c);
    for (size_t b = 0; b < n; ++b) bytes[b] = uint8_t((b * 131u + c * 17u + seed * 7u + (b >> 8)) & 0xFF);
  }
}

inline VolumePtr make_volume(const VolumeHeader& h, const std::vector<int32_t>& types,
                             const std::vector<int32_t>& attributes, uint32_t seed) {
  VolumePtr v(ZTR_NewRawVolumeData(h, types.data(), attributes.data()));
  if (v) fill_pattern(v.get(), seed);
  return v;
}

// The host's input in the tests: 6 x 5 x 4 voxels, one signed 16-bit channel = i + 2j + 3k - 20.
inline VolumePtr make_input_volume() {
  const int32_t dims[3] = {6, 5, 4};
  VolumePtr v(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_INT16, 0));
  if (!v) return v;
  for (int k = 0; k < 4; ++k)
    for (int j = 0; j < 5; ++j)
      for (int i = 0; i < 6; ++i) ZTR_Voxel<int16_t>(v.get(), 0, i, j, k) = int16_t(i + 2 * j + 3 * k - 20);
  return v;
}

// The last volume the "volumes" scenario sends: one channel of every voxel type and a
// packed RGBA channel, 7 x 3 x 2 voxels.
inline VolumePtr make_final_volume() {
  return make_volume({7, 3, 2, 9}, {0, 1, 2, 3, 4, 5, 6, 7, 4}, {0, 0, 0, 0, 0, 0, 0, 0, 2}, 99);
}

inline bool same_volume(const RawVolumeData* a, const RawVolumeData* b) {
  if (!a || !b || std::memcmp(a->header, b->header, sizeof(VolumeHeader)) != 0) return false;
  for (int32_t c = 0; c < a->header->channels; ++c) {
    if (a->types[c] != b->types[c] || a->attributes[c] != b->attributes[c]) return false;
    if (std::memcmp(a->data[c], b->data[c], ZTR_GetChannelBytes(a, c)) != 0) return false;
  }
  return true;
}

}  // namespace ztr::e2e
