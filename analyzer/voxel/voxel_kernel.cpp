// Spherical neighbourhood offsets for mask morphology.
#include "analyzer/voxel/voxel_kernel.h"

#include <cmath>

std::vector<VoxelOffset> voxel_kernel_offsets(float radius) {
  std::vector<VoxelOffset> offsets;
  if (!std::isfinite(radius) || radius < 0.0f || radius > 16.0f) return offsets;
  const int32_t reach = static_cast<int32_t>(radius);
  const float limit = radius * radius;
  offsets.push_back({0, 0, 0});
  for (int32_t dz = -reach; dz <= reach; ++dz) {
    for (int32_t dy = -reach; dy <= reach; ++dy) {
      for (int32_t dx = -reach; dx <= reach; ++dx) {
        if (dx == 0 && dy == 0 && dz == 0) continue;
        if (static_cast<float>(dx * dx + dy * dy + dz * dz) <= limit) offsets.push_back({dx, dy, dz});
      }
    }
  }
  return offsets;
}
