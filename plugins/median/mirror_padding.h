// Mirrored border padding of one channel into a separate buffer: the border mirrors the
// volume about each face with the edge voxel repeated (d c b a | a b c d | d c b a), and
// keeps reflecting for margins wider than the volume.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ztr_median {

// Index inside 0..n-1 that padded index i (relative to the first interior voxel) mirrors.
inline int64_t mirror_index(int64_t i, int64_t n) {
  const int64_t period = 2 * n;
  int64_t t = i % period;
  if (t < 0) t += period;
  return t < n ? t : period - 1 - t;
}

struct PaddedShape {
  int64_t x = 0, y = 0, z = 0;  // unpadded size
  int64_t margin = 0;
  int64_t px = 0, py = 0, pz = 0;  // padded size

  PaddedShape(int64_t x_, int64_t y_, int64_t z_, int64_t m)
      : x(x_), y(y_), z(z_), margin(m), px(x_ + 2 * m), py(y_ + 2 * m), pz(z_ + 2 * m) {}
  size_t voxels() const { return static_cast<size_t>(px * py * pz); }
  // Padded element of unpadded voxel (i, j, k).
  int64_t index(int64_t i, int64_t j, int64_t k) const {
    return (i + margin) + px * ((j + margin) + py * (k + margin));
  }
};

// Writes convert(src voxel) into the interior of dst (shape.voxels() elements) and fills
// the border by copying mirrored interior voxels: x within interior rows, then whole
// padded rows along y, then whole padded slices along z.
template <class Src, class Dst, class Convert>
void pad_mirrored(const Src* src, const PaddedShape& s, Dst* dst, Convert convert) {
  const int64_t m = s.margin;
  for (int64_t k = 0; k < s.z; ++k) {
    for (int64_t j = 0; j < s.y; ++j) {
      const Src* in = src + s.x * (j + s.y * k);
      Dst* row = dst + s.index(0, j, k) - m;  // padded x = 0 of this row
      for (int64_t i = 0; i < s.x; ++i) row[m + i] = convert(in[i]);
      for (int64_t p = 0; p < m; ++p) {
        row[p] = row[m + mirror_index(p - m, s.x)];
        row[m + s.x + p] = row[m + mirror_index(s.x + p, s.x)];
      }
    }
    Dst* slice = dst + s.px * s.py * (k + m);
    const size_t row_bytes = static_cast<size_t>(s.px) * sizeof(Dst);
    for (int64_t p = 0; p < m; ++p) {
      std::memcpy(slice + s.px * p, slice + s.px * (m + mirror_index(p - m, s.y)), row_bytes);
      std::memcpy(slice + s.px * (m + s.y + p), slice + s.px * (m + mirror_index(s.y + p, s.y)),
                  row_bytes);
    }
  }
  const int64_t slice_voxels = s.px * s.py;
  const size_t slice_bytes = static_cast<size_t>(slice_voxels) * sizeof(Dst);
  for (int64_t p = 0; p < m; ++p) {
    std::memcpy(dst + slice_voxels * p, dst + slice_voxels * (m + mirror_index(p - m, s.z)),
                slice_bytes);
    std::memcpy(dst + slice_voxels * (m + s.z + p),
                dst + slice_voxels * (m + mirror_index(s.z + p, s.z)), slice_bytes);
  }
}

}  // namespace ztr_median
