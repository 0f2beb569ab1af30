// Region masks of the batch tools: NIfTI images on the input's grid, non-zero meaning inside.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analyzer/io/image_geometry.h"
#include "sdk/volume/raw_volume.h"

// A mask on a grid of x * y * z voxels, x fastest; 1 inside, 0 outside.
struct VoxelMask {
  int32_t x = 0, y = 0, z = 0;
  std::vector<uint8_t> inside;
  bool at(int32_t i, int32_t j, int32_t k) const {
    return inside[static_cast<size_t>((int64_t(k) * y + j) * x + i)] != 0;
  }
};

// Reads the first channel of a NIfTI image as a mask; it must have the grid's x, y and z.
// false with a one-line reason (unreadable file, other grid).
bool read_mask_nifti(const std::string& path, const VolumeHeader& grid, VoxelMask* mask,
                     std::string* error);

// Writes a mask as an unsigned 8-bit NIfTI image (0 and 1) with the given geometry, under a
// temporary name renamed when complete. false with a reason.
bool write_mask_nifti(const VoxelMask& mask, const ImageGeometry& geometry,
                      const std::string& path, std::string* error);
