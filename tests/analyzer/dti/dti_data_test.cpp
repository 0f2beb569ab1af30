// Tests of the DTI data record: creation warnings, channel counting, duplication, the
// serialized form and the DTI file with its refusals of bad input.
#include "analyzer/dti/dti_data.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "analyzer/dti/mpg_setting.h"
#include "analyzer/notice.h"
#include "tests/support/temp_dir.h"
#include "tests/support/console_capture.h"

namespace {

struct RecordingSink : NoticeSink {
  std::vector<std::pair<std::string, std::string>> shown;
  void notice(const std::string& title, const std::string& text) override {
    shown.emplace_back(title, text);
  }
};

// x*y*z volume whose channels have the given types; every voxel gets a value derived from
// its channel and index so that any mix-up shows.
VolumePtr make_volume(int x, int y, int z, const std::vector<int32_t>& types) {
  const VolumeHeader header{x, y, z, static_cast<int32_t>(types.size())};
  std::vector<int32_t> attributes(types.size(), ZTR_ATTRIBUTE_PLAIN);
  VolumePtr v(ZTR_NewRawVolumeData(header, types.data(), attributes.data()));
  if (!v) return v;
  for (size_t c = 0; c < types.size(); ++c) {
    auto* bytes = static_cast<unsigned char*>(v->data[c]);
    const size_t n = ZTR_GetChannelBytes(v.get(), static_cast<int32_t>(c));
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + c * 31 + 1);
  }
  return v;
}

std::vector<int32_t> int16_channels(int n) { return std::vector<int32_t>(n, ZTR_TYPE_INT16); }

DiffusionTensorImageData* quiet_new(RawVolumeData* v, int32_t n) {
  ztr::test::ConsoleCapture console;
  DiffusionTensorImageData* d = ZTRdti_NewDiffusionTensorImageData(v, n);
  console.finish();
  return d;
}

bool same_volume(const RawVolumeData* a, const RawVolumeData* b) {
  if (std::memcmp(a->header, b->header, sizeof(VolumeHeader)) != 0) return false;
  for (int c = 0; c < a->header->channels; ++c) {
    if (a->types[c] != b->types[c] || a->attributes[c] != b->attributes[c]) return false;
    if (std::memcmp(a->data[c], b->data[c], ZTR_GetChannelBytes(a, c)) != 0) return false;
  }
  return true;
}

void expect_same_setting(const DiffusionTensorImageData* a, const DiffusionTensorImageData* b) {
  EXPECT_EQ(a->dti_channels, b->dti_channels);
  EXPECT_EQ(a->b0_channels, b->b0_channels);
  const size_t n = static_cast<size_t>(a->dti_channels);
  EXPECT_EQ(std::memcmp(a->b_value, b->b_value, n * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(a->mpg_vector, b->mpg_vector, n * 3 * sizeof(float)), 0);
  EXPECT_EQ(a->voxel_size, b->voxel_size);
  EXPECT_EQ(a->mpg_ready, b->mpg_ready);
}

std::vector<unsigned char> dti_file_bytes(const DiffusionTensorImageData* d) {
  const size_t size = ZTRdti_GetSerializedDataSize(d);
  std::vector<unsigned char> bytes(ZTR_DTI_FILE_MAGIC, ZTR_DTI_FILE_MAGIC + ZTR_DTI_FILE_MAGIC_LENGTH);
  bytes.resize(ZTR_DTI_FILE_MAGIC_LENGTH + size);
  EXPECT_EQ(ZTRdti_SerializeDiffusionTensorImageData(d, bytes.data() + ZTR_DTI_FILE_MAGIC_LENGTH), 0);
  return bytes;
}

// Parses quietly; returns the record (owning its volume) or nothing.
DtiDataWithVolumePtr parse_quietly(const std::vector<unsigned char>& bytes, RecordingSink* sink,
                                   std::string* err = nullptr) {
  ztr::test::ConsoleCapture console;
  DtiDataWithVolumePtr d(parse_dti_file(bytes.data(), bytes.size(), sink));
  const std::string text = console.finish();
  if (err) *err = text;
  return d;
}

// A scratch folder named after the running test.
struct TestDir : ztr::test::TempDir {
  TestDir()
      : TempDir("dti_data_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name())) {}
};

// A ready 7-channel setting on a 3x2x1 volume of 8 signed 16-bit channels.
struct Sample {
  VolumePtr volume = make_volume(3, 2, 1, int16_channels(8));
  DtiDataPtr data{quiet_new(volume.get(), 7)};
  Sample() {
    ZTRdti_SetSingleSoDefaultMPG(data.get(), 7);
    data->b_value[3] = 1234.5f;
    data->voxel_size = 1.75f;
  }
};

}  // namespace

// ---- creation -------------------------------------------------------------------------------

TEST(DtiDataCreation, NewRecordIsNotReadyAndZeroed) {
  VolumePtr v = make_volume(2, 2, 2, int16_channels(8));
  ztr::test::ConsoleCapture console;
  DtiDataPtr d(ZTRdti_NewDiffusionTensorImageData(v.get(), 8));
  EXPECT_EQ(console.finish(), "");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->volume, v.get());
  EXPECT_EQ(d->dti_channels, 8);
  EXPECT_EQ(d->b0_channels, 0);
  EXPECT_EQ(d->voxel_size, 0.0f);
  EXPECT_EQ(d->mpg_ready, 0);
  EXPECT_EQ(d->b_value[100], 0.0f);
}

TEST(DtiDataCreation, WarningsNeverPreventCreation) {
  VolumePtr v = make_volume(1, 1, 1, int16_channels(6));
  ztr::test::ConsoleCapture console;
  DtiDataPtr six(ZTRdti_NewDiffusionTensorImageData(v.get(), 6));
  EXPECT_EQ(console.finish(),
            "Warning: number of channels is not valid for general DTI\n");
  EXPECT_TRUE(six);

  ztr::test::ConsoleCapture console2;
  DtiDataPtr more(ZTRdti_NewDiffusionTensorImageData(v.get(), 600));
  EXPECT_EQ(console2.finish(),
            "Warning: channels are not ready for target DTI\n"
            "Warning: channels are too much for default MPG\n");
  EXPECT_TRUE(more);

  ztr::test::ConsoleCapture console3;
  DtiDataPtr none(ZTRdti_NewDiffusionTensorImageData(nullptr, 0));
  EXPECT_EQ(console3.finish(),
            "Warning: volume is NULL for DTI\n"
            "Warning: number of channels is not valid for general DTI\n");
  EXPECT_TRUE(none);
}

TEST(CountDtiChannels, StopsAtTheFirstChannelThatIsNotSigned16BitScalar) {
  VolumePtr v = make_volume(2, 1, 1, {ZTR_TYPE_INT16, ZTR_TYPE_INT16, ZTR_TYPE_UINT8, ZTR_TYPE_INT16});
  EXPECT_EQ(count_dti_channels(v.get()), 2);
  VolumePtr all = make_volume(2, 1, 1, int16_channels(5));
  EXPECT_EQ(count_dti_channels(all.get()), 5);
  all->attributes[3] = ZTR_ATTRIBUTE_RGBA;
  EXPECT_EQ(count_dti_channels(all.get()), 3);
  EXPECT_EQ(count_dti_channels(nullptr), 0);
}

TEST(CreateFromVolume, BuildsASingleSoDefaultSettingAndKeepsTheOldVolume) {
  VolumePtr first = make_volume(2, 2, 1, int16_channels(7));
  VolumePtr second = make_volume(2, 2, 1, {ZTR_TYPE_INT16, ZTR_TYPE_INT16, ZTR_TYPE_INT16,
                                            ZTR_TYPE_INT16, ZTR_TYPE_INT16, ZTR_TYPE_INT16,
                                            ZTR_TYPE_INT16, ZTR_TYPE_INT16, ZTR_TYPE_FLOAT32});
  DiffusionTensorImageData* data = nullptr;
  ztr::test::ConsoleCapture console;
  ASSERT_EQ(create_dti_data_from_volume(&data, first.get()), 0);
  ASSERT_EQ(create_dti_data_from_volume(&data, second.get()), 0);  // releases the first record
  const std::string err = console.finish();
  DtiDataPtr owned(data);
  EXPECT_EQ(data->volume, second.get());
  EXPECT_EQ(data->dti_channels, 8);
  EXPECT_EQ(data->b0_channels, 1);
  EXPECT_EQ(data->mpg_ready, 1);
  EXPECT_NE(err.find(" DTI channels: 8\n"), std::string::npos);
  EXPECT_EQ(first->header->channels, 7);  // the first volume is still intact
}

TEST(Duplicate, CopiesTheVolumeAndTheWholeSetting) {
  Sample s;
  s.data->b_value[4000] = 9.0f;  // beyond the setting: copied too
  DtiDataWithVolumePtr copy(ZTRdti_DuplicateDiffusionTensorImageData(s.data.get()));
  ASSERT_TRUE(copy);
  ASSERT_NE(copy->volume, s.volume.get());
  EXPECT_TRUE(same_volume(copy->volume, s.volume.get()));
  expect_same_setting(copy.get(), s.data.get());
  EXPECT_EQ(copy->b_value[4000], 9.0f);
}

// ---- serialized form ------------------------------------------------------------------------

TEST(SerializedDtiData, SizeIsVolumePlusSixteenPerChannelPlusSixteen) {
  Sample s;
  EXPECT_EQ(ZTRdti_GetSerializedDataSize(s.data.get()),
            size_t(16 + 8 * (8 + 12)) + 16 + 16 * 7);
  EXPECT_EQ(ZTRdti_GetSerializedDataSize(nullptr), 0u);
}

TEST(SerializedDtiData, LayoutFollowsTheVolume) {
  Sample s;
  std::vector<unsigned char> buffer(ZTRdti_GetSerializedDataSize(s.data.get()));
  ASSERT_EQ(ZTRdti_SerializeDiffusionTensorImageData(s.data.get(), buffer.data()), 0);
  const size_t base = 16 + 8 * (8 + 12);
  int32_t n, b0, ready;
  float b3, g2z, voxel;
  std::memcpy(&n, &buffer[base], 4);
  std::memcpy(&b0, &buffer[base + 4], 4);
  std::memcpy(&b3, &buffer[base + 8 + 4 * 3], 4);
  std::memcpy(&g2z, &buffer[base + 8 + 4 * 7 + 12 * 2 + 8], 4);
  std::memcpy(&voxel, &buffer[base + 8 + 16 * 7], 4);
  std::memcpy(&ready, &buffer[base + 12 + 16 * 7], 4);
  EXPECT_EQ(n, 7);
  EXPECT_EQ(b0, 1);
  EXPECT_EQ(b3, 1234.5f);
  EXPECT_EQ(g2z, 0.707f);  // channel 2 is direction 2 of the 6-direction row: (-0.707, 0, 0.707)
  EXPECT_EQ(voxel, 1.75f);
  EXPECT_EQ(ready, 1);
}

TEST(SerializedDtiData, RoundTripRebuildsVolumeAndSetting) {
  Sample s;
  std::vector<unsigned char> buffer(ZTRdti_GetSerializedDataSize(s.data.get()));
  ASSERT_EQ(ZTRdti_SerializeDiffusionTensorImageData(s.data.get(), buffer.data()), 0);
  DtiDataWithVolumePtr back(quiet_new(nullptr, 0));
  size_t consumed = 0;
  ztr::test::ConsoleCapture console;
  ASSERT_EQ(ZTRdti_GetDiffusionTensorImageDataFromSerializedData(back.get(), buffer.data(),
                                                                  buffer.size(), &consumed),
            0);
  EXPECT_EQ(console.finish(), "volume: 3x2x1x8\n");
  EXPECT_EQ(consumed, buffer.size());
  EXPECT_TRUE(same_volume(back->volume, s.volume.get()));
  expect_same_setting(back.get(), s.data.get());
}

TEST(SerializedDtiData, ShortBuffersAreRefusedAndLeaveTheRecordAsItWas) {
  Sample s;
  std::vector<unsigned char> buffer(ZTRdti_GetSerializedDataSize(s.data.get()));
  ZTRdti_SerializeDiffusionTensorImageData(s.data.get(), buffer.data());
  DtiDataPtr target(quiet_new(nullptr, 3));
  for (size_t length = 0; length < buffer.size(); ++length) {
    ztr::test::ConsoleCapture console;
    EXPECT_EQ(ZTRdti_GetDiffusionTensorImageDataFromSerializedData(target.get(), buffer.data(),
                                                                    length),
              -1)
        << length;
    console.finish();
    EXPECT_EQ(target->volume, nullptr);
    EXPECT_EQ(target->dti_channels, 3);
  }
}

// ---- DTI file ------------------------------------------------------------------------------

TEST(DtiFile, EveryVoxelTypeSurvivesWriteAndRead) {
  TestDir dir;
  for (int32_t type = ZTR_TYPE_UINT8; type <= ZTR_TYPE_FLOAT64; ++type) {
    std::vector<int32_t> types = int16_channels(7);
    types.push_back(type);
    types.push_back(type);
    VolumePtr v = make_volume(4, 3, 2, types);
    DtiDataPtr d(quiet_new(v.get(), 7));
    ZTRdti_SetSingleSoDefaultMPG(d.get(), 7);
    d->voxel_size = 2.5f;
    const std::string path = dir.file("t" + std::to_string(type) + ".dti");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    const size_t size = ZTRdti_GetSerializedDataSize(d.get());
    ASSERT_EQ(write_dti_file(d.get(), size, out), 0);
    EXPECT_EQ(std::filesystem::file_size(path), ZTR_DTI_FILE_MAGIC_LENGTH + size);

    std::string description;
    RecordingSink sink;
    ztr::test::ConsoleCapture console;
    DtiDataWithVolumePtr back(read_dti_file(path.c_str(), &description, &sink));
    const std::string err = console.finish();
    ASSERT_TRUE(back) << "type " << type << ": " << err;
    EXPECT_TRUE(sink.shown.empty());
    EXPECT_TRUE(same_volume(back->volume, v.get())) << "type " << type;
    expect_same_setting(back.get(), d.get());
    EXPECT_EQ(description, "Data Source: DTI file\nFile name: " + path + "\n");
    EXPECT_EQ(err, "Notice: just creating DTI data with NULL volume\n"
                   "Warning: volume is NULL for DTI\n"
                   "Warning: number of channels is not valid for general DTI\n"
                   "volume: 4x3x2x9\n");
  }
}

TEST(DtiFile, NotReadySettingReadsBackNotReady) {
  Sample s;
  s.data->mpg_ready = 0;
  RecordingSink sink;
  DtiDataWithVolumePtr back = parse_quietly(dti_file_bytes(s.data.get()), &sink);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->mpg_ready, 0);
  EXPECT_EQ(back->b_value[3], 1234.5f);
}

TEST(DtiFile, WrongMagicRaisesTheNoticeAndAbandonsTheLoad) {
  Sample s;
  std::vector<unsigned char> bytes = dti_file_bytes(s.data.get());
  bytes[2] = 'd';
  RecordingSink sink;
  std::string err;
  EXPECT_FALSE(parse_quietly(bytes, &sink, &err));
  ASSERT_EQ(sink.shown.size(), 1u);
  EXPECT_EQ(sink.shown[0].first, "Warning");
  EXPECT_EQ(sink.shown[0].second, "This is NOT a DTI file.");
  EXPECT_EQ(err.find("volume:"), std::string::npos);  // nothing parsed after the notice

  sink.shown.clear();
  EXPECT_FALSE(parse_quietly(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 20), &sink));
  EXPECT_EQ(sink.shown.size(), 1u);
}

TEST(DtiFile, EveryTruncationIsRefused) {
  Sample s;
  const std::vector<unsigned char> bytes = dti_file_bytes(s.data.get());
  for (size_t length = ZTR_DTI_FILE_MAGIC_LENGTH; length < bytes.size(); ++length) {
    RecordingSink sink;
    EXPECT_FALSE(parse_quietly(std::vector<unsigned char>(bytes.begin(), bytes.begin() + length), &sink))
        << length;
    EXPECT_TRUE(sink.shown.empty());
  }
}

TEST(DtiFile, ChannelCountsOutsideTheCapacityAreRefused) {
  Sample s;
  std::vector<unsigned char> bytes = dti_file_bytes(s.data.get());
  const size_t count_at = ZTR_DTI_FILE_MAGIC_LENGTH + 16 + 8 * (8 + 12);
  for (int32_t bad : {4097, -1, 0x7fffffff}) {
    std::memcpy(&bytes[count_at], &bad, 4);
    // Make the file long enough for what a huge count might claim to be irrelevant.
    bytes.resize(bytes.size() + 4096, 0);
    RecordingSink sink;
    std::string err;
    EXPECT_FALSE(parse_quietly(bytes, &sink, &err)) << bad;
    EXPECT_NE(err.find("out of range"), std::string::npos) << bad;
  }
}

TEST(DtiFile, VolumeClaimingMoreThanTheFileHoldsIsRefused) {
  Sample s;
  std::vector<unsigned char> bytes = dti_file_bytes(s.data.get());
  const int32_t huge_x = 100000;
  std::memcpy(&bytes[ZTR_DTI_FILE_MAGIC_LENGTH], &huge_x, 4);
  RecordingSink sink;
  std::string err;
  EXPECT_FALSE(parse_quietly(bytes, &sink, &err));
  EXPECT_NE(err.find("Warning: volume=NULL? (ZTRdti_GetDiffusionTensorImageDataFromSerializedData)\n"),
            std::string::npos);
}

TEST(DtiFile, StoredReadySettingThatDoesNotFitTheVolumeIsNotReady) {
  struct Case {
    int32_t dti, b0;
  } cases[] = {{7, -1}, {7, 2}, {9, 1}};  // negative So count, 5 directions, beyond the volume
  for (const Case& c : cases) {
    VolumePtr v = make_volume(2, 2, 1, int16_channels(8));
    DtiDataPtr d(quiet_new(v.get(), 9));
    d->dti_channels = c.dti;
    d->b0_channels = c.b0;
    d->mpg_ready = 1;
    RecordingSink sink;
    DtiDataWithVolumePtr back = parse_quietly(dti_file_bytes(d.get()), &sink);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->mpg_ready, 0) << c.dti << " " << c.b0;
  }
  // Channels named by the setting must be signed 16-bit scalars.
  std::vector<int32_t> types = int16_channels(8);
  types[5] = ZTR_TYPE_UINT8;
  VolumePtr v = make_volume(2, 2, 1, types);
  DtiDataPtr d(quiet_new(v.get(), 7));
  d->dti_channels = 7;
  d->b0_channels = 1;
  d->mpg_ready = 1;
  RecordingSink sink;
  DtiDataWithVolumePtr back = parse_quietly(dti_file_bytes(d.get()), &sink);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->mpg_ready, 0);
}

TEST(DtiFile, MissingFileIsSkippedSilently) {
  RecordingSink sink;
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(read_dti_file("/nonexistent/file.dti", nullptr, &sink), nullptr);
  EXPECT_EQ(console.finish(), "");
  EXPECT_TRUE(sink.shown.empty());
}

TEST(DtiFile, ShortFileOnDiskRaisesTheNotice) {
  TestDir dir;
  const std::string path = dir.file("short.dti");
  std::ofstream(path, std::ios::binary) << "# DTI data";
  RecordingSink sink;
  EXPECT_EQ(read_dti_file(path.c_str(), nullptr, &sink), nullptr);
  EXPECT_EQ(sink.shown.size(), 1u);
}

TEST(DtiFile, WriterRefusesAWrongSizeAndClosesTheStream) {
  TestDir dir;
  Sample s;
  const std::string path = dir.file("bad.dti");
  std::FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(write_dti_file(s.data.get(), 10, out), -1);
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  EXPECT_EQ(write_dti_file(s.data.get(), 10, nullptr), -1);
}
