// The ROI editor's commands as operations on the ROI list and the panels' working copies:
// what the menu items and list widgets of the ROI editor page call. No toolkit; every command
// on the active ROI does nothing when there is none.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "analyzer/notice.h"
#include "analyzer/objects/roi_object.h"
#include "sdk/volume/box.h"

// The ROI editor page without its widgets: the list and one working copy per kind (only the
// active ROI's kind is shown).
struct RoiEditor {
  RoiList rois;
  std::array<RoiViewState, 3> panels;  // spherical, freehand, voxelgroup

  RoiViewState& panel_of(int32_t type) { return panels[size_t(type)]; }
};

// Stores the panel of the active ROI's kind into it (skipped while the list is redrawn and for
// a locked ROI).
void store_active_roi(RoiEditor& editor);

// New/Spherical, New/Freehand, New/Voxelgroup: stores the active ROI, creates the new one,
// makes it active, loads it into its panel and lets that view follow the host's cursor.
// The new ROI, or nullptr (nothing added).
ROI_OBJECT* roi_new_command(RoiEditor& editor, int32_t type, const GridSize& volume_size);

// Row selection: stores the active ROI, makes `id` active and loads it into its panel.
// -1 when no ROI has the ID.
int roi_select(RoiEditor& editor, uint16_t id, const GridSize& volume_size);

// Duplicate: a new ROI of the active ROI's kind with a copy of its view, voxel group and
// growing criteria, named "copy of <name>" (cut to fit), with its own colour, free and visible;
// its view does not follow the host. nullptr without an active ROI.
ROI_OBJECT* roi_duplicate_command(RoiEditor& editor, const GridSize& volume_size);

// Rename: the text (cut to 255 bytes) becomes the ROI's name.
void roi_rename(ROI_OBJECT& roi, const std::string& text);

// Delete: a locked active ROI prints "Undeletable ROI refered by study(ies)\n" and stays.
// 0 when a ROI was deleted (no ROI is active afterwards), -1 otherwise.
int roi_delete_command(RoiEditor& editor);

enum class RoiVisibility {
  ShowAll,
  HideAll,
  ShowOnlyKind,      // visible: that kind only
  HideOnlyKind,      // hidden: that kind only
  ShowOnlySelected,  // visible: the active ROI only (none when there is no active ROI)
  HideOnlySelected,  // hidden: the active ROI only
  Invert,
};
void roi_visibility_command(RoiList& rois, RoiVisibility command, int32_t kind = -1);

// Status/Force locked and Force unlocked of the active ROI; the panel showing it follows
// (a locked ROI's panel is not editable and stops following the host). -1 without one.
int roi_force_status(RoiEditor& editor, int32_t status);

// Special/Masking voxelgroup/Erase inside (or outside) box VOI on the voxelgroup panel's mask,
// then stores it into the active ROI. A locked ROI prints "Uneditable ROI refered by
// study(ies)\n", another kind "Thi function is only for voxelgroup ROIs\n"; a box one voxel
// thick on any axis changes nothing. 0 when the mask was erased and stored, -1 otherwise.
int roi_erase_box_command(RoiEditor& editor, const ZTR_BOX& box, bool inside);

// File/Import/ROI object and the NIfTI mask import: stores the active ROI, adds the file's ROI
// as the new active one and loads it into its panel, not following the host (see
// import_roi_file and import_nifti_roi). The new ROI, or nullptr with the list unchanged.
ROI_OBJECT* roi_import_command(RoiEditor& editor, const std::string& path,
                               const GridSize& volume_size, int32_t channel_count,
                               NoticeSink* notices);
ROI_OBJECT* roi_import_nifti_command(RoiEditor& editor, const std::string& path,
                                     const GridSize& volume_size, std::string* reason);

// The five columns of a list row: "%3d" row number from 1, "Sp"/"Fh"/"Vg", "+"/"-",
// "free"/"locked", the name.
std::array<std::string, 5> roi_list_row(const ROI_OBJECT& roi, int row);

// The start-up and data-replacement hooks: one ROI of each kind, each created as by New (so
// each panel holds its ROI and the voxelgroup one is active); and the clean-up that deletes every ROI and resets the
// counters and the panels.
void create_initial_rois(RoiEditor& editor, const GridSize& volume_size);
void delete_all_roi_objects(RoiEditor& editor);
