// ztrhost serving real plug-in processes: whole volumes, channels, object groups, settings,
// and the faults (another client, lying data boards, a dying plug-in, bad input, signals).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "analyzer/io/nifti_volume.h"
#include "analyzer/io/raw_volume_file.h"
#include "sdk/ipc/board_layout.h"
#include "sdk/ipc/shared_memory.h"
#include "tests/e2e/e2e_volumes.h"
#include "tests/support/child_process.h"
#include "tests/support/client_number.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ztr::test::ChildProcess;

constexpr auto kDeadline = 240s;  // generous: the machine is shared and may run sanitizers

std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class HostSession : public ::testing::Test {
 protected:
  void SetUp() override {
    claim_ = ztr::test::reserve_client_number();
    ASSERT_NE(claim_.value(), 0) << "no free client number";
    client_ = claim_.value();
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = std::make_unique<ztr::test::TempDir>("e2e_" + name);
    ASSERT_FALSE(dir_->path().empty());
  }
  void TearDown() override {
    for (const auto& board : boards_left()) ztr::ipc::SharedMemory::unlink(board);
    // A host killed on purpose cannot remove its lock object; nothing holds it any more.
    ztr::ipc::SharedMemory::unlink(ZTRipc_ComposeBoardName(ZTRipc_HOST_LOCK_BASE, client_));
  }

  // Names in /dev/shm that belong to this test's client number.
  std::vector<std::string> boards_left() const {
    std::vector<std::string> names;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "(%04d)", client_);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev/shm", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("ZTR_IPC_", 0) == 0 && name.find(suffix) != std::string::npos) names.push_back(name);
    }
    return names;
  }

  std::string path(const std::string& name) const { return dir_->file(name); }

  void write_raw(const RawVolumeData* v, const std::string& name) {
    ASSERT_EQ(SaveRawVolumeFile(v, std::fopen(path(name).c_str(), "wb")), 0);
  }

  std::vector<std::string> host_args(const std::vector<std::string>& options, const std::string& scenario) {
    std::vector<std::string> args = {ZTR_HOST_PROGRAM, "serve", "--client", std::to_string(client_),
                                     "--output", path("out")};
    args.insert(args.end(), options.begin(), options.end());
    if (!scenario.empty()) {
      args.insert(args.end(), {"--", ZTR_TEST_CLIENT_PROGRAM, scenario});
    }
    return args;
  }

  VolumePtr output_volume() {
    return VolumePtr(LoadRawVolumeFile(path("out/volume.raw").c_str(), nullptr, nullptr, nullptr));
  }
  std::string summary() const { return read_text(dir_->path() / "out" / "summary.json"); }

  // Reads the broadcaster board's status word; -123 when it cannot be read.
  int32_t server_status() const {
    ztr::ipc::SharedMemory bb = ztr::ipc::SharedMemory::open(ZTRipc_ComposeBoardName("ZTR_IPC_BB", client_));
    int32_t status = -123;
    if (!bb || bb.read(0, &status, 4) != 0) return -123;
    return status;
  }

  ztr::test::ClientNumber claim_;
  int32_t client_ = 0;
  std::unique_ptr<ztr::test::TempDir> dir_;
};

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(HostSession, VolumesOfEveryVoxelTypeTravelBothWays) {
  VolumePtr input = ztr::e2e::make_input_volume();
  write_raw(input.get(), "input.raw");
  ChildProcess host(host_args({"--input", path("input.raw"), "--cursor", "1.5,2.5,3.5", "--box", "1,1,0,3,2,4"},
                              "volumes"),
                    path("host"));
  ASSERT_EQ(host.exit_code(kDeadline), 0) << host.err();
  EXPECT_TRUE(boards_left().empty());

  VolumePtr result = output_volume();
  VolumePtr expected = ztr::e2e::make_final_volume();
  ASSERT_TRUE(result);
  EXPECT_TRUE(ztr::e2e::same_volume(result.get(), expected.get()));

  const std::string s = summary();
  // One receive of the input and one per voxel type; one send per voxel type and the final one.
  for (const char* request : {"\"211\": 9", "\"212\": 9", "\"221\": 9", "\"222\": 9", "\"233\": 9",
                              "\"234\": 9", "\"235\": 9"}) {
    EXPECT_TRUE(contains(s, request)) << request << "\n" << s;
  }
  const size_t final_bytes = ZTR_GetSerializedRawVolumeDataSize(expected.get());
  EXPECT_TRUE(contains(s, "{\"request\": 222, \"bytes\": " + std::to_string(final_bytes) + "}")) << s;
  // The channels differ in type: one NIfTI image per channel.
  VolumePtr floats(LoadNiftiVolume(path("out/volume_c006.nii.gz").c_str(), nullptr, nullptr));
  ASSERT_TRUE(floats);
  EXPECT_EQ(std::memcmp(floats->data[0], expected->data[6], ZTR_GetChannelBytes(expected.get(), 6)), 0);
  EXPECT_FALSE(fs::exists(path("out/volume.nii.gz")));
}

TEST_F(HostSession, AppendedChannelsJoinTheHostVolume) {
  VolumePtr input = ztr::e2e::make_volume({4, 4, 2, 1}, {ZTR_TYPE_UINT16}, {0}, 11);
  write_raw(input.get(), "input.raw");
  ChildProcess host(host_args({"--input", path("input.raw")}, "channels"), path("host"));
  ASSERT_EQ(host.exit_code(kDeadline), 0) << host.err();
  EXPECT_TRUE(boards_left().empty());

  VolumePtr result = output_volume();
  ASSERT_TRUE(result);
  ASSERT_EQ(result->header->channels, 4);
  VolumePtr maps = ztr::e2e::make_volume({4, 4, 2, 3}, {ZTR_TYPE_UINT16, ZTR_TYPE_FLOAT32, ZTR_TYPE_UINT32},
                                         {0, 0, ZTR_ATTRIBUTE_RGBA}, 5);
  EXPECT_EQ(std::memcmp(result->data[0], input->data[0], 64), 0);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(result->types[c + 1], maps->types[c]);
    EXPECT_EQ(result->attributes[c + 1], maps->attributes[c]);
    EXPECT_EQ(std::memcmp(result->data[c + 1], maps->data[c], ZTR_GetChannelBytes(maps.get(), c)), 0);
  }
  const std::string s = summary();
  // A single unsigned 16-bit channel of 4x4x2 voxels takes 20 + 64 = 84 bytes.
  EXPECT_TRUE(contains(s, "{\"request\": 236, \"bytes\": 84}, {\"request\": 236, \"bytes\": 148}, "
                          "{\"request\": 236, \"bytes\": 148}, {\"request\": 236, \"bytes\": 74}"))
      << s;
  EXPECT_TRUE(contains(s, "\"236\": 3")) << s;
  EXPECT_TRUE(contains(s, "does not fit the host's volume")) << s;
}

TEST_F(HostSession, ObjectGroupsVoxelSizeBoxAndCursorReachTheHost) {
  ChildProcess host(host_args({}, "groups"), path("host"));
  ASSERT_EQ(host.exit_code(kDeadline), 0) << host.err();
  EXPECT_TRUE(boards_left().empty());
  const std::string s = summary();
  // One sphere: 52 bytes; a nested 3-point line: 4 + 24 + 69; a coloured mesh: 4 + 24 + 193.
  EXPECT_TRUE(contains(s, "{\"request\": 512, \"bytes\": 52}, {\"request\": 512, \"bytes\": 97}, "
                          "{\"request\": 512, \"bytes\": 221}"))
      << s;
  EXPECT_TRUE(contains(s, "{\"id\": 1, \"count\": 5, \"file\": \"group_0001.vtk\", "
                          "\"types\": {\"11\": 1, \"13\": 1, \"31\": 1, \"61\": 1, \"62\": 1}}"))
      << s;
  EXPECT_TRUE(contains(s, "{\"id\": 2, \"count\": 1, \"file\": \"group_0002.vtk\", \"types\": {\"61\": 1, \"99\": 1}}"))
      << s;
  EXPECT_TRUE(contains(s, "{\"id\": 3, \"count\": 1, \"file\": \"group_0003.vtk\", \"types\": {\"71\": 1}}")) << s;
  EXPECT_FALSE(contains(s, "\"id\": 4")) << s;
  EXPECT_TRUE(contains(s, "\"511\": 4")) << s;
  EXPECT_TRUE(contains(s, "\"512\": 5")) << s;
  EXPECT_TRUE(contains(s, "\"251\": 5")) << s;
  EXPECT_TRUE(contains(s, "\"514\": 1")) << s;
  EXPECT_TRUE(contains(s, "\"voxel_size\": 2.5,")) << s;
  EXPECT_TRUE(contains(s, "\"voxel_size_requests\": [2.5]")) << s;
  EXPECT_TRUE(contains(s, "\"box_requests\": [{\"origin\": [1, 2, 3], \"size\": [4, 5, 6]}]")) << s;
  // The default cursor is the volume's centre (16, 16, 8); the client moved it by (+1, 0, -1).
  EXPECT_TRUE(contains(s, "\"cursor_requests\": [[17, 16, 7]]")) << s;

  const std::string mesh = read_text(dir_->path() / "out" / "group_0003.vtk");
  EXPECT_TRUE(contains(mesh, "DATASET POLYDATA\nPOINTS 4 float\n")) << mesh;
  EXPECT_TRUE(contains(mesh, "POLYGONS 2 8\n3 0 1 2\n3 0 2 3\n")) << mesh;
  EXPECT_TRUE(contains(mesh, "COLOR_SCALARS colors 4\n1 0 0 1\n0 1 0 1\n")) << mesh;
  const std::string nested = read_text(dir_->path() / "out" / "group_0002.vtk");
  EXPECT_TRUE(contains(nested, "LINES 1 4\n3 0 1 2\n")) << nested;
  const std::string all = read_text(dir_->path() / "out" / "group_0001.vtk");
  // Lines: two segments, the polyline and the single segment. Polygons: the sphere's
  // 12 x 8 faces and the tube's two sections of 8 quads.
  EXPECT_TRUE(contains(all, "LINES 4 ")) << all;
  EXPECT_TRUE(contains(all, "POLYGONS 112 ")) << all;
  float spacing[3];
  VolumePtr nifti(LoadNiftiVolume(path("out/volume.nii.gz").c_str(), spacing, nullptr));
  ASSERT_TRUE(nifti);
  EXPECT_FLOAT_EQ(spacing[0], 2.5f);
}

TEST_F(HostSession, RequestsOfAnotherClientFailWithoutWriting) {
  const std::string release = path("release");
  ChildProcess host(host_args({}, "hold:" + release), path("host"));
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (server_status() != 1 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(server_status(), 1) << host.err();

  ChildProcess intruder({ZTR_TEST_CLIENT_PROGRAM, std::to_string(client_), "intruder"}, path("intruder"));
  EXPECT_EQ(intruder.exit_code(kDeadline), 0) << intruder.err();
  std::ofstream(release) << "go";
  ASSERT_EQ(host.exit_code(kDeadline), 0) << host.err();
  const std::string s = summary();
  EXPECT_TRUE(contains(s, "\"requests\": {\"211\": 1, \"212\": 1}")) << s;
  EXPECT_TRUE(contains(s, "\"voxel_size_requests\": []")) << s;
}

TEST_F(HostSession, DataBoardsDeclaringMoreThanTheyHoldAreRefused) {
  VolumePtr input = ztr::e2e::make_input_volume();
  write_raw(input.get(), "input.raw");
  ChildProcess host(host_args({"--input", path("input.raw")}, "bad-boards"), path("host"));
  ASSERT_EQ(host.exit_code(kDeadline), 0) << host.err();
  EXPECT_TRUE(boards_left().empty());
  VolumePtr result = output_volume();
  EXPECT_TRUE(ztr::e2e::same_volume(result.get(), input.get()));
  const std::string s = summary();
  EXPECT_TRUE(contains(s, "data board of 28 bytes holds no valid volume")) << s;
  EXPECT_TRUE(contains(s, "data board of 8 bytes holds no valid object group")) << s;
  EXPECT_FALSE(contains(s, "\"222\"")) << s;
  EXPECT_FALSE(contains(s, "\"512\"")) << s;
  EXPECT_TRUE(contains(host.err(), "ztrhost: refused request 222: ")) << host.err();
}

TEST_F(HostSession, PluginKilledMidTransferLeavesNoBoardBehind) {
  ChildProcess host(host_args({}, "die"), path("host"));
  EXPECT_EQ(host.exit_code(kDeadline), 1) << host.err();
  EXPECT_TRUE(boards_left().empty());
  EXPECT_TRUE(contains(summary(), "\"plugin_exit\": \"signal 9\"")) << summary();
}

TEST_F(HostSession, TerminationSignalStopsThePluginAndRemovesEveryBoard) {
  ChildProcess host(host_args({}, "hold:" + path("never")), path("host"));
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (server_status() != 1 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(server_status(), 1) << host.err();
  host.signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(host.wait(kDeadline, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
  EXPECT_TRUE(boards_left().empty());
  EXPECT_TRUE(contains(summary(), "(stopped by the host)")) << summary();
}

TEST_F(HostSession, BadInputFilesExitWithStatusTwoAndNoBoard) {
  std::ofstream(path("crlf.raw"), std::ios::binary)
      << "# ZANTREVIUM raw format file with header\r\n1 1 1 1\n0 \n0 \n1 uncompressed\nA";
  std::ofstream(path("text.nii"), std::ios::binary) << std::string(400, 'x');
  // A NIfTI-1 header of one complex64 voxel.
  std::vector<char> nifti(360, 0);
  const int32_t sizeof_hdr = 348;
  const int16_t dims[8] = {3, 1, 1, 1, 1, 1, 1, 1};
  const int16_t datatype = 32, bitpix = 64;
  const float pixdim[4] = {1, 1, 1, 1}, vox_offset = 352;
  std::memcpy(nifti.data(), &sizeof_hdr, 4);
  std::memcpy(nifti.data() + 40, dims, 16);
  std::memcpy(nifti.data() + 70, &datatype, 2);
  std::memcpy(nifti.data() + 72, &bitpix, 2);
  std::memcpy(nifti.data() + 76, pixdim, 16);
  std::memcpy(nifti.data() + 108, &vox_offset, 4);
  std::memcpy(nifti.data() + 344, "n+1", 4);
  std::ofstream(path("complex.nii"), std::ios::binary).write(nifti.data(), std::streamsize(nifti.size()));

  for (const std::string name : {"absent.raw", "crlf.raw", "text.nii", "complex.nii"}) {
    ChildProcess host(host_args({"--input", path(name)}, "volumes"), path("host_" + name));
    EXPECT_EQ(host.exit_code(kDeadline), 2) << name;
    const std::string err = host.err();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << name << ": " << err;
    EXPECT_EQ(err.rfind("ztrhost: ", 0), 0u) << err;
    EXPECT_TRUE(boards_left().empty()) << name;
    EXPECT_FALSE(fs::exists(path("out/summary.json"))) << name;
  }
  ChildProcess usage({ZTR_HOST_PROGRAM, "serve", "--client"}, path("usage"));
  EXPECT_EQ(usage.exit_code(kDeadline), 2);
}

TEST_F(HostSession, StandardInputCommandsChangeWhatTheHostPublishes) {
  VolumePtr replacement = ztr::e2e::make_volume({3, 2, 2, 2}, {ZTR_TYPE_FLOAT32, ZTR_TYPE_FLOAT32}, {0, 0}, 4);
  write_raw(replacement.get(), "replacement.raw");
  ChildProcess host(host_args({"--stay"}, ""), path("host"), /*pipe_stdin=*/true);
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (server_status() != 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(server_status(), 0) << host.err();
  host.write_stdin("cursor 1 2 3\nbox 0 1 0 2 1 2\nvolume " + path("missing.raw") + "\nvolume " +
                   path("replacement.raw") + "\nsave " + path("saved") + "\n");
  while (!fs::exists(path("saved/summary.json")) && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(5ms);
  }
  ztr::ipc::SharedMemory bb = ztr::ipc::SharedMemory::open(ZTRipc_ComposeBoardName("ZTR_IPC_BB", client_));
  int32_t header[4] = {}, box[6] = {};
  float cursor[3] = {};
  ASSERT_TRUE(bb);
  ASSERT_EQ(bb.read(40, header, 16), 0);
  ASSERT_EQ(bb.read(72, cursor, 12), 0);
  ASSERT_EQ(bb.read(96, box, 24), 0);
  EXPECT_EQ(header[0], 3);
  EXPECT_EQ(header[3], 2);
  EXPECT_EQ(cursor[2], 3.0f);
  EXPECT_EQ(box[1], 1);
  EXPECT_EQ(box[5], 2);
  bb.close();
  host.write_stdin("quit\n");
  ASSERT_EQ(host.exit_code(kDeadline), 0) << host.err();
  EXPECT_TRUE(boards_left().empty());
  EXPECT_TRUE(contains(host.err(), "missing.raw")) << host.err();
  VolumePtr saved(LoadRawVolumeFile(path("saved/volume.raw").c_str(), nullptr, nullptr, nullptr));
  EXPECT_TRUE(ztr::e2e::same_volume(saved.get(), replacement.get()));
  EXPECT_TRUE(contains(read_text(dir_->path() / "saved" / "summary.json"), "\"cursor\": [1, 2, 3]"));
}

// ---- faults: hostile peers, a second host, squatted names, a host that goes away ---------

// Identity of a board name as the system shows it; (0, 0) when there is none.
std::pair<dev_t, ino_t> board_inode(const std::string& name) {
  struct stat st {};
  if (::stat(("/dev/shm/" + name).c_str(), &st) != 0) return {0, 0};
  return {st.st_dev, st.st_ino};
}

// Processor time a running child has used so far, from /proc.
std::chrono::milliseconds cpu_time_of(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const size_t end = text.rfind(')');
  if (end == std::string::npos) return std::chrono::milliseconds(-1);
  std::istringstream fields(text.substr(end + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return std::chrono::milliseconds((utime + stime) * 1000 / ::sysconf(_SC_CLK_TCK));
}

TEST_F(HostSession, DataBoardShrunkWhileTheHostReadsItIsRefusedAndTheHostLives) {
  ChildProcess host(host_args({}, "shrink"), path("host"));
  ASSERT_EQ(host.exit_code(kDeadline), 0) << host.err();
  EXPECT_TRUE(boards_left().empty());
  const std::string s = summary();
  EXPECT_TRUE(contains(s, "\"plugin_exit\": \"exit 0\"")) << s;
  EXPECT_TRUE(contains(s, "\"251\": 12")) << s;  // the host answered after every attempt
  EXPECT_TRUE(ztr::e2e::same_volume(output_volume().get(),
                                    ztr::e2e::make_volume({64, 64, 16, 2}, {ZTR_TYPE_INT16, ZTR_TYPE_FLOAT32},
                                                          {0, 0}, 9)
                                        .get()));
}

TEST_F(HostSession, SecondHostForTheSameNumberIsRefusedAndTheFirstKeepsServing) {
  ChildProcess first(host_args({"--stay"}, ""), path("first"), /*pipe_stdin=*/true);
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (server_status() != 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(server_status(), 0) << first.err();
  const std::string request_board = ZTRipc_ComposeBoardName("ZTR_IPC_RB", client_);
  const auto before = board_inode(request_board);

  std::vector<std::string> second_args = host_args({"--stay"}, "");
  second_args[5] = path("second_out");
  ChildProcess second(second_args, path("second"));
  EXPECT_EQ(second.exit_code(kDeadline), 2);
  EXPECT_EQ(second.err(), "ztrhost: client number " + std::to_string(client_) +
                              " is already served by another host\n");
  EXPECT_EQ(board_inode(request_board), before);
  EXPECT_EQ(server_status(), 0);
  EXPECT_FALSE(fs::exists(path("second_out/summary.json")));

  // A plug-in started now talks to the first host.
  ChildProcess plugin({ZTR_TEST_CLIENT_PROGRAM, std::to_string(client_), "silent"}, path("plugin"));
  EXPECT_EQ(plugin.exit_code(kDeadline), 0) << plugin.err();

  first.write_stdin("quit\n");
  ASSERT_EQ(first.exit_code(kDeadline), 0) << first.err();
  EXPECT_TRUE(boards_left().empty());
  EXPECT_TRUE(contains(summary(), "\"251\": 1")) << summary();
}

TEST_F(HostSession, LockDiesWithAKilledHostAndTheNextHostReplacesItsBoards) {
  ChildProcess first(host_args({"--stay"}, ""), path("first"), /*pipe_stdin=*/true);
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (server_status() != 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(server_status(), 0) << first.err();
  first.signal(SIGKILL);
  int status = 0;
  ASSERT_TRUE(first.wait(kDeadline, &status));
  EXPECT_EQ(boards_left().size(), 3u);  // a killed host leaves its boards

  ChildProcess next(host_args({}, "silent"), path("next"));
  EXPECT_EQ(next.exit_code(kDeadline), 0) << next.err();
  EXPECT_TRUE(boards_left().empty());
}

TEST_F(HostSession, HostLeavesABoardThatWasReplacedUnderItsName) {
  ChildProcess host(host_args({"--stay"}, ""), path("host"), /*pipe_stdin=*/true);
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (server_status() != 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(server_status(), 0) << host.err();
  const std::string name = ZTRipc_ComposeBoardName("ZTR_IPC_MB", client_);
  ASSERT_EQ(ztr::ipc::SharedMemory::unlink(name), 0);
  ztr::ipc::SharedMemory replacement = ztr::ipc::SharedMemory::create(name, 512);
  ASSERT_TRUE(replacement);
  host.write_stdin("quit\n");
  ASSERT_EQ(host.exit_code(kDeadline), 0) << host.err();
  EXPECT_TRUE(replacement.still_named());
  EXPECT_EQ(boards_left(), std::vector<std::string>{name});
}

TEST_F(HostSession, BoardNameHeldByAnotherUserIsRefusedAndLeftAlone) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a board of another user";
  const std::string name = ZTRipc_ComposeBoardName("ZTR_IPC_MB", client_);
  const int fd = shm_open(("/" + name).c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fchown(fd, 65534, 65534), 0);
  ::close(fd);
  const auto squatter = board_inode(name);

  ChildProcess host(host_args({}, "silent"), path("host"));
  EXPECT_EQ(host.exit_code(kDeadline), 2);
  EXPECT_EQ(host.err(), "ztrhost: cannot create the boards of client " + std::to_string(client_) +
                            ": board " + name + " belongs to user 65534\n");
  EXPECT_EQ(board_inode(name), squatter);
  EXPECT_EQ(boards_left(), std::vector<std::string>{name});  // TearDown removes it
}

TEST_F(HostSession, WaitingPluginEndsWhenTheHostQuitsOrIsKilledAndUsesLittleProcessorTime) {
  for (const bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "host killed" : "host quits");
    ChildProcess host(host_args({"--stay"}, ""), path(killed ? "killed" : "quits"), /*pipe_stdin=*/true);
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (server_status() != 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(server_status(), 0) << host.err();
    ChildProcess plugin({ZTR_TEST_CLIENT_PROGRAM, std::to_string(client_), "wait-gone"},
                        path(killed ? "plugin_killed" : "plugin_quits"));
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(plugin.running()) << plugin.err();
    // Waiting backs off to short sleeps: most of the time is spent off the processor.
    EXPECT_LT(cpu_time_of(plugin.pid()), 500ms);
    if (killed) {
      host.signal(SIGKILL);  // its boards stay behind; its lock does not
      int status = 0;
      ASSERT_TRUE(host.wait(kDeadline, &status));
    } else {
      host.write_stdin("quit\n");
      ASSERT_EQ(host.exit_code(kDeadline), 0) << host.err();
    }
    const auto gone = std::chrono::steady_clock::now();
    EXPECT_EQ(plugin.exit_code(kDeadline), 0) << plugin.err();
    EXPECT_LT(std::chrono::steady_clock::now() - gone, 5s);
    EXPECT_EQ(plugin.err(), "<Warning> Server gone: the host ended or its boards were removed or replaced\n");
  }
}

TEST_F(HostSession, WaitForAMessageThatNeverComesEndsAtTheTimeLimit) {
  ChildProcess host(host_args({}, "silent"), path("host"));
  EXPECT_EQ(host.exit_code(kDeadline), 0) << host.err();
  EXPECT_TRUE(boards_left().empty());
}

TEST_F(HostSession, OutputsThatCannotBeWrittenFailTheRunWithTheReasonLast) {
  fs::create_directories(dir_->path() / "out" / "summary.json" / "inside");
  ChildProcess host(host_args({"--stay"}, ""), path("host"), /*pipe_stdin=*/true);
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (server_status() != 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(server_status(), 0) << host.err();
  host.write_stdin("quit\n");
  EXPECT_EQ(host.exit_code(kDeadline), 1) << host.err();
  std::string err = host.err();
  while (!err.empty() && err.back() == '\n') err.pop_back();
  const std::string last = err.substr(err.rfind('\n') == std::string::npos ? 0 : err.rfind('\n') + 1);
  EXPECT_TRUE(contains(last, "summary.json")) << err;
  EXPECT_TRUE(fs::is_directory(dir_->path() / "out" / "summary.json" / "inside"));
  EXPECT_TRUE(boards_left().empty());
}

}  // namespace
