// The millisecond clock and sleeps that pacing and time-outs are measured by.
#pragma once

#include <cstdint>

namespace korvane {

// Milliseconds on a monotonic clock, wrapping at 2^32 like timeGetTime.
std::uint32_t timeGetTime();

// Sleeps for at least the given number of milliseconds.
void SleepMs(std::uint32_t milliseconds);

}  // namespace korvane
