// Board names and the single-channel data-board format.
#include "sdk/ipc/board_layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

TEST(BoardNames, ClientNumberIsZeroPaddedToFourDigits) {
  EXPECT_EQ(ZTRipc_ComposeBoardName(ZTRipc_BROADCASTER_BOARD_BASE, 3), "ZTR_IPC_BB(0003)");
  EXPECT_EQ(ZTRipc_ComposeBoardName(ZTRipc_MESSAGE_BOARD_BASE, 3), "ZTR_IPC_MB(0003)");
  EXPECT_EQ(ZTRipc_ComposeBoardName(ZTRipc_REQUEST_BOARD_BASE, 3), "ZTR_IPC_RB(0003)");
  EXPECT_EQ(ZTRipc_ComposeBoardName(ZTRipc_DATA_BOARD_BASE, 3), "ZTR_IPC_DB(0003)");
  EXPECT_EQ(ZTRipc_ComposeBoardName(ZTRipc_REQUEST_BOARD_BASE, 0), "ZTR_IPC_RB(0000)");
}

TEST(BoardNames, FiveDigitClientNumberIsPrintedInFull) {
  EXPECT_EQ(ZTRipc_ComposeBoardName(ZTRipc_REQUEST_BOARD_BASE, 12345), "ZTR_IPC_RB(12345)");
}

namespace {

// A 4x4x2 unsigned 16-bit channel holding 1..32 as channel 1 of a two-channel volume.
VolumePtr two_channel_volume() {
  const VolumeHeader header{4, 4, 2, 2};
  const int32_t types[2] = {ZTR_TYPE_UINT8, ZTR_TYPE_UINT16};
  const int32_t attributes[2] = {0, 0};
  VolumePtr volume(ZTR_NewRawVolumeData(header, types, attributes));
  auto* voxels = ZTR_ChannelData<uint16_t>(volume.get(), 1);
  for (int i = 0; i < 32; ++i) voxels[i] = static_cast<uint16_t>(i + 1);
  return volume;
}

}  // namespace

TEST(SingleChannelFormat, Unsigned16BitChannelOf4x4x2Takes84Bytes) {
  VolumePtr volume = two_channel_volume();
  ASSERT_NE(volume, nullptr);
  const size_t size = ZTRipc_GetSingleChannelSize(volume.get(), 1);
  ASSERT_EQ(size, 84u);
  std::vector<unsigned char> bytes(size);
  ASSERT_EQ(ZTRipc_WriteSingleChannel(volume.get(), 1, bytes.data(), bytes.size()), 0);
  int32_t head[5];
  std::memcpy(head, bytes.data(), sizeof head);
  EXPECT_EQ(head[0], 4);
  EXPECT_EQ(head[1], 4);
  EXPECT_EQ(head[2], 2);
  EXPECT_EQ(head[3], ZTR_TYPE_UINT16);
  EXPECT_EQ(head[4], 0);
  uint16_t last;
  std::memcpy(&last, bytes.data() + 82, 2);
  EXPECT_EQ(last, 32);
}

TEST(SingleChannelFormat, ChannelOutsideTheVolumeHasNoSize) {
  VolumePtr volume = two_channel_volume();
  EXPECT_EQ(ZTRipc_GetSingleChannelSize(volume.get(), 2), 0u);
  EXPECT_EQ(ZTRipc_GetSingleChannelSize(volume.get(), -1), 0u);
  EXPECT_EQ(ZTRipc_GetSingleChannelSize(nullptr, 0), 0u);
  std::vector<unsigned char> bytes(200);
  EXPECT_EQ(ZTRipc_WriteSingleChannel(volume.get(), 2, bytes.data(), bytes.size()), -1);
  EXPECT_EQ(ZTRipc_WriteSingleChannel(volume.get(), 1, bytes.data(), 83), -1);
}

TEST(SingleChannelFormat, ReaderRebuildsTheChannel) {
  VolumePtr volume = two_channel_volume();
  std::vector<unsigned char> bytes(84);
  ZTRipc_WriteSingleChannel(volume.get(), 1, bytes.data(), bytes.size());
  VolumePtr back(ZTRipc_ReadSingleChannel(bytes.data(), bytes.size()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->header->channels, 1);
  EXPECT_EQ(back->header->z, 2);
  EXPECT_EQ(back->types[0], ZTR_TYPE_UINT16);
  EXPECT_EQ(std::memcmp(back->data[0], volume->data[1], 64), 0);
}

TEST(SingleChannelFormat, ReaderRefusesInputThatDoesNotMatchItsHeader) {
  VolumePtr volume = two_channel_volume();
  std::vector<unsigned char> bytes(84);
  ZTRipc_WriteSingleChannel(volume.get(), 1, bytes.data(), bytes.size());
  EXPECT_EQ(ZTRipc_ReadSingleChannel(bytes.data(), 83), nullptr);  // truncated
  EXPECT_EQ(ZTRipc_ReadSingleChannel(bytes.data(), 19), nullptr);
  std::vector<unsigned char> longer = bytes;
  longer.push_back(0);
  EXPECT_EQ(ZTRipc_ReadSingleChannel(longer.data(), longer.size()), nullptr);
  auto patched = [&](size_t offset, int32_t value) {
    std::vector<unsigned char> copy = bytes;
    std::memcpy(copy.data() + offset, &value, 4);
    return copy;
  };
  auto big = patched(8, 1 << 30);  // z declares far more voxels than present
  EXPECT_EQ(ZTRipc_ReadSingleChannel(big.data(), big.size()), nullptr);
  auto negative = patched(0, -4);
  EXPECT_EQ(ZTRipc_ReadSingleChannel(negative.data(), negative.size()), nullptr);
  auto bad_type = patched(12, 8);
  EXPECT_EQ(ZTRipc_ReadSingleChannel(bad_type.data(), bad_type.size()), nullptr);
}
