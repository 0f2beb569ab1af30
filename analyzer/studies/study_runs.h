// The three kind runs of studies bound to the engines: fiber tracking (seeds, tracking,
// target and avoidance regions, display, summary, dump), diffusion profile (sample points,
// glyphs, summary) and voxel statistics (mask, statistics, distance, ADC dump, RTNN lines,
// summary, mask shape). Each run builds its whole result first and changes the study only
// when it succeeded. No toolkit: the application fills the sources before each run.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/fibetrak/fibetrak.h"
#include "analyzer/fibetrak/track_display.h"
#include "analyzer/notice.h"
#include "analyzer/objects/roi_object.h"
#include "analyzer/rtnn/rtnn_files.h"
#include "analyzer/studies/study_commands.h"
#include "analyzer/studies/study_display.h"
#include "analyzer/voxel/voxel_statistics.h"

// What a kind run reads from the application; the application fills it before each run.
struct StudyRunSources {
  const DiffusionTensorImageData* dti = nullptr;  // ready DTI data (a run without it fails)
  const RoiList* rois = nullptr;                  // listed regions (selector 54) look ROIs up here
  std::array<int32_t, 3> box_origin{};            // the host's box VOI in voxels (last broadcast)
  std::array<int32_t, 3> box_size{};
  int threads = 8;           // the analyzer's thread count: region marking passes
  int tracking_workers = 4;  // tracking engine workers
  std::FILE* console = stderr;
  NoticeSink* notices = nullptr;  // a dump that was asked for and could not be written
  // Analyze and dump: asks for the dump file name; an empty string means cancelled (no dump,
  // the run still happens). Asked only after the analysis succeeded. None: no dump.
  std::function<std::string(const char* initial_name)> dump_path;
  // Loaded networks for the voxel statistics' extra parameters (the process's RTNN table);
  // none or an empty table gives "(Extra parameters by RTNN is unavailable)".
  RtnnTable* rtnns = nullptr;
  // A fit context of `dti` kept by the application between runs; built per run when none.
  const TrackingFitContext* fit = nullptr;
  StudyRegionColours colours;  // the panels' region view colours
};

// Initial names the dump dialogs propose.
inline constexpr char ZTR_FIBETRAK_DUMP_NAME[] = "fibetrak_dump.txt";

// What each kind keeps of its last run besides the summary and the object group.
struct FiberTrackingResult : StudyResult {
  int32_t seed_count = 0;
  int32_t line_count = 0;    // tracked
  int32_t visible_count = 0;
  std::string status;        // "Seed:%d, Lines:%d/%d\n"
  std::string dump_file;     // the dump written by this run, if any
};
struct DiffusionProfileResult : StudyResult {
  std::vector<float> points;  // the sample positions (three floats each)
  int32_t drawn = 0;
  ZTR_FLOAT_BOX box;          // the region's box when it was the host's box
};
struct VoxelStatisticsResult : StudyResult {
  ROI_DTI_STATISTICS statistics;
  double distance_mm = -1.0;  // below 0: no distance
  std::vector<uint8_t> mask;  // the analysed region, x fastest, on the data's grid
  std::string dump_file;
};

// The tracking parameter block of a study's criteria, stepping, density and seed region.
ZTR_FIBETRAK_PARAMETER fibetrak_parameters_of(const FiberTrackingStudy& study);
// The display block of a study.
FibetrakDisplay fibetrak_display_of(const FiberTrackingStudy& study);

// The kind runs, indexed by study type, each calling `sources` once when it starts.
//
// Fiber tracking: seeds from the seed region (own sphere, own outline, or each listed ROI by
// its kind, spaced by volume size, density and region), tracking, every target region (each
// listed ROI is one target) and avoidance region marked, visible lines selected, display
// primitives, summary; prints "Seed:%d, Lines:%d/%d\n"; with dumping the dump file. Fails
// with "No seed points in the volume\n" when the seed region yields none inside the volume.
// Diffusion profile: the region (own sphere or outline, listed ROIs, or the host's box, which
// the region then keeps) sampled, glyphs within the ranges, summary. Fails with "No sample
// points in the region\n" when none lies in the volume.
// Voxel statistics: the region mask, statistics, the distance for exactly two listed
// voxelgroups, the RTNN lines, summary; with dumping the ADC dump; the object group holds the
// mask's shape (type 99) at half the statistics colour unless the region is the host's box
// (an empty group then, which clears the host object). Fails with "The region holds no
// voxel\n" for an empty mask.
// Every failure prints its reason and "No result obtained\n" and leaves the study as it was.
StudyKindRuns make_study_kind_runs(std::function<StudyRunSources()> sources);
