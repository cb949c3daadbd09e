#include "update/pacing.h"

#include "midi/clock.h"

namespace korvane {

void HoldMessage(std::size_t length) {
  // Measured on a clock finer than a millisecond, so the message is held its
  // time exactly: a whole-millisecond clock would have to wait one tick more to
  // be sure of never holding it less. The sleeps stay 1 ms steps, the last one
  // cut to what is left.
  const PreciseClock::time_point deadline =
      PreciseClock::now() + std::chrono::milliseconds(PacingMs(length));
  while (PreciseClock::now() < deadline)
    SleepTowards(deadline);
}

}  // namespace korvane
