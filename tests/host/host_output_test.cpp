// The host's outputs: tessellated object groups in VTK form, the JSON summary, input files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "analyzer/io/atomic_file.h"
#include "analyzer/io/nifti_volume.h"
#include "analyzer/io/raw_volume_file.h"
#include "host/host_output.h"
#include "host/volume_input.h"
#include "host/vtk_output.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace ztr::host;
namespace fs = std::filesystem;

GroupPtr new_group(int32_t capacity) { return GroupPtr(ZTR_NewObjectGroup(capacity)); }

TEST(VtkOutput, SphereBecomesAClosedSurfaceAroundItsCentre) {
  GroupPtr g = new_group(1);
  ZTR_AppendObject(g.get(), ZTR_NewSphereObject({10, 20, 30}, 2.0f), nullptr);
  const PolyData d = build_polydata(*g);
  // Two poles and (rings - 1) rings of segments points; faces: two fans and the quad bands.
  EXPECT_EQ(d.points.size(), size_t(2 + (kSphereRings - 1) * kSphereSegments));
  EXPECT_EQ(d.polygons.size(), size_t(2 * kSphereSegments + (kSphereRings - 2) * kSphereSegments));
  for (const auto& p : d.points) {
    const float r = std::sqrt((p[0] - 10) * (p[0] - 10) + (p[1] - 20) * (p[1] - 20) + (p[2] - 30) * (p[2] - 30));
    EXPECT_NEAR(r, 2.0f, 1e-4f);
  }
  for (const auto& face : d.polygons) {
    for (int64_t id : face) EXPECT_LT(size_t(id), d.points.size());
  }
  // No colour table: white.
  EXPECT_EQ(d.colors[0], (std::array<float, 4>{1, 1, 1, 1}));
}

TEST(VtkOutput, TubeRingsHaveThePointRadius) {
  GroupPtr g = new_group(1);
  ZTR_TUBE_OBJECT* tube = ZTR_NewTubeObject(2, false);
  tube->points = {{0, 0, 0}, {0, 0, 10}};
  tube->radii = {1.0f, 3.0f};
  ZTR_AppendObject(g.get(), tube, nullptr);
  const PolyData d = build_polydata(*g);
  ASSERT_EQ(d.points.size(), size_t(2 * kTubeSides));
  EXPECT_EQ(d.polygons.size(), size_t(kTubeSides));
  for (size_t i = 0; i < d.points.size(); ++i) {
    const auto& p = d.points[i];
    EXPECT_NEAR(std::hypot(p[0], p[1]), i < size_t(kTubeSides) ? 1.0f : 3.0f, 1e-4f);
  }
}

TEST(VtkOutput, MeshKeepsVertexColoursAndSkipsTrianglesOutsideItsVertices) {
  GroupPtr g = new_group(1);
  ZTR_TRIANGULAR_MESH* mesh = ZTR_NewTriangularMesh(2, 3, true);
  mesh->vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh->triangles = {{0, 1, 2}, {0, 1, 7}};
  mesh->colors = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 0.5f}};
  const ZTR_OBJECT_COLOR slot{0.2f, 0.2f, 0.2f, 1};
  ZTR_AppendObject(g.get(), mesh, &slot, 0);
  const PolyData d = build_polydata(*g);
  ASSERT_EQ(d.polygons.size(), 1u);
  EXPECT_EQ(d.polygon_flags[0], 0);
  EXPECT_EQ(d.colors[2], (std::array<float, 4>{0, 0, 1, 0.5f}));
  const std::string text = format_vtk(d, "mesh");
  EXPECT_EQ(text.rfind("# vtk DataFile Version 3.0\nmesh\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n", 0), 0u);
  EXPECT_NE(text.find("POLYGONS 1 4\n3 0 1 2\nCELL_DATA 1\nSCALARS display_flag int 1\nLOOKUP_TABLE default\n0\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("POINT_DATA 3\nCOLOR_SCALARS colors 4\n1 0 0 1\n0 1 0 1\n0 0 1 0.5\n"), std::string::npos) << text;
}

TEST(VtkOutput, ColoursOutsideTheUnitRangeAreClampedInTheFile) {
  GroupPtr g = new_group(1);
  const ZTR_OBJECT_COLOR loud{2.0f, -1.0f, 0.5f, 1.0f};
  ZTR_AppendObject(g.get(), ZTR_NewSegmentObject({0, 0, 0}, {1, 1, 1}, 1.0f), &loud);
  const std::string text = format_vtk(build_polydata(*g), "segment");
  EXPECT_NE(text.find("LINES 1 3\n2 0 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("COLOR_SCALARS colors 4\n1 0 0.5 1\n1 0 0.5 1\n"), std::string::npos) << text;
}

TEST(VtkOutput, EmptyGroupIsAValidEmptyDataset) {
  GroupPtr g = new_group(0);
  EXPECT_EQ(format_vtk(build_polydata(*g), "empty"),
            "# vtk DataFile Version 3.0\nempty\nASCII\nDATASET POLYDATA\nPOINTS 0 float\n");
}

TEST(VtkOutput, NestedGroupsAreCountedAndDrawn) {
  GroupPtr g = new_group(2);
  ZTR_OBJECT_GROUP* inner = ZTR_NewObjectGroup(2);
  ZTR_SEGMENTS_OBJECT* s = ZTR_NewSegmentsObject(2);
  s->starts = {{0, 0, 0}, {1, 0, 0}};
  s->ends = {{0, 1, 0}, {1, 1, 0}};
  ZTR_AppendObject(inner, s, nullptr);
  ZTR_AppendObject(inner, ZTR_NewSphereObject({0, 0, 0}, 1), nullptr);
  ZTR_AppendObject(g.get(), inner, nullptr);
  ZTR_AppendObject(g.get(), ZTR_NewSphereObject({5, 0, 0}, 1), nullptr);
  const auto counts = count_object_types(*g);
  EXPECT_EQ(counts, (std::map<int32_t, int>{{11, 2}, {31, 1}, {99, 1}}));
  const PolyData d = build_polydata(*g);
  EXPECT_EQ(d.lines.size(), 2u);
  EXPECT_EQ(d.polygons.size(), size_t(2 * (2 * kSphereSegments + (kSphereRings - 2) * kSphereSegments)));
}

TEST(HostSummary, ListsRequestsSettingsAndGroupsAsJson) {
  HostState state;
  const int32_t dims[3] = {4, 3, 2};
  state.volume.reset(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_FLOAT32, 0));
  state.answered = {{322, 2}, {511, 1}};
  state.voxel_size = 0.5f;
  state.voxel_size_requests = {2.0f, 0.5f};
  state.refusals = {"bad \"board\""};
  state.groups[3] = new_group(1);
  ZTR_AppendObject(state.groups[3].get(), ZTR_NewSphereObject({0, 0, 0}, 1), nullptr);
  SessionInfo info;
  info.client_number = 12;
  info.program = "plug";
  info.plugin_exit = "exit 0";
  const std::string s = format_summary(state, info);
  EXPECT_NE(s.find("\"client_number\": 12,"), std::string::npos) << s;
  EXPECT_NE(s.find("\"requests\": {\"322\": 2, \"511\": 1},"), std::string::npos) << s;
  EXPECT_NE(s.find("\"refused\": [\"bad \\\"board\\\"\"],"), std::string::npos) << s;
  EXPECT_NE(s.find("\"volume\": {\"x\": 4, \"y\": 3, \"z\": 2, \"channels\": 1, \"types\": [6], \"attributes\": [0]},"),
            std::string::npos)
      << s;
  EXPECT_NE(s.find("\"voxel_size_requests\": [2, 0.5],"), std::string::npos) << s;
  EXPECT_NE(s.find("{\"id\": 3, \"count\": 1, \"file\": \"group_0003.vtk\", \"types\": {\"11\": 1}}"),
            std::string::npos)
      << s;
  EXPECT_EQ(s.back(), '\n');
}

class HostFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = std::make_unique<ztr::test::TempDir>(
        "host_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    dir_ = temp_->path();
    ASSERT_FALSE(dir_.empty());
  }
  std::unique_ptr<ztr::test::TempDir> temp_;
  fs::path dir_;
};

TEST_F(HostFiles, OutputsHoldTheVolumeTheSummaryAndOneFilePerGroup) {
  HostState state;
  state.volume = make_default_volume();
  state.groups[1] = new_group(0);
  state.groups[4] = new_group(0);
  std::string error;
  ASSERT_EQ(write_outputs((dir_ / "out").string(), state, SessionInfo{}, &error), 0) << error;
  for (const char* name : {"volume.raw", "volume.nii.gz", "summary.json", "group_0001.vtk", "group_0004.vtk"}) {
    EXPECT_TRUE(fs::exists(dir_ / "out" / name)) << name;
  }
  float voxel_size = 0;
  VolumePtr back = load_host_volume((dir_ / "out" / "volume.nii.gz").string(), &voxel_size, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(ZTR_Voxel<int16_t>(back.get(), 0, 3, 2, 1), 3 + 4 + 3);  // i + 2j + 3k
  VolumePtr raw = load_host_volume((dir_ / "out" / "volume.raw").string(), &voxel_size, &error);
  ASSERT_TRUE(raw) << error;
  EXPECT_EQ(std::memcmp(raw->data[0], state.volume->data[0], ZTR_GetChannelBytes(raw.get(), 0)), 0);
}

TEST_F(HostFiles, InputErrorsNameTheFileAndTheReason) {
  std::string error;
  float voxel_size;
  EXPECT_FALSE(load_host_volume((dir_ / "none.raw").string(), &voxel_size, &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
  std::ofstream((dir_ / "bad.raw").string()) << "# ZANTREVIUM raw format file with header\n1 1 1 1\n0 \n0 \n9 uncompressed\n";
  EXPECT_FALSE(load_host_volume((dir_ / "bad.raw").string(), &voxel_size, &error));
  EXPECT_NE(error.find("This is NOT a ZANTREVIUM file."), std::string::npos) << error;
}

}  // namespace

namespace {

using namespace ztr::host;
namespace fs = std::filesystem;

// An oblique 1.5 x 1.5 x 2.0 mm grid: 30 degrees about z, x mirrored (LAS-like).
ImageGeometry oblique_geometry() {
  ImageGeometry g;
  g.voxel_size[0] = 1.5f;
  g.voxel_size[1] = 1.5f;
  g.voxel_size[2] = 2.0f;
  const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
  g.qform = {{{-1.5 * c, -1.5 * s, 0, 20}, {-1.5 * s, 1.5 * c, 0, -7}, {0, 0, 2.0, 11}, {0, 0, 0, 1}}};
  g.sform = g.qform;
  g.qform_code = 1;
  g.sform_code = 2;
  return g;
}

void expect_same_affine(const Affine& a, const Affine& b) {
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(a[i][j], b[i][j], 1e-4) << i << "," << j;
  }
}

TEST_F(HostFiles, NiftiOutputKeepsTheInputsGeometryUnlessThePluginSetAVoxelSize) {
  HostState state;
  state.volume = make_default_volume();
  const std::string input = (dir_ / "in.nii").string();
  NiftiImageLabel label;
  std::string error;
  ASSERT_EQ(SaveNiftiVolume(state.volume.get(), input.c_str(), oblique_geometry(), label, &error), 0) << error;

  SessionInfo info;
  state.volume = load_host_volume(input, &state.voxel_size, &info.input_geometry,
                                  &info.has_input_geometry, &error);
  ASSERT_TRUE(state.volume) << error;
  ASSERT_TRUE(info.has_input_geometry);
  info.input_grid[0] = 32;
  info.input_grid[1] = 32;
  info.input_grid[2] = 16;
  ASSERT_EQ(write_outputs((dir_ / "kept").string(), state, info, &error), 0) << error;
  ImageGeometry back;
  VolumePtr out(LoadNiftiVolumeWithGeometry((dir_ / "kept" / "volume.nii.gz").c_str(), &back, &error));
  ASSERT_TRUE(out) << error;
  EXPECT_FLOAT_EQ(back.voxel_size[2], 2.0f);
  EXPECT_EQ(back.qform_code, 1);
  EXPECT_EQ(back.sform_code, 2);
  expect_same_affine(back.qform, oblique_geometry().qform);
  expect_same_affine(back.sform, oblique_geometry().sform);

  // A voxel size set by the plug-in describes what it sent back: the input's no longer holds.
  state.voxel_size = 0.75f;
  state.voxel_size_requests = {0.75f};
  ASSERT_EQ(write_outputs((dir_ / "set").string(), state, info, &error), 0) << error;
  out.reset(LoadNiftiVolumeWithGeometry((dir_ / "set" / "volume.nii.gz").c_str(), &back, &error));
  ASSERT_TRUE(out) << error;
  for (float v : back.voxel_size) EXPECT_FLOAT_EQ(v, 0.75f);
  EXPECT_EQ(back.sform_code, 0);
}

std::string file_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(HostFiles, AFullDiskFailsTheWriteAndLeavesTheOlderFilesWhole) {
  HostState state;
  state.volume = make_default_volume();
  std::string error;
  const fs::path out = dir_ / "out";
  ASSERT_EQ(write_outputs(out.string(), state, SessionInfo{}, &error), 0) << error;
  const std::string raw_before = file_text(out / "volume.raw");
  const std::string nifti_before = file_text(out / "volume.nii.gz");
  const std::string summary_before = file_text(out / "summary.json");

  ZTR_ChannelData<int16_t>(state.volume.get(), 0)[0] = 999;
  state.refusals = {"changed"};
  set_atomic_file_space_for_testing(4096);  // less than the raw volume's 16 KiB
  const int result = write_outputs(out.string(), state, SessionInfo{}, &error);
  set_atomic_file_space_for_testing(-1);
  EXPECT_EQ(result, -1);
  EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
  EXPECT_EQ(file_text(out / "volume.raw"), raw_before);
  EXPECT_EQ(file_text(out / "volume.nii.gz"), nifti_before);
  // The summary is small enough to fit in what was left, or it failed too: whole either way.
  const std::string summary_after = file_text(out / "summary.json");
  EXPECT_TRUE(summary_after == summary_before || summary_after.find("changed") != std::string::npos);
  for (const auto& entry : fs::directory_iterator(out)) {
    EXPECT_NE(entry.path().extension(), ".part") << "temporary file left: " << entry.path();
  }
}

TEST_F(HostFiles, AFolderInTheWayOfAnOutputIsReported) {
  HostState state;
  state.volume = make_default_volume();
  fs::create_directories(dir_ / "out" / "summary.json" / "inside");
  std::string error;
  EXPECT_EQ(write_outputs((dir_ / "out").string(), state, SessionInfo{}, &error), -1);
  EXPECT_NE(error.find("summary.json"), std::string::npos) << error;
  EXPECT_NE(error.find("folder"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_directory(dir_ / "out" / "summary.json" / "inside"));
  EXPECT_TRUE(fs::exists(dir_ / "out" / "volume.raw"));
}

}  // namespace
