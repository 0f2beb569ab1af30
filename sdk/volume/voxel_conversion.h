// Typed voxel reads and writes shared by the conversion loops and the samplers.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "sdk/volume/raw_volume.h"

namespace ztr_volume_detail {

// Calls f with a value-initialised element of the C++ type stored under `type`; false for
// an invalid code.
template <class F>
bool visit_voxel_type(int32_t type, F&& f) {
  switch (type) {
    case ZTR_TYPE_UINT8: f(uint8_t{}); return true;
    case ZTR_TYPE_INT8: f(int8_t{}); return true;
    case ZTR_TYPE_UINT16: f(uint16_t{}); return true;
    case ZTR_TYPE_INT16: f(int16_t{}); return true;
    case ZTR_TYPE_UINT32: f(uint32_t{}); return true;
    case ZTR_TYPE_INT32: f(int32_t{}); return true;
    case ZTR_TYPE_FLOAT32: f(float{}); return true;
    case ZTR_TYPE_FLOAT64: f(double{}); return true;
    default: return false;
  }
}

// A 64-bit float narrowed to 32 bits; magnitudes beyond the float range become infinities
// (spelled out so that no conversion is out of range).
inline float narrow_to_float(double v) {
  constexpr double kMax = static_cast<double>(std::numeric_limits<float>::max());
  if (v > kMax) return v < kMax * (1.0 + 0x1p-25) ? std::numeric_limits<float>::max()
                                                  : std::numeric_limits<float>::infinity();
  if (v < -kMax) return v > -kMax * (1.0 + 0x1p-25) ? -std::numeric_limits<float>::max()
                                                    : -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);
}

template <class T>
inline float to_float(T v) {
  if constexpr (std::is_same_v<T, double>) {
    return narrow_to_float(v);
  } else {
    return static_cast<float>(v);
  }
}

// Truncates toward zero to a 64-bit integer: NaN gives 0, values beyond the int64 range
// saturate. Every float in (-2^63, 2^63) converts exactly after truncation.
template <class F>
inline int64_t truncate_to_int64(F v) {
  if (!(v == v)) return 0;
  if (v >= static_cast<F>(9223372036854775808.0)) return std::numeric_limits<int64_t>::max();
  if (v < static_cast<F>(-9223372036854775808.0)) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(v);
}

// Stores a float into type T: integer types truncate toward zero and keep the low-order
// bytes of the truncated integer (two's complement wrap); float types take the value.
template <class T, class F>
inline T store_as(F v) {
  if constexpr (std::is_floating_point_v<T>) {
    if constexpr (std::is_same_v<T, float> && std::is_same_v<F, double>) {
      return narrow_to_float(v);
    } else {
      return static_cast<T>(v);
    }
  } else {
    return static_cast<T>(static_cast<uint64_t>(truncate_to_int64(v)));
  }
}

}  // namespace ztr_volume_detail
