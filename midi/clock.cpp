#include "midi/clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace korvane {

std::uint32_t timeGetTime() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SleepTowards(PreciseClock::time_point deadline) {
  const auto left = deadline - PreciseClock::now();
  if (left > PreciseClock::duration::zero())
    std::this_thread::sleep_for(
        std::min<PreciseClock::duration>(std::chrono::milliseconds(1), left));
}

void SleepMs(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace korvane
