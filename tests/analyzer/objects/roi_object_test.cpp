// ROI records, the list and the editor's commands: colours, names, working copies, locking,
// duplication, deletion, visibility and box erasing.
#include "analyzer/objects/roi_commands.h"
#include "analyzer/objects/roi_object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "tests/support/console_capture.h"

namespace {

const GridSize kGrid{16, 12, 8};

std::vector<uint8_t> mask_with(const GridSize& size, std::initializer_list<std::array<int, 3>> voxels) {
  std::vector<uint8_t> mask(size_t(size[0] * size[1] * size[2]), 0);
  for (const auto& v : voxels) mask[size_t((v[2] * size[1] + v[1]) * size[0] + v[0])] = 1;
  return mask;
}

}  // namespace

TEST(RoiObject, NewRoiColourFollowsTheBitsOfIdPlusOne) {
  struct Case { uint16_t id; std::array<uint16_t, 3> colour; };
  // n = id + 1: 1 -> red 9F; 2 -> green 9F; 8 -> red 1F | 40 = 5F; 64 -> red 1F | 20 = 3F;
  // 255 (n = 0 after the byte wraps) -> the base colour.
  const Case cases[] = {{0, {0x9F00, 0x1F00, 0x3F00}},
                        {1, {0x1F00, 0x9F00, 0x3F00}},
                        {7, {0x5F00, 0x1F00, 0x3F00}},
                        {63, {0x3F00, 0x1F00, 0x3F00}},
                        {255, {0x1F00, 0x1F00, 0x3F00}}};
  for (const Case& c : cases) EXPECT_EQ(new_roi_colour(c.id), c.colour) << "ID " << c.id;
}

TEST(RoiObject, NamesAndIdsCountPerKindAndRestartAfterCleanUp) {
  RoiEditor editor;
  create_initial_rois(editor, kGrid);
  ROI_OBJECT* second = roi_new_command(editor, ZTR_ROI_SPHERICAL, kGrid);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(second->name, "Spherical 2");
  EXPECT_EQ(second->id, 3);
  const auto items = roi_items(editor.rois);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_STREQ(items[0]->name, "Spherical 1");
  EXPECT_STREQ(items[1]->name, "Freehand 1");
  EXPECT_STREQ(items[2]->name, "Voxelgroup 1");
  EXPECT_EQ(editor.rois.active_id, 3);

  delete_all_roi_objects(editor);
  EXPECT_EQ(editor.rois.list->count, 0);
  EXPECT_EQ(editor.rois.active_id, ZTR_ROI_NO_ID);
  ROI_OBJECT* again = roi_new_command(editor, ZTR_ROI_FREEHAND, kGrid);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->id, 0);
  EXPECT_STREQ(again->name, "Freehand 1");
}

TEST(RoiObject, InvalidKindAddsNothing) {
  RoiList rois;
  ztr::test::ConsoleCapture capture;
  EXPECT_EQ(new_roi_object(rois, 3, kGrid), nullptr);
  EXPECT_EQ(capture.finish(), "Err: Invalid ROI object type\nErr: new_roi_object\n");
  EXPECT_EQ(rois.list->count, 0);
  EXPECT_EQ(rois.next_id, 0);
}

TEST(RoiObject, NewViewSitsInTheMiddleWithAtLeastOneVoxelRadius) {
  // x = 32: 32 / 256 * 5 = 0.625 would truncate to 0; the radius stays at one voxel.
  const RoiView small = new_roi_view({32, 20, 10});
  EXPECT_FLOAT_EQ(small.sphere_radius, 1.0f);
  EXPECT_FLOAT_EQ(small.zoom, 16.0f);
  EXPECT_EQ(small.centre, (Vec3{16.0f, 10.0f, 5.0f}));
  EXPECT_EQ(small.sphere_centre, small.centre);
  // x = 256: radius 5, zoom 2.
  const RoiView large = new_roi_view({256, 256, 60});
  EXPECT_FLOAT_EQ(large.sphere_radius, 5.0f);
  EXPECT_FLOAT_EQ(large.zoom, 2.0f);
}

TEST(VoxelGroup, MaskToGroupToMaskIsTheIdentity) {
  const std::vector<uint8_t> mask = mask_with(kGrid, {{2, 3, 1}, {9, 3, 1}, {5, 11, 6}, {2, 4, 7}});
  const auto group = voxel_group_from_mask(mask, kGrid);
  ASSERT_TRUE(group.has_value());
  // Bounding box x 2..9, y 3..11, z 1..7.
  EXPECT_EQ(group->origin, (std::array<int32_t, 3>{2, 3, 1}));
  EXPECT_EQ(group->size, (std::array<int32_t, 3>{8, 9, 7}));
  EXPECT_EQ(group->storage, ZTR_GROUP_BITS);
  EXPECT_EQ(group->data.size(), size_t(8 * 9 * 7 / 8 + 1));
  std::vector<uint8_t> back(mask.size(), 0);
  EXPECT_EQ(expand_voxel_group(*group, back, kGrid), 4);
  EXPECT_EQ(back, mask);
}

TEST(VoxelGroup, EmptyMaskHasNoGroupAndTenCubedBoxTakes126Bytes) {
  EXPECT_FALSE(voxel_group_from_mask(std::vector<uint8_t>(16 * 12 * 8, 0), kGrid).has_value());
  std::vector<uint8_t> cube(20 * 20 * 20, 0);
  cube[0] = 1;
  cube[(9 * 20 + 9) * 20 + 9] = 1;
  const auto group = voxel_group_from_mask(cube, {20, 20, 20});
  ASSERT_TRUE(group.has_value());
  EXPECT_EQ(group->data.size(), 126u);  // 1000 / 8 + 1
}

TEST(VoxelGroup, ExpansionOntoASmallerVolumeSkipsWhatLiesOutside) {
  // A group drawn on 32 x 32 x 8 whose box runs past a 16 x 12 x 8 volume.
  std::vector<uint8_t> big(32 * 32 * 8, 0);
  big[(2 * 32 + 10) * 32 + 14] = 1;  // (14, 10, 2): inside the small volume
  big[(2 * 32 + 10) * 32 + 30] = 1;  // (30, 10, 2): outside in x
  big[(7 * 32 + 31) * 32 + 15] = 1;  // (15, 31, 7): outside in y
  const auto group = voxel_group_from_mask(big, {32, 32, 8});
  ASSERT_TRUE(group.has_value());
  std::vector<uint8_t> small(16 * 12 * 8, 0);
  EXPECT_EQ(expand_voxel_group(*group, small, kGrid), 1);
  EXPECT_EQ(small[(2 * 12 + 10) * 16 + 14], 1);
  // A box entirely before the grid's origin sets nothing.
  VoxelGroup before = *group;
  before.origin = {-100, 0, 0};
  EXPECT_EQ(expand_voxel_group(before, small, kGrid), 0);
}

TEST(RoiWorkingCopy, SwitchingBetweenVoxelgroupsKeepsEachOnesVoxels) {
  RoiEditor editor;
  ROI_OBJECT* a = roi_new_command(editor, ZTR_ROI_VOXELGROUP, kGrid);
  RoiViewState& panel = editor.panel_of(ZTR_ROI_VOXELGROUP);
  panel.mask = mask_with(kGrid, {{1, 1, 1}, {2, 1, 1}});
  ROI_OBJECT* b = roi_new_command(editor, ZTR_ROI_VOXELGROUP, kGrid);  // stores A
  const uint16_t a_id = a->id, b_id = b->id;
  EXPECT_TRUE(std::all_of(panel.mask.begin(), panel.mask.end(), [](uint8_t v) { return v == 0; }))
      << "a new voxelgroup ROI must start from an empty mask";
  panel.mask = mask_with(kGrid, {{5, 5, 5}});

  ASSERT_EQ(roi_select(editor, a_id, kGrid), 0);  // stores B, loads A
  EXPECT_EQ(panel.mask, mask_with(kGrid, {{1, 1, 1}, {2, 1, 1}}));
  ASSERT_EQ(roi_select(editor, b_id, kGrid), 0);  // stores A (unchanged), loads B
  EXPECT_EQ(panel.mask, mask_with(kGrid, {{5, 5, 5}}));
  ASSERT_EQ(roi_select(editor, a_id, kGrid), 0);
  EXPECT_EQ(panel.mask, mask_with(kGrid, {{1, 1, 1}, {2, 1, 1}}));

  std::vector<uint8_t> out(panel.mask.size(), 0);
  expand_voxel_group(*find_roi(editor.rois, b_id)->group, out, kGrid);
  EXPECT_EQ(out, mask_with(kGrid, {{5, 5, 5}}));
}

TEST(RoiWorkingCopy, StoringIntoALockedRoiChangesNothingAndLoadingItStopsFollowing) {
  RoiEditor editor;
  ROI_OBJECT* roi = roi_new_command(editor, ZTR_ROI_SPHERICAL, kGrid);
  RoiViewState& panel = editor.panel_of(ZTR_ROI_SPHERICAL);
  EXPECT_TRUE(panel.follow_host);
  panel.view.centre = {3, 4, 5};
  ASSERT_EQ(roi_force_status(editor, ZTR_ROI_LOCKED), 0);
  EXPECT_EQ(roi->view.centre, (Vec3{3, 4, 5})) << "locking keeps the last free edit";
  EXPECT_FALSE(panel.follow_host);
  EXPECT_FALSE(panel.editable);

  // The cursor moves the panel's view anyway: a store must not reach the locked ROI.
  panel.view.centre = {9, 9, 1};
  EXPECT_EQ(store_view_state_into_roi(panel, *roi), -1);
  roi_new_command(editor, ZTR_ROI_SPHERICAL, kGrid);  // stores the active (locked) ROI
  EXPECT_EQ(roi->view.centre, (Vec3{3, 4, 5}));

  RoiViewState fresh;
  fresh.follow_host = true;
  load_roi_into_view_state(*roi, kGrid, fresh);
  EXPECT_FALSE(fresh.follow_host);
  EXPECT_FALSE(fresh.editable);
}

TEST(RoiCommands, NamesStayWithinTheirFieldThroughRenameAndRepeatedDuplicates) {
  RoiEditor editor;
  ROI_OBJECT* roi = roi_new_command(editor, ZTR_ROI_SPHERICAL, kGrid);
  roi_rename(*roi, std::string(400, 'n'));
  EXPECT_EQ(std::strlen(roi->name), 255u);
  roi_rename(*roi, "Left CST");
  EXPECT_STREQ(roi->name, "Left CST");
  for (int i = 0; i < 40; ++i) ASSERT_NE(roi_duplicate_command(editor, kGrid), nullptr);
  const ROI_OBJECT* last = get_active_roi(editor.rois);
  EXPECT_EQ(std::strlen(last->name), 255u);
  EXPECT_EQ(std::string(last->name).substr(0, 16), "copy of copy of ");
  EXPECT_EQ(last->name[255], '\0');
}

TEST(RoiCommands, DuplicateCopiesTheRegionButNotIdentityColourOrStatus) {
  RoiEditor editor;
  ROI_OBJECT* source = roi_new_command(editor, ZTR_ROI_VOXELGROUP, kGrid);
  RoiViewState& panel = editor.panel_of(ZTR_ROI_VOXELGROUP);
  panel.mask = mask_with(kGrid, {{4, 4, 4}});
  panel.growing.criterion = ZTR_VOXEL_GROWING_SIGNAL;
  panel.growing.min_fa = 0.3f;
  panel.growing.max_signal = 900.0f;
  source->visibility = 0;
  ROI_OBJECT* copy = roi_duplicate_command(editor, kGrid);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->id, source->id);
  EXPECT_STREQ(copy->name, "copy of Voxelgroup 1");
  EXPECT_EQ(copy->colour, new_roi_colour(copy->id));
  EXPECT_EQ(copy->status, ZTR_ROI_FREE);
  EXPECT_EQ(copy->visibility, 1);
  ASSERT_TRUE(copy->group.has_value());
  EXPECT_EQ(copy->group->data, source->group->data);
  EXPECT_EQ(copy->growing.mode(), ZTR_VOXEL_GROWING_SIGNAL);
  EXPECT_FLOAT_EQ(copy->growing.max_signal(), 900.0f);
  EXPECT_EQ(editor.rois.active_id, copy->id);
  EXPECT_EQ(panel.mask, mask_with(kGrid, {{4, 4, 4}}));
  EXPECT_FALSE(panel.follow_host);
}

TEST(RoiCommands, DeleteRefusesALockedRoiAndEmptiesTheListOtherwise) {
  RoiEditor editor;
  roi_new_command(editor, ZTR_ROI_FREEHAND, kGrid);
  roi_force_status(editor, ZTR_ROI_LOCKED);
  {
    ztr::test::ConsoleCapture capture;
    EXPECT_EQ(roi_delete_command(editor), -1);
    EXPECT_EQ(capture.finish(), "Undeletable ROI refered by study(ies)\n");
  }
  EXPECT_EQ(editor.rois.list->count, 1);
  roi_force_status(editor, ZTR_ROI_FREE);
  EXPECT_EQ(roi_delete_command(editor), 0);
  EXPECT_EQ(editor.rois.list->count, 0);
  EXPECT_EQ(editor.rois.active_id, ZTR_ROI_NO_ID);
  EXPECT_EQ(roi_delete_command(editor), -1) << "nothing active: nothing to delete";
  EXPECT_EQ(roi_duplicate_command(editor, kGrid), nullptr);
}

TEST(RoiCommands, VisibilityCommandsSetEachRoi) {
  RoiEditor editor;
  create_initial_rois(editor, kGrid);          // Sp 0, Fh 1, Vg 2 (active)
  roi_new_command(editor, ZTR_ROI_FREEHAND, kGrid);  // Fh 3 (active)
  auto visible = [&] {
    std::string out;
    for (const ROI_OBJECT* r : roi_items(editor.rois)) out += r->visibility == 1 ? '+' : '-';
    return out;
  };
  struct Case { RoiVisibility command; int32_t kind; const char* expected; };
  const Case cases[] = {
      {RoiVisibility::HideAll, -1, "----"},
      {RoiVisibility::ShowOnlyKind, ZTR_ROI_FREEHAND, "-+-+"},
      {RoiVisibility::Invert, -1, "+-+-"},
      {RoiVisibility::HideOnlyKind, ZTR_ROI_SPHERICAL, "-+++"},
      {RoiVisibility::ShowOnlySelected, -1, "---+"},
      {RoiVisibility::HideOnlySelected, -1, "+++-"},
      {RoiVisibility::ShowAll, -1, "++++"},
  };
  for (const Case& c : cases) {
    roi_visibility_command(editor.rois, c.command, c.kind);
    EXPECT_EQ(visible(), c.expected) << int(c.command);
  }
  editor.rois.active_id = ZTR_ROI_NO_ID;
  roi_visibility_command(editor.rois, RoiVisibility::ShowOnlySelected);
  EXPECT_EQ(visible(), "----");
}

TEST(RoiCommands, EraseBoxClearsInsideOrOutsideAndIgnoresAThinBox) {
  const GridSize grid{6, 6, 6};
  RoiEditor editor;
  ROI_OBJECT* roi = roi_new_command(editor, ZTR_ROI_VOXELGROUP, grid);
  RoiViewState& panel = editor.panel_of(ZTR_ROI_VOXELGROUP);
  const std::vector<uint8_t> full(216, 1);
  panel.mask = full;
  EXPECT_EQ(roi_erase_box_command(editor, ZTR_BOX{}, true), -1) << "the default 1x1x1 box";
  EXPECT_EQ(panel.mask, full);

  const ZTR_BOX box{{1, 1, 1}, {2, 2, 2}};
  ASSERT_EQ(roi_erase_box_command(editor, box, true), 0);
  EXPECT_EQ(std::count(panel.mask.begin(), panel.mask.end(), 0), 8);
  ASSERT_TRUE(roi->group.has_value()) << "the erased mask is stored into the ROI";
  EXPECT_EQ(roi->group->size, (std::array<int32_t, 3>{6, 6, 6}));

  panel.mask = full;
  ASSERT_EQ(roi_erase_box_command(editor, box, false), 0);
  EXPECT_EQ(std::count(panel.mask.begin(), panel.mask.end(), 1), 8);
  EXPECT_EQ(roi->group->origin, (std::array<int32_t, 3>{1, 1, 1}));

  roi_new_command(editor, ZTR_ROI_SPHERICAL, grid);
  ztr::test::ConsoleCapture capture;
  EXPECT_EQ(roi_erase_box_command(editor, box, true), -1);
  EXPECT_EQ(capture.finish(), "Thi function is only for voxelgroup ROIs\n");
}

TEST(RoiCommands, ListRowsShowNumberKindVisibilityStatusAndName) {
  ROI_OBJECT roi;
  roi.type = ZTR_ROI_VOXELGROUP;
  roi.visibility = 0;
  roi.status = ZTR_ROI_LOCKED;
  set_roi_name(roi, "seed");
  EXPECT_EQ(roi_list_row(roi, 7), (std::array<std::string, 5>{"  7", "Vg", "-", "locked", "seed"}));
}

TEST(RoiCommands, SelectingDuringAListRedrawStoresNothing) {
  RoiEditor editor;
  ROI_OBJECT* first = roi_new_command(editor, ZTR_ROI_SPHERICAL, kGrid);
  ROI_OBJECT* second = roi_new_command(editor, ZTR_ROI_SPHERICAL, kGrid);
  const Vec3 kept = second->view.centre;
  editor.panel_of(ZTR_ROI_SPHERICAL).view.centre = {1, 2, 3};
  editor.rois.redrawing = true;
  ASSERT_EQ(roi_select(editor, first->id, kGrid), 0);
  editor.rois.redrawing = false;
  EXPECT_EQ(second->view.centre, kept);
  EXPECT_EQ(editor.rois.active_id, first->id);
  EXPECT_EQ(roi_select(editor, 999, kGrid), -1);
}

TEST(RoiCommands, LockListedRoisLocksExactlyTheListedOnes) {
  RoiList rois;
  for (int i = 0; i < 4; ++i) new_roi_object(rois, ZTR_ROI_SPHERICAL, kGrid);
  const uint16_t ids[] = {1, 3, 42};
  lock_listed_rois(rois, ids, 3);
  std::string status;
  for (const ROI_OBJECT* r : roi_items(rois)) status += r->status == ZTR_ROI_LOCKED ? 'L' : 'f';
  EXPECT_EQ(status, "fLfL");
}

TEST(RoiObject, GrowingSettingTravelsThroughTheStoredWords) {
  VOXEL_GROWING_SETTING setting;
  setting.mode = ZTR_VOXEL_GROWING_LOCAL_TENSOR;
  setting.min_fa = 0.31f;
  setting.max_angle = 12.5f;
  setting.max_step = 40;
  setting.channel = 6;
  setting.min_signal = 3.0f;
  setting.max_signal = 2500.0f;
  setting.principal_direction[0] = 0.6f;
  setting.principal_direction[2] = -0.8f;
  GrowingWords words = default_growing_words();
  words.words[11] = 0x12345678;  // a word nobody names rides along
  store_growing_setting(setting, &words);
  EXPECT_EQ(words.words[0], uint32_t(ZTR_VOXEL_GROWING_LOCAL_TENSOR));
  EXPECT_EQ(words.words[11], 0x12345678u);
  const VOXEL_GROWING_SETTING back = growing_setting_from_words(words);
  EXPECT_EQ(back.mode, setting.mode);
  EXPECT_EQ(back.min_fa, setting.min_fa);
  EXPECT_EQ(back.max_angle, setting.max_angle);
  EXPECT_EQ(back.max_step, setting.max_step);
  EXPECT_EQ(back.channel, 6);
  EXPECT_EQ(back.min_signal, setting.min_signal);
  EXPECT_EQ(back.max_signal, setting.max_signal);
  EXPECT_EQ(back.principal_direction[2], -0.8f);
  EXPECT_EQ(back.mask, nullptr);
}

TEST(RoiWorkingCopy, VoxelgroupControlsShowTheRoisCriteria) {
  ROI_OBJECT roi;
  roi.type = ZTR_ROI_VOXELGROUP;
  roi.growing.set(ZTR_VOXEL_GROWING_LOCAL_TENSOR, 0.4f, 9.0f, 7, 2.0f, 300.0f);
  RoiViewState panel;
  load_roi_into_view_state(roi, kGrid, panel);
  EXPECT_EQ(panel.growing.criterion, ZTR_VOXEL_GROWING_SIGNAL) << "only mode 27 is tensor property";
  EXPECT_EQ(panel.growing.max_step, 7);
  EXPECT_EQ(panel.growing.max_signal, 300.0f);
  roi.growing.set(ZTR_VOXEL_GROWING_TENSOR, 0.4f, 9.0f, 7, 2.0f, 300.0f);
  load_roi_into_view_state(roi, kGrid, panel);
  EXPECT_EQ(panel.growing.criterion, ZTR_VOXEL_GROWING_TENSOR);
  panel.growing.min_fa = 0.5f;
  ASSERT_EQ(store_view_state_into_roi(panel, roi), 0);
  EXPECT_EQ(roi.growing.min_fa(), 0.5f);
  EXPECT_EQ(roi.growing.mode(), ZTR_VOXEL_GROWING_TENSOR);
}
