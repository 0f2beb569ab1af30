// The q-space resampler: interpolation at the nodes, antipodal symmetry, the fitted-tensor
// targets on a cylindrical tensor, merged coincident points and the refused settings.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analyzer/dti/mpg_setting.h"
#include "analyzer/rtnn/bspace_converter.h"

namespace {

constexpr double kParallel = 1.7e-3, kPerpendicular = 0.3e-3, kS0 = 1000.0, kB = 1000.0;

struct Setting {
  std::vector<float> b;
  std::vector<std::array<float, 3>> g;
  const float (*directions() const)[3] { return reinterpret_cast<const float(*)[3]>(g.data()); }
  int n() const { return static_cast<int>(b.size()); }
};

// One b=0 channel and the analyzer's table of `count` directions at b 1000.
Setting table_setting(int count) {
  Setting s{{0.0f}, {{0, 0, 0}}};
  const float (*row)[3] = default_mpg_direction_row(count);
  for (int i = 0; i < count; ++i) {
    s.b.push_back(static_cast<float>(kB));
    s.g.push_back({row[i][0], row[i][1], row[i][2]});
  }
  return s;
}

// A cylinder along (1, 1, 0) / sqrt 2.
double signal(const float g[3], double b) {
  const double e[3] = {M_SQRT1_2, M_SQRT1_2, 0};
  const double norm2 = double(g[0]) * g[0] + double(g[1]) * g[1] + double(g[2]) * g[2];
  const double along = (g[0] * e[0] + g[1] * e[1] + g[2] * e[2]);
  const double adc = (kParallel * along * along + kPerpendicular * (norm2 - along * along)) / norm2;
  return kS0 * std::exp(-b * adc);
}

std::vector<float> signals_of(const Setting& s) {
  std::vector<float> out;
  for (int i = 0; i < s.n(); ++i) out.push_back(i == 0 ? float(kS0) : float(signal(s.g[i].data(), s.b[i])));
  return out;
}

TEST(BSpaceConverter, ReproducesTheMeasuredSignalsAtTheNodes) {
  const Setting s = table_setting(30);
  BSpaceConverterPtr c(ZTR_NewBSpaceConverter(s.n(), s.b.data(), s.directions(), ZTR_BSPACE_KERNEL));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->interpolator.point_count, 61);
  const std::vector<float> measured = signals_of(s);
  ZTR_SetBSpaceConverterSignals(c.get(), measured.data());
  std::vector<float> out(s.n());
  ZTR_ConvertBSpace(c.get(), s.n(), s.b.data(), s.directions(), out.data());
  for (int i = 0; i < s.n(); ++i) EXPECT_NEAR(out[i], measured[i], 0.05) << i;
}

TEST(BSpaceConverter, AntipodalTargetsGetTheSameSignal) {
  const Setting s = table_setting(30);
  BSpaceConverterPtr c(ZTR_NewBSpaceConverter(s.n(), s.b.data(), s.directions(), ZTR_BSPACE_KERNEL));
  ASSERT_NE(c, nullptr);
  const std::vector<float> measured = signals_of(s);
  ZTR_SetBSpaceConverterSignals(c.get(), measured.data());
  const float b[2] = {700, 700};
  const float g[2][3] = {{0.3f, -0.5f, 0.81f}, {-0.3f, 0.5f, -0.81f}};
  float out[2];
  ZTR_ConvertBSpace(c.get(), 2, b, g, out);
  EXPECT_NEAR(out[0], out[1], 1e-3 * out[0]);
  // Between the shells the value lies between S0 and the b 1000 signals.
  EXPECT_GT(out[0], signal(g[0], 1000));
  EXPECT_LT(out[0], kS0);
}

TEST(BSpaceConverter, FittedTensorTargetsSampleAlongAndAcrossTheFibre) {
  // Along e1: S0 exp(-b l_par) = 182.7; across (mean of six directions in the e2-e3 plane):
  // S0 exp(-b l_perp) = 740.8. The interpolant is good to a few percent.
  const Setting s = table_setting(30);
  BSpaceConverterPtr c(ZTR_NewBSpaceConverter(s.n(), s.b.data(), s.directions(), ZTR_BSPACE_KERNEL));
  ASSERT_NE(c, nullptr);
  const std::vector<float> measured = signals_of(s);
  ZTR_SetBSpaceConverterSignals(c.get(), measured.data());
  const float b[2] = {1000, 1000};
  const float g[2][3] = {{ZTR_BSPACE_ALONG_E1, 0, 0}, {ZTR_BSPACE_ACROSS_E1, 0, 0}};
  float out[2];
  ZTR_ConvertBSpace(c.get(), 2, b, g, out);
  EXPECT_NEAR(out[0], kS0 * std::exp(-kB * kParallel), 0.05 * 182.7);
  EXPECT_NEAR(out[1], kS0 * std::exp(-kB * kPerpendicular), 0.05 * 740.8);
}

TEST(BSpaceConverter, CoincidentPointsAreMergedInsteadOfMakingTheSystemSingular) {
  // A repeated direction and an antipodal one add no point; the system stays regular and
  // the nodes keep their signals (the duplicates carry the same signal here).
  Setting s = table_setting(6);
  s.b.push_back(1000);
  s.g.push_back(s.g[1]);
  s.b.push_back(1000);
  s.g.push_back({-s.g[2][0], -s.g[2][1], -s.g[2][2]});
  std::string reason;
  BSpaceConverterPtr c(ZTR_NewBSpaceConverter(s.n(), s.b.data(), s.directions(), ZTR_BSPACE_KERNEL, &reason));
  ASSERT_NE(c, nullptr) << reason;
  EXPECT_EQ(c->interpolator.point_count, 13);
  for (float v : c->interpolator.inverse) ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 1e6f);
  const std::vector<float> measured = signals_of(s);
  ZTR_SetBSpaceConverterSignals(c.get(), measured.data());
  std::vector<float> out(s.n());
  ZTR_ConvertBSpace(c.get(), s.n(), s.b.data(), s.directions(), out.data());
  for (int i = 0; i < s.n(); ++i) EXPECT_NEAR(out[i], measured[i], 0.05) << i;
}

TEST(BSpaceConverter, MergedPointCarriesTheMeanOfItsSignals) {
  Setting s = table_setting(6);
  s.b.push_back(1000);
  s.g.push_back(s.g[1]);
  BSpaceConverterPtr c(ZTR_NewBSpaceConverter(s.n(), s.b.data(), s.directions(), ZTR_BSPACE_KERNEL));
  ASSERT_NE(c, nullptr);
  std::vector<float> measured = signals_of(s);
  measured[1] = 400;
  measured[7] = 600;
  ZTR_SetBSpaceConverterSignals(c.get(), measured.data());
  float out;
  ZTR_ConvertBSpace(c.get(), 1, &s.b[1], &reinterpret_cast<const float(*)[3]>(s.g.data())[1], &out);
  EXPECT_NEAR(out, 500.0f, 0.05);
}

TEST(BSpaceConverter, RefusesSettingsItCannotConvertWithoutEndingTheProcess) {
  struct Case {
    const char* what;
    Setting s;
  };
  Setting two_b0 = table_setting(6);
  two_b0.b.insert(two_b0.b.begin(), 0.0f);
  two_b0.g.insert(two_b0.g.begin(), {0, 0, 0});
  Setting b0_last = table_setting(6);
  std::swap(b0_last.b[0], b0_last.b[6]);
  std::swap(b0_last.g[0], b0_last.g[6]);
  Setting trace = table_setting(6);
  trace.b.push_back(1000);
  trace.g.push_back({0, 0, 0});
  Setting planar{{0.0f}, {{0, 0, 0}}};
  for (int k = 0; k < 6; ++k) {
    planar.b.push_back(1000);
    planar.g.push_back({std::cos(k * 0.5f), std::sin(k * 0.5f), 0});
  }
  const Case cases[] = {{"two b=0 channels", two_b0},
                        {"b=0 channel not first", b0_last},
                        {"b 1000 without direction", trace},
                        {"all directions in one plane", planar}};
  for (const Case& c : cases) {
    std::string reason;
    BSpaceConverterPtr converter(
        ZTR_NewBSpaceConverter(c.s.n(), c.s.b.data(), c.s.directions(), ZTR_BSPACE_KERNEL, &reason));
    EXPECT_EQ(converter, nullptr) << c.what;
    EXPECT_FALSE(reason.empty()) << c.what;
  }
}

TEST(BSpaceConverter, CopyConvertsLikeTheOriginal) {
  const Setting s = table_setting(12);
  BSpaceConverterPtr c(ZTR_NewBSpaceConverter(s.n(), s.b.data(), s.directions(), ZTR_BSPACE_KERNEL));
  ASSERT_NE(c, nullptr);
  BSpaceConverterPtr copy(ZTR_CopyBSpaceConverter(c.get()));
  ASSERT_NE(copy, nullptr);
  const std::vector<float> measured = signals_of(s);
  ZTR_SetBSpaceConverterSignals(c.get(), measured.data());
  ZTR_SetBSpaceConverterSignals(copy.get(), measured.data());
  const float b = 500, g[1][3] = {{0.6f, 0.0f, 0.8f}};
  float a = 0, bb = 0;
  ZTR_ConvertBSpace(c.get(), 1, &b, g, &a);
  ZTR_ConvertBSpace(copy.get(), 1, &b, g, &bb);
  EXPECT_EQ(a, bb);
}

TEST(BSpaceConverter, KernelCodesSelectTheirRadialFunctions) {
  EXPECT_FLOAT_EQ(rbf_kernel(-6468, 3, 1), 9);
  EXPECT_FLOAT_EQ(rbf_kernel(195, 0, 1), 0);
  EXPECT_FLOAT_EQ(rbf_kernel(195, std::exp(1.0f), 1), std::exp(2.0f));
  EXPECT_FLOAT_EQ(rbf_kernel(378, 3, 4), 5);
  EXPECT_FLOAT_EQ(rbf_kernel(454, 2, 1), 8);
  EXPECT_FLOAT_EQ(rbf_kernel(941, 1, 2), std::exp(-4.0f));
  EXPECT_FLOAT_EQ(rbf_kernel(364, 2.5f, 1), 2.5f);
}

}  // namespace

namespace {

TEST(BSpaceConverter, TargetMatrixGivesTheInterpolantsValues) {
  // 30 directions plus a repeat of direction 3, so that merged points are folded in too.
  Setting s = table_setting(30);
  s.b.push_back(1000);
  s.g.push_back(s.g[3]);
  BSpaceConverterPtr c(ZTR_NewBSpaceConverter(s.n(), s.b.data(), s.directions(), ZTR_BSPACE_KERNEL));
  ASSERT_NE(c, nullptr);
  const float b[3] = {0, 800, 1200};
  const float g[3][3] = {{0, 0, 0}, {0.6f, 0.8f, 0}, {0, -0.28f, 0.96f}};
  const std::vector<float> k = bspace_target_matrix(c.get(), 3, b, g);
  const int n = s.n();
  ASSERT_EQ(k.size(), size_t(3) * n);
  const std::vector<float> measured = signals_of(s);
  ZTR_SetBSpaceConverterSignals(c.get(), measured.data());
  float direct[3];
  ZTR_ConvertBSpace(c.get(), 3, b, g, direct);
  for (int t = 0; t < 3; ++t) {
    double via_matrix = 0;
    for (int j = 0; j < n; ++j) via_matrix += double(k[size_t(t) * n + j]) * measured[j];
    EXPECT_NEAR(via_matrix, direct[t], 1e-3 * kS0) << t;
  }
  // A fitted-tensor target cannot be folded into a matrix.
  const float along[1][3] = {{ZTR_BSPACE_ALONG_E1, 0, 0}};
  EXPECT_TRUE(bspace_target_matrix(c.get(), 1, b, along).empty());
}

}  // namespace
