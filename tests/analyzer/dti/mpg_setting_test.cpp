// Tests of the MPG setting: the direction table, the three setters and their rejection
// rules, the Setting menu operations, the report and the DWI recognition notice.
#include "analyzer/dti/mpg_setting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "analyzer/notice.h"
#include "tests/support/console_capture.h"

namespace {

// A record over a 2x2x1 volume of `channels` signed 16-bit channels; owns both.
struct Fixture {
  VolumePtr volume;
  DtiDataPtr data;
  explicit Fixture(int32_t channels) {
    const VolumeHeader header{2, 2, 1, channels};
    std::vector<int32_t> types(channels, ZTR_TYPE_INT16), attributes(channels, 0);
    volume.reset(ZTR_NewRawVolumeData(header, types.data(), attributes.data()));
    ztr::test::ConsoleCapture console;
    data.reset(ZTRdti_NewDiffusionTensorImageData(volume.get(), channels));
    console.finish();
  }
  // Fills every array entry with a recognisable pattern.
  void scribble() {
    for (int c = 0; c < ZTR_DTI_MAX_CHANNELS; ++c) {
      data->b_value[c] = float(c) + 0.25f;
      for (int a = 0; a < 3; ++a) data->mpg_vector[c][a] = float(c * 3 + a) + 0.5f;
    }
    data->dti_channels = 11;
    data->b0_channels = 2;
  }
};

// Byte copy of the whole setting for "left exactly as it was" checks (readiness aside).
std::vector<unsigned char> snapshot(const DiffusionTensorImageData* d) {
  std::vector<unsigned char> bytes(sizeof(DiffusionTensorImageData));
  std::memcpy(bytes.data(), d, bytes.size());
  auto* copy = reinterpret_cast<DiffusionTensorImageData*>(bytes.data());
  copy->mpg_ready = 0;
  return bytes;
}

struct RecordingSink : NoticeSink {
  std::vector<std::pair<std::string, std::string>> shown;
  void notice(const std::string& title, const std::string& text) override {
    shown.emplace_back(title, text);
  }
};

std::string captured(void (*f)(DiffusionTensorImageData*), DiffusionTensorImageData* d) {
  ztr::test::ConsoleCapture console;
  f(d);
  return console.finish();
}

}  // namespace

// ---- direction table --------------------------------------------------------------------

TEST(DirectionTable, PresetRowsHoldTheFixedValues) {
  const float (*six)[3] = default_mpg_direction_row(6);
  ASSERT_NE(six, nullptr);
  EXPECT_EQ(six[0][0], 0.707f);
  EXPECT_EQ(six[0][2], 0.707f);
  EXPECT_EQ(six[1][0], -0.707f);
  EXPECT_EQ(six[3][2], -0.707f);
  EXPECT_EQ(six[5][0], -0.707f);
  EXPECT_EQ(six[5][1], 0.707f);
  EXPECT_EQ(six[5][2], 0.0f);
  const float (*thirteen)[3] = default_mpg_direction_row(13);
  ASSERT_NE(thirteen, nullptr);
  EXPECT_EQ(thirteen[0][0], -0.754267f);
  EXPECT_EQ(thirteen[0][1], 0.173500f);
  EXPECT_EQ(thirteen[0][2], -0.633229f);
  EXPECT_EQ(thirteen[7][1], -0.948900f);
  EXPECT_EQ(thirteen[12][0], 0.813568f);
  EXPECT_EQ(thirteen[12][2], -0.531419f);
}

TEST(DirectionTable, OnlyRowsSixToOneHundredTwentyNineExist) {
  EXPECT_EQ(default_mpg_direction_row(5), nullptr);
  EXPECT_EQ(default_mpg_direction_row(130), nullptr);
  EXPECT_EQ(default_mpg_direction_row(-1), nullptr);
  EXPECT_EQ(default_mpg_direction_row(129), default_mpg_directions[123]);
}

TEST(DirectionTable, EveryRowHoldsUnitVectorsAndZeroSlotsAfterThem) {
  for (int n = 6; n <= 129; ++n) {
    const float (*row)[3] = default_mpg_direction_row(n);
    for (int k = 0; k < 129; ++k) {
      const double length = std::sqrt(double(row[k][0]) * row[k][0] +
                                      double(row[k][1]) * row[k][1] +
                                      double(row[k][2]) * row[k][2]);
      if (k < n) {
        // Row 6 has 0.707 components: length 0.99985.
        EXPECT_NEAR(length, 1.0, n == 6 ? 2e-4 : 2e-6) << "row " << n << " slot " << k;
      } else {
        EXPECT_EQ(length, 0.0) << "row " << n << " slot " << k;
      }
    }
  }
}

TEST(DirectionTable, EveryRowIsWellSpreadAsAxes) {
  // Axis angle: a direction and its opposite are the same axis. For n axes (2n points) a
  // hexagonal covering would give neighbours about sqrt(4 pi / (n sqrt 3)) apart; every row
  // keeps its closest pair of axes at least 70% of that apart (row 6 is exactly 60 degrees).
  // Row 13 is a fixed scanner set and is used as given.
  for (int n = 6; n <= 129; ++n) {
    if (n == 13) continue;
    const float (*row)[3] = default_mpg_direction_row(n);
    double closest = std::numbers::pi;
    for (int i = 0; i < n; ++i) {
      for (int j = i + 1; j < n; ++j) {
        double dot = 0.0, ni = 0.0, nj = 0.0;
        for (int a = 0; a < 3; ++a) {
          dot += double(row[i][a]) * row[j][a];
          ni += double(row[i][a]) * row[i][a];
          nj += double(row[j][a]) * row[j][a];
        }
        const double c = std::min(1.0, std::fabs(dot) / std::sqrt(ni * nj));
        closest = std::min(closest, std::acos(c));
      }
    }
    const double typical = std::sqrt(4.0 * std::numbers::pi / (n * std::sqrt(3.0)));
    EXPECT_GE(closest, 0.7 * typical) << "row " << n;
  }
}

// ---- setters ------------------------------------------------------------------------------

TEST(DefaultSetters, SevenChannelVolumeGetsOneSoAndTheSixDirectionRow) {
  Fixture f(7);
  EXPECT_EQ(ZTRdti_SetSingleSoDefaultMPG(f.data.get(), 7), 0);
  EXPECT_EQ(f.data->mpg_ready, 1);
  EXPECT_EQ(f.data->dti_channels, 7);
  EXPECT_EQ(f.data->b0_channels, 1);
  EXPECT_EQ(f.data->b_value[0], 0.0f);
  for (int a = 0; a < 3; ++a) EXPECT_EQ(f.data->mpg_vector[0][a], 0.0f);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(f.data->b_value[1 + k], 1000.0f);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(f.data->mpg_vector[1 + k][a], default_mpg_directions[0][k][a]);
  }
  EXPECT_EQ(ZTRdti_GetUniformBValue(f.data.get()), 1000.0f);
}

TEST(DefaultSetters, SixChannelVolumeStaysNotReadyAndUntouched) {
  Fixture f(6);
  f.scribble();
  f.data->mpg_ready = 1;
  const auto before = snapshot(f.data.get());
  EXPECT_EQ(ZTRdti_SetSingleSoDefaultMPG(f.data.get(), 6), -1);
  EXPECT_EQ(f.data->mpg_ready, 0);
  EXPECT_EQ(snapshot(f.data.get()), before);
}

TEST(DefaultSetters, TotalBeyondTheVolumeIsRefused) {
  Fixture f(8);
  f.scribble();
  const auto before = snapshot(f.data.get());
  EXPECT_EQ(ZTRdti_SetDefaultMPG(f.data.get(), 9, 1), -1);
  EXPECT_EQ(ZTRdti_SetSingleSoDefaultMPG(f.data.get(), 9), -1);
  EXPECT_EQ(f.data->mpg_ready, 0);
  EXPECT_EQ(snapshot(f.data.get()), before);
}

TEST(DefaultSetters, SeveralSoChannelsComeFirstWithZeroVectors) {
  Fixture f(10);
  f.scribble();
  EXPECT_EQ(ZTRdti_SetDefaultMPG(f.data.get(), 10, 3), 0);
  EXPECT_EQ(f.data->b0_channels, 3);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(f.data->b_value[c], 0.0f);
    EXPECT_EQ(f.data->mpg_vector[c][1], 0.0f);
  }
  for (int k = 0; k < 7; ++k) {
    EXPECT_EQ(f.data->b_value[3 + k], 1000.0f);
    EXPECT_EQ(f.data->mpg_vector[3 + k][2], default_mpg_directions[1][k][2]);
  }
  EXPECT_EQ(f.data->b_value[10], 10.25f);  // beyond the setting: untouched
}

TEST(DefaultSetters, ZeroSoChannelsOrFewerThanSixDirectionsAreRefused) {
  Fixture f(12);
  EXPECT_EQ(ZTRdti_SetDefaultMPG(f.data.get(), 12, 0), -1);
  EXPECT_EQ(ZTRdti_SetDefaultMPG(f.data.get(), 12, 7), -1);
  EXPECT_EQ(ZTRdti_SetDefaultMPG(f.data.get(), 12, 6), 0);
  EXPECT_EQ(f.data->mpg_ready, 1);
}

TEST(DefaultSetters, MoreDirectionsThanTheTableHoldsAreRefused) {
  Fixture f(140);
  EXPECT_EQ(ZTRdti_SetSingleSoDefaultMPG(f.data.get(), 130), 0);  // 129 directions
  EXPECT_EQ(f.data->mpg_vector[129][0], default_mpg_directions[123][128][0]);
  EXPECT_EQ(ZTRdti_SetSingleSoDefaultMPG(f.data.get(), 131), -1);  // 130: no row
  EXPECT_EQ(f.data->mpg_ready, 0);
  EXPECT_EQ(f.data->dti_channels, 130);
}

TEST(DefaultSetters, RecordWithoutVolumeIsNeverReady) {
  ztr::test::ConsoleCapture console;
  DtiDataPtr d(ZTRdti_NewDiffusionTensorImageData(nullptr, 7));
  console.finish();
  EXPECT_EQ(ZTRdti_SetSingleSoDefaultMPG(d.get(), 7), -1);
  EXPECT_EQ(ZTRdti_SetSingleSoDefaultMPG(nullptr, 7), -1);
}

TEST(ArraySetter, AcceptsSixToFiveHundredThirteenWeightedChannelsWithoutVolumeCheck) {
  Fixture f(7);  // far fewer channels than the setting names
  std::vector<float> b(600, 700.0f);
  std::vector<float> g(600 * 3, 0.5f);
  auto* vectors = reinterpret_cast<const float(*)[3]>(g.data());
  b[0] = 0.0f;
  EXPECT_EQ(ZTRdti_SetMPG(f.data.get(), 514, 1, b.data(), vectors), 0);
  EXPECT_EQ(f.data->mpg_ready, 1);
  EXPECT_EQ(f.data->dti_channels, 514);
  EXPECT_EQ(f.data->b_value[513], 700.0f);
  EXPECT_EQ(f.data->mpg_vector[513][2], 0.5f);

  const auto before = snapshot(f.data.get());
  EXPECT_EQ(ZTRdti_SetMPG(f.data.get(), 515, 1, b.data(), vectors), -1);  // 514 weighted
  EXPECT_EQ(ZTRdti_SetMPG(f.data.get(), 6, 1, b.data(), vectors), -1);    // 5 weighted
  EXPECT_EQ(ZTRdti_SetMPG(f.data.get(), 7, 1, nullptr, vectors), -1);
  EXPECT_EQ(ZTRdti_SetMPG(f.data.get(), 7, 1, b.data(), nullptr), -1);
  EXPECT_EQ(f.data->mpg_ready, 0);
  EXPECT_EQ(snapshot(f.data.get()), before);
}

TEST(ArraySetter, NegativeSoCountIsRefused) {
  // A negative count would make every consumer index before the arrays.
  Fixture f(7);
  std::vector<float> b(16, 1.0f), g(48, 1.0f);
  EXPECT_EQ(ZTRdti_SetMPG(f.data.get(), 4, -3, b.data(), reinterpret_cast<const float(*)[3]>(g.data())), -1);
  EXPECT_EQ(f.data->mpg_ready, 0);
}

// ---- menu operations ------------------------------------------------------------------------

TEST(SettingCommands, PresetsUseTheSixAndThirteenDirectionRows) {
  Fixture f(20);
  const std::string out = captured(mpg_preset_ge_13_directions, f.data.get());
  EXPECT_EQ(f.data->dti_channels, 14);
  EXPECT_EQ(f.data->b0_channels, 1);
  EXPECT_EQ(f.data->mpg_vector[1][0], -0.754267f);
  EXPECT_EQ(f.data->b_value[13], 1000.0f);
  EXPECT_NE(out.find("  MPG setting seems to be ready for analysis\n"), std::string::npos);
  captured(mpg_preset_ge_6_directions, f.data.get());
  EXPECT_EQ(f.data->dti_channels, 7);
  EXPECT_EQ(f.data->mpg_vector[1][0], 0.707f);
}

TEST(SettingCommands, SettingSoCountToOneKeepsTheTotal) {
  Fixture f(12);
  ztr::test::ConsoleCapture console;
  ZTRdti_SetDefaultMPG(f.data.get(), 11, 3);
  mpg_set_b0_channels(f.data.get(), 1);
  console.finish();
  EXPECT_EQ(f.data->mpg_ready, 1);
  EXPECT_EQ(f.data->dti_channels, 11);
  EXPECT_EQ(f.data->b0_channels, 1);
  EXPECT_EQ(f.data->mpg_vector[1][0], default_mpg_directions[10 - 6][0][0]);
}

TEST(SettingCommands, SettingSoCountToZeroDropsReadiness) {
  Fixture f(12);
  ztr::test::ConsoleCapture console;
  ZTRdti_SetSingleSoDefaultMPG(f.data.get(), 12);
  const auto before = snapshot(f.data.get());
  mpg_set_b0_channels(f.data.get(), 0);
  const std::string out = console.finish();
  EXPECT_EQ(f.data->mpg_ready, 0);
  EXPECT_EQ(snapshot(f.data.get()), before);
  EXPECT_NE(out.find("  MPG setting NOT ready. Analysis NOT executable.\n"), std::string::npos);
}

TEST(SettingCommands, TotalCountKeepsSeveralSoChannels) {
  Fixture f(12);
  ztr::test::ConsoleCapture console;
  ZTRdti_SetDefaultMPG(f.data.get(), 10, 2);
  f.data->b_value[5] = 3000.0f;
  mpg_set_total_channels(f.data.get(), 12);
  console.finish();
  EXPECT_EQ(f.data->dti_channels, 12);
  EXPECT_EQ(f.data->b0_channels, 2);
  EXPECT_EQ(f.data->b_value[5], 1000.0f);  // reset by the default setter
}

TEST(SettingCommands, UniformBValueChangesWeightedChannelsEvenWhenNotReady) {
  Fixture f(8);
  ztr::test::ConsoleCapture console;
  ZTRdti_SetSingleSoDefaultMPG(f.data.get(), 8);
  f.data->mpg_ready = 0;
  mpg_set_uniform_b_value(f.data.get(), 1500.0f);
  const std::string out = console.finish();
  EXPECT_EQ(f.data->b_value[0], 0.0f);
  for (int c = 1; c < 8; ++c) EXPECT_EQ(f.data->b_value[c], 1500.0f);
  EXPECT_EQ(f.data->mpg_ready, 0);
  EXPECT_NE(out.find("NOT ready"), std::string::npos);
}

// ---- report ---------------------------------------------------------------------------------

TEST(MpgReport, NotReadyReportIsThreeLines) {
  Fixture f(7);
  const std::string sep(51, '-');
  EXPECT_EQ(mpg_setting_report(f.data.get()),
            sep + "\n  MPG setting NOT ready. Analysis NOT executable.\n" + sep + "\n");
}

TEST(MpgReport, ReadyReportListsChannelsFromOne) {
  Fixture f(9);  // 9 channels in the volume, 7 of them in the setting
  ZTRdti_SetSingleSoDefaultMPG(f.data.get(), 7);
  f.data->b_value[2] = 1234.56f;
  const std::string sep(51, '-');
  const std::string expected = sep + "\n" + "  MPG setting seems to be ready for analysis\n" + sep +
                               "\n" +
                               " Total channels: 9\n"
                               " DTI channels: 7\n"
                               " b=0 channels: 1\n"
                               " b>0 channels: 6\n" +
                               sep + "\n" +
                               "   1   b=0.0, g=(0.000, 0.000, 0.000)\n"
                               "   2   b=1000.0, g=(0.707, 0.000, 0.707)\n"
                               "   3   b=1234.6, g=(-0.707, 0.000, 0.707)\n"
                               "   4   b=1000.0, g=(0.000, 0.707, 0.707)\n"
                               "   5   b=1000.0, g=(0.000, 0.707, -0.707)\n"
                               "   6   b=1000.0, g=(0.707, 0.707, 0.000)\n"
                               "   7   b=1000.0, g=(-0.707, 0.707, 0.000)\n" +
                               sep + "\n";
  EXPECT_EQ(mpg_setting_report(f.data.get()), expected);
  ztr::test::ConsoleCapture console;
  ZTRdti_PrintMPGSetting(f.data.get());
  EXPECT_EQ(console.finish(), expected);
}

// ---- DWI recognition notice ----------------------------------------------------------------

TEST(DwiRecognitionNotice, FillsSizesChannelRangesAndTheConstantBValue) {
  Fixture f(16);
  ZTRdti_SetDefaultMPG(f.data.get(), 15, 2);
  f.data->b_value[2] = 800.0f;  // the notice shows the constant default, not this
  RecordingSink sink;
  show_dwi_recognition_notice(f.data.get(), &sink);
  ASSERT_EQ(sink.shown.size(), 1u);
  EXPECT_EQ(sink.shown[0].first, "Important Notice");
  const std::string expected =
      "This software recognized the DWI data from ZANTREVIUM as bellow.\n \n"
      "  matrix size: 2 x 2 x 1 (16 channels)  \n"
      "  b=0 data: ch.  1 - 2                                  \n"
      "  b>0 data: ch. 3 - 15 (13 directions of MPG)\n \n"
      "  The default non-zero b value is 1000.0.      \n \n"
      " If these settings are wrong, analysis can never be performed     \n"
      " correctly.  To correct the values, use commands in the menu:     \n"
      " ''Setting -> MPG -> Manual set'', or import MPG file in the:     \n"
      " menu: ''File -> import -> MPG text file''.\t\t\t                            \n \n"
      " Check MPG directions shown in the console window, too.          ";
  EXPECT_EQ(sink.shown[0].second, expected);
  EXPECT_EQ(dwi_recognition_notice_text(f.data.get()), expected);
}
