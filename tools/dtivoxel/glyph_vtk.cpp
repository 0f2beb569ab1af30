// Legacy VTK polydata writer for glyph groups.
#include "tools/dtivoxel/glyph_vtk.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Polydata {
  std::vector<std::array<double, 3>> points;
  std::vector<ZTR_OBJECT_COLOR> colours;
  std::vector<std::array<int64_t, 2>> lines;
  std::vector<std::array<int64_t, 3>> triangles;
};

struct Builder {
  Affine affine;
  Polydata out;

  int64_t add_point(double x, double y, double z, const ZTR_OBJECT_COLOR& colour) {
    // Display positions put voxel centres at +0.5; the image transform wants them at integers.
    const double v[3] = {x - 0.5, y - 0.5, z - 0.5};
    std::array<double, 3> p{};
    for (int r = 0; r < 3; ++r) {
      p[size_t(r)] = affine[r][0] * v[0] + affine[r][1] * v[1] + affine[r][2] * v[2] + affine[r][3];
    }
    out.points.push_back(p);
    out.colours.push_back(colour);
    return int64_t(out.points.size()) - 1;
  }

  void ellipsoid(const ZTR_ELLIPSOID_OBJECT& e, const ZTR_OBJECT_COLOR& colour) {
    float radii[3];
    for (int a = 0; a < 3; ++a) std::memcpy(&radii[a], &e.values[a], sizeof(float));
    const ZTR_OBJECT_POINT& c = e.points[0];
    auto at = [&](double u0, double u1, double u2) {
      const double u[3] = {u0, u1, u2};
      double p[3] = {c.x, c.y, c.z};
      for (int a = 0; a < 3; ++a) {
        const ZTR_OBJECT_POINT& axis = e.points[1 + a];
        p[0] += radii[a] * u[a] * axis.x;
        p[1] += radii[a] * u[a] * axis.y;
        p[2] += radii[a] * u[a] * axis.z;
      }
      return add_point(p[0], p[1], p[2], colour);
    };
    const int64_t top = at(1, 0, 0);
    std::vector<int64_t> ring_start;
    for (int r = 1; r <= kGlyphRings; ++r) {
      const double theta = M_PI * r / (kGlyphRings + 1);
      ring_start.push_back(int64_t(out.points.size()));
      for (int m = 0; m < kGlyphMeridians; ++m) {
        const double phi = 2.0 * M_PI * m / kGlyphMeridians;
        at(std::cos(theta), std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi));
      }
    }
    const int64_t bottom = at(-1, 0, 0);
    const int M = kGlyphMeridians;
    for (int m = 0; m < M; ++m) {
      const int n = (m + 1) % M;
      out.triangles.push_back({top, ring_start.front() + m, ring_start.front() + n});
      out.triangles.push_back({bottom, ring_start.back() + n, ring_start.back() + m});
      for (size_t r = 0; r + 1 < ring_start.size(); ++r) {
        const int64_t a = ring_start[r] + m, b = ring_start[r] + n, c2 = ring_start[r + 1] + m,
                      d = ring_start[r + 1] + n;
        out.triangles.push_back({a, c2, d});
        out.triangles.push_back({a, d, b});
      }
    }
  }

  void walk(const ZTR_OBJECT_GROUP& group, int depth) {
    if (depth > ZTR_OBJECT_GROUP_MAX_DEPTH) return;
    for (int32_t i = 0; i < group.count; ++i) {
      if (!group.objects[size_t(i)] || group.flags[size_t(i)] == 0) continue;
      const ZTR_OBJECT_COLOR colour = group.colors[size_t(i)].value_or(ZTR_OBJECT_COLOR{1, 1, 1, 1});
      switch (group.types[size_t(i)]) {
        case ZTR_OBJECT_TYPE_ELLIPSOID:
          ellipsoid(*static_cast<const ZTR_ELLIPSOID_OBJECT*>(group.objects[size_t(i)]), colour);
          break;
        case ZTR_OBJECT_TYPE_SEGMENT: {
          const auto* s = static_cast<const ZTR_SEGMENT_OBJECT*>(group.objects[size_t(i)]);
          const int64_t a = add_point(s->points[0].x, s->points[0].y, s->points[0].z, colour);
          const int64_t b = add_point(s->points[1].x, s->points[1].y, s->points[1].z, colour);
          out.lines.push_back({a, b});
          break;
        }
        case ZTR_OBJECT_TYPE_GROUP:
          walk(*static_cast<const ZTR_OBJECT_GROUP*>(group.objects[size_t(i)]), depth + 1);
          break;
        default:
          break;
      }
    }
  }
};

}  // namespace

bool write_glyphs_vtk(const ZTR_OBJECT_GROUP& group, const ImageGeometry& geometry,
                      const std::string& path, std::string* error) {
  Builder builder{geometry.voxel_to_scanner(), {}};
  builder.walk(group, 0);
  const Polydata& d = builder.out;
  const std::string temporary = path + ".part";
  std::FILE* f = std::fopen(temporary.c_str(), "w");
  if (!f) {
    *error = "cannot open " + temporary + ": " + std::strerror(errno);
    return false;
  }
  std::fprintf(f, "# vtk DataFile Version 3.0\ndtivoxel diffusion profile glyphs\nASCII\n");
  std::fprintf(f, "DATASET POLYDATA\nPOINTS %zu float\n", d.points.size());
  for (const auto& p : d.points) std::fprintf(f, "%.6g %.6g %.6g\n", p[0], p[1], p[2]);
  if (!d.lines.empty()) {
    std::fprintf(f, "LINES %zu %zu\n", d.lines.size(), d.lines.size() * 3);
    for (const auto& l : d.lines) {
      std::fprintf(f, "2 %lld %lld\n", (long long)l[0], (long long)l[1]);
    }
  }
  if (!d.triangles.empty()) {
    std::fprintf(f, "POLYGONS %zu %zu\n", d.triangles.size(), d.triangles.size() * 4);
    for (const auto& t : d.triangles) {
      std::fprintf(f, "3 %lld %lld %lld\n", (long long)t[0], (long long)t[1], (long long)t[2]);
    }
  }
  if (!d.points.empty()) {
    std::fprintf(f, "POINT_DATA %zu\nCOLOR_SCALARS rgba 4\n", d.points.size());
    for (const auto& c : d.colours) std::fprintf(f, "%.4f %.4f %.4f %.4f\n", c.r, c.g, c.b, c.a);
  }
  const bool failed = std::ferror(f) != 0;
  if (std::fclose(f) != 0 || failed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    *error = "cannot write " + path;
    return false;
  }
  return true;
}
