// Reading and writing the batch tools' region masks.
#include "tools/common/mask_io.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "analyzer/io/nifti_volume.h"

bool read_mask_nifti(const std::string& path, const VolumeHeader& grid, VoxelMask* mask,
                     std::string* error) {
  std::string reason;
  VolumePtr image(LoadNiftiVolume(path.c_str(), nullptr, &reason));
  if (!image) {
    *error = "cannot load mask " + path + (reason.empty() ? "" : ": " + reason);
    return false;
  }
  const VolumeHeader& h = *image->header;
  if (h.x != grid.x || h.y != grid.y || h.z != grid.z) {
    *error = "mask " + path + " is " + std::to_string(h.x) + "x" + std::to_string(h.y) + "x" +
             std::to_string(h.z) + ", not on the input's " + std::to_string(grid.x) + "x" +
             std::to_string(grid.y) + "x" + std::to_string(grid.z) + " grid";
    return false;
  }
  const int64_t count = int64_t(h.x) * h.y * h.z;
  VoxelMask out;
  out.x = h.x;
  out.y = h.y;
  out.z = h.z;
  out.inside.resize(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    const float v = ZTR_GetVoxelValueAsFloat(image->data[0], image->types[0], count, i);
    out.inside[static_cast<size_t>(i)] = (v != 0.0f && !std::isnan(v)) ? 1 : 0;
  }
  *mask = std::move(out);
  return true;
}

bool write_mask_nifti(const VoxelMask& mask, const ImageGeometry& geometry,
                      const std::string& path, std::string* error) {
  const int32_t type = ZTR_TYPE_UINT8;
  const int32_t attribute = ZTR_ATTRIBUTE_PLAIN;
  VolumePtr image(ZTR_NewRawVolumeData({mask.x, mask.y, mask.z, 1}, &type, &attribute));
  if (!image) {
    *error = "out of memory for mask " + path;
    return false;
  }
  std::memcpy(image->data[0], mask.inside.data(), mask.inside.size());
  NiftiImageLabel label;
  label.description = "region mask";
  std::string reason;
  // The writer goes through a temporary name renamed when complete.
  if (SaveNiftiChannel(image.get(), 0, path.c_str(), geometry, label, &reason) != 0) {
    *error = reason.empty() ? "cannot write " + path : reason;
    return false;
  }
  return true;
}
