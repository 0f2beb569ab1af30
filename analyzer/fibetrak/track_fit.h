// The tracking's own tensor fit at a sub-voxel position: all DTI channels sampled in one
// pass from a voxel-interleaved copy, the pseudo-inverse built once per MPG setting and a
// fixed-size 3 x 3 symmetric eigen solver. Nothing is allocated per fit.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "analyzer/dti/dti_data.h"

// The tensor at one position: eigenvalues largest first, unit eigenvectors following them.
struct TrackTensor {
  float lambda[3] = {0, 0, 0};  // lambda1 >= lambda2 >= lambda3, mm^2/s
  float e[3][3] = {};           // e[0] = e1, e[1] = e2, e[2] = e3
  float fa = 0.0f;
  float adc = 0.0f;
  float so = 0.0f;              // mean b=0 signal
  int16_t so_sample = 0;        // channel 0 sampled and truncated, as the So tests read it
  float turning_cosine = 1.0f;  // written by the direction rules, read by the angle test
};

// Eigen system of the symmetric matrix (a00, a11, a22, a01, a12, a02) in double: the closed
// form (trigonometric eigenvalues, cross-product vectors), with cyclic Jacobi rotations where
// eigenvalues nearly coincide. Values largest first, unit vectors following them. false when
// an element is not finite.
bool symmetric_eigen3(const double elements[6], double values[3], double vectors[3][3]);

// Everything a fit needs that depends only on the data set, built once and then read by
// every worker at the same time.
class TrackingFitContext {
 public:
  // nullptr when the data cannot be fitted (no volume, channel types, an MPG setting whose
  // design matrix cannot be inverted) or memory runs out.
  static std::unique_ptr<TrackingFitContext> create(const DiffusionTensorImageData* data);

  // The tensor at (x, y, z) in voxel units from trilinear samples of every DTI channel, each
  // taken as a signed 16-bit value. false when the position is not finite or the fit is not
  // a finite tensor (a signal of 0 or below, as in the background, or a degenerate tensor
  // whose FA is undefined). so_sample is set even when the fit fails. Thread-safe.
  bool fit(float x, float y, float z, TrackTensor* tensor) const;
  // The trilinear sample of channel 0 truncated to signed 16 bits, as the So tests read it.
  int16_t sample_so(float x, float y, float z) const;

  int32_t nx() const { return nx_; }
  int32_t ny() const { return ny_; }
  int32_t nz() const { return nz_; }
  int channels() const { return channels_; }

 private:
  TrackingFitContext() = default;
  // Sampled signal of every DTI channel into out (channels_ values).
  void sample_all(float x, float y, float z, int16_t* out) const;

  int32_t nx_ = 0, ny_ = 0, nz_ = 0;
  int channels_ = 0;  // DTI channels, b=0 first
  int b0_ = 0;
  std::vector<int16_t> interleaved_;  // channels_ values per voxel, voxels x fastest
  std::vector<float> inverse_;        // 6 x N pseudo-inverse of the design matrix
  std::vector<float> b_values_;       // per diffusion-weighted channel
  std::vector<double> log_table_;     // ln v for v = 0 .. 32767
};
