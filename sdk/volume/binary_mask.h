// Binary (0/1) mask channels and the value range of a typed buffer.
#pragma once

#include <array>
#include <cstdint>

#include "sdk/volume/box.h"
#include "sdk/volume/raw_volume.h"

// 1 when every voxel of the channel is 0 or 1, else 0 (also for a bad channel or type).
int ZTR_IsBinaryChannel(const RawVolumeData* volume, int32_t channel);

// The smallest box holding every voxel equal to 1, as a new box the caller releases with
// ZTR_DeleteBox; nullptr when the channel is not binary or holds no 1.
ZTR_BOX* ZTR_GetBinaryBoundingBox(const RawVolumeData* volume, int32_t channel);

// Exchanges 0 and 1 in a binary channel. 0, or -1 (unchanged) when it is not binary.
int ZTR_InvertBinaryChannel(RawVolumeData* volume, int32_t channel);

// (minimum, maximum) of `count` elements of a typed buffer, compared as 32-bit floats;
// (0, 0) for an invalid type or an empty buffer. The pair can be passed as a range to
// ZTR_ConvertChannelType.
std::array<float, 2> ZTR_GetValueRange(const void* buffer, int64_t count, int32_t type);
