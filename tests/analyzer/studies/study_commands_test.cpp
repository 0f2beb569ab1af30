// Study menu commands over a session's list: New, Duplicate, Delete, visibility, labels,
// summary strings, and import and export of study object files.
#include "analyzer/studies/study_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "tests/support/console_capture.h"
#include "tests/analyzer/studies/study_test_support.h"

namespace {
const StudyGridSize kVolume{32, 32, 12};
std::string temp_path(const char* name) { return testing::TempDir() + name; }
}  // namespace

TEST(StudyCommands, FreshSessionHoldsOneStudyOfEachKind) {
  StudySession s;
  ASSERT_EQ(s.list.studies.size(), 3u);
  const char* names[] = {"Fiber tracking 1", "Diffusion profile 1", "Voxel statistics 1"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(s.list.studies[i]->id, i);
    EXPECT_STREQ(s.list.studies[i]->name, names[i]);
    EXPECT_EQ(study_row_columns(*s.list.studies[i], int(i))[3], "----");
    EXPECT_EQ(s.list.studies[i]->host_object_id, s.host.created[i]);
  }
  EXPECT_EQ(s.list.active_id, 2);
  EXPECT_EQ(s.page.shown, ZTR_STUDY_VOXEL_STATISTICS);
  EXPECT_EQ(s.page.entry, "Voxel statistics 1");
  // A second study of a kind counts on.
  new_study_object(s.list, s.env, ZTR_STUDY_FIBER_TRACKING);
  EXPECT_STREQ(s.list.studies[3]->name, "Fiber tracking 2");
  EXPECT_EQ(s.list.studies[3]->id, 3);
}

TEST(StudyCommands, NewStoresThePanelIntoThePreviousStudyFirst) {
  StudySession s;
  select_study_by_index(s.list, s.env, 0);
  std::get<FiberTrackingStudy>(s.page.working).length = 99;  // the user edits the panel
  new_study_object(s.list, s.env, ZTR_STUDY_VOXEL_STATISTICS);
  EXPECT_EQ(s.ft(0).length, 99);
}

TEST(StudyCommands, InvalidKindAddsNothing) {
  StudySession s;
  ztr::test::ConsoleCapture err;
  EXPECT_EQ(new_study_object(s.list, s.env, 7), nullptr);
  EXPECT_EQ(s.list.studies.size(), 3u);
  EXPECT_EQ(s.host.created.size(), 3u);
  EXPECT_NE(err.text().find("Err: Invalid study object type\nErr: new_study_object\n"),
            std::string::npos);
}

TEST(StudyCommands, DuplicateCopiesRegionsButKeepsItsOwnBoxHostObjectAndStatus) {
  StudySession s;
  STUDY_OBJECT& source = *s.list.studies[1];
  auto& region = std::get<DiffusionProfileStudy>(source.kind).region;
  region.selector = ZTR_REGION_SPHERE;
  region.view.sphere_radius = 7.0f;
  region.box->origin[0] = 9.0f;
  source.status = ZTR_STUDY_ANALYSED;
  select_study_by_index(s.list, s.env, 1);
  STUDY_OBJECT* copy = duplicate_active_study(s.list, s.env);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->name, "copy of Diffusion profile 1");
  EXPECT_EQ(copy->status, ZTR_STUDY_NOT_ANALYSED);
  EXPECT_STREQ(copy->summary, "(not analyzed yet)");
  EXPECT_NE(copy->host_object_id, source.host_object_id);
  EXPECT_EQ(s.list.active_id, copy->id);
  auto& copied = std::get<DiffusionProfileStudy>(copy->kind).region;
  EXPECT_EQ(copied.selector, ZTR_REGION_SPHERE);
  EXPECT_EQ(copied.view.sphere_radius, 7.0f);
  EXPECT_EQ(copied.box->origin[0], 0.0f);  // the new study's own box
  copied.view.sphere_radius = 1.0f;
  EXPECT_EQ(region.view.sphere_radius, 7.0f);  // a copy, not a shared view
  EXPECT_GE(s.page.follow_stopped, 1);
  // Duplicating a duplicate many times never runs past the name field.
  for (int i = 0; i < 40; ++i) duplicate_active_study(s.list, s.env);
  EXPECT_EQ(std::strlen(get_active_study_object(s.list)->name), 255u);
}

TEST(StudyCommands, DeleteRemovesTheHostObjectAndTheLastOneHidesThePanels) {
  StudySession s;
  ztr::test::ConsoleCapture err;
  const int32_t host_id = s.list.studies[2]->host_object_id;
  delete_active_study(s.list, s.env);
  EXPECT_EQ(s.list.studies.size(), 2u);
  EXPECT_EQ(s.host.removed, std::vector<int32_t>{host_id});
  EXPECT_NE(err.text().find("Requesting removal of Object " + std::to_string(host_id) + "\n"),
            std::string::npos);
  EXPECT_FALSE(s.page.hidden);
  delete_active_study(s.list, s.env);  // nothing active now: nothing happens
  EXPECT_EQ(s.list.studies.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    select_study_by_index(s.list, s.env, 0);
    delete_active_study(s.list, s.env);
  }
  EXPECT_TRUE(s.list.studies.empty());
  EXPECT_TRUE(s.page.hidden);
  EXPECT_EQ(s.page.entry, " ");
}

TEST(StudyCommands, DeleteAllRestartsNamesAndIds) {
  StudySession s;
  delete_all_studies(s.list, s.env);
  EXPECT_EQ(s.host.removed.size(), 3u);
  STUDY_OBJECT* again = new_study_object(s.list, s.env, ZTR_STUDY_FIBER_TRACKING);
  EXPECT_EQ(again->id, 0);
  EXPECT_STREQ(again->name, "Fiber tracking 1");
}

TEST(StudyCommands, VisibilityCommandsSendOnlyTheStudiesThatChanged) {
  struct Row {
    const char* what;
    StudyVisibility command;
    int32_t kind;
    std::array<int32_t, 3> before, after;
    size_t sent;
  };
  // The active study is the last one (voxel statistics).
  const Row rows[] = {
      {"show all", StudyVisibility::ShowAll, 0, {0, 1, 0}, {1, 1, 1}, 2},
      {"show only Ft", StudyVisibility::ShowOnlyKind, 0, {0, 1, 1}, {1, 0, 0}, 3},
      {"show only Dp", StudyVisibility::ShowOnlyKind, 1, {0, 1, 0}, {0, 1, 0}, 0},
      {"show only selected", StudyVisibility::ShowOnlySelected, 0, {1, 1, 1}, {0, 0, 1}, 2},
      {"hide all", StudyVisibility::HideAll, 0, {1, 0, 1}, {0, 0, 0}, 2},
      {"hide only Vs", StudyVisibility::HideOnlyKind, 2, {0, 0, 1}, {1, 1, 0}, 3},
      {"hide only selected", StudyVisibility::HideOnlySelected, 0, {1, 1, 1}, {1, 1, 0}, 1},
      {"invert", StudyVisibility::Invert, 0, {1, 0, 1}, {0, 1, 0}, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    StudySession s;
    for (size_t i = 0; i < 3; ++i) {
      s.list.studies[i]->visibility = row.before[i];
      s.list.studies[i]->group.reset(ZTR_NewObjectGroup(2));
    }
    ztr::test::ConsoleCapture err;
    apply_study_visibility(s.list, s.env, row.command, row.kind);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(s.list.studies[i]->visibility, row.after[i]) << i;
    EXPECT_EQ(s.host.updated.size(), row.sent);
    size_t lines = 0;
    for (size_t at = 0; (at = err.text().find("Sending object for (", at)) != std::string::npos;
         ++at) {
      ++lines;
    }
    EXPECT_EQ(lines, row.sent);
  }
}

TEST(StudyCommands, HiddenStudySendsAnEmptyGroupAndAFailedHostObjectSendsNothing) {
  StudySession s;
  STUDY_OBJECT& study = *s.list.studies[0];
  study.group.reset(ZTR_NewObjectGroup(4));
  study.visibility = 0;
  ztr::test::ConsoleCapture err;
  send_study_object(study, s.env);
  EXPECT_EQ(s.host.updated, std::vector<int32_t>{study.host_object_id});
  EXPECT_NE(err.text().find("Sending object for (Fiber tracking 1) with ID (" +
                            std::to_string(study.host_object_id) + ") ...done\n"),
            std::string::npos);
  study.host_object_id = -1;
  send_study_object(study, s.env);
  EXPECT_EQ(s.host.updated.size(), 1u);
}

TEST(StudyCommands, PresetLabelsRenameTheActiveStudy) {
  StudySession s;
  apply_study_preset_label(s.list, s.env, 2);
  EXPECT_EQ(s.page.entry, "Corpse Callosum");
  EXPECT_STREQ(s.list.studies[2]->name, "Corpse Callosum");
  rename_active_study(s.list, s.env, std::string(400, 'r'));
  EXPECT_EQ(std::strlen(s.list.studies[2]->name), 255u);
}

TEST(StudyCommands, RecordCutsTheSummaryBoxAndRestorePutsItBack) {
  StudySession s;
  s.page.box_text = std::string(12000, 'a');
  record_study_summary(s.list, s.env);
  EXPECT_EQ(std::strlen(s.list.studies[2]->summary), 10239u);
  s.page.box_text.clear();
  restore_study_summary(s.list, s.env);
  EXPECT_EQ(s.page.box_text, std::string(10239, 'a'));
}

TEST(StudyFileCommands, ExportWarnsAboutListedIdsAndImportDropsThem) {
  StudySession s;
  select_study_by_index(s.list, s.env, 0);
  auto& seed = std::get<FiberTrackingStudy>(s.page.working).seed;
  seed.selector = ZTR_REGION_LISTED;
  seed.listed_count = 2;
  seed.listed_ids[0] = 4;
  seed.view.channel = 5;
  s.list.studies[0]->status = ZTR_STUDY_ANALYSED;
  const std::string path = temp_path("study_commands_export.stu");
  std::string reason;
  ASSERT_EQ(export_active_study(s.list, s.env, kVolume, path, &reason), 0) << reason;
  ASSERT_EQ(s.notices.shown.size(), 1u);
  EXPECT_EQ(s.notices.shown[0].first, "Warning");
  EXPECT_EQ(s.notices.shown[0].second,
            "Listed ROI IDs can NOT be saved\nin study object file. Restore them\nmanually "
            "after loading the files of\nthe study and the ROIs refered.");

  StudyGridSize other{64, 32, 12};
  ztr::test::ConsoleCapture err;
  STUDY_OBJECT* loaded = import_study_file(s.list, s.env, path, other, 4);
  ASSERT_NE(loaded, nullptr);
  EXPECT_NE(err.text().find("Volume data matrix size mismatch. Open anyway.\n"),
            std::string::npos);
  EXPECT_EQ(loaded->id, 3);
  EXPECT_EQ(loaded->host_object_id, s.host.created.back());
  EXPECT_EQ(loaded->status, ZTR_STUDY_RELOADED);
  EXPECT_STREQ(loaded->name, "Fiber tracking 1");  // the file's name, not a new one
  const auto& back = std::get<FiberTrackingStudy>(loaded->kind).seed;
  EXPECT_EQ(back.selector, ZTR_REGION_LISTED);
  EXPECT_EQ(back.listed_count, 0);
  EXPECT_EQ(back.view.channel, 0);  // channel 5 is not below 4 channels
  EXPECT_EQ(s.list.active_id, loaded->id);
  EXPECT_EQ(s.page.shown, ZTR_STUDY_FIBER_TRACKING);
  EXPECT_GE(s.page.follow_stopped, 1);
  EXPECT_EQ(study_row_columns(*loaded, 3)[3], "++++");
  std::remove(path.c_str());
}

TEST(StudyFileCommands, RefusedFilesLeaveNoStudyAndNoHostObject) {
  StudySession s;
  const std::string path = temp_path("study_commands_refused.stu");
  auto bytes = study_file_bytes(*s.list.studies[2], kVolume);
  bytes[50] = 5;  // type 5
  { std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 std::streamsize(bytes.size())); }
  ztr::test::ConsoleCapture err;
  EXPECT_EQ(import_study_file(s.list, s.env, path, kVolume, 4), nullptr);
  EXPECT_NE(err.text().find("unknown study type 5"), std::string::npos);
  bytes[0] = 'X';
  { std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 std::streamsize(bytes.size())); }
  EXPECT_EQ(import_study_file(s.list, s.env, path, kVolume, 4), nullptr);
  ASSERT_EQ(s.notices.shown.size(), 1u);
  EXPECT_EQ(s.notices.shown[0].second, "This is NOT a kLS-II ROI file.");
  EXPECT_EQ(import_study_file(s.list, s.env, path + ".none", kVolume, 4), nullptr);
  EXPECT_EQ(s.list.studies.size(), 3u);
  EXPECT_EQ(s.host.created.size(), 3u);
  EXPECT_EQ(s.list.active_id, 2);
  std::remove(path.c_str());
}

TEST(StudyFileCommands, ExportWithoutAnActiveStudyWritesNothing) {
  StudySession s;
  delete_active_study(s.list, s.env);
  const std::string path = temp_path("study_commands_none.stu");
  std::string reason;
  EXPECT_EQ(export_active_study(s.list, s.env, kVolume, path, &reason), -1);
  EXPECT_FALSE(std::ifstream(path).good());
}

TEST(StudySelection, SelectingStoresLoadsAndRebuildsOnlyWhenAutoUpdateAndShown) {
  StudySession s;
  int rebuilds = 0;
  s.env.rebuild_display_group = [&rebuilds] { ++rebuilds; };
  EXPECT_EQ(select_study_by_index(s.list, s.env, 3), -1);
  EXPECT_EQ(s.list.active_id, 2);
  select_study_by_index(s.list, s.env, 0);
  EXPECT_EQ(s.page.stored_names.back(), "Voxel statistics 1");
  EXPECT_EQ(s.page.shown, ZTR_STUDY_FIBER_TRACKING);
  EXPECT_EQ(rebuilds, 0);
  s.env.auto_update = true;
  select_study_by_index(s.list, s.env, 1);
  EXPECT_EQ(rebuilds, 0);  // the 3-D objects are not shown
  s.env.objects_shown = true;
  select_study_by_index(s.list, s.env, 2);
  EXPECT_EQ(rebuilds, 1);
}

TEST(StudySelection, VisibleToggleSendsTheObjectOnlyWhenItChanges) {
  StudySession s;
  s.list.studies[2]->group.reset(ZTR_NewObjectGroup(1));
  set_active_study_visible(s.list, s.env, true);
  EXPECT_TRUE(s.host.updated.empty());
  set_active_study_visible(s.list, s.env, false);
  EXPECT_EQ(s.list.studies[2]->visibility, 0);
  EXPECT_EQ(s.host.updated.size(), 1u);
  EXPECT_EQ(study_row_columns(*s.list.studies[2], 2)[2], "-");
}
