// The shared work split and the worker/reporter runner.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "analyzer/dti/split_work.h"
#include "tests/support/console_capture.h"

TEST(SplitWork, FewerItemsThanPartsGivesOneItemEach) {
  EXPECT_EQ(split_work(3, 8), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(split_work(1, 1), (std::vector<int>{1}));
}

TEST(SplitWork, EvenDivisionGivesEqualParts) {
  EXPECT_EQ(split_work(12, 4), (std::vector<int>{3, 3, 3, 3}));
  EXPECT_EQ(split_work(60, 2), (std::vector<int>{30, 30}));
}

TEST(SplitWork, NineItemsOnFourWorkersGiveThreePartsOfThree) {
  // q = 2, m = 9 / 3 = 3 and 3 x 3 = 9.
  EXPECT_EQ(split_work(9, 4), (std::vector<int>{3, 3, 3}));
}

TEST(SplitWork, RemainderGoesToShorterLastParts) {
  // 10 on 4: q = 2, m = 10 / 3 = 3, 3 x 3 != 10, r = 3 x 4 - 10 = 2: 3, 3, 2, 2.
  EXPECT_EQ(split_work(10, 4), (std::vector<int>{3, 3, 2, 2}));
  // 7 on 3: q = 2, m = 7 / 3 = 2, r = 3 x 3 - 7 = 2: 3, 2, 2.
  EXPECT_EQ(split_work(7, 3), (std::vector<int>{3, 2, 2}));
  // 24 on 5: q = 4, m = 24 / 5 = 4, r = 5 x 5 - 24 = 1: 5, 5, 5, 5, 4.
  EXPECT_EQ(split_work(24, 5), (std::vector<int>{5, 5, 5, 5, 4}));
}

TEST(SplitWork, PartsAlwaysCoverAllItemsWithinTheRequestedCount) {
  for (int n = 1; n <= 200; ++n) {
    for (int k = 1; k <= 40; ++k) {
      std::vector<int> sizes(static_cast<size_t>(std::min(n, k)), -1);
      const int parts = split_work(n, k, sizes.data());
      ASSERT_GE(parts, 1);
      ASSERT_LE(parts, k) << n << " on " << k;
      sizes.resize(static_cast<size_t>(parts));
      EXPECT_EQ(std::accumulate(sizes.begin(), sizes.end(), 0), n) << n << " on " << k;
      for (size_t i = 1; i < sizes.size(); ++i) {
        ASSERT_LE(sizes[i], sizes[i - 1]);
        ASSERT_GE(sizes[i], sizes[0] - 1);
      }
    }
  }
}

TEST(SplitWork, RefusesEmptyRequests) {
  int sizes[4] = {7, 7, 7, 7};
  EXPECT_EQ(split_work(0, 4, sizes), 0);
  EXPECT_EQ(split_work(5, 0, sizes), 0);
  EXPECT_EQ(split_work(5, 4, nullptr), 0);
  EXPECT_EQ(sizes[0], 7);
}

namespace {

using Console = ztr::test::ConsoleCapture;  // the runner prints to standard error

}  // namespace

TEST(WorkRunner, RunsEveryPartOnceOverDisjointRanges) {
  Console console;
  std::vector<std::atomic<int>> visits(9);
  WorkRunOptions options;
  options.progress_format = "\rtest %d%% completed";
  std::atomic<int> parts_seen{0};
  const int ran = run_split_work(9, 4, [&](const WorkPart& part) {
    parts_seen.fetch_add(1);
    for (int i = part.first; i < part.first + part.count; ++i) {
      visits[static_cast<size_t>(i)].fetch_add(1);
      part.done->store(i - part.first + 1, std::memory_order_relaxed);
    }
  }, options);
  EXPECT_EQ(ran, 3);  // 9 slices on 4 threads: 3 workers of 3
  EXPECT_EQ(parts_seen.load(), 3);
  for (auto& v : visits) EXPECT_EQ(v.load(), 1);
  const std::string text = console.text();
  EXPECT_NE(text.find("\rtest 100% completed"), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
}

TEST(WorkRunner, SingleWorkerHasNoReporter) {
  Console console;
  WorkRunOptions options;
  options.progress_format = "\rtest %d%% completed";
  int items = 0;
  EXPECT_EQ(run_split_work(5, 1, [&](const WorkPart& part) { items += part.count; }, options), 1);
  EXPECT_EQ(items, 5);
  EXPECT_EQ(console.text(), "\n");
}

TEST(WorkRunner, APartThatCannotStartIsSkippedAndTheReporterStillEnds) {
  Console console;
  std::vector<int> visited(8, 0);
  WorkRunOptions options;
  options.progress_format = "\rtest %d%% completed";
  options.start_failure = [](int part) { return part == 1 ? 11 : 0; };
  const int ran = run_split_work(8, 4, [&](const WorkPart& part) {
    for (int i = part.first; i < part.first + part.count; ++i) visited[static_cast<size_t>(i)] = 1;
    part.done->store(part.count, std::memory_order_relaxed);
  }, options);
  EXPECT_EQ(ran, 3);
  EXPECT_EQ(visited, (std::vector<int>{1, 1, 0, 0, 1, 1, 1, 1}));
  const std::string text = console.text();
  EXPECT_NE(text.find("Warning: thread creation err (11)\n"), std::string::npos);
  EXPECT_NE(text.find("100% completed"), std::string::npos);
}

TEST(WorkRunner, AWorkerThatGivesUpEarlyStillLetsTheReporterFinish) {
  Console console;
  WorkRunOptions options;
  options.progress_format = "\rtest %d%% completed";
  // No worker reports any progress; the runner must still return.
  EXPECT_EQ(run_split_work(6, 3, [](const WorkPart&) {}, options), 3);
  EXPECT_NE(console.text().find("100% completed"), std::string::npos);
}
