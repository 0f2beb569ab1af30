// The kind runs on the phantom: tracking from a seed sphere with target and avoidance
// regions, failures that leave the study as it was, statistics against the engine, the host's
// box, profile ranges and the dump files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "analyzer/voxel/voxel_statistics.h"
#include "tests/analyzer/studies/study_phantom_support.h"
#include "tests/support/temp_dir.h"

using namespace study_test;

namespace {

const Vec3 kArcSeed{18.0f, 27.0f, 12.0f};      // on the curved bundle
const Vec3 kColumnBelow{44.5f, 28.0f, 5.0f};   // the straight bundle below the crossing
const Vec3 kCrossing{45.0f, 27.5f, 12.0f};     // where it meets the straight bundle
const Vec3 kOutside{-60.0f, -60.0f, -60.0f};   // no voxel near

std::unique_ptr<STUDY_OBJECT> tracking_study() {
  auto study = make_study_object(ZTR_STUDY_FIBER_TRACKING);
  set_sphere(std::get<FiberTrackingStudy>(study->kind).seed, kArcSeed, 1.5f);
  return study;
}

// The node positions of each visible line: its two hairlines, vertices less the half voxel.
std::vector<std::vector<Vec3>> visible_lines(const ZTR_OBJECT_GROUP& group) {
  std::vector<std::vector<Vec3>> lines;
  for (int32_t i = 0; i + 1 < group.count; i += 2) {
    std::vector<Vec3> nodes;
    for (int32_t half = 0; half < 2; ++half) {
      EXPECT_EQ(group.types[size_t(i + half)], ZTR_OBJECT_TYPE_POLYLINE);
      const auto* line = static_cast<const ZTR_POLYLINE_OBJECT*>(group.objects[size_t(i + half)]);
      for (const ZTR_OBJECT_POINT& p : line->points) nodes.push_back({p.x - 0.5f, p.y - 0.5f, p.z - 0.5f});
    }
    lines.push_back(nodes);
  }
  return lines;
}

float closest(const std::vector<Vec3>& nodes, Vec3 c) {
  float best = 1e30f;
  for (const Vec3& n : nodes) {
    best = std::min(best, std::hypot(n[0] - c[0], n[1] - c[1], n[2] - c[2]));
  }
  return best;
}

}  // namespace

TEST(TrackingRun, SeedSphereOnTheBundleGivesLinesSummaryAndGroup) {
  auto study = tracking_study();
  const RunOutcome run = run_study(*study, sources_for(nullptr));
  ASSERT_EQ(run.status, 0) << run.console;
  const auto* result = dynamic_cast<const FiberTrackingResult*>(study->result.get());
  ASSERT_NE(result, nullptr);
  EXPECT_GT(result->line_count, 10);
  EXPECT_EQ(result->visible_count, result->line_count);  // no target, no avoidance
  ASSERT_TRUE(study->group);
  EXPECT_EQ(study->group->count, 2 * result->visible_count);
  const std::string summary = study->summary;
  EXPECT_NE(summary.find("Seed Points:   " + std::to_string(result->seed_count) + "\n"), std::string::npos);
  EXPECT_NE(summary.find("Tracked Lines:   " + std::to_string(result->line_count) + "\n"), std::string::npos);
  EXPECT_NE(run.console.find(result->status), std::string::npos);
  EXPECT_FLOAT_EQ(std::get<FiberTrackingStudy>(study->kind).angle_cosine,
                  float(std::cos(30.0 / 180.0 * 3.141592)));
}

TEST(TrackingRun, TargetKeepsOnlyLinesThroughItAndAvoidanceRemovesThem) {
  auto plain = tracking_study();
  ASSERT_EQ(run_study(*plain, sources_for(nullptr)).status, 0);
  const int32_t all = dynamic_cast<FiberTrackingResult&>(*plain->result).visible_count;

  RoiList rois;
  const uint16_t listed_below = add_sphere_roi(rois, kColumnBelow, 3.0f)->id;
  const uint16_t deleted = add_sphere_roi(rois, kCrossing, 3.0f)->id;
  delete_roi(rois, deleted);
  struct Row {
    const char* name;
    std::function<void(FiberTrackingStudy&)> regions;
    Vec3 centre;
    float radius;
    bool through;  // visible lines pass the sphere (target) or never do (avoidance)
  };
  const Row rows[] = {
      // Some lines turn into the straight bundle at the crossing and reach below it.
      {"own target", [](FiberTrackingStudy& s) { set_sphere(s.target, kColumnBelow, 3.0f); }, kColumnBelow, 3.0f, true},
      {"listed target", [&](FiberTrackingStudy& s) { set_listed(s.target, {listed_below}); }, kColumnBelow, 3.0f, true},
      // An ID that names no ROI any more takes no target bit: only the found ROI is required.
      {"listed target and a deleted one", [&](FiberTrackingStudy& s) { set_listed(s.target, {deleted, listed_below}); }, kColumnBelow, 3.0f, true},
      {"own avoidance", [](FiberTrackingStudy& s) { set_sphere(s.avoidance, kCrossing, 3.0f); }, kCrossing, 3.0f, false},
  };
  std::vector<int32_t> visible;
  for (const Row& row : rows) {
    auto study = tracking_study();
    row.regions(std::get<FiberTrackingStudy>(study->kind));
    const RunOutcome run = run_study(*study, sources_for(&rois));
    ASSERT_EQ(run.status, 0) << row.name << run.console;
    const auto& result = dynamic_cast<FiberTrackingResult&>(*study->result);
    EXPECT_EQ(result.line_count, all) << row.name;  // the same lines, selected differently
    EXPECT_GT(result.visible_count, 0) << row.name;
    EXPECT_LT(result.visible_count, all) << row.name;
    for (const auto& line : visible_lines(*study->group)) {
      if (row.through) {
        EXPECT_LE(closest(line, row.centre), row.radius + 1e-3f) << row.name;
      } else {
        EXPECT_GT(closest(line, row.centre), row.radius - 1e-3f) << row.name;
      }
    }
    visible.push_back(result.visible_count);
  }
  EXPECT_EQ(visible[0], visible[1]) << "a listed sphere selects as the region's own sphere does";
  EXPECT_EQ(visible[1], visible[2]) << "a deleted listed target requires nothing";
}

// Each failure leaves summary, status, result and group as the last good run left them.
TEST(StudyRun, FailuresLeaveTheStudyAsItWas) {
  RoiList rois;
  const uint16_t gone = add_sphere_roi(rois, kArcSeed, 1.5f)->id;
  delete_roi(rois, gone);
  struct Row {
    const char* name;
    int32_t type;
    std::function<void(STUDY_OBJECT&, StudyRunSources&)> break_it;
    const char* reason;
  };
  const Row rows[] = {
      {"no DTI data", ZTR_STUDY_FIBER_TRACKING, [](STUDY_OBJECT&, StudyRunSources& s) { s.dti = nullptr; },
       "DTI data NOT ready"},
      {"seed sphere outside the volume", ZTR_STUDY_FIBER_TRACKING,
       [](STUDY_OBJECT& st, StudyRunSources&) { set_sphere(std::get<FiberTrackingStudy>(st.kind).seed, kOutside, 2.0f); },
       "No seed points"},
      {"every listed seed ROI deleted", ZTR_STUDY_FIBER_TRACKING,
       [&](STUDY_OBJECT& st, StudyRunSources&) { set_listed(std::get<FiberTrackingStudy>(st.kind).seed, {gone}); },
       "no ROI listed in the seed region exists"},
      {"outline never drawn", ZTR_STUDY_FIBER_TRACKING,
       [](STUDY_OBJECT& st, StudyRunSources&) { std::get<FiberTrackingStudy>(st.kind).seed.selector = ZTR_REGION_FREEHAND; },
       "no outline drawn"},
      {"target lists nothing", ZTR_STUDY_FIBER_TRACKING,
       [](STUDY_OBJECT& st, StudyRunSources&) { set_listed(std::get<FiberTrackingStudy>(st.kind).target, {}); },
       "lists no ROI"},
      {"statistics of a deleted ROI", ZTR_STUDY_VOXEL_STATISTICS,
       [&](STUDY_OBJECT& st, StudyRunSources&) { set_listed(std::get<VoxelStatisticsStudy>(st.kind).region, {gone}); },
       "region exists"},
      {"statistics of a box outside", ZTR_STUDY_VOXEL_STATISTICS,
       [](STUDY_OBJECT&, StudyRunSources& s) { s.box_origin = {-20, -20, -20}; },
       "holds no voxel"},
      {"profile of an empty box", ZTR_STUDY_DIFFUSION_PROFILE,
       [](STUDY_OBJECT&, StudyRunSources& s) { s.box_size = {0, 0, 0}; },
       "No sample points"},
  };
  for (const Row& row : rows) {
    auto study = make_study_object(row.type);
    StudyRunSources sources = sources_for(&rois);
    sources.box_origin = {40, 24, 4};
    sources.box_size = {6, 6, 3};
    if (auto* ft = std::get_if<FiberTrackingStudy>(&study->kind)) set_sphere(ft->seed, kArcSeed, 1.5f);
    ASSERT_EQ(run_study(*study, sources).status, 0) << row.name;
    study->status = ZTR_STUDY_ANALYSED;
    const std::string summary = study->summary;
    const StudyResult* result = study->result.get();
    const ZTR_OBJECT_GROUP* group = study->group.get();
    const int32_t group_count = group->count;
    const std::optional<ZTR_FLOAT_BOX> box = study_regions(*study).front()->box;

    row.break_it(*study, sources);
    const RunOutcome run = run_study(*study, sources);
    EXPECT_EQ(run.status, -1) << row.name;
    EXPECT_NE(run.console.find(row.reason), std::string::npos) << row.name << ": " << run.console;
    EXPECT_NE(run.console.find("No result obtained\n"), std::string::npos) << row.name;
    EXPECT_EQ(study->summary, summary) << row.name;
    EXPECT_EQ(study->status, ZTR_STUDY_ANALYSED) << row.name;
    EXPECT_EQ(study->result.get(), result) << row.name;
    EXPECT_EQ(study->group.get(), group) << row.name;
    EXPECT_EQ(study->group->count, group_count) << row.name;
    if (box) {
      ASSERT_TRUE(study_regions(*study).front()->box) << row.name;
      EXPECT_EQ(study_regions(*study).front()->box->origin[0], box->origin[0]) << row.name;
    }
  }
}

TEST(StatisticsRun, ListedVoxelgroupGivesTheEngineNumbersAndItsShape) {
  RoiList rois;
  const std::vector<uint8_t> column = label_mask(4);
  const uint16_t id = add_voxelgroup_roi(rois, column)->id;
  auto study = make_study_object(ZTR_STUDY_VOXEL_STATISTICS);
  set_listed(std::get<VoxelStatisticsStudy>(study->kind).region, {id});
  StudyRunSources sources = sources_for(&rois);
  sources.colours.statistics = {65535, 0, 32768};
  ASSERT_EQ(run_study(*study, sources).status, 0);

  const PhantomData& p = phantom();
  VolumePtr mask(ZTR_NewSingleChannelRawVolumeData(p.size.data(), ZTR_TYPE_UINT8, ZTR_ATTRIBUTE_PLAIN));
  std::copy(column.begin(), column.end(), ZTR_ChannelData<uint8_t>(mask.get(), 0));
  ROI_DTI_STATISTICS direct;
  ASSERT_EQ(compute_region_statistics(p.dti.get(), mask.get(), &direct), 0);

  const auto& result = dynamic_cast<VoxelStatisticsResult&>(*study->result);
  EXPECT_EQ(result.mask, column);
  EXPECT_EQ(result.statistics.voxels, direct.voxels);
  EXPECT_EQ(result.statistics.valid_voxels, direct.valid_voxels);
  for (int k = 0; k < ZTR_STATISTICS_PARAMETERS; ++k) {
    EXPECT_EQ(result.statistics.parameters[k].mean, direct.parameters[k].mean) << k;
    EXPECT_EQ(result.statistics.parameters[k].std, direct.parameters[k].std) << k;
  }
  EXPECT_EQ(std::string(study->summary), statistics_summary_text(direct, -1.0, nullptr));
  EXPECT_NE(std::string(study->summary).find("(Extra parameters by RTNN is unavailable)"), std::string::npos);
  // One nested shape at half the panel colour.
  ASSERT_EQ(study->group->count, 1);
  EXPECT_EQ(study->group->types[0], ZTR_OBJECT_TYPE_GROUP);
  const ZTR_OBJECT_COLOR c = *study->group->colors[0];
  EXPECT_FLOAT_EQ(c.r, 0.5f);
  EXPECT_FLOAT_EQ(c.g, 0.0f);
  EXPECT_NEAR(c.b, 0.25f, 1e-4f);
  EXPECT_GT(static_cast<const ZTR_OBJECT_GROUP*>(study->group->objects[0])->count, 0);
}

TEST(StatisticsRun, TwoListedVoxelgroupsGiveTheirDistanceInMillimetres) {
  const GridSize& n = phantom().size;
  auto cube = [&](int x0) {
    std::vector<uint8_t> m(size_t(n[0]) * n[1] * n[2], 0);
    for (int z = 10; z < 13; ++z)
      for (int y = 30; y < 33; ++y)
        for (int x = x0; x < x0 + 3; ++x) m[(size_t(z) * n[1] + y) * n[0] + x] = 1;
    return m;
  };
  RoiList rois;
  const uint16_t a = add_voxelgroup_roi(rois, cube(10))->id;  // x 10 .. 12
  const uint16_t b = add_voxelgroup_roi(rois, cube(16))->id;  // x 16 .. 18: 4 voxels apart
  const uint16_t sphere = add_sphere_roi(rois, {30, 30, 12}, 2.0f)->id;
  struct Row {
    std::vector<uint16_t> ids;
    const char* distance;  // nullptr: no distance line
  };
  const Row rows[] = {{{a, b}, "Distance between 2 voxelgroups: 6.000(mm)\n"},
                      {{a}, nullptr},
                      {{a, sphere}, nullptr}};
  DiffusionTensorImageData* dti = phantom().dti.get();
  const float saved = dti->voxel_size;
  dti->voxel_size = 1.5f;
  for (const Row& row : rows) {
    auto study = make_study_object(ZTR_STUDY_VOXEL_STATISTICS);
    set_listed(std::get<VoxelStatisticsStudy>(study->kind).region, row.ids);
    ASSERT_EQ(run_study(*study, sources_for(&rois)).status, 0);
    const std::string summary = study->summary;
    if (row.distance) {
      EXPECT_NE(summary.find(row.distance), std::string::npos) << summary;
    } else {
      EXPECT_EQ(summary.find("Distance"), std::string::npos) << summary;
    }
  }
  dti->voxel_size = saved;
}

TEST(BoxRegion, StatisticsAndProfileTakeTheHostsBox) {
  StudyRunSources sources = sources_for(nullptr);
  sources.box_origin = {20, 22, 10};
  sources.box_size = {4, 5, 2};
  auto statistics = make_study_object(ZTR_STUDY_VOXEL_STATISTICS);
  ASSERT_EQ(run_study(*statistics, sources).status, 0);
  EXPECT_EQ(dynamic_cast<VoxelStatisticsResult&>(*statistics->result).statistics.voxels, 4 * 5 * 2);
  EXPECT_EQ(statistics->group->count, 0);  // the host shows its box itself

  auto profile = make_study_object(ZTR_STUDY_DIFFUSION_PROFILE);
  std::get<DiffusionProfileStudy>(profile->kind).setting.density = ZTR_PROFILE_DENSITY_ON_VOXEL;
  ASSERT_EQ(run_study(*profile, sources).status, 0);
  const auto& points = dynamic_cast<DiffusionProfileResult&>(*profile->result).points;
  EXPECT_EQ(points.size(), size_t(3 * 4 * 5 * 2));
  for (size_t i = 0; i < points.size(); i += 3) {
    for (int a = 0; a < 3; ++a) {
      EXPECT_GE(points[i + a], float(sources.box_origin[a]));
      EXPECT_LT(points[i + a], float(sources.box_origin[a] + sources.box_size[a]));
    }
  }
  for (STUDY_OBJECT* s : {statistics.get(), profile.get()}) {
    const auto& box = study_regions(*s).front()->box;
    ASSERT_TRUE(box);
    EXPECT_EQ(box->origin[1], 22.0f);
    EXPECT_EQ(box->size[0], 4.0f);
  }
}

TEST(ProfileRun, EllipsoidsOnlyWhereTheShowIfRangesHold) {
  auto study = make_study_object(ZTR_STUDY_DIFFUSION_PROFILE);
  auto& dp = std::get<DiffusionProfileStudy>(study->kind);
  set_sphere(dp.region, {45.0f, 27.5f, 5.0f}, 6.0f);  // the straight bundle and tissue beside it
  dp.setting.density = ZTR_PROFILE_DENSITY_ON_VOXEL;
  dp.setting.fa_low = 0.5f;
  dp.setting.fa_high = 1.0f;
  dp.setting.so_high = 5000.0f;  // the phantom's b=0 level is 2000
  ASSERT_EQ(run_study(*study, sources_for(nullptr)).status, 0);
  const auto& result = dynamic_cast<DiffusionProfileResult&>(*study->result);
  const int32_t points = int32_t(result.points.size() / 3);
  EXPECT_GT(result.drawn, 0);
  EXPECT_LT(result.drawn, points);  // the tissue's low FA is left out
  EXPECT_EQ(dp.setting.point_count, points);
  EXPECT_EQ(dp.setting.point_table, nullptr);
  ASSERT_EQ(study->group->count, result.drawn);
  TensorPtr tensor(ZTRdti_NewTensor(phantom().dti->dti_channels, phantom().dti->b0_channels));
  for (int32_t i = 0; i < study->group->count; ++i) {
    ASSERT_EQ(study->group->types[size_t(i)], ZTR_OBJECT_TYPE_ELLIPSOID);
    const auto* e = static_cast<const ZTR_ELLIPSOID_OBJECT*>(study->group->objects[size_t(i)]);
    const int x = int(e->points[0].x - 0.5f), y = int(e->points[0].y - 0.5f), z = int(e->points[0].z - 0.5f);
    ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(phantom().dti.get(), tensor.get(), x, y, z), 1);
    const float fa = ZTRdti_GetFA(tensor.get());
    EXPECT_GE(fa, 0.5f);
    EXPECT_LE(fa, 1.0f);
  }
  EXPECT_EQ(std::string(study->summary).rfind("Symbols: " + std::to_string(result.drawn) + "/" +
                                                  std::to_string(points), 0),
            0u);
}

TEST(DumpRun, AskedNameIsWrittenCancelledIsNot) {
  ztr::test::TempDir dir("ztr_study_dump");
  struct Row {
    int32_t type;
    bool dump;
    bool answer;   // the dialog gives a name (else it is cancelled)
    const char* proposed;
    const char* first_line;  // of the written file; nullptr: nothing written
  };
  const Row rows[] = {
      {ZTR_STUDY_FIBER_TRACKING, true, true, "fibetrak_dump.txt",
       "=========================<This is a dump file of fiber tracking result in kLS-II."},
      {ZTR_STUDY_FIBER_TRACKING, true, false, "fibetrak_dump.txt", nullptr},
      {ZTR_STUDY_FIBER_TRACKING, false, true, nullptr, nullptr},
      {ZTR_STUDY_VOXEL_STATISTICS, true, true, "ADCprofile.txt", "32"},
  };
  int index = 0;
  for (const Row& row : rows) {
    const std::string path = dir / ("dump" + std::to_string(index++) + ".txt");
    auto study = make_study_object(row.type);
    if (auto* ft = std::get_if<FiberTrackingStudy>(&study->kind)) set_sphere(ft->seed, kArcSeed, 1.5f);
    StudyRunSources sources = sources_for(nullptr);
    sources.box_origin = {30, 30, 10};
    sources.box_size = {4, 4, 2};
    std::vector<std::string> asked;
    sources.dump_path = [&](const char* initial) {
      asked.emplace_back(initial);
      return row.answer ? path : std::string();
    };
    StudyRunContext context;
    context.dump = row.dump;
    ASSERT_EQ(run_study(*study, sources, context).status, 0);
    EXPECT_EQ(asked, row.proposed ? std::vector<std::string>{row.proposed} : std::vector<std::string>{});
    std::ifstream in(path);
    ASSERT_EQ(in.good(), row.first_line != nullptr) << path;
    if (row.first_line) {
      std::string first;
      std::getline(in, first);
      EXPECT_EQ(first.rfind(row.first_line, 0), 0u) << first;
    }
  }
}
