// Region statistics against a numpy least-squares fit, the summary text, voxel group
// distances against a k-d tree over scipy surfaces, the analysis mask and the ADC dump.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iomanip>
#include <random>
#include <sstream>

#include "analyzer/voxel/voxel_statistics.h"
#include "voxel_test_support.h"

using namespace voxel_test;

namespace {

void write_meta(const TempDir& dir, const std::string& text) {
  write_bytes(dir / "meta.txt", text.data(), text.size());
}

std::string dims_line(const RawVolumeData* v) {
  return "dims " + std::to_string(v->header->x) + " " + std::to_string(v->header->y) + " " +
         std::to_string(v->header->z) + "\n";
}

// A random rotation of eigenvalues drawn well above zero.
SymmetricTensor random_tensor(std::mt19937& rng) {
  std::uniform_real_distribution<double> value(0.2e-3, 2.0e-3), angle(0.0, 6.283);
  const double values[3] = {value(rng), value(rng), value(rng)};
  const double a = angle(rng), b = angle(rng), c = angle(rng);
  const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b),
               cc = std::cos(c), sc = std::sin(c);
  const double r[3][3] = {{ca * cb, sa * cb, -sb},
                          {ca * sb * sc - sa * cc, sa * sb * sc + ca * cc, cb * sc},
                          {ca * sb * cc + sa * sc, sa * sb * cc - ca * sc, cb * cc}};
  return tensor_from_eigen_system(values, r);
}

ROI_DTI_STATISTICS statistics_of(const DwiData& dwi, const RawVolumeData* mask) {
  ROI_DTI_STATISTICS s;
  ztr::test::ConsoleCapture err;
  EXPECT_EQ(compute_region_statistics(dwi.get(), mask, &s), 0);
  return s;
}

}  // namespace

// Noisy random tensors, zero-signal voxels and voxels whose diffusion-weighted signals exceed
// So (negative eigenvalues): the valid ones are those numpy's OLS fit finds valid, and the
// twelve minima, maxima, means and population deviations agree.
TEST(RegionStatistics, EqualNumpyLeastSquaresUnderTheValidityRule) {
  std::mt19937 rng(3);
  DwiData dwi(7, 6, 5, 20);
  std::uniform_real_distribution<double> level(500.0, 3000.0);
  std::normal_distribution<double> noise(0.0, 0.02);
  VolumePtr mask = new_mask(7, 6, 5);
  std::uniform_int_distribution<int> kind(0, 9);
  for (int z = 0; z < 5; ++z) {
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 7; ++x) {
        dwi.set(x, y, z, random_tensor(rng), level(rng));
        for (int c = 1; c < 21; ++c) {
          int16_t& s = dwi.at(c, x, y, z);
          s = int16_t(std::lround(s * (1.0 + noise(rng))));
        }
        const int k = kind(rng);
        if (k == 0) {
          for (int c = 0; c < 21; ++c) dwi.at(c, x, y, z) = 0;
        } else if (k == 1) {
          for (int c = 1; c < 21; ++c) dwi.at(c, x, y, z) = int16_t(dwi.at(0, x, y, z) * 1.5);
        }
        mask_at(mask.get(), x, y, z) = kind(rng) < 7 ? 1 : (kind(rng) < 5 ? 2 : 0);
      }
    }
  }
  TempDir dir;
  std::ostringstream meta;
  meta << dims_line(dwi.volume.get()) << "b0 1\nbvals";
  for (int c = 0; c < 21; ++c) meta << ' ' << dwi.get()->b_value[c];
  meta << "\nbvecs";
  for (int c = 0; c < 21; ++c) {
    for (int a = 0; a < 3; ++a) meta << ' ' << std::setprecision(9) << dwi.get()->mpg_vector[c][a];
  }
  meta << '\n';
  write_meta(dir, meta.str());
  {
    std::ofstream out(dir / "dwi.i16", std::ios::binary);
    for (int c = 0; c < 21; ++c) {
      out.write(static_cast<const char*>(dwi.volume->data[c]), 7 * 6 * 5 * 2);
    }
  }
  write_bytes(dir / "mask.u8", mask->data[0], 7 * 6 * 5);
  ASSERT_TRUE(run_reference("stats", dir));

  const ROI_DTI_STATISTICS s = statistics_of(dwi, mask.get());
  std::istringstream expected(read_text(dir / "expected.txt"));
  int voxels = 0, valid = 0;
  expected >> voxels >> valid;
  EXPECT_EQ(s.voxels, voxels);
  EXPECT_EQ(s.valid_voxels, valid);
  ASSERT_GT(valid, 20);
  ASSERT_LT(valid, voxels);
  // Floats against doubles: a relative tolerance, with a floor on each parameter's scale.
  const double scale[12] = {1, 1e-3, 1e-6, 1e-6, 1e-6, 1e-6, 1e-6, 1e-6, 1e-6, 1e-6, 1e-6, 1e-6};
  for (int p = 0; p < 12; ++p) {
    double ref[4];
    expected >> ref[0] >> ref[1] >> ref[2] >> ref[3];
    const ZTR_PARAMETER_STATISTICS& q = s.parameters[p];
    const double got[4] = {q.min, q.max, q.mean, q.std};
    for (int k = 0; k < 4; ++k) {
      EXPECT_NEAR(got[k], ref[k], 2e-3 * std::fabs(ref[k]) + scale[p])
          << kStatisticsParameterNames[p] << " field " << k;
    }
  }
}

// A region of identical voxels has deviation 0: sum-of-squares minus squared mean would round
// below zero here and give NaN.
TEST(RegionStatistics, UniformRegionHasZeroDeviationNotNaN) {
  DwiData dwi(10, 10, 10);
  VolumePtr mask = new_mask(10, 10, 10);
  for (int z = 0; z < 10; ++z) {
    for (int y = 0; y < 10; ++y) {
      for (int x = 0; x < 10; ++x) {
        dwi.set(x, y, z, fibre(0.6, 0.8, 0), 1234.0);
        mask_at(mask.get(), x, y, z) = 1;
      }
    }
  }
  const ROI_DTI_STATISTICS s = statistics_of(dwi, mask.get());
  EXPECT_EQ(s.valid_voxels, 1000);
  for (int p = 0; p < 12; ++p) {
    EXPECT_EQ(s.parameters[p].std, 0.0) << kStatisticsParameterNames[p];
    EXPECT_EQ(s.parameters[p].min, s.parameters[p].max);
    EXPECT_EQ(s.parameters[p].mean, s.parameters[p].min);
  }
  EXPECT_EQ(s.parameters[0].mean, 1234.0);
}

TEST(RegionStatistics, RegionWithoutValidTensorsReportsNoValidVoxels) {
  DwiData dwi(4, 4, 4);  // all zero: every fit is NaN
  VolumePtr mask = new_mask(4, 4, 4);
  mask_at(mask.get(), 1, 1, 1) = 1;
  mask_at(mask.get(), 2, 1, 1) = 1;
  mask_at(mask.get(), 3, 1, 1) = 5;  // only value 1 counts
  const ROI_DTI_STATISTICS s = statistics_of(dwi, mask.get());
  EXPECT_EQ(s.voxels, 2);
  EXPECT_EQ(s.valid_voxels, 0);
  EXPECT_EQ(statistics_summary_text(s, -1.0, nullptr),
            "Valid Voxels: 0 / voxels: 2\nNo valid voxels.\n\n(Extra parameters by RTNN is unavailable)\n");
}

TEST(RegionStatistics, RefusesMissingDataAndMasksOffTheGrid) {
  DwiData dwi(4, 4, 4);
  VolumePtr other = new_mask(4, 4, 5);
  ROI_DTI_STATISTICS s;
  s.voxels = 99;
  ztr::test::ConsoleCapture err;
  EXPECT_EQ(compute_region_statistics(dwi.get(), other.get(), &s), -1);
  EXPECT_EQ(compute_region_statistics(nullptr, other.get(), &s), -1);
  dwi.get()->mpg_ready = 0;
  VolumePtr mask = new_mask(4, 4, 4);
  EXPECT_EQ(compute_region_statistics(dwi.get(), mask.get(), &s), -1);
  EXPECT_EQ(s.voxels, 99);
  const std::string text = err.text();
  EXPECT_NE(text.find("Volume not ready\n"), std::string::npos);
  EXPECT_NE(text.find("DTI data NOT ready\n"), std::string::npos);
}

TEST(StatisticsSummary, PrintsSixParametersTheDistanceAndTheRtnnText) {
  ROI_DTI_STATISTICS s;
  s.voxels = 12;
  s.valid_voxels = 10;
  const double values[6][4] = {{1000, 2000, 1500, 250.5},         {0.1, 0.9, 0.5, 0.25},
                               {0.0005, 0.0015, 0.001, 0.0002},  {0.001, 0.002, 0.0015, 0.0001},
                               {0.0004, 0.0008, 0.0006, 0.0001}, {0.0002, 0.0003, 0.00025, 0.00001}};
  for (int p = 0; p < 6; ++p) {
    s.parameters[p] = {values[p][0], values[p][1], values[p][2], values[p][3]};
  }
  EXPECT_EQ(statistics_summary_text(s, 3.5, "  net: 1.00\n"),
            "Valid Voxels: 10 / voxels: 12\n"
            "Statistics: min. - max. (mean/stdev.)\n"
            "Standard DTI parameters:\n"
            "  So: 1000.0 - 2000.0 (1500.0/250.5)\n"
            "  FA:  0.10 - 0.90 (0.50/0.25)\n"
            "  ADC(x1k): 0.50 - 1.50 (1.00/0.20)\n"
            "  L1(x1k):    1.00 - 2.00 (1.50/0.10)\n"
            "  L2(x1k):    0.40 - 0.80 (0.60/0.10)\n"
            "  L3(x1k):    0.20 - 0.30 (0.25/0.01)\n"
            "\nDistance between 2 voxelgroups: 3.500(mm)\n"
            "Extra parameters by RTNN:\n  net: 1.00\n");
}

namespace {

VOXEL_GROUP_BOX group_of(const RawVolumeData* mask) { return voxel_group_from_mask(mask); }

}  // namespace

// Random blobs with anisotropic voxels: the distance is the nearest pair of surface voxels,
// as a k-d tree over scipy's surfaces (mask minus its erosion) finds it.
TEST(VoxelgroupDistance, EqualsNearestSurfaceVoxelPair) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> pos(0, 15), radius(1, 3);
  const float sizes[][3] = {{1, 1, 1}, {0.5f, 2.0f, 1.25f}};
  for (int trial = 0; trial < 6; ++trial) {
    const float* vs = sizes[trial % 2];
    VolumePtr a = new_mask(16, 16, 16), b = new_mask(16, 16, 16);
    for (RawVolumeData* m : {a.get(), b.get()}) {
      for (int blob = 0; blob < 2; ++blob) {
        const int cx = pos(rng), cy = pos(rng), cz = pos(rng), r = radius(rng);
        for (int z = 0; z < 16; ++z) {
          for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
              if ((x - cx) * (x - cx) + (y - cy) * (y - cy) + (z - cz) * (z - cz) <= r * r) {
                mask_at(m, x, y, z) = 1;
              }
            }
          }
        }
      }
    }
    TempDir dir;
    write_bytes(dir / "a.u8", a->data[0], 4096);
    write_bytes(dir / "b.u8", b->data[0], 4096);
    write_meta(dir, dims_line(a.get()) + "voxel_size " + std::to_string(vs[0]) + " " +
                        std::to_string(vs[1]) + " " + std::to_string(vs[2]) + "\n");
    ASSERT_TRUE(run_reference("distance", dir));
    const double expected = std::stod(read_text(dir / "expected.txt"));
    EXPECT_NEAR(voxelgroup_distance(group_of(a.get()), group_of(b.get()), vs), expected, 1e-5)
        << "trial " << trial;
  }
}

TEST(VoxelgroupDistance, TableOfSimpleCases) {
  const float unit[3] = {1, 1, 1}, two[3] = {2, 2, 2};
  struct Case {
    const char* name;
    int a[3], b[3];  // single voxels
    const float* size;
    double expected;
  } cases[] = {
      // Ten voxels apart: a start value of the first box's diagonal would report sqrt(3).
      {"far apart", {1, 1, 1}, {11, 1, 1}, unit, 10.0},
      {"touching", {4, 4, 4}, {5, 4, 4}, two, 2.0},
      {"overlapping", {4, 4, 4}, {4, 4, 4}, unit, 0.0},
      {"diagonal", {0, 0, 0}, {3, 4, 0}, unit, 5.0},
  };
  for (const Case& c : cases) {
    VolumePtr a = new_mask(16, 8, 8), b = new_mask(16, 8, 8);
    mask_at(a.get(), c.a[0], c.a[1], c.a[2]) = 1;
    mask_at(b.get(), c.b[0], c.b[1], c.b[2]) = 1;
    EXPECT_DOUBLE_EQ(voxelgroup_distance(group_of(a.get()), group_of(b.get()), c.size), c.expected)
        << c.name;
  }
  VolumePtr empty = new_mask(4, 4, 4), one = new_mask(4, 4, 4);
  mask_at(one.get(), 1, 1, 1) = 1;
  EXPECT_LT(voxelgroup_distance(group_of(empty.get()), group_of(one.get()), unit), 0.0);
  EXPECT_EQ(voxelgroup_distance_text(1.0), "\nDistance between 2 voxelgroups: 1.000(mm)\n");
}

TEST(VoxelGroup, FromMaskTakesTheBoundingBox) {
  VolumePtr mask = new_mask(10, 10, 10);
  mask_at(mask.get(), 2, 3, 4) = 1;
  mask_at(mask.get(), 5, 3, 7) = 9;
  const VOXEL_GROUP_BOX g = voxel_group_from_mask(mask.get());
  EXPECT_EQ(g.origin[0], 2);
  EXPECT_EQ(g.origin[1], 3);
  EXPECT_EQ(g.origin[2], 4);
  EXPECT_EQ(g.size[0], 4);
  EXPECT_EQ(g.size[1], 1);
  EXPECT_EQ(g.size[2], 4);
  EXPECT_TRUE(g.at(0, 0, 0));
  EXPECT_TRUE(g.at(3, 0, 3));
  EXPECT_FALSE(g.at(1, 0, 1));
  EXPECT_EQ(voxel_group_from_mask(new_mask(3, 3, 3).get()).size[0], 0);
}

TEST(StatisticsMask, BoxIsClippedListedGroupsAreJoinedOtherSelectorsPaintNothing) {
  VolumePtr mask = new_mask(6, 6, 6);
  STATISTICS_REGION box;
  box.selector = ZTR_REGION_BOX_VOI;
  box.box.origin[0] = 4;
  box.box.origin[1] = -1;
  box.box.origin[2] = 2;
  box.box.size[0] = 5;  // x 4..8 clipped to 4..5
  box.box.size[1] = 3;  // y -1..1 clipped to 0..1
  box.box.size[2] = 1;
  ASSERT_EQ(build_statistics_mask(box, mask.get()), 0);
  EXPECT_EQ(count_set(mask.get()), 2 * 2 * 1);
  EXPECT_EQ(mask_at(mask.get(), 5, 1, 2), 1);

  VolumePtr a = new_mask(6, 6, 6), b = new_mask(6, 6, 6);
  mask_at(a.get(), 1, 1, 1) = 1;
  mask_at(b.get(), 1, 1, 1) = 1;
  mask_at(b.get(), 4, 4, 4) = 1;
  const VOXEL_GROUP_BOX ga = voxel_group_from_mask(a.get()), gb = voxel_group_from_mask(b.get());
  VolumePtr painted = new_mask(6, 6, 6);
  mask_at(painted.get(), 0, 5, 0) = 1;
  STATISTICS_REGION listed;
  listed.selector = ZTR_REGION_LISTED;
  listed.voxel_groups = {&ga, &gb};
  listed.painted = {painted.get()};
  ASSERT_EQ(build_statistics_mask(listed, mask.get()), 0);
  EXPECT_EQ(count_set(mask.get()), 3);

  STATISTICS_REGION none;
  none.selector = ZTR_REGION_NONE;
  none.painted = {painted.get()};
  ASSERT_EQ(build_statistics_mask(none, mask.get()), 0);
  EXPECT_EQ(count_set(mask.get()), 0);

  const int32_t dims[3] = {6, 6, 6};
  VolumePtr wide(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_INT16, 0));
  ztr::test::ConsoleCapture err;
  EXPECT_EQ(build_statistics_mask(box, wide.get()), -1);
  EXPECT_EQ(err.text(), "Volume not ready\n");
}

// The dump: counts, directions, then the ADCs x 1000 of each masked voxel in z, y, x order;
// a zero signal writes the documented 0.000000 instead of inf or nan.
TEST(AdcDump, WritesCountsDirectionsAndAdcValues) {
  DwiData dwi(3, 2, 2, 6);
  VolumePtr mask = new_mask(3, 2, 2);
  dwi.set(2, 0, 0, fibre(1, 0, 0), 1000.0);
  dwi.set(0, 1, 1, isotropic(), 800.0);
  dwi.at(3, 0, 1, 1) = 0;  // one undefined channel
  mask_at(mask.get(), 0, 1, 1) = 1;
  mask_at(mask.get(), 2, 0, 0) = 1;
  TempDir dir;
  const std::string path = dir / "ADCprofile.txt";
  ztr::test::ConsoleCapture err;
  ASSERT_EQ(dump_adc_profile(dwi.get(), mask.get(), path), 0);
  const std::string text = err.text();
  EXPECT_NE(text.find(">> DTI/HARDI dump\nSo channels: 1\nDTI channels: 7\n"), std::string::npos);
  EXPECT_NE(text.find("Warning: 1 masked voxels"), std::string::npos) << text;

  std::ostringstream expected;
  expected << "2\n6\n";
  char line[128];
  for (int c = 1; c < 7; ++c) {
    const float* g = dwi.get()->mpg_vector[c];
    std::snprintf(line, sizeof line, "%f\t%f\t%f\n", g[0], g[1], g[2]);
    expected << line;
  }
  const int voxels[2][3] = {{2, 0, 0}, {0, 1, 1}};  // z, y, x order
  for (const auto& v : voxels) {
    const double s0 = dwi.at(0, v[0], v[1], v[2]);
    for (int c = 1; c < 7; ++c) {
      const double s = dwi.at(c, v[0], v[1], v[2]);
      const double adc = s > 0 ? -std::log(s / s0) / 1000.0 * 1000.0 : 0.0;
      std::snprintf(line, sizeof line, "%f\n", adc);
      expected << line;
    }
  }
  const std::string written = read_text(path);
  EXPECT_EQ(written, expected.str());
  EXPECT_EQ(written.find("inf"), std::string::npos);
  EXPECT_EQ(written.find("nan"), std::string::npos);
}

TEST(AdcDump, SaysSoWhenTheFileCannotBeWritten) {
  DwiData dwi(3, 2, 2, 6);
  VolumePtr mask = new_mask(3, 2, 2);
  ztr::test::ConsoleCapture err;
  EXPECT_EQ(dump_adc_profile(dwi.get(), mask.get(), "/nonexistent-dir/ADCprofile.txt"), -1);
  EXPECT_NE(err.text().find("Err: cannot open"), std::string::npos) << err.text();
}
