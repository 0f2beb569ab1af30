// Small dense linear algebra in single precision (matrices, vectors, SVD pseudo-inverse,
// least squares, LU inverse, symmetric eigen systems) and two channel utilities
// (threshold binarisation, box histogram). Every routine is re-entrant: no shared scratch.
#pragma once

#include <cstdint>
#include <memory>

#include "sdk/volume/raw_volume.h"

// Dense row-major matrix: element (i, j), 0-based, is element[i][j]; one zero-initialised
// block of rows x columns floats with a row pointer table into it.
struct ZTR_MATRIX {
  int32_t rows;
  int32_t columns;
  float** element;
};

struct ZTR_VECTOR {
  int32_t count;
  float* element;  // zero-initialised block of count floats
};

// ---- matrices and vectors: creation returns nullptr when a size is not positive or
// ---- memory runs out; every Get result is new and released by the caller -------------

ZTR_MATRIX* ZTR_NewMatrix(int32_t rows, int32_t columns);
void ZTR_DeleteMatrix(ZTR_MATRIX* matrix);  // nullptr ignored
ZTR_VECTOR* ZTR_NewVector(int32_t count);
void ZTR_DeleteVector(ZTR_VECTOR* vector);  // nullptr ignored

ZTR_MATRIX* ZTR_GetTransposedMatrix(const ZTR_MATRIX* a);
// A (r x k) times B (k x c); "Dimension mismatched (%d<->%d)\n" and nullptr on a mismatch.
ZTR_MATRIX* ZTR_GetMatrixProduct(const ZTR_MATRIX* a, const ZTR_MATRIX* b);
// A (r x k) times v (k); "Dimension mismatched (%d<->%d)\n" and nullptr on a mismatch.
ZTR_VECTOR* ZTR_GetMatrixVectorProduct(const ZTR_MATRIX* a, const ZTR_VECTOR* v);

// The n x m pseudo-inverse of A (m x n) by SVD; an exactly zero singular value prints
// "<!> 0 element in W of SVD\n" and contributes nothing. nullptr on failure (message).
ZTR_MATRIX* ZTRnumerical_GetInversedMatrix(const ZTR_MATRIX* a);
// Least-squares solution x (n) of A x = b (A m x n, b m) through the pseudo-inverse.
ZTR_VECTOR* ZTRnumerical_GetSolutionOfLinearEquations(const ZTR_MATRIX* a, const ZTR_VECTOR* b);
// Inverse of a square matrix by LU decomposition. nullptr without a message when A is not
// square or memory runs out; nullptr after the singular-matrix message when A is singular.
ZTR_MATRIX* ZTRnumerical_GetInversedMatrixByLU(const ZTR_MATRIX* a);

// ---- 1-based work routines -------------------------------------------------------------
namespace nr {

// Prints "Numerical Recipes run-time error...\n" and the text. Unlike the classic routine
// it does not end the process: callers return failure instead.
void nrerror(const char* text);

// vector(nl, nh): floats addressed nl .. nh (zeroed). nullptr (after nrerror) on failure.
float* vector(long nl, long nh);
void free_vector(float* v, long nl, long nh);
int* ivector(long nl, long nh);
void free_ivector(int* v, long nl, long nh);
// matrix(nrl, nrh, ncl, nch): rows nrl .. nrh, columns ncl .. nch, one block (zeroed).
float** matrix(long nrl, long nrh, long ncl, long nch);
void free_matrix(float** m, long nrl, long nrh, long ncl, long nch);

// sqrt(a^2 + b^2) without destructive overflow or underflow.
float pythag(float a, float b);
// A = U W V^T for a[1..m][1..n] (replaced by U), w[1..n], v[1..n][1..n]. Up to 1000
// sweeps per singular value; singular values unsorted. -1 only when scratch allocation fails.
int svdcmp(float** a, int m, int n, float* w, float** v);
// LU decomposition in place with implicit partial pivoting; -1 (after
// "Singular matrix in routine ludcmp") for a matrix with an all-zero row, or no memory.
int ludcmp(float** a, int n, int* indx, float* d);
void lubksb(float** a, int n, const int* indx, float* b);
// Householder tridiagonalisation of symmetric a[1..n][1..n]: d diagonal, e sub-diagonal
// (e[1] = 0), a replaced by the accumulated orthogonal transformation.
void tred2(float** a, int n, float* d, float* e);
// QL with implicit shifts: d eigenvalues, column k of z the eigenvector of d[k]. Returns 1;
// returns 0 after more than 30 iterations for one eigenvalue, with z = identity and every
// d[k] and e[k] = 1.0e-14.
int tqli(float* d, float* e, int n, float** z);
// tred2 and tqli for n = 3 on fixed stack arrays: the same operations in the same order as
// the general routines, so the same results, without row tables or run-time sizes.
void tred2_3(float a[4][4], float d[4], float e[4]);
int tqli_3(float d[4], float e[4], float z[4][4]);
// Sorts arr[1..n] ascending and applies the same rearrangement to brr[1..n]; stable for n <= 6.
void sort2(unsigned long n, float* arr, float* brr);

}  // namespace nr

// The eigen system of a symmetric 3 x 3 matrix in the 1-based layout of the tensor record,
// for every per-voxel caller (tensor fit, tracking): a[1..3][1..3] holds the matrix and is
// replaced by the unit eigenvectors as columns (normalised in float), d[1..3] receives the
// eigenvalues ascending with the columns following them, e is scratch. tred2 + tqli + the
// paired sort, specialised for n = 3; no allocation, safe on any thread. Returns 1, or 0
// when tqli did not converge (a = identity, every d[k] = 1.0e-14).
int ZTRnumerical_EigenSymmetric3x3(float a[4][4], float d[4], float e[4]);

// The unit eigenvector of the largest eigenvalue alone, for callers that need nothing else
// (the colour of the standard maps), of the symmetric matrix with elements
// (xx, yy, zz, xy, yz, zx). When lambda1 stands clear of lambda2 by at least
// ZTR_PRINCIPAL_CLEAR_GAP times the largest |element|, it comes from the closed form in
// double (trigonometric eigenvalue, longest cross product of two rows of A - lambda1 I):
// there the vector is well conditioned and ZTRnumerical_EigenSymmetric3x3 gives the same one
// up to float rounding and sign. Otherwise (close or repeated eigenvalues, the zero matrix,
// elements that are not finite) it is that solver's column of lambda1 itself. Returns 1, or 0
// when the solver did not converge (e1 is then (0, 0, 1), the identity's column).
inline constexpr double ZTR_PRINCIPAL_CLEAR_GAP = 1e-2;
int ZTRnumerical_PrincipalEigenvector3x3(const float elements[6], float e1[3]);
// The same vector always from ZTRnumerical_EigenSymmetric3x3 (the fallback above). 1, or 0
// when it did not converge.
int ZTRnumerical_SolverPrincipalEigenvector3x3(const float elements[6], float e1[3]);

// Convenience for 3 x 3 symmetric matrices (0-based): tred2 + tqli, unit eigenvector
// columns, eigenvalues ascending with columns following them. Returns 1, or 0 when tqli
// did not converge (identity vectors, every value 1.0e-14).
int eigen_decompose_symmetric_3x3(const float a[3][3], float values[3], float vectors[3][3]);

// ---- channel utilities -----------------------------------------------------------------

// Every voxel >= threshold becomes 1 (1.0 for float channels), every other 0; the
// comparison is made in the channel's own type. Returns the number of voxels set, or -1
// for an absent volume or channel.
int64_t ZTRnumerical_BinarizeChannel(RawVolumeData* volume, int32_t channel, float threshold);

struct ZTR_HISTOGRAM {
  int32_t bins;      // maximum - minimum + 1
  int32_t minimum;   // smallest value met
  int32_t maximum;   // largest value met
  int64_t* counts;   // bins counters: counts[i] counts the value minimum + i
  int64_t peak_count;  // highest count
  int32_t peak_index;  // first bin that reaches it
};

// Histogram of channel `channel` over the box start[3], size[3] (whole volume when either is
// nullptr or any size is 0). Values are truncated toward zero and clamped to the signed
// 16-bit range. The box is clipped to the volume; nullptr when it holds no voxel, the
// channel is absent or memory runs out.
ZTR_HISTOGRAM* ZTRnumerical_GetBoxHistogram(const RawVolumeData* volume, int32_t channel,
                                            const int32_t* start, const int32_t* size);
void ZTRnumerical_DeleteBoxHistogram(ZTR_HISTOGRAM* histogram);  // nullptr ignored

// ---- owning pointers -------------------------------------------------------------------
struct MatrixDeleter {
  void operator()(ZTR_MATRIX* m) const { ZTR_DeleteMatrix(m); }
};
struct VectorDeleter {
  void operator()(ZTR_VECTOR* v) const { ZTR_DeleteVector(v); }
};
struct HistogramDeleter {
  void operator()(ZTR_HISTOGRAM* h) const { ZTRnumerical_DeleteBoxHistogram(h); }
};
using MatrixPtr = std::unique_ptr<ZTR_MATRIX, MatrixDeleter>;
using VectorPtr = std::unique_ptr<ZTR_VECTOR, VectorDeleter>;
using HistogramPtr = std::unique_ptr<ZTR_HISTOGRAM, HistogramDeleter>;
