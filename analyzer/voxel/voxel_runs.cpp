// The statistics and profile runs shared by the studies and the dtivoxel command.
#include "analyzer/voxel/voxel_runs.h"

int run_region_statistics(const DiffusionTensorImageData* data, const STATISTICS_REGION& region,
                          const RegionStatisticsOptions& options, RegionStatisticsRun* run,
                          std::string* error) {
  auto fail = [error](const char* reason) {
    if (error) *error = reason;
    return -1;
  };
  if (!data || !data->volume) {
    std::fprintf(options.console, "DTI data NOT ready\n");
    return fail("the statistics could not be computed");
  }
  const VolumeHeader& h = *data->volume->header;
  const int32_t dims[3] = {h.x, h.y, h.z};
  RegionStatisticsRun out;
  out.mask.reset(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, ZTR_ATTRIBUTE_PLAIN));
  if (!out.mask || build_statistics_mask(region, out.mask.get()) != 0) return fail("out of memory");
  if (compute_region_statistics(data, out.mask.get(), &out.statistics) != 0) {
    return fail("the statistics could not be computed");
  }
  if (options.distance_groups[0] && options.distance_groups[1]) {
    out.distance_mm = voxelgroup_distance(*options.distance_groups[0], *options.distance_groups[1],
                                          options.voxel_size);
    if (out.distance_mm < 0.0) {
      std::fprintf(options.console, "Warning: a mask is empty; no distance between them\n");
    }
  }
  std::optional<std::string> extra;
  if (options.extra_text) extra = options.extra_text(out.mask.get());
  out.summary = statistics_summary_text(out.statistics, out.distance_mm,
                                        extra ? extra->c_str() : nullptr);
  *run = std::move(out);
  return 0;
}

int run_diffusion_profile(const DiffusionTensorImageData* data,
                          const DIFFUSION_PROFILE_SETTING& setting,
                          std::span<const PROFILE_REGION> regions, ProfileRun* run,
                          std::string* error) {
  auto fail = [error](const char* reason) {
    if (error) *error = reason;
    return -1;
  };
  if (!data || !data->volume) {
    std::fprintf(stderr, "DTI data NOT ready\n");
    return fail("the profile could not be drawn");
  }
  const VolumeHeader& h = *data->volume->header;
  const int32_t dims[3] = {h.x, h.y, h.z};
  const float spacing = profile_spacing(setting.density, dims[0]);
  const float scale = profile_symbol_scale(setting.density, spacing);
  ProfileRun out;
  int32_t count = 0;
  for (const PROFILE_REGION& region : regions) {
    count += sample_profile_points(region, spacing, dims, &out.points, ZTR_PROFILE_MAX_POINTS - count);
  }
  DIFFUSION_PROFILE_SETTING used = setting;
  used.point_count = count;
  used.point_table = out.points.data();
  out.group.reset(ZTR_NewObjectGroup(count));
  if (!out.group) return fail("out of memory");
  out.drawn = draw_profile_symbols(
      data, used, out.points,
      [&](const float p[3], const ZTR_DTI_TENSOR& t) {
        if (make_profile_symbol(data, used, scale, p, t, out.group.get()) != 0) ++out.left_out;
      },
      &out.summary);
  if (out.drawn < 0) return fail("the profile could not be drawn");
  *run = std::move(out);
  return 0;
}
