// The study commands as operations on the study list: New, Duplicate, Delete, selection,
// visibility, preset labels, summary strings, file import and export, and the timed run of
// the active study with Analyze all. The front end, the host and the kind runs are seams.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "analyzer/notice.h"
#include "analyzer/studies/study_file.h"
#include "analyzer/studies/study_object.h"

// What the host does for studies. The program binds it to the IPC client; tests record.
struct StudyHost {
  virtual ~StudyHost() = default;
  // A new empty host object; its ID, or -1 when the host refused it.
  virtual int32_t create_object() = 0;
  virtual void remove_object(int32_t id) = 0;
  // Replaces host object `id` by `group`. 0 or -1.
  virtual int update_object(const ZTR_OBJECT_GROUP* group, int32_t id) = 0;
  // The box in voxels (request 465). 0 or -1.
  virtual int set_box(const int32_t origin[3], const int32_t size[3]) = 0;
  // Stages the cursor position and sends request 464, waiting for acceptance. 0 or -1.
  virtual int notify_cursor(const float cursor[3]) = 0;
};

// The study page of the front end: the list widget, the name entry, the three kind panels
// (each holding the working copy of the active study) and the message line. Every member
// defaults to doing nothing, so a front end overrides what it shows.
struct StudyPage {
  virtual ~StudyPage() = default;
  // Panel values into the study, and the study into its kind's panel.
  virtual void store_panel(STUDY_OBJECT&) {}
  virtual void load_panel(const STUDY_OBJECT&) {}
  virtual void show_panel(int32_t /*type*/) {}
  virtual void hide_panels() {}
  // The panel's region views stop following the host's cursor (and are redrawn).
  virtual void stop_following() {}
  virtual void select_row(int /*index*/) {}
  virtual void redraw_list() {}
  virtual void set_name_entry(const std::string&) {}
  virtual void set_message_line(const std::string&) {}
  // The fiber tracking panel's summary box.
  virtual std::string summary_box() { return {}; }
  virtual void set_summary_box(const std::string&) {}
  // The panel of `type` turns to its summary (after a diffusion profile run).
  virtual void show_summary_page(int32_t /*type*/) {}
};

// Everything a study command reaches beyond the list.
struct StudyEnvironment {
  StudyHost* host = nullptr;  // none: no host objects (-1) and no requests
  StudyPage* page = nullptr;  // none: nothing shown
  NoticeSink* notices = nullptr;
  // Set while the list widget is being refilled: selection callbacks then store nothing.
  bool list_redraw_guard = false;
  bool auto_update = false;
  bool objects_shown = false;
  bool dti_ready = false;
  bool* realtime = nullptr;                          // switched off by a run
  std::function<void()> rebuild_display_group;       // the active study's regions to the host
  std::function<void(const uint16_t* ids, int32_t count)> lock_listed_rois;
  std::function<void()> redraw_roi_list;
  std::function<double()> time_of_day;               // seconds; the wall clock when empty
};

// ---- list commands --------------------------------------------------------------------

// New study of `type`: stores the panel into the active study (unless the redraw guard is
// set), creates the study with the next ID and "<Kind> %d" name, its own host object,
// appends it, makes it active, selects its row under the guard and loads its panel. nullptr
// with the console line of the failure; nothing added then.
STUDY_OBJECT* new_study_object(StudyList& list, StudyEnvironment& env, int32_t type);
// Stores the panel into the active study, makes the study at `index` active, selects its
// row, shows and loads its panel; rebuilds the display group when auto update and shown are
// set. -1 for an index outside the list (nothing changes).
int select_study_by_index(StudyList& list, StudyEnvironment& env, int index);
// Removes its host object ("Requesting removal of Object %d\n") and frees the record.
void delete_study(std::unique_ptr<STUDY_OBJECT> study, StudyEnvironment& env);
// Duplicate: a new study of the active study's kind named "copy of <name>" with its
// parameters and regions (views and groups copied), its own boxes and host object, status 0.
STUDY_OBJECT* duplicate_active_study(StudyList& list, StudyEnvironment& env);
// Delete: unlinks and deletes the active study; an empty list hides the panels and blanks
// the name entry. Nothing without an active study.
void delete_active_study(StudyList& list, StudyEnvironment& env);
// Every study deleted and the counters reset (a data replacement).
void delete_all_studies(StudyList& list, StudyEnvironment& env);
// The name entry's change: bounded copy into the active study, row redrawn.
void rename_active_study(StudyList& list, StudyEnvironment& env, const std::string& text);
// Preset labels: the entry is set to the label and renames the active study.
inline constexpr std::array<const char*, 3> ZTR_STUDY_PRESET_LABELS = {
    "L. Pyramidal Tract", "R. Pyramidal Tract", "Corpse Callosum"};
void apply_study_preset_label(StudyList& list, StudyEnvironment& env, int preset);
// Summary string/Record current and Restore (fiber tracking panel's summary box).
void record_study_summary(StudyList& list, StudyEnvironment& env);
void restore_study_summary(StudyList& list, StudyEnvironment& env);
// The " visible" toggle of the selected row.
void set_active_study_visible(StudyList& list, StudyEnvironment& env, bool visible);

enum class StudyVisibility {
  ShowAll,
  ShowOnlyKind,
  ShowOnlySelected,
  HideAll,
  HideOnlyKind,
  HideOnlySelected,
  Invert,
};
// Visibility commands (`kind` for the Only/kind ones). Each study whose visibility changed
// has its object sent again (Invert sends all); the list is redrawn.
void apply_study_visibility(StudyList& list, StudyEnvironment& env, StudyVisibility command,
                            int32_t kind = 0);

// ---- host objects and runs ------------------------------------------------------------

// "Sending object for (%s) with ID (%d) ...": the study's group to its host object when
// visible, an empty one-slot group when hidden; "done\n".
void send_study_object(const STUDY_OBJECT& study, StudyEnvironment& env);
// Locks the ROIs its listed regions name (seed, target and avoidance, or the analysis
// region), then redraws the ROI list.
void lock_study_listed_rois(const STUDY_OBJECT& study, StudyEnvironment& env);

struct StudyRunContext {
  bool dump = false;  // Analyze and dump result: the kind writes its dump file
};
// One analysis of a study's kind: fills the study's summary, result and group. 0, or -1
// after a failure that leaves the study as it was.
using StudyKindRun = std::function<int(STUDY_OBJECT& study, const StudyRunContext& context)>;
// Indexed by study type.
using StudyKindRuns = std::array<StudyKindRun, ZTR_STUDY_KINDS>;

// The timed run of the active study (" Analyze and Display ", Analyze and dump). Without
// ready DTI data: the MPG notice and -1. Switches realtime off, rebuilds the display group
// when shown, sends an analysed box study's box, falls back to the first study (selected
// properly) when none is active, runs the kind with timing and shows "Analysis completed in
// %3.2f sec." (a run past midnight counts the day). After success: request 464 with the
// cursor, status 1, listed ROIs locked, the object of a visible study sent. A failed run
// says "Analysis failed." on the message line and changes nothing else. 0 or -1.
int run_active_study_timed(StudyList& list, StudyEnvironment& env, const StudyKindRuns& runs,
                           const StudyRunContext& context, const float cursor[3]);

// Analyze all studies (but done): each study in list order is selected and run without
// dumping; `skip_done` skips status 1. Ends by selecting the study that was active (its
// panel loaded again); when it is gone, no study is active and the panels are hidden.
// Returns the number of runs that failed.
int analyze_all_studies(StudyList& list, StudyEnvironment& env, const StudyKindRuns& runs,
                        bool skip_done, const float cursor[3]);

// ---- files ----------------------------------------------------------------------------

// Export study object: nothing without an active study; listed IDs give the "Warning" notice
// and the file is still written. 0, or -1 with a reason.
int export_active_study(StudyList& list, StudyEnvironment& env, const StudyGridSize& volume,
                        const std::string& path, std::string* reason);
// Import study object: the whole file is read and checked before anything is created. A
// file of another volume size prints "Volume data matrix size mismatch. Open anyway.\n".
// Not a study file: "Warning" notice. Refused: the reason on the console. Neither creates
// a study or a host object. On success the new study (new ID and host object) takes every
// field of the file, status 1 becomes 2, listed counts become 0, view channels outside
// 0 ... channel_count - 1 become 0, and it is active with its panel loaded.
STUDY_OBJECT* import_study_file(StudyList& list, StudyEnvironment& env, const std::string& path,
                                const StudyGridSize& volume, int32_t channel_count);
