// The application's own sequences without a host: client number, the end of start-up,
// view reset, clean-up, the timer tick, the wall clock and start-up failures.
#include <gtest/gtest.h>

#include "analyzer/app/channel_upload.h"
#include "analyzer/app/session.h"
#include "analyzer/app/startup.h"
#include "analyzer/dti/mpg_setting.h"
#include "app_fixtures.h"
#include "scripted_dialogs.h"
#include "tests/support/console_capture.h"

namespace {

VolumePtr dwi_volume(int x = 8, int channels = 7) {
  VolumePtr volume = make_volume(x, 2, 2, channels);
  fill_int16(volume.get(), [](int c, int64_t i) { return 200 - c + i; });
  return volume;
}

}  // namespace

TEST(ClientNumber, ExactlyOneArgumentIsReadAsTheNumber) {
  const char* one[] = {"heLiXIA", "12"};
  const char* trailing[] = {"heLiXIA", "7abc"};
  EXPECT_EQ(parse_client_number(2, one), 12);
  EXPECT_EQ(parse_client_number(2, trailing), 7);
}

TEST(ClientNumber, NoArgumentOrMoreThanOneGivesZero) {
  const char* none[] = {"heLiXIA"};
  const char* two[] = {"heLiXIA", "12", "extra"};
  const char* word[] = {"heLiXIA", "twelve"};
  EXPECT_EQ(parse_client_number(1, none), 0);
  EXPECT_EQ(parse_client_number(3, two), 0);
  EXPECT_EQ(parse_client_number(2, word), 0);
}

TEST(WallClock, WaitEndsInALaterSecond) {
  const LocalTime before = read_local_time();
  wait_for_next_wall_clock_second();
  const LocalTime after = read_local_time();
  EXPECT_NE(before.second, after.second);
}

TEST(DataSourceText, IsCutToItsBuffer) {
  AppState state;
  state.set_data_source_text(std::string(6000, 'a'));
  EXPECT_EQ(state.data_source_text.size(), ZTR_DATA_SOURCE_TEXT_BYTES - 1);
}

TEST(DataSourceText, HostVolumeDescriptionNamesTheMatrix) {
  VolumePtr volume = make_volume(128, 96, 30, 7);
  EXPECT_EQ(ipc_data_source_text(*volume),
            "Data Source: IPC with ZANTREVIUM\nMatrix size: 128x96x30 x 7(ch)\n");
}

TEST(ViewReset, DrawingScalesFollowTheMatrixWidth) {
  AppState state;
  ScriptedDialogs dialogs;
  state.volume = make_volume(128, 2, 2, 1);
  reset_slice_views(state, dialogs);
  // base = 128 / 256 = 0.5
  const std::array<float, 7> expected{0.5f, 0.5f, 0.75f, 0.25f, 1.0f, 1.5f, 2.0f};
  EXPECT_EQ(state.drawing_scales, expected);
  EXPECT_EQ(dialogs.count("notice"), 0);  // no DTI data: no DWI notice
}

TEST(ViewReset, ReadyDataShowsTheDwiNoticeWithTheVolumesNumbers) {
  AppState state;
  ScriptedDialogs dialogs;
  {
    ztr::test::ConsoleCapture quiet;
    load_into_state(state, dwi_volume(8, 9));
  }
  int resets = 0;
  state.hooks.reset_views = [&](AppState&) { ++resets; };
  reset_slice_views(state, dialogs);
  EXPECT_EQ(resets, 1);
  ASSERT_EQ(dialogs.count("notice"), 1);
  const DialogEvent notice = dialogs.of_kind("notice")[0];
  EXPECT_EQ(notice.title, "Important Notice");
  EXPECT_EQ(notice.width, 444);
  EXPECT_EQ(notice.height, 333);
  EXPECT_NE(notice.text.find("  matrix size: 8 x 2 x 2 (9 channels)  \n"), std::string::npos);
  EXPECT_NE(notice.text.find("  b=0 data: ch.  1 - 1 "), std::string::npos);
  EXPECT_NE(notice.text.find("  b>0 data: ch. 2 - 9 (8 directions of MPG)\n"), std::string::npos);
  EXPECT_NE(notice.text.find("The default non-zero b value is 1000.0."), std::string::npos);
  EXPECT_TRUE(dialogs.every_notice_follows_a_beep());
}

TEST(CleanUp, ResetsCountersDeletesObjectsAndReports) {
  AppState state;
  state.counters.study_id = 4;
  state.counters.study_names = {1, 2, 3};
  int deletions = 0;
  state.hooks.delete_all_objects = [&](AppState&) { ++deletions; };
  ztr::test::ConsoleCapture console;
  clean_up_objects(state);
  EXPECT_EQ(console.finish(), "Clean-up old objects OK\n");
  EXPECT_EQ(deletions, 1);
  EXPECT_EQ(state.counters.study_id, 0);
  EXPECT_EQ(state.counters.study_names, (std::array<int, 3>{0, 0, 0}));
}

TEST(StartupEnd, WithoutRtnnsTheNoticeComesBeforeTheConsoleLine) {
  AppState state;
  ScriptedDialogs dialogs;
  {
    ztr::test::ConsoleCapture quiet;
    load_into_state(state, dwi_volume());
  }
  state.set_data_source_text("Data Source: test\n");
  ztr::test::ConsoleCapture console;
  startup_finish(state, dialogs);
  EXPECT_EQ(console.finish(), "RTNN not available\n");
  const auto notices = dialogs.of_kind("notice");
  ASSERT_EQ(notices.size(), 2u);  // the DWI data notice, then RTNN not ready
  EXPECT_EQ(notices[0].width, 444);
  EXPECT_EQ(notices[1].text, ZTR_RTNN_NOT_READY_NOTICE);
  EXPECT_EQ(notices[1].width, 340);
  EXPECT_EQ(notices[1].height, 140);
  EXPECT_EQ(dialogs.of_kind("memo").at(0).text, "Data Source: test\n");
  EXPECT_EQ(dialogs.message_line(), " initialized.");
  EXPECT_EQ(dialogs.count("beep"), 2);
}

TEST(StartupEnd, ReadyRtnnsArePrintedAndNotNoticed) {
  AppState state;
  ScriptedDialogs dialogs;
  {
    ztr::test::ConsoleCapture quiet;
    load_into_state(state, dwi_volume());
  }
  state.hooks.prepare_rtnns = [](AppState&) { return 2; };
  ztr::test::ConsoleCapture console;
  startup_finish(state, dialogs);
  EXPECT_EQ(console.finish(), "RTNN ready (2 rtnns)\n");
  EXPECT_EQ(dialogs.count("notice"), 1);
}

TEST(StartupEnd, NotReadyDataShowsTheMpgNoticeAndMessage) {
  AppState state;
  ScriptedDialogs dialogs;
  {
    ztr::test::ConsoleCapture quiet;
    load_into_state(state, dwi_volume(8, 6));  // 5 directions: not ready
  }
  ASSERT_FALSE(state.dti_ready());
  startup_finish(state, dialogs);
  const auto notices = dialogs.of_kind("notice");
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[1].text, ZTR_MPG_NOT_READY_NOTICE);
  EXPECT_EQ(dialogs.message_line(), " MPG not ready.");
}

TEST(TimerTick, WithoutIpcNothingIsRead) {
  AppState state;
  ScriptedDialogs dialogs;
  state.initialized = 1;
  dialogs.page = 2;
  ztr::test::ConsoleCapture console;
  timer_tick(state, dialogs);
  EXPECT_EQ(console.finish(), "");
  EXPECT_EQ(state.page_mode, ZTR_PAGE_MODE_STUDY);
}

TEST(TimerTick, FollowsNotebookPagesAndReportsBroadcastErrors) {
  AppState state;
  ScriptedDialogs dialogs;
  state.ipc_available = 1;  // no client session: every broadcast read fails
  state.broadcast.reset(ZTRipc_NewBroadcaster());
  state.initialized = 1;
  int list_refreshes = 0, rebuilds = 0, follows = 0;
  state.hooks.refresh_lists = [&](AppState&) { ++list_refreshes; };
  state.hooks.rebuild_display_group = [&](AppState&) { ++rebuilds; };
  state.hooks.follow_host_cursor = [&](AppState&) { ++follows; };

  ztr::test::ConsoleCapture console;
  dialogs.page = 2;
  timer_tick(state, dialogs);
  EXPECT_EQ(state.page_mode, ZTR_PAGE_MODE_OTHER);
  EXPECT_EQ(state.last_page, 2);
  EXPECT_EQ(list_refreshes, 0);

  state.auto_update = 1;
  state.objects_shown = 1;
  dialogs.page = 0;
  timer_tick(state, dialogs);
  EXPECT_EQ(state.page_mode, ZTR_PAGE_MODE_STUDY);
  EXPECT_EQ(list_refreshes, 1);
  EXPECT_EQ(rebuilds, 1);

  timer_tick(state, dialogs);  // same page: nothing more
  EXPECT_EQ(list_refreshes, 1);
  EXPECT_EQ(rebuilds, 1);
  EXPECT_EQ(follows, 3);
  EXPECT_EQ(console.finish(),
            "broadcasted info acquisition error\n"
            "broadcasted info acquisition error\n"
            "broadcasted info acquisition error\n");
}

TEST(TimerTick, RealtimeAnalysisReplacesTheMonitorText) {
  AppState state;
  ScriptedDialogs dialogs;
  state.ipc_available = 1;
  state.broadcast.reset(ZTRipc_NewBroadcaster());
  state.broadcast->cursor[0] = 3.9f;
  state.broadcast->cursor[1] = 1.2f;
  state.broadcast->cursor[2] = 0.5f;
  state.realtime_analysis = 1;
  state.hooks.analyse_voxel = [](AppState&, int x, int y, int z) {
    return std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(z);
  };
  ztr::test::ConsoleCapture quiet;
  timer_tick(state, dialogs);
  ASSERT_EQ(dialogs.count("monitor"), 1);
  EXPECT_EQ(dialogs.of_kind("monitor")[0].text, "3,1,0");  // truncated toward zero
}

TEST(Startup, WithoutAHostTheProgramEndsWithStatusZeroBeforeAnyWindow) {
  ScriptedDialogs frontend;
  const char* argv[] = {"heLiXIA", "9731"};
  ztr::test::ConsoleCapture console;
  const int status = run_helixia(2, argv, frontend);
  const std::string text = console.finish();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(text.rfind("IPC NOT available (IPC Client initialization failure)\n", 0), 0u) << text;
  EXPECT_NE(text.find(">> Establishing connection ... "), std::string::npos);
  EXPECT_EQ(text.find("OK\n"), std::string::npos);
  EXPECT_FALSE(frontend.window_built);
  EXPECT_EQ(frontend.count("notice"), 0);
}

TEST(Startup, AVisualThatIsNotTrueColorEndsSilentlyBeforeTheDownload) {
  ScriptedDialogs frontend;
  frontend.visual_ok = false;
  const char* argv[] = {"heLiXIA", "9732"};
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(run_helixia(2, argv, frontend), 0);
  const std::string text = console.finish();
  EXPECT_EQ(text.find(">> Establishing connection"), std::string::npos) << text;
  EXPECT_FALSE(frontend.window_built);
}
