// The little-endian record codec: fields read back as written, byte order is fixed, and a
// read past the end poisons the reader instead of reading beyond the buffer.
#include "sdk/volume/byte_codec.h"

#include <gtest/gtest.h>

TEST(ByteCodec, FieldsReadBackInLittleEndianOrderAndShortReadsPoison) {
  std::vector<uint8_t> bytes;
  ByteWriter out(bytes);
  out.u32(0x01020304u);
  out.i32(-2);
  out.f32(1.5f);
  out.u16(0xBEEF);
  out.vec({1.0f, -2.0f, 0.25f});
  out.bytes("ab", 2);
  ASSERT_EQ(bytes.size(), 4u + 4 + 4 + 2 + 12 + 2);
  EXPECT_EQ((std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4)),
            (std::vector<uint8_t>{4, 3, 2, 1}));

  ByteReader in(bytes.data(), bytes.size());
  EXPECT_EQ(in.u32(), 0x01020304u);
  EXPECT_EQ(in.i32(), -2);
  EXPECT_EQ(in.f32(), 1.5f);
  EXPECT_EQ(in.u16(), 0xBEEF);
  EXPECT_EQ(in.vec(), (std::array<float, 3>{1.0f, -2.0f, 0.25f}));
  EXPECT_EQ(in.left(), 2u);
  EXPECT_EQ(in.here()[0], 'a');
  EXPECT_TRUE(in.ok());

  // Three bytes asked of two: refused, and every later read gives zeros.
  EXPECT_EQ(in.take(3), nullptr);
  EXPECT_FALSE(in.ok());
  EXPECT_EQ(in.left(), 0u);
  EXPECT_EQ(in.u16(), 0);
  EXPECT_FALSE(in.skip(0));
}
