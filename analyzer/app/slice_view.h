// Slice views (ROI palette frames) without a toolkit: one channel of the loaded volume cut
// into a 256 x 256 picture along one of five orientations, the grey window, the mouse state
// machine that pans, turns, windows and draws, boundary tracing and the overlay. A front end
// feeds pointer events in and paints `compose_view_pixels` 1:1.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "analyzer/view_codes.h"
#include "sdk/ipc/ipc_client.h"
#include "sdk/volume/raw_volume.h"

inline constexpr int ZTR_VIEW_PIXELS = ZTR_VIEW_SIZE * ZTR_VIEW_SIZE;
inline constexpr int ZTR_OUTLINE_CAPACITY = 4113;
// A traced boundary stops after this many points even when it has not closed.
inline constexpr int ZTR_TRACE_LIMIT = 4096;

// Guideline modes of the spherical map.
inline constexpr int32_t ZTR_GUIDELINE_NONE = 0;
inline constexpr int32_t ZTR_GUIDELINE_Z = 1;
inline constexpr int32_t ZTR_GUIDELINE_XZ = 2;

// Sampled value that marks a guideline pixel of a grey spherical map.
inline constexpr float ZTR_GUIDELINE_MARKER = 32000.0f;

using ViewPoint = std::array<uint16_t, 2>;  // (column, row) pixel

// The view record: everything a region stores of its view, plus the three pictures. It is a
// plain value; copying it copies the drawing (this is what ROI and study panels store and
// load).
struct SliceView {
  // Sampled slice, one float per pixel (grey channels), or packed RGBA (colour channels);
  // pixel (i, j) is element j * 256 + i: i is the column along u, j the row along v.
  std::vector<float> image = std::vector<float>(ZTR_VIEW_PIXELS, 0.0f);
  std::vector<uint32_t> rgba_image = std::vector<uint32_t>(ZTR_VIEW_PIXELS, 0u);
  std::vector<uint8_t> grey_image = std::vector<uint8_t>(ZTR_VIEW_PIXELS, 0);
  std::vector<uint8_t> overlay = std::vector<uint8_t>(ZTR_VIEW_PIXELS, 0);  // 255 inside
  bool colour = false;  // the last sampled channel was a packed RGBA one

  int32_t channel = 0;
  int32_t orientation = ZTR_VIEW_AXIAL;
  float window_low = 0.0f;
  float window_high = 255.0f;
  float zoom = 1.0f;  // screen pixels per voxel step
  Vec3 centre{0, 0, 0};
  Vec3 u{1, 0, 0};  // along a row (screen x)
  Vec3 v{0, 1, 0};  // down a column (screen y)
  Vec3 sphere_centre{0, 0, 0};
  Vec3 spherical_a{-1, 0, 0};
  Vec3 spherical_b{0, 1, 0};
  float radius_fraction = 0.4f;
  float centre_z_factor = 0.5f;
  int32_t drawing_mode = ZTR_DRAW_SPHERE;
  float sphere_radius = 3.0f;
  int32_t point_count = 0;
  ViewPoint start_point{0, 0};
  std::array<ViewPoint, ZTR_OUTLINE_CAPACITY> outline{};
  int32_t guideline_mode = ZTR_GUIDELINE_NONE;
};

// What a press remembers; every drag value is computed from it.
struct DragSnapshot {
  Vec3 centre{};
  Vec3 spherical_a{};
  Vec3 spherical_b{};
  float radius_fraction = 0.4f;
  float window_low = 0.0f;
  float window_high = 0.0f;
  float sphere_radius = 1.0f;
  int press_x = 0;
  int press_y = 0;
  int button = 0;
  bool ctrl = false;
};

// One slice view with its interaction state: the widget-independent half of a frame.
struct SliceViewFrame {
  SliceView view;
  // The loaded volume (shared, not owned); none until the session binds one.
  const RawVolumeData* volume = nullptr;
  bool held = false;
  bool follow = true;      // "sync.": follow the host's cursor
  bool redrawing = false;  // a refresh re-runs the orientation handler
  DragSnapshot snapshot;
  // The owner turns a finished sphere or outline into its region.
  std::function<void(SliceViewFrame&)> on_change;
  // The front end repaints and syncs its widgets (toggle, orientation bar).
  std::function<void(SliceViewFrame&)> on_repaint;
  // Paints what the owner keeps beside the drawing (a voxelgroup's voxels) over the composed
  // picture, in the picture's 0xAARRGGBB pixels; none: the picture stays as composed.
  std::function<void(const SliceView&, std::vector<uint32_t>&)> decorate;
};

// ---- the view record --------------------------------------------------------------------

// A view for `volume`: axial, channel 0, centred, the sphere centre at the centre Z factor,
// the window adjusted. `volume` may be none.
void init_view(SliceView& view, const RawVolumeData* volume);
// Copies the whole record (drawing and pictures included).
void copy_view(SliceView& destination, const SliceView& source);
// True when the grey window is exactly one wide (black-and-white threshold display).
bool in_threshold_mode(const SliceView& view);

// Re-samples the image from `volume` and maps it to grey; a view without a volume or with a
// channel outside the volume keeps its pictures.
void sample_view(SliceView& view, const RawVolumeData* volume);
// Maps the sampled image through the grey window into the grey image.
void map_to_grey(SliceView& view);
// The window from the channel's values (or high 255 for a colour channel). Never leaves a
// window whose high is not above its low.
void adjust_greyscale(SliceView& view, const RawVolumeData* volume);
// Recomputes the overlay from the sphere radius or the outline, clipped to the picture.
void recompute_overlay(SliceView& view);
// Traces the white region under (x, y) in the grey image into the outline; false (outline
// unchanged) when that pixel is not white.
bool trace_boundary(SliceView& view, int x, int y);
// The picture as premultiplied ARGB32 pixels (0xAARRGGBB), row by row: grey or colour
// image, the drawn overlay in `colour` (0xRRGGBB) and the sphere circle or the stroke.
std::vector<uint32_t> compose_view_pixels(const SliceView& view, bool stroke_in_progress,
                                          uint32_t colour);

// ---- the frame: commands and pointer events ------------------------------------------

// Sets the orientation; a user's choice (outside a refresh) also switches sync on and
// clears the outline. Re-samples and repaints.
void set_view_orientation(SliceViewFrame& frame, int32_t code, bool user_choice);
// Re-samples and repaints.
void redraw_frame(SliceViewFrame& frame);
void zoom_in(SliceViewFrame& frame);
void zoom_out(SliceViewFrame& frame);
// Steps the channel by `step` within the volume's channels (no wrap), then adjusts the
// window, clears the outline and re-samples. Stepping past an end only re-adjusts.
void step_channel(SliceViewFrame& frame, int step);
// Shows `channel` (clamped to the volume's channels): window, outline cleared, re-sampled.
void show_channel(SliceViewFrame& frame, int channel);
void adjust_greyscale_button(SliceViewFrame& frame);
void threshold_button(SliceViewFrame& frame);
void set_follow(SliceViewFrame& frame, bool follow);
// While following: centre at the host's cursor, outline cleared, re-sampled.
void follow_host(SliceViewFrame& frame, const ZTRipc_BROADCASTER& broadcast);
// Binds the frame to `volume` (none allowed) and starts over as a new view of it, following.
void reset_frame(SliceViewFrame& frame, const RawVolumeData* volume);
// Re-runs the current orientation as a refresh (sync and outline stay): after the voxel
// values under the view changed.
void refresh_frame(SliceViewFrame& frame);

// Where a region keeps its view: `load_view` puts a stored record into the frame (pictures
// re-sampled from the frame's volume, the channel kept within it); `store_view` copies the
// frame's record out, drawing included.
void load_view(SliceViewFrame& frame, const SliceView& stored);
void store_view(const SliceViewFrame& frame, SliceView& stored);

// Pointer events in drawing-area pixels; positions outside the area are clamped to it.
// `button` is 1, 2 or 3; `ctrl` tells whether Control was held at the press.
void view_button_press(SliceViewFrame& frame, int x, int y, int button, bool ctrl);
void view_pointer_motion(SliceViewFrame& frame, int x, int y);
void view_button_release(SliceViewFrame& frame, int x, int y, int button);
