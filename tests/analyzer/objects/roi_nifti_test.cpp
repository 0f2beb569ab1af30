// ROIs exchanged as NIfTI masks, through the library and through the dtiroi program.
#include "analyzer/objects/roi_nifti.h"

#include <gtest/gtest.h>

#include <chrono>

#include "analyzer/io/nifti_volume.h"
#include "analyzer/objects/roi_display.h"
#include "analyzer/objects/roi_file.h"
#include "tests/support/temp_dir.h"
#include "tests/analyzer/app/app_fixtures.h"
#include "tests/support/console_capture.h"
#include "tests/support/child_process.h"

namespace {

const GridSize kGrid{10, 8, 6};

// A 10 x 8 x 6 NIfTI volume with 2 mm voxels, as the grid to draw on.
std::string write_like_volume(const ztr::test::TempDir& folder) {
  VolumePtr volume(ZTR_NewSingleChannelRawVolumeData(kGrid.data(), ZTR_TYPE_INT16,
                                                     ZTR_ATTRIBUTE_PLAIN));
  const float spacing[3] = {2.0f, 2.0f, 2.5f};
  const std::string path = folder.file("dwi.nii.gz");
  std::string error;
  EXPECT_EQ(SaveNiftiChannel(volume.get(), 0, path.c_str(), spacing, &error), 0) << error;
  return path;
}

int run_dtiroi(const std::vector<std::string>& args, const ztr::test::TempDir& folder, std::string* err) {
  std::vector<std::string> argv{ZTR_DTIROI_PROGRAM};
  argv.insert(argv.end(), args.begin(), args.end());
  ztr::test::ChildProcess child(argv, folder.file("dtiroi"));
  const int code = child.exit_code(std::chrono::seconds(30));
  *err = child.err();
  return code;
}

}  // namespace

TEST(RoiNifti, VisibleRoisExportOnTheVolumesGridAndImportBackAsOneVoxelgroup) {
  ztr::test::TempDir folder;
  RoiList rois;
  ROI_OBJECT* a = new_roi_object(rois, ZTR_ROI_SPHERICAL, kGrid);
  a->view.centre = {3, 3, 3};
  a->view.sphere_radius = 1.0f;
  ROI_OBJECT* b = new_roi_object(rois, ZTR_ROI_SPHERICAL, kGrid);
  b->view.centre = {7, 4, 2};
  b->view.sphere_radius = 1.0f;
  ImageGeometry geometry;
  geometry.voxel_size[0] = 2.0f;
  const std::string path = folder.file("rois.nii.gz");
  std::string reason;
  ASSERT_TRUE(export_visible_rois_nifti(rois, kGrid, geometry, path, &reason)) << reason;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1)
      << "no temporary left behind";

  std::vector<uint8_t> mask;
  GridSize size{};
  ImageGeometry read_geometry;
  ASSERT_TRUE(read_mask_nifti_file(path, &mask, &size, &read_geometry, &reason)) << reason;
  EXPECT_EQ(size, kGrid);
  EXPECT_EQ(read_geometry.voxel_size[0], 2.0f);
  EXPECT_EQ(mask, visible_rois_mask(rois, kGrid));

  ROI_OBJECT* imported = import_nifti_roi(rois, path, kGrid, &reason);
  ASSERT_NE(imported, nullptr) << reason;
  EXPECT_EQ(imported->type, ZTR_ROI_VOXELGROUP);
  EXPECT_STREQ(imported->name, "rois");
  EXPECT_EQ(rois.active_id, imported->id);
  std::vector<uint8_t> back(mask.size(), 0);
  EXPECT_EQ(expand_voxel_group(*imported->group, back, kGrid), 14);
  EXPECT_EQ(back, mask);
}

TEST(RoiNifti, ImportRefusesAnotherGridAndAnEmptyMask) {
  ztr::test::TempDir folder;
  const std::string path = folder.file("m.nii");
  std::string reason;
  std::vector<uint8_t> mask(size_t(10 * 8 * 6), 0);
  ASSERT_TRUE(write_mask_nifti_file(mask, kGrid, ImageGeometry{}, path, &reason)) << reason;
  RoiList rois;
  EXPECT_EQ(import_nifti_roi(rois, path, kGrid, &reason), nullptr);
  EXPECT_NE(reason.find("has no voxel inside"), std::string::npos) << reason;
  mask[5] = 1;
  ASSERT_TRUE(write_mask_nifti_file(mask, kGrid, ImageGeometry{}, path, &reason)) << reason;
  EXPECT_EQ(import_nifti_roi(rois, path, {10, 8, 7}, &reason), nullptr);
  EXPECT_NE(reason.find("not on the volume's 10x8x7 grid"), std::string::npos) << reason;
  EXPECT_EQ(rois.list->count, 0);
  EXPECT_EQ(rois.next_id, 0);
}

TEST(Dtiroi, ConvertsAMaskToARoiFileAndBackVoxelForVoxel) {
  ztr::test::TempDir folder;
  const std::string like = write_like_volume(folder);
  std::vector<uint8_t> mask(size_t(10 * 8 * 6), 0);
  for (int i : {0, 11, 79, 80, 233, 479}) mask[size_t(i)] = 1;
  const std::string in = folder.file("in.nii"), roi = folder.file("in.roi"),
                    out = folder.file("out.nii.gz");
  std::string reason, err;
  ASSERT_TRUE(write_mask_nifti_file(mask, kGrid, ImageGeometry{}, in, &reason)) << reason;

  ASSERT_EQ(run_dtiroi({"from-nifti", in, "--out", roi}, folder, &err), 0) << err;
  ROI_OBJECT parsed;
  GridSize drawn_on{};
  ASSERT_EQ(read_roi_file(roi, &parsed, &drawn_on, &reason), RoiFileStatus::Ok) << reason;
  EXPECT_EQ(parsed.type, ZTR_ROI_VOXELGROUP);
  EXPECT_EQ(drawn_on, kGrid);

  ASSERT_EQ(run_dtiroi({"to-nifti", roi, "--like", like, "--out", out}, folder, &err), 0) << err;
  std::vector<uint8_t> back;
  GridSize size{};
  ImageGeometry geometry;
  ASSERT_TRUE(read_mask_nifti_file(out, &back, &size, &geometry, &reason)) << reason;
  EXPECT_EQ(back, mask);
  EXPECT_EQ(geometry.voxel_size[2], 2.5f) << "the mask carries the volume's voxel size";
}

TEST(Dtiroi, BadInputGivesOneLineAndStatusTwo) {
  ztr::test::TempDir folder;
  const std::string like = write_like_volume(folder);
  write_text_file(folder.file("junk.roi"), "#This is a ROI object file of kLS-II\x01\x02");
  write_text_file(folder.file("text.roi"), "hello");
  struct Case { std::vector<std::string> args; const char* says; };
  const Case cases[] = {
      {{}, "missing command"},
      {{"to-nifti", folder.file("junk.roi"), "--out", folder.file("o.nii")}, "needs --like"},
      {{"to-nifti", folder.file("junk.roi"), "--like", like, "--out", folder.file("o.nii")},
       "truncated"},
      {{"to-nifti", folder.file("text.roi"), "--like", like, "--out", folder.file("o.nii")},
       "not a ROI object file"},
      {{"to-nifti", folder.file("missing.roi"), "--like", like, "--out", folder.file("o.nii")},
       "cannot open"},
      {{"from-nifti", folder.file("missing.nii"), "--out", folder.file("o.roi")}, "cannot load"},
      {{"convert", like, "--out", folder.file("o.roi")}, "unknown command"},
      {{"from-nifti", like, "--bogus"}, "unexpected argument"},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(run_dtiroi(c.args, folder, &err), 2) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_FALSE(std::filesystem::exists(folder.file("o.nii")));
    EXPECT_FALSE(std::filesystem::exists(folder.file("o.roi")));
  }
}
