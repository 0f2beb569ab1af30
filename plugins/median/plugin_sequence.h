// The median plug-in's command line and its per-channel filtering pass.
#pragma once

#include <cstdint>

#include "plugins/median/kernel.h"
#include "sdk/volume/raw_volume.h"

struct MedianPluginArguments {
  int32_t client_number = 0;
  float radius = 1.0f;
};

// argv[1] is the client number (decimal) when there are one or two arguments, else 0;
// argv[2] is the radius when there are exactly two, else 1.0. A radius that does not read
// as a number gives 0 (no kernel).
MedianPluginArguments ZTR_ParseMedianArguments(int argc, const char* const* argv);

// Worker threads per channel.
inline constexpr int32_t ZTR_MEDIAN_WORKERS = 4;

// Median-filters every channel in order, writing a progress line to standard error after
// each channel and a line end after the last. A null kernel makes every channel report the
// invalid-kernel message and stay unchanged. 0, or -1 when nothing could be filtered (no
// volume or no kernel).
int ZTR_MedianFilterAllChannels(RawVolumeData* volume, ZTR_KERNEL* kernel, float radius);
