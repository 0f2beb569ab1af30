// Records over private file mappings: contents, private writes, release through every
// operation that drops a block, and the refusals.
#include "sdk/volume/mapped_volume.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

// A file of `offset` bytes of 0x7F followed by `channels` blocks of x*y*z signed 16-bit
// voxels; voxel i of channel c holds 100 * c + i.
std::string write_blocks(const ztr::test::TempDir& dir, size_t offset, int channels, int voxels) {
  std::vector<char> bytes(offset, 0x7F);
  for (int c = 0; c < channels; ++c) {
    for (int i = 0; i < voxels; ++i) {
      const int16_t v = static_cast<int16_t>(100 * c + i);
      bytes.insert(bytes.end(), reinterpret_cast<const char*>(&v), reinterpret_cast<const char*>(&v) + 2);
    }
  }
  const std::string path = dir / "blocks.bin";
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  return path;
}

struct Fd {
  int fd;
  explicit Fd(const std::string& path) : fd(::open(path.c_str(), O_RDONLY)) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

VolumePtr map(const std::string& path, uint64_t offset, VolumeHeader header, int32_t type = ZTR_TYPE_INT16) {
  const Fd file(path);
  const std::vector<int32_t> types(size_t(header.channels), type), attributes(size_t(header.channels), 0);
  return VolumePtr(ZTR_NewRawVolumeDataMappedFromFile(file.fd, offset, header, types.data(), attributes.data()));
}

}  // namespace

TEST(MappedVolume, ChannelsAreTheFileBlocksAndWritesStayInTheProcess) {
  ztr::test::TempDir dir("mapped_contents");
  const std::string path = write_blocks(dir, 352, 3, 24);
  VolumePtr v = map(path, 352, {2, 3, 4, 3});
  ASSERT_TRUE(v);
  for (int c = 0; c < 3; ++c) {
    EXPECT_TRUE(ZTR_IsMappedChannelBlock(v->data[c]));
    for (int i = 0; i < 24; ++i) ASSERT_EQ(ZTR_ChannelData<int16_t>(v.get(), c)[i], 100 * c + i);
  }
  ZTR_ChannelData<int16_t>(v.get(), 1)[5] = -1;
  EXPECT_EQ(ZTR_ChannelData<int16_t>(v.get(), 1)[5], -1);
  VolumePtr again = map(path, 352, {2, 3, 4, 3});
  ASSERT_TRUE(again);
  EXPECT_EQ(ZTR_ChannelData<int16_t>(again.get(), 1)[5], 105);  // the file is unchanged
}

TEST(MappedVolume, EveryWayOfDroppingABlockReleasesItAndTheMappingGoesWithTheLast) {
  ztr::test::TempDir dir("mapped_release");
  const std::string path = write_blocks(dir, 0, 4, 8);
  VolumePtr v = map(path, 0, {8, 1, 1, 4});
  ASSERT_TRUE(v);
  void* first = v->data[0];
  ASSERT_EQ(ZTR_RemoveChannel(v.get(), 1), 0);
  ASSERT_EQ(ZTR_ConvertChannelType(v.get(), 1, ZTR_TYPE_FLOAT32, nullptr, nullptr, 0), 0);
  EXPECT_FALSE(ZTR_IsMappedChannelBlock(v->data[1]));  // a heap block now
  EXPECT_EQ(ZTR_ChannelData<float>(v.get(), 1)[3], 203.0f);
  EXPECT_TRUE(ZTR_IsMappedChannelBlock(first));  // two blocks still hold the mapping
  EXPECT_EQ(ZTR_ChannelData<int16_t>(v.get(), 2)[7], 307);
  v.reset();
  EXPECT_FALSE(ZTR_IsMappedChannelBlock(first));
  ZTR_FreeChannelBlock(nullptr);
}

TEST(MappedVolume, FilesShorterThanTheBlocksMisalignedBlocksAndOtherFilesAreRefused) {
  ztr::test::TempDir dir("mapped_refusals");
  const std::string path = write_blocks(dir, 10, 2, 6);  // 10 + 24 bytes
  EXPECT_TRUE(map(path, 10, {6, 1, 1, 2}));
  EXPECT_FALSE(map(path, 10, {7, 1, 1, 2}));                     // 2 bytes short
  EXPECT_FALSE(map(path, 12, {6, 1, 1, 2}));                     // runs past the end
  EXPECT_FALSE(map(path, 11, {5, 1, 1, 2}));                     // odd start of 16-bit voxels
  EXPECT_TRUE(map(path, 8, {2, 1, 1, 1}, ZTR_TYPE_FLOAT64));    // one block of 16 bytes fits
  EXPECT_FALSE(map(path, 8, {2, 1, 1, 3}, ZTR_TYPE_FLOAT64));   // three end at byte 56
  EXPECT_FALSE(map(path, 10, {6, 1, 1, 2}, 99));                 // no such type
  EXPECT_FALSE(map(dir.path().string(), 0, {1, 1, 1, 1}));      // a folder
  const std::vector<int32_t> types{ZTR_TYPE_INT16}, attributes{0};
  EXPECT_EQ(ZTR_NewRawVolumeDataMappedFromFile(-1, 0, {1, 1, 1, 1}, types.data(), attributes.data()),
            nullptr);
}
