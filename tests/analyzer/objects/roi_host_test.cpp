// The ROIs against the real host stand-in: the display group of the visible ROIs reaches the
// host's 3-D view, and Convert visible ROIs appends the same channel on both sides.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "analyzer/objects/roi_display.h"
#include "sdk/ipc/ipc_client.h"
#include "tests/support/temp_dir.h"
#include "tests/analyzer/app/app_fixtures.h"
#include "tests/analyzer/app/host_process.h"
#include "tests/support/console_capture.h"

namespace {

class RoiHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.path().empty());
    volume = make_volume(16, 16, 8, 1);
    const std::string input = folder.file("input.raw");
    ASSERT_TRUE(write_raw_file(input, volume.get()));
    output = folder.file("out");
    host = std::make_unique<HostProcess>(ZTR_HOST_PROGRAM, input, output,
                                         folder.file("host.log"));
    ASSERT_TRUE(host->ready()) << read_whole_file(folder.file("host.log.err"));
    ASSERT_EQ(ZTRipc_InitializeClient("heLiXIA", host->client()), 0);
  }
  void TearDown() override {
    ZTRipc_CloseClient();
    host.reset();
  }

  ztr::test::TempDir folder;
  VolumePtr volume;
  std::string output;
  std::unique_ptr<HostProcess> host;
};

}  // namespace

TEST_F(RoiHostTest, VisibleRoisReachTheHostAsOneGroupAndOneChannel) {
  const GridSize grid{16, 16, 8};
  RoiList rois;
  ROI_OBJECT* sphere = new_roi_object(rois, ZTR_ROI_SPHERICAL, grid);
  sphere->view.centre = {4, 4, 4};
  sphere->view.sphere_radius = 1.0f;
  ROI_OBJECT* cube = new_roi_object(rois, ZTR_ROI_VOXELGROUP, grid);
  std::vector<uint8_t> mask(16 * 16 * 8, 0);
  mask[(5 * 16 + 10) * 16 + 10] = 1;
  cube->group = voxel_group_from_mask(mask, grid);
  new_roi_object(rois, ZTR_ROI_SPHERICAL, grid)->visibility = 0;

  ZTR_OBJECT_GROUP* empty = ZTR_NewObjectGroup(8);
  int32_t id = -1;
  ASSERT_EQ(ZTRipc_TransferObjectGroup(empty, &id), 0);
  ZTR_DeleteObjectGroup(empty);
  ZTR_OBJECT_GROUP* group = build_roi_display_group(rois, grid);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(ZTRipc_UpdateObjectGroup(group, id), 0);
  ZTR_DeleteObjectGroup(group);

  ztr::test::ConsoleCapture capture;
  ASSERT_EQ(convert_visible_rois_to_volume(rois, volume.get(), ZTRipc_AppendSingleChannel), 0);
  EXPECT_EQ(capture.finish(), "start transfer... end\n");
  EXPECT_EQ(volume->header->channels, 2);

  ASSERT_TRUE(host->quit());
  const std::string summary = read_whole_file(output + "/summary.json");
  EXPECT_NE(summary.find("\"channels\": 2, \"types\": [3, 3]"), std::string::npos) << summary;
  EXPECT_NE(summary.find("\"count\": 2"), std::string::npos) << summary;
  EXPECT_NE(summary.find("\"11\": 1"), std::string::npos) << summary;
  EXPECT_NE(summary.find("\"99\": 1"), std::string::npos) << summary;
  char file[32];
  std::snprintf(file, sizeof file, "/group_%04d.vtk", id);
  EXPECT_TRUE(std::filesystem::exists(output + file)) << file;
}
