// One voxel statistics run and one diffusion profile run from a region to what a user sees:
// mask, statistics, distance and summary; sample points, glyphs and summary. The analyzer's
// studies and the dtivoxel command both run these.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analyzer/voxel/diffusion_profile.h"
#include "analyzer/voxel/voxel_statistics.h"
#include "sdk/ipc/object_group_ptr.h"

struct RegionStatisticsOptions {
  // Both set: the distance between these two groups joins the summary.
  const VOXEL_GROUP_BOX* distance_groups[2] = {nullptr, nullptr};
  float voxel_size[3] = {1.0f, 1.0f, 1.0f};  // mm per voxel step on each axis
  // The text after "Extra parameters by RTNN:\n" for the region's mask, or nullopt when no
  // network can give one; none: unavailable.
  std::function<std::optional<std::string>(const RawVolumeData* mask)> extra_text;
  std::FILE* console = stderr;
};

struct RegionStatisticsRun {
  VolumePtr mask;  // the region as an unsigned 8-bit mask of the data's grid
  ROI_DTI_STATISTICS statistics;
  double distance_mm = -1.0;  // below 0: no distance
  std::string summary;
};

// Paints the region into a new mask of the data's grid, computes the statistics over it,
// the distance when two groups are given (an empty group gives a warning and no distance
// line), asks for the extra text and writes the summary. 0, or -1 with a reason ("out of
// memory", "the statistics could not be computed") and *run untouched.
int run_region_statistics(const DiffusionTensorImageData* data, const STATISTICS_REGION& region,
                          const RegionStatisticsOptions& options, RegionStatisticsRun* run,
                          std::string* error);

struct ProfileRun {
  std::vector<float> points;  // the sample positions, three floats each
  GroupPtr group;             // one glyph per drawn point
  int32_t drawn = 0;
  int32_t left_out = 0;  // drawn points whose glyph could not be built (memory)
  std::string summary;
};

// Samples every region in order (sharing the point limit) at the setting's density, draws
// the points within the setting's ranges as glyphs and writes the summary. The setting's
// point count and table are those of this run. 0, or -1 with a reason ("out of memory",
// "the profile could not be drawn") and *run untouched.
int run_diffusion_profile(const DiffusionTensorImageData* data,
                          const DIFFUSION_PROFILE_SETTING& setting,
                          std::span<const PROFILE_REGION> regions, ProfileRun* run,
                          std::string* error);
