// The codes a slice view and a stored ROI view share: orientations, drawing modes and the
// picture's side. Both the toolkit-free view model and the ROI records include this, so that
// one translation unit can convert between them.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int ZTR_VIEW_SIZE = 256;  // a view's picture is this many pixels square

// Orientation codes.
inline constexpr int32_t ZTR_VIEW_AXIAL = 123;
inline constexpr int32_t ZTR_VIEW_SAGITTAL = 524;
inline constexpr int32_t ZTR_VIEW_CORONAL = 651;
inline constexpr int32_t ZTR_VIEW_OBLIQUE = 967;
inline constexpr int32_t ZTR_VIEW_SPHERICAL = 346;

// Drawing modes.
inline constexpr int32_t ZTR_DRAW_SPHERE = 246;
inline constexpr int32_t ZTR_DRAW_FREEHAND = 734;

using Vec3 = std::array<float, 3>;
