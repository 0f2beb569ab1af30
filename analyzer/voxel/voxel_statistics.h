// Region statistics of the tensor field: the analysis mask of a region, minimum, maximum,
// mean and standard deviation of the standard DTI parameters over it, the summary text, the
// distance between two voxel groups and the per-voxel ADC dump.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/region_codes.h"
#include "sdk/volume/box.h"
#include "sdk/volume/raw_volume.h"

// A voxel group: a box of the volume and one byte per box voxel (x fastest), non-zero
// meaning inside.
struct VOXEL_GROUP_BOX {
  int32_t origin[3] = {0, 0, 0};
  int32_t size[3] = {0, 0, 0};
  std::vector<uint8_t> inside;
  bool at(int32_t x, int32_t y, int32_t z) const {
    return inside[size_t(x + int64_t(size[0]) * (y + int64_t(size[1]) * z))] != 0;
  }
};

// The group of channel 0's non-zero voxels over their bounding box; an empty group (size 0)
// for an empty or missing mask.
VOXEL_GROUP_BOX voxel_group_from_mask(const RawVolumeData* mask);

// What a statistics region is made of. The caller paints sphere and freehand regions (they
// need the ROI views) and hands in the painted volumes; voxel groups are OR-ed in directly.
struct STATISTICS_REGION {
  int32_t selector = ZTR_REGION_BOX_VOI;
  ZTR_BOX box;  // for ZTR_REGION_BOX_VOI
  std::vector<const RawVolumeData*> painted;  // sphere / freehand, and listed ones
  std::vector<const VOXEL_GROUP_BOX*> voxel_groups;  // listed voxel groups
};

// Clears channel 0 of `mask` (unsigned 8-bit) and sets the region's voxels to 1: the box
// [origin, origin + size) clipped to the volume; for a sphere or freehand region the
// painted volumes; for listed ROIs the painted volumes and the voxel groups; nothing for any
// other selector. Painted volumes of another size and groups outside the mask are clipped.
// 0, or -1 with "Volume not ready\n" for a missing or non-8-bit mask.
int build_statistics_mask(const STATISTICS_REGION& region, RawVolumeData* mask);

inline constexpr int ZTR_STATISTICS_PARAMETERS = 12;
// So, FA, ADC, L1, L2, L3, Dxx, Dyy, Dzz, Dxy, Dyz, Dzx.
extern const char* const kStatisticsParameterNames[ZTR_STATISTICS_PARAMETERS];

struct ZTR_PARAMETER_STATISTICS {
  double min = 0.0, max = 0.0, mean = 0.0, std = 0.0;
};
struct ROI_DTI_STATISTICS {
  int32_t voxels = 0;        // masked voxels visited
  int32_t valid_voxels = 0;  // of which the tensor is valid
  ZTR_PARAMETER_STATISTICS parameters[ZTR_STATISTICS_PARAMETERS];
};

// Fits the tensor at every voxel whose mask value is 1 (z, y, x order); a voxel counts when
// all eigenvalues are > 0 and 0 <= FA <= 1. Mean and population standard deviation are
// accumulated by Welford's method, so a uniform region has deviation 0, never NaN. Prints
// the progress line per slice and "Done." at the end. 0, or -1 ("DTI data NOT ready\n",
// "insufficient memory\n", or a mask not on the data's grid) with *result untouched.
int compute_region_statistics(const DiffusionTensorImageData* data, const RawVolumeData* mask,
                              ROI_DTI_STATISTICS* result);

// The study summary text of the statistics; `distance_mm` < 0 means no distance line;
// `rtnn_text` nullptr means no networks are loaded.
std::string statistics_summary_text(const ROI_DTI_STATISTICS& statistics, double distance_mm,
                                    const char* rtnn_text);

// Shortest distance in mm between the surface voxels of two groups (a set voxel with at least
// one unset face neighbour, outside the box counting as unset), voxel positions scaled by the
// per-axis voxel sizes. -1 when either group is empty.
double voxelgroup_distance(const VOXEL_GROUP_BOX& a, const VOXEL_GROUP_BOX& b,
                           const float voxel_size[3]);
// The summary's distance line: "\n" then "Distance between 2 voxelgroups: %4.3f(mm)\n".
std::string voxelgroup_distance_text(double distance_mm);

// Writes every masked voxel's ADC (x 1000) along each diffusion-weighted channel as text:
// the masked voxel count, the channel count D, D direction lines, then D values per voxel
// (z, y, x order). A channel whose signal, b=0 mean or b value is not positive has no
// defined ADC; its value is written as 0.000000 and the count of such voxels is reported on
// the console. Written under a temporary name and renamed; 0, or -1 with a message when the
// data are not ready, the mask does not fit or the file cannot be written.
int dump_adc_profile(const DiffusionTensorImageData* data, const RawVolumeData* mask,
                     const std::string& path);
// Where the analyzer writes the dump: in the working directory.
inline constexpr char kAdcProfileFileName[] = "ADCprofile.txt";
