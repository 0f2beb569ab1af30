// The host's input volume: a raw volume file (recognised by its first line) or a NIfTI image.
#pragma once

#include <string>

#include "analyzer/io/image_geometry.h"
#include "sdk/volume/raw_volume.h"

namespace ztr::host {

// Loads `path` as a new volume, or nullptr with a one-line reason in *error. *voxel_size
// receives the voxel size in mm (1.0 for a raw volume file; the first spacing of a NIfTI
// image).
VolumePtr load_host_volume(const std::string& path, float* voxel_size, std::string* error);
// The same, also giving the input's geometry: a NIfTI image's qform and sform (then true is
// stored in *has_geometry), a raw volume file's unit voxel size (false).
VolumePtr load_host_volume(const std::string& path, float* voxel_size, ImageGeometry* geometry,
                           bool* has_geometry, std::string* error);

// The volume the host holds when it is given none: 32 x 32 x 16 voxels, one signed 16-bit
// channel holding i + 2j + 3k.
VolumePtr make_default_volume();

}  // namespace ztr::host
