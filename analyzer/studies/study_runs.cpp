// The kind runs of studies over the tracking, profile and statistics engines.
#include "analyzer/studies/study_runs.h"

#include <algorithm>
#include <deque>

#include "analyzer/fibetrak/fibetrak_run.h"
#include "analyzer/fibetrak/track_display.h"
#include "analyzer/objects/roi_display.h"
#include "analyzer/objects/roi_region.h"
#include "analyzer/rtnn/rtnn_maps.h"
#include "analyzer/studies/study_regions.h"
#include "analyzer/voxel/voxel_runs.h"

namespace {

int no_result(std::FILE* console) {
  std::fprintf(console, "No result obtained\n");
  return -1;
}

bool data_ready(const StudyRunSources& sources) {
  const DiffusionTensorImageData* dti = sources.dti;
  if (dti && dti->mpg_ready == 1 && dti->volume && dti->volume->header) return true;
  std::fprintf(sources.console, "DTI data NOT ready\n");
  return false;
}

GridSize grid_of(const DiffusionTensorImageData& dti) {
  const VolumeHeader& h = *dti.volume->header;
  return {h.x, h.y, h.z};
}

// The dump file the user names; empty when none was asked for or the dialog was cancelled.
std::string dump_file_name(const StudyRunContext& context, const StudyRunSources& sources,
                           const char* initial_name) {
  if (!context.dump || !sources.dump_path) return {};
  return sources.dump_path(initial_name);
}

void report_dump_failure(const StudyRunSources& sources, const std::string& path) {
  ztr_show_notice(sources.notices, "Important Notice",
                  "The dump file could not be written:\n" + path);
}

// ---- fiber tracking ---------------------------------------------------------------------

int run_tracking_study(STUDY_OBJECT& study, const StudyRunContext& context,
                       const StudyRunSources& sources) {
  std::FILE* console = sources.console;
  FiberTrackingStudy& ft = std::get<FiberTrackingStudy>(study.kind);
  if (!data_ready(sources)) return no_result(console);
  const DiffusionTensorImageData* dti = sources.dti;
  const GridSize size = grid_of(*dti);

  if (!study_region_is_drawn(ft.seed.selector) && ft.seed.selector != ZTR_REGION_LISTED) {
    std::fprintf(console, "Err: the seed region must be a sphere, an outline or listed ROIs\n");
    return no_result(console);
  }
  StudyRegionRois seed, target, avoid;
  if (resolve_study_region(ft.seed, sources.rois, size, "seed", console, &seed) != 0 ||
      resolve_study_region(ft.target, sources.rois, size, "target", console, &target) != 0 ||
      resolve_study_region(ft.avoidance, sources.rois, size, "avoidance", console, &avoid) != 0) {
    return no_result(console);
  }

  ZTR_FIBETRAK_PARAMETER params = fibetrak_parameters_of(ft);
  const float spacing = seed_spacing(size[0], ft.seed.selector, ft.seed_density);
  std::vector<float> seeds;
  for (const ROI_OBJECT* roi : seed.rois) {
    const int room = ZTR_FIBETRAK_MAX_SEEDS - int(seeds.size() / 3);
    generate_roi_seeds(*roi, spacing, room, &seeds, console);
  }
  // A region that lies wholly outside the volume gives seeds that cannot track.
  bool inside = false;
  for (size_t i = 0; i + 2 < seeds.size() && !inside; i += 3) {
    inside = position_in_volume(&seeds[i], size[0], size[1], size[2]);
  }
  if (!inside) {
    std::fprintf(console, "No seed points in the volume\n");
    return no_result(console);
  }
  params.seed_count = int(seeds.size() / 3);
  params.seeds = seeds.data();

  if (target.rois.size() > 16) {
    std::fprintf(console, "Warning: lines need to touch only the first 16 of %d target regions\n",
                 int(target.rois.size()));
  }
  std::vector<RegionTest> targets, avoided;
  for (const ROI_OBJECT* roi : target.rois) targets.push_back(prepare_region_test(*roi));
  for (const ROI_OBJECT* roi : avoid.rois) avoided.push_back(prepare_region_test(*roi));

  FibetrakRunOptions options;
  options.workers = sources.tracking_workers;
  options.region_threads = std::clamp(sources.threads, 1, ZTR_FIBETRAK_MAX_WORKERS);
  options.console = console;
  options.fit = sources.fit;
  FibetrakRunResult run;
  std::string error;
  if (run_fiber_tracking(dti, &params, targets, avoided, fibetrak_display_of(ft), options, &run,
                         &error) != 0) {
    std::fprintf(console, "Err: %s\n", error.c_str());
    return no_result(console);
  }
  std::fputs(run.status.c_str(), console);

  auto result = std::make_unique<FiberTrackingResult>();
  result->seed_count = run.buffer->seed_count;
  result->line_count = run.buffer->line_count;
  result->visible_count = run.visible;
  result->status = run.status;
  const std::string dump = dump_file_name(context, sources, ZTR_FIBETRAK_DUMP_NAME);
  if (!dump.empty()) {
    if (dump_fibetrak_file(*run.buffer, dump.c_str(), dti->voxel_size, console) >= 0) {
      result->dump_file = dump;
    } else {
      report_dump_failure(sources, dump);
    }
  }

  ft.angle_cosine = params.angle_cosine;
  set_study_summary(study, run.summary);
  study.group = std::move(run.group);
  study.result = std::move(result);
  return 0;
}

// ---- diffusion profile -------------------------------------------------------------------

ZTR_FLOAT_BOX host_box(const StudyRunSources& sources) {
  ZTR_FLOAT_BOX box;
  for (int a = 0; a < 3; ++a) {
    box.origin[a] = float(sources.box_origin[size_t(a)]);
    box.size[a] = float(sources.box_size[size_t(a)]);
  }
  return box;
}

int run_profile_study(STUDY_OBJECT& study, const StudyRunContext&, const StudyRunSources& sources) {
  std::FILE* console = sources.console;
  DiffusionProfileStudy& dp = std::get<DiffusionProfileStudy>(study.kind);
  if (!data_ready(sources)) return no_result(console);
  const DiffusionTensorImageData* dti = sources.dti;
  const GridSize size = grid_of(*dti);
  StudyRegionRois rois;
  if (resolve_study_region(dp.region, sources.rois, size, "analysis", console, &rois) != 0) {
    return no_result(console);
  }
  if (dp.region.selector == ZTR_REGION_NONE) {
    std::fprintf(console, "Err: the analysis region is not set\n");
    return no_result(console);
  }

  // The sampled pieces: the box, spheres as spheres, every other region as its voxel group.
  std::vector<PROFILE_REGION> pieces;
  std::deque<VOXEL_GROUP_BOX> groups;  // stable addresses for the pieces
  const ZTR_FLOAT_BOX box = host_box(sources);
  if (dp.region.selector == ZTR_REGION_BOX_VOI) {
    PROFILE_REGION piece;
    piece.selector = ZTR_REGION_BOX_VOI;
    piece.box = box;
    pieces.push_back(piece);
  }
  for (const ROI_OBJECT* roi : rois.rois) {
    PROFILE_REGION piece;
    if (roi->type == ZTR_ROI_SPHERICAL) {
      piece.selector = ZTR_REGION_SPHERE;
      const Vec3 c = roi_sphere_centre(roi->view);
      std::copy(c.begin(), c.end(), piece.sphere_centre);
      piece.sphere_radius = roi->view.sphere_radius;
    } else {
      std::optional<VoxelGroup> group;
      if (roi->type == ZTR_ROI_VOXELGROUP) {
        group = roi->group;
      } else {
        std::vector<uint8_t> mask(size_t(int64_t(size[0]) * size[1] * size[2]), 0);
        paint_study_roi(*roi, mask, size);
        group = voxel_group_from_mask(mask, size);
      }
      if (!group) continue;
      groups.push_back(voxel_group_box_of(*group));
      piece.selector = ZTR_REGION_LISTED;
      piece.voxel_groups.push_back(&groups.back());
    }
    pieces.push_back(std::move(piece));
  }

  DIFFUSION_PROFILE_SETTING setting = dp.setting;
  setting.region_selector = dp.region.selector;
  setting.listed_count = std::clamp(dp.region.listed_count, 0, ZTR_STUDY_MAX_LISTED);
  setting.listed_ids.assign(dp.region.listed_ids.begin(),
                            dp.region.listed_ids.begin() + setting.listed_count);
  if (dp.region.selector == ZTR_REGION_BOX_VOI) setting.box = box;
  ProfileRun run;
  std::string error;
  if (run_diffusion_profile(dti, setting, pieces, &run, &error) != 0) {
    std::fprintf(console, "Err: %s\n", error.c_str());
    return no_result(console);
  }
  if (run.points.empty()) {
    std::fprintf(console, "No sample points in the region\n");
    return no_result(console);
  }
  if (run.left_out > 0) {
    std::fprintf(console, "Warning: %d symbols left out (insufficient memory)\n", run.left_out);
  }

  auto result = std::make_unique<DiffusionProfileResult>();
  result->drawn = run.drawn;
  result->box = box;
  // The points live in the result; the setting keeps their count only, since a table pointer
  // in a record that Duplicate copies would outlive the table.
  setting.point_count = int32_t(run.points.size() / 3);
  setting.point_table = nullptr;
  result->points = std::move(run.points);
  dp.setting = std::move(setting);
  if (dp.region.selector == ZTR_REGION_BOX_VOI) dp.region.box = box;
  set_study_summary(study, run.summary);
  study.group = std::move(run.group);
  study.result = std::move(result);
  return 0;
}

// ---- voxel statistics --------------------------------------------------------------------

int run_statistics_study(STUDY_OBJECT& study, const StudyRunContext& context,
                         const StudyRunSources& sources) {
  std::FILE* console = sources.console;
  VoxelStatisticsStudy& vs = std::get<VoxelStatisticsStudy>(study.kind);
  if (!data_ready(sources)) return no_result(console);
  const DiffusionTensorImageData* dti = sources.dti;
  const GridSize size = grid_of(*dti);
  StudyRegionRois rois;
  if (resolve_study_region(vs.region, sources.rois, size, "analysis", console, &rois) != 0) {
    return no_result(console);
  }
  const bool box_region = vs.region.selector == ZTR_REGION_BOX_VOI;

  STATISTICS_REGION region;
  region.selector = vs.region.selector;
  for (int a = 0; a < 3; ++a) {
    region.box.origin[a] = sources.box_origin[size_t(a)];
    region.box.size[a] = sources.box_size[size_t(a)];
  }
  // Drawn regions and listed spheres and outlines are painted; listed voxel groups are OR-ed
  // in by the mask builder and measured for the distance.
  std::vector<uint8_t> painted_mask(size_t(int64_t(size[0]) * size[1] * size[2]), 0);
  std::deque<VOXEL_GROUP_BOX> groups;
  bool painted_any = false;
  for (const ROI_OBJECT* roi : rois.rois) {
    if (roi->type == ZTR_ROI_VOXELGROUP) {
      if (!roi->group) continue;
      groups.push_back(voxel_group_box_of(*roi->group));
      region.voxel_groups.push_back(&groups.back());
    } else {
      painted_any = paint_study_roi(*roi, painted_mask, size) > 0 || painted_any;
    }
  }
  VolumePtr painted;
  if (painted_any) {
    painted.reset(ZTR_NewSingleChannelRawVolumeData(size.data(), ZTR_TYPE_UINT8, ZTR_ATTRIBUTE_PLAIN));
    if (!painted) {
      std::fprintf(console, "insufficient memory\n");
      return no_result(console);
    }
    std::copy(painted_mask.begin(), painted_mask.end(), ZTR_ChannelData<uint8_t>(painted.get(), 0));
    region.painted.push_back(painted.get());
  }

  RegionStatisticsOptions options;
  options.console = console;
  // The distance of two listed voxel groups, and of nothing else.
  if (vs.region.selector == ZTR_REGION_LISTED && rois.rois.size() == 2 && groups.size() == 2) {
    options.distance_groups[0] = &groups[0];
    options.distance_groups[1] = &groups[1];
  }
  const float mm = dti->voxel_size > 0.0f ? dti->voxel_size : 1.0f;
  for (float& s : options.voxel_size) s = mm;
  options.extra_text = [&sources, dti](const RawVolumeData* mask) -> std::optional<std::string> {
    if (!sources.rtnns || sources.rtnns->count() == 0) return std::nullopt;
    return rtnn_statistics_text(sources.rtnns, dti, mask);
  };
  RegionStatisticsRun run;
  std::string error;
  if (run_region_statistics(dti, region, options, &run, &error) != 0) {
    std::fprintf(console, "Err: %s\n", error.c_str());
    return no_result(console);
  }
  if (run.statistics.voxels == 0) {
    std::fprintf(console, "The region holds no voxel\n");
    return no_result(console);
  }

  auto result = std::make_unique<VoxelStatisticsResult>();
  result->statistics = run.statistics;
  result->distance_mm = run.distance_mm;
  const uint8_t* bytes = ZTR_ChannelData<uint8_t>(run.mask.get(), 0);
  result->mask.assign(bytes, bytes + painted_mask.size());
  // The host's box is shown by the host itself: an empty group clears the study's object.
  GroupPtr group(ZTR_NewObjectGroup(1));
  if (!group) {
    std::fprintf(console, "insufficient memory\n");
    return no_result(console);
  }
  if (!box_region) {
    const ZTR_OBJECT_COLOR colour = study_display_colour(sources.colours.statistics, 0.5f);
    ZTR_OBJECT_GROUP* shape =
        mask_to_shape_group(result->mask, size, {0.5f, 0.5f, 0.5f}, 1.0f, colour);
    if (!shape || ZTR_AppendObject(group.get(), ZTR_OBJECT_TYPE_GROUP, shape, &colour, 1) != 0) {
      std::fprintf(console, "insufficient memory\n");
      return no_result(console);
    }
  }
  const std::string dump = dump_file_name(context, sources, kAdcProfileFileName);
  if (!dump.empty()) {
    if (dump_adc_profile(dti, run.mask.get(), dump) == 0) {
      result->dump_file = dump;
    } else {
      report_dump_failure(sources, dump);
    }
  }

  if (box_region) vs.region.box = host_box(sources);
  set_study_summary(study, run.summary);
  study.group = std::move(group);
  study.result = std::move(result);
  return 0;
}

}  // namespace

ZTR_FIBETRAK_PARAMETER fibetrak_parameters_of(const FiberTrackingStudy& s) {
  ZTR_FIBETRAK_PARAMETER p;
  p.fa_on = s.fa_on;
  p.fa_min = s.fa_min;
  p.adc_on = s.adc_on;
  p.adc_max = s.adc_max;
  p.so_low_on = s.so_low_on;
  p.so_min = s.so_min;
  p.so_high_on = s.so_high_on;
  p.so_max = s.so_max;
  p.angle_on = s.angle_on;
  p.angle_max = s.angle_max;
  p.angle_cosine = s.angle_cosine;
  p.length = s.length;
  p.step = s.step;
  p.scheme = s.scheme;
  p.seed_density = s.seed_density;
  p.seed_region = s.seed.selector;
  p.listed_seed_count = std::clamp(s.seed.listed_count, 0, ZTR_STUDY_MAX_LISTED);
  p.listed_seeds.assign(s.seed.listed_ids.begin(), s.seed.listed_ids.begin() + p.listed_seed_count);
  return p;
}

FibetrakDisplay fibetrak_display_of(const FiberTrackingStudy& s) {
  FibetrakDisplay d;
  d.primitive = s.primitive;
  d.color_mode = s.colour_mode;
  auto colour = [](const std::array<float, 4>& c) { return ZTR_OBJECT_COLOR{c[0], c[1], c[2], c[3]}; };
  d.color1 = colour(s.colours[0]);
  d.color2 = colour(s.colours[1]);
  d.color3 = colour(s.colours[2]);
  return d;
}

StudyKindRuns make_study_kind_runs(std::function<StudyRunSources()> sources) {
  auto shared = std::make_shared<std::function<StudyRunSources()>>(std::move(sources));
  auto bind = [shared](int (*run)(STUDY_OBJECT&, const StudyRunContext&, const StudyRunSources&)) {
    return StudyKindRun([shared, run](STUDY_OBJECT& study, const StudyRunContext& context) {
      const StudyRunSources sources = *shared ? (*shared)() : StudyRunSources{};
      return run(study, context, sources);
    });
  };
  StudyKindRuns runs;
  runs[ZTR_STUDY_FIBER_TRACKING] = bind(run_tracking_study);
  runs[ZTR_STUDY_DIFFUSION_PROFILE] = bind(run_profile_study);
  runs[ZTR_STUDY_VOXEL_STATISTICS] = bind(run_statistics_study);
  return runs;
}
