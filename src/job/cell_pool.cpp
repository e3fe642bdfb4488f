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

std::future<Placement> CellPool::Submit(const std::u16string& group,
                                        std::function<Placement()> place) {
  std::packaged_task<Placement()> task(std::move(place));
  std::future<Placement> result = task.get_future();
  if (threads_.empty()) {
    task();
    return result;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ran_.clear();
    std::unique_ptr<Group>& slot = groups_[group];
    if (!slot) {
      slot = std::make_unique<Group>();
      slot->key = group;
    }
    slot->waiting.push_back(std::move(task));
    if (!slot->running && slot->waiting.size() == 1) ready_.push_back(slot.get());
  }
  wake_.notify_one();
  return result;
}

void CellPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return ending_ || !ready_.empty(); });
    if (ending_) return;
    Group* group = ready_.front();
    ready_.pop_front();
    std::packaged_task<Placement()> task = std::move(group->waiting.front());
    group->waiting.pop_front();
    group->running = true;
    lock.unlock();
    task();  // keeps what the placement returned or threw for its future
    lock.lock();
    ran_.push_back(std::move(task));
    group->running = false;
    if (group->waiting.empty()) groups_.erase(group->key);
    else ready_.push_back(group);
  }
}

}  // namespace orlenta
