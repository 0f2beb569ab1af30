// Helpers shared by the volume library's sources; not part of its public surface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/volume/raw_volume.h"

namespace ztr_volume_detail {

// x*y*z when every factor is positive and the product fits a signed 32-bit count.
bool voxel_count(int64_t x, int64_t y, int64_t z, int64_t* count);
// Channel count in 1..ZTR_MAX_CHANNELS, dims positive with a representable voxel count,
// every type code valid.
bool valid_volume_shape(const VolumeHeader& header, const int32_t* types, int64_t* voxels);
// A complete record, channel blocks zeroed when `zero_fill` (otherwise left for the caller
// to overwrite entirely); nullptr on any refusal or allocation failure.
RawVolumeData* allocate_volume(const VolumeHeader& header, const int32_t* types,
                               const int32_t* attributes, bool zero_fill);
// Frees the arrays, the header, the record and the first `allocated_channels` blocks.
void free_volume_parts(RawVolumeData* v, size_t allocated_channels);
size_t voxels_of(const RawVolumeData* v);
bool channel_in_range(const RawVolumeData* v, int32_t channel);

}  // namespace ztr_volume_detail
