// Voxel growing, selection and mask morphology, checked against scipy's geodesic dilation,
// binary dilation and erosion, and on small tensor fields built in code.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "analyzer/voxel/voxel_growing.h"
#include "analyzer/voxel/voxel_kernel.h"
#include "voxel_test_support.h"

using namespace voxel_test;

namespace {

// A signal-only volume: one signed 16-bit channel (the DTI record is never fitted).
struct SignalVolume {
  VolumePtr volume;
  DtiDataPtr data;
  SignalVolume(int x, int y, int z, int32_t type = ZTR_TYPE_INT16) {
    const int32_t types[2] = {ZTR_TYPE_INT16, type}, attributes[2] = {0, 0};
    volume.reset(ZTR_NewRawVolumeData({x, y, z, 2}, types, attributes));
    data.reset(ZTRdti_NewDiffusionTensorImageData(volume.get(), 1));
  }
  int16_t* values() { return ZTR_ChannelData<int16_t>(volume.get(), 0); }
};

std::vector<uint8_t> mask_bytes(const RawVolumeData* mask) {
  const uint8_t* m = ZTR_ChannelData<uint8_t>(mask, 0);
  return std::vector<uint8_t>(m, m + ZTR_GetChannelBytes(mask, 0));
}

void write_meta(const TempDir& dir, const std::string& text) {
  write_bytes(dir / "meta.txt", text.data(), text.size());
}

}  // namespace

TEST(VoxelKernel, RadiusOneIsTheCentreAndItsSixFaceNeighbours) {
  const std::vector<VoxelOffset> k = voxel_kernel_offsets(1.0f);
  ASSERT_EQ(k.size(), 7u);
  EXPECT_EQ(k[0], (VoxelOffset{0, 0, 0}));
  for (const VoxelOffset& o : k) EXPECT_LE(std::abs(o[0]) + std::abs(o[1]) + std::abs(o[2]), 1);
  EXPECT_EQ(voxel_kernel_offsets(1.5f).size(), 19u);  // centre, 6 faces, 12 edges
  EXPECT_TRUE(voxel_kernel_offsets(-1.0f).empty());
  EXPECT_TRUE(voxel_kernel_offsets(NAN).empty());
}

// Growing by signal is geodesic dilation (6-connected, max step iterations) of the in-range
// seeds inside the in-range interior; compared voxel for voxel with scipy.
TEST(GrowBySignal, EqualsGeodesicDilationOfTheInRangeSeeds) {
  struct Case {
    float lo, hi;
    int steps;
  } cases[] = {{100, 600, 3}, {0, 1000, 0}, {200, 800, 50}, {-40000, 40000, 4}, {450, 460, 2}};
  std::mt19937 rng(7);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lo << ".." << c.hi << " steps " << c.steps);
    SignalVolume v(12, 10, 8);
    const int64_t n = 12 * 10 * 8;
    std::uniform_int_distribution<int> value(0, 1000), coin(0, 39);
    for (int64_t i = 0; i < n; ++i) v.values()[i] = int16_t(value(rng));
    VolumePtr mask = new_mask(12, 10, 8);
    uint8_t* m = ZTR_ChannelData<uint8_t>(mask.get(), 0);
    for (int64_t i = 0; i < n; ++i) m[i] = coin(rng) == 0 ? 1 : 0;
    m[0] = 1;  // a seed on the outer layer stays when in range
    TempDir dir;
    write_bytes(dir / "values.i16", v.values(), size_t(n) * 2);
    write_bytes(dir / "seed.u8", m, size_t(n));
    write_meta(dir, "dims 12 10 8\nlo " + std::to_string(c.lo) + "\nhi " + std::to_string(c.hi) +
                        "\nsteps " + std::to_string(c.steps) + "\n");
    ASSERT_TRUE(run_reference("grow", dir));

    VOXEL_GROWING_SETTING s;
    s.mode = ZTR_VOXEL_GROWING_SIGNAL;
    s.min_signal = c.lo;
    s.max_signal = c.hi;
    s.max_step = c.steps;
    s.mask = mask.get();
    ztr::test::ConsoleCapture err;
    ASSERT_EQ(voxel_grow(v.data.get(), &s), 0);
    EXPECT_EQ(mask_bytes(mask.get()), read_bytes(dir / "expected.u8"));
  }
}

// Layers are labelled wider than 8 bits: a corridor of 400 in-range voxels grows one voxel
// per layer, so max step N reaches N + 1 voxels, also past 255.
TEST(GrowBySignal, MaxStepBeyondTwoHundredFiftyFiveKeepsEveryLayer) {
  for (const int steps : {1, 254, 255, 300, 1000}) {
    SignalVolume v(3, 402, 3);
    for (int64_t i = 0; i < 3 * 402 * 3; ++i) v.values()[i] = 10;
    VolumePtr mask = new_mask(3, 402, 3);
    mask_at(mask.get(), 1, 1, 1) = 1;
    VOXEL_GROWING_SETTING s;
    s.mode = ZTR_VOXEL_GROWING_SIGNAL;
    s.max_step = steps;
    s.mask = mask.get();
    ztr::test::ConsoleCapture err;
    ASSERT_EQ(grow_by_signal(v.data.get(), &s), 0);
    EXPECT_EQ(count_set(mask.get()), std::min(steps + 1, 400)) << "max step " << steps;
  }
}

TEST(GrowBySignal, RangeBeyondSixteenBitsSaturatesInsteadOfWrapping) {
  SignalVolume v(5, 5, 5);
  for (int64_t i = 0; i < 125; ++i) v.values()[i] = 30000;
  VolumePtr mask = new_mask(5, 5, 5);
  mask_at(mask.get(), 2, 2, 2) = 1;
  VOXEL_GROWING_SETTING s;
  s.mode = ZTR_VOXEL_GROWING_SIGNAL;
  s.min_signal = 1.0f;
  s.max_signal = 40000.0f;  // wrapped, this would be -25536 and remove the seed
  s.max_step = 1;
  s.mask = mask.get();
  ztr::test::ConsoleCapture err;
  ASSERT_EQ(grow_by_signal(v.data.get(), &s), 0);
  EXPECT_NE(err.text().find("Range: 1 - 32767\n"), std::string::npos) << err.text();
  EXPECT_EQ(count_set(mask.get()), 7);
}

TEST(GrowBySignal, SeedsOutsideTheRangeAreRemovedButCounted) {
  SignalVolume v(5, 5, 5);
  for (int64_t i = 0; i < 125; ++i) v.values()[i] = 50;
  VolumePtr mask = new_mask(5, 5, 5);
  mask_at(mask.get(), 2, 2, 2) = 1;
  mask_at(mask.get(), 1, 1, 1) = 1;
  VOXEL_GROWING_SETTING s;
  s.mode = ZTR_VOXEL_GROWING_SIGNAL;
  s.min_signal = 60.0f;  // every seed is out of range
  s.max_signal = 100.0f;
  s.mask = mask.get();
  ztr::test::ConsoleCapture err;
  ASSERT_EQ(grow_by_signal(v.data.get(), &s), 0);
  const std::string text = err.text();
  EXPECT_NE(text.find("seed voxel count (grey) = 2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Growing stopped 1/10\n"), std::string::npos) << text;
  EXPECT_EQ(count_set(mask.get()), 0);
}

// A channel of another type would be misread (and an 8-bit one overrun): it is refused and
// the mask is left as it was.
TEST(GrowBySignal, RefusesChannelsThatAreNotSignedSixteenBit) {
  struct Case {
    int32_t type;
    int channel;
  } cases[] = {{ZTR_TYPE_UINT8, 1}, {ZTR_TYPE_FLOAT32, 1}, {ZTR_TYPE_INT16, 2}, {ZTR_TYPE_INT16, -1}};
  for (const Case& c : cases) {
    SignalVolume v(4, 4, 4, c.type);
    VolumePtr mask = new_mask(4, 4, 4);
    mask_at(mask.get(), 1, 1, 1) = 1;
    mask_at(mask.get(), 2, 2, 2) = 3;
    const std::vector<uint8_t> before = mask_bytes(mask.get());
    VOXEL_GROWING_SETTING s;
    s.mode = ZTR_VOXEL_GROWING_SIGNAL;
    s.channel = c.channel;
    s.mask = mask.get();
    ztr::test::ConsoleCapture err;
    EXPECT_EQ(voxel_grow(v.data.get(), &s), -1) << "type " << c.type << " channel " << c.channel;
    EXPECT_EQ(voxel_select(v.data.get(), &s), -1);
    EXPECT_EQ(mask_bytes(mask.get()), before);
    EXPECT_NE(err.text().find("Err: "), std::string::npos);
  }
}

TEST(SelectBySignal, MarksEveryVoxelInRangeBorderIncluded) {
  SignalVolume v(4, 3, 2);
  for (int64_t i = 0; i < 24; ++i) v.values()[i] = int16_t(i * 10);  // 0, 10, ..., 230
  VolumePtr mask = new_mask(4, 3, 2);
  VOXEL_GROWING_SETTING s;
  s.mode = ZTR_VOXEL_GROWING_SIGNAL;
  s.min_signal = 50.0f;
  s.max_signal = 120.9f;  // truncated to 120: values 50 .. 120 are 8 voxels
  s.mask = mask.get();
  ztr::test::ConsoleCapture err;
  ASSERT_EQ(voxel_select(v.data.get(), &s), 0);
  EXPECT_NE(err.text().find("selected voxel count (grey) = 8\n"), std::string::npos);
  const uint8_t* m = ZTR_ChannelData<uint8_t>(mask.get(), 0);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(m[i], (i >= 5 && i <= 12) ? 1 : 0) << i;
}

// A 9 x 9 x 9 tensor field: a column of fibres along z at x = y = 4, fibres along x
// elsewhere in the interior, zero signal on the outer layer.
struct ColumnField {
  DwiData dwi{9, 9, 9};
  ColumnField() {
    for (int z = 1; z < 8; ++z) {
      for (int y = 1; y < 8; ++y) {
        for (int x = 1; x < 8; ++x) {
          dwi.set(x, y, z, (x == 4 && y == 4) ? fibre(0, 0, 1) : fibre(1, 0, 0), 1000.0);
        }
      }
    }
  }
};

TEST(GrowByPrincipalDirection, FollowsTheColumnAndNotTheCrossingFibres) {
  ColumnField f;
  VolumePtr mask = new_mask(9, 9, 9);
  mask_at(mask.get(), 4, 4, 4) = 1;
  VOXEL_GROWING_SETTING s;
  s.mode = ZTR_VOXEL_GROWING_TENSOR;
  s.min_fa = 0.2f;
  s.max_angle = 20.0f;
  s.mask = mask.get();
  ztr::test::ConsoleCapture err;
  ASSERT_EQ(voxel_grow(f.dwi.get(), &s), 0);
  EXPECT_NE(err.text().find("principle dir ("), std::string::npos);
  EXPECT_EQ(count_set(mask.get()), 7);  // z = 1 .. 7; the outer layer is never grown into
  for (int z = 1; z < 8; ++z) EXPECT_EQ(mask_at(mask.get(), 4, 4, z), 1) << z;
  EXPECT_NEAR(std::fabs(s.principal_direction[2]), 1.0f, 1e-4f);
}

// Zero-signal seeds fit to NaN: they fail min FA and leave no direction, so nothing grows
// and the stored direction is zero rather than garbage.
TEST(GrowByPrincipalDirection, WithoutAFiniteSeedGrowsNothingAndSaysSo) {
  for (const int32_t mode : {ZTR_VOXEL_GROWING_TENSOR, ZTR_VOXEL_GROWING_LOCAL_TENSOR}) {
    ColumnField f;
    VolumePtr mask = new_mask(9, 9, 9);
    mask_at(mask.get(), 0, 4, 4) = 1;  // outer layer: zero signal
    mask_at(mask.get(), 4, 4, 0) = 1;
    VOXEL_GROWING_SETTING s;
    s.mode = mode;
    s.principal_direction[0] = 7.0f;
    s.mask = mask.get();
    ztr::test::ConsoleCapture err;
    EXPECT_EQ(voxel_grow(f.dwi.get(), &s), -1);
    EXPECT_NE(err.text().find("nothing grown"), std::string::npos) << err.text();
    EXPECT_EQ(count_set(mask.get()), 0);
    for (const float d : s.principal_direction) EXPECT_EQ(d, 0.0f);
  }
}

// A path along x whose fibre turns 15 degrees per voxel: with a 20 degree limit the local
// mode follows every turn, the principal-direction mode stops at 30 degrees from the seed.
TEST(GrowByLocalDirection, FollowsAPathThatThePrincipalDirectionModeLeaves) {
  DwiData dwi(7, 5, 5);
  for (int z = 1; z < 4; ++z) {
    for (int y = 1; y < 4; ++y) {
      for (int x = 1; x < 6; ++x) dwi.set(x, y, z, isotropic(), 1000.0);
    }
  }
  const double pi = std::acos(-1.0);
  for (int x = 1; x < 6; ++x) {
    const double a = (x - 1) * 15.0 / 180.0 * pi;
    dwi.set(x, 2, 2, fibre(std::cos(a), std::sin(a), 0), 1000.0);
  }
  int grown[2] = {0, 0};
  const int32_t modes[2] = {ZTR_VOXEL_GROWING_LOCAL_TENSOR, ZTR_VOXEL_GROWING_TENSOR};
  for (int k = 0; k < 2; ++k) {
    VolumePtr mask = new_mask(7, 5, 5);
    mask_at(mask.get(), 1, 2, 2) = 1;
    VOXEL_GROWING_SETTING s;
    s.mode = modes[k];
    s.max_angle = 20.0f;
    s.mask = mask.get();
    ztr::test::ConsoleCapture err;
    ASSERT_EQ(voxel_grow(dwi.get(), &s), 0);
    grown[k] = count_set(mask.get());
  }
  EXPECT_EQ(grown[0], 5);
  EXPECT_EQ(grown[1], 2);
}

TEST(SelectByFa, MarksFittedVoxelsBelowMinFaOnly) {
  ColumnField f;
  f.dwi.set(2, 2, 2, isotropic(), 1000.0);
  VolumePtr mask = new_mask(9, 9, 9);
  VOXEL_GROWING_SETTING s;
  s.mode = ZTR_VOXEL_GROWING_TENSOR;
  s.principal_direction[1] = 1.0f;
  s.mask = mask.get();
  ztr::test::ConsoleCapture err;
  ASSERT_EQ(voxel_select(f.dwi.get(), &s), 0);
  // Only the isotropic voxel: fibres are above min FA, the zero border does not fit.
  EXPECT_EQ(count_set(mask.get()), 1);
  EXPECT_EQ(mask_at(mask.get(), 2, 2, 2), 1);
  EXPECT_NE(err.text().find("selected voxel count (tensor) = 1\n"), std::string::npos);
  EXPECT_EQ(s.principal_direction[1], 0.0f);
}

// Dilation with the radius-1 kernel equals scipy's binary_dilation (6-connected, outside 0);
// erosion equals binary_erosion with border_value=1.
TEST(MaskMorphology, DilateAndErodeEqualScipy) {
  std::mt19937 rng(11);
  const int sizes[][3] = {{7, 6, 5}, {10, 4, 9}, {3, 3, 3}, {1, 8, 8}};
  for (const auto& dims : sizes) {
    for (const int density : {3, 8}) {
      VolumePtr mask = new_mask(dims[0], dims[1], dims[2]);
      uint8_t* m = ZTR_ChannelData<uint8_t>(mask.get(), 0);
      const size_t n = size_t(dims[0]) * dims[1] * dims[2];
      std::uniform_int_distribution<int> roll(0, 9);
      for (size_t i = 0; i < n; ++i) m[i] = roll(rng) < density ? 1 : 0;
      for (const std::string op : {"dilate", "erode"}) {
        SCOPED_TRACE(op + " " + std::to_string(dims[0]) + "x" + std::to_string(dims[1]) + "x" +
                     std::to_string(dims[2]));
        VolumePtr copy(ZTR_DuplicateRawVolumeData(mask.get()));
        TempDir dir;
        write_bytes(dir / "mask.u8", m, n);
        write_meta(dir, "dims " + std::to_string(dims[0]) + " " + std::to_string(dims[1]) + " " +
                            std::to_string(dims[2]) + "\n");
        ASSERT_TRUE(run_reference(op, dir));
        ASSERT_EQ(op == "dilate" ? dilate_voxel_mask(copy.get()) : erode_voxel_mask(copy.get()), 0);
        EXPECT_EQ(mask_bytes(copy.get()), read_bytes(dir / "expected.u8"));
      }
    }
  }
}

TEST(MaskMorphology, ErodingAFullVolumeKeepsItsBorder) {
  VolumePtr mask = new_mask(4, 4, 4);
  std::memset(mask->data[0], 1, 64);
  ASSERT_EQ(erode_voxel_mask(mask.get()), 0);
  EXPECT_EQ(count_set(mask.get()), 64);
  VolumePtr single = new_mask(5, 5, 5);
  mask_at(single.get(), 2, 2, 2) = 1;
  ASSERT_EQ(dilate_voxel_mask(single.get()), 0);
  EXPECT_EQ(count_set(single.get()), 7);
  ASSERT_EQ(erode_voxel_mask(single.get()), 0);
  EXPECT_EQ(count_set(single.get()), 1);
}

TEST(MaskMorphology, RefusesMasksThatAreNotEightBit) {
  const int32_t dims[3] = {3, 3, 3};
  VolumePtr wide(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_INT16, 0));
  EXPECT_EQ(dilate_voxel_mask(wide.get()), -1);
  EXPECT_EQ(erode_voxel_mask(nullptr), -1);
}

// The panel's buttons act only on a voxelgroup ROI; "3D Grow" starts again from the drawn
// seed region, so pressing it twice gives the same mask.
TEST(VoxelGrowingButtons, GrowStartsFromTheDrawnRegionAndOnlyForVoxelgroups) {
  SignalVolume v(6, 6, 6);
  for (int64_t i = 0; i < 216; ++i) v.values()[i] = 100;
  VolumePtr seeds = new_mask(6, 6, 6);
  mask_at(seeds.get(), 2, 2, 2) = 1;
  VolumePtr mask = new_mask(6, 6, 6);
  VOXEL_GROWING_SETTING s;
  s.mask = mask.get();
  VOXEL_GROWING_PANEL panel;
  panel.criterion = ZTR_VOXEL_GROWING_SIGNAL;
  panel.max_step = 1;
  ztr::test::ConsoleCapture err;
  EXPECT_EQ(run_voxel_growing_button(VoxelGrowingButton::Grow, 0, panel, v.data.get(), seeds.get(), &s), 0);
  EXPECT_EQ(count_set(mask.get()), 0);  // a sphere ROI: mask untouched
  for (int press = 0; press < 2; ++press) {
    ASSERT_EQ(run_voxel_growing_button(VoxelGrowingButton::Grow, 2, panel, v.data.get(), seeds.get(), &s), 0);
    EXPECT_EQ(count_set(mask.get()), 7);
  }
  EXPECT_EQ(s.mode, ZTR_VOXEL_GROWING_SIGNAL);
  ASSERT_EQ(run_voxel_growing_button(VoxelGrowingButton::Dilate, 2, panel, v.data.get(), seeds.get(), &s), 0);
  EXPECT_EQ(count_set(mask.get()), 25);
  ASSERT_EQ(run_voxel_growing_button(VoxelGrowingButton::Erode, 2, panel, v.data.get(), seeds.get(), &s), 0);
  EXPECT_EQ(count_set(mask.get()), 7);
  ASSERT_EQ(run_voxel_growing_button(VoxelGrowingButton::Clear, 2, panel, v.data.get(), seeds.get(), &s), 0);
  EXPECT_EQ(count_set(mask.get()), 1);
}

TEST(VoxelGrowingSetting, CopyDuplicatesTheMask) {
  VolumePtr mask = new_mask(3, 3, 3);
  mask_at(mask.get(), 1, 1, 1) = 1;
  VOXEL_GROWING_SETTING a;
  a.mask = mask.get();
  a.max_step = 42;
  VOXEL_GROWING_SETTING b;
  ASSERT_TRUE(copy_voxel_growing_setting(a, &b));
  VolumePtr owned(b.mask);
  EXPECT_NE(b.mask, a.mask);
  EXPECT_EQ(b.max_step, 42);
  EXPECT_EQ(mask_bytes(b.mask), mask_bytes(a.mask));
}
