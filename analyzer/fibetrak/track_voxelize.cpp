// Voxelizations of the visible hairlines and tubes of tracking display groups: a grey
// volume, a packed colour volume and a mask.
#include <algorithm>
#include <cmath>
#include <functional>

#include "analyzer/fibetrak/track_display.h"

namespace {

// Calls visit(point, colour of the segment's end vertex) for the five points of every
// segment of every visible hairline and tube of the groups.
void for_each_splat(std::span<const ZTR_OBJECT_GROUP* const> groups, std::FILE* console,
                    const std::function<void(const ZTR_OBJECT_POINT&, const ZTR_OBJECT_COLOR&)>& visit) {
  for (const ZTR_OBJECT_GROUP* group : groups) {
    if (!group) continue;
    std::fprintf(console, "%d lines\n", group->count);
    const int32_t count = std::min<int32_t>(group->count, static_cast<int32_t>(group->objects.size()));
    for (int32_t i = 0; i < count; ++i) {
      if (!group->flags[static_cast<size_t>(i)] || !group->objects[static_cast<size_t>(i)]) continue;
      const std::vector<ZTR_OBJECT_POINT>* points = nullptr;
      const std::vector<ZTR_OBJECT_COLOR>* colors = nullptr;
      const int32_t type = group->types[static_cast<size_t>(i)];
      if (type == ZTR_OBJECT_TYPE_POLYLINE) {
        const auto* line = static_cast<const ZTR_POLYLINE_OBJECT*>(group->objects[static_cast<size_t>(i)]);
        points = &line->points;
        colors = &line->colors;
      } else if (type == ZTR_OBJECT_TYPE_TUBE) {
        const auto* tube = static_cast<const ZTR_TUBE_OBJECT*>(group->objects[static_cast<size_t>(i)]);
        points = &tube->points;
        colors = &tube->colors;
      } else {
        continue;
      }
      for (size_t k = 0; k + 1 < points->size(); ++k) {
        const ZTR_OBJECT_POINT& a = (*points)[k];
        const ZTR_OBJECT_POINT& b = (*points)[k + 1];
        const ZTR_OBJECT_COLOR value =
            colors->size() == points->size() ? (*colors)[k + 1] : ZTR_OBJECT_COLOR{1, 1, 1, 1};
        const ZTR_OBJECT_POINT splats[5] = {
            a, b, {(a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2},
            {(2 * a.x + b.x) / 3, (2 * a.y + b.y) / 3, (2 * a.z + b.z) / 3},
            {(a.x + 2 * b.x) / 3, (a.y + 2 * b.y) / 3, (a.z + 2 * b.z) / 3}};
        for (const auto& p : splats) visit(p, value);
      }
    }
  }
}

// Calls add(index, weight) for the neighbours of p inside the volume. The cell is found with
// floor, so that a point just below 0 weighs on voxel 0 with a weight in 0 .. 1.
template <class Add>
void trilinear(const ZTR_OBJECT_POINT& p, const int32_t size[3], Add add) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return;
  const float pos[3] = {p.x, p.y, p.z};
  int64_t low[3];
  float fraction[3];
  for (int a = 0; a < 3; ++a) {
    if (pos[a] < -1.0f || pos[a] > static_cast<float>(size[a])) return;
    const float f = std::floor(pos[a]);
    low[a] = static_cast<int64_t>(f);
    fraction[a] = pos[a] - f;
  }
  for (int corner = 0; corner < 8; ++corner) {
    int64_t v[3];
    float w = 1.0f;
    bool inside = true;
    for (int a = 0; a < 3; ++a) {
      const int high = (corner >> a) & 1;
      v[a] = low[a] + high;
      w *= high ? fraction[a] : 1.0f - fraction[a];
      inside = inside && v[a] >= 0 && v[a] < size[a];
    }
    if (inside) add((v[2] * size[1] + v[1]) * size[0] + v[0], w);
  }
}

RawVolumeData* new_volume(const int32_t size[3], int32_t type, int32_t attribute) {
  if (size[0] < 1 || size[1] < 1 || size[2] < 1) return nullptr;
  return ZTR_NewRawVolumeData({size[0], size[1], size[2], 1}, &type, &attribute);
}

}  // namespace

RawVolumeData* voxelize_tracklines_grey(std::span<const ZTR_OBJECT_GROUP* const> groups,
                                        const int32_t size[3], std::FILE* console) {
  RawVolumeData* volume = new_volume(size, ZTR_TYPE_INT16, ZTR_ATTRIBUTE_PLAIN);
  if (!volume) return nullptr;
  int16_t* voxels = ZTR_ChannelData<int16_t>(volume, 0);
  const float q = static_cast<float>(size[0]) / 128.0f;
  for_each_splat(groups, console, [&](const ZTR_OBJECT_POINT& p, const ZTR_OBJECT_COLOR& c) {
    const float intensity = c.a * q;
    trilinear(p, size, [&](int64_t index, float w) {
      // Saturates instead of wrapping, so that a dense bundle stays the brightest.
      const float value = voxels[index] + w * 16.0f * intensity;
      voxels[index] = static_cast<int16_t>(std::clamp(std::trunc(value), -32768.0f, 32767.0f));
    });
  });
  return volume;
}

RawVolumeData* voxelize_tracklines_color(std::span<const ZTR_OBJECT_GROUP* const> groups,
                                         const int32_t size[3], std::FILE* console) {
  RawVolumeData* volume = new_volume(size, ZTR_TYPE_UINT32, ZTR_ATTRIBUTE_RGBA);
  if (!volume) return nullptr;
  uint32_t* voxels = ZTR_ChannelData<uint32_t>(volume, 0);
  const float q = static_cast<float>(size[0]) / 128.0f;
  for_each_splat(groups, console, [&](const ZTR_OBJECT_POINT& p, const ZTR_OBJECT_COLOR& c) {
    const float value[4] = {c.r * q, c.g * q, c.b * q, c.a * q};
    trilinear(p, size, [&](int64_t index, float w) {
      uint32_t packed = 0;
      for (int channel = 0; channel < 4; ++channel) {
        const int shift = 24 - 8 * channel;
        const float old = static_cast<float>((voxels[index] >> shift) & 0xFFu);
        const float sum = std::clamp(old + value[channel] * w * 8.0f, 0.0f, 255.0f);
        packed |= static_cast<uint32_t>(sum) << shift;
      }
      voxels[index] = packed;
    });
  });
  return volume;
}

RawVolumeData* voxelize_tracklines_mask(std::span<const ZTR_OBJECT_GROUP* const> groups,
                                        const int32_t size[3], std::FILE* console) {
  RawVolumeData* volume = new_volume(size, ZTR_TYPE_UINT8, ZTR_ATTRIBUTE_PLAIN);
  if (!volume) return nullptr;
  uint8_t* voxels = ZTR_ChannelData<uint8_t>(volume, 0);
  for_each_splat(groups, console, [&](const ZTR_OBJECT_POINT& p, const ZTR_OBJECT_COLOR&) {
    const float pos[3] = {p.x, p.y, p.z};
    int64_t v[3];
    for (int a = 0; a < 3; ++a) {
      // A point past the upper edge (a node just below the size plus the half-voxel offset)
      // belongs to no voxel.
      if (!(pos[a] >= 0.0f) || !(pos[a] < static_cast<float>(size[a]))) return;
      v[a] = static_cast<int64_t>(pos[a]);
    }
    voxels[(v[2] * size[1] + v[1]) * size[0] + v[0]] = 1;
  });
  return volume;
}
