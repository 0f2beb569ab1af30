// Named shared-memory handles: creation, sizes, bounded access and lifetime.
#include "sdk/ipc/shared_memory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <vector>

using ztr::ipc::SharedMemory;

namespace {

std::string unique_board(const char* tag) {
  return std::string("ZTR_TEST_") + tag + "(" + std::to_string(getpid()) + ")";
}

}  // namespace

TEST(SharedMemory, BoardNameMapsToARootedObjectName) {
  EXPECT_EQ(ztr::ipc::shm_object_name("ZTR_IPC_RB(0003)"), "/ZTR_IPC_RB(0003)");
}

TEST(SharedMemory, CreatedBoardHasExactSizeAndOwnerOnlyAccess) {
  const std::string name = unique_board("size");
  SharedMemory board = SharedMemory::create(name, 1234);
  ASSERT_TRUE(board.valid());
  EXPECT_TRUE(board.is_creator());
  EXPECT_EQ(board.size(), 1234);
  struct stat st {};
  ASSERT_EQ(stat(("/dev/shm/" + name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SharedMemory, OpenedBoardSeesTheCreatorsBytes) {
  const std::string name = unique_board("bytes");
  SharedMemory creator = SharedMemory::create(name, 64);
  SharedMemory opener = SharedMemory::open(name);
  ASSERT_TRUE(opener.valid());
  EXPECT_FALSE(opener.is_creator());
  const int value = 0x12345678;
  ASSERT_EQ(creator.write(60, &value, 4), 0);
  int back = 0;
  ASSERT_EQ(opener.read(60, &back, 4), 0);
  EXPECT_EQ(back, value);
}

TEST(SharedMemory, AccessBeyondTheRealSizeIsRefused) {
  SharedMemory board = SharedMemory::create(unique_board("bounds"), 16);
  char bytes[32] = {};
  EXPECT_EQ(board.read(0, bytes, 17), -1);
  EXPECT_EQ(board.read(16, bytes, 1), -1);
  EXPECT_EQ(board.write(8, bytes, 9), -1);
  EXPECT_EQ(board.read(SIZE_MAX, bytes, 2), -1);
  EXPECT_EQ(board.read(8, bytes, 8), 0);
}

TEST(SharedMemory, CreatorRemovesTheBoardWhenItCloses) {
  const std::string name = unique_board("creator");
  SharedMemory creator = SharedMemory::create(name, 8);
  {
    SharedMemory opener = SharedMemory::open(name);
    ASSERT_TRUE(opener.valid());
    EXPECT_EQ(opener.close(), 0);
  }
  EXPECT_TRUE(SharedMemory::exists(name));  // an opener's close leaves it in place
  EXPECT_EQ(creator.close(), 0);
  EXPECT_FALSE(SharedMemory::exists(name));
  EXPECT_EQ(creator.close(), 0);  // closing twice is harmless
}

TEST(SharedMemory, CreationReplacesAStaleBoard) {
  const std::string name = unique_board("stale");
  SharedMemory stale = SharedMemory::create(name, 100);
  SharedMemory fresh = SharedMemory::create(name, 10);
  ASSERT_TRUE(fresh.valid());
  EXPECT_EQ(SharedMemory::open(name).size(), 10);
  fresh.close();
  EXPECT_FALSE(SharedMemory::exists(name));
}

TEST(SharedMemory, MissingBoardCannotBeOpened) {
  SharedMemory board = SharedMemory::open(unique_board("missing"));
  EXPECT_FALSE(board.valid());
  EXPECT_EQ(board.size(), -1);
  EXPECT_FALSE(board.map().valid());
  int value = 0;
  EXPECT_EQ(board.read(0, &value, 4), -1);
}

TEST(SharedMemory, MovedHandleKeepsOwnership) {
  const std::string name = unique_board("move");
  SharedMemory moved;
  {
    SharedMemory creator = SharedMemory::create(name, 8);
    moved = std::move(creator);
    EXPECT_FALSE(creator.valid());
  }
  EXPECT_TRUE(SharedMemory::exists(name));  // the moved-from handle's destructor did nothing
  EXPECT_TRUE(moved.is_creator());
  moved.close();
  EXPECT_FALSE(SharedMemory::exists(name));
}

TEST(SharedMemory, StaleCreatorLeavesTheNameToTheBoardThatReplacedIt) {
  const std::string name = unique_board("owner");
  SharedMemory stale = SharedMemory::create(name, 100);
  SharedMemory fresh = SharedMemory::create(name, 10);
  EXPECT_FALSE(stale.still_named());
  EXPECT_TRUE(fresh.still_named());
  EXPECT_EQ(stale.close(), 0);  // not its name any more: nothing is unlinked
  EXPECT_TRUE(SharedMemory::exists(name));
  EXPECT_TRUE(fresh.still_named());
  fresh.close();
  EXPECT_FALSE(SharedMemory::exists(name));
}

TEST(SharedMemory, BoardShrunkByAPeerGivesRefusedAccessesInsteadOfAFault) {
  const std::string name = unique_board("shrunk");
  SharedMemory creator = SharedMemory::create(name, 8192);
  SharedMemory peer = SharedMemory::open(name);
  ASSERT_TRUE(peer.valid());
  const int fd = shm_open(("/" + name).c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 100), 0);
  std::vector<char> bytes(8192);
  EXPECT_EQ(peer.read(0, bytes.data(), bytes.size()), -1);
  EXPECT_EQ(peer.read(4096, bytes.data(), 4), -1);
  EXPECT_EQ(peer.read(96, bytes.data(), 4), 0);
  EXPECT_EQ(peer.write(4096, bytes.data(), 4), -1);
  EXPECT_EQ(peer.size(), 100);  // a refused write does not grow the board
  std::vector<std::byte> all;
  EXPECT_TRUE(peer.read_all(&all, 1000));
  EXPECT_EQ(all.size(), 100u);
  EXPECT_FALSE(peer.read_all(&all, 99));  // larger than the reader's bound
  EXPECT_TRUE(all.empty());
  ::close(fd);
}

TEST(SharedMemory, NameHeldByAnotherUserIsRefusedAndNotRemoved) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make an object of another user";
  const std::string name = unique_board("squat");
  const int fd = shm_open(("/" + name).c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fchown(fd, 65534, 65534), 0);
  ::close(fd);
  std::string why;
  SharedMemory board = SharedMemory::create(name, 64, &why);
  EXPECT_FALSE(board.valid());
  EXPECT_EQ(why, "board " + name + " belongs to user 65534");
  EXPECT_TRUE(SharedMemory::exists(name));
  SharedMemory::unlink(name);
}
