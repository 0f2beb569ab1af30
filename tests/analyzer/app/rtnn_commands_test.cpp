// The RTNN commands of the analyzer: import and export through the dialogs, the one network
// count, realtime analysis, and the extra maps with their preview choice and uploads.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analyzer/app/menu_tables.h"
#include "analyzer/app/rtnn_commands.h"
#include "analyzer/dti/mpg_setting.h"
#include "analyzer/rtnn/rtnn_maps.h"
#include "tests/analyzer/app/app_fixtures.h"
#include "tests/analyzer/app/scripted_dialogs.h"
#include "tests/support/console_capture.h"
#include "tests/analyzer/rtnn/rtnn_fixtures.h"

namespace {

// Scripted dialogs that also answer the preview dialog with given flags.
class PreviewDialogs : public ScriptedDialogs {
 public:
  std::vector<int> answer;  // empty: cancel
  std::vector<std::string> shown;
  int select_rtnn_maps(const RtnnPreview& preview, std::vector<int>& flags) override {
    events.push_back({"preview", "", std::to_string(preview.panels.size())});
    shown = preview.names;
    if (!answer.empty()) flags = answer;
    return static_cast<int>(preview.panels.size());
  }
};

// 16 x 16 x 4 voxels, 7 channels (So 1000, every DWI 500) with the default 6-direction setting.
void load_state(AppState& state) {
  VolumePtr volume = make_volume(16, 16, 4, 7);
  fill_int16(volume.get(), [](int c, int64_t) { return c == 0 ? 1000 : 500; });
  ztr::test::ConsoleCapture quiet;
  load_into_state(state, std::move(volume));
}

// A LIN network on the data's own table with `outputs` outputs; output k is (k + 1) x the
// mean log signal ratio, mapped x 1000.
RtnnEntry network_for(const DiffusionTensorImageData* d, const std::string& name, int outputs) {
  const int n = d->dti_channels - 1;
  std::vector<std::array<float, 3>> g;
  for (int c = 1; c <= n; ++c) g.push_back({d->mpg_vector[c][0], d->mpg_vector[c][1], d->mpg_vector[c][2]});
  std::vector<float> w;
  for (int k = 0; k < outputs; ++k)
    for (int i = 0; i < n; ++i) w.push_back((k + 1.0f) / n);
  RtnnEntry e = rtnn_test::make_entry(name, {n, outputs}, {ZTR_RTNN_LIN}, {w},
                                      {std::vector<float>(outputs, 0.0f)}, g);
  for (int k = 0; k < outputs; ++k) {
    e.network->output_scale[k] = 1000;
    e.network->output_lower[k] = -32768;
    e.network->output_upper[k] = 32767;
  }
  return e;
}

struct TableReset {
  TableReset() { ztr::test::ConsoleCapture quiet; initialize_rtnn_table(); }
  ~TableReset() { ztr::test::ConsoleCapture quiet; delete_all_rtnns(); }
};

TEST(RtnnImportCommand, LoadsEitherKindAndKeepsTheSetWhenAFileIsRefused) {
  TableReset reset;
  AppState state;
  PreviewDialogs dialogs;
  rtnn_test::TempDir dir;
  rtnn_test::write_layout_set(dir);
  rtnn_test::write_file(dir / "other.txt", "not a network file\n");
  dialogs.files = {{ZTR_DIALOG_OK, dir / "set.txt"}, {ZTR_DIALOG_OK, dir / "other.txt"}};
  ztr::test::ConsoleCapture console;
  import_rtnn_file_command(state, dialogs);
  EXPECT_EQ(state.rtnn_count(), 1);
  EXPECT_EQ(dialogs.message_line(), " 1 RTNNs loaded.");
  import_rtnn_file_command(state, dialogs);
  EXPECT_NE(console.text().find("Err: Not RTNN file\n"), std::string::npos);
  EXPECT_EQ(state.rtnn_count(), 1);
  EXPECT_EQ(dialogs.message_line(), " RTNN file refused; 1 RTNNs kept.");
  // Each call starts from an empty name: RTNN files are not remembered.
  EXPECT_EQ(dialogs.of_kind("file")[1].text, "");
}

TEST(RtnnExportCommand, WritesTheDataFileAndRefusesAnEmptySet) {
  TableReset reset;
  AppState state;
  PreviewDialogs dialogs;
  rtnn_test::TempDir dir;
  export_rtnn_file_command(state, dialogs);  // nothing loaded: no file selection at all
  EXPECT_EQ(dialogs.count("file"), 0);
  ASSERT_EQ(dialogs.of_kind("notice").size(), 1u);
  EXPECT_EQ(dialogs.of_kind("notice")[0].text, ZTR_RTNN_NOT_READY_NOTICE);

  rtnn_test::write_layout_set(dir);
  {
    ztr::test::ConsoleCapture quiet;
    ASSERT_EQ(load_rtnns_from_information_file((dir / "set.txt").c_str()), 1);
  }
  dialogs.files = {{ZTR_DIALOG_OK, dir / "out.bin"}};
  ztr::test::ConsoleCapture console;
  export_rtnn_file_command(state, dialogs);
  EXPECT_EQ(console.finish(), "Export RunTimeNeuralNetwork: " + (dir / "out.bin") + "\ndone (ID:layout-set)\n");
  EXPECT_EQ(get_rtnn_file_kind((dir / "out.bin").c_str()), 0);
}

TEST(RtnnRealtimeCommand, TogglesWithTheMonitorPageAndStaysOffWhenNotPrepared) {
  TableReset reset;
  AppState state;
  PreviewDialogs dialogs;
  load_state(state);
  rtnn_table().entries.push_back(network_for(state.dti.get(), "mean", 1));
  ztr::test::ConsoleCapture quiet;
  realtime_analysis_command(state, dialogs);
  EXPECT_EQ(state.realtime_analysis, 1);
  EXPECT_EQ(dialogs.page, ZTR_MONITOR_PAGE);
  EXPECT_EQ(dialogs.message_line(), " realtime analysis is ON");
  realtime_analysis_command(state, dialogs);
  EXPECT_EQ(state.realtime_analysis, 0);
  EXPECT_EQ(dialogs.message_line(), " realtime analysis is OFF");

  rtnn_table().entries[0].input_mpg.b0 = 2;  // cannot be prepared
  const size_t events = dialogs.events.size();
  realtime_analysis_command(state, dialogs);
  EXPECT_EQ(state.realtime_analysis, 0);
  EXPECT_EQ(dialogs.events.size(), events);
}

TEST(RtnnRealtimeCommand, VoxelTextFollowsAnMpgChange) {
  TableReset reset;
  AppState state;
  load_state(state);
  rtnn_table().entries.push_back(network_for(state.dti.get(), "mean", 1));
  ztr::test::ConsoleCapture quiet;
  std::string text = analyse_voxel_with_rtnns(state, 8, 8, 2);
  EXPECT_NE(text.find("Extra parameters by RTNN:\n mean0: -0.69\n"), std::string::npos) << text;
  // Another setting with the same channel count (b 800): the network is re-prepared through
  // a converter instead of being fed the b 1000 way.
  mpg_set_uniform_b_value(state.dti.get(), 800.0f);
  text = analyse_voxel_with_rtnns(state, 8, 8, 2);
  EXPECT_EQ(text.find("n/a"), std::string::npos) << text;
  EXPECT_NE(rtnn_table().entries[0].converter, nullptr);
}

TEST(RtnnExtraMapsCommand, EachSelectedNetworkIsComputedAndUploadedOnItsOwn) {
  TableReset reset;
  AppState state;
  PreviewDialogs dialogs;
  load_state(state);
  rtnn_table().entries.push_back(network_for(state.dti.get(), "one", 1));
  rtnn_table().entries.push_back(network_for(state.dti.get(), "two", 1));
  dialogs.answer = {1, 1};
  std::vector<int> uploaded;
  int appended_when_first_upload = -1;
  const int before = state.volume->header->channels;
  ztr::test::ConsoleCapture console;
  extra_maps_rtnn_command(state, dialogs, [&](const RawVolumeData* v, int32_t c) {
    if (appended_when_first_upload < 0) appended_when_first_upload = v->header->channels - before;
    uploaded.push_back(c);
    return 0;
  });
  EXPECT_EQ(state.volume->header->channels, before + 2);
  EXPECT_EQ(uploaded, (std::vector<int>{before, before + 1}));
  EXPECT_EQ(appended_when_first_upload, 1);  // network one was uploaded before two ran
  EXPECT_EQ(dialogs.shown, (std::vector<std::string>{"one0", "two0"}));
  const std::string text = console.finish();
  EXPECT_NE(text.find("Preparing CC of one0\n"), std::string::npos);
  EXPECT_NE(text.find("Transferring CC to ZANTREVIUM...\nDone.\n"), std::string::npos);
  EXPECT_NE(text.find("2 ch(s) added for dMRI\n"), std::string::npos);
  // ln 0.5 x 1000 = -693.1, truncated.
  EXPECT_EQ(ZTR_Voxel<int16_t>(state.volume.get(), before, 8, 8, 2), -693);
}

TEST(RtnnExtraMapsCommand, PanelsAreOutputsAndAPanelRunsItsOwnNetwork) {
  // A two-output network then a one-output network: panel 1 is the second output of the
  // first network, so choosing it appends that network's two channels.
  TableReset reset;
  AppState state;
  PreviewDialogs dialogs;
  load_state(state);
  rtnn_table().entries.push_back(network_for(state.dti.get(), "pair", 2));
  rtnn_table().entries.push_back(network_for(state.dti.get(), "single", 1));
  dialogs.answer = {0, 1, 0};
  std::vector<int> uploaded;
  const int before = state.volume->header->channels;
  ztr::test::ConsoleCapture quiet;
  extra_maps_rtnn_command(state, dialogs, [&](const RawVolumeData*, int32_t c) {
    uploaded.push_back(c);
    return 0;
  });
  EXPECT_EQ(dialogs.shown, (std::vector<std::string>{"pair0", "pair1", "single0"}));
  EXPECT_EQ(uploaded, (std::vector<int>{before, before + 1}));
  EXPECT_EQ(ZTR_Voxel<int16_t>(state.volume.get(), before + 1, 3, 3, 1), -1386);  // 2 x ln 0.5
}

TEST(RtnnExtraMapsCommand, CancelOrMissingPrerequisitesComputeNothing) {
  TableReset reset;
  AppState state;
  PreviewDialogs dialogs;
  load_state(state);
  const int before = state.volume->header->channels;
  extra_maps_rtnn_command(state, dialogs);  // no network loaded
  ASSERT_EQ(dialogs.of_kind("notice").size(), 1u);
  EXPECT_EQ(dialogs.of_kind("notice")[0].text, ZTR_RTNN_NOT_READY_NOTICE);

  rtnn_table().entries.push_back(network_for(state.dti.get(), "one", 1));
  ztr::test::ConsoleCapture quiet;
  extra_maps_rtnn_command(state, dialogs);  // the preview is cancelled
  EXPECT_EQ(dialogs.count("preview"), 1);
  EXPECT_EQ(state.volume->header->channels, before);

  state.dti->mpg_ready = 0;
  extra_maps_rtnn_command(state, dialogs);
  EXPECT_EQ(dialogs.of_kind("notice").back().text, ZTR_MPG_NOT_READY_NOTICE);
  EXPECT_EQ(dialogs.count("preview"), 1);
}

TEST(RtnnStartupNotice, PointsAtALiveMenuItem) {
  // "''File>Import>RTNN file''" names the menu path /File/Import/RTNN file.
  const std::string notice = ZTR_RTNN_NOT_READY_NOTICE;
  const size_t begin = notice.find("''") + 2;
  std::string path = "/" + notice.substr(begin, notice.find("''", begin) - begin);
  for (char& c : path) c = c == '>' ? '/' : c;
  ASSERT_EQ(path, "/File/Import/RTNN file");
  bool live = false;
  for (const MenuItemEntry& e : main_menu_items()) {
    if (path == e.path) live = e.handler == import_rtnn_file_command;
  }
  EXPECT_TRUE(live);
}

}  // namespace

namespace {

TEST(RtnnExtraMapsCommand, MapsThatCannotBeAppendedAreNotUploaded) {
  // A volume already at the channel limit: nothing can be appended, so nothing may be sent
  // (the last channels are old data, not the maps).
  TableReset reset;
  AppState state;
  PreviewDialogs dialogs;
  std::vector<int32_t> types(ZTR_MAX_CHANNELS, ZTR_TYPE_UINT8), attributes(ZTR_MAX_CHANNELS, 0);
  for (int c = 0; c < 7; ++c) types[c] = ZTR_TYPE_INT16;
  VolumePtr volume(ZTR_NewRawVolumeData({8, 8, 2, ZTR_MAX_CHANNELS}, types.data(), attributes.data()));
  ASSERT_NE(volume, nullptr);
  for (int c = 0; c < 7; ++c) {
    int16_t* v = ZTR_ChannelData<int16_t>(volume.get(), c);
    for (int i = 0; i < 128; ++i) v[i] = c == 0 ? 1000 : 500;
  }
  {
    ztr::test::ConsoleCapture quiet;
    load_into_state(state, std::move(volume));
  }
  ASSERT_TRUE(state.dti_ready());
  rtnn_table().entries.push_back(network_for(state.dti.get(), "one", 1));
  dialogs.answer = {1};
  std::vector<int> uploaded;
  ztr::test::ConsoleCapture console;
  extra_maps_rtnn_command(state, dialogs, [&](const RawVolumeData*, int32_t c) {
    uploaded.push_back(c);
    return 0;
  });
  EXPECT_TRUE(uploaded.empty());
  EXPECT_EQ(state.volume->header->channels, ZTR_MAX_CHANNELS);
  EXPECT_NE(console.finish().find("0 ch(s) added for dMRI\n"), std::string::npos);
}

}  // namespace
