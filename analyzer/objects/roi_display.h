// The ROIs as the host sees them: the display object group of the visible ROIs, voxel masks as
// groups of cube-face meshes, and the visible ROIs converted to a volume channel.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "analyzer/objects/roi_object.h"
#include "sdk/ipc/object_group.h"
#include "sdk/volume/raw_volume.h"

// The group of cube faces of an x-fastest 0/1 mask: one triangular mesh (type 71) per set voxel
// with fewer than six set face neighbours, holding its exposed faces in the order -z, +z, -y,
// +y, -x, +x (four vertices with the outward normal and two triangles each). Voxel j spans
// (j - 0.5) scale + origin ... (j + 0.5) scale + origin on each axis, so origin 0.5 and scale 1
// put it on j ... j + 1. Voxels outside the grid count as empty. A new group owned by the
// caller, or nullptr after "Warning: not entire shape (count = %d)\n" when memory runs out.
ZTR_OBJECT_GROUP* mask_to_shape_group(const std::vector<uint8_t>& mask, const GridSize& size,
                                      ZTR_OBJECT_POINT origin, float scale,
                                      const ZTR_OBJECT_COLOR& colour);

// RGBA colour of a ROI: components / 65535, alpha 1.
ZTR_OBJECT_COLOR roi_display_colour(const ROI_OBJECT& roi);

// Appends the ROI's shape as the display group shows it, in `colour`: a sphere (type 11) of
// the ROI's radius (centre rounded to whole voxels, or on a spherical-map view the point the
// map designates), the outline of a freehand ROI as a polyline (type 61) through the view's
// plane, or the shape group (type 99) of a voxelgroup's mask on a volume of `size`. The
// ROI's visibility is not looked at. 0, or -1 when the ROI has no shape (no outline, no
// voxels), memory runs out or the group is full.
int append_roi_shape(ZTR_OBJECT_GROUP* group, const ROI_OBJECT& roi, const GridSize& size,
                     const ZTR_OBJECT_COLOR& colour);

// The display object group of the visible ROIs, one slot per ROI of the list: a sphere of the
// ROI's radius (centre rounded to whole voxels, or on a spherical-map view the point the map
// designates), the outline of a freehand ROI as a polyline through the view's plane, the
// shape group of a voxelgroup ROI on a volume of `size`. ROIs whose shape cannot be built
// (no outline, no voxels) take no slot. Owned by the caller.
ZTR_OBJECT_GROUP* build_roi_display_group(const RoiList& rois, const GridSize& size);

// The 0/1 mask of every visible ROI on a volume of `size`, overlapping ROIs merged.
std::vector<uint8_t> visible_rois_mask(const RoiList& rois, const GridSize& size);

// Hands a one-channel volume to the host; 0 or -1. The program passes
// ZTRipc_AppendSingleChannel; tests pass a recorder.
using RoiChannelSender = std::function<int(const RawVolumeData* volume, int32_t channel)>;

// Special/Convert visible ROIs to volumedata: the visible ROIs as a signed 16-bit 0/1 channel,
// sent to the host and then appended to `volume`. When the host refuses it, the channel is not
// appended here either, so that both keep the same channels. 0 or -1.
int convert_visible_rois_to_volume(const RoiList& rois, RawVolumeData* volume,
                                   const RoiChannelSender& send);
