// Standard maps: thresholding, colour packing, scaled channels, thread independence and the
// central signal level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analyzer/dti/maps.h"
#include "analyzer/dti/tensor.h"
#include "tensor_test_support.h"

using tensor_test::DwiData;

namespace {

WorkRunOptions quiet() {
  WorkRunOptions options;
  options.console = std::tmpfile();
  return options;
}

struct Maps {
  StandardMapVolumes volumes;
  uint32_t colour(int64_t i) const { return ZTR_ChannelData<uint32_t>(volumes.colour_fa.get(), 0)[i]; }
  int16_t fa(int64_t i) const { return ZTR_ChannelData<int16_t>(volumes.fa.get(), 0)[i]; }
  int16_t adc(int64_t i) const { return ZTR_ChannelData<int16_t>(volumes.adc.get(), 0)[i]; }
  int16_t isod(int64_t i) const { return ZTR_ChannelData<int16_t>(volumes.isod.get(), 0)[i]; }
};

Maps compute(const DwiData& dwi, int16_t threshold, int threads = 1) {
  Maps maps;
  WorkRunOptions options = quiet();
  EXPECT_TRUE(compute_standard_dti_map_volumes(dwi.get(), threshold, threads, &maps.volumes, options));
  std::fclose(options.console);
  return maps;
}

SymmetricTensor fiber(double x, double y, double z) {
  const double t[3] = {x, y, z};
  return cylindrical_tensor(1.7e-3, 0.2e-3, t);
}

// The colour packing rule applied to a separately fitted tensor.
uint32_t expected_colour(const ZTR_DTI_TENSOR* t) {
  float e1[3];
  ZTRdti_GetE1(t, e1);
  const float norm = std::sqrt(e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2]);
  double w = (ZTRdti_GetFA(t) - 0.15) * 2.0;
  w = std::min(1.0, std::max(0.0, w));
  auto c = [&](float e) { return static_cast<uint32_t>(std::fabs(static_cast<double>(e / norm)) * 255.0 * w); };
  return c(e1[0]) << 24 | c(e1[1]) << 16 | c(e1[2]) << 8 | static_cast<uint32_t>(w * 255.0);
}

}  // namespace

TEST(StandardMaps, VoxelAtTheThresholdGetsZerosAndOneAboveIsFitted) {
  DwiData dwi(2, 1, 1, 30);
  dwi.set(0, 0, 0, fiber(1, 0, 0), 1000.0);
  dwi.set(1, 0, 0, fiber(1, 0, 0), 1001.0);
  const Maps maps = compute(dwi, 1000);
  EXPECT_EQ(maps.colour(0), 0u);
  EXPECT_EQ(maps.fa(0), 0);
  EXPECT_EQ(maps.adc(0), 0);
  EXPECT_EQ(maps.isod(0), 0);
  EXPECT_GT(maps.fa(1), 700);
  EXPECT_NE(maps.colour(1), 0u);
  EXPECT_GT(maps.adc(1), 0);
  EXPECT_GT(maps.isod(1), 0);
}

TEST(StandardMaps, IsotropicTensorGivesBlackColourAndIsoDOfAttenuatedSo) {
  DwiData dwi(1, 1, 1, 30);
  dwi.set(0, 0, 0, tensor_test::isotropic(1e-3), 20000.0);
  const Maps maps = compute(dwi, 0);
  EXPECT_EQ(maps.colour(0), 0u);  // w clamps to 0
  EXPECT_LE(maps.fa(0), 5);
  EXPECT_NEAR(maps.adc(0), 1000, 2);
  // isoD = exp(-ADC x b) x So_raw = 20000 / e.
  EXPECT_NEAR(maps.isod(0), 7357, 3);
  TensorPtr t(ZTRdti_NewTensor(31, 1));
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), t.get(), 0, 0, 0), 1);
  const float attenuation =
      static_cast<float>(std::exp(-static_cast<double>(ZTRdti_GetADC(t.get()) * 1000.0f)));
  // The maps take ADC from the trace, the record from its float eigenvalues: the truncated
  // values can fall one unit apart.
  EXPECT_NEAR(maps.isod(0), static_cast<int16_t>(attenuation * 20000.0f), 1);
  EXPECT_NEAR(maps.adc(0), static_cast<int16_t>(ZTRdti_GetADC(t.get()) * 1000000), 1);
}

TEST(StandardMaps, StrongAnisotropyGivesFullAlphaAndTheAxisColour) {
  // FA of the fiber is about 0.86: w clamps to 1.
  DwiData dwi(2, 1, 1, 30);
  dwi.set(0, 0, 0, fiber(1, 0, 0), 12000.0);
  dwi.set(1, 0, 0, fiber(0.6, 0.8, 0), 12000.0);
  const Maps maps = compute(dwi, 0);
  EXPECT_EQ(maps.colour(0) & 0xFF, 255u);
  EXPECT_GE(maps.colour(0) >> 24, 254u);
  EXPECT_LE((maps.colour(0) >> 16) & 0xFF, 2u);
  EXPECT_LE((maps.colour(0) >> 8) & 0xFF, 2u);
  EXPECT_NEAR(static_cast<double>(maps.colour(1) >> 24), 0.6 * 255, 2.0);
  EXPECT_NEAR(static_cast<double>((maps.colour(1) >> 16) & 0xFF), 0.8 * 255, 2.0);
  EXPECT_LE((maps.colour(1) >> 8) & 0xFF, 2u);
  EXPECT_EQ(maps.colour(1) & 0xFF, 255u);
  TensorPtr t(ZTRdti_NewTensor(31, 1));
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), t.get(), i, 0, 0), 1);
    EXPECT_EQ(maps.colour(i), expected_colour(t.get())) << i;
    EXPECT_EQ(maps.fa(i), static_cast<int16_t>(ZTRdti_GetFA(t.get()) * 1000)) << i;
  }
}

TEST(StandardMaps, ModerateAnisotropyScalesColourAndAlphaByW) {
  // FA about 0.08 (below 0.15): everything black; FA about 0.4: alpha about 127.
  DwiData dwi(2, 1, 1, 30);
  const double axes[3][3] = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}};
  const double low[3] = {1.1e-3, 1.0e-3, 0.9e-3};
  const double mid[3] = {1.4e-3, 0.7e-3, 0.6e-3};
  dwi.set(0, 0, 0, tensor_from_eigen_system(low, axes), 15000.0);
  dwi.set(1, 0, 0, tensor_from_eigen_system(mid, axes), 15000.0);
  const Maps maps = compute(dwi, 0);
  EXPECT_EQ(maps.colour(0), 0u);
  EXPECT_GT(maps.fa(0), 0);
  EXPECT_LT(maps.fa(0), 150);
  TensorPtr t(ZTRdti_NewTensor(31, 1));
  ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(dwi.get(), t.get(), 1, 0, 0), 1);
  const double fa = ZTRdti_GetFA(t.get());
  ASSERT_GT(fa, 0.2);
  ASSERT_LT(fa, 0.6);
  EXPECT_EQ(maps.colour(1), expected_colour(t.get()));
  EXPECT_NEAR(static_cast<double>(maps.colour(1) & 0xFF), (fa - 0.15) * 2 * 255, 1.0);
  // e1 along z: blue only.
  EXPECT_EQ(maps.colour(1) >> 16, 0u);
  EXPECT_GT((maps.colour(1) >> 8) & 0xFF, 0u);
}

TEST(StandardMaps, NonPositiveSignalsGiveZeroInEveryMap) {
  DwiData dwi(3, 1, 1, 30);
  dwi.set(0, 0, 0, fiber(0, 1, 0), 5000.0);
  dwi.set(1, 0, 0, fiber(0, 1, 0), 5000.0);
  dwi.set(2, 0, 0, fiber(0, 1, 0), 5000.0);
  dwi.at(9, 0, 0, 0) = 0;
  dwi.at(3, 1, 0, 0) = -20;
  const Maps maps = compute(dwi, 0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(maps.colour(i), 0u) << i;
    EXPECT_EQ(maps.fa(i), 0) << i;
    EXPECT_EQ(maps.adc(i), 0) << i;
    EXPECT_EQ(maps.isod(i), 0) << i;
  }
  EXPECT_GT(maps.fa(2), 700);
}

namespace {
// A record holding the eigen system `values` (largest first) with e1 = e1_in, e2 = z.
TensorPtr hand_made(const float values[3], const float e1_in[3]) {
  TensorPtr t(ZTRdti_NewTensor(7, 1));
  const float e2[3] = {0, 0, 1};
  const float e3[3] = {e1_in[1], -e1_in[0], 0};
  for (int i = 1; i <= 3; ++i) {
    t->matrix[i][3] = e1_in[i - 1];
    t->matrix[i][2] = e2[i - 1];
    t->matrix[i][1] = e3[i - 1];
  }
  t->eigenvalues[3] = values[0];
  t->eigenvalues[2] = values[1];
  t->eigenvalues[1] = values[2];
  for (int e = 0; e < 6; ++e) t->elements[e] = e < 3 ? values[e] : 0.0f;
  return t;
}
}  // namespace

TEST(StandardMaps, ColourPacksRedGreenBlueAlphaFromTheTopByte) {
  // FA of (1.7, 0.3, 0.3) is 0.80: w = 1. e1 = (0.6, 0.8, 0): red 153, green 204, blue 0.
  const float values[3] = {1.7e-3f, 0.3e-3f, 0.3e-3f};
  const float e1[3] = {0.6f, -0.8f, 0.0f};
  TensorPtr t = hand_made(values, e1);
  ASSERT_GT(ZTRdti_GetFA(t.get()), 0.65f);
  const StandardMapValues v = standard_map_values(t.get(), 1000.0f, 1000);
  EXPECT_EQ(v.colour_fa, 0x99CC00FFu);
  EXPECT_EQ(v.fa, static_cast<int16_t>(ZTRdti_GetFA(t.get()) * 1000));
  EXPECT_EQ(v.adc, static_cast<int16_t>(ZTRdti_GetADC(t.get()) * 1000000));  // 766
  EXPECT_NEAR(v.isod, 1000 * std::exp(-0.76667), 1.0);
  // FA just below 0.15: w clamps to 0, alpha 0 and black.
  const float weak[3] = {1.1e-3f, 1.0e-3f, 0.85e-3f};
  TensorPtr w = hand_made(weak, e1);
  ASSERT_LT(ZTRdti_GetFA(w.get()), 0.15f);
  ASSERT_GT(ZTRdti_GetFA(w.get()), 0.1f);
  EXPECT_EQ(standard_map_values(w.get(), 1000.0f, 1000).colour_fa, 0u);
}

TEST(StandardMaps, ValuesBeyondSixteenBitsSaturate) {
  TensorPtr t(ZTRdti_NewTensor(7, 1));
  // A tensor of -0.05 mm^2/s in every direction: ADC x 1e6 = -50000, isoD = e^50 x So.
  for (int i = 1; i <= 3; ++i) {
    t->eigenvalues[i] = -0.05f;
    for (int j = 1; j <= 3; ++j) t->matrix[i][j] = i == j ? 1.0f : 0.0f;
  }
  for (int e = 0; e < 6; ++e) t->elements[e] = e < 3 ? -0.05f : 0.0f;
  const StandardMapValues v = standard_map_values(t.get(), 1000.0f, 100);
  EXPECT_EQ(v.adc, -32768);
  EXPECT_EQ(v.isod, 32767);
  t->eigenvalues[1] = NAN;
  const StandardMapValues zero = standard_map_values(t.get(), 1000.0f, 100);
  EXPECT_EQ(zero.adc, 0);
  EXPECT_EQ(zero.isod, 0);
  EXPECT_EQ(zero.colour_fa, 0u);
}

TEST(StandardMaps, ThreadCountDoesNotChangeAnyValue) {
  PhantomOptions options;
  options.x = 20;
  options.y = 18;
  options.z = 9;
  options.noise_sigma = 40.0f;
  Phantom phantom;
  std::string error;
  ASSERT_TRUE(make_phantom(options, &phantom, &error)) << error;
  DtiDataPtr data(ZTRdti_NewDiffusionTensorImageData(phantom.dwi.get(), 31));
  ASSERT_EQ(apply_phantom_mpg(phantom, data.get()), 0);
  StandardMapVolumes reference;
  WorkRunOptions run = quiet();
  ASSERT_TRUE(compute_standard_dti_map_volumes(data.get(), 100, 1, &reference, run));
  for (int threads : {2, 4, 8, 512}) {
    StandardMapVolumes maps;
    ASSERT_TRUE(compute_standard_dti_map_volumes(data.get(), 100, threads, &maps, run));
    const RawVolumeData* pairs[4][2] = {{reference.colour_fa.get(), maps.colour_fa.get()},
                                        {reference.fa.get(), maps.fa.get()},
                                        {reference.adc.get(), maps.adc.get()},
                                        {reference.isod.get(), maps.isod.get()}};
    for (auto& p : pairs) {
      EXPECT_EQ(std::memcmp(p[0]->data[0], p[1]->data[0], ZTR_GetChannelBytes(p[0], 0)), 0)
          << threads << " threads";
    }
  }
  std::fclose(run.console);
}

// The whole-volume fit against the record's fit of every voxel (fit, eigen system, map
// values): the same to the rounding of the eigen solvers, that is equal or one unit apart
// in a handful of voxels, and zeros wherever a signal or So is not positive. Rows whose fitted
// voxels do not fill whole blocks, one and two b=0 channels.
TEST(StandardMaps, WholeVolumeFitMatchesTheRecordsFitVoxelByVoxel) {
  for (int b0 : {1, 2}) {
    PhantomOptions options;
    options.x = 27;
    options.y = 20;
    options.z = 6;
    options.b0_channels = b0;
    options.noise_sigma = 40.0f;
    Phantom phantom;
    std::string error;
    ASSERT_TRUE(make_phantom(options, &phantom, &error)) << error;
    RawVolumeData* v = phantom.dwi.get();
    DtiDataPtr data(ZTRdti_NewDiffusionTensorImageData(v, b0 + 30));
    ASSERT_EQ(apply_phantom_mpg(phantom, data.get()), 0);
    const int64_t voxels = 27 * 20 * 6;
    const int64_t centre = 13 + 27 * (10 + 20 * 3);
    // Signals of 0 and below in a weighted channel, and (with two b=0 channels) So below 0.
    ZTR_ChannelData<int16_t>(v, b0 + 4)[centre] = 0;
    ZTR_ChannelData<int16_t>(v, b0 + 9)[centre + 1] = -3;
    ZTR_ChannelData<int16_t>(v, b0 - 1)[centre + 2] = -5000;
    StandardMapVolumes maps;
    WorkRunOptions run = quiet();
    ASSERT_TRUE(compute_standard_dti_map_volumes(data.get(), 100, 2, &maps, run));
    std::fclose(run.console);
    TensorPtr t(ZTRdti_NewTensor(b0 + 30, b0));
    const float b = ZTRdti_GetUniformBValue(data.get());
    const int16_t* so = ZTR_ChannelData<int16_t>(v, 0);
    int64_t fitted = 0, apart = 0;
    for (int64_t i = 0; i < voxels; ++i) {
      StandardMapValues expected{0, 0, 0, 0};
      if (so[i] > 100) {
        ++fitted;
        ASSERT_EQ(tensor_fit_at_index(data.get(), t.get(), i), 1);
        expected = standard_map_values(t.get(), b, so[i]);
      }
      const int16_t got[3] = {ZTR_ChannelData<int16_t>(maps.fa.get(), 0)[i],
                              ZTR_ChannelData<int16_t>(maps.adc.get(), 0)[i],
                              ZTR_ChannelData<int16_t>(maps.isod.get(), 0)[i]};
      const int16_t want[3] = {expected.fa, expected.adc, expected.isod};
      const uint32_t colour = ZTR_ChannelData<uint32_t>(maps.colour_fa.get(), 0)[i];
      int differing = 0;
      for (int m = 0; m < 3; ++m) {
        ASSERT_LE(std::abs(got[m] - want[m]), 1) << "b0 " << b0 << " voxel " << i << " map " << m;
        differing += got[m] != want[m];
      }
      for (int shift = 0; shift < 32; shift += 8) {
        const int g = int(colour >> shift & 0xFF), w = int(expected.colour_fa >> shift & 0xFF);
        ASSERT_LE(std::abs(g - w), 1) << "b0 " << b0 << " voxel " << i << " colour byte " << shift / 8;
        differing += g != w;
      }
      apart += differing > 0;
    }
    ASSERT_GT(so[centre], 100);
    ASSERT_GT(so[centre + 1], 100);
    for (int64_t i : {centre, centre + 1, centre + 2}) {
      EXPECT_EQ(ZTR_ChannelData<int16_t>(maps.fa.get(), 0)[i], 0) << i;
      EXPECT_EQ(ZTR_ChannelData<int16_t>(maps.isod.get(), 0)[i], 0) << i;
    }
    EXPECT_GT(fitted, voxels / 3);
    EXPECT_LE(apart * 200, fitted) << "b0 " << b0 << ": " << apart << " of " << fitted;
  }
}

TEST(StandardMaps, NoiselessPhantomMapsMatchTheGroundTruth) {
  PhantomOptions options;
  options.x = 32;
  options.y = 32;
  options.z = 10;
  Phantom phantom;
  std::string error;
  ASSERT_TRUE(make_phantom(options, &phantom, &error)) << error;
  DtiDataPtr data(ZTRdti_NewDiffusionTensorImageData(phantom.dwi.get(), 31));
  ASSERT_EQ(ZTRdti_SetSingleSoDefaultMPG(data.get(), 31), 0);  // the start-up setting fits it
  StandardMapVolumes maps;
  WorkRunOptions run = quiet();
  ASSERT_TRUE(compute_standard_dti_map_volumes(data.get(), 100, 2, &maps, run));
  std::fclose(run.console);
  const float* fa = ZTR_ChannelData<float>(phantom.truth.get(), 0);
  const float* adc = ZTR_ChannelData<float>(phantom.truth.get(), 1);
  const float* label = ZTR_ChannelData<float>(phantom.truth.get(), 2);
  int counted[6] = {0, 0, 0, 0, 0, 0};
  for (int64_t i = 0; i < 32 * 32 * 10; ++i) {
    const int l = static_cast<int>(label[i]);
    ++counted[l];
    if (l == 0) {
      EXPECT_EQ(ZTR_ChannelData<int16_t>(maps.fa.get(), 0)[i], 0);
      continue;
    }
    EXPECT_NEAR(ZTR_ChannelData<int16_t>(maps.fa.get(), 0)[i], fa[i] * 1000, 15) << i;
    EXPECT_NEAR(ZTR_ChannelData<int16_t>(maps.adc.get(), 0)[i], adc[i] * 1e6, adc[i] * 1e6 * 0.01 + 2)
        << i;
  }
  for (int l = 0; l < 6; ++l) EXPECT_GT(counted[l], 0) << "label " << l;
}

TEST(StandardMaps, AppendsFourChannelsInOrderWithTheirTypes) {
  DwiData dwi(3, 2, 2, 30);
  dwi.set(1, 1, 1, fiber(0, 0, 1), 9000.0);
  Maps separate = compute(dwi, 10);
  ASSERT_EQ(compute_standard_dti_maps(dwi.get(), 10, 3), 4);
  const RawVolumeData* v = dwi.volume.get();
  ASSERT_EQ(v->header->channels, 35);
  EXPECT_EQ(v->types[31], ZTR_TYPE_UINT32);
  EXPECT_EQ(v->attributes[31], ZTR_ATTRIBUTE_RGBA);
  for (int c = 32; c < 35; ++c) {
    EXPECT_EQ(v->types[c], ZTR_TYPE_INT16);
    EXPECT_EQ(v->attributes[c], ZTR_ATTRIBUTE_PLAIN);
  }
  const RawVolumeData* order[4] = {separate.volumes.colour_fa.get(), separate.volumes.fa.get(),
                                   separate.volumes.adc.get(), separate.volumes.isod.get()};
  for (int m = 0; m < 4; ++m) {
    EXPECT_EQ(std::memcmp(v->data[31 + m], order[m]->data[0], ZTR_GetChannelBytes(order[m], 0)), 0) << m;
  }
  const int64_t index = 1 + 3 * (1 + 2 * 1);
  EXPECT_GT(ZTR_ChannelData<int16_t>(v, 32)[index], 700);
}

TEST(StandardMaps, UnfittableDataAddsNothing) {
  DwiData dwi(2, 2, 2, 30);
  dwi.get()->b0_channels = 0;
  EXPECT_EQ(compute_standard_dti_maps(dwi.get(), 0, 2), 0);
  EXPECT_EQ(dwi.volume->header->channels, 31);
  DwiData other(2, 2, 2, 30);
  other.get()->dti_channels = 40;  // more than the volume holds
  EXPECT_EQ(compute_standard_dti_maps(other.get(), 0, 2), 0);
  EXPECT_EQ(compute_standard_dti_maps(nullptr, 0, 2), 0);
}

TEST(CentralSignalLevel, IsTheMostFrequentValueInTheCentralBox) {
  // 8 x 8 x 8: the box starts at 3 and spans 2 voxels per axis (8 voxels).
  DwiData dwi(8, 8, 8, 6);
  for (int k = 0; k < 8; ++k)
    for (int j = 0; j < 8; ++j)
      for (int i = 0; i < 8; ++i) dwi.at(0, i, j, k) = 100;
  int n = 0;
  for (int k = 3; k < 5; ++k)
    for (int j = 3; j < 5; ++j)
      for (int i = 3; i < 5; ++i, ++n) dwi.at(0, i, j, k) = n < 5 ? 700 : 900;
  EXPECT_EQ(central_signal_level(dwi.volume.get()), 700);
  // Four of each: the first highest bin, the lower value, wins.
  dwi.at(0, 3, 3, 3) = 900;
  EXPECT_EQ(central_signal_level(dwi.volume.get()), 700);
  dwi.at(0, 4, 3, 3) = 900;
  EXPECT_EQ(central_signal_level(dwi.volume.get()), 900);
}

TEST(CentralSignalLevel, SmallVolumesUseTheWholeChannel) {
  DwiData dwi(3, 3, 3, 6);
  for (int k = 0; k < 3; ++k)
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 3; ++i) dwi.at(0, i, j, k) = (i + j + k) % 2 ? -40 : 60;
  // 14 voxels of 60, 13 of -40.
  EXPECT_EQ(central_signal_level(dwi.volume.get()), 60);
  EXPECT_EQ(central_signal_level(nullptr), 0);
}
