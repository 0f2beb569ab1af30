// Padding, shrinking, cropping, box copies, mirroring, rotation and voxel writes.
#include "sdk/volume/geometry.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace {

// x*y*z volume of signed 32-bit voxels holding 1000 + 100*k + 10*j + i, so every value
// names its own position.
VolumePtr make_labelled(int32_t x, int32_t y, int32_t z, int32_t channels = 1) {
  std::vector<int32_t> types(channels, ZTR_TYPE_INT32), attributes(channels, 0);
  VolumePtr v(ZTR_NewRawVolumeData(VolumeHeader{x, y, z, channels}, types.data(),
                                   attributes.data()));
  if (!v) return v;
  for (int32_t c = 0; c < channels; ++c) {
    for (int32_t k = 0; k < z; ++k) {
      for (int32_t j = 0; j < y; ++j) {
        for (int32_t i = 0; i < x; ++i) {
          ZTR_Voxel<int32_t>(v.get(), c, i, j, k) = 1000 * (c + 1) + 100 * k + 10 * j + i;
        }
      }
    }
  }
  return v;
}

int32_t label(int32_t i, int32_t j, int32_t k) { return 1000 + 100 * k + 10 * j + i; }

ZTR_BOX make_box(int32_t ox, int32_t oy, int32_t oz, int32_t sx, int32_t sy, int32_t sz) {
  ZTR_BOX b;
  b.origin[0] = ox;
  b.origin[1] = oy;
  b.origin[2] = oz;
  b.size[0] = sx;
  b.size[1] = sy;
  b.size[2] = sz;
  return b;
}

bool same_voxels(const RawVolumeData* a, const RawVolumeData* b) {
  if (a->header->x != b->header->x || a->header->y != b->header->y ||
      a->header->z != b->header->z || a->header->channels != b->header->channels) {
    return false;
  }
  for (int32_t c = 0; c < a->header->channels; ++c) {
    if (std::memcmp(a->data[c], b->data[c], ZTR_GetChannelBytes(a, c)) != 0) return false;
  }
  return true;
}

// The border padding built step by step from box copies and flips, face by face in the
// order low x, high x, low y, high y, low z, high z, each face spanning what is already
// padded. Mirror faces copy the slab just inside the border outward and reverse it; repeat
// faces copy the outermost interior slice to every distance.
VolumePtr reference_padding(const RawVolumeData* v, int32_t m, int mode) {
  const int32_t X = v->header->x, Y = v->header->y, Z = v->header->z;
  const VolumeHeader h{X + 2 * m, Y + 2 * m, Z + 2 * m, 1};
  VolumePtr p(ZTR_NewRawVolumeData(h, v->types, v->attributes));
  const int32_t at_m[3] = {m, m, m};
  EXPECT_EQ(ZTR_CopyBox(v, 0, p.get(), 0, make_box(0, 0, 0, X, Y, Z), at_m), 0);
  const int32_t dims[3] = {X, Y, Z};
  for (int axis = 0; axis < 3; ++axis) {
    // Extent over the other axes: interior for later axes, whole padded size for earlier.
    int32_t origin[3], size[3];
    for (int a = 0; a < 3; ++a) {
      origin[a] = a < axis ? 0 : m;
      size[a] = a < axis ? dims[a] + 2 * m : dims[a];
    }
    const char* name = axis == 0 ? "x" : axis == 1 ? "y" : "z";
    for (int side = 0; side < 2; ++side) {
      if (mode == ZTR_PADDING_MIRROR) {
        ZTR_BOX slab = make_box(origin[0], origin[1], origin[2], size[0], size[1], size[2]);
        slab.size[axis] = m;
        slab.origin[axis] = side == 0 ? m : dims[axis];
        int32_t to[3] = {slab.origin[0], slab.origin[1], slab.origin[2]};
        to[axis] = side == 0 ? 0 : dims[axis] + m;
        EXPECT_EQ(ZTR_CopyBox(p.get(), 0, p.get(), 0, slab, to), 0);
        ZTR_BOX border = slab;
        border.origin[axis] = to[axis];
        EXPECT_EQ(ZTR_FlipChannel(p.get(), 0, &border, name), 0);
      } else {
        ZTR_BOX slice = make_box(origin[0], origin[1], origin[2], size[0], size[1], size[2]);
        slice.size[axis] = 1;
        slice.origin[axis] = side == 0 ? m : dims[axis] + m - 1;
        for (int32_t d = 1; d <= m; ++d) {
          int32_t to[3] = {slice.origin[0], slice.origin[1], slice.origin[2]};
          to[axis] = side == 0 ? m - d : dims[axis] + m - 1 + d;
          EXPECT_EQ(ZTR_CopyBox(p.get(), 0, p.get(), 0, slice, to), 0);
        }
      }
    }
  }
  return p;
}

}  // namespace

TEST(BorderPadding, ZeroModeKeepsTheInteriorAndZeroesTheBorder) {
  VolumePtr v = make_labelled(2, 3, 2);
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(ZTR_ExpandRawVolumeData(v.get(), 1, ZTR_PADDING_ZERO), 0);
  ASSERT_EQ(v->header->x, 4);
  ASSERT_EQ(v->header->y, 5);
  ASSERT_EQ(v->header->z, 4);
  for (int k = 0; k < 4; ++k) {
    for (int j = 0; j < 5; ++j) {
      for (int i = 0; i < 4; ++i) {
        const bool inside = i >= 1 && i <= 2 && j >= 1 && j <= 3 && k >= 1 && k <= 2;
        EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, i, j, k), inside ? label(i - 1, j - 1, k - 1) : 0);
      }
    }
  }
}

TEST(BorderPadding, MirrorAndRepeatAgreeForMarginOne) {
  VolumePtr mirror = make_labelled(3, 3, 3);
  ASSERT_NE(mirror, nullptr);
  VolumePtr repeat(ZTR_DuplicateRawVolumeData(mirror.get()));
  ASSERT_EQ(ZTR_ExpandRawVolumeData(mirror.get(), 1, ZTR_PADDING_MIRROR), 0);
  ASSERT_EQ(ZTR_ExpandRawVolumeData(repeat.get(), 1, ZTR_PADDING_REPEAT), 0);
  ASSERT_EQ(mirror->header->x, 5);
  EXPECT_TRUE(same_voxels(mirror.get(), repeat.get()));
  // Face layers repeat the outer layers; the corner repeats the corner voxel.
  EXPECT_EQ(ZTR_Voxel<int32_t>(mirror.get(), 0, 0, 2, 2), label(0, 1, 1));
  EXPECT_EQ(ZTR_Voxel<int32_t>(mirror.get(), 0, 4, 2, 2), label(2, 1, 1));
  EXPECT_EQ(ZTR_Voxel<int32_t>(mirror.get(), 0, 2, 2, 4), label(1, 1, 2));
  EXPECT_EQ(ZTR_Voxel<int32_t>(mirror.get(), 0, 0, 0, 0), label(0, 0, 0));
  EXPECT_EQ(ZTR_Voxel<int32_t>(mirror.get(), 0, 4, 4, 4), label(2, 2, 2));
}

TEST(BorderPadding, MirrorAndRepeatDifferFromMarginTwo) {
  VolumePtr mirror = make_labelled(3, 3, 3);
  ASSERT_NE(mirror, nullptr);
  VolumePtr repeat(ZTR_DuplicateRawVolumeData(mirror.get()));
  ASSERT_EQ(ZTR_ExpandRawVolumeData(mirror.get(), 2, ZTR_PADDING_MIRROR), 0);
  ASSERT_EQ(ZTR_ExpandRawVolumeData(repeat.get(), 2, ZTR_PADDING_REPEAT), 0);
  // Along x at the centre row: mirror 1 0 | 0 1 2 | 2 1, repeat 0 0 | 0 1 2 | 2 2.
  const int mirror_x[7] = {1, 0, 0, 1, 2, 2, 1};
  const int repeat_x[7] = {0, 0, 0, 1, 2, 2, 2};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(ZTR_Voxel<int32_t>(mirror.get(), 0, i, 3, 3), label(mirror_x[i], 1, 1)) << i;
    EXPECT_EQ(ZTR_Voxel<int32_t>(repeat.get(), 0, i, 3, 3), label(repeat_x[i], 1, 1)) << i;
  }
  EXPECT_FALSE(same_voxels(mirror.get(), repeat.get()));
}

TEST(BorderPadding, MatchesTheFaceByFaceConstruction) {
  for (int mode : {ZTR_PADDING_MIRROR, ZTR_PADDING_REPEAT}) {
    for (int32_t m : {1, 2, 3}) {
      VolumePtr v = make_labelled(4, 3, 5);
      ASSERT_NE(v, nullptr);
      VolumePtr expected = reference_padding(v.get(), m, mode);
      ASSERT_EQ(ZTR_ExpandRawVolumeData(v.get(), m, mode), 0);
      EXPECT_TRUE(same_voxels(v.get(), expected.get())) << "mode " << mode << " margin " << m;
    }
  }
}

TEST(BorderPadding, MirrorWiderThanTheVolumeKeepsReflecting) {
  // One slice padded by 2: every border slice reflects the only slice.
  VolumePtr v = make_labelled(2, 2, 1);
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(ZTR_ExpandRawVolumeData(v.get(), 2, ZTR_PADDING_MIRROR), 0);
  ASSERT_EQ(v->header->z, 5);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, 2, 2, k), label(0, 0, 0));
  // x of width 2 padded by 2: 1 0 | 0 1 | 1 0.
  const int xs[6] = {1, 0, 0, 1, 1, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, i, 2, 2), label(xs[i], 0, 0));
}

TEST(BorderPadding, EveryChannelAndTypeIsPadded) {
  const int32_t types[2] = {ZTR_TYPE_UINT8, ZTR_TYPE_FLOAT64};
  const int32_t attributes[2] = {0, 2};
  VolumePtr v(ZTR_NewRawVolumeData(VolumeHeader{2, 1, 1, 2}, types, attributes));
  ASSERT_NE(v, nullptr);
  ZTR_ChannelData<uint8_t>(v.get(), 0)[1] = 9;
  ZTR_ChannelData<double>(v.get(), 1)[1] = -2.5;
  ASSERT_EQ(ZTR_ExpandRawVolumeData(v.get(), 1, ZTR_PADDING_REPEAT), 0);
  EXPECT_EQ(v->attributes[1], 2);
  EXPECT_EQ(ZTR_Voxel<uint8_t>(v.get(), 0, 3, 0, 2), 9);
  EXPECT_EQ(ZTR_Voxel<double>(v.get(), 1, 3, 2, 0), -2.5);
  EXPECT_EQ(ZTR_Voxel<double>(v.get(), 1, 0, 1, 1), 0.0);
}

TEST(BorderPadding, BadArgumentsLeaveTheVolumeUnchanged) {
  VolumePtr v = make_labelled(2, 2, 2);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(ZTR_ExpandRawVolumeData(v.get(), -1, ZTR_PADDING_ZERO), -1);
  EXPECT_EQ(ZTR_ExpandRawVolumeData(v.get(), 1, 3), -1);
  EXPECT_EQ(ZTR_ExpandRawVolumeData(v.get(), std::numeric_limits<int32_t>::max(), 0), -1);
  EXPECT_EQ(v->header->x, 2);
  EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, 1, 1, 1), label(1, 1, 1));
  EXPECT_EQ(ZTR_ExpandRawVolumeData(nullptr, 1, 0), -1);
}

TEST(Shrinking, UndoesPadding) {
  VolumePtr v = make_labelled(3, 4, 2, 2);
  ASSERT_NE(v, nullptr);
  VolumePtr original(ZTR_DuplicateRawVolumeData(v.get()));
  ASSERT_EQ(ZTR_ExpandRawVolumeData(v.get(), 2, ZTR_PADDING_MIRROR), 0);
  ASSERT_EQ(ZTR_ShrinkRawVolumeData(v.get(), 2), 0);
  EXPECT_TRUE(same_voxels(v.get(), original.get()));
}

TEST(Shrinking, RefusesWhenNothingWouldRemain) {
  VolumePtr v = make_labelled(5, 5, 4);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(ZTR_ShrinkRawVolumeData(v.get(), 2), -1);  // z: 4 - 4 = 0
  EXPECT_EQ(ZTR_ShrinkRawVolumeData(v.get(), -1), -1);
  EXPECT_EQ(v->header->z, 4);
  ASSERT_EQ(ZTR_ShrinkRawVolumeData(v.get(), 1), 0);
  EXPECT_EQ(v->header->x, 3);
  EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, 0, 0, 0), label(1, 1, 1));
}

TEST(Cropping, BoxInsideTakesItsContents) {
  VolumePtr v = make_labelled(4, 4, 4, 2);
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(ZTR_CropRawVolumeData(v.get(), make_box(1, 2, 0, 2, 1, 3), ZTR_PADDING_ZERO), 0);
  ASSERT_EQ(v->header->x, 2);
  ASSERT_EQ(v->header->y, 1);
  ASSERT_EQ(v->header->z, 3);
  ASSERT_EQ(v->header->channels, 2);
  EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, 0, 0, 0), label(1, 2, 0));
  EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, 1, 0, 2), label(2, 2, 2));
  EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 1, 1, 0, 2), label(2, 2, 2) + 1000);
}

TEST(Cropping, BoxTwoBeyondTheVolumeIsPaddedByTwoFirst) {
  for (int mode : {ZTR_PADDING_ZERO, ZTR_PADDING_MIRROR, ZTR_PADDING_REPEAT}) {
    VolumePtr v = make_labelled(3, 3, 3);
    ASSERT_NE(v, nullptr);
    // Reaches 2 voxels past the high x face and 1 before the low y face: margin 2.
    const ZTR_BOX box = make_box(1, -1, 0, 4, 3, 2);
    VolumePtr padded(ZTR_DuplicateRawVolumeData(v.get()));
    ASSERT_EQ(ZTR_ExpandRawVolumeData(padded.get(), 2, mode), 0);
    VolumePtr expected(ZTR_DuplicateRawVolumeData(padded.get()));
    ASSERT_EQ(ZTR_CropRawVolumeData(expected.get(), make_box(3, 1, 2, 4, 3, 2), ZTR_PADDING_ZERO),
              0);
    ASSERT_EQ(ZTR_CropRawVolumeData(v.get(), box, mode), 0);
    EXPECT_TRUE(same_voxels(v.get(), expected.get())) << mode;
  }
  VolumePtr zero = make_labelled(3, 3, 3);
  ASSERT_EQ(ZTR_CropRawVolumeData(zero.get(), make_box(1, -1, 0, 4, 3, 2), ZTR_PADDING_ZERO), 0);
  EXPECT_EQ(ZTR_Voxel<int32_t>(zero.get(), 0, 0, 0, 0), 0);           // y = -1
  EXPECT_EQ(ZTR_Voxel<int32_t>(zero.get(), 0, 3, 1, 0), 0);           // x = 4
  EXPECT_EQ(ZTR_Voxel<int32_t>(zero.get(), 0, 1, 1, 1), label(2, 0, 1));
}

TEST(Cropping, EmptyBoxOrUnknownModeIsRefused) {
  VolumePtr v = make_labelled(3, 3, 3);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(ZTR_CropRawVolumeData(v.get(), make_box(0, 0, 0, 0, 1, 1), 0), -1);
  EXPECT_EQ(ZTR_CropRawVolumeData(v.get(), make_box(0, 0, 0, 1, -1, 1), 0), -1);
  EXPECT_EQ(ZTR_CropRawVolumeData(v.get(), make_box(-1, 0, 0, 2, 1, 1), 7), -1);
  EXPECT_EQ(v->header->x, 3);
}

TEST(BoxCopy, CopiesIntoPlaceAndRefusesMismatches) {
  VolumePtr source = make_labelled(3, 3, 3);
  VolumePtr destination = make_labelled(4, 4, 4);
  ASSERT_TRUE(source && destination);
  const int32_t at[3] = {2, 0, 1};
  ASSERT_EQ(ZTR_CopyBox(source.get(), 0, destination.get(), 0, make_box(1, 1, 1, 2, 2, 2), at), 0);
  EXPECT_EQ(ZTR_Voxel<int32_t>(destination.get(), 0, 2, 0, 1), label(1, 1, 1));
  EXPECT_EQ(ZTR_Voxel<int32_t>(destination.get(), 0, 3, 1, 2), label(2, 2, 2));
  EXPECT_EQ(ZTR_Voxel<int32_t>(destination.get(), 0, 1, 0, 1), label(1, 0, 1));  // untouched
  const int32_t too_far[3] = {3, 0, 0};
  EXPECT_EQ(ZTR_CopyBox(source.get(), 0, destination.get(), 0, make_box(0, 0, 0, 2, 1, 1),
                        too_far),
            -1);
  EXPECT_EQ(ZTR_CopyBox(source.get(), 0, destination.get(), 0, make_box(2, 0, 0, 2, 1, 1), at),
            -1);
  const int32_t dims[3] = {4, 4, 4};
  VolumePtr bytes(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, 0));
  EXPECT_EQ(ZTR_CopyBox(source.get(), 0, bytes.get(), 0, make_box(0, 0, 0, 1, 1, 1), at), -1);
}

TEST(BoxCopy, OverlappingBoxesInOneChannelCopyTheOriginalValues) {
  VolumePtr v = make_labelled(5, 1, 1);
  ASSERT_NE(v, nullptr);
  const int32_t shifted[3] = {1, 0, 0};
  ASSERT_EQ(ZTR_CopyBox(v.get(), 0, v.get(), 0, make_box(0, 0, 0, 4, 1, 1), shifted), 0);
  const int expected[5] = {0, 0, 1, 2, 3};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, i, 0, 0), label(expected[i], 0, 0));
}

TEST(Flipping, EachAxisMirrorsTheWholeChannel) {
  for (const char* axis : {"x", "X", "y", "Y", "z", "Z"}) {
    VolumePtr v = make_labelled(3, 4, 5);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(ZTR_FlipChannel(v.get(), 0, nullptr, axis), 0) << axis;
    const char a = static_cast<char>(axis[0] | 0x20);
    for (int k = 0; k < 5; ++k) {
      for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 3; ++i) {
          const int si = a == 'x' ? 2 - i : i, sj = a == 'y' ? 3 - j : j, sk = a == 'z' ? 4 - k : k;
          ASSERT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, i, j, k), label(si, sj, sk)) << axis;
        }
      }
    }
  }
}

TEST(Flipping, OnlyTheBoxIsMirrored) {
  VolumePtr v = make_labelled(4, 3, 2);
  ASSERT_NE(v, nullptr);
  const ZTR_BOX box = make_box(1, 0, 1, 3, 2, 1);
  ASSERT_EQ(ZTR_FlipChannel(v.get(), 0, &box, "x"), 0);
  EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, 1, 0, 1), label(3, 0, 1));
  EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, 2, 1, 1), label(2, 1, 1));
  EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, 3, 1, 1), label(1, 1, 1));
  EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, 0, 0, 1), label(0, 0, 1));  // outside the box
  EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, 1, 2, 1), label(1, 2, 1));  // outside the box
  EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, 1, 0, 0), label(1, 0, 0));  // other slice
}

TEST(Flipping, OtherTextsAndBoxesOutsideDoNothing) {
  VolumePtr v = make_labelled(3, 3, 3);
  ASSERT_NE(v, nullptr);
  VolumePtr original(ZTR_DuplicateRawVolumeData(v.get()));
  EXPECT_EQ(ZTR_FlipChannel(v.get(), 0, nullptr, "w"), -1);
  EXPECT_EQ(ZTR_FlipChannel(v.get(), 0, nullptr, "xy"), -1);
  EXPECT_EQ(ZTR_FlipChannel(v.get(), 0, nullptr, nullptr), -1);
  const ZTR_BOX outside = make_box(2, 0, 0, 2, 1, 1);
  EXPECT_EQ(ZTR_FlipChannel(v.get(), 0, &outside, "y"), -1);
  EXPECT_EQ(ZTR_FlipChannel(v.get(), 1, nullptr, "y"), -1);
  EXPECT_TRUE(same_voxels(v.get(), original.get()));
}

TEST(Flipping, ChannelsCanBeFlippedInSeveralThreadsAtOnce) {
  constexpr int kChannels = 4;
  VolumePtr v = make_labelled(16, 16, 16, kChannels);
  ASSERT_NE(v, nullptr);
  std::vector<std::thread> threads;
  for (int c = 0; c < kChannels; ++c) {
    threads.emplace_back([&, c] {
      // An odd number of flips: each channel ends mirrored along its own axis.
      for (int n = 0; n < 21; ++n) ZTR_FlipChannel(v.get(), c, nullptr, c % 2 ? "z" : "y");
    });
  }
  for (auto& t : threads) t.join();
  for (int c = 0; c < kChannels; ++c) {
    const int32_t expected = c % 2 ? label(3, 5, 15 - 7) : label(3, 15 - 5, 7);
    EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), c, 3, 5, 7), expected + 1000 * c) << c;
  }
}

TEST(Rotation, QuarterTurnsFollowTheirMappings) {
  struct Case {
    const char* axis;
    int32_t size[3];
  };
  const int32_t X = 2, Y = 3, Z = 4;
  for (const Case& c : {Case{"x", {X, Z, Y}}, Case{"Y", {Z, Y, X}}, Case{"z", {Y, X, Z}}}) {
    VolumePtr v = make_labelled(X, Y, Z);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(ZTR_RotateRawVolumeData(v.get(), c.axis), 0);
    EXPECT_EQ(v->header->x, c.size[0]) << c.axis;
    EXPECT_EQ(v->header->y, c.size[1]) << c.axis;
    EXPECT_EQ(v->header->z, c.size[2]) << c.axis;
    for (int k = 0; k < Z; ++k) {
      for (int j = 0; j < Y; ++j) {
        for (int i = 0; i < X; ++i) {
          int p[3];
          switch (c.axis[0] | 0x20) {
            case 'x': p[0] = i, p[1] = k, p[2] = Y - 1 - j; break;
            case 'y': p[0] = Z - 1 - k, p[1] = j, p[2] = i; break;
            default: p[0] = j, p[1] = X - 1 - i, p[2] = k; break;
          }
          ASSERT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, p[0], p[1], p[2]), label(i, j, k)) << c.axis;
        }
      }
    }
  }
}

TEST(Rotation, TwiceAboutZTurnsBothInPlaneAxes) {
  VolumePtr v = make_labelled(3, 4, 2);
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(ZTR_RotateRawVolumeData(v.get(), "z"), 0);
  ASSERT_EQ(ZTR_RotateRawVolumeData(v.get(), "Z"), 0);
  ASSERT_EQ(v->header->x, 3);
  ASSERT_EQ(v->header->y, 4);
  for (int k = 0; k < 2; ++k) {
    for (int j = 0; j < 4; ++j) {
      for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ZTR_Voxel<int32_t>(v.get(), 0, 3 - 1 - i, 4 - 1 - j, k), label(i, j, k));
      }
    }
  }
  VolumePtr original = make_labelled(3, 4, 2);
  ASSERT_EQ(ZTR_RotateRawVolumeData(v.get(), "z"), 0);
  ASSERT_EQ(ZTR_RotateRawVolumeData(v.get(), "z"), 0);
  EXPECT_TRUE(same_voxels(v.get(), original.get()));
}

TEST(Rotation, UnknownAxisIsRefused) {
  VolumePtr v = make_labelled(2, 3, 4);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(ZTR_RotateRawVolumeData(v.get(), "q"), -1);
  EXPECT_EQ(ZTR_RotateRawVolumeData(v.get(), ""), -1);
  EXPECT_EQ(v->header->x, 2);
  EXPECT_EQ(v->header->y, 3);
}

TEST(VoxelWrites, WritesInsideAndIgnoresOutside) {
  const int32_t dims[3] = {2, 2, 2};
  VolumePtr v(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_FLOAT64, 0));
  ASSERT_NE(v, nullptr);
  const double value = 6.25;
  const int32_t inside[3] = {1, 0, 1};
  EXPECT_EQ(ZTR_SetVoxel(v.get(), 0, inside, &value), 0);
  EXPECT_EQ(ZTR_Voxel<double>(v.get(), 0, 1, 0, 1), 6.25);
  for (const auto& p : {std::array<int32_t, 3>{2, 0, 0}, std::array<int32_t, 3>{0, -1, 0},
                        std::array<int32_t, 3>{0, 0, 2}}) {
    EXPECT_EQ(ZTR_SetVoxel(v.get(), 0, p.data(), &value), -1);
  }
  double sum = 0;
  for (int n = 0; n < 8; ++n) sum += ZTR_ChannelData<double>(v.get(), 0)[n];
  EXPECT_EQ(sum, 6.25);
  EXPECT_EQ(ZTR_SetVoxel(v.get(), 1, inside, &value), -1);
}

TEST(Boxes, DefaultsAndTheBoxOfAVolume) {
  BoxPtr box(ZTR_NewBox());
  ASSERT_NE(box, nullptr);
  for (int a = 0; a < 3; ++a) {
    EXPECT_EQ(box->origin[a], 0);
    EXPECT_EQ(box->size[a], 1);
  }
  ZTR_FLOAT_BOX* f = ZTR_NewFloatBox();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->origin[2], 0.0f);
  EXPECT_EQ(f->size[2], 1.0f);
  ZTR_DeleteFloatBox(f);
  VolumePtr v = make_labelled(2, 3, 4);
  BoxPtr whole(ZTR_NewBoxOfVolume(v.get()));
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(whole->origin[1], 0);
  EXPECT_EQ(whole->size[0], 2);
  EXPECT_EQ(whole->size[1], 3);
  EXPECT_EQ(whole->size[2], 4);
  EXPECT_TRUE(ZTR_IsBoxInsideVolume(*whole, *v));
  EXPECT_FALSE(ZTR_IsBoxInsideVolume(make_box(1, 0, 0, 2, 1, 1), *v));
  EXPECT_FALSE(ZTR_IsBoxInsideVolume(make_box(-1, 0, 0, 1, 1, 1), *v));
  EXPECT_EQ(ZTR_NewBoxOfVolume(nullptr), nullptr);
}
