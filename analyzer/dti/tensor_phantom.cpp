// Synthetic DWI signals and the phantom volume.
#include "analyzer/dti/tensor_phantom.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "analyzer/dti/mpg_setting.h"

namespace {

// Diffusivities (mm^2/s) of the phantom's compartments.
constexpr double kTissueDiffusivity = 0.8e-3;
constexpr double kCavityDiffusivity = 3.0e-3;
constexpr double kFiberParallel = 1.7e-3;
constexpr double kFiberPerpendicular = 0.3e-3;

SymmetricTensor isotropic(double d) { return {d, d, d, 0, 0, 0}; }

SymmetricTensor mean_of(const SymmetricTensor& a, const SymmetricTensor& b) {
  return {(a.xx + b.xx) / 2, (a.yy + b.yy) / 2, (a.zz + b.zz) / 2,
          (a.xy + b.xy) / 2, (a.yz + b.yz) / 2, (a.zx + b.zx) / 2};
}

}  // namespace

SymmetricTensor tensor_from_eigen_system(const double values[3], const double vectors[3][3]) {
  SymmetricTensor d{0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    const double* v = vectors[i];
    const double l = values[i];
    d.xx += l * v[0] * v[0];
    d.yy += l * v[1] * v[1];
    d.zz += l * v[2] * v[2];
    d.xy += l * v[0] * v[1];
    d.yz += l * v[1] * v[2];
    d.zx += l * v[2] * v[0];
  }
  return d;
}

SymmetricTensor cylindrical_tensor(double lambda_par, double lambda_perp, const double t[3]) {
  const double delta = lambda_par - lambda_perp;
  return {lambda_perp + delta * t[0] * t[0], lambda_perp + delta * t[1] * t[1],
          lambda_perp + delta * t[2] * t[2], delta * t[0] * t[1],
          delta * t[1] * t[2],               delta * t[2] * t[0]};
}

double tensor_mean_diffusivity(const SymmetricTensor& d) { return (d.xx + d.yy + d.zz) / 3; }

double tensor_fractional_anisotropy(const SymmetricTensor& d) {
  // sum (l - m)^2 = |D - mI|^2 and sum l^2 = |D|^2 (Frobenius norms).
  const double m = tensor_mean_diffusivity(d);
  const double off = 2 * (d.xy * d.xy + d.yz * d.yz + d.zx * d.zx);
  const double deviation = (d.xx - m) * (d.xx - m) + (d.yy - m) * (d.yy - m) +
                           (d.zz - m) * (d.zz - m) + off;
  const double magnitude = d.xx * d.xx + d.yy * d.yy + d.zz * d.zz + off;
  return magnitude > 0 ? std::sqrt(1.5 * deviation / magnitude) : 0.0;
}

double tensor_along(const SymmetricTensor& d, const float g[3]) {
  const double x = g[0], y = g[1], z = g[2];
  return d.xx * x * x + d.yy * y * y + d.zz * z * z + 2 * (d.xy * x * y + d.yz * y * z + d.zx * z * x);
}

namespace {
int16_t to_int16(double v) {
  const double r = std::nearbyint(v);
  if (!(r == r)) return 0;
  return static_cast<int16_t>(std::clamp(r, -32768.0, 32767.0));
}
}  // namespace

int16_t synthetic_signal(const SymmetricTensor& d, double s0, double b, const float g[3]) {
  return to_int16(s0 * std::exp(-b * tensor_along(d, g)));
}

void synthesize_voxel(const DiffusionTensorImageData* data, int x, int y, int z,
                      const SymmetricTensor& d, double s0) {
  RawVolumeData* v = data->volume;
  for (int c = 0; c < data->dti_channels; ++c) {
    ZTR_Voxel<int16_t>(v, c, x, y, z) =
        c < data->b0_channels ? to_int16(s0)
                              : synthetic_signal(d, s0, data->b_value[c], data->mpg_vector[c]);
  }
}

PhantomVoxel phantom_voxel(const PhantomOptions& o, int i, int j, int k) {
  // Isotropic coordinates: one unit is half the smaller in-plane size, origin at the centre.
  const double s = std::min(o.x, o.y) / 2.0;
  const double u = (i + 0.5 - o.x / 2.0) / s;
  const double v = (j + 0.5 - o.y / 2.0) / s;
  const double w = (k + 0.5 - o.z / 2.0) / s;
  const double head[3] = {0.9 * o.x / 2.0 / s, 0.9 * o.y / 2.0 / s, 0.9 * o.z / 2.0 / s};
  const double r2 = (u / head[0]) * (u / head[0]) + (v / head[1]) * (v / head[1]) +
                    (w / head[2]) * (w / head[2]);
  if (r2 > 1.0) return {{0, 0, 0, 0, 0, 0}, 0.0, 0};

  // Curved bundle: half a torus around (0, -0.55) in the axial plane, major radius 0.6.
  const double cu = 0.0, cv = -0.55, major = 0.6, minor = 0.18;
  const double du = u - cu, dv = v - cv;
  const double rho = std::sqrt(du * du + dv * dv);
  const bool in_arc = dv >= 0 && rho > 0 &&
                      (rho - major) * (rho - major) + w * w <= minor * minor;
  // Straight bundle along z through the arc's centre line at 45 degrees.
  const double su = cu + major * std::sqrt(0.5), sv = cv + major * std::sqrt(0.5);
  const bool in_column = (u - su) * (u - su) + (v - sv) * (v - sv) <= 0.15 * 0.15;

  const double along_z[3] = {0, 0, 1};
  if (in_arc) {
    const double t[3] = {-dv / rho, du / rho, 0};
    const SymmetricTensor arc = cylindrical_tensor(kFiberParallel, kFiberPerpendicular, t);
    if (in_column) {
      // Where the bundles cross, the voxel's tensor is the mean of both: a planar tensor.
      return {mean_of(arc, cylindrical_tensor(kFiberParallel, kFiberPerpendicular, along_z)),
              o.signal, 5};
    }
    return {arc, o.signal, 3};
  }
  if (in_column) {
    return {cylindrical_tensor(kFiberParallel, kFiberPerpendicular, along_z), o.signal, 4};
  }
  const double qu = u + 0.35, qv = v - 0.3;
  if (qu * qu + qv * qv + w * w <= 0.16 * 0.16) {
    return {isotropic(kCavityDiffusivity), 1.5 * o.signal, 2};
  }
  return {isotropic(kTissueDiffusivity), o.signal, 1};
}

bool make_phantom(const PhantomOptions& o, Phantom* phantom, std::string* error) {
  auto fail = [error](const char* text) {
    if (error) *error = text;
    return false;
  };
  if (!phantom) return fail("no phantom record");
  if (o.x < 2 || o.y < 2 || o.z < 1 || o.x > 1024 || o.y > 1024 || o.z > 1024) {
    return fail("sizes must be 2 .. 1024 in x and y, 1 .. 1024 in z");
  }
  const float (*row)[3] = default_mpg_direction_row(o.directions);
  if (!row) return fail("directions must be 6 .. 129");
  if (o.b0_channels < 1 || o.b0_channels > 64) return fail("b=0 channels must be 1 .. 64");
  if (!(o.b_value > 0 && o.b_value <= 10000)) return fail("b value must be in (0, 10000]");
  if (!(o.signal > 0 && o.signal <= 20000)) return fail("signal must be in (0, 20000]");
  if (!(o.noise_sigma >= 0 && o.noise_sigma <= 10000)) return fail("noise must be 0 .. 10000");

  const int channels = o.b0_channels + o.directions;
  Phantom out;
  out.b_values.assign(static_cast<size_t>(channels), 0.0f);
  out.directions.assign(static_cast<size_t>(channels), {0.0f, 0.0f, 0.0f});
  for (int d = 0; d < o.directions; ++d) {
    out.b_values[static_cast<size_t>(o.b0_channels + d)] = o.b_value;
    out.directions[static_cast<size_t>(o.b0_channels + d)] = {row[d][0], row[d][1], row[d][2]};
  }
  std::vector<int32_t> types(static_cast<size_t>(channels), ZTR_TYPE_INT16);
  std::vector<int32_t> attributes(static_cast<size_t>(channels), ZTR_ATTRIBUTE_PLAIN);
  out.dwi.reset(ZTR_NewRawVolumeData({o.x, o.y, o.z, channels}, types.data(), attributes.data()));
  const int32_t truth_types[3] = {ZTR_TYPE_FLOAT32, ZTR_TYPE_FLOAT32, ZTR_TYPE_FLOAT32};
  const int32_t truth_attributes[3] = {0, 0, 0};
  out.truth.reset(ZTR_NewRawVolumeData({o.x, o.y, o.z, 3}, truth_types, truth_attributes));
  if (!out.dwi || !out.truth) return fail("out of memory");

  std::mt19937_64 random(o.seed);
  std::normal_distribution<double> gauss(0.0, o.noise_sigma > 0 ? o.noise_sigma : 1.0);
  const bool noisy = o.noise_sigma > 0;
  int64_t index = 0;
  for (int k = 0; k < o.z; ++k) {
    for (int j = 0; j < o.y; ++j) {
      for (int i = 0; i < o.x; ++i, ++index) {
        const PhantomVoxel voxel = phantom_voxel(o, i, j, k);
        for (int c = 0; c < channels; ++c) {
          const auto& g = out.directions[static_cast<size_t>(c)];
          const float direction[3] = {g[0], g[1], g[2]};
          double s = voxel.s0 * std::exp(-out.b_values[static_cast<size_t>(c)] *
                                         tensor_along(voxel.tensor, direction));
          if (noisy) {
            const double real = s + gauss(random), imaginary = gauss(random);
            s = std::sqrt(real * real + imaginary * imaginary);
          }
          ZTR_ChannelData<int16_t>(out.dwi.get(), c)[index] = to_int16(s);
        }
        float* truth_fa = ZTR_ChannelData<float>(out.truth.get(), 0);
        float* truth_adc = ZTR_ChannelData<float>(out.truth.get(), 1);
        float* label = ZTR_ChannelData<float>(out.truth.get(), 2);
        truth_fa[index] = static_cast<float>(tensor_fractional_anisotropy(voxel.tensor));
        truth_adc[index] = static_cast<float>(tensor_mean_diffusivity(voxel.tensor));
        label[index] = static_cast<float>(voxel.label);
      }
    }
  }
  *phantom = std::move(out);
  return true;
}

int apply_phantom_mpg(const Phantom& phantom, DiffusionTensorImageData* data) {
  if (!data || phantom.b_values.empty()) return -1;
  int b0 = 0;
  while (b0 < static_cast<int>(phantom.b_values.size()) && phantom.b_values[b0] == 0.0f) ++b0;
  std::vector<float> vectors(phantom.directions.size() * 3);
  for (size_t c = 0; c < phantom.directions.size(); ++c) {
    for (int a = 0; a < 3; ++a) vectors[3 * c + a] = phantom.directions[c][a];
  }
  return ZTRdti_SetMPG(data, static_cast<int32_t>(phantom.b_values.size()), b0,
                       phantom.b_values.data(),
                       reinterpret_cast<const float(*)[3]>(vectors.data()));
}
