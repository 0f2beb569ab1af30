// Spherical and connectivity kernels: point sets, order, margins and linear offsets.
#include "plugins/median/kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <tuple>

namespace {

using Offset = std::tuple<int, int, int>;

std::set<Offset> points_of(const ZTR_KERNEL& k) {
  std::set<Offset> s;
  for (int i = 0; i < k.points.count; ++i) s.insert({k.points.dx[i], k.points.dy[i], k.points.dz[i]});
  return s;
}

// Every integer offset within the radius, found by scanning a box well beyond it.
std::set<Offset> ball(float r) {
  std::set<Offset> s;
  const int reach = static_cast<int>(r) + 3;
  for (int z = -reach; z <= reach; ++z)
    for (int y = -reach; y <= reach; ++y)
      for (int x = -reach; x <= reach; ++x)
        if (static_cast<float>(x * x + y * y + z * z) <= r * r) s.insert({x, y, z});
  return s;
}

int squared(const ZTR_KERNEL& k, int i) {
  return k.points.dx[i] * k.points.dx[i] + k.points.dy[i] * k.points.dy[i] +
         k.points.dz[i] * k.points.dz[i];
}

TEST(NewKernel, HoldsOnlyTheCentreWithRoomForMore) {
  KernelPtr k(ZTR_NewKernel(5));
  ASSERT_TRUE(k);
  EXPECT_EQ(k->kind, ZTR_KERNEL_KIND_NEW);
  EXPECT_EQ(k->points.count, 1);
  EXPECT_EQ(k->points.capacity, 5);
  EXPECT_EQ(k->points.dx.size(), 5u);
  EXPECT_EQ(k->points.dx[0], 0);
  EXPECT_EQ(k->points.dy[0], 0);
  EXPECT_EQ(k->points.dz[0], 0);
  EXPECT_EQ(k->distance[0], 0.0f);
  EXPECT_EQ(k->weight[0], 0.0f);
  EXPECT_EQ(k->radiusX, 1.0f);
  EXPECT_EQ(k->halfExtent, 1);
  EXPECT_EQ(k->weightTotal, 0.0f);
  EXPECT_EQ(k->points.offsetDims[0], 1);
  EXPECT_EQ(k->points.offsetDims[2], 1);
}

TEST(NewKernel, RefusesACapacityBelowOne) {
  EXPECT_EQ(ZTR_NewKernel(0), nullptr);
  EXPECT_EQ(ZTR_NewKernel(-3), nullptr);
}

TEST(SphericalKernel, RadiusOneIsTheCentreAndItsSixFaceNeighbours) {
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  ASSERT_TRUE(k);
  EXPECT_EQ(k->kind, ZTR_KERNEL_KIND_SPHERE);
  EXPECT_EQ(k->points.count, 7);
  EXPECT_EQ(k->points.capacity, 7);
  EXPECT_EQ(k->halfExtent, 2);
  EXPECT_EQ(k->radiusX, 1.0f);
  EXPECT_EQ(k->radiusY, 1.0f);
  // Point 0 is the centre; the shell of length 1 follows in z, y, x scan order.
  const Offset expected[7] = {{0, 0, 0},  {0, 0, -1}, {0, -1, 0}, {-1, 0, 0},
                              {1, 0, 0},  {0, 1, 0},  {0, 0, 1}};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(Offset(k->points.dx[i], k->points.dy[i], k->points.dz[i]), expected[i]) << i;
  }
}

TEST(SphericalKernel, KnownRadiiGiveTheKnownPointCountsAndMargins) {
  const struct {
    float r;
    int count;
    int margin;
  } cases[] = {{1.0f, 7, 2}, {1.1f, 7, 2}, {1.5f, 19, 2}, {1.8f, 27, 2}, {2.0f, 33, 3},
               {2.5f, 81, 3}, {4.0f, 257, 5}};
  for (const auto& c : cases) {
    KernelPtr k(ZTR_NewSphericalKernel(c.r));
    ASSERT_TRUE(k) << c.r;
    EXPECT_EQ(k->points.count, c.count) << c.r;
    EXPECT_EQ(k->halfExtent, c.margin) << c.r;
  }
}

TEST(SphericalKernel, HoldsExactlyTheBallInShellsOfScanOrder) {
  for (float r : {1.0f, 1.7f, 2.5f, 3.2f, 4.0f}) {
    KernelPtr k(ZTR_NewSphericalKernel(r));
    ASSERT_TRUE(k);
    EXPECT_EQ(points_of(*k), ball(r)) << r;
    EXPECT_EQ(points_of(*k).size(), static_cast<size_t>(k->points.count)) << "duplicates at " << r;
    for (int i = 1; i < k->points.count; ++i) {
      const int a = squared(*k, i - 1), b = squared(*k, i);
      ASSERT_LE(a, b) << "distance order at " << i << " for r=" << r;
      if (a == b) {
        // Same shell: dz, then dy, then dx ascending.
        const Offset pa(k->points.dz[i - 1], k->points.dy[i - 1], k->points.dx[i - 1]);
        const Offset pb(k->points.dz[i], k->points.dy[i], k->points.dx[i]);
        EXPECT_LT(pa, pb) << "scan order at " << i << " for r=" << r;
      }
      EXPECT_FLOAT_EQ(k->distance[i], std::sqrt(static_cast<float>(b)));
      EXPECT_EQ(k->weight[i], 0.0f);
    }
  }
}

TEST(SphericalKernel, RadiusBelowOneOrNotFiniteGivesNoKernel) {
  EXPECT_EQ(ZTR_NewSphericalKernel(0.5f), nullptr);
  EXPECT_EQ(ZTR_NewSphericalKernel(0.999f), nullptr);
  EXPECT_EQ(ZTR_NewSphericalKernel(-2.0f), nullptr);
  EXPECT_EQ(ZTR_NewSphericalKernel(std::numeric_limits<float>::quiet_NaN()), nullptr);
  EXPECT_EQ(ZTR_NewSphericalKernel(std::numeric_limits<float>::infinity()), nullptr);
}

TEST(SphericalKernel, ImpossiblyLargeRadiusIsRefusedLikeExhaustedMemory) {
  EXPECT_EQ(ZTR_NewSphericalKernel(1e9f), nullptr);
  EXPECT_EQ(ZTR_NewSphericalKernel(ZTR_MAX_KERNEL_RADIUS * 1.01f), nullptr);
}

TEST(NeighbourhoodKernel, ConnectivitiesSixEighteenAndTwentySix) {
  KernelPtr k6(ZTR_NewNeighbourhoodKernel(6));
  KernelPtr k18(ZTR_NewNeighbourhoodKernel(18));
  KernelPtr k26(ZTR_NewNeighbourhoodKernel(26));
  ASSERT_TRUE(k6 && k18 && k26);
  EXPECT_EQ(k6->points.count, 7);
  EXPECT_FLOAT_EQ(k6->radiusX, 1.1f);
  EXPECT_EQ(k18->points.count, 19);
  EXPECT_FLOAT_EQ(k18->radiusX, 1.5f);
  EXPECT_EQ(k26->points.count, 27);
  EXPECT_FLOAT_EQ(k26->radiusX, 1.8f);
}

TEST(NeighbourhoodKernel, OtherConnectivitiesGiveNoKernel) {
  for (int c : {0, 4, 8, 19, 27, -6}) EXPECT_EQ(ZTR_NewNeighbourhoodKernel(c), nullptr) << c;
}

TEST(KernelOffsets, AreLinearForTheGivenSizeAndRecordIt) {
  KernelPtr k(ZTR_NewSphericalKernel(1.5f));
  ASSERT_TRUE(k);
  const int32_t dims[3] = {10, 20, 30};
  ASSERT_EQ(ZTR_ComputePointListOffsets(&k->points, dims), 0);
  for (int i = 0; i < k->points.count; ++i) {
    EXPECT_EQ(k->points.offset[i],
              k->points.dx[i] + 10 * k->points.dy[i] + 200 * k->points.dz[i]);
  }
  EXPECT_EQ(k->points.offsetDims[0], 10);
  EXPECT_EQ(k->points.offsetDims[1], 20);
  EXPECT_EQ(k->points.offsetDims[2], 30);
}

TEST(KernelOffsets, RefuseBadSizesAndOffsetsBeyondThirtyTwoBitsUnchanged) {
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  ASSERT_TRUE(k);
  const int32_t good[3] = {4, 5, 6};
  ASSERT_EQ(ZTR_ComputePointListOffsets(&k->points, good), 0);
  const int32_t zero[3] = {0, 5, 6};
  EXPECT_EQ(ZTR_ComputePointListOffsets(&k->points, zero), -1);
  const int32_t huge[3] = {70000, 70000, 3};  // slice of 4.9e9 voxels
  EXPECT_EQ(ZTR_ComputePointListOffsets(&k->points, huge), -1);
  EXPECT_EQ(ZTR_ComputePointListOffsets(nullptr, good), -1);
  EXPECT_EQ(k->points.offsetDims[0], 4);
  EXPECT_EQ(k->points.offset[6], 20);  // (0, 0, 1) -> 4*5
}

TEST(KernelValidity, MalformedRecordsAreRejected) {
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  ASSERT_TRUE(k);
  EXPECT_TRUE(ZTR_IsValidKernel(k.get()));
  k->points.count = 8;  // beyond capacity
  EXPECT_FALSE(ZTR_IsValidKernel(k.get()));
  k->points.count = 0;
  EXPECT_FALSE(ZTR_IsValidKernel(k.get()));
  k->points.count = 7;
  k->points.dz.resize(3);
  EXPECT_FALSE(ZTR_IsValidKernel(k.get()));
  EXPECT_FALSE(ZTR_IsValidKernel(nullptr));
}

}  // namespace
