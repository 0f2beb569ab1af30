// The standard parameter maps (colour FA, FA, ADC, isoD) over the whole DWI volume, the
// background level they are thresholded with, and the per-voxel parameter report.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/dti/split_work.h"
#include "analyzer/dti/tensor.h"

// Most frequent value of channel 0 over the central box (start 3*size/8, extent size/4 on
// each axis); the whole volume when an extent comes out 0. 0 for an absent volume.
int central_signal_level(const RawVolumeData* volume);

// One voxel's map values.
struct StandardMapValues {
  uint32_t colour_fa;  // red 31-24, green 23-16, blue 15-8, alpha 7-0
  int16_t fa;          // FA x 1000
  int16_t adc;         // ADC x 1000000
  int16_t isod;        // exp(-ADC b) x So
};
// Map values of a fitted tensor with b the uniform b value and so_raw the voxel's channel-0
// value. A tensor that is not finite gives all zeros; values beyond the signed 16-bit range
// saturate.
StandardMapValues standard_map_values(const ZTR_DTI_TENSOR* tensor, float b, int16_t so_raw);

// The four maps as separate single-channel volumes of the DWI volume's size.
struct StandardMapVolumes {
  VolumePtr colour_fa;  // unsigned 32-bit, attribute 2 (packed RGBA)
  VolumePtr fa;         // signed 16-bit
  VolumePtr adc;
  VolumePtr isod;
};
// Fits every voxel whose channel-0 value is above `threshold` on `threads` workers (1 .. 512)
// split by whole slices; other voxels stay 0. false (nothing computed) when the data cannot
// be fitted or an output volume cannot be created.
bool compute_standard_dti_map_volumes(const DiffusionTensorImageData* data, int16_t threshold,
                                      int threads, StandardMapVolumes* maps,
                                      const WorkRunOptions& options = {});

// Computes the maps and appends them to the DWI volume in the order colour FA, FA, ADC, isoD.
// Returns the number of channels added: 4, or 0 (volume unchanged) on failure.
int compute_standard_dti_maps(DiffusionTensorImageData* data, int16_t threshold, int threads,
                              const WorkRunOptions& options = {});

// Seconds from `start` to `end`, both wall-clock times of day in seconds. A run that went
// past midnight ends at an earlier time of day than it started; a day is added back then.
double elapsed_day_seconds(double start, double end);

// The timed part of the "Compute standard DTI parameter maps" command: threshold =
// central_signal_level / 8, the maps, "%d chs added for DTI\n" and
// "Analysis completed in %3.2f sec.\n". Returns the number of channels added. The caller has
// checked mpg_ready and uploads the new channels. `options` may carry a progress callback for
// the calling thread (a window's message line).
int run_standard_dti_maps(DiffusionTensorImageData* data, int threads,
                          const WorkRunOptions& options = {});
// The same timed run and lines, leaving the four maps as separate volumes in *maps instead of
// appending them to the DWI volume (batch tools write them out directly). 4, or 0 when an
// output volume cannot be created.
int run_standard_dti_map_volumes(const DiffusionTensorImageData* data, int threads,
                                 StandardMapVolumes* maps);

// Extra parameter lines of the voxel report: (name, value) for every output of every loaded
// network at the voxel; a NaN value is reported as "n/a".
using ExtraVoxelParameters = std::function<std::vector<std::pair<std::string, float>>(
    const DiffusionTensorImageData* data, int x, int y, int z)>;

// Writes the voxel report of (x, y, z) into *buffer. With a setting that is not ready the
// buffer receives "(MPG not ready for analysis)\n"; for a voxel outside the volume it is left
// unchanged. Without `extras` the extra section is only its heading.
void show_voxel_parameters(const DiffusionTensorImageData* data, int x, int y, int z,
                           std::string* buffer, const ExtraVoxelParameters& extras = nullptr);
