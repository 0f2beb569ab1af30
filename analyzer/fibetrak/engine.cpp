// The tracking run: binding the rules, one worker per seed chunk, the half-line stepper,
// the stop and direction rules and the packing of the result.
#include <algorithm>
#include <cmath>
#include <new>

#include "analyzer/dti/split_work.h"
#include "analyzer/fibetrak/fibetrak.h"

namespace {

float dot3(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void normalise3(float v[3]) {
  const float norm = std::sqrt(dot3(v, v));
  if (norm > 0.0f) {
    v[0] /= norm;
    v[1] /= norm;
    v[2] /= norm;
  }
}

// lambda / lambda1 clamped to 0 .. 1: noisy fits have negative small eigenvalues, and the
// power of a negative ratio is not a number.
float clamped_ratio(float lambda, float lambda1) {
  if (!(lambda1 > 0.0f)) return 0.0f;
  return std::clamp(lambda / lambda1, 0.0f, 1.0f);
}

bool so_rejects(const ZTR_FIBETRAK_PARAMETER& p, int16_t so) {
  return (p.so_low_on && p.so_min > so) || (p.so_high_on && so > p.so_max);
}

void set_node(ZTR_FIBETRAK_HALFLINE* h, int k, const float p[3], const TrackTensor& t) {
  h->x[k] = p[0];
  h->y[k] = p[1];
  h->z[k] = p[2];
  h->lambda1[k] = t.lambda[0];
  h->lambda2[k] = t.lambda[1];
  h->lambda3[k] = t.lambda[2];
}

void resize_halfline(ZTR_FIBETRAK_HALFLINE* h, int capacity) {
  for (auto* array : {&h->x, &h->y, &h->z, &h->lambda1, &h->lambda2, &h->lambda3}) {
    array->resize(static_cast<size_t>(capacity));
  }
  h->capacity = static_cast<int16_t>(capacity);
}

// A stored half-line: the scratch's nodes, capacity equal to the count.
std::unique_ptr<ZTR_FIBETRAK_HALFLINE> compact_copy(const ZTR_FIBETRAK_HALFLINE& scratch) {
  auto copy = std::make_unique<ZTR_FIBETRAK_HALFLINE>();
  const auto n = static_cast<size_t>(scratch.count);
  copy->x.assign(scratch.x.begin(), scratch.x.begin() + n);
  copy->y.assign(scratch.y.begin(), scratch.y.begin() + n);
  copy->z.assign(scratch.z.begin(), scratch.z.begin() + n);
  copy->lambda1.assign(scratch.lambda1.begin(), scratch.lambda1.begin() + n);
  copy->lambda2.assign(scratch.lambda2.begin(), scratch.lambda2.begin() + n);
  copy->lambda3.assign(scratch.lambda3.begin(), scratch.lambda3.begin() + n);
  copy->count = scratch.count;
  copy->capacity = scratch.count;
  return copy;
}

// Tracks one seed into its slot s; a rejected seed leaves the slot empty.
void track_seed(const TrackingFitContext& fit, const ZTR_FIBETRAK_PARAMETER& params,
                ZTR_FIBETRAK_BUFFER* buffer, int s, ZTR_FIBETRAK_HALFLINE* scratch_record,
                TrackTensor* tensor_record, std::FILE* console) {
  ZTR_FIBETRAK_HALFLINE& scratch = *scratch_record;
  TrackTensor& tensor = *tensor_record;
  const float* seed = params.seeds + 3 * static_cast<size_t>(s);
  // A seed outside the volume would borrow the border voxel's tensor.
  if (!position_in_volume(seed, fit.nx(), fit.ny(), fit.nz())) return;
  // The So test and the fit read the same samples; either failing rejects the seed, so
  // their order does not matter.
  if (!fit.fit(seed[0], seed[1], seed[2], &tensor)) return;
  if ((params.so_low_on || params.so_high_on) && so_rejects(params, tensor.so_sample)) return;
  tensor.turning_cosine = 1.0f;
  if (params.stop_rule(&tensor, &params)) return;
  const TrackTensor at_seed = tensor;
  try {
    auto line = std::make_unique<ZTR_FIBETRAK_LINE>();
    std::copy(seed, seed + 3, line->seed);
    for (int half = 0; half < 2; ++half) {
      const float sign = half == 0 ? 1.0f : -1.0f;
      const float d[3] = {sign * at_seed.e[0][0], sign * at_seed.e[0][1], sign * at_seed.e[0][2]};
      set_node(&scratch, 0, seed, at_seed);
      scratch.count = static_cast<int16_t>(track_halfline(fit, params, &tensor, &scratch, d));
      (half == 0 ? line->forward : line->backward) = compact_copy(scratch);
    }
    buffer->lines[static_cast<size_t>(s)] = std::move(line);
  } catch (const std::bad_alloc&) {
    std::fprintf(console, "Insufficient memory: threaded_fiber_tracking()\n");
  }
}

// Tracks every seed of one chunk into its slots of the buffer.
void track_seeds(const TrackingFitContext& fit, const ZTR_FIBETRAK_PARAMETER& params,
                 ZTR_FIBETRAK_BUFFER* buffer, const WorkPart& part, std::FILE* console) {
  ZTR_FIBETRAK_HALFLINE scratch;
  try {
    resize_halfline(&scratch, params.length);
  } catch (const std::bad_alloc&) {
    std::fprintf(console, "insufficient memory\n");
    return;
  }
  TrackTensor tensor;
  for (int s = part.first; s < part.first + part.count; ++s) {
    track_seed(fit, params, buffer, s, &scratch, &tensor, console);
    part.done->fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace

bool position_in_volume(const float p[3], int32_t nx, int32_t ny, int32_t nz) {
  const int32_t size[3] = {nx, ny, nz};
  for (int a = 0; a < 3; ++a) {
    // Compared before the truncation, so that NaN and huge values never become an index.
    if (!(p[a] > -1.0f) || !(p[a] < static_cast<float>(size[a]))) return false;
  }
  return true;
}

int track_halfline(const TrackingFitContext& fit, const ZTR_FIBETRAK_PARAMETER& params,
                   TrackTensor* tensor, ZTR_FIBETRAK_HALFLINE* h, const float d_in[3]) {
  float d[3] = {d_in[0], d_in[1], d_in[2]};
  int count = 1;
  const bool so_test = params.so_low_on || params.so_high_on;
  while (count < h->capacity) {
    const float p[3] = {h->x[count - 1] + params.step * d[0], h->y[count - 1] + params.step * d[1],
                        h->z[count - 1] + params.step * d[2]};
    if (!position_in_volume(p, fit.nx(), fit.ny(), fit.nz())) break;
    if (!fit.fit(p[0], p[1], p[2], tensor)) break;
    if (so_test && so_rejects(params, tensor->so_sample)) break;
    float next[3];
    params.direction_rule(tensor, d[0], d[1], d[2], next);
    if (params.stop_rule(tensor, &params)) break;
    set_node(h, count, p, *tensor);
    ++count;
    std::copy(next, next + 3, d);
  }
  return count;
}

int track_stop_criteria(const TrackTensor* t, const ZTR_FIBETRAK_PARAMETER* p) {
  if (p->fa_on && p->fa_min > t->fa) return 1;
  if (p->adc_on && t->adc > p->adc_max) return 1;
  if (p->angle_on && p->angle_cosine > t->turning_cosine) return 1;
  return 0;
}

int track_never_stop(const TrackTensor*, const ZTR_FIBETRAK_PARAMETER*) { return 0; }

void track_direction_e1(TrackTensor* t, float dx, float dy, float dz, float out[3]) {
  const float d[3] = {dx, dy, dz};
  float e1[3] = {t->e[0][0], t->e[0][1], t->e[0][2]};
  float c = dot3(e1, d);
  if (c < 0) {
    c = -c;
    for (float& v : e1) v = -v;
  }
  t->turning_cosine = c;
  std::copy(e1, e1 + 3, out);
}

float anisocomp_exponent(float r2) {
  if (r2 > 0.8f) return 1.0f;
  if (r2 < 0.2f) return 51.0f;
  return 51.0f - (r2 - 0.2f) * 50.0f / 0.6f;
}

void track_direction_anisocomp(TrackTensor* t, float dx, float dy, float dz, float out[3]) {
  const float d[3] = {dx, dy, dz};
  const float r2 = clamped_ratio(t->lambda[1], t->lambda[0]);
  const float r3 = clamped_ratio(t->lambda[2], t->lambda[0]);
  const float p = anisocomp_exponent(r2);
  const float weight[3] = {1.0f, std::pow(r2, p), std::pow(r3, p)};
  float result[3] = {0, 0, 0};
  for (int k = 2; k >= 0; --k) {
    float e[3] = {t->e[k][0], t->e[k][1], t->e[k][2]};
    float c = dot3(e, d);
    if (c <= 0) {
      c = -c;
      for (float& v : e) v = -v;
    }
    normalise3(e);
    for (int a = 0; a < 3; ++a) result[a] += weight[k] * c * e[a];
  }
  normalise3(result);
  t->turning_cosine = dot3(result, d);
  std::copy(result, result + 3, out);
}

void pack_fibetrak_buffer(ZTR_FIBETRAK_BUFFER* buffer) {
  if (!buffer) return;
  auto kept = std::remove(buffer->lines.begin(), buffer->lines.end(), nullptr);
  buffer->lines.erase(kept, buffer->lines.end());
  buffer->line_count = static_cast<int>(buffer->lines.size());
}

FibetrakBufferPtr fiber_tracking(const DiffusionTensorImageData* data,
                                 ZTR_FIBETRAK_PARAMETER* params, int workers,
                                 const FiberTrackingOptions& options) {
  std::FILE* console = options.console;
  std::unique_ptr<TrackingFitContext> own_fit;
  const TrackingFitContext* fit = options.fit;
  if (!data || data->mpg_ready != 1 || !params) {
    std::fprintf(console, "DTI data NOT ready\n");
    return nullptr;
  }
  if (!fit) {
    own_fit = TrackingFitContext::create(data);
    fit = own_fit.get();
    if (!fit) {
      std::fprintf(console, "DTI data NOT ready\n");
      return nullptr;
    }
  }
  if (!std::isfinite(params->step) || !(params->step > 0.0f)) {
    std::fprintf(console, "Err: tracking step must be a positive number (%f)\n", params->step);
    return nullptr;
  }
  const int seed_count = params->seeds ? std::max(params->seed_count, 0) : 0;
  FibetrakBufferPtr buffer(new (std::nothrow) ZTR_FIBETRAK_BUFFER);
  try {
    if (buffer) buffer->lines.resize(static_cast<size_t>(seed_count));
  } catch (const std::bad_alloc&) {
    buffer.reset();
  }
  if (!buffer) {
    std::fprintf(console, "insufficient memory\n");
    return nullptr;
  }
  params->length = std::clamp(params->length, 1, ZTR_FIBETRAK_MAX_LENGTH);
  buffer->seed_count = seed_count;
  buffer->seeds = params->seeds;
  buffer->length = params->length;
  params->angle_cosine = static_cast<float>(std::cos(params->angle_max / 180.0 * 3.141592));
  const bool any = params->fa_on || params->adc_on || params->so_low_on || params->so_high_on ||
                   params->angle_on;
  params->stop_rule = any ? track_stop_criteria : track_never_stop;
  if (params->scheme == ZTR_FIBETRAK_TRACKING_SCHEME_ANISOCOMP) {
    params->direction_rule = track_direction_anisocomp;
  } else {
    if (params->scheme != ZTR_FIBETRAK_TRACKING_SCHEME_E1) {
      std::fprintf(console, "Invalid tracking scheme. Set to e1 track\n");
    }
    params->direction_rule = track_direction_e1;
  }
  const int k = std::clamp(workers, 1, ZTR_FIBETRAK_MAX_WORKERS);
  WorkRunOptions run;
  run.progress_format = "\rFiber tracking %d%% completed";
  run.console = console;
  run.start_failure = options.start_failure;
  const ZTR_FIBETRAK_PARAMETER& p = *params;
  ZTR_FIBETRAK_BUFFER* b = buffer.get();
  run_split_work(seed_count, k, [&](const WorkPart& part) { track_seeds(*fit, p, b, part, console); },
                 run);
  pack_fibetrak_buffer(buffer.get());
  return buffer;
}
