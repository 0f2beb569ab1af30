// Study objects: the analyses a user keeps (fiber tracking, diffusion profile, voxel
// statistics) with their parameters and regions, and the list that owns them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "analyzer/app/slice_view.h"
#include "analyzer/objects/roi_object.h"
#include "analyzer/voxel/diffusion_profile.h"
#include "analyzer/voxel/voxel_statistics.h"
#include "sdk/ipc/object_group_ptr.h"
#include "sdk/ipc/object_group.h"
#include "sdk/volume/box.h"

inline constexpr uint16_t ZTR_NO_STUDY = 65535;
inline constexpr size_t ZTR_STUDY_NAME_BYTES = 256;
inline constexpr size_t ZTR_STUDY_SUMMARY_BYTES = 10240;
inline constexpr int32_t ZTR_STUDY_MAX_LISTED = 128;
inline constexpr char ZTR_STUDY_NOT_ANALYSED_SUMMARY[] = "(not analyzed yet)";

// Study kinds (the type word).
enum : int32_t {
  ZTR_STUDY_FIBER_TRACKING = 0,
  ZTR_STUDY_DIFFUSION_PROFILE = 1,
  ZTR_STUDY_VOXEL_STATISTICS = 2,
};
inline constexpr int ZTR_STUDY_KINDS = 3;

// Study status.
enum : int32_t {
  ZTR_STUDY_NOT_ANALYSED = 0,
  ZTR_STUDY_ANALYSED = 1,  // in this session
  ZTR_STUDY_RELOADED = 2,  // analysed before it was saved and loaded again
};

// A region's voxel group in the form ROI files carry it (a box of the volume, one bit or one
// byte per box voxel).
using StudyVoxelGroup = VoxelGroup;
inline constexpr int32_t ZTR_STUDY_GROUP_BITS = ZTR_GROUP_BITS;
inline constexpr int32_t ZTR_STUDY_GROUP_BYTES = ZTR_GROUP_BYTES;

// One region of a study: its own drawn sphere or outline (the view), listed ROIs by ID, or
// the host's box.
struct StudyRegion {
  int32_t selector = ZTR_REGION_NONE;
  int32_t listed_count = 0;
  std::array<uint16_t, ZTR_STUDY_MAX_LISTED> listed_ids{};
  SliceView view;
  std::optional<StudyVoxelGroup> group;
  std::optional<ZTR_FLOAT_BOX> box;
};

// Fiber tracking: the criteria and stepping words, the seed region, the display block and
// the target and avoidance regions. The tracking engine's run-time words are its own.
struct FiberTrackingStudy {
  int32_t fa_on = 1;
  float fa_min = 0.18f;
  std::array<uint32_t, 4> further{};  // carried unchanged
  int32_t adc_on = 0;
  float adc_max = 0.003f;  // mm^2/s
  int32_t so_low_on = 1;
  float so_min = 0.0f;
  int32_t so_high_on = 0;
  float so_max = 900.0f;
  int32_t angle_on = 0;
  float angle_max = 30.0f;  // degrees
  float angle_cosine = 0.0f;  // set by a run from angle_max
  int32_t length = 160;       // steps
  float step = 0.7f;          // voxels
  int32_t scheme = 123;
  int32_t seed_density = 542;
  StudyRegion seed;
  int32_t primitive = 432;
  int32_t colour_mode = 253;
  std::array<std::array<float, 4>, 3> colours{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}};
  StudyRegion target;
  StudyRegion avoidance;
};

// Diffusion profile: the profile setting (its own region fields are filled from `region` by a
// run) and the analysis region.
struct DiffusionProfileStudy {
  DIFFUSION_PROFILE_SETTING setting;
  uint32_t further = 0;  // carried unchanged
  StudyRegion region;
};

struct VoxelStatisticsStudy {
  int32_t colour_mode = 3564;
  std::array<float, 4> colour{1.0f, 0.5f, 0.25f, 0.0f};
  StudyRegion region;
};

using StudyKindPart = std::variant<FiberTrackingStudy, DiffusionProfileStudy, VoxelStatisticsStudy>;

// What an analysis keeps for display; each kind's run derives its own.
struct StudyResult {
  virtual ~StudyResult() = default;
};

using ObjectGroupPtr = GroupPtr;

struct STUDY_OBJECT {
  STUDY_OBJECT() = default;
  // A study whose kind part of `kind_type` (0 ... 2) is built in place: a region's view
  // carries its pictures, so no other part is built first.
  explicit STUDY_OBJECT(int32_t kind_type);

  uint16_t id = 0;
  int32_t type = ZTR_STUDY_FIBER_TRACKING;  // always the index of `kind`
  StudyKindPart kind;
  std::unique_ptr<StudyResult> result;
  int32_t status = ZTR_STUDY_NOT_ANALYSED;
  int32_t visibility = 1;
  // Zero-filled and always NUL-terminated, so that files carry no stale bytes.
  char name[ZTR_STUDY_NAME_BYTES] = {};
  char summary[ZTR_STUDY_SUMMARY_BYTES] = {};
  ObjectGroupPtr group;
  int32_t host_object_id = -1;
};

// A study of `type` with every default of its kind (ID 0, no host object), or nullptr with
// "Err: Invalid study object type\n" for an unknown type. The name is left empty.
std::unique_ptr<STUDY_OBJECT> make_study_object(int32_t type);

// The kind part's regions in their fixed order: seed, target, avoidance for fiber tracking,
// the analysis region otherwise.
std::vector<StudyRegion*> study_regions(STUDY_OBJECT& study);
std::vector<const StudyRegion*> study_regions(const STUDY_OBJECT& study);

// Bounded copies: at most 255 name bytes or 10,239 summary bytes, the rest zero.
void set_study_name(STUDY_OBJECT& study, const std::string& text);
void set_study_summary(STUDY_OBJECT& study, const std::string& text);

// List row texts.
const char* study_kind_label(int32_t type);      // "Ft", "Dp", "Vs"
const char* study_status_label(int32_t status);  // "----", "done", "++++"
// The five columns of a list row; `row` counts from 0 and shows from 1.
std::array<std::string, 5> study_row_columns(const STUDY_OBJECT& study, int row);

// Per-kind counters; a data replacement resets them with the list.
struct StudyCounters {
  int32_t next_id = 0;
  std::array<int32_t, ZTR_STUDY_KINDS> names{};
};

// The studies in creation order. Studies are held by pointer so that references stay valid
// while the list changes.
struct StudyList {
  std::vector<std::unique_ptr<STUDY_OBJECT>> studies;
  uint16_t active_id = ZTR_NO_STUDY;
  StudyCounters counters;
};

STUDY_OBJECT* find_study(StudyList& list, uint16_t id);
STUDY_OBJECT* get_active_study_object(StudyList& list);
// Index of the study with `id`, or -1.
int study_index(const StudyList& list, uint16_t id);

// Number of object slots the active study's display group needs: one per drawn region
// (sphere or outline), one per listed ID for which `roi_exists` holds, and for a voxel
// statistics study whose region is not the box one slot for its mask shape. Counting first
// lets the group hold up to three full lists of listed ROIs.
int32_t study_display_slot_count(const STUDY_OBJECT& study,
                                 const std::function<bool(uint16_t)>& roi_exists);
