// RTNN commands of the analyzer and the session hooks that tie the network table into the
// start-up, the timer and the MPG import.
#include "analyzer/app/rtnn_commands.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include "analyzer/dti/maps.h"
#include "analyzer/rtnn/rtnn_maps.h"

namespace {

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void import_rtnn_file_command(AppState&, Dialogs& dialogs) {
  std::string path;  // RTNN files do not remember the last name
  if (dialogs.file_selection(path, nullptr, FileSelectionKind::Open) != ZTR_DIALOG_OK) return;
  int loaded = -1;
  switch (get_rtnn_file_kind(path.c_str())) {
    case 0: loaded = load_rtnns_from_data_file(path.c_str()); break;
    case 1: loaded = load_rtnns_from_information_file(path.c_str()); break;
    default: std::fprintf(stderr, "Err: Not RTNN file\n"); break;
  }
  char line[96];
  if (loaded < 0) {
    std::snprintf(line, sizeof line, " RTNN file refused; %d RTNNs kept.", rtnn_table().count());
  } else {
    std::snprintf(line, sizeof line, " %d RTNNs loaded.", loaded);
  }
  dialogs.set_message_line(line);
}

void export_rtnn_file_command(AppState&, Dialogs& dialogs) {
  if (rtnn_table().count() == 0) {
    show_rtnn_not_ready_notice(dialogs);
    return;
  }
  std::string path;
  if (dialogs.file_selection(path, nullptr, FileSelectionKind::Save) != ZTR_DIALOG_OK) return;
  std::fprintf(stderr, "Export RunTimeNeuralNetwork: %s\n", path.c_str());
  if (write_rtnn_data_file(path.c_str()) >= 1) {
    std::fprintf(stderr, "done (ID:%s)\n", rtnn_table().set_id.c_str());
    dialogs.set_message_line(" RTNN file exported.");
  } else {
    dialogs.set_message_line(" RTNN file NOT exported.");
  }
}

void realtime_analysis_command(AppState& state, Dialogs& dialogs) {
  if (state.realtime_analysis == 1) {
    state.realtime_analysis = 0;
    dialogs.set_message_line(" realtime analysis is OFF");
    return;
  }
  if (!state.dti_ready() || prepare_rtnns_for_mpg(state.dti.get(), &rtnn_table()) != 0) return;
  state.realtime_analysis = 1;
  dialogs.set_current_page(ZTR_MONITOR_PAGE);
  dialogs.set_message_line(" realtime analysis is ON");
}

void upload_rtnn_channels(const RawVolumeData* volume, int first, int count,
                          const ChannelAppender& append) {
  if (!volume || first < 0 || count <= 0 || first + count > volume->header->channels) return;
  for (int i = 0; i < count; ++i) {
    std::fprintf(stderr, "Transferring CC to ZANTREVIUM...\n");
    if (append) {
      append(volume, first + i);
    } else {
      ZTRipc_AppendSingleChannel(volume, first + i);
    }
    std::fprintf(stderr, "Done.\n");
    wait_for_next_wall_clock_second();
  }
}

void extra_maps_rtnn_command(AppState& state, Dialogs& dialogs, const ChannelAppender& append) {
  if (!state.dti_ready()) {
    show_mpg_not_ready_notice(dialogs);
    return;
  }
  RtnnTable& table = rtnn_table();
  if (table.count() == 0) {
    show_rtnn_not_ready_notice(dialogs);
    return;
  }
  DiffusionTensorImageData* data = state.dti.get();
  if (check_rtnn_qspace_density(table, data->dti_channels, data->b_value) == -1) {
    show_rtnn_reliability_notice(dialogs);
  }
  if (prepare_rtnns_for_mpg(data, &table) != 0) return;
  RtnnPreview preview;
  if (!make_rtnn_preview(data, table, state.thread_count, &preview)) {
    // Without a preview there is nothing to choose from: nothing is computed.
    std::fprintf(stderr, "Preview NOT available\n");
    return;
  }
  std::vector<int> flags(preview.panels.size(), 0);
  if (dialogs.select_rtnn_maps(preview, flags) <= 0) return;
  const int threshold = central_signal_level(data->volume) / 8;
  int added = 0;
  for (size_t panel = 0; panel < flags.size(); ++panel) {
    if (!flags[panel]) continue;
    const RtnnEntry& entry = table.entries[preview.network[panel]];
    std::fprintf(stderr, "Preparing CC of %s\n", preview.names[panel].c_str());
    const double start = seconds_now();
    int first = -1;
    const int appended = compute_rtnn_maps(data, static_cast<int16_t>(threshold), entry,
                                           state.thread_count, &first);
    std::fprintf(stderr, "%s in %3.2f sec.\n", "Analysis completed", seconds_now() - start);
    // Exactly the channels this run appended, never whatever happens to be last.
    upload_rtnn_channels(data->volume, first, appended, append);
    added += appended;
  }
  std::fprintf(stderr, "%d ch(s) added for dMRI\n", added);
}

void extra_maps_rtnn_command(AppState& state, Dialogs& dialogs) {
  extra_maps_rtnn_command(state, dialogs, ChannelAppender{});
}

std::string analyse_voxel_with_rtnns(AppState& state, int x, int y, int z) {
  std::string text;
  if (!state.dti) return text;
  RtnnTable& table = rtnn_table();
  ensure_rtnns_prepared(state.dti.get(), &table);
  show_voxel_parameters(state.dti.get(), x, y, z, &text,
                        [&table](const DiffusionTensorImageData* d, int vx, int vy, int vz) {
                          return rtnn_voxel_parameters(table, d, vx, vy, vz);
                        });
  return text;
}

void install_rtnn_hooks(SessionHooks* hooks) {
  if (!hooks) return;
  if (!hooks->prepare_rtnns) {
    hooks->prepare_rtnns = [](AppState&) {
      initialize_rtnn_table();
      return load_default_rtnns();
    };
  }
  if (!hooks->release_rtnns) hooks->release_rtnns = [](AppState&) { delete_all_rtnns(); };
  if (!hooks->q_space_density_ok) {
    hooks->q_space_density_ok = [](AppState& state) {
      return !state.dti || check_rtnn_qspace_density(rtnn_table(), state.dti->dti_channels,
                                                     state.dti->b_value) == 0;
    };
  }
  if (!hooks->analyse_voxel) hooks->analyse_voxel = analyse_voxel_with_rtnns;
}
