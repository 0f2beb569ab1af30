// The ROIs inside the application: the session hooks that create and delete them, the
// exchange between the active ROI and the ROI editor's slice views, the host's display of
// the visible ROIs, and the ROI menu and file commands. No toolkit.
#pragma once

#include <string>

#include "analyzer/app/app_state.h"
#include "analyzer/app/dialogs.h"
#include "analyzer/app/roi_view_conversion.h"
#include "analyzer/objects/roi_display.h"

// The loaded volume's x, y, z (zeros without a volume).
GridSize volume_grid(const AppState& state);
// The ROI editor panel that shows ROIs of `type`.
RoiPanel panel_for_roi_kind(int32_t type);


// Copies each ROI view frame into its panel's working copy (the view the user drew).
void sync_views_into_panels(AppState& state);
// Puts the active ROI's working copy into its view frame (views of other kinds keep theirs):
// the view with its drawing, and whether it follows the host's cursor.
void show_active_roi(AppState& state);
// A view's drawing finished: stores the frame into the active ROI when the frame is the one
// of its kind (a locked ROI stays as it is), then lets the host's display follow.
void roi_view_changed(AppState& state, SliceViewFrame& frame);
// After a ROI command: the active ROI into its view, the lists redrawn, the host's display
// updated when it is shown and updates automatically.
void roi_list_changed(AppState& state);

// The session hooks of the ROI subsystem (create and delete ROIs, lock test, display group,
// first selection); keeps the other hooks.
void install_roi_hooks(SessionHooks& hooks);
// Tints the pixels of `pixels` (a composed 256 x 256 picture of `view`) whose voxel is set in
// the x-fastest 0/1 mask of `size`, half way towards `colour` (0xRRGGBB). Returns how many.
int tint_mask_voxels(const SliceView& view, const std::vector<uint8_t>& mask,
                     const GridSize& size, uint32_t colour, std::vector<uint32_t>& pixels);

// Binds the ROI editor's view frames' change callbacks to the state, and lets the voxelgroup
// view show the working mask of the voxelgroup panel.
void bind_roi_views(AppState& state);

// Rebuilds the display object group (the visible ROIs while objects are shown, an empty
// group otherwise) and replaces the host's group with it. 0, or -1 when the host did not take
// it (or there is no host group).
int send_roi_display_group(AppState& state);

// ---- ROI menu ---------------------------------------------------------------------------

void roi_new_spherical_command(AppState& state, Dialogs& dialogs);
void roi_new_freehand_command(AppState& state, Dialogs& dialogs);
void roi_new_voxelgroup_command(AppState& state, Dialogs& dialogs);
void roi_duplicate_menu_command(AppState& state, Dialogs& dialogs);
void roi_delete_menu_command(AppState& state, Dialogs& dialogs);
// Asks for a new name of the active ROI ("ROI name").
void roi_rename_command(AppState& state, Dialogs& dialogs);
// Row selection in the ROI list.
void roi_select_command(AppState& state, uint16_t id);
// Toggles the active ROI's visibility (the list's "+"/"-" column).
void roi_toggle_visibility_command(AppState& state, Dialogs& dialogs);
// Toggles the active ROI's lock (the list's "free"/"locked" column).
void roi_toggle_lock_command(AppState& state, Dialogs& dialogs);

void roi_show_all_command(AppState& state, Dialogs& dialogs);
void roi_show_only_spherical_command(AppState& state, Dialogs& dialogs);
void roi_show_only_freehand_command(AppState& state, Dialogs& dialogs);
void roi_show_only_voxelgroup_command(AppState& state, Dialogs& dialogs);
void roi_show_only_selected_command(AppState& state, Dialogs& dialogs);
void roi_hide_all_command(AppState& state, Dialogs& dialogs);
void roi_hide_only_spherical_command(AppState& state, Dialogs& dialogs);
void roi_hide_only_freehand_command(AppState& state, Dialogs& dialogs);
void roi_hide_only_voxelgroup_command(AppState& state, Dialogs& dialogs);
void roi_hide_only_selected_command(AppState& state, Dialogs& dialogs);
void roi_invert_visibility_command(AppState& state, Dialogs& dialogs);
void roi_force_locked_command(AppState& state, Dialogs& dialogs);
void roi_force_unlocked_command(AppState& state, Dialogs& dialogs);

// Special/Convert visible ROIs to volumedata: the channel goes to the host first and is
// appended here only when the host took it.
void convert_visible_rois_command(AppState& state, Dialogs& dialogs);
void convert_visible_rois_command(AppState& state, Dialogs& dialogs,
                                  const RoiChannelSender& send);

// The voxelgroup panel's buttons on the active ROI's working mask; the seed region is what
// is drawn in the voxelgroup view. The mask is stored into the ROI afterwards.
void voxelgroup_button_command(AppState& state, Dialogs& dialogs, VoxelGrowingButton button);

// Special/Masking voxelgroup/Erase inside (outside) box VOI: the host's box as last broadcast.
void roi_erase_inside_box_command(AppState& state, Dialogs& dialogs);
void roi_erase_outside_box_command(AppState& state, Dialogs& dialogs);

// ---- Setting/ROI 3D object ----------------------------------------------------------------

void roi_objects_hide_command(AppState& state, Dialogs& dialogs);    // F11
void roi_objects_update_command(AppState& state, Dialogs& dialogs);  // F12
void roi_auto_update_off_command(AppState& state, Dialogs& dialogs);
// Sets the flag and, while the objects are shown, sends the display group at once.
void roi_auto_update_on_command(AppState& state, Dialogs& dialogs);

// ---- File ---------------------------------------------------------------------------------

void import_roi_object_command(AppState& state, Dialogs& dialogs);
void export_roi_object_command(AppState& state, Dialogs& dialogs);
void import_nifti_mask_command(AppState& state, Dialogs& dialogs);
void export_visible_rois_nifti_command(AppState& state, Dialogs& dialogs);
