// Tracking engine: seeds, stop rules, leaving the volume, the background, direction rules,
// length limits, worker counts and packing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "analyzer/dti/tensor.h"
#include "analyzer/fibetrak/fibetrak.h"
#include "track_test_support.h"

using track_test::Console;
using track_test::Field;
using track_test::fiber;

namespace {

// Runs the engine on the given seeds with 1 worker and a captured console.
FibetrakBufferPtr track(const Field& field, ZTR_FIBETRAK_PARAMETER params,
                        const std::vector<float>& seeds, int workers = 1,
                        std::string* console_text = nullptr) {
  Console console;
  params.seeds = seeds.data();
  params.seed_count = static_cast<int>(seeds.size() / 3);
  FiberTrackingOptions options;
  options.console = console.file;
  FibetrakBufferPtr buffer = fiber_tracking(field.data(), &params, workers, options);
  if (console_text) *console_text = console.text();
  return buffer;
}

bool all_finite(const ZTR_FIBETRAK_HALFLINE& h) {
  for (int k = 0; k < h.count; ++k) {
    for (float v : {h.x[k], h.y[k], h.z[k], h.lambda1[k], h.lambda2[k], h.lambda3[k]}) {
      if (!std::isfinite(v)) return false;
    }
  }
  return true;
}

// A bundle along x filling a 16 x 6 x 6 volume.
Field x_bundle() {
  return Field(16, 6, 6, [](int, int, int) { return fiber(1, 0, 0); });
}

}  // namespace

TEST(TrackingEngine, LinesStopAtTheLastFittedNodeBeforeTheZeroBackground) {
  // Tissue for x < 10, nothing (signal 0, FA undefined) from x = 10 on. With the default
  // criteria a NaN FA passes "FA minimum > FA" and So = 0 passes "So minimum > So": the
  // line would run to full length on NaN nodes.
  Field field(16, 6, 6, [](int, int, int) { return fiber(1, 0, 0); },
              [](int i, int, int) { return i < 10 ? track_test::kS0 : 0.0; });
  const auto buffer = track(field, {}, {5.0f, 3.0f, 3.0f});
  ASSERT_EQ(buffer->line_count, 1);
  const ZTR_FIBETRAK_LINE& line = *buffer->lines[0];
  for (const ZTR_FIBETRAK_HALFLINE* h : {line.forward.get(), line.backward.get()}) {
    EXPECT_TRUE(all_finite(*h));
    EXPECT_LT(h->count, 160);
  }
  // Between voxels 9 and 10 every signal is scaled alike, so the tensor is still defined;
  // from x = 10 on the samples are 0 and the line ends.
  const ZTR_FIBETRAK_HALFLINE& forward = line.forward->x[1] > 5.0f ? *line.forward : *line.backward;
  EXPECT_LT(forward.x[forward.count - 1], 10.0f);
  EXPECT_GE(forward.x[forward.count - 1] + 0.7f, 10.0f);
}

TEST(TrackingEngine, RejectedSeedsLeaveNoLineButStillCount) {
  Field field(16, 6, 6,
              [](int i, int, int) { return i < 4 ? tensor_test::isotropic(0.8e-3) : fiber(1, 0, 0); },
              [](int i, int, int) { return i >= 12 ? 0.0 : i >= 8 ? 3000.0 : track_test::kS0; });
  ZTR_FIBETRAK_PARAMETER params;
  params.so_high_on = 1;
  params.so_max = 2500.0f;
  const float nan = std::nanf("");
  const std::vector<float> seeds = {
      2.0f, 3.0f, 3.0f,    // FA 0: fails the FA minimum
      13.0f, 3.0f, 3.0f,   // zero background: no tensor
      9.0f, 3.0f, 3.0f,    // So 3000 above the maximum
      -1.5f, 3.0f, 3.0f,   // outside the volume
      16.0f, 3.0f, 3.0f,   // outside at the upper edge
      nan, 3.0f, 3.0f,     // not a position
      6.0f, 3.0f, 3.0f,    // the only good seed
  };
  const auto buffer = track(field, params, seeds);
  EXPECT_EQ(buffer->seed_count, 7);
  ASSERT_EQ(buffer->line_count, 1);
  EXPECT_EQ(buffer->lines[0]->seed[0], 6.0f);
}

TEST(TrackingEngine, LengthOneKeepsOnlyTheSeedAndBadLengthsAreClamped) {
  const Field field = x_bundle();
  const struct {
    int length;
    int expected;
  } cases[] = {{1, 1}, {0, 1}, {-5, 1}, {40000, 256}, {3, 3}};
  for (const auto& c : cases) {
    ZTR_FIBETRAK_PARAMETER params;
    params.length = c.length;
    params.step = 0.01f;  // stays inside the volume for 256 nodes
    const auto buffer = track(field, params, {8.0f, 3.0f, 3.0f});
    ASSERT_EQ(buffer->line_count, 1) << c.length;
    EXPECT_EQ(buffer->lines[0]->forward->count, c.expected) << c.length;
    EXPECT_EQ(buffer->lines[0]->backward->count, c.expected) << c.length;
    EXPECT_EQ(buffer->lines[0]->forward->x[0], 8.0f);
    EXPECT_EQ(params.length, c.length) << "the caller's record is a copy here";
  }
}

TEST(TrackingEngine, LinesLeaveTheVolumeAtTheFirstPositionOutsideAndKeepMinusOneToZero) {
  // From x = 8 with step 0.7 along -x: node 12 is at -0.4 (truncates to 0, inside), node 13
  // would be at -1.1. Along +x: node 11 at 15.7 is inside, 16.4 is not.
  const auto buffer = track(x_bundle(), {}, {8.0f, 3.0f, 3.0f});
  ASSERT_EQ(buffer->line_count, 1);
  const ZTR_FIBETRAK_LINE& line = *buffer->lines[0];
  const bool forward_is_plus = line.forward->x[1] > 8.0f;
  const ZTR_FIBETRAK_HALFLINE& plus = forward_is_plus ? *line.forward : *line.backward;
  const ZTR_FIBETRAK_HALFLINE& minus = forward_is_plus ? *line.backward : *line.forward;
  ASSERT_EQ(minus.count, 13);
  EXPECT_NEAR(minus.x[12], -0.4f, 1e-4f);
  ASSERT_EQ(plus.count, 12);
  EXPECT_NEAR(plus.x[11], 15.7f, 1e-4f);
}

TEST(TrackingEngine, PositionTestTruncatesTowardZeroAndRefusesNaN) {
  const struct {
    float x;
    bool inside;
  } cases[] = {{-0.999f, true}, {-1.0f, false}, {0.0f, true}, {15.999f, true},
               {16.0f, false},  {std::nanf(""), false}, {INFINITY, false}, {-1e30f, false}};
  for (const auto& c : cases) {
    const float p[3] = {c.x, 1.0f, 1.0f};
    EXPECT_EQ(position_in_volume(p, 16, 4, 4), c.inside) << c.x;
  }
}

TEST(TrackingEngine, E1KeepsTheSignOfTheIncomingDirection) {
  TrackTensor t;
  const float e1s[][3] = {{-1, 0, 0}, {0, 1, 0}, {0.6f, 0.8f, 0}};
  const float expected[][3] = {{1, 0, 0}, {0, 1, 0}, {0.6f, 0.8f, 0}};
  const float cosines[] = {1.0f, 0.0f, 0.6f};
  for (int c = 0; c < 3; ++c) {
    std::copy(e1s[c], e1s[c] + 3, t.e[0]);
    float out[3];
    track_direction_e1(&t, 1, 0, 0, out);
    for (int a = 0; a < 3; ++a) EXPECT_FLOAT_EQ(out[a], expected[c][a]) << c;
    EXPECT_FLOAT_EQ(t.turning_cosine, cosines[c]) << c;
  }
}

TEST(TrackingEngine, E1LinesNeverTurnBackOnACurvedField) {
  // Circular fibers around the z axis through (8, 8): e1 is the tangent, whose sign the
  // fit does not know.
  Field field(16, 16, 4, [](int i, int j, int) {
    const double dx = i - 8.0, dy = j - 8.0, r = std::hypot(dx, dy);
    return r > 0 ? fiber(-dy / r, dx / r, 0) : tensor_test::isotropic(1e-3);
  });
  const auto buffer = track(field, {}, {12.0f, 8.0f, 1.5f});
  ASSERT_EQ(buffer->line_count, 1);
  for (const ZTR_FIBETRAK_HALFLINE* h : {buffer->lines[0]->forward.get(), buffer->lines[0]->backward.get()}) {
    ASSERT_GT(h->count, 10);
    for (int k = 2; k < h->count; ++k) {
      const float a[3] = {h->x[k - 1] - h->x[k - 2], h->y[k - 1] - h->y[k - 2], h->z[k - 1] - h->z[k - 2]};
      const float b[3] = {h->x[k] - h->x[k - 1], h->y[k] - h->y[k - 1], h->z[k] - h->z[k - 1]};
      EXPECT_GT(a[0] * b[0] + a[1] * b[1] + a[2] * b[2], 0.0f) << k;
    }
  }
}

TEST(TrackingEngine, AngleCriterionStopsAtASharpBendOnly) {
  // Fibers along x for i < 8 and along y from there: a 90 degree bend.
  Field field(16, 16, 4, [](int i, int, int) { return i < 8 ? fiber(1, 0, 0) : fiber(0, 1, 0); });
  ZTR_FIBETRAK_PARAMETER params;
  params.angle_on = 1;
  params.angle_max = 30.0f;
  const auto buffer = track(field, params, {3.0f, 8.0f, 1.5f});
  ASSERT_EQ(buffer->line_count, 1);
  const ZTR_FIBETRAK_LINE& line = *buffer->lines[0];
  const ZTR_FIBETRAK_HALFLINE& plus = line.forward->x[1] > 3.0f ? *line.forward : *line.backward;
  for (int k = 0; k < plus.count; ++k) EXPECT_NEAR(plus.y[k], 8.0f, 0.5f) << k;
  EXPECT_LT(plus.x[plus.count - 1], 9.0f);
}

TEST(TrackingEngine, AnisocompExponentIsContinuousAtItsEnds) {
  EXPECT_FLOAT_EQ(anisocomp_exponent(0.2f), 51.0f);
  EXPECT_FLOAT_EQ(anisocomp_exponent(0.8f), 1.0f);
  EXPECT_FLOAT_EQ(anisocomp_exponent(0.5f), 26.0f);
  EXPECT_FLOAT_EQ(anisocomp_exponent(0.1f), 51.0f);
  EXPECT_FLOAT_EQ(anisocomp_exponent(0.95f), 1.0f);
}

TEST(TrackingEngine, AnisocompStaysFiniteForNegativeAndZeroEigenvalues) {
  const float lambdas[][3] = {{1e-3f, 0.5e-3f, -0.2e-3f}, {0, 0, 0}, {-1e-3f, -2e-3f, -3e-3f}};
  for (const auto& l : lambdas) {
    TrackTensor t;
    std::copy(l, l + 3, t.lambda);
    const float axes[3][3] = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}};
    std::copy(&axes[0][0], &axes[0][0] + 9, &t.e[0][0]);
    float out[3];
    track_direction_anisocomp(&t, 0.6f, 0.0f, 0.8f, out);
    for (float v : out) EXPECT_TRUE(std::isfinite(v));
    EXPECT_NEAR(std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]), 1.0f, 1e-5f);
    EXPECT_TRUE(std::isfinite(t.turning_cosine));
  }
}

TEST(TrackingEngine, AnisocompFollowsE1InLinearTensorsAndKeepsDirectionInPlanarOnes) {
  TrackTensor t;
  const float axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  std::copy(&axes[0][0], &axes[0][0] + 9, &t.e[0][0]);
  const float d[3] = {0.6f, 0.8f, 0.0f};
  float out[3];
  t.lambda[0] = 1.7e-3f, t.lambda[1] = 0.17e-3f, t.lambda[2] = 0.17e-3f;  // r2 = 0.1, p = 51
  track_direction_anisocomp(&t, d[0], d[1], d[2], out);
  EXPECT_NEAR(out[0], 1.0f, 1e-5f);
  t.lambda[1] = t.lambda[2] = 1.7e-3f;  // r2 = 1, p = 1: d re-expressed unchanged
  track_direction_anisocomp(&t, d[0], d[1], d[2], out);
  EXPECT_NEAR(out[0], 0.6f, 1e-5f);
  EXPECT_NEAR(out[1], 0.8f, 1e-5f);
  EXPECT_NEAR(t.turning_cosine, 1.0f, 1e-5f);
  // A component at exactly 90 degrees is negated, then weighted by c = 0.
  const float e1_against[3] = {-1, 0, 0};
  std::copy(e1_against, e1_against + 3, t.e[0]);
  track_direction_anisocomp(&t, 1, 0, 0, out);
  EXPECT_NEAR(out[0], 1.0f, 1e-5f);
}

TEST(TrackingEngine, BuffersAreIdenticalForOneThreeAndFourWorkers) {
  PhantomOptions options;
  options.x = 32, options.y = 32, options.z = 12;
  options.noise_sigma = 20.0f;
  Phantom phantom;
  std::string error;
  ASSERT_TRUE(make_phantom(options, &phantom, &error)) << error;
  DtiDataPtr data(ZTRdti_NewDiffusionTensorImageData(phantom.dwi.get(), phantom.dwi->header->channels));
  ASSERT_EQ(apply_phantom_mpg(phantom, data.get()), 0);
  std::vector<float> seeds;
  const float centre[3] = {9.0f, 14.0f, 6.0f};
  generate_sphere_seeds(centre, 3.0f, 0.5f, ZTR_FIBETRAK_MAX_SEEDS, &seeds);
  ASSERT_GT(seeds.size(), 300u);
  std::vector<FibetrakBufferPtr> runs;
  for (int workers : {1, 3, 4}) {
    ZTR_FIBETRAK_PARAMETER params;
    params.scheme = ZTR_FIBETRAK_TRACKING_SCHEME_ANISOCOMP;
    params.seeds = seeds.data();
    params.seed_count = static_cast<int>(seeds.size() / 3);
    Console console;
    FiberTrackingOptions run;
    run.console = console.file;
    runs.push_back(fiber_tracking(data.get(), &params, workers, run));
    ASSERT_TRUE(runs.back());
  }
  ASSERT_GT(runs[0]->line_count, 10);
  for (size_t r = 1; r < runs.size(); ++r) {
    ASSERT_EQ(runs[r]->line_count, runs[0]->line_count);
    for (int i = 0; i < runs[0]->line_count; ++i) {
      const auto& a = *runs[0]->lines[i];
      const auto& b = *runs[r]->lines[i];
      ASSERT_EQ(std::memcmp(a.seed, b.seed, sizeof a.seed), 0);
      for (auto [ha, hb] : {std::pair{a.forward.get(), b.forward.get()}, std::pair{a.backward.get(), b.backward.get()}}) {
        ASSERT_EQ(ha->count, hb->count);
        for (auto member : {&ZTR_FIBETRAK_HALFLINE::x, &ZTR_FIBETRAK_HALFLINE::y, &ZTR_FIBETRAK_HALFLINE::z,
                            &ZTR_FIBETRAK_HALFLINE::lambda1, &ZTR_FIBETRAK_HALFLINE::lambda3}) {
          ASSERT_EQ(std::memcmp((ha->*member).data(), (hb->*member).data(), ha->count * sizeof(float)), 0);
        }
      }
    }
  }
}

TEST(TrackingEngine, AWorkerThatCannotStartLeavesItsSeedsWithoutLines) {
  const Field field = x_bundle();
  std::vector<float> seeds;
  for (int i = 0; i < 9; ++i) seeds.insert(seeds.end(), {4.0f + i, 3.0f, 3.0f});
  ZTR_FIBETRAK_PARAMETER params;
  params.seeds = seeds.data();
  params.seed_count = 9;
  Console console;
  FiberTrackingOptions options;
  options.console = console.file;
  options.start_failure = [](int part) { return part == 1 ? 11 : 0; };
  const auto buffer = fiber_tracking(field.data(), &params, 4, options);
  ASSERT_TRUE(buffer);
  // 9 seeds on 4 requested workers run as 3 chunks of 3; the middle one never starts.
  EXPECT_EQ(buffer->line_count, 6);
  EXPECT_EQ(buffer->lines[2]->seed[0], 6.0f);
  EXPECT_EQ(buffer->lines[3]->seed[0], 10.0f);
  EXPECT_NE(console.text().find("Warning: thread creation err (11)\n"), std::string::npos);
}

TEST(TrackingEngine, RefusesDataThatIsNotReadyAndBadSteps) {
  Field field = x_bundle();
  const std::vector<float> seeds = {8.0f, 3.0f, 3.0f};
  std::string text;
  ZTR_FIBETRAK_PARAMETER params;
  params.step = std::nanf("");
  EXPECT_FALSE(track(field, params, seeds, 1, &text));
  EXPECT_NE(text.find("step"), std::string::npos);
  params.step = 0.0f;
  EXPECT_FALSE(track(field, params, seeds, 1, &text));
  field.data()->mpg_ready = 0;
  EXPECT_FALSE(track(field, {}, seeds, 1, &text));
  EXPECT_EQ(text, "DTI data NOT ready\n");
}

TEST(TrackingEngine, UnknownSchemeFallsBackToE1WithAMessage) {
  ZTR_FIBETRAK_PARAMETER params;
  params.scheme = 7;
  std::string text;
  const auto buffer = track(x_bundle(), params, {8.0f, 3.0f, 3.0f}, 1, &text);
  ASSERT_TRUE(buffer);
  EXPECT_EQ(text, "Invalid tracking scheme. Set to e1 track\n\n");
}

TEST(TrackingEngine, EveryRunRebindsItsRulesAndAngleCosine) {
  const Field field = x_bundle();
  const std::vector<float> seeds = {8.0f, 3.0f, 3.0f};
  ZTR_FIBETRAK_PARAMETER params;
  params.seeds = seeds.data();
  params.seed_count = 1;
  params.angle_max = 60.0f;
  params.fa_on = params.so_low_on = 0;
  params.scheme = ZTR_FIBETRAK_TRACKING_SCHEME_ANISOCOMP;
  Console console;
  FiberTrackingOptions options;
  options.console = console.file;
  ASSERT_TRUE(fiber_tracking(field.data(), &params, 1, options));
  EXPECT_NEAR(params.angle_cosine, std::cos(60.0 / 180.0 * 3.141592), 1e-6);
  EXPECT_EQ(params.stop_rule, &track_never_stop);
  EXPECT_EQ(params.direction_rule, &track_direction_anisocomp);
  params.adc_on = 1;
  params.scheme = ZTR_FIBETRAK_TRACKING_SCHEME_E1;
  ASSERT_TRUE(fiber_tracking(field.data(), &params, 1, options));
  EXPECT_EQ(params.stop_rule, &track_stop_criteria);
  EXPECT_EQ(params.direction_rule, &track_direction_e1);
}

TEST(TrackingEngine, PackingCompactsInPlaceInSeedOrder) {
  ZTR_FIBETRAK_BUFFER buffer;
  buffer.lines.resize(5);
  buffer.lines[1] = track_test::line({{1, 0, 0}}, {{1, 0, 0}});
  buffer.lines[4] = track_test::line({{4, 0, 0}}, {{4, 0, 0}});
  pack_fibetrak_buffer(&buffer);
  ASSERT_EQ(buffer.line_count, 2);
  ASSERT_EQ(buffer.lines.size(), 2u);
  EXPECT_EQ(buffer.lines[0]->seed[0], 1.0f);
  EXPECT_EQ(buffer.lines[1]->seed[0], 4.0f);
}
