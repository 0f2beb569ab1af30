// Target and avoidance marking of tracked lines, and the visibility that follows from it.
#include <algorithm>
#include <thread>

#include "analyzer/dti/split_work.h"
#include "analyzer/fibetrak/fibetrak.h"

namespace {

bool halfline_touches(const ZTR_FIBETRAK_HALFLINE& h, const RegionTest& test) {
  float previous[3] = {0, 0, 0};
  for (int k = 0; k < h.count; ++k) {
    const float current[3] = {h.x[k], h.y[k], h.z[k]};
    if (k == 0) std::copy(current, current + 3, previous);
    if (test(current, previous)) return true;
    std::copy(current, current + 3, previous);
  }
  return false;
}

uint16_t& mask_of(ZTR_FIBETRAK_HALFLINE& h, int mask_set) {
  return mask_set == ZTR_FIBETRAK_AVOID_SET ? h.avoid_mask : h.target_mask;
}

void mark_range(ZTR_FIBETRAK_BUFFER* buffer, int first, int count, int mask_set, uint16_t bit,
                const RegionTest& test) {
  for (int i = first; i < first + count; ++i) {
    ZTR_FIBETRAK_LINE* line = buffer->lines[static_cast<size_t>(i)].get();
    if (!line) continue;
    for (ZTR_FIBETRAK_HALFLINE* h : {line->forward.get(), line->backward.get()}) {
      if (h && halfline_touches(*h, test)) mask_of(*h, mask_set) |= bit;
    }
  }
}

}  // namespace

void clear_line_marks(ZTR_FIBETRAK_BUFFER* buffer, int mask_set) {
  if (!buffer) return;
  for (auto& line : buffer->lines) {
    if (!line) continue;
    for (ZTR_FIBETRAK_HALFLINE* h : {line->forward.get(), line->backward.get()}) {
      if (h) mask_of(*h, mask_set) = 0;
    }
  }
}

void mark_lines_by_region(ZTR_FIBETRAK_BUFFER* buffer, int mask_set, int bit, int threads,
                          const RegionTest& test) {
  if (!buffer || !test || bit < 0 || bit > 15) return;
  const auto mask = static_cast<uint16_t>(1u << bit);
  const int n = static_cast<int>(buffer->lines.size());
  const std::vector<int> sizes = split_work(n, std::clamp(threads, 1, ZTR_FIBETRAK_MAX_WORKERS));
  std::vector<std::thread> workers;
  int first = 0;
  for (size_t p = 0; p < sizes.size(); ++p) {
    const int count = sizes[p];
    // The last part runs on the calling thread; a part whose thread cannot start does too,
    // so that no line goes unmarked.
    bool started = false;
    if (p + 1 < sizes.size()) {
      try {
        workers.emplace_back(mark_range, buffer, first, count, mask_set, mask, std::cref(test));
        started = true;
      } catch (...) {
      }
    }
    if (!started) mark_range(buffer, first, count, mask_set, mask, test);
    first += count;
  }
  for (auto& w : workers) w.join();
}

int mark_lines_by_regions(ZTR_FIBETRAK_BUFFER* buffer, int mask_set,
                          std::span<const RegionTest> regions, int threads) {
  clear_line_marks(buffer, mask_set);
  int bit = 0;
  for (const RegionTest& region : regions) {
    mark_lines_by_region(buffer, mask_set, mask_set == ZTR_FIBETRAK_AVOID_SET ? 0 : bit, threads,
                         region);
    ++bit;
  }
  return static_cast<int>(regions.size());
}

int select_visible_lines(ZTR_FIBETRAK_BUFFER* buffer, int target_count) {
  if (!buffer) return 0;
  const int n = std::clamp(target_count, 0, 16);
  const auto required = static_cast<uint16_t>((1u << n) - 1u);
  int visible = 0;
  for (auto& line : buffer->lines) {
    if (!line) continue;
    const uint16_t targets = static_cast<uint16_t>(
        (line->forward ? line->forward->target_mask : 0) |
        (line->backward ? line->backward->target_mask : 0));
    const bool avoided = (line->forward && line->forward->avoid_mask) ||
                         (line->backward && line->backward->avoid_mask);
    line->visible = (targets == required && !avoided) ? 1 : 0;
    visible += line->visible;
  }
  return visible;
}
