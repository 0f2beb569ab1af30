// Networks on DTI data: preparation for the current setting (and what happens after it
// changes), voxel inputs and report lines, region statistics, map values, whole-volume maps on
// workers and the preview.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analyzer/dti/maps.h"
#include "analyzer/dti/mpg_setting.h"
#include "analyzer/rtnn/rtnn_maps.h"
#include "analyzer/voxel/voxel_statistics.h"
#include "tests/support/console_capture.h"
#include "tests/analyzer/dti/tensor_test_support.h"
#include "tests/analyzer/rtnn/rtnn_fixtures.h"

namespace {

using tensor_test::DwiData;

// The data's own gradient table, as a network's input MPG wants it.
std::vector<std::array<float, 3>> data_directions(const DiffusionTensorImageData* d) {
  std::vector<std::array<float, 3>> g;
  for (int c = 1; c < d->dti_channels; ++c) g.push_back({d->mpg_vector[c][0], d->mpg_vector[c][1], d->mpg_vector[c][2]});
  return g;
}

// A LIN network over the data's table whose one output is the mean of its inputs (the mean
// log signal ratio), reported x 1000 in maps.
RtnnEntry mean_network(const DiffusionTensorImageData* d, const std::string& name = "mean") {
  const int n = d->dti_channels - 1;
  RtnnEntry e = rtnn_test::make_entry(name, {n, 1}, {ZTR_RTNN_LIN}, {std::vector<float>(n, 1.0f / n)},
                                      {{0.0f}}, data_directions(d));
  e.network->output_scale[0] = 1000;
  e.network->output_lower[0] = -32768;
  e.network->output_upper[0] = 32767;
  return e;
}

// A network whose one output is its first input, ln(S1 / So).
RtnnEntry first_input_network(const DiffusionTensorImageData* d) {
  const int n = d->dti_channels - 1;
  std::vector<float> w(n, 0.0f);
  w[0] = 1.0f;
  RtnnEntry e = rtnn_test::make_entry("first", {n, 1}, {ZTR_RTNN_LIN}, {w}, {{0.0f}}, data_directions(d));
  e.network->output_scale[0] = 100;
  e.network->output_lower[0] = -2000;
  e.network->output_upper[0] = 0;
  return e;
}

void fill(const DwiData& dwi, int x, int y, int z, int16_t so, int16_t s) {
  dwi.at(0, x, y, z) = so;
  for (int c = 1; c < dwi.get()->dti_channels; ++c) dwi.at(c, x, y, z) = s;
}

TEST(RtnnPreparation, MatchedSettingNeedsNoConverterAndOtherSettingsGetOne) {
  DwiData dwi(2, 2, 1, 6);
  RtnnTable table;
  table.entries.push_back(mean_network(dwi.get(), "same"));
  table.entries.push_back(rtnn_test::make_entry("other", {3, 1}, {0}, {{1, 1, 1}}, {{0}},
                                                rtnn_test::axis_directions()));
  ztr::test::ConsoleCapture console;
  ASSERT_EQ(prepare_rtnns_for_mpg(dwi.get(), &table), 0);
  EXPECT_NE(console.text().find("Input B-space matched (same). NO B-space converter created\n"), std::string::npos);
  EXPECT_NE(console.text().find("Input B-space mismatch (other). B-space converter created\n"), std::string::npos);
  EXPECT_EQ(table.entries[0].converter, nullptr);
  EXPECT_NE(table.entries[1].converter, nullptr);
  const uint64_t fingerprint = rtnn_mpg_fingerprint(dwi.get());
  EXPECT_TRUE(rtnn_entry_ready(table.entries[0], fingerprint));
  EXPECT_TRUE(rtnn_entry_ready(table.entries[1], fingerprint));
}

TEST(RtnnPreparation, NetworksThatDoNotFitTheirOwnMpgAreRefused) {
  DwiData dwi(2, 2, 1, 6);
  struct Case {
    const char* what;
    RtnnEntry entry;
  };
  std::vector<Case> cases;
  cases.push_back({"two b=0 channels", mean_network(dwi.get())});
  cases.back().entry.input_mpg.b0 = 2;
  cases.push_back({"input size not total - 1", rtnn_test::make_entry("wide", {4, 1}, {0}, {{1, 1, 1, 1}}, {{0}},
                                                                     rtnn_test::axis_directions())});
  for (Case& c : cases) {
    RtnnTable table;
    table.entries.push_back(std::move(c.entry));
    ztr::test::ConsoleCapture console;
    EXPECT_EQ(prepare_rtnns_for_mpg(dwi.get(), &table), -1) << c.what;
    EXPECT_NE(console.text().find("Err: Dimension mismatch between MPG and RTNN input"), std::string::npos) << c.what;
    EXPECT_FALSE(rtnn_entry_ready(table.entries[0], rtnn_mpg_fingerprint(dwi.get()))) << c.what;
  }
  RtnnTable table;
  table.entries.push_back(mean_network(dwi.get()));
  dwi.get()->mpg_ready = 0;
  EXPECT_EQ(prepare_rtnns_for_mpg(dwi.get(), &table), -1);
}

TEST(RtnnVoxelReport, UnpreparedOrStaleEntriesReportNotAvailable) {
  // Prepared for 7 channels, then the setting grows to 14: the network (6 inputs) must not
  // be fed 13 values, nor stale ones; the report says n/a until it is prepared again.
  DwiData dwi(2, 2, 1, 6, 7);
  fill(dwi, 1, 1, 0, 1000, 500);
  RtnnTable table;
  table.entries.push_back(mean_network(dwi.get()));
  EXPECT_TRUE(std::isnan(rtnn_voxel_parameters(table, dwi.get(), 1, 1, 0)[0].second));  // never prepared
  ASSERT_EQ(prepare_rtnns_for_mpg(dwi.get(), &table), 0);
  EXPECT_NEAR(rtnn_voxel_parameters(table, dwi.get(), 1, 1, 0)[0].second, std::log(0.5), 1e-6);

  mpg_set_total_channels(dwi.get(), 14);
  ASSERT_EQ(dwi.get()->dti_channels, 14);
  fill(dwi, 1, 1, 0, 1000, 500);
  auto extras = [&](const DiffusionTensorImageData* d, int x, int y, int z) {
    return rtnn_voxel_parameters(table, d, x, y, z);
  };
  std::string report;
  show_voxel_parameters(dwi.get(), 1, 1, 0, &report, extras);
  EXPECT_NE(report.find("Extra parameters by RTNN:\n mean0: n/a\n"), std::string::npos) << report;

  // Prepared again for the new setting: through a converter, with a value again (the
  // interpolant between the shell's samples is good to about 2 %).
  ASSERT_TRUE(ensure_rtnns_prepared(dwi.get(), &table));
  EXPECT_NE(table.entries[0].converter, nullptr);
  EXPECT_NEAR(rtnn_voxel_parameters(table, dwi.get(), 1, 1, 0)[0].second, std::log(0.5), 0.03);
}

TEST(RtnnVoxelReport, ValuesAreInNetworkUnitsWithTheNoSignalFloor) {
  DwiData dwi(3, 1, 1, 6);
  fill(dwi, 0, 0, 0, 1000, 250);  // ln 0.25
  fill(dwi, 1, 0, 0, 1000, 0);    // no signal: every input -10
  fill(dwi, 2, 0, 0, 0, 300);     // So 0: nothing to compare with
  RtnnTable table;
  table.entries.push_back(mean_network(dwi.get()));
  ASSERT_EQ(prepare_rtnns_for_mpg(dwi.get(), &table), 0);
  EXPECT_NEAR(rtnn_voxel_parameters(table, dwi.get(), 0, 0, 0)[0].second, std::log(0.25), 1e-6);
  EXPECT_FLOAT_EQ(rtnn_voxel_parameters(table, dwi.get(), 1, 0, 0)[0].second, -10.0f);
  EXPECT_TRUE(std::isnan(rtnn_voxel_parameters(table, dwi.get(), 2, 0, 0)[0].second));
  float out[4];
  EXPECT_EQ(compute_rtnn_at_voxel(table, dwi.get(), 0, 0, 0, out), 1);
  // Outside the volume: n/a rather than a read past it.
  EXPECT_TRUE(std::isnan(rtnn_voxel_parameters(table, dwi.get(), 3, 0, 0)[0].second));
}

TEST(RtnnVoxelReport, OutputsAreClampedToTheRangeOfTheirMapLimits) {
  // Limits (-2000, 0) with scale 100 stand for network values (-20, 0).
  DwiData dwi(1, 1, 1, 6);
  fill(dwi, 0, 0, 0, 1000, 2000);  // ln 2 = 0.69 -> clamped to 0
  RtnnTable table;
  table.entries.push_back(first_input_network(dwi.get()));
  ASSERT_EQ(prepare_rtnns_for_mpg(dwi.get(), &table), 0);
  EXPECT_EQ(rtnn_voxel_parameters(table, dwi.get(), 0, 0, 0)[0].second, 0.0f);
}

TEST(RtnnMapValue, SaturatesAndMapsNotANumberToZero) {
  RtnnEntry e = rtnn_test::make_entry("m", {1, 1}, {0}, {{1}}, {{0}}, {});
  RunTimeNeuralNetwork& n = *e.network;
  n.output_scale[0] = 1000;
  n.output_lower[0] = -1e9f;
  n.output_upper[0] = 1e9f;
  EXPECT_EQ(rtnn_map_value(n, 0, 100.0f), 32767);
  EXPECT_EQ(rtnn_map_value(n, 0, -100.0f), -32768);
  EXPECT_EQ(rtnn_map_value(n, 0, std::nanf("")), 0);
  EXPECT_EQ(rtnn_map_value(n, 0, -0.0027f), -2);  // truncated toward zero
  n.output_lower[0] = 50;                          // limits given the wrong way round
  n.output_upper[0] = -50;
  EXPECT_EQ(rtnn_map_value(n, 0, 1.0f), 50);
}

// A mask volume of the data's size with the listed voxels set to 1.
VolumePtr mask_of(const DwiData& dwi, const std::vector<std::array<int, 3>>& voxels) {
  const VolumeHeader& h = *dwi.volume->header;
  const int32_t dims[3] = {h.x, h.y, h.z};
  VolumePtr mask(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, 0));
  for (const auto& v : voxels) ZTR_Voxel<uint8_t>(mask.get(), 0, v[0], v[1], v[2]) = 1;
  return mask;
}

TEST(RtnnRegionStatistics, LinesShowMinimumMaximumMeanAndDeviation) {
  // Outputs ln 0.5 = -0.693 and ln 0.25 = -1.386: mean -1.04, deviation 0.35; the So = 0
  // voxel in the mask is left out instead of making every figure NaN.
  DwiData dwi(3, 1, 1, 6);
  fill(dwi, 0, 0, 0, 1000, 500);
  fill(dwi, 1, 0, 0, 1000, 250);
  fill(dwi, 2, 0, 0, 0, 0);
  RtnnTable table;
  table.entries.push_back(mean_network(dwi.get()));
  VolumePtr mask = mask_of(dwi, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
  std::string text;
  RtnnRegionStatistics stats;
  ASSERT_EQ(compute_rtnn_region_statistics(&table, dwi.get(), mask.get(), &text, &stats), 0);
  EXPECT_EQ(text, "  mean0: -1.39 - -0.69 (-1.04 / 0.35)\n");
  EXPECT_EQ(stats.count, 2);
  EXPECT_EQ(stats.skipped, 1);
}

TEST(RtnnRegionStatistics, ConstantOutputsHaveZeroDeviationAndEmptyMasksNoNumbers) {
  DwiData dwi(40, 40, 4, 6);
  std::vector<std::array<int, 3>> all;
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x) {
        fill(dwi, x, y, z, 1000, 333);
        all.push_back({x, y, z});
      }
  RtnnTable table;
  table.entries.push_back(mean_network(dwi.get()));
  VolumePtr mask = mask_of(dwi, all);
  std::string text;
  RtnnRegionStatistics stats;
  ASSERT_EQ(compute_rtnn_region_statistics(&table, dwi.get(), mask.get(), &text, &stats), 0);
  EXPECT_EQ(text, "  mean0: -1.10 - -1.10 (-1.10 / 0.00)\n");
  EXPECT_GE(stats.outputs[0].variance, 0.0f);
  VolumePtr empty = mask_of(dwi, {});
  ASSERT_EQ(compute_rtnn_region_statistics(&table, dwi.get(), empty.get(), &text), 0);
  EXPECT_EQ(text, "  mean0: no voxels\n");
}

// The text as the voxel statistics summary takes it: nullptr when unavailable.
std::string summary_with(const std::optional<std::string>& rtnn) {
  ROI_DTI_STATISTICS statistics;
  return statistics_summary_text(statistics, -1.0, rtnn ? rtnn->c_str() : nullptr);
}

TEST(RtnnRegionStatistics, VoxelStatisticsSummaryAppendsTheLinesOrSaysUnavailable) {
  DwiData dwi(2, 1, 1, 6);
  fill(dwi, 0, 0, 0, 1000, 500);
  VolumePtr mask = mask_of(dwi, {{0, 0, 0}});
  RtnnTable none;
  EXPECT_FALSE(rtnn_statistics_text(&none, dwi.get(), mask.get()).has_value());
  EXPECT_NE(summary_with(rtnn_statistics_text(&none, dwi.get(), mask.get()))
                .find("\n(Extra parameters by RTNN is unavailable)\n"),
            std::string::npos);
  RtnnTable table;
  table.entries.push_back(mean_network(dwi.get()));
  EXPECT_EQ(rtnn_statistics_text(&table, dwi.get(), mask.get()).value_or(""),
            "  mean0: -0.69 - -0.69 (-0.69 / 0.00)\n");
  const std::string summary = summary_with(rtnn_statistics_text(&table, dwi.get(), mask.get()));
  EXPECT_NE(summary.find("Extra parameters by RTNN:\n  mean0: -0.69 - -0.69 (-0.69 / 0.00)\n"),
            std::string::npos)
      << summary;
  // A mask of another size is refused, not read past.
  const int32_t dims[3] = {5, 5, 5};
  VolumePtr wrong(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, 0));
  EXPECT_FALSE(rtnn_statistics_text(&table, dwi.get(), wrong.get()).has_value());
}

TEST(RtnnMaps, WorkersFillEveryVoxelAboveTheThreshold) {
  // More threads than slices; voxels at or below the threshold stay 0.
  DwiData dwi(5, 4, 3, 6);
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) fill(dwi, x, y, z, static_cast<int16_t>(100 + 100 * x), static_cast<int16_t>(50 + 10 * y + z));
  RtnnTable table;
  table.entries.push_back(mean_network(dwi.get()));
  ASSERT_EQ(prepare_rtnns_for_mpg(dwi.get(), &table), 0);
  const int before = dwi.volume->header->channels;
  int first = -1;
  ztr::test::ConsoleCapture console;
  ASSERT_EQ(compute_rtnn_maps(dwi.get(), 200, table.entries[0], 16, &first), 1);
  EXPECT_NE(console.text().find("completed (3 threads)"), std::string::npos);
  EXPECT_EQ(first, before);
  ASSERT_EQ(dwi.volume->header->channels, before + 1);
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) {
        const int16_t so = dwi.at(0, x, y, z);
        const int16_t expected =
            so <= 200 ? 0 : static_cast<int16_t>(std::log(float(50 + 10 * y + z) / so) * 1000.0f);
        EXPECT_NEAR(dwi.at(before, x, y, z), expected, 1) << x << ' ' << y << ' ' << z;
      }
}

TEST(RtnnMaps, SlicesOfAWorkerThatCannotStartAreReported) {
  DwiData dwi(4, 4, 4, 6);
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) fill(dwi, x, y, z, 1000, 500);
  RtnnTable table;
  table.entries.push_back(mean_network(dwi.get()));
  ASSERT_EQ(prepare_rtnns_for_mpg(dwi.get(), &table), 0);
  WorkRunOptions options;
  options.start_failure = [](int part) { return part == 1 ? 11 : 0; };
  int failed = 0;
  ztr::test::ConsoleCapture console;
  VolumePtr maps = compute_rtnn_map_volume(dwi.get(), 0, table.entries[0], 2, options, &failed);
  ASSERT_NE(maps, nullptr);
  EXPECT_EQ(failed, 2);
  EXPECT_NE(console.text().find("Warning: 2 slices not computed\n"), std::string::npos);
}

TEST(RtnnMaps, StaleEntryComputesNothing) {
  DwiData dwi(2, 2, 2, 6, 7);
  RtnnTable table;
  table.entries.push_back(mean_network(dwi.get()));
  ASSERT_EQ(prepare_rtnns_for_mpg(dwi.get(), &table), 0);
  mpg_set_total_channels(dwi.get(), 14);
  const int before = dwi.volume->header->channels;
  EXPECT_EQ(compute_rtnn_maps(dwi.get(), 0, table.entries[0], 2), 0);
  EXPECT_EQ(dwi.volume->header->channels, before);
}

TEST(RtnnPreview, ShowsTheMiddleHalfOfTheCentralSliceInItsOrientation) {
  // 64 x 64 x 30: 32 x 32 panels of slice 15 from (16, 16); S1 encodes x, y and z so that a
  // flipped, rotated or wrong slice shows.
  DwiData dwi(64, 64, 30, 6);
  for (int z = 0; z < 30; ++z)
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        fill(dwi, x, y, z, 1000, 999);
        dwi.at(1, x, y, z) = static_cast<int16_t>(1000 - 4 * x - 3 * y - z);
      }
  RtnnTable table;
  table.entries.push_back(first_input_network(dwi.get()));
  table.entries.push_back(mean_network(dwi.get()));
  ASSERT_EQ(prepare_rtnns_for_mpg(dwi.get(), &table), 0);
  RtnnPreview preview;
  ASSERT_TRUE(make_rtnn_preview(dwi.get(), table, 4, &preview));
  EXPECT_EQ(preview.width, 32);
  EXPECT_EQ(preview.height, 32);
  ASSERT_EQ(preview.panels.size(), 2u);
  EXPECT_EQ(preview.names, (std::vector<std::string>{"first0", "mean0"}));
  EXPECT_EQ(preview.network, (std::vector<int>{0, 1}));
  VolumePtr full = compute_rtnn_map_volume(dwi.get(), 0, table.entries[0], 2);
  ASSERT_NE(full, nullptr);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      // Limits (-2000, 0) onto 0 .. 255.
      const float map = ZTR_Voxel<int16_t>(full.get(), 0, 16 + x, 16 + y, 15);
      const int expected = static_cast<int>((map + 2000.0f) / 2000.0f * 255.0f);
      ASSERT_EQ(preview.panels[0][size_t(y) * 32 + x], expected) << x << ' ' << y;
    }
}

TEST(RtnnPreview, VolumesTooSmallToCropGiveNone) {
  DwiData dwi(1, 8, 4, 6);
  RtnnTable table;
  table.entries.push_back(mean_network(dwi.get()));
  ASSERT_EQ(prepare_rtnns_for_mpg(dwi.get(), &table), 0);
  RtnnPreview preview;
  EXPECT_FALSE(make_rtnn_preview(dwi.get(), table, 2, &preview));
}

TEST(RtnnDensity, SparseOrSingleShellDataIsFlagged) {
  DwiData dwi(1, 1, 1, 6);
  RtnnTable table;
  EXPECT_EQ(check_rtnn_qspace_density(table, 7, dwi.get()->b_value), 0);  // nothing loaded
  table.entries.push_back(mean_network(dwi.get()));
  EXPECT_EQ(check_rtnn_qspace_density(table, 7, dwi.get()->b_value), 0);
  // A 31-channel network is too much for 7 channels (7 < 31 / 2).
  RtnnEntry wide = mean_network(dwi.get());
  wide.input_mpg.total = 31;
  wide.input_mpg.b_value.assign(31, 1000.0f);
  wide.input_mpg.b_value[0] = 0;
  table.entries.push_back(std::move(wide));
  EXPECT_EQ(check_rtnn_qspace_density(table, 7, dwi.get()->b_value), -1);
  // Two shells wanted, one measured.
  table.entries.pop_back();
  table.entries[0].input_mpg.b_value[3] = 2000.0f;
  EXPECT_EQ(check_rtnn_qspace_density(table, 7, dwi.get()->b_value), -1);
}

}  // namespace

namespace {

TEST(RtnnPreparation, AFailedSettingIsNotRetriedUntilTheSetOrSettingChanges) {
  DwiData dwi(2, 2, 1, 6);
  fill(dwi, 0, 0, 0, 1000, 500);
  RtnnTable table;
  table.entries.push_back(mean_network(dwi.get()));
  table.entries[0].input_mpg.b0 = 2;  // cannot be prepared
  {
    ztr::test::ConsoleCapture console;
    EXPECT_FALSE(ensure_rtnns_prepared(dwi.get(), &table));
    EXPECT_FALSE(ensure_rtnns_prepared(dwi.get(), &table));
    // One attempt, one message: a timer calling this each tick does not flood the console.
    const std::string text = console.text();
    EXPECT_EQ(text.find("Dimension mismatch"), text.rfind("Dimension mismatch"));
  }
  // A newly loaded set (same table record, same setting) is prepared again.
  RtnnTable fresh;
  fresh.entries.push_back(mean_network(dwi.get()));
  table = std::move(fresh);
  ztr::test::ConsoleCapture quiet;
  EXPECT_TRUE(ensure_rtnns_prepared(dwi.get(), &table));
}

}  // namespace
