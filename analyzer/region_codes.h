// Region selector codes: how a study names the region it seeds, targets, avoids or analyses.
// Tracking, voxel analysis and the study records share these, so they live in one place.
#pragma once

#include <cstdint>

inline constexpr int32_t ZTR_REGION_SPHERE = 435;            // the region's own sphere
inline constexpr int32_t ZTR_REGION_FREEHAND = 981;          // its own freehand outline
inline constexpr int32_t ZTR_REGION_FREEHAND_ON_MAP = 21;    // the outline on a spherical map
inline constexpr int32_t ZTR_REGION_LISTED = 54;             // the ROIs whose IDs it lists
inline constexpr int32_t ZTR_REGION_BOX_VOI = -456;          // the host's box
inline constexpr int32_t ZTR_REGION_NONE = -12;              // no region (targets, avoidance)
