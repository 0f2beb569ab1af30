// Seed generation and the target and avoidance selection of lines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "analyzer/fibetrak/fibetrak.h"
#include "track_test_support.h"

using track_test::Console;

TEST(Seeds, GaussianDeviatesRepeatAfterReinitialising) {
  GaussianDeviates g;
  std::vector<float> first;
  for (int i = 0; i < 100; ++i) first.push_back(g.next());
  g.reinitialise();
  for (int i = 0; i < 100; ++i) EXPECT_EQ(g.next(), first[static_cast<size_t>(i)]);
  // Standard normal in the large: mean near 0, variance near 1.
  double sum = 0, squares = 0;
  for (int i = 0; i < 20000; ++i) {
    const double v = g.next();
    sum += v;
    squares += v * v;
  }
  EXPECT_NEAR(sum / 20000, 0.0, 0.03);
  EXPECT_NEAR(squares / 20000, 1.0, 0.05);
}

TEST(Seeds, UniformIsTheMinimalStandardGeneratorThroughItsShuffleTable) {
  // The state after 8 warm-up draws and 32 table fills from 1 is 16807^40 mod (2^31 - 1);
  // the first output comes from the table slot chosen by its first entry.
  GaussianDeviates g;
  const float u = g.uniform();
  EXPECT_GT(u, 0.0f);
  EXPECT_LT(u, 1.0f);
  int64_t state = 1;
  std::vector<int64_t> draws;
  for (int i = 0; i < 41; ++i) {
    state = state * 16807 % 2147483647;
    draws.push_back(state);
  }
  // Table slot j holds draw 39 - j (the fill runs downwards); the first entry is draw 39.
  const int64_t first_entry = draws[39];
  const int slot = static_cast<int>(first_entry / (1 + (2147483647 - 1) / 32));
  EXPECT_FLOAT_EQ(u, static_cast<float>(draws[static_cast<size_t>(39 - slot)]) / 2147483647.0f);
}

TEST(Seeds, SphereSeedsAreReproducibleAndFillTheSphere) {
  const float centre[3] = {20, 21, 22};
  std::vector<float> a, b;
  const int n = generate_sphere_seeds(centre, 4.0f, 0.5f, ZTR_FIBETRAK_MAX_SEEDS, &a);
  generate_sphere_seeds(centre, 4.0f, 0.5f, ZTR_FIBETRAK_MAX_SEEDS, &b);
  ASSERT_EQ(a, b);
  ASSERT_EQ(static_cast<size_t>(n) * 3, a.size());
  const double expected = 4.0 / 3.0 * M_PI * 64.0 / 0.125;  // volume / spacing^3
  EXPECT_NEAR(n, expected, 0.1 * expected);
  for (size_t i = 0; i < a.size(); i += 3) {
    const float dx = a[i] - 20, dy = a[i + 1] - 21, dz = a[i + 2] - 22;
    EXPECT_LE(dx * dx + dy * dy + dz * dz, 16.0f);
  }
}

TEST(Seeds, SeedLimitStopsWithItsMessage) {
  Console console;
  std::vector<float> table;
  const float centre[3] = {0, 0, 0};
  EXPECT_EQ(generate_sphere_seeds(centre, 4.0f, 0.5f, 100, &table, console.file), 100);
  EXPECT_EQ(table.size(), 300u);
  EXPECT_EQ(console.text(), "Over seed number limit (100).\n");
}

TEST(Seeds, SpacingFollowsRegionAndDensity) {
  const struct {
    int region, density;
    float spacing;
  } cases[] = {{ZTR_REGION_FREEHAND, ZTR_FIBETRAK_SEED_DENSITY_NORMAL, 0.5f},
               {ZTR_REGION_FREEHAND_ON_MAP, ZTR_FIBETRAK_SEED_DENSITY_HIGH, 0.25f},
               {ZTR_REGION_SPHERE, ZTR_FIBETRAK_SEED_DENSITY_NORMAL, 0.75f},
               {ZTR_REGION_LISTED, ZTR_FIBETRAK_SEED_DENSITY_HIGH, 0.5f}};
  for (const auto& c : cases) EXPECT_FLOAT_EQ(seed_spacing(128, c.region, c.density), c.spacing);
}

TEST(Seeds, VoxelGroupSeedsLieInSetVoxelsOnly) {
  // A 4 x 4 x 4 box at (10, 10, 10) with only voxel (1, 2, 3) of the box set.
  const int32_t origin[3] = {10, 10, 10}, size[3] = {4, 4, 4};
  std::vector<uint8_t> bits(8, 0);
  const int v = (3 * 4 + 2) * 4 + 1;
  bits[v / 8] = static_cast<uint8_t>(1u << (v % 8));
  std::vector<float> table;
  const int n = generate_voxelgroup_seeds(origin, size, bits, 0.25f, ZTR_FIBETRAK_MAX_SEEDS, &table);
  ASSERT_GT(n, 20);
  for (size_t i = 0; i < table.size(); i += 3) {
    EXPECT_EQ(std::trunc(table[i] + 0.5f), 11.0f);
    EXPECT_EQ(std::trunc(table[i + 1] + 0.5f), 12.0f);
    EXPECT_EQ(std::trunc(table[i + 2] + 0.5f), 13.0f);
  }
  // Too few bits for the box: nothing, no overrun.
  EXPECT_EQ(generate_voxelgroup_seeds(origin, size, std::span<const uint8_t>(bits).first(7), 0.25f, 100, &table), 0);
}

TEST(Seeds, FreehandSeedsMapMaskPointsOntoThePlane) {
  std::vector<uint8_t> mask(256 * 256, 0);
  for (int b = 100; b < 140; ++b) {
    for (int a = 60; a < 70; ++a) mask[static_cast<size_t>(b) * 256 + a] = 255;
  }
  const float o[3] = {32, 32, 10}, u[3] = {1, 0, 0}, v[3] = {0, 1, 0};
  std::vector<float> table;
  const int n = generate_freehand_seeds(mask, o, u, v, 4.0f, 0.5f, ZTR_FIBETRAK_MAX_SEEDS, &table);
  ASSERT_GT(n, 10);
  for (size_t i = 0; i < table.size(); i += 3) {
    // Mask column a maps to x = 32 + (a - 128) / 4: columns 59.5 .. 69.5 give 14.9 .. 17.4.
    EXPECT_GE(table[i], 32 + (59.5f - 128) / 4);
    EXPECT_LE(table[i], 32 + (69.5f - 128) / 4);
    EXPECT_EQ(table[i + 2], 10.0f);
  }
  Console console;
  EXPECT_EQ(generate_freehand_seeds(mask, o, u, v, 4.0f, 0.5f, 0, &table, console.file), 0);
  EXPECT_EQ(console.text(), "maxPoints=0?\n");
}

namespace {

// Three lines along x at y = 0, 10, 20; each runs from x = 0 to x = 10 through its seed at 5.
ZTR_FIBETRAK_BUFFER three_lines() {
  ZTR_FIBETRAK_BUFFER buffer;
  for (float y : {0.0f, 10.0f, 20.0f}) {
    std::vector<std::array<float, 3>> forward, backward;
    for (int k = 0; k <= 5; ++k) {
      forward.push_back({5.0f + k, y, 0});
      backward.push_back({5.0f - k, y, 0});
    }
    buffer.lines.push_back(track_test::line(forward, backward));
  }
  buffer.line_count = 3;
  return buffer;
}

RegionTest sphere(float x, float y, float z, float r) {
  return [=](const float c[3], const float*) {
    return (c[0] - x) * (c[0] - x) + (c[1] - y) * (c[1] - y) + (c[2] - z) * (c[2] - z) <= r * r;
  };
}

std::vector<int> visible(const ZTR_FIBETRAK_BUFFER& b) {
  std::vector<int> v;
  for (const auto& l : b.lines) v.push_back(l->visible);
  return v;
}

}  // namespace

TEST(Regions, EveryTargetMustBeTouchedByEitherHalf) {
  ZTR_FIBETRAK_BUFFER buffer = three_lines();
  // Target A at the forward end of lines 0 and 1, B at the backward end of line 1 only.
  const std::vector<RegionTest> targets = {
      [](const float c[3], const float*) { return c[0] >= 9.5f && c[1] < 15.0f; },
      sphere(0, 10, 0, 0.5f)};
  ASSERT_EQ(mark_lines_by_regions(&buffer, ZTR_FIBETRAK_TARGET_SET, targets, 2), 2);
  EXPECT_EQ(buffer.lines[0]->forward->target_mask, 1);
  EXPECT_EQ(buffer.lines[1]->backward->target_mask, 2);
  EXPECT_EQ(select_visible_lines(&buffer, 2), 1);
  EXPECT_EQ(visible(buffer), (std::vector<int>{0, 1, 0}));
  // With no target (nothing marked) every line without avoidance is visible.
  clear_line_marks(&buffer, ZTR_FIBETRAK_TARGET_SET);
  EXPECT_EQ(select_visible_lines(&buffer, 0), 3);
}

TEST(Regions, AnyAvoidanceHitHidesTheLine) {
  ZTR_FIBETRAK_BUFFER buffer = three_lines();
  const std::vector<RegionTest> avoid = {sphere(1, 0, 0, 0.2f), sphere(8, 20, 0, 0.2f)};
  mark_lines_by_regions(&buffer, ZTR_FIBETRAK_AVOID_SET, avoid, 3);
  EXPECT_EQ(buffer.lines[0]->backward->avoid_mask, 1);
  EXPECT_EQ(buffer.lines[2]->forward->avoid_mask, 1);  // every avoidance region is bit 0
  EXPECT_EQ(select_visible_lines(&buffer, 0), 1);
  EXPECT_EQ(visible(buffer), (std::vector<int>{0, 1, 0}));
}

TEST(Regions, MarkingClearsTheSetFirstAndPassesThePreviousNode) {
  ZTR_FIBETRAK_BUFFER buffer = three_lines();
  buffer.lines[2]->forward->target_mask = 0xFFFF;
  // The test sees (current, previous): node 0 with itself, then each step.
  std::vector<std::array<float, 6>> calls;
  const RegionTest record = [&](const float c[3], const float p[3]) {
    if (c[1] == 0.0f) calls.push_back({c[0], c[1], c[2], p[0], p[1], p[2]});
    return false;
  };
  const std::vector<RegionTest> one = {record};
  mark_lines_by_regions(&buffer, ZTR_FIBETRAK_TARGET_SET, one, 1);
  EXPECT_EQ(buffer.lines[2]->forward->target_mask, 0);
  ASSERT_EQ(calls.size(), 12u);
  EXPECT_EQ(calls[0][0], calls[0][3]);
  EXPECT_EQ(calls[1][0], 6.0f);
  EXPECT_EQ(calls[1][3], 5.0f);
}

TEST(Regions, TargetsBeyondSixteenMarkNothingAndAreNotRequired) {
  ZTR_FIBETRAK_BUFFER buffer = three_lines();
  std::vector<RegionTest> targets(17, sphere(5, 0, 0, 0.1f));
  targets[16] = sphere(100, 100, 100, 0.1f);  // touched by nothing
  mark_lines_by_regions(&buffer, ZTR_FIBETRAK_TARGET_SET, targets, 4);
  EXPECT_EQ(buffer.lines[0]->forward->target_mask, 0xFFFF);
  EXPECT_EQ(select_visible_lines(&buffer, 17), 1);
}

TEST(Regions, MarkingOneHundredThousandLinesOnManyThreadsMatchesOneThread) {
  ZTR_FIBETRAK_BUFFER buffer;
  for (int i = 0; i < 2000; ++i) {
    const float y = static_cast<float>(i % 50);
    buffer.lines.push_back(track_test::line({{5, y, 0}, {6, y, 0}}, {{5, y, 0}, {4, y, 0}}));
  }
  buffer.line_count = 2000;
  const std::vector<RegionTest> targets = {[](const float c[3], const float*) { return c[1] < 25 && c[0] > 5.5f; }};
  mark_lines_by_regions(&buffer, ZTR_FIBETRAK_TARGET_SET, targets, 7);
  int marked = 0;
  for (const auto& l : buffer.lines) marked += l->forward->target_mask;
  EXPECT_EQ(marked, 1000);
}
