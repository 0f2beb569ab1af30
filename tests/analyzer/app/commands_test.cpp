// Menu commands run headless with scripted dialogs: what they ask, what they change, and
// that cancelling or missing data changes nothing.
#include <gtest/gtest.h>

#include "analyzer/app/commands.h"
#include "analyzer/app/session.h"
#include "analyzer/dti/mpg_setting.h"
#include "app_fixtures.h"
#include "scripted_dialogs.h"
#include "tests/support/console_capture.h"

namespace {

// A state with a 4x3x2 volume of 7 signed 16-bit channels (ready: 1 b=0 + 6 directions);
// channel c holds 100 + 10 c + i at voxel i.
class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VolumePtr volume = make_volume(4, 3, 2, 7);
    fill_int16(volume.get(), [](int c, int64_t i) { return 100 + 10 * c + i; });
    ztr::test::ConsoleCapture quiet;
    load_into_state(state, std::move(volume));
    ASSERT_TRUE(state.dti_ready());
  }
  AppState state;
  ScriptedDialogs dialogs;
  ztr::test::TempDir folder;
};

}  // namespace

// ---- Threads ----------------------------------------------------------------------------

TEST(ThreadsEntry, ZeroAndNegativeBecomeOne) {
  EXPECT_EQ(threads_from_entry("0", 8), 1);
  EXPECT_EQ(threads_from_entry("-7", 8), 1);
}

TEST(ThreadsEntry, LargeCountsBecome512) {
  EXPECT_EQ(threads_from_entry("1000", 8), 512);
  EXPECT_EQ(threads_from_entry("600", 8), 512);
  EXPECT_EQ(threads_from_entry("512", 8), 512);
}

TEST(ThreadsEntry, TextThatIsNotANumberKeepsTheCount) {
  EXPECT_EQ(threads_from_entry("many", 8), 8);
  EXPECT_EQ(threads_from_entry("", 3), 3);
  EXPECT_EQ(threads_from_entry("16 threads", 8), 16);
}

TEST_F(CommandTest, ThreadsEntryStartsWithTheCurrentCountAndStoresTheClampedValue) {
  dialogs.values.push_back({ZTR_DIALOG_OK, "0"});
  threads_command(state, dialogs);
  ASSERT_EQ(dialogs.count("value"), 1);
  EXPECT_EQ(dialogs.of_kind("value")[0].title, "Threads");
  EXPECT_EQ(dialogs.of_kind("value")[0].text, "8");
  EXPECT_EQ(state.thread_count, 1);

  dialogs.values.push_back({ZTR_DIALOG_OK, "1000"});
  threads_command(state, dialogs);
  EXPECT_EQ(dialogs.of_kind("value")[1].text, "1");
  EXPECT_EQ(state.thread_count, 512);
}

TEST_F(CommandTest, CancelledThreadsEntryChangesNothing) {
  state.thread_count = 5;
  dialogs.values.push_back({0, "100"});
  threads_command(state, dialogs);
  EXPECT_EQ(state.thread_count, 5);
}

// ---- Average and Add ----------------------------------------------------------------------

TEST(AverageChannels, MinusThreeAndZeroAverageToMinusOne) {
  VolumePtr a = make_volume(2, 1, 1, 1), b = make_volume(2, 1, 1, 1);
  ZTR_ChannelData<int16_t>(a.get(), 0)[0] = -3;
  ZTR_ChannelData<int16_t>(b.get(), 0)[0] = 0;
  ZTR_ChannelData<int16_t>(a.get(), 0)[1] = 7;  // (7 + 2) / 2 = 4 (toward zero)
  ZTR_ChannelData<int16_t>(b.get(), 0)[1] = 2;
  ASSERT_TRUE(average_dti_channels(a.get(), b.get(), 1));
  EXPECT_EQ(ZTR_ChannelData<int16_t>(a.get(), 0)[0], -1);
  EXPECT_EQ(ZTR_ChannelData<int16_t>(a.get(), 0)[1], 4);
}

TEST(AverageChannels, ExtremeValuesDoNotOverflow) {
  VolumePtr a = make_volume(1, 1, 1, 1), b = make_volume(1, 1, 1, 1);
  ZTR_ChannelData<int16_t>(a.get(), 0)[0] = 32767;
  ZTR_ChannelData<int16_t>(b.get(), 0)[0] = 32767;
  ASSERT_TRUE(average_dti_channels(a.get(), b.get(), 1));
  EXPECT_EQ(ZTR_ChannelData<int16_t>(a.get(), 0)[0], 32767);
}

TEST(AverageChannels, OnlyTheDtiChannelsAreAveraged) {
  VolumePtr a = make_volume(1, 1, 1, 2), b = make_volume(1, 1, 1, 2);
  fill_int16(a.get(), [](int, int64_t) { return 10; });
  fill_int16(b.get(), [](int, int64_t) { return 20; });
  ASSERT_TRUE(average_dti_channels(a.get(), b.get(), 1));
  EXPECT_EQ(ZTR_ChannelData<int16_t>(a.get(), 0)[0], 15);
  EXPECT_EQ(ZTR_ChannelData<int16_t>(a.get(), 1)[0], 10);
}

TEST(AverageChannels, DifferentSizesChannelCountsOrTypesChangeNothing) {
  VolumePtr a = make_volume(2, 2, 1, 2);
  fill_int16(a.get(), [](int, int64_t) { return 10; });
  const auto before = volume_bytes(a.get());
  VolumePtr wider = make_volume(3, 2, 1, 2);
  VolumePtr more = make_volume(2, 2, 1, 3);
  VolumePtr bytes = make_volume(2, 2, 1, 2, ZTR_TYPE_UINT8);
  EXPECT_FALSE(average_dti_channels(a.get(), wider.get(), 2));
  EXPECT_FALSE(average_dti_channels(a.get(), more.get(), 2));
  EXPECT_FALSE(average_dti_channels(a.get(), bytes.get(), 2));
  EXPECT_EQ(volume_bytes(a.get()), before);
}

TEST_F(CommandTest, AverageOfARawFileAveragesEveryDtiChannel) {
  VolumePtr other = make_volume(4, 3, 2, 7);
  fill_int16(other.get(), [](int c, int64_t i) { return -(100 + 10 * c + i) - 3; });
  const std::string path = folder.file("other.raw");
  ASSERT_TRUE(write_raw_file(path, other.get()));
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  average_raw_volume_file_command(state, dialogs);
  // (v + (-v - 3)) / 2 = -3 / 2 = -1 for every voxel of every channel.
  for (int c = 0; c < 7; ++c) {
    for (int i = 0; i < 24; ++i) EXPECT_EQ(ZTR_ChannelData<int16_t>(state.volume.get(), c)[i], -1);
  }
  EXPECT_EQ(state.file_name(FileKind::RawVolume), path);
}

TEST_F(CommandTest, AverageWithADifferentChannelCountChangesNothing) {
  VolumePtr other = make_volume(4, 3, 2, 8);
  const std::string path = folder.file("eight.raw");
  ASSERT_TRUE(write_raw_file(path, other.get()));
  const auto before = volume_bytes(state.volume.get());
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  average_raw_volume_file_command(state, dialogs);
  EXPECT_EQ(volume_bytes(state.volume.get()), before);
  EXPECT_EQ(dialogs.count("notice"), 0);
}

TEST_F(CommandTest, AverageWithoutReadyDataShowsTheMpgNoticeOnly) {
  state.dti->mpg_ready = 0;
  average_raw_volume_file_command(state, dialogs);
  ASSERT_EQ(dialogs.count("notice"), 1);
  const DialogEvent notice = dialogs.of_kind("notice")[0];
  EXPECT_EQ(notice.title, "Important Notice");
  EXPECT_EQ(notice.text, ZTR_MPG_NOT_READY_NOTICE);
  EXPECT_EQ(notice.width, 320);
  EXPECT_EQ(notice.height, 140);
  EXPECT_EQ(dialogs.count("file"), 0);
  EXPECT_TRUE(dialogs.every_notice_follows_a_beep());
  EXPECT_EQ(dialogs.count("beep"), 1);
}

TEST_F(CommandTest, AddAppendsEveryChannelOfTheFileInOrder) {
  VolumePtr other = make_volume(4, 3, 2, 2);
  fill_int16(other.get(), [](int c, int64_t i) { return 5000 + 100 * c + i; });
  const std::string path = folder.file("two.raw");
  ASSERT_TRUE(write_raw_file(path, other.get()));
  RawVolumeData* const shared = state.volume.get();
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  add_raw_volume_file_command(state, dialogs);
  ASSERT_EQ(state.volume.get(), shared);
  ASSERT_EQ(state.volume->header->channels, 9);
  EXPECT_EQ(state.dti->volume, shared);
  EXPECT_EQ(ZTR_ChannelData<int16_t>(shared, 7)[5], 5005);
  EXPECT_EQ(ZTR_ChannelData<int16_t>(shared, 8)[23], 5123);
  EXPECT_EQ(ZTR_ChannelData<int16_t>(shared, 6)[0], 160);
}

TEST_F(CommandTest, AddOfADifferentMatrixChangesNothing) {
  VolumePtr other = make_volume(5, 3, 2, 1);
  const std::string path = folder.file("wide.raw");
  ASSERT_TRUE(write_raw_file(path, other.get()));
  const auto before = volume_bytes(state.volume.get());
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  ztr::test::ConsoleCapture console;
  add_raw_volume_file_command(state, dialogs);
  EXPECT_EQ(volume_bytes(state.volume.get()), before);
  EXPECT_NE(console.finish().find("Err: "), std::string::npos);
}

TEST_F(CommandTest, CancelledFileSelectionChangesNothing) {
  const auto before = volume_bytes(state.volume.get());
  state.file_name(FileKind::RawVolume) = "/remembered.raw";
  dialogs.files.push_back({0, "/elsewhere.raw"});
  add_raw_volume_file_command(state, dialogs);
  EXPECT_EQ(volume_bytes(state.volume.get()), before);
  EXPECT_EQ(state.file_name(FileKind::RawVolume), "/remembered.raw");
  EXPECT_EQ(dialogs.of_kind("file")[0].text, "/remembered.raw");
}

// ---- Load as data source: refusals before anything is replaced ---------------------------

TEST_F(CommandTest, LoadingAFileThatIsNotARawVolumeShowsTheNoticeAndKeepsTheData) {
  const std::string path = folder.file("not.raw");
  ASSERT_TRUE(write_text_file(path, "hello, this is text\n"));
  state.set_data_source_text("Data Source: before\n");
  const auto before = volume_bytes(state.volume.get());
  DiffusionTensorImageData* const dti = state.dti.get();
  dialogs.confirmations.push_back(ZTR_CONFIRMATION_OK);
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  load_raw_volume_file_command(state, dialogs);

  ASSERT_EQ(dialogs.count("confirmation"), 1);
  EXPECT_EQ(dialogs.of_kind("confirmation")[0].text, "Discard current session data?");
  ASSERT_EQ(dialogs.count("notice"), 1);
  EXPECT_EQ(dialogs.of_kind("notice")[0].title, "Warning");
  EXPECT_EQ(dialogs.of_kind("notice")[0].text, "This is NOT a ZANTREVIUM file.");
  EXPECT_TRUE(dialogs.every_notice_follows_a_beep());
  EXPECT_EQ(volume_bytes(state.volume.get()), before);
  EXPECT_EQ(state.dti.get(), dti);
  EXPECT_TRUE(state.dti_ready());
  EXPECT_EQ(state.data_source_text, "Data Source: before\n");
  EXPECT_EQ(dialogs.count("value"), 0);
  EXPECT_EQ(dialogs.count("message"), 0);
}

TEST_F(CommandTest, DeclinedDiscardConfirmationAsksForNoFile) {
  dialogs.confirmations.push_back(0);
  dialogs.confirmations.push_back(0);
  load_raw_volume_file_command(state, dialogs);
  import_dti_file_command(state, dialogs);
  EXPECT_EQ(dialogs.count("confirmation"), 2);
  EXPECT_EQ(dialogs.count("file"), 0);
  EXPECT_EQ(dialogs.count("beep"), 2);
}

TEST_F(CommandTest, WithoutReadyDataNoConfirmationIsAsked) {
  state.dti->mpg_ready = 0;
  dialogs.files.push_back({0, ""});
  load_raw_volume_file_command(state, dialogs);
  EXPECT_EQ(dialogs.count("confirmation"), 0);
  EXPECT_EQ(dialogs.count("file"), 1);
}

TEST_F(CommandTest, ImportingAFileThatIsNotADtiFileKeepsTheData) {
  const std::string path = folder.file("not.dti");
  ASSERT_TRUE(write_text_file(path, std::string(200, 'x')));
  const auto before = volume_bytes(state.volume.get());
  dialogs.confirmations.push_back(ZTR_CONFIRMATION_OK);
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  ztr::test::ConsoleCapture quiet;
  import_dti_file_command(state, dialogs);
  quiet.finish();
  ASSERT_GE(dialogs.count("notice"), 1);
  EXPECT_EQ(dialogs.of_kind("notice")[0].text, "This is NOT a DTI file.");
  EXPECT_EQ(volume_bytes(state.volume.get()), before);
  EXPECT_TRUE(state.dti_ready());
  EXPECT_EQ(state.dti->volume, state.volume.get());
}

TEST_F(CommandTest, DicomImportAsksForADirectory) {
  state.dti->mpg_ready = 0;
  dialogs.files.push_back({0, ""});
  import_dicom_directory_command(state, dialogs);
  ASSERT_EQ(dialogs.file_kinds.size(), 1u);
  EXPECT_EQ(dialogs.file_kinds[0], FileSelectionKind::Directory);
}

// ---- Exports ------------------------------------------------------------------------------

TEST_F(CommandTest, RawVolumeExportOpensOnExportedRawAndWritesTheVolume) {
  const std::string path = folder.file("out.raw");
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  export_raw_volume_file_command(state, dialogs);
  ASSERT_EQ(dialogs.initial_names.size(), 1u);
  EXPECT_EQ(dialogs.initial_names[0], "exported.raw");
  EXPECT_EQ(dialogs.file_kinds[0], FileSelectionKind::Save);
  VolumePtr back(LoadRawVolumeFile(path.c_str(), nullptr, nullptr, &dialogs));
  ASSERT_TRUE(back);
  EXPECT_EQ(volume_bytes(back.get()), volume_bytes(state.volume.get()));
}

TEST_F(CommandTest, MpgExportAndImportRestoreTheSetting) {
  const std::string path = folder.file("setting.mpg");
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  ztr::test::ConsoleCapture quiet;
  export_mpg_text_file_command(state, dialogs);
  EXPECT_EQ(dialogs.message_line(), "MPG vector data exported.");
  const float first_x = state.dti->mpg_vector[1][0];

  dialogs.values.push_back({ZTR_DIALOG_OK, "0"});
  mpg_b0_channels_command(state, dialogs);  // b=0 count 0: not ready
  ASSERT_FALSE(state.dti_ready());

  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  import_mpg_text_file_command(state, dialogs);
  quiet.finish();
  EXPECT_EQ(dialogs.message_line(), "MPG vector data imported.");
  EXPECT_TRUE(state.dti_ready());
  EXPECT_EQ(state.dti->dti_channels, 7);
  EXPECT_EQ(state.dti->b0_channels, 1);
  EXPECT_FLOAT_EQ(state.dti->mpg_vector[1][0], first_x);
}

TEST_F(CommandTest, MpgFilesThatAreMissingOrRefusedAreNotReportedAsImported) {
  ASSERT_TRUE(write_text_file(folder.file("bad.mpg"), "not an MPG file\n"));
  for (const char* name : {"missing.mpg", "bad.mpg"}) {
    dialogs.set_message_line("MPG vector data imported.");  // from an earlier import
    dialogs.files.push_back({ZTR_DIALOG_OK, folder.file(name)});
    ztr::test::ConsoleCapture quiet;
    import_mpg_text_file_command(state, dialogs);
    quiet.finish();
    EXPECT_EQ(dialogs.message_line(), "MPG vector data NOT imported.") << name;
    EXPECT_TRUE(state.dti_ready()) << name;
    EXPECT_EQ(state.dti->dti_channels, 7) << name;
  }
}

TEST_F(CommandTest, MpgExportThatCannotWriteIsNotReportedAsExported) {
  dialogs.files.push_back({ZTR_DIALOG_OK, folder.file("no/such/folder/setting.mpg")});
  ztr::test::ConsoleCapture quiet;
  export_mpg_text_file_command(state, dialogs);
  quiet.finish();
  EXPECT_EQ(dialogs.message_line(), "MPG vector data NOT exported.");
}

TEST_F(CommandTest, DtiExportWritesTheMagicFollowedByTheSerializedData) {
  const std::string path = folder.file("out.dti");
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  export_dti_file_command(state, dialogs);
  EXPECT_EQ(std::filesystem::file_size(path),
            ZTR_DTI_FILE_MAGIC_LENGTH + ZTRdti_GetSerializedDataSize(state.dti.get()));
}

// ---- MPG setting commands --------------------------------------------------------------

TEST_F(CommandTest, ManualEntriesStartWithTheCurrentValues) {
  dialogs.values.push_back({0, ""});
  dialogs.values.push_back({0, ""});
  dialogs.values.push_back({0, ""});
  ztr::test::ConsoleCapture console;
  mpg_total_channels_command(state, dialogs);
  mpg_b0_channels_command(state, dialogs);
  mpg_uniform_b_value_command(state, dialogs);
  // Cancelling changes nothing and prints nothing.
  EXPECT_EQ(console.finish(), "");
  const auto entries = dialogs.of_kind("value");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].title, "Total DTI Ch.");
  EXPECT_EQ(entries[0].text, "7");
  EXPECT_EQ(entries[1].title, "So (b=0) Ch.");
  EXPECT_EQ(entries[1].text, "1");
  EXPECT_EQ(entries[2].title, "uniform b");
  EXPECT_EQ(entries[2].text, "1000.00");
  EXPECT_TRUE(state.dti_ready());
}

TEST_F(CommandTest, UniformBValueEntryChangesEveryDiffusionWeightedChannel) {
  dialogs.values.push_back({ZTR_DIALOG_OK, "700.5"});
  ztr::test::ConsoleCapture quiet;
  mpg_uniform_b_value_command(state, dialogs);
  for (int c = 1; c < 7; ++c) EXPECT_FLOAT_EQ(state.dti->b_value[c], 700.5f);
  EXPECT_FLOAT_EQ(state.dti->b_value[0], 0.0f);
}

TEST_F(CommandTest, TotalChannelsBeyondTheVolumeMakeTheSettingNotReady) {
  dialogs.values.push_back({ZTR_DIALOG_OK, "8"});
  ztr::test::ConsoleCapture console;
  mpg_total_channels_command(state, dialogs);
  EXPECT_FALSE(state.dti_ready());
  EXPECT_NE(console.finish().find("MPG setting NOT ready"), std::string::npos);
}

TEST_F(CommandTest, GeSixPresetGivesOneSoAndSixDirections) {
  state.dti->mpg_ready = 0;
  ztr::test::ConsoleCapture quiet;
  mpg_preset_ge_6_command(state, dialogs);
  EXPECT_TRUE(state.dti_ready());
  EXPECT_EQ(state.dti->dti_channels, 7);
  EXPECT_EQ(state.dti->b0_channels, 1);
  EXPECT_FLOAT_EQ(state.dti->mpg_vector[1][0], 0.707f);
}

TEST_F(CommandTest, GeThirteenPresetNeedsFourteenChannels) {
  ztr::test::ConsoleCapture quiet;
  mpg_preset_ge_13_command(state, dialogs);
  EXPECT_FALSE(state.dti_ready());
}

TEST_F(CommandTest, JonesThirtyOnlyShowsNotImplemented) {
  const int total = state.dti->dti_channels;
  mpg_preset_jones_30_command(state, dialogs);
  ASSERT_EQ(dialogs.count("notice"), 1);
  EXPECT_EQ(dialogs.of_kind("notice")[0].text, "Not implemented yet.");
  EXPECT_EQ(dialogs.of_kind("notice")[0].width, 200);
  EXPECT_EQ(dialogs.of_kind("notice")[0].height, 100);
  EXPECT_TRUE(dialogs.every_notice_follows_a_beep());
  EXPECT_EQ(state.dti->dti_channels, total);
  EXPECT_TRUE(state.dti_ready());
}

TEST_F(CommandTest, CommandsWithoutDtiDataShowTheMpgNotice) {
  state.dti.reset();
  mpg_preset_ge_6_command(state, dialogs);
  mpg_total_channels_command(state, dialogs);
  export_mpg_text_file_command(state, dialogs);
  export_dti_file_command(state, dialogs);
  minimize_dti_data_command(state, dialogs);
  compute_standard_maps_command(state, dialogs);
  EXPECT_EQ(dialogs.count("notice"), 6);
  EXPECT_EQ(dialogs.count("value"), 0);
  EXPECT_EQ(dialogs.count("file"), 0);
  EXPECT_TRUE(dialogs.every_notice_follows_a_beep());
}

TEST_F(CommandTest, ComputeMapsWithoutReadySettingAddsNoChannel) {
  state.dti->mpg_ready = 0;
  compute_standard_maps_command(state, dialogs);
  EXPECT_EQ(state.volume->header->channels, 7);
  ASSERT_EQ(dialogs.count("notice"), 1);
  EXPECT_EQ(dialogs.of_kind("notice")[0].text, ZTR_MPG_NOT_READY_NOTICE);
}

TEST_F(CommandTest, ComputeMapsShowsEachStageOnTheMessageLineAndCountsFailedUploads) {
  std::vector<std::string> lines_at_append;
  int calls = 0;
  const ChannelAppender append = [&](const RawVolumeData*, int32_t) {
    lines_at_append.push_back(dialogs.message_line());
    return ++calls == 2 ? -1 : 0;  // the host refuses the second map
  };
  ztr::test::ConsoleCapture quiet;
  compute_standard_maps_command(state, dialogs, append);
  quiet.finish();
  ASSERT_EQ(state.volume->header->channels, 11);
  EXPECT_EQ(dialogs.of_kind("message").front().text, " computing standard DTI parameter maps ...");
  bool complete_shown = false;
  for (const auto& message : dialogs.of_kind("message")) {
    complete_shown = complete_shown || message.text == " computing standard DTI parameter maps ... 100%";
  }
  EXPECT_TRUE(complete_shown) << "the percentage reaches the message line";
  EXPECT_EQ(lines_at_append,
            (std::vector<std::string>{" transferring map 1 of 4 to ZANTREVIUM ...",
                                      " transferring map 2 of 4 to ZANTREVIUM ...",
                                      " transferring map 3 of 4 to ZANTREVIUM ...",
                                      " transferring map 4 of 4 to ZANTREVIUM ..."}));
  EXPECT_EQ(dialogs.message_line(), " 3 of 4 maps uploaded.") << "a refusal is not reported as done";
}

// ---- Quit and About -----------------------------------------------------------------------

TEST_F(CommandTest, QuitWithReadyDataEndsOnlyAfterConfirmation) {
  dialogs.confirmations.push_back(0);
  quit_command(state, dialogs);
  EXPECT_FALSE(dialogs.quit);
  dialogs.confirmations.push_back(ZTR_CONFIRMATION_OK);
  quit_command(state, dialogs);
  EXPECT_TRUE(dialogs.quit);
  const auto asked = dialogs.of_kind("confirmation");
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].text, "Do you REALLY quit the program?");
  EXPECT_EQ(asked[0].width, 240);
  EXPECT_EQ(asked[0].height, 100);
  EXPECT_TRUE(dialogs.every_notice_follows_a_beep());
}

TEST_F(CommandTest, QuitWithoutReadyDataEndsAtOnce) {
  state.dti->mpg_ready = 0;
  quit_command(state, dialogs);
  EXPECT_TRUE(dialogs.quit);
  EXPECT_EQ(dialogs.count("confirmation"), 0);
}

TEST_F(CommandTest, AboutShowsItsOwnTitleAndSize) {
  about_command(state, dialogs);
  ASSERT_EQ(dialogs.count("notice"), 1);
  const DialogEvent about = dialogs.of_kind("notice")[0];
  EXPECT_EQ(about.title, "About heLiXIA");
  EXPECT_EQ(about.width, 360);
  EXPECT_EQ(about.height, 240);
  EXPECT_NE(about.text.find("heLiXIA"), std::string::npos);
}

// ---- Minimize -----------------------------------------------------------------------------

TEST(MinimizeCommand, LeavesSevenChannelsInTheSharedRecordAndReportsTheSetting) {
  AppState state;
  ScriptedDialogs dialogs;
  VolumePtr volume = make_volume(4, 3, 2, 9);
  fill_int16(volume.get(), [](int c, int64_t i) { return c == 0 ? 1000 + i : 600 - 10 * c; });
  {
    ztr::test::ConsoleCapture quiet;
    load_into_state(state, std::move(volume));
  }
  RawVolumeData* const shared = state.volume.get();
  ztr::test::ConsoleCapture console;
  minimize_dti_data_command(state, dialogs);
  const std::string text = console.finish();
  ASSERT_EQ(state.volume.get(), shared);
  EXPECT_EQ(state.dti->volume, shared);
  ASSERT_EQ(shared->header->channels, 7);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(ZTR_ChannelData<int16_t>(shared, 0)[i], 1000 + i);
  EXPECT_TRUE(state.dti_ready());
  EXPECT_NE(text.find(" Total channels: 7\n"), std::string::npos) << text;
  EXPECT_EQ(dialogs.count("notice"), 0);
}
