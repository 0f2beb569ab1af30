// Tractogram files of the visible lines, in scanner millimetres: MRtrix .tck, TrackVis .trk,
// and the display group as legacy VTK polydata with per-vertex colours.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "analyzer/fibetrak/fibetrak.h"
#include "sdk/ipc/object_group.h"

// Voxel index (i, j, k, 1) to scanner millimetres, row-major (the NIfTI qform/sform form).
using VoxelToScanner = std::array<std::array<double, 4>, 4>;

// Node positions (voxel index units) of every visible line, each from its forward end
// through the seed to its backward end.
std::vector<std::vector<std::array<float, 3>>> visible_line_points(const ZTR_FIBETRAK_BUFFER& buffer);

// Each writer writes under a temporary name in the same directory and renames it when
// complete. false with a reason in *error; nothing is left at `path` on failure.
bool write_tck(const std::string& path, const std::vector<std::vector<std::array<float, 3>>>& lines,
               const VoxelToScanner& affine, std::string* error);
// `size` and `voxel_size` describe the grid the affine belongs to.
bool write_trk(const std::string& path, const std::vector<std::vector<std::array<float, 3>>>& lines,
               const VoxelToScanner& affine, const int32_t size[3], const float voxel_size[3],
               std::string* error);
// Polylines and tubes are drawn half a voxel off the nodes: that offset is taken back, so
// every primitive lies on its nodes in millimetres. Tube radii become the "radius" scalars.
bool write_group_vtk(const std::string& path, const ZTR_OBJECT_GROUP& group,
                     const VoxelToScanner& affine, std::string* error);

// Axis codes ("RAS", "LPS", ...) of the affine's voxel axes, as TrackVis stores them.
std::string axis_codes(const VoxelToScanner& affine);
