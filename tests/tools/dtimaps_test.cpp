// dtimaps and ztrphantom: option and gradient-table parsing, and end-to-end runs of the real
// programs on phantom files.
#include <gtest/gtest.h>


#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/dti/mpg_setting.h"
#include "analyzer/io/nifti_volume.h"
#include "analyzer/io/raw_volume_file.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tools/dtimaps/dtimaps.h"

namespace fs = std::filesystem;

namespace {

using ztr::test::TempDir;

struct RunResult {
  int status = -1;
  std::string err;
};

// Runs a program with a deadline; standard error is captured.
RunResult run(const std::vector<std::string>& args, const TempDir& dir) {
  const ztr::test::RunResult r =
      ztr::test::run_program(args, dir / "run", std::chrono::seconds(120));
  if (!r.finished) ADD_FAILURE() << args[0] << " did not finish in time";
  return RunResult{r.exit_code, r.err};
}

// The last line a program wrote to standard error.
std::string last_line(const std::string& text) {
  std::string t = text;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  const size_t start = t.rfind('\n');
  return start == std::string::npos ? t : t.substr(start + 1);
}

VolumePtr load_raw(const std::string& path) {
  return VolumePtr(LoadRawVolumeFile(path.c_str(), nullptr, nullptr));
}

std::string phantom(const TempDir& dir, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {ZTR_PHANTOM_PROGRAM, "--out", dir / "phantom", "--size",
                                   "24", "24", "8"};
  args.insert(args.end(), extra.begin(), extra.end());
  const RunResult r = run(args, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  return dir / "phantom";
}

bool same_bytes(const RawVolumeData* a, const RawVolumeData* b) {
  if (a->header->channels != b->header->channels) return false;
  for (int c = 0; c < a->header->channels; ++c) {
    if (a->types[c] != b->types[c] || a->attributes[c] != b->attributes[c] ||
        std::memcmp(a->data[c], b->data[c], ZTR_GetChannelBytes(a, c)) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

TEST(DtimapsArguments, AcceptsInputOutputAndOptions) {
  const char* argv[] = {"dtimaps", "in.raw", "--bval", "a", "--bvec", "b", "--threads", "3", "--out", "o"};
  DtimapsOptions o;
  std::string error;
  ASSERT_TRUE(parse_dtimaps_arguments(10, argv, &o, &error)) << error;
  EXPECT_EQ(o.input, "in.raw");
  EXPECT_EQ(o.bval, "a");
  EXPECT_EQ(o.bvec, "b");
  EXPECT_EQ(o.threads, 3);
  EXPECT_EQ(o.out, "o");
}

TEST(DtimapsArguments, RefusesIncompleteOrConflictingOptions) {
  DtimapsOptions o;
  std::string error;
  const char* no_out[] = {"dtimaps", "in.raw"};
  EXPECT_FALSE(parse_dtimaps_arguments(2, no_out, &o, &error));
  const char* both[] = {"dtimaps", "in", "--mpg", "m", "--bval", "a", "--bvec", "b", "--out", "o"};
  EXPECT_FALSE(parse_dtimaps_arguments(10, both, &o, &error));
  const char* half[] = {"dtimaps", "in", "--bval", "a", "--out", "o"};
  EXPECT_FALSE(parse_dtimaps_arguments(6, half, &o, &error));
  for (const char* n : {"0", "513", "2x", ""}) {
    const char* threads[] = {"dtimaps", "in", "--threads", n, "--out", "o"};
    EXPECT_FALSE(parse_dtimaps_arguments(6, threads, &o, &error)) << n;
  }
  const char* dangling[] = {"dtimaps", "in", "--out"};
  EXPECT_FALSE(parse_dtimaps_arguments(3, dangling, &o, &error));
  const char* two_inputs[] = {"dtimaps", "a", "b", "--out", "o"};
  EXPECT_FALSE(parse_dtimaps_arguments(5, two_inputs, &o, &error));
}

TEST(FslGradientTable, ReadsThreeRowsOrOneLinePerVolume) {
  GradientTable rows, lines;
  std::string error;
  ASSERT_TRUE(parse_fsl_gradient_table("0 1000 1000\n", "0 1 0\n0 0 1\n0 0 0\n", &rows, &error)) << error;
  ASSERT_EQ(rows.b_values.size(), 3u);
  EXPECT_EQ(rows.b_values[1], 1000.0f);
  EXPECT_EQ(rows.directions[1], (std::array<float, 3>{1, 0, 0}));
  EXPECT_EQ(rows.directions[2], (std::array<float, 3>{0, 1, 0}));
  ASSERT_TRUE(parse_fsl_gradient_table("0\n1000\n1000\n1000\n", "0 0 0\n1 0 0\n0 1 0\n0 0 1\n",
                                       &lines, &error)) << error;
  EXPECT_EQ(lines.directions[3], (std::array<float, 3>{0, 0, 1}));
}

TEST(FslGradientTable, RefusesMalformedTables) {
  GradientTable t;
  std::string error;
  EXPECT_FALSE(parse_fsl_gradient_table("0 1000 x\n", "0 1 0\n0 0 1\n0 0 0\n", &t, &error));
  EXPECT_FALSE(parse_fsl_gradient_table("0 1000 1000\n", "0 1 0\n0 0 1\n", &t, &error));
  EXPECT_FALSE(parse_fsl_gradient_table("0 1000\n", "0 1 0\n0 0 1\n0 0 0\n", &t, &error));
  EXPECT_FALSE(parse_fsl_gradient_table("", "", &t, &error));
  EXPECT_FALSE(parse_fsl_gradient_table("0 -5 1000\n", "0 1 0\n0 0 1\n0 0 0\n", &t, &error));
  EXPECT_TRUE(t.b_values.empty());
}

TEST(FslGradientTable, BZeroVolumesMoveToTheFront) {
  // Channel c of an 8-channel volume holds the value c; b=0 volumes at 2 and 5 (b 5 counts
  // as b=0).
  std::vector<int32_t> types(8, ZTR_TYPE_INT16), attributes(8, 0);
  VolumePtr v(ZTR_NewRawVolumeData({1, 1, 1, 8}, types.data(), attributes.data()));
  for (int c = 0; c < 8; ++c) ZTR_ChannelData<int16_t>(v.get(), c)[0] = static_cast<int16_t>(c);
  DtiDataPtr data(ZTRdti_NewDiffusionTensorImageData(v.get(), 8));
  GradientTable t;
  t.b_values = {1000, 1000, 0, 1000, 1000, 5, 1000, 1000};
  for (int c = 0; c < 8; ++c) t.directions.push_back({static_cast<float>(c), 0.5f, 0.25f});
  std::string error;
  ASSERT_TRUE(apply_gradient_table(t, data.get(), 50.0f, &error)) << error;
  const int expected_order[8] = {2, 5, 0, 1, 3, 4, 6, 7};
  for (int c = 0; c < 8; ++c) {
    EXPECT_EQ(ZTR_ChannelData<int16_t>(v.get(), c)[0], expected_order[c]) << c;
  }
  EXPECT_EQ(data->b0_channels, 2);
  EXPECT_EQ(data->dti_channels, 8);
  EXPECT_EQ(data->mpg_ready, 1);
  EXPECT_EQ(data->b_value[1], 0.0f);
  EXPECT_EQ(data->mpg_vector[1][0], 0.0f);
  EXPECT_EQ(data->b_value[2], 1000.0f);
  EXPECT_EQ(data->mpg_vector[2][0], 0.0f);  // table entry 0
  EXPECT_EQ(data->mpg_vector[4][0], 3.0f);  // table entry 3
  t.b_values.pop_back();
  t.directions.pop_back();
  EXPECT_FALSE(apply_gradient_table(t, data.get(), 50.0f, &error));
}

TEST(DtimapsProgram, NoiselessPhantomMapsMatchTheGroundTruth) {
  const TempDir dir("dtimaps");
  const std::string p = phantom(dir);
  const RunResult r = run({ZTR_DTIMAPS_PROGRAM, p + "/dwi.raw", "--threads", "2", "--out",
                           dir / "maps"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("4 chs added for DTI\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Analysis completed in "), std::string::npos) << r.err;

  VolumePtr maps = load_raw(dir / "maps/maps.raw");
  VolumePtr fa = load_raw(p + "/truth_fa.raw");
  VolumePtr adc = load_raw(p + "/truth_adc.raw");
  VolumePtr label = load_raw(p + "/truth_label.raw");
  ASSERT_TRUE(maps && fa && adc && label);
  ASSERT_EQ(maps->header->channels, 4);
  EXPECT_EQ(maps->types[0], ZTR_TYPE_UINT32);
  EXPECT_EQ(maps->attributes[0], ZTR_ATTRIBUTE_RGBA);
  for (int c = 1; c < 4; ++c) EXPECT_EQ(maps->types[c], ZTR_TYPE_INT16);
  int fibers = 0;
  for (int64_t i = 0; i < 24 * 24 * 8; ++i) {
    const int l = static_cast<int>(ZTR_ChannelData<float>(label.get(), 0)[i]);
    const float true_fa = ZTR_ChannelData<float>(fa.get(), 0)[i];
    const float true_adc = ZTR_ChannelData<float>(adc.get(), 0)[i];
    const int16_t got_fa = ZTR_ChannelData<int16_t>(maps.get(), 1)[i];
    const int16_t got_adc = ZTR_ChannelData<int16_t>(maps.get(), 2)[i];
    if (l == 0) {
      EXPECT_EQ(got_fa, 0);
      EXPECT_EQ(ZTR_ChannelData<uint32_t>(maps.get(), 0)[i], 0u);
      continue;
    }
    if (l >= 3) ++fibers;
    EXPECT_NEAR(got_fa / 1000.0, true_fa, 0.02) << "voxel " << i << " label " << l;
    EXPECT_NEAR(got_adc / 1e6, true_adc, 0.02 * true_adc) << "voxel " << i << " label " << l;
  }
  EXPECT_GT(fibers, 50);

  // One NIfTI image per map with the input's voxel size; colour as RGB.
  float voxel[3] = {0, 0, 0};
  std::string error;
  VolumePtr colour(LoadNiftiVolume((dir / "maps/colour_fa.nii").c_str(), voxel, &error));
  ASSERT_TRUE(colour) << error;
  EXPECT_EQ(colour->types[0], ZTR_TYPE_UINT32);
  EXPECT_EQ(colour->attributes[0], ZTR_ATTRIBUTE_RGBA);
  EXPECT_FLOAT_EQ(voxel[0], 1.0f);
  for (int64_t i = 0; i < 24 * 24 * 8; ++i) {
    EXPECT_EQ(ZTR_ChannelData<uint32_t>(colour.get(), 0)[i] >> 8,
              ZTR_ChannelData<uint32_t>(maps.get(), 0)[i] >> 8);
  }
  const char* names[3] = {"fa.nii", "adc.nii", "isod.nii"};
  for (int m = 0; m < 3; ++m) {
    VolumePtr image(LoadNiftiVolume((dir / (std::string("maps/") + names[m])).c_str(), voxel, &error));
    ASSERT_TRUE(image) << names[m] << ": " << error;
    ASSERT_EQ(image->types[0], ZTR_TYPE_INT16);
    EXPECT_EQ(std::memcmp(image->data[0], maps->data[m + 1], ZTR_GetChannelBytes(maps.get(), m + 1)), 0)
        << names[m];
  }
}

TEST(DtimapsProgram, GradientTablesAndNiftiInputGiveTheSameMaps) {
  const TempDir dir("dtimaps");
  const std::string p = phantom(dir, {"--nifti", "--noise", "30", "--seed", "7"});
  const RunResult plain = run({ZTR_DTIMAPS_PROGRAM, p + "/dwi.raw", "--out", dir / "plain"}, dir);
  ASSERT_EQ(plain.status, 0) << plain.err;
  const RunResult mpg = run({ZTR_DTIMAPS_PROGRAM, p + "/dwi.raw", "--mpg", p + "/dwi.mpg",
                             "--out", dir / "mpg"}, dir);
  ASSERT_EQ(mpg.status, 0) << mpg.err;
  const RunResult fsl = run({ZTR_DTIMAPS_PROGRAM, p + "/dwi.nii", "--bval", p + "/dwi.bval",
                             "--bvec", p + "/dwi.bvec", "--threads", "1", "--out", dir / "fsl"}, dir);
  ASSERT_EQ(fsl.status, 0) << fsl.err;
  VolumePtr a = load_raw(dir / "plain/maps.raw");
  VolumePtr b = load_raw(dir / "mpg/maps.raw");
  VolumePtr c = load_raw(dir / "fsl/maps.raw");
  ASSERT_TRUE(a && b && c);
  EXPECT_TRUE(same_bytes(a.get(), b.get()));
  EXPECT_TRUE(same_bytes(a.get(), c.get()));
}

TEST(DtimapsProgram, ReadsADtiFileWithItsOwnSetting) {
  const TempDir dir("dtimaps");
  const std::string p = phantom(dir, {"--b0", "2", "--directions", "20"});
  // The phantom's own MPG file makes the setting; the DTI file carries it along.
  VolumePtr dwi = load_raw(p + "/dwi.raw");
  ASSERT_TRUE(dwi);
  DtiDataPtr data(ZTRdti_NewDiffusionTensorImageData(dwi.get(), 22));
  std::FILE* mpg = std::fopen((p + "/dwi.mpg").c_str(), "r");
  ASSERT_TRUE(mpg);
  ASSERT_EQ(read_mpg_text_file(mpg, data.get()), 0);
  ASSERT_EQ(data->b0_channels, 2);
  data->voxel_size = 1.5f;
  std::FILE* out = std::fopen((dir / "dwi.dti").c_str(), "wb");
  ASSERT_EQ(write_dti_file(data.get(), ZTRdti_GetSerializedDataSize(data.get()), out), 0);
  const RunResult from_dti = run({ZTR_DTIMAPS_PROGRAM, dir / "dwi.dti", "--out", dir / "dti"}, dir);
  ASSERT_EQ(from_dti.status, 0) << from_dti.err;
  const RunResult from_raw = run({ZTR_DTIMAPS_PROGRAM, p + "/dwi.raw", "--bval", p + "/dwi.bval",
                                  "--bvec", p + "/dwi.bvec", "--out", dir / "raw"}, dir);
  ASSERT_EQ(from_raw.status, 0) << from_raw.err;
  VolumePtr a = load_raw(dir / "dti/maps.raw");
  VolumePtr b = load_raw(dir / "raw/maps.raw");
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(same_bytes(a.get(), b.get()));
  float voxel[3] = {0, 0, 0};
  std::string error;
  VolumePtr fa(LoadNiftiVolume((dir / "dti/fa.nii").c_str(), voxel, &error));
  ASSERT_TRUE(fa) << error;
  EXPECT_FLOAT_EQ(voxel[0], 1.5f);
}

TEST(DtimapsProgram, ReadsADicomDirectory) {
  // A series of 7 channels of 4 slices of 8 x 8 written by pydicom; voxel (i, j) of slice s
  // of channel c holds 1000 c + 100 s + 10 j + i, so every diffusion-weighted signal is above
  // So and every fitted voxel has a negative ADC.
  const TempDir dir("dtimaps");
  const RunResult made = run({"/usr/bin/python3", ZTR_DICOM_GENERATOR, dir / "series", "--channels", "7",
                              "--slices", "4", "--slice-step", "1", "--spacing-between-slices", "1",
                              "--pixel-spacing", "1"}, dir);
  ASSERT_EQ(made.status, 0) << made.err;
  const RunResult r = run({ZTR_DTIMAPS_PROGRAM, dir / "series", "--out", dir / "maps"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  VolumePtr maps = load_raw(dir / "maps/maps.raw");
  ASSERT_TRUE(maps);
  EXPECT_EQ(maps->header->x, 8);
  EXPECT_EQ(maps->header->y, 8);
  EXPECT_EQ(maps->header->z, 4);
  int fitted = 0;
  for (int64_t i = 0; i < 8 * 8 * 4; ++i) {
    const int16_t adc = ZTR_ChannelData<int16_t>(maps.get(), 2)[i];
    if (adc == 0) continue;
    ++fitted;
    EXPECT_LT(adc, 0) << i;
  }
  EXPECT_GT(fitted, 100);
}

TEST(DtimapsProgram, BadInputGivesOneLineAndStatusTwo) {
  const TempDir dir("dtimaps");
  const std::string p = phantom(dir);
  {
    std::ofstream junk(dir / "junk.bin");
    junk << "this is neither a volume nor an image\n";
  }
  {
    std::ofstream short_bval(dir / "short.bval");
    short_bval << "0 1000 1000\n";
  }
  const std::vector<std::vector<std::string>> cases = {
      {ZTR_DTIMAPS_PROGRAM, dir / "missing.raw", "--out", dir / "o"},
      {ZTR_DTIMAPS_PROGRAM, dir / "junk.bin", "--out", dir / "o"},
      {ZTR_DTIMAPS_PROGRAM, p + "/dwi.raw"},
      {ZTR_DTIMAPS_PROGRAM, p + "/dwi.raw", "--threads", "0", "--out", dir / "o"},
      {ZTR_DTIMAPS_PROGRAM, p + "/dwi.raw", "--bval", dir / "short.bval", "--bvec",
       p + "/dwi.bvec", "--out", dir / "o"},
      {ZTR_DTIMAPS_PROGRAM, p + "/dwi.raw", "--mpg", dir / "junk.bin", "--out", dir / "o"},
      {ZTR_DTIMAPS_PROGRAM, p + "/truth_fa.raw", "--out", dir / "o"},
  };
  for (const auto& args : cases) {
    const RunResult r = run(args, dir);
    EXPECT_EQ(r.status, 2) << args[1] << "\n" << r.err;
    const std::string line = last_line(r.err);
    EXPECT_EQ(line.rfind("dtimaps: ", 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(dir / "o/maps.raw"));
  }
}

TEST(PhantomProgram, WritesTheGradientTableInBothForms) {
  const TempDir dir("dtimaps");
  const std::string p = phantom(dir, {"--directions", "13", "--b", "800"});
  std::ifstream bval(p + "/dwi.bval");
  std::vector<float> b;
  float v;
  while (bval >> v) b.push_back(v);
  ASSERT_EQ(b.size(), 14u);
  EXPECT_EQ(b[0], 0.0f);
  for (size_t i = 1; i < b.size(); ++i) EXPECT_EQ(b[i], 800.0f);
  std::ifstream bvec(p + "/dwi.bvec");
  std::vector<float> g;
  while (bvec >> v) g.push_back(v);
  ASSERT_EQ(g.size(), 42u);
  // Second row (y components), entry 1: direction 1 of the 13-direction row.
  EXPECT_FLOAT_EQ(g[14 + 1], default_mpg_direction_row(13)[0][1]);
  VolumePtr dwi = load_raw(p + "/dwi.raw");
  ASSERT_TRUE(dwi);
  EXPECT_EQ(dwi->header->x, 24);
  EXPECT_EQ(dwi->header->channels, 14);
  const RunResult bad = run({ZTR_PHANTOM_PROGRAM, "--out", dir / "x", "--directions", "5"}, dir);
  EXPECT_EQ(bad.status, 2);
}
