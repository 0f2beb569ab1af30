// The volume record: creation, layout, channel changes, serialization and its refusals.
#include "sdk/volume/raw_volume.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

namespace {

VolumePtr make_volume(int32_t x, int32_t y, int32_t z, std::vector<int32_t> types,
                      std::vector<int32_t> attributes = {}) {
  if (attributes.empty()) attributes.assign(types.size(), 0);
  const VolumeHeader header{x, y, z, static_cast<int32_t>(types.size())};
  return VolumePtr(ZTR_NewRawVolumeData(header, types.data(), attributes.data()));
}

// Fills a channel of unsigned 8-bit voxels with 1, 2, 3, ... in linear order.
void fill_counting(RawVolumeData* v, int32_t channel, uint8_t start = 1) {
  auto* p = ZTR_ChannelData<uint8_t>(v, channel);
  for (int32_t n = 0; n < ZTR_GetNumberOfVoxels(v); ++n) p[n] = static_cast<uint8_t>(start + n);
}

std::vector<unsigned char> serialize(const RawVolumeData* v) {
  std::vector<unsigned char> bytes(ZTR_GetSerializedRawVolumeDataSize(v));
  EXPECT_EQ(ZTR_SerializeRawVolumeData(v, bytes.data()), 0);
  return bytes;
}

void put_i32(std::vector<unsigned char>& bytes, size_t offset, int32_t value) {
  std::memcpy(bytes.data() + offset, &value, 4);
}

}  // namespace

TEST(VolumeCreation, AnyZeroSizeOrChannelCountGivesNoRecord) {
  const int32_t type = 0, attribute = 0;
  for (const VolumeHeader& h : {VolumeHeader{0, 2, 2, 1}, VolumeHeader{2, 0, 2, 1},
                                VolumeHeader{2, 2, 0, 1}, VolumeHeader{2, 2, 2, 0}}) {
    EXPECT_EQ(ZTR_NewRawVolumeData(h, &type, &attribute), nullptr);
  }
}

TEST(VolumeCreation, NegativeSizesAreRefused) {
  const int32_t types[2] = {0, 0}, attributes[2] = {0, 0};
  for (const VolumeHeader& h : {VolumeHeader{-1, 2, 2, 1}, VolumeHeader{2, -3, 2, 1},
                                VolumeHeader{2, 2, -2, 1}, VolumeHeader{2, 2, 2, -2},
                                VolumeHeader{-2, -2, 2, 1}}) {
    EXPECT_EQ(ZTR_NewRawVolumeData(h, types, attributes), nullptr);
  }
}

TEST(VolumeCreation, VoxelCountBeyondThirtyTwoBitsIsRefused) {
  const int32_t type = 7, attribute = 0;
  // 65536^2 voxels would wrap a 32-bit count to 0.
  EXPECT_EQ(ZTR_NewRawVolumeData(VolumeHeader{65536, 65536, 1, 1}, &type, &attribute), nullptr);
  EXPECT_EQ(ZTR_NewRawVolumeData(VolumeHeader{std::numeric_limits<int32_t>::max(), 2, 1, 1}, &type,
                                 &attribute),
            nullptr);
}

TEST(VolumeCreation, InvalidTypeOrTooManyChannelsIsRefused) {
  const int32_t bad_types[2] = {0, 8}, attributes[2] = {0, 0};
  EXPECT_EQ(ZTR_NewRawVolumeData(VolumeHeader{2, 2, 2, 2}, bad_types, attributes), nullptr);
  const int32_t negative_type = -1;
  EXPECT_EQ(ZTR_NewRawVolumeData(VolumeHeader{2, 2, 2, 1}, &negative_type, attributes), nullptr);
  std::vector<int32_t> many(ZTR_MAX_CHANNELS + 1, 0);
  EXPECT_EQ(ZTR_NewRawVolumeData(VolumeHeader{1, 1, 1, ZTR_MAX_CHANNELS + 1}, many.data(),
                                 many.data()),
            nullptr);
  VolumePtr max(ZTR_NewRawVolumeData(VolumeHeader{1, 1, 1, ZTR_MAX_CHANNELS}, many.data(),
                                     many.data()));
  ASSERT_NE(max, nullptr);
  // A record at the channel limit cannot grow past it.
  EXPECT_EQ(ZTR_AppendChannel(max.get(), 0, 0), -1);
  EXPECT_EQ(max->header->channels, ZTR_MAX_CHANNELS);
}

TEST(VolumeCreation, SingleVoxelVolumeHoldsOneZero) {
  const int32_t dims[3] = {1, 1, 1};
  VolumePtr v(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_FLOAT64, 0));
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->header->channels, 1);
  EXPECT_EQ(ZTR_GetNumberOfVoxels(v.get()), 1);
  EXPECT_EQ(ZTR_ChannelData<double>(v.get(), 0)[0], 0.0);
}

TEST(VolumeCreation, FreshChannelsOfEveryTypeReadAsZero) {
  std::vector<int32_t> types = {0, 1, 2, 3, 4, 5, 6, 7};
  std::vector<int32_t> attributes = {0, 0, 0, 0, 2, 0, 0, 0};
  VolumePtr v = make_volume(3, 4, 5, types, attributes);
  ASSERT_NE(v, nullptr);
  for (int32_t c = 0; c < 8; ++c) {
    EXPECT_EQ(v->types[c], types[c]);
    EXPECT_EQ(v->attributes[c], attributes[c]);
    ASSERT_EQ(ZTR_GetChannelBytes(v.get(), c), size_t(60) * ZTR_GetBytesPerVoxel(types[c]));
    const auto* bytes = static_cast<const unsigned char*>(v->data[c]);
    for (size_t n = 0; n < ZTR_GetChannelBytes(v.get(), c); ++n) ASSERT_EQ(bytes[n], 0) << c;
    for (int n = 0; n < 60; ++n) ASSERT_EQ(ZTR_GetVoxelValueAsFloat(v->data[c], types[c], 60, n), 0);
  }
}

TEST(VolumeLayout, VoxelIsAtLinearNumberWithXFastest) {
  VolumePtr v = make_volume(3, 4, 5, {ZTR_TYPE_INT32});
  ASSERT_NE(v, nullptr);
  ZTR_Voxel<int32_t>(v.get(), 0, 2, 1, 3) = 77;
  // 2 + 3*1 + 3*4*3 = 41
  EXPECT_EQ(ZTR_ChannelData<int32_t>(v.get(), 0)[41], 77);
  EXPECT_EQ(ZTR_GetNumberOfVoxels(v.get()), 60);
  EXPECT_EQ(ZTR_GetNumberOfVoxels(nullptr), -1);
}

TEST(VolumeQueries, BytesPerVoxelAndNames) {
  const int32_t expected_bytes[8] = {1, 1, 2, 2, 4, 4, 4, 8};
  const char* names[8] = {"unsigned 8 bits",  "signed 8 bits",  "unsigned 16 bits",
                          "signed 16 bits",   "unsigned 32 bits", "signed 32 bits",
                          "floating-point 32 bits", "floating-point 64 bits"};
  for (int32_t t = 0; t < 8; ++t) {
    EXPECT_EQ(ZTR_GetBytesPerVoxel(t), expected_bytes[t]);
    EXPECT_TRUE(ZTR_IsValidVoxelType(t));
    char buffer[23];
    ZTR_GetVoxelTypeName(t, buffer);
    EXPECT_STREQ(buffer, names[t]);
  }
  for (int32_t t : {-1, 8, 100}) {
    EXPECT_EQ(ZTR_GetBytesPerVoxel(t), 0);
    EXPECT_FALSE(ZTR_IsValidVoxelType(t));
    char buffer[23] = "untouched";
    ZTR_GetVoxelTypeName(t, buffer);
    EXPECT_STREQ(buffer, "untouched");
  }
}

TEST(VolumeCopies, DuplicateIsAnIndependentByteCopy) {
  VolumePtr v = make_volume(2, 3, 2, {ZTR_TYPE_UINT8, ZTR_TYPE_FLOAT32}, {0, 2});
  ASSERT_NE(v, nullptr);
  fill_counting(v.get(), 0);
  ZTR_ChannelData<float>(v.get(), 1)[5] = 2.5f;
  VolumePtr d(ZTR_DuplicateRawVolumeData(v.get()));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::memcmp(d->header, v->header, sizeof(VolumeHeader)), 0);
  EXPECT_EQ(d->types[1], ZTR_TYPE_FLOAT32);
  EXPECT_EQ(d->attributes[1], 2);
  EXPECT_EQ(std::memcmp(d->data[0], v->data[0], 12), 0);
  EXPECT_EQ(ZTR_ChannelData<float>(d.get(), 1)[5], 2.5f);
  EXPECT_NE(d->data[0], v->data[0]);
  ZTR_ChannelData<uint8_t>(d.get(), 0)[0] = 200;
  EXPECT_EQ(ZTR_ChannelData<uint8_t>(v.get(), 0)[0], 1);
  EXPECT_EQ(ZTR_DuplicateRawVolumeData(nullptr), nullptr);
}

TEST(VolumeCopies, ExtractSingleChannelCopiesTypeAttributeAndVoxels) {
  VolumePtr v = make_volume(2, 2, 2, {ZTR_TYPE_UINT8, ZTR_TYPE_UINT32}, {0, 2});
  ASSERT_NE(v, nullptr);
  ZTR_ChannelData<uint32_t>(v.get(), 1)[7] = 0x11223344u;
  VolumePtr e(ZTR_ExtractSingleChannel(v.get(), 1));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->header->channels, 1);
  EXPECT_EQ(e->header->x, 2);
  EXPECT_EQ(e->types[0], ZTR_TYPE_UINT32);
  EXPECT_EQ(e->attributes[0], 2);
  EXPECT_EQ(ZTR_ChannelData<uint32_t>(e.get(), 0)[7], 0x11223344u);
  EXPECT_EQ(ZTR_ExtractSingleChannel(v.get(), 2), nullptr);
  EXPECT_EQ(ZTR_ExtractSingleChannel(v.get(), -1), nullptr);
}

TEST(VolumeChannels, AppendKeepsEarlierChannelsAndAddsZeroChannel) {
  VolumePtr v = make_volume(2, 2, 2, {ZTR_TYPE_UINT8, ZTR_TYPE_INT16}, {0, 0});
  ASSERT_NE(v, nullptr);
  fill_counting(v.get(), 0);
  ZTR_ChannelData<int16_t>(v.get(), 1)[3] = -300;
  RawVolumeData* same_record = v.get();
  ASSERT_EQ(ZTR_AppendChannel(v.get(), ZTR_TYPE_FLOAT64, 2), 0);
  EXPECT_EQ(v.get(), same_record);
  ASSERT_EQ(v->header->channels, 3);
  EXPECT_EQ(v->types[0], ZTR_TYPE_UINT8);
  EXPECT_EQ(v->types[1], ZTR_TYPE_INT16);
  EXPECT_EQ(v->types[2], ZTR_TYPE_FLOAT64);
  EXPECT_EQ(v->attributes[2], 2);
  for (int n = 0; n < 8; ++n) EXPECT_EQ(ZTR_ChannelData<uint8_t>(v.get(), 0)[n], n + 1);
  EXPECT_EQ(ZTR_ChannelData<int16_t>(v.get(), 1)[3], -300);
  for (int n = 0; n < 8; ++n) EXPECT_EQ(ZTR_ChannelData<double>(v.get(), 2)[n], 0.0);
}

TEST(VolumeChannels, AppendWithInvalidTypeLeavesVolumeUnchanged) {
  VolumePtr v = make_volume(2, 2, 2, {ZTR_TYPE_UINT8});
  ASSERT_NE(v, nullptr);
  void* before = v->data[0];
  EXPECT_EQ(ZTR_AppendChannel(v.get(), 9, 0), -1);
  EXPECT_EQ(v->header->channels, 1);
  EXPECT_EQ(v->data[0], before);
  EXPECT_EQ(ZTR_AppendChannel(nullptr, 0, 0), -1);
}

TEST(VolumeChannels, AppendCopyOfItselfDuplicatesAChannel) {
  VolumePtr v = make_volume(3, 2, 2, {ZTR_TYPE_UINT8, ZTR_TYPE_UINT8}, {0, 2});
  ASSERT_NE(v, nullptr);
  fill_counting(v.get(), 1, 50);
  ASSERT_EQ(ZTR_AppendChannelCopy(v.get(), v.get(), 1), 0);
  ASSERT_EQ(v->header->channels, 3);
  EXPECT_EQ(v->attributes[2], 2);
  EXPECT_EQ(std::memcmp(v->data[1], v->data[2], 12), 0);
  EXPECT_EQ(ZTR_ChannelData<uint8_t>(v.get(), 2)[11], 61);
}

TEST(VolumeChannels, AppendCopyFromAnotherSizeIsRefused) {
  VolumePtr v = make_volume(4, 4, 4, {ZTR_TYPE_UINT8});
  VolumePtr small = make_volume(2, 2, 2, {ZTR_TYPE_UINT8});
  ASSERT_NE(v, nullptr);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(ZTR_AppendChannelCopy(v.get(), small.get(), 0), -1);
  EXPECT_EQ(ZTR_AppendChannelCopy(v.get(), v.get(), 1), -1);
  EXPECT_EQ(v->header->channels, 1);
}

TEST(VolumeChannels, RemovingChannelZeroShiftsTheOthersDown) {
  VolumePtr v = make_volume(2, 2, 1, {ZTR_TYPE_UINT8, ZTR_TYPE_INT32, ZTR_TYPE_FLOAT32}, {0, 2, 0});
  ASSERT_NE(v, nullptr);
  ZTR_ChannelData<int32_t>(v.get(), 1)[2] = -7;
  ZTR_ChannelData<float>(v.get(), 2)[3] = 1.5f;
  void* second_block = v->data[1];
  ASSERT_EQ(ZTR_RemoveChannel(v.get(), 0), 0);
  ASSERT_EQ(v->header->channels, 2);
  EXPECT_EQ(v->types[0], ZTR_TYPE_INT32);
  EXPECT_EQ(v->attributes[0], 2);
  EXPECT_EQ(v->types[1], ZTR_TYPE_FLOAT32);
  EXPECT_EQ(v->data[0], second_block);  // voxels are not copied
  EXPECT_EQ(ZTR_ChannelData<int32_t>(v.get(), 0)[2], -7);
  EXPECT_EQ(ZTR_ChannelData<float>(v.get(), 1)[3], 1.5f);
}

TEST(VolumeChannels, RemovingOutOfRangeOrTheOnlyChannelIsRefused) {
  VolumePtr v = make_volume(2, 2, 1, {ZTR_TYPE_UINT8, ZTR_TYPE_UINT8});
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(ZTR_RemoveChannel(v.get(), 2), -1);
  EXPECT_EQ(ZTR_RemoveChannel(v.get(), -1), -1);
  EXPECT_EQ(ZTR_RemoveChannel(v.get(), 1), 0);
  EXPECT_EQ(ZTR_RemoveChannel(v.get(), 0), -1);
  EXPECT_EQ(v->header->channels, 1);
}

TEST(VolumeChannels, SwapExchangesWholeContents) {
  VolumePtr a = make_volume(2, 1, 1, {ZTR_TYPE_UINT8});
  VolumePtr b = make_volume(3, 3, 3, {ZTR_TYPE_FLOAT32, ZTR_TYPE_INT8});
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  RawVolumeData* a_address = a.get();
  ZTR_SwapRawVolumeData(a.get(), b.get());
  EXPECT_EQ(a.get(), a_address);
  EXPECT_EQ(a->header->channels, 2);
  EXPECT_EQ(a->header->x, 3);
  EXPECT_EQ(b->header->channels, 1);
  EXPECT_EQ(b->types[0], ZTR_TYPE_UINT8);
}

TEST(VolumeChannels, ExchangeChannelsNeedsSameSizeAndValidIndexes) {
  VolumePtr a = make_volume(2, 2, 2, {ZTR_TYPE_UINT8, ZTR_TYPE_INT16});
  VolumePtr b = make_volume(2, 2, 2, {ZTR_TYPE_FLOAT64}, {2});
  VolumePtr c = make_volume(2, 2, 3, {ZTR_TYPE_FLOAT64});
  ASSERT_TRUE(a && b && c);
  void* a1 = a->data[1];
  void* b0 = b->data[0];
  ZTR_ExchangeChannels(a.get(), 1, b.get(), 0);
  EXPECT_EQ(a->data[1], b0);
  EXPECT_EQ(a->types[1], ZTR_TYPE_FLOAT64);
  EXPECT_EQ(a->attributes[1], 2);
  EXPECT_EQ(b->data[0], a1);
  EXPECT_EQ(b->types[0], ZTR_TYPE_INT16);
  ZTR_ExchangeChannels(a.get(), 0, c.get(), 0);  // different z: nothing happens
  EXPECT_EQ(a->types[0], ZTR_TYPE_UINT8);
  ZTR_ExchangeChannels(a.get(), 2, b.get(), 0);  // out of range: nothing happens
  EXPECT_EQ(b->types[0], ZTR_TYPE_INT16);
}

TEST(VolumeValues, ClearChannelZeroesOnlyThatChannel) {
  VolumePtr v = make_volume(2, 2, 2, {ZTR_TYPE_UINT8, ZTR_TYPE_UINT8});
  ASSERT_NE(v, nullptr);
  fill_counting(v.get(), 0);
  fill_counting(v.get(), 1);
  ZTR_ClearChannel(v.get(), 1);
  ZTR_ClearChannel(v.get(), 5);  // ignored
  for (int n = 0; n < 8; ++n) {
    EXPECT_EQ(ZTR_ChannelData<uint8_t>(v.get(), 0)[n], n + 1);
    EXPECT_EQ(ZTR_ChannelData<uint8_t>(v.get(), 1)[n], 0);
  }
}

TEST(VolumeValues, ValueAsFloatReadsEveryTypeAndRefusesOutOfRange) {
  const uint32_t big = 0xFFFFFFFFu;
  EXPECT_EQ(ZTR_GetVoxelValueAsFloat(&big, ZTR_TYPE_UINT32, 1, 0), 4294967296.0f);
  const int32_t negative = -1;
  EXPECT_EQ(ZTR_GetVoxelValueAsFloat(&negative, ZTR_TYPE_INT32, 1, 0), -1.0f);
  const int8_t s8[2] = {-128, 127};
  EXPECT_EQ(ZTR_GetVoxelValueAsFloat(s8, ZTR_TYPE_INT8, 2, 0), -128.0f);
  EXPECT_EQ(ZTR_GetVoxelValueAsFloat(s8, ZTR_TYPE_INT8, 2, 1), 127.0f);
  EXPECT_EQ(ZTR_GetVoxelValueAsFloat(s8, ZTR_TYPE_INT8, 2, 2), 0.0f);
  EXPECT_EQ(ZTR_GetVoxelValueAsFloat(s8, ZTR_TYPE_INT8, 2, -1), 0.0f);
  EXPECT_EQ(ZTR_GetVoxelValueAsFloat(s8, 8, 2, 0), 0.0f);
  const uint16_t u16 = 65535;
  EXPECT_EQ(ZTR_GetVoxelValueAsFloat(&u16, ZTR_TYPE_UINT16, 1, 0), 65535.0f);
  const double d = 0.1;
  EXPECT_EQ(ZTR_GetVoxelValueAsFloat(&d, ZTR_TYPE_FLOAT64, 1, 0), 0.1f);
  const double huge = 1e300;
  EXPECT_EQ(ZTR_GetVoxelValueAsFloat(&huge, ZTR_TYPE_FLOAT64, 1, 0),
            std::numeric_limits<float>::infinity());
}

TEST(VolumeSerialization, OneChannelTwoCubedIsThirtyTwoBytes) {
  VolumePtr v = make_volume(2, 2, 2, {ZTR_TYPE_UINT8});
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(ZTR_GetSerializedRawVolumeDataSize(v.get()), 32u);
  EXPECT_EQ(ZTR_GetSerializedRawVolumeDataSize(nullptr), 0u);
  EXPECT_EQ(ZTR_SerializeRawVolumeData(nullptr, nullptr), -1);
}

TEST(VolumeSerialization, LayoutIsHeaderTypesAttributesThenBlocks) {
  VolumePtr v = make_volume(2, 1, 1, {ZTR_TYPE_UINT8, ZTR_TYPE_INT16}, {0, 2});
  ASSERT_NE(v, nullptr);
  ZTR_ChannelData<uint8_t>(v.get(), 0)[1] = 0xAB;
  ZTR_ChannelData<int16_t>(v.get(), 1)[0] = 0x1234;
  const std::vector<unsigned char> bytes = serialize(v.get());
  // 16 + (8 + 2) + (8 + 4) = 38
  ASSERT_EQ(bytes.size(), 38u);
  const unsigned char expected[38] = {2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0,  // header
                                      0, 0, 0, 0, 3, 0, 0, 0,                          // types
                                      0, 0, 0, 0, 2, 0, 0, 0,                          // attributes
                                      0, 0xAB,                                         // channel 0
                                      0x34, 0x12, 0, 0};                               // channel 1
  EXPECT_EQ(std::memcmp(bytes.data(), expected, 38), 0);
}

// The layout helper names the offsets of the image above: types at 16, attributes at 24,
// the first block at 32.
TEST(VolumeSerialization, LayoutHelperGivesTheOffsetsTheWriterUses) {
  constexpr SerializedVolumeLayout two = ZTR_SerializedVolumeLayout(2);
  EXPECT_EQ(two.types, 16u);
  EXPECT_EQ(two.attributes, 24u);
  EXPECT_EQ(two.blocks, 32u);
  VolumePtr v = make_volume(2, 1, 1, {ZTR_TYPE_UINT8, ZTR_TYPE_INT16}, {0, 2});
  ASSERT_NE(v, nullptr);
  ZTR_ChannelData<uint8_t>(v.get(), 0)[0] = 0x5A;
  const std::vector<unsigned char> bytes = serialize(v.get());
  EXPECT_EQ(bytes[two.types + 4], ZTR_TYPE_INT16);
  EXPECT_EQ(bytes[two.attributes + 4], 2);
  EXPECT_EQ(bytes[two.blocks], 0x5A);
}

TEST(VolumeSerialization, RoundTripRestoresEverythingAndReportsBytesRead) {
  VolumePtr v = make_volume(3, 2, 2, {ZTR_TYPE_UINT8, ZTR_TYPE_FLOAT64, ZTR_TYPE_UINT32},
                            {0, 0, 2});
  ASSERT_NE(v, nullptr);
  fill_counting(v.get(), 0);
  ZTR_ChannelData<double>(v.get(), 1)[11] = -3.25;
  ZTR_ChannelData<uint32_t>(v.get(), 2)[4] = 0xDEADBEEFu;
  std::vector<unsigned char> bytes = serialize(v.get());
  const size_t exact = bytes.size();
  bytes.resize(exact + 10, 0xEE);  // trailing bytes are not part of the record
  size_t consumed = 0;
  VolumePtr r(ZTR_GetRawVolumeDataFromSerializedData(bytes.data(), bytes.size(), &consumed));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(consumed, exact);
  EXPECT_EQ(std::memcmp(r->header, v->header, sizeof(VolumeHeader)), 0);
  for (int32_t c = 0; c < 3; ++c) {
    EXPECT_EQ(r->types[c], v->types[c]);
    EXPECT_EQ(r->attributes[c], v->attributes[c]);
    EXPECT_EQ(std::memcmp(r->data[c], v->data[c], ZTR_GetChannelBytes(v.get(), c)), 0);
  }
}

TEST(VolumeSerialization, TruncatedBufferIsRefusedAtEveryLength) {
  VolumePtr v = make_volume(2, 2, 2, {ZTR_TYPE_UINT8, ZTR_TYPE_INT16});
  ASSERT_NE(v, nullptr);
  const std::vector<unsigned char> bytes = serialize(v.get());
  for (size_t size = 0; size < bytes.size(); ++size) {
    // Each prefix is copied into its own allocation so that an overread is caught.
    std::vector<unsigned char> prefix(bytes.begin(), bytes.begin() + size);
    EXPECT_EQ(ZTR_GetRawVolumeDataFromSerializedData(prefix.data(), size), nullptr) << size;
  }
  VolumePtr whole(ZTR_GetRawVolumeDataFromSerializedData(bytes.data(), bytes.size()));
  EXPECT_NE(whole, nullptr);
  EXPECT_EQ(ZTR_GetRawVolumeDataFromSerializedData(nullptr, 100), nullptr);
}

TEST(VolumeSerialization, BadHeadersAreRefused) {
  VolumePtr v = make_volume(2, 2, 2, {ZTR_TYPE_UINT8});
  ASSERT_NE(v, nullptr);
  const std::vector<unsigned char> good = serialize(v.get());
  auto refused = [&](size_t offset, int32_t value) {
    std::vector<unsigned char> bytes = good;
    put_i32(bytes, offset, value);
    RawVolumeData* r = ZTR_GetRawVolumeDataFromSerializedData(bytes.data(), bytes.size());
    ZTR_DeleteRawVolumeData(r);
    return r == nullptr;
  };
  EXPECT_TRUE(refused(0, 0));        // x = 0
  EXPECT_TRUE(refused(4, -2));       // negative y
  EXPECT_TRUE(refused(8, -1));       // negative z
  EXPECT_TRUE(refused(12, 0));       // no channels
  EXPECT_TRUE(refused(12, -1));      // negative channel count
  EXPECT_TRUE(refused(12, 4097));    // too many channels
  EXPECT_TRUE(refused(12, 2));       // second channel missing
  EXPECT_TRUE(refused(16, 8));       // invalid type code
  EXPECT_TRUE(refused(16, -1));      // invalid type code
  EXPECT_TRUE(refused(16, 7));       // 64 bytes of doubles claimed, 8 present
  EXPECT_TRUE(refused(0, 0x40000000));  // voxel count overflows
  EXPECT_FALSE(refused(20, 5));      // an unknown attribute is carried along
}

TEST(VolumeSerialization, FourThousandNinetySevenChannelsAreRefusedEvenWithEnoughBytes) {
  const int32_t n = ZTR_MAX_CHANNELS + 1;
  std::vector<unsigned char> bytes(16 + size_t(n) * 9, 0);
  put_i32(bytes, 0, 1);
  put_i32(bytes, 4, 1);
  put_i32(bytes, 8, 1);
  put_i32(bytes, 12, n);
  EXPECT_EQ(ZTR_GetRawVolumeDataFromSerializedData(bytes.data(), bytes.size()), nullptr);
  put_i32(bytes, 12, n - 1);  // the same data declaring 4096 channels is accepted
  size_t consumed = 0;
  VolumePtr r(ZTR_GetRawVolumeDataFromSerializedData(bytes.data(), bytes.size(), &consumed));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->header->channels, ZTR_MAX_CHANNELS);
  EXPECT_EQ(consumed, 16 + size_t(ZTR_MAX_CHANNELS) * 9);
}

TEST(VolumeSerialization, HugeDeclaredSizesAreRefusedWithoutAllocating) {
  std::vector<unsigned char> bytes(64, 0);
  put_i32(bytes, 0, std::numeric_limits<int32_t>::max());
  put_i32(bytes, 4, std::numeric_limits<int32_t>::max());
  put_i32(bytes, 8, std::numeric_limits<int32_t>::max());
  put_i32(bytes, 12, 1);
  EXPECT_EQ(ZTR_GetRawVolumeDataFromSerializedData(bytes.data(), bytes.size()), nullptr);
  put_i32(bytes, 0, 1000);
  put_i32(bytes, 4, 1000);
  put_i32(bytes, 8, 1000);
  put_i32(bytes, 16, ZTR_TYPE_FLOAT64);  // 8 GB claimed by a 64-byte buffer
  EXPECT_EQ(ZTR_GetRawVolumeDataFromSerializedData(bytes.data(), bytes.size()), nullptr);
}

TEST(ImageRecord, CreateDuplicateAndExtractMirrorTheVolume) {
  const int32_t types[2] = {ZTR_TYPE_UINT16, ZTR_TYPE_FLOAT32};
  const int32_t attributes[2] = {0, 2};
  ImagePtr image(ZTR_NewRawImageData(ImageHeader{3, 2, 2}, types, attributes));
  ASSERT_NE(image, nullptr);
  auto* pixels = static_cast<uint16_t*>(image->data[0]);
  for (int n = 0; n < 6; ++n) EXPECT_EQ(pixels[n], 0);
  pixels[4] = 999;  // (1, 1)
  static_cast<float*>(image->data[1])[5] = -1.5f;
  ImagePtr copy(ZTR_DuplicateRawImageData(image.get()));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(static_cast<uint16_t*>(copy->data[0])[4], 999);
  EXPECT_NE(copy->data[0], image->data[0]);
  ImagePtr single(ZTR_ExtractSingleChannelImage(image.get(), 1));
  ASSERT_NE(single, nullptr);
  EXPECT_EQ(single->header->channels, 1);
  EXPECT_EQ(single->types[0], ZTR_TYPE_FLOAT32);
  EXPECT_EQ(single->attributes[0], 2);
  EXPECT_EQ(static_cast<float*>(single->data[0])[5], -1.5f);
  EXPECT_EQ(ZTR_ExtractSingleChannelImage(image.get(), 2), nullptr);
  EXPECT_EQ(ZTR_NewRawImageData(ImageHeader{0, 2, 1}, types, attributes), nullptr);
  EXPECT_EQ(ZTR_NewRawImageData(ImageHeader{2, -2, 1}, types, attributes), nullptr);
}
