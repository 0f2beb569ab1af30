// The work split shared by every multi-threaded computation (DTI maps, minimization, rank
// filters), and the one runner that starts a worker per slab plus a console progress reporter.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <vector>

// Splits n items into at most k contiguous parts and writes the part sizes (in order) to
// sizes, which must hold min(n, k) entries. Returns the number of parts; 0 when n or k is
// not positive (nothing written). The result can be fewer parts than requested: 9 items on
// 4 workers give 3 parts of 3.
int split_work(int n, int k, int* sizes);
// The same as a vector of part sizes.
std::vector<int> split_work(int n, int k);

// One worker's share: items first .. first+count-1. The worker adds to `done` (relaxed
// order is enough) as items complete; the reporter only reads it.
struct WorkPart {
  int first;
  int count;
  std::atomic<int>* done;
  int index;  // the part's place in split_work's list
};

struct WorkRunOptions {
  // printf format of the progress line, with one %d for the percentage; it starts with a
  // carriage return, e.g. "\rDTI minimization %d%% completed".
  const char* progress_format = nullptr;
  std::FILE* console = stderr;
  // Lets tests refuse the start of a part as a failed thread creation would (returns the
  // error code, 0 to start normally).
  std::function<int(int part)> start_failure;
  // A part whose thread cannot start runs on the calling thread after the others have
  // started, so that its slab is computed all the same. Off: the part is skipped.
  bool run_unstarted_parts_here = false;
  // Called on the calling thread while the workers run, each time the percentage done moves
  // (at most every 100 ms), so that a window can show it and repaint; workers never call it.
  std::function<void(int percent)> on_progress;
};

// Splits `items` over `threads` workers with split_work, runs body(part) on one thread per
// part and, with more than one worker, a progress reporter; joins every thread and, with a
// progress format, prints "\n" to the console before returning. A thread that cannot be started prints
// "Warning: thread creation err (%d)\n"; its items are then skipped (the reporter counts only
// the parts that run), or computed on the calling thread with run_unstarted_parts_here.
// Returns the number of parts that ran, on a thread or here. Never throws.
int run_split_work(int items, int threads, const std::function<void(const WorkPart&)>& body,
                   const WorkRunOptions& options);
