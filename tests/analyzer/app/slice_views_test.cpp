// The application's slice views: binding to the session's volume, following the host, and
// the ROI palette frame commands on the exposed view, with scripted dialogs.
#include "analyzer/app/slice_views.h"

#include <gtest/gtest.h>

#include "analyzer/app/app_state.h"
#include "analyzer/app/menu_tables.h"
#include "tests/analyzer/app/app_fixtures.h"
#include "tests/analyzer/app/scripted_dialogs.h"

namespace {

// A state holding a 16 x 16 x 8 volume of `channels` channels, channel c = 100 (c + 1) + x,
// with the views reset on it and the spherical ROI view exposed.
class PaletteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VolumePtr volume = make_volume(16, 16, 8, 4);
    fill_int16(volume.get(), [](int c, int64_t i) { return 100 * (c + 1) + static_cast<int>(i % 16); });
    state.volume = std::move(volume);
    reset_views(state);
    state.views.exposed = &frame();
  }
  SliceViewFrame& frame() { return state.views.roi_view(RoiPanel::Spherical); }
  AppState state;
  ScriptedDialogs dialogs;
};

}  // namespace

TEST_F(PaletteTest, ResetBindsEveryViewFollowingAtTheZoomOfANewRoi) {
  for (const SliceViewFrame& f : state.views.roi_editor) {
    EXPECT_EQ(f.volume, state.volume.get());
    EXPECT_TRUE(f.follow);
    EXPECT_EQ(f.view.zoom, 512.0f / 16.0f);
    EXPECT_EQ(f.view.centre, (Vec3{8, 8, 4}));
    EXPECT_EQ(f.view.sphere_centre, (Vec3{8, 8, 4}));
  }
  EXPECT_EQ(state.views.roi_view(RoiPanel::Freehand).view.drawing_mode, ZTR_DRAW_FREEHAND);
  EXPECT_EQ(state.views.roi_view(RoiPanel::Spherical).view.drawing_mode, ZTR_DRAW_SPHERE);
  release_views(state);
  EXPECT_EQ(state.views.exposed, nullptr);
  EXPECT_EQ(frame().volume, nullptr);
}

TEST_F(PaletteTest, ChannelCommandsMoveTheExposedViewAndStopAtTheEnds) {
  struct Step {
    MenuCommand command;
    int expect;
  } steps[] = {{channel_last_command, 3},     {channel_next_command, 3},
               {channel_previous_command, 2}, {channel_first_command, 0},
               {channel_previous_command, 0}, {channel_next_command, 1}};
  for (const Step& s : steps) {
    frame().view.point_count = 2;
    const int before = frame().view.channel;
    s.command(state, dialogs);
    EXPECT_EQ(frame().view.channel, s.expect);
    // A command that moves clears the outline; one that stays at an end changes nothing.
    EXPECT_EQ(frame().view.point_count, before == s.expect ? 2 : 0);
  }
  // Channel 1 at the centre: 200 + 8; its window was adjusted from its own values.
  EXPECT_EQ(frame().view.image[128 * ZTR_VIEW_SIZE + 128], 208.0f);
  EXPECT_FLOAT_EQ(frame().view.window_low, 0.5f * 204.0f);
}

TEST_F(PaletteTest, ChannelCommandsLeaveALockedRoiAloneOutsideTheStudyPage) {
  bool locked = true;
  state.hooks.active_roi_locked = [&](AppState&) { return locked; };
  state.page_mode = ZTR_PAGE_MODE_OTHER;
  channel_last_command(state, dialogs);
  EXPECT_EQ(frame().view.channel, 0);
  state.page_mode = ZTR_PAGE_MODE_STUDY;
  channel_last_command(state, dialogs);
  EXPECT_EQ(frame().view.channel, 3);
  locked = false;
  state.page_mode = ZTR_PAGE_MODE_OTHER;
  channel_first_command(state, dialogs);
  EXPECT_EQ(frame().view.channel, 0);
}

TEST_F(PaletteTest, WithoutAnExposedViewCommandsDoNothingAndUploadSaysSo) {
  state.views.exposed = nullptr;
  for (MenuCommand command : {channel_first_command, channel_last_command, channel_next_command,
                              channel_previous_command, adjust_greyscale_command,
                              set_center_z_command, guideline_z_command,
                              orientation_sagittal_command}) {
    command(state, dialogs);
  }
  EXPECT_EQ(frame().view.channel, 0);
  EXPECT_EQ(frame().view.orientation, ZTR_VIEW_AXIAL);
  EXPECT_EQ(frame().view.guideline_mode, ZTR_GUIDELINE_NONE);
  EXPECT_EQ(dialogs.count("value"), 0);
  EXPECT_EQ(dialogs.count("notice"), 0);
  upload_current_channel_command(state, dialogs);
  ASSERT_EQ(dialogs.count("notice"), 1);
  const DialogEvent notice = dialogs.of_kind("notice")[0];
  EXPECT_EQ(notice.title, "Important Notice");
  EXPECT_EQ(notice.text, "No ROI palette frame is exposed.");
  EXPECT_EQ(notice.width, 240);
  EXPECT_EQ(notice.height, 100);
  EXPECT_EQ(dialogs.count("beep"), 1);
  EXPECT_EQ(dialogs.count("message"), 0) << "nothing is reported as uploaded";
}

TEST_F(PaletteTest, CenterZFactorIsAcceptedOnlyStrictlyBetweenZeroAndOne) {
  struct Case {
    int result;
    const char* text;
    float expect;
  } cases[] = {{ZTR_DIALOG_OK, "1.0", 0.5f},  {ZTR_DIALOG_OK, "0.0", 0.5f},
               {ZTR_DIALOG_OK, "abc", 0.5f},  {0, "0.25", 0.5f},
               {ZTR_DIALOG_OK, "0.25", 0.25f}};
  for (const Case& c : cases) {
    frame().view.centre_z_factor = 0.5f;
    dialogs.values.push_back({c.result, c.text});
    set_center_z_command(state, dialogs);
    EXPECT_EQ(frame().view.centre_z_factor, c.expect) << c.text;
    EXPECT_EQ(frame().view.sphere_centre[2], 8.0f * c.expect) << c.text;
  }
  const auto prompts = dialogs.of_kind("value");
  ASSERT_EQ(prompts.size(), 5u);
  EXPECT_EQ(prompts[0].title, "Center Z factor");
  EXPECT_EQ(prompts[0].text, "0.500");
}

TEST_F(PaletteTest, GuidelineAndOrientationItemsActOnTheExposedView) {
  guideline_xz_command(state, dialogs);
  EXPECT_EQ(frame().view.guideline_mode, ZTR_GUIDELINE_XZ);
  guideline_z_command(state, dialogs);
  EXPECT_EQ(frame().view.guideline_mode, ZTR_GUIDELINE_Z);
  guideline_none_command(state, dialogs);
  EXPECT_EQ(frame().view.guideline_mode, ZTR_GUIDELINE_NONE);
  frame().follow = false;
  orientation_coronal_command(state, dialogs);
  EXPECT_EQ(frame().view.orientation, ZTR_VIEW_CORONAL);
  EXPECT_TRUE(frame().follow) << "a user's choice follows the host again";
  EXPECT_EQ(frame().view.v, (Vec3{0, 0, 1}));
  EXPECT_EQ(state.views.roi_view(RoiPanel::Freehand).view.orientation, ZTR_VIEW_AXIAL);
}

TEST_F(PaletteTest, FollowingViewsTakeTheBroadcastCursor) {
  state.broadcast.reset(ZTRipc_NewBroadcaster());
  ASSERT_TRUE(state.broadcast);
  state.broadcast->cursor[0] = 2;
  state.broadcast->cursor[1] = 3;
  state.broadcast->cursor[2] = 1;
  state.views.roi_view(RoiPanel::Freehand).follow = false;
  follow_host_cursor(state);
  EXPECT_EQ(state.views.roi_view(RoiPanel::Spherical).view.centre, (Vec3{2, 3, 1}));
  EXPECT_EQ(state.views.roi_view(RoiPanel::Voxelgroup).view.centre, (Vec3{2, 3, 1}));
  EXPECT_EQ(state.views.roi_view(RoiPanel::Freehand).view.centre, (Vec3{8, 8, 4}));
  // The sphere centre of the map does not follow.
  EXPECT_EQ(state.views.roi_view(RoiPanel::Spherical).view.sphere_centre, (Vec3{8, 8, 4}));
}

TEST(PaletteMenu, PaletteAndOrientationItemsHaveTheirCommands) {
  const std::pair<const char*, MenuCommand> built[] = {
      {"/Special/ROI palette frame/Channel/First", channel_first_command},
      {"/Special/ROI palette frame/Channel/Last", channel_last_command},
      {"/Special/ROI palette frame/Channel/Next", channel_next_command},
      {"/Special/ROI palette frame/Channel/Previous", channel_previous_command},
      {"/Special/ROI palette frame/Upload current channel", upload_current_channel_command},
      {"/Special/ROI palette frame/Adjust greyscale", adjust_greyscale_command},
      {"/Special/ROI palette frame/Sphericalmap/Set center Z slice", set_center_z_command},
      {"/Special/ROI palette frame/Sphericalmap/Show guideline/XZ", guideline_xz_command},
  };
  for (auto [path, handler] : built) {
    const MenuItemEntry* found = nullptr;
    for (const MenuItemEntry& e : main_menu_items()) {
      if (std::string(e.path) == path) found = &e;
    }
    ASSERT_NE(found, nullptr) << path;
    EXPECT_EQ(found->handler, handler) << path;
  }
  for (const MenuItemEntry& e : orientation_menu_items()) {
    if (!is_command_item(e)) continue;
    const std::string label(menu_label(e.path));
    EXPECT_NE(orientation_code_for_label(label.c_str()), 0) << e.path;
    EXPECT_NE(e.handler, nullptr) << e.path;
  }
  EXPECT_STREQ(orientation_bar_title(ZTR_VIEW_SPHERICAL), "Spherical");
  EXPECT_STREQ(orientation_bar_title(ZTR_VIEW_AXIAL), " Axial  ");
}

TEST_F(PaletteTest, AStoredViewLoadsBackWithItsDrawingIntoAnotherFrame) {
  SliceViewFrame& drawn = state.views.roi_view(RoiPanel::Freehand);
  drawn.view.zoom = 1.0f;
  redraw_frame(drawn);
  view_button_press(drawn, 10, 10, 1, false);
  view_pointer_motion(drawn, 40, 10);
  view_pointer_motion(drawn, 40, 40);
  view_button_release(drawn, 40, 40, 1);
  SliceView stored;
  store_view(drawn, stored);
  stored.channel = 9;  // from a volume with more channels

  SliceViewFrame& other = state.views.roi_view(RoiPanel::Voxelgroup);
  other.follow = true;
  load_view(other, stored);
  EXPECT_EQ(other.view.point_count, 3);
  EXPECT_EQ(other.view.outline[2], (ViewPoint{40, 40}));
  EXPECT_EQ(other.view.overlay, drawn.view.overlay);
  EXPECT_EQ(other.view.channel, 0);
  EXPECT_TRUE(other.follow) << "loading is no user choice";
  EXPECT_EQ(other.view.image, drawn.view.image);
}

TEST_F(PaletteTest, RefreshShowsNewValuesAndFallsBackWhenTheChannelIsGone) {
  frame().view.point_count = 2;
  frame().follow = false;
  show_channel(state.views.roi_view(RoiPanel::Freehand), 3);
  fill_int16(state.volume.get(), [](int, int64_t) { return 7; });
  refresh_views(state);
  EXPECT_EQ(frame().view.image[128 * ZTR_VIEW_SIZE + 128], 7.0f);
  EXPECT_EQ(frame().view.point_count, 2);
  EXPECT_FALSE(frame().follow);
  VolumePtr fewer = make_volume(16, 16, 8, 2);
  ZTR_SwapRawVolumeData(state.volume.get(), fewer.get());
  refresh_views(state);
  EXPECT_EQ(state.views.roi_view(RoiPanel::Freehand).view.channel, 0);
}

TEST_F(PaletteTest, AnUploadWithoutAHostIsReportedAsFailed) {
  // No client session: the append is refused at once.
  upload_current_channel_command(state, dialogs);
  EXPECT_EQ(dialogs.of_kind("message").front().text, " uploading channel 0 ...");
  EXPECT_EQ(dialogs.message_line(), " upload of channel 0 failed.");
}
