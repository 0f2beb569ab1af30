// Small tracking fixtures built in code: DWI volumes with a chosen tensor per voxel, and
// hand-made half-lines and buffers.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analyzer/fibetrak/fibetrak.h"
#include "tests/analyzer/dti/tensor_test_support.h"

namespace track_test {

constexpr double kS0 = 2000.0;

// A fiber along the unit direction t (FA about 0.8).
inline SymmetricTensor fiber(double tx, double ty, double tz) {
  const double t[3] = {tx, ty, tz};
  return cylindrical_tensor(1.7e-3, 0.3e-3, t);
}

// A DWI volume whose voxel (i, j, k) holds tensor(i, j, k) with b=0 level s0(i, j, k)
// (0 leaves the voxel empty, as the background).
struct Field {
  tensor_test::DwiData dwi;
  Field(int x, int y, int z, const std::function<SymmetricTensor(int, int, int)>& tensor,
        const std::function<double(int, int, int)>& s0 = [](int, int, int) { return kS0; })
      : dwi(x, y, z, 30) {
    for (int k = 0; k < z; ++k) {
      for (int j = 0; j < y; ++j) {
        for (int i = 0; i < x; ++i) {
          const double level = s0(i, j, k);
          if (level > 0) dwi.set(i, j, k, tensor(i, j, k), level);
        }
      }
    }
  }
  DiffusionTensorImageData* data() const { return dwi.get(); }
};

// A half-line through the given nodes, every node with eigenvalues l1, l2, l3.
inline std::unique_ptr<ZTR_FIBETRAK_HALFLINE> halfline(const std::vector<std::array<float, 3>>& nodes,
                                                       float l1 = 1.7e-3f, float l2 = 0.3e-3f,
                                                       float l3 = 0.3e-3f) {
  auto h = std::make_unique<ZTR_FIBETRAK_HALFLINE>();
  for (const auto& p : nodes) {
    h->x.push_back(p[0]);
    h->y.push_back(p[1]);
    h->z.push_back(p[2]);
    h->lambda1.push_back(l1);
    h->lambda2.push_back(l2);
    h->lambda3.push_back(l3);
  }
  h->count = h->capacity = static_cast<int16_t>(nodes.size());
  return h;
}

inline std::unique_ptr<ZTR_FIBETRAK_LINE> line(const std::vector<std::array<float, 3>>& forward,
                                               const std::vector<std::array<float, 3>>& backward) {
  auto l = std::make_unique<ZTR_FIBETRAK_LINE>();
  l->forward = halfline(forward);
  l->backward = halfline(backward);
  l->seed[0] = forward[0][0];
  l->seed[1] = forward[0][1];
  l->seed[2] = forward[0][2];
  return l;
}

// Everything a stream receives, read back after the code under test has written it.
struct Console {
  std::FILE* file = std::tmpfile();
  ~Console() {
    if (file) std::fclose(file);
  }
  std::string text() const {
    std::fflush(file);
    std::rewind(file);
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, n);
    return out;
  }
};

}  // namespace track_test
