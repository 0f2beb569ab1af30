// Order statistics of a sliding window of small integer codes: a count per code, a count
// per block of 64 codes with a bit mask of the codes present, and a block cursor that
// follows the selected rank as the window moves. Updates are O(1); a selection walks the
// blocks between the previous and the new answer, then the present codes of one block.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ztr_median {

class SlidingHistogram {
 public:
  explicit SlidingHistogram(size_t codes)
      : count_(round_up(codes), 0), block_count_(round_up(codes) / 64, 0),
        present_(round_up(codes) / 64, 0) {}

  void insert(uint32_t code) {
    const uint32_t b = code >> 6;
    present_[b] |= uint64_t(count_[code] == 0) << (code & 63);
    ++count_[code];
    ++block_count_[b];
    below_ += (b < block_);
  }

  void remove(uint32_t code) {
    const uint32_t b = code >> 6;
    --count_[code];
    present_[b] &= ~(uint64_t(count_[code] == 0) << (code & 63));
    --block_count_[b];
    below_ -= (b < block_);
  }

  // Code of element `rank` (0 = smallest) of the window; rank must be below the window size.
  uint32_t select(uint32_t rank) {
    while (below_ > rank) {
      --block_;
      below_ -= block_count_[block_];
    }
    while (below_ + block_count_[block_] <= rank) {
      below_ += block_count_[block_];
      ++block_;
    }
    uint32_t need = rank - below_;
    uint64_t mask = present_[block_];
    for (;;) {
      const uint32_t code = (block_ << 6) | uint32_t(std::countr_zero(mask));
      if (need < count_[code]) return code;
      need -= count_[code];
      mask &= mask - 1;
    }
  }

 private:
  static size_t round_up(size_t n) { return ((n + 63) / 64) * 64; }
  std::vector<uint32_t> count_;
  std::vector<uint32_t> block_count_;
  std::vector<uint64_t> present_;
  uint32_t block_ = 0;  // block of the last answer
  uint32_t below_ = 0;  // window entries in blocks below block_
};

}  // namespace ztr_median
