// The study panels' values without a toolkit: what each kind's panel shows for a study, how
// its entries, checks, radios and ROI selections are read back, and what survives a store.
#include "analyzer/app/study_panels.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/console_capture.h"

namespace {

FiberTrackingStudy non_default_tracking() {
  FiberTrackingStudy s;
  s.fa_on = 0;
  s.fa_min = 0.25f;
  s.adc_on = 1;
  s.adc_max = 0.0021f;
  s.so_low_on = 0;
  s.so_min = 12.5f;
  s.so_high_on = 1;
  s.so_max = 850.0f;
  s.angle_on = 1;
  s.angle_max = 45.0f;
  s.length = 200;
  s.scheme = 345;
  s.seed_density = 723;
  s.colour_mode = 13;
  s.primitive = 237;
  s.colours[0] = {0.2f, 0.4f, 0.6f, 0.0f};
  s.seed.selector = ZTR_REGION_FREEHAND_ON_MAP;
  s.target.selector = ZTR_REGION_LISTED;
  s.target.listed_count = 2;
  s.target.listed_ids[0] = 7;
  s.target.listed_ids[1] = 3;
  s.avoidance.selector = ZTR_REGION_NONE;
  return s;
}

}  // namespace

TEST(StudyPanels, FiberTrackingPanelShowsTheStudy) {
  const FiberTrackingPanel p = fiber_tracking_panel(non_default_tracking());
  // ADC 0.0021 mm^2/s shows times 1000; the length as an integer.
  EXPECT_EQ(p.stop_entries,
            (std::array<std::string, 6>{"0.25", "2.10", "12.50", "850.00", "45.00", "200"}));
  EXPECT_EQ(p.stop_checks, (std::array<bool, 5>{false, true, false, true, true}));
  EXPECT_STREQ(tracking_scheme_choices()[size_t(p.scheme)].label, "advanced");
  EXPECT_STREQ(seed_density_choices()[size_t(p.seed_density)].label, "high");
  EXPECT_STREQ(tracking_colour_choices()[size_t(p.colour_mode)].label, "uniform color");
  EXPECT_STREQ(tracking_primitive_choices()[size_t(p.primitive)].label, "ribbon");
  EXPECT_FLOAT_EQ(p.colour[2], 0.6f);
  EXPECT_STREQ(tracking_region_choices()[size_t(p.seed.choice)].label, "Freehand");
  EXPECT_STREQ(tracking_region_choices()[size_t(p.target.choice)].label, "Listed");
  EXPECT_EQ(p.target.listed, (std::vector<uint16_t>{7, 3}));
  EXPECT_TRUE(p.target.use);
  EXPECT_FALSE(p.avoidance.use);
}

TEST(StudyPanels, ColourModesFollowThePanelOrder) {
  std::vector<int32_t> codes;
  for (const PanelChoice& c : tracking_colour_choices()) codes.push_back(c.code);
  EXPECT_EQ(codes, (std::vector<int32_t>{253, 65757, 3564, 431, 513, 13, 9343}));
  codes.clear();
  for (const PanelChoice& c : statistics_colour_choices()) codes.push_back(c.code);
  EXPECT_EQ(codes, (std::vector<int32_t>{3564, 253, 65757, 13}));
  // "target gradation" names the code it stores.
  FiberTrackingStudy s;
  s.colour_mode = 9343;
  EXPECT_STREQ(tracking_colour_choices()[size_t(fiber_tracking_panel(s).colour_mode)].label,
               "target gradation");
}

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
      {0, "0.3", fa, 0.3f},
      {1, "3.00", adc, 0.003f},      // shown 3.00: 0.003 mm^2/s
      {1, "2.5", adc, 0.0025f},
      {2, "abc", so_low, 0.0f},      // not a number: unchanged
      {3, "inf", so_high, 900.0f},   // not finite: unchanged
      {3, "", so_high, 900.0f},
      {4, "12.75", angle, 12.75f},
      {5, "99.9", length, 99.0f},    // truncated
      {5, "300", length, 256.0f},    // capped
      {5, "-5", length, 1.0f},       // at least the seed node
      {5, "1e30", length, 256.0f},
      {5, "x", length, 160.0f},
  };
  for (const StopIfCase& c : cases) {
    FiberTrackingStudy study;
    FiberTrackingPanel panel = fiber_tracking_panel(study);
    panel.stop_entries[size_t(c.entry)] = c.text;
    store_fiber_tracking_panel(panel, study);
    EXPECT_FLOAT_EQ(c.field(study), c.expected) << "entry " << c.entry << " \"" << c.text << '"';
  }
}

TEST(StudyPanels, FiberTrackingStoreOfAnUnchangedPanelKeepsEveryValue) {
  // 0.183 shows as "0.18": a row switch must not round it.
  FiberTrackingStudy original = non_default_tracking();
  original.fa_min = 0.183f;
  original.adc_max = 0.00123456f;
  FiberTrackingStudy study = original;
  store_fiber_tracking_panel(fiber_tracking_panel(study), study);
  EXPECT_EQ(study.fa_min, original.fa_min);
  EXPECT_EQ(study.adc_max, original.adc_max);
  EXPECT_EQ(study.fa_on, 0);
  EXPECT_EQ(study.scheme, 345);
  EXPECT_EQ(study.seed_density, 723);
  EXPECT_EQ(study.colour_mode, 13);
  EXPECT_EQ(study.primitive, 237);
  EXPECT_EQ(study.target.selector, ZTR_REGION_LISTED);
  EXPECT_EQ(study.target.listed_count, 2);
  EXPECT_EQ(study.avoidance.selector, ZTR_REGION_NONE);
  // The seed's view was not drawn on a spherical map: its freehand is 981 now.
  EXPECT_EQ(study.seed.selector, ZTR_REGION_FREEHAND);
}

TEST(StudyPanels, ChangedWidgetsGiveTheirCodes) {
  FiberTrackingStudy study;
  FiberTrackingPanel panel = fiber_tracking_panel(study);
  panel.stop_checks = {false, true, false, true, true};
  panel.scheme = 1;
  panel.seed_density = 1;
  panel.colour_mode = 1;
  panel.primitive = 1;
  panel.colour = {0.5f, 0.25f, 0.125f, 1.0f};
  store_fiber_tracking_panel(panel, study);
  EXPECT_EQ((std::array<int32_t, 5>{study.fa_on, study.adc_on, study.so_low_on, study.so_high_on,
                                    study.angle_on}),
            (std::array<int32_t, 5>{0, 1, 0, 1, 1}));
  EXPECT_EQ(study.scheme, 345);
  EXPECT_EQ(study.seed_density, 723);
  EXPECT_EQ(study.colour_mode, 65757);
  EXPECT_EQ(study.primitive, 915);
  // The colour button gives red, green and blue; alpha stays the study's.
  EXPECT_EQ(study.colours[0], (std::array<float, 4>{0.5f, 0.25f, 0.125f, 0.0f}));
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
      {ZTR_REGION_LISTED, false, true, ZTR_VIEW_AXIAL, ZTR_REGION_NONE},    // " Use" off
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
}

TEST(StudyPanels, ListedSelectionBecomesAtMost128ListedIds) {
  StudyRegion region;
  region.listed_count = 3;
  region.listed_ids = {};
  region.listed_ids[2] = 99;
  RegionPanel panel;
  for (uint16_t id = 0; id < 130; ++id) panel.listed.push_back(uint16_t(id + 1000));
  store_region_panel(panel, analysis_region_choices(), false, region);
  EXPECT_EQ(region.listed_count, 128);
  EXPECT_EQ(region.listed_ids[0], 1000);
  EXPECT_EQ(region.listed_ids[127], 1127);
  panel.listed = {5};
  store_region_panel(panel, analysis_region_choices(), false, region);
  EXPECT_EQ(region.listed_count, 1);
  EXPECT_EQ(region.listed_ids[1], 0);  // nothing stale after the count
  // A stored count outside 0 ... 128 shows at most the array.
  region.listed_count = 500;
  EXPECT_EQ(region_panel(region, analysis_region_choices()).listed.size(), 128u);
}

TEST(StudyPanels, DiffusionProfilePanelShowsAndReadsItsSetting) {
  DiffusionProfileStudy study;
  study.setting.fa_low = 0.3f;
  study.setting.adc_high = 0.0025f;
  study.setting.so_on = study.setting.so_on_copy = 0;
  study.setting.density = ZTR_PROFILE_DENSITY_ON_VOXEL;
  study.setting.primitive = ZTR_PROFILE_PRIMITIVE_STAR;
  study.setting.colouring = ZTR_PROFILE_COLOURING_DIRECTION;
  study.setting.emphasis = 1;
  study.region.selector = ZTR_REGION_BOX_VOI;
  DiffusionProfilePanel panel = diffusion_profile_panel(study);
  EXPECT_EQ(panel.range_entries,
            (std::array<std::string, 6>{"0.30", "1.00", "0.00", "2.50", "0.00", "900.00"}));
  EXPECT_EQ(panel.range_checks, (std::array<bool, 3>{true, true, false}));
  EXPECT_STREQ(profile_density_choices()[size_t(panel.density)].label, "on voxel");
  EXPECT_STREQ(profile_primitive_choices()[size_t(panel.primitive)].label, "star");
  EXPECT_STREQ(profile_colouring_choices()[size_t(panel.colouring)].label, "directional coding");
  EXPECT_TRUE(panel.emphasis);
  EXPECT_STREQ(analysis_region_choices()[size_t(panel.region.choice)].label, "Box VOI");

  // Rows: entry typed, field read back.
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

  panel.range_checks = {false, true, true};
  panel.density = 1;
  panel.primitive = 0;
  panel.colouring = 0;
  panel.emphasis = false;
  panel.region.choice = 3;
  panel.region.listed = {4, 2};
  store_diffusion_profile_panel(panel, study);
  const DIFFUSION_PROFILE_SETTING& s = study.setting;
  EXPECT_EQ((std::array<int32_t, 6>{s.fa_on, s.fa_on_copy, s.adc_on, s.adc_on_copy, s.so_on,
                                    s.so_on_copy}),
            (std::array<int32_t, 6>{0, 0, 1, 1, 1, 1}));
  EXPECT_EQ(s.density, ZTR_PROFILE_DENSITY_HIGH);
  EXPECT_EQ(s.primitive, ZTR_PROFILE_PRIMITIVE_ELLIPSOID);
  EXPECT_EQ(s.colouring, ZTR_PROFILE_COLOURING_ANISOTROPY);
  EXPECT_EQ(s.emphasis, 0);
  EXPECT_EQ(study.region.selector, ZTR_REGION_LISTED);
  EXPECT_EQ(study.region.listed_count, 2);

  // Density 734 has no button: nothing shows chosen and the code survives a store.
  study.setting.density = ZTR_PROFILE_DENSITY_SPARSE;
  DiffusionProfilePanel sparse = diffusion_profile_panel(study);
  EXPECT_EQ(sparse.density, -1);
  store_diffusion_profile_panel(sparse, study);
  EXPECT_EQ(study.setting.density, ZTR_PROFILE_DENSITY_SPARSE);
}

TEST(StudyPanels, VoxelStatisticsPanelShowsAndReadsColourAndRegion) {
  VoxelStatisticsStudy study;
  study.colour_mode = 65757;
  study.colour = {0.1f, 0.2f, 0.3f, 0.7f};
  study.region.selector = ZTR_REGION_SPHERE;
  VoxelStatisticsPanel panel = voxel_statistics_panel(study);
  EXPECT_STREQ(statistics_colour_choices()[size_t(panel.colour_mode)].label, "distance coding");
  EXPECT_STREQ(analysis_region_choices()[size_t(panel.region.choice)].label, "Sphere");
  // Rows: colour mode button chosen, code stored.
  const std::pair<int, int32_t> modes[] = {{0, 3564}, {1, 253}, {2, 65757}, {3, 13}, {-1, 13}};
  for (const auto& [index, code] : modes) {
    panel.colour_mode = index;
    store_voxel_statistics_panel(panel, study);
    EXPECT_EQ(study.colour_mode, code) << index;
  }
  panel.colour = {1.0f, 0.0f, 0.5f, 1.0f};
  panel.region.choice = 0;
  store_voxel_statistics_panel(panel, study);
  EXPECT_EQ(study.colour, (std::array<float, 4>{1.0f, 0.0f, 0.5f, 0.7f}));
  EXPECT_EQ(study.region.selector, ZTR_REGION_BOX_VOI);
}
