// Diffusion profiles: sampling grids, the shown ranges and summary, and the glyphs built for
// known tensors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "analyzer/voxel/diffusion_profile.h"
#include "voxel_test_support.h"

using namespace voxel_test;

namespace {

float radius_of(const ZTR_ELLIPSOID_OBJECT& e, int k) {
  float r;
  std::memcpy(&r, &e.values[k], sizeof r);
  return r;
}

// Every point drawn by draw_profile_symbols, in order.
struct Recorder {
  std::vector<std::array<float, 3>> points;
  ProfileSymbolCallback callback() {
    return [this](const float p[3], const ZTR_DTI_TENSOR&) { points.push_back({p[0], p[1], p[2]}); };
  }
};

DIFFUSION_PROFILE_SETTING all_ranges_off() {
  DIFFUSION_PROFILE_SETTING s;
  s.fa_on = s.fa_on_copy = s.adc_on = s.adc_on_copy = s.so_on = s.so_on_copy = 0;
  return s;
}

}  // namespace

TEST(ProfileSpacing, FollowsTheDensityFromTheVolumeWidth) {
  EXPECT_FLOAT_EQ(profile_spacing(ZTR_PROFILE_DENSITY_NORMAL, 256), 3.0f);
  EXPECT_FLOAT_EQ(profile_spacing(ZTR_PROFILE_DENSITY_HIGH, 256), 2.0f);
  EXPECT_FLOAT_EQ(profile_spacing(ZTR_PROFILE_DENSITY_SPARSE, 128), 2.0f);
  EXPECT_FLOAT_EQ(profile_spacing(ZTR_PROFILE_DENSITY_ON_VOXEL, 64), 1.0f);
  EXPECT_FLOAT_EQ(profile_symbol_scale(ZTR_PROFILE_DENSITY_ON_VOXEL, 1.0f), 360.0f);
  EXPECT_FLOAT_EQ(profile_symbol_scale(ZTR_PROFILE_DENSITY_NORMAL, 0.5f), 180.0f);
}

// A box of n voxels sampled on voxel gives n positions per axis, all inside
// [origin, origin + size); one more would sample the next box's voxels.
TEST(ProfileSampling, BoxStaysInsideOriginPlusSize) {
  const int32_t dims[3] = {32, 32, 32};
  struct Case {
    float origin[3], size[3], spacing;
    int32_t expected;
  } cases[] = {
      {{2, 3, 4}, {10, 10, 10}, 1.0f, 1000},
      {{0, 0, 0}, {10, 1, 1}, 3.0f, 4},       // 0, 3, 6, 9
      {{0, 0, 0}, {9, 1, 1}, 3.0f, 3},        // 0, 3, 6 (9 is the next box)
      {{28, 0, 0}, {10, 1, 1}, 1.0f, 4},      // 28 .. 31: the rest lies outside the volume
      {{-2, 0, 0}, {4, 1, 1}, 1.0f, 2},       // 0 and 1
  };
  for (const Case& c : cases) {
    PROFILE_REGION region;
    std::memcpy(region.box.origin, c.origin, sizeof c.origin);
    std::memcpy(region.box.size, c.size, sizeof c.size);
    std::vector<float> points;
    EXPECT_EQ(sample_profile_points(region, c.spacing, dims, &points), c.expected);
    ASSERT_EQ(points.size(), size_t(c.expected) * 3);
    for (size_t i = 0; i < points.size(); ++i) {
      const size_t a = i % 3;
      EXPECT_GE(points[i], std::max(0.0f, c.origin[a]));
      EXPECT_LT(points[i], c.origin[a] + c.size[a]);
    }
  }
}

TEST(ProfileSampling, SphereAndVoxelGroupGrids) {
  const int32_t dims[3] = {20, 20, 20};
  PROFILE_REGION sphere;
  sphere.selector = ZTR_REGION_SPHERE;
  sphere.sphere_centre[0] = sphere.sphere_centre[1] = sphere.sphere_centre[2] = 10.0f;
  sphere.sphere_radius = 2.0f;
  std::vector<float> points;
  // Integer offsets within radius 2: 1 + 6 + 12 + 8 + 6 = 33.
  EXPECT_EQ(sample_profile_points(sphere, 1.0f, dims, &points), 33);

  // On voxel, a voxel group is sampled at exactly its voxels.
  VolumePtr mask = new_mask(20, 20, 20);
  std::set<std::array<int, 3>> expected = {{3, 4, 5}, {4, 4, 5}, {9, 9, 9}, {3, 6, 7}};
  for (const auto& v : expected) mask_at(mask.get(), v[0], v[1], v[2]) = 1;
  const VOXEL_GROUP_BOX group = voxel_group_from_mask(mask.get());
  PROFILE_REGION listed;
  listed.selector = ZTR_REGION_LISTED;
  listed.voxel_groups = {&group};
  points.clear();
  ASSERT_EQ(sample_profile_points(listed, 1.0f, dims, &points), 4);
  std::set<std::array<int, 3>> got;
  for (size_t i = 0; i < points.size(); i += 3) {
    got.insert({int(points[i]), int(points[i + 1]), int(points[i + 2])});
    EXPECT_EQ(points[i], std::trunc(points[i]));
  }
  EXPECT_EQ(got, expected);

  PROFILE_REGION other;
  other.selector = ZTR_REGION_FREEHAND;
  points.clear();
  EXPECT_EQ(sample_profile_points(other, 1.0f, dims, &points), 0);
}

// A region far larger than the volume costs only the volume's positions.
TEST(ProfileSampling, HugeRegionsAreWalkedOnlyInsideTheVolume) {
  const int32_t dims[3] = {8, 8, 8};
  PROFILE_REGION box;
  box.box.origin[0] = box.box.origin[1] = box.box.origin[2] = -1.0e6f;
  box.box.size[0] = box.box.size[1] = box.box.size[2] = 2.0e6f;
  std::vector<float> points;
  EXPECT_EQ(sample_profile_points(box, 1.0f, dims, &points), 512);
  PROFILE_REGION sphere;
  sphere.selector = ZTR_REGION_SPHERE;
  sphere.sphere_centre[0] = sphere.sphere_centre[1] = sphere.sphere_centre[2] = 4.0f;
  sphere.sphere_radius = 1.0e6f;
  points.clear();
  EXPECT_EQ(sample_profile_points(sphere, 0.5f, dims, &points), 15 * 15 * 15);
  PROFILE_REGION outside;
  outside.box.origin[0] = 100.0f;
  points.clear();
  EXPECT_EQ(sample_profile_points(outside, 1.0f, dims, &points), 0);
}

TEST(ProfileSampling, StopsAtTheLimitAndSaysSo) {
  const int32_t dims[3] = {20, 20, 20};
  PROFILE_REGION region;
  region.box.size[0] = region.box.size[1] = region.box.size[2] = 10.0f;
  std::vector<float> points;
  ztr::test::ConsoleCapture err;
  EXPECT_EQ(sample_profile_points(region, 1.0f, dims, &points, 50), 50);
  EXPECT_EQ(err.text(), "Over seed number limit (50).\n");
}

TEST(ProfileSummary, NoPointsShowsZeroPercentInsteadOfDividingByZero) {
  EXPECT_EQ(profile_summary_text(0, 0, 0.0, 0.0),
            "Symbols: 0/0 (0% displayed)\n    mean FA: 0.0000\n    mean ADC(x1k): 0.0000");
  EXPECT_EQ(profile_summary_text(2, 3, 0.5, 0.0012),
            "Symbols: 2/3 (66% displayed)\n    mean FA: 0.5000\n    mean ADC(x1k): 1.2000");
}

// Five voxels in a row: a fibre, an isotropic voxel, a bright isotropic voxel, a zero voxel
// and another fibre.
struct RowField {
  DwiData dwi{5, 1, 1};
  std::vector<float> points;
  RowField() {
    dwi.set(0, 0, 0, fibre(1, 0, 0), 1000.0);
    dwi.set(1, 0, 0, isotropic(), 500.0);
    dwi.set(2, 0, 0, isotropic(), 2000.0);
    dwi.set(4, 0, 0, fibre(0, 0, 1), 800.0);
    for (int x = 0; x < 5; ++x) points.insert(points.end(), {float(x), 0.0f, 0.0f});
  }
};

TEST(ProfileDrawing, RangesAreInclusiveAndUnfittablePointsAreSkipped) {
  RowField f;
  // With every range off, every fittable point is drawn (the zero voxel is not).
  DIFFUSION_PROFILE_SETTING off = all_ranges_off();
  off.density = ZTR_PROFILE_DENSITY_ON_VOXEL;
  Recorder all;
  std::string summary;
  EXPECT_EQ(draw_profile_symbols(f.dwi.get(), off, f.points, all.callback(), &summary), 4);
  EXPECT_EQ(summary.substr(0, 29), "Symbols: 4/5 (80% displayed)\n");

  // A FA exactly equal to FA high is shown; So above So high is hidden.
  TensorPtr t(ZTRdti_NewTensor(13, 1));
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(f.dwi.get(), t.get(), 0, 0, 0), 1);
  DIFFUSION_PROFILE_SETTING s;
  s.density = ZTR_PROFILE_DENSITY_ON_VOXEL;
  s.fa_low = 0.0f;
  s.fa_high = ZTRdti_GetFA(t.get());
  s.so_high = 1500.0f;
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(f.dwi.get(), t.get(), 4, 0, 0), 1);
  const bool fourth_shown = ZTRdti_GetFA(t.get()) <= s.fa_high;  // same fibre, other rounding
  Recorder shown;
  EXPECT_EQ(draw_profile_symbols(f.dwi.get(), s, f.points, shown.callback(), &summary),
            fourth_shown ? 3 : 2);
  ASSERT_GE(shown.points.size(), 2u);
  EXPECT_EQ(shown.points[0][0], 0.0f);  // FA == FA high
  EXPECT_EQ(shown.points[1][0], 1.0f);  // voxel 2 is hidden by So high

  // ADC range: the fibres' mean diffusivity is 0.767e-3, the isotropic voxels' 0.8e-3.
  s = all_ranges_off();
  s.adc_on = 1;
  s.adc_low = 0.79e-3f;
  s.adc_high = 0.81e-3f;
  Recorder adc;
  EXPECT_EQ(draw_profile_symbols(f.dwi.get(), s, f.points, adc.callback(), &summary), 2);
}

TEST(ProfileDrawing, RefusesWithoutDataOrCallback) {
  RowField f;
  DIFFUSION_PROFILE_SETTING s;
  std::string summary = "unchanged";
  ztr::test::ConsoleCapture err;
  EXPECT_EQ(draw_profile_symbols(f.dwi.get(), s, f.points, nullptr, &summary), -1);
  f.dwi.get()->mpg_ready = 0;
  Recorder r;
  EXPECT_EQ(draw_profile_symbols(f.dwi.get(), s, f.points, r.callback(), &summary), -1);
  EXPECT_EQ(err.text(), "Func ptr for graphics NULL\nDTI data NOT ready\n");
  EXPECT_EQ(summary, "unchanged");
}

// A fibre along x (l1 1.7e-3, l2 = l3 = 0.3e-3): the ellipsoid's long axis is x with radius
// l1 S; the short radii are (l2/l1)^q l1 S, q = 3 with emphasis.
TEST(ProfileSymbol, EllipsoidAxesRadiiAndColours) {
  RowField f;
  TensorPtr t(ZTRdti_NewTensor(13, 1));
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(f.dwi.get(), t.get(), 0, 0, 0), 1);
  const float l1 = ZTRdti_GetLambda1(t.get()), l2 = ZTRdti_GetLambda2(t.get());
  ASSERT_NEAR(l1, 1.7e-3f, 2e-5f);
  for (const int emphasis : {0, 1}) {
    for (const int32_t colouring : {ZTR_PROFILE_COLOURING_ANISOTROPY, ZTR_PROFILE_COLOURING_DIRECTION}) {
      DIFFUSION_PROFILE_SETTING s;
      s.emphasis = emphasis;
      s.colouring = colouring;
      ZTR_OBJECT_GROUP* group = ZTR_NewObjectGroup(1);
      const float p[3] = {0.0f, 0.0f, 0.0f};
      ASSERT_EQ(make_profile_symbol(f.dwi.get(), s, 100.0f, p, *t, group), 0);
      ASSERT_EQ(group->count, 1);
      ASSERT_EQ(group->types[0], ZTR_OBJECT_TYPE_ELLIPSOID);
      const auto* e = static_cast<const ZTR_ELLIPSOID_OBJECT*>(group->objects[0]);
      EXPECT_EQ(e->points[0].x, 0.5f);
      EXPECT_EQ(e->points[0].z, 0.5f);
      EXPECT_NEAR(std::fabs(e->points[1].x), 1.0f, 1e-4f);
      const double q = emphasis ? 3.0 : 1.0;
      EXPECT_NEAR(radius_of(*e, 0), l1 * 100.0f, 1e-5f);
      EXPECT_NEAR(radius_of(*e, 1), std::pow(l2 / l1, q) * l1 * 100.0, 1e-5);
      const ZTR_OBJECT_COLOR c = *group->colors[0];
      if (colouring == ZTR_PROFILE_COLOURING_DIRECTION) {
        EXPECT_NEAR(c.r, 1.0f, 1e-4f);
        EXPECT_NEAR(c.g, 0.0f, 1e-3f);
      } else {
        EXPECT_EQ(c.r, 1.0f);
        EXPECT_NEAR(c.g, l2 / l1, 1e-5f);
      }
      ZTR_DeleteObjectGroup(group);
    }
  }
}

// A star has two segments per diffusion-weighted channel, p +- L_c g_c with
// L_c = (ADC_c / m)^q m S, coloured by |g_c| in directional coding.
TEST(ProfileSymbol, StarSegmentsFollowTheChannelAdcs) {
  RowField f;
  TensorPtr t(ZTRdti_NewTensor(13, 1));
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(f.dwi.get(), t.get(), 4, 0, 0), 1);
  DIFFUSION_PROFILE_SETTING s;
  s.primitive = ZTR_PROFILE_PRIMITIVE_STAR;
  s.colouring = ZTR_PROFILE_COLOURING_DIRECTION;
  s.emphasis = 1;
  ZTR_OBJECT_GROUP* group = ZTR_NewObjectGroup(1);
  const float p[3] = {4.0f, 0.0f, 0.0f};
  const float S = 200.0f;
  ASSERT_EQ(make_profile_symbol(f.dwi.get(), s, S, p, *t, group), 0);
  ASSERT_EQ(group->types[0], ZTR_OBJECT_TYPE_GROUP);
  const auto* star = static_cast<const ZTR_OBJECT_GROUP*>(group->objects[0]);
  ASSERT_EQ(star->count, 24);
  double adc[12], m = 0.0;
  for (int k = 0; k < 12; ++k) {
    adc[k] = -std::log(double(f.dwi.at(1 + k, 4, 0, 0)) / f.dwi.at(0, 4, 0, 0)) / 1000.0;
    m = std::max(m, adc[k]);
  }
  for (int k = 0; k < 12; ++k) {
    const float* v = f.dwi.get()->mpg_vector[1 + k];
    const double norm = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    const double length = std::pow(adc[k] / m, 3.0) * m * S;
    for (int side = 0; side < 2; ++side) {
      ASSERT_EQ(star->types[size_t(2 * k + side)], ZTR_OBJECT_TYPE_SEGMENT);
      const auto* seg = static_cast<const ZTR_SEGMENT_OBJECT*>(star->objects[size_t(2 * k + side)]);
      const double sign = side == 0 ? 1.0 : -1.0;
      EXPECT_NEAR(seg->points[0].x, 4.5, 1e-6);
      EXPECT_NEAR(seg->points[1].x - 4.5, sign * length * v[0] / norm, 1e-4) << k;
      EXPECT_NEAR(seg->points[1].z - 0.5, sign * length * v[2] / norm, 1e-4) << k;
      float width;
      std::memcpy(&width, &seg->values[0], sizeof width);
      EXPECT_FLOAT_EQ(width, S / 20000.0f);
      EXPECT_NEAR(star->colors[size_t(2 * k + side)]->b, std::fabs(v[2] / norm), 1e-5);
    }
  }
  ZTR_DeleteObjectGroup(group);
}

// A tensor with a negative eigenvalue (diffusion-weighted signal above So on one axis) gives
// glyph sizes that are finite and not negative.
TEST(ProfileSymbol, NegativeEigenvaluesGiveNoNegativeOrNaNSizes) {
  DwiData dwi(1, 1, 1);
  const SymmetricTensor d = {1.5e-3, 0.5e-3, -0.4e-3, 0, 0, 0};
  dwi.set(0, 0, 0, d, 1000.0);
  TensorPtr t(ZTRdti_NewTensor(13, 1));
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), t.get(), 0, 0, 0), 1);
  ASSERT_LT(ZTRdti_GetLambda3(t.get()), 0.0f);
  for (const int32_t primitive : {ZTR_PROFILE_PRIMITIVE_ELLIPSOID, ZTR_PROFILE_PRIMITIVE_STAR}) {
    DIFFUSION_PROFILE_SETTING s;
    s.primitive = primitive;
    s.emphasis = 1;
    ZTR_OBJECT_GROUP* group = ZTR_NewObjectGroup(1);
    const float p[3] = {0, 0, 0};
    ASSERT_EQ(make_profile_symbol(dwi.get(), s, 100.0f, p, *t, group), 0);
    if (primitive == ZTR_PROFILE_PRIMITIVE_ELLIPSOID) {
      const auto* e = static_cast<const ZTR_ELLIPSOID_OBJECT*>(group->objects[0]);
      for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(std::isfinite(radius_of(*e, k)));
        EXPECT_GE(radius_of(*e, k), 0.0f);
      }
    } else {
      const auto* star = static_cast<const ZTR_OBJECT_GROUP*>(group->objects[0]);
      for (int32_t i = 0; i < star->count; ++i) {
        const auto* seg = static_cast<const ZTR_SEGMENT_OBJECT*>(star->objects[size_t(i)]);
        EXPECT_TRUE(std::isfinite(seg->points[1].x) && std::isfinite(seg->points[1].y) &&
                    std::isfinite(seg->points[1].z));
      }
    }
    ZTR_DeleteObjectGroup(group);
  }
}
