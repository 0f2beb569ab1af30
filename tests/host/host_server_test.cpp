// The host's board handling driven by a scripted client in the same process: requests take
// effect once however often they are written, refusals post nothing, second messages wait.
#include "host/host_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "sdk/ipc/board_layout.h"
#include "sdk/ipc/ipc_client.h"
#include "sdk/ipc/shared_memory.h"
#include "tests/support/client_number.h"

namespace {

using ztr::host::HostServer;
using ztr::host::HostState;
using ztr::ipc::SharedMemory;

// Writes and reads the boards the way a client does, byte for byte.
class ScriptedClient {
 public:
  explicit ScriptedClient(int32_t number, std::string id = "scripted")
      : id_(std::move(id)),
        request_(SharedMemory::open(ZTRipc_ComposeBoardName(ZTRipc_REQUEST_BOARD_BASE, number))),
        message_(SharedMemory::open(ZTRipc_ComposeBoardName(ZTRipc_MESSAGE_BOARD_BASE, number))),
        broadcaster_(SharedMemory::open(ZTRipc_ComposeBoardName(ZTRipc_BROADCASTER_BOARD_BASE, number))),
        data_name_(ZTRipc_ComposeBoardName(ZTRipc_DATA_BOARD_BASE, number)) {}

  bool valid() const { return request_ && message_ && broadcaster_; }

  void write(int32_t type, const void* parameters = nullptr, size_t bytes = 0) {
    uint8_t block[ZTRipc_PARAMETER_BYTES] = {};
    if (parameters) std::memcpy(block, parameters, bytes);
    char id[ZTRipc_RB_CLIENT_ID_BYTES] = {};
    std::strncpy(id, id_.c_str(), sizeof id - 1);
    request_.write(ZTRipc_RB_TYPE, &type, 4);
    request_.write(ZTRipc_RB_CLIENT_ID, id, sizeof id);
    request_.write(ZTRipc_RB_PARAMETERS, block, sizeof block);
  }
  int32_t request_type() const { return read_int(request_, 0); }
  int32_t message_type() const { return read_int(message_, ZTRipc_MB_TYPE); }
  int32_t accepted() const { return read_int(message_, ZTRipc_MB_ACCEPTED_REQUEST); }
  int32_t message_word(int i) const { return read_int(message_, ZTRipc_MB_PARAMETERS + 4 * i); }
  int32_t status() const { return read_int(broadcaster_, ZTRipc_BB_STATUS); }
  void clear_messages() {
    const int32_t none = ZTRipc_NO_VALUE;
    message_.write(ZTRipc_MB_TYPE, &none, 4);
    message_.write(ZTRipc_MB_TEXT, "   ", 4);
    message_.write(ZTRipc_MB_ACCEPTED_REQUEST, &none, 4);
  }
  SharedMemory make_data_board(const void* bytes, size_t size) {
    SharedMemory board = SharedMemory::create(data_name_, size);
    board.write(0, bytes, size);
    return board;
  }

 private:
  static int32_t read_int(const SharedMemory& board, size_t offset) {
    int32_t value = ZTRipc_NO_VALUE;
    board.read(offset, &value, 4);
    return value;
  }
  std::string id_;
  SharedMemory request_, message_, broadcaster_;
  std::string data_name_;
};

class HostServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    claim_ = ztr::test::reserve_client_number();
    ASSERT_NE(claim_.value(), 0) << "no free client number";
    number_ = claim_.value();
    HostState state;
    const int32_t dims[3] = {2, 2, 2};
    state.volume.reset(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, 0));
    server_ = std::make_unique<HostServer>(number_, std::move(state));
    server_->set_settle_time(std::chrono::microseconds(0));
    server_->set_follow_up_quiet(std::chrono::microseconds(2000));
    server_->set_repeat_settle_time(std::chrono::microseconds(0));
    client_ = std::make_unique<ScriptedClient>(number_);
  }
  void TearDown() override {
    client_.reset();
    server_.reset();
  }
  // A new request is acted on once it reads the same twice.
  void polls(int n) {
    for (int i = 0; i < n; ++i) server_->poll();
  }

  ztr::test::ClientNumber claim_;
  int32_t number_ = 0;
  std::unique_ptr<HostServer> server_;
  std::unique_ptr<ScriptedClient> client_;
};

TEST_F(HostServerTest, BoardsExistWhileServingAndAreGoneAfterwards) {
  ASSERT_TRUE(server_->valid());
  ASSERT_TRUE(client_->valid());
  EXPECT_EQ(client_->status(), 0);
  EXPECT_EQ(client_->message_type(), ZTRipc_NO_VALUE);
  client_.reset();
  server_.reset();
  for (const char* base : {"ZTR_IPC_BB", "ZTR_IPC_MB", "ZTR_IPC_RB", "ZTR_IPC_DB"}) {
    EXPECT_FALSE(SharedMemory::exists(ZTRipc_ComposeBoardName(base, number_))) << base;
  }
}

TEST_F(HostServerTest, BoardsShrunkByAClientCarryNoRequestAndNeverFault) {
  for (const char* base : {"ZTR_IPC_BB", "ZTR_IPC_MB", "ZTR_IPC_RB"}) {
    const int fd = shm_open(("/" + ZTRipc_ComposeBoardName(base, number_)).c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 0), 0);
    ::close(fd);
  }
  for (int round = 0; round < 10; ++round) EXPECT_FALSE(server_->poll());
  server_->publish();
  // The host does not grow them back behind the client's back.
  EXPECT_EQ(SharedMemory::open(ZTRipc_ComposeBoardName("ZTR_IPC_BB", number_)).size(), 0);
  EXPECT_EQ(client_->status(), ZTRipc_NO_VALUE);
}

TEST_F(HostServerTest, ARequestWrittenManyTimesTakesEffectOnce) {
  const int32_t box[6] = {1, 2, 3, 4, 5, 6};
  for (int i = 0; i < 20; ++i) {
    client_->write(ZTRipc_REQUEST_TYPE_SET_BOX, box, sizeof box);
    polls(2);
  }
  EXPECT_EQ(server_->state().box_requests.size(), 1u);
  EXPECT_EQ(server_->state().answered[ZTRipc_REQUEST_TYPE_SET_BOX], 1);
  EXPECT_EQ(client_->message_type(), ZTRipc_MESSAGE_TYPE_REQUEST_ACCEPTED);
  EXPECT_EQ(client_->accepted(), ZTRipc_REQUEST_TYPE_SET_BOX);
  EXPECT_EQ(server_->state().box_size[2], 6);

  // The same type with other values is a new request.
  const int32_t other[6] = {0, 0, 0, 1, 1, 1};
  client_->write(ZTRipc_REQUEST_TYPE_SET_BOX, other, sizeof other);
  polls(3);
  EXPECT_EQ(server_->state().box_requests.size(), 2u);
  EXPECT_EQ(server_->state().box_size[0], 1);
}

TEST_F(HostServerTest, ARequestStillBeingWrittenWaitsUntilItReadsTheSameTwice) {
  const float first = 3.0f, second = 4.0f;
  client_->write(ZTRipc_REQUEST_TYPE_SET_VOXEL_SIZE, &first, 4);
  polls(1);
  client_->write(ZTRipc_REQUEST_TYPE_SET_VOXEL_SIZE, &second, 4);
  polls(1);
  EXPECT_TRUE(server_->state().voxel_size_requests.empty());
  polls(1);
  ASSERT_EQ(server_->state().voxel_size_requests.size(), 1u);
  EXPECT_EQ(server_->state().voxel_size_requests[0], 4.0f);
}

TEST_F(HostServerTest, RepeatedRequestAfterTheClientClearedTheBoardIsAcceptedAgainWithoutSecondEffect) {
  const int32_t id = 7;
  client_->write(ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP, &id, 4);
  polls(3);
  EXPECT_EQ(client_->accepted(), ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP);
  client_->clear_messages();
  client_->write(ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP, &id, 4);
  polls(3);
  EXPECT_EQ(client_->message_type(), ZTRipc_MESSAGE_TYPE_REQUEST_ACCEPTED);
  EXPECT_EQ(client_->accepted(), ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP);
  EXPECT_EQ(server_->state().answered[ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP], 1);
}

TEST_F(HostServerTest, AnAnsweredRequestLeftOnTheBoardIsNotAnsweredAgainForTheNextOne) {
  // A client removes two groups back to back: after the first acceptance it clears the
  // message board, and the first request stays on the request board until it writes the
  // second. An answer to that stale request would be taken as the second one's.
  server_->set_repeat_settle_time(std::chrono::seconds(60));
  for (int i = 0; i < 2; ++i) {
    client_->write(ZTRipc_REQUEST_TYPE_CREATE_OBJECT_GROUP);
    polls(3);
    client_->clear_messages();
  }
  const int32_t first = 1, second = 2;
  client_->write(ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP, &first, 4);
  polls(3);
  EXPECT_EQ(client_->accepted(), ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP);
  client_->clear_messages();
  polls(20);
  EXPECT_EQ(client_->message_type(), ZTRipc_NO_VALUE);
  client_->write(ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP, &second, 4);
  polls(3);
  EXPECT_EQ(client_->accepted(), ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP);
  EXPECT_TRUE(server_->state().groups.empty());
  EXPECT_EQ(server_->state().answered[ZTRipc_REQUEST_TYPE_REMOVE_OBJECT_GROUP], 2);
}

TEST_F(HostServerTest, RequestsOfAnotherClientAreRefusedWhileOneIsConnected) {
  client_->write(ZTRipc_REQUEST_TYPE_CONNECTION);
  polls(3);
  EXPECT_EQ(client_->status(), 1);
  EXPECT_EQ(client_->accepted(), ZTRipc_REQUEST_TYPE_CONNECTION);
  client_->clear_messages();
  ScriptedClient other(number_, "other");
  const float size = 2.0f;
  other.write(ZTRipc_REQUEST_TYPE_SET_VOXEL_SIZE, &size, 4);
  polls(3);
  EXPECT_TRUE(server_->state().voxel_size_requests.empty());
  EXPECT_EQ(client_->message_type(), ZTRipc_NO_VALUE);
  ASSERT_EQ(server_->state().refusals.size(), 1u);
  EXPECT_NE(server_->state().refusals[0].find("'other'"), std::string::npos);
  client_->write(ZTRipc_REQUEST_TYPE_DISCONNECTION);
  polls(3);
  EXPECT_EQ(client_->status(), 0);
  // A client that waits for an acceptance of its disconnection gets one.
  EXPECT_EQ(client_->accepted(), ZTRipc_REQUEST_TYPE_DISCONNECTION);
}

TEST_F(HostServerTest, CreatedGroupsGetIncreasingIdsAndUnknownIdsAreRefused) {
  client_->write(ZTRipc_REQUEST_TYPE_CREATE_OBJECT_GROUP);
  polls(3);
  EXPECT_EQ(client_->message_type(), ZTRipc_MESSAGE_TYPE_DATA_OBJECT_GROUP_CREATED);
  EXPECT_EQ(client_->message_word(0), 1);
  // A request answered by its own message is taken off the board before the answer.
  EXPECT_EQ(client_->request_type(), ZTRipc_NO_VALUE);
  client_->clear_messages();
  client_->write(ZTRipc_REQUEST_TYPE_CREATE_OBJECT_GROUP);
  polls(3);
  EXPECT_EQ(client_->message_word(0), 2);
  client_->clear_messages();

  const int32_t group[7] = {1, ZTR_OBJECT_TYPE_SPHERE, 1, 0, 0, 0, 0};  // truncated sphere
  SharedMemory board = client_->make_data_board(group, sizeof group);
  const int32_t id = 2, unknown = 9;
  client_->write(ZTRipc_REQUEST_TYPE_DOWNLOAD_OBJECT_GROUP, &unknown, 4);
  polls(3);
  client_->write(ZTRipc_REQUEST_TYPE_DOWNLOAD_OBJECT_GROUP, &id, 4);
  polls(3);
  EXPECT_EQ(client_->message_type(), ZTRipc_NO_VALUE);
  ASSERT_EQ(server_->state().refusals.size(), 2u);
  EXPECT_NE(server_->state().refusals[0].find("object group 9 does not exist"), std::string::npos);
  EXPECT_NE(server_->state().refusals[1].find("no valid object group"), std::string::npos);
  EXPECT_EQ(server_->state().groups.size(), 2u);
}

TEST_F(HostServerTest, CompletionFollowsTheAcceptanceOnlyOnceTheClientStopsRewriting) {
  VolumePtr volume(ZTR_NewSingleChannelRawVolumeData(std::array<int32_t, 3>{3, 1, 1}.data(), ZTR_TYPE_INT8, 0));
  static_cast<int8_t*>(volume->data[0])[2] = -4;
  std::vector<uint8_t> bytes(ZTR_GetSerializedRawVolumeDataSize(volume.get()));
  ZTR_SerializeRawVolumeData(volume.get(), bytes.data());
  SharedMemory board = client_->make_data_board(bytes.data(), bytes.size());

  client_->write(ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS);
  polls(2);
  EXPECT_EQ(client_->accepted(), ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS);
  EXPECT_EQ(server_->state().volume->header->x, 3);
  // The client keeps writing for a while: the acceptance stays.
  for (int i = 0; i < 5; ++i) {
    client_->write(ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS);
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    polls(1);
    EXPECT_EQ(client_->message_type(), ZTRipc_MESSAGE_TYPE_REQUEST_ACCEPTED);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  polls(1);
  EXPECT_EQ(client_->message_type(), ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED);
  // A client that missed the acceptance writes again and sees it again, then the completion.
  client_->write(ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS);
  polls(1);
  EXPECT_EQ(client_->message_type(), ZTRipc_MESSAGE_TYPE_REQUEST_ACCEPTED);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  polls(1);
  EXPECT_EQ(client_->message_type(), ZTRipc_MESSAGE_TYPE_DATA_DOWNLOAD_COMPLETED);
  EXPECT_EQ(server_->state().answered[ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS], 1);
  EXPECT_EQ(static_cast<int8_t*>(server_->state().volume->data[0])[2], -4);

  // The same request through a new data board is a new transfer.
  board.close();
  static_cast<int8_t*>(volume->data[0])[2] = 9;
  ZTR_SerializeRawVolumeData(volume.get(), bytes.data());
  SharedMemory second = client_->make_data_board(bytes.data(), bytes.size());
  client_->write(ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS);
  polls(3);
  EXPECT_EQ(server_->state().answered[ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS], 2);
  EXPECT_EQ(static_cast<int8_t*>(server_->state().volume->data[0])[2], 9);
}

TEST_F(HostServerTest, UploadFillsTheDataBoardUntilTheClientAsksToCloseIt) {
  client_->write(ZTRipc_REQUEST_TYPE_UPLOAD_VOLUMEDATA);
  polls(3);
  EXPECT_EQ(client_->message_type(), ZTRipc_MESSAGE_TYPE_DATA_UPLOAD_COMPLETED);
  const std::string data_name = ZTRipc_ComposeBoardName(ZTRipc_DATA_BOARD_BASE, number_);
  SharedMemory board = SharedMemory::open(data_name);
  ASSERT_TRUE(board);
  EXPECT_EQ(board.size(), 16 + 8 + 8);  // one 2x2x2 unsigned 8-bit channel
  board.close();
  client_->write(ZTRipc_REQUEST_TYPE_CLOSE_DATABOARD);
  polls(3);
  EXPECT_EQ(client_->accepted(), ZTRipc_REQUEST_TYPE_CLOSE_DATABOARD);
  EXPECT_FALSE(SharedMemory::exists(data_name));
}

TEST_F(HostServerTest, AVolumeReplacedWhileLockedArrivesAtTheUnlock) {
  client_->write(ZTRipc_REQUEST_TYPE_LOCK_VOLUMEDATA);
  polls(3);
  const int32_t dims[3] = {5, 1, 1};
  server_->replace_volume(VolumePtr(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, 0)));
  EXPECT_EQ(server_->state().volume->header->x, 2);
  client_->write(ZTRipc_REQUEST_TYPE_UNLOCK_VOLUMEDATA);
  polls(3);
  EXPECT_EQ(server_->state().volume->header->x, 5);
}

TEST_F(HostServerTest, InvalidVoxelSizesAreRefused) {
  const float values[2] = {-1.0f, std::numeric_limits<float>::quiet_NaN()};
  for (float v : values) {
    client_->write(ZTRipc_REQUEST_TYPE_SET_VOXEL_SIZE, &v, 4);
    polls(3);
  }
  EXPECT_TRUE(server_->state().voxel_size_requests.empty());
  EXPECT_EQ(server_->state().voxel_size, 1.0f);
  EXPECT_EQ(server_->state().refusals.size(), 2u);
}

}  // namespace

namespace {

using ztr::host::HostLock;

TEST(HostLockTest, OneHolderPerNumberUntilItLetsGoAndThenTheObjectIsGone) {
  const ztr::test::ClientNumber claim = ztr::test::reserve_client_number();
  const int32_t number = claim.value();
  const std::string path = "/dev/shm/" + HostLock::name(number);
  std::string error;
  HostLock first = HostLock::acquire(number, &error);
  ASSERT_TRUE(first.held()) << error;
  EXPECT_EQ(::access(path.c_str(), F_OK), 0);

  HostLock second = HostLock::acquire(number, &error);
  EXPECT_FALSE(second.held());
  EXPECT_EQ(error, "client number " + std::to_string(number) + " is already served by another host");

  HostLock other = HostLock::acquire(number + 1, &error);  // another number is another lock
  EXPECT_TRUE(other.held()) << error;

  first.release();
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
  HostLock third = HostLock::acquire(number, &error);
  EXPECT_TRUE(third.held()) << error;
}

TEST(HostLockTest, LockObjectOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make an object of another user";
  const ztr::test::ClientNumber claim = ztr::test::reserve_client_number();
  const int32_t number = claim.value();
  const std::string path = "/dev/shm/" + HostLock::name(number);
  const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fchown(fd, 65534, 65534), 0);
  ::close(fd);
  std::string error;
  HostLock lock = HostLock::acquire(number, &error);
  EXPECT_FALSE(lock.held());
  EXPECT_EQ(error, "the host lock " + HostLock::name(number) + " belongs to another user");
  EXPECT_EQ(::access(path.c_str(), F_OK), 0);  // not removed
  ::unlink(path.c_str());
}

TEST_F(HostServerTest, AVolumeThatDiffersOnlyInAChannelAttributeReplacesTheHostsVolume) {
  // Same header and type as the host's 2x2x2 unsigned 8-bit channel, attribute 2 instead of 0:
  // copying the voxels over the old channel in place would keep the old attribute.
  const int32_t dims[3] = {2, 2, 2};
  VolumePtr sent(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, ZTR_ATTRIBUTE_RGBA));
  for (int i = 0; i < 8; ++i) ZTR_ChannelData<uint8_t>(sent.get(), 0)[i] = uint8_t(10 + i);
  std::vector<uint8_t> image(ZTR_GetSerializedRawVolumeDataSize(sent.get()));
  ASSERT_EQ(ZTR_SerializeRawVolumeData(sent.get(), image.data()), 0);
  SharedMemory board = client_->make_data_board(image.data(), image.size());
  client_->write(ZTRipc_REQUEST_TYPE_DOWNLOAD_ALL_CHANNELS);
  polls(3);
  const RawVolumeData* held = server_->state().volume.get();
  ASSERT_TRUE(held);
  EXPECT_EQ(held->attributes[0], ZTR_ATTRIBUTE_RGBA);
  EXPECT_EQ(ZTR_ChannelData<uint8_t>(held, 0)[7], 17);
}

}  // namespace
