// Tensor fit: known tensors through synthetic signals, the cached pseudo-inverse, the
// position fit and the scalar getters.
#include <gtest/gtest.h>

#include <cmath>

#include "analyzer/dti/numerical.h"
#include "analyzer/dti/tensor.h"
#include "tensor_test_support.h"

using tensor_test::DwiData;
using tensor_test::dot;

namespace {

constexpr double kS0 = 20000.0;

double expected_fa(double l1, double l2, double l3) {
  const double m = (l1 + l2 + l3) / 3;
  return std::sqrt(1.5 * ((l1 - m) * (l1 - m) + (l2 - m) * (l2 - m) + (l3 - m) * (l3 - m)) /
                   (l1 * l1 + l2 * l2 + l3 * l3));
}

struct Fit {
  DwiData dwi{3, 3, 2, 30};
  TensorPtr tensor{ZTRdti_NewTensor(31, 1)};

  // Fits the tensor with eigenvalues l along the rows of `axes` at voxel (1, 1, 1).
  void fit(const double l[3], const double axes[3][3]) {
    dwi.set(1, 1, 1, tensor_from_eigen_system(l, axes), kS0);
    ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), tensor.get(), 1, 1, 1), 1);
  }
};

}  // namespace

TEST(TensorFit, IsotropicTensorHasZeroFA) {
  Fit f;
  const double l[3] = {0.8e-3, 0.8e-3, 0.8e-3};
  const double axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  f.fit(l, axes);
  EXPECT_NEAR(ZTRdti_GetFA(f.tensor.get()), 0.0, 0.005);
  EXPECT_NEAR(ZTRdti_GetADC(f.tensor.get()), 0.8e-3, 2e-6);
  EXPECT_NEAR(ZTRdti_GetLambda1(f.tensor.get()), 0.8e-3, 1e-5);
  EXPECT_NEAR(ZTRdti_GetLambda3(f.tensor.get()), 0.8e-3, 1e-5);
  EXPECT_FLOAT_EQ(ZTRdti_GetSo(f.tensor.get()), 20000.0f);
  EXPECT_EQ(ZTRdti_IsValidTensor(f.tensor.get()), 1);
}

TEST(TensorFit, ProlateTensorRecoversEigenvaluesAndMainAxis) {
  Fit f;
  double axes[3][3];
  tensor_test::rotation(0.4, -0.7, 1.1, axes);
  const double l[3] = {1.7e-3, 0.3e-3, 0.3e-3};
  f.fit(l, axes);
  EXPECT_NEAR(ZTRdti_GetLambda1(f.tensor.get()), 1.7e-3, 5e-6);
  EXPECT_NEAR(ZTRdti_GetLambda2(f.tensor.get()), 0.3e-3, 5e-6);
  EXPECT_NEAR(ZTRdti_GetLambda3(f.tensor.get()), 0.3e-3, 5e-6);
  EXPECT_NEAR(ZTRdti_GetFA(f.tensor.get()), expected_fa(1.7e-3, 0.3e-3, 0.3e-3), 0.003);
  EXPECT_NEAR(ZTRdti_GetADC(f.tensor.get()), (1.7e-3 + 0.6e-3) / 3, 2e-6);
  float e1[3];
  ZTRdti_GetE1(f.tensor.get(), e1);
  EXPECT_GT(std::fabs(dot(e1, axes[0])), 0.9999);
}

TEST(TensorFit, OblateTensorRecoversItsMinorAxis) {
  Fit f;
  double axes[3][3];
  tensor_test::rotation(-1.2, 0.3, 0.5, axes);
  const double l[3] = {1.2e-3, 1.2e-3, 0.3e-3};
  f.fit(l, axes);
  EXPECT_NEAR(ZTRdti_GetLambda1(f.tensor.get()), 1.2e-3, 5e-6);
  EXPECT_NEAR(ZTRdti_GetLambda2(f.tensor.get()), 1.2e-3, 5e-6);
  EXPECT_NEAR(ZTRdti_GetLambda3(f.tensor.get()), 0.3e-3, 5e-6);
  EXPECT_NEAR(ZTRdti_GetFA(f.tensor.get()), expected_fa(1.2e-3, 1.2e-3, 0.3e-3), 0.003);
  float e3[3];
  ZTRdti_GetE3(f.tensor.get(), e3);
  EXPECT_GT(std::fabs(dot(e3, axes[2])), 0.9999);
}

TEST(TensorFit, RotatedTensorGivesSortedValuesWithMatchingOrthonormalVectors) {
  Fit f;
  double axes[3][3];
  tensor_test::rotation(2.0, 0.9, -0.4, axes);
  const double l[3] = {1.6e-3, 0.9e-3, 0.4e-3};
  f.fit(l, axes);
  const float l1 = ZTRdti_GetLambda1(f.tensor.get()), l2 = ZTRdti_GetLambda2(f.tensor.get()),
              l3 = ZTRdti_GetLambda3(f.tensor.get());
  EXPECT_GE(l1, l2);
  EXPECT_GE(l2, l3);
  EXPECT_NEAR(l1, 1.6e-3, 5e-6);
  EXPECT_NEAR(l2, 0.9e-3, 5e-6);
  EXPECT_NEAR(l3, 0.4e-3, 5e-6);
  float e[3][3];
  ZTRdti_GetE1(f.tensor.get(), e[0]);
  ZTRdti_GetE2(f.tensor.get(), e[1]);
  ZTRdti_GetE3(f.tensor.get(), e[2]);
  for (int i = 0; i < 3; ++i) {
    EXPECT_GT(std::fabs(dot(e[i], axes[i])), 0.9999) << "eigenvector " << i + 1;
    for (int j = 0; j < 3; ++j) {
      const float p = e[i][0] * e[j][0] + e[i][1] * e[j][1] + e[i][2] * e[j][2];
      EXPECT_NEAR(p, i == j ? 1.0f : 0.0f, 1e-5) << i << "," << j;
    }
  }
}

TEST(TensorFit, DiagonalTensorComesBackSortedWithAxisVectors) {
  // diag(3, 1, 2) x 1e-4: lambda1 along x, lambda2 along z, lambda3 along y.
  Fit f;
  const double axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const double l[3] = {3e-4, 1e-4, 2e-4};
  f.fit(l, axes);
  float e1[3], e2[3], e3[3];
  ZTRdti_GetE1(f.tensor.get(), e1);
  ZTRdti_GetE2(f.tensor.get(), e2);
  ZTRdti_GetE3(f.tensor.get(), e3);
  EXPECT_NEAR(ZTRdti_GetLambda1(f.tensor.get()), 3e-4, 3e-6);
  EXPECT_NEAR(ZTRdti_GetLambda2(f.tensor.get()), 2e-4, 3e-6);
  EXPECT_NEAR(ZTRdti_GetLambda3(f.tensor.get()), 1e-4, 3e-6);
  EXPECT_GT(std::fabs(e1[0]), 0.999f);
  EXPECT_GT(std::fabs(e2[2]), 0.999f);
  EXPECT_GT(std::fabs(e3[1]), 0.999f);
}

TEST(TensorFit, ElementsAndDirectionalADCMatchTheSynthesisTensor) {
  Fit f;
  double axes[3][3];
  tensor_test::rotation(0.3, 0.2, 0.1, axes);
  const double l[3] = {1.5e-3, 0.7e-3, 0.2e-3};
  const SymmetricTensor truth = tensor_from_eigen_system(l, axes);
  f.fit(l, axes);
  const double expected[6] = {truth.xx, truth.yy, truth.zz, truth.xy, truth.yz, truth.zx};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(f.tensor->elements[i], expected[i], 5e-6) << i;
  const float g[3] = {0.6f, -0.8f, 0.0f};
  EXPECT_NEAR(ZTRdti_GetADCAlongDirection(f.tensor.get(), g), tensor_along(truth, g), 5e-6);
}

TEST(TensorFit, CachedInverseGivesExactlyThePerFitLeastSquaresSolution) {
  DwiData dwi(4, 3, 2, 30);
  double axes[3][3];
  int n = 0;
  for (int k = 0; k < 2; ++k) {
    for (int j = 0; j < 3; ++j) {
      for (int i = 0; i < 4; ++i, ++n) {
        tensor_test::rotation(0.3 * n, 0.2 * n + 0.1, -0.15 * n, axes);
        const double l[3] = {1.0e-3 + 0.05e-3 * n, 0.6e-3, 0.2e-3 + 0.01e-3 * n};
        dwi.set(i, j, k, tensor_from_eigen_system(l, axes), 5000.0 + 300 * n);
      }
    }
  }
  TensorPtr tensor(ZTRdti_NewTensor(31, 1));
  for (int k = 0; k < 2; ++k) {
    for (int j = 0; j < 3; ++j) {
      for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), tensor.get(), i, j, k), 1);
        // The pseudo-inverse recomputed for this fit from the same design and log-signals.
        VectorPtr solution(
            ZTRnumerical_GetSolutionOfLinearEquations(tensor->design, tensor->log_signal));
        ASSERT_TRUE(solution);
        ASSERT_EQ(solution->count, 6);
        for (int e = 0; e < 6; ++e) {
          EXPECT_EQ(tensor->elements[e], solution->element[e]) << i << j << k << " element " << e;
        }
      }
    }
  }
}

TEST(TensorFit, ChangedDirectionsAreUsedByTheNextFit) {
  DwiData dwi(2, 2, 2, 30);
  const double l[3] = {1.7e-3, 0.3e-3, 0.3e-3};
  const double axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  dwi.set(0, 0, 0, tensor_from_eigen_system(l, axes), kS0);
  TensorPtr tensor(ZTRdti_NewTensor(31, 1));
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), tensor.get(), 0, 0, 0), 1);
  float e1[3];
  ZTRdti_GetE1(tensor.get(), e1);
  EXPECT_GT(std::fabs(e1[0]), 0.9999f);
  // The same signals with every direction's x and y exchanged: the fiber now lies along y.
  for (int c = 1; c < 31; ++c) std::swap(dwi.get()->mpg_vector[c][0], dwi.get()->mpg_vector[c][1]);
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), tensor.get(), 0, 0, 0), 1);
  ZTRdti_GetE1(tensor.get(), e1);
  EXPECT_GT(std::fabs(e1[1]), 0.9999f);
  VectorPtr solution(ZTRnumerical_GetSolutionOfLinearEquations(tensor->design, tensor->log_signal));
  ASSERT_TRUE(solution);
  for (int e = 0; e < 6; ++e) EXPECT_EQ(tensor->elements[e], solution->element[e]);
}

TEST(TensorFit, SoIsTheMeanOfAllBZeroChannels) {
  DwiData dwi(2, 2, 1, 30, 1);  // 32 channels: use 2 b=0 channels and 30 directions
  ASSERT_EQ(ZTRdti_SetDefaultMPG(dwi.get(), 32, 2), 0);
  dwi.set(1, 0, 0, tensor_test::isotropic(1e-3), 10000.0);
  dwi.at(0, 1, 0, 0) = 9990;
  dwi.at(1, 1, 0, 0) = 10011;
  TensorPtr tensor(ZTRdti_NewTensor(32, 2));
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), tensor.get(), 1, 0, 0), 1);
  EXPECT_FLOAT_EQ(ZTRdti_GetSo(tensor.get()), 10000.5f);
  // -ln(S_c / 10000.5) / 1000 for channel 2.
  const double expected = -std::log(dwi.at(2, 1, 0, 0) / 10000.5) / 1000.0;
  EXPECT_NEAR(tensor->log_signal->element[0], expected, 1e-9);
}

TEST(TensorFit, PositionFitAtAVoxelEqualsTheVoxelFit) {
  DwiData dwi(3, 3, 3, 30);
  double axes[3][3];
  tensor_test::rotation(0.5, 0.5, 0.5, axes);
  const double l[3] = {1.4e-3, 0.5e-3, 0.3e-3};
  dwi.set(1, 2, 1, tensor_from_eigen_system(l, axes), 8000.0);
  TensorPtr at_voxel(ZTRdti_NewTensor(31, 1)), at_position(ZTRdti_NewTensor(31, 1));
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), at_voxel.get(), 1, 2, 1), 1);
  ASSERT_EQ(ZTRdti_ComputeTensorAtPosition(dwi.get(), at_position.get(), 1.0f, 2.0f, 1.0f), 1);
  for (int e = 0; e < 6; ++e) EXPECT_EQ(at_voxel->elements[e], at_position->elements[e]);
  EXPECT_EQ(ZTRdti_GetFA(at_voxel.get()), ZTRdti_GetFA(at_position.get()));
}

TEST(TensorFit, PositionFitBetweenVoxelsUsesInterpolatedSignals) {
  // Voxels (0,0,0) and (1,0,0) hold the same isotropic tensor at b=0 levels 4000 and 6000;
  // halfway between them every signal is the mean, so So is 5000 and the ADC unchanged.
  DwiData dwi(2, 2, 2, 30);
  dwi.set(0, 0, 0, tensor_test::isotropic(1e-3), 4000.0);
  dwi.set(1, 0, 0, tensor_test::isotropic(1e-3), 6000.0);
  TensorPtr tensor(ZTRdti_NewTensor(31, 1));
  ASSERT_EQ(ZTRdti_ComputeTensorAtPosition(dwi.get(), tensor.get(), 0.5f, 0.0f, 0.0f), 1);
  EXPECT_FLOAT_EQ(ZTRdti_GetSo(tensor.get()), 5000.0f);
  EXPECT_NEAR(ZTRdti_GetADC(tensor.get()), 1e-3, 5e-6);
  EXPECT_NEAR(ZTRdti_GetChannelADCAtPosition(dwi.get(), 0.5f, 0.0f, 0.0f, 5), 1e-3, 5e-6);
}

TEST(TensorFit, PositionFitInASingleSliceVolumeReadsThatSlice) {
  DwiData dwi(2, 2, 1, 30);
  dwi.set(1, 1, 0, tensor_test::isotropic(0.9e-3), 7000.0);
  TensorPtr tensor(ZTRdti_NewTensor(31, 1));
  ASSERT_EQ(ZTRdti_ComputeTensorAtPosition(dwi.get(), tensor.get(), 1.0f, 1.0f, 0.4f), 1);
  EXPECT_FLOAT_EQ(ZTRdti_GetSo(tensor.get()), 7000.0f);
  EXPECT_NEAR(ZTRdti_GetADC(tensor.get()), 0.9e-3, 5e-6);
}

TEST(TensorFit, ZeroSignalGivesANonFiniteTensorInsteadOfGarbage) {
  DwiData dwi(2, 2, 2, 30);
  dwi.set(0, 1, 0, tensor_test::isotropic(1e-3), 3000.0);
  dwi.at(7, 0, 1, 0) = 0;  // log(0): infinite
  TensorPtr tensor(ZTRdti_NewTensor(31, 1));
  EXPECT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), tensor.get(), 0, 1, 0), 1);
  EXPECT_EQ(ZTRdti_IsFiniteTensor(tensor.get()), 0);
  EXPECT_EQ(ZTRdti_IsValidTensor(tensor.get()), 0);
  EXPECT_TRUE(std::isnan(ZTRdti_GetFA(tensor.get())));
  // An empty voxel (So 0) as well.
  EXPECT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), tensor.get(), 1, 1, 1), 1);
  EXPECT_EQ(ZTRdti_IsFiniteTensor(tensor.get()), 0);
  // And a normal voxel afterwards is fine again.
  dwi.set(1, 1, 1, tensor_test::isotropic(1e-3), 3000.0);
  EXPECT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), tensor.get(), 1, 1, 1), 1);
  EXPECT_EQ(ZTRdti_IsFiniteTensor(tensor.get()), 1);
}

TEST(TensorFit, NegativeDiffusivityMakesTheTensorInvalid) {
  Fit f;
  const double axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const double l[3] = {1.0e-3, 0.8e-3, -0.2e-3};  // signals along z rise above So
  f.dwi.set(1, 1, 1, tensor_from_eigen_system(l, axes), 10000.0);
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(f.dwi.get(), f.tensor.get(), 1, 1, 1), 1);
  EXPECT_LT(ZTRdti_GetLambda3(f.tensor.get()), 0.0f);
  EXPECT_EQ(ZTRdti_IsFiniteTensor(f.tensor.get()), 1);
  EXPECT_EQ(ZTRdti_IsValidTensor(f.tensor.get()), 0);
}

TEST(TensorFit, RefusesVoxelsOutsideAndMismatchedRecords) {
  DwiData dwi(2, 2, 2, 30);
  dwi.set(0, 0, 0, tensor_test::isotropic(1e-3), 3000.0);
  TensorPtr tensor(ZTRdti_NewTensor(31, 1));
  EXPECT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), tensor.get(), 2, 0, 0), 0);
  EXPECT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), tensor.get(), 0, -1, 0), 0);
  EXPECT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), nullptr, 0, 0, 0), 0);
  TensorPtr wrong(ZTRdti_NewTensor(14, 1));
  EXPECT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), wrong.get(), 0, 0, 0), 0);
  EXPECT_EQ(ZTRdti_ComputeTensorAtPosition(dwi.get(), tensor.get(), NAN, 0.0f, 0.0f), 0);
}

TEST(TensorRecord, NeedsAtLeastOneDiffusionWeightedChannel) {
  EXPECT_EQ(ZTRdti_NewTensor(1, 1), nullptr);
  EXPECT_EQ(ZTRdti_NewTensor(3, 5), nullptr);
  TensorPtr t(ZTRdti_NewTensor(7, 1));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->n, 6);
  EXPECT_EQ(t->design->rows, 6);
  EXPECT_EQ(t->design->columns, 6);
  EXPECT_EQ(t->log_signal->count, 6);
  ZTRdti_DeleteTensor(nullptr);
}

TEST(ChannelADC, IsMinusLogRatioOverB) {
  DwiData dwi(2, 2, 2, 30);
  dwi.set(1, 0, 1, tensor_test::isotropic(1e-3), 9000.0);
  dwi.at(4, 1, 0, 1) = 3000;
  const double expected = -std::log(3000.0 / 9000.0) / 1000.0;
  EXPECT_NEAR(ZTRdti_GetChannelADCAtVoxel(dwi.get(), 1, 0, 1, 4), expected, 1e-9);
  EXPECT_EQ(ZTRdti_GetChannelADCAtVoxel(dwi.get(), 1, 0, 1, 31), 0.0f);
  EXPECT_EQ(ZTRdti_GetChannelADCAtVoxel(dwi.get(), 2, 0, 1, 4), 0.0f);
}
