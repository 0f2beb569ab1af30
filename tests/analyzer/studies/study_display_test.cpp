// The active study's display group (slots counted first, so hundreds of listed ROIs fit) and
// the voxelization of the visible tracking studies' lines.
#include <gtest/gtest.h>

#include "analyzer/objects/roi_display.h"
#include "analyzer/studies/study_display.h"
#include "tests/analyzer/studies/study_phantom_support.h"

using namespace study_test;

namespace {

struct Slot {
  int32_t type;
  ZTR_OBJECT_COLOR colour;
};
std::vector<Slot> slots_of(const ZTR_OBJECT_GROUP& group) {
  std::vector<Slot> out;
  for (int32_t i = 0; i < group.count; ++i) out.push_back({group.types[size_t(i)], *group.colors[size_t(i)]});
  return out;
}

}  // namespace

TEST(StudyDisplayGroup, OneSlotPerShapeInTheRegionsColours) {
  RoiList rois;
  std::vector<uint16_t> many;  // 128 spheres: three full lists are 384 slots
  for (int i = 0; i < ZTR_STUDY_MAX_LISTED; ++i) {
    ROI_OBJECT* roi = add_sphere_roi(rois, {float(10 + i % 40), 30.0f, 12.0f}, 1.0f);
    roi->visibility = i % 2;  // hidden ROIs a study lists are shown too
    many.push_back(roi->id);
  }
  const uint16_t group_roi = add_voxelgroup_roi(rois, label_mask(4))->id;
  const uint16_t gone = add_sphere_roi(rois, {5, 5, 5}, 1.0f)->id;
  delete_roi(rois, gone);
  const ZTR_OBJECT_COLOR first_roi = roi_display_colour(*find_roi(rois, many[0]));
  StudyRegionColours colours;
  const ZTR_OBJECT_COLOR seed = study_display_colour(colours.seed);
  const ZTR_OBJECT_COLOR statistics = study_display_colour(colours.statistics);

  struct Row {
    const char* name;
    int32_t type;
    std::function<void(STUDY_OBJECT&)> regions;
    int32_t count;
    std::vector<Slot> first;  // the first slots expected
  };
  const Row rows[] = {
      {"default tracking study: its seed sphere", ZTR_STUDY_FIBER_TRACKING, [](STUDY_OBJECT&) {}, 1,
       {{ZTR_OBJECT_TYPE_SPHERE, seed}}},
      {"listed seeds, a deleted ID skipped, then the own target", ZTR_STUDY_FIBER_TRACKING,
       [&](STUDY_OBJECT& s) {
         auto& ft = std::get<FiberTrackingStudy>(s.kind);
         set_listed(ft.seed, {gone, many[0], many[1]});
         set_sphere(ft.target, {20, 20, 10}, 2.0f);
       },
       3, {{ZTR_OBJECT_TYPE_SPHERE, first_roi}, {ZTR_OBJECT_TYPE_SPHERE, roi_display_colour(*find_roi(rois, many[1]))},
           {ZTR_OBJECT_TYPE_SPHERE, study_display_colour(colours.target)}}},
      {"three full lists", ZTR_STUDY_FIBER_TRACKING,
       [&](STUDY_OBJECT& s) {
         auto& ft = std::get<FiberTrackingStudy>(s.kind);
         for (StudyRegion* r : {&ft.seed, &ft.target, &ft.avoidance}) set_listed(*r, many);
       },
       3 * ZTR_STUDY_MAX_LISTED, {{ZTR_OBJECT_TYPE_SPHERE, first_roi}}},
      {"an outline never drawn takes no slot", ZTR_STUDY_FIBER_TRACKING,
       [](STUDY_OBJECT& s) { std::get<FiberTrackingStudy>(s.kind).seed.selector = ZTR_REGION_FREEHAND; }, 0, {}},
      {"profile of the host's box", ZTR_STUDY_DIFFUSION_PROFILE, [](STUDY_OBJECT&) {}, 0, {}},
      {"profile of a listed voxelgroup", ZTR_STUDY_DIFFUSION_PROFILE,
       [&](STUDY_OBJECT& s) { set_listed(std::get<DiffusionProfileStudy>(s.kind).region, {group_roi}); }, 1,
       {{ZTR_OBJECT_TYPE_GROUP, roi_display_colour(*find_roi(rois, group_roi))}}},
      {"statistics of the host's box", ZTR_STUDY_VOXEL_STATISTICS, [](STUDY_OBJECT&) {}, 0, {}},
      {"statistics of a sphere", ZTR_STUDY_VOXEL_STATISTICS,
       [](STUDY_OBJECT& s) { set_sphere(std::get<VoxelStatisticsStudy>(s.kind).region, {30, 30, 12}, 2.0f); }, 1,
       {{ZTR_OBJECT_TYPE_GROUP, statistics}}},
  };
  for (const Row& row : rows) {
    auto study = make_study_object(row.type);
    if (auto* ft = std::get_if<FiberTrackingStudy>(&study->kind)) set_sphere(ft->seed, {20, 30, 12}, 2.0f);
    row.regions(*study);
    GroupPtr group = build_study_display_group(*study, rois, phantom().size, colours);
    ASSERT_TRUE(group) << row.name;
    EXPECT_EQ(group->count, row.count) << row.name;
    const std::vector<Slot> slots = slots_of(*group);
    for (size_t i = 0; i < row.first.size() && i < slots.size(); ++i) {
      EXPECT_EQ(slots[i].type, row.first[i].type) << row.name << " slot " << i;
      EXPECT_EQ(slots[i].colour.r, row.first[i].colour.r) << row.name << " slot " << i;
      EXPECT_EQ(slots[i].colour.g, row.first[i].colour.g) << row.name << " slot " << i;
      EXPECT_EQ(slots[i].colour.b, row.first[i].colour.b) << row.name << " slot " << i;
    }
  }
}

TEST(VoxelizeTracklines, OnlyVisibleTrackingStudiesWithLines) {
  StudyList list;
  for (int32_t type : {ZTR_STUDY_FIBER_TRACKING, ZTR_STUDY_FIBER_TRACKING, ZTR_STUDY_VOXEL_STATISTICS}) {
    list.studies.push_back(make_study_object(type));
  }
  STUDY_OBJECT& tracked = *list.studies[0];
  set_sphere(std::get<FiberTrackingStudy>(tracked.kind).seed, {18.0f, 27.0f, 12.0f}, 1.5f);
  StudyRunSources sources = sources_for(nullptr);
  sources.box_size = {4, 4, 4};
  ASSERT_EQ(run_study(tracked, sources).status, 0);
  ASSERT_EQ(run_study(*list.studies[2], sources).status, 0);  // has a group, but is no tracking
  const GridSize& size = phantom().size;

  struct Row {
    const char* name;
    int32_t visibility;
    bool voxelized;
  };
  const Row rows[] = {{"tracked study visible", 1, true}, {"tracked study hidden", 0, false}};
  for (const Row& row : rows) {
    tracked.visibility = row.visibility;
    EXPECT_EQ(visible_trackline_groups(list).size(), row.voxelized ? 1u : 0u) << row.name;
    RoiList rois;
    ztr::test::ConsoleCapture capture;
    VolumePtr grey = voxelize_visible_tracklines(list, TracklineVoxelization::Grey, size);
    VolumePtr colour = voxelize_visible_tracklines(list, TracklineVoxelization::Colour, size);
    ROI_OBJECT* roi = voxelize_visible_tracklines_to_roi(list, rois, size);
    const std::string console = capture.finish();
    EXPECT_EQ(grey != nullptr, row.voxelized) << row.name;
    EXPECT_EQ(colour != nullptr, row.voxelized) << row.name;
    EXPECT_EQ(roi != nullptr, row.voxelized) << row.name;
    EXPECT_EQ(roi_items(rois).size(), row.voxelized ? 1u : 0u) << row.name;
    if (!row.voxelized) {
      EXPECT_NE(console.find("No visible fiber tracking study to voxelize\n"), std::string::npos) << console;
      continue;
    }
    EXPECT_EQ(grey->header->x, size[0]);
    EXPECT_EQ(grey->types[0], ZTR_TYPE_INT16);
    EXPECT_EQ(colour->attributes[0], ZTR_ATTRIBUTE_RGBA);
    EXPECT_STREQ(roi->name, ZTR_VOXELIZED_TRACKLINES_ROI_NAME);
    EXPECT_EQ(roi->type, ZTR_ROI_VOXELGROUP);
    // The ROI holds every voxel a hairline vertex lies in.
    std::vector<uint8_t> mask(size_t(size[0]) * size[1] * size[2], 0);
    ASSERT_GT(expand_voxel_group(*roi->group, mask, size), 0);
    const auto* first = static_cast<const ZTR_POLYLINE_OBJECT*>(tracked.group->objects[0]);
    for (const ZTR_OBJECT_POINT& p : first->points) {
      EXPECT_EQ(mask[(size_t(p.z) * size[1] + size_t(p.y)) * size[0] + size_t(p.x)], 1);
    }
  }
}
