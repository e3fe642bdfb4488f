// A few threads that do the waiting part of image cells (the source check,
// the probe, the copy, the write-out) for several cells at once, while the
// job settles the cells in row order on its own thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "image/image.h"

namespace orlenta {

/// Runs placements on `threads` threads. Placements given under one group
/// run one after another, in the order given; groups run side by side.
/// With 0 threads every placement runs at once, inside Submit.
class CellPool {
 public:
  using Task = std::packaged_task<Placement()>;

  explicit CellPool(unsigned threads);
  CellPool(const CellPool&) = delete;
  CellPool& operator=(const CellPool&) = delete;
  /// Lets the running placements end and drops those not yet started.
  ~CellPool();

  /// The placement's result, or the exception that left it, once it has run.
  std::future<Placement> Submit(std::uint64_t group, Task task);

  /// Until `placement` is ready, runs waiting placements on the calling
  /// thread rather than leave it asleep while the threads take turns; returns
  /// when it is ready or when none is waiting (get() then waits).
  void Await(std::future<Placement>& placement);

 private:
  struct Group {
    std::vector<Task> waiting;
    std::size_t next = 0;  // the first of `waiting` not yet run
    bool running = false;
  };
  void Work();
  void RunNext(std::unique_lock<std::mutex>& lock);  // the first ready group's next placement

  std::mutex mutex_;
  std::condition_variable wake_;
  std::unordered_map<std::uint64_t, Group> groups_;  // with work waiting or running
  std::deque<std::uint64_t> ready_;                  // waiting work, none running
  // Tasks that have run go back to the job's thread, which releases them:
  // an exception that a placement threw is then freed on the thread that
  // read it (the C++ runtime counts its owners out of ThreadSanitizer's sight).
  std::vector<Task> ran_;
  unsigned running_ = 0;  // threads inside a placement
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace orlenta
