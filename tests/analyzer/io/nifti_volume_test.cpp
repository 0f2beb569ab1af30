// NIfTI images: hand-built headers read correctly, round trips through the writer, refusals.
#include "analyzer/io/nifti_volume.h"
#include "sdk/volume/mapped_volume.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <memory>

namespace {

namespace fs = std::filesystem;

class NiftiVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = std::make_unique<ztr::test::TempDir>(
        "nifti_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    dir_ = temp_->path();
    ASSERT_FALSE(dir_.empty());
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::unique_ptr<ztr::test::TempDir> temp_;
  fs::path dir_;
};

template <class T>
void put(std::vector<uint8_t>& bytes, size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// A single-file NIfTI-1 image: 348-byte header, 4 bytes of extension flag, then the data.
std::vector<uint8_t> nifti1_file(const std::vector<int16_t>& dims, int16_t datatype, int16_t bitpix,
                                 const float spacing[3], const std::vector<uint8_t>& data,
                                 float slope = 0.0f, float intercept = 0.0f, uint8_t units = 2) {
  std::vector<uint8_t> bytes(352, 0);
  put<int32_t>(bytes, 0, 348);
  put<int16_t>(bytes, 40, int16_t(dims.size()));
  for (size_t d = 0; d < dims.size(); ++d) put<int16_t>(bytes, 42 + 2 * d, dims[d]);
  for (size_t d = dims.size(); d < 7; ++d) put<int16_t>(bytes, 42 + 2 * d, 1);
  put<int16_t>(bytes, 70, datatype);
  put<int16_t>(bytes, 72, bitpix);
  put<float>(bytes, 76, 1.0f);  // qfac
  for (int d = 0; d < 3; ++d) put<float>(bytes, 80 + 4 * d, spacing[d]);
  put<float>(bytes, 108, 352.0f);
  put<float>(bytes, 112, slope);
  put<float>(bytes, 116, intercept);
  bytes[123] = units;
  std::memcpy(bytes.data() + 344, "n+1\0", 4);
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

void write_file(const std::string& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TEST_F(NiftiVolumeTest, FourDimensionalImageBecomesChannelsWithItsVoxelSize) {
  // 2x2x1 voxels, 3 volumes of signed 16 bits holding 100*t + v.
  std::vector<uint8_t> data;
  for (int t = 0; t < 3; ++t) {
    for (int v = 0; v < 4; ++v) {
      const int16_t value = int16_t(100 * t + v - 50);
      data.push_back(uint8_t(value & 0xFF));
      data.push_back(uint8_t((value >> 8) & 0xFF));
    }
  }
  const float spacing[3] = {2.0f, 2.5f, 3.0f};
  write_file(path("dwi.nii"), nifti1_file({2, 2, 1, 3}, 4 /* int16 */, 16, spacing, data));
  float voxel_size[3] = {0, 0, 0};
  std::string error;
  VolumePtr v(LoadNiftiVolume(path("dwi.nii").c_str(), voxel_size, &error));
  ASSERT_TRUE(v) << error;
  EXPECT_EQ(v->header->x, 2);
  EXPECT_EQ(v->header->y, 2);
  EXPECT_EQ(v->header->z, 1);
  EXPECT_EQ(v->header->channels, 3);
  EXPECT_FLOAT_EQ(voxel_size[0], 2.0f);
  EXPECT_FLOAT_EQ(voxel_size[1], 2.5f);
  EXPECT_FLOAT_EQ(voxel_size[2], 3.0f);
  for (int t = 0; t < 3; ++t) {
    EXPECT_EQ(v->types[t], ZTR_TYPE_INT16);
    EXPECT_EQ(v->attributes[t], 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ZTR_ChannelData<int16_t>(v.get(), t)[i], 100 * t + i - 50);
  }
}

TEST_F(NiftiVolumeTest, MappedLoadLeavesPlainDataInTheFileAndReadsEverythingElse) {
  const VolumeHeader h{3, 2, 2, 3};
  const int32_t types[3] = {ZTR_TYPE_INT16, ZTR_TYPE_INT16, ZTR_TYPE_INT16};
  const int32_t attributes[3] = {0, 0, 0};
  VolumePtr v(ZTR_NewRawVolumeData(h, types, attributes));
  ASSERT_TRUE(v);
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < 12; ++i) ZTR_ChannelData<int16_t>(v.get(), c)[i] = int16_t(1000 * c - 7 * i);
  }
  const float spacing[3] = {1.5f, 2.0f, 2.5f};
  const float one[3] = {1, 1, 1};
  write_file(path("scaled.nii"), nifti1_file({2, 1, 1}, 4, 16, one, {10, 0, 20, 0}, 0.5f, -1.0f));
  struct Case {
    const char* name;
    bool mapped;
  };
  for (const Case& c : {Case{"plain.nii", true}, Case{"packed.nii.gz", false}}) {
    std::string error;
    ASSERT_EQ(SaveNiftiVolume(v.get(), path(c.name).c_str(), spacing, &error), 0) << error;
    ImageGeometry read_geometry, mapped_geometry;
    VolumePtr read(LoadNiftiVolumeWithGeometry(path(c.name).c_str(), &read_geometry, &error));
    VolumePtr mapped(LoadNiftiVolumeWithGeometryMapped(path(c.name).c_str(), &mapped_geometry, &error));
    ASSERT_TRUE(read && mapped) << c.name << ": " << error;
    EXPECT_EQ(std::memcmp(mapped->header, v->header, sizeof h), 0) << c.name;
    for (int ch = 0; ch < 3; ++ch) {
      EXPECT_EQ(ZTR_IsMappedChannelBlock(mapped->data[ch]), c.mapped) << c.name;
      EXPECT_EQ(std::memcmp(mapped->data[ch], v->data[ch], 24), 0) << c.name << " channel " << ch;
    }
    for (int d = 0; d < 3; ++d) EXPECT_EQ(mapped_geometry.voxel_size[d], read_geometry.voxel_size[d]);
    EXPECT_EQ(mapped_geometry.qform, read_geometry.qform);
  }
  VolumePtr scaled(LoadNiftiVolumeWithGeometryMapped(path("scaled.nii").c_str(), nullptr, nullptr));
  ASSERT_TRUE(scaled);
  EXPECT_FALSE(ZTR_IsMappedChannelBlock(scaled->data[0]));
  EXPECT_FLOAT_EQ(ZTR_ChannelData<float>(scaled.get(), 0)[1], 9.0f);
}

TEST_F(NiftiVolumeTest, SpacingInMicronsIsConvertedToMillimetres) {
  const float spacing[3] = {500.0f, 250.0f, 1000.0f};
  write_file(path("um.nii"), nifti1_file({1, 1, 1}, 2, 8, spacing, {7}, 0.0f, 0.0f, 3 /* micron */));
  float voxel_size[3];
  VolumePtr v(LoadNiftiVolume(path("um.nii").c_str(), voxel_size, nullptr));
  ASSERT_TRUE(v);
  EXPECT_FLOAT_EQ(voxel_size[0], 0.5f);
  EXPECT_FLOAT_EQ(voxel_size[1], 0.25f);
  EXPECT_FLOAT_EQ(voxel_size[2], 1.0f);
  EXPECT_EQ(*ZTR_ChannelData<uint8_t>(v.get(), 0), 7);
}

TEST_F(NiftiVolumeTest, ScaledIntegersBecomeFloatChannelsHoldingTheScaledValues) {
  const float spacing[3] = {1, 1, 1};
  // unsigned 8 bits 10 and 20, slope 0.5, intercept -1: 4 and 9.
  write_file(path("scaled.nii"), nifti1_file({2, 1, 1}, 2, 8, spacing, {10, 20}, 0.5f, -1.0f));
  VolumePtr v(LoadNiftiVolume(path("scaled.nii").c_str(), nullptr, nullptr));
  ASSERT_TRUE(v);
  ASSERT_EQ(v->types[0], ZTR_TYPE_FLOAT32);
  EXPECT_FLOAT_EQ(ZTR_ChannelData<float>(v.get(), 0)[0], 4.0f);
  EXPECT_FLOAT_EQ(ZTR_ChannelData<float>(v.get(), 0)[1], 9.0f);
}

TEST_F(NiftiVolumeTest, DatatypesWithoutVoxelTypeAreRefusedWithAReason) {
  const float spacing[3] = {1, 1, 1};
  write_file(path("complex.nii"), nifti1_file({1, 1, 1}, 32 /* complex64 */, 64, spacing, std::vector<uint8_t>(8, 0)));
  write_file(path("int64.nii"), nifti1_file({1, 1, 1}, 1024 /* int64 */, 64, spacing, std::vector<uint8_t>(8, 0)));
  for (const char* name : {"complex.nii", "int64.nii"}) {
    std::string error;
    EXPECT_EQ(LoadNiftiVolume(path(name).c_str(), nullptr, &error), nullptr) << name;
    EXPECT_NE(error.find("has no voxel type"), std::string::npos) << error;
  }
  EXPECT_EQ(ZTR_VoxelTypeFromNiftiDatatype(1536 /* float128 */, nullptr), -1);
}

TEST_F(NiftiVolumeTest, TruncatedAndForeignFilesAreRefused) {
  const float spacing[3] = {1, 1, 1};
  // 4x4x4 unsigned 8 bits declared, 10 bytes present.
  write_file(path("short.nii"), nifti1_file({4, 4, 4}, 2, 8, spacing, std::vector<uint8_t>(10, 1)));
  write_file(path("text.nii"), std::vector<uint8_t>(400, 'a'));
  std::string error;
  EXPECT_EQ(LoadNiftiVolume(path("short.nii").c_str(), nullptr, &error), nullptr);
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_EQ(LoadNiftiVolume(path("text.nii").c_str(), nullptr, &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(LoadNiftiVolume(path("absent.nii").c_str(), nullptr, &error), nullptr);
}

TEST_F(NiftiVolumeTest, CompressedFileClaimingMoreThanItCanHoldIsRefusedBeforeReading) {
  const float spacing[3] = {1, 1, 1};
  // 1000 x 1000 x 1000 unsigned 8 bits (1 GB) declared in a file of a few hundred bytes.
  const std::vector<uint8_t> bytes = nifti1_file({1000, 1000, 1000}, 2, 8, spacing, std::vector<uint8_t>(16, 0));
  gzFile out = gzopen(path("huge.nii.gz").c_str(), "wb");
  ASSERT_NE(out, nullptr);
  gzwrite(out, bytes.data(), unsigned(bytes.size()));
  gzclose(out);
  std::string error;
  EXPECT_EQ(LoadNiftiVolume(path("huge.nii.gz").c_str(), nullptr, &error), nullptr);
  EXPECT_NE(error.find("shorter than its image data"), std::string::npos) << error;
}

TEST_F(NiftiVolumeTest, TooManyChannelsAreRefused) {
  const float spacing[3] = {1, 1, 1};
  write_file(path("many.nii"), nifti1_file({1, 1, 1, 4097}, 2, 8, spacing, std::vector<uint8_t>(4097, 0)));
  std::string error;
  EXPECT_EQ(LoadNiftiVolume(path("many.nii").c_str(), nullptr, &error), nullptr);
  EXPECT_NE(error.find("out of range"), std::string::npos) << error;
}

class NiftiRoundTrip : public NiftiVolumeTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(NiftiRoundTrip, EveryVoxelTypeSurvivesWritingAndReadingCompressedOrNot) {
  const int32_t type = GetParam();
  const VolumeHeader h{3, 2, 2, 2};
  const int32_t types[2] = {type, type};
  const int32_t attributes[2] = {0, 0};
  VolumePtr v(ZTR_NewRawVolumeData(h, types, attributes));
  ASSERT_TRUE(v);
  for (int c = 0; c < 2; ++c) {
    auto* bytes = static_cast<uint8_t*>(v->data[c]);
    for (size_t b = 0; b < ZTR_GetChannelBytes(v.get(), c); ++b) bytes[b] = uint8_t(31 * c + 7 * b + 3);
  }
  const float spacing[3] = {1.5f, 1.75f, 4.0f};
  for (const char* name : {"rt.nii", "rt.nii.gz"}) {
    std::string error;
    ASSERT_EQ(SaveNiftiVolume(v.get(), path(name).c_str(), spacing, &error), 0) << error;
    float back_spacing[3];
    VolumePtr back(LoadNiftiVolume(path(name).c_str(), back_spacing, &error));
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(std::memcmp(back->header, v->header, sizeof h), 0);
    for (int c = 0; c < 2; ++c) {
      EXPECT_EQ(back->types[c], type);
      EXPECT_EQ(std::memcmp(back->data[c], v->data[c], ZTR_GetChannelBytes(v.get(), c)), 0);
    }
    for (int d = 0; d < 3; ++d) EXPECT_FLOAT_EQ(back_spacing[d], spacing[d]);
  }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, NiftiRoundTrip, ::testing::Values(0, 1, 2, 3, 4, 5, 6, 7));

TEST_F(NiftiVolumeTest, RgbaChannelsRoundTripOpaqueAsRgb24AndTranslucentAsRgba32) {
  const int32_t dims[3] = {2, 1, 1};
  VolumePtr v(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT32, ZTR_ATTRIBUTE_RGBA));
  ASSERT_TRUE(v);
  uint32_t* d = ZTR_ChannelData<uint32_t>(v.get(), 0);
  d[0] = 0x112233FF;
  d[1] = 0xA0B0C0FF;
  ASSERT_EQ(SaveNiftiVolume(v.get(), path("rgb.nii").c_str(), nullptr, nullptr), 0);
  // 3 bytes per voxel after a 352-byte header: RGB24.
  EXPECT_EQ(fs::file_size(path("rgb.nii")), 352u + 6u);
  d[1] = 0xA0B0C080;
  ASSERT_EQ(SaveNiftiVolume(v.get(), path("rgba.nii").c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(fs::file_size(path("rgba.nii")), 352u + 8u);

  VolumePtr rgb(LoadNiftiVolume(path("rgb.nii").c_str(), nullptr, nullptr));
  VolumePtr rgba(LoadNiftiVolume(path("rgba.nii").c_str(), nullptr, nullptr));
  ASSERT_TRUE(rgb);
  ASSERT_TRUE(rgba);
  EXPECT_EQ(rgb->attributes[0], ZTR_ATTRIBUTE_RGBA);
  EXPECT_EQ(ZTR_ChannelData<uint32_t>(rgb.get(), 0)[0], 0x112233FFu);
  EXPECT_EQ(ZTR_ChannelData<uint32_t>(rgb.get(), 0)[1], 0xA0B0C0FFu);
  EXPECT_EQ(ZTR_ChannelData<uint32_t>(rgba.get(), 0)[1], 0xA0B0C080u);
}

TEST_F(NiftiVolumeTest, MixedChannelTypesAreRefusedWholeButWrittenPerChannel) {
  const VolumeHeader h{2, 2, 1, 2};
  const int32_t types[2] = {ZTR_TYPE_INT16, ZTR_TYPE_FLOAT32};
  const int32_t attributes[2] = {0, 0};
  VolumePtr v(ZTR_NewRawVolumeData(h, types, attributes));
  ASSERT_TRUE(v);
  ZTR_ChannelData<float>(v.get(), 1)[3] = 2.5f;
  std::string error;
  EXPECT_EQ(SaveNiftiVolume(v.get(), path("mixed.nii").c_str(), nullptr, &error), -1);
  EXPECT_FALSE(fs::exists(path("mixed.nii")));
  ASSERT_EQ(SaveNiftiChannel(v.get(), 1, path("c1.nii").c_str(), nullptr, &error), 0) << error;
  VolumePtr back(LoadNiftiVolume(path("c1.nii").c_str(), nullptr, nullptr));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->header->channels, 1);
  EXPECT_EQ(ZTR_ChannelData<float>(back.get(), 0)[3], 2.5f);
  EXPECT_EQ(SaveNiftiChannel(v.get(), 2, path("c2.nii").c_str(), nullptr, &error), -1);
  EXPECT_EQ(SaveNiftiVolume(v.get(), path("wrong.img").c_str(), nullptr, &error), -1);
}

}  // namespace
