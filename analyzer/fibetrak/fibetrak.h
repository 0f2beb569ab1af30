// The fiber tracking engine: streamlines from a seed table through the diffusion tensor
// field, stop and direction rules, region marking and visibility. Independent of any user
// interface: it takes a seed table, plain parameter records and region tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/fibetrak/track_fit.h"
#include "analyzer/region_codes.h"

inline constexpr int ZTR_FIBETRAK_TRACKING_SCHEME_E1 = 123;
inline constexpr int ZTR_FIBETRAK_TRACKING_SCHEME_ANISOCOMP = 345;
inline constexpr int ZTR_FIBETRAK_SEED_DENSITY_NORMAL = 542;
inline constexpr int ZTR_FIBETRAK_SEED_DENSITY_HIGH = 723;


// Half-lines hold at most this many nodes, seed included; the engine clamps every run's
// length to 1 .. this.
inline constexpr int ZTR_FIBETRAK_MAX_LENGTH = 256;
inline constexpr int ZTR_FIBETRAK_MAX_WORKERS = 512;
inline constexpr int ZTR_FIBETRAK_MAX_SEEDS = 1000000;

struct ZTR_FIBETRAK_PARAMETER;
using FibetrakStopRule = int (*)(const TrackTensor* tensor, const ZTR_FIBETRAK_PARAMETER* p);
using FibetrakDirectionRule = void (*)(TrackTensor* tensor, float dx, float dy, float dz,
                                       float out[3]);

struct ZTR_FIBETRAK_PARAMETER {
  int fa_on = 1;
  float fa_min = 0.18f;
  int adc_on = 0;
  float adc_max = 0.003f;  // mm^2/s
  int so_low_on = 1;
  float so_min = 0.0f;
  int so_high_on = 0;
  float so_max = 900.0f;
  int angle_on = 0;
  float angle_max = 30.0f;  // degrees
  float angle_cosine = 0.0f;  // set by the engine at every run
  int length = 160;  // nodes per half-line, seed included
  float step = 0.7f;  // voxels
  int scheme = ZTR_FIBETRAK_TRACKING_SCHEME_E1;
  int seed_count = 0;
  const float* seeds = nullptr;  // seed_count (x, y, z) triples, not owned
  FibetrakStopRule stop_rule = nullptr;  // bound by the engine
  FibetrakDirectionRule direction_rule = nullptr;  // bound by the engine
  int seed_density = ZTR_FIBETRAK_SEED_DENSITY_NORMAL;
  int seed_region = ZTR_REGION_SPHERE;
  int listed_seed_count = 0;
  std::vector<uint16_t> listed_seeds;
};

// The nodes tracked in one direction from a seed. Node 0 is the seed with its eigenvalues.
struct ZTR_FIBETRAK_HALFLINE {
  int16_t count = 0;
  int16_t capacity = 0;
  std::vector<float> x, y, z, lambda1, lambda2, lambda3;
  uint16_t target_mask = 0;  // bit k: target region k touched
  uint16_t avoid_mask = 0;
};

struct ZTR_FIBETRAK_LINE {
  int16_t visible = 0;
  float seed[3] = {0, 0, 0};
  std::unique_ptr<ZTR_FIBETRAK_HALFLINE> forward;   // started along +e1 of the seed
  std::unique_ptr<ZTR_FIBETRAK_HALFLINE> backward;  // started along -e1 of the seed
};

// The result of one run. Before packing `lines` has one slot per seed (null where the seed
// gave no line); after packing only the lines, in seed order. Owns its lines.
struct ZTR_FIBETRAK_BUFFER {
  int seed_count = 0;
  const float* seeds = nullptr;  // not owned
  int length = 0;
  int line_count = 0;
  std::vector<std::unique_ptr<ZTR_FIBETRAK_LINE>> lines;
};
using FibetrakBufferPtr = std::unique_ptr<ZTR_FIBETRAK_BUFFER>;

// Seams and sinks of a run; the defaults are the analyzer's console.
struct FiberTrackingOptions {
  std::FILE* console = stderr;
  // Lets tests refuse a worker's start as a failed thread creation would (error code or 0).
  std::function<int(int part)> start_failure;
  // A fit context already built for the same data (reused across runs); built when null.
  const TrackingFitContext* fit = nullptr;
};

// Tracks from every seed of params->seeds on min(workers, 512) workers and returns the
// packed buffer, or nullptr with "DTI data NOT ready\n" when the data are missing, not ready
// or cannot be fitted, and with a message when the step is not a positive finite number or
// memory runs out. Writes the run's angle cosine, the bound rules and the clamped length
// into *params.
FibetrakBufferPtr fiber_tracking(const DiffusionTensorImageData* data,
                                 ZTR_FIBETRAK_PARAMETER* params, int workers,
                                 const FiberTrackingOptions& options = {});

// Tracks one half-line into `scratch` (capacity = the run's length) whose node 0 is set,
// starting along the unit direction d. Returns the node count. Thread-safe on distinct
// scratch records.
int track_halfline(const TrackingFitContext& fit, const ZTR_FIBETRAK_PARAMETER& params,
                   TrackTensor* tensor, ZTR_FIBETRAK_HALFLINE* scratch, const float d[3]);

// Compacts the line table in place (cannot fail) and sets the line count.
void pack_fibetrak_buffer(ZTR_FIBETRAK_BUFFER* buffer);

int track_stop_criteria(const TrackTensor* tensor, const ZTR_FIBETRAK_PARAMETER* params);
int track_never_stop(const TrackTensor* tensor, const ZTR_FIBETRAK_PARAMETER* params);
// Both write the turning cosine (cosine between d and the new direction) into the tensor.
void track_direction_e1(TrackTensor* tensor, float dx, float dy, float dz, float out[3]);
void track_direction_anisocomp(TrackTensor* tensor, float dx, float dy, float dz, float out[3]);
// The ANISOCOMP exponent for r2 = lambda2 / lambda1.
float anisocomp_exponent(float r2);

// ---- regions ---------------------------------------------------------------------------

// A read-only point test: does the step from `prev` to `cur` touch the region? Called from
// several threads at once.
using RegionTest = std::function<bool(const float cur[3], const float prev[3])>;

enum : int { ZTR_FIBETRAK_TARGET_SET = 0, ZTR_FIBETRAK_AVOID_SET = 1 };

// Clears the chosen mask set of every half-line.
void clear_line_marks(ZTR_FIBETRAK_BUFFER* buffer, int mask_set);
// ORs bit `bit` into the chosen mask of every half-line that has a node for which `test`
// holds (node 0 is tested with itself as previous node). Lines are split over `threads`
// (1 .. 512) workers by whole lines. A bit outside 0 .. 15 marks nothing.
void mark_lines_by_region(ZTR_FIBETRAK_BUFFER* buffer, int mask_set, int bit, int threads,
                          const RegionTest& test);
// Marks the targets (region i sets bit i) or the avoidance regions (all set bit 0) after
// clearing the set. Returns the number of regions.
int mark_lines_by_regions(ZTR_FIBETRAK_BUFFER* buffer, int mask_set,
                          std::span<const RegionTest> regions, int threads);
// A line is visible when its halves together touched every one of the first
// min(target_count, 16) targets and no avoidance region. Returns the visible count.
int select_visible_lines(ZTR_FIBETRAK_BUFFER* buffer, int target_count);

// ---- seeds -----------------------------------------------------------------------------

// The gaussian deviates of the seeding: the polar method over the minimal standard
// generator with a 32-entry shuffle table. Reinitialising makes the sequence repeat.
class GaussianDeviates {
 public:
  GaussianDeviates() { reinitialise(); }
  void reinitialise();
  float uniform();  // in (0, 1)
  float next();

 private:
  int32_t state_ = 1;
  int32_t last_ = 0;
  int32_t table_[32] = {};
};

// Seed spacing in voxels for an x size of the loaded volume, the seed region code and the
// density code.
float seed_spacing(int32_t volume_x, int seed_region, int density);

// Appends jittered grid seeds inside a sphere (centre, radius in voxels) to `table` while it
// holds fewer than `limit` triples. Prints "Over seed number limit (%d).\n" at the limit.
// Returns the number appended.
int generate_sphere_seeds(const float centre[3], float radius, float spacing, int limit,
                          std::vector<float>* table, std::FILE* console = stderr);
// The same inside a voxel group: box origin and size, one bit per box voxel (x fastest).
int generate_voxelgroup_seeds(const int32_t origin[3], const int32_t size[3],
                              std::span<const uint8_t> bits, float spacing, int limit,
                              std::vector<float>* table, std::FILE* console = stderr);
// The same on a 256 x 256 drawing mask (255 = drawn) of a plane with origin o, in-plane axes
// u, v and scale s mask pixels per voxel. Prints "maxPoints=0?\n" when limit < 1.
int generate_freehand_seeds(std::span<const uint8_t> mask, const float origin[3],
                            const float u[3], const float v[3], float scale, float spacing,
                            int limit, std::vector<float>* table, std::FILE* console = stderr);
// Where mask point (a, b) (fractional pixels) lies in the volume; false when it shows none.
using MaskPointMapping = std::function<bool(float a, float b, float out[3])>;
// The same grid on the mask with any mapping of mask points to the volume (a spherical map's
// sphere as well as a plane); the plane version above is this with the plane's mapping.
int generate_mapped_freehand_seeds(std::span<const uint8_t> mask, float scale, float spacing,
                                   int limit, const MaskPointMapping& to_volume,
                                   std::vector<float>* table, std::FILE* console = stderr);

// True when the position lies in the volume: truncated toward zero, every coordinate is in
// 0 .. size-1 (so (-1, 0) is inside). NaN is outside.
bool position_in_volume(const float p[3], int32_t nx, int32_t ny, int32_t nz);
