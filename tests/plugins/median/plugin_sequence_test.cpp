// The plug-in's command line and its channel pass with progress lines.
#include "plugins/median/plugin_sequence.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/plugins/median/median_reference.h"
#include "tests/support/console_capture.h"

namespace {

using namespace median_test;

MedianPluginArguments parse(std::initializer_list<const char*> args) {
  std::vector<const char*> argv = {"fKORVANsieve"};
  argv.insert(argv.end(), args.begin(), args.end());
  return ZTR_ParseMedianArguments(static_cast<int>(argv.size()), argv.data());
}

TEST(MedianArguments, NoArgumentsGiveClientZeroAndRadiusOne) {
  const auto a = parse({});
  EXPECT_EQ(a.client_number, 0);
  EXPECT_EQ(a.radius, 1.0f);
  KernelPtr k(ZTR_NewSphericalKernel(a.radius));
  ASSERT_TRUE(k);
  EXPECT_EQ(k->points.count, 7);
}

TEST(MedianArguments, ClientAndRadiusAreReadWhenBothAreGiven) {
  const auto a = parse({"5", "2.5"});
  EXPECT_EQ(a.client_number, 5);
  EXPECT_EQ(a.radius, 2.5f);
  KernelPtr k(ZTR_NewSphericalKernel(a.radius));
  ASSERT_TRUE(k);
  EXPECT_EQ(k->points.count, 81);
  EXPECT_EQ(k->halfExtent, 3);
}

TEST(MedianArguments, OneArgumentIsTheClientWithTheDefaultRadius) {
  const auto a = parse({"12"});
  EXPECT_EQ(a.client_number, 12);
  EXPECT_EQ(a.radius, 1.0f);
}

TEST(MedianArguments, ThreeArgumentsAreIgnoredAltogether) {
  const auto a = parse({"5", "2.5", "x"});
  EXPECT_EQ(a.client_number, 0);
  EXPECT_EQ(a.radius, 1.0f);
}

TEST(MedianArguments, NumbersAreReadLikeTheCLibraryDoes) {
  EXPECT_EQ(parse({"7abc"}).client_number, 7);
  EXPECT_EQ(parse({"abc"}).client_number, 0);
  EXPECT_EQ(parse({"-3"}).client_number, -3);
  EXPECT_EQ(parse({"1", "3.5mm"}).radius, 3.5f);
}

TEST(MedianArguments, UnreadableRadiusGivesNoKernelAndHugeClientsClamp) {
  const auto a = parse({"2", "wide"});
  EXPECT_EQ(a.radius, 0.0f);
  EXPECT_EQ(ZTR_NewSphericalKernel(a.radius), nullptr);
  EXPECT_EQ(parse({"99999999999999"}).client_number, 2147483647);
}

TEST(MedianPass, ThreeChannelsPrintOneProgressLineEachThenALineEnd) {
  const VolumeHeader header{5, 4, 3, 3};
  const int32_t types[3] = {ZTR_TYPE_INT16, ZTR_TYPE_UINT8, ZTR_TYPE_FLOAT32};
  const int32_t attributes[3] = {0, 0, 0};
  VolumePtr v(ZTR_NewRawVolumeData(header, types, attributes));
  ASSERT_TRUE(v);
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  ztr::test::ConsoleCapture console;
  ZTR_MedianFilterAllChannels(v.get(), k.get(), 1.0f);
  EXPECT_EQ(console.finish(),
            "\rMedian filtering (r=1.000000) 1/3 done"
            "\rMedian filtering (r=1.000000) 2/3 done"
            "\rMedian filtering (r=1.000000) 3/3 done\n");
}

TEST(MedianPass, EveryChannelIsFilteredInPlace) {
  const VolumeHeader header{6, 5, 4, 2};
  const int32_t types[2] = {ZTR_TYPE_UINT16, ZTR_TYPE_FLOAT64};
  const int32_t attributes[2] = {0, 0};
  VolumePtr v(ZTR_NewRawVolumeData(header, types, attributes));
  ASSERT_TRUE(v);
  std::mt19937 rng(17);
  const auto c0 = random_values<uint16_t>(120, rng);
  const auto c1 = random_values<double>(120, rng);
  std::memcpy(v->data[0], c0.data(), sizeof(uint16_t) * 120);
  std::memcpy(v->data[1], c1.data(), sizeof(double) * 120);
  KernelPtr k(ZTR_NewSphericalKernel(1.5f));
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTR_MedianFilterAllChannels(v.get(), k.get(), 1.5f), 0);
  console.finish();
  EXPECT_EQ(channel_values<uint16_t>(v.get(), 0), reference_rank(c0, 6, 5, 4, *k, 9));
  EXPECT_TRUE(same_values(channel_values<double>(v.get(), 1), reference_rank(c1, 6, 5, 4, *k, 9)));
}

TEST(MedianPass, RadiusBelowOneReportsEveryChannelAndLeavesTheVolume) {
  const VolumeHeader header{3, 3, 2, 2};
  const int32_t types[2] = {ZTR_TYPE_INT8, ZTR_TYPE_INT32};
  const int32_t attributes[2] = {0, 0};
  VolumePtr v(ZTR_NewRawVolumeData(header, types, attributes));
  ASSERT_TRUE(v);
  std::mt19937 rng(4);
  const auto c0 = random_values<int8_t>(18, rng);
  std::memcpy(v->data[0], c0.data(), 18);
  KernelPtr k(ZTR_NewSphericalKernel(0.5f));
  EXPECT_FALSE(k);
  ztr::test::ConsoleCapture console;
  // Nothing was filtered: the pass reports a failure for the exit status.
  EXPECT_EQ(ZTR_MedianFilterAllChannels(v.get(), k.get(), 0.5f), -1);
  EXPECT_EQ(console.finish(),
            "ZTR_RankFilter_MT: Invalid kernel(==NULL) error\n"
            "\rMedian filtering (r=0.500000) 1/2 done"
            "ZTR_RankFilter_MT: Invalid kernel(==NULL) error\n"
            "\rMedian filtering (r=0.500000) 2/2 done\n");
  EXPECT_EQ(channel_values<int8_t>(v.get(), 0), c0);
  EXPECT_EQ(channel_values<int32_t>(v.get(), 1), std::vector<int32_t>(18, 0));
}

}  // namespace
