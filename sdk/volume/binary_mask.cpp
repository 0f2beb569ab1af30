// Binary mask checks, bounding box and inversion; value ranges of typed buffers.
#include "sdk/volume/binary_mask.h"

#include <algorithm>

#include "sdk/volume/voxel_conversion.h"
#include "sdk/volume/volume_internal.h"

using namespace ztr_volume_detail;

namespace {

template <class T>
bool all_binary(const T* data, size_t count) {
  return std::all_of(data, data + count, [](T v) { return v == T(0) || v == T(1); });
}

}  // namespace

int ZTR_IsBinaryChannel(const RawVolumeData* volume, int32_t channel) {
  if (!channel_in_range(volume, channel)) return 0;
  bool binary = false;
  visit_voxel_type(volume->types[channel], [&](auto t) {
    using T = decltype(t);
    binary = all_binary(static_cast<const T*>(volume->data[channel]), voxels_of(volume));
  });
  return binary ? 1 : 0;
}

ZTR_BOX* ZTR_GetBinaryBoundingBox(const RawVolumeData* volume, int32_t channel) {
  if (ZTR_IsBinaryChannel(volume, channel) != 1) return nullptr;
  const int64_t X = volume->header->x, Y = volume->header->y, Z = volume->header->z;
  int64_t low[3] = {X, Y, Z};
  int64_t high[3] = {-1, -1, -1};
  visit_voxel_type(volume->types[channel], [&](auto t) {
    using T = decltype(t);
    const T* data = static_cast<const T*>(volume->data[channel]);
    for (int64_t k = 0; k < Z; ++k) {
      for (int64_t j = 0; j < Y; ++j) {
        const T* row = data + X * (j + Y * k);
        for (int64_t i = 0; i < X; ++i) {
          if (row[i] != T(1)) continue;
          const int64_t p[3] = {i, j, k};
          for (int a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], p[a]);
            high[a] = std::max(high[a], p[a]);
          }
        }
      }
    }
  });
  if (high[0] < 0) return nullptr;
  ZTR_BOX* box = ZTR_NewBox();
  if (box == nullptr) return nullptr;
  for (int a = 0; a < 3; ++a) {
    box->origin[a] = static_cast<int32_t>(low[a]);
    box->size[a] = static_cast<int32_t>(high[a] - low[a] + 1);
  }
  return box;
}

int ZTR_InvertBinaryChannel(RawVolumeData* volume, int32_t channel) {
  if (ZTR_IsBinaryChannel(volume, channel) != 1) return -1;
  visit_voxel_type(volume->types[channel], [&](auto t) {
    using T = decltype(t);
    T* data = static_cast<T*>(volume->data[channel]);
    const size_t count = voxels_of(volume);
    for (size_t n = 0; n < count; ++n) data[n] = data[n] == T(0) ? T(1) : T(0);
  });
  return 0;
}

std::array<float, 2> ZTR_GetValueRange(const void* buffer, int64_t count, int32_t type) {
  std::array<float, 2> range = {0.0f, 0.0f};
  if (buffer == nullptr || count <= 0) return range;
  visit_voxel_type(type, [&](auto t) {
    using T = decltype(t);
    const T* data = static_cast<const T*>(buffer);
    float low = to_float(data[0]);
    float high = low;
    for (int64_t n = 1; n < count; ++n) {
      const float v = to_float(data[n]);
      if (v < low) {
        low = v;
      } else if (v > high) {
        high = v;
      }
    }
    range = {low, high};
  });
  return range;
}
