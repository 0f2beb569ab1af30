// "Minimize DTI data": replaces the DWI volume by a synthetic measurement of one b=0 channel
// and the six default directions at b 1000.
#pragma once

#include "analyzer/dti/dti_data.h"
#include "analyzer/dti/split_work.h"

// Fits the tensor at every voxel with the record's current setting (readiness is not
// checked) on `threads` workers and exchanges the DWI volume's contents for 7 signed 16-bit
// channels: channel 0 unchanged, channel k = channel 0 x exp(-1000 gk.D.gk) for direction k
// of the six-direction default row. Voxels whose fit fails or is not finite get 0 in
// channels 1-6; synthetic values saturate at the signed 16-bit range. The setting becomes the
// single-So default for 7 channels. Returns 0; -1 with nothing changed when the new volume
// cannot be created or the data cannot be fitted (message on standard error).
int minimize_dti_data(DiffusionTensorImageData* data, int threads,
                      const WorkRunOptions& options = {});
