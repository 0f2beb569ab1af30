// The analyzer's one application state record and the process-wide values beside it.
// Everything here is touched only on the toolkit's main thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analyzer/app/dialogs.h"
#include "analyzer/app/slice_views.h"
#include "analyzer/dti/dti_data.h"
#include "analyzer/objects/roi_commands.h"
#include "analyzer/studies/study_commands.h"
#include "sdk/ipc/ipc_client.h"
#include "sdk/ipc/object_group_ptr.h"
#include "sdk/volume/raw_volume.h"

struct ZTR_OBJECT_GROUP;
class Dialogs;
struct AppState;
struct ROI_OBJECT;
struct RoiList;

// The object lists a work session file saves and replaces, wherever the front end keeps them.
// Null lists take part as empty ones.
struct WorkSessionObjects {
  RoiList* rois = nullptr;
  StudyList* studies = nullptr;
  StudyEnvironment* study_env = nullptr;  // new studies get their host objects through it
  // Called for each restored ROI so that its panel can show it.
  std::function<void(ROI_OBJECT&)> roi_restored;
  // Stores the active ROI's panel into it before a save, so that the file holds what is shown.
  std::function<void()> store_panels;
};


// Page modes: the Study performer page is current, or any other page.
inline constexpr int ZTR_PAGE_MODE_STUDY = 254;
inline constexpr int ZTR_PAGE_MODE_OTHER = 146;

inline constexpr uint16_t ZTR_NO_ACTIVE_ID = 65535;
inline constexpr size_t ZTR_RESULT_BUFFER_BYTES = 12000000;
// The data source text holds at most this many bytes including its terminating zero.
inline constexpr size_t ZTR_DATA_SOURCE_TEXT_BYTES = 5120;
inline constexpr int ZTR_DEFAULT_THREADS = 8;
inline constexpr int ZTR_MAX_THREADS = 512;
inline constexpr int32_t ZTR_ANALYZER_POLL_LIMIT = 6553500;
// The window freezes while the analyzer waits on the host: no single wait lasts longer.
inline constexpr int32_t ZTR_ANALYZER_WAIT_TIME_LIMIT_MS = 3000;
inline constexpr char ZTR_CLIENT_ID[] = "heLiXIA";

// File kinds whose last chosen name is remembered between commands.
enum class FileKind : int {
  DicomDirectory = 0,
  RawVolume,
  DtiFile,
  MpgText,
  RoiObject,
  StudyObject,
  NiftiMask,
  WorkSession,
  StudyDump,
};
inline constexpr int ZTR_FILE_KIND_COUNT = 9;

// Numbering of new studies; clean-up resets all of them so that names start at 1 again.
// (The ROI list keeps its own ID and name counters.)
struct ObjectCounters {
  int study_id = 0;
  std::array<int, 3> study_names{};  // fiber tracking, diffusion profile, voxel statistics
};

// Where the ROI, study, slice-view and RTNN subsystems plug into the application's
// sequences. An empty hook means the subsystem is not part of this build: the sequence
// step then has nothing to do.
struct SessionHooks {
  // One study of each kind, then one ROI of each kind (each shown in the ROI editor).
  std::function<void(AppState&)> create_initial_objects;
  // Deletes every study and every ROI (studies also remove their host objects).
  std::function<void(AppState&)> delete_all_objects;
  // Redraws the five object lists; shows the active study's panel on the study page.
  std::function<void(AppState&)> refresh_lists;
  // Selects the first study and the first ROI and redraws their lists.
  std::function<void(AppState&)> select_first_objects;
  // Follow-host-cursor toggles on, region masks replaced by zero volumes of the volume's size.
  std::function<void(AppState&)> reset_views;
  // Moves the views that follow the host's cursor to the broadcast slice position.
  std::function<void(AppState&)> follow_host_cursor;
  // Realtime analysis of one voxel; the text replaces the monitor text.
  std::function<std::string(AppState&, int x, int y, int z)> analyse_voxel;
  // Rebuilds the display object group for the current page and sends it to the host.
  std::function<void(AppState&)> rebuild_display_group;
  // The q-space density check of the loaded RTNNs on the current MPG setting.
  std::function<bool(AppState&)> q_space_density_ok;
  // Loads the RTNNs; returns how many are ready.
  std::function<int(AppState&)> prepare_rtnns;
  std::function<void(AppState&)> release_rtnns;
  std::function<void(AppState&)> release_views;
  // True when the active ROI is locked (its view then keeps its channel); empty: no ROIs.
  std::function<bool(AppState&)> active_roi_locked;
  // The lists saved into and restored from a work session file; empty: no objects.
  std::function<WorkSessionObjects(AppState&)> session_objects;
};

struct BroadcasterDeleter {
  void operator()(ZTRipc_BROADCASTER* b) const { ZTRipc_DeleteBroadcaster(b); }
};
using BroadcasterPtr = std::unique_ptr<ZTRipc_BROADCASTER, BroadcasterDeleter>;

struct AppState {
  AppState();
  AppState(const AppState&) = delete;
  AppState& operator=(const AppState&) = delete;

  int client_number = 0;
  BroadcasterPtr broadcast;
  // The loaded DWI volume. The DTI data refers to the same record; a data replacement
  // exchanges contents so that this pointer never changes while data is loaded.
  VolumePtr volume;
  // The DTI data on `volume` (the record only; it never owns the volume here).
  DtiDataPtr dti;
  std::vector<unsigned char> result_buffer;
  float profile_glyph_size = 12.0f;
  std::array<float, 7> drawing_scales{};
  float tracking_panel_factor = 0.98f;
  int realtime_analysis = 0;
  int objects_shown = 0;
  int thread_count = ZTR_DEFAULT_THREADS;
  GroupPtr display_group;
  int display_group_id = -1;
  int initialized = 0;
  int auto_update = 0;
  int page_mode = ZTR_PAGE_MODE_STUDY;
  std::string data_source_text;

  // Process-wide values.
  int ipc_available = 0;
  int last_page = 0;
  std::array<std::string, ZTR_FILE_KIND_COUNT> file_names;
  ObjectCounters counters;
  SessionHooks hooks;
  SliceViewSet views;
  // The ROIs, the active ROI and the working copies of the ROI editor's panels: the one
  // record of which ROI is active.
  RoiEditor roi_editor;
  // The studies and the active study (its ID in the list).
  StudyList studies;
  // The environment the study commands run in, kept so that its list redraw guard holds
  // across calls; the page they see (the region views, then the front end's page); the front
  // end's study page (none: nothing shown); the host of the studies' objects (made when the
  // host is connected; tests set their own).
  StudyEnvironment study_env;
  std::unique_ptr<StudyPage> study_page_binding;
  StudyPage* study_page = nullptr;
  std::unique_ptr<StudyHost> study_host;

  std::string& file_name(FileKind kind) { return file_names[static_cast<int>(kind)]; }
  // Loaded networks: the network table's own count, so that it cannot go stale.
  int rtnn_count() const;
  // True when DTI data exists and its MPG setting is ready.
  bool dti_ready() const { return dti && dti->mpg_ready == 1; }
  // Replaces the data source text, cut to what its buffer holds.
  void set_data_source_text(std::string text);
};
