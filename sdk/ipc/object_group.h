// Object groups: typed 3-D display objects (spheres, lines, tubes, meshes, nested groups)
// with a display flag and an optional RGBA colour per slot, their wire form on the data
// board, and a bounded reader for that wire form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Object type codes.
enum : int32_t {
  ZTR_OBJECT_TYPE_SPHERE = 11,      // ZTR_SPHERE_OBJECT
  ZTR_OBJECT_TYPE_ELLIPSOID = 12,   // ZTR_ELLIPSOID_OBJECT
  ZTR_OBJECT_TYPE_SEGMENT = 13,     // ZTR_SEGMENT_OBJECT
  ZTR_OBJECT_TYPE_CODE_14 = 14,     // ZTR_OPAQUE_OBJECT (96 bytes)
  ZTR_OBJECT_TYPE_EMPTY_15 = 15,    // no payload, no object
  ZTR_OBJECT_TYPE_CODE_16 = 16,     // ZTR_OPAQUE_OBJECT (52 bytes)
  ZTR_OBJECT_TYPE_CODE_17 = 17,     // ZTR_OPAQUE_OBJECT (68 bytes)
  ZTR_OBJECT_TYPE_CODE_18 = 18,     // ZTR_OPAQUE_OBJECT (40 bytes)
  ZTR_OBJECT_TYPE_CODE_21 = 21,     // ZTR_OPAQUE_OBJECT (12 n + 32 bytes)
  ZTR_OBJECT_TYPE_EMPTY_22 = 22,    // no payload, no object
  ZTR_OBJECT_TYPE_SEGMENTS = 31,    // ZTR_SEGMENTS_OBJECT
  ZTR_OBJECT_TYPE_POLYLINE = 61,    // ZTR_POLYLINE_OBJECT
  ZTR_OBJECT_TYPE_TUBE = 62,        // ZTR_TUBE_OBJECT
  ZTR_OBJECT_TYPE_TRIANGULAR_MESH = 71,  // ZTR_TRIANGULAR_MESH
  ZTR_OBJECT_TYPE_GROUP = 99,       // ZTR_OBJECT_GROUP (nested)
};

// Every type code of the wire form, those without a payload included.
inline constexpr int32_t ZTR_OBJECT_TYPE_CODES[] = {
    ZTR_OBJECT_TYPE_SPHERE,   ZTR_OBJECT_TYPE_ELLIPSOID, ZTR_OBJECT_TYPE_SEGMENT,
    ZTR_OBJECT_TYPE_CODE_14,  ZTR_OBJECT_TYPE_EMPTY_15,  ZTR_OBJECT_TYPE_CODE_16,
    ZTR_OBJECT_TYPE_CODE_17,  ZTR_OBJECT_TYPE_CODE_18,   ZTR_OBJECT_TYPE_CODE_21,
    ZTR_OBJECT_TYPE_EMPTY_22, ZTR_OBJECT_TYPE_SEGMENTS,  ZTR_OBJECT_TYPE_POLYLINE,
    ZTR_OBJECT_TYPE_TUBE,     ZTR_OBJECT_TYPE_TRIANGULAR_MESH, ZTR_OBJECT_TYPE_GROUP};

// The two trailing integers the constructors of types 11, 12, 13 and 62 set.
inline constexpr int32_t ZTR_OBJECT_TAIL_0 = 8;
inline constexpr int32_t ZTR_OBJECT_TAIL_1 = 142;

// Deepest nesting of groups the reader accepts (the writer has no limit).
inline constexpr int ZTR_OBJECT_GROUP_MAX_DEPTH = 64;

struct ZTR_OBJECT_POINT {
  float x, y, z;
};
struct ZTR_OBJECT_COLOR {
  float r, g, b, a;  // each 0.0 - 1.0
};

struct ZTR_SPHERE_OBJECT {  // 24 bytes on the wire
  ZTR_OBJECT_POINT centre;
  float radius;
  int32_t tail[2];
};
// 68 bytes: points[0] the centre, points[1..3] the unit axes; values[0..2] carry the three
// radii as 32-bit float bit patterns.
struct ZTR_ELLIPSOID_OBJECT {
  ZTR_OBJECT_POINT points[4];
  int32_t values[3];
  int32_t tail[2];
};
// 40 bytes: a line segment from points[0] to points[1]; values[0] carries the width as a
// 32-bit float bit pattern, values[1] is 0.
struct ZTR_SEGMENT_OBJECT {
  ZTR_OBJECT_POINT points[2];
  int32_t values[2];
  int32_t tail[2];
};
// 24 n + 4 bytes: n segments; starts and ends have the same length.
struct ZTR_SEGMENTS_OBJECT {
  std::vector<ZTR_OBJECT_POINT> starts;
  std::vector<ZTR_OBJECT_POINT> ends;
};
// 5 + 12 n (+ 16 n) bytes. Colours are sent when colors has one entry per point.
struct ZTR_POLYLINE_OBJECT {
  std::vector<ZTR_OBJECT_POINT> points;
  std::vector<ZTR_OBJECT_COLOR> colors;  // empty, or one per point
};
// 13 + 16 n (+ 16 n) bytes. One radius per point (missing radii are sent as 0).
struct ZTR_TUBE_OBJECT {
  std::vector<ZTR_OBJECT_POINT> points;
  std::vector<float> radii;
  std::vector<ZTR_OBJECT_COLOR> colors;  // empty, or one per point
  int32_t tail[2];
};
// 9 + 12 t + 24 v (+ 16 v) bytes. One normal per vertex (missing normals are sent as 0).
struct ZTR_TRIANGULAR_MESH {
  std::vector<std::array<int32_t, 3>> triangles;  // vertex indices
  std::vector<ZTR_OBJECT_POINT> vertices;
  std::vector<ZTR_OBJECT_POINT> normals;
  std::vector<ZTR_OBJECT_COLOR> colors;  // empty, or one per vertex
};
// Types 14, 16, 17, 18 and 21, which this system never builds, kept byte for byte.
struct ZTR_OPAQUE_OBJECT {
  std::vector<uint8_t> payload;
};

// A group of `capacity` slots of which the first `count` are in use. Slot i holds
// objects[i] (owned by the group, of the record type named by types[i], or nullptr),
// its display flag (1 in a new group) and its colour (none in a new group: sent as
// 1, 1, 1, 1). Destroying the group (ZTR_DeleteObjectGroup) deletes every object by its
// type, nested groups recursively. Not copyable.
struct ZTR_OBJECT_GROUP {
  int32_t count = 0;
  int32_t capacity = 0;
  std::vector<void*> objects;
  std::vector<int32_t> types;
  std::vector<int32_t> flags;
  std::vector<std::optional<ZTR_OBJECT_COLOR>> colors;

  ZTR_OBJECT_GROUP() = default;
  ~ZTR_OBJECT_GROUP();
  ZTR_OBJECT_GROUP(const ZTR_OBJECT_GROUP&) = delete;
  ZTR_OBJECT_GROUP& operator=(const ZTR_OBJECT_GROUP&) = delete;
};

// ---- groups ------------------------------------------------------------------------------

// New empty group with `capacity` slots (count 0, flags 1, no colours, no objects), or
// nullptr for a negative capacity or when memory runs out.
ZTR_OBJECT_GROUP* ZTR_NewObjectGroup(int32_t capacity);
void ZTR_DeleteObjectGroup(ZTR_OBJECT_GROUP* group);  // nullptr ignored

// Puts `object` of type `type` into slot `count` with `flag` and a copy of `color` (none
// when nullptr) and increments count. The group takes ownership in every case: when the
// group is null or full the object is deleted and -1 returned. 0 on success.
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, int32_t type, void* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag = 1);
// Typed forms of the same (the type code follows from the record type).
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_SPHERE_OBJECT* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag = 1);
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_ELLIPSOID_OBJECT* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag = 1);
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_SEGMENT_OBJECT* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag = 1);
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_SEGMENTS_OBJECT* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag = 1);
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_POLYLINE_OBJECT* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag = 1);
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_TUBE_OBJECT* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag = 1);
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_TRIANGULAR_MESH* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag = 1);
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_OBJECT_GROUP* nested,
                     const ZTR_OBJECT_COLOR* color, int32_t flag = 1);

// ---- objects (each returns a new object owned by the caller until appended, or nullptr) --

ZTR_SPHERE_OBJECT* ZTR_NewSphereObject(ZTR_OBJECT_POINT centre, float radius);
ZTR_ELLIPSOID_OBJECT* ZTR_NewEllipsoidObject(ZTR_OBJECT_POINT centre,
                                             const ZTR_OBJECT_POINT axes[3],
                                             const float radii[3]);
ZTR_SEGMENT_OBJECT* ZTR_NewSegmentObject(ZTR_OBJECT_POINT start, ZTR_OBJECT_POINT end,
                                         float width);
// n zeroed segments (n >= 0).
ZTR_SEGMENTS_OBJECT* ZTR_NewSegmentsObject(int32_t n);
// n zeroed points, with n colours (1, 1, 1, 1) when with_colors.
ZTR_POLYLINE_OBJECT* ZTR_NewPolylineObject(int32_t n, bool with_colors);
// n zeroed points and radii, with n colours (1, 1, 1, 1) when with_colors; tail 8, 142.
ZTR_TUBE_OBJECT* ZTR_NewTubeObject(int32_t n, bool with_colors);
// Zeroed triangles, vertices and normals, with vertex colours (1, 1, 1, 1) when with_colors.
ZTR_TRIANGULAR_MESH* ZTR_NewTriangularMesh(int32_t triangle_count, int32_t vertex_count,
                                           bool with_colors);
// Deletes an object by its type code (nested groups recursively); nullptr ignored.
void ZTR_DeleteObject(int32_t type, void* object);

// ---- wire form ---------------------------------------------------------------------------

// Size of the group's wire form: 4 + 24 count + the payloads; 0 for nullptr.
size_t ZTR_GetObjectGroupWireSize(const ZTR_OBJECT_GROUP* group);
// Payload bytes one object of this type occupies (a missing object counts as the empty
// payload of its type: a zeroed fixed record, no points, an empty nested group).
size_t ZTR_GetObjectWireSize(int32_t type, const void* object);
// Writes the wire form into `destination` of `size` bytes. Returns the bytes written, or
// -1 for a null group or a buffer smaller than ZTR_GetObjectGroupWireSize.
int64_t ZTR_WriteObjectGroup(const ZTR_OBJECT_GROUP* group, void* destination, size_t size);
// Reads a group from at most `size` bytes. nullptr when the input is truncated, declares
// more than it holds (counts, negative counts, mesh indices outside the vertex list),
// nests deeper than ZTR_OBJECT_GROUP_MAX_DEPTH, or memory runs out. Without `consumed`
// the input must be exactly one group (trailing bytes are refused); with it, trailing
// bytes are allowed and *consumed receives the bytes read. The caller owns the result.
ZTR_OBJECT_GROUP* ZTR_ReadObjectGroup(const void* source, size_t size,
                                      size_t* consumed = nullptr);
