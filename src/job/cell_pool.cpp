#include "job/cell_pool.h"

namespace orlenta {

CellPool::CellPool(unsigned threads) {
  threads_.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

CellPool::~CellPool() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

std::future<Placement> CellPool::Submit(std::uint64_t group, Task task) {
  std::future<Placement> result = task.get_future();
  if (threads_.empty()) {
    task();
    return result;
  }
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ran_.clear();
    Group& slot = groups_[group];
    slot.waiting.push_back(std::move(task));
    if (!slot.running && slot.waiting.size() - slot.next == 1) ready_.push_back(group);
    // A thread that is running takes the next placement itself once done:
    // another is woken only when more wait than that, so quick placements
    // do not pay for a thread's wake-up each.
    wake = ready_.size() > (running_ > 0 ? 1 : 0);
  }
  if (wake) wake_.notify_one();
  return result;
}

void CellPool::RunNext(std::unique_lock<std::mutex>& lock) {
  const std::uint64_t key = ready_.front();
  ready_.pop_front();
  Group& group = groups_.find(key)->second;  // nodes stay put while others come and go
  Task task = std::move(group.waiting[group.next++]);
  group.running = true;
  ++running_;
  lock.unlock();
  task();  // keeps what the placement returned or threw for its future
  lock.lock();
  --running_;
  ran_.push_back(std::move(task));
  group.running = false;
  if (group.next == group.waiting.size()) {
    groups_.erase(key);
    return;
  }
  if (group.next >= 64) {  // a group that never runs dry (one image on every row) keeps what waits
    group.waiting.erase(group.waiting.begin(), group.waiting.begin() + static_cast<std::ptrdiff_t>(group.next));
    group.next = 0;
  }
  ready_.push_back(key);
}

void CellPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return ending_ || !ready_.empty(); });
    if (ending_) return;
    RunNext(lock);
  }
}

void CellPool::Await(std::future<Placement>& placement) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!ready_.empty() && placement.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
    RunNext(lock);
}

}  // namespace orlenta
