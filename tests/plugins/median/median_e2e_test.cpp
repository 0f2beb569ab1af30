// fKORVANsieve as a real process: served by the host stand-in, which hands it a volume file
// and writes back what the plug-in returned; and started alone, with no host to talk to.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sdk/ipc/board_layout.h"
#include "sdk/ipc/shared_memory.h"
#include "tests/plugins/median/median_reference.h"
#include "tests/support/child_process.h"
#include "tests/support/client_number.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace median_test;

using ztr::test::RunResult;
using ztr::test::run_program;
using ztr::test::TempDir;
using namespace std::chrono_literals;

void write_raw_volume_file(const fs::path& path, const RawVolumeData* v) {
  const VolumeHeader& h = *v->header;
  std::ofstream out(path, std::ios::binary);
  out << "# ZANTREVIUM raw format file with header\n"
      << h.x << ' ' << h.y << ' ' << h.z << ' ' << h.channels << '\n';
  for (int c = 0; c < h.channels; ++c) out << v->types[c] << ' ';
  out << '\n';
  for (int c = 0; c < h.channels; ++c) out << v->attributes[c] << ' ';
  size_t total = 0;
  for (int c = 0; c < h.channels; ++c) total += ZTR_GetChannelBytes(v, c);
  out << '\n' << total << " uncompressed\n";
  for (int c = 0; c < h.channels; ++c)
    out.write(static_cast<const char*>(v->data[c]), std::streamsize(ZTR_GetChannelBytes(v, c)));
}

// Reads a raw volume file back: the header's numbers, then the last `size` bytes as data.
VolumePtr read_raw_volume_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  if (!std::getline(in, magic) || magic != "# ZANTREVIUM raw format file with header") return {};
  VolumeHeader h{};
  if (!(in >> h.x >> h.y >> h.z >> h.channels) || h.channels < 1 || h.channels > 16) return {};
  std::vector<int32_t> types(h.channels), attributes(h.channels);
  for (auto& t : types) in >> t;
  for (auto& a : attributes) in >> a;
  size_t size = 0;
  std::string word;
  if (!(in >> size >> word) || word != "uncompressed") return {};
  VolumePtr v(ZTR_NewRawVolumeData(h, types.data(), attributes.data()));
  if (!v) return {};
  const auto length = static_cast<size_t>(fs::file_size(path));
  if (size > length) return {};
  in.clear();
  in.seekg(std::streamoff(length - size));
  for (int c = 0; c < h.channels; ++c)
    in.read(static_cast<char*>(v->data[c]), std::streamsize(ZTR_GetChannelBytes(v.get(), c)));
  return in ? std::move(v) : VolumePtr();
}


#ifdef ZTR_HOST_PROGRAM

struct Served {
  RunResult run;
  VolumePtr output;
};

Served serve(const RawVolumeData* input, const std::vector<std::string>& plugin,
             const TempDir& dir) {
  const ztr::test::ClientNumber client = ztr::test::reserve_client_number();
  const fs::path in = dir.path() / "in.raw";
  const fs::path out = dir.path() / "out";
  write_raw_volume_file(in, input);
  std::vector<std::string> args = {ZTR_HOST_PROGRAM,  "serve",  "--client", client.text(),
                                   "--input", in.string(), "--output", out.string(), "--"};
  args.insert(args.end(), plugin.begin(), plugin.end());
  Served s;
  s.run = run_program(args, dir / "host", 120s);
  s.output = read_raw_volume_file(out / "volume.raw");
  return s;
}

VolumePtr two_channel_input(std::vector<int16_t>* c0, std::vector<float>* c1) {
  const VolumeHeader header{13, 11, 7, 2};
  const int32_t types[2] = {ZTR_TYPE_INT16, ZTR_TYPE_FLOAT32};
  const int32_t attributes[2] = {0, 0};
  VolumePtr v(ZTR_NewRawVolumeData(header, types, attributes));
  std::mt19937 rng(2026);
  *c0 = random_values<int16_t>(13 * 11 * 7, rng);
  *c1 = random_values<float>(13 * 11 * 7, rng);
  std::memcpy(v->data[0], c0->data(), c0->size() * sizeof(int16_t));
  std::memcpy(v->data[1], c1->data(), c1->size() * sizeof(float));
  return v;
}

TEST(MedianPluginServed, ReturnsEveryChannelMedianFilteredAtTheGivenRadius) {
  const TempDir dir("median_radius");
  std::vector<int16_t> c0;
  std::vector<float> c1;
  VolumePtr input = two_channel_input(&c0, &c1);
  const Served s = serve(input.get(), {ZTR_MEDIAN_PROGRAM, "2.5"}, dir);
  ASSERT_TRUE(s.run.finished) << s.run.err;
  EXPECT_TRUE(WIFEXITED(s.run.status) && WEXITSTATUS(s.run.status) == 0) << s.run.err;
  ASSERT_TRUE(s.output) << s.run.err;
  ASSERT_EQ(s.output->header->channels, 2);
  KernelPtr k(ZTR_NewSphericalKernel(2.5f));
  EXPECT_EQ(channel_values<int16_t>(s.output.get(), 0), reference_rank(c0, 13, 11, 7, *k, 40));
  EXPECT_TRUE(same_values(channel_values<float>(s.output.get(), 1), reference_rank(c1, 13, 11, 7, *k, 40)));
  EXPECT_NE(s.run.err.find("\rMedian filtering (r=2.500000) 1/2 done"
                           "\rMedian filtering (r=2.500000) 2/2 done\n"),
            std::string::npos)
      << s.run.err;
}

TEST(MedianPluginServed, WithoutRadiusUsesTheSevenPointKernel) {
  const TempDir dir("median_default");
  std::vector<int16_t> c0;
  std::vector<float> c1;
  VolumePtr input = two_channel_input(&c0, &c1);
  const Served s = serve(input.get(), {ZTR_MEDIAN_PROGRAM}, dir);
  ASSERT_TRUE(s.output) << s.run.err;
  KernelPtr k(ZTR_NewSphericalKernel(1.0f));
  EXPECT_EQ(channel_values<int16_t>(s.output.get(), 0), reference_rank(c0, 13, 11, 7, *k, 3));
  EXPECT_NE(s.run.err.find("\rMedian filtering (r=1.000000) 2/2 done\n"), std::string::npos)
      << s.run.err;
}

TEST(MedianPluginServed, RadiusBelowOneSendsTheVolumeBackUnchanged) {
  const TempDir dir("median_small");
  std::vector<int16_t> c0;
  std::vector<float> c1;
  VolumePtr input = two_channel_input(&c0, &c1);
  const Served s = serve(input.get(), {ZTR_MEDIAN_PROGRAM, "0.5"}, dir);
  ASSERT_TRUE(s.output) << s.run.err;
  EXPECT_EQ(channel_values<int16_t>(s.output.get(), 0), c0);
  EXPECT_TRUE(same_values(channel_values<float>(s.output.get(), 1), c1));
  const std::string invalid = "ZTR_RankFilter_MT: Invalid kernel(==NULL) error\n";
  const size_t first = s.run.err.find(invalid);
  ASSERT_NE(first, std::string::npos) << s.run.err;
  EXPECT_NE(s.run.err.find(invalid, first + invalid.size()), std::string::npos) << s.run.err;
  // Nothing was filtered: the plug-in fails, and the host says so in its exit status and
  // in its summary.
  EXPECT_TRUE(WIFEXITED(s.run.status) && WEXITSTATUS(s.run.status) == 1) << s.run.err;
  std::ifstream summary(dir.path() / "out" / "summary.json");
  const std::string json((std::istreambuf_iterator<char>(summary)), std::istreambuf_iterator<char>());
  EXPECT_NE(json.find("\"plugin_exit\": \"exit 1\""), std::string::npos) << json;
}

#endif  // ZTR_HOST_PROGRAM

TEST(MedianPluginAlone, WithoutAHostFailsWithOneLineAndStatusOne) {
  const TempDir dir("median_alone");
  const ztr::test::ClientNumber client = ztr::test::reserve_client_number();
  const RunResult r = run_program({ZTR_MEDIAN_PROGRAM, client.text(), "2.5"}, dir / "alone", 60s);
  ASSERT_TRUE(r.finished);
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(WEXITSTATUS(r.status), 1);
  EXPECT_EQ(r.err, "Failed <ZTRipc_InitializeClient>: no host serves client " + client.text() +
                       ". Exit now.\n");
}

TEST(MedianPluginAlone, BoardsThatDisappearMidWaitEndThePluginQuicklyWithStatusOne) {
  const TempDir dir("median_gone");
  // Boards of a host that never answers and then goes away.
  const ztr::test::ClientNumber number = ztr::test::reserve_client_number();
  const int32_t client = number.value();
  using ztr::ipc::SharedMemory;
  SharedMemory broadcaster = SharedMemory::create(ZTRipc_ComposeBoardName("ZTR_IPC_BB", client), 4096);
  SharedMemory message = SharedMemory::create(ZTRipc_ComposeBoardName("ZTR_IPC_MB", client), 512);
  SharedMemory request = SharedMemory::create(ZTRipc_ComposeBoardName("ZTR_IPC_RB", client), 512);
  ASSERT_TRUE(broadcaster && message && request);
  const int32_t none = ZTRipc_NO_VALUE;
  ASSERT_EQ(message.write(0, &none, 4), 0);  // the broadcaster says: server free
  std::thread host_leaves([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    broadcaster.close();
    message.close();
    request.close();
  });
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = run_program({ZTR_MEDIAN_PROGRAM, number.text()}, dir / "gone", 60s);
  const auto took = std::chrono::steady_clock::now() - start;
  host_leaves.join();
  ASSERT_TRUE(r.finished);
  EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 1) << r.err;
  EXPECT_EQ(r.err,
            "<Warning> Server gone: the host ended or its boards were removed or replaced\n"
            "Failed <ZTRipc_SendConnectionRequest>. Exit now.\n");
  // Seen within a few checks of the names, long before any time limit of a wait.
  EXPECT_LT(took, std::chrono::seconds(5));
}

}  // namespace
