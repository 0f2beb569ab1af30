// DICOM directory import of well-formed series: ordering, channel split, geometry, voxel
// values, description and console lines.
#include "tests/analyzer/io/dicom_series_fixture.h"

#include <fstream>
#include <string>

using namespace dicom_test;

namespace {

// Unless told otherwise the generator writes 2 channels x 3 slices of 8x8 pixels of 1.0 mm
// (Reconstruction Diameter 8 mm), positions rising 2.0 mm per slice, Spacing Between
// Slices 2.0, explicit VR with the 128-byte preamble.
// Slices 1.0 mm apart over 1.0 mm pixels keep z (ratio 1); descending positions keep the
// slice order, so voxel values can be compared one to one.
const std::string kKeepZ = "--slice-step 1 --spacing-between-slices 1 --descending";

const std::vector<SeriesRecipe> kSeries = {
    {"standard", ""},
    {"implicit", "--implicit --preamble none --slices 4 " + kKeepZ},
    {"seq_defined", "--sequence defined --slices 4 " + kKeepZ},
    {"seq_undefined", "--implicit --sequence undefined --slices 4 " + kKeepZ},
    {"split", "--channels 3 --slices 4 " + kKeepZ},
    {"rising", "--channels 2 --slices 4 --slice-step 1 --spacing-between-slices 1"},
    {"sixty", "--channels 2 --slices 30 " + kKeepZ},
    {"explicit_bare", "--preamble none --slices 4 " + kKeepZ},
    {"marker_first", "--preamble marker-first --slices 4 " + kKeepZ},
    {"reversed", "--reverse-names --slices 4 " + kKeepZ},
    {"gap", "--channels 1 --slices 4 --numbers 1,2,3,5 " + kKeepZ},
    {"dbs_zero", "--spacing-between-slices 0 --slice-step 2"},
    {"dbs_missing", "--spacing-between-slices none --slice-step 3 --descending"},
    {"no_fov", "--fov none --pixel-spacing 0.5 --spacing-between-slices 1 --slice-step 1"},
    {"fov16", "--fov 16 --descending"},
    {"wide", "--cols 6 --rows 4 --fov 6 " + kKeepZ},
    {"long_text", "--long-text --slices 4 " + kKeepZ},
    {"undescribed", "--no-description"},
    {"ragged", "--channels 3 --slices 3 --numbers 1,2,3,4,5,6,7 " + kKeepZ},
    {"single", "--channels 3 --slices 1"},
    {"mixed", "--slice-step 1 --spacing-between-slices 1"},
};

class DicomImport : public DicomSeriesFixture {
 protected:
  static void SetUpTestSuite() { generate_all(kSeries); }
  static void TearDownTestSuite() { remove_all(); }
};

}  // namespace

TEST_F(DicomImport, TwoMillimetreSlicesOverOneMillimetrePixelsDoubleZ) {
  // 2 channels x 3 slices, 8x8 pixels of 1.0 mm (field of view 8 mm), slices 2.0 mm apart.
  const std::string dir = series("standard");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 6, 2);
  EXPECT_FLOAT_EQ(r.voxel_size, 1.0f);
  EXPECT_EQ(r.log, "DICOM directory: " + dir +
                       "\nFound 6 files\n"
                       "Number of channels: 2\n"
                       "Recognized volume: 8 x 8 x 3 x 2\n"
                       "Voxel size: 1.000000 mm\n"
                       "Flip in Z\n"
                       "Interpolating in z direction (ratio:2.000)...done\n");
  // Positions rise in z, so the slices are mirrored: flipped slice p holds source slice 2-p.
  // Output slice k (0..4) samples the flipped stack at p = k*2/5; slice 5 repeats slice 4.
  for (int c = 0; c < 2; ++c) {
    for (int k = 0; k < 6; ++k) {
      const double p = (k == 5 ? 4 : k) * 2.0 / 5.0;
      for (int j = 0; j < 8; j += 3) {
        for (int i = 0; i < 8; i += 3) {
          const double expected = 1000 * c + 100 * (2 - p) + 10 * j + i;
          EXPECT_NEAR(voxel(r, c, i, j, k), expected, 1.0)
              << "c=" << c << " i=" << i << " j=" << j << " k=" << k;
        }
      }
    }
  }
}

TEST_F(DicomImport, ChannelsAreSplitByRepeatedPositionsAndValuesLandInTheirSlices) {
  // Slices 1.0 mm apart over 1.0 mm pixels keep z; descending positions are not mirrored.
  const std::string dir = series("split");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 4, 3);
  EXPECT_TRUE(contains(r.log, "Number of channels: 3\n")) << r.log;
  EXPECT_FALSE(contains(r.log, "Flip in Z")) << r.log;
  EXPECT_TRUE(contains(r.log, "Interpolating in z direction (ratio:1.000)...done\n")) << r.log;
  expect_unresampled_values(r, 3, 4, false);
}

TEST_F(DicomImport, RisingPositionsMirrorEveryChannelAlongZ) {
  const std::string dir =
      series("rising");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 4, 2);
  EXPECT_TRUE(contains(r.log, "Flip in Z\n")) << r.log;
  expect_unresampled_values(r, 2, 4, true);
}

TEST_F(DicomImport, SixtyFilesWithThirtyPositionsGiveTwoChannelsOfThirtySlices) {
  const std::string dir = series("sixty");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 30, 2);
  EXPECT_TRUE(contains(r.log, "Found 60 files\nNumber of channels: 2\n")) << r.log;
  // Files 1-30 fill channel 0 and files 31-60 channel 1.
  EXPECT_EQ(voxel(r, 0, 1, 2, 0), source_value(0, 0, 1, 2));
  EXPECT_EQ(voxel(r, 0, 1, 2, 28), source_value(0, 28, 1, 2));
  EXPECT_EQ(voxel(r, 1, 7, 7, 0), source_value(1, 0, 7, 7));
  EXPECT_EQ(voxel(r, 1, 3, 4, 17), source_value(1, 17, 3, 4));
}

TEST_F(DicomImport, ImplicitFilesWithoutPreambleGiveTheSameVolume) {
  const std::string dir = series("implicit");
  ASSERT_EQ(std::ifstream(dir + "IM0001").get(), 0x08) << "file starts with its first element";
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 4, 2);
  expect_unresampled_values(r, 2, 4, false);
  EXPECT_EQ(r.description.substr(r.description.size() - std::string(kFullDescriptionTail).size()),
            kFullDescriptionTail);
}

TEST_F(DicomImport, ExplicitFilesWithoutPreambleAreReadFromTheStart) {
  const std::string dir = series("explicit_bare");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 4, 2);
  expect_unresampled_values(r, 2, 4, false);
}

TEST_F(DicomImport, MarkerAtTheStartOfTheFileIsFollowedByElements) {
  const std::string dir = series("marker_first");
  {
    std::ifstream f(dir + "IM0001", std::ios::binary);
    char head[4] = {};
    f.read(head, 4);
    ASSERT_EQ(std::string(head, 4), "DICM");
  }
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 4, 2);
  EXPECT_TRUE(contains(r.log, "DICOM identifier found at position:0\n")) << r.log;
  expect_unresampled_values(r, 2, 4, false);
}

TEST_F(DicomImport, FilesAreOrderedByInstanceNumberNotByName) {
  const std::string dir = series("reversed");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 4, 2);
  expect_unresampled_values(r, 2, 4, false);
}

TEST_F(DicomImport, SeriesEndsAtTheFirstMissingInstanceNumber) {
  const std::string dir = series("gap");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 3, 1);
  EXPECT_TRUE(contains(r.log, "Found 4 files\n")) << r.log;
  EXPECT_TRUE(contains(r.log, "Recognized volume: 8 x 8 x 3 x 1\n")) << r.log;
  EXPECT_EQ(voxel(r, 0, 5, 6, 0), source_value(0, 0, 5, 6));
  EXPECT_EQ(voxel(r, 0, 5, 6, 1), source_value(0, 1, 5, 6));
}

TEST_F(DicomImport, ZeroSpacingBetweenSlicesUsesTheDistanceOfTheFirstTwoPositions) {
  const std::string dir = series("dbs_zero");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 6, 2);
  EXPECT_TRUE(contains(
      r.log, "Warning: DBS not found in DICOM or 0 (IMAGE_POSITION used instead)\n"))
      << r.log;
  EXPECT_TRUE(contains(r.log, "(ratio:2.000)")) << r.log;
}

TEST_F(DicomImport, MissingSpacingBetweenSlicesUsesTheDistanceOfTheFirstTwoPositions) {
  const std::string dir =
      series("dbs_missing");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 9, 2);
  EXPECT_TRUE(contains(
      r.log, "Warning: DBS not found in DICOM or 0 (IMAGE_POSITION used instead)\n"))
      << r.log;
  EXPECT_TRUE(contains(r.log, "(ratio:3.000)")) << r.log;
}

TEST_F(DicomImport, MissingReconstructionDiameterUsesPixelSpacing) {
  // 0.5 mm pixels, slices 1.0 mm apart: ratio 2, so 3 slices become 6.
  const std::string dir = series("no_fov");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 6, 2);
  EXPECT_FLOAT_EQ(r.voxel_size, 0.5f);
  EXPECT_TRUE(contains(r.log, "Warning: FOV not found in DICOM (PIXEL_DIMENSION used instead)\n"))
      << r.log;
  EXPECT_TRUE(contains(r.log, "Voxel size: 0.500000 mm\n")) << r.log;
}

TEST_F(DicomImport, ReconstructionDiameterSetsTheVoxelSize) {
  // Field of view 16 mm over 8 columns: 2 mm voxels; slices 2 mm apart keep z.
  const std::string dir = series("fov16");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 3, 2);
  EXPECT_FLOAT_EQ(r.voxel_size, 2.0f);
  EXPECT_FALSE(contains(r.log, "Warning: FOV")) << r.log;
}

TEST_F(DicomImport, NonSquareImagesKeepColumnsAsXAndRowsAsY) {
  const std::string dir = series("wide");
  const ImportResult r = run_import(dir);
  expect_shape(r, 6, 4, 3, 2);
  EXPECT_EQ(voxel(r, 1, 5, 3, 1), source_value(1, 1, 5, 3));
  EXPECT_EQ(voxel(r, 0, 2, 1, 0), source_value(0, 0, 2, 1));
}

TEST_F(DicomImport, SequencesAreSkippedWithTheirDecoyElements) {
  // The sequence item holds Instance Number 777 and a 3x3 size ahead of the real elements.
  // The undefined-length one sits in an implicit data set behind the explicit meta group.
  for (const char* kind : {"defined", "undefined"}) {
    const std::string dir = series(std::string("seq_") + kind);
    const ImportResult r = run_import(dir);
    expect_shape(r, 8, 8, 4, 2);
    expect_unresampled_values(r, 2, 4, false);
  }
}

TEST_F(DicomImport, UnlimitedTextElementBeforePixelDataIsSkipped) {
  const std::string dir = series("long_text");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 4, 2);
  expect_unresampled_values(r, 2, 4, false);
}

TEST_F(DicomImport, DescriptionNamesSourceDirectoryInstitutionDatePatientAndScanner) {
  const std::string dir = series("standard");
  const ImportResult r = run_import(dir);
  ASSERT_NE(r.volume, nullptr) << r.log;
  EXPECT_EQ(r.description, "Data Source: DICOM\nLocal DICOM directory: \n" + dir + "\n" +
                               kFullDescriptionTail);
}

TEST_F(DicomImport, DescriptionLeavesOutPartsWhoseElementsAreMissing) {
  const std::string dir = series("undescribed");
  const ImportResult r = run_import(dir);
  ASSERT_NE(r.volume, nullptr) << r.log;
  EXPECT_EQ(r.description, "Data Source: DICOM\nLocal DICOM directory: \n" + dir + "\n");
}

TEST_F(DicomImport, DirectoryWithoutTrailingSeparatorIsAccepted) {
  std::string dir = series("mixed");
  dir.pop_back();
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 3, 2);
}

TEST_F(DicomImport, FilesBeyondTheLastFullChannelAreIgnored) {
  // Seven files: positions of file 1 repeat at files 4 and 7, so 3 channels of 7/3 = 2
  // slices; the seventh file has no place and must not be written anywhere.
  const std::string dir = series("ragged");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 2, 3);
  EXPECT_TRUE(contains(r.log, "Warning: 1 files do not fill a channel and are ignored\n"))
      << r.log;
  // File k (from 0) goes to channel k/2, slice k%2: file 2 (channel 0, slice 2 of the
  // writer) becomes channel 1 slice 0; the resampler repeats slice 0 in slice 1.
  EXPECT_EQ(voxel(r, 1, 4, 4, 0), source_value(0, 2, 4, 4));
  EXPECT_EQ(voxel(r, 2, 4, 4, 0), source_value(1, 1, 4, 4));
}

TEST_F(DicomImport, OneSlicePerChannelIsNotInterpolated) {
  const std::string dir = series("single");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 1, 3);
  EXPECT_FALSE(contains(r.log, "Interpolating")) << r.log;
  EXPECT_EQ(voxel(r, 2, 7, 6, 0), source_value(2, 0, 7, 6));
}

TEST_F(DicomImport, NonDicomFilesInTheDirectoryAreIgnored) {
  const std::string dir = series("mixed");
  std::ofstream(dir + "README.txt") << "not a DICOM file\n";
  std::ofstream(dir + "zero.bin", std::ios::binary) << std::string(300, '\0');
  fs::create_directory(dir + "subdir");
  const ImportResult r = run_import(dir);
  expect_shape(r, 8, 8, 3, 2);
  EXPECT_TRUE(contains(r.log, "Found 8 files\n")) << r.log;
}
