// Binary mask channels (check, bounding box, inversion) and value ranges.
#include "sdk/volume/binary_mask.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

VolumePtr make_single(int32_t x, int32_t y, int32_t z, int32_t type) {
  const int32_t dims[3] = {x, y, z};
  return VolumePtr(ZTR_NewSingleChannelRawVolumeData(dims, type, 0));
}

}  // namespace

TEST(BinaryChannel, ZerosAndOnesAreBinaryOtherValuesAreNot) {
  VolumePtr v = make_single(3, 1, 1, ZTR_TYPE_INT16);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(ZTR_IsBinaryChannel(v.get(), 0), 1);  // all zero
  ZTR_ChannelData<int16_t>(v.get(), 0)[1] = 1;
  EXPECT_EQ(ZTR_IsBinaryChannel(v.get(), 0), 1);
  ZTR_ChannelData<int16_t>(v.get(), 0)[2] = -1;
  EXPECT_EQ(ZTR_IsBinaryChannel(v.get(), 0), 0);
  EXPECT_EQ(ZTR_IsBinaryChannel(v.get(), 1), 0);
  EXPECT_EQ(ZTR_IsBinaryChannel(nullptr, 0), 0);
}

TEST(BinaryChannel, FloatChannelsCompareByValue) {
  VolumePtr v = make_single(2, 1, 1, ZTR_TYPE_FLOAT32);
  ASSERT_NE(v, nullptr);
  ZTR_ChannelData<float>(v.get(), 0)[0] = 1.0f;
  ZTR_ChannelData<float>(v.get(), 0)[1] = -0.0f;
  EXPECT_EQ(ZTR_IsBinaryChannel(v.get(), 0), 1);
  ZTR_ChannelData<float>(v.get(), 0)[1] = 0.5f;
  EXPECT_EQ(ZTR_IsBinaryChannel(v.get(), 0), 0);
  ZTR_ChannelData<float>(v.get(), 0)[1] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(ZTR_IsBinaryChannel(v.get(), 0), 0);
}

TEST(BinaryChannel, InvalidTypeIsNotBinary) {
  VolumePtr v = make_single(2, 1, 1, ZTR_TYPE_UINT8);
  ASSERT_NE(v, nullptr);
  v->types[0] = 9;
  EXPECT_EQ(ZTR_IsBinaryChannel(v.get(), 0), 0);
  EXPECT_EQ(ZTR_InvertBinaryChannel(v.get(), 0), -1);
  v->types[0] = ZTR_TYPE_UINT8;
}

TEST(BinaryBoundingBox, SingleVoxelGivesAUnitBoxAtIt) {
  VolumePtr v = make_single(10, 10, 10, ZTR_TYPE_UINT8);
  ASSERT_NE(v, nullptr);
  ZTR_Voxel<uint8_t>(v.get(), 0, 5, 5, 5) = 1;
  BoxPtr box(ZTR_GetBinaryBoundingBox(v.get(), 0));
  ASSERT_NE(box, nullptr);
  for (int a = 0; a < 3; ++a) {
    EXPECT_EQ(box->origin[a], 5);
    EXPECT_EQ(box->size[a], 1);
  }
}

TEST(BinaryBoundingBox, SpansTheExtremesOnEveryAxis) {
  VolumePtr v = make_single(8, 9, 7, ZTR_TYPE_FLOAT64);
  ASSERT_NE(v, nullptr);
  // The first voxel found is not the minimum on every axis.
  ZTR_Voxel<double>(v.get(), 0, 6, 3, 2) = 1.0;
  ZTR_Voxel<double>(v.get(), 0, 1, 7, 4) = 1.0;
  ZTR_Voxel<double>(v.get(), 0, 3, 5, 6) = 1.0;
  BoxPtr box(ZTR_GetBinaryBoundingBox(v.get(), 0));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->origin[0], 1);
  EXPECT_EQ(box->origin[1], 3);
  EXPECT_EQ(box->origin[2], 2);
  EXPECT_EQ(box->size[0], 6);
  EXPECT_EQ(box->size[1], 5);
  EXPECT_EQ(box->size[2], 5);
  EXPECT_EQ(v->types[0], ZTR_TYPE_FLOAT64);  // the channel keeps its type
  EXPECT_EQ(ZTR_Voxel<double>(v.get(), 0, 3, 5, 6), 1.0);
}

TEST(BinaryBoundingBox, NoOneOrNonBinaryChannelGivesNoBox) {
  VolumePtr v = make_single(4, 4, 4, ZTR_TYPE_UINT8);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(ZTR_GetBinaryBoundingBox(v.get(), 0), nullptr);
  ZTR_Voxel<uint8_t>(v.get(), 0, 1, 1, 1) = 1;
  ZTR_Voxel<uint8_t>(v.get(), 0, 2, 2, 2) = 2;
  EXPECT_EQ(ZTR_GetBinaryBoundingBox(v.get(), 0), nullptr);
  EXPECT_EQ(ZTR_GetBinaryBoundingBox(v.get(), 3), nullptr);
}

TEST(BinaryInversion, ExchangesZerosAndOnes) {
  VolumePtr v = make_single(3, 1, 1, ZTR_TYPE_UINT32);
  ASSERT_NE(v, nullptr);
  ZTR_ChannelData<uint32_t>(v.get(), 0)[1] = 1;
  ASSERT_EQ(ZTR_InvertBinaryChannel(v.get(), 0), 0);
  EXPECT_EQ(ZTR_ChannelData<uint32_t>(v.get(), 0)[0], 1u);
  EXPECT_EQ(ZTR_ChannelData<uint32_t>(v.get(), 0)[1], 0u);
  EXPECT_EQ(ZTR_ChannelData<uint32_t>(v.get(), 0)[2], 1u);
  ZTR_ChannelData<uint32_t>(v.get(), 0)[1] = 7;
  EXPECT_EQ(ZTR_InvertBinaryChannel(v.get(), 0), -1);
  EXPECT_EQ(ZTR_ChannelData<uint32_t>(v.get(), 0)[0], 1u);
}

TEST(ValueRange, FindsMinimumAndMaximumAsFloats) {
  const int16_t values[5] = {5, -7, 9, 0, 9};
  const auto range = ZTR_GetValueRange(values, 5, ZTR_TYPE_INT16);
  EXPECT_EQ(range[0], -7.0f);
  EXPECT_EQ(range[1], 9.0f);
  const uint32_t big[2] = {1, 0xFFFFFFFFu};
  EXPECT_EQ(ZTR_GetValueRange(big, 2, ZTR_TYPE_UINT32)[1], 4294967296.0f);
  const double falling[3] = {3.0, 2.0, 1.0};
  const auto f = ZTR_GetValueRange(falling, 3, ZTR_TYPE_FLOAT64);
  EXPECT_EQ(f[0], 1.0f);
  EXPECT_EQ(f[1], 3.0f);
  // Only `count` elements are read.
  EXPECT_EQ(ZTR_GetValueRange(values, 1, ZTR_TYPE_INT16)[0], 5.0f);
  EXPECT_EQ(ZTR_GetValueRange(values, 1, ZTR_TYPE_INT16)[1], 5.0f);
}

TEST(ValueRange, InvalidTypeOrEmptyBufferGivesZeros) {
  const int16_t values[2] = {5, 6};
  for (const auto& range : {ZTR_GetValueRange(values, 2, 8), ZTR_GetValueRange(values, 0, 3),
                            ZTR_GetValueRange(nullptr, 2, 3)}) {
    EXPECT_EQ(range[0], 0.0f);
    EXPECT_EQ(range[1], 0.0f);
  }
}
