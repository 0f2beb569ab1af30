// Value ranking helpers of the rank filter: conversion to and from the 32-bit float the
// values are ranked in, an order-preserving integer key for floats, and dense codes (the
// index of a value among the channel's distinct float values in ascending order).
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

namespace ztr_median {

// Unsigned key with the same order as the float; every NaN maps to one key above +inf.
inline uint32_t float_key(float f) {
  if (std::isnan(f)) f = std::numeric_limits<float>::quiet_NaN();
  const auto bits = std::bit_cast<uint32_t>(f);
  return (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
}

inline float key_float(uint32_t key) {
  const uint32_t bits = (key & 0x80000000u) ? (key & 0x7fffffffu) : ~key;
  return std::bit_cast<float>(bits);
}

// A ranked float back to the channel type: integers by truncation toward zero, saturated
// at the type's limits (a 32-bit integer near its limit rounds to a float beyond it).
template <class T>
T from_float(float f) {
  if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(f);
  } else {
    if (std::isnan(f)) return T(0);
    const double d = f;
    constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<T>::max()) + 1.0;
    if (d <= lo) return std::numeric_limits<T>::min();
    if (d >= hi) return std::numeric_limits<T>::max();
    return static_cast<T>(d);
  }
}

// Most distinct values the dense-code path handles; codes then fit 16 bits.
inline constexpr size_t kMaxDenseCodes = 65536;

// Dense codes of an 8- or 16-bit channel through a lookup table over the whole type range.
// values[code] is the float of the code's value, ascending.
template <class T>
struct SmallTypeCoding {
  static_assert(sizeof(T) <= 2 && std::is_integral_v<T>);
  static constexpr int64_t kLow = std::numeric_limits<T>::min();
  static constexpr size_t kRange = size_t(1) << (8 * sizeof(T));
  std::vector<uint16_t> lut;  // value - kLow -> code
  std::vector<float> values;

  void build(const T* data, size_t n) {
    std::vector<uint8_t> seen(kRange, 0);
    for (size_t i = 0; i < n; ++i) seen[static_cast<size_t>(int64_t(data[i]) - kLow)] = 1;
    lut.assign(kRange, 0);
    values.clear();
    for (size_t v = 0; v < kRange; ++v) {
      if (!seen[v]) continue;
      lut[v] = static_cast<uint16_t>(values.size());
      values.push_back(static_cast<float>(static_cast<T>(int64_t(v) + kLow)));
    }
  }
  uint16_t code(T v) const { return lut[static_cast<size_t>(int64_t(v) - kLow)]; }
};

// Dense codes of float keys through an open-addressing hash table; gives up (build returns
// false) when the channel holds more than kMaxDenseCodes distinct values.
class KeyCoding {
 public:
  template <class T>
  bool build(const T* data, size_t n) {
    keys_.assign(kSlots, kEmpty);
    codes_.assign(kSlots, 0);
    size_t distinct = 0;
    for (size_t i = 0; i < n; ++i) {
      const uint32_t key = float_key(static_cast<float>(data[i]));
      size_t s = slot(key);
      while (keys_[s] != kEmpty && keys_[s] != key) s = (s + 1) & (kSlots - 1);
      if (keys_[s] == kEmpty) {
        if (++distinct > kMaxDenseCodes) return false;
        keys_[s] = key;
      }
    }
    std::vector<uint32_t> sorted;
    sorted.reserve(distinct);
    for (uint32_t k : keys_)
      if (k != kEmpty) sorted.push_back(k);
    std::sort(sorted.begin(), sorted.end());
    values.resize(sorted.size());
    for (size_t c = 0; c < sorted.size(); ++c) {
      codes_[find(sorted[c])] = static_cast<uint16_t>(c);
      values[c] = key_float(sorted[c]);
    }
    return true;
  }
  template <class T>
  uint16_t code(T v) const {
    return codes_[find(float_key(static_cast<float>(v)))];
  }
  std::vector<float> values;

 private:
  // No float maps to key 0 (that would be a NaN with the sign bit, and NaNs are folded into
  // the positive quiet NaN), so 0 marks an empty slot.
  static constexpr uint32_t kEmpty = 0;
  static constexpr size_t kSlots = kMaxDenseCodes * 2;
  static size_t slot(uint32_t key) { return (key * 0x9E3779B1u) >> 15; }  // 17 bits
  size_t find(uint32_t key) const {
    size_t s = slot(key);
    while (keys_[s] != key) s = (s + 1) & (kSlots - 1);
    return s;
  }
  std::vector<uint32_t> keys_;
  std::vector<uint16_t> codes_;
};

}  // namespace ztr_median
