// Display groups, mask shapes and the conversion of the visible ROIs to a channel.
#include "analyzer/objects/roi_display.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "analyzer/objects/roi_region.h"

namespace {

struct FaceSpec {
  int axis;   // 0 x, 1 y, 2 z
  int side;   // -1 the low face, +1 the high face
};
// The order the host expects the faces of one voxel in.
constexpr FaceSpec kFaces[6] = {{2, -1}, {2, 1}, {1, -1}, {1, 1}, {0, -1}, {0, 1}};

class MaskView {
 public:
  MaskView(const std::vector<uint8_t>& mask, const GridSize& size) : mask_(mask), size_(size) {}
  bool set(int64_t i, int64_t j, int64_t k) const {
    if (i < 0 || j < 0 || k < 0 || i >= size_[0] || j >= size_[1] || k >= size_[2]) return false;
    return mask_[size_t((k * size_[1] + j) * size_[0] + i)] == 1;
  }

 private:
  const std::vector<uint8_t>& mask_;
  const GridSize& size_;
};

int set_neighbours(const MaskView& m, int64_t i, int64_t j, int64_t k) {
  return m.set(i - 1, j, k) + m.set(i + 1, j, k) + m.set(i, j - 1, k) + m.set(i, j + 1, k) +
         m.set(i, j, k - 1) + m.set(i, j, k + 1);
}

ZTR_TRIANGULAR_MESH* voxel_mesh(const MaskView& m, int64_t i, int64_t j, int64_t k,
                                ZTR_OBJECT_POINT origin, float scale, int faces) {
  ZTR_TRIANGULAR_MESH* mesh = ZTR_NewTriangularMesh(2 * faces, 4 * faces, false);
  if (mesh == nullptr) return nullptr;
  const int64_t index[3] = {i, j, k};
  const float base[3] = {origin.x, origin.y, origin.z};
  float low[3], high[3];
  for (int a = 0; a < 3; ++a) {
    low[a] = (float(index[a]) - 0.5f) * scale + base[a];
    high[a] = (float(index[a]) + 0.5f) * scale + base[a];
  }
  int face = 0;
  for (const FaceSpec& f : kFaces) {
    int64_t n[3] = {i, j, k};
    n[f.axis] += f.side;
    if (m.set(n[0], n[1], n[2])) continue;
    // The two axes spanning the face, ordered so that the quad turns counter-clockwise seen
    // from outside.
    int s = (f.axis + 1) % 3, t = (f.axis + 2) % 3;
    if (f.side < 0) std::swap(s, t);
    const float plane = f.side < 0 ? low[f.axis] : high[f.axis];
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int c = 0; c < 4; ++c) {
      float p[3];
      p[f.axis] = plane;
      p[s] = corners[c][0] == 0 ? low[s] : high[s];
      p[t] = corners[c][1] == 0 ? low[t] : high[t];
      float normal[3] = {0, 0, 0};
      normal[f.axis] = float(f.side);
      mesh->vertices[size_t(4 * face + c)] = {p[0], p[1], p[2]};
      mesh->normals[size_t(4 * face + c)] = {normal[0], normal[1], normal[2]};
    }
    const int32_t v = 4 * face;
    mesh->triangles[size_t(2 * face)] = {v, v + 1, v + 2};
    mesh->triangles[size_t(2 * face + 1)] = {v + 2, v + 3, v};
    ++face;
  }
  return mesh;
}

}  // namespace

ZTR_OBJECT_GROUP* mask_to_shape_group(const std::vector<uint8_t>& mask, const GridSize& size,
                                      ZTR_OBJECT_POINT origin, float scale,
                                      const ZTR_OBJECT_COLOR& colour) {
  if (int64_t(mask.size()) != int64_t(size[0]) * size[1] * size[2]) return nullptr;
  const MaskView m(mask, size);
  int64_t count = 0;
  for (int64_t k = 0; k < size[2]; ++k) {
    for (int64_t j = 0; j < size[1]; ++j) {
      for (int64_t i = 0; i < size[0]; ++i) {
        if (m.set(i, j, k) && set_neighbours(m, i, j, k) < 6) ++count;
      }
    }
  }
  if (count > INT32_MAX) return nullptr;
  ZTR_OBJECT_GROUP* group = ZTR_NewObjectGroup(int32_t(count));
  if (group == nullptr) {
    std::fprintf(stderr, "Warning: not entire shape (count = %d)\n", 0);
    return nullptr;
  }
  for (int64_t k = 0; k < size[2]; ++k) {
    for (int64_t j = 0; j < size[1]; ++j) {
      for (int64_t i = 0; i < size[0]; ++i) {
        if (!m.set(i, j, k)) continue;
        const int neighbours = set_neighbours(m, i, j, k);
        if (neighbours == 6) continue;
        ZTR_TRIANGULAR_MESH* mesh = voxel_mesh(m, i, j, k, origin, scale, 6 - neighbours);
        if (mesh == nullptr || ZTR_AppendObject(group, mesh, &colour) != 0) {
          // A partial shape would show the region with holes: nothing is shown instead.
          std::fprintf(stderr, "Warning: not entire shape (count = %d)\n", group->count);
          ZTR_DeleteObjectGroup(group);
          return nullptr;
        }
      }
    }
  }
  return group;
}

ZTR_OBJECT_COLOR roi_display_colour(const ROI_OBJECT& roi) {
  return {roi.colour[0] / 65535.0f, roi.colour[1] / 65535.0f, roi.colour[2] / 65535.0f, 1.0f};
}

namespace {

void* roi_shape(const ROI_OBJECT& roi, const GridSize& size, int32_t* type) {
  const RoiView& view = roi.view;
  switch (roi.type) {
    case ZTR_ROI_SPHERICAL: {
      Vec3 c = roi_sphere_centre(view);
      if (view.orientation != ZTR_VIEW_SPHERICAL_MAP) {
        for (float& x : c) x = std::trunc(x + 0.5f);
      }
      *type = ZTR_OBJECT_TYPE_SPHERE;
      return ZTR_NewSphereObject({c[0], c[1], c[2]}, view.sphere_radius);
    }
    case ZTR_ROI_FREEHAND: {
      if (view.points.empty()) return nullptr;
      // The outline is carried through the view's plane (or onto a spherical map's sphere)
      // the way rasterisation carries the region's pixels.
      std::vector<ZTR_OBJECT_POINT> points;
      for (const auto& pixel : view.points) {
        Vec3 x;
        if (view_pixel_to_volume(view, pixel[0], pixel[1], &x)) points.push_back({x[0], x[1], x[2]});
      }
      if (points.empty()) return nullptr;
      ZTR_POLYLINE_OBJECT* line = ZTR_NewPolylineObject(int32_t(points.size()), false);
      if (line == nullptr) return nullptr;
      line->points = std::move(points);
      *type = ZTR_OBJECT_TYPE_POLYLINE;
      return line;
    }
    case ZTR_ROI_VOXELGROUP: {
      if (!roi.group) return nullptr;
      std::vector<uint8_t> mask(size_t(int64_t(size[0]) * size[1] * size[2]), 0);
      if (expand_voxel_group(*roi.group, mask, size) == 0) return nullptr;
      *type = ZTR_OBJECT_TYPE_GROUP;
      return mask_to_shape_group(mask, size, {0.5f, 0.5f, 0.5f}, 1.0f, roi_display_colour(roi));
    }
    default:
      return nullptr;
  }
}

}  // namespace

int append_roi_shape(ZTR_OBJECT_GROUP* group, const ROI_OBJECT& roi, const GridSize& size,
                     const ZTR_OBJECT_COLOR& colour) {
  if (group == nullptr) return -1;
  int32_t type = 0;
  void* shape = roi_shape(roi, size, &type);
  if (shape == nullptr) return -1;
  return ZTR_AppendObject(group, type, shape, &colour, 1);
}

ZTR_OBJECT_GROUP* build_roi_display_group(const RoiList& rois, const GridSize& size) {
  const std::vector<ROI_OBJECT*> items = roi_items(rois);
  ZTR_OBJECT_GROUP* group = ZTR_NewObjectGroup(int32_t(items.size()));
  if (group == nullptr) return nullptr;
  for (const ROI_OBJECT* roi : items) {
    if (roi->visibility == 1) append_roi_shape(group, *roi, size, roi_display_colour(*roi));
  }
  return group;
}

std::vector<uint8_t> visible_rois_mask(const RoiList& rois, const GridSize& size) {
  std::vector<uint8_t> mask(size_t(std::max<int64_t>(0, int64_t(size[0]) * size[1] * size[2])), 0);
  for (const ROI_OBJECT* roi : roi_items(rois)) rasterise_roi(*roi, mask, size);
  return mask;
}

int convert_visible_rois_to_volume(const RoiList& rois, RawVolumeData* volume,
                                   const RoiChannelSender& send) {
  if (volume == nullptr) return -1;
  const GridSize size{volume->header->x, volume->header->y, volume->header->z};
  const std::vector<uint8_t> mask = visible_rois_mask(rois, size);
  VolumePtr channel(ZTR_NewSingleChannelRawVolumeData(size.data(), ZTR_TYPE_UINT8,
                                                      ZTR_ATTRIBUTE_PLAIN));
  if (!channel) return -1;
  std::memcpy(channel->data[0], mask.data(), mask.size());
  if (ZTR_ConvertChannelType(channel.get(), 0, ZTR_TYPE_INT16, nullptr, nullptr, 0) != 0) {
    return -1;
  }
  std::fputs("start transfer... ", stderr);
  if (send(channel.get(), 0) != 0) {
    std::fputs("failed; the channel is not added\n", stderr);
    return -1;
  }
  if (ZTR_AppendChannelCopy(volume, channel.get(), 0) != 0) {
    std::fputs("failed; the channel is not added here\n", stderr);
    return -1;
  }
  std::fputs("end\n", stderr);
  return 0;
}
