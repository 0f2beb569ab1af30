// Stored studies and regions, and study object files: a field-by-field little-endian writer
// and a reader that checks a whole record before anything is created.
#include "analyzer/studies/study_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "analyzer/app/roi_view_conversion.h"
#include "analyzer/objects/roi_file.h"
#include "sdk/volume/byte_codec.h"

namespace {

using Writer = ByteWriter;
using Reader = ByteReader;

bool fail(std::string* reason, const std::string& text) {
  if (reason) *reason = text;
  return false;
}

bool known_selector(int32_t s) {
  return s == ZTR_REGION_SPHERE || s == ZTR_REGION_FREEHAND || s == ZTR_REGION_FREEHAND_ON_MAP ||
         s == ZTR_REGION_LISTED || s == ZTR_REGION_BOX_VOI || s == ZTR_REGION_NONE;
}

// A record never holds more than the capacities; a longer one is written cut so that every
// file written is one the reader accepts.
int32_t stored_listed(const StudyRegion& r) {
  return std::clamp(r.listed_count, 0, ZTR_STUDY_MAX_LISTED);
}
int32_t stored_points(const StudyRegion& r) {
  return std::clamp(r.view.point_count, 0, ZTR_OUTLINE_CAPACITY);
}

constexpr size_t kTextBytes = ZTR_STUDY_NAME_BYTES + ZTR_STUDY_SUMMARY_BYTES;
constexpr size_t kTailBytes = 8 + kTextBytes;  // status, visibility, name, summary

// The text up to its terminator, then zeros: whatever a caller left behind the terminator
// never reaches a file, so equal studies give equal files.
void write_text(Writer& w, const char* field, size_t bytes) {
  const size_t length = strnlen(field, bytes - 1);
  w.bytes(field, length);
  static const uint8_t zeros[ZTR_STUDY_SUMMARY_BYTES] = {};
  w.bytes(zeros, bytes - length);
}

}  // namespace

// ---- stored region --------------------------------------------------------------------

size_t stored_region_bytes(const StudyRegion& region) {
  size_t bytes = 128 + 2 * size_t(stored_listed(region)) + 4 * size_t(stored_points(region));
  if (region.group) bytes += 40 + region.group->data.size();
  if (region.box) bytes += 24;
  return bytes;
}

void serialise_stored_region(const StudyRegion& region, std::vector<uint8_t>& out) {
  Writer w(out);
  const int32_t listed = stored_listed(region);
  w.i32(region.selector);
  w.i32(listed);
  for (int32_t i = 0; i < listed; ++i) w.u16(region.listed_ids[size_t(i)]);
  RoiView view;
  slice_view_to_roi_view(region.view, GridSize{}, view);
  write_stored_view(w, view);
  write_stored_voxel_group(w, region.group);
  w.i32(region.box ? 1 : 0);
  if (region.box) {
    for (float x : region.box->origin) w.f32(x);
    for (float x : region.box->size) w.f32(x);
  }
}

bool parse_stored_region(const uint8_t* data, size_t size, StudyRegion* region, size_t* consumed,
                         std::string* reason) {
  Reader r(data, size);
  StudyRegion in;
  in.selector = r.i32();
  in.listed_count = r.i32();
  if (!r.ok()) return fail(reason, "the region record is truncated");
  if (!known_selector(in.selector)) {
    return fail(reason, "unknown region selector " + std::to_string(in.selector));
  }
  if (in.listed_count < 0 || in.listed_count > ZTR_STUDY_MAX_LISTED) {
    return fail(reason, "listed ROI count " + std::to_string(in.listed_count) + " out of range");
  }
  for (int32_t i = 0; i < in.listed_count; ++i) in.listed_ids[size_t(i)] = r.u16();
  RoiView view;
  if (!read_stored_view(r, "region", &view, reason)) return false;
  roi_view_to_slice_view(view, in.view);
  if (!read_stored_voxel_group(r, "region", 0, &in.group, reason)) return false;
  const int32_t has_box = r.i32();
  if (!r.ok()) return fail(reason, "the region record is truncated");
  if (has_box != 0) {
    ZTR_FLOAT_BOX box;
    for (float& x : box.origin) x = r.f32();
    for (float& x : box.size) x = r.f32();
    if (!r.ok()) return fail(reason, "the region box is truncated");
    for (int a = 0; a < 3; ++a) {
      // The box goes to the host truncated to integers: keep it within what an int holds.
      if (!(std::fabs(box.origin[a]) < 1.0e9f) || !(std::fabs(box.size[a]) < 1.0e9f)) {
        return fail(reason, "the region box holds a value out of range");
      }
    }
    in.box = box;
  }
  *region = std::move(in);
  if (consumed) *consumed = r.position();
  return true;
}

// ---- stored study ---------------------------------------------------------------------

size_t stored_study_bytes(const STUDY_OBJECT& study) {
  size_t kind = 0;
  if (study.type == ZTR_STUDY_FIBER_TRACKING) kind = 100;
  if (study.type == ZTR_STUDY_DIFFUSION_PROFILE) kind = 76;
  if (study.type == ZTR_STUDY_VOXEL_STATISTICS) kind = 20;
  for (const StudyRegion* region : study_regions(study)) kind += stored_region_bytes(*region);
  return 4 + kind + kTailBytes;
}

size_t stored_study_size(const STUDY_OBJECT& study) {
  const size_t size = stored_study_bytes(study);
  std::fprintf(stderr, "STUDY_OBJECT: size = %ld bytes\n", long(size));
  return size;
}

void serialise_stored_study(const STUDY_OBJECT& study, std::vector<uint8_t>& out) {
  Writer w(out);
  w.i32(study.type);
  if (const auto* ft = std::get_if<FiberTrackingStudy>(&study.kind)) {
    w.i32(ft->fa_on);
    w.f32(ft->fa_min);
    for (uint32_t x : ft->further) w.u32(x);
    w.i32(ft->adc_on);
    w.f32(ft->adc_max);
    w.i32(ft->so_low_on);
    w.f32(ft->so_min);
    w.i32(ft->so_high_on);
    w.f32(ft->so_max);
    w.i32(ft->angle_on);
    w.f32(ft->angle_max);
    w.f32(ft->angle_cosine);
    w.i32(ft->length);
    w.f32(ft->step);
    w.i32(ft->scheme);
    w.i32(ft->seed_density);
    serialise_stored_region(ft->seed, out);
    w.i32(ft->primitive);
    w.i32(ft->colour_mode);
    for (float c : ft->colours[0]) w.f32(c);
    serialise_stored_region(ft->target, out);
    serialise_stored_region(ft->avoidance, out);
  } else if (const auto* dp = std::get_if<DiffusionProfileStudy>(&study.kind)) {
    const DIFFUSION_PROFILE_SETTING& s = dp->setting;
    w.i32(s.fa_on);
    w.f32(s.fa_low);
    w.i32(s.fa_on_copy);
    w.f32(s.fa_high);
    w.i32(s.adc_on);
    w.f32(s.adc_low);
    w.i32(s.adc_on_copy);
    w.f32(s.adc_high);
    w.i32(s.so_on);
    w.f32(s.so_low);
    w.i32(s.so_on_copy);
    w.f32(s.so_high);
    w.i32(s.point_count);
    w.u32(0);  // the point table is this session's; a run builds it again
    w.u32(dp->further);
    w.i32(s.density);
    w.i32(s.primitive);
    w.i32(s.colouring);
    w.i32(s.emphasis);
    serialise_stored_region(dp->region, out);
  } else {
    const auto& vs = std::get<VoxelStatisticsStudy>(study.kind);
    w.i32(vs.colour_mode);
    for (float c : vs.colour) w.f32(c);
    serialise_stored_region(vs.region, out);
  }
  w.i32(study.status);
  w.i32(study.visibility);
  write_text(w, study.name, sizeof study.name);
  write_text(w, study.summary, sizeof study.summary);
}

namespace {

bool parse_region_at(Reader& r, StudyRegion* region, std::string* reason) {
  if (!r.ok()) return fail(reason, "the study record is truncated");
  const uint8_t* at = r.take(0);
  size_t used = 0;
  if (!parse_stored_region(at, r.left(), region, &used, reason)) return false;
  r.take(used);
  return true;
}

}  // namespace

std::unique_ptr<STUDY_OBJECT> parse_stored_study(const uint8_t* data, size_t size,
                                                 size_t* consumed, std::string* reason) {
  Reader r(data, size);
  const int32_t type = r.i32();
  if (!r.ok()) {
    fail(reason, "the study record is truncated");
    return nullptr;
  }
  if (type < 0 || type >= ZTR_STUDY_KINDS) {
    fail(reason, "unknown study type " + std::to_string(type));
    return nullptr;
  }
  auto study = std::make_unique<STUDY_OBJECT>(type);
  if (type == ZTR_STUDY_FIBER_TRACKING) {
    FiberTrackingStudy& ft = std::get<FiberTrackingStudy>(study->kind);
    ft.fa_on = r.i32();
    ft.fa_min = r.f32();
    for (uint32_t& x : ft.further) x = r.u32();
    ft.adc_on = r.i32();
    ft.adc_max = r.f32();
    ft.so_low_on = r.i32();
    ft.so_min = r.f32();
    ft.so_high_on = r.i32();
    ft.so_max = r.f32();
    ft.angle_on = r.i32();
    ft.angle_max = r.f32();
    ft.angle_cosine = r.f32();
    ft.length = r.i32();
    ft.step = r.f32();
    ft.scheme = r.i32();
    ft.seed_density = r.i32();
    if (!parse_region_at(r, &ft.seed, reason)) return nullptr;
    ft.primitive = r.i32();
    ft.colour_mode = r.i32();
    for (float& c : ft.colours[0]) c = r.f32();
    if (!parse_region_at(r, &ft.target, reason)) return nullptr;
    if (!parse_region_at(r, &ft.avoidance, reason)) return nullptr;
  } else if (type == ZTR_STUDY_DIFFUSION_PROFILE) {
    DiffusionProfileStudy& dp = std::get<DiffusionProfileStudy>(study->kind);
    DIFFUSION_PROFILE_SETTING& s = dp.setting;
    s.fa_on = r.i32();
    s.fa_low = r.f32();
    s.fa_on_copy = r.i32();
    s.fa_high = r.f32();
    s.adc_on = r.i32();
    s.adc_low = r.f32();
    s.adc_on_copy = r.i32();
    s.adc_high = r.f32();
    s.so_on = r.i32();
    s.so_low = r.f32();
    s.so_on_copy = r.i32();
    s.so_high = r.f32();
    r.i32();  // point count and table: the next run sets both
    r.u32();
    s.point_count = 0;
    s.point_table = nullptr;
    dp.further = r.u32();
    s.density = r.i32();
    s.primitive = r.i32();
    s.colouring = r.i32();
    s.emphasis = r.i32();
    if (!parse_region_at(r, &dp.region, reason)) return nullptr;
  } else {
    VoxelStatisticsStudy& vs = std::get<VoxelStatisticsStudy>(study->kind);
    vs.colour_mode = r.i32();
    for (float& c : vs.colour) c = r.f32();
    if (!parse_region_at(r, &vs.region, reason)) return nullptr;
  }
  study->status = r.i32();
  study->visibility = r.i32();
  const uint8_t* name = r.take(ZTR_STUDY_NAME_BYTES);
  const uint8_t* summary = r.take(ZTR_STUDY_SUMMARY_BYTES);
  if (!r.ok()) {
    fail(reason, "the study record is truncated");
    return nullptr;
  }
  if (study->status < ZTR_STUDY_NOT_ANALYSED || study->status > ZTR_STUDY_RELOADED) {
    fail(reason, "unknown study status " + std::to_string(study->status));
    return nullptr;
  }
  if (study->visibility != 0 && study->visibility != 1) {
    fail(reason, "unknown study visibility " + std::to_string(study->visibility));
    return nullptr;
  }
  if (!std::memchr(name, 0, ZTR_STUDY_NAME_BYTES) ||
      !std::memchr(summary, 0, ZTR_STUDY_SUMMARY_BYTES)) {
    fail(reason, "the study name or summary is not terminated");
    return nullptr;
  }
  // Bytes after the terminator are dropped, so that a loaded study writes a clean file.
  set_study_name(*study, reinterpret_cast<const char*>(name));
  set_study_summary(*study, reinterpret_cast<const char*>(summary));
  if (consumed) *consumed = r.position();
  return study;
}

// ---- study object file ----------------------------------------------------------------

std::vector<uint8_t> study_file_bytes(const STUDY_OBJECT& study, const StudyGridSize& volume) {
  std::vector<uint8_t> out;
  out.reserve(ZTR_STUDY_FILE_HEAD_BYTES + stored_study_bytes(study));
  Writer w(out);
  w.bytes(ZTR_STUDY_FILE_MAGIC, ZTR_STUDY_FILE_MAGIC_BYTES);
  for (int32_t x : volume) w.i32(x);
  serialise_stored_study(study, out);
  return out;
}

bool write_study_file(const std::string& path, const STUDY_OBJECT& study,
                      const StudyGridSize& volume, std::string* reason) {
  stored_study_size(study);
  const std::vector<uint8_t> bytes = study_file_bytes(study, volume);
  const std::string temporary = path + ".part";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return fail(reason, "cannot open " + temporary + ": " + std::strerror(errno));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::remove(temporary.c_str());
    return fail(reason, "cannot write " + temporary);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return fail(reason, "cannot rename " + temporary + " to " + path);
  }
  return true;
}

StudyFileStatus parse_study_file(const uint8_t* data, size_t size,
                                 std::unique_ptr<STUDY_OBJECT>* study, StudyGridSize* volume,
                                 std::string* reason) {
  if (size < ZTR_STUDY_FILE_MAGIC_BYTES ||
      std::memcmp(data, ZTR_STUDY_FILE_MAGIC, ZTR_STUDY_FILE_MAGIC_BYTES) != 0) {
    return StudyFileStatus::NotStudyFile;
  }
  Reader r(data + ZTR_STUDY_FILE_MAGIC_BYTES, size - ZTR_STUDY_FILE_MAGIC_BYTES);
  StudyGridSize dims{};
  for (int32_t& x : dims) x = r.i32();
  if (!r.ok()) {
    fail(reason, "the study file is truncated");
    return StudyFileStatus::Refused;
  }
  size_t used = 0;
  const uint8_t* record = data + ZTR_STUDY_FILE_HEAD_BYTES;
  const size_t record_size = size - ZTR_STUDY_FILE_HEAD_BYTES;
  auto parsed = parse_stored_study(record, record_size, &used, reason);
  if (!parsed) return StudyFileStatus::Refused;
  if (used != record_size) {
    fail(reason, "the study file has bytes after its record");
    return StudyFileStatus::Refused;
  }
  *study = std::move(parsed);
  if (volume) *volume = dims;
  return StudyFileStatus::Ok;
}

StudyFileStatus read_study_file(const std::string& path, std::unique_ptr<STUDY_OBJECT>* study,
                                StudyGridSize* volume, std::string* reason) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return StudyFileStatus::CannotOpen;
  struct stat info{};
  // Read whole, bounded by the file's real size; 2 GiB is far beyond three regions that each
  // carry a voxel group of a whole volume.
  if (fstat(fileno(file), &info) != 0 || info.st_size < 0 ||
      uint64_t(info.st_size) > (uint64_t(1) << 31)) {
    std::fclose(file);
    fail(reason, "the study file size cannot be used");
    return StudyFileStatus::Refused;
  }
  try {
    std::vector<uint8_t> bytes(size_t(info.st_size));
    const size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    file = nullptr;
    bytes.resize(got);
    return parse_study_file(bytes.data(), bytes.size(), study, volume, reason);
  } catch (const std::bad_alloc&) {
    if (file) std::fclose(file);
    fail(reason, "not enough memory to read the study file");
    return StudyFileStatus::Refused;
  }
}
