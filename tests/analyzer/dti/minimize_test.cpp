// "Minimize DTI data" on the phantom and on hand-made voxels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "analyzer/dti/minimize.h"
#include "analyzer/dti/mpg_setting.h"
#include "analyzer/dti/tensor.h"
#include "tensor_test_support.h"

using tensor_test::DwiData;

namespace {

WorkRunOptions quiet() {
  WorkRunOptions options;
  options.console = std::tmpfile();
  return options;
}

}  // namespace

TEST(MinimizeDtiData, PhantomBecomesSevenChannelsThatFitToTheSameTensors) {
  PhantomOptions options;
  options.x = 24;
  options.y = 24;
  options.z = 6;
  Phantom phantom;
  std::string error;
  ASSERT_TRUE(make_phantom(options, &phantom, &error)) << error;
  VolumePtr original(ZTR_DuplicateRawVolumeData(phantom.dwi.get()));
  RawVolumeData* shared = phantom.dwi.get();
  DtiDataPtr data(ZTRdti_NewDiffusionTensorImageData(shared, 31));
  ASSERT_EQ(ZTRdti_SetSingleSoDefaultMPG(data.get(), 31), 0);
  DtiDataPtr before(ZTRdti_NewDiffusionTensorImageData(original.get(), 31));
  ASSERT_EQ(ZTRdti_SetSingleSoDefaultMPG(before.get(), 31), 0);

  WorkRunOptions run = quiet();
  ASSERT_EQ(minimize_dti_data(data.get(), 4, run), 0);
  std::fclose(run.console);

  // The same volume object now holds 7 signed 16-bit channels with channel 0 unchanged.
  ASSERT_EQ(data->volume, shared);
  ASSERT_EQ(shared->header->channels, 7);
  for (int c = 0; c < 7; ++c) EXPECT_EQ(shared->types[c], ZTR_TYPE_INT16);
  EXPECT_EQ(std::memcmp(shared->data[0], original->data[0], ZTR_GetChannelBytes(shared, 0)), 0);
  // The setting: one b=0 channel, then six channels at b 1000 with the 0.707 directions.
  EXPECT_EQ(data->mpg_ready, 1);
  EXPECT_EQ(data->dti_channels, 7);
  EXPECT_EQ(data->b0_channels, 1);
  EXPECT_EQ(data->b_value[0], 0.0f);
  for (int c = 1; c < 7; ++c) {
    EXPECT_EQ(data->b_value[c], 1000.0f);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(data->mpg_vector[c][a], default_mpg_direction_row(6)[c - 1][a]);
  }
  EXPECT_FLOAT_EQ(data->mpg_vector[1][0], 0.707f);

  // Tissue voxels fitted from the six synthetic channels give the original tensors back.
  TensorPtr small(ZTRdti_NewTensor(7, 1)), full(ZTRdti_NewTensor(31, 1));
  int compared = 0;
  for (int k = 0; k < 6; ++k) {
    for (int j = 0; j < 24; ++j) {
      for (int i = 0; i < 24; ++i) {
        if (ZTR_Voxel<int16_t>(original.get(), 0, i, j, k) == 0) {
          for (int c = 1; c < 7; ++c) EXPECT_EQ(ZTR_Voxel<int16_t>(shared, c, i, j, k), 0);
          continue;
        }
        ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(before.get(), full.get(), i, j, k), 1);
        ASSERT_EQ(ZTRdti_ComputeTensorAtVoxel(data.get(), small.get(), i, j, k), 1);
        EXPECT_NEAR(ZTRdti_GetFA(small.get()), ZTRdti_GetFA(full.get()), 0.03);
        EXPECT_NEAR(ZTRdti_GetADC(small.get()), ZTRdti_GetADC(full.get()), 1.5e-5);
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 500);
}

TEST(MinimizeDtiData, SyntheticChannelsFollowTheFittedTensor) {
  DwiData dwi(2, 1, 1, 30, 2);  // two channels beyond the measurement are dropped
  const double t[3] = {0.0, 0.6, 0.8};
  const SymmetricTensor d = cylindrical_tensor(1.6e-3, 0.4e-3, t);
  dwi.set(0, 0, 0, d, 9000.0);
  dwi.set(1, 0, 0, tensor_test::isotropic(0.7e-3), 4000.0);
  WorkRunOptions run = quiet();
  ASSERT_EQ(minimize_dti_data(dwi.get(), 1, run), 0);
  std::fclose(run.console);
  ASSERT_EQ(dwi.volume->header->channels, 7);
  for (int k = 0; k < 6; ++k) {
    const float* g = default_mpg_direction_row(6)[k];
    EXPECT_NEAR(dwi.at(k + 1, 0, 0, 0), 9000.0 * std::exp(-1000.0 * tensor_along(d, g)), 3.0) << k;
    EXPECT_NEAR(dwi.at(k + 1, 1, 0, 0), 4000.0 * std::exp(-0.7), 2.0) << k;
  }
}

TEST(MinimizeDtiData, FailedAndNonFiniteFitsLeaveZerosAndHugeValuesSaturate) {
  DwiData dwi(3, 1, 1, 30);
  dwi.set(0, 0, 0, tensor_test::isotropic(1e-3), 5000.0);
  dwi.at(6, 0, 0, 0) = 0;  // log of 0
  // Voxel 1: So of 2 with diffusion-weighted signals near 30000: strongly negative
  // diffusivity, whose synthetic signals exceed the 16-bit range.
  for (int c = 1; c < 31; ++c) dwi.at(c, 1, 0, 0) = 30000;
  dwi.at(0, 1, 0, 0) = 2;
  dwi.set(2, 0, 0, tensor_test::isotropic(1e-3), 5000.0);
  WorkRunOptions run = quiet();
  ASSERT_EQ(minimize_dti_data(dwi.get(), 2, run), 0);
  std::fclose(run.console);
  EXPECT_EQ(dwi.at(0, 0, 0, 0), 5000);
  EXPECT_EQ(dwi.at(0, 1, 0, 0), 2);
  for (int c = 1; c < 7; ++c) {
    EXPECT_EQ(dwi.at(c, 0, 0, 0), 0) << c;
    // The fitted diffusivity is -ln(15000)/1000 in every direction: about 2 x 15000 again.
    EXPECT_GT(dwi.at(c, 1, 0, 0), 29000) << c;
    EXPECT_NEAR(dwi.at(c, 2, 0, 0), 5000 * std::exp(-1.0), 2.0) << c;
  }
}

TEST(MinimizeDtiData, ValuesBeyondTheRangeClampInsteadOfWrapping) {
  DwiData dwi(1, 1, 1, 6);
  // So 2000 and 32000 in every direction, measured with directions shortened to 0.8 of
  // their length: the fitted diffusivity is -ln(16) / 0.64 / 1000 in every direction.
  dwi.at(0, 0, 0, 0) = 2000;
  for (int c = 1; c < 7; ++c) dwi.at(c, 0, 0, 0) = 32000;
  float b[7] = {0, 1000, 1000, 1000, 1000, 1000, 1000};
  float g[7][3];
  for (int a = 0; a < 3; ++a) g[0][a] = 0;
  for (int c = 1; c < 7; ++c)
    for (int a = 0; a < 3; ++a) g[c][a] = default_mpg_direction_row(6)[c - 1][a] * 0.8f;
  ASSERT_EQ(ZTRdti_SetMPG(dwi.get(), 7, 1, b, g), 0);
  WorkRunOptions run = quiet();
  ASSERT_EQ(minimize_dti_data(dwi.get(), 1, run), 0);
  std::fclose(run.console);
  // 2000 x 16^(1/0.64) = 152000 is far above 32767: every channel saturates (narrowing would
  // keep the low 16 bits).
  for (int c = 1; c < 7; ++c) EXPECT_EQ(dwi.at(c, 0, 0, 0), 32767) << c;
}

TEST(MinimizeDtiData, RefusesDataItCannotFitAndChangesNothing) {
  DwiData dwi(2, 2, 2, 30);
  dwi.get()->dti_channels = 45;
  EXPECT_EQ(minimize_dti_data(dwi.get(), 2), -1);
  EXPECT_EQ(dwi.volume->header->channels, 31);
  EXPECT_EQ(minimize_dti_data(nullptr, 2), -1);
}
