// Tests of the float linear algebra kit: products, pseudo-inverse, least squares, LU inverse
// and symmetric eigen systems, checked against Eigen and by their defining properties.
#include "analyzer/dti/numerical.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/analyzer/dti/eigen_oracle.h"
#include "tests/support/console_capture.h"

namespace {

int count_occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// The tensor design matrix of a set of directions: rows (x², y², z², 2xy, 2yz, 2zx).
Eigen::MatrixXd design_matrix(const std::vector<Eigen::Vector3d>& directions) {
  Eigen::MatrixXd b(directions.size(), 6);
  for (size_t k = 0; k < directions.size(); ++k) {
    const Eigen::Vector3d& g = directions[k];
    b.row(k) << g.x() * g.x(), g.y() * g.y(), g.z() * g.z(), 2 * g.x() * g.y(), 2 * g.y() * g.z(),
        2 * g.z() * g.x();
  }
  return b;
}

}  // namespace

// ---- matrices and vectors -------------------------------------------------------------

TEST(MatrixBasics, NewMatrixIsZeroAndRowsAreContiguous) {
  MatrixPtr m(ZTR_NewMatrix(3, 4));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->rows, 3);
  EXPECT_EQ(m->columns, 4);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_EQ(m->element[i][j], 0.0f);
  EXPECT_EQ(m->element[1], m->element[0] + 4);
  EXPECT_EQ(m->element[2], m->element[0] + 8);
}

TEST(MatrixBasics, NonPositiveSizesGiveNoMatrixOrVector) {
  EXPECT_EQ(ZTR_NewMatrix(0, 3), nullptr);
  EXPECT_EQ(ZTR_NewMatrix(3, -1), nullptr);
  EXPECT_EQ(ZTR_NewVector(0), nullptr);
  ZTR_DeleteMatrix(nullptr);
  ZTR_DeleteVector(nullptr);
}

TEST(MatrixBasics, TransposeSwapsIndices) {
  MatrixPtr a(ZTR_NewMatrix(2, 3));
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) a->element[i][j] = float(10 * i + j);
  MatrixPtr t(ZTR_GetTransposedMatrix(a.get()));
  ASSERT_TRUE(t);
  ASSERT_EQ(t->rows, 3);
  ASSERT_EQ(t->columns, 2);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(t->element[j][i], float(10 * i + j));
}

TEST(MatrixBasics, ProductOfSmallMatricesIsExact) {
  // [1 2 3; 4 5 6] * [7 8; 9 10; 11 12] = [58 64; 139 154]
  MatrixPtr a(ZTR_NewMatrix(2, 3));
  MatrixPtr b(ZTR_NewMatrix(3, 2));
  float av[] = {1, 2, 3, 4, 5, 6}, bv[] = {7, 8, 9, 10, 11, 12};
  for (int i = 0; i < 6; ++i) {
    a->element[i / 3][i % 3] = av[i];
    b->element[i / 2][i % 2] = bv[i];
  }
  MatrixPtr p(ZTR_GetMatrixProduct(a.get(), b.get()));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->rows, 2);
  EXPECT_EQ(p->columns, 2);
  EXPECT_EQ(p->element[0][0], 58.0f);
  EXPECT_EQ(p->element[0][1], 64.0f);
  EXPECT_EQ(p->element[1][0], 139.0f);
  EXPECT_EQ(p->element[1][1], 154.0f);

  VectorPtr v(ZTR_NewVector(3));
  v->element[0] = 1;
  v->element[1] = -1;
  v->element[2] = 2;
  VectorPtr av_product(ZTR_GetMatrixVectorProduct(a.get(), v.get()));
  ASSERT_TRUE(av_product);
  ASSERT_EQ(av_product->count, 2);
  EXPECT_EQ(av_product->element[0], 5.0f);   // 1 - 2 + 6
  EXPECT_EQ(av_product->element[1], 11.0f);  // 4 - 5 + 12
}

TEST(MatrixBasics, MismatchedProductPrintsBothSizesAndFails) {
  MatrixPtr a(ZTR_NewMatrix(2, 3));
  MatrixPtr b(ZTR_NewMatrix(2, 3));
  ztr::test::ConsoleCapture console;
  ZTR_MATRIX* p = ZTR_GetMatrixProduct(a.get(), b.get());
  std::string err = console.finish();
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(err, "Dimension mismatched (3<->2)\n");

  VectorPtr v(ZTR_NewVector(4));
  ztr::test::ConsoleCapture console2;
  ZTR_VECTOR* q = ZTR_GetMatrixVectorProduct(a.get(), v.get());
  err = console2.finish();
  EXPECT_EQ(q, nullptr);
  EXPECT_EQ(err, "Dimension mismatched (3<->4)\n");

  EXPECT_EQ(ZTR_GetMatrixProduct(nullptr, b.get()), nullptr);
  EXPECT_EQ(ZTR_GetMatrixVectorProduct(a.get(), nullptr), nullptr);
}

// ---- pseudo-inverse and least squares -------------------------------------------------

TEST(PseudoInverse, FullRankThreeByTwoEqualsNormalEquationsInverse) {
  Eigen::MatrixXd a(3, 2);
  a << 1, 2, 3, 4, 5, 7;
  MatrixPtr m = from_eigen(a);
  MatrixPtr inv(ZTRnumerical_GetInversedMatrix(m.get()));
  ASSERT_TRUE(inv);
  ASSERT_EQ(inv->rows, 2);
  ASSERT_EQ(inv->columns, 3);
  const Eigen::MatrixXd expected = (a.transpose() * a).inverse() * a.transpose();
  EXPECT_LT((to_eigen(inv.get()) - expected).cwiseAbs().maxCoeff(), 1e-5);
}

TEST(PseudoInverse, MatchesEigenOnRandomTallMatrices) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 40; ++trial) {
    const int rows = 6 + trial * 3;
    const Eigen::MatrixXd a = random_matrix(rng, rows, 6);
    MatrixPtr m = from_eigen(a);
    MatrixPtr inv(ZTRnumerical_GetInversedMatrix(m.get()));
    ASSERT_TRUE(inv);
    Eigen::JacobiSVD<Eigen::MatrixXd> svd(a);
    const double cond = svd.singularValues()(0) / svd.singularValues()(5);
    const Eigen::MatrixXd expected = reference_pseudo_inverse(a, 0.0);
    const double error = (to_eigen(inv.get()) - expected).cwiseAbs().maxCoeff();
    EXPECT_LT(error, 2e-6 * cond * expected.cwiseAbs().maxCoeff()) << "rows " << rows;
  }
}

TEST(PseudoInverse, MatchesEigenOnWideMatrices) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 10; ++trial) {
    const Eigen::MatrixXd a = random_matrix(rng, 3, 5 + trial % 3);
    MatrixPtr m = from_eigen(a);
    MatrixPtr inv(ZTRnumerical_GetInversedMatrix(m.get()));
    ASSERT_TRUE(inv);
    EXPECT_EQ(inv->rows, a.cols());
    EXPECT_EQ(inv->columns, 3);
    const Eigen::MatrixXd expected = reference_pseudo_inverse(a, 0.0);
    EXPECT_LT((to_eigen(inv.get()) - expected).cwiseAbs().maxCoeff(), 1e-3);
  }
}

TEST(PseudoInverse, ExactlyZeroSingularValueIsReportedOnceAndSkipped) {
  // Second column zero: singular values 5 and exactly 0; the pseudo-inverse is
  // [0.12 0.16 0; 0 0 0] (first column (3,4,0) / 25).
  Eigen::MatrixXd a(3, 2);
  a << 3, 0, 4, 0, 0, 0;
  MatrixPtr m = from_eigen(a);
  ztr::test::ConsoleCapture console;
  MatrixPtr inv(ZTRnumerical_GetInversedMatrix(m.get()));
  const std::string err = console.finish();
  ASSERT_TRUE(inv);
  EXPECT_EQ(count_occurrences(err, "<!> 0 element in W of SVD\n"), 1);
  Eigen::MatrixXd expected(2, 3);
  expected << 0.12, 0.16, 0, 0, 0, 0;
  EXPECT_LT((to_eigen(inv.get()) - expected).cwiseAbs().maxCoeff(), 1e-6);
}

TEST(PseudoInverse, ZeroMatrixGivesZeroPseudoInverse) {
  MatrixPtr m(ZTR_NewMatrix(7, 6));
  ztr::test::ConsoleCapture console;
  MatrixPtr inv(ZTRnumerical_GetInversedMatrix(m.get()));
  const std::string err = console.finish();
  ASSERT_TRUE(inv);
  EXPECT_EQ(count_occurrences(err, "<!> 0 element in W of SVD\n"), 6);
  EXPECT_EQ(to_eigen(inv.get()).cwiseAbs().maxCoeff(), 0.0);
}

TEST(PseudoInverse, RankDeficientDesignMatrixGivesTheMoorePenroseInverse) {
  // Directions confined to the xy plane: the z columns of B vanish exactly; directions
  // repeated in a rotated frame give rank deficiency without exact zeros.
  std::mt19937 rng(3);
  for (int trial = 0; trial < 10; ++trial) {
    const Eigen::Matrix3d r = random_rotation(rng);
    std::vector<Eigen::Vector3d> directions;
    for (int k = 0; k < 12; ++k) {
      const double angle = 0.4 * k + 0.1 * trial;
      directions.push_back(r * Eigen::Vector3d(std::cos(angle), std::sin(angle), 0.0));
    }
    const Eigen::MatrixXd b = design_matrix(directions);  // rank 3 of 6
    MatrixPtr m = from_eigen(b);
    ztr::test::ConsoleCapture console;
    MatrixPtr inv(ZTRnumerical_GetInversedMatrix(m.get()));
    console.finish();
    ASSERT_TRUE(inv);
    const Eigen::MatrixXd p = to_eigen(inv.get());
    const Eigen::MatrixXd expected = reference_pseudo_inverse(b);
    EXPECT_LT((p - expected).cwiseAbs().maxCoeff(), 1e-3) << "trial " << trial;
    // Penrose conditions.
    EXPECT_LT((b * p * b - b).cwiseAbs().maxCoeff(), 1e-4);
    EXPECT_LT((p * b * p - p).cwiseAbs().maxCoeff(), 1e-3);
  }
}

TEST(PseudoInverse, AbsentMatrixIsRefusedWithMessage) {
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRnumerical_GetInversedMatrix(nullptr), nullptr);
  EXPECT_EQ(console.finish(),
            "ZTRnumerical_GetInversedMatrix: matrix == NULL?\n");
}

TEST(LeastSquares, ConsistentOverdeterminedSystemIsSolvedExactly) {
  // B d = y for a known tensor d and the 6-direction design.
  std::vector<Eigen::Vector3d> directions = {{0.707, 0, 0.707},  {-0.707, 0, 0.707},
                                             {0, 0.707, 0.707},  {0, 0.707, -0.707},
                                             {0.707, 0.707, 0},  {-0.707, 0.707, 0},
                                             {0.577, 0.577, 0.577}};
  const Eigen::MatrixXd b = design_matrix(directions);
  Eigen::VectorXd d(6);
  d << 1.7e-3, 0.3e-3, 0.2e-3, 0.1e-3, -0.05e-3, 0.02e-3;
  const Eigen::VectorXd y = b * d;
  MatrixPtr m = from_eigen(b);
  VectorPtr v(ZTR_NewVector(7));
  for (int i = 0; i < 7; ++i) v->element[i] = float(y(i));
  VectorPtr x(ZTRnumerical_GetSolutionOfLinearEquations(m.get(), v.get()));
  ASSERT_TRUE(x);
  ASSERT_EQ(x->count, 6);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(x->element[i], d(i), 1e-8);
}

TEST(LeastSquares, MatchesEigenOnNoisySystems) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 20; ++trial) {
    const Eigen::MatrixXd a = random_matrix(rng, 30, 6);
    const Eigen::VectorXd y = random_matrix(rng, 30, 1);
    MatrixPtr m = from_eigen(a);
    VectorPtr v(ZTR_NewVector(30));
    for (int i = 0; i < 30; ++i) v->element[i] = float(y(i));
    VectorPtr x(ZTRnumerical_GetSolutionOfLinearEquations(m.get(), v.get()));
    ASSERT_TRUE(x);
    const Eigen::VectorXd expected = a.colPivHouseholderQr().solve(y);
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(x->element[i], expected(i), 1e-4);
  }
}

TEST(LeastSquares, AbsentInputsAndMismatchAreRefused) {
  MatrixPtr m(ZTR_NewMatrix(4, 2));
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRnumerical_GetSolutionOfLinearEquations(m.get(), nullptr), nullptr);
  EXPECT_EQ(console.finish(), "A or b = NULL?\n");
  VectorPtr v(ZTR_NewVector(3));
  m->element[0][0] = 1.0f;
  m->element[1][1] = 1.0f;
  ztr::test::ConsoleCapture console2;
  EXPECT_EQ(ZTRnumerical_GetSolutionOfLinearEquations(m.get(), v.get()), nullptr);
  EXPECT_NE(console2.finish().find("Dimension mismatched (4<->3)\n"),
            std::string::npos);
}

TEST(SingularValueDecomposition, ReconstructsTheInput) {
  std::mt19937 rng(17);
  for (int trial = 0; trial < 10; ++trial) {
    const int m = 2 + trial, n = 4;
    const Eigen::MatrixXd a = random_matrix(rng, m, n);
    float** u = nr::matrix(1, m, 1, n);
    float** v = nr::matrix(1, n, 1, n);
    float* w = nr::vector(1, n);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) u[i + 1][j + 1] = float(a(i, j));
    ASSERT_EQ(nr::svdcmp(u, m, n, w, v), 0);
    Eigen::MatrixXd ue(m, n), ve(n, n);
    Eigen::VectorXd we(n);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) ue(i, j) = u[i + 1][j + 1];
    for (int i = 0; i < n; ++i) {
      we(i) = w[i + 1];
      EXPECT_GE(w[i + 1], 0.0f);
      for (int j = 0; j < n; ++j) ve(i, j) = v[i + 1][j + 1];
    }
    EXPECT_LT((ue * we.asDiagonal() * ve.transpose() - a).cwiseAbs().maxCoeff(), 1e-5);
    EXPECT_LT((ve.transpose() * ve - Eigen::MatrixXd::Identity(n, n)).cwiseAbs().maxCoeff(), 1e-5);
    nr::free_matrix(u, 1, m, 1, n);
    nr::free_matrix(v, 1, n, 1, n);
    nr::free_vector(w, 1, n);
  }
}

TEST(Pythag, IsTheHypotenuseWithoutOverflow) {
  EXPECT_FLOAT_EQ(nr::pythag(3.0f, 4.0f), 5.0f);
  EXPECT_FLOAT_EQ(nr::pythag(-4.0f, 3.0f), 5.0f);
  EXPECT_EQ(nr::pythag(0.0f, 0.0f), 0.0f);
  EXPECT_FLOAT_EQ(nr::pythag(3e30f, 4e30f), 5e30f);
  EXPECT_FLOAT_EQ(nr::pythag(3e-30f, 4e-30f), 5e-30f);
}

// ---- LU inverse -------------------------------------------------------------------------

TEST(LuInverse, MatchesEigenOnWellConditionedMatrices) {
  std::mt19937 rng(23);
  for (int n = 1; n <= 12; ++n) {
    const Eigen::MatrixXd a =
        random_matrix(rng, n, n) + 3.0 * Eigen::MatrixXd::Identity(n, n);
    MatrixPtr m = from_eigen(a);
    MatrixPtr inv(ZTRnumerical_GetInversedMatrixByLU(m.get()));
    ASSERT_TRUE(inv);
    EXPECT_LT((to_eigen(inv.get()) - a.inverse()).cwiseAbs().maxCoeff(), 1e-5) << "n " << n;
  }
}

TEST(LuInverse, PivotsPastAZeroLeadingElement) {
  // [0 1; 1 0] is its own inverse and needs a row exchange.
  MatrixPtr m(ZTR_NewMatrix(2, 2));
  m->element[0][1] = 1.0f;
  m->element[1][0] = 1.0f;
  MatrixPtr inv(ZTRnumerical_GetInversedMatrixByLU(m.get()));
  ASSERT_TRUE(inv);
  EXPECT_EQ(inv->element[0][0], 0.0f);
  EXPECT_EQ(inv->element[0][1], 1.0f);
  EXPECT_EQ(inv->element[1][0], 1.0f);
  EXPECT_EQ(inv->element[1][1], 0.0f);
}

TEST(LuInverse, NonSquareMatrixIsRefusedSilently) {
  MatrixPtr m(ZTR_NewMatrix(2, 3));
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRnumerical_GetInversedMatrixByLU(m.get()), nullptr);
  EXPECT_EQ(console.finish(), "");
}

TEST(LuInverse, ZeroRowIsRefusedWithMessageAndTheProcessGoesOn) {
  MatrixPtr m(ZTR_NewMatrix(3, 3));
  m->element[0][0] = 1.0f;
  m->element[2][2] = 1.0f;  // row 1 is all zero
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRnumerical_GetInversedMatrixByLU(m.get()), nullptr);
  EXPECT_EQ(console.finish(),
            "Numerical Recipes run-time error...\nSingular matrix in routine ludcmp\n");
}

// ---- symmetric eigen systems --------------------------------------------------------------

namespace {

void expect_valid_eigen_system(const Eigen::Matrix3d& a, const float values[3],
                               const float vectors[3][3], double tolerance) {
  Eigen::Matrix3d v;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) v(i, j) = vectors[i][j];
  EXPECT_LE(values[0], values[1]);
  EXPECT_LE(values[1], values[2]);
  EXPECT_LT((v.transpose() * v - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff(), 1e-5);
  for (int k = 0; k < 3; ++k)
    EXPECT_LT((a * v.col(k) - values[k] * v.col(k)).norm(), tolerance) << "column " << k;
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> reference(a);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(values[k], reference.eigenvalues()(k), tolerance);
}

}  // namespace

TEST(SymmetricEigen, DiagonalMatrixSortsValuesAndKeepsVectorsWithThem) {
  const float a[3][3] = {{3, 0, 0}, {0, 1, 0}, {0, 0, 2}};
  float values[3], vectors[3][3];
  EXPECT_EQ(eigen_decompose_symmetric_3x3(a, values, vectors), 1);
  EXPECT_FLOAT_EQ(values[0], 1.0f);
  EXPECT_FLOAT_EQ(values[1], 2.0f);
  EXPECT_FLOAT_EQ(values[2], 3.0f);
  // Eigenvalue 1 belongs to y, 2 to z, 3 to x.
  EXPECT_NEAR(std::fabs(vectors[1][0]), 1.0f, 1e-6);
  EXPECT_NEAR(std::fabs(vectors[2][1]), 1.0f, 1e-6);
  EXPECT_NEAR(std::fabs(vectors[0][2]), 1.0f, 1e-6);
}

TEST(SymmetricEigen, RandomTensorsMatchEigen) {
  std::mt19937 rng(29);
  for (int trial = 0; trial < 200; ++trial) {
    const Eigen::Matrix3d r = random_rotation(rng);
    const Eigen::Vector3d lambda = Eigen::Vector3d::Random().cwiseAbs() * 2e-3;
    const Eigen::Matrix3d a = r * lambda.asDiagonal() * r.transpose();
    float af[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) af[i][j] = float(a(i, j));
    float values[3], vectors[3][3];
    ASSERT_EQ(eigen_decompose_symmetric_3x3(af, values, vectors), 1);
    expect_valid_eigen_system(a, values, vectors, 1e-8);
  }
}

TEST(SymmetricEigen, RandomIndefiniteMatricesMatchEigen) {
  std::mt19937 rng(31);
  for (int trial = 0; trial < 200; ++trial) {
    Eigen::Matrix3d a = Eigen::Matrix3d(random_matrix(rng, 3, 3));
    a = (a + a.transpose()).eval();
    float af[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) af[i][j] = float(a(i, j));
    Eigen::Matrix3d rounded;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) rounded(i, j) = af[i][j];
    float values[3], vectors[3][3];
    ASSERT_EQ(eigen_decompose_symmetric_3x3(af, values, vectors), 1);
    expect_valid_eigen_system(rounded, values, vectors, 2e-5);
  }
}

TEST(SymmetricEigen, RepeatedEigenvaluesGiveAnOrthonormalBasis) {
  std::mt19937 rng(37);
  const Eigen::Vector3d spectra[] = {{1, 1, 3}, {1, 3, 3}, {2, 2, 2}, {0, 0, 1}};
  for (const Eigen::Vector3d& lambda : spectra) {
    for (int trial = 0; trial < 20; ++trial) {
      const Eigen::Matrix3d r = random_rotation(rng);
      const Eigen::Matrix3d a = r * lambda.asDiagonal() * r.transpose();
      float af[3][3];
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) af[i][j] = float(a(i, j));
      float values[3], vectors[3][3];
      ASSERT_EQ(eigen_decompose_symmetric_3x3(af, values, vectors), 1);
      expect_valid_eigen_system(a, values, vectors, 2e-6);
    }
  }
}

TEST(SymmetricEigen, ZeroMatrixHasZeroValuesAndUnitVectors) {
  const float a[3][3] = {};
  float values[3], vectors[3][3];
  EXPECT_EQ(eigen_decompose_symmetric_3x3(a, values, vectors), 1);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(values[k], 0.0f);
  expect_valid_eigen_system(Eigen::Matrix3d::Zero(), values, vectors, 1e-12);
}

TEST(SymmetricEigen, NonConvergenceFallsBackToIdentityAndTinyValues) {
  const float nan = std::nanf("");
  const float a[3][3] = {{1, nan, 0}, {nan, 2, 0.5f}, {0, 0.5f, 3}};
  float values[3], vectors[3][3];
  EXPECT_EQ(eigen_decompose_symmetric_3x3(a, values, vectors), 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(values[i], 1.0e-14f);
    for (int j = 0; j < 3; ++j) EXPECT_EQ(vectors[i][j], i == j ? 1.0f : 0.0f);
  }
}

TEST(SymmetricEigen, TridiagonalisationAndQlWorkOnLargerMatrices) {
  std::mt19937 rng(41);
  for (int n = 2; n <= 8; ++n) {
    Eigen::MatrixXd a = random_matrix(rng, n, n);
    a = (a + a.transpose()).eval();
    float** z = nr::matrix(1, n, 1, n);
    float* d = nr::vector(1, n);
    float* e = nr::vector(1, n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) z[i + 1][j + 1] = float(a(i, j));
    nr::tred2(z, n, d, e);
    EXPECT_EQ(e[1], 0.0f);
    ASSERT_EQ(nr::tqli(d, e, n, z), 1);
    Eigen::MatrixXd v(n, n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) v(i, j) = z[i + 1][j + 1];
    for (int k = 0; k < n; ++k)
      EXPECT_LT((a * v.col(k) - d[k + 1] * v.col(k)).norm(), 1e-4) << "n " << n;
    std::vector<double> mine(d + 1, d + n + 1);
    std::sort(mine.begin(), mine.end());
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> reference(a);
    for (int k = 0; k < n; ++k) EXPECT_NEAR(mine[k], reference.eigenvalues()(k), 1e-4);
    nr::free_matrix(z, 1, n, 1, n);
    nr::free_vector(d, 1, n);
    nr::free_vector(e, 1, n);
  }
}

// ---- paired sort --------------------------------------------------------------------------

TEST(PairedSort, EqualKeysOfThreeKeepTheirOrder) {
  float arr[4] = {0, 2, 1, 2};
  float brr[4] = {0, 10, 20, 30};
  nr::sort2(3, arr, brr);
  EXPECT_EQ(arr[1], 1.0f);
  EXPECT_EQ(arr[2], 2.0f);
  EXPECT_EQ(arr[3], 2.0f);
  EXPECT_EQ(brr[1], 20.0f);
  EXPECT_EQ(brr[2], 10.0f);
  EXPECT_EQ(brr[3], 30.0f);
}

TEST(PairedSort, LongArraysAreSortedWithPartnersAttached) {
  std::mt19937 rng(43);
  std::uniform_int_distribution<int> u(-50, 50);
  for (int n : {7, 8, 20, 100, 1000}) {
    std::vector<float> arr(n + 1), brr(n + 1);
    for (int i = 1; i <= n; ++i) {
      arr[i] = float(u(rng));
      brr[i] = arr[i] * 3.0f + 0.5f;  // partner derivable from its key
    }
    std::vector<float> expected(arr.begin() + 1, arr.end());
    std::sort(expected.begin(), expected.end());
    nr::sort2(n, arr.data(), brr.data());
    for (int i = 1; i <= n; ++i) {
      EXPECT_EQ(arr[i], expected[i - 1]);
      EXPECT_EQ(brr[i], arr[i] * 3.0f + 0.5f);
    }
  }
}

// The fixed 3 x 3 solver against the general routines it specialises (tred2, tqli on row
// tables, float normalisation, sort2 on every row and on the values): the same operations in
// the same order, so the same bits, on tensors, indefinite and repeated-eigenvalue matrices.
TEST(SymmetricEigen, FixedThreeByThreeSolverEqualsTheGeneralRoutinesBitForBit) {
  std::mt19937 rng(41);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int trial = 0; trial < 3000; ++trial) {
    float a[3][3];
    for (int i = 0; i < 3; ++i) {
      for (int j = i; j < 3; ++j) a[i][j] = a[j][i] = u(rng) * (trial % 3 == 0 ? 1e-3f : 1.0f);
    }
    if (trial % 5 == 0) a[0][1] = a[1][0] = a[0][2] = a[2][0] = 0.0f;  // already reduced rows
    if (trial % 7 == 0) a[1][1] = a[2][2];                              // repeated values
    float general[4][4] = {}, fixed[4][4] = {};
    float* rows[4] = {general[0], general[1], general[2], general[3]};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) general[i + 1][j + 1] = fixed[i + 1][j + 1] = a[i][j];
    }
    float d_general[4] = {}, e_general[4] = {}, d_fixed[4] = {}, e_fixed[4] = {};
    nr::tred2(rows, 3, d_general, e_general);
    const int converged_general = nr::tqli(d_general, e_general, 3, rows);
    if (converged_general) {
      for (int j = 1; j <= 3; ++j) {
        const float norm = std::sqrt(general[1][j] * general[1][j] + general[2][j] * general[2][j] +
                                     general[3][j] * general[3][j]);
        if (norm > 0) {
          for (int i = 1; i <= 3; ++i) general[i][j] /= norm;
        }
      }
      for (int i = 1; i <= 3; ++i) {
        float keys[4] = {0, d_general[1], d_general[2], d_general[3]};
        nr::sort2(3, keys, general[i]);
      }
      float unused[4] = {0, 1, 2, 3};
      nr::sort2(3, d_general, unused);
    }
    ASSERT_EQ(ZTRnumerical_EigenSymmetric3x3(fixed, d_fixed, e_fixed), converged_general) << trial;
    for (int i = 1; i <= 3; ++i) {
      ASSERT_EQ(d_fixed[i], d_general[i]) << "trial " << trial << " value " << i;
      for (int j = 1; j <= 3; ++j) ASSERT_EQ(fixed[i][j], general[i][j]) << "trial " << trial;
    }
  }
}

// ---- the principal eigenvector alone ------------------------------------------------------

namespace {

std::array<float, 6> from_spectrum(const Eigen::Matrix3d& r, const Eigen::Vector3d& lambda) {
  const Eigen::Matrix3d a = r * lambda.asDiagonal() * r.transpose();
  return {float(a(0, 0)), float(a(1, 1)), float(a(2, 2)), float(a(0, 1)), float(a(1, 2)), float(a(0, 2))};
}

}  // namespace

// Where lambda1 stands clear of lambda2 the closed form gives the exact e1 of the float matrix
// (to double rounding) and so the solver's e1 up to the solver's own float rounding and sign;
// elsewhere (close or repeated lambda1, zero, not finite) it is the solver's e1 bit for bit.
TEST(PrincipalEigenvector, AgreesWithTheFullSolverOnRandomAndSpecialMatrices) {
  const float nan = std::nanf("");
  std::vector<std::array<float, 6>> cases = {
      {1, 2, 3, 0, 0, 0},          {3, 2, 1, 0, 0, 0},        {2, 2, 1, 0, 0, 0},  // oblate
      {1, 1, 2, 0, 0, 0},          {0, 0, 0, 0, 0, 0},        {5, 5, 5, 0, 0, 0},  // isotropic
      {-1, -2, -3, 0, 0, 0},       {-3, -2, -1, 0.5f, 0, 0},  {1e-30f, 2e-30f, 0, 1e-30f, 0, 0},
      {1e30f, 3e30f, 0, 1e30f, 0, 0}, {1, nan, 0, 0, 0, 0},    {1, 2, 3, HUGE_VALF, 0, 0},
      {1.7e-3f, 0.3e-3f, 0.3e-3f, 0, 0, 0}};
  std::mt19937 rng(47);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 3000; ++trial) {
    const Eigen::Matrix3d r = random_rotation(rng);
    Eigen::Vector3d lambda(u(rng), u(rng), u(rng));
    if (trial % 3 == 0) lambda = lambda.cwiseAbs() * 2e-3;  // tensors
    if (trial % 4 == 1) lambda(1) = lambda(0) * (1.0 - std::pow(10.0, -1.0 - 3.0 * (u(rng) + 1.0) / 2.0));
    cases.push_back(from_spectrum(r, lambda));
  }
  int closed_form = 0, solver = 0;
  for (size_t n = 0; n < cases.size(); ++n) {
    const float* el = cases[n].data();
    float fast[3], full[3];
    const int converged = ZTRnumerical_SolverPrincipalEigenvector3x3(el, full);
    ASSERT_EQ(ZTRnumerical_PrincipalEigenvector3x3(el, fast), converged) << n;
    double scale = 0.0;
    for (int i = 0; i < 6; ++i) scale = std::max(scale, std::fabs(double(el[i])));
    Eigen::Matrix3d a;
    a << el[0], el[3], el[5], el[3], el[1], el[4], el[5], el[4], el[2];
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> reference(a);
    const double gap = std::isfinite(scale) && scale > 0.0
                           ? (reference.eigenvalues()(2) - reference.eigenvalues()(1)) / scale
                           : 0.0;
    if (!(gap > 1.05 * ZTR_PRINCIPAL_CLEAR_GAP)) {
      if (gap < 0.95 * ZTR_PRINCIPAL_CLEAR_GAP) {
        ++solver;
        for (int k = 0; k < 3; ++k) ASSERT_EQ(fast[k], full[k]) << "case " << n;
      }
      continue;
    }
    ++closed_form;
    const Eigen::Vector3d e1 = reference.eigenvectors().col(2);
    const double sign = e1.dot(Eigen::Vector3d(fast[0], fast[1], fast[2])) < 0 ? -1.0 : 1.0;
    const double sign_full = e1.dot(Eigen::Vector3d(full[0], full[1], full[2])) < 0 ? -1.0 : 1.0;
    for (int k = 0; k < 3; ++k) {
      ASSERT_NEAR(sign * fast[k], e1(k), 2e-7) << "case " << n;
      // The solver works in float: its error grows as lambda1 nears lambda2.
      ASSERT_NEAR(sign * fast[k], sign_full * full[k], 4e-7 * (1.0 + 1.0 / gap)) << "case " << n;
    }
  }
  EXPECT_GT(closed_form, 2000);
  EXPECT_GT(solver, 300);
}
