// The lane loops of the selection networks, built for a baseline and an AVX2 processor and
// picked when the program loads.
#include "plugins/median/selection_network.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define ZTR_NETWORK_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZTR_NETWORK_CLONES
#endif

namespace ztr_median {
namespace {

// Two different wires: restrict lets the lane loop become vector min/max.
template <class Lane>
inline void compare_exchange(Lane* __restrict lo, Lane* __restrict hi) {
  for (int l = 0; l < kNetworkStrip; ++l) {
    const Lane a = lo[l], b = hi[l];
    lo[l] = a < b ? a : b;
    hi[l] = a < b ? b : a;
  }
}

}  // namespace

ZTR_NETWORK_CLONES void apply_network(int16_t* wires, const Comparator* network, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    compare_exchange(wires + network[i].low * kNetworkStrip, wires + network[i].high * kNetworkStrip);
  }
}

ZTR_NETWORK_CLONES void apply_network(uint8_t* wires, const Comparator* network, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    compare_exchange(wires + network[i].low * kNetworkStrip, wires + network[i].high * kNetworkStrip);
  }
}

}  // namespace ztr_median
