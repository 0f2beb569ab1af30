// Track output: colour modes, hairlines, tubes, ribbons, the display build, the summary,
// the dump file and the voxelizations.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <random>

#include "analyzer/fibetrak/track_display.h"
#include "track_test_support.h"

using track_test::Console;
using track_test::halfline;

namespace {

const int32_t kSize[3] = {64, 64, 24};

// n nodes along x from (1, 2, 3), 0.7 apart.
std::unique_ptr<ZTR_FIBETRAK_HALFLINE> straight(int n) {
  std::vector<std::array<float, 3>> nodes;
  for (int k = 0; k < n; ++k) nodes.push_back({1.0f + 0.7f * k, 2.0f, 3.0f});
  return halfline(nodes);
}

std::vector<ZTR_OBJECT_COLOR> colours(const ZTR_FIBETRAK_HALFLINE& h, int mode) {
  FibetrakDisplay display;
  display.color_mode = mode;
  display.color1 = {0.2f, 0.4f, 0.6f, 0.0f};
  std::vector<ZTR_OBJECT_COLOR> c(static_cast<size_t>(h.count));
  Console console;
  color_halfline(h, display, kSize, c.data(), console.file);
  return c;
}

void expect_rgb(const ZTR_OBJECT_COLOR& c, float r, float g, float b, const char* what) {
  EXPECT_NEAR(c.r, r, 1e-5f) << what;
  EXPECT_NEAR(c.g, g, 1e-5f) << what;
  EXPECT_NEAR(c.b, b, 1e-5f) << what;
}

}  // namespace

TEST(TrackColours, DistanceCodingTurnsOnceEveryHundredFiftyNodes) {
  const auto h = straight(101);
  const auto c = colours(*h, ZTR_FIBETRAK_COLOR_DISTANCE);
  expect_rgb(c[0], 1, 0, 0, "node 0");
  expect_rgb(c[25], 0.5f, 0.5f, 0, "node 25: the wheel turns per node, not per 50");
  expect_rgb(c[50], 0, 1, 0, "node 50");
  expect_rgb(c[100], 0, 0, 1, "node 100");
}

TEST(TrackColours, AnisotropyCodingAndOpacityStayInRangeForNegativeEigenvalues) {
  auto h = straight(4);
  h->lambda2[1] = -0.2e-3f;  // noisy fits
  h->lambda3[2] = -0.5e-3f;
  h->lambda1[3] = 0.0f;
  const auto c = colours(*h, ZTR_FIBETRAK_COLOR_ANISOTROPY);
  expect_rgb(c[0], 1, 0.3f / 1.7f, 0.3f / 1.7f, "node 0");
  EXPECT_EQ(c[1].g, 0.0f);
  EXPECT_EQ(c[2].b, 0.0f);
  for (const auto& v : c) {
    EXPECT_TRUE(v.a >= 0.0f && v.a <= 1.0f);
    EXPECT_TRUE(std::isfinite(v.r) && std::isfinite(v.g) && std::isfinite(v.b));
  }
  // alpha(k+1) = alpha(k) (1 - 0.02 lambda2/lambda1), with lambda2/lambda1 clamped.
  EXPECT_FLOAT_EQ(c[0].a, 1.0f);
  EXPECT_FLOAT_EQ(c[1].a, 1.0f - 0.02f * (0.3f / 1.7f));
  EXPECT_FLOAT_EQ(c[2].a, c[1].a);
}

TEST(TrackColours, DirectionalCodingOfOneNodeIsBlackAndNodeZeroCopiesNodeOne) {
  const auto one = straight(1);
  expect_rgb(colours(*one, ZTR_FIBETRAK_COLOR_DIRECTIONAL)[0], 0, 0, 0, "one node");
  const auto h = halfline({{0, 0, 0}, {0, 3, 4}, {0, 3, 4}});
  const auto c = colours(*h, ZTR_FIBETRAK_COLOR_DIRECTIONAL);
  expect_rgb(c[1], 0, 0.6f, 0.8f, "node 1");
  expect_rgb(c[0], 0, 0.6f, 0.8f, "node 0");
  expect_rgb(c[2], 0, 0, 0, "zero-length segment");
}

TEST(TrackColours, FanAndUniqueColoursDependOnTheSeedsElevation) {
  // Volume centre (32, 32, 12). A seed straight "below" (z smaller) gives -v_z = 1: a = 90.
  const auto below = halfline({{32, 32, 2}});
  const auto above = halfline({{32, 32, 22}});
  const auto side = halfline({{60, 32, 12}});
  expect_rgb(colours(*below, ZTR_FIBETRAK_COLOR_RGB_FAN)[0], 0, 0, 1, "fan below");
  expect_rgb(colours(*above, ZTR_FIBETRAK_COLOR_RGB_FAN)[0], 1, 0, 0, "fan above");
  expect_rgb(colours(*side, ZTR_FIBETRAK_COLOR_RGB_FAN)[0], 1, 0, 0, "fan at a = 0");
  // unique: f = acos(-v_z) / 1.57; below f = 0 -> (0, 0, 1), above f = 1 -> (1, 0, 0).
  expect_rgb(colours(*below, ZTR_FIBETRAK_COLOR_UNIQUE)[0], 0, 0, 1, "unique below");
  expect_rgb(colours(*above, ZTR_FIBETRAK_COLOR_UNIQUE)[0], 1, 0, 0, "unique above");
  // A seed at the very centre has no direction: a fixed colour, never NaN.
  const auto centre = halfline({{32, 32, 12}});
  const auto c = colours(*centre, ZTR_FIBETRAK_COLOR_UNIQUE)[0];
  EXPECT_TRUE(std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b));
  expect_rgb(colours(*centre, ZTR_FIBETRAK_COLOR_UNIFORM)[0], 0.2f, 0.4f, 0.6f, "uniform");
}

TEST(TrackPrimitives, HairlinesAreOffsetByHalfAVoxel) {
  const auto h = straight(3);
  FibetrakDisplay display;
  Console console;
  std::unique_ptr<ZTR_POLYLINE_OBJECT> line(make_hairline(*h, display, kSize, console.file));
  ASSERT_EQ(line->points.size(), 3u);
  EXPECT_FLOAT_EQ(line->points[2].x, 1.0f + 1.4f + 0.5f);
  EXPECT_FLOAT_EQ(line->points[2].y, 2.5f);
  ASSERT_EQ(line->colors.size(), 3u);
}

TEST(TrackPrimitives, LongTubesKeepEveryFifthNodeAndTheEnds) {
  const struct {
    int n;
    std::vector<float> kept;
  } cases[] = {{10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
               {11, {0, 1, 5, 10}},
               {12, {0, 1, 5, 10, 11}},
               {16, {0, 1, 5, 10, 15}}};
  FibetrakDisplay display;
  Console console;
  for (const auto& c : cases) {
    const auto h = straight(c.n);
    std::unique_ptr<ZTR_TUBE_OBJECT> tube(make_tube(*h, display, kSize, console.file));
    ASSERT_EQ(tube->points.size(), c.kept.size()) << c.n;
    for (size_t i = 0; i < c.kept.size(); ++i) {
      EXPECT_FLOAT_EQ(tube->points[i].x, 1.0f + 0.7f * c.kept[i] + 0.5f) << c.n;
      EXPECT_EQ(tube->colors[i].a, 1.0f);
    }
    // Radius alpha x 0.8 x 64 / 256 with alpha fading by 1 - 0.02 x 0.3/1.7 per node.
    const float fade = 1.0f - 0.02f * (0.3f / 1.7f);
    EXPECT_NEAR(tube->radii.back(), std::pow(fade, c.kept.back()) * 0.2f, 1e-5f) << c.n;
  }
}

namespace {

// A field of fibers along x whose e2 is not fixed by symmetry: lambda2 > lambda3 with the
// e2 axis along y.
struct RibbonField {
  track_test::Field field{12, 6, 6, [](int, int, int) {
                            const double values[3] = {1.7e-3, 0.6e-3, 0.2e-3};
                            const double axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
                            return tensor_from_eigen_system(values, axes);
                          }};
  std::unique_ptr<TrackingFitContext> fit = TrackingFitContext::create(field.data());
};

}  // namespace

TEST(TrackPrimitives, RibbonsKeepTheSignOfE2AndHaveUnitNormals) {
  RibbonField f;
  ASSERT_TRUE(f.fit);
  const auto h = halfline({{2, 3, 3}, {2.7f, 3, 3}, {3.4f, 3, 3}, {4.1f, 3, 3.2f}, {4.8f, 3, 3}});
  std::unique_ptr<ZTR_TRIANGULAR_MESH> mesh(make_ribbon(*h, *f.fit));
  ASSERT_EQ(mesh->vertices.size(), 10u);
  ASSERT_EQ(mesh->triangles.size(), 8u);
  for (int k = 0; k + 1 < 5; ++k) {
    const auto& a0 = mesh->vertices[2 * k];
    const auto& a1 = mesh->vertices[2 * k + 1];
    const auto& b0 = mesh->vertices[2 * k + 2];
    const auto& b1 = mesh->vertices[2 * k + 3];
    // Both rungs point the same way: the quad is not a bow-tie.
    EXPECT_GT((a0.x - a1.x) * (b0.x - b1.x) + (a0.y - a1.y) * (b0.y - b1.y) + (a0.z - a1.z) * (b0.z - b1.z), 0.9f);
  }
  EXPECT_NEAR(std::fabs(mesh->vertices[0].y - mesh->vertices[1].y), 1.0f, 1e-4f);
  for (const auto& n : mesh->normals) EXPECT_NEAR(std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z), 1.0f, 1e-5f);
  EXPECT_EQ(mesh->triangles[1], (std::array<int32_t, 3>{1, 3, 2}));
  // One node: two vertices, no triangles.
  const auto one = halfline({{2, 3, 3}});
  std::unique_ptr<ZTR_TRIANGULAR_MESH> single(make_ribbon(*one, *f.fit));
  EXPECT_EQ(single->vertices.size(), 2u);
  EXPECT_TRUE(single->triangles.empty());
}

namespace {

// Two lines (the second invisible) with 3 forward and 2 backward nodes each.
ZTR_FIBETRAK_BUFFER hand_made_buffer() {
  ZTR_FIBETRAK_BUFFER buffer;
  buffer.seed_count = 5;
  buffer.lines.push_back(track_test::line({{1, 2, 3}, {2, 2, 3}, {3, 2, 3}}, {{1, 2, 3}, {0.5f, 2, 3}}));
  buffer.lines.push_back(track_test::line({{7, 7, 7}, {8, 7, 7}, {9, 7, 7}}, {{7, 7, 7}, {6, 7, 7}}));
  buffer.lines[0]->visible = 1;
  buffer.line_count = 2;
  return buffer;
}

std::string dump_text(const ZTR_FIBETRAK_BUFFER& buffer, float voxel_size, std::string* console_text) {
  std::FILE* f = std::tmpfile();
  Console console;
  // The dump closes the file, so the text is read back through a second descriptor.
  const int fd = dup(fileno(f));
  EXPECT_EQ(dump_fibetrak_buffer(buffer, f, voxel_size, console.file), 1);
  std::FILE* back = fdopen(fd, "r");
  std::rewind(back);
  std::string text;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, back)) > 0) text.append(chunk, n);
  std::fclose(back);
  if (console_text) *console_text = console.text();
  return text;
}

const char kDumpHeader[] =
    "=========================<This is a dump file of fiber tracking result in kLS-II. Format is "
    "below>========================\n\n"
    "\tN (number of total lines)\n"
    "\tM[1] (number of nodes in the 1st line)\n"
    "\tX\tY\tZ\tL1\tL2\tL3 (1st node position (mm) and tensor lambdas<x1000> in 1st line)\n"
    "\t\t\t\t\t:\n"
    "\tX\tY\tZ\tL1\tL2\tL3 (last node position and lambdas in 1st line)\n"
    "\t\t\t:\n"
    "\t\t\t:\n"
    "\tM[N] (number of nodes in the Nth(last) line)\n"
    "\tX\tY\tZ\tL1\tL2\tL3\n"
    "\t\t\t\t\t:\n"
    "\tX\tY\tZ\tL1\tL2\tL3 (last node position and lambdas of Nth line)\n\n"
    "================================================<Dump result is from "
    "here>================================================\n";

}  // namespace

TEST(TrackDump, WritesVisibleLinesFromTheForwardEndThroughTheSeed) {
  const ZTR_FIBETRAK_BUFFER buffer = hand_made_buffer();
  std::string console;
  const std::string text = dump_text(buffer, 2.0f, &console);
  EXPECT_EQ(text, std::string(kDumpHeader) +
                      "1\n"
                      "4\n"
                      "6.00\t4.00\t6.00\t1.70\t0.30\t0.30\n"
                      "4.00\t4.00\t6.00\t1.70\t0.30\t0.30\n"
                      "2.00\t4.00\t6.00\t1.70\t0.30\t0.30\n"
                      "1.00\t4.00\t6.00\t1.70\t0.30\t0.30\n");
  EXPECT_EQ(console, "");
}

TEST(TrackDump, NoVisibleLineGivesTheHeaderAndZero) {
  ZTR_FIBETRAK_BUFFER buffer = hand_made_buffer();
  buffer.lines[0]->visible = 0;
  std::FILE* f = std::tmpfile();
  const int fd = dup(fileno(f));
  Console console;
  EXPECT_EQ(dump_fibetrak_buffer(buffer, f, 1.0f, console.file), 0);
  std::FILE* back = fdopen(fd, "r");
  std::rewind(back);
  std::string text(8192, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), back));
  std::fclose(back);
  EXPECT_EQ(text, std::string(kDumpHeader) + "0\n");
}

TEST(TrackDump, UnsetVoxelSizeIsTakenAsOneMillimetreWithAWarning) {
  std::string console;
  const std::string text = dump_text(hand_made_buffer(), 0.0f, &console);
  EXPECT_NE(text.find("3.00\t2.00\t3.00\t"), std::string::npos);
  EXPECT_NE(console.find("Warning: voxel size not set"), std::string::npos);
}

TEST(TrackDump, AFileThatCannotBeOpenedIsSaid) {
  Console console;
  EXPECT_EQ(dump_fibetrak_file(hand_made_buffer(), "/nonexistent-dir/fibetrak_dump.txt", 1.0f, console.file), -1);
  EXPECT_NE(console.text().find("cannot open the dump file /nonexistent-dir/fibetrak_dump.txt"), std::string::npos);
}

TEST(TrackSummary, CountsSeedsLinesPrimitivesAndBufferSize) {
  RibbonField f;
  ZTR_FIBETRAK_BUFFER buffer = hand_made_buffer();
  FibetrakDisplay display;
  std::string status;
  Console console;
  std::unique_ptr<ZTR_OBJECT_GROUP, void (*)(ZTR_OBJECT_GROUP*)> group(
      build_track_display(buffer, display, *f.fit, &status, console.file), ZTR_DeleteObjectGroup);
  ASSERT_TRUE(group);
  EXPECT_EQ(group->capacity, 4);
  EXPECT_EQ(group->count, 2);
  EXPECT_EQ(group->types[0], ZTR_OBJECT_TYPE_POLYLINE);
  EXPECT_EQ(status, "Seed:5, Lines:2/4\n");
  // (32 x 5 + 24) per line, two lines: 368 bytes = 0.0 Mb.
  EXPECT_EQ(fibetrak_summary(buffer, group.get()),
            "Seed Points:   5\nTracked Lines:   2\nDrawn Lines:   1\nBuffer Size:   0.0 Mb\n");
  display.primitive = ZTR_FIBETRAK_PRIMITIVE_TUBE;
  group.reset(build_track_display(buffer, display, *f.fit, &status, console.file));
  EXPECT_EQ(group->types[1], ZTR_OBJECT_TYPE_TUBE);
  display.primitive = ZTR_FIBETRAK_PRIMITIVE_RIBBON;
  group.reset(build_track_display(buffer, display, *f.fit, &status, console.file));
  EXPECT_EQ(group->types[0], ZTR_OBJECT_TYPE_TRIANGULAR_MESH);
}

namespace {

ZTR_OBJECT_GROUP* group_of(const std::vector<ZTR_OBJECT_POINT>& points, ZTR_OBJECT_COLOR colour, int32_t type) {
  ZTR_OBJECT_GROUP* group = ZTR_NewObjectGroup(1);
  if (type == ZTR_OBJECT_TYPE_POLYLINE) {
    auto* line = ZTR_NewPolylineObject(static_cast<int32_t>(points.size()), true);
    line->points = points;
    std::fill(line->colors.begin(), line->colors.end(), colour);
    ZTR_AppendObject(group, line, nullptr);
  } else {
    auto* mesh = ZTR_NewTriangularMesh(0, static_cast<int32_t>(points.size()), true);
    mesh->vertices = points;
    ZTR_AppendObject(group, mesh, nullptr);
  }
  return group;
}

}  // namespace

TEST(TrackVoxelize, MaskSkipsPointsPastTheUpperEdge) {
  // A node just below x = 8 plus the half-voxel offset lies at 8.4: outside an 8-voxel grid.
  std::unique_ptr<ZTR_OBJECT_GROUP, void (*)(ZTR_OBJECT_GROUP*)> group(
      group_of({{6.5f, 1.5f, 1.5f}, {8.4f, 1.5f, 1.5f}}, {1, 1, 1, 1}, ZTR_OBJECT_TYPE_POLYLINE),
      ZTR_DeleteObjectGroup);
  const int32_t size[3] = {8, 4, 4};
  const ZTR_OBJECT_GROUP* groups[1] = {group.get()};
  Console console;
  VolumePtr mask(voxelize_tracklines_mask(groups, size, console.file));
  ASSERT_TRUE(mask);
  const uint8_t* v = ZTR_ChannelData<uint8_t>(mask.get(), 0);
  int set = 0;
  for (int i = 0; i < 8 * 4 * 4; ++i) set += v[i];
  EXPECT_EQ(set, 2);  // voxels 6 and 7 of row (1, 1)
  EXPECT_EQ(v[(1 * 4 + 1) * 8 + 7], 1);
  EXPECT_EQ(console.text(), "1 lines\n");
}

TEST(TrackVoxelize, ColourSaturatesAndNegativePositionsDoNotWrap) {
  // A vertex at x = -0.3: the cell starts at -1, voxel 0 gets weight 0.3, nothing wraps.
  std::vector<ZTR_OBJECT_POINT> points;
  for (int i = 0; i < 200; ++i) points.push_back({i % 2 ? 0.0f : -0.3f, 0.0f, 0.0f});
  std::unique_ptr<ZTR_OBJECT_GROUP, void (*)(ZTR_OBJECT_GROUP*)> group(
      group_of(points, {1.0f, 0.5f, 0.0f, 1.0f}, ZTR_OBJECT_TYPE_POLYLINE), ZTR_DeleteObjectGroup);
  const int32_t size[3] = {128, 2, 2};  // q = 1
  const ZTR_OBJECT_GROUP* groups[1] = {group.get()};
  Console console;
  VolumePtr colour(voxelize_tracklines_color(groups, size, console.file));
  ASSERT_TRUE(colour);
  const uint32_t v0 = ZTR_ChannelData<uint32_t>(colour.get(), 0)[0];
  EXPECT_EQ(v0 >> 24, 255u);            // red saturated
  EXPECT_EQ((v0 >> 16) & 0xFF, 255u);   // green saturated too after many splats
  EXPECT_EQ((v0 >> 8) & 0xFF, 0u);      // blue stays 0, no wrap from a negative weight
  // Truncating -0.3 toward zero would put weight -0.3 on voxel 1 (a wrapped, bright voxel);
  // with the cell found by floor voxel 1 gets nothing.
  EXPECT_EQ(ZTR_ChannelData<uint32_t>(colour.get(), 0)[1], 0u);
  VolumePtr grey(voxelize_tracklines_grey(groups, size, console.file));
  const int16_t g0 = ZTR_ChannelData<int16_t>(grey.get(), 0)[0];
  EXPECT_GT(g0, 0);
}

TEST(TrackVoxelize, GreySaturatesAndRibbonsAreSkipped) {
  std::vector<ZTR_OBJECT_POINT> points(6000, ZTR_OBJECT_POINT{1.0f, 1.0f, 1.0f});
  std::unique_ptr<ZTR_OBJECT_GROUP, void (*)(ZTR_OBJECT_GROUP*)> group(
      group_of(points, {1, 1, 1, 1}, ZTR_OBJECT_TYPE_POLYLINE), ZTR_DeleteObjectGroup);
  const int32_t size[3] = {256, 3, 3};  // q = 2: 32 per splat of weight 1
  const ZTR_OBJECT_GROUP* groups[1] = {group.get()};
  Console console;
  VolumePtr grey(voxelize_tracklines_grey(groups, size, console.file));
  EXPECT_EQ(ZTR_Voxel<int16_t>(grey.get(), 0, 1, 1, 1), 32767);
  std::unique_ptr<ZTR_OBJECT_GROUP, void (*)(ZTR_OBJECT_GROUP*)> ribbon(
      group_of(points, {1, 1, 1, 1}, ZTR_OBJECT_TYPE_TRIANGULAR_MESH), ZTR_DeleteObjectGroup);
  const ZTR_OBJECT_GROUP* ribbons[1] = {ribbon.get()};
  VolumePtr none(voxelize_tracklines_grey(ribbons, size, console.file));
  EXPECT_EQ(ZTR_Voxel<int16_t>(none.get(), 0, 1, 1, 1), 0);
}

TEST(TrackDump, TwoDecimalFormattingMatchesPrintfIncludingTies) {
  std::mt19937 random(11);
  std::vector<float> values = {0.0f, -0.0f, 0.125f, 0.375f, 2.675f, -0.001f, -0.005f, 0.005f,
                               1.005f, 99.995f, 1e12f, -123456.78f, 0.045f, 3.0e-8f};
  std::uniform_real_distribution<float> wide(-5000.0f, 5000.0f), narrow(-2.0f, 2.0f);
  for (int i = 0; i < 200000; ++i) values.push_back(i % 2 ? wide(random) : narrow(random));
  for (int i = 0; i < 4000; ++i) values.push_back(static_cast<float>(i) / 8.0f);  // exact ties
  for (float v : values) {
    char expected[64], actual[64];
    std::snprintf(expected, sizeof expected, "%3.2f", v);
    char* end = format_two_decimals(v, actual, sizeof actual);
    *end = '\0';
    ASSERT_STREQ(actual, expected) << v;
  }
}
