// Where a volume's voxels sit in the scanner: voxel sizes and the voxel-index-to-millimetre
// transforms of the input, carried from the loader to every image and tractogram a tool writes.
#pragma once

#include <array>

using Affine = std::array<std::array<double, 4>, 4>;

struct ImageGeometry {
  float voxel_size[3] = {1.0f, 1.0f, 1.0f};  // mm along x, y, z
  // NIfTI-style transforms from voxel index (i, j, k, 1) to scanner millimetres; a code of 0
  // means the transform is not set.
  int qform_code = 0;
  int sform_code = 0;
  Affine qform{};
  Affine sform{};

  // The transform tools use for world positions: the sform when it is set, else the qform,
  // else the voxel sizes along the axes with the first voxel at the origin.
  Affine voxel_to_scanner() const;
};

// Geometry of a grid known only by its voxel sizes (raw and DTI files).
ImageGeometry geometry_from_voxel_size(const float voxel_size[3]);

// Whether all three voxel sizes are finite numbers above 0.
bool voxel_sizes_are_valid(const ImageGeometry& geometry);

// Replaces the voxel sizes (a user's override of broken ones). Each transform keeps its
// orientation and origin with its axes rescaled to the new sizes; a transform with an axis
// of no usable length cannot be rescaled and is dropped (its code set to 0).
void override_voxel_size(ImageGeometry* geometry, const float voxel_size[3]);
