// Save and open of the work session file, with the replacement of the running session.
#include "analyzer/app/work_session_commands.h"

#include <algorithm>
#include <cstdio>

#include "analyzer/app/roi_session.h"
#include "analyzer/app/session.h"
#include "analyzer/app/session_file.h"
#include "analyzer/app/text_format.h"
#include "analyzer/dti/mpg_setting.h"
#include "analyzer/objects/roi_commands.h"
#include "analyzer/objects/roi_object.h"
#include "analyzer/studies/study_commands.h"

namespace {

inline constexpr char kNotSessionFile[] = "This is NOT a kLS-II WORK file.";

// The front end's lists; without a hook the ROI editor's list, and no studies.
WorkSessionObjects session_objects(AppState& state) {
  if (state.hooks.session_objects) return state.hooks.session_objects(state);
  WorkSessionObjects objects;
  objects.rois = &state.roi_editor.rois;
  objects.store_panels = [&state] {
    sync_views_into_panels(state);
    store_active_roi(state.roi_editor);
  };
  return objects;
}

bool uses_roi_editor(const AppState& state, const WorkSessionObjects& objects) {
  return objects.rois == &state.roi_editor.rois;
}

// Deletes every object; lists the front end does not hand over are left to its own hook.
void delete_all_session_objects(AppState& state, WorkSessionObjects& objects) {
  clean_up_objects(state);
  if (objects.rois) delete_all_rois(*objects.rois);
  if (objects.studies) {
    StudyEnvironment none;
    delete_all_studies(*objects.studies, objects.study_env ? *objects.study_env : none);
    objects.studies->counters = StudyCounters{};
  }
}

// Creates the staged ROIs through the list, keeping their stored IDs. Returns how many exist.
int restore_rois(AppState& state, WorkSessionObjects& objects, StagedWorkSession& staged) {
  if (!objects.rois) return 0;
  const GridSize grid = volume_grid(state);
  int created = 0;
  int highest = -1;
  for (std::unique_ptr<ROI_OBJECT>& stored : staged.rois) {
    ROI_OBJECT* roi = new_roi_object(*objects.rois, stored->type, grid);
    if (!roi) break;
    *roi = std::move(*stored);
    highest = std::max(highest, int(roi->id));
    ++created;
    if (objects.roi_restored) objects.roi_restored(*roi);
  }
  // Listed-ROI references name restored IDs: a new ROI must never take one of them.
  objects.rois->next_id = std::max(objects.rois->next_id, highest + 1);
  std::fprintf(stderr, "%d ROI objects\n", created);
  return created;
}

int restore_studies(AppState& state, WorkSessionObjects& objects, StagedWorkSession& staged) {
  if (!objects.studies) return 0;
  StudyEnvironment none;
  StudyEnvironment& env = objects.study_env ? *objects.study_env : none;
  int created = 0;
  int highest = -1;
  for (std::unique_ptr<STUDY_OBJECT>& stored : staged.studies) {
    STUDY_OBJECT* study = new_study_object(*objects.studies, env, stored->type);
    if (!study) break;
    // The new study's host object and display group stay; everything else is the file's.
    const int32_t host_object = study->host_object_id;
    ObjectGroupPtr group = std::move(study->group);
    *study = std::move(*stored);
    study->host_object_id = host_object;
    study->group = std::move(group);
    if (study->status == ZTR_STUDY_ANALYSED) study->status = ZTR_STUDY_RELOADED;
    std::fprintf(stderr, "study TYPE: %d\n", int(study->type));
    if (env.page) {
      env.page->show_panel(study->type);
      env.page->load_panel(*study);
      env.page->store_panel(*study);
    }
    highest = std::max(highest, int(study->id));
    ++created;
  }
  objects.studies->counters.next_id = std::max(objects.studies->counters.next_id, highest + 1);
  state.counters.study_id = std::max(state.counters.study_id, highest + 1);
  if (env.page) env.page->redraw_list();
  std::fprintf(stderr, "%d study objects\n", created);
  return created;
}

}  // namespace

void save_work_data_command(AppState& state, Dialogs& dialogs) {
  std::string chosen = state.file_name(FileKind::WorkSession);
  if (dialogs.file_selection(chosen, nullptr, FileSelectionKind::Save) != ZTR_DIALOG_OK) return;
  state.file_name(FileKind::WorkSession) = chosen;

  WorkSessionObjects objects = session_objects(state);
  if (objects.store_panels) objects.store_panels();
  WorkSessionSource source;
  const std::optional<std::string> shown = dialogs.memo_text();
  source.memo = stored_memo_text(shown ? *shown : state.data_source_text);
  source.dti = state.dti.get();
  if (objects.rois) {
    for (ROI_OBJECT* roi : roi_items(*objects.rois)) source.rois.push_back(roi);
    source.active_roi_id = objects.rois->active_id;
  }
  if (objects.studies) {
    for (const auto& study : objects.studies->studies) source.studies.push_back(study.get());
    source.active_study_id = objects.studies->active_id;
  }
  state.set_data_source_text(source.memo);

  std::string reason;
  if (!save_work_session_file(chosen, source, &reason)) {
    std::fprintf(stderr, "Err: %s\n", reason.c_str());
    dialogs.notice("Warning", "Session data NOT saved.\n" + reason);
    return;
  }
  dialogs.set_message_line(" Session data saved.");
}

void open_work_data_command(AppState& state, Dialogs& dialogs) {
  if (state.dti_ready() && !ask_confirmation(dialogs, ZTR_DISCARD_CONFIRMATION)) return;
  std::string chosen = state.file_name(FileKind::WorkSession);
  if (dialogs.file_selection(chosen, nullptr, FileSelectionKind::Open) != ZTR_DIALOG_OK) return;
  state.file_name(FileKind::WorkSession) = chosen;

  StagedWorkSession staged;
  std::string reason;
  switch (read_work_session_file(chosen, &staged, &reason)) {
    case WorkSessionStatus::Ok:
      break;
    case WorkSessionStatus::CannotOpen:
      std::fprintf(stderr, "Err: failed to fopen(%s)\n", chosen.c_str());
      dialogs.notice("Warning", "Session data NOT loaded.\n" + reason);
      return;
    case WorkSessionStatus::NotSessionFile:
      dialogs.notice("Warning", kNotSessionFile);
      return;
    case WorkSessionStatus::Refused:
      std::fprintf(stderr, "Err: %s\n", reason.c_str());
      dialogs.notice("Warning", "Session data NOT loaded.\n" + reason);
      return;
  }
  WorkSessionObjects objects = session_objects(state);
  if ((!objects.rois && !staged.rois.empty()) || (!objects.studies && !staged.studies.empty())) {
    // Dropping objects silently would lose them at the next save.
    dialogs.notice("Warning", "Session data NOT loaded.\nthis build cannot hold its objects");
    return;
  }

  // Everything is validated: from here on the session is replaced.
  state.set_data_source_text(staged.memo);
  dialogs.set_memo_text(staged.memo);
  state.dti.reset();
  exchange_loaded_volume(state, std::move(staged.volume));
  staged.dti->volume = state.volume.get();
  state.dti = std::move(staged.dti);
  ZTRdti_PrintMPGSetting(state.dti.get());
  send_loaded_channel_to_host(state);
  send_voxel_size_to_host(state);

  reset_slice_views(state, dialogs);
  // The session's drawings stay where they were drawn: no view follows the host's cursor,
  // which would move a restored sphere or outline at the next timer tick.
  for (SliceViewFrame* frame : state.views.all()) set_follow(*frame, false);
  for (RoiViewState& panel : state.roi_editor.panels) panel.follow_host = false;
  delete_all_session_objects(state, objects);
  const int rois = restore_rois(state, objects, staged);
  const int studies = restore_studies(state, objects, staged);
  if (objects.rois) objects.rois->active_id = staged.active_roi_id;
  if (objects.studies) {
    objects.studies->active_id = staged.active_study_id;
    // The panel holds the last study restored: the active one is loaded into it, so that the
    // next store does not turn it into a copy of that one.
    StudyPage* page = objects.study_env ? objects.study_env->page : nullptr;
    const int index = study_index(*objects.studies, staged.active_study_id);
    if (page && index >= 0) {
      const STUDY_OBJECT& active = *objects.studies->studies[size_t(index)];
      objects.study_env->list_redraw_guard = true;
      page->select_row(index);
      objects.study_env->list_redraw_guard = false;
      page->show_panel(active.type);
      page->load_panel(active);
    } else if (page) {
      page->hide_panels();
    }
  }
  if (uses_roi_editor(state, objects) && staged.active_roi_id != ZTR_SESSION_NO_ID) {
    // The active ROI into its panel and view, as selecting it in the list does.
    state.roi_editor.rois.active_id = ZTR_SESSION_NO_ID;
    roi_select(state.roi_editor, staged.active_roi_id, volume_grid(state));
    show_active_roi(state);
  }
  dialogs.notice("Notice", format_text("Objects loaded: %d studies / %d ROIs.", studies, rois));

  refresh_lists(state);
  dialogs.set_current_page(0);
  state.page_mode = ZTR_PAGE_MODE_STUDY;
  dialogs.set_message_line(" Session data loaded.");
  // The memo keeps the file's text; the next save writes the memo, not this line.
  state.set_data_source_text(
      format_text("Data Source: kLS.II session file: \nFile name: %s\n", chosen.c_str()));
}
