// Resampling of a voxel's diffusion signals in q-space onto another gradient table (the one
// a network was trained with): a radial basis function interpolant over the measured points
// and their antipodes, with a linear polynomial part.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline constexpr int32_t ZTR_BSPACE_KERNEL = 364;  // phi(r) = r
// Target direction x components that ask for a direction relative to the fitted tensor.
inline constexpr float ZTR_BSPACE_ALONG_E1 = 12.0f;
inline constexpr float ZTR_BSPACE_ACROSS_E1 = 34.0f;

// phi(r) of a kernel code with shape parameter c: -6468 r^2, 195 r^2 ln r, 378
// sqrt(r^2 + c^2), 454 r^3, 941 exp(-c^2 r^2), any other code r.
float rbf_kernel(int32_t code, float r, float c);

struct ZTR_RBF_INTERPOLATOR {
  int32_t point_count = 0;               // P
  std::vector<float> points;             // 3 P
  std::vector<float> inverse;            // (P+4)^2, row-major inverse of the system
  std::vector<float> values;             // P + 4: data values, then four zeros
  std::vector<float> coefficients;       // inverse x values
  int32_t kernel_code = ZTR_BSPACE_KERNEL;
  float shape = 1.0f;
};

struct ZTR_BSPACE_CONVERTER {
  int32_t n = 0;  // source channels; channel 0 is the one b=0 channel
  std::vector<float> b_value;
  std::vector<std::array<float, 3>> direction;
  std::vector<float> signals;
  ZTR_RBF_INTERPOLATOR interpolator;
  // Coincident samples (a repeated direction, a direction and its antipode) share one point:
  // point j takes the mean signal of channels members[member_begin[j] .. member_begin[j+1]).
  std::vector<int32_t> member_begin;
  std::vector<int32_t> members;
  // Least-squares tensor fit from the signals: 6 x (n-1) pseudo-inverse of the design rows
  // (Dxx, Dyy, Dzz, Dxy, Dxz, Dyz); empty when the directions cannot determine a tensor.
  std::vector<double> tensor_fit;
  float angle_cos[6];
  float angle_sin[6];
};

// New converter for n channels (exactly one with b = 0.0, which must be channel 0), or
// nullptr with the reason in *reason (when given) and on standard error: not one b=0
// channel, a b > 0 channel without a direction, points that leave the interpolation system
// singular (all directions in one plane), or no memory. Coincident points are merged.
// Never ends the process.
ZTR_BSPACE_CONVERTER* ZTR_NewBSpaceConverter(int32_t n, const float* b_values,
                                             const float (*directions)[3], int32_t kernel_code,
                                             std::string* reason = nullptr);
void ZTR_DeleteBSpaceConverter(ZTR_BSPACE_CONVERTER* converter);  // nullptr ignored
// An independent copy for one worker; nullptr when memory runs out.
ZTR_BSPACE_CONVERTER* ZTR_CopyBSpaceConverter(const ZTR_BSPACE_CONVERTER* converter);
// Stores the n signals (channel order) and recomputes the interpolant. Allocates nothing.
void ZTR_SetBSpaceConverterSignals(ZTR_BSPACE_CONVERTER* converter, const float* signals);
// The interpolated signal at q-space point q.
float bspace_interpolant(const ZTR_BSPACE_CONVERTER* converter, const float q[3]);
// Converted signal of each of m target channels (b_t x g_t, or the fitted-tensor targets
// for x components 12.0 and 34.0). A fitted-tensor target gives NaN when no tensor can be
// fitted from the current signals. Allocates nothing.
void ZTR_ConvertBSpace(const ZTR_BSPACE_CONVERTER* converter, int32_t m, const float* b_values,
                       const float (*directions)[3], float* out);

// The conversion is linear in the signals. For targets that are all fixed q-space points
// (no fitted-tensor target) this gives the m x n matrix that maps the n signals straight to
// the converted signals, so that a voxel costs m x n multiply-adds instead of a coefficient
// solve and m kernel sums. Empty when a target needs the fitted tensor.
std::vector<float> bspace_target_matrix(const ZTR_BSPACE_CONVERTER* converter, int32_t m,
                                        const float* b_values, const float (*directions)[3]);
// The values of the P interpolation points for n signals (coincident samples averaged).
void bspace_point_values(const ZTR_BSPACE_CONVERTER* converter, const float* signals,
                         float* values);

struct BSpaceConverterDeleter {
  void operator()(ZTR_BSPACE_CONVERTER* c) const { ZTR_DeleteBSpaceConverter(c); }
};
using BSpaceConverterPtr = std::unique_ptr<ZTR_BSPACE_CONVERTER, BSpaceConverterDeleter>;
