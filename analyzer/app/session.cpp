// Data sources after start-up, the refresh steps every replacement runs, the timer tick
// and the clean-up of objects.
#include "analyzer/app/session.h"

#include <cmath>
#include <cstdio>

#include "analyzer/app/text_format.h"
#include "analyzer/dti/mpg_setting.h"
#include "sdk/ipc/object_group.h"

std::string ipc_data_source_text(const RawVolumeData& volume) {
  const VolumeHeader& h = *volume.header;
  return format_text("Data Source: IPC with ZANTREVIUM\nMatrix size: %dx%dx%d x %d(ch)\n", h.x,
                     h.y, h.z, h.channels);
}

void refresh_memo(AppState& state, Dialogs& dialogs) {
  dialogs.set_memo_text(state.data_source_text);
}

void refresh_lists(AppState& state) {
  if (state.initialized != 1) return;
  if (state.hooks.refresh_lists) state.hooks.refresh_lists(state);
}

void reset_slice_views(AppState& state, Dialogs& dialogs) {
  if (state.hooks.reset_views) state.hooks.reset_views(state);
  const float base = state.volume ? static_cast<float>(state.volume->header->x) / 256.0f : 0.0f;
  state.drawing_scales = {base, base, 1.5f * base, 0.5f * base, 2.0f * base, 3.0f * base,
                          4.0f * base};
  if (state.dti_ready()) {
    show_important_notice(dialogs, dwi_recognition_notice_text(state.dti.get()), 444, 333);
  }
}

void clean_up_objects(AppState& state) {
  if (state.hooks.delete_all_objects) state.hooks.delete_all_objects(state);
  state.counters = ObjectCounters{};
  std::fprintf(stderr, "Clean-up old objects OK\n");
}

namespace {

void build_dti_data(AppState& state) {
  DiffusionTensorImageData* data = state.dti.release();
  create_dti_data_from_volume(&data, state.volume.get());
  state.dti.reset(data);
}

// Moves the contents of `incoming` into the state's volume record (whose pointer the DTI
// data and the views hold) and deletes the old contents.
void exchange_into_loaded_volume(AppState& state, VolumePtr incoming) {
  if (!state.volume) {
    state.volume = std::move(incoming);
    return;
  }
  ZTR_SwapRawVolumeData(state.volume.get(), incoming.get());
  incoming.reset();
}

bool import_dti_file(AppState& state, Dialogs& dialogs, const std::string& path) {
  std::string description;
  DiffusionTensorImageData* loaded = read_dti_file(path.c_str(), &description, &dialogs);
  if (!loaded) return false;
  if (!loaded->volume) {
    ZTRdti_DeleteDiffusionTensorImageData(loaded, 0);
    return false;
  }
  state.dti.reset();
  exchange_into_loaded_volume(state, VolumePtr(loaded->volume));
  loaded->volume = state.volume.get();
  state.dti.reset(loaded);
  ZTRdti_PrintMPGSetting(loaded);
  state.set_data_source_text(description);
  return true;
}

float ask_voxel_size(Dialogs& dialogs, float initial) {
  std::string text = format_text("%f", initial);
  for (;;) {
    dialogs.value_entry("voxel size(mm)", text);
    float value = 0.0f;
    if (std::sscanf(text.c_str(), "%f", &value) == 1 && value > 0.0f) return value;
  }
}

bool import_volume(AppState& state, Dialogs& dialogs, const VolumeLoader& loader,
                   const std::string& path) {
  float voxel_size = 0.0f;
  std::string description;
  VolumePtr loaded = loader(path, &voxel_size, &description, &dialogs);
  if (!loaded) return false;
  std::fprintf(stderr, "Volume data OK. Replacing.\n");
  exchange_into_loaded_volume(state, std::move(loaded));
  state.set_data_source_text(description);
  build_dti_data(state);
  const float accepted = ask_voxel_size(dialogs, voxel_size);
  std::fprintf(stderr, "Voxel size is specified as %f mm.\n", accepted);
  if (state.dti) state.dti->voxel_size = accepted;
  return true;
}

void clear_host_display_object(AppState& state) {
  state.display_group.reset();
  if (const GroupPtr empty{ZTR_NewObjectGroup(8)}) {
    ZTRipc_UpdateObjectGroup(empty.get(), state.display_group_id);
  }
  std::fprintf(stderr, "ROI cleaned in ZANTREVIUM.\n");
}

void send_first_channel_to_host(AppState& state) {
  VolumePtr copy(ZTR_ExtractSingleChannel(state.volume.get(), 0));
  if (!copy) return;
  std::fprintf(stderr, "Transfering to ZANTREVIUM... ");
  ZTRipc_SendRawVolumeData(copy.get());
  std::fprintf(stderr, "done\n");
}

}  // namespace

void send_voxel_size_to_host(AppState& state) {
  const float voxel_size = state.dti ? state.dti->voxel_size : 1.0f;
  // A file may carry no voxel size (a DTI file saved after a host download holds 0); the
  // host refuses such a value by never accepting it, so it is not sent at all.
  if (!std::isfinite(voxel_size) || voxel_size <= 0.0f) {
    std::fprintf(stderr, "Warning: voxel size %f mm is not a positive number; not sent.\n",
                 static_cast<double>(voxel_size));
    std::fprintf(stderr, "Warning: Voxel size is not specified in ZANTREVIUM.\n");
  } else if (ZTRipc_SetVoxelSize(voxel_size) != 0) {
    std::fprintf(stderr, "Warning: Voxel size is not specified in ZANTREVIUM.\n");
  }
}

void exchange_loaded_volume(AppState& state, VolumePtr incoming) {
  exchange_into_loaded_volume(state, std::move(incoming));
}

void send_loaded_channel_to_host(AppState& state) { send_first_channel_to_host(state); }

void import_from_file(AppState& state, Dialogs& dialogs, const VolumeLoader& loader,
                      FileKind kind) {
  if (state.dti_ready() && !ask_confirmation(dialogs, ZTR_DISCARD_CONFIRMATION)) return;
  std::string& path = state.file_name(kind);
  const FileSelectionKind selection =
      kind == FileKind::DicomDirectory ? FileSelectionKind::Directory : FileSelectionKind::Open;
  std::string chosen = path;
  if (dialogs.file_selection(chosen, nullptr, selection) != ZTR_DIALOG_OK) return;
  path = chosen;
  if (kind == FileKind::DicomDirectory && !chosen.empty() && chosen.back() != '/') {
    chosen += '/';  // the directory is used as the prefix of every file name
  }

  const bool replaced = loader ? import_volume(state, dialogs, loader, chosen)
                               : import_dti_file(state, dialogs, chosen);
  if (!replaced) return;

  clear_host_display_object(state);
  clean_up_objects(state);
  refresh_memo(state, dialogs);
  send_first_channel_to_host(state);

  if (state.hooks.create_initial_objects) state.hooks.create_initial_objects(state);
  reset_slice_views(state, dialogs);
  refresh_lists(state);
  if (state.hooks.select_first_objects) state.hooks.select_first_objects(state);

  dialogs.set_current_page(0);
  state.page_mode = ZTR_PAGE_MODE_STUDY;

  send_voxel_size_to_host(state);
  dialogs.set_message_line(" initialized.");
}

void download_data_command(AppState& state, Dialogs& dialogs) {
  if (state.dti_ready() && !ask_confirmation(dialogs, ZTR_DISCARD_CONFIRMATION)) return;
  std::fprintf(stderr, ">> Establishing connection ... ");
  VolumePtr received(ZTRipc_ReceiveRawVolumeData());
  if (!received) return;

  // The DTI data and the views keep working on the shared record; they stay valid only
  // while the new data has the same matrix and still holds the measured channels.
  bool fits = state.volume != nullptr;
  if (fits) {
    const VolumeHeader& old_header = *state.volume->header;
    const VolumeHeader& new_header = *received->header;
    fits = old_header.x == new_header.x && old_header.y == new_header.y &&
           old_header.z == new_header.z;
  }
  if (fits && state.dti) fits = count_dti_channels(received.get()) >= state.dti->dti_channels;

  state.set_data_source_text(ipc_data_source_text(*received));
  exchange_into_loaded_volume(state, std::move(received));
  std::fprintf(stderr, "OK\n");
  if (!fits) {
    build_dti_data(state);
    reset_slice_views(state, dialogs);
  } else {
    refresh_views(state);
  }
  refresh_memo(state, dialogs);
  dialogs.set_message_line(" data exchaned.");
}

void timer_tick(AppState& state, Dialogs& dialogs) {
  if (state.ipc_available != 1) return;
  if (ZTRipc_GetBroadcastedInfo(state.broadcast.get()) != 0) {
    std::fprintf(stderr, "broadcasted info acquisition error\n");
  }
  if (state.hooks.follow_host_cursor) state.hooks.follow_host_cursor(state);
  if (state.realtime_analysis == 1 && state.hooks.analyse_voxel && state.broadcast) {
    const float* cursor = state.broadcast->cursor;
    std::string text = state.hooks.analyse_voxel(state, static_cast<int>(cursor[0]),
                                                 static_cast<int>(cursor[1]),
                                                 static_cast<int>(cursor[2]));
    if (text.size() > 8191) text.resize(8191);
    dialogs.set_monitor_text(text);
  }
  if (state.initialized == 1) {
    const int page = dialogs.current_page();
    if (page != state.last_page) {
      state.last_page = page;
      if (page == 0) {
        state.page_mode = ZTR_PAGE_MODE_STUDY;
        refresh_lists(state);
      } else {
        state.page_mode = ZTR_PAGE_MODE_OTHER;
      }
      if (state.auto_update == 1 && state.objects_shown == 1 &&
          state.hooks.rebuild_display_group) {
        state.hooks.rebuild_display_group(state);
      }
    }
  }
}
