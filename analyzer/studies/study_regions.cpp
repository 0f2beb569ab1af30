// Study regions as ROIs: the own drawing, the listed ROIs, painting and voxel groups.
#include "analyzer/studies/study_regions.h"

#include <algorithm>

#include "analyzer/app/roi_view_conversion.h"
#include "analyzer/objects/roi_region.h"

bool study_region_is_drawn(int32_t selector) {
  return selector == ZTR_REGION_SPHERE || selector == ZTR_REGION_FREEHAND ||
         selector == ZTR_REGION_FREEHAND_ON_MAP;
}

ROI_OBJECT study_region_own_roi(const StudyRegion& region, const GridSize& size) {
  ROI_OBJECT roi;
  roi.id = ZTR_ROI_NO_ID;
  roi.type = region.selector == ZTR_REGION_SPHERE ? ZTR_ROI_SPHERICAL : ZTR_ROI_FREEHAND;
  roi.visibility = 1;
  slice_view_to_roi_view(region.view, size, roi.view);
  return roi;
}

int resolve_study_region(const StudyRegion& region, const RoiList* rois, const GridSize& size,
                         const char* role, std::FILE* console, StudyRegionRois* out) {
  StudyRegionRois resolved;
  resolved.selector = region.selector;
  if (study_region_is_drawn(region.selector)) {
    resolved.own = std::make_unique<ROI_OBJECT>(study_region_own_roi(region, size));
    // The outline's overlay is the region: without an inside pixel nothing was drawn.
    if (resolved.own->type == ZTR_ROI_FREEHAND &&
        std::find(resolved.own->view.overlay.begin(), resolved.own->view.overlay.end(),
                  ZTR_OVERLAY_INSIDE) == resolved.own->view.overlay.end()) {
      std::fprintf(console, "Err: the %s region has no outline drawn\n", role);
      return -1;
    }
    resolved.rois.push_back(resolved.own.get());
  } else if (region.selector == ZTR_REGION_LISTED) {
    const int32_t count = std::clamp(region.listed_count, 0, ZTR_STUDY_MAX_LISTED);
    if (count == 0) {
      std::fprintf(console, "Err: the %s region lists no ROI\n", role);
      return -1;
    }
    for (int32_t i = 0; i < count; ++i) {
      const uint16_t id = region.listed_ids[size_t(i)];
      const ROI_OBJECT* roi = rois ? find_roi(*rois, id) : nullptr;
      // IDs that name no ROI any more are passed over; the region is what is left.
      if (!roi) {
        std::fprintf(console, "Warning: ROI %d listed in the %s region no longer exists\n", id,
                     role);
        continue;
      }
      resolved.rois.push_back(roi);
    }
    if (resolved.rois.empty()) {
      std::fprintf(console, "Err: no ROI listed in the %s region exists\n", role);
      return -1;
    }
  } else if (region.selector != ZTR_REGION_BOX_VOI && region.selector != ZTR_REGION_NONE) {
    std::fprintf(console, "Err: the %s region has the unknown selector %d\n", role,
                 region.selector);
    return -1;
  }
  *out = std::move(resolved);
  return 0;
}

int64_t paint_study_roi(const ROI_OBJECT& roi, std::vector<uint8_t>& mask, const GridSize& size) {
  if (roi.visibility == 1) return rasterise_roi(roi, mask, size);
  ROI_OBJECT shown = roi;
  shown.visibility = 1;
  return rasterise_roi(shown, mask, size);
}

VOXEL_GROUP_BOX voxel_group_box_of(const VoxelGroup& group) {
  VOXEL_GROUP_BOX box;
  const int64_t voxels = group.box_voxels();
  const int64_t bytes = voxel_group_data_bytes(group.storage, voxels);
  if (voxels <= 0 || int64_t(group.data.size()) < bytes) return box;  // empty
  for (int a = 0; a < 3; ++a) {
    box.origin[a] = group.origin[size_t(a)];
    box.size[a] = group.size[size_t(a)];
  }
  box.inside.resize(size_t(voxels));
  for (int64_t i = 0; i < voxels; ++i) box.inside[size_t(i)] = group.contains_box_voxel(i) ? 1 : 0;
  return box;
}
