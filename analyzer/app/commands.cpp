// The menu commands of the analyzer.
#include "analyzer/app/commands.h"

#include <cstdio>
#include <string>

#include "analyzer/app/session.h"
#include "analyzer/app/text_format.h"
#include "analyzer/dti/maps.h"
#include "analyzer/dti/minimize.h"
#include "analyzer/dti/mpg_setting.h"
#include "analyzer/io/dicom_import.h"
#include "analyzer/io/raw_volume_file.h"

const char ZTR_ABOUT_TEXT[] =
    "heLiXIA\n"
    "\n"
    "Diffusion-MRI analyzer for ZANTREVIUM.\n"
    "\n"
    "Diffusion tensor fitting, standard parameter maps\n"
    "(colour FA, FA, ADC, isoD), fiber tracking, voxel\n"
    "analysis and extra maps by run-time neural networks.\n"
    "\n"
    "Results go back to ZANTREVIUM as channels\n"
    "and 3-D objects.";

namespace {

// Asks for a path of the given kind; true (and the remembered name updated) on OK.
bool select_file(AppState& state, Dialogs& dialogs, FileKind kind, std::string* chosen,
                 FileSelectionKind selection = FileSelectionKind::Open,
                 const char* initial_name = nullptr) {
  std::string path = state.file_name(kind);
  if (dialogs.file_selection(path, initial_name, selection) != ZTR_DIALOG_OK) return false;
  state.file_name(kind) = path;
  *chosen = path;
  return true;
}

// The DTI data the MPG and DTI commands work on; shows the MPG notice when there is none.
DiffusionTensorImageData* require_dti(AppState& state, Dialogs& dialogs) {
  if (!state.dti) {
    show_mpg_not_ready_notice(dialogs);
    return nullptr;
  }
  return state.dti.get();
}

bool require_ready(AppState& state, Dialogs& dialogs) {
  if (state.dti_ready() && state.volume) return true;
  show_mpg_not_ready_notice(dialogs);
  return false;
}

VolumePtr load_raw_volume(const std::string& path, float* voxel_size, std::string* description,
                          NoticeSink* notices) {
  return VolumePtr(LoadRawVolumeFile(path.c_str(), voxel_size, description, notices));
}

VolumePtr load_dicom_directory(const std::string& path, float* voxel_size,
                               std::string* description, NoticeSink*) {
  return VolumePtr(ImportDicomDirectory(path.c_str(), voxel_size, description));
}

bool same_matrix(const RawVolumeData& a, const RawVolumeData& b) {
  return a.header->x == b.header->x && a.header->y == b.header->y && a.header->z == b.header->z;
}

// Runs a value entry starting with `initial`; the entered text on OK, nothing on cancel.
bool ask_value(Dialogs& dialogs, const char* prompt, std::string initial, std::string* entered) {
  if (dialogs.value_entry(prompt, initial) != ZTR_DIALOG_OK) return false;
  *entered = initial;
  return true;
}

}  // namespace

// ---- File ---------------------------------------------------------------------------------

void import_dicom_directory_command(AppState& state, Dialogs& dialogs) {
  import_from_file(state, dialogs, load_dicom_directory, FileKind::DicomDirectory);
}

void import_dti_file_command(AppState& state, Dialogs& dialogs) {
  import_from_file(state, dialogs, VolumeLoader{}, FileKind::DtiFile);
}

void load_raw_volume_file_command(AppState& state, Dialogs& dialogs) {
  import_from_file(state, dialogs, load_raw_volume, FileKind::RawVolume);
}

void add_raw_volume_file_command(AppState& state, Dialogs& dialogs) {
  if (!require_ready(state, dialogs)) return;
  std::string path;
  if (!select_file(state, dialogs, FileKind::RawVolume, &path)) return;
  VolumePtr loaded(LoadRawVolumeFile(path.c_str(), nullptr, nullptr, &dialogs));
  if (!loaded) return;
  RawVolumeData* volume = state.dti->volume;
  // Channels of another matrix size cannot become channels of this volume.
  if (!same_matrix(*volume, *loaded) ||
      volume->header->channels + loaded->header->channels > ZTR_MAX_CHANNELS) {
    std::fprintf(stderr, "Err: volume data of %dx%dx%d x %d(ch) cannot be added\n",
                 loaded->header->x, loaded->header->y, loaded->header->z,
                 loaded->header->channels);
    return;
  }
  for (int32_t c = 0; c < loaded->header->channels; ++c) {
    ZTR_AppendChannelCopy(volume, loaded.get(), c);
  }
}

bool average_dti_channels(RawVolumeData* into, const RawVolumeData* other, int dti_channels) {
  if (!into || !other) return false;
  if (!same_matrix(*into, *other) || into->header->channels != other->header->channels) {
    return false;
  }
  if (dti_channels < 0 || dti_channels > into->header->channels) return false;
  for (int c = 0; c < dti_channels; ++c) {
    if (into->types[c] != ZTR_TYPE_INT16 || other->types[c] != ZTR_TYPE_INT16) return false;
  }
  const int64_t voxels = int64_t(into->header->x) * into->header->y * into->header->z;
  for (int c = 0; c < dti_channels; ++c) {
    int16_t* a = ZTR_ChannelData<int16_t>(into, c);
    const int16_t* b = ZTR_ChannelData<int16_t>(other, c);
    for (int64_t i = 0; i < voxels; ++i) a[i] = static_cast<int16_t>((a[i] + b[i]) / 2);
  }
  return true;
}

void average_raw_volume_file_command(AppState& state, Dialogs& dialogs) {
  if (!require_ready(state, dialogs)) return;
  std::string path;
  if (!select_file(state, dialogs, FileKind::RawVolume, &path)) return;
  VolumePtr loaded(LoadRawVolumeFile(path.c_str(), nullptr, nullptr, &dialogs));
  if (!loaded) return;
  average_dti_channels(state.dti->volume, loaded.get(), state.dti->dti_channels);
}

void import_mpg_text_file_command(AppState& state, Dialogs& dialogs) {
  DiffusionTensorImageData* data = require_dti(state, dialogs);
  if (!data) return;
  std::string path;
  if (!select_file(state, dialogs, FileKind::MpgText, &path)) return;
  std::FILE* stream = std::fopen(path.c_str(), "r");
  // A file that cannot be read or is refused leaves the setting as it was; the line says so
  // instead of announcing an import.
  if (!stream || read_mpg_text_file(stream, data) != 0) {
    dialogs.set_message_line(ZTR_MPG_NOT_IMPORTED_MESSAGE);
    return;
  }
  dialogs.set_message_line("MPG vector data imported.");
  if (state.rtnn_count() > 0 && state.hooks.q_space_density_ok &&
      !state.hooks.q_space_density_ok(state)) {
    show_rtnn_reliability_notice(dialogs);
  }
}

void export_dti_file_command(AppState& state, Dialogs& dialogs) {
  DiffusionTensorImageData* data = require_dti(state, dialogs);
  if (!data) return;
  std::string path;
  if (!select_file(state, dialogs, FileKind::DtiFile, &path, FileSelectionKind::Save)) return;
  const size_t size = ZTRdti_GetSerializedDataSize(data);
  if (std::FILE* stream = std::fopen(path.c_str(), "wb")) write_dti_file(data, size, stream);
}

void export_raw_volume_file_command(AppState& state, Dialogs& dialogs) {
  RawVolumeData* volume = state.dti ? state.dti->volume : state.volume.get();
  if (!volume) return;
  std::string path;
  if (!select_file(state, dialogs, FileKind::RawVolume, &path, FileSelectionKind::Save,
                   "exported.raw")) return;
  if (std::FILE* stream = std::fopen(path.c_str(), "wb")) SaveRawVolumeFile(volume, stream);
}

void export_mpg_text_file_command(AppState& state, Dialogs& dialogs) {
  DiffusionTensorImageData* data = require_dti(state, dialogs);
  if (!data) return;
  std::string path;
  if (!select_file(state, dialogs, FileKind::MpgText, &path, FileSelectionKind::Save)) return;
  dialogs.set_message_line(write_mpg_text_file(path.c_str(), data) == 0
                               ? "MPG vector data exported."
                               : ZTR_MPG_NOT_EXPORTED_MESSAGE);
}

void download_from_host_command(AppState& state, Dialogs& dialogs) {
  download_data_command(state, dialogs);
}

void quit_command(AppState& state, Dialogs& dialogs) {
  if (state.dti_ready()) {
    if (!ask_confirmation(dialogs, ZTR_QUIT_CONFIRMATION)) return;
  }
  dialogs.quit_main_loop();
}

// ---- Setting -----------------------------------------------------------------------------

void mpg_preset_ge_6_command(AppState& state, Dialogs& dialogs) {
  if (DiffusionTensorImageData* data = require_dti(state, dialogs)) mpg_preset_ge_6_directions(data);
}

void mpg_preset_ge_13_command(AppState& state, Dialogs& dialogs) {
  if (DiffusionTensorImageData* data = require_dti(state, dialogs)) {
    mpg_preset_ge_13_directions(data);
  }
}

void mpg_preset_jones_30_command(AppState&, Dialogs& dialogs) {
  show_important_notice(dialogs, ZTR_NOT_IMPLEMENTED_NOTICE, 200, 100);
}

void mpg_total_channels_command(AppState& state, Dialogs& dialogs) {
  DiffusionTensorImageData* data = require_dti(state, dialogs);
  if (!data) return;
  std::string text;
  if (!ask_value(dialogs, "Total DTI Ch.", format_text("%d", data->dti_channels), &text)) return;
  int total = 0;
  if (std::sscanf(text.c_str(), "%d", &total) != 1) return;
  mpg_set_total_channels(data, total);
}

void mpg_b0_channels_command(AppState& state, Dialogs& dialogs) {
  DiffusionTensorImageData* data = require_dti(state, dialogs);
  if (!data) return;
  std::string text;
  if (!ask_value(dialogs, "So (b=0) Ch.", format_text("%d", data->b0_channels), &text)) return;
  int b0 = 0;
  if (std::sscanf(text.c_str(), "%d", &b0) != 1) return;
  mpg_set_b0_channels(data, b0);
}

void mpg_uniform_b_value_command(AppState& state, Dialogs& dialogs) {
  DiffusionTensorImageData* data = require_dti(state, dialogs);
  if (!data) return;
  std::string text;
  if (!ask_value(dialogs, "uniform b", format_text("%4.2f", ZTRdti_GetUniformBValue(data)),
                 &text)) {
    return;
  }
  float b = 0.0f;
  if (std::sscanf(text.c_str(), "%f", &b) != 1) return;
  mpg_set_uniform_b_value(data, b);
}

int threads_from_entry(const char* text, int current) {
  int count = current;
  if (!text || std::sscanf(text, "%d", &count) != 1) count = current;
  if (count < 1) count = 1;
  if (count > ZTR_MAX_THREADS) count = ZTR_MAX_THREADS;
  return count;
}

void threads_command(AppState& state, Dialogs& dialogs) {
  std::string text;
  if (!ask_value(dialogs, "Threads", format_text("%d", state.thread_count), &text)) return;
  state.thread_count = threads_from_entry(text.c_str(), state.thread_count);
}

// ---- Special ------------------------------------------------------------------------------

void compute_standard_maps_command(AppState& state, Dialogs& dialogs,
                                   const ChannelAppender& append) {
  if (!require_ready(state, dialogs)) return;
  dialogs.set_message_line(" computing standard DTI parameter maps ...");
  dialogs.repaint_now();
  WorkRunOptions progress;
  progress.on_progress = [&dialogs](int percent) {
    dialogs.set_message_line(format_text(" computing standard DTI parameter maps ... %d%%", percent));
    dialogs.repaint_now();
  };
  const int added = run_standard_dti_maps(state.dti.get(), state.thread_count, progress);
  if (added <= 0) {
    dialogs.set_message_line(" standard DTI parameter maps failed.");
    return;
  }
  int sent = 0, failed = 0;
  const ChannelAppender paced = [&](const RawVolumeData* volume, int32_t channel) {
    dialogs.set_message_line(
        format_text(" transferring map %d of %d to ZANTREVIUM ...", sent + failed + 1, added));
    dialogs.repaint_now();
    const int result = append ? append(volume, channel) : ZTRipc_AppendSingleChannel(volume, channel);
    (result == 0 ? sent : failed) += 1;
    return result;
  };
  upload_computed_channels(state.dti->volume, added, paced);
  dialogs.set_message_line(failed == 0 ? format_text(" %d maps computed and uploaded.", added)
                                       : format_text(" %d of %d maps uploaded.", sent, added));
}

void compute_standard_maps_command(AppState& state, Dialogs& dialogs) {
  compute_standard_maps_command(state, dialogs, ChannelAppender{});
}

void minimize_dti_data_command(AppState& state, Dialogs& dialogs) {
  DiffusionTensorImageData* data = require_dti(state, dialogs);
  if (!data) return;
  minimize_dti_data(data, 4);
  ZTRdti_PrintMPGSetting(data);
}

// ---- Help --------------------------------------------------------------------------------

void about_command(AppState&, Dialogs& dialogs) {
  dialogs.beep();
  dialogs.show_notice(ZTR_ABOUT_TITLE, ZTR_ABOUT_TEXT, 360, 240);
}
