#include "run/worker_threads.h"

#include <algorithm>

namespace korvane {

void WorkerThreads::Start(std::function<void()> body) {
  std::lock_guard lock(mutex_);
  ReapFinished();
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread thread([body = std::move(body), done] {
    try {
      body();
    } catch (...) {
      // A worker reports its failures in the log; nothing may end the program.
    }
    done->store(true, std::memory_order_release);
  });
  workers_.push_back(Worker{std::move(thread), std::move(done)});
}

bool WorkerThreads::AnyRunning() const {
  std::lock_guard lock(mutex_);
  return std::any_of(workers_.begin(), workers_.end(),
                     [](const Worker& w) { return !w.done->load(std::memory_order_acquire); });
}

void WorkerThreads::ReapFinished() {
  // A finished body makes no more window calls, so joining it cannot block.
  auto finished = std::partition(workers_.begin(), workers_.end(), [](const Worker& w) {
    return !w.done->load(std::memory_order_acquire);
  });
  for (auto it = finished; it != workers_.end(); ++it)
    it->thread.join();
  workers_.erase(finished, workers_.end());
}

void WorkerThreads::JoinAll() {
  std::vector<Worker> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(workers_);
  }
  for (Worker& w : all) {
    if (w.thread.joinable())
      w.thread.join();
  }
}

}  // namespace korvane
