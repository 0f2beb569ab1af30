// Test helpers for the rank filters: a brute-force reference rank over any kernel with a
// mirrored border, random channel contents per voxel type, and volume builders.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "plugins/median/kernel.h"
#include "sdk/volume/raw_volume.h"

namespace median_test {

template <class T>
struct TypeCode;
template <> struct TypeCode<uint8_t> { static constexpr int32_t value = ZTR_TYPE_UINT8; };
template <> struct TypeCode<int8_t> { static constexpr int32_t value = ZTR_TYPE_INT8; };
template <> struct TypeCode<uint16_t> { static constexpr int32_t value = ZTR_TYPE_UINT16; };
template <> struct TypeCode<int16_t> { static constexpr int32_t value = ZTR_TYPE_INT16; };
template <> struct TypeCode<uint32_t> { static constexpr int32_t value = ZTR_TYPE_UINT32; };
template <> struct TypeCode<int32_t> { static constexpr int32_t value = ZTR_TYPE_INT32; };
template <> struct TypeCode<float> { static constexpr int32_t value = ZTR_TYPE_FLOAT32; };
template <> struct TypeCode<double> { static constexpr int32_t value = ZTR_TYPE_FLOAT64; };

// Folds an index back into 0..n-1 by reflecting about the faces, the edge voxel repeated.
inline int64_t fold(int64_t i, int64_t n) {
  while (i < 0 || i >= n) {
    if (i < 0) i = -1 - i;
    if (i >= n) i = 2 * n - 1 - i;
  }
  return i;
}

// Ascending order of floats with every NaN after everything else.
inline bool float_less(float a, float b) {
  if (std::isnan(a)) return false;
  if (std::isnan(b)) return true;
  return a < b;
}

// Float back to the channel type: truncation toward zero, clamped to the type's range.
template <class T>
T to_type(float f) {
  if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(f);
  } else {
    const double d = f;
    if (d <= double(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (d >= double(std::numeric_limits<T>::max()) + 1.0) return std::numeric_limits<T>::max();
    return static_cast<T>(std::trunc(d));
  }
}

// Element `rank` of the ascending float values under the kernel around every voxel.
template <class T>
std::vector<T> reference_rank(const std::vector<T>& in, int64_t x, int64_t y, int64_t z,
                              const ZTR_KERNEL& k, int32_t rank) {
  const ZTR_POINT_LIST& p = k.points;
  std::vector<T> out(in.size());
  std::vector<float> values(static_cast<size_t>(p.count));
  for (int64_t kk = 0; kk < z; ++kk)
    for (int64_t j = 0; j < y; ++j)
      for (int64_t i = 0; i < x; ++i) {
        for (int32_t q = 0; q < p.count; ++q) {
          const int64_t si = fold(i + p.dx[q], x), sj = fold(j + p.dy[q], y),
                        sk = fold(kk + p.dz[q], z);
          values[q] = static_cast<float>(in[si + x * (sj + y * sk)]);
        }
        std::sort(values.begin(), values.end(), float_less);
        out[i + x * (j + y * kk)] = to_type<T>(values[rank]);
      }
  return out;
}

// Smallest or largest value in the channel's own type (rank 0 / count-1).
template <class T>
std::vector<T> reference_extreme(const std::vector<T>& in, int64_t x, int64_t y, int64_t z,
                                 const ZTR_KERNEL& k, bool minimum) {
  const ZTR_POINT_LIST& p = k.points;
  std::vector<T> out(in.size());
  for (int64_t kk = 0; kk < z; ++kk)
    for (int64_t j = 0; j < y; ++j)
      for (int64_t i = 0; i < x; ++i) {
        T best{};
        for (int32_t q = 0; q < p.count; ++q) {
          const T v = in[fold(i + p.dx[q], x) + x * (fold(j + p.dy[q], y) + y * fold(kk + p.dz[q], z))];
          if (q == 0 || (minimum ? v < best : v > best)) best = v;
        }
        out[i + x * (j + y * kk)] = best;
      }
  return out;
}

// Random contents over the whole range of integer types (with extra weight on the limits)
// and over a wide signed range, with zeros of both signs, for floating types.
template <class T>
std::vector<T> random_values(size_t n, std::mt19937& rng) {
  std::vector<T> v(n);
  if constexpr (std::is_integral_v<T>) {
    std::uniform_int_distribution<int64_t> any(std::numeric_limits<T>::min(),
                                               std::numeric_limits<T>::max());
    std::uniform_int_distribution<int> pick(0, 9);
    for (T& e : v) {
      const int p = pick(rng);
      e = p == 0 ? std::numeric_limits<T>::min()
                 : p == 1 ? std::numeric_limits<T>::max() : static_cast<T>(any(rng));
    }
  } else {
    std::uniform_real_distribution<double> any(-1e6, 1e6);
    std::uniform_int_distribution<int> pick(0, 19);
    for (T& e : v) {
      const int p = pick(rng);
      e = p == 0 ? T(0.0) : p == 1 ? T(-0.0) : static_cast<T>(any(rng));
    }
  }
  return v;
}

template <class T>
VolumePtr make_volume(int32_t x, int32_t y, int32_t z, const std::vector<T>& values) {
  const int32_t dims[3] = {x, y, z};
  VolumePtr v(ZTR_NewSingleChannelRawVolumeData(dims, TypeCode<T>::value, ZTR_ATTRIBUTE_PLAIN));
  if (v) std::memcpy(v->data[0], values.data(), values.size() * sizeof(T));
  return v;
}

template <class T>
std::vector<T> channel_values(const RawVolumeData* v, int32_t c) {
  const VolumeHeader& h = *v->header;
  const T* p = static_cast<const T*>(v->data[c]);
  return std::vector<T>(p, p + int64_t(h.x) * h.y * h.z);
}

// Equal as values; +0 and -0 count as equal, two NaNs as equal.
template <class T>
bool same_values(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if constexpr (std::is_floating_point_v<T>) {
      if (std::isnan(a[i]) && std::isnan(b[i])) continue;
    }
    if (!(a[i] == b[i])) return false;
  }
  return true;
}

}  // namespace median_test
