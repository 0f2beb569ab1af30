// Seed generation: jittered grids inside spheres, voxel groups and freehand regions, from a
// reproducible gaussian deviate generator.
#include <cmath>

#include "analyzer/fibetrak/fibetrak.h"

namespace {

constexpr int32_t kMultiplier = 16807;
constexpr int32_t kModulus = 2147483647;
constexpr int32_t kQuotient = 127773;  // kModulus / kMultiplier
constexpr int32_t kRemainder = 2836;   // kModulus % kMultiplier
constexpr int32_t kDivisor = 1 + (kModulus - 1) / 32;
constexpr float kLargestBelowOne = 1.0f - 1.2e-7f;

// One step of the minimal standard generator without overflow (Schrage's method).
int32_t advance(int32_t state) {
  const int32_t k = state / kQuotient;
  int32_t next = kMultiplier * (state - k * kQuotient) - kRemainder * k;
  if (next < 0) next += kModulus;
  return next;
}

void append(std::vector<float>* table, float x, float y, float z) {
  table->push_back(x);
  table->push_back(y);
  table->push_back(z);
}

}  // namespace

void GaussianDeviates::reinitialise() {
  state_ = 1;
  for (int j = 32 + 7; j >= 0; --j) {
    state_ = advance(state_);
    if (j < 32) table_[j] = state_;
  }
  last_ = table_[0];
}

float GaussianDeviates::uniform() {
  state_ = advance(state_);
  const int j = last_ / kDivisor;
  last_ = table_[j];
  table_[j] = state_;
  const float value = static_cast<float>(last_) * (1.0f / static_cast<float>(kModulus));
  return value > kLargestBelowOne ? kLargestBelowOne : value;
}

float GaussianDeviates::next() {
  float v1, v2, rsq;
  do {
    v1 = 2.0f * uniform() - 1.0f;
    v2 = 2.0f * uniform() - 1.0f;
    rsq = v1 * v1 + v2 * v2;
  } while (rsq >= 1.0f || rsq == 0.0f);
  return v2 * std::sqrt(-2.0f * std::log(rsq) / rsq);
}

float seed_spacing(int32_t volume_x, int seed_region, int density) {
  const float d = static_cast<float>(volume_x) / 256.0f;
  const bool high = density == ZTR_FIBETRAK_SEED_DENSITY_HIGH;
  if (seed_region == ZTR_REGION_FREEHAND || seed_region == ZTR_REGION_FREEHAND_ON_MAP) {
    return high ? 0.5f * d : d;
  }
  return high ? d : 1.5f * d;
}

int generate_sphere_seeds(const float c[3], float r, float spacing, int limit,
                          std::vector<float>* table, std::FILE* console) {
  if (!table || !(spacing > 0.0f) || !std::isfinite(r) || r < 0.0f || limit < 1) return 0;
  const float sigma = spacing * 1.0f;
  // Bounded so that the grid stays countable for any radius the caller may pass.
  const double cells = std::floor(static_cast<double>(r) / spacing);
  if (cells > 2000.0) return 0;
  const int n = static_cast<int>(cells) + 5;
  GaussianDeviates g;
  int appended = 0;
  for (int k = -n; k <= n; ++k) {
    for (int j = -n; j <= n; ++j) {
      for (int i = -n; i <= n; ++i) {
        const float g1 = g.next(), g2 = g.next(), g3 = g.next();
        const float dx = g1 * sigma + i * spacing;
        const float dy = g2 * sigma + j * spacing;
        const float dz = g3 * sigma + k * spacing;
        if (dx * dx + dy * dy + dz * dz > r * r) continue;
        if (appended >= limit) {
          std::fprintf(console, "Over seed number limit (%d).\n", limit);
          return appended;
        }
        append(table, c[0] + dx, c[1] + dy, c[2] + dz);
        ++appended;
      }
    }
  }
  return appended;
}

int generate_voxelgroup_seeds(const int32_t o[3], const int32_t size[3],
                              std::span<const uint8_t> bits, float p, int limit,
                              std::vector<float>* table, std::FILE* console) {
  if (!table || !(p > 0.0f) || limit < 1) return 0;
  const int64_t voxels = int64_t{size[0]} * size[1] * size[2];
  if (size[0] < 1 || size[1] < 1 || size[2] < 1 ||
      static_cast<int64_t>(bits.size()) * 8 < voxels) {
    return 0;
  }
  GaussianDeviates g;  // the voxel group's own generator, reinitialised the same way
  const float sigma = p * 1.0f;
  int appended = 0;
  for (float gz = o[2] - p; gz <= o[2] + size[2] + p; gz += p) {
    for (float gy = o[1] - p; gy <= o[1] + size[1] + p; gy += p) {
      for (float gx = o[0] - p; gx <= o[0] + size[0] + p; gx += p) {
        const float pos[3] = {g.next() * sigma + gx, g.next() * sigma + gy,
                              g.next() * sigma + gz};
        int64_t v[3];
        bool inside = true;
        for (int a = 0; a < 3; ++a) {
          v[a] = static_cast<int64_t>(std::trunc(pos[a] + 0.5f)) - o[a];
          inside = inside && v[a] >= 0 && v[a] < size[a];
        }
        if (!inside) continue;
        const int64_t index = (v[2] * size[1] + v[1]) * size[0] + v[0];
        if (!(bits[static_cast<size_t>(index / 8)] & (1u << (index % 8)))) continue;
        if (appended >= limit) {
          std::fprintf(console, "Over seed number limit (%d).\n", limit);
          return appended;
        }
        append(table, pos[0], pos[1], pos[2]);
        ++appended;
      }
    }
  }
  return appended;
}

int generate_mapped_freehand_seeds(std::span<const uint8_t> mask, float s, float spacing,
                                   int limit, const MaskPointMapping& to_volume,
                                   std::vector<float>* table, std::FILE* console) {
  if (limit < 1) {
    std::fprintf(console, "maxPoints=0?\n");
    return 0;
  }
  if (!table || !to_volume || mask.size() < 256 * 256 || !(s > 0.0f) || !(spacing > 0.0f)) {
    return 0;
  }
  const float p = spacing * s;
  const float sigma = p * 1.0f;
  const double cells = std::floor(256.0 / p);
  if (cells > 65536.0) return 0;
  const int n = static_cast<int>(cells);
  GaussianDeviates g;
  int appended = 0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      const float a = g.next() * sigma + i * p;
      const float b = g.next() * sigma + j * p;
      const float pa = std::trunc(a + 0.5f), pb = std::trunc(b + 0.5f);
      if (!(pa >= 0 && pa <= 255 && pb >= 0 && pb <= 255)) continue;
      if (mask[static_cast<size_t>(pb) * 256 + static_cast<size_t>(pa)] != 255) continue;
      if (appended >= limit) return appended;
      float x[3];
      if (!to_volume(a, b, x)) continue;
      append(table, x[0], x[1], x[2]);
      ++appended;
    }
  }
  return appended;
}

int generate_freehand_seeds(std::span<const uint8_t> mask, const float o[3], const float u[3],
                            const float v[3], float s, float spacing, int limit,
                            std::vector<float>* table, std::FILE* console) {
  const MaskPointMapping plane = [o, u, v, s](float a, float b, float x[3]) {
    for (int k = 0; k < 3; ++k) x[k] = o[k] + ((a - 128) * u[k] + (b - 128) * v[k]) / s;
    return true;
  };
  return generate_mapped_freehand_seeds(mask, s, spacing, limit, plane, table, console);
}
