// Tracking engine throughput on the phantom (steps per second at 1 and 2 workers, and the
// per-position fit alone), then the target and avoidance marking of 100,000 lines.
//   fibetrak_bench [--lines N] [--threads N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "analyzer/dti/tensor_phantom.h"
#include "analyzer/fibetrak/fibetrak.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long long steps_of(const ZTR_FIBETRAK_BUFFER& buffer) {
  long long steps = 0;
  for (const auto& line : buffer.lines) steps += line->forward->count + line->backward->count - 2;
  return steps;
}

RegionTest sphere(float x, float y, float z, float r) {
  return [=](const float c[3], const float*) {
    return (c[0] - x) * (c[0] - x) + (c[1] - y) * (c[1] - y) + (c[2] - z) * (c[2] - z) <= r * r;
  };
}

}  // namespace

int main(int argc, char** argv) {
  int wanted_lines = 100000, threads = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--lines") == 0) wanted_lines = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--threads") == 0) threads = std::atoi(argv[i + 1]);
  }
  PhantomOptions options;  // 64 x 64 x 24, 30 directions, as ztrphantom writes it
  options.noise_sigma = 0.0f;
  Phantom phantom;
  std::string error;
  if (!make_phantom(options, &phantom, &error)) {
    std::fprintf(stderr, "phantom: %s\n", error.c_str());
    return 1;
  }
  DtiDataPtr data(ZTRdti_NewDiffusionTensorImageData(phantom.dwi.get(), phantom.dwi->header->channels));
  apply_phantom_mpg(phantom, data.get());
  const auto fit = TrackingFitContext::create(data.get());

  // The per-position fit alone.
  {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> x(10, 54), z(4, 20);
    TrackTensor t;
    const int n = 2000000;
    int ok = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) ok += fit->fit(x(random), x(random), z(random), &t);
    const double s = seconds_since(start);
    std::printf("fit at a position: %.0f ns per fit (%d of %d fitted)\n", s / n * 1e9, ok, n);
  }

  // Seeds in both bundles, as many as it takes to reach the wanted line count.
  std::vector<float> seeds;
  std::mt19937 random(5);
  std::uniform_real_distribution<float> px(0, 63), py(0, 63), pz(0, 23);
  while (static_cast<int>(seeds.size() / 3) < wanted_lines) {
    const float p[3] = {px(random), py(random), pz(random)};
    const int label = phantom_voxel(options, static_cast<int>(p[0]), static_cast<int>(p[1]), static_cast<int>(p[2])).label;
    if (label == 3 || label == 4) seeds.insert(seeds.end(), p, p + 3);
  }
  std::FILE* quiet = std::fopen("/dev/null", "w");
  FibetrakBufferPtr buffer;
  for (int workers : {1, threads}) {
    ZTR_FIBETRAK_PARAMETER params;
    params.seeds = seeds.data();
    params.seed_count = static_cast<int>(seeds.size() / 3);
    FiberTrackingOptions run;
    run.console = quiet;
    run.fit = fit.get();
    const auto start = std::chrono::steady_clock::now();
    buffer = fiber_tracking(data.get(), &params, workers, run);
    const double s = seconds_since(start);
    const long long steps = steps_of(*buffer);
    std::printf("tracking, %d worker(s): %d seeds, %d lines, %lld steps in %.3f s = %.3f M steps/s\n",
                workers, params.seed_count, buffer->line_count, steps, s, steps / s / 1e6);
  }

  // Region marking of the lines: two target spheres on the arc and one avoidance sphere on
  // the column, as a study with listed targets runs it.
  const std::vector<RegionTest> targets = {sphere(20, 30, 12, 4), sphere(43, 30, 12, 4)};
  const std::vector<RegionTest> avoid = {sphere(45, 27.5f, 4, 3)};
  const auto start = std::chrono::steady_clock::now();
  const int n = mark_lines_by_regions(buffer.get(), ZTR_FIBETRAK_TARGET_SET, targets, threads);
  mark_lines_by_regions(buffer.get(), ZTR_FIBETRAK_AVOID_SET, avoid, threads);
  const int visible = select_visible_lines(buffer.get(), n);
  const double s = seconds_since(start);
  long long nodes = 0;
  for (const auto& line : buffer->lines) nodes += line->forward->count + line->backward->count;
  std::printf("region marking (2 targets + 1 avoidance, %d threads): %d lines, %lld nodes in %.3f s; %d visible\n",
              threads, buffer->line_count, nodes, s, visible);
  std::fclose(quiet);
  return 0;
}
