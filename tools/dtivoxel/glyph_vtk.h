// Display-object groups of glyphs (ellipsoids and segment stars) as legacy VTK polydata with
// per-vertex colours, in scanner millimetres, for ParaView and similar viewers.
#pragma once

#include <string>

#include "analyzer/io/image_geometry.h"
#include "sdk/ipc/object_group.h"

// Ellipsoids become closed triangle meshes, segments two-point lines; nested groups are
// walked, objects with display flag 0 and other types are left out. Object positions are in
// voxel units with voxel corners at integers (centres at +0.5), as the host displays them;
// they are moved to voxel centres and through the geometry's voxel-to-scanner transform.
// Written under a temporary name and renamed; false with a reason.
bool write_glyphs_vtk(const ZTR_OBJECT_GROUP& group, const ImageGeometry& geometry,
                      const std::string& path, std::string* error);

// Rings of latitude (poles excluded) and meridians of each ellipsoid mesh.
inline constexpr int kGlyphRings = 5;
inline constexpr int kGlyphMeridians = 8;
