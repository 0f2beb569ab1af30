// The information and data files: layouts, round trips, the refusals of broken or hostile
// files, staged loading that keeps the loaded set, and the atomic export.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "analyzer/rtnn/rtnn_files.h"
#include "tests/analyzer/rtnn/rtnn_fixtures.h"

namespace {

using rtnn_test::mpg_text;
using rtnn_test::read_file;
using rtnn_test::TempDir;
using rtnn_test::write_file;

std::vector<float> outputs(const RtnnEntry& e, std::vector<float> input) {
  RtnnIOPtr io(ZTRrtnn_NewRunTimeNeuralNetworkIO(e.network.get()));
  for (size_t i = 0; i < input.size(); ++i) io->vector[0]->element[i] = input[i];
  EXPECT_EQ(ZTRrtnn_SetInput(e.network.get(), io.get()), 0);
  const ZTR_VECTOR* out = io->vector[e.network->layer_count - 1];
  return std::vector<float>(out->element, out->element + out->count);
}

TEST(RtnnInformationFile, CsvWeightsAreInputMajor) {
  // W = [[1,3,5],[2,4,6]], b = (0.5, -0.5): (1,10,100) gives (531.5, 641.5); the transposed
  // reading would give (321.5, 653.5).
  TempDir dir;
  rtnn_test::write_layout_set(dir);
  RtnnTable table;
  ASSERT_EQ(parse_rtnn_information_file(dir / "set.txt", &table), 1);
  EXPECT_EQ(table.set_id, "layout-set");
  const RtnnEntry& e = table.entries[0];
  EXPECT_STREQ(e.network->name, "layout");
  EXPECT_EQ(e.output_names, (std::vector<std::string>{"o0", "o1"}));
  EXPECT_EQ(e.state, -1);
  EXPECT_EQ(e.input_mpg.total, 4);
  EXPECT_EQ(e.input_mpg.b0, 1);
  EXPECT_EQ(outputs(e, {1, 10, 100}), (std::vector<float>{531.5f, 641.5f}));
}

TEST(RtnnDataFile, WeightsAreOutputMajorAndRoundTripByteForByte) {
  TempDir dir;
  rtnn_test::write_layout_set(dir);
  RtnnTable table;
  ASSERT_EQ(parse_rtnn_information_file(dir / "set.txt", &table), 1);
  const std::vector<unsigned char> image = rtnn_data_bytes(table);
  // 56 header + 32 ID + 4 count + 32 name + 4 L + 8 sizes + 4 code + 64 output names
  // + 24 weights + 8 biases + 32 output parameters + 8 MPG counts + 16 b + 48 directions.
  ASSERT_EQ(image.size(), 340u);
  float weights[6];
  std::memcpy(weights, image.data() + 56 + 32 + 4 + 32 + 4 + 8 + 4 + 64, sizeof weights);
  EXPECT_EQ(std::vector<float>(weights, weights + 6), (std::vector<float>{1, 3, 5, 2, 4, 6}));

  ASSERT_EQ(write_rtnn_data_file(table, (dir / "set.bin").c_str()), 1);
  RtnnTable again;
  ASSERT_EQ(parse_rtnn_data_file(dir / "set.bin", &again), 1);
  EXPECT_EQ(again.set_id, "layout-set");
  EXPECT_EQ(outputs(again.entries[0], {1, 10, 100}), (std::vector<float>{531.5f, 641.5f}));
  EXPECT_EQ(again.entries[0].output_names, table.entries[0].output_names);
  ASSERT_EQ(write_rtnn_data_file(again, (dir / "again.bin").c_str()), 1);
  EXPECT_EQ(read_file(dir / "set.bin"), read_file(dir / "again.bin"));
}

TEST(RtnnFileKind, IsToldByTheFirstBytes) {
  TempDir dir;
  rtnn_test::write_layout_set(dir);
  RtnnTable table;
  ASSERT_EQ(parse_rtnn_information_file(dir / "set.txt", &table), 1);
  ASSERT_EQ(write_rtnn_data_file(table, (dir / "set.bin").c_str()), 1);
  write_file(dir / "short", "# this is");
  write_file(dir / "other", std::string(200, 'x'));
  EXPECT_EQ(get_rtnn_file_kind((dir / "set.bin").c_str()), 0);
  EXPECT_EQ(get_rtnn_file_kind((dir / "set.txt").c_str()), 1);
  EXPECT_EQ(get_rtnn_file_kind((dir / "short").c_str()), -1);
  EXPECT_EQ(get_rtnn_file_kind((dir / "other").c_str()), -1);
  EXPECT_EQ(get_rtnn_file_kind((dir / "missing").c_str()), -1);
}

TEST(RtnnInformationFile, RefusesHeadersWithTrailingBlankOrCarriageReturn) {
  TempDir dir;
  rtnn_test::write_layout_set(dir);
  const std::string good = read_file(dir / "set.txt");
  const size_t eol = good.find('\n');
  for (const char* tail : {" ", "\r"}) {
    write_file(dir / "bad.txt", good.substr(0, eol) + tail + good.substr(eol));
    RtnnTable table;
    EXPECT_EQ(parse_rtnn_information_file(dir / "bad.txt", &table), -1);
    EXPECT_EQ(table.count(), 0);
  }
}

TEST(RtnnInformationFile, LongNamesAndSetIdAreCutToTheirFields) {
  TempDir dir;
  const std::string long_id(500, 'i');
  rtnn_test::write_layout_set(dir, long_id);
  std::string text = read_file(dir / "set.txt");
  const std::string long_name(40, 'n');
  text.replace(text.find("layout 2"), 6, long_name);
  write_file(dir / "set.txt", text);
  RtnnTable table;
  ASSERT_EQ(parse_rtnn_information_file(dir / "set.txt", &table), 1);
  EXPECT_EQ(table.set_id, std::string(31, 'i'));
  EXPECT_EQ(std::string(table.entries[0].network->name), std::string(31, 'n'));
  const std::vector<unsigned char> image = rtnn_data_bytes(table);
  EXPECT_EQ(image[56 + 31], 0);  // the set ID keeps its terminator
}

TEST(RtnnInformationFile, BrokenNetworksAreRefusedAndTheOthersLoad) {
  // Network 2 of each variant is broken; network 1 ("layout") always loads.
  struct Case {
    const char* what;
    const char* weights;
    const char* bias;
    const char* mpg;
  };
  const Case cases[] = {
      {"missing bias file", "w.csv", "nothere.csv", "net.mpg"},
      {"weight file one value short", "short.csv", "b.csv", "net.mpg"},
      {"weight file one value long", "long.csv", "b.csv", "net.mpg"},
      {"unreadable weight", "bad.csv", "b.csv", "net.mpg"},
      {"missing MPG file", "w.csv", "b.csv", "nothere.mpg"},
      {"MPG of another size (checked when prepared)", "w.csv", "b.csv", "ok.mpg"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    rtnn_test::write_layout_set(dir);
    write_file(dir / "short.csv", "1,2,3,4,5\n");
    write_file(dir / "long.csv", "1,2,3,4,5,6,7\n");
    write_file(dir / "bad.csv", "1,2,x,4,5,6\n");
    write_file(dir / "ok.mpg", mpg_text({{{1, 0, 0}}, {{0, 1, 0}}}));
    std::string text = read_file(dir / "set.txt");
    text.replace(text.find("\n1\n"), 3, "\n2\n");
    text += std::string("second 2 3 2 LIN p0 p1 ") + c.weights + " " + c.bias +
            "\n1 0 -100 100\n1 0 -100 100\n" + c.mpg + "\n";
    write_file(dir / "set.txt", text);
    RtnnTable table;
    // A missing MPG file only fails the network that names it.
    const int expected = std::string(c.what).starts_with("MPG of another size") ? 2 : 1;
    EXPECT_EQ(parse_rtnn_information_file(dir / "set.txt", &table), expected) << c.what;
    ASSERT_GE(table.count(), 1) << c.what;
    EXPECT_STREQ(table.entries[0].network->name, "layout") << c.what;
  }
}

TEST(RtnnInformationFile, MalformedOrOverLimitFilesAreRefusedWhole) {
  TempDir dir;
  rtnn_test::write_layout_set(dir);
  const std::string good = read_file(dir / "set.txt");
  auto variant = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"three announced, one present", variant("\n1\n", "\n3\n")},
      {"65 networks", variant("\n1\n", "\n65\n")},
      {"no network", variant("\n1\n", "\n0\n")},
      {"101 layers", variant("layout 2 3 2", "layout 101 3 2")},
      {"17 outputs", variant("layout 2 3 2", "layout 2 3 17")},
      {"zero-size layer", variant("layout 2 3 2", "layout 2 0 2")},
      {"word for a number", variant("1 0 -100 1000\n1", "1 0 -100 abc\n1")},
      {"cut after the weights", good.substr(0, good.find("1 0 -100"))},
      {"zero output scale", variant("1 0 -100 1000\n1", "0 0 -100 1000\n1")},
  };
  for (const Case& c : cases) {
    write_file(dir / "bad.txt", c.text);
    RtnnTable table;
    table.set_id = "before";
    EXPECT_EQ(parse_rtnn_information_file(dir / "bad.txt", &table), -1) << c.what;
    EXPECT_EQ(table.set_id, "before") << c.what;
  }
}

TEST(RtnnDataFile, EveryTruncationIsRefused) {
  TempDir dir;
  rtnn_test::write_layout_set(dir);
  RtnnTable table;
  ASSERT_EQ(parse_rtnn_information_file(dir / "set.txt", &table), 1);
  const std::vector<unsigned char> image = rtnn_data_bytes(table);
  for (size_t size = 0; size < image.size(); ++size) {
    RtnnTable out;
    std::string error;
    EXPECT_EQ(parse_rtnn_data(image.data(), size, &out, &error), -1) << size;
    EXPECT_FALSE(error.empty()) << size;
  }
  std::vector<unsigned char> longer = image;
  longer.push_back(0);
  RtnnTable out;
  std::string error;
  EXPECT_EQ(parse_rtnn_data(longer.data(), longer.size(), &out, &error), -1);
}

TEST(RtnnDataFile, HostileCountsAndFieldsAreRefusedOrBounded) {
  TempDir dir;
  rtnn_test::write_layout_set(dir);
  RtnnTable table;
  ASSERT_EQ(parse_rtnn_information_file(dir / "set.txt", &table), 1);
  const std::vector<unsigned char> image = rtnn_data_bytes(table);
  auto with_i32 = [&](size_t offset, int32_t v) {
    std::vector<unsigned char> copy = image;
    std::memcpy(copy.data() + offset, &v, 4);
    return copy;
  };
  const size_t count_at = 88, layers_at = 124, output_size_at = 132, mpg_total_at = 340 - 72;
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
  };
  const Case cases[] = {
      {"65 networks", with_i32(count_at, 65)},
      {"negative count", with_i32(count_at, -1)},
      {"101 layers", with_i32(layers_at, 101)},
      {"17 outputs", with_i32(output_size_at, 17)},
      {"huge layer", with_i32(output_size_at, 0x7fffffff)},
      {"MPG of 4097 channels", with_i32(mpg_total_at, 4097)},
  };
  for (const Case& c : cases) {
    RtnnTable out;
    std::string error;
    EXPECT_EQ(parse_rtnn_data(c.bytes.data(), c.bytes.size(), &out, &error), -1) << c.what;
  }
  // Text fields without any terminator are cut at 31 characters, never over-read.
  std::vector<unsigned char> unterminated = image;
  std::memset(unterminated.data() + 56, 'S', 32);
  std::memset(unterminated.data() + 92, 'N', 32);
  RtnnTable out;
  std::string error;
  ASSERT_EQ(parse_rtnn_data(unterminated.data(), unterminated.size(), &out, &error), 1) << error;
  EXPECT_EQ(out.set_id, std::string(31, 'S'));
  EXPECT_EQ(std::string(out.entries[0].network->name), std::string(31, 'N'));
}

TEST(RtnnExport, RefusesZeroNetworksAndKeepsTheOldFile) {
  TempDir dir;
  write_file(dir / "old.bin", "precious");
  RtnnTable empty;
  EXPECT_EQ(write_rtnn_data_file(empty, (dir / "old.bin").c_str()), 0);
  EXPECT_EQ(read_file(dir / "old.bin"), "precious");
}

TEST(RtnnExport, FailedWriteLeavesTheOldFileAndNoTemporary) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TempDir dir;
  rtnn_test::write_layout_set(dir);
  RtnnTable table;
  ASSERT_EQ(parse_rtnn_information_file(dir / "set.txt", &table), 1);
  std::filesystem::create_directory(dir.path / "ro");
  write_file(dir / "ro/set.bin", "precious");
  chmod((dir / "ro").c_str(), 0555);
  EXPECT_EQ(write_rtnn_data_file(table, (dir / "ro/set.bin").c_str()), 0);
  chmod((dir / "ro").c_str(), 0755);
  EXPECT_EQ(read_file(dir / "ro/set.bin"), "precious");
}

TEST(RtnnExport, DiskFullMidWriteLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  rtnn_test::write_layout_set(dir);
  RtnnTable table;
  ASSERT_EQ(parse_rtnn_information_file(dir / "set.txt", &table), 1);
  write_file(dir / "set.bin", "precious");
  // The first write takes 100 bytes, the next finds the disk full.
  int calls = 0;
  auto full_disk = [&](int fd, const void* bytes, size_t count) -> long {
    if (calls++ > 0) {
      errno = ENOSPC;
      return -1;
    }
    return ::write(fd, bytes, count < 100 ? count : 100);
  };
  EXPECT_EQ(write_rtnn_data_file(table, (dir / "set.bin").c_str(), full_disk), 0);
  EXPECT_EQ(read_file(dir / "set.bin"), "precious");
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path)) ++files;
  EXPECT_EQ(files, 5);  // set.txt, w.csv, b.csv, net.mpg, set.bin: no temporary left
  EXPECT_EQ(write_rtnn_data_file(table, (dir / "nofolder/set.bin").c_str()), 0);
}

TEST(RtnnTable, FailedImportKeepsTheLoadedSet) {
  TempDir dir;
  rtnn_test::write_layout_set(dir);
  initialize_rtnn_table();
  ASSERT_EQ(load_rtnns_from_information_file((dir / "set.txt").c_str()), 1);
  write_file(dir / "wrong.bin", std::string(100, 'z'));
  EXPECT_EQ(load_rtnns_from_information_file((dir / "missing.txt").c_str()), -1);
  EXPECT_EQ(load_rtnns_from_data_file((dir / "wrong.bin").c_str()), -1);
  EXPECT_EQ(load_rtnns_from_data_file((dir / "missing.bin").c_str()), -1);
  ASSERT_EQ(rtnn_table().count(), 1);
  EXPECT_EQ(rtnn_table().set_id, "layout-set");
  EXPECT_EQ(count_rtnn_outputs(), 2);

  ASSERT_EQ(write_rtnn_data_file((dir / "set.bin").c_str()), 1);
  ASSERT_EQ(load_rtnns_from_data_file((dir / "set.bin").c_str()), 1);
  delete_all_rtnns();
  EXPECT_EQ(rtnn_table().count(), 0);
  delete_all_rtnns();  // twice is harmless
  EXPECT_EQ(count_rtnn_outputs(), 0);
}

TEST(RtnnTable, DefaultLoadingTriesThePluginFolderSecond) {
  TempDir dir;
  rtnn_test::write_layout_set(dir);
  RtnnTable table;
  ASSERT_EQ(parse_rtnn_information_file(dir / "set.txt", &table), 1);
  std::filesystem::create_directories(dir.path / "plugins/tools/heLiXIA/rtnn_data");
  ASSERT_EQ(write_rtnn_data_file(table, (dir / "plugins/tools/heLiXIA/rtnn_data/heLiXIA.rtnnFile.bin").c_str()), 1);
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.path);
  initialize_rtnn_table();
  EXPECT_EQ(load_default_rtnns(), 1);
  std::filesystem::create_directories("rtnn_data");
  write_file("rtnn_data/heLiXIA.rtnnFile.bin", "broken");
  EXPECT_EQ(load_default_rtnns(), 0);
  std::filesystem::current_path(saved);
  EXPECT_EQ(rtnn_table().count(), 1);  // the broken default did not empty the table
}

}  // namespace
