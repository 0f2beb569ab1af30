// The per-voxel parameter report.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "analyzer/dti/maps.h"
#include "tensor_test_support.h"

using tensor_test::DwiData;

namespace {

std::string format(const char* f, double a) {
  char line[128];
  std::snprintf(line, sizeof line, f, a);
  return line;
}

// The report of a prolate tensor along x (eigenvalues 1.5, 0.5, 0.5 x 1e-3) at (1, 0, 1).
struct ReportData {
  DwiData dwi{2, 1, 2, 30};
  ReportData() {
    const double t[3] = {1, 0, 0};
    dwi.set(1, 0, 1, cylindrical_tensor(1.5e-3, 0.5e-3, t), 20000.0);
  }
};

}  // namespace

TEST(VoxelReport, LaysOutPositionStandardParametersAndExtraHeading) {
  ReportData r;
  std::string buffer;
  show_voxel_parameters(r.dwi.get(), 1, 0, 1, &buffer);
  TensorPtr t(ZTRdti_NewTensor(31, 1));
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(r.dwi.get(), t.get(), 1, 0, 1), 1);
  float e1[3];
  ZTRdti_GetE1(t.get(), e1);
  char e1_line[128];
  std::snprintf(e1_line, sizeof e1_line, " e1: (%3.3f,%3.3f,%3.3f)\n", e1[0], e1[1], e1[2]);
  const std::string expected =
      "parameters at (1,0,1)\n\nStandard DTI parameters:\n" +
      format(" FA: %3.3f\n", ZTRdti_GetFA(t.get())) +
      format(" ADC(x1k): %4.3f\n", ZTRdti_GetADC(t.get()) * 1000) +
      format(" L1(x1k): %4.3f\n", ZTRdti_GetLambda1(t.get()) * 1000) +
      format(" L2(x1k): %4.3f\n", ZTRdti_GetLambda2(t.get()) * 1000) +
      format(" L3(x1k): %4.3f\n", ZTRdti_GetLambda3(t.get()) * 1000) + e1_line +
      "\nExtra parameters by RTNN:\n";
  EXPECT_EQ(buffer, expected);
}

TEST(VoxelReport, ShowsTheFittedValues) {
  ReportData r;
  std::string buffer;
  show_voxel_parameters(r.dwi.get(), 1, 0, 1, &buffer);
  float fa = 0, adc = 0, l1 = 0, l2 = 0, l3 = 0, ex = 0, ey = 0, ez = 0;
  const size_t start = buffer.find("Standard DTI parameters:\n");
  ASSERT_NE(start, std::string::npos);
  ASSERT_EQ(std::sscanf(buffer.c_str() + start,
                        "Standard DTI parameters:\n FA: %f\n ADC(x1k): %f\n L1(x1k): %f\n"
                        " L2(x1k): %f\n L3(x1k): %f\n e1: (%f,%f,%f)",
                        &fa, &adc, &l1, &l2, &l3, &ex, &ey, &ez),
            8)
      << buffer;
  // FA of (1.5, 0.5, 0.5): sqrt(1.5 x 0.6667 / 2.75) = 0.603.
  EXPECT_NEAR(fa, 0.603, 0.003);
  EXPECT_NEAR(adc, 0.833, 0.003);
  EXPECT_NEAR(l1, 1.5, 0.005);
  EXPECT_NEAR(l2, 0.5, 0.005);
  EXPECT_NEAR(l3, 0.5, 0.005);
  EXPECT_NEAR(std::fabs(ex), 1.0, 0.001);
  EXPECT_NEAR(ey, 0.0, 0.002);
  EXPECT_NEAR(ez, 0.0, 0.002);
}

TEST(VoxelReport, ListsEveryExtraParameter) {
  ReportData r;
  std::string buffer;
  int calls = 0;
  ExtraVoxelParameters extras = [&](const DiffusionTensorImageData*, int x, int y, int z) {
    ++calls;
    EXPECT_EQ(x, 1);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(z, 1);
    return std::vector<std::pair<std::string, float>>{{"axon", 0.456f}, {"myelin", 12.0f}};
  };
  show_voxel_parameters(r.dwi.get(), 1, 0, 1, &buffer, extras);
  EXPECT_EQ(calls, 1);
  const std::string tail = "\nExtra parameters by RTNN:\n axon: 0.46\n myelin: 12.00\n";
  ASSERT_GE(buffer.size(), tail.size());
  EXPECT_EQ(buffer.substr(buffer.size() - tail.size()), tail);
}

TEST(VoxelReport, NotReadySettingGivesOnlyTheNotReadyLine) {
  ReportData r;
  r.dwi.get()->mpg_ready = 0;
  std::string buffer = "old text";
  show_voxel_parameters(r.dwi.get(), 1, 0, 1, &buffer);
  EXPECT_EQ(buffer, "(MPG not ready for analysis)\n");
}

TEST(VoxelReport, VoxelOutsideTheVolumeLeavesTheBufferUnchanged) {
  ReportData r;
  for (const auto& p : {std::array<int, 3>{2, 0, 0}, std::array<int, 3>{0, 1, 0},
                        std::array<int, 3>{0, 0, 2}, std::array<int, 3>{-1, 0, 0}}) {
    std::string buffer = "old text";
    show_voxel_parameters(r.dwi.get(), p[0], p[1], p[2], &buffer);
    EXPECT_EQ(buffer, "old text");
  }
}
