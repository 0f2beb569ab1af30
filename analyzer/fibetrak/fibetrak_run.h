// One tracking run from a seed table to what a user sees: tracking, target and avoidance
// marking, the visible lines, their display primitives and the summary. The analyzer's
// fiber tracking study and the dtitrack command both run it.
#pragma once

#include <cstdio>
#include <functional>
#include <span>
#include <string>

#include "analyzer/fibetrak/fibetrak.h"
#include "analyzer/fibetrak/track_display.h"
#include "sdk/ipc/object_group_ptr.h"

struct FibetrakRunOptions {
  int workers = 4;         // tracking workers (the analyzer always passes 4)
  int region_threads = 8;  // workers of each region's marking pass
  std::FILE* console = stderr;
  // A fit context for the same data, reused by the engine and the ribbons; built when null.
  const TrackingFitContext* fit = nullptr;
  // Called once the lines are tracked, before any marking (the batch tool times it).
  std::function<void(const ZTR_FIBETRAK_BUFFER&)> tracked;
};

struct FibetrakRunResult {
  FibetrakBufferPtr buffer;  // every tracked line with its visible flag
  GroupPtr group;            // two primitives per visible line
  int target_count = 0;
  int visible = 0;
  std::string status;   // "Seed:%d, Lines:%d/%d\n"
  std::string summary;  // the four summary lines
};

// Tracks from params->seeds (params->seed_count triples), marks the lines that touch each
// target (target i sets bit i) and any avoidance region, keeps visible the lines that touched
// every target and no avoidance region, and builds their primitives and the summary. 0, or
// -1 with *error "tracking failed" (the engine said why on the console) or "out of memory
// for the display primitives"; *result is only written on success.
int run_fiber_tracking(const DiffusionTensorImageData* data, ZTR_FIBETRAK_PARAMETER* params,
                       std::span<const RegionTest> targets, std::span<const RegionTest> avoid,
                       const FibetrakDisplay& display, const FibetrakRunOptions& options,
                       FibetrakRunResult* result, std::string* error);
