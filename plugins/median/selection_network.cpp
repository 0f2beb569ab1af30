// The lane loops of the selection networks, built for a baseline and an AVX2 processor; the
// AVX2 build is chosen at run time when the processor has it.
#include "plugins/median/selection_network.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define ZTR_NETWORK_AVX2 1
#endif

namespace ztr_median {
namespace {

// Two different wires: restrict lets the lane loop become vector min/max.
template <class Lane>
__attribute__((always_inline)) inline void compare_exchange(Lane* __restrict lo,
                                                            Lane* __restrict hi) {
  for (int l = 0; l < kNetworkStrip; ++l) {
    const Lane a = lo[l], b = hi[l];
    lo[l] = a < b ? a : b;
    hi[l] = a < b ? b : a;
  }
}

template <class Lane>
__attribute__((always_inline)) inline void run_network(Lane* wires, const Comparator* network,
                                                       size_t count) {
  for (size_t i = 0; i < count; ++i) {
    compare_exchange(wires + network[i].low * kNetworkStrip,
                     wires + network[i].high * kNetworkStrip);
  }
}

#ifdef ZTR_NETWORK_AVX2
__attribute__((target("avx2"))) void run_network_avx2(int16_t* w, const Comparator* n, size_t c) {
  run_network(w, n, c);
}
__attribute__((target("avx2"))) void run_network_avx2(uint8_t* w, const Comparator* n, size_t c) {
  run_network(w, n, c);
}
__attribute__((target("avx2"))) void run_network_avx2(int32_t* w, const Comparator* n, size_t c) {
  run_network(w, n, c);
}
bool has_avx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}
#endif

}  // namespace

void apply_network(int16_t* wires, const Comparator* network, size_t count) {
#ifdef ZTR_NETWORK_AVX2
  if (has_avx2()) return run_network_avx2(wires, network, count);
#endif
  run_network(wires, network, count);
}

void apply_network(uint8_t* wires, const Comparator* network, size_t count) {
#ifdef ZTR_NETWORK_AVX2
  if (has_avx2()) return run_network_avx2(wires, network, count);
#endif
  run_network(wires, network, count);
}

void apply_network(int32_t* wires, const Comparator* network, size_t count) {
#ifdef ZTR_NETWORK_AVX2
  if (has_avx2()) return run_network_avx2(wires, network, count);
#endif
  run_network(wires, network, count);
}

}  // namespace ztr_median
