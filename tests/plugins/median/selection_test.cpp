// The two selection engines behind the rank filter, checked against sorting: the pruned
// compare-exchange networks and the sliding histogram.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "plugins/median/selection_network.h"
#include "plugins/median/sliding_histogram.h"

namespace {

using namespace ztr_median;

int run_network(const std::vector<Comparator>& net, int width, std::vector<int> values, int rank) {
  values.resize(width, 1 << 30);  // the wires beyond the inputs hold the largest value
  for (const Comparator& c : net) {
    if (values[c.high] < values[c.low]) std::swap(values[c.low], values[c.high]);
  }
  return values[rank];
}

TEST(SelectionNetwork, WidthIsTheNextPowerOfTwo) {
  EXPECT_EQ(network_width(1), 1);
  EXPECT_EQ(network_width(7), 8);
  EXPECT_EQ(network_width(8), 8);
  EXPECT_EQ(network_width(19), 32);
  EXPECT_EQ(network_width(32), 32);
}

TEST(SelectionNetwork, EveryRankOfEveryInputCountMatchesSorting) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> small(0, 5);  // many ties
  std::uniform_int_distribution<int> wide(-100000, 100000);
  for (int n = 1; n <= kMaxNetworkInputs; ++n) {
    // Every rank of the small networks; the extremes, the middle and a few others above.
    std::vector<int> ranks;
    for (int rank = 0; rank < n; ++rank)
      if (n <= 33 || rank < 2 || rank >= n - 2 || rank == n / 2 || rank == (n - 1) / 2 ||
          rank % 17 == 5)
        ranks.push_back(rank);
    const int trials = n <= 33 ? 40 : 12;
    for (int rank : ranks) {
      const std::vector<Comparator> net = rank_network(n, rank);
      for (int trial = 0; trial < trials; ++trial) {
        std::vector<int> v(n);
        for (int& e : v) e = trial % 2 ? small(rng) : wide(rng);
        std::vector<int> sorted = v;
        std::sort(sorted.begin(), sorted.end());
        ASSERT_EQ(run_network(net, network_width(n), v, rank), sorted[rank])
            << "n=" << n << " rank=" << rank << " trial " << trial;
      }
    }
  }
}

TEST(SelectionNetwork, PruningKeepsTheMedianNetworkSmall) {
  // A full odd-even merge sort of 8 wires has 19 compare-exchanges; the median of 7 needs
  // fewer, and never more than the full network of its width.
  EXPECT_LT(rank_network(7, 3).size(), 19u);
  EXPECT_LE(rank_network(32, 15).size(), 191u);
  EXPECT_TRUE(rank_network(1, 0).empty());
}

TEST(SelectionNetwork, VectorLanesSelectLikeTheScalarNetwork) {
  // apply_network on strips: lane l of every wire is one independent selection.
  std::mt19937 rng(77);
  for (int n : {7, 19, 81, 128}) {
    const int rank = (n - 1) / 2;
    const std::vector<Comparator> net = rank_network(n, rank);
    const int width = network_width(n);
    std::vector<int16_t> w16(size_t(width) * kNetworkStrip, 32767);
    std::vector<uint8_t> w8(size_t(width) * kNetworkStrip, 255);
    std::vector<int32_t> w32(size_t(width) * kNetworkStrip, 2147483647);
    std::vector<std::vector<int>> lanes(kNetworkStrip, std::vector<int>(n));
    for (int l = 0; l < kNetworkStrip; ++l)
      for (int i = 0; i < n; ++i) {
        lanes[l][i] = int(rng() % 256);
        w16[size_t(i) * kNetworkStrip + l] = int16_t(lanes[l][i] * 97 - 12000);
        w8[size_t(i) * kNetworkStrip + l] = uint8_t(lanes[l][i]);
        w32[size_t(i) * kNetworkStrip + l] = lanes[l][i] * 8000000 - 1000000000;
      }
    apply_network(w16.data(), net.data(), net.size());
    apply_network(w8.data(), net.data(), net.size());
    apply_network(w32.data(), net.data(), net.size());
    for (int l = 0; l < kNetworkStrip; ++l) {
      std::vector<int> sorted = lanes[l];
      std::sort(sorted.begin(), sorted.end());
      EXPECT_EQ(w8[size_t(rank) * kNetworkStrip + l], sorted[rank]) << "n=" << n << " lane " << l;
      EXPECT_EQ(w16[size_t(rank) * kNetworkStrip + l], sorted[rank] * 97 - 12000) << "n=" << n;
      EXPECT_EQ(w32[size_t(rank) * kNetworkStrip + l], sorted[rank] * 8000000 - 1000000000);
    }
  }
}

TEST(SlidingHistogram, SelectionFollowsRandomInsertsAndRemovals) {
  std::mt19937 rng(9);
  for (size_t codes : {5u, 64u, 300u, 65536u}) {
    SlidingHistogram h(codes);
    std::vector<uint32_t> window;
    std::uniform_int_distribution<uint32_t> code(0, static_cast<uint32_t>(codes - 1));
    for (int step = 0; step < 4000; ++step) {
      if (window.size() < 3 || (window.size() < 60 && rng() % 2)) {
        const uint32_t c = code(rng);
        window.push_back(c);
        h.insert(c);
      } else {
        const size_t i = rng() % window.size();
        h.remove(window[i]);
        window.erase(window.begin() + static_cast<long>(i));
      }
      std::vector<uint32_t> sorted = window;
      std::sort(sorted.begin(), sorted.end());
      const uint32_t rank = static_cast<uint32_t>(rng() % sorted.size());
      ASSERT_EQ(h.select(rank), sorted[rank]) << "codes " << codes << " step " << step;
    }
  }
}

TEST(SlidingHistogram, RepeatedCodesCountOncePerInsertion) {
  SlidingHistogram h(200);
  for (uint32_t c : {150u, 3u, 150u, 150u, 70u}) h.insert(c);
  // Ascending: 3 70 150 150 150
  EXPECT_EQ(h.select(0), 3u);
  EXPECT_EQ(h.select(1), 70u);
  EXPECT_EQ(h.select(2), 150u);
  EXPECT_EQ(h.select(4), 150u);
  h.remove(150);
  h.remove(3);
  // 70 150 150
  EXPECT_EQ(h.select(0), 70u);
  EXPECT_EQ(h.select(2), 150u);
}

}  // namespace
