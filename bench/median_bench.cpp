// Times the median filter on one channel read from a headerless raw file and optionally
// writes the filtered channel back out, so that another implementation can be compared.
//
//   median_bench INPUT X Y Z TYPE RADIUS REPEAT [OUTPUT]
//
// TYPE is a voxel type code (3 = signed 16-bit). Prints the best wall time of REPEAT runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "plugins/median/kernel.h"
#include "plugins/median/plugin_sequence.h"
#include "plugins/median/rank_filter.h"
#include "sdk/volume/raw_volume.h"

int main(int argc, char** argv) {
  if (argc < 8) {
    std::fprintf(stderr, "usage: %s INPUT X Y Z TYPE RADIUS REPEAT [OUTPUT]\n", argv[0]);
    return 2;
  }
  const int32_t dims[3] = {std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4])};
  const int32_t type = std::atoi(argv[5]);
  const float radius = std::strtof(argv[6], nullptr);
  const int repeat = std::max(1, std::atoi(argv[7]));
  VolumePtr original(ZTR_NewSingleChannelRawVolumeData(dims, type, ZTR_ATTRIBUTE_PLAIN));
  KernelPtr kernel(ZTR_NewSphericalKernel(radius));
  if (!original || !kernel) {
    std::fprintf(stderr, "bad size, type or radius\n");
    return 2;
  }
  const size_t bytes = ZTR_GetChannelBytes(original.get(), 0);
  std::ifstream in(argv[1], std::ios::binary);
  if (!in.read(static_cast<char*>(original->data[0]), static_cast<std::streamsize>(bytes))) {
    std::fprintf(stderr, "cannot read %zu bytes from %s\n", bytes, argv[1]);
    return 2;
  }

  double best = 1e30;
  VolumePtr work;
  for (int r = 0; r < repeat; ++r) {
    work.reset(ZTR_DuplicateRawVolumeData(original.get()));
    const auto t0 = std::chrono::steady_clock::now();
    ZTR_MedianFilter_MT(work.get(), 0, kernel.get(), ZTR_MEDIAN_WORKERS);
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  std::printf("points=%d best_seconds=%.6f voxels_per_second=%.0f\n", kernel->points.count, best,
              double(dims[0]) * dims[1] * dims[2] / best);
  if (argc > 8) {
    std::ofstream out(argv[8], std::ios::binary);
    out.write(static_cast<const char*>(work->data[0]), static_cast<std::streamsize>(bytes));
    if (!out) return 1;
  }
  return 0;
}
