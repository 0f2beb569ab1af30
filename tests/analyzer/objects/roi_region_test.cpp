// Where drawn ROIs lie: rasterised spheres and outlines, overlays and their buttons, and the
// point tests tracking and statistics run per node.
#include "analyzer/objects/roi_region.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace {

int64_t count_set(const std::vector<uint8_t>& mask) {
  return std::count(mask.begin(), mask.end(), uint8_t(1));
}

ROI_OBJECT sphere_roi(Vec3 centre, float radius) {
  ROI_OBJECT roi;
  roi.type = ZTR_ROI_SPHERICAL;
  roi.view.centre = centre;
  roi.view.sphere_radius = radius;
  return roi;
}

// An axial freehand ROI at slice z whose overlay is the square of pixels x0..x1, y0..y1
// (inclusive) drawn as an outline, at the given zoom, centred on `centre`.
ROI_OBJECT square_roi(Vec3 centre, float zoom, int x0, int y0, int x1, int y1) {
  ROI_OBJECT roi;
  roi.type = ZTR_ROI_FREEHAND;
  roi.view.drawing_mode = ZTR_DRAW_FREEHAND;
  roi.view.centre = centre;
  roi.view.zoom = zoom;
  roi.view.points = {{uint16_t(x0), uint16_t(y0)}, {uint16_t(x1), uint16_t(y0)},
                     {uint16_t(x1), uint16_t(y1)}, {uint16_t(x0), uint16_t(y1)}};
  roi.view.overlay = fill_outline_overlay(roi.view.points);
  return roi;
}

}  // namespace

TEST(Rasterise, UnitSphereAtAnIntegralCentreIsSevenVoxels) {
  const GridSize grid{20, 20, 20};
  std::vector<uint8_t> mask(8000, 0);
  EXPECT_EQ(rasterise_roi(sphere_roi({10, 10, 10}, 1.0f), mask, grid), 7);
  EXPECT_EQ(count_set(mask), 7);
  EXPECT_EQ(mask[(10 * 20 + 10) * 20 + 11], 1);
  EXPECT_EQ(mask[(11 * 20 + 10) * 20 + 10], 1);
}

TEST(Rasterise, SphereAtTheCornerPaintsNoVoxelOutsideTheVolume) {
  // Centre (0.5, 0.5, 0.5), radius 1: offsets reach -0.5, which truncation would put on
  // index 0. Only offsets landing at p >= 0 count: centre and the three + neighbours.
  const GridSize grid{8, 8, 8};
  std::vector<uint8_t> mask(512, 0);
  EXPECT_EQ(rasterise_roi(sphere_roi({0.5f, 0.5f, 0.5f}, 1.0f), mask, grid), 4);
}

TEST(Rasterise, HiddenRoiAndHugeFarSphereDrawNothing) {
  const GridSize grid{8, 8, 8};
  std::vector<uint8_t> mask(512, 0);
  ROI_OBJECT hidden = sphere_roi({4, 4, 4}, 2.0f);
  hidden.visibility = 0;
  EXPECT_EQ(rasterise_roi(hidden, mask, grid), 0);
  // Far away with a radius that does not reach: visits only offsets near the grid, so this
  // returns at once instead of walking (2 * 60000)^3 offsets.
  EXPECT_EQ(rasterise_roi(sphere_roi({1e6f, 4, 4}, 60000.0f), mask, grid), 0);
}

TEST(Rasterise, FreehandSquareMapsToItsVoxelsOnTheSlice) {
  // Zoom 8, centre (16, 16, 3): pixel p shows voxel 16 + (p - 128) / 8. The overlay square
  // 96..160 has its inside (255) at 97..159 -> voxels 12.125 ... 19.875, so x and y 12..19.
  const GridSize grid{32, 32, 8};
  std::vector<uint8_t> mask(32 * 32 * 8, 0);
  const ROI_OBJECT roi = square_roi({16, 16, 3}, 8.0f, 96, 96, 160, 160);
  EXPECT_EQ(rasterise_roi(roi, mask, grid), 64);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const bool inside = x >= 12 && x <= 19 && y >= 12 && y <= 19;
      ASSERT_EQ(mask[(3 * 32 + y) * 32 + x], inside ? 1 : 0) << x << "," << y;
    }
  }
}

TEST(Rasterise, FreehandAtLowZoomNeverReadsPastTheOverlay) {
  // Zoom 0.5 (a 1024-wide volume's first view): the step is 0.4 pixel and the last samples
  // round to pixel 256. With the overlay's last row and column inside, those samples must be
  // skipped, not read (AddressSanitizer would catch the read).
  const GridSize grid{1024, 4, 4};
  ROI_OBJECT roi;
  roi.type = ZTR_ROI_FREEHAND;
  roi.view.zoom = 0.5f;
  roi.view.centre = {256, 0, 1};
  roi.view.overlay.assign(256 * 256, ZTR_OVERLAY_INSIDE);
  std::vector<uint8_t> mask(size_t(1024) * 4 * 4, 0);
  // Sample position p maps to x = 256 + (p - 128) * 2 on slice z = 1. The sample at 255.2
  // gives x = 510.4; the next, 255.6, rounds to pixel 256 and is skipped, so x = 511 stays 0.
  EXPECT_GT(rasterise_roi(roi, mask, grid), 0);
  EXPECT_EQ(mask[(1 * 4 + 0) * 1024 + 510], 1);
  EXPECT_EQ(mask[(1 * 4 + 0) * 1024 + 511], 0);
}

TEST(Overlay, FilledOutlineHasEdgeRingAndInsideAndButtonsGrowAndShrinkIt) {
  std::vector<uint8_t> overlay = fill_outline_overlay({{10, 10}, {20, 10}, {20, 20}, {10, 20}});
  auto count = [&](uint8_t v) { return std::count(overlay.begin(), overlay.end(), v); };
  EXPECT_EQ(count(ZTR_OVERLAY_INSIDE), 9 * 9);  // 11..19
  EXPECT_EQ(count(ZTR_OVERLAY_EDGE), 11 * 11 - 9 * 9);
  dilate_overlay(overlay);  // one ring out: edge at 9..21, inside 10..20
  EXPECT_EQ(count(ZTR_OVERLAY_INSIDE), 11 * 11);
  EXPECT_EQ(count(ZTR_OVERLAY_EDGE), 13 * 13 - 11 * 11);
  erode_overlay(overlay);
  erode_overlay(overlay);  // two rings in: edge at 11..19, inside 12..18
  EXPECT_EQ(count(ZTR_OVERLAY_INSIDE), 7 * 7);
  EXPECT_EQ(count(0), 256 * 256 - 9 * 9);
  clear_overlay(overlay);
  EXPECT_EQ(count(0), 256 * 256);
}

TEST(RegionTest, SphereTestUsesDistanceSquaredAndTheSphericalMapCentre) {
  const RegionTest test = prepare_region_test(sphere_roi({10, 10, 10}, 2.0f));
  const float same[3] = {0, 0, 0};
  struct Case { float p[3]; bool inside; };
  const Case cases[] = {{{10, 10, 10}, true}, {{12, 10, 10}, true}, {{11.5f, 11.5f, 10}, false},
                        {{10, 10, 12.01f}, false}};
  for (const Case& c : cases) EXPECT_EQ(test(c.p, same), c.inside) << c.p[0] << "," << c.p[1];

  // Spherical map: sphere centre (20, 10, 5), axes a = (-1,0,0), b = (0,1,0), so
  // a x b = (0, 0, -1); R = 0.4 * 20 = 8: the region's centre is (20, 10, -3).
  ROI_OBJECT map = sphere_roi({0, 0, 0}, 1.0f);
  map.view.orientation = ZTR_VIEW_SPHERICAL_MAP;
  map.view.sphere_centre = {20, 10, 5};
  EXPECT_EQ(roi_sphere_centre(map.view), (Vec3{20, 10, -3}));
  const RegionTest on_map = prepare_region_test(map);
  const float centre[3] = {20, 10, -3}, off[3] = {20, 10, 5};
  EXPECT_TRUE(on_map(centre, centre));
  EXPECT_FALSE(on_map(off, off));
}

TEST(RegionTest, FreehandTestCountsSegmentsCrossingTheDrawnRegion) {
  // Axial plane z = 3 at zoom 8 around (16, 16): the drawn inside covers x, y in about
  // 12.1 ... 19.9.
  const RegionTest test = prepare_region_test(square_roi({16, 16, 3}, 8.0f, 96, 96, 160, 160));
  struct Case { float prev[3]; float cur[3]; bool crosses; const char* what; };
  const Case cases[] = {
      {{16, 16, 2.5f}, {16, 16, 3.5f}, true, "through the middle"},
      {{16, 16, 3.5f}, {16, 16, 2.5f}, true, "the other way"},
      {{13, 18, 2.0f}, {15, 14, 4.0f}, true, "slanted, crossing at (14, 16)"},
      {{16, 16, 3.2f}, {16, 16, 3.9f}, false, "both above the plane"},
      {{5, 5, 2.5f}, {5, 5, 3.5f}, false, "crossing outside the region"},
      {{16, 16, 3.0f}, {16, 16, 3.0f}, true, "lying in the plane, inside"},
      {{16, 16, 2.0f}, {16, 16, 3.0f}, true, "ending on the plane"},
      {{12.05f, 16, 2.5f}, {12.05f, 16, 3.5f}, false, "crossing on the edge ring"},
  };
  for (const Case& c : cases) EXPECT_EQ(test(c.cur, c.prev), c.crosses) << c.what;
}

TEST(RegionTest, FreehandOnASphericalMapCountsCrossingsOfItsSphere) {
  // Sphere centre Q = (20, 20, 10), a = (1,0,0), b = (0,1,0), c = (0,0,1), R = 0.5 * 20 = 10.
  // The map's centre pixel (128, 128) shows Q + R c = (20, 20, 20). A small drawn disc around
  // it covers directions close to +z.
  ROI_OBJECT roi;
  roi.type = ZTR_ROI_FREEHAND;
  roi.view.orientation = ZTR_VIEW_SPHERICAL_MAP;
  roi.view.sphere_centre = {20, 20, 10};
  roi.view.axis_a = {1, 0, 0};
  roi.view.axis_b = {0, 1, 0};
  roi.view.radius_fraction = 0.5f;
  roi.view.zoom = 4.0f;
  roi.view.points = {{118, 118}, {138, 118}, {138, 138}, {118, 138}};
  roi.view.overlay = fill_outline_overlay(roi.view.points);
  const RegionTest test = prepare_region_test(roi);
  const float in[3] = {20, 20, 19}, out[3] = {20, 20, 21}, far_in[3] = {28, 20, 12},
              far_out[3] = {40, 20, 12};
  EXPECT_TRUE(test(out, in)) << "crosses the sphere at (20, 20, 20), the map's centre";
  EXPECT_FALSE(test(in, in)) << "inside the sphere, no crossing";
  EXPECT_FALSE(test(far_out, far_in)) << "crosses where nothing is drawn";
}

TEST(RegionTest, VoxelgroupTestIsMembershipOfTheNodesVoxel) {
  const GridSize grid{8, 8, 8};
  std::vector<uint8_t> mask(512, 0);
  mask[(3 * 8 + 2) * 8 + 5] = 1;  // (5, 2, 3)
  ROI_OBJECT roi;
  roi.type = ZTR_ROI_VOXELGROUP;
  roi.group = voxel_group_from_mask(mask, grid);
  const RegionTest test = prepare_region_test(roi);
  const float a[3] = {5.9f, 2.1f, 3.0f}, b[3] = {6.0f, 2.0f, 3.0f}, c[3] = {-0.5f, 2, 3};
  EXPECT_TRUE(test(a, a));
  EXPECT_FALSE(test(b, a));
  EXPECT_FALSE(test(c, c));
  ROI_OBJECT empty;
  empty.type = ZTR_ROI_VOXELGROUP;
  EXPECT_FALSE(prepare_region_test(empty)(a, a));
}

TEST(RegionTest, APreparedTestOutlivesItsRoiAndAnswersFromManyThreads) {
  RegionTest test;
  {
    const ROI_OBJECT roi = square_roi({16, 16, 3}, 8.0f, 96, 96, 160, 160);
    test = prepare_region_test(roi);
  }
  std::atomic<int> hits{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        const float prev[3] = {16, 16, 2.5f}, cur[3] = {16, 16, 3.5f};
        if (test(cur, prev)) hits.fetch_add(1, std::memory_order_relaxed);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(hits.load(), 4000);
}
