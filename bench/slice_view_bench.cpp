// One redraw of a slice view (sample 256 x 256 pixels, map to grey, overlay, compose) on a
// 128 x 128 x 60 signed 16-bit volume, per orientation. A Ctrl-drag redraws on every pointer
// step, so a redraw well under the 16 ms of one screen frame keeps the drag smooth.
#include <benchmark/benchmark.h>

#include <vector>

#include "analyzer/app/slice_view.h"

namespace {

VolumePtr make_volume() {
  const int32_t type = ZTR_TYPE_INT16, attribute = ZTR_ATTRIBUTE_PLAIN;
  VolumePtr v(ZTR_NewRawVolumeData(VolumeHeader{128, 128, 60, 1}, &type, &attribute));
  int16_t* p = ZTR_ChannelData<int16_t>(v.get(), 0);
  for (int32_t n = 0; n < ZTR_GetNumberOfVoxels(v.get()); ++n) p[n] = int16_t(n % 997);
  return v;
}

void BM_Redraw(benchmark::State& state) {
  VolumePtr volume = make_volume();
  SliceViewFrame frame;
  reset_frame(frame, volume.get());
  frame.view.zoom = 2.0f;
  set_view_orientation(frame, static_cast<int32_t>(state.range(0)), false);
  for (auto _ : state) {
    redraw_frame(frame);
    std::vector<uint32_t> pixels = compose_view_pixels(frame.view, false, 0xFF4040);
    benchmark::DoNotOptimize(pixels.data());
  }
}

BENCHMARK(BM_Redraw)
    ->Arg(ZTR_VIEW_AXIAL)
    ->Arg(ZTR_VIEW_SAGITTAL)
    ->Arg(ZTR_VIEW_SPHERICAL)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
