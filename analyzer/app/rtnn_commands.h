// The analyzer's RTNN commands (import, export, realtime analysis, extra maps) and the
// session hooks that load, release and evaluate the networks. The network table itself is
// the one count of loaded networks: nothing here keeps a copy.
#pragma once

#include <string>

#include "analyzer/app/app_state.h"
#include "analyzer/app/channel_upload.h"
#include "analyzer/app/dialogs.h"

// Index of the " Monitor " page of the main notebook.
inline constexpr int ZTR_MONITOR_PAGE = 3;

void import_rtnn_file_command(AppState& state, Dialogs& dialogs);
void export_rtnn_file_command(AppState& state, Dialogs& dialogs);
void realtime_analysis_command(AppState& state, Dialogs& dialogs);
void extra_maps_rtnn_command(AppState& state, Dialogs& dialogs);
// The same with the channel appends going through `append` (tests observe the uploads).
void extra_maps_rtnn_command(AppState& state, Dialogs& dialogs, const ChannelAppender& append);

// Uploads channels first .. first+count-1 one per wall-clock second, each announced by
// "Transferring CC to ZANTREVIUM...\n" and followed by "Done.\n".
void upload_rtnn_channels(const RawVolumeData* volume, int first, int count,
                          const ChannelAppender& append = {});

// The realtime voxel report: standard parameters and the RTNN lines (re-preparing the
// networks when the MPG setting changed since they were prepared).
std::string analyse_voxel_with_rtnns(AppState& state, int x, int y, int z);

// Fills the RTNN hooks of the session (start-up loading, release, q-space density check,
// realtime analysis) where they are empty.
void install_rtnn_hooks(SessionHooks* hooks);
