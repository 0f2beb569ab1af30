// Padding, shrinking, cropping, box copies, mirroring, rotation and voxel writes.
#include "sdk/volume/geometry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "sdk/volume/volume_internal.h"

using namespace ztr_volume_detail;

namespace {

constexpr int64_t kMaxDim = std::numeric_limits<int32_t>::max();

// Source index along an axis of n voxels for coordinate q (relative to the volume), or -1
// for a zero-filled position. Mirror: reflection about each face with the edge voxel
// repeated, continued periodically so that any margin is defined. Repeat: clamped.
int64_t border_index(int64_t q, int64_t n, int mode) {
  if (q >= 0 && q < n) return q;
  switch (mode) {
    case ZTR_PADDING_MIRROR: {
      const int64_t period = 2 * n;
      int64_t r = q % period;
      if (r < 0) r += period;
      return r < n ? r : period - 1 - r;
    }
    case ZTR_PADDING_REPEAT:
      return q < 0 ? 0 : n - 1;
    default:
      return -1;
  }
}

// Fills one output channel of `size` from the source channel, reading the region that starts
// at `origin` (may reach outside the source) with the border rule of `mode`.
template <class E>
void fill_region(const E* in, const int64_t dims[3], E* out, const int64_t origin[3],
                 const int64_t size[3], int mode) {
  std::vector<int64_t> x_index(static_cast<size_t>(size[0]));
  for (int64_t i = 0; i < size[0]; ++i) x_index[i] = border_index(origin[0] + i, dims[0], mode);
  // The run of output x positions that map straight onto the source row.
  const int64_t run_begin = std::clamp<int64_t>(-origin[0], 0, size[0]);
  const int64_t run_end = std::clamp<int64_t>(dims[0] - origin[0], run_begin, size[0]);
  for (int64_t k = 0; k < size[2]; ++k) {
    const int64_t sk = border_index(origin[2] + k, dims[2], mode);
    for (int64_t j = 0; j < size[1]; ++j) {
      const int64_t sj = border_index(origin[1] + j, dims[1], mode);
      E* row = out + (k * size[1] + j) * size[0];
      if (sk < 0 || sj < 0) {
        std::fill(row, row + size[0], E{});
        continue;
      }
      const E* source_row = in + (sk * dims[1] + sj) * dims[0];
      for (int64_t i = 0; i < run_begin; ++i) {
        row[i] = x_index[i] < 0 ? E{} : source_row[x_index[i]];
      }
      if (run_end > run_begin) {
        std::memcpy(row + run_begin, source_row + origin[0] + run_begin,
                    static_cast<size_t>(run_end - run_begin) * sizeof(E));
      }
      for (int64_t i = run_end; i < size[0]; ++i) {
        row[i] = x_index[i] < 0 ? E{} : source_row[x_index[i]];
      }
    }
  }
}

// Calls f with an unsigned integer of the given byte width (1, 2, 4 or 8).
template <class F>
void visit_element_size(int32_t bytes, F&& f) {
  switch (bytes) {
    case 1: f(uint8_t{}); break;
    case 2: f(uint16_t{}); break;
    case 4: f(uint32_t{}); break;
    case 8: f(uint64_t{}); break;
    default: break;
  }
}

// A new record holding the region (origin, size) of every channel, padded per mode where
// the region leaves the volume; nullptr on refusal or exhaustion.
RawVolumeData* extract_region(const RawVolumeData* volume, const int64_t origin[3],
                              const int64_t size[3], int mode) {
  if (mode != ZTR_PADDING_ZERO && mode != ZTR_PADDING_MIRROR && mode != ZTR_PADDING_REPEAT) {
    return nullptr;
  }
  for (int a = 0; a < 3; ++a) {
    if (size[a] <= 0 || size[a] > kMaxDim) return nullptr;
  }
  const VolumeHeader header{static_cast<int32_t>(size[0]), static_cast<int32_t>(size[1]),
                            static_cast<int32_t>(size[2]), volume->header->channels};
  RawVolumeData* region = allocate_volume(header, volume->types, volume->attributes, false);
  if (region == nullptr) return nullptr;
  const int64_t dims[3] = {volume->header->x, volume->header->y, volume->header->z};
  for (int32_t c = 0; c < header.channels; ++c) {
    visit_element_size(ZTR_GetBytesPerVoxel(volume->types[c]), [&](auto e) {
      using E = decltype(e);
      fill_region(static_cast<const E*>(volume->data[c]), dims, static_cast<E*>(region->data[c]),
                  origin, size, mode);
    });
  }
  return region;
}

int replace_with_region(RawVolumeData* volume, const int64_t origin[3], const int64_t size[3],
                        int mode) {
  RawVolumeData* region = extract_region(volume, origin, size, mode);
  if (region == nullptr) return -1;
  ZTR_SwapRawVolumeData(volume, region);
  ZTR_DeleteRawVolumeData(region);
  return 0;
}

bool valid_volume(const RawVolumeData* v) { return v != nullptr && v->header != nullptr; }

int axis_of(const char* axis) {
  if (axis == nullptr) return -1;
  if (std::strcmp(axis, "X") == 0 || std::strcmp(axis, "x") == 0) return 0;
  if (std::strcmp(axis, "Y") == 0 || std::strcmp(axis, "y") == 0) return 1;
  if (std::strcmp(axis, "Z") == 0 || std::strcmp(axis, "z") == 0) return 2;
  return -1;
}

// Rotates one channel block; `to` has the exchanged dimensions.
template <class E>
void rotate_block(const E* from, E* to, int64_t X, int64_t Y, int64_t Z, int axis) {
  for (int64_t k = 0; k < Z; ++k) {
    for (int64_t j = 0; j < Y; ++j) {
      const E* row = from + (k * Y + j) * X;
      for (int64_t i = 0; i < X; ++i) {
        int64_t n = 0;
        switch (axis) {
          case 0: n = i + X * (k + Z * (Y - 1 - j)); break;  // X*Z*Y, (i, k, Y-1-j)
          case 1: n = (Z - 1 - k) + Z * (j + Y * i); break;  // Z*Y*X, (Z-1-k, j, i)
          default: n = j + Y * ((X - 1 - i) + X * k); break;  // Y*X*Z, (j, X-1-i, k)
        }
        to[n] = row[i];
      }
    }
  }
}

}  // namespace

int ZTR_ExpandRawVolumeData(RawVolumeData* volume, int32_t margin, int mode) {
  if (!valid_volume(volume) || margin < 0) return -1;
  const int64_t m = margin;
  const int64_t origin[3] = {-m, -m, -m};
  const int64_t size[3] = {volume->header->x + 2 * m, volume->header->y + 2 * m,
                           volume->header->z + 2 * m};
  return replace_with_region(volume, origin, size, mode);
}

int ZTR_ShrinkRawVolumeData(RawVolumeData* volume, int32_t margin) {
  if (!valid_volume(volume) || margin < 0) return -1;
  const int64_t m = margin;
  const int64_t origin[3] = {m, m, m};
  const int64_t size[3] = {volume->header->x - 2 * m, volume->header->y - 2 * m,
                           volume->header->z - 2 * m};
  return replace_with_region(volume, origin, size, ZTR_PADDING_ZERO);
}

int ZTR_CropRawVolumeData(RawVolumeData* volume, const ZTR_BOX& box, int mode) {
  if (!valid_volume(volume)) return -1;
  const int64_t origin[3] = {box.origin[0], box.origin[1], box.origin[2]};
  const int64_t size[3] = {box.size[0], box.size[1], box.size[2]};
  return replace_with_region(volume, origin, size, mode);
}

int ZTR_CopyBox(const RawVolumeData* source, int32_t source_channel, RawVolumeData* destination,
                int32_t destination_channel, const ZTR_BOX& box,
                const int32_t destination_origin[3]) {
  if (!channel_in_range(source, source_channel) ||
      !channel_in_range(destination, destination_channel) || destination_origin == nullptr) {
    return -1;
  }
  const int32_t type = source->types[source_channel];
  if (type != destination->types[destination_channel] || !ZTR_IsValidVoxelType(type)) return -1;
  ZTR_BOX moved = box;
  for (int a = 0; a < 3; ++a) moved.origin[a] = destination_origin[a];
  if (!ZTR_IsBoxInsideVolume(box, *source) || !ZTR_IsBoxInsideVolume(moved, *destination)) {
    return -1;
  }
  const size_t bpv = static_cast<size_t>(ZTR_GetBytesPerVoxel(type));
  const auto* in = static_cast<const unsigned char*>(source->data[source_channel]);
  auto* out = static_cast<unsigned char*>(destination->data[destination_channel]);
  const int64_t sx = source->header->x, sy = source->header->y;
  const int64_t dx = destination->header->x, dy = destination->header->y;
  const size_t row_bytes = static_cast<size_t>(box.size[0]) * bpv;
  // Within one block overlapping boxes go through a temporary copy of the box.
  std::vector<unsigned char> staging;
  int64_t stride_y = sx, stride_z = sx * sy;
  int64_t base = box.origin[0] + sx * (box.origin[1] + sy * int64_t{box.origin[2]});
  if (in == out) {
    bool overlap = true;
    for (int a = 0; a < 3; ++a) {
      overlap = overlap && box.origin[a] < moved.origin[a] + box.size[a] &&
                moved.origin[a] < box.origin[a] + box.size[a];
    }
    if (overlap) {
      staging.resize(row_bytes * static_cast<size_t>(box.size[1]) * box.size[2]);
      for (int64_t k = 0; k < box.size[2]; ++k) {
        for (int64_t j = 0; j < box.size[1]; ++j) {
          std::memcpy(staging.data() + row_bytes * (j + box.size[1] * k),
                      in + bpv * (base + stride_y * j + stride_z * k), row_bytes);
        }
      }
      in = staging.data();
      base = 0;
      stride_y = box.size[0];
      stride_z = int64_t{box.size[0]} * box.size[1];
    }
  }
  for (int64_t k = 0; k < box.size[2]; ++k) {
    for (int64_t j = 0; j < box.size[1]; ++j) {
      const int64_t to = moved.origin[0] + dx * (moved.origin[1] + j + dy * (moved.origin[2] + k));
      std::memcpy(out + bpv * to, in + bpv * (base + stride_y * j + stride_z * k), row_bytes);
    }
  }
  return 0;
}

int ZTR_FlipChannel(RawVolumeData* volume, int32_t channel, const ZTR_BOX* box,
                    const char* axis) {
  const int a = axis_of(axis);
  if (a < 0 || !channel_in_range(volume, channel)) return -1;
  const int32_t type = volume->types[channel];
  if (!ZTR_IsValidVoxelType(type)) return -1;
  const ZTR_BOX region = box != nullptr ? *box : ZTR_GetVolumeBox(*volume);
  if (!ZTR_IsBoxInsideVolume(region, *volume)) return -1;
  const size_t bpv = static_cast<size_t>(ZTR_GetBytesPerVoxel(type));
  auto* data = static_cast<unsigned char*>(volume->data[channel]);
  const int64_t X = volume->header->x, Y = volume->header->y;
  auto at = [&](int64_t i, int64_t j, int64_t k) { return data + bpv * (i + X * (j + Y * k)); };
  const int64_t o[3] = {region.origin[0], region.origin[1], region.origin[2]};
  const int64_t sx = region.size[0], sy = region.size[1], sz = region.size[2];
  if (a == 0) {
    unsigned char element[8];
    for (int64_t k = 0; k < sz; ++k) {
      for (int64_t j = 0; j < sy; ++j) {
        for (int64_t t = 0; t < sx / 2; ++t) {
          unsigned char* p = at(o[0] + t, o[1] + j, o[2] + k);
          unsigned char* q = at(o[0] + sx - 1 - t, o[1] + j, o[2] + k);
          std::memcpy(element, p, bpv);
          std::memcpy(p, q, bpv);
          std::memcpy(q, element, bpv);
        }
      }
    }
    return 0;
  }
  const size_t row_bytes = static_cast<size_t>(sx) * bpv;
  // The row buffer belongs to this call.
  std::unique_ptr<unsigned char, decltype(&std::free)> buffer(
      static_cast<unsigned char*>(std::malloc(row_bytes)), &std::free);
  if (buffer == nullptr) {
    std::fputs("arraySwapBuffer allocation fault\n", stderr);
    return -1;
  }
  auto swap_rows = [&](unsigned char* p, unsigned char* q) {
    std::memcpy(buffer.get(), p, row_bytes);
    std::memcpy(p, q, row_bytes);
    std::memcpy(q, buffer.get(), row_bytes);
  };
  if (a == 1) {
    for (int64_t k = 0; k < sz; ++k) {
      for (int64_t t = 0; t < sy / 2; ++t) {
        swap_rows(at(o[0], o[1] + t, o[2] + k), at(o[0], o[1] + sy - 1 - t, o[2] + k));
      }
    }
  } else {
    for (int64_t t = 0; t < sz / 2; ++t) {
      for (int64_t j = 0; j < sy; ++j) {
        swap_rows(at(o[0], o[1] + j, o[2] + t), at(o[0], o[1] + j, o[2] + sz - 1 - t));
      }
    }
  }
  return 0;
}

int ZTR_RotateRawVolumeData(RawVolumeData* volume, const char* axis) {
  const int a = axis_of(axis);
  if (a < 0 || !valid_volume(volume)) return -1;
  const int32_t X = volume->header->x, Y = volume->header->y, Z = volume->header->z;
  VolumeHeader header{X, Z, Y, volume->header->channels};
  if (a == 1) header = {Z, Y, X, volume->header->channels};
  if (a == 2) header = {Y, X, Z, volume->header->channels};
  RawVolumeData* rotated = allocate_volume(header, volume->types, volume->attributes, false);
  if (rotated == nullptr) return -1;
  for (int32_t c = 0; c < header.channels; ++c) {
    visit_element_size(ZTR_GetBytesPerVoxel(volume->types[c]), [&](auto e) {
      using E = decltype(e);
      rotate_block(static_cast<const E*>(volume->data[c]), static_cast<E*>(rotated->data[c]), X,
                   Y, Z, a);
    });
  }
  ZTR_SwapRawVolumeData(volume, rotated);
  ZTR_DeleteRawVolumeData(rotated);
  return 0;
}

int ZTR_SetVoxel(RawVolumeData* volume, int32_t channel, const int32_t position[3],
                 const void* value) {
  if (!channel_in_range(volume, channel) || position == nullptr || value == nullptr) return -1;
  const int64_t X = volume->header->x, Y = volume->header->y, Z = volume->header->z;
  const int64_t i = position[0], j = position[1], k = position[2];
  if (i < 0 || i >= X || j < 0 || j >= Y || k < 0 || k >= Z) return -1;
  const size_t bpv = static_cast<size_t>(ZTR_GetBytesPerVoxel(volume->types[channel]));
  if (bpv == 0) return -1;
  std::memcpy(static_cast<unsigned char*>(volume->data[channel]) + bpv * (i + X * (j + Y * k)),
              value, bpv);
  return 0;
}
