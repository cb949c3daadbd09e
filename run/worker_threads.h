// The worker threads of the workflow. The window thread starts them and never
// waits for one, except at the end, when it asks them to stop and joins them
// before anything they use is released.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace korvane {

class WorkerThreads {
 public:
  WorkerThreads() = default;
  ~WorkerThreads() { JoinAll(); }
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;

  // Starts body on a new thread; threads that have finished are joined first.
  // Nothing the body throws leaves its thread.
  void Start(std::function<void()> body);
  // True while a started body has not returned.
  bool AnyRunning() const;
  // Joins every thread; the caller has asked them to stop beforehand.
  void JoinAll();

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void ReapFinished();

  mutable std::mutex mutex_;
  std::vector<Worker> workers_;
};

}  // namespace korvane
