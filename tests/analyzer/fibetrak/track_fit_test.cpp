// The tracking's own fit: the 3 x 3 eigen solver and agreement with the analyzer's fit at a
// position.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "analyzer/dti/tensor.h"
#include "analyzer/fibetrak/track_fit.h"
#include "track_test_support.h"

TEST(TrackFitEigen, DiagonalMatrixGivesSortedValuesAndAxes) {
  const double elements[6] = {3, 1, 2, 0, 0, 0};  // diag(3, 1, 2)
  double values[3], vectors[3][3];
  ASSERT_TRUE(symmetric_eigen3(elements, values, vectors));
  EXPECT_NEAR(values[0], 3.0, 1e-14);
  EXPECT_NEAR(values[1], 2.0, 1e-14);
  EXPECT_NEAR(values[2], 1.0, 1e-14);
  EXPECT_NEAR(std::fabs(vectors[0][0]), 1.0, 1e-14);
  EXPECT_NEAR(std::fabs(vectors[1][2]), 1.0, 1e-14);
  EXPECT_NEAR(std::fabs(vectors[2][1]), 1.0, 1e-14);
}

TEST(TrackFitEigen, RandomSymmetricMatricesAreDecomposed) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> value(-1e-3, 1e-3);
  for (int trial = 0; trial < 500; ++trial) {
    double e[6];
    for (double& v : e) v = value(random);
    if (trial % 5 == 0) e[3] = e[4] = e[5] = 1e-12 * value(random);  // nearly diagonal
    if (trial % 7 == 0) e[1] = e[0];                                  // repeated diagonal
    if (trial % 3 == 0) {
      // Prolate (lambda2 = lambda3, as in every fiber of the phantom) or oblate, rotated.
      double r[3][3];
      tensor_test::rotation(value(random) * 3e3, value(random) * 3e3, value(random) * 3e3, r);
      const double big = 1.7e-3, small = 0.3e-3;
      const double l[3] = {trial % 2 ? big : small, trial % 2 ? small : big, trial % 2 ? small : big};
      const SymmetricTensor d = tensor_from_eigen_system(l, r);
      const double from[6] = {d.xx, d.yy, d.zz, d.xy, d.yz, d.zx};
      std::copy(from, from + 6, e);
    }
    double w[3], v[3][3];
    ASSERT_TRUE(symmetric_eigen3(e, w, v));
    const double a[3][3] = {{e[0], e[3], e[5]}, {e[3], e[1], e[4]}, {e[5], e[4], e[2]}};
    EXPECT_GE(w[0], w[1]);
    EXPECT_GE(w[1], w[2]);
    for (int i = 0; i < 3; ++i) {
      for (int r = 0; r < 3; ++r) {
        const double av = a[r][0] * v[i][0] + a[r][1] * v[i][1] + a[r][2] * v[i][2];
        // Below what the float results can show (6e-8 of values near 1e-3).
        EXPECT_NEAR(av, w[i] * v[i][r], 1e-11) << trial;
      }
      for (int j = 0; j < 3; ++j) {
        const double d = v[i][0] * v[j][0] + v[i][1] * v[j][1] + v[i][2] * v[j][2];
        EXPECT_NEAR(d, i == j ? 1.0 : 0.0, 1e-12) << trial;
      }
    }
  }
}

TEST(TrackFitEigen, RefusesNonFiniteElements) {
  const double elements[6] = {1, 1, NAN, 0, 0, 0};
  double values[3], vectors[3][3];
  EXPECT_FALSE(symmetric_eigen3(elements, values, vectors));
}

TEST(TrackFit, AgreesWithTheAnalyzersFitAtAPosition) {
  PhantomOptions options;
  options.x = 24, options.y = 24, options.z = 8;
  options.noise_sigma = 30.0f;
  Phantom phantom;
  std::string error;
  ASSERT_TRUE(make_phantom(options, &phantom, &error)) << error;
  DtiDataPtr data(ZTRdti_NewDiffusionTensorImageData(phantom.dwi.get(), phantom.dwi->header->channels));
  ASSERT_EQ(apply_phantom_mpg(phantom, data.get()), 0);
  const auto fit = TrackingFitContext::create(data.get());
  ASSERT_TRUE(fit);
  TensorPtr reference(ZTRdti_NewTensor(data->dti_channels, data->b0_channels));
  std::mt19937 random(3);
  std::uniform_real_distribution<float> x(-0.9f, 23.9f), z(-0.9f, 7.9f);
  int compared = 0, refused = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    const float p[3] = {x(random), x(random), z(random)};
    TrackTensor t;
    const bool ok = fit->fit(p[0], p[1], p[2], &t);
    ASSERT_EQ(ZTRdti_ComputeTensorAtPosition(data.get(), reference.get(), p[0], p[1], p[2]), 1);
    // Extrapolated samples just below 0 can make every signal negative: their ratios, and
    // so the reference tensor, look finite, but no signal of 0 or below has a tensor.
    const bool finite = ZTRdti_IsFiniteTensor(reference.get()) &&
                        std::isfinite(ZTRdti_GetFA(reference.get())) && ZTRdti_GetSo(reference.get()) > 0;
    ASSERT_EQ(ok, finite) << p[0] << "," << p[1] << "," << p[2];
    if (!ok) {
      ++refused;
      continue;
    }
    ++compared;
    const float l1 = ZTRdti_GetLambda1(reference.get());
    const float scale = std::fabs(l1) + 1e-6f;
    EXPECT_NEAR(t.lambda[0], l1, 1e-4f * scale);
    EXPECT_NEAR(t.lambda[1], ZTRdti_GetLambda2(reference.get()), 1e-4f * scale);
    EXPECT_NEAR(t.lambda[2], ZTRdti_GetLambda3(reference.get()), 1e-4f * scale);
    EXPECT_NEAR(t.fa, ZTRdti_GetFA(reference.get()), 1e-3f);
    EXPECT_FLOAT_EQ(t.so, ZTRdti_GetSo(reference.get()));
    if (ZTRdti_GetFA(reference.get()) > 0.3f) {
      float e1[3];
      ZTRdti_GetE1(reference.get(), e1);
      EXPECT_NEAR(std::fabs(e1[0] * t.e[0][0] + e1[1] * t.e[0][1] + e1[2] * t.e[0][2]), 1.0f, 1e-4f);
    }
  }
  EXPECT_GT(compared, 500);
  EXPECT_GT(refused, 100);  // the background around the head
}

TEST(TrackFit, SoSampleTruncatesLikeTheVolumeSampler) {
  tensor_test::DwiData dwi(4, 4, 4, 30);
  dwi.at(0, 1, 1, 1) = 100;
  dwi.at(0, 2, 1, 1) = 201;
  // Channel 1 onwards are non-zero so that the context can be made.
  for (int c = 1; c <= 30; ++c) dwi.at(c, 1, 1, 1) = 50;
  const auto fit = TrackingFitContext::create(dwi.get());
  ASSERT_TRUE(fit);
  EXPECT_EQ(fit->sample_so(1.5f, 1.0f, 1.0f), 150);  // 150.5 truncated
  EXPECT_EQ(fit->sample_so(1.0f, 1.0f, 1.0f), 100);
  EXPECT_EQ(fit->sample_so(NAN, 1.0f, 1.0f), 0);
}
