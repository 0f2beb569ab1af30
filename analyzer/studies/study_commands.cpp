// Study commands over the study list. The front end's panels hold the working copy of the
// active study, so every change of the active study stores the panel first and loads the
// new one after; commands never leave the active ID naming a study the panel does not hold.
#include "analyzer/studies/study_commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "analyzer/dti/maps.h"
#include "analyzer/dti/mpg_setting.h"

namespace {

const char* const kKindNames[ZTR_STUDY_KINDS] = {"Fiber tracking", "Diffusion profile",
                                                 "Voxel statistics"};

inline constexpr char kListedWarning[] =
    "Listed ROI IDs can NOT be saved\nin study object file. Restore them\nmanually after "
    "loading the files of\nthe study and the ROIs refered.";
inline constexpr char kNotStudyFile[] = "This is NOT a kLS-II ROI file.";

double wall_clock_time_of_day() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec +
         double(now.tv_nsec / 1000000) / 1000.0;
}

// Selects a row without the selection callback storing anything.
void select_row_guarded(StudyEnvironment& env, int index) {
  if (!env.page) return;
  const bool saved = env.list_redraw_guard;
  env.list_redraw_guard = true;
  env.page->select_row(index);
  env.list_redraw_guard = saved;
}

void redraw_list(StudyEnvironment& env) {
  if (env.page) env.page->redraw_list();
}

void store_into_active(StudyList& list, StudyEnvironment& env) {
  STUDY_OBJECT* active = get_active_study_object(list);
  if (!active) {
    std::fprintf(stderr, "get_active_study_object() = NULL?\n");
    return;
  }
  if (env.page) env.page->store_panel(*active);
}

void show_and_load(StudyEnvironment& env, const STUDY_OBJECT& study) {
  if (!env.page) return;
  env.page->show_panel(study.type);
  env.page->load_panel(study);
}

bool has_listed_ids(const STUDY_OBJECT& study) {
  for (const StudyRegion* r : study_regions(study)) {
    if (r->listed_count > 0) return true;
  }
  return false;
}

}  // namespace

// ---- list commands --------------------------------------------------------------------

STUDY_OBJECT* new_study_object(StudyList& list, StudyEnvironment& env, int32_t type) {
  if (!env.list_redraw_guard) {
    if (STUDY_OBJECT* active = get_active_study_object(list); active && env.page) {
      env.page->store_panel(*active);
    }
  }
  std::unique_ptr<STUDY_OBJECT> study;
  try {
    study = make_study_object(type);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "memory FULL ?\n");
  }
  if (!study) {
    std::fprintf(stderr, "Err: new_study_object\n");
    return nullptr;
  }
  // ID 65535 means "none": the counter skips it when it wraps.
  if (list.counters.next_id >= ZTR_NO_STUDY) list.counters.next_id = 0;
  study->id = uint16_t(list.counters.next_id);
  char name[ZTR_STUDY_NAME_BYTES];
  std::snprintf(name, sizeof name, "%s %d", kKindNames[type], list.counters.names[type] + 1);
  set_study_name(*study, name);
  STUDY_OBJECT* added = study.get();
  try {
    list.studies.push_back(std::move(study));
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "Err: ZTR_NewNodeAddedToList\n");
    return nullptr;
  }
  added->host_object_id = env.host ? env.host->create_object() : -1;
  ++list.counters.next_id;
  ++list.counters.names[type];
  list.active_id = added->id;
  redraw_list(env);
  select_row_guarded(env, int(list.studies.size()) - 1);
  show_and_load(env, *added);
  return added;
}

int select_study_by_index(StudyList& list, StudyEnvironment& env, int index) {
  if (index < 0 || size_t(index) >= list.studies.size()) return -1;
  store_into_active(list, env);
  STUDY_OBJECT& study = *list.studies[size_t(index)];
  list.active_id = study.id;
  select_row_guarded(env, index);
  show_and_load(env, study);
  if (env.auto_update && env.objects_shown && env.rebuild_display_group) {
    env.rebuild_display_group();
  }
  return 0;
}

void delete_study(std::unique_ptr<STUDY_OBJECT> study, StudyEnvironment& env) {
  if (!study) return;
  study->group.reset();
  if (env.host) env.host->remove_object(study->host_object_id);
  std::fprintf(stderr, "Requesting removal of Object %d\n", study->host_object_id);
}

STUDY_OBJECT* duplicate_active_study(StudyList& list, StudyEnvironment& env) {
  STUDY_OBJECT* source = get_active_study_object(list);
  if (!source) return nullptr;
  // New stores the panel into the source first, so the copy has what the user sees.
  STUDY_OBJECT* copy = new_study_object(list, env, source->type);
  if (!copy) return nullptr;
  std::vector<std::optional<ZTR_FLOAT_BOX>> own_boxes;
  for (const StudyRegion* r : study_regions(*copy)) own_boxes.push_back(r->box);
  copy->kind = source->kind;
  const std::vector<StudyRegion*> regions = study_regions(*copy);
  for (size_t i = 0; i < regions.size(); ++i) regions[i]->box = own_boxes[i];
  set_study_name(*copy, std::string("copy of ") + source->name);
  if (env.page) {
    env.page->load_panel(*copy);
    env.page->stop_following();
  }
  redraw_list(env);
  return copy;
}

void delete_active_study(StudyList& list, StudyEnvironment& env) {
  const int index = study_index(list, list.active_id);
  if (index < 0) return;
  std::unique_ptr<STUDY_OBJECT> study = std::move(list.studies[size_t(index)]);
  list.studies.erase(list.studies.begin() + index);
  // The panel still holds the deleted study: nothing is active until a selection loads one.
  list.active_id = ZTR_NO_STUDY;
  delete_study(std::move(study), env);
  redraw_list(env);
  if (list.studies.empty() && env.page) {
    env.page->hide_panels();
    env.page->set_name_entry(" ");
  }
}

void delete_all_studies(StudyList& list, StudyEnvironment& env) {
  std::vector<std::unique_ptr<STUDY_OBJECT>> studies = std::move(list.studies);
  list.studies.clear();
  for (auto& study : studies) delete_study(std::move(study), env);
  list.active_id = ZTR_NO_STUDY;
  list.counters = StudyCounters{};
  redraw_list(env);
}

void rename_active_study(StudyList& list, StudyEnvironment& env, const std::string& text) {
  STUDY_OBJECT* active = get_active_study_object(list);
  if (!active) return;
  set_study_name(*active, text);
  redraw_list(env);
}

void apply_study_preset_label(StudyList& list, StudyEnvironment& env, int preset) {
  if (preset < 0 || size_t(preset) >= ZTR_STUDY_PRESET_LABELS.size()) return;
  const std::string label = ZTR_STUDY_PRESET_LABELS[size_t(preset)];
  if (env.page) env.page->set_name_entry(label);
  rename_active_study(list, env, label);
}

void record_study_summary(StudyList& list, StudyEnvironment& env) {
  STUDY_OBJECT* active = get_active_study_object(list);
  if (!active || !env.page) return;
  set_study_summary(*active, env.page->summary_box());
}

void restore_study_summary(StudyList& list, StudyEnvironment& env) {
  STUDY_OBJECT* active = get_active_study_object(list);
  if (!active || !env.page) return;
  env.page->set_summary_box(active->summary);
}

void set_active_study_visible(StudyList& list, StudyEnvironment& env, bool visible) {
  STUDY_OBJECT* active = get_active_study_object(list);
  if (!active) return;
  const int32_t value = visible ? 1 : 0;
  if (active->visibility != value) {
    active->visibility = value;
    send_study_object(*active, env);
  }
  redraw_list(env);
}

void apply_study_visibility(StudyList& list, StudyEnvironment& env, StudyVisibility command,
                            int32_t kind) {
  for (auto& s : list.studies) {
    const bool selected = s->id == list.active_id;
    int32_t value = s->visibility;
    switch (command) {
      case StudyVisibility::ShowAll: value = 1; break;
      case StudyVisibility::ShowOnlyKind: value = s->type == kind ? 1 : 0; break;
      case StudyVisibility::ShowOnlySelected: value = selected ? 1 : 0; break;
      case StudyVisibility::HideAll: value = 0; break;
      case StudyVisibility::HideOnlyKind: value = s->type == kind ? 0 : 1; break;
      case StudyVisibility::HideOnlySelected: value = selected ? 0 : 1; break;
      case StudyVisibility::Invert: value = s->visibility == 1 ? 0 : 1; break;
    }
    const bool changed = value != s->visibility;
    s->visibility = value;
    if (changed || command == StudyVisibility::Invert) send_study_object(*s, env);
  }
  redraw_list(env);
}

// ---- host objects and runs ------------------------------------------------------------

void send_study_object(const STUDY_OBJECT& study, StudyEnvironment& env) {
  std::fprintf(stderr, "Sending object for (%s) with ID (%d) ...", study.name,
               study.host_object_id);
  if (env.host && study.group && study.host_object_id != -1) {
    if (study.visibility == 1) {
      env.host->update_object(study.group.get(), study.host_object_id);
    } else {
      ObjectGroupPtr empty(ZTR_NewObjectGroup(1));
      if (empty) env.host->update_object(empty.get(), study.host_object_id);
    }
  }
  std::fprintf(stderr, "done\n");
}

void lock_study_listed_rois(const STUDY_OBJECT& study, StudyEnvironment& env) {
  for (const StudyRegion* r : study_regions(study)) {
    if (r->selector == ZTR_REGION_LISTED && r->listed_count > 0 && env.lock_listed_rois) {
      env.lock_listed_rois(r->listed_ids.data(), std::min(r->listed_count, ZTR_STUDY_MAX_LISTED));
    }
  }
  if (env.redraw_roi_list) env.redraw_roi_list();
}

namespace {

// The analysed box study's box goes to the host before the run, truncated to voxels.
void send_study_box(const STUDY_OBJECT& study, StudyEnvironment& env) {
  if (!env.host || study.status == ZTR_STUDY_NOT_ANALYSED) return;
  if (study.type == ZTR_STUDY_FIBER_TRACKING) return;
  const StudyRegion& region = *study_regions(study).front();
  if (region.selector != ZTR_REGION_BOX_VOI || !region.box) return;
  int32_t origin[3];
  int32_t size[3];
  for (int a = 0; a < 3; ++a) {
    origin[a] = int32_t(region.box->origin[a]);
    size[a] = int32_t(region.box->size[a]);
  }
  env.host->set_box(origin, size);
}

}  // namespace

int run_active_study_timed(StudyList& list, StudyEnvironment& env, const StudyKindRuns& runs,
                           const StudyRunContext& context, const float cursor[3]) {
  if (!env.dti_ready) {
    ztr_show_notice(env.notices, "Important Notice", ZTR_MPG_NOT_READY_NOTICE);
    return -1;
  }
  if (env.realtime) *env.realtime = false;
  if (env.objects_shown && env.rebuild_display_group) env.rebuild_display_group();
  if (const STUDY_OBJECT* active = get_active_study_object(list)) send_study_box(*active, env);

  STUDY_OBJECT* study = get_active_study_object(list);
  if (!study) {
    // Through the selection, so the first study is run with its own values, not the
    // panel's copy of whatever was active before.
    if (select_study_by_index(list, env, 0) != 0) return -1;
    study = get_active_study_object(list);
  } else if (env.page) {
    env.page->store_panel(*study);  // the run uses what the panel shows
  }
  const auto clock = env.time_of_day ? env.time_of_day : wall_clock_time_of_day;
  const StudyKindRun& run = runs[size_t(study->type)];
  const double start = clock();
  const int status = run ? run(*study, context) : -1;
  const double elapsed = elapsed_day_seconds(start, clock());
  if (status != 0) {
    if (env.page) {
      env.page->set_message_line("Analysis failed.");
      env.page->redraw_list();
    }
    return -1;
  }
  char message[96];
  std::snprintf(message, sizeof message, "Analysis completed in %3.2f sec.", elapsed);
  if (env.page) env.page->set_message_line(message);
  if (env.host) env.host->notify_cursor(cursor);
  study->status = ZTR_STUDY_ANALYSED;
  lock_study_listed_rois(*study, env);
  if (env.page) {
    env.page->load_panel(*study);  // the new summary
    if (study->type == ZTR_STUDY_DIFFUSION_PROFILE) env.page->show_summary_page(study->type);
  }
  if (env.host && study->visibility == 1 && study->group && study->host_object_id != -1) {
    env.host->update_object(study->group.get(), study->host_object_id);
  }
  redraw_list(env);
  return 0;
}

int analyze_all_studies(StudyList& list, StudyEnvironment& env, const StudyKindRuns& runs,
                        bool skip_done, const float cursor[3]) {
  if (!env.dti_ready) {
    ztr_show_notice(env.notices, "Important Notice", ZTR_MPG_NOT_READY_NOTICE);
    return 0;
  }
  const uint16_t remembered = list.active_id;
  int failures = 0;
  for (size_t i = 0; i < list.studies.size(); ++i) {
    if (skip_done && list.studies[i]->status == ZTR_STUDY_ANALYSED) continue;
    select_study_by_index(list, env, int(i));
    if (run_active_study_timed(list, env, runs, StudyRunContext{}, cursor) != 0) ++failures;
  }
  const int index = study_index(list, remembered);
  if (index >= 0) {
    select_study_by_index(list, env, index);
  } else if (get_active_study_object(list)) {
    store_into_active(list, env);
    list.active_id = ZTR_NO_STUDY;
    if (env.page) env.page->hide_panels();
  }
  return failures;
}

// ---- files ----------------------------------------------------------------------------

int export_active_study(StudyList& list, StudyEnvironment& env, const StudyGridSize& volume,
                        const std::string& path, std::string* reason) {
  STUDY_OBJECT* active = get_active_study_object(list);
  if (!active) {
    if (reason) *reason = "no active study";
    return -1;
  }
  if (env.page) env.page->store_panel(*active);
  if (has_listed_ids(*active)) ztr_show_notice(env.notices, "Warning", kListedWarning);
  return write_study_file(path, *active, volume, reason) ? 0 : -1;
}

STUDY_OBJECT* import_study_file(StudyList& list, StudyEnvironment& env, const std::string& path,
                                const StudyGridSize& volume, int32_t channel_count) {
  std::unique_ptr<STUDY_OBJECT> parsed;
  StudyGridSize stored{};
  std::string reason;
  switch (read_study_file(path, &parsed, &stored, &reason)) {
    case StudyFileStatus::CannotOpen:
      return nullptr;
    case StudyFileStatus::NotStudyFile:
      ztr_show_notice(env.notices, "Warning", kNotStudyFile);
      return nullptr;
    case StudyFileStatus::Refused:
      std::fprintf(stderr, "Err: study object file %s refused: %s\n", path.c_str(),
                   reason.c_str());
      return nullptr;
    case StudyFileStatus::Ok:
      break;
  }
  if (stored != volume) std::fprintf(stderr, "Volume data matrix size mismatch. Open anyway.\n");
  STUDY_OBJECT* study = new_study_object(list, env, parsed->type);
  if (!study) return nullptr;
  study->kind = std::move(parsed->kind);
  study->status =
      parsed->status == ZTR_STUDY_ANALYSED ? int32_t(ZTR_STUDY_RELOADED) : parsed->status;
  study->visibility = parsed->visibility;
  std::memcpy(study->name, parsed->name, sizeof study->name);
  std::memcpy(study->summary, parsed->summary, sizeof study->summary);
  for (StudyRegion* r : study_regions(*study)) {
    // Listed IDs name ROIs of another session.
    r->listed_count = 0;
    r->listed_ids.fill(0);
    if (r->view.channel >= channel_count) r->view.channel = 0;
  }
  if (env.page) env.page->stop_following();
  show_and_load(env, *study);
  redraw_list(env);
  return study;
}
