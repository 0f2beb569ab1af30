// Geometry of drawn ROIs: sphere centres, the freehand plane, overlays, rasterisation and the
// per-node region tests.
#include "analyzer/objects/roi_region.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "analyzer/fibetrak/fibetrak.h"

namespace {

constexpr int kPixels = ZTR_VIEW_SIZE;

double dot(const Vec3& a, const Vec3& b) {
  return double(a[0]) * b[0] + double(a[1]) * b[1] + double(a[2]) * b[2];
}
Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec3 sub(const float a[3], const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

// The voxel index of one coordinate, or -1 when it lies outside 0 ... size - 1. Positions in
// (-1, 0) are outside: truncation toward zero would put them on the first slice.
int64_t voxel_index(double p, int32_t size) {
  if (!(p >= 0.0) || !(p < double(size))) return -1;
  return int64_t(p);
}

int64_t voxel_offset(const double p[3], const GridSize& size) {
  const int64_t i = voxel_index(p[0], size[0]);
  const int64_t j = voxel_index(p[1], size[1]);
  const int64_t k = voxel_index(p[2], size[2]);
  if (i < 0 || j < 0 || k < 0) return -1;
  return (k * size[1] + j) * size[0] + i;
}

// Overlay pixel nearest to a fractional pixel position, or -1 outside the 256 x 256 image.
int pixel_index(double p) {
  if (!(p > -0.5) || !(p < kPixels - 0.5)) return -1;
  return int(std::floor(p + 0.5));
}

// The spherical map's orthonormal frame: a, b and c = a x b, with R and Q.
struct MapFrame {
  Vec3 a, b, c, q;
  double radius;
};

MapFrame map_frame(const RoiView& view) {
  MapFrame f{view.axis_a, view.axis_b, cross(view.axis_a, view.axis_b), view.sphere_centre,
             double(view.radius_fraction) * view.sphere_centre[0]};
  return f;
}

bool map_pixel_to_volume(const RoiView& view, double i, double j, Vec3* out) {
  const double du = i - kPixels / 2, dv = j - kPixels / 2;
  if (du * du + dv * dv >= double(kPixels / 2) * (kPixels / 2)) return false;
  const MapFrame f = map_frame(view);
  const double u = du / view.zoom, v = dv / view.zoom;
  double p[3];
  for (int a = 0; a < 3; ++a) p[a] = u * f.a[a] + v * f.b[a] + f.radius * f.c[a];
  const double length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  if (!(length > 0.0)) return false;
  for (int a = 0; a < 3; ++a) (*out)[a] = float(f.q[a] + f.radius * p[a] / length);
  return true;
}

// Inverse of map_pixel_to_volume for a point on (or near) the map's sphere: false when the
// point's direction does not face the map.
bool map_volume_to_pixel(const MapFrame& f, double zoom, const double x[3], double* i,
                         double* j) {
  double d[3] = {x[0] - f.q[0], x[1] - f.q[1], x[2] - f.q[2]};
  const double dc = d[0] * f.c[0] + d[1] * f.c[1] + d[2] * f.c[2];
  if (!(dc > 0.0)) return false;
  const double da = d[0] * f.a[0] + d[1] * f.a[1] + d[2] * f.a[2];
  const double db = d[0] * f.b[0] + d[1] * f.b[1] + d[2] * f.b[2];
  *i = kPixels / 2 + zoom * f.radius * da / dc;
  *j = kPixels / 2 + zoom * f.radius * db / dc;
  return (*i - kPixels / 2) * (*i - kPixels / 2) + (*j - kPixels / 2) * (*j - kPixels / 2) <
         double(kPixels / 2) * (kPixels / 2);
}

void set_voxel(std::vector<uint8_t>& mask, int64_t offset, int64_t* set) {
  if (offset >= 0 && mask[size_t(offset)] == 0) {
    mask[size_t(offset)] = 1;
    ++*set;
  }
}

int64_t rasterise_sphere(const RoiView& view, std::vector<uint8_t>& mask, const GridSize& size) {
  const double r = view.sphere_radius;
  if (!(r >= 0.0 && r <= ZTR_ROI_MAX_RADIUS)) return 0;
  const Vec3 c = roi_sphere_centre(view);
  const int64_t n = int64_t(r) + 1;
  // Offsets whose voxel cannot lie in the grid are not visited, so that a far-off or huge
  // sphere costs no more than the volume.
  int64_t low[3], high[3];
  for (int a = 0; a < 3; ++a) {
    if (!std::isfinite(c[a])) return 0;
    const double lo = std::clamp(std::floor(-double(c[a])) - 1.0, -double(n), double(n) + 1.0);
    const double hi = std::clamp(std::ceil(double(size[a]) - c[a]) + 1.0, -double(n) - 1.0,
                                 double(n));
    low[a] = int64_t(lo);
    high[a] = int64_t(hi);
  }
  int64_t set = 0;
  for (int64_t dz = low[2]; dz <= high[2]; ++dz) {
    for (int64_t dy = low[1]; dy <= high[1]; ++dy) {
      for (int64_t dx = low[0]; dx <= high[0]; ++dx) {
        if (double(dx * dx + dy * dy + dz * dz) > r * r) continue;
        const double p[3] = {double(dx) + c[0], double(dy) + c[1], double(dz) + c[2]};
        set_voxel(mask, voxel_offset(p, size), &set);
      }
    }
  }
  return set;
}

int64_t rasterise_freehand(const RoiView& view, std::vector<uint8_t>& mask,
                           const GridSize& size) {
  if (view.overlay.size() != size_t(kPixels) * kPixels) return 0;
  if (!(view.zoom >= ZTR_ROI_MIN_ZOOM && view.zoom <= ZTR_ROI_MAX_ZOOM)) return 0;
  const double s = 0.8 * view.zoom;
  const int64_t m = int64_t(kPixels / s);
  bool row_used[kPixels] = {};
  for (int y = 0; y < kPixels; ++y) {
    row_used[y] = std::find(view.overlay.begin() + y * kPixels,
                            view.overlay.begin() + (y + 1) * kPixels,
                            ZTR_OVERLAY_INSIDE) != view.overlay.begin() + (y + 1) * kPixels;
  }
  int64_t set = 0;
  for (int64_t j = 0; j < m; ++j) {
    // At zoom below 0.625 the last samples round to pixel 256, past the overlay.
    const int py = pixel_index(double(j) * s);
    if (py < 0 || !row_used[py]) continue;
    for (int64_t i = 0; i < m; ++i) {
      const int px = pixel_index(double(i) * s);
      if (px < 0 || view.overlay[size_t(py) * kPixels + px] != ZTR_OVERLAY_INSIDE) continue;
      Vec3 point;
      if (!view_pixel_to_volume(view, float(double(i) * s), float(double(j) * s), &point)) {
        continue;
      }
      const double p[3] = {point[0], point[1], point[2]};
      set_voxel(mask, voxel_offset(p, size), &set);
    }
  }
  return set;
}

}  // namespace

Vec3 roi_sphere_centre(const RoiView& view) {
  if (view.orientation != ZTR_VIEW_SPHERICAL_MAP) return view.centre;
  const MapFrame f = map_frame(view);
  Vec3 c;
  for (int a = 0; a < 3; ++a) c[a] = float(f.q[a] + f.radius * f.c[a]);
  return c;
}

bool view_pixel_to_volume(const RoiView& view, float i, float j, Vec3* point) {
  if (view.orientation == ZTR_VIEW_SPHERICAL_MAP) return map_pixel_to_volume(view, i, j, point);
  for (int a = 0; a < 3; ++a) {
    (*point)[a] = view.centre[a] +
                  ((i - kPixels / 2) * view.u[a] + (j - kPixels / 2) * view.v[a]) / view.zoom;
  }
  return true;
}

void mark_overlay_edges(std::vector<uint8_t>& overlay) {
  if (overlay.size() != size_t(kPixels) * kPixels) return;
  auto at = [&](int x, int y) -> uint8_t& { return overlay[size_t(y) * kPixels + x]; };
  for (int y = 0; y < kPixels; ++y) {
    for (int x = 0; x < kPixels; ++x) {
      if (at(x, y) != ZTR_OVERLAY_INSIDE) continue;
      if (x == 0 || y == 0 || x == kPixels - 1 || y == kPixels - 1) {
        at(x, y) = ZTR_OVERLAY_EDGE;
        continue;
      }
      bool open = false;
      for (int dy = -1; dy <= 1 && !open; ++dy) {
        for (int dx = -1; dx <= 1 && !open; ++dx) open = at(x + dx, y + dy) == 0;
      }
      if (open) at(x, y) = ZTR_OVERLAY_EDGE;
    }
  }
}

std::vector<uint8_t> fill_outline_overlay(const std::vector<std::array<uint16_t, 2>>& points) {
  std::vector<uint8_t> overlay(size_t(kPixels) * kPixels, 0);
  const size_t n = points.size();
  if (n == 0) return overlay;
  auto put = [&](int x, int y) {
    if (x >= 0 && y >= 0 && x < kPixels && y < kPixels) {
      overlay[size_t(y) * kPixels + x] = ZTR_OVERLAY_INSIDE;
    }
  };
  // Interior by the even-odd rule, rows sampled at their pixel centres.
  std::vector<double> crossings;
  for (int y = 0; y < kPixels; ++y) {
    crossings.clear();
    for (size_t e = 0; e < n; ++e) {
      const auto& p0 = points[e];
      const auto& p1 = points[(e + 1) % n];
      const double y0 = p0[1], y1 = p1[1];
      if ((y0 <= y && y < y1) || (y1 <= y && y < y0)) {
        crossings.push_back(p0[0] + (y - y0) * (double(p1[0]) - p0[0]) / (y1 - y0));
      }
    }
    std::sort(crossings.begin(), crossings.end());
    for (size_t c = 0; c + 1 < crossings.size(); c += 2) {
      for (int x = int(std::ceil(crossings[c])); x <= int(std::floor(crossings[c + 1])); ++x) {
        put(x, y);
      }
    }
  }
  // The outline itself belongs to the region.
  for (size_t e = 0; e < n; ++e) {
    int x0 = points[e][0], y0 = points[e][1];
    const int x1 = points[(e + 1) % n][0], y1 = points[(e + 1) % n][1];
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    while (true) {
      put(x0, y0);
      if (x0 == x1 && y0 == y1) break;
      const int e2 = 2 * err;
      if (e2 >= dy) err += dy, x0 += sx;
      if (e2 <= dx) err += dx, y0 += sy;
    }
  }
  mark_overlay_edges(overlay);
  return overlay;
}

void dilate_overlay(std::vector<uint8_t>& overlay) {
  if (overlay.size() != size_t(kPixels) * kPixels) return;
  for (uint8_t& p : overlay) {
    if (p != 0) p = ZTR_OVERLAY_INSIDE;
  }
  const std::vector<uint8_t> before = overlay;
  for (int y = 1; y < kPixels - 1; ++y) {
    for (int x = 1; x < kPixels - 1; ++x) {
      if (before[size_t(y) * kPixels + x] != 0) continue;
      bool touches = false;
      for (int dy = -1; dy <= 1 && !touches; ++dy) {
        for (int dx = -1; dx <= 1 && !touches; ++dx) {
          touches = before[size_t(y + dy) * kPixels + x + dx] == ZTR_OVERLAY_INSIDE;
        }
      }
      if (touches) overlay[size_t(y) * kPixels + x] = ZTR_OVERLAY_INSIDE;
    }
  }
  mark_overlay_edges(overlay);
}

void erode_overlay(std::vector<uint8_t>& overlay) {
  if (overlay.size() != size_t(kPixels) * kPixels) return;
  for (uint8_t& p : overlay) {
    if (p == ZTR_OVERLAY_EDGE) p = 0;
  }
  mark_overlay_edges(overlay);
}

void clear_overlay(std::vector<uint8_t>& overlay) { std::fill(overlay.begin(), overlay.end(), 0); }

int64_t rasterise_roi(const ROI_OBJECT& roi, std::vector<uint8_t>& mask, const GridSize& size) {
  if (roi.visibility != 1) return 0;
  if (size[0] <= 0 || size[1] <= 0 || size[2] <= 0 ||
      int64_t(mask.size()) != int64_t(size[0]) * size[1] * size[2]) {
    return 0;
  }
  switch (roi.type) {
    case ZTR_ROI_SPHERICAL:
      return rasterise_sphere(roi.view, mask, size);
    case ZTR_ROI_FREEHAND:
      return rasterise_freehand(roi.view, mask, size);
    case ZTR_ROI_VOXELGROUP:
      return roi.group ? expand_voxel_group(*roi.group, mask, size) : 0;
    default:
      return 0;
  }
}

// ---- region tests ----------------------------------------------------------------------------

namespace {

RegionTest sphere_test(const RoiView& view) {
  const Vec3 c = roi_sphere_centre(view);
  const double r2 = double(view.sphere_radius) * view.sphere_radius;
  return [c, r2](const float current[3], const float*) {
    const Vec3 d = sub(current, c);
    return dot(d, d) <= r2;
  };
}

// The plane of an orthogonal or oblique view with the 2 x 2 solve that takes a point of the
// plane back to its pixel position.
struct PlaneFrame {
  Vec3 centre, u, v, normal;
  double zoom;
  double inverse[2][2];  // of the Gram matrix of u and v
};

RegionTest plane_test(const RoiView& view, std::shared_ptr<const std::vector<uint8_t>> overlay) {
  PlaneFrame f{view.centre, view.u, view.v, cross(view.u, view.v), view.zoom, {}};
  const double uu = dot(f.u, f.u), uv = dot(f.u, f.v), vv = dot(f.v, f.v);
  const double det = uu * vv - uv * uv;
  if (!(std::fabs(det) > 1e-12) || !(f.zoom > 0.0)) return [](const float*, const float*) { return false; };
  f.inverse[0][0] = vv / det;
  f.inverse[0][1] = -uv / det;
  f.inverse[1][0] = -uv / det;
  f.inverse[1][1] = uu / det;
  return [f, overlay](const float current[3], const float previous[3]) {
    const double d0 = dot(sub(previous, f.centre), f.normal);
    const double d1 = dot(sub(current, f.centre), f.normal);
    if ((d0 > 0.0 && d1 > 0.0) || (d0 < 0.0 && d1 < 0.0) || !std::isfinite(d0 - d1)) {
      return false;
    }
    double x[3];
    const double t = d0 == d1 ? 1.0 : d0 / (d0 - d1);
    for (int a = 0; a < 3; ++a) x[a] = previous[a] + t * (double(current[a]) - previous[a]);
    const Vec3 rel = {float(x[0] - f.centre[0]), float(x[1] - f.centre[1]),
                      float(x[2] - f.centre[2])};
    const double bu = dot(rel, f.u), bv = dot(rel, f.v);
    const double iu = f.inverse[0][0] * bu + f.inverse[0][1] * bv;
    const double jv = f.inverse[1][0] * bu + f.inverse[1][1] * bv;
    const int px = pixel_index(kPixels / 2 + f.zoom * iu);
    const int py = pixel_index(kPixels / 2 + f.zoom * jv);
    return px >= 0 && py >= 0 && (*overlay)[size_t(py) * kPixels + px] == ZTR_OVERLAY_INSIDE;
  };
}

RegionTest map_test(const RoiView& view, std::shared_ptr<const std::vector<uint8_t>> overlay) {
  const MapFrame f = map_frame(view);
  const double zoom = view.zoom;
  if (!(f.radius > 0.0) || !(zoom > 0.0)) return [](const float*, const float*) { return false; };
  return [f, zoom, overlay](const float current[3], const float previous[3]) {
    // Where the segment meets the sphere |x - q| = radius: roots of a t^2 + b t + c in [0, 1].
    double p[3], d[3];
    for (int a = 0; a < 3; ++a) {
      p[a] = double(previous[a]) - f.q[a];
      d[a] = double(current[a]) - previous[a];
    }
    const double qa = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double qb = 2.0 * (p[0] * d[0] + p[1] * d[1] + p[2] * d[2]);
    const double qc = p[0] * p[0] + p[1] * p[1] + p[2] * p[2] - f.radius * f.radius;
    double roots[2];
    int count = 0;
    if (qa == 0.0) {
      if (qc == 0.0) roots[count++] = 0.0;
    } else {
      const double disc = qb * qb - 4.0 * qa * qc;
      if (disc >= 0.0) {
        const double s = std::sqrt(disc);
        roots[count++] = (-qb - s) / (2.0 * qa);
        roots[count++] = (-qb + s) / (2.0 * qa);
      }
    }
    for (int r = 0; r < count; ++r) {
      if (!(roots[r] >= 0.0 && roots[r] <= 1.0)) continue;
      double x[3], i, j;
      for (int a = 0; a < 3; ++a) x[a] = previous[a] + roots[r] * d[a];
      if (!map_volume_to_pixel(f, zoom, x, &i, &j)) continue;
      const int px = pixel_index(i), py = pixel_index(j);
      if (px >= 0 && py >= 0 && (*overlay)[size_t(py) * kPixels + px] == ZTR_OVERLAY_INSIDE) {
        return true;
      }
    }
    return false;
  };
}

RegionTest group_test(const VoxelGroup& group) {
  auto shared = std::make_shared<const VoxelGroup>(group);
  return [shared](const float current[3], const float*) {
    int64_t box[3];
    for (int a = 0; a < 3; ++a) {
      const double p = std::floor(double(current[a])) - shared->origin[a];
      if (!(p >= 0.0) || !(p < double(shared->size[a]))) return false;
      box[a] = int64_t(p);
    }
    return shared->contains_box_voxel((box[2] * shared->size[1] + box[1]) * shared->size[0] +
                                      box[0]);
  };
}

}  // namespace

RegionTest prepare_region_test(const ROI_OBJECT& roi) {
  auto never = [](const float*, const float*) { return false; };
  switch (roi.type) {
    case ZTR_ROI_SPHERICAL:
      return sphere_test(roi.view);
    case ZTR_ROI_FREEHAND: {
      if (roi.view.overlay.size() != size_t(kPixels) * kPixels) return never;
      auto overlay = std::make_shared<const std::vector<uint8_t>>(roi.view.overlay);
      return roi.view.orientation == ZTR_VIEW_SPHERICAL_MAP ? map_test(roi.view, overlay)
                                                            : plane_test(roi.view, overlay);
    }
    case ZTR_ROI_VOXELGROUP:
      return roi.group ? group_test(*roi.group) : RegionTest(never);
    default:
      return never;
  }
}

int generate_roi_seeds(const ROI_OBJECT& roi, float spacing, int limit, std::vector<float>* table,
                       std::FILE* console) {
  switch (roi.type) {
    case ZTR_ROI_SPHERICAL: {
      const Vec3 c = roi_sphere_centre(roi.view);
      return generate_sphere_seeds(c.data(), roi.view.sphere_radius, spacing, limit, table,
                                   console);
    }
    case ZTR_ROI_FREEHAND: {
      if (roi.view.overlay.size() != size_t(kPixels) * kPixels) return 0;
      const RoiView& view = roi.view;
      const MaskPointMapping to_volume = [&view](float a, float b, float out[3]) {
        Vec3 p;
        if (!view_pixel_to_volume(view, a, b, &p)) return false;
        for (int k = 0; k < 3; ++k) out[k] = p[k];
        return true;
      };
      return generate_mapped_freehand_seeds(view.overlay, view.zoom, spacing, limit, to_volume,
                                            table, console);
    }
    case ZTR_ROI_VOXELGROUP: {
      if (!roi.group) return 0;
      const VoxelGroup& g = *roi.group;
      const int64_t voxels = g.box_voxels();
      if (voxels <= 0) return 0;
      if (g.storage == ZTR_GROUP_BITS) {
        return generate_voxelgroup_seeds(g.origin.data(), g.size.data(), g.data, spacing, limit,
                                         table, console);
      }
      // A group kept one byte per voxel seeds from the same bits.
      std::vector<uint8_t> bits(size_t(voxels / 8 + 1), 0);
      for (int64_t i = 0; i < voxels && size_t(i) < g.data.size(); ++i) {
        if (g.data[size_t(i)] != 0) bits[size_t(i / 8)] |= uint8_t(1u << (i % 8));
      }
      return generate_voxelgroup_seeds(g.origin.data(), g.size.data(), bits, spacing, limit,
                                       table, console);
    }
    default:
      return 0;
  }
}
