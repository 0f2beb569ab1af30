// Rank selection for small kernels by a compare-exchange network run on many voxels at
// once: each wire holds one kernel point's values for a strip of consecutive voxels, so
// every compare-exchange is a lane-wise min/max that the compiler turns into vector code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ztr_median {

struct Comparator {
  uint16_t low;   // receives the smaller value
  uint16_t high;  // receives the larger value
};

// Largest point count the networks are used for (the 81-point ball of radius 2.5 included;
// beyond that the sliding histogram needs fewer operations per voxel).
inline constexpr int kMaxNetworkInputs = 128;

// Voxels handled side by side: one strip of each wire.
inline constexpr int kNetworkStrip = 32;

// Wires of the sorting network for n inputs: the next power of two.
inline int network_width(int n) {
  int p = 1;
  while (p < n) p <<= 1;
  return p;
}

// Odd-even merge sort over network_width(n) wires, with the wires from n on holding the
// largest value, cut down to the compare-exchanges that can change wire `rank`.
inline std::vector<Comparator> rank_network(int n, int rank) {
  const int width = network_width(n);
  std::vector<Comparator> full;
  for (int p = 1; p < width; p <<= 1)
    for (int k = p; k >= 1; k >>= 1)
      for (int j = k % p; j + k < width; j += 2 * k)
        for (int i = 0; i < k && i + j + k < width; ++i)
          if ((i + j) / (2 * p) == (i + j + k) / (2 * p))
            full.push_back({uint16_t(i + j), uint16_t(i + j + k)});

  // Forward: a compare-exchange whose high wire is known to hold the largest value does
  // nothing.
  std::vector<bool> largest(width, false);
  for (int w = n; w < width; ++w) largest[w] = true;
  std::vector<Comparator> useful;
  for (const Comparator& c : full) {
    if (largest[c.high]) continue;
    if (largest[c.low]) {
      largest[c.low] = false;
      largest[c.high] = true;
    }
    useful.push_back(c);
  }
  // Backward: keep what feeds wire `rank`.
  std::vector<bool> needed(width, false);
  needed[rank] = true;
  std::vector<Comparator> kept;
  for (auto it = useful.rbegin(); it != useful.rend(); ++it) {
    if (!needed[it->low] && !needed[it->high]) continue;
    needed[it->low] = needed[it->high] = true;
    kept.push_back(*it);
  }
  return std::vector<Comparator>(kept.rbegin(), kept.rend());
}

// Runs the compare-exchanges lane by lane over strips of wires (wire w is
// wires[w * kNetworkStrip ...]). Vector code for the best instruction set the processor has.
void apply_network(int16_t* wires, const Comparator* network, size_t count);
void apply_network(uint8_t* wires, const Comparator* network, size_t count);
void apply_network(int32_t* wires, const Comparator* network, size_t count);

}  // namespace ztr_median
