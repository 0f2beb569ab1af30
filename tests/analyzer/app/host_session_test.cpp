// The analyzer against a real host process: start-up with its console lines and notices,
// imports and downloads over the boards, the paced upload of the standard maps, and
// shutdown leaving no object or board behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "analyzer/app/commands.h"
#include "analyzer/app/session.h"
#include "analyzer/app/startup.h"
#include "analyzer/dti/mpg_setting.h"
#include "app_fixtures.h"
#include "host_process.h"
#include "scripted_dialogs.h"
#include "tests/support/console_capture.h"

namespace {

// A 10 x 8 x 6 DWI volume of 7 signed 16-bit channels: b=0 signal 1000 in a centred block
// of tissue (200 outside), diffusion-weighted channels attenuated differently per direction.
VolumePtr dwi_phantom(int channels = 7) {
  VolumePtr volume = make_volume(10, 8, 6, channels);
  const VolumeHeader& h = *volume->header;
  fill_int16(volume.get(), [&](int c, int64_t i) {
    const int x = static_cast<int>(i % h.x), y = static_cast<int>(i / h.x % h.y),
              z = static_cast<int>(i / (h.x * h.y));
    const bool tissue = x >= 2 && x < 8 && y >= 2 && y < 6 && z >= 1 && z < 5;
    const int s0 = tissue ? 1000 : 200;
    return c == 0 ? s0 : s0 * (40 + 5 * c) / 100;
  });
  return volume;
}

size_t position(const std::string& text, const std::string& part, size_t from = 0) {
  return text.find(part, from);
}

class HostSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.path().empty());
    input = folder.file("host_input.raw");
    output = folder.file("host_output");
    VolumePtr volume = dwi_phantom();
    ASSERT_TRUE(write_raw_file(input, volume.get()));
    host = std::make_unique<HostProcess>(ZTR_HOST_PROGRAM, input, output, folder.file("host"));
    ASSERT_TRUE(host->ready()) << host->log();
  }

  void TearDown() override {
    ZTRipc_CloseClient();
    host.reset();
  }

  // The start-up steps up to the end of start-up, without a window.
  void start_up() {
    state.client_number = host->client();
    startup_initialize_ipc(state);
    ASSERT_TRUE(startup_create_broadcaster(state));
    startup_apply_settings(state);
    startup_create_display_object(state);
    ASSERT_TRUE(startup_initial_download(state));
    build_dti_data_from_volume(state);
    state.initialized = 1;
    startup_finish(state, dialogs);
    dialogs.clear_events();
  }

  std::string summary() { return read_whole_file(output + "/summary.json"); }

  ztr::test::TempDir folder;
  std::string input, output;
  std::unique_ptr<HostProcess> host;
  AppState state;
  ScriptedDialogs dialogs;
};

// Records when each channel append starts and what it returned, around the real transfer.
struct AppendLog {
  std::vector<int32_t> channels;
  std::vector<LocalTime> starts;
  std::vector<int> results;
  ChannelAppender appender() {
    return [this](const RawVolumeData* volume, int32_t channel) {
      starts.push_back(read_local_time());
      channels.push_back(channel);
      const int result = ZTRipc_AppendSingleChannel(volume, channel);
      results.push_back(result);
      return result;
    };
  }
};

}  // namespace

TEST_F(HostSessionTest, StartupReportsIpcTheMpgSettingAndTheDwiNotice) {
  ztr::test::ConsoleCapture console;
  state.client_number = host->client();
  startup_initialize_ipc(state);
  ASSERT_TRUE(startup_create_broadcaster(state));
  startup_apply_settings(state);
  startup_create_display_object(state);
  ASSERT_TRUE(startup_initial_download(state));
  build_dti_data_from_volume(state);
  state.initialized = 1;
  startup_finish(state, dialogs);
  const std::string text = console.finish();

  EXPECT_EQ(text.rfind("IPC available (IPC Client initialization succeeded)\n", 0), 0u) << text;
  const size_t assigned = position(text, "Assigned object group ID: ");
  const size_t connecting = position(text, ">> Establishing connection ... ");
  const size_t ok = position(text, "OK\n", connecting);
  const size_t report = position(text, "  MPG setting seems to be ready for analysis\n");
  const size_t rtnn = position(text, "RTNN not available\n");
  ASSERT_NE(assigned, std::string::npos) << text;
  ASSERT_NE(connecting, std::string::npos);
  ASSERT_NE(ok, std::string::npos);
  ASSERT_NE(report, std::string::npos) << text;
  ASSERT_NE(rtnn, std::string::npos);
  EXPECT_LT(assigned, connecting);
  EXPECT_LT(ok, report);
  EXPECT_LT(report, rtnn);
  EXPECT_NE(text.find(" Total channels: 7\n DTI channels: 7\n b=0 channels: 1\n b>0 channels: 6\n"),
            std::string::npos);
  EXPECT_EQ(state.ipc_available, 1);
  EXPECT_NE(state.display_group_id, -1);
  EXPECT_EQ(state.data_source_text,
            "Data Source: IPC with ZANTREVIUM\nMatrix size: 10x8x6 x 7(ch)\n");

  const auto notices = dialogs.of_kind("notice");
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].text,
            "This software recognized the DWI data from ZANTREVIUM as bellow.\n \n  matrix size: "
            "10 x 8 x 6 (7 channels)  \n  b=0 data: ch.  1 - 1                                  "
            "\n  b>0 data: ch. 2 - 7 (6 directions of MPG)\n \n  The default non-zero b value is "
            "1000.0.      \n \n If these settings are wrong, analysis can never be performed     "
            "\n correctly.  To correct the values, use commands in the menu:     \n ''Setting -> "
            "MPG -> Manual set'', or import MPG file in the:     \n menu: ''File -> import -> MPG "
            "text file''.\t\t\t                            \n \n Check MPG directions shown in the "
            "console window, too.          ");
  EXPECT_EQ(notices[1].text, ZTR_RTNN_NOT_READY_NOTICE);
  EXPECT_TRUE(dialogs.every_notice_follows_a_beep());
  EXPECT_EQ(dialogs.message_line(), " initialized.");
  EXPECT_EQ(dialogs.of_kind("memo").at(0).text, state.data_source_text);
}

TEST_F(HostSessionTest, StandardMapsAreAppendedAndUploadedOneChannelPerSecond) {
  start_up();
  RawVolumeData* const shared = state.volume.get();
  AppendLog log;
  ztr::test::ConsoleCapture console;
  compute_standard_maps_command(state, dialogs, log.appender());
  const std::string text = console.finish();

  ASSERT_EQ(state.volume->header->channels, 11);
  EXPECT_EQ(state.volume.get(), shared);
  EXPECT_EQ(state.dti->volume, shared);
  EXPECT_NE(text.find("4 chs added for DTI\n"), std::string::npos) << text;
  const size_t transferring = text.find("Transferring 4 CCs to ZANTREVIUM...\n");
  ASSERT_NE(transferring, std::string::npos);
  EXPECT_NE(text.find("Done.\n", transferring), std::string::npos);
  EXPECT_EQ(log.channels, (std::vector<int32_t>{7, 8, 9, 10}));
  EXPECT_EQ(log.results, (std::vector<int>{0, 0, 0, 0}));
  for (size_t i = 1; i < log.starts.size(); ++i) {
    const LocalTime& a = log.starts[i - 1];
    const LocalTime& b = log.starts[i];
    EXPECT_NE(a.hour * 3600 + a.minute * 60 + a.second, b.hour * 3600 + b.minute * 60 + b.second)
        << "channel " << log.channels[i] << " started in the same second as the one before";
  }
  EXPECT_EQ(dialogs.count("notice"), 0);

  // The host holds the four maps, in order, exactly as computed.
  VolumePtr expected(ZTR_DuplicateRawVolumeData(state.volume.get()));
  ASSERT_TRUE(host->quit());
  VolumePtr held(LoadRawVolumeFile((output + "/volume.raw").c_str(), nullptr, nullptr));
  ASSERT_TRUE(held);
  ASSERT_EQ(held->header->channels, 11);
  EXPECT_EQ(held->types[7], ZTR_TYPE_UINT32);
  EXPECT_EQ(held->attributes[7], ZTR_ATTRIBUTE_RGBA);
  for (int c = 7; c < 11; ++c) {
    ASSERT_EQ(ZTR_GetChannelBytes(held.get(), c), ZTR_GetChannelBytes(expected.get(), c));
    EXPECT_EQ(std::memcmp(held->data[c], expected->data[c], ZTR_GetChannelBytes(held.get(), c)), 0)
        << "channel " << c;
  }
}

TEST_F(HostSessionTest, RawFileImportReplacesTheDataAndAsksForAPositiveVoxelSize) {
  start_up();
  VolumePtr other = make_volume(5, 4, 3, 8);
  fill_int16(other.get(), [](int c, int64_t i) { return 300 + c * 7 + i; });
  const std::string path = folder.file("other.raw");
  ASSERT_TRUE(write_raw_file(path, other.get()));
  RawVolumeData* const shared = state.volume.get();

  dialogs.page = 3;
  dialogs.confirmations.push_back(ZTR_CONFIRMATION_OK);
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  dialogs.values.push_back({ZTR_DIALOG_OK, "0"});
  dialogs.values.push_back({ZTR_DIALOG_OK, "-1"});
  dialogs.values.push_back({ZTR_DIALOG_OK, "1.5"});
  ztr::test::ConsoleCapture console;
  load_raw_volume_file_command(state, dialogs);
  const std::string text = console.finish();

  const auto entries = dialogs.of_kind("value");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].title, "voxel size(mm)");
  EXPECT_EQ(entries[0].text, "1.000000");
  EXPECT_EQ(entries[2].text, "-1");
  const size_t replacing = text.find("Volume data OK. Replacing.\n");
  const size_t accepted = text.find("Voxel size is specified as 1.500000 mm.\n");
  const size_t cleaned = text.find("ROI cleaned in ZANTREVIUM.\n");
  const size_t cleanup = text.find("Clean-up old objects OK\n");
  const size_t transfer = text.find("Transfering to ZANTREVIUM... ");
  ASSERT_NE(replacing, std::string::npos) << text;
  ASSERT_NE(accepted, std::string::npos) << text;
  ASSERT_NE(cleaned, std::string::npos);
  ASSERT_NE(cleanup, std::string::npos);
  ASSERT_NE(transfer, std::string::npos);
  EXPECT_LT(replacing, accepted);
  EXPECT_LT(accepted, cleaned);
  EXPECT_LT(cleaned, cleanup);
  EXPECT_LT(cleanup, transfer);
  EXPECT_NE(text.find("done\n", transfer), std::string::npos);
  EXPECT_EQ(text.find("Warning: Voxel size is not specified"), std::string::npos);

  EXPECT_EQ(state.volume.get(), shared);
  EXPECT_EQ(state.dti->volume, shared);
  EXPECT_EQ(volume_bytes(shared), volume_bytes(other.get()));
  EXPECT_TRUE(state.dti_ready());
  EXPECT_EQ(state.dti->dti_channels, 8);
  EXPECT_FLOAT_EQ(state.dti->voxel_size, 1.5f);
  EXPECT_EQ(state.data_source_text, "Data Source: ZANTREVIUM file: \nFile name: " + path + "\n");
  EXPECT_EQ(dialogs.page, 0);
  EXPECT_EQ(state.page_mode, ZTR_PAGE_MODE_STUDY);
  EXPECT_EQ(dialogs.message_line(), " initialized.");

  ASSERT_TRUE(host->quit());
  const std::string json = summary();
  EXPECT_NE(json.find("\"voxel_size_requests\": [1.5]"), std::string::npos) << json;
  VolumePtr held(LoadRawVolumeFile((output + "/volume.raw").c_str(), nullptr, nullptr));
  ASSERT_TRUE(held);
  EXPECT_EQ(held->header->channels, 1);
  EXPECT_EQ(held->header->x, 5);
  EXPECT_EQ(std::memcmp(held->data[0], other->data[0], ZTR_GetChannelBytes(held.get(), 0)), 0);
}

TEST_F(HostSessionTest, DtiFileExportedAndImportedAgainKeepsVolumeAndSetting) {
  start_up();
  state.dti->voxel_size = 2.0f;
  const auto before = volume_bytes(state.volume.get());
  const std::string path = folder.file("session.dti");
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  export_dti_file_command(state, dialogs);
  RawVolumeData* const shared = state.volume.get();
  fill_int16(shared, [](int, int64_t) { return 1; });

  dialogs.confirmations.push_back(ZTR_CONFIRMATION_OK);
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  ztr::test::ConsoleCapture console;
  import_dti_file_command(state, dialogs);
  const std::string text = console.finish();
  EXPECT_EQ(state.volume.get(), shared);
  EXPECT_EQ(state.dti->volume, shared);
  EXPECT_EQ(volume_bytes(shared), before);
  EXPECT_TRUE(state.dti_ready());
  EXPECT_FLOAT_EQ(state.dti->voxel_size, 2.0f);
  EXPECT_EQ(dialogs.count("value"), 0);  // a DTI file carries its voxel size
  EXPECT_NE(text.find("  MPG setting seems to be ready for analysis\n"), std::string::npos);
  EXPECT_EQ(state.data_source_text, "Data Source: DTI file\nFile name: " + path + "\n");
}

TEST_F(HostSessionTest, DownloadWithoutReadyDataAsksNothingAndKeepsTheRecord) {
  start_up();
  state.dti->mpg_ready = 0;
  RawVolumeData* const shared = state.volume.get();
  fill_int16(shared, [](int, int64_t) { return 0; });
  ztr::test::ConsoleCapture quiet;
  download_data_command(state, dialogs);
  quiet.finish();
  EXPECT_EQ(dialogs.count("confirmation"), 0);
  EXPECT_EQ(dialogs.message_line(), " data exchaned.");
  EXPECT_EQ(state.volume.get(), shared);
  EXPECT_EQ(state.dti->volume, shared);
  VolumePtr original = dwi_phantom();
  EXPECT_EQ(volume_bytes(shared), volume_bytes(original.get()));
}

TEST_F(HostSessionTest, DeclinedDownloadChangesNothing) {
  start_up();
  fill_int16(state.volume.get(), [](int, int64_t) { return 9; });
  const auto before = volume_bytes(state.volume.get());
  dialogs.confirmations.push_back(0);
  download_data_command(state, dialogs);
  EXPECT_EQ(dialogs.count("confirmation"), 1);
  EXPECT_EQ(volume_bytes(state.volume.get()), before);
  EXPECT_EQ(dialogs.count("message"), 0);
}

TEST_F(HostSessionTest, WholeProgramRunsAndShutsDownWithoutLeavingObjectsOrBoards) {
  ScriptedDialogs frontend;
  bool ran = false;
  frontend.main_loop_script = [&](AppState& s, ScriptedDialogs& d) {
    ran = true;
    EXPECT_EQ(s.initialized, 1);
    d.values.push_back({ZTR_DIALOG_OK, "2"});
    threads_command(s, d);
    EXPECT_EQ(s.thread_count, 2);
    d.confirmations.push_back(ZTR_CONFIRMATION_OK);
    quit_command(s, d);
  };
  const std::string number = std::to_string(host->client());
  const char* argv[] = {"heLiXIA", number.c_str()};
  ztr::test::ConsoleCapture console;
  const int status = run_helixia(2, argv, frontend);
  const std::string text = console.finish();
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(ran);
  EXPECT_TRUE(frontend.window_built);
  EXPECT_EQ(frontend.timer_period, 360);
  EXPECT_TRUE(frontend.quit);
  EXPECT_NE(text.find("Requesting removal of Object "), std::string::npos) << text;
  EXPECT_NE(text.find("Clean-up old objects OK\n"), std::string::npos);
  EXPECT_FALSE(ztr_board_exists(ztr_board_name("ZTR_IPC_DB", host->client())));

  ASSERT_TRUE(host->quit());
  const std::string json = summary();
  EXPECT_NE(json.find("\"object_groups\": []"), std::string::npos) << json;
  EXPECT_NE(json.find("\"514\": 1"), std::string::npos) << json;
  for (const char* base : {"ZTR_IPC_BB", "ZTR_IPC_MB", "ZTR_IPC_RB", "ZTR_IPC_DB"}) {
    EXPECT_FALSE(ztr_board_exists(ztr_board_name(base, host->client()))) << base;
  }
}

TEST_F(HostSessionTest, DownloadOfAVolumeWithFewerChannelsRebuildsTheDtiData) {
  start_up();
  // The host now shows a volume of a different matrix with only 6 channels; keeping the
  // old 7-channel setting on it would read past the data.
  VolumePtr smaller = make_volume(6, 6, 4, 6);
  fill_int16(smaller.get(), [](int c, int64_t i) { return 500 + c + i; });
  const std::string path = folder.file("smaller.raw");
  ASSERT_TRUE(write_raw_file(path, smaller.get()));
  host->send("volume " + path);
  for (int i = 0; i < 500; ++i) {
    ZTRipc_GetBroadcastedInfo(state.broadcast.get());
    if (state.broadcast->volume_header.channels == 6) break;
    const timespec pause{0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  ASSERT_EQ(state.broadcast->volume_header.channels, 6);

  RawVolumeData* const shared = state.volume.get();
  dialogs.confirmations.push_back(ZTR_CONFIRMATION_OK);
  ztr::test::ConsoleCapture console;
  download_data_command(state, dialogs);
  const std::string text = console.finish();
  EXPECT_EQ(state.volume.get(), shared);
  EXPECT_EQ(volume_bytes(shared), volume_bytes(smaller.get()));
  ASSERT_TRUE(state.dti);
  EXPECT_EQ(state.dti->volume, shared);
  EXPECT_EQ(state.dti->dti_channels, 6);
  EXPECT_FALSE(state.dti_ready());  // 5 directions cannot be analysed
  EXPECT_NE(text.find("  MPG setting NOT ready. Analysis NOT executable.\n"), std::string::npos);
  EXPECT_EQ(state.data_source_text,
            "Data Source: IPC with ZANTREVIUM\nMatrix size: 6x6x4 x 6(ch)\n");
  EXPECT_EQ(dialogs.message_line(), " data exchaned.");
}

TEST_F(HostSessionTest, DownloadOfTheSameMatrixKeepsTheMpgSetting) {
  start_up();
  ztr::test::ConsoleCapture quiet;
  mpg_preset_ge_6_command(state, dialogs);
  state.dti->b_value[3] = 800.0f;  // a setting the default would not give
  DiffusionTensorImageData* const dti = state.dti.get();
  dialogs.confirmations.push_back(ZTR_CONFIRMATION_OK);
  download_data_command(state, dialogs);
  quiet.finish();
  EXPECT_EQ(state.dti.get(), dti);
  EXPECT_FLOAT_EQ(state.dti->b_value[3], 800.0f);
  EXPECT_TRUE(state.dti_ready());
  EXPECT_EQ(dialogs.count("notice"), 0);
}

TEST_F(HostSessionTest, UploadCurrentChannelAppendsTheExposedViewsChannelToTheHost) {
  state.hooks.reset_views = reset_views;
  start_up();
  SliceViewFrame& frame = state.views.roi_view(RoiPanel::Freehand);
  state.views.exposed = &frame;
  for (int k = 0; k < 3; ++k) channel_next_command(state, dialogs);
  ASSERT_EQ(frame.view.channel, 3);
  ztr::test::ConsoleCapture quiet;
  upload_current_channel_command(state, dialogs);
  quiet.finish();
  EXPECT_EQ(dialogs.of_kind("message").front().text, " uploading channel 3 ...");
  EXPECT_EQ(dialogs.message_line(), " channel 3 uploaded.");
  EXPECT_EQ(dialogs.count("notice"), 0);

  ASSERT_TRUE(host->quit());
  VolumePtr held(LoadRawVolumeFile((output + "/volume.raw").c_str(), nullptr, nullptr));
  ASSERT_TRUE(held);
  ASSERT_EQ(held->header->channels, 8);
  ASSERT_EQ(ZTR_GetChannelBytes(held.get(), 7), ZTR_GetChannelBytes(state.volume.get(), 3));
  EXPECT_EQ(std::memcmp(held->data[7], state.volume->data[3], ZTR_GetChannelBytes(held.get(), 7)),
            0);
}

TEST_F(HostSessionTest, TimerMovesTheFollowingViewsToTheHostCursor) {
  state.hooks.reset_views = reset_views;
  state.hooks.follow_host_cursor = follow_host_cursor;
  start_up();
  SliceViewFrame& held_still = state.views.roi_view(RoiPanel::Freehand);
  held_still.follow = false;
  const Vec3 still = held_still.view.centre;
  host->send("cursor 3 4 2");
  const Vec3 target{3, 4, 2};
  bool moved = false;
  for (int i = 0; i < 100 && !moved; ++i) {
    timer_tick(state, dialogs);
    moved = state.views.roi_view(RoiPanel::Spherical).view.centre == target;
    if (!moved) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(moved) << "the host's cursor never reached the view";
  EXPECT_EQ(state.views.roi_view(RoiPanel::Voxelgroup).view.centre, target);
  EXPECT_EQ(held_still.view.centre, still);
  // The picture's centre shows the voxel under the cursor (channel 0: tissue at (3, 4, 2)).
  const SliceView& view = state.views.roi_view(RoiPanel::Spherical).view;
  EXPECT_EQ(view.image[128 * ZTR_VIEW_SIZE + 128], 1000.0f);
}

namespace {

size_t count_char(const std::string& text, char c) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

}  // namespace

TEST_F(HostSessionTest, DtiFileWithoutVoxelSizeIsImportedWithAWarningAndSendsNone) {
  start_up();
  state.dti->voxel_size = 0.0f;  // what a host download leaves
  const std::string path = folder.file("no_voxel_size.dti");
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  export_dti_file_command(state, dialogs);
  dialogs.confirmations.push_back(ZTR_CONFIRMATION_OK);
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  const auto start = std::chrono::steady_clock::now();
  ztr::test::ConsoleCapture console;
  import_dti_file_command(state, dialogs);
  const std::string text = console.finish();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_NE(text.find("Warning: voxel size 0.000000 mm is not a positive number; not sent.\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Warning: Voxel size is not specified in ZANTREVIUM.\n"), std::string::npos);
  // No wait ran into its limit (the limit alone is 3 s), and the console got no flood.
  EXPECT_LT(took, std::chrono::milliseconds(2500));
  EXPECT_LT(count_char(text, '\r'), 100u);
  EXPECT_EQ(dialogs.message_line(), " initialized.");
  ASSERT_TRUE(host->quit());
  const std::string json = summary();
  EXPECT_NE(json.find("\"voxel_size_requests\": []"), std::string::npos) << json;
  EXPECT_EQ(json.find("voxel size"), std::string::npos) << json;  // no refusal either
}

TEST_F(HostSessionTest, RequestTheHostNeverAcceptsEndsWithinSecondsAndFewActivityMarks) {
  start_up();
  // A cursor of NaN is refused by the host: the acceptance never comes.
  uint8_t block[ZTRipc_PARAMETER_BYTES] = {};
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(block, &nan, 4);
  ASSERT_EQ(ZTRipc_SetParameters(block), 0);
  const auto start = std::chrono::steady_clock::now();
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_SET_CURSOR, true), -1);
  const std::string text = console.finish();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(ZTR_ANALYZER_WAIT_TIME_LIMIT_MS));
  EXPECT_LT(took, std::chrono::milliseconds(ZTR_ANALYZER_WAIT_TIME_LIMIT_MS + 3000));
  // The activity marks come a few times a second, not once per polling round.
  EXPECT_EQ(text[0], ' ');
  EXPECT_GE(count_char(text, '\r'), 2u);
  EXPECT_LE(count_char(text, '\r'), 5u * ZTR_ANALYZER_WAIT_TIME_LIMIT_MS / 1000 + 5) << text.size();
}
