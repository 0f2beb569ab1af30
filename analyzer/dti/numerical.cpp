// Dense float matrices and vectors, their products, the SVD pseudo-inverse with the
// least-squares solution built on it, and the LU inverse.
#include "analyzer/dti/numerical.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

// Owns 1-based work storage and releases it on every path.
struct WorkMatrix {
  float** m = nullptr;
  long rows = 0;
  long columns = 0;
  WorkMatrix(long r, long c) : m(nr::matrix(1, r, 1, c)), rows(r), columns(c) {}
  ~WorkMatrix() { nr::free_matrix(m, 1, rows, 1, columns); }
  WorkMatrix(const WorkMatrix&) = delete;
  WorkMatrix& operator=(const WorkMatrix&) = delete;
};

struct WorkVector {
  float* v = nullptr;
  long size = 0;
  explicit WorkVector(long n) : v(nr::vector(1, n)), size(n) {}
  ~WorkVector() { nr::free_vector(v, 1, size); }
  WorkVector(const WorkVector&) = delete;
  WorkVector& operator=(const WorkVector&) = delete;
};

bool valid_matrix(const ZTR_MATRIX* a) {
  return a != nullptr && a->rows > 0 && a->columns > 0 && a->element != nullptr;
}

}  // namespace

ZTR_MATRIX* ZTR_NewMatrix(int32_t rows, int32_t columns) {
  if (rows <= 0 || columns <= 0) return nullptr;
  const size_t count = static_cast<size_t>(rows) * static_cast<size_t>(columns);
  if (count > std::numeric_limits<size_t>::max() / sizeof(float)) return nullptr;
  auto* matrix = static_cast<ZTR_MATRIX*>(std::calloc(1, sizeof(ZTR_MATRIX)));
  if (matrix == nullptr) return nullptr;
  matrix->element = static_cast<float**>(std::calloc(static_cast<size_t>(rows), sizeof(float*)));
  auto* block = static_cast<float*>(std::calloc(count, sizeof(float)));
  if (matrix->element == nullptr || block == nullptr) {
    std::free(block);
    std::free(matrix->element);
    std::free(matrix);
    return nullptr;
  }
  for (int32_t i = 0; i < rows; ++i) matrix->element[i] = block + static_cast<size_t>(i) * columns;
  matrix->rows = rows;
  matrix->columns = columns;
  return matrix;
}

void ZTR_DeleteMatrix(ZTR_MATRIX* matrix) {
  if (matrix == nullptr) return;
  if (matrix->element != nullptr) std::free(matrix->element[0]);
  std::free(matrix->element);
  std::free(matrix);
}

ZTR_VECTOR* ZTR_NewVector(int32_t count) {
  if (count <= 0) return nullptr;
  auto* vector = static_cast<ZTR_VECTOR*>(std::calloc(1, sizeof(ZTR_VECTOR)));
  if (vector == nullptr) return nullptr;
  vector->element = static_cast<float*>(std::calloc(static_cast<size_t>(count), sizeof(float)));
  if (vector->element == nullptr) {
    std::free(vector);
    return nullptr;
  }
  vector->count = count;
  return vector;
}

void ZTR_DeleteVector(ZTR_VECTOR* vector) {
  if (vector == nullptr) return;
  std::free(vector->element);
  std::free(vector);
}

ZTR_MATRIX* ZTR_GetTransposedMatrix(const ZTR_MATRIX* a) {
  if (!valid_matrix(a)) return nullptr;
  ZTR_MATRIX* t = ZTR_NewMatrix(a->columns, a->rows);
  if (t == nullptr) return nullptr;
  for (int32_t i = 0; i < a->rows; ++i)
    for (int32_t j = 0; j < a->columns; ++j) t->element[j][i] = a->element[i][j];
  return t;
}

ZTR_MATRIX* ZTR_GetMatrixProduct(const ZTR_MATRIX* a, const ZTR_MATRIX* b) {
  if (!valid_matrix(a) || !valid_matrix(b)) return nullptr;
  if (a->columns != b->rows) {
    std::fprintf(stderr, "Dimension mismatched (%d<->%d)\n", a->columns, b->rows);
    return nullptr;
  }
  ZTR_MATRIX* p = ZTR_NewMatrix(a->rows, b->columns);
  if (p == nullptr) return nullptr;
  for (int32_t i = 0; i < a->rows; ++i) {
    for (int32_t j = 0; j < b->columns; ++j) {
      float sum = 0.0f;
      for (int32_t m = 0; m < a->columns; ++m) sum += a->element[i][m] * b->element[m][j];
      p->element[i][j] = sum;
    }
  }
  return p;
}

ZTR_VECTOR* ZTR_GetMatrixVectorProduct(const ZTR_MATRIX* a, const ZTR_VECTOR* v) {
  if (!valid_matrix(a) || v == nullptr || v->element == nullptr) return nullptr;
  if (a->columns != v->count) {
    std::fprintf(stderr, "Dimension mismatched (%d<->%d)\n", a->columns, v->count);
    return nullptr;
  }
  ZTR_VECTOR* p = ZTR_NewVector(a->rows);
  if (p == nullptr) return nullptr;
  for (int32_t i = 0; i < a->rows; ++i) {
    float sum = 0.0f;
    for (int32_t m = 0; m < a->columns; ++m) sum += a->element[i][m] * v->element[m];
    p->element[i] = sum;
  }
  return p;
}

ZTR_MATRIX* ZTRnumerical_GetInversedMatrix(const ZTR_MATRIX* a) {
  if (!valid_matrix(a)) {
    std::fprintf(stderr, "ZTRnumerical_GetInversedMatrix: matrix == NULL?\n");
    return nullptr;
  }
  const int m = a->rows;
  const int n = a->columns;
  WorkMatrix u(m, n);
  if (u.m == nullptr) {
    std::fprintf(stderr, "ZTRnumerical_GetInversedMatrix: U == NULL?\n");
    return nullptr;
  }
  WorkMatrix v(n, n);
  if (v.m == nullptr) {
    std::fprintf(stderr, "ZTRnumerical_GetInversedMatrix: V == NULL?\n");
    return nullptr;
  }
  WorkVector w(n);
  if (w.v == nullptr) {
    std::fprintf(stderr, "ZTRnumerical_GetInversedMatrix: W == NULL?\n");
    return nullptr;
  }
  WorkVector winv(n);
  if (winv.v == nullptr) {
    std::fprintf(stderr, "ZTRnumerical_GetInversedMatrix: Winv == NULL?\n");
    return nullptr;
  }
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) u.m[i + 1][j + 1] = a->element[i][j];
  if (nr::svdcmp(u.m, m, n, w.v, v.m) != 0) return nullptr;

  // Singular values at rounding level relative to the largest carry no information: their
  // reciprocals would only amplify noise, so they count as zero like an exact 0.
  float largest = 0.0f;
  for (int j = 1; j <= n; ++j) largest = std::fmax(largest, std::fabs(w.v[j]));
  const float negligible = largest * FLT_EPSILON * static_cast<float>(m > n ? m : n);
  for (int j = 1; j <= n; ++j) {
    if (w.v[j] == 0.0f || std::fabs(w.v[j]) <= negligible || !std::isfinite(w.v[j])) {
      std::fprintf(stderr, "<!> 0 element in W of SVD\n");
      winv.v[j] = 0.0f;
    } else {
      winv.v[j] = 1.0f / w.v[j];
    }
  }
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) v.m[i][j] *= winv.v[j];

  MatrixPtr ut(ZTR_NewMatrix(n, m));
  MatrixPtr v0(ZTR_NewMatrix(n, n));
  if (!ut || !v0) return nullptr;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) ut->element[j][i] = u.m[i + 1][j + 1];
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) v0->element[i][j] = v.m[i + 1][j + 1];
  return ZTR_GetMatrixProduct(v0.get(), ut.get());
}

ZTR_VECTOR* ZTRnumerical_GetSolutionOfLinearEquations(const ZTR_MATRIX* a, const ZTR_VECTOR* b) {
  if (a == nullptr || b == nullptr) {
    std::fprintf(stderr, "A or b = NULL?\n");
    return nullptr;
  }
  MatrixPtr inverse(ZTRnumerical_GetInversedMatrix(a));
  if (!inverse) {
    std::fprintf(stderr, "invA = NULL?\n");
    return nullptr;
  }
  return ZTR_GetMatrixVectorProduct(inverse.get(), b);
}

ZTR_MATRIX* ZTRnumerical_GetInversedMatrixByLU(const ZTR_MATRIX* a) {
  if (!valid_matrix(a) || a->rows != a->columns) return nullptr;
  const int n = a->rows;
  WorkMatrix lu(n, n);
  WorkVector column(n);
  int* indx = nr::ivector(1, n);
  if (lu.m == nullptr || column.v == nullptr || indx == nullptr) {
    nr::free_ivector(indx, 1, n);
    return nullptr;
  }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) lu.m[i + 1][j + 1] = a->element[i][j];
  float parity = 0.0f;
  ZTR_MATRIX* result = nullptr;
  if (nr::ludcmp(lu.m, n, indx, &parity) == 0) result = ZTR_NewMatrix(n, n);
  if (result != nullptr) {
    for (int j = 1; j <= n; ++j) {
      for (int i = 1; i <= n; ++i) column.v[i] = (i == j) ? 1.0f : 0.0f;
      nr::lubksb(lu.m, n, indx, column.v);
      for (int i = 1; i <= n; ++i) result->element[i - 1][j - 1] = column.v[i];
    }
  }
  nr::free_ivector(indx, 1, n);
  return result;
}
