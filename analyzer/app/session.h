// How data enters the analyzer after start-up (file imports, download from the host),
// the shared refresh steps every replacement runs, the timer tick and the clean-up of
// objects.
#pragma once

#include <functional>
#include <string>

#include "analyzer/app/app_state.h"
#include "analyzer/app/dialogs.h"

// A volume loader of the file import: gets the chosen path, sets the voxel size it knows
// and fills the data source text. Returns a new volume owned by the caller, or none.
using VolumeLoader = std::function<VolumePtr(const std::string& path, float* voxel_size,
                                             std::string* description, NoticeSink* notices)>;

// Memo refresh: the memo shows the data source text.
void refresh_memo(AppState& state, Dialogs& dialogs);
// Lists refresh (only once start-up is complete).
void refresh_lists(AppState& state);
// After start-up and after every replacement of data: views follow the host again, the
// drawing scales follow the matrix width, and the DWI data notice is shown when the DTI
// data is ready.
void reset_slice_views(AppState& state, Dialogs& dialogs);
// Deletes every study and ROI, resets the name counters, prints "Clean-up old objects OK\n".
void clean_up_objects(AppState& state);

// Moves the contents of `incoming` into the state's volume record (the DTI data and the
// views keep their pointer to it) and deletes the old contents.
void exchange_loaded_volume(AppState& state, VolumePtr incoming);
// Channel 0 of the loaded volume to the host ("Transfering to ZANTREVIUM... done").
void send_loaded_channel_to_host(AppState& state);
// The DTI data's voxel size to the host; a value that is not positive is never sent.
void send_voxel_size_to_host(AppState& state);

// The import procedure shared by the DICOM, raw volume file (loader given) and DTI file
// (no loader) commands. Any cancel or failed read leaves all session data as it was.
void import_from_file(AppState& state, Dialogs& dialogs, const VolumeLoader& loader,
                      FileKind kind);

// Download data from ZANTREVIUM: replaces the voxel values of the loaded volume.
void download_data_command(AppState& state, Dialogs& dialogs);

// One timer tick; the caller re-arms the next one (180 ms).
void timer_tick(AppState& state, Dialogs& dialogs);
inline constexpr int ZTR_FIRST_TIMER_PERIOD_MS = 360;
inline constexpr int ZTR_TIMER_PERIOD_MS = 180;

// Formats the data source text of a volume received from the host.
std::string ipc_data_source_text(const RawVolumeData& volume);
