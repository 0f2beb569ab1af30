// Paced upload of computed channels to the host: one channel per wall-clock second, so
// that the host can take each one in before the next arrives.
#pragma once

#include <cstdint>
#include <functional>

#include "sdk/volume/raw_volume.h"

// Local wall-clock time of day.
struct LocalTime {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};
LocalTime read_local_time();

// Polls the clock until its seconds field differs from the one read on entry.
void wait_for_next_wall_clock_second();

// How one channel reaches the host; ZTRipc_AppendSingleChannel in the program.
using ChannelAppender = std::function<int(const RawVolumeData* volume, int32_t channel)>;

// Prints "Transferring %d CCs to ZANTREVIUM...\n", appends the last `count` channels of
// `volume` to the host in channel order, waiting after each until the wall-clock second
// changes, and prints "Done.\n".
void upload_computed_channels(const RawVolumeData* volume, int count,
                              const ChannelAppender& append = {});
