// The per-slab worker of every whole-volume tensor computation (standard maps, minimization):
// each worker owns one tensor record and walks its slices voxel by voxel.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyzer/dti/dti_data.h"
#include "analyzer/dti/split_work.h"
#include "analyzer/dti/tensor.h"

// Calls voxel(tensor, i) for every linear voxel index i of data's volume, the z slices split
// over `threads` workers (at least 1) by the slab runner with `options`. `voxel` fits the
// tensor itself when it needs it and writes only voxel i's outputs, so workers never share a
// byte. A worker that cannot allocate its tensor prints "insufficient memory" and leaves its
// slices untouched. Returns what run_split_work returns.
template <class VoxelFn>
int for_each_voxel_with_tensor(const DiffusionTensorImageData* data, int threads,
                               const WorkRunOptions& options, VoxelFn voxel) {
  const VolumeHeader& h = *data->volume->header;
  const int64_t slice = int64_t(h.x) * h.y;
  auto worker = [&](const WorkPart& part) {
    TensorPtr tensor(ZTRdti_NewTensor(data->dti_channels, data->b0_channels));
    if (!tensor) {
      std::fprintf(stderr, "insufficient memory\n");
      return;
    }
    for (int k = 0; k < part.count; ++k) {
      const int64_t begin = slice * (part.first + k);
      for (int64_t i = begin; i < begin + slice; ++i) voxel(tensor.get(), i);
      part.done->store(k + 1, std::memory_order_relaxed);
    }
  };
  return run_split_work(h.z, threads < 1 ? 1 : threads, worker, options);
}
