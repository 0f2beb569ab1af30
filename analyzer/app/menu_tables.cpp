// The static item tables of the analyzer's menus.
#include "analyzer/app/menu_tables.h"

#include "analyzer/app/roi_session.h"
#include "analyzer/app/slice_views.h"
#include "analyzer/app/study_session.h"

#include <cstring>
#include <iterator>

#include "analyzer/app/rtnn_commands.h"
#include "analyzer/app/work_session_commands.h"

namespace {

constexpr char kAutoUpdateOff[] = "/Setting/ROI 3D object/Auto update/Off";

const MenuItemEntry kMainMenu[] = {
    {"/File", "", nullptr, 0, "<Branch>"},
    {"/File/Open work data", "<control>O", open_work_data_command, 0, ""},
    {"/File/Import/DICOM (directory)", "<control>D", import_dicom_directory_command, 0, ""},
    {"/File/Import/DTI file (incl. MPG setting)", "<control>K", import_dti_file_command, 0, ""},
    {"/File/Import/ZANTREVIUM file/Load", "<control>L", load_raw_volume_file_command, 0, ""},
    {"/File/Import/ZANTREVIUM file/Add", "", add_raw_volume_file_command, 0, ""},
    {"/File/Import/ZANTREVIUM file/Average", "", average_raw_volume_file_command, 0, ""},
    {"/File/Import/MPG text file", "<control>M", import_mpg_text_file_command, 0, ""},
    {"/File/Import/RTNN file", "", import_rtnn_file_command, 0, ""},
    {"/File/Import/Study object", "", import_study_object_command, 0, ""},
    {"/File/Import/ROI object", "", import_roi_object_command, 0, ""},
    {"/File/Import/NIfTI mask as voxelgroup ROI", "", import_nifti_mask_command, 0, ""},
    {"/File/Save work data", "<control>S", save_work_data_command, 0, ""},
    {"/File/Export/DTI file (incl. MPG setting)", "", export_dti_file_command, 0, ""},
    {"/File/Export/ZANTREVIUM file", "", export_raw_volume_file_command, 0, ""},
    {"/File/Export/MPG text file", "", export_mpg_text_file_command, 0, ""},
    {"/File/Export/RTNN file", "", export_rtnn_file_command, 0, ""},
    {"/File/Export/Study object", "", export_study_object_command, 0, ""},
    {"/File/Export/ROI object", "", export_roi_object_command, 0, ""},
    {"/File/Export/Visible ROIs as NIfTI mask", "", export_visible_rois_nifti_command, 0, ""},
    {"/File/Download data from ZANTREVIUM", "", download_from_host_command, 0, ""},
    {"/File/Quit", "<control>Q", quit_command, 0, ""},
    {"/Setting", "", nullptr, 0, "<Branch>"},
    {"/Setting/MPG/Presets/Single So/GE 6 dir b=1000", "", mpg_preset_ge_6_command, 0, ""},
    {"/Setting/MPG/Presets/Single So/GE 13 dir b=1000", "", mpg_preset_ge_13_command, 0, ""},
    {"/Setting/MPG/Presets/Jones 30 dir", "", mpg_preset_jones_30_command, 0, ""},
    {"/Setting/MPG/Manual set/Total DTI channels", "", mpg_total_channels_command, 0, ""},
    {"/Setting/MPG/Manual set/So (b=0) channels", "", mpg_b0_channels_command, 0, ""},
    {"/Setting/MPG/Manual set/uniform b value", "", mpg_uniform_b_value_command, 0, ""},
    {"/Setting/Computation/Threads", "", threads_command, 0, ""},
    {"/Setting/ROI 3D object/Hide", "F11", roi_objects_hide_command, 0, ""},
    {"/Setting/ROI 3D object/Show, Update", "F12", roi_objects_update_command, 0, ""},
    {kAutoUpdateOff, "", roi_auto_update_off_command, 0, "<RadioItem>"},
    {"/Setting/ROI 3D object/Auto update/On", "", roi_auto_update_on_command, 0, kAutoUpdateOff},
    {"/Special", "", nullptr, 0, "<Branch>"},
    {"/Special/Realtime analysis ON-OFF", "<control>R", realtime_analysis_command, 0, ""},
    {"/Special/Compute standard DTI parameter maps", "", compute_standard_maps_command, 0, ""},
    {"/Special/Extra maps by Run Time Neural Network ...", "", extra_maps_rtnn_command, 0, ""},
    {"/Special/Minimize DTI data", "", minimize_dti_data_command, 0, ""},
    {"/Special/Voxelize visible tracklines as/Grey volume", "", voxelize_tracklines_grey_command, 0, ""},
    {"/Special/Voxelize visible tracklines as/Color volume", "", voxelize_tracklines_colour_command, 0, ""},
    {"/Special/Voxelize visible tracklines as/Voxelgroup ROI", "", voxelize_tracklines_roi_command, 0, ""},
    {"/Special/ROI palette frame/Channel/First", "F", channel_first_command, 0, ""},
    {"/Special/ROI palette frame/Channel/Last", "L", channel_last_command, 0, ""},
    {"/Special/ROI palette frame/Channel/Next", "N", channel_next_command, 0, ""},
    {"/Special/ROI palette frame/Channel/Previous", "B", channel_previous_command, 0, ""},
    {"/Special/ROI palette frame/Upload current channel", "<control>U", upload_current_channel_command, 0, ""},
    {"/Special/ROI palette frame/Adjust greyscale", "G", adjust_greyscale_command, 0, ""},
    {"/Special/ROI palette frame/Export ROI to editor", "", export_roi_to_editor_command, 0, ""},
    {"/Special/ROI palette frame/Sphericalmap/Set center Z slice", "", set_center_z_command, 0, ""},
    {"/Special/ROI palette frame/Sphericalmap/Show guideline/None", "", guideline_none_command, 0, ""},
    {"/Special/ROI palette frame/Sphericalmap/Show guideline/Z", "", guideline_z_command, 0, ""},
    {"/Special/ROI palette frame/Sphericalmap/Show guideline/XZ", "", guideline_xz_command, 0, ""},
    {"/_Help", "", nullptr, 0, "<LastBranch>"},
    {"/_Help/About ...", "", about_command, 0, ""},
};

const MenuItemEntry kRoiMenu[] = {
    {"/ROI", "", nullptr, 0, "<Branch>"},
    {"/ROI/New/Spherical", "", roi_new_spherical_command, 0, ""},
    {"/ROI/New/sep1", "", nullptr, 0, "<Separator>"},
    {"/ROI/New/Freehand", "", roi_new_freehand_command, 0, ""},
    {"/ROI/New/sep2", "", nullptr, 0, "<Separator>"},
    {"/ROI/New/Voxelgroup", "", roi_new_voxelgroup_command, 0, ""},
    {"/ROI/Duplicate", "", roi_duplicate_menu_command, 0, ""},
    {"/ROI/Delete", "", roi_delete_menu_command, 0, ""},
    {"/ROI/sep1", "", nullptr, 0, "<Separator>"},
    {"/ROI/Visibility/Show/All", "", roi_show_all_command, 0, ""},
    {"/ROI/Visibility/Show/Only/Spherical", "", roi_show_only_spherical_command, 0, ""},
    {"/ROI/Visibility/Show/Only/Freehand", "", roi_show_only_freehand_command, 0, ""},
    {"/ROI/Visibility/Show/Only/Voxelgroup", "", roi_show_only_voxelgroup_command, 0, ""},
    {"/ROI/Visibility/Show/Only/Selected", "", roi_show_only_selected_command, 0, ""},
    {"/ROI/Visibility/sep1", "", nullptr, 0, "<Separator>"},
    {"/ROI/Visibility/Hide/All", "", roi_hide_all_command, 0, ""},
    {"/ROI/Visibility/Hide/Only/Spherical", "", roi_hide_only_spherical_command, 0, ""},
    {"/ROI/Visibility/Hide/Only/Freehand", "", roi_hide_only_freehand_command, 0, ""},
    {"/ROI/Visibility/Hide/Only/Voxelgroup", "", roi_hide_only_voxelgroup_command, 0, ""},
    {"/ROI/Visibility/Hide/Only/Selected", "", roi_hide_only_selected_command, 0, ""},
    {"/ROI/Visibility/sep2", "", nullptr, 0, "<Separator>"},
    {"/ROI/Visibility/Invert", "", roi_invert_visibility_command, 0, ""},
    {"/ROI/sep2", "", nullptr, 0, "<Separator>"},
    {"/ROI/Status/Force locked", "", roi_force_locked_command, 0, ""},
    {"/ROI/Status/Force unlocked", "", roi_force_unlocked_command, 0, ""},
    {"/ROI/sep3", "", nullptr, 0, "<Separator>"},
    {"/ROI/Special/Masking voxelgroup/Erase inside box VOI", "", roi_erase_inside_box_command, 0, ""},
    {"/ROI/Special/Masking voxelgroup/Erase outside box VOI", "", roi_erase_outside_box_command, 0, ""},
    {"/ROI/Special/sep1", "", nullptr, 0, "<Separator>"},
    {"/ROI/Special/Convert visible ROIs to volumedata", "", convert_visible_rois_command, 0, ""},
};

const MenuItemEntry kStudyMenu[] = {
    {"/Study", "", nullptr, 0, "<Branch>"},
    {"/Study/New/Fiber tracking", "", study_new_fiber_tracking_command, 0, ""},
    {"/Study/New/Diffusion profile", "", study_new_diffusion_profile_command, 0, ""},
    {"/Study/New/Voxel statistics", "", study_new_voxel_statistics_command, 0, ""},
    {"/Study/Duplicate", "", study_duplicate_command, 0, ""},
    {"/Study/Delete", "", study_delete_command, 0, ""},
    {"/Study/Special/Analyze and dump result", "", study_analyze_and_dump_command, 0, ""},
    {"/Study/Special/Analyze all studies", "", study_analyze_all_command, 0, ""},
    {"/Study/Special/Analyze all studies but done", "", study_analyze_all_but_done_command, 0, ""},
    {"/Study/Visibility/Show/All", "", study_show_all_command, 0, ""},
    {"/Study/Visibility/Show/Only/Fiber tracking", "", study_show_only_fiber_tracking_command, 0, ""},
    {"/Study/Visibility/Show/Only/Diffusion profile", "", study_show_only_diffusion_profile_command, 0, ""},
    {"/Study/Visibility/Show/Only/Voxel statistics", "", study_show_only_voxel_statistics_command, 0, ""},
    {"/Study/Visibility/Show/Only/Selected", "", study_show_only_selected_command, 0, ""},
    {"/Study/Visibility/Hide/All", "", study_hide_all_command, 0, ""},
    {"/Study/Visibility/Hide/Only/Fiber tracking", "", study_hide_only_fiber_tracking_command, 0, ""},
    {"/Study/Visibility/Hide/Only/Diffusion profile", "", study_hide_only_diffusion_profile_command, 0, ""},
    {"/Study/Visibility/Hide/Only/Voxel statistics", "", study_hide_only_voxel_statistics_command, 0, ""},
    {"/Study/Visibility/Hide/Only/Selected", "", study_hide_only_selected_command, 0, ""},
    {"/Study/Visibility/Invert", "", study_invert_visibility_command, 0, ""},
    {"/Study/Preset labels/L. Pyramidal Tract", "", study_preset_left_pyramidal_command, 0, ""},
    {"/Study/Preset labels/R. Pyramidal Tract", "", study_preset_right_pyramidal_command, 0, ""},
    {"/Study/Preset labels/Corpse Callosum", "", study_preset_corpus_callosum_command, 0, ""},
    {"/Study/Summary string/Record current", "", study_record_summary_command, 0, ""},
    {"/Study/Summary string/Restore", "", study_restore_summary_command, 0, ""},
};

#define ZTR_ORIENTATION_BRANCH(label)                  \
  {"/" label, "", nullptr, 0, "<Branch>"},             \
      {"/" label "/Axial", "", orientation_axial_command, 0, ""},  \
      {"/" label "/Sagittal", "", orientation_sagittal_command, 0, ""}, \
      {"/" label "/Coronal", "", orientation_coronal_command, 0, ""}, \
      {"/" label "/sep1", "", nullptr, 0, "<Separator>"}, \
      {"/" label "/Oblique", "", orientation_oblique_command, 0, ""}, \
      {"/" label "/sep2", "", nullptr, 0, "<Separator>"}, \
      {"/" label "/Spherical", "", orientation_spherical_command, 0, ""}

const MenuItemEntry kOrientationMenu[] = {
    ZTR_ORIENTATION_BRANCH(" Axial  "),  ZTR_ORIENTATION_BRANCH("Sagittal "),
    ZTR_ORIENTATION_BRANCH("Oblique  "), ZTR_ORIENTATION_BRANCH("Coronal "),
    ZTR_ORIENTATION_BRANCH("Spherical"),
};

#undef ZTR_ORIENTATION_BRANCH

}  // namespace

std::span<const MenuItemEntry> main_menu_items() { return kMainMenu; }
std::span<const MenuItemEntry> roi_menu_items() { return kRoiMenu; }
std::span<const MenuItemEntry> study_menu_items() { return kStudyMenu; }
std::span<const MenuItemEntry> orientation_menu_items() { return kOrientationMenu; }

bool is_branch(const MenuItemEntry& entry) {
  return std::strcmp(entry.kind, "<Branch>") == 0 || std::strcmp(entry.kind, "<LastBranch>") == 0;
}

bool is_separator(const MenuItemEntry& entry) {
  return std::strcmp(entry.kind, "<Separator>") == 0;
}

bool is_radio_item(const MenuItemEntry& entry) {
  return std::strcmp(entry.kind, "<RadioItem>") == 0 || entry.kind[0] == '/';
}

bool is_command_item(const MenuItemEntry& entry) {
  return entry.kind[0] == '\0' || is_radio_item(entry);
}

std::string_view menu_parent_path(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos || slash == 0) return {};
  return path.substr(0, slash);
}

std::string_view menu_label(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}
