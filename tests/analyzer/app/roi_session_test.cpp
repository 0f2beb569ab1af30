// The ROIs inside the application without a display: the session hooks, drawing into the
// active ROI, selection, the host's display group, Convert, the voxelgroup buttons and the
// ROI and NIfTI file items with scripted dialogs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "analyzer/app/menu_tables.h"
#include "analyzer/app/roi_session.h"
#include "analyzer/app/session.h"
#include "analyzer/objects/roi_nifti.h"
#include "analyzer/objects/roi_region.h"
#include "sdk/ipc/object_group.h"
#include "tests/analyzer/app/app_fixtures.h"
#include "tests/analyzer/app/scripted_dialogs.h"
#include "tests/support/console_capture.h"

namespace {

class RoiSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    load_into_state(state, make_volume(32, 32, 8, 2));
    install_roi_hooks(state.hooks);
    state.hooks.reset_views = reset_views;
    reset_views(state);
    state.hooks.create_initial_objects(state);
    dir = std::filesystem::temp_directory_path() /
          ("roi_session_test_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  SliceViewFrame& frame(RoiPanel panel) { return state.views.roi_view(panel); }
  ROI_OBJECT* active() { return get_active_roi(state.roi_editor.rois); }
  std::vector<ROI_OBJECT*> rois() { return roi_items(state.roi_editor.rois); }

  // A sphere dragged up from the view's centre by `dy` pixels: the radius grows by dy / zoom
  // voxels from a new ROI's 1 (zoom 512 / 32 = 16 here).
  void draw_sphere(RoiPanel panel, int dy) {
    view_button_press(frame(panel), 128, 128, 1, false);
    view_pointer_motion(frame(panel), 128, 128 - dy);
    view_button_release(frame(panel), 128, 128 - dy, 1);
  }

  int64_t mask_count(const std::vector<uint8_t>& mask) {
    return std::count(mask.begin(), mask.end(), uint8_t{1});
  }

  AppState state;
  ScriptedDialogs dialogs;
  std::filesystem::path dir;
};

TEST_F(RoiSessionTest, StartShowsOneRoiOfEachKindWithTheSphericalOneActive) {
  ASSERT_EQ(rois().size(), 3u);
  EXPECT_EQ(rois()[0]->type, ZTR_ROI_SPHERICAL);
  EXPECT_EQ(rois()[1]->type, ZTR_ROI_FREEHAND);
  EXPECT_EQ(rois()[2]->type, ZTR_ROI_VOXELGROUP);
  ASSERT_NE(active(), nullptr);
  EXPECT_EQ(active()->id, rois()[0]->id);
  EXPECT_TRUE(state.hooks.active_roi_locked && !state.hooks.active_roi_locked(state));
  for (const SliceViewFrame& f : state.views.roi_editor) EXPECT_TRUE(f.on_change != nullptr);

  ztr::test::ConsoleCapture quiet;
  clean_up_objects(state);
  EXPECT_TRUE(rois().empty());
  EXPECT_EQ(active(), nullptr);
}

TEST_F(RoiSessionTest, ADrawnSphereIsStoredIntoTheActiveRoiButNotIntoALockedOne) {
  draw_sphere(RoiPanel::Spherical, 20);
  EXPECT_EQ(active()->view.sphere_radius, 2.25f);
  // Drawing in the panel of another kind does not touch the active ROI.
  draw_sphere(RoiPanel::Freehand, 5);
  EXPECT_EQ(active()->view.sphere_radius, 2.25f);

  roi_force_locked_command(state, dialogs);
  ASSERT_EQ(active()->status, ZTR_ROI_LOCKED);
  EXPECT_TRUE(state.hooks.active_roi_locked(state));
  EXPECT_FALSE(frame(RoiPanel::Spherical).follow) << "a locked ROI's view stops following";
  draw_sphere(RoiPanel::Spherical, 40);
  EXPECT_EQ(active()->view.sphere_radius, 2.25f);
  // Another command that stores first keeps the locked ROI as it was, too.
  roi_new_spherical_command(state, dialogs);
  EXPECT_EQ(rois()[0]->view.sphere_radius, 2.25f);
}

TEST_F(RoiSessionTest, SelectingARowLoadsThatRoiIntoItsView) {
  draw_sphere(RoiPanel::Spherical, 20);
  const uint16_t first = active()->id;
  roi_new_spherical_command(state, dialogs);
  ASSERT_EQ(rois().size(), 4u);
  EXPECT_NE(active()->id, first);
  EXPECT_NE(frame(RoiPanel::Spherical).view.sphere_radius, 2.25f) << "the new ROI's own view";
  EXPECT_TRUE(frame(RoiPanel::Spherical).follow) << "a new ROI's view follows the host";
  draw_sphere(RoiPanel::Spherical, 4);
  const float second_radius = active()->view.sphere_radius;

  roi_select_command(state, first);
  EXPECT_EQ(active()->id, first);
  EXPECT_EQ(frame(RoiPanel::Spherical).view.sphere_radius, 2.25f);
  EXPECT_EQ(rois()[3]->view.sphere_radius, second_radius) << "the switch kept the other ROI";
}

TEST_F(RoiSessionTest, ListCommandsRenameDuplicateHideLockAndDelete) {
  dialogs.values.push_back({ZTR_DIALOG_OK, "left hippocampus"});
  roi_rename_command(state, dialogs);
  EXPECT_STREQ(active()->name, "left hippocampus");
  dialogs.values.push_back({0, "ignored"});
  roi_rename_command(state, dialogs);
  EXPECT_STREQ(active()->name, "left hippocampus");

  roi_duplicate_menu_command(state, dialogs);
  ASSERT_EQ(rois().size(), 4u);
  EXPECT_STREQ(active()->name, "copy of left hippocampus");

  roi_toggle_visibility_command(state, dialogs);
  EXPECT_EQ(active()->visibility, 0);
  roi_toggle_visibility_command(state, dialogs);
  EXPECT_EQ(active()->visibility, 1);
  roi_hide_only_selected_command(state, dialogs);
  EXPECT_EQ(active()->visibility, 0);
  EXPECT_EQ(rois()[0]->visibility, 1);

  roi_toggle_lock_command(state, dialogs);
  EXPECT_EQ(active()->status, ZTR_ROI_LOCKED);
  {
    ztr::test::ConsoleCapture console;
    roi_delete_menu_command(state, dialogs);
    EXPECT_EQ(console.finish(), "Undeletable ROI refered by study(ies)\n");
  }
  EXPECT_EQ(rois().size(), 4u);
  roi_toggle_lock_command(state, dialogs);
  EXPECT_EQ(active()->status, ZTR_ROI_FREE);
  roi_delete_menu_command(state, dialogs);
  EXPECT_EQ(rois().size(), 3u);
}

TEST_F(RoiSessionTest, F12SendsTheVisibleRoisAndF11AnEmptyGroup) {
  draw_sphere(RoiPanel::Spherical, 5);
  roi_objects_update_command(state, dialogs);
  EXPECT_EQ(state.objects_shown, 1);
  ASSERT_NE(state.display_group, nullptr);
  // The freehand ROI has no outline and the voxelgroup no voxels: one sphere only.
  ASSERT_EQ(state.display_group->count, 1);
  EXPECT_EQ(state.display_group->types[0], ZTR_OBJECT_TYPE_SPHERE);
  EXPECT_EQ(dialogs.message_line(), " ROI 3D objects NOT sent to ZANTREVIUM.")
      << "no host in this test";

  roi_objects_hide_command(state, dialogs);
  EXPECT_EQ(state.objects_shown, 0);
  ASSERT_NE(state.display_group, nullptr);
  EXPECT_EQ(state.display_group->count, 0);

  // Auto update: a list change while shown rebuilds the group; while off it does not.
  roi_objects_update_command(state, dialogs);
  roi_hide_all_command(state, dialogs);
  EXPECT_EQ(state.display_group->count, 1) << "auto update is off";
  roi_auto_update_on_command(state, dialogs);
  EXPECT_EQ(state.display_group->count, 0) << "switching it on sends at once";
  roi_show_all_command(state, dialogs);
  roi_hide_only_spherical_command(state, dialogs);
  EXPECT_EQ(state.display_group->count, 0);
  roi_show_all_command(state, dialogs);
  EXPECT_EQ(state.display_group->count, 1);
  roi_auto_update_off_command(state, dialogs);
  EXPECT_EQ(state.auto_update, 0);
}

TEST_F(RoiSessionTest, ConvertAppendsTheChannelOnlyWhenTheHostTookIt) {
  draw_sphere(RoiPanel::Spherical, 2);
  const int32_t before = state.volume->header->channels;
  int calls = 0;
  convert_visible_rois_command(state, dialogs, [&](const RawVolumeData*, int32_t) {
    ++calls;
    return -1;
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(state.volume->header->channels, before);
  EXPECT_EQ(dialogs.message_line(), " visible ROIs NOT converted.");

  // Without a host the program's own sender refuses as well.
  convert_visible_rois_command(state, dialogs);
  EXPECT_EQ(state.volume->header->channels, before);

  int64_t sent_voxels = 0;
  convert_visible_rois_command(state, dialogs, [&](const RawVolumeData* v, int32_t c) {
    const int16_t* data = ZTR_ChannelData<int16_t>(v, c);
    sent_voxels = std::count(data, data + 32 * 32 * 8, int16_t{1});
    return 0;
  });
  ASSERT_EQ(state.volume->header->channels, before + 1);
  EXPECT_EQ(sent_voxels, mask_count(visible_rois_mask(state.roi_editor.rois, {32, 32, 8})));
  EXPECT_GT(sent_voxels, 0);
  EXPECT_EQ(dialogs.message_line(), " visible ROIs converted to channel 2.");
}

TEST_F(RoiSessionTest, VoxelgroupButtonsEditTheActiveRoisMaskFromTheDrawnSeed) {
  voxelgroup_button_command(state, dialogs, VoxelGrowingButton::Clear);
  EXPECT_EQ(dialogs.message_line(), " select a voxelgroup ROI first.");

  const uint16_t voxelgroup = rois()[2]->id;
  roi_select_command(state, voxelgroup);
  draw_sphere(RoiPanel::Voxelgroup, 2);
  voxelgroup_button_command(state, dialogs, VoxelGrowingButton::Clear);
  const RoiViewState& panel = state.roi_editor.panel_of(ZTR_ROI_VOXELGROUP);
  const int64_t seeded = mask_count(panel.mask);
  EXPECT_GT(seeded, 0);
  ASSERT_TRUE(active()->group.has_value());
  std::vector<uint8_t> expanded(32 * 32 * 8, 0);
  EXPECT_EQ(expand_voxel_group(*active()->group, expanded, {32, 32, 8}), seeded);

  voxelgroup_button_command(state, dialogs, VoxelGrowingButton::Dilate);
  EXPECT_GT(mask_count(panel.mask), seeded);

  // The group survives a switch away and back.
  const int64_t dilated = mask_count(panel.mask);
  roi_select_command(state, rois()[0]->id);
  roi_select_command(state, voxelgroup);
  EXPECT_EQ(mask_count(state.roi_editor.panel_of(ZTR_ROI_VOXELGROUP).mask), dilated);

  // A locked voxelgroup ROI keeps its voxels.
  roi_force_locked_command(state, dialogs);
  {
    ztr::test::ConsoleCapture console;
    voxelgroup_button_command(state, dialogs, VoxelGrowingButton::Clear);
    EXPECT_EQ(console.finish(), "Uneditable ROI refered by study(ies)\n");
  }
  expanded.assign(expanded.size(), 0);
  EXPECT_EQ(expand_voxel_group(*active()->group, expanded, {32, 32, 8}), dilated);
}

TEST_F(RoiSessionTest, TheActiveRoiGoesToAFileAndComesBackAsANewRoi) {
  draw_sphere(RoiPanel::Spherical, 7);
  const std::string path = (dir / "sphere.roi").string();
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  export_roi_object_command(state, dialogs);
  EXPECT_EQ(dialogs.message_line(), " ROI object exported.");
  EXPECT_EQ(dialogs.file_kinds.back(), FileSelectionKind::Save);

  dialogs.files.push_back({0, ""});
  import_roi_object_command(state, dialogs);
  EXPECT_EQ(rois().size(), 3u) << "a cancelled import adds nothing";

  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  {
    ztr::test::ConsoleCapture quiet;
    import_roi_object_command(state, dialogs);
  }
  ASSERT_EQ(rois().size(), 4u);
  EXPECT_EQ(active()->id, rois()[3]->id);
  EXPECT_EQ(active()->type, ZTR_ROI_SPHERICAL);
  EXPECT_EQ(active()->view.sphere_radius, 1.4375f);
  EXPECT_EQ(frame(RoiPanel::Spherical).view.sphere_radius, 1.4375f);

  // A file that is not a ROI file: the notice, nothing added.
  const std::string junk = (dir / "junk.roi").string();
  ASSERT_TRUE(write_text_file(junk, "not a region\n"));
  dialogs.files.push_back({ZTR_DIALOG_OK, junk});
  {
    ztr::test::ConsoleCapture quiet;
    import_roi_object_command(state, dialogs);
  }
  EXPECT_EQ(rois().size(), 4u);
  EXPECT_EQ(dialogs.message_line(), " ROI object NOT imported.");
}

TEST_F(RoiSessionTest, VisibleRoisGoToANiftiMaskThatComesBackAsAVoxelgroupRoi) {
  draw_sphere(RoiPanel::Spherical, 3);
  const int64_t drawn = mask_count(visible_rois_mask(state.roi_editor.rois, {32, 32, 8}));
  ASSERT_GT(drawn, 0);
  const std::string path = (dir / "rois.nii.gz").string();
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  export_visible_rois_nifti_command(state, dialogs);
  EXPECT_EQ(dialogs.message_line(), " visible ROIs exported as a NIfTI mask.");
  EXPECT_EQ(dialogs.initial_names.back(), "rois.nii.gz");

  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  import_nifti_mask_command(state, dialogs);
  ASSERT_EQ(rois().size(), 4u);
  ASSERT_EQ(active()->type, ZTR_ROI_VOXELGROUP);
  EXPECT_EQ(mask_count(state.roi_editor.panel_of(ZTR_ROI_VOXELGROUP).mask), drawn);

  // A mask on another grid is refused with its reason on the message line.
  const std::string small = (dir / "small.nii").string();
  std::vector<uint8_t> mask(4 * 4 * 4, 1);
  std::string reason;
  ASSERT_TRUE(write_mask_nifti_file(mask, {4, 4, 4}, ImageGeometry{}, small, &reason)) << reason;
  dialogs.files.push_back({ZTR_DIALOG_OK, small});
  import_nifti_mask_command(state, dialogs);
  EXPECT_EQ(rois().size(), 4u);
  EXPECT_EQ(dialogs.message_line().rfind(" NIfTI mask NOT imported: ", 0), 0u)
      << dialogs.message_line();
}

TEST_F(RoiSessionTest, TheVoxelgroupViewTintsThePixelsOfTheMasksVoxels) {
  const SliceView& view = frame(RoiPanel::Voxelgroup).view;
  ASSERT_EQ(view.orientation, ZTR_VIEW_AXIAL);
  ASSERT_EQ(view.zoom, 16.0f);
  const GridSize size{32, 32, 8};
  std::vector<uint8_t> mask(32 * 32 * 8, 0);
  const int x = 20, y = 12, z = static_cast<int>(std::floor(view.centre[2]));
  mask[size_t((z * 32 + y) * 32 + x)] = 1;
  mask[size_t(((z + 1) % 8 * 32 + y) * 32 + x + 1)] = 1;  // another slice: not shown
  std::vector<uint32_t> pixels(ZTR_VIEW_PIXELS, 0xFF000000u);
  // One voxel is 16 x 16 pixels at zoom 16; its pixels turn half way to the colour.
  EXPECT_EQ(tint_mask_voxels(view, mask, size, 0xFF0000, pixels), 256);
  const int i = static_cast<int>((float(x) + 0.5f - view.centre[0]) * 16.0f) + 128;
  const int j = static_cast<int>((float(y) + 0.5f - view.centre[1]) * 16.0f) + 128;
  EXPECT_EQ(pixels[size_t(j * 256 + i)], 0xFF7F0000u);
  EXPECT_EQ(pixels[0], 0xFF000000u);
  // A mask of another grid tints nothing.
  std::vector<uint32_t> untouched(ZTR_VIEW_PIXELS, 0xFF000000u);
  EXPECT_EQ(tint_mask_voxels(view, std::vector<uint8_t>(10, 1), size, 0xFF0000, untouched), 0);

  // The voxelgroup frame paints the active voxelgroup ROI's mask, and nothing for other kinds.
  ASSERT_TRUE(frame(RoiPanel::Voxelgroup).decorate != nullptr);
  std::vector<uint32_t> painted(ZTR_VIEW_PIXELS, 0xFF000000u);
  state.roi_editor.panel_of(ZTR_ROI_VOXELGROUP).mask = mask;
  frame(RoiPanel::Voxelgroup).decorate(view, painted);
  EXPECT_EQ(painted, std::vector<uint32_t>(ZTR_VIEW_PIXELS, 0xFF000000u)) << "spherical is active";
  roi_select_command(state, rois()[2]->id);
  state.roi_editor.panel_of(ZTR_ROI_VOXELGROUP).mask = mask;
  frame(RoiPanel::Voxelgroup).decorate(frame(RoiPanel::Voxelgroup).view, painted);
  EXPECT_EQ(std::count_if(painted.begin(), painted.end(),
                          [](uint32_t p) { return p != 0xFF000000u; }),
            256);
}

TEST_F(RoiSessionTest, EraseBoxUsesTheHostsBroadcastBox) {
  state.broadcast.reset(ZTRipc_NewBroadcaster());
  ASSERT_NE(state.broadcast, nullptr);
  roi_select_command(state, rois()[2]->id);
  draw_sphere(RoiPanel::Voxelgroup, 40);
  voxelgroup_button_command(state, dialogs, VoxelGrowingButton::Clear);
  RoiViewState& panel = state.roi_editor.panel_of(ZTR_ROI_VOXELGROUP);
  const int64_t all = mask_count(panel.mask);
  ASSERT_GT(all, 0);
  // The new record's box is one voxel thick: nothing is erased.
  roi_erase_inside_box_command(state, dialogs);
  EXPECT_EQ(mask_count(panel.mask), all);
  // Left half of x: inside erases it, outside erases the rest; each is stored into the ROI.
  for (int a = 0; a < 3; ++a) state.broadcast->box_origin[a] = 0;
  state.broadcast->box_size[0] = 16;
  state.broadcast->box_size[1] = 32;
  state.broadcast->box_size[2] = 8;
  roi_erase_inside_box_command(state, dialogs);
  const int64_t right = mask_count(panel.mask);
  EXPECT_GT(right, 0);
  EXPECT_LT(right, all);
  for (int y = 0; y < 32; ++y) EXPECT_EQ(panel.mask[size_t((3 * 32 + y) * 32 + 15)], 0);
  std::vector<uint8_t> stored(32 * 32 * 8, 0);
  EXPECT_EQ(expand_voxel_group(*active()->group, stored, {32, 32, 8}), right);
  roi_erase_outside_box_command(state, dialogs);
  EXPECT_EQ(mask_count(panel.mask), 0);
}

TEST(RoiMenus, EveryRoiItemRunsACommand) {
  for (const MenuItemEntry& entry : roi_menu_items()) {
    if (!is_command_item(entry)) continue;
    EXPECT_NE(entry.handler, nullptr) << entry.path;
  }
  for (const char* path :
       {"/Setting/ROI 3D object/Hide", "/Setting/ROI 3D object/Show, Update",
        "/Setting/ROI 3D object/Auto update/On", "/File/Import/ROI object",
        "/File/Export/ROI object", "/File/Import/NIfTI mask as voxelgroup ROI",
        "/File/Export/Visible ROIs as NIfTI mask"}) {
    const auto items = main_menu_items();
    const auto it = std::find_if(items.begin(), items.end(), [&](const MenuItemEntry& e) {
      return std::string(e.path) == path;
    });
    ASSERT_NE(it, items.end()) << path;
    EXPECT_NE(it->handler, nullptr) << path;
  }
}

}  // namespace
