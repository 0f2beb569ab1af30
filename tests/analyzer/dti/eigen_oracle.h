// Reference results from Eigen (double precision) for checking the float linear algebra kit.
#pragma once

#include <eigen3/Eigen/Dense>
#include <random>

#include "analyzer/dti/numerical.h"

inline Eigen::MatrixXd to_eigen(const ZTR_MATRIX* m) {
  Eigen::MatrixXd e(m->rows, m->columns);
  for (int i = 0; i < m->rows; ++i)
    for (int j = 0; j < m->columns; ++j) e(i, j) = m->element[i][j];
  return e;
}

// The Eigen matrix rounded to float.
inline MatrixPtr from_eigen(const Eigen::MatrixXd& e) {
  MatrixPtr m(ZTR_NewMatrix(static_cast<int32_t>(e.rows()), static_cast<int32_t>(e.cols())));
  for (int i = 0; i < e.rows(); ++i)
    for (int j = 0; j < e.cols(); ++j) m->element[i][j] = static_cast<float>(e(i, j));
  return m;
}

// Moore-Penrose pseudo-inverse from the singular values, with the usual relative cut-off.
inline Eigen::MatrixXd reference_pseudo_inverse(const Eigen::MatrixXd& a, double relative = 1e-5) {
  Eigen::JacobiSVD<Eigen::MatrixXd> svd(a, Eigen::ComputeThinU | Eigen::ComputeThinV);
  const Eigen::VectorXd& s = svd.singularValues();
  Eigen::VectorXd inv = Eigen::VectorXd::Zero(s.size());
  const double cut = s.size() > 0 ? s(0) * relative : 0.0;
  for (int i = 0; i < s.size(); ++i)
    if (s(i) > cut) inv(i) = 1.0 / s(i);
  return svd.matrixV() * inv.asDiagonal() * svd.matrixU().transpose();
}

inline Eigen::MatrixXd random_matrix(std::mt19937& rng, int rows, int columns) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Eigen::MatrixXd m(rows, columns);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) m(i, j) = u(rng);
  return m;
}

// A random rotation (orthonormal, determinant +1).
inline Eigen::Matrix3d random_rotation(std::mt19937& rng) {
  Eigen::HouseholderQR<Eigen::Matrix3d> qr(Eigen::Matrix3d(random_matrix(rng, 3, 3)));
  Eigen::Matrix3d q = qr.householderQ();
  if (q.determinant() < 0) q.col(0) = -q.col(0);
  return q;
}
