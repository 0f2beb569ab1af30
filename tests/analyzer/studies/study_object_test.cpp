// Study records: the defaults of each kind, bounded texts, list rows and the display-group
// slot count.
#include "analyzer/studies/study_object.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/console_capture.h"

TEST(StudyRecord, EachKindStartsWithItsRegionsAndDefaults) {
  struct Row {
    int32_t type;
    std::vector<int32_t> selectors;
    bool boxes;
  };
  const Row rows[] = {
      {ZTR_STUDY_FIBER_TRACKING, {ZTR_REGION_SPHERE, ZTR_REGION_NONE, ZTR_REGION_NONE}, false},
      {ZTR_STUDY_DIFFUSION_PROFILE, {ZTR_REGION_BOX_VOI}, true},
      {ZTR_STUDY_VOXEL_STATISTICS, {ZTR_REGION_BOX_VOI}, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.type);
    auto study = make_study_object(row.type);
    ASSERT_NE(study, nullptr);
    EXPECT_EQ(study->type, row.type);
    EXPECT_EQ(int(study->kind.index()), row.type);
    EXPECT_EQ(study->status, ZTR_STUDY_NOT_ANALYSED);
    EXPECT_EQ(study->visibility, 1);
    EXPECT_STREQ(study->summary, "(not analyzed yet)");
    EXPECT_EQ(study->host_object_id, -1);
    const auto regions = study_regions(*study);
    ASSERT_EQ(regions.size(), row.selectors.size());
    for (size_t i = 0; i < regions.size(); ++i) {
      EXPECT_EQ(regions[i]->selector, row.selectors[i]);
      EXPECT_EQ(regions[i]->listed_count, 0);
      EXPECT_EQ(regions[i]->box.has_value(), row.boxes);
    }
  }
  auto ft = make_study_object(ZTR_STUDY_FIBER_TRACKING);
  const auto& part = std::get<FiberTrackingStudy>(ft->kind);
  EXPECT_FLOAT_EQ(part.fa_min, 0.18f);
  EXPECT_EQ(part.length, 160);
  EXPECT_EQ(part.scheme, 123);
  EXPECT_EQ(part.seed_density, 542);
  EXPECT_EQ(part.primitive, 432);
  EXPECT_EQ(part.colour_mode, 253);
  auto vs = make_study_object(ZTR_STUDY_VOXEL_STATISTICS);
  EXPECT_EQ(std::get<VoxelStatisticsStudy>(vs->kind).colour_mode, 3564);
}

TEST(StudyRecord, UnknownTypeCreatesNothing) {
  ztr::test::ConsoleCapture err;
  EXPECT_EQ(make_study_object(3), nullptr);
  EXPECT_EQ(make_study_object(-1), nullptr);
  EXPECT_NE(err.text().find("Err: Invalid study object type\n"), std::string::npos);
}

TEST(StudyRecord, NamesAndSummariesAreCutAndZeroFilled) {
  auto study = make_study_object(ZTR_STUDY_FIBER_TRACKING);
  set_study_name(*study, std::string(300, 'n'));
  EXPECT_EQ(std::strlen(study->name), 255u);
  set_study_name(*study, "short");
  // Nothing of the longer name survives behind the terminator.
  for (size_t i = 5; i < sizeof study->name; ++i) ASSERT_EQ(study->name[i], 0) << i;
  set_study_summary(*study, std::string(12000, 's'));
  EXPECT_EQ(std::strlen(study->summary), 10239u);
}

TEST(StudyRecord, ListRowShowsNumberKindVisibilityStatusAndName) {
  auto study = make_study_object(ZTR_STUDY_DIFFUSION_PROFILE);
  set_study_name(*study, "Diffusion profile 1");
  study->visibility = 0;
  study->status = ZTR_STUDY_RELOADED;
  const auto row = study_row_columns(*study, 0);
  EXPECT_EQ(row[0], "  1");
  EXPECT_EQ(row[1], "Dp");
  EXPECT_EQ(row[2], "-");
  EXPECT_EQ(row[3], "++++");
  EXPECT_EQ(row[4], "Diffusion profile 1");
  study->status = ZTR_STUDY_ANALYSED;
  EXPECT_EQ(study_row_columns(*study, 11)[3], "done");
  EXPECT_EQ(study_row_columns(*study, 11)[0], " 12");
}

TEST(StudyDisplayGroup, SlotsAreCountedForEveryListedRoiThatExists) {
  auto study = make_study_object(ZTR_STUDY_FIBER_TRACKING);
  auto& ft = std::get<FiberTrackingStudy>(study->kind);
  const auto all = [](uint16_t) { return true; };
  EXPECT_EQ(study_display_slot_count(*study, all), 1);  // the seed sphere
  for (StudyRegion* r : {&ft.seed, &ft.target, &ft.avoidance}) {
    r->selector = ZTR_REGION_LISTED;
    r->listed_count = ZTR_STUDY_MAX_LISTED;
    for (int i = 0; i < ZTR_STUDY_MAX_LISTED; ++i) r->listed_ids[size_t(i)] = uint16_t(i);
  }
  // Three full lists need far more than the 32 slots a fixed group would have.
  EXPECT_EQ(study_display_slot_count(*study, all), 384);
  const auto even = [](uint16_t id) { return id % 2 == 0; };
  EXPECT_EQ(study_display_slot_count(*study, even), 192);
  ft.target.selector = ZTR_REGION_FREEHAND;
  EXPECT_EQ(study_display_slot_count(*study, even), 64 + 1 + 64);

  auto vs = make_study_object(ZTR_STUDY_VOXEL_STATISTICS);
  EXPECT_EQ(study_display_slot_count(*vs, all), 0);  // the box region shows nothing
  std::get<VoxelStatisticsStudy>(vs->kind).region.selector = ZTR_REGION_SPHERE;
  EXPECT_EQ(study_display_slot_count(*vs, all), 1);  // its mask's shape group
}

TEST(StudyList, LooksUpByIdAndActiveId) {
  StudyList list;
  for (uint16_t id : {4, 9}) {
    list.studies.push_back(make_study_object(ZTR_STUDY_VOXEL_STATISTICS));
    list.studies.back()->id = id;
  }
  EXPECT_EQ(get_active_study_object(list), nullptr);
  list.active_id = 9;
  EXPECT_EQ(get_active_study_object(list), list.studies[1].get());
  EXPECT_EQ(study_index(list, 4), 0);
  EXPECT_EQ(study_index(list, 5), -1);
  EXPECT_EQ(find_study(list, 5), nullptr);
}
