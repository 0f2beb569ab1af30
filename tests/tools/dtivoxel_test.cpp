// dtivoxel: argument parsing, and end-to-end runs of the real program on a phantom with
// known bundles (growing, morphology, statistics, profile glyphs and the exit statuses).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "analyzer/io/raw_volume_file.h"
#include "tools/common/mask_io.h"
#include "tools/dtivoxel/dtivoxel.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using ztr::test::TempDir;

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs a program with a deadline; its output is kept beside the test's files.
ztr::test::RunResult run(const std::vector<std::string>& args, const TempDir& dir) {
  return ztr::test::run_program(args, dir / "run", std::chrono::seconds(120));
}

bool parses(std::vector<std::string> args, DtivoxelOptions* options, std::string* error) {
  args.insert(args.begin(), "dtivoxel");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  return parse_dtivoxel_arguments(int(argv.size()), argv.data(), options, error);
}

// A 24 x 24 x 8 phantom in NIfTI with its FSL gradient table, and its label volume.
struct PhantomFiles {
  TempDir dir;
  std::string nifti, bval, bvec;
  VolumePtr labels;
  VolumeHeader grid{};
  PhantomFiles() {
    const ztr::test::RunResult r = run({ZTR_PHANTOM_PROGRAM, "--out", dir / "p", "--size", "24", "24", "8", "--nifti"}, dir);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    nifti = dir / "p/dwi.nii";
    bval = dir / "p/dwi.bval";
    bvec = dir / "p/dwi.bvec";
    labels.reset(LoadRawVolumeFile((dir / "p/truth_label.raw").c_str(), nullptr, nullptr));
    if (labels) grid = *labels->header;
  }
  int label(int64_t i) const {
    const int64_t n = int64_t(grid.x) * grid.y * grid.z;
    return int(ZTR_GetVoxelValueAsFloat(labels->data[0], labels->types[0], n, i));
  }
  VoxelMask mask_of(int wanted) const {
    VoxelMask m;
    m.x = grid.x;
    m.y = grid.y;
    m.z = grid.z;
    m.inside.resize(size_t(grid.x) * grid.y * grid.z);
    for (size_t i = 0; i < m.inside.size(); ++i) m.inside[i] = label(int64_t(i)) == wanted;
    return m;
  }
  std::string write(const VoxelMask& m, const std::string& name) const {
    std::string error;
    const std::string path = dir / name;
    EXPECT_TRUE(write_mask_nifti(m, geometry_from_voxel_size(std::array<float, 3>{1, 1, 1}.data()), path, &error))
        << error;
    return path;
  }
  std::vector<std::string> input() const { return {nifti, "--bval", bval, "--bvec", bvec}; }
  VoxelMask read(const std::string& path) const {
    VoxelMask m;
    std::string error;
    EXPECT_TRUE(read_mask_nifti(path, grid, &m, &error)) << error;
    return m;
  }
};

std::vector<std::string> command(const std::string& sub, const std::vector<std::string>& input,
                                 std::vector<std::string> rest) {
  std::vector<std::string> args = {ZTR_DTIVOXEL_PROGRAM, sub};
  args.insert(args.end(), input.begin(), input.end());
  args.insert(args.end(), rest.begin(), rest.end());
  return args;
}

size_t count(const VoxelMask& m) {
  size_t n = 0;
  for (const uint8_t v : m.inside) n += v != 0;
  return n;
}

// The number after `key` in a text such as "POINTS 42 float".
long number_after(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  return at == std::string::npos ? -1 : std::strtol(text.c_str() + at + key.size(), nullptr, 10);
}

}  // namespace

TEST(DtivoxelArguments, ReadsEachSubcommandsOptions) {
  DtivoxelOptions o;
  std::string error;
  ASSERT_TRUE(parses({"profile", "in.nii", "--bval", "b", "--bvec", "v", "--box", "1,2,3,4,5,6",
                      "--density", "voxel", "--primitive", "star", "--colour", "direction",
                      "--fa-range", "off", "--adc-range", "0.0005,0.002", "--emphasis", "--out", "D"},
                     &o, &error))
      << error;
  EXPECT_EQ(o.command, "profile");
  EXPECT_EQ(o.dwi.input, "in.nii");
  EXPECT_TRUE(o.has_box);
  EXPECT_EQ(o.box[5], 6.0f);
  EXPECT_FALSE(o.fa_range.on);
  EXPECT_FLOAT_EQ(o.adc_range.high, 0.002f);
  EXPECT_TRUE(o.emphasis);
  ASSERT_TRUE(parses({"erode", "m.nii", "--out", "e.nii"}, &o, &error)) << error;
  EXPECT_EQ(o.mask_input, "m.nii");
  ASSERT_TRUE(parses({"grow", "in.raw", "--mpg", "g.txt", "--seed-mask", "s.nii", "--mode", "local",
                      "--max-step", "300", "--max-signal", "40000", "--out", "o.nii"},
                     &o, &error))
      << error;
  EXPECT_EQ(o.max_step, 300);
  EXPECT_EQ(o.max_signal, 40000.0f);
}

TEST(DtivoxelArguments, RefusesIncompleteOrMisplacedOptions) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"shrink", "m.nii", "--out", "o.nii"},
      {"grow", "in.raw", "--mpg", "g", "--mode", "signal", "--out", "o.nii"},  // no seed mask
      {"grow", "in.raw", "--mpg", "g", "--seed-mask", "s", "--mode", "fa", "--out", "o"},
      {"select", "in.raw", "--mpg", "g", "--mode", "direction", "--out", "o"},
      {"select", "in.raw", "--mpg", "g", "--mode", "signal"},  // no output
      {"stats", "in.raw", "--mpg", "g", "--out", "D"},         // no mask
      {"stats", "in.raw", "--mpg", "g", "--mask", "a", "--mask", "b", "--mask", "c", "--out", "D"},
      {"profile", "in.raw", "--mpg", "g", "--box", "1,2,3,4,5,6", "--mask", "m", "--out", "D"},
      {"profile", "in.raw", "--mpg", "g", "--box", "1,2,3,4,5", "--out", "D"},
      {"profile", "in.raw", "--mpg", "g", "--box", "1,2,3,4,0,6", "--out", "D"},
      {"profile", "in.raw", "--mpg", "g", "--box", "1,2,3,4,5,6", "--fa-range", "0.2", "--out", "D"},
      {"profile", "in.raw", "--mpg", "g", "--box", "1,2,3,4,5,6", "--density", "dense", "--out", "D"},
      {"dilate", "m.nii", "--mpg", "g", "--out", "o.nii"},  // no gradient options here
      {"dilate", "--out", "o.nii"},
      {"stats", "in.raw", "--mpg", "g", "--mask", "a", "--max-step", "3", "--out", "D"},
      {"grow", "in.raw", "--mpg", "g", "--seed-mask", "s", "--mode", "signal", "--max-angle", "nan",
       "--out", "o"},
  };
  for (const auto& args : bad) {
    DtivoxelOptions o;
    std::string error;
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_FALSE(parses(args, &o, &error)) << joined;
    EXPECT_FALSE(error.empty()) << joined;
  }
}

// Seeded inside the straight bundle, tensor growing stays in it (and its crossing); the mask
// is written on the input's grid.
TEST(DtivoxelRun, GrowStaysInsideTheStraightBundle) {
  PhantomFiles p;
  ASSERT_TRUE(p.labels);
  VoxelMask bundle = p.mask_of(4);
  ASSERT_GT(count(bundle), 8u);
  VoxelMask seed = bundle;
  std::fill(seed.inside.begin(), seed.inside.end(), 0);
  // The first bundle voxel of slice 2 (the middle slices are all crossing).
  size_t first = 2 * 24 * 24;
  while (first < 3 * 24 * 24 && !bundle.inside[first]) ++first;
  ASSERT_LT(first, size_t(3 * 24 * 24));
  seed.inside[first] = 1;
  const std::string seed_path = p.write(seed, "seed.nii");
  const std::string out = p.dir / "grown.nii";
  const ztr::test::RunResult r = run(command("grow", p.input(), {"--seed-mask", seed_path, "--mode", "direction",
                                                      "--max-angle", "20", "--min-fa", "0.3",
                                                      "--max-step", "40", "--out", out}),
                          p.dir);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const VoxelMask grown = p.read(out);
  EXPECT_GT(count(grown), 4u);
  for (size_t i = 0; i < grown.inside.size(); ++i) {
    if (grown.inside[i]) {
      EXPECT_TRUE(p.label(int64_t(i)) == 4 || p.label(int64_t(i)) == 5) << i;
    }
  }
  // Signal growing with a maximum beyond 16 bits keeps the seed and floods the tissue.
  const ztr::test::RunResult s = run(command("grow", p.input(), {"--seed-mask", seed_path, "--mode", "signal",
                                                      "--min-signal", "1", "--max-signal", "40000",
                                                      "--max-step", "300", "--out", out}),
                          p.dir);
  ASSERT_EQ(s.exit_code, 0) << s.err;
  EXPECT_GT(count(p.read(out)), count(grown));
}

TEST(DtivoxelRun, DilateThenErodeContainsTheOriginal) {
  PhantomFiles p;
  ASSERT_TRUE(p.labels);
  const VoxelMask bundle = p.mask_of(4);
  const std::string in = p.write(bundle, "bundle.nii");
  const std::string dilated = p.dir / "dilated.nii", closed = p.dir / "closed.nii";
  ASSERT_EQ(run({ZTR_DTIVOXEL_PROGRAM, "dilate", in, "--out", dilated}, p.dir).exit_code, 0);
  ASSERT_EQ(run({ZTR_DTIVOXEL_PROGRAM, "erode", dilated, "--out", closed}, p.dir).exit_code, 0);
  const VoxelMask d = p.read(dilated), c = p.read(closed);
  EXPECT_GT(count(d), count(bundle));
  for (size_t i = 0; i < bundle.inside.size(); ++i) {
    if (bundle.inside[i]) {
      EXPECT_TRUE(c.inside[i]) << i;
    }
  }
}

TEST(DtivoxelRun, StatsWritesSummaryJsonDistanceAndAdcDump) {
  PhantomFiles p;
  ASSERT_TRUE(p.labels);
  const std::string a = p.write(p.mask_of(4), "bundle.nii");
  const std::string b = p.write(p.mask_of(2), "cavity.nii");
  const std::string out = p.dir / "stats";
  const ztr::test::RunResult r = run(command("stats", p.input(), {"--mask", a, "--mask", b, "--dump-adc", "--out", out}), p.dir);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string text = read_text(out + "/stats.txt");
  const std::string json = read_text(out + "/stats.json");
  const long voxels = long(count(p.mask_of(4)) + count(p.mask_of(2)));
  EXPECT_EQ(text.rfind("Valid Voxels: ", 0), 0u) << text;
  EXPECT_NE(text.find("Distance between 2 voxelgroups: "), std::string::npos);
  EXPECT_NE(text.find("(Extra parameters by RTNN is unavailable)"), std::string::npos);
  EXPECT_EQ(number_after(json, "\"voxels\": "), voxels);
  EXPECT_EQ(number_after(json, "\"valid_voxels\": "), voxels);
  for (const char* name : {"So", "FA", "ADC", "L1", "L2", "L3", "Dxx", "Dyy", "Dzz", "Dxy", "Dyz", "Dzx"}) {
    EXPECT_NE(json.find(std::string("\"") + name + "\": {\"min\": "), std::string::npos) << name;
  }
  EXPECT_NE(json.find("\"distance_mm\": "), std::string::npos);
  EXPECT_EQ(json.find("nan"), std::string::npos);
  const std::string dump = read_text(out + "/ADCprofile.txt");
  EXPECT_EQ(std::strtol(dump.c_str(), nullptr, 10), voxels);
  const long lines = long(std::count(dump.begin(), dump.end(), '\n'));
  EXPECT_EQ(lines, 2 + 30 + voxels * 30);
}

// Ellipsoids are meshes of 42 vertices and 80 triangles, stars 2 segments per direction.
TEST(DtivoxelRun, ProfileWritesGlyphMeshesAndSummary) {
  PhantomFiles p;
  ASSERT_TRUE(p.labels);
  struct Case {
    const char* primitive;
    long points_per_glyph;
  } cases[] = {{"ellipsoid", 42}, {"star", 120}};
  for (const Case& c : cases) {
    const std::string out = p.dir / (std::string("profile_") + c.primitive);
    const ztr::test::RunResult r = run(command("profile", p.input(), {"--box", "0,0,3,24,24,1", "--density", "voxel",
                                                           "--so-range", "off", "--primitive", c.primitive,
                                                           "--out", out}),
                            p.dir);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string summary = read_text(out + "/summary.txt");
    ASSERT_EQ(summary.rfind("Symbols: ", 0), 0u) << summary;
    const long drawn = number_after(summary, "Symbols: ");
    EXPECT_EQ(number_after(summary, std::to_string(drawn) + "/"), 24 * 24);
    EXPECT_GT(drawn, 0);
    const std::string vtk = read_text(out + "/glyphs.vtk");
    EXPECT_EQ(vtk.rfind("# vtk DataFile Version 3.0\n", 0), 0u);
    EXPECT_EQ(number_after(vtk, "POINTS "), drawn * c.points_per_glyph);
    EXPECT_EQ(number_after(vtk, "POINT_DATA "), drawn * c.points_per_glyph);
    if (std::string(c.primitive) == "ellipsoid") {
      EXPECT_EQ(number_after(vtk, "POLYGONS "), drawn * 80);
    } else {
      EXPECT_EQ(number_after(vtk, "LINES "), drawn * 60);
    }
  }
}

TEST(DtivoxelRun, ExitStatusesForBadInputAndFailures) {
  PhantomFiles p;
  ASSERT_TRUE(p.labels);
  const std::string seed = p.write(p.mask_of(4), "seed.nii");
  VoxelMask small;
  small.x = small.y = small.z = 4;
  small.inside.assign(64, 1);
  const std::string other_grid = p.write(small, "small.nii");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {"unknown option", {ZTR_DTIVOXEL_PROGRAM, "grow", "--frobnicate"}, 2},
      {"missing input", command("stats", {p.dir / "none.nii", "--bval", p.bval, "--bvec", p.bvec},
                                {"--mask", seed, "--out", p.dir / "s"}), 2},
      {"mask on another grid", command("stats", p.input(), {"--mask", other_grid, "--out", p.dir / "s"}), 2},
      {"no such channel", command("select", p.input(), {"--mode", "signal", "--channel", "99", "--out", p.dir / "o.nii"}), 2},
      {"unwritable output", command("select", p.input(), {"--mode", "signal", "--out", "/nonexistent-dir/o.nii"}), 1},
      {"missing mask", {ZTR_DTIVOXEL_PROGRAM, "erode", p.dir / "none.nii", "--out", p.dir / "o.nii"}, 2},
  };
  for (const Case& c : cases) {
    const ztr::test::RunResult r = run(c.args, p.dir);
    EXPECT_EQ(r.exit_code, c.status) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find("dtivoxel: "), std::string::npos) << c.name;
  }
}
