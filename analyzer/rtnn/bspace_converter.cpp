// The q-space resampler: point set with merged coincident samples, the RBF system inverted
// once in double precision, and the per-voxel interpolant.
#include "analyzer/rtnn/bspace_converter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "analyzer/dti/numerical.h"

namespace {

// Gauss-Jordan inverse with partial pivoting of the n x n row-major matrix a (destroyed).
// false when a pivot falls below a relative threshold: the system is singular.
bool invert_in_place(std::vector<double>& a, std::vector<double>& inverse, int n) {
  inverse.assign(size_t(n) * n, 0.0);
  for (int i = 0; i < n; ++i) inverse[size_t(i) * n + i] = 1.0;
  double scale = 0.0;
  for (double v : a) scale = std::max(scale, std::fabs(v));
  if (!(scale > 0.0)) return false;
  for (int col = 0; col < n; ++col) {
    int pivot = col;
    for (int r = col + 1; r < n; ++r) {
      if (std::fabs(a[size_t(r) * n + col]) > std::fabs(a[size_t(pivot) * n + col])) pivot = r;
    }
    const double p = a[size_t(pivot) * n + col];
    if (!(std::fabs(p) > 1e-11 * scale)) return false;
    if (pivot != col) {
      for (int k = 0; k < n; ++k) {
        std::swap(a[size_t(pivot) * n + k], a[size_t(col) * n + k]);
        std::swap(inverse[size_t(pivot) * n + k], inverse[size_t(col) * n + k]);
      }
    }
    for (int k = 0; k < n; ++k) {
      a[size_t(col) * n + k] /= p;
      inverse[size_t(col) * n + k] /= p;
    }
    for (int r = 0; r < n; ++r) {
      if (r == col) continue;
      const double f = a[size_t(r) * n + col];
      if (f == 0.0) continue;
      for (int k = 0; k < n; ++k) {
        a[size_t(r) * n + k] -= f * a[size_t(col) * n + k];
        inverse[size_t(r) * n + k] -= f * inverse[size_t(col) * n + k];
      }
    }
  }
  return true;
}

bool refuse(std::string* reason, const std::string& text) {
  std::fprintf(stderr, "Err: B-space converter: %s\n", text.c_str());
  if (reason) *reason = text;
  return false;
}

// The fitted tensor's eigenvectors from the converter's signals; false when no tensor can
// be fitted (no fit matrix, or signals that give no finite log ratios).
bool fitted_eigenvectors(const ZTR_BSPACE_CONVERTER* c, float e1[3], float e2[3], float e3[3]) {
  if (c->tensor_fit.empty()) return false;
  const float s0 = c->signals[0];
  if (!(s0 > 0.0f)) return false;
  const int rows = c->n - 1;
  double d[6] = {0, 0, 0, 0, 0, 0};
  for (int i = 0; i < rows; ++i) {
    double ratio = double(c->signals[i + 1]) / s0;
    // A zero or negative signal has no logarithm; the floor keeps one noisy voxel finite.
    ratio = std::clamp(ratio, 1e-6, 1.0);
    const double y = -std::log(ratio) / c->b_value[i + 1];
    for (int k = 0; k < 6; ++k) d[k] += c->tensor_fit[size_t(k) * rows + i] * y;
  }
  const float m[3][3] = {{float(d[0]), float(d[3]), float(d[4])},
                         {float(d[3]), float(d[1]), float(d[5])},
                         {float(d[4]), float(d[5]), float(d[2])}};
  float values[3];
  float vectors[3][3];
  if (!eigen_decompose_symmetric_3x3(m, values, vectors)) return false;
  for (int k = 0; k < 3; ++k) {
    e1[k] = vectors[k][2];
    e2[k] = vectors[k][1];
    e3[k] = vectors[k][0];
  }
  return std::isfinite(e1[0]) && std::isfinite(e1[1]) && std::isfinite(e1[2]);
}

bool build(ZTR_BSPACE_CONVERTER* c, int32_t n, const float* b, const float (*g)[3],
           int32_t kernel_code, std::string* reason) {
  int zero_b = 0;
  for (int i = 0; i < n; ++i) zero_b += b[i] == 0.0f ? 1 : 0;
  if (zero_b != 1 || b[0] != 0.0f) {
    std::fprintf(stderr, "Err: ZTR_BSPACE_CONVERTER allows only single-b0 DTIs\n");
    if (reason) *reason = "only single-b0 settings (b=0 first) can be converted";
    return false;
  }
  c->n = n;
  c->b_value.assign(b, b + n);
  c->direction.resize(n);
  for (int i = 0; i < n; ++i) c->direction[i] = {g[i][0], g[i][1], g[i][2]};
  c->signals.assign(n, 0.0f);
  for (int k = 0; k < 6; ++k) {
    c->angle_cos[k] = std::cos(k * 0.5235988f);
    c->angle_sin[k] = std::sin(k * 0.5235988f);
  }

  // Samples: the origin (channel 0) and +-b g of every other channel. Coincident samples
  // would make the system singular; they become one point carrying the mean signal.
  std::vector<std::array<float, 3>> unique;
  std::vector<std::vector<int32_t>> owners;
  float largest = 0.0f;
  for (int i = 1; i < n; ++i) {
    const float norm = std::sqrt(g[i][0] * g[i][0] + g[i][1] * g[i][1] + g[i][2] * g[i][2]);
    if (!(norm > 0.0f) || !std::isfinite(norm) || !(b[i] > 0.0f) || !std::isfinite(b[i])) {
      return refuse(reason, "channel " + std::to_string(i) +
                                " has a b value above 0 but no usable direction");
    }
    largest = std::max(largest, b[i] * norm);
  }
  const float tolerance = 1e-3f * largest;
  auto add_point = [&](const std::array<float, 3>& p, int32_t channel) {
    for (size_t j = 0; j < unique.size(); ++j) {
      const float dx = unique[j][0] - p[0], dy = unique[j][1] - p[1], dz = unique[j][2] - p[2];
      if (std::sqrt(dx * dx + dy * dy + dz * dz) <= tolerance) {
        owners[j].push_back(channel);
        return;
      }
    }
    unique.push_back(p);
    owners.push_back({channel});
  };
  add_point({0.0f, 0.0f, 0.0f}, 0);
  for (int i = 1; i < n; ++i) {
    const std::array<float, 3> q = {b[i] * g[i][0], b[i] * g[i][1], b[i] * g[i][2]};
    add_point(q, i);
    add_point({-q[0], -q[1], -q[2]}, i);
  }
  const int points = static_cast<int>(unique.size());
  const int size = points + 4;
  ZTR_RBF_INTERPOLATOR& r = c->interpolator;
  r.point_count = points;
  r.kernel_code = kernel_code;
  r.shape = 1.0f;
  r.points.resize(size_t(points) * 3);
  for (int j = 0; j < points; ++j) {
    for (int k = 0; k < 3; ++k) r.points[size_t(j) * 3 + k] = unique[j][k];
  }
  c->member_begin.assign(points + 1, 0);
  c->members.clear();
  for (int j = 0; j < points; ++j) {
    c->member_begin[j] = static_cast<int32_t>(c->members.size());
    c->members.insert(c->members.end(), owners[j].begin(), owners[j].end());
  }
  c->member_begin[points] = static_cast<int32_t>(c->members.size());

  std::vector<double> system(size_t(size) * size, 0.0);
  for (int i = 0; i < points; ++i) {
    for (int j = 0; j < points; ++j) {
      const double dx = double(unique[i][0]) - unique[j][0];
      const double dy = double(unique[i][1]) - unique[j][1];
      const double dz = double(unique[i][2]) - unique[j][2];
      system[size_t(i) * size + j] =
          rbf_kernel(kernel_code, static_cast<float>(std::sqrt(dx * dx + dy * dy + dz * dz)), r.shape);
    }
    system[size_t(i) * size + points] = system[size_t(points) * size + i] = 1.0;
    for (int k = 0; k < 3; ++k) {
      system[size_t(i) * size + points + 1 + k] = unique[i][k];
      system[size_t(points + 1 + k) * size + i] = unique[i][k];
    }
  }
  std::vector<double> inverse;
  if (!invert_in_place(system, inverse, size)) {
    return refuse(reason, "the q-space points leave the interpolation system singular "
                          "(are all directions in one plane?)");
  }
  r.inverse.assign(inverse.begin(), inverse.end());
  r.values.assign(size, 0.0f);
  r.coefficients.assign(size, 0.0f);

  // Tensor fit matrix over channels 1 .. n-1 through the 6 x 6 normal equations.
  const int rows = n - 1;
  std::vector<double> design(size_t(rows) * 6);
  for (int i = 0; i < rows; ++i) {
    const auto& v = g[i + 1];
    const double norm = std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]);
    const double x = v[0] / norm, y = v[1] / norm, z = v[2] / norm;
    const double row[6] = {x * x, y * y, z * z, 2 * x * y, 2 * x * z, 2 * y * z};
    for (int k = 0; k < 6; ++k) design[size_t(i) * 6 + k] = row[k];
  }
  std::vector<double> normal(36, 0.0);
  for (int i = 0; i < rows; ++i) {
    for (int a = 0; a < 6; ++a) {
      for (int bb = 0; bb < 6; ++bb) normal[a * 6 + bb] += design[size_t(i) * 6 + a] * design[size_t(i) * 6 + bb];
    }
  }
  std::vector<double> normal_inverse;
  c->tensor_fit.clear();
  if (invert_in_place(normal, normal_inverse, 6)) {
    c->tensor_fit.assign(size_t(6) * rows, 0.0);
    for (int k = 0; k < 6; ++k) {
      for (int i = 0; i < rows; ++i) {
        double s = 0.0;
        for (int a = 0; a < 6; ++a) s += normal_inverse[k * 6 + a] * design[size_t(i) * 6 + a];
        c->tensor_fit[size_t(k) * rows + i] = s;
      }
    }
  }
  return true;
}

}  // namespace

float rbf_kernel(int32_t code, float r, float c) {
  switch (code) {
    case -6468: return r * r;
    case 195: return r > 0.0f ? r * r * std::log(r) : 0.0f;
    case 378: return std::sqrt(r * r + c * c);
    case 454: return r * r * r;
    case 941: return std::exp(-c * c * r * r);
    default: return r;
  }
}

ZTR_BSPACE_CONVERTER* ZTR_NewBSpaceConverter(int32_t n, const float* b_values,
                                             const float (*directions)[3], int32_t kernel_code,
                                             std::string* reason) {
  if (n < 2 || !b_values || !directions) {
    refuse(reason, "at least two channels are needed");
    return nullptr;
  }
  try {
    BSpaceConverterPtr converter(new ZTR_BSPACE_CONVERTER{});
    if (!build(converter.get(), n, b_values, directions, kernel_code, reason)) return nullptr;
    return converter.release();
  } catch (const std::bad_alloc&) {
    refuse(reason, "insufficient memory");
    return nullptr;
  }
}

void ZTR_DeleteBSpaceConverter(ZTR_BSPACE_CONVERTER* converter) { delete converter; }

ZTR_BSPACE_CONVERTER* ZTR_CopyBSpaceConverter(const ZTR_BSPACE_CONVERTER* converter) {
  if (!converter) return nullptr;
  return new (std::nothrow) ZTR_BSPACE_CONVERTER(*converter);
}

void bspace_point_values(const ZTR_BSPACE_CONVERTER* c, const float* signals, float* values) {
  const int points = c->interpolator.point_count;
  for (int j = 0; j < points; ++j) {
    float sum = 0.0f;
    const int begin = c->member_begin[j], end = c->member_begin[j + 1];
    for (int m = begin; m < end; ++m) sum += signals[c->members[m]];
    values[j] = sum / static_cast<float>(end - begin);
  }
}

std::vector<float> bspace_target_matrix(const ZTR_BSPACE_CONVERTER* c, int32_t m,
                                        const float* b_values, const float (*directions)[3]) {
  std::vector<float> matrix;
  if (!c || m < 1) return matrix;
  for (int t = 0; t < m; ++t) {
    if (directions[t][0] == ZTR_BSPACE_ALONG_E1 || directions[t][0] == ZTR_BSPACE_ACROSS_E1) return matrix;
  }
  const ZTR_RBF_INTERPOLATOR& r = c->interpolator;
  const int points = r.point_count;
  const int size = points + 4;
  const int n = c->n;
  matrix.assign(size_t(m) * n, 0.0f);
  std::vector<double> row(size);
  for (int t = 0; t < m; ++t) {
    const float q[3] = {b_values[t] * directions[t][0], b_values[t] * directions[t][1],
                        b_values[t] * directions[t][2]};
    for (int k = 0; k < points; ++k) {
      const float dx = r.points[size_t(k) * 3] - q[0];
      const float dy = r.points[size_t(k) * 3 + 1] - q[1];
      const float dz = r.points[size_t(k) * 3 + 2] - q[2];
      row[k] = rbf_kernel(r.kernel_code, std::sqrt(dx * dx + dy * dy + dz * dz), r.shape);
    }
    row[points] = 1.0;
    for (int k = 0; k < 3; ++k) row[points + 1 + k] = q[k];
    // Only the first P columns of the inverse meet non-zero values; point j carries the mean
    // of its member channels.
    for (int j = 0; j < points; ++j) {
      double s = 0.0;
      for (int k = 0; k < size; ++k) s += row[k] * r.inverse[size_t(k) * size + j];
      const int begin = c->member_begin[j], end = c->member_begin[j + 1];
      for (int mm = begin; mm < end; ++mm) {
        matrix[size_t(t) * n + c->members[mm]] += static_cast<float>(s / (end - begin));
      }
    }
  }
  return matrix;
}

void ZTR_SetBSpaceConverterSignals(ZTR_BSPACE_CONVERTER* c, const float* signals) {
  if (!c || !signals) return;
  for (int i = 0; i < c->n; ++i) c->signals[i] = signals[i];
  ZTR_RBF_INTERPOLATOR& r = c->interpolator;
  const int points = r.point_count;
  const int size = points + 4;
  bspace_point_values(c, signals, r.values.data());
  for (int j = points; j < size; ++j) r.values[j] = 0.0f;
  for (int i = 0; i < size; ++i) {
    const float* row = &r.inverse[size_t(i) * size];
    float s = 0.0f;
    for (int j = 0; j < points; ++j) s += row[j] * r.values[j];
    r.coefficients[i] = s;
  }
}

float bspace_interpolant(const ZTR_BSPACE_CONVERTER* c, const float q[3]) {
  const ZTR_RBF_INTERPOLATOR& r = c->interpolator;
  const int points = r.point_count;
  const float* a = &r.coefficients[points];
  float f = a[0] + a[1] * q[0] + a[2] * q[1] + a[3] * q[2];
  for (int j = 0; j < points; ++j) {
    const float dx = r.points[size_t(j) * 3] - q[0];
    const float dy = r.points[size_t(j) * 3 + 1] - q[1];
    const float dz = r.points[size_t(j) * 3 + 2] - q[2];
    f += r.coefficients[j] * rbf_kernel(r.kernel_code, std::sqrt(dx * dx + dy * dy + dz * dz), r.shape);
  }
  return f;
}

void ZTR_ConvertBSpace(const ZTR_BSPACE_CONVERTER* c, int32_t m, const float* b_values,
                       const float (*directions)[3], float* out) {
  if (!c || !b_values || !directions || !out) return;
  bool fitted = false, fit_ok = false;
  float e1[3], e2[3], e3[3];
  for (int t = 0; t < m; ++t) {
    const float bt = b_values[t];
    const float* g = directions[t];
    if (g[0] == ZTR_BSPACE_ALONG_E1 || g[0] == ZTR_BSPACE_ACROSS_E1) {
      if (!fitted) {
        fit_ok = fitted_eigenvectors(c, e1, e2, e3);
        fitted = true;
      }
      if (!fit_ok) {
        out[t] = std::nanf("");
        continue;
      }
      if (g[0] == ZTR_BSPACE_ALONG_E1) {
        const float q[3] = {bt * e1[0], bt * e1[1], bt * e1[2]};
        out[t] = bspace_interpolant(c, q);
      } else {
        float sum = 0.0f;
        for (int k = 0; k < 6; ++k) {
          float q[3];
          for (int d = 0; d < 3; ++d) q[d] = bt * (c->angle_cos[k] * e2[d] + c->angle_sin[k] * e3[d]);
          sum += bspace_interpolant(c, q);
        }
        out[t] = sum / 6.0f;
      }
    } else {
      const float q[3] = {bt * g[0], bt * g[1], bt * g[2]};
      out[t] = bspace_interpolant(c, q);
    }
  }
}
