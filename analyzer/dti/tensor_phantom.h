// Synthetic diffusion-weighted data with known tensors: single-voxel signals for given
// tensors, and a phantom volume (a curved fiber bundle crossing a straight one inside
// isotropic tissue with a fluid-filled cavity, empty background) with its ground truth.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "analyzer/dti/dti_data.h"

// Symmetric tensor in mm^2/s.
struct SymmetricTensor {
  double xx, yy, zz, xy, yz, zx;
};

// Tensor with eigenvalues values[i] along the unit vectors vectors[i].
SymmetricTensor tensor_from_eigen_system(const double values[3], const double vectors[3][3]);
// lambda_par along the unit direction t, lambda_perp across it.
SymmetricTensor cylindrical_tensor(double lambda_par, double lambda_perp, const double t[3]);
double tensor_mean_diffusivity(const SymmetricTensor& d);
// Fractional anisotropy from the tensor's invariants (no eigen decomposition needed).
double tensor_fractional_anisotropy(const SymmetricTensor& d);
// g^T D g.
double tensor_along(const SymmetricTensor& d, const float g[3]);

// s0 exp(-b g^T D g) rounded to the nearest integer and clamped to the signed 16-bit range.
int16_t synthetic_signal(const SymmetricTensor& d, double s0, double b, const float g[3]);
// Writes the signals of `d` with b=0 level s0 into voxel (x, y, z) of every DTI channel of
// data->volume (signed 16-bit channels), using the record's b values and directions.
void synthesize_voxel(const DiffusionTensorImageData* data, int x, int y, int z,
                      const SymmetricTensor& d, double s0);

struct PhantomOptions {
  int x = 64;
  int y = 64;
  int z = 24;
  int directions = 30;   // one row of the default direction table: 6 .. 129
  int b0_channels = 1;   // 1 .. 64, the first channels
  float b_value = 1000.0f;
  float signal = 2000.0f;  // b=0 level of the tissue
  float noise_sigma = 0.0f;  // Rician noise: standard deviation of each quadrature channel
  uint64_t seed = 1;
};

// What lies at one voxel: its tensor and b=0 level (0 for the background).
struct PhantomVoxel {
  SymmetricTensor tensor;
  double s0;
  int label;  // 0 background, 1 tissue, 2 cavity, 3 curved bundle, 4 straight bundle, 5 crossing
};
PhantomVoxel phantom_voxel(const PhantomOptions& options, int i, int j, int k);

struct Phantom {
  VolumePtr dwi;    // b0_channels + directions signed 16-bit channels, b=0 channels first
  VolumePtr truth;  // 32-bit float channels: FA, ADC (mm^2/s), label
  std::vector<float> b_values;                  // per channel
  std::vector<std::array<float, 3>> directions;  // per channel, zero for b=0 channels
};
// false with a reason in *error for options out of range or when memory runs out.
bool make_phantom(const PhantomOptions& options, Phantom* phantom, std::string* error);
// Applies the phantom's gradient table to `data` (ZTRdti_SetMPG). 0 or -1.
int apply_phantom_mpg(const Phantom& phantom, DiffusionTensorImageData* data);
