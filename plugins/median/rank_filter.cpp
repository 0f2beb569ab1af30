// Rank filters over a kernel neighbourhood with a mirrored border and z-slab worker threads.
//
// Only the channel being filtered is padded, into a private buffer, so the volume keeps its
// size throughout. Ranks between the extremes run on dense value codes: small kernels through
// a compare-exchange network over strips of voxels, larger ones with a histogram
// that slides along x (per step only the kernel points entering and leaving each row run of
// the kernel are updated). Channels with too many distinct values for 16-bit codes work on
// 32-bit order keys of their float values instead. The extremes compare in the channel's
// own type.
#include "plugins/median/rank_filter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "plugins/median/mirror_padding.h"
#include "plugins/median/selection_network.h"
#include "plugins/median/sliding_histogram.h"
#include "plugins/median/value_coding.h"
#include "sdk/volume/slab_runner.h"

namespace {

using namespace ztr_median;

constexpr char kInvalidKernel[] = "ZTR_RankFilter_MT: Invalid kernel(==NULL) error\n";
constexpr char kNoMemory[] = "ZTR_RankFilter_MT: not enough memory error\n";
constexpr char kNoThreadTable[] = "ZTR_RankFilter_MT: not enough memmory for create %d threads\n";
constexpr char kNoThreadData[] = "ZTR_Convolution_MT: not enough memmory for create thread data\n";
constexpr char kThreadCreation[] = "Warning: thread creation err (%d)\n";
constexpr char kInvalidChannel[] = "ZTR_RankFilter_MT: invalid volume or channel error\n";
constexpr char kInvalidRank[] = "ZTR_RankFilter_MT: rank %d outside the kernel's %d points error\n";

// Worker counts beyond this only add idle threads; it bounds the handle table.
constexpr int32_t kMaxWorkers = 1024;

// A run of kernel points on one row: offsets offset .. offset+length-1 from the voxel.
struct Run {
  int64_t offset;
  int64_t length;
};

struct Slab {
  int64_t z0 = 0;
  int64_t nz = 0;
};

// One slab per part of the slab runner's split, in the runner's order.
std::vector<Slab> split_slices(int64_t z, int32_t workers) {
  std::vector<Slab> slabs;
  int64_t z0 = 0;
  for (const int count : split_work(static_cast<int>(z), workers)) {
    slabs.push_back({z0, count});
    z0 += count;
  }
  return slabs;
}

// Farthest reach of any point in use; the border must cover it even when a hand-built
// kernel understates its halfExtent.
int64_t kernel_margin(const ZTR_KERNEL& k) {
  int64_t m = std::max<int64_t>(k.halfExtent, 0);
  const ZTR_POINT_LIST& p = k.points;
  for (int32_t i = 0; i < p.count; ++i) {
    m = std::max<int64_t>({m, std::abs(int64_t(p.dx[i])), std::abs(int64_t(p.dy[i])),
                           std::abs(int64_t(p.dz[i]))});
  }
  return m;
}

std::vector<int64_t> linear_offsets(const ZTR_KERNEL& k, const PaddedShape& s) {
  const ZTR_POINT_LIST& p = k.points;
  std::vector<int64_t> out(static_cast<size_t>(p.count));
  for (int32_t i = 0; i < p.count; ++i) out[i] = p.dx[i] + s.px * (p.dy[i] + s.py * p.dz[i]);
  return out;
}

// The kernel as maximal runs of consecutive x on each (dy, dz) row; a repeated point starts
// a run of its own so that it still counts twice.
std::vector<Run> kernel_runs(const ZTR_KERNEL& k, const PaddedShape& s) {
  const ZTR_POINT_LIST& p = k.points;
  struct Pt {
    int32_t dz, dy, dx;
  };
  std::vector<Pt> pts(static_cast<size_t>(p.count));
  for (int32_t i = 0; i < p.count; ++i) pts[i] = {p.dz[i], p.dy[i], p.dx[i]};
  std::sort(pts.begin(), pts.end(), [](const Pt& a, const Pt& b) {
    if (a.dz != b.dz) return a.dz < b.dz;
    if (a.dy != b.dy) return a.dy < b.dy;
    return a.dx < b.dx;
  });
  std::vector<Run> runs;
  std::vector<bool> used(pts.size(), false);
  for (size_t i = 0; i < pts.size(); ++i) {
    if (used[i]) continue;
    used[i] = true;
    int32_t last = pts[i].dx;
    int64_t length = 1;
    // Extend with the next unused point of the same row one step further in x.
    for (size_t j = i + 1; j < pts.size() && pts[j].dz == pts[i].dz && pts[j].dy == pts[i].dy;
         ++j) {
      if (!used[j] && pts[j].dx == last + 1) {
        used[j] = true;
        last = pts[j].dx;
        ++length;
      }
    }
    runs.push_back({pts[i].dx + s.px * (pts[i].dy + s.py * pts[i].dz), length});
  }
  return runs;
}

// Runs fn(t) for every slab on the slab runner. A slab whose thread cannot start is computed
// on the calling thread: the channel is swapped in afterwards, so no slab may stay unset.
template <class Fn>
bool run_workers(const RankFilterRun& run, const std::vector<Slab>& slabs, Fn fn) {
  WorkRunOptions options;
  options.start_failure = run.start_failure;
  options.run_unstarted_parts_here = true;
  const int ran = run_split_work(
      static_cast<int>(slabs.size()), static_cast<int>(slabs.size()),
      [&fn](const WorkPart& part) {
        for (int t = part.first; t < part.first + part.count; ++t) fn(static_cast<size_t>(t));
      },
      options);
  if (ran == static_cast<int>(slabs.size())) return true;
  std::fprintf(stderr, kNoThreadTable, static_cast<int>(slabs.size()));
  return false;
}

template <class T>
using Buffer = std::unique_ptr<T[]>;

template <class T>
Buffer<T> allocate(size_t n) {
  return Buffer<T>(new (std::nothrow) T[n]);
}

// ---- routines -------------------------------------------------------------------------

template <class T, bool kMinimum>
void extreme_slab(const T* padded, const PaddedShape& s, const std::vector<int64_t>& offsets,
                  T* out, Slab slab) {
  const size_t n = offsets.size();
  for (int64_t k = slab.z0; k < slab.z0 + slab.nz; ++k) {
    for (int64_t j = 0; j < s.y; ++j) {
      const T* base = padded + s.index(0, j, k);
      T* o = out + s.x * (j + s.y * k);
      for (int64_t x = 0; x < s.x; ++x) {
        const T* p = base + x;
        T best = p[offsets[0]];
        for (size_t i = 1; i < n; ++i) {
          const T v = p[offsets[i]];
          if (kMinimum ? (v < best) : (v > best)) best = v;
        }
        o[x] = best;
      }
    }
  }
}

template <class Code, class T>
void histogram_slab(const Code* padded, const PaddedShape& s, const std::vector<Run>& runs,
                    uint32_t rank, const T* code_values, T* out, Slab slab,
                    SlidingHistogram& h) {
  for (int64_t k = slab.z0; k < slab.z0 + slab.nz; ++k) {
    for (int64_t j = 0; j < s.y; ++j) {
      const Code* base = padded + s.index(0, j, k);
      T* o = out + s.x * (j + s.y * k);
      for (const Run& r : runs)
        for (int64_t t = 0; t < r.length; ++t) h.insert(base[r.offset + t]);
      o[0] = code_values[h.select(rank)];
      for (int64_t x = 1; x < s.x; ++x) {
        const Code* p = base + (x - 1);
        for (const Run& r : runs) {
          h.remove(p[r.offset]);
          h.insert(p[r.offset + r.length]);
        }
        o[x] = code_values[h.select(rank)];
      }
      const Code* p = base + (s.x - 1);
      for (const Run& r : runs)
        for (int64_t t = 0; t < r.length; ++t) h.remove(p[r.offset + t]);
    }
  }
}

// Lane values of a code: 8-bit codes as they are, 16- and 32-bit codes shifted into signed
// lanes so that vector min and max exist for them.
template <class Code>
struct Lanes;
template <>
struct Lanes<uint8_t> {
  using Lane = uint8_t;
  static Lane of(uint8_t c) { return c; }
  static uint8_t code(Lane l) { return l; }
  static constexpr Lane kLargest = 0xFF;
};
template <>
struct Lanes<uint16_t> {
  using Lane = int16_t;
  static Lane of(uint16_t c) { return static_cast<Lane>(c ^ 0x8000u); }
  static uint16_t code(Lane l) { return static_cast<uint16_t>(uint16_t(l) ^ 0x8000u); }
  static constexpr Lane kLargest = 0x7FFF;
};

template <>
struct Lanes<uint32_t> {
  using Lane = int32_t;
  static Lane of(uint32_t c) { return static_cast<Lane>(c ^ 0x80000000u); }
  static uint32_t code(Lane l) { return uint32_t(l) ^ 0x80000000u; }
  static constexpr Lane kLargest = 0x7FFFFFFF;
};

// `value_of` turns a selected code into the output voxel.
template <class Code, class T, class ValueOf>
void network_slab(const Code* padded, const PaddedShape& s, const std::vector<int64_t>& offsets,
                  const std::vector<Comparator>& network, int width, uint32_t rank,
                  ValueOf value_of, T* out, Slab slab) {
  using L = Lanes<Code>;
  using Lane = typename L::Lane;
  constexpr int64_t kStrip = kNetworkStrip;
  alignas(64) Lane wire[kMaxNetworkInputs][kStrip] = {};
  const int n = static_cast<int>(offsets.size());
  for (int i = n; i < width; ++i)
    for (int64_t l = 0; l < kStrip; ++l) wire[i][l] = L::kLargest;
  for (int64_t k = slab.z0; k < slab.z0 + slab.nz; ++k) {
    for (int64_t j = 0; j < s.y; ++j) {
      const Code* base = padded + s.index(0, j, k);
      T* o = out + s.x * (j + s.y * k);
      for (int64_t x0 = 0; x0 < s.x; x0 += kStrip) {
        const int64_t w = std::min(kStrip, s.x - x0);
        for (int i = 0; i < n; ++i) {
          const Code* src = base + x0 + offsets[i];
          if (w == kStrip) {
            for (int64_t l = 0; l < kStrip; ++l) wire[i][l] = L::of(src[l]);
          } else {
            for (int64_t l = 0; l < w; ++l) wire[i][l] = L::of(src[l]);
          }
        }
        apply_network(&wire[0][0], network.data(), network.size());
        for (int64_t l = 0; l < w; ++l) o[x0 + l] = value_of(L::code(wire[rank][l]));
      }
    }
  }
}

template <class T>
void select_slab(const uint32_t* padded, const PaddedShape& s, const std::vector<int64_t>& offsets,
                 uint32_t rank, T* out, Slab slab, std::vector<uint32_t>& buffer) {
  const size_t n = offsets.size();
  for (int64_t k = slab.z0; k < slab.z0 + slab.nz; ++k) {
    for (int64_t j = 0; j < s.y; ++j) {
      const uint32_t* base = padded + s.index(0, j, k);
      T* o = out + s.x * (j + s.y * k);
      for (int64_t x = 0; x < s.x; ++x) {
        const uint32_t* p = base + x;
        for (size_t i = 0; i < n; ++i) buffer[i] = p[offsets[i]];
        std::nth_element(buffer.begin(), buffer.begin() + rank, buffer.end());
        o[x] = from_float<T>(key_float(buffer[rank]));
      }
    }
  }
}

// ---- per-path drivers (false: reported failure, channel to stay unchanged) ------------

template <class T>
bool filter_extreme(const T* src, const PaddedShape& s, const ZTR_KERNEL& k, bool minimum,
                    const RankFilterRun& run, T* out) {
  Buffer<T> padded = allocate<T>(s.voxels());
  if (!padded) {
    std::fputs(kNoMemory, stderr);
    return false;
  }
  pad_mirrored(src, s, padded.get(), [](T v) { return v; });
  const std::vector<int64_t> offsets = linear_offsets(k, s);
  const std::vector<Slab> slabs = split_slices(s.z, run.threads);
  return run_workers(run, slabs, [&](size_t t) {
    if (minimum) {
      extreme_slab<T, true>(padded.get(), s, offsets, out, slabs[t]);
    } else {
      extreme_slab<T, false>(padded.get(), s, offsets, out, slabs[t]);
    }
  });
}

// Histograms for the workers that have slices; nullopt-like empty vector on exhaustion.
bool make_histograms(const std::vector<Slab>& slabs, size_t codes,
                     std::vector<std::unique_ptr<SlidingHistogram>>& out) {
  try {
    out.resize(slabs.size());
    for (size_t t = 0; t < slabs.size(); ++t)
      if (slabs[t].nz > 0) out[t] = std::make_unique<SlidingHistogram>(codes);
    return true;
  } catch (const std::bad_alloc&) {
    std::fputs(kNoThreadData, stderr);
    return false;
  }
}

template <class Code, class T, class Coder>
bool filter_coded(const T* src, const PaddedShape& s, const ZTR_KERNEL& k, uint32_t rank,
                  const RankFilterRun& run, const std::vector<float>& values, Coder code_of, T* out) {
  Buffer<Code> padded = allocate<Code>(s.voxels());
  if (!padded) {
    std::fputs(kNoMemory, stderr);
    return false;
  }
  pad_mirrored(src, s, padded.get(), [&](T v) { return static_cast<Code>(code_of(v)); });
  std::vector<T> code_values(values.size());
  for (size_t c = 0; c < values.size(); ++c) code_values[c] = from_float<T>(values[c]);
  const std::vector<Slab> slabs = split_slices(s.z, run.threads);
  if (k.points.count <= kMaxNetworkInputs) {
    const std::vector<int64_t> offsets = linear_offsets(k, s);
    const std::vector<Comparator> network = rank_network(k.points.count, static_cast<int>(rank));
    const int width = network_width(k.points.count);
    const T* values_of_codes = code_values.data();
    auto value_of = [values_of_codes](Code c) { return values_of_codes[c]; };
    return run_workers(run, slabs, [&](size_t t) {
      network_slab<Code, T>(padded.get(), s, offsets, network, width, rank, value_of, out,
                            slabs[t]);
    });
  }
  const std::vector<Run> runs = kernel_runs(k, s);
  std::vector<std::unique_ptr<SlidingHistogram>> histograms;
  if (!make_histograms(slabs, values.size(), histograms)) return false;
  return run_workers(run, slabs, [&](size_t t) {
    if (!histograms[t]) return;
    histogram_slab<Code, T>(padded.get(), s, runs, rank, code_values.data(), out, slabs[t],
                            *histograms[t]);
  });
}

template <class T>
bool filter_keys(const T* src, const PaddedShape& s, const ZTR_KERNEL& k, uint32_t rank,
                 const RankFilterRun& run, T* out) {
  Buffer<uint32_t> padded = allocate<uint32_t>(s.voxels());
  if (!padded) {
    std::fputs(kNoMemory, stderr);
    return false;
  }
  pad_mirrored(src, s, padded.get(), [](T v) { return float_key(static_cast<float>(v)); });
  const std::vector<int64_t> offsets = linear_offsets(k, s);
  const std::vector<Slab> slabs = split_slices(s.z, run.threads);
  if (k.points.count <= kMaxNetworkInputs) {
    const std::vector<Comparator> network = rank_network(k.points.count, static_cast<int>(rank));
    const int width = network_width(k.points.count);
    auto value_of = [](uint32_t key) { return from_float<T>(key_float(key)); };
    return run_workers(run, slabs, [&](size_t t) {
      network_slab<uint32_t, T>(padded.get(), s, offsets, network, width, rank, value_of, out,
                                slabs[t]);
    });
  }
  std::vector<std::vector<uint32_t>> buffers;
  try {
    buffers.resize(slabs.size());
    for (size_t t = 0; t < slabs.size(); ++t)
      if (slabs[t].nz > 0) buffers[t].resize(offsets.size());
  } catch (const std::bad_alloc&) {
    std::fputs(kNoThreadData, stderr);
    return false;
  }
  return run_workers(run, slabs, [&](size_t t) {
    if (slabs[t].nz == 0) return;
    select_slab<T>(padded.get(), s, offsets, rank, out, slabs[t], buffers[t]);
  });
}

template <class T>
bool filter_typed(const T* src, const PaddedShape& s, const ZTR_KERNEL& k, int32_t rank,
                  const RankFilterRun& run, T* out) {
  if (rank == 0) return filter_extreme(src, s, k, true, run, out);
  if (rank == k.points.count - 1) return filter_extreme(src, s, k, false, run, out);
  const auto r = static_cast<uint32_t>(rank);
  const size_t n = static_cast<size_t>(s.x * s.y * s.z);
  if constexpr (sizeof(T) <= 2 && std::is_integral_v<T>) {
    SmallTypeCoding<T> coding;
    coding.build(src, n);
    auto code_of = [&](T v) { return coding.code(v); };
    if constexpr (sizeof(T) == 1) {
      return filter_coded<uint8_t>(src, s, k, r, run, coding.values, code_of, out);
    } else {
      return filter_coded<uint16_t>(src, s, k, r, run, coding.values, code_of, out);
    }
  } else {
    KeyCoding coding;
    if (coding.build(src, n)) {
      auto code_of = [&](T v) { return coding.code(v); };
      return filter_coded<uint16_t>(src, s, k, r, run, coding.values, code_of, out);
    }
    return filter_keys(src, s, k, r, run, out);
  }
}

bool dispatch(int32_t type, const void* src, const PaddedShape& s, const ZTR_KERNEL& k,
              int32_t rank, const RankFilterRun& run, void* out) {
  switch (type) {
#define ZTR_RANK_CASE(code, T) \
  case code:                   \
    return filter_typed<T>(static_cast<const T*>(src), s, k, rank, run, static_cast<T*>(out));
    ZTR_RANK_CASE(ZTR_TYPE_UINT8, uint8_t)
    ZTR_RANK_CASE(ZTR_TYPE_INT8, int8_t)
    ZTR_RANK_CASE(ZTR_TYPE_UINT16, uint16_t)
    ZTR_RANK_CASE(ZTR_TYPE_INT16, int16_t)
    ZTR_RANK_CASE(ZTR_TYPE_UINT32, uint32_t)
    ZTR_RANK_CASE(ZTR_TYPE_INT32, int32_t)
    ZTR_RANK_CASE(ZTR_TYPE_FLOAT32, float)
    ZTR_RANK_CASE(ZTR_TYPE_FLOAT64, double)
#undef ZTR_RANK_CASE
    default:
      std::fputs(kInvalidChannel, stderr);
      return false;
  }
}

// A padded channel must stay addressable with 32-bit sizes per axis and a sane total.
bool padded_size_fits(const VolumeHeader& h, int64_t margin) {
  const int64_t limit = std::numeric_limits<int32_t>::max();
  const int64_t px = h.x + 2 * margin, py = h.y + 2 * margin, pz = h.z + 2 * margin;
  if (px > limit || py > limit || pz > limit) return false;
  return static_cast<double>(px) * static_cast<double>(py) * static_cast<double>(pz) <
         static_cast<double>(int64_t(1) << 40);
}

}  // namespace

void ztr_median::rank_filter(RawVolumeData* volume, int32_t channel, ZTR_KERNEL* kernel,
                             int32_t rank, const RankFilterRun& run) {
  if (!ZTR_IsValidKernel(kernel)) {
    std::fputs(kInvalidKernel, stderr);
    return;
  }
  if (volume == nullptr || volume->header == nullptr || channel < 0 ||
      channel >= volume->header->channels) {
    std::fputs(kInvalidChannel, stderr);
    return;
  }
  if (rank < 0 || rank >= kernel->points.count) {
    std::fprintf(stderr, kInvalidRank, rank, kernel->points.count);
    return;
  }
  try {
    const VolumeHeader& h = *volume->header;
    const int32_t dims[3] = {h.x, h.y, h.z};
    VolumePtr output(ZTR_NewSingleChannelRawVolumeData(dims, volume->types[channel],
                                                       volume->attributes[channel]));
    if (!output) {
      std::fputs(kNoMemory, stderr);
      return;
    }
    const int64_t margin = kernel_margin(*kernel);
    if (!padded_size_fits(h, margin)) {
      std::fputs(kNoMemory, stderr);
      return;
    }
    const PaddedShape shape(h.x, h.y, h.z, margin);
    const int32_t padded_dims[3] = {static_cast<int32_t>(shape.px),
                                    static_cast<int32_t>(shape.py),
                                    static_cast<int32_t>(shape.pz)};
    // The record's own 32-bit offsets follow the padded size when they fit; the workers use
    // 64-bit offsets of their own.
    ZTR_ComputePointListOffsets(&kernel->points, padded_dims);
    RankFilterRun clamped = run;
    clamped.threads = std::clamp(run.threads, 1, kMaxWorkers);
    if (!dispatch(volume->types[channel], volume->data[channel], shape, *kernel, rank, clamped,
                  output->data[0])) {
      return;
    }
    ZTR_ExchangeChannels(volume, channel, output.get(), 0);
  } catch (const std::bad_alloc&) {
    std::fputs(kNoMemory, stderr);
  }
}

void ZTR_RankFilter_MT(RawVolumeData* volume, int32_t channel, ZTR_KERNEL* kernel, int32_t rank,
                       int32_t threads) {
  ztr_median::rank_filter(volume, channel, kernel, rank, {threads, {}});
}

void ZTR_MedianFilter_MT(RawVolumeData* volume, int32_t channel, ZTR_KERNEL* kernel,
                         int32_t threads) {
  if (kernel == nullptr) {
    std::fputs(kInvalidKernel, stderr);
    return;
  }
  const int32_t n = kernel->points.count;
  ZTR_RankFilter_MT(volume, channel, kernel, (n % 2 == 1) ? (n - 1) / 2 : n / 2, threads);
}

void ZTR_MinimumFilter_MT(RawVolumeData* volume, int32_t channel, ZTR_KERNEL* kernel,
                          int32_t threads) {
  if (kernel == nullptr) {
    std::fputs(kInvalidKernel, stderr);
    return;
  }
  ZTR_RankFilter_MT(volume, channel, kernel, 0, threads);
}

void ZTR_MaximumFilter_MT(RawVolumeData* volume, int32_t channel, ZTR_KERNEL* kernel,
                          int32_t threads) {
  if (kernel == nullptr) {
    std::fputs(kInvalidKernel, stderr);
    return;
  }
  ZTR_RankFilter_MT(volume, channel, kernel, kernel->points.count - 1, threads);
}
