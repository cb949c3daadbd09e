// The millisecond clock and sleeps that pacing and time-outs are measured by.
#pragma once

#include <chrono>
#include <cstdint>

namespace korvane {

// A monotonic clock finer than a millisecond: what a message is held by.
using PreciseClock = std::chrono::steady_clock;

// Sleeps one millisecond, or less when the deadline comes sooner; returns at
// once when it has passed. Called in a loop, it never sleeps past the deadline
// by more than one sleep's own lateness.
void SleepTowards(PreciseClock::time_point deadline);

// Milliseconds on a monotonic clock, wrapping at 2^32 like timeGetTime.
std::uint32_t timeGetTime();

// Sleeps for at least the given number of milliseconds.
void SleepMs(std::uint32_t milliseconds);

}  // namespace korvane
