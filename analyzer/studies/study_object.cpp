// Study records: defaults of each kind, bounded name and summary copies, list look-ups.
#include "analyzer/studies/study_object.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

void bounded_copy(char* field, size_t bytes, const std::string& text) {
  std::memset(field, 0, bytes);
  std::memcpy(field, text.data(), std::min(text.size(), bytes - 1));
}

bool drawn(int32_t selector) {
  return selector == ZTR_REGION_SPHERE || selector == ZTR_REGION_FREEHAND ||
         selector == ZTR_REGION_FREEHAND_ON_MAP;
}

}  // namespace

namespace {

StudyKindPart kind_part_in_place(int32_t type) {
  if (type == ZTR_STUDY_FIBER_TRACKING) return StudyKindPart(std::in_place_index<0>);
  if (type == ZTR_STUDY_DIFFUSION_PROFILE) return StudyKindPart(std::in_place_index<1>);
  return StudyKindPart(std::in_place_index<2>);
}

}  // namespace

STUDY_OBJECT::STUDY_OBJECT(int32_t kind_type)
    : type(kind_type), kind(kind_part_in_place(kind_type)) {}

std::unique_ptr<STUDY_OBJECT> make_study_object(int32_t type) {
  if (type < 0 || type >= ZTR_STUDY_KINDS) {
    std::fprintf(stderr, "Err: Invalid study object type\n");
    return nullptr;
  }
  auto study = std::make_unique<STUDY_OBJECT>(type);
  if (auto* ft = std::get_if<FiberTrackingStudy>(&study->kind)) {
    // Tracking regions have no box: the host's box is never a seed, target or avoidance.
    ft->seed.selector = ZTR_REGION_SPHERE;
    ft->target.selector = ZTR_REGION_NONE;
    ft->avoidance.selector = ZTR_REGION_NONE;
  } else {
    StudyRegion& region = *study_regions(*study).front();
    region.selector = ZTR_REGION_BOX_VOI;
    region.box = ZTR_FLOAT_BOX{};
  }
  set_study_summary(*study, ZTR_STUDY_NOT_ANALYSED_SUMMARY);
  return study;
}

std::vector<StudyRegion*> study_regions(STUDY_OBJECT& study) {
  if (auto* ft = std::get_if<FiberTrackingStudy>(&study.kind)) {
    return {&ft->seed, &ft->target, &ft->avoidance};
  }
  if (auto* dp = std::get_if<DiffusionProfileStudy>(&study.kind)) return {&dp->region};
  return {&std::get<VoxelStatisticsStudy>(study.kind).region};
}

std::vector<const StudyRegion*> study_regions(const STUDY_OBJECT& study) {
  std::vector<const StudyRegion*> out;
  for (StudyRegion* r : study_regions(const_cast<STUDY_OBJECT&>(study))) out.push_back(r);
  return out;
}

void set_study_name(STUDY_OBJECT& study, const std::string& text) {
  bounded_copy(study.name, sizeof study.name, text);
}

void set_study_summary(STUDY_OBJECT& study, const std::string& text) {
  bounded_copy(study.summary, sizeof study.summary, text);
}

const char* study_kind_label(int32_t type) {
  static const char* const labels[ZTR_STUDY_KINDS] = {"Ft", "Dp", "Vs"};
  return type >= 0 && type < ZTR_STUDY_KINDS ? labels[type] : "??";
}

const char* study_status_label(int32_t status) {
  static const char* const labels[3] = {"----", "done", "++++"};
  return status >= 0 && status < 3 ? labels[status] : "????";
}

std::array<std::string, 5> study_row_columns(const STUDY_OBJECT& study, int row) {
  char number[16];
  std::snprintf(number, sizeof number, "%3d", row + 1);
  return {number, study_kind_label(study.type), study.visibility == 1 ? "+" : "-",
          study_status_label(study.status), study.name};
}

STUDY_OBJECT* find_study(StudyList& list, uint16_t id) {
  for (auto& s : list.studies) {
    if (s->id == id) return s.get();
  }
  return nullptr;
}

STUDY_OBJECT* get_active_study_object(StudyList& list) {
  return list.active_id == ZTR_NO_STUDY ? nullptr : find_study(list, list.active_id);
}

int study_index(const StudyList& list, uint16_t id) {
  for (size_t i = 0; i < list.studies.size(); ++i) {
    if (list.studies[i]->id == id) return int(i);
  }
  return -1;
}

int32_t study_display_slot_count(const STUDY_OBJECT& study,
                                 const std::function<bool(uint16_t)>& roi_exists) {
  if (const auto* vs = std::get_if<VoxelStatisticsStudy>(&study.kind)) {
    return vs->region.selector == ZTR_REGION_BOX_VOI ? 0 : 1;
  }
  int32_t slots = 0;
  for (const StudyRegion* region : study_regions(study)) {
    if (drawn(region->selector)) {
      ++slots;
    } else if (region->selector == ZTR_REGION_LISTED) {
      const int32_t n = std::clamp(region->listed_count, 0, ZTR_STUDY_MAX_LISTED);
      for (int32_t i = 0; i < n; ++i) {
        if (roi_exists && roi_exists(region->listed_ids[size_t(i)])) ++slots;
      }
    }
  }
  return slots;
}
