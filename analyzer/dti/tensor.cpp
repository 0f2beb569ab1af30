// Tensor fit through the cached pseudo-inverse of the design matrix, the 3 x 3 eigen
// system and the scalar parameters.
#include "analyzer/dti/tensor.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "sdk/volume/sampling.h"

namespace {

bool finite(float v) { return std::isfinite(v); }

// Natural logarithms of every positive signed 16-bit value, built once (thread-safe static).
const double* log_table() {
  static const std::vector<double> table = [] {
    std::vector<double> t(32768);
    t[0] = -HUGE_VAL;
    for (int v = 1; v < 32768; ++v) t[static_cast<size_t>(v)] = std::log(static_cast<double>(v));
    return t;
  }();
  return table.data();
}

// Builds the design matrix of the record from the current directions and inverts it
// unless the cached inverse was built from the same directions.
bool prepare_inverse(const DiffusionTensorImageData* data, ZTR_DTI_TENSOR* t) {
  const float* directions = &data->mpg_vector[data->b0_channels][0];
  const size_t count = static_cast<size_t>(t->n) * 3;
  if (t->inverse_ready &&
      std::memcmp(t->inverse_directions.data(), directions, count * sizeof(float)) == 0) {
    return true;
  }
  t->inverse_ready = false;
  for (int k = 0; k < t->n; ++k) {
    const float gx = directions[3 * k], gy = directions[3 * k + 1], gz = directions[3 * k + 2];
    float* row = t->design->element[k];
    row[0] = gx * gx;
    row[1] = gy * gy;
    row[2] = gz * gz;
    row[3] = 2 * gx * gy;
    row[4] = 2 * gy * gz;
    row[5] = 2 * gz * gx;
  }
  MatrixPtr inverse(ZTRnumerical_GetInversedMatrix(t->design));
  if (!inverse || inverse->rows != 6 || inverse->columns != t->n) return false;
  for (int r = 0; r < 6; ++r) {
    std::memcpy(&t->inverse[static_cast<size_t>(r) * t->n], inverse->element[r],
                static_cast<size_t>(t->n) * sizeof(float));
  }
  for (int m = 0; m < t->n; ++m) {
    for (int r = 0; r < 6; ++r) {
      t->inverse_columns[static_cast<size_t>(m) * 8 + r] = t->inverse[static_cast<size_t>(r) * t->n + m];
    }
  }
  std::memcpy(t->inverse_directions.data(), directions, count * sizeof(float));
  t->inverse_ready = true;
  return true;
}

void set_not_a_number(ZTR_DTI_TENSOR* t) {
  const float nan = std::nanf("");
  for (int i = 1; i <= 3; ++i) {
    t->eigenvalues[i] = nan;
    t->scratch[i] = nan;
    for (int j = 1; j <= 3; ++j) t->matrix[i][j] = nan;
  }
}

// Eigen decomposition of the tensor held in t->matrix: unit eigenvector columns, eigenvalues
// ascending with the columns following them.
void decompose(ZTR_DTI_TENSOR* t) {
  ZTRnumerical_EigenSymmetric3x3(t->matrix_storage, t->eigenvalues, t->scratch);
}

// The fit proper, from So and the N diffusion-weighted signals in t->signals.
int fit_signals(const DiffusionTensorImageData* data, ZTR_DTI_TENSOR* t, float so) {
  t->so = so;
  const int b0 = data->b0_channels;
  float* y = t->log_signal->element;
  // ln(S / So) = ln S - ln So in double: one logarithm per voxel, the others from a table.
  const double log_so = std::log(static_cast<double>(so));
  const double* table = log_table();
  const float* b_values = &data->b_value[b0];
  const int16_t* signals = t->signals.data();
  bool positive = true;
  for (int k = 0; k < t->n; ++k) positive = positive && signals[k] > 0;
  bool finite_y = std::isfinite(log_so);
  if (positive && finite_y) {
    // The common case without branches in the loop, so that it pipelines; the same
    // operations as below.
    for (int k = 0; k < t->n; ++k) {
      y[k] = -static_cast<float>(table[signals[k]] - log_so) / b_values[k];
    }
    for (int k = 0; k < t->n; ++k) finite_y = finite_y && finite(y[k]);
  } else {
    finite_y = true;
    for (int k = 0; k < t->n; ++k) {
      const int16_t s = signals[k];
      const double log_ratio = s > 0 ? table[s] - log_so
                                     : std::log(static_cast<double>(s) / static_cast<double>(so));
      y[k] = -static_cast<float>(log_ratio) / b_values[k];
      finite_y = finite_y && finite(y[k]);
    }
  }
  if (!prepare_inverse(data, t)) {
    std::fprintf(stderr, "Err: Linear Equations Solution failed\n");
    return 0;
  }
  // d = inverse * y, accumulated in float in increasing column order: the same arithmetic
  // as the matrix-vector product of the numerical routines.
  const float* columns = t->inverse_columns.data();
  float sums[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (int m = 0; m < t->n; ++m) {
    const float* column = columns + static_cast<size_t>(m) * 8;
    for (int r = 0; r < 8; ++r) sums[r] += column[r] * y[m];
  }
  bool finite_d = finite_y;
  for (int r = 0; r < 6; ++r) {
    t->elements[r] = sums[r];
    finite_d = finite_d && finite(sums[r]);
  }
  const float* d = t->elements;
  t->matrix[1][1] = d[0];
  t->matrix[2][2] = d[1];
  t->matrix[3][3] = d[2];
  t->matrix[1][2] = t->matrix[2][1] = d[3];
  t->matrix[2][3] = t->matrix[3][2] = d[4];
  t->matrix[1][3] = t->matrix[3][1] = d[5];
  // A non-positive signal makes the log infinite or NaN: the parameters carry NaN instead
  // of whatever the decomposition would make of it.
  if (!finite_d) {
    set_not_a_number(t);
    return 1;
  }
  decompose(t);
  return 1;
}

bool record_matches(const DiffusionTensorImageData* data, const ZTR_DTI_TENSOR* t) {
  return data->dti_channels - data->b0_channels == t->n;
}

bool inside(const RawVolumeData* v, int x, int y, int z) {
  const VolumeHeader& h = *v->header;
  return x >= 0 && y >= 0 && z >= 0 && x < h.x && y < h.y && z < h.z;
}

// Trilinear sample of a signed 16-bit DTI channel, taken as a signed 16-bit value.
int16_t sample(const RawVolumeData* v, int channel, float x, float y, float z) {
  const VolumeHeader& h = *v->header;
  return static_cast<int16_t>(
      ZTR_SampleLinear(ZTR_ChannelData<int16_t>(v, channel), h.x, h.y, h.z, x, y, z));
}

}  // namespace

const double* tensor_log_table() { return log_table(); }

const float* tensor_inverse_columns(const DiffusionTensorImageData* data, ZTR_DTI_TENSOR* tensor) {
  if (!tensor || !tensor_data_is_fittable(data) || !record_matches(data, tensor)) return nullptr;
  return prepare_inverse(data, tensor) ? tensor->inverse_columns.data() : nullptr;
}

ZTR_DTI_TENSOR* ZTRdti_NewTensor(int32_t total_channels, int32_t b0_channels) {
  const int64_t n = static_cast<int64_t>(total_channels) - b0_channels;
  if (n < 1 || n > ZTR_DTI_MAX_CHANNELS) return nullptr;
  try {
    auto t = std::make_unique<ZTR_DTI_TENSOR>();
    std::memset(t->matrix_storage, 0, sizeof t->matrix_storage);
    for (int i = 0; i < 4; ++i) t->matrix[i] = t->matrix_storage[i];
    for (int i = 0; i < 4; ++i) t->eigenvalues[i] = t->scratch[i] = 0.0f;
    for (float& e : t->elements) e = 0.0f;
    t->n = static_cast<int32_t>(n);
    t->so = 0.0f;
    t->turning_cosine = 0.0f;
    t->inverse.assign(static_cast<size_t>(6 * n), 0.0f);
    t->inverse_directions.assign(static_cast<size_t>(3 * n), 0.0f);
    t->inverse_columns.assign(static_cast<size_t>(8 * n), 0.0f);
    t->signals.assign(static_cast<size_t>(n), 0);
    t->design = ZTR_NewMatrix(t->n, 6);
    t->log_signal = ZTR_NewVector(t->n);
    if (!t->design || !t->log_signal) {
      ZTR_DeleteMatrix(t->design);
      ZTR_DeleteVector(t->log_signal);
      return nullptr;
    }
    return t.release();
  } catch (...) {
    return nullptr;
  }
}

void ZTRdti_DeleteTensor(ZTR_DTI_TENSOR* tensor) {
  if (!tensor) return;
  ZTR_DeleteMatrix(tensor->design);
  ZTR_DeleteVector(tensor->log_signal);
  delete tensor;
}

bool tensor_data_is_fittable(const DiffusionTensorImageData* data) {
  if (!data || !data->volume || !data->volume->header) return false;
  const RawVolumeData* v = data->volume;
  if (data->b0_channels < 1 || data->dti_channels <= data->b0_channels ||
      data->dti_channels > ZTR_DTI_MAX_CHANNELS || data->dti_channels > v->header->channels) {
    return false;
  }
  for (int c = 0; c < data->dti_channels; ++c) {
    if (v->types[c] != ZTR_TYPE_INT16) return false;
  }
  return true;
}

int tensor_fit_at_index(const DiffusionTensorImageData* data, ZTR_DTI_TENSOR* t,
                        int64_t index) {
  const RawVolumeData* v = data->volume;
  const int b0 = data->b0_channels;
  float sum = 0.0f;
  for (int c = 0; c < b0; ++c) sum += static_cast<float>(ZTR_ChannelData<int16_t>(v, c)[index]);
  for (int k = 0; k < t->n; ++k) t->signals[k] = ZTR_ChannelData<int16_t>(v, b0 + k)[index];
  return fit_signals(data, t, sum / static_cast<float>(b0));
}

int ZTRdti_ComputeTensorAtVoxel(const DiffusionTensorImageData* data, ZTR_DTI_TENSOR* tensor,
                                int x, int y, int z) {
  if (!tensor || !tensor_data_is_fittable(data) || !record_matches(data, tensor) ||
      !inside(data->volume, x, y, z)) {
    return 0;
  }
  const VolumeHeader& h = *data->volume->header;
  const int64_t index = x + int64_t(h.x) * (y + int64_t(h.y) * z);
  return tensor_fit_at_index(data, tensor, index);
}

int ZTRdti_ComputeTensorAtPosition(const DiffusionTensorImageData* data,
                                   ZTR_DTI_TENSOR* tensor, float x, float y, float z) {
  if (!tensor || !tensor_data_is_fittable(data) || !record_matches(data, tensor) ||
      !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
    return 0;
  }
  const int b0 = data->b0_channels;
  float sum = 0.0f;
  for (int c = 0; c < b0; ++c) {
    sum += static_cast<float>(sample(data->volume, c, x, y, z));
  }
  for (int k = 0; k < tensor->n; ++k) {
    tensor->signals[k] = sample(data->volume, b0 + k, x, y, z);
  }
  return fit_signals(data, tensor, sum / static_cast<float>(b0));
}

float ZTRdti_GetADC(const ZTR_DTI_TENSOR* t) {
  return (t->eigenvalues[3] + t->eigenvalues[2] + t->eigenvalues[1]) / 3;
}

float ZTRdti_GetFA(const ZTR_DTI_TENSOR* t) {
  const float l1 = t->eigenvalues[3], l2 = t->eigenvalues[2], l3 = t->eigenvalues[1];
  const float m = (l1 + l2 + l3) / 3;
  const float deviation = (l1 - m) * (l1 - m) + (l2 - m) * (l2 - m) + (l3 - m) * (l3 - m);
  const float magnitude = l1 * l1 + l2 * l2 + l3 * l3;
  return static_cast<float>(std::sqrt(1.5) * std::sqrt(static_cast<double>(deviation / magnitude)));
}

float ZTRdti_GetLambda1(const ZTR_DTI_TENSOR* t) { return t->eigenvalues[3]; }
float ZTRdti_GetLambda2(const ZTR_DTI_TENSOR* t) { return t->eigenvalues[2]; }
float ZTRdti_GetLambda3(const ZTR_DTI_TENSOR* t) { return t->eigenvalues[1]; }

namespace {
void column(const ZTR_DTI_TENSOR* t, int j, float e[3]) {
  e[0] = t->matrix[1][j];
  e[1] = t->matrix[2][j];
  e[2] = t->matrix[3][j];
}
}  // namespace

void ZTRdti_GetE1(const ZTR_DTI_TENSOR* t, float e[3]) { column(t, 3, e); }
void ZTRdti_GetE2(const ZTR_DTI_TENSOR* t, float e[3]) { column(t, 2, e); }
void ZTRdti_GetE3(const ZTR_DTI_TENSOR* t, float e[3]) { column(t, 1, e); }
float ZTRdti_GetSo(const ZTR_DTI_TENSOR* t) { return t->so; }

float ZTRdti_GetADCAlongDirection(const ZTR_DTI_TENSOR* t, const float g[3]) {
  const float* d = t->elements;
  return d[0] * g[0] * g[0] + d[1] * g[1] * g[1] + d[2] * g[2] * g[2] +
         2 * d[3] * g[0] * g[1] + 2 * d[4] * g[1] * g[2] + 2 * d[5] * g[2] * g[0];
}

int ZTRdti_IsValidTensor(const ZTR_DTI_TENSOR* t) {
  if (!(t->eigenvalues[1] > 0 && t->eigenvalues[2] > 0 && t->eigenvalues[3] > 0)) return 0;
  const float fa = ZTRdti_GetFA(t);
  return (fa >= 0 && fa <= 1) ? 1 : 0;
}

int ZTRdti_IsFiniteTensor(const ZTR_DTI_TENSOR* t) {
  for (float e : t->elements) {
    if (!finite(e)) return 0;
  }
  for (int i = 1; i <= 3; ++i) {
    if (!finite(t->eigenvalues[i])) return 0;
    for (int j = 1; j <= 3; ++j) {
      if (!finite(t->matrix[i][j])) return 0;
    }
  }
  return 1;
}

namespace {
float channel_adc(const DiffusionTensorImageData* data, float so, float signal, int channel) {
  return static_cast<float>(-std::log(static_cast<double>(signal) / static_cast<double>(so)) /
                            static_cast<double>(data->b_value[channel]));
}
bool channel_in_data(const DiffusionTensorImageData* data, int channel) {
  return tensor_data_is_fittable(data) && channel >= 0 && channel < data->dti_channels;
}
}  // namespace

float ZTRdti_GetChannelADCAtVoxel(const DiffusionTensorImageData* data, int x, int y, int z,
                                  int channel) {
  if (!channel_in_data(data, channel) || !inside(data->volume, x, y, z)) return 0.0f;
  const RawVolumeData* v = data->volume;
  const VolumeHeader& h = *v->header;
  const int64_t index = x + int64_t(h.x) * (y + int64_t(h.y) * z);
  float sum = 0.0f;
  for (int c = 0; c < data->b0_channels; ++c) sum += ZTR_ChannelData<int16_t>(v, c)[index];
  const float so = sum / static_cast<float>(data->b0_channels);
  return channel_adc(data, so, ZTR_ChannelData<int16_t>(v, channel)[index], channel);
}

float ZTRdti_GetChannelADCAtPosition(const DiffusionTensorImageData* data, float x, float y,
                                     float z, int channel) {
  if (!channel_in_data(data, channel) || !std::isfinite(x) || !std::isfinite(y) ||
      !std::isfinite(z)) {
    return 0.0f;
  }
  float sum = 0.0f;
  for (int c = 0; c < data->b0_channels; ++c) {
    sum += static_cast<float>(sample(data->volume, c, x, y, z));
  }
  const float so = sum / static_cast<float>(data->b0_channels);
  const float signal = static_cast<float>(sample(data->volume, channel, x, y, z));
  return channel_adc(data, so, signal, channel);
}
