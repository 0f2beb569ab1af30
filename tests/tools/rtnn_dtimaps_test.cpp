// dtimaps --rtnn end to end: the example network set from tools/make_rtnn_example.py on a
// phantom, checked voxel by voxel by the independent numpy forward pass, in both file
// layouts, and the C++ export against the script's own data file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "analyzer/rtnn/rtnn_files.h"
#include "tests/analyzer/rtnn/rtnn_fixtures.h"
#include "tests/support/child_process.h"

namespace {

using rtnn_test::read_file;
using rtnn_test::TempDir;
namespace fs = std::filesystem;

constexpr auto kDeadline = std::chrono::seconds(120);

// Runs a program to its end (bounded); its exit status, and its standard error in *err.
int run(const std::vector<std::string>& argv, const TempDir& dir, std::string* err = nullptr) {
  static int serial = 0;
  ztr::test::ChildProcess child(argv, dir / ("run" + std::to_string(serial++)));
  const int status = child.exit_code(kDeadline);
  if (err) *err = child.err();
  return status;
}

const char* const kMaps[] = {"rtnn_meanlog_mlsr.nii", "rtnn_meanlog_madc.nii", "rtnn_mixer_mix.nii"};

class RtnnDtimaps : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(run({ZTR_PHANTOM_PROGRAM, "--out", dir / "ph", "--size", "24", "24", "6",
                   "--directions", "30", "--noise", "20"}, dir), 0);
    ASSERT_EQ(run({"/usr/bin/python3", ZTR_RTNN_EXAMPLE_SCRIPT, "--mpg", dir / "ph/dwi.mpg",
                   "--out", dir / "net"}, dir), 0);
  }
  TempDir dir;
};

TEST_F(RtnnDtimaps, MapsAgreeWithTheNumpyForwardPassInBothLayouts) {
  std::string err;
  for (const char* file : {"example.rtnn.txt", "example.rtnn.bin"}) {
    const std::string out = dir / (std::string("maps_") + file);
    ASSERT_EQ(run({ZTR_DTIMAPS_PROGRAM, dir / "ph/dwi.raw", "--mpg", dir / "ph/dwi.mpg", "--rtnn",
                   dir / ("net/" + std::string(file)), "--threads", "3", "--out", out}, dir, &err), 0)
        << err;
    EXPECT_NE(err.find("Input B-space matched (mixer)"), std::string::npos) << err;
    for (const char* map : kMaps) EXPECT_TRUE(fs::exists(out + "/" + map)) << map;
    EXPECT_EQ(run({"/usr/bin/python3", ZTR_RTNN_REFERENCE_SCRIPT, dir / ("net/" + std::string(file)),
                   dir / "ph/dwi.raw", out, "--tolerance", "1"}, dir, &err), 0)
        << err;
  }
  for (const char* map : kMaps) {
    EXPECT_EQ(read_file(dir / (std::string("maps_example.rtnn.txt/") + map)),
              read_file(dir / (std::string("maps_example.rtnn.bin/") + map)))
        << map;
  }
}

TEST_F(RtnnDtimaps, ExportOfTheInformationFileIsTheScriptsDataFileByteForByte) {
  RtnnTable table;
  ASSERT_EQ(parse_rtnn_information_file(dir / "net/example.rtnn.txt", &table), 2);
  ASSERT_EQ(write_rtnn_data_file(table, (dir / "export.bin").c_str()), 2);
  EXPECT_EQ(read_file(dir / "export.bin"), read_file(dir / "net/example.rtnn.bin"));
  RtnnTable again;
  ASSERT_EQ(parse_rtnn_data_file(dir / "export.bin", &again), 2);
  ASSERT_EQ(write_rtnn_data_file(again, (dir / "again.bin").c_str()), 2);
  EXPECT_EQ(read_file(dir / "again.bin"), read_file(dir / "export.bin"));
}

TEST_F(RtnnDtimaps, OtherGradientTablesGoThroughTheConverter) {
  // Without --mpg the data gets the analyzer's default table, which equals the networks'
  // table only to six decimals: the converter resamples, and the maps stay close to the
  // matched ones (the mean log ratio x 1000 within 2 %).
  std::string err;
  ASSERT_EQ(run({ZTR_DTIMAPS_PROGRAM, dir / "ph/dwi.raw", "--rtnn", dir / "net/example.rtnn.txt",
                 "--out", dir / "converted"}, dir, &err), 0)
      << err;
  EXPECT_NE(err.find("B-space converter created"), std::string::npos) << err;
  ASSERT_EQ(run({ZTR_DTIMAPS_PROGRAM, dir / "ph/dwi.raw", "--mpg", dir / "ph/dwi.mpg", "--rtnn",
                 dir / "net/example.rtnn.txt", "--out", dir / "matched"}, dir, &err), 0);
  const std::string a = read_file(dir / "converted/rtnn_meanlog_mlsr.nii");
  const std::string b = read_file(dir / "matched/rtnn_meanlog_mlsr.nii");
  ASSERT_EQ(a.size(), b.size());
  const size_t offset = 352;
  int compared = 0;
  for (size_t i = offset; i + 1 < a.size(); i += 2) {
    const int16_t x = static_cast<int16_t>(uint8_t(a[i]) | (uint8_t(a[i + 1]) << 8));
    const int16_t y = static_cast<int16_t>(uint8_t(b[i]) | (uint8_t(b[i + 1]) << 8));
    if (y == 0) continue;
    EXPECT_NEAR(x, y, 0.02 * std::abs(y) + 2) << i;
    ++compared;
  }
  EXPECT_GT(compared, 100);
}

TEST_F(RtnnDtimaps, UnusableRtnnFilesAreABadInputNotASuccess) {
  rtnn_test::write_file(dir / "junk.txt", "junk\n");
  std::string err;
  for (const std::string& file : {dir / "missing.txt", dir / "junk.txt"}) {
    EXPECT_EQ(run({ZTR_DTIMAPS_PROGRAM, dir / "ph/dwi.raw", "--rtnn", file, "--out", dir / "bad"}, dir, &err), 2)
        << file;
    EXPECT_EQ(err.find("maps written"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "bad/rtnn_meanlog_mlsr.nii"));
  }
  EXPECT_NE(run({ZTR_DTIMAPS_PROGRAM, dir / "ph/dwi.raw", "--rtnn"}, dir), 0);
}

}  // namespace
