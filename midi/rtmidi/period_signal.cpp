#include "midi/rtmidi/period_signal.h"

#include <cerrno>
#include <ctime>

namespace korvane::rtmidi_backend {

#if defined(__linux__)

PeriodSignal::PeriodSignal() {
  sem_init(&semaphore_, 0, 0);
}

PeriodSignal::~PeriodSignal() {
  sem_destroy(&semaphore_);
}

void PeriodSignal::Post() noexcept {
  sem_post(&semaphore_);
}

bool PeriodSignal::WaitUntil(Deadline deadline) noexcept {
  // steady_clock is CLOCK_MONOTONIC here.
  const auto since = deadline.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
  timespec at{};
  at.tv_sec = static_cast<std::time_t>(seconds.count());
  at.tv_nsec = static_cast<long>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
  while (sem_clockwait(&semaphore_, CLOCK_MONOTONIC, &at) != 0) {
    if (errno != EINTR)
      return false;
  }
  return true;
}

#else

PeriodSignal::PeriodSignal() = default;
PeriodSignal::~PeriodSignal() = default;

void PeriodSignal::Post() noexcept {
  semaphore_.release();
}

bool PeriodSignal::WaitUntil(Deadline deadline) noexcept {
  return semaphore_.try_acquire_until(deadline);
}

#endif

}  // namespace korvane::rtmidi_backend
