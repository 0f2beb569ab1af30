// Raw volume file: exact bytes written, round trips, and refusal of damaged headers.
#include "analyzer/io/raw_volume_file.h"
#include "tests/support/temp_dir.h"

#include "analyzer/io/atomic_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <memory>

namespace {

namespace fs = std::filesystem;

struct RecordingNotice : NoticeSink {
  std::vector<std::pair<std::string, std::string>> shown;
  void notice(const std::string& title, const std::string& text) override {
    shown.emplace_back(title, text);
  }
};

class RawVolumeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = std::make_unique<ztr::test::TempDir>(
        "rawfile_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    dir_ = temp_->path();
    ASSERT_FALSE(dir_.empty());
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  static void write_bytes(const std::string& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out << bytes;
  }
  static std::string read_bytes(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Saves through the public writer and returns the file's bytes.
  std::string save(const RawVolumeData* v, const std::string& name) {
    EXPECT_EQ(SaveRawVolumeFile(v, std::fopen(path(name).c_str(), "wb")), 0);
    return read_bytes(path(name));
  }

  std::unique_ptr<ztr::test::TempDir> temp_;
  fs::path dir_;
};

const std::string kMagic = "# ZANTREVIUM raw format file with header\n";

TEST_F(RawVolumeFileTest, TwoByTwoByOneVolumeSavesAsTheDocumentedBytes) {
  const int32_t dims[3] = {2, 2, 1};
  VolumePtr v(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, 0));
  ASSERT_TRUE(v);
  uint8_t* d = ZTR_ChannelData<uint8_t>(v.get(), 0);
  d[0] = 1; d[1] = 2; d[2] = 0xFE; d[3] = 10;  // 10 is a line feed: data is binary
  const std::string expected = kMagic + "2 2 1 1\n0 \n0 \n4 uncompressed\n" +
                               std::string("\x01\x02\xFE\x0A", 4);
  EXPECT_EQ(save(v.get(), "small.raw"), expected);
}

TEST_F(RawVolumeFileTest, SaveAndLoadKeepHeaderTypesAttributesAndBytesForEveryType) {
  const VolumeHeader h{3, 2, 2, 9};
  const int32_t types[9] = {0, 1, 2, 3, 4, 5, 6, 7, 4};
  const int32_t attributes[9] = {0, 0, 0, 0, 0, 0, 0, 0, 2};
  VolumePtr v(ZTR_NewRawVolumeData(h, types, attributes));
  ASSERT_TRUE(v);
  for (int c = 0; c < h.channels; ++c) {
    auto* bytes = static_cast<uint8_t*>(v->data[c]);
    for (size_t b = 0; b < ZTR_GetChannelBytes(v.get(), c); ++b) bytes[b] = uint8_t(7 * c + 13 * b + 1);
  }
  save(v.get(), "all.raw");

  float voxel_size = 0.0f;
  std::string description;
  RecordingNotice notices;
  VolumePtr back(LoadRawVolumeFile(path("all.raw").c_str(), &voxel_size, &description, &notices));
  ASSERT_TRUE(back);
  EXPECT_TRUE(notices.shown.empty());
  EXPECT_EQ(voxel_size, 1.0f);
  EXPECT_EQ(description, "Data Source: ZANTREVIUM file: \nFile name: " + path("all.raw") + "\n");
  EXPECT_EQ(std::memcmp(back->header, &h, sizeof h), 0);
  for (int c = 0; c < h.channels; ++c) {
    EXPECT_EQ(back->types[c], types[c]);
    EXPECT_EQ(back->attributes[c], attributes[c]);
    ASSERT_EQ(ZTR_GetChannelBytes(back.get(), c), ZTR_GetChannelBytes(v.get(), c));
    EXPECT_EQ(std::memcmp(back->data[c], v->data[c], ZTR_GetChannelBytes(v.get(), c)), 0)
        << "channel " << c;
  }
}

TEST_F(RawVolumeFileTest, HeaderReaderReturnsTheOffsetOfTheData) {
  const std::string file = kMagic + "2 1 1 2\n3 0 \n0 2 \n6 uncompressed\n" + std::string(6, 'x');
  write_bytes(path("h.raw"), file);
  VolumeHeader h{};
  int32_t types[ZTR_RAW_FILE_MAX_CHANNELS], attributes[ZTR_RAW_FILE_MAX_CHANNELS];
  EXPECT_EQ(ReadRawVolumeFileHeader(path("h.raw").c_str(), &h, types, attributes),
            int64_t(file.size() - 6));
  EXPECT_EQ(h.x, 2);
  EXPECT_EQ(h.y, 1);
  EXPECT_EQ(h.z, 1);
  EXPECT_EQ(h.channels, 2);
  EXPECT_EQ(types[0], 3);
  EXPECT_EQ(types[1], 0);
  EXPECT_EQ(attributes[0], 0);
  EXPECT_EQ(attributes[1], 2);
}

TEST_F(RawVolumeFileTest, ExtraBytesBeforeTheDataAreSkipped) {
  const std::string file = kMagic + "2 2 1 1\n0 \n0 \n4 uncompressed   padding\n\n" +
                           std::string("\x05\x06\x07\x08", 4);
  write_bytes(path("pad.raw"), file);
  VolumePtr v(LoadRawVolumeFile(path("pad.raw").c_str(), nullptr, nullptr, nullptr));
  ASSERT_TRUE(v);
  const uint8_t* d = ZTR_ChannelData<uint8_t>(v.get(), 0);
  EXPECT_EQ(d[0], 5);
  EXPECT_EQ(d[3], 8);
}

TEST_F(RawVolumeFileTest, CarriageReturnInTheFirstLineIsRefusedWithTheWarning) {
  write_bytes(path("crlf.raw"), "# ZANTREVIUM raw format file with header\r\n2 2 1 1\n0 \n0 \n4 uncompressed\nabcd");
  RecordingNotice notices;
  float voxel_size = 0.0f;
  EXPECT_EQ(LoadRawVolumeFile(path("crlf.raw").c_str(), &voxel_size, nullptr, &notices), nullptr);
  ASSERT_EQ(notices.shown.size(), 1u);
  EXPECT_EQ(notices.shown[0].first, "Warning");
  EXPECT_EQ(notices.shown[0].second, "This is NOT a ZANTREVIUM file.");
  EXPECT_EQ(voxel_size, 1.0f);
}

TEST_F(RawVolumeFileTest, DamagedHeadersAreRefused) {
  const std::string data4(4, '\0');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"wrong word", kMagic + "2 2 1 1\n0 \n0 \n4 compressed\n" + data4},
      {"wrong magic", "# ZANTREVIUM raw format file without header\n2 2 1 1\n0 \n0 \n4 uncompressed\n" + data4},
      {"zero size", kMagic + "0 2 1 1\n0 \n0 \n0 uncompressed\n"},
      {"negative dim", kMagic + "-2 2 1 1\n0 \n0 \n4 uncompressed\n" + data4},
      {"invalid type", kMagic + "2 2 1 1\n9 \n0 \n4 uncompressed\n" + data4},
      {"missing types", kMagic + "2 2 1 3\n0 \n"},
      {"size not matching channels", kMagic + "2 2 1 1\n3 \n0 \n4 uncompressed\n" + data4},
      {"huge number", kMagic + "99999999999999999999 2 1 1\n0 \n0 \n4 uncompressed\n" + data4},
      // 2147483647^3 does not fit in 64 bits: the product must be refused, not wrapped.
      {"dimension product beyond 64 bits",
       kMagic + "2147483647 2147483647 2147483647 1\n0 \n0 \n4 uncompressed\n" + data4},
      {"dimension product beyond a channel", kMagic + "65536 65536 1 1\n0 \n0 \n4 uncompressed\n" + data4},
      {"empty", ""},
  };
  for (const auto& [name, bytes] : cases) {
    write_bytes(path("bad.raw"), bytes);
    VolumeHeader h{};
    int32_t types[ZTR_RAW_FILE_MAX_CHANNELS], attributes[ZTR_RAW_FILE_MAX_CHANNELS];
    EXPECT_EQ(ReadRawVolumeFileHeader(path("bad.raw").c_str(), &h, types, attributes), -1) << name;
    RecordingNotice notices;
    EXPECT_EQ(LoadRawVolumeFile(path("bad.raw").c_str(), nullptr, nullptr, &notices), nullptr) << name;
    EXPECT_EQ(notices.shown.size(), 1u) << name;
  }
}

TEST_F(RawVolumeFileTest, FileShorterThanItsDeclaredDataIsRefused) {
  // 100 bytes declared, 10 present: the data offset would fall inside the header.
  write_bytes(path("short.raw"), kMagic + "10 10 1 1\n0 \n0 \n100 uncompressed\n" + std::string(10, 'z'));
  RecordingNotice notices;
  EXPECT_EQ(LoadRawVolumeFile(path("short.raw").c_str(), nullptr, nullptr, &notices), nullptr);
  EXPECT_EQ(notices.shown.size(), 1u);
}

TEST_F(RawVolumeFileTest, MoreThan1024ChannelsAreRefusedBeforeAnyAllocation) {
  std::string file = kMagic + "1 1 1 1025\n";
  for (int c = 0; c < 1025; ++c) file += "0 ";
  file += "\n";
  for (int c = 0; c < 1025; ++c) file += "0 ";
  file += "\n1025 uncompressed\n" + std::string(1025, 'q');
  write_bytes(path("many.raw"), file);
  VolumeHeader h{};
  std::vector<int32_t> types(ZTR_RAW_FILE_MAX_CHANNELS), attributes(ZTR_RAW_FILE_MAX_CHANNELS);
  EXPECT_EQ(ReadRawVolumeFileHeader(path("many.raw").c_str(), &h, types.data(), attributes.data()), -1);
}

TEST_F(RawVolumeFileTest, Exactly1024ChannelsAreAccepted) {
  std::string file = kMagic + "1 1 1 1024\n";
  for (int c = 0; c < 1024; ++c) file += "0 ";
  file += "\n";
  for (int c = 0; c < 1024; ++c) file += "0 ";
  file += "\n1024 uncompressed\n";
  for (int c = 0; c < 1024; ++c) file += char(c & 0xFF);
  write_bytes(path("max.raw"), file);
  VolumePtr v(LoadRawVolumeFile(path("max.raw").c_str(), nullptr, nullptr, nullptr));
  ASSERT_TRUE(v);
  EXPECT_EQ(v->header->channels, 1024);
  EXPECT_EQ(*ZTR_ChannelData<uint8_t>(v.get(), 1023), 1023 & 0xFF);
}

TEST_F(RawVolumeFileTest, MissingFileGivesNoVolumeButStillFillsDescriptionAndVoxelSize) {
  float voxel_size = 0.0f;
  std::string description;
  RecordingNotice notices;
  EXPECT_EQ(LoadRawVolumeFile(path("absent.raw").c_str(), &voxel_size, &description, &notices), nullptr);
  EXPECT_EQ(voxel_size, 1.0f);
  EXPECT_EQ(description, "Data Source: ZANTREVIUM file: \nFile name: " + path("absent.raw") + "\n");
}

TEST_F(RawVolumeFileTest, SavingANullVolumeFailsAndStillClosesTheStream) {
  EXPECT_EQ(SaveRawVolumeFile(nullptr, std::fopen(path("null.raw").c_str(), "wb")), -1);
  EXPECT_TRUE(fs::exists(path("null.raw")));
  EXPECT_EQ(fs::file_size(path("null.raw")), 0u);
  EXPECT_EQ(SaveRawVolumeFile(nullptr, nullptr), -1);
}

}  // namespace

TEST_F(RawVolumeFileTest, AtomicSaveReplacesAFileOnlyWhenComplete) {
  const int32_t dims[3] = {16, 16, 16};
  VolumePtr v(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_INT16, 0));
  std::string error;
  ASSERT_EQ(SaveRawVolumeFileAtomically(v.get(), path("v.raw"), &error), 0) << error;
  const std::string before = read_bytes(path("v.raw"));
  EXPECT_EQ(before, save(v.get(), "plain.raw"));  // the same bytes as the stream writer

  ZTR_ChannelData<int16_t>(v.get(), 0)[5] = 77;
  set_atomic_file_space_for_testing(1000);  // the header fits, the 8 KiB channel does not
  EXPECT_EQ(SaveRawVolumeFileAtomically(v.get(), path("v.raw"), &error), -1);
  set_atomic_file_space_for_testing(-1);
  EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
  EXPECT_EQ(read_bytes(path("v.raw")), before);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    ++files;
    EXPECT_NE(entry.path().extension(), ".part") << entry.path();
  }
  EXPECT_EQ(files, 2);

  // In a folder that does not exist nothing can be created: a reason, no crash.
  EXPECT_EQ(SaveRawVolumeFileAtomically(v.get(), path("missing/v.raw"), &error), -1);
  EXPECT_NE(error.find("missing/v.raw"), std::string::npos) << error;
}
