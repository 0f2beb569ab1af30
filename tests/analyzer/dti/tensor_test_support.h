// Small DWI data sets built in code for the tensor, map and minimisation tests.
#pragma once

#include <cmath>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/dti/mpg_setting.h"
#include "analyzer/dti/tensor_phantom.h"
#include "sdk/volume/raw_volume.h"

namespace tensor_test {

// A DWI volume of x, y, z voxels with one b=0 channel and `directions` default directions
// at b 1000 (the analyzer's start-up setting), all voxels 0, and its DTI record.
struct DwiData {
  VolumePtr volume;
  DtiDataPtr data;

  DwiData(int x, int y, int z, int directions, int extra_channels = 0) {
    const int channels = 1 + directions + extra_channels;
    std::vector<int32_t> types(channels, ZTR_TYPE_INT16), attributes(channels, 0);
    volume.reset(ZTR_NewRawVolumeData({x, y, z, channels}, types.data(), attributes.data()));
    data.reset(ZTRdti_NewDiffusionTensorImageData(volume.get(), 1 + directions));
    ZTRdti_SetSingleSoDefaultMPG(data.get(), 1 + directions);
  }
  DiffusionTensorImageData* get() const { return data.get(); }
  void set(int x, int y, int z, const SymmetricTensor& d, double s0) const {
    synthesize_voxel(data.get(), x, y, z, d, s0);
  }
  int16_t& at(int c, int x, int y, int z) const {
    return ZTR_Voxel<int16_t>(volume.get(), c, x, y, z);
  }
};

inline SymmetricTensor isotropic(double d) { return {d, d, d, 0, 0, 0}; }

// Rotation by angles a (about z), b (about y), c (about x); rows of `r` are the rotated
// x, y and z axes.
inline void rotation(double a, double b, double c, double r[3][3]) {
  const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b),
               cc = std::cos(c), sc = std::sin(c);
  const double m[3][3] = {{ca * cb, ca * sb * sc - sa * cc, ca * sb * cc + sa * sc},
                          {sa * cb, sa * sb * sc + ca * cc, sa * sb * cc - ca * sc},
                          {-sb, cb * sc, cb * cc}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) r[i][j] = m[j][i];  // column j of m becomes row j of r
  }
}

inline double dot(const float a[3], const double b[3]) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

}  // namespace tensor_test
