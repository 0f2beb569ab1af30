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
#include "analyzer/io/atomic_file.h"
#include "analyzer/io/dicom_import.h"
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
  EXPECT_EQ(o.dwi.input, "in.raw");
  EXPECT_EQ(o.dwi.bval, "a");
  EXPECT_EQ(o.dwi.bvec, "b");
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
  for (const char* size : {"0", "-1", "nan", "inf", "1mm"}) {
    const char* voxel[] = {"dtimaps", "in", "--voxel-size", size, "--out", "o"};
    EXPECT_FALSE(parse_dtimaps_arguments(6, voxel, &o, &error)) << size;
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
  EXPECT_TRUE(t.b_values.empty());
}

// A table of one b=0 and six weighted entries along the axes and diagonals.
GradientTable seven_entry_table() {
  GradientTable t;
  t.b_values = {0, 1000, 1000, 1000, 1000, 1000, 1000};
  const float r = std::sqrt(0.5f);
  t.directions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {r, r, 0}, {0, r, r}, {r, 0, r}};
  return t;
}

TEST(GradientTableCheck, RefusesTablesThatCannotBeFitted) {
  const float nan = std::nanf("");
  const struct {
    const char* what;
    int entry;
    float b;
    std::array<float, 3> g;
    const char* reason;
  } cases[] = {
      {"negative b", 3, -5.0f, {0, 0, 1}, "b=-5"},
      {"non-finite b", 3, nan, {0, 0, 1}, "b=nan"},
      {"absurd b", 3, 5e6f, {0, 0, 1}, "b=5e+06"},
      {"zero direction on a weighted volume", 2, 1000.0f, {0, 0, 0}, "zero or non-finite gradient"},
      {"NaN direction on a weighted volume", 2, 1000.0f, {nan, nan, nan}, "zero or non-finite"},
      {"no b=0 volume", 0, 1000.0f, {1, 0, 0}, "no b=0 volume"},
      {"five weighted volumes", 6, 0.0f, {0, 0, 0}, "5 diffusion-weighted"},
  };
  for (const auto& c : cases) {
    GradientTable t = seven_entry_table();
    t.b_values[size_t(c.entry)] = c.b;
    t.directions[size_t(c.entry)] = c.g;
    std::string error;
    EXPECT_FALSE(check_gradient_table(&t, 50.0f, &error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
}

TEST(GradientTableCheck, NaNDirectionsOfBZeroVolumesAreAccepted) {
  // DIPY's example tables mark b=0 rows with NaN.
  GradientTable parsed;
  std::string error;
  ASSERT_TRUE(parse_fsl_gradient_table("0 1000 1000 1000 1000 1000 1000\n",
                                       "nan 1 0 0 0.6 0 0.6\nnan 0 1 0 0.8 0.6 0\nNaN 0 0 1 0 0.8 0.8\n",
                                       &parsed, &error)) << error;
  ASSERT_TRUE(check_gradient_table(&parsed, 50.0f, &error)) << error;
  EXPECT_EQ(parsed.directions[0], (std::array<float, 3>{0, 0, 0}));
  EXPECT_EQ(parsed.b_values[4], 1000.0f);
}

TEST(GradientTableCheck, NonUnitDirectionsAreNormalisedAndScaleB) {
  // (0, 0, 0.5) at b 1000 is a unit direction at b 1000 * 0.25 = 250.
  GradientTable t = seven_entry_table();
  t.directions[3] = {0, 0, 0.5f};
  t.directions[1] = {2, 0, 0};
  std::string error;
  ASSERT_TRUE(check_gradient_table(&t, 50.0f, &error)) << error;
  EXPECT_EQ(t.directions[3], (std::array<float, 3>{0, 0, 1}));
  EXPECT_FLOAT_EQ(t.b_values[3], 250.0f);
  EXPECT_FLOAT_EQ(t.b_values[1], 4000.0f);
  EXPECT_FLOAT_EQ(t.b_values[2], 1000.0f);
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
  // Unit directions (c, 0.5, 0.25) / |.|, so that no b value is rescaled.
  auto unit = [](int c) {
    const float n = std::sqrt(float(c * c) + 0.3125f);
    return std::array<float, 3>{float(c) / n, 0.5f / n, 0.25f / n};
  };
  for (int c = 0; c < 8; ++c) t.directions.push_back(unit(c));
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
  EXPECT_FLOAT_EQ(data->mpg_vector[4][0], unit(3)[0]);  // table entry 3
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

  // One NIfTI image per map with the input's voxel size; colour as red, green and blue
  // unsigned 8-bit volumes.
  float voxel[3] = {0, 0, 0};
  std::string error;
  VolumePtr colour(LoadNiftiVolume((dir / "maps/colour_fa.nii").c_str(), voxel, &error));
  ASSERT_TRUE(colour) << error;
  ASSERT_EQ(colour->header->channels, 3);
  EXPECT_EQ(colour->types[0], ZTR_TYPE_UINT8);
  EXPECT_FLOAT_EQ(voxel[0], 1.0f);
  for (int64_t i = 0; i < 24 * 24 * 8; ++i) {
    const uint32_t packed = ZTR_ChannelData<uint32_t>(maps.get(), 0)[i];
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(ZTR_ChannelData<uint8_t>(colour.get(), c)[i], uint8_t(packed >> (24 - 8 * c)));
    }
  }
  // FA and ADC read back in true units through their scale factors; isoD of signed 16-bit
  // input is the signal itself.
  const struct {
    const char* name;
    double slope;
  } images[3] = {{"fa.nii", 0.001}, {"adc.nii", 1e-6}, {"isod.nii", 1.0}};
  for (int m = 0; m < 3; ++m) {
    VolumePtr image(LoadNiftiVolume((dir / (std::string("maps/") + images[m].name)).c_str(), voxel, &error));
    ASSERT_TRUE(image) << images[m].name << ": " << error;
    const int16_t* stored = ZTR_ChannelData<int16_t>(maps.get(), m + 1);
    for (int64_t i = 0; i < 24 * 24 * 8; ++i) {
      const double value = ZTR_GetVoxelValueAsFloat(image->data[0], image->types[0], 24 * 24 * 8, i);
      ASSERT_NEAR(value, stored[i] * images[m].slope, 1e-6 * std::max(1.0, std::fabs(value)))
          << images[m].name << " voxel " << i;
    }
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

namespace {

// An oblique LAS grid of 1.5 x 1.5 x 2.0 mm: x mirrored, rotated 20 degrees about z.
ImageGeometry oblique_las() {
  ImageGeometry g;
  g.voxel_size[0] = 1.5f;
  g.voxel_size[1] = 1.5f;
  g.voxel_size[2] = 2.0f;
  const double c = std::cos(20 * M_PI / 180), s = std::sin(20 * M_PI / 180);
  g.qform = {{{-1.5 * c, -1.5 * s, 0, 40}, {-1.5 * s, 1.5 * c, 0, -30}, {0, 0, 2.0, 12}, {0, 0, 0, 1}}};
  g.sform = g.qform;
  g.qform_code = 1;
  g.sform_code = 2;
  return g;
}

// The phantom's DWI as NIfTI with a geometry, in a given storage: values are the phantom's
// signal times `factor`, stored as float32 or as int16 with a scale slope.
std::string write_dwi(const TempDir& dir, const std::string& phantom_dir, const std::string& name,
                      const ImageGeometry& geometry, int32_t type, double factor, double slope = 0) {
  std::string error;
  VolumePtr dwi(LoadNiftiVolume((phantom_dir + "/dwi.nii").c_str(), nullptr, &error));
  EXPECT_TRUE(dwi) << error;
  if (!dwi) return "";
  const VolumeHeader h = *dwi->header;
  std::vector<int32_t> types(size_t(h.channels), type), attributes(size_t(h.channels), 0);
  VolumePtr out(ZTR_NewRawVolumeData(h, types.data(), attributes.data()));
  const int64_t n = int64_t(h.x) * h.y * h.z;
  for (int c = 0; c < h.channels; ++c) {
    for (int64_t i = 0; i < n; ++i) {
      const double v = ZTR_ChannelData<int16_t>(dwi.get(), c)[i] * factor;
      if (type == ZTR_TYPE_FLOAT32) {
        ZTR_ChannelData<float>(out.get(), c)[i] = float(v);
      } else {
        ZTR_ChannelData<int16_t>(out.get(), c)[i] = int16_t(std::lround(v / slope));
      }
    }
  }
  NiftiImageLabel label;
  label.slope = slope;
  const std::string path = dir / name;
  EXPECT_EQ(SaveNiftiVolume(out.get(), path.c_str(), geometry, label, &error), 0) << error;
  return path;
}

RunResult run_maps(const TempDir& dir, const std::string& input, const std::string& phantom_dir,
                   const std::string& out, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {ZTR_DTIMAPS_PROGRAM, input, "--bval", phantom_dir + "/dwi.bval",
                                   "--bvec", phantom_dir + "/dwi.bvec", "--out", dir / out};
  args.insert(args.end(), extra.begin(), extra.end());
  return run(args, dir);
}

// scl_slope (offset 112) and descrip (offset 148, 80 bytes) of a NIfTI-1 header.
void read_label(const std::string& path, float* slope, std::string* description) {
  std::ifstream in(path, std::ios::binary);
  char header[348] = {};
  in.read(header, sizeof header);
  std::memcpy(slope, header + 112, 4);
  *description = std::string(header + 148, strnlen(header + 148, 80));
}

}  // namespace

TEST(DtimapsOutputs, EveryMapKeepsAnObliqueLasInputsGeometryAndNamesItsScale) {
  TempDir dir;
  const std::string p = phantom(dir, {"--nifti"});
  const std::string input = write_dwi(dir, p, "las.nii", oblique_las(), ZTR_TYPE_INT16, 1.0, 1.0);
  const RunResult r = run_maps(dir, input, p, "maps");
  ASSERT_EQ(r.status, 0) << r.err;
  const struct {
    const char* name;
    float slope;
    const char* description;
  } maps[] = {{"fa.nii", 0.001f, "FA"}, {"adc.nii", 1e-6f, "ADC"}, {"isod.nii", 0.0f, "isoD"},
              {"colour_fa.nii", 0.0f, "colour FA"}};
  for (const auto& m : maps) {
    ImageGeometry g;
    std::string error;
    VolumePtr image(LoadNiftiVolumeWithGeometry((dir / ("maps/" + std::string(m.name))).c_str(), &g, &error));
    ASSERT_TRUE(image) << m.name << ": " << error;
    EXPECT_EQ(g.qform_code, 1) << m.name;
    EXPECT_EQ(g.sform_code, 2) << m.name;
    EXPECT_FLOAT_EQ(g.voxel_size[2], 2.0f) << m.name;
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 4; ++j) {
        EXPECT_NEAR(g.qform[i][j], oblique_las().qform[i][j], 1e-4) << m.name << " qform " << i << j;
        EXPECT_NEAR(g.sform[i][j], oblique_las().sform[i][j], 1e-4) << m.name << " sform " << i << j;
      }
    }
    float slope = -1;
    std::string description;
    read_label(dir / ("maps/" + std::string(m.name)), &slope, &description);
    EXPECT_FLOAT_EQ(slope, m.slope) << m.name;
    EXPECT_NE(description.find(m.description), std::string::npos) << m.name << ": " << description;
  }
}

TEST(DtimapsInput, FloatAndScaledInputGiveTheFaOfTheInt16Original) {
  TempDir dir;
  const std::string p = phantom(dir, {"--nifti", "--noise", "30", "--seed", "5"});
  const RunResult original = run_maps(dir, p + "/dwi.nii", p, "int16");
  ASSERT_EQ(original.status, 0) << original.err;
  VolumePtr reference = load_raw(dir / "int16/maps.raw");
  ASSERT_TRUE(reference);
  const ImageGeometry plain;
  const struct {
    const char* what;
    int32_t type;
    double factor;
    double slope;
  } inputs[] = {
      {"float32 at 0..1", ZTR_TYPE_FLOAT32, 1.0 / 4000.0, 0.0},
      {"float32 above 32767", ZTR_TYPE_FLOAT32, 20.0, 0.0},
      {"int16 with scl_slope 0.01", ZTR_TYPE_INT16, 0.01, 0.01},
  };
  int case_number = 0;
  for (const auto& input : inputs) {
    const std::string name = "in" + std::to_string(case_number++);
    const std::string path = write_dwi(dir, p, name + ".nii", plain, input.type, input.factor, input.slope);
    const RunResult r = run_maps(dir, path, p, name);
    ASSERT_EQ(r.status, 0) << input.what << ": " << r.err;
    VolumePtr maps = load_raw(dir / (name + "/maps.raw"));
    ASSERT_TRUE(maps) << input.what;
    const int64_t n = int64_t(maps->header->x) * maps->header->y * maps->header->z;
    int64_t fitted = 0, close = 0;
    for (int64_t i = 0; i < n; ++i) {
      const int16_t want = ZTR_ChannelData<int16_t>(reference.get(), 1)[i];
      if (want == 0) continue;
      ++fitted;
      if (std::abs(ZTR_ChannelData<int16_t>(maps.get(), 1)[i] - want) <= 2) ++close;
    }
    ASSERT_GT(fitted, 1000) << input.what;
    EXPECT_GE(double(close) / double(fitted), 0.99) << input.what << ": " << close << " of " << fitted;

    // isoD reads back in the input's own signal units.
    std::string error;
    VolumePtr isod(LoadNiftiVolume((dir / (name + "/isod.nii")).c_str(), nullptr, &error));
    ASSERT_TRUE(isod) << error;
    int64_t compared = 0;
    for (int64_t i = 0; i < n; ++i) {
      const double want = ZTR_ChannelData<int16_t>(reference.get(), 3)[i] * input.factor;
      if (ZTR_ChannelData<int16_t>(reference.get(), 3)[i] < 100) continue;
      const double got = ZTR_GetVoxelValueAsFloat(isod->data[0], isod->types[0], n, i);
      EXPECT_NEAR(got, want, 0.02 * want) << input.what << " voxel " << i;
      if (++compared > 200) break;
    }
  }
}

TEST(DtimapsInput, NanDirectionsOnBZeroVolumesAreAccepted) {
  TempDir dir;
  const std::string p = phantom(dir, {"--nifti"});
  // The phantom's bvec with the b=0 column replaced by NaN, as DIPY's example files have it.
  std::ifstream in(p + "/dwi.bvec");
  std::ofstream out(dir / "nan.bvec");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream values(line);
    std::string first, rest;
    values >> first;
    std::getline(values, rest);
    out << "nan" << rest << "\n";
  }
  out.close();
  const RunResult plain = run_maps(dir, p + "/dwi.nii", p, "plain");
  ASSERT_EQ(plain.status, 0) << plain.err;
  const RunResult nan = run({ZTR_DTIMAPS_PROGRAM, p + "/dwi.nii", "--bval", p + "/dwi.bval", "--bvec",
                             dir / "nan.bvec", "--out", dir / "nan"}, dir);
  ASSERT_EQ(nan.status, 0) << nan.err;
  VolumePtr a = load_raw(dir / "plain/maps.raw");
  VolumePtr b = load_raw(dir / "nan/maps.raw");
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(same_bytes(a.get(), b.get()));
  EXPECT_NE(nan.err.find("isoD at b=1000"), std::string::npos) << nan.err;
}

TEST(DtimapsInput, UnusableGradientTablesAndVoxelSizesGiveStatusTwoWithTheReasonLast) {
  TempDir dir;
  const std::string p = phantom(dir, {"--nifti"});
  std::string bvals;
  std::getline(std::ifstream(p + "/dwi.bval"), bvals);
  auto bval_file = [&](const std::string& name, const std::string& first_two) {
    // The phantom's b values with the first two replaced.
    std::istringstream values(bvals);
    std::string skip;
    values >> skip >> skip;
    std::string rest;
    std::getline(values, rest);
    std::ofstream(dir / name) << first_two << rest << "\n";
    return dir / name;
  };
  std::string header(352, '\0');
  {
    std::ifstream nii(p + "/dwi.nii", std::ios::binary);
    std::ostringstream bytes;
    bytes << nii.rdbuf();
    std::string image = bytes.str();
    const float zero = 0.0f;
    std::memcpy(&image[80], &zero, 4);  // pixdim[1]
    std::ofstream(dir / "zero_voxel.nii", std::ios::binary) << image;
  }
  const struct {
    std::string bval;
    std::string input;
    const char* reason;
  } cases[] = {
      {bval_file("negative.bval", "0 -1000"), p + "/dwi.nii", "b=-1000"},
      {bval_file("absurd.bval", "0 1e9"), p + "/dwi.nii", "b=1e+09"},
      {bval_file("no_b0.bval", "1000 1000"), p + "/dwi.nii", "no b=0 volume"},
      {p + "/dwi.bval", dir / "zero_voxel.nii", "voxel size 0 x"},
  };
  for (const auto& c : cases) {
    const RunResult r = run({ZTR_DTIMAPS_PROGRAM, c.input, "--bval", c.bval, "--bvec", p + "/dwi.bvec",
                             "--out", dir / "o"}, dir);
    EXPECT_EQ(r.status, 2) << c.reason << ": " << r.err;
    EXPECT_NE(last_line(r.err).find(c.reason), std::string::npos) << r.err;
  }
  // An MPG file goes through the same checks: seven weighted channels and no b=0 one.
  {
    std::ofstream mpg(dir / "no_b0.mpg");
    mpg << "#kLS-II MPG description file (not used in earlier kLS)\n1 0 0\n0 1 0\n7\n0\n";
    for (int k = 0; k < 7; ++k) mpg << "1000 " << (k % 3 == 0) << " " << (k % 3 == 1) << " " << (k % 3 == 2) << "\n";
  }
  const RunResult mpg = run({ZTR_DTIMAPS_PROGRAM, p + "/dwi.raw", "--mpg", dir / "no_b0.mpg", "--out",
                             dir / "o"}, dir);
  EXPECT_EQ(mpg.status, 2) << mpg.err;
  EXPECT_NE(last_line(mpg.err).find("no b=0 volume"), std::string::npos) << mpg.err;
  // --voxel-size stands in for a broken one.
  const RunResult fixed = run({ZTR_DTIMAPS_PROGRAM, dir / "zero_voxel.nii", "--bval", p + "/dwi.bval",
                               "--bvec", p + "/dwi.bvec", "--voxel-size", "2.5", "--out", dir / "o"}, dir);
  ASSERT_EQ(fixed.status, 0) << fixed.err;
  ImageGeometry g;
  std::string error;
  VolumePtr fa(LoadNiftiVolumeWithGeometry((dir / "o/fa.nii").c_str(), &g, &error));
  ASSERT_TRUE(fa) << error;
  for (float v : g.voxel_size) EXPECT_FLOAT_EQ(v, 2.5f);
}

TEST(DtimapsOutputs, AnOutputNameTakenByAFolderFailsWithTheReasonLast) {
  TempDir dir;
  const std::string p = phantom(dir);
  fs::create_directories(dir / "maps/adc.nii/inside");
  const RunResult r = run({ZTR_DTIMAPS_PROGRAM, p + "/dwi.raw", "--out", dir / "maps"}, dir);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err.find("maps written"), std::string::npos) << r.err;
  EXPECT_NE(last_line(r.err).find("adc.nii"), std::string::npos) << r.err;
  EXPECT_NE(last_line(r.err).find("folder"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_directory(dir / "maps/adc.nii/inside"));
}

TEST(DtimapsOutputs, AFullDiskFailsTheRunAndLeavesTheOlderMapsWhole) {
  TempDir dir;
  const std::string p = phantom(dir, {"--noise", "10"});
  DtimapsOptions options;
  options.dwi.input = p + "/dwi.raw";
  options.out = dir / "maps";
  options.threads = 2;
  std::string error;
  ASSERT_EQ(run_dtimaps(options, &error), kDtimapsOk) << error;
  std::ifstream first(dir / "maps/maps.raw", std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(first)), {});
  // A second run on other data with room for only part of the first file.
  options.dwi.input = p + "/dwi.raw";
  options.dwi.voxel_size = 2.0f;
  set_atomic_file_space_for_testing(10000);
  const int status = run_dtimaps(options, &error);
  set_atomic_file_space_for_testing(-1);
  EXPECT_EQ(status, kDtimapsFailed);
  EXPECT_NE(error.find("maps.raw"), std::string::npos) << error;
  EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
  std::ifstream after_file(dir / "maps/maps.raw", std::ios::binary);
  const std::string after((std::istreambuf_iterator<char>(after_file)), {});
  EXPECT_EQ(after, before);
  for (const auto& entry : fs::directory_iterator(dir / "maps")) {
    EXPECT_NE(entry.path().extension(), ".part") << entry.path();
  }
}

TEST(DicomGeometry, AffineFollowsTheFirstSliceThroughTheFlipAndTheResampling) {
  // Axial slices at z = 10, 12, 14, 16 (LPS), 1 mm pixels from (-4, -4): the import flips z
  // (ascending positions) and resamples 4 slices of 2 mm to 8 of 1 mm, so slice k' comes
  // from source slice 3 - 3k'/7 at z = 16 - 6k'/7. In RAS: x = 4 - i, y = 4 - j.
  TempDir dir;
  const RunResult made = run({"/usr/bin/python3", ZTR_DICOM_GENERATOR, dir / "series", "--channels", "1",
                              "--slices", "4", "--orientation", "1,0,0,0,1,0"}, dir);
  ASSERT_EQ(made.status, 0) << made.err;
  ImageGeometry g;
  std::string reason;
  VolumePtr v(ImportDicomDirectoryWithGeometry((dir / "series").c_str(), &g, nullptr, &reason));
  ASSERT_TRUE(v) << reason;
  ASSERT_EQ(v->header->z, 8);
  ASSERT_EQ(g.sform_code, 1);
  const Affine want = {{{-1, 0, 0, 4}, {0, -1, 0, 4}, {0, 0, -6.0 / 7.0, 16}, {0, 0, 0, 1}}};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(g.sform[i][j], want[i][j], 1e-5) << i << "," << j;
  }
  // Without an orientation the import has no world position to give: voxel sizes only.
  const RunResult plain = run({"/usr/bin/python3", ZTR_DICOM_GENERATOR, dir / "plain", "--channels", "1",
                               "--slices", "4"}, dir);
  ASSERT_EQ(plain.status, 0) << plain.err;
  v.reset(ImportDicomDirectoryWithGeometry((dir / "plain").c_str(), &g, nullptr, &reason));
  ASSERT_TRUE(v) << reason;
  EXPECT_EQ(g.sform_code, 0);
  EXPECT_FLOAT_EQ(g.voxel_size[0], 1.0f);
}

TEST(DicomGeometry, ARefusedSeriesGivesItsReason) {
  TempDir dir;
  fs::create_directories(dir / "empty");
  ImageGeometry g;
  std::string reason;
  EXPECT_FALSE(ImportDicomDirectoryWithGeometry((dir / "empty").c_str(), &g, nullptr, &reason));
  EXPECT_NE(reason.find("Instance Number 1"), std::string::npos) << reason;
}
