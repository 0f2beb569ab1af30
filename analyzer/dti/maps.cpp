// Whole-volume standard maps on worker threads, the central signal level and the voxel
// report.
#include "analyzer/dti/maps.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
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

StandardMapValues standard_map_values(const ZTR_DTI_TENSOR* tensor, float b, int16_t so_raw) {
  StandardMapValues out{0, 0, 0, 0};
  if (!ZTRdti_IsFiniteTensor(tensor)) return out;
  const float fa = ZTRdti_GetFA(tensor);
  const float adc = ZTRdti_GetADC(tensor);
  if (!std::isfinite(fa) || !std::isfinite(adc)) return out;
  float e1[3];
  ZTRdti_GetE1(tensor, e1);
  const float norm = std::sqrt(e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2]);
  if (norm > 0) {
    for (float& e : e1) e /= norm;
  }
  double w = (fa - 0.15) * 2.0;
  w = w < 0.0 ? 0.0 : w > 1.0 ? 1.0 : w;
  const uint32_t red = colour_component(e1[0], w);
  const uint32_t green = colour_component(e1[1], w);
  const uint32_t blue = colour_component(e1[2], w);
  const uint32_t alpha = static_cast<uint32_t>(w * 255.0);
  out.colour_fa = (red << 24) | (green << 16) | (blue << 8) | alpha;
  out.fa = saturate_int16(fa * 1000);
  out.adc = saturate_int16(adc * 1000000);
  const float attenuation = static_cast<float>(std::exp(-static_cast<double>(adc * b)));
  out.isod = saturate_int16(attenuation * static_cast<float>(so_raw));
  return out;
}

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

  auto worker = [&](const WorkPart& part) {
    TensorPtr tensor(ZTRdti_NewTensor(data->dti_channels, data->b0_channels));
    if (!tensor) {
      std::fprintf(stderr, "insufficient memory\n");
      return;
    }
    // One row of every DTI channel side by side: the fit then reads from a few kilobytes
    // instead of from as many places in memory as there are channels.
    const int channels = data->dti_channels;
    std::vector<int16_t> rows(static_cast<size_t>(channels) * static_cast<size_t>(h.x));
    for (int k = 0; k < part.count; ++k) {
      const int64_t begin = slice * (part.first + k);
      for (int64_t row = begin; row < begin + slice; row += h.x) {
        bool any = false;
        for (int64_t i = row; i < row + h.x; ++i) any = any || so_raw[i] > threshold;
        if (!any) continue;
        for (int c = 0; c < channels; ++c) {
          std::memcpy(&rows[static_cast<size_t>(c) * static_cast<size_t>(h.x)],
                      ZTR_ChannelData<int16_t>(data->volume, c) + row, static_cast<size_t>(h.x) * 2);
        }
        for (int64_t i = row; i < row + h.x; ++i) {
          if (so_raw[i] <= threshold) continue;  // outputs start at 0
          if (!tensor_fit_from_signals(data, tensor.get(), &rows[static_cast<size_t>(i - row)], h.x)) continue;
          const StandardMapValues v = standard_map_values(tensor.get(), b, so_raw[i]);
          colour[i] = v.colour_fa;
          fa[i] = v.fa;
          adc[i] = v.adc;
          isod[i] = v.isod;
        }
      }
      part.done->store(k + 1, std::memory_order_relaxed);
    }
  };
  WorkRunOptions run = options;
  if (!run.progress_format) run.progress_format = "\r(color FA, FA, ADC, isoD) Computation %d%% completed";
  const int clamped = threads > 512 ? 512 : threads;
  run_split_work(h.z, clamped < 1 ? 1 : clamped, worker, run);
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
