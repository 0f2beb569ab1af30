// The application's slice views, which of them is exposed, the session steps that move them
// (reset on new data, following the host's cursor) and the ROI palette frame commands.
#pragma once

#include <array>

#include "analyzer/app/slice_view.h"

struct AppState;
class Dialogs;

// The ROI editor's panels, in the order the timer moves them.
enum class RoiPanel : int { Voxelgroup = 0, Spherical = 1, Freehand = 2 };
inline constexpr int ZTR_ROI_PANEL_COUNT = 3;

// The region views of the study panels: the fiber tracking panel's seed, target and
// avoidance tabs, and the one region tab of the diffusion profile and voxel statistics panels.
enum class StudyRegionView : int { Seed = 0, Target, Avoidance, Profile, Statistics };
inline constexpr int ZTR_STUDY_REGION_VIEW_COUNT = 5;

struct SliceViewSet {
  SliceViewSet();
  // The ROI editor's views. A ROI is loaded into and stored from these records (copy_view).
  std::array<SliceViewFrame, ZTR_ROI_PANEL_COUNT> roi_editor;
  // The visible view of the current page and tab, as the front end reports it; none when
  // the current page shows no view.
  SliceViewFrame* exposed = nullptr;

  // The study panels' region views; the active study's regions are loaded into and stored
  // from these.
  std::array<SliceViewFrame, ZTR_STUDY_REGION_VIEW_COUNT> study_regions;

  SliceViewFrame& roi_view(RoiPanel panel) { return roi_editor[static_cast<int>(panel)]; }
  SliceViewFrame& study_view(StudyRegionView region) {
    return study_regions[static_cast<int>(region)];
  }
  // Every view of the analyzer: the ROI editor's, then the study panels'.
  std::array<SliceViewFrame*, ZTR_ROI_PANEL_COUNT + ZTR_STUDY_REGION_VIEW_COUNT> all();
};

// Binds every view to the state's volume and starts it over, following the host. Every view
// starts at the zoom of a new ROI's view (512 / x).
void reset_views(AppState& state);
// Moves every following view to the host's cursor in the broadcast record.
void follow_host_cursor(AppState& state);
// Re-samples every view after the voxel values changed under it (same matrix).
void refresh_views(AppState& state);
// Unbinds every view from the volume before the volume goes away.
void release_views(AppState& state);

// ---- ROI palette frame commands (on the exposed view) -----------------------------------

void channel_first_command(AppState& state, Dialogs& dialogs);
void channel_last_command(AppState& state, Dialogs& dialogs);
void channel_next_command(AppState& state, Dialogs& dialogs);
void channel_previous_command(AppState& state, Dialogs& dialogs);
void upload_current_channel_command(AppState& state, Dialogs& dialogs);
void adjust_greyscale_command(AppState& state, Dialogs& dialogs);
void set_center_z_command(AppState& state, Dialogs& dialogs);
void guideline_none_command(AppState& state, Dialogs& dialogs);
void guideline_z_command(AppState& state, Dialogs& dialogs);
void guideline_xz_command(AppState& state, Dialogs& dialogs);

// The orientation items of a view's menus, applied to the exposed view as a user's choice.
void orientation_axial_command(AppState& state, Dialogs& dialogs);
void orientation_sagittal_command(AppState& state, Dialogs& dialogs);
void orientation_coronal_command(AppState& state, Dialogs& dialogs);
void orientation_oblique_command(AppState& state, Dialogs& dialogs);
void orientation_spherical_command(AppState& state, Dialogs& dialogs);

// The orientation code an orientation menu item's label names ("Axial" ...), or 0.
int orientation_code_for_label(const char* label);
// The padded title of the orientation menu bar shown for `code` (" Axial  " ...).
const char* orientation_bar_title(int code);

// The centre Z factor a "Center Z factor" entry yields: "%f" from `text` when strictly
// between 0 and 1, else `current`.
float centre_z_factor_from_entry(const char* text, float current);
