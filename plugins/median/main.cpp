// fKORVANsieve: fetches the host's volume, replaces every channel by its spherical median
// and hands the volume back. Every failure before the filter ends the program with status 0.
#include <memory>

#include "plugins/median/kernel.h"
#include "plugins/median/plugin_sequence.h"
#include "sdk/ipc/ipc_client.h"
#include "sdk/volume/raw_volume.h"

int main(int argc, char** argv) {
  const MedianPluginArguments args = ZTR_ParseMedianArguments(argc, argv);
  if (ZTRipc_InitializeClient("fKORVANsieve", args.client_number) != 0) return 0;

  struct BroadcasterDeleter {
    void operator()(ZTRipc_BROADCASTER* b) const { ZTRipc_DeleteBroadcaster(b); }
  };
  std::unique_ptr<ZTRipc_BROADCASTER, BroadcasterDeleter> broadcaster(ZTRipc_NewBroadcaster());
  if (broadcaster) ZTRipc_GetBroadcastedInfo(broadcaster.get());

  KernelPtr kernel(ZTR_NewSphericalKernel(args.radius));
  VolumePtr volume(ZTRipc_ReceiveRawVolumeData());
  if (!volume) {
    ZTRipc_CloseClient();
    return 0;
  }
  ZTR_MedianFilterAllChannels(volume.get(), kernel.get(), args.radius);
  ZTRipc_SendRawVolumeData(volume.get());

  volume.reset();
  ZTRipc_CloseClient();
  broadcaster.reset();
  kernel.reset();
  return 0;
}
