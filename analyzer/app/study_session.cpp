// The studies inside the application: hooks, environment, region views, host display and
// the Study menu and study file commands.
#include "analyzer/app/study_session.h"

#include <cstdio>
#include <memory>

#include "analyzer/app/roi_session.h"
#include "analyzer/app/session.h"
#include "analyzer/app/slice_views.h"
#include "analyzer/app/startup.h"
#include "analyzer/app/text_format.h"
#include "analyzer/rtnn/rtnn_files.h"
#include "analyzer/studies/study_display.h"
#include "analyzer/studies/study_runs.h"
#include "analyzer/objects/roi_object.h"
#include "analyzer/studies/study_host_ipc.h"
#include "sdk/ipc/object_group.h"

namespace {

// The page the study commands see: the region views are the application's own, the rest
// is the front end's page (when one is set).
class ApplicationStudyPage : public StudyPage {
 public:
  explicit ApplicationStudyPage(AppState& state) : state_(state) {}
  void store_panel(STUDY_OBJECT& study) override {
    // The views first: a region's selector depends on the view it was drawn in.
    store_study_region_views(state_, study);
    if (StudyPage* page = state_.study_page) page->store_panel(study);
  }
  void load_panel(const STUDY_OBJECT& study) override {
    load_study_region_views(state_, study);
    if (StudyPage* page = state_.study_page) page->load_panel(study);
  }
  void show_panel(int32_t type) override {
    if (StudyPage* page = state_.study_page) page->show_panel(type);
  }
  void hide_panels() override {
    if (StudyPage* page = state_.study_page) page->hide_panels();
  }
  void stop_following() override {
    // The views are the application's; the front end repaints them when told.
    for (SliceViewFrame& frame : state_.views.study_regions) {
      set_follow(frame, false);
      redraw_frame(frame);
    }
    if (StudyPage* page = state_.study_page) page->stop_following();
  }
  void select_row(int index) override {
    if (StudyPage* page = state_.study_page) page->select_row(index);
  }
  void redraw_list() override {
    if (StudyPage* page = state_.study_page) page->redraw_list();
  }
  void set_name_entry(const std::string& text) override {
    if (StudyPage* page = state_.study_page) page->set_name_entry(text);
  }
  void set_message_line(const std::string& text) override {
    if (StudyPage* page = state_.study_page) page->set_message_line(text);
  }
  std::string summary_box() override {
    StudyPage* page = state_.study_page;
    return page ? page->summary_box() : std::string();
  }
  void set_summary_box(const std::string& text) override {
    if (StudyPage* page = state_.study_page) page->set_summary_box(text);
  }
  void show_summary_page(int32_t type) override {
    if (StudyPage* page = state_.study_page) page->show_summary_page(type);
  }

 private:
  AppState& state_;
};

StudyGridSize study_grid(const AppState& state) {
  const GridSize grid = volume_grid(state);
  return {grid[0], grid[1], grid[2]};
}

// The kind runs over this state: the loaded DTI data, the ROIs, the host's box as last
// broadcast, the thread count, the loaded networks; a dump asks for its file name.
StudyKindRuns study_kind_runs(AppState& state, Dialogs& dialogs) {
  return make_study_kind_runs([&state, &dialogs] {
    StudyRunSources sources;
    sources.dti = state.dti_ready() ? state.dti.get() : nullptr;
    sources.rois = &state.roi_editor.rois;
    if (state.broadcast) {
      for (int a = 0; a < 3; ++a) {
        sources.box_origin[size_t(a)] = state.broadcast->box_origin[a];
        sources.box_size[size_t(a)] = state.broadcast->box_size[a];
      }
    }
    sources.threads = state.thread_count;
    sources.notices = &dialogs;
    sources.rtnns = state.rtnn_count() > 0 ? &rtnn_table() : nullptr;
    sources.dump_path = [&state, &dialogs](const char* initial_name) {
      std::string chosen = state.file_name(FileKind::StudyDump);
      if (dialogs.file_selection(chosen, initial_name, FileSelectionKind::Save) !=
          ZTR_DIALOG_OK) {
        return std::string();
      }
      state.file_name(FileKind::StudyDump) = chosen;
      return chosen;
    };
    return sources;
  });
}

// The active study's regions as host objects.
ZTR_OBJECT_GROUP* study_display_group(AppState& state, const STUDY_OBJECT& study) {
  return build_study_display_group(study, state.roi_editor.rois, volume_grid(state)).release();
}

// A voxelized volume's channel goes to the host first and joins the loaded volume only when
// the host took it, as converted ROIs do.
void append_voxelized(AppState& state, Dialogs& dialogs, VolumePtr voxelized) {
  if (!voxelized) return;
  RawVolumeData* volume = state.dti ? state.dti->volume : state.volume.get();
  std::fputs("start transfer... ", stderr);
  if (state.ipc_available != 1 || ZTRipc_AppendSingleChannel(voxelized.get(), 0) != 0) {
    std::fputs("failed; the channel is not added\n", stderr);
    dialogs.set_message_line(" tracklines NOT voxelized.");
    return;
  }
  if (ZTR_AppendChannelCopy(volume, voxelized.get(), 0) != 0) {
    std::fputs("failed; the channel is not added here\n", stderr);
    dialogs.set_message_line(" tracklines NOT voxelized.");
    return;
  }
  std::fputs("end\n", stderr);
  refresh_views(state);
  dialogs.set_message_line(
      format_text(" tracklines voxelized to channel %d.", volume->header->channels - 1));
}

void voxelize(AppState& state, Dialogs& dialogs, TracklineVoxelization kind) {
  if (!state.dti_ready()) {
    show_mpg_not_ready_notice(dialogs);
    return;
  }
  append_voxelized(state, dialogs,
                   voxelize_visible_tracklines(state.studies, kind, volume_grid(state)));
}

// After a command that changed the list: the page shows the active study and the host its
// objects when they update automatically.
void study_list_changed(AppState& state) {
  StudyEnvironment& env = study_environment(state);
  if (env.page) env.page->redraw_list();
  if (state.auto_update == 1 && state.objects_shown == 1 && state.page_mode == ZTR_PAGE_MODE_STUDY) {
    send_study_display_group(state);
  }
}

void new_study(AppState& state, int32_t type) {
  StudyEnvironment& env = study_environment(state);
  if (new_study_object(state.studies, env, type)) study_list_changed(state);
}

void visibility(AppState& state, StudyVisibility command, int32_t kind = 0) {
  StudyEnvironment& env = study_environment(state);
  apply_study_visibility(state.studies, env, command, kind);
}

void preset(AppState& state, int index) {
  apply_study_preset_label(state.studies, study_environment(state), index);
}

void run_active(AppState& state, Dialogs& dialogs, bool dump) {
  StudyEnvironment& env = study_environment(state, &dialogs);
  StudyRunContext context;
  context.dump = dump;
  const float zero[3] = {0, 0, 0};
  const float* cursor = state.broadcast ? state.broadcast->cursor : zero;
  bool realtime = state.realtime_analysis == 1;
  env.realtime = &realtime;
  run_active_study_timed(state.studies, env, study_kind_runs(state, dialogs), context, cursor);
  if (!realtime) state.realtime_analysis = 0;
  env.realtime = nullptr;
  study_list_changed(state);
}

void analyze_all(AppState& state, Dialogs& dialogs, bool skip_done) {
  StudyEnvironment& env = study_environment(state, &dialogs);
  const float zero[3] = {0, 0, 0};
  const float* cursor = state.broadcast ? state.broadcast->cursor : zero;
  bool realtime = state.realtime_analysis == 1;
  env.realtime = &realtime;
  const int failed =
      analyze_all_studies(state.studies, env, study_kind_runs(state, dialogs), skip_done, cursor);
  if (!realtime) state.realtime_analysis = 0;
  env.realtime = nullptr;
  if (failed > 0) {
    env.page->set_message_line(failed == 1 ? "1 analysis failed."
                                           : std::to_string(failed) + " analyses failed.");
  }
  study_list_changed(state);
}

void show_study_page(AppState& state, Dialogs& dialogs) {
  dialogs.set_current_page(0);
  state.page_mode = ZTR_PAGE_MODE_STUDY;
}

}  // namespace

StudyEnvironment& study_environment(AppState& state, NoticeSink* notices) {
  if (!state.study_page_binding) {
    state.study_page_binding = std::make_unique<ApplicationStudyPage>(state);
  }
  if (!state.study_host && state.ipc_available == 1) {
    state.study_host =
        std::make_unique<IpcStudyHost>([] { return int32_t(create_host_object()); });
  }
  StudyEnvironment& env = state.study_env;
  env.host = state.study_host.get();
  env.page = state.study_page_binding.get();
  env.notices = notices;
  env.auto_update = state.auto_update == 1;
  env.objects_shown = state.objects_shown == 1;
  env.dti_ready = state.dti_ready();
  env.rebuild_display_group = [&state] { send_study_display_group(state); };
  env.lock_listed_rois = [&state](const uint16_t* ids, int32_t count) {
    lock_listed_rois(state.roi_editor.rois, ids, count);
  };
  env.redraw_roi_list = [&state] { refresh_lists(state); };
  return env;
}

std::vector<StudyRegionView> study_region_views_of(int32_t type) {
  switch (type) {
    case ZTR_STUDY_FIBER_TRACKING:
      return {StudyRegionView::Seed, StudyRegionView::Target, StudyRegionView::Avoidance};
    case ZTR_STUDY_DIFFUSION_PROFILE:
      return {StudyRegionView::Profile};
    case ZTR_STUDY_VOXEL_STATISTICS:
      return {StudyRegionView::Statistics};
    default:
      return {};
  }
}

void load_study_region_views(AppState& state, const STUDY_OBJECT& study) {
  const std::vector<const StudyRegion*> regions = study_regions(study);
  const std::vector<StudyRegionView> views = study_region_views_of(study.type);
  for (size_t i = 0; i < regions.size() && i < views.size(); ++i) {
    SliceViewFrame& frame = state.views.study_view(views[i]);
    load_view(frame, regions[i]->view);
  }
}

void store_study_region_views(AppState& state, STUDY_OBJECT& study) {
  const std::vector<StudyRegion*> regions = study_regions(study);
  const std::vector<StudyRegionView> views = study_region_views_of(study.type);
  for (size_t i = 0; i < regions.size() && i < views.size(); ++i) {
    store_view(state.views.study_view(views[i]), regions[i]->view);
  }
}

StudyRegion* study_region_for_view(AppState& state, STUDY_OBJECT& study, StudyRegionView view) {
  (void)state;
  const std::vector<StudyRegion*> regions = study_regions(study);
  const std::vector<StudyRegionView> views = study_region_views_of(study.type);
  for (size_t i = 0; i < regions.size() && i < views.size(); ++i) {
    if (views[i] == view) return regions[i];
  }
  return nullptr;
}

void bind_study_views(AppState& state) {
  for (SliceViewFrame& frame : state.views.study_regions) {
    frame.on_change = [&state](SliceViewFrame&) {
      if (state.auto_update != 1 || state.objects_shown != 1) return;
      if (STUDY_OBJECT* active = get_active_study_object(state.studies)) {
        store_study_region_views(state, *active);
        send_study_display_group(state);
      }
    };
  }
}

void show_active_study(AppState& state) {
  StudyEnvironment& env = study_environment(state);
  if (!env.page) return;
  env.page->redraw_list();
  const int index = study_index(state.studies, state.studies.active_id);
  if (index < 0) {
    env.page->hide_panels();
    return;
  }
  const STUDY_OBJECT& study = *state.studies.studies[size_t(index)];
  env.list_redraw_guard = true;
  env.page->select_row(index);
  env.list_redraw_guard = false;
  env.page->show_panel(study.type);
  env.page->load_panel(study);
}

int send_study_display_group(AppState& state) {
  ZTR_OBJECT_GROUP* group = nullptr;
  if (state.objects_shown == 1) {
    if (STUDY_OBJECT* active = get_active_study_object(state.studies)) {
      store_study_region_views(state, *active);
      group = study_display_group(state, *active);
    }
  }
  if (!group) group = ZTR_NewObjectGroup(8);
  state.display_group.reset(group);
  if (!group || state.display_group_id == -1 || state.ipc_available != 1) return -1;
  return ZTRipc_UpdateObjectGroup(group, state.display_group_id);
}

void install_study_hooks(SessionHooks& hooks) {
  auto create_rois = hooks.create_initial_objects;
  hooks.create_initial_objects = [create_rois](AppState& state) {
    bind_study_views(state);
    StudyEnvironment& env = study_environment(state);
    // The page shows the new studies only after the first selection.
    env.list_redraw_guard = true;
    for (int32_t type : {ZTR_STUDY_FIBER_TRACKING, ZTR_STUDY_DIFFUSION_PROFILE,
                         ZTR_STUDY_VOXEL_STATISTICS}) {
      new_study_object(state.studies, env, type);
    }
    env.list_redraw_guard = false;
    // The page opens on the first study, as after a data replacement.
    if (!state.studies.studies.empty()) {
      state.studies.active_id = state.studies.studies.front()->id;
    }
    if (create_rois) create_rois(state);
  };
  auto delete_rois = hooks.delete_all_objects;
  hooks.delete_all_objects = [delete_rois](AppState& state) {
    delete_all_studies(state.studies, study_environment(state));
    state.studies.counters = StudyCounters{};
    if (delete_rois) delete_rois(state);
  };
  auto select_rois = hooks.select_first_objects;
  hooks.select_first_objects = [select_rois](AppState& state) {
    if (!state.studies.studies.empty()) {
      StudyEnvironment& env = study_environment(state);
      // Nothing of the deleted studies is in the panel to be stored.
      state.studies.active_id = ZTR_NO_STUDY;
      select_study_by_index(state.studies, env, 0);
    }
    if (select_rois) select_rois(state);
  };
  auto rebuild_rois = hooks.rebuild_display_group;
  hooks.rebuild_display_group = [rebuild_rois](AppState& state) {
    if (state.page_mode == ZTR_PAGE_MODE_STUDY) {
      send_study_display_group(state);
    } else if (rebuild_rois) {
      rebuild_rois(state);
    }
  };
  hooks.session_objects = [](AppState& state) {
    WorkSessionObjects objects;
    objects.rois = &state.roi_editor.rois;
    objects.studies = &state.studies;
    objects.study_env = &study_environment(state);
    objects.store_panels = [&state] {
      sync_views_into_panels(state);
      store_active_roi(state.roi_editor);
      if (STUDY_OBJECT* active = get_active_study_object(state.studies)) {
        study_environment(state).page->store_panel(*active);
      }
    };
    return objects;
  };
}

// ---- the study list page ------------------------------------------------------------------

void study_select_command(AppState& state, int index) {
  StudyEnvironment& env = study_environment(state);
  if (env.list_redraw_guard) return;
  if (select_study_by_index(state.studies, env, index) == 0) env.page->redraw_list();
}

void study_rename_command(AppState& state, const std::string& text) {
  StudyEnvironment& env = study_environment(state);
  if (env.list_redraw_guard) return;
  rename_active_study(state.studies, env, text);
}

void study_set_visible_command(AppState& state, bool visible) {
  StudyEnvironment& env = study_environment(state);
  if (env.list_redraw_guard) return;
  set_active_study_visible(state.studies, env, visible);
}

void study_analyze_command(AppState& state, Dialogs& dialogs) { run_active(state, dialogs, false); }

// ---- Study menu -----------------------------------------------------------------------------

void study_new_fiber_tracking_command(AppState& state, Dialogs&) {
  new_study(state, ZTR_STUDY_FIBER_TRACKING);
}
void study_new_diffusion_profile_command(AppState& state, Dialogs&) {
  new_study(state, ZTR_STUDY_DIFFUSION_PROFILE);
}
void study_new_voxel_statistics_command(AppState& state, Dialogs&) {
  new_study(state, ZTR_STUDY_VOXEL_STATISTICS);
}

void study_duplicate_command(AppState& state, Dialogs&) {
  if (duplicate_active_study(state.studies, study_environment(state))) study_list_changed(state);
}

void study_delete_command(AppState& state, Dialogs&) {
  delete_active_study(state.studies, study_environment(state));
  study_list_changed(state);
}

void study_analyze_and_dump_command(AppState& state, Dialogs& dialogs) {
  run_active(state, dialogs, true);
}
void study_analyze_all_command(AppState& state, Dialogs& dialogs) {
  analyze_all(state, dialogs, false);
}
void study_analyze_all_but_done_command(AppState& state, Dialogs& dialogs) {
  analyze_all(state, dialogs, true);
}

void study_show_all_command(AppState& state, Dialogs&) {
  visibility(state, StudyVisibility::ShowAll);
}
void study_show_only_fiber_tracking_command(AppState& state, Dialogs&) {
  visibility(state, StudyVisibility::ShowOnlyKind, ZTR_STUDY_FIBER_TRACKING);
}
void study_show_only_diffusion_profile_command(AppState& state, Dialogs&) {
  visibility(state, StudyVisibility::ShowOnlyKind, ZTR_STUDY_DIFFUSION_PROFILE);
}
void study_show_only_voxel_statistics_command(AppState& state, Dialogs&) {
  visibility(state, StudyVisibility::ShowOnlyKind, ZTR_STUDY_VOXEL_STATISTICS);
}
void study_show_only_selected_command(AppState& state, Dialogs&) {
  visibility(state, StudyVisibility::ShowOnlySelected);
}
void study_hide_all_command(AppState& state, Dialogs&) {
  visibility(state, StudyVisibility::HideAll);
}
void study_hide_only_fiber_tracking_command(AppState& state, Dialogs&) {
  visibility(state, StudyVisibility::HideOnlyKind, ZTR_STUDY_FIBER_TRACKING);
}
void study_hide_only_diffusion_profile_command(AppState& state, Dialogs&) {
  visibility(state, StudyVisibility::HideOnlyKind, ZTR_STUDY_DIFFUSION_PROFILE);
}
void study_hide_only_voxel_statistics_command(AppState& state, Dialogs&) {
  visibility(state, StudyVisibility::HideOnlyKind, ZTR_STUDY_VOXEL_STATISTICS);
}
void study_hide_only_selected_command(AppState& state, Dialogs&) {
  visibility(state, StudyVisibility::HideOnlySelected);
}
void study_invert_visibility_command(AppState& state, Dialogs&) {
  visibility(state, StudyVisibility::Invert);
}

void study_preset_left_pyramidal_command(AppState& state, Dialogs&) { preset(state, 0); }
void study_preset_right_pyramidal_command(AppState& state, Dialogs&) { preset(state, 1); }
void study_preset_corpus_callosum_command(AppState& state, Dialogs&) { preset(state, 2); }

void study_record_summary_command(AppState& state, Dialogs&) {
  record_study_summary(state.studies, study_environment(state));
}
void study_restore_summary_command(AppState& state, Dialogs&) {
  restore_study_summary(state.studies, study_environment(state));
}

// ---- File ---------------------------------------------------------------------------------

void import_study_object_command(AppState& state, Dialogs& dialogs) {
  show_study_page(state, dialogs);
  std::string chosen = state.file_name(FileKind::StudyObject);
  if (dialogs.file_selection(chosen, nullptr, FileSelectionKind::Open) != ZTR_DIALOG_OK) return;
  state.file_name(FileKind::StudyObject) = chosen;
  const int32_t channels = state.dti ? state.dti->dti_channels : 0;
  StudyEnvironment& env = study_environment(state, &dialogs);
  if (import_study_file(state.studies, env, chosen, study_grid(state), channels)) {
    study_list_changed(state);
  }
}

void export_study_object_command(AppState& state, Dialogs& dialogs) {
  show_study_page(state, dialogs);
  if (!get_active_study_object(state.studies)) return;
  std::string chosen = state.file_name(FileKind::StudyObject);
  if (dialogs.file_selection(chosen, nullptr, FileSelectionKind::Save) != ZTR_DIALOG_OK) return;
  state.file_name(FileKind::StudyObject) = chosen;
  std::string reason;
  StudyEnvironment& env = study_environment(state, &dialogs);
  if (export_active_study(state.studies, env, study_grid(state), chosen, &reason) != 0) {
    std::fprintf(stderr, "Err: %s\n", reason.c_str());
    dialogs.notice("Warning", "Study object NOT saved.\n" + reason);
  }
}

// ---- Special ------------------------------------------------------------------------------

void voxelize_tracklines_grey_command(AppState& state, Dialogs& dialogs) {
  voxelize(state, dialogs, TracklineVoxelization::Grey);
}

void voxelize_tracklines_colour_command(AppState& state, Dialogs& dialogs) {
  voxelize(state, dialogs, TracklineVoxelization::Colour);
}

void voxelize_tracklines_roi_command(AppState& state, Dialogs& dialogs) {
  if (!state.dti_ready()) {
    show_mpg_not_ready_notice(dialogs);
    return;
  }
  ROI_OBJECT* roi = voxelize_visible_tracklines_to_roi(state.studies, state.roi_editor.rois,
                                                       volume_grid(state));
  if (!roi) return;
  roi_select_command(state, roi->id);
  dialogs.set_message_line(" tracklines voxelized to a voxelgroup ROI.");
}

// ---- ROI palette frame --------------------------------------------------------------------

void export_roi_to_editor_command(AppState& state, Dialogs& dialogs) {
  SliceViewFrame* frame = state.views.exposed;
  int tab = -1;
  for (int i = 0; i < ZTR_STUDY_REGION_VIEW_COUNT; ++i) {
    if (frame == &state.views.study_regions[size_t(i)]) tab = i;
  }
  STUDY_OBJECT* study = get_active_study_object(state.studies);
  StudyRegion* region =
      study && tab >= 0 && state.page_mode == ZTR_PAGE_MODE_STUDY
          ? study_region_for_view(state, *study, static_cast<StudyRegionView>(tab))
          : nullptr;
  if (!region || !state.volume) {
    show_important_notice(dialogs, ZTR_NO_PALETTE_NOTICE, 240, 100);
    return;
  }
  // What the panel shows decides: its radios and its drawing.
  study_environment(state).page->store_panel(*study);
  int32_t type = -1;
  if (region->selector == ZTR_REGION_SPHERE) type = ZTR_ROI_SPHERICAL;
  if (region->selector == ZTR_REGION_FREEHAND || region->selector == ZTR_REGION_FREEHAND_ON_MAP) {
    type = ZTR_ROI_FREEHAND;
  }
  if (type < 0) {
    show_important_notice(dialogs, "This type of ROI palette is not exportable.", 240, 100);
    return;
  }
  const GridSize grid = volume_grid(state);
  sync_views_into_panels(state);
  ROI_OBJECT* roi = roi_new_command(state.roi_editor, type, grid);
  if (!roi) return;
  slice_view_to_roi_view(frame->view, grid, roi->view);
  const char* role = "ROI";
  if (study->type == ZTR_STUDY_FIBER_TRACKING) {
    role = tab == int(StudyRegionView::Seed)     ? "seed"
           : tab == int(StudyRegionView::Target) ? "target"
                                                 : "avoidance";
  }
  roi_rename(*roi, format_text("Imported %s of %s", role, study->name));
  // The panel shows the copy where it was drawn; following the cursor would move it.
  RoiViewState& working = state.roi_editor.panel_of(type);
  working.view = roi->view;
  working.follow_host = false;
  dialogs.set_current_page(1);
  state.page_mode = ZTR_PAGE_MODE_OTHER;
  roi_list_changed(state);
}
