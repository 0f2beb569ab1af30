// Profile sampling, range selection and glyph building.
#include "analyzer/voxel/diffusion_profile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

bool inside_volume(const float p[3], const int32_t dims[3]) {
  for (int a = 0; a < 3; ++a) {
    if (!(p[a] >= 0.0f) || p[a] > float(dims[a] - 1)) return false;
  }
  return true;
}

// Appends while below the limit; false (after the message) once it is reached.
struct PointSink {
  std::vector<float>* points;
  const int32_t* dims;
  int32_t limit;
  int32_t added = 0;
  bool full = false;
  bool add(float x, float y, float z) {
    const float p[3] = {x, y, z};
    if (!inside_volume(p, dims)) return true;
    if (added >= limit) {
      if (!full) std::fprintf(stderr, "Over seed number limit (%d).\n", limit);
      full = true;
      return false;
    }
    points->insert(points->end(), p, p + 3);
    ++added;
    return true;
  }
};

// The steps i in [from, to] whose position o + i s can lie on the volume's axis [0, dim - 1],
// widened by one step for rounding (the sink tests each position exactly). Keeps the loops
// proportional to the volume however large the region is.
bool clip_steps(double o, double s, int64_t dim, int64_t* from, int64_t* to) {
  const double first = std::ceil((0.0 - o) / s) - 1.0;
  const double last = std::floor((double(dim - 1) - o) / s) + 1.0;
  if (first > double(*to) || last < double(*from)) return false;
  if (first > double(*from)) *from = int64_t(first);
  if (last < double(*to)) *to = int64_t(last);
  return *from <= *to;
}

float clamp01(float v) { return (v >= 0.0f) ? std::min(v, 1.0f) : 0.0f; }

// Eigenvalue ratios l2/l1 and l3/l1 clamped to 0..1; 0 for a non-positive l1.
void eigen_ratios(const ZTR_DTI_TENSOR& t, float* l1, float* r2, float* r3) {
  *l1 = ZTRdti_GetLambda1(&t);
  if (!(*l1 > 0.0f)) {
    *l1 = 0.0f;
    *r2 = *r3 = 0.0f;
    return;
  }
  *r2 = clamp01(ZTRdti_GetLambda2(&t) / *l1);
  *r3 = clamp01(ZTRdti_GetLambda3(&t) / *l1);
}

}  // namespace

float profile_spacing(int32_t density, int32_t volume_x) {
  const float d = float(volume_x) / 256.0f;
  switch (density) {
    case ZTR_PROFILE_DENSITY_HIGH: return 2.0f * d;
    case ZTR_PROFILE_DENSITY_SPARSE: return 4.0f * d;
    case ZTR_PROFILE_DENSITY_ON_VOXEL: return 1.0f;
    default: return 3.0f * d;
  }
}

float profile_symbol_scale(int32_t density, float spacing) {
  const float base = density == ZTR_PROFILE_DENSITY_ON_VOXEL ? 12.0f : 12.0f * spacing;
  return 30.0f * base;
}

int32_t sample_profile_points(const PROFILE_REGION& region, float spacing, const int32_t dims[3],
                              std::vector<float>* points, int32_t limit) {
  if (!(spacing > 0.0f) || !std::isfinite(spacing) || limit < 1) return 0;
  PointSink sink{points, dims, limit};
  const float s = spacing;
  switch (region.selector) {
    case ZTR_REGION_BOX_VOI: {
      // [origin, origin + size): a position at origin + size belongs to the next box.
      int64_t from[3], to[3];
      for (int a = 0; a < 3; ++a) {
        const double steps = std::ceil(double(region.box.size[a]) / s);
        if (!(steps > 0.0) || !std::isfinite(region.box.origin[a])) return 0;
        from[a] = 0;
        to[a] = int64_t(std::min(steps, 1.0e15)) - 1;
        if (!clip_steps(region.box.origin[a], s, dims[a], &from[a], &to[a])) return 0;
      }
      for (int64_t k = from[2]; k <= to[2]; ++k) {
        for (int64_t j = from[1]; j <= to[1]; ++j) {
          for (int64_t i = from[0]; i <= to[0]; ++i) {
            if (float(i) * s >= region.box.size[0] || float(j) * s >= region.box.size[1] ||
                float(k) * s >= region.box.size[2]) {
              continue;
            }
            if (!sink.add(region.box.origin[0] + float(i) * s, region.box.origin[1] + float(j) * s,
                          region.box.origin[2] + float(k) * s)) {
              return sink.added;
            }
          }
        }
      }
      return sink.added;
    }
    case ZTR_REGION_SPHERE: {
      const float r = region.sphere_radius;
      if (!(r >= 0.0f) || !std::isfinite(r)) return 0;
      const int64_t n = int64_t(std::min(double(r / s), 1.0e15)) + 5;
      const float* c = region.sphere_centre;
      int64_t from[3], to[3];
      for (int a = 0; a < 3; ++a) {
        from[a] = -n;
        to[a] = n;
        if (!std::isfinite(c[a]) || !clip_steps(c[a], s, dims[a], &from[a], &to[a])) return 0;
      }
      for (int64_t k = from[2]; k <= to[2]; ++k) {
        for (int64_t j = from[1]; j <= to[1]; ++j) {
          for (int64_t i = from[0]; i <= to[0]; ++i) {
            const float d[3] = {float(i) * s, float(j) * s, float(k) * s};
            if (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] > r * r) continue;
            if (!sink.add(c[0] + d[0], c[1] + d[1], c[2] + d[2])) return sink.added;
          }
        }
      }
      return sink.added;
    }
    case ZTR_REGION_LISTED:
      for (const VOXEL_GROUP_BOX* g : region.voxel_groups) {
        if (!g || g->inside.size() != size_t(int64_t(g->size[0]) * g->size[1] * g->size[2])) {
          continue;
        }
        const float o[3] = {float(g->origin[0]), float(g->origin[1]), float(g->origin[2])};
        int64_t n[3];
        for (int a = 0; a < 3; ++a) n[a] = int64_t(std::floor((g->size[a] + 2.0 * s) / s)) + 1;
        for (int64_t k = 0; k < n[2]; ++k) {
          for (int64_t j = 0; j < n[1]; ++j) {
            for (int64_t i = 0; i < n[0]; ++i) {
              const float p[3] = {o[0] - s + float(i) * s, o[1] - s + float(j) * s,
                                  o[2] - s + float(k) * s};
              int32_t v[3];
              bool in = true;
              for (int a = 0; a < 3 && in; ++a) {
                const float rounded = std::trunc(p[a] + 0.5f);
                v[a] = int32_t(rounded) - g->origin[a];
                in = rounded >= float(g->origin[a]) && v[a] < g->size[a];
              }
              if (!in || !g->at(v[0], v[1], v[2])) continue;
              if (!sink.add(p[0], p[1], p[2])) return sink.added;
            }
          }
        }
      }
      return sink.added;
    default:
      return 0;
  }
}

std::string profile_summary_text(int32_t drawn, int32_t points, double mean_fa, double mean_adc) {
  // No points means nothing was displayed, not a division by zero.
  const int percent = points > 0 ? int(double(drawn) / double(points) * 100.0) : 0;
  char text[256];
  std::snprintf(text, sizeof text,
                "Symbols: %d/%d (%d%% displayed)\n    mean FA: %3.4f\n    mean ADC(x1k): %4.4f",
                drawn, points, percent, mean_fa, mean_adc * 1000.0);
  return text;
}

int32_t draw_profile_symbols(const DiffusionTensorImageData* data,
                             const DIFFUSION_PROFILE_SETTING& setting,
                             const std::vector<float>& points, const ProfileSymbolCallback& draw,
                             std::string* summary) {
  if (!data || data->mpg_ready != 1 || !tensor_data_is_fittable(data)) {
    std::fprintf(stderr, "DTI data NOT ready\n");
    return -1;
  }
  TensorPtr tensor(ZTRdti_NewTensor(data->dti_channels, data->b0_channels));
  if (!tensor) {
    std::fprintf(stderr, "insufficient memory\n");
    return -1;
  }
  if (!draw) {
    std::fprintf(stderr, "Func ptr for graphics NULL\n");
    return -1;
  }
  const bool on_voxel = setting.density == ZTR_PROFILE_DENSITY_ON_VOXEL;
  const int32_t count = int32_t(points.size() / 3);
  int32_t drawn = 0;
  double fa_sum = 0.0, adc_sum = 0.0;
  ZTR_DTI_TENSOR* t = tensor.get();
  for (int32_t n = 0; n < count; ++n) {
    const float* p = &points[size_t(n) * 3];
    const int fitted =
        on_voxel ? ZTRdti_ComputeTensorAtVoxel(data, t, int(std::trunc(p[0])), int(std::trunc(p[1])),
                                               int(std::trunc(p[2])))
                 : ZTRdti_ComputeTensorAtPosition(data, t, p[0], p[1], p[2]);
    if (fitted != 1 || !ZTRdti_IsFiniteTensor(t)) continue;
    const float fa = ZTRdti_GetFA(t), adc = ZTRdti_GetADC(t), so = ZTRdti_GetSo(t);
    if (!std::isfinite(fa)) continue;
    if (setting.fa_on && (fa < setting.fa_low || fa > setting.fa_high)) continue;
    if (setting.adc_on && (adc < setting.adc_low || adc > setting.adc_high)) continue;
    if (setting.so_on && (so < setting.so_low || so > setting.so_high)) continue;
    draw(p, *t);
    ++drawn;
    fa_sum += fa;
    adc_sum += adc;
  }
  if (summary) {
    *summary = profile_summary_text(drawn, count, drawn ? fa_sum / drawn : 0.0,
                                    drawn ? adc_sum / drawn : 0.0);
  }
  return drawn;
}

int make_profile_symbol(const DiffusionTensorImageData* data,
                        const DIFFUSION_PROFILE_SETTING& setting, float symbol_scale,
                        const float point[3], const ZTR_DTI_TENSOR& tensor,
                        ZTR_OBJECT_GROUP* group) {
  if (!group) return -1;
  const float S = symbol_scale;
  const float q = setting.emphasis ? 3.0f : 1.0f;
  const ZTR_OBJECT_POINT centre = {point[0] + 0.5f, point[1] + 0.5f, point[2] + 0.5f};
  float l1 = 0.0f, r2 = 0.0f, r3 = 0.0f;
  eigen_ratios(tensor, &l1, &r2, &r3);
  const bool directional = setting.colouring == ZTR_PROFILE_COLOURING_DIRECTION;
  const ZTR_OBJECT_COLOR anisotropy_colour = {1.0f, r2, r3, 1.0f};
  if (setting.primitive == ZTR_PROFILE_PRIMITIVE_ELLIPSOID) {
    float e[3][3];
    ZTRdti_GetE1(&tensor, e[0]);
    ZTRdti_GetE2(&tensor, e[1]);
    ZTRdti_GetE3(&tensor, e[2]);
    const ZTR_OBJECT_POINT axes[3] = {{e[0][0], e[0][1], e[0][2]},
                                      {e[1][0], e[1][1], e[1][2]},
                                      {e[2][0], e[2][1], e[2][2]}};
    const float radii[3] = {l1 * S, std::pow(r2, q) * l1 * S, std::pow(r3, q) * l1 * S};
    ZTR_ELLIPSOID_OBJECT* ellipsoid = ZTR_NewEllipsoidObject(centre, axes, radii);
    if (!ellipsoid) return -1;
    const ZTR_OBJECT_COLOR colour =
        directional ? ZTR_OBJECT_COLOR{std::fabs(e[0][0]), std::fabs(e[0][1]), std::fabs(e[0][2]), 1.0f}
                    : anisotropy_colour;
    return ZTR_AppendObject(group, ellipsoid, &colour, 1);
  }
  const int32_t b0 = data->b0_channels;
  const int32_t dwi = data->dti_channels - b0;
  if (dwi < 1) return -1;
  std::vector<float> adc(size_t(dwi), 0.0f);
  float largest = 0.0f;
  for (int32_t k = 0; k < dwi; ++k) {
    const float a = ZTRdti_GetChannelADCAtPosition(data, point[0], point[1], point[2], b0 + k);
    adc[size_t(k)] = std::isfinite(a) ? a : 0.0f;
    largest = std::max(largest, adc[size_t(k)]);
  }
  ZTR_OBJECT_GROUP* star = ZTR_NewObjectGroup(2 * dwi);
  if (!star) return -1;
  const float width = S / 20000.0f;
  for (int32_t k = 0; k < dwi; ++k) {
    const float* v = data->mpg_vector[b0 + k];
    const double norm = std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]);
    float g[3] = {0.0f, 0.0f, 0.0f};
    if (norm > 0.0) {
      for (int a = 0; a < 3; ++a) g[a] = float(v[a] / norm);
    }
    const float ratio = largest > 0.0f ? clamp01(adc[size_t(k)] / largest) : 0.0f;
    const float length = std::pow(ratio, q) * largest * S;
    const ZTR_OBJECT_COLOR colour =
        directional ? ZTR_OBJECT_COLOR{std::fabs(g[0]), std::fabs(g[1]), std::fabs(g[2]), 1.0f}
                    : anisotropy_colour;
    for (const float sign : {1.0f, -1.0f}) {
      const ZTR_OBJECT_POINT end = {centre.x + sign * length * g[0], centre.y + sign * length * g[1],
                                    centre.z + sign * length * g[2]};
      ZTR_SEGMENT_OBJECT* segment = ZTR_NewSegmentObject(centre, end, width);
      if (!segment || ZTR_AppendObject(star, segment, &colour, 1) != 0) {
        ZTR_DeleteObjectGroup(star);
        return -1;
      }
    }
  }
  float e2[3];
  ZTRdti_GetE2(&tensor, e2);
  const ZTR_OBJECT_COLOR colour =
      directional ? ZTR_OBJECT_COLOR{std::fabs(e2[0]), std::fabs(e2[1]), std::fabs(e2[2]), 1.0f}
                  : anisotropy_colour;
  return ZTR_AppendObject(group, star, &colour, 1);
}
