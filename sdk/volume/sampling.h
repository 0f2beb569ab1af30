// Reading a channel at a fractional voxel position (nearest and trilinear), and resampling
// volumes and images to another grid size. The samplers only read and may run in many
// threads at once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "sdk/volume/raw_volume.h"
#include "sdk/volume/voxel_conversion.h"

// Result type of the samplers: integer voxels come back as a 32-bit integer (unsigned for
// the unsigned 32-bit type, so that values of 2^31 and above are not turned negative);
// floating voxels as their own type.
template <class T>
using ZTR_SampleType = std::conditional_t<
    std::is_floating_point_v<T>, T,
    std::conditional_t<std::is_same_v<T, uint32_t>, uint32_t, int32_t>>;

namespace ztr_volume_detail {

struct LinearAxis {
  int64_t low;
  int64_t high;
  float fraction;
};

// Cell and fraction along one axis of n voxels. Below 0 the cell is 0; a coordinate in
// (-1, 0) truncates to 0 and keeps its negative fraction (linear extrapolation). From n-1
// on, the last cell is used with fraction 1. An axis of one voxel is constant.
inline LinearAxis linear_axis(float p, int32_t n) {
  if (n <= 1) return {0, 0, 0.0f};
  int64_t i = truncate_to_int64(p);
  if (i >= n - 1) {
    i = n - 2;
    p = static_cast<float>(n - 1);
  }
  if (i < 0) {
    i = 0;
    p = 0.0f;
  }
  return {i, i + 1, p - static_cast<float>(i)};
}

inline float blend(float a, float b, float f) { return a * (1.0f - f) + b * f; }

}  // namespace ztr_volume_detail

// Value of the voxel whose index is the position truncated toward zero; 0 outside the grid.
template <class T>
ZTR_SampleType<T> ZTR_SampleNearest(const T* data, int32_t x, int32_t y, int32_t z, float px,
                                    float py, float pz) {
  using ztr_volume_detail::truncate_to_int64;
  const int64_t i = truncate_to_int64(px);
  const int64_t j = truncate_to_int64(py);
  const int64_t k = truncate_to_int64(pz);
  if (i < 0 || i >= x || j < 0 || j >= y || k < 0 || k >= z) return ZTR_SampleType<T>{0};
  return static_cast<ZTR_SampleType<T>>(data[i + int64_t{x} * (j + int64_t{y} * k)]);
}

// Trilinear interpolation in 32-bit float over the cell found per axis by linear_axis;
// integer types return the result truncated toward zero. Meant for axes of 2 voxels or more;
// an axis of 1 voxel is read as constant along it.
template <class T>
ZTR_SampleType<T> ZTR_SampleLinear(const T* data, int32_t x, int32_t y, int32_t z, float px,
                                   float py, float pz) {
  using namespace ztr_volume_detail;
  const LinearAxis ax = linear_axis(px, x);
  const LinearAxis ay = linear_axis(py, y);
  const LinearAxis az = linear_axis(pz, z);
  const int64_t row = x;
  const int64_t slice = int64_t{x} * y;
  auto at = [&](int64_t i, int64_t j, int64_t k) { return to_float(data[i + row * j + slice * k]); };
  const float c00 = blend(at(ax.low, ay.low, az.low), at(ax.high, ay.low, az.low), ax.fraction);
  const float c10 = blend(at(ax.low, ay.high, az.low), at(ax.high, ay.high, az.low), ax.fraction);
  const float c01 = blend(at(ax.low, ay.low, az.high), at(ax.high, ay.low, az.high), ax.fraction);
  const float c11 =
      blend(at(ax.low, ay.high, az.high), at(ax.high, ay.high, az.high), ax.fraction);
  const float c0 = blend(c00, c10, ay.fraction);
  const float c1 = blend(c01, c11, ay.fraction);
  return store_as<ZTR_SampleType<T>>(blend(c0, c1, az.fraction));
}

// Trilinear interpolation of a packed RGBA channel, each 8-bit component separately. Every
// coordinate is clamped to 0..n-1 (no extrapolation), so components stay within 0..255.
uint32_t ZTR_SampleLinearRgba(const uint32_t* data, int32_t x, int32_t y, int32_t z, float px,
                              float py, float pz);

// Samples channel `channel` by its type: mode 0 nearest, 1 linear (a packed RGBA channel
// gives its packed value). 0 for an invalid channel, type or mode.
double ZTR_SampleChannel(const RawVolumeData* volume, int32_t channel, float px, float py,
                         float pz, int mode);

// Resamples every channel to new_size (x, y, z): output voxel (i, j, k) samples the source at
// (i(X-1)/(X'-1), j(Y-1)/(Y'-1), k(Z-1)/(Z'-1)); mode 0 nearest, mode 1 linear (packed RGBA
// channels per component). Output slices 0..Z'-2 are sampled and the last output slice
// repeats slice Z'-2 (a single output slice is sampled at z = 0). Returns 0, or -1 for
// another mode, a size below 1, or when memory runs out (volume unchanged).
int ZTR_ResampleRawVolumeData(RawVolumeData* volume, const int32_t new_size[3], int mode);
// The same for an image, new_size (x, y); every output row is sampled.
int ZTR_ResampleRawImageData(RawImageData* image, const int32_t new_size[2], int mode);
