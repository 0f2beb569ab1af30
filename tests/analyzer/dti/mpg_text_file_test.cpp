// Tests of the MPG text file: the three forms, rotation, refusals of bad files, the RTNN
// loader's reader and the writer.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analyzer/dti/mpg_setting.h"
#include "tests/support/temp_dir.h"
#include "tests/support/console_capture.h"

namespace {

const char kInvalidAxes[] = "Error: Invalid MPG axes.  Setting unchanged.\n";

struct Fixture {
  VolumePtr volume;
  DtiDataPtr data;
  explicit Fixture(int32_t channels) {
    const VolumeHeader header{1, 1, 1, channels};
    std::vector<int32_t> types(channels, ZTR_TYPE_INT16), attributes(channels, 0);
    volume.reset(ZTR_NewRawVolumeData(header, types.data(), attributes.data()));
    ztr::test::ConsoleCapture console;
    data.reset(ZTRdti_NewDiffusionTensorImageData(volume.get(), channels));
    ZTRdti_SetSingleSoDefaultMPG(data.get(), channels < 130 ? channels : 130);
    console.finish();
  }
};

std::vector<unsigned char> bytes_of(const DiffusionTensorImageData* d) {
  std::vector<unsigned char> b(sizeof(DiffusionTensorImageData));
  std::memcpy(b.data(), d, b.size());
  return b;
}

// Parses and returns the standard error text.
std::string parse(const std::string& text, DiffusionTensorImageData* d, int* result) {
  ztr::test::ConsoleCapture console;
  *result = parse_mpg_text(text, d);
  return console.finish();
}

std::string kls(const std::string& axes, int total, int b0, const std::string& groups) {
  return std::string(ZTR_MPG_KLS_HEADER) + "\n" + axes + "\n" + std::to_string(total) + "\n" +
         std::to_string(b0) + "\n" + groups;
}

// Seven groups: b=0 then six directions with recognisable components.
const char kSevenGroups[] =
    "0 0 0 0\n"
    "1000 1 0 0\n"
    "1000 0 1 0\n"
    "1000 0 0 1\n"
    "1000 0.6 0.8 0\n"
    "1000 0 0.6 0.8\n"
    "1000 0.8 0 0.6\n";

// A scratch folder named after the running test.
struct TestDir : ztr::test::TempDir {
  TestDir()
      : TempDir("mpg_text_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name())) {}
};

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

// ---- headed kLS-II form --------------------------------------------------------------------

TEST(KlsForm, IdentityAxesApplyUnrotated) {
  Fixture f(8);
  int result = 0;
  const std::string err = parse(kls("1.0 0.0 0.0\n0.0 1.0 0.0", 7, 1, kSevenGroups), f.data.get(), &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(f.data->mpg_ready, 1);
  EXPECT_EQ(f.data->dti_channels, 7);
  EXPECT_EQ(f.data->b0_channels, 1);
  EXPECT_EQ(f.data->mpg_vector[4][0], 0.6f);
  EXPECT_EQ(f.data->mpg_vector[4][1], 0.8f);
  EXPECT_EQ(f.data->b_value[6], 1000.0f);
  EXPECT_EQ(err.find("rotated"), std::string::npos);
  EXPECT_NE(err.find("  MPG setting seems to be ready for analysis\n"), std::string::npos);
}

TEST(KlsForm, SwappedAxesSwapXAndYAndNegateZ) {
  // u = (0,1,0), v = (1,0,0): w = u x v = (0,0,-1); g becomes (gy, gx, -gz).
  Fixture f(8);
  int result = 0;
  const std::string err = parse(kls("0 1 0 1 0 0", 7, 1, kSevenGroups), f.data.get(), &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(f.data->mpg_ready, 1);
  EXPECT_EQ(f.data->mpg_vector[1][0], 0.0f);
  EXPECT_EQ(f.data->mpg_vector[1][1], 1.0f);
  EXPECT_EQ(f.data->mpg_vector[3][2], -1.0f);
  EXPECT_EQ(f.data->mpg_vector[6][0], 0.0f);
  EXPECT_EQ(f.data->mpg_vector[6][1], 0.8f);
  EXPECT_EQ(f.data->mpg_vector[6][2], -0.6f);
  EXPECT_NE(err.find("MPG vectors rotated by:\n"
                     "\tu=(0.000000,1.000000,0.000000)\n"
                     "\tv=(1.000000,0.000000,0.000000)\n"
                     "\tw=(0.000000,0.000000,-1.000000)\n"),
            std::string::npos);
}

TEST(KlsForm, TooManyChannelsForTheVolumeIsRefusedUnchanged) {
  Fixture f(7);
  const auto before = bytes_of(f.data.get());
  int result = 0;
  std::string groups = kSevenGroups;
  groups += "1000 1 1 0\n";
  const std::string err = parse(kls("1 0 0 0 1 0", 8, 1, groups), f.data.get(), &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, kInvalidAxes);
  EXPECT_EQ(bytes_of(f.data.get()), before);
}

TEST(KlsForm, FewerThanSixWeightedChannelsIsRefusedUnchanged) {
  Fixture f(8);
  const auto before = bytes_of(f.data.get());
  int result = 0;
  const std::string err = parse(kls("1 0 0 0 1 0", 7, 2, kSevenGroups), f.data.get(), &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, kInvalidAxes);
  EXPECT_EQ(bytes_of(f.data.get()), before);
}

TEST(KlsForm, TruncatedOrUnreadableGroupsAreRefusedUnchanged) {
  Fixture f(8);
  const auto before = bytes_of(f.data.get());
  const std::string full = kls("1 0 0 0 1 0", 7, 1, kSevenGroups);
  // Every cut that ends the file before its last number.
  for (size_t cut = 0; cut + 4 < full.size(); cut += 3) {
    int result = 0;
    parse(full.substr(0, cut), f.data.get(), &result);
    EXPECT_EQ(result, -1) << "cut at " << cut;
    EXPECT_EQ(bytes_of(f.data.get()), before) << "cut at " << cut;
  }
  std::string bad = full;
  bad.replace(bad.find("0.6 0.8 0"), 3, "abc");
  int result = 0;
  const std::string err = parse(bad, f.data.get(), &result);
  EXPECT_EQ(result, -1);
  EXPECT_NE(err.find("Setting unchanged"), std::string::npos);
  EXPECT_EQ(bytes_of(f.data.get()), before);
}

TEST(KlsForm, RefusedArraySettingLeavesTheOldDirectionsUnrotated) {
  // 600 channels in the volume, 520 weighted in the file: the array setter refuses (more
  // than 513); the old directions must not be rotated by the file's axes.
  Fixture f(600);
  std::string groups;
  for (int c = 0; c < 521; ++c) groups += c == 0 ? "0 0 0 0\n" : "1000 1 0 0\n";
  const std::vector<float> old_x(&f.data->mpg_vector[1][0], &f.data->mpg_vector[1][0] + 3);
  int result = 0;
  const std::string err = parse(kls("0 1 0 1 0 0", 521, 1, groups), f.data.get(), &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(f.data->mpg_ready, 0);
  EXPECT_EQ(f.data->mpg_vector[1][0], old_x[0]);
  EXPECT_EQ(f.data->mpg_vector[1][1], old_x[1]);
  EXPECT_EQ(err.find("rotated"), std::string::npos);
  EXPECT_NE(err.find("NOT ready"), std::string::npos);
}

TEST(KlsForm, CrLfLineEndsAreRecognised) {
  Fixture f(8);
  std::string text = kls("1 0 0\r\n0 1 0", 7, 1, kSevenGroups);
  text.insert(text.find('\n'), "\r");
  int result = 0;
  parse(text, f.data.get(), &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(f.data->mpg_ready, 1);
}

// ---- QSA form -------------------------------------------------------------------------------

TEST(QsaForm, ShellsRepeatTheDirectionsInFileOrder) {
  // 1 b=0 channel, 2 b values, 30 directions: 61 channels.
  Fixture f(61);
  std::string text = std::string(ZTR_MPG_QSA_HEADER) + "\n1 2 30\n0.5 0.5\n1000 2500\n";
  for (int d = 0; d < 30; ++d) text += std::to_string(d) + " " + std::to_string(d + 100) + " 1\n";
  int result = 0;
  parse(text, f.data.get(), &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(f.data->mpg_ready, 1);
  EXPECT_EQ(f.data->dti_channels, 61);
  EXPECT_EQ(f.data->b0_channels, 1);
  EXPECT_EQ(f.data->b_value[0], 0.0f);
  EXPECT_EQ(f.data->mpg_vector[0][1], 0.0f);
  for (int s = 0; s < 2; ++s) {
    for (int d = 0; d < 30; ++d) {
      const int c = 1 + s * 30 + d;
      EXPECT_EQ(f.data->b_value[c], s == 0 ? 1000.0f : 2500.0f) << c;
      EXPECT_EQ(f.data->mpg_vector[c][0], float(d)) << c;
      EXPECT_EQ(f.data->mpg_vector[c][1], float(d + 100)) << c;
    }
  }
}

TEST(QsaForm, CountsBeyondTheLimitsAreRefusedUnchanged) {
  Fixture f(100);
  const auto before = bytes_of(f.data.get());
  const std::string head = std::string(ZTR_MPG_QSA_HEADER) + "\n";
  for (const std::string counts : {"1 33 6", "1 1 257", "-1 1 6", "1 -2 6", "5000 1 6"}) {
    int result = 0;
    const std::string err = parse(head + counts + "\n0 0\n1000\n", f.data.get(), &result);
    EXPECT_EQ(result, -1) << counts;
    EXPECT_NE(err.find("Setting unchanged"), std::string::npos) << counts;
    EXPECT_EQ(bytes_of(f.data.get()), before) << counts;
  }
}

TEST(QsaForm, MoreChannelsThanTheVolumeHoldsAreRefused) {
  // Analysis would read channels the volume does not have.
  Fixture f(10);
  const auto before = bytes_of(f.data.get());
  std::string text = std::string(ZTR_MPG_QSA_HEADER) + "\n1 2 6\n0 0\n1000 2000\n";
  for (int d = 0; d < 6; ++d) text += "1 0 0\n";
  int result = 0;
  const std::string err = parse(text, f.data.get(), &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, kInvalidAxes);
  EXPECT_EQ(bytes_of(f.data.get()), before);
}

// ---- plain form -----------------------------------------------------------------------------

TEST(PlainForm, SixDirectionsGiveSevenChannelsWithOneBValue) {
  Fixture f(7);
  int result = 0;
  parse("6 800\n1 0 0\n0 1 0\n0 0 1\n1 1 0\n0 1 1\n1 0 1\n", f.data.get(), &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(f.data->mpg_ready, 1);
  EXPECT_EQ(f.data->dti_channels, 7);
  EXPECT_EQ(f.data->b0_channels, 1);
  EXPECT_EQ(f.data->b_value[0], 0.0f);
  for (int c = 1; c < 7; ++c) EXPECT_EQ(f.data->b_value[c], 800.0f);
  EXPECT_EQ(f.data->mpg_vector[6][0], 1.0f);
  EXPECT_EQ(f.data->mpg_vector[6][1], 0.0f);
  EXPECT_EQ(f.data->mpg_vector[6][2], 1.0f);
}

TEST(PlainForm, BadCountsAndEarlyEndsAreRefusedUnchanged) {
  Fixture f(7);
  const auto before = bytes_of(f.data.get());
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"5 800\n1 0 0\n0 1 0\n0 0 1\n1 1 0\n0 1 1\n", kInvalidAxes},
      {"7 800\n1 0 0\n0 1 0\n0 0 1\n1 1 0\n0 1 1\n1 0 1\n1 1 1\n", kInvalidAxes},
      {"6 800\n1 0 0\n0 1 0\n0 0 1\n1 1 0\n0 1 1\n1 0\n", nullptr},
      {"", nullptr},
      {"six 800\n", nullptr},
      {"#kLS-II MPG description file\n6 800\n", nullptr},
  };
  for (const Case& c : cases) {
    int result = 0;
    const std::string err = parse(c.text, f.data.get(), &result);
    EXPECT_EQ(result, -1) << c.text;
    if (c.message) {
      EXPECT_EQ(err, c.message) << c.text;
    }
    EXPECT_EQ(bytes_of(f.data.get()), before) << c.text;
  }
}

TEST(PlainForm, OverlongFirstLineIsNotTakenForAHeader) {
  Fixture f(8);
  const auto before = bytes_of(f.data.get());
  std::string text = std::string(ZTR_MPG_KLS_HEADER) + std::string(2000, ' ') + "\n1 0 0 0 1 0\n";
  int result = 0;
  parse(text, f.data.get(), &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(bytes_of(f.data.get()), before);
}

// ---- stream reader and writer ------------------------------------------------------------

TEST(MpgFileRoundTrip, WrittenSettingReadsBackEqual) {
  TestDir dir;
  Fixture source(20);
  ztr::test::ConsoleCapture console;
  ZTRdti_SetDefaultMPG(source.data.get(), 16, 3);
  source.data->b_value[7] = 1500.0f;
  console.finish();
  const std::string path = dir.file("setting.txt");
  ASSERT_EQ(write_mpg_text_file(path.c_str(), source.data.get()), 0);

  Fixture target(20);
  std::FILE* stream = std::fopen(path.c_str(), "r");
  ASSERT_NE(stream, nullptr);
  ztr::test::ConsoleCapture console2;
  EXPECT_EQ(read_mpg_text_file(stream, target.data.get()), 0);
  console2.finish();
  EXPECT_EQ(target.data->mpg_ready, 1);
  EXPECT_EQ(target.data->dti_channels, 16);
  EXPECT_EQ(target.data->b0_channels, 3);
  EXPECT_EQ(std::memcmp(target.data->b_value, source.data->b_value, 16 * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(target.data->mpg_vector, source.data->mpg_vector, 16 * 3 * sizeof(float)), 0);
}

TEST(MpgFileRoundTrip, WriterLaysOutTheHeadedForm) {
  Fixture f(7);
  f.data->b_value[1] = 1000.5f;
  const std::string text = mpg_text_file_contents(f.data.get());
  const std::string expected_start = std::string(ZTR_MPG_KLS_HEADER) +
                                     "\n1.0 0.0 0.0\n0.0 1.0 0.0\n7\n1\n"
                                     "0.000000 0.000000 0.000000 0.000000\n"
                                     "1000.500000 0.707000 0.000000 0.707000\n";
  EXPECT_EQ(text.substr(0, expected_start.size()), expected_start);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5 + 7);
}

TEST(MpgFileRoundTrip, UncreatableFileIsReported) {
  Fixture f(7);
  EXPECT_EQ(write_mpg_text_file("/nonexistent-dir/x/mpg.txt", f.data.get()), -1);
}

// ---- the RTNN loader's reader -----------------------------------------------------------

TEST(MpgArraysReader, KlsFormFillsArraysWithoutRotation) {
  TestDir dir;
  const std::string path = dir.file("kls.txt");
  write_text(path, kls("0 1 0 1 0 0", 7, 1, kSevenGroups));
  int32_t total = -1, b0 = -1;
  std::vector<float> b(ZTR_DTI_MAX_CHANNELS, -9.0f), g(ZTR_DTI_MAX_CHANNELS * 3, -9.0f);
  ztr::test::ConsoleCapture console;
  const int result = read_mpg_text_file_to_arrays(path.c_str(), &total, &b0, b.data(),
                                                   reinterpret_cast<float(*)[3]>(g.data()));
  const std::string err = console.finish();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(total, 7);
  EXPECT_EQ(b0, 1);
  EXPECT_EQ(b[0], 0.0f);
  EXPECT_EQ(b[1], 1000.0f);
  EXPECT_EQ(g[3 * 4 + 0], 0.6f);  // unrotated
  EXPECT_EQ(g[3 * 4 + 1], 0.8f);
  EXPECT_EQ(b[7], -9.0f);
  EXPECT_EQ(err, "MPG file: " + path + "\nchannels: 7, 1\n");
}

TEST(MpgArraysReader, QsaFormFillsArrays) {
  std::string text = std::string(ZTR_MPG_QSA_HEADER) + "\n2 1 6\n0 0\n700\n";
  for (int d = 0; d < 6; ++d) text += "0 0 " + std::to_string(d) + "\n";
  int32_t total = 0, b0 = 0;
  std::vector<float> b(ZTR_DTI_MAX_CHANNELS), g(ZTR_DTI_MAX_CHANNELS * 3);
  EXPECT_EQ(parse_mpg_text_to_arrays(text, "q", &total, &b0, b.data(),
                                     reinterpret_cast<float(*)[3]>(g.data())),
            0);
  EXPECT_EQ(total, 8);
  EXPECT_EQ(b0, 2);
  EXPECT_EQ(b[1], 0.0f);
  EXPECT_EQ(b[2], 700.0f);
  EXPECT_EQ(g[3 * 7 + 2], 5.0f);
}

TEST(MpgArraysReader, RefusedFilesLeaveTheOutputsUntouched) {
  int32_t total = 123, b0 = 456;
  std::vector<float> b(ZTR_DTI_MAX_CHANNELS, -9.0f), g(ZTR_DTI_MAX_CHANNELS * 3, -9.0f);
  auto* gv = reinterpret_cast<float(*)[3]>(g.data());
  const std::string cases[] = {
      "6 800\n1 0 0\n0 1 0\n0 0 1\n1 1 0\n0 1 1\n1 0 1\n",         // plain: not accepted here
      kls("1 0 0 0 1 0", 5000, 1, kSevenGroups),                     // oversized count
      kls("1 0 0 0 1 0", 7, 8, kSevenGroups),                        // more b=0 than total
      kls("1 0 0 0 1 0", 8, 1, kSevenGroups),                        // ends early
      std::string(ZTR_MPG_QSA_HEADER) + "\n1 40 6\n0 0\n",           // too many b values
  };
  for (const std::string& text : cases) {
    ztr::test::ConsoleCapture console;
    EXPECT_EQ(parse_mpg_text_to_arrays(text, "p", &total, &b0, b.data(), gv), -1) << text;
    console.finish();
    EXPECT_EQ(total, 123);
    EXPECT_EQ(b0, 456);
    EXPECT_EQ(b[0], -9.0f);
    EXPECT_EQ(g[0], -9.0f);
  }
  ztr::test::ConsoleCapture console;
  parse_mpg_text_to_arrays(cases[0], "p", &total, &b0, b.data(), gv);
  EXPECT_EQ(console.finish(), "Invalid MPG file\n");
}

TEST(MpgArraysReader, MissingFileIsReported) {
  int32_t total = 0, b0 = 0;
  std::vector<float> b(ZTR_DTI_MAX_CHANNELS), g(ZTR_DTI_MAX_CHANNELS * 3);
  EXPECT_EQ(read_mpg_text_file_to_arrays("/nonexistent/mpg.txt", &total, &b0, b.data(),
                                         reinterpret_cast<float(*)[3]>(g.data())),
            -1);
}
