// A few threads that do the waiting part of image cells (the source check,
// the probe, the copy) for several cells at once, while the job settles the
// cells in row order on its own thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "image/image.h"

namespace orlenta {

/// Runs placements on `threads` threads. Placements given under one group
/// key run one after another, in the order given; groups run side by side.
/// With 0 threads every placement runs at once, inside Submit.
class CellPool {
 public:
  explicit CellPool(unsigned threads);
  CellPool(const CellPool&) = delete;
  CellPool& operator=(const CellPool&) = delete;
  /// Lets the running placements end and drops those not yet started.
  ~CellPool();

  /// The placement's result, or the exception that left it, when it has run.
  std::future<Placement> Submit(const std::u16string& group, std::function<Placement()> place);

 private:
  struct Group {
    std::u16string key;
    std::deque<std::packaged_task<Placement()>> waiting;
    bool running = false;
  };
  void Work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::unordered_map<std::u16string, std::unique_ptr<Group>> groups_;  // with work waiting or running
  std::deque<Group*> ready_;  // waiting work, none running
  // Tasks that have run go back to the job's thread, which releases them:
  // an exception that a placement threw is then freed on the thread that
  // read it (the C++ runtime counts its owners out of ThreadSanitizer's sight).
  std::vector<std::packaged_task<Placement()>> ran_;
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace orlenta
