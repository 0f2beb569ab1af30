// Object groups: creation and release, object constructors, the wire writer and the
// bounded wire reader.
#include "sdk/ipc/object_group.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

static_assert(std::endian::native == std::endian::little,
              "the object-group wire form is little-endian and copied as native values");

namespace {

constexpr ZTR_OBJECT_COLOR kWhite{1.0f, 1.0f, 1.0f, 1.0f};

// Fixed payload sizes of the record types kept as opaque bytes.
size_t opaque_fixed_size(int32_t type) {
  switch (type) {
    case ZTR_OBJECT_TYPE_CODE_14: return 96;
    case ZTR_OBJECT_TYPE_CODE_16: return 52;
    case ZTR_OBJECT_TYPE_CODE_17: return 68;
    case ZTR_OBJECT_TYPE_CODE_18: return 40;
    default: return 0;
  }
}

constexpr size_t kCode21EmptySize = 32;

// A type-21 payload is int n, n points, a box (24 bytes), int: 12 n + 32 bytes.
bool is_valid_code21_payload(const std::vector<uint8_t>& payload) {
  if (payload.size() < kCode21EmptySize) return false;
  int32_t n = 0;
  std::memcpy(&n, payload.data(), 4);
  return n >= 0 && payload.size() == 12 * static_cast<size_t>(n) + kCode21EmptySize;
}

// Slots of a group that are both in use and backed by every per-slot array.
size_t used_slots(const ZTR_OBJECT_GROUP& group) {
  if (group.count <= 0 || group.capacity <= 0) return 0;
  size_t n = static_cast<size_t>(std::min(group.count, group.capacity));
  n = std::min({n, group.objects.size(), group.types.size(), group.flags.size(),
                group.colors.size()});
  return n;
}

// Slots backed by every per-slot array (all of them have `capacity` entries normally).
size_t slot_arrays_size(const ZTR_OBJECT_GROUP& group) {
  return std::min({group.objects.size(), group.types.size(), group.flags.size(),
                   group.colors.size()});
}

size_t segments_count(const ZTR_SEGMENTS_OBJECT& s) {
  return std::min(s.starts.size(), s.ends.size());
}

template <class T>
bool has_colors(const std::vector<ZTR_OBJECT_COLOR>& colors, const std::vector<T>& points) {
  return !points.empty() && colors.size() == points.size();
}

// ---- wire stream helpers --------------------------------------------------------------------

class Writer {
 public:
  explicit Writer(unsigned char* out) : out_(out) {}
  void bytes(const void* p, size_t n) {
    if (n > 0) std::memcpy(out_ + pos_, p, n);
    pos_ += n;
  }
  void zeros(size_t n) {
    std::memset(out_ + pos_, 0, n);
    pos_ += n;
  }
  void i32(int32_t v) { bytes(&v, 4); }
  void f32(float v) { bytes(&v, 4); }
  void u8(uint8_t v) { bytes(&v, 1); }
  void point(const ZTR_OBJECT_POINT& p) {
    f32(p.x);
    f32(p.y);
    f32(p.z);
  }
  void points(const std::vector<ZTR_OBJECT_POINT>& ps, size_t n) {
    for (size_t i = 0; i < n; ++i) point(i < ps.size() ? ps[i] : ZTR_OBJECT_POINT{0, 0, 0});
  }
  void color(const ZTR_OBJECT_COLOR& c) {
    f32(c.r);
    f32(c.g);
    f32(c.b);
    f32(c.a);
  }
  size_t position() const { return pos_; }

 private:
  unsigned char* out_;
  size_t pos_ = 0;
};

// Every read checks the bytes left first; a failed check poisons the reader.
class Reader {
 public:
  Reader(const unsigned char* in, size_t size) : in_(in), size_(size) {}
  size_t left() const { return size_ - pos_; }
  size_t position() const { return pos_; }
  bool ok() const { return ok_; }
  bool bytes(void* p, size_t n) {
    if (!ok_ || n > left()) return ok_ = false;
    if (n > 0) std::memcpy(p, in_ + pos_, n);
    pos_ += n;
    return true;
  }
  bool skip(size_t n) {
    if (!ok_ || n > left()) return ok_ = false;
    pos_ += n;
    return true;
  }
  bool i32(int32_t& v) { return bytes(&v, 4); }
  bool f32(float& v) { return bytes(&v, 4); }
  bool u8(uint8_t& v) { return bytes(&v, 1); }
  bool point(ZTR_OBJECT_POINT& p) { return f32(p.x) && f32(p.y) && f32(p.z); }
  bool color(ZTR_OBJECT_COLOR& c) { return f32(c.r) && f32(c.g) && f32(c.b) && f32(c.a); }
  // A count that is not negative and whose `unit`-byte records (plus `extra` bytes) fit.
  bool count(int32_t& n, size_t unit, size_t extra) {
    if (!i32(n)) return false;
    if (n < 0) return ok_ = false;
    const unsigned __int128 need =
        static_cast<unsigned __int128>(n) * unit + static_cast<unsigned __int128>(extra);
    if (need > left()) return ok_ = false;
    return true;
  }
  bool fail() { return ok_ = false; }

 private:
  const unsigned char* in_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// ---- one codec per record type ----------------------------------------------------------------
//
// A reader sets `failed` when the input is refused and returns the new object otherwise.
// Every size function and writer accepts a missing object (nullptr): it is sent as an empty
// record so that the objects after it stay readable.

size_t group_wire_size(const ZTR_OBJECT_GROUP* group);
void write_group(Writer& w, const ZTR_OBJECT_GROUP* group);
ZTR_OBJECT_GROUP* read_group(Reader& r, int depth);

template <class T>
void delete_as(void* object) {
  delete static_cast<T*>(object);
}

// Records copied byte for byte: sphere (24), ellipsoid (68), segment (40).
template <class T>
size_t fixed_record_size(int32_t, const void*) {
  return sizeof(T);
}
template <class T>
void write_fixed_record(Writer& w, int32_t, const void* object) {
  if (object == nullptr) return w.zeros(sizeof(T));
  const T* o = static_cast<const T*>(object);
  for (const auto& p : o->points) w.point(p);
  for (int32_t v : o->values) w.i32(v);
  w.i32(o->tail[0]);
  w.i32(o->tail[1]);
}
template <>
void write_fixed_record<ZTR_SPHERE_OBJECT>(Writer& w, int32_t, const void* object) {
  if (object == nullptr) return w.zeros(sizeof(ZTR_SPHERE_OBJECT));
  const auto* o = static_cast<const ZTR_SPHERE_OBJECT*>(object);
  w.point(o->centre);
  w.f32(o->radius);
  w.i32(o->tail[0]);
  w.i32(o->tail[1]);
}
template <class T>
void* read_fixed_record(Reader& r, int32_t, int, bool& failed) {
  auto o = std::make_unique<T>();
  failed = !r.bytes(o.get(), sizeof(T));
  return failed ? nullptr : o.release();
}
static_assert(sizeof(ZTR_SPHERE_OBJECT) == 24);
static_assert(sizeof(ZTR_ELLIPSOID_OBJECT) == 68);
static_assert(sizeof(ZTR_SEGMENT_OBJECT) == 40);

// Codes 14, 16, 17, 18: opaque payloads of a fixed size, cut or zero-filled to it.
size_t opaque_size(int32_t type, const void*) { return opaque_fixed_size(type); }
void write_opaque(Writer& w, int32_t type, const void* object) {
  const auto* o = static_cast<const ZTR_OPAQUE_OBJECT*>(object);
  const size_t fixed = opaque_fixed_size(type);
  const size_t have = o != nullptr ? std::min(o->payload.size(), fixed) : 0;
  if (have > 0) w.bytes(o->payload.data(), have);
  w.zeros(fixed - have);
}
void* read_opaque(Reader& r, int32_t type, int, bool& failed) {
  const size_t fixed = opaque_fixed_size(type);
  failed = r.left() < fixed;
  if (failed) return nullptr;
  auto o = std::make_unique<ZTR_OPAQUE_OBJECT>();
  o->payload.resize(fixed);
  r.bytes(o->payload.data(), fixed);
  return o.release();
}

// Code 21: an opaque payload that carries its own point count.
size_t code21_size(int32_t, const void* object) {
  const auto* o = static_cast<const ZTR_OPAQUE_OBJECT*>(object);
  return (o != nullptr && is_valid_code21_payload(o->payload)) ? o->payload.size() : kCode21EmptySize;
}
void write_code21(Writer& w, int32_t, const void* object) {
  const auto* o = static_cast<const ZTR_OPAQUE_OBJECT*>(object);
  if (o != nullptr && is_valid_code21_payload(o->payload)) {
    w.bytes(o->payload.data(), o->payload.size());
  } else {
    w.zeros(kCode21EmptySize);
  }
}
void* read_code21(Reader& r, int32_t, int, bool& failed) {
  int32_t n = 0;
  failed = !r.count(n, 12, 28);
  if (failed) return nullptr;
  auto o = std::make_unique<ZTR_OPAQUE_OBJECT>();
  o->payload.resize(12 * static_cast<size_t>(n) + kCode21EmptySize);
  std::memcpy(o->payload.data(), &n, 4);
  r.bytes(o->payload.data() + 4, o->payload.size() - 4);
  return o.release();
}

size_t segments_size(int32_t, const void* object) {
  const auto* o = static_cast<const ZTR_SEGMENTS_OBJECT*>(object);
  return 4 + 24 * (o != nullptr ? segments_count(*o) : 0);
}
void write_segments(Writer& w, int32_t, const void* object) {
  const auto* o = static_cast<const ZTR_SEGMENTS_OBJECT*>(object);
  const size_t n = o != nullptr ? segments_count(*o) : 0;
  w.i32(static_cast<int32_t>(n));
  if (n == 0) return;
  w.points(o->starts, n);
  w.points(o->ends, n);
}
void* read_segments(Reader& r, int32_t, int, bool& failed) {
  int32_t n = 0;
  failed = !r.count(n, 24, 0);
  if (failed) return nullptr;
  auto o = std::make_unique<ZTR_SEGMENTS_OBJECT>();
  o->starts.resize(static_cast<size_t>(n));
  o->ends.resize(static_cast<size_t>(n));
  for (auto& p : o->starts) r.point(p);
  for (auto& p : o->ends) r.point(p);
  return o.release();
}

size_t polyline_size(int32_t, const void* object) {
  const auto* o = static_cast<const ZTR_POLYLINE_OBJECT*>(object);
  if (o == nullptr) return 5;
  return 5 + 12 * o->points.size() + (has_colors(o->colors, o->points) ? 16 * o->points.size() : 0);
}
void write_polyline(Writer& w, int32_t, const void* object) {
  const auto* o = static_cast<const ZTR_POLYLINE_OBJECT*>(object);
  if (o == nullptr) {
    w.u8(0);
    w.i32(0);
    return;
  }
  const bool colored = has_colors(o->colors, o->points);
  w.u8(colored ? 1 : 0);
  w.i32(static_cast<int32_t>(o->points.size()));
  w.points(o->points, o->points.size());
  if (colored) {
    for (const auto& c : o->colors) w.color(c);
  }
}
void* read_polyline(Reader& r, int32_t, int, bool& failed) {
  uint8_t colored = 0;
  int32_t n = 0;
  failed = !r.u8(colored) || !r.count(n, colored ? 28 : 12, 0);
  if (failed) return nullptr;
  auto o = std::make_unique<ZTR_POLYLINE_OBJECT>();
  o->points.resize(static_cast<size_t>(n));
  for (auto& p : o->points) r.point(p);
  if (colored) {
    o->colors.resize(static_cast<size_t>(n));
    for (auto& c : o->colors) r.color(c);
  }
  return o.release();
}

size_t tube_size(int32_t, const void* object) {
  const auto* o = static_cast<const ZTR_TUBE_OBJECT*>(object);
  if (o == nullptr) return 13;
  return 13 + 16 * o->points.size() + (has_colors(o->colors, o->points) ? 16 * o->points.size() : 0);
}
void write_tube(Writer& w, int32_t, const void* object) {
  const auto* o = static_cast<const ZTR_TUBE_OBJECT*>(object);
  if (o == nullptr) return w.zeros(13);
  const size_t n = o->points.size();
  const bool colored = has_colors(o->colors, o->points);
  w.u8(colored ? 1 : 0);
  w.i32(static_cast<int32_t>(n));
  w.points(o->points, n);
  for (size_t i = 0; i < n; ++i) w.f32(i < o->radii.size() ? o->radii[i] : 0.0f);
  if (colored) {
    for (const auto& c : o->colors) w.color(c);
  }
  w.i32(o->tail[0]);
  w.i32(o->tail[1]);
}
void* read_tube(Reader& r, int32_t, int, bool& failed) {
  uint8_t colored = 0;
  int32_t n = 0;
  failed = !r.u8(colored) || !r.count(n, colored ? 32 : 16, 8);
  if (failed) return nullptr;
  auto o = std::make_unique<ZTR_TUBE_OBJECT>();
  o->points.resize(static_cast<size_t>(n));
  o->radii.resize(static_cast<size_t>(n));
  for (auto& p : o->points) r.point(p);
  for (auto& v : o->radii) r.f32(v);
  if (colored) {
    o->colors.resize(static_cast<size_t>(n));
    for (auto& c : o->colors) r.color(c);
  }
  r.i32(o->tail[0]);
  r.i32(o->tail[1]);
  return o.release();
}

size_t mesh_size(int32_t, const void* object) {
  const auto* o = static_cast<const ZTR_TRIANGULAR_MESH*>(object);
  if (o == nullptr) return 9;
  return 9 + 12 * o->triangles.size() + 24 * o->vertices.size() +
         (has_colors(o->colors, o->vertices) ? 16 * o->vertices.size() : 0);
}
void write_mesh(Writer& w, int32_t, const void* object) {
  const auto* o = static_cast<const ZTR_TRIANGULAR_MESH*>(object);
  if (o == nullptr) {
    std::fputs("NULL??\n", stderr);
    return w.zeros(9);
  }
  const bool colored = has_colors(o->colors, o->vertices);
  w.u8(colored ? 1 : 0);
  w.i32(static_cast<int32_t>(o->triangles.size()));
  w.i32(static_cast<int32_t>(o->vertices.size()));
  for (const auto& t : o->triangles) {
    w.i32(t[0]);
    w.i32(t[1]);
    w.i32(t[2]);
  }
  w.points(o->vertices, o->vertices.size());
  w.points(o->normals, o->vertices.size());
  if (colored) {
    for (const auto& c : o->colors) w.color(c);
  }
}
void* read_mesh(Reader& r, int32_t, int, bool& failed) {
  uint8_t colored = 0;
  int32_t t = 0;
  int32_t v = 0;
  failed = !r.u8(colored) || !r.count(t, 12, 0) || !r.i32(v) || v < 0;
  if (failed) return nullptr;
  const unsigned __int128 need = static_cast<unsigned __int128>(t) * 12 +
                                 static_cast<unsigned __int128>(v) * (colored ? 40 : 24);
  failed = need > r.left();
  if (failed) return nullptr;
  std::unique_ptr<ZTR_TRIANGULAR_MESH> o;
  try {
    o = std::make_unique<ZTR_TRIANGULAR_MESH>();
    o->triangles.resize(static_cast<size_t>(t));
    o->vertices.resize(static_cast<size_t>(v));
    o->normals.resize(static_cast<size_t>(v));
  } catch (const std::bad_alloc&) {
    std::fputs("triangularMesh: NULL\n", stderr);
    failed = true;
    return nullptr;
  }
  for (auto& tri : o->triangles) {
    r.i32(tri[0]);
    r.i32(tri[1]);
    r.i32(tri[2]);
    for (int32_t index : tri) {
      if (index < 0 || index >= v) failed = true;
    }
  }
  if (failed) return nullptr;
  for (auto& p : o->vertices) r.point(p);
  for (auto& p : o->normals) r.point(p);
  if (colored) {
    try {
      o->colors.resize(static_cast<size_t>(v));
      for (auto& c : o->colors) r.color(c);
    } catch (const std::bad_alloc&) {
      std::fputs("Not enough memory for colors\n", stderr);
      o->colors.clear();
      r.skip(16 * static_cast<size_t>(v));
    }
  }
  return o.release();
}

size_t nested_group_size(int32_t, const void* object) {
  const auto* o = static_cast<const ZTR_OBJECT_GROUP*>(object);
  return o != nullptr ? group_wire_size(o) : 4;
}
void write_nested_group(Writer& w, int32_t, const void* object) {
  const auto* o = static_cast<const ZTR_OBJECT_GROUP*>(object);
  if (o == nullptr) return w.i32(0);
  write_group(w, o);
}
void* read_nested_group(Reader& r, int32_t, int depth, bool& failed) {
  ZTR_OBJECT_GROUP* nested = read_group(r, depth + 1);
  failed = nested == nullptr;
  return nested;
}

struct ObjectCodec {
  int32_t type;
  size_t (*size)(int32_t type, const void* object);
  void (*write)(Writer& w, int32_t type, const void* object);
  void* (*read)(Reader& r, int32_t type, int depth, bool& failed);
  void (*destroy)(void* object);
};

// Every type code with a payload. Codes 15, 22 and unrecognised ones carry none and own
// nothing: they have no entry.
constexpr ObjectCodec kCodecs[] = {
    {ZTR_OBJECT_TYPE_SPHERE, fixed_record_size<ZTR_SPHERE_OBJECT>,
     write_fixed_record<ZTR_SPHERE_OBJECT>, read_fixed_record<ZTR_SPHERE_OBJECT>,
     delete_as<ZTR_SPHERE_OBJECT>},
    {ZTR_OBJECT_TYPE_ELLIPSOID, fixed_record_size<ZTR_ELLIPSOID_OBJECT>,
     write_fixed_record<ZTR_ELLIPSOID_OBJECT>, read_fixed_record<ZTR_ELLIPSOID_OBJECT>,
     delete_as<ZTR_ELLIPSOID_OBJECT>},
    {ZTR_OBJECT_TYPE_SEGMENT, fixed_record_size<ZTR_SEGMENT_OBJECT>,
     write_fixed_record<ZTR_SEGMENT_OBJECT>, read_fixed_record<ZTR_SEGMENT_OBJECT>,
     delete_as<ZTR_SEGMENT_OBJECT>},
    {ZTR_OBJECT_TYPE_CODE_14, opaque_size, write_opaque, read_opaque, delete_as<ZTR_OPAQUE_OBJECT>},
    {ZTR_OBJECT_TYPE_CODE_16, opaque_size, write_opaque, read_opaque, delete_as<ZTR_OPAQUE_OBJECT>},
    {ZTR_OBJECT_TYPE_CODE_17, opaque_size, write_opaque, read_opaque, delete_as<ZTR_OPAQUE_OBJECT>},
    {ZTR_OBJECT_TYPE_CODE_18, opaque_size, write_opaque, read_opaque, delete_as<ZTR_OPAQUE_OBJECT>},
    {ZTR_OBJECT_TYPE_CODE_21, code21_size, write_code21, read_code21, delete_as<ZTR_OPAQUE_OBJECT>},
    {ZTR_OBJECT_TYPE_SEGMENTS, segments_size, write_segments, read_segments,
     delete_as<ZTR_SEGMENTS_OBJECT>},
    {ZTR_OBJECT_TYPE_POLYLINE, polyline_size, write_polyline, read_polyline,
     delete_as<ZTR_POLYLINE_OBJECT>},
    {ZTR_OBJECT_TYPE_TUBE, tube_size, write_tube, read_tube, delete_as<ZTR_TUBE_OBJECT>},
    {ZTR_OBJECT_TYPE_TRIANGULAR_MESH, mesh_size, write_mesh, read_mesh,
     delete_as<ZTR_TRIANGULAR_MESH>},
    {ZTR_OBJECT_TYPE_GROUP, nested_group_size, write_nested_group, read_nested_group,
     delete_as<ZTR_OBJECT_GROUP>},
};

const ObjectCodec* codec_of(int32_t type) {
  for (const ObjectCodec& codec : kCodecs)
    if (codec.type == type) return &codec;
  return nullptr;
}

size_t object_wire_size(int32_t type, const void* object) {
  const ObjectCodec* codec = codec_of(type);
  return codec ? codec->size(type, object) : 0;
}

void write_object(Writer& w, int32_t type, const void* object) {
  if (const ObjectCodec* codec = codec_of(type)) codec->write(w, type, object);
}

// Returns the object (nullptr for payload-less and unrecognised codes: nothing consumed).
void* read_object(Reader& r, int32_t type, int depth, bool& failed) {
  failed = false;
  const ObjectCodec* codec = codec_of(type);
  return codec ? codec->read(r, type, depth, failed) : nullptr;
}

// ---- groups on the wire -----------------------------------------------------------------------

size_t group_wire_size(const ZTR_OBJECT_GROUP* group) {
  const size_t n = used_slots(*group);
  size_t total = 4 + 24 * n;
  for (size_t i = 0; i < n; ++i) total += object_wire_size(group->types[i], group->objects[i]);
  return total;
}

void write_group(Writer& w, const ZTR_OBJECT_GROUP* group) {
  const size_t n = used_slots(*group);
  w.i32(static_cast<int32_t>(n));
  for (size_t i = 0; i < n; ++i) w.i32(group->types[i]);
  for (size_t i = 0; i < n; ++i) w.i32(group->flags[i]);
  for (size_t i = 0; i < n; ++i) w.color(group->colors[i].value_or(kWhite));
  for (size_t i = 0; i < n; ++i) write_object(w, group->types[i], group->objects[i]);
}

ZTR_OBJECT_GROUP* read_group(Reader& r, int depth) {
  if (depth > ZTR_OBJECT_GROUP_MAX_DEPTH) return nullptr;
  int32_t n = 0;
  if (!r.count(n, 24, 0)) return nullptr;
  ZTR_OBJECT_GROUP* group = ZTR_NewObjectGroup(n);
  if (group == nullptr) return nullptr;
  for (auto& type : group->types) r.i32(type);
  for (auto& flag : group->flags) r.i32(flag);
  for (auto& color : group->colors) {
    ZTR_OBJECT_COLOR c{};
    r.color(c);
    color = c;
  }
  group->count = n;
  try {
    for (int32_t i = 0; i < n; ++i) {
      bool failed = false;
      group->objects[static_cast<size_t>(i)] =
          read_object(r, group->types[static_cast<size_t>(i)], depth, failed);
      if (failed || !r.ok()) {
        ZTR_DeleteObjectGroup(group);
        return nullptr;
      }
    }
  } catch (const std::bad_alloc&) {
    ZTR_DeleteObjectGroup(group);
    return nullptr;
  }
  return group;
}

}  // namespace

// ---- groups -------------------------------------------------------------------------------

ZTR_OBJECT_GROUP::~ZTR_OBJECT_GROUP() {
  const size_t n = std::min(objects.size(), types.size());
  for (size_t i = 0; i < n; ++i) ZTR_DeleteObject(types[i], objects[i]);
}

ZTR_OBJECT_GROUP* ZTR_NewObjectGroup(int32_t capacity) {
  if (capacity < 0) return nullptr;
  try {
    auto* group = new ZTR_OBJECT_GROUP;
    const auto n = static_cast<size_t>(capacity);
    group->capacity = capacity;
    group->objects.assign(n, nullptr);
    group->types.assign(n, 0);
    group->flags.assign(n, 1);
    group->colors.assign(n, std::nullopt);
    return group;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void ZTR_DeleteObjectGroup(ZTR_OBJECT_GROUP* group) { delete group; }

int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, int32_t type, void* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag) {
  if (group == nullptr || group->count < 0 || group->count >= group->capacity ||
      static_cast<size_t>(group->count) >= slot_arrays_size(*group)) {
    ZTR_DeleteObject(type, object);
    return -1;
  }
  const auto slot = static_cast<size_t>(group->count);
  ZTR_DeleteObject(group->types[slot], group->objects[slot]);
  group->objects[slot] = object;
  group->types[slot] = type;
  group->flags[slot] = flag;
  group->colors[slot] = color != nullptr ? std::optional<ZTR_OBJECT_COLOR>(*color) : std::nullopt;
  ++group->count;
  return 0;
}

int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_SPHERE_OBJECT* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag) {
  return ZTR_AppendObject(group, ZTR_OBJECT_TYPE_SPHERE, object, color, flag);
}
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_ELLIPSOID_OBJECT* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag) {
  return ZTR_AppendObject(group, ZTR_OBJECT_TYPE_ELLIPSOID, object, color, flag);
}
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_SEGMENT_OBJECT* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag) {
  return ZTR_AppendObject(group, ZTR_OBJECT_TYPE_SEGMENT, object, color, flag);
}
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_SEGMENTS_OBJECT* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag) {
  return ZTR_AppendObject(group, ZTR_OBJECT_TYPE_SEGMENTS, object, color, flag);
}
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_POLYLINE_OBJECT* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag) {
  return ZTR_AppendObject(group, ZTR_OBJECT_TYPE_POLYLINE, object, color, flag);
}
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_TUBE_OBJECT* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag) {
  return ZTR_AppendObject(group, ZTR_OBJECT_TYPE_TUBE, object, color, flag);
}
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_TRIANGULAR_MESH* object,
                     const ZTR_OBJECT_COLOR* color, int32_t flag) {
  return ZTR_AppendObject(group, ZTR_OBJECT_TYPE_TRIANGULAR_MESH, object, color, flag);
}
int ZTR_AppendObject(ZTR_OBJECT_GROUP* group, ZTR_OBJECT_GROUP* nested,
                     const ZTR_OBJECT_COLOR* color, int32_t flag) {
  return ZTR_AppendObject(group, ZTR_OBJECT_TYPE_GROUP, nested, color, flag);
}

// ---- objects ------------------------------------------------------------------------------

ZTR_SPHERE_OBJECT* ZTR_NewSphereObject(ZTR_OBJECT_POINT centre, float radius) {
  return new (std::nothrow)
      ZTR_SPHERE_OBJECT{centre, radius, {ZTR_OBJECT_TAIL_0, ZTR_OBJECT_TAIL_1}};
}

ZTR_ELLIPSOID_OBJECT* ZTR_NewEllipsoidObject(ZTR_OBJECT_POINT centre,
                                             const ZTR_OBJECT_POINT axes[3],
                                             const float radii[3]) {
  if (axes == nullptr || radii == nullptr) return nullptr;
  auto* o = new (std::nothrow) ZTR_ELLIPSOID_OBJECT{};
  if (o == nullptr) return nullptr;
  o->points[0] = centre;
  for (int i = 0; i < 3; ++i) {
    o->points[i + 1] = axes[i];
    o->values[i] = std::bit_cast<int32_t>(radii[i]);
  }
  o->tail[0] = ZTR_OBJECT_TAIL_0;
  o->tail[1] = ZTR_OBJECT_TAIL_1;
  return o;
}

ZTR_SEGMENT_OBJECT* ZTR_NewSegmentObject(ZTR_OBJECT_POINT start, ZTR_OBJECT_POINT end,
                                         float width) {
  return new (std::nothrow) ZTR_SEGMENT_OBJECT{{start, end},
                                               {std::bit_cast<int32_t>(width), 0},
                                               {ZTR_OBJECT_TAIL_0, ZTR_OBJECT_TAIL_1}};
}

ZTR_SEGMENTS_OBJECT* ZTR_NewSegmentsObject(int32_t n) {
  if (n < 0) return nullptr;
  try {
    auto* o = new ZTR_SEGMENTS_OBJECT{};
    o->starts.assign(static_cast<size_t>(n), ZTR_OBJECT_POINT{0, 0, 0});
    o->ends.assign(static_cast<size_t>(n), ZTR_OBJECT_POINT{0, 0, 0});
    return o;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ZTR_POLYLINE_OBJECT* ZTR_NewPolylineObject(int32_t n, bool with_colors) {
  if (n < 0) return nullptr;
  try {
    auto* o = new ZTR_POLYLINE_OBJECT{};
    o->points.assign(static_cast<size_t>(n), ZTR_OBJECT_POINT{0, 0, 0});
    if (with_colors) o->colors.assign(static_cast<size_t>(n), kWhite);
    return o;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ZTR_TUBE_OBJECT* ZTR_NewTubeObject(int32_t n, bool with_colors) {
  if (n < 0) return nullptr;
  try {
    auto* o = new ZTR_TUBE_OBJECT{};
    o->points.assign(static_cast<size_t>(n), ZTR_OBJECT_POINT{0, 0, 0});
    o->radii.assign(static_cast<size_t>(n), 0.0f);
    if (with_colors) o->colors.assign(static_cast<size_t>(n), kWhite);
    o->tail[0] = ZTR_OBJECT_TAIL_0;
    o->tail[1] = ZTR_OBJECT_TAIL_1;
    return o;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ZTR_TRIANGULAR_MESH* ZTR_NewTriangularMesh(int32_t triangle_count, int32_t vertex_count,
                                           bool with_colors) {
  if (triangle_count < 0 || vertex_count < 0) return nullptr;
  try {
    auto* o = new ZTR_TRIANGULAR_MESH{};
    o->triangles.assign(static_cast<size_t>(triangle_count), std::array<int32_t, 3>{0, 0, 0});
    o->vertices.assign(static_cast<size_t>(vertex_count), ZTR_OBJECT_POINT{0, 0, 0});
    o->normals.assign(static_cast<size_t>(vertex_count), ZTR_OBJECT_POINT{0, 0, 0});
    if (with_colors) o->colors.assign(static_cast<size_t>(vertex_count), kWhite);
    return o;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void ZTR_DeleteObject(int32_t type, void* object) {
  if (object == nullptr) return;
  if (const ObjectCodec* codec = codec_of(type)) codec->destroy(object);
}

// ---- wire form ----------------------------------------------------------------------------

size_t ZTR_GetObjectGroupWireSize(const ZTR_OBJECT_GROUP* group) {
  return group != nullptr ? group_wire_size(group) : 0;
}

size_t ZTR_GetObjectWireSize(int32_t type, const void* object) {
  return object_wire_size(type, object);
}

int64_t ZTR_WriteObjectGroup(const ZTR_OBJECT_GROUP* group, void* destination, size_t size) {
  if (group == nullptr || destination == nullptr) return -1;
  const size_t needed = group_wire_size(group);
  if (size < needed) return -1;
  Writer w(static_cast<unsigned char*>(destination));
  write_group(w, group);
  return static_cast<int64_t>(w.position());
}

ZTR_OBJECT_GROUP* ZTR_ReadObjectGroup(const void* source, size_t size, size_t* consumed) {
  if (source == nullptr) return nullptr;
  try {
    Reader r(static_cast<const unsigned char*>(source), size);
    ZTR_OBJECT_GROUP* group = read_group(r, 0);
    if (group == nullptr) return nullptr;
    if (consumed != nullptr) {
      *consumed = r.position();
    } else if (r.left() != 0) {
      ZTR_DeleteObjectGroup(group);
      return nullptr;
    }
    return group;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
