// Where a drawn ROI lies in the volume: the sphere's centre, the freehand plane and its
// overlay, rasterisation into a voxel mask, and the point tests that tracking and statistics
// run on every node.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "analyzer/objects/roi_object.h"

// Centre of a drawn sphere: the view's centre, or for a spherical-map view the point the
// map's centre designates (the sphere centre moved along a x b by the radius fraction times
// the sphere centre's x).
Vec3 roi_sphere_centre(const RoiView& view);

// The volume point that overlay pixel position (i, j) (fractional pixels allowed) shows:
// centre - 128 (u + v) / zoom + i u / zoom + j v / zoom; on a spherical-map view the point on
// the map's sphere, and false for a position outside the map's disc.
bool view_pixel_to_volume(const RoiView& view, float i, float j, Vec3* point);

// Fills the closed outline into a 256 x 256 overlay: pixels inside the polygon or on its
// sides are 255, then the edge is marked 254 (ztr_mark_overlay_edges). Empty outline: all 0.
std::vector<uint8_t> fill_outline_overlay(const std::vector<std::array<uint16_t, 2>>& points);

// Every inside pixel (255) in rows and columns 1 ... 254 with one of its eight neighbours at 0
// becomes 254, and every inside pixel on the outermost rows and columns becomes 254.
void mark_overlay_edges(std::vector<uint8_t>& overlay);
// The freehand panel's buttons on a 256 x 256 overlay. Dilation reads its neighbours from a
// copy, so that it grows by one ring and not across the whole row.
void dilate_overlay(std::vector<uint8_t>& overlay);
void erode_overlay(std::vector<uint8_t>& overlay);
void clear_overlay(std::vector<uint8_t>& overlay);

// Sets to 1 the voxels of the x-fastest 0/1 mask of `size` that a visible ROI covers
// (hidden ROIs draw nothing). Voxels outside the grid are skipped, including positions in
// (-1, 0) that truncation would put on the first slice. Returns the voxels that became 1.
int64_t rasterise_roi(const ROI_OBJECT& roi, std::vector<uint8_t>& mask, const GridSize& size);

// A point test of one region: `current` is the tracked node, `previous` the node before
// (equal to `current` for the first node). Built once per pass from a copy of the ROI, then
// read-only: any number of threads may call it at once.
using RegionTest = std::function<bool(const float current[3], const float previous[3])>;

// The test of the ROI's kind:
// - spherical: |current - centre|^2 <= radius^2 (spherical-map centre rule);
// - freehand: the segment previous -> current meets the view's plane (or a spherical map's
//   sphere) at a pixel of value 255 in the overlay; a segment lying in the plane is tested at
//   its current end;
// - voxelgroup: the voxel holding current (floor of each coordinate) is in the group.
// A ROI without a region (no overlay, no group) gives a test that is always false.
RegionTest prepare_region_test(const ROI_OBJECT& roi);

// Seeds of the ROI's kind appended to `table` while it holds fewer than `limit` seeds: the
// jittered grid inside the sphere (spherical-map centre rule), on the freehand overlay's
// inside pixels carried through the view's plane or onto its spherical map, or inside the
// voxel group. Returns the number appended (0 for a ROI without a region).
int generate_roi_seeds(const ROI_OBJECT& roi, float spacing, int limit, std::vector<float>* table,
                       std::FILE* console = stderr);
