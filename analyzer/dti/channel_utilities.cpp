// Threshold binarisation of a channel and the signed 16-bit box histogram of a channel.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "analyzer/dti/numerical.h"

namespace {

bool has_channel(const RawVolumeData* volume, int32_t channel) {
  return volume != nullptr && volume->header != nullptr && channel >= 0 &&
         channel < volume->header->channels && volume->data != nullptr &&
         volume->data[channel] != nullptr && ZTR_IsValidVoxelType(volume->types[channel]);
}

template <class T>
int64_t binarize(T* data, int64_t count, float threshold) {
  int64_t set = 0;
  if constexpr (std::is_floating_point_v<T>) {
    const T limit = static_cast<T>(threshold);
    for (int64_t i = 0; i < count; ++i) {
      const bool on = data[i] >= limit;
      data[i] = on ? T(1) : T(0);
      set += on;
    }
  } else {
    // The threshold truncated toward zero, compared exactly in double: the same result as a
    // comparison in the channel's type whenever the threshold fits that type, and still
    // defined when it does not (a threshold above the type's range sets nothing).
    const double limit = std::trunc(static_cast<double>(threshold));
    for (int64_t i = 0; i < count; ++i) {
      const bool on = static_cast<double>(data[i]) >= limit;
      data[i] = on ? T(1) : T(0);
      set += on;
    }
  }
  return set;
}

}  // namespace

int64_t ZTRnumerical_BinarizeChannel(RawVolumeData* volume, int32_t channel, float threshold) {
  if (!has_channel(volume, channel)) return -1;
  const int64_t count = ZTR_GetNumberOfVoxels(volume);
  if (count <= 0) return -1;
  void* data = volume->data[channel];
  switch (volume->types[channel]) {
    case ZTR_TYPE_UINT8: return binarize(static_cast<uint8_t*>(data), count, threshold);
    case ZTR_TYPE_INT8: return binarize(static_cast<int8_t*>(data), count, threshold);
    case ZTR_TYPE_UINT16: return binarize(static_cast<uint16_t*>(data), count, threshold);
    case ZTR_TYPE_INT16: return binarize(static_cast<int16_t*>(data), count, threshold);
    case ZTR_TYPE_UINT32: return binarize(static_cast<uint32_t*>(data), count, threshold);
    case ZTR_TYPE_INT32: return binarize(static_cast<int32_t*>(data), count, threshold);
    case ZTR_TYPE_FLOAT32: return binarize(static_cast<float*>(data), count, threshold);
    case ZTR_TYPE_FLOAT64: return binarize(static_cast<double*>(data), count, threshold);
    default: return -1;
  }
}

ZTR_HISTOGRAM* ZTRnumerical_GetBoxHistogram(const RawVolumeData* volume, int32_t channel,
                                            const int32_t* start, const int32_t* size) {
  if (!has_channel(volume, channel)) return nullptr;
  const VolumeHeader& h = *volume->header;
  const int32_t dims[3] = {h.x, h.y, h.z};
  int64_t lo[3] = {0, 0, 0};
  int64_t hi[3] = {dims[0], dims[1], dims[2]};  // exclusive
  const bool whole = start == nullptr || size == nullptr || size[0] == 0 || size[1] == 0 ||
                     size[2] == 0;
  if (!whole) {
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::max<int64_t>(start[a], 0);
      hi[a] = std::min<int64_t>(int64_t(start[a]) + size[a], dims[a]);
      if (hi[a] <= lo[a]) return nullptr;  // negative size or box outside the volume
    }
  }
  const int64_t count = ZTR_GetNumberOfVoxels(volume);
  const void* data = volume->data[channel];
  const int32_t type = volume->types[channel];

  std::vector<int64_t> table;
  try {
    table.assign(65536, 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  int32_t minimum = 0, maximum = 0;
  bool first = true;
  for (int64_t k = lo[2]; k < hi[2]; ++k) {
    for (int64_t j = lo[1]; j < hi[1]; ++j) {
      for (int64_t i = lo[0]; i < hi[0]; ++i) {
        const int64_t index = i + int64_t(dims[0]) * (j + int64_t(dims[1]) * k);
        const float raw = ZTR_GetVoxelValueAsFloat(data, type, count, index);
        // Values outside the signed 16-bit range (or not a number) would fall outside the
        // counter table: they are counted at the nearest end of the range.
        int32_t value = 0;
        if (raw >= 32767.0f) {
          value = 32767;
        } else if (raw <= -32768.0f) {
          value = -32768;
        } else if (raw == raw) {
          value = static_cast<int32_t>(raw);
        }
        if (first) {
          minimum = maximum = value;
          first = false;
        }
        minimum = std::min(minimum, value);
        maximum = std::max(maximum, value);
        ++table[static_cast<size_t>(value + 32768)];
      }
    }
  }
  auto* histogram = static_cast<ZTR_HISTOGRAM*>(std::calloc(1, sizeof(ZTR_HISTOGRAM)));
  if (histogram == nullptr) return nullptr;
  histogram->bins = maximum - minimum + 1;
  histogram->minimum = minimum;
  histogram->maximum = maximum;
  histogram->counts =
      static_cast<int64_t*>(std::calloc(static_cast<size_t>(histogram->bins), sizeof(int64_t)));
  if (histogram->counts == nullptr) {
    std::free(histogram);
    return nullptr;
  }
  for (int32_t b = 0; b < histogram->bins; ++b) {
    const int64_t c = table[static_cast<size_t>(minimum + b + 32768)];
    histogram->counts[b] = c;
    if (c > histogram->peak_count) {
      histogram->peak_count = c;
      histogram->peak_index = b;
    }
  }
  return histogram;
}

void ZTRnumerical_DeleteBoxHistogram(ZTR_HISTOGRAM* histogram) {
  if (histogram == nullptr) return;
  std::free(histogram->counts);
  std::free(histogram);
}
