// The menu commands of the analyzer. Each is a function of the application state and the
// dialogs, runs to its end on the main thread (joining any workers it starts) and leaves
// every value as it was when a dialog is cancelled or needed data is missing.
#pragma once

#include "analyzer/app/app_state.h"
#include "analyzer/app/channel_upload.h"
#include "analyzer/app/dialogs.h"

using MenuCommand = void (*)(AppState&, Dialogs&);

// Message lines of MPG files that were not read or written.
inline constexpr char ZTR_MPG_NOT_IMPORTED_MESSAGE[] = "MPG vector data NOT imported.";
inline constexpr char ZTR_MPG_NOT_EXPORTED_MESSAGE[] = "MPG vector data NOT exported.";

// ---- File ----
void import_dicom_directory_command(AppState& state, Dialogs& dialogs);
void import_dti_file_command(AppState& state, Dialogs& dialogs);
void load_raw_volume_file_command(AppState& state, Dialogs& dialogs);
void add_raw_volume_file_command(AppState& state, Dialogs& dialogs);
void average_raw_volume_file_command(AppState& state, Dialogs& dialogs);
void import_mpg_text_file_command(AppState& state, Dialogs& dialogs);
void export_dti_file_command(AppState& state, Dialogs& dialogs);
void export_raw_volume_file_command(AppState& state, Dialogs& dialogs);
void export_mpg_text_file_command(AppState& state, Dialogs& dialogs);
void download_from_host_command(AppState& state, Dialogs& dialogs);
void quit_command(AppState& state, Dialogs& dialogs);

// ---- Setting ----
void mpg_preset_ge_6_command(AppState& state, Dialogs& dialogs);
void mpg_preset_ge_13_command(AppState& state, Dialogs& dialogs);
void mpg_preset_jones_30_command(AppState& state, Dialogs& dialogs);
void mpg_total_channels_command(AppState& state, Dialogs& dialogs);
void mpg_b0_channels_command(AppState& state, Dialogs& dialogs);
void mpg_uniform_b_value_command(AppState& state, Dialogs& dialogs);
void threads_command(AppState& state, Dialogs& dialogs);

// ---- Special ----
void compute_standard_maps_command(AppState& state, Dialogs& dialogs);
// The same with the channel appends going through `append` (tests observe the pacing).
void compute_standard_maps_command(AppState& state, Dialogs& dialogs,
                                   const ChannelAppender& append);
void minimize_dti_data_command(AppState& state, Dialogs& dialogs);

// ---- Help ----
void about_command(AppState& state, Dialogs& dialogs);
inline constexpr char ZTR_ABOUT_TITLE[] = "About heLiXIA";
extern const char ZTR_ABOUT_TEXT[];

// The thread count a Threads entry yields: "%d" read from `text` (the current count when it
// is not a number), clamped to 1 ... 512.
int threads_from_entry(const char* text, int current);
// Averages the DTI channels of `into` with those of `other` in place ((a + b) / 2 on signed
// 16-bit values, truncating toward zero). Nothing changes and false is returned unless both
// have the same x, y, z and channel count and signed 16-bit DTI channels.
bool average_dti_channels(RawVolumeData* into, const RawVolumeData* other, int dti_channels);
