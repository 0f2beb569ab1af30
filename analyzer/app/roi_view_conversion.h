// The two forms of a drawn view: a ROI's stored one (RoiView) and the slice view's record
// (SliceView). The pictures are not part of a ROI; the overlay travels for freehand drawing
// only. Inline, so that the file codecs below the application use them without linking it.
#pragma once

#include <algorithm>
#include <cstdint>

#include "analyzer/app/slice_view.h"
#include "analyzer/objects/roi_object.h"

inline void roi_view_to_slice_view(const RoiView& from, SliceView& to) {
  to.channel = from.channel;
  to.window_low = from.window_low;
  to.window_high = from.window_high;
  to.orientation = from.orientation;
  to.zoom = from.zoom;
  to.centre = from.centre;
  to.u = from.u;
  to.v = from.v;
  to.sphere_centre = from.sphere_centre;
  to.spherical_a = from.axis_a;
  to.spherical_b = from.axis_b;
  to.radius_fraction = from.radius_fraction;
  to.centre_z_factor = from.centre_z_factor;
  to.drawing_mode = from.drawing_mode;
  to.sphere_radius = from.sphere_radius;
  to.start_point = from.start_point;
  to.guideline_mode = from.guideline_mode;
  const size_t count = std::min<size_t>(from.points.size(), ZTR_OUTLINE_CAPACITY);
  to.point_count = static_cast<int32_t>(count);
  std::fill(to.outline.begin(), to.outline.end(), ViewPoint{0, 0});
  std::copy_n(from.points.begin(), count, to.outline.begin());
  if (from.overlay.size() == static_cast<size_t>(ZTR_VIEW_PIXELS)) {
    to.overlay = from.overlay;
  } else {
    std::fill(to.overlay.begin(), to.overlay.end(), uint8_t{0});
  }
}

inline void slice_view_to_roi_view(const SliceView& from, const GridSize& volume_size, RoiView& to) {
  to.channel = from.channel;
  to.window_low = from.window_low;
  to.window_high = from.window_high;
  to.orientation = from.orientation;
  to.zoom = from.zoom;
  to.centre = from.centre;
  to.u = from.u;
  to.v = from.v;
  to.sphere_centre = from.sphere_centre;
  to.axis_a = from.spherical_a;
  to.axis_b = from.spherical_b;
  to.radius_fraction = from.radius_fraction;
  to.centre_z_factor = from.centre_z_factor;
  to.drawing_mode = from.drawing_mode;
  to.sphere_radius = from.sphere_radius;
  to.start_point = from.start_point;
  to.guideline_mode = from.guideline_mode;
  const size_t count =
      static_cast<size_t>(std::clamp<int32_t>(from.point_count, 0, ZTR_OUTLINE_CAPACITY));
  to.points.assign(from.outline.begin(), from.outline.begin() + static_cast<long>(count));
  // A sphere's overlay is drawn from its radius; only a freehand drawing is its overlay.
  const bool drawn = from.drawing_mode == ZTR_DRAW_FREEHAND &&
                     std::any_of(from.overlay.begin(), from.overlay.end(),
                                 [](uint8_t p) { return p != 0; });
  if (drawn) {
    to.overlay = from.overlay;
  } else {
    to.overlay.clear();
  }
  to.volume_size = volume_size;
}
