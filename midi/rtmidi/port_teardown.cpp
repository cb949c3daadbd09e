#include "midi/rtmidi/port_teardown.h"

#include <utility>

namespace korvane::rtmidi_backend {

PortTeardown::PortTeardown() : thread_([this] { Work(); }) {}

PortTeardown::~PortTeardown() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool PortTeardown::Run(std::function<void()> job, std::chrono::milliseconds bound) {
  std::unique_lock lock(mutex_);
  try {
    jobs_.push_back(std::move(job));  // strong guarantee: job is intact if this throws
  } catch (...) {
    lock.unlock();
    job();  // no memory for the queue: the end is done here, as it once always was
    return true;
  }
  const std::uint64_t mine = ++given_;
  changed_.notify_all();
  if (overdue_)
    return false;
  if (changed_.wait_for(lock, bound, [&] { return ended_ >= mine; }))
    return true;
  overdue_ = true;
  return false;
}

void PortTeardown::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty())
      return;  // stopping, with nothing left to end
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    try {
      job();
    } catch (...) {
      // An end that failed still counts as ended: nothing more can be done for it.
    }
    // Destroyed here, outside the lock: the last reference to a port may go with it.
    job = nullptr;
    lock.lock();
    ++ended_;
    if (jobs_.empty())
      overdue_ = false;
    changed_.notify_all();
  }
}

}  // namespace korvane::rtmidi_backend
