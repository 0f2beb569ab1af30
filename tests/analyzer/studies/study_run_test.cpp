// The timed run of the active study and Analyze all, with stub kind runs and a fake clock.
#include <gtest/gtest.h>

#include <cstring>

#include "analyzer/dti/maps.h"
#include "analyzer/studies/study_commands.h"
#include "tests/analyzer/studies/study_test_support.h"

namespace {

const float kCursor[3] = {10.0f, 12.5f, 3.0f};

// Kind runs that record which study they ran, with which panel value, and succeed unless
// told otherwise.
struct StubRuns {
  std::vector<std::string> ran;
  std::vector<int32_t> lengths;  // fiber tracking length seen by each run
  int result = 0;
  StudyKindRuns table() {
    StudyKindRuns runs;
    for (auto& run : runs) {
      run = [this](STUDY_OBJECT& study, const StudyRunContext&) {
        ran.push_back(study.name);
        if (auto* ft = std::get_if<FiberTrackingStudy>(&study.kind)) lengths.push_back(ft->length);
        if (result == 0) {
          set_study_summary(study, std::string("result of ") + study.name);
          study.group.reset(ZTR_NewObjectGroup(1));
        }
        return result;
      };
    }
    return runs;
  }
};

// A clock that returns the given times of day in turn.
std::function<double()> clock_of(std::vector<double> times) {
  auto shared = std::make_shared<std::vector<double>>(std::move(times));
  auto next = std::make_shared<size_t>(0);
  return [shared, next] {
    const size_t i = std::min(*next, shared->size() - 1);
    ++*next;
    return (*shared)[i];
  };
}

}  // namespace

TEST(ElapsedTime, RunsPastMidnightCountTheDay) {
  struct Row {
    double start, end, elapsed;
  };
  const Row rows[] = {
      {10.0, 11.5, 1.5},
      {86399.9, 0.1, 0.2},  // 23:59:59.900 to 00:00:00.100
      {3600.0, 3600.0, 0.0},
  };
  for (const Row& row : rows) {
    EXPECT_NEAR(elapsed_day_seconds(row.start, row.end), row.elapsed, 1e-6);
  }
}

TEST(TimedRun, WithoutReadyDataShowsTheMpgNoticeOnly) {
  StudySession s;
  s.env.dti_ready = false;
  StubRuns stub;
  EXPECT_EQ(run_active_study_timed(s.list, s.env, stub.table(), {}, kCursor), -1);
  ASSERT_EQ(s.notices.shown.size(), 1u);
  EXPECT_EQ(s.notices.shown[0].first, "Important Notice");
  EXPECT_TRUE(stub.ran.empty());
  EXPECT_TRUE(s.host.cursors.empty());
}

TEST(TimedRun, SuccessMarksDoneLocksListedRoisAndNotifiesTheCursor) {
  StudySession s;
  select_study_by_index(s.list, s.env, 0);
  auto& target = std::get<FiberTrackingStudy>(s.page.working).target;
  target.selector = ZTR_REGION_LISTED;
  target.listed_count = 2;
  target.listed_ids[0] = 3;
  target.listed_ids[1] = 8;
  bool realtime = true;
  s.env.realtime = &realtime;
  s.env.time_of_day = clock_of({100.0, 101.5});
  StubRuns stub;
  ASSERT_EQ(run_active_study_timed(s.list, s.env, stub.table(), {}, kCursor), 0);
  EXPECT_EQ(s.page.message, "Analysis completed in 1.50 sec.");
  EXPECT_FALSE(realtime);
  STUDY_OBJECT& study = *s.list.studies[0];
  EXPECT_EQ(study.status, ZTR_STUDY_ANALYSED);
  ASSERT_EQ(s.host.cursors.size(), 1u);
  EXPECT_EQ(s.host.cursors[0], (std::array<float, 3>{10.0f, 12.5f, 3.0f}));
  ASSERT_EQ(s.locked.size(), 1u);
  EXPECT_EQ(s.locked[0], (std::vector<uint16_t>{3, 8}));
  // The visible study's new group went to its own host object.
  EXPECT_EQ(s.host.updated, std::vector<int32_t>{study.host_object_id});
  EXPECT_STREQ(study.summary, "result of Fiber tracking 1");
}

TEST(TimedRun, FailureChangesNothingAndSaysSo) {
  StudySession s;
  select_study_by_index(s.list, s.env, 0);
  auto& seed = std::get<FiberTrackingStudy>(s.page.working).seed;
  seed.selector = ZTR_REGION_LISTED;
  seed.listed_count = 1;
  StubRuns stub;
  stub.result = -1;
  EXPECT_EQ(run_active_study_timed(s.list, s.env, stub.table(), {}, kCursor), -1);
  EXPECT_EQ(stub.ran.size(), 1u);
  EXPECT_EQ(s.page.message, "Analysis failed.");
  EXPECT_EQ(s.list.studies[0]->status, ZTR_STUDY_NOT_ANALYSED);
  EXPECT_TRUE(s.locked.empty());
  EXPECT_TRUE(s.host.cursors.empty());
  EXPECT_TRUE(s.host.updated.empty());
  // A missing kind run is a failure too, never a success.
  StudyKindRuns none;
  EXPECT_EQ(run_active_study_timed(s.list, s.env, none, {}, kCursor), -1);
  EXPECT_EQ(s.list.studies[0]->status, ZTR_STUDY_NOT_ANALYSED);
}

TEST(TimedRun, MidnightRunReportsItsRealDuration) {
  StudySession s;
  s.env.time_of_day = clock_of({86399.9, 0.1});
  StubRuns stub;
  ASSERT_EQ(run_active_study_timed(s.list, s.env, stub.table(), {}, kCursor), 0);
  EXPECT_EQ(s.page.message, "Analysis completed in 0.20 sec.");
}

TEST(TimedRun, AnalysedBoxStudySendsItsTruncatedBoxFirst) {
  StudySession s;  // the voxel statistics study (box region) is active: edit its panel
  auto& box = *std::get<VoxelStatisticsStudy>(s.page.working).region.box;
  box = ZTR_FLOAT_BOX{{1.7f, 2.2f, 3.9f}, {4.5f, 5.0f, 6.99f}};
  StubRuns stub;
  ASSERT_EQ(run_active_study_timed(s.list, s.env, stub.table(), {}, kCursor), 0);
  EXPECT_TRUE(s.host.boxes.empty());  // not analysed before this run
  ASSERT_EQ(run_active_study_timed(s.list, s.env, stub.table(), {}, kCursor), 0);
  ASSERT_EQ(s.host.boxes.size(), 1u);
  EXPECT_EQ(s.host.boxes[0], (std::array<int32_t, 6>{1, 2, 3, 4, 5, 6}));
}

TEST(TimedRun, WithoutAnActiveStudyTheFirstIsSelectedWithItsOwnValues) {
  StudySession s;
  s.ft(0).length = 50;
  new_study_object(s.list, s.env, ZTR_STUDY_FIBER_TRACKING);
  std::get<FiberTrackingStudy>(s.page.working).length = 222;  // panel of the doomed study
  delete_active_study(s.list, s.env);
  StubRuns stub;
  ASSERT_EQ(run_active_study_timed(s.list, s.env, stub.table(), {}, kCursor), 0);
  ASSERT_EQ(stub.ran, std::vector<std::string>{"Fiber tracking 1"});
  EXPECT_EQ(stub.lengths, std::vector<int32_t>{50});
  EXPECT_EQ(s.ft(0).length, 50);
  EXPECT_EQ(s.list.active_id, s.list.studies[0]->id);
  EXPECT_EQ(std::get<FiberTrackingStudy>(s.page.working).length, 50);
}

TEST(TimedRun, PanelValuesAreTheOnesTheRunUses) {
  StudySession s;
  select_study_by_index(s.list, s.env, 0);
  std::get<FiberTrackingStudy>(s.page.working).length = 77;
  StubRuns stub;
  ASSERT_EQ(run_active_study_timed(s.list, s.env, stub.table(), {}, kCursor), 0);
  EXPECT_EQ(stub.lengths, std::vector<int32_t>{77});
}

TEST(AnalyzeAll, RunsInListOrderAndEndsWithTheRememberedStudyLoaded) {
  StudySession s;
  new_study_object(s.list, s.env, ZTR_STUDY_FIBER_TRACKING);  // "Fiber tracking 2"
  select_study_by_index(s.list, s.env, 0);
  s.ft(3).length = 120;
  std::get<FiberTrackingStudy>(s.page.working).length = 40;  // unsaved panel edit of study A
  StubRuns stub;
  EXPECT_EQ(analyze_all_studies(s.list, s.env, stub.table(), false, kCursor), 0);
  EXPECT_EQ(stub.ran, (std::vector<std::string>{"Fiber tracking 1", "Diffusion profile 1",
                                                "Voxel statistics 1", "Fiber tracking 2"}));
  EXPECT_EQ(stub.lengths, (std::vector<int32_t>{40, 120}));
  EXPECT_EQ(s.list.active_id, 0);
  // The panel holds the remembered study, so a row switch changes no study's values.
  EXPECT_EQ(std::get<FiberTrackingStudy>(s.page.working).length, 40);
  select_study_by_index(s.list, s.env, 3);
  EXPECT_EQ(s.ft(0).length, 40);
  EXPECT_EQ(s.ft(3).length, 120);
  for (auto& study : s.list.studies) EXPECT_EQ(study->status, ZTR_STUDY_ANALYSED);
}

TEST(AnalyzeAll, ButDoneSkipsOnlyStudiesAnalysedInThisSession) {
  StudySession s;
  s.list.studies[0]->status = ZTR_STUDY_ANALYSED;
  s.list.studies[1]->status = ZTR_STUDY_RELOADED;
  StubRuns stub;
  EXPECT_EQ(analyze_all_studies(s.list, s.env, stub.table(), true, kCursor), 0);
  EXPECT_EQ(stub.ran, (std::vector<std::string>{"Diffusion profile 1", "Voxel statistics 1"}));
  EXPECT_EQ(s.list.studies[1]->status, ZTR_STUDY_ANALYSED);
  EXPECT_EQ(study_row_columns(*s.list.studies[1], 1)[3], "done");
}

TEST(AnalyzeAll, CountsFailuresAndLeavesFailedStudiesToRunAgain) {
  StudySession s;
  StubRuns stub;
  stub.result = -1;
  EXPECT_EQ(analyze_all_studies(s.list, s.env, stub.table(), true, kCursor), 3);
  stub.result = 0;
  stub.ran.clear();
  EXPECT_EQ(analyze_all_studies(s.list, s.env, stub.table(), true, kCursor), 0);
  EXPECT_EQ(stub.ran.size(), 3u);
}

TEST(AnalyzeAll, WithNothingActiveEndsWithNothingActiveAndPanelsHidden) {
  StudySession s;
  delete_active_study(s.list, s.env);
  StubRuns stub;
  EXPECT_EQ(analyze_all_studies(s.list, s.env, stub.table(), false, kCursor), 0);
  EXPECT_EQ(stub.ran.size(), 2u);
  EXPECT_EQ(s.list.active_id, ZTR_NO_STUDY);
  EXPECT_TRUE(s.page.hidden);
}
