// Extra maps of one small network (30-16-1, tanh then linear) over the phantom against the
// standard DTI maps on the same data and threads: matched gradient table, and through the
// B-space converter (the network trained at b 900).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "analyzer/dti/maps.h"
#include "analyzer/dti/tensor_phantom.h"
#include "analyzer/rtnn/rtnn_maps.h"

namespace {

struct Data {
  Phantom phantom;
  DtiDataPtr data;
  int16_t threshold = 0;
  RtnnTable matched;
  RtnnTable converted;
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
    matched.entries.push_back(network(1.0f));
    converted.entries.push_back(network(0.9f));
    std::FILE* saved = stderr;
    if (prepare_rtnns_for_mpg(data.get(), &matched) != 0 ||
        prepare_rtnns_for_mpg(data.get(), &converted) != 0) {
      std::fprintf(saved, "networks cannot be prepared\n");
      std::exit(1);
    }
  }
  // 30-16-1 on the data's directions, at b 1000 x b_factor.
  RtnnEntry network(float b_factor) {
    const int32_t sizes[3] = {30, 16, 1};
    const int32_t codes[2] = {ZTR_RTNN_TNH, ZTR_RTNN_LIN};
    RtnnEntry e;
    e.network.reset(ZTRrtnn_NewRunTimeNeuralNetwork(3, sizes, codes));
    std::snprintf(e.network->name, sizeof e.network->name, "bench");
    for (int o = 0; o < 16; ++o) {
      for (int i = 0; i < 30; ++i) e.network->weight[0]->element[o][i] = 0.5f * std::sin(0.37f * i + 1.1f * o);
      e.network->bias[0]->element[o] = 0.1f * std::cos(float(o));
      e.network->weight[1]->element[0][o] = 0.25f * std::cos(0.7f * o);
    }
    e.network->output_scale[0] = 1000;
    e.network->output_lower[0] = -32768;
    e.network->output_upper[0] = 32767;
    e.output_names = {"mix"};
    e.input_mpg.total = 31;
    e.input_mpg.b0 = 1;
    for (int c = 0; c < 31; ++c) {
      e.input_mpg.b_value.push_back(data->b_value[c] * b_factor);
      e.input_mpg.direction.push_back({data->mpg_vector[c][0], data->mpg_vector[c][1], data->mpg_vector[c][2]});
    }
    return e;
  }
};

Data& shared() {
  static Data d;
  return d;
}

constexpr double kVoxels = 128.0 * 128 * 60;

void StandardMaps(benchmark::State& state) {
  Data& d = shared();
  WorkRunOptions quiet;
  quiet.console = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    StandardMapVolumes maps;
    if (!compute_standard_dti_map_volumes(d.data.get(), d.threshold, static_cast<int>(state.range(0)), &maps, quiet)) {
      state.SkipWithError("maps failed");
      break;
    }
    benchmark::DoNotOptimize(maps.fa->data[0]);
  }
  std::fclose(quiet.console);
  state.counters["voxels/s"] = benchmark::Counter(kVoxels, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(StandardMaps)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void run_rtnn(benchmark::State& state, const RtnnTable& table) {
  Data& d = shared();
  WorkRunOptions quiet;
  quiet.console = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    VolumePtr maps = compute_rtnn_map_volume(d.data.get(), d.threshold, table.entries[0],
                                             static_cast<int>(state.range(0)), quiet);
    if (!maps) {
      state.SkipWithError("maps failed");
      break;
    }
    benchmark::DoNotOptimize(maps->data[0]);
  }
  std::fclose(quiet.console);
  state.counters["voxels/s"] = benchmark::Counter(kVoxels, benchmark::Counter::kIsIterationInvariantRate);
}

void RtnnMapsMatched(benchmark::State& state) { run_rtnn(state, shared().matched); }
BENCHMARK(RtnnMapsMatched)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void RtnnMapsConverted(benchmark::State& state) { run_rtnn(state, shared().converted); }
BENCHMARK(RtnnMapsConverted)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
