// Region statistics, voxel group distance and the ADC dump.
#include "analyzer/voxel/voxel_statistics.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "analyzer/dti/tensor.h"

const char* const kStatisticsParameterNames[ZTR_STATISTICS_PARAMETERS] = {
    "So", "FA", "ADC", "L1", "L2", "L3", "Dxx", "Dyy", "Dzz", "Dxy", "Dyz", "Dzx"};

namespace {

bool is_byte_mask(const RawVolumeData* mask) {
  return mask && mask->header && mask->header->channels >= 1 && mask->types[0] == ZTR_TYPE_UINT8;
}

bool same_grid(const RawVolumeData* a, const RawVolumeData* b) {
  return a->header->x == b->header->x && a->header->y == b->header->y &&
         a->header->z == b->header->z;
}

// Running minimum, maximum, mean and sum of squared deviations (Welford).
struct Accumulator {
  double min = 0.0, max = 0.0, mean = 0.0, m2 = 0.0;
  void add(double v, int64_t n_after) {
    if (n_after == 1) {
      min = max = v;
    } else {
      min = std::min(min, v);
      max = std::max(max, v);
    }
    const double delta = v - mean;
    mean += delta / double(n_after);
    m2 += delta * (v - mean);
  }
};

}  // namespace

VOXEL_GROUP_BOX voxel_group_from_mask(const RawVolumeData* mask) {
  VOXEL_GROUP_BOX group;
  if (!mask || !mask->header || mask->header->channels < 1) return group;
  const VolumeHeader& h = *mask->header;
  const int64_t count = int64_t(h.x) * h.y * h.z;
  int32_t lo[3] = {h.x, h.y, h.z}, hi[3] = {-1, -1, -1};
  auto set = [&](int64_t i) {
    const float v = ZTR_GetVoxelValueAsFloat(mask->data[0], mask->types[0], count, i);
    return v != 0.0f && !std::isnan(v);
  };
  for (int32_t z = 0; z < h.z; ++z) {
    for (int32_t y = 0; y < h.y; ++y) {
      for (int32_t x = 0; x < h.x; ++x) {
        if (!set(x + int64_t(h.x) * (y + int64_t(h.y) * z))) continue;
        const int32_t p[3] = {x, y, z};
        for (int a = 0; a < 3; ++a) {
          lo[a] = std::min(lo[a], p[a]);
          hi[a] = std::max(hi[a], p[a]);
        }
      }
    }
  }
  if (hi[0] < 0) return group;
  for (int a = 0; a < 3; ++a) {
    group.origin[a] = lo[a];
    group.size[a] = hi[a] - lo[a] + 1;
  }
  group.inside.assign(size_t(int64_t(group.size[0]) * group.size[1] * group.size[2]), 0);
  for (int32_t z = 0; z < group.size[2]; ++z) {
    for (int32_t y = 0; y < group.size[1]; ++y) {
      for (int32_t x = 0; x < group.size[0]; ++x) {
        const int64_t i =
            (lo[0] + x) + int64_t(h.x) * ((lo[1] + y) + int64_t(h.y) * (lo[2] + z));
        group.inside[size_t(x + int64_t(group.size[0]) * (y + int64_t(group.size[1]) * z))] =
            set(i) ? 1 : 0;
      }
    }
  }
  return group;
}

int build_statistics_mask(const STATISTICS_REGION& region, RawVolumeData* mask) {
  if (!is_byte_mask(mask)) {
    std::fprintf(stderr, "Volume not ready\n");
    return -1;
  }
  const VolumeHeader& h = *mask->header;
  const int32_t dims[3] = {h.x, h.y, h.z};
  uint8_t* m = ZTR_ChannelData<uint8_t>(mask, 0);
  const int64_t count = int64_t(h.x) * h.y * h.z;
  std::memset(m, 0, size_t(count));
  auto index = [&](int64_t x, int64_t y, int64_t z) { return x + h.x * (y + h.y * z); };
  switch (region.selector) {
    case ZTR_REGION_BOX_VOI: {
      int64_t lo[3], hi[3];
      for (int a = 0; a < 3; ++a) {
        lo[a] = std::max<int64_t>(0, region.box.origin[a]);
        hi[a] = std::min<int64_t>(dims[a], int64_t(region.box.origin[a]) + region.box.size[a]);
      }
      for (int64_t z = lo[2]; z < hi[2]; ++z) {
        for (int64_t y = lo[1]; y < hi[1]; ++y) {
          for (int64_t x = lo[0]; x < hi[0]; ++x) m[index(x, y, z)] = 1;
        }
      }
      return 0;
    }
    case ZTR_REGION_SPHERE:
    case ZTR_REGION_FREEHAND:
    case ZTR_REGION_FREEHAND_ON_MAP:
    case ZTR_REGION_LISTED:
      break;
    default:
      return 0;
  }
  for (const RawVolumeData* painted : region.painted) {
    if (!painted || !painted->header || painted->header->channels < 1) continue;
    const VolumeHeader& p = *painted->header;
    const int64_t pcount = int64_t(p.x) * p.y * p.z;
    for (int64_t z = 0; z < std::min(p.z, h.z); ++z) {
      for (int64_t y = 0; y < std::min(p.y, h.y); ++y) {
        for (int64_t x = 0; x < std::min(p.x, h.x); ++x) {
          const float v = ZTR_GetVoxelValueAsFloat(painted->data[0], painted->types[0], pcount,
                                                   x + p.x * (y + p.y * z));
          if (v != 0.0f && !std::isnan(v)) m[index(x, y, z)] = 1;
        }
      }
    }
  }
  if (region.selector != ZTR_REGION_LISTED) return 0;
  for (const VOXEL_GROUP_BOX* group : region.voxel_groups) {
    if (!group || group->inside.size() !=
                      size_t(int64_t(group->size[0]) * group->size[1] * group->size[2])) {
      continue;
    }
    for (int32_t z = 0; z < group->size[2]; ++z) {
      for (int32_t y = 0; y < group->size[1]; ++y) {
        for (int32_t x = 0; x < group->size[0]; ++x) {
          const int64_t vx = int64_t(group->origin[0]) + x, vy = int64_t(group->origin[1]) + y,
                        vz = int64_t(group->origin[2]) + z;
          if (vx < 0 || vy < 0 || vz < 0 || vx >= h.x || vy >= h.y || vz >= h.z) continue;
          if (group->at(x, y, z)) m[index(vx, vy, vz)] = 1;
        }
      }
    }
  }
  return 0;
}

int compute_region_statistics(const DiffusionTensorImageData* data, const RawVolumeData* mask,
                              ROI_DTI_STATISTICS* result) {
  if (!data || data->mpg_ready != 1 || !tensor_data_is_fittable(data)) {
    std::fprintf(stderr, "DTI data NOT ready\n");
    return -1;
  }
  if (!is_byte_mask(mask) || !same_grid(mask, data->volume)) {
    std::fprintf(stderr, "Volume not ready\n");
    return -1;
  }
  TensorPtr tensor(ZTRdti_NewTensor(data->dti_channels, data->b0_channels));
  if (!tensor) {
    std::fprintf(stderr, "insufficient memory\n");
    return -1;
  }
  const VolumeHeader& h = *mask->header;
  const uint8_t* m = ZTR_ChannelData<uint8_t>(mask, 0);
  Accumulator acc[ZTR_STATISTICS_PARAMETERS];
  int64_t voxels = 0, valid = 0;
  for (int32_t z = 0; z < h.z; ++z) {
    for (int32_t y = 0; y < h.y; ++y) {
      for (int32_t x = 0; x < h.x; ++x) {
        if (m[x + int64_t(h.x) * (y + int64_t(h.y) * z)] != 1) continue;
        ++voxels;
        ZTR_DTI_TENSOR* t = tensor.get();
        if (ZTRdti_ComputeTensorAtVoxel(data, t, x, y, z) != 1 || !ZTRdti_IsValidTensor(t)) {
          continue;
        }
        const double values[ZTR_STATISTICS_PARAMETERS] = {
            ZTRdti_GetSo(t),      ZTRdti_GetFA(t),      ZTRdti_GetADC(t),
            ZTRdti_GetLambda1(t), ZTRdti_GetLambda2(t), ZTRdti_GetLambda3(t),
            t->elements[0],       t->elements[1],       t->elements[2],
            t->elements[3],       t->elements[4],       t->elements[5]};
        ++valid;
        for (int p = 0; p < ZTR_STATISTICS_PARAMETERS; ++p) acc[p].add(values[p], valid);
      }
    }
    std::fprintf(stderr, "\rComputation %d%% completed ...", int(double(z) / h.z * 100.0));
  }
  std::fprintf(stderr, "\rDone.                             \n");
  ROI_DTI_STATISTICS out;
  out.voxels = int32_t(std::min<int64_t>(voxels, INT32_MAX));
  out.valid_voxels = int32_t(std::min<int64_t>(valid, INT32_MAX));
  if (valid > 0) {
    for (int p = 0; p < ZTR_STATISTICS_PARAMETERS; ++p) {
      out.parameters[p] = {acc[p].min, acc[p].max, acc[p].mean,
                           std::sqrt(std::max(0.0, acc[p].m2 / double(valid)))};
    }
  }
  *result = out;
  return 0;
}

std::string statistics_summary_text(const ROI_DTI_STATISTICS& s, double distance_mm,
                                    const char* rtnn_text) {
  std::string text;
  char line[256];
  std::snprintf(line, sizeof line, "Valid Voxels: %d / voxels: %d\n", s.valid_voxels, s.voxels);
  text += line;
  if (s.valid_voxels > 0) {
    text += "Statistics: min. - max. (mean/stdev.)\n";
    text += "Standard DTI parameters:\n";
    const ZTR_PARAMETER_STATISTICS* p = s.parameters;
    std::snprintf(line, sizeof line, "  So: %3.1f - %3.1f (%3.1f/%3.1f)\n", p[0].min, p[0].max,
                  p[0].mean, p[0].std);
    text += line;
    std::snprintf(line, sizeof line, "  FA:  %3.2f - %3.2f (%3.2f/%3.2f)\n", p[1].min, p[1].max,
                  p[1].mean, p[1].std);
    text += line;
    const char* formats[4] = {"  ADC(x1k): %3.2f - %3.2f (%3.2f/%3.2f)\n",
                              "  L1(x1k):    %3.2f - %3.2f (%3.2f/%3.2f)\n",
                              "  L2(x1k):    %3.2f - %3.2f (%3.2f/%3.2f)\n",
                              "  L3(x1k):    %3.2f - %3.2f (%3.2f/%3.2f)\n"};
    for (int k = 0; k < 4; ++k) {
      const ZTR_PARAMETER_STATISTICS& q = p[2 + k];
      std::snprintf(line, sizeof line, formats[k], q.min * 1000.0, q.max * 1000.0,
                    q.mean * 1000.0, q.std * 1000.0);
      text += line;
    }
  } else {
    text += "No valid voxels.\n";
  }
  if (distance_mm >= 0.0) text += voxelgroup_distance_text(distance_mm);
  if (rtnn_text) {
    text += "Extra parameters by RTNN:\n";
    text += rtnn_text;
  } else {
    text += "\n(Extra parameters by RTNN is unavailable)\n";
  }
  return text;
}

namespace {

std::vector<std::array<int32_t, 3>> surface_voxels(const VOXEL_GROUP_BOX& g) {
  std::vector<std::array<int32_t, 3>> surface;
  if (g.inside.size() != size_t(int64_t(g.size[0]) * g.size[1] * g.size[2])) return surface;
  auto set = [&](int32_t x, int32_t y, int32_t z) {
    return x >= 0 && y >= 0 && z >= 0 && x < g.size[0] && y < g.size[1] && z < g.size[2] &&
           g.at(x, y, z);
  };
  for (int32_t z = 0; z < g.size[2]; ++z) {
    for (int32_t y = 0; y < g.size[1]; ++y) {
      for (int32_t x = 0; x < g.size[0]; ++x) {
        if (!g.at(x, y, z)) continue;
        if (set(x + 1, y, z) && set(x, y + 1, z) && set(x, y, z + 1) && set(x - 1, y, z) &&
            set(x, y - 1, z) && set(x, y, z - 1)) {
          continue;
        }
        surface.push_back({g.origin[0] + x, g.origin[1] + y, g.origin[2] + z});
      }
    }
  }
  return surface;
}

}  // namespace

double voxelgroup_distance(const VOXEL_GROUP_BOX& a, const VOXEL_GROUP_BOX& b,
                           const float voxel_size[3]) {
  const auto sa = surface_voxels(a);
  const auto sb = surface_voxels(b);
  if (sa.empty() || sb.empty()) return -1.0;
  // Starting from infinity: a start at either box's extent would cap the answer for groups
  // farther apart than that.
  double best = std::numeric_limits<double>::infinity();
  const double w[3] = {voxel_size[0], voxel_size[1], voxel_size[2]};
  using Point = std::array<double, 3>;
  auto to_mm = [&](const std::array<int32_t, 3>& v) {
    return Point{v[0] * w[0], v[1] * w[1], v[2] * w[2]};
  };
  std::vector<Point> targets;
  targets.reserve(sb.size());
  for (const auto& q : sb) targets.push_back(to_mm(q));
  // Sorted along x, the scan from each point stops once the x gap alone exceeds the best.
  std::sort(targets.begin(), targets.end());
  for (const auto& v : sa) {
    const Point p = to_mm(v);
    const auto start = std::lower_bound(targets.begin(), targets.end(), p);
    auto consider = [&](const Point& q) {
      const double dx = p[0] - q[0];
      if (dx * dx >= best) return false;
      const double dy = p[1] - q[1], dz = p[2] - q[2];
      best = std::min(best, dx * dx + dy * dy + dz * dz);
      return true;
    };
    for (auto it = start; it != targets.end() && consider(*it); ++it) {
    }
    for (auto it = start; it != targets.begin() && consider(*(it - 1)); --it) {
    }
    if (best == 0.0) break;
  }
  return std::sqrt(best);
}

std::string voxelgroup_distance_text(double distance_mm) {
  char line[128];
  std::snprintf(line, sizeof line, "\nDistance between 2 voxelgroups: %4.3f(mm)\n", distance_mm);
  return line;
}

int dump_adc_profile(const DiffusionTensorImageData* data, const RawVolumeData* mask,
                     const std::string& path) {
  if (!data || data->mpg_ready != 1 || !tensor_data_is_fittable(data)) {
    std::fprintf(stderr, "DTI data NOT ready\n");
    return -1;
  }
  if (!is_byte_mask(mask) || !same_grid(mask, data->volume)) {
    std::fprintf(stderr, "Volume not ready\n");
    return -1;
  }
  std::fprintf(stderr, ">> DTI/HARDI dump\n");
  std::fprintf(stderr, "So channels: %d\n", data->b0_channels);
  std::fprintf(stderr, "DTI channels: %d\n", data->dti_channels);
  const std::string temporary = path + ".part";
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  if (!file) {
    std::fprintf(stderr, "Err: cannot open %s for the ADC dump: %s\n", temporary.c_str(),
                 std::strerror(errno));
    return -1;
  }
  const VolumeHeader& h = *mask->header;
  const uint8_t* m = ZTR_ChannelData<uint8_t>(mask, 0);
  const int64_t count = int64_t(h.x) * h.y * h.z;
  int64_t masked = 0;
  for (int64_t i = 0; i < count; ++i) masked += m[i] == 1;
  const int32_t b0 = data->b0_channels;
  const int32_t dwi = data->dti_channels - b0;
  std::fprintf(file, "%d\n%d\n", int32_t(masked), dwi);
  for (int32_t c = b0; c < data->dti_channels; ++c) {
    std::fprintf(file, "%f\t%f\t%f\n", data->mpg_vector[c][0], data->mpg_vector[c][1],
                 data->mpg_vector[c][2]);
  }
  const RawVolumeData* v = data->volume;
  int64_t undefined = 0;
  for (int32_t z = 0; z < h.z; ++z) {
    for (int32_t y = 0; y < h.y; ++y) {
      for (int32_t x = 0; x < h.x; ++x) {
        const int64_t i = x + int64_t(h.x) * (y + int64_t(h.y) * z);
        if (m[i] != 1) continue;
        float s0 = 0.0f;
        for (int32_t c = 0; c < b0; ++c) s0 += ZTR_ChannelData<int16_t>(v, c)[i];
        s0 /= float(b0);
        bool voxel_undefined = false;
        for (int32_t c = b0; c < data->dti_channels; ++c) {
          const int16_t s = ZTR_ChannelData<int16_t>(v, c)[i];
          float adc = 0.0f;
          if (s > 0 && s0 > 0.0f && data->b_value[c] > 0.0f) {
            adc = ZTRdti_GetChannelADCAtVoxel(data, x, y, z, c) * 1000.0f;
          } else {
            voxel_undefined = true;
          }
          std::fprintf(file, "%f\n", adc);
        }
        undefined += voxel_undefined;
      }
    }
  }
  const bool write_failed = std::ferror(file) != 0;
  const bool close_failed = std::fclose(file) != 0;
  if (write_failed || close_failed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "Err: cannot write the ADC dump %s\n", path.c_str());
    std::remove(temporary.c_str());
    return -1;
  }
  if (undefined > 0) {
    std::fprintf(stderr,
                 "Warning: %lld masked voxels have non-positive signals; their undefined ADC "
                 "values are written as 0\n",
                 static_cast<long long>(undefined));
  }
  return 0;
}
