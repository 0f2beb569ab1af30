// Contiguous work split and the worker/reporter thread runner of the long computations.
#include "sdk/volume/slab_runner.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

int split_work(int n, int k, int* sizes) {
  if (n <= 0 || k <= 0 || !sizes) return 0;
  if (n <= k) {
    for (int i = 0; i < n; ++i) sizes[i] = 1;
    return n;
  }
  const int q = n / k;
  if (q * k == n) {
    for (int i = 0; i < k; ++i) sizes[i] = q;
    return k;
  }
  const int m = n / (q + 1);
  if ((q + 1) * m == n) {
    for (int i = 0; i < m; ++i) sizes[i] = q + 1;
    return m;
  }
  // m+1 parts: the last r have q items, the others q+1. (q+1)(m+1) - n lies in 1 .. q, and
  // m+1 <= k because n > q*k, so the parts fit the caller's k entries.
  const int r = (q + 1) * (m + 1) - n;
  for (int i = 0; i < m + 1; ++i) sizes[i] = (i < m + 1 - r) ? q + 1 : q;
  return m + 1;
}

std::vector<int> split_work(int n, int k) {
  if (n <= 0 || k <= 0) return {};
  std::vector<int> sizes(static_cast<size_t>(n < k ? n : k));
  sizes.resize(static_cast<size_t>(split_work(n, k, sizes.data())));
  return sizes;
}

namespace {

int percent_of(long long done, long long total) {
  return total > 0 ? static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 100.0)
                   : 100;
}

}  // namespace

int run_split_work(int items, int threads, const std::function<void(const WorkPart&)>& body,
                   const WorkRunOptions& options) {
  std::FILE* console = options.console ? options.console : stderr;
  const std::vector<int> sizes = split_work(items, threads);
  const int parts = static_cast<int>(sizes.size());
  // Each counter lives on its own cache line so that workers do not slow each other down.
  struct alignas(64) Counter {
    std::atomic<int> value{0};
  };
  std::unique_ptr<Counter[]> done(new (std::nothrow) Counter[parts > 0 ? parts : 1]);
  if (!done) return 0;

  // Parts that have ended, so that whoever follows the progress wakes the moment the last one
  // ends instead of at its next look.
  struct Finished {
    std::mutex mutex;
    std::condition_variable changed;
    int parts = 0;
    void add() {
      {
        std::lock_guard<std::mutex> lock(mutex);
        ++parts;
      }
      changed.notify_all();
    }
  } finished;

  std::vector<std::thread> workers;
  std::vector<int> started_parts;
  try {
    workers.reserve(static_cast<size_t>(parts));
    started_parts.reserve(static_cast<size_t>(parts));
  } catch (...) {
    return 0;
  }
  std::vector<WorkPart> unstarted;
  try {
    if (options.run_unstarted_parts_here) unstarted.reserve(static_cast<size_t>(parts));
  } catch (...) {
    return 0;
  }
  long long total = 0;
  int first = 0;
  for (int p = 0; p < parts; ++p) {
    const WorkPart part{first, sizes[static_cast<size_t>(p)], &done[p].value, p};
    first += part.count;
    int error = options.start_failure ? options.start_failure(p) : 0;
    if (error == 0) {
      try {
        // A part whose worker gives up early still counts as finished, so that the
        // reporter always ends.
        workers.emplace_back([&body, &finished, part] {
          body(part);
          part.done->store(part.count, std::memory_order_relaxed);
          finished.add();
        });
        started_parts.push_back(p);
        total += part.count;
        continue;
      } catch (const std::system_error& e) {
        error = e.code().value();
      } catch (...) {
        error = -1;
      }
    }
    std::fprintf(console, "Warning: thread creation err (%d)\n", error);
    if (options.run_unstarted_parts_here) {
      unstarted.push_back(part);
      total += part.count;
    }
  }

  // Items done so far, from the counters the workers update; only reads.
  auto items_done = [&done, &started_parts, &unstarted] {
    long long sum = 0;
    for (int p : started_parts) sum += done[p].value.load(std::memory_order_relaxed);
    for (const WorkPart& part : unstarted) sum += part.done->load(std::memory_order_relaxed);
    return sum;
  };
  // Calls show(percent) whenever the figure moves, every `period`, until every item is done.
  const int running = static_cast<int>(started_parts.size() + unstarted.size());
  auto follow_progress = [&items_done, &finished, running, total](
                             const std::function<void(int)>& show, std::chrono::milliseconds period) {
    int shown = -1;
    for (;;) {
      const long long sum = items_done();
      const int percent = percent_of(sum, total);
      if (percent != shown) {
        show(percent);
        shown = percent;
      }
      if (sum >= total) return;
      std::unique_lock<std::mutex> lock(finished.mutex);
      finished.changed.wait_for(lock, period, [&finished, running] { return finished.parts >= running; });
    }
  };

  std::thread reporter;
  if (parts > 1 && options.progress_format && (!started_parts.empty() || !unstarted.empty())) {
    const char* format = options.progress_format;
    // Reprint only when the figure moves: the line is the same, the console is not flooded
    // and the workers keep the processor.
    auto report = [&follow_progress, format, console] {
      follow_progress([format, console](int percent) {
        std::fprintf(console, format, percent);
        std::fflush(console);
      }, std::chrono::milliseconds(20));
    };
    try {
      reporter = std::thread(report);
    } catch (const std::system_error& e) {
      std::fprintf(console, "Warning: thread creation err (%d)\n", e.code().value());
    } catch (...) {
    }
  }

  for (const WorkPart& part : unstarted) {
    body(part);
    part.done->store(part.count, std::memory_order_relaxed);
    finished.add();
  }
  if (options.on_progress && !started_parts.empty()) {
    follow_progress(options.on_progress, std::chrono::milliseconds(100));
  }
  for (auto& t : workers) t.join();
  if (reporter.joinable()) reporter.join();
  if (options.progress_format) std::fprintf(console, "\n");
  return static_cast<int>(started_parts.size() + unstarted.size());
}
