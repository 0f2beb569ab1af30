// Cost of one region test per tracked node (tracking runs one per node and region), on a
// 128x128x60 volume with 4096 node pairs spread over it. BM_MaskLookup is the floor: the same
// nodes looked up in a full 0/1 mask already rasterised, the cheapest membership test there is.
// Compare items_per_second.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "analyzer/objects/roi_region.h"

namespace {

const GridSize kGrid{128, 128, 60};

std::vector<std::array<float, 6>> node_pairs() {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> x(0, 128), z(0, 60), step(-0.7f, 0.7f);
  std::vector<std::array<float, 6>> pairs(4096);
  for (auto& p : pairs) {
    p = {x(random), x(random), z(random), 0, 0, 0};
    for (int a = 0; a < 3; ++a) p[size_t(3 + a)] = p[size_t(a)] + step(random);
  }
  return pairs;
}

ROI_OBJECT region(int32_t type) {
  ROI_OBJECT roi;
  roi.type = type;
  roi.view = new_roi_view(kGrid);
  roi.view.sphere_radius = 20.0f;
  roi.view.points = {{60, 60}, {200, 70}, {190, 200}, {70, 180}};
  roi.view.overlay = fill_outline_overlay(roi.view.points);
  std::vector<uint8_t> mask(128 * 128 * 60, 0);
  ROI_OBJECT sphere = roi;
  sphere.type = ZTR_ROI_SPHERICAL;
  rasterise_roi(sphere, mask, kGrid);
  roi.group = voxel_group_from_mask(mask, kGrid);
  return roi;
}

void run(benchmark::State& state, const RegionTest& test) {
  const auto pairs = node_pairs();
  size_t i = 0;
  int hits = 0;
  for (auto _ : state) {
    const auto& p = pairs[i++ & 4095];
    hits += test(p.data(), p.data() + 3);
  }
  benchmark::DoNotOptimize(hits);
  state.SetItemsProcessed(state.iterations());
}

void BM_SphereTest(benchmark::State& state) { run(state, prepare_region_test(region(ZTR_ROI_SPHERICAL))); }
void BM_FreehandTest(benchmark::State& state) { run(state, prepare_region_test(region(ZTR_ROI_FREEHAND))); }
void BM_VoxelgroupTest(benchmark::State& state) { run(state, prepare_region_test(region(ZTR_ROI_VOXELGROUP))); }

void BM_MaskLookup(benchmark::State& state) {
  std::vector<uint8_t> mask(128 * 128 * 60, 0);
  rasterise_roi(region(ZTR_ROI_SPHERICAL), mask, kGrid);
  const auto pairs = node_pairs();
  size_t i = 0;
  int hits = 0;
  for (auto _ : state) {
    const auto& p = pairs[i++ & 4095];
    const int x = int(p[0]), y = int(p[1]), z = int(p[2]);
    hits += mask[size_t((z * 128 + y) * 128 + x)];
  }
  benchmark::DoNotOptimize(hits);
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_MaskLookup);
BENCHMARK(BM_SphereTest);
BENCHMARK(BM_FreehandTest);
BENCHMARK(BM_VoxelgroupTest);
BENCHMARK_MAIN();
