// The active study's display group and the voxelization of visible tracklines.
#include "analyzer/studies/study_display.h"

#include <cstring>

#include "analyzer/fibetrak/track_display.h"
#include "analyzer/objects/roi_display.h"
#include "analyzer/studies/study_regions.h"

ZTR_OBJECT_COLOR study_display_colour(const std::array<uint16_t, 3>& colour, float intensity) {
  return {colour[0] / 65535.0f * intensity, colour[1] / 65535.0f * intensity,
          colour[2] / 65535.0f * intensity, 1.0f};
}

namespace {

// The shapes of one region; a region that does not resolve (a deleted listed ROI, nothing
// drawn) shows what it can: the listed ROIs that exist, and no outline.
void append_region(ZTR_OBJECT_GROUP* group, const StudyRegion& region, const RoiList& rois,
                   const GridSize& size, const std::array<uint16_t, 3>& view_colour) {
  if (study_region_is_drawn(region.selector)) {
    append_roi_shape(group, study_region_own_roi(region, size), size,
                     study_display_colour(view_colour));
  } else if (region.selector == ZTR_REGION_LISTED) {
    const int32_t count = std::clamp(region.listed_count, 0, ZTR_STUDY_MAX_LISTED);
    for (int32_t i = 0; i < count; ++i) {
      if (const ROI_OBJECT* roi = find_roi(rois, region.listed_ids[size_t(i)])) {
        append_roi_shape(group, *roi, size, roi_display_colour(*roi));
      }
    }
  }
}

// The statistics region as a 0/1 mask: own drawing or listed ROIs painted.
std::vector<uint8_t> statistics_region_mask(const StudyRegion& region, const RoiList& rois,
                                            const GridSize& size) {
  std::vector<uint8_t> mask(size_t(std::max<int64_t>(0, int64_t(size[0]) * size[1] * size[2])), 0);
  if (study_region_is_drawn(region.selector)) {
    paint_study_roi(study_region_own_roi(region, size), mask, size);
  } else if (region.selector == ZTR_REGION_LISTED) {
    const int32_t count = std::clamp(region.listed_count, 0, ZTR_STUDY_MAX_LISTED);
    for (int32_t i = 0; i < count; ++i) {
      if (const ROI_OBJECT* roi = find_roi(rois, region.listed_ids[size_t(i)])) {
        paint_study_roi(*roi, mask, size);
      }
    }
  }
  return mask;
}

}  // namespace

GroupPtr build_study_display_group(const STUDY_OBJECT& study, const RoiList& rois,
                                   const GridSize& size, const StudyRegionColours& colours) {
  const int32_t slots = study_display_slot_count(
      study, [&rois](uint16_t id) { return find_roi(rois, id) != nullptr; });
  GroupPtr group(ZTR_NewObjectGroup(std::max(slots, 1)));
  if (!group) return nullptr;
  if (const auto* ft = std::get_if<FiberTrackingStudy>(&study.kind)) {
    append_region(group.get(), ft->seed, rois, size, colours.seed);
    append_region(group.get(), ft->target, rois, size, colours.target);
    append_region(group.get(), ft->avoidance, rois, size, colours.avoidance);
  } else if (const auto* dp = std::get_if<DiffusionProfileStudy>(&study.kind)) {
    append_region(group.get(), dp->region, rois, size, colours.profile);
  } else if (const auto* vs = std::get_if<VoxelStatisticsStudy>(&study.kind)) {
    if (vs->region.selector != ZTR_REGION_BOX_VOI) {
      const std::vector<uint8_t> mask = statistics_region_mask(vs->region, rois, size);
      const ZTR_OBJECT_COLOR colour = study_display_colour(colours.statistics);
      if (ZTR_OBJECT_GROUP* shape = mask_to_shape_group(mask, size, {0.5f, 0.5f, 0.5f}, 1.0f, colour)) {
        if (shape->count > 0) {
          ZTR_AppendObject(group.get(), ZTR_OBJECT_TYPE_GROUP, shape, &colour, 1);
        } else {
          ZTR_DeleteObjectGroup(shape);
        }
      }
    }
  }
  return group;
}

std::vector<const ZTR_OBJECT_GROUP*> visible_trackline_groups(const StudyList& list) {
  std::vector<const ZTR_OBJECT_GROUP*> groups;
  for (const auto& study : list.studies) {
    if (study->type == ZTR_STUDY_FIBER_TRACKING && study->visibility == 1 && study->group) {
      groups.push_back(study->group.get());
    }
  }
  return groups;
}

VolumePtr voxelize_visible_tracklines(const StudyList& list, TracklineVoxelization kind,
                                      const GridSize& size, std::FILE* console) {
  const std::vector<const ZTR_OBJECT_GROUP*> groups = visible_trackline_groups(list);
  if (groups.empty()) {
    std::fprintf(console, "No visible fiber tracking study to voxelize\n");
    return nullptr;
  }
  switch (kind) {
    case TracklineVoxelization::Grey:
      return VolumePtr(voxelize_tracklines_grey(groups, size.data(), console));
    case TracklineVoxelization::Colour:
      return VolumePtr(voxelize_tracklines_color(groups, size.data(), console));
    case TracklineVoxelization::Mask:
      return VolumePtr(voxelize_tracklines_mask(groups, size.data(), console));
  }
  return nullptr;
}

ROI_OBJECT* voxelize_visible_tracklines_to_roi(const StudyList& list, RoiList& rois,
                                               const GridSize& size, std::FILE* console) {
  VolumePtr volume = voxelize_visible_tracklines(list, TracklineVoxelization::Mask, size, console);
  if (!volume) return nullptr;
  const int64_t voxels = int64_t(size[0]) * size[1] * size[2];
  const uint8_t* bytes = ZTR_ChannelData<uint8_t>(volume.get(), 0);
  std::optional<VoxelGroup> group =
      voxel_group_from_mask(std::vector<uint8_t>(bytes, bytes + voxels), size);
  if (!group) {
    std::fprintf(console, "No voxel on the visible tracklines\n");
    return nullptr;
  }
  ROI_OBJECT* roi = new_roi_object(rois, ZTR_ROI_VOXELGROUP, size);
  if (!roi) return nullptr;
  roi->group = std::move(group);
  set_roi_name(*roi, ZTR_VOXELIZED_TRACKLINES_ROI_NAME);
  return roi;
}
