#include "midi/clock.h"

#include <chrono>
#include <thread>

namespace korvane {

std::uint32_t timeGetTime() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SleepUntil(PreciseClock::time_point deadline) {
  // An absolute wait: a wake-up that comes early sleeps again for what is left.
  while (PreciseClock::now() < deadline)
    std::this_thread::sleep_until(deadline);
}

void SleepMs(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace korvane
