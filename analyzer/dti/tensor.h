// The diffusion tensor of one voxel or sub-voxel position: least-squares fit of the
// log-signals, eigen system and the scalar parameters derived from it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/dti/numerical.h"

// Per-thread scratch record, created for a given DTI data set and reused for any number of
// fits. Never shared between threads. Create with ZTRdti_NewTensor only.
struct ZTR_DTI_TENSOR {
  ZTR_DTI_TENSOR() = default;
  // `matrix` points into the record itself: a copy would alias the original.
  ZTR_DTI_TENSOR(const ZTR_DTI_TENSOR&) = delete;
  ZTR_DTI_TENSOR& operator=(const ZTR_DTI_TENSOR&) = delete;

  // Fitted symmetric tensor, 1-based [1..3][1..3]; after the eigen decomposition it holds
  // the unit eigenvectors as columns, ordered like `eigenvalues`.
  float matrix_storage[4][4];
  float* matrix[4];     // row pointers into matrix_storage, for the 1-based routines
  float eigenvalues[4];  // [1..3] ascending: [3] is lambda1 (largest), [1] lambda3
  float scratch[4];      // sub-diagonal work space [1..3]
  ZTR_MATRIX* design;    // N x 6, one row per diffusion-weighted channel
  ZTR_VECTOR* log_signal;  // y, N elements
  float elements[6];     // Dxx, Dyy, Dzz, Dxy, Dyz, Dzx as fitted
  int32_t n;             // diffusion-weighted channels
  float so;              // mean b=0 signal of the last fit
  float turning_cosine;  // used only by the fiber tracking rules

  // The pseudo-inverse of `design` depends only on the gradient directions, so it is
  // computed once and reused while the directions stay the same; the result is the same
  // as recomputing it for every fit. 6 x N, row-major.
  std::vector<float> inverse;
  std::vector<float> inverse_directions;  // the N x 3 directions `inverse` was built from
  // `inverse` transposed, N rows of 8 (6 used): all six sums advance together in increasing
  // column order, which vectorises and adds in the same order as row by row.
  std::vector<float> inverse_columns;
  bool inverse_ready = false;
  std::vector<int16_t> signals;  // N diffusion-weighted signals of the current fit
};

// Record for N = total - b0 diffusion-weighted channels; nullptr when N < 1 or memory runs
// out.
ZTR_DTI_TENSOR* ZTRdti_NewTensor(int32_t total_channels, int32_t b0_channels);
void ZTRdti_DeleteTensor(ZTR_DTI_TENSOR* tensor);  // nullptr ignored

// Fit at voxel (x, y, z) followed by the eigen decomposition. 1 on success; 0 with
// "Err: Linear Equations Solution failed\n" when the least-squares solution fails, and 0
// without a message when the voxel lies outside the volume or the data cannot be fitted by
// this record (no volume, channel count or types that do not match). Signals of 0 or below
// make the results NaN or infinite (see ZTRdti_IsFiniteTensor).
int ZTRdti_ComputeTensorAtVoxel(const DiffusionTensorImageData* data, ZTR_DTI_TENSOR* tensor,
                                int x, int y, int z);
// The same with every signal trilinearly sampled (as a signed 16-bit value) at the position
// in voxel units (the volume library's linear sampler; an axis of size 1 is constant).
int ZTRdti_ComputeTensorAtPosition(const DiffusionTensorImageData* data,
                                   ZTR_DTI_TENSOR* tensor, float x, float y, float z);

float ZTRdti_GetFA(const ZTR_DTI_TENSOR* tensor);
float ZTRdti_GetADC(const ZTR_DTI_TENSOR* tensor);  // (l1 + l2 + l3) / 3
float ZTRdti_GetLambda1(const ZTR_DTI_TENSOR* tensor);  // largest
float ZTRdti_GetLambda2(const ZTR_DTI_TENSOR* tensor);
float ZTRdti_GetLambda3(const ZTR_DTI_TENSOR* tensor);  // smallest
void ZTRdti_GetE1(const ZTR_DTI_TENSOR* tensor, float e[3]);
void ZTRdti_GetE2(const ZTR_DTI_TENSOR* tensor, float e[3]);
void ZTRdti_GetE3(const ZTR_DTI_TENSOR* tensor, float e[3]);
float ZTRdti_GetSo(const ZTR_DTI_TENSOR* tensor);
// g^T D g from the six fitted elements.
float ZTRdti_GetADCAlongDirection(const ZTR_DTI_TENSOR* tensor, const float g[3]);
// 1 when all three eigenvalues are greater than 0 and 0 <= FA <= 1, else 0.
int ZTRdti_IsValidTensor(const ZTR_DTI_TENSOR* tensor);
// 1 when the fitted elements, eigenvalues and eigenvectors are all finite numbers.
int ZTRdti_IsFiniteTensor(const ZTR_DTI_TENSOR* tensor);

// -ln(S_c / So) / b_c at a voxel, So the mean of the b=0 channels there (log in double).
// 0 for a voxel or channel outside the data.
float ZTRdti_GetChannelADCAtVoxel(const DiffusionTensorImageData* data, int x, int y, int z,
                                  int channel);
// The same from trilinear samples.
float ZTRdti_GetChannelADCAtPosition(const DiffusionTensorImageData* data, float x, float y,
                                     float z, int channel);

// ---- for the whole-volume computations ---------------------------------------------------

// Whether the DTI channels of `data` can be read as signed 16-bit blocks and fitted by a
// record made for them: a volume, 1 <= b0 < dti_channels <= its channel count, every DTI
// channel signed 16-bit.
bool tensor_data_is_fittable(const DiffusionTensorImageData* data);
// Fit from the voxel at linear index `index` without the argument checks of
// ZTRdti_ComputeTensorAtVoxel; the caller has checked tensor_data_is_fittable and that the
// record was made for the data's channel counts.
int tensor_fit_at_index(const DiffusionTensorImageData* data, ZTR_DTI_TENSOR* tensor,
                        int64_t index);
// For kernels that fit many voxels at once with the same arithmetic as the record: the table
// of natural logarithms of 0 .. 32767 the fit reads ln S from (entry 0 is -infinity), and the
// record's pseudo-inverse of the design matrix as N rows of 8 floats (the six sums of the fit
// advance together over them in increasing row order; entries 6 and 7 are 0), built for the
// data's current directions when needed. nullptr when the pseudo-inverse cannot be built.
const double* tensor_log_table();
const float* tensor_inverse_columns(const DiffusionTensorImageData* data, ZTR_DTI_TENSOR* tensor);
struct TensorDeleter {
  void operator()(ZTR_DTI_TENSOR* t) const { ZTRdti_DeleteTensor(t); }
};
using TensorPtr = std::unique_ptr<ZTR_DTI_TENSOR, TensorDeleter>;
