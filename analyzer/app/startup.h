// Start-up of the analyzer from process start to the main loop, and shutdown after it.
#pragma once

#include <memory>
#include <string>

#include "analyzer/app/app_state.h"
#include "analyzer/app/frontend.h"

// Client number: argv[1] read with "%d" when exactly one argument is given, else 0.
int parse_client_number(int argc, const char* const* argv);

// The whole program after the toolkit is initialised: start-up, main loop, shutdown.
// Returns the process exit status (0 in every case, also when start-up fails). `hooks`
// connects the subsystems built into this program. Never throws.
int run_helixia(int argc, const char* const* argv, Frontend& frontend,
                const SessionHooks& hooks = {});

// ---- the individual start-up steps, in their order ------------------------------------

// Poll limit and client initialisation; prints whether IPC is available.
void startup_initialize_ipc(AppState& state);
// Creates the broadcast record; false when that fails.
bool startup_create_broadcaster(AppState& state);
// Profile glyph size, tracking panel factor, thread count, realtime and shown flags.
void startup_apply_settings(AppState& state);
// Creates a host object from an empty group of 8 slots. Returns its ID, or -1.
int create_host_object();
// Creates the display host object; prints a warning when that fails.
void startup_create_display_object(AppState& state);
// ">> Establishing connection ... ", then the download. False when no volume came.
bool startup_initial_download(AppState& state);
// The DTI data on the state's volume (leading signed 16-bit plain channels).
void build_dti_data_from_volume(AppState& state);
// Memo, lists and views refresh, RTNN preparation and the initial message line.
void startup_finish(AppState& state, Dialogs& dialogs);

// After the main loop: release data, remove the display object, close the client.
void shutdown_application(AppState& state);
