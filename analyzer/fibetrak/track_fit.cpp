// Tensor fit at a tracking position. The sampling and the least-squares arithmetic are
// those of the analyzer's own fit at a position (same samples, same pseudo-inverse, same
// order of sums), so both give the same tensor elements; only the eigen solver differs.
#include "analyzer/fibetrak/track_fit.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "analyzer/dti/numerical.h"
#include "sdk/volume/sampling.h"

namespace {

bool is_finite(double v) { return std::isfinite(v); }

}  // namespace

namespace {

// Cyclic Jacobi rotations: slower than the closed form but exact in every case, for the
// tensors whose eigenvalues nearly coincide.
bool jacobi_eigen3(const double elements[6], double values[3], double vectors[3][3]) {
  double a[3][3] = {{elements[0], elements[3], elements[5]},
                    {elements[3], elements[1], elements[4]},
                    {elements[5], elements[4], elements[2]}};
  for (int i = 0; i < 6; ++i) {
    if (!is_finite(elements[i])) return false;
  }
  double v[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const double norm = a[0][0] * a[0][0] + a[1][1] * a[1][1] + a[2][2] * a[2][2] +
                      2 * (a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2]);
  static constexpr int kPairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
  // Jacobi converges quadratically; off-diagonals below 1e-11 of the norm leave errors far
  // below float precision in the values (second order) and vectors.
  for (int sweep = 0; sweep < 32; ++sweep) {
    const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
    if (off <= 1e-22 * norm || off == 0.0) break;
    for (const auto& pair : kPairs) {
      const int p = pair[0], q = pair[1];
      const double apq = a[p][q];
      if (apq == 0.0) continue;
      const double theta = (a[q][q] - a[p][p]) / (2.0 * apq);
      // For a huge theta the square would overflow; tan of the angle is then 1 / (2 theta).
      const double t = std::fabs(theta) > 1e150
                           ? 0.5 / theta
                           : (theta >= 0 ? 1.0 : -1.0) /
                                 (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
      const double c = 1.0 / std::sqrt(t * t + 1.0);
      const double s = t * c;
      a[p][p] -= t * apq;
      a[q][q] += t * apq;
      a[p][q] = a[q][p] = 0.0;
      const int r = 3 - p - q;
      const double arp = a[r][p], arq = a[r][q];
      a[r][p] = a[p][r] = c * arp - s * arq;
      a[r][q] = a[q][r] = s * arp + c * arq;
      for (int k = 0; k < 3; ++k) {
        const double vp = v[k][p], vq = v[k][q];
        v[k][p] = c * vp - s * vq;
        v[k][q] = s * vp + c * vq;
      }
    }
  }
  // Largest first; ties keep the column order.
  int order[3] = {0, 1, 2};
  const double w[3] = {a[0][0], a[1][1], a[2][2]};
  for (int i = 1; i < 3; ++i) {
    for (int j = i; j > 0 && w[order[j]] > w[order[j - 1]]; --j) std::swap(order[j], order[j - 1]);
  }
  for (int i = 0; i < 3; ++i) {
    values[i] = w[order[i]];
    for (int k = 0; k < 3; ++k) vectors[i][k] = v[k][order[i]];
  }
  return true;
}

void cross(const double a[3], const double b[3], double out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Unit vector spanning the null space of A - lambda I (A scaled to elements of order 1): the
// longest cross product of two of its rows. false when every cross product is too short to
// be accurate, that is when lambda is (nearly) a repeated eigenvalue.
bool null_vector(const double a[3][3], double lambda, double out[3]) {
  const double rows[3][3] = {{a[0][0] - lambda, a[0][1], a[0][2]},
                             {a[1][0], a[1][1] - lambda, a[1][2]},
                             {a[2][0], a[2][1], a[2][2] - lambda}};
  double c[3][3];
  cross(rows[0], rows[1], c[0]);
  cross(rows[0], rows[2], c[1]);
  cross(rows[1], rows[2], c[2]);
  int best = 0;
  double best_norm = dot(c[0], c[0]);
  for (int i = 1; i < 3; ++i) {
    const double n = dot(c[i], c[i]);
    if (n > best_norm) best = i, best_norm = n;
  }
  if (!(best_norm > 1e-12)) return false;
  const double length = std::sqrt(best_norm);
  for (int k = 0; k < 3; ++k) out[k] = c[best][k] / length;
  return true;
}

}  // namespace

bool symmetric_eigen3(const double elements[6], double values[3], double vectors[3][3]) {
  double scale = 0.0;
  for (int i = 0; i < 6; ++i) {
    if (!is_finite(elements[i])) return false;
    scale = std::max(scale, std::fabs(elements[i]));
  }
  if (scale == 0.0) return jacobi_eigen3(elements, values, vectors);
  // The closed form on the matrix scaled to elements of order 1: eigenvalues from the
  // trigonometric solution of the characteristic cubic, vectors from cross products.
  const double a[3][3] = {{elements[0] / scale, elements[3] / scale, elements[5] / scale},
                          {elements[3] / scale, elements[1] / scale, elements[4] / scale},
                          {elements[5] / scale, elements[4] / scale, elements[2] / scale}};
  const double mean = (a[0][0] + a[1][1] + a[2][2]) / 3.0;
  const double b[3][3] = {{a[0][0] - mean, a[0][1], a[0][2]},
                          {a[1][0], a[1][1] - mean, a[1][2]},
                          {a[2][0], a[2][1], a[2][2] - mean}};
  const double p2 = b[0][0] * b[0][0] + b[1][1] * b[1][1] + b[2][2] * b[2][2] +
                    2.0 * (a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2]);
  if (!(p2 > 1e-12)) return jacobi_eigen3(elements, values, vectors);  // nearly isotropic
  const double p = std::sqrt(p2 / 6.0);
  const double det = b[0][0] * (b[1][1] * b[2][2] - b[1][2] * b[2][1]) -
                     b[0][1] * (b[1][0] * b[2][2] - b[1][2] * b[2][0]) +
                     b[0][2] * (b[1][0] * b[2][1] - b[1][1] * b[2][0]);
  const double r = std::clamp(det / (2.0 * p * p * p), -1.0, 1.0);
  const double phi = std::acos(r) / 3.0;
  constexpr double kThird = 2.0943951023931957;  // 2 pi / 3
  const double l1 = mean + 2.0 * p * std::cos(phi);
  const double l3 = mean + 2.0 * p * std::cos(phi + kThird);
  const double l2 = 3.0 * mean - l1 - l3;
  double e1[3], e2[3], e3[3];
  // lambda1 close to lambda2 (an oblate tensor): its vector is ill-conditioned here.
  if (!null_vector(a, l1, e1)) return jacobi_eigen3(elements, values, vectors);
  if (null_vector(a, l3, e3)) {
    // Made exactly orthogonal to e1, which is the better conditioned of the two.
    const double along = dot(e3, e1);
    for (int k = 0; k < 3; ++k) e3[k] -= along * e1[k];
    const double length = std::sqrt(dot(e3, e3));
    if (!(length > 0.5)) return jacobi_eigen3(elements, values, vectors);
    for (double& v : e3) v /= length;
  } else {
    // lambda2 = lambda3 (a prolate tensor): every unit vector across e1 is an eigenvector.
    int axis = 0;
    for (int k = 1; k < 3; ++k) {
      if (std::fabs(e1[k]) < std::fabs(e1[axis])) axis = k;
    }
    const double unit[3] = {axis == 0 ? 1.0 : 0.0, axis == 1 ? 1.0 : 0.0, axis == 2 ? 1.0 : 0.0};
    cross(e1, unit, e3);
    const double length = std::sqrt(dot(e3, e3));
    for (double& v : e3) v /= length;
  }
  cross(e3, e1, e2);
  values[0] = l1 * scale;
  values[1] = l2 * scale;
  values[2] = l3 * scale;
  for (int k = 0; k < 3; ++k) {
    vectors[0][k] = e1[k];
    vectors[1][k] = e2[k];
    vectors[2][k] = e3[k];
  }
  return true;
}

std::unique_ptr<TrackingFitContext> TrackingFitContext::create(
    const DiffusionTensorImageData* data) {
  if (!data || !data->volume || !data->volume->header) return nullptr;
  const RawVolumeData* volume = data->volume;
  const VolumeHeader& h = *volume->header;
  const int channels = data->dti_channels, b0 = data->b0_channels;
  if (b0 < 1 || channels <= b0 || channels > ZTR_DTI_MAX_CHANNELS || channels > h.channels ||
      h.x < 1 || h.y < 1 || h.z < 1) {
    return nullptr;
  }
  for (int c = 0; c < channels; ++c) {
    if (volume->types[c] != ZTR_TYPE_INT16) return nullptr;
  }
  const int n = channels - b0;
  std::unique_ptr<TrackingFitContext> context(new (std::nothrow) TrackingFitContext);
  if (!context) return nullptr;
  try {
    TrackingFitContext& f = *context;
    f.nx_ = h.x;
    f.ny_ = h.y;
    f.nz_ = h.z;
    f.channels_ = channels;
    f.b0_ = b0;
    const int64_t voxels = int64_t{h.x} * h.y * h.z;
    f.interleaved_.resize(static_cast<size_t>(voxels * channels));
    for (int c = 0; c < channels; ++c) {
      const int16_t* block = ZTR_ChannelData<int16_t>(volume, c);
      int16_t* out = f.interleaved_.data() + c;
      for (int64_t i = 0; i < voxels; ++i) out[i * channels] = block[i];
    }
    MatrixPtr design(ZTR_NewMatrix(n, 6));
    if (!design) return nullptr;
    for (int k = 0; k < n; ++k) {
      const float* g = data->mpg_vector[b0 + k];
      float* row = design->element[k];
      row[0] = g[0] * g[0];
      row[1] = g[1] * g[1];
      row[2] = g[2] * g[2];
      row[3] = 2 * g[0] * g[1];
      row[4] = 2 * g[1] * g[2];
      row[5] = 2 * g[2] * g[0];
    }
    MatrixPtr inverse(ZTRnumerical_GetInversedMatrix(design.get()));
    if (!inverse || inverse->rows != 6 || inverse->columns != n) return nullptr;
    // Stored column by column (N x 6) so that one diffusion-weighted channel's six
    // coefficients are adjacent.
    f.inverse_.resize(static_cast<size_t>(6 * n));
    for (int m = 0; m < n; ++m) {
      for (int r = 0; r < 6; ++r) f.inverse_[static_cast<size_t>(6 * m + r)] = inverse->element[r][m];
      if (!std::isfinite(data->b_value[b0 + m])) return nullptr;
    }
    f.b_values_.assign(&data->b_value[b0], &data->b_value[b0] + n);
    f.log_table_.resize(32768);
    f.log_table_[0] = -HUGE_VAL;
    for (int v = 1; v < 32768; ++v) f.log_table_[static_cast<size_t>(v)] = std::log(double(v));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return context;
}

void TrackingFitContext::sample_all(float x, float y, float z, int16_t* out) const {
  using namespace ztr_volume_detail;
  const LinearAxis ax = linear_axis(x, nx_);
  const LinearAxis ay = linear_axis(y, ny_);
  const LinearAxis az = linear_axis(z, nz_);
  const int64_t row = nx_, slice = int64_t{nx_} * ny_;
  const int16_t* base = interleaved_.data();
  auto corner = [&](int64_t i, int64_t j, int64_t k) {
    return base + (i + row * j + slice * k) * channels_;
  };
  const int16_t* p000 = corner(ax.low, ay.low, az.low);
  const int16_t* p100 = corner(ax.high, ay.low, az.low);
  const int16_t* p010 = corner(ax.low, ay.high, az.low);
  const int16_t* p110 = corner(ax.high, ay.high, az.low);
  const int16_t* p001 = corner(ax.low, ay.low, az.high);
  const int16_t* p101 = corner(ax.high, ay.low, az.high);
  const int16_t* p011 = corner(ax.low, ay.high, az.high);
  const int16_t* p111 = corner(ax.high, ay.high, az.high);
  const float fx = ax.fraction, fy = ay.fraction, fz = az.fraction;
  for (int c = 0; c < channels_; ++c) {
    const float c00 = blend(float(p000[c]), float(p100[c]), fx);
    const float c10 = blend(float(p010[c]), float(p110[c]), fx);
    const float c01 = blend(float(p001[c]), float(p101[c]), fx);
    const float c11 = blend(float(p011[c]), float(p111[c]), fx);
    const float value = blend(blend(c00, c10, fy), blend(c01, c11, fy), fz);
    // Blends of 16-bit values with fractions in (-1, 1] stay far inside the 32-bit range, so
    // the plain conversion truncates exactly as the volume sampler does, and vectorizes.
    out[c] = static_cast<int16_t>(static_cast<int32_t>(value));
  }
}

int16_t TrackingFitContext::sample_so(float x, float y, float z) const {
  using namespace ztr_volume_detail;
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return 0;
  const LinearAxis ax = linear_axis(x, nx_);
  const LinearAxis ay = linear_axis(y, ny_);
  const LinearAxis az = linear_axis(z, nz_);
  const int64_t row = nx_, slice = int64_t{nx_} * ny_;
  auto at = [&](int64_t i, int64_t j, int64_t k) {
    return float(interleaved_[static_cast<size_t>((i + row * j + slice * k) * channels_)]);
  };
  const float c00 = blend(at(ax.low, ay.low, az.low), at(ax.high, ay.low, az.low), ax.fraction);
  const float c10 = blend(at(ax.low, ay.high, az.low), at(ax.high, ay.high, az.low), ax.fraction);
  const float c01 = blend(at(ax.low, ay.low, az.high), at(ax.high, ay.low, az.high), ax.fraction);
  const float c11 =
      blend(at(ax.low, ay.high, az.high), at(ax.high, ay.high, az.high), ax.fraction);
  const float value = blend(blend(c00, c10, ay.fraction), blend(c01, c11, ay.fraction), az.fraction);
  return static_cast<int16_t>(store_as<int32_t>(value));
}

bool TrackingFitContext::fit(float x, float y, float z, TrackTensor* t) const {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return false;
  int16_t signals[ZTR_DTI_MAX_CHANNELS];
  sample_all(x, y, z, signals);
  t->so_sample = signals[0];
  float sum = 0.0f;
  for (int c = 0; c < b0_; ++c) sum += static_cast<float>(signals[c]);
  const float so = sum / static_cast<float>(b0_);
  // A signal of 0 or below has no logarithm: the background, where no tensor exists.
  if (!(so > 0.0f)) return false;
  // With whole-number So (always with one b=0 channel) the table has the same logarithm.
  const double log_so = so < 32768.0f && std::nearbyint(so) == so
                            ? log_table_[static_cast<size_t>(so)]
                            : std::log(static_cast<double>(so));
  const int n = channels_ - b0_;
  const int16_t* s = signals + b0_;
  const double* table = log_table_.data();
  float d[6] = {0, 0, 0, 0, 0, 0};
  const float* inverse = inverse_.data();
  for (int m = 0; m < n; ++m) {
    if (s[m] <= 0) return false;
    const float ym = -static_cast<float>(table[s[m]] - log_so) / b_values_[static_cast<size_t>(m)];
    const float* coefficients = inverse + 6 * m;
    for (int r = 0; r < 6; ++r) d[r] += coefficients[r] * ym;
  }
  const double elements[6] = {d[0], d[1], d[2], d[3], d[4], d[5]};
  double values[3], vectors[3][3];
  if (!symmetric_eigen3(elements, values, vectors)) return false;
  for (int i = 0; i < 3; ++i) {
    t->lambda[i] = static_cast<float>(values[i]);
    for (int k = 0; k < 3; ++k) t->e[i][k] = static_cast<float>(vectors[i][k]);
  }
  const float l1 = t->lambda[0], l2 = t->lambda[1], l3 = t->lambda[2];
  const float mean = (l1 + l2 + l3) / 3;
  const float deviation = (l1 - mean) * (l1 - mean) + (l2 - mean) * (l2 - mean) +
                          (l3 - mean) * (l3 - mean);
  const float magnitude = l1 * l1 + l2 * l2 + l3 * l3;
  t->adc = mean;
  t->fa = static_cast<float>(std::sqrt(1.5) * std::sqrt(static_cast<double>(deviation / magnitude)));
  t->so = so;
  // A zero tensor (every signal equal to So) has no FA and no direction.
  return std::isfinite(t->fa) && std::isfinite(t->adc);
}
