// The ROIs inside the application: hooks, view exchange, host display and commands.
#include "analyzer/app/roi_session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "analyzer/app/text_format.h"
#include "analyzer/objects/roi_file.h"
#include "analyzer/objects/roi_nifti.h"
#include "analyzer/objects/roi_region.h"
#include "sdk/ipc/object_group.h"

GridSize volume_grid(const AppState& state) {
  if (!state.volume) return {0, 0, 0};
  const VolumeHeader& h = *state.volume->header;
  return {h.x, h.y, h.z};
}

RoiPanel panel_for_roi_kind(int32_t type) {
  switch (type) {
    case ZTR_ROI_FREEHAND: return RoiPanel::Freehand;
    case ZTR_ROI_VOXELGROUP: return RoiPanel::Voxelgroup;
    default: return RoiPanel::Spherical;
  }
}

namespace {

RoiPanel panel_of_frame(AppState& state, const SliceViewFrame& frame) {
  for (int i = 0; i < ZTR_ROI_PANEL_COUNT; ++i) {
    if (&state.views.roi_editor[static_cast<size_t>(i)] == &frame) return static_cast<RoiPanel>(i);
  }
  return RoiPanel::Spherical;
}

int32_t kind_of_panel(RoiPanel panel) {
  switch (panel) {
    case RoiPanel::Freehand: return ZTR_ROI_FREEHAND;
    case RoiPanel::Voxelgroup: return ZTR_ROI_VOXELGROUP;
    default: return ZTR_ROI_SPHERICAL;
  }
}

void update_host_display_if_automatic(AppState& state) {
  if (state.auto_update == 1 && state.objects_shown == 1) send_roi_display_group(state);
}

// Every command that reads or stores the active ROI first takes what the user drew.
RoiEditor& synced_editor(AppState& state) {
  sync_views_into_panels(state);
  return state.roi_editor;
}

}  // namespace

void sync_views_into_panels(AppState& state) {
  const GridSize grid = volume_grid(state);
  for (int i = 0; i < ZTR_ROI_PANEL_COUNT; ++i) {
    const RoiPanel panel = static_cast<RoiPanel>(i);
    RoiViewState& working = state.roi_editor.panel_of(kind_of_panel(panel));
    // A locked ROI's view may still move (following, panning) but is not the ROI's any more.
    if (!working.editable) continue;
    slice_view_to_roi_view(state.views.roi_view(panel).view, grid, working.view);
    working.follow_host = state.views.roi_view(panel).follow;
  }
}

void show_active_roi(AppState& state) {
  const ROI_OBJECT* roi = get_active_roi(state.roi_editor.rois);
  if (!roi) return;
  const RoiViewState& working = state.roi_editor.panel_of(roi->type);
  SliceViewFrame& frame = state.views.roi_view(panel_for_roi_kind(roi->type));
  SliceView stored = frame.view;
  roi_view_to_slice_view(working.view, stored);
  load_view(frame, stored);
  set_follow(frame, working.follow_host);
}

void roi_view_changed(AppState& state, SliceViewFrame& frame) {
  ROI_OBJECT* roi = get_active_roi(state.roi_editor.rois);
  if (!roi || state.roi_editor.rois.redrawing) return;
  const RoiPanel panel = panel_of_frame(state, frame);
  if (kind_of_panel(panel) != roi->type) return;
  RoiViewState& working = state.roi_editor.panel_of(roi->type);
  if (!working.editable || roi->status == ZTR_ROI_LOCKED) return;
  slice_view_to_roi_view(frame.view, volume_grid(state), working.view);
  working.follow_host = frame.follow;
  store_active_roi(state.roi_editor);
  update_host_display_if_automatic(state);
}

void roi_list_changed(AppState& state) {
  show_active_roi(state);
  if (state.hooks.refresh_lists) state.hooks.refresh_lists(state);
  update_host_display_if_automatic(state);
}

int tint_mask_voxels(const SliceView& view, const std::vector<uint8_t>& mask,
                     const GridSize& size, uint32_t colour, std::vector<uint32_t>& pixels) {
  const size_t voxels = size_t(std::max(size[0], 0)) * size_t(std::max(size[1], 0)) *
                        size_t(std::max(size[2], 0));
  if (mask.size() != voxels || voxels == 0 || pixels.size() != size_t(ZTR_VIEW_PIXELS)) return 0;
  RoiView plane;
  slice_view_to_roi_view(view, size, plane);
  const uint32_t cr = colour >> 16 & 0xFF, cg = colour >> 8 & 0xFF, cb = colour & 0xFF;
  int tinted = 0;
  for (int j = 0; j < ZTR_VIEW_SIZE; ++j) {
    for (int i = 0; i < ZTR_VIEW_SIZE; ++i) {
      Vec3 p{};
      // The pixel's centre, so that a voxel shows where the picture samples it.
      if (!view_pixel_to_volume(plane, float(i) + 0.5f, float(j) + 0.5f, &p)) continue;
      const float x = std::floor(p[0]), y = std::floor(p[1]), z = std::floor(p[2]);
      if (!(x >= 0 && y >= 0 && z >= 0 && x < float(size[0]) && y < float(size[1]) &&
            z < float(size[2]))) {
        continue;
      }
      const size_t k = (size_t(z) * size_t(size[1]) + size_t(y)) * size_t(size[0]) + size_t(x);
      if (mask[k] == 0) continue;
      uint32_t& px = pixels[size_t(j) * ZTR_VIEW_SIZE + size_t(i)];
      const uint32_t r = ((px >> 16 & 0xFF) + cr) / 2, g = ((px >> 8 & 0xFF) + cg) / 2,
                     b = ((px & 0xFF) + cb) / 2;
      px = 0xFF000000u | r << 16 | g << 8 | b;
      ++tinted;
    }
  }
  return tinted;
}

void bind_roi_views(AppState& state) {
  for (SliceViewFrame& frame : state.views.roi_editor) {
    frame.on_change = [&state](SliceViewFrame& changed) { roi_view_changed(state, changed); };
  }
  state.views.roi_view(RoiPanel::Voxelgroup).decorate =
      [&state](const SliceView& view, std::vector<uint32_t>& pixels) {
        const ROI_OBJECT* roi = get_active_roi(state.roi_editor.rois);
        if (!roi || roi->type != ZTR_ROI_VOXELGROUP) return;
        const RoiViewState& working = state.roi_editor.panel_of(ZTR_ROI_VOXELGROUP);
        const auto& c = working.colour;
        const uint32_t colour = uint32_t(c[0] >> 8) << 16 | uint32_t(c[1] >> 8) << 8 |
                                uint32_t(c[2] >> 8);
        tint_mask_voxels(view, working.mask, volume_grid(state), colour, pixels);
      };
}

void install_roi_hooks(SessionHooks& hooks) {
  hooks.create_initial_objects = [](AppState& state) {
    bind_roi_views(state);
    create_initial_rois(state.roi_editor, volume_grid(state));
    // The page opens on the first row, the spherical ROI, as after a data replacement: the
    // list's selection and the panel shown then agree from the start.
    const std::vector<ROI_OBJECT*> items = roi_items(state.roi_editor.rois);
    if (!items.empty()) roi_select(state.roi_editor, items.front()->id, volume_grid(state));
    // Every view shows its panel's new ROI, so that no view of the old data is stored later.
    for (int32_t kind : {ZTR_ROI_SPHERICAL, ZTR_ROI_FREEHAND, ZTR_ROI_VOXELGROUP}) {
      const RoiViewState& working = state.roi_editor.panel_of(kind);
      SliceViewFrame& frame = state.views.roi_view(panel_for_roi_kind(kind));
      SliceView stored = frame.view;
      roi_view_to_slice_view(working.view, stored);
      load_view(frame, stored);
    }
    show_active_roi(state);
  };
  hooks.delete_all_objects = [](AppState& state) { delete_all_roi_objects(state.roi_editor); };
  hooks.active_roi_locked = [](AppState& state) {
    const ROI_OBJECT* roi = get_active_roi(state.roi_editor.rois);
    return roi && roi->status == ZTR_ROI_LOCKED;
  };
  hooks.rebuild_display_group = [](AppState& state) { send_roi_display_group(state); };
  hooks.select_first_objects = [](AppState& state) {
    const std::vector<ROI_OBJECT*> items = roi_items(state.roi_editor.rois);
    if (!items.empty()) roi_select_command(state, items.front()->id);
  };
}

int send_roi_display_group(AppState& state) {
  ZTR_OBJECT_GROUP* group = nullptr;
  if (state.objects_shown == 1) {
    group = build_roi_display_group(state.roi_editor.rois, volume_grid(state));
  }
  if (!group) group = ZTR_NewObjectGroup(8);
  state.display_group.reset(group);
  if (!group || state.display_group_id == -1 || state.ipc_available != 1) return -1;
  return ZTRipc_UpdateObjectGroup(group, state.display_group_id);
}

// ---- ROI menu -----------------------------------------------------------------------------

namespace {

void new_roi(AppState& state, int32_t type) {
  if (!state.volume) return;
  if (roi_new_command(synced_editor(state), type, volume_grid(state))) roi_list_changed(state);
}

void visibility(AppState& state, RoiVisibility command, int32_t kind = -1) {
  roi_visibility_command(synced_editor(state).rois, command, kind);
  roi_list_changed(state);
}

void force_status(AppState& state, int32_t status) {
  if (roi_force_status(synced_editor(state), status) == 0) roi_list_changed(state);
}

}  // namespace

void roi_new_spherical_command(AppState& state, Dialogs&) { new_roi(state, ZTR_ROI_SPHERICAL); }
void roi_new_freehand_command(AppState& state, Dialogs&) { new_roi(state, ZTR_ROI_FREEHAND); }
void roi_new_voxelgroup_command(AppState& state, Dialogs&) { new_roi(state, ZTR_ROI_VOXELGROUP); }

void roi_duplicate_menu_command(AppState& state, Dialogs&) {
  if (roi_duplicate_command(synced_editor(state), volume_grid(state))) roi_list_changed(state);
}

void roi_delete_menu_command(AppState& state, Dialogs&) {
  if (roi_delete_command(synced_editor(state)) == 0) roi_list_changed(state);
}

void roi_rename_command(AppState& state, Dialogs& dialogs) {
  ROI_OBJECT* roi = get_active_roi(state.roi_editor.rois);
  if (!roi) return;
  std::string text = roi->name;
  if (dialogs.value_entry("ROI name", text) != ZTR_DIALOG_OK) return;
  roi_rename(*roi, text);
  roi_list_changed(state);
}

void roi_select_command(AppState& state, uint16_t id) {
  if (roi_select(synced_editor(state), id, volume_grid(state)) == 0) roi_list_changed(state);
}

void roi_toggle_visibility_command(AppState& state, Dialogs&) {
  ROI_OBJECT* roi = get_active_roi(state.roi_editor.rois);
  if (!roi) return;
  roi->visibility = roi->visibility == 1 ? 0 : 1;
  roi_list_changed(state);
}

void roi_toggle_lock_command(AppState& state, Dialogs&) {
  const ROI_OBJECT* roi = get_active_roi(state.roi_editor.rois);
  if (!roi) return;
  force_status(state, roi->status == ZTR_ROI_LOCKED ? ZTR_ROI_FREE : ZTR_ROI_LOCKED);
}

void roi_show_all_command(AppState& state, Dialogs&) { visibility(state, RoiVisibility::ShowAll); }
void roi_show_only_spherical_command(AppState& state, Dialogs&) {
  visibility(state, RoiVisibility::ShowOnlyKind, ZTR_ROI_SPHERICAL);
}
void roi_show_only_freehand_command(AppState& state, Dialogs&) {
  visibility(state, RoiVisibility::ShowOnlyKind, ZTR_ROI_FREEHAND);
}
void roi_show_only_voxelgroup_command(AppState& state, Dialogs&) {
  visibility(state, RoiVisibility::ShowOnlyKind, ZTR_ROI_VOXELGROUP);
}
void roi_show_only_selected_command(AppState& state, Dialogs&) {
  visibility(state, RoiVisibility::ShowOnlySelected);
}
void roi_hide_all_command(AppState& state, Dialogs&) { visibility(state, RoiVisibility::HideAll); }
void roi_hide_only_spherical_command(AppState& state, Dialogs&) {
  visibility(state, RoiVisibility::HideOnlyKind, ZTR_ROI_SPHERICAL);
}
void roi_hide_only_freehand_command(AppState& state, Dialogs&) {
  visibility(state, RoiVisibility::HideOnlyKind, ZTR_ROI_FREEHAND);
}
void roi_hide_only_voxelgroup_command(AppState& state, Dialogs&) {
  visibility(state, RoiVisibility::HideOnlyKind, ZTR_ROI_VOXELGROUP);
}
void roi_hide_only_selected_command(AppState& state, Dialogs&) {
  visibility(state, RoiVisibility::HideOnlySelected);
}
void roi_invert_visibility_command(AppState& state, Dialogs&) {
  visibility(state, RoiVisibility::Invert);
}
void roi_force_locked_command(AppState& state, Dialogs&) { force_status(state, ZTR_ROI_LOCKED); }
void roi_force_unlocked_command(AppState& state, Dialogs&) { force_status(state, ZTR_ROI_FREE); }

void convert_visible_rois_command(AppState& state, Dialogs& dialogs,
                                  const RoiChannelSender& send) {
  if (!state.volume) return;
  RawVolumeData* volume = state.dti ? state.dti->volume : state.volume.get();
  if (convert_visible_rois_to_volume(synced_editor(state).rois, volume, send) != 0) {
    dialogs.set_message_line(" visible ROIs NOT converted.");
    return;
  }
  dialogs.set_message_line(
      format_text(" visible ROIs converted to channel %d.", volume->header->channels - 1));
}

void convert_visible_rois_command(AppState& state, Dialogs& dialogs) {
  convert_visible_rois_command(state, dialogs, [&state](const RawVolumeData* v, int32_t c) {
    return state.ipc_available == 1 ? ZTRipc_AppendSingleChannel(v, c) : -1;
  });
}

namespace {

struct VolumeDeleter {
  void operator()(RawVolumeData* v) const { ZTR_DeleteRawVolumeData(v); }
};
using OwnedVolume = std::unique_ptr<RawVolumeData, VolumeDeleter>;

OwnedVolume mask_volume(const std::vector<uint8_t>& mask, const GridSize& grid) {
  const int32_t dims[3] = {grid[0], grid[1], grid[2]};
  OwnedVolume volume(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, 0));
  if (!volume) return volume;
  uint8_t* data = ZTR_ChannelData<uint8_t>(volume.get(), 0);
  const size_t voxels = size_t(grid[0]) * size_t(grid[1]) * size_t(grid[2]);
  if (mask.size() == voxels) std::copy(mask.begin(), mask.end(), data);
  return volume;
}

}  // namespace

void voxelgroup_button_command(AppState& state, Dialogs& dialogs, VoxelGrowingButton button) {
  RoiEditor& editor = synced_editor(state);
  ROI_OBJECT* roi = get_active_roi(editor.rois);
  if (!roi || !state.volume) return;
  if (roi->type != ZTR_ROI_VOXELGROUP) {
    dialogs.set_message_line(" select a voxelgroup ROI first.");
    return;
  }
  RoiViewState& working = editor.panel_of(ZTR_ROI_VOXELGROUP);
  if (!working.editable || roi->status == ZTR_ROI_LOCKED) {
    std::fprintf(stderr, "Uneditable ROI refered by study(ies)\n");
    return;
  }
  const GridSize grid = volume_grid(state);
  const size_t voxels = size_t(grid[0]) * size_t(grid[1]) * size_t(grid[2]);
  if (working.mask.size() != voxels) {
    working.mask.assign(voxels, 0);
    working.mask_size = grid;
  }
  // The seed is the sphere or outline drawn in the voxelgroup view.
  ROI_OBJECT seed;
  seed.type = working.view.drawing_mode == ZTR_DRAW_FREEHAND ? ZTR_ROI_FREEHAND
                                                              : ZTR_ROI_SPHERICAL;
  seed.view = working.view;
  std::vector<uint8_t> seed_mask(voxels, 0);
  rasterise_roi(seed, seed_mask, grid);
  OwnedVolume seed_volume = mask_volume(seed_mask, grid);
  OwnedVolume work = mask_volume(working.mask, grid);
  if (!seed_volume || !work) return;
  working.growing.channel = working.view.channel;
  VOXEL_GROWING_SETTING setting;
  setting.mask = work.get();
  dialogs.set_message_line(" voxel growing ...");
  dialogs.repaint_now();
  if (run_voxel_growing_button(button, roi->type, working.growing, state.dti.get(),
                               seed_volume.get(), &setting) != 0) {
    dialogs.set_message_line(" voxel growing refused.");
    return;
  }
  const uint8_t* result = ZTR_ChannelData<uint8_t>(work.get(), 0);
  working.mask.assign(result, result + voxels);
  store_growing_setting(setting, &roi->growing);
  store_active_roi(editor);
  const int64_t count = std::count(working.mask.begin(), working.mask.end(), uint8_t{1});
  dialogs.set_message_line(format_text(" %lld voxels in the group.", (long long)count));
  roi_list_changed(state);
}

namespace {

void erase_box(AppState& state, bool inside) {
  if (!state.broadcast) return;
  ZTR_BOX box;
  for (int a = 0; a < 3; ++a) {
    box.origin[a] = state.broadcast->box_origin[a];
    box.size[a] = state.broadcast->box_size[a];
  }
  if (roi_erase_box_command(synced_editor(state), box, inside) == 0) roi_list_changed(state);
}

}  // namespace

void roi_erase_inside_box_command(AppState& state, Dialogs&) { erase_box(state, true); }
void roi_erase_outside_box_command(AppState& state, Dialogs&) { erase_box(state, false); }

// ---- Setting/ROI 3D object ----------------------------------------------------------------

void roi_objects_hide_command(AppState& state, Dialogs&) {
  state.objects_shown = 0;
  send_roi_display_group(state);
}

void roi_objects_update_command(AppState& state, Dialogs& dialogs) {
  sync_views_into_panels(state);
  store_active_roi(state.roi_editor);
  state.objects_shown = 1;
  if (send_roi_display_group(state) != 0) {
    dialogs.set_message_line(" ROI 3D objects NOT sent to ZANTREVIUM.");
  }
}

void roi_auto_update_off_command(AppState& state, Dialogs&) { state.auto_update = 0; }
void roi_auto_update_on_command(AppState& state, Dialogs&) {
  state.auto_update = 1;
  // What the host shows may be stale by now: bring it up to date at once.
  if (state.objects_shown == 1) {
    sync_views_into_panels(state);
    store_active_roi(state.roi_editor);
    send_roi_display_group(state);
  }
}

// ---- File ---------------------------------------------------------------------------------

namespace {

bool choose_file(AppState& state, Dialogs& dialogs, FileKind kind, FileSelectionKind selection,
                 const char* initial_name, std::string* chosen) {
  std::string path = state.file_name(kind);
  if (dialogs.file_selection(path, initial_name, selection) != ZTR_DIALOG_OK) return false;
  state.file_name(kind) = path;
  *chosen = path;
  return true;
}

ImageGeometry volume_geometry(const AppState& state) {
  const float size = state.dti && state.dti->voxel_size > 0.0f ? state.dti->voxel_size : 1.0f;
  const float sizes[3] = {size, size, size};
  return geometry_from_voxel_size(sizes);
}

int32_t channel_count(const AppState& state) {
  return state.volume ? state.volume->header->channels : 0;
}

}  // namespace

void import_roi_object_command(AppState& state, Dialogs& dialogs) {
  if (!state.volume) return;
  std::string path;
  if (!choose_file(state, dialogs, FileKind::RoiObject, FileSelectionKind::Open, nullptr, &path)) {
    return;
  }
  if (roi_import_command(synced_editor(state), path, volume_grid(state), channel_count(state),
                         &dialogs)) {
    dialogs.set_message_line(" ROI object imported.");
    roi_list_changed(state);
  } else {
    dialogs.set_message_line(" ROI object NOT imported.");
  }
}

void export_roi_object_command(AppState& state, Dialogs& dialogs) {
  RoiEditor& editor = synced_editor(state);
  if (!get_active_roi(editor.rois)) return;
  store_active_roi(editor);
  std::string path;
  if (!choose_file(state, dialogs, FileKind::RoiObject, FileSelectionKind::Save, nullptr, &path)) {
    return;
  }
  std::string reason;
  if (export_active_roi(editor.rois, volume_grid(state), path, &reason) == 0) {
    dialogs.set_message_line(" ROI object exported.");
  } else {
    std::fprintf(stderr, "Err: %s\n", reason.c_str());
    dialogs.set_message_line(" ROI object NOT exported: " + reason);
  }
}

void import_nifti_mask_command(AppState& state, Dialogs& dialogs) {
  if (!state.volume) return;
  std::string path;
  if (!choose_file(state, dialogs, FileKind::NiftiMask, FileSelectionKind::Open, nullptr, &path)) {
    return;
  }
  std::string reason;
  if (roi_import_nifti_command(synced_editor(state), path, volume_grid(state), &reason)) {
    dialogs.set_message_line(" NIfTI mask imported as a voxelgroup ROI.");
    roi_list_changed(state);
  } else {
    dialogs.set_message_line(" NIfTI mask NOT imported: " + reason);
  }
}

void export_visible_rois_nifti_command(AppState& state, Dialogs& dialogs) {
  if (!state.volume) return;
  RoiEditor& editor = synced_editor(state);
  store_active_roi(editor);
  std::string path;
  if (!choose_file(state, dialogs, FileKind::NiftiMask, FileSelectionKind::Save, "rois.nii.gz",
                   &path)) {
    return;
  }
  std::string reason;
  if (export_visible_rois_nifti(editor.rois, volume_grid(state), volume_geometry(state), path,
                                &reason)) {
    dialogs.set_message_line(" visible ROIs exported as a NIfTI mask.");
  } else {
    dialogs.set_message_line(" NIfTI mask NOT exported: " + reason);
  }
}
