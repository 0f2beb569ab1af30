// Throughput of the standard DTI maps on the phantom, and of one tensor fit with the cached
// pseudo-inverse against one that recomputes it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "analyzer/dti/maps.h"
#include "analyzer/dti/numerical.h"
#include "analyzer/dti/tensor.h"
#include "analyzer/dti/tensor_phantom.h"

namespace {

// One phantom shared by all benchmarks: 128 x 128 x 60, 1 b=0 + 30 directions, Rician
// noise (sigma 20 at a tissue level of 2000).
struct Data {
  Phantom phantom;
  DtiDataPtr data;
  int16_t threshold = 0;
  Data() {
    PhantomOptions options;
    options.x = 128;
    options.y = 128;
    options.z = 60;
    options.directions = 30;
    options.noise_sigma = 20.0f;
    options.seed = 3;
    std::string error;
    if (!make_phantom(options, &phantom, &error)) {
      std::fprintf(stderr, "phantom: %s\n", error.c_str());
      std::exit(1);
    }
    data.reset(ZTRdti_NewDiffusionTensorImageData(phantom.dwi.get(), 31));
    apply_phantom_mpg(phantom, data.get());
    threshold = static_cast<int16_t>(central_signal_level(phantom.dwi.get()) / 8);
  }
};

Data& shared() {
  static Data d;
  return d;
}

void StandardMaps(benchmark::State& state) {
  Data& d = shared();
  const int threads = static_cast<int>(state.range(0));
  WorkRunOptions quiet;
  quiet.console = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    StandardMapVolumes maps;
    if (!compute_standard_dti_map_volumes(d.data.get(), d.threshold, threads, &maps, quiet)) {
      state.SkipWithError("maps failed");
      break;
    }
    benchmark::DoNotOptimize(maps.fa->data[0]);
  }
  std::fclose(quiet.console);
  const double voxels = 128.0 * 128 * 60;
  state.counters["voxels/s"] =
      benchmark::Counter(voxels, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(StandardMaps)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Fits along the phantom's central row (tissue and bundles).
void FitCachedInverse(benchmark::State& state) {
  Data& d = shared();
  TensorPtr tensor(ZTRdti_NewTensor(31, 1));
  int x = 0;
  for (auto _ : state) {
    ZTRdti_ComputeTensorAtVoxel(d.data.get(), tensor.get(), 20 + x, 64, 30);
    x = (x + 1) % 88;
    benchmark::DoNotOptimize(tensor->elements[0]);
  }
  state.counters["fits/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(FitCachedInverse);

void FitRecomputedInverse(benchmark::State& state) {
  Data& d = shared();
  TensorPtr tensor(ZTRdti_NewTensor(31, 1));
  int x = 0;
  for (auto _ : state) {
    ZTRdti_ComputeTensorAtVoxel(d.data.get(), tensor.get(), 20 + x, 64, 30);
    // What a fit costs when the pseudo-inverse is rebuilt for every voxel.
    VectorPtr solution(ZTRnumerical_GetSolutionOfLinearEquations(tensor->design, tensor->log_signal));
    x = (x + 1) % 88;
    benchmark::DoNotOptimize(solution->element[0]);
  }
  state.counters["fits/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(FitRecomputedInverse);

}  // namespace

BENCHMARK_MAIN();
