// Networks applied to DTI data: preparation, voxel input, report values, statistics, maps
// and preview.
#include "analyzer/rtnn/rtnn_maps.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdarg>
#include <cstring>
#include <new>
#include <set>

#include "analyzer/dti/maps.h"

namespace {

constexpr float kNoSignalInput = -10.0f;

uint64_t mix(uint64_t h, const void* data, size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 1099511628211ull;
  }
  return h;
}

bool setting_matches(const DiffusionTensorImageData* data, const RtnnInputMpg& mpg) {
  if (data->dti_channels != mpg.total || data->b0_channels != mpg.b0) return false;
  for (int i = 0; i < mpg.total; ++i) {
    if (data->b_value[i] != mpg.b_value[i]) return false;
    for (int k = 0; k < 3; ++k) {
      if (data->mpg_vector[i][k] != mpg.direction[i][k]) return false;
    }
  }
  return true;
}

// ln v for every positive signed 16-bit value: the matched input ln(S_c / So) becomes two
// table reads instead of a logarithm per channel and voxel.
const float* log_table() {
  static const std::vector<float> table = [] {
    std::vector<float> t(32768, 0.0f);
    for (int v = 1; v < 32768; ++v) t[v] = std::log(static_cast<float>(v));
    return t;
  }();
  return table.data();
}

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

uint64_t rtnn_mpg_fingerprint(const DiffusionTensorImageData* data) {
  if (!data) return 0;
  uint64_t h = 14695981039346656037ull;
  h = mix(h, &data->mpg_ready, sizeof data->mpg_ready);
  h = mix(h, &data->dti_channels, sizeof data->dti_channels);
  h = mix(h, &data->b0_channels, sizeof data->b0_channels);
  const int n = std::clamp(data->dti_channels, 0, ZTR_DTI_MAX_CHANNELS);
  h = mix(h, data->b_value, sizeof(float) * n);
  h = mix(h, data->mpg_vector, sizeof(float) * 3 * n);
  return h == 0 ? 1 : h;  // 0 means "never prepared"
}

bool rtnn_entry_ready(const RtnnEntry& entry, uint64_t fingerprint) {
  return entry.network && entry.state == 0 && entry.prepared_for == fingerprint;
}

int prepare_rtnns_for_mpg(const DiffusionTensorImageData* data, RtnnTable* table) {
  if (!table || !data || data->mpg_ready != 1) return -1;
  const uint64_t fingerprint = rtnn_mpg_fingerprint(data);
  for (RtnnEntry& e : table->entries) {
    const RunTimeNeuralNetwork& net = *e.network;
    e.state = -1;
    e.prepared_for = 0;
    if (e.input_mpg.b0 != 1 || net.input_size != e.input_mpg.total - 1) {
      std::fprintf(stderr, "Err: Dimension mismatch between MPG and RTNN input (%s)\n", net.name);
      return -1;
    }
    if (setting_matches(data, e.input_mpg)) {
      std::fprintf(stderr, "Input B-space matched (%s). NO B-space converter created\n", net.name);
      e.converter.reset();  // a converter from an earlier setting must not be used
    } else {
      e.converter.reset();
      std::string reason;
      e.converter.reset(ZTR_NewBSpaceConverter(data->dti_channels, data->b_value, data->mpg_vector,
                                               ZTR_BSPACE_KERNEL, &reason));
      if (!e.converter) {
        std::fprintf(stderr, "Err: B-space converter not created (%s): %s\n", net.name,
                     reason.c_str());
        return -1;
      }
      std::fprintf(stderr, "Input B-space mismatch (%s). B-space converter created\n", net.name);
    }
    e.state = 0;
    e.prepared_for = fingerprint;
  }
  return 0;
}

bool ensure_rtnns_prepared(const DiffusionTensorImageData* data, RtnnTable* table) {
  if (!table || !data || data->mpg_ready != 1) return false;
  const uint64_t fingerprint = rtnn_mpg_fingerprint(data);
  bool all = true;
  for (const RtnnEntry& e : table->entries) all = all && rtnn_entry_ready(e, fingerprint);
  if (all) return true;
  if (table->failed_setting == fingerprint) return false;
  if (prepare_rtnns_for_mpg(data, table) == 0) return true;
  table->failed_setting = fingerprint;
  return false;
}

int check_rtnn_qspace_density(const RtnnTable& table, int32_t dti_channels, const float* b_values) {
  if (table.count() == 0) return 0;
  int largest_total = 0;
  size_t largest_distinct = 0;
  for (const RtnnEntry& e : table.entries) {
    largest_total = std::max(largest_total, e.input_mpg.total);
    const std::set<float> distinct(e.input_mpg.b_value.begin(), e.input_mpg.b_value.end());
    largest_distinct = std::max(largest_distinct, distinct.size());
  }
  const int n = std::clamp(dti_channels, 0, ZTR_DTI_MAX_CHANNELS);
  const std::set<float> own(b_values, b_values + n);
  if (dti_channels < largest_total / 2 || own.size() < largest_distinct) return -1;
  return 0;
}

bool RtnnVoxelEvaluator::bind(const RtnnEntry& entry, const DiffusionTensorImageData* data) {
  entry_ = nullptr;
  if (!data || !data->volume || !data->volume->header ||
      !rtnn_entry_ready(entry, rtnn_mpg_fingerprint(data))) {
    return false;
  }
  const RawVolumeData* volume = data->volume;
  const int n = data->dti_channels;
  if (n < 2 || n > volume->header->channels) return false;
  try {
    channel_.assign(n, nullptr);
    for (int c = 0; c < n; ++c) {
      if (volume->types[c] != ZTR_TYPE_INT16) return false;
      channel_[c] = ZTR_ChannelData<int16_t>(volume, c);
    }
    const RunTimeNeuralNetwork& net = *entry.network;
    if (entry.converter) {
      if (entry.converter->n != n) return false;
      converter_.reset(ZTR_CopyBSpaceConverter(entry.converter.get()));
      if (!converter_) return false;
      signals_.assign(n, 0.0f);
      converted_.assign(entry.input_mpg.total, 0.0f);
      target_matrix_ = bspace_target_matrix(
          converter_.get(), entry.input_mpg.total, entry.input_mpg.b_value.data(),
          reinterpret_cast<const float(*)[3]>(entry.input_mpg.direction.data()));
      if (entry.input_mpg.total - 1 != net.input_size) return false;
    } else {
      converter_.reset();
      if (net.input_size != n - 1) return false;  // the input is sized from the network
    }
    io_.reset(ZTRrtnn_NewRunTimeNeuralNetworkIO(&net));
    if (!io_) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  entry_ = &entry;
  data_ = data;
  return true;
}

int RtnnVoxelEvaluator::output_size() const { return entry_ ? entry_->network->output_size : 0; }

const float* RtnnVoxelEvaluator::evaluate(int64_t index, bool clamp_signals) {
  if (!entry_) return nullptr;
  const RunTimeNeuralNetwork& net = *entry_->network;
  const float so = channel_[0][index];
  if (!(so > 0.0f)) return nullptr;
  float* input = io_->vector[0]->element;
  const int inputs = net.input_size;
  if (!converter_) {
    const float* ln = log_table();
    const float ln_so = ln[channel_[0][index]];
    for (int c = 1; c <= inputs; ++c) {
      const int16_t s = channel_[c][index];
      input[c - 1] = s > 0 ? ln[s] - ln_so : kNoSignalInput;
    }
  } else {
    const int n = converter_->n;
    signals_[0] = so;
    for (int c = 1; c < n; ++c) {
      const float s = channel_[c][index];
      signals_[c] = clamp_signals ? std::clamp(s, 0.0f, so) : s;
    }
    const RtnnInputMpg& mpg = entry_->input_mpg;
    if (!target_matrix_.empty()) {
      for (int t = 1; t <= inputs; ++t) {
        converted_[t] = rtnn_blocked_dot(&target_matrix_[size_t(t) * n], signals_.data(), n);
      }
    } else {
      ZTR_SetBSpaceConverterSignals(converter_.get(), signals_.data());
      ZTR_ConvertBSpace(converter_.get(), mpg.total, mpg.b_value.data(),
                        reinterpret_cast<const float(*)[3]>(mpg.direction.data()), converted_.data());
    }
    for (int t = 1; t <= inputs; ++t) {
      const float v = converted_[t];
      if (!std::isfinite(v)) return nullptr;
      input[t - 1] = v > so ? 0.0f : v > 0.0f ? std::log(v / so) : kNoSignalInput;
    }
  }
  if (ZTRrtnn_SetInput(&net, io_.get()) != 0) return nullptr;
  const float* out = io_->vector[net.layer_count - 1]->element;
  for (int k = 0; k < net.output_size; ++k) {
    if (!std::isfinite(out[k])) return nullptr;
  }
  return out;
}

float rtnn_clamped_output(const RunTimeNeuralNetwork& net, int k, float y) {
  const float a = (net.output_lower[k] - net.output_offset[k]) / net.output_scale[k];
  const float b = (net.output_upper[k] - net.output_offset[k]) / net.output_scale[k];
  return std::clamp(y, std::min(a, b), std::max(a, b));
}

int16_t rtnn_map_value(const RunTimeNeuralNetwork& net, int k, float y) {
  const float lower = std::min(net.output_lower[k], net.output_upper[k]);
  const float upper = std::max(net.output_lower[k], net.output_upper[k]);
  const float v = y * net.output_scale[k] + net.output_offset[k];
  if (std::isnan(v)) return 0;
  const float limited = std::clamp(std::clamp(v, lower, upper), -32768.0f, 32767.0f);
  return static_cast<int16_t>(limited);  // truncation toward zero
}

std::vector<std::pair<std::string, float>> rtnn_voxel_parameters(
    const RtnnTable& table, const DiffusionTensorImageData* data, int x, int y, int z) {
  std::vector<std::pair<std::string, float>> values;
  const bool inside = data && data->volume && data->volume->header && x >= 0 && y >= 0 && z >= 0 &&
                      x < data->volume->header->x && y < data->volume->header->y &&
                      z < data->volume->header->z;
  int64_t index = 0;
  if (inside) {
    const VolumeHeader& h = *data->volume->header;
    index = (int64_t(z) * h.y + y) * h.x + x;
  }
  for (const RtnnEntry& e : table.entries) {
    const RunTimeNeuralNetwork& net = *e.network;
    RtnnVoxelEvaluator evaluator;
    const float* out = inside && evaluator.bind(e, data) ? evaluator.evaluate(index, false) : nullptr;
    for (int k = 0; k < net.output_size; ++k) {
      const std::string name = k < static_cast<int>(e.output_names.size()) ? e.output_names[k] : net.name;
      values.emplace_back(name, out ? rtnn_clamped_output(net, k, out[k]) : std::nanf(""));
    }
  }
  return values;
}

int compute_rtnn_at_voxel(const RtnnTable& table, const DiffusionTensorImageData* data, int x,
                          int y, int z, float* out) {
  if (!out) return 0;
  const auto values = rtnn_voxel_parameters(table, data, x, y, z);
  for (size_t i = 0; i < values.size(); ++i) out[i] = values[i].second;
  return static_cast<int>(values.size());
}

namespace {

// Value of a mask voxel in the mask's own type.
bool mask_is_one(const RawVolumeData* mask, int64_t i) {
  switch (mask->types[0]) {
    case ZTR_TYPE_UINT8: return ZTR_ChannelData<uint8_t>(mask, 0)[i] == 1;
    case ZTR_TYPE_INT8: return ZTR_ChannelData<int8_t>(mask, 0)[i] == 1;
    case ZTR_TYPE_UINT16: return ZTR_ChannelData<uint16_t>(mask, 0)[i] == 1;
    case ZTR_TYPE_INT16: return ZTR_ChannelData<int16_t>(mask, 0)[i] == 1;
    case ZTR_TYPE_UINT32: return ZTR_ChannelData<uint32_t>(mask, 0)[i] == 1;
    case ZTR_TYPE_INT32: return ZTR_ChannelData<int32_t>(mask, 0)[i] == 1;
    case ZTR_TYPE_FLOAT32: return ZTR_ChannelData<float>(mask, 0)[i] == 1.0f;
    case ZTR_TYPE_FLOAT64: return ZTR_ChannelData<double>(mask, 0)[i] == 1.0;
    default: return false;
  }
}

void append_format(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void append_format(std::string* out, const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  *out += line;
}

}  // namespace

int compute_rtnn_region_statistics(RtnnTable* table, const DiffusionTensorImageData* data,
                                   const RawVolumeData* mask, std::string* text,
                                   RtnnRegionStatistics* statistics) {
  if (text) text->clear();
  if (!table || table->count() == 0 || count_rtnn_outputs(*table) > ZTR_RTNN_MAX_OUTPUTS) return -1;
  if (!data || !data->volume || !data->volume->header || !mask || !mask->header ||
      mask->header->channels < 1) {
    return -1;
  }
  const VolumeHeader& h = *data->volume->header;
  if (mask->header->x != h.x || mask->header->y != h.y || mask->header->z != h.z) return -1;
  if (!ensure_rtnns_prepared(data, table)) return -1;
  RtnnRegionStatistics s;
  std::vector<RtnnVoxelEvaluator> evaluators(table->entries.size());
  for (size_t n = 0; n < table->entries.size(); ++n) {
    const RtnnEntry& e = table->entries[n];
    if (!evaluators[n].bind(e, data)) return -1;
    for (int k = 0; k < e.network->output_size; ++k) {
      RtnnOutputStatistics o;
      o.name = k < static_cast<int>(e.output_names.size()) ? e.output_names[k] : e.network->name;
      s.outputs.push_back(o);
    }
  }
  const int64_t voxels = int64_t(h.x) * h.y * h.z;
  std::vector<float> values(s.outputs.size());
  for (int64_t i = 0; i < voxels; ++i) {
    if (!mask_is_one(mask, i)) continue;
    // A voxel is counted only when every network gives finite values there: one
    // background voxel would otherwise poison every figure of the region.
    size_t slot = 0;
    bool usable = true;
    for (size_t n = 0; n < table->entries.size() && usable; ++n) {
      const float* out = evaluators[n].evaluate(i, true);
      if (!out) {
        usable = false;
        break;
      }
      const RunTimeNeuralNetwork& net = *table->entries[n].network;
      for (int k = 0; k < net.output_size; ++k) values[slot++] = rtnn_clamped_output(net, k, out[k]);
    }
    if (!usable) {
      ++s.skipped;
      continue;
    }
    for (size_t k = 0; k < values.size(); ++k) {
      RtnnOutputStatistics& o = s.outputs[k];
      const double v = values[k];
      if (s.count == 0) {
        o.minimum = o.maximum = v;
      } else {
        o.minimum = std::min(o.minimum, v);
        o.maximum = std::max(o.maximum, v);
      }
      o.sum += v;
      o.sum_of_squares += v * v;
    }
    ++s.count;
  }
  for (RtnnOutputStatistics& o : s.outputs) {
    if (s.count > 0) {
      const double mean = o.sum / s.count;
      // Cancellation can take a constant output slightly below zero.
      const double variance = std::max(0.0, o.sum_of_squares / s.count - mean * mean);
      o.mean = static_cast<float>(mean);
      o.variance = static_cast<float>(variance);
      o.deviation = static_cast<float>(std::sqrt(variance));
    }
    if (text) {
      if (s.count > 0) {
        append_format(text, "  %s: %3.2f - %3.2f (%3.2f / %3.2f)\n", o.name.c_str(), o.minimum,
                      o.maximum, static_cast<double>(o.mean), static_cast<double>(o.deviation));
      } else {
        append_format(text, "  %s: no voxels\n", o.name.c_str());
      }
    }
  }
  if (statistics) *statistics = std::move(s);
  return 0;
}

std::optional<std::string> rtnn_statistics_text(RtnnTable* table,
                                                const DiffusionTensorImageData* data,
                                                const RawVolumeData* mask) {
  std::string lines;
  if (compute_rtnn_region_statistics(table, data, mask, &lines) != 0) return std::nullopt;
  return lines;
}

VolumePtr compute_rtnn_map_volume(const DiffusionTensorImageData* data, int16_t threshold,
                                  const RtnnEntry& entry, int threads,
                                  const WorkRunOptions& options, int* failed_slices) {
  if (failed_slices) *failed_slices = 0;
  if (!data || !data->volume || !data->volume->header || !entry.network ||
      !rtnn_entry_ready(entry, rtnn_mpg_fingerprint(data))) {
    return nullptr;
  }
  const VolumeHeader h = *data->volume->header;
  const int outputs = entry.network->output_size;
  std::vector<int32_t> types(outputs, ZTR_TYPE_INT16), attributes(outputs, ZTR_ATTRIBUTE_PLAIN);
  VolumePtr maps(ZTR_NewRawVolumeData({h.x, h.y, h.z, outputs}, types.data(), attributes.data()));
  if (!maps) {
    std::fprintf(stderr, "Err: Insufficient memory\n");
    return nullptr;
  }
  std::vector<int16_t*> channel(outputs);
  for (int k = 0; k < outputs; ++k) channel[k] = ZTR_ChannelData<int16_t>(maps.get(), k);
  const int16_t* so = ZTR_ChannelData<int16_t>(data->volume, 0);
  const RunTimeNeuralNetwork& net = *entry.network;
  const int64_t slice = int64_t(h.x) * h.y;
  std::atomic<int> computed{0};

  auto worker = [&](const WorkPart& part) {
    RtnnVoxelEvaluator evaluator;
    if (!evaluator.bind(entry, data)) return;
    for (int k = 0; k < part.count; ++k) {
      const int64_t begin = slice * (part.first + k);
      for (int64_t i = begin; i < begin + slice; ++i) {
        if (so[i] <= threshold) continue;  // outputs start at 0
        const float* y = evaluator.evaluate(i, true);
        if (!y) continue;
        for (int o = 0; o < outputs; ++o) channel[o][i] = rtnn_map_value(net, o, y[o]);
      }
      part.done->store(k + 1, std::memory_order_relaxed);
      computed.fetch_add(1, std::memory_order_relaxed);
    }
  };
  const int clamped = std::clamp(threads, 1, 512);
  const int parts = static_cast<int>(split_work(h.z, clamped).size());
  // The progress format carries one %d; the worker count is known now.
  char format[96];
  std::snprintf(format, sizeof format, "\rRTNN-based CC Computation %%d%%%% completed (%d threads)", parts);
  WorkRunOptions run = options;
  if (!run.progress_format) run.progress_format = format;
  run_split_work(h.z, clamped, worker, run);
  // Slices of a worker that could not start or set up were never computed: say so, the map
  // would otherwise look complete.
  const int lost = h.z - computed.load(std::memory_order_relaxed);
  if (lost > 0) std::fprintf(stderr, "Warning: %d slices not computed\n", lost);
  if (failed_slices) *failed_slices = lost;
  return maps;
}

int compute_rtnn_maps(DiffusionTensorImageData* data, int16_t threshold, const RtnnEntry& entry,
                      int threads, int* first) {
  VolumePtr maps = compute_rtnn_map_volume(data, threshold, entry, threads);
  if (!maps) return 0;
  RawVolumeData* volume = data->volume;
  const int32_t before = volume->header->channels;
  const int outputs = maps->header->channels;
  for (int k = 0; k < outputs; ++k) {
    if (ZTR_AppendChannelCopy(volume, maps.get(), k) != 0) {
      // All or nothing: the caller uploads exactly the channels it is told were added.
      while (volume->header->channels > before) {
        if (ZTR_RemoveChannel(volume, volume->header->channels - 1) != 0) break;
      }
      std::fprintf(stderr, "Err: RTNN maps could not be appended\n");
      return 0;
    }
  }
  if (first) *first = before;
  return outputs;
}

bool make_rtnn_preview(const DiffusionTensorImageData* data, const RtnnTable& table, int threads,
                       RtnnPreview* preview) {
  if (!preview || !data || !data->volume || !data->volume->header || table.count() == 0 ||
      count_rtnn_outputs(table) > ZTR_RTNN_MAX_OUTPUTS) {
    return false;
  }
  const VolumeHeader& h = *data->volume->header;
  const int width = h.x / 2, height = h.y / 2;
  if (width < 1 || height < 1 || h.z < 1 || data->dti_channels > h.channels) return false;
  std::fprintf(stderr, ">>> Making preview images\n");
  const double start = seconds_now();
  // The middle half of the central slice, with the data's MPG setting.
  const int n = data->dti_channels;
  std::vector<int32_t> types(n, ZTR_TYPE_INT16), attributes(n, ZTR_ATTRIBUTE_PLAIN);
  VolumePtr crop(ZTR_NewRawVolumeData({width, height, 1, n}, types.data(), attributes.data()));
  if (!crop) return false;
  for (int c = 0; c < n; ++c) {
    if (data->volume->types[c] != ZTR_TYPE_INT16) return false;
    const int16_t* from = ZTR_ChannelData<int16_t>(data->volume, c);
    int16_t* to = ZTR_ChannelData<int16_t>(crop.get(), c);
    const int z = h.z / 2;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        to[int64_t(y) * width + x] = from[(int64_t(z) * h.y + (h.y / 4 + y)) * h.x + (h.x / 4 + x)];
      }
    }
  }
  DtiDataPtr copy(ZTRdti_NewDiffusionTensorImageData(crop.get(), n));
  if (!copy) return false;
  copy->b0_channels = data->b0_channels;
  std::memcpy(copy->b_value, data->b_value, sizeof data->b_value);
  std::memcpy(copy->mpg_vector, data->mpg_vector, sizeof data->mpg_vector);
  copy->voxel_size = data->voxel_size;
  copy->mpg_ready = data->mpg_ready;
  const int16_t threshold = static_cast<int16_t>(central_signal_level(data->volume) / 8);

  RtnnPreview result;
  result.width = width;
  result.height = height;
  for (size_t e = 0; e < table.entries.size(); ++e) {
    const RtnnEntry& entry = table.entries[e];
    WorkRunOptions quiet;
    VolumePtr maps = compute_rtnn_map_volume(copy.get(), threshold, entry, threads, quiet);
    if (!maps) return false;
    const RunTimeNeuralNetwork& net = *entry.network;
    for (int k = 0; k < net.output_size; ++k) {
      const float lower = net.output_lower[k], upper = net.output_upper[k];
      const int16_t* map = ZTR_ChannelData<int16_t>(maps.get(), k);
      std::vector<uint8_t> panel(size_t(width) * height, 0);
      for (size_t i = 0; i < panel.size(); ++i) {
        const float t = upper > lower ? (map[i] - lower) / (upper - lower) * 255.0f : 0.0f;
        panel[i] = static_cast<uint8_t>(std::clamp(t, 0.0f, 255.0f));
      }
      result.panels.push_back(std::move(panel));
      result.names.push_back(k < static_cast<int>(entry.output_names.size()) ? entry.output_names[k] : net.name);
      result.network.push_back(static_cast<int>(e));
      result.output.push_back(k);
    }
  }
  std::fprintf(stderr, "%s in %3.2f sec.\n", "Analysis completed", seconds_now() - start);
  *preview = std::move(result);
  return true;
}
