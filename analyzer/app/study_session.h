// The studies inside the application: the session hooks that create and delete them, the
// environment the study commands run in (host objects, the front end's study page), the
// region views of the study panels, the display group of the active study, and the Study
// menu and study file commands. No toolkit.
#pragma once

#include <string>
#include <vector>

#include "analyzer/app/app_state.h"
#include "analyzer/app/dialogs.h"
#include "analyzer/studies/study_commands.h"

// The environment of the study commands over `state`, with the flags of this moment. The
// record lives in the state, so the list redraw guard holds across calls.
StudyEnvironment& study_environment(AppState& state, NoticeSink* notices = nullptr);

// The region views of a kind's panel, in the order of the kind's regions (seed, target,
// avoidance; or the one analysis region).
std::vector<StudyRegionView> study_region_views_of(int32_t type);

// The regions of the study's kind into the study panels' region views (each view shows its
// region's drawing and stops following the host when it holds one), and back.
void load_study_region_views(AppState& state, const STUDY_OBJECT& study);
void store_study_region_views(AppState& state, STUDY_OBJECT& study);
// The region view of `study` that a panel view frame shows, or nullptr.
StudyRegion* study_region_for_view(AppState& state, STUDY_OBJECT& study, StudyRegionView view);
// Binds the region views' change callbacks: a finished drawing updates the host's display
// when the objects are shown and update automatically.
void bind_study_views(AppState& state);

// The front end shows the active study: its kind's panel with the study loaded, the list
// redrawn with its row selected. With no study the panels are hidden.
void show_active_study(AppState& state);

// The session hooks of the study subsystem, wrapped around the ones already installed
// (ROIs come after studies): one study of each kind at start-up and after every data
// replacement, deletion of every study, first selection, the display group of the study
// page, and the lists of a work session file.
void install_study_hooks(SessionHooks& hooks);

// Rebuilds the display object group from the active study (the study page's 3-D objects)
// and replaces the host's group with it. 0, or -1 when the host did not take it.
int send_study_display_group(AppState& state);

// ---- the study list page ------------------------------------------------------------------

void study_select_command(AppState& state, int index);               // row selection
void study_rename_command(AppState& state, const std::string& text);  // name entry change
void study_set_visible_command(AppState& state, bool visible);        // " visible" toggle
void study_analyze_command(AppState& state, Dialogs& dialogs);        // " Analyze and Display "

// ---- Study menu -----------------------------------------------------------------------------

void study_new_fiber_tracking_command(AppState& state, Dialogs& dialogs);
void study_new_diffusion_profile_command(AppState& state, Dialogs& dialogs);
void study_new_voxel_statistics_command(AppState& state, Dialogs& dialogs);
void study_duplicate_command(AppState& state, Dialogs& dialogs);
void study_delete_command(AppState& state, Dialogs& dialogs);
void study_analyze_and_dump_command(AppState& state, Dialogs& dialogs);
void study_analyze_all_command(AppState& state, Dialogs& dialogs);
void study_analyze_all_but_done_command(AppState& state, Dialogs& dialogs);
void study_show_all_command(AppState& state, Dialogs& dialogs);
void study_show_only_fiber_tracking_command(AppState& state, Dialogs& dialogs);
void study_show_only_diffusion_profile_command(AppState& state, Dialogs& dialogs);
void study_show_only_voxel_statistics_command(AppState& state, Dialogs& dialogs);
void study_show_only_selected_command(AppState& state, Dialogs& dialogs);
void study_hide_all_command(AppState& state, Dialogs& dialogs);
void study_hide_only_fiber_tracking_command(AppState& state, Dialogs& dialogs);
void study_hide_only_diffusion_profile_command(AppState& state, Dialogs& dialogs);
void study_hide_only_voxel_statistics_command(AppState& state, Dialogs& dialogs);
void study_hide_only_selected_command(AppState& state, Dialogs& dialogs);
void study_invert_visibility_command(AppState& state, Dialogs& dialogs);
void study_preset_left_pyramidal_command(AppState& state, Dialogs& dialogs);
void study_preset_right_pyramidal_command(AppState& state, Dialogs& dialogs);
void study_preset_corpus_callosum_command(AppState& state, Dialogs& dialogs);
void study_record_summary_command(AppState& state, Dialogs& dialogs);
void study_restore_summary_command(AppState& state, Dialogs& dialogs);

// ---- Special ------------------------------------------------------------------------------

// /Special/Voxelize visible tracklines as/...: the lines of every visible fiber tracking study
// as a grey or colour channel (to the host, then the loaded volume) or a new voxelgroup ROI
// named "Voxelized tracklines".
void voxelize_tracklines_grey_command(AppState& state, Dialogs& dialogs);
void voxelize_tracklines_colour_command(AppState& state, Dialogs& dialogs);
void voxelize_tracklines_roi_command(AppState& state, Dialogs& dialogs);

// Special/ROI palette frame/Export ROI to editor: the sphere or outline of the region shown on
// the active study panel's current tab becomes a new ROI ("Imported seed of <study>" ...),
// shown on the ROI editor page.
void export_roi_to_editor_command(AppState& state, Dialogs& dialogs);

// ---- File ---------------------------------------------------------------------------------

// Both show the study performer page first.
void import_study_object_command(AppState& state, Dialogs& dialogs);
void export_study_object_command(AppState& state, Dialogs& dialogs);
