// Whole-volume round trip over the boards: the host hands its volume to a client, the client
// hands it back. The client is the client library; both sides copy through real shared
// memory. Compared with memcpy of the same
// bytes in the same run. The host is a forked process running HostServer's poll loop.
//
// usage: ipc_roundtrip_bench [repetitions] [client number]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "host/host_server.h"
#include "sdk/ipc/ipc_client.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const int32_t client = argc > 2 ? std::atoi(argv[2]) : 7000 + ::getpid() % 1000;

  // 128 x 128 x 60 voxels, 31 signed 16-bit channels (a DWI series).
  const VolumeHeader header{128, 128, 60, 31};
  std::vector<int32_t> types(31, ZTR_TYPE_INT16), attributes(31, 0);
  VolumePtr volume(ZTR_NewRawVolumeData(header, types.data(), attributes.data()));
  if (!volume) return 1;
  for (int32_t c = 0; c < header.channels; ++c) {
    auto* d = ZTR_ChannelData<int16_t>(volume.get(), c);
    for (int64_t v = 0; v < int64_t(header.x) * header.y * header.z; ++v) d[v] = int16_t((v * 7 + c) & 0x7FFF);
  }
  const size_t bytes = ZTR_GetSerializedRawVolumeDataSize(volume.get());
  const double megabytes = double(bytes) / 1e6;

  // memcpy of the same bytes between two buffers that are already in memory.
  std::vector<uint8_t> source(bytes, 1), destination(bytes, 0);
  std::vector<double> copy_times;
  for (int r = 0; r < std::max(repetitions, 3); ++r) {
    const auto start = Clock::now();
    std::memcpy(destination.data(), source.data(), bytes);
    copy_times.push_back(seconds_since(start));
  }
  // memcpy into memory allocated just before: every transfer whose result lands in new
  // memory (a new board, a new volume) pays for setting up its pages, and on some
  // virtual machines that costs far more than the copy.
  std::vector<double> fresh_copy_times;
  for (int r = 0; r < std::max(repetitions, 3); ++r) {
    const auto start = Clock::now();
    std::unique_ptr<uint8_t[]> fresh(new uint8_t[bytes]);
    std::memcpy(fresh.get(), source.data(), bytes);
    fresh_copy_times.push_back(seconds_since(start));
  }

  // The host is a separate process, as in real use (threads of one process would also
  // share one address space and pay for each other's unmaps).
  const pid_t host_pid = ::fork();
  if (host_pid < 0) return 1;
  if (host_pid == 0) {
    static volatile sig_atomic_t stop = 0;
    ::signal(SIGTERM, [](int) { stop = 1; });
    {
      ztr::host::HostState state;
      state.volume = std::move(volume);
      ztr::host::HostServer server(client, std::move(state));
      if (!server.valid()) _exit(1);
      // The same rhythm as ztrhost's loop: poll, then a short sleep; ends with the parent.
      while (!stop && ::getppid() != 1) {
        server.poll();
        std::this_thread::sleep_for(std::chrono::microseconds(20));
      }
    }  // the boards go with the server
    _exit(0);
  }
  volume.reset();
  // Wait for the host's boards.
  bool initialised = false;
  for (int i = 0; i < 5000 && !initialised; ++i) {
    initialised = ZTRipc_InitializeClient("roundtrip-bench", client) == 0;
    if (!initialised) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  int failures = 0;
  std::vector<double> receive_times, send_times, round_times;
  if (!initialised) {
    std::fprintf(stderr, "cannot open the boards\n");
    failures = repetitions;
  } else {
    for (int r = 0; r < repetitions; ++r) {
      const auto start = Clock::now();
      VolumePtr received(ZTRipc_ReceiveRawVolumeData());
      const double receive = seconds_since(start);
      const auto send_start = Clock::now();
      const int sent = received ? ZTRipc_SendRawVolumeData(received.get()) : -1;
      const double send = seconds_since(send_start);
      if (!received || sent != 0) {
        ++failures;
        continue;
      }
      receive_times.push_back(receive);
      send_times.push_back(send);
      round_times.push_back(receive + send);
    }
    ZTRipc_CloseClient();
  }
  ::kill(host_pid, SIGTERM);
  ::waitpid(host_pid, nullptr, 0);
  if (receive_times.empty()) {
    std::fprintf(stderr, "no round trip completed\n");
    return 1;
  }
  const double copy = median(copy_times), receive = median(receive_times), send = median(send_times),
               round = median(round_times);
  std::printf("volume 128x128x60x31 signed 16-bit: %zu bytes, %d round trips, %d failed\n", bytes,
              int(round_times.size()), failures);
  const double fresh_copy = median(fresh_copy_times);
  std::printf("memcpy            %8.2f ms  %9.1f MB/s\n", copy * 1e3, megabytes / copy);
  std::printf("memcpy, new memory%8.2f ms  %9.1f MB/s\n", fresh_copy * 1e3, megabytes / fresh_copy);
  std::printf("host -> client    %8.2f ms  %9.1f MB/s\n", receive * 1e3, megabytes / receive);
  std::printf("client -> host    %8.2f ms  %9.1f MB/s\n", send * 1e3, megabytes / send);
  std::printf("round trip        %8.2f ms  %9.1f MB/s  = %.3f of memcpy\n", round * 1e3, megabytes / round,
              copy / round);
  std::printf("round trip against memcpy into new memory: %.3f\n", fresh_copy / round);
  return failures == 0 ? 0 : 1;
}
