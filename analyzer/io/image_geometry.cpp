// Voxel-to-scanner transforms of the tools' images.
#include "analyzer/io/image_geometry.h"

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
