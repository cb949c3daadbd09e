#include "update/pacing.h"

#include "midi/clock.h"

namespace korvane {

void HoldMessage(std::size_t length) {
  const std::uint32_t hold = PacingMs(length);
  if (hold == 0)
    return;
  // The clock ticks in whole milliseconds and t0 may have been read just
  // before a tick, so one tick more is waited for: the message is then held
  // at least the full time. Differences of unsigned readings stay right when
  // the clock wraps.
  const std::uint32_t t0 = timeGetTime();
  while (timeGetTime() - t0 <= hold)
    SleepMs(1);
}

}  // namespace korvane
