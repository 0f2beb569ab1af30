// Diffusion profiles: sample positions inside a region, keep those whose FA, ADC and So lie
// within the shown ranges, and build a glyph at each (a tensor ellipsoid or an ADC star)
// as display objects.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/dti/tensor.h"
#include "analyzer/voxel/voxel_statistics.h"
#include "sdk/ipc/object_group.h"
#include "sdk/volume/box.h"

enum : int32_t {
  ZTR_PROFILE_DENSITY_NORMAL = 347,
  ZTR_PROFILE_DENSITY_HIGH = 836,
  ZTR_PROFILE_DENSITY_ON_VOXEL = 125,
  ZTR_PROFILE_DENSITY_SPARSE = 734,
  ZTR_PROFILE_PRIMITIVE_ELLIPSOID = 978,
  ZTR_PROFILE_PRIMITIVE_STAR = 1234,
  ZTR_PROFILE_COLOURING_ANISOTROPY = 651,
  ZTR_PROFILE_COLOURING_DIRECTION = 824,
};

// Most sample positions a profile takes (the analyzer's shared point table holds as many).
inline constexpr int32_t ZTR_PROFILE_MAX_POINTS = 1000000;

struct DIFFUSION_PROFILE_SETTING {
  int32_t fa_on = 1;
  float fa_low = 0.18f;
  int32_t fa_on_copy = 1;
  float fa_high = 1.0f;
  int32_t adc_on = 1;
  float adc_low = 0.0f;  // mm^2/s
  int32_t adc_on_copy = 1;
  float adc_high = 0.003f;
  int32_t so_on = 1;
  float so_low = 0.0f;
  int32_t so_on_copy = 1;
  float so_high = 900.0f;
  int32_t point_count = 0;
  float* point_table = nullptr;  // not owned: the analyzer's shared point table
  int32_t density = ZTR_PROFILE_DENSITY_NORMAL;
  int32_t primitive = ZTR_PROFILE_PRIMITIVE_ELLIPSOID;
  int32_t colouring = ZTR_PROFILE_COLOURING_ANISOTROPY;
  int32_t emphasis = 0;
  int32_t region_selector = ZTR_REGION_BOX_VOI;
  int32_t listed_count = 0;
  std::vector<uint16_t> listed_ids;
  ZTR_FLOAT_BOX box;
};

// Sample spacing in voxels for a density, from the volume's x size (d = x / 256): normal 3d,
// high 2d, 734 4d, on voxel 1.0; unknown codes are taken as normal.
float profile_spacing(int32_t density, int32_t volume_x);
// The glyph scale S = 30 x base, base 12.0 on voxel and 12.0 x spacing otherwise.
float profile_symbol_scale(int32_t density, float spacing);

// What a profile region is made of. Freehand regions need the ROI views: the caller turns
// them into a voxel group first.
struct PROFILE_REGION {
  int32_t selector = ZTR_REGION_BOX_VOI;
  ZTR_FLOAT_BOX box;                    // ZTR_REGION_BOX_VOI
  float sphere_centre[3] = {0, 0, 0};   // ZTR_REGION_SPHERE
  float sphere_radius = 0.0f;
  std::vector<const VOXEL_GROUP_BOX*> voxel_groups;  // ZTR_REGION_LISTED
};

// Appends regular grid positions (voxel units) to *points, at most `limit` in all:
// - box: origin + (i s, j s, k s) for i s < size on every axis (k outer), so a box of n
//   voxels sampled on voxel gives n positions per axis;
// - sphere: centre + (i s, j s, k s) within the radius;
// - listed voxel groups: the grid of step s over each group's box (one step of margin) whose
//   nearest voxel is in the group.
// Positions outside the volume (below 0 or above size - 1 on an axis) are left out.
// Returns the number appended; prints "Over seed number limit (%d).\n" when the limit cuts
// it short.
int32_t sample_profile_points(const PROFILE_REGION& region, float spacing, const int32_t dims[3],
                              std::vector<float>* points, int32_t limit = ZTR_PROFILE_MAX_POINTS);

// Draws one point: gets the tensor fitted there and the position (the voxel's indices for
// on-voxel sampling).
using ProfileSymbolCallback = std::function<void(const float point[3], const ZTR_DTI_TENSOR&)>;

// Fits the tensor at each point (on voxel: at the voxel of the truncated position; otherwise
// at the position) and calls `draw` for the points whose enabled ranges all hold (bounds
// inclusive); points whose fit fails or is not finite are skipped. *summary receives the
// profile summary (0% for no points). Returns the number drawn, or -1 with "DTI data NOT
// ready\n", "insufficient memory\n" or "Func ptr for graphics NULL\n".
int32_t draw_profile_symbols(const DiffusionTensorImageData* data,
                             const DIFFUSION_PROFILE_SETTING& setting,
                             const std::vector<float>& points, const ProfileSymbolCallback& draw,
                             std::string* summary);

// Appends the glyph of `tensor` at `point` to `group`, centred half a voxel further on each
// axis (display objects sit at voxel corners): a tensor ellipsoid (type 12) or a star of two
// segments per diffusion-weighted channel (type 99 of type 13). Eigenvalue ratios are
// clamped to 0..1 and a non-positive largest eigenvalue or largest ADC gives zero-sized
// glyphs, so no size is negative or NaN. 0, or -1 when the glyph cannot be allocated or the
// group is full.
int make_profile_symbol(const DiffusionTensorImageData* data,
                        const DIFFUSION_PROFILE_SETTING& setting, float symbol_scale,
                        const float point[3], const ZTR_DTI_TENSOR& tensor,
                        ZTR_OBJECT_GROUP* group);

// The profile summary text for `drawn` of `points` symbols.
std::string profile_summary_text(int32_t drawn, int32_t points, double mean_fa, double mean_adc);
