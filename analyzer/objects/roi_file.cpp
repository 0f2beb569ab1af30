// Stored ROIs and ROI object files: a field-by-field little-endian writer and a reader that
// checks the whole record before anything is created.
#include "analyzer/objects/roi_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "analyzer/objects/roi_region.h"
#include "sdk/volume/byte_codec.h"

namespace {

// Everything of a stored ROI after the outline points and the voxel group.
constexpr size_t kTailBytes = 80 + 8 + ZTR_ROI_NAME_BYTES + 6;

using Writer = ByteWriter;
using Reader = ByteReader;

bool finite(const Vec3& v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

bool known_orientation(int32_t code) {
  return code == ZTR_VIEW_AXIAL || code == ZTR_VIEW_SAGITTAL || code == ZTR_VIEW_CORONAL ||
         code == ZTR_VIEW_OBLIQUE || code == ZTR_VIEW_SPHERICAL_MAP;
}

bool fail(std::string* reason, const std::string& text) {
  if (reason) *reason = text;
  return false;
}

size_t group_part_bytes(const ROI_OBJECT& roi) {
  return roi.group ? 40 + roi.group->data.size() : 0;
}

}  // namespace

// ---- the view part and the voxel group, as ROI files and study regions carry them ------

void write_stored_view(ByteWriter& w, const RoiView& v) {
  w.i32(v.channel);
  w.f32(v.window_low);
  w.f32(v.window_high);
  w.i32(v.orientation);
  w.f32(v.zoom);
  w.vec(v.centre);
  w.vec(v.u);
  w.vec(v.v);
  w.vec(v.sphere_centre);
  w.vec(v.axis_a);
  w.vec(v.axis_b);
  w.f32(v.radius_fraction);
  w.i32(v.drawing_mode);
  w.f32(v.sphere_radius);
  // A view never holds more outline points than its capacity; a record that did would be
  // written cut to it rather than as a file no reader accepts.
  const size_t points = std::min<size_t>(v.points.size(), ZTR_VIEW_MAX_POINTS);
  w.i32(int32_t(points));
  w.u16(v.start_point[0]);
  w.u16(v.start_point[1]);
  for (size_t i = 0; i < points; ++i) {
    w.u16(v.points[i][0]);
    w.u16(v.points[i][1]);
  }
}

bool read_stored_view(ByteReader& r, const char* record, RoiView* view, std::string* reason) {
  RoiView& v = *view;
  v.channel = r.i32();
  v.window_low = r.f32();
  v.window_high = r.f32();
  v.orientation = r.i32();
  v.zoom = r.f32();
  v.centre = r.vec();
  v.u = r.vec();
  v.v = r.vec();
  v.sphere_centre = r.vec();
  v.axis_a = r.vec();
  v.axis_b = r.vec();
  v.radius_fraction = r.f32();
  v.drawing_mode = r.i32();
  v.sphere_radius = r.f32();
  const int32_t point_count = r.i32();
  v.start_point = {r.u16(), r.u16()};
  if (!r.ok()) return fail(reason, std::string("the ") + record + " record is truncated");
  if (!known_orientation(v.orientation)) {
    return fail(reason, "unknown view orientation " + std::to_string(v.orientation));
  }
  if (v.drawing_mode != ZTR_DRAW_SPHERE && v.drawing_mode != ZTR_DRAW_FREEHAND) {
    return fail(reason, "unknown drawing mode " + std::to_string(v.drawing_mode));
  }
  if (!(v.zoom >= ZTR_ROI_MIN_ZOOM && v.zoom <= ZTR_ROI_MAX_ZOOM)) {
    return fail(reason, "view zoom out of range");
  }
  if (!(v.sphere_radius >= 0.0f && v.sphere_radius <= ZTR_ROI_MAX_RADIUS)) {
    return fail(reason, "sphere radius out of range");
  }
  if (!std::isfinite(v.window_low) || !std::isfinite(v.window_high) ||
      !std::isfinite(v.radius_fraction) || !finite(v.centre) || !finite(v.u) || !finite(v.v) ||
      !finite(v.sphere_centre) || !finite(v.axis_a) || !finite(v.axis_b)) {
    return fail(reason, "the view holds a value that is not a finite number");
  }
  if (point_count < 0 || point_count > ZTR_VIEW_MAX_POINTS) {
    return fail(reason, "outline point count " + std::to_string(point_count) + " out of range");
  }
  if (v.start_point[0] >= ZTR_VIEW_SIZE || v.start_point[1] >= ZTR_VIEW_SIZE) {
    return fail(reason, "start point outside the view");
  }
  if (size_t(point_count) * 4 > r.left()) return fail(reason, "the outline is truncated");
  v.points.resize(size_t(point_count));
  for (auto& p : v.points) {
    p = {r.u16(), r.u16()};
    if (p[0] >= ZTR_VIEW_SIZE || p[1] >= ZTR_VIEW_SIZE) {
      return fail(reason, "outline point outside the view");
    }
  }
  if (v.channel < 0) v.channel = 0;
  return true;
}

void write_stored_voxel_group(ByteWriter& w, const std::optional<VoxelGroup>& group) {
  w.i32(group ? 1 : 0);
  if (!group) return;
  const VoxelGroup& g = *group;
  for (int32_t x : g.origin) w.i32(x);
  for (int32_t x : g.size) w.i32(x);
  for (int32_t x : g.volume_size) w.i32(x);
  w.i32(g.storage);
  w.bytes(g.data.data(), g.data.size());
}

bool read_stored_voxel_group(ByteReader& r, const char* record, size_t tail_bytes,
                             std::optional<VoxelGroup>* group, std::string* reason) {
  const int32_t has_group = r.i32();
  if (!r.ok()) return fail(reason, std::string("the ") + record + " record is truncated");
  group->reset();
  if (has_group == 0) return true;
  VoxelGroup g;
  for (int32_t& x : g.origin) x = r.i32();
  for (int32_t& x : g.size) x = r.i32();
  for (int32_t& x : g.volume_size) x = r.i32();
  g.storage = r.i32();
  if (!r.ok()) return fail(reason, "the voxel group is truncated");
  if (g.storage != ZTR_GROUP_BITS && g.storage != ZTR_GROUP_BYTES) {
    return fail(reason, "unknown voxel group storage code " + std::to_string(g.storage));
  }
  for (int a = 0; a < 3; ++a) {
    if (g.size[size_t(a)] < 1 || g.volume_size[size_t(a)] < 1) {
      return fail(reason, "voxel group box or volume size below 1");
    }
  }
  // The product is checked against the bytes left before it is formed, so it cannot
  // overflow: two sizes fit in 62 bits, and the third is compared by division.
  const int64_t plane = int64_t(g.size[0]) * g.size[1];
  const int64_t left = int64_t(r.left());
  const int64_t most_voxels = g.storage == ZTR_GROUP_BITS ? left * 8 : left;
  if (plane > most_voxels / g.size[2]) return fail(reason, "the voxel group data is truncated");
  const int64_t bytes = voxel_group_data_bytes(g.storage, plane * g.size[2]);
  if (bytes + int64_t(tail_bytes) > left) return fail(reason, "the voxel group data is truncated");
  const uint8_t* p = r.take(size_t(bytes));
  g.data.assign(p, p + bytes);
  *group = std::move(g);
  return true;
}

// A view never holds more outline points than its capacity; a record that did would be
// written cut to it rather than as a file no reader accepts.
static size_t stored_point_count(const ROI_OBJECT& roi) {
  return std::min<size_t>(roi.view.points.size(), ZTR_VIEW_MAX_POINTS);
}

size_t stored_roi_bytes(const ROI_OBJECT& roi) {
  return 470 + 4 * stored_point_count(roi) + group_part_bytes(roi);
}

size_t stored_roi_size(const ROI_OBJECT& roi) {
  const size_t size = stored_roi_bytes(roi);
  std::fprintf(stderr, "ROI_OBJECT: size = %ld bytes\n", long(size));
  return size;
}

void serialise_stored_roi(const ROI_OBJECT& roi, std::vector<uint8_t>& out) {
  Writer w(out);
  w.i32(roi.type);
  write_stored_view(w, roi.view);
  write_stored_voxel_group(w, roi.group);
  for (uint32_t word : roi.growing.words) w.u32(word);
  w.i32(roi.status);
  w.i32(roi.visibility);
  w.bytes(roi.name, sizeof roi.name - 1);
  w.bytes("", 1);  // the terminating zero, even if a caller filled the whole field
  for (uint16_t c : roi.colour) w.u16(c);
}

bool parse_stored_roi(const uint8_t* data, size_t size, ROI_OBJECT* roi, size_t* consumed,
                      std::string* reason) {
  Reader r(data, size);
  ROI_OBJECT in;
  in.id = roi->id;
  in.type = r.i32();
  RoiView& v = in.view;
  if (!read_stored_view(r, "ROI", &v, reason)) return false;
  if (in.type < ZTR_ROI_SPHERICAL || in.type > ZTR_ROI_VOXELGROUP) {
    return fail(reason, "unknown ROI type " + std::to_string(in.type));
  }
  if (!read_stored_voxel_group(r, "ROI", kTailBytes, &in.group, reason)) return false;
  for (uint32_t& word : in.growing.words) word = r.u32();
  in.status = r.i32();
  in.visibility = r.i32();
  const uint8_t* name = r.take(ZTR_ROI_NAME_BYTES);
  for (uint16_t& c : in.colour) c = r.u16();
  if (!r.ok()) return fail(reason, "the ROI record is truncated");
  if (in.status != ZTR_ROI_FREE && in.status != ZTR_ROI_LOCKED) {
    return fail(reason, "unknown ROI status " + std::to_string(in.status));
  }
  if (in.visibility != 0 && in.visibility != 1) {
    return fail(reason, "unknown ROI visibility " + std::to_string(in.visibility));
  }
  if (std::memchr(name, 0, ZTR_ROI_NAME_BYTES) == nullptr) {
    return fail(reason, "the ROI name is not terminated");
  }
  std::memcpy(in.name, name, ZTR_ROI_NAME_BYTES);
  if (!v.points.empty()) v.overlay = fill_outline_overlay(v.points);
  *roi = std::move(in);
  if (consumed) *consumed = r.position();
  return true;
}

std::vector<uint8_t> roi_file_bytes(const ROI_OBJECT& roi, const GridSize& volume_size) {
  std::vector<uint8_t> out;
  out.reserve(ZTR_ROI_FILE_HEAD_BYTES + stored_roi_bytes(roi));
  Writer w(out);
  w.bytes(ZTR_ROI_FILE_MAGIC, ZTR_ROI_FILE_MAGIC_BYTES);
  for (int32_t x : volume_size) w.i32(x);
  serialise_stored_roi(roi, out);
  return out;
}

bool write_roi_file(const std::string& path, const ROI_OBJECT& roi, const GridSize& volume_size,
                    std::string* reason) {
  stored_roi_size(roi);
  const std::vector<uint8_t> bytes = roi_file_bytes(roi, volume_size);
  const std::string temporary = path + ".part";
  std::FILE* stream = std::fopen(temporary.c_str(), "wb");
  if (stream == nullptr) return fail(reason, "cannot write " + path + ": " + std::strerror(errno));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  const bool closed = std::fclose(stream) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return fail(reason, "cannot write " + path);
  }
  return true;
}

RoiFileStatus parse_roi_file(const uint8_t* data, size_t size, ROI_OBJECT* roi,
                             GridSize* volume_size, std::string* reason) {
  if (size < ZTR_ROI_FILE_MAGIC_BYTES ||
      std::memcmp(data, ZTR_ROI_FILE_MAGIC, ZTR_ROI_FILE_MAGIC_BYTES) != 0) {
    if (reason) *reason = "not a ROI object file";
    return RoiFileStatus::NotRoiFile;
  }
  Reader r(data + ZTR_ROI_FILE_MAGIC_BYTES, size - ZTR_ROI_FILE_MAGIC_BYTES);
  GridSize dims;
  for (int32_t& x : dims) x = r.i32();
  if (!r.ok()) {
    if (reason) *reason = "the ROI file is truncated";
    return RoiFileStatus::Refused;
  }
  ROI_OBJECT parsed;
  parsed.id = roi->id;
  size_t consumed = 0;
  const size_t rest = size - ZTR_ROI_FILE_HEAD_BYTES;
  if (!parse_stored_roi(data + ZTR_ROI_FILE_HEAD_BYTES, rest, &parsed, &consumed, reason)) {
    return RoiFileStatus::Refused;
  }
  if (consumed != rest) {
    if (reason) *reason = "the ROI file has " + std::to_string(rest - consumed) + " bytes after the record";
    return RoiFileStatus::Refused;
  }
  *roi = std::move(parsed);
  *volume_size = dims;
  return RoiFileStatus::Ok;
}

RoiFileStatus read_roi_file(const std::string& path, ROI_OBJECT* roi, GridSize* volume_size,
                            std::string* reason) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
  struct stat info{};
  if (!stream || fstat(fileno(stream.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    if (reason) *reason = "cannot open " + path;
    return RoiFileStatus::CannotOpen;
  }
  // Even a byte-per-voxel group of a 1024^3 volume stays far below this.
  constexpr off_t kLargestFile = off_t(1) << 32;
  if (info.st_size > kLargestFile) {
    if (reason) *reason = path + " is too large for a ROI object file";
    return RoiFileStatus::Refused;
  }
  std::vector<uint8_t> bytes(size_t(info.st_size));
  if (std::fread(bytes.data(), 1, bytes.size(), stream.get()) != bytes.size()) {
    if (reason) *reason = "cannot read " + path;
    return RoiFileStatus::CannotOpen;
  }
  return parse_roi_file(bytes.data(), bytes.size(), roi, volume_size, reason);
}

int export_active_roi(const RoiList& rois, const GridSize& volume_size, const std::string& path,
                      std::string* reason) {
  const ROI_OBJECT* roi = get_active_roi(rois);
  if (roi == nullptr) {
    fail(reason, "no active ROI");
    return -1;
  }
  return write_roi_file(path, *roi, volume_size, reason) ? 0 : -1;
}

ROI_OBJECT* import_roi_file(RoiList& rois, const std::string& path, const GridSize& volume_size,
                            int32_t channel_count, NoticeSink* notices) {
  ROI_OBJECT parsed;
  GridSize dims{};
  std::string reason;
  switch (read_roi_file(path, &parsed, &dims, &reason)) {
    case RoiFileStatus::Ok:
      break;
    case RoiFileStatus::CannotOpen:
      return nullptr;
    case RoiFileStatus::NotRoiFile:
      ztr_show_notice(notices, "Warning", "This is NOT a kLS-II ROI file.");
      return nullptr;
    case RoiFileStatus::Refused:
      std::fprintf(stderr, "Err: ROI object file %s refused: %s\n", path.c_str(), reason.c_str());
      return nullptr;
  }
  if (dims != volume_size) std::fputs("Volume data matrix size mismatch. Open anyway.\n", stderr);
  ROI_OBJECT* roi = new_roi_object(rois, parsed.type, volume_size);
  if (roi == nullptr) return nullptr;
  parsed.id = roi->id;
  if (parsed.view.channel >= channel_count) parsed.view.channel = 0;
  *roi = std::move(parsed);
  rois.active_id = roi->id;
  return roi;
}
