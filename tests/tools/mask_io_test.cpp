// Region masks of the batch tools: a written mask reads back as the same voxels, and a mask
// on another grid is refused.
#include "tools/common/mask_io.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "analyzer/io/nifti_volume.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

using ztr::test::TempDir;

TEST(MaskIo, WrittenMaskReadsBackVoxelForVoxel) {
  TempDir dir("mask_io");
  VoxelMask mask;
  mask.x = 4, mask.y = 3, mask.z = 2;
  mask.inside.assign(24, 0);
  for (int i : {0, 5, 11, 23}) mask.inside[static_cast<size_t>(i)] = 1;
  ImageGeometry geometry;
  const std::string path = (dir.path() / "m.nii.gz").string();
  std::string error;
  ASSERT_TRUE(write_mask_nifti(mask, geometry, path, &error)) << error;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
      << "the temporary file was left behind";
  VoxelMask back;
  ASSERT_TRUE(read_mask_nifti(path, {4, 3, 2, 1}, &back, &error)) << error;
  EXPECT_EQ(back.inside, mask.inside);
  EXPECT_TRUE(back.at(3, 2, 1));
  EXPECT_FALSE(back.at(1, 0, 0));
}

TEST(MaskIo, RefusesAMaskOnAnotherGridOrAMissingFile) {
  TempDir dir("mask_io");
  VoxelMask mask;
  mask.x = 2, mask.y = 2, mask.z = 2;
  mask.inside.assign(8, 1);
  const std::string path = (dir.path() / "m.nii").string();
  std::string error;
  ASSERT_TRUE(write_mask_nifti(mask, ImageGeometry{}, path, &error)) << error;
  VoxelMask back;
  EXPECT_FALSE(read_mask_nifti(path, {2, 2, 3, 1}, &back, &error));
  EXPECT_NE(error.find("not on the input's 2x2x3 grid"), std::string::npos) << error;
  EXPECT_FALSE(read_mask_nifti((dir.path() / "none.nii").string(), {2, 2, 2, 1}, &back, &error));
  EXPECT_TRUE(back.inside.empty()) << "a refused mask must leave the output untouched";
}

TEST(MaskIo, AWrittenMaskSitsWhereTheInputSits) {
  TempDir dir("mask_io");
  VoxelMask mask;
  mask.x = 2, mask.y = 2, mask.z = 2;
  mask.inside.assign(8, 1);
  ImageGeometry geometry;
  geometry.voxel_size[0] = geometry.voxel_size[1] = 1.5f;
  geometry.voxel_size[2] = 2.0f;
  // x mirrored and y, z swapped (a coronal LAS-like grid), away from the origin.
  geometry.sform = {{{-1.5, 0, 0, 30}, {0, 0, 2.0, -12}, {0, 1.5, 0, 7}, {0, 0, 0, 1}}};
  geometry.qform = geometry.sform;
  geometry.sform_code = 2;
  geometry.qform_code = 1;
  const std::string path = (dir.path() / "m.nii").string();
  std::string error;
  ASSERT_TRUE(write_mask_nifti(mask, geometry, path, &error)) << error;
  ImageGeometry back;
  VolumePtr image(LoadNiftiVolumeWithGeometry(path.c_str(), &back, &error));
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(back.sform_code, 2);
  EXPECT_EQ(back.qform_code, 1);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      EXPECT_NEAR(back.sform[i][j], geometry.sform[i][j], 1e-5) << i << "," << j;
      EXPECT_NEAR(back.qform[i][j], geometry.qform[i][j], 1e-5) << i << "," << j;
    }
  }
  EXPECT_FLOAT_EQ(back.voxel_size[2], 2.0f);
}
