// The study panels' values without a toolkit: how each kind's entries and radios are read
// back, what a region tab stores, and what survives loading and storing a study unchanged.
#include "analyzer/app/study_panels.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/console_capture.h"

// One "Stop if" entry typed into a default study's panel, and the field it sets.
struct StopIfCase {
  int entry;
  const char* text;
  std::function<float(const FiberTrackingStudy&)> field;
  float expected;
};

TEST(StudyPanels, StopIfEntriesAreReadWithTheirScales) {
  const auto fa = [](const FiberTrackingStudy& s) { return s.fa_min; };
  const auto adc = [](const FiberTrackingStudy& s) { return s.adc_max; };
  const auto so_low = [](const FiberTrackingStudy& s) { return s.so_min; };
  const auto so_high = [](const FiberTrackingStudy& s) { return s.so_max; };
  const auto angle = [](const FiberTrackingStudy& s) { return s.angle_max; };
  const auto length = [](const FiberTrackingStudy& s) { return float(s.length); };
  const StopIfCase cases[] = {
      {0, "0.3", fa, 0.3f},        {1, "3.00", adc, 0.003f},  // shown 3.00: 0.003 mm^2/s
      {1, "2.5", adc, 0.0025f},    {2, "abc", so_low, 0.0f},  // not a number: unchanged
      {3, "inf", so_high, 900.0f},                            // not finite: unchanged
      {3, "", so_high, 900.0f},    {4, "12.75", angle, 12.75f},
      {5, "99.9", length, 99.0f},  // truncated
      {5, "300", length, 256.0f},  // capped
      {5, "-5", length, 1.0f},     // at least the seed node
      {5, "1e30", length, 256.0f}, {5, "x", length, 160.0f},
  };
  for (const StopIfCase& c : cases) {
    FiberTrackingStudy study;
    FiberTrackingPanel panel = fiber_tracking_panel(study);
    panel.stop_entries[size_t(c.entry)] = c.text;
    store_fiber_tracking_panel(panel, study);
    EXPECT_FLOAT_EQ(c.field(study), c.expected) << "entry " << c.entry << " \"" << c.text << '"';
  }
}

TEST(StudyPanels, StoringAnUnchangedPanelKeepsEveryValue) {
  // 0.183 shows as "0.18": a row switch must not round it.
  FiberTrackingStudy original;
  original.fa_min = 0.183f;
  original.adc_max = 0.00123456f;
  original.scheme = 345;
  original.colour_mode = 9343;
  original.target.selector = ZTR_REGION_LISTED;
  original.target.listed_count = 2;
  original.target.listed_ids[1] = 3;
  FiberTrackingStudy study = original;
  const FiberTrackingPanel panel = fiber_tracking_panel(study);
  EXPECT_EQ(panel.stop_entries[0], "0.18");
  EXPECT_EQ(panel.stop_entries[1], "1.23");
  EXPECT_STREQ(tracking_colour_choices()[size_t(panel.colour_mode)].label, "target gradation");
  store_fiber_tracking_panel(panel, study);
  EXPECT_EQ(study.fa_min, original.fa_min);
  EXPECT_EQ(study.adc_max, original.adc_max);
  EXPECT_EQ(study.scheme, 345);
  EXPECT_EQ(study.colour_mode, 9343);
  EXPECT_EQ(study.target.selector, ZTR_REGION_LISTED);
  EXPECT_EQ(study.target.listed_ids[1], 3);
  EXPECT_EQ(study.avoidance.selector, ZTR_REGION_NONE);
}

TEST(StudyPanels, SchemeChoicePrintsItsConsoleLine) {
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(choose_tracking_scheme(1), 345);
  EXPECT_EQ(choose_tracking_scheme(0), 123);
  EXPECT_EQ(console.finish(),
            "ZTR_FIBETRAK_TRACKING_SCHEME_ANISOCOMP\nZTR_FIBETRAK_TRACKING_SCHEME_E1\n");
}

// One region tab's widgets and the selector they store.
struct RegionCase {
  int32_t chosen;  // the code of the chosen radio
  bool use;
  bool has_use;
  int32_t orientation;
  int32_t expected;
};

TEST(StudyPanels, RegionRadiosAndUseGiveSelectors) {
  const RegionCase cases[] = {
      {ZTR_REGION_SPHERE, true, false, ZTR_VIEW_AXIAL, ZTR_REGION_SPHERE},
      {ZTR_REGION_FREEHAND, true, false, ZTR_VIEW_AXIAL, ZTR_REGION_FREEHAND},
      {ZTR_REGION_FREEHAND, true, false, ZTR_VIEW_SPHERICAL, ZTR_REGION_FREEHAND_ON_MAP},
      {ZTR_REGION_SPHERE, true, true, ZTR_VIEW_SPHERICAL, ZTR_REGION_SPHERE},
      {ZTR_REGION_LISTED, true, true, ZTR_VIEW_AXIAL, ZTR_REGION_LISTED},
      {ZTR_REGION_LISTED, false, true, ZTR_VIEW_AXIAL, ZTR_REGION_NONE},     // " Use" off
      {ZTR_REGION_LISTED, false, false, ZTR_VIEW_AXIAL, ZTR_REGION_LISTED},  // no " Use" check
  };
  for (const RegionCase& c : cases) {
    StudyRegion region;
    region.view.orientation = c.orientation;
    RegionPanel panel;
    panel.choice = choice_index(tracking_region_choices(), c.chosen);
    panel.use = c.use;
    store_region_panel(panel, tracking_region_choices(), c.has_use, region);
    EXPECT_EQ(region.selector, c.expected) << c.chosen << " use " << c.use;
  }
  // Back into a tab: 21 shows as "Freehand", -12 as " Use" off.
  StudyRegion region;
  region.selector = ZTR_REGION_FREEHAND_ON_MAP;
  EXPECT_STREQ(
      tracking_region_choices()[size_t(region_panel(region, tracking_region_choices()).choice)]
          .label,
      "Freehand");
  region.selector = ZTR_REGION_NONE;
  EXPECT_FALSE(region_panel(region, tracking_region_choices()).use);
}

TEST(StudyPanels, ListedSelectionBecomesAtMost128ListedIds) {
  StudyRegion region;
  RegionPanel panel;
  for (uint16_t id = 0; id < 130; ++id) panel.listed.push_back(uint16_t(id + 1000));
  store_region_panel(panel, analysis_region_choices(), false, region);
  EXPECT_EQ(region.listed_count, 128);
  EXPECT_EQ(region.listed_ids[127], 1127);
  panel.listed = {5};
  store_region_panel(panel, analysis_region_choices(), false, region);
  EXPECT_EQ(region.listed_count, 1);
  EXPECT_EQ(region.listed_ids[1], 0);  // nothing stale after the count
  // A stored count outside 0 ... 128 shows at most the array.
  region.listed_count = 500;
  EXPECT_EQ(region_panel(region, analysis_region_choices()).listed.size(), 128u);
}

TEST(StudyPanels, ShowIfEntriesAreReadWithTheirScales) {
  DiffusionProfileStudy study;
  study.setting.adc_high = 0.0025f;
  struct {
    int entry;
    const char* text;
    float DIFFUSION_PROFILE_SETTING::*field;
    float expected;
  } const cases[] = {
      {0, "0.5", &DIFFUSION_PROFILE_SETTING::fa_low, 0.5f},
      {1, "0.9", &DIFFUSION_PROFILE_SETTING::fa_high, 0.9f},
      {2, "0.5", &DIFFUSION_PROFILE_SETTING::adc_low, 0.0005f},
      {3, "nan", &DIFFUSION_PROFILE_SETTING::adc_high, 0.0025f},
      {4, "100", &DIFFUSION_PROFILE_SETTING::so_low, 100.0f},
      {5, "-", &DIFFUSION_PROFILE_SETTING::so_high, 900.0f},
  };
  for (const auto& c : cases) {
    DiffusionProfileStudy changed = study;
    DiffusionProfilePanel p = diffusion_profile_panel(changed);
    p.range_entries[size_t(c.entry)] = c.text;
    store_diffusion_profile_panel(p, changed);
    EXPECT_FLOAT_EQ(changed.setting.*c.field, c.expected) << c.text;
  }
  // Density 734 has no button: nothing shows chosen and the code survives a store.
  study.setting.density = ZTR_PROFILE_DENSITY_SPARSE;
  DiffusionProfilePanel sparse = diffusion_profile_panel(study);
  EXPECT_EQ(sparse.density, -1);
  store_diffusion_profile_panel(sparse, study);
  EXPECT_EQ(study.setting.density, ZTR_PROFILE_DENSITY_SPARSE);
}

TEST(StudyPanels, StatisticsColourModesFollowThePanelOrder) {
  VoxelStatisticsStudy study;
  VoxelStatisticsPanel panel = voxel_statistics_panel(study);
  // Rows: colour mode button chosen, code stored (none chosen keeps the last one).
  const std::pair<int, int32_t> modes[] = {{0, 3564}, {1, 253}, {2, 65757}, {3, 13}, {-1, 13}};
  for (const auto& [index, code] : modes) {
    panel.colour_mode = index;
    store_voxel_statistics_panel(panel, study);
    EXPECT_EQ(study.colour_mode, code) << index;
  }
}
