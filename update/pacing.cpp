#include "update/pacing.h"

#include "midi/clock.h"

namespace korvane {

void HoldMessage(std::size_t length) {
  // Measured on a clock finer than a millisecond, so the message is held its
  // time exactly: a whole-millisecond clock would have to wait one tick more to
  // be sure of never holding it less.
  SleepUntil(PreciseClock::now() + std::chrono::milliseconds(PacingMs(length)));
}

}  // namespace korvane
