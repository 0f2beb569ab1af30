// The IPC client against an in-process host: session set-up, the request/message
// handshake and its poll limit, whole-volume and channel transfers, object groups.
#include "sdk/ipc/ipc_client.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "sdk/ipc/object_group.h"
#include "sdk/ipc/shared_memory.h"
#include "tests/sdk/ipc/fake_host.h"
#include "tests/support/console_capture.h"

using ztr::ipc::SharedMemory;
using ztr::ipc::testing::FakeHost;
using ztr::ipc::testing::open_descriptor_count;

namespace {

// Enough rounds for the answering thread, few enough that a refused wait ends quickly.
// A round is a board read of about a microsecond, and a wait that goes on sleeps, counting
// a round per microsecond slept: these limits are roughly 0.2 s, 0.05 s and 0.1 s long.
constexpr int32_t kAnsweredPollLimit = 200000;
constexpr int32_t kShortPollLimit = 50000;
// Room for a few answered waits, still short for the one that is never answered.
constexpr int32_t kModestPollLimit = 100000;

const char* const kClientId = "heLiXIA";

class IpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZTRipc_SetVerbose(false);
    ZTRipc_SetPollLimit(kAnsweredPollLimit);
  }
  void TearDown() override {
    ZTRipc_CloseClient();
    ZTRipc_SetVerbose(false);
  }
  // Host boards for this test's client number, and an initialised client.
  FakeHost& connect_host() {
    host_ = std::make_unique<FakeHost>();
    EXPECT_EQ(ZTRipc_InitializeClient(kClientId, host_->number()), 0);
    return *host_;
  }
  std::string data_board() const {
    return ZTRipc_ComposeBoardName(ZTRipc_DATA_BOARD_BASE, host_->number());
  }
  std::unique_ptr<FakeHost> host_;
};

// A 3x2x2 volume: channel 0 unsigned 8-bit 1..12, channel 1 float 0.5 * index.
VolumePtr sample_volume() {
  const VolumeHeader header{3, 2, 2, 2};
  const int32_t types[2] = {ZTR_TYPE_UINT8, ZTR_TYPE_FLOAT32};
  const int32_t attributes[2] = {0, 0};
  VolumePtr volume(ZTR_NewRawVolumeData(header, types, attributes));
  for (int i = 0; i < 12; ++i) {
    ZTR_ChannelData<uint8_t>(volume.get(), 0)[i] = static_cast<uint8_t>(i + 1);
    ZTR_ChannelData<float>(volume.get(), 1)[i] = 0.5f * static_cast<float>(i);
  }
  return volume;
}

void expect_same_volume(const RawVolumeData* a, const RawVolumeData* b) {
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(std::memcmp(a->header, b->header, sizeof(VolumeHeader)), 0);
  for (int32_t c = 0; c < a->header->channels; ++c) {
    EXPECT_EQ(a->types[c], b->types[c]);
    EXPECT_EQ(a->attributes[c], b->attributes[c]);
    EXPECT_EQ(std::memcmp(a->data[c], b->data[c], ZTR_GetChannelBytes(a, c)), 0) << "channel " << c;
  }
}

int32_t word(const std::vector<unsigned char>& block, int index) {
  int32_t v;
  std::memcpy(&v, block.data() + 4 * index, 4);
  return v;
}

using Requests = std::vector<int32_t>;

}  // namespace

// ---- session --------------------------------------------------------------------------------

using IpcSession = IpcTest;

TEST_F(IpcSession, FiveDigitClientNumberNamesEveryBoard) {
  FakeHost host;
  const int32_t number = host.number();
  ASSERT_EQ(ZTRipc_InitializeClient(kClientId, number), 0);
  const std::string suffix = "(" + std::to_string(number) + ")";
  EXPECT_EQ(ZTRipc_GetBroadcasterBoardName(), "ZTR_IPC_BB" + suffix);
  EXPECT_EQ(ZTRipc_GetMessageBoardName(), "ZTR_IPC_MB" + suffix);
  EXPECT_EQ(ZTRipc_GetRequestBoardName(), "ZTR_IPC_RB" + suffix);
  EXPECT_EQ(ZTRipc_GetDataBoardName(), "ZTR_IPC_DB" + suffix);
}

TEST_F(IpcSession, ThirtyTwoCharacterIdIsAcceptedAndThirtyThreeRefused) {
  FakeHost host;
  const std::string id32(32, 'a');
  EXPECT_EQ(ZTRipc_InitializeClient(id32.c_str(), host.number()), 0);
  ZTRipc_CloseClient();

  const int before = open_descriptor_count();
  const std::string id33(33, 'a');
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRipc_InitializeClient(id33.c_str(), host.number()), -1);
  EXPECT_EQ(console.finish(), "too long client ID\n");
  EXPECT_EQ(open_descriptor_count(), before);
}

TEST_F(IpcSession, WithoutAHostInitialisationFailsSilentlyAndLeavesNothingOpen) {
  const ztr::test::ClientNumber nobody = ztr::test::reserve_client_number();
  const int before = open_descriptor_count();
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRipc_InitializeClient(kClientId, nobody), -1);
  EXPECT_EQ(console.finish(), "");
  EXPECT_EQ(open_descriptor_count(), before);
}

TEST_F(IpcSession, MissingRequestBoardClosesTheBoardsAlreadyOpened) {
  FakeHost host(/*create_request_board=*/false);
  const int before = open_descriptor_count();
  EXPECT_EQ(ZTRipc_InitializeClient(kClientId, host.number()), -1);
  EXPECT_EQ(open_descriptor_count(), before);
}

TEST_F(IpcSession, ClosingTheClientReleasesItsBoards) {
  FakeHost host;
  const int before = open_descriptor_count();
  ASSERT_EQ(ZTRipc_InitializeClient(kClientId, host.number()), 0);
  EXPECT_EQ(open_descriptor_count(), before + 3);
  ZTRipc_CloseClient();
  EXPECT_EQ(open_descriptor_count(), before);
}

TEST_F(IpcSession, BroadcastedInfoIsCopiedFromItsOffsets) {
  FakeHost& host = connect_host();
  host.set_server(ZTRipc_SERVER_SERVING, "someone");
  const int32_t header[4] = {64, 32, 16, 3};
  host.write_broadcaster(40, header, sizeof header);
  const float cursor[3] = {1.5f, 2.5f, 3.5f};
  host.write_broadcaster(72, cursor, sizeof cursor);
  const int32_t box[6] = {1, 2, 3, 4, 5, 6};
  host.write_broadcaster(96, box, sizeof box);
  const float two[2] = {0.25f, 0.75f};
  host.write_broadcaster(144, two, sizeof two);
  const int32_t i160 = 160, i216 = 216, i220 = 220;
  host.write_broadcaster(160, &i160, 4);
  float triples[12];
  for (int i = 0; i < 12; ++i) triples[i] = static_cast<float>(i) + 0.125f;
  host.write_broadcaster(168, triples, sizeof triples);
  host.write_broadcaster(216, &i216, 4);
  host.write_broadcaster(220, &i220, 4);

  ZTRipc_BROADCASTER* b = ZTRipc_NewBroadcaster();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->status, -123);
  EXPECT_EQ(b->box_size[2], 1);
  ASSERT_EQ(ZTRipc_GetBroadcastedInfo(b), 0);
  EXPECT_EQ(b->status, 1);
  EXPECT_STREQ(b->client_id, "someone");
  EXPECT_EQ(b->volume_header.x, 64);
  EXPECT_EQ(b->volume_header.channels, 3);
  EXPECT_EQ(b->cursor[2], 3.5f);
  EXPECT_EQ(b->box_origin[0], 1);
  EXPECT_EQ(b->box_size[2], 6);
  EXPECT_EQ(b->two_floats[1], 0.75f);
  EXPECT_EQ(b->integer_160, 160);
  EXPECT_EQ(b->triples[1][0], 3.125f);
  EXPECT_EQ(b->triples[3][2], 11.125f);
  EXPECT_EQ(b->integer_216, 216);
  EXPECT_EQ(b->integer_220, 220);
  ZTRipc_DeleteBroadcaster(b);
  EXPECT_EQ(ZTRipc_GetBroadcastedInfo(nullptr), -1);
}

TEST_F(IpcSession, BroadcastedInfoFailsBeforeInitialisation) {
  ZTRipc_BROADCASTER* b = ZTRipc_NewBroadcaster();
  EXPECT_EQ(ZTRipc_GetBroadcastedInfo(b), -1);
  EXPECT_EQ(b->status, -123);  // unchanged
  ZTRipc_DeleteBroadcaster(b);
}

// ---- requests and messages ----------------------------------------------------------------

using IpcRequests = IpcTest;

TEST_F(IpcRequests, AnotherConnectedClientBlocksEveryRequestWithoutWriting) {
  FakeHost& host = connect_host();
  host.set_server(ZTRipc_SERVER_SERVING, "fKORVANsieve");
  host.fill_request_board(0xAB);
  ZTRipc_SetPollLimit(kShortPollLimit);
  const int32_t origin[3] = {0, 0, 0}, size[3] = {1, 1, 1};
  VolumePtr volume = sample_volume();
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, false), -1);
  EXPECT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, true), -1);
  EXPECT_EQ(ZTRipc_SendConnectionRequest(), -1);
  EXPECT_EQ(ZTRipc_SendDisconnectionRequest(), -1);
  EXPECT_EQ(ZTRipc_SetBox(origin, size), -1);
  EXPECT_EQ(ZTRipc_SetVoxelSize(1.0f), -1);
  EXPECT_EQ(ZTRipc_AppendSingleChannel(volume.get(), 0), -1);
  EXPECT_EQ(ZTRipc_ReceiveRawVolumeData(), nullptr);
  const std::string said = console.finish();
  EXPECT_EQ(said,
            "Missed <ZTRipc_MESSAGE_TYPE_REQUEST_ACCEPTED>\n"
            "ZTRipc_SendConnectionRequest: Error\n"
            "Failed <ZTRipc_SendConnectionRequest>. Exit now.\n");
  for (unsigned char byte : host.request_board_bytes()) ASSERT_EQ(byte, 0xAB);
}

TEST_F(IpcRequests, ClientIdMustMatchExactly) {
  FakeHost& host = connect_host();
  host.fill_request_board(0xAB);
  host.set_server(ZTRipc_SERVER_SERVING, "heLiXIA2");  // our ID is a prefix of it
  EXPECT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, false), -1);
  host.set_server(ZTRipc_SERVER_SERVING, "heLiX");     // a prefix of our ID
  EXPECT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, false), -1);
  host.set_server(7, kClientId);                        // neither free nor serving
  EXPECT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, false), -1);
  EXPECT_EQ(host.request_board_bytes()[0], 0xAB);
  host.set_server(ZTRipc_SERVER_SERVING, kClientId);
  EXPECT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, false), 0);
  EXPECT_EQ(host.request_type(), ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA);
}

TEST_F(IpcRequests, ThirtyTwoCharacterIdWithoutTerminatorCountsAsConnected) {
  FakeHost host;
  const std::string id32 = "0123456789abcdef0123456789ABCDEF";
  ASSERT_EQ(ZTRipc_InitializeClient(id32.c_str(), host.number()), 0);
  host.set_server(ZTRipc_SERVER_SERVING, id32);  // fills all 32 bytes, no NUL among them
  ASSERT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA, false), 0);
  const auto bytes = host.request_board_bytes();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 8), id32);
}

TEST_F(IpcRequests, RequestCarriesTypeIdAndParameterBlock) {
  FakeHost& host = connect_host();
  unsigned char block[ZTRipc_PARAMETER_BYTES];
  for (size_t i = 0; i < sizeof block; ++i) block[i] = static_cast<unsigned char>(i * 7);
  ASSERT_EQ(ZTRipc_SetParameters(block), 0);
  ASSERT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_SET_CURSOR, false), 0);
  const auto bytes = host.request_board_bytes();
  int32_t type;
  std::memcpy(&type, bytes.data(), 4);
  EXPECT_EQ(type, 464);
  EXPECT_STREQ(reinterpret_cast<const char*>(bytes.data()) + 8, kClientId);
  EXPECT_EQ(std::memcmp(bytes.data() + 48, block, sizeof block), 0);
  EXPECT_EQ(ZTRipc_SetParameters(nullptr), -1);
  EXPECT_EQ(ZTRipc_GetParameters(nullptr), -1);
}

TEST_F(IpcRequests, DisconnectingWhenTheServerIsFreeLeavesTheRequestBoardAlone) {
  FakeHost& host = connect_host();
  host.fill_request_board(0xCD);
  EXPECT_EQ(ZTRipc_SendDisconnectionRequest(), 0);
  for (unsigned char byte : host.request_board_bytes()) ASSERT_EQ(byte, 0xCD);
}

TEST_F(IpcRequests, HostThatNeverAnswersEndsEachWaitAtThePollLimit) {
  FakeHost& host = connect_host();
  ZTRipc_SetPollLimit(kShortPollLimit);
  EXPECT_EQ(ZTRipc_GetPollLimit(), kShortPollLimit);
  EXPECT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, true), -1);
  EXPECT_EQ(host.request_type(), ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA);
  EXPECT_EQ(ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_UPLOAD_COMPLETED), -1);
  // The failed connection is followed by a disconnection request.
  EXPECT_EQ(ZTRipc_SendConnectionRequest(), -1);
  EXPECT_EQ(host.request_type(), ZTRipc_REQUEST_TYPE_DISCONNECTION);
  host.set_server(ZTRipc_SERVER_SERVING, kClientId);
  EXPECT_EQ(ZTRipc_SendDisconnectionRequest(), -1);
  EXPECT_EQ(host.request_type(), ZTRipc_REQUEST_TYPE_DISCONNECTION);
}

TEST_F(IpcRequests, AnAcceptanceOfAnotherRequestDoesNotCount) {
  FakeHost& host = connect_host();
  ZTRipc_SetPollLimit(kShortPollLimit);
  host.post_message(ZTRipc_MESSAGE_TYPE_REQUEST_ACCEPTED, ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA);
  EXPECT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA, true), -1);
  EXPECT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, true), 0);
}

TEST_F(IpcRequests, MessageParametersArriveInTheParameterBuffer) {
  FakeHost& host = connect_host();
  ZTRipc_SetPollLimit(kShortPollLimit);
  unsigned char block[ZTRipc_PARAMETER_BYTES];
  for (size_t i = 0; i < sizeof block; ++i) block[i] = static_cast<unsigned char>(255 - i);
  host.post_message(ZTRipc_MESSAGE_TYPE_DATA_UPLOAD_COMPLETED, ZTRipc_NO_VALUE, block);
  EXPECT_EQ(ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED), -1);
  ASSERT_EQ(ZTRipc_WaitForMessage(ZTRipc_MESSAGE_TYPE_DATA_UPLOAD_COMPLETED), 0);
  unsigned char got[ZTRipc_PARAMETER_BYTES] = {};
  ASSERT_EQ(ZTRipc_GetParameters(got), 0);
  EXPECT_EQ(std::memcmp(got, block, sizeof block), 0);
}

TEST_F(IpcRequests, ClearingTheMessageBoardWritesTheNoValueMarks) {
  FakeHost& host = connect_host();
  host.post_message(ZTRipc_MESSAGE_TYPE_DATA_OBJECT_GROUP_CREATED, 5);
  ASSERT_EQ(ZTRipc_ClearMessageBoard(), 0);
  SharedMemory board = SharedMemory::open(host.board_name(ZTRipc_MESSAGE_BOARD_BASE));
  unsigned char bytes[44];
  ASSERT_EQ(board.read(0, bytes, sizeof bytes), 0);
  int32_t type, accepted;
  std::memcpy(&type, bytes, 4);
  std::memcpy(&accepted, bytes + 40, 4);
  EXPECT_EQ(type, -123);
  EXPECT_EQ(accepted, -123);
  EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 8), "   ");
}

TEST_F(IpcRequests, AnalyzerModeShowsActivityWhileWaitingAndPluginModeIsSilent) {
  FakeHost& host = connect_host();
  host.start();
  ztr::test::ConsoleCapture console;
  ASSERT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA, true), 0);
  EXPECT_EQ(console.finish(), "");

  ZTRipc_SetVerbose(true);
  ztr::test::ConsoleCapture console2;
  ASSERT_EQ(ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA, true), 0);
  const std::string said = console2.finish();
  ASSERT_GE(said.size(), 2u);
  EXPECT_EQ(said[0], ' ');
  EXPECT_EQ(said.find_first_not_of('\r', 1), std::string::npos);
  host.stop();
}

TEST_F(IpcRequests, AnalyzerModeReportsABusyServer) {
  FakeHost& host = connect_host();
  host.set_server(ZTRipc_SERVER_SERVING, "other");
  ZTRipc_SetVerbose(true);
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRipc_SendConnectionRequest(), -1);
  EXPECT_EQ(console.finish(), ">>>>>> Server NOT free?\n");
}

TEST_F(IpcRequests, ConnectionAndDisconnectionFollowTheServerStatus) {
  FakeHost& host = connect_host();
  host.start();
  ASSERT_EQ(ZTRipc_SendConnectionRequest(), 0);
  EXPECT_EQ(host.status(), ZTRipc_SERVER_SERVING);
  ASSERT_EQ(ZTRipc_SendDisconnectionRequest(), 0);
  EXPECT_EQ(host.status(), ZTRipc_SERVER_FREE);
  host.stop();
  EXPECT_EQ(host.requests, (Requests{211, 212}));
}

// ---- whole volumes -------------------------------------------------------------------------

using IpcVolumeExchange = IpcTest;

TEST_F(IpcVolumeExchange, ReceivedVolumeEqualsTheHostsVolume) {
  FakeHost& host = connect_host();
  host.volume = sample_volume();
  host.start();
  ztr::test::ConsoleCapture console;
  VolumePtr received(ZTRipc_ReceiveRawVolumeData());
  EXPECT_EQ(console.finish(), "");
  host.stop();
  expect_same_volume(received.get(), host.volume.get());
  EXPECT_EQ(host.requests, (Requests{211, 234, 221, 233, 235, 212}));
  EXPECT_EQ(host.status(), ZTRipc_SERVER_FREE);
  EXPECT_EQ(ZTRipc_GetPollLimit(), ZTRipc_LONG_POLL_LIMIT);
  EXPECT_FALSE(SharedMemory::exists(data_board()));
}

TEST_F(IpcVolumeExchange, BoardShorterThanItsVolumeIsRefusedAndTheServerFreed) {
  FakeHost& host = connect_host();
  host.volume = sample_volume();
  host.truncate_upload = true;
  host.start();
  ztr::test::ConsoleCapture console;
  VolumePtr received(ZTRipc_ReceiveRawVolumeData());
  EXPECT_EQ(console.finish(),
            "Failed <ZTRipc_DownloadRawVolumeData>. Exit now.\n");
  host.stop();
  EXPECT_EQ(received, nullptr);
  EXPECT_EQ(host.requests, (Requests{211, 234, 221, 212}));
  EXPECT_EQ(host.status(), ZTRipc_SERVER_FREE);
}

TEST_F(IpcVolumeExchange, SentVolumeArrivesWholeAndTheDataBoardIsRemoved) {
  FakeHost& host = connect_host();
  host.start();
  VolumePtr volume = sample_volume();
  ASSERT_EQ(ZTRipc_SendRawVolumeData(volume.get()), 0);
  host.stop();
  expect_same_volume(host.received_volume.get(), volume.get());
  EXPECT_EQ(host.requests, (Requests{222}));
  EXPECT_FALSE(SharedMemory::exists(data_board()));
}

TEST_F(IpcVolumeExchange, OneChannel2x2x2ByteVolumeOccupies32Bytes) {
  connect_host();
  const int32_t dims[3] = {2, 2, 2};
  VolumePtr volume(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, 0));
  ASSERT_EQ(ZTRipc_UploadRawVolumeData(volume.get()), 0);
  EXPECT_EQ(SharedMemory::open(data_board()).size(), 32);
  VolumePtr back(ZTRipc_DownloadRawVolumeData());
  expect_same_volume(back.get(), volume.get());
  EXPECT_EQ(ZTRipc_CloseDataBoard(), 0);
  EXPECT_FALSE(SharedMemory::exists(data_board()));
}

TEST_F(IpcVolumeExchange, DataBoardDeclaringMoreThanItHoldsIsRefused) {
  connect_host();
  // Two 2x2x2 byte channels are declared; the board ends after the attributes.
  const int32_t declared[8] = {2, 2, 2, 2, 0, 0, 0, 0};
  SharedMemory board = SharedMemory::create(data_board(), sizeof declared);
  board.write(0, declared, sizeof declared);
  EXPECT_EQ(ZTRipc_DownloadRawVolumeData(), nullptr);
  board.close();

  // 4097 channels are refused whatever the board holds.
  const int32_t too_many[4] = {1, 1, 1, 4097};
  std::vector<unsigned char> bytes(16 + 4097 * 9, 0);
  std::memcpy(bytes.data(), too_many, sizeof too_many);
  board = SharedMemory::create(data_board(), bytes.size());
  board.write(0, bytes.data(), bytes.size());
  EXPECT_EQ(ZTRipc_DownloadRawVolumeData(), nullptr);
}

TEST_F(IpcVolumeExchange, DataBoardShrunkByAnotherProcessDuringDownloadsIsRefusedNotFatal) {
  connect_host();
  const VolumeHeader header{64, 64, 16, 1};
  const int32_t type = ZTR_TYPE_INT16, attribute = 0;
  VolumePtr volume(ZTR_NewRawVolumeData(header, &type, &attribute));
  ASSERT_EQ(ZTRipc_UploadRawVolumeData(volume.get()), 0);
  const off_t size = off_t(ZTR_GetSerializedRawVolumeDataSize(volume.get()));
  // A hostile peer process that keeps shrinking the board and growing it back.
  const pid_t peer = fork();
  ASSERT_GE(peer, 0);
  if (peer == 0) {
    const int fd = shm_open(("/" + data_board()).c_str(), O_RDWR, 0);
    for (long round = 0; fd >= 0; ++round) {
      if (ftruncate(fd, round % 2 == 0 ? 24 : size / 2) != 0 || ftruncate(fd, size) != 0) break;
    }
    _exit(0);
  }
  int refused = 0, whole = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (refused < 50 && std::chrono::steady_clock::now() < end) {
    VolumePtr back(ZTRipc_DownloadRawVolumeData());
    if (!back) {
      ++refused;
      continue;
    }
    ++whole;  // the peer may have zeroed the voxels, never the shape
    EXPECT_EQ(std::memcmp(back->header, &header, sizeof header), 0);
  }
  kill(peer, SIGKILL);
  int status = 0;
  waitpid(peer, &status, 0);
  // The peer did get in the way (a board it shrank was refused), and the reader lived.
  EXPECT_GT(refused, 0) << whole << " whole";
  ZTRipc_CloseDataBoard();
}

TEST_F(IpcVolumeExchange, MissingDataBoardGivesNoVolume) {
  connect_host();
  EXPECT_EQ(ZTRipc_DownloadRawVolumeData(), nullptr);
}

TEST_F(IpcVolumeExchange, NullVolumeIsNotUploaded) {
  connect_host();
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRipc_UploadRawVolumeData(nullptr), -1);
  EXPECT_EQ(ZTRipc_SendRawVolumeData(nullptr), -1);
  EXPECT_EQ(console.finish(),
            "volume to be uploaded NULL\nvolume to be uploaded NULL\n");
  EXPECT_FALSE(SharedMemory::exists(data_board()));
}

TEST_F(IpcVolumeExchange, LeftoverDataBoardIsReplacedAndOnlyTheAnalyzerSaysSo) {
  connect_host();
  VolumePtr volume = sample_volume();
  ASSERT_EQ(ZTRipc_UploadRawVolumeData(volume.get()), 0);
  ztr::test::ConsoleCapture console;
  ASSERT_EQ(ZTRipc_UploadRawVolumeData(volume.get()), 0);
  EXPECT_EQ(console.finish(), "");
  ZTRipc_SetVerbose(true);
  const int32_t dims[3] = {2, 2, 2};
  VolumePtr small(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, 0));
  ztr::test::ConsoleCapture console2;
  ASSERT_EQ(ZTRipc_UploadRawVolumeData(small.get()), 0);
  EXPECT_EQ(console2.finish(),
            "ZTRipc_UploadRawVolumeData Err: FileMapping already exists. Force to be closed.\n");
  EXPECT_EQ(SharedMemory::open(data_board()).size(), 32);
}

// ---- channels ---------------------------------------------------------------------------------

using IpcChannelTransfer = IpcTest;

TEST_F(IpcChannelTransfer, AppendedChannelReachesTheHostInsideAFullBracket) {
  FakeHost& host = connect_host();
  host.start();
  VolumePtr volume = sample_volume();
  ztr::test::ConsoleCapture console;
  ASSERT_EQ(ZTRipc_AppendSingleChannel(volume.get(), 1), 0);
  EXPECT_EQ(console.finish(), "");
  host.stop();
  EXPECT_EQ(host.requests, (Requests{211, 234, 236, 235, 212}));
  ASSERT_EQ(host.received_channels.size(), 1u);
  const RawVolumeData* channel = host.received_channels[0].get();
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(channel->types[0], ZTR_TYPE_FLOAT32);
  EXPECT_EQ(std::memcmp(channel->data[0], volume->data[1], 48), 0);
  EXPECT_FALSE(SharedMemory::exists(data_board()));
  EXPECT_EQ(host.status(), ZTRipc_SERVER_FREE);
}

TEST_F(IpcChannelTransfer, MissedUnlockStillReportsSuccessAfterDisconnecting) {
  FakeHost& host = connect_host();
  host.ignored = {ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA};
  host.start();
  ZTRipc_SetPollLimit(kModestPollLimit);
  VolumePtr volume = sample_volume();
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRipc_AppendSingleChannel(volume.get(), 0), 0);
  EXPECT_EQ(console.finish(),
            "ZTRipc_SendRequest(ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA): Error\n");
  host.stop();
  EXPECT_EQ(host.requests, (Requests{211, 234, 236, 235, 212}));
  EXPECT_EQ(host.status(), ZTRipc_SERVER_FREE);
  EXPECT_EQ(host.received_channels.size(), 1u);
}

TEST_F(IpcChannelTransfer, ChannelOutOfRangeIsRefusedAndTheServerFreed) {
  FakeHost& host = connect_host();
  host.start();
  VolumePtr volume = sample_volume();
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRipc_AppendSingleChannel(volume.get(), 2), -1);
  EXPECT_EQ(console.finish(),
            "ZTRipc_UploadSingleChannelOfRawVolumeData: Error\n");
  host.stop();
  EXPECT_EQ(host.requests, (Requests{211, 234, 212}));
  EXPECT_TRUE(host.received_channels.empty());
}

TEST_F(IpcChannelTransfer, UploadWithChannelEqualToTheCountCreatesNoBoard) {
  connect_host();
  VolumePtr volume = sample_volume();
  EXPECT_EQ(ZTRipc_UploadSingleChannelOfRawVolumeData(volume.get(), 2), -1);
  EXPECT_FALSE(SharedMemory::exists(data_board()));
  EXPECT_EQ(ZTRipc_UploadSingleChannelOfRawVolumeData(nullptr, 0), -1);
  EXPECT_FALSE(SharedMemory::exists(data_board()));
}

TEST_F(IpcChannelTransfer, Unsigned16BitChannelOf4x4x2Occupies84Bytes) {
  connect_host();
  const int32_t dims[3] = {4, 4, 2};
  VolumePtr volume(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT16, 0));
  ASSERT_EQ(ZTRipc_UploadSingleChannelOfRawVolumeData(volume.get(), 0), 0);
  EXPECT_EQ(SharedMemory::open(data_board()).size(), 84);
}

// ---- object groups, voxel size, box ---------------------------------------------------------

using IpcObjectGroups = IpcTest;

TEST_F(IpcObjectGroups, TransferReturnsTheHostsIdAndUpdateReusesIt) {
  FakeHost& host = connect_host();
  host.start();
  ZTR_OBJECT_GROUP* group = ZTR_NewObjectGroup(8);
  int32_t id = -1;
  ASSERT_EQ(ZTRipc_TransferObjectGroup(group, &id), 0);
  EXPECT_EQ(id, 7);
  ZTR_AppendObject(group, ZTR_NewSphereObject({1, 2, 3}, 2.5f), nullptr);
  ASSERT_EQ(ZTRipc_UpdateObjectGroup(group, id), 0);
  host.stop();
  EXPECT_EQ(host.requests, (Requests{511, 512, 251, 512, 251}));
  ASSERT_EQ(host.received_groups.size(), 2u);
  EXPECT_EQ(host.received_groups[0].first, 7);
  EXPECT_EQ(host.received_groups[0].second.size(), 4u);  // an empty group
  EXPECT_EQ(host.received_groups[1].first, 7);
  const auto& wire = host.received_groups[1].second;
  ASSERT_EQ(wire.size(), 52u);
  ZTR_OBJECT_GROUP* back = ZTR_ReadObjectGroup(wire.data(), wire.size());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(static_cast<const ZTR_SPHERE_OBJECT*>(back->objects[0])->radius, 2.5f);
  ZTR_DeleteObjectGroup(back);
  ZTR_DeleteObjectGroup(group);
  EXPECT_FALSE(SharedMemory::exists(data_board()));
}

TEST_F(IpcObjectGroups, MissedCreationMessageFailsTheTransfer) {
  FakeHost& host = connect_host();
  host.ignored = {ZTRipc_REQUEST_TYPE_CREATE_OBJECT_GROUP};
  host.start();
  ZTRipc_SetPollLimit(kShortPollLimit);
  ZTR_OBJECT_GROUP* group = ZTR_NewObjectGroup(8);
  int32_t id = -1;
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRipc_TransferObjectGroup(group, &id), -1);
  EXPECT_EQ(console.finish(),
            "Missed <ZTRipc_MESSAGE_TYPE_DATA_OBJECT_GROUP_CREATED>\n");
  EXPECT_EQ(id, -1);
  host.stop();
  ZTR_DeleteObjectGroup(group);
}

TEST_F(IpcObjectGroups, MissedDownloadMessageLeavesTheBoardToTheNextUpload) {
  FakeHost& host = connect_host();
  host.ignored = {ZTRipc_REQUEST_TYPE_DOWNLOAD_OBJECT_GROUP};
  host.start();
  ZTRipc_SetPollLimit(kShortPollLimit);
  ZTR_OBJECT_GROUP* group = ZTR_NewObjectGroup(1);
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRipc_UpdateObjectGroup(group, 3), -1);
  EXPECT_EQ(ZTRipc_UploadObjectGroup(group), 0);
  EXPECT_EQ(console.finish(),
            "Missed <ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED>\n"
            "Err: FileMapping already exists. Force to be closed.\n");
  host.stop();
  EXPECT_EQ(host.requests, (Requests{512}));
  EXPECT_EQ(word(host.parameters_seen[0], 0), 3);
  ZTR_DeleteObjectGroup(group);
}

TEST_F(IpcObjectGroups, NullGroupIsNeitherUploadedNorAnnounced) {
  FakeHost& host = connect_host();
  host.start();
  int32_t id = -1;
  EXPECT_EQ(ZTRipc_UpdateObjectGroup(nullptr, 3), -1);
  EXPECT_EQ(ZTRipc_TransferObjectGroup(nullptr, &id), -1);
  host.stop();
  EXPECT_TRUE(host.requests.empty());
}

TEST_F(IpcObjectGroups, RemovalSendsTheIdAndClearsTheMessageBoard) {
  FakeHost& host = connect_host();
  host.start();
  EXPECT_EQ(ZTRipc_RemoveObjectGroup(12), 0);
  host.stop();
  EXPECT_EQ(host.requests, (Requests{514}));
  EXPECT_EQ(word(host.parameters_seen[0], 0), 12);
  EXPECT_EQ(host.message_type(), ZTRipc_NO_VALUE);
}

TEST_F(IpcObjectGroups, VoxelSizeAndBoxTravelInTheParameterWords) {
  FakeHost& host = connect_host();
  host.start();
  EXPECT_EQ(ZTRipc_SetVoxelSize(1.75f), 0);
  ZTR_BOX box;
  box.origin[0] = 4;
  box.origin[1] = 5;
  box.origin[2] = 6;
  box.size[0] = 10;
  box.size[1] = 11;
  box.size[2] = 12;
  EXPECT_EQ(ZTRipc_SetBox(box), 0);
  host.stop();
  EXPECT_EQ(host.requests, (Requests{322, 465}));
  EXPECT_EQ(std::bit_cast<float>(word(host.parameters_seen[0], 0)), 1.75f);
  const std::vector<int32_t> words = {word(host.parameters_seen[1], 0), word(host.parameters_seen[1], 1),
                                      word(host.parameters_seen[1], 2), word(host.parameters_seen[1], 3),
                                      word(host.parameters_seen[1], 4), word(host.parameters_seen[1], 5)};
  EXPECT_EQ(words, (std::vector<int32_t>{4, 5, 6, 10, 11, 12}));
}

TEST_F(IpcObjectGroups, RefusedVoxelSizeIsReported) {
  FakeHost& host = connect_host();
  host.ignored = {ZTRipc_REQUEST_TYPE_SET_VOXEL_SIZE};
  host.start();
  ZTRipc_SetPollLimit(kShortPollLimit);
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRipc_SetVoxelSize(2.0f), -1);
  EXPECT_EQ(console.finish(),
            "Missed <ZTRipc_MESSAGE_TYPE_REQUEST_ACCEPTED>\n");
  host.stop();
}

// ---- launcher -----------------------------------------------------------------------------

TEST(IpcLauncher, StartsTheProgramWithNumberAndArgumentAndSaysTheCommand) {
  pid_t pid = 0;
  ::testing::internal::CaptureStdout();
  ztr::test::ConsoleCapture console;
  ASSERT_EQ(ZTRipc_LaunchPlugin("/bin/echo", 3, "2.5", &pid), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(console.finish(), "command: /bin/echo 3 2.5\n");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "3 2.5\n");
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(IpcLauncher, ChildRunsInItsOwnProcessGroupWithoutAnArgument) {
  pid_t pid = 0;
  ztr::test::ConsoleCapture console;
  ASSERT_EQ(ZTRipc_LaunchPlugin("sleep", 30, nullptr, &pid), 0);
  EXPECT_EQ(console.finish(), "command: sleep 30\n");
  EXPECT_EQ(getpgid(pid), pid);
  EXPECT_NE(getpgid(pid), getpgid(0));
  kill(pid, SIGKILL);
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
}

TEST(IpcLauncher, MissingProgramIsReportedAsAFailure) {
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(ZTRipc_LaunchPlugin("/nonexistent/plugin", 1, nullptr), -1);
  EXPECT_EQ(console.finish(), "command: /nonexistent/plugin 1\n");
}
