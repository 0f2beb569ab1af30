// Command-line reading and the channel loop of the median plug-in.
#include "plugins/median/plugin_sequence.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "plugins/median/rank_filter.h"

namespace {

// Decimal value with C's atoi reading rules, clamped to 32 bits instead of overflowing.
int32_t decimal_value(const char* text) {
  if (text == nullptr) return 0;
  errno = 0;
  const long long v = std::strtoll(text, nullptr, 10);
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

}  // namespace

MedianPluginArguments ZTR_ParseMedianArguments(int argc, const char* const* argv) {
  MedianPluginArguments args;
  const int count = argc - 1;
  if (argv == nullptr) return args;
  if (count == 1 || count == 2) args.client_number = decimal_value(argv[1]);
  if (count == 2) {
    float radius = 0.0f;
    if (argv[2] == nullptr || std::sscanf(argv[2], "%f", &radius) != 1) radius = 0.0f;
    args.radius = radius;
  }
  return args;
}

int ZTR_MedianFilterAllChannels(RawVolumeData* volume, ZTR_KERNEL* kernel, float radius) {
  if (volume == nullptr || volume->header == nullptr) return -1;
  const int32_t channels = volume->header->channels;
  for (int32_t c = 0; c < channels; ++c) {
    ZTR_MedianFilter_MT(volume, c, kernel, ZTR_MEDIAN_WORKERS);
    std::fprintf(stderr, "\rMedian filtering (r=%f) %d/%d done", static_cast<double>(radius),
                 c + 1, channels);
  }
  std::fputs("\n", stderr);
  return kernel != nullptr ? 0 : -1;
}
