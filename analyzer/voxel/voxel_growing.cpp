// Region growing, selection and morphology of the voxelgroup working mask.
#include "analyzer/voxel/voxel_growing.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "analyzer/dti/tensor.h"
#include "analyzer/voxel/voxel_kernel.h"

namespace {

constexpr int32_t kVoxelgroupKind = 2;

struct Grid {
  int32_t x, y, z;
  int64_t count() const { return int64_t(x) * y * z; }
};

Grid grid_of(const RawVolumeData* volume) {
  const VolumeHeader& h = *volume->header;
  return {h.x, h.y, h.z};
}

bool usable_mask(const RawVolumeData* mask) {
  return mask && mask->header && mask->header->channels >= 1 && mask->types[0] == ZTR_TYPE_UINT8;
}

// Working mask and data checked together; prints why a grow cannot start.
bool check_mask(const DiffusionTensorImageData* data, const VOXEL_GROWING_SETTING* setting) {
  if (!data || !data->volume || !setting || !is_working_mask_for(setting->mask, data->volume)) {
    std::fprintf(stderr, "Err: no working mask on the volume's grid\n");
    return false;
  }
  return true;
}

bool check_tensor_data(const DiffusionTensorImageData* data) {
  if (data->mpg_ready != 1 || !tensor_data_is_fittable(data)) {
    std::fprintf(stderr, "DTI data NOT ready\n");
    return false;
  }
  return true;
}

// The signal channel as signed 16-bit values, or nullptr after a message: any other type
// would be misread, and an 8-bit block is half the size the reads assume.
const int16_t* signal_channel(const RawVolumeData* volume, int32_t channel) {
  if (channel < 0 || channel >= volume->header->channels) {
    std::fprintf(stderr, "Err: no signal channel %d\n", channel);
    return nullptr;
  }
  if (volume->types[channel] != ZTR_TYPE_INT16) {
    std::fprintf(stderr, "Err: signal channel %d is not signed 16-bit\n", channel);
    return nullptr;
  }
  return ZTR_ChannelData<int16_t>(volume, channel);
}

// A range entry as a signed 16-bit bound, saturated instead of wrapped.
int32_t saturate_to_int16(float value) {
  if (value <= -32768.0f) return -32768;
  if (value >= 32767.0f) return 32767;
  return static_cast<int32_t>(value);  // truncation toward zero
}

bool signal_range(const VOXEL_GROWING_SETTING* setting, int32_t* lo, int32_t* hi) {
  if (std::isnan(setting->min_signal) || std::isnan(setting->max_signal)) {
    std::fprintf(stderr, "Err: signal range is not a number\n");
    return false;
  }
  *lo = saturate_to_int16(setting->min_signal);
  *hi = saturate_to_int16(setting->max_signal);
  std::fprintf(stderr, "Range: %d - %d\n", *lo, *hi);
  return true;
}

// Layer labels: 0 outside, 1 seed, L + 1 reached in layer L, -1 set but not a seed. They
// are 32-bit so that any max step keeps its layers apart.
std::vector<int32_t> labels_from_mask(const RawVolumeData* mask) {
  const uint8_t* m = ZTR_ChannelData<uint8_t>(mask, 0);
  const int64_t n = grid_of(mask).count();
  std::vector<int32_t> labels(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) labels[size_t(i)] = m[i] == 1 ? 1 : (m[i] ? -1 : 0);
  return labels;
}

void binarise_into(const std::vector<int32_t>& labels, RawVolumeData* mask) {
  uint8_t* m = ZTR_ChannelData<uint8_t>(mask, 0);
  for (size_t i = 0; i < labels.size(); ++i) m[i] = labels[i] != 0 ? 1 : 0;
}

// Grows layer after layer from the label-1 voxels through the six face neighbours (+x, +y,
// +z, -x, -y, -z), never into the volume's outermost layer. accept(neighbour, parent) says
// whether a free eligible neighbour joins. Parents are visited in increasing index order,
// which is the z, y, x scan order of a whole-volume pass, so the result is the same.
template <class Accept>
void grow_layers(const Grid& g, std::vector<int32_t>* labels, int32_t max_step, Accept accept) {
  std::vector<int64_t> front;
  for (size_t i = 0; i < labels->size(); ++i) {
    if ((*labels)[i] == 1) front.push_back(int64_t(i));
  }
  const int64_t sx = 1, sy = g.x, sz = int64_t(g.x) * g.y;
  const int64_t steps[6] = {sx, sy, sz, -sx, -sy, -sz};
  std::vector<int64_t> next;
  for (int64_t layer = 1; layer <= max_step && layer < INT32_MAX; ++layer) {
    next.clear();
    for (const int64_t p : front) {
      const int32_t px = int32_t(p % g.x), py = int32_t((p / g.x) % g.y), pz = int32_t(p / sz);
      const int32_t coords[6][3] = {{px + 1, py, pz}, {px, py + 1, pz}, {px, py, pz + 1},
                                    {px - 1, py, pz}, {px, py - 1, pz}, {px, py, pz - 1}};
      for (int k = 0; k < 6; ++k) {
        const int32_t* c = coords[k];
        if (c[0] < 1 || c[0] > g.x - 2 || c[1] < 1 || c[1] > g.y - 2 || c[2] < 1 || c[2] > g.z - 2) {
          continue;
        }
        const int64_t n = p + steps[k];
        if ((*labels)[size_t(n)] != 0 || !accept(n, p)) continue;
        (*labels)[size_t(n)] = int32_t(layer + 1);
        next.push_back(n);
      }
    }
    if (next.empty()) {
      std::fprintf(stderr, "Growing stopped %d/%d\n", int32_t(layer), max_step);
      return;
    }
    std::sort(next.begin(), next.end());
    front.swap(next);
  }
}

// Folds a unit vector into a running axis: whichever of sum and difference is longer, the
// difference on a tie, so that antiparallel eigenvectors reinforce instead of cancelling.
struct AxisSum {
  float v[3] = {0.0f, 0.0f, 0.0f};
  int contributions = 0;
  void add(const float e[3]) {
    if (contributions++ == 0) {
      std::memcpy(v, e, sizeof v);
      return;
    }
    const float a[3] = {v[0] + e[0], v[1] + e[1], v[2] + e[2]};
    const float b[3] = {v[0] - e[0], v[1] - e[1], v[2] - e[2]};
    const float la = a[0] * a[0] + a[1] * a[1] + a[2] * a[2];
    const float lb = b[0] * b[0] + b[1] * b[1] + b[2] * b[2];
    std::memcpy(v, la > lb ? a : b, sizeof v);
  }
  // Normalised; false (and zero) when nothing or nothing usable was added.
  bool unit(float out[3]) const {
    const double len = std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]);
    if (contributions == 0 || !(len > 0.0) || !std::isfinite(len)) {
      out[0] = out[1] = out[2] = 0.0f;
      return false;
    }
    for (int i = 0; i < 3; ++i) out[i] = float(v[i] / len);
    return true;
  }
};

// One voxel's FA and e1; false when the fit fails or gives anything that is not a number,
// which then fails every FA test.
struct VoxelFitter {
  const DiffusionTensorImageData* data;
  ZTR_DTI_TENSOR* tensor;
  Grid g;
  bool fit(int64_t index, float* fa, float e1[3]) const {
    const int32_t x = int32_t(index % g.x), y = int32_t((index / g.x) % g.y),
                  z = int32_t(index / (int64_t(g.x) * g.y));
    if (ZTRdti_ComputeTensorAtVoxel(data, tensor, x, y, z) != 1) return false;
    if (!ZTRdti_IsFiniteTensor(tensor)) return false;
    *fa = ZTRdti_GetFA(tensor);
    ZTRdti_GetE1(tensor, e1);
    return std::isfinite(*fa);
  }
};

float dot3(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

float angle_cosine(float degrees) { return std::cos(degrees / 180.0f * 3.141592f); }

// The seed pass shared by both tensor modes: removes seeds that fail min FA and folds the
// e1 of every seed with FA > 0 into `axis`. Returns the number of seed voxels visited.
int32_t filter_tensor_seeds(const VoxelFitter& fitter, float min_fa, std::vector<int32_t>* labels,
                            AxisSum* axis) {
  int32_t seeds = 0;
  for (size_t i = 0; i < labels->size(); ++i) {
    if ((*labels)[i] != 1) continue;
    ++seeds;
    float fa = 0.0f, e1[3];
    if (!fitter.fit(int64_t(i), &fa, e1) || fa < min_fa) {
      (*labels)[i] = 0;
      continue;
    }
    if (fa > 0.0f) axis->add(e1);
  }
  return seeds;
}

}  // namespace

bool is_working_mask_for(const RawVolumeData* mask, const RawVolumeData* volume) {
  if (!usable_mask(mask) || !volume || !volume->header) return false;
  const VolumeHeader& a = *mask->header;
  const VolumeHeader& b = *volume->header;
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

bool copy_voxel_growing_setting(const VOXEL_GROWING_SETTING& from, VOXEL_GROWING_SETTING* to) {
  RawVolumeData* mask = nullptr;
  if (from.mask) {
    mask = ZTR_DuplicateRawVolumeData(from.mask);
    if (!mask) return false;
  }
  *to = from;
  to->mask = mask;
  return true;
}

int grow_by_signal(const DiffusionTensorImageData* data, VOXEL_GROWING_SETTING* setting) {
  if (!check_mask(data, setting)) return -1;
  const int16_t* values = signal_channel(data->volume, setting->channel);
  int32_t lo = 0, hi = 0;
  if (!values || !signal_range(setting, &lo, &hi)) return -1;
  std::vector<int32_t> labels = labels_from_mask(setting->mask);
  int32_t seeds = 0;
  for (size_t i = 0; i < labels.size(); ++i) {
    if (labels[i] != 1) continue;
    ++seeds;
    if (values[i] < lo || values[i] > hi) labels[i] = 0;
  }
  std::fprintf(stderr, "seed voxel count (grey) = %d\n", seeds);
  grow_layers(grid_of(data->volume), &labels, setting->max_step, [&](int64_t n, int64_t) {
    return values[n] >= lo && values[n] <= hi;
  });
  binarise_into(labels, setting->mask);
  return 0;
}

int grow_by_principal_direction(const DiffusionTensorImageData* data,
                                VOXEL_GROWING_SETTING* setting) {
  if (!check_mask(data, setting) || !check_tensor_data(data)) return -1;
  TensorPtr tensor(ZTRdti_NewTensor(data->dti_channels, data->b0_channels));
  if (!tensor) {
    std::fprintf(stderr, "insufficient memory\n");
    return -1;
  }
  const VoxelFitter fitter{data, tensor.get(), grid_of(data->volume)};
  const float c = angle_cosine(setting->max_angle);
  std::vector<int32_t> labels = labels_from_mask(setting->mask);
  AxisSum axis;
  filter_tensor_seeds(fitter, setting->min_fa, &labels, &axis);
  float dir[3];
  if (!axis.unit(dir)) {
    std::fprintf(stderr, "No seed voxel gives a principal direction: nothing grown\n");
    binarise_into(labels, setting->mask);
    std::memset(setting->principal_direction, 0, sizeof setting->principal_direction);
    return -1;
  }
  std::fprintf(stderr, "principle dir (%f,%f,%f) \n", dir[0], dir[1], dir[2]);
  grow_layers(fitter.g, &labels, setting->max_step, [&](int64_t n, int64_t) {
    float fa = 0.0f, e1[3];
    return fitter.fit(n, &fa, e1) && fa >= setting->min_fa && std::fabs(dot3(e1, dir)) >= c;
  });
  binarise_into(labels, setting->mask);
  std::memcpy(setting->principal_direction, dir, sizeof dir);
  return 0;
}

int grow_by_local_direction(const DiffusionTensorImageData* data,
                            VOXEL_GROWING_SETTING* setting) {
  if (!check_mask(data, setting) || !check_tensor_data(data)) return -1;
  TensorPtr tensor(ZTRdti_NewTensor(data->dti_channels, data->b0_channels));
  if (!tensor) {
    std::fprintf(stderr, "insufficient memory\n");
    return -1;
  }
  const VoxelFitter fitter{data, tensor.get(), grid_of(data->volume)};
  const float c = angle_cosine(setting->max_angle);
  std::vector<int32_t> labels = labels_from_mask(setting->mask);
  AxisSum axis;
  const int32_t seeds = filter_tensor_seeds(fitter, setting->min_fa, &labels, &axis);
  std::fprintf(stderr, "seed voxel count (tensor) = %d\n", seeds);
  float unused[3];
  if (!axis.unit(unused)) {
    std::fprintf(stderr, "No seed voxel gives a principal direction: nothing grown\n");
    binarise_into(labels, setting->mask);
    std::memset(setting->principal_direction, 0, sizeof setting->principal_direction);
    return -1;
  }
  // The parent's own e1, fitted once per parent.
  int64_t parent_index = -1;
  bool parent_ok = false;
  float parent_e1[3] = {0.0f, 0.0f, 0.0f};
  grow_layers(fitter.g, &labels, setting->max_step, [&](int64_t n, int64_t p) {
    if (p != parent_index) {
      float fa = 0.0f;
      parent_index = p;
      parent_ok = fitter.fit(p, &fa, parent_e1);
    }
    if (!parent_ok) return false;
    float fa = 0.0f, e1[3];
    if (!fitter.fit(n, &fa, e1) || fa < setting->min_fa || std::fabs(dot3(e1, parent_e1)) < c) {
      return false;
    }
    axis.add(e1);
    return true;
  });
  binarise_into(labels, setting->mask);
  axis.unit(setting->principal_direction);
  return 0;
}

int select_by_signal(const DiffusionTensorImageData* data, VOXEL_GROWING_SETTING* setting) {
  if (!check_mask(data, setting)) return -1;
  const int16_t* values = signal_channel(data->volume, setting->channel);
  int32_t lo = 0, hi = 0;
  if (!values || !signal_range(setting, &lo, &hi)) return -1;
  uint8_t* m = ZTR_ChannelData<uint8_t>(setting->mask, 0);
  const int64_t n = grid_of(data->volume).count();
  int32_t selected = 0;
  for (int64_t i = 0; i < n; ++i) {
    m[i] = (values[i] >= lo && values[i] <= hi) ? 1 : 0;
    selected += m[i];
  }
  std::fprintf(stderr, "selected voxel count (grey) = %d\n", selected);
  return 0;
}

int select_by_fa(const DiffusionTensorImageData* data, VOXEL_GROWING_SETTING* setting) {
  if (!check_mask(data, setting) || !check_tensor_data(data)) return -1;
  TensorPtr tensor(ZTRdti_NewTensor(data->dti_channels, data->b0_channels));
  if (!tensor) {
    std::fprintf(stderr, "insufficient memory\n");
    return -1;
  }
  const VoxelFitter fitter{data, tensor.get(), grid_of(data->volume)};
  uint8_t* m = ZTR_ChannelData<uint8_t>(setting->mask, 0);
  const int64_t n = fitter.g.count();
  int32_t selected = 0;
  for (int64_t i = 0; i < n; ++i) {
    float fa = 0.0f, e1[3];
    m[i] = (fitter.fit(i, &fa, e1) && fa < setting->min_fa) ? 1 : 0;
    selected += m[i];
  }
  std::fprintf(stderr, "selected voxel count (tensor) = %d\n", selected);
  std::memset(setting->principal_direction, 0, sizeof setting->principal_direction);
  return 0;
}

int voxel_grow(const DiffusionTensorImageData* data, VOXEL_GROWING_SETTING* setting) {
  if (!setting) return -1;
  switch (setting->mode) {
    case ZTR_VOXEL_GROWING_SIGNAL: return grow_by_signal(data, setting);
    case ZTR_VOXEL_GROWING_TENSOR: return grow_by_principal_direction(data, setting);
    case ZTR_VOXEL_GROWING_LOCAL_TENSOR: return grow_by_local_direction(data, setting);
    default: return 0;
  }
}

int voxel_select(const DiffusionTensorImageData* data, VOXEL_GROWING_SETTING* setting) {
  if (!setting) return -1;
  switch (setting->mode) {
    case ZTR_VOXEL_GROWING_SIGNAL: return select_by_signal(data, setting);
    case ZTR_VOXEL_GROWING_TENSOR:
    case ZTR_VOXEL_GROWING_LOCAL_TENSOR: return select_by_fa(data, setting);
    default: return 0;
  }
}

int dilate_voxel_mask(RawVolumeData* mask) {
  if (!usable_mask(mask)) return -1;
  const Grid g = grid_of(mask);
  const std::vector<VoxelOffset> kernel = voxel_kernel_offsets(1.0f);
  uint8_t* m = ZTR_ChannelData<uint8_t>(mask, 0);
  // Read from a copy: dilating in place would let new voxels spread further in one pass.
  const std::vector<uint8_t> before(m, m + g.count());
  for (int32_t z = 0; z < g.z; ++z) {
    for (int32_t y = 0; y < g.y; ++y) {
      for (int32_t x = 0; x < g.x; ++x) {
        uint8_t set = 0;
        for (const VoxelOffset& o : kernel) {
          const int32_t nx = x + o[0], ny = y + o[1], nz = z + o[2];
          if (nx < 0 || ny < 0 || nz < 0 || nx >= g.x || ny >= g.y || nz >= g.z) continue;
          if (before[size_t(nx + int64_t(g.x) * (ny + int64_t(g.y) * nz))]) {
            set = 1;
            break;
          }
        }
        m[x + int64_t(g.x) * (y + int64_t(g.y) * z)] = set;
      }
    }
  }
  return 0;
}

int erode_voxel_mask(RawVolumeData* mask) {
  if (!usable_mask(mask)) return -1;
  uint8_t* m = ZTR_ChannelData<uint8_t>(mask, 0);
  const int64_t n = grid_of(mask).count();
  for (int64_t i = 0; i < n; ++i) m[i] = m[i] ? 0 : 1;
  dilate_voxel_mask(mask);
  for (int64_t i = 0; i < n; ++i) m[i] = m[i] ? 0 : 1;
  return 0;
}

int clear_voxel_mask(RawVolumeData* mask, const RawVolumeData* seed_region) {
  if (!usable_mask(mask)) return -1;
  const Grid g = grid_of(mask);
  uint8_t* m = ZTR_ChannelData<uint8_t>(mask, 0);
  if (seed_region) {
    const VolumeHeader& s = *seed_region->header;
    if (s.x != g.x || s.y != g.y || s.z != g.z || s.channels < 1) {
      std::fprintf(stderr, "Err: seed region is not on the mask's grid\n");
      return -1;
    }
  }
  std::memset(m, 0, size_t(g.count()));
  if (!seed_region) return 0;
  for (int64_t i = 0; i < g.count(); ++i) {
    const float v = ZTR_GetVoxelValueAsFloat(seed_region->data[0], seed_region->types[0], g.count(), i);
    m[i] = (v != 0.0f && !std::isnan(v)) ? 1 : 0;
  }
  return 0;
}

void apply_voxel_growing_panel(const VOXEL_GROWING_PANEL& panel,
                               VOXEL_GROWING_SETTING* setting) {
  setting->mode = panel.criterion;
  setting->min_fa = panel.min_fa;
  setting->max_angle = panel.max_angle;
  setting->min_signal = panel.min_signal;
  setting->max_signal = panel.max_signal;
  setting->max_step = panel.max_step;
  setting->channel = panel.channel;
}

int run_voxel_growing_button(VoxelGrowingButton button, int32_t roi_kind,
                             const VOXEL_GROWING_PANEL& panel,
                             const DiffusionTensorImageData* data,
                             const RawVolumeData* seed_region,
                             VOXEL_GROWING_SETTING* setting) {
  if (!setting || roi_kind != kVoxelgroupKind) return 0;
  apply_voxel_growing_panel(panel, setting);
  switch (button) {
    case VoxelGrowingButton::Grow:
      if (clear_voxel_mask(setting->mask, seed_region) != 0) return -1;
      return voxel_grow(data, setting);
    case VoxelGrowingButton::Select:
      if (clear_voxel_mask(setting->mask, seed_region) != 0) return -1;
      return voxel_select(data, setting);
    case VoxelGrowingButton::Dilate: return dilate_voxel_mask(setting->mask);
    case VoxelGrowingButton::Erode: return erode_voxel_mask(setting->mask);
    case VoxelGrowingButton::Clear: return clear_voxel_mask(setting->mask, seed_region);
  }
  return 0;
}
