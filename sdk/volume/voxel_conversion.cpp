// Voxel type conversion with its four value mappings, typed reads, and channel clearing.
#include "sdk/volume/voxel_conversion.h"

#include <cstdlib>
#include <cstring>

#include "sdk/volume/mapped_volume.h"
#include "sdk/volume/raw_volume.h"
#include "sdk/volume/volume_internal.h"

using namespace ztr_volume_detail;

namespace {

struct Ranges {
  float source_low = 0, source_high = 0, target_low = 0, target_high = 0;
};

// The four value mappings, all in 32-bit float.
template <int Mode>
inline float map_value(float v, const Ranges& r) {
  if constexpr (Mode == 2 || Mode == 3) {
    v = (r.target_high - r.target_low) * (v - r.source_low) / (r.source_high - r.source_low) +
        r.target_low;
  }
  if constexpr (Mode == 1 || Mode == 3) {
    if (v < r.target_low) {
      v = r.target_low;
    } else if (v > r.target_high) {
      v = r.target_high;
    }
  }
  return v;
}

template <class S, class D, int Mode>
void convert_loop(int64_t count, const S* source, D* destination, const Ranges& ranges) {
  for (int64_t n = 0; n < count; ++n) {
    destination[n] = store_as<D>(map_value<Mode>(to_float(source[n]), ranges));
  }
}

}  // namespace

int ZTR_ConvertVoxelBuffer(int64_t count, const void* source, void* destination,
                           int32_t source_type, int32_t destination_type,
                           const float* source_range, const float* target_range, int mode) {
  if (count < 0 || mode < 0 || mode > 3) return -1;
  if ((mode == 2 || mode == 3) && (source_range == nullptr || target_range == nullptr)) return -1;
  if (mode == 1 && target_range == nullptr) return -1;
  if (!ZTR_IsValidVoxelType(source_type) || !ZTR_IsValidVoxelType(destination_type)) return -1;
  if (count > 0 && (source == nullptr || destination == nullptr)) return -1;
  Ranges ranges;
  if (source_range != nullptr) {
    ranges.source_low = source_range[0];
    ranges.source_high = source_range[1];
  }
  if (target_range != nullptr) {
    ranges.target_low = target_range[0];
    ranges.target_high = target_range[1];
  }
  visit_voxel_type(source_type, [&](auto s) {
    using S = decltype(s);
    visit_voxel_type(destination_type, [&](auto d) {
      using D = decltype(d);
      const auto* in = static_cast<const S*>(source);
      auto* out = static_cast<D*>(destination);
      switch (mode) {
        case 0: convert_loop<S, D, 0>(count, in, out, ranges); break;
        case 1: convert_loop<S, D, 1>(count, in, out, ranges); break;
        case 2: convert_loop<S, D, 2>(count, in, out, ranges); break;
        default: convert_loop<S, D, 3>(count, in, out, ranges); break;
      }
    });
  });
  return 0;
}

int ZTR_ConvertChannelType(RawVolumeData* volume, int32_t channel, int32_t new_type,
                           const float* source_range, const float* target_range, int mode) {
  if (!channel_in_range(volume, channel)) return -1;
  if (mode < 0 || mode > 3) return -1;
  if ((mode == 2 || mode == 3) && (source_range == nullptr || target_range == nullptr)) return -1;
  if (mode == 1 && target_range == nullptr) return -1;
  if (volume->attributes[channel] != ZTR_ATTRIBUTE_PLAIN) return -1;
  const int32_t old_type = volume->types[channel];
  if (!ZTR_IsValidVoxelType(old_type) || !ZTR_IsValidVoxelType(new_type)) return -1;
  const size_t voxels = voxels_of(volume);
  void* block = std::malloc(voxels * static_cast<size_t>(ZTR_GetBytesPerVoxel(new_type)));
  if (block == nullptr) return -1;
  if (ZTR_ConvertVoxelBuffer(static_cast<int64_t>(voxels), volume->data[channel], block, old_type,
                             new_type, source_range, target_range, mode) != 0) {
    std::free(block);
    return -1;
  }
  ZTR_FreeChannelBlock(volume->data[channel]);
  volume->data[channel] = block;
  volume->types[channel] = new_type;
  return 0;
}

float ZTR_GetVoxelValueAsFloat(const void* buffer, int32_t type, int64_t count, int64_t i) {
  if (buffer == nullptr || i < 0 || i >= count) return 0.0f;
  float value = 0.0f;
  visit_voxel_type(type, [&](auto t) {
    using T = decltype(t);
    value = to_float(static_cast<const T*>(buffer)[i]);
  });
  return value;
}

void ZTR_ClearChannel(RawVolumeData* volume, int32_t channel) {
  if (!channel_in_range(volume, channel)) return;
  if (!ZTR_IsValidVoxelType(volume->types[channel])) return;
  std::memset(volume->data[channel], 0, ZTR_GetChannelBytes(volume, channel));
}
