// The slice view model without a display: sampling in every orientation, the grey window,
// the pointer state machine, tracing, the overlay and following the host.
#include "analyzer/app/slice_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>

#include "tests/analyzer/app/app_fixtures.h"

namespace {

constexpr int S = ZTR_VIEW_SIZE;

// 32 x 32 x 12 voxels, value x + 10 y + 100 z: every axis is visible in the value.
VolumePtr ramp_volume(int channels = 1) {
  VolumePtr volume = make_volume(32, 32, 12, channels);
  fill_int16(volume.get(), [](int c, int64_t i) {
    const int x = static_cast<int>(i % 32), y = static_cast<int>(i / 32 % 32);
    const int z = static_cast<int>(i / (32 * 32));
    return x + 10 * y + 100 * z + 2000 * c;
  });
  return volume;
}

float at(const SliceView& view, int i, int j) { return view.image[j * S + i]; }

// A frame bound to `volume`, centred, at zoom 1, not following.
SliceViewFrame frame_on(const RawVolumeData* volume, int32_t mode = ZTR_DRAW_FREEHAND) {
  SliceViewFrame frame;
  frame.view.drawing_mode = mode;
  reset_frame(frame, volume);
  frame.follow = false;
  return frame;
}

// Grey image with the given white pixels (threshold display: window width exactly 1).
void paint_white(SliceView& view, const std::set<std::pair<int, int>>& white) {
  view.window_low = 0.0f;
  view.window_high = 1.0f;
  std::fill(view.grey_image.begin(), view.grey_image.end(), 0);
  for (auto [i, j] : white) view.grey_image[j * S + i] = 255;
}

std::vector<std::pair<int, int>> outline_of(const SliceView& view) {
  std::vector<std::pair<int, int>> points;
  for (int n = 0; n < view.point_count; ++n) points.emplace_back(view.outline[n][0], view.outline[n][1]);
  return points;
}

}  // namespace

// ---- sampling ------------------------------------------------------------------------------

TEST(SliceViewSampling, EachOrthogonalOrientationStepsAlongItsAxes) {
  VolumePtr volume = ramp_volume();
  struct Case {
    int32_t orientation;
    float zoom;
    float right;  // value change one pixel to the right (along u)
    float down;   // value change one pixel down (along v)
  } cases[] = {
      {ZTR_VIEW_AXIAL, 1.0f, 1.0f, 10.0f},     {ZTR_VIEW_SAGITTAL, 1.0f, 10.0f, 100.0f},
      {ZTR_VIEW_CORONAL, 1.0f, 1.0f, 100.0f},  {ZTR_VIEW_AXIAL, 2.0f, 0.5f, 5.0f},
      {ZTR_VIEW_CORONAL, 2.0f, 0.5f, 50.0f},
  };
  for (const Case& c : cases) {
    SliceViewFrame frame = frame_on(volume.get());
    frame.view.zoom = c.zoom;
    set_view_orientation(frame, c.orientation, false);
    const SliceView& v = frame.view;
    // The centre pixel shows the voxel at the centre (16, 16, 6): 16 + 160 + 600.
    EXPECT_EQ(at(v, 128, 128), 776.0f) << c.orientation;
    // Two pixels, so that half steps land on whole voxels at zoom 2.
    EXPECT_EQ(at(v, 130, 128) - at(v, 128, 128), 2 * c.right) << c.orientation;
    EXPECT_EQ(at(v, 128, 130) - at(v, 128, 128), 2 * c.down) << c.orientation;
  }
}

TEST(SliceViewSampling, AViewWithoutVolumeOrWithAMissingChannelKeepsItsPictures) {
  SliceView view;
  view.image[5] = 42.0f;
  sample_view(view, nullptr);
  EXPECT_EQ(view.image[5], 42.0f);
  VolumePtr volume = ramp_volume();
  view.channel = 3;
  sample_view(view, volume.get());
  EXPECT_EQ(view.image[5], 42.0f);
}

TEST(SliceViewSampling, ColourChannelsAreSampledAsRgba) {
  VolumeHeader header{4, 4, 2, 1};
  const int32_t type = ZTR_TYPE_UINT32, attribute = ZTR_ATTRIBUTE_RGBA;
  VolumePtr volume(ZTR_NewRawVolumeData(header, &type, &attribute));
  auto* data = ZTR_ChannelData<uint32_t>(volume.get(), 0);
  for (int i = 0; i < 32; ++i) data[i] = 0x20406080u;
  SliceViewFrame frame = frame_on(volume.get());
  EXPECT_TRUE(frame.view.colour);
  EXPECT_EQ(frame.view.window_high, 255.0f);
  EXPECT_EQ(frame.view.rgba_image[128 * S + 128], 0x20406080u);
  const std::vector<uint32_t> pixels = compose_view_pixels(frame.view, false, 0);
  EXPECT_EQ(pixels[128 * S + 128], 0xFF204060u);
}

// ---- spherical map ------------------------------------------------------------------------

TEST(SphericalMap, PixelsOutsideTheDiscAreZeroAndTheCentreLooksAlongTheAxis) {
  VolumePtr volume = ramp_volume();
  SliceViewFrame frame = frame_on(volume.get());
  SliceView& v = frame.view;
  v.sphere_centre = {10, 16, 6};
  v.radius_fraction = 0.4f;  // R = 4
  set_view_orientation(frame, ZTR_VIEW_SPHERICAL, false);
  EXPECT_EQ(at(v, 0, 0), 0.0f);
  EXPECT_EQ(at(v, 128, 0), 0.0f);  // (0 - 128)^2 = 16384 is outside
  EXPECT_NE(at(v, 128, 1), 0.0f);
  // c = a x b = (-1,0,0) x (0,1,0) = (0,0,-1): the centre samples Q + R c = (10, 16, 2).
  EXPECT_EQ(at(v, 128, 128), 10.0f + 160.0f + 200.0f);
}

TEST(SphericalMap, ARadiusOfZeroAndDirectionsAlongYDoNotBreakTheMap) {
  VolumePtr volume = ramp_volume();
  for (int32_t guideline : {ZTR_GUIDELINE_NONE, ZTR_GUIDELINE_Z, ZTR_GUIDELINE_XZ}) {
    SliceViewFrame frame = frame_on(volume.get());
    SliceView& v = frame.view;
    v.sphere_centre = {0, 16, 6};  // R = fraction x Q.x = 0
    v.guideline_mode = guideline;
    set_view_orientation(frame, ZTR_VIEW_SPHERICAL, false);
    for (float value : v.image) ASSERT_TRUE(std::isfinite(value));
    EXPECT_EQ(at(v, 128, 128), 0.0f) << "no direction at the centre, no sample";
    // Along column 128, P = (0, v, 0) points along y: no XZ angle, so no marker.
    if (guideline == ZTR_GUIDELINE_XZ) {
      EXPECT_NE(at(v, 128, 100), ZTR_GUIDELINE_MARKER);
    }
  }
}

TEST(SphericalMap, ZGuidelinesMarkMultiplesOfThirtyDegrees) {
  VolumePtr volume = ramp_volume();
  SliceViewFrame frame = frame_on(volume.get());
  frame.view.sphere_centre = {16, 16, 6};
  frame.view.guideline_mode = ZTR_GUIDELINE_Z;
  set_view_orientation(frame, ZTR_VIEW_SPHERICAL, false);
  // At the centre P = R c points along -z: 180 degrees, a marker.
  EXPECT_EQ(at(frame.view, 128, 128), ZTR_GUIDELINE_MARKER);
  int markers = 0;
  for (float value : frame.view.image) markers += value == ZTR_GUIDELINE_MARKER;
  EXPECT_GT(markers, 10);
  EXPECT_LT(markers, S * S / 4);
  frame.view.guideline_mode = ZTR_GUIDELINE_NONE;
  redraw_frame(frame);
  EXPECT_NE(at(frame.view, 128, 128), ZTR_GUIDELINE_MARKER);
}

TEST(SphericalMap, ControlDragTurnsTheAxesAndButtonTwoChangesTheRadiusFraction) {
  VolumePtr volume = ramp_volume();
  SliceViewFrame frame = frame_on(volume.get());
  set_view_orientation(frame, ZTR_VIEW_SPHERICAL, false);
  const Vec3 a = frame.view.spherical_a, b = frame.view.spherical_b;
  view_button_press(frame, 100, 100, 1, true);
  view_pointer_motion(frame, 100, 100);  // no displacement: the axes stay
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(frame.view.spherical_a[k], a[k], 1e-6f);
    EXPECT_NEAR(frame.view.spherical_b[k], b[k], 1e-6f);
  }
  view_pointer_motion(frame, 150, 100);
  const Vec3& na = frame.view.spherical_a;
  const Vec3& nb = frame.view.spherical_b;
  EXPECT_NEAR(na[0] * na[0] + na[1] * na[1] + na[2] * na[2], 1.0f, 1e-5f);
  EXPECT_NEAR(na[0] * nb[0] + na[1] * nb[1] + na[2] * nb[2], 0.0f, 1e-5f);
  EXPECT_GT(std::fabs(na[2]), 0.1f) << "a turned out of the XY plane";
  view_button_release(frame, 150, 100, 1);

  frame.view.radius_fraction = 0.9f;
  view_button_press(frame, 100, 100, 2, true);
  view_pointer_motion(frame, 100, 0);  // up by 100: +0.39, clamped at 1
  EXPECT_EQ(frame.view.radius_fraction, 1.0f);
  view_pointer_motion(frame, 100, 84);  // up by 16: +0.0625
  EXPECT_FLOAT_EQ(frame.view.radius_fraction, 0.9625f);
  view_pointer_motion(frame, 100, 255);  // down by 155: 0.9 - 0.61 = 0.29
  EXPECT_NEAR(frame.view.radius_fraction, 0.9f - 155.0f / 256.0f, 1e-6f);
  view_button_release(frame, 100, 255, 2);
  frame.view.radius_fraction = 0.3f;
  view_button_press(frame, 100, 0, 2, true);
  view_pointer_motion(frame, 100, 255);
  EXPECT_EQ(frame.view.radius_fraction, 0.1f);
}

// ---- grey window ---------------------------------------------------------------------------

TEST(GreyWindow, AdjustTakesTheCentralBoxAndNeverLeavesAnEmptyWindow) {
  struct Case {
    int16_t low_value, high_value;  // the box holds both
    float expect_low, expect_high;
  } cases[] = {
      {10, 10, 5.0f, 8.25f},      // constant v: 0.5 v and 0.75 (v + 1)
      {1, 1, 0.5f, 1.5f},         // constant 1: width exactly 1, a threshold display
      {100, 400, 50.0f, 300.0f},  // 0.5 min, 0.75 max
      {-3, -3, -3.0f, -2.0f},     // all negative and constant: min, max + 1
      {-10, -9, -10.0f, -9.0f},   // all negative: 0.5 min > 0.75 max, so min and max
  };
  for (const Case& c : cases) {
    VolumePtr volume = make_volume(8, 8, 2, 1);
    // Outside the central box (2..5 in x and y) the values must not count.
    fill_int16(volume.get(), [&](int, int64_t i) {
      const int x = static_cast<int>(i % 8), y = static_cast<int>(i / 8 % 8);
      if (x < 2 || x > 5 || y < 2 || y > 5) return 9999;
      return int{x == 3 && y == 3 ? c.high_value : c.low_value};
    });
    SliceView view;
    adjust_greyscale(view, volume.get());
    EXPECT_FLOAT_EQ(view.window_low, c.expect_low) << c.low_value << " " << c.high_value;
    EXPECT_FLOAT_EQ(view.window_high, c.expect_high) << c.low_value << " " << c.high_value;
    EXPECT_GT(view.window_high, view.window_low);
  }
}

TEST(GreyWindow, MappingIsLinearClampedAndSafeWithoutWidth) {
  SliceView view;
  view.image[0] = -5.0f;
  view.image[1] = 50.0f;
  view.image[2] = 500.0f;
  view.image[3] = 100.0f;
  view.window_low = 0.0f;
  view.window_high = 100.0f;
  map_to_grey(view);
  EXPECT_EQ(view.grey_image[0], 0);
  EXPECT_EQ(view.grey_image[1], 127);  // 127.5 truncated
  EXPECT_EQ(view.grey_image[2], 255);
  EXPECT_EQ(view.grey_image[3], 255);
  // A window without width (or inside out) must not divide by zero.
  view.window_low = view.window_high = 50.0f;
  map_to_grey(view);
  EXPECT_EQ(view.grey_image[1], 0);
  EXPECT_EQ(view.grey_image[2], 255);
}

TEST(GreyWindow, ThresholdButtonGivesABlackAndWhitePictureAndStopsFollowing) {
  VolumePtr volume = ramp_volume();
  SliceViewFrame frame = frame_on(volume.get());
  frame.follow = true;
  frame.view.window_low = 700.0f;
  frame.view.window_high = 900.0f;
  threshold_button(frame);
  EXPECT_FALSE(frame.follow);
  EXPECT_EQ(frame.view.window_low, 800.0f);
  EXPECT_EQ(frame.view.window_high, 801.0f);
  EXPECT_TRUE(in_threshold_mode(frame.view));
  std::set<int> values(frame.view.grey_image.begin(), frame.view.grey_image.end());
  EXPECT_EQ(values, (std::set<int>{0, 255}));
}

TEST(GreyWindow, ControlButtonThreeSetsLevelAndWidthWithAFloorOfHalfAPixel) {
  VolumePtr volume = ramp_volume();
  SliceViewFrame frame = frame_on(volume.get());
  frame.view.window_low = 100.0f;
  frame.view.window_high = 300.0f;
  view_button_press(frame, 100, 100, 3, true);
  view_pointer_motion(frame, 90, 80);  // dx = 10, dy = 20: level 180, half width 110
  EXPECT_EQ(frame.view.window_low, 70.0f);
  EXPECT_EQ(frame.view.window_high, 290.0f);
  view_pointer_motion(frame, 255, 100);  // dx = -155: half width floors at 0.5
  EXPECT_EQ(frame.view.window_high - frame.view.window_low, 1.0f);
  EXPECT_TRUE(in_threshold_mode(frame.view));
  int changes = 0;
  frame.on_change = [&](SliceViewFrame&) { ++changes; };
  view_button_release(frame, 255, 100, 3);
  EXPECT_EQ(changes, 0) << "a button 3 release is no edit";
}

// ---- zoom, channels, orientation -----------------------------------------------------------

TEST(SliceViewButtons, ZoomStepsByHalfAndNeverGoesBelowOne) {
  VolumePtr volume = ramp_volume();
  SliceViewFrame frame = frame_on(volume.get());
  frame.view.point_count = 5;
  zoom_out(frame);
  EXPECT_EQ(frame.view.zoom, 1.0f);
  EXPECT_EQ(frame.view.point_count, 0);
  for (int k = 0; k < 3; ++k) zoom_in(frame);
  EXPECT_EQ(frame.view.zoom, 2.5f);
  frame.view.zoom = 1.25f;
  zoom_out(frame);
  EXPECT_EQ(frame.view.zoom, 1.0f);
}

TEST(SliceViewButtons, ChannelStepsStopAtTheEndsButStillAdjustTheWindow) {
  VolumePtr volume = ramp_volume(3);
  SliceViewFrame frame = frame_on(volume.get());
  step_channel(frame, -1);
  EXPECT_EQ(frame.view.channel, 0);
  step_channel(frame, 1);
  step_channel(frame, 1);
  EXPECT_EQ(frame.view.channel, 2);
  EXPECT_EQ(at(frame.view, 128, 128), 776.0f + 4000.0f);
  frame.view.window_low = frame.view.window_high = 0.0f;
  frame.view.point_count = 3;
  step_channel(frame, 1);
  EXPECT_EQ(frame.view.channel, 2);
  EXPECT_GT(frame.view.window_high, frame.view.window_low) << "the window is adjusted again";
  EXPECT_EQ(frame.view.point_count, 3);
}

TEST(SliceViewButtons, AUserChoiceOfOrientationFollowsAgainButARefreshDoesNot) {
  VolumePtr volume = ramp_volume();
  SliceViewFrame frame = frame_on(volume.get());
  frame.view.point_count = 4;
  frame.redrawing = true;
  set_view_orientation(frame, ZTR_VIEW_CORONAL, true);
  EXPECT_FALSE(frame.follow);
  EXPECT_EQ(frame.view.point_count, 4);
  frame.redrawing = false;
  set_view_orientation(frame, ZTR_VIEW_SAGITTAL, true);
  EXPECT_TRUE(frame.follow);
  EXPECT_EQ(frame.view.point_count, 0);
  EXPECT_EQ(frame.view.orientation, ZTR_VIEW_SAGITTAL);
  set_view_orientation(frame, 999, true);
  EXPECT_EQ(frame.view.orientation, ZTR_VIEW_SAGITTAL) << "unknown codes are ignored";
}

// ---- control drags -------------------------------------------------------------------------

TEST(ControlDrag, ButtonOnePansWithThePointerAndButtonTwoMovesAlongTheNormal) {
  VolumePtr volume = ramp_volume();
  SliceViewFrame frame = frame_on(volume.get());
  frame.view.zoom = 2.0f;
  const Vec3 start = frame.view.centre;
  view_button_press(frame, 100, 100, 1, true);
  view_pointer_motion(frame, 110, 100);  // dx = -10 at zoom 2: -5 voxels in x
  EXPECT_EQ(frame.view.centre[0], start[0] - 5.0f);
  EXPECT_EQ(frame.view.centre[1], start[1]);
  view_button_release(frame, 110, 100, 1);

  set_view_orientation(frame, ZTR_VIEW_SAGITTAL, false);
  const Vec3 before = frame.view.centre;
  view_button_press(frame, 100, 100, 2, true);
  view_pointer_motion(frame, 100, 97);  // dy = 3; the sagittal normal is (-1, 0, 0)
  EXPECT_EQ(frame.view.centre[0], before[0] + 3.0f);
  view_button_release(frame, 100, 97, 2);

  set_view_orientation(frame, ZTR_VIEW_AXIAL, false);
  const Vec3 axial = frame.view.centre;
  view_button_press(frame, 100, 100, 2, true);
  view_pointer_motion(frame, 100, 98);  // the axial normal is (0, 0, 1)
  EXPECT_EQ(frame.view.centre[2], axial[2] - 2.0f);
}

// ---- drawing -------------------------------------------------------------------------------

TEST(Drawing, SphereRadiusFollowsTheVerticalDragAndStaysAtLeastOne) {
  VolumePtr volume = ramp_volume();
  SliceViewFrame frame = frame_on(volume.get(), ZTR_DRAW_SPHERE);
  frame.follow = true;
  frame.view.zoom = 2.0f;
  int changes = 0;
  frame.on_change = [&](SliceViewFrame&) { ++changes; };
  view_button_press(frame, 128, 128, 1, false);
  EXPECT_FALSE(frame.follow);
  view_pointer_motion(frame, 128, 108);  // 20 px up at zoom 2: +10
  EXPECT_EQ(frame.view.sphere_radius, 13.0f);
  view_pointer_motion(frame, 128, 255);
  EXPECT_EQ(frame.view.sphere_radius, 1.0f);
  view_pointer_motion(frame, 128, 118);
  view_button_release(frame, 128, 118, 1);
  EXPECT_EQ(changes, 1);
  // Radius 8 at zoom 2: a disc of 16 pixels radius around the centre.
  EXPECT_EQ(frame.view.overlay[128 * S + 128 + 16], 255);
  EXPECT_EQ(frame.view.overlay[128 * S + 128 + 17], 0);
  const std::vector<uint32_t> pixels = compose_view_pixels(frame.view, false, 0x00FF00);
  EXPECT_EQ(pixels[128 * S + 128 + 16], 0xFF00FF00u) << "the circle is drawn";
}

TEST(Drawing, FreehandStrokeKeepsItsFirstPointsAndClampsThePointer) {
  VolumePtr volume = ramp_volume();
  SliceViewFrame frame = frame_on(volume.get());
  // A drag that leaves the area, as GTK reports it: (-140, -140) and (400, 400).
  view_button_press(frame, 10, 10, 1, false);
  view_pointer_motion(frame, -140, -140);
  view_pointer_motion(frame, -140, -140);  // a repeated pixel is not a new point
  view_pointer_motion(frame, 400, 400);
  view_button_release(frame, 400, 400, 1);
  EXPECT_EQ(outline_of(frame.view),
            (std::vector<std::pair<int, int>>{{10, 10}, {0, 0}, {255, 255}}));

  view_button_press(frame, 0, 0, 1, false);
  for (int n = 1; n <= 5000; ++n) view_pointer_motion(frame, n % 256, (n / 256) % 256);
  EXPECT_EQ(frame.view.point_count, ZTR_OUTLINE_CAPACITY);
  EXPECT_EQ(frame.view.outline[ZTR_OUTLINE_CAPACITY - 1][0], 4112 % 256);
  view_button_release(frame, 0, 0, 1);
}

TEST(Drawing, FinishedOutlineIsFilledAndClippedToThePicture) {
  SliceView view;
  view.drawing_mode = ZTR_DRAW_FREEHAND;
  const std::pair<int, int> square[] = {{10, 10}, {20, 10}, {20, 20}, {10, 20}};
  for (auto [i, j] : square) view.outline[view.point_count++] = {uint16_t(i), uint16_t(j)};
  recompute_overlay(view);
  int inside = 0;
  for (uint8_t p : view.overlay) inside += p == 255;
  EXPECT_EQ(inside, 11 * 11);
  // Points past the picture (from a stored outline) are kept on it.
  view.point_count = 0;
  for (auto [i, j] : {std::pair{250, 250}, std::pair{600, 250}, std::pair{600, 600},
                      std::pair{250, 600}}) {
    view.outline[view.point_count++] = {uint16_t(i), uint16_t(j)};
  }
  recompute_overlay(view);
  inside = 0;
  for (uint8_t p : view.overlay) inside += p == 255;
  EXPECT_EQ(inside, 6 * 6);
}

TEST(Drawing, ACopiedViewIsIndependentOfItsSource) {
  SliceView a;
  a.point_count = 2;
  a.outline[1] = {7, 8};
  a.overlay[3] = 255;
  SliceView b;
  copy_view(b, a);
  a.outline[1] = {0, 0};
  a.overlay[3] = 0;
  EXPECT_EQ(b.point_count, 2);
  EXPECT_EQ(b.outline[1], (ViewPoint{7, 8}));
  EXPECT_EQ(b.overlay[3], 255);
}

// ---- tracing -------------------------------------------------------------------------------

TEST(BoundaryTracing, OutlinesOfSmallShapesEndAndCloseClockwise) {
  struct Case {
    const char* name;
    std::set<std::pair<int, int>> white;
    std::pair<int, int> click;
    std::vector<std::pair<int, int>> expect;  // empty: check the count only
    int count;
  };
  std::set<std::pair<int, int>> square;
  for (int j = 50; j < 60; ++j)
    for (int i = 50; i < 60; ++i) square.insert({i, j});
  const Case cases[] = {
      {"isolated pixel", {{100, 100}}, {100, 100}, {{100, 100}}, 1},
      {"two pixels", {{100, 100}, {101, 100}}, {100, 100},
       {{101, 100}, {100, 100}, {101, 100}}, 3},
      // 36 border pixels, plus the return to the start.
      {"10 x 10 square", square, {52, 55}, {}, 37},
  };
  for (const Case& c : cases) {
    SliceView view;
    paint_white(view, c.white);
    ASSERT_TRUE(trace_boundary(view, c.click.first, c.click.second)) << c.name;
    EXPECT_EQ(view.point_count, c.count) << c.name;
    if (!c.expect.empty()) {
      EXPECT_EQ(outline_of(view), c.expect) << c.name;
    }
  }
  // The square starts at its right edge and goes down first (clockwise on the screen).
  SliceView view;
  paint_white(view, square);
  trace_boundary(view, 52, 55);
  EXPECT_EQ(outline_of(view)[0], (std::pair<int, int>{59, 55}));
  EXPECT_EQ(outline_of(view)[1], (std::pair<int, int>{59, 56}));
  const auto points = outline_of(view);
  std::set<std::pair<int, int>> visited(points.begin(), points.end());
  EXPECT_EQ(visited.size(), 36u);
}

TEST(BoundaryTracing, ARegionAtTheBorderStaysInsideAndABlackClickTracesNothing) {
  std::set<std::pair<int, int>> band;
  for (int j = 100; j < 110; ++j)
    for (int i = 240; i < 256; ++i) band.insert({i, j});
  SliceView view;
  paint_white(view, band);
  ASSERT_TRUE(trace_boundary(view, 245, 105));
  for (auto [i, j] : outline_of(view)) {
    EXPECT_GE(i, 1);
    EXPECT_LE(i, 254);
  }
  EXPECT_EQ(outline_of(view)[0].first, 254) << "the border column counts as grey";
  EXPECT_EQ(view.grey_image[105 * S + 255], 255) << "the picture itself is left as it was";
  view.point_count = 7;
  EXPECT_FALSE(trace_boundary(view, 10, 10));
  EXPECT_EQ(view.point_count, 7);
}

TEST(BoundaryTracing, AFreehandClickOnAWhitePixelTracesInThresholdMode) {
  VolumePtr volume = make_volume(32, 32, 4, 1);
  // A bright 4 x 4 block in every slice.
  fill_int16(volume.get(), [](int, int64_t i) {
    const int x = static_cast<int>(i % 32), y = static_cast<int>(i / 32 % 32);
    return x >= 14 && x < 18 && y >= 14 && y < 18 ? 1000 : 0;
  });
  SliceViewFrame frame = frame_on(volume.get());
  frame.view.window_low = 499.5f;
  frame.view.window_high = 500.5f;
  redraw_frame(frame);
  ASSERT_TRUE(in_threshold_mode(frame.view));
  int changes = 0;
  frame.on_change = [&](SliceViewFrame&) { ++changes; };
  view_button_press(frame, 128, 128, 1, false);
  view_button_release(frame, 128, 128, 1);
  EXPECT_EQ(changes, 1);
  EXPECT_GT(frame.view.point_count, 4);
  EXPECT_EQ(frame.view.overlay[128 * S + 128], 255) << "the traced region is filled";
  // Without threshold display a click stays a one-point outline.
  frame.view.window_high = 900.0f;
  redraw_frame(frame);
  view_button_press(frame, 128, 128, 1, false);
  view_button_release(frame, 128, 128, 1);
  EXPECT_EQ(frame.view.point_count, 1);
}

// ---- following the host --------------------------------------------------------------------

TEST(FollowHost, AFollowingViewMovesToTheCursorAndAHeldOneStays) {
  VolumePtr volume = ramp_volume();
  SliceViewFrame frame = frame_on(volume.get());
  ZTRipc_BROADCASTER broadcast{};
  broadcast.cursor[0] = 3;
  broadcast.cursor[1] = 4;
  broadcast.cursor[2] = 5;
  const Vec3 start = frame.view.centre;
  follow_host(frame, broadcast);
  EXPECT_EQ(frame.view.centre, start) << "not following";
  frame.follow = true;
  frame.view.point_count = 9;
  follow_host(frame, broadcast);
  EXPECT_EQ(frame.view.centre, (Vec3{3, 4, 5}));
  EXPECT_EQ(frame.view.point_count, 0);
  EXPECT_EQ(at(frame.view, 128, 128), 3.0f + 40.0f + 500.0f);
  int repaints = 0;
  frame.on_repaint = [&](SliceViewFrame&) { ++repaints; };
  follow_host(frame, broadcast);
  EXPECT_EQ(repaints, 0) << "already at the cursor";
  broadcast.cursor[2] = 6;
  follow_host(frame, broadcast);
  EXPECT_EQ(repaints, 1);
  EXPECT_EQ(frame.view.centre, (Vec3{3, 4, 6}));
  broadcast.cursor[2] = 5;
  follow_host(frame, broadcast);
  broadcast.cursor[0] = NAN;
  follow_host(frame, broadcast);
  EXPECT_EQ(frame.view.centre, (Vec3{3, 4, 5}));
}
