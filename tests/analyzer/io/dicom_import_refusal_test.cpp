// DICOM directory import of empty, crowded and damaged series: every case is refused with
// a message, without a crash or a read past the end of a file.
#include "tests/analyzer/io/dicom_series_fixture.h"

#include <fstream>
#include <iterator>
#include <string>

using namespace dicom_test;

namespace {

// Unless told otherwise the generator writes 2 channels x 3 slices of 8x8 pixels of 1.0 mm
// (Reconstruction Diameter 8 mm), positions rising 2.0 mm per slice, Spacing Between
// Slices 2.0, explicit VR with the 128-byte preamble.
const std::vector<SeriesRecipe> kSeries = {
    {"from_two", "--channels 1 --slices 2 --numbers 2,3"},
    {"eight_bit", "--bits 8"},
    {"plain", ""},
    {"two_slices", "--channels 1 --slices 2 --descending"},
    {"no_position", "--spacing-between-slices none --no-position 2"},
};

class DicomImportRefusal : public DicomSeriesFixture {
 protected:
  static void SetUpTestSuite() { generate_all(kSeries); }
  static void TearDownTestSuite() { remove_all(); }
};

}  // namespace

TEST_F(DicomImportRefusal, EmptyDirectoryGivesNoVolume) {
  const fs::path dir = root_ / "empty";
  fs::create_directory(dir);
  const ImportResult r = run_import(dir.string() + "/");
  EXPECT_EQ(r.volume, nullptr);
  EXPECT_TRUE(contains(r.log, "Found 0 files\n")) << r.log;
  EXPECT_TRUE(contains(r.log, "Err:")) << r.log;
}

TEST_F(DicomImportRefusal, MissingDirectoryGivesNoVolume) {
  const ImportResult r = run_import((root_ / "nowhere/").string());
  EXPECT_EQ(r.volume, nullptr);
  EXPECT_TRUE(contains(r.log, "Err: cannot list DICOM directory")) << r.log;
}

TEST_F(DicomImportRefusal, NoFileNumberedOneGivesNoVolume) {
  const std::string dir = series("from_two");
  const ImportResult r = run_import(dir);
  EXPECT_EQ(r.volume, nullptr);
  EXPECT_TRUE(contains(r.log, "Err: no DICOM file with Instance Number 1")) << r.log;
}

TEST_F(DicomImportRefusal, MoreThan4096FilesAreRefused) {
  const fs::path dir = root_ / "crowded";
  fs::create_directory(dir);
  for (int n = 0; n < 4097; ++n) std::ofstream(dir / ("f" + std::to_string(n)));
  const ImportResult r = run_import(dir.string() + "/");
  EXPECT_EQ(r.volume, nullptr);
  EXPECT_TRUE(contains(r.log, "Err: more than 4096 files")) << r.log;
}

TEST_F(DicomImportRefusal, EightBitPixelDataIsRefused) {
  const std::string dir = series("eight_bit");
  const ImportResult r = run_import(dir);
  EXPECT_EQ(r.volume, nullptr);
  EXPECT_TRUE(contains(r.log, "holds 8-bit pixel data; only 16-bit data can be imported"))
      << r.log;
}

TEST_F(DicomImportRefusal, TruncatedSliceFileIsRefused) {
  const std::string dir = series("plain");
  fs::resize_file(dir + "IM0005", fs::file_size(dir + "IM0005") - 40);
  const ImportResult r = run_import(dir);
  EXPECT_EQ(r.volume, nullptr);
  EXPECT_TRUE(contains(r.log, "IM0005")) << r.log;
  EXPECT_TRUE(contains(r.log, "runs past the end")) << r.log;
}

TEST_F(DicomImportRefusal, PixelLengthRunningPastTheEndIsRefused) {
  const std::string dir = series("plain");
  const std::string path = dir + "IM0003";
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::string tag("\xE0\x7F\x10\x00OW\0\0", 8);
  const size_t at = bytes.rfind(tag);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 9] = '\x70';  // 32-bit length 128 -> 0x7080
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  const ImportResult r = run_import(dir);
  EXPECT_EQ(r.volume, nullptr);
  EXPECT_TRUE(contains(r.log, "runs past the end")) << r.log;
}

// Rewrites the 8-pixel Rows and Columns of an explicit-VR file to 16.
static void claim_sixteen_by_sixteen(const std::string& path) {
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  for (const char* tag : {"\x28\x00\x10\x00US\x02\x00\x08\x00",
                          "\x28\x00\x11\x00US\x02\x00\x08\x00"}) {
    const size_t at = bytes.rfind(std::string(tag, 10));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 8] = 16;
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TEST_F(DicomImportRefusal, PixelDataShorterThanTheImageIsRefused) {
  // Rows and Columns of the first file claim 16x16 while its pixel data holds 8x8.
  const std::string dir = series("two_slices");
  claim_sixteen_by_sixteen(dir + "IM0001");
  const ImportResult r = run_import(dir);
  EXPECT_EQ(r.volume, nullptr);
  EXPECT_TRUE(contains(r.log, "Err: pixel data of " + dir + "IM0001 is shorter than 512 bytes"))
      << r.log;
}

TEST_F(DicomImportRefusal, SliceOfAnotherImageSizeIsRefused) {
  const std::string dir = series("two_slices");
  claim_sixteen_by_sixteen(dir + "IM0002");
  const ImportResult r = run_import(dir);
  EXPECT_EQ(r.volume, nullptr);
  EXPECT_TRUE(contains(r.log, "Err: image size of " + dir + "IM0002 differs from the first file"))
      << r.log;
}

TEST_F(DicomImportRefusal, MissingPositionOnTheSecondFileIsReportedWhenItGivesTheDistance) {
  const std::string dir =
      series("no_position");
  const ImportResult r = run_import(dir);
  EXPECT_EQ(r.volume, nullptr);
  EXPECT_TRUE(contains(r.log, "Err: Image Position not found in " + dir + "IM0002")) << r.log;
}
