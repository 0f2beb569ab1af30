// What a study's region stands for: its own drawn sphere or outline turned into a ROI of that
// kind (the view converted the way the ROI editor converts its views), or the listed ROIs
// found in the ROI list, or the host's box. The kind runs and the display group of the
// active study both start from here, so they agree on every region.
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "analyzer/objects/roi_object.h"
#include "analyzer/studies/study_object.h"
#include "analyzer/voxel/voxel_statistics.h"

struct StudyRegionRois {
  int32_t selector = ZTR_REGION_NONE;
  std::unique_ptr<ROI_OBJECT> own;  // the region's own sphere or outline
  // The ROIs of the region in order: the own one, or the listed ones by their IDs' order.
  std::vector<const ROI_OBJECT*> rois;
};

// True for the selectors of a region's own drawing (sphere, freehand, freehand on a map).
bool study_region_is_drawn(int32_t selector);

// The ROI of a region's own drawing on a volume of `size`: spherical for the sphere selector,
// freehand for the freehand ones; visible, so that it paints.
ROI_OBJECT study_region_own_roi(const StudyRegion& region, const GridSize& size);

// Resolves `region` into its ROIs. A box or no region resolves to no ROIs. -1 with one line
// on `console` naming the region by `role` ("seed", "target", ...) when the region cannot be
// used: a freehand region with nothing drawn ("Err: the %s region has no outline drawn\n"),
// a listed region without IDs ("Err: the %s region lists no ROI\n"), a listed ID that names
// no ROI ("Err: ROI %d listed in the %s region no longer exists\n") or an unknown selector
// ("Err: the %s region has the unknown selector %d\n").
int resolve_study_region(const StudyRegion& region, const RoiList* rois, const GridSize& size,
                         const char* role, std::FILE* console, StudyRegionRois* out);

// Sets to 1 the voxels of the x-fastest 0/1 mask of `size` that the ROI covers, whether the
// ROI is shown or hidden (a study analyses hidden ROIs too). Returns the voxels set.
int64_t paint_study_roi(const ROI_OBJECT& roi, std::vector<uint8_t>& mask, const GridSize& size);

// A voxel group in the form the voxel analysis reads (one byte per box voxel).
VOXEL_GROUP_BOX voxel_group_box_of(const VoxelGroup& group);
