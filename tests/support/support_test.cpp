// The shared test support: claims that exclude each other, folders that go, deadlines that hold.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>

#include "tests/support/child_process.h"
#include "tests/support/client_number.h"
#include "tests/support/console_capture.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using namespace ztr::test;

TEST(ClientNumbers, HeldNumbersAreNeverHandedOutTwice) {
  std::vector<ClientNumber> held;
  std::set<int32_t> seen;
  for (int i = 0; i < 20; ++i) {
    held.push_back(reserve_client_number());
    ASSERT_GE(held.back().value(), kFirstTestClient);
    ASSERT_LE(held.back().value(), kLastTestClient);
    EXPECT_TRUE(seen.insert(held.back().value()).second) << held.back().value();
  }
}

TEST(ClientNumbers, AnotherProcessCannotClaimAHeldNumber) {
  const TempDir dir("client_number");
  const ClientNumber mine = reserve_client_number();
  ASSERT_NE(mine.value(), 0);
  // flock(1) -n fails with status 1 when the lock is held elsewhere.
  const RunResult r = run_program({"/usr/bin/flock", "-n", client_lock_path(mine), "true"},
                                  dir / "flock", 30s);
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.exit_code, 1) << r.err;
}

TEST(ClientNumbers, AReleasedNumberCanBeClaimedAgain) {
  const TempDir dir("client_number");
  int32_t number = 0;
  {
    const ClientNumber mine = reserve_client_number();
    number = mine.value();
  }
  const RunResult r =
      run_program({"/usr/bin/flock", "-n", client_lock_path(number), "true"}, dir / "flock", 30s);
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST(TempDirs, ALabelWithASlashMakesOneFolderThatIsRemovedWithItsContents) {
  std::filesystem::path made;
  {
    const TempDir dir("Suite/Case");
    made = dir.path();
    ASSERT_FALSE(made.empty());
    EXPECT_EQ(made.parent_path(), std::filesystem::temp_directory_path());
    std::filesystem::create_directories(dir / "a/b");
    std::FILE* f = std::fopen((dir / "a/b/c.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  EXPECT_FALSE(std::filesystem::exists(made));
}

TEST(ChildProcesses, AProgramThatOutlivesItsDeadlineIsKilledAndReportedUnfinished) {
  const TempDir dir("child");
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = run_program({"/bin/sleep", "30"}, dir / "sleep", 200ms);
  EXPECT_FALSE(r.finished);
  EXPECT_EQ(r.exit_code, -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(ChildProcesses, OutputAndExitCodeAreKept) {
  const TempDir dir("child");
  const RunResult r =
      run_program({"/bin/sh", "-c", "echo out; echo err >&2; exit 3"}, dir / "sh", 30s);
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.out, "out\n");
  EXPECT_EQ(r.err, "err\n");
}

TEST(ChildProcesses, StandardInputReachesTheChild) {
  const TempDir dir("child");
  ChildProcess cat({"/bin/cat"}, dir / "cat", /*pipe_stdin=*/true);
  cat.write_stdin("line\n");
  cat.close_stdin();
  EXPECT_EQ(cat.exit_code(30s), 0);
  EXPECT_EQ(cat.out(), "line\n");
}

TEST(ConsoleCaptures, KeepWhatWasWrittenToStandardErrorAndGiveTheDescriptorBack) {
  ConsoleCapture outer;
  {
    ConsoleCapture inner;
    std::fprintf(stderr, "inner\n");
    EXPECT_EQ(inner.finish(), "inner\n");
  }
  std::fprintf(stderr, "outer\n");
  EXPECT_EQ(outer.finish(), "outer\n");
}

}  // namespace
