// The packed RGBA sampler, type dispatch for sampling, and grid resampling.
#include "sdk/volume/sampling.h"

#include <cstring>
#include <utility>

#include "sdk/volume/volume_internal.h"

using namespace ztr_volume_detail;

namespace {

// Like linear_axis but clamped to the grid: 0..n-1, last cell n-2..n-1.
LinearAxis clamped_axis(float p, int32_t n) {
  if (n <= 1) return {0, 0, 0.0f};
  const float top = static_cast<float>(n - 1);
  if (!(p > 0.0f)) p = 0.0f;  // also catches NaN
  if (p > top) p = top;
  int64_t i = static_cast<int64_t>(p);
  if (i > n - 2) i = n - 2;
  return {i, i + 1, p - static_cast<float>(i)};
}

// Position along an output axis of n_out samples over a source axis of n_in voxels.
float source_position(int64_t i, int32_t n_in, int32_t n_out) {
  if (n_out <= 1) return 0.0f;
  return static_cast<float>(static_cast<double>(i) * (n_in - 1) / (n_out - 1));
}

bool packed_rgba(int32_t type, int32_t attribute) {
  // Only an unsigned 32-bit channel can be read as packed components; other channels that
  // carry a non-zero attribute are sampled as plain values.
  return attribute != ZTR_ATTRIBUTE_PLAIN && type == ZTR_TYPE_UINT32;
}

// Fills `out` (x_out * y_out * z_out elements of the source type) by sampling `in`.
template <class T>
void resample_block(const T* in, const int32_t in_size[3], T* out, const int32_t out_size[3],
                    int mode, bool rgba) {
  const int64_t out_row = out_size[0];
  const int64_t out_slice = out_row * out_size[1];
  // All slices but the last are sampled; the last repeats the one before it.
  const int32_t sampled_slices = out_size[2] > 1 ? out_size[2] - 1 : 1;
  for (int32_t k = 0; k < sampled_slices; ++k) {
    const float pz = source_position(k, in_size[2], out_size[2]);
    for (int32_t j = 0; j < out_size[1]; ++j) {
      const float py = source_position(j, in_size[1], out_size[1]);
      T* row = out + k * out_slice + j * out_row;
      for (int32_t i = 0; i < out_size[0]; ++i) {
        const float px = source_position(i, in_size[0], out_size[0]);
        if (mode == 0) {
          row[i] = static_cast<T>(
              ZTR_SampleNearest(in, in_size[0], in_size[1], in_size[2], px, py, pz));
        } else if constexpr (std::is_same_v<T, uint32_t>) {
          row[i] = rgba ? ZTR_SampleLinearRgba(in, in_size[0], in_size[1], in_size[2], px, py, pz)
                        : ZTR_SampleLinear(in, in_size[0], in_size[1], in_size[2], px, py, pz);
        } else {
          row[i] = static_cast<T>(
              ZTR_SampleLinear(in, in_size[0], in_size[1], in_size[2], px, py, pz));
        }
      }
    }
  }
  if (out_size[2] > 1) {
    std::memcpy(out + (out_size[2] - 1) * out_slice, out + (out_size[2] - 2) * out_slice,
                static_cast<size_t>(out_slice) * sizeof(T));
  }
}

void resample_channel(const void* in, const int32_t in_size[3], void* out,
                      const int32_t out_size[3], int32_t type, int32_t attribute, int mode) {
  visit_voxel_type(type, [&](auto t) {
    using T = decltype(t);
    resample_block(static_cast<const T*>(in), in_size, static_cast<T*>(out), out_size, mode,
                   packed_rgba(type, attribute));
  });
}

}  // namespace

uint32_t ZTR_SampleLinearRgba(const uint32_t* data, int32_t x, int32_t y, int32_t z, float px,
                              float py, float pz) {
  const LinearAxis ax = clamped_axis(px, x);
  const LinearAxis ay = clamped_axis(py, y);
  const LinearAxis az = clamped_axis(pz, z);
  const int64_t row = x;
  const int64_t slice = int64_t{x} * y;
  const uint32_t v[8] = {
      data[ax.low + row * ay.low + slice * az.low],   data[ax.high + row * ay.low + slice * az.low],
      data[ax.low + row * ay.high + slice * az.low],  data[ax.high + row * ay.high + slice * az.low],
      data[ax.low + row * ay.low + slice * az.high],  data[ax.high + row * ay.low + slice * az.high],
      data[ax.low + row * ay.high + slice * az.high], data[ax.high + row * ay.high + slice * az.high],
  };
  uint32_t result = 0;
  for (int shift = 24; shift >= 0; shift -= 8) {
    float c[8];
    for (int n = 0; n < 8; ++n) c[n] = static_cast<float>((v[n] >> shift) & 0xFFu);
    const float c0 = blend(blend(c[0], c[1], ax.fraction), blend(c[2], c[3], ax.fraction),
                           ay.fraction);
    const float c1 = blend(blend(c[4], c[5], ax.fraction), blend(c[6], c[7], ax.fraction),
                           ay.fraction);
    float value = blend(c0, c1, az.fraction);
    value = std::clamp(value, 0.0f, 255.0f);
    result |= static_cast<uint32_t>(value) << shift;
  }
  return result;
}

double ZTR_SampleChannel(const RawVolumeData* volume, int32_t channel, float px, float py,
                         float pz, int mode) {
  if (!channel_in_range(volume, channel) || (mode != 0 && mode != 1)) return 0.0;
  const int32_t x = volume->header->x, y = volume->header->y, z = volume->header->z;
  const int32_t type = volume->types[channel];
  double result = 0.0;
  visit_voxel_type(type, [&](auto t) {
    using T = decltype(t);
    const T* data = static_cast<const T*>(volume->data[channel]);
    if (mode == 0) {
      result = static_cast<double>(ZTR_SampleNearest(data, x, y, z, px, py, pz));
    } else if constexpr (std::is_same_v<T, uint32_t>) {
      result = packed_rgba(type, volume->attributes[channel])
                   ? ZTR_SampleLinearRgba(data, x, y, z, px, py, pz)
                   : ZTR_SampleLinear(data, x, y, z, px, py, pz);
    } else {
      result = static_cast<double>(ZTR_SampleLinear(data, x, y, z, px, py, pz));
    }
  });
  return result;
}

int ZTR_ResampleRawVolumeData(RawVolumeData* volume, const int32_t new_size[3], int mode) {
  if (volume == nullptr || volume->header == nullptr || new_size == nullptr) return -1;
  if (mode != 0 && mode != 1) return -1;
  const VolumeHeader header{new_size[0], new_size[1], new_size[2], volume->header->channels};
  RawVolumeData* resampled = allocate_volume(header, volume->types, volume->attributes, false);
  if (resampled == nullptr) return -1;
  const int32_t in_size[3] = {volume->header->x, volume->header->y, volume->header->z};
  for (int32_t c = 0; c < header.channels; ++c) {
    resample_channel(volume->data[c], in_size, resampled->data[c], new_size, volume->types[c],
                     volume->attributes[c], mode);
  }
  ZTR_SwapRawVolumeData(volume, resampled);
  ZTR_DeleteRawVolumeData(resampled);
  return 0;
}

int ZTR_ResampleRawImageData(RawImageData* image, const int32_t new_size[2], int mode) {
  if (image == nullptr || image->header == nullptr || new_size == nullptr) return -1;
  if (mode != 0 && mode != 1) return -1;
  const ImageHeader header{new_size[0], new_size[1], image->header->channels};
  RawImageData* resampled = ZTR_NewRawImageData(header, image->types, image->attributes);
  if (resampled == nullptr) return -1;
  const int32_t in_size[3] = {image->header->x, image->header->y, 1};
  const int32_t out_size[3] = {new_size[0], new_size[1], 1};
  for (int32_t c = 0; c < header.channels; ++c) {
    resample_channel(image->data[c], in_size, resampled->data[c], out_size, image->types[c],
                     image->attributes[c], mode);
  }
  std::swap(*image, *resampled);
  ZTR_DeleteRawImageData(resampled);
  return 0;
}
