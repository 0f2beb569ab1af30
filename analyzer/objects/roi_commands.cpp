// The ROI editor's commands on the ROI list and the panels' working copies.
#include "analyzer/objects/roi_commands.h"

#include <algorithm>
#include <cstdio>

#include "analyzer/objects/roi_file.h"
#include "analyzer/objects/roi_nifti.h"

void store_active_roi(RoiEditor& editor) {
  if (editor.rois.redrawing) return;
  if (ROI_OBJECT* roi = get_active_roi(editor.rois)) {
    store_view_state_into_roi(editor.panel_of(roi->type), *roi);
  }
}

ROI_OBJECT* roi_new_command(RoiEditor& editor, int32_t type, const GridSize& volume_size) {
  store_active_roi(editor);
  ROI_OBJECT* roi = new_roi_object(editor.rois, type, volume_size);
  if (roi == nullptr) return nullptr;
  editor.rois.active_id = roi->id;
  RoiViewState& panel = editor.panel_of(type);
  load_roi_into_view_state(*roi, volume_size, panel);
  panel.follow_host = true;
  return roi;
}

int roi_select(RoiEditor& editor, uint16_t id, const GridSize& volume_size) {
  ROI_OBJECT* roi = find_roi(editor.rois, id);
  if (roi == nullptr) return -1;
  store_active_roi(editor);
  editor.rois.active_id = id;
  load_roi_into_view_state(*roi, volume_size, editor.panel_of(roi->type));
  return 0;
}

ROI_OBJECT* roi_duplicate_command(RoiEditor& editor, const GridSize& volume_size) {
  ROI_OBJECT* source = get_active_roi(editor.rois);
  if (source == nullptr) return nullptr;
  ROI_OBJECT* copy = roi_new_command(editor, source->type, volume_size);
  if (copy == nullptr) return nullptr;
  copy->view = source->view;
  copy->group = source->group;
  // The criteria a group was grown with describe that group: they travel with it.
  copy->growing = source->growing;
  // Cut to the name's field: every generation of copies adds eight bytes.
  set_roi_name(*copy, (std::string("copy of ") + source->name).c_str());
  RoiViewState& panel = editor.panel_of(copy->type);
  load_roi_into_view_state(*copy, volume_size, panel);
  panel.follow_host = false;
  return copy;
}

void roi_rename(ROI_OBJECT& roi, const std::string& text) { set_roi_name(roi, text.c_str()); }

int roi_delete_command(RoiEditor& editor) {
  ROI_OBJECT* roi = get_active_roi(editor.rois);
  if (roi == nullptr) return -1;
  if (roi->status == ZTR_ROI_LOCKED) {
    std::fputs("Undeletable ROI refered by study(ies)\n", stderr);
    return -1;
  }
  return delete_roi(editor.rois, roi->id);
}

void roi_visibility_command(RoiList& rois, RoiVisibility command, int32_t kind) {
  for (ROI_OBJECT* roi : roi_items(rois)) {
    const bool selected = roi->id == rois.active_id;
    switch (command) {
      case RoiVisibility::ShowAll:
        roi->visibility = 1;
        break;
      case RoiVisibility::HideAll:
        roi->visibility = 0;
        break;
      case RoiVisibility::ShowOnlyKind:
        roi->visibility = roi->type == kind ? 1 : 0;
        break;
      case RoiVisibility::HideOnlyKind:
        roi->visibility = roi->type == kind ? 0 : 1;
        break;
      case RoiVisibility::ShowOnlySelected:
        roi->visibility = selected ? 1 : 0;
        break;
      case RoiVisibility::HideOnlySelected:
        roi->visibility = selected ? 0 : 1;
        break;
      case RoiVisibility::Invert:
        roi->visibility = roi->visibility == 1 ? 0 : 1;
        break;
    }
  }
}

int roi_force_status(RoiEditor& editor, int32_t status) {
  ROI_OBJECT* roi = get_active_roi(editor.rois);
  if (roi == nullptr) return -1;
  // What the panel holds goes in first: unlocking must not bring back an edit made while
  // locked, and locking keeps the last free edit.
  if (status == ZTR_ROI_LOCKED) store_active_roi(editor);
  roi->status = status;
  RoiViewState& panel = editor.panel_of(roi->type);
  panel.editable = status != ZTR_ROI_LOCKED;
  if (status == ZTR_ROI_LOCKED) panel.follow_host = false;
  return 0;
}

int roi_erase_box_command(RoiEditor& editor, const ZTR_BOX& box, bool inside) {
  ROI_OBJECT* roi = get_active_roi(editor.rois);
  if (roi == nullptr) return -1;
  if (roi->status == ZTR_ROI_LOCKED) {
    std::fputs("Uneditable ROI refered by study(ies)\n", stderr);
    return -1;
  }
  if (roi->type != ZTR_ROI_VOXELGROUP) {
    std::fputs("Thi function is only for voxelgroup ROIs\n", stderr);
    return -1;
  }
  int64_t first[3], last[3];
  for (int a = 0; a < 3; ++a) {
    first[a] = box.origin[a];
    last[a] = int64_t(box.origin[a]) + box.size[a] - 1;
    if (first[a] == last[a]) return -1;  // a box one voxel thick, as the host's default
  }
  RoiViewState& panel = editor.panel_of(ZTR_ROI_VOXELGROUP);
  const GridSize& size = panel.mask_size;
  if (int64_t(panel.mask.size()) != int64_t(size[0]) * size[1] * size[2]) return -1;
  for (int64_t k = 0; k < size[2]; ++k) {
    for (int64_t j = 0; j < size[1]; ++j) {
      for (int64_t i = 0; i < size[0]; ++i) {
        const bool in = i >= first[0] && i <= last[0] && j >= first[1] && j <= last[1] &&
                        k >= first[2] && k <= last[2];
        if (in == inside) panel.mask[size_t((k * size[1] + j) * size[0] + i)] = 0;
      }
    }
  }
  return store_view_state_into_roi(panel, *roi);
}

namespace {

ROI_OBJECT* show_imported(RoiEditor& editor, ROI_OBJECT* roi, const GridSize& volume_size) {
  if (roi == nullptr) return nullptr;
  RoiViewState& panel = editor.panel_of(roi->type);
  load_roi_into_view_state(*roi, volume_size, panel);
  panel.follow_host = false;
  return roi;
}

}  // namespace

ROI_OBJECT* roi_import_command(RoiEditor& editor, const std::string& path,
                               const GridSize& volume_size, int32_t channel_count,
                               NoticeSink* notices) {
  store_active_roi(editor);
  return show_imported(editor,
                       import_roi_file(editor.rois, path, volume_size, channel_count, notices),
                       volume_size);
}

ROI_OBJECT* roi_import_nifti_command(RoiEditor& editor, const std::string& path,
                                     const GridSize& volume_size, std::string* reason) {
  store_active_roi(editor);
  return show_imported(editor, import_nifti_roi(editor.rois, path, volume_size, reason),
                       volume_size);
}

std::array<std::string, 5> roi_list_row(const ROI_OBJECT& roi, int row) {
  static constexpr const char* kKinds[3] = {"Sp", "Fh", "Vg"};
  char number[16];
  std::snprintf(number, sizeof number, "%3d", row);
  const int32_t kind = std::clamp<int32_t>(roi.type, 0, 2);
  return {number, kKinds[kind], roi.visibility == 1 ? "+" : "-",
          roi.status == ZTR_ROI_LOCKED ? "locked" : "free", roi.name};
}

void create_initial_rois(RoiEditor& editor, const GridSize& volume_size) {
  for (int32_t type : {ZTR_ROI_SPHERICAL, ZTR_ROI_FREEHAND, ZTR_ROI_VOXELGROUP}) {
    roi_new_command(editor, type, volume_size);
  }
}

void delete_all_roi_objects(RoiEditor& editor) {
  delete_all_rois(editor.rois);
  for (RoiViewState& panel : editor.panels) panel = RoiViewState{};
}
