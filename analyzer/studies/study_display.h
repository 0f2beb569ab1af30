// What the host shows of studies: the display object group built from the active study's
// regions, and the visible tracking studies' lines voxelized into a volume or a ROI.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "analyzer/objects/roi_object.h"
#include "analyzer/studies/study_object.h"
#include "sdk/ipc/object_group_ptr.h"
#include "sdk/volume/raw_volume.h"

// Colours of the study panels' region views (16-bit RGB, full scale 65535): the fiber
// tracking panel's seed, target and avoidance tabs, the diffusion profile panel's region and
// the voxel statistics panel's region. The front end paints its views with these.
struct StudyRegionColours {
  std::array<uint16_t, 3> seed{65535, 0, 0};
  std::array<uint16_t, 3> target{0, 65535, 0};
  std::array<uint16_t, 3> avoidance{0, 0, 65535};
  std::array<uint16_t, 3> profile{65535, 65535, 0};
  std::array<uint16_t, 3> statistics{65535, 32768, 16384};
};

// A 16-bit colour as display RGBA: components / 65535 x `intensity`, alpha 1.
ZTR_OBJECT_COLOR study_display_colour(const std::array<uint16_t, 3>& colour,
                                      float intensity = 1.0f);

// The display object group of `study` on a volume of `size`, with one slot per shape counted
// first (study_display_slot_count), so any number of listed ROIs fits:
// - fiber tracking: the seed, target and avoidance regions in that order;
// - diffusion profile: its analysis region;
// - a drawn region is the shape of its own sphere or outline in its view's colour, a listed
//   region one shape per listed ROI that exists, in that ROI's colour (hidden ROIs too);
// - voxel statistics: nothing for the box region, else one slot holding the shape group
//   (type 99) of the region's voxel mask in the statistics colour.
// Shapes that cannot be built (no outline, an empty mask) take no slot. nullptr when memory
// runs out.
GroupPtr build_study_display_group(const STUDY_OBJECT& study, const RoiList& rois,
                                   const GridSize& size, const StudyRegionColours& colours = {});

// The primitive groups of every visible fiber tracking study that has one, in list order.
std::vector<const ZTR_OBJECT_GROUP*> visible_trackline_groups(const StudyList& list);

enum class TracklineVoxelization { Grey, Colour, Mask };

// "/Special/Voxelize visible tracklines as/Grey volume" and "Color volume": the lines of the
// visible tracking studies splatted into a new one-channel volume of `size` (the loaded
// volume's), for the caller to append or send. With no visible tracking study that has lines,
// prints "No visible fiber tracking study to voxelize\n" and returns nullptr; nullptr also when
// memory runs out. Kind Mask gives the 0/1 unsigned 8-bit volume.
VolumePtr voxelize_visible_tracklines(const StudyList& list, TracklineVoxelization kind,
                                      const GridSize& size, std::FILE* console = stderr);

inline constexpr char ZTR_VOXELIZED_TRACKLINES_ROI_NAME[] = "Voxelized tracklines";

// ".../Voxelgroup ROI": a new voxelgroup ROI named "Voxelized tracklines" holding every voxel
// the visible lines pass, appended to `rois` (the active ROI stays). nullptr, with nothing
// appended, when no visible tracking study has lines (the line above), when the lines cover no
// voxel of the volume ("No voxel on the visible tracklines\n") or memory runs out.
ROI_OBJECT* voxelize_visible_tracklines_to_roi(const StudyList& list, RoiList& rois,
                                               const GridSize& size, std::FILE* console = stderr);
