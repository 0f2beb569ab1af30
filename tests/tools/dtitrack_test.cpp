// dtitrack: argument refusals, and end-to-end runs on the phantom: lines seeded in the
// curved bundle stay in it and follow it, zero lines is a success, and the target and
// avoidance selection agrees with MRtrix3's tckedit when it is installed.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "analyzer/dti/tensor_phantom.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tools/dtitrack/dtitrack.h"

using ztr::test::ChildProcess;
using ztr::test::TempDir;
namespace fs = std::filesystem;

namespace {

constexpr auto kDeadline = std::chrono::seconds(120);

bool parse(std::vector<std::string> args, std::string* error) {
  args.insert(args.begin(), "dtitrack");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  DtitrackOptions options;
  return parse_dtitrack_arguments(static_cast<int>(argv.size()), argv.data(), &options, error);
}

// The phantom of the default size, written once per test binary run.
const TempDir& phantom() {
  static TempDir dir("ztr_dtitrack_phantom");
  static bool made = [] {
    ChildProcess p({ZTR_PHANTOM_PROGRAM, "--out", dir.path().string(), "--nifti"}, dir / "phantom");
    return p.exit_code(kDeadline) == 0;
  }();
  EXPECT_TRUE(made);
  return dir;
}

struct ToolRun {
  int status;
  std::string err;
};

ToolRun dtitrack(const TempDir& out, std::vector<std::string> args) {
  const TempDir& p = phantom();
  std::vector<std::string> argv = {ZTR_DTITRACK_PROGRAM, p / "dwi.nii", "--bval", p / "dwi.bval",
                                   "--bvec", p / "dwi.bvec", "--out", out.path().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess child(argv, out / "run");
  const int status = child.exit_code(kDeadline);
  return {status, child.err()};
}

std::string last_line(const std::string& text) {
  const size_t end = text.find_last_not_of('\n');
  const size_t start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

// The lines of a dump file: node positions in millimetres.
std::vector<std::vector<std::array<float, 3>>> read_dump(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line) && line.find("Dump result is from here") == std::string::npos) {
  }
  int n = 0;
  in >> n;
  std::vector<std::vector<std::array<float, 3>>> lines(static_cast<size_t>(std::max(n, 0)));
  for (auto& l : lines) {
    int m = 0;
    in >> m;
    for (int k = 0; k < m; ++k) {
      float v[6];
      for (float& x : v) in >> x;
      l.push_back({v[0], v[1], v[2]});
    }
  }
  return lines;
}

int count_tck(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line) && line != "END") {
    if (line.rfind("count: ", 0) == 0) return std::stoi(line.substr(7));
  }
  return -1;
}

// Every track of a .tck file as its points.
std::vector<std::vector<std::array<float, 3>>> read_tck(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::vector<std::array<float, 3>>> tracks;
  const size_t file = bytes.find("file: . ");
  if (file == std::string::npos) return tracks;
  std::vector<std::array<float, 3>> current;
  for (size_t at = std::stoul(bytes.substr(file + 8)); at + 12 <= bytes.size(); at += 12) {
    std::array<float, 3> p;
    std::memcpy(p.data(), bytes.data() + at, 12);
    if (std::isinf(p[0])) break;
    if (std::isnan(p[0])) {
      tracks.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(p);
    }
  }
  return tracks;
}

double track_length(const std::vector<std::array<float, 3>>& t) {
  double length = 0;
  for (size_t k = 1; k < t.size(); ++k) {
    length += std::sqrt(std::pow(t[k][0] - t[k - 1][0], 2) + std::pow(t[k][1] - t[k - 1][1], 2) +
                        std::pow(t[k][2] - t[k - 1][2], 2));
  }
  return length;
}

}  // namespace

TEST(DtitrackArguments, RefusesWhatCannotBeRun) {
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"in.nii", "--bval", "b", "--bvec", "v", "--out", "o"}, "exactly one seed region"},
      {{"in.nii", "--bval", "b", "--bvec", "v", "--out", "o", "--seed-sphere", "1,2,3"}, "X,Y,Z,R"},
      {{"in.nii", "--bval", "b", "--bvec", "v", "--out", "o", "--seed-sphere", "1,2,3,-1"}, "X,Y,Z,R"},
      {{"in.nii", "--bval", "b", "--bvec", "v", "--out", "o", "--seed-sphere", "1,2,3,4", "--seed-mask", "m.nii"},
       "exactly one seed region"},
      {{"in.nii", "--bval", "b", "--bvec", "v", "--out", "o", "--seed-mask", "m", "--length", "0"}, "1 to 256"},
      {{"in.nii", "--bval", "b", "--bvec", "v", "--out", "o", "--seed-mask", "m", "--length", "257"}, "1 to 256"},
      {{"in.nii", "--bval", "b", "--bvec", "v", "--out", "o", "--seed-mask", "m", "--step", "nan"}, "positive"},
      {{"in.nii", "--bval", "b", "--bvec", "v", "--out", "o", "--seed-mask", "m", "--fa-min", "x"}, "number or off"},
      {{"in.nii", "--bval", "b", "--bvec", "v", "--out", "o", "--seed-mask", "m", "--scheme", "fact"}, "e1 or anisocomp"},
      {{"in.nii", "--bval", "b", "--bvec", "v", "--out", "o", "--seed-mask", "m", "--colour", "pink"}, "colour mode"},
      {{"in.nii", "--bval", "b", "--bvec", "v", "--seed-mask", "m"}, "--out"},
      {{"in.nii", "--bval", "b", "--bvec", "v", "--out", "o", "--seed-mask", "m", "--frobnicate"}, "unknown option"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(parse(c.args, &error)) << c.reason;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  std::string error;
  EXPECT_TRUE(parse({"in.nii", "--bval", "b", "--bvec", "v", "--out", "o", "--seed-sphere", "1,2,3,4",
                     "--fa-min", "off", "--colour", "65757", "--primitive", "ribbon", "--target-sphere", "1,1,1,1",
                     "--target-mask", "t.nii", "--avoid-sphere", "2,2,2,1"},
                    &error))
      << error;
}

TEST(Dtitrack, LinesSeededInTheCurvedBundleStayInItAndFollowIt) {
  TempDir out("ztr_dtitrack_arc");
  // An arc voxel away from the crossing: (18, 27, 12).
  const ToolRun run = dtitrack(out, {"--seed-sphere", "18,27,12,1.5", "--threads", "2", "--voxelize"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"tracks.tck", "tracks.trk", "tracks.vtk", "seeds.txt", "dump.txt", "summary.txt",
                           "voxelized_grey.nii", "voxelized_colour.nii", "voxelized_mask.nii"}) {
    EXPECT_TRUE(fs::exists(out.path() / name)) << name;
  }
  EXPECT_NE(last_line(run.err).find("visible lines of"), std::string::npos) << run.err;
  const auto lines = read_dump(out / "dump.txt");
  ASSERT_GT(lines.size(), 20u);
  EXPECT_EQ(count_tck(out / "tracks.tck"), static_cast<int>(lines.size()));
  PhantomOptions options;
  int inside = 0, nodes = 0, aligned = 0, segments = 0;
  float longest = 0;
  for (const auto& line : lines) {
    for (size_t k = 0; k < line.size(); ++k) {
      const auto& p = line[k];
      const int label = phantom_voxel(options, static_cast<int>(std::lround(p[0])), static_cast<int>(std::lround(p[1])),
                                      static_cast<int>(std::lround(p[2]))).label;
      ++nodes;
      inside += (label == 3 || label == 5);
      if (k == 0 || label != 3) continue;
      // The arc's tangent at p: perpendicular to the radius from its centre (32, 14.4).
      const double s = 32.0;
      const double du = (p[0] + 0.5 - 32.0) / s, dv = (p[1] + 0.5 - 32.0) / s + 0.55;
      const double rho = std::hypot(du, dv);
      const double t[2] = {-dv / rho, du / rho};
      const double d[3] = {p[0] - line[k - 1][0], p[1] - line[k - 1][1], p[2] - line[k - 1][2]};
      const double cosine = std::fabs(d[0] * t[0] + d[1] * t[1]) / std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      ++segments;
      aligned += cosine > 0.95;
    }
    longest = std::max(longest, static_cast<float>(line.size()) * 0.7f);
  }
  EXPECT_GT(inside, 0.95 * nodes);  // lines run on a little past the arc's ends
  EXPECT_GT(aligned, 0.95 * segments);
  EXPECT_GT(longest, 40.0f);  // the arc is about 60 mm long
}

TEST(Dtitrack, ZeroLinesIsASuccessSaidOnTheLastLine) {
  TempDir out("ztr_dtitrack_none");
  const ToolRun run = dtitrack(out, {"--seed-sphere", "2,2,2,1"});  // the empty background
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(last_line(run.err).rfind("dtitrack: no lines:", 0), 0u) << run.err;
  EXPECT_EQ(count_tck(out / "tracks.tck"), 0);
}

TEST(Dtitrack, AMaskOnAnotherGridIsBadInput) {
  TempDir out("ztr_dtitrack_mask");
  const ToolRun run = dtitrack(out, {"--seed-mask", phantom() / "truth_fa.nii", "--target-mask", "/nonexistent.nii"});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n') >= 1, true);
  EXPECT_FALSE(fs::exists(out.path() / "tracks.tck"));
}

TEST(Dtitrack, TargetAndAvoidanceSelectionAgreesWithTckedit) {
  const char* tckedit = "/usr/bin/tckedit";
  if (!fs::exists(tckedit)) GTEST_SKIP() << "MRtrix3 is not installed";
  TempDir all("ztr_dtitrack_all"), selected("ztr_dtitrack_sel");
  const std::vector<std::string> seed = {"--seed-sphere", "20,30,12,3", "--threads", "2"};
  ASSERT_EQ(dtitrack(all, seed).status, 0);
  std::vector<std::string> with_regions = seed;
  for (const char* a : {"--target-sphere", "31.5,33,11.5,2.5", "--avoid-sphere", "45,27.5,12,3"}) with_regions.push_back(a);
  const ToolRun run = dtitrack(selected, with_regions);
  ASSERT_EQ(run.status, 0) << run.err;
  // The phantom's affine is the identity with 1 mm voxels: the spheres are the same in mm.
  ChildProcess edit({tckedit, all / "tracks.tck", all / "edited.tck", "-include", "31.5,33,11.5,2.5", "-exclude",
                     "45,27.5,12,3", "-quiet", "-force"},
                    all / "tckedit");
  ASSERT_EQ(edit.exit_code(kDeadline), 0) << edit.err();
  const int ours = count_tck(selected / "tracks.tck");
  const int theirs = count_tck(all / "edited.tck");
  ASSERT_GT(theirs, 5);
  // MRtrix also tests points between nodes: boundary cases only.
  EXPECT_NEAR(ours, theirs, std::max(2.0, 0.05 * theirs));
  EXPECT_LT(ours, count_tck(all / "tracks.tck"));
}

TEST(Dtitrack, ReachesAsFarAsTckgenTensorDetOnTheSameSeeds) {
  const char* tckgen = "/usr/bin/tckgen";
  if (!fs::exists(tckgen)) GTEST_SKIP() << "MRtrix3 is not installed";
  TempDir ours("ztr_dtitrack_reach");
  const ToolRun run = dtitrack(ours, {"--seed-sphere", "18,27,12,1.5", "--threads", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::ifstream seeds(ours / "seeds.txt");
  const auto seed_count = std::count(std::istreambuf_iterator<char>(seeds), {}, '\n');
  // MRtrix takes the gradients in image axes (-grad): -fslgrad would flip x on this grid.
  const TempDir& p = phantom();
  {
    std::ifstream bval(p / "dwi.bval"), bvec(p / "dwi.bvec");
    std::vector<float> b((std::istream_iterator<float>(bval)), {}), v((std::istream_iterator<float>(bvec)), {});
    ASSERT_EQ(v.size(), 3 * b.size());
    std::ofstream grad(ours / "dwi.grad");
    for (size_t i = 0; i < b.size(); ++i) grad << v[i] << ' ' << v[b.size() + i] << ' ' << v[2 * b.size() + i] << ' ' << b[i] << '\n';
  }
  ChildProcess mrtrix({tckgen, "-algorithm", "Tensor_Det", p / "dwi.nii", ours / "theirs.tck", "-grad", ours / "dwi.grad",
                       "-seed_sphere", "18,27,12,1.5", "-seeds", std::to_string(seed_count), "-select", "0", "-step", "0.7",
                       "-cutoff", "0.18", "-angle", "90", "-minlength", "0", "-maxlength", "223", "-nthreads", "2",
                       "-quiet", "-force"},
                      ours / "tckgen");
  ASSERT_EQ(mrtrix.exit_code(kDeadline), 0) << mrtrix.err();
  const auto mine = read_tck(ours / "tracks.tck");
  const auto theirs = read_tck(ours / "theirs.tck");
  ASSERT_GT(theirs.size(), 20u);
  double my_max = 0, their_max = 0, my_sum = 0, their_sum = 0;
  for (const auto& t : mine) {
    my_max = std::max(my_max, track_length(t));
    my_sum += track_length(t);
  }
  for (const auto& t : theirs) {
    their_max = std::max(their_max, track_length(t));
    their_sum += track_length(t);
  }
  EXPECT_GE(my_max, 0.9 * their_max);
  EXPECT_GE(my_sum / mine.size(), 0.9 * their_sum / theirs.size());
}
