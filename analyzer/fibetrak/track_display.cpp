// Display primitives of tracked lines and their colouring, and the summary texts.
#include "analyzer/fibetrak/track_display.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <new>
#include <vector>

namespace {

constexpr float kThirdTurn = 2.0943947f;

constexpr ColorModeRow kColorModes[] = {
    {"anisotropy coding", ZTR_FIBETRAK_COLOR_ANISOTROPY},
    {"distance coding", ZTR_FIBETRAK_COLOR_DISTANCE},
    {"directional coding", ZTR_FIBETRAK_COLOR_DIRECTIONAL},
    {"unique color", ZTR_FIBETRAK_COLOR_UNIQUE},
    {"RGB fan", ZTR_FIBETRAK_COLOR_RGB_FAN},
    {"uniform color", ZTR_FIBETRAK_COLOR_UNIFORM},
    {"target gradation", ZTR_FIBETRAK_COLOR_TARGET_GRADATION},
};

float clamp01(float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; }

// lambda / lambda1 in 0 .. 1: a negative small eigenvalue of a noisy fit would make a
// negative colour component or an opacity above 1.
float ratio(float lambda, float lambda1) { return lambda1 > 0.0f ? clamp01(lambda / lambda1) : 0.0f; }

// Unit vector from the volume centre to the half-line's first node; zero at the centre.
void from_centre(const ZTR_FIBETRAK_HALFLINE& h, const int32_t size[3], float v[3]) {
  v[0] = h.x[0] - size[0] / 2.0f;
  v[1] = h.y[0] - size[1] / 2.0f;
  v[2] = h.z[0] - size[2] / 2.0f;
  const float norm = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (norm > 0.0f) {
    for (int a = 0; a < 3; ++a) v[a] /= norm;
  }
}

ZTR_OBJECT_COLOR fan_color(float vz) {
  const float a = std::asin(std::clamp(-vz, -1.0f, 1.0f)) / 1.57f * 90.0f;
  float r, g, b;
  if (a <= 22.5f) {
    r = 1, g = 0, b = 0;
  } else if (a < 42.5f) {
    const float t = (a - 22.5f) / 20.0f;
    r = 1 - t, g = t, b = 0;
  } else if (a <= 47.5f) {
    r = 0, g = 1, b = 0;
  } else if (a < 67.5f) {
    const float t = (a - 47.5f) / 20.0f;
    r = 0, g = 1 - t, b = t;
  } else {
    r = 0, g = 0, b = 1;
  }
  return {clamp01(r), clamp01(g), clamp01(b), 1};
}

ZTR_OBJECT_COLOR unique_color(float vz, std::FILE* console) {
  const float f = clamp01(std::acos(std::clamp(-vz, -1.0f, 1.0f)) / 1.57f);
  std::fprintf(console, "factor=%f\n", f);
  if (f < 0.5f) return {0, clamp01(2 * f), clamp01(1 - 2 * f), 1};
  return {clamp01(2 * f - 1), clamp01(2 - 2 * f), 0, 1};
}

void add_normal(std::vector<ZTR_OBJECT_POINT>& normals, int32_t index, const float n[3]) {
  ZTR_OBJECT_POINT& p = normals[static_cast<size_t>(index)];
  p.x += n[0];
  p.y += n[1];
  p.z += n[2];
}

std::string format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

}  // namespace

std::span<const ColorModeRow> fibetrak_color_modes() { return kColorModes; }

void color_halfline(const ZTR_FIBETRAK_HALFLINE& h, const FibetrakDisplay& display,
                    const int32_t size[3], ZTR_OBJECT_COLOR* colors, std::FILE* console) {
  const int n = h.count;
  if (n <= 0) return;
  float v[3];
  switch (display.color_mode) {
    case ZTR_FIBETRAK_COLOR_ANISOTROPY:
      for (int k = 0; k < n; ++k) {
        colors[k] = {1, ratio(h.lambda2[k], h.lambda1[k]), ratio(h.lambda3[k], h.lambda1[k]), 1};
      }
      break;
    case ZTR_FIBETRAK_COLOR_DISTANCE:
      // A colour wheel that turns once every 150 nodes from the seed.
      for (int k = 0; k < n; ++k) {
        const float t = (static_cast<float>(k) / 50.0f) * kThirdTurn;
        colors[k] = {std::max(0.0f, std::cos(t)), std::max(0.0f, std::cos(t - kThirdTurn)),
                     std::max(0.0f, std::cos(t - 2 * kThirdTurn)), 1};
      }
      break;
    case ZTR_FIBETRAK_COLOR_DIRECTIONAL:
      for (int k = 1; k < n; ++k) {
        const float d[3] = {h.x[k] - h.x[k - 1], h.y[k] - h.y[k - 1], h.z[k] - h.z[k - 1]};
        const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        colors[k] = length > 0.0f ? ZTR_OBJECT_COLOR{std::fabs(d[0]) / length,
                                                     std::fabs(d[1]) / length,
                                                     std::fabs(d[2]) / length, 1}
                                  : ZTR_OBJECT_COLOR{0, 0, 0, 1};
      }
      colors[0] = n > 1 ? colors[1] : ZTR_OBJECT_COLOR{0, 0, 0, 1};
      break;
    case ZTR_FIBETRAK_COLOR_RGB_FAN:
      from_centre(h, size, v);
      std::fill(colors, colors + n, fan_color(v[2]));
      break;
    case ZTR_FIBETRAK_COLOR_UNIQUE:
      from_centre(h, size, v);
      std::fill(colors, colors + n, unique_color(v[2], console));
      break;
    default:
      // Uniform colour; target gradation has no rule of its own and shows colour 1 too.
      std::fill(colors, colors + n,
                ZTR_OBJECT_COLOR{display.color1.r, display.color1.g, display.color1.b, 1});
      break;
  }
  float alpha = 1.0f;
  for (int k = 0; k < n; ++k) {
    colors[k].a = alpha;
    alpha *= 1.0f - (1.0f - ZTR_FIBETRAK_ALPHA_FACTOR) * ratio(h.lambda2[k], h.lambda1[k]);
  }
}

ZTR_POLYLINE_OBJECT* make_hairline(const ZTR_FIBETRAK_HALFLINE& h, const FibetrakDisplay& display,
                                   const int32_t size[3], std::FILE* console) {
  ZTR_POLYLINE_OBJECT* line = ZTR_NewPolylineObject(h.count, true);
  if (!line) return nullptr;
  for (int k = 0; k < h.count; ++k) {
    line->points[static_cast<size_t>(k)] = {h.x[k] + 0.5f, h.y[k] + 0.5f, h.z[k] + 0.5f};
  }
  color_halfline(h, display, size, line->colors.data(), console);
  return line;
}

ZTR_TUBE_OBJECT* make_tube(const ZTR_FIBETRAK_HALFLINE& h, const FibetrakDisplay& display,
                           const int32_t size[3], std::FILE* console) {
  const int n = h.count;
  std::vector<int> kept;
  try {
    for (int k = 0; k < n; ++k) {
      // Long tubes keep about one node in five, and always the first step and the end.
      if (n < 11 || k % 5 == 0 || k == 1 || k == n - 1) kept.push_back(k);
    }
    std::vector<ZTR_OBJECT_COLOR> colors(static_cast<size_t>(n));
    color_halfline(h, display, size, colors.data(), console);
    ZTR_TUBE_OBJECT* tube = ZTR_NewTubeObject(static_cast<int32_t>(kept.size()), true);
    if (!tube) return nullptr;
    for (size_t i = 0; i < kept.size(); ++i) {
      const int k = kept[i];
      tube->points[i] = {h.x[k] + 0.5f, h.y[k] + 0.5f, h.z[k] + 0.5f};
      // The fading shows as thinning: tubes are opaque.
      tube->radii[i] = colors[static_cast<size_t>(k)].a * 0.8f * static_cast<float>(size[0]) / 256.0f;
      tube->colors[i] = colors[static_cast<size_t>(k)];
      tube->colors[i].a = 1.0f;
    }
    return tube;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ZTR_TRIANGULAR_MESH* make_ribbon(const ZTR_FIBETRAK_HALFLINE& h, const TrackingFitContext& fit) {
  const int n = h.count;
  if (n < 1) return nullptr;
  ZTR_TRIANGULAR_MESH* mesh = ZTR_NewTriangularMesh(2 * n - 2, 2 * n, true);
  if (!mesh) return nullptr;
  TrackTensor tensor;
  float previous[3] = {0, 0, 0};
  for (int k = 0; k < n; ++k) {
    float e2[3] = {previous[0], previous[1], previous[2]};
    if (fit.fit(h.x[k], h.y[k], h.z[k], &tensor)) {
      std::copy(tensor.e[1], tensor.e[1] + 3, e2);
      // Eigenvector signs are arbitrary; a flip between nodes would twist the quad.
      if (k > 0 && e2[0] * previous[0] + e2[1] * previous[1] + e2[2] * previous[2] < 0) {
        for (float& v : e2) v = -v;
      }
    }
    std::copy(e2, e2 + 3, previous);
    const size_t a = static_cast<size_t>(2 * k);
    mesh->vertices[a] = {h.x[k] + 0.5f * e2[0], h.y[k] + 0.5f * e2[1], h.z[k] + 0.5f * e2[2]};
    mesh->vertices[a + 1] = {h.x[k] - 0.5f * e2[0], h.y[k] - 0.5f * e2[1], h.z[k] - 0.5f * e2[2]};
    mesh->colors[a] = mesh->colors[a + 1] = {1.0f, 0.7f, 0.7f, 1.0f};
  }
  for (int k = 0; k + 1 < n; ++k) {
    mesh->triangles[static_cast<size_t>(2 * k)] = {2 * k, 2 * k + 1, 2 * k + 2};
    mesh->triangles[static_cast<size_t>(2 * k + 1)] = {2 * k + 1, 2 * k + 3, 2 * k + 2};
  }
  // The wire form carries one normal per vertex: the mean of the unit normals of the faces
  // around it (a zero-area face adds nothing).
  for (const auto& t : mesh->triangles) {
    const ZTR_OBJECT_POINT& p0 = mesh->vertices[static_cast<size_t>(t[0])];
    const ZTR_OBJECT_POINT& p1 = mesh->vertices[static_cast<size_t>(t[1])];
    const ZTR_OBJECT_POINT& p2 = mesh->vertices[static_cast<size_t>(t[2])];
    const float u[3] = {p1.x - p0.x, p1.y - p0.y, p1.z - p0.z};
    const float v[3] = {p2.x - p0.x, p2.y - p0.y, p2.z - p0.z};
    float normal[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    const float length = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    if (!(length > 0.0f)) continue;
    for (float& c : normal) c /= length;
    for (int32_t index : t) add_normal(mesh->normals, index, normal);
  }
  for (ZTR_OBJECT_POINT& p : mesh->normals) {
    const float length = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
    if (length > 0.0f) p = {p.x / length, p.y / length, p.z / length};
  }
  return mesh;
}

ZTR_OBJECT_GROUP* build_track_display(const ZTR_FIBETRAK_BUFFER& buffer,
                                      const FibetrakDisplay& display,
                                      const TrackingFitContext& fit, std::string* status,
                                      std::FILE* console) {
  ZTR_OBJECT_GROUP* group = ZTR_NewObjectGroup(2 * buffer.line_count);
  if (!group) return nullptr;
  const int32_t size[3] = {fit.nx(), fit.ny(), fit.nz()};
  const ZTR_OBJECT_COLOR material{1, 1, 1, 1};
  int made = 0;
  for (int i = 0; i < buffer.line_count; ++i) {
    const ZTR_FIBETRAK_LINE* line = buffer.lines[static_cast<size_t>(i)].get();
    if (!line || !line->visible) continue;
    for (const ZTR_FIBETRAK_HALFLINE* h : {line->forward.get(), line->backward.get()}) {
      if (!h) continue;
      // A primitive that cannot be made keeps its slot, empty.
      if (display.primitive == ZTR_FIBETRAK_PRIMITIVE_HAIRLINE) {
        ZTR_POLYLINE_OBJECT* object = make_hairline(*h, display, size, console);
        if (object) ++made;
        ZTR_AppendObject(group, ZTR_OBJECT_TYPE_POLYLINE, object, &material);
      } else if (display.primitive == ZTR_FIBETRAK_PRIMITIVE_TUBE) {
        ZTR_TUBE_OBJECT* object = make_tube(*h, display, size, console);
        if (object) ++made;
        ZTR_AppendObject(group, ZTR_OBJECT_TYPE_TUBE, object, &material);
      } else {
        ZTR_TRIANGULAR_MESH* object = make_ribbon(*h, fit);
        if (object) ++made;
        ZTR_AppendObject(group, ZTR_OBJECT_TYPE_TRIANGULAR_MESH, object, &material);
      }
    }
  }
  if (status) {
    *status = format("Seed:%d, Lines:%d/%d\n", buffer.seed_count, made, 2 * buffer.line_count);
  }
  return group;
}

std::string fibetrak_summary(const ZTR_FIBETRAK_BUFFER& buffer, const ZTR_OBJECT_GROUP* group) {
  double bytes = 0.0;
  for (const auto& line : buffer.lines) {
    if (!line) continue;
    const int nodes = (line->forward ? line->forward->count : 0) +
                      (line->backward ? line->backward->count : 0);
    bytes += 32.0 * nodes + 24.0;
  }
  return format("Seed Points:   %d\n", buffer.seed_count) +
         format("Tracked Lines:   %d\n", buffer.line_count) +
         format("Drawn Lines:   %d\n", group ? group->count / 2 : 0) +
         format("Buffer Size:   %3.1f Mb\n", bytes / 1024.0 / 1024.0);
}
