// The millisecond clock and sleeps that pacing and time-outs are measured by.
#pragma once

#include <chrono>
#include <cstdint>

namespace korvane {

// A monotonic clock finer than a millisecond: what a message is held by.
using PreciseClock = std::chrono::steady_clock;

// Sleeps until the deadline in one wait (the system wakes it once, not every
// millisecond); returns at once when it has passed.
void SleepUntil(PreciseClock::time_point deadline);

// Milliseconds on a monotonic clock, wrapping at 2^32 like timeGetTime.
std::uint32_t timeGetTime();

// Sleeps for at least the given number of milliseconds.
void SleepMs(std::uint32_t milliseconds);

}  // namespace korvane
