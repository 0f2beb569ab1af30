// Slice views without a toolkit: sampling, grey window, drawing, tracing and composing the
// picture a front end paints.
#include "analyzer/app/slice_view.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sdk/volume/sampling.h"

namespace {

constexpr int kCentre = ZTR_VIEW_SIZE / 2;
constexpr double kPi = 3.14159265358979323846;

Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

float length(const Vec3& a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }

// The unit vector along `a`, or `a` unchanged when it has no length.
Vec3 normalised(const Vec3& a) {
  const float n = length(a);
  if (!(n > 0.0f) || !std::isfinite(n)) return a;
  return {a[0] / n, a[1] / n, a[2] / n};
}

int clamp_pixel(int p) { return std::clamp(p, 0, ZTR_VIEW_SIZE - 1); }

bool channel_valid(const RawVolumeData* volume, int32_t channel) {
  return volume && channel >= 0 && channel < volume->header->channels;
}

bool is_colour_channel(const RawVolumeData* volume, int32_t channel) {
  return volume->attributes[channel] == ZTR_ATTRIBUTE_RGBA;
}

void sample_planar(SliceView& view, const RawVolumeData* volume) {
  const float z = view.zoom;
  const Vec3 row{view.u[0] / z, view.u[1] / z, view.u[2] / z};
  const Vec3 col{view.v[0] / z, view.v[1] / z, view.v[2] / z};
  Vec3 origin;
  for (int k = 0; k < 3; ++k) origin[k] = view.centre[k] - kCentre * (row[k] + col[k]);
  for (int j = 0; j < ZTR_VIEW_SIZE; ++j) {
    for (int i = 0; i < ZTR_VIEW_SIZE; ++i) {
      const float px = origin[0] + i * row[0] + j * col[0];
      const float py = origin[1] + i * row[1] + j * col[1];
      const float pz = origin[2] + i * row[2] + j * col[2];
      const double value = ZTR_SampleChannel(volume, view.channel, px, py, pz, 1);
      const int n = j * ZTR_VIEW_SIZE + i;
      if (view.colour) {
        view.rgba_image[n] = static_cast<uint32_t>(value);
      } else {
        view.image[n] = static_cast<float>(value);
      }
    }
  }
}

// Whole degrees of the angle whose cosine is `cosine` (rounding may push it past +-1).
long whole_degrees(float cosine) {
  const double c = std::clamp(static_cast<double>(cosine), -1.0, 1.0);
  return std::lround(std::acos(c) * 180.0 / kPi);
}

void sample_spherical(SliceView& view, const RawVolumeData* volume) {
  const Vec3& a = view.spherical_a;
  const Vec3& b = view.spherical_b;
  const Vec3 c = cross(a, b);
  const Vec3& q = view.sphere_centre;
  const float radius = view.radius_fraction * q[0];
  for (int j = 0; j < ZTR_VIEW_SIZE; ++j) {
    for (int i = 0; i < ZTR_VIEW_SIZE; ++i) {
      const int n = j * ZTR_VIEW_SIZE + i;
      view.image[n] = 0.0f;
      view.rgba_image[n] = 0u;
      const int di = i - kCentre, dj = j - kCentre;
      if (di * di + dj * dj >= kCentre * kCentre) continue;
      const float su = di / view.zoom, sv = dj / view.zoom;
      Vec3 p;
      for (int k = 0; k < 3; ++k) p[k] = su * a[k] + sv * b[k] + radius * c[k];
      const float len = length(p);
      // A sphere of radius 0 leaves the centre pixel without a direction: no sample there.
      if (!(len > 0.0f) || !std::isfinite(len)) continue;
      bool marker = false;
      if (view.guideline_mode == ZTR_GUIDELINE_Z) {
        marker = whole_degrees(p[2] / len) % 30 == 0;
      } else if (view.guideline_mode == ZTR_GUIDELINE_XZ) {
        // A direction along y has no projection on the XZ plane, and so no guideline.
        const float xz = std::sqrt(p[0] * p[0] + p[2] * p[2]);
        marker = xz > 0.0f && whole_degrees(p[2] / xz) % 30 == 0;
      }
      if (marker) {
        view.image[n] = ZTR_GUIDELINE_MARKER;
        view.rgba_image[n] = 0xFFFFFFFFu;
        continue;
      }
      const float s = radius / len;
      const double value = ZTR_SampleChannel(volume, view.channel, q[0] + s * p[0],
                                             q[1] + s * p[1], q[2] + s * p[2], 1);
      if (view.colour) {
        view.rgba_image[n] = static_cast<uint32_t>(value);
      } else {
        // The map reads grey channels as signed 16-bit values.
        view.image[n] = static_cast<float>(std::clamp(value, -32768.0, 32767.0));
      }
    }
  }
}

void set_pixel(std::vector<uint8_t>& picture, int i, int j, uint8_t value) {
  if (i < 0 || j < 0 || i >= ZTR_VIEW_SIZE || j >= ZTR_VIEW_SIZE) return;
  picture[j * ZTR_VIEW_SIZE + i] = value;
}

// Calls plot(i, j) for every pixel of the line from (x0, y0) to (x1, y1).
template <class Plot>
void for_line(int x0, int y0, int x1, int y1, Plot plot) {
  const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (;;) {
    plot(x0, y0);
    if (x0 == x1 && y0 == y1) break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

// Calls plot(i, j) for the pixels of a circle of radius r around the picture's centre.
template <class Plot>
void for_circle(int r, Plot plot) {
  int x = r, y = 0, err = 1 - r;
  while (x >= y) {
    const int pts[8][2] = {{x, y}, {y, x}, {-y, x}, {-x, y}, {-x, -y}, {-y, -x}, {y, -x}, {x, -y}};
    for (const auto& p : pts) plot(kCentre + p[0], kCentre + p[1]);
    ++y;
    if (err < 0) {
      err += 2 * y + 1;
    } else {
      --x;
      err += 2 * (y - x) + 1;
    }
  }
}

ViewPoint outline_point(const SliceView& view, int n) {
  // A stored point may come from a file: keep it on the picture.
  return {static_cast<uint16_t>(std::min<int>(view.outline[n][0], ZTR_VIEW_SIZE - 1)),
          static_cast<uint16_t>(std::min<int>(view.outline[n][1], ZTR_VIEW_SIZE - 1))};
}

int outline_count(const SliceView& view) {
  return std::clamp(view.point_count, 0, ZTR_OUTLINE_CAPACITY);
}

// Even-odd fill of the closed outline at the pixel centres of each row, clipped to the
// picture, plus the outline's own pixels.
void fill_polygon(SliceView& view) {
  const int n = outline_count(view);
  if (n == 0) return;
  std::vector<float> crossings;
  for (int row = 0; row < ZTR_VIEW_SIZE; ++row) {
    crossings.clear();
    for (int k = 0; k < n; ++k) {
      const ViewPoint p0 = outline_point(view, k);
      const ViewPoint p1 = outline_point(view, (k + 1) % n);
      const int y0 = p0[1], y1 = p1[1];
      if (y0 == y1) continue;
      if ((y0 <= row && row < y1) || (y1 <= row && row < y0)) {
        crossings.push_back(static_cast<float>(p0[0]) +
                            static_cast<float>(row - y0) * (p1[0] - p0[0]) / (y1 - y0));
      }
    }
    std::sort(crossings.begin(), crossings.end());
    for (size_t k = 0; k + 1 < crossings.size(); k += 2) {
      const int from = std::max(0, static_cast<int>(std::ceil(crossings[k])));
      const int to = std::min(ZTR_VIEW_SIZE - 1, static_cast<int>(std::floor(crossings[k + 1])));
      for (int i = from; i <= to; ++i) view.overlay[row * ZTR_VIEW_SIZE + i] = 255;
    }
  }
  for (int k = 0; k < n; ++k) {
    const ViewPoint p0 = outline_point(view, k);
    const ViewPoint p1 = outline_point(view, (k + 1) % n);
    for_line(p0[0], p0[1], p1[0], p1[1],
             [&](int i, int j) { set_pixel(view.overlay, i, j, 255); });
  }
}

uint32_t opaque(uint32_t r, uint32_t g, uint32_t b) { return 0xFF000000u | r << 16 | g << 8 | b; }

void notify_repaint(SliceViewFrame& frame) {
  if (frame.on_repaint) frame.on_repaint(frame);
}

void clear_outline(SliceView& view) { view.point_count = 0; }

}  // namespace

// ---- the view record ------------------------------------------------------------------------

void init_view(SliceView& view, const RawVolumeData* volume) {
  view = SliceView{};
  if (!volume) return;
  const VolumeHeader& h = *volume->header;
  view.centre = {static_cast<float>(h.x / 2), static_cast<float>(h.y / 2),
                 static_cast<float>(h.z / 2)};
  view.sphere_centre = {static_cast<float>(h.x / 2), static_cast<float>(h.y / 2),
                        static_cast<float>(h.z) * view.centre_z_factor};
  adjust_greyscale(view, volume);
  sample_view(view, volume);
}

void copy_view(SliceView& destination, const SliceView& source) { destination = source; }

bool in_threshold_mode(const SliceView& view) {
  return view.window_high - view.window_low == 1.0f;
}

void sample_view(SliceView& view, const RawVolumeData* volume) {
  if (!channel_valid(volume, view.channel)) return;
  if (!(view.zoom > 0.0f) || !std::isfinite(view.zoom)) return;
  view.colour = is_colour_channel(volume, view.channel);
  if (view.orientation == ZTR_VIEW_SPHERICAL) {
    sample_spherical(view, volume);
  } else {
    sample_planar(view, volume);
  }
  map_to_grey(view);
}

void map_to_grey(SliceView& view) {
  if (view.colour) {
    std::fill(view.grey_image.begin(), view.grey_image.end(), 0);
    return;
  }
  const float low = view.window_low, high = view.window_high;
  if (!(high > low) || !std::isfinite(high - low)) {
    // No width to divide by: everything above the low end is white.
    for (int n = 0; n < ZTR_VIEW_PIXELS; ++n) view.grey_image[n] = view.image[n] > low ? 255 : 0;
    return;
  }
  const float source[2] = {low, high};
  const float target[2] = {0.0f, 255.0f};
  ZTR_ConvertVoxelBuffer(ZTR_VIEW_PIXELS, view.image.data(), view.grey_image.data(),
                         ZTR_TYPE_FLOAT32, ZTR_TYPE_UINT8, source, target, 3);
  if (in_threshold_mode(view)) {
    for (uint8_t& g : view.grey_image) g = g != 0 ? 255 : 0;
  }
}

void adjust_greyscale(SliceView& view, const RawVolumeData* volume) {
  if (!channel_valid(volume, view.channel)) return;
  if (is_colour_channel(volume, view.channel)) {
    view.window_high = 255.0f;
    return;
  }
  const VolumeHeader& h = *volume->header;
  const int x0 = h.x / 4, y0 = h.y / 4;
  const int nx = std::max(1, h.x / 2), ny = std::max(1, h.y / 2);
  const int64_t voxels = int64_t{h.x} * h.y * h.z;
  const void* data = volume->data[view.channel];
  const int32_t type = volume->types[view.channel];
  float low = std::numeric_limits<float>::infinity();
  float high = -std::numeric_limits<float>::infinity();
  for (int k = 0; k < h.z; ++k) {
    for (int j = y0; j < y0 + ny && j < h.y; ++j) {
      for (int i = x0; i < x0 + nx && i < h.x; ++i) {
        const float value =
            ZTR_GetVoxelValueAsFloat(data, type, voxels, i + int64_t{h.x} * (j + int64_t{h.y} * k));
        if (!std::isfinite(value)) continue;
        low = std::min(low, value);
        high = std::max(high, value);
      }
    }
  }
  if (low > high) low = high = 0.0f;  // no finite value in the box
  if (low == high) high += 1.0f;
  view.window_low = 0.5f * low;
  view.window_high = 0.75f * high;
  // Negative data turns the scaled window empty or inside out; its full range still shows it.
  if (!(view.window_high > view.window_low)) {
    view.window_low = low;
    view.window_high = high;
  }
}

void recompute_overlay(SliceView& view) {
  std::fill(view.overlay.begin(), view.overlay.end(), 0);
  if (view.drawing_mode == ZTR_DRAW_FREEHAND) {
    fill_polygon(view);
    return;
  }
  const float r = view.sphere_radius * view.zoom;
  if (!std::isfinite(r) || r < 0.0f) return;
  const int64_t radius = static_cast<int64_t>(std::min(r, 1.0e6f));
  for (int j = 0; j < ZTR_VIEW_SIZE; ++j) {
    for (int i = 0; i < ZTR_VIEW_SIZE; ++i) {
      const int64_t di = i - kCentre, dj = j - kCentre;
      if (di * di + dj * dj <= radius * radius) view.overlay[j * ZTR_VIEW_SIZE + i] = 255;
    }
  }
}

bool trace_boundary(SliceView& view, int x, int y) {
  x = clamp_pixel(x);
  y = clamp_pixel(y);
  // The border is made grey so that the trace can never step off the picture.
  std::vector<uint8_t> g = view.grey_image;
  for (int k = 0; k < ZTR_VIEW_SIZE; ++k) {
    g[k] = g[(ZTR_VIEW_SIZE - 1) * ZTR_VIEW_SIZE + k] = 128;
    g[k * ZTR_VIEW_SIZE] = g[k * ZTR_VIEW_SIZE + ZTR_VIEW_SIZE - 1] = 128;
  }
  auto white = [&](int i, int j) { return g[j * ZTR_VIEW_SIZE + i] == 255; };
  if (!white(x, y)) return false;
  while (white(x + 1, y)) ++x;
  static constexpr int kStep[8][2] = {{1, 0},  {1, 1},   {0, 1},  {-1, 1},
                                      {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
  const ViewPoint start{static_cast<uint16_t>(x), static_cast<uint16_t>(y)};
  view.start_point = start;
  view.outline[0] = start;
  int count = 1;
  int direction = 0;
  int cx = x, cy = y;
  while (count < ZTR_TRACE_LIMIT) {
    // Eight tests at most: a pixel with no white neighbour is its own outline.
    bool moved = false;
    for (int k = 0; k < 8; ++k) {
      const int d = (direction + k) & 7;
      const int nx = cx + kStep[d][0], ny = cy + kStep[d][1];
      if (!white(nx, ny)) continue;
      cx = nx;
      cy = ny;
      view.outline[count++] = {static_cast<uint16_t>(cx), static_cast<uint16_t>(cy)};
      direction = (d + 5) & 7;
      moved = true;
      break;
    }
    if (!moved || (cx == x && cy == y)) break;
  }
  view.point_count = count;
  return true;
}

std::vector<uint32_t> compose_view_pixels(const SliceView& view, bool stroke_in_progress,
                                          uint32_t colour) {
  std::vector<uint32_t> out(ZTR_VIEW_PIXELS);
  const uint32_t cr = colour >> 16 & 0xFF, cg = colour >> 8 & 0xFF, cb = colour & 0xFF;
  for (int n = 0; n < ZTR_VIEW_PIXELS; ++n) {
    uint32_t r, g, b;
    if (view.colour) {
      const uint32_t p = view.rgba_image[n];
      r = p >> 24 & 0xFF;
      g = p >> 16 & 0xFF;
      b = p >> 8 & 0xFF;
    } else {
      r = g = b = view.grey_image[n];
    }
    if (view.drawing_mode == ZTR_DRAW_FREEHAND && !stroke_in_progress && view.overlay[n] == 255) {
      // The finished region is tinted so that the data under it stays readable.
      r = (r + cr) / 2;
      g = (g + cg) / 2;
      b = (b + cb) / 2;
    }
    out[n] = opaque(r, g, b);
  }
  auto plot = [&](int i, int j) {
    if (i < 0 || j < 0 || i >= ZTR_VIEW_SIZE || j >= ZTR_VIEW_SIZE) return;
    out[j * ZTR_VIEW_SIZE + i] = opaque(cr, cg, cb);
  };
  if (view.drawing_mode == ZTR_DRAW_SPHERE) {
    const float r = view.sphere_radius * view.zoom;
    if (std::isfinite(r) && r >= 0.0f) for_circle(static_cast<int>(std::min(r, 512.0f)), plot);
  } else if (stroke_in_progress) {
    const int n = outline_count(view);
    for (int k = 0; k + 1 < n; ++k) {
      const ViewPoint p0 = outline_point(view, k), p1 = outline_point(view, k + 1);
      for_line(p0[0], p0[1], p1[0], p1[1], plot);
    }
    if (n == 1) plot(outline_point(view, 0)[0], outline_point(view, 0)[1]);
  }
  return out;
}

// ---- the frame ----------------------------------------------------------------------------

void redraw_frame(SliceViewFrame& frame) {
  sample_view(frame.view, frame.volume);
  recompute_overlay(frame.view);
  notify_repaint(frame);
}

void set_view_orientation(SliceViewFrame& frame, int32_t code, bool user_choice) {
  SliceView& view = frame.view;
  switch (code) {
    case ZTR_VIEW_AXIAL:
      view.u = {1, 0, 0};
      view.v = {0, 1, 0};
      break;
    case ZTR_VIEW_SAGITTAL:
      view.u = {0, 1, 0};
      view.v = {0, 0, 1};
      break;
    case ZTR_VIEW_CORONAL:
      view.u = {1, 0, 0};
      view.v = {0, 0, 1};
      break;
    case ZTR_VIEW_OBLIQUE:
    case ZTR_VIEW_SPHERICAL:
      break;
    default:
      return;
  }
  view.orientation = code;
  if (user_choice && !frame.redrawing) {
    frame.follow = true;
    clear_outline(view);
  }
  redraw_frame(frame);
}

void zoom_in(SliceViewFrame& frame) {
  frame.view.zoom += 0.5f;
  clear_outline(frame.view);
  redraw_frame(frame);
}

void zoom_out(SliceViewFrame& frame) {
  float& zoom = frame.view.zoom;
  if (zoom - 0.5f >= 1.0f) {
    zoom -= 0.5f;
  } else if (zoom > 1.0f) {
    zoom = 1.0f;
  }
  clear_outline(frame.view);
  redraw_frame(frame);
}

void step_channel(SliceViewFrame& frame, int step) {
  if (!frame.volume) return;
  const int next = frame.view.channel + step;
  if (next >= 0 && next < frame.volume->header->channels) {
    frame.view.channel = next;
    clear_outline(frame.view);
  }
  adjust_greyscale(frame.view, frame.volume);
  redraw_frame(frame);
}

void show_channel(SliceViewFrame& frame, int channel) {
  if (!frame.volume) return;
  frame.view.channel = std::clamp(channel, 0, frame.volume->header->channels - 1);
  adjust_greyscale(frame.view, frame.volume);
  clear_outline(frame.view);
  redraw_frame(frame);
}

void adjust_greyscale_button(SliceViewFrame& frame) {
  adjust_greyscale(frame.view, frame.volume);
  redraw_frame(frame);
}

void threshold_button(SliceViewFrame& frame) {
  frame.follow = false;
  SliceView& view = frame.view;
  view.window_low = (view.window_low + view.window_high) / 2.0f;
  view.window_high = view.window_low + 1.0f;
  redraw_frame(frame);
}

void set_follow(SliceViewFrame& frame, bool follow) {
  if (frame.follow == follow) return;
  frame.follow = follow;
  notify_repaint(frame);
}

void follow_host(SliceViewFrame& frame, const ZTRipc_BROADCASTER& broadcast) {
  if (!frame.follow || frame.held) return;
  const float* c = broadcast.cursor;
  if (!std::isfinite(c[0]) || !std::isfinite(c[1]) || !std::isfinite(c[2])) return;
  const Vec3 cursor{c[0], c[1], c[2]};
  // The timer asks several times a second; a view already there has nothing to redraw.
  if (frame.view.centre == cursor && frame.view.point_count == 0) return;
  frame.view.centre = cursor;
  clear_outline(frame.view);
  redraw_frame(frame);
}

void reset_frame(SliceViewFrame& frame, const RawVolumeData* volume) {
  const int32_t mode = frame.view.drawing_mode;
  frame.volume = volume;
  init_view(frame.view, volume);
  frame.view.drawing_mode = mode;
  frame.held = false;
  frame.follow = true;
  redraw_frame(frame);
}

void refresh_frame(SliceViewFrame& frame) {
  frame.redrawing = true;
  set_view_orientation(frame, frame.view.orientation, true);
  frame.redrawing = false;
}

void load_view(SliceViewFrame& frame, const SliceView& stored) {
  copy_view(frame.view, stored);
  if (frame.volume && (frame.view.channel < 0 || frame.view.channel >= frame.volume->header->channels)) {
    frame.view.channel = 0;
    adjust_greyscale(frame.view, frame.volume);
  }
  frame.held = false;
  refresh_frame(frame);
}

void store_view(const SliceViewFrame& frame, SliceView& stored) { copy_view(stored, frame.view); }

// ---- pointer events ------------------------------------------------------------------------

void view_button_press(SliceViewFrame& frame, int x, int y, int button, bool ctrl) {
  x = clamp_pixel(x);
  y = clamp_pixel(y);
  SliceView& view = frame.view;
  frame.held = true;
  frame.follow = false;
  DragSnapshot& s = frame.snapshot;
  s.centre = view.centre;
  s.spherical_a = view.spherical_a;
  s.spherical_b = view.spherical_b;
  s.radius_fraction = view.radius_fraction;
  s.window_low = view.window_low;
  s.window_high = view.window_high;
  s.sphere_radius = view.sphere_radius;
  s.press_x = x;
  s.press_y = y;
  s.button = button;
  s.ctrl = ctrl;
  if (!ctrl && view.drawing_mode == ZTR_DRAW_FREEHAND) {
    const ViewPoint p{static_cast<uint16_t>(x), static_cast<uint16_t>(y)};
    view.start_point = p;
    view.outline[0] = p;
    view.point_count = 1;
  }
  notify_repaint(frame);
}

namespace {

void control_drag(SliceViewFrame& frame, int x, int y) {
  SliceView& view = frame.view;
  const DragSnapshot& s = frame.snapshot;
  const float dx = static_cast<float>(s.press_x - x);
  const float dy = static_cast<float>(s.press_y - y);
  const bool spherical = view.orientation == ZTR_VIEW_SPHERICAL;
  switch (s.button) {
    case 1:
      if (spherical) {
        const Vec3& a = s.spherical_a;
        const Vec3& b = s.spherical_b;
        const Vec3 c = cross(a, b);
        Vec3 d;
        for (int k = 0; k < 3; ++k) d[k] = -dx * a[k] - dy * b[k] - 100.0f * c[k];
        d = normalised(d);
        // Without a drag d is -(a x b), and these two products give back a and b.
        view.spherical_a = normalised(cross(d, b));
        view.spherical_b = normalised(cross(view.spherical_a, d));
      } else {
        for (int k = 0; k < 3; ++k) {
          view.centre[k] = s.centre[k] + dx * view.u[k] / view.zoom + dy * view.v[k] / view.zoom;
        }
      }
      break;
    case 2:
      if (spherical) {
        view.radius_fraction = std::clamp(s.radius_fraction + dy / 256.0f, 0.1f, 1.0f);
      } else {
        Vec3 n = cross(view.u, view.v);
        if (view.orientation == ZTR_VIEW_SAGITTAL) n = {-n[0], -n[1], -n[2]};
        for (int k = 0; k < 3; ++k) view.centre[k] = s.centre[k] - dy * n[k];
      }
      break;
    case 3: {
      const float level = (s.window_high + s.window_low) / 2.0f - dy;
      const float half = std::max(0.5f, dx + (s.window_high - s.window_low) / 2.0f);
      view.window_low = level - half;
      view.window_high = level + half;
      break;
    }
    default:
      return;
  }
  redraw_frame(frame);
}

}  // namespace

void view_pointer_motion(SliceViewFrame& frame, int x, int y) {
  if (!frame.held) return;
  x = clamp_pixel(x);
  y = clamp_pixel(y);
  if (frame.snapshot.ctrl) {
    control_drag(frame, x, y);
    return;
  }
  SliceView& view = frame.view;
  if (view.drawing_mode == ZTR_DRAW_FREEHAND) {
    const ViewPoint p{static_cast<uint16_t>(x), static_cast<uint16_t>(y)};
    const int n = outline_count(view);
    // A repeated pixel adds nothing to the outline, and would turn a click into a stroke.
    if (n > 0 && view.outline[n - 1] == p) return;
    if (n >= ZTR_OUTLINE_CAPACITY) return;
    view.outline[n] = p;
    view.point_count = n + 1;
  } else {
    const float grown =
        frame.snapshot.sphere_radius + static_cast<float>(frame.snapshot.press_y - y) / view.zoom;
    view.sphere_radius = std::max(1.0f, grown);
  }
  notify_repaint(frame);
}

void view_button_release(SliceViewFrame& frame, int x, int y, int button) {
  if (!frame.held) return;
  x = clamp_pixel(x);
  y = clamp_pixel(y);
  frame.held = false;
  SliceView& view = frame.view;
  if (frame.snapshot.ctrl) {
    control_drag(frame, x, y);
  } else if (view.drawing_mode == ZTR_DRAW_FREEHAND && view.point_count == 1 &&
             view.start_point[0] == x && view.start_point[1] == y && in_threshold_mode(view) &&
             view.grey_image[y * ZTR_VIEW_SIZE + x] == 255) {
    trace_boundary(view, x, y);
  }
  recompute_overlay(view);
  notify_repaint(frame);
  if (button != 3 && frame.on_change) frame.on_change(frame);
}
