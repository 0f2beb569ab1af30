// Rank filters against a brute-force reference over the same kernel and mirrored border,
// for every voxel type, odd sizes, several radii and worker counts, plus the fixed cases.
#include "plugins/median/rank_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>

#include "tests/plugins/median/median_reference.h"
#include "tests/support/console_capture.h"

namespace {

using namespace median_test;

int32_t median_rank(const ZTR_KERNEL& k) {
  const int32_t n = k.points.count;
  return n % 2 ? (n - 1) / 2 : n / 2;
}

template <class T>
class RankFilterTyped : public ::testing::Test {};
using AllVoxelTypes =
    ::testing::Types<uint8_t, int8_t, uint16_t, int16_t, uint32_t, int32_t, float, double>;
TYPED_TEST_SUITE(RankFilterTyped, AllVoxelTypes);

struct Shape {
  int32_t x, y, z;
};

// Odd sizes, z below the worker count, and axes thinner than the border margin.
const Shape kShapes[] = {{7, 5, 9}, {9, 4, 3}, {5, 6, 1}, {2, 3, 2}, {11, 1, 5}};

TYPED_TEST(RankFilterTyped, MedianEqualsTheBruteForceReference) {
  using T = TypeParam;
  std::mt19937 rng(1234);
  // 7, 19 and 81 points select through networks, 147 through the sliding histogram.
  for (float r : {1.0f, 1.5f, 2.5f, 3.2f}) {
    KernelPtr k(ZTR_NewSphericalKernel(r));
    ASSERT_TRUE(k);
    for (const Shape& s : kShapes) {
      const auto in = random_values<T>(size_t(s.x) * s.y * s.z, rng);
      VolumePtr v = make_volume(s.x, s.y, s.z, in);
      ASSERT_TRUE(v);
      ZTR_MedianFilter_MT(v.get(), 0, k.get(), 4);
      const auto expected = reference_rank(in, s.x, s.y, s.z, *k, median_rank(*k));
      EXPECT_TRUE(same_values(channel_values<T>(v.get(), 0), expected))
          << "r=" << r << " size " << s.x << "x" << s.y << "x" << s.z;
    }
  }
}

TYPED_TEST(RankFilterTyped, EveryRankEqualsTheReference) {
  using T = TypeParam;
  std::mt19937 rng(99);
  KernelPtr k(ZTR_NewSphericalKernel(1.5f));  // 19 points
  ASSERT_TRUE(k);
  const auto in = random_values<T>(7 * 6 * 5, rng);
  for (int32_t rank : {1, 5, 9, 17}) {
    VolumePtr v = make_volume(7, 6, 5, in);
    ZTR_RankFilter_MT(v.get(), 0, k.get(), rank, 3);
    EXPECT_TRUE(same_values(channel_values<T>(v.get(), 0), reference_rank(in, 7, 6, 5, *k, rank)))
        << "rank " << rank;
  }
}

TYPED_TEST(RankFilterTyped, RanksOfALargeKernelEqualTheReference) {
  using T = TypeParam;
  std::mt19937 rng(21);
  KernelPtr k(ZTR_NewSphericalKernel(3.5f));  // 179 points
  ASSERT_TRUE(k);
  ASSERT_GT(k->points.count, 128);
  const auto in = random_values<T>(9 * 7 * 5, rng);
  for (int32_t rank : {1, 20, 100, 177}) {
    VolumePtr v = make_volume(9, 7, 5, in);
    ZTR_RankFilter_MT(v.get(), 0, k.get(), rank, 4);
    EXPECT_TRUE(same_values(channel_values<T>(v.get(), 0), reference_rank(in, 9, 7, 5, *k, rank)))
        << "rank " << rank;
  }
}

TYPED_TEST(RankFilterTyped, MinimumAndMaximumCompareInTheChannelsOwnType) {
  using T = TypeParam;
  std::mt19937 rng(7);
  KernelPtr k(ZTR_NewSphericalKernel(2.5f));
  ASSERT_TRUE(k);
  const auto in = random_values<T>(9 * 5 * 4, rng);
  VolumePtr lo = make_volume(9, 5, 4, in);
  VolumePtr hi = make_volume(9, 5, 4, in);
  ZTR_MinimumFilter_MT(lo.get(), 0, k.get(), 4);
  ZTR_MaximumFilter_MT(hi.get(), 0, k.get(), 4);
  EXPECT_TRUE(same_values(channel_values<T>(lo.get(), 0), reference_extreme(in, 9, 5, 4, *k, true)));
  EXPECT_TRUE(same_values(channel_values<T>(hi.get(), 0), reference_extreme(in, 9, 5, 4, *k, false)));
}

TYPED_TEST(RankFilterTyped, ConstantVolumeStaysConstant) {
  using T = TypeParam;
  const T value = static_cast<T>(std::numeric_limits<T>::max() / 3);
  const std::vector<T> in(6 * 7 * 5, value);
  KernelPtr k(ZTR_NewSphericalKernel(2.5f));
  VolumePtr v = make_volume(6, 7, 5, in);
  ZTR_MedianFilter_MT(v.get(), 0, k.get(), 4);
  for (T e : channel_values<T>(v.get(), 0)) ASSERT_EQ(e, static_cast<T>(static_cast<float>(value)));
}

TYPED_TEST(RankFilterTyped, RampAlongXKeepsItsValuesUpToTheFaces) {
  using T = TypeParam;
  // Interior voxels see a symmetric ramp; at the faces the repeated edge voxel outweighs the
  // far side, so the edge values survive too.
  std::vector<T> in(9 * 4 * 5);
  for (int k = 0; k < 5; ++k)
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 9; ++i) in[i + 9 * (j + 4 * k)] = static_cast<T>(10 * i + 3);
  for (float r : {1.0f, 2.5f}) {
    KernelPtr k(ZTR_NewSphericalKernel(r));
    VolumePtr v = make_volume(9, 4, 5, in);
    ZTR_MedianFilter_MT(v.get(), 0, k.get(), 4);
    EXPECT_EQ(channel_values<T>(v.get(), 0), in) << "r=" << r;
  }
}

TYPED_TEST(RankFilterTyped, IsolatedBrightVoxelIsRemovedAtRadiusOne) {
  using T = TypeParam;
  std::vector<T> in(5 * 5 * 5, T(2));
  in[2 + 5 * (2 + 5 * 2)] = T(100);
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  VolumePtr v = make_volume(5, 5, 5, in);
  ZTR_MedianFilter_MT(v.get(), 0, k.get(), 4);
  EXPECT_EQ(channel_values<T>(v.get(), 0), std::vector<T>(in.size(), T(2)));
}

TEST(RankFilter, SevenPointNeighbourhoodOfOneToSevenGivesFour) {
  // Centre (2,2,2) holds 5; its six face neighbours hold 1, 2, 3, 4, 6, 7 in some order.
  std::vector<int16_t> in(5 * 5 * 5, 0);
  auto at = [&](int i, int j, int k) -> int16_t& { return in[i + 5 * (j + 5 * k)]; };
  at(2, 2, 2) = 5;
  at(1, 2, 2) = 7;
  at(3, 2, 2) = 1;
  at(2, 1, 2) = 6;
  at(2, 3, 2) = 2;
  at(2, 2, 1) = 4;
  at(2, 2, 3) = 3;
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  VolumePtr v = make_volume(5, 5, 5, in);
  ZTR_MedianFilter_MT(v.get(), 0, k.get(), 4);
  EXPECT_EQ(ZTR_Voxel<int16_t>(v.get(), 0, 2, 2, 2), 4);
}

TEST(RankFilter, ResultDoesNotDependOnTheWorkerCount) {
  std::mt19937 rng(5);
  const auto in = random_values<uint16_t>(8 * 7 * 6, rng);
  KernelPtr k(ZTR_NewSphericalKernel(2.0f));
  VolumePtr one = make_volume(8, 7, 6, in);
  ZTR_MedianFilter_MT(one.get(), 0, k.get(), 1);
  const auto expected = reference_rank(in, 8, 7, 6, *k, median_rank(*k));
  EXPECT_EQ(channel_values<uint16_t>(one.get(), 0), expected);
  for (int32_t workers : {-5, 0, 2, 4, 5, 6, 9, 1 << 30}) {
    VolumePtr v = make_volume(8, 7, 6, in);
    ZTR_MedianFilter_MT(v.get(), 0, k.get(), workers);
    EXPECT_EQ(channel_values<uint16_t>(v.get(), 0), expected) << workers << " workers";
  }
}

// A worker that cannot start must not leave its slab at zero: the calling thread filters it.
// Each path (extremes, network, sliding histogram, float codes) with one or every start refused.
TEST(RankFilter, SlabsWhoseWorkerCannotStartAreFilteredAnyway) {
  struct Case {
    float radius;
    bool minimum;
    bool float_channel;
    std::function<int(int)> refuse;
  };
  const auto second = [](int slab) { return slab == 1 ? 11 : 0; };
  const auto every = [](int) { return 11; };
  const Case cases[] = {{1.0f, true, false, second},  {1.0f, false, false, second},
                        {3.0f, false, false, every},  {1.0f, false, true, every},
                        {4.0f, false, true, second}};
  std::mt19937 rng(9);
  const auto ints = random_values<uint16_t>(8 * 7 * 6, rng);
  const auto floats = random_values<float>(8 * 7 * 6, rng);
  for (const Case& c : cases) {
    KernelPtr k(ZTR_NewSphericalKernel(c.radius));
    const int32_t rank = c.minimum ? 0 : median_rank(*k);
    VolumePtr v = c.float_channel ? make_volume(8, 7, 6, floats) : make_volume(8, 7, 6, ints);
    ztr::test::ConsoleCapture console;
    ztr_median::rank_filter(v.get(), 0, k.get(), rank, {4, c.refuse});
    const std::string text = console.finish();
    EXPECT_NE(text.find("Warning: thread creation err (11)\n"), std::string::npos) << text;
    if (c.float_channel) {
      EXPECT_TRUE(same_values(channel_values<float>(v.get(), 0),
                              reference_rank(floats, 8, 7, 6, *k, rank)))
          << "radius " << c.radius;
    } else {
      EXPECT_EQ(channel_values<uint16_t>(v.get(), 0), reference_rank(ints, 8, 7, 6, *k, rank))
          << "radius " << c.radius << (c.minimum ? " minimum" : " median");
    }
  }
}

TEST(RankFilter, ThirtyTwoBitIntegersAreRankedAtFloatPrecision) {
  // 2^24 + 1 is not a float; it ranks and returns as 2^24. The extremes stay exact.
  const std::vector<int32_t> in(4 * 4 * 4, 16777217);
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  VolumePtr med = make_volume(4, 4, 4, in);
  ZTR_MedianFilter_MT(med.get(), 0, k.get(), 4);
  EXPECT_EQ(ZTR_Voxel<int32_t>(med.get(), 0, 1, 2, 3), 16777216);
  VolumePtr lo = make_volume(4, 4, 4, in);
  ZTR_MinimumFilter_MT(lo.get(), 0, k.get(), 4);
  EXPECT_EQ(ZTR_Voxel<int32_t>(lo.get(), 0, 1, 2, 3), 16777217);
}

TEST(RankFilter, ValuesThatRoundPastTheTypeLimitSaturateInsteadOfWrapping) {
  // The largest 32-bit values round up to 2^32 and 2^31 as floats.
  const std::vector<uint32_t> u(3 * 3 * 3, std::numeric_limits<uint32_t>::max());
  const std::vector<int32_t> s(3 * 3 * 3, std::numeric_limits<int32_t>::max());
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  VolumePtr vu = make_volume(3, 3, 3, u);
  VolumePtr vs = make_volume(3, 3, 3, s);
  ZTR_MedianFilter_MT(vu.get(), 0, k.get(), 4);
  ZTR_MedianFilter_MT(vs.get(), 0, k.get(), 4);
  EXPECT_EQ(channel_values<uint32_t>(vu.get(), 0), u);
  EXPECT_EQ(channel_values<int32_t>(vs.get(), 0), s);
}

TEST(RankFilter, NotANumberRanksAboveEveryValue) {
  // Neighbourhood 1..6 and a NaN centre: ascending 1 2 3 4 5 6 NaN, element 3 is 4.
  std::vector<float> in(3 * 3 * 3, 0.0f);
  auto at = [&](int i, int j, int k) -> float& { return in[i + 3 * (j + 3 * k)]; };
  at(1, 1, 1) = std::numeric_limits<float>::quiet_NaN();
  at(0, 1, 1) = 1;
  at(2, 1, 1) = 2;
  at(1, 0, 1) = 3;
  at(1, 2, 1) = 4;
  at(1, 1, 0) = 5;
  at(1, 1, 2) = 6;
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  VolumePtr v = make_volume(3, 3, 3, in);
  ZTR_MedianFilter_MT(v.get(), 0, k.get(), 4);
  EXPECT_EQ(ZTR_Voxel<float>(v.get(), 0, 1, 1, 1), 4.0f);
  EXPECT_TRUE(same_values(channel_values<float>(v.get(), 0), reference_rank(in, 3, 3, 3, *k, 3)));
}

TEST(RankFilter, FloatChannelWithManyDistinctValuesMatchesTheReference) {
  // More distinct values than 16-bit codes can hold.
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> any(-1.0f, 1.0f);
  std::vector<float> in(48 * 46 * 31);
  for (float& e : in) e = any(rng);
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  VolumePtr v = make_volume(48, 46, 31, in);
  ZTR_MedianFilter_MT(v.get(), 0, k.get(), 4);
  EXPECT_TRUE(same_values(channel_values<float>(v.get(), 0), reference_rank(in, 48, 46, 31, *k, 3)));
}

TEST(RankFilter, ManyDistinctValuesWithALargeKernelMatchTheReference) {
  std::mt19937 rng(31);
  std::uniform_real_distribution<double> any(-5.0, 5.0);
  std::vector<double> in(41 * 41 * 40);
  for (double& e : in) e = any(rng);
  KernelPtr k(ZTR_NewSphericalKernel(3.2f));  // 147 points
  VolumePtr v = make_volume(41, 41, 40, in);
  ZTR_RankFilter_MT(v.get(), 0, k.get(), 50, 4);
  EXPECT_TRUE(same_values(channel_values<double>(v.get(), 0), reference_rank(in, 41, 41, 40, *k, 50)));
}

TEST(RankFilter, DoubleChannelIsReturnedAtFloatPrecision) {
  const std::vector<double> in(3 * 3 * 3, 0.1);
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  VolumePtr v = make_volume(3, 3, 3, in);
  ZTR_MedianFilter_MT(v.get(), 0, k.get(), 4);
  EXPECT_EQ(ZTR_Voxel<double>(v.get(), 0, 0, 0, 0), static_cast<double>(0.1f));
}

TEST(RankFilter, OnlyTheFilteredChannelChangesAndKeepsItsTypeAndAttribute) {
  const VolumeHeader header{5, 4, 3, 3};
  const int32_t types[3] = {ZTR_TYPE_UINT8, ZTR_TYPE_UINT32, ZTR_TYPE_FLOAT32};
  const int32_t attributes[3] = {ZTR_ATTRIBUTE_PLAIN, ZTR_ATTRIBUTE_RGBA, ZTR_ATTRIBUTE_PLAIN};
  VolumePtr v(ZTR_NewRawVolumeData(header, types, attributes));
  ASSERT_TRUE(v);
  std::mt19937 rng(11);
  const auto c0 = random_values<uint8_t>(60, rng);
  const auto c1 = random_values<uint32_t>(60, rng);
  const auto c2 = random_values<float>(60, rng);
  std::memcpy(v->data[0], c0.data(), 60);
  std::memcpy(v->data[1], c1.data(), 60 * 4);
  std::memcpy(v->data[2], c2.data(), 60 * 4);
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  ZTR_MedianFilter_MT(v.get(), 1, k.get(), 4);
  EXPECT_EQ(v->header->x, 5);
  EXPECT_EQ(v->header->z, 3);
  EXPECT_EQ(v->header->channels, 3);
  EXPECT_EQ(v->types[1], ZTR_TYPE_UINT32);
  EXPECT_EQ(v->attributes[1], ZTR_ATTRIBUTE_RGBA);
  EXPECT_EQ(channel_values<uint8_t>(v.get(), 0), c0);
  EXPECT_TRUE(same_values(channel_values<float>(v.get(), 2), c2));
  EXPECT_EQ(channel_values<uint32_t>(v.get(), 1), reference_rank(c1, 5, 4, 3, *k, 3));
}

TEST(RankFilter, KernelOffsetsAreLeftComputedForThePaddedSize) {
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));  // margin 2
  VolumePtr v = make_volume(10, 8, 6, std::vector<uint8_t>(480, 1));
  ZTR_MedianFilter_MT(v.get(), 0, k.get(), 4);
  EXPECT_EQ(k->points.offsetDims[0], 14);
  EXPECT_EQ(k->points.offsetDims[1], 12);
  EXPECT_EQ(k->points.offsetDims[2], 10);
  EXPECT_EQ(k->points.offset[6], 14 * 12);  // (0, 0, 1)
}

TEST(RankFilter, HandBuiltKernelsWithEvenCountsDuplicatesAndFarPointsMatchTheReference) {
  // Four points, one of them twice and one beyond the stated half extent of 1.
  KernelPtr k(ZTR_NewKernel(4));
  ASSERT_TRUE(k);
  k->points.count = 4;
  k->points.dx[1] = 3;
  k->points.dy[2] = -1;
  k->points.dz[2] = 1;
  k->points.dx[3] = 3;
  std::mt19937 rng(8);
  const auto in = random_values<int16_t>(6 * 5 * 4, rng);
  VolumePtr v = make_volume(6, 5, 4, in);
  ZTR_MedianFilter_MT(v.get(), 0, k.get(), 4);  // even count: rank 2
  EXPECT_EQ(channel_values<int16_t>(v.get(), 0), reference_rank(in, 6, 5, 4, *k, 2));
  VolumePtr w = make_volume(6, 5, 4, in);
  ZTR_RankFilter_MT(w.get(), 0, k.get(), 1, 2);
  EXPECT_EQ(channel_values<int16_t>(w.get(), 0), reference_rank(in, 6, 5, 4, *k, 1));
}

TEST(RankFilter, CentreOnlyKernelLeavesTheChannelAsItWas) {
  KernelPtr k(ZTR_NewKernel(1));
  std::mt19937 rng(2);
  const auto in = random_values<float>(5 * 5 * 2, rng);
  VolumePtr v = make_volume(5, 5, 2, in);
  ZTR_MedianFilter_MT(v.get(), 0, k.get(), 4);
  EXPECT_TRUE(same_values(channel_values<float>(v.get(), 0), in));
}

TEST(RankFilterFailures, MissingKernelReportsAndLeavesTheChannel) {
  const std::vector<uint8_t> in = {1, 9, 3, 7, 5, 2, 8, 4};
  VolumePtr v = make_volume(2, 2, 2, in);
  for (auto filter : {ZTR_MedianFilter_MT, ZTR_MinimumFilter_MT, ZTR_MaximumFilter_MT}) {
    ztr::test::ConsoleCapture console;
    filter(v.get(), 0, nullptr, 4);
    EXPECT_EQ(console.finish(),
              "ZTR_RankFilter_MT: Invalid kernel(==NULL) error\n");
  }
  ztr::test::ConsoleCapture console;
  ZTR_RankFilter_MT(v.get(), 0, nullptr, 0, 4);
  EXPECT_EQ(console.finish(),
            "ZTR_RankFilter_MT: Invalid kernel(==NULL) error\n");
  EXPECT_EQ(channel_values<uint8_t>(v.get(), 0), in);
}

TEST(RankFilterFailures, BadChannelOrRankIsRefusedWithAMessage) {
  const std::vector<uint8_t> in = {1, 9, 3, 7, 5, 2, 8, 4};
  VolumePtr v = make_volume(2, 2, 2, in);
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  for (int32_t channel : {-1, 1}) {
    ztr::test::ConsoleCapture console;
    ZTR_MedianFilter_MT(v.get(), channel, k.get(), 4);
    EXPECT_EQ(console.finish(),
              "ZTR_RankFilter_MT: invalid volume or channel error\n");
  }
  ztr::test::ConsoleCapture console;
  ZTR_MedianFilter_MT(nullptr, 0, k.get(), 4);
  EXPECT_EQ(console.finish(),
            "ZTR_RankFilter_MT: invalid volume or channel error\n");
  for (int32_t rank : {-1, 7}) {
    ztr::test::ConsoleCapture console2;
    ZTR_RankFilter_MT(v.get(), 0, k.get(), rank, 4);
    EXPECT_EQ(console2.finish(),
              "ZTR_RankFilter_MT: rank " + std::to_string(rank) +
                  " outside the kernel's 7 points error\n");
  }
  EXPECT_EQ(channel_values<uint8_t>(v.get(), 0), in);
}

TEST(RankFilterFailures, KernelTooWideToPadIsReportedAsExhaustedMemory) {
  KernelPtr k(ZTR_NewKernel(2));
  k->points.count = 2;
  k->points.dz[1] = 1 << 30;
  const std::vector<uint8_t> in = {1, 9, 3, 7, 5, 2, 8, 4};
  VolumePtr v = make_volume(2, 2, 2, in);
  ztr::test::ConsoleCapture console;
  ZTR_RankFilter_MT(v.get(), 0, k.get(), 1, 4);
  EXPECT_EQ(console.finish(), "ZTR_RankFilter_MT: not enough memory error\n");
  EXPECT_EQ(channel_values<uint8_t>(v.get(), 0), in);
}

TEST(RankFilter, SuccessfulFilteringWritesNothing) {
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  VolumePtr v = make_volume(3, 3, 3, std::vector<int8_t>(27, -4));
  ztr::test::ConsoleCapture console;
  ZTR_MedianFilter_MT(v.get(), 0, k.get(), 4);
  EXPECT_EQ(console.finish(), "");
}

}  // namespace
