// Voxel-to-scanner transforms of the tools' images.
#include "analyzer/io/image_geometry.h"

#include <cmath>

Affine ImageGeometry::voxel_to_scanner() const {
  if (sform_code > 0) return sform;
  if (qform_code > 0) return qform;
  Affine a{};
  for (int i = 0; i < 3; ++i) a[i][i] = voxel_size[i];
  a[3][3] = 1.0;
  return a;
}

ImageGeometry geometry_from_voxel_size(const float voxel_size[3]) {
  ImageGeometry g;
  for (int i = 0; i < 3; ++i) g.voxel_size[i] = voxel_size[i];
  return g;
}

bool voxel_sizes_are_valid(const ImageGeometry& geometry) {
  for (float v : geometry.voxel_size) {
    if (!std::isfinite(v) || !(v > 0.0f)) return false;
  }
  return true;
}

namespace {

bool rescale_axes(Affine* a, const float voxel_size[3]) {
  for (int j = 0; j < 3; ++j) {
    const double length = std::sqrt((*a)[0][j] * (*a)[0][j] + (*a)[1][j] * (*a)[1][j] +
                                    (*a)[2][j] * (*a)[2][j]);
    if (!std::isfinite(length) || !(length > 0.0)) return false;
    for (int i = 0; i < 3; ++i) (*a)[i][j] *= voxel_size[j] / length;
  }
  return true;
}

}  // namespace

void override_voxel_size(ImageGeometry* geometry, const float voxel_size[3]) {
  for (int i = 0; i < 3; ++i) geometry->voxel_size[i] = voxel_size[i];
  if (geometry->qform_code > 0 && !rescale_axes(&geometry->qform, voxel_size)) geometry->qform_code = 0;
  if (geometry->sform_code > 0 && !rescale_axes(&geometry->sform, voxel_size)) geometry->sform_code = 0;
}
