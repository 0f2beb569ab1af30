// The synthetic phantom: its compartments, ground truth, gradient table and seeded noise.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "analyzer/dti/mpg_setting.h"
#include "analyzer/dti/tensor_phantom.h"

namespace {

Phantom make(const PhantomOptions& options) {
  Phantom p;
  std::string error;
  EXPECT_TRUE(make_phantom(options, &p, &error)) << error;
  return p;
}

PhantomOptions small() {
  PhantomOptions o;
  o.x = 32;
  o.y = 32;
  o.z = 12;
  return o;
}

}  // namespace

TEST(TensorInvariants, FractionalAnisotropyAndMeanDiffusivityOfKnownTensors) {
  const double t[3] = {0.0, 0.6, 0.8};
  const SymmetricTensor fiber = cylindrical_tensor(1.7e-3, 0.3e-3, t);
  // m = 0.7667e-3; sqrt(1.5 x 1.3067 / 3.07) = 0.7990.
  EXPECT_NEAR(tensor_fractional_anisotropy(fiber), 0.7990, 1e-4);
  EXPECT_NEAR(tensor_mean_diffusivity(fiber), 0.76667e-3, 1e-8);
  const float along[3] = {0.0f, 0.6f, 0.8f};
  EXPECT_NEAR(tensor_along(fiber, along), 1.7e-3, 1e-9);
  const SymmetricTensor iso{1e-3, 1e-3, 1e-3, 0, 0, 0};
  EXPECT_EQ(tensor_fractional_anisotropy(iso), 0.0);
  EXPECT_EQ(tensor_fractional_anisotropy(SymmetricTensor{0, 0, 0, 0, 0, 0}), 0.0);
  const float g[3] = {1, 0, 0};
  EXPECT_EQ(synthetic_signal(iso, 2000.0, 1000.0, g), 736);  // 2000 / e = 735.76
  EXPECT_EQ(synthetic_signal(iso, 2000.0, -40000.0, g), 32767);  // clamped, not wrapped
}

TEST(Phantom, HasEveryCompartmentWithItsGroundTruth) {
  const PhantomOptions o = small();
  const Phantom p = make(o);
  ASSERT_TRUE(p.dwi && p.truth);
  ASSERT_EQ(p.dwi->header->channels, 31);
  const int64_t count = 32 * 32 * 12;
  const float* fa = ZTR_ChannelData<float>(p.truth.get(), 0);
  const float* adc = ZTR_ChannelData<float>(p.truth.get(), 1);
  const float* label = ZTR_ChannelData<float>(p.truth.get(), 2);
  int seen[6] = {0, 0, 0, 0, 0, 0};
  for (int64_t i = 0; i < count; ++i) {
    const int l = static_cast<int>(label[i]);
    ASSERT_GE(l, 0);
    ASSERT_LE(l, 5);
    ++seen[l];
    const int16_t so = ZTR_ChannelData<int16_t>(p.dwi.get(), 0)[i];
    switch (l) {
      case 0:
        EXPECT_EQ(so, 0);
        EXPECT_EQ(fa[i], 0.0f);
        break;
      case 1:
        EXPECT_EQ(so, 2000);
        EXPECT_NEAR(adc[i], 0.8e-3, 1e-9);
        EXPECT_NEAR(fa[i], 0.0, 1e-6);
        break;
      case 2:
        EXPECT_EQ(so, 3000);
        EXPECT_NEAR(adc[i], 3.0e-3, 1e-9);
        break;
      case 3:
      case 4:
        EXPECT_NEAR(fa[i], 0.7990, 1e-4);
        EXPECT_NEAR(adc[i], 0.76667e-3, 1e-8);
        break;
      case 5:
        // Mean of two perpendicular fibers: eigenvalues 1.0, 1.0, 0.3 (x 1e-3).
        EXPECT_NEAR(fa[i], std::sqrt(1.5 * (2 * 0.2333 * 0.2333 + 0.4667 * 0.4667) / 2.09), 1e-3);
        break;
    }
  }
  for (int l = 0; l < 6; ++l) EXPECT_GT(seen[l], 0) << "label " << l;
}

TEST(Phantom, SignalsFollowTheTensorOfEveryVoxel) {
  const PhantomOptions o = small();
  const Phantom p = make(o);
  for (int k = 0; k < o.z; k += 3) {
    for (int j = 0; j < o.y; j += 2) {
      for (int i = 0; i < o.x; i += 2) {
        const PhantomVoxel v = phantom_voxel(o, i, j, k);
        for (int c = 1; c < 31; c += 7) {
          const float g[3] = {p.directions[c][0], p.directions[c][1], p.directions[c][2]};
          EXPECT_EQ(ZTR_Voxel<int16_t>(p.dwi.get(), c, i, j, k),
                    synthetic_signal(v.tensor, v.s0, 1000.0, g));
        }
      }
    }
  }
}

TEST(Phantom, GradientTableIsTheDefaultRowAfterTheBZeroChannels) {
  PhantomOptions o = small();
  o.b0_channels = 2;
  o.directions = 13;
  o.b_value = 700.0f;
  const Phantom p = make(o);
  ASSERT_EQ(p.b_values.size(), 15u);
  EXPECT_EQ(p.b_values[0], 0.0f);
  EXPECT_EQ(p.b_values[1], 0.0f);
  for (int d = 0; d < 13; ++d) {
    EXPECT_EQ(p.b_values[2 + d], 700.0f);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(p.directions[2 + d][a], default_mpg_direction_row(13)[d][a]);
  }
  DtiDataPtr data(ZTRdti_NewDiffusionTensorImageData(p.dwi.get(), 15));
  ASSERT_EQ(apply_phantom_mpg(p, data.get()), 0);
  EXPECT_EQ(data->b0_channels, 2);
  EXPECT_EQ(data->dti_channels, 15);
  EXPECT_EQ(data->mpg_ready, 1);
}

TEST(Phantom, NoiseIsRicianAndReproducibleFromItsSeed) {
  PhantomOptions o = small();
  o.noise_sigma = 50.0f;
  o.seed = 42;
  const Phantom a = make(o), b = make(o);
  o.seed = 43;
  const Phantom c = make(o);
  const size_t bytes = ZTR_GetChannelBytes(a.dwi.get(), 5);
  EXPECT_EQ(std::memcmp(a.dwi->data[5], b.dwi->data[5], bytes), 0);
  EXPECT_NE(std::memcmp(a.dwi->data[5], c.dwi->data[5], bytes), 0);
  // The background is no longer empty: Rician noise of pure noise has mean sigma sqrt(pi/2).
  double sum = 0;
  int n = 0;
  const float* label = ZTR_ChannelData<float>(a.truth.get(), 2);
  for (int64_t i = 0; i < 32 * 32 * 12; ++i) {
    if (label[i] != 0.0f) continue;
    const int16_t s = ZTR_ChannelData<int16_t>(a.dwi.get(), 5)[i];
    EXPECT_GE(s, 0);
    sum += s;
    ++n;
  }
  ASSERT_GT(n, 1000);
  EXPECT_NEAR(sum / n, 50.0 * std::sqrt(M_PI / 2), 3.0);
}

TEST(Phantom, RefusesOptionsOutOfRange) {
  Phantom p;
  std::string error;
  PhantomOptions o = small();
  o.directions = 5;
  EXPECT_FALSE(make_phantom(o, &p, &error));
  EXPECT_FALSE(error.empty());
  o = small();
  o.directions = 130;
  EXPECT_FALSE(make_phantom(o, &p, &error));
  o = small();
  o.x = 1;
  EXPECT_FALSE(make_phantom(o, &p, &error));
  o = small();
  o.b0_channels = 0;
  EXPECT_FALSE(make_phantom(o, &p, &error));
  o = small();
  o.noise_sigma = -1;
  EXPECT_FALSE(make_phantom(o, &p, &error));
  o = small();
  o.b_value = NAN;
  EXPECT_FALSE(make_phantom(o, &p, &error));
  EXPECT_FALSE(p.dwi);
  EXPECT_FALSE(make_phantom(small(), nullptr, &error));
}
