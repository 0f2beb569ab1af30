// Nearest and trilinear sampling at borders and between voxels, and grid resampling.
#include "sdk/volume/sampling.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

VolumePtr make_single(int32_t x, int32_t y, int32_t z, int32_t type, int32_t attribute = 0) {
  const int32_t dims[3] = {x, y, z};
  return VolumePtr(ZTR_NewSingleChannelRawVolumeData(dims, type, attribute));
}

}  // namespace

TEST(NearestSampling, TruncatesTowardZeroAndReadsZeroOutside) {
  const uint8_t data[3] = {7, 8, 9};
  EXPECT_EQ(ZTR_SampleNearest(data, 3, 1, 1, -0.5f, 0, 0), 7);  // -0.5 truncates to 0
  EXPECT_EQ(ZTR_SampleNearest(data, 3, 1, 1, 1.9f, 0, 0), 8);
  EXPECT_EQ(ZTR_SampleNearest(data, 3, 1, 1, 2.999f, 0, 0), 9);
  EXPECT_EQ(ZTR_SampleNearest(data, 3, 1, 1, 3.0f, 0, 0), 0);
  EXPECT_EQ(ZTR_SampleNearest(data, 3, 1, 1, -1.0f, 0, 0), 0);
  EXPECT_EQ(ZTR_SampleNearest(data, 3, 1, 1, 0, 1.0f, 0), 0);
  EXPECT_EQ(ZTR_SampleNearest(data, 3, 1, 1, 0, 0, -1.5f), 0);
  EXPECT_EQ(ZTR_SampleNearest(data, 3, 1, 1, 1e30f, 0, 0), 0);
}

TEST(NearestSampling, AddressesXFastestAndKeepsTypes) {
  // 2x2x2, value = linear number; voxel (1, 0, 1) is number 5, (0, 1, 1) is 6.
  const double data[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(ZTR_SampleNearest(data, 2, 2, 2, 1.2f, 0.7f, 1.0f), 5.0);
  EXPECT_EQ(ZTR_SampleNearest(data, 2, 2, 2, 0.0f, 1.0f, 1.5f), 6.0);
  const uint32_t big[1] = {0xFFFFFFF0u};
  EXPECT_EQ(ZTR_SampleNearest(big, 1, 1, 1, 0, 0, 0), 0xFFFFFFF0u);
  const int16_t negative[1] = {-300};
  EXPECT_EQ(ZTR_SampleNearest(negative, 1, 1, 1, 0, 0, 0), -300);
}

TEST(LinearSampling, LastPositionReturnsLastVoxelExactly) {
  // 3x2x2 float; the last voxel holds an awkward value that blending would disturb.
  std::vector<float> data(12, 1.0f);
  data[11] = 0.1f;
  EXPECT_EQ(ZTR_SampleLinear(data.data(), 3, 2, 2, 2.0f, 1.0f, 1.0f), 0.1f);
  // Beyond the grid the last cell is used at fraction 1 as well.
  EXPECT_EQ(ZTR_SampleLinear(data.data(), 3, 2, 2, 7.5f, 3.0f, 1.0f), 0.1f);
  std::vector<int32_t> ints(12, 0);
  ints[11] = 123456;
  EXPECT_EQ(ZTR_SampleLinear(ints.data(), 3, 2, 2, 2.0f, 1.0f, 1.0f), 123456);
}

TEST(LinearSampling, HalfwayIsTheMeanTruncatedForIntegers) {
  const uint8_t bytes[4] = {3, 4, 0, 0};
  EXPECT_EQ(ZTR_SampleLinear(bytes, 2, 2, 1, 0.5f, 0, 0), 3);  // 3.5 truncated
  const int16_t negative[4] = {-3, -4, 0, 0};
  EXPECT_EQ(ZTR_SampleLinear(negative, 2, 2, 1, 0.5f, 0, 0), -3);  // -3.5 toward zero
  const float floats[4] = {3, 4, 0, 0};
  EXPECT_EQ(ZTR_SampleLinear(floats, 2, 2, 1, 0.5f, 0, 0), 3.5f);
  const double doubles[4] = {3, 4, 10, 20};
  // (0.5, 0.5): mean of all four = 9.25
  EXPECT_DOUBLE_EQ(ZTR_SampleLinear(doubles, 2, 2, 1, 0.5f, 0.5f, 0), 9.25);
}

TEST(LinearSampling, CubeCentreIsTheMeanOfItsCorners) {
  const float data[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  EXPECT_FLOAT_EQ(ZTR_SampleLinear(data, 2, 2, 2, 0.5f, 0.5f, 0.5f), 3.5f);
  // Along z only: voxel (1, 1, 0) = 3 and (1, 1, 1) = 7, a quarter of the way -> 4.
  EXPECT_FLOAT_EQ(ZTR_SampleLinear(data, 2, 2, 2, 1.0f, 1.0f, 0.25f), 4.0f);
}

TEST(LinearSampling, JustBelowZeroExtrapolatesAndFurtherOutClamps) {
  const float data[2] = {10, 20};
  // -0.5 truncates to cell 0 with fraction -0.5: 10*1.5 + 20*(-0.5) = 5.
  EXPECT_FLOAT_EQ(ZTR_SampleLinear(data, 2, 1, 1, -0.5f, 0, 0), 5.0f);
  // -1.5 truncates to -1: cell 0 at position 0.
  EXPECT_FLOAT_EQ(ZTR_SampleLinear(data, 2, 1, 1, -1.5f, 0, 0), 10.0f);
}

TEST(LinearSampling, SingleVoxelAxisIsReadAsConstant) {
  // One slice: the z axis must not reach a second slice that does not exist.
  const float data[4] = {1, 2, 3, 4};
  EXPECT_FLOAT_EQ(ZTR_SampleLinear(data, 2, 2, 1, 0.5f, 0.5f, 0.7f), 2.5f);
  EXPECT_FLOAT_EQ(ZTR_SampleLinear(data, 2, 2, 1, 1.0f, 1.0f, -3.0f), 4.0f);
}

TEST(LinearSampling, PackedRgbaBlendsEachComponentSeparately) {
  const uint32_t data[2] = {0x00FF0010u, 0x10000030u};
  // Components halfway: 0x08, 0x7F (127.5 truncated), 0x00, 0x20.
  EXPECT_EQ(ZTR_SampleLinearRgba(data, 2, 1, 1, 0.5f, 0, 0), 0x087F0020u);
  EXPECT_EQ(ZTR_SampleLinearRgba(data, 2, 1, 1, 1.0f, 0, 0), 0x10000030u);
  // Coordinates are clamped: no extrapolation below 0 or past the last voxel.
  EXPECT_EQ(ZTR_SampleLinearRgba(data, 2, 1, 1, -0.5f, 0, 0), 0x00FF0010u);
  EXPECT_EQ(ZTR_SampleLinearRgba(data, 2, 1, 1, 9.0f, 0, 0), 0x10000030u);
  const uint32_t white[8] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                             0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
  EXPECT_EQ(ZTR_SampleLinearRgba(white, 2, 2, 2, 0.3f, 0.6f, 0.9f), 0xFFFFFFFFu);
}

TEST(LinearSampling, ChannelDispatchUsesTheChannelType) {
  VolumePtr v = make_single(2, 1, 1, ZTR_TYPE_INT8);
  ASSERT_NE(v, nullptr);
  ZTR_ChannelData<int8_t>(v.get(), 0)[0] = -10;
  ZTR_ChannelData<int8_t>(v.get(), 0)[1] = 20;
  EXPECT_EQ(ZTR_SampleChannel(v.get(), 0, 0.5f, 0, 0, 1), 5.0);
  EXPECT_EQ(ZTR_SampleChannel(v.get(), 0, 0.5f, 0, 0, 0), -10.0);
  EXPECT_EQ(ZTR_SampleChannel(v.get(), 1, 0.5f, 0, 0, 0), 0.0);
  EXPECT_EQ(ZTR_SampleChannel(v.get(), 0, 1.0f, 0, 0, 2), 0.0);
}

TEST(Resampling, FourSlicesToSevenSampleHalfStepsAndRepeatTheLast) {
  VolumePtr linear = make_single(2, 2, 4, ZTR_TYPE_FLOAT32);
  ASSERT_NE(linear, nullptr);
  for (int k = 0; k < 4; ++k) {
    for (int n = 0; n < 4; ++n) ZTR_ChannelData<float>(linear.get(), 0)[k * 4 + n] = 10.0f * k;
  }
  VolumePtr nearest(ZTR_DuplicateRawVolumeData(linear.get()));
  ASSERT_NE(nearest, nullptr);
  const int32_t size[3] = {2, 2, 7};
  ASSERT_EQ(ZTR_ResampleRawVolumeData(linear.get(), size, 1), 0);
  ASSERT_EQ(ZTR_ResampleRawVolumeData(nearest.get(), size, 0), 0);
  ASSERT_EQ(linear->header->z, 7);
  // Slices 0-5 at z = 0, 0.5, ..., 2.5; slice 6 repeats slice 5.
  const float expected_linear[7] = {0, 5, 10, 15, 20, 25, 25};
  const float expected_nearest[7] = {0, 0, 10, 10, 20, 20, 20};
  for (int k = 0; k < 7; ++k) {
    for (int n = 0; n < 4; ++n) {
      EXPECT_EQ(ZTR_ChannelData<float>(linear.get(), 0)[k * 4 + n], expected_linear[k]) << k;
      EXPECT_EQ(ZTR_ChannelData<float>(nearest.get(), 0)[k * 4 + n], expected_nearest[k]) << k;
    }
  }
}

TEST(Resampling, RowsAndColumnsAreSampledUpToTheLastVoxel) {
  VolumePtr v = make_single(3, 2, 2, ZTR_TYPE_UINT16);
  ASSERT_NE(v, nullptr);
  for (int n = 0; n < 12; ++n) ZTR_ChannelData<uint16_t>(v.get(), 0)[n] = uint16_t(100 * (n % 3));
  const int32_t size[3] = {5, 3, 2};
  ASSERT_EQ(ZTR_ResampleRawVolumeData(v.get(), size, 1), 0);
  // x positions 0, 0.5, 1, 1.5, 2 over values 0, 100, 200.
  const uint16_t expected[5] = {0, 50, 100, 150, 200};
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ZTR_Voxel<uint16_t>(v.get(), 0, i, j, 0), expected[i]);
  }
}

TEST(Resampling, PackedRgbaChannelsInterpolatePerComponent) {
  VolumePtr v = make_single(2, 2, 2, ZTR_TYPE_UINT32, ZTR_ATTRIBUTE_RGBA);
  ASSERT_NE(v, nullptr);
  for (int n = 0; n < 8; ++n) {
    ZTR_ChannelData<uint32_t>(v.get(), 0)[n] = (n % 2) ? 0xFF000000u : 0x000000FFu;
  }
  const int32_t size[3] = {3, 2, 2};
  ASSERT_EQ(ZTR_ResampleRawVolumeData(v.get(), size, 1), 0);
  EXPECT_EQ(v->attributes[0], ZTR_ATTRIBUTE_RGBA);
  // Per component: red 0 -> 127, alpha 255 -> 127; a plain blend of the packed numbers
  // would give 0x8000007F instead.
  EXPECT_EQ(ZTR_Voxel<uint32_t>(v.get(), 0, 1, 0, 0), 0x7F00007Fu);
  EXPECT_EQ(ZTR_Voxel<uint32_t>(v.get(), 0, 2, 1, 0), 0xFF000000u);
}

TEST(Resampling, OtherModesAndBadSizesChangeNothing) {
  VolumePtr v = make_single(2, 2, 2, ZTR_TYPE_UINT8);
  ASSERT_NE(v, nullptr);
  const int32_t size[3] = {4, 4, 4};
  EXPECT_EQ(ZTR_ResampleRawVolumeData(v.get(), size, 2), -1);
  const int32_t empty[3] = {4, 0, 4};
  EXPECT_EQ(ZTR_ResampleRawVolumeData(v.get(), empty, 0), -1);
  EXPECT_EQ(v->header->x, 2);
  EXPECT_EQ(v->header->y, 2);
}

TEST(Resampling, SingleOutputSliceSamplesTheFirstSlice) {
  VolumePtr v = make_single(1, 1, 3, ZTR_TYPE_INT32);
  ASSERT_NE(v, nullptr);
  ZTR_ChannelData<int32_t>(v.get(), 0)[0] = 11;
  ZTR_ChannelData<int32_t>(v.get(), 0)[2] = 33;
  const int32_t size[3] = {1, 1, 1};
  ASSERT_EQ(ZTR_ResampleRawVolumeData(v.get(), size, 1), 0);
  EXPECT_EQ(ZTR_ChannelData<int32_t>(v.get(), 0)[0], 11);
}

TEST(Resampling, ImageGrowsBilinearly) {
  const int32_t type = ZTR_TYPE_FLOAT32, attribute = 0;
  ImagePtr image(ZTR_NewRawImageData(ImageHeader{2, 2, 1}, &type, &attribute));
  ASSERT_NE(image, nullptr);
  float* p = static_cast<float*>(image->data[0]);
  p[0] = 0;
  p[1] = 4;
  p[2] = 8;
  p[3] = 12;
  const int32_t size[2] = {3, 3};
  ASSERT_EQ(ZTR_ResampleRawImageData(image.get(), size, 1), 0);
  ASSERT_EQ(image->header->x, 3);
  const float* q = static_cast<float*>(image->data[0]);
  const float expected[9] = {0, 2, 4, 4, 6, 8, 8, 10, 12};  // every row sampled, the last too
  for (int n = 0; n < 9; ++n) EXPECT_FLOAT_EQ(q[n], expected[n]) << n;
  EXPECT_EQ(ZTR_ResampleRawImageData(image.get(), size, 5), -1);
}
