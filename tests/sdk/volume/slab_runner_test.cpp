// The slab runner's handling of parts whose thread cannot start.
#include "sdk/volume/slab_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/console_capture.h"

namespace {

// With run_unstarted_parts_here every item is still computed exactly once, on the calling
// thread for the refused parts, and the progress reaches 100 %.
TEST(SlabRunner, PartsThatCannotStartRunOnTheCallingThread) {
  struct Case {
    int items, threads;
    std::vector<int> refused;
  };
  const Case cases[] = {{8, 4, {1}}, {8, 4, {0, 1, 2, 3}}, {5, 1, {0}}, {10, 3, {2}}};
  for (const Case& c : cases) {
    std::vector<int> visits(static_cast<size_t>(c.items), 0);
    std::vector<std::thread::id> runner(static_cast<size_t>(c.items));
    WorkRunOptions options;
    options.progress_format = "\rtest %d%% completed";
    options.run_unstarted_parts_here = true;
    options.start_failure = [&c](int part) {
      for (const int r : c.refused)
        if (r == part) return 12;
      return 0;
    };
    ztr::test::ConsoleCapture console;
    const int ran = run_split_work(c.items, c.threads, [&](const WorkPart& part) {
      for (int i = part.first; i < part.first + part.count; ++i) {
        ++visits[static_cast<size_t>(i)];
        runner[static_cast<size_t>(i)] = std::this_thread::get_id();
      }
    }, options);
    const std::string text = console.finish();
    EXPECT_EQ(ran, static_cast<int>(split_work(c.items, c.threads).size())) << c.items;
    EXPECT_EQ(visits, std::vector<int>(static_cast<size_t>(c.items), 1)) << c.items;
    EXPECT_NE(text.find("Warning: thread creation err (12)\n"), std::string::npos) << text;
    if (c.threads > 1) {
      EXPECT_NE(text.find("100% completed"), std::string::npos) << text;
    }
    // The first refused part's items ran here.
    const std::vector<int> sizes = split_work(c.items, c.threads);
    int first = 0;
    for (int p = 0; p < c.refused.front(); ++p) first += sizes[static_cast<size_t>(p)];
    EXPECT_EQ(runner[static_cast<size_t>(first)], std::this_thread::get_id()) << c.items;
  }
}

TEST(SlabRunner, WithoutAProgressFormatNothingIsPrinted) {
  ztr::test::ConsoleCapture console;
  EXPECT_EQ(run_split_work(6, 3, [](const WorkPart&) {}, WorkRunOptions{}), 3);
  EXPECT_EQ(console.finish(), "");
}

// A window shows the percentage: the callback runs on the calling thread only, never goes
// back, and ends at 100 once every item is done.
TEST(SlabRunner, ProgressCallbackRunsOnTheCallingThreadUpToOneHundred) {
  std::vector<int> seen;
  std::vector<std::thread::id> callers;
  std::atomic<int> items_done{0};
  std::vector<int> done_at_call;
  WorkRunOptions options;
  options.on_progress = [&](int percent) {
    seen.push_back(percent);
    callers.push_back(std::this_thread::get_id());
    done_at_call.push_back(items_done.load());
  };
  run_split_work(12, 3, [&](const WorkPart& part) {
    for (int k = 0; k < part.count; ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      items_done.fetch_add(1);
      part.done->store(k + 1, std::memory_order_relaxed);
    }
  }, options);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 100);
  EXPECT_EQ(done_at_call.back(), 12) << "100 is reported only when every item is done";
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  for (const std::thread::id id : callers) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(SlabRunner, EveryPartKnowsItsPlaceInTheSplit) {
  std::vector<int> index_of_first(9, -1);
  run_split_work(9, 4, [&](const WorkPart& part) {
    index_of_first[static_cast<size_t>(part.first)] = part.index;
  }, WorkRunOptions{});
  EXPECT_EQ(index_of_first, (std::vector<int>{0, -1, -1, 1, -1, -1, 2, -1, -1}));
}

}  // namespace
