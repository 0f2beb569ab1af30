// The ROIs as the host sees them: cube-face shapes of masks, the display group of the visible
// ROIs, and Convert visible ROIs to a channel.
#include "analyzer/objects/roi_display.h"

#include <gtest/gtest.h>

#include <cmath>

#include "analyzer/objects/roi_commands.h"
#include "analyzer/objects/roi_region.h"
#include "tests/support/console_capture.h"

namespace {

const ZTR_OBJECT_COLOR kRed{1, 0, 0, 1};

int total_faces(const ZTR_OBJECT_GROUP& group) {
  int faces = 0;
  for (int i = 0; i < group.count; ++i) {
    faces += int(static_cast<const ZTR_TRIANGULAR_MESH*>(group.objects[size_t(i)])->triangles.size()) / 2;
  }
  return faces;
}

}  // namespace

TEST(MaskShape, OneVoxelGivesSixFacesOnItsUnitCube) {
  std::vector<uint8_t> mask(27, 0);
  mask[0] = 1;  // voxel (0, 0, 0) at the corner: the border faces need the padding
  ZTR_OBJECT_GROUP* group = mask_to_shape_group(mask, {3, 3, 3}, {0.5f, 0.5f, 0.5f}, 1.0f, kRed);
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(group->count, 1);
  EXPECT_EQ(group->types[0], ZTR_OBJECT_TYPE_TRIANGULAR_MESH);
  const auto* mesh = static_cast<const ZTR_TRIANGULAR_MESH*>(group->objects[0]);
  EXPECT_EQ(mesh->triangles.size(), 12u);
  EXPECT_EQ(mesh->vertices.size(), 24u);
  EXPECT_EQ(mesh->colors.size(), 0u);
  EXPECT_EQ(group->colors[0]->r, 1.0f);
  // Each face lies on its plane (0 or 1 on its axis) with the outward normal, in the order
  // -z, +z, -y, +y, -x, +x.
  const int axes[6] = {2, 2, 1, 1, 0, 0};
  const float planes[6] = {0, 1, 0, 1, 0, 1};
  for (int f = 0; f < 6; ++f) {
    for (int c = 0; c < 4; ++c) {
      const ZTR_OBJECT_POINT& p = mesh->vertices[size_t(4 * f + c)];
      const ZTR_OBJECT_POINT& n = mesh->normals[size_t(4 * f + c)];
      const float coord[3] = {p.x, p.y, p.z}, normal[3] = {n.x, n.y, n.z};
      EXPECT_EQ(coord[axes[f]], planes[f]) << "face " << f;
      EXPECT_EQ(normal[axes[f]], planes[f] == 0 ? -1.0f : 1.0f) << "face " << f;
      for (int a = 0; a < 3; ++a) EXPECT_TRUE(coord[a] == 0.0f || coord[a] == 1.0f);
    }
    EXPECT_EQ(mesh->triangles[size_t(2 * f)], (std::array<int32_t, 3>{4 * f, 4 * f + 1, 4 * f + 2}));
    EXPECT_EQ(mesh->triangles[size_t(2 * f + 1)], (std::array<int32_t, 3>{4 * f + 2, 4 * f + 3, 4 * f}));
  }
  ZTR_DeleteObjectGroup(group);
}

TEST(MaskShape, SolidBlockShowsOnlyItsSurfaceAndEmptyMaskGivesAnEmptyGroup) {
  // 3 x 3 x 3 block in a 5^3 grid: the centre voxel has six set neighbours and no shape; the
  // others show 54 faces between them (the 9 faces of each of the six block sides).
  std::vector<uint8_t> mask(125, 0);
  for (int z = 1; z <= 3; ++z)
    for (int y = 1; y <= 3; ++y)
      for (int x = 1; x <= 3; ++x) mask[size_t((z * 5 + y) * 5 + x)] = 1;
  ZTR_OBJECT_GROUP* group = mask_to_shape_group(mask, {5, 5, 5}, {0.5f, 0.5f, 0.5f}, 1.0f, kRed);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->count, 26);
  EXPECT_EQ(total_faces(*group), 54);
  ZTR_DeleteObjectGroup(group);
  ZTR_OBJECT_GROUP* empty = mask_to_shape_group(std::vector<uint8_t>(125, 0), {5, 5, 5},
                                                {0.5f, 0.5f, 0.5f}, 1.0f, kRed);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->count, 0);
  ZTR_DeleteObjectGroup(empty);
}

TEST(DisplayGroup, HoldsOneShapePerVisibleRoiInListOrder) {
  const GridSize grid{20, 20, 8};
  RoiList rois;
  ROI_OBJECT* sphere = new_roi_object(rois, ZTR_ROI_SPHERICAL, grid);
  sphere->view.centre = {10.4f, 10.6f, 3.5f};
  sphere->view.sphere_radius = 2.5f;
  ROI_OBJECT* hidden = new_roi_object(rois, ZTR_ROI_SPHERICAL, grid);
  hidden->visibility = 0;
  ROI_OBJECT* group_roi = new_roi_object(rois, ZTR_ROI_VOXELGROUP, grid);
  std::vector<uint8_t> mask(20 * 20 * 8, 0);
  mask[(2 * 20 + 5) * 20 + 5] = 1;
  group_roi->group = voxel_group_from_mask(mask, grid);
  ROI_OBJECT* freehand = new_roi_object(rois, ZTR_ROI_FREEHAND, grid);
  freehand->view.zoom = 4.0f;
  freehand->view.centre = {10, 10, 2};
  freehand->view.points = {{128, 128}, {132, 128}, {132, 136}};

  ZTR_OBJECT_GROUP* group = build_roi_display_group(rois, grid);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->capacity, 4);
  ASSERT_EQ(group->count, 3);
  EXPECT_EQ(group->types[0], ZTR_OBJECT_TYPE_SPHERE);
  const auto* s = static_cast<const ZTR_SPHERE_OBJECT*>(group->objects[0]);
  EXPECT_EQ(s->centre.x, 10.0f);
  EXPECT_EQ(s->centre.y, 11.0f);
  EXPECT_EQ(s->centre.z, 4.0f);
  EXPECT_EQ(s->radius, 2.5f);
  EXPECT_FLOAT_EQ(group->colors[0]->r, 0x9F00 / 65535.0f);
  EXPECT_EQ(group->types[1], ZTR_OBJECT_TYPE_GROUP);
  EXPECT_EQ(static_cast<const ZTR_OBJECT_GROUP*>(group->objects[1])->count, 1);
  EXPECT_EQ(group->types[2], ZTR_OBJECT_TYPE_POLYLINE);
  const auto* line = static_cast<const ZTR_POLYLINE_OBJECT*>(group->objects[2]);
  ASSERT_EQ(line->points.size(), 3u);
  // Pixel (132, 136) at zoom 4 around (10, 10, 2): (11, 12, 2).
  EXPECT_FLOAT_EQ(line->points[2].x, 11.0f);
  EXPECT_FLOAT_EQ(line->points[2].y, 12.0f);
  EXPECT_FLOAT_EQ(line->points[2].z, 2.0f);
  // One voxel's mesh: 4 + 24 + (9 + 12 * 12 + 24 * 24) bytes nested.
  EXPECT_EQ(ZTR_GetObjectWireSize(ZTR_OBJECT_TYPE_GROUP, group->objects[1]), 4u + 24u + 729u);
  ZTR_DeleteObjectGroup(group);
}

TEST(ConvertRois, TwoOverlappingRoisMergeIntoOneSigned16Channel) {
  const GridSize grid{12, 12, 12};
  RoiList rois;
  ROI_OBJECT* a = new_roi_object(rois, ZTR_ROI_SPHERICAL, grid);
  a->view.centre = {5, 5, 5};
  a->view.sphere_radius = 1.0f;  // 7 voxels
  ROI_OBJECT* b = new_roi_object(rois, ZTR_ROI_SPHERICAL, grid);
  b->view.centre = {6, 5, 5};
  b->view.sphere_radius = 1.0f;  // 7 voxels, two shared: (5,5,5) and (6,5,5)
  ROI_OBJECT* hidden = new_roi_object(rois, ZTR_ROI_SPHERICAL, grid);
  hidden->view.centre = {1, 1, 1};
  hidden->visibility = 0;
  const int32_t type = ZTR_TYPE_INT16;
  VolumePtr volume(ZTR_NewSingleChannelRawVolumeData(grid.data(), type, ZTR_ATTRIBUTE_PLAIN));

  std::vector<int32_t> sent_types;
  std::vector<int> sent_sums;
  auto recorder = [&](const RawVolumeData* channel, int32_t c) {
    sent_types.push_back(channel->types[c]);
    int sum = 0;
    for (int i = 0; i < 1728; ++i) sum += ZTR_ChannelData<int16_t>(channel, c)[i];
    sent_sums.push_back(sum);
    return 0;
  };
  ztr::test::ConsoleCapture capture;
  ASSERT_EQ(convert_visible_rois_to_volume(rois, volume.get(), recorder), 0);
  EXPECT_EQ(capture.finish(), "start transfer... end\n");
  EXPECT_EQ(sent_types, (std::vector<int32_t>{ZTR_TYPE_INT16}));
  EXPECT_EQ(sent_sums, (std::vector<int>{12}));
  ASSERT_EQ(volume->header->channels, 2);
  EXPECT_EQ(volume->types[1], ZTR_TYPE_INT16);
  const int16_t* local = ZTR_ChannelData<int16_t>(volume.get(), 1);
  int sum = 0;
  for (int i = 0; i < 1728; ++i) sum += local[i];
  EXPECT_EQ(sum, 12);
  EXPECT_EQ(local[(5 * 12 + 5) * 12 + 7], 1);
  EXPECT_EQ(local[(1 * 12 + 1) * 12 + 1], 0) << "hidden ROIs are not converted";
}

TEST(ConvertRois, AChannelTheHostRefusedIsNotAppendedLocally) {
  const GridSize grid{4, 4, 4};
  RoiList rois;
  new_roi_object(rois, ZTR_ROI_SPHERICAL, grid);
  VolumePtr volume(ZTR_NewSingleChannelRawVolumeData(grid.data(), ZTR_TYPE_INT16, ZTR_ATTRIBUTE_PLAIN));
  ztr::test::ConsoleCapture capture;
  EXPECT_EQ(convert_visible_rois_to_volume(rois, volume.get(),
                                           [](const RawVolumeData*, int32_t) { return -1; }),
            -1);
  EXPECT_EQ(capture.finish(), "start transfer... failed; the channel is not added\n");
  EXPECT_EQ(volume->header->channels, 1);
}

TEST(DisplayGroup, OutlineDrawnOnASphericalMapLiesOnItsSphere) {
  // Q = (20, 20, 10), a = (1, 0, 0), b = (0, 1, 0), R = 0.5 * 20 = 10: the map's centre pixel
  // shows (20, 20, 20); pixel (168, 128) at zoom 4 is direction (10, 0, 10) -> Q + R (1, 0, 1)
  // / sqrt 2. A point outside the map's disc has no place and is left out.
  RoiList rois;
  ROI_OBJECT* roi = new_roi_object(rois, ZTR_ROI_FREEHAND, {40, 40, 20});
  roi->view.orientation = ZTR_VIEW_SPHERICAL_MAP;
  roi->view.sphere_centre = {20, 20, 10};
  roi->view.axis_a = {1, 0, 0};
  roi->view.axis_b = {0, 1, 0};
  roi->view.radius_fraction = 0.5f;
  roi->view.zoom = 4.0f;
  roi->view.points = {{128, 128}, {168, 128}, {255, 255}};
  ZTR_OBJECT_GROUP* group = build_roi_display_group(rois, {40, 40, 20});
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(group->count, 1);
  const auto* line = static_cast<const ZTR_POLYLINE_OBJECT*>(group->objects[0]);
  ASSERT_EQ(line->points.size(), 2u);
  EXPECT_FLOAT_EQ(line->points[0].z, 20.0f);
  EXPECT_NEAR(line->points[1].x, 20.0f + 10.0f / std::sqrt(2.0f), 1e-4);
  EXPECT_NEAR(line->points[1].z, 10.0f + 10.0f / std::sqrt(2.0f), 1e-4);
  ZTR_DeleteObjectGroup(group);
}
