// The voxel analysis's own spherical neighbourhood: integer offsets within a radius, so
// that mask morphology needs nothing from the median plug-in.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

using VoxelOffset = std::array<int32_t, 3>;

// Every integer offset (dx, dy, dz) with dx² + dy² + dz² <= radius² (compared in float),
// the centre first, then in z-then-y-then-x scan order. Empty for a radius below 0 or not
// finite; radii above 16 are refused (empty) since no mask edit needs more.
std::vector<VoxelOffset> voxel_kernel_offsets(float radius);
