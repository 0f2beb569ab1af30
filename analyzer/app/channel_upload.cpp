// Paced upload of computed channels to the host.
#include "analyzer/app/channel_upload.h"

#include <time.h>

#include <cstdio>

#include "sdk/ipc/ipc_client.h"

LocalTime read_local_time() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  LocalTime t;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return t;
}

void wait_for_next_wall_clock_second() {
  const int second = read_local_time().second;
  const timespec pause{0, 2 * 1000 * 1000};
  while (read_local_time().second == second) nanosleep(&pause, nullptr);
}

void upload_computed_channels(const RawVolumeData* volume, int count,
                              const ChannelAppender& append) {
  std::fprintf(stderr, "Transferring %d CCs to ZANTREVIUM...\n", count);
  if (volume && count > 0 && count <= volume->header->channels) {
    const int channels = volume->header->channels;
    for (int i = 0; i < count; ++i) {
      const int32_t channel = channels - count + i;
      if (append) {
        append(volume, channel);
      } else {
        ZTRipc_AppendSingleChannel(volume, channel);
      }
      wait_for_next_wall_clock_second();
    }
  }
  std::fprintf(stderr, "Done.\n");
}
