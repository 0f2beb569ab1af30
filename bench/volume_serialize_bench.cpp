// Serializing and reading back a 128x128x60 volume of 31 signed 16-bit channels (a typical
// diffusion series), against memcpy of the same number of bytes. Compare bytes_per_second:
// BM_Serialize with BM_Memcpy (both write into memory already in use), BM_Deserialize with
// BM_MemcpyIntoNewBlocks (both copy into freshly allocated channel blocks, so both pay for
// whatever the allocator and the system charge for new memory). Running with
//   GLIBC_TUNABLES=glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=1073741824
// keeps freed blocks in the heap, which takes first-touch page faults out of the loop. Use
// --benchmark_min_time=2 so that the slow first iteration does not dominate.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "sdk/volume/raw_volume.h"

namespace {

constexpr int32_t kChannels = 31;

VolumePtr make_series() {
  std::vector<int32_t> types(kChannels, ZTR_TYPE_INT16), attributes(kChannels, 0);
  VolumePtr v(ZTR_NewRawVolumeData(VolumeHeader{128, 128, 60, kChannels}, types.data(),
                                   attributes.data()));
  for (int32_t c = 0; c < kChannels; ++c) {
    int16_t* p = ZTR_ChannelData<int16_t>(v.get(), c);
    for (int32_t n = 0; n < ZTR_GetNumberOfVoxels(v.get()); ++n) p[n] = int16_t(n * 31 + c);
  }
  return v;
}

void BM_Memcpy(benchmark::State& state) {
  VolumePtr v = make_series();
  const size_t bytes = ZTR_GetSerializedRawVolumeDataSize(v.get());
  std::vector<unsigned char> source(bytes, 1), destination(bytes, 0);
  for (auto _ : state) {
    std::memcpy(destination.data(), source.data(), bytes);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

// The reader's copy pattern without the reader: one new block per channel, filled by memcpy.
void BM_MemcpyIntoNewBlocks(benchmark::State& state) {
  VolumePtr v = make_series();
  const size_t bytes = ZTR_GetSerializedRawVolumeDataSize(v.get());
  const size_t block = ZTR_GetChannelBytes(v.get(), 0);
  std::vector<unsigned char> source(bytes, 1);
  std::vector<void*> blocks(kChannels);
  for (auto _ : state) {
    for (int32_t c = 0; c < kChannels; ++c) {
      blocks[c] = std::malloc(block);
      std::memcpy(blocks[c], source.data() + c * block, block);
      benchmark::DoNotOptimize(blocks[c]);
    }
    benchmark::ClobberMemory();
    for (void* b : blocks) std::free(b);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_Serialize(benchmark::State& state) {
  VolumePtr v = make_series();
  const size_t bytes = ZTR_GetSerializedRawVolumeDataSize(v.get());
  std::vector<unsigned char> destination(bytes, 0);
  for (auto _ : state) {
    ZTR_SerializeRawVolumeData(v.get(), destination.data());
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

// Includes building the new record and releasing it, as a reader of a data board does.
void BM_Deserialize(benchmark::State& state) {
  VolumePtr v = make_series();
  const size_t bytes = ZTR_GetSerializedRawVolumeDataSize(v.get());
  std::vector<unsigned char> source(bytes, 0);
  ZTR_SerializeRawVolumeData(v.get(), source.data());
  for (auto _ : state) {
    VolumePtr r(ZTR_GetRawVolumeDataFromSerializedData(source.data(), bytes));
    benchmark::DoNotOptimize(r.get());
    if (!r) state.SkipWithError("refused");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MemcpyIntoNewBlocks)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Serialize)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Deserialize)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
