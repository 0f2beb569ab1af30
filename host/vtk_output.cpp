// Tessellation of object groups and the legacy VTK writer.
#include "host/vtk_output.h"

#include "analyzer/io/atomic_file.h"

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ztr::host {

namespace {

using Vec = std::array<float, 3>;
using Color = std::array<float, 4>;

Vec to_vec(const ZTR_OBJECT_POINT& p) { return {p.x, p.y, p.z}; }
Color to_color(const ZTR_OBJECT_COLOR& c) { return {c.r, c.g, c.b, c.a}; }
Vec add(Vec a, Vec b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec sub(Vec a, Vec b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec scale(Vec a, float s) { return {a[0] * s, a[1] * s, a[2] * s}; }
Vec cross(Vec a, Vec b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
float norm(Vec a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }
Vec unit(Vec a) {
  const float n = norm(a);
  return n > 0 ? scale(a, 1.0f / n) : Vec{1, 0, 0};
}
float bits_to_float(int32_t bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

class Builder {
 public:
  explicit Builder(PolyData& out) : out_(out) {}

  int64_t point(Vec p, const Color& c) {
    out_.points.push_back(p);
    out_.colors.push_back(c);
    return int64_t(out_.points.size()) - 1;
  }
  void line(std::vector<int64_t> ids, int32_t flag) {
    if (ids.size() < 2) return;
    out_.lines.push_back(std::move(ids));
    out_.line_flags.push_back(flag);
  }
  void polygon(std::vector<int64_t> ids, int32_t flag) {
    out_.polygons.push_back(std::move(ids));
    out_.polygon_flags.push_back(flag);
  }

  // A closed surface: centre + a*cos... over the unit sphere mapped by three axis vectors.
  void ellipsoid(Vec centre, Vec ax, Vec ay, Vec az, const Color& c, int32_t flag) {
    const float pi = 3.14159265358979f;
    const int64_t top = point(add(centre, az), c);
    std::vector<int64_t> rings;
    for (int i = 1; i < kSphereRings; ++i) {
      const float theta = pi * float(i) / kSphereRings;
      for (int j = 0; j < kSphereSegments; ++j) {
        const float phi = 2 * pi * float(j) / kSphereSegments;
        const Vec p = add(add(add(centre, scale(ax, std::sin(theta) * std::cos(phi))),
                              scale(ay, std::sin(theta) * std::sin(phi))),
                          scale(az, std::cos(theta)));
        rings.push_back(point(p, c));
      }
    }
    const int64_t bottom = point(sub(centre, az), c);
    auto at = [&](int ring, int j) { return rings[size_t(ring * kSphereSegments + (j % kSphereSegments))]; };
    for (int j = 0; j < kSphereSegments; ++j) {
      polygon({top, at(0, j), at(0, j + 1)}, flag);
      polygon({bottom, at(kSphereRings - 2, j + 1), at(kSphereRings - 2, j)}, flag);
      for (int i = 0; i + 1 < kSphereRings - 1; ++i) {
        polygon({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)}, flag);
      }
    }
  }

  void tube(const ZTR_TUBE_OBJECT& t, const Color& slot, int32_t flag) {
    const size_t n = t.points.size();
    auto color_of = [&](size_t i) { return i < t.colors.size() ? to_color(t.colors[i]) : slot; };
    if (n < 2) {
      std::vector<int64_t> ids;
      for (size_t i = 0; i < n; ++i) ids.push_back(point(to_vec(t.points[i]), color_of(i)));
      return;
    }
    const float pi = 3.14159265358979f;
    std::vector<int64_t> previous;
    for (size_t i = 0; i < n; ++i) {
      const Vec p = to_vec(t.points[i]);
      const Vec d = unit(sub(to_vec(t.points[std::min(i + 1, n - 1)]), to_vec(t.points[i == 0 ? 0 : i - 1])));
      const Vec helper = std::fabs(d[0]) < 0.9f ? Vec{1, 0, 0} : Vec{0, 1, 0};
      const Vec u = unit(cross(d, helper));
      const Vec v = cross(d, u);
      const float r = i < t.radii.size() ? t.radii[i] : 0.0f;
      std::vector<int64_t> ring;
      for (int s = 0; s < kTubeSides; ++s) {
        const float a = 2 * pi * float(s) / kTubeSides;
        ring.push_back(point(add(p, add(scale(u, r * std::cos(a)), scale(v, r * std::sin(a)))), color_of(i)));
      }
      if (!previous.empty()) {
        for (int s = 0; s < kTubeSides; ++s) {
          const int s1 = (s + 1) % kTubeSides;
          polygon({previous[s], ring[s], ring[s1], previous[s1]}, flag);
        }
      }
      previous = std::move(ring);
    }
  }

  void group(const ZTR_OBJECT_GROUP& g) {
    for (int32_t i = 0; i < g.count && size_t(i) < g.objects.size(); ++i) {
      const void* object = g.objects[i];
      if (!object) continue;
      const Color slot = g.colors[i] ? to_color(*g.colors[i]) : Color{1, 1, 1, 1};
      const int32_t flag = g.flags[i];
      switch (g.types[i]) {
        case ZTR_OBJECT_TYPE_SPHERE: {
          const auto& s = *static_cast<const ZTR_SPHERE_OBJECT*>(object);
          ellipsoid(to_vec(s.centre), {s.radius, 0, 0}, {0, s.radius, 0}, {0, 0, s.radius}, slot, flag);
          break;
        }
        case ZTR_OBJECT_TYPE_ELLIPSOID: {
          const auto& e = *static_cast<const ZTR_ELLIPSOID_OBJECT*>(object);
          ellipsoid(to_vec(e.points[0]), scale(to_vec(e.points[1]), bits_to_float(e.values[0])),
                    scale(to_vec(e.points[2]), bits_to_float(e.values[1])),
                    scale(to_vec(e.points[3]), bits_to_float(e.values[2])), slot, flag);
          break;
        }
        case ZTR_OBJECT_TYPE_SEGMENT: {
          const auto& s = *static_cast<const ZTR_SEGMENT_OBJECT*>(object);
          line({point(to_vec(s.points[0]), slot), point(to_vec(s.points[1]), slot)}, flag);
          break;
        }
        case ZTR_OBJECT_TYPE_SEGMENTS: {
          const auto& s = *static_cast<const ZTR_SEGMENTS_OBJECT*>(object);
          for (size_t k = 0; k < s.starts.size() && k < s.ends.size(); ++k) {
            line({point(to_vec(s.starts[k]), slot), point(to_vec(s.ends[k]), slot)}, flag);
          }
          break;
        }
        case ZTR_OBJECT_TYPE_POLYLINE: {
          const auto& p = *static_cast<const ZTR_POLYLINE_OBJECT*>(object);
          std::vector<int64_t> ids;
          for (size_t k = 0; k < p.points.size(); ++k) {
            ids.push_back(point(to_vec(p.points[k]), k < p.colors.size() ? to_color(p.colors[k]) : slot));
          }
          line(std::move(ids), flag);
          break;
        }
        case ZTR_OBJECT_TYPE_TUBE:
          tube(*static_cast<const ZTR_TUBE_OBJECT*>(object), slot, flag);
          break;
        case ZTR_OBJECT_TYPE_TRIANGULAR_MESH: {
          const auto& m = *static_cast<const ZTR_TRIANGULAR_MESH*>(object);
          const int64_t base = int64_t(out_.points.size());
          for (size_t k = 0; k < m.vertices.size(); ++k) {
            point(to_vec(m.vertices[k]), k < m.colors.size() ? to_color(m.colors[k]) : slot);
          }
          for (const auto& t : m.triangles) {
            bool inside = true;
            for (int32_t v : t) inside = inside && v >= 0 && size_t(v) < m.vertices.size();
            if (inside) polygon({base + t[0], base + t[1], base + t[2]}, flag);
          }
          break;
        }
        case ZTR_OBJECT_TYPE_GROUP:
          group(*static_cast<const ZTR_OBJECT_GROUP*>(object));
          break;
        default:
          break;
      }
    }
  }

 private:
  PolyData& out_;
};

void count_into(const ZTR_OBJECT_GROUP& g, std::map<int32_t, int>& counts) {
  for (int32_t i = 0; i < g.count && size_t(i) < g.types.size(); ++i) {
    ++counts[g.types[i]];
    if (g.types[i] == ZTR_OBJECT_TYPE_GROUP && g.objects[i]) {
      count_into(*static_cast<const ZTR_OBJECT_GROUP*>(g.objects[i]), counts);
    }
  }
}

}  // namespace

PolyData build_polydata(const ZTR_OBJECT_GROUP& group) {
  PolyData data;
  Builder(data).group(group);
  return data;
}

std::map<int32_t, int> count_object_types(const ZTR_OBJECT_GROUP& group) {
  std::map<int32_t, int> counts;
  count_into(group, counts);
  return counts;
}

std::string format_vtk(const PolyData& data, const std::string& title) {
  std::ostringstream out;
  out << "# vtk DataFile Version 3.0\n" << title.substr(0, 200) << "\nASCII\nDATASET POLYDATA\n";
  out << "POINTS " << data.points.size() << " float\n";
  char buffer[96];
  for (const auto& p : data.points) {
    std::snprintf(buffer, sizeof buffer, "%.7g %.7g %.7g\n", p[0], p[1], p[2]);
    out << buffer;
  }
  auto cells = [&](const char* name, const std::vector<std::vector<int64_t>>& list) {
    if (list.empty()) return;
    size_t total = 0;
    for (const auto& c : list) total += c.size() + 1;
    out << name << ' ' << list.size() << ' ' << total << '\n';
    for (const auto& c : list) {
      out << c.size();
      for (int64_t id : c) out << ' ' << id;
      out << '\n';
    }
  };
  cells("LINES", data.lines);
  cells("POLYGONS", data.polygons);
  const size_t cell_count = data.lines.size() + data.polygons.size();
  if (cell_count > 0) {
    out << "CELL_DATA " << cell_count << "\nSCALARS display_flag int 1\nLOOKUP_TABLE default\n";
    for (int32_t f : data.line_flags) out << f << '\n';
    for (int32_t f : data.polygon_flags) out << f << '\n';
  }
  if (!data.points.empty()) {
    out << "POINT_DATA " << data.points.size() << "\nCOLOR_SCALARS colors 4\n";
    for (const auto& c : data.colors) {
      auto clamp = [](float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 1.0f; };
      std::snprintf(buffer, sizeof buffer, "%.4g %.4g %.4g %.4g\n", clamp(c[0]), clamp(c[1]),
                    clamp(c[2]), clamp(c[3]));
      out << buffer;
    }
  }
  return out.str();
}

int write_group_vtk(const ZTR_OBJECT_GROUP& group, const std::string& path, const std::string& title) {
  std::string reason;
  return write_file_atomically(path, format_vtk(build_polydata(group), title), &reason) ? 0 : -1;
}

}  // namespace ztr::host
