// The networks applied to DTI data: preparation for the current MPG setting (matched, or
// through the B-space converter), the network input of a voxel, the single-voxel values of
// the voxel report, region statistics, whole-volume maps on worker threads and the preview.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/dti/split_work.h"
#include "analyzer/rtnn/rtnn_files.h"

// Fingerprint of an MPG setting (channel counts, b values, directions, readiness). Entries
// remember the fingerprint they were prepared for and are evaluated only while it holds.
uint64_t rtnn_mpg_fingerprint(const DiffusionTensorImageData* data);
// True when the entry was prepared for the setting with this fingerprint.
bool rtnn_entry_ready(const RtnnEntry& entry, uint64_t fingerprint);

// Prepares every entry for the data's setting: no converter when the setting equals the
// entry's input MPG, a new converter otherwise. Returns 0, or -1 at the first entry that
// cannot be prepared (with its message) or when the setting is not ready; entries already
// prepared stay usable.
int prepare_rtnns_for_mpg(const DiffusionTensorImageData* data, RtnnTable* table);
// Prepares the table when any entry is not prepared for the current setting. A setting that
// failed once is not tried again until it changes, so a timer can call this on every tick.
// True when every entry is ready.
bool ensure_rtnns_prepared(const DiffusionTensorImageData* data, RtnnTable* table);

// 0 when the data samples q-space densely enough for the loaded networks (or none is loaded),
// -1 when not.
int check_rtnn_qspace_density(const RtnnTable& table, int32_t dti_channels, const float* b_values);

// Per-thread evaluation of one network on one DTI data set: owns the scratch, the converter
// copy and the signal buffers, so evaluating a voxel allocates nothing.
class RtnnVoxelEvaluator {
 public:
  // false when the entry is not prepared for the data's current setting, the DTI channels
  // are not signed 16-bit, or memory runs out.
  bool bind(const RtnnEntry& entry, const DiffusionTensorImageData* data);
  // Runs the network at voxel `index` (x fastest). `clamp_signals` clamps the signals to
  // 0 .. So before conversion (maps and statistics do). Returns the output vector in network
  // units, or nullptr when the voxel cannot be evaluated (So <= 0, a non-finite input or
  // output).
  const float* evaluate(int64_t index, bool clamp_signals);
  int output_size() const;

 private:
  const RtnnEntry* entry_ = nullptr;
  const DiffusionTensorImageData* data_ = nullptr;
  RtnnIOPtr io_;
  BSpaceConverterPtr converter_;
  std::vector<const int16_t*> channel_;
  std::vector<float> signals_;
  std::vector<float> converted_;
  std::vector<float> target_matrix_;  // converter targets as one matrix (see bspace_target_matrix)
};

// A network output in network units, clamped to the range its map limits stand for.
float rtnn_clamped_output(const RunTimeNeuralNetwork& network, int output, float y);
// The map value of an output: y x scale + offset clamped to the limits, truncated toward
// zero and saturated to signed 16 bits; NaN gives 0.
int16_t rtnn_map_value(const RunTimeNeuralNetwork& network, int output, float y);

// (output name, value in network units) for every output of every loaded network at voxel
// (x, y, z); NaN stands for "n/a" (entry not prepared for the setting, voxel not evaluable).
std::vector<std::pair<std::string, float>> rtnn_voxel_parameters(
    const RtnnTable& table, const DiffusionTensorImageData* data, int x, int y, int z);
// The same values written to out (room for count_rtnn_outputs entries); returns how many.
int compute_rtnn_at_voxel(const RtnnTable& table, const DiffusionTensorImageData* data, int x,
                          int y, int z, float* out);

struct RtnnOutputStatistics {
  std::string name;
  double minimum = 0, maximum = 0, sum = 0, sum_of_squares = 0;
  float mean = 0, variance = 0, deviation = 0;
};
struct RtnnRegionStatistics {
  std::vector<RtnnOutputStatistics> outputs;
  int64_t count = 0;    // voxels evaluated
  int64_t skipped = 0;  // mask voxels that could not be evaluated (So <= 0 and the like)
};
// Statistics of every output over the voxels whose mask value (channel 0, same x, y, z) is 1.
// The text receives "  %s: %3.2f - %3.2f (%3.2f / %3.2f)\n" per output (name, minimum,
// maximum, mean, deviation), or "  %s: no voxels\n" when no voxel could be evaluated.
// Returns 0, or -1 (text cleared) when no network is loaded, more than 16 outputs are
// loaded, an entry cannot be prepared or the mask does not fit the volume.
int compute_rtnn_region_statistics(RtnnTable* table, const DiffusionTensorImageData* data,
                                   const RawVolumeData* mask, std::string* text,
                                   RtnnRegionStatistics* statistics = nullptr);
// The RTNN text of the voxel statistics summary (what it appends after its "Extra
// parameters by RTNN:" heading): the statistics lines, or nullopt when no network is loaded
// or the statistics cannot be computed, which the summary reports as unavailable.
std::optional<std::string> rtnn_statistics_text(RtnnTable* table,
                                                const DiffusionTensorImageData* data,
                                                const RawVolumeData* mask);

// One network over the whole volume: a new volume of the DWI size with one signed 16-bit
// channel per output; voxels with So at or below the threshold are 0. Slices are split over
// `threads` workers (1 .. 512) with the progress line "\rRTNN-based CC Computation %d%%
// completed (%d threads)". *failed_slices (when given) receives the slices a worker could not
// compute (left 0, with a warning). nullptr when the entry is not prepared for the data's
// setting or memory runs out ("Err: Insufficient memory\n").
VolumePtr compute_rtnn_map_volume(const DiffusionTensorImageData* data, int16_t threshold,
                                  const RtnnEntry& entry, int threads,
                                  const WorkRunOptions& options = {},
                                  int* failed_slices = nullptr);
// Computes the maps of one network and appends its channels to the DWI volume (all or none).
// Returns the number appended; *first (when given) receives the index of the first.
int compute_rtnn_maps(DiffusionTensorImageData* data, int16_t threshold, const RtnnEntry& entry,
                      int threads, int* first = nullptr);

// Preview panels: one per output over all networks (at most 16), each the map of the middle
// half of the central slice as 8-bit grey scaled from the output's limits.
struct RtnnPreview {
  int width = 0;
  int height = 0;
  std::vector<std::vector<uint8_t>> panels;  // width x height, x fastest
  std::vector<std::string> names;            // output name of each panel
  std::vector<int> network;                  // table index of each panel's network
  std::vector<int> output;                   // output index within that network
};
// Fills *preview; false ("Preview NOT available" is the caller's) when the volume is too small
// to crop, more than 16 outputs are loaded, an entry is not prepared or memory runs out.
bool make_rtnn_preview(const DiffusionTensorImageData* data, const RtnnTable& table,
                       int threads, RtnnPreview* preview);
