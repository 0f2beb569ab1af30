// A plug-in for the end-to-end tests: "ipc_test_client N SCENARIO" talks to ztrhost through
// the client library and exits 0 when every step behaved as expected, else 1 after one line
// on standard error naming the step.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "sdk/ipc/ipc_client.h"
#include "sdk/ipc/object_group.h"
#include "sdk/ipc/object_group_ptr.h"
#include "sdk/ipc/shared_memory.h"
#include "tests/e2e/e2e_volumes.h"

namespace {

using ztr::e2e::make_volume;

// A wait the host never answers: long enough (about 0.3 s: a round that sleeps counts a
// round per microsecond) for the host to read and refuse what it was sent, short enough to
// keep the test quick.
constexpr int32_t kRefusalPollLimit = 300000;
using ztr::e2e::same_volume;

[[noreturn]] void fail(const std::string& step) {
  std::fprintf(stderr, "ipc_test_client: FAILED %s\n", step.c_str());
  ZTRipc_CloseClient();
  std::exit(1);
}

void check(bool ok, const std::string& step) {
  if (!ok) fail(step);
}

int scenario_volumes() {
  ZTRipc_BROADCASTER* info = ZTRipc_NewBroadcaster();
  check(info && ZTRipc_GetBroadcastedInfo(info) == 0, "broadcast read");
  check(info->status == 0, "server free at start");
  check(info->volume_header.x == 6 && info->volume_header.y == 5 && info->volume_header.z == 4 &&
            info->volume_header.channels == 1,
        "broadcast volume header");
  check(info->cursor[0] == 1.5f && info->cursor[1] == 2.5f && info->cursor[2] == 3.5f, "broadcast cursor");
  check(info->box_origin[0] == 1 && info->box_origin[1] == 1 && info->box_origin[2] == 0 &&
            info->box_size[0] == 3 && info->box_size[1] == 2 && info->box_size[2] == 4,
        "broadcast box");

  VolumePtr input(ZTRipc_ReceiveRawVolumeData());
  VolumePtr expected = ztr::e2e::make_input_volume();
  check(same_volume(input.get(), expected.get()), "first receive gives the host's input volume");

  for (int32_t type = 0; type <= 7; ++type) {
    VolumePtr sent = make_volume({5, 4, 3, 2}, {type, type}, {0, 0}, uint32_t(type));
    check(ZTRipc_SendRawVolumeData(sent.get()) == 0, "send volume of type " + std::to_string(type));
    VolumePtr back(ZTRipc_ReceiveRawVolumeData());
    check(same_volume(sent.get(), back.get()), "volume of type " + std::to_string(type) + " comes back");
  }
  VolumePtr final_volume = ztr::e2e::make_final_volume();
  check(ZTRipc_SendRawVolumeData(final_volume.get()) == 0, "send the final volume");
  check(ZTRipc_GetBroadcastedInfo(info) == 0 && info->volume_header.channels == 9 &&
            info->volume_header.x == 7 && info->status == 0,
        "broadcast shows the final volume and a free server");
  ZTRipc_DeleteBroadcaster(info);
  return 0;
}

int scenario_channels() {
  VolumePtr input(ZTRipc_ReceiveRawVolumeData());
  check(input && input->header->x == 4 && input->header->y == 4 && input->header->z == 2,
        "receive the 4x4x2 input");
  VolumePtr maps = make_volume({4, 4, 2, 3}, {ZTR_TYPE_UINT16, ZTR_TYPE_FLOAT32, ZTR_TYPE_UINT32},
                               {0, 0, ZTR_ATTRIBUTE_RGBA}, 5);
  for (int32_t c = 0; c < 3; ++c) {
    check(ZTRipc_AppendSingleChannel(maps.get(), c) == 0, "append channel " + std::to_string(c));
  }
  // A channel number equal to the channel count is refused before any board exists.
  check(ZTRipc_UploadSingleChannelOfRawVolumeData(maps.get(), 3) == -1, "channel 3 refused");
  check(!ztr::ipc::SharedMemory::exists(ZTRipc_GetDataBoardName()), "no data board for channel 3");
  // A channel of another size does not fit the host's volume: the host refuses it.
  // The refusal shows as an acceptance that never comes; the connection and the lock before
  // it must still succeed within the shorter limit.
  ZTRipc_SetPollLimit(kRefusalPollLimit);
  VolumePtr other = make_volume({3, 3, 3, 1}, {ZTR_TYPE_UINT16}, {0}, 1);
  check(ZTRipc_AppendSingleChannel(other.get(), 0) == -1, "mismatched channel refused");
  ZTRipc_BROADCASTER* info = ZTRipc_NewBroadcaster();
  check(ZTRipc_GetBroadcastedInfo(info) == 0 && info->volume_header.channels == 4 && info->status == 0,
        "host holds four channels and is free");
  ZTRipc_DeleteBroadcaster(info);
  return 0;
}

ZTR_OBJECT_COLOR color(float r, float g, float b, float a = 1.0f) { return {r, g, b, a}; }

int scenario_groups() {
  // One sphere: 4 + 24 + 24 = 52 bytes.
  GroupPtr spheres(ZTR_NewObjectGroup(8));
  ZTR_AppendObject(spheres.get(), ZTR_NewSphereObject({1, 2, 3}, 1.5f), nullptr);
  check(ZTR_GetObjectGroupWireSize(spheres.get()) == 52, "sphere group size");
  int32_t id1 = -1, id2 = -1, id3 = -1, id4 = -1;
  check(ZTRipc_TransferObjectGroup(spheres.get(), &id1) == 0, "transfer the sphere group");

  // A nested group holding a 3-point line without colours: 4 + 24 + 41 = 69 bytes inside.
  GroupPtr outer(ZTR_NewObjectGroup(2));
  ZTR_OBJECT_GROUP* inner = ZTR_NewObjectGroup(1);
  ZTR_POLYLINE_OBJECT* line = ZTR_NewPolylineObject(3, false);
  line->points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
  ZTR_AppendObject(inner, line, nullptr);
  ZTR_AppendObject(outer.get(), inner, nullptr);
  check(ZTR_GetObjectGroupWireSize(outer.get()) == 4 + 24 + 69, "nested group size");
  check(ZTRipc_TransferObjectGroup(outer.get(), &id2) == 0, "transfer the nested group");

  // A mesh of 2 triangles and 4 vertices with colours: 9 + 24 + 96 + 64 = 193 bytes.
  GroupPtr meshes(ZTR_NewObjectGroup(1));
  ZTR_TRIANGULAR_MESH* mesh = ZTR_NewTriangularMesh(2, 4, true);
  mesh->vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  mesh->normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
  mesh->triangles = {{0, 1, 2}, {0, 2, 3}};
  mesh->colors = {color(1, 0, 0), color(0, 1, 0), color(0, 0, 1), color(1, 1, 0)};
  ZTR_AppendObject(meshes.get(), mesh, nullptr);
  check(ZTR_GetObjectGroupWireSize(meshes.get()) == 4 + 24 + 193, "mesh group size");
  check(ZTRipc_TransferObjectGroup(meshes.get(), &id3) == 0, "transfer the mesh group");

  // Group 1 gets one object of every kind the analyzer sends, with colours.
  GroupPtr all(ZTR_NewObjectGroup(8));
  const ZTR_OBJECT_COLOR red = color(1, 0, 0);
  ZTR_AppendObject(all.get(), ZTR_NewSphereObject({5, 5, 5}, 2.0f), &red);
  ZTR_SEGMENTS_OBJECT* segments = ZTR_NewSegmentsObject(2);
  segments->starts = {{0, 0, 0}, {1, 1, 1}};
  segments->ends = {{0, 0, 5}, {1, 1, 6}};
  ZTR_AppendObject(all.get(), segments, nullptr);
  ZTR_POLYLINE_OBJECT* coloured = ZTR_NewPolylineObject(3, true);
  coloured->points = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}};
  coloured->colors = {color(1, 0, 0), color(0, 1, 0), color(0, 0, 1)};
  ZTR_AppendObject(all.get(), coloured, nullptr);
  ZTR_TUBE_OBJECT* tube = ZTR_NewTubeObject(3, false);
  tube->points = {{0, 0, 0}, {0, 0, 2}, {0, 0, 4}};
  tube->radii = {0.5f, 0.5f, 0.25f};
  ZTR_AppendObject(all.get(), tube, nullptr, 0);
  ZTR_AppendObject(all.get(), ZTR_NewSegmentObject({0, 0, 0}, {3, 3, 3}, 1.0f), nullptr);
  check(ZTRipc_UpdateObjectGroup(all.get(), id1) == 0, "update group 1");

  // A group created and removed again.
  GroupPtr empty(ZTR_NewObjectGroup(8));
  check(ZTRipc_TransferObjectGroup(empty.get(), &id4) == 0, "transfer the empty group");
  check(ZTRipc_RemoveObjectGroup(id4) == 0, "remove the empty group");
  check(id1 == 1 && id2 == 2 && id3 == 3 && id4 == 4, "group IDs 1 to 4");

  check(ZTRipc_SetVoxelSize(2.5f) == 0, "voxel size");
  const int32_t origin[3] = {1, 2, 3}, size[3] = {4, 5, 6};
  check(ZTRipc_SetBox(origin, size) == 0, "box");
  ZTRipc_BROADCASTER* info = ZTRipc_NewBroadcaster();
  check(ZTRipc_GetBroadcastedInfo(info) == 0 && info->box_origin[2] == 3 && info->box_size[2] == 6,
        "broadcast shows the new box");
  uint8_t block[ZTRipc_PARAMETER_BYTES] = {};
  const float cursor[3] = {info->cursor[0] + 1.0f, info->cursor[1], info->cursor[2] - 1.0f};
  std::memcpy(block, cursor, sizeof cursor);
  check(ZTRipc_SetParameters(block) == 0 && ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_SET_CURSOR, true) == 0,
        "cursor request");
  check(ZTRipc_GetBroadcastedInfo(info) == 0 && info->cursor[0] == cursor[0] &&
            info->two_floats[0] == 2.5f,
        "broadcast shows the cursor and the voxel size");
  ZTRipc_DeleteBroadcaster(info);
  return 0;
}

// Connects and keeps the connection until the file `release` exists.
int scenario_hold(const std::string& release) {
  check(ZTRipc_SendConnectionRequest() == 0, "connect");
  for (int i = 0; i < 6000 && !std::filesystem::exists(release); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  check(ZTRipc_SendDisconnectionRequest() == 0, "disconnect");
  return 0;
}

// Run while another client is connected: every request fails and nothing is written.
int scenario_intruder() {
  ztr::ipc::SharedMemory board = ztr::ipc::SharedMemory::open(ZTRipc_GetRequestBoardName());
  uint8_t before[ZTRipc_REQUEST_BOARD_SIZE], after[ZTRipc_REQUEST_BOARD_SIZE];
  check(board && board.read(0, before, sizeof before) == 0, "read the request board");
  ZTRipc_SetPollLimit(1000);
  check(ZTRipc_SetVoxelSize(9.0f) == -1, "voxel size refused");
  check(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, true) == -1, "lock refused");
  check(ZTRipc_SendConnectionRequest() == -1, "connection refused");
  check(board.read(0, after, sizeof after) == 0 && std::memcmp(before, after, sizeof before) == 0,
        "request board untouched");
  return 0;
}

// Data boards that lie about their contents.
int scenario_bad_boards() {
  {
    ZTRipc_SetPollLimit(kRefusalPollLimit);  // the refusal shows as an acceptance that never comes
    // Declares 50 channels of 2x2x1 bytes but holds one.
    const int32_t words[6] = {2, 2, 1, 50, 0, 0};
    ztr::ipc::SharedMemory db = ztr::ipc::SharedMemory::create(ZTRipc_GetDataBoardName(), 28);
    check(db && db.write(0, words, sizeof words) == 0, "write the lying volume board");
    check(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS, true) == -1,
          "volume with too many channels refused");
  }
  {
    ZTRipc_SetPollLimit(ZTRipc_DEFAULT_POLL_LIMIT);
    check(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_CREATE_OBJECT_GROUP, false) == 0 &&
              ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_OBJECT_GROUP_CREATED) == 0,
          "create a group");
    uint8_t block[ZTRipc_PARAMETER_BYTES];
    ZTRipc_GetParameters(block);
    ZTRipc_ClearMessageBoard();
    // A group declaring 1000 objects in 8 bytes.
    const int32_t words[2] = {1000, 11};
    ztr::ipc::SharedMemory db = ztr::ipc::SharedMemory::create(ZTRipc_GetDataBoardName(), sizeof words);
    check(db && db.write(0, words, sizeof words) == 0, "write the lying group board");
    ZTRipc_SetParameters(block);
    check(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_DOWNLOAD_OBJECT_GROUP, false) == 0, "send 512");
    ZTRipc_SetPollLimit(kRefusalPollLimit);
    check(ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED) == -1,
          "lying group refused");
  }
  return 0;
}

// Leaves a data board and a locked connection behind by dying.
int scenario_die() {
  VolumePtr big = make_volume({64, 64, 16, 4}, {3, 3, 3, 3}, {0, 0, 0, 0}, 3);
  check(ZTRipc_UploadRawVolumeData(big.get()) == 0, "upload");
  check(ZTRipc_SendConnectionRequest() == 0, "connect");
  check(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, true) == 0, "lock");
  ::kill(::getpid(), SIGKILL);
  return 1;
}

// Returns volumes on a data board it keeps shrinking and growing again while the host reads
// it. The host must refuse or take each one, and stay alive to take a last, quiet one.
int scenario_shrink() {
  VolumePtr volume = make_volume({64, 64, 16, 2}, {ZTR_TYPE_INT16, ZTR_TYPE_FLOAT32}, {0, 0}, 9);
  const off_t size = off_t(ZTR_GetSerializedRawVolumeDataSize(volume.get()));
  ZTRipc_SetWaitTimeLimit(300);  // a refused board shows as an acceptance that never comes
  for (int attempt = 0; attempt < 12; ++attempt) {
    check(ZTRipc_UploadRawVolumeData(volume.get()) == 0, "upload " + std::to_string(attempt));
    const int fd = shm_open(("/" + std::string(ZTRipc_GetDataBoardName())).c_str(), O_RDWR, 0);
    check(fd >= 0, "open the own data board");
    std::atomic<bool> stop{false};
    std::thread shrinker([&] {
      for (int round = 0; !stop.load(std::memory_order_relaxed); ++round) {
        if (ftruncate(fd, round % 2 == 0 ? size / 3 : 20) != 0) break;
        if (ftruncate(fd, size) != 0) break;
      }
    });
    // A stale acceptance on the message board would answer for the host: each request here
    // starts from a cleared board.
    ZTRipc_ClearMessageBoard();
    if (ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS, true) == 0) {
      ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED);
    }
    stop = true;
    shrinker.join();
    ::close(fd);
    ZTRipc_CloseDataBoard();
    // Another request in between, so that the host takes the next upload as a new one.
    ZTRipc_ClearMessageBoard();
    check(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_OBJECT_TRANSFER_DONE, true) == 0,
          "host answers after attempt " + std::to_string(attempt));
  }
  ZTRipc_SetWaitTimeLimit(ZTRipc_DEFAULT_WAIT_TIME_LIMIT_MS);
  ZTRipc_ClearMessageBoard();
  check(ZTRipc_SendRawVolumeData(volume.get()) == 0, "a board left alone is taken");
  return 0;
}

// Waits for a message nobody sends, with neither a time nor a useful round limit: only the
// host's boards going away can end the wait.
int scenario_wait_gone() {
  ZTRipc_SetWaitTimeLimit(0);
  ZTRipc_SetPollLimit(INT_MAX);
  check(ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_OBJECT_GROUP_CREATED) == -1, "wait ends");
  check(ZTRipc_HostGone(), "the host is seen gone");
  check(ZTRipc_SendConnectionRequest() == -1, "no connection to a gone host");
  return 0;
}

// A live host that never sends the awaited message: the time limit ends the wait, however
// many rounds the poll limit would still allow.
int scenario_silent() {
  ZTRipc_SetWaitTimeLimit(300);
  ZTRipc_SetPollLimit(INT_MAX);
  const auto start = std::chrono::steady_clock::now();
  check(ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_OBJECT_GROUP_CREATED) == -1, "wait ends");
  const auto took = std::chrono::steady_clock::now() - start;
  check(took >= std::chrono::milliseconds(300) && took < std::chrono::seconds(3),
        "wait ends at its time limit");
  check(!ZTRipc_HostGone(), "the host is still there");
  check(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_OBJECT_TRANSFER_DONE, true) == 0, "host still answers");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ipc_test_client N SCENARIO\n");
    return 2;
  }
  const int32_t number = std::atoi(argv[1]);
  const std::string scenario = argv[2];
  const char* id = scenario == "intruder" ? "ztr-e2e-intruder" : "ztr-e2e-client";
  check(ZTRipc_InitializeClient(id, number) == 0, "initialise");
  int result = 2;
  if (scenario == "volumes") result = scenario_volumes();
  else if (scenario == "channels") result = scenario_channels();
  else if (scenario == "groups") result = scenario_groups();
  else if (scenario.rfind("hold:", 0) == 0) result = scenario_hold(scenario.substr(5));
  else if (scenario == "intruder") result = scenario_intruder();
  else if (scenario == "bad-boards") result = scenario_bad_boards();
  else if (scenario == "die") result = scenario_die();
  else if (scenario == "shrink") result = scenario_shrink();
  else if (scenario == "wait-gone") result = scenario_wait_gone();
  else if (scenario == "silent") result = scenario_silent();
  else std::fprintf(stderr, "ipc_test_client: unknown scenario %s\n", scenario.c_str());
  ZTRipc_CloseClient();
  return result;
}
