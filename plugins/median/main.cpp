// fKORVANsieve: fetches the host's volume, replaces every channel by its spherical median
// and hands the volume back. The exit status is 0 only when the filtered volume reached the
// host; every failure says so in one line and ends with status 1, so that the host (or
// whoever started the plug-in) can tell a lost result from a delivered one.
#include <cstdio>
#include <memory>

#include "plugins/median/kernel.h"
#include "plugins/median/plugin_sequence.h"
#include "sdk/ipc/ipc_client.h"
#include "sdk/volume/raw_volume.h"

namespace {

constexpr int kFailed = 1;

}  // namespace

int main(int argc, char** argv) {
  const MedianPluginArguments args = ZTR_ParseMedianArguments(argc, argv);
  if (ZTRipc_InitializeClient("fKORVANsieve", args.client_number) != 0) {
    std::fprintf(stderr, "Failed <ZTRipc_InitializeClient>: no host serves client %d. Exit now.\n",
                 args.client_number);
    return kFailed;
  }

  struct BroadcasterDeleter {
    void operator()(ZTRipc_BROADCASTER* b) const { ZTRipc_DeleteBroadcaster(b); }
  };
  std::unique_ptr<ZTRipc_BROADCASTER, BroadcasterDeleter> broadcaster(ZTRipc_NewBroadcaster());
  if (broadcaster) ZTRipc_GetBroadcastedInfo(broadcaster.get());

  KernelPtr kernel(ZTR_NewSphericalKernel(args.radius));
  VolumePtr volume(ZTRipc_ReceiveRawVolumeData());
  if (!volume) {  // the IPC layer has said why
    ZTRipc_CloseClient();
    return kFailed;
  }
  // Without a kernel the channels stay as they are; the host still gets its volume back.
  const int filtered = ZTR_MedianFilterAllChannels(volume.get(), kernel.get(), args.radius);
  const int sent = ZTRipc_SendRawVolumeData(volume.get());
  if (sent != 0) std::fputs("Failed <ZTRipc_SendRawVolumeData>. Exit now.\n", stderr);

  volume.reset();
  ZTRipc_CloseClient();
  broadcaster.reset();
  kernel.reset();
  return sent == 0 && filtered == 0 ? 0 : kFailed;
}
