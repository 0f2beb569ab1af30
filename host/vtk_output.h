// Object groups as legacy VTK polydata (ASCII) for ParaView or 3D Slicer: spheres and
// ellipsoids and tubes as surfaces, segments and polylines as lines, meshes as triangles.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sdk/ipc/object_group.h"

namespace ztr::host {

struct PolyData {
  std::vector<std::array<float, 3>> points;
  std::vector<std::array<float, 4>> colors;  // one per point
  std::vector<std::vector<int64_t>> lines;
  std::vector<std::vector<int64_t>> polygons;
  std::vector<int32_t> line_flags, polygon_flags;  // display flag of the owning object
};

// Surface resolution of spheres, ellipsoids and tubes.
inline constexpr int kSphereRings = 8;
inline constexpr int kSphereSegments = 12;
inline constexpr int kTubeSides = 8;

// Geometry of every object of the group, nested groups included. Objects without geometry
// (codes 14-22) add nothing.
PolyData build_polydata(const ZTR_OBJECT_GROUP& group);
// The file text: "# vtk DataFile Version 3.0", the title, ASCII, POLYDATA.
std::string format_vtk(const PolyData& data, const std::string& title);
// 0, or -1 when the file cannot be written.
int write_group_vtk(const ZTR_OBJECT_GROUP& group, const std::string& path, const std::string& title);

// Objects per type code, nested groups counted as type 99 and their objects counted too.
std::map<int32_t, int> count_object_types(const ZTR_OBJECT_GROUP& group);

}  // namespace ztr::host
