// Multi-threaded rank filters over a kernel neighbourhood: median, minimum, maximum.
// Each replaces one channel of a volume in place, reading a mirrored border (mirror about
// the face with the edge voxel repeated). Problems are reported on standard error; the
// channel then stays unchanged.
#pragma once

#include <cstdint>
#include <functional>

#include "plugins/median/kernel.h"
#include "sdk/volume/raw_volume.h"

// Replaces channel `channel` of `volume` by element `rank` (0 = smallest) of the ascending
// values under the kernel around each voxel. The values are ranked at 32-bit float
// precision for every type; rank 0 and rank count-1 compare in the channel's own type.
// The z range is split over `threads` workers (clamped to 1 ... 1024). The kernel's
// linear offsets are recomputed for the padded size.
void ZTR_RankFilter_MT(RawVolumeData* volume, int32_t channel, ZTR_KERNEL* kernel, int32_t rank,
                       int32_t threads);

// Rank (n-1)/2 for an odd point count n, n/2 for an even one.
void ZTR_MedianFilter_MT(RawVolumeData* volume, int32_t channel, ZTR_KERNEL* kernel,
                         int32_t threads);
void ZTR_MinimumFilter_MT(RawVolumeData* volume, int32_t channel, ZTR_KERNEL* kernel,
                          int32_t threads);
void ZTR_MaximumFilter_MT(RawVolumeData* volume, int32_t channel, ZTR_KERNEL* kernel,
                          int32_t threads);

namespace ztr_median {

struct RankFilterRun {
  int32_t threads = 1;
  // Lets tests refuse a worker's start as a failed thread creation would (returns the error
  // code, 0 to start normally). A slab whose worker cannot start is filtered on the calling
  // thread, so the channel is always filtered whole.
  std::function<int(int slab)> start_failure;
};

// ZTR_RankFilter_MT with the worker start open to tests.
void rank_filter(RawVolumeData* volume, int32_t channel, ZTR_KERNEL* kernel, int32_t rank,
                 const RankFilterRun& run);

}  // namespace ztr_median
