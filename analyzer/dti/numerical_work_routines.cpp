// The 1-based work routines of the linear algebra kit: allocators, singular value
// decomposition, LU decomposition, Householder tridiagonalisation, QL with implicit shifts
// and the paired sort. All scratch is local, so worker threads may call them concurrently.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

#include "analyzer/dti/numerical.h"

namespace nr {

namespace {

constexpr int kSvdMaxSweeps = 1000;
constexpr int kQlMaxIterations = 30;
constexpr float kTinyPivot = 1.0e-20f;
constexpr float kFallbackEigenvalue = 1.0e-14f;

// |a| carrying the sign of b.
inline float with_sign_of(float a, float b) { return b >= 0.0f ? std::fabs(a) : -std::fabs(a); }

}  // namespace

void nrerror(const char* text) {
  std::fprintf(stderr, "Numerical Recipes run-time error...\n");
  std::fprintf(stderr, "%s\n", text);
}

// The blocks start at index 0 and hold one spare element past the top index, so every
// index nl .. nh is inside the allocation without pointer arithmetic before its start.
float* vector(long nl, long nh) {
  if (nl < 0 || nh < nl - 1) {
    nrerror("allocation failure in vector()");
    return nullptr;
  }
  auto* v = static_cast<float*>(std::calloc(static_cast<size_t>(nh) + 2, sizeof(float)));
  if (v == nullptr) nrerror("allocation failure in vector()");
  return v;
}

void free_vector(float* v, long, long) { std::free(v); }

int* ivector(long nl, long nh) {
  if (nl < 0 || nh < nl - 1) {
    nrerror("allocation failure in ivector()");
    return nullptr;
  }
  auto* v = static_cast<int*>(std::calloc(static_cast<size_t>(nh) + 2, sizeof(int)));
  if (v == nullptr) nrerror("allocation failure in ivector()");
  return v;
}

void free_ivector(int* v, long, long) { std::free(v); }

float** matrix(long nrl, long nrh, long ncl, long nch) {
  if (nrl < 0 || ncl < 0 || nrh < nrl || nch < ncl) {
    nrerror("allocation failure 1 in matrix()");
    return nullptr;
  }
  auto** rows = static_cast<float**>(std::calloc(static_cast<size_t>(nrh) + 2, sizeof(float*)));
  if (rows == nullptr) {
    nrerror("allocation failure 1 in matrix()");
    return nullptr;
  }
  const size_t stride = static_cast<size_t>(nch) + 1;
  const size_t row_count = static_cast<size_t>(nrh - nrl) + 1;
  auto* block = static_cast<float*>(std::calloc(row_count * stride + 1, sizeof(float)));
  if (block == nullptr) {
    std::free(rows);
    nrerror("allocation failure 2 in matrix()");
    return nullptr;
  }
  for (long r = nrl; r <= nrh; ++r) rows[r] = block + static_cast<size_t>(r - nrl) * stride;
  return rows;
}

void free_matrix(float** m, long nrl, long, long, long) {
  if (m == nullptr) return;
  std::free(m[nrl]);
  std::free(m);
}

namespace {

inline float pythag_inline(float a, float b) {
  const float abs_a = std::fabs(a);
  const float abs_b = std::fabs(b);
  if (abs_a > abs_b) {
    const float ratio = abs_b / abs_a;
    const float square = ratio * ratio;
    return static_cast<float>(abs_a * std::sqrt(1.0 + static_cast<double>(square)));
  }
  if (abs_b == 0.0f) return 0.0f;
  const float ratio = abs_a / abs_b;
  const float square = ratio * ratio;
  return static_cast<float>(abs_b * std::sqrt(1.0 + static_cast<double>(square)));
}

}  // namespace

float pythag(float a, float b) { return pythag_inline(a, b); }

// Golub-Reinsch: Householder bidiagonalisation, accumulation of both transformations,
// then implicit-shift QR sweeps on the bidiagonal form.
int svdcmp(float** a, int m, int n, float* w, float** v) {
  if (m < 1 || n < 1) return -1;
  float* rv1 = vector(1, n);
  if (rv1 == nullptr) return -1;

  float g = 0.0f, scale = 0.0f, anorm = 0.0f;
  int l = 1;
  // Bidiagonalisation: column reflections give the diagonal w, row reflections the
  // super-diagonal rv1.
  for (int i = 1; i <= n; ++i) {
    l = i + 1;
    rv1[i] = scale * g;
    g = 0.0f;
    scale = 0.0f;
    float s = 0.0f;
    if (i <= m) {
      for (int k = i; k <= m; ++k) scale += std::fabs(a[k][i]);
      if (scale != 0.0f) {
        for (int k = i; k <= m; ++k) {
          a[k][i] /= scale;
          s += a[k][i] * a[k][i];
        }
        const float f = a[i][i];
        g = -with_sign_of(std::sqrt(s), f);
        const float h = f * g - s;
        a[i][i] = f - g;
        for (int j = l; j <= n; ++j) {
          float dot = 0.0f;
          for (int k = i; k <= m; ++k) dot += a[k][i] * a[k][j];
          const float factor = dot / h;
          for (int k = i; k <= m; ++k) a[k][j] += factor * a[k][i];
        }
        for (int k = i; k <= m; ++k) a[k][i] *= scale;
      }
    }
    w[i] = scale * g;
    g = 0.0f;
    s = 0.0f;
    scale = 0.0f;
    if (i <= m && i != n) {
      for (int k = l; k <= n; ++k) scale += std::fabs(a[i][k]);
      if (scale != 0.0f) {
        for (int k = l; k <= n; ++k) {
          a[i][k] /= scale;
          s += a[i][k] * a[i][k];
        }
        const float f = a[i][l];
        g = -with_sign_of(std::sqrt(s), f);
        const float h = f * g - s;
        a[i][l] = f - g;
        for (int k = l; k <= n; ++k) rv1[k] = a[i][k] / h;
        for (int j = l; j <= m; ++j) {
          float dot = 0.0f;
          for (int k = l; k <= n; ++k) dot += a[j][k] * a[i][k];
          for (int k = l; k <= n; ++k) a[j][k] += dot * rv1[k];
        }
        for (int k = l; k <= n; ++k) a[i][k] *= scale;
      }
    }
    const float size = std::fabs(w[i]) + std::fabs(rv1[i]);
    if (size > anorm) anorm = size;
  }

  // Right-hand transformations into v.
  for (int i = n; i >= 1; --i) {
    if (i < n) {
      if (g != 0.0f) {
        // Double division avoids a possible underflow of a[i][j] / a[i][l] / g.
        for (int j = l; j <= n; ++j)
          v[j][i] = static_cast<float>((static_cast<double>(a[i][j]) / a[i][l]) / g);
        for (int j = l; j <= n; ++j) {
          float dot = 0.0f;
          for (int k = l; k <= n; ++k) dot += a[i][k] * v[k][j];
          for (int k = l; k <= n; ++k) v[k][j] += dot * v[k][i];
        }
      }
      for (int j = l; j <= n; ++j) {
        v[i][j] = 0.0f;
        v[j][i] = 0.0f;
      }
    }
    v[i][i] = 1.0f;
    g = rv1[i];
    l = i;
  }

  // Left-hand transformations, in place in a.
  for (int i = (m < n ? m : n); i >= 1; --i) {
    l = i + 1;
    g = w[i];
    for (int j = l; j <= n; ++j) a[i][j] = 0.0f;
    if (g != 0.0f) {
      g = 1.0f / g;
      for (int j = l; j <= n; ++j) {
        float dot = 0.0f;
        for (int k = l; k <= m; ++k) dot += a[k][i] * a[k][j];
        const float factor = (dot / a[i][i]) * g;
        for (int k = i; k <= m; ++k) a[k][j] += factor * a[k][i];
      }
      for (int j = i; j <= m; ++j) a[j][i] *= g;
    } else {
      for (int j = i; j <= m; ++j) a[j][i] = 0.0f;
    }
    a[i][i] += 1.0f;
  }

  // Diagonalisation of the bidiagonal form, one singular value at a time from the bottom.
  for (int k = n; k >= 1; --k) {
    for (int sweep = 1; sweep <= kSvdMaxSweeps; ++sweep) {
      bool cancel = true;
      int nm = 0;
      for (l = k; l >= 1; --l) {
        nm = l - 1;
        if (std::fabs(rv1[l]) + anorm == anorm) {  // rv1[1] is always 0
          cancel = false;
          break;
        }
        if (std::fabs(w[nm]) + anorm == anorm) break;
      }
      if (cancel) {
        // w[nm] is negligible: chase rv1[l] out with rotations from the left.
        float c = 0.0f, s = 1.0f;
        for (int i = l; i <= k; ++i) {
          const float f = s * rv1[i];
          rv1[i] = c * rv1[i];
          if (std::fabs(f) + anorm == anorm) break;
          g = w[i];
          float h = pythag(f, g);
          w[i] = h;
          h = 1.0f / h;
          c = g * h;
          s = -f * h;
          for (int j = 1; j <= m; ++j) {
            const float y = a[j][nm];
            const float z = a[j][i];
            a[j][nm] = y * c + z * s;
            a[j][i] = z * c - y * s;
          }
        }
      }
      float z = w[k];
      if (l == k) {  // converged: make the singular value non-negative
        if (z < 0.0f) {
          w[k] = -z;
          for (int j = 1; j <= n; ++j) v[j][k] = -v[j][k];
        }
        break;
      }
      if (sweep == kSvdMaxSweeps) break;  // give up on this value, go on with the next
      // Shift from the bottom 2 x 2 minor.
      float x = w[l];
      nm = k - 1;
      float y = w[nm];
      g = rv1[nm];
      float h = rv1[k];
      float f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0f * h * y);
      g = pythag(f, 1.0f);
      f = ((x - z) * (x + z) + h * ((y / (f + with_sign_of(g, f))) - h)) / x;
      // Next QR transformation.
      float c = 1.0f, s = 1.0f;
      for (int j = l; j <= nm; ++j) {
        const int i = j + 1;
        g = rv1[i];
        y = w[i];
        h = s * g;
        g = c * g;
        z = pythag(f, h);
        rv1[j] = z;
        c = f / z;
        s = h / z;
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y *= c;
        for (int jj = 1; jj <= n; ++jj) {
          x = v[jj][j];
          z = v[jj][i];
          v[jj][j] = x * c + z * s;
          v[jj][i] = z * c - x * s;
        }
        z = pythag(f, h);
        w[j] = z;
        if (z != 0.0f) {
          z = 1.0f / z;
          c = f * z;
          s = h * z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        for (int jj = 1; jj <= m; ++jj) {
          y = a[jj][j];
          z = a[jj][i];
          a[jj][j] = y * c + z * s;
          a[jj][i] = z * c - y * s;
        }
      }
      rv1[l] = 0.0f;
      rv1[k] = f;
      w[k] = x;
    }
  }
  free_vector(rv1, 1, n);
  return 0;
}

// Crout's method with implicit partial pivoting (rows scaled by their largest element).
int ludcmp(float** a, int n, int* indx, float* d) {
  float* row_scale = vector(1, n);
  if (row_scale == nullptr) return -1;
  *d = 1.0f;
  for (int i = 1; i <= n; ++i) {
    float big = 0.0f;
    for (int j = 1; j <= n; ++j) big = std::fmax(big, std::fabs(a[i][j]));
    if (big == 0.0f) {
      free_vector(row_scale, 1, n);
      nrerror("Singular matrix in routine ludcmp");
      return -1;
    }
    row_scale[i] = 1.0f / big;
  }
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i < j; ++i) {
      float sum = a[i][j];
      for (int k = 1; k < i; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
    }
    float big = 0.0f;
    int imax = j;
    for (int i = j; i <= n; ++i) {
      float sum = a[i][j];
      for (int k = 1; k < j; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
      const float merit = row_scale[i] * std::fabs(sum);
      if (merit >= big) {
        big = merit;
        imax = i;
      }
    }
    if (j != imax) {
      for (int k = 1; k <= n; ++k) std::swap(a[imax][k], a[j][k]);
      *d = -*d;
      row_scale[imax] = row_scale[j];
    }
    indx[j] = imax;
    if (a[j][j] == 0.0f) a[j][j] = kTinyPivot;
    if (j != n) {
      const float inverse = 1.0f / a[j][j];
      for (int i = j + 1; i <= n; ++i) a[i][j] *= inverse;
    }
  }
  free_vector(row_scale, 1, n);
  return 0;
}

void lubksb(float** a, int n, const int* indx, float* b) {
  int first_nonzero = 0;
  for (int i = 1; i <= n; ++i) {
    const int ip = indx[i];
    float sum = b[ip];
    b[ip] = b[i];
    if (first_nonzero != 0) {
      for (int j = first_nonzero; j < i; ++j) sum -= a[i][j] * b[j];
    } else if (sum != 0.0f) {
      first_nonzero = i;
    }
    b[i] = sum;
  }
  for (int i = n; i >= 1; --i) {
    float sum = b[i];
    for (int j = i + 1; j <= n; ++j) sum -= a[i][j] * b[j];
    b[i] = sum / a[i][i];
  }
}

namespace {

// One body for the general routine (float**, run-time n) and the fixed 3 x 3 one (stack
// array, compile-time n): the same operations in the same order, so the same results.
template <class Matrix, class Size>
inline void tred2_impl(Matrix a, Size n, float* d, float* e) {
  for (int i = n; i >= 2; --i) {
    const int l = i - 1;
    float h = 0.0f;
    if (l > 1) {
      float scale = 0.0f;
      for (int k = 1; k <= l; ++k) scale += std::fabs(a[i][k]);
      if (scale == 0.0f) {  // row already reduced
        e[i] = a[i][l];
      } else {
        for (int k = 1; k <= l; ++k) {
          a[i][k] /= scale;
          h += a[i][k] * a[i][k];
        }
        float f = a[i][l];
        float g = f >= 0.0f ? -std::sqrt(h) : std::sqrt(h);
        e[i] = scale * g;
        h -= f * g;
        a[i][l] = f - g;
        f = 0.0f;
        for (int j = 1; j <= l; ++j) {
          a[j][i] = a[i][j] / h;  // stored for the accumulation below
          g = 0.0f;
          for (int k = 1; k <= j; ++k) g += a[j][k] * a[i][k];
          for (int k = j + 1; k <= l; ++k) g += a[k][j] * a[i][k];
          e[j] = g / h;
          f += e[j] * a[i][j];
        }
        const float hh = f / (h + h);
        for (int j = 1; j <= l; ++j) {
          f = a[i][j];
          g = e[j] - hh * f;
          e[j] = g;
          for (int k = 1; k <= j; ++k) a[j][k] -= (f * e[k] + g * a[i][k]);
        }
      }
    } else {
      e[i] = a[i][l];
    }
    d[i] = h;
  }
  d[1] = 0.0f;
  e[1] = 0.0f;
  // Accumulate the transformations.
  for (int i = 1; i <= n; ++i) {
    const int l = i - 1;
    if (d[i] != 0.0f) {
      for (int j = 1; j <= l; ++j) {
        float g = 0.0f;
        for (int k = 1; k <= l; ++k) g += a[i][k] * a[k][j];
        for (int k = 1; k <= l; ++k) a[k][j] -= g * a[k][i];
      }
    }
    d[i] = a[i][i];
    a[i][i] = 1.0f;
    for (int j = 1; j <= l; ++j) {
      a[j][i] = 0.0f;
      a[i][j] = 0.0f;
    }
  }
}

template <class Matrix, class Size>
inline int tqli_impl(float* d, float* e, Size n, Matrix z) {
  for (int i = 2; i <= n; ++i) e[i - 1] = e[i];
  e[n] = 0.0f;
  for (int l = 1; l <= n; ++l) {
    int iterations = 0;
    int m = l;
    do {
      for (m = l; m <= n - 1; ++m) {
        const float dd = std::fabs(d[m]) + std::fabs(d[m + 1]);
        if (std::fabs(e[m]) + dd == dd) break;
      }
      if (m != l) {
        if (iterations++ == kQlMaxIterations) {
          for (int i = 1; i <= n; ++i) {
            for (int j = 1; j <= n; ++j) z[i][j] = (i == j) ? 1.0f : 0.0f;
            d[i] = kFallbackEigenvalue;
            e[i] = kFallbackEigenvalue;
          }
          return 0;
        }
        // Wilkinson-style shift from the leading 2 x 2 block.
        float g = (d[l + 1] - d[l]) / (2.0f * e[l]);
        float r = static_cast<float>(std::sqrt(static_cast<double>(g) * g + 1.0));
        g = d[m] - d[l] + e[l] / (g + with_sign_of(r, g));
        float s = 1.0f, c = 1.0f, p = 0.0f;
        int i = m - 1;
        bool underflow = false;
        for (; i >= l; --i) {
          float f = s * e[i];
          const float b = c * e[i];
          r = pythag_inline(f, g);
          e[i + 1] = r;
          if (r == 0.0f) {  // recover from underflow
            d[i + 1] -= p;
            e[m] = 0.0f;
            underflow = true;
            break;
          }
          s = f / r;
          c = g / r;
          g = d[i + 1] - p;
          r = (d[i] - g) * s + 2.0f * c * b;
          p = s * r;
          d[i + 1] = g + p;
          g = c * r - b;
          for (int k = 1; k <= n; ++k) {
            f = z[k][i + 1];
            z[k][i + 1] = s * z[k][i] + c * f;
            z[k][i] = c * z[k][i] - s * f;
          }
        }
        if (underflow) continue;
        d[l] -= p;
        e[l] = g;
        e[m] = 0.0f;
      }
    } while (m != l);
  }
  return 1;
}

using Three = std::integral_constant<int, 3>;

}  // namespace

void tred2(float** a, int n, float* d, float* e) { tred2_impl(a, n, d, e); }
int tqli(float* d, float* e, int n, float** z) { return tqli_impl(d, e, n, z); }
void tred2_3(float a[4][4], float d[4], float e[4]) { tred2_impl(a, Three{}, d, e); }
int tqli_3(float d[4], float e[4], float z[4][4]) { return tqli_impl(d, e, Three{}, z); }

// Quicksort with median-of-three partitioning, straight insertion for short runs.
void sort2(unsigned long n, float* arr, float* brr) {
  constexpr long kInsertionLimit = 7;
  constexpr int kStackLimit = 50;
  long stack[kStackLimit + 2];
  int depth = 0;
  long lo = 1;
  long hi = static_cast<long>(n);
  for (;;) {
    if (hi - lo < kInsertionLimit) {
      for (long j = lo + 1; j <= hi; ++j) {
        const float key = arr[j];
        const float partner = brr[j];
        long i = j - 1;
        for (; i >= lo; --i) {
          if (arr[i] <= key) break;
          arr[i + 1] = arr[i];
          brr[i + 1] = brr[i];
        }
        arr[i + 1] = key;
        brr[i + 1] = partner;
      }
      if (depth == 0) return;
      hi = stack[depth--];
      lo = stack[depth--];
    } else {
      const long mid = (lo + hi) >> 1;
      auto swap_both = [&](long x, long y) {
        std::swap(arr[x], arr[y]);
        std::swap(brr[x], brr[y]);
      };
      swap_both(mid, lo + 1);
      if (arr[lo] > arr[hi]) swap_both(lo, hi);
      if (arr[lo + 1] > arr[hi]) swap_both(lo + 1, hi);
      if (arr[lo] > arr[lo + 1]) swap_both(lo, lo + 1);
      long i = lo + 1;
      long j = hi;
      const float pivot = arr[lo + 1];
      const float pivot_partner = brr[lo + 1];
      for (;;) {
        do ++i; while (arr[i] < pivot);
        do --j; while (arr[j] > pivot);
        if (j < i) break;
        swap_both(i, j);
      }
      arr[lo + 1] = arr[j];
      arr[j] = pivot;
      brr[lo + 1] = brr[j];
      brr[j] = pivot_partner;
      depth += 2;
      if (depth > kStackLimit) return;  // keep the order reached so far
      // Push the larger part, go on with the smaller one.
      if (hi - i + 1 >= j - lo) {
        stack[depth] = hi;
        stack[depth - 1] = i;
        hi = j - 1;
      } else {
        stack[depth] = j - 1;
        stack[depth - 1] = lo;
        lo = i;
      }
    }
  }
}

}  // namespace nr

namespace {

// The paired sort of three keys: below seven elements the sort is a straight insertion, which
// this is, moving the partner column with every key.
void sort3_with_columns(float d[4], float z[4][4]) {
  int order[4] = {0, 1, 2, 3};
  float keys[4] = {0.0f, d[1], d[2], d[3]};
  for (int j = 2; j <= 3; ++j) {
    const float key = keys[j];
    const int partner = order[j];
    int i = j - 1;
    for (; i >= 1; --i) {
      if (keys[i] <= key) break;
      keys[i + 1] = keys[i];
      order[i + 1] = order[i];
    }
    keys[i + 1] = key;
    order[i + 1] = partner;
  }
  if (order[1] == 1 && order[2] == 2) return;  // already ascending
  for (int row = 1; row <= 3; ++row) {
    const float column[4] = {0.0f, z[row][1], z[row][2], z[row][3]};
    for (int j = 1; j <= 3; ++j) z[row][j] = column[order[j]];
  }
  for (int j = 1; j <= 3; ++j) d[j] = keys[j];
}

}  // namespace

int ZTRnumerical_EigenSymmetric3x3(float a[4][4], float d[4], float e[4]) {
  nr::tred2_3(a, d, e);
  if (!nr::tqli_3(d, e, a)) return 0;  // identity, every value 1.0e-14
  for (int j = 1; j <= 3; ++j) {
    const float norm = std::sqrt(a[1][j] * a[1][j] + a[2][j] * a[2][j] + a[3][j] * a[3][j]);
    if (norm > 0) {
      for (int i = 1; i <= 3; ++i) a[i][j] /= norm;
    }
  }
  sort3_with_columns(d, a);
  return 1;
}

int eigen_decompose_symmetric_3x3(const float a[3][3], float values[3], float vectors[3][3]) {
  float z[4][4] = {};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) z[i + 1][j + 1] = a[i][j];
  float d[4] = {};
  float e[4] = {};
  nr::tred2_3(z, d, e);
  const int converged = nr::tqli_3(d, e, z);
  for (int col = 1; col <= 3; ++col) {
    const double length = std::sqrt(double(z[1][col]) * z[1][col] + double(z[2][col]) * z[2][col] +
                                    double(z[3][col]) * z[3][col]);
    if (length > 0.0)
      for (int row = 1; row <= 3; ++row) z[row][col] = static_cast<float>(z[row][col] / length);
  }
  // The same stable rearrangement for every row keeps each column with its eigenvalue.
  sort3_with_columns(d, z);
  for (int i = 0; i < 3; ++i) {
    values[i] = d[i + 1];
    for (int j = 0; j < 3; ++j) vectors[i][j] = z[i + 1][j + 1];
  }
  return converged;
}

namespace {

void cross3(const double a[3], const double b[3], double out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

// e1 by the closed form, or false when lambda1 is not clear of lambda2 (or nothing is finite).
bool closed_form_principal(const float elements[6], double e1[3]) {
  double scale = 0.0;
  for (int i = 0; i < 6; ++i) {
    const double v = std::fabs(static_cast<double>(elements[i]));
    if (!(v <= HUGE_VAL)) return false;  // NaN
    scale = v > scale ? v : scale;
  }
  if (!(scale > 0.0) || scale == HUGE_VAL) return false;
  // Scaled to elements of order 1, so that nothing below over- or underflows.
  const double xx = elements[0] / scale, yy = elements[1] / scale, zz = elements[2] / scale;
  const double xy = elements[3] / scale, yz = elements[4] / scale, zx = elements[5] / scale;
  const double mean = (xx + yy + zz) / 3.0;
  const double bxx = xx - mean, byy = yy - mean, bzz = zz - mean;
  const double p2 = (bxx * bxx + byy * byy + bzz * bzz + 2.0 * (xy * xy + yz * yz + zx * zx)) / 6.0;
  if (!(p2 > 1e-12)) return false;  // nearly isotropic: no clear lambda1
  const double p = std::sqrt(p2);
  const double det = bxx * (byy * bzz - yz * yz) - xy * (xy * bzz - yz * zx) + zx * (xy * yz - byy * zx);
  double r = det / (2.0 * p2 * p);
  r = r < -1.0 ? -1.0 : r > 1.0 ? 1.0 : r;
  const double phi = std::acos(r) / 3.0;
  constexpr double kThird = 2.0943951023931957;  // 2 pi / 3
  const double l1 = mean + 2.0 * p * std::cos(phi);
  const double l3 = mean + 2.0 * p * std::cos(phi + kThird);
  const double l2 = 3.0 * mean - l1 - l3;
  if (!(l1 - l2 >= ZTR_PRINCIPAL_CLEAR_GAP)) return false;
  // The rows of A - lambda1 I span the plane across e1; their cross products are multiples
  // of e1, the longest the most accurate (at least (l1 - l2)(l1 - l3) / sqrt(3) long).
  const double rows[3][3] = {{xx - l1, xy, zx}, {xy, yy - l1, yz}, {zx, yz, zz - l1}};
  double c[3][3];
  cross3(rows[0], rows[1], c[0]);
  cross3(rows[0], rows[2], c[1]);
  cross3(rows[1], rows[2], c[2]);
  int best = 0;
  double best_norm = 0.0;
  for (int i = 0; i < 3; ++i) {
    const double n = c[i][0] * c[i][0] + c[i][1] * c[i][1] + c[i][2] * c[i][2];
    if (n > best_norm) best = i, best_norm = n;
  }
  if (!(best_norm > 0.0)) return false;
  const double length = std::sqrt(best_norm);
  for (int k = 0; k < 3; ++k) e1[k] = c[best][k] / length;
  return true;
}

}  // namespace

int ZTRnumerical_PrincipalEigenvector3x3(const float elements[6], float e1[3]) {
  double e[3];
  if (closed_form_principal(elements, e)) {
    for (int k = 0; k < 3; ++k) e1[k] = static_cast<float>(e[k]);
    return 1;
  }
  return ZTRnumerical_SolverPrincipalEigenvector3x3(elements, e1);
}

int ZTRnumerical_SolverPrincipalEigenvector3x3(const float elements[6], float e1[3]) {
  float a[4][4] = {};
  a[1][1] = elements[0];
  a[2][2] = elements[1];
  a[3][3] = elements[2];
  a[1][2] = a[2][1] = elements[3];
  a[2][3] = a[3][2] = elements[4];
  a[1][3] = a[3][1] = elements[5];
  float d[4], scratch[4];
  const int converged = ZTRnumerical_EigenSymmetric3x3(a, d, scratch);
  for (int k = 0; k < 3; ++k) e1[k] = a[k + 1][3];
  return converged;
}
