// Neighbourhood kernels: lists of integer 3-D offsets sorted by distance, with linear
// offsets precomputed for one volume size. Built by the median plug-in and by any code
// that walks a spherical or connectivity neighbourhood.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Integer 3-D offsets with their linear offsets for the volume size in offsetDims.
// The arrays hold `capacity` entries; the first `count` are in use.
struct ZTR_POINT_LIST {
  int32_t count = 0;
  int32_t capacity = 0;
  std::vector<int32_t> dx;
  std::vector<int32_t> dy;
  std::vector<int32_t> dz;
  std::vector<int32_t> offset;      // dx + X*dy + X*Y*dz for the size below
  int32_t offsetDims[3] = {1, 1, 1};  // x, y, z the offsets were last computed for
};

enum : int32_t {
  ZTR_KERNEL_KIND_SPHERE = 0,
  ZTR_KERNEL_KIND_NEW = 2,
};

struct ZTR_KERNEL {
  int32_t kind = ZTR_KERNEL_KIND_NEW;
  float radiusX = 1.0f;
  float radiusY = 1.0f;
  int32_t halfExtent = 1;  // farthest reach along any axis: the padding margin of filters
  ZTR_POINT_LIST points;
  std::vector<float> distance;  // Euclidean length of each offset
  std::vector<float> weight;    // per-point weight of weighted kernels, zero otherwise
  float weightTotal = 0.0f;
};

// Largest radius a spherical kernel is built for (about 4.2 million points); anything
// larger is refused like an allocation failure.
inline constexpr float ZTR_MAX_KERNEL_RADIUS = 100.0f;

// New kernel with room for `capacity` points holding only the centre (count 1).
// nullptr when capacity < 1 or memory runs out. Release with ZTR_DeleteKernel.
ZTR_KERNEL* ZTR_NewKernel(int32_t capacity);

// Every integer offset within `radius` (compared in 32-bit float), in order of increasing
// distance, equal distances in z-then-y-then-x scan order. nullptr for a radius below 1.0,
// a radius that is not finite or above ZTR_MAX_KERNEL_RADIUS, or when memory runs out.
ZTR_KERNEL* ZTR_NewSphericalKernel(float radius);

// 6 -> sphere of radius 1.1, 18 -> 1.5, 26 -> 1.8; any other connectivity gives nullptr.
ZTR_KERNEL* ZTR_NewNeighbourhoodKernel(int32_t connectivity);

void ZTR_DeleteKernel(ZTR_KERNEL* kernel);  // nullptr is ignored

// Sets offset[i] = dx + X*dy + X*Y*dz for every point in use and records dims (X, Y, Z).
// 0, or -1 (list unchanged) for a null list, non-positive dims or an offset beyond 32 bits.
int ZTR_ComputePointListOffsets(ZTR_POINT_LIST* points, const int32_t dims[3]);

// True when the record is usable by the filters: 1 <= count <= capacity and every array
// holds `capacity` entries.
bool ZTR_IsValidKernel(const ZTR_KERNEL* kernel);

struct KernelDeleter {
  void operator()(ZTR_KERNEL* k) const { ZTR_DeleteKernel(k); }
};
using KernelPtr = std::unique_ptr<ZTR_KERNEL, KernelDeleter>;
