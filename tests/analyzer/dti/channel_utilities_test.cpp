// Tests of threshold binarisation and the box histogram of a channel.
#include <gtest/gtest.h>

#include <cstdint>

#include "analyzer/dti/numerical.h"

namespace {

VolumePtr make_volume(int x, int y, int z, int32_t type) {
  const int32_t dims[3] = {x, y, z};
  return VolumePtr(ZTR_NewSingleChannelRawVolumeData(dims, type, ZTR_ATTRIBUTE_PLAIN));
}

}  // namespace

TEST(Binarize, SignedChannelKeepsValuesAtAndAboveANegativeThreshold) {
  // Values -10 .. 9: -5 and above are 15 voxels.
  VolumePtr v = make_volume(20, 1, 1, ZTR_TYPE_INT16);
  for (int i = 0; i < 20; ++i) ZTR_ChannelData<int16_t>(v.get(), 0)[i] = int16_t(i - 10);
  EXPECT_EQ(ZTRnumerical_BinarizeChannel(v.get(), 0, -5.0f), 15);
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(ZTR_ChannelData<int16_t>(v.get(), 0)[i], i - 10 >= -5 ? 1 : 0) << i;
}

TEST(Binarize, IntegerThresholdIsTruncatedTowardZero) {
  // 2.7 becomes 2, so the voxel of value 2 is set; -1.5 becomes -1.
  VolumePtr v = make_volume(4, 1, 1, ZTR_TYPE_INT32);
  int32_t* d = ZTR_ChannelData<int32_t>(v.get(), 0);
  d[0] = 1;
  d[1] = 2;
  d[2] = 3;
  d[3] = -2;
  EXPECT_EQ(ZTRnumerical_BinarizeChannel(v.get(), 0, 2.7f), 2);
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[1], 1);
  EXPECT_EQ(d[2], 1);
  EXPECT_EQ(d[3], 0);

  VolumePtr w = make_volume(3, 1, 1, ZTR_TYPE_INT8);
  int8_t* e = ZTR_ChannelData<int8_t>(w.get(), 0);
  e[0] = -2;
  e[1] = -1;
  e[2] = 0;
  EXPECT_EQ(ZTRnumerical_BinarizeChannel(w.get(), 0, -1.5f), 2);
  EXPECT_EQ(e[0], 0);
}

TEST(Binarize, FloatChannelsCompareUntruncatedAndStoreOne) {
  VolumePtr v = make_volume(3, 1, 1, ZTR_TYPE_FLOAT64);
  double* d = ZTR_ChannelData<double>(v.get(), 0);
  d[0] = 2.5;
  d[1] = 2.7;
  d[2] = 2.75;
  EXPECT_EQ(ZTRnumerical_BinarizeChannel(v.get(), 0, 2.7f), 1);  // 2.7f is a bit above 2.7
  EXPECT_EQ(d[0], 0.0);
  EXPECT_EQ(d[1], 0.0);
  EXPECT_EQ(d[2], 1.0);
}

TEST(Binarize, UnsignedChannelsCompareUnsigned) {
  VolumePtr v = make_volume(3, 1, 1, ZTR_TYPE_UINT16);
  uint16_t* d = ZTR_ChannelData<uint16_t>(v.get(), 0);
  d[0] = 65535;
  d[1] = 40000;
  d[2] = 100;
  EXPECT_EQ(ZTRnumerical_BinarizeChannel(v.get(), 0, 40000.0f), 2);
  EXPECT_EQ(d[0], 1);
  EXPECT_EQ(d[2], 0);
}

TEST(Binarize, ThresholdsOutsideTheTypeRangeAreHandled) {
  VolumePtr v = make_volume(2, 1, 1, ZTR_TYPE_UINT8);
  uint8_t* d = ZTR_ChannelData<uint8_t>(v.get(), 0);
  d[0] = 255;
  d[1] = 0;
  EXPECT_EQ(ZTRnumerical_BinarizeChannel(v.get(), 0, 300.0f), 0);
  EXPECT_EQ(d[0], 0);
  d[0] = 7;
  EXPECT_EQ(ZTRnumerical_BinarizeChannel(v.get(), 0, -1.0f), 2);

  VolumePtr u = make_volume(2, 1, 1, ZTR_TYPE_UINT32);
  ZTR_ChannelData<uint32_t>(u.get(), 0)[0] = 4000000000u;
  EXPECT_EQ(ZTRnumerical_BinarizeChannel(u.get(), 0, 3.0e9f), 1);
}

TEST(Binarize, AbsentChannelIsRefused) {
  VolumePtr v = make_volume(2, 2, 2, ZTR_TYPE_INT16);
  EXPECT_EQ(ZTRnumerical_BinarizeChannel(v.get(), 1, 0.0f), -1);
  EXPECT_EQ(ZTRnumerical_BinarizeChannel(v.get(), -1, 0.0f), -1);
  EXPECT_EQ(ZTRnumerical_BinarizeChannel(nullptr, 0, 0.0f), -1);
}

TEST(BoxHistogram, WholeVolumeCountsEveryValue) {
  // 3x3x3 filled with (i % 3) + 10: values 10, 11, 12, nine each; the first peak is bin 0.
  VolumePtr v = make_volume(3, 3, 3, ZTR_TYPE_INT16);
  for (int i = 0; i < 27; ++i) ZTR_ChannelData<int16_t>(v.get(), 0)[i] = int16_t(i % 3 + 10);
  HistogramPtr h(ZTRnumerical_GetBoxHistogram(v.get(), 0, nullptr, nullptr));
  ASSERT_TRUE(h);
  EXPECT_EQ(h->minimum, 10);
  EXPECT_EQ(h->maximum, 12);
  EXPECT_EQ(h->bins, 3);
  EXPECT_EQ(h->counts[0], 9);
  EXPECT_EQ(h->counts[1], 9);
  EXPECT_EQ(h->counts[2], 9);
  EXPECT_EQ(h->peak_count, 9);
  EXPECT_EQ(h->peak_index, 0);
}

TEST(BoxHistogram, BoxRestrictsTheVoxelsCounted) {
  // 4x4x4 filled 0..63 except the central 2x2x2 box, which holds 5,5,5,7,7,7,7,9 in order.
  VolumePtr v = make_volume(4, 4, 4, ZTR_TYPE_UINT16);
  uint16_t* d = ZTR_ChannelData<uint16_t>(v.get(), 0);
  for (int i = 0; i < 64; ++i) d[i] = uint16_t(i + 100);
  const int box_values[8] = {5, 5, 5, 7, 7, 7, 7, 9};
  int n = 0;
  for (int k = 1; k < 3; ++k)
    for (int j = 1; j < 3; ++j)
      for (int i = 1; i < 3; ++i) d[i + 4 * j + 16 * k] = uint16_t(box_values[n++]);
  const int32_t start[3] = {1, 1, 1}, size[3] = {2, 2, 2};
  HistogramPtr h(ZTRnumerical_GetBoxHistogram(v.get(), 0, start, size));
  ASSERT_TRUE(h);
  EXPECT_EQ(h->minimum, 5);
  EXPECT_EQ(h->maximum, 9);
  EXPECT_EQ(h->bins, 5);
  EXPECT_EQ(h->counts[0], 3);
  EXPECT_EQ(h->counts[1], 0);
  EXPECT_EQ(h->counts[2], 4);
  EXPECT_EQ(h->counts[4], 1);
  EXPECT_EQ(h->peak_index, 2);  // most frequent value 5 + 2 = 7
  EXPECT_EQ(h->peak_count, 4);

  // A zero size means the whole volume.
  const int32_t no_size[3] = {2, 0, 2};
  HistogramPtr whole(ZTRnumerical_GetBoxHistogram(v.get(), 0, start, no_size));
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->maximum, 163);
}

TEST(BoxHistogram, FloatValuesAreTruncatedAndOutOfRangeValuesClamped) {
  VolumePtr v = make_volume(5, 1, 1, ZTR_TYPE_FLOAT32);
  float* d = ZTR_ChannelData<float>(v.get(), 0);
  d[0] = -1.9f;  // -1
  d[1] = 1.9f;   // 1
  d[2] = 1.2f;   // 1
  d[3] = 1e9f;   // clamped to 32767
  d[4] = -1e9f;  // clamped to -32768
  HistogramPtr h(ZTRnumerical_GetBoxHistogram(v.get(), 0, nullptr, nullptr));
  ASSERT_TRUE(h);
  EXPECT_EQ(h->minimum, -32768);
  EXPECT_EQ(h->maximum, 32767);
  EXPECT_EQ(h->bins, 65536);
  EXPECT_EQ(h->counts[-1 + 32768], 1);
  EXPECT_EQ(h->counts[1 + 32768], 2);
  EXPECT_EQ(h->peak_index, 1 + 32768);
}

TEST(BoxHistogram, BoxIsClippedToTheVolume) {
  VolumePtr v = make_volume(3, 3, 3, ZTR_TYPE_INT8);
  for (int i = 0; i < 27; ++i) ZTR_ChannelData<int8_t>(v.get(), 0)[i] = int8_t(i);
  const int32_t start[3] = {2, 2, 2}, size[3] = {5, 5, 5};
  HistogramPtr h(ZTRnumerical_GetBoxHistogram(v.get(), 0, start, size));
  ASSERT_TRUE(h);
  EXPECT_EQ(h->minimum, 26);
  EXPECT_EQ(h->bins, 1);
  const int32_t outside[3] = {3, 0, 0}, one[3] = {1, 1, 1};
  EXPECT_EQ(ZTRnumerical_GetBoxHistogram(v.get(), 0, outside, one), nullptr);
  EXPECT_EQ(ZTRnumerical_GetBoxHistogram(v.get(), 2, nullptr, nullptr), nullptr);
}
