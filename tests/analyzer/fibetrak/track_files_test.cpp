// Tractogram files: the .tck and .trk layouts read back byte by byte, and a round trip
// through nibabel when it is installed.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "analyzer/fibetrak/track_files.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "track_test_support.h"

using ztr::test::TempDir;

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

template <class T>
T at(const std::string& bytes, size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// 2 mm voxels, x flipped, origin (10, -20, 30): an LAS grid.
VoxelToScanner las_affine() {
  VoxelToScanner m{};
  m[0] = {-2, 0, 0, 10};
  m[1] = {0, 2, 0, -20};
  m[2] = {0, 0, 2, 30};
  m[3] = {0, 0, 0, 1};
  return m;
}

const std::vector<std::vector<std::array<float, 3>>> kLines = {
    {{1, 2, 3}, {1.5f, 2, 3}, {2, 2.5f, 3}}, {{0, 0, 0}}, {{-0.5f, 4, 5}, {0.2f, 4, 5}}};

}  // namespace

TEST(TrackFiles, TckHeaderNamesItsOwnOffsetAndTracksEndWithNaNThenInf) {
  TempDir dir("ztr_tck");
  std::string error;
  ASSERT_TRUE(write_tck(dir / "t.tck", kLines, las_affine(), &error)) << error;
  const std::string bytes = read_file(dir / "t.tck");
  ASSERT_EQ(bytes.rfind("mrtrix tracks\n", 0), 0u);
  EXPECT_NE(bytes.find("datatype: Float32LE\n"), std::string::npos);
  EXPECT_NE(bytes.find("count: 3\n"), std::string::npos);
  const size_t file = bytes.find("file: . ");
  ASSERT_NE(file, std::string::npos);
  const size_t offset = std::stoul(bytes.substr(file + 8));
  EXPECT_LT(bytes.find("END\n"), offset);
  ASSERT_EQ(bytes.size(), offset + 4 * 3 * ((3 + 1) + (1 + 1) + (2 + 1) + 1));
  // Node (1, 2, 3) -> (-2 + 10, 4 - 20, 6 + 30).
  EXPECT_EQ(at<float>(bytes, offset), 8.0f);
  EXPECT_EQ(at<float>(bytes, offset + 4), -16.0f);
  EXPECT_EQ(at<float>(bytes, offset + 8), 36.0f);
  EXPECT_TRUE(std::isnan(at<float>(bytes, offset + 36)));
  EXPECT_TRUE(std::isinf(at<float>(bytes, bytes.size() - 4)));
  EXPECT_FALSE(std::filesystem::exists(dir / "t.tck.part"));
}

TEST(TrackFiles, TrkHeaderAndPointsInVoxelMillimetresFromTheCorner) {
  TempDir dir("ztr_trk");
  std::string error;
  const int32_t size[3] = {64, 64, 24};
  const float voxel[3] = {2, 2, 2};
  ASSERT_TRUE(write_trk(dir / "t.trk", kLines, las_affine(), size, voxel, &error)) << error;
  const std::string bytes = read_file(dir / "t.trk");
  ASSERT_GE(bytes.size(), 1000u);
  EXPECT_EQ(bytes.substr(0, 6), std::string("TRACK\0", 6));
  EXPECT_EQ(at<int16_t>(bytes, 6), 64);
  EXPECT_EQ(at<int16_t>(bytes, 10), 24);
  EXPECT_EQ(at<float>(bytes, 12), 2.0f);
  EXPECT_EQ(at<float>(bytes, 440), -2.0f);   // vox_to_ras[0][0]
  EXPECT_EQ(at<float>(bytes, 452), 10.0f);   // vox_to_ras[0][3]
  EXPECT_EQ(at<float>(bytes, 500), 1.0f);    // vox_to_ras[3][3]
  EXPECT_EQ(bytes.substr(948, 3), "LAS");
  EXPECT_EQ(at<int32_t>(bytes, 988), 3);
  EXPECT_EQ(at<int32_t>(bytes, 992), 2);
  EXPECT_EQ(at<int32_t>(bytes, 996), 1000);
  EXPECT_EQ(at<int32_t>(bytes, 1000), 3);
  EXPECT_EQ(at<float>(bytes, 1004), 3.0f);   // (1 + 0.5) x 2
  EXPECT_EQ(bytes.size(), 1000u + 3 * 4 + (3 + 1 + 2) * 12);
}

TEST(TrackFiles, AxisCodesFollowTheDominantAxisOfEachColumn) {
  VoxelToScanner m = las_affine();
  EXPECT_EQ(axis_codes(m), "LAS");
  m[0] = {0, 0, 1, 0};
  m[1] = {-1, 0, 0, 0};
  m[2] = {0, -1, 0.1, 0};
  EXPECT_EQ(axis_codes(m), "PIR");
}

TEST(TrackFiles, AWriteIntoAMissingDirectoryFailsAndLeavesNothing) {
  std::string error;
  EXPECT_FALSE(write_tck("/nonexistent-dir/t.tck", kLines, las_affine(), &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos);
}

TEST(TrackFiles, NibabelReadsBothFilesToTheSameMillimetres) {
#ifndef ZTR_PYTHON3
  GTEST_SKIP() << "no python3";
#else
  TempDir dir("ztr_nib");
  std::string error;
  const int32_t size[3] = {64, 64, 24};
  const float voxel[3] = {2, 2, 2};
  ASSERT_TRUE(write_tck(dir / "t.tck", kLines, las_affine(), &error)) << error;
  ASSERT_TRUE(write_trk(dir / "t.trk", kLines, las_affine(), size, voxel, &error)) << error;
  const std::string script =
      "import sys\n"
      "try:\n"
      "    import nibabel as nib\n"
      "except ImportError:\n"
      "    print('skip'); sys.exit(0)\n"
      "for name in ('t.tck', 't.trk'):\n"
      "    s = nib.streamlines.load(sys.argv[1] + '/' + name).streamlines\n"
      "    print(name, len(s), ' '.join('%d' % len(x) for x in s),\n"
      "          ' '.join('%.3f' % v for v in s[0][0]), ' '.join('%.3f' % v for v in s[2][1]))\n";
  std::ofstream(dir / "check.py") << script;
  ztr::test::ChildProcess python({ZTR_PYTHON3, dir / "check.py", dir.path().string()}, dir / "python");
  ASSERT_EQ(python.exit_code(std::chrono::seconds(60)), 0) << python.err();
  const std::string out = python.out();
  if (out.rfind("skip", 0) == 0) GTEST_SKIP() << "nibabel is not installed";
  // (1, 2, 3) -> (8, -16, 36); (0.2, 4, 5) -> (9.6, -12, 40).
  EXPECT_EQ(out,
            "t.tck 3 3 1 2 8.000 -16.000 36.000 9.600 -12.000 40.000\n"
            "t.trk 3 3 1 2 8.000 -16.000 36.000 9.600 -12.000 40.000\n");
#endif
}

namespace {

uint32_t big_endian_word(const std::string& bytes, size_t at) {
  return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
         (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint32_t(uint8_t(bytes[at + 3]));
}

float big_endian_float(const std::string& bytes, size_t at) {
  const uint32_t word = big_endian_word(bytes, at);
  float v;
  std::memcpy(&v, &word, 4);
  return v;
}

}  // namespace

TEST(TrackFiles, VtkHoldsPrimitivesOnTheirNodesInMillimetresWithByteColours) {
  // One hairline of two vertices (nodes (1, 2, 3) and (2, 2, 3), drawn half a voxel off).
  std::unique_ptr<ZTR_OBJECT_GROUP, void (*)(ZTR_OBJECT_GROUP*)> group(ZTR_NewObjectGroup(1), ZTR_DeleteObjectGroup);
  ZTR_POLYLINE_OBJECT* line = ZTR_NewPolylineObject(2, true);
  line->points = {{1.5f, 2.5f, 3.5f}, {2.5f, 2.5f, 3.5f}};
  line->colors = {{1, 0, 0, 1}, {0, 1, 0, 0.5f}};
  ZTR_AppendObject(group.get(), line, nullptr);
  TempDir dir("ztr_vtk");
  std::string error;
  ASSERT_TRUE(write_group_vtk(dir / "t.vtk", *group, las_affine(), &error)) << error;
  const std::string bytes = read_file(dir / "t.vtk");
  const std::string head = "# vtk DataFile Version 3.0\nfiber tracking lines\nBINARY\nDATASET POLYDATA\nPOINTS 2 float\n";
  ASSERT_EQ(bytes.substr(0, head.size()), head);
  size_t at = head.size();
  EXPECT_EQ(big_endian_float(bytes, at), 8.0f);      // (1, 2, 3) -> (8, -16, 36)
  EXPECT_EQ(big_endian_float(bytes, at + 4), -16.0f);
  EXPECT_EQ(big_endian_float(bytes, at + 8), 36.0f);
  EXPECT_EQ(big_endian_float(bytes, at + 12), 6.0f);
  at += 24;
  const std::string lines = "\nLINES 1 3\n";
  ASSERT_EQ(bytes.substr(at, lines.size()), lines);
  at += lines.size();
  EXPECT_EQ(big_endian_word(bytes, at), 2u);
  EXPECT_EQ(big_endian_word(bytes, at + 8), 1u);
  at += 12;
  const std::string colours = "\nPOINT_DATA 2\nCOLOR_SCALARS colors 4\n";
  ASSERT_EQ(bytes.substr(at, colours.size()), colours);
  at += colours.size();
  EXPECT_EQ(bytes.substr(at, 8), std::string("\xFF\x00\x00\xFF\x00\xFF\x00\x80", 8));
  EXPECT_EQ(bytes.size(), at + 9);
}
