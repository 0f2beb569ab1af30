// Voxel type conversion: the four modes, narrowing rules, refusals and the RGBA channels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "sdk/volume/raw_volume.h"
#include "tests/support/console_capture.h"

namespace {

VolumePtr one_value_volume(int16_t value) {
  const int32_t dims[3] = {1, 1, 1};
  VolumePtr v(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_INT16, 0));
  if (v) ZTR_ChannelData<int16_t>(v.get(), 0)[0] = value;
  return v;
}

template <class D, class S>
D convert_one(S value, int32_t source_type, int32_t destination_type, int mode = 0,
              const float* source_range = nullptr, const float* target_range = nullptr) {
  D out{};
  EXPECT_EQ(ZTR_ConvertVoxelBuffer(1, &value, &out, source_type, destination_type, source_range,
                                   target_range, mode),
            0);
  return out;
}

}  // namespace

TEST(ConversionModes, MinusFiveToUnsignedByteKeepsLowByteInModeZero) {
  VolumePtr v = one_value_volume(-5);
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(ZTR_ConvertChannelType(v.get(), 0, ZTR_TYPE_UINT8, nullptr, nullptr, 0), 0);
  EXPECT_EQ(v->types[0], ZTR_TYPE_UINT8);
  EXPECT_EQ(ZTR_ChannelData<uint8_t>(v.get(), 0)[0], 251);
}

TEST(ConversionModes, MinusFiveClampsToZeroInModeOne) {
  VolumePtr v = one_value_volume(-5);
  ASSERT_NE(v, nullptr);
  const float target[2] = {0, 255};
  ASSERT_EQ(ZTR_ConvertChannelType(v.get(), 0, ZTR_TYPE_UINT8, nullptr, target, 1), 0);
  EXPECT_EQ(ZTR_ChannelData<uint8_t>(v.get(), 0)[0], 0);
}

TEST(ConversionModes, LinearMapSendsSourceEndsToTargetEnds) {
  const float source[2] = {-5, 5};
  const float target[2] = {0, 100};
  for (auto [in, expected] : {std::pair<int16_t, int>{-5, 0}, {5, 100}, {0, 50}, {-4, 10}}) {
    VolumePtr v = one_value_volume(in);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(ZTR_ConvertChannelType(v.get(), 0, ZTR_TYPE_UINT8, source, target, 2), 0);
    EXPECT_EQ(ZTR_ChannelData<uint8_t>(v.get(), 0)[0], expected) << in;
  }
}

TEST(ConversionModes, ModeTwoDoesNotClampButModeThreeDoes) {
  const float source[2] = {0, 10};
  const float target[2] = {0, 100};
  // 20 maps to 200: beyond the target range but inside the byte range.
  EXPECT_EQ((convert_one<uint8_t, int16_t>(20, ZTR_TYPE_INT16, ZTR_TYPE_UINT8, 2, source, target)),
            200);
  EXPECT_EQ((convert_one<uint8_t, int16_t>(20, ZTR_TYPE_INT16, ZTR_TYPE_UINT8, 3, source, target)),
            100);
  EXPECT_EQ((convert_one<uint8_t, int16_t>(-3, ZTR_TYPE_INT16, ZTR_TYPE_UINT8, 3, source, target)),
            0);
  // Mode 1 clamps from above as well.
  EXPECT_EQ((convert_one<int16_t, float>(7.9f, ZTR_TYPE_FLOAT32, ZTR_TYPE_INT16, 1, nullptr,
                                         target + 0)),
            7);
  const float narrow[2] = {-2, 3};
  EXPECT_EQ((convert_one<float, float>(7.9f, ZTR_TYPE_FLOAT32, ZTR_TYPE_FLOAT32, 1, nullptr,
                                       narrow)),
            3.0f);
}

TEST(ConversionModes, IntegerTargetsTruncateTowardZero) {
  EXPECT_EQ((convert_one<int8_t, float>(-2.7f, ZTR_TYPE_FLOAT32, ZTR_TYPE_INT8)), -2);
  EXPECT_EQ((convert_one<int8_t, float>(2.7f, ZTR_TYPE_FLOAT32, ZTR_TYPE_INT8)), 2);
  EXPECT_EQ((convert_one<uint16_t, double>(-0.9, ZTR_TYPE_FLOAT64, ZTR_TYPE_UINT16)), 0);
  EXPECT_EQ((convert_one<int32_t, float>(-123456.75f, ZTR_TYPE_FLOAT32, ZTR_TYPE_INT32)),
            -123456);
}

TEST(ConversionModes, OutOfRangeIntegersKeepLowOrderBytes) {
  // 300 = 0x12C -> 0x2C; -129 -> 0x7F; 70000 = 0x11170 -> 0x1170 as unsigned 16.
  EXPECT_EQ((convert_one<uint8_t, int32_t>(300, ZTR_TYPE_INT32, ZTR_TYPE_UINT8)), 0x2C);
  EXPECT_EQ((convert_one<int8_t, int16_t>(-129, ZTR_TYPE_INT16, ZTR_TYPE_INT8)), 127);
  EXPECT_EQ((convert_one<uint16_t, int32_t>(70000, ZTR_TYPE_INT32, ZTR_TYPE_UINT16)), 0x1170);
  EXPECT_EQ((convert_one<int16_t, uint16_t>(40000, ZTR_TYPE_UINT16, ZTR_TYPE_INT16)),
            int16_t(40000 - 65536));
  // 2^32 + 2^31 as float keeps its low 32 bits 0x80000000.
  EXPECT_EQ((convert_one<uint32_t, double>(6442450944.0, ZTR_TYPE_FLOAT64, ZTR_TYPE_UINT32)),
            0x80000000u);
  EXPECT_EQ((convert_one<int32_t, double>(6442450944.0, ZTR_TYPE_FLOAT64, ZTR_TYPE_INT32)),
            std::numeric_limits<int32_t>::min());
}

TEST(ConversionModes, NonFiniteAndHugeValuesGiveFixedResults) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ((convert_one<uint8_t, float>(nan, ZTR_TYPE_FLOAT32, ZTR_TYPE_UINT8)), 0);
  EXPECT_EQ((convert_one<int32_t, float>(nan, ZTR_TYPE_FLOAT32, ZTR_TYPE_INT32)), 0);
  // Saturated to the int64 range first: +inf keeps all-ones low bytes, -inf all zeros.
  EXPECT_EQ((convert_one<uint8_t, float>(inf, ZTR_TYPE_FLOAT32, ZTR_TYPE_UINT8)), 255);
  EXPECT_EQ((convert_one<int32_t, float>(-inf, ZTR_TYPE_FLOAT32, ZTR_TYPE_INT32)), 0);
  EXPECT_EQ((convert_one<uint32_t, double>(1e30, ZTR_TYPE_FLOAT64, ZTR_TYPE_UINT32)),
            0xFFFFFFFFu);
  // A zero-width source range divides by zero: the result is still defined.
  const float flat[2] = {3, 3};
  const float target[2] = {0, 10};
  EXPECT_EQ((convert_one<uint8_t, int16_t>(3, ZTR_TYPE_INT16, ZTR_TYPE_UINT8, 2, flat, target)),
            0);
  EXPECT_EQ((convert_one<uint8_t, int16_t>(4, ZTR_TYPE_INT16, ZTR_TYPE_UINT8, 3, flat, target)),
            10);
}

TEST(ConversionModes, FloatTargetsTakeTheValue) {
  EXPECT_EQ((convert_one<double, int32_t>(-7, ZTR_TYPE_INT32, ZTR_TYPE_FLOAT64)), -7.0);
  EXPECT_EQ((convert_one<float, uint32_t>(0xFFFFFFFFu, ZTR_TYPE_UINT32, ZTR_TYPE_FLOAT32)),
            4294967296.0f);
  // The value passes through 32-bit float, so a double target sees the float rounding.
  EXPECT_EQ((convert_one<double, double>(0.1, ZTR_TYPE_FLOAT64, ZTR_TYPE_FLOAT64)),
            static_cast<double>(0.1f));
  EXPECT_EQ((convert_one<float, double>(1e300, ZTR_TYPE_FLOAT64, ZTR_TYPE_FLOAT32)),
            std::numeric_limits<float>::infinity());
}

TEST(ConversionModes, EveryTypePairRoundTripsSmallValues) {
  // 0..100 fits every type; converting there and back must give the same numbers.
  std::vector<uint8_t> values(101);
  for (int n = 0; n <= 100; ++n) values[n] = static_cast<uint8_t>(n);
  for (int32_t t = 0; t < 8; ++t) {
    std::vector<unsigned char> middle(101 * 8);
    std::vector<uint8_t> back(101, 0xFF);
    ASSERT_EQ(ZTR_ConvertVoxelBuffer(101, values.data(), middle.data(), 0, t, nullptr, nullptr, 0),
              0);
    for (int n = 0; n <= 100; ++n) {
      ASSERT_EQ(ZTR_GetVoxelValueAsFloat(middle.data(), t, 101, n), float(n)) << t;
    }
    ASSERT_EQ(ZTR_ConvertVoxelBuffer(101, middle.data(), back.data(), t, 0, nullptr, nullptr, 0),
              0);
    EXPECT_EQ(back, values) << t;
  }
}

TEST(ConversionRefusals, MissingRangesBadModesAndTypesAreRefused) {
  VolumePtr v = one_value_volume(9);
  ASSERT_NE(v, nullptr);
  const float range[2] = {0, 1};
  EXPECT_EQ(ZTR_ConvertChannelType(v.get(), 0, ZTR_TYPE_UINT8, nullptr, nullptr, 1), -1);
  EXPECT_EQ(ZTR_ConvertChannelType(v.get(), 0, ZTR_TYPE_UINT8, range, nullptr, 2), -1);
  EXPECT_EQ(ZTR_ConvertChannelType(v.get(), 0, ZTR_TYPE_UINT8, nullptr, range, 3), -1);
  EXPECT_EQ(ZTR_ConvertChannelType(v.get(), 0, ZTR_TYPE_UINT8, range, range, 4), -1);
  EXPECT_EQ(ZTR_ConvertChannelType(v.get(), 0, 8, nullptr, nullptr, 0), -1);
  EXPECT_EQ(ZTR_ConvertChannelType(v.get(), 1, ZTR_TYPE_UINT8, nullptr, nullptr, 0), -1);
  EXPECT_EQ(v->types[0], ZTR_TYPE_INT16);
  EXPECT_EQ(ZTR_ChannelData<int16_t>(v.get(), 0)[0], 9);
  int16_t in = 1;
  uint8_t out = 0;
  EXPECT_EQ(ZTR_ConvertVoxelBuffer(1, &in, &out, 3, -1, nullptr, nullptr, 0), -1);
  EXPECT_EQ(ZTR_ConvertVoxelBuffer(-1, &in, &out, 3, 0, nullptr, nullptr, 0), -1);
  EXPECT_EQ(out, 0);
}

TEST(ConversionRefusals, PackedRgbaChannelIsNotConverted) {
  const int32_t dims[3] = {2, 1, 1};
  VolumePtr v(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT32, ZTR_ATTRIBUTE_RGBA));
  ASSERT_NE(v, nullptr);
  ZTR_ChannelData<uint32_t>(v.get(), 0)[1] = 0x01020304u;
  EXPECT_EQ(ZTR_ConvertChannelType(v.get(), 0, ZTR_TYPE_FLOAT32, nullptr, nullptr, 0), -1);
  EXPECT_EQ(v->types[0], ZTR_TYPE_UINT32);
  EXPECT_EQ(ZTR_ChannelData<uint32_t>(v.get(), 0)[1], 0x01020304u);
}

TEST(ConversionModes, ChannelConversionKeepsAttributeAndOtherChannels) {
  const int32_t types[2] = {ZTR_TYPE_FLOAT32, ZTR_TYPE_UINT8};
  const int32_t attributes[2] = {0, 0};
  VolumePtr v(ZTR_NewRawVolumeData(VolumeHeader{3, 1, 1, 2}, types, attributes));
  ASSERT_NE(v, nullptr);
  float* f = ZTR_ChannelData<float>(v.get(), 0);
  f[0] = 1.5f;
  f[1] = -1.5f;
  f[2] = 40000.0f;
  ZTR_ChannelData<uint8_t>(v.get(), 1)[2] = 42;
  ASSERT_EQ(ZTR_ConvertChannelType(v.get(), 0, ZTR_TYPE_INT32, nullptr, nullptr, 0), 0);
  EXPECT_EQ(v->types[0], ZTR_TYPE_INT32);
  EXPECT_EQ(v->attributes[0], 0);
  const int32_t* out = ZTR_ChannelData<int32_t>(v.get(), 0);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], -1);
  EXPECT_EQ(out[2], 40000);
  EXPECT_EQ(ZTR_ChannelData<uint8_t>(v.get(), 1)[2], 42);
  EXPECT_EQ(ZTR_GetChannelBytes(v.get(), 0), 12u);
}

TEST(RgbaChannels, UnpackingSplitsBytesHighestFirst) {
  const int32_t dims[3] = {2, 1, 1};
  VolumePtr packed(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT32, ZTR_ATTRIBUTE_RGBA));
  const int32_t types[4] = {0, 0, 0, 0}, attributes[4] = {0, 0, 0, 0};
  VolumePtr planes(ZTR_NewRawVolumeData(VolumeHeader{2, 1, 1, 4}, types, attributes));
  ASSERT_TRUE(packed && planes);
  ZTR_ChannelData<uint32_t>(packed.get(), 0)[0] = 0x11223344u;
  ZTR_ChannelData<uint32_t>(packed.get(), 0)[1] = 0xFF000080u;
  ZTR_NonInterleavedCopyRgbaRawVolumeData(planes.get(), packed.get(), 0);
  const uint8_t expected[4][2] = {{0x11, 0xFF}, {0x22, 0x00}, {0x33, 0x00}, {0x44, 0x80}};
  for (int c = 0; c < 4; ++c) {
    for (int n = 0; n < 2; ++n) EXPECT_EQ(ZTR_ChannelData<uint8_t>(planes.get(), c)[n], expected[c][n]);
  }
}

TEST(RgbaChannels, UnpackingRefusesWrongShapesWithItsMessage) {
  const int32_t dims[3] = {2, 1, 1};
  VolumePtr plain(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT32, 0));
  const int32_t types[4] = {0, 0, 0, 2}, attributes[4] = {0, 0, 0, 0};
  VolumePtr planes(ZTR_NewRawVolumeData(VolumeHeader{2, 1, 1, 4}, types, attributes));
  ASSERT_TRUE(plain && planes);
  ZTR_ChannelData<uint32_t>(plain.get(), 0)[0] = 0xFFFFFFFFu;
  const int32_t bytes[4] = {0, 0, 0, 0};
  VolumePtr good_planes(ZTR_NewRawVolumeData(VolumeHeader{2, 1, 1, 4}, bytes, attributes));
  ASSERT_NE(good_planes, nullptr);
  ztr::test::ConsoleCapture console;
  ZTR_NonInterleavedCopyRgbaRawVolumeData(good_planes.get(), plain.get(), 0);  // attribute 0
  EXPECT_EQ(console.finish(),
            "Err:ZTR_NonInterleavedCopyRgbaRawVolumeData\n");
  EXPECT_EQ(ZTR_ChannelData<uint8_t>(good_planes.get(), 0)[0], 0);
  plain->attributes[0] = ZTR_ATTRIBUTE_RGBA;
  ztr::test::ConsoleCapture console2;
  ZTR_NonInterleavedCopyRgbaRawVolumeData(planes.get(), plain.get(), 0);  // channel 3 not bytes
  EXPECT_EQ(console2.finish(),
            "Err:ZTR_NonInterleavedCopyRgbaRawVolumeData\n");
  const int32_t tall[3] = {2, 2, 1};
  VolumePtr other_size(ZTR_NewSingleChannelRawVolumeData(tall, ZTR_TYPE_UINT32, 2));
  ASSERT_NE(other_size, nullptr);
  ztr::test::ConsoleCapture console3;
  ZTR_NonInterleavedCopyRgbaRawVolumeData(good_planes.get(), other_size.get(), 0);
  EXPECT_EQ(console3.finish(),
            "Err:ZTR_NonInterleavedCopyRgbaRawVolumeData\n");
}

TEST(RgbaChannels, PackingBuildsOneRgbaChannelAndRoundTrips) {
  const int32_t types[4] = {0, 0, 0, 0}, attributes[4] = {0, 0, 0, 0};
  VolumePtr v(ZTR_NewRawVolumeData(VolumeHeader{2, 1, 1, 4}, types, attributes));
  ASSERT_NE(v, nullptr);
  const uint8_t values[4] = {0x11, 0x22, 0x33, 0x44};
  for (int c = 0; c < 4; ++c) ZTR_ChannelData<uint8_t>(v.get(), c)[1] = values[c];
  ZTR_ChannelData<uint8_t>(v.get(), 0)[0] = 0xFF;
  ASSERT_EQ(ZTR_PackRgbaChannels(v.get()), 0);
  ASSERT_EQ(v->header->channels, 1);
  EXPECT_EQ(v->types[0], ZTR_TYPE_UINT32);
  EXPECT_EQ(v->attributes[0], ZTR_ATTRIBUTE_RGBA);
  EXPECT_EQ(ZTR_ChannelData<uint32_t>(v.get(), 0)[0], 0xFF000000u);
  EXPECT_EQ(ZTR_ChannelData<uint32_t>(v.get(), 0)[1], 0x11223344u);
  VolumePtr planes(ZTR_NewRawVolumeData(VolumeHeader{2, 1, 1, 4}, types, attributes));
  ASSERT_NE(planes, nullptr);
  ZTR_NonInterleavedCopyRgbaRawVolumeData(planes.get(), v.get(), 0);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(ZTR_ChannelData<uint8_t>(planes.get(), c)[1], values[c]);
}

TEST(RgbaChannels, PackingRefusesOtherShapesWithItsMessage) {
  const int32_t types[4] = {0, 0, 2, 0}, attributes[4] = {0, 0, 0, 0};
  VolumePtr v(ZTR_NewRawVolumeData(VolumeHeader{2, 1, 1, 4}, types, attributes));
  VolumePtr three(ZTR_NewRawVolumeData(VolumeHeader{2, 1, 1, 3}, attributes, attributes));
  ASSERT_TRUE(v && three);
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTR_PackRgbaChannels(v.get()), -1);
  EXPECT_EQ(ZTR_PackRgbaChannels(three.get()), -1);
  EXPECT_EQ(console.finish(), "Invalid type(s)\nInvalid type(s)\n");
  EXPECT_EQ(v->header->channels, 4);
  EXPECT_EQ(three->header->channels, 3);
}

TEST(RgbaChannels, ImageUnpackingMirrorsTheVolumeOne) {
  const int32_t packed_type = ZTR_TYPE_UINT32, packed_attribute = ZTR_ATTRIBUTE_RGBA;
  ImagePtr packed(ZTR_NewRawImageData(ImageHeader{1, 2, 1}, &packed_type, &packed_attribute));
  const int32_t types[4] = {0, 0, 0, 0}, attributes[4] = {0, 0, 0, 0};
  ImagePtr planes(ZTR_NewRawImageData(ImageHeader{1, 2, 4}, types, attributes));
  ImagePtr three(ZTR_NewRawImageData(ImageHeader{1, 2, 3}, types, attributes));
  ASSERT_TRUE(packed && planes && three);
  static_cast<uint32_t*>(packed->data[0])[1] = 0xA1B2C3D4u;
  ZTR_NonInterleavedCopyRgbaRawImageData(planes.get(), packed.get(), 0);
  EXPECT_EQ(static_cast<uint8_t*>(planes->data[0])[1], 0xA1);
  EXPECT_EQ(static_cast<uint8_t*>(planes->data[1])[1], 0xB2);
  EXPECT_EQ(static_cast<uint8_t*>(planes->data[2])[1], 0xC3);
  EXPECT_EQ(static_cast<uint8_t*>(planes->data[3])[1], 0xD4);
  ztr::test::ConsoleCapture console;
  ZTR_NonInterleavedCopyRgbaRawImageData(three.get(), packed.get(), 0);
  EXPECT_EQ(console.finish(), "Err:ZTR_NonInterleavedCopyRgbaRawImageData\n");
}
