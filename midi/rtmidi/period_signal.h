// Wakes the threads waiting for the JACK process thread's next period. The
// process thread posts without taking a lock; a waiter sleeps in the kernel
// until a post or its deadline. std::counting_semaphore's timed wait would
// do, but libstdc++ 12 backs off in sleeps of up to 64 ms instead of
// sleeping until woken, so a wait could overshoot by that much.
#pragma once

#include <chrono>

#if defined(__linux__)
#include <semaphore.h>
#else
#include <semaphore>
#endif

namespace korvane::rtmidi_backend {

class PeriodSignal {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  PeriodSignal();
  ~PeriodSignal();
  PeriodSignal(const PeriodSignal&) = delete;
  PeriodSignal& operator=(const PeriodSignal&) = delete;

  // Wakes one waiter, now or when it next waits. Safe on the process thread.
  void Post() noexcept;
  // False when the deadline came first.
  bool WaitUntil(Deadline deadline) noexcept;

 private:
#if defined(__linux__)
  sem_t semaphore_;
#else
  std::counting_semaphore<> semaphore_{0};
#endif
};

}  // namespace korvane::rtmidi_backend
