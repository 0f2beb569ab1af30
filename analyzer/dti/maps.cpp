// Whole-volume standard maps on worker threads, the central signal level and the voxel
// report.
#include "analyzer/dti/maps.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include "analyzer/dti/mpg_setting.h"
#include "analyzer/dti/numerical.h"
#include "analyzer/dti/tensor_slabs.h"

namespace {

int16_t saturate_int16(float v) {
  if (!(v == v)) return 0;
  if (v >= 32767.0f) return 32767;
  if (v <= -32768.0f) return -32768;
  return static_cast<int16_t>(v);
}

uint32_t colour_component(float e, double w) {
  const double value = std::fabs(static_cast<double>(e)) * 255.0 * w;
  return value >= 255.0 ? 255u : value > 0.0 ? static_cast<uint32_t>(value) : 0u;
}

void append_format(std::string* out, const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) out->append(line, static_cast<size_t>(n) < sizeof line ? n : sizeof line - 1);
}

// Wall-clock time of day in seconds, from the hour, minute, second and millisecond fields.
double time_of_day() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  const int milliseconds = static_cast<int>(now.tv_nsec / 1000000);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + milliseconds / 1000.0;
}

}  // namespace

int central_signal_level(const RawVolumeData* volume) {
  if (!volume || !volume->header) return 0;
  const VolumeHeader& h = *volume->header;
  const int32_t start[3] = {3 * h.x / 8, 3 * h.y / 8, 3 * h.z / 8};
  const int32_t size[3] = {h.x / 4, h.y / 4, h.z / 4};
  HistogramPtr histogram(ZTRnumerical_GetBoxHistogram(volume, 0, start, size));
  if (!histogram) return 0;
  return histogram->minimum + histogram->peak_index;
}

namespace {

// The map values from FA, ADC and e1 (normalised again here); e1 is read only when the
// colour weight is above 0.
StandardMapValues map_values_of(float fa, float adc, const float e1_in[3], float b,
                                int16_t so_raw) {
  StandardMapValues out{0, 0, 0, 0};
  double w = (fa - 0.15) * 2.0;
  w = w < 0.0 ? 0.0 : w > 1.0 ? 1.0 : w;
  if (w > 0.0) {
    float e1[3] = {e1_in[0], e1_in[1], e1_in[2]};
    const float norm = std::sqrt(e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2]);
    if (norm > 0) {
      for (float& e : e1) e /= norm;
    }
    const uint32_t red = colour_component(e1[0], w);
    const uint32_t green = colour_component(e1[1], w);
    const uint32_t blue = colour_component(e1[2], w);
    const uint32_t alpha = static_cast<uint32_t>(w * 255.0);
    out.colour_fa = (red << 24) | (green << 16) | (blue << 8) | alpha;
  }
  out.fa = saturate_int16(fa * 1000);
  out.adc = saturate_int16(adc * 1000000);
  const float attenuation = static_cast<float>(std::exp(-static_cast<double>(adc * b)));
  out.isod = saturate_int16(attenuation * static_cast<float>(so_raw));
  return out;
}

}  // namespace

StandardMapValues standard_map_values(const ZTR_DTI_TENSOR* tensor, float b, int16_t so_raw) {
  StandardMapValues out{0, 0, 0, 0};
  if (!ZTRdti_IsFiniteTensor(tensor)) return out;
  const float fa = ZTRdti_GetFA(tensor);
  const float adc = ZTRdti_GetADC(tensor);
  if (!std::isfinite(fa) || !std::isfinite(adc)) return out;
  float e1[3];
  ZTRdti_GetE1(tensor, e1);
  return map_values_of(fa, adc, e1, b, so_raw);
}

namespace {

// The maps of many voxels at once, a row at a time. Every step of the fit runs across a
// block of kLanes voxels with the same operations as the tensor record's fit of one voxel (the
// same table logarithms, float divisions and float sums in the same order), so the six tensor
// elements come out the same, and the block's sums stay in vector registers. FA and ADC come
// from the invariants of the tensor (trace and Frobenius norms, in double), which equal the
// sums over its eigenvalues; e1 is solved for only where it colours the voxel (FA above 0.15).
constexpr int kLanes = 8;

// Four lanes; every operation on them is lane by lane, as the scalar code does it.
typedef float Float4 __attribute__((vector_size(16)));
typedef double Double4 __attribute__((vector_size(32)));

struct BlockFit {
  int b0;
  int n;                           // diffusion-weighted channels
  const int16_t* const* channels;  // the DTI channel blocks, b=0 first
  int64_t voxels;                  // per channel
  const Float4* weights;           // n x 6: the pseudo-inverse's entries, each in all lanes
  const Float4* b_values;          // n, each in all lanes
  const double* log_table;
  float b;                         // uniform b value (isoD)
};

struct MapOutputs {
  uint32_t* colour;
  int16_t* fa;
  int16_t* adc;
  int16_t* isod;
};

// One worker's room for the fitted voxels of a row, in whole blocks.
struct RowScratch {
  size_t capacity;
  std::vector<int64_t> index;  // voxel indices; the tail of the last block repeats a voxel
  std::vector<float> sums;     // the six sums of every voxel: sums[r * capacity + j]
  explicit RowScratch(int32_t width)
      : capacity((static_cast<size_t>(width) + kLanes - 1) / kLanes * kLanes),
        index(capacity),
        sums(6 * capacity) {}
};

// ln So of one voxel, as the record's fit takes it.
double log_so_at(const BlockFit& f, int64_t i) {
  float sum = 0.0f;
  for (int c = 0; c < f.b0; ++c) sum += static_cast<float>(f.channels[c][i]);
  const float so = sum / static_cast<float>(f.b0);
  const int16_t first = f.channels[0][i];
  // One b=0 channel: So is that integer, whose logarithm is in the table.
  return f.b0 == 1 && first > 0 ? f.log_table[first] : std::log(static_cast<double>(so));
}

// ln S of a channel's voxel from the table; a signal of 0 or below reads ln 0 = -infinity,
// which makes y and the sums not finite, like the NaN or infinity the record's fit gets.
inline double log_signal(const BlockFit& f, const int16_t* channel, int64_t i) {
  const int v = channel[i];
  return f.log_table[v > 0 ? v : 0];
}

// y of four voxels in one channel: -(float)(ln S - ln So) / b, lane by lane.
inline Float4 log_ratios(const BlockFit& f, const int16_t* channel, const int64_t* at,
                         const Double4& log_so, const Float4& b) {
  const Double4 log_s{log_signal(f, channel, at[0]), log_signal(f, channel, at[1]),
                      log_signal(f, channel, at[2]), log_signal(f, channel, at[3])};
  return -__builtin_convertvector(log_s - log_so, Float4) / b;
}

// The six sums of the voxels index[0 .. kLanes) into sums (row r at sums + r * stride).
void fit_block(const BlockFit& f, const int64_t* index, float* sums, size_t stride) {
  const Double4 log_so_low{log_so_at(f, index[0]), log_so_at(f, index[1]),
                           log_so_at(f, index[2]), log_so_at(f, index[3])};
  const Double4 log_so_high{log_so_at(f, index[4]), log_so_at(f, index[5]),
                            log_so_at(f, index[6]), log_so_at(f, index[7])};
  Float4 low[6] = {}, high[6] = {};
  for (int k = 0; k < f.n; ++k) {
    const int16_t* channel = f.channels[f.b0 + k];
    // The line this channel's reads reach some blocks later is asked for now.
    __builtin_prefetch(channel + std::min(index[kLanes - 1] + 64, f.voxels - 1));
    const Float4 y_low = log_ratios(f, channel, index, log_so_low, f.b_values[k]);
    const Float4 y_high = log_ratios(f, channel, index + 4, log_so_high, f.b_values[k]);
    const Float4* weight = f.weights + 6 * static_cast<size_t>(k);
#pragma GCC unroll 6
    for (int r = 0; r < 6; ++r) {
      low[r] += weight[r] * y_low;
      high[r] += weight[r] * y_high;
    }
  }
  for (int r = 0; r < 6; ++r) {
    std::memcpy(sums + static_cast<size_t>(r) * stride, &low[r], sizeof(Float4));
    std::memcpy(sums + static_cast<size_t>(r) * stride + 4, &high[r], sizeof(Float4));
  }
}

// The maps of the `count` voxels in s.index (count >= 1).
void fit_row(const BlockFit& f, RowScratch& s, int count, const MapOutputs& out) {
  const int padded = (count + kLanes - 1) / kLanes * kLanes;
  for (int j = count; j < padded; ++j) {
    s.index[static_cast<size_t>(j)] = s.index[static_cast<size_t>(count) - 1];
  }
  const int64_t* index = s.index.data();
  float* sums = s.sums.data();
  const size_t stride = s.capacity;
  for (int j = 0; j < padded; j += kLanes) fit_block(f, index + j, sums + j, stride);
  for (int j = 0; j < count; ++j) {
    float elements[6];
    bool finite = true;
    for (int r = 0; r < 6; ++r) {
      elements[r] = sums[static_cast<size_t>(r) * stride + j];
      finite = finite && std::isfinite(elements[r]);
    }
    if (!finite) continue;  // outputs stay 0
    const double xx = elements[0], yy = elements[1], zz = elements[2];
    const double off = static_cast<double>(elements[3]) * elements[3] +
                       static_cast<double>(elements[4]) * elements[4] +
                       static_cast<double>(elements[5]) * elements[5];
    const double m = (xx + yy + zz) / 3.0;
    // sum (lambda - m)^2 = |D - m I|^2 and sum lambda^2 = |D|^2 (Frobenius norms).
    const double deviation =
        (xx - m) * (xx - m) + (yy - m) * (yy - m) + (zz - m) * (zz - m) + 2.0 * off;
    const double magnitude = xx * xx + yy * yy + zz * zz + 2.0 * off;
    float fa = static_cast<float>(std::sqrt(1.5) * std::sqrt(deviation / magnitude));
    float adc = static_cast<float>(m);
    if (!std::isfinite(fa) || !std::isfinite(adc)) continue;
    float e1[3] = {0.0f, 0.0f, 0.0f};
    if ((fa - 0.15) * 2.0 > 0.0 && !ZTRnumerical_PrincipalEigenvector3x3(elements, e1)) {
      // The eigen solver gave up: the record reads its fallback eigenvalues then.
      fa = 0.0f;
      adc = (1.0e-14f + 1.0e-14f + 1.0e-14f) / 3;
    }
    const int64_t i = index[j];
    const StandardMapValues v = map_values_of(fa, adc, e1, f.b, f.channels[0][i]);
    out.colour[i] = v.colour_fa;
    out.fa[i] = v.fa;
    out.adc[i] = v.adc;
    out.isod[i] = v.isod;
  }
}

}  // namespace

bool compute_standard_dti_map_volumes(const DiffusionTensorImageData* data, int16_t threshold,
                                      int threads, StandardMapVolumes* maps,
                                      const WorkRunOptions& options) {
  if (!maps || !tensor_data_is_fittable(data)) return false;
  const VolumeHeader h = *data->volume->header;
  const int32_t dims[3] = {h.x, h.y, h.z};
  StandardMapVolumes out;
  out.colour_fa.reset(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT32, ZTR_ATTRIBUTE_RGBA));
  out.fa.reset(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_INT16, ZTR_ATTRIBUTE_PLAIN));
  out.adc.reset(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_INT16, ZTR_ATTRIBUTE_PLAIN));
  out.isod.reset(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_INT16, ZTR_ATTRIBUTE_PLAIN));
  if (!out.colour_fa || !out.fa || !out.adc || !out.isod) return false;

  const float b = ZTRdti_GetUniformBValue(data);
  const int16_t* so_raw = ZTR_ChannelData<int16_t>(data->volume, 0);
  uint32_t* colour = ZTR_ChannelData<uint32_t>(out.colour_fa.get(), 0);
  int16_t* fa = ZTR_ChannelData<int16_t>(out.fa.get(), 0);
  int16_t* adc = ZTR_ChannelData<int16_t>(out.adc.get(), 0);
  int16_t* isod = ZTR_ChannelData<int16_t>(out.isod.get(), 0);
  const int64_t slice = int64_t(h.x) * h.y;

  // The pseudo-inverse is built once for all workers; the record that holds it is only read
  // while they run.
  TensorPtr shared(ZTRdti_NewTensor(data->dti_channels, data->b0_channels));
  const float* inverse = shared ? tensor_inverse_columns(data, shared.get()) : nullptr;
  const int n = data->dti_channels - data->b0_channels;
  std::vector<const int16_t*> channels;
  std::vector<Float4> weights, b_values;
  if (inverse) {
    try {
      for (int c = 0; c < data->dti_channels; ++c) {
        channels.push_back(ZTR_ChannelData<int16_t>(data->volume, c));
      }
      for (int k = 0; k < n; ++k) {
        for (int r = 0; r < 6; ++r) {
          const float w = inverse[static_cast<size_t>(k) * 8 + static_cast<size_t>(r)];
          weights.push_back(Float4{w, w, w, w});
        }
        const float bk = data->b_value[data->b0_channels + k];
        b_values.push_back(Float4{bk, bk, bk, bk});
      }
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  const BlockFit fit{data->b0_channels, n, channels.data(), slice * h.z,
                     weights.data(), b_values.data(), tensor_log_table(), b};
  const MapOutputs outputs{colour, fa, adc, isod};

  auto block_worker = [&](const WorkPart& part) {
    std::unique_ptr<RowScratch> scratch_room;
    try {
      scratch_room = std::make_unique<RowScratch>(h.x);
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "insufficient memory\n");
      return;
    }
    RowScratch& scratch = *scratch_room;
    for (int k = 0; k < part.count; ++k) {
      const int64_t begin = slice * (part.first + k);
      for (int64_t row = begin; row < begin + slice; row += h.x) {
        // The row's voxels above the threshold; the others stay 0.
        int count = 0;
        for (int64_t i = row; i < row + h.x; ++i) {
          if (so_raw[i] > threshold) scratch.index[static_cast<size_t>(count++)] = i;
        }
        if (count > 0) fit_row(fit, scratch, count, outputs);
      }
      part.done->store(k + 1, std::memory_order_relaxed);
    }
  };

  // Without the shared pseudo-inverse every worker fits with its own record, voxel by voxel,
  // and reports its failure as the record does.
  auto voxel = [&](auto* tensor, int64_t i) {
    if (so_raw[i] <= threshold) return;  // outputs start at 0
    if (!tensor_fit_at_index(data, tensor, i)) return;
    const StandardMapValues v = standard_map_values(tensor, b, so_raw[i]);
    colour[i] = v.colour_fa;
    fa[i] = v.fa;
    adc[i] = v.adc;
    isod[i] = v.isod;
  };
  WorkRunOptions run = options;
  if (!run.progress_format) run.progress_format = "\r(color FA, FA, ADC, isoD) Computation %d%% completed";
  const int clamped = threads > 512 ? 512 : threads;
  if (inverse) {
    run_split_work(h.z, clamped < 1 ? 1 : clamped, block_worker, run);
  } else {
    for_each_voxel_with_tensor(data, clamped, run, voxel);
  }
  *maps = std::move(out);
  return true;
}

int compute_standard_dti_maps(DiffusionTensorImageData* data, int16_t threshold, int threads,
                              const WorkRunOptions& options) {
  StandardMapVolumes maps;
  if (!compute_standard_dti_map_volumes(data, threshold, threads, &maps, options)) return 0;
  RawVolumeData* volume = data->volume;
  const int32_t before = volume->header->channels;
  const RawVolumeData* order[4] = {maps.colour_fa.get(), maps.fa.get(), maps.adc.get(),
                                   maps.isod.get()};
  for (const RawVolumeData* map : order) {
    if (ZTR_AppendChannelCopy(volume, map, 0) != 0) {
      // All or nothing: the command uploads the last channels it is told were added.
      while (volume->header->channels > before) {
        if (ZTR_RemoveChannel(volume, volume->header->channels - 1) != 0) break;
      }
      return 0;
    }
  }
  return 4;
}

double elapsed_day_seconds(double start, double end) {
  const double elapsed = end - start;
  return elapsed < 0 ? elapsed + 24 * 3600.0 : elapsed;
}

namespace {

template <class Compute>
int timed_maps_run(const DiffusionTensorImageData* data, Compute compute) {
  const double start = time_of_day();
  const int level = central_signal_level(data ? data->volume : nullptr);
  const int threshold = level / 8;
  const int16_t narrowed = static_cast<int16_t>(threshold);  // |level| <= 32768: fits
  const int n = compute(narrowed);
  std::fprintf(stderr, "%d chs added for DTI\n", n);
  const double elapsed = elapsed_day_seconds(start, time_of_day());
  std::fprintf(stderr, "%s in %3.2f sec.\n", "Analysis completed", elapsed);
  return n;
}

}  // namespace

int run_standard_dti_maps(DiffusionTensorImageData* data, int threads,
                          const WorkRunOptions& options) {
  return timed_maps_run(data, [&](int16_t threshold) {
    return compute_standard_dti_maps(data, threshold, threads, options);
  });
}

int run_standard_dti_map_volumes(const DiffusionTensorImageData* data, int threads,
                                 StandardMapVolumes* maps) {
  return timed_maps_run(data, [&](int16_t threshold) {
    return compute_standard_dti_map_volumes(data, threshold, threads, maps) ? 4 : 0;
  });
}

void show_voxel_parameters(const DiffusionTensorImageData* data, int x, int y, int z,
                           std::string* buffer, const ExtraVoxelParameters& extras) {
  if (!buffer || !data) return;
  if (data->mpg_ready != 1) {
    *buffer = "(MPG not ready for analysis)\n";
    return;
  }
  if (!data->volume || !data->volume->header) return;
  const VolumeHeader& h = *data->volume->header;
  if (x < 0 || y < 0 || z < 0 || x >= h.x || y >= h.y || z >= h.z) return;

  std::string position;
  append_format(&position, "parameters at (%d,%d,%d)\n", x, y, z);
  std::string standard;
  TensorPtr tensor(ZTRdti_NewTensor(data->dti_channels, data->b0_channels));
  if (!tensor) {
    *buffer = "Insufficient memory.\n";
    return;
  }
  ZTRdti_ComputeTensorAtVoxel(data, tensor.get(), x, y, z);
  float e1[3];
  ZTRdti_GetE1(tensor.get(), e1);
  standard += "Standard DTI parameters:\n";
  append_format(&standard, " FA: %3.3f\n", ZTRdti_GetFA(tensor.get()));
  append_format(&standard, " ADC(x1k): %4.3f\n", ZTRdti_GetADC(tensor.get()) * 1000);
  append_format(&standard, " L1(x1k): %4.3f\n", ZTRdti_GetLambda1(tensor.get()) * 1000);
  append_format(&standard, " L2(x1k): %4.3f\n", ZTRdti_GetLambda2(tensor.get()) * 1000);
  append_format(&standard, " L3(x1k): %4.3f\n", ZTRdti_GetLambda3(tensor.get()) * 1000);
  append_format(&standard, " e1: (%3.3f,%3.3f,%3.3f)\n", e1[0], e1[1], e1[2]);

  std::string extra = "Extra parameters by RTNN:\n";
  if (extras) {
    try {
      for (const auto& [name, value] : extras(data, x, y, z)) {
        // NaN marks a value that could not be computed for this voxel and setting.
        if (std::isnan(value)) {
          append_format(&extra, " %s: n/a\n", name.c_str());
        } else {
          append_format(&extra, " %s: %3.2f\n", name.c_str(), value);
        }
      }
    } catch (...) {
      // A failing extra section leaves the standard parameters readable.
    }
  }
  std::string text;
  text.reserve(position.size() + standard.size() + extra.size() + 2);
  text += position;
  text += '\n';
  text += standard;
  text += '\n';
  text += extra;
  *buffer = std::move(text);
}
