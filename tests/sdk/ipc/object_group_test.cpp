// Object groups: construction, exact wire sizes, the writer's byte layout, and the
// bounded reader's refusals.
#include "sdk/ipc/object_group.h"
#include "sdk/ipc/object_group_ptr.h"
#include "tests/support/console_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

std::vector<unsigned char> wire_of(const ZTR_OBJECT_GROUP* group) {
  std::vector<unsigned char> bytes(ZTR_GetObjectGroupWireSize(group));
  EXPECT_EQ(ZTR_WriteObjectGroup(group, bytes.data(), bytes.size()),
            static_cast<int64_t>(bytes.size()));
  return bytes;
}

int32_t i32_at(const std::vector<unsigned char>& bytes, size_t offset) {
  int32_t v;
  std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}

float f32_at(const std::vector<unsigned char>& bytes, size_t offset) {
  float v;
  std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}

void put_i32(std::vector<unsigned char>& bytes, int32_t v) {
  const auto* p = reinterpret_cast<const unsigned char*>(&v);
  bytes.insert(bytes.end(), p, p + 4);
}

// A polyline of n points (x = index) without colours.
ZTR_POLYLINE_OBJECT* line_of(int n) {
  ZTR_POLYLINE_OBJECT* line = ZTR_NewPolylineObject(n, false);
  for (int i = 0; i < n; ++i) line->points[static_cast<size_t>(i)] = {float(i), 0.5f, -1.0f};
  return line;
}

// Group header bytes for `count` slots of one type, flag 1 and white colour.
std::vector<unsigned char> header_bytes(int32_t count, int32_t type) {
  std::vector<unsigned char> bytes;
  put_i32(bytes, count);
  for (int i = 0; i < count; ++i) put_i32(bytes, type);
  for (int i = 0; i < count; ++i) put_i32(bytes, 1);
  for (int i = 0; i < count * 4; ++i) put_i32(bytes, std::bit_cast<int32_t>(1.0f));
  return bytes;
}

// A full group with one object of every type the analyzer builds.
GroupPtr analyzer_group() {
  GroupPtr group(ZTR_NewObjectGroup(8));
  const ZTR_OBJECT_COLOR red{1.0f, 0.0f, 0.0f, 0.5f};
  EXPECT_EQ(ZTR_AppendObject(group.get(), ZTR_NewSphereObject({1, 2, 3}, 4.5f), &red), 0);
  const ZTR_OBJECT_POINT axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const float radii[3] = {3.0f, 2.0f, 1.0f};
  EXPECT_EQ(ZTR_AppendObject(group.get(), ZTR_NewEllipsoidObject({5, 5, 5}, axes, radii), nullptr), 0);
  EXPECT_EQ(ZTR_AppendObject(group.get(), ZTR_NewSegmentObject({0, 0, 0}, {1, 1, 1}, 0.25f), nullptr, 0), 0);
  ZTR_SEGMENTS_OBJECT* segments = ZTR_NewSegmentsObject(2);
  segments->starts[1] = {7, 8, 9};
  segments->ends[1] = {10, 11, 12};
  EXPECT_EQ(ZTR_AppendObject(group.get(), segments, nullptr), 0);
  EXPECT_EQ(ZTR_AppendObject(group.get(), line_of(3), nullptr), 0);
  ZTR_TUBE_OBJECT* tube = ZTR_NewTubeObject(2, true);
  tube->radii = {0.5f, 0.75f};
  tube->colors[1] = {0.1f, 0.2f, 0.3f, 0.4f};
  EXPECT_EQ(ZTR_AppendObject(group.get(), tube, nullptr), 0);
  ZTR_TRIANGULAR_MESH* mesh = ZTR_NewTriangularMesh(1, 3, false);
  mesh->triangles[0] = {0, 1, 2};
  mesh->vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh->normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
  EXPECT_EQ(ZTR_AppendObject(group.get(), mesh, nullptr), 0);
  ZTR_OBJECT_GROUP* nested = ZTR_NewObjectGroup(1);
  EXPECT_EQ(ZTR_AppendObject(nested, ZTR_NewSphereObject({9, 9, 9}, 1.0f), nullptr), 0);
  EXPECT_EQ(ZTR_AppendObject(group.get(), nested, nullptr), 0);
  return group;
}

}  // namespace

TEST(ObjectGroupCreation, NewGroupHasNoObjectsFlagsOneAndNoColours) {
  GroupPtr group(ZTR_NewObjectGroup(8));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->count, 0);
  EXPECT_EQ(group->capacity, 8);
  ASSERT_EQ(group->flags.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(group->flags[i], 1);
    EXPECT_EQ(group->objects[i], nullptr);
    EXPECT_FALSE(group->colors[i].has_value());
  }
  EXPECT_EQ(ZTR_NewObjectGroup(-1), nullptr);
}

TEST(ObjectGroupCreation, ConstructorsSetTheTrailingIntegers) {
  std::unique_ptr<ZTR_SPHERE_OBJECT> sphere(ZTR_NewSphereObject({1, 2, 3}, 4));
  EXPECT_EQ(sphere->tail[0], 8);
  EXPECT_EQ(sphere->tail[1], 142);
  std::unique_ptr<ZTR_SEGMENT_OBJECT> segment(ZTR_NewSegmentObject({0, 0, 0}, {1, 0, 0}, 2.0f));
  EXPECT_EQ(segment->tail[0], 8);
  EXPECT_EQ(segment->tail[1], 142);
  EXPECT_EQ(std::bit_cast<float>(segment->values[0]), 2.0f);
  std::unique_ptr<ZTR_TUBE_OBJECT> tube(ZTR_NewTubeObject(4, false));
  EXPECT_EQ(tube->tail[0], 8);
  EXPECT_EQ(tube->tail[1], 142);
  EXPECT_EQ(tube->radii.size(), 4u);
  EXPECT_TRUE(tube->colors.empty());
  const ZTR_OBJECT_POINT axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const float radii[3] = {3, 2, 1};
  std::unique_ptr<ZTR_ELLIPSOID_OBJECT> ellipsoid(ZTR_NewEllipsoidObject({0, 0, 0}, axes, radii));
  EXPECT_EQ(ellipsoid->tail[1], 142);
  EXPECT_EQ(std::bit_cast<float>(ellipsoid->values[1]), 2.0f);
  EXPECT_EQ(ellipsoid->points[3].z, 1.0f);
  std::unique_ptr<ZTR_TRIANGULAR_MESH> mesh(ZTR_NewTriangularMesh(2, 4, true));
  EXPECT_EQ(mesh->colors.size(), 4u);
  EXPECT_EQ(mesh->colors[3].a, 1.0f);
  EXPECT_EQ(ZTR_NewTriangularMesh(-1, 3, false), nullptr);
}

TEST(ObjectGroupCreation, AppendingToAFullGroupFailsAndReleasesTheObject) {
  GroupPtr group(ZTR_NewObjectGroup(1));
  EXPECT_EQ(ZTR_AppendObject(group.get(), ZTR_NewSphereObject({0, 0, 0}, 1), nullptr), 0);
  // The second sphere is deleted by the failed append (the address sanitizer sees a leak
  // otherwise).
  EXPECT_EQ(ZTR_AppendObject(group.get(), ZTR_NewSphereObject({0, 0, 0}, 2), nullptr), -1);
  EXPECT_EQ(group->count, 1);
  EXPECT_EQ(ZTR_AppendObject(nullptr, line_of(2), nullptr), -1);
}

TEST(ObjectGroupWire, OneSphereTakes52BytesWithWhiteColour) {
  GroupPtr group(ZTR_NewObjectGroup(1));
  ZTR_AppendObject(group.get(), ZTR_NewSphereObject({1.5f, 2.5f, 3.5f}, 4.0f), nullptr);
  const auto bytes = wire_of(group.get());
  ASSERT_EQ(bytes.size(), 52u);
  EXPECT_EQ(i32_at(bytes, 0), 1);   // count
  EXPECT_EQ(i32_at(bytes, 4), 11);  // type
  EXPECT_EQ(i32_at(bytes, 8), 1);   // flag
  for (size_t c = 0; c < 4; ++c) EXPECT_EQ(f32_at(bytes, 12 + 4 * c), 1.0f);
  EXPECT_EQ(f32_at(bytes, 28), 1.5f);
  EXPECT_EQ(f32_at(bytes, 36), 3.5f);
  EXPECT_EQ(f32_at(bytes, 40), 4.0f);
  EXPECT_EQ(i32_at(bytes, 44), 8);
  EXPECT_EQ(i32_at(bytes, 48), 142);
}

TEST(ObjectGroupWire, SlotColourAndFlagAreWritten) {
  GroupPtr group(ZTR_NewObjectGroup(4));
  const ZTR_OBJECT_COLOR colour{0.25f, 0.5f, 0.75f, 1.0f};
  ZTR_AppendObject(group.get(), ZTR_NewSphereObject({0, 0, 0}, 1), &colour, 0);
  const auto bytes = wire_of(group.get());
  ASSERT_EQ(bytes.size(), 52u);  // unused slots are not sent
  EXPECT_EQ(i32_at(bytes, 8), 0);
  EXPECT_EQ(f32_at(bytes, 12), 0.25f);
  EXPECT_EQ(f32_at(bytes, 16), 0.5f);
  EXPECT_EQ(f32_at(bytes, 20), 0.75f);
}

TEST(ObjectGroupWire, NestedGroupWithAThreePointLineAdds69Bytes) {
  ZTR_OBJECT_GROUP* nested = ZTR_NewObjectGroup(1);
  ZTR_AppendObject(nested, line_of(3), nullptr);
  EXPECT_EQ(ZTR_GetObjectGroupWireSize(nested), 69u);  // 4 + 24 + (5 + 3 * 12)
  GroupPtr parent(ZTR_NewObjectGroup(1));
  ZTR_AppendObject(parent.get(), nested, nullptr);
  const auto bytes = wire_of(parent.get());
  EXPECT_EQ(bytes.size(), 4u + 24u + 69u);
  EXPECT_EQ(i32_at(bytes, 4), 99);
  EXPECT_EQ(i32_at(bytes, 28), 1);      // the nested group's count
  EXPECT_EQ(bytes[28 + 28], 0);         // the line's hasColours byte
  EXPECT_EQ(i32_at(bytes, 28 + 29), 3);  // its point count
}

TEST(ObjectGroupWire, MeshOfTwoTrianglesAndFourColouredVerticesTakes193Bytes) {
  std::unique_ptr<ZTR_TRIANGULAR_MESH> mesh(ZTR_NewTriangularMesh(2, 4, true));
  EXPECT_EQ(ZTR_GetObjectWireSize(ZTR_OBJECT_TYPE_TRIANGULAR_MESH, mesh.get()), 193u);
  mesh->colors.clear();
  EXPECT_EQ(ZTR_GetObjectWireSize(ZTR_OBJECT_TYPE_TRIANGULAR_MESH, mesh.get()), 129u);
}

TEST(ObjectGroupWire, PayloadSizesFollowTheTable) {
  std::unique_ptr<ZTR_TUBE_OBJECT> tube(ZTR_NewTubeObject(3, false));
  EXPECT_EQ(ZTR_GetObjectWireSize(ZTR_OBJECT_TYPE_TUBE, tube.get()), 13u + 48u);
  tube->colors.assign(3, ZTR_OBJECT_COLOR{1, 1, 1, 1});
  EXPECT_EQ(ZTR_GetObjectWireSize(ZTR_OBJECT_TYPE_TUBE, tube.get()), 13u + 48u + 48u);
  std::unique_ptr<ZTR_SEGMENTS_OBJECT> segments(ZTR_NewSegmentsObject(2));
  EXPECT_EQ(ZTR_GetObjectWireSize(ZTR_OBJECT_TYPE_SEGMENTS, segments.get()), 52u);
  std::unique_ptr<ZTR_POLYLINE_OBJECT> line(ZTR_NewPolylineObject(2, true));
  EXPECT_EQ(ZTR_GetObjectWireSize(ZTR_OBJECT_TYPE_POLYLINE, line.get()), 5u + 24u + 32u);
  EXPECT_EQ(ZTR_GetObjectWireSize(ZTR_OBJECT_TYPE_ELLIPSOID, nullptr), 68u);
  EXPECT_EQ(ZTR_GetObjectWireSize(ZTR_OBJECT_TYPE_SEGMENT, nullptr), 40u);
  EXPECT_EQ(ZTR_GetObjectWireSize(ZTR_OBJECT_TYPE_CODE_14, nullptr), 96u);
  EXPECT_EQ(ZTR_GetObjectWireSize(ZTR_OBJECT_TYPE_CODE_16, nullptr), 52u);
  EXPECT_EQ(ZTR_GetObjectWireSize(ZTR_OBJECT_TYPE_EMPTY_15, nullptr), 0u);
}

TEST(ObjectGroupWire, WriterRefusesABufferThatIsTooSmall) {
  GroupPtr group = analyzer_group();
  std::vector<unsigned char> bytes(ZTR_GetObjectGroupWireSize(group.get()) - 1);
  EXPECT_EQ(ZTR_WriteObjectGroup(group.get(), bytes.data(), bytes.size()), -1);
  EXPECT_EQ(ZTR_WriteObjectGroup(nullptr, bytes.data(), bytes.size()), -1);
}

TEST(ObjectGroupWire, MissingMeshIsReportedAndSentEmptySoLaterObjectsStayReadable) {
  GroupPtr group(ZTR_NewObjectGroup(2));
  ZTR_AppendObject(group.get(), ZTR_OBJECT_TYPE_TRIANGULAR_MESH, nullptr, nullptr);
  ZTR_AppendObject(group.get(), ZTR_NewSphereObject({4, 5, 6}, 7), nullptr);
  ztr::test::ConsoleCapture console;
  const auto bytes = wire_of(group.get());
  EXPECT_EQ(console.finish(), "NULL??\n");
  EXPECT_EQ(bytes.size(), 4u + 48u + 9u + 24u);
  GroupPtr back(ZTR_ReadObjectGroup(bytes.data(), bytes.size()));
  ASSERT_NE(back, nullptr);
  const auto* sphere = static_cast<const ZTR_SPHERE_OBJECT*>(back->objects[1]);
  ASSERT_NE(sphere, nullptr);
  EXPECT_EQ(sphere->centre.y, 5.0f);
  EXPECT_EQ(sphere->radius, 7.0f);
}

TEST(ObjectGroupReader, RoundTripKeepsEveryObjectAndSlot) {
  GroupPtr group = analyzer_group();
  const auto bytes = wire_of(group.get());
  GroupPtr back(ZTR_ReadObjectGroup(bytes.data(), bytes.size()));
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->count, 8);
  EXPECT_EQ(back->types, group->types);
  EXPECT_EQ(back->flags[2], 0);
  EXPECT_EQ(back->colors[0]->a, 0.5f);
  EXPECT_EQ(back->colors[1]->g, 1.0f);  // no colour was set: sent as white
  const auto* sphere = static_cast<const ZTR_SPHERE_OBJECT*>(back->objects[0]);
  EXPECT_EQ(sphere->radius, 4.5f);
  const auto* segments = static_cast<const ZTR_SEGMENTS_OBJECT*>(back->objects[3]);
  ASSERT_EQ(segments->ends.size(), 2u);
  EXPECT_EQ(segments->ends[1].z, 12.0f);
  const auto* line = static_cast<const ZTR_POLYLINE_OBJECT*>(back->objects[4]);
  ASSERT_EQ(line->points.size(), 3u);
  EXPECT_EQ(line->points[2].x, 2.0f);
  EXPECT_TRUE(line->colors.empty());
  const auto* tube = static_cast<const ZTR_TUBE_OBJECT*>(back->objects[5]);
  EXPECT_EQ(tube->radii[1], 0.75f);
  EXPECT_EQ(tube->colors[1].b, 0.3f);
  EXPECT_EQ(tube->tail[1], 142);
  const auto* mesh = static_cast<const ZTR_TRIANGULAR_MESH*>(back->objects[6]);
  EXPECT_EQ(mesh->triangles[0][2], 2);
  EXPECT_EQ(mesh->normals[1].z, 1.0f);
  const auto* nested = static_cast<const ZTR_OBJECT_GROUP*>(back->objects[7]);
  ASSERT_EQ(nested->count, 1);
  EXPECT_EQ(static_cast<const ZTR_SPHERE_OBJECT*>(nested->objects[0])->centre.x, 9.0f);
  EXPECT_EQ(wire_of(back.get()), bytes);
}

TEST(ObjectGroupReader, EveryTruncationIsRefused) {
  GroupPtr group = analyzer_group();
  const auto bytes = wire_of(group.get());
  for (size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_EQ(ZTR_ReadObjectGroup(bytes.data(), size), nullptr) << "size " << size;
  }
}

TEST(ObjectGroupReader, TrailingBytesAreRefusedUnlessTheCallerAsksForTheLength) {
  GroupPtr group = analyzer_group();
  auto bytes = wire_of(group.get());
  const size_t exact = bytes.size();
  bytes.push_back(0);
  EXPECT_EQ(ZTR_ReadObjectGroup(bytes.data(), bytes.size()), nullptr);
  size_t consumed = 0;
  GroupPtr back(ZTR_ReadObjectGroup(bytes.data(), bytes.size(), &consumed));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(consumed, exact);
}

TEST(ObjectGroupReader, CountsBeyondTheInputAreRefused) {
  std::vector<unsigned char> huge_count;
  put_i32(huge_count, 1000000);
  EXPECT_EQ(ZTR_ReadObjectGroup(huge_count.data(), huge_count.size()), nullptr);
  std::vector<unsigned char> negative_count;
  put_i32(negative_count, -1);
  EXPECT_EQ(ZTR_ReadObjectGroup(negative_count.data(), negative_count.size()), nullptr);

  // One polyline declaring 2^30 points with only 12 bytes behind it.
  auto line = header_bytes(1, ZTR_OBJECT_TYPE_POLYLINE);
  line.push_back(0);
  put_i32(line, 1 << 30);
  for (int i = 0; i < 3; ++i) put_i32(line, 0);
  EXPECT_EQ(ZTR_ReadObjectGroup(line.data(), line.size()), nullptr);

  // A mesh whose vertex count leaves no room for its normals.
  auto mesh = header_bytes(1, ZTR_OBJECT_TYPE_TRIANGULAR_MESH);
  mesh.push_back(0);
  put_i32(mesh, 0);
  put_i32(mesh, 1);
  for (int i = 0; i < 3; ++i) put_i32(mesh, 0);
  EXPECT_EQ(ZTR_ReadObjectGroup(mesh.data(), mesh.size()), nullptr);
}

TEST(ObjectGroupReader, MeshIndicesOutsideTheVertexListAreRefused) {
  auto good = header_bytes(1, ZTR_OBJECT_TYPE_TRIANGULAR_MESH);
  good.push_back(0);
  put_i32(good, 1);  // triangles
  put_i32(good, 3);  // vertices
  const size_t index_offset = good.size();
  put_i32(good, 0);
  put_i32(good, 1);
  put_i32(good, 2);
  for (int i = 0; i < 18; ++i) put_i32(good, 0);
  GroupPtr ok(ZTR_ReadObjectGroup(good.data(), good.size()));
  EXPECT_NE(ok, nullptr);
  auto bad = good;
  std::memcpy(bad.data() + index_offset + 8, "\x03\x00\x00\x00", 4);
  EXPECT_EQ(ZTR_ReadObjectGroup(bad.data(), bad.size()), nullptr);
  std::memcpy(bad.data() + index_offset + 8, "\xff\xff\xff\xff", 4);
  EXPECT_EQ(ZTR_ReadObjectGroup(bad.data(), bad.size()), nullptr);
}

TEST(ObjectGroupReader, UnrecognisedCodesConsumeNoPayload) {
  std::vector<unsigned char> bytes;
  put_i32(bytes, 3);
  put_i32(bytes, 5);   // unrecognised
  put_i32(bytes, 15);  // reserved, no payload
  put_i32(bytes, 11);
  for (int i = 0; i < 3; ++i) put_i32(bytes, 1);
  for (int i = 0; i < 12; ++i) put_i32(bytes, std::bit_cast<int32_t>(1.0f));
  for (int i = 0; i < 4; ++i) put_i32(bytes, std::bit_cast<int32_t>(2.0f));  // sphere
  put_i32(bytes, 8);
  put_i32(bytes, 142);
  GroupPtr group(ZTR_ReadObjectGroup(bytes.data(), bytes.size()));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->objects[0], nullptr);
  EXPECT_EQ(group->objects[1], nullptr);
  ASSERT_NE(group->objects[2], nullptr);
  EXPECT_EQ(static_cast<const ZTR_SPHERE_OBJECT*>(group->objects[2])->radius, 2.0f);
}

TEST(ObjectGroupReader, TypesTheSystemNeverBuildsAreKeptByteForByte) {
  auto bytes = header_bytes(2, ZTR_OBJECT_TYPE_CODE_14);
  std::memcpy(bytes.data() + 8, "\x15\x00\x00\x00", 4);  // second slot: code 21
  for (int i = 0; i < 24; ++i) put_i32(bytes, i);        // code 14: 96 bytes
  put_i32(bytes, 2);                                     // code 21: n = 2
  for (int i = 0; i < 6 + 6 + 1; ++i) put_i32(bytes, 100 + i);
  GroupPtr group(ZTR_ReadObjectGroup(bytes.data(), bytes.size()));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(static_cast<const ZTR_OPAQUE_OBJECT*>(group->objects[1])->payload.size(), 56u);
  EXPECT_EQ(wire_of(group.get()), bytes);
}

TEST(ObjectGroupReader, NestingIsBoundedInDepth) {
  auto nest = [](int levels) {
    std::vector<unsigned char> bytes;
    for (int i = 0; i < levels; ++i) {
      auto header = header_bytes(1, ZTR_OBJECT_TYPE_GROUP);
      bytes.insert(bytes.end(), header.begin(), header.end());
    }
    put_i32(bytes, 0);  // the innermost group is empty
    return bytes;
  };
  const auto deepest = nest(ZTR_OBJECT_GROUP_MAX_DEPTH);
  GroupPtr ok(ZTR_ReadObjectGroup(deepest.data(), deepest.size()));
  EXPECT_NE(ok, nullptr);
  const auto too_deep = nest(ZTR_OBJECT_GROUP_MAX_DEPTH + 1);
  EXPECT_EQ(ZTR_ReadObjectGroup(too_deep.data(), too_deep.size()), nullptr);
}

namespace {

// A non-empty object of every type code (nullptr for codes without a payload) and the size
// its payload must have on the wire, worked out from the record layouts.
struct TypeSample {
  int32_t type;
  std::function<void*()> make;
  size_t wire_size;
};

ZTR_OPAQUE_OBJECT* opaque(size_t size, int32_t leading_count = -1) {
  auto* o = new ZTR_OPAQUE_OBJECT;
  o->payload.resize(size);
  for (size_t i = 0; i < size; ++i) o->payload[i] = static_cast<uint8_t>(i * 7 + 3);
  if (leading_count >= 0) std::memcpy(o->payload.data(), &leading_count, 4);
  return o;
}

std::vector<TypeSample> type_samples() {
  const ZTR_OBJECT_POINT axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const float radii[3] = {1, 2, 3};
  return {
      {ZTR_OBJECT_TYPE_SPHERE, [] { return ZTR_NewSphereObject({1, 2, 3}, 4); }, 24},
      {ZTR_OBJECT_TYPE_ELLIPSOID, [=] { return ZTR_NewEllipsoidObject({1, 2, 3}, axes, radii); }, 68},
      {ZTR_OBJECT_TYPE_SEGMENT, [] { return ZTR_NewSegmentObject({0, 0, 0}, {1, 1, 1}, 2); }, 40},
      {ZTR_OBJECT_TYPE_CODE_14, [] { return opaque(96); }, 96},
      {ZTR_OBJECT_TYPE_EMPTY_15, [] { return nullptr; }, 0},
      {ZTR_OBJECT_TYPE_CODE_16, [] { return opaque(52); }, 52},
      {ZTR_OBJECT_TYPE_CODE_17, [] { return opaque(68); }, 68},
      {ZTR_OBJECT_TYPE_CODE_18, [] { return opaque(40); }, 40},
      {ZTR_OBJECT_TYPE_CODE_21, [] { return opaque(12 * 2 + 32, 2); }, 56},
      {ZTR_OBJECT_TYPE_EMPTY_22, [] { return nullptr; }, 0},
      {ZTR_OBJECT_TYPE_SEGMENTS, [] { return ZTR_NewSegmentsObject(2); }, 4 + 2 * 24},
      {ZTR_OBJECT_TYPE_POLYLINE, [] { return ZTR_NewPolylineObject(3, true); }, 5 + 3 * 12 + 3 * 16},
      {ZTR_OBJECT_TYPE_TUBE, [] { return ZTR_NewTubeObject(3, true); }, 13 + 3 * 16 + 3 * 16},
      {ZTR_OBJECT_TYPE_TRIANGULAR_MESH, [] { return ZTR_NewTriangularMesh(1, 3, true); },
       9 + 12 + 3 * 24 + 3 * 16},
      {ZTR_OBJECT_TYPE_GROUP,
       [] {
         ZTR_OBJECT_GROUP* g = ZTR_NewObjectGroup(1);
         ZTR_AppendObject(g, ZTR_NewSphereObject({1, 2, 3}, 4), nullptr);
         return g;
       },
       4 + 24 + 24},
  };
}

// For every type code: the size the library computes, the bytes it writes and the bytes it
// reads back agree with each other and with the record layout, and what is read back writes
// the same bytes again.
TEST(ObjectGroupWire, EveryTypeCodeHasOneSizeForComputingWritingAndReading) {
  const std::vector<TypeSample> samples = type_samples();
  for (const int32_t type : ZTR_OBJECT_TYPE_CODES) {
    const auto sample = std::find_if(samples.begin(), samples.end(),
                                     [type](const TypeSample& s) { return s.type == type; });
    ASSERT_NE(sample, samples.end()) << "no sample object for type " << type;
    void* object = sample->make();
    EXPECT_EQ(ZTR_GetObjectWireSize(type, object), sample->wire_size) << type;
    GroupPtr group(ZTR_NewObjectGroup(1));
    ASSERT_EQ(ZTR_AppendObject(group.get(), type, object, nullptr), 0);
    const size_t expected = 4 + 24 + sample->wire_size;
    ASSERT_EQ(ZTR_GetObjectGroupWireSize(group.get()), expected) << type;
    const std::vector<unsigned char> bytes = wire_of(group.get());
    size_t consumed = 0;
    GroupPtr back(ZTR_ReadObjectGroup(bytes.data(), bytes.size(), &consumed));
    ASSERT_NE(back, nullptr) << type;
    EXPECT_EQ(consumed, expected) << type;
    ASSERT_EQ(back->count, 1);
    EXPECT_EQ(back->types[0], type);
    EXPECT_EQ(ZTR_GetObjectWireSize(type, back->objects[0]), sample->wire_size) << type;
    EXPECT_EQ(wire_of(back.get()), bytes) << type;
  }
}

}  // namespace
