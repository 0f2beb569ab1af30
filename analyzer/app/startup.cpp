// Start-up of the analyzer from process start to the main loop, and shutdown after it.
#include "analyzer/app/startup.h"

#include <cstdio>
#include <new>

#include "analyzer/app/session.h"
#include "analyzer/dti/mpg_setting.h"
#include "sdk/ipc/object_group.h"

int parse_client_number(int argc, const char* const* argv) {
  int number = 0;
  if (argc == 2 && argv && argv[1]) {
    if (std::sscanf(argv[1], "%d", &number) != 1) number = 0;
  }
  return number;
}

void startup_initialize_ipc(AppState& state) {
  ZTRipc_SetVerbose(true);
  ZTRipc_SetPollLimit(ZTR_ANALYZER_POLL_LIMIT);
  ZTRipc_SetWaitTimeLimit(ZTR_ANALYZER_WAIT_TIME_LIMIT_MS);
  if (ZTRipc_InitializeClient(ZTR_CLIENT_ID, state.client_number) == -1) {
    std::fprintf(stderr, "IPC NOT available (IPC Client initialization failure)\n");
  } else {
    std::fprintf(stderr, "IPC available (IPC Client initialization succeeded)\n");
    state.ipc_available = 1;
  }
}

bool startup_create_broadcaster(AppState& state) {
  state.broadcast.reset(ZTRipc_NewBroadcaster());
  return state.broadcast != nullptr;
}

void startup_apply_settings(AppState& state) {
  state.profile_glyph_size = 12.0f;
  state.tracking_panel_factor = 0.98f;
  state.thread_count = ZTR_DEFAULT_THREADS;
  state.realtime_analysis = 0;
  state.objects_shown = 0;
}

int create_host_object() {
  const GroupPtr group(ZTR_NewObjectGroup(8));
  if (!group) return -1;
  int32_t id = -1;
  if (ZTRipc_TransferObjectGroup(group.get(), &id) == -1) {
    std::fprintf(stderr, "Faile in ZTRipc_TransferObjectGroup()\n");
    return -1;
  }
  std::fprintf(stderr, "Assigned object group ID: %d\n", id);
  return id;
}

void startup_create_display_object(AppState& state) {
  state.display_group_id = create_host_object();
  if (state.display_group_id == -1) {
    std::fprintf(stderr, "<!!!> failed to allocate object in server.\n");
  }
  state.display_group.reset();
}

bool startup_initial_download(AppState& state) {
  std::fprintf(stderr, ">> Establishing connection ... ");
  RawVolumeData* volume = ZTRipc_ReceiveRawVolumeData();
  if (!volume) return false;
  state.volume.reset(volume);
  std::fprintf(stderr, "OK\n");
  state.set_data_source_text(ipc_data_source_text(*volume));
  return true;
}

void build_dti_data_from_volume(AppState& state) {
  DiffusionTensorImageData* data = state.dti.release();
  create_dti_data_from_volume(&data, state.volume.get());
  state.dti.reset(data);
}

void startup_finish(AppState& state, Dialogs& dialogs) {
  refresh_memo(state, dialogs);
  refresh_lists(state);
  reset_slice_views(state, dialogs);

  const int rtnns = state.hooks.prepare_rtnns ? state.hooks.prepare_rtnns(state) : 0;
  if (rtnns >= 1) {
    std::fprintf(stderr, "RTNN ready (%d rtnns)\n", rtnns);
  } else {
    show_rtnn_not_ready_notice(dialogs);
    std::fprintf(stderr, "RTNN not available\n");
  }

  if (state.dti_ready()) {
    dialogs.set_message_line(" initialized.");
  } else {
    show_mpg_not_ready_notice(dialogs);
    dialogs.set_message_line(" MPG not ready.");
  }
}

void shutdown_application(AppState& state) {
  state.dti.reset();
  state.volume.reset();
  std::fprintf(stderr, "Requesting removal of Object %d\n", state.display_group_id);
  if (state.display_group_id != -1) ZTRipc_RemoveObjectGroup(state.display_group_id);
  state.display_group.reset();
  clean_up_objects(state);
  if (state.hooks.release_rtnns) state.hooks.release_rtnns(state);
  if (state.hooks.release_views) state.hooks.release_views(state);
  if (state.ipc_available == 1) ZTRipc_CloseClient();
  state.ipc_available = 0;
}

namespace {

// Start-up failed after the client may have opened boards: let go of them quietly.
int abandon_startup(AppState* state) {
  if (state && state->ipc_available == 1) ZTRipc_CloseClient();
  return 0;
}

int run_helixia_unguarded(int argc, const char* const* argv, Frontend& frontend,
                          const SessionHooks& hooks) {
  std::unique_ptr<AppState> state(new (std::nothrow) AppState);
  if (!state) return 0;
  // The window's widgets are bound to the state's views: whichever way this function is
  // left, the window goes before the state does.
  struct WindowGuard {
    Frontend& frontend;
    ~WindowGuard() { frontend.destroy_main_window(); }
  } window_guard{frontend};
  state->hooks = hooks;
  state->client_number = parse_client_number(argc, argv);
  state->volume.reset();
  state->dti.reset();
  state->initialized = 0;
  state->auto_update = 0;
  state->page_mode = ZTR_PAGE_MODE_STUDY;

  startup_initialize_ipc(*state);
  if (!startup_create_broadcaster(*state)) return abandon_startup(state.get());
  startup_apply_settings(*state);
  if (!frontend.visual_is_true_color()) return abandon_startup(state.get());
  startup_create_display_object(*state);
  state->studies.active_id = ZTR_NO_STUDY;
  if (!startup_initial_download(*state)) return abandon_startup(state.get());
  build_dti_data_from_volume(*state);
  if (state->hooks.create_initial_objects) state->hooks.create_initial_objects(*state);

  frontend.build_main_window(*state);
  frontend.start_timer(ZTR_FIRST_TIMER_PERIOD_MS);
  state->initialized = 1;
  frontend.create_drawing_context();
  startup_finish(*state, frontend);

  frontend.run_main_loop(*state);
  shutdown_application(*state);
  return 0;
}

}  // namespace

int run_helixia(int argc, const char* const* argv, Frontend& frontend,
                const SessionHooks& hooks) {
  try {
    return run_helixia_unguarded(argc, argv, frontend, hooks);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Err: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Err: unexpected failure\n");
  }
  return 0;
}
