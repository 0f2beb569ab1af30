// Spherical and connectivity kernels and their linear offsets.
#include "plugins/median/kernel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

ZTR_KERNEL* ZTR_NewKernel(int32_t capacity) {
  if (capacity < 1) return nullptr;
  try {
    auto kernel = std::make_unique<ZTR_KERNEL>();
    const auto n = static_cast<size_t>(capacity);
    ZTR_POINT_LIST& p = kernel->points;
    p.capacity = capacity;
    p.count = 1;  // the centre, all zeros
    p.dx.assign(n, 0);
    p.dy.assign(n, 0);
    p.dz.assign(n, 0);
    p.offset.assign(n, 0);
    kernel->distance.assign(n, 0.0f);
    kernel->weight.assign(n, 0.0f);
    return kernel.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ZTR_KERNEL* ZTR_NewSphericalKernel(float radius) {
  if (!std::isfinite(radius) || radius < 1.0f || radius > ZTR_MAX_KERNEL_RADIUS) return nullptr;
  const int32_t n = static_cast<int32_t>(radius);  // truncation toward zero
  const int32_t reach = n + 1;
  const float r2 = radius * radius;

  struct Candidate {
    int32_t squared;
    int32_t dx, dy, dz;
  };
  try {
    // Collected in scan order (dz outermost, dx innermost); a stable sort by squared
    // length then yields whole shells in scan order.
    std::vector<Candidate> inside;
    for (int32_t dz = -reach; dz <= reach; ++dz) {
      for (int32_t dy = -reach; dy <= reach; ++dy) {
        for (int32_t dx = -reach; dx <= reach; ++dx) {
          const int32_t squared = dx * dx + dy * dy + dz * dz;
          if (static_cast<float>(squared) <= r2) inside.push_back({squared, dx, dy, dz});
        }
      }
    }
    std::stable_sort(inside.begin(), inside.end(),
                     [](const Candidate& a, const Candidate& b) { return a.squared < b.squared; });

    KernelPtr kernel(ZTR_NewKernel(static_cast<int32_t>(inside.size())));
    if (!kernel) return nullptr;
    kernel->kind = ZTR_KERNEL_KIND_SPHERE;
    kernel->radiusX = radius;
    kernel->radiusY = radius;
    kernel->halfExtent = reach;
    ZTR_POINT_LIST& p = kernel->points;
    p.count = p.capacity;
    // inside[0] is the centre, the only point of squared length 0; point 0 stays as created.
    for (size_t i = 1; i < inside.size(); ++i) {
      const Candidate& c = inside[i];
      p.dx[i] = c.dx;
      p.dy[i] = c.dy;
      p.dz[i] = c.dz;
      kernel->distance[i] = std::sqrt(static_cast<float>(c.squared));
    }
    return kernel.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ZTR_KERNEL* ZTR_NewNeighbourhoodKernel(int32_t connectivity) {
  switch (connectivity) {
    case 6:
      return ZTR_NewSphericalKernel(1.1f);
    case 18:
      return ZTR_NewSphericalKernel(1.5f);
    case 26:
      return ZTR_NewSphericalKernel(1.8f);
    default:
      return nullptr;
  }
}

void ZTR_DeleteKernel(ZTR_KERNEL* kernel) { delete kernel; }

int ZTR_ComputePointListOffsets(ZTR_POINT_LIST* points, const int32_t dims[3]) {
  if (points == nullptr || dims == nullptr || dims[0] < 1 || dims[1] < 1 || dims[2] < 1) return -1;
  if (points->count < 0 || points->count > points->capacity ||
      points->offset.size() < static_cast<size_t>(points->count)) {
    return -1;
  }
  const int64_t row = dims[0];
  const int64_t slice = row * dims[1];
  auto linear = [&](int32_t i) {
    return points->dx[i] + row * points->dy[i] + slice * points->dz[i];
  };
  for (int32_t i = 0; i < points->count; ++i) {
    const int64_t o = linear(i);
    if (o < std::numeric_limits<int32_t>::min() || o > std::numeric_limits<int32_t>::max()) {
      return -1;
    }
  }
  for (int32_t i = 0; i < points->count; ++i) points->offset[i] = static_cast<int32_t>(linear(i));
  std::copy(dims, dims + 3, points->offsetDims);
  return 0;
}

bool ZTR_IsValidKernel(const ZTR_KERNEL* kernel) {
  if (kernel == nullptr) return false;
  const ZTR_POINT_LIST& p = kernel->points;
  const auto cap = static_cast<size_t>(p.capacity);
  return p.count >= 1 && p.count <= p.capacity && p.dx.size() == cap && p.dy.size() == cap &&
         p.dz.size() == cap && p.offset.size() == cap;
}
