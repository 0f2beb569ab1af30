// The tracking run shared by the fiber tracking study and the dtitrack command.
#include "analyzer/fibetrak/fibetrak_run.h"

#include <memory>

int run_fiber_tracking(const DiffusionTensorImageData* data, ZTR_FIBETRAK_PARAMETER* params,
                       std::span<const RegionTest> targets, std::span<const RegionTest> avoid,
                       const FibetrakDisplay& display, const FibetrakRunOptions& options,
                       FibetrakRunResult* result, std::string* error) {
  auto fail = [error](const char* reason) {
    if (error) *error = reason;
    return -1;
  };
  std::unique_ptr<TrackingFitContext> own_fit;
  const TrackingFitContext* fit = options.fit;
  if (!fit && data && data->mpg_ready == 1) {
    own_fit = TrackingFitContext::create(data);
    fit = own_fit.get();
  }
  FiberTrackingOptions engine;
  engine.console = options.console;
  engine.fit = fit;
  // Without a fit context the engine says why it cannot track ("DTI data NOT ready").
  FibetrakBufferPtr buffer = fiber_tracking(data, params, options.workers, engine);
  if (!buffer || !fit) return fail("tracking failed");
  if (options.tracked) options.tracked(*buffer);

  FibetrakRunResult run;
  run.target_count = mark_lines_by_regions(buffer.get(), ZTR_FIBETRAK_TARGET_SET, targets,
                                           options.region_threads);
  mark_lines_by_regions(buffer.get(), ZTR_FIBETRAK_AVOID_SET, avoid, options.region_threads);
  run.visible = select_visible_lines(buffer.get(), run.target_count);
  run.group.reset(build_track_display(*buffer, display, *fit, &run.status, options.console));
  if (!run.group) return fail("out of memory for the display primitives");
  run.summary = fibetrak_summary(*buffer, run.group.get());
  run.buffer = std::move(buffer);
  *result = std::move(run);
  return 0;
}
